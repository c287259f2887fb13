#include "formats/pcm/voc_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "formats/chunk_reader.h"
#include "formats/pcm/pcm_io.h"
#include "soundfile/type_codes.h"

namespace {

// The header's first 20 bytes: the signature and its end-of-text byte.
constexpr char kSignature[] = "Creative Voice File\x1A";
constexpr uint32_t kSignatureBytes = sizeof kSignature - 1;
// Where the header keeps the offset of the first block.
constexpr uint32_t kFirstBlockOffsetAt = 20;
constexpr uint16_t kVersion = 0x010A;
// The check word is the version's complement plus 0x1234.
constexpr uint16_t kCheckWord = static_cast<uint16_t>(~kVersion + 0x1234);

constexpr unsigned char kSoundDataBlock = 1;
constexpr unsigned char kExtendedBlock = 8;
// Block head: type and 24-bit size.
constexpr int kBlockHeadBytes = 4;
// The sound-data block's head adds a time constant and a codec byte.
constexpr int kSoundHeadExtra = 2;
// The extended block's data: 16-bit time constant, packing, mode.
constexpr int kExtendedExtra = 4;
constexpr uint32_t kExtendedSize = 4;

// 'VOC ' output rates: the bounds, and how close the rate a time constant
// gives back must come to the one asked for.
constexpr float kVOCLowestRate = 3609.0f;
constexpr float kVOCHighestRate = 20000.0f;
constexpr float kVOCRateTolerance = 1.0f;
// 'VOC2' likewise; its wider tolerance follows the coarser 16-bit constant at
// high rates.
constexpr float kVOC2LowestRate = 1953.0f;
constexpr float kVOC2HighestRate = 44101.0f;
constexpr float kVOC2RateTolerance = 10.0f;

// Rate = kTimeBase / (256 - byte constant) and, for the extended block,
// kExtendedTimeBase / (65536 - 16-bit constant) / channels.
constexpr double kTimeBase = 1000000.0;
constexpr double kExtendedTimeBase = 256000000.0;

// The sound-data block's time constant for a rate: 256 - 1000000 / rate,
// rounded or truncated, kept within its byte (rates below 3906.25 Hz have
// none and take 0).
uint8_t SoundTimeConstant(double rate, bool round) {
    if (!(rate > 0)) return 0;
    const double v = 256.0 - kTimeBase / rate + (round ? 0.5 : 0.0);
    if (!(v > 0)) return 0;
    return v >= 255.0 ? 255 : static_cast<uint8_t>(v);
}

// The extended block's time constant: 65536 - 256000000 / (channels x rate),
// truncated, kept within its 16 bits.
uint16_t ExtendedTimeConstant(uint32_t channels, double rate) {
    const double perSecond = static_cast<double>(channels) * rate;
    if (!(perSecond > 0)) return 0;
    const double v = 65536.0 - kExtendedTimeBase / perSecond;
    if (!(v > 0)) return 0;
    return v >= 65535.0 ? 65535 : static_cast<uint16_t>(v);
}

// The 24-bit size of a block head.
uint32_t BlockSize(const uint8_t* head) {
    return head[1] | (static_cast<uint32_t>(head[2]) << 8) | (static_cast<uint32_t>(head[3]) << 16);
}

void StoreBlockHead(uint8_t* head, unsigned char type, uint32_t size) {
    head[0] = type;
    head[1] = static_cast<uint8_t>(size);
    head[2] = static_cast<uint8_t>(size >> 8);
    head[3] = static_cast<uint8_t>(size >> 16);
}

}  // namespace

// ---------------------------------------------------------------------------
// The block walk

OSErr CVOCBlockFile::WalkToBlock(ByteSource& source, unsigned char type, uint64_t* after) {
    uint8_t offset[2];
    if (OSErr err = source.ReadAt(kFirstBlockOffsetAt, offset, sizeof offset)) return err;
    uint64_t position = LoadLE16(offset);
    // Each step moves at least the 4 bytes of a head forward, and a read past
    // the end of the source fails: the walk ends.
    for (;;) {
        uint8_t head[kBlockHeadBytes];
        if (OSErr err = source.ReadAt(position, head, sizeof head)) return err;
        if (head[0] == type) {
            *after = position + kBlockHeadBytes;
            return 0;
        }
        position += kBlockHeadBytes + static_cast<uint64_t>(BlockSize(head));
    }
}

