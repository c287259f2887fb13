#include "formats/pcm/avr_file.h"

#include <algorithm>
#include <cstring>

#include "formats/chunk_reader.h"
#include "formats/pcm/pcm_io.h"
#include "foundation/pstring.h"
#include "soundfile/type_codes.h"

namespace {

constexpr uint32_t kMagic = FourCC("2BIT");

// Field offsets of the header.
constexpr int kNameAt = 4;
constexpr int kChannelFlagAt = 12;
constexpr int kSampleSizeAt = 14;
constexpr int kSignAt = 16;
constexpr int kLoopFlagAt = 18;
constexpr int kRateAt = 22;
constexpr int kLengthAt = 26;
constexpr int kLoopStartAt = 30;
constexpr int kLoopEndAt = 34;
constexpr int kExtendedNameAt = 44;

// The name field holds 8 characters; the extended name continues with up to 24
// more, 4 of them in the user data.
constexpr size_t kNameBytes = 8;
constexpr size_t kWholeNameBytes = 32;

constexpr uint16_t kAllOnes = 0xFFFF;
// The rate field's high byte is another field: the rate is its low 24 bits.
constexpr uint32_t kRateMask = 0x00FFFFFF;
// A loop read from the header: ID 0, forward.
constexpr int16_t kForwardLoop = 1;

}  // namespace

OSType CAVRFile::GetFType() { return FourCC(".AVR"); }

std::string CAVRFile::GetDescription() { return "AVR"; }

// ---------------------------------------------------------------------------
// The header

OSErr CAVRFile::ReadAVRHeaderStruct() {
    if (forkRef_ < 0) return kFileNotOpenBaseErr;
    uint8_t h[kHeaderBytes];
    if (OSErr err = pcmio::ReadAt(forkRef_, 0, h, sizeof h)) return err;
    if (LoadBE32(h) != kMagic) return kAVRBadHeaderErr;
    const uint16_t sampleSize = LoadBE16(h + kSampleSizeAt);
    if (sampleSize != 8 && sampleSize != 16) return kAVRIncompatibleWordSizeErr;

    channels_ = LoadBE16(h + kChannelFlagAt) == 0 ? 1 : 2;
    wordSize_ = static_cast<short>(sampleSize);
    dataType_ = LoadBE16(h + kSignAt) == kAllOnes ? kDataTypePCM : kDataTypeOffsetBinary8;
    sampleRate_ = LoadBE32(h + kRateAt) & kRateMask;
    // The length counts frames; only those the file holds are taken.
    uint32_t present = 0;
    if (OSErr err = pcmio::CountFrames(forkRef_, dataStart_, FrameBytes(), &present)) return err;
    const uint32_t declared = LoadBE32(h + kLengthAt);
    numFrames_ = std::min(declared, present);
    declaredFrames_ = declared > present ? declared : 0;

    // A second reading of the same object does not add the loop again.
    if (LoadBE16(h + kLoopFlagAt) == 0 || GetNumLoops() != 0) return 0;
    const SFTLoop loop{0, LoadBE32(h + kLoopStartAt), LoadBE32(h + kLoopEndAt), kForwardLoop};
    return AddLoop(&loop);
}

void CAVRFile::BuildHeader(uint8_t* h, bool final) {
    std::memset(h, 0, kHeaderBytes);
    StoreBE32(h, kMagic);
    StoreBE16(h + kChannelFlagAt, channels_ == 1 ? 0 : kAllOnes);
    StoreBE16(h + kSampleSizeAt, static_cast<uint16_t>(wordSize_));
    StoreBE32(h + kRateAt, static_cast<uint32_t>(pcmio::TruncatedRate(sampleRate_)));
    if (!final) return;

    StoreBE16(h + kSignAt, kAllOnes);
    StoreBE32(h + kLengthAt, numFrames_);
    SFTLoop loop{};
    if (GetIndLoop(0, &loop) == 0) {
        StoreBE16(h + kLoopFlagAt, kAllOnes);
        StoreBE32(h + kLoopStartAt, loop.start);
        StoreBE32(h + kLoopEndAt, loop.end);
    }
    // The name's first 8 characters, then up to 24 more in the extended name;
    // the zeroed header ends a shorter name with a 0 byte.
    const std::string name = Utf8ToMacRoman(EmbeddedName());
    std::memcpy(h + kNameAt, name.data(), std::min(name.size(), kNameBytes));
    if (name.size() > kNameBytes)
        std::memcpy(h + kExtendedNameAt, name.data() + kNameBytes,
                    std::min(name.size(), kWholeNameBytes) - kNameBytes);
}

OSErr CAVRFile::WriteAVRHeaderStruct() {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    uint8_t h[kHeaderBytes];
    BuildHeader(h, true);
    return pcmio::WriteAt(forkRef_, 0, h, sizeof h);
}

// ---------------------------------------------------------------------------
// Opening, creating, closing

OSErr CAVRFile::Open() {
    if (OSErr err = OpenForReading()) return err;
    if (OSErr err = ReadAVRHeaderStruct()) return err;
    return AddWholeFileRegion();
}

OSErr CAVRFile::GetOfflineInfo(OSErr* regionCount) {
    if (regionCount) *regionCount = 0;
    return pcmio::ReadOnSecondFork(path_, &forkRef_, [this] { return ReadAVRHeaderStruct(); });
}

OSErr CAVRFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                       const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (wordSize != 8 && wordSize != 16) return kAVRIncompatibleWordSizeErr;
    // The channel flag tells one channel from two, no more.
    if (channels != 1 && channels != 2) return kAVRIncompatibleChannelsErr;
    if (OSErr err = CreateWritable(channels, wordSize, sampleRate, specifics, extension))
        return err;
    dataType_ = kDataTypePCM;
    uint8_t h[kHeaderBytes];
    BuildHeader(h, false);
    return pcmio::WriteAt(forkRef_, 0, h, sizeof h);
}

// ---------------------------------------------------------------------------
// Buffers

void CAVRFile::StoredToBuffer(unsigned char* data, uint64_t bytes) const {
    const bool offsetBinary = dataType_ == kDataTypeOffsetBinary8;
    if (wordSize_ == 16) {
        const uint16_t flip = offsetBinary ? 0x8000 : 0;
        for (uint64_t i = 0; i + 1 < bytes; i += 2) {
            const uint16_t v = static_cast<uint16_t>(LoadBE16(data + i) ^ flip);
            std::memcpy(data + i, &v, 2);
        }
    } else if (offsetBinary) {
        for (uint64_t i = 0; i < bytes; ++i) data[i] ^= 0x80;
    }
}

void CAVRFile::BufferToStored(unsigned char* data, uint64_t bytes) const {
    if (wordSize_ == 16) pcmio::SwapBigEndianSamples(data, bytes / 2, 2);
}
