#include "formats/pcm/wave_variants.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "formats/chunk_reader.h"
#include "formats/g711.h"
#include "soundfile/type_codes.h"

namespace {

constexpr uint32_t kFmt = FourCC("fmt ");
constexpr uint32_t kFmtCR = FourCC("fmt\r");
constexpr uint32_t kData = FourCC("data");
constexpr uint32_t kFact = FourCC("fact");
constexpr uint32_t kRIFF = FourCC("RIFF");

constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagALaw = 6;
constexpr uint16_t kTagMuLaw = 7;

// The sample rate as the format chunk stores it: truncated toward zero.
int32_t TruncatedRate(double rate) {
    if (!(rate == rate)) return 0;
    if (rate >= 2147483647.0) return INT32_MAX;
    if (rate <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(rate);
}

// The channel configuration a plain format chunk implies.
CSoundFile::ChannelConfiguration PlainConfiguration(uint32_t channels) {
    return channels == 1 ? CSoundFile::kMono
                         : channels == 2 ? CSoundFile::kStereo : CSoundFile::kMultichannel;
}

// 16-bit samples in the buffers are in the machine's byte order.
inline int16_t LoadSample(const unsigned char* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void StoreSample(unsigned char* p, int16_t v) { std::memcpy(p, &v, 2); }

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
    // Sample i takes bytes 2i and 2i + 1, never a code not yet read.
    for (uint64_t i = 0; i < samples; ++i) StoreSample(buffer + 2 * i, mulaw[codes[i]]);
}

void CWAVE_AuFile::SamplesToCodes(unsigned char* buffer, uint64_t samples) const {
    for (uint64_t i = 0; i < samples; ++i) buffer[i] = to_mulaw(LoadSample(buffer + 2 * i));
}

OSErr CWAVE_AuFile::WriteAt(uint32_t position, const void* data, int count) {
    if (OSErr err = XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(position))) return err;
    return XWQF::Write(forkRef_, &count, data);
}

OSErr CWAVE_AuFile::Readfmt() {
    uint32_t offset = 0, size = 0;
    OSErr err = LocateChunk(kFmt, 1, &offset, &size);
    if (err == kWAVENotFoundErr) err = LocateChunk(kFmtCR, 1, &offset, &size);
    if (err == kWAVENotFoundErr || err == kWAVEBadChunkSizeErr) return kWAVENoFormatErr;
    if (err) return err;
    uint8_t raw[24];
    if ((err = ReadAt(offset, raw, sizeof raw)) != 0) return err == kEOFErr ? OSErr(kWAVENoFormatErr) : err;
    const uint16_t tag = LoadLE16(raw + 8);
    if (tag != kTagALaw && tag != kTagMuLaw) return kWAVEUnsupportedDataErr;
    sampleRate_ = static_cast<double>(static_cast<int32_t>(LoadLE32(raw + 12)));
    channels_ = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(LoadLE16(raw + 10))));
    wordSize_ = 16;
    if ((err = CheckFormat()) != 0) return err;
    dataType_ = CodedDataType();
    SetChannelConfiguration(PlainConfiguration(channels_));

    // One byte per sample: the frame count is the data size over the channels.
    err = LocateChunk(kData, 1, &offset, &size);
    if (err == 0) {
        dataStart_ = offset + 8;
        numFrames_ = UsableDataSize(size, dataStart_) / channels_;
        return 0;
    }
    if (err != kWAVENotFoundErr) return err;
    // No sample data: the linear search says whether it is kept in a wave list.
    return ReadFrameCount();
}

