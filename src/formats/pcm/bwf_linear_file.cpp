#include "formats/pcm/bwf_linear_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "formats/chunk_reader.h"
#include "foundation/log.h"
#include "foundation/pstring.h"
#include "soundfile/type_codes.h"

namespace {

using riff::kBext;
constexpr uint32_t kRegn = FourCC("regn");

// Offsets of the 'bext' fields from the start of the chunk data.
enum : uint32_t {
    kDescription = 0,
    kDescriptionBytes = 256,
    kOriginator = 256,
    kOriginatorReference = 288,
    kOriginationDate = 320,
    kOriginationTime = 330,
    kTimeReferenceLow = 338,
    kTimeReferenceHigh = 342,
    kVersion = 346,
    kCodingHistory = 602,
};

// Offsets inside one 'regn' record.
enum : uint32_t {
    kRegionStart = 16,
    kRegionEnd = 24,
    kRegionSync = 32,
    kRegionStamp = 40,
    kRegionOwnStamp = 48,
    kRegionName = 56,
};

void StoreLE64(uint8_t* p, uint64_t v) {
    StoreLE32(p, static_cast<uint32_t>(v));
    StoreLE32(p + 4, static_cast<uint32_t>(v >> 32));
}

void PutText(uint8_t* field, const char* text) { std::memcpy(field, text, std::strlen(text)); }

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = p[i];
        size_t length;
        uint32_t code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (n - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

// The status an opening gives for the reading of 'bext': without the chunk that
// makes it Broadcast Wave the file is of no format known here.
OSErr BextStatus(OSErr err) { return err == kWAVENotFoundErr ? OSErr(kNotASoundFileErr) : err; }

// A count of hours, minutes or seconds as a 16-bit field, whatever the double holds.
int16_t ToShort(double v) {
    if (!(v == v)) return 0;
    v = std::clamp(v, -1e12, 1e12);
    return static_cast<int16_t>(static_cast<int64_t>(v));
}

}  // namespace

// ---------------------------------------------------------------------------
// Life and constants

CBWFLinearFile::~CBWFLinearFile() {
    // The base destructor would close without the 'bext' and 'regn' chunks.
    if (IsOpen()) Close();
}

OSType CBWFLinearFile::GetFType() { return FourCC("BWLN"); }

std::string CBWFLinearFile::GetDescription() { return "Uncompressed Broadcast Wave"; }

std::string CBWFLinearFile::OriginationTime(uint32_t frames, double sampleRate) {
    int16_t hours = 0, minutes = 0, seconds = 0;
    if (sampleRate > 0 && std::isfinite(sampleRate)) {
        const double t = frames;
        hours = ToShort(std::floor(t / (sampleRate * 3600)));
        minutes = ToShort(std::floor((t - hours * sampleRate * 3600) / (sampleRate * 60)));
        seconds = ToShort(
            std::floor((t - hours * sampleRate * 3600 - minutes * sampleRate * 60) / sampleRate));
    }
    char text[32];
    std::snprintf(text, sizeof text, "%2d:%2d:%2d", hours, minutes, seconds);
    std::string out(text);
    std::replace(out.begin(), out.end(), ' ', '0');
    return out.substr(0, 8);
}

// ---------------------------------------------------------------------------
// Writing

OSErr CBWFLinearFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                             const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    annotation_.clear();
    if (specifics) {
        // Bounded by the block: a text that fills its field has no NUL.
        const char* text = static_cast<const char*>(specifics) + kAnnotationOffset;
        annotation_.assign(text, strnlen(text, kAnnotationBytes));
    }
    return CWAVEFile::Create(channels, wordSize, sampleRate, specifics, extension);
}

OSErr CBWFLinearFile::Writefmt() {
    if (OSErr err = CWAVEFile::Writefmt()) return err;
    return WriteBEXT();
}

OSErr CBWFLinearFile::WritefmtExtended() {
    if (OSErr err = CWAVEFile::WritefmtExtended()) return err;
    return WriteBEXT();
}

OSErr CBWFLinearFile::WriteExtras() { return 0; }

