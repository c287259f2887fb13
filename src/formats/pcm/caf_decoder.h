// Decoding of the compressed packets of a Core Audio Format file through the
// media library: one packet in, its frames out as interleaved 32-bit samples
// at the full scale of the 32-bit range. Apple Lossless is the one format
// decoded; every packet of it stands alone, so any packet can be decoded first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/errors.h"

struct AVCodecContext;
struct AVPacket;
struct AVFrame;

namespace caf {

class PacketDecoder {
public:
    PacketDecoder() = default;
    ~PacketDecoder();
    PacketDecoder(const PacketDecoder&) = delete;
    PacketDecoder& operator=(const PacketDecoder&) = delete;

    // The zero bytes that must follow a packet's bytes in memory.
    static size_t Padding();

    // Prepares decoding of Apple Lossless packets of `channels` channels and
    // `framesPerPacket` frames from the file's magic cookie. -22008 when the
    // cookie does not describe such a stream or the decoder refuses it, -108
    // when memory runs out.
    OSErr Open(const std::vector<uint8_t>& cookie, double sampleRate, uint32_t channels,
               uint32_t framesPerPacket);

    // Decodes one packet (followed by Padding() zero bytes) into `out`, which
    // takes framesPerPacket x channels samples; *frames is the frames decoded.
    // -22008 when the packet cannot be decoded.
    OSErr Decode(const uint8_t* packet, uint32_t bytes, int32_t* out, uint32_t* frames);

private:
    void Release();

    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    uint32_t channels_ = 0;
    uint32_t framesPerPacket_ = 0;
};

}  // namespace caf
