#include "formats/media/av_media_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

#include "formats/chunk_reader.h"
#include "formats/pcm/caf_container.h"
#include "foundation/string_utils.h"
#include "foundation/temp_file.h"
#include "foundation/xwqf.h"
#include "platform/audio_file_services.h"
#include "platform/media_library.h"
#include "soundfile/progress.h"
#include "soundfile/type_codes.h"

namespace {

// Decoded samples: three bytes each, little-endian, channels interleaved.
constexpr uint32_t kBytesPerSample = 3;
// Status codes used here besides the header's.
constexpr OSErr kTempFileErr = -22026;
constexpr OSErr kTooLargeErr = -1309;
// A decoder that keeps failing without taking input is given up after this many tries.
constexpr int kMaxDecodeErrors = 1000;
// Identifier of the temporary files: the written samples and the decoded cache.
constexpr const char* kTempIdentifier = "com.quillfen.qt";
// The first bytes of a file that failed to open that are probed again without
// its name: a container's header or several frames of a raw stream.
constexpr int kContentProbeBytes = 64 * 1024;

bool IsPcmCodec(AVCodecID id) {
    return id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT;
}

bool IsFloatPcmCodec(AVCodecID id) {
    switch (id) {
        case AV_CODEC_ID_PCM_F16LE:
        case AV_CODEC_ID_PCM_F24LE:
        case AV_CODEC_ID_PCM_F32BE:
        case AV_CODEC_ID_PCM_F32LE:
        case AV_CODEC_ID_PCM_F64BE:
        case AV_CODEC_ID_PCM_F64LE:
            return true;
        default:
            return false;
    }
}

// The channel configuration a layout stands for, or kNotSet.
CSoundFile::ChannelConfiguration ConfigurationOf(const AVChannelLayout& layout) {
    struct Known {
        uint64_t mask;
        CSoundFile::ChannelConfiguration configuration;
    };
    static const Known kKnown[] = {
        {AV_CH_LAYOUT_MONO, CSoundFile::kMono},
        {AV_CH_LAYOUT_STEREO, CSoundFile::kStereo},
        {AV_CH_LAYOUT_SURROUND, CSoundFile::kLCR},
        {AV_CH_LAYOUT_QUAD, CSoundFile::kQuad},
        {AV_CH_LAYOUT_2_2, CSoundFile::kQuad},
        {AV_CH_LAYOUT_4POINT0, CSoundFile::kLCRS},
        {AV_CH_LAYOUT_5POINT0, CSoundFile::k50},
        {AV_CH_LAYOUT_5POINT0_BACK, CSoundFile::k50},
        {AV_CH_LAYOUT_5POINT1, CSoundFile::k51},
        {AV_CH_LAYOUT_5POINT1_BACK, CSoundFile::k51},
        {AV_CH_LAYOUT_6POINT0, CSoundFile::k60},
        {AV_CH_LAYOUT_6POINT1, CSoundFile::k61},
        {AV_CH_LAYOUT_7POINT1, CSoundFile::k71},
    };
    if (layout.order != AV_CHANNEL_ORDER_NATIVE) return CSoundFile::kNotSet;
    for (const Known& k : kKnown)
        if (layout.u.mask == k.mask) return k.configuration;
    return CSoundFile::kNotSet;
}

// True when the input reported a read the operating system refused or failed
// (its end is no failure).
bool HasReadError(const AVIOContext* input) {
    return input && input->error < 0 && input->error != AVERROR_EOF;
}

// True when the library read up to the end of the input.
bool ReachedEnd(AVIOContext* input) {
    if (input->eof_reached) return true;
    const int64_t size = avio_size(input);
    return size >= 0 && avio_tell(input) >= size;
}

// True when the input's first bytes alone, without the file's name, are taken
// by a demuxer of the list.
bool ContentNamesADemuxer(AVIOContext* input) {
    if (avio_seek(input, 0, SEEK_SET) < 0) return false;
    std::vector<uint8_t> head(kContentProbeBytes + AVPROBE_PADDING_SIZE, 0);
    const int got = avio_read(input, head.data(), kContentProbeBytes);
    if (got <= 0) return false;
    AVProbeData probe{};
    probe.filename = "";
    probe.buf = head.data();
    probe.buf_size = got;
    int score = 0;
    const AVInputFormat* found = av_probe_input_format3(&probe, 1, &score);
    return found && score > 0 &&
           av_match_list(found->name, platform::MediaDemuxerWhitelist(), ',') > 0;
}

// The status of an input the library could make no sense of: one that ended
// inside what the library read, of a kind its content alone shows, is cut
// short; anything else is not a format of ours.
OSErr UnknownContentStatus(AVIOContext* input, bool ended) {
    return ended && ContentNamesADemuxer(input) ? OSErr(kEOFErr) : OSErr(kNotASoundFileErr);
}

// The status of a container the library could not open or probe through
// `input` (null when the input itself did not open): a read the system
// refused or failed says so, as everywhere; a file that ends early (the
// library reports an I/O failure or the end, and the input no read error) is
// told apart from one of no format of ours. A header the library could not
// allocate for states sizes no sound file needs (no single allocation of the
// library may pass its cap): it is not of our formats either.
OSErr ContainerStatus(int rc, AVIOContext* input) {
    if (!input) {
        if (rc == AVERROR(ENOMEM)) return kMemFullErr;
        if (rc == AVERROR(ENOENT)) return kFileNotFoundErr;
        if (rc == AVERROR(EACCES) || rc == AVERROR(EPERM) || rc == AVERROR(EIO))
            return XWQF::ReadErrnoToStatus(AVUNERROR(rc));
        return kNotASoundFileErr;
    }
    if (HasReadError(input)) return XWQF::ReadErrnoToStatus(AVUNERROR(input->error));
    if (rc == AVERROR(EIO) || rc == AVERROR_EOF) return UnknownContentStatus(input, true);
    return kNotASoundFileErr;
}

// 0 when an audio stream's channels and rate are ones a sound file takes.
OSErr StreamFormStatus(const AVCodecParameters& par) {
    const int channels = par.ch_layout.nb_channels;
    if (channels < 1 || channels > static_cast<int>(kMaxSoundFileChannels))
        return kIncompatibleChannelsErr;
    if (par.sample_rate < 1) return kIncompatibleSampleRateErr;
    return 0;
}

// Whether each stream's header stated its form (a channel count or a rate),
// as the demuxer read it before the probe: the probe fills in what a raw
// stream's frames show, which states nothing.
std::vector<bool> StatedForms(const AVFormatContext& format) {
    std::vector<bool> stated(format.nb_streams);
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVCodecParameters& par = *format.streams[i]->codecpar;
        stated[i] = par.ch_layout.nb_channels > 0 || par.sample_rate > 0;
    }
    return stated;
}

