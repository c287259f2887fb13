// The progress window and the end of a batch: ticks against the driver's flags
// (no division by zero, warnings shown once fetched, the window closed when the
// driver is idle), cancel, the sound and the log opened at the end, and real
// batches over sox-made files.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>

#include "app/log_window.h"
#include "app/progress_controller.h"
#include "app_test_support.h"
#include "conversion/qf_sound_file.h"
#include "engine/conversion_process.h"
#include "soundfile/progress.h"
#include "ui_main_window.h"
#include "ui_progress_window.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[256];
        while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

TEST(Progress, TicksFollowTheDriverWithoutDividingByZero) {
    testsupport::TempDir dir;
    platform::UserDefaults defaults(dir / "prefs.plist");
    ConversionProcess process;
    ProgressController window(process, defaults);
    int done = 0;
    QObject::connect(&window, &ProgressController::engineDone, [&done] { ++done; });
    window.startPolling(3, 2);
    window.handleConversionStartDo();
    Ui::ProgressWindow* ui = window.ui();

    // No steps and no frames reported: the bar stays at 0.
    ConversionProcess::Progress state;
    state.running = true;
    state.stepChanged = state.numSampleFramesChanged = state.fileChanged = true;
    process.putProgressForTesting(state);
    window.timedProgressDisplay();
    EXPECT_EQ(ui->inputFileBar->value(), 0);
    EXPECT_EQ(ui->conversionBar->maximum(), 6);
    EXPECT_EQ(ui->conversionBar->value(), 0);  // no conversion begun yet
    EXPECT_EQ(ui->inputFileTextField->text(), "Input File 0 of 3: ''");
    EXPECT_EQ(ui->stepTextField->text(), "Step: ");
    ConversionProcess::Progress left = process.takeProgress();
    EXPECT_FALSE(left.stepChanged || left.fileChanged);
    // A warning flag opens the pane; the tick's take clears it.
    EXPECT_FALSE(window.warningsOpen());
    state = {};
    state.running = true;
    state.warningChanged = true;
    process.putProgressForTesting(state);
    window.timedProgressDisplay();
    EXPECT_TRUE(window.warningsOpen());
    EXPECT_EQ(ui->warningTextField->text(), "Warnings: 0");
    left = process.takeProgress();
    EXPECT_FALSE(left.warningChanged);
    EXPECT_EQ(done, 0);

    process.putProgressForTesting({});
    window.timedProgressDisplay();
    EXPECT_EQ(done, 1);
    EXPECT_EQ(ui->inputFileBar->value(), 100);
    EXPECT_FALSE(window.isPolling());
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(defaults.GetString("NSWindow Frame Progress").empty());  // frame kept
}

// Each tick sets the whole-batch bar from its take, changed file or not: the
// files of the conversions before and those of this one, at most the count.
TEST(Progress, ATickSetsTheBatchBarFromTheFilesHandedOver) {
    testsupport::TempDir dir;
    platform::UserDefaults defaults(dir / "prefs.plist");
    ConversionProcess process;
    ProgressController window(process, defaults);
    window.startPolling(5, 3);
    window.handleConversionStartDo();
    const int64_t rows[][3] = {{1, 0, 0}, {1, 3, 3}, {2, 0, 5}, {2, 7, 10}, {3, 5, 15}, {4, 1, 15}};
    for (const auto& [conv, file, expected] : rows) {
        ConversionProcess::Progress state;
        state.running = true;
        state.curConv = conv;
        state.curFile = file;
        state.fileChanged = file % 2 == 1;
        process.putProgressForTesting(state);
        window.timedProgressDisplay();
        EXPECT_EQ(window.ui()->conversionBar->value(), expected) << conv << " " << file;
        EXPECT_EQ(expected, BatchBarValue(conv, file, 5, 3));
    }
    process.putProgressForTesting({});
    window.timedProgressDisplay();
}

