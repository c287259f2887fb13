// The script command over the session bus (skipped without one; scripts/test.sh
// provides one): Convert starts a batch only when a start is allowed and answers
// why not otherwise, Open shows logs, hands the rest to the input list and
// answers the paths it could not take, a second instance hands its files over,
// and without a bus the application runs without the service.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QTreeWidget>
#include <filesystem>
#include <future>

#include "app/corvane_app.h"
#include "app/input_list.h"
#include "app/log_window.h"
#include "app_test_support.h"
#include "conversion/qf_sound_file.h"
#include "engine/conversion_process.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

struct ScriptCommandTest : AppTest {
    QString service = QString("org.corvane.CorvaneTest.p%1").arg(::getpid());
    std::unique_ptr<MainController> c;
    std::unique_ptr<ScriptService> script;
    std::unique_ptr<QDBusConnection> client;
    int starts = 0;

    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "no session bus";
        fs::create_directories(dir / "out");
        WriteWave(dir / "in.wav", 800);
        defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("Aiff")}));
        defaults.Set("Last Used Destination", dir / "out");
        defaults.Set("Open Log", false);
        c = Make();
        c->inputFiles.push_back(QFSoundFile::soundFileWithPath(dir / "in.wav"));
        QObject::connect(c.get(), &MainController::batchStarted, [this] { ++starts; });
        script = std::make_unique<ScriptService>(nullptr, c.get());
        ASSERT_EQ(RegisterScriptService(script.get(), QDBusConnection::sessionBus(), service),
                  ScriptRegistration::kRegistered);
        client = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "script-test-client"));
        ASSERT_TRUE(client->isConnected());
    }
    void TearDown() override {
        if (c) {
            QDBusConnection::sessionBus().unregisterService(service);
            QDBusConnection::sessionBus().unregisterObject(kScriptObjectPath);
            PumpUntil([this] { return !c->conversionProcess().running(); });
            PumpUntil([this] { return c->validateStart() || c->inputFiles.empty(); }, 2000);
            for (LogWindow* w : c->logWindows()) w->close();
        }
        QDBusConnection::disconnectFromBus("script-test-client");
    }
    // Calls a method from the other connection while this thread serves it; the
    // reply (an invalid message when none came).
    QDBusMessage Reply(const char* method, const QVariantList& args = {}) {
        QDBusMessage m =
            QDBusMessage::createMethodCall(service, kScriptObjectPath, kApplicationId, method);
        m.setArguments(args);
        QDBusPendingCall call = client->asyncCall(m);
        PumpUntil([&call] { return call.isFinished(); });
        return call.isFinished() ? call.reply() : QDBusMessage();
    }
    bool Call(const char* method, const QVariantList& args = {}) {
        return Reply(method, args).type() == QDBusMessage::ReplyMessage;
    }
};

TEST_F(ScriptCommandTest, ConvertDoesNothingUnlessAStartIsAllowedAndSaysWhy) {
    struct Row {
        const char* state;
        std::function<void()> enter, leave;
        const char* error;
        const char* message;
    };
    auto conv = c->convSpecs.front();
    const std::string out = c->destFolder;
    auto inputs = c->inputFiles;
    const auto Running = [](bool on) {
        ConversionProcess::Progress state;
        state.running = on;
        return state;
    };
    const Row rows[] = {
        {"playing", [&] { playback.playing = true; }, [&] { playback.playing = false; }, kBusyError,
         "A file is playing"},
        {"adding", [&] { c->addingFiles = true; }, [&] { c->addingFiles = false; }, kBusyError,
         "Files are being added"},
        {"sorting", [&] { c->sortingFiles = true; }, [&] { c->sortingFiles = false; }, kBusyError,
         "Files are being added"},
        {"driver running", [&] { c->conversionProcess().putProgressForTesting(Running(true)); },
         [&] { c->conversionProcess().putProgressForTesting(Running(false)); }, kBusyError,
         "A batch is running"},
        {"no inputs", [&] { c->inputFiles.clear(); }, [&] { c->inputFiles = inputs; },
         kNoInputsError, "There are no input files"},
        {"no active valid conversion", [&] { conv->setValid(false); },
         [&] { conv->setValid(true); }, kNoConversionError, "No active valid conversion"},
        {"inactive", [&] { conv->setActive(false); }, [&] { conv->setActive(true); },
         kNoConversionError, "No active valid conversion"},
        {"no output folder", [&] { c->setDestFolder(out + "/missing"); },
         [&] { c->setDestFolder(out); }, kNoOutputFolderError, "No output folder is set"},
    };
    for (const Row& row : rows) {
        row.enter();
        const QDBusMessage reply = Reply("Convert");
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage) << row.state;
        EXPECT_EQ(reply.errorName(), row.error) << row.state;
        EXPECT_EQ(reply.errorMessage(), row.message) << row.state;
        EXPECT_EQ(starts, 0) << row.state;
        row.leave();
    }
    EXPECT_TRUE(Call("Convert"));
    EXPECT_TRUE(PumpUntil([this] { return starts == 1; }));
}

