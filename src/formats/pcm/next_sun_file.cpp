#include "formats/pcm/next_sun_file.h"

#include <algorithm>
#include <cmath>

#include "formats/chunk_reader.h"
#include "formats/g711.h"
#include "formats/pcm/pcm_io.h"
#include "soundfile/type_codes.h"

namespace {

constexpr uint32_t kMagic = FourCC(".snd");
constexpr uint32_t kInfo = FourCC("CORV");
// The data size of a header whose data is still being written: the format's
// "size unknown", so that a reader meanwhile takes what the file holds.
constexpr uint32_t kUnknownDataSize = 0xFFFFFFFF;
// The smallest data location there can be: the six fields before the info bytes.
constexpr uint32_t kMinDataLocation = 24;

// The rate as the header's integer field: truncated, within the field's range.
int32_t RateField(double rate) {
    if (!(rate > 0)) return 0;
    if (rate >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(rate);
}

}  // namespace

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
    // A size given as all ones is a writer's "not known" too; any other size
    // larger than the data present is what the header promised.
    declaredFrames_ = 0;
    if (sizeKnown && dataSize != UINT32_MAX && bytes > present)
        declaredFrames_ = static_cast<uint32_t>(bytes / FrameBytes());
    bytes = std::min(bytes, present);
    numFrames_ = static_cast<uint32_t>(bytes / FrameBytes());

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
    if (OSErr err = OpenForReading()) return err;
    if (OSErr err = ReadSNDSoundStruct()) return err;
    dataType_ = StoredDataType();
    return AddWholeFileRegion();
}

OSErr CNeXTSunSoundFile::GetOfflineInfo(OSErr* status) {
    if (status) *status = 0;
    return pcmio::ReadOnSecondFork(path_, &forkRef_, [this] { return ReadSNDSoundStruct(); });
}

OSErr CNeXTSunSoundFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                                const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (channels < 1 || static_cast<uint32_t>(channels) > kMaxSoundFileChannels) return kParamErr;
    const short size = WordSizeForCreate(wordSize);
    if (size == 0) return kNeXTIncompatibleWordSizeErr;
    if (!(sampleRate >= 1.0f) || !std::isfinite(sampleRate)) return kParamErr;
    if (OSErr err = CreateWritable(channels, size, sampleRate, specifics, extension)) return err;
    dataType_ = StoredDataType();
    dataStart_ = kHeaderBytes;
    return WriteHeader(kUnknownDataSize);
}

// ---------------------------------------------------------------------------
// Buffers

OSErr CNeXTSunSoundFile::ReadWidened(uint32_t frame, unsigned char* buffer, bool position) {
    const uint64_t bufferBytes = GetRealBufferSize();
    const uint32_t bufferBps = BufferBytesPerSample();
    const uint64_t samples = pcmio::BlockExtent(frame, numFrames_, bufferFrames_, channels_,
                                                bufferBps ? bufferBytes / bufferBps : 0);
    const OSErr err = samples && position ? SetFilePos(frame) : OSErr(0);
    const OSErr readErr = pcmio::ReadWidened(forkRef_, buffer, bufferBytes, err ? 0 : samples,
                                             FileBytesPerSample(), bufferBps,
                                             [this](unsigned char* to, const unsigned char* stored,
                                                    uint64_t n) { WidenStored(to, stored, n); });
    return err ? err : readErr;
}

OSErr CNeXTSunSoundFile::ReadFrames(uint32_t frame, unsigned char* buffer) {
    return ReadWidened(frame, buffer, true);
}

OSErr CNeXTSunSoundFile::RefreshOutputBuffer(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (OSErr err = InitOutputBuffer()) return err;
    if (!outputBuffer_) return kMemBlockMissingErr;
    // Positioning at a frame past the end extends the file up to it.
    if (OSErr err = SetFilePos(frame)) return err;
    OSErr err = ReadWidened(frame, outputBuffer_, false);
    return err == kEOFErr ? OSErr(0) : err;
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

void CNeXT_SUNFile::WidenStored(unsigned char* buffer, const unsigned char*,
                                uint64_t samples) const {
    // Same width in the file and the buffer: the samples are already in place.
    // 8-bit samples are signed bytes in both.
    pcmio::SwapBigEndianSamples(buffer, samples, FileBytesPerSample());
}

void CNeXT_SUNFile::BufferToStored(unsigned char* buffer, uint64_t bytes) const {
    if (const uint32_t size = FileBytesPerSample())
        pcmio::SwapBigEndianSamples(buffer, bytes / size, size);
}

// ---------------------------------------------------------------------------
// A-law and µ-law

OSType CNeXTALawFile::GetFType() { return FourCC("NSAL"); }

std::string CNeXTALawFile::GetDescription() { return "NeXT/Sun A-law"; }

void CNeXTALawFile::WidenStored(unsigned char* buffer, const unsigned char* stored,
                                uint64_t samples) const {
    pcmio::ALawToSamples(buffer, stored, samples);
}

void CNeXTALawFile::BufferToStored(unsigned char* buffer, uint64_t bytes) const {
    pcmio::SamplesToALaw(buffer, bytes);
}

uint8_t CNeXTALawFile::SilenceByte() const { return to_alaw(0); }

uint8_t CNeXTAUFile::SilenceByte() const { return to_mulaw(0); }

OSType CNeXTAUFile::GetFType() { return FourCC("ulaw"); }

std::string CNeXTAUFile::GetDescription() { return "NeXT/Sun \xCE\xBC-law (.au)"; }

void CNeXTAUFile::WidenStored(unsigned char* buffer, const unsigned char* stored,
                              uint64_t samples) const {
    pcmio::MuLawToSamples(buffer, stored, samples);
}

void CNeXTAUFile::BufferToStored(unsigned char* buffer, uint64_t bytes) const {
    pcmio::SamplesToMuLaw(buffer, bytes);
}
