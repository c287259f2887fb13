// Where rendered sound goes: an output loop of ours that asks a render callback
// for blocks of stereo float frames and hands them on. Three backends: the
// PulseAudio server, a null device that discards at real-time pace, and a WAV
// capture that writes the sound as 32-bit float. MakeAudioOutput chooses one by
// the environment variable CORVANE_AUDIO_OUTPUT ("pulse", the default; "null";
// "capture:/path/file.wav") and falls back to the null device when no sound
// server answers.
//
// The null and capture devices can also be made manual: no thread, and Pump
// renders on the caller's thread, so tests drive playback frame by frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct RenderResult {
    uint32_t soundFrames = 0;  // leading frames of the block that carry sound
    bool stopOutput = false;   // the loop ends after this block
};

class AudioOutput {
public:
    // Fills `frames` frames of both outputs. Runs on the output loop's thread (or
    // inside Pump) and must neither block for long nor allocate.
    using RenderCallback = std::function<RenderResult(float* left, float* right, uint32_t frames)>;
    static constexpr uint32_t kBlockFrames = 512;

    virtual ~AudioOutput();

    // Set before the first Start. `settle` runs between the blocks of Pump (a
    // manual device's stand-in for the time a real device leaves other threads).
    void SetRenderCallback(RenderCallback render) { render_ = std::move(render); }
    void SetSettleCallback(std::function<void()> settle) { settle_ = std::move(settle); }

    // The device's frame rate. A device that can follow the sound's own rate
    // takes `rate` (the capture device only the first it is offered).
    virtual double Rate() const = 0;
    virtual void PreferRate(double rate) = 0;

    // Starts the output loop; a loop that its render callback has just told to
    // end goes on instead. Safe from any thread but the loop's own.
    void Start();
    // Ends the loop and waits for it. Never from the render callback.
    void Stop();
    bool IsRunning() const;

    // Manual devices: renders `frames` frames now, block by block, while the
    // loop counts as running. Other devices ignore it.
    void Pump(uint64_t frames);
    bool IsManual() const { return manual_; }
    virtual const char* Name() const = 0;

protected:
    explicit AudioOutput(bool manual) : manual_(manual) {}
    // Hands one rendered block on; `left` and `right` hold `frames` frames.
    virtual void Deliver(const float* left, const float* right, uint32_t frames,
                         uint32_t soundFrames) = 0;
    // Waits as long as `frames` frames take to play (the pulse device's writes wait themselves).
    virtual void Pace(uint32_t frames);
    // After the loop has ended.
    virtual void Stopped() {}
    // Ends the loop and joins it; derived destructors call it first.
    void StopLoop() { Stop(); }

private:
    void Loop();

    const bool manual_;
    RenderCallback render_;
    std::function<void()> settle_;
    std::unique_ptr<float[]> left_{new float[kBlockFrames]()};
    std::unique_ptr<float[]> right_{new float[kBlockFrames]()};

    mutable std::mutex control_;
    std::thread thread_;         // guarded by control_
    bool ended_ = true;          // the loop has ended or never ran; control_
    bool restartWanted_ = false; // a Start arrived while the loop ran; control_
    std::atomic<bool> quit_{false};
    std::atomic<bool> manualRunning_{false};
    int64_t paceOrigin_ = 0;     // loop thread only
    uint64_t pacedFrames_ = 0;   // loop thread only
};

// The device the environment asks for; `role` tells a second user apart (the
// capture file of a role other than "" gets ".role.wav" appended).
std::unique_ptr<AudioOutput> MakeAudioOutput(const std::string& role = std::string());
std::unique_ptr<AudioOutput> MakeNullOutput(bool manual, double rate = 44100);
// Null when the file cannot be created (it must not exist yet).
std::unique_ptr<AudioOutput> MakeCaptureOutput(const std::string& path, bool manual);
// Null when no sound server answers.
std::unique_ptr<AudioOutput> MakePulseOutput();
