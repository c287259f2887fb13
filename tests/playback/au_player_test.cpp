// The audio player on manual outputs driven by Pump: what a play delivers and
// when it reports its end, the mix-down against sox, volume, rate and speed,
// pause, the output loop's end after a long silence, failures of the file, files
// of an impossible rate or no channels, and play, pause, swap and teardown looped
// on real output threads.
#include "playback/au_player.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

#include "conversion/qf_sound_file.h"
#include "formats/register_sound_files.h"
#include "formats/format_test_support.h"
#include "playback_test_support.h"

namespace {

using playtest::MadeUpFile;
using playtest::RecordingOutput;
using playtest::Sample;
using testsupport::TempDir;

struct Reports {
    std::mutex mutex;
    std::vector<uint64_t> tokens;
    void Add(uint64_t token) {
        std::lock_guard<std::mutex> lock(mutex);
        tokens.push_back(token);
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return tokens.size();
    }
};

// A player on a recording output; the output stays reachable through `out`.
struct Rig {
    Reports reports;
    RecordingOutput* out = nullptr;
    std::unique_ptr<AUPlayer> player;

    explicit Rig(MadeUpFile::Script script = {}, std::unique_ptr<RecordingOutput> output = nullptr) {
        if (!output) output = std::make_unique<RecordingOutput>();
        out = output.get();
        player = std::make_unique<AUPlayer>(
            new MadeUpFile(script), [this](const char*, uint64_t token) { reports.Add(token); },
            std::move(output));
    }
    // Pumps block by block until the play reports its end; false when it never does.
    bool PlayToEnd(uint64_t maxFrames) {
        const size_t before = reports.Count();
        for (uint64_t done = 0; done < maxFrames; done += AudioOutput::kBlockFrames) {
            out->Pump(AudioOutput::kBlockFrames);
            if (reports.Count() > before) return true;
        }
        return false;
    }
};

// (The mix-down of the surround layouts and the volume are checked against sox below.)
TEST(AUPlayer, SelectionsAndLayoutsPlayEachFrameOnceAndReportTheirEnd) {
    struct Case {
        const char* name;
        uint32_t fileFrames, start, end, expected;
        uint32_t channels = 2;
        CSoundFile::ChannelConfiguration configuration = CSoundFile::kStereo;
        uint32_t rightChannel = 1;  // mono plays on both sides, others their first two channels
    };
    const Case cases[] = {
        {"a whole ring from frame 0", 49152, 0, 49152, 49152},
        {"shorter than a chunk", 1000, 0, 1000, 1000},
        {"exactly a chunk", 30000, 0, 24576, 24576},
        {"from the middle, across chunks", 100000, 100, 30100, 30000},
        {"several rings", 130000, 0, 130000, 130000},
        {"an end past the file is cut to it", 1000, 0, 5000, 1000},
        {"an empty selection ends at once", 5000, 300, 300, 0},
        {"mono", 30000, 0, 30000, 30000, 1, CSoundFile::kMono, 0},
        {"17 channels", 30000, 0, 30000, 30000, 17, CSoundFile::kMultichannel, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MadeUpFile::Script script;
        script.frames = c.fileFrames;
        script.channels = c.channels;
        script.configuration = c.configuration;
        Rig rig(script);
        rig.player->Play(c.start, c.end, 77);
        EXPECT_TRUE(rig.player->IsPlaying());
        ASSERT_TRUE(rig.PlayToEnd(c.expected + 8 * AudioOutput::kBlockFrames));
        EXPECT_FALSE(rig.player->IsPlaying());
        ASSERT_EQ(rig.out->left.size(), c.expected);
        for (uint32_t i = 0; i < c.expected; ++i) {
            ASSERT_EQ(rig.out->left[i], Sample(c.start + i, 0)) << i;
            ASSERT_EQ(rig.out->right[i], Sample(c.start + i, c.rightChannel)) << i;
        }
        EXPECT_EQ(rig.player->Cursor(), c.start + c.expected);
        ASSERT_EQ(rig.reports.Count(), 1u);
        EXPECT_EQ(rig.reports.tokens[0], 77u);
        // Nothing more comes, and no second report.
        rig.out->Pump(4 * AudioOutput::kBlockFrames);
        EXPECT_EQ(rig.out->left.size(), c.expected);
        EXPECT_EQ(rig.reports.Count(), 1u);
    }
}

TEST(AUPlayer, PauseEmptiesTheRingAndTheNextPlayStartsAgain) {
    MadeUpFile::Script script;
    script.frames = 100000;
    Rig rig(script);
    rig.player->Play(0, 100000);
    rig.out->Pump(5120);
    rig.player->Pause();
    EXPECT_FALSE(rig.player->IsPlaying());
    rig.out->Pump(5120);
    ASSERT_EQ(rig.out->left.size(), 5120u);
    rig.player->Play(0, 100000);
    rig.out->Pump(1024);
    ASSERT_EQ(rig.out->left.size(), 6144u);
    EXPECT_EQ(rig.out->left[5120], Sample(0, 0));
    EXPECT_EQ(rig.out->left[6143], Sample(1023, 0));
    EXPECT_EQ(rig.reports.Count(), 0u);
    // Stop(false) reports nothing either; Stop(true) reports like an end.
    rig.player->Stop(false);
    EXPECT_EQ(rig.reports.Count(), 0u);
    rig.player->Play(0, 100000, 5);
    rig.player->Stop(true);
    ASSERT_EQ(rig.reports.Count(), 1u);
    EXPECT_EQ(rig.reports.tokens[0], 5u);
}

TEST(AUPlayer, LongSilenceEndsTheOutputLoopAndPlayStartsItAgain) {
    Rig rig;  // 1000 frames
    EXPECT_TRUE(rig.player->IsEngineRunning());
    rig.player->Play(0, 1000);
    ASSERT_TRUE(rig.PlayToEnd(4096));
    rig.out->Pump(AUPlayer::kSilentStopFrames - 2 * AudioOutput::kBlockFrames);
    EXPECT_TRUE(rig.player->IsEngineRunning());
    rig.out->Pump(4 * AudioOutput::kBlockFrames);
    EXPECT_FALSE(rig.player->IsEngineRunning());
    rig.player->Play(0, 1000);
    EXPECT_TRUE(rig.player->IsEngineRunning());
    ASSERT_TRUE(rig.PlayToEnd(4096));
    EXPECT_EQ(rig.out->left.size(), 2000u);
}

TEST(AUPlayer, AFileThatFailsOrEndsEarlyEndsThePlayAtItsLastFrame) {
    struct Case {
        const char* name;
        uint32_t failAt, realFrames, expected;
    };
    const Case cases[] = {
        // The first chunk is read by Play; the read of the second fails.
        {"a failing read", 30000, UINT32_MAX, AUPlayer::kChunkFrames},
        {"data shorter than the header says", UINT32_MAX, 30000, 30000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MadeUpFile::Script script;
        script.frames = 100000;
        script.failAt = c.failAt;
        script.realFrames = c.realFrames;
        Rig rig(script);
        rig.player->Play(0, 100000);
        ASSERT_TRUE(rig.PlayToEnd(120000));
        EXPECT_EQ(rig.out->left.size(), c.expected);
        EXPECT_FALSE(rig.player->IsPlaying());
    }
}

TEST(AUPlayer, AFileThatCannotOpenIsNotKept) {
    Rig rig;
    MadeUpFile::Script bad;
    bad.openStatus = -43;
    try {
        rig.player->SetSoundFile(new MadeUpFile(bad));
        FAIL() << "no exception";
    } catch (const error_code_exception& e) {
        EXPECT_EQ(e.error_code(), -43);
    }
    EXPECT_FALSE(rig.player->HasSoundFile());
    EXPECT_THROW(rig.player->Play(0, 1000), error_code_exception);
    rig.out->Pump(2048);
    EXPECT_TRUE(rig.out->left.empty());
    // A good file afterwards plays.
    rig.player->SetSoundFile(new MadeUpFile({}));
    rig.player->Play(0, 1000);
    ASSERT_TRUE(rig.PlayToEnd(4096));
    EXPECT_EQ(rig.out->left.size(), 1000u);
}

TEST(AUPlayer, AFileOfAnImpossibleRateOrNoChannelsIsRefused) {
    Rig rig;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, uint32_t> rows[] = {
        {0, 2}, {-44100, 2}, {nan, 2}, {inf, 2}, {0.5, 2}, {2e7, 2}, {44100, 0},
    };
    for (const auto& [rate, channels] : rows) {
        SCOPED_TRACE(testing::Message() << rate << " Hz, " << channels << " channels");
        MadeUpFile::Script bad;
        bad.rate = rate;
        bad.channels = channels;
        try {
            rig.player->SetSoundFile(new MadeUpFile(bad));
            ADD_FAILURE() << "no exception";
        } catch (const error_code_exception& e) {
            EXPECT_EQ(e.error_code(),
                      channels ? kIncompatibleSampleRateErr : kIncompatibleChannelsErr);
        }
        EXPECT_FALSE(rig.player->HasSoundFile());
    }
}

TEST(AUPlayer, VarispeedChangesTheLengthAndIsClamped) {
    const struct {
        float rate;
        double deviceRate, fileRate;
        double expected;  // frames played of 20000
    } cases[] = {
        {2.0f, 44100, 44100, 10000},
        {0.5f, 44100, 44100, 40000},
        {1.0f, 48000, 44100, 20000 * 48000.0 / 44100},
        // Beyond the converter's range: held at 1/256, and the play still ends.
        {1.0f, 2000, 1e6, 20000 / 256.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileRate * c.rate / c.deviceRate);
        MadeUpFile::Script script;
        script.frames = 20000;
        script.rate = c.fileRate;
        auto output = std::make_unique<RecordingOutput>(c.deviceRate);
        output->followRate = false;
        Rig rig(script, std::move(output));
        rig.player->SetVarispeed(c.rate);
        rig.player->Play(0, 20000);
        ASSERT_TRUE(rig.PlayToEnd(100000));
        EXPECT_NEAR(double(rig.out->left.size()), c.expected, std::max(c.expected * 0.01, 3.0));
    }
    Rig rig;
    const struct {
        float in, out;
    } clamps[] = {{10, 4}, {0.1f, 0.25f}, {-1, 0.25f}, {std::numeric_limits<float>::quiet_NaN(), 1},
                  {std::numeric_limits<float>::infinity(), 4}, {1.5f, 1.5f}};
    for (const auto& c : clamps) {
        EXPECT_NO_THROW(rig.player->SetVarispeed(c.in));
        EXPECT_EQ(rig.player->Varispeed(), c.out) << c.in;
    }
}

// Play, pause, swap and teardown on output threads of their own, two players
// at once, with the output loops running at real-time pace.
TEST(AUPlayer, PlayPauseSwapAndTeardownLoopedOnOutputThreads) {
    auto work = [](int seed) {
        std::mt19937 random(seed);
        for (int i = 0; i < 12; ++i) {
            MadeUpFile::Script script;
            script.frames = 60000;
            script.channels = 1 + random() % 6;
            script.configuration = CSoundFile::kMultichannel;
            std::atomic<int> reports{0};
            AUPlayer player(new MadeUpFile(script), [&](const char*, uint64_t) { ++reports; },
                            MakeNullOutput(false, 400000));
            // Lets the output thread render (and the loader load) before the next step.
            auto progress = [&](uint32_t from) {
                for (int spin = 0; spin < 200000 && player.IsPlaying() && player.Cursor() < from + 600;
                     ++spin)
                    std::this_thread::yield();
            };
            player.Play(0, 60000);
            progress(0);
            for (int step = 0; step < 4; ++step) {
                switch (random() % 4) {
                    case 0: player.Pause(); break;
                    case 1: {
                        const uint32_t from = random() % 1000;
                        player.Play(from, 60000);
                        progress(from);
                        break;
                    }
                    case 2:
                        player.SetSoundFile(new MadeUpFile(script));
                        player.Play(0, 3000);
                        progress(0);
                        break;
                    case 3: player.SetVarispeed(0.5f + (random() % 8) * 0.5f); break;
                }
            }
        }
    };
    std::thread other(work, 1);
    work(2);
    other.join();
}

// ---------------------------------------------------------------------------
// Through a real WAV capture, against sox.

class AUPlayerCapture : public ::testing::Test {
protected:
    void SetUp() override { RegisterSoundFiles(CSoundFile::GetFileTypeInfo()); }

    // Plays `input` whole into a capture file and returns what was captured.
    playtest::FloatWave PlayThroughCapture(const std::string& input, float volume) {
        const std::string capture = dir_ / ("capture" + std::to_string(count_++) + ".wav");
        auto entry = QFSoundFile::soundFileWithPath(input);
        EXPECT_TRUE(entry->isPlayable());
        short error = 0;
        SoundFilePtr file = entry->createSoundFile(&error);
        EXPECT_TRUE(file);
        if (!file) return {};
        std::atomic<int> reports{0};
        auto output = MakeCaptureOutput(capture, true);
        AudioOutput* out = output.get();
        {
            AUPlayer player(file.release(), [&](const char*, uint64_t) { ++reports; }, std::move(output));
            player.SetVolume(volume);
            player.Play(0, entry->numFrames());
            for (uint32_t done = 0; reports == 0 && done < entry->numFrames() + 8192;
                 done += AudioOutput::kBlockFrames)
                out->Pump(AudioOutput::kBlockFrames);
            EXPECT_EQ(reports, 1);
        }
        return playtest::ReadFloatWave(capture);
    }

    TempDir dir_;
    int count_ = 0;
};

float PeakDifference(const playtest::FloatWave& a, const playtest::FloatWave& b) {
    float peak = 0;
    for (size_t i = 0; i < std::min(a.samples.size(), b.samples.size()); ++i)
        peak = std::max(peak, std::fabs(a.samples[i] - b.samples[i]));
    return peak;
}

TEST_F(AUPlayerCapture, MixDownAndVolumeMatchSox) {
    if (!testsupport::HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
    struct Case {
        const char* name;
        uint16_t channels;
        uint32_t mask;
        float volume;
        std::string effect;
    };
    const Case cases[] = {
        {"mono", 1, 0x4, 0, "remix 1 1"},
        {"stereo at -6 dB", 2, 0x3, -6, "vol -6dB"},
        {"quad", 4, 0x33, 0, "remix 1,3v0.707 2,4v0.707"},
        {"5.1", 6, 0x3F, 0, "remix 1,3v0.707,4v0.5,5v0.707 2,3v0.707,4v0.5,6v0.707"},
        {"7.1", 8, 0xFF, 0,
         "remix 1v0.707,2v0.866,3v0.5,4,6v0.707,8v0.5 1v0.707,2v0.5,3v0.866,5,7v0.707,8v0.5"},
    };
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.2f, 0.2f);
    const uint32_t frames = 30011;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> samples(size_t(frames) * c.channels);
        for (float& s : samples) s = noise(random);
        const std::string in = dir_ / (std::string("in") + std::to_string(count_) + ".wav");
        const std::string expected = dir_ / (std::string("exp") + std::to_string(count_) + ".wav");
        playtest::WriteWave16(in, c.channels, 48000, c.mask, samples);
        ASSERT_TRUE(formattest::RunCommand("sox " + formattest::Quote(in) +
                                           " -e floating-point " + formattest::Quote(expected) +
                                           " " + c.effect));
        const playtest::FloatWave want = playtest::ReadFloatWave(expected);
        const playtest::FloatWave got = PlayThroughCapture(in, c.volume);
        ASSERT_EQ(want.channels, 2);
        ASSERT_EQ(got.channels, 2);
        EXPECT_EQ(got.rate, 48000u);
        ASSERT_EQ(got.frames(), frames);
        ASSERT_EQ(want.frames(), frames);
        EXPECT_LT(PeakDifference(got, want), 1e-6f);
    }
}

}  // namespace
