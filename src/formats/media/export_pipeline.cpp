#include "formats/media/export_pipeline.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "formats/chunk_reader.h"
#include "platform/audio_file_services.h"
#include "platform/media_library.h"
#include "soundfile/sound_file.h"

namespace {

// Frames read from a sound file, and audio samples mixed, per step; also the
// frame size given to encoders that take any.
constexpr int kBlockFrames = 4096;
// The output is written through a buffer of this size.
constexpr int kIOBufferBytes = 64 * 1024;
// A decoder that keeps failing is given up after this many errors.
constexpr int kMaxDecodeErrors = 1000;
// The largest side of a picture composed or encoded: more than any picture
// this program is asked for, and small enough that its buffers stay modest.
constexpr int kMaxPictureSide = 8192;
// How much audio one track may hold while another has none before the mix
// goes on without the other (a track that ended early, or one stored far
// apart in the file): keeps the memory of the mix bounded.
constexpr double kMaxTrackLagSeconds = 60;
// Times closer than this count as the same instant (container time bases are
// far coarser).
constexpr double kSameInstant = 1e-6;
// Times beyond this many seconds are taken as damaged and clamped.
constexpr double kMaxSeconds = 1e9;
// One video frame fills the pictures of at most this many seconds; a longer
// gap before the next frame is left without pictures, so that damaged time
// stamps cannot make an export run on without end.
constexpr double kMaxHoldSeconds = 60;
// The form the pictures are composed in.
constexpr AVPixelFormat kComposedFormat = AV_PIX_FMT_BGRA;

// The output file, written through our own descriptor.
struct OutputFile {
    int fd = -1;
    int firstErrno = 0;
};

int WriteOutput(void* opaque, uint8_t* bytes, int size) {
    auto* out = static_cast<OutputFile*>(opaque);
    if (out->fd < 0) return AVERROR(EBADF);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(out->fd, bytes + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int e = n < 0 ? errno : ENOSPC;
            if (!out->firstErrno) out->firstErrno = e;
            return AVERROR(e);
        }
        done += static_cast<int>(n);
    }
    return size;
}

int64_t SeekOutput(void* opaque, int64_t offset, int whence) {
    auto* out = static_cast<OutputFile*>(opaque);
    if (out->fd < 0) return AVERROR(EBADF);
    if (whence & AVSEEK_SIZE) {
        struct stat st;
        return ::fstat(out->fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(out->fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
}

bool IsDiskFull(int e) {
    return e == ENOSPC || e == EFBIG || e == EDQUOT;
}

double ClampSeconds(double seconds) {
    return std::isfinite(seconds) ? std::clamp(seconds, -kMaxSeconds, kMaxSeconds) : 0;
}

double Seconds(int64_t timestamp, AVRational timeBase) {
    if (timeBase.den == 0) return 0;
    return ClampSeconds(static_cast<double>(timestamp) * timeBase.num / timeBase.den);
}

double RateOf(AVRational r) {
    return r.num > 0 && r.den > 0 ? static_cast<double>(r.num) / r.den : 0;
}

// The track matrix of a stream as a transform; the identity when there is none.
AffineTransform PreferredTransformOf(const AVStream* stream) {
    AffineTransform t;
    size_t size = 0;
    const uint8_t* data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!data || size < 9 * sizeof(int32_t)) return t;
    int32_t m[9];
    std::memcpy(m, data, sizeof(m));
    // 16.16 fixed point, rows (a b u) (c d v) (tx ty w).
    t.a = m[0] / 65536.0;
    t.b = m[1] / 65536.0;
    t.c = m[3] / 65536.0;
    t.d = m[4] / 65536.0;
    t.tx = m[6] / 65536.0;
    t.ty = m[7] / 65536.0;
    return t;
}

AVFrame* AllocPicture(AVPixelFormat format, int width, int height) {
    AVFrame* f = av_frame_alloc();
    if (!f) return nullptr;
    f->format = format;
    f->width = width;
    f->height = height;
    if (av_frame_get_buffer(f, 0) < 0) av_frame_free(&f);
    return f;
}

ExportPixelBuffer BufferOf(AVFrame* f) {
    ExportPixelBuffer b;
    b.width = f->width;
    b.height = f->height;
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(f->format));
    b.pixelFormat = name ? name : "";
    for (int i = 0; i < 4; ++i) {
        b.planes[i] = f->data[i];
        b.strides[i] = f->linesize[i];
    }
    return b;
}

// Planar float samples of a fixed capacity, one plane per channel.
struct SampleBlock {
    uint8_t** planes = nullptr;
    int capacity = 0;

    ~SampleBlock() { Release(); }
    void Release() {
        if (planes) av_freep(&planes[0]);
        av_freep(&planes);
        capacity = 0;
    }
    bool Ensure(int channels, int samples, AVSampleFormat format) {
        if (samples <= capacity) return true;
        Release();
        if (av_samples_alloc_array_and_samples(&planes, nullptr, channels, samples, format, 0) <
            0)
            return false;
        capacity = samples;
        return true;
    }
    float* Plane(int channel) const { return reinterpret_cast<float*>(planes[channel]); }
};

// One audio track of the asset, decoded and converted to the mix's rate and
// channels; its samples wait in `fifo` until every track can be mixed.
struct AudioTrack {
    int stream = -1;  // -1: the sound file
    int trackID = 1;
    AVCodecContext* decoder = nullptr;
    SwrContext* swr = nullptr;
    AVChannelLayout inLayout{};
    int inRate = 0;
    int inFormat = -1;
    AVAudioFifo* fifo = nullptr;
    // Asset position, in samples of the mix, of the next converted sample.
    int64_t position = 0;
    bool positioned = false;
    bool finished = false;  // no more samples will come
    // Where the container says the track ends, in seconds of the asset and in
    // samples of the mix (the decoder may give a little more: encoder padding).
    double endSeconds = std::numeric_limits<double>::infinity();
    int64_t endSample = std::numeric_limits<int64_t>::max();
    bool flushed = false;   // the decoder was told the end
    double volume = 1;
    std::vector<MediaExportSession::VolumeRamp> ramps;  // by start

    ~AudioTrack() {
        swr_free(&swr);
        avcodec_free_context(&decoder);
        if (fifo) av_audio_fifo_free(fifo);
        av_channel_layout_uninit(&inLayout);
    }

    bool HasGain() const { return volume != 1 || !ramps.empty(); }

    // The gain at `t` seconds of the asset.
    double GainAt(double t) const {
        double v = volume;
        for (const MediaExportSession::VolumeRamp& r : ramps) {
            if (t < r.start) break;
            if (t < r.start + r.duration)
                return r.startVolume + (r.endVolume - r.startVolume) * (t - r.start) / r.duration;
            v = r.endVolume;
        }
        return v;
    }
};

}  // namespace

