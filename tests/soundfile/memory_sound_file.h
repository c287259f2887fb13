// A sound-file format that keeps its samples in memory, for driving the base
// class's buffers and loops in tests before (and beside) the real formats.
//
// The samples are held in the buffer form: interleaved, channel 0 first, native
// byte order, word size / 8 bytes per sample (24-bit packed least significant
// byte first). Every call of a format operation is recorded, so tests can check
// how the base class drives RefreshInputBuffer, RefreshOutputBuffer,
// FlushOutputBuffer and SetFilePos. Faults can be injected per operation.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"

namespace testsupport {

class MemorySoundFile : public CSoundFile {
public:
    enum class Op { Open, Close, Create, RefreshInput, RefreshOutput, Flush, SetPos };

    struct Call {
        Op op;
        uint32_t frame;   // the frame or position argument (0 for Open, Close, Create)
        uint32_t frames;  // the frame count of Flush (0 otherwise)
    };

    // What outlives the object: Dispose destroys it, so tests watch through this.
    struct Observer {
        bool destroyed = false;
        int closes = 0;
        bool discardSeenAtClose = false;
    };

    // A file of `frames` zero samples with the given description. The type code
    // is what GetFType answers ('Test' unless told otherwise, 'AIFF' say).
    explicit MemorySoundFile(short channels = 2, short wordSize = 16, uint32_t frames = 0,
                             double rate = 44100.0, short dataType = kDataTypePCM,
                             OSType type = FourCC("Test")) {
        type_ = type;
        SetFormat(channels, wordSize, dataType);
        sampleRate_ = rate;
        SetNumFrames(frames);
    }

    ~MemorySoundFile() override {
        if (observer) observer->destroyed = true;
    }

    // Description and contents.
    void SetFormat(short channels, short wordSize, short dataType = kDataTypePCM) {
        channels_ = channels > 0 ? static_cast<uint32_t>(channels) : 0;
        wordSize_ = wordSize;
        dataType_ = dataType;
        samples.assign(static_cast<size_t>(numFrames_) * FrameBytes(), 0);
    }
    void SetNumFrames(uint32_t frames) {
        numFrames_ = frames;
        samples.resize(static_cast<size_t>(frames) * FrameBytes(), 0);
    }
    void SetType(OSType type) { type_ = type; }
    void SetOpen(bool open) { open_ = open; }
    void SetPath(const std::string& path) { path_ = path; }
    void SetRateRaw(double rate) { sampleRate_ = rate; }
    uint8_t HeaderDirty() const { return headerDirty_; }

    // The frame count, also for a const file.
    uint32_t GetNumSFrames() override { return numFrames_; }
    uint32_t GetNumSFrames() const { return numFrames_; }

    size_t SampleBytes() const { return wordSize_ >= 8 ? static_cast<size_t>(wordSize_ / 8) : 0; }
    size_t FrameBytes() const { return SampleBytes() * channels_; }

    // One sample as a signed integer of the stored width (24-bit sign-extended;
    // for 32-bit words the whole word, data type 146 included).
    int32_t GetSample(uint32_t frame, uint32_t channel) const {
        const unsigned char* p = SamplePtr(frame, channel);
        if (!p) return 0;
        switch (SampleBytes()) {
            case 1:
                return static_cast<int8_t>(p[0]);
            case 2: {
                int16_t v;
                std::memcpy(&v, p, 2);
                return v;
            }
            case 3: {
                uint32_t u = p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16);
                return static_cast<int32_t>(u << 8) >> 8;
            }
            case 4: {
                int32_t v;
                std::memcpy(&v, p, 4);
                return v;
            }
            default:
                return 0;
        }
    }
    void SetSample(uint32_t frame, uint32_t channel, int32_t value) {
        unsigned char* p = const_cast<unsigned char*>(SamplePtr(frame, channel));
        if (!p) return;
        switch (SampleBytes()) {
            case 1:
                p[0] = static_cast<unsigned char>(value);
                break;
            case 2: {
                int16_t v = static_cast<int16_t>(value);
                std::memcpy(p, &v, 2);
                break;
            }
            case 3:
                p[0] = static_cast<unsigned char>(value);
                p[1] = static_cast<unsigned char>(value >> 8);
                p[2] = static_cast<unsigned char>(value >> 16);
                break;
            case 4:
                std::memcpy(p, &value, 4);
                break;
            default:
                break;
        }
    }

    // Makes every later call of `op` whose frame (position for Flush) is at or
    // beyond `frame` fail with `code`.
    void FailAt(Op op, uint32_t frame, OSErr code) { faults_.push_back({op, frame, code}); }
    size_t CountCalls(Op op) const {
        return static_cast<size_t>(std::count_if(calls.begin(), calls.end(),
                                                 [op](const Call& c) { return c.op == op; }));
    }

