// The Core Audio Format container: the file header and the chunk list of a
// file ('desc', 'data', 'chan', 'kuki', 'pakt'), read through the bounded
// reader; the header this program writes; and the published channel orders of
// the layout tags, from which channels are put into another layout's order.
//
// All numbers of the container are big-endian; chunk sizes are signed 64-bit.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "formats/chunk_reader.h"
#include "soundfile/type_codes.h"

namespace caf {

// Status of a chunk whose size cannot be (negative, or smaller than its fields).
constexpr int kBadChunkSizeErr = -22009;

constexpr uint32_t kFormatLinearPCM = FourCC("lpcm");
constexpr uint32_t kFormatAppleLossless = FourCC("alac");

// The linear-PCM flags of the 'desc' chunk. They are the container's own:
// integer samples are signed, and big-endian integers have no flag set.
constexpr uint32_t kFlagFloat = 1u << 0;
constexpr uint32_t kFlagLittleEndian = 1u << 1;

// The 'desc' chunk.
struct StreamDescription {
    double sampleRate = 0;
    uint32_t formatID = 0;
    uint32_t formatFlags = 0;
    uint32_t bytesPerPacket = 0;
    uint32_t framesPerPacket = 0;
    uint32_t channelsPerFrame = 0;
    uint32_t bitsPerChannel = 0;
};

// The fixed fields of the 'chan' chunk.
struct ChannelLayoutHead {
    bool present = false;
    uint32_t tag = 0;
    uint32_t bitmap = 0;
    // The channel descriptions the chunk really holds (no more than it declares).
    uint32_t descriptions = 0;
};

// Where a chunk's bytes lie; `bytes` counts only those the file holds.
struct ChunkPlace {
    bool present = false;
    uint64_t offset = 0;  // of the first byte after the chunk header
    uint64_t bytes = 0;
};

// What the chunks of a file say, checked against the file's size.
struct FileLayout {
    StreamDescription description;
    // The audio data after the edit count: its first byte and the bytes of it
    // the file holds (a 'data' size of -1 runs to the end of the file).
    uint64_t audioStart = 0;
    uint64_t audioBytes = 0;
    // The bytes of audio data the 'data' size states (audioBytes for a size
    // of -1); more than audioBytes when the file ends before the chunk does.
    uint64_t statedAudioBytes = 0;
    ChannelLayoutHead channelLayout;
    ChunkPlace cookie;
    ChunkPlace packetTable;
};

// Reads the file header and walks every chunk. -22008 when the source is not a
// Core Audio Format file or lacks 'desc' or 'data', kBadChunkSizeErr for a
// negative size or a chunk too small for its fields, -1309 for a size beyond
// the largest file, -39 when a needed chunk is cut off by the end of the file.
OSErr ReadFileLayout(ByteSource& source, FileLayout* layout);

// The first 'data' chunk of a file: where its header lies and the size field
// as stored (-1 for a file written as a stream, whose data runs to its end).
struct DataChunkHead {
    uint64_t offset = 0;  // of the chunk's type
    int64_t size = 0;
    // Whether the size field states the bytes of audio data: it is neither -1
    // nor the edit count's 4 bytes or fewer.
    bool StatesAudioBytes() const { return size > 4; }
    // Where the audio data begins: past the header's 12 bytes and the edit
    // count. No byte before it is audio, whatever the size field says.
    uint64_t audioStart() const { return offset + 16; }
    // Where the audio data ends by the size field (its header's 12 bytes, then
    // the edit count and the data); only where it StatesAudioBytes. No sum
    // overflows: the offset lies inside a file, the size below 2^63.
    uint64_t audioEnd() const { return offset + 12 + static_cast<uint64_t>(size); }
};

// Walks the chunk headers after the file header up to the first 'data' chunk,
// whatever the other chunks hold. -22008 when the source is not a Core Audio
// Format file or no 'data' chunk header lies inside it (a negative size
// before one ends the walk), or the failure of a read.
OSErr FindDataChunk(ByteSource& source, DataChunkHead* head);

// The most bytes a magic cookie is read with (Apple Lossless needs 48).
constexpr uint64_t kMaxCookieBytes = 4096;
// The most bytes one packet may take (an Apple Lossless packet of 8 channels
// of 65536 frames of 32 bits, with room for its headers).
constexpr uint32_t kMaxPacketBytes = 8u * 65536u * 4u + 4096u;

// The packet table of variable-size packets: the declared counts, and a sparse
// index into the entries so that any packet is found by decoding at most
// kStride entries, without holding an entry per packet in memory.
class PacketTable {
public:
    static constexpr uint32_t kStride = 256;

    // Reads the 'pakt' chunk at `place` and checks every entry: each packet
    // takes 1 .. kMaxPacketBytes bytes. Only the packets whose bytes all lie in
    // the `audioBytes` of audio data are counted. kBadChunkSizeErr for a table
    // too small for its header, negative counts or an entry out of range.
    OSErr Read(ByteSource& source, const ChunkPlace& place, uint64_t audioBytes);

    uint64_t packets() const { return packets_; }
    // The packets the table's header declares (packets() counts those there).
    uint64_t declaredPackets() const { return declaredPackets_; }
    int64_t validFrames() const { return validFrames_; }
    int32_t primingFrames() const { return primingFrames_; }
    int32_t remainderFrames() const { return remainderFrames_; }
    uint32_t largestPacket() const { return largest_; }

    // The offset of packet `index` from the start of the audio data, and its
    // size; -50 for an index past the counted packets.
    OSErr Locate(ByteSource& source, uint64_t index, uint64_t* offset, uint32_t* bytes);

private:
    struct Mark {
        uint64_t entry;   // position of the packet's entry in the file
        uint64_t offset;  // of the packet from the start of the audio data
    };
    // Reads entries from `mark` (for packet `first`) up to packet `index`.
    OSErr Walk(ByteSource& source, uint64_t first, Mark mark, uint64_t index, uint64_t* offset,
               uint32_t* bytes);

    uint64_t tableEnd_ = 0;
    uint64_t packets_ = 0;
    uint64_t declaredPackets_ = 0;
    int64_t validFrames_ = 0;
    int32_t primingFrames_ = 0;
    int32_t remainderFrames_ = 0;
    uint32_t largest_ = 0;
    std::vector<Mark> marks_;  // one for every kStride-th packet
    // The packet after the one last located, for reading straight on.
    uint64_t nextPacket_ = 0;
    Mark next_{};
};

// ---- Writing ------------------------------------------------------------------

// Bytes of the header this program writes: file header, 'desc', 'data' header
// and edit count. The samples follow it.
constexpr uint32_t kWrittenHeaderBytes = 68;
// The 'data' size of a file whose samples are still being written: to the end.
constexpr int64_t kSizeToEnd = -1;

// The header of a file of big-endian signed-integer samples of `bits` bits
// with `audioBytes` bytes of samples (or kSizeToEnd).
std::array<uint8_t, kWrittenHeaderBytes> MakeHeader(double sampleRate, uint32_t channels,
                                                    uint32_t bits, int64_t audioBytes);

// ---- Channel orders -----------------------------------------------------------

// The most channels of a layout whose channel order is known.
constexpr uint32_t kMaxOrderedChannels = 8;

// Fills `permutation` (the tags' channel count entries) so that channel i of
// `toTag`'s order is channel permutation[i] of `fromTag`'s order: channels of
// the same role are paired, and the rest of each are paired in their order.
// False when a tag's order is not known or the counts differ.
bool ChannelPermutation(uint32_t fromTag, uint32_t toTag,
                        std::array<uint8_t, kMaxOrderedChannels>* permutation);

}  // namespace caf