struct EndTest : AppTest {
    std::string in = dir / "in";
    std::string out = dir / "out";
    std::vector<std::string> sounds;
    std::unique_ptr<MainController> c;

    void SetUp() override {
        fs::create_directories(in);
        fs::create_directories(out);
        WriteWave(in + "/one.wav", 400);
        defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("Aiff")}));
        defaults.Set("Last Used Destination", out);
        MainServices s = Services();
        s.playSound = [this](const std::string& name) { sounds.push_back(name); };
        c = Make(s);
    }
    void TearDown() override {
        for (LogWindow* w : c->logWindows()) w->close();
    }
    // Runs a batch over `inputs` to its end.
    void RunBatch(const std::vector<std::string>& inputs) {
        c->inputFiles.clear();
        for (const auto& p : inputs) c->inputFiles.push_back(QFSoundFile::soundFileWithPath(p));
        bool finished = false;
        auto link = QObject::connect(c.get(), &MainController::batchFinished,
                                     [&finished] { finished = true; });
        ASSERT_TRUE(c->doStart());
        ASSERT_TRUE(PumpUntil([&finished] { return finished; }));
        QObject::disconnect(link);
    }
};

TEST_F(EndTest, CancelStopsTheBatch) {
    ProgressController& progress = c->progressController();
    progress.ui()->cancelButton->click();
    EXPECT_TRUE(c->conversionProcess().shouldStop());
    EXPECT_EQ(progress.ui()->inputFileBar->maximum(), 0);  // indeterminate
    EXPECT_EQ(progress.ui()->conversionBar->maximum(), 0);
    EXPECT_EQ(progress.ui()->warningTextField->text(), "Cancelling, please wait...");
}

TEST_F(EndTest, CancelAtSeveralPointsEndsTheBatchAndBringsTheWindowBack) {
    WriteWave(in + "/two.wav", 400);
    struct Row {
        const char* point;  // the batch thread's notification where the user cancels
        bool firstConverted;
    };
    const Row rows[] = {{QFConversionHeaderNotification, false},
                       {ProgressPosition, false},
                       {QFConversionSuccessNotification, true}};
    for (const Row& r : rows) {
        fs::remove_all(out + "/Aiff");
        std::atomic<bool> cancelled{false};
        const auto token = platform::NotificationCenter::Default().AddObserver(
            r.point, nullptr, [this, &cancelled](const platform::Notification&) {
                if (cancelled.exchange(true)) return;
                // The user's click reaches the interface thread; this thread waits.
                QMetaObject::invokeMethod(
                    qApp, [this] { c->progressController().doCancel(); },
                    Qt::BlockingQueuedConnection);
            });
        RunBatch({in + "/one.wav", in + "/two.wav"});
        platform::NotificationCenter::Default().RemoveObserver(token);
        EXPECT_TRUE(cancelled) << r.point;
        EXPECT_EQ(c->conversionProcess().err(), -128) << r.point;
        EXPECT_EQ(fs::exists(out + "/Aiff/one.aif"), r.firstConverted) << r.point;
        EXPECT_FALSE(fs::exists(out + "/Aiff/two.aif")) << r.point;
        EXPECT_TRUE(c->window()->isVisible()) << r.point;
        EXPECT_FALSE(c->progressWindow()->isVisible()) << r.point;
    }
}

