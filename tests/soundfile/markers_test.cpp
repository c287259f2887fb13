#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "soundfile/markers.h"
#include "soundfile/memory_sound_file.h"
#include "soundfile/sound_file.h"

using testsupport::MemorySoundFile;

namespace {

using MemoryPtr = std::unique_ptr<MemorySoundFile, SoundFileDisposer>;

MemoryPtr MakeFile(uint32_t frames = 1000) {
    return MemoryPtr(new MemorySoundFile(2, 16, frames));
}

SFTMarker Marker(int32_t id, uint32_t position, const std::string& name) {
    SFTMarker m{};
    m.id = id;
    m.position = position;
    NameToField(name, m.name);
    return m;
}

SFTRegion Region(int32_t start, int32_t end, const std::string& name, int32_t id = 0) {
    SFTRegion r{};
    r.id = id;
    r.start = start;
    r.end = end;
    NameToField(name, r.name);
    return r;
}

std::vector<std::string> RegionNames(CSoundFile& f) {
    std::vector<std::string> names;
    for (const QFRegionPtr& r : f.GetRegionList()) names.push_back(r->name);
    return names;
}

}  // namespace

// ---------------------------------------------------------------------------
// Names in fixed fields and record comparisons

TEST(MarkerNames, FieldNamesAreBoundedByTheField) {
    unsigned char field[32];
    std::memset(field, 'A', sizeof field);
    field[0] = 255;  // a length the field cannot hold
    EXPECT_EQ(NameFromField(field), std::string(31, 'A'));

    field[0] = 2;
    field[1] = 0x8E;  // Mac Roman e acute
    field[2] = 'x';
    EXPECT_EQ(NameFromField(field), "\xC3\xA9x");

    NameToField(std::string(40, 'b'), field);
    EXPECT_EQ(field[0], 31);
    NameToField("\xC3\xA9t\xC3\xA9", field);
    EXPECT_EQ(field[0], 3);
    EXPECT_EQ(field[1], 0x8E);
    EXPECT_EQ(NameFromField(field), "\xC3\xA9t\xC3\xA9");
}

TEST(MarkerRecords, EqualityLooksAtTheNamedFieldsOnly) {
    SFTMarker a = Marker(1, 10, "cue");
    SFTMarker b = a;
    b.name[10] = 'z';  // beyond the name's length
    b.type = 3;
    EXPECT_TRUE(EqualMarker(a, b));
    b.id = 2;
    EXPECT_FALSE(EqualMarker(a, b));

    SFTRegion r = Region(0, 10, "intro", 4);
    SFTRegion s = r;
    s.timeStamp = 99;
    EXPECT_TRUE(EqualRegion(r, s));
    s.sync = 5;
    EXPECT_FALSE(EqualRegion(r, s));
    s = r;
    NameToField("intrO", s.name);
    EXPECT_FALSE(EqualRegion(r, s));

    SFTLoop l{1, 0, 10, 0};
    SFTLoop m = l;
    EXPECT_TRUE(EqualLoop(l, m));
    m.type = 1;
    EXPECT_FALSE(EqualLoop(l, m));
}

TEST(MarkerRecords, RegionTimeStampWords) {
    SFTRegion r = Region(0, 10, "x");
    r.timeStamp = -1;
    QFRegion object(r);
    EXPECT_EQ(object.timeStamp, 0xFFFFFFFFll);
    EXPECT_EQ(object.timeStampHigh(), 0u);
    SFTRegion back{};
    object.getRegion(&back);
    EXPECT_EQ(back.timeStamp, -1);

    // Added to a file the stamp is widened with its sign.
    auto f = MakeFile();
    ASSERT_EQ(f->AddRegion(&r), 0);
    EXPECT_EQ(f->GetIndRegion(0u)->timeStamp, -1);
}

// ---------------------------------------------------------------------------
// Markers and loops

