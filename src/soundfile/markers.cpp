// Markers, loops, regions and gaps: the list objects, the record comparisons and
// the list operations of CSoundFile.
#include "soundfile/markers.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
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

// Ordering of regions: by start as a signed number.
bool StartsEarlier(const QFRegionPtr& a, const QFRegionPtr& b) {
    return static_cast<int32_t>(a->start) < static_cast<int32_t>(b->start);
}

// Where a marker belongs in its list. A marker whose ID exceeds the IDs of all
// markers before it leads: a new marker is always placed right before the first
// leader whose ID is not smaller than its own, and so leads too. A marker that does
// not lead stays right behind the nearest leader before it, after the other markers
// there. Its rank packs, from the top, the ID of its leader (its own when it
// leads), whether it follows, and a serial number of arrival: ranks in ascending
// order give the list's order.
struct MarkerPlace {
    uint64_t rank;
    const QFMarker* object;
};

// Serial numbers fit below bit 31; the index is renumbered before they run out.
constexpr uint64_t kMaxSerial = 0x7FFFFFFFu;

uint64_t MarkerRank(int32_t anchor, bool follower, uint64_t serial) {
    return (uint64_t{static_cast<uint32_t>(anchor) ^ 0x80000000u} << 32) | (uint64_t{follower} << 31) | serial;
}

// Markers are equal by position and name: one key holds both.
std::string MarkerIdentity(const QFMarker& m) {
    std::string key(sizeof m.position, '\0');
    std::memcpy(key.data(), &m.position, sizeof m.position);
    return key += m.name;
}

// Regions are equal by start and end.
uint64_t RegionIdentity(const QFRegion& r) { return (uint64_t{r.start} << 32) | r.end; }

// How a list looked when its index was last brought up to date: changes made
// from outside (through GetMarkerList, say) show in its size or its ends.
struct ListShape {
    size_t size = 0;
    const void* front = nullptr;
    const void* back = nullptr;

    template <class T>
    static ListShape Of(const std::vector<std::shared_ptr<T>>& list) {
        if (list.empty()) return {};
        return {list.size(), list.front().get(), list.back().get()};
    }
    bool operator==(const ListShape&) const = default;
};

}  // namespace

// Indexes over the marker and region lists. Each is trusted only while `known` is
// set and the list still has the shape the index last saw; handing out the list or
// one of its objects clears `known`, and the next addition rebuilds the index
// from the list as it then stands. Entries from `inPlace` on were appended out of
// order and are merged into place when the order is next asked for.
struct SoundFileListIndex {
    // Markers.
    bool markersKnown = false;
    size_t markersInPlace = 0;
    uint64_t nextSerial = 0;
    std::vector<MarkerPlace> markerPlaces;  // parallel to the list
    std::set<int32_t> leaders;              // IDs of the leading markers
    std::unordered_map<std::string, uint32_t> markerCounts;  // by MarkerIdentity
    int32_t lastMarkerID = 0;               // ID of the marker that ends the list

    // Regions.
    bool regionsKnown = false;
    size_t regionsInPlace = 0;
    bool sortRegionsOnAdd = false;  // the list was found unsorted: the next addition sorts it
    ListShape regionShape;
    std::unordered_map<uint64_t, uint32_t> regionCounts;  // by RegionIdentity

    bool MarkersMatch(const std::vector<QFMarkerPtr>& list) const {
        return markersKnown && markerPlaces.size() == list.size() &&
               (list.empty() || (list.front().get() == markerPlaces.front().object &&
                                 list.back().get() == markerPlaces.back().object));
    }

    void IndexMarkers(const std::vector<QFMarkerPtr>& list) {
        markerPlaces.clear();
        markerPlaces.reserve(list.size());
        leaders.clear();
        markerCounts.clear();
        nextSerial = 0;
        bool any = false;
        int32_t highest = 0;
        for (const QFMarkerPtr& m : list) {
            ++markerCounts[MarkerIdentity(*m)];
            const bool leads = !any || m->markerID > highest;
            if (leads) {
                any = true;
                highest = m->markerID;
                leaders.insert(leaders.end(), highest);
            }
            markerPlaces.push_back({MarkerRank(highest, !leads, nextSerial++), m.get()});
        }
        lastMarkerID = list.empty() ? 0 : list.back()->markerID;
        markersInPlace = list.size();
        markersKnown = true;
    }

