#include "playback/audio_output.h"

#include <fcntl.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int64_t NowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

AudioOutput::~AudioOutput() = default;

void AudioOutput::Start() {
    if (manual_) {
        manualRunning_.store(true);
        return;
    }
    std::unique_lock<std::mutex> lock(control_);
    if (thread_.joinable() && !ended_) {
        restartWanted_ = true;
        return;
    }
    std::thread old = std::move(thread_);
    lock.unlock();
    if (old.joinable()) old.join();
    lock.lock();
    if (thread_.joinable()) return;  // another Start got here first
    quit_.store(false);
    ended_ = false;
    restartWanted_ = false;
    thread_ = std::thread([this] { Loop(); });
}

void AudioOutput::Stop() {
    if (manual_) {
        manualRunning_.store(false);
        return;
    }
    std::unique_lock<std::mutex> lock(control_);
    quit_.store(true);
    std::thread old = std::move(thread_);
    lock.unlock();
    if (old.joinable()) old.join();
    lock.lock();
    ended_ = true;
    lock.unlock();
    Stopped();
}

bool AudioOutput::IsRunning() const {
    if (manual_) return manualRunning_.load();
    std::lock_guard<std::mutex> lock(control_);
    return thread_.joinable() && !ended_;
}

void AudioOutput::Pump(uint64_t frames) {
    if (!manual_ || !render_) return;
    while (frames > 0 && manualRunning_.load()) {
        const uint32_t n = frames < kBlockFrames ? static_cast<uint32_t>(frames) : kBlockFrames;
        const RenderResult result = render_(left_.get(), right_.get(), n);
        Deliver(left_.get(), right_.get(), n, result.soundFrames);
        frames -= n;
        if (result.stopOutput) manualRunning_.store(false);
        if (settle_) settle_();
    }
}

void AudioOutput::Pace(uint32_t frames) {
    const double rate = Rate() > 0 ? Rate() : 44100;
    pacedFrames_ += frames;
    const int64_t due = paceOrigin_ + static_cast<int64_t>(pacedFrames_ * 1e9 / rate);
    const int64_t now = NowNanoseconds();
    if (due > now) {
        std::this_thread::sleep_for(std::chrono::nanoseconds(due - now));
    } else if (now - due > 200000000) {
        // Far behind (the machine was busy): start counting afresh.
        paceOrigin_ = now;
        pacedFrames_ = 0;
    }
}

void AudioOutput::Loop() {
    paceOrigin_ = NowNanoseconds();
    pacedFrames_ = 0;
    while (!quit_.load()) {
        RenderResult result;
        if (render_) result = render_(left_.get(), right_.get(), kBlockFrames);
        else {
            std::memset(left_.get(), 0, kBlockFrames * sizeof(float));
            std::memset(right_.get(), 0, kBlockFrames * sizeof(float));
        }
        Deliver(left_.get(), right_.get(), kBlockFrames, result.soundFrames);
        if (result.stopOutput) {
            std::lock_guard<std::mutex> lock(control_);
            if (!restartWanted_) {
                ended_ = true;
                return;
            }
        }
        {
            std::lock_guard<std::mutex> lock(control_);
            restartWanted_ = false;
        }
        Pace(kBlockFrames);
    }
}

// ---------------------------------------------------------------------------
// Null device

namespace {

class NullOutput : public AudioOutput {
public:
    NullOutput(bool manual, double rate) : AudioOutput(manual), rate_(rate) {}
    ~NullOutput() override { StopLoop(); }
    double Rate() const override { return rate_.load(); }
    void PreferRate(double rate) override {
        if (rate > 0) rate_.store(rate);
    }
    const char* Name() const override { return "null"; }

protected:
    void Deliver(const float*, const float*, uint32_t, uint32_t) override {}

private:
    std::atomic<double> rate_;
};

// ---------------------------------------------------------------------------
// WAV capture: a plain WAVE file of 32-bit float stereo, its sizes brought up
// to date after every block, so that the file is whole whenever it is read.

void PutLE16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void PutLE32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

class CaptureOutput : public AudioOutput {
public:
    static constexpr uint32_t kHeaderBytes = 44;
    // Keeps the sizes within the 32-bit fields of the header.
    static constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - kHeaderBytes;

