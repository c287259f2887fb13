// The Define Conversion dialog driven offscreen through the controls' own signals.
#include "app/define_conversion_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSlider>
#include <QStandardItemModel>
#include <QUndoStack>

#include "dialog_test_support.h"

namespace {

using dialogtest::DialogTest;

bool ItemEnabled(QComboBox* popup, int index) {
    auto* model = qobject_cast<QStandardItemModel*>(popup->model());
    return model->item(index)->isEnabled();
}

TEST_F(DialogTest, ForcingTicksOnlyWhatTheUserLeftUnticked) {
    struct Case {
        bool userTicksRate;
    };
    for (const Case c : {Case{false}, Case{true}}) {
        auto spec = Open(FourCC("AIFF"));
        if (c.userTicksRate) Click("convertSampleRateCheckBox");
        Choose(FourCC("VOC "));  // forces all three
        EXPECT_TRUE(Checked("convertSampleRateCheckBox") && Checked("numOfBitsCheckBox") &&
                    Checked("channelHandlingCheckBox"));
        EXPECT_TRUE(spec->needsSampleRateConversion() && spec->needsNewWordLength() &&
                    spec->needsChannelTreat());
        EXPECT_EQ(spec->channelTreat(), 2);  // the first item of the mono popup
        Choose(FourCC("AIFF"));
        EXPECT_EQ(Checked("convertSampleRateCheckBox"), c.userTicksRate);
        EXPECT_EQ(spec->needsSampleRateConversion(), c.userTicksRate);
        EXPECT_FALSE(Checked("numOfBitsCheckBox") || spec->needsNewWordLength());
        EXPECT_FALSE(Checked("channelHandlingCheckBox") || spec->needsChannelTreat());
        EXPECT_EQ(spec->nameExtension(), "aif");
    }
}

TEST_F(DialogTest, WithoutConvertFileTypeTheRulesFollowAIFF) {
    auto spec = Open(FourCC("AIFF"), [](ConvSpec& s) { s.setNeedsStrictFileType(false); });
    EXPECT_FALSE(W<QComboBox>("fileTypePopUp")->isEnabled());
    EXPECT_FALSE(W<QLabel>("fileTypeToLabel")->isEnabled());
    Choose(FourCC("MPG1"));
    EXPECT_EQ(dialog_->currentFileType(), FourCC("AIFF"));
    EXPECT_EQ(spec->outputFileType(), FourCC("AIFF"));
}

TEST_F(DialogTest, TypesOfferOnlyValidRates) {
    struct Case {
        const char* type;
        double rate;
        double shown;
    };
    const Case cases[] = {
        {"MPG1", 44100.00001, 44100.00001},  // the same as 44100
        {"MPG1", 44100.0001, 44100},         // not: the default
        {"MPG1", 22050, 44100},
        {"VOC ", 8000, 8000},
        {"VOC ", 44100, 8000},  // above the maximum
        {"DALW", 6000, 6000},
        {"DALW", 7000, 8000},
    };
    for (const Case& c : cases) {
        Open(FourCC("AIFF"), [&](ConvSpec& s) { s.setSampleRate(c.rate); });
        Choose(HFSTypeCode(c.type));
        EXPECT_NEAR(W<QLineEdit>("sampleRateTextField")->text().toDouble(), c.shown, 1e-9)
            << c.type << " " << c.rate;
    }
    // MPEG: only its three built-in rates can be picked, no custom one, no typing.
    defaults_.Set(kCustomSampleRatesKey, plist::Value(plist::Array{plist::Value(7000.0)}));
    notifications_.Post(kUpdatedCustomSampleRatesNotification);
    Open(FourCC("MPG1"), [](ConvSpec& s) { s.setNeedsSampleRateConversion(true); });
    auto* popup = W<QComboBox>("sampleRatePopUp");
    std::vector<QString> enabled;
    for (int i = 0; i < popup->count(); ++i)
        if (!popup->itemText(i).isEmpty() && ItemEnabled(popup, i)) enabled.push_back(popup->itemText(i));
    EXPECT_EQ(enabled, (std::vector<QString>{"48000", "44100", "32000"}));
    EXPECT_TRUE(W<QLineEdit>("sampleRateTextField")->isReadOnly());
}

// The rate field takes typing exactly while the box is ticked and the type has
// no fixed list of rates; otherwise it is shown disabled and ignores the keys.
TEST_F(DialogTest, RateFieldIsEditableOnlyWithTheBoxAndWithoutAFixedList) {
    auto* field = W<QLineEdit>("sampleRateTextField");
    auto expectEditable = [field](bool editable, const std::string& what) {
        EXPECT_EQ(field->isEnabled(), editable) << what;
        EXPECT_EQ(field->isReadOnly(), !editable) << what;
        const QString before = field->text();
        QTest::keyClicks(field, "5");
        EXPECT_EQ(field->text() != before, editable) << what;
        field->setText(before);
    };
    int withList = 0, withoutList = 0;
    for (const auto& [key, row] : Table()) {
        const plist::Value* writable = row.find("canBeWritten");
        if (!writable || !writable->asBool()) continue;
        const bool fixedList = row.find("discreteSampleRates") != nullptr;
        ++(fixedList ? withList : withoutList);
        for (const bool box : {false, true}) {
            const std::string what = key + (box ? " ticked" : " unticked");
            Open(HFSTypeCode(key), [box](ConvSpec& s) { s.setNeedsSampleRateConversion(box); });
            ASSERT_EQ(Checked("convertSampleRateCheckBox"), box) << what;
            expectEditable(box && !fixedList, what);
            Click("convertSampleRateCheckBox");
            expectEditable(!box && !fixedList, what + ", then clicked");
        }
    }
    EXPECT_GT(withList, 0);
    EXPECT_GT(withoutList, 0);
    // Choosing a type with a list while the box is ticked takes the typing away.
    Open(FourCC("AIFF"), [](ConvSpec& s) { s.setNeedsSampleRateConversion(true); });
    expectEditable(true, "AIFF");
    Choose(FourCC("MPG1"));
    expectEditable(false, "MPG1 chosen");
    Choose(FourCC("AIFF"));
    expectEditable(true, "AIFF chosen again");
}

TEST_F(DialogTest, PopupsFallBackToTheRowDefaultAndTheMp3StereoModeShowsAgain) {
    struct Case {
        const char* type;
        int wordLength;
        int treat;
        int wordIndex;
        int channelIndex;
    };
    const Case cases[] = {
        {"MPG1", 128, 1, 3, 0},   // found by tag
        {"MPG1", 12, 3, 11, 3},   // no such bit rate: numBitsPopupDefault
        {"AIFF", 24, 1, 2, 0},
        {"DMP3", 128, 1, 8, 0},
    };
    for (const Case& c : cases) {
        Open(HFSTypeCode(c.type), [&](ConvSpec& s) {
            s.setWordLength(c.wordLength);
            s.setChannelTreat(c.treat);
        });
        EXPECT_EQ(W<QComboBox>("numBitsPopUp")->currentIndex(), c.wordIndex) << c.type;
        EXPECT_EQ(W<QComboBox>("channelHandlingPopUp")->currentIndex(), c.channelIndex) << c.type;
    }
    // An MP3 stereo mode picked shows again.
    auto spec = Open(FourCC("DMP3"));
    Click("channelHandlingCheckBox");
    Activate("channelHandlingPopUp", 5);  // joint stereo
    EXPECT_EQ(spec->channelTreat(), 1);
    dialog_->setConvSpec(spec);
    EXPECT_EQ(W<QComboBox>("channelHandlingPopUp")->currentIndex(), 5);
}

TEST_F(DialogTest, GateAndGainTruthTableAndRoundTrip) {
    struct Case {
        bool gate, gain;
        int mode;  // 0 amplify and limit, 1 normalize
        bool firstNormalize;
        bool needsGain, needsCompressor, needsNormalize;
    };
    const Case cases[] = {
        {true, false, 0, false, true, false, false},
        {false, true, 0, false, true, true, false},
        {false, true, 0, true, true, true, true},
        {false, true, 1, false, true, false, true},
        {true, true, 1, true, true, false, true},
        {false, false, 0, false, false, false, false},
    };
    for (const Case& c : cases) {
        auto spec = Open(FourCC("AIFF"));
        if (c.gate) Click("gateCheckBox");
        if (c.gain) {
            Click("boostCheckBox");
            Activate("boostPopUp", c.mode);
            if (c.firstNormalize) Click("firstNormalizeCheckBox");
        }
        EXPECT_EQ(spec->needsGain(), c.needsGain);
        EXPECT_EQ(spec->needsCompressor(), c.needsCompressor);
        EXPECT_EQ(spec->needsNormalize(), c.needsNormalize);
        EXPECT_EQ(W<QLabel>("boostLabel")->text(), c.gate ? "non-silences with" : "with");
        dialog_->setConvSpec(spec);
        EXPECT_EQ(Checked("boostCheckBox"), c.gain);
        if (c.gain) {
            EXPECT_EQ(W<QComboBox>("boostPopUp")->currentIndex(), c.mode);
            EXPECT_EQ(Checked("firstNormalizeCheckBox"), c.firstNormalize && c.mode == 0);
        }
    }
    // Turning the gate off alone clears the gain.
    auto spec = Open(FourCC("AIFF"));
    Click("gateCheckBox");
    Click("gateCheckBox");
    EXPECT_FALSE(spec->needsGain());
}

TEST_F(DialogTest, ExtractionFlagsFollowTheBoxAndSnipWins) {
    auto both = Open(FourCC("AIFF"), [](ConvSpec& s) {
        s.setNeedsSnip(true);
        s.setNeedsStrip(true);
        s.setSnipFrom(1.5f);
        s.setSnipTo(4.0f);
    });
    EXPECT_EQ(W<QComboBox>("extractionPopUp")->currentIndex(), 2);
    EXPECT_TRUE(both->needsSnip());
    EXPECT_FALSE(both->needsStrip() || both->needsExtraction());
    EXPECT_EQ(W<QLineEdit>("lengthTextField")->text(), "2.5");
    Type("startAtTextField", "2");
    EXPECT_FLOAT_EQ(both->snipTo(), 4.5f);

    auto none = Open(FourCC("AIFF"));
    EXPECT_FALSE(none->needsExtraction() || none->needsStrip() || none->needsSnip());
    Click("extractionStripOrSnipCheckBox");
    EXPECT_TRUE(none->needsExtraction());
    Activate("extractionPopUp", 1);
    EXPECT_TRUE(none->needsStrip() && !none->needsExtraction());
}

// Ticking "Convert file type" while keeping the type shown gives the type's
// extension, as choosing that type does: never a lone dot.
TEST_F(DialogTest, ConvertFileTypeTickedWithTheShownTypeTakesItsExtension) {
    auto spec = Open(FourCC("AIFF"), [](ConvSpec& s) { s.setNeedsStrictFileType(false); });
    auto* extension = W<QLineEdit>("filenameExtensionTextField");
    EXPECT_EQ(extension->text(), ".");
    Click("convertFileTypeCheckBox");
    EXPECT_TRUE(Checked("filenameExtensionCheckBox"));
    EXPECT_EQ(extension->text(), ".aif");
    EXPECT_EQ(spec->nameExtension(), "aif");
    Click("automaticNameButton");
    EXPECT_EQ(spec->conversionName(), "AIFF (.aif)");
    EXPECT_TRUE(OkEnabled());
    // Unticked, the extension typed stays; ticked again, the shown type's returns.
    Type("filenameExtensionTextField", "snd");
    Click("convertFileTypeCheckBox");
    EXPECT_EQ(spec->nameExtension(), "snd");
    Click("convertFileTypeCheckBox");
    EXPECT_EQ(spec->nameExtension(), "aif");
    // The same after a type was chosen, unticked and ticked again.
    Choose(FourCC("WAVE"));
    Click("convertFileTypeCheckBox");
    Type("filenameExtensionTextField", "");
    Click("convertFileTypeCheckBox");
    EXPECT_EQ(spec->outputFileType(), FourCC("WAVE"));
    EXPECT_EQ(extension->text(), ".wav");
}

// Tab goes through the controls row by row from the top, left to right in a
// row, in every mode of the two popups that switch pages.
// Tab goes through the controls row by row from the top, left to right in a
// row, in every mode of the two popups that switch pages.
TEST_F(DialogTest, TabFollowsTheLayoutFromTopToBottom) {
    Open(FourCC("AIFF"), [](ConvSpec& s) {
        s.setNeedsSampleRateConversion(true);
        s.setNeedsNewWordLength(true);
        s.setNeedsChannelTreat(true);
        s.setNeedsFades(true);
        s.setNeedsGate(true);
        s.setNeedsGain(true);
        s.setNeedsNameExtension(true);
    });
    dialog_->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
    Click("extractionStripOrSnipCheckBox");
    Click("boostCheckBox");
    for (const int extraction : {0, 1, 2}) {
        for (const int boost : {0, 1}) {
            Activate("extractionPopUp", extraction);
            Activate("boostPopUp", boost);
            const std::string mode =
                "extraction " + std::to_string(extraction) + ", gain " + std::to_string(boost);
            QWidget* first = W<QWidget>("convertFileTypeCheckBox");
            first->setFocus(Qt::TabFocusReason);
            ASSERT_EQ(QApplication::focusWidget(), first) << mode;
            std::vector<QWidget*> chain{first};
            for (int i = 0; i < 100; ++i) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                QWidget* next = QApplication::focusWidget();
                if (next == first) break;
                chain.push_back(next);
            }
            ASSERT_EQ(QApplication::focusWidget(), first) << mode << ": the chain comes back";
            QStringList names;
            for (QWidget* w : chain) names << w->objectName();
            // Each control lies below the one before, or in its row to its right.
            for (size_t i = 1; i < chain.size(); ++i) {
                const QRect a(chain[i - 1]->mapTo(dialog_.get(), QPoint()), chain[i - 1]->size());
                const QRect b(chain[i]->mapTo(dialog_.get(), QPoint()), chain[i]->size());
                const bool sameRow = std::abs(a.center().y() - b.center().y()) < a.height() / 2;
                EXPECT_TRUE(sameRow ? b.left() > a.left() : b.center().y() > a.center().y())
                    << mode << ": " << names.join(" ").toStdString();
            }
            // Every control that takes the focus is in it, once.
            int takers = 0;
            for (QWidget* w : dialog_->findChildren<QWidget*>())
                if (w->isVisibleTo(dialog_.get()) && w->isEnabled() &&
                    (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() &&
                    !w->objectName().startsWith("qt_"))
                    ++takers;
            EXPECT_EQ(static_cast<int>(chain.size()), takers) << mode;
            const QString fields = names.filter("TextField").join(" ");
            const QString expected =
                QString(
                    "sampleRateTextField %1fadeInTextField fadeOutTextField lowerThanTextField "
                    "longerThanTextField attenuateTextField %2filenameExtensionTextField "
                    "conversionNameTextField")
                    .arg(QStringList{"", "safetyMarginTextField ",
                                     "startAtTextField lengthTextField "}[extraction],
                         QStringList{"amplifyTextField limitTextField ",
                                     "ceilingTextField "}[boost]);
            EXPECT_EQ(fields.toStdString(), expected.toStdString()) << mode;
        }
    }
}

// The mode popup is the extraction box's title: it looks as enabled as the box
// is (always), and choosing a mode from it ticks the box.
TEST_F(DialogTest, TheExtractionBoxLooksEnabledAndItsPopupTicksIt) {
    auto spec = Open(FourCC("AIFF"));
    auto* popup = W<QComboBox>("extractionPopUp");
    dialog_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog_.get()));
    // Not drawn as it is when disabled.
    const QImage shown = popup->grab().toImage();
    popup->setEnabled(false);
    const QImage greyed = popup->grab().toImage();
    popup->setEnabled(true);
    EXPECT_TRUE(W<QAbstractButton>("extractionStripOrSnipCheckBox")->isEnabled());
    EXPECT_NE(shown, greyed);
    EXPECT_EQ(popup->grab().toImage(), shown);
    EXPECT_FALSE(W<QLineEdit>("startAtTextField")->isEnabled());

    Activate("extractionPopUp", 2);  // snip
    EXPECT_TRUE(Checked("extractionStripOrSnipCheckBox"));
    EXPECT_TRUE(spec->needsSnip() && !spec->needsStrip() && !spec->needsExtraction());
    EXPECT_TRUE(W<QLineEdit>("startAtTextField")->isEnabled());
    Click("extractionStripOrSnipCheckBox");  // off: the popup stays, its fields go
    EXPECT_FALSE(spec->needsSnip() || spec->needsStrip() || spec->needsExtraction());
    EXPECT_TRUE(popup->isEnabled());
    EXPECT_FALSE(W<QLineEdit>("startAtTextField")->isEnabled());
    // Showing a conversion that uses none of the three ticks nothing.
    auto none = Open(FourCC("AIFF"));
    EXPECT_FALSE(Checked("extractionStripOrSnipCheckBox"));
    EXPECT_FALSE(none->needsSnip() || none->needsStrip() || none->needsExtraction());
}

