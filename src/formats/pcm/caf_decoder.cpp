#include "formats/pcm/caf_decoder.h"

#include <cmath>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
}

#include "formats/chunk_reader.h"
#include "platform/media_library.h"
#include "soundfile/core_audio_types.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"

namespace caf {

namespace {

// The stream's configuration as an Apple Lossless cookie holds it, after any
// 'frma' and 'alac' atom headers: frame length, version, bit depth, three
// tuning bytes, channels, longest run, largest frame, mean bit rate, sample rate.
constexpr size_t kConfigBytes = 24;
constexpr size_t kAtomHeaderBytes = 12;
// The most channels an Apple Lossless stream has.
constexpr uint32_t kMaxLosslessChannels = 8;

using enum CookieKind;

// Format, codec, stands alone, takes runs, decoder's order, cookie.
constexpr CompressedFormat kFormats[] = {
    {FourCC("alac"), AV_CODEC_ID_ALAC, true, false, true, kAppleLossless},
    {FourCC("ulaw"), AV_CODEC_ID_PCM_MULAW, true, true, false, kNone},
    {FourCC("alaw"), AV_CODEC_ID_PCM_ALAW, true, true, false, kNone},
    // Every IMA 4:1 packet starts with its own predictor and step.
    {FourCC("ima4"), AV_CODEC_ID_ADPCM_IMA_QT, true, true, false, kNone},
    {FourCC("MAC3"), AV_CODEC_ID_MACE3, false, true, false, kNone},
    {FourCC("MAC6"), AV_CODEC_ID_MACE6, false, true, false, kNone},
    {FourCC("agsm"), AV_CODEC_ID_GSM, false, true, false, kNone},
    // Microsoft GSM: 'ms' and the WAVE format tag 0x0031.
    {0x6D730031, AV_CODEC_ID_GSM_MS, false, true, false, kNone},
    {FourCC("Qclp"), AV_CODEC_ID_QCELP, false, false, false, kNone},
    {FourCC("samr"), AV_CODEC_ID_AMR_NB, false, false, false, kNone},
    {FourCC("ilbc"), AV_CODEC_ID_ILBC, false, false, false, kNone},
    {FourCC(".mp1"), AV_CODEC_ID_MP1, false, false, false, kNone},
    {FourCC(".mp2"), AV_CODEC_ID_MP2, false, false, false, kNone},
    {FourCC(".mp3"), AV_CODEC_ID_MP3, false, false, false, kNone},
    {FourCC("aac "), AV_CODEC_ID_AAC, false, false, true, kEsDescriptor},
    {FourCC("opus"), AV_CODEC_ID_OPUS, false, false, false, kNone},
};

// The MPEG-4 descriptors of an elementary stream descriptor that lead to the
// decoder's configuration.
constexpr uint8_t kEsDescriptorTag = 3;
constexpr uint8_t kDecoderConfigTag = 4;
constexpr uint8_t kDecoderSpecificTag = 5;
// The fields of a decoder configuration before the descriptors it holds:
// object type, stream type, buffer size, largest and mean bit rate.
constexpr uint64_t kDecoderConfigBytes = 13;
// The version and flags an 'esds' atom puts before the descriptor.
constexpr uint64_t kAtomVersionBytes = 4;
// The layout tags of the native orders of the media library that are known
// here, by their channel masks.
struct NativeOrder {
    uint64_t mask;
    uint16_t layout;
};
constexpr NativeOrder kNativeOrders[] = {
    // L R C; L R C Cs; L R C Ls Rs (side or back); L R C LFE Ls Rs (side or back)
    {AV_CH_LAYOUT_SURROUND, 113},
    {AV_CH_LAYOUT_4POINT0, 115},
    {AV_CH_LAYOUT_5POINT0, 117},
    {AV_CH_LAYOUT_5POINT0_BACK, 117},
    {AV_CH_LAYOUT_5POINT1, 121},
    {AV_CH_LAYOUT_5POINT1_BACK, 121},
    // L R C LFE Ls Rs Cs; L R C LFE Ls Rs Lc Rc
    {AV_CH_LAYOUT_6POINT1_BACK, 125},
    {AV_CH_LAYOUT_7POINT1_WIDE_BACK, 126},
};

// The configuration within an Apple Lossless cookie; false when there is none.
bool FindLosslessConfig(const std::vector<uint8_t>& cookie, const uint8_t** config) {
    size_t at = 0;
    for (uint32_t atom : {FourCC("frma"), FourCC("alac")}) {
        if (cookie.size() >= at + kAtomHeaderBytes && LoadBE32(cookie.data() + at + 4) == atom)
            at += kAtomHeaderBytes;
    }
    if (cookie.size() < at + kConfigBytes) return false;
    *config = cookie.data() + at;
    return true;
}

// A descriptor's tag and body (its length in up to four bytes of seven bits).
bool ReadDescriptor(ByteView& in, uint8_t* tag, ByteView* body) {
    uint8_t t = 0;
    if (!in.ReadU8(&t)) return false;
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) {
        uint8_t b = 0;
        if (!in.ReadU8(&b)) return false;
        length = (length << 7) | (b & 0x7F);
        if (!(b & 0x80)) {
            *tag = t;
            return in.Sub(length, body);
        }
    }
    return false;
}

// The decoder's configuration in an elementary stream descriptor (with or
// without the version and flags of an 'esds' atom in front); false when the
// cookie holds none.
bool FindDecoderSpecificInfo(const std::vector<uint8_t>& cookie, std::vector<uint8_t>* info) {
    ByteView in(cookie.data(), cookie.size());
    if (!cookie.empty() && cookie[0] != kEsDescriptorTag && !in.Skip(kAtomVersionBytes))
        return false;
    uint8_t tag = 0;
    ByteView es;
    uint8_t flags = 0;
    if (!ReadDescriptor(in, &tag, &es) || tag != kEsDescriptorTag || !es.Skip(2) ||
        !es.ReadU8(&flags))
        return false;
    // The stream it depends on, its URL and its clock reference stream.
    if ((flags & 0x80) && !es.Skip(2)) return false;
    if (flags & 0x40) {
        uint8_t n = 0;
        if (!es.ReadU8(&n) || !es.Skip(n)) return false;
    }
    if ((flags & 0x20) && !es.Skip(2)) return false;
    // Every step consumes a descriptor of at least two bytes, so the loops end.
    ByteView config;
    while (es.remaining()) {
        if (!ReadDescriptor(es, &tag, &config)) return false;
        if (tag != kDecoderConfigTag) continue;
        if (!config.Skip(kDecoderConfigBytes)) return false;
        while (config.remaining()) {
            ByteView specific;
            if (!ReadDescriptor(config, &tag, &specific)) return false;
            if (tag == kDecoderSpecificTag && specific.size() > 0) {
                info->assign(specific.data(), specific.data() + specific.size());
                return true;
            }
        }
        return false;
    }
    return false;
}

void QuietDecoderLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// Full scale ±1.0 to the 32-bit range, to the nearest; beyond it the ends, NaN 0.
inline int32_t RoundedSample(double x) {
    const double scaled = x * 2147483648.0;
    if (scaled >= 2147483647.0) return INT32_MAX;
    if (scaled <= -2147483648.0) return INT32_MIN;
    if (!(scaled == scaled)) return 0;
    return static_cast<int32_t>(std::nearbyint(scaled));
}

// Puts `frames` frames of decoded samples of type T into `out` (interleaved,
// `channels` a frame), each through `widen`.
template <typename T, typename Widen>
void Gather(const AVFrame* frame, bool planar, uint32_t channels, uint32_t frames, int32_t* out,
            Widen widen) {
    for (uint32_t c = 0; c < channels; ++c) {
        const auto* plane = reinterpret_cast<const uint8_t*>(frame->extended_data[planar ? c : 0]);
        const size_t step = planar ? 1 : channels;
        const size_t first = planar ? 0 : c;
        for (uint32_t i = 0; i < frames; ++i) {
            T v;
            std::memcpy(&v, plane + sizeof(T) * (first + i * step), sizeof(T));
            out[static_cast<size_t>(i) * channels + c] = widen(v);
        }
    }
}

}  // namespace