// Why a container has no audio stream to read. What the library could make
// nothing of (no stream at all, codecs all unknown, an audio stream whose
// header stated no form and whose probe found no channels or no rate) is a
// file it did not understand; an audio stream that states channels or a rate
// out of range is told as such; else there is no audio in the file.
OSErr NoAudioStatus(AVFormatContext& format, const std::vector<bool>& statedForms) {
    bool known = false;
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVCodecParameters& par = *format.streams[i]->codecpar;
        const bool stated = i < statedForms.size() && statedForms[i];
        if (par.codec_type == AVMEDIA_TYPE_AUDIO && !stated &&
            (par.ch_layout.nb_channels < 1 || par.sample_rate < 1))
            return UnknownContentStatus(format.pb, ReachedEnd(format.pb));
        known = known || par.codec_id != AV_CODEC_ID_NONE;
    }
    if (!known) return UnknownContentStatus(format.pb, ReachedEnd(format.pb));
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVCodecParameters& par = *format.streams[i]->codecpar;
        if (par.codec_type == AVMEDIA_TYPE_AUDIO) {
            if (OSErr err = StreamFormStatus(par)) return err;
        }
    }
    return kMediaNoAudioErr;
}

// The frames the container states for the stream at `rate`, from its start
// to its end; 0 when it states none (no duration, or one the library
// estimated from the bit rate). An Ogg stream's duration is its last page's
// granule position, not a length between two ends: it counts a stream's
// first granule as missing audio, a chain's last link at the first link's
// rate, and in a cut file the last page that survived; Ogg states none.
uint64_t StatedFrames(const AVFormatContext& format, const AVStream& st, int rate) {
    if (st.duration == AV_NOPTS_VALUE || st.duration <= 0 || rate < 1 ||
        format.duration_estimation_method == AVFMT_DURATION_FROM_BITRATE ||
        std::strcmp(format.iformat->name, "ogg") == 0 ||
        st.time_base.num <= 0 || st.time_base.den <= 0)
        return 0;
    const int64_t start = st.start_time == AV_NOPTS_VALUE ? 0 : st.start_time;
    int64_t end = 0;
    if (__builtin_add_overflow(start, st.duration, &end)) return 0;
    const AVRational frames{1, rate};
    // Both ends rescaled alike, so that rounding does not count a frame twice.
    const int64_t first = av_rescale_q(start, st.time_base, frames);
    const int64_t last = av_rescale_q(end, st.time_base, frames);
    if (first == INT64_MIN || last == INT64_MIN || last <= first) return 0;
    return static_cast<uint64_t>(last) - static_cast<uint64_t>(first);
}

// The bytes of a file, read at an offset through a descriptor of its own
// (the demuxer's input keeps its own position).
class DescriptorSource : public ByteSource {
public:
    explicit DescriptorSource(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat info;
        if (fd_ >= 0 && ::fstat(fd_, &info) == 0 && info.st_size > 0)
            size_ = static_cast<uint64_t>(info.st_size);
    }
    ~DescriptorSource() override {
        if (fd_ >= 0) ::close(fd_);
    }
    DescriptorSource(const DescriptorSource&) = delete;
    DescriptorSource& operator=(const DescriptorSource&) = delete;

