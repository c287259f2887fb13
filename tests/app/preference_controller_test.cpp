// The preferences window offscreen, driven through its controls: each control
// writes its key, the enabling rules, the popups mapped to and from the keys,
// the factory reset, the notifications, and headerless files read with each
// raw setting as sox reads them.
#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QPixmap>
#include <QTabWidget>
#include <QTest>
#include <cmath>

#include "app/list_and_preferences_snapshots.h"
#include "app/preference_controller.h"
#include "conversion/qf_sound_file.h"
#include "conversion/startup.h"
#include "formats/format_test_support.h"
#include "formats/register_sound_files.h"
#include "platform/user_defaults.h"
#include "soundfile/raw_settings.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

namespace {

class Preferences : public ::testing::Test {
protected:
    void SetUp() override { defaults.RegisterDefaults(FactoryUserDefaults()); }
    void TearDown() override { ResetRawSettings(); }

    PreferenceController& Make() {
        controller = std::make_unique<PreferenceController>(defaults);
        return *controller;
    }
    template <class W>
    W* Find(const char* name) {
        W* w = controller->findChild<W*>(QLatin1String(name));
        EXPECT_TRUE(w) << name;
        return w;
    }
    // Picks the item of a popup by tag, as the user does.
    void Choose(const char* popup, int tag) {
        QComboBox* box = Find<QComboBox>(popup);
        const int index = box->findData(tag);
        box->setCurrentIndex(index);
        emit box->activated(index);
    }