const CompressedFormat* FindCompressedFormat(uint32_t formatID) {
    for (const CompressedFormat& f : kFormats)
        if (f.formatID == formatID) return &f;
    return nullptr;
}

size_t PacketDecoder::Padding() {
    return AV_INPUT_BUFFER_PADDING_SIZE;
}

PacketDecoder::~PacketDecoder() {
    Release();
}

void PacketDecoder::Release() {
    if (frame_) av_frame_free(&frame_);
    if (packet_) av_packet_free(&packet_);
    if (context_) avcodec_free_context(&context_);
}

OSErr PacketDecoder::Open(const CompressedFormat& format, const std::vector<uint8_t>& cookie,
                          const StreamDescription& description) {
    Release();
    codec_ = nullptr;
    extradata_.clear();
    if (!platform::media::Available()) return kNotASoundFileErr;  // no decoder on this system
    QuietDecoderLog();
    channels_ = description.channelsPerFrame;
    sampleRate_ = description.sampleRate;
    // One packet of a constant size, for the decoders that take their packets' size from it.
    blockAlign_ = description.bytesPerPacket <= INT32_MAX ? description.bytesPerPacket : 0;
    if (channels_ == 0 || channels_ > kMaxSoundFileChannels) return kNotASoundFileErr;

    if (format.cookie == kEsDescriptor && !FindDecoderSpecificInfo(cookie, &extradata_))
        return kNotASoundFileErr;
    if (format.cookie == kAppleLossless) {
        const uint8_t* config = nullptr;
        if (!FindLosslessConfig(cookie, &config)) return kNotASoundFileErr;
        // The cookie must describe the stream the file declares.
        if (LoadBE32(config) != description.framesPerPacket || config[9] != channels_ ||
            channels_ > kMaxLosslessChannels)
            return kNotASoundFileErr;
        // The decoder takes the configuration inside an 'alac' atom.
        extradata_.assign(kAtomHeaderBytes + kConfigBytes, 0);
        StoreBE32(extradata_.data(), static_cast<uint32_t>(extradata_.size()));
        StoreBE32(extradata_.data() + 4, FourCC("alac"));
        std::memcpy(extradata_.data() + kAtomHeaderBytes, config, kConfigBytes);
    }

    codec_ = avcodec_find_decoder(static_cast<AVCodecID>(format.codecID));
    if (!codec_) return kNotASoundFileErr;
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!packet_ || !frame_) {
        Release();
        return kMemFullErr;
    }
    const OSErr err = MakeContext();
    if (err) Release();
    return err;
}

