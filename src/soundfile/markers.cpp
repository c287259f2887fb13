// Markers, loops, regions and gaps: the list objects, the record comparisons and
// the list operations of CSoundFile.
#include "soundfile/markers.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/log.h"
#include "foundation/pstring.h"
#include "soundfile/progress.h"
#include "soundfile/sound_file.h"

namespace {

// Longest name a record's 32-byte field holds.
constexpr size_t kFieldNameMax = 31;
// Longest region name kept, so that a suffix or a terminator still fits.
constexpr size_t kRegionNameMax = 30;
// Longest name of the region made over a whole file.
constexpr size_t kWholeFileRegionNameMax = 29;
// The most entries the 16-bit index operations reach.
constexpr size_t kMaxIndexed = 0xFFFF;

// Characters (code points) of UTF-8 text: bytes that do not continue a sequence.
size_t CharacterCount(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

// The first `count` characters of UTF-8 text.
std::string FirstCharacters(const std::string& text, size_t count) {
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == count) return text.substr(0, i);
            ++seen;
        }
    }
    return text;
}

// Length and bytes of a field's Pascal name, bounded by the field.
size_t FieldLength(const unsigned char (&field)[32]) {
    return std::min<size_t>(field[0], kFieldNameMax);
}

bool EqualFieldNames(const unsigned char (&a)[32], const unsigned char (&b)[32]) {
    const size_t n = FieldLength(a);
    return n == FieldLength(b) && std::memcmp(a + 1, b + 1, n) == 0;
}

uint16_t Count16(size_t n) { return static_cast<uint16_t>(std::min(n, kMaxIndexed)); }

int CompareSigned(uint32_t a, uint32_t b) {
    const int32_t x = static_cast<int32_t>(a), y = static_cast<int32_t>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char line[512];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    return line;
}

}  // namespace

// ---------------------------------------------------------------------------
// Names in fixed fields

std::string NameFromField(const unsigned char (&field)[32]) {
    return MacRomanToUtf8(std::string(reinterpret_cast<const char*>(field + 1), FieldLength(field)));
}

void NameToField(const std::string& name, unsigned char (&field)[32]) {
    std::string bytes = Utf8ToMacRoman(name);
    if (bytes.size() > kFieldNameMax) bytes.resize(kFieldNameMax);
    std::memset(field, 0, sizeof field);
    field[0] = static_cast<unsigned char>(bytes.size());
    std::memcpy(field + 1, bytes.data(), bytes.size());
}

// ---------------------------------------------------------------------------
// Record comparisons

bool EqualMarker(const SFTMarker& a, const SFTMarker& b) {
    return a.id == b.id && a.position == b.position && EqualFieldNames(a.name, b.name);
}

bool EqualLoop(const SFTLoop& a, const SFTLoop& b) {
    return a.id == b.id && a.start == b.start && a.end == b.end && a.type == b.type;
}

bool EqualRegion(const SFTRegion& a, const SFTRegion& b) {
    return a.id == b.id && a.start == b.start && a.end == b.end && a.sync == b.sync &&
           EqualFieldNames(a.name, b.name);
}

// ---------------------------------------------------------------------------
// List objects

QFMarker::QFMarker(const SFTMarker& m)
    : markerID(m.id), position(m.position), type(m.type), number(m.number), name(NameFromField(m.name)) {}

void QFMarker::getMarker(SFTMarker* m) const {
    if (!m) return;
    m->id = markerID;
    m->position = position;
    m->type = type;
    m->number = number;
    NameToField(name, m->name);
}

int QFMarker::compare(const QFMarker* o) const { return o ? CompareSigned(position, o->position) : -1; }

std::string QFMarker::description() const {
    return Format("QFMarker <%p> id: %d position: %u type: %d number: %d name: %s",
                  static_cast<const void*>(this), markerID, position, type, number, name.c_str());
}

QFLoop::QFLoop(const SFTLoop& l) : loopID(l.id), start(l.start), end(l.end), type(l.type) {}

void QFLoop::getLoop(SFTLoop* l) const {
    if (!l) return;
    l->id = loopID;
    l->start = start;
    l->end = end;
    l->type = type;
}

int QFLoop::compare(const QFLoop* o) const {
    if (!o) return -1;
    return start < o->start ? -1 : (start > o->start ? 1 : 0);
}

std::string QFLoop::description() const {
    return Format("QFLoop <%p> id: %d start: %u end: %u type: %d", static_cast<const void*>(this),
                  loopID, start, end, type);
}