// Ticking "Convert file type" while keeping the type shown gives the type's
// extension, as choosing that type does: never a lone dot.
TEST_F(DialogTest, SliderPairsStoreInTheirUnits) {
    auto spec = Open(FourCC("AIFF"));
    Click("gateCheckBox");
    Type("longerThanTextField", "200");
    EXPECT_NEAR(spec->gateGapLength(), 0.2, 1e-6);
    EXPECT_EQ(W<QSlider>("longerThanSlider")->value(), 200);
    dialog_->setConvSpec(spec);
    EXPECT_EQ(W<QLineEdit>("longerThanTextField")->text(), "200");
    auto* slider = W<QSlider>("fadeInSlider");
    slider->setSliderDown(true);
    slider->setSliderPosition(750);
    slider->setSliderDown(false);
    EXPECT_FLOAT_EQ(spec->fadeInTime(), 750.0f);
    EXPECT_EQ(W<QLineEdit>("fadeInTextField")->text(), "750");
}

TEST_F(DialogTest, OkChecksInOrder) {
    struct Case {
        const char* type;
        std::function<void(ConvSpec&)> edit;
        QString message;
        const char* typedRate = nullptr;  // typed after opening
    };
    const Case cases[] = {
        {"DMP3", {}, "You have to use the Encoder Options button to specify the encoder settings."},
        {"AIFF", RateAndBits(44100), "The sample rate of AIFF files may not exceed 768000 Hz.", "800000"},
        {"AIFF", RateAndBits(44100), "The sample rate of AIFF files may not be less than 1000 Hz.", "500"},
        {"Mpg4", RateAndBits(8000, 128),
         "MP4 AAC files can only have certain combinations of bit- and sample rates. You "
         "selected a sample rate of 8000, which allows for bitrates of 8 or 16 kbps. Please "
         "select one of these bitrates."},
        {"MPG2", {},
         "MPEG-1 Layer II files have a restricted number of possible sample rates, so please "
         "check 'Convert sample rate to' and select an available sample rate from the popup "
         "menu"},
        {"MPG1", RateAndBits(44100),
         "MPEG 1 Layer I must have a bit rate specified, so please check and select a bit rate."},
        {"MPG2", RateAndBits(44100),
         "MPEG-1 Layer II files must have a value specified for the 'Convert bit rate to', so "
         "please check to select a setting."},
        {"DALW", RateAndBits(8000),
         "Dialogic a-law files must be mono, so please select a channel handling that yields "
         "mono output."},
        {"VOC ", RateAndBits(8000, 8),
         "Creative Voice files have a restricted number of possible channel handling methods, "
         "so please check to use one of the given settings in the 'Channel handling' popup "
         "menu."},
        {"AIFF",
         [](ConvSpec& s) {
             s.setNeedsStrictFileType(false);
             s.setNeedsNameExtension(true);
         },
         "You can't force a file name extension when you don't explicitly convert to a given "
         "file type. Please select a file type to convert to, or leave the file name extension "
         "checkbox unchecked."},
        {"AIFF", {}, ""},
    };
    for (const Case& c : cases) {
        auto spec = Open(HFSTypeCode(c.type), c.edit);
        if (c.typedRate) Type("sampleRateTextField", c.typedRate);
        EXPECT_EQ(Info(), c.message) << c.type;
        EXPECT_EQ(OkEnabled(), c.message.isEmpty()) << c.type;
        // Every validation runs the rules again: the verdict stays, shown once.
        Click("ditherCheckBox");
        dialog_->checkConsistency();
        EXPECT_EQ(Info(), c.message) << c.type;
        EXPECT_TRUE(spec->specificsValue(kWordSizeValidKey).isNull());
    }
}

