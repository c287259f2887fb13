// The base of the formats whose samples lie in the data fork as one run of
// whole frames from a data start: whether this object made the file, opening
// and closing the fork, positioning and growing by frames, and the block
// traffic between the file and the sample buffers. A format gives the bytes of
// a stored frame and the in-place turns between its stored samples and the
// buffer form; it reads and writes its own header.
#pragma once

#include <cstdint>

#include "formats/pcm/pcm_io.h"
#include "soundfile/sound_file.h"

class CFramedPCMFile : public CSoundFile {
public:
    explicit CFramedPCMFile(uint32_t dataStart = 0) : dataStart_(dataStart) {}
    // Each concrete class closes a file still open in its own destructor, while
    // its hooks are still its own.
    ~CFramedPCMFile() override = default;

    // Finishes a file this object made whose header is dirty (FinishFile), then
    // releases the fork whatever that reports; the first failure is returned.
    OSErr Close() override;
    // Up to a buffer of frames from `frame` on in the buffer form (ReadFrames);
    // what the file does not hold reads as zeros. Frames the buffer holds
    // already from the refresh before are kept rather than read again.
    OSErr RefreshInputBuffer(uint32_t frame) override;
    // The block from `frame` on (the frames OutputFramesInUse names), the file
    // first grown up to the frame; what the file does not hold yet reads as
    // zeros, without failure.
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    // Writes `frames` frames of the output buffer at frame `position`. Only a
    // file this object made is written; the frame count grows to take them in.
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override;
    // Places the fork at `frame`; a frame past the end is first made part of
    // the file (SetEndOfFile).
    OSErr SetFilePos(uint32_t frame) override;
    // The whole frames the file holds after the data start.
    OSErr UpdateSize() override;
    // Makes the file hold `frames` frames, adding the silence byte; it never
    // shrinks, and only a file this object made grows. The frame count becomes
    // `frames`.
    OSErr SetEndOfFile(uint32_t frames);

    uint32_t GetDataStart() const { return dataStart_; }

protected:
    // Bytes of one frame as stored.
    virtual uint64_t FrameBytes() const = 0;
    // The whole samples among `bytes` stored bytes at `data`, turned into the
    // buffer form in place (nothing to do by default).
    virtual void StoredToBuffer(unsigned char* /*data*/, uint64_t /*bytes*/) const {}
    // Buffer-form samples that take `bytes` bytes as stored, turned into the
    // stored form in place (by default the same turn as StoredToBuffer).
    virtual void BufferToStored(unsigned char* data, uint64_t bytes) const {
        StoredToBuffer(data, bytes);
    }
    // The stored byte of silence, which fills a gap left by writing past the end.
    virtual uint8_t SilenceByte() const { return 0; }
    // The format's refusal of a file of `frames` frames (0: it can hold them);
    // asked before a file this object made grows or is written.
    virtual OSErr CheckFrames(uint64_t /*frames*/) const { return 0; }
    // The header's final form, written by Close.
    virtual OSErr FinishFile() { return 0; }
    // What Close gives for an object that is not open.
    virtual OSErr CloseNotOpenErr() const { return kFileNotOpenBaseErr; }
    // What the other operations give for an object that is not open.
    virtual OSErr NotOpenErr() const { return kFileNotOpenBaseErr; }
    // Reads what the file holds of the block of frames that begins at `frame`
    // into the input buffer `buffer` (the fork placed at the frame as needed)
    // in the buffer form, and zero-fills the rest of it. By default a stored
    // frame is as wide as a buffer frame, and the frames the buffer holds
    // already (held_) are moved to the front rather than read again; a format
    // that reads otherwise overrides this and leaves held_ alone.
    virtual OSErr ReadFrames(uint32_t frame, unsigned char* buffer);
    // ReadFrames for 64-bit floating-point samples (big- or little-endian):
    // each times `scale`, saturated to a 32-bit buffer sample.
    OSErr ReadDoubleFrames(uint32_t frame, unsigned char* buffer, bool bigEndian, double scale);

    // Opens the fork for reading and marks the file open, not writable.
    OSErr OpenForReading();
    // The base Create, then a new file opened for writing; the header is then
    // the format's to write.
    OSErr CreateWritable(short channels, short wordSize, float sampleRate, void* specifics,
                         const unsigned char* extension);

    uint32_t dataStart_;
    // True for a file this object created (only such a file is ever written).
    bool writable_ = false;
    // What the input buffer holds from the file, kept for the next refresh.
    pcmio::HeldInput held_;

private:
    pcmio::HeldInput HeldNow() const {
        return {GetBufferEpoch(), forkRef_, dataStart_, FrameBytes(), dataType_, 0, 0};
    }
};
