// The player of the input list on a recording output driven by Pump, with the
// main thread's queue drained by the test: what follows the end of a file
// (blip, next file, folder walk, list end), reports that arrive late, the same
// file started again, and failures of a start.
#include "playback/player.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "conversion/qf_sound_file.h"
#include "formats/register_sound_files.h"
#include "platform/named_exception.h"
#include "playback/au_player.h"
#include "playback/named_sound.h"
#include "playback_test_support.h"

namespace {

using playtest::RecordingOutput;
using testsupport::TempDir;

constexpr uint32_t kBlipFrames = 5292;

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
        observer_ = platform::NotificationCenter::Default().AddObserver(
            "", nullptr, [this](const platform::Notification& note) {
                if (note.name.rfind("Player File ", 0) == 0) posted_.push_back(note.name);
            });
    }
    void TearDown() override {
        player_.reset();
        platform::NotificationCenter::Default().RemoveObserver(observer_);
    }

    // A WAVE file of `frames` stereo frames at 44.1 kHz; its list entry.
    std::shared_ptr<QFSoundFile> Sound(const std::string& name, uint32_t frames) {
        const std::string path = dir_ / name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        playtest::WriteWave16(path, 2, 44100, 0x3, std::vector<float>(size_t(frames) * 2, 0.25f));
        return QFSoundFile::soundFileWithPath(path);
    }

    PlayerHooks Hooks() {
        PlayerHooks hooks;
        hooks.runOnMainThread = [this](std::function<void()> f) { queue_.Push(std::move(f)); };
        hooks.reportError = [this](const std::string& text) { errors_.push_back(text); };
        hooks.makeOutput = [this] {
            auto output = std::make_unique<RecordingOutput>();
            out_ = output.get();
            return output;
        };
        return hooks;
    }

    void Make(Player::FileList list, bool autoNext, bool blip, float varispeed = 1) {
        player_ = std::make_unique<Player>(std::move(list), varispeed, autoNext, blip, Hooks());
        player_->setVolume(0);
    }

    // Pumps and runs the main queue until nothing plays and nothing is queued.
    void Run(uint64_t maxFrames = 2000000) {
        for (uint64_t done = 0; done < maxFrames; done += AudioOutput::kBlockFrames) {
            if (out_) out_->Pump(AudioOutput::kBlockFrames);
            queue_.Drain();
            if (!player_->isPlaying() && queue_.Size() == 0) return;
        }
        ADD_FAILURE() << "still playing";
    }
    // Pumps until the end of the current file is queued for the main thread.
    void PumpUntilReported() {
        for (int i = 0; i < 4000 && queue_.Size() == 0; ++i) out_->Pump(AudioOutput::kBlockFrames);
        ASSERT_GT(queue_.Size(), 0u);
    }
    size_t Count(const char* name) const { return std::count(posted_.begin(), posted_.end(), name); }

    TempDir dir_;
    playtest::MainQueue queue_;
    RecordingOutput* out_ = nullptr;
    std::unique_ptr<Player> player_;
    std::vector<std::string> posted_;
    std::vector<std::string> errors_;
    platform::NotificationCenter::Token observer_ = 0;
};

// Run lengths within a frame or two per 1000 (the rate converter's rounding).
void ExpectRuns(const std::vector<uint32_t>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size()) << ::testing::PrintToString(got);
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(double(got[i]), want[i], want[i] * 0.002 + 1) << i;
}

TEST_F(PlayerTest, BlipAndAutoPlayNextDecideWhatFollows) {
    ASSERT_TRUE(Player::BlipFile() && Player::BlipFile()->isPlayable());
    ASSERT_EQ(Player::BlipFile()->numFrames(), kBlipFrames);
    const double a = 3001 / 2.0, b = 7003 / 2.0, blip = kBlipFrames;
    const struct {
        bool autoNext, blip;
        std::vector<double> runs;
    } cases[] = {
        {true, true, {a, blip, b, blip}},
        {false, true, {a, blip}},
        {true, false, {a, b}},
        {false, false, {a}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("auto ") + (c.autoNext ? "on" : "off") + ", blip " + (c.blip ? "on" : "off"));
        posted_.clear();
        out_ = nullptr;
        // The files play at twice the speed, the blip at its own.
        Make({Sound("a.wav", 3001), Sound("b.wav", 7003)}, c.autoNext, c.blip, 2.0f);
        player_->start();
        Run();
        ExpectRuns(out_->runs, c.runs);
        EXPECT_EQ(Count(XWPlayerStartNotification), c.runs.size());
        ASSERT_FALSE(posted_.empty());
        EXPECT_EQ(posted_.back(), XWPlayerStopNotification);
        EXPECT_TRUE(errors_.empty());
    }
}

