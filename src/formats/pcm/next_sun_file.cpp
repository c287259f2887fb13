#include "formats/pcm/next_sun_file.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "formats/chunk_reader.h"
#include "formats/g711.h"
#include "soundfile/type_codes.h"

namespace {

constexpr uint32_t kMagic = FourCC(".snd");
constexpr uint32_t kInfo = FourCC("CORV");
// The data size of a header whose data is still being written: the format's
// "size unknown", so that a reader meanwhile takes what the file holds.
constexpr uint32_t kUnknownDataSize = 0xFFFFFFFF;
// The smallest data location there can be: the six fields before the info bytes.
constexpr uint32_t kMinDataLocation = 24;

void SwapBytes16(unsigned char* data, uint64_t samples) {
    if constexpr (std::endian::native == std::endian::little) {
        for (uint64_t i = 0; i < samples; ++i) std::swap(data[2 * i], data[2 * i + 1]);
    }
}

void SwapBytes24(unsigned char* data, uint64_t samples) {
    // Packed 24-bit samples are held least significant byte first on every machine.
    for (uint64_t i = 0; i < samples; ++i) std::swap(data[3 * i], data[3 * i + 2]);
}

void SwapBytes32(unsigned char* data, uint64_t samples) {
    if constexpr (std::endian::native == std::endian::little) {
        for (uint64_t i = 0; i < samples; ++i) {
            uint32_t v;
            std::memcpy(&v, data + 4 * i, 4);
            v = __builtin_bswap32(v);
            std::memcpy(data + 4 * i, &v, 4);
        }
    }
}

// The rate as the header's integer field: truncated, within the field's range.
int32_t RateField(double rate) {
    if (!(rate > 0)) return 0;
    if (rate >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(rate);
}

}  // namespace

// ---------------------------------------------------------------------------
// Life

CNeXTSunSoundFile::~CNeXTSunSoundFile() {
    if (IsOpen()) Close();
}

// ---------------------------------------------------------------------------
// The header

OSErr CNeXTSunSoundFile::ReadSNDSoundStruct() {
    if (forkRef_ < 0) return kFileNotOpenBaseErr;
    uint8_t h[kHeaderBytes];
    if (OSErr err = XWQF::SetPos(forkRef_, XWQF::kFromStart, 0)) return err;
    int n = sizeof h;
    if (OSErr err = XWQF::Read(forkRef_, &n, h)) return err;
    if (LoadBE32(h) != kMagic) return BadHeaderErr();

    const uint32_t location = LoadBE32(h + 4);
    const uint32_t dataSize = LoadBE32(h + 8);
    const uint32_t encoding = LoadBE32(h + 12);
    const int32_t rate = static_cast<int32_t>(LoadBE32(h + 16));
    const uint32_t channels = LoadBE32(h + 20);

    TakeEncoding(encoding);
    // Nothing below may divide by a channel count of 0 or take a rate that is none.
    if (channels == 0 || channels > kMaxSoundFileChannels || rate <= 0 ||
        location < kMinDataLocation || FileBytesPerSample() == 0)
        return BadHeaderErr();

    int length = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
    const uint64_t fileLength = static_cast<uint64_t>(length);

    channels_ = channels;
    sampleRate_ = rate;
    dataStart_ = location;

    // A data size of 0 (linear) or below 1 as a signed number (companded) means
    // that the size is not known: the data runs to the end of the file.
    const bool companded = StoredDataType() != kDataTypePCM;
    const bool sizeKnown = companded ? static_cast<int32_t>(dataSize) >= 1 : dataSize != 0;
    uint64_t bytes = sizeKnown ? dataSize : (fileLength > kHeaderBytes ? fileLength - kHeaderBytes : 0);
    // Only what the file holds after the data start counts.
    const uint64_t present = fileLength > location ? fileLength - location : 0;
    bytes = std::min(bytes, present);
    numFrames_ = static_cast<uint32_t>(bytes / FileBytesPerFrame());

    // A data start past the end of the file is where positioning fails.
    if (location > fileLength) return kEOFErr;
    return XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(location));
}

