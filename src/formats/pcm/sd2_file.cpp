#include "formats/pcm/sd2_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "formats/chunk_reader.h"
#include "formats/pcm/pcm_io.h"
#include "foundation/memory.h"
#include "foundation/resource_file.h"
#include "soundfile/type_codes.h"

namespace {

constexpr uint32_t kMarkerListType = FourCC("sdML");
constexpr uint32_t kLoopListType = FourCC("sdLL");
constexpr uint32_t kRegionListType = FourCC("ddRL");
constexpr short kSampleSizeID = 1000;
constexpr short kSampleRateID = 1001;
constexpr short kChannelsID = 1002;
constexpr short kListID = 1000;

// Marker and loop lists: a 16-bit value (1), four reserved bytes, then the
// record count as a signed 16-bit value.
constexpr size_t kListHeadBytes = 8;
constexpr size_t kListCountOffset = 6;
// The record counts on disk are signed 16-bit values.
constexpr uint16_t kMaxCountedRecords = 32767;

// A marker record: 20 bytes, then the name's characters without a length byte.
constexpr size_t kMarkerHeadBytes = 20;
// Marker and region names are Pascal strings of at most 31 characters.
constexpr uint32_t kMaxNameLength = 31;
constexpr uint16_t kMarkerTagType1 = 24430;
constexpr uint16_t kMarkerTagOther = 3012;

constexpr size_t kLoopRecordBytes = 14;
constexpr uint16_t kLoopModeType1 = 117;
constexpr uint16_t kLoopModeOther = 118;

// The region list: an 18-byte head, then fixed records; their number follows
// from the resource's size, not from the head.
constexpr size_t kRegionHeadBytes = 18;
constexpr size_t kRegionRecordBytes = 56;
constexpr size_t kRegionNameOffset = 24;
// More regions than the lists can index are not read.
constexpr size_t kMaxRegionRecords = 0xFFFF;

// Sample sizes in bytes a file may declare.
constexpr long long kMinSampleBytes = 1;
constexpr long long kMaxSampleBytes = 4;

struct HandleOwner {
    Handle h = nullptr;
    ~HandleOwner() { deallocH(h); }
};

// The codes of a resource fork that is absent, empty or cannot be parsed.
bool IsUnusableFork(int code) {
    return code == kEOFErr || code == kMapReadErr || code == kForkNotFoundErr;
}

// The text of 'STR ' `id` of the file; false when it has none.
bool ReadText(const std::string& path, short id, std::string* text) {
    QFResourceFile file(FSRef{path}, true);
    try {
        *text = file.ReadStringResource(id);
        return true;
    } catch (const error_code_exception& e) {
        if (e.error_code() == kResNotFoundErr) return false;
        throw;
    }
}

// The bytes of resource (`type`, 1000) of the file; false when it has none.
bool ReadList(const std::string& path, uint32_t type, std::vector<uint8_t>* bytes) {
    QFResourceFile file(FSRef{path}, true);
    HandleOwner owner;
    try {
        owner.h = file.ReadResource(type, kListID);
    } catch (const error_code_exception& e) {
        if (e.error_code() == kResNotFoundErr) return false;
        throw;
    }
    if (!owner.h) return false;
    const auto* data = reinterpret_cast<const uint8_t*>(*owner.h);
    bytes->assign(data, data + GetHandleSize(owner.h));
    return true;
}

void WriteList(const std::string& path, uint32_t type, const std::vector<uint8_t>& bytes) {
    HandleOwner owner{allocH(bytes.size())};
    throw_if_err(MyMemError(owner.h, 1));
    if (!bytes.empty()) std::memcpy(*owner.h, bytes.data(), bytes.size());
    QFResourceFile(FSRef{path}, true).WriteResource(type, kListID, owner.h, std::string());
}

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view SkipSpace(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) ++i;
    return text.substr(i);
}