struct ExportPipeline::Impl {
    MediaExportSession* session;
    ExportRequest req;
    ExportFailure failure;

    // The asset.
    AVFormatContext* input = nullptr;
    AVPacket* inPacket = nullptr;
    AVFrame* decoded = nullptr;
    double assetStart = 0;     // seconds: the container's start time
    double assetDuration = 0;  // seconds; 0: unknown
    bool demuxEnded = false;
    int decodeErrors = 0;
    std::vector<std::unique_ptr<AudioTrack>> audio;
    std::vector<int> audioOfStream;  // stream -> index into `audio`, or -1
    std::vector<VideoTrackDescription> videoTracks;
    std::vector<int> videoStreamOf;  // per entry of videoTracks
    // The sound-file asset.
    uint32_t sourcePosition = 0;
    uint32_t sourceEnd = 0;
    std::vector<double> sourceBlock;

    // The exported range, in seconds of the asset and in samples of the mix.
    double rangeStart = 0;
    double rangeEnd = std::numeric_limits<double>::infinity();
    double progressDuration = 0;
    int64_t startSample = 0;
    int64_t endSample = std::numeric_limits<int64_t>::max();

    // The mix.
    int outRate = 0;
    int outChannels = 0;
    AVChannelLayout outLayout{};
    SampleBlock trackConverted;
    SampleBlock trackRead;
    SampleBlock mixed;
    std::vector<void*> planePointers;
    SwrContext* mixToCodec = nullptr;
    uint8_t** converted = nullptr;
    int convertedCapacity = 0;

    // The audio encoding.
    AVCodecContext* audioCodec = nullptr;
    AVStream* audioStream = nullptr;
    AVAudioFifo* codecFifo = nullptr;
    AVFrame* audioFrame = nullptr;
    int64_t nextAudioPts = 0;

    // The video track laid into the pictures, and the pictures.
    int videoStream = -1;
    AVCodecContext* videoDecoder = nullptr;
    AVFrame* held = nullptr;  // the latest frame at or before the next picture's time
    bool haveHeld = false;
    double lastFrameTime = 0;
    double heldTime = 0;
    double lastFrameEnd = 0;
    double sourceFrameSeconds = 0;
    VideoComposition composition;
    QuarterTurnPlacement placement;
    double pictureSeconds = 0;
    int64_t nextPicture = 0;
    bool videoFinished = false;
    AVPixelFormat inputFormat = kComposedFormat;
    SwsContext* toPlacement = nullptr;
    SwsContext* toInputFormat = nullptr;
    SwsContext* toEncoder = nullptr;
    AVFrame* placed = nullptr;    // the frame scaled in its own orientation
    AVFrame* canvas = nullptr;    // the composed picture
    AVFrame* inputPicture = nullptr;  // the composed picture in the input settings' format
    AVFrame* rendered = nullptr;  // the delegate's picture
    AVFrame* videoFrame = nullptr;
    AVCodecContext* videoCodec = nullptr;
    AVStream* videoOutStream = nullptr;

    // The output.
    OutputFile out;
    bool created = false;
    AVFormatContext* muxer = nullptr;
    AVIOContext* io = nullptr;
    AVPacket* outPacket = nullptr;

    Impl(MediaExportSession* s, ExportRequest r) : session(s), req(std::move(r)) {}

    ~Impl() {
        avcodec_free_context(&audioCodec);
        avcodec_free_context(&videoCodec);
        if (muxer) avformat_free_context(muxer);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        Discard();
        av_packet_free(&outPacket);
        av_packet_free(&inPacket);
        av_frame_free(&decoded);
        av_frame_free(&held);
        av_frame_free(&placed);
        av_frame_free(&canvas);
        av_frame_free(&inputPicture);
        av_frame_free(&rendered);
        av_frame_free(&videoFrame);
        av_frame_free(&audioFrame);
        sws_freeContext(toPlacement);
        sws_freeContext(toInputFormat);
        sws_freeContext(toEncoder);
        swr_free(&mixToCodec);
        if (converted) av_freep(&converted[0]);
        av_freep(&converted);
        if (codecFifo) av_audio_fifo_free(codecFifo);
        avcodec_free_context(&videoDecoder);
        audio.clear();
        if (input) avformat_close_input(&input);
        av_channel_layout_uninit(&outLayout);
    }

    // Records the first failure; always false.
    bool Fail(const std::string& text, OSErr status = kMediaExportFailedErr, int code = 0) {
        if (failure.text.empty()) {
            failure.text = text;
            failure.status = status;
            failure.code = code ? code : status;
        }
        return false;
    }

    bool FailWriting(const std::string& text) {
        return Fail(text, out.firstErrno && IsDiskFull(out.firstErrno) ? kMediaDiskFullErr
                                                                       : kMediaExportFailedErr);
    }

    void Discard() {
        if (out.fd >= 0) ::close(out.fd);
        out.fd = -1;
        // The file was made by this export.
        if (created) ::unlink(req.outputPath.c_str());
        created = false;
    }

    // ---- Reading the asset ---------------------------------------------------

    bool OpenSoundFile() {
        CSoundFile* s = req.source;
        if (!s->IsOpen() || s->GetNumChannels() < 1 ||
            s->GetNumChannels() > static_cast<short>(kMaxSoundFileChannels) ||
            !(s->GetSampleRate() >= 1))
            return true;  // no audio track
        auto track = std::make_unique<AudioTrack>();
        track->trackID = 1;
        audio.push_back(std::move(track));
        assetDuration = s->GetNumSFrames() / static_cast<double>(s->GetSampleRate());
        return true;
    }

