#include "formats/media/export_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "formats/chunk_reader.h"
#include "platform/media_library.h"
#include "soundfile/progress.h"
#include "soundfile/sound_file.h"

namespace {

// Frames read from the source per step; also the frame size given to encoders
// that take any.
constexpr int kBlockFrames = 4096;
// The output is written through a buffer of this size.
constexpr int kIOBufferBytes = 64 * 1024;

// The output file, written through our own descriptor.
struct OutputFile {
    int fd = -1;
    int firstErrno = 0;
};

int WriteOutput(void* opaque, uint8_t* bytes, int size) {
    auto* out = static_cast<OutputFile*>(opaque);
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

}  // namespace

// Everything one export holds; released on every path by the destructor.
struct MediaExportSession::Run {
    OutputFile out;
    bool created = false;
    std::string path;
    AVCodecContext* codec = nullptr;
    AVFormatContext* muxer = nullptr;
    AVIOContext* io = nullptr;
    SwrContext* swr = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    uint8_t** converted = nullptr;
    int convertedCapacity = 0;
    int64_t nextPts = 0;

    ~Run() {
        if (converted) av_freep(&converted[0]);
        av_freep(&converted);
        av_packet_free(&packet);
        av_frame_free(&frame);
        if (fifo) av_audio_fifo_free(fifo);
        swr_free(&swr);
        avcodec_free_context(&codec);
        if (muxer) avformat_free_context(muxer);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        if (out.fd >= 0) ::close(out.fd);
        // Whatever did not complete goes again; the file was made by this run.
        if (created) ::unlink(path.c_str());
    }

    // Room for `samples` converted samples per channel.
    bool EnsureConverted(int samples) {
        if (samples <= convertedCapacity) return true;
        if (converted) av_freep(&converted[0]);
        av_freep(&converted);
        convertedCapacity = 0;
        if (av_samples_alloc_array_and_samples(&converted, nullptr, codec->ch_layout.nb_channels,
                                               samples, codec->sample_fmt, 0) < 0)
            return false;
        convertedCapacity = samples;
        return true;
    }

    // Sends one frame (null: the end) and writes every packet the encoder has.
    int Encode(AVFrame* f) {
        int rc = avcodec_send_frame(codec, f);
        if (rc < 0) return rc;
        for (;;) {
            rc = avcodec_receive_packet(codec, packet);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return 0;
            if (rc < 0) return rc;
            packet->stream_index = 0;
            av_packet_rescale_ts(packet, codec->time_base, muxer->streams[0]->time_base);
            rc = av_interleaved_write_frame(muxer, packet);
            av_packet_unref(packet);
            if (rc < 0) return rc;
        }
    }

    // Encodes whole encoder frames from the queue; at the end also the rest.
    int Drain(bool atEnd) {
        const int size = codec->frame_size > 0 ? codec->frame_size : kBlockFrames;
        while (av_audio_fifo_size(fifo) >= size || (atEnd && av_audio_fifo_size(fifo) > 0)) {
            const int n = std::min(size, av_audio_fifo_size(fifo));
            av_frame_unref(frame);
            frame->nb_samples = n;
            frame->format = codec->sample_fmt;
            frame->sample_rate = codec->sample_rate;
            if (int rc = av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout); rc < 0)
                return rc;
            if (int rc = av_frame_get_buffer(frame, 0); rc < 0) return rc;
            if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(frame->data), n) != n)
                return AVERROR(EIO);
            frame->pts = nextPts;
            nextPts += n;
            if (int rc = Encode(frame); rc < 0) return rc;
        }
        return 0;
    }
};

MediaExportSession::MediaExportSession(CSoundFile* source) : source_(source) {}

MediaExportSession::~MediaExportSession() = default;

std::string MediaExportSession::GetError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

OSErr MediaExportSession::GetErrorCode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return errorCode_;
}

void MediaExportSession::CancelExport() {
    if (status_.load() == kStatusExporting) cancel_.store(true);
}

int MediaExportSession::Fail(const std::string& text, OSErr code) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (error_.empty()) error_ = text;
        if (errorCode_ == 0) errorCode_ = code;
    }
    status_.store(kStatusFailed);
    return kStatusFailed;
}