// The leading decimal integer of a text as a C-locale conversion reads it:
// white space skipped, an optional sign, digits up to the first other
// character; a text without digits gives 0. False when it does not fit.
bool LeadingInteger(std::string_view text, long long* value) {
    text = SkipSpace(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    unsigned long long magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    (void)end;
    if (ec == std::errc::invalid_argument) magnitude = 0;
    else if (ec != std::errc() || magnitude > static_cast<unsigned long long>(LLONG_MAX)) return false;
    *value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    return true;
}

// The leading decimal number of a text, read the same way in the C locale.
bool LeadingNumber(std::string_view text, double* value) {
    text = SkipSpace(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') text = std::string_view();
    }
    double v = 0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
    (void)end;
    if (ec == std::errc::invalid_argument) v = 0;
    else if (ec != std::errc()) return false;
    *value = v;
    return true;
}

std::string IntegerText(long long value) {
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

// The rate with six decimals ("44100.000000"), whatever the process locale.
std::string RateText(double rate) {
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, rate, std::chars_format::fixed, 6);
    return result.ec == std::errc() ? std::string(text, result.ptr) : std::string("0.000000");
}

void Append(std::vector<uint8_t>* bytes, const uint8_t* data, size_t count) {
    bytes->insert(bytes->end(), data, data + count);
}

}  // namespace

// ---------------------------------------------------------------------------
// Life and constants

OSType CSDIIFile::GetFType() { return FourCC("Sd2f"); }

std::string CSDIIFile::GetDescription() { return "SoundDesigner II"; }

OSType CDyaxisMacMixFile::GetFType() { return FourCC("MMIX"); }

std::string CDyaxisMacMixFile::GetDescription() { return "Dyaxis MacMix"; }

uint32_t CSDIIFile::BytesPerSample() const {
    return static_cast<uint32_t>(wordSize_ >= 8 ? wordSize_ / 8 : 0);
}

uint64_t CSDIIFile::FrameBytes() const { return static_cast<uint64_t>(BytesPerSample()) * channels_; }

const std::string& CSDIIFile::ResourcePath() const { return writable_ ? fileRef_.path : path_; }

// ---------------------------------------------------------------------------
// Opening

OSErr CSDIIFile::Open() {
    if (OSErr err = OpenForReading()) return err;
    short count = 0;
    OSErr err = ReadInfo();
    if (err == 0) err = ReadMarkers();
    if (err == 0) err = ReadLoops();
    if (err == 0) err = ReadRegions(&count);
    if (err == 0 && !GetSkipBadRegion()) err = KillDuplicateRegionNames();
    if (err) {
        XWQF::CloseFork(forkRef_);
        forkRef_ = XWQF::kNoFork;
        open_ = false;
        return err;
    }
    dataType_ = kDataTypePCM;
    InitSamplerInfo();
    return 0;
}

OSErr CSDIIFile::GetOfflineInfo(OSErr* regionCount) {
    short count = 0;
    if (regionCount) *regionCount = 0;
    OSErr err = ReadInfo();
    if (err == 0) err = ReadRegions(regionCount ? regionCount : &count);
    if (err == 0) err = ReadMarkers();
    if (err == 0) err = ReadLoops();
    return err;
}

OSErr CSDIIFile::ReadInfo() {
    return StatusOfCall([&]() -> OSErr {
        const std::string& path = ResourcePath();
        std::string sizeText, rateText, channelsText;
        bool haveSize = false, haveRate = false, haveChannels = false;
        try {
            haveSize = ReadText(path, kSampleSizeID, &sizeText);
            haveRate = ReadText(path, kSampleRateID, &rateText);
            haveChannels = ReadText(path, kChannelsID, &channelsText);
        } catch (const error_code_exception& e) {
            if (IsUnusableFork(e.error_code())) return kSDIINoResourceForkErr;
            throw;
        }
        // A file without any of the strings describes nothing and holds no
        // frames; one that has them must give a size, rate and count it can have.
        short wordSize = 0;
        double rate = 0;
        uint32_t channels = 0;
        if (haveSize || haveRate || haveChannels) {
            long long bytes = 0, count = 0;
            if (!haveSize || !LeadingInteger(sizeText, &bytes) || bytes < kMinSampleBytes ||
                bytes > kMaxSampleBytes)
                return kSDIINoWordSizeErr;
            if (!haveRate || !LeadingNumber(rateText, &rate) || !std::isfinite(rate) || !(rate > 0))
                return kSDIINoSampleRateErr;
            if (!haveChannels || !LeadingInteger(channelsText, &count) || count < 1 ||
                count > static_cast<long long>(kMaxSoundFileChannels))
                return kSDIINoChannelsErr;
            wordSize = static_cast<short>(bytes * 8);
            channels = static_cast<uint32_t>(count);
        }
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) return XWQF::ErrnoToStatus(errno);
        if (st.st_size < 0 || st.st_size > XWQF::kMaxFileSize) return kFileBoundsErr;
        wordSize_ = wordSize;
        sampleRate_ = rate;
        channels_ = channels;
        const uint64_t frameBytes = FrameBytes();
        numFrames_ = frameBytes ? static_cast<uint32_t>(static_cast<uint64_t>(st.st_size) / frameBytes) : 0;
        return 0;
    });
}