    testsupport::TempDir dir;
    platform::UserDefaults defaults{dir / "preferences.plist"};
    std::unique_ptr<PreferenceController> controller;
};

TEST_F(Preferences, EveryControlWritesItsKeyAtOnce) {
    Make();
    const std::pair<const char*, const char*> boxes[] = {
        {"ignoreRegionsContainingWholeFileCheckbox", "Ignore Regions Containing Whole File"},
        {"useNumberFilesCheckBox", "Recognize number files as split"},
        {"processFileIfNoRegionsCheckbox", "Process File If No Regions"},
        {"easyThruCheckbox", "Easy Thru"},
        // The log boxes last, the ones that depend on the others first.
        {"beepWhenDoneCheckbox", "Beep When Done"},
        {"fullPathsIntoLogCheckbox", "Full Paths Into Log"},
        {"blipAtEndCheckbox", "Blip At End"},
        {"autoPlayNextCheckbox", "Auto Play Next"},
        {"preserveFinderCommentsCheckbox", "Preserve Finder Comments"},
        {"onlySaveWhenErrorsCheckbox", "Only Save When Errors"},
        {"onlyOpenWhenErrorsCheckbox", "Only Open When Errors"},
        {"openLogCheckbox", "Open Log"},
        {"saveLogCheckbox", "Save Log"},
    };
    for (const auto& [outlet, key] : boxes) {
        QCheckBox* box = Find<QCheckBox>(outlet);
        const bool before = defaults.GetBool(key);
        EXPECT_EQ(box->isChecked(), before) << outlet;
        box->click();
        platform::UserDefaults onDisk(defaults.path());
        onDisk.Load();
        EXPECT_EQ(onDisk.GetUserValue(key), plist::Value(!before)) << outlet;
    }
    const std::tuple<const char*, const char*, const char*, int> radios[] = {
        {"badRegionRadioGroup", "badRegionSkipRadio", "Skip Bad Region", 1},
        {"badRegionRadioGroup", "badRegionRenameRadio", "Skip Bad Region", 0},
        {"unrecognizedFilesMatrix", "unrecognizedRawRadio", kRawActionKey, 2},
        {"unrecognizedFilesMatrix", "unrecognizedCopyRadio", kRawActionKey, 1},
    };
    for (const auto& [group, button, key, tag] : radios) {
        Find<QRadioButton>(button)->click();
        EXPECT_EQ(defaults.GetInteger(key), tag) << button;
        EXPECT_EQ(Find<QButtonGroup>(group)->checkedId(), tag);
    }
    EXPECT_EQ(CSoundFile::GetRawSettings().GetAction(), RawSettings::kRawCopy);

    Choose("sampleRatePopup", 18);
    EXPECT_EQ(defaults.GetReal(kRawSampleRateKey), 6000.0);
    EXPECT_EQ(CSoundFile::GetRawSettings().GetSampleRate(), 6000.0);
    Choose("sampleRatePopup", 5);
    EXPECT_EQ(defaults.GetReal(kRawSampleRateKey), static_cast<double>(47952.1f));
}

TEST_F(Preferences, TheLogBoxesAndTheRawControlsAreEnabledInAChain) {
    struct Case {
        bool save, open;
        bool onlySave, openEnabled, onlyOpen;
    } cases[] = {
        {true, true, true, true, true},
        {true, false, true, true, false},
        {false, true, false, false, false},
        {false, false, false, false, false},
    };
    for (const Case& c : cases) {
        defaults.Set("Save Log", c.save);
        defaults.Set("Open Log", c.open);
        Make();
        // As the window opens, and again after the save box is clicked twice.
        for (int round = 0; round < 2; ++round) {
            EXPECT_EQ(Find<QCheckBox>("onlySaveWhenErrorsCheckbox")->isEnabled(), c.onlySave);
            EXPECT_EQ(Find<QCheckBox>("openLogCheckbox")->isEnabled(), c.openEnabled);
            EXPECT_EQ(Find<QCheckBox>("onlyOpenWhenErrorsCheckbox")->isEnabled(), c.onlyOpen);
            Find<QCheckBox>("saveLogCheckbox")->click();
            Find<QCheckBox>("saveLogCheckbox")->click();
        }
    }
    const char* raw[] = {"fileTypePopup", "sampleRatePopup", "channelTextField",
                         "label1TextField", "label2TextField", "label3TextField"};
    for (const char* button : {"unrecognizedSkipRadio", "unrecognizedRawRadio", "unrecognizedCopyRadio"}) {
        Find<QRadioButton>(button)->click();
        for (const char* name : raw)
            EXPECT_EQ(Find<QWidget>(name)->isEnabled(), std::string(button) == "unrecognizedRawRadio")
                << button << " " << name;
    }
}

// Each "Only when there were errors" box sits right under the box it
// qualifies, indented so that it reads as part of it, and its text starts
// no further left than the qualified box's own text.
TEST_F(Preferences, EachOnlyWhenErrorsBoxIsIndentedUnderTheBoxItQualifies) {
    Make();
    controller->show();
    Find<QTabWidget>("tabView")->setCurrentWidget(Find<QWidget>("logging"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.get()));
    auto frame = [this](const char* name) {
        QCheckBox* box = Find<QCheckBox>(name);
        return QRect(box->mapTo(controller.get(), QPoint()), box->size());
    };
    const char* rows[] = {"saveLogCheckbox", "onlySaveWhenErrorsCheckbox", "openLogCheckbox",
                          "onlyOpenWhenErrorsCheckbox", "fullPathsIntoLogCheckbox"};
    for (size_t i = 1; i < std::size(rows); ++i)
        EXPECT_GT(frame(rows[i]).top(), frame(rows[i - 1]).bottom()) << rows[i];
    QStyleOptionButton option;
    option.initFrom(Find<QCheckBox>("saveLogCheckbox"));
    const int textIndent =
        controller->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, nullptr).left();
    for (const auto& [qualified, only] :
         {std::pair{"saveLogCheckbox", "onlySaveWhenErrorsCheckbox"},
          std::pair{"openLogCheckbox", "onlyOpenWhenErrorsCheckbox"}}) {
        EXPECT_GE(frame(only).left(), frame(qualified).left() + textIndent) << only;
        // The qualified box stays in line with the page's other boxes.
        EXPECT_EQ(frame(qualified).left(), frame("fullPathsIntoLogCheckbox").left()) << qualified;
    }
}