OSErr PacketDecoder::MakeContext() {
    if (context_) avcodec_free_context(&context_);
    if (!codec_) return kNotASoundFileErr;
    context_ = avcodec_alloc_context3(codec_);
    if (!context_) return kMemFullErr;
    if (!extradata_.empty()) {
        auto* extra = static_cast<uint8_t*>(
            av_mallocz(extradata_.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!extra) return kMemFullErr;
        std::memcpy(extra, extradata_.data(), extradata_.size());
        context_->extradata = extra;
        context_->extradata_size = static_cast<int>(extradata_.size());
    }
    context_->sample_rate =
        sampleRate_ >= 1 && sampleRate_ < 2147483647.0 ? static_cast<int>(sampleRate_) : 44100;
    av_channel_layout_default(&context_->ch_layout, static_cast<int>(channels_));
    context_->block_align = static_cast<int>(blockAlign_);
    // One thread: every packet comes back decoded before the next is sent.
    context_->thread_count = 1;
    const int rate = context_->sample_rate;
    // A decoder that makes another channel count or rate of these packets
    // (GSM is mono, Opus 48 kHz) does not decode what the file declares.
    if (avcodec_open2(context_, codec_, nullptr) < 0 ||
        context_->ch_layout.nb_channels != static_cast<int>(channels_) ||
        context_->sample_rate != rate) {
        avcodec_free_context(&context_);
        return kNotASoundFileErr;
    }
    return 0;
}

uint32_t PacketDecoder::DecodedLayoutTag() const {
    if (!context_ || context_->ch_layout.order != AV_CHANNEL_ORDER_NATIVE) return 0;
    for (const NativeOrder& order : kNativeOrders)
        if (order.mask == context_->ch_layout.u.mask) return LayoutTag(order.layout, channels_);
    return 0;
}

OSErr PacketDecoder::Reset() {
    // A fresh decoder, so that no state of the earlier packets survives in one
    // whose flushing keeps some.
    if (!codec_ || !packet_ || !frame_) return kNotASoundFileErr;
    return MakeContext();
}

OSErr PacketDecoder::TakeFrame(int32_t* out, uint32_t at, uint32_t capacity, uint32_t* frames) {
    const auto format = static_cast<AVSampleFormat>(frame_->format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const uint32_t n = frame_->nb_samples > 0 ? static_cast<uint32_t>(frame_->nb_samples) : 0;
    if (static_cast<uint32_t>(frame_->ch_layout.nb_channels) != channels_ || n > capacity - at)
        return kNotASoundFileErr;
    int32_t* to = out + static_cast<size_t>(at) * channels_;
    switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            Gather<uint8_t>(frame_, planar, channels_, n, to, [](uint8_t v) {
                return static_cast<int32_t>(static_cast<uint32_t>(v ^ 0x80) << 24);
            });
            break;
        case AV_SAMPLE_FMT_S16:
            Gather<int16_t>(frame_, planar, channels_, n, to, [](int16_t v) {
                return static_cast<int32_t>(static_cast<uint32_t>(v) << 16);
            });
            break;
        case AV_SAMPLE_FMT_S32:
            Gather<int32_t>(frame_, planar, channels_, n, to, [](int32_t v) { return v; });
            break;
        case AV_SAMPLE_FMT_FLT:
            Gather<float>(frame_, planar, channels_, n, to,
                          [](float v) { return RoundedSample(v); });
            break;
        case AV_SAMPLE_FMT_DBL:
            Gather<double>(frame_, planar, channels_, n, to,
                           [](double v) { return RoundedSample(v); });
            break;
        default:
            return kNotASoundFileErr;
    }
    *frames = at + n;
    return 0;
}

OSErr PacketDecoder::Decode(const uint8_t* packets, uint32_t bytes, int32_t* out,
                            uint32_t capacity, uint32_t* frames) {
    *frames = 0;
    if (!context_ || bytes > static_cast<uint32_t>(INT32_MAX)) return kNotASoundFileErr;
    packet_->data = const_cast<uint8_t*>(packets);
    packet_->size = static_cast<int>(bytes);
    int ret = avcodec_send_packet(context_, packet_);
    packet_->data = nullptr;
    packet_->size = 0;
    OSErr err = ret < 0 ? kNotASoundFileErr : 0;
    // A decoder may make several frames of one send (one for each packet of it).
    while (err == 0) {
        ret = avcodec_receive_frame(context_, frame_);
        if (ret == AVERROR(EAGAIN)) break;
        if (ret < 0) {
            err = kNotASoundFileErr;
            break;
        }
        err = TakeFrame(out, *frames, capacity, frames);
        av_frame_unref(frame_);
    }
    // A damaged packet leaves nothing behind for the next one.
    if (err) avcodec_flush_buffers(context_);
    return err;
}

}  // namespace caf