OSErr CSDIIFile::ReadMarkers() {
    if (!markers_.empty()) return 0;
    return StatusOfCall([&]() -> OSErr {
        std::vector<uint8_t> bytes;
        if (!ReadList(ResourcePath(), kMarkerListType, &bytes)) return 0;
        ByteView list(bytes.data(), bytes.size());
        uint16_t rawCount = 0;
        if (!list.Seek(kListCountOffset) || !list.ReadU16BE(&rawCount)) return kSDIIBadMarkerErr;
        const int count = static_cast<int16_t>(rawCount);
        uint64_t at = kListHeadBytes;
        int16_t typeOneRecords = 0;
        for (int i = 0; i < count; ++i) {
            uint16_t type = 0, skip16 = 0, id = 0;
            uint32_t position = 0, skip32 = 0, length = 0;
            if (!list.Seek(at) || list.remaining() < kMarkerHeadBytes) return kSDIIBadMarkerErr;
            list.ReadU16BE(&type);
            list.ReadU16BE(&skip16);
            list.ReadU32BE(&position);
            list.ReadU32BE(&skip32);
            list.ReadU16BE(&skip16);  // the tag
            list.ReadU16BE(&id);
            list.ReadU32BE(&length);
            // The name's length counts as a signed 16-bit value of at most 31
            // characters, cut where the resource ends.
            const int16_t declared = static_cast<int16_t>(length & 0xFFFF);
            const size_t nameLength =
                std::min<size_t>(std::clamp<int>(declared, 0, kMaxNameLength), list.remaining());
            SFTMarker marker{};
            marker.id = static_cast<int16_t>(id);
            marker.position = position;
            marker.type = static_cast<int16_t>(type);
            marker.number = type == 1 ? typeOneRecords++ : 0;
            marker.name[0] = static_cast<unsigned char>(nameLength);
            list.Read(marker.name + 1, nameLength);
            throw_if_err(AddMarker(&marker));
            // The next record follows the whole declared length: when the count
            // asks for one after a name that ran past the end, its head is cut
            // short like any other.
            at += kMarkerHeadBytes + uint64_t{length};
        }
        return 0;
    });
}

OSErr CSDIIFile::ReadLoops() {
    if (!loops_.empty()) return 0;
    return StatusOfCall([&]() -> OSErr {
        std::vector<uint8_t> bytes;
        if (!ReadList(ResourcePath(), kLoopListType, &bytes)) return 0;
        ByteView list(bytes.data(), bytes.size());
        uint16_t rawCount = 0;
        if (!list.Seek(kListCountOffset) || !list.ReadU16BE(&rawCount)) return kSDIIBadLoopErr;
        const int count = static_cast<int16_t>(rawCount);
        for (int i = 0; i < count; ++i) {
            ByteView record;
            if (!list.Seek(kListHeadBytes + static_cast<uint64_t>(i) * kLoopRecordBytes) ||
                !list.Sub(kLoopRecordBytes, &record))
                return kSDIIBadLoopErr;
            uint32_t start = 0, end = 0;
            uint16_t number = 0, mode = 0;
            record.ReadU32BE(&start);
            record.ReadU32BE(&end);
            record.ReadU16BE(&number);
            record.ReadU16BE(&mode);
            const SFTLoop loop{static_cast<int16_t>(number), start, end,
                               static_cast<int16_t>(mode == kLoopModeType1 ? 1 : 2)};
            throw_if_err(AddLoop(&loop));
        }
        return 0;
    });
}