// The blip mark belongs to the blip: a file the user picks while the blip
// plays gets its own speed and, at its end, its own blip.
TEST_F(PlayerTest, AFilePickedDuringTheBlipPlaysAtItsSpeedAndGetsItsBlip) {
    auto a = Sound("a.wav", 3001), b = Sound("b.wav", 7003);
    Make({a, b}, false, true, 2.0f);
    player_->start();
    PumpUntilReported();
    queue_.Drain();
    ASSERT_EQ(player_->playingFile(), Player::BlipFile());
    out_->Pump(1024);
    player_->stop();
    out_->Pump(512);
    queue_.Drain();
    player_->setFileFromList(b);
    player_->start();
    EXPECT_EQ(player_->auPlayer()->Varispeed(), 2.0f);
    Run();
    ASSERT_EQ(out_->runs.size(), 4u);
    EXPECT_EQ(out_->runs[1], 1024u);
    EXPECT_EQ(out_->runs[3], kBlipFrames);
}

// The blip only marks an end: once it is over and nothing follows (auto-play
// off, or the list at its end), or the user stops it, the file it followed is
// the playing file again, and a start plays that file, not the blip.
TEST_F(PlayerTest, AfterTheBlipAStartPlaysTheFileItFollowed) {
    auto a = Sound("a.wav", 3001), b = Sound("b.wav", 7003);
    for (bool autoNext : {false, true}) {
        SCOPED_TRACE(autoNext ? "auto-play on" : "auto-play off");
        out_ = nullptr;
        Make({a, b}, autoNext, true);
        if (autoNext) player_->setFileFromList(b);  // the last entry: nothing follows
        player_->start();
        Run();
        const auto ended = autoNext ? b : a;
        ASSERT_EQ(out_->runs, (std::vector<uint32_t>{ended->numFrames(), kBlipFrames}));
        EXPECT_EQ(player_->playingFile(), ended);
        // Play with that row selected, and with none.
        player_->setFileFromList(ended);
        player_->start();
        Run();
        player_->start();
        Run();
        EXPECT_EQ(out_->runs,
                  (std::vector<uint32_t>{ended->numFrames(), kBlipFrames, ended->numFrames(),
                                         kBlipFrames, ended->numFrames(), kBlipFrames}));
    }
    // Stopped or paused during the blip, or the blip switched off while it plays.
    for (int how = 0; how < 3; ++how) {
        SCOPED_TRACE(how);
        out_ = nullptr;
        Make({a, b}, false, true);
        player_->start();
        PumpUntilReported();
        queue_.Drain();
        ASSERT_EQ(player_->playingFile(), Player::BlipFile());
        out_->Pump(512);
        if (how == 0) player_->stop();
        if (how == 1) player_->pause();
        if (how == 2) player_->setBlipAtEnd(false);
        Run();
        EXPECT_EQ(player_->playingFile(), a);
        player_->start();
        EXPECT_EQ(player_->auPlayer()->Varispeed(), 1.0f);
        Run();
        // The file again, with its own blip while the blip is on.
        const std::vector<uint32_t> tail =
            how == 2 ? std::vector<uint32_t>{3001} : std::vector<uint32_t>{3001, kBlipFrames};
        ASSERT_GE(out_->runs.size(), 2 + tail.size());
        EXPECT_EQ(std::vector<uint32_t>(out_->runs.end() - tail.size(), out_->runs.end()), tail);
    }
}

