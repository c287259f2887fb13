#include "formats/telephony/dialogic_file.h"

#include <cmath>

#include "formats/chunk_reader.h"
#include "formats/g711.h"
#include "formats/pcm/pcm_io.h"
#include "soundfile/type_codes.h"

namespace {

// The file name of a path: what follows its last '/'.
std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsStorableWordSize(int bits) {
    return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// 8-bit samples are stored offset binary: flipping the top bit turns them into
// signed bytes and back.
void FlipOffsetBinary(unsigned char* data, uint64_t bytes) {
    for (uint64_t i = 0; i < bytes; ++i) data[i] ^= 0x80;
}

}  // namespace

// ---------------------------------------------------------------------------
// PCM

DialogicPCMFormat CDialogicPCMFile::FormatForName(const std::string& name,
                                                  const RawSettings& raw) {
    DialogicPCMFormat format;
    const size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    if (extension == "p16") {
        format.wordSize = 16;
    } else if (extension == "pc8" || extension == "pcm" || extension == "PCM") {
        format.wordSize = 8;
    } else {
        format.sampleRate = raw.GetSampleRate();
        // A word size the format cannot hold is refused by CheckFormat, not cut.
        const int32_t bits = raw.GetWordSize();
        format.wordSize = static_cast<short>(IsStorableWordSize(bits) ? bits : 0);
        format.dataType = raw.IsBigEndian() ? kDataTypePCM : kDataTypeLittleEndianPCM;
        format.channels = raw.GetNumChannels();
    }
    return format;
}

OSErr CDialogicPCMFile::CheckFormat(const DialogicPCMFormat& format) {
    if (format.channels == 0 || format.channels > kMaxSoundFileChannels) return kDialogicChannelsErr;
    if (!IsStorableWordSize(format.wordSize)) return kDialogicWordSizeErr;
    if (format.dataType != kDataTypePCM && format.dataType != kDataTypeLittleEndianPCM)
        return kDialogicWordSizeErr;
    if (!(format.sampleRate > 0) || !std::isfinite(format.sampleRate)) return kDialogicSampleRateErr;
    return 0;
}

OSErr CDialogicPCMFile::TakeFormat(const DialogicPCMFormat& format) {
    if (OSErr err = CheckFormat(format)) return err;
    sampleRate_ = format.sampleRate;
    wordSize_ = format.wordSize;
    dataType_ = format.dataType;
    channels_ = format.channels;
    return pcmio::CountFrames(forkRef_, dataStart_, FrameBytes(), &numFrames_);
}

OSErr CDialogicPCMFile::Open() {
    return OpenWithFormat(FormatForName(NameOf(path_), CSoundFile::GetRawSettings()));
}

OSErr CDialogicPCMFile::OpenWithFormat(const DialogicPCMFormat& format) {
    if (OSErr err = OpenForReading()) return err;
    if (OSErr err = TakeFormat(format)) return err;
    return AddWholeFileRegion();
}

OSErr CDialogicPCMFile::GetOfflineInfo(OSErr* status) {
    if (status) *status = 0;
    const DialogicPCMFormat format = FormatForName(NameOf(path_), CSoundFile::GetRawSettings());
    return pcmio::ReadOnSecondFork(path_, &forkRef_, [&] { return TakeFormat(format); });
}

OSErr CDialogicPCMFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                               const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (channels < 1 || static_cast<uint32_t>(channels) > kMaxSoundFileChannels)
        return kDialogicChannelsErr;
    if (!IsStorableWordSize(wordSize)) return kDialogicWordSizeErr;
    if (!(sampleRate > 0) || !std::isfinite(sampleRate)) return kDialogicSampleRateErr;
    if (OSErr err = CreateWritable(channels, wordSize, sampleRate, specifics, extension)) return err;
    dataType_ = kDataTypePCM;
    return 0;
}

uint64_t CDialogicPCMFile::FrameBytes() const {
    return static_cast<uint64_t>(wordSize_ >= 8 ? wordSize_ / 8 : 0) * channels_;
}

// The turn is its own inverse, so it serves writing (BufferToStored) as well.
void CDialogicPCMFile::StoredToBuffer(unsigned char* data, uint64_t bytes) const {
    const uint32_t size = static_cast<uint32_t>(wordSize_ / 8);
    if (size == 0) return;
    if (size == 1)
        FlipOffsetBinary(data, bytes);
    else if (dataType_ == kDataTypeLittleEndianPCM)
        pcmio::SwapLittleEndianSamples(data, bytes / size, size);
    else
        pcmio::SwapBigEndianSamples(data, bytes / size, size);
}

