// The main controller offscreen: start-up from the defaults (conversions, the
// mp3 encoder's alert, the window's state and the tables' layouts), the rule
// that allows a start, logs shown from the menu, and the quit sequence with a
// batch running.
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QPushButton>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTableView>
#include <algorithm>
#include <atomic>
#include <filesystem>

#include "app/log_window.h"
#include "app_test_support.h"
#include "conversion/qf_sound_file.h"
#include "engine/conversion_process.h"
#include "soundfile/progress.h"
#include "ui_main_window.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

// The names, sorted (the list shows them in its own sort order).
std::vector<std::string> Names(const std::vector<std::shared_ptr<ConvSpec>>& convs) {
    std::vector<std::string> names;
    for (const auto& c : convs) names.push_back(c->conversionName());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(AppTest, FactoryConversionsWhenTheStoredListIsMissingOrEmpty) {
    const std::vector<std::string> factory = Names(LoadFactoryConvSpecs());
    ASSERT_FALSE(factory.empty());
    for (const bool present : {false, true}) {
        if (present) defaults.Set(kConversionsDefaultsKey, plist::Array());
        EXPECT_EQ(Names(Make(Services(), false)->convSpecs), factory) << present;
    }
    defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("Mine")}));
    auto c = Make(Services(), false);
    EXPECT_EQ(Names(c->convSpecs), std::vector<std::string>{"Mine"});
    EXPECT_EQ(c->convSpecNames.count("Mine"), 1u);
}

TEST_F(AppTest, AnOldMp3EncoderBringsTheAlertAndNoneBringsNone) {
    const std::string lame = dir / "lame";
    struct Row {
        const char* output;  // null: no program
        size_t alerts;
        bool writable;
    };
    const Row rows[] = {{"LAME 32bits version 3.90 (http://lame.sf.net)", 1, false},
                        {"LAME 64bits version 3.100 (http://lame.sf.net)", 0, true},
                        {nullptr, 0, false}};
    for (const Row& row : rows) {
        fs::remove(lame);
        if (row.output) {
            testsupport::WriteFile(lame, std::string("#!/bin/sh\necho '") + row.output + "'\n");
            fs::permissions(lame, fs::perms::owner_all);
        }
        alerts.shown.clear();
        MainServices s = Services();
        s.boot.probeMp3Encoder = true;
        s.boot.lameCandidates = {lame};
        auto c = Make(s, false);
        ASSERT_EQ(alerts.shown.size(), row.alerts) << row.output;
        EXPECT_EQ(c->boot().mp3Writable, row.writable);
        EXPECT_EQ(CSoundFile::GetFileTypeInfo()["'DMP3'"].find("canBeWritten")->asBool(),
                  row.writable);
        if (row.alerts) {
            EXPECT_EQ(alerts.shown[0].title, "LAME mp3-encoder Too Old");
            EXPECT_TRUE(alerts.shown[0].message.contains("It is version 3.90, but"));
        }
    }
}

TEST_F(AppTest, TheWindowTakesItsStateFromTheDefaults) {
    defaults.Set("Blip At End", true);
    defaults.Set("Auto Play Next", false);
    defaults.Set("Varispeed", 1.5);
    auto c = Make();
    EXPECT_TRUE(c->ui()->blipAtEndCheckbox->isChecked());
    EXPECT_FALSE(c->ui()->autoPlayNextCheckbox->isChecked());
    EXPECT_EQ(c->ui()->variSpeedSlider->value(), 150);
    EXPECT_EQ(c->ui()->variSpeedTextField->text(), "1.50");
    c->ui()->blipAtEndCheckbox->setChecked(false);
    EXPECT_FALSE(defaults.GetBool("Blip At End"));
}