OSErr CNeXTSunSoundFile::WriteHeader(uint32_t dataSize) {
    uint8_t h[kHeaderBytes];
    StoreBE32(h, kMagic);
    StoreBE32(h + 4, dataStart_);
    StoreBE32(h + 8, dataSize);
    StoreBE32(h + 12, HeaderEncoding());
    StoreBE32(h + 16, static_cast<uint32_t>(RateField(sampleRate_)));
    StoreBE32(h + 20, channels_);
    StoreBE32(h + 24, kInfo);
    if (OSErr err = XWQF::SetPos(forkRef_, XWQF::kFromStart, 0)) return err;
    int n = sizeof h;
    return XWQF::Write(forkRef_, &n, h);
}

OSErr CNeXTSunSoundFile::WriteSNDSoundStruct() {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    return WriteHeader(static_cast<uint32_t>(std::min<uint64_t>(DataBytes(), UINT32_MAX)));
}

// ---------------------------------------------------------------------------
// Opening, creating, closing

OSErr CNeXTSunSoundFile::Open() {
    if (IsOpen()) return kFileBusyErr;
    FSRef ref{path_};
    if (OSErr err = XWQF::OpenFork(&ref, XWQF::kPermRead, &forkRef_)) return err;
    open_ = true;
    writable_ = false;
    if (OSErr err = ReadSNDSoundStruct()) return err;
    dataType_ = StoredDataType();
    return AddWholeFileRegion();
}

OSErr CNeXTSunSoundFile::GetOfflineInfo(OSErr* status) {
    if (status) *status = 0;
    // An object that is already open keeps its fork; the look is taken on a second one.
    const int savedFork = forkRef_;
    forkRef_ = XWQF::kNoFork;
    FSRef ref{path_};
    OSErr err = XWQF::OpenFork(&ref, XWQF::kPermRead, &forkRef_);
    if (err == 0) {
        err = ReadSNDSoundStruct();
        OSErr closeErr = XWQF::CloseFork(forkRef_);
        if (err == 0) err = closeErr;
    }
    forkRef_ = savedFork;
    return err;
}

OSErr CNeXTSunSoundFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                                const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (channels < 1 || static_cast<uint32_t>(channels) > kMaxSoundFileChannels) return kParamErr;
    const short size = WordSizeForCreate(wordSize);
    if (size == 0) return kNeXTIncompatibleWordSizeErr;
    if (!(sampleRate >= 1.0f) || !std::isfinite(sampleRate)) return kParamErr;
    if (OSErr err = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
        return err;
    FSRef ref;
    if (OSErr err = XWQF::CreateFile(path_, &ref)) return err;
    fileRef_ = ref;
    fileRefValid_ = true;
    if (OSErr err = XWQF::OpenFork(&fileRef_, XWQF::kPermWidest, &forkRef_)) return err;
    open_ = true;
    writable_ = true;
    headerDirty_ = 1;
    sampleRate_ = sampleRate;
    channels_ = static_cast<uint32_t>(channels);
    wordSize_ = size;
    dataType_ = StoredDataType();
    numFrames_ = 0;
    dataStart_ = kHeaderBytes;
    return WriteHeader(kUnknownDataSize);
}

OSErr CNeXTSunSoundFile::Close() {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    OSErr first = 0;
    if (headerDirty_ && writable_) {
        first = WriteSNDSoundStruct();
        headerDirty_ = 0;
    }
    OSErr err = XWQF::CloseFork(forkRef_);
    // The descriptor is released whatever close reports.
    forkRef_ = XWQF::kNoFork;
    open_ = false;
    writable_ = false;
    return first ? first : err;
}

// ---------------------------------------------------------------------------
// Positioning