    uint64_t Size() const override { return size_; }
    OSErr ReadAt(uint64_t offset, void* out, size_t count) override {
        if (!Holds(offset, count)) return kEOFErr;
        auto* p = static_cast<uint8_t*>(out);
        for (size_t done = 0; done < count;) {
            const ssize_t n = ::pread(fd_, p + done, count - done,
                                      static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return XWQF::ReadErrnoToStatus(errno);
            if (n == 0) return kEOFErr;
            done += static_cast<size_t>(n);
        }
        return 0;
    }

private:
    int fd_;
    uint64_t size_ = 0;
};

// The first 'data' chunk of the Core Audio Format file at `path` as its own
// header states it; none where no such chunk is found.
std::optional<caf::DataChunkHead> CafDataChunk(const std::string& path) {
    DescriptorSource source(path);
    caf::DataChunkHead head;
    if (caf::FindDataChunk(source, &head) != 0) return std::nullopt;
    return head;
}

// The frames the 'data' chunk of a Core Audio Format file holds, as the
// library counts them: its size in whole packets times a packet's frames
// where packets are all of one size. 0 for other containers, and where the
// header does not state the size (a file written as a stream, or a size of
// no more than the edit count): the library's count is then a packet
// table's, not the chunk's.
uint64_t CafDataFrames(const std::optional<caf::DataChunkHead>& data, const AVStream& st) {
    if (!data || !data->StatesAudioBytes() || st.nb_frames <= 0) return 0;
    return static_cast<uint64_t>(st.nb_frames);
}

// The frames the header of a Core Audio Format file of coded packets all of
// one size states: its 'data' chunk's frames, where the library works them
// out. 0 where a packet table states the stream's length: the library's
// length is then the table's, no estimate, and the table's rule holds.
uint64_t CafHeaderFrames(const AVFormatContext& format,
                         const std::optional<caf::DataChunkHead>& data, const AVStream& st) {
    if (format.duration_estimation_method != AVFMT_DURATION_FROM_BITRATE ||
        st.codecpar->block_align <= 0)
        return 0;
    return CafDataFrames(data, st);
}

// The bytes one frame of stored samples takes by its codec: its channels
// times the bytes of a sample; 0 where the codec does not say.
uint64_t SampleFrameBytes(const AVCodecParameters& par) {
    const int bits = av_get_bits_per_sample(par.codec_id);
    if (bits <= 0 || par.ch_layout.nb_channels <= 0) return 0;
    return static_cast<uint64_t>(par.ch_layout.nb_channels) *
           ((static_cast<uint64_t>(bits) + 7) / 8);
}

// Whether the library delivers frame `last` of stream `stream` of `format`
// whole, where the stream's time base is one frame and a frame takes
// `frameBytes` bytes. A demuxer stops at the end of its container's sample
// chunk (an AIFF's 'SSND', a Wave file's 'data'), which the file's size does
// not show: a demuxer of the same kind opens the file at `url` afresh, leaving
// the reader's own where it is, is positioned at that frame and reads the
// packet there. A packet that does not hold the whole frame, a stream that is
// not the same one, any failure, and more than a few packets of other streams
// first, say no.
bool DeliversFrame(const std::string& url, const AVFormatContext& format, int stream,
                   int64_t last, uint64_t frameBytes) {
    constexpr int kMaxOtherPackets = 64;
    AVFormatContext* probe = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int opened = avformat_open_input(&probe, url.c_str(), format.iformat, &options);
    av_dict_free(&options);
    if (opened < 0) return false;
    AVPacket* packet = av_packet_alloc();
    bool delivers = false;
    if (packet && stream < static_cast<int>(probe->nb_streams) &&
        probe->streams[stream]->codecpar->codec_id == format.streams[stream]->codecpar->codec_id &&
        av_cmp_q(probe->streams[stream]->time_base, format.streams[stream]->time_base) == 0) {
        for (unsigned i = 0; i < probe->nb_streams; ++i)
            if (static_cast<int>(i) != stream) probe->streams[i]->discard = AVDISCARD_ALL;
        if (av_seek_frame(probe, stream, last, AVSEEK_FLAG_BACKWARD) >= 0) {
            for (int other = 0; other <= kMaxOtherPackets; ++other) {
                if (av_read_frame(probe, packet) < 0) break;
                if (packet->stream_index != stream) {
                    av_packet_unref(packet);
                    continue;
                }
                const int64_t first = packet->pts;
                delivers = first != AV_NOPTS_VALUE && first >= 0 && first <= last &&
                           static_cast<uint64_t>(last - first) <
                               static_cast<uint64_t>(packet->size) / frameBytes;
                av_packet_unref(packet);
                break;
            }
        }
    }
    av_packet_free(&packet);
    avformat_close_input(&probe);
    return delivers;
}

// Packs 32-bit samples as 24-bit ones, least significant byte first: the
// upper three bytes of each. On a little-endian machine four samples at a
// time fill three whole words.
void PackUpper24(const int32_t* in, size_t samples, uint8_t* out) {
    size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 4 <= samples; i += 4, out += 12) {
            const uint32_t a = static_cast<uint32_t>(in[i]) >> 8;
            const uint32_t b = static_cast<uint32_t>(in[i + 1]) >> 8;
            const uint32_t c = static_cast<uint32_t>(in[i + 2]) >> 8;
            const uint32_t d = static_cast<uint32_t>(in[i + 3]) >> 8;
            const uint32_t w0 = a | b << 24, w1 = b >> 8 | c << 16, w2 = c >> 16 | d << 8;
            std::memcpy(out, &w0, 4);
            std::memcpy(out + 4, &w1, 4);
            std::memcpy(out + 8, &w2, 4);
        }
    }
    for (; i < samples; ++i, out += 3) {
        const uint32_t v = static_cast<uint32_t>(in[i]);
        out[0] = static_cast<uint8_t>(v >> 8);
        out[1] = static_cast<uint8_t>(v >> 16);
        out[2] = static_cast<uint8_t>(v >> 24);
    }
}

// The start and end counts of a packet's skip-samples side data.
uint64_t SkipSamplesOf(const AVPacket& packet) {
    size_t size = 0;
    const uint8_t* data = av_packet_get_side_data(&packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (!data || size < 8) return 0;
    return static_cast<uint64_t>(AV_RL32(data)) + AV_RL32(data + 4);
}

std::string TemporaryFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string folder = dir && *dir ? dir : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

}  // namespace

// What a read holds of the media library: the input, the demuxer reading it,
// the decoder and the converter to interleaved 32-bit samples, and the
// buffers they fill.
struct AVFoundationFile::Reader {
    // The input is this reader's own: the demuxer neither closes nor frees it.
    AVIOContext* input = nullptr;
    AVFormatContext* format = nullptr;
    AVCodecContext* decoder = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    AVChannelLayout outLayout{};
    int rate = 0;
    // What the converter was set up for.
    AVChannelLayout inLayout{};
    int inRate = 0;
    int inFormat = -1;
    bool decoderFlushed = false;
    // The packet holds the stream's first packet, read at Open and not yet
    // sent to the decoder.
    bool packetPending = false;
    int blockAlign = 0;
    // Where a Core Audio Format file's 'data' chunk and its audio data begin,
    // as its own header walk found them (-1 for other containers, or where
    // the walk found none): a packet the library reports between the two, in
    // the chunk's header or edit count, is no audio and is dropped.
    int64_t dataChunk = -1;
    int64_t audioStart = -1;
    // The length the container states for stored samples that are decoded
    // whole in doubt: the decoding stops there, as a read by it would (0:
    // none).
    uint64_t statedFrames = 0;
    // What the decoding met of the stream: the start and end counts of all
    // skip-samples side data, the largest frame the decoder delivered and the
    // number of frames it delivered.
    uint64_t skipSamples = 0;
    int largestFrame = 0;
    uint64_t framesDelivered = 0;
    // The longest duration the container states for one of the stream's
    // packets, in frames at the stream's rate (0 when it states none).
    int64_t largestPacket = 0;
    std::vector<int32_t> converted;
    std::vector<uint8_t> packed;