// The end of a play reaches the main thread late: after a pause or a stop it
// only posts stop; a report of an earlier play, or of a released player, is dropped.
TEST_F(PlayerTest, ALateEndReportPostsOnlyWhatIsStillTrue) {
    for (bool pause : {true, false}) {
        SCOPED_TRACE(pause ? "pause" : "stop");
        posted_.clear();
        Make({Sound("a.wav", 3001), Sound("b.wav", 7003)}, true, true);
        player_->start();
        PumpUntilReported();
        pause ? player_->pause() : player_->stop();
        posted_.clear();
        Run();
        EXPECT_EQ(out_->runs, std::vector<uint32_t>{3001});
        EXPECT_EQ(posted_, std::vector<std::string>{XWPlayerStopNotification});
    }
    // The user picks another file before the main thread hears of the end.
    auto a = Sound("a.wav", 3001), b = Sound("b.wav", 30000);
    Make({a, b}, true, true);
    player_->start();
    PumpUntilReported();
    player_->setFileFromList(b);
    player_->start();
    posted_.clear();
    queue_.Drain();
    EXPECT_TRUE(posted_.empty());
    EXPECT_TRUE(player_->isPlaying());
    EXPECT_EQ(player_->playingFile(), b);
    // The player is released before the main thread hears of the end.
    posted_.clear();
    Make({a}, true, true);
    player_->start();
    PumpUntilReported();
    player_.reset();
    out_ = nullptr;
    EXPECT_EQ(queue_.Drain(), 1);
    EXPECT_EQ(Count(XWPlayerStopNotification), 0u);
}

TEST_F(PlayerTest, AFolderEntryPlaysItsFilesThenTheNextEntry) {
    Sound("folder/one.wav", 1001);
    Sound("folder/deeper/two.wav", 2001);
    testsupport::WriteFile(dir_ / "folder/notes.txt", "not a sound");
    auto folder = QFSoundFile::soundFileWithPath(dir_ / "folder");
    ASSERT_TRUE(folder->isDirectory());
    // The folder is the first entry: it starts playing as soon as the list is set.
    Make({folder, Sound("after.wav", 3001)}, true, false);
    EXPECT_TRUE(player_->isPlaying());
    EXPECT_TRUE(player_->isPlayingFolder());
    Run();
    ASSERT_EQ(out_->runs.size(), 3u);
    std::vector<uint32_t> fromFolder(out_->runs.begin(), out_->runs.begin() + 2);
    std::sort(fromFolder.begin(), fromFolder.end());
    EXPECT_EQ(fromFolder, (std::vector<uint32_t>{1001, 2001}));
    EXPECT_EQ(out_->runs[2], 3001u);
    EXPECT_EQ(posted_.back(), XWPlayerStopNotification);
}

TEST_F(PlayerTest, TheEndsOfTheListPostStop) {
    auto first = Sound("a.wav", 30000), second = Sound("b.wav", 1001);
    Make({first, second}, false, false);
    EXPECT_EQ(player_->nextFromInputList(), second);
    EXPECT_EQ(player_->previousFromInputList(), nullptr);
    player_->start();
    out_->Pump(2048);
    posted_.clear();
    // Before the first entry: stop is posted and the play goes on.
    player_->doPreviousFromInputList();
    EXPECT_EQ(posted_, std::vector<std::string>{XWPlayerStopNotification});
    EXPECT_TRUE(player_->isPlaying());
    player_->doNextFromInputList();
    EXPECT_EQ(player_->fileFromList(), second);
    Run();
    posted_.clear();
    player_->doNextFromInputList();
    EXPECT_EQ(posted_, std::vector<std::string>{XWPlayerStopNotification});
    EXPECT_EQ(player_->curFileIndex(), std::optional<size_t>(1));
}

TEST_F(PlayerTest, StartingTheSameFileAgainKeepsItsOpenFileAndStartsOver) {
    Make({Sound("a.wav", 30000)}, false, false);
    player_->start();
    out_->Pump(4096);
    AUPlayer* aup = player_->auPlayer();
    ASSERT_NE(aup, nullptr);
    player_->setPlayingFile(QFSoundFile::soundFileWithPath(player_->playingFile()->path()));
    player_->start();
    EXPECT_EQ(player_->auPlayer(), aup);
    Run();
    // The first play was cut short by the second, which ran whole.
    EXPECT_EQ(out_->left.size(), 4096u + 30000u);
    EXPECT_EQ(Count(XWPlayerStopNotification), 1u);
}

TEST_F(PlayerTest, VarispeedBeforeAnyPlayIsKeptForTheFirstStart) {
    Make({Sound("a.wav", 10000)}, false, false);
    player_->setVarispeed(0.5f);
    EXPECT_EQ(player_->auPlayer(), nullptr);
    player_->start();
    EXPECT_EQ(player_->auPlayer()->Varispeed(), 0.5f);
    Run();
    ExpectRuns(out_->runs, {20000});
}

void ExpectNamedException(const std::function<void()>& f, const std::string& name) {
    try {
        f();
        ADD_FAILURE() << "no exception";
    } catch (const platform::NamedException& e) {
        EXPECT_EQ(e.name(), name);
    }
}