    // Merges the waiting markers into place; a list changed from outside is taken
    // as it stands.
    void PlaceMarkers(std::vector<QFMarkerPtr>& list) {
        if (!markersKnown) return;
        bool intact = MarkersMatch(list);
        for (size_t i = markersInPlace; intact && i < list.size(); ++i)
            intact = list[i].get() == markerPlaces[i].object;
        if (!intact) {
            markersKnown = false;
            return;
        }
        if (markersInPlace == list.size()) return;
        // Rank and position together, so that plain comparisons sort them.
        std::vector<unsigned __int128> order;
        order.reserve(list.size());
        for (size_t i = 0; i < list.size(); ++i)
            order.push_back((static_cast<unsigned __int128>(markerPlaces[i].rank) << 64) | i);
        const auto middle = order.begin() + static_cast<std::ptrdiff_t>(markersInPlace);
        std::stable_sort(middle, order.end());  // a merge sort: no bad orders
        std::inplace_merge(order.begin(), middle, order.end());
        std::vector<QFMarkerPtr> markers;
        std::vector<MarkerPlace> places;
        markers.reserve(list.size());
        places.reserve(list.size());
        for (unsigned __int128 entry : order) {
            const size_t i = static_cast<size_t>(static_cast<uint64_t>(entry));
            markers.push_back(std::move(list[i]));
            places.push_back(markerPlaces[i]);
        }
        list.swap(markers);
        markerPlaces.swap(places);
        markersInPlace = list.size();
    }

    void IndexRegions(const std::vector<QFRegionPtr>& list) {
        regionCounts.clear();
        for (const QFRegionPtr& r : list) ++regionCounts[RegionIdentity(*r)];
        sortRegionsOnAdd = !std::is_sorted(list.begin(), list.end(), StartsEarlier);
        regionsInPlace = list.size();
        regionShape = ListShape::Of(list);
        regionsKnown = true;
    }

    // Merges the waiting regions into place, after those with the same start;
    // a list changed from outside is taken as it stands.
    void PlaceRegions(std::vector<QFRegionPtr>& list) {
        if (!regionsKnown) return;
        if (!(regionShape == ListShape::Of(list))) {
            regionsKnown = false;
            return;
        }
        if (regionsInPlace == list.size()) return;
        const auto middle = list.begin() + static_cast<std::ptrdiff_t>(regionsInPlace);
        std::stable_sort(middle, list.end(), StartsEarlier);
        std::inplace_merge(list.begin(), middle, list.end(), StartsEarlier);
        regionsInPlace = list.size();
        regionShape = ListShape::Of(list);
    }
};

