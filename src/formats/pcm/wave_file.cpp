#include "formats/pcm/wave_file.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <vector>

#include "formats/chunk_reader.h"
#include "formats/pcm/pcm_io.h"

namespace {

using namespace riff;

constexpr uint32_t kLoopRecordBytes = 24;

bool Contains(uint32_t mask, uint32_t bits) { return (mask & bits) == bits; }


// The 16 bytes of a plain format chunk's data: samples of `wordSize` bits as
// held (whole bytes), declared as `bits` bits per sample.
void PutCommonFormat(std::vector<uint8_t>& out, uint16_t tag, uint32_t channels, short wordSize,
                     short bits, double rate) {
    const uint32_t bytes = wordSize >= 8 ? static_cast<uint32_t>(wordSize / 8) : 0;
    const int32_t truncated = pcmio::TruncatedRate(rate);
    Put16(out, tag);
    Put16(out, static_cast<uint16_t>(channels));
    Put32(out, static_cast<uint32_t>(truncated));
    Put32(out, static_cast<uint32_t>(static_cast<int64_t>(bytes) * channels * truncated));
    Put16(out, static_cast<uint16_t>(bytes * channels));
    Put16(out, static_cast<uint16_t>(bits));
}

}  // namespace

// ---------------------------------------------------------------------------
// Life

CWAVEFile::~CWAVEFile() {
    if (IsOpen()) Close();
}

OSType CWAVEFile::GetFType() { return FourCC("WAVE"); }

std::string CWAVEFile::GetDescription() { return "Wave"; }

// ---------------------------------------------------------------------------
// Small I/O helpers

OSErr CWAVEFile::ReadAt(uint32_t position, void* data, int count) {
    return pcmio::ReadAt(forkRef_, position, data, count);
}

OSErr CWAVEFile::AppendAtEnd(const void* data, int count) {
    return pcmio::AppendAtEnd(forkRef_, data, count);
}

// ---------------------------------------------------------------------------
// Chunk search

OSErr CWAVEFile::LocateChunk(uint32_t id, short occurrence, ChunkHeader* found) {
    if (forkRef_ < 0) return kFileNotOpenErr;
    if (occurrence < 1) return kWAVENotFoundErr;
    ChunkSearch result = ChunkSearch::kNotThere;
    OSErr error = 0;
    if (chunks_.Find(forkRef_, id, static_cast<unsigned>(occurrence), found, &result, &error))
        return riff::SearchStatus(result, error);
    ForkSource source(forkRef_);
    if (source.status()) return source.status();
    return riff::LocateChunk(source, riffEnd_, id, static_cast<unsigned>(occurrence), found);
}

OSErr CWAVEFile::ReadRiffHeader() {
    if (forkRef_ < 0) return kFileNotOpenErr;
    ForkSource source(forkRef_);
    if (source.status()) return source.status();
    uint8_t raw[8];
    const OSErr err = source.ReadAt(0, raw, sizeof raw);
    if (err) return err == kEOFErr ? OSErr(kWAVENotFoundErr) : err;
    if (LoadBE32(raw) != kRIFF) return kWAVENotFoundErr;
    riffEnd_ = riff::RiffEnd(LoadLE32(raw + 4));
    return 0;
}

OSErr CWAVEFile::FindID(uint32_t id, short occurrence) {
    uint64_t after = 4;
    if (id == kRIFF) {
        const uint32_t end = riffEnd_;
        const OSErr err = ReadRiffHeader();
        riffEnd_ = end;
        if (err) return err;
    } else {
        ChunkHeader header;
        if (OSErr err = LocateChunk(id, occurrence, &header)) return err;
        after = header.offset + 4;
    }
    return XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(after));
}

riff::ChunkLocator CWAVEFile::Locator() {
    return [this](uint32_t id, unsigned occurrence, ChunkHeader* found) {
        return LocateChunk(id, static_cast<short>(std::min<unsigned>(occurrence, INT16_MAX)), found);
    };
}