OSErr CSDIIFile::ReadRegions(short* count) {
    if (!regions_.empty()) return 0;
    return StatusOfCall([&]() -> OSErr {
        short dummy = 0;
        if (!count) count = &dummy;
        *count = 0;
        std::vector<uint8_t> bytes;
        size_t records = 0;
        if (ReadList(ResourcePath(), kRegionListType, &bytes) && bytes.size() >= kRegionHeadBytes)
            records = std::min((bytes.size() - kRegionHeadBytes) / kRegionRecordBytes, kMaxRegionRecords);
        *count = static_cast<short>(std::min<size_t>(records, SHRT_MAX));
        const int64_t frames = numFrames_;
        ByteView list(bytes.data(), bytes.size());
        for (size_t i = 0; i < records; ++i) {
            ByteView record;
            list.Seek(kRegionHeadBytes + i * kRegionRecordBytes);
            list.Sub(kRegionRecordBytes, &record);
            uint32_t id = 0, start = 0, end = 0, sync = 0, stamp = 0;
            record.ReadU32BE(&id);
            record.ReadU32BE(&start);
            record.ReadU32BE(&end);
            record.ReadU32BE(&sync);
            record.ReadU32BE(&stamp);
            SFTRegion region{};
            region.id = static_cast<int32_t>(id);
            region.start = static_cast<int32_t>(start);
            region.end = static_cast<int32_t>(end);
            region.sync = static_cast<int32_t>(sync);
            region.timeStamp = static_cast<int32_t>(stamp);
            record.Seek(kRegionNameOffset);
            record.Read(region.name, sizeof region.name);
            region.name[0] = static_cast<unsigned char>(std::min<uint32_t>(region.name[0], kMaxNameLength));
            if (i == 0) SetTimeStamp(stamp);
            if (GetIgnoreRegionsContainingWholeFile()) {
                if (region.start == 0 && region.end == frames) continue;
            } else if (region.start < 0) {
                region.start = 0;
                region.end = static_cast<int32_t>(frames);
                SetTimeStamp(stamp);
            }
            const bool inside = region.start >= 0 && region.start <= region.end && region.end <= frames;
            if (inside) throw_if_err(AddRegion(&region));
        }
        if (records == 0 && GetProcessFileIfNoRegions()) throw_if_err(AddWholeFileRegion());
        return 0;
    });
}

// ---------------------------------------------------------------------------
// Creating and closing

OSErr CSDIIFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                        const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (channels < 1 || static_cast<uint32_t>(channels) > kMaxSoundFileChannels) return kParamErr;
    if (wordSize < 8 || wordSize > 32) return kIllegalWordSizeErr;
    // The sample size is kept in whole bytes: 20 bits cannot be declared.
    if (wordSize % 8 != 0) return kSDIIUnsupportedWordSizeErr;
    if (!std::isfinite(sampleRate) || !(sampleRate > 0)) return kParamErr;
    if (OSErr err = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
        return err;
    FSRef ref;
    if (OSErr err = XWQF::CreateFile(path_, &ref)) return err;
    fileRef_ = ref;
    fileRefValid_ = true;
    if (OSErr err = StatusOfCall([&]() -> OSErr {
            QFResourceFile(fileRef_, true).Create(GetFileType(), GetCreator());
            return 0;
        }))
        return err;
    if (OSErr err = XWQF::OpenFork(&fileRef_, XWQF::kPermWidest, &forkRef_)) return err;
    open_ = true;
    writable_ = true;
    headerDirty_ = 1;
    wordSize_ = wordSize;
    channels_ = static_cast<uint32_t>(channels);
    sampleRate_ = sampleRate;
    dataType_ = kDataTypePCM;
    numFrames_ = 0;
    InitSamplerInfo();
    return 0;
}

OSErr CSDIIFile::FinishFile() {
    OSErr err = WriteInfo();
    if (err == 0) err = WriteMarkers();
    if (err == 0) err = WriteLoops();
    if (err == 0) err = WriteRegions();
    return err;
}

OSErr CSDIIFile::WriteInfo() {
    return StatusOfCall([&]() -> OSErr {
        QFResourceFile file(FSRef{ResourcePath()}, true);
        file.WriteStringResource(IntegerText(wordSize_ / 8), kSampleSizeID, "sample-size");
        file.WriteStringResource(RateText(sampleRate_), kSampleRateID, "sample-rate");
        file.WriteStringResource(IntegerText(channels_), kChannelsID, "channels");
        return 0;
    });
}