OSErr CNeXTSunSoundFile::SetFilePos(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    uint64_t offset = 0, position = 0;
    if (!MulChecked(frame, FileBytesPerFrame(), &offset) ||
        !AddChecked(dataStart_, offset, &position) ||
        position > static_cast<uint64_t>(XWQF::kMaxFileSize))
        return kFileBoundsErr;
    OSErr err = XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(position));
    if (err == kEOFErr) {
        err = SetEndOfFile(frame);
        if (err == 0) err = XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(position));
    }
    return err;
}

OSErr CNeXTSunSoundFile::SetEndOfFile(uint32_t frames) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    uint64_t wanted = 0;
    if (!MulChecked(frames, FileBytesPerFrame(), &wanted) || !AddChecked(dataStart_, wanted, &wanted) ||
        wanted > static_cast<uint64_t>(XWQF::kMaxFileSize))
        return kFileBoundsErr;
    int length = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
    // The file only grows, with zero bytes.
    if (wanted > static_cast<uint64_t>(length)) {
        if (!writable_) return kWritePermErr;
        if (OSErr err = XWQF::SetEOF(forkRef_, static_cast<int>(wanted))) return err;
    }
    numFrames_ = frames;
    return 0;
}

OSErr CNeXTSunSoundFile::UpdateSize() {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    int length = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
    const uint64_t frameBytes = FileBytesPerFrame();
    if (frameBytes == 0) return 0;
    const uint64_t bytes = static_cast<uint64_t>(length) > dataStart_ ? length - dataStart_ : 0;
    numFrames_ = static_cast<uint32_t>(bytes / frameBytes);
    return 0;
}

// ---------------------------------------------------------------------------
// Buffers

OSErr CNeXTSunSoundFile::ReadBlock(uint32_t frame, unsigned char* buffer, bool position) {
    const uint64_t bufferBytes = GetRealBufferSize();
    const uint32_t fileBps = FileBytesPerSample();
    const uint32_t bufferBps = BufferBytesPerSample();
    uint64_t samples = 0;
    if (frame < numFrames_)
        samples = std::min<uint64_t>(bufferFrames_, numFrames_ - frame) * channels_;
    samples = std::min<uint64_t>(samples, bufferBps ? bufferBytes / bufferBps : 0);
    // Stored samples narrower than the buffer's are read into its back part and
    // widened front to back.
    unsigned char* stored = buffer + samples * (bufferBps - fileBps);
    OSErr err = 0;
    int n = 0;
    if (samples) {
        if (position) err = SetFilePos(frame);
        if (err == 0) {
            n = static_cast<int>(samples * fileBps);
            err = XWQF::Read(forkRef_, &n, stored);
        }
    }
    const uint64_t got = fileBps ? static_cast<uint64_t>(n) / fileBps : 0;
    StoredToBuffer(buffer, stored, got);
    std::memset(buffer + got * bufferBps, 0, static_cast<size_t>(bufferBytes - got * bufferBps));
    return err;
}

OSErr CNeXTSunSoundFile::RefreshInputBuffer(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (OSErr err = InitInputBuffer()) return err;
    if (!inputBuffer_) return kMemBlockMissingErr;
    OSErr err = ReadBlock(frame, inputBuffer_, true);
    firstBufferedFrame_ = frame;
    return err;
}

OSErr CNeXTSunSoundFile::RefreshOutputBuffer(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (OSErr err = InitOutputBuffer()) return err;
    if (!outputBuffer_) return kMemBlockMissingErr;
    // Positioning at a frame past the end extends the file up to it.
    if (OSErr err = SetFilePos(frame)) return err;
    OSErr err = ReadBlock(frame, outputBuffer_, false);
    return err == kEOFErr ? OSErr(0) : err;
}