OSErr CBWFLinearFile::WriteBEXT() {
    uint8_t raw[8 + kBextDataBytes] = {};
    StoreBE32(raw, kBext);
    StoreLE32(raw + 4, kBextDataBytes);
    uint8_t* data = raw + 8;
    // The Description keeps room for its terminating NUL.
    std::memcpy(data + kDescription, annotation_.data(),
                std::min<size_t>(annotation_.size(), kDescriptionBytes - 1));
    PutText(data + kOriginator, "Originator");
    PutText(data + kOriginatorReference, "OriginatorReference");
    PutText(data + kOriginationDate, "2000:00:00");
    const std::string time = OriginationTime(GetTimeStamp(), sampleRate_);
    std::memcpy(data + kOriginationTime, time.data(), std::min<size_t>(time.size(), 8));
    StoreLE32(data + kTimeReferenceLow, GetTimeStamp());
    StoreLE32(data + kTimeReferenceHigh, 0);
    StoreLE16(data + kVersion, 0);
    PutText(data + kCodingHistory, "CodingHistory");
    int n = sizeof raw;
    return XWQF::Write(forkRef_, &n, raw);
}

OSErr CBWFLinearFile::WriteRegions() {
    try {
        const uint32_t regions = GetNumRegions();
        std::vector<uint8_t> chunk(12 + static_cast<size_t>(kRegionRecordBytes) * regions, 0);
        StoreBE32(chunk.data(), kRegn);
        StoreLE32(chunk.data() + 4, kRegionRecordBytes * regions + 4);
        StoreLE32(chunk.data() + 8, regions);
        for (uint32_t i = 0; i < regions; ++i) {
            SFTRegion region;
            if (OSErr err = GetIndRegion(static_cast<uint16_t>(i), &region)) return err;
            uint8_t* record = chunk.data() + 12 + static_cast<size_t>(kRegionRecordBytes) * i;
            auto widened = [](int32_t v) { return static_cast<uint64_t>(static_cast<int64_t>(v)); };
            StoreLE64(record + kRegionStart, widened(region.start));
            StoreLE64(record + kRegionEnd, widened(region.end));
            StoreLE64(record + kRegionSync, widened(region.sync));
            // The first region carries the file's time stamp when there is one.
            StoreLE64(record + kRegionStamp,
                      i == 0 && IsTimeStampValid() ? uint64_t{GetTimeStamp()} : widened(region.timeStamp));
            StoreLE64(record + kRegionOwnStamp, widened(region.timeStamp));
            std::memcpy(record + kRegionName, region.name, sizeof region.name);
        }
        return AppendAtEnd(chunk.data(), static_cast<int>(chunk.size()));
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
}

OSErr CBWFLinearFile::WriteSpecialized() {
    // The 'bext' written at creation is written again with the final time stamp.
    ChunkHeader bext;
    if (OSErr err = LocateChunk(kBext, 1, &bext)) return err;
    if (OSErr err = XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(bext.offset))) return err;
    if (OSErr err = WriteBEXT()) return err;
    return WriteRegions();
}

// ---------------------------------------------------------------------------
// Reading

OSErr CBWFLinearFile::ReadBEXT() {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    try {
        ChunkHeader chunk;
        if (OSErr err = LocateChunk(kBext, 1, &chunk)) return err;
        ForkSource source(forkRef_);
        if (source.status()) return source.status();
        std::vector<uint8_t> data;
        if (OSErr err = ReadChunkData(source, chunk, kBextDataBytes, &data))
            return err;
        // Fields the chunk does not reach read as 0 or empty.
        uint8_t bext[kBextDataBytes] = {};
        if (!data.empty()) std::memcpy(bext, data.data(), std::min<size_t>(data.size(), sizeof bext));
        SetTimeStamp(LoadLE32(bext + kTimeReferenceLow));

        const void* nul = std::memchr(bext + kDescription, 0, kDescriptionBytes);
        const size_t length = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - bext)
                                  : size_t{kDescriptionBytes};
        annotation_.assign(reinterpret_cast<const char*>(bext + kDescription), length);
        // Every byte has a Mac OS Roman meaning, so the text never needs a third try.
        std::string text = annotation_;
        if (!IsValidUtf8(text)) {
            CORVANE_DLOG("bwf annotation could not be interpreted as utf8: " << annotation_);
            text = MacRomanToUtf8(annotation_);
        }
        attributes_["bwfAnnotation"] = plist::Value(text);
        return 0;
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
}

OSErr CBWFLinearFile::LocateRegionRecords(uint64_t* first, uint32_t* count) {
    *first = 0;
    *count = 0;
    ChunkHeader header;
    if (OSErr err = LocateChunk(kRegn, 1, &header)) return err;
    ForkSource source(forkRef_);
    if (source.status()) return source.status();
    const uint64_t there = AvailableChunkData(source, header);
    if (there < 4) return 0;
    uint8_t raw[4];
    if (OSErr err = source.ReadAt(header.dataOffset(), raw, sizeof raw)) return err;
    // The count is 32 bits; only the records that are really there are believed.
    const int32_t declared = static_cast<int32_t>(LoadLE32(raw));
    if (declared <= 0) return 0;
    *first = header.dataOffset() + 4;
    *count = static_cast<uint32_t>(std::min<uint64_t>(
        {static_cast<uint64_t>(declared), (there - 4) / kRegionRecordBytes, uint64_t{riff::kMaxRegions}}));
    return 0;
}

