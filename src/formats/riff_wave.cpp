#include "formats/riff_wave.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "foundation/xwqf.h"

namespace riff {

// ---------------------------------------------------------------------------
// The chunk search

uint32_t RiffEnd(uint32_t size) {
    return (size == 0 || size > kProvisionalContainerSize - 8) ? kProvisionalContainerSize
                                                              : size + 8;
}

ChunkLayout Layout(uint64_t end) {
    ChunkLayout layout;
    layout.limit = std::max<uint64_t>(end, layout.first + 1);
    layout.order = ByteOrder::kLittle;
    return layout;
}

OSErr SearchStatus(ChunkSearch result, OSErr error) {
    switch (result) {
        case ChunkSearch::kFound: return 0;
        case ChunkSearch::kBadSize: return kRIFFBadChunkSizeErr;
        case ChunkSearch::kReadFailed: return error;
        case ChunkSearch::kNotThere:
        case ChunkSearch::kTooMany: break;
    }
    return kRIFFNotFoundErr;
}

OSErr LocateChunk(ByteSource& source, uint64_t end, uint32_t id, unsigned occurrence,
                  ChunkHeader* found) {
    if (occurrence < 1) return kRIFFNotFoundErr;
    OSErr error = 0;
    return SearchStatus(SearchChunk(source, Layout(end), id, occurrence, found, &error), error);
}

OSErr ProbeChunk(ByteSource& source, uint32_t id, unsigned occurrence, ChunkHeader* found) {
    return LocateChunk(source, source.Size(), id, occurrence, found);
}

OSErr FindList(int fork, const ChunkLocator& locate, uint32_t type, ChunkHeader* list) {
    ForkSource source(fork);
    for (unsigned n = 1;; ++n) {
        if (OSErr err = locate(kLIST, n, list)) return err;
        uint8_t raw[4];
        if (list->size >= 4 && source.ReadAt(list->dataOffset(), raw, sizeof raw) == 0 &&
            LoadBE32(raw) == type)
            return 0;
    }
}

// ---------------------------------------------------------------------------
// Cue points and associated data

std::vector<CuePoint> ReadCuePoints(const uint8_t* chunk, size_t bytes) {
    std::vector<CuePoint> points;
    ByteView cue(chunk, bytes);
    uint32_t declared = 0, listed = 0;
    if (!cue.Skip(4) || !cue.ReadU32LE(&declared) || !cue.ReadU32LE(&listed)) return points;
    const uint64_t bySize = declared >= 4 ? (declared - 4) / kCuePointBytes : 0;
    const uint64_t count =
        std::min<uint64_t>({listed, bySize, cue.remaining() / kCuePointBytes, kMaxListEntries});
    points.reserve(static_cast<size_t>(count));
    ByteView point;
    for (uint64_t i = 0; i < count && cue.Sub(kCuePointBytes, &point); ++i) {
        // ID, position, the chunk holding the frame, two offsets, the frame.
        CuePoint p;
        point.ReadU32LE(&p.id);
        point.ReadU32LE(&p.position);
        point.Skip(12);
        point.ReadU32LE(&p.sampleOffset);
        points.push_back(p);
    }
    return points;
}

CuePointIndex::CuePointIndex(const std::vector<CuePoint>& points) : points_(points) {
    byID_.reserve(points.size());
    for (size_t i = 0; i < points.size(); ++i) byID_.emplace(points[i].id, i);
}

const CuePoint* CuePointIndex::Find(uint32_t id, size_t* index) const {
    const auto at = byID_.find(id);
    if (at == byID_.end()) return nullptr;
    if (index) *index = at->second;
    return &points_[at->second];
}

OSErr ForEachSubChunk(const uint8_t* data, uint32_t size,
                      const std::function<OSErr(uint32_t id, const uint8_t* body, uint32_t bytes)>& f) {
    MemorySource source(data, size);
    ChunkWalker walker(source, 0, size, ByteOrder::kLittle, true);
    ChunkHeader header;
    while (walker.Next(&header) == ChunkWalker::kHeader) {
        const uint64_t bytes = AvailableChunkData(source, header);
        if (OSErr err = f(header.id, data + header.dataOffset(), static_cast<uint32_t>(bytes))) return err;
        if (!walker.Advance()) break;
    }
    return 0;
}

uint32_t CountRegionTexts(const std::vector<uint8_t>& adtl) {
    uint32_t regions = 0;
    ForEachSubChunk(adtl.data(), static_cast<uint32_t>(adtl.size()),
                    [&](uint32_t id, const uint8_t*, uint32_t) -> OSErr {
                        if (id == kLtxt) ++regions;
                        return 0;
                    });
    return regions;
}

void NameFromText(const uint8_t* text, size_t room, unsigned char (&field)[32]) {
    const void* nul = std::memchr(text, 0, room);
    size_t length = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - text) : room;
    length = std::min<size_t>(length, 31);
    std::memset(field, 0, sizeof field);
    field[0] = static_cast<unsigned char>(length);
    if (length) std::memcpy(field + 1, text, length);
}