TEST_F(Preferences, TheTypePopupMapsToAndFromTheKeys) {
    // Each item writes its keys, and a window opened on those keys shows it.
    for (int tag = 0; tag < PreferenceController::kFileTypeItemCount; ++tag) {
        Make();
        Find<QLineEdit>("channelTextField")->setText("3");
        controller->doFileTypePopup(tag);
        const auto& item = PreferenceController::kFileTypeItems[tag];
        EXPECT_EQ(defaults.GetString(kRawFileTypeKey), HFSTypeString(item.type)) << tag;
        EXPECT_EQ(defaults.GetInteger(kRawWordSizeKey), item.wordSize) << tag;
        EXPECT_EQ(defaults.GetBool(kRawBigEndianKey), item.bigEndian) << tag;
        const int channels = item.takesChannelField ? 3 : 1;
        EXPECT_EQ(defaults.GetInteger(kRawNumChannelsKey), channels) << tag;
        EXPECT_EQ(Find<QLineEdit>("channelTextField")->text(), QString::number(channels));
        EXPECT_EQ(Make().fileTypeTagFromDefaults(), tag);
        EXPECT_EQ(Find<QComboBox>("fileTypePopup")->currentData().toInt(), tag);
        // The G.72x items cannot be chosen.
        EXPECT_EQ(controller->isFileTypeItemEnabled(tag), tag < 7 || tag > 13) << tag;
    }

    // Stored forms the popup does not have select the first item and are rewritten.
    struct Stored {
        const char* type;
        int wordSize;
        bool bigEndian;
        int tag;
    } stored[] = {
        {"'DPCM'", 24, true, 15}, {"'DPCM'", 32, false, 18}, {"'DULW'", 8, false, 5},
        {"'DPCM'", 12, true, 0},  {"'Xyzw'", 24, false, 0},  {"garbage", 16, true, 0},
    };
    for (const Stored& s : stored) {
        defaults.Set(kRawFileTypeKey, s.type);
        defaults.Set(kRawWordSizeKey, s.wordSize);
        defaults.Set(kRawBigEndianKey, s.bigEndian);
        Make();
        EXPECT_EQ(Find<QComboBox>("fileTypePopup")->currentData().toInt(), s.tag) << s.type;
        const auto& item = PreferenceController::kFileTypeItems[s.tag];
        EXPECT_EQ(defaults.GetString(kRawFileTypeKey), HFSTypeString(item.type)) << s.type;
        EXPECT_EQ(defaults.GetInteger(kRawWordSizeKey), item.wordSize) << s.type;
    }

    // A tag the popup does not have writes the type 'None', and says so.
    static std::string logged;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { logged = text.toStdString(); });
    Make().doFileTypePopup(40);
    qInstallMessageHandler(previous);
    EXPECT_EQ(logged, "Unknown tag (40) from file type popup in preferences dialog (input tab)");
    EXPECT_EQ(defaults.GetString(kRawFileTypeKey), "'None'");
    EXPECT_EQ(CSoundFile::GetRawSettings().GetFileType(), FourCC("None"));
}

TEST_F(Preferences, TheRatePopupFollowsTheStoredRateAndTheType) {
    // The rate shown is the first item strictly within 0.5 Hz of the stored rate.
    const std::pair<double, int> rates[] = {
        {44100.4, 6}, {44099.6, 6}, {47952.1f, 5}, {5512.5, 19}, {44100.5, 6}, {1000.0, 6}};
    for (const auto& [rate, shown] : rates) {
        defaults.Set(kRawSampleRateKey, 44100.0);
        Make();
        defaults.Set(kRawSampleRateKey, rate);
        controller->updateUI();
        EXPECT_EQ(controller->selectedSampleRateTag(), shown) << rate;
    }
    defaults.Set(kRawSampleRateKey, 22050.0);
    Make();
    EXPECT_EQ(controller->selectedSampleRateTag(), 12);

    // Telephony types show the rate they are read at, without storing it.
    struct Case {
        int typeTag;
        int shown;
        std::vector<int> enabled;
    } cases[] = {
        {5, 17, {17}}, {6, 17, {17}}, {14, 17, {17}}, {4, 17, {17, 18}}, {0, 17, {}}, {15, 17, {}},
    };
    for (const Case& c : cases) {
        Choose("fileTypePopup", c.typeTag);
        EXPECT_EQ(controller->selectedSampleRateTag(), c.shown) << c.typeTag;
        for (int tag = 0; tag < PreferenceController::kSampleRateItemCount; ++tag) {
            const bool enabled = c.enabled.empty() ||
                                 std::find(c.enabled.begin(), c.enabled.end(), tag) != c.enabled.end();
            EXPECT_EQ(controller->isSampleRateItemEnabled(tag), enabled) << c.typeTag << " " << tag;
        }
        EXPECT_EQ(defaults.GetReal(kRawSampleRateKey), 22050.0);
    }
    // Dialogic ADPCM keeps 6000 Hz once chosen.
    Choose("fileTypePopup", 4);
    Choose("sampleRatePopup", 18);
    Choose("fileTypePopup", 4);
    EXPECT_EQ(controller->selectedSampleRateTag(), 18);
}

