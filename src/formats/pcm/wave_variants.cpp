#include "formats/pcm/wave_variants.h"

#include <bit>
#include <cstring>

#include "formats/chunk_reader.h"
#include "formats/g711.h"
#include "formats/pcm/pcm_io.h"
#include "soundfile/type_codes.h"

namespace {

using namespace riff;

constexpr uint32_t kDoubleBytes = 8;

}  // namespace

// ---------------------------------------------------------------------------
// µ-law

CWAVE_AuFile::~CWAVE_AuFile() {
    // The base destructor would close with the linear sizes.
    if (IsOpen()) Close();
}

OSType CWAVE_AuFile::GetFType() { return FourCC("WVau"); }

std::string CWAVE_AuFile::GetDescription() { return "Wave \xCE\xBC-law"; }

uint8_t CWAVE_AuFile::SilenceCode() const { return to_mulaw(0); }

void CWAVE_AuFile::CodesToSamples(unsigned char* buffer, const unsigned char* codes,
                                  uint64_t samples) const {
    pcmio::MuLawToSamples(buffer, codes, samples);
}

void CWAVE_AuFile::SamplesToCodes(unsigned char* buffer, uint64_t samples) const {
    pcmio::SamplesToMuLaw(buffer, samples);
}

OSErr CWAVE_AuFile::Readfmt() {
    FormatFields fields;
    OSErr err = ReadPlainFormat(&fields);
    if (err) return err;
    // The extensible form names the coding in its sub-format.
    const uint16_t coding = CodingTag(fields);
    if (coding != kTagALaw && coding != kTagMuLaw) return kWAVEUnsupportedDataErr;
    if ((err = TakeFormat(fields, 16)) != 0) return err;
    dataType_ = CodedDataType();
    SetChannelConfiguration(pcmio::ConfigurationForChannels(channels_));

    // One byte per sample: the frame count is the data size over the channels.
    ChunkHeader data;
    err = LocateChunk(kData, 1, &data);
    if (err == 0) {
        dataStart_ = static_cast<uint32_t>(data.dataOffset());
        numFrames_ = UsableDataSize(data.size, dataStart_, channels_) / channels_;
        return 0;
    }
    if (err != kWAVENotFoundErr) return err;
    // No sample data: the linear search says whether it is kept in a wave list.
    return ReadFrameCount();
}

OSErr CWAVE_AuFile::Writefmt(short formatTag) {
    const int32_t rate = pcmio::TruncatedRate(sampleRate_);
    uint8_t raw[38] = {};
    StoreBE32(raw, kFmt);
    StoreLE32(raw + 4, 18);
    uint8_t* data = raw + 8;
    StoreLE16(data + kFormatTagAt, static_cast<uint16_t>(formatTag));
    StoreLE16(data + kChannelsAt, static_cast<uint16_t>(channels_));
    StoreLE32(data + kSampleRateAt, static_cast<uint32_t>(rate));
    StoreLE32(data + kBytesPerSecondAt, static_cast<uint32_t>(static_cast<int64_t>(channels_) * rate));
    StoreLE16(data + kBlockAlignAt, static_cast<uint16_t>(channels_));
    StoreLE16(data + kBitsPerSampleAt, 8);
    StoreLE16(data + kExtensionSizeAt, 0);
    StoreBE32(raw + 26, kFact);
    StoreLE32(raw + 30, 4);
    StoreLE32(raw + 34, numFrames_);
    int n = sizeof raw;
    return XWQF::Write(forkRef_, &n, raw);
}

OSErr CWAVE_AuFile::Writefmt() { return Writefmt(static_cast<short>(FormatTag())); }

OSErr CWAVE_AuFile::WritefmtExtended() { return Writefmt(static_cast<short>(FormatTag())); }

OSErr CWAVE_AuFile::Create(short channels, short, float sampleRate, void* specifics,
                           const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    const OSErr err = CWAVEFile::Create(channels, 16, sampleRate, specifics, extension);
    if (IsOpen()) dataType_ = CodedDataType();
    return err;
}

OSErr CWAVE_AuFile::FinishFile() {
    OSErr result = 0;
    const uint64_t bytes = static_cast<uint64_t>(numFrames_) * channels_;
    const uint64_t end = dataStart_ + bytes;
    if (end > static_cast<uint64_t>(XWQF::kMaxFileSize)) result = kFileBoundsErr;
    // An odd number of sample bytes is followed by a pad byte the size does not count.
    if (result == 0) result = pcmio::WritePadByte(forkRef_, dataStart_, bytes);
    if (result == 0) result = WriteExtras();
    ChunkHeader chunk;
    uint8_t raw[4];
    if (result == 0) result = LocateChunk(kData, 1, &chunk);
    if (result == 0) {
        StoreLE32(raw, static_cast<uint32_t>(bytes));
        result = pcmio::WriteAt(forkRef_, static_cast<uint32_t>(chunk.offset + 4), raw, sizeof raw);
    }
    int length = 0;
    if (result == 0) result = XWQF::GetEOF(forkRef_, &length);
    if (result == 0) {
        result = ReadAt(0, raw, sizeof raw);
        if (result == kEOFErr || (result == 0 && LoadBE32(raw) != kRIFF)) result = kWAVENotFoundErr;
    }
    if (result == 0) {
        StoreLE32(raw, static_cast<uint32_t>(length - 8));
        result = pcmio::WriteAt(forkRef_, 4, raw, sizeof raw);
    }
    if (result == 0) result = LocateChunk(kFact, 1, &chunk);
    if (result == 0) {
        StoreLE32(raw, numFrames_);
        result = pcmio::WriteAt(forkRef_, static_cast<uint32_t>(chunk.dataOffset()), raw, sizeof raw);
    }
    return result;
}