OSErr CWAVEFile::FindChunk(const std::string& id, unsigned int occurrence, std::istream& in) {
    if (id.size() != 4) return kParamErr;
    const uint32_t wanted = LoadBE32(reinterpret_cast<const uint8_t*>(id.data()));
    StreamSource source(in);
    uint64_t after = 4;
    if (wanted == kRIFF) {
        uint8_t raw[4];
        if (source.ReadAt(0, raw, sizeof raw) != 0 || LoadBE32(raw) != kRIFF) return kWAVENotFoundErr;
    } else {
        ChunkHeader header;
        if (OSErr err = riff::ProbeChunk(source, wanted, occurrence, &header)) return err;
        after = header.offset + 4;
    }
    in.clear();
    in.seekg(static_cast<std::streamoff>(after), std::ios::beg);
    return in ? 0 : kWAVENotFoundErr;
}

short CWAVEFile::ReadNumChannels(const std::string& path) {
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) return 0;
        StreamSource source(in);
        ChunkHeader fmt;
        if (riff::ProbeChunk(source, kFmt, 1, &fmt) != 0) return 0;
        // The format tag comes before the channel count.
        uint8_t raw[2];
        if (source.ReadAt(fmt.dataOffset() + 2, raw, sizeof raw) != 0) return 0;
        return static_cast<short>(LoadLE16(raw));
    } catch (...) {
        return 0;
    }
}

// ---------------------------------------------------------------------------
// The format chunk

OSErr CWAVEFile::CheckFormat() const {
    const int32_t channels = static_cast<int32_t>(channels_);
    if (channels == 0) return kIncompatibleChannelsErr;
    if (channels < 1 || static_cast<uint32_t>(channels) > kMaxSoundFileChannels) return kWAVEUnsupportedDataErr;
    if (wordSize_ < 8 || wordSize_ > 32) return kWAVEUnsupportedDataErr;
    return 0;
}

CWAVEFile::FormatFields CWAVEFile::DecodeFormat(const uint8_t* chunk) {
    const uint8_t* data = chunk + 8;
    FormatFields fields;
    fields.tag = LoadLE16(data + kFormatTagAt);
    fields.channels =
        static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(LoadLE16(data + kChannelsAt))));
    fields.sampleRate = static_cast<double>(static_cast<int32_t>(LoadLE32(data + kSampleRateAt)));
    fields.wordSize = static_cast<short>(LoadLE16(data + kBitsPerSampleAt));
    return fields;
}

OSErr CWAVEFile::ReadPlainFormat(FormatFields* fields) {
    ChunkHeader fmt;
    OSErr err = LocateChunk(kFmt, 1, &fmt);
    if (err == kWAVENotFoundErr) err = LocateChunk(kFmtCR, 1, &fmt);
    if (IsNotFound(err)) return kWAVENoFormatErr;
    if (err) return err;
    uint8_t raw[24];
    err = ReadAt(static_cast<uint32_t>(fmt.offset), raw, sizeof raw);
    if (err) return err == kEOFErr ? OSErr(kWAVENoFormatErr) : err;
    *fields = DecodeFormat(raw);
    return 0;
}

OSErr CWAVEFile::TakeFormat(const FormatFields& fields, short wordSize) {
    sampleRate_ = fields.sampleRate;
    channels_ = fields.channels;
    wordSize_ = pcmio::ContainerWordSize(wordSize);
    storedSampleBytes_ = 0;
    writtenBits_ = 0;
    return CheckFormat();
}

uint16_t CWAVEFile::CodingTag(const FormatFields& fields) {
    if (fields.tag != kTagExtensible) return fields.tag;
    ChunkHeader fmt;
    uint8_t raw[2];
    if (LocateChunk(kFmt, 1, &fmt) != 0 || fmt.size < kSubFormatAt + sizeof raw ||
        ReadAt(static_cast<uint32_t>(fmt.dataOffset() + kSubFormatAt), raw, sizeof raw) != 0)
        return fields.tag;
    return LoadLE16(raw);
}