// At the window's first size the input table shows every column up to the
// length whole, and the background picture shows nowhere around the table.
TEST_F(AppTest, TheInputPageAtItsFirstSize) {
    auto c = Make();
    Ui::MainWindow& ui = *c->ui();
    c->window()->show();
    PumpUntil([&] { return c->window()->isVisible(); }, 1000);
    QApplication::processEvents();
    QHeaderView* header = ui.inputFileTableView->horizontalHeader();
    const int length = 7;  // the "length" column
    ASSERT_EQ(ui.inputFileTableView->model()->headerData(length, Qt::Horizontal, Qt::UserRole),
              "length");
    EXPECT_LE(header->sectionViewportPosition(length) + header->sectionSize(length),
              ui.inputFileTableView->viewport()->width());
    // Between the table and the buttons: the window's own colour only.
    const QImage shot = c->window()->grab().toImage();
    const QPoint tableBottom =
        ui.inputFileTableView->mapTo(c->window(), QPoint(0, ui.inputFileTableView->height()));
    const int buttonsTop = ui.addFilesButton->mapTo(c->window(), QPoint(0, 0)).y();
    const QRgb plain = c->window()->palette().color(QPalette::Window).rgb();
    int others = 0;
    for (int y = tableBottom.y() + 1; y < buttonsTop; ++y)
        for (int x = 0; x < shot.width(); ++x) others += shot.pixel(x, y) != plain;
    EXPECT_EQ(others, 0);
}

TEST_F(AppTest, TableLayoutsAreSavedRestoredAndAStaleOneIsDropped) {
    const std::string key = "NSTableView Columns conversionTable";
    {
        auto c = Make();
        QHeaderView* header = c->ui()->conversionTableView->horizontalHeader();
        header->moveSection(2, 0);  // "comment" first
        header->resizeSection(1, 222);
        c->ui()->inputFileTableView->horizontalHeader()->resizeSection(1, 333);
        c->saveTableLayouts();
    }
    const plist::Value saved = defaults.Get(key);
    ASSERT_TRUE(saved.array());
    EXPECT_EQ(saved.array()->size(), 6u);
    {
        auto c = Make();
        QHeaderView* header = c->ui()->conversionTableView->horizontalHeader();
        EXPECT_EQ(header->logicalIndex(0), 2);
        EXPECT_EQ(header->sectionSize(1), 222);
        EXPECT_EQ(c->ui()->inputFileTableView->horizontalHeader()->sectionSize(1), 333);
    }
    // Five entries: a layout of another table's time, removed before it is read.
    plist::Array five(saved.array()->begin(), saved.array()->begin() + 5);
    defaults.Set(key, five);
    auto c = Make();
    EXPECT_TRUE(defaults.Get(key).isNull());
    EXPECT_EQ(c->ui()->conversionTableView->horizontalHeader()->logicalIndex(0), 0);
}

TEST_F(AppTest, ShowLastLogOpensItOrOffersThePreferences) {
    auto c = Make();
    alerts.answers = {1, 0};
    c->showLastLog();
    c->showLastLog();
    ASSERT_EQ(alerts.shown.size(), 2u);
    EXPECT_EQ(alerts.shown[0].title, "No log file");
    EXPECT_EQ(alerts.shown[0].buttons, (QStringList{"Open Preferences", "Cancel", ""}));
    EXPECT_EQ(preferencesOpened, 1);

    const std::string log = dir / "CorvaLog-20261205-193401.xwl";
    testsupport::WriteFile(log, "Corvane 4.0.0 Log File\n");
    defaults.Set("Last Used Log", plist::Dictionary{{"QFStringValue", log}});
    c->showLastLog();
    ASSERT_EQ(c->logWindows().size(), 1);
    EXPECT_EQ(c->logWindows()[0]->logText(), "Corvane 4.0.0 Log File\n");
    // From the menu, through the open panel.
    dialogs.answers = {QString::fromStdString(log)};
    c->ui()->showLogAction->trigger();
    EXPECT_EQ(c->logWindows().size(), 1);  // the same log is shown once
    for (LogWindow* w : c->logWindows()) w->close();
}

TEST_F(AppTest, AnEditedLogKeptOpenKeepsTheApplication) {
    auto c = Make();
    const std::string log = dir / "a.xwl";
    testsupport::WriteFile(log, "text\n");
    LogWindow* w = c->openLog(QString::fromStdString(log));
    w->logView()->appendPlainText("edit");
    alerts.answers = {0};  // Cancel
    c->requestQuit();
    EXPECT_FALSE(c->isTerminating());
    EXPECT_TRUE(w->isVisible());
    alerts.answers = {-1};  // Don't Save
    c->requestQuit();
    EXPECT_TRUE(c->isTerminating());
    EXPECT_TRUE(c->logWindows().isEmpty());
    EXPECT_EQ(testsupport::ReadFile(log), "text\n");
}

// The driver's batch under a controller: a 2-s input, stopped on its first
// progress step until the test lets it go on.
struct BatchTest : AppTest {
    std::string in = dir / "in";
    std::string out = dir / "out";
    std::unique_ptr<MainController> c;
    std::atomic<bool> midFile{false}, release{false};
    platform::NotificationCenter::Token token = 0;
    std::function<void()> onBatchThread;