TEST(Markers, KeptInIdOrderWithTakenIdsMovedToTheEnd) {
    auto f = MakeFile();
    SFTMarker five = Marker(5, 100, "five");
    SFTMarker three = Marker(3, 200, "three");
    SFTMarker again = Marker(5, 300, "again");
    ASSERT_EQ(f->AddMarker(&five), 0);
    ASSERT_EQ(f->AddMarker(&three), 0);
    ASSERT_EQ(f->AddMarker(&again), 0);
    ASSERT_EQ(f->GetNumMarkers(), 3);
    EXPECT_EQ(f->GetIndMarker(0u)->markerID, 3);
    EXPECT_EQ(f->GetIndMarker(1u)->markerID, 5);
    EXPECT_EQ(f->GetIndMarker(2u)->markerID, 6);
    EXPECT_EQ(f->GetIndMarker(2u)->name, "again");

    // Same position and name: nothing is added, whatever the ID.
    SFTMarker twin = Marker(9, 200, "three");
    EXPECT_EQ(f->AddMarker(&twin), 0);
    EXPECT_EQ(f->GetNumMarkers(), 3);

    SFTMarker out{};
    EXPECT_EQ(f->GetIndMarker(uint16_t{3}, &out), kNoSuchMarkerErr);
    EXPECT_EQ(f->GetIndMarker(3u), nullptr);
    EXPECT_EQ(f->GetMarkerByID(6, &out), 0);
    EXPECT_EQ(out.position, 300u);
    EXPECT_EQ(f->GetMarkerByID(4, &out), kNoSuchMarkerErr);

    EXPECT_EQ(f->RemoveMarker(&twin), 0);  // equal by position and name
    EXPECT_EQ(f->GetNumMarkers(), 2);
    EXPECT_EQ(f->RemoveMarker(&twin), kNoSuchMarkerErr);
}

TEST(Loops, AppendedAsTheyComeRemovedByAllFieldsAndDuplicatesKeepTheirLast) {
    auto f = MakeFile();
    SFTLoop a{1, 0, 100, 0};
    SFTLoop b{1, 0, 100, 1};
    ASSERT_EQ(f->AddLoop(&a), 0);
    ASSERT_EQ(f->AddLoop(&b), 0);
    ASSERT_EQ(f->AddLoop(&a), 0);
    EXPECT_EQ(f->GetNumLoops(), 3);
    SFTLoop out{};
    EXPECT_EQ(f->GetIndLoop(uint16_t{1}, &out), 0);
    EXPECT_EQ(out.type, 1);
    EXPECT_EQ(f->GetIndLoop(uint16_t{3}, &out), kNoSuchLoopErr);
    EXPECT_EQ(f->RemoveLoop(&b), 0);
    EXPECT_EQ(f->RemoveLoop(&b), kNoSuchLoopErr);

    // Duplicates: pairwise removal takes the first of a group each time, so
    // of a, c, a, d, c, a the last entries d, c, a remain.
    auto g = MakeFile();
    SFTLoop c{2, 5, 50, 0}, d{3, 7, 70, 0};
    for (const SFTLoop* l : {&a, &c, &a, &d, &c, &a}) ASSERT_EQ(g->AddLoop(l), 0);
    EXPECT_EQ(g->RemoveDuplicates(), 0);
    ASSERT_EQ(g->GetNumLoops(), 3);
    EXPECT_EQ(g->GetIndLoop(0u)->loopID, 3);
    EXPECT_EQ(g->GetIndLoop(1u)->loopID, 2);
    EXPECT_EQ(g->GetIndLoop(2u)->loopID, 1);
}

TEST(Duplicates, MarkersPutStraightIntoTheList) {
    auto f = MakeFile();
    SFTMarker m = Marker(1, 10, "m");
    SFTMarker other = Marker(2, 10, "m");  // differs by ID only
    f->GetMarkerList().push_back(std::make_shared<QFMarker>(m));
    f->GetMarkerList().push_back(std::make_shared<QFMarker>(other));
    f->GetMarkerList().push_back(std::make_shared<QFMarker>(m));
    EXPECT_EQ(f->RemoveDuplicates(), 0);
    EXPECT_EQ(f->GetNumMarkers(), 2);
    EXPECT_EQ(f->RemoveDuplicates(), 0);
    EXPECT_EQ(f->GetNumMarkers(), 2);
}

// ---------------------------------------------------------------------------
// Regions