OSErr CWAVE_AuFile::Writefmt(short formatTag) {
    const int32_t rate = TruncatedRate(sampleRate_);
    uint8_t raw[38] = {};
    StoreBE32(raw, kFmt);
    StoreLE32(raw + 4, 18);
    StoreLE16(raw + 8, static_cast<uint16_t>(formatTag));
    StoreLE16(raw + 10, static_cast<uint16_t>(channels_));
    StoreLE32(raw + 12, static_cast<uint32_t>(rate));
    StoreLE32(raw + 16, static_cast<uint32_t>(static_cast<int64_t>(channels_) * rate));
    StoreLE16(raw + 20, static_cast<uint16_t>(channels_));
    StoreLE16(raw + 22, 8);
    StoreLE16(raw + 24, 0);
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

OSErr CWAVE_AuFile::Close() {
    if (!IsOpen()) return kFileNotOpenErr;
    OSErr result = 0;
    if (headerDirty_) {
        const uint64_t bytes = static_cast<uint64_t>(numFrames_) * channels_;
        const uint64_t end = dataStart_ + bytes;
        if (end > static_cast<uint64_t>(XWQF::kMaxFileSize)) result = kFileBoundsErr;
        // An odd number of sample bytes is followed by a pad byte the size does not count.
        if (result == 0 && (bytes & 1)) {
            const uint8_t pad = 0;
            result = WriteAt(static_cast<uint32_t>(end), &pad, 1);
        }
        if (result == 0) result = WriteExtras();
        uint32_t offset = 0, size = 0;
        uint8_t raw[4];
        if (result == 0) result = LocateChunk(kData, 1, &offset, &size);
        if (result == 0) {
            StoreLE32(raw, static_cast<uint32_t>(bytes));
            result = WriteAt(offset + 4, raw, sizeof raw);
        }
        int length = 0;
        if (result == 0) result = XWQF::GetEOF(forkRef_, &length);
        if (result == 0) {
            result = ReadAt(0, raw, sizeof raw);
            if (result == kEOFErr || (result == 0 && LoadBE32(raw) != kRIFF)) result = kWAVENotFoundErr;
        }
        if (result == 0) {
            StoreLE32(raw, static_cast<uint32_t>(length - 8));
            result = WriteAt(4, raw, sizeof raw);
        }
        if (result == 0) result = LocateChunk(kFact, 1, &offset, &size);
        if (result == 0) {
            StoreLE32(raw, numFrames_);
            result = WriteAt(offset + 8, raw, sizeof raw);
        }
        if (result == 0) headerDirty_ = 0;
    }
    const OSErr closed = XWQF::CloseFork(forkRef_);
    if (closed == 0) {
        forkRef_ = XWQF::kNoFork;
        open_ = false;
        headerDirty_ = 0;
    }
    return result ? result : closed;
}

OSErr CWAVE_AuFile::SetFilePos(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenErr;
    uint64_t offset = 0, position = 0;
    if (!MulChecked(frame, channels_, &offset) || !AddChecked(dataStart_, offset, &position) ||
        position > static_cast<uint64_t>(XWQF::kMaxFileSize))
        return kFileBoundsErr;
    OSErr err = XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(position));
    if (err == kEOFErr) {
        err = SetEndOfFile(frame);
        if (err == 0) err = XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(position));
    }
    return err;
}

OSErr CWAVE_AuFile::SetEndOfFile(uint32_t frames) {
    if (!IsOpen()) return kFileNotOpenErr;
    uint64_t wanted = 0;
    if (!MulChecked(frames, channels_, &wanted) || !AddChecked(dataStart_, wanted, &wanted) ||
        wanted > static_cast<uint64_t>(XWQF::kMaxFileSize))
        return kFileBoundsErr;
    int length = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
    if (wanted > static_cast<uint64_t>(length)) {
        // Frames skipped over are silence, which is not the code 0.
        uint8_t piece[4096];
        std::memset(piece, SilenceCode(), sizeof piece);
        if (OSErr err = XWQF::SetPos(forkRef_, XWQF::kFromLEOF, 0)) return err;
        for (uint64_t left = wanted - static_cast<uint64_t>(length); left;) {
            int n = static_cast<int>(std::min<uint64_t>(left, sizeof piece));
            if (OSErr err = XWQF::Write(forkRef_, &n, piece)) return err;
            left -= static_cast<uint64_t>(n);
        }
    }
    numFrames_ = frames;
    return 0;
}

OSErr CWAVE_AuFile::UpdateSize() {
    if (!IsOpen()) return kFileNotOpenErr;
    int length = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
    if (channels_ == 0) return 0;
    const uint64_t bytes = static_cast<uint64_t>(length) > dataStart_ ? length - dataStart_ : 0;
    numFrames_ = static_cast<uint32_t>(bytes / channels_);
    return 0;
}

OSErr CWAVE_AuFile::ReadCodes(uint32_t frame, unsigned char* buffer) {
    const uint64_t bufferBytes = GetRealBufferSize();
    uint64_t samples = 0;
    if (frame < numFrames_) samples = std::min<uint64_t>(bufferFrames_, numFrames_ - frame) * channels_;
    samples = std::min<uint64_t>(samples, bufferBytes / 2);
    // The codes are read into the back half of the samples' room and widened
    // front to back, so no second block is needed.
    unsigned char* codes = buffer + samples;
    OSErr err = 0;
    int n = 0;
    if (samples) {
        n = static_cast<int>(samples);
        err = XWQF::Read(forkRef_, &n, codes);
        if (n < 0) n = 0;
    }
    const uint64_t got = std::min<uint64_t>(static_cast<uint64_t>(n), samples);
    CodesToSamples(buffer, codes, got);
    std::memset(buffer + 2 * got, 0, static_cast<size_t>(bufferBytes - 2 * got));
    return err;
}