namespace {

SoundFileListIndex& IndexOf(std::shared_ptr<SoundFileListIndex>& index) {
    if (!index) index = std::make_shared<SoundFileListIndex>();
    return *index;
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
    IndexOf(listIndex_).PlaceMarkers(markers_);
    if (!marker) return kParamErr;
    markers_[index]->getMarker(marker);
    return 0;
}

QFMarkerPtr CSoundFile::GetIndMarker(uint32_t index) {
    if (index >= markers_.size()) return nullptr;
    SoundFileListIndex& lists = IndexOf(listIndex_);
    lists.PlaceMarkers(markers_);
    lists.markersKnown = false;  // the caller may change the object
    return markers_[index];
}

OSErr CSoundFile::GetMarkerByID(long id, SFTMarker* marker) {
    const int32_t wanted = static_cast<int32_t>(id);
    IndexOf(listIndex_).PlaceMarkers(markers_);
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
    SoundFileListIndex& lists = IndexOf(listIndex_);
    if (lists.MarkersMatch(markers_) && lists.nextSerial > kMaxSerial) {
        lists.PlaceMarkers(markers_);
        lists.markersKnown = false;  // renumbered below
    }
    if (!lists.MarkersMatch(markers_)) lists.IndexMarkers(markers_);
    std::string identity = MarkerIdentity(*marker);
    if (lists.markerCounts.count(identity)) return 0;

    // Kept in ascending ID order: the new marker goes before the first listed one
    // whose ID is not smaller, which is always a leader; a taken ID gives way to
    // one past the last listed, and that marker is appended.
    int32_t anchor = marker->markerID;
    bool follower = false;
    auto at = lists.leaders.lower_bound(marker->markerID);
    if (at == lists.leaders.end() || *at != marker->markerID) {
        if (at == lists.leaders.end()) lists.lastMarkerID = marker->markerID;  // appended
        lists.leaders.insert(at, marker->markerID);
    } else {
        marker->markerID = static_cast<int32_t>(static_cast<uint32_t>(lists.lastMarkerID) + 1u);
        const int32_t highest = *lists.leaders.rbegin();
        if (marker->markerID > highest) {
            anchor = marker->markerID;
            lists.leaders.insert(lists.leaders.end(), marker->markerID);
        } else {
            anchor = highest;
            follower = true;
        }
        lists.lastMarkerID = marker->markerID;
    }
    const MarkerPlace place{MarkerRank(anchor, follower, lists.nextSerial++), marker.get()};
    const size_t before = markers_.size();
    if (lists.markersInPlace == before &&
        (before == 0 || lists.markerPlaces.back().rank < place.rank))
        ++lists.markersInPlace;
    lists.markerPlaces.push_back(place);
    ++lists.markerCounts[std::move(identity)];
    markers_.push_back(std::move(marker));
    return 0;
}

OSErr CSoundFile::RemoveMarker(const SFTMarker* record) {
    if (!record) return kParamErr;
    const QFMarker probe(*record);
    SoundFileListIndex& lists = IndexOf(listIndex_);
    lists.PlaceMarkers(markers_);
    auto at = std::find_if(markers_.begin(), markers_.end(),
                           [&](const QFMarkerPtr& m) { return m->isEqual(probe); });
    if (at == markers_.end()) return kNoSuchMarkerErr;
    markers_.erase(at);
    // Markers behind the removed one may lead now: rebuilt when next needed.
    lists.markersKnown = false;
    return 0;
}

std::vector<QFMarkerPtr>& CSoundFile::GetMarkerList() {
    SoundFileListIndex& lists = IndexOf(listIndex_);
    lists.PlaceMarkers(markers_);
    lists.markersKnown = false;
    return markers_;
}

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
    IndexOf(listIndex_).PlaceRegions(regions_);
    if (!region) return kParamErr;
    regions_[index]->getRegion(region);
    return 0;
}

QFRegionPtr CSoundFile::GetIndRegion(uint32_t index) {
    if (index >= regions_.size()) return nullptr;
    SoundFileListIndex& lists = IndexOf(listIndex_);
    lists.PlaceRegions(regions_);
    lists.regionsKnown = false;  // the caller may change the object
    return regions_[index];
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

    SoundFileListIndex& lists = IndexOf(listIndex_);
    if (!lists.regionsKnown || !(lists.regionShape == ListShape::Of(regions_))) lists.IndexRegions(regions_);
    const uint64_t bounds = RegionIdentity(*region);
    if (lists.regionCounts.count(bounds)) return 0;

    if (!allRegionNames_.insert(name).second) duplicateRegionNames_.insert(name);
    // Kept sorted by start, a new region after those with the same start. One that
    // belongs at the end goes straight there; others wait there until asked for.
    const size_t before = regions_.size();
    if (lists.sortRegionsOnAdd) {
        lists.regionsInPlace = 0;  // the whole list is sorted when next asked for
        lists.sortRegionsOnAdd = false;
    } else if (lists.regionsInPlace == before &&
               (before == 0 || !StartsEarlier(region, regions_.back()))) {
        ++lists.regionsInPlace;
    }
    ++lists.regionCounts[bounds];
    regions_.push_back(std::move(region));
    lists.regionShape = ListShape::Of(regions_);
    return 0;
}