TEST(Regions, BoundsAreKeptInsideTheFile) {
    auto f = MakeFile(1000);
    SFTRegion early = Region(-10, 50, "early");
    SFTRegion late = Region(900, 5000, "late");
    SFTRegion beyond = Region(2000, 3000, "beyond");
    ASSERT_EQ(f->AddRegion(&late), 0);
    ASSERT_EQ(f->AddRegion(&early), 0);
    ASSERT_EQ(f->AddRegion(&beyond), 0);
    ASSERT_EQ(f->GetNumRegions(), 3);
    EXPECT_EQ(f->GetIndRegion(0u)->start, 0u);
    EXPECT_EQ(f->GetIndRegion(0u)->end, 50u);
    EXPECT_EQ(f->GetIndRegion(1u)->start, 900u);
    EXPECT_EQ(f->GetIndRegion(1u)->end, 1000u);
    // A region wholly past the end does not end before it starts.
    EXPECT_EQ(f->GetIndRegion(2u)->start, 1000u);
    EXPECT_EQ(f->GetIndRegion(2u)->end, 1000u);
}

TEST(Regions, SameBoundsAreAddedOnceAndNamesAreCut) {
    auto f = MakeFile();
    SFTRegion a = Region(10, 20, "first");
    SFTRegion b = Region(10, 20, "second");
    ASSERT_EQ(f->AddRegion(&a), 0);
    ASSERT_EQ(f->AddRegion(&b), 0);
    ASSERT_EQ(f->GetNumRegions(), 1);
    EXPECT_EQ(f->GetIndRegion(0u)->name, "first");
    EXPECT_EQ(f->GetRegionNames().count("second"), 0u);

    SFTRegion longName = Region(30, 40, std::string(31, 'n'));
    ASSERT_EQ(f->AddRegion(&longName), 0);
    EXPECT_EQ(f->GetIndRegion(1u)->name, std::string(30, 'n'));

    QFRegionPtr found;
    EXPECT_TRUE(f->IsRegion(30, 40, &found));
    EXPECT_EQ(found->name, std::string(30, 'n'));
    EXPECT_FALSE(f->IsRegion(30, 41, nullptr));

    EXPECT_EQ(f->RemoveRegion(&b), 0);  // equal by start and end
    EXPECT_EQ(f->GetRegionNames().count("first"), 0u);
    EXPECT_EQ(f->RemoveRegion(&b), kNoSuchRegionErr);
    SFTRegion out{};
    EXPECT_EQ(f->GetIndRegion(uint16_t{1}, &out), kNoSuchRegionErr);
}

TEST(RegionNames, DuplicatesAreNumberedAndLongOnesCutForTheSuffix) {
    auto f = MakeFile();
    SFTRegion a = Region(0, 10, "Verse"), b = Region(20, 30, "Verse");
    ASSERT_EQ(f->AddRegion(&a), 0);
    ASSERT_EQ(f->AddRegion(&b), 0);
    EXPECT_TRUE(f->HasDuplicateRegionNames());
    EXPECT_EQ(f->KillDuplicateRegionNames(), 0);
    EXPECT_EQ(RegionNames(*f), (std::vector<std::string>{"Verse#1", "Verse#2"}));
    EXPECT_FALSE(f->HasDuplicateRegionNames());

    auto g = MakeFile();
    SFTRegion taken = Region(40, 50, "Verse#1");
    ASSERT_EQ(g->AddRegion(&a), 0);
    ASSERT_EQ(g->AddRegion(&b), 0);
    ASSERT_EQ(g->AddRegion(&taken), 0);
    EXPECT_EQ(g->KillDuplicateRegionNames(), 0);
    EXPECT_EQ(RegionNames(*g), (std::vector<std::string>{"Verse#2", "Verse#3", "Verse#1"}));

    // Long duplicates are cut for the suffix.
    auto h = MakeFile(100000);
    const std::string name(30, 'x');
    for (int i = 0; i < 10; ++i) {
        SFTRegion r = Region(i * 10, i * 10 + 5, name);
        ASSERT_EQ(h->AddRegion(&r), 0);
    }
    EXPECT_EQ(h->KillDuplicateRegionNames(), 0);
    std::vector<std::string> names = RegionNames(*h);
    EXPECT_EQ(names[0], std::string(28, 'x') + "#1");
    EXPECT_EQ(names[8], std::string(28, 'x') + "#9");
    EXPECT_EQ(names[9], std::string(27, 'x') + "#10");
}

