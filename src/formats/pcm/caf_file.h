// Core Audio Format files ('caff'). Reading takes linear PCM of 8 to 32-bit
// integers and 32 or 64-bit floats in either byte order, and the compressed
// formats the media library decodes (Apple Lossless, µ-law, A-law, IMA 4:1,
// GSM, MPEG audio and others: caf_decoder.h); the file's channel layout gives
// the channel configuration, and the channels of some layouts are delivered in
// the order of another. Writing makes big-endian signed-integer PCM without a
// channel layout.
//
// The buffer form: integer samples as the word size says; float files are read
// as 32-bit integers (full scale of the 32-bit range, clipped), compressed
// data as 24-bit samples.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/pcm/caf_container.h"
#include "soundfile/sound_file.h"

namespace caf {
class PacketDecoder;
struct CompressedFormat;
}

enum : int {
    kCafUnsupportedWordSizeErr = -20020,  // a written word size of 9 to 31 bits, not whole bytes
};

class CafFile : public CSoundFile {
public:
    CafFile();
    ~CafFile() override;

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    // Writes the final header of a file this object made; 0 when nothing is open.
    OSErr Close() override;
    OSErr GetOfflineInfo(OSErr* status) override;

    OSErr RefreshInputBuffer(uint32_t frame) override;
    OSErr InitOutputBuffer() override;
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override;
    void DisposeBuffer() override;
    OSErr SetFilePos(uint32_t frame) override;

    OSType GetFType() override;
    std::string GetDescription() override;
    std::string GetChannelName(short channel) override;
    bool CanBeSplit() override { return true; }

    // The layout tag the samples are delivered in when it differs from the
    // file's (0: the file's own order).
    uint32_t GetClientLayoutTag() const { return clientTag_; }

private:
    // Everything Open does but the whole-file region.
    OSErr OpenStream();
    // The stored form and the frames of linear PCM; the frames `statedBytes`
    // would hold are kept when the file holds fewer.
    OSErr TakeLinearDescription(const caf::StreamDescription& d, uint64_t audioBytes,
                                uint64_t statedBytes);
    // The decoder and the frames of a compressed stream; the frames the 'data'
    // size or the packet table states are kept when the file holds fewer.
    OSErr TakeCompressedStream(const caf::FileLayout& layout);
    OSErr TakeChannelLayout(const caf::FileLayout& layout);
    // Leaves the object closed, whatever is open.
    OSErr CloseStream();

    uint64_t FileBytesPerFrame() const {
        return static_cast<uint64_t>(storedSampleBytes_) * channels_;
    }
    uint32_t BufferBytesPerSample() const {
        return static_cast<uint32_t>(wordSize_ >= 8 ? wordSize_ / 8 : 0);
    }
    // Grows a file this object made to `frames` frames, with zero samples.
    OSErr SetEndOfFile(uint32_t frames);
    // Puts `frames` frames from `frame` on into `buffer` in the buffer form;
    // *got is the frames put there, also on failure.
    OSErr ReadLinear(uint32_t frame, uint32_t frames, unsigned char* buffer, uint32_t* got);
    OSErr ReadCompressed(uint32_t frame, uint32_t frames, unsigned char* buffer, uint32_t* got);
    // Decodes a unit of packets into decoded_ unless it is there already; a
    // decoder whose packets depend on the earlier ones goes on from the unit
    // it decoded last, or starts again some units before.
    OSErr DecodeUnit(uint64_t unit);
    // Decodes one unit into decoded_, whatever the decoder has seen before.
    OSErr DecodeUnitAlone(uint64_t unit);
    // Where the packets of a unit lie in the audio data, and how many there are.
    OSErr LocateUnit(uint64_t unit, uint64_t* offset, uint32_t* bytes, uint32_t* packets);
    // Puts the channels of `frames` frames into the client layout's order.
    void Reorder(unsigned char* buffer, uint32_t frames) const;
    void ForgetInputBlock() { inputHeld_ = false; }

    std::unique_ptr<ForkSource> source_;
    std::unique_ptr<caf::PacketDecoder> decoder_;
    bool writable_ = false;

    // Linear PCM as stored.
    uint32_t dataStart_ = 0;
    uint32_t storedSampleBytes_ = 0;
    bool storedFloat_ = false;
    bool storedLittleEndian_ = false;
    // Stored samples are read a piece at a time through this block.
    std::vector<unsigned char> scratch_;

    // Compressed packets, decoded a unit at a time: a packet, or a run of
    // packets of a constant size.
    bool compressed_ = false;
    const caf::CompressedFormat* format_ = nullptr;
    caf::PacketTable packetTable_;
    uint64_t audioStart_ = 0;
    uint32_t bytesPerPacket_ = 0;  // 0: sizes from the packet table
    uint64_t packets_ = 0;
    uint32_t framesPerPacket_ = 0;
    uint32_t packetsPerUnit_ = 1;
    uint32_t framesPerUnit_ = 0;
    uint64_t prerollUnits_ = 0;
    uint32_t primingFrames_ = 0;
    std::vector<uint8_t> packetBytes_;
    std::vector<int32_t> decoded_;
    uint64_t decodedUnit_ = UINT64_MAX;
    uint32_t decodedFrames_ = 0;
    // The unit the decoder goes on with (UINT64_MAX: none, it starts afresh).
    uint64_t nextUnit_ = UINT64_MAX;

    // Channel order.
    uint32_t clientTag_ = 0;
    bool reorder_ = false;
    std::array<uint8_t, caf::kMaxOrderedChannels> permutation_{};

    // Whether the input buffer (at heldBuffer_) holds the block read from the
    // first buffered frame on.
    bool inputHeld_ = false;
    const unsigned char* heldBuffer_ = nullptr;
};