    void SetUp() override {
        fs::create_directories(in);
        fs::create_directories(out);
        WriteWave(in + "/long.wav", 16000);
        defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("Aiff")}));
        defaults.Set("Last Used Destination", out);
        defaults.Set("Open Log", false);
    }
    void Start(MainServices s) {
        c = Make(std::move(s));
        c->inputFiles.push_back(QFSoundFile::soundFileWithPath(in + "/long.wav"));
        token = platform::NotificationCenter::Default().AddObserver(
            ProgressPosition, nullptr, [this](const platform::Notification&) {
                if (midFile.exchange(true)) return;
                while (!release && !c->conversionProcess().shouldStop()) QThread::msleep(1);
                if (onBatchThread) onBatchThread();
                while (!release) QThread::msleep(1);
            });
        ASSERT_TRUE(c->doStart());
        ASSERT_TRUE(PumpUntil([this] { return midFile.load(); }));
    }
    void TearDown() override {
        release = true;
        if (c) c->conversionProcess().waitUntilDone();
        platform::NotificationCenter::Default().RemoveObserver(token);
        c.reset();
    }
    std::vector<std::string> Placeholders() {
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(out))
            if (e.path().filename().string().find(CorvaOutFile::kCorvaOutFileNameStr) !=
                std::string::npos)
                found.push_back(e.path());
        return found;
    }
};

TEST_F(BatchTest, QuittingMidBatchStopsAndWaitsAndLeavesNoPlaceholder) {
    // The batch thread waits for the interface thread once stopped, as the
    // progress window's start does; quitting keeps events flowing meanwhile.
    bool refusedWhileQuitting = false;
    onBatchThread = [this, &refusedWhileQuitting] {
        QMetaObject::invokeMethod(
            qApp,
            [this, &refusedWhileQuitting] {
                const std::string log = dir / "other.xwl";
                testsupport::WriteFile(log, "x");
                c->openPaths({QString::fromStdString(log), QString::fromStdString(in)});
                c->asConvert();
                refusedWhileQuitting = c->isTerminating() && c->logWindows().isEmpty() &&
                                       added.isEmpty() && !c->doStart();
            },
            Qt::BlockingQueuedConnection);
        release = true;
    };
    Start(Services());
    EXPECT_FALSE(Placeholders().empty());
    EXPECT_TRUE(c->applicationShouldTerminate());
    EXPECT_TRUE(refusedWhileQuitting);
    EXPECT_FALSE(c->conversionProcess().running());
    EXPECT_EQ(Placeholders(), std::vector<std::string>{});
    EXPECT_EQ(playback.stops, 1);
    EXPECT_EQ(hardExits, 0);
    // The conversions were saved and the stopped batch's log finished.
    const plist::Value stored = defaults.Get(kConversionsDefaultsKey);
    EXPECT_EQ(Names(LoadConvSpecs(&stored, nullptr)), std::vector<std::string>{"Aiff"});
    EXPECT_FALSE(defaults.Get("Last Used Log").isNull());
}

TEST_F(BatchTest, ABatchThatDoesNotStopInTimeEndsTheProcessWithoutCleanup) {
    MainServices s = Services();
    s.quitTimeoutMs = 200;
    Start(s);
    // The batch thread ignores the stop until released.
    EXPECT_FALSE(c->applicationShouldTerminate());
    EXPECT_EQ(hardExits, 1);
    EXPECT_EQ(playback.stops, 0);
}

TEST_F(BatchTest, AFinishedBatchLeavesItsLog) {
    release = true;
    Start(Services());
    bool finished = false;
    QObject::connect(c.get(), &MainController::batchFinished, [&finished] { finished = true; });
    ASSERT_TRUE(PumpUntil([&finished] { return finished; }));
    EXPECT_TRUE(fs::exists(out + "/Aiff/long.aif"));
    const plist::Value stored = defaults.Get("Last Used Log");
    const plist::Value* last = stored.find("QFStringValue");
    ASSERT_NE(last, nullptr);
    const std::string text = testsupport::ReadFile(last->asString());
    EXPECT_NE(text.find("\n long\n"), std::string::npos) << text;  // the input's name
    EXPECT_TRUE(c->validateStart());
}

}  // namespace
}  // namespace apptest