OSErr CVOCBlockFile::FindBlockOnFork(unsigned char type, int fork) {
    ForkSource source(fork);
    if (source.status()) return source.status();
    uint64_t after = 0;
    const OSErr err = WalkToBlock(source, type, &after);
    return err == kEOFErr ? OSErr(kVOCBlockNotFoundErr) : err;
}

OSErr CVOCFile::FindVocID(unsigned char type) {
    if (forkRef_ < 0) return kFileNotOpenBaseErr;
    return FindBlockOnFork(type, forkRef_);
}

OSErr CVOC_SBFile::FindVocID(unsigned char type, int fork) { return FindBlockOnFork(type, fork); }

OSErr CVOC_SBFile::FindVocID(unsigned char type, std::istream& in) {
    if (!in) return kVOCBlockNotFoundErr;
    StreamSource source(in);
    uint64_t after = 0;
    if (WalkToBlock(source, type, &after)) return kVOCBlockNotFoundErr;
    return 0;
}

OSErr CVOCBlockFile::ReadBlockHead(uint8_t* head, int extra, uint32_t* end) {
    int position = 0;
    if (OSErr err = XWQF::GetPos(forkRef_, &position)) return err;
    if (position < kBlockHeadBytes) return kPosErr;
    const uint32_t start = static_cast<uint32_t>(position - kBlockHeadBytes);
    if (OSErr err = pcmio::ReadAt(forkRef_, start, head, kBlockHeadBytes + extra)) return err;
    *end = start + kBlockHeadBytes + static_cast<uint32_t>(extra);
    return 0;
}

OSErr CVOCBlockFile::FramesPresent(uint64_t frames, uint32_t* present) {
    int length = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
    const uint64_t bytes =
        static_cast<uint64_t>(length) > dataStart_ ? static_cast<uint64_t>(length) - dataStart_ : 0;
    *present = static_cast<uint32_t>(std::min<uint64_t>(frames, bytes / FrameBytes()));
    // A 24-bit block size: the declared frames fit in 32 bits.
    declaredFrames_ = frames > *present ? static_cast<uint32_t>(frames) : 0;
    return 0;
}

// ---------------------------------------------------------------------------
// Writing the header and blocks

OSErr CVOCBlockFile::WriteHeader() {
    uint8_t h[kHeaderBytes];
    std::memcpy(h, kSignature, kSignatureBytes);
    StoreLE16(h + kFirstBlockOffsetAt, kHeaderBytes);
    StoreLE16(h + 22, kVersion);
    StoreLE16(h + 24, kCheckWord);
    return pcmio::WriteAt(forkRef_, 0, h, sizeof h);
}

OSErr CVOCBlockFile::WriteEODBlock() {
    const uint8_t terminator = 0;
    return pcmio::AppendAtEnd(forkRef_, &terminator, 1);
}

OSErr CVOCBlockFile::WriteSoundBlockHead(uint8_t timeConstant) {
    if (numFrames_ > MaxFrames()) return kVOCBlockTooLargeErr;
    if (OSErr err = FindBlockOnFork(kSoundDataBlock, forkRef_)) return err;
    uint8_t head[kBlockHeadBytes + kSoundHeadExtra];
    uint32_t end = 0;
    if (OSErr err = ReadBlockHead(head, kSoundHeadExtra, &end)) return err;
    // numFrames_ is at most MaxFrames(), so the size stays within 24 bits.
    StoreBlockHead(head, kSoundDataBlock,
                   static_cast<uint32_t>(numFrames_ * FrameBytes() + kSoundHeadExtra));
    head[4] = timeConstant;
    head[5] = 0;  // codec: linear
    return pcmio::WriteAt(forkRef_, end - static_cast<uint32_t>(sizeof head), head, sizeof head);
}

uint32_t CVOCBlockFile::MaxFrames() const {
    const uint64_t frameBytes = FrameBytes();
    return frameBytes ? static_cast<uint32_t>((kMaxBlockSize - kSoundHeadExtra) / frameBytes) : 0;
}

// ---------------------------------------------------------------------------
// Opening, closing, the offline look, the frame limit

OSErr CVOCBlockFile::Open() {
    if (OSErr err = OpenForReading()) return err;
    if (OSErr err = ReadFormat()) return err;
    dataType_ = StoredDataType();
    return AddWholeFileRegion();
}