TEST(RegionNames, BadCharactersBecomeDashes) {
    auto f = MakeFile();
    SFTRegion bad = Region(0, 10, "A/B:C");
    SFTRegion clash = Region(20, 30, "A-B-C");
    ASSERT_EQ(f->AddRegion(&bad), 0);
    EXPECT_EQ(f->KillBadRegionNames(), 0);
    EXPECT_EQ(f->GetIndRegion(0u)->name, "A-B-C");
    EXPECT_EQ(f->GetRegionNames().count("A/B:C"), 0u);

    ASSERT_EQ(f->AddRegion(&clash), 0);
    EXPECT_EQ(f->KillDuplicateRegionNames(), 0);
    EXPECT_EQ(RegionNames(*f), (std::vector<std::string>{"A-B-C#1", "A-B-C#2"}));
}

TEST(Regions, WholeFileRegionFollowsTheSetting) {
    auto f = MakeFile(5000);
    f->SetPath("/music/" + std::string(40, 'w') + ".raw");
    CSoundFile::SetProcessFileIfNoRegions(false);
    EXPECT_EQ(f->AddWholeFileRegion(), 0);
    EXPECT_EQ(f->GetNumRegions(), 0);
    CSoundFile::SetProcessFileIfNoRegions(true);
    EXPECT_EQ(f->AddWholeFileRegion(), 0);
    ASSERT_EQ(f->GetNumRegions(), 1);
    EXPECT_EQ(f->GetIndRegion(0u)->start, 0u);
    EXPECT_EQ(f->GetIndRegion(0u)->end, 5000u);
    EXPECT_EQ(f->GetIndRegion(0u)->name, std::string(29, 'w'));
}

TEST(Regions, NextBlockMergesOverlapsButNotNeighbours) {
    auto f = MakeFile(1000);
    uint32_t start = 7, end = 7;
    EXPECT_EQ(f->GetNextBlock(0, &start, &end), kNoMoreRegionsErr);
    EXPECT_EQ(end, 0u);

    SFTRegion a = Region(0, 100, "a"), b = Region(50, 150, "b"), c = Region(150, 200, "c");
    for (SFTRegion* r : {&c, &a, &b}) ASSERT_EQ(f->AddRegion(r), 0);
    EXPECT_EQ(f->GetNextBlock(0, &start, &end), 0);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 150u);
    EXPECT_EQ(f->GetNextBlock(end, &start, &end), 0);
    EXPECT_EQ(start, 150u);
    EXPECT_EQ(end, 200u);
    EXPECT_EQ(f->GetNextBlock(end, &start, &end), kNoMoreRegionsErr);
    // Walks begin at -1, which is below every start.
    EXPECT_EQ(f->GetNextBlock(static_cast<uint32_t>(-1), &start, &end), 0);
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 150u);

    // A region inside another does not end the block early.
    auto g = MakeFile(1000);
    SFTRegion outer = Region(0, 500, "outer"), inner = Region(10, 20, "inner");
    ASSERT_EQ(g->AddRegion(&outer), 0);
    ASSERT_EQ(g->AddRegion(&inner), 0);
    EXPECT_EQ(g->GetNextBlock(0, &start, &end), 0);
    EXPECT_EQ(end, 500u);
}

// ---------------------------------------------------------------------------
// Gaps

TEST(Gaps, PairsByIndex) {
    auto f = MakeFile();
    int32_t start = 0, end = 0;
    EXPECT_EQ(f->GetGap(0, &start, &end), kNoSuchGapErr);
    EXPECT_EQ(f->AddGap(10, 20), 0);
    EXPECT_EQ(f->GetGap(0, &start, &end), 0);
    EXPECT_EQ(start, 10);
    EXPECT_EQ(end, 20);
    EXPECT_EQ(f->GetGap(1, &start, nullptr), kNoSuchGapErr);
    EXPECT_EQ(f->GetGap(0xFFFFFFFFu, &start, &end), kNoSuchGapErr);
}

// ---------------------------------------------------------------------------
// The lists against a plain model of their rules

namespace {

// The list rules written out the slow, obvious way.
struct MarkerModel {
    std::vector<QFMarker> list;