TEST_F(Preferences, TheChannelFieldStoresOnlyCountsASoundFileCanHave) {
    Make();
    Find<QRadioButton>("unrecognizedRawRadio")->click();
    QLineEdit* field = Find<QLineEdit>("channelTextField");
    // Typed: the validator keeps out what cannot be a count ("-1" leaves "1",
    // "1025" leaves "102").
    const std::pair<const char*, int> typed[] = {
        {"2", 2}, {"0", 2}, {"-1", 1}, {"1025", 102}, {"abc", 102}, {"1024", 1024}, {"", 1024}};
    for (const auto& [text, stored] : typed) {
        field->clear();
        QTest::keyClicks(field, text);
        EXPECT_EQ(defaults.GetInteger(kRawNumChannelsKey), stored) << text;
    }
    // Set otherwise: still only a valid count is stored.
    for (const auto& [text, stored] : {std::pair{"0", 1024}, {"5000", 1024}, {"7", 7}}) {
        field->setText(text);
        emit field->editingFinished();
        EXPECT_EQ(defaults.GetInteger(kRawNumChannelsKey), stored) << text;
    }
    // A too-large count stored by other means is not taken by the raw settings.
    defaults.Set(kRawNumChannelsKey, 5000);
    PreferenceController::syncRawSettings(defaults);
    EXPECT_EQ(CSoundFile::GetRawSettings().GetNumChannels(), 1u);
}

TEST_F(Preferences, TheFactoryResetRestoresTheWindowsKeysAndKeepsTheRest) {
    const std::pair<const char*, plist::Value> changed[] = {
        {"Save Log", false},         {"Skip Bad Region", 1},
        {"Copy All Files", true},    {kRawFileTypeKey, "'DULW'"},
        {kRawSampleRateKey, 8000.0}, {kRawActionKey, 2},
        {kRawWordSizeKey, 8},        {kRawBigEndianKey, false},
        {"Blip At End", true},       {"Auto Play Next", false},
    };
    const std::pair<const char*, plist::Value> kept[] = {
        {kRawNumChannelsKey, 6}, {"Varispeed", 1.5}, {"ConvSpecs Sort Key", "comment"},
        {"Number Duplicate Files", true}, {"Custom Sample Rates", plist::Array{plist::Value(7000.0)}}};
    Make();
    for (const auto& [key, value] : changed) defaults.Set(key, value);
    for (const auto& [key, value] : kept) defaults.Set(key, value);
    int notes = 0;
    auto& center = platform::NotificationCenter::Default();
    const auto token = center.AddObserver(XWBlipAtEndChanged, controller.get(),
                                          [&notes](const platform::Notification&) { ++notes; });
    Find<QWidget>("factoryDefaultsButton");
    controller->doFactoryDefaults();
    center.RemoveObserver(token);
    const plist::Dictionary factory = FactoryUserDefaults();
    for (const auto& [key, value] : changed) EXPECT_EQ(defaults.Get(key), factory.at(key)) << key;
    for (const auto& [key, value] : kept) EXPECT_EQ(defaults.Get(key), value) << key;
    EXPECT_EQ(notes, 1);
    EXPECT_TRUE(Find<QCheckBox>("saveLogCheckbox")->isChecked());
    EXPECT_EQ(Find<QLineEdit>("channelTextField")->text(), "6");
    EXPECT_FALSE(Find<QComboBox>("fileTypePopup")->isEnabled());
    EXPECT_EQ(CSoundFile::GetRawSettings().GetFileType(), FourCC("DPCM"));
    EXPECT_EQ(CSoundFile::GetRawSettings().GetNumChannels(), 6u);
}

TEST_F(Preferences, BoxesFollowOtherWindowsNotificationsButNotTheirOwn) {
    Make();
    auto& center = platform::NotificationCenter::Default();
    int fromHere = 0;
    const auto token = center.AddObserver(XWAutoPlayNextChanged, controller.get(),
                                          [&fromHere](const platform::Notification&) { ++fromHere; });
    Find<QCheckBox>("autoPlayNextCheckbox")->click();
    center.RemoveObserver(token);
    EXPECT_EQ(fromHere, 1);

    const int other = 0;
    struct Case {
        const char* note;
        const char* key;
        const char* box;
    } cases[] = {{XWBlipAtEndChanged, "Blip At End", "blipAtEndCheckbox"},
                 {XWAutoPlayNextChanged, "Auto Play Next", "autoPlayNextCheckbox"}};
    for (const Case& c : cases) {
        QCheckBox* box = Find<QCheckBox>(c.box);
        const bool shown = box->isChecked();
        defaults.Set(c.key, !shown);
        center.Post(c.note, controller.get());
        EXPECT_EQ(box->isChecked(), shown) << c.note;
        center.Post(c.note, &other);
        EXPECT_EQ(box->isChecked(), !shown) << c.note;
    }
    // Both pages can be selected.
    controller->selectLoggingTab();
    EXPECT_EQ(Find<QTabWidget>("tabView")->currentWidget()->objectName(), "logging");
    controller->selectInputTab();
    EXPECT_EQ(Find<QTabWidget>("tabView")->currentWidget()->objectName(), "input");
}