OSErr CWAVE_AuFile::RefreshInputBuffer(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenErr;
    if (OSErr err = InitInputBuffer()) return err;
    if (!inputBuffer_) return kMemBlockMissingErr;
    OSErr err = frame < numFrames_ ? SetFilePos(frame) : OSErr(0);
    if (err == 0)
        err = ReadCodes(frame, inputBuffer_);
    else
        std::memset(inputBuffer_, 0, GetRealBufferSize());
    firstBufferedFrame_ = frame;
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

OSErr CWAVE_AuFile::FlushOutputBuffer(uint32_t frames, uint32_t position) {
    if (OSErr err = CSoundFile::FlushOutputBuffer(frames, position)) return err;
    if (!IsOpen()) return kFileNotOpenErr;
    if (!outputBuffer_ || frames > bufferFrames_) return kParamErr;
    if (OSErr err = SetFilePos(position)) return err;
    const uint64_t samples = static_cast<uint64_t>(frames) * channels_;
    SamplesToCodes(outputBuffer_, samples);
    int n = static_cast<int>(samples);
    if (OSErr err = XWQF::Write(forkRef_, &n, outputBuffer_)) return err;
    const uint64_t end = static_cast<uint64_t>(position) + frames;
    if (end > numFrames_) numFrames_ = static_cast<uint32_t>(std::min<uint64_t>(end, UINT32_MAX));
    return 0;
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
    for (uint64_t i = 0; i < samples; ++i) StoreSample(buffer + 2 * i, from_alaw(codes[i]));
}

void CWAVE_ALawFile::SamplesToCodes(unsigned char* buffer, uint64_t samples) const {
    for (uint64_t i = 0; i < samples; ++i) buffer[i] = to_alaw(LoadSample(buffer + 2 * i));
}

// ---------------------------------------------------------------------------
// 32-bit float

CWAVEFloatFile::~CWAVEFloatFile() {
    if (IsOpen()) Close();
}

OSType CWAVEFloatFile::GetFType() { return FourCC("WVfl"); }

std::string CWAVEFloatFile::GetDescription() { return "Wave 32 bits float (Samplitude)"; }

OSErr CWAVEFloatFile::Readfmt() {
    uint32_t offset = 0, size = 0;
    OSErr err = LocateChunk(kFmt, 1, &offset, &size);
    if (err == kWAVENotFoundErr) err = LocateChunk(kFmtCR, 1, &offset, &size);
    if (err == kWAVENotFoundErr || err == kWAVEBadChunkSizeErr) return kWAVENoFormatErr;
    if (err) return err;
    uint8_t raw[24];
    if ((err = ReadAt(offset, raw, sizeof raw)) != 0) return err == kEOFErr ? OSErr(kWAVENoFormatErr) : err;
    if (LoadLE16(raw + 8) != kTagFloat) return kWAVEUnsupportedDataErr;
    sampleRate_ = static_cast<double>(static_cast<int32_t>(LoadLE32(raw + 12)));
    channels_ = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(LoadLE16(raw + 10))));
    wordSize_ = static_cast<short>(LoadLE16(raw + 22));
    // Only single precision is turned into samples; 64-bit floats read as 32-bit
    // ones would be noise reported as success.
    if (wordSize_ != 32) return kWAVEUnsupportedDataErr;
    if ((err = CheckFormat()) != 0) return err;
    dataType_ = kDataTypeFloatLittleEndian;
    SetChannelConfiguration(PlainConfiguration(channels_));
    return ReadFrameCount();
}

OSErr CWAVEFloatFile::Writefmt() {
    const int32_t rate = TruncatedRate(sampleRate_);
    uint8_t raw[24] = {};
    StoreBE32(raw, kFmt);
    StoreLE32(raw + 4, 16);
    StoreLE16(raw + 8, kTagFloat);
    StoreLE16(raw + 10, static_cast<uint16_t>(channels_));
    StoreLE32(raw + 12, static_cast<uint32_t>(rate));
    StoreLE32(raw + 16, static_cast<uint32_t>(static_cast<int64_t>(4) * channels_ * rate));
    StoreLE16(raw + 20, static_cast<uint16_t>(4 * channels_));
    StoreLE16(raw + 22, 32);
    int n = sizeof raw;
    return XWQF::Write(forkRef_, &n, raw);
}

OSErr CWAVEFloatFile::WritefmtExtended() { return Writefmt(); }

OSErr CWAVEFloatFile::Create(short channels, short, float sampleRate, void* specifics,
                             const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    const OSErr err = CWAVEFile::Create(channels, 32, sampleRate, specifics, extension);
    // The buffers then hold 32-bit integers that the base turns into floats.
    if (IsOpen()) dataType_ = kDataTypeFloatLittleEndian;
    return err;
}