    bool OpenReader() {
        if (!platform::media::Available()) return Fail("the media library is not installed");
        av_log_set_level(AV_LOG_QUIET);
        return req.source ? OpenSoundFile() : OpenMediaFile();
    }

    bool OpenMediaFile() {
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        av_dict_set(&options, "format_whitelist", platform::MediaDemuxerWhitelist(), 0);
        // The "file:" prefix keeps a colon in the path from naming another protocol.
        const std::string url = "file:" + req.assetPath;
        const int rc = avformat_open_input(&input, url.c_str(), nullptr, &options);
        av_dict_free(&options);
        if (rc < 0) {
            input = nullptr;
            return Fail("cannot read the asset");
        }
        if (avformat_find_stream_info(input, nullptr) < 0) return Fail("cannot read the asset");
        inPacket = av_packet_alloc();
        decoded = av_frame_alloc();
        if (!inPacket || !decoded) return Fail("out of memory");
        if (input->start_time != AV_NOPTS_VALUE)
            assetStart = Seconds(input->start_time, AVRational{1, AV_TIME_BASE});
        if (input->duration != AV_NOPTS_VALUE && input->duration > 0)
            assetDuration = Seconds(input->duration, AVRational{1, AV_TIME_BASE});
        audioOfStream.assign(input->nb_streams, -1);
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            AVStream* st = input->streams[i];
            const AVCodecParameters* par = st->codecpar;
            st->discard = AVDISCARD_ALL;
            if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
                if (par->ch_layout.nb_channels < 1 ||
                    par->ch_layout.nb_channels > static_cast<int>(kMaxSoundFileChannels) ||
                    par->sample_rate < 1)
                    continue;
                auto track = std::make_unique<AudioTrack>();
                track->stream = static_cast<int>(i);
                track->trackID = static_cast<int>(i) + 1;
                if (input->duration_estimation_method == AVFMT_DURATION_FROM_STREAM &&
                    st->duration != AV_NOPTS_VALUE && st->duration > 0)
                    track->endSeconds =
                        (st->start_time != AV_NOPTS_VALUE ? Seconds(st->start_time, st->time_base)
                                                          : 0) +
                        Seconds(st->duration, st->time_base) - assetStart;
                if (!OpenDecoder(st, &track->decoder)) continue;
                st->discard = AVDISCARD_DEFAULT;
                audioOfStream[i] = static_cast<int>(audio.size());
                audio.push_back(std::move(track));
            } else if (par->codec_type == AVMEDIA_TYPE_VIDEO &&
                       !(st->disposition & AV_DISPOSITION_ATTACHED_PIC) && par->width > 0 &&
                       par->height > 0 && avcodec_find_decoder(par->codec_id)) {
                // Cover pictures are not video.
                VideoTrackDescription v;
                v.trackID = static_cast<int>(i) + 1;
                v.width = par->width;
                v.height = par->height;
                v.preferredTransform = PreferredTransformOf(st);
                v.nominalFrameRate = RateOf(st->avg_frame_rate);
                if (v.nominalFrameRate <= 0) v.nominalFrameRate = RateOf(st->r_frame_rate);
                videoTracks.push_back(v);
                videoStreamOf.push_back(static_cast<int>(i));
            }
        }
        return true;
    }

    bool OpenDecoder(AVStream* st, AVCodecContext** decoder) {
        const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
        if (!codec) return false;
        *decoder = avcodec_alloc_context3(codec);
        if (!*decoder || avcodec_parameters_to_context(*decoder, st->codecpar) < 0) {
            avcodec_free_context(decoder);
            return false;
        }
        (*decoder)->pkt_timebase = st->time_base;
        if (avcodec_open2(*decoder, codec, nullptr) < 0) {
            avcodec_free_context(decoder);
            return false;
        }
        return true;
    }

    // ---- Setting up ----------------------------------------------------------

    bool CheckRequest() {
        const MediaExportSession::TimeRange& r = req.timeRange;
        if (!std::isfinite(r.start) || r.start < 0 || r.start > kMaxSeconds ||
            std::isnan(r.duration) || !(r.duration > 0))
            return Fail("the time range is not a part of the asset");
        for (const auto& p : req.audioMix.inputParameters) {
            bool ok = std::isfinite(p.volume);
            for (const auto& ramp : p.ramps)
                ok = ok && std::isfinite(ramp.startVolume) && std::isfinite(ramp.endVolume) &&
                     std::isfinite(ramp.start) && std::isfinite(ramp.duration);
            if (!ok) return Fail("the audio mix holds a gain or time that is not a number");
        }
        if (!audio.empty() && !req.audioSettings) return Fail("Audio settings not set");
        if (!videoTracks.empty() && !req.videoSettings) return Fail("Video settings not set");
        rangeStart = r.start;
        rangeEnd = std::isinf(r.duration) ? r.duration : r.start + r.duration;
        progressDuration =
            std::isinf(r.duration) ? std::max(0.0, assetDuration - r.start) : r.duration;
        return true;
    }

    bool MakeMuxer() {
        if (avformat_alloc_output_context2(&muxer, nullptr, req.outputFileType.c_str(),
                                           nullptr) < 0 ||
            !muxer) {
            muxer = nullptr;
            return Fail("no container " + req.outputFileType);
        }
        outPacket = av_packet_alloc();
        if (!outPacket) return Fail("out of memory");
        return true;
    }

    bool SetUpVideo() {
        const MediaVideoSettings& settings = *req.videoSettings;
        composition = req.videoComposition
                          ? *req.videoComposition
                          : buildDefaultVideoComposition(videoTracks.front(), &settings);
        size_t which = videoTracks.size();
        for (size_t i = 0; i < videoTracks.size(); ++i)
            if (videoTracks[i].trackID == composition.trackID) which = i;
        if (which == videoTracks.size())
            return Fail("the video composition names no video track of the asset");
        const VideoTrackDescription& track = videoTracks[which];
        videoStream = videoStreamOf[which];
        AVStream* st = input->streams[videoStream];
        if (!OpenDecoder(st, &videoDecoder)) return Fail("cannot decode the video track");
        st->discard = AVDISCARD_DEFAULT;
        const FrameDuration fd = composition.frameDuration;
        if (composition.renderWidth < 1 || composition.renderWidth > kMaxPictureSide ||
            composition.renderHeight < 1 || composition.renderHeight > kMaxPictureSide ||
            fd.num < 1 || fd.den < 1)
            return Fail("the video composition has no usable size or frame duration");
        if (!PlaceQuarterTurn(composition.transform, track.width, track.height, kMaxPictureSide,
                              &placement))
            return Fail("the video composition's transform is not a quarter turn");
        pictureSeconds = static_cast<double>(fd.num) / fd.den;
        sourceFrameSeconds = track.nominalFrameRate > 0 ? 1 / track.nominalFrameRate
                                                        : pictureSeconds;

        inputFormat = av_get_pix_fmt(req.videoInputSettings.pixelFormat.c_str());
        if (inputFormat == AV_PIX_FMT_NONE)
            return Fail("no pixel format " + req.videoInputSettings.pixelFormat);

        const AVCodec* encoder = avcodec_find_encoder_by_name(settings.encoder.c_str());
        if (!encoder || encoder->type != AVMEDIA_TYPE_VIDEO)
            return Fail("no video encoder " + settings.encoder, kMediaTypeNotWritableErr);
        const int width = settings.width > 0 ? settings.width : composition.renderWidth;
        const int height = settings.height > 0 ? settings.height : composition.renderHeight;
        if (width > kMaxPictureSide || height > kMaxPictureSide)
            return Fail("the video settings ask for too large a picture");
        videoCodec = avcodec_alloc_context3(encoder);
        if (!videoCodec) return Fail("out of memory");
        AVPixelFormat format = AV_PIX_FMT_YUV420P;
        if (encoder->pix_fmts) {
            bool has420 = false;
            for (const AVPixelFormat* p = encoder->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
                has420 = has420 || *p == AV_PIX_FMT_YUV420P;
            if (!has420) format = encoder->pix_fmts[0];
        }
        videoCodec->width = width;
        videoCodec->height = height;
        videoCodec->pix_fmt = format;
        videoCodec->time_base = AVRational{fd.num, fd.den};
        videoCodec->framerate = AVRational{fd.den, fd.num};
        videoCodec->sample_aspect_ratio = AVRational{1, 1};
        videoCodec->bit_rate = settings.bitRate;
        if (muxer->oformat->flags & AVFMT_GLOBALHEADER)
            videoCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(videoCodec, encoder, nullptr) < 0)
            return Fail("the video encoder refuses these settings");

        held = av_frame_alloc();
        placed = AllocPicture(kComposedFormat, placement.scaledWidth, placement.scaledHeight);
        canvas = AllocPicture(kComposedFormat, composition.renderWidth, composition.renderHeight);
        rendered =
            AllocPicture(kComposedFormat, composition.renderWidth, composition.renderHeight);
        videoFrame = AllocPicture(format, width, height);
        if (!held || !placed || !canvas || !rendered || !videoFrame) return Fail("out of memory");
        for (int y = 0; y < rendered->height; ++y)
            std::memset(rendered->data[0] + static_cast<ptrdiff_t>(y) * rendered->linesize[0], 0,
                        static_cast<size_t>(rendered->width) * 4);
        if (inputFormat != kComposedFormat) {
            inputPicture = AllocPicture(inputFormat, composition.renderWidth,
                                        composition.renderHeight);
            toInputFormat = sws_getContext(composition.renderWidth, composition.renderHeight,
                                           kComposedFormat, composition.renderWidth,
                                           composition.renderHeight, inputFormat, SWS_BILINEAR,
                                           nullptr, nullptr, nullptr);
            if (!inputPicture || !toInputFormat)
                return Fail("cannot hand pictures over as " + req.videoInputSettings.pixelFormat);
        }
        toEncoder = sws_getContext(composition.renderWidth, composition.renderHeight,
                                   kComposedFormat, width, height, format, SWS_BILINEAR, nullptr,
                                   nullptr, nullptr);
        if (!toEncoder) return Fail("cannot convert the pictures for the video encoder");
        return true;
    }

    bool SetUpAudio() {
        const MediaExportSession::AudioSettings& settings = *req.audioSettings;
        int firstChannels = 0;
        int firstRate = 0;
        if (req.source) {
            firstChannels = req.source->GetNumChannels();
            firstRate = static_cast<int>(req.source->GetSampleRate() + 0.5);
        } else {
            const AVCodecParameters* par = input->streams[audio.front()->stream]->codecpar;
            firstChannels = par->ch_layout.nb_channels;
            firstRate = par->sample_rate;
        }
        outChannels = settings.channels > 0 ? settings.channels : firstChannels;
        outRate = settings.sampleRate > 0 ? settings.sampleRate : firstRate;
        if (outChannels < 1 || outChannels > static_cast<int>(kMaxSoundFileChannels) || outRate < 1)
            return Fail("the audio settings ask for no channels or no rate");
        av_channel_layout_default(&outLayout, outChannels);

        const AVCodec* encoder = avcodec_find_encoder_by_name(settings.encoder.c_str());
        if (!encoder || encoder->type != AVMEDIA_TYPE_AUDIO)
            return Fail("no encoder " + settings.encoder, kMediaTypeNotWritableErr);
        audioCodec = avcodec_alloc_context3(encoder);
        audioFrame = av_frame_alloc();
        if (!audioCodec || !audioFrame) return Fail("out of memory");
        audioCodec->sample_rate = outRate;
        audioCodec->time_base = AVRational{1, outRate};
        audioCodec->bit_rate = settings.bitRate;
        if (av_channel_layout_copy(&audioCodec->ch_layout, &outLayout) < 0)
            return Fail("out of memory");
        audioCodec->sample_fmt = encoder->sample_fmts ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        if (muxer->oformat->flags & AVFMT_GLOBALHEADER)
            audioCodec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(audioCodec, encoder, nullptr) < 0)
            return Fail("the encoder refuses these settings");

        if (swr_alloc_set_opts2(&mixToCodec, &audioCodec->ch_layout, audioCodec->sample_fmt,
                                outRate, &outLayout, AV_SAMPLE_FMT_FLTP, outRate, 0, nullptr) < 0 ||
            swr_init(mixToCodec) < 0)
            return Fail("cannot convert the samples");
        codecFifo = av_audio_fifo_alloc(audioCodec->sample_fmt, outChannels, 2 * kBlockFrames);
        if (!codecFifo || !EnsureConverted(kBlockFrames + 256) ||
            !trackRead.Ensure(outChannels, kBlockFrames, AV_SAMPLE_FMT_FLTP) ||
            !mixed.Ensure(outChannels, kBlockFrames, AV_SAMPLE_FMT_FLTP))
            return Fail("out of memory");
        planePointers.assign(static_cast<size_t>(outChannels), nullptr);

        startSample = std::llround(rangeStart * outRate);
        if (std::isfinite(rangeEnd)) endSample = std::llround(ClampSeconds(rangeEnd) * outRate);
        for (auto& track : audio) {
            track->endSample = endSample;
            if (std::isfinite(track->endSeconds))
                track->endSample = std::min(
                    endSample, static_cast<int64_t>(
                                   std::llround(ClampSeconds(track->endSeconds) * outRate)));
            track->fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, outChannels, kBlockFrames);
            if (!track->fifo) return Fail("out of memory");
            for (const auto& p : req.audioMix.inputParameters) {
                if (p.trackID != track->trackID) continue;
                track->volume = p.volume;
                track->ramps = p.ramps;
                std::stable_sort(track->ramps.begin(), track->ramps.end(),
                                 [](const auto& x, const auto& y) { return x.start < y.start; });
            }
        }
        if (req.source) {
            const double rate = req.source->GetSampleRate();
            const uint32_t frames = req.source->GetNumSFrames();
            const double first = std::floor(std::min(rangeStart * rate, static_cast<double>(frames)));
            const double last =
                std::isfinite(rangeEnd)
                    ? std::ceil(std::min(rangeEnd * rate, static_cast<double>(frames)))
                    : frames;
            sourcePosition = static_cast<uint32_t>(first);
            sourceEnd = static_cast<uint32_t>(last);
            audio.front()->position = std::llround(first / rate * outRate);
            audio.front()->positioned = true;
            try {
                sourceBlock.resize(static_cast<size_t>(kBlockFrames) * firstChannels);
            } catch (const std::bad_alloc&) {
                return Fail("out of memory");
            }
        }
        return true;
    }

    bool EnsureConverted(int samples) {
        if (samples <= convertedCapacity) return true;
        if (converted) av_freep(&converted[0]);
        av_freep(&converted);
        convertedCapacity = 0;
        if (av_samples_alloc_array_and_samples(&converted, nullptr, outChannels, samples,
                                               audioCodec->sample_fmt, 0) < 0)
            return false;
        convertedCapacity = samples;
        return true;
    }

    bool CreateOutput() {
        out.fd = ::open(req.outputPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (out.fd < 0) {
            const int e = errno;
            OSErr code = kMediaExportFailedErr;
            if (e == EEXIST) code = kDupFNErr;
            if (IsDiskFull(e)) code = kMediaDiskFullErr;
            return Fail("cannot create the output", code);
        }
        created = true;
        auto* buffer = static_cast<unsigned char*>(av_malloc(kIOBufferBytes));
        if (!buffer) return Fail("out of memory");
        io = avio_alloc_context(buffer, kIOBufferBytes, 1, &out, nullptr, &WriteOutput,
                                &SeekOutput);
        if (!io) {
            av_free(buffer);
            return Fail("out of memory");
        }
        muxer->pb = io;
        muxer->flags |= AVFMT_FLAG_CUSTOM_IO;
        // Muxers that move their index to the front read the file back by name.
        muxer->url = av_strdup(("file:" + req.outputPath).c_str());
        if (!muxer->url) return Fail("out of memory");
        return true;
    }

    bool AddStream(AVCodecContext* codec, AVStream** stream) {
        *stream = avformat_new_stream(muxer, nullptr);
        if (!*stream || avcodec_parameters_from_context((*stream)->codecpar, codec) < 0)
            return Fail("cannot add a stream to the output");
        (*stream)->time_base = codec->time_base;
        return true;
    }

    bool StartWriting() {
        if (!CheckRequest() || !MakeMuxer()) return false;
        if (!videoTracks.empty() && !SetUpVideo()) return false;
        if (!audio.empty() && !SetUpAudio()) return false;
        if (!CreateOutput()) return false;
        if (videoCodec && !AddStream(videoCodec, &videoOutStream)) return false;
        if (audioCodec && !AddStream(audioCodec, &audioStream)) return false;
        for (const auto& [key, value] : req.metadata)
            if (!key.empty()) av_dict_set(&muxer->metadata, key.c_str(), value.c_str(), 0);
        AVDictionary* options = nullptr;
        if (req.optimizeForNetwork) av_dict_set(&options, "movflags", "+faststart", 0);
        const int rc = avformat_write_header(muxer, &options);
        av_dict_free(&options);
        if (rc < 0) return FailWriting("cannot write the container header");
        if (input && rangeStart > 0) {
            // To the key frame at or before the start; what comes before is dropped.
            const int64_t at =
                static_cast<int64_t>((rangeStart + assetStart) * AV_TIME_BASE);
            avformat_seek_file(input, -1, std::numeric_limits<int64_t>::min(), at, at, 0);
        }
        return true;
    }

    // ---- Audio ---------------------------------------------------------------

    // Converts samples of a track to the mix's form and queues what lies in the range.
    bool ConvertAudio(AudioTrack& t, const uint8_t** data, int samples, AVSampleFormat format,
                      const AVChannelLayout& layout, int rate) {
        if (!t.swr || rate != t.inRate || format != t.inFormat ||
            av_channel_layout_compare(&layout, &t.inLayout) != 0) {
            swr_free(&t.swr);
            av_channel_layout_uninit(&t.inLayout);
            if (av_channel_layout_copy(&t.inLayout, &layout) < 0) return Fail("out of memory");
            t.inRate = rate;
            t.inFormat = format;
            if (swr_alloc_set_opts2(&t.swr, &outLayout, AV_SAMPLE_FMT_FLTP, outRate, &t.inLayout,
                                    format, rate, 0, nullptr) < 0 ||
                swr_init(t.swr) < 0)
                return Fail("cannot convert the samples of an audio track");
        }
        const int want = swr_get_out_samples(t.swr, samples);
        if (want < 0 || !trackConverted.Ensure(outChannels, want, AV_SAMPLE_FMT_FLTP))
            return Fail("cannot convert the samples of an audio track");
        const int got = swr_convert(t.swr, trackConverted.planes, trackConverted.capacity, data,
                                    samples);
        if (got < 0) return Fail("cannot convert the samples of an audio track");
        return Queue(t, got);
    }

    // What the converter of a track still holds.
    bool FlushConverter(AudioTrack& t) {
        if (!t.swr) return true;
        for (;;) {
            const int want = swr_get_out_samples(t.swr, 0);
            if (want <= 0) return true;
            if (!trackConverted.Ensure(outChannels, want, AV_SAMPLE_FMT_FLTP))
                return Fail("out of memory");
            const int got =
                swr_convert(t.swr, trackConverted.planes, trackConverted.capacity, nullptr, 0);
            if (got < 0) return Fail("cannot convert the samples of an audio track");
            if (got == 0) return true;
            if (!Queue(t, got)) return false;
        }
    }

    // Queues the part of `n` converted samples that lies in the range, with the track's gain.
    bool Queue(AudioTrack& t, int n) {
        const int64_t from = t.position;
        const int64_t to = from + n;
        t.position = to;
        if (to >= t.endSample) t.finished = true;
        const int64_t keepFrom = std::max(from, startSample);
        const int64_t keepTo = std::min(to, t.endSample);
        if (keepTo <= keepFrom) return true;
        const int offset = static_cast<int>(keepFrom - from);
        const int count = static_cast<int>(keepTo - keepFrom);
        if (t.HasGain()) {
            for (int k = 0; k < count; ++k) {
                const auto gain = static_cast<float>(
                    t.GainAt(static_cast<double>(keepFrom + k) / outRate));
                for (int c = 0; c < outChannels; ++c) trackConverted.Plane(c)[offset + k] *= gain;
            }
        }
        for (int c = 0; c < outChannels; ++c) planePointers[c] = trackConverted.Plane(c) + offset;
        if (av_audio_fifo_write(t.fifo, planePointers.data(), count) != count)
            return Fail("out of memory");
        return true;
    }

    // Mixes what every track has ready (at the end: all that is left) and encodes it.
    bool Mix(bool atEnd) {
        const int lag = static_cast<int>(std::min(kMaxTrackLagSeconds * outRate, 1e9));
        for (;;) {
            int ready = kBlockFrames;
            int most = 0;
            bool anyOpen = false;
            for (const auto& t : audio) {
                const int size = av_audio_fifo_size(t->fifo);
                most = std::max(most, size);
                if (!t->finished) {
                    anyOpen = true;
                    ready = std::min(ready, size);
                }
            }
            // Tracks that ended, or lag too far behind, are silent meanwhile.
            if (atEnd || !anyOpen || most > lag) ready = std::min(kBlockFrames, most);
            if (ready <= 0) return true;
            for (size_t i = 0; i < audio.size(); ++i) {
                const int got = std::max(
                    0, av_audio_fifo_read(audio[i]->fifo,
                                          reinterpret_cast<void**>(trackRead.planes), ready));
                for (int c = 0; c < outChannels; ++c) {
                    float* sum = mixed.Plane(c);
                    const float* in = trackRead.Plane(c);
                    if (i == 0) {
                        std::copy(in, in + got, sum);
                        std::fill(sum + got, sum + ready, 0.0f);
                    } else {
                        for (int k = 0; k < got; ++k) sum[k] += in[k];
                    }
                }
            }
            if (!EncodeMixed(ready)) return false;
        }
    }

    bool EncodeMixed(int n) {
        const int want = swr_get_out_samples(mixToCodec, n);
        if (want < 0 || !EnsureConverted(want)) return Fail("cannot convert the samples");
        const int got = swr_convert(mixToCodec, converted, convertedCapacity,
                                    const_cast<const uint8_t**>(mixed.planes), n);
        if (got < 0 || (got > 0 && av_audio_fifo_write(codecFifo, reinterpret_cast<void**>(converted),
                                                        got) != got))
            return Fail("cannot convert the samples");
        return DrainAudio(false);
    }

    // Encodes whole encoder frames from the queue; at the end also the rest.
    bool DrainAudio(bool atEnd) {
        const int size = audioCodec->frame_size > 0 ? audioCodec->frame_size : kBlockFrames;
        while (av_audio_fifo_size(codecFifo) >= size ||
               (atEnd && av_audio_fifo_size(codecFifo) > 0)) {
            const int n = std::min(size, av_audio_fifo_size(codecFifo));
            av_frame_unref(audioFrame);
            audioFrame->nb_samples = n;
            audioFrame->format = audioCodec->sample_fmt;
            audioFrame->sample_rate = audioCodec->sample_rate;
            if (av_channel_layout_copy(&audioFrame->ch_layout, &audioCodec->ch_layout) < 0 ||
                av_frame_get_buffer(audioFrame, 0) < 0)
                return Fail("out of memory");
            if (av_audio_fifo_read(codecFifo, reinterpret_cast<void**>(audioFrame->data), n) != n)
                return Fail("cannot convert the samples");
            audioFrame->pts = nextAudioPts;
            nextAudioPts += n;
            if (!Encode(audioCodec, audioStream, audioFrame)) return false;
        }
        return true;
    }

    bool DecodeAudio(AudioTrack& t, const AVPacket* packet) {
        if (t.flushed) return true;
        if (!packet) t.flushed = true;
        int rc = avcodec_send_packet(t.decoder, packet);
        if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF && ++decodeErrors > kMaxDecodeErrors)
            return Fail("the audio cannot be decoded");
        const AVStream* st = input->streams[t.stream];
        for (;;) {
            rc = avcodec_receive_frame(t.decoder, decoded);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
            if (rc < 0) {
                if (++decodeErrors > kMaxDecodeErrors) return Fail("the audio cannot be decoded");
                return true;
            }
            bool ok = true;
            if (!t.positioned) {
                const double at = decoded->best_effort_timestamp != AV_NOPTS_VALUE
                                      ? Seconds(decoded->best_effort_timestamp, st->time_base) -
                                            assetStart
                                      : (rangeStart > 0 ? rangeStart : 0);
                t.position = std::llround(ClampSeconds(at) * outRate);
                t.positioned = true;
            }
            if (!t.finished && decoded->nb_samples > 0)
                ok = ConvertAudio(t, const_cast<const uint8_t**>(decoded->extended_data),
                                  decoded->nb_samples,
                                  static_cast<AVSampleFormat>(decoded->format),
                                  decoded->ch_layout, decoded->sample_rate);
            av_frame_unref(decoded);
            if (!ok) return false;
        }
    }

    // ---- Video ---------------------------------------------------------------

    bool DecodeVideo(const AVPacket* packet) {
        int rc = avcodec_send_packet(videoDecoder, packet);
        if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF && ++decodeErrors > kMaxDecodeErrors)
            return Fail("the video cannot be decoded");
        const AVStream* st = input->streams[videoStream];
        for (;;) {
            rc = avcodec_receive_frame(videoDecoder, decoded);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
            if (rc < 0) {
                if (++decodeErrors > kMaxDecodeErrors) return Fail("the video cannot be decoded");
                return true;
            }
            const double at =
                decoded->best_effort_timestamp != AV_NOPTS_VALUE
                    ? Seconds(decoded->best_effort_timestamp, st->time_base) - assetStart
                    : (haveHeld ? lastFrameTime + sourceFrameSeconds : rangeStart);
            lastFrameTime = at;
            lastFrameEnd = std::max(lastFrameEnd, at + sourceFrameSeconds);
            // Pictures before this frame show the one held until now.
            bool ok = !haveHeld || EmitUntil(at);
            av_frame_unref(held);
            av_frame_move_ref(held, decoded);
            haveHeld = true;
            heldTime = at;
            if (!ok) return false;
        }
    }

    // Emits the pictures whose times lie before `limit`, from the held frame.
    bool EmitUntil(double limit) {
        while (!videoFinished) {
            const double at = rangeStart + nextPicture * pictureSeconds;
            if (at >= rangeEnd - kSameInstant) {
                videoFinished = true;
                break;
            }
            if (at >= limit - kSameInstant) break;
            if (at >= heldTime + kMaxHoldSeconds) {
                // On to the first picture at or after `limit`.
                const double next = std::ceil((limit - kSameInstant - rangeStart) / pictureSeconds);
                nextPicture = std::max(nextPicture + 1, static_cast<int64_t>(next));
                continue;
            }
            if (!Emit(nextPicture)) return false;
            ++nextPicture;
        }
        return true;
    }

    // Composes, renders and encodes picture `index` from the held frame.
    bool Emit(int64_t index) {
        toPlacement = sws_getCachedContext(
            toPlacement, held->width, held->height, static_cast<AVPixelFormat>(held->format),
            placement.scaledWidth, placement.scaledHeight, kComposedFormat, SWS_BILINEAR, nullptr,
            nullptr, nullptr);
        if (!toPlacement || held->width < 1 || held->height < 1)
            return Fail("cannot scale the video frames");
        if (sws_scale(toPlacement, held->data, held->linesize, 0, held->height, placed->data,
                      placed->linesize) < 0)
            return Fail("cannot scale the video frames");
        LayOut();

        const double time = index * pictureSeconds;
        if (session)
            session->SetProgress(progressDuration > 0
                                     ? static_cast<float>(std::min(1.0, time / progressDuration))
                                     : 1.0f);
        AVFrame* picture = canvas;
        if (std::shared_ptr<MediaExportSessionDelegate> delegate = req.delegate.lock();
            delegate && session) {
            AVFrame* given = canvas;
            if (inputPicture) {
                if (av_frame_make_writable(inputPicture) < 0) return Fail("out of memory");
                sws_scale(toInputFormat, canvas->data, canvas->linesize, 0, canvas->height,
                          inputPicture->data, inputPicture->linesize);
                given = inputPicture;
            }
            if (av_frame_make_writable(rendered) < 0) return Fail("out of memory");
            const ExportPixelBuffer source = BufferOf(given);
            ExportPixelBuffer destination = BufferOf(rendered);
            delegate->exportSessionRenderFrame(*session, source, time, destination);
            picture = rendered;
        }
        if (av_frame_make_writable(videoFrame) < 0) return Fail("out of memory");
        sws_scale(toEncoder, picture->data, picture->linesize, 0, picture->height,
                  videoFrame->data, videoFrame->linesize);
        videoFrame->pts = index;
        return Encode(videoCodec, videoOutStream, videoFrame);
    }

    // Lays the scaled frame into the picture: opaque black where it does not reach.
    void LayOut() {
        const int width = canvas->width;
        const int height = canvas->height;
        const size_t rowBytes = static_cast<size_t>(width) * 4;
        for (int y = 0; y < height; ++y) {
            uint8_t* row = canvas->data[0] + static_cast<ptrdiff_t>(y) * canvas->linesize[0];
            std::memset(row, 0, rowBytes);
            for (int x = 0; x < width; ++x) row[4 * x + 3] = 0xFF;
        }
        for (int j = 0; j < placement.scaledHeight; ++j) {
            const uint8_t* from = placed->data[0] + static_cast<ptrdiff_t>(j) * placed->linesize[0];
            const int rowTarget = placement.rowTarget[static_cast<size_t>(j)];
            for (int i = 0; i < placement.scaledWidth; ++i) {
                const int columnTarget = placement.columnTarget[static_cast<size_t>(i)];
                const int x = placement.sideways ? rowTarget : columnTarget;
                const int y = placement.sideways ? columnTarget : rowTarget;
                if (x < 0 || x >= width || y < 0 || y >= height) continue;
                std::memcpy(canvas->data[0] + static_cast<ptrdiff_t>(y) * canvas->linesize[0] +
                                4 * static_cast<ptrdiff_t>(x),
                            from + 4 * static_cast<ptrdiff_t>(i), 4);
            }
        }
    }

    // ---- Writing -------------------------------------------------------------

    // Sends one frame (null: the end) and writes every packet the encoder has.
    bool Encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame) {
        int rc = avcodec_send_frame(codec, frame);
        if (rc < 0) return FailWriting("cannot encode");
        for (;;) {
            rc = avcodec_receive_packet(codec, outPacket);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
            if (rc < 0) return FailWriting("cannot encode");
            outPacket->stream_index = stream->index;
            // A picture lasts one frame (some encoders leave it open, and the
            // container would then cut the last picture off).
            if (outPacket->duration <= 0 && codec->codec_type == AVMEDIA_TYPE_VIDEO)
                outPacket->duration = 1;
            av_packet_rescale_ts(outPacket, codec->time_base, stream->time_base);
            rc = av_interleaved_write_frame(muxer, outPacket);
            av_packet_unref(outPacket);
            if (rc < 0) return FailWriting("cannot write the output");
        }
    }

    // ---- Steps ---------------------------------------------------------------

    bool RangeDone() const {
        if (!std::isfinite(rangeEnd)) return false;
        for (const auto& t : audio)
            if (!t->finished) return false;
        return !videoDecoder || videoFinished;
    }

    Step PumpSoundFile() {
        AudioTrack& t = *audio.front();
        if (sourcePosition < sourceEnd && !t.finished) {
            uint32_t count = std::min<uint32_t>(kBlockFrames, sourceEnd - sourcePosition);
            if (req.source->Read(sourcePosition, &count, sourceBlock.data()) != 0 || count == 0) {
                Fail("cannot read the source");
                return Step::kFailed;
            }
            AVChannelLayout layout;
            av_channel_layout_default(&layout, req.source->GetNumChannels());
            const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(sourceBlock.data())};
            const bool ok = ConvertAudio(t, in, static_cast<int>(count), AV_SAMPLE_FMT_DBL,
                                         layout,
                                         static_cast<int>(req.source->GetSampleRate() + 0.5));
            av_channel_layout_uninit(&layout);
            sourcePosition += count;
            return ok && Mix(false) ? Step::kMore : Step::kFailed;
        }
        if (!FlushConverter(t)) return Step::kFailed;
        t.finished = true;
        return Mix(true) ? Step::kEnded : Step::kFailed;
    }

    Step Pump() {
        if (!failure.text.empty()) return Step::kFailed;
        if (req.source) return audio.empty() ? Step::kEnded : PumpSoundFile();
        if (!demuxEnded) {
            const int rc = av_read_frame(input, inPacket);
            if (rc == AVERROR(EAGAIN)) return Step::kMore;
            if (rc >= 0) {
                bool ok = true;
                const int s = inPacket->stream_index;
                if (s >= 0 && s < static_cast<int>(audioOfStream.size()) && audioOfStream[s] >= 0) {
                    AudioTrack& t = *audio[static_cast<size_t>(audioOfStream[s])];
                    ok = DecodeAudio(t, inPacket) && Mix(false);
                } else if (s == videoStream && videoDecoder) {
                    ok = DecodeVideo(inPacket);
                }
                av_packet_unref(inPacket);
                if (!ok) return Step::kFailed;
                if (!RangeDone()) return Step::kMore;
            }
            // The end of the file, a read error, or the end of the range.
            demuxEnded = true;
        }
        for (auto& t : audio) {
            if (!DecodeAudio(*t, nullptr) || !FlushConverter(*t)) return Step::kFailed;
            t->finished = true;
        }
        if (!audio.empty() && !Mix(true)) return Step::kFailed;
        if (videoDecoder) {
            if (!DecodeVideo(nullptr)) return Step::kFailed;
            if (haveHeld && !EmitUntil(std::min(rangeEnd, lastFrameEnd))) return Step::kFailed;
            videoFinished = true;
        }
        return Step::kEnded;
    }

    bool FinishWriting() {
        if (audioCodec && (!DrainAudio(true) || !Encode(audioCodec, audioStream, nullptr)))
            return false;
        if (videoCodec && !Encode(videoCodec, videoOutStream, nullptr)) return false;
        if (av_write_trailer(muxer) < 0) return FailWriting("cannot write the output");
        avio_flush(io);
        if (io->error < 0 || out.firstErrno) return FailWriting("cannot write the output");
        const int fd = out.fd;
        out.fd = -1;
        if (::close(fd) != 0) {
            out.firstErrno = errno;
            return FailWriting("cannot write the output");
        }
        return true;
    }
};

ExportPipeline::ExportPipeline(MediaExportSession* session, ExportRequest request)
    : impl_(std::make_unique<Impl>(session, std::move(request))) {}

ExportPipeline::~ExportPipeline() = default;

bool ExportPipeline::OpenReader() {
    return impl_->OpenReader();
}

bool ExportPipeline::HasAudio() const {
    return !impl_->audio.empty();
}

bool ExportPipeline::HasVideo() const {
    return !impl_->videoTracks.empty();
}

std::optional<VideoTrackDescription> ExportPipeline::FirstVideoTrack() const {
    if (impl_->videoTracks.empty()) return std::nullopt;
    return impl_->videoTracks.front();
}

bool ExportPipeline::StartWriting() {
    return impl_->StartWriting();
}

ExportPipeline::Step ExportPipeline::Pump() {
    return impl_->Pump();
}

bool ExportPipeline::FinishWriting() {
    return impl_->FinishWriting();
}

void ExportPipeline::KeepOutput() {
    impl_->created = false;
}

void ExportPipeline::DiscardOutput() {
    impl_->Discard();
}

const ExportFailure& ExportPipeline::failure() const {
    return impl_->failure;
}