OSErr ReadAssociatedData(int fork, const ChunkLocator& locate, std::vector<uint8_t>* data,
                         OSErr* found) {
    data->clear();
    ChunkHeader list;
    const OSErr err = FindList(fork, locate, kAdtl, &list);
    *found = err;
    if (err) return IsNotFound(err) ? OSErr(0) : err;
    ForkSource source(fork);
    if (source.status()) return source.status();
    // The data begins after the list's type.
    const uint64_t at = list.dataOffset() + 4;
    const uint64_t there = source.Size() > at ? source.Size() - at : 0;
    const uint64_t n = std::min<uint64_t>({list.size - 4u, there, kMaxAssociatedDataBytes});
    data->resize(static_cast<size_t>(n));
    if (n == 0) return 0;
    return source.ReadAt(at, data->data(), data->size());
}

OSErr ReadCueData(int fork, const ChunkLocator& locate, CueData* out) {
    out->cue.clear();
    out->adtl.clear();
    out->listFound = kRIFFNotFoundErr;
    ChunkHeader header;
    out->cueFound = locate(kCue, 1, &header);
    if (out->cueFound) return 0;
    ForkSource source(fork);
    if (source.status()) return source.status();
    // The header and as many whole cue points as the lists can take.
    std::vector<uint8_t> body;
    if (OSErr err = ReadChunkData(source, header, 4 + kCuePointBytes * kMaxListEntries, &body))
        return err;
    out->cue.resize(8);
    StoreBE32(out->cue.data(), kCue);
    StoreLE32(out->cue.data() + 4, header.size);
    out->cue.insert(out->cue.end(), body.begin(), body.end());
    return ReadAssociatedData(fork, locate, &out->adtl, &out->listFound);
}

}  // namespace riff

// ---------------------------------------------------------------------------
// Writing

using riff::kAdtl;
using riff::kCue;
using riff::kCuePointBytes;
using riff::kData;
using riff::kLabl;
using riff::kLIST;
using riff::kLtxt;
using riff::kRgn;
using riff::Put16;
using riff::Put32;
using riff::PutID;

OSErr AppendWaveCueChunks(CSoundFile& file, std::vector<uint8_t>* out) {
    const uint32_t markers = file.GetNumMarkers();
    const uint32_t regions = file.GetNumRegions();
    if (markers == 0 && regions == 0) return 0;
    try {
        std::vector<uint8_t>& chunk = *out;
        PutID(chunk, kCue);
        Put32(chunk, 4 + kCuePointBytes * (markers + regions));
        Put32(chunk, markers + regions);
        auto putPoint = [&](uint32_t id, uint32_t position) {
            Put32(chunk, id);
            Put32(chunk, position);
            PutID(chunk, kData);
            Put32(chunk, 0);
            Put32(chunk, 0);
            Put32(chunk, position);
        };
        std::vector<SFTMarker> markerList(markers);
        std::vector<SFTRegion> regionList(regions);
        for (uint32_t i = 0; i < markers; ++i) {
            if (OSErr err = file.GetIndMarker(static_cast<uint16_t>(i), &markerList[i])) return err;
            putPoint(i, markerList[i].position);
        }
        for (uint32_t j = 0; j < regions; ++j) {
            if (OSErr err = file.GetIndRegion(static_cast<uint16_t>(j), &regionList[j])) return err;
            putPoint(markers + j, static_cast<uint32_t>(regionList[j].start));
        }

        // Labels name the markers; labelled texts give the regions' lengths.
        const size_t listStart = chunk.size();
        PutID(chunk, kLIST);
        PutID(chunk, FourCC("size"));
        PutID(chunk, kAdtl);
        for (uint32_t i = 0; i < markers; ++i) {
            const unsigned char* name = markerList[i].name;
            const uint32_t length = std::min<uint32_t>(name[0], 31);
            PutID(chunk, kLabl);
            Put32(chunk, 4 + length + 1);
            Put32(chunk, i);
            chunk.insert(chunk.end(), name + 1, name + 1 + length);
            chunk.push_back(0);
            if ((length + 1) & 1) chunk.push_back(0);
        }
        for (uint32_t j = 0; j < regions; ++j) {
            PutID(chunk, kLtxt);
            Put32(chunk, 20);
            Put32(chunk, markers + j);
            Put32(chunk, static_cast<uint32_t>(regionList[j].end - regionList[j].start));
            PutID(chunk, kRgn);
            for (int k = 0; k < 4; ++k) Put16(chunk, 0);
        }
        StoreLE32(chunk.data() + listStart + 4, static_cast<uint32_t>(chunk.size() - listStart - 8));
        return 0;
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
}
