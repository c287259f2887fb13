// Decoding of the compressed packets of a Core Audio Format file through the
// media library: whole packets in, their frames out as interleaved 32-bit
// samples at the full scale of the 32-bit range. Which compressed formats are
// read, and what the reader must know of each, is kept here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/errors.h"
#include "formats/pcm/caf_container.h"

struct AVCodecContext;
struct AVCodec;
struct AVPacket;
struct AVFrame;

namespace caf {

// What a format's magic cookie holds for its decoder.
enum class CookieKind {
    kNone,           // nothing needed
    kAppleLossless,  // the stream's configuration, which must describe the file's stream
    kEsDescriptor,   // an MPEG-4 elementary stream descriptor with the decoder's configuration
};

// A compressed format the media library decodes.
struct CompressedFormat {
    uint32_t formatID;
    int codecID;  // the media library's codec
    // Every packet decodes on its own, whatever came before it; otherwise a
    // packet decodes right only after the packets before it.
    bool standsAlone;
    // The decoder takes a run of packets of a constant size in one call;
    // otherwise each packet is handed over alone.
    bool takesRuns;
    // The decoder delivers the channels in an order of its own (Apple
    // Lossless, AAC); otherwise in the order they are stored.
    bool decoderOrder;
    CookieKind cookie;
};

// The compressed format of a 'desc' format ID; null for one not read here.
const CompressedFormat* FindCompressedFormat(uint32_t formatID);

class PacketDecoder {
public:
    PacketDecoder() = default;
    ~PacketDecoder();
    PacketDecoder(const PacketDecoder&) = delete;
    PacketDecoder& operator=(const PacketDecoder&) = delete;

    // The zero bytes that must follow a packet's bytes in memory.
    static size_t Padding();

    // Prepares decoding of the packets the description declares, with the
    // file's magic cookie (empty when it has none). -22008 when the media
    // library is missing, the cookie does not describe the stream or the
    // decoder refuses it; -108 when memory runs out.
    OSErr Open(const CompressedFormat& format, const std::vector<uint8_t>& cookie,
               const StreamDescription& description);

    // Decodes `bytes` bytes of whole packets (followed by Padding() zero bytes)
    // into `out`, which takes `capacity` frames; *frames is the frames decoded.
    // -22008 when the packets cannot be decoded or decode to more than
    // `capacity` frames.
    OSErr Decode(const uint8_t* packets, uint32_t bytes, int32_t* out, uint32_t capacity,
                 uint32_t* frames);

    // The layout tag of the order the decoder delivers the channels in, as it
    // says when opened; 0 when that is none of the layouts known here.
    uint32_t DecodedLayoutTag() const;

    // Forgets what earlier packets left behind: the next packet is decoded as
    // by a decoder that has seen none.
    OSErr Reset();

private:
    OSErr MakeContext();
    // Appends the samples of the frame received into `out` from frame `at` on.
    OSErr TakeFrame(int32_t* out, uint32_t at, uint32_t capacity, uint32_t* frames);
    void Release();

    const AVCodec* codec_ = nullptr;
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    std::vector<uint8_t> extradata_;  // handed to every context made
    double sampleRate_ = 0;
    uint32_t channels_ = 0;
    uint32_t blockAlign_ = 0;
};

}  // namespace caf