// A headerless file chosen in the window is read as sox reads it with the same
// description (Dialogic ADPCM, whose decoders round differently, by closeness).
TEST_F(Preferences, HeaderlessFilesAreReadAsSoxReadsThem) {
    if (!testsupport::HaveProgram("sox")) GTEST_SKIP() << "sox missing";
    RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
    const std::string sine = dir / "sine.wav";
    ASSERT_TRUE(formattest::RunCommand("sox -D -n -r 8000 -b 16 -c 2 " + formattest::Quote(sine) +
                                        " synth 0.25 sine 440 sine 1250 gain -3"));
    struct Case {
        int typeTag;
        int rateTag;
        const char* channels;
        std::string sox;  // sox's description of the headerless file
        bool exact;
    } cases[] = {
        {0, 17, "2", "-t raw -r 8000 -c 2 -e signed -b 16 -B", true},
        {1, 17, "1", "-t raw -r 8000 -c 1 -e unsigned -b 8", true},
        {2, 6, "2", "-t raw -r 44100 -c 2 -e signed -b 16 -L", true},
        {15, 17, "1", "-t raw -r 8000 -c 1 -e signed -b 24 -B", true},
        {18, 17, "2", "-t raw -r 8000 -c 2 -e signed -b 32 -L", true},
        {5, 17, "1", "-t ul -r 8000 -c 1", true},
        {6, 17, "1", "-t al -r 8000 -c 1", true},
        {4, 18, "1", "-t vox -r 6000 -c 1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sox);
        const std::string blob = dir / "blob", theirs = dir / "theirs.raw";
        std::remove(blob.c_str());
        ASSERT_TRUE(formattest::RunCommand("sox -D " + formattest::Quote(sine) + " -c " + c.channels +
                                            " " + c.sox + " " + formattest::Quote(blob)));
        ASSERT_TRUE(formattest::RunCommand("sox -D " + c.sox + " " + formattest::Quote(blob) +
                                            " -t raw -e signed -b 32 -L " + formattest::Quote(theirs)));
        Make();
        Find<QRadioButton>("unrecognizedRawRadio")->click();
        QLineEdit* field = Find<QLineEdit>("channelTextField");
        field->setText(c.channels);
        emit field->editingFinished();
        Choose("fileTypePopup", c.typeTag);
        Choose("sampleRatePopup", c.rateTag);

        const auto entry = QFSoundFile::soundFileWithPath(blob);
        short error = 0;
        SoundFilePtr file = entry->createSoundFile(&error);
        ASSERT_TRUE(file) << error;
        ASSERT_EQ(file->Open(), 0);
        EXPECT_EQ(file->GetSampleRate(), PreferenceController::kSampleRates[c.rateTag]);
        std::vector<uint8_t> frames;
        ASSERT_EQ(formattest::ReadAllFrames(*file, &frames), 0);
        const int bytes = file->GetWordSize() / 8;
        std::vector<int32_t> ours;
        for (size_t i = 0; i + bytes <= frames.size(); i += bytes) {
            int32_t v = 0;
            for (int b = 0; b < bytes; ++b) v |= static_cast<int32_t>(frames[i + b]) << (8 * b);
            ours.push_back(static_cast<int32_t>(static_cast<uint32_t>(v) << (32 - 8 * bytes)));
        }
        const std::string text = testsupport::ReadFile(theirs);
        std::vector<int32_t> sox(text.size() / 4);
        std::memcpy(sox.data(), text.data(), sox.size() * 4);
        ASSERT_EQ(ours.size(), sox.size());
        if (c.exact) {
            EXPECT_EQ(ours, sox);
        } else {
            double signal = 0, noise = 0;
            for (size_t i = 0; i < sox.size(); ++i) {
                signal += double(sox[i]) * sox[i];
                noise += (double(sox[i]) - ours[i]) * (double(sox[i]) - ours[i]);
            }
            EXPECT_GT(10 * std::log10(signal / std::max(noise, 1.0)), 12.0);
        }
    }
}

// The pictures of the table and both pages come out (into
// $CORVANE_SNAPSHOT_DIR when set, for looking at them).
TEST_F(Preferences, SnapshotsOfTheTableAndBothPages) {
    const char* wanted = std::getenv("CORVANE_SNAPSHOT_DIR");
    const QString folder = wanted && *wanted ? QString(wanted) : QString::fromStdString(dir / "shots");
    const QStringList written = WriteListAndPreferencesSnapshots(folder, defaults);
    ASSERT_EQ(written.size(), 3);
    for (const QString& path : written) EXPECT_FALSE(QPixmap(path).isNull()) << path.toStdString();
}

}  // namespace