// Closing the window while the batch runs (as its title bar's close does)
// asks first: "Keep Running" keeps window and batch, "Stop Batch" is Cancel,
// and once cancelling a close asks nothing. The window goes when the batch has
// stopped, and the main window is back.
TEST_F(EndTest, ClosingTheWindowDuringABatchAsksWhetherToStopIt) {
    WriteWave(in + "/two.wav", 400);
    alerts.answers = {0, 1};
    std::atomic<bool> closed{false};
    bool keptRunning = false, cancelling = false;
    const auto token = platform::NotificationCenter::Default().AddObserver(
        ProgressPosition, nullptr, [&](const platform::Notification&) {
            if (closed.exchange(true)) return;
            // The user's clicks reach the interface thread; this thread waits.
            QMetaObject::invokeMethod(
                qApp,
                [&] {
                    ProgressController* window = c->progressWindow();
                    window->close();
                    keptRunning = window->isVisible() && !c->conversionProcess().shouldStop();
                    window->close();
                    cancelling = window->isVisible() && c->conversionProcess().shouldStop() &&
                                 window->ui()->warningTextField->text() ==
                                     "Cancelling, please wait...";
                    window->close();
                },
                Qt::BlockingQueuedConnection);
        });
    RunBatch({in + "/one.wav", in + "/two.wav"});
    platform::NotificationCenter::Default().RemoveObserver(token);
    ASSERT_TRUE(closed);
    EXPECT_TRUE(keptRunning);
    EXPECT_TRUE(cancelling);
    ASSERT_EQ(alerts.shown.size(), 2u);
    for (const auto& shown : alerts.shown)
        EXPECT_EQ(shown.buttons, (QStringList{"Stop Batch", "Keep Running", ""}));
    EXPECT_EQ(c->conversionProcess().err(), -128);
    EXPECT_FALSE(fs::exists(out + "/Aiff/two.aif"));
    EXPECT_FALSE(c->progressWindow()->isVisible());
    EXPECT_TRUE(c->window()->isVisible());
    // Between batches the window closes without a question.
    c->progressWindow()->show();
    EXPECT_TRUE(c->progressWindow()->close());
    EXPECT_EQ(alerts.shown.size(), 2u);
}

// Alerts that keep their question up, as a user who has not answered yet:
// a real window-modal box that blocks the windows under it, up until the
// program takes it down or the box is answered. Asked through run, it holds
// the caller in an event loop meanwhile, as a modal box's own loop does (at
// most a few seconds, then it answers with the default button).
struct HeldAlerts : Alerts {
    QtAlerts real;
    std::atomic<bool> up{false};
    int asked = 0, answered = 0, dismissed = 0;

    struct Held : AlertQuestion {
        HeldAlerts& owner;
        std::unique_ptr<AlertQuestion> box;
        Held(HeldAlerts& o, std::unique_ptr<AlertQuestion> b) : owner(o), box(std::move(b)) {}
        ~Held() override { dismiss(); }
        void dismiss() override {
            if (box && box->isUp()) ++owner.dismissed;
            if (box) box->dismiss();
            owner.up = false;
        }
        bool isUp() const override { return box && box->isUp(); }
    };

    std::unique_ptr<AlertQuestion> ask(QWidget* parent, const QString& title,
                                       const QString& message, const QString& b1,
                                       const QString& b2, const QString& b3,
                                       std::function<void(int)> onAnswer) override {
        ++asked;
        auto box = real.ask(parent, title, message, b1, b2, b3, [this, onAnswer](int a) {
            ++answered;
            up = false;
            onAnswer(a);
        });
        up = true;
        return std::make_unique<Held>(*this, std::move(box));
    }
    int run(QWidget* parent, const QString& title, const QString& message, const QString& b1,
            const QString& b2, const QString& b3) override {
        std::optional<int> answer;
        auto question = ask(parent, title, message, b1, b2, b3, [&answer](int a) { answer = a; });
        PumpUntil([&] { return answer || !question->isUp(); }, 3000);
        if (!answer && question->isUp()) {
            ++answered;
            answer = 1;
        }
        return *answer;
    }
};