TEST_F(DialogTest, ExtensionBoxRevalidatesThroughTheRules) {
    auto spec = Open(FourCC("MPG1"), [](ConvSpec& s) {
        s.setNeedsSampleRateConversion(true);
        s.setNeedsStrictFileType(false);
    });
    // The word-length rule refuses; ticking the extension box must not hide it.
    const QString refusal = Info();
    ASSERT_FALSE(refusal.isEmpty());
    Click("filenameExtensionCheckBox");
    EXPECT_EQ(Info(), refusal);
    EXPECT_FALSE(OkEnabled());
    Click("convertFileTypeCheckBox");
    EXPECT_EQ(Info(), refusal);
    EXPECT_FALSE(OkEnabled());
}

TEST_F(DialogTest, TypedRatesJoinTheCustomRatesHighestFirst) {
    std::vector<std::string> heard;
    notifications_.AddObserver(kCustomSampleRatesUpdatedNotification, nullptr,
                               [&heard](const platform::Notification& n) { heard.push_back(n.name); });
    Open(FourCC("AIFF"), [](ConvSpec& s) { s.setNeedsSampleRateConversion(true); });
    auto* field = W<QLineEdit>("sampleRateTextField");
    field->clear();
    QTest::keyClicks(field, "7000");
    EXPECT_TRUE(heard.empty());  // nothing before editing ends
    QTest::keyClick(field, Qt::Key_Return);
    Type("sampleRateTextField", "9000");
    Type("sampleRateTextField", "44100.00001");  // built in
    Type("sampleRateTextField", "0");
    Type("sampleRateTextField", "-5");
    Type("sampleRateTextField", "nan");
    EXPECT_EQ(dialog_->customSampleRates(), (std::vector<double>{9000, 7000}));
    const plist::Value stored = defaults_.Get(kCustomSampleRatesKey);
    ASSERT_TRUE(stored.array());
    EXPECT_EQ(stored.array()->size(), 2u);
    EXPECT_EQ(heard.size(), 2u);
    Type("sampleRateTextField", "7000");
    EXPECT_EQ(W<QComboBox>("sampleRatePopUp")->currentText(), "7000");
    EXPECT_EQ(W<QComboBox>("sampleRatePopUp")->currentData().toInt(), -1);
}