OSErr CNeXTSunSoundFile::FlushOutputBuffer(uint32_t frames, uint32_t position) {
    if (OSErr err = CSoundFile::FlushOutputBuffer(frames, position)) return err;
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (!outputBuffer_ || frames > bufferFrames_) return kParamErr;
    if (!writable_) return kWritePermErr;
    if (OSErr err = SetFilePos(position)) return err;
    const uint64_t samples = static_cast<uint64_t>(frames) * channels_;
    BufferToStored(outputBuffer_, samples);
    int n = static_cast<int>(samples * FileBytesPerSample());
    if (OSErr err = XWQF::Write(forkRef_, &n, outputBuffer_)) return err;
    const uint64_t end = static_cast<uint64_t>(position) + frames;
    if (end > numFrames_) numFrames_ = static_cast<uint32_t>(std::min<uint64_t>(end, UINT32_MAX));
    return 0;
}

// ---------------------------------------------------------------------------
// Linear

OSType CNeXT_SUNFile::GetFType() { return FourCC("NxTS"); }

std::string CNeXT_SUNFile::GetDescription() { return "NeXT/Sun linear (.snd)"; }

uint32_t CNeXT_SUNFile::HeaderEncoding() const {
    switch (wordSize_) {
        case 8: return 2;
        case 16: return 3;
        case 24: return 4;
        case 32: return 5;
        default: return 0;  // never written: Create refuses other sizes
    }
}

void CNeXT_SUNFile::TakeEncoding(uint32_t encoding) {
    switch (encoding) {
        case 2: wordSize_ = 8; break;
        case 3: wordSize_ = 16; break;
        case 4: wordSize_ = 24; break;
        case 5: wordSize_ = 32; break;
        default: break;  // the word size stays as it was
    }
}

short CNeXT_SUNFile::WordSizeForCreate(short wordSize) const {
    return (wordSize == 8 || wordSize == 16 || wordSize == 24 || wordSize == 32) ? wordSize : 0;
}

void CNeXT_SUNFile::StoredToBuffer(unsigned char* buffer, const unsigned char*,
                                   uint64_t samples) const {
    // Same width in the file and the buffer: the samples are already in place.
    BufferToStored(buffer, samples);
}

void CNeXT_SUNFile::BufferToStored(unsigned char* buffer, uint64_t samples) const {
    switch (FileBytesPerSample()) {
        case 2: SwapBytes16(buffer, samples); break;
        case 3: SwapBytes24(buffer, samples); break;
        case 4: SwapBytes32(buffer, samples); break;
        default: break;  // 8-bit samples are signed bytes in both
    }
}

// ---------------------------------------------------------------------------
// A-law and µ-law

namespace {

inline void StoreSample(unsigned char* p, int16_t v) { std::memcpy(p, &v, 2); }
inline int16_t LoadSample(const unsigned char* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

}  // namespace

OSType CNeXTALawFile::GetFType() { return FourCC("NSAL"); }

std::string CNeXTALawFile::GetDescription() { return "NeXT/Sun A-law"; }

void CNeXTALawFile::StoredToBuffer(unsigned char* buffer, const unsigned char* stored,
                                   uint64_t samples) const {
    // Sample i goes to bytes 2i and 2i + 1, never past stored byte i still unread.
    for (uint64_t i = 0; i < samples; ++i) StoreSample(buffer + 2 * i, from_alaw(stored[i]));
}

void CNeXTALawFile::BufferToStored(unsigned char* buffer, uint64_t samples) const {
    for (uint64_t i = 0; i < samples; ++i) buffer[i] = to_alaw(LoadSample(buffer + 2 * i));
}

OSType CNeXTAUFile::GetFType() { return FourCC("ulaw"); }

std::string CNeXTAUFile::GetDescription() { return "NeXT/Sun \xCE\xBC-law (.au)"; }

void CNeXTAUFile::StoredToBuffer(unsigned char* buffer, const unsigned char* stored,
                                 uint64_t samples) const {
    for (uint64_t i = 0; i < samples; ++i) StoreSample(buffer + 2 * i, mulaw[stored[i]]);
}

void CNeXTAUFile::BufferToStored(unsigned char* buffer, uint64_t samples) const {
    for (uint64_t i = 0; i < samples; ++i) buffer[i] = to_mulaw(LoadSample(buffer + 2 * i));
}
