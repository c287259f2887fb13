// The option sheets, the custom-sample-rates window and the type popup's
// resource, driven offscreen.
#include "app/option_sheets.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QUndoStack>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/custom_sample_rates_window.h"
#include "formats/mpeg/drop_mp3_file.h"
#include "dialog_test_support.h"
#include "platform/resource_dir.h"

namespace {

using dialogtest::DialogTest;

template <class T>
T* In(QDialog& sheet, const char* name) {
    T* w = sheet.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}
int Press(QDialog& sheet, const char* button) {
    In<QPushButton>(sheet, button)->click();
    return sheet.result();
}

TEST_F(DialogTest, Mp3SheetDefaultsAndTagKeys) {
    genres_ = {{"Rock", 17}, {"Blues", 0}, {"Classic Rock", 1}};
    auto spec = Open(FourCC("DMP3"));
    EXPECT_FALSE(OkEnabled());
    RunSheet([](QDialog& s) {
        EXPECT_TRUE(In<QRadioButton>(s, "titleMatrixCell0")->isChecked());
        EXPECT_FALSE(In<QLineEdit>(s, "titleTextField")->isEnabled());
        EXPECT_EQ(In<QLineEdit>(s, "titleTextField")->text(), "Title");
        EXPECT_EQ(In<QLineEdit>(s, "tagsFormCell0")->text().toStdString(), UserFullName());
        EXPECT_EQ(In<QLineEdit>(s, "tagsFormCell2")->text(), "1");
        EXPECT_EQ(In<QListWidget>(s, "genreTable")->currentItem()->text(), "Classic Rock");
        EXPECT_TRUE(In<QRadioButton>(s, "encodingModeMatrixCell0")->isChecked());
        EXPECT_FALSE(In<QComboBox>(s, "vbrQualityPopup")->isEnabled());
        EXPECT_EQ(In<QComboBox>(s, "vbrQualityPopup")->currentIndex(), 4);
        EXPECT_EQ(In<QComboBox>(s, "qualityPopup")->currentIndex(), 2);
        EXPECT_TRUE(In<QCheckBox>(s, "copyCheckbox")->isChecked());
        EXPECT_TRUE(In<QCheckBox>(s, "bitReservoirCheckbox")->isChecked());
        EXPECT_FALSE(In<QCheckBox>(s, "crcCheckbox")->isChecked());
        In<QRadioButton>(s, "encodingModeMatrixCell2")->click();
        EXPECT_TRUE(In<QComboBox>(s, "vbrQualityPopup")->isEnabled());
        return Press(s, "okButton");
    });
    EXPECT_EQ(spec->specificsValue("LAMEGenre").asInteger(), 1);
    EXPECT_EQ(spec->specificsValue("LAMEEncodingMode").asInteger(), 2);
    EXPECT_EQ(spec->specificsValue("LAMEVBRQuality").asInteger(), 4);
    EXPECT_EQ(spec->specificsValue("LAMEUseInputFileNameAsTitle").asBool(), true);
    EXPECT_TRUE(spec->specificsValid());
    EXPECT_NE(Info(), "You have to use the Encoder Options button to specify the encoder settings.");

    // Tags off: the encoder keys are written, the tag keys stay as they were.
    spec->setSpecificsValue("LAMETitle", plist::Value("Kept"));
    RunSheet([](QDialog& s) {
        In<QCheckBox>(s, "writeID3TagsCheckbox")->click();
        EXPECT_FALSE(In<QListWidget>(s, "genreTable")->isEnabled());
        In<QLineEdit>(s, "titleTextField")->setText("Lost");
        In<QComboBox>(s, "qualityPopup")->setCurrentIndex(7);
        return Press(s, "okButton");
    });
    EXPECT_EQ(spec->specificsValue("LAMETitle").asString(), "Kept");
    EXPECT_EQ(spec->specificsValue("LAMEQuality").asInteger(), 7);
    EXPECT_FALSE(spec->specificsValue("LAMEWriteID3Tags").asBool(true));

    // Without an encoder there are no genres: none selected, the number kept.
    genres_.clear();
    spec->setSpecificsValue("LAMEWriteID3Tags", plist::Value(true));
    spec->setSpecificsValue("LAMEGenre", plist::Value(13));
    RunSheet([](QDialog& s) {
        EXPECT_EQ(In<QListWidget>(s, "genreTable")->currentRow(), -1);
        return Press(s, "okButton");
    });
    EXPECT_EQ(spec->specificsValue("LAMEGenre").asInteger(), 13);
}

// The box sets the stream's copy flag: ticked it marks a copy (the encoder's
// "-o"), which is what its label must say.
TEST_F(DialogTest, Mp3CopyBoxMarksTheStreamAsACopy) {
    auto spec = Open(FourCC("DMP3"));
    auto encoderArguments = [&spec] {
        LameArgumentInputs in;
        in.options = plist::Value(spec->specifics());
        in.pcmPath = "in.pcm";
        in.outputPath = "out.mp3";
        return BuildLameArguments(in);
    };
    auto passesCopyFlag = [&] {
        const auto args = encoderArguments();
        return std::find(args.begin(), args.end(), "-o") != args.end();
    };
    for (const bool tick : {true, false}) {
        RunSheet([tick](QDialog& s) {
            auto* box = In<QCheckBox>(s, "copyCheckbox");
            EXPECT_EQ(box->text(), "Mark as copy (not original)");
            if (!tick) box->click();  // ticked when the conversion has no value yet
            EXPECT_EQ(box->isChecked(), tick);
            return Press(s, "okButton");
        });
        EXPECT_EQ(spec->specificsValue("LAMECopy").asBool(!tick), tick);
        EXPECT_EQ(passesCopyFlag(), tick);
        spec->setSpecificsValue("LAMECopy", plist::Value());
    }
}

TEST_F(DialogTest, G729SheetLayoutBytes) {
    auto spec = Open(FourCC("G729"));
    RunSheet([](QDialog& s) {
        EXPECT_TRUE(In<QRadioButton>(s, "fileFormatMatrixCell0")->isChecked());
        EXPECT_TRUE(In<QRadioButton>(s, "dataFormatMatrixCell0")->isChecked());
        EXPECT_TRUE(In<QRadioButton>(s, "headerMatrixCell0")->isChecked());
        EXPECT_FALSE(In<QWidget>(s, "dataFormatBox")->isEnabled());
        EXPECT_TRUE(In<QWidget>(s, "headerBox")->isEnabled());
        In<QRadioButton>(s, "headerMatrixCell1")->click();
        In<QRadioButton>(s, "fileFormatMatrixCell1")->click();
        EXPECT_TRUE(In<QWidget>(s, "dataFormatBox")->isEnabled());
        EXPECT_FALSE(In<QWidget>(s, "headerBox")->isEnabled());
        In<QRadioButton>(s, "dataFormatMatrixCell1")->click();
        return Press(s, "okButton");
    });
    const auto block = spec->fileTypeSpecifics();
    EXPECT_EQ(block[0], 1);
    EXPECT_EQ(block[1], 1);
    EXPECT_EQ(block[2], 1);  // a disabled matrix keeps its choice
}

TEST_F(DialogTest, AnnotationIsCutAtACharacterAndTheStereoModeReturns) {
    struct Case {
        std::string text;
        size_t stored;
    };
    std::string accented;
    for (int i = 0; i < 200; ++i) accented += "\xC3\xA9";
    const Case cases[] = {{std::string(300, 'a'), 234}, {accented, 234}, {"x" + accented, 233}};
    for (const Case& c : cases) {
        auto spec = Open(FourCC("BWMP"), [](ConvSpec& s) {
            RateAndBits(44100, 128)(s);
            s.setNeedsChannelTreat(true);
            s.setChannelTreat(1);
        });
        Activate("channelHandlingPopUp", 4);  // joint stereo
        RunSheet([&c](QDialog& s) {
            In<QPlainTextEdit>(s, "annotationTextView")->setPlainText(QString::fromStdString(c.text));
            return Press(s, "okButton");
        });
        EXPECT_EQ(spec->specificsValue("AnnotationText").asString(), c.text);
        const auto block = spec->fileTypeSpecifics();
        const char* annotation = reinterpret_cast<const char*>(block.data()) + 22;
        EXPECT_EQ(std::string(annotation, strnlen(annotation, 234)), c.text.substr(0, c.stored));
        EXPECT_EQ(std::memcmp(block.data() + 1, kMPEGJointStereoText, 20), 0);
    }
    // Without a stored text the sheet shows the block's, from offset 22.
    auto spec = Open(FourCC("BWLN"));
    {
        auto block = spec->fileTypeSpecifics();
        std::memcpy(block.data() + 22, "from block", 10);
    }
    QString shown;
    RunSheet([&shown](QDialog& s) {
        shown = In<QPlainTextEdit>(s, "annotationTextView")->toPlainText();
        return Press(s, "cancelButton");
    });
    EXPECT_EQ(shown, "from block");
}

TEST_F(DialogTest, VoiceSheetCellsAndChoice) {
    auto spec = Open(FourCC("VOC "), [](ConvSpec& s) {
        RateAndBits(8000, 8)(s);
        s.setNeedsChannelTreat(true);
        s.setChannelTreat(3);
    });
    RunSheet([](QDialog& s) {
        auto* matrix = In<QTableWidget>(s, "sampleRateMatrix");
        EXPECT_NEAR(matrix->item(0, 0)->text().toDouble(), 1000000.0 / 255, 1e-6);
        EXPECT_EQ(VOCSampleRateController::Divisor(16, 9), 50);
        EXPECT_EQ(matrix->item(16, 9)->text(), "20000");
        for (int row = 17; row < 21; ++row) EXPECT_TRUE(matrix->item(row, 9)->text().isEmpty());
        EXPECT_EQ(VOCSampleRateController::Divisor(matrix->currentRow(), matrix->currentColumn()),
                  125);
        matrix->setCurrentCell(0, 0);
        EXPECT_NEAR(In<QLineEdit>(s, "selectionTextField")->text().toDouble(), 3921.5686, 1e-3);
        return Press(s, "okButton");
    });
    EXPECT_NEAR(spec->sampleRate(), 1000000.0 / 255, 1e-6);
    ASSERT_EQ(dialog_->customSampleRates().size(), 1u);
    EXPECT_TRUE(OkEnabled()) << Info().toStdString();
}

TEST_F(DialogTest, MpegSheetPadding) {
    auto spec = Open(FourCC("MPG2"));
    RunSheet([](QDialog& s) {
        auto* box = In<QCheckBox>(s, "framePaddingCheckbox");
        EXPECT_TRUE(box->isChecked());
        box->click();
        return Press(s, "okButton");
    });
    EXPECT_FALSE(spec->specificsValue("Use MPEG Frame Padding").asBool(true));
}

class CustomRatesTest : public ::testing::Test {
protected:
    void Add(const QString& text, bool ok = true) {
        script_ = [text, ok](QDialog& s) {
            In<QLineEdit>(s, "srTextField")->setText(text);
            return Press(s, ok ? "okButton" : "cancelButton");
        };
        window_.doAdd();
    }
    std::vector<double> Rates() const { return window_.customSampleRates(); }