OSErr CWAVEFile::ReadfmtExtended() {
    ChunkHeader fmt;
    if (OSErr err = LocateChunk(kFmt, 1, &fmt)) return err;
    if (fmt.size != kExtensibleFormatBytes) return kWAVENotFoundErr;
    uint8_t raw[8 + kExtensibleFormatBytes];
    if (OSErr err = ReadAt(static_cast<uint32_t>(fmt.offset), raw, sizeof raw)) return err;
    const FormatFields fields = DecodeFormat(raw);
    if (fields.tag != kTagExtensible) return kWAVENotFoundErr;
    if (OSErr err = TakeFormat(fields, fields.wordSize)) return err;
    const uint8_t* data = raw + 8;
    if (std::memcmp(data + kSubFormatAt + 4, kGuidTail, sizeof kGuidTail) == 0) {
        switch (LoadLE32(data + kSubFormatAt)) {
            case kTagPCM: dataType_ = kDataTypeLittleEndianPCM; break;
            case kTagFloat:
                // A float sample is read only as 32 bits.
                if (fields.wordSize != 32) return kWAVEUnsupportedDataErr;
                dataType_ = kDataTypeFloatLittleEndian;
                break;
            case kTagALaw: dataType_ = kDataTypeALaw; break;
            case kTagMuLaw: dataType_ = kDataTypeMuLaw; break;
            case kTagMPEG: return kWAVEUnsupportedDataErr;
            default: break;
        }
    }
    SetChannelConfiguration(ConfigurationForMask(LoadLE32(data + kChannelMaskAt)));
    return 0;
}

CSoundFile::ChannelConfiguration CWAVEFile::ConfigurationForMask(uint32_t mask) {
    if (channels_ == 1) return kMono;
    if (channels_ == 2) return kStereo;
    return Mask2ChannelConfiguration(mask);
}

OSErr CWAVEFile::ReadChannelMask(uint32_t* mask) {
    ChunkHeader fmt;
    if (OSErr err = LocateChunk(kFmt, 1, &fmt)) return err;
    uint8_t raw[2];
    if (fmt.size < kChannelMaskAt + 4 || ReadAt(static_cast<uint32_t>(fmt.dataOffset()), raw, sizeof raw) != 0 ||
        LoadLE16(raw) != kTagExtensible)
        return kWAVENotFoundErr;
    uint8_t bytes[4];
    if (OSErr err = ReadAt(static_cast<uint32_t>(fmt.dataOffset() + kChannelMaskAt), bytes, sizeof bytes))
        return err == kEOFErr ? OSErr(kWAVENotFoundErr) : err;
    *mask = LoadLE32(bytes);
    return 0;
}

OSErr CWAVEFile::Readfmt() {
    OSErr err = ReadfmtExtended();
    if (err == 0) {
        // Companded samples are the business of the companded classes.
        if (dataType_ == kDataTypeMuLaw || dataType_ == kDataTypeALaw) return kWAVEUnsupportedDataErr;
    } else if (err != kWAVENotFoundErr) {
        return err;
    } else {
        FormatFields fields;
        if ((err = ReadPlainFormat(&fields)) != 0) return err;
        if (fields.tag != kTagPCM && fields.tag != kTagExtensible) return kWAVEUnsupportedDataErr;
        if ((err = TakeFormat(fields, fields.wordSize)) != 0) return err;
        dataType_ = wordSize_ == 8 ? kDataTypeUnsigned8 : kDataTypeLittleEndianPCM;
        SetChannelConfiguration(pcmio::ConfigurationForChannels(channels_));
    }
    return ReadFrameCount();
}

uint32_t CWAVEFile::UsableDataSize(uint32_t declared, uint32_t dataStart, uint32_t frameBytes) {
    declaredFrames_ = 0;
    int length = 0;
    if (XWQF::GetEOF(forkRef_, &length) != 0) length = 0;
    const uint32_t there =
        static_cast<uint32_t>(length) > dataStart ? static_cast<uint32_t>(length) - dataStart : 0;
    // Writers that cannot go back leave 0 or a large placeholder. A 0 is believed
    // when the RIFF size shows a finished header.
    const bool placeholder =
        declared == 0 ? riffEnd_ != static_cast<uint32_t>(length) : declared >= 0x80000000u;
    if (placeholder) return there;
    if (declared > there) {
        if (frameBytes) declaredFrames_ = declared / frameBytes;
        return there;
    }
    return declared;
}

OSErr CWAVEFile::ReadFrameCount() {
    ChunkHeader data;
    OSErr err = LocateChunk(kData, 1, &data);
    if (err == 0) {
        dataStart_ = static_cast<uint32_t>(data.dataOffset());
        const uint32_t bytes = UsableDataSize(data.size, dataStart_, BytesPerSample() * channels_);
        numFrames_ = bytes / BytesPerSample() / channels_;
        return 0;
    }
    if (err != kWAVENotFoundErr) return err;
    // No sample data: say whether it is kept in a wave list.
    for (short n = 1;; ++n) {
        ChunkHeader list;
        err = LocateChunk(kLIST, n, &list);
        if (err == kWAVENotFoundErr) return kWAVENoDataErr;
        if (err) return err;
        uint8_t raw[4];
        if (ReadAt(static_cast<uint32_t>(list.dataOffset()), raw, sizeof raw) == 0 && LoadBE32(raw) == kWavl)
            return kWAVEFragmentedDataErr;
    }
}

