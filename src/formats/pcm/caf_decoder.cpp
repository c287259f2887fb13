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

// Format, codec, stands alone, takes runs, decoder's order, Apple Lossless cookie.
constexpr CompressedFormat kFormats[] = {
    {FourCC("alac"), AV_CODEC_ID_ALAC, true, false, true, true},
    {FourCC("ulaw"), AV_CODEC_ID_PCM_MULAW, true, true, false, false},
    {FourCC("alaw"), AV_CODEC_ID_PCM_ALAW, true, true, false, false},
    // Every IMA 4:1 packet starts with its own predictor and step.
    {FourCC("ima4"), AV_CODEC_ID_ADPCM_IMA_QT, true, true, false, false},
    {FourCC("MAC3"), AV_CODEC_ID_MACE3, false, true, false, false},
    {FourCC("MAC6"), AV_CODEC_ID_MACE6, false, true, false, false},
    {FourCC("agsm"), AV_CODEC_ID_GSM, false, true, false, false},
    // Microsoft GSM: 'ms' and the WAVE format tag 0x0031.
    {0x6D730031, AV_CODEC_ID_GSM_MS, false, true, false, false},
    {FourCC("Qclp"), AV_CODEC_ID_QCELP, false, false, false, false},
    {FourCC("samr"), AV_CODEC_ID_AMR_NB, false, false, false, false},
    {FourCC("ilbc"), AV_CODEC_ID_ILBC, false, false, false, false},
    {FourCC(".mp1"), AV_CODEC_ID_MP1, false, false, false, false},
    {FourCC(".mp2"), AV_CODEC_ID_MP2, false, false, false, false},
    {FourCC(".mp3"), AV_CODEC_ID_MP3, false, false, false, false},
    {FourCC("opus"), AV_CODEC_ID_OPUS, false, false, false, false},
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

    if (format.losslessCookie) {
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