    void Add(const SFTMarker& record) {
        QFMarker m(record);
        for (const QFMarker& x : list)
            if (x.isEqual(m)) return;
        auto at = std::find_if(list.begin(), list.end(),
                               [&](const QFMarker& x) { return x.markerID >= m.markerID; });
        if (at == list.end()) {
            list.push_back(m);
        } else if (at->markerID != m.markerID) {
            list.insert(at, m);
        } else {
            m.markerID = static_cast<int32_t>(static_cast<uint32_t>(list.back().markerID) + 1u);
            list.push_back(m);
        }
    }

    OSErr Remove(const SFTMarker& record) {
        const QFMarker probe(record);
        for (auto at = list.begin(); at != list.end(); ++at) {
            if (at->isEqual(probe)) {
                list.erase(at);
                return 0;
            }
        }
        return kNoSuchMarkerErr;
    }
};

struct RegionModel {
    uint32_t frames = 0;
    std::vector<QFRegion> list;
    std::set<std::string> all, duplicates;

    void Add(const SFTRegion& record) {
        std::string name = NameFromField(record.name);  // plain ASCII in these tests
        if (name.size() > 30) name.resize(30);
        QFRegion r;
        r.regionID = record.id;
        r.start = std::min(record.start < 0 ? 0u : static_cast<uint32_t>(record.start), frames);
        r.end = std::min(static_cast<uint32_t>(record.end), frames);
        r.sync = static_cast<uint32_t>(record.sync);
        r.timeStamp = record.timeStamp;
        r.name = name;
        for (const QFRegion& x : list)
            if (x.isEqual(r)) return;
        (all.count(name) ? duplicates : all).insert(name);
        // Appended, then the list sorted stably by start.
        auto earlier = [](const QFRegion& a, const QFRegion& b) {
            return static_cast<int32_t>(a.start) < static_cast<int32_t>(b.start);
        };
        if (!std::is_sorted(list.begin(), list.end(), earlier)) std::stable_sort(list.begin(), list.end(), earlier);
        list.insert(std::upper_bound(list.begin(), list.end(), r, earlier), r);
    }

    OSErr Remove(const SFTRegion& record) {
        const QFRegion probe(record);
        for (auto at = list.begin(); at != list.end(); ++at) {
            if (at->isEqual(probe)) {
                all.erase(at->name);
                duplicates.erase(at->name);
                list.erase(at);
                return 0;
            }
        }
        return kNoSuchRegionErr;
    }

    const QFRegion* Find(uint32_t start, uint32_t end) const {
        for (const QFRegion& r : list)
            if (r.start == start && r.end == end) return &r;
        return nullptr;
    }

    void KillBad() {
        for (QFRegion& r : list) {
            std::string cleaned = r.name;
            std::replace(cleaned.begin(), cleaned.end(), ':', '-');
            std::replace(cleaned.begin(), cleaned.end(), '/', '-');
            if (cleaned == r.name) continue;
            all.erase(r.name);
            duplicates.erase(r.name);
            r.name = cleaned;
            (all.count(cleaned) ? duplicates : all).insert(cleaned);
        }
    }

    void KillDuplicates() {
        KillBad();
        const std::set<std::string> names = duplicates;
        for (const std::string& d : names) {
            unsigned long k = 1;
            for (QFRegion& r : list) {
                if (r.name != d) continue;
                std::string candidate;
                do {
                    const std::string suffix = "#" + std::to_string(k++);
                    candidate = d.size() + suffix.size() > 30 ? d.substr(0, 30 - suffix.size()) + suffix
                                                              : d + suffix;
                } while (all.count(candidate));
                r.name = candidate;
                all.insert(candidate);
            }
        }
        duplicates.clear();
    }