    // The format operations.
    OSErr Open() override {
        calls.push_back({Op::Open, 0, 0});
        if (OSErr e = Fault(Op::Open, 0)) return e;
        open_ = true;
        return 0;
    }

    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override {
        calls.push_back({Op::Create, 0, 0});
        if (OSErr e = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
            return e;
        if (OSErr e = Fault(Op::Create, 0)) return e;
        numFrames_ = 0;
        SetFormat(channels, wordSize, dataType_);
        sampleRate_ = sampleRate;
        open_ = true;
        return 0;
    }

    OSErr Close() override {
        calls.push_back({Op::Close, 0, 0});
        if (observer) {
            observer->closes++;
            observer->discardSeenAtClose = discardOnClose_;
        }
        open_ = false;
        return Fault(Op::Close, 0);
    }

    // Fills the input buffer with min(buffer frames, frames - frame) frames; the
    // rest of the buffer is zero-filled.
    OSErr RefreshInputBuffer(uint32_t frame) override {
        calls.push_back({Op::RefreshInput, frame, 0});
        if (OSErr e = Fault(Op::RefreshInput, frame)) return e;
        if (!inputBuffer_) return kParamErr;
        uint32_t n = frame < numFrames_ ? std::min(bufferFrames_, numFrames_ - frame) : 0;
        size_t bytes = static_cast<size_t>(n) * FrameBytes();
        if (bytes) std::memcpy(inputBuffer_, samples.data() + static_cast<size_t>(frame) * FrameBytes(), bytes);
        size_t whole = GetRealBufferSize();
        if (whole > bytes) std::memset(inputBuffer_ + bytes, 0, whole - bytes);
        firstBufferedFrame_ = frame;
        return 0;
    }

    // Loads the frames already stored from `frame` on when asked to (or, like the
    // formats that write channel by channel, when one channel is done).
    OSErr RefreshOutputBuffer(uint32_t frame) override {
        calls.push_back({Op::RefreshOutput, frame, 0});
        if (OSErr e = Fault(Op::RefreshOutput, frame)) return e;
        if (!outputBuffer_) return kParamErr;
        if (loadOnRefreshOutput || oneChannelDone_) {
            uint32_t n = frame < numFrames_ ? std::min(bufferFrames_, numFrames_ - frame) : 0;
            size_t bytes = static_cast<size_t>(n) * FrameBytes();
            if (bytes)
                std::memcpy(outputBuffer_, samples.data() + static_cast<size_t>(frame) * FrameBytes(),
                            bytes);
        }
        return 0;
    }

    // Stores `frames` frames of the output buffer at `position`, growing the file.
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override {
        calls.push_back({Op::Flush, position, frames});
        if (OSErr e = CSoundFile::FlushOutputBuffer(frames, position)) return e;
        if (OSErr e = Fault(Op::Flush, position)) return e;
        if (frames > bufferFrames_) return kParamErr;
        if (!outputBuffer_ && frames) return kParamErr;
        uint64_t end = static_cast<uint64_t>(position) + frames;
        if (end > UINT32_MAX) return kParamErr;
        if (end > numFrames_) SetNumFrames(static_cast<uint32_t>(end));
        size_t bytes = static_cast<size_t>(frames) * FrameBytes();
        if (bytes)
            std::memcpy(samples.data() + static_cast<size_t>(position) * FrameBytes(), outputBuffer_,
                        bytes);
        return 0;
    }

    OSErr SetFilePos(uint32_t frame) override {
        calls.push_back({Op::SetPos, frame, 0});
        if (OSErr e = Fault(Op::SetPos, frame)) return e;
        filePos = frame;
        return 0;
    }

    OSErr GetOfflineInfo(OSErr* status) override {
        if (status) *status = 0;
        return 0;
    }

    OSType GetFType() override { return type_; }
    std::string GetDescription() override { return "Memory test file"; }

    std::vector<unsigned char> samples;
    std::vector<Call> calls;
    uint32_t filePos = 0;
    bool loadOnRefreshOutput = false;
    Observer* observer = nullptr;

private:
    struct FaultRule {
        Op op;
        uint32_t frame;
        OSErr code;
    };

    const unsigned char* SamplePtr(uint32_t frame, uint32_t channel) const {
        if (frame >= numFrames_ || channel >= channels_ || SampleBytes() == 0) return nullptr;
        return samples.data() + static_cast<size_t>(frame) * FrameBytes() + channel * SampleBytes();
    }

    OSErr Fault(Op op, uint32_t frame) const {
        for (const FaultRule& f : faults_)
            if (f.op == op && frame >= f.frame) return f.code;
        return 0;
    }

    OSType type_;
    std::vector<FaultRule> faults_;
};

}  // namespace testsupport