    testsupport::TempDir dir_;
    platform::UserDefaults defaults_{dir_ / "preferences.plist"};
    platform::NotificationCenter notifications_;
    std::function<int(QDialog&)> script_;
    CustomSRController window_{nullptr, defaults_, notifications_,
                               [this](QDialog& s) { return script_(s); }};
};

TEST_F(CustomRatesTest, AddUndoEditAndCancel) {
    Add("7000");
    Add("9000");
    Add("0");
    Add("-3");
    Add("5", false);
    EXPECT_EQ(Rates(), (std::vector<double>{9000, 7000}));
    window_.undoStack()->undo();
    EXPECT_EQ(Rates(), (std::vector<double>{7000}));
    window_.undoStack()->redo();
    EXPECT_EQ(Rates(), (std::vector<double>{9000, 7000}));

    auto* table = window_.findChild<QTableWidget*>("csrTableView");
    table->selectRow(0);
    EXPECT_EQ(window_.findChild<QPushButton*>("addButton")->text(), "Edit...");
    Add("5000");
    EXPECT_EQ(Rates(), (std::vector<double>{7000, 5000}));
    EXPECT_TRUE(table->selectionModel()->isRowSelected(1, QModelIndex()));
    EXPECT_FALSE(table->selectionModel()->isRowSelected(0, QModelIndex()));
    window_.undoStack()->undo();
    EXPECT_EQ(Rates(), (std::vector<double>{9000, 7000}));

    // In place: only a positive rate is taken.
    table->item(1, 0)->setText("0");
    EXPECT_EQ(Rates(), (std::vector<double>{9000, 7000}));
    table->item(1, 0)->setText("11000");
    EXPECT_EQ(Rates(), (std::vector<double>{11000, 9000}));

    window_.findChild<QPushButton*>("cancelButton")->click();
    EXPECT_TRUE(defaults_.Get(kCustomSampleRatesKey).isNull());
    EXPECT_EQ(Rates().size(), 2u);  // kept for the next opening

    int heard = 0;
    notifications_.AddObserver(kUpdatedCustomSampleRatesNotification, nullptr,
                               [&heard](const platform::Notification&) { ++heard; });
    window_.findChild<QPushButton*>("okButton")->click();
    EXPECT_EQ(heard, 1);
    ASSERT_TRUE(defaults_.Get(kCustomSampleRatesKey).array());
    EXPECT_EQ(defaults_.Get(kCustomSampleRatesKey).array()->size(), 2u);

    // The dialog's typed rate reaches the window.
    defaults_.Set(kCustomSampleRatesKey, plist::Value(plist::Array{plist::Value(1234.0)}));
    notifications_.Post(kCustomSampleRatesUpdatedNotification);
    EXPECT_EQ(Rates(), (std::vector<double>{1234}));
}

TEST_F(CustomRatesTest, DeleteSeveralEachUndoable) {
    for (const char* r : {"1000", "2000", "3000"}) Add(r);
    auto* table = window_.findChild<QTableWidget*>("csrTableView");
    table->selectAll();
    EXPECT_FALSE(window_.findChild<QPushButton*>("addButton")->isEnabled());
    window_.deleteSelected();
    EXPECT_TRUE(Rates().empty());
    EXPECT_EQ(window_.undoStack()->undoText(), "Delete Custom Sample Rate(s)");
    window_.undoStack()->undo();
    EXPECT_EQ(Rates().size(), 1u);
}

// The type popup's resource against the type table.
TEST(DefineConvSchema, MenusMatchTheTypeTable) {
    const plist::Dictionary& table = CSoundFile::GetFileTypeInfo();
    const plist::Value menus = plist::ReadFile(platform::ResourcePath("menus.plist"));
    ASSERT_TRUE(menus.find("popup") && menus.find("popup")->array());
    std::map<std::string, int> listed;
    for (const plist::Value& item : *menus.find("popup")->array()) {
        ASSERT_FALSE(item.asString().empty());
        if (item.asString() != "-") ++listed[item.asString()];
    }
    std::map<std::string, int> rowsByText;
    for (const auto& [key, row] : table) {
        const std::string text = row.find("text") ? row.find("text")->asString() : "";
        ++rowsByText[text];
        const bool writable = row.find("canBeWritten")->asBool() || key == "'DMP3'";
        if (!writable) continue;
        EXPECT_EQ(listed[text], 1) << key;
        const plist::Value* max = row.find("sampleRateMax");
        const plist::Value* min = row.find("sampleRateMin");
        ASSERT_TRUE(max && min) << key;
        if (const plist::Value* discrete = row.find("discreteSampleRates")) {
            for (const plist::Value& r : *discrete->array()) {
                EXPECT_LE(r.asReal(), max->asReal()) << key;
                EXPECT_GE(r.asReal(), min->asReal()) << key;
            }
        }
    }
    for (const auto& [text, count] : listed) EXPECT_EQ(rowsByText[text], 1) << text;
}

}  // namespace
