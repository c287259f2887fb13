// What the uncompressed-sample formats (AIFF and AIFF-C, WAVE and its variants,
// NeXT/Sun) share below their chunk layouts: positioned reads and writes on a
// fork, the frame arithmetic of sample data that begins at a fixed offset, the
// block traffic between the file and the sound-file buffers, and the in-place
// conversions between samples as stored and the buffer form.
//
// The buffer form: signed integers in the machine's byte order, 8, 16 or 32
// bits, and packed 24-bit samples least significant byte first.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "foundation/xwqf.h"
#include "soundfile/sound_file.h"

namespace pcmio {

// ---- Positioned I/O ---------------------------------------------------------

OSErr ReadAt(int fork, uint32_t position, void* data, int count);
OSErr WriteAt(int fork, uint32_t position, const void* data, int count);
OSErr AppendAtEnd(int fork, const void* data, int count);

// After an odd number of sample bytes, the pad byte (0) that evens the chunk.
OSErr WritePadByte(int fork, uint32_t dataStart, uint64_t dataBytes);

// ---- Frames of the sample data ------------------------------------------------

// The byte position of `frame` in sample data that begins at `dataStart`;
// kFileBoundsErr when it lies beyond the largest file.
OSErr FramePosition(uint32_t dataStart, uint64_t frameBytes, uint32_t frame, uint64_t* position);

// Places the fork at `frame`. A frame past the end of the file is first made
// part of it by `extend(frame)` (the format's SetEndOfFile).
template <class Extend>
OSErr SeekFrame(int fork, uint32_t dataStart, uint64_t frameBytes, uint32_t frame,
                Extend&& extend) {
    uint64_t position = 0;
    if (OSErr err = FramePosition(dataStart, frameBytes, frame, &position)) return err;
    OSErr err = XWQF::SetPos(fork, XWQF::kFromStart, static_cast<int>(position));
    if (err == kEOFErr) {
        err = extend(frame);
        if (err == 0) err = XWQF::SetPos(fork, XWQF::kFromStart, static_cast<int>(position));
    }
    return err;
}

// Makes the file long enough for `frames` frames after `dataStart`; it never
// shrinks. Bytes of 0 are added by moving the end of the file, any other fill
// byte (the silence of unsigned or companded samples) is written. A file that
// would have to grow but must not (`mayGrow` false) gives kWritePermErr.
OSErr ExtendToFrames(int fork, uint32_t dataStart, uint64_t frameBytes, uint32_t frames,
                     uint8_t fill, bool mayGrow = true);

// The whole frames the file holds after `dataStart`. *frames is left as it is
// when a frame has no bytes.
OSErr CountFrames(int fork, uint32_t dataStart, uint64_t frameBytes, uint32_t* frames);

// ---- Blocks -------------------------------------------------------------------

// How much of the block that begins at `frame` the file holds, in units of
// which a frame has `perFrame` (bytes or samples): up to `bufferFrames` frames,
// never more than `limit` units.
inline uint64_t BlockExtent(uint32_t frame, uint32_t numFrames, uint32_t bufferFrames,
                            uint64_t perFrame, uint64_t limit) {
    if (frame >= numFrames) return 0;
    return std::min<uint64_t>(std::min<uint64_t>(bufferFrames, numFrames - frame) * perFrame,
                              limit);
}

// Reads `count` bytes at the fork's position into `buffer` (nothing when it is
// 0) and zero-fills the rest of its `bufferBytes`. The bytes read come back in
// *got, also on failure.
OSErr ReadAndClear(int fork, unsigned char* buffer, uint64_t count, uint64_t bufferBytes,
                   uint64_t* got);

// ReadAndClear after `position()` has placed the fork; with nothing to read the
// fork is not moved, and when positioning fails the buffer is only cleared.
template <class Position>
OSErr ReadBlock(int fork, Position&& position, unsigned char* buffer, uint64_t count,
                uint64_t bufferBytes, uint64_t* got) {
    const OSErr err = count ? position() : OSErr(0);
    const OSErr readErr = ReadAndClear(fork, buffer, err ? 0 : count, bufferBytes, got);
    return err ? err : readErr;
}

// Reads `samples` stored samples of `storedBytes` each at the fork's position
// for a buffer whose samples take `bufferBytesPerSample` (no fewer). They are
// read into the back of the block, turned into the buffer form front to back by
// `widen(buffer, stored, samplesRead)` (so that no second block is needed), and
// the rest of the buffer's `bufferBytes` is zero-filled.
template <class Widen>
OSErr ReadWidened(int fork, unsigned char* buffer, uint64_t bufferBytes, uint64_t samples,
                  uint32_t storedBytes, uint32_t bufferBytesPerSample, Widen&& widen) {
    unsigned char* stored = buffer + samples * (bufferBytesPerSample - storedBytes);
    uint64_t bytes = 0;
    OSErr err = 0;
    if (samples) {
        int n = static_cast<int>(samples * storedBytes);
        err = XWQF::Read(fork, &n, stored);
        bytes = n > 0 ? static_cast<uint64_t>(n) : 0;
    }
    const uint64_t got = storedBytes ? std::min(bytes / storedBytes, samples) : 0;
    widen(buffer, static_cast<const unsigned char*>(stored), got);
    std::fill(buffer + got * bufferBytesPerSample, buffer + bufferBytes,
              static_cast<unsigned char>(0));
    return err;
}

// Reads `samples` stored samples of `storedBytes` each (at most 16) at the
// fork's position for a buffer whose samples take fewer bytes,
// `bufferBytesPerSample`, with no second block: each piece is read into the part
// of the buffer not yet filled and turned into the buffer form there by
// `narrow(to, stored, samplesRead)`, front to back (`stored` is `to` or, for the
// last few samples, a small block of its own), so the pieces halve until all
// are read. At most the samples the buffer holds are read; the rest of its
// `bufferBytes` is zero-filled. The samples turned come back in *got.
template <class Narrow>
OSErr ReadNarrowed(int fork, unsigned char* buffer, uint64_t bufferBytes, uint64_t samples,
                   uint32_t storedBytes, uint32_t bufferBytesPerSample, Narrow&& narrow,
                   uint64_t* got) {
    unsigned char last[16];
    *got = 0;
    if (storedBytes > sizeof last || storedBytes <= bufferBytesPerSample || bufferBytesPerSample == 0)
        return kParamErr;
    samples = std::min<uint64_t>(samples, bufferBytes / bufferBytesPerSample);
    uint64_t done = 0;
    OSErr err = 0;
    while (done < samples && err == 0) {
        unsigned char* to = buffer + done * bufferBytesPerSample;
        const uint64_t room = (bufferBytes - done * bufferBytesPerSample) / storedBytes;
        uint64_t want = std::min<uint64_t>(samples - done, room);
        unsigned char* into = to;
        if (want == 0) {
            want = 1;
            into = last;
        }
        int n = static_cast<int>(want * storedBytes);
        err = XWQF::Read(fork, &n, into);
        const uint64_t read = n > 0 ? std::min<uint64_t>(static_cast<uint64_t>(n) / storedBytes, want) : 0;
        narrow(to, static_cast<const unsigned char*>(into), read);
        done += read;
        if (read < want) break;
    }
    std::fill(buffer + done * bufferBytesPerSample, buffer + bufferBytes, static_cast<unsigned char>(0));
    *got = done;
    return err;
}

// Writes the `bytes` bytes that hold `frames` frames at the fork's position,
// which is that of frame `position`; *numFrames grows to take in the frames.
OSErr WriteFrames(int fork, const unsigned char* data, uint64_t bytes, uint32_t position,
                  uint32_t frames, uint32_t* numFrames);

// ---- Sample forms -------------------------------------------------------------

// Big-endian samples of 2, 3 or 4 bytes as stored to the buffer form, in place;
// the same operation turns them back. Other sizes are left as they are.
void SwapBigEndianSamples(unsigned char* data, uint64_t samples, uint32_t bytesPerSample);
// Little-endian samples likewise (nothing to do on a little-endian machine).
void SwapLittleEndianSamples(unsigned char* data, uint64_t samples, uint32_t bytesPerSample);

// G.711 codes to 16-bit samples of the buffer form. The codes lie at or after
// `buffer` in the same block and are consumed front to back: sample i takes
// bytes 2i and 2i + 1, never a code not yet read.
void MuLawToSamples(unsigned char* buffer, const unsigned char* codes, uint64_t samples);
void ALawToSamples(unsigned char* buffer, const unsigned char* codes, uint64_t samples);
// 16-bit samples at `buffer` to codes at its start, in place.
void SamplesToMuLaw(unsigned char* buffer, uint64_t samples);
void SamplesToALaw(unsigned char* buffer, uint64_t samples);

// ---- Header fields ------------------------------------------------------------

// The sample rate as a signed 32-bit field: truncated toward zero, the ends of
// the range beyond it, NaN as 0.
int32_t TruncatedRate(double rate);

// The channel configuration a file without a channel layout implies.
CSoundFile::ChannelConfiguration ConfigurationForChannels(uint32_t channels);

// ---- A look on a second fork ----------------------------------------------------

// What GetOfflineInfo needs: `read()` runs with *fork replaced by a new
// read-only fork of the file at `path`, which is then closed, and *fork is put
// back, so that an object already open keeps its own. The first failure, else
// the close status.
template <class Read>
OSErr ReadOnSecondFork(const std::string& path, int* fork, Read&& read) {
    const int saved = *fork;
    *fork = XWQF::kNoFork;
    FSRef ref{path};
    OSErr err = XWQF::OpenFork(&ref, XWQF::kPermRead, fork);
    if (err == 0) {
        err = read();
        const OSErr closed = XWQF::CloseFork(*fork);
        if (err == 0) err = closed;
    }
    *fork = saved;
    return err;
}

// ---- Input kept from one refresh to the next --------------------------------

// What a reader's input buffer holds from its file: whole frames in the buffer
// form from `first` on, valid while the buffer epoch, the fork, the data start
// and the frame layout are those of the refresh that read them.
struct HeldInput {
    uint32_t epoch = 0;
    int fork = XWQF::kNoFork;
    uint32_t dataStart = 0;
    uint64_t frameBytes = 0;
    short dataType = 0;
    uint32_t first = 0;
    uint32_t frames = 0;