// A "Stop the batch?" question still up when the batch ends is taken down
// unanswered before the end runs: the end runs once, outside the question,
// the main window is back and answers clicks and shortcuts, and the next
// batch shows its progress window again.
TEST_F(EndTest, AQuestionUpWhenTheBatchEndsGoesAndLeavesTheWindowUsable) {
    HeldAlerts held;
    MainServices s = Services();
    s.alerts = &held;
    c = Make(s);
    defaults.Set("Save Log", true);
    defaults.Set("Open Log", false);
    defaults.Set("Beep When Done", false);
    WriteWave(in + "/two.wav", 400);
    int ends = 0;
    QObject::connect(c.get(), &MainController::batchFinished, [&ends] { ++ends; });
    std::atomic<bool> asked{false};
    auto& center = platform::NotificationCenter::Default();
    auto token = center.AddObserver(ProgressPosition, nullptr, [&](const platform::Notification&) {
        if (asked.exchange(true)) return;
        // The user closes the window and leaves the question up; the batch
        // goes on to its end meanwhile.
        QMetaObject::invokeMethod(qApp, [this] { c->progressWindow()->close(); },
                                  Qt::QueuedConnection);
        for (int i = 0; i < 5000 && !held.up; ++i) QThread::msleep(1);
    });
    RunBatch({in + "/one.wav", in + "/two.wav"});
    center.RemoveObserver(token);
    ASSERT_TRUE(asked);
    EXPECT_EQ(held.asked, 1);
    EXPECT_EQ(held.dismissed, 1);
    EXPECT_EQ(held.answered, 0);
    EXPECT_FALSE(held.up);
    EXPECT_EQ(c->conversionProcess().err(), 0);  // not cancelled
    EXPECT_TRUE(fs::exists(out + "/Aiff/two.aif"));
    QCoreApplication::processEvents();
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible() && qobject_cast<QMessageBox*>(w)) << "a box is still up";
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(c->progressWindow()->isVisible());

    QWidget* window = c->window();
    ASSERT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isEnabled());
    window->activateWindow();
    ASSERT_TRUE(PumpUntil([window] { return QApplication::activeWindow() == window; }));
    QTest::mouseClick(c->ui()->conversionsTabButton, Qt::LeftButton);
    EXPECT_EQ(c->ui()->tabView->currentIndex(), 1);
    QTest::keyClick(window, Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);  // Show Last Log
    EXPECT_EQ(c->logWindows().size(), 1u);

    std::atomic<bool> shown{false};
    token = center.AddObserver(
        QFConversionHeaderNotification, nullptr, [&](const platform::Notification&) {
            QMetaObject::invokeMethod(
                qApp, [&] { shown = c->progressWindow()->isVisible(); },
                Qt::BlockingQueuedConnection);
        });
    fs::remove_all(out + "/Aiff");
    RunBatch({in + "/one.wav"});
    center.RemoveObserver(token);
    EXPECT_TRUE(shown);
    EXPECT_EQ(ends, 2);
    EXPECT_EQ(held.asked, 1);
}

TEST_F(EndTest, TheEndPlaysItsSoundAndOpensOnlyTheLogThisBatchKept) {
    struct Row {
        bool openLog, onlyOpenWhenErrors, onlySaveWhenErrors, beep;
        bool opened;
        std::vector<std::string> sounds;
    };
    const Row rows[] = {
        {true, false, false, true, true, {"Pieieng"}},
        {true, true, false, true, false, {"Pieieng"}},   // no error, no warning
        {true, false, true, false, false, {}},           // no warning: no log kept
        {false, false, false, false, false, {}},
    };
    for (const Row& r : rows) {
        defaults.Set("Save Log", true);
        defaults.Set("Open Log", r.openLog);
        defaults.Set("Only Open When Errors", r.onlyOpenWhenErrors);
        defaults.Set("Only Save When Errors", r.onlySaveWhenErrors);
        defaults.Set("Beep When Done", r.beep);
        sounds.clear();
        fs::remove_all(out + "/Aiff");  // no duplicate names, no warnings
        for (LogWindow* w : c->logWindows()) w->close();
        RunBatch({in + "/one.wav"});
        EXPECT_EQ(c->logWindows().size(), r.opened ? 1 : 0) << &r - rows;
        EXPECT_EQ(sounds, r.sounds) << &r - rows;
        EXPECT_TRUE(c->window()->isVisible());
        EXPECT_DOUBLE_EQ(c->window()->windowOpacity(), 1.0);
    }
}