    CaptureOutput(int fd, bool manual) : AudioOutput(manual), fd_(fd) { WriteHeader(); }
    ~CaptureOutput() override {
        StopLoop();
        WriteHeader();
        ::close(fd_);
    }
    double Rate() const override { return rate_.load(); }
    void PreferRate(double rate) override {
        if (rate > 0 && !rateFixed_.exchange(true)) rate_.store(rate);
    }
    const char* Name() const override { return "capture"; }

protected:
    void Deliver(const float* left, const float* right, uint32_t, uint32_t soundFrames) override {
        if (soundFrames == 0) return;
        if (soundFrames > kBlockFrames) soundFrames = kBlockFrames;
        const uint64_t bytes = uint64_t(soundFrames) * 8;
        if (dataBytes_ + bytes > kMaxDataBytes) return;
        for (uint32_t i = 0; i < soundFrames; ++i) {
            interleaved_[2 * i] = left[i];
            interleaved_[2 * i + 1] = right[i];
        }
        const ssize_t written =
            ::pwrite(fd_, interleaved_, bytes, static_cast<off_t>(kHeaderBytes + dataBytes_));
        if (written > 0) dataBytes_ += static_cast<uint64_t>(written) / 8 * 8;
        WriteHeader();
    }

private:
    void WriteHeader() {
        unsigned char h[kHeaderBytes];
        const uint32_t rate = static_cast<uint32_t>(Rate() + 0.5);
        std::memcpy(h, "RIFF", 4);
        PutLE32(h + 4, static_cast<uint32_t>(36 + dataBytes_));
        std::memcpy(h + 8, "WAVEfmt ", 8);
        PutLE32(h + 16, 16);
        PutLE16(h + 20, 3);  // IEEE float
        PutLE16(h + 22, 2);
        PutLE32(h + 24, rate);
        PutLE32(h + 28, rate * 8);
        PutLE16(h + 32, 8);
        PutLE16(h + 34, 32);
        std::memcpy(h + 36, "data", 4);
        PutLE32(h + 40, static_cast<uint32_t>(dataBytes_));
        if (::pwrite(fd_, h, sizeof h, 0) != static_cast<ssize_t>(sizeof h)) {
            // The capture is a test aid; a failed write leaves a short file.
        }
    }

    const int fd_;
    std::atomic<double> rate_{44100};
    std::atomic<bool> rateFixed_{false};
    uint64_t dataBytes_ = 0;  // the delivering thread only (and the destructor)
    float interleaved_[2 * kBlockFrames];
};

// ---------------------------------------------------------------------------
// PulseAudio through the simple API: blocking writes on our own loop thread.

class PulseOutput : public AudioOutput {
public:
    static constexpr uint32_t kRate = 48000;

    explicit PulseOutput(pa_simple* stream) : AudioOutput(false), stream_(stream) {}
    ~PulseOutput() override {
        StopLoop();
        pa_simple_free(stream_);
    }
    double Rate() const override { return kRate; }
    void PreferRate(double) override {}
    const char* Name() const override { return "pulse"; }

    static pa_simple* Connect() {
        pa_sample_spec spec;
        spec.format = PA_SAMPLE_FLOAT32LE;
        spec.rate = kRate;
        spec.channels = 2;
        // About 60 ms queued in the server, so that a pause is heard at once.
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = kRate * 8 * 60 / 1000;
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(-1);
        int error = 0;
        return pa_simple_new(nullptr, "Corvane", PA_STREAM_PLAYBACK, nullptr, "Playback", &spec,
                             nullptr, &attr, &error);
    }

protected:
    void Deliver(const float* left, const float* right, uint32_t frames, uint32_t) override {
        if (frames > kBlockFrames) frames = kBlockFrames;
        for (uint32_t i = 0; i < frames; ++i) {
            interleaved_[2 * i] = left[i];
            interleaved_[2 * i + 1] = right[i];
        }
        int error = 0;
        writeFailed_ = pa_simple_write(stream_, interleaved_, size_t(frames) * 8, &error) < 0;
    }
    void Pace(uint32_t frames) override {
        // The write waits for room in the server; only a failed one needs the clock.
        if (writeFailed_) AudioOutput::Pace(frames);
    }
    void Stopped() override {
        int error = 0;
        pa_simple_flush(stream_, &error);
    }

private:
    pa_simple* const stream_;
    bool writeFailed_ = false;  // loop thread only
    float interleaved_[2 * kBlockFrames];
};

}  // namespace

std::unique_ptr<AudioOutput> MakeNullOutput(bool manual, double rate) {
    return std::make_unique<NullOutput>(manual, rate);
}

std::unique_ptr<AudioOutput> MakeCaptureOutput(const std::string& path, bool manual) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    return std::make_unique<CaptureOutput>(fd, manual);
}

std::unique_ptr<AudioOutput> MakePulseOutput() {
    pa_simple* stream = PulseOutput::Connect();
    if (!stream) return nullptr;
    return std::make_unique<PulseOutput>(stream);
}

std::unique_ptr<AudioOutput> MakeAudioOutput(const std::string& role) {
    const char* env = std::getenv("CORVANE_AUDIO_OUTPUT");
    const std::string choice = env ? env : "";
    if (choice == "null") return MakeNullOutput(false);
    if (choice.rfind("capture:", 0) == 0) {
        std::string path = choice.substr(8);
        if (!role.empty()) path += "." + role + ".wav";
        if (auto capture = MakeCaptureOutput(path, false)) return capture;
        std::fprintf(stderr, "corvane: cannot create the capture file %s; sound is discarded\n",
                     path.c_str());
        return MakeNullOutput(false);
    }
    if (auto pulse = MakePulseOutput()) return pulse;
    return MakeNullOutput(false);
}