OSErr CSDIIFile::WriteMarkers() {
    return StatusOfCall([&]() -> OSErr {
        const uint16_t count = std::min(GetNumMarkers(), kMaxCountedRecords);
        std::vector<uint8_t> bytes(kListHeadBytes, 0);
        StoreBE16(bytes.data(), 1);
        StoreBE16(bytes.data() + kListCountOffset, count);
        for (uint16_t i = 0; i < count; ++i) {
            SFTMarker marker;
            throw_if_err(GetIndMarker(i, &marker));
            const uint16_t type = marker.type == 1 || marker.type == 2 ? marker.type : 2;
            const uint32_t nameLength = std::min<uint32_t>(marker.name[0], kMaxNameLength);
            uint8_t head[kMarkerHeadBytes] = {};
            StoreBE16(head, type);
            StoreBE16(head + 2, type);
            StoreBE32(head + 4, marker.position);
            StoreBE16(head + 12, type == 1 ? kMarkerTagType1 : kMarkerTagOther);
            StoreBE16(head + 14, static_cast<uint16_t>(marker.id));
            StoreBE32(head + 16, nameLength);
            Append(&bytes, head, sizeof head);
            Append(&bytes, marker.name + 1, nameLength);
        }
        WriteList(ResourcePath(), kMarkerListType, bytes);
        return 0;
    });
}

OSErr CSDIIFile::WriteLoops() {
    return StatusOfCall([&]() -> OSErr {
        const uint16_t count = std::min(GetNumLoops(), kMaxCountedRecords);
        std::vector<uint8_t> bytes(kListHeadBytes, 0);
        StoreBE16(bytes.data(), 1);
        StoreBE16(bytes.data() + kListCountOffset, count);
        for (uint16_t i = 0; i < count; ++i) {
            SFTLoop loop;
            throw_if_err(GetIndLoop(i, &loop));
            uint8_t record[kLoopRecordBytes] = {};
            StoreBE32(record, loop.start);
            StoreBE32(record + 4, loop.end);
            StoreBE16(record + 8, static_cast<uint16_t>(i + 1));
            StoreBE16(record + 10, loop.type == 1 ? kLoopModeType1 : kLoopModeOther);
            Append(&bytes, record, sizeof record);
        }
        WriteList(ResourcePath(), kLoopListType, bytes);
        return 0;
    });
}

OSErr CSDIIFile::WriteRegions() {
    return StatusOfCall([&]() -> OSErr {
        const uint16_t count = GetNumRegions();
        std::vector<uint8_t> bytes(kRegionHeadBytes, 0);
        StoreBE16(bytes.data(), 1);
        StoreBE32(bytes.data() + 2, 12);
        StoreBE32(bytes.data() + 6, kRegionRecordBytes);
        StoreBE32(bytes.data() + 14, static_cast<uint32_t>(count) + 1);
        for (uint16_t i = 0; i < count; ++i) {
            SFTRegion region;
            throw_if_err(GetIndRegion(i, &region));
            const uint32_t stamp = i == 0 && IsTimeStampValid()
                                       ? GetTimeStamp()
                                       : static_cast<uint32_t>(region.timeStamp);
            uint8_t record[kRegionRecordBytes] = {};
            StoreBE32(record, static_cast<uint32_t>(region.id));
            StoreBE32(record + 4, static_cast<uint32_t>(region.start));
            StoreBE32(record + 8, static_cast<uint32_t>(region.end));
            StoreBE32(record + 12, static_cast<uint32_t>(region.sync));
            StoreBE32(record + 16, stamp);
            StoreBE32(record + 20, stamp);
            std::memcpy(record + kRegionNameOffset, region.name, sizeof region.name);
            Append(&bytes, record, sizeof record);
        }
        WriteList(ResourcePath(), kRegionListType, bytes);
        return 0;
    });
}

int CSDIIFile::ReadNumChannels(const std::string& path) {
    FSRef ref;
    if (OSErr err = XWQF::MakeRef(path, &ref))
        throw error_code_exception(err, "no file at %s", path.c_str());
    std::string text;
    if (!ReadText(ref.path, kChannelsID, &text)) return 0;
    long long channels = 0;
    if (!LeadingInteger(text, &channels) || channels < 1 ||
        channels > static_cast<long long>(kMaxSoundFileChannels))
        return 0;
    return static_cast<int>(channels);
}

// ---------------------------------------------------------------------------
// Buffers

void CSDIIFile::StoredToBuffer(unsigned char* data, uint64_t bytes) const {
    if (const uint32_t size = BytesPerSample())
        pcmio::SwapBigEndianSamples(data, bytes / size, size);
}