OSErr CSoundFile::RemoveRegion(const SFTRegion* record) {
    if (!record) return kParamErr;
    const QFRegion probe(*record);
    SoundFileListIndex& lists = IndexOf(listIndex_);
    lists.PlaceRegions(regions_);
    auto at = std::find_if(regions_.begin(), regions_.end(),
                           [&](const QFRegionPtr& r) { return r->isEqual(probe); });
    if (at == regions_.end()) return kNoSuchRegionErr;
    const std::string name = (*at)->name;
    if (lists.regionsKnown) {
        auto count = lists.regionCounts.find(RegionIdentity(**at));
        if (count != lists.regionCounts.end() && --count->second == 0) lists.regionCounts.erase(count);
    }
    regions_.erase(at);
    // Taking one out leaves the others in order.
    lists.regionsInPlace = regions_.size();
    lists.regionShape = ListShape::Of(regions_);
    allRegionNames_.erase(name);
    duplicateRegionNames_.erase(name);
    return 0;
}

bool CSoundFile::IsRegion(uint32_t start, uint32_t end, QFRegionPtr* region) {
    SoundFileListIndex& lists = IndexOf(listIndex_);
    lists.PlaceRegions(regions_);
    for (const QFRegionPtr& r : regions_) {
        if (r->start == start && r->end == end) {
            if (region) {
                *region = r;
                lists.regionsKnown = false;  // the caller may change the object
            }
            return true;
        }
    }
    return false;
}

std::vector<QFRegionPtr>& CSoundFile::GetRegionList() {
    SoundFileListIndex& lists = IndexOf(listIndex_);
    lists.PlaceRegions(regions_);
    lists.regionsKnown = false;
    return regions_;
}

OSErr CSoundFile::KillBadRegionNames() {
    static const unsigned char kStep[] = "\x1CLooking for bad region names";
    SetProgressStepWithoutSRC(kStep, 0);
    IndexOf(listIndex_).PlaceRegions(regions_);
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
    // The regions bearing each duplicated name, in list order, taken in one pass: a
    // new name is never in the set of all names, and every duplicated name is, so
    // renaming never gives a region a name that is still to be treated.
    std::unordered_map<std::string, std::vector<QFRegion*>> bearers;
    bearers.reserve(duplicateRegionNames_.size());
    for (const std::string& duplicate : duplicateRegionNames_) bearers[duplicate];
    for (const QFRegionPtr& r : regions_) {
        auto group = bearers.find(r->name);
        if (group != bearers.end()) group->second.push_back(r.get());
    }
    // Per stem and suffix length (a byte after the stem), the first number not known
    // to give a taken name. Names are only added here, so a number found taken stays
    // taken, and names that share a stem are not tried again for each duplicated name.
    std::unordered_map<std::string, unsigned long> firstUntried;
    for (const std::string& duplicate : duplicateRegionNames_) {
        const size_t characters = CharacterCount(duplicate);
        unsigned long k = 1;
        for (QFRegion* r : bearers[duplicate]) {
            for (;;) {
                const std::string suffix = "#" + std::to_string(k);
                const size_t suffixLength = suffix.size();
                std::string candidate = characters + suffixLength > kRegionNameMax
                                            ? FirstCharacters(duplicate, kRegionNameMax - suffixLength)
                                            : duplicate;
                candidate += static_cast<char>(suffixLength);
                unsigned long& untried = firstUntried[candidate];
                candidate.pop_back();
                if (untried > k) {
                    k = untried;  // the suffix may have grown: form it again
                    continue;
                }
                untried = ++k;
                candidate += suffix;
                if (allRegionNames_.insert(candidate).second) {
                    r->name = std::move(candidate);
                    break;
                }
            }
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
