// G.729 Annex A coding of whole files: the serial frame form the drivers read
// and write, and the two drivers, g729encode (headerless 16-bit PCM to serial
// frames) and g729decode (serial frames to headerless 16-bit PCM), around the
// codec of libbcg729.
//
// Every run makes a codec context of its own and ends it on every path, so runs
// on different threads (a batch coding while the player decodes) never meet.
#pragma once

#include <cstdint>

#include "foundation/errors.h"

namespace g729 {

constexpr int kFrameSamples = 80;       // 10 ms at 8000 Hz
constexpr int kFrameBits = 80;          // 8 kbit/s
constexpr int kPackedFrameBytes = 10;   // the frame's bits, first bit in the top bit of byte 0
constexpr int kSerialFrameWords = 82;   // sync, bit count, one word a bit
constexpr int kSerialFrameBytes = 2 * kSerialFrameWords;
constexpr uint16_t kSyncWord = 0x6B21;
constexpr uint16_t kBitZero = 0x007F;
constexpr uint16_t kBitOne = 0x0081;

// The serial frame of a packed frame: sync, 80, then a word a bit, top bit of
// the first byte first.
void PackedToSerial(const uint8_t (&packed)[kPackedFrameBytes],
                    uint16_t (&serial)[kSerialFrameWords]);

// The packed frame of the 80 bit words of a serial frame (its words 2 to 81):
// a bit is 1 only when its word is 0x0081. True when the frame is erased (one
// of its bit words is 0).
bool SerialBitsToPacked(const uint16_t* bitWords, uint8_t (&packed)[kPackedFrameBytes]);

// Supplies an encoder run with its speech, frame after frame.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // Fills the next 80 samples; false when no whole frame is left (the
    // samples after the last whole frame are not coded) or reading failed.
    virtual bool NextFrame(int16_t (&samples)[kFrameSamples]) = 0;
    // Why the last NextFrame gave false: 0 at the end of the speech.
    virtual OSErr status() const = 0;
};

// Codes the frames of `source` into serial frames, words little-endian, in a
// file at `serialPath`, which is created or truncated. Before each frame the
// position (frame index x 80) is reported; a cancel (-128, -2019) ends the run
// with that code. Returns -50 (with a line on standard error) when the file
// cannot be opened, the file layer's status when reading, writing or closing
// fails, else the result of the last position report (0 when there was no frame).
int32_t EncodeFrames(FrameSource& source, const char* serialPath);

}  // namespace g729

// Codes a headerless file of 16-bit little-endian mono samples at 8000 Hz into
// serial frames; EncodeFrames on the whole frames of the file. -50 with a line
// on standard error when either file cannot be opened.
int32_t g729encode(const char* pcmPath, const char* serialPath);

// Decodes serial frames (words little-endian) into a headerless file of 16-bit
// little-endian samples, created or truncated. A frame with a bit word of 0 is
// erased and concealed; words 0 and 1 of a frame are not checked; bytes after
// the last whole frame are ignored. The position of each frame is reported
// before it is decoded; a cancel (-128, -2019) ends the run with that code and
// leaves the frames decoded so far. Otherwise as EncodeFrames.
int32_t g729decode(const char* serialPath, const char* pcmPath);