    ~Reader() {
        swr_free(&swr);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
        if (format) avformat_close_input(&format);
        avio_closep(&input);
        av_channel_layout_uninit(&outLayout);
        av_channel_layout_uninit(&inLayout);
    }

    // Sets the converter up for the frame's form when it changed.
    bool Configure(const AVFrame* f) {
        if (swr && f->sample_rate == inRate && f->format == inFormat &&
            av_channel_layout_compare(&f->ch_layout, &inLayout) == 0)
            return true;
        swr_free(&swr);
        av_channel_layout_uninit(&inLayout);
        if (av_channel_layout_copy(&inLayout, &f->ch_layout) < 0) return false;
        inRate = f->sample_rate;
        inFormat = f->format;
        if (swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_S32, rate, &inLayout,
                                static_cast<AVSampleFormat>(inFormat), inRate, 0, nullptr) < 0 ||
            swr_init(swr) < 0) {
            swr_free(&swr);
            return false;
        }
        return true;
    }
};

AVFoundationFile::AVFoundationFile() = default;

AVFoundationFile::~AVFoundationFile() {
    if (open_) Close();
    ReleaseReader();
}

OSType AVFoundationFile::GetFType() {
    return FourCC("AVFd");
}

void AVFoundationFile::ReleaseReader() {
    reader_.reset();
    cache_.reset();
    cachedFrames_ = 0;
    decodedToEnd_ = false;
}

// ---------------------------------------------------------------------------
// Reading