OSErr CWAVEFile::Writefmt() {
    std::vector<uint8_t> chunk;
    PutID(chunk, kFmt);
    Put32(chunk, 16);
    // A sample narrower than its bytes is declared with its own size.
    PutCommonFormat(chunk, kTagPCM, channels_, wordSize_, DeclaredBits(), sampleRate_);
    int n = static_cast<int>(chunk.size());
    return XWQF::Write(forkRef_, &n, chunk.data());
}

OSErr CWAVEFile::WritefmtExtended() { return WriteExtensibleFormat(kTagPCM); }

OSErr CWAVEFile::WriteExtensibleFormat(uint32_t subFormat) {
    std::vector<uint8_t> chunk;
    PutID(chunk, kFmt);
    Put32(chunk, 40);
    // The container's size as bits per sample, the sample's own as valid bits.
    PutCommonFormat(chunk, kTagExtensible, channels_, wordSize_, wordSize_, sampleRate_);
    Put16(chunk, 22);
    Put16(chunk, static_cast<uint16_t>(DeclaredBits()));
    Put32(chunk, ChannelConfiguration2Mask());
    Put32(chunk, subFormat);
    chunk.insert(chunk.end(), kGuidTail, kGuidTail + sizeof kGuidTail);
    int n = static_cast<int>(chunk.size());
    return XWQF::Write(forkRef_, &n, chunk.data());
}

// ---------------------------------------------------------------------------
// Channel masks and names

uint32_t CWAVEFile::ChannelConfiguration2Mask() {
    struct Row {
        ChannelConfiguration configuration;
        uint32_t channels;
        uint32_t mask;
    };
    static constexpr Row kRows[] = {
        {kLCR, 3, 0x7},   {kQuad, 4, 0x33}, {kLCRS, 4, 0x107}, {k50, 5, 0x37},
        {k51, 6, 0x3F},   {k60, 6, 0x137},  {k61, 7, 0x13F},   {k71, 8, 0xFF},
    };
    const ChannelConfiguration configuration = GetChannelConfiguration();
    for (const Row& row : kRows)
        if (row.configuration == configuration) return row.channels == channels_ ? row.mask : 0;
    return 0;
}

CSoundFile::ChannelConfiguration CWAVEFile::Mask2ChannelConfiguration(uint32_t mask) {
    switch (channels_) {
        case 3:
            if (Contains(mask, 0x7)) return kLCR;
            break;
        case 4:
            if (Contains(mask, 0x33)) return kQuad;
            if (Contains(mask, 0x1) && Contains(mask, 0x106)) return kLCRS;
            break;
        case 5:
            if (Contains(mask, 0x37)) return k50;
            break;
        case 6:
            if (Contains(mask, 0x3F)) return k51;
            if (Contains(mask, 0x1) && Contains(mask, 0x136)) return k60;
            break;
        case 7:
            if (Contains(mask, 0x13F)) return k61;
            break;
        case 8:
            if (Contains(mask, 0xFF)) return k71;
            break;
        default: break;
    }
    return kMultichannel;
}

std::string CWAVEFile::GetChannelName(short channel) {
    static const std::vector<std::vector<const char*>> kNames = {
        {"1"},
        {"Left", "Right"},
        {"Left", "Right", "Center"},
        {"Left", "Right", "Left surround", "Right surround"},
        {"Left", "Center", "Right", "Surround"},
        {"Left", "Right", "Left surround", "Right surround", "Center"},
        {"Left", "Right", "Center", "LFE", "Left surround", "Right surround"},
        {"Left", "Right", "Center", "Left surround", "Right surround", "Center surround"},
        {},
        {"Left", "Right", "Center", "LFE", "Left surround", "Right surround", "Left front narrow",
         "Right front narrow"},
    };
    const size_t index = channel < 0 ? 0 : static_cast<size_t>(channel);
    int configuration = GetChannelConfiguration();
    if (configuration == kNotSet) configuration = pcmio::ConfigurationForChannels(channels_);
    if (configuration >= 0 && static_cast<size_t>(configuration) < kNames.size() &&
        !kNames[static_cast<size_t>(configuration)].empty()) {
        const std::vector<const char*>& names = kNames[static_cast<size_t>(configuration)];
        return names[std::min(index, names.size() - 1)];
    }
    char text[16];
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(index + 1));
    return text;
}

