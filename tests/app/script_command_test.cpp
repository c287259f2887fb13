// The script command over the session bus (skipped without one; scripts/test.sh
// provides one): Convert starts a batch only when a start is allowed, Open shows
// logs and hands the rest to the input list, a second instance hands its files
// over, and without a bus the application runs without the service.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <filesystem>
#include <future>

#include "app/corvane_app.h"
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
    // Calls a method from the other connection while this thread serves it.
    bool Call(const char* method, const QVariantList& args = {}) {
        QDBusMessage m =
            QDBusMessage::createMethodCall(service, kScriptObjectPath, kApplicationId, method);
        m.setArguments(args);
        QDBusPendingCall call = client->asyncCall(m);
        PumpUntil([&call] { return call.isFinished(); });
        return call.isFinished() && !call.isError();
    }
};

TEST_F(ScriptCommandTest, ConvertDoesNothingUnlessAStartIsAllowed) {
    struct Row {
        const char* state;
        std::function<void()> enter, leave;
    };
    auto conv = c->convSpecs.front();
    const std::string out = c->destFolder;
    auto inputs = c->inputFiles;
    const Row rows[] = {
        {"playing", [&] { playback.playing = true; }, [&] { playback.playing = false; }},
        {"adding", [&] { c->addingFiles = true; }, [&] { c->addingFiles = false; }},
        {"sorting", [&] { c->sortingFiles = true; }, [&] { c->sortingFiles = false; }},
        {"driver running", [&] { c->conversionProcess().setRunning(true); },
         [&] { c->conversionProcess().setRunning(false); }},
        {"no inputs", [&] { c->inputFiles.clear(); }, [&] { c->inputFiles = inputs; }},
        {"no active valid conversion", [&] { conv->setValid(false); },
         [&] { conv->setValid(true); }},
        {"no output folder", [&] { c->setDestFolder(out + "/missing"); },
         [&] { c->setDestFolder(out); }},
    };
    for (const Row& row : rows) {
        row.enter();
        EXPECT_TRUE(Call("Convert")) << row.state;
        EXPECT_EQ(starts, 0) << row.state;
        row.leave();
    }
    conv->setActive(false);
    EXPECT_TRUE(Call("Convert"));
    EXPECT_EQ(starts, 0) << "inactive";
    conv->setActive(true);
    EXPECT_TRUE(Call("Convert"));
    EXPECT_EQ(starts, 1);
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