// The reply does not wait for the user: a folder check that asks comes after it,
// as it does after a click on Start.
TEST_F(ScriptCommandTest, ConvertAnswersBeforeTheFolderChecksAsk) {
    fs::create_directories(dir / "out/Aiff");
    defaults.Set("Easy Thru", false);
    bool repliedFirst = false;
    QDBusPendingCall* pending = nullptr;
    alerts.whileShown = [&] {
        // The reply has left: the caller has it while the question is open.
        PumpUntil([&] { return pending && pending->isFinished(); }, 5000);
        repliedFirst = pending && pending->isFinished() && !pending->isError();
    };
    alerts.answers = {0};  // Use Existing Folder
    QDBusMessage m =
        QDBusMessage::createMethodCall(service, kScriptObjectPath, kApplicationId, "Convert");
    QDBusPendingCall call = client->asyncCall(m);
    pending = &call;
    EXPECT_TRUE(PumpUntil([this] { return starts == 1; }));
    EXPECT_TRUE(repliedFirst);
    ASSERT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(alerts.shown[0].title, "Warning: output folder already exists");
}

TEST_F(ScriptCommandTest, OpenTakesFullPathsOfWhatExistsAndListsTheRest) {
    // Links that lead to each other cannot be examined.
    fs::create_symlink(dir / "loop-b", dir / "loop-a");
    fs::create_symlink(dir / "loop-a", dir / "loop-b");
    const QString good = QString::fromStdString(dir / "in.wav");
    const QString missing = QString::fromStdString(dir / "gone.wav");
    const QString loop = QString::fromStdString(dir / "loop-a");
    const QDBusMessage reply =
        Reply("Open", {QStringList{"in.wav", good, missing, "./folder", loop}});
    EXPECT_EQ(added, QStringList{good});
    ASSERT_EQ(reply.type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(reply.errorName(), kBadPathsError);
    EXPECT_EQ(reply.errorMessage(), QStringList({"in.wav", "./folder", missing, loop}).join('\n'));
    // The error window lists them by reason.
    ASSERT_NE(c->addFilesErrors(), nullptr);
    QTreeWidget* table = c->addFilesErrors()->table();
    ASSERT_EQ(table->topLevelItemCount(), 3);
    const auto group = [table](int i) {
        QStringList texts{table->topLevelItem(i)->text(0)};
        for (int k = 0; k < table->topLevelItem(i)->childCount(); ++k)
            texts << table->topLevelItem(i)->child(k)->text(0);
        return texts;
    };
    EXPECT_EQ(group(0),
              QStringList({"The following paths are not full paths (starting with \"/\"), "
                           "so they were not added.",
                           "in.wav", "./folder"}));
    EXPECT_EQ(group(1), QStringList({"The following files or folders do not exist.", missing}));
    EXPECT_EQ(group(2),
              QStringList({"The following files or folders could not be examined: Too many "
                           "levels of symbolic links.",
                           loop}));
    // With nothing wrong there is no error.
    EXPECT_TRUE(Call("Open", {QStringList{good}}));
}

// Paths refused while an add run goes on are reported with that run's findings.
TEST_F(ScriptCommandTest, RefusedPathsJoinTheReportOfTheRunUnderWay) {
    MainServices s = Services();
    s.addFiles = nullptr;
    c = Make(s);
    script = std::make_unique<ScriptService>(nullptr, c.get());
    QDBusConnection::sessionBus().unregisterObject(kScriptObjectPath);
    ASSERT_TRUE(QDBusConnection::sessionBus().registerObject(
        kScriptObjectPath, script.get(), QDBusConnection::ExportScriptableSlots));
    testsupport::WriteFile(dir / "notes.txt", "not a sound");
    bool done = false;
    QObject::connect(c.get(), &MainController::filesAdded, [&done] { done = true; });
    const QString notes = QString::fromStdString(dir / "notes.txt");
    const QString missing = QString::fromStdString(dir / "gone.wav");
    EXPECT_FALSE(
        Call("Open", {QStringList{QString::fromStdString(dir / "in.wav"), notes, missing}}));
    ASSERT_TRUE(PumpUntil([&done] { return done; }));
    EXPECT_EQ(c->inputFiles.size(), 1u);
    QTreeWidget* table = c->addFilesErrors()->table();
    ASSERT_EQ(table->topLevelItemCount(), 2);
    EXPECT_EQ(table->topLevelItem(0)->child(0)->text(0), missing);
    EXPECT_EQ(table->topLevelItem(1)->child(0)->text(0), notes);
}

TEST_F(ScriptCommandTest, OpenShowsLogsAndAddsTheRest) {
    const std::string log = dir / "CorvaLog-20261205-193401.xwl";
    testsupport::WriteFile(log, "Corvane 4.0.0 Log File\n\xC3\x84rger\n");
    EXPECT_TRUE(Call("Open", {QStringList{QString::fromStdString(log),
                                          QString::fromStdString(dir / "in.wav")}}));
    ASSERT_EQ(c->logWindows().size(), 1);
    EXPECT_EQ(c->logWindows()[0]->logText(), QString::fromUtf8("Corvane 4.0.0 Log File\n\xC3\x84rger\n"));
    EXPECT_EQ(added, QStringList{QString::fromStdString(dir / "in.wav")});
}

TEST_F(ScriptCommandTest, ASecondInstanceHandsItsFilesOver) {
    ScriptService second(nullptr, c.get());
    EXPECT_EQ(RegisterScriptService(&second, *client, service),
              ScriptRegistration::kTakenByAnother);
    const QStringList files{QString::fromStdString(dir / "in.wav")};
    QDBusConnection bus = *client;
    auto handed = std::async(std::launch::async, [bus, files, this] {
        return HandOverToRunningInstance(files, bus, service);
    });
    PumpUntil([&handed] {
        return handed.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
    EXPECT_TRUE(handed.get());
    EXPECT_EQ(added, files);

    // A path the running instance refuses is still a hand-over; the caller hears which.
    const QStringList withMissing{QString::fromStdString(dir / "in.wav"),
                                  QString::fromStdString(dir / "gone.wav")};
    QString refused;
    auto partly = std::async(std::launch::async, [bus, withMissing, this, &refused] {
        return HandOverToRunningInstance(withMissing, bus, service, &refused);
    });
    PumpUntil([&partly] {
        return partly.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
    EXPECT_TRUE(partly.get());
    EXPECT_EQ(refused, QString::fromStdString(dir / "gone.wav"));
}

TEST(ScriptCommandWithoutBus, NothingIsExportedAndNothingFails) {
    QDBusConnection none = QDBusConnection::connectToBus(
        QString("unix:path=/nonexistent/corvane-bus"), "script-test-none");
    EXPECT_FALSE(none.isConnected());
    EXPECT_EQ(RegisterScriptService(nullptr, none), ScriptRegistration::kNoBus);
    EXPECT_FALSE(HandOverToRunningInstance({"/x.wav"}, none));
    QDBusConnection::disconnectFromBus("script-test-none");
}

}  // namespace
}  // namespace apptest