OSErr CVOCBlockFile::FinishFile() {
    const OSErr first = WriteFormat();
    const OSErr end = WriteEODBlock();
    return first ? first : end;
}

OSErr CVOCBlockFile::GetOfflineInfo(OSErr* status) {
    if (status) *status = 0;
    // An object that is already open keeps its data start as well as its fork.
    const uint32_t savedStart = dataStart_;
    const OSErr err = pcmio::ReadOnSecondFork(path_, &forkRef_, [this] { return ReadFormat(); });
    dataStart_ = savedStart;
    return err;
}

OSErr CVOCBlockFile::CheckFrames(uint64_t frames) const {
    return frames > MaxFrames() ? OSErr(kVOCBlockTooLargeErr) : OSErr(0);
}

// ---------------------------------------------------------------------------
// 'VOC '

OSType CVOCFile::GetFType() { return FourCC("VOC "); }

std::string CVOCFile::GetDescription() { return "Voc"; }

void CVOCFile::StoredToBuffer(unsigned char* data, uint64_t bytes) const {
    for (uint64_t i = 0; i < bytes; ++i) data[i] ^= 0x80;
}

OSErr CVOCFile::ReadFormat() {
    OSErr err = FindVocID(kSoundDataBlock);
    if (err) return err == kVOCBlockNotFoundErr ? OSErr(kVOCNoSoundDataErr) : err;
    uint8_t head[kBlockHeadBytes + kSoundHeadExtra];
    uint32_t end = 0;
    if ((err = ReadBlockHead(head, kSoundHeadExtra, &end))) return err;
    if (head[5] != 0) return kVOCNoLinearDataErr;
    const uint32_t size = BlockSize(head);
    channels_ = 1;
    // The byte constant is at most 255: the divisor is never 0.
    sampleRate_ = kTimeBase / (256 - head[4]);
    wordSize_ = 8;
    dataStart_ = end;
    return FramesPresent(size >= kSoundHeadExtra ? size - kSoundHeadExtra : 0, &numFrames_);
}

OSErr CVOCFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                       const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (channels != 1) return kVOCIncompatibleChannelsErr;
    if (!(sampleRate >= kVOCLowestRate && sampleRate <= kVOCHighestRate))
        return kVOCIncompatibleRateErr;
    // The rate a rounded byte constant gives back must come close to the one
    // asked for (taken in single precision).
    const float constant = std::trunc(256.0f - 1000000.0f / sampleRate + 0.5f);
    if (constant < 0.0f || constant > 255.0f) return kVOCIncompatibleRateErr;
    if (!(std::fabs(1000000.0f / (256.0f - constant) - sampleRate) <= kVOCRateTolerance))
        return kVOCIncompatibleRateErr;
    if (wordSize != 8) return kVOCIncompatibleWordSizeErr;

    if (OSErr err = CreateWritable(channels, wordSize, sampleRate, specifics, extension))
        return err;
    if (OSErr err = WriteHeader()) return err;
    wordSize_ = 8;
    dataType_ = kDataTypeUnsigned8;
    // Size and constant are filled in at close.
    const uint8_t head[kBlockHeadBytes + kSoundHeadExtra] = {kSoundDataBlock, 0, 0, 0, 0, 0};
    if (OSErr err = pcmio::WriteAt(forkRef_, kHeaderBytes, head, sizeof head)) return err;
    dataStart_ = kHeaderBytes + sizeof head;
    return 0;
}

OSErr CVOCFile::WriteFormat() { return WriteSoundBlockHead(SoundTimeConstant(sampleRate_, true)); }

// ---------------------------------------------------------------------------
// 'VOC2'

OSType CVOC_SBFile::GetFType() { return FourCC("VOC2"); }

std::string CVOC_SBFile::GetDescription() { return "Voc Pro"; }

void CVOC_SBFile::StoredToBuffer(unsigned char* data, uint64_t bytes) const {
    pcmio::SwapLittleEndianSamples(data, bytes / 2, 2);
}

