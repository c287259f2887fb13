// Scripted stand-ins for the desktop services and a fixture that makes a main
// controller over a store of its own, with no mp3 probe unless a test asks.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/desktop_services.h"
#include "app/main_controller.h"
#include "conversion/conv_spec.h"
#include "conversion/qf_sound_file.h"
#include "platform/user_defaults.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

namespace apptest {

struct ScriptedAlerts : Alerts {
    struct Shown {
        QString title, message;
        QStringList buttons;
    };
    std::vector<Shown> shown;
    std::deque<int> answers;  // 1 when none is left
    std::function<void()> whileShown;  // runs while an alert is up
    int run(QWidget*, const QString& title, const QString& message, const QString& b1,
            const QString& b2, const QString& b3) override {
        shown.push_back({title, message, {b1, b2, b3}});
        if (whileShown) whileShown();
        if (answers.empty()) return 1;
        const int a = answers.front();
        answers.pop_front();
        return a;
    }
};

struct ScriptedDialogs : FileDialogs {
    QStringList answers;  // empty: cancelled
    QString Next() { return answers.isEmpty() ? QString() : answers.takeFirst(); }
    QString openFile(QWidget*, const QString&, const QStringList&) override { return Next(); }
    QString saveFile(QWidget*, const QString&, const QString&) override { return Next(); }
    QString chooseFolder(QWidget*, const QString&) override { return Next(); }
};

struct ScriptedWorkspace : Workspace {
    QStringList opened, revealed;
    bool refuses = false;  // no application opens anything
    bool open(const QString& p) override { return opened << p, !refuses; }
    bool reveal(const QString& p) override { return revealed << p, !refuses; }
    QIcon icon(const QString&) override { return QIcon(); }
    QString typeName(const QString&) override { return "file"; }
};

struct FakePlayback : PlaybackControl {
    bool playing = false;
    int stops = 0;
    bool isPlaying() const override { return playing; }
    void stop() override {
        playing = false;
        ++stops;
    }
};

// Processes events until `done` or about ten seconds have passed.
template <class Done>
bool PumpUntil(Done done, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return done();
}

// A 16-bit mono WAVE file of `frames` frames of a ramp.
inline void WriteWave(const std::string& path, uint32_t frames, uint32_t rate = 8000) {
    std::string b;
    auto u32 = [&b](uint32_t v) { for (int i = 0; i < 4; ++i) b += char(v >> (8 * i)); };
    auto u16 = [&b](uint16_t v) { b += char(v & 0xFF), b += char(v >> 8); };
    b += "RIFF", u32(36 + frames * 2), b += "WAVEfmt ", u32(16), u16(1), u16(1), u32(rate),
        u32(rate * 2), u16(2), u16(16), b += "data", u32(frames * 2);
    for (uint32_t i = 0; i < frames; ++i) u16(static_cast<uint16_t>(i * 7));
    testsupport::WriteFile(path, b);
}

inline std::shared_ptr<ConvSpec> AiffConversion(const std::string& name) {
    auto conv = std::make_shared<ConvSpec>();
    conv->setConversionName(name);
    conv->setOutputFileType(FourCC("AIFF"));
    conv->setNeedsStrictFileType(true);
    conv->setActive(true);
    conv->setValid(true);
    return conv;
}

struct AppTest : ::testing::Test {
    testsupport::TempDir dir;
    platform::UserDefaults defaults{dir / "prefs.plist"};
    ScriptedAlerts alerts;
    ScriptedDialogs dialogs;
    ScriptedWorkspace workspace;
    FakePlayback playback;
    QStringList added;
    int preferencesOpened = 0;
    int hardExits = 0;

    MainServices Services() {
        MainServices s;
        s.defaults = &defaults;
        s.alerts = &alerts;
        s.dialogs = &dialogs;
        s.workspace = &workspace;
        s.playback = &playback;
        s.boot.probeMp3Encoder = false;
        s.addFiles = [this](const QStringList& paths) { added << paths; };
        s.openLoggingPreferences = [this] { ++preferencesOpened; };
        s.exitWithoutCleanup = [this] { ++hardExits; };
        return s;
    }
    // A controller after start-up, with its window unless told otherwise.
    std::unique_ptr<MainController> Make(MainServices s, bool window = true) {
        auto c = std::make_unique<MainController>(std::move(s));
        EXPECT_TRUE(c->init());
        if (window) c->awakeFromNib();
        return c;
    }
    std::unique_ptr<MainController> Make() { return Make(Services()); }

    // Runs a whole batch of `inputs` through a controller without a window and
    // returns the log it saved (empty when it saved none); the log file is removed.
    std::string RunBatchForLog(const std::vector<std::string>& inputs) {
        auto c = Make(Services(), false);
        for (const std::string& path : inputs)
            c->inputFiles.push_back(QFSoundFile::soundFileWithPath(path));
        bool finished = false;
        QObject::connect(c.get(), &MainController::batchFinished, [&finished] { finished = true; });
        EXPECT_TRUE(c->doStart());
        EXPECT_TRUE(PumpUntil([&finished] { return finished; }));
        const plist::Value stored = defaults.Get("Last Used Log");
        const plist::Value* last = stored.find("QFStringValue");
        if (!last) return std::string();
        const std::string text = testsupport::ReadFile(last->asString());
        std::remove(last->asString().c_str());
        return text;
    }
};

}  // namespace apptest