OSType CDialogicPCMFile::GetFType() { return FourCC("DPCM"); }

std::string CDialogicPCMFile::GetDescription() { return "Dialogic PCM (no header)"; }

// ---------------------------------------------------------------------------
// A-law and µ-law

double CDialogicCompandedFile::RateForName(const std::string& name) {
    return !name.empty() && name.back() == '6' ? 6000.0 : 8000.0;
}

OSErr CDialogicCompandedFile::ReadFormat() {
    sampleRate_ = RateForName(NameOf(path_));
    channels_ = 1;
    wordSize_ = 16;
    dataType_ = LawDataType();
    return pcmio::CountFrames(forkRef_, dataStart_, FrameBytes(), &numFrames_);
}

OSErr CDialogicCompandedFile::Open() {
    if (OSErr err = OpenForReading()) return err;
    if (OSErr err = ReadFormat()) return err;
    return AddWholeFileRegion();
}

OSErr CDialogicCompandedFile::GetOfflineInfo(OSErr* status) {
    if (status) *status = 0;
    return pcmio::ReadOnSecondFork(path_, &forkRef_, [this] { return ReadFormat(); });
}

OSErr CDialogicCompandedFile::Create(short channels, short /*wordSize*/, float sampleRate,
                                     void* specifics, const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (channels != 1) return kDialogicChannelsErr;
    if (!(sampleRate > 0) || !std::isfinite(sampleRate)) return kDialogicSampleRateErr;
    if (OSErr err = CreateWritable(channels, 16, sampleRate, specifics, extension)) return err;
    dataType_ = LawDataType();
    return 0;
}

OSErr CDialogicCompandedFile::ReadExpanded(uint32_t frame, unsigned char* buffer, bool position) {
    const uint64_t bufferBytes = GetRealBufferSize();
    const uint64_t samples =
        pcmio::BlockExtent(frame, numFrames_, bufferFrames_, channels_, bufferBytes / 2);
    const OSErr err = samples && position ? SetFilePos(frame) : OSErr(0);
    const OSErr readErr = pcmio::ReadWidened(
        forkRef_, buffer, bufferBytes, err ? 0 : samples, 1, 2,
        [this](unsigned char* to, const unsigned char* codes, uint64_t n) { Expand(to, codes, n); });
    return err ? err : readErr;
}

OSErr CDialogicCompandedFile::ReadFrames(uint32_t frame, unsigned char* buffer) {
    return ReadExpanded(frame, buffer, true);
}

OSErr CDialogicCompandedFile::RefreshOutputBuffer(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    if (OSErr err = InitOutputBuffer()) return err;
    if (!outputBuffer_) return kMemBlockMissingErr;
    if (OSErr err = SetFilePos(frame)) return err;
    OSErr err = ReadExpanded(frame, outputBuffer_, false);
    firstBufferedFrame_ = frame;
    return err == kEOFErr ? OSErr(0) : err;
}

OSType CDialogicALawFile::GetFType() { return FourCC("DALW"); }

std::string CDialogicALawFile::GetDescription() { return "Dialogic A-law (no header)"; }

void CDialogicALawFile::Expand(unsigned char* buffer, const unsigned char* codes,
                               uint64_t samples) const {
    pcmio::ALawToSamples(buffer, codes, samples);
}

void CDialogicALawFile::BufferToStored(unsigned char* data, uint64_t bytes) const {
    pcmio::SamplesToALaw(data, bytes);
}

uint8_t CDialogicALawFile::SilenceByte() const { return to_alaw(0); }

OSType CDialogicULawFile::GetFType() { return FourCC("DULW"); }

std::string CDialogicULawFile::GetDescription() { return "Dialogic \xCE\xBC-law (no header)"; }

void CDialogicULawFile::Expand(unsigned char* buffer, const unsigned char* codes,
                               uint64_t samples) const {
    pcmio::MuLawToSamples(buffer, codes, samples);
}

void CDialogicULawFile::BufferToStored(unsigned char* data, uint64_t bytes) const {
    pcmio::SamplesToMuLaw(data, bytes);
}

uint8_t CDialogicULawFile::SilenceByte() const { return to_mulaw(0); }
