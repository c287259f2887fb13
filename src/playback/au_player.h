// Plays one sound file through an AudioOutput: a loader thread reads the file
// in chunks into a ring, and the output's render callback mixes the ring down
// to stereo (a fixed gain table per channel layout, scaled by a volume in dB),
// then converts rate and speed in one libsamplerate stage. When the selection's
// data runs out the player stops itself and reports "AUPlayer Stop" through its
// message callback, on the output thread but outside the render pass.
//
// Threads: every public call comes from one controlling thread; the render pass
// runs on the output's thread and the reading on the loader's. `mtx` keeps the
// file and ring in place for the render pass, which only tries it and renders
// silence while it is busy; `bufferLock` serialises every write to the ring.
// The lock order is mtx before bufferLock; the loader never takes mtx.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "playback/audio_output.h"
#include "playback/cyclic_play_buffer.h"
#include "playback/thread_object.h"

class CSoundFile;
struct SRC_STATE_tag;

class AUPlayer {
public:
    // Called with "AUPlayer Stop" and the token of the play that ended.
    using MessageCallback = std::function<void(const char* message, uint64_t token)>;

    static constexpr uint32_t kRingFrames = 49152;
    static constexpr uint32_t kChunkFrames = 24576;
    // The loader is woken once more than a chunk of the ring is free.
    static constexpr uint32_t kWakeFreeFrames = kChunkFrames + 1;
    // About 5.4 s at 44.1 kHz of silence, after which the output loop ends.
    static constexpr uint64_t kSilentStopFrames = 240001;
    static constexpr uint32_t kMaxMixedChannels = 16;
    static constexpr float kMinVarispeed = 0.25f;
    static constexpr float kMaxVarispeed = 4.0f;

    // Starts the output (from MakeAudioOutput when none is given) and the
    // loader, then sets the file (may be null). Throws error_code_exception after
    // tearing down what was built.
    AUPlayer(CSoundFile* file, MessageCallback callback,
             std::unique_ptr<AudioOutput> output = nullptr);
    ~AUPlayer();
    AUPlayer(const AUPlayer&) = delete;
    AUPlayer& operator=(const AUPlayer&) = delete;

    // Takes ownership of `file` (null: none), disposes of the current one and,
    // for a new file, opens it and prepares ring, buffers, rate and gains. On a
    // failure (thrown) the new file is disposed of too and no file is held.
    void SetSoundFile(CSoundFile* file);
    // Plays frames [start, end) of the file (end cut to the file's length); the
    // first chunk is loaded before this returns. `token` comes back with the
    // stop report. Throws without a file or when the first chunk cannot be read.
    void Play(uint32_t start, uint32_t end, uint64_t token = 0);
    // Both end the play and empty the ring; neither reports. Stop(true) also
    // reports the stop as the end of data does.
    void Pause();
    void Stop(bool report);

    // The playback rate, clamped to 0.25 .. 4 (a value that is not a number is 1).
    void SetVarispeed(float rate);
    float Varispeed() const { return varispeed_.load(); }
    void SetVolume(float decibels) { volume_.store(decibels); }
    float Volume() const { return volume_.load(); }

    bool IsPlaying() const { return playing_.load(); }
    bool HasSoundFile() const { return hasFile_.load(); }
    // Whether the output loop runs (it ends after a long silence; Play restarts it).
    bool IsEngineRunning() const { return output_->IsRunning(); }
    AudioOutput& Output() { return *output_; }
    // The play position in file frames (read it while the output stands still).
    uint32_t Cursor() const { return cursor_.load(); }
    // Row 0 the left output, row 1 the right; column c the weight of channel c.
    float Gain(int side, int channel) const { return gains_[side][channel]; }

    // The loader thread's entry: loads one chunk; lets nothing escape.
    static void* SLoadSoundFileData(void* player);

private:
    struct FileDisposer {
        void operator()(CSoundFile* file) const;
    };
    using OwnedFile = std::unique_ptr<CSoundFile, FileDisposer>;

    RenderResult OnOutput(float* left, float* right, uint32_t frames);
    RenderResult Render(float* left, float* right, uint32_t frames);
    // Mixes up to `frames` frames from the ring; the rest of the span is zeroed.
    uint32_t MixFromRing(float* left, float* right, size_t stride, uint32_t frames, bool* ended);
    static long SrcInput(void* player, float** data);
    void LoadSoundFileData();
    // With bufferLock held: loads the next chunk of the selection; returns the
    // read status (a failed read ends the play at the last loaded frame).
    int LoadChunkLocked();
    void SetGains(uint32_t layoutTag);
    // With mtx held: drops the file, its ring and buffers (the swap under bufferLock).
    void CleanupFileLocked();
    void Teardown();
    void WaitForLoader();

    // Fixed for the player's life.
    std::unique_ptr<AudioOutput> output_;
    MessageCallback callback_;
    SRC_STATE_tag* src_ = nullptr;
    std::unique_ptr<ThreadObject> loader_;

    std::mutex mtx_;
    std::mutex bufferLock_;

    // The file and what belongs to it: changed with both locks held.
    OwnedFile file_;
    std::unique_ptr<CyclicPlayBuffer> ring_;
    std::vector<std::unique_ptr<float[]>> channelBuffers_;
    std::vector<float*> channelPointers_;
    double fileRate_ = 44100;
    uint32_t fileFrames_ = 0;
    float gains_[2][kMaxMixedChannels] = {};
    std::atomic<bool> hasFile_{false};

    // The selection: set by Play with both locks held, loadPosition_ then
    // advanced by whoever holds bufferLock.
    uint32_t selectionStart_ = 0;
    uint32_t selectionEnd_ = 0;
    uint32_t loadPosition_ = 0;
    uint64_t token_ = 0;  // mtx
    bool resetConverter_ = false;  // mtx

    std::atomic<bool> playing_{false};
    std::atomic<bool> loading_{false};
    std::atomic<uint32_t> cursor_{0};
    std::atomic<float> volume_{0};
    std::atomic<float> varispeed_{1};

    // The render thread's own.
    uint64_t silentFrames_ = 0;
    bool converting_ = false;
    bool converterInputEnded_ = false;
    bool reportPending_ = false;
    uint64_t reportToken_ = 0;
    std::unique_ptr<float[]> converterIn_;
    std::unique_ptr<float[]> converterOut_;

    // Lets a manual output wait for a chunk in flight.
    std::mutex idleMutex_;
    std::condition_variable loaderIdle_;
};