TEST_F(PlayerTest, AnEmptyListAndStartFailuresRaiseAndAFailureInAutoPlayIsReported) {
    ExpectNamedException([this] { Player player({}, 1, false, false, Hooks()); }, "BOOL Exception");
    // A playing file that has no sound file behind it.
    Make({Sound("a.wav", 3001)}, false, false);
    player_->setPlayingFile(std::make_shared<QFSoundFile>());
    posted_.clear();
    ExpectNamedException([this] { player_->start(); }, "OSErr Exception");
    EXPECT_EQ(Count(XWPlayerStartNotification), 0u);

    // The next file is gone by the time auto-play reaches it.
    auto a = Sound("a2.wav", 3001), gone = Sound("gone.wav", 3001);
    ASSERT_TRUE(gone->isPlayable());
    ASSERT_EQ(::unlink(gone->path().c_str()), 0);
    posted_.clear();
    Make({a, gone}, true, false);
    player_->start();
    Run();
    EXPECT_EQ(out_->runs, std::vector<uint32_t>{3001});
    EXPECT_EQ(posted_.back(), XWPlayerStopNotification);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_FALSE(errors_[0].empty());
    EXPECT_FALSE(player_->isPlaying());
}

// An edit keeps the current entry wherever it moves, playing or not; only when
// it leaves the list does its play stop, and the first entry (a folder here)
// becomes current without playing.
TEST_F(PlayerTest, AnEditOfTheListKeepsItsCurrentEntryAndNeverStartsOne) {
    Sound("folder/one.wav", 1001);
    auto folder = QFSoundFile::soundFileWithPath(dir_ / "folder");
    auto a = Sound("a.wav", 300000), b = Sound("b.wav", 3001), c = Sound("c.wav", 3001);
    Make({a}, false, false);
    player_->start();
    out_->Pump(1024);
    posted_.clear();
    player_->setInputFiles({b, a, folder});
    EXPECT_EQ(player_->fileFromList(), a);
    EXPECT_EQ(player_->playingFile(), a);
    EXPECT_TRUE(player_->isPlaying());
    EXPECT_EQ(player_->curFileIndex(), std::optional<size_t>(1));
    EXPECT_EQ(player_->nextFromInputList(), folder);
    EXPECT_TRUE(posted_.empty());

    // Paused, the entry leaves: nothing starts, not even the folder now first.
    player_->pause();
    posted_.clear();
    player_->setInputFiles({folder, b});
    EXPECT_EQ(player_->fileFromList(), folder);
    EXPECT_EQ(player_->playingFile()->path(), dir_ / "folder/one.wav");
    EXPECT_FALSE(player_->isPlaying());
    EXPECT_EQ(Count(XWPlayerStartNotification), 0u);
    // A start then plays the folder's first file.
    player_->start();
    EXPECT_TRUE(player_->isPlaying());

    // Playing, the entry leaves: the play stops.
    posted_.clear();
    player_->setInputFiles({c, b});
    EXPECT_FALSE(player_->isPlaying());
    EXPECT_EQ(player_->fileFromList(), c);
    EXPECT_EQ(player_->playingFile(), c);
    EXPECT_GE(Count(XWPlayerStopNotification), 1u);
    EXPECT_EQ(Count(XWPlayerStartNotification), 0u);
}