    OSErr NextBlock(uint32_t from, uint32_t* start, uint32_t* end) const {
        *end = 0;
        size_t i = 0;
        while (i < list.size() && static_cast<int32_t>(list[i].start) < static_cast<int32_t>(from)) ++i;
        if (i == list.size()) return kNoMoreRegionsErr;
        *start = list[i].start;
        *end = list[i].end;
        for (++i; i < list.size() && list[i].start < *end; ++i) *end = std::max(*end, list[i].end);
        return 0;
    }
};

// Compared through the record accessors, which hand out no objects.
void ExpectSameMarkers(CSoundFile& f, const MarkerModel& model) {
    ASSERT_EQ(f.GetMarkerList().size(), model.list.size());
    for (size_t i = 0; i < model.list.size(); ++i) {
        SFTMarker m{};
        ASSERT_EQ(f.GetIndMarker(static_cast<uint16_t>(i), &m), 0);
        const QFMarker& want = model.list[i];
        ASSERT_EQ(m.id, want.markerID) << "at " << i;
        ASSERT_EQ(m.position, want.position) << "at " << i;
        ASSERT_EQ(NameFromField(m.name), want.name) << "at " << i;
        ASSERT_EQ(m.type, want.type) << "at " << i;
    }
}

void ExpectSameRegions(CSoundFile& f, const RegionModel& model) {
    ASSERT_EQ(f.GetNumRegions(), model.list.size());
    for (size_t i = 0; i < model.list.size(); ++i) {
        SFTRegion r{};
        ASSERT_EQ(f.GetIndRegion(static_cast<uint16_t>(i), &r), 0);
        const QFRegion& want = model.list[i];
        ASSERT_EQ(r.id, want.regionID) << "at " << i;
        ASSERT_EQ(static_cast<uint32_t>(r.start), want.start) << "at " << i;
        ASSERT_EQ(static_cast<uint32_t>(r.end), want.end) << "at " << i;
        ASSERT_EQ(NameFromField(r.name), want.name) << "at " << i;
    }
    EXPECT_EQ(f.GetRegionNames(), model.all);
    EXPECT_EQ(f.HasDuplicateRegionNames(), !model.duplicates.empty());
}

}  // namespace

TEST(MarkerLists, MatchThePlainRulesUnderRandomUse) {
    std::mt19937 random(20240611);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    auto f = MakeFile();
    MarkerModel model;
    const char* const names[] = {"", "a", "b"};
    auto randomMarker = [&] {
        int32_t id;
        const int kind = pick(0, 19);
        if (kind < 14) id = pick(-5, 60);
        else if (kind < 16) id = INT32_MAX;  // taking "last + 1" past the top
        else if (kind < 17) id = INT32_MAX - 1;
        else if (kind < 18) id = INT32_MIN;
        else id = static_cast<int32_t>(random());
        SFTMarker m = Marker(id, static_cast<uint32_t>(pick(0, 150)), names[pick(0, 2)]);
        m.type = static_cast<int16_t>(pick(0, 3));
        return m;
    };
    for (int step = 0; step < 3000; ++step) {
        const int op = pick(0, 99);
        if (op < 70) {
            const SFTMarker m = randomMarker();
            ASSERT_EQ(f->AddMarker(&m), 0);
            model.Add(m);
        } else if (op < 78) {
            SFTMarker m = randomMarker();
            if (!model.list.empty() && pick(0, 1)) model.list[pick(0, static_cast<int>(model.list.size()) - 1)].getMarker(&m);
            const OSErr removed = model.Remove(m);
            ASSERT_EQ(f->RemoveMarker(&m), removed);
            if (removed == 0 && pick(0, 1)) {  // the same marker may come back
                ASSERT_EQ(f->AddMarker(&m), 0);
                model.Add(m);
            }
        } else if (op < 80) {
            // Straight into the list, in no particular order.
            const SFTMarker m = randomMarker();
            f->GetMarkerList().push_back(std::make_shared<QFMarker>(m));
            model.list.emplace_back(m);
        } else if (op < 82) {
            if (model.list.empty()) continue;
            const uint32_t i = static_cast<uint32_t>(pick(0, static_cast<int>(model.list.size()) - 1));
            const uint32_t position = static_cast<uint32_t>(pick(0, 150));
            f->GetIndMarker(i)->position = position;
            model.list[i].position = position;
        } else if (op < 85) {
            const int32_t id = randomMarker().id;
            SFTMarker got{};
            auto want = std::find_if(model.list.begin(), model.list.end(),
                                     [&](const QFMarker& m) { return m.markerID == id; });
            ASSERT_EQ(f->GetMarkerByID(id, &got), want == model.list.end() ? kNoSuchMarkerErr : 0);
            if (want != model.list.end()) {
                EXPECT_EQ(got.position, want->position);
            }
        } else if (op < 88) {
            ASSERT_NO_FATAL_FAILURE(ExpectSameMarkers(*f, model)) << "step " << step;
        } else {
            const SFTMarker m = randomMarker();
            ASSERT_EQ(f->AddMarker(&m), 0);
            model.Add(m);
        }
    }
    ASSERT_NO_FATAL_FAILURE(ExpectSameMarkers(*f, model));
}

