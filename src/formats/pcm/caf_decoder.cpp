#include "formats/pcm/caf_decoder.h"

#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
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

// The stream's configuration as the cookie holds it, after any 'frma' and
// 'alac' atom headers: frame length, version, bit depth, three tuning bytes,
// channels, longest run, largest frame, mean bit rate, sample rate.
constexpr size_t kConfigBytes = 24;
constexpr size_t kAtomHeaderBytes = 12;
// The most channels an Apple Lossless stream has.
constexpr uint32_t kMaxChannels = 8;

// The configuration within a cookie; false when there is none.
bool FindConfig(const std::vector<uint8_t>& cookie, const uint8_t** config) {
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

}  // namespace

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

OSErr PacketDecoder::Open(const std::vector<uint8_t>& cookie, double sampleRate, uint32_t channels,
                          uint32_t framesPerPacket) {
    Release();
    if (!platform::media::Available()) return kNotASoundFileErr;  // no decoder on this system
    QuietDecoderLog();
    const uint8_t* config = nullptr;
    if (!FindConfig(cookie, &config)) return kNotASoundFileErr;
    // The cookie must describe the stream the file declares.
    if (LoadBE32(config) != framesPerPacket || config[9] != channels || channels == 0 ||
        channels > kMaxChannels)
        return kNotASoundFileErr;

    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_ALAC);
    if (!codec) return kNotASoundFileErr;
    context_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!context_ || !packet_ || !frame_) {
        Release();
        return kMemFullErr;
    }
    // The decoder takes the configuration inside an 'alac' atom.
    const size_t extraBytes = kAtomHeaderBytes + kConfigBytes;
    auto* extra = static_cast<uint8_t*>(av_mallocz(extraBytes + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!extra) {
        Release();
        return kMemFullErr;
    }
    StoreBE32(extra, static_cast<uint32_t>(extraBytes));
    StoreBE32(extra + 4, FourCC("alac"));
    std::memcpy(extra + kAtomHeaderBytes, config, kConfigBytes);
    context_->extradata = extra;
    context_->extradata_size = static_cast<int>(extraBytes);
    context_->sample_rate =
        sampleRate >= 1 && sampleRate < 2147483647.0 ? static_cast<int>(sampleRate) : 44100;
    av_channel_layout_default(&context_->ch_layout, static_cast<int>(channels));
    // One thread: every packet comes back decoded before the next is sent.
    context_->thread_count = 1;
    if (avcodec_open2(context_, codec, nullptr) < 0) {
        Release();
        return kNotASoundFileErr;
    }
    channels_ = channels;
    framesPerPacket_ = framesPerPacket;
    return 0;
}

OSErr PacketDecoder::Decode(const uint8_t* packet, uint32_t bytes, int32_t* out, uint32_t* frames) {
    *frames = 0;
    if (!context_) return kNotASoundFileErr;
    packet_->data = const_cast<uint8_t*>(packet);
    packet_->size = static_cast<int>(bytes);
    int ret = avcodec_send_packet(context_, packet_);
    packet_->data = nullptr;
    packet_->size = 0;
    if (ret >= 0) ret = avcodec_receive_frame(context_, frame_);
    if (ret < 0) {
        // A damaged packet leaves nothing behind for the next one.
        avcodec_flush_buffers(context_);
        return kNotASoundFileErr;
    }
    const auto format = static_cast<AVSampleFormat>(frame_->format);
    const AVSampleFormat packed = av_get_packed_sample_fmt(format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const uint32_t n = frame_->nb_samples > 0 ? static_cast<uint32_t>(frame_->nb_samples) : 0;
    OSErr err = 0;
    if (static_cast<uint32_t>(frame_->ch_layout.nb_channels) != channels_ || n > framesPerPacket_ ||
        (packed != AV_SAMPLE_FMT_S16 && packed != AV_SAMPLE_FMT_S32)) {
        err = kNotASoundFileErr;
    } else {
        const int shift = packed == AV_SAMPLE_FMT_S16 ? 16 : 0;
        for (uint32_t c = 0; c < channels_; ++c) {
            const uint8_t* plane = frame_->extended_data[planar ? c : 0];
            const size_t step = planar ? 1 : channels_;
            const size_t first = planar ? 0 : c;
            for (uint32_t i = 0; i < n; ++i) {
                int32_t v;
                if (shift) {
                    int16_t s;
                    std::memcpy(&s, plane + 2 * (first + i * step), 2);
                    v = static_cast<int32_t>(static_cast<uint32_t>(s) << 16);
                } else {
                    std::memcpy(&v, plane + 4 * (first + i * step), 4);
                }
                out[static_cast<size_t>(i) * channels_ + c] = v;
            }
        }
        *frames = n;
    }
    av_frame_unref(frame_);
    return err;
}

}  // namespace caf