    void Forget() { frames = 0; }
    // The frames from `frame` on that the buffer holds already (0 for the
    // buffer's own first frame, whose refresh reads it again).
    uint32_t FramesFrom(const HeldInput& now, uint32_t frame) const {
        if (frames == 0 || now.epoch != epoch || now.fork != fork ||
            now.dataStart != dataStart || now.frameBytes != frameBytes ||
            now.dataType != dataType || frame <= first || frame - first >= frames)
            return 0;
        return frames - (frame - first);
    }
};

// A refresh of the input buffer at `frame` that reads `want` bytes (the frames
// the file holds from there, at most a buffer) and zero-fills the rest of its
// `bufferBytes`, as ReadBlock does; `toBuffer(data, bytes)` turns bytes as
// stored into the buffer form. Frames the buffer holds already (`held`, from an
// earlier refresh at a lower frame) are moved to the front rather than read
// again, so a caller that asks for less than a buffer at a time reads every
// byte once. `now` describes the present state (its first and frames unused);
// `held` then describes the buffer. The bytes at the front in the buffer form
// come back in *got.
template <class Position, class ToBuffer>
OSErr RefreshKeeping(HeldInput& held, const HeldInput& now, unsigned char* buffer,
                     uint64_t bufferBytes, uint32_t frame, uint64_t want, Position&& position,
                     ToBuffer&& toBuffer, uint64_t* got) {
    const uint64_t frameBytes = now.frameBytes;
    uint64_t kept = 0;
    if (frameBytes) {
        kept = std::min<uint64_t>(held.FramesFrom(now, frame) * frameBytes, want);
        kept -= kept % frameBytes;
    }
    if (kept) {
        const uint64_t from = static_cast<uint64_t>(frame - held.first) * frameBytes;
        std::memmove(buffer, buffer + from, static_cast<size_t>(kept));
    }
    const uint32_t next = frame + static_cast<uint32_t>(frameBytes ? kept / frameBytes : 0);
    OSErr err = 0;
    uint64_t fresh = 0;
    if (want > kept) {
        err = position(next);
        if (err) {
            // As a refresh that could not position: nothing in the buffer.
            kept = 0;
            std::memset(buffer, 0, static_cast<size_t>(bufferBytes));
        } else {
            err = ReadAndClear(now.fork, buffer + kept, want - kept, bufferBytes - kept, &fresh);
            toBuffer(buffer + kept, fresh);
        }
    } else {
        std::memset(buffer + kept, 0, static_cast<size_t>(bufferBytes - kept));
    }
    *got = kept + fresh;
    held = now;
    held.first = frame;
    held.frames = frameBytes ? static_cast<uint32_t>(*got / frameBytes) : 0;
    return err;
}

// ---- The output block ---------------------------------------------------------

// A refresh of the output block at `frame` of sample data that holds
// `numFrames` frames of `frameBytes` each: the block supplies its first `frames`
// frames, `blockBytes` bytes in the buffer form. Those the data holds are read
// (no more than `blockBytes`) after `position()` has placed the fork, and the
// rest of the `blockBytes` is zero-filled; past the end of the data there is
// nothing to read. A frame past the end is still positioned to (which makes the
// file reach it). The bytes read come back in *got; a read that ends early is
// no failure here.
template <class Position>
OSErr RefreshOutputBlock(int fork, Position&& position, unsigned char* buffer, uint32_t frame,
                         uint32_t numFrames, uint32_t frames, uint64_t frameBytes,
                         uint64_t blockBytes, uint64_t* got) {
    const uint64_t want = BlockExtent(frame, numFrames, frames, frameBytes, blockBytes);
    OSErr err = 0;
    if (want == 0 && frame > numFrames) err = position();
    if (err) {
        *got = 0;
        std::memset(buffer, 0, static_cast<size_t>(blockBytes));
        return err;
    }
    err = ReadBlock(fork, position, buffer, want, blockBytes, got);
    return err == kEOFErr ? OSErr(0) : err;
}

// ---- Sample sizes ---------------------------------------------------------------

// The word size of samples stored `bits` wide: a size of 1 to 32 bits that is
// not a whole number of bytes is kept in the next whole byte, the sample
// left-justified and zero below it, so the container read at its own scale is
// the sample at its true scale. Other sizes come back as they are.
constexpr short ContainerWordSize(int bits) {
    return static_cast<short>(bits >= 1 && bits <= 32 ? (bits + 7) / 8 * 8 : bits);
}

// Clears the bits below the `validBits` most significant ones of `samples`
// samples in the buffer form, `bytesPerSample` bytes each, so that a sample
// narrower than its container is written left-justified with zeros below it.
// Nothing changes when the samples are as wide as their bytes.
void ClearBelowValidBits(unsigned char* data, uint64_t samples, uint32_t bytesPerSample,
                         int validBits);

// `x` truncated toward zero and held to the 32-bit integer range; NaN gives 0.
// A float sample takes it after its scaling to the buffer form, a rate field
// before it is stored.
inline int32_t SaturatedInt32(double x) {
    const double scaled = x;
    if (scaled >= 2147483647.0) return INT32_MAX;
    if (scaled <= -2147483648.0) return INT32_MIN;
    if (!(scaled == scaled)) return 0;
    return static_cast<int32_t>(scaled);
}

}  // namespace pcmio