TEST(RegionLists, MatchThePlainRulesUnderRandomUse) {
    std::mt19937 random(7031);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    auto f = MakeFile(40);
    RegionModel model;
    model.frames = 40;
    // Names that clash once cleaned, carry their own numbers, or share a cut stem.
    const std::string stem(27, 'p');
    const std::vector<std::string> names = {
        "A", "B", "A/B", "A-B", "x:y", "x-y", "v", "v#1", "v#2", stem + "pab", stem + "pac",
        stem + "qab", stem + "p#1", stem + "#10", stem + "#11", std::string(31, 'z'), "z#1"};
    auto randomRegion = [&] {
        SFTRegion r = Region(pick(-3, 45), pick(-3, 50), names[pick(0, static_cast<int>(names.size()) - 1)],
                             pick(0, 1000));
        r.sync = pick(0, 50);
        r.timeStamp = pick(-2, 2);
        return r;
    };
    for (int step = 0; step < 3000; ++step) {
        const int op = pick(0, 99);
        if (op < 8) {
            SFTRegion r = randomRegion();
            if (!model.list.empty() && pick(0, 2)) model.list[pick(0, static_cast<int>(model.list.size()) - 1)].getRegion(&r);
            const OSErr removed = model.Remove(r);
            ASSERT_EQ(f->RemoveRegion(&r), removed);
            if (removed == 0 && pick(0, 1)) {  // the same bounds may come back
                ASSERT_EQ(f->AddRegion(&r), 0);
                model.Add(r);
            }
        } else if (op < 10) {
            // Straight into the list, unsorted and unclamped.
            SFTRegion r = randomRegion();
            r.start = pick(0, 60);
            f->GetRegionList().push_back(std::make_shared<QFRegion>(r));
            model.list.emplace_back(r);
        } else if (op < 12) {
            if (model.list.empty()) continue;
            const uint32_t i = static_cast<uint32_t>(pick(0, static_cast<int>(model.list.size()) - 1));
            const uint32_t start = static_cast<uint32_t>(pick(0, 40));
            f->GetIndRegion(i)->start = start;
            model.list[i].start = start;
        } else if (op < 16) {
            const uint32_t start = static_cast<uint32_t>(pick(0, 40)), end = static_cast<uint32_t>(pick(0, 40));
            QFRegionPtr found;
            const QFRegion* want = model.Find(start, end);
            ASSERT_EQ(f->IsRegion(start, end, pick(0, 1) ? &found : nullptr), want != nullptr);
            if (found) {
                EXPECT_EQ(found->name, want->name);
            }
        } else if (op < 18) {
            ASSERT_EQ(f->KillDuplicateRegionNames(), 0);
            model.KillDuplicates();
            ASSERT_NO_FATAL_FAILURE(ExpectSameRegions(*f, model)) << "step " << step;
        } else if (op < 19) {
            ASSERT_EQ(f->KillBadRegionNames(), 0);
            model.KillBad();
        } else if (op < 22) {
            const uint32_t from = static_cast<uint32_t>(pick(-1, 40));
            uint32_t start = 0, end = 0, wantStart = 0, wantEnd = 0;
            const OSErr want = model.NextBlock(from, &wantStart, &wantEnd);
            ASSERT_EQ(f->GetNextBlock(from, &start, &end), want);
            EXPECT_EQ(end, wantEnd);
            if (want == 0) {
                EXPECT_EQ(start, wantStart);
            }
        } else if (op < 25) {
            ASSERT_NO_FATAL_FAILURE(ExpectSameRegions(*f, model)) << "step " << step;
        } else {
            const SFTRegion r = randomRegion();
            ASSERT_EQ(f->AddRegion(&r), 0);
            model.Add(r);
        }
    }
    ASSERT_NO_FATAL_FAILURE(ExpectSameRegions(*f, model));
}