TEST_F(DialogTest, NamesAreCleanedUniqueAndUndoable) {
    auto spec = Open(FourCC("AIFF"));
    Type("conversionNameTextField", ".a/b:c");
    EXPECT_EQ(spec->conversionName(), "a-b-c");
    dialog_->setNames({"taken"});
    Type("conversionNameTextField", "taken");
    Click("okButton");
    ASSERT_EQ(alerts_.messages.size(), 1u);
    EXPECT_EQ(alerts_.titles[0], "Conversion Name Already Exists");
    EXPECT_EQ(alerts_.messages[0],
              "Conversion name 'taken' already exists.\nConversion names must be unique, please "
              "specify another one.");
    EXPECT_EQ(dialog_->convSpec(), spec);  // still open

    Click("automaticNameButton");
    EXPECT_EQ(spec->conversionName(), spec->descriptionForAutoName());
    EXPECT_EQ(dialog_->undoStack()->undoText(), "Automatic Conversion Name");
    dialog_->undoStack()->undo();
    EXPECT_EQ(spec->conversionName(), "taken");
    EXPECT_EQ(W<QLineEdit>("conversionNameTextField")->text(), "taken");

    Type("conversionNameTextField", "mine");
    dialog_->move(40, 60);
    Click("okButton");
    EXPECT_EQ(dialog_->result(), 1);
    EXPECT_EQ(dialog_->convSpec(), nullptr);
    EXPECT_EQ(defaults_.GetString(kDefineConversionFrameKey), "{40, 60}");
}

TEST_F(DialogTest, CommentAreaAndTab) {
    auto spec = Open(FourCC("AIFF"));
    EXPECT_FALSE(Checked("commentDisclosureTriangle"));
    EXPECT_TRUE(W<QPlainTextEdit>("commentTextView")->isReadOnly());
    Click("commentDisclosureTriangle");
    auto* comment = W<QPlainTextEdit>("commentTextView");
    EXPECT_FALSE(comment->isReadOnly());
    QTest::keyClicks(comment, "note");
    QTest::keyClick(comment, Qt::Key_Tab);
    EXPECT_EQ(comment->toPlainText(), "note");
    EXPECT_EQ(spec->comment(), "note");
    auto commented = Open(FourCC("AIFF"), [](ConvSpec& s) { s.setComment("kept"); });
    EXPECT_TRUE(Checked("commentDisclosureTriangle"));
}

}  // namespace
