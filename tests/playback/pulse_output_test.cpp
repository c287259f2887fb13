// The PulseAudio output against a headless server of the test's own: a null
// sink recorded from its monitor with parec, compared like the capture output.
// Skipped where pulseaudio or parec is not installed.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <random>
#include <thread>

#include "conversion/qf_sound_file.h"
#include "formats/register_sound_files.h"
#include "playback/au_player.h"
#include "formats/format_test_support.h"
#include "playback_test_support.h"

extern char** environ;

namespace {

using testsupport::TempDir;

// A shell command started in the background; ended (by its id) when dropped.
class Child {
public:
    explicit Child(const std::string& command) {
        const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        if (posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
    }
    ~Child() { End(); }
    void End() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    bool Started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// Polls `ready` for up to five seconds.
template <class F>
bool WaitFor(F ready) {
    for (int i = 0; i < 100; ++i) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST(PulseOutput, PlaysThroughAHeadlessServer) {
    if (!testsupport::HaveProgram("pulseaudio") || !testsupport::HaveProgram("parec"))
        GTEST_SKIP() << "pulseaudio and parec are not installed";
    RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
    TempDir dir;
    const std::string socket = dir / "native";
    const std::string server = "unix:" + socket;
    Child pulse("exec env HOME=" + dir.path() + " XDG_RUNTIME_DIR=" + dir.path() +
                " pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no"
                " -L 'module-null-sink sink_name=corvane_sink rate=48000 format=float32le'"
                " -L 'module-native-protocol-unix auth-anonymous=1 socket=" + socket + "'"
                " --log-target=file:" + (dir / "pulse.log"));
    ASSERT_TRUE(pulse.Started());
    playtest::ScopedEnv restore("PULSE_SERVER", server);

    std::unique_ptr<AudioOutput> output;
    ASSERT_TRUE(WaitFor([&] { return (output = MakePulseOutput()) != nullptr; }))
        << testsupport::ReadFile(dir / "pulse.log");
    EXPECT_STREQ(output->Name(), "pulse");

    const std::string recording = dir / "recording.raw";
    Child parec("exec parec --server=" + server +
                " -d corvane_sink.monitor --format=float32le --rate=48000 --channels=2 --raw > " +
                recording);
    ASSERT_TRUE(WaitFor([&] {
        std::string listed;
        return formattest::RunCommand("pactl --server=" + server + " list short source-outputs", &listed) &&
               !listed.empty();
    }));

    // Half a second of 5.1 noise whose samples are never near 0, so that the
    // first one marks where the sound begins in the recording.
    const uint32_t frames = 24000;
    std::mt19937 random(3);
    std::uniform_real_distribution<float> magnitude(0.05f, 0.15f);
    std::vector<float> samples(size_t(frames) * 6);
    for (float& s : samples) s = (random() & 1 ? 1 : -1) * magnitude(random);
    const std::string input = dir / "in.wav";
    playtest::WriteWave16(input, 6, 48000, 0x3F, samples);
    auto entry = QFSoundFile::soundFileWithPath(input);
    short error = 0;
    SoundFilePtr file = entry->createSoundFile(&error);
    ASSERT_TRUE(file);
    std::atomic<int> reports{0};
    {
        AUPlayer player(file.release(), [&](const char*, uint64_t) { ++reports; }, std::move(output));
        player.Play(0, frames);
        ASSERT_TRUE(WaitFor([&] { return reports > 0; }));
        // The server's queue drains into the sink.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    parec.End();

    const std::string bytes = testsupport::ReadFile(recording);
    std::vector<float> got(bytes.size() / 4);
    std::memcpy(got.data(), bytes.data(), got.size() * 4);
    // The recording holds silence before the sound and, on a loaded machine,
    // wherever the stream ran dry for a moment; the server fills both with
    // exact zeros, which no frame of the noise is. A loaded machine may also cut
    // the first or last few milliseconds from the recording. The frames that
    // remain must be the downmix, in order, nearly all of it.
    std::vector<float> sound;
    sound.reserve(got.size());
    for (size_t i = 0; i + 1 < got.size(); i += 2) {
        if (got[i] == 0.0f && got[i + 1] == 0.0f) continue;
        sound.push_back(got[i]);
        sound.push_back(got[i + 1]);
    }
    auto in = [&](uint32_t f, int c) { return std::round(samples[f * 6 + c] * 32768) / 32768; };
    auto mix = [&](uint32_t f, int side) {
        return in(f, side) + 0.707f * in(f, 2) + 0.5f * in(f, 3) + 0.707f * in(f, 4 + side);
    };
    ASSERT_GE(sound.size(), 2u);
    uint32_t start = 0;  // the source frame the recording begins with
    while (start < frames && (std::fabs(sound[0] - mix(start, 0)) > 1e-5f ||
                              std::fabs(sound[1] - mix(start, 1)) > 1e-5f))
        ++start;
    const uint32_t compared = std::min<uint32_t>(frames - start, uint32_t(sound.size() / 2));
    ASSERT_GE(compared, frames * 9 / 10) << "recorded " << sound.size() / 2 << " frames from frame " << start;
    float peak = 0;
    for (uint32_t f = 0; f < compared; ++f)
        peak = std::max({peak, std::fabs(sound[2 * f] - mix(start + f, 0)),
                         std::fabs(sound[2 * f + 1] - mix(start + f, 1))});
    EXPECT_LT(peak, 1e-5f);
}

}  // namespace