OSErr CBWFLinearFile::ReadNumRegions(short* count) {
    if (!count) return kParamErr;
    if (!IsOpen()) return 0;
    uint64_t first = 0;
    uint32_t records = 0;
    const OSErr err = LocateRegionRecords(&first, &records);
    if (err == kWAVENotFoundErr || err == kWAVEBadChunkSizeErr) {
        *count = 0;
        return 0;
    }
    if (err) return err;
    *count = static_cast<short>(std::min<uint32_t>(records, INT16_MAX));
    return 0;
}

OSErr CBWFLinearFile::ReadRegions() {
    if (GetNumRegions() != 0) return 0;
    if (!IsOpen()) return kFileNotOpenBaseErr;
    try {
        uint64_t first = 0;
        uint32_t count = 0;
        OSErr err = LocateRegionRecords(&first, &count);
        if (err == kWAVENotFoundErr || err == kWAVEBadChunkSizeErr) return 0;
        if (err) return err;
        std::vector<uint8_t> records(static_cast<size_t>(count) * kRegionRecordBytes);
        if (count) {
            ForkSource source(forkRef_);
            if (source.status()) return source.status();
            if ((err = source.ReadAt(first, records.data(), records.size())) != 0) return err;
        }
        const int64_t frames = numFrames_;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* record = records.data() + static_cast<size_t>(kRegionRecordBytes) * i;
            SFTRegion region{};
            region.id = static_cast<int32_t>(i + 1);
            region.start = static_cast<int32_t>(LoadLE32(record + kRegionStart));
            region.end = static_cast<int32_t>(LoadLE32(record + kRegionEnd));
            region.sync = static_cast<int32_t>(LoadLE32(record + kRegionSync));
            region.timeStamp = static_cast<int32_t>(LoadLE32(record + kRegionStamp));
            std::memcpy(region.name, record + kRegionName, sizeof region.name);
            region.name[0] = std::min<unsigned char>(region.name[0], 31);
            bool add = true;
            if (GetIgnoreRegionsContainingWholeFile()) {
                const int64_t start = region.start, end = region.end;
                const bool wholeFile = start == 0 && end == frames;
                add = !wholeFile && start >= 0 && start <= end && end <= frames;
            }
            if (add) {
                if ((err = AddRegion(&region)) != 0) return err;
            } else {
                SetTimeStamp(static_cast<uint32_t>(region.timeStamp));
            }
        }
        if (!GetSkipBadRegion()) KillDuplicateRegionNames();
        if (count == 0) return AddWholeFileRegion();
        return 0;
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
}

OSErr CBWFLinearFile::Open() {
    if (IsOpen()) return kFileBusyErr;
    if (OSErr err = OpenForReading()) return err;
    if (OSErr err = ReadRiffHeader()) return riff::RiffHeaderStatus(err);
    const KeptChunks::Scope listed(chunks_, forkRef_, riff::Layout(riffEnd_));
    if (OSErr err = Readfmt()) return err;
    if (OSErr err = ReadRegions()) return err;
    if (OSErr err = ReadBEXT()) return BextStatus(err);
    if (OSErr err = ReadExtras()) return err;
    if (OSErr err = ReadLoops()) return err;
    return LocateData();
}

OSErr CBWFLinearFile::GetOfflineInfo(OSErr* regionCount) {
    if (regionCount) *regionCount = 0;
    if (IsOpen()) return kFileBusyErr;
    OSErr err = OpenForReading();
    if (err) return err;
    err = riff::RiffHeaderStatus(ReadRiffHeader());
    {
        const KeptChunks::Scope listed(chunks_, err ? XWQF::kNoFork : forkRef_, riff::Layout(riffEnd_));
        if (err == 0) err = Readfmt();
        short count = 0;
        if (err == 0) err = ReadNumRegions(&count);
        if (err == 0 && regionCount) *regionCount = count;
        if (err == 0 && count != 0) err = ReadRegions();
        if (err == 0) err = BextStatus(ReadBEXT());
        if (err == 0) err = ReadLoops();
    }
    return CloseAfterLook(err);
}