int MediaExportSession::Export() {
    if (used_) return Fail("a session serves one export", kMediaExportFailedErr);
    used_ = true;
    if (outputPath_.empty()) return Fail("Output URL not set", kMediaExportFailedErr);
    if (!source_ || !source_->IsOpen() || source_->GetNumChannels() < 1 ||
        source_->GetNumChannels() > static_cast<short>(kMaxSoundFileChannels) ||
        !(source_->GetSampleRate() >= 1))
        return Fail("the source holds no audio", kMediaExportFailedErr);
    if (!platform::media::Available())
        return Fail("the media library is not installed", kMediaExportFailedErr);
    av_log_set_level(AV_LOG_QUIET);

    const int inChannels = source_->GetNumChannels();
    const int inRate = static_cast<int>(source_->GetSampleRate() + 0.5);
    const int outChannels = settings_.channels > 0 ? settings_.channels : inChannels;
    const int outRate = settings_.sampleRate > 0 ? settings_.sampleRate : inRate;

    Run run;
    run.path = outputPath_;
    const AVCodec* encoder = avcodec_find_encoder_by_name(settings_.encoder.c_str());
    if (!encoder) return Fail("no encoder " + settings_.encoder, kMediaTypeNotWritableErr);
    run.codec = avcodec_alloc_context3(encoder);
    run.packet = av_packet_alloc();
    run.frame = av_frame_alloc();
    if (!run.codec || !run.packet || !run.frame) return Fail("out of memory", kMediaExportFailedErr);
    run.codec->sample_rate = outRate;
    run.codec->time_base = AVRational{1, outRate};
    run.codec->bit_rate = settings_.bitRate;
    av_channel_layout_default(&run.codec->ch_layout, outChannels);
    run.codec->sample_fmt =
        encoder->sample_fmts ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_S16;

    if (avformat_alloc_output_context2(&run.muxer, nullptr, settings_.muxer.c_str(), nullptr) <
            0 ||
        !run.muxer)
        return Fail("no container " + settings_.muxer, kMediaExportFailedErr);
    if (run.muxer->oformat->flags & AVFMT_GLOBALHEADER)
        run.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(run.codec, encoder, nullptr) < 0)
        return Fail("the encoder refuses these settings", kMediaExportFailedErr);

    // The output: made here, never one that exists.
    run.out.fd = ::open(outputPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (run.out.fd < 0) {
        const int e = errno;
        OSErr code = kMediaExportFailedErr;
        if (e == EEXIST) code = kDupFNErr;
        if (IsDiskFull(e)) code = kMediaDiskFullErr;
        return Fail("cannot create the output", code);
    }
    run.created = true;
    auto* ioBuffer = static_cast<unsigned char*>(av_malloc(kIOBufferBytes));
    if (!ioBuffer) return Fail("out of memory", kMediaExportFailedErr);
    run.io = avio_alloc_context(ioBuffer, kIOBufferBytes, 1, &run.out, nullptr, &WriteOutput,
                                &SeekOutput);
    if (!run.io) {
        av_free(ioBuffer);
        return Fail("out of memory", kMediaExportFailedErr);
    }
    run.muxer->pb = run.io;
    run.muxer->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVStream* stream = avformat_new_stream(run.muxer, nullptr);
    if (!stream || avcodec_parameters_from_context(stream->codecpar, run.codec) < 0)
        return Fail("cannot add the audio stream", kMediaExportFailedErr);
    stream->time_base = run.codec->time_base;

    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, inChannels);
    const int swrRc = swr_alloc_set_opts2(&run.swr, &run.codec->ch_layout, run.codec->sample_fmt,
                                          outRate, &inLayout, AV_SAMPLE_FMT_DBL, inRate, 0,
                                          nullptr);
    av_channel_layout_uninit(&inLayout);
    if (swrRc < 0 || swr_init(run.swr) < 0)
        return Fail("cannot convert the samples", kMediaExportFailedErr);
    run.fifo = av_audio_fifo_alloc(run.codec->sample_fmt, outChannels, 2 * kBlockFrames);
    const int maxOut =
        static_cast<int>(av_rescale_rnd(kBlockFrames, outRate, inRate, AV_ROUND_UP)) + 256;
    if (!run.fifo || !run.EnsureConverted(maxOut))
        return Fail("out of memory", kMediaExportFailedErr);

    status_.store(kStatusExporting);
    auto failOrCancel = [&](const std::string& text, OSErr code) {
        if (cancel_.load() || GetLastError() == kUserCanceledErr) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                errorCode_ = kUserCanceledErr;
            }
            status_.store(kStatusCancelled);
            return static_cast<int>(kStatusCancelled);
        }
        if (run.out.firstErrno && IsDiskFull(run.out.firstErrno)) code = kMediaDiskFullErr;
        return Fail(text, code);
    };
    if (avformat_write_header(run.muxer, nullptr) < 0)
        return failOrCancel("cannot write the container header", kMediaExportFailedErr);

    std::vector<double> block;
    try {
        block.resize(static_cast<size_t>(kBlockFrames) * inChannels);
    } catch (const std::bad_alloc&) {
        return Fail("out of memory", kMediaExportFailedErr);
    }
    const uint32_t frames = source_->GetNumSFrames();
    for (uint32_t position = 0;;) {
        if (cancel_.load() || GetLastError() == kUserCanceledErr)
            return failOrCancel("cancelled", kUserCanceledErr);
        const bool atEnd = position >= frames;
        int produced = 0;
        if (!atEnd) {
            uint32_t count = std::min<uint32_t>(kBlockFrames, frames - position);
            if (source_->Read(position, &count, block.data()) != 0 || count == 0)
                return failOrCancel("cannot read the source", kMediaExportFailedErr);
            const int want = swr_get_out_samples(run.swr, static_cast<int>(count));
            if (want < 0 || !run.EnsureConverted(want))
                return failOrCancel("cannot convert the samples", kMediaExportFailedErr);
            const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(block.data())};
            produced = swr_convert(run.swr, run.converted, run.convertedCapacity, in,
                                   static_cast<int>(count));
            position += count;
        } else {
            // What the converter still holds.
            produced = swr_convert(run.swr, run.converted, run.convertedCapacity, nullptr, 0);
        }
        if (produced < 0 ||
            (produced > 0 && av_audio_fifo_write(run.fifo, reinterpret_cast<void**>(run.converted),
                                                 produced) != produced))
            return failOrCancel("cannot convert the samples", kMediaExportFailedErr);
        if (atEnd && produced > 0) continue;
        if (run.Drain(atEnd) < 0) return failOrCancel("cannot write the output", kMediaExportFailedErr);
        if (atEnd) break;
    }
    if (run.Encode(nullptr) < 0 || av_write_trailer(run.muxer) < 0)
        return failOrCancel("cannot write the output", kMediaExportFailedErr);
    avio_flush(run.io);
    if (run.io->error < 0 || run.out.firstErrno)
        return failOrCancel("cannot write the output", kMediaExportFailedErr);
    const int fd = run.out.fd;
    run.out.fd = -1;
    if (::close(fd) != 0) {
        run.out.firstErrno = errno;
        return failOrCancel("cannot write the output", kMediaExportFailedErr);
    }
    run.created = false;  // Completed: the output stays.
    status_.store(kStatusCompleted);
    return kStatusCompleted;
}