OSErr CWAVE_AuFile::ReadCodes(uint32_t frame, unsigned char* buffer) {
    const uint64_t bufferBytes = GetRealBufferSize();
    const uint64_t samples =
        pcmio::BlockExtent(frame, numFrames_, bufferFrames_, channels_, bufferBytes / 2);
    return pcmio::ReadWidened(forkRef_, buffer, bufferBytes, samples, 1, 2,
                              [this](unsigned char* to, const unsigned char* codes, uint64_t n) {
                                  CodesToSamples(to, codes, n);
                              });
}

OSErr CWAVE_AuFile::ReadFrames(uint32_t frame, unsigned char* buffer) {
    const OSErr err = frame < numFrames_ ? SetFilePos(frame) : OSErr(0);
    if (err == 0) return ReadCodes(frame, buffer);
    std::memset(buffer, 0, GetRealBufferSize());
    return err;
}

OSErr CWAVE_AuFile::RefreshOutputBuffer(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenErr;
    if (OSErr err = InitOutputBuffer()) return err;
    if (!outputBuffer_) return kMemBlockMissingErr;
    // Positioning past the end grows the file up to the frame.
    OSErr err = SetFilePos(frame);
    if (err == 0)
        err = ReadCodes(frame, outputBuffer_);
    else
        std::memset(outputBuffer_, 0, GetRealBufferSize());
    firstBufferedFrame_ = frame;
    return err == kEOFErr ? OSErr(0) : err;
}

// ---------------------------------------------------------------------------
// A-law

CWAVE_ALawFile::~CWAVE_ALawFile() {
    if (IsOpen()) Close();
}

OSType CWAVE_ALawFile::GetFType() { return FourCC("WVal"); }

std::string CWAVE_ALawFile::GetDescription() { return "Wave A-law"; }

uint8_t CWAVE_ALawFile::SilenceCode() const { return to_alaw(0); }

void CWAVE_ALawFile::CodesToSamples(unsigned char* buffer, const unsigned char* codes,
                                    uint64_t samples) const {
    pcmio::ALawToSamples(buffer, codes, samples);
}

void CWAVE_ALawFile::SamplesToCodes(unsigned char* buffer, uint64_t samples) const {
    pcmio::SamplesToALaw(buffer, samples);
}

// ---------------------------------------------------------------------------
// 32-bit float

CWAVEFloatFile::~CWAVEFloatFile() {
    if (IsOpen()) Close();
}

OSType CWAVEFloatFile::GetFType() { return FourCC("WVfl"); }

std::string CWAVEFloatFile::GetDescription() { return "Wave 32 bits float (Samplitude)"; }

OSErr CWAVEFloatFile::Readfmt() {
    FormatFields fields;
    OSErr err = ReadPlainFormat(&fields);
    if (err) return err;
    if (CodingTag(fields) != kTagFloat) return kWAVEUnsupportedDataErr;
    // Single and double precision both become 32-bit integers in the buffers.
    if (fields.wordSize != 32 && fields.wordSize != 64) return kWAVEUnsupportedDataErr;
    if ((err = TakeFormat(fields, 32)) != 0) return err;
    storedSampleBytes_ = fields.wordSize == 64 ? kDoubleBytes : 0;
    dataType_ = kDataTypeFloatLittleEndian;
    uint32_t mask = 0;
    if (fields.tag == kTagExtensible && ReadChannelMask(&mask) == 0)
        SetChannelConfiguration(ConfigurationForMask(mask));
    else
        SetChannelConfiguration(pcmio::ConfigurationForChannels(channels_));
    return ReadFrameCount();
}

OSErr CWAVEFloatFile::Writefmt() {
    const int32_t rate = pcmio::TruncatedRate(sampleRate_);
    uint8_t raw[24] = {};
    StoreBE32(raw, kFmt);
    StoreLE32(raw + 4, 16);
    uint8_t* data = raw + 8;
    StoreLE16(data + kFormatTagAt, kTagFloat);
    StoreLE16(data + kChannelsAt, static_cast<uint16_t>(channels_));
    StoreLE32(data + kSampleRateAt, static_cast<uint32_t>(rate));
    StoreLE32(data + kBytesPerSecondAt, static_cast<uint32_t>(static_cast<int64_t>(4) * channels_ * rate));
    StoreLE16(data + kBlockAlignAt, static_cast<uint16_t>(4 * channels_));
    StoreLE16(data + kBitsPerSampleAt, 32);
    int n = sizeof raw;
    return XWQF::Write(forkRef_, &n, raw);
}

OSErr CWAVEFloatFile::WritefmtExtended() { return WriteExtensibleFormat(kTagFloat); }

OSErr CWAVEFloatFile::Create(short channels, short, float sampleRate, void* specifics,
                             const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    const OSErr err = CWAVEFile::Create(channels, 32, sampleRate, specifics, extension);
    // The buffers then hold 32-bit integers that the base turns into floats.
    if (IsOpen()) dataType_ = kDataTypeFloatLittleEndian;
    return err;
}

OSErr CWAVEFloatFile::ReadFrames(uint32_t frame, unsigned char* buffer) {
    if (storedSampleBytes_ != kDoubleBytes) return CWAVEFile::ReadFrames(frame, buffer);
    return ReadDoubleFrames(frame, buffer, false, 2147483648.0);
}

OSErr CWAVEFloatFile::RefreshOutputBuffer(uint32_t frame) {
    if (storedSampleBytes_) return kWritePermErr;
    return CWAVEFile::RefreshOutputBuffer(frame);
}

OSErr CWAVEFloatFile::FlushOutputBuffer(uint32_t frames, uint32_t position) {
    if (storedSampleBytes_) return kWritePermErr;
    return CWAVEFile::FlushOutputBuffer(frames, position);
}