// "Only Open When Errors" opens the log of a batch whose failure or skipped
// input came before its last input, which was converted.
TEST_F(EndTest, OnlyWhenErrorsOpensTheLogOfAnEarlierFailureOrSkip) {
    defaults.Set("Save Log", true);
    defaults.Set("Open Log", true);
    defaults.Set("Only Open When Errors", true);
    defaults.Set("Beep When Done", false);
    fs::create_directories(in + "/F");
    fs::create_directories(in + "/G");
    ASSERT_EQ(::symlink((in + "/nowhere.wav").c_str(), (in + "/F/a.wav").c_str()), 0);
    WriteWave(in + "/F/b.wav", 400);
    // Named as a sound file, so that its skip is reported.
    testsupport::WriteFile(in + "/G/a.wav", "not a sound");
    WriteWave(in + "/G/b.wav", 400);
    for (const std::string folder : {"/F", "/G"}) {
        SCOPED_TRACE(folder);
        fs::remove_all(out + "/Aiff");
        for (LogWindow* w : c->logWindows()) w->close();
        RunBatch({in + folder});
        EXPECT_EQ(c->conversionProcess().err(), 0);
        EXPECT_GT(c->conversionProcess().warnings(), 0);
        EXPECT_TRUE(fs::exists(out + "/Aiff/" + folder.substr(1) + "/b.aif"));
        EXPECT_EQ(c->logWindows().size(), 1u);
    }
}

TEST_F(EndTest, ABatchOverSoxMadeFilesCountsAndConvertsThem) {
    if (!testsupport::HaveProgram("sox") || !testsupport::HaveProgram("soxi"))
        GTEST_SKIP() << "sox missing";
    fs::create_directories(in + "/sub");
    const auto sox = [this](const std::string& type, const std::string& name) {
        return std::system(("sox -n -r 8000 -c 1 -b 16 " + type + "'" + in + "/" + name +
                            "' synth 0.05 sine 440 2>/dev/null").c_str());
    };
    for (const char* name : {"a.aiff", "b.wav", "c.8svx", "d.voc", "sub/e.au"})
        ASSERT_EQ(sox("", name), 0) << name;
    ASSERT_EQ(sox("-e signed -t raw ", "headerless.raw"), 0);
    testsupport::WriteFile(in + "/notes.txt", "not a sound");
    WriteWave(in + "/pair.L.wav", 400);
    WriteWave(in + "/pair.R.wav", 400);
    defaults.Set("Open Log", false);
    defaults.Set("Beep When Done", false);
    RunBatch({in});
    const int found = std::stoi(Output("find '" + in + "' -type f | wc -l"));
    EXPECT_EQ(c->batchFileCount(), static_cast<uint32_t>(found));
    EXPECT_EQ(c->progressWindow()->ui()->conversionBar->maximum(), found);
    // (The VOC input is counted; sox writes its samples in a block of type 9.
    // The split pair comes out as a pair; the headerless file is skipped.)
    EXPECT_FALSE(fs::exists(out + "/Aiff/in/headerless.aif"));
    for (const char* name : {"a.aif", "b.aif", "c.aif", "sub/e.aif", "pair.L.aif", "pair.R.aif"}) {
        const std::string path = out + "/Aiff/in/" + name;
        ASSERT_TRUE(fs::exists(path)) << path;
        EXPECT_EQ(Output("soxi -r '" + path + "'"), "8000\n") << path;
        EXPECT_EQ(Output("soxi -c '" + path + "'"), "1\n") << path;
    }
}

}  // namespace
}  // namespace apptest