OSErr AVFoundationFile::Open() {
    ReleaseReader();
    open_ = false;
    try {
        if (path_.empty() || !platform::media::Available()) return kFileNotOpenBaseErr;
        av_log_set_level(AV_LOG_QUIET);
        struct stat info;
        if (::stat(path_.c_str(), &info) != 0) return XWQF::ReadErrnoToStatus(errno);
        if (OSErr err = XWQF::CheckReadable(path_)) return err;
        auto reader = std::make_unique<Reader>();
        // The "file:" prefix keeps a colon in the path from naming another protocol.
        const std::string url = "file:" + path_;
        // The input is opened here and kept, so that after a failure its own
        // state tells a read error from the end of the file.
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        int rc = avio_open2(&reader->input, url.c_str(), AVIO_FLAG_READ, nullptr, &options);
        av_dict_free(&options);
        if (rc < 0) return ContainerStatus(rc, nullptr);
        reader->format = avformat_alloc_context();
        if (!reader->format) return kMemFullErr;
        reader->format->pb = reader->input;
        reader->format->flags |= AVFMT_FLAG_CUSTOM_IO;
        av_dict_set(&options, "protocol_whitelist", "file", 0);
        av_dict_set(&options, "format_whitelist", platform::MediaDemuxerWhitelist(), 0);
        rc = avformat_open_input(&reader->format, url.c_str(), nullptr, &options);
        av_dict_free(&options);
        if (rc < 0) {
            // The library freed the demuxer's context, not the input.
            reader->format = nullptr;
            return ContainerStatus(rc, reader->input);
        }
        const std::vector<bool> statedForms = StatedForms(*reader->format);
        if (const int probed = avformat_find_stream_info(reader->format, nullptr); probed < 0)
            return ContainerStatus(probed, reader->input);
        reader->stream =
            av_find_best_stream(reader->format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (reader->stream < 0) return NoAudioStatus(*reader->format, statedForms);
        for (unsigned i = 0; i < reader->format->nb_streams; ++i)
            if (static_cast<int>(i) != reader->stream)
                reader->format->streams[i]->discard = AVDISCARD_ALL;
        AVStream* st = reader->format->streams[reader->stream];
        const AVCodecParameters* par = st->codecpar;
        if (OSErr err = StreamFormStatus(*par)) return err;
        const int channels = par->ch_layout.nb_channels;
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        if (!codec) return kMediaUnsupportedDataErr;
        reader->decoder = avcodec_alloc_context3(codec);
        reader->packet = av_packet_alloc();
        reader->frame = av_frame_alloc();
        if (!reader->decoder || !reader->packet || !reader->frame) return kMemFullErr;
        // A decoder set-up the library refuses is that file's unsupported data,
        // one it could not allocate for too: no single allocation of the
        // library may pass its cap, so that failure follows sizes the file
        // states itself (a magic cookie's frame length, say).
        if (avcodec_parameters_to_context(reader->decoder, par) < 0)
            return kMediaUnsupportedDataErr;
        reader->decoder->pkt_timebase = st->time_base;
        if (avcodec_open2(reader->decoder, codec, nullptr) < 0) return kMediaUnsupportedDataErr;
        if (av_channel_layout_copy(&reader->outLayout, &par->ch_layout) < 0) return kMemFullErr;
        reader->rate = par->sample_rate;
        reader->blockAlign = par->block_align;

        channels_ = static_cast<uint32_t>(channels);
        sampleRate_ = par->sample_rate;
        wordSize_ = 24;
        dataType_ = IsFloatPcmCodec(par->codec_id) ? kDataTypeFloatLittleEndian
                                                   : kDataTypeLittleEndianPCM;
        isCompressed_ = !IsPcmCodec(par->codec_id);
        framesPerPacket_ = par->frame_size > 0 ? par->frame_size : 1;
        if (channelConfiguration_ == kNotSet)
            channelConfiguration_ = ConfigurationOf(par->ch_layout);
        audioDataSize_ = 0;
        declaredFrames_ = 0;
        // A coded stream shows the rate it was coded at: the stream's, else the
        // container's, as the library's probe reports them. Stored PCM leaves
        // it to GetBitRate, which counts its samples.
        cachedBitRate_ = 0;
        if (isCompressed_) {
            const int64_t coded = par->bit_rate > 0 ? par->bit_rate : reader->format->bit_rate;
            if (coded > 0)
                cachedBitRate_ = static_cast<uint16_t>(std::min<int64_t>((coded + 500) / 1000, 65535));
        }

        const bool isCaf = std::strcmp(reader->format->iformat->name, "caf") == 0;
        const std::optional<caf::DataChunkHead> cafData =
            isCaf ? CafDataChunk(path_) : std::nullopt;
        if (cafData) {
            reader->dataChunk = static_cast<int64_t>(cafData->offset);
            reader->audioStart = static_cast<int64_t>(cafData->audioStart());
        }
        // The length the container states is trusted only for stored PCM whose
        // samples surely all lie inside the file, and only when the container
        // really states it: one the library estimated from the bit rate can be
        // a frame off (a padded Wave64 data chunk, say). The samples lie inside
        // when the bytes from the first one (the first packet's) to the end of
        // the file, or of a Core Audio Format file's 'data' chunk where its
        // header states the chunk's size, hold the stated frames, and when the
        // library, read afresh, delivers the last stated frame whole: it stops
        // at the end of a container's sample chunk (an AIFF's 'SSND', a Wave
        // file's 'data'), wherever the file goes on after it. A frame is
        // counted at the container's bytes per packet, and a container that
        // states fewer than a frame's samples take is not trusted: its packets
        // end inside frames, whose bytes the decoder drops. Nor is a Core Audio
        // Format file whose own header walk finds no 'data' chunk, or whose
        // first packet lies outside that chunk's audio data. In any doubt the
        // stream is decoded whole, so that what a file does not hold is never
        // read, as silence or as a failure; it still stops at the stated
        // length, as a read by it would.
        uint64_t stated = 0;
        bool exact = false;
        if (!isCompressed_ && st->duration != AV_NOPTS_VALUE && st->duration > 0 &&
            reader->format->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE &&
            st->time_base.num == 1 && st->time_base.den == par->sample_rate &&
            (st->start_time == AV_NOPTS_VALUE || st->start_time == 0) && par->block_align > 0) {
            stated = static_cast<uint64_t>(st->duration);
            // The first packet is kept for the decoder, which takes it first.
            while ((rc = av_read_frame(reader->format, reader->packet)) >= 0 &&
                   reader->packet->stream_index != reader->stream)
                av_packet_unref(reader->packet);
            reader->packetPending = rc >= 0;
            const int64_t first = reader->packetPending ? reader->packet->pos : -1;
            const int64_t fileSize = avio_size(reader->format->pb);
            uint64_t end = fileSize > 0 ? static_cast<uint64_t>(fileSize) : 0;
            if (cafData && cafData->StatesAudioBytes()) end = std::min(end, cafData->audioEnd());
            const uint64_t frameBytes = static_cast<uint64_t>(par->block_align);
            exact = (!isCaf || cafData) && frameBytes >= SampleFrameBytes(*par) && first >= 0 &&
                    first >= reader->audioStart && static_cast<uint64_t>(first) < end &&
                    stated <= (end - static_cast<uint64_t>(first)) / frameBytes &&
                    DeliversFrame(url, *reader->format, reader->stream, st->duration - 1,
                                  frameBytes);
        }

        cache_ = QFTempFile::Create("cache");
        if (!cache_) return kTempFileErr;
        reader_ = std::move(reader);
        if (exact) {
            if (stated > std::numeric_limits<uint32_t>::max()) {
                ReleaseReader();
                return kTooLargeErr;
            }
            numFrames_ = static_cast<uint32_t>(stated);
        } else {
            // Decoded once, whole, into the cache: the count is what it
            // delivers, never more than stored samples state.
            if (stated <= std::numeric_limits<uint32_t>::max()) reader_->statedFrames = stated;
            if (OSErr err = DecodeUntil(std::numeric_limits<uint64_t>::max())) {
                ReleaseReader();
                return err;
            }
            if (cachedFrames_ == 0) {
                ReleaseReader();
                return kMediaUnsupportedDataErr;
            }
            numFrames_ = static_cast<uint32_t>(cachedFrames_);
            // A stream that decodes to fewer frames than the container states
            // ends early. The frames a whole stream may fall short by: its
            // padding and the samples its packets say to skip, or two codec
            // frames, whichever is more. A codec frame is the codec's frame
            // size, else the largest frame decoded. A stream that delivered a
            // single frame shows no codec frame by it (that frame may be short
            // itself, as the one packet of a short file is, stated whole by
            // its container): its codec frame is the larger of that frame and
            // the longest packet the container states, and where the
            // container states no packet's duration it is not compared.
            // A Core Audio Format file of packets of one size states no
            // length of its own to the library, whose length follows the
            // packets left; its header's count is compared, and its codec
            // frame is one packet's frames, as a frame decoded from one is.
            const bool oneFrame = par->frame_size <= 0 && reader_->framesDelivered <= 1;
            const bool frameKnown = !oneFrame || reader_->largestPacket > 0;
            uint64_t stated =
                frameKnown ? StatedFrames(*reader_->format, *st, par->sample_rate) : 0;
            if (stated == 0) stated = CafHeaderFrames(*reader_->format, cafData, *st);
            const uint64_t padding = static_cast<uint64_t>(std::max(par->initial_padding, 0)) +
                                     static_cast<uint64_t>(std::max(par->trailing_padding, 0)) +
                                     reader_->skipSamples;
            uint64_t codecFrame = static_cast<uint64_t>(
                par->frame_size > 0 ? par->frame_size : reader_->largestFrame);
            if (oneFrame)
                codecFrame = std::max(codecFrame, static_cast<uint64_t>(reader_->largestPacket));
            const uint64_t tolerance = std::max(padding, 2 * codecFrame);
            if (stated > cachedFrames_ && stated - cachedFrames_ > tolerance)
                declaredFrames_ = static_cast<uint32_t>(
                    std::min<uint64_t>(stated, std::numeric_limits<uint32_t>::max()));
        }
        // A Core Audio Format file of stored samples may fall short of its
        // 'data' chunk by no frame, whatever gave the library its length: the
        // samples left, or a packet table, at which the read stops. Where its
        // header does not state the chunk's size, the length it states is its
        // packet table's packets (none without a table).
        if (!isCompressed_ && cafData) {
            const uint64_t header = cafData->StatesAudioBytes()
                                        ? CafDataFrames(cafData, *st)
                                        : StatedFrames(*reader_->format, *st, par->sample_rate);
            if (header > numFrames_)
                declaredFrames_ = static_cast<uint32_t>(
                    std::min<uint64_t>(header, std::numeric_limits<uint32_t>::max()));
        }
        firstBufferedFrame_ = 0;
        headerDirty_ = 0;
        open_ = true;
        return 0;
    } catch (const error_code_exception& e) {
        ReleaseReader();
        const OSErr err = static_cast<OSErr>(e.error_code());
        return err ? err : OSErr(kMediaUnsupportedDataErr);
    } catch (const std::bad_alloc&) {
        ReleaseReader();
        return kMemFullErr;
    } catch (...) {
        ReleaseReader();
        return kMediaUnsupportedDataErr;
    }
}

// Decodes into the cache until it holds `frames` frames or the stream ends.
// The stored count of a stream read lazily, and the stated length of stored
// samples decoded whole, are never exceeded; any other stream decoded whole
// may not pass 2^32 - 1 frames.
OSErr AVFoundationFile::DecodeUntil(uint64_t frames) {
    Reader& r = *reader_;
    const bool lazy = frames != std::numeric_limits<uint64_t>::max();
    const bool capped = lazy || r.statedFrames > 0;
    const uint64_t limit = lazy                 ? numFrames_
                           : r.statedFrames > 0 ? r.statedFrames
                                                : std::numeric_limits<uint32_t>::max();
    const uint64_t frameBytes = static_cast<uint64_t>(kBytesPerSample) * channels_;
    int errors = 0;
    while (cachedFrames_ < frames && !decodedToEnd_) {
        if (capped && cachedFrames_ >= limit) {
            decodedToEnd_ = true;
            break;
        }
        int rc = avcodec_receive_frame(r.decoder, r.frame);
        int got = 0;
        if (rc == 0) {
            if (r.frame->nb_samples <= 0) {
                av_frame_unref(r.frame);
                continue;
            }
            r.largestFrame = std::max(r.largestFrame, r.frame->nb_samples);
            ++r.framesDelivered;
            if (!r.Configure(r.frame)) {
                // A form the converter cannot take ends what can be read.
                av_frame_unref(r.frame);
                decodedToEnd_ = true;
                break;
            }
            const int want = swr_get_out_samples(r.swr, r.frame->nb_samples);
            if (want < 0) return kMediaUnsupportedDataErr;
            r.converted.resize(std::max(r.converted.size(), static_cast<size_t>(want) * channels_));
            uint8_t* out[1] = {reinterpret_cast<uint8_t*>(r.converted.data())};
            got = swr_convert(r.swr, out, want, const_cast<const uint8_t**>(r.frame->extended_data),
                              r.frame->nb_samples);
            av_frame_unref(r.frame);
        } else if (rc == AVERROR(EAGAIN)) {
            if (r.decoderFlushed) {
                decodedToEnd_ = true;
                break;
            }
            if (r.packetPending) {
                r.packetPending = false;
                rc = 0;
            } else {
                rc = av_read_frame(r.format, r.packet);
            }
            if (rc < 0) {
                avcodec_send_packet(r.decoder, nullptr);
                r.decoderFlushed = true;
                continue;
            }
            // A packet of a Core Audio Format file that lies in its 'data'
            // chunk's header or edit count is no audio.
            if (r.packet->stream_index == r.stream && r.packet->pos >= r.dataChunk &&
                r.packet->pos < r.audioStart) {
                av_packet_unref(r.packet);
                continue;
            }
            if (r.packet->stream_index == r.stream) {
                audioDataSize_ += r.packet->size;
                r.skipSamples += SkipSamplesOf(*r.packet);
                if (r.packet->duration > 0) {
                    const int64_t frames =
                        av_rescale_q(r.packet->duration, r.format->streams[r.stream]->time_base,
                                     AVRational{1, r.rate});
                    r.largestPacket = std::max(r.largestPacket, frames);
                }
                rc = avcodec_send_packet(r.decoder, r.packet);
                if (rc < 0 && rc != AVERROR_INVALIDDATA && rc != AVERROR(EAGAIN) &&
                    ++errors > kMaxDecodeErrors) {
                    av_packet_unref(r.packet);
                    decodedToEnd_ = true;
                    break;
                }
            }
            av_packet_unref(r.packet);
            continue;
        } else if (rc == AVERROR_EOF) {
            // What the converter still holds.
            if (r.swr) {
                const int want = swr_get_out_samples(r.swr, 0);
                if (want > 0) {
                    r.converted.resize(
                        std::max(r.converted.size(), static_cast<size_t>(want) * channels_));
                    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(r.converted.data())};
                    got = swr_convert(r.swr, out, want, nullptr, 0);
                }
            }
            decodedToEnd_ = true;
        } else {
            // A frame that did not decode is skipped, as the peers skip it.
            if (++errors > kMaxDecodeErrors) decodedToEnd_ = true;
            continue;
        }
        if (got <= 0) continue;
        uint64_t n = static_cast<uint64_t>(got);
        if (cachedFrames_ + n > limit) {
            if (!capped) return kTooLargeErr;
            n = limit - cachedFrames_;
        }
        const size_t samples = static_cast<size_t>(n) * channels_;
        r.packed.resize(std::max(r.packed.size(), samples * kBytesPerSample));
        PackUpper24(r.converted.data(), samples, r.packed.data());
        const size_t bytes = samples * kBytesPerSample;
        off_t at = static_cast<off_t>(cachedFrames_ * frameBytes);
        for (size_t done = 0; done < bytes;) {
            const ssize_t w = ::pwrite(cache_->fileDescriptor(), r.packed.data() + done,
                                       bytes - done, at + static_cast<off_t>(done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return (w == 0 || errno == ENOSPC || errno == EFBIG) ? kDiskFullErr : kIOErr;
            done += static_cast<size_t>(w);
        }
        cachedFrames_ += n;
    }
    return 0;
}

OSErr AVFoundationFile::RefreshInputBuffer(uint32_t frame) {
    // While the output is written, what was written is read back.
    if (GetTemporaryFile()) return RefreshTemporaryInput(frame);
    if (!open_ || !reader_ || !cache_) return kFileNotOpenBaseErr;
    if (!inputBuffer_) {
        if (OSErr err = InitInputBuffer()) return err;
    }
    const uint64_t frameBytes = static_cast<uint64_t>(kBytesPerSample) * channels_;
    const uint64_t want = frame < numFrames_ ? std::min<uint64_t>(bufferFrames_, numFrames_ - frame) : 0;
    try {
        if (want && cachedFrames_ < frame + want && !decodedToEnd_) {
            if (OSErr err = DecodeUntil(frame + want)) return err;
        }
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
    const uint64_t have = cachedFrames_ > frame ? std::min(want, cachedFrames_ - frame) : 0;
    // A stream read by its stated length that ends before it (its file
    // changed while it is read) fails: it is never filled up with silence.
    if (have < want) return kEOFErr;
    const size_t bytes = static_cast<size_t>(have * frameBytes);
    const off_t at = static_cast<off_t>(frame * frameBytes);
    for (size_t done = 0; done < bytes;) {
        const ssize_t n = ::pread(cache_->fileDescriptor(), inputBuffer_ + done, bytes - done,
                                  at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return kIOErr;
        done += static_cast<size_t>(n);
    }
    // The window's frames past the stream's end read as silence, never as the
    // last window.
    const size_t total = GetRealBufferSize();
    if (bytes < total) std::memset(inputBuffer_ + bytes, 0, total - bytes);
    firstBufferedFrame_ = frame;
    return 0;
}

OSErr AVFoundationFile::SetFilePos(uint32_t frame) {
    firstBufferedFrame_ = frame;
    return 0;
}

bool AVFoundationFile::SampleInBuffer(uint32_t frame) {
    CSoundFile* temp = GetTemporaryFile();
    if (!temp) return CSoundFile::SampleInBuffer(frame);
    if (!temp->GetInputBuffer()) return false;
    const uint32_t first = temp->GetFirstBufferedFrame();
    return first <= frame && static_cast<uint64_t>(frame) < static_cast<uint64_t>(first) + bufferFrames_;
}

OSErr AVFoundationFile::GetOfflineInfo(OSErr* status) {
    OSErr err = Open();
    if (err == 0 && status) *status = 0;
    const OSErr closed = Close();
    return err ? err : closed;
}

int64_t AVFoundationFile::AudioDataSize() {
    // Stored PCM read lazily has not been through the demuxer yet.
    if (!decodedToEnd_ && reader_ && reader_->blockAlign > 0)
        return static_cast<int64_t>(numFrames_) * reader_->blockAlign;
    return audioDataSize_;
}

std::string AVFoundationFile::GetDescription() {
    std::string prefix;
    switch (GetChannelConfiguration()) {
        case kLCR: prefix = "LCR "; break;
        case kQuad: prefix = "Quad "; break;
        case kLCRS: prefix = "LCRS "; break;
        case k50: prefix = "5.0 Surround "; break;
        case k51: prefix = "5.1 Surround "; break;
        case k60: prefix = "6.0 Surround "; break;
        case k61: prefix = "6.1 Surround "; break;
        case k71: prefix = "7.1 Surround "; break;
        case k102: prefix = "10.2 Surround "; break;
        default: break;
    }
    const std::string name = GetName();
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? std::string() : lower_case(name.substr(dot + 1));
    struct Entry {
        const char* extension;
        const char* text;
        bool keepPrefix;
    };
    static const Entry kEntries[] = {
        {"m4a", "MPEG-4 Audio", false},
        {"mp4", "MPEG-4 Audio", false},
        {"mpg", "MPEG-1 Layer 1 ('MPG')", false},
        {"mp2", "MPEG-1 Layer 2 ('MP2')", false},
        {"aif", "AIFC", true},
        {"wav", "Compressed Wave", true},
        {"caf", "Core Audio File", true},
        {"3gp", "GSM Mobile Phone Video", false},
        {"amr", "Adaptive Multi-Rate Speech Encoding for Mobile Phones", false},
        {"ogg", "Ogg Vorbis", false},
        {"wma", "Windows Media Audio", true},
        {"wmv", "Windows Media Video", true},
        {"flac", "FLAC", false},
    };
    std::string text = prefix;
    if (ext == "mp3") {
        text = sampleRate_ >= 32000 ? "MPEG-1 Layer III ('MP3')" : "MPEG-2 Layer III ('MP3')";
    } else {
        for (const Entry& e : kEntries) {
            if (ext == e.extension) {
                text = e.keepPrefix ? prefix + e.text : e.text;
                break;
            }
        }
    }
    return text.empty() ? "QuickTime Movie" : text;
}

// ---------------------------------------------------------------------------
// Writing

OSErr AVFoundationFile::CreateActual(short channels, short wordSize, float sampleRate, void*) {
    open_ = true;
    headerDirty_ = 1;
    sampleRate_ = sampleRate;
    channels_ = static_cast<uint32_t>(channels);
    cachedBitRate_ = static_cast<uint16_t>(std::max<short>(wordSize, 0));
    wordSize_ = 16;
    return 0;
}

OSErr AVFoundationFile::CloseActual() {
    open_ = false;
    headerDirty_ = 0;
    return 0;
}

OSErr AVFoundationFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                               const unsigned char* extension) {
    if (!CanBeWritten()) return kMediaTypeNotWritableErr;
    if (channels < 1 || channels > static_cast<short>(kMaxSoundFileChannels) ||
        !(sampleRate >= 1))
        return kParamErr;
    ReleaseReader();
    exportSource_ = nullptr;
    if (OSErr err = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
        return err;
    if (OSErr err = CreateActual(channels, wordSize, sampleRate, specifics)) return err;
    // The samples are collected in one exclusive, uniquely named file of the
    // temporary folder, at the depth the output keeps.
    const short depth = TemporaryWordSize();
    if (OSErr err = CreateTemporaryFileIn(TemporaryFolder(), kTempIdentifier, channels, depth,
                                          sampleRate)) {
        CloseActual();
        return err;
    }
    headerDirty_ = 1;
    return 0;
}

OSErr AVFoundationFile::Create(CSoundFile* source, short channels, short wordSize,
                               float sampleRate, void* specifics,
                               const unsigned char* extension) {
    if (!CanBeWritten()) return kMediaTypeNotWritableErr;
    if (!source || channels < 1 || channels > static_cast<short>(kMaxSoundFileChannels) ||
        !(sampleRate >= 1))
        return kParamErr;
    ReleaseReader();
    if (OSErr err =
            CCodedFile::Create(source, channels, wordSize, sampleRate, specifics, extension))
        return err;
    const uint32_t frames = numFrames_;
    if (OSErr err = CreateActual(channels, wordSize, sampleRate, specifics)) return err;
    numFrames_ = frames;
    exportSource_ = source;
    return 0;
}

OSErr AVFoundationFile::InitOutputBuffer() {
    if (!GetTemporaryFile()) return kTempFileErr;
    return CCodedFile::InitOutputBuffer();
}

OSErr AVFoundationFile::RefreshOutputBuffer(uint32_t frame) {
    return CCodedFile::RefreshOutputBuffer(frame);
}

AVFoundationFile::ExportFormat AVFoundationFile::GetExportFormat() {
    // AAC in an M4A container, at the recorded bit rate per channel.
    return {"ipod", "aac", static_cast<int64_t>(cachedBitRate_) * 1000 * channels_};
}

OSErr AVFoundationFile::ConvertToMovie() {
    try {
        CSoundFile* source = exportSource_;
        if (!source) {
            CSoundFile* temp = GetTemporaryFile();
            if (!temp) return kTempFileErr;
            // The temporary file is finished and read back as it stands on disk.
            DisposeBuffer();
            if (OSErr err = temp->Close()) return err;
            if (OSErr err = temp->Open()) return err;
            source = temp;
        }
        if (!source->IsOpen()) return kFileNotOpenBaseErr;
        const ExportFormat format = GetExportFormat();
        MediaExportSession session(source);
        session.SetOutputFileType(format.muxer);
        session.SetOutputPath(path_);
        MediaExportSession::AudioSettings settings;
        settings.encoder = format.encoder;
        settings.bitRate = format.bitRate;
        settings.channels = static_cast<int>(channels_);
        settings.sampleRate = static_cast<int>(sampleRate_ + 0.5);
        session.SetAudioSettings(settings);
        // Waits for the export's completion handler (and cancels the export
        // when this conversion is cancelled meanwhile).
        if (session.Export() == MediaExportSession::kStatusCompleted) return 0;
        const OSErr err = session.GetErrorCode();
        return err ? err : static_cast<OSErr>(kMediaExportFailedErr);
    } catch (const error_code_exception& e) {
        const OSErr err = static_cast<OSErr>(e.error_code());
        return err ? err : static_cast<OSErr>(kMediaExportFailedErr);
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    } catch (...) {
        return kMediaExportFailedErr;
    }
}

// Encodes when the output was written and is kept, then destroys the temporary
// file in every case.
OSErr AVFoundationFile::CloseWriting() {
    OSErr err = 0;
    if (headerDirty_ && !discardOnClose_) {
        headerDirty_ = 0;
        if (const unsigned char* text = EncodingStepText()) SetProgressStepWithoutSRC(text, 0);
        err = ConvertToMovie();
    }
    DestroyTemporaryFile();
    exportSource_ = nullptr;
    CloseActual();
    return err;
}

OSErr AVFoundationFile::Close() {
    OSErr err = 0;
    if (open_) {
        if (GetTemporaryFile() || exportSource_)
            err = CloseWriting();
        else
            CloseActual();
    }
    DestroyTemporaryFile();
    ReleaseReader();
    return err;
}
