// Helpers of the playback tests: a sound file made up in memory, an output that
// keeps what it is given, WAVE files written and read here,
// and a stand-in for the main thread's queue.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "playback/audio_output.h"
#include "soundfile/sound_file.h"
#include "test_support.h"

namespace playtest {

// The made-up sample of a frame and channel: distinct, within ±0.5.
inline float Sample(uint32_t frame, uint32_t channel) {
    return static_cast<float>((frame * 7u + channel * 1000u) % 20011u) / 20011.0f - 0.5f;
}

// A sound file in memory: `frames` frames of Sample(); reads from `failAt` on
// fail with -36, and a file may say it is longer than it is (`realFrames`).
class MadeUpFile : public CSoundFile {
public:
    struct Script {
        uint32_t frames = 1000;
        uint32_t channels = 2;
        double rate = 44100;
        ChannelConfiguration configuration = kStereo;
        OSErr openStatus = 0;
        uint32_t failAt = UINT32_MAX;
        uint32_t realFrames = UINT32_MAX;
    };
    explicit MadeUpFile(Script script) : script_(script) {}

    OSErr Open() override {
        if (script_.openStatus) return script_.openStatus;
        sampleRate_ = script_.rate;
        channels_ = script_.channels;
        numFrames_ = script_.frames;
        SetChannelConfiguration(script_.configuration);
        open_ = true;
        return 0;
    }
    OSErr Close() override {
        open_ = false;
        return 0;
    }
    OSErr Read(uint32_t start, uint32_t* count, float** channels) override {
        const uint32_t real = std::min(script_.frames, script_.realFrames);
        if (start + *count > script_.failAt) return -36;
        const uint32_t n = start >= real ? 0 : std::min(*count, real - start);
        for (uint32_t c = 0; c < channels_; ++c)
            for (uint32_t i = 0; i < n; ++i) channels[c][i] = Sample(start + i, c);
        *count = n;
        return 0;
    }
    OSErr RefreshInputBuffer(uint32_t) override { return 0; }
    OSErr RefreshOutputBuffer(uint32_t) override { return 0; }
    OSErr SetFilePos(uint32_t) override { return 0; }
    OSErr GetOfflineInfo(OSErr* status) override { return *status = 0; }
    OSType GetFType() override { return 0x54455354; }
    std::string GetDescription() override { return "made up"; }

private:
    Script script_;
};

// A manual output that keeps every frame of sound it is given, and the lengths
// of the runs of sound (a run ends with the first block that is not all sound).
class RecordingOutput : public AudioOutput {
public:
    explicit RecordingOutput(double rate = 44100) : AudioOutput(true), rate_(rate) {}
    ~RecordingOutput() override { StopLoop(); }
    double Rate() const override { return rate_; }
    void PreferRate(double rate) override {
        if (followRate) rate_ = rate;
    }
    const char* Name() const override { return "recording"; }

    bool followRate = true;
    std::vector<float> left, right;
    std::vector<uint32_t> runs;
    uint32_t currentRun = 0;

protected:
    void Deliver(const float* l, const float* r, uint32_t frames, uint32_t sound) override {
        left.insert(left.end(), l, l + sound);
        right.insert(right.end(), r, r + sound);
        currentRun += sound;
        if (sound < frames && currentRun > 0) {
            runs.push_back(currentRun);
            currentRun = 0;
        }
    }

private:
    double rate_;
};

// The main thread's queue: functions queued from any thread, run by Drain.
class MainQueue {
public:
    void Push(std::function<void()> f) {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(f));
    }
    // Runs what is queued (and what that queues); the number run.
    int Drain() {
        int n = 0;
        for (;;) {
            std::function<void()> f;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (queue_.empty()) return n;
                f = std::move(queue_.front());
                queue_.pop_front();
            }
            f();
            ++n;
        }
    }
    size_t Size() {
        std::lock_guard<std::mutex> lock(mutex_);
        return queue_.size();
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
};

inline std::string LE16(uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }
inline std::string LE32(uint32_t v) {
    return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
}

// A WAVE_FORMAT_EXTENSIBLE file of 16-bit samples (interleaved, from -1 .. 1)
// with a channel mask.
inline void WriteWave16(const std::string& path, uint16_t channels, uint32_t rate, uint32_t mask,
                        const std::vector<float>& samples) {
    std::string fmt = LE16(0xFFFE) + LE16(channels) + LE32(rate) + LE32(rate * channels * 2) +
                      LE16(uint16_t(channels * 2)) + LE16(16) + LE16(22) + LE16(16) + LE32(mask) +
                      LE32(1) + std::string("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
    std::string data;
    for (float s : samples) {
        const long v = std::lround(std::clamp(s, -1.0f, 32767 / 32768.0f) * 32768);
        data += LE16(static_cast<uint16_t>(static_cast<int16_t>(v)));
    }
    std::string body = "WAVEfmt " + LE32(uint32_t(fmt.size())) + fmt + "data" +
                       LE32(uint32_t(data.size())) + data;
    testsupport::WriteFile(path, "RIFF" + LE32(uint32_t(body.size())) + body);
}

struct FloatWave {
    uint16_t channels = 0;
    uint32_t rate = 0;
    std::vector<float> samples;  // interleaved
    size_t frames() const { return channels ? samples.size() / channels : 0; }
};

// Reads a WAVE file of 32-bit float samples (plain or extensible); empty on failure.
inline FloatWave ReadFloatWave(const std::string& path) {
    FloatWave out;
    const std::string bytes = testsupport::ReadFile(path);
    auto u16 = [&](size_t at) { return uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8); };
    auto u32 = [&](size_t at) { return uint32_t(u16(at)) | uint32_t(u16(at + 2)) << 16; };
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") || bytes.compare(8, 4, "WAVE")) return out;
    size_t at = 12;
    bool isFloat = false;
    while (at + 8 <= bytes.size()) {
        const std::string id = bytes.substr(at, 4);
        const uint32_t size = u32(at + 4);
        const size_t body = at + 8;
        if (id == "fmt " && body + 16 <= bytes.size()) {
            const uint16_t tag = u16(body);
            out.channels = u16(body + 2);
            out.rate = u32(body + 4);
            isFloat = u16(body + 14) == 32 && (tag == 3 || (tag == 0xFFFE && size >= 40 && u16(body + 24) == 3));
        } else if (id == "data") {
            const size_t n = std::min<size_t>(size, bytes.size() - body) / 4;
            if (!isFloat) return FloatWave();
            out.samples.resize(n);
            std::memcpy(out.samples.data(), bytes.data() + body, n * 4);
            return out;
        }
        at = body + size + (size & 1);
    }
    return FloatWave();
}

// Sets an environment variable for its lifetime, then puts back what was there.
struct ScopedEnv {
    std::string name, old;
    bool had;
    ScopedEnv(const char* n, const std::string& value) : name(n), had(std::getenv(n) != nullptr) {
        if (had) old = std::getenv(n);
        ::setenv(n, value.c_str(), 1);
    }
    ~ScopedEnv() { had ? (void)::setenv(name.c_str(), old.c_str(), 1) : (void)::unsetenv(name.c_str()); }
};

}  // namespace playtest