// Readers add what a file lists, and a crafted file lists up to 65535 entries in
// the worst order: each addition and the renaming must stay cheap (the test
// timeout catches a return to work that grows with the square of the count).
TEST(MarkerLists, ManyMarkersInTheWorstOrder) {
    auto f = MakeFile();
    // Falling IDs: every marker belongs at the front.
    constexpr int kDistinct = 50000;
    for (int i = 0; i < kDistinct; ++i) {
        const SFTMarker m = Marker(100000 - 2 * i, static_cast<uint32_t>(i), "m");
        ASSERT_EQ(f->AddMarker(&m), 0);
    }
    // Repeats add nothing; taken IDs move to the end.
    int moved = 0;
    for (int i = 0; i < 65535 - kDistinct; ++i) {
        if (i % 2 == 0) {
            const SFTMarker again = Marker(i, static_cast<uint32_t>(i), "m");
            ASSERT_EQ(f->AddMarker(&again), 0);
        } else {
            const SFTMarker taken = Marker(100000 - 2 * i, static_cast<uint32_t>(200000 + i), "t");
            ASSERT_EQ(f->AddMarker(&taken), 0);
            ++moved;
        }
    }
    const std::vector<QFMarkerPtr>& list = f->GetMarkerList();
    ASSERT_EQ(list.size(), static_cast<size_t>(kDistinct + moved));
    EXPECT_EQ(list.front()->markerID, 100000 - 2 * (kDistinct - 1));
    EXPECT_EQ(list[kDistinct - 1]->markerID, 100000);
    EXPECT_EQ(list.back()->markerID, 100000 + moved);
    EXPECT_EQ(list.back()->name, "t");
    for (size_t i = 1; i < list.size(); ++i) ASSERT_LT(list[i - 1]->markerID, list[i]->markerID);
}

TEST(RegionLists, ManyRegionsInTheWorstOrder) {
    auto f = MakeFile(1u << 20);
    // Falling starts, two ends per start and a repeat of the first of each pair.
    for (int i = 0; i < 65535; ++i) {
        const int32_t start = 70000 - i / 3;
        const int32_t end = start + 10 + (i % 3 == 1 ? 1 : 0);
        const SFTRegion r = Region(start, end, "r" + std::to_string(i % 1000), i);
        ASSERT_EQ(f->AddRegion(&r), 0);
    }
    const std::vector<QFRegionPtr>& list = f->GetRegionList();
    ASSERT_EQ(list.size(), 2u * 21845u);
    for (size_t i = 0; i + 1 < list.size(); i += 2) {
        ASSERT_EQ(list[i]->start, list[i + 1]->start);
        ASSERT_EQ(list[i]->end + 1, list[i + 1]->end);  // the earlier addition first
        if (i > 0) {
            ASSERT_EQ(list[i - 1]->start + 1, list[i]->start);
        }
    }

    EXPECT_EQ(f->GetRegionNames().size(), 1000u);
    EXPECT_TRUE(f->HasDuplicateRegionNames());
}

TEST(RegionNames, ManyDuplicatesSharingACutStem) {
    // Every name twice, all 30 characters long and alike but for the last three:
    // the numbered names of all of them compete for the same cut stems.
    auto f = MakeFile(1u << 20);
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const size_t n = alphabet.size();
    constexpr int kCount = 32768;
    for (int i = 0; i < kCount; ++i) {
        const size_t k = static_cast<size_t>(i / 2);
        const std::string name = std::string(27, 's') + alphabet[k / (n * n) % n] + alphabet[k / n % n] + alphabet[k % n];
        const SFTRegion r = Region(i, i + 1, name);
        ASSERT_EQ(f->AddRegion(&r), 0);
    }
    ASSERT_EQ(f->KillDuplicateRegionNames(), 0);
    std::set<std::string> names;
    for (const QFRegionPtr& r : f->GetRegionList()) {
        EXPECT_LE(r->name.size(), 30u);
        names.insert(r->name);
    }
    EXPECT_EQ(names.size(), static_cast<size_t>(kCount));
    // The least name comes first; its bearers are numbered from the cut stem.
    EXPECT_EQ(f->GetIndRegion(6552u)->name, std::string(27, 's') + "a#1");
    EXPECT_EQ(f->GetIndRegion(6553u)->name, std::string(27, 's') + "a#2");
    EXPECT_FALSE(f->HasDuplicateRegionNames());
}