QFRegion::QFRegion(const SFTRegion& r)
    : regionID(r.id),
      start(static_cast<uint32_t>(r.start)),
      end(static_cast<uint32_t>(r.end)),
      sync(static_cast<uint32_t>(r.sync)),
      // The record's stamp is the low word; the high word stays 0.
      timeStamp(static_cast<int64_t>(static_cast<uint32_t>(r.timeStamp))),
      name(NameFromField(r.name)) {}

void QFRegion::getRegion(SFTRegion* r) const {
    if (!r) return;
    r->id = regionID;
    r->start = static_cast<int32_t>(start);
    r->end = static_cast<int32_t>(end);
    r->sync = static_cast<int32_t>(sync);
    r->timeStamp = static_cast<int32_t>(timeStampLow());
    NameToField(name, r->name);
}

int QFRegion::compare(const QFRegion* o) const { return o ? CompareSigned(start, o->start) : -1; }

std::string QFRegion::description() const {
    return Format("QFRegion <%p> id: %d start: %u end: %u sync: %u time stamp: %lld name: %s",
                  static_cast<const void*>(this), regionID, start, end, sync,
                  static_cast<long long>(timeStamp), name.c_str());
}

// ---------------------------------------------------------------------------
// Markers

uint16_t CSoundFile::GetNumMarkers() { return Count16(markers_.size()); }

OSErr CSoundFile::GetIndMarker(uint16_t index, SFTMarker* marker) {
    if (index >= markers_.size()) return kNoSuchMarkerErr;
    if (!marker) return kParamErr;
    markers_[index]->getMarker(marker);
    return 0;
}

QFMarkerPtr CSoundFile::GetIndMarker(uint32_t index) {
    return index < markers_.size() ? markers_[index] : nullptr;
}

OSErr CSoundFile::GetMarkerByID(long id, SFTMarker* marker) {
    const int32_t wanted = static_cast<int32_t>(id);
    for (const QFMarkerPtr& m : markers_) {
        if (m->markerID == wanted) {
            if (!marker) return kParamErr;
            m->getMarker(marker);
            return 0;
        }
    }
    return kNoSuchMarkerErr;
}

OSErr CSoundFile::AddMarker(const SFTMarker* record) {
    if (!record) return kParamErr;
    auto marker = std::make_shared<QFMarker>(*record);
    for (const QFMarkerPtr& m : markers_)
        if (m->isEqual(*marker)) return 0;
    // Kept in ascending ID order; a taken ID gives way to one past the last.
    auto at = std::find_if(markers_.begin(), markers_.end(),
                           [&](const QFMarkerPtr& m) { return m->markerID >= marker->markerID; });
    if (at == markers_.end()) {
        markers_.push_back(marker);
    } else if ((*at)->markerID != marker->markerID) {
        markers_.insert(at, marker);
    } else {
        marker->markerID =
            static_cast<int32_t>(static_cast<uint32_t>(markers_.back()->markerID) + 1u);
        markers_.push_back(marker);
    }
    return 0;
}

OSErr CSoundFile::RemoveMarker(const SFTMarker* record) {
    if (!record) return kParamErr;
    const QFMarker probe(*record);
    auto at = std::find_if(markers_.begin(), markers_.end(),
                           [&](const QFMarkerPtr& m) { return m->isEqual(probe); });
    if (at == markers_.end()) return kNoSuchMarkerErr;
    markers_.erase(at);
    return 0;
}

std::vector<QFMarkerPtr>& CSoundFile::GetMarkerList() { return markers_; }

// ---------------------------------------------------------------------------
// Loops

uint16_t CSoundFile::GetNumLoops() { return Count16(loops_.size()); }

OSErr CSoundFile::GetIndLoop(uint16_t index, SFTLoop* loop) {
    if (index >= loops_.size()) return kNoSuchLoopErr;
    if (!loop) return kParamErr;
    loops_[index]->getLoop(loop);
    return 0;
}

QFLoopPtr CSoundFile::GetIndLoop(uint32_t index) {
    return index < loops_.size() ? loops_[index] : nullptr;
}

OSErr CSoundFile::AddLoop(const SFTLoop* record) {
    if (!record) return kParamErr;
    CORVANE_DLOG("CSoundFile::AddLoop type:" << record->type);
    loops_.push_back(std::make_shared<QFLoop>(*record));
    return 0;
}

OSErr CSoundFile::RemoveLoop(const SFTLoop* record) {
    if (!record) return kParamErr;
    const QFLoop probe(*record);
    auto at = std::find_if(loops_.begin(), loops_.end(),
                           [&](const QFLoopPtr& l) { return l->isEqual(probe); });
    if (at == loops_.end()) return kNoSuchLoopErr;
    loops_.erase(at);
    return 0;
}