// Whole runs on the real null and capture devices: a file, the blip and the
// next file, told apart in the capture by their lengths and contents.
TEST_F(PlayerTest, FileBlipAndNextFileEndToEndOnNullAndCapture) {
    const std::string capturePath = dir_ / "capture.wav";
    for (bool capture : {false, true}) {
        SCOPED_TRACE(capture ? "capture" : "null");
        auto a = Sound("a.wav", 3001);
        const std::string bPath = dir_ / "b.wav";
        playtest::WriteWave16(bPath, 2, 44100, 0x3, std::vector<float>(size_t(7003) * 2, -0.5f));
        PlayerHooks hooks = Hooks();
        AudioOutput* device = nullptr;
        hooks.makeOutput = [&] {
            std::unique_ptr<AudioOutput> output =
                capture ? MakeCaptureOutput(capturePath, true) : MakeNullOutput(true);
            device = output.get();
            return output;
        };
        out_ = nullptr;
        posted_.clear();
        player_ = std::make_unique<Player>(Player::FileList{a, QFSoundFile::soundFileWithPath(bPath)},
                                           1.0f, true, false, hooks);
        player_->setVolume(0);
        player_->setBlipAtEnd(true);
        player_->start();
        for (int i = 0; i < 1000 && (player_->isPlaying() || queue_.Size()); ++i) {
            device->Pump(AudioOutput::kBlockFrames);
            queue_.Drain();
        }
        EXPECT_FALSE(player_->isPlaying());
        EXPECT_EQ(Count(XWPlayerStartNotification), 4u);  // a, blip, b, blip
        player_.reset();
        if (!capture) continue;
        const playtest::FloatWave got = playtest::ReadFloatWave(capturePath);
        ASSERT_EQ(got.channels, 2);
        EXPECT_EQ(got.rate, 44100u);
        ASSERT_EQ(got.frames(), 3001u + kBlipFrames + 7003u + kBlipFrames);
        // (16-bit samples are read with a scale a hair above 2^-15.)
        auto frameIs = [&](size_t f, float v) {
            return std::fabs(got.samples[2 * f] - v) < 1e-6f && std::fabs(got.samples[2 * f + 1] - v) < 1e-6f;
        };
        for (size_t f = 0; f < 3001; ++f) ASSERT_TRUE(frameIs(f, 0.25f)) << f;
        EXPECT_FALSE(frameIs(3001, 0.25f));
        for (size_t f = 3001 + kBlipFrames; f < 3001 + kBlipFrames + 7003; ++f)
            ASSERT_TRUE(frameIs(f, -0.5f)) << f;
    }
}

// The device the environment names, with its own output thread at real-time pace.
TEST_F(PlayerTest, PlaysToTheEndOnTheDeviceTheEnvironmentNames) {
    const std::string capturePath = dir_ / "threaded.wav";
    playtest::ScopedEnv env("CORVANE_AUDIO_OUTPUT", "capture:" + capturePath);
    PlayerHooks hooks = Hooks();
    hooks.makeOutput = nullptr;
    player_ = std::make_unique<Player>(Player::FileList{Sound("a.wav", 3001), Sound("b.wav", 7003)},
                                       1.0f, true, false, hooks);
    player_->setVolume(0);
    posted_.clear();
    player_->start();
    // a starts; b replaces it (stop, start); nothing follows b (stop).
    for (int i = 0; i < 5000 && !(posted_.size() >= 4 && posted_.back() == XWPlayerStopNotification); ++i) {
        queue_.Drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(Count(XWPlayerStartNotification), 2u);
    EXPECT_FALSE(player_->isPlaying());
    player_.reset();
    EXPECT_EQ(playtest::ReadFloatWave(capturePath).frames(), 3001u + 7003u);
}

TEST_F(PlayerTest, NamedSoundsPlayWithoutTellingThePlayer) {
    Make({Sound("a.wav", 30000)}, true, true);
    RecordingOutput* soundOut = nullptr;
    NamedSoundPlayer sounds([&] {
        auto output = std::make_unique<RecordingOutput>();
        soundOut = output.get();
        return output;
    });
    for (const char* name : {"Bliep", "Toeter", "Pieieng"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(sounds.Play(name));
        for (int i = 0; i < 200 && sounds.IsPlaying(); ++i) soundOut->Pump(AudioOutput::kBlockFrames);
        EXPECT_FALSE(sounds.IsPlaying());
    }
    EXPECT_EQ(soundOut->runs, (std::vector<uint32_t>{kBlipFrames, 19845, 26460}));
    EXPECT_FALSE(sounds.Play("NoSuchSound"));
    EXPECT_EQ(queue_.Size(), 0u);
}

TEST(AudioOutputChoice, TheEnvironmentChoosesTheBackend) {
    TempDir dir;
    const struct {
        std::string value;
        std::vector<std::string> names;  // any of these
    } cases[] = {
        {"null", {"null"}},
        {"capture:" + (dir / "c.wav"), {"capture"}},
        {"capture:" + (dir / "missing/c.wav"), {"null"}},
        {"", {"pulse", "null"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        playtest::ScopedEnv env("CORVANE_AUDIO_OUTPUT", c.value);
        auto output = MakeAudioOutput();
        ASSERT_TRUE(output);
        EXPECT_NE(std::find(c.names.begin(), c.names.end(), output->Name()), c.names.end())
            << output->Name();
    }
}

}  // namespace