OSErr CVOC_SBFile::ReadFormat() {
    OSErr err = FindVocID(kExtendedBlock, forkRef_);
    if (err) return err == kVOCBlockNotFoundErr ? OSErr(kVOCSBNoExtendedBlockErr) : err;
    uint8_t extended[kBlockHeadBytes + kExtendedExtra];
    uint32_t end = 0;
    if ((err = ReadBlockHead(extended, kExtendedExtra, &end))) return err;
    if (extended[6] != 0) return kVOCSBNoLinearDataErr;
    // The mode byte names at most 256 channels; the 16-bit constant is at most
    // 65535, so neither divisor is ever 0.
    const uint32_t channels = extended[7] + 1u;
    const uint32_t constant = LoadLE16(extended + 4);
    channels_ = channels;
    sampleRate_ = static_cast<double>(256000000u / (65536u - constant) / channels);
    wordSize_ = 16;

    err = FindVocID(kSoundDataBlock, forkRef_);
    if (err) return err == kVOCBlockNotFoundErr ? OSErr(kVOCSBNoSoundDataErr) : err;
    uint8_t head[kBlockHeadBytes + kSoundHeadExtra];
    if ((err = ReadBlockHead(head, kSoundHeadExtra, &end))) return err;
    const uint32_t size = BlockSize(head);
    dataStart_ = end;
    const uint32_t bytes = size >= kSoundHeadExtra ? size - kSoundHeadExtra : 0;
    return FramesPresent(bytes / channels / 2, &numFrames_);
}

OSErr CVOC_SBFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                          const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (!(sampleRate >= kVOC2LowestRate && sampleRate <= kVOC2HighestRate))
        return kVOCIncompatibleRateErr;
    // The mode byte holds channels - 1.
    if (channels < 1 || static_cast<uint32_t>(channels) > kMaxChannels)
        return kVOCIncompatibleChannelsErr;
    // Below 3906.25 Hz x channels the constant would have to be negative.
    const double perSecond = static_cast<double>(channels) * sampleRate;
    if (kExtendedTimeBase / perSecond > 65536.0) return kVOCIncompatibleRateErr;
    // The rate a rounded 16-bit constant gives back must come close to the one
    // asked for (taken in single precision).
    const float frameRate = static_cast<float>(channels) * sampleRate;
    const float constant = std::trunc(65536.0f - 256000000.0f / frameRate + 0.5f);
    if (constant < 0.0f || constant > 65535.0f) return kVOCIncompatibleRateErr;
    const float back = 256000000.0f / (65536.0f - constant) / static_cast<float>(channels);
    if (!(std::fabs(back - sampleRate) <= kVOC2RateTolerance)) return kVOCIncompatibleRateErr;
    if (wordSize != 16) return kVOCSBIncompatibleWordSizeErr;

    if (OSErr err = CreateWritable(channels, wordSize, sampleRate, specifics, extension))
        return err;
    if (OSErr err = WriteHeader()) return err;
    wordSize_ = 16;
    dataType_ = kDataTypeLittleEndianPCM;
    uint8_t blocks[kBlockHeadBytes + kExtendedExtra + kBlockHeadBytes + kSoundHeadExtra] = {};
    StoreBlockHead(blocks, kExtendedBlock, kExtendedSize);
    StoreLE16(blocks + 4, ExtendedTimeConstant(channels_, sampleRate_));
    blocks[6] = 0;  // packing: linear
    blocks[7] = static_cast<uint8_t>(channels_ - 1);
    // The sound-data block's size and constant are filled in at close.
    blocks[8] = kSoundDataBlock;
    if (OSErr err = pcmio::WriteAt(forkRef_, kHeaderBytes, blocks, sizeof blocks)) return err;
    dataStart_ = kHeaderBytes + sizeof blocks;
    return 0;
}

OSErr CVOC_SBFile::WriteFormat() {
    if (OSErr err = FindVocID(kExtendedBlock, forkRef_)) return err;
    uint8_t extended[kBlockHeadBytes + kExtendedExtra];
    uint32_t end = 0;
    if (OSErr err = ReadBlockHead(extended, kExtendedExtra, &end)) return err;
    StoreBlockHead(extended, kExtendedBlock, kExtendedSize);
    StoreLE16(extended + 4, ExtendedTimeConstant(channels_, sampleRate_));
    extended[6] = 0;
    extended[7] = static_cast<uint8_t>(channels_ - 1);
    if (OSErr err = pcmio::WriteAt(forkRef_, end - static_cast<uint32_t>(sizeof extended), extended,
                                   sizeof extended))
        return err;
    return WriteSoundBlockHead(SoundTimeConstant(sampleRate_, false));
}