// ---------------------------------------------------------------------------
// Opening

OSErr CWAVEFile::LocateData() {
    ChunkHeader data;
    if (OSErr err = LocateChunk(kData, 1, &data)) return err;
    dataStart_ = static_cast<uint32_t>(data.dataOffset());
    return 0;
}

OSErr CWAVEFile::Open() {
    if (IsOpen()) return kFileBusyErr;
    if (OSErr err = OpenForReading()) return err;
    if (OSErr err = ReadRiffHeader()) return riff::RiffHeaderStatus(err);
    const KeptChunks::Scope listed(chunks_, forkRef_, riff::Layout(riffEnd_));
    if (OSErr err = Readfmt()) return err;
    const OSErr extras = ReadExtras();
    if (!GetSkipBadRegion()) KillDuplicateRegionNames();
    if (extras) return extras;
    return LocateData();
}

OSErr CWAVEFile::GetOfflineInfo(OSErr* regionCount) {
    if (regionCount) *regionCount = 0;
    // An object in use keeps its fork and its description.
    if (IsOpen()) return kFileBusyErr;
    OSErr err = OpenForReading();
    if (err) return err;
    try {
        err = riff::RiffHeaderStatus(ReadRiffHeader());
        const KeptChunks::Scope listed(chunks_, err ? XWQF::kNoFork : forkRef_, riff::Layout(riffEnd_));
        if (err == 0) err = Readfmt();
        short count = 0;
        if (err == 0) err = ReadNumRegions(&count);
        if (err == 0 && regionCount) *regionCount = count;
        if (err == 0) err = ReadLoops();
    } catch (const error_code_exception& e) {
        err = static_cast<OSErr>(e.error_code());
    } catch (const std::bad_alloc&) {
        err = kMemFullErr;
    }
    return CloseAfterLook(err);
}

OSErr CWAVEFile::CloseAfterLook(OSErr err) {
    const OSErr closed = XWQF::CloseFork(forkRef_);
    forkRef_ = XWQF::kNoFork;
    open_ = false;
    return err ? err : closed;
}

// ---------------------------------------------------------------------------
// Markers, regions, loops and sampler data