std::vector<QFLoopPtr>& CSoundFile::GetLoopList() { return loops_; }

// ---------------------------------------------------------------------------
// Duplicates

OSErr CSoundFile::RemoveDuplicates() {
    // Markers. Adding never lets a duplicate in, so first look whether any is
    // there at all; only then thin the list out pair by pair.
    {
        const uint16_t n = GetNumMarkers();
        std::vector<SFTMarker> records(n);
        for (uint16_t i = 0; i < n; ++i)
            if (OSErr e = GetIndMarker(i, &records[i])) return e;
        auto key = [](const SFTMarker& m) {
            return std::make_tuple(m.id, m.position,
                                   std::string(reinterpret_cast<const char*>(m.name + 1),
                                               FieldLength(m.name)));
        };
        std::vector<decltype(key(SFTMarker{}))> keys;
        keys.reserve(n);
        for (const SFTMarker& m : records) keys.push_back(key(m));
        std::sort(keys.begin(), keys.end());
        const bool any = std::adjacent_find(keys.begin(), keys.end()) != keys.end();
        bool removed = any;
        while (removed) {
            removed = false;
            const uint16_t count = GetNumMarkers();
            for (uint16_t i = 0; i < count && !removed; ++i) {
                SFTMarker a;
                if (OSErr e = GetIndMarker(i, &a)) return e;
                for (uint16_t j = 0; j < count; ++j) {
                    if (j == i) continue;
                    SFTMarker b;
                    if (OSErr e = GetIndMarker(j, &b)) return e;
                    if (EqualMarker(a, b)) {
                        if (OSErr e = RemoveMarker(&b)) return e;
                        removed = true;
                        break;
                    }
                }
            }
        }
    }
    // Loops. Removing one of a pair always takes the first listed of its group,
    // so each group ends with its last entry: remove the earlier ones in order.
    {
        const uint16_t n = GetNumLoops();
        std::vector<SFTLoop> records(n);
        for (uint16_t i = 0; i < n; ++i)
            if (OSErr e = GetIndLoop(i, &records[i])) return e;
        std::vector<std::tuple<int32_t, uint32_t, uint32_t, int16_t, uint32_t>> keys;
        keys.reserve(n);
        for (uint32_t i = 0; i < n; ++i)
            keys.emplace_back(records[i].id, records[i].start, records[i].end, records[i].type, i);
        std::sort(keys.begin(), keys.end());
        std::vector<bool> drop(n, false);
        for (size_t k = 0; k + 1 < keys.size(); ++k) {
            const auto& a = keys[k];
            const auto& b = keys[k + 1];
            if (std::get<0>(a) == std::get<0>(b) && std::get<1>(a) == std::get<1>(b) &&
                std::get<2>(a) == std::get<2>(b) && std::get<3>(a) == std::get<3>(b))
                drop[std::get<4>(a)] = true;  // not the last of its group
        }
        for (uint32_t i = 0; i < n; ++i)
            if (drop[i])
                if (OSErr e = RemoveLoop(&records[i])) return e;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Regions

uint16_t CSoundFile::GetNumRegions() { return Count16(regions_.size()); }

OSErr CSoundFile::GetIndRegion(uint16_t index, SFTRegion* region) {
    if (index >= regions_.size()) return kNoSuchRegionErr;
    if (!region) return kParamErr;
    regions_[index]->getRegion(region);
    return 0;
}

QFRegionPtr CSoundFile::GetIndRegion(uint32_t index) {
    return index < regions_.size() ? regions_[index] : nullptr;
}

OSErr CSoundFile::AddRegion(const SFTRegion* record) {
    if (!record) return kParamErr;
    std::string name = NameFromField(record->name);
    if (CharacterCount(name) > kRegionNameMax) name = FirstCharacters(name, kRegionNameMax);

    auto region = std::make_shared<QFRegion>();
    region->regionID = record->id;
    // Both ends lie within the file, so that no region ends before it starts
    // because of its start alone.
    const uint32_t start = record->start < 0 ? 0u : static_cast<uint32_t>(record->start);
    region->start = std::min(start, numFrames_);
    region->end = std::min(static_cast<uint32_t>(record->end), numFrames_);
    region->sync = static_cast<uint32_t>(record->sync);
    region->timeStamp = record->timeStamp;
    region->name = name;

    for (const QFRegionPtr& r : regions_)
        if (r->isEqual(*region)) return 0;

    if (allRegionNames_.count(name))
        duplicateRegionNames_.insert(name);
    else
        allRegionNames_.insert(name);
    regions_.push_back(region);
    std::stable_sort(regions_.begin(), regions_.end(),
                     [](const QFRegionPtr& a, const QFRegionPtr& b) { return a->compare(b.get()) < 0; });
    return 0;
}

OSErr CSoundFile::RemoveRegion(const SFTRegion* record) {
    if (!record) return kParamErr;
    const QFRegion probe(*record);
    auto at = std::find_if(regions_.begin(), regions_.end(),
                           [&](const QFRegionPtr& r) { return r->isEqual(probe); });
    if (at == regions_.end()) return kNoSuchRegionErr;
    const std::string name = (*at)->name;
    regions_.erase(at);
    allRegionNames_.erase(name);
    duplicateRegionNames_.erase(name);
    return 0;
}

bool CSoundFile::IsRegion(uint32_t start, uint32_t end, QFRegionPtr* region) {
    for (const QFRegionPtr& r : regions_) {
        if (r->start == start && r->end == end) {
            if (region) *region = r;
            return true;
        }
    }
    return false;
}

std::vector<QFRegionPtr>& CSoundFile::GetRegionList() { return regions_; }

OSErr CSoundFile::KillBadRegionNames() {
    static const unsigned char kStep[] = "\x1CLooking for bad region names";
    SetProgressStepWithoutSRC(kStep, 0);
    for (const QFRegionPtr& r : regions_) {
        std::string cleaned = r->name;
        std::replace(cleaned.begin(), cleaned.end(), ':', '-');
        std::replace(cleaned.begin(), cleaned.end(), '/', '-');
        if (cleaned == r->name) continue;
        allRegionNames_.erase(r->name);
        duplicateRegionNames_.erase(r->name);
        r->name = cleaned;
        if (allRegionNames_.count(cleaned))
            duplicateRegionNames_.insert(cleaned);
        else
            allRegionNames_.insert(cleaned);
    }
    return 0;
}

OSErr CSoundFile::KillDuplicateRegionNames() {
    if (OSErr e = KillBadRegionNames()) return e;
    if (duplicateRegionNames_.empty()) return 0;
    const std::set<std::string> duplicates = duplicateRegionNames_;
    for (const std::string& duplicate : duplicates) {
        unsigned long k = 1;
        for (const QFRegionPtr& r : regions_) {
            if (r->name != duplicate) continue;
            std::string candidate;
            do {
                const std::string suffix = "#" + std::to_string(k++);
                const size_t suffixLength = suffix.size();
                if (CharacterCount(duplicate) + suffixLength > kRegionNameMax)
                    candidate = FirstCharacters(duplicate, kRegionNameMax - suffixLength) + suffix;
                else
                    candidate = duplicate + suffix;
            } while (allRegionNames_.count(candidate));
            r->name = candidate;
            allRegionNames_.insert(candidate);
        }
    }
    duplicateRegionNames_.clear();
    return 0;
}

OSErr CSoundFile::AddWholeFileRegion() {
    if (!GetProcessFileIfNoRegions()) return 0;
    SFTRegion region{};
    region.id = 0;
    region.start = 0;
    region.end = static_cast<int32_t>(numFrames_);
    region.sync = 0;
    region.timeStamp = 0;
    NameToField(FirstCharacters(base_name(), kWholeFileRegionNameMax), region.name);
    return AddRegion(&region);
}

OSErr CSoundFile::GetNextBlock(uint32_t from, uint32_t* start, uint32_t* end) {
    if (!start || !end) return kParamErr;
    *end = 0;
    if (GetNumRegions() == 0) return kNoMoreRegionsErr;

    // The first region that starts at or after `from`, both taken as signed, so
    // that a walk can begin at -1. The objects are read, not the records: a
    // block walk over many regions then costs no name conversions.
    uint32_t index = 0;
    QFRegionPtr region;
    for (;; ++index) {
        region = GetIndRegion(index);
        if (!region) return kNoMoreRegionsErr;
        if (static_cast<int32_t>(region->start) >= static_cast<int32_t>(from)) break;
    }
    *start = region->start;
    *end = region->end;

    // Overlapping followers join the block; one that starts at its end does not.
    for (++index;; ++index) {
        region = GetIndRegion(index);
        if (!region || region->start >= *end) break;
        *end = std::max(*end, region->end);
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Gaps

OSErr CSoundFile::AddGap(int32_t start, int32_t end) {
    gaps_.push_back(start);
    gaps_.push_back(end);
    return 0;
}

OSErr CSoundFile::GetGap(uint32_t index, int32_t* start, int32_t* end) {
    const uint64_t second = 2ull * index + 1;
    if (gaps_.size() <= second) return kNoSuchGapErr;
    if (start) *start = gaps_[2ull * index];
    if (end) *end = gaps_[second];
    return 0;
}
