#include "formats/pcm/caf_file.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "formats/chunk_reader.h"
#include "formats/pcm/caf_decoder.h"
#include "formats/pcm/pcm_io.h"
#include "soundfile/sample_conversion.h"
#include "soundfile/type_codes.h"

namespace {

// Apple Lossless writers use 4096 frames a packet; more than 16 times that is
// taken for damage (a decoded packet is held whole in memory).
constexpr uint32_t kMaxFramesPerPacket = 65536;
// Stored samples are read in pieces of this many bytes (at least one frame).
constexpr size_t kScratchBytes = 65536;
// Decoded samples are delivered with 24 bits, whatever bits the description
// gives a compressed sample (4 for IMA 4:1, 8 for µ-law, 0 for most).
constexpr short kCompressedWordSize = 24;
// Packets of a constant size are decoded in runs of about this many frames (at
// least a packet) where the decoder takes runs, so that tiny packets do not
// cost a decoder call each ...
constexpr uint32_t kUnitFrames = 4096;
// ... holding no more than this many bytes of packets ...
constexpr uint32_t kMaxUnitBytes = 1u << 20;
// ... and no more than this many decoded samples (4 MiB); a single packet of
// more is taken for damage.
constexpr uint64_t kMaxUnitSamples = 1u << 20;
// A decoder whose packets depend on the ones before starts this many frames
// ahead of a frame read out of sequence: more than the overlap, reservoir and
// filter memory of the codecs read need to settle.
constexpr uint32_t kPrerollFrames = 8192;

// The channel configuration a layout gives a file of three or more channels,
// and the layout whose order the channels are then delivered in (0: the file's).
struct LayoutRule {
    uint16_t layout;
    CSoundFile::ChannelConfiguration configuration;
    uint16_t client;
};

constexpr LayoutRule kLayoutRules[] = {
    {108, CSoundFile::kQuad, 0},
    {109, CSoundFile::k50, 118},
    {110, CSoundFile::k60, 139},
    // Three-channel layouts are delivered left, center, right, the order the
    // LCR configuration names its channels in.
    {113, CSoundFile::kLCR, 150},
    {114, CSoundFile::kLCR, 150},
    {131, CSoundFile::kLCR, 150},
    {150, CSoundFile::kLCR, 0},
    {115, CSoundFile::kLCRS, 116},
    {116, CSoundFile::kLCRS, 0},
    {117, CSoundFile::k50, 118},
    {118, CSoundFile::k50, 0},
    {119, CSoundFile::k50, 118},
    {120, CSoundFile::k50, 118},
    {121, CSoundFile::k51, 0},
    {122, CSoundFile::k51, 121},
    {123, CSoundFile::k51, 121},
    {124, CSoundFile::k51, 121},
    {125, CSoundFile::k61, 0},
    {126, CSoundFile::k71, 127},
    {127, CSoundFile::k71, 0},
    {128, CSoundFile::k71, 127},
    {129, CSoundFile::k71, 127},
    {132, CSoundFile::kQuad, 108},
    {139, CSoundFile::k60, 0},
    {141, CSoundFile::k60, 139},
    {142, CSoundFile::k61, 125},
};

// Full scale ±1.0 to the 32-bit range, toward zero; beyond it the ends, NaN 0.
inline int32_t FloatToSample(double x) { return pcmio::SaturatedInt32(x * 2147483648.0); }

// Samples as stored (`bytes` each) to the buffer form at `out`.
void StoredToBuffer(const unsigned char* in, unsigned char* out, uint64_t samples, uint32_t bytes,
                    bool isFloat, bool little) {
    switch (bytes) {
        case 1:
            std::memcpy(out, in, static_cast<size_t>(samples));
            break;
        case 2:
            for (uint64_t i = 0; i < samples; ++i) {
                const auto v =
                    static_cast<int16_t>(little ? LoadLE16(in + 2 * i) : LoadBE16(in + 2 * i));
                std::memcpy(out + 2 * i, &v, 2);
            }
            break;
        case 3:
            // Packed 24-bit samples of the buffers are least significant byte first.
            for (uint64_t i = 0; i < samples; ++i) {
                const unsigned char* p = in + 3 * i;
                unsigned char* q = out + 3 * i;
                q[0] = little ? p[0] : p[2];
                q[1] = p[1];
                q[2] = little ? p[2] : p[0];
            }
            break;
        case 4:
            for (uint64_t i = 0; i < samples; ++i) {
                const uint32_t bits = little ? LoadLE32(in + 4 * i) : LoadBE32(in + 4 * i);
                const int32_t v = isFloat ? FloatToSample(std::bit_cast<float>(bits))
                                          : static_cast<int32_t>(bits);
                std::memcpy(out + 4 * i, &v, 4);
            }
            break;
        case 8:
            for (uint64_t i = 0; i < samples; ++i) {
                const uint64_t bits = little ? LoadLE64(in + 8 * i) : LoadBE64(in + 8 * i);
                const int32_t v = FloatToSample(std::bit_cast<double>(bits));
                std::memcpy(out + 4 * i, &v, 4);
            }
            break;
        default:
            break;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Life

CafFile::CafFile() = default;

CafFile::~CafFile() {
    if (IsOpen()) Close();
}

OSType CafFile::GetFType() {
    return FourCC("caff");
}

std::string CafFile::GetDescription() {
    switch (GetChannelConfiguration()) {
        case kLCR:
            return "LCR Core Audio File (CAF)";
        case kQuad:
            return "Quad Core Audio File (CAF)";
        case kLCRS:
            return "LCRS Core Audio File (CAF)";
        case k50:
            return "5.0 Surround Core Audio File (CAF)";
        case k51:
            return "5.1 Surround Core Audio File (CAF)";
        case k60:
            return "6.0 Surround Core Audio File (CAF)";
        case k61:
            return "6.1 Surround Core Audio File (CAF)";
        case k71:
            return "7.1 Surround Core Audio File (CAF)";
        default:
            return "Core Audio File (CAF)";
    }
}

std::string CafFile::GetChannelName(short channel) {
    static const std::vector<std::vector<const char*>> kNames = {
        {"1"},
        {"Left", "Right"},
        {"Left", "Center", "Right"},
        {"Left", "Right", "Left Surround", "Right Surround"},
        {"Center", "Left", "Right", "Surround"},
        {"Left", "Right", "Left Surround", "Right Surround", "Center"},
        {"Left", "Right", "Center", "Lfe", "Left Surround", "Right Surround"},
        {"Left", "Right", "Left Surround", "Right Surround", "Center", "Center Surround"},
        {"Left", "Right", "Center", "Lfe", "Left Surround", "Right Surround", "Center Surround"},
        {"Center", "Left Center", "Right Center", "Left", "Right", "Left Surround",
         "Right Surround", "Lfe"},
    };
    const int configuration = GetChannelConfiguration();
    if (configuration < 0 || configuration >= static_cast<int>(kNames.size()))
        return CSoundFile::GetChannelName(channel);
    const std::vector<const char*>& names = kNames[static_cast<size_t>(configuration)];
    // The last name serves every higher index.
    const size_t index =
        std::min<size_t>(channel < 0 ? 0 : static_cast<size_t>(channel), names.size() - 1);
    return names[index];
}

// ---------------------------------------------------------------------------
// Opening and closing

OSErr CafFile::Open() {
    if (OSErr err = OpenStream()) return err;
    return AddWholeFileRegion();
}

OSErr CafFile::OpenStream() {
    if (IsOpen()) return kFileBusyErr;
    FSRef ref{path_};
    if (OSErr err = XWQF::OpenFork(&ref, XWQF::kPermRead, &forkRef_)) {
        forkRef_ = XWQF::kNoFork;
        return err;
    }
    open_ = true;
    writable_ = false;
    declaredFrames_ = 0;
    compressed_ = false;
    format_ = nullptr;
    reorder_ = false;
    clientTag_ = 0;
    ForgetInputBlock();

    OSErr err = 0;
    source_ = std::make_unique<ForkSource>(forkRef_);
    caf::FileLayout layout;
    if ((err = source_->status()) == 0) err = caf::ReadFileLayout(*source_, &layout);
    if (err == 0) {
        const caf::StreamDescription& d = layout.description;
        if (!(d.sampleRate > 0) || !std::isfinite(d.sampleRate) || d.channelsPerFrame == 0 ||
            d.channelsPerFrame > kMaxSoundFileChannels)
            err = kNotASoundFileErr;
    }
    if (err == 0) {
        sampleRate_ = layout.description.sampleRate;
        channels_ = layout.description.channelsPerFrame;
        dataType_ = kDataTypePCM;
        switch (layout.description.formatID) {
            case caf::kFormatLinearPCM:
                err = TakeLinearDescription(layout.description, layout.audioBytes,
                                            layout.statedAudioBytes);
                dataStart_ = static_cast<uint32_t>(layout.audioStart);
                break;
            default:
                err = TakeCompressedStream(layout);
                break;
        }
    }
    if (err == 0) err = TakeChannelLayout(layout);
    if (err) CloseStream();
    return err;
}

OSErr CafFile::TakeLinearDescription(const caf::StreamDescription& d, uint64_t audioBytes,
                                     uint64_t statedBytes) {
    storedFloat_ = (d.formatFlags & caf::kFlagFloat) != 0;
    storedLittleEndian_ = (d.formatFlags & caf::kFlagLittleEndian) != 0;
    const uint32_t bits = d.bitsPerChannel;
    const bool usable = storedFloat_ ? (bits == 32 || bits == 64)
                                     : (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    // One frame a packet, packed samples.
    if (!usable || d.framesPerPacket != 1 ||
        static_cast<uint64_t>(d.bytesPerPacket) != static_cast<uint64_t>(channels_) * (bits / 8))
        return kNotASoundFileErr;
    storedSampleBytes_ = bits / 8;
    // Float samples come into the buffers as 32-bit integers.
    wordSize_ = static_cast<short>(storedFloat_ ? 32 : bits);
    numFrames_ = static_cast<uint32_t>(audioBytes / FileBytesPerFrame());
    // The stated size is below the largest file: its frames fit in 32 bits.
    const uint64_t stated = statedBytes / FileBytesPerFrame();
    if (stated > numFrames_) declaredFrames_ = static_cast<uint32_t>(stated);
    scratch_.assign(kScratchBytes, 0);
    return 0;
}

OSErr CafFile::TakeCompressedStream(const caf::FileLayout& layout) {
    const caf::StreamDescription& d = layout.description;
    format_ = caf::FindCompressedFormat(d.formatID);
    if (!format_) return kNotASoundFileErr;
    // Packets of one size (no table needed), or a table of their sizes.
    const bool constant = d.bytesPerPacket != 0;
    if (d.framesPerPacket == 0 || d.framesPerPacket > kMaxFramesPerPacket ||
        static_cast<uint64_t>(d.framesPerPacket) * channels_ > kMaxUnitSamples ||
        d.bytesPerPacket > caf::kMaxPacketBytes || (!constant && !layout.packetTable.present) ||
        (layout.cookie.present && layout.cookie.bytes > caf::kMaxCookieBytes))
        return kNotASoundFileErr;
    std::vector<uint8_t> cookie;
    if (layout.cookie.present) {
        cookie.resize(static_cast<size_t>(layout.cookie.bytes));
        if (OSErr err = source_->ReadAt(layout.cookie.offset, cookie.data(), cookie.size()))
            return err;
    }
    if (layout.packetTable.present) {
        if (OSErr err = packetTable_.Read(*source_, layout.packetTable, layout.audioBytes))
            return err;
    } else {
        packetTable_ = caf::PacketTable();
    }
    decoder_ = std::make_unique<caf::PacketDecoder>();
    if (OSErr err = decoder_->Open(*format_, cookie, d)) return err;

    compressed_ = true;
    wordSize_ = kCompressedWordSize;
    audioStart_ = layout.audioStart;
    bytesPerPacket_ = d.bytesPerPacket;
    framesPerPacket_ = d.framesPerPacket;
    primingFrames_ = static_cast<uint32_t>(packetTable_.primingFrames());
    if (constant) packets_ = layout.audioBytes / bytesPerPacket_;
    if (constant && format_->takesRuns) {
        const uint64_t byFrames = std::max<uint32_t>(1, kUnitFrames / framesPerPacket_);
        const uint64_t bySamples = kMaxUnitSamples / (static_cast<uint64_t>(framesPerPacket_) * channels_);
        const uint64_t byBytes = std::max<uint32_t>(1, kMaxUnitBytes / bytesPerPacket_);
        packetsPerUnit_ = static_cast<uint32_t>(std::min({byFrames, bySamples, byBytes}));
    } else {
        if (!constant) packets_ = packetTable_.packets();
        packetsPerUnit_ = 1;
    }
    framesPerUnit_ = packetsPerUnit_ * framesPerPacket_;
    prerollUnits_ =
        format_->standsAlone ? 0 : (kPrerollFrames + framesPerUnit_ - 1) / framesPerUnit_;
    const uint64_t unitBytes = constant ? static_cast<uint64_t>(packetsPerUnit_) * bytesPerPacket_
                                        : packetTable_.largestPacket();
    packetBytes_.assign(static_cast<size_t>(unitBytes) + caf::PacketDecoder::Padding(), 0);
    decoded_.assign(static_cast<size_t>(framesPerUnit_) * channels_, 0);
    decodedUnit_ = UINT64_MAX;
    decodedFrames_ = 0;
    nextUnit_ = 0;

    // The frames are those of the packets less the priming frames. The last
    // packet of a table, often short where packets stand alone, is decoded to
    // learn its length. The table's count of valid frames, when given, may
    // only shorten that.
    uint64_t frames = packets_ * framesPerPacket_;
    if (packets_ && !constant && format_->standsAlone) {
        if (OSErr err = DecodeUnit(packets_ - 1)) return err;
        frames = (packets_ - 1) * framesPerPacket_ + decodedFrames_;
    }
    frames = frames > primingFrames_ ? frames - primingFrames_ : 0;
    if (packetTable_.validFrames() > 0)
        frames = std::min(frames, static_cast<uint64_t>(packetTable_.validFrames()));
    if (frames > UINT32_MAX) return kFileBoundsErr;
    numFrames_ = static_cast<uint32_t>(frames);

    // Packets the header states that the file does not hold: the frames they
    // would have given, as the table counts them when it does.
    const uint64_t statedPackets =
        constant ? layout.statedAudioBytes / bytesPerPacket_ : packetTable_.declaredPackets();
    if (statedPackets > packets_) {
        uint64_t stated = static_cast<uint64_t>(packetTable_.validFrames());
        if (stated == 0) {
            const uint64_t trimmed = static_cast<uint64_t>(primingFrames_) +
                                     static_cast<uint64_t>(packetTable_.remainderFrames());
            // A count beyond any file's is held at 2^63 frames.
            const uint64_t all = statedPackets > UINT64_MAX / 2 / framesPerPacket_
                                     ? UINT64_MAX / 2
                                     : statedPackets * framesPerPacket_;
            stated = all > trimmed ? all - trimmed : 0;
        }
        if (stated > numFrames_)
            declaredFrames_ = static_cast<uint32_t>(std::min<uint64_t>(stated, UINT32_MAX));
    }
    return 0;
}

OSErr CafFile::TakeChannelLayout(const caf::FileLayout& layout) {
    if (channels_ <= 2) {
        SetChannelConfiguration(pcmio::ConfigurationForChannels(channels_));
        return 0;
    }
    // Channels some decoders order themselves come in that order, whatever
    // layout the file names.
    uint32_t tag = 0;
    if (compressed_ && format_->decoderOrder) {
        tag = decoder_->DecodedLayoutTag();
    } else if (layout.channelLayout.present) {
        tag = layout.channelLayout.tag;
        if (tag == kAudioChannelLayoutTag_UseChannelDescriptions &&
            layout.channelLayout.descriptions == 0)
            return kNoCAFChannelLayoutErr;
    }
    ChannelConfiguration configuration = kMultichannel;
    uint16_t client = 0;
    // A layout of another channel count does not describe the file.
    if ((tag & 0xFFFF) == channels_) {
        for (const LayoutRule& rule : kLayoutRules) {
            if (rule.layout == tag >> 16) {
                configuration = rule.configuration;
                client = rule.client;
                break;
            }
        }
    }
    SetChannelConfiguration(configuration);
    if (client && caf::ChannelPermutation(tag, LayoutTag(client, channels_), &permutation_)) {
        reorder_ = true;
        clientTag_ = LayoutTag(client, channels_);
    }
    return 0;
}

OSErr CafFile::GetOfflineInfo(OSErr* status) {
    if (status) *status = 0;
    // An open file is described already.
    if (IsOpen()) return 0;
    if (OSErr err = OpenStream()) return err;
    return CloseStream();
}

OSErr CafFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                      const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (channels < 1 || static_cast<uint32_t>(channels) > kMaxSoundFileChannels) return kParamErr;
    // Samples are written in whole bytes only.
    if (wordSize > 8 && wordSize < 32 && wordSize % 8 != 0) return kCafUnsupportedWordSizeErr;
    if (wordSize != 8 && wordSize != 16 && wordSize != 24 && wordSize != 32)
        return kIllegalWordSizeErr;
    if (!(sampleRate > 0) || !std::isfinite(sampleRate)) return kParamErr;
    // The base extends the name and records the output: that path is created.
    if (OSErr err = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
        return err;
    if (OSErr err = CreateDataFork(channels, wordSize, sampleRate)) return err;
    writable_ = true;
    compressed_ = false;
    reorder_ = false;
    clientTag_ = 0;
    ForgetInputBlock();
    SetSampleRate(sampleRate);
    dataType_ = kDataTypePCM;
    storedSampleBytes_ = static_cast<uint32_t>(wordSize / 8);
    storedFloat_ = false;
    storedLittleEndian_ = false;
    dataStart_ = caf::kWrittenHeaderBytes;
    scratch_.assign(kScratchBytes, 0);
    // Until Close the data runs to the end of the file, so that a reader
    // meanwhile takes what the file holds.
    const auto header =
        caf::MakeHeader(sampleRate_, channels_, static_cast<uint32_t>(wordSize_), caf::kSizeToEnd);
    OSErr err = pcmio::WriteAt(forkRef_, 0, header.data(), static_cast<int>(header.size()));
    if (err) CloseStream();
    return err;
}

OSErr CafFile::Close() {
    if (!IsOpen()) return 0;
    OSErr first = 0;
    if (writable_) {
        const auto header = caf::MakeHeader(
            sampleRate_, channels_, static_cast<uint32_t>(wordSize_),
            static_cast<int64_t>(static_cast<uint64_t>(numFrames_) * FileBytesPerFrame()));
        first = pcmio::WriteAt(forkRef_, 0, header.data(), static_cast<int>(header.size()));
        headerDirty_ = 0;
    }
    const OSErr err = CloseStream();
    return first ? first : err;
}

OSErr CafFile::CloseStream() {
    OSErr err = 0;
    source_.reset();
    decoder_.reset();
    if (forkRef_ != XWQF::kNoFork) err = XWQF::CloseFork(forkRef_);
    // The descriptor is released whatever close reports.
    forkRef_ = XWQF::kNoFork;
    open_ = false;
    writable_ = false;
    ForgetInputBlock();
    scratch_ = {};
    packetBytes_ = {};
    decoded_ = {};
    decodedUnit_ = UINT64_MAX;
    nextUnit_ = UINT64_MAX;
    return err;
}

// ---------------------------------------------------------------------------
// Positioning

OSErr CafFile::SetFilePos(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    // Packets are found by frame when they are read.
    if (compressed_) return frame <= numFrames_ ? OSErr(0) : OSErr(kEOFErr);
    return pcmio::SeekFrame(forkRef_, dataStart_, FileBytesPerFrame(), frame,
                            [this](uint32_t end) { return SetEndOfFile(end); });
}

OSErr CafFile::SetEndOfFile(uint32_t frames) {
    // The file only grows, with zero samples, and only when this object made it.
    if (OSErr err =
            pcmio::ExtendToFrames(forkRef_, dataStart_, FileBytesPerFrame(), frames, 0, writable_))
        return err;
    numFrames_ = std::max(numFrames_, frames);
    return 0;
}

// ---------------------------------------------------------------------------
// Reading

OSErr CafFile::ReadLinear(uint32_t frame, uint32_t frames, unsigned char* buffer, uint32_t* got) {
    *got = 0;
    if (frames == 0) return 0;
    if (OSErr err = SetFilePos(frame)) return err;
    const uint64_t fileFrame = FileBytesPerFrame();
    const uint64_t bufferFrame = static_cast<uint64_t>(BufferBytesPerSample()) * channels_;
    const uint64_t piece = std::max<uint64_t>(1, scratch_.size() / fileFrame);
    if (scratch_.size() < fileFrame) return kMemFullErr;
    while (*got < frames) {
        const uint64_t n = std::min<uint64_t>(piece, frames - *got);
        int count = static_cast<int>(n * fileFrame);
        const OSErr err = XWQF::Read(forkRef_, &count, scratch_.data());
        const uint64_t whole = count > 0 ? static_cast<uint64_t>(count) / fileFrame : 0;
        StoredToBuffer(scratch_.data(), buffer + *got * bufferFrame, whole * channels_,
                       storedSampleBytes_, storedFloat_, storedLittleEndian_);
        *got += static_cast<uint32_t>(whole);
        if (err) return err;
        if (whole < n) return kEOFErr;
    }
    return 0;
}

OSErr CafFile::LocateUnit(uint64_t unit, uint64_t* offset, uint32_t* bytes,
                          uint32_t* packets) {
    if (bytesPerPacket_ == 0) {
        *packets = 1;
        return packetTable_.Locate(*source_, unit, offset, bytes);
    }
    const uint64_t first = unit * packetsPerUnit_;
    if (first >= packets_) return kParamErr;
    *packets = static_cast<uint32_t>(std::min<uint64_t>(packetsPerUnit_, packets_ - first));
    *offset = first * bytesPerPacket_;
    *bytes = *packets * bytesPerPacket_;
    return 0;
}

OSErr CafFile::DecodeUnitAlone(uint64_t unit) {
    decodedUnit_ = UINT64_MAX;
    decodedFrames_ = 0;
    uint64_t offset = 0;
    uint32_t bytes = 0, packets = 0;
    if (OSErr err = LocateUnit(unit, &offset, &bytes, &packets)) return err;
    if (bytes > packetBytes_.size() - caf::PacketDecoder::Padding()) return caf::kBadChunkSizeErr;
    if (OSErr err = source_->ReadAt(audioStart_ + offset, packetBytes_.data(), bytes)) return err;
    std::fill(packetBytes_.begin() + bytes, packetBytes_.end(), uint8_t{0});
    if (OSErr err = decoder_->Decode(packetBytes_.data(), bytes, decoded_.data(),
                                     packets * framesPerPacket_, &decodedFrames_))
        return err;
    decodedUnit_ = unit;
    return 0;
}

OSErr CafFile::DecodeUnit(uint64_t unit) {
    if (unit == decodedUnit_) return 0;
    if (format_->standsAlone) return DecodeUnitAlone(unit);
    // Straight on when the unit lies a short way ahead of the decoder, else
    // from a fresh decoder some units before it (from the first unit when it
    // lies that near the start, so that reading from the start gives every
    // sample as the decoder makes it reading on).
    uint64_t first = nextUnit_;
    if (nextUnit_ == UINT64_MAX || unit < nextUnit_ || unit - nextUnit_ > prerollUnits_) {
        first = unit > prerollUnits_ ? unit - prerollUnits_ : 0;
        if (OSErr err = decoder_->Reset()) return err;
    }
    nextUnit_ = UINT64_MAX;
    for (uint64_t u = first; u <= unit; ++u)
        if (OSErr err = DecodeUnitAlone(u)) return err;
    nextUnit_ = unit + 1;
    return 0;
}

OSErr CafFile::ReadCompressed(uint32_t frame, uint32_t frames, unsigned char* buffer,
                              uint32_t* got) {
    *got = 0;
    const size_t channels = channels_;
    while (*got < frames) {
        const uint64_t at = static_cast<uint64_t>(frame) + *got + primingFrames_;
        const uint64_t unit = at / framesPerUnit_;
        const auto within = static_cast<uint32_t>(at % framesPerUnit_);
        if (OSErr err = DecodeUnit(unit)) return err;
        const uint32_t n = std::min(frames - *got, framesPerUnit_ - within);
        // A unit that decodes short is followed by silence up to its slot's end.
        const uint32_t have = within < decodedFrames_ ? std::min(n, decodedFrames_ - within) : 0;
        unsigned char* out = buffer + static_cast<size_t>(*got) * channels * 3;
        const int32_t* in = decoded_.data() + static_cast<size_t>(within) * channels;
        for (size_t i = 0; i < static_cast<size_t>(have) * channels; ++i)
            Long2TwentyFour(in[i], out + 3 * i);
        std::memset(out + static_cast<size_t>(have) * channels * 3, 0,
                    static_cast<size_t>(n - have) * channels * 3);
        *got += n;
    }
    return 0;
}

void CafFile::Reorder(unsigned char* buffer, uint32_t frames) const {
    const size_t bytes = BufferBytesPerSample();
    const size_t frameBytes = bytes * channels_;
    unsigned char frame[caf::kMaxOrderedChannels * 4];
    if (frameBytes > sizeof frame) return;
    for (uint32_t f = 0; f < frames; ++f) {
        unsigned char* p = buffer + f * frameBytes;
        std::memcpy(frame, p, frameBytes);
        for (size_t c = 0; c < channels_; ++c)
            std::memcpy(p + c * bytes, frame + permutation_[c] * bytes, bytes);
    }
}

OSErr CafFile::RefreshInputBuffer(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (OSErr err = InitInputBuffer()) return err;
    if (!inputBuffer_) return kMemBlockMissingErr;
    // The block already held is not read again.
    if (inputHeld_ && heldBuffer_ == inputBuffer_ && frame == firstBufferedFrame_) return 0;
    ForgetInputBlock();
    const uint32_t wanted = frame < numFrames_ ? std::min(bufferFrames_, numFrames_ - frame) : 0;
    uint32_t got = 0;
    const OSErr err = compressed_ ? ReadCompressed(frame, wanted, inputBuffer_, &got)
                                  : ReadLinear(frame, wanted, inputBuffer_, &got);
    const uint64_t frameBytes = static_cast<uint64_t>(BufferBytesPerSample()) * channels_;
    const uint64_t bufferBytes = GetRealBufferSize();
    const uint64_t filled = std::min<uint64_t>(got * frameBytes, bufferBytes);
    std::memset(inputBuffer_ + filled, 0, static_cast<size_t>(bufferBytes - filled));
    if (reorder_) Reorder(inputBuffer_, got);
    firstBufferedFrame_ = frame;
    if (err == 0) {
        inputHeld_ = true;
        heldBuffer_ = inputBuffer_;
    }
    return err;
}

// ---------------------------------------------------------------------------
// Writing

OSErr CafFile::InitOutputBuffer() {
    // The block may take over the input buffer's memory.
    ForgetInputBlock();
    return CSoundFile::InitOutputBuffer();
}

void CafFile::DisposeBuffer() {
    ForgetInputBlock();
    CSoundFile::DisposeBuffer();
}

OSErr CafFile::RefreshOutputBuffer(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (!writable_) return kWritePermErr;
    if (OSErr err = InitOutputBuffer()) return err;
    if (!outputBuffer_) return kMemBlockMissingErr;
    // Positioning at a frame past the end extends the file up to it.
    if (OSErr err = SetFilePos(frame)) return err;
    // The frames written there already come back, so that a block can be
    // written a channel at a time.
    const uint32_t wanted = frame < numFrames_ ? std::min(bufferFrames_, numFrames_ - frame) : 0;
    uint32_t got = 0;
    const OSErr err = ReadLinear(frame, wanted, outputBuffer_, &got);
    const uint64_t bufferBytes = GetRealBufferSize();
    const uint64_t filled = std::min<uint64_t>(
        static_cast<uint64_t>(got) * BufferBytesPerSample() * channels_, bufferBytes);
    std::memset(outputBuffer_ + filled, 0, static_cast<size_t>(bufferBytes - filled));
    return err;
}

OSErr CafFile::FlushOutputBuffer(uint32_t frames, uint32_t position) {
    if (OSErr err = CSoundFile::FlushOutputBuffer(frames, position)) return err;
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (!outputBuffer_ || frames > bufferFrames_) return kParamErr;
    if (!writable_) return kWritePermErr;
    ForgetInputBlock();
    if (OSErr err = SetFilePos(position)) return err;
    const uint64_t samples = static_cast<uint64_t>(frames) * channels_;
    // 8-bit samples are signed bytes in both forms.
    pcmio::SwapBigEndianSamples(outputBuffer_, samples, storedSampleBytes_);
    return pcmio::WriteFrames(forkRef_, outputBuffer_, samples * storedSampleBytes_, position,
                              frames, &numFrames_);
}
