#include "formats/pcm/sd1_file.h"

#include <algorithm>
#include <cstring>

#include "formats/chunk_reader.h"
#include "formats/pcm/pcm_io.h"
#include "foundation/log.h"
#include "soundfile/type_codes.h"

namespace {

// Field offsets of the header.
constexpr uint32_t kByteCountAt = 184;
constexpr uint32_t kRateAt = 1020;
constexpr uint32_t kPeriodAt = 1024;
constexpr uint32_t kSampleSizeAt = 1028;

// Samples of one to four bytes can be turned into the buffer form: 8 to 32 bits
// (a size between whole bytes takes the bytes of the size below it).
constexpr short kMinReadableBits = 8;
constexpr short kMaxReadableBits = 32;

// The fixed bytes of a header written here.
struct TemplateBytes {
    uint32_t at;
    const char* bytes;
    size_t count;
};
constexpr TemplateBytes kTemplate[] = {
    {0, "\x05\x38\x00\x20", 4},
    {64, "\xFF\x00", 2},
    {66, "\x00\x00\x00\x01\x00\x00\x01\x47", 8},
    {74, "\x04\x00\x00\x00", 4},
    {78, "\x06%scale", 7},
    {112, "\x00\x00\x00\x01\x00\x00\x00\x00", 8},
    {120, "\x03sec", 4},
    {806, "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8},
    {817, "\x08Quillfen", 9},
    {1084, "\x06Linear", 7},
};
// The byte 1 at ten places, 40 bytes apart.
constexpr uint32_t kFlagsAt = 402;
constexpr uint32_t kFlagStride = 40;
constexpr int kFlagCount = 10;

// The rate as the unsigned 32-bit field: truncated, within the field's range.
uint32_t RateField(double rate) {
    if (!(rate >= 1.0)) return 0;
    return rate >= 4294967295.0 ? UINT32_MAX : static_cast<uint32_t>(rate);
}

}  // namespace

OSType CSD1File::GetFType() { return FourCC("Sd1f"); }

std::string CSD1File::GetDescription() { return "SoundDesigner I"; }

// ---------------------------------------------------------------------------
// The header

void CSD1File::InitSD1Header2(HeaderType* header) {
    std::memset(header->bytes, 0, sizeof header->bytes);
    for (const TemplateBytes& t : kTemplate) std::memcpy(header->bytes + t.at, t.bytes, t.count);
    for (int k = 0; k < kFlagCount; ++k) header->bytes[kFlagsAt + kFlagStride * k] = 1;
}

void CSD1File::StoreFields(HeaderType* header) const {
    const uint32_t rate = RateField(sampleRate_);
    StoreBE32(header->bytes + kByteCountAt, numFrames_ * BytesPerSample());
    StoreBE32(header->bytes + kRateAt, rate);
    StoreBE32(header->bytes + kPeriodAt, rate ? 1000000u / rate : 0);
    StoreBE16(header->bytes + kSampleSizeAt, static_cast<uint16_t>(wordSize_));
}

OSErr CSD1File::ReadHeader() {
    CORVANE_DLOG("sizeof(Header):" << sizeof(HeaderType));
    if (forkRef_ < 0) return kFileNotOpenBaseErr;
    // A file shorter than its header is refused as cut short.
    HeaderType header;
    if (OSErr err = pcmio::ReadAt(forkRef_, 0, header.bytes, sizeof header.bytes)) return err;
    const short bits = static_cast<short>(LoadBE16(header.bytes + kSampleSizeAt));
    // Below 8 bits a sample would take no bytes at all.
    if (bits < kMinReadableBits || bits > kMaxReadableBits) return kSD1UnsupportedDataErr;
    sampleRate_ = LoadBE32(header.bytes + kRateAt);
    wordSize_ = bits;
    channels_ = 1;
    dataType_ = kDataTypePCM;
    // Only the frames the file holds are taken.
    uint32_t present = 0;
    if (OSErr err = pcmio::CountFrames(forkRef_, kHeaderBytes, BytesPerSample(), &present))
        return err;
    const uint32_t declared = LoadBE32(header.bytes + kByteCountAt) / BytesPerSample();
    numFrames_ = std::min(declared, present);
    declaredFrames_ = declared > present ? declared : 0;
    return 0;
}

// ---------------------------------------------------------------------------
// Opening, creating, closing

OSErr CSD1File::Open() {
    if (OSErr err = OpenForReading()) return err;
    if (OSErr err = ReadHeader()) return err;
    InitSamplerInfo();
    if (!GetProcessFileIfNoRegions()) return 0;
    // The whole file as one region named after the file.
    SFTRegion region{};
    region.end = static_cast<int32_t>(numFrames_);
    NameToField(EmbeddedName(), region.name);
    return AddRegion(&region);
}

OSErr CSD1File::GetOfflineInfo(OSErr* regionCount) {
    if (regionCount) *regionCount = 0;
    return pcmio::ReadOnSecondFork(path_, &forkRef_, [this] {
        const OSErr err = ReadHeader();
        InitSamplerInfo();
        return err;
    });
}

OSErr CSD1File::Create(short channels, short wordSize, float sampleRate, void* specifics,
                       const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (channels != 1) return kSD1IncompatibleChannelsErr;
    if (wordSize != 8 && wordSize != 16) return kSD1IncompatibleWordSizeErr;
    if (OSErr err = CreateWritable(channels, wordSize, sampleRate, specifics, extension))
        return err;
    dataType_ = kDataTypePCM;
    HeaderType header;
    InitSD1Header2(&header);
    StoreFields(&header);
    return pcmio::WriteAt(forkRef_, 0, header.bytes, sizeof header.bytes);
}

OSErr CSD1File::FinishFile() {
    HeaderType header;
    if (OSErr err = pcmio::ReadAt(forkRef_, 0, header.bytes, sizeof header.bytes)) return err;
    StoreFields(&header);
    return pcmio::WriteAt(forkRef_, 0, header.bytes, sizeof header.bytes);
}

void CSD1File::StoredToBuffer(unsigned char* data, uint64_t bytes) const {
    const uint32_t size = BytesPerSample();
    pcmio::SwapBigEndianSamples(data, bytes / size, size);
}