OSErr CWAVEFile::ReadExtras() {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    try {
        ReadLoops();
        OSErr err = ReadInstrumentInfo();
        if (err && !IsNotFound(err)) return err;

        CueData cue;
        if ((err = ReadCueData(forkRef_, Locator(), &cue)) != 0) return err;
        if (cue.cueFound && !IsNotFound(cue.cueFound)) return cue.cueFound;
        OSErr pending = cue.cueFound;
        if (cue.cueFound == 0) {
            pending = cue.listFound;
            err = ADTLToExtras(cue.cue.data(), static_cast<uint32_t>(cue.cue.size()), cue.adtl.data(),
                               static_cast<uint32_t>(cue.adtl.size()));
            if (err && err != kEOFErr) pending = err;
        }
        if (GetNumRegions() == 0) {
            if ((err = AddWholeFileRegion()) != 0) return err;
        }
        return IsNotFound(pending) ? 0 : pending;
    } catch (const error_code_exception& e) {
        return static_cast<OSErr>(e.error_code());
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
}

OSErr CWAVEFile::ADTLToExtras(const uint8_t* cueChunk, uint32_t cueBytes, const uint8_t* data,
                              uint32_t size) {
    // The cue points the chunk really holds: bounded by its size and by its bytes.
    const std::vector<CuePoint> points = ReadCuePoints(cueChunk, cueBytes);
    std::vector<bool> referenced(points.size(), false);
    int32_t counter = 0;
    if (data && size > 4) {
        if (OSErr err = WalkAssociatedData(points, data, size, &referenced, &counter)) return err;
    }
    return AddUnlabelledCuePoints(points, referenced, &counter);
}

OSErr CWAVEFile::WalkAssociatedData(const std::vector<CuePoint>& points, const uint8_t* data,
                                    uint32_t size, std::vector<bool>* referenced, int32_t* counter) {
    const CuePointIndex byID(points);
    auto find = [&](const uint8_t* body) -> const CuePoint* {
        size_t index = 0;
        const CuePoint* point = byID.Find(LoadLE32(body), &index);
        if (point) (*referenced)[index] = true;
        return point;
    };
    const int64_t frames = numFrames_;
    return ForEachSubChunk(data, size, [&](uint32_t id, const uint8_t* body, uint32_t bytes) -> OSErr {
        if ((id == kLabl || id == kNote) && bytes >= 4) {
            const CuePoint* point = find(body);
            if (!point || markers_.size() >= kMaxMarkers) return 0;
            SFTMarker marker{};
            marker.id = *counter;
            marker.position = point->sampleOffset;
            NameFromText(body + 4, bytes - 4, marker.name);
            marker.type = 2;
            marker.number = -1;
            if (OSErr err = AddMarker(&marker)) return err;
            ++*counter;
        } else if (id == kLtxt && bytes >= 8) {
            const CuePoint* point = find(body);
            if (!point) return 0;
            int64_t start = static_cast<int32_t>(point->sampleOffset);
            int64_t end = start + LoadLE32(body + 4);
            bool add;
            if (!GetIgnoreRegionsContainingWholeFile()) {
                if (start < 0) {
                    start = 0;
                    end = frames;
                }
                add = start <= end && end <= frames;
            } else {
                const bool wholeFile = start == 0 && end == frames;
                add = !wholeFile && end >= start && start >= 0 && end <= frames;
            }
            if (add && regions_.size() < kMaxRegions) {
                SFTRegion region{};
                region.id = *counter;
                region.start = static_cast<int32_t>(start);
                region.end = static_cast<int32_t>(end);
                region.sync = region.start;
                region.timeStamp = 0;
                char name[40];
                std::snprintf(name, sizeof name, "Region nmbr %li", static_cast<long>(*counter));
                NameToField(name, region.name);
                if (OSErr err = AddRegion(&region)) return err;
            }
            ++*counter;
        }
        return 0;
    });
}

OSErr CWAVEFile::AddUnlabelledCuePoints(const std::vector<CuePoint>& points,
                                        const std::vector<bool>& referenced, int32_t* counter) {
    for (size_t i = 0; i < points.size(); ++i) {
        if (referenced[i]) continue;
        if (markers_.size() >= kMaxMarkers) break;
        SFTMarker marker{};
        marker.id = *counter;
        marker.position = points[i].sampleOffset;
        marker.type = 2;
        marker.number = -1;
        if (OSErr err = AddMarker(&marker)) return err;
        ++*counter;
    }
    return 0;
}

OSErr CWAVEFile::ReadNumRegions(short* count) {
    if (!count) return kParamErr;
    *count = 0;
    if (!IsOpen()) return kFileNotOpenBaseErr;
    try {
        std::vector<uint8_t> data;
        OSErr found = 0;
        if (OSErr err = ReadAssociatedData(forkRef_, Locator(), &data, &found)) return err;
        const uint32_t regions = CountRegionTexts(data);
        *count = static_cast<short>(std::min<uint32_t>(regions, INT16_MAX));
        return 0;
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
}

OSErr CWAVEFile::ReadLoops() {
    if (!loops_.empty()) return 0;
    ChunkHeader header;
    if (LocateChunk(kSmpl, 1, &header) != 0) return 0;
    ForkSource source(forkRef_);
    if (source.status()) return 0;
    const uint64_t there = AvailableChunkData(source, header);
    if (there < 36) return 0;
    uint8_t head[36];
    if (source.ReadAt(header.dataOffset(), head, sizeof head) != 0) return 0;
    const int32_t declared = static_cast<int32_t>(LoadLE32(head + 28));
    if (declared <= 0) return 0;
    // Only the loop records that lie inside the chunk are read.
    const uint64_t count = std::min<uint64_t>(
        {static_cast<uint64_t>(declared), (there - 36) / kLoopRecordBytes, kMaxListEntries});
    std::vector<uint8_t> records(static_cast<size_t>(count * kLoopRecordBytes));
    if (count && source.ReadAt(header.dataOffset() + 36, records.data(), records.size()) != 0)
        return 0;
    ByteView view(records.data(), records.size());
    ByteView record;
    for (int32_t i = 0; view.Sub(kLoopRecordBytes, &record); ++i) {
        SFTLoop loop{};
        loop.id = i;
        record.Skip(8);
        record.ReadU32LE(&loop.start);
        record.ReadU32LE(&loop.end);
        loop.type = 1;
        AddLoop(&loop);
    }
    return 0;
}

OSErr CWAVEFile::ReadInstrumentInfo() {
    ChunkHeader inst;
    if (OSErr err = LocateChunk(kInst, 1, &inst)) return err;
    // The seven bytes must lie inside the chunk and inside the file.
    if (inst.size < 7) return kWAVENotFoundErr;
    uint8_t raw[7];
    if (OSErr err = ReadAt(static_cast<uint32_t>(inst.dataOffset()), raw, sizeof raw))
        return err == kEOFErr ? OSErr(kWAVENotFoundErr) : err;
    SFTSamplerInfo info{};
    info.baseNote = static_cast<int8_t>(raw[0]);
    info.detune = static_cast<int8_t>(raw[1]);
    info.lowNote = static_cast<int8_t>(raw[3]);
    info.highNote = static_cast<int8_t>(raw[4]);
    info.lowVelocity = static_cast<int8_t>(raw[5]);
    info.highVelocity = static_cast<int8_t>(raw[6]);
    info.gain = 0;
    info.valid = 1;
    return SetSamplerInfo(&info);
}

OSErr CWAVEFile::WriteExtras() {
    if (GetNumMarkers() == 0 && GetNumRegions() == 0) return 0;
    try {
        std::vector<uint8_t> chunks;
        if (OSErr err = AppendWaveCueChunks(*this, &chunks)) return err;
        if (OSErr err = AppendAtEnd(chunks.data(), static_cast<int>(chunks.size()))) return err;
        if (OSErr err = WriteLoops()) return err;
        SFTSamplerInfo info;
        if (GetSamplerInfo(&info) == 0) return WriteInstrumentInfo();
        return 0;
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
}

OSErr CWAVEFile::WriteLoops() {
    const uint32_t loops = GetNumLoops();
    std::vector<uint8_t> chunk;
    PutID(chunk, kSmpl);
    Put32(chunk, 36 + kLoopRecordBytes * loops);
    for (int k = 0; k < 7; ++k) Put32(chunk, 0);
    Put32(chunk, loops);
    Put32(chunk, 0);
    for (uint32_t i = 0; i < loops; ++i) {
        SFTLoop loop;
        if (OSErr err = GetIndLoop(static_cast<uint16_t>(i), &loop)) return err;
        Put32(chunk, static_cast<uint32_t>(loop.id));
        Put32(chunk, 0);
        Put32(chunk, loop.start);
        Put32(chunk, loop.end);
        Put32(chunk, 0);
        Put32(chunk, 0);
    }
    return AppendAtEnd(chunk.data(), static_cast<int>(chunk.size()));
}

OSErr CWAVEFile::WriteInstrumentInfo() {
    SFTSamplerInfo info;
    if (OSErr err = GetSamplerInfo(&info)) return err;
    uint8_t raw[16] = {};
    StoreBE32(raw, kInst);
    StoreLE32(raw + 4, 7);
    raw[8] = static_cast<uint8_t>(info.baseNote);
    raw[9] = static_cast<uint8_t>(info.detune);
    raw[10] = 0;
    raw[11] = static_cast<uint8_t>(info.lowNote);
    raw[12] = static_cast<uint8_t>(info.highNote);
    raw[13] = static_cast<uint8_t>(info.lowVelocity);
    raw[14] = static_cast<uint8_t>(info.highVelocity);
    return AppendAtEnd(raw, sizeof raw);
}

OSErr CWAVEFile::WriteSpecialized() { return 0; }

// ---------------------------------------------------------------------------
// Creating and closing

OSErr CWAVEFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                        const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (channels < 1 || static_cast<uint32_t>(channels) > kMaxSoundFileChannels) return kParamErr;
    if (wordSize < 8 || wordSize > 32) return kIllegalWordSizeErr;
    // A size that is not whole bytes is written in the next whole byte, left-justified.
    const short container = pcmio::ContainerWordSize(wordSize);
    if (OSErr err = CreateWritable(channels, container, sampleRate, specifics, extension))
        return err;
    storedSampleBytes_ = 0;
    writtenBits_ = wordSize != container ? wordSize : 0;
    dataType_ = container == 8 ? kDataTypeUnsigned8 : kDataTypeLittleEndianPCM;
    riffEnd_ = kProvisionalContainerSize;

    uint8_t head[12];
    StoreBE32(head, kRIFF);
    StoreLE32(head + 4, kProvisionalContainerSize);
    StoreBE32(head + 8, kWAVE);
    int n = sizeof head;
    if (OSErr err = XWQF::Write(forkRef_, &n, head)) return err;
    if (OSErr err = channels < 3 ? Writefmt() : WritefmtExtended()) return err;
    uint8_t data[8];
    StoreBE32(data, kData);
    StoreLE32(data + 4, 0);
    n = sizeof data;
    if (OSErr err = XWQF::Write(forkRef_, &n, data)) return err;
    int position = 0;
    if (OSErr err = XWQF::GetPos(forkRef_, &position)) return err;
    dataStart_ = static_cast<uint32_t>(position);
    return 0;
}

OSErr CWAVEFile::FinishFile() {
    ChunkHeader data;
    OSErr result = LocateChunk(kData, 1, &data);
    // An odd number of data bytes is followed by a pad byte the size does
    // not count: the frame count stays what was written.
    if (result == 0 && dataStart_ + DataBytes() > static_cast<uint64_t>(XWQF::kMaxFileSize))
        result = kFileBoundsErr;
    if (result == 0) result = pcmio::WritePadByte(forkRef_, dataStart_, DataBytes());
    if (result == 0) {
        uint8_t raw[4];
        StoreLE32(raw, static_cast<uint32_t>(std::min<uint64_t>(DataBytes(), UINT32_MAX)));
        result = pcmio::WriteAt(forkRef_, static_cast<uint32_t>(data.offset + 4), raw, sizeof raw);
    }
    if (result == 0) result = WriteExtras();
    if (result == 0) result = WriteSpecialized();
    int length = 0;
    if (result == 0) result = XWQF::GetEOF(forkRef_, &length);
    if (result == 0) {
        uint8_t raw[4];
        result = ReadAt(0, raw, sizeof raw);
        if (result == kEOFErr || (result == 0 && LoadBE32(raw) != kRIFF)) result = kWAVENotFoundErr;
        if (result == 0) {
            StoreLE32(raw, static_cast<uint32_t>(length - 8));
            int n = sizeof raw;
            result = XWQF::Write(forkRef_, &n, raw);
        }
    }
    return result;
}

// ---------------------------------------------------------------------------
// Samples

void CWAVEFile::StoredToBuffer(unsigned char* data, uint64_t bytes) const {
    switch (BytesPerSample()) {
        case 1:
            for (uint64_t i = 0; i < bytes; ++i) data[i] ^= 0x80;
            break;
        case 2:
            pcmio::SwapLittleEndianSamples(data, bytes / 2, 2);
            break;
        case 4:
            if (dataType_ == kDataTypeFloatLittleEndian) {
                // Full scale ±1.0 becomes the 32-bit range, truncated toward zero.
                for (uint64_t i = 0; i + 3 < bytes; i += 4) {
                    const float f = std::bit_cast<float>(LoadLE32(data + i));
                    const int32_t v = pcmio::SaturatedInt32(static_cast<double>(f) * 2147483648.0);
                    std::memcpy(data + i, &v, 4);
                }
            } else {
                pcmio::SwapLittleEndianSamples(data, bytes / 4, 4);
            }
            break;
        default: break;
    }
}

void CWAVEFile::BufferToStored(unsigned char* data, uint64_t bytes) const {
    const uint32_t sampleBytes = BytesPerSample();
    if (writtenBits_ && sampleBytes)
        pcmio::ClearBelowValidBits(data, bytes / sampleBytes, sampleBytes, writtenBits_);
    if (sampleBytes == 4 && dataType_ == kDataTypeFloatLittleEndian) {
        for (uint64_t i = 0; i + 3 < bytes; i += 4) {
            int32_t v;
            std::memcpy(&v, data + i, 4);
            const float f = static_cast<float>(static_cast<double>(v) / 2147483648.0);
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            StoreLE32(data + i, bits);
        }
        return;
    }
    // The other forms are their own inverse.
    StoredToBuffer(data, bytes);
}
