#include <gtest/gtest.h>

#include <cstring>
#include <memory>
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

TEST(Loops, AppendedAsTheyComeAndRemovedByAllFields) {
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
}

TEST(Duplicates, LoopGroupsKeepTheirLastEntry) {
    auto f = MakeFile();
    SFTLoop a{1, 0, 100, 0}, b{2, 5, 50, 0}, c{3, 7, 70, 0};
    for (const SFTLoop* l : {&a, &b, &a, &c, &b, &a}) ASSERT_EQ(f->AddLoop(l), 0);
    EXPECT_EQ(f->RemoveDuplicates(), 0);
    ASSERT_EQ(f->GetNumLoops(), 3);
    // Pairwise removal takes the first of a group each time: c, b, a remain.
    EXPECT_EQ(f->GetIndLoop(0u)->loopID, 3);
    EXPECT_EQ(f->GetIndLoop(1u)->loopID, 2);
    EXPECT_EQ(f->GetIndLoop(2u)->loopID, 1);
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

TEST(RegionNames, DuplicatesAreNumbered) {
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
}

TEST(RegionNames, LongDuplicatesAreCutForTheSuffix) {
    auto f = MakeFile(100000);
    const std::string name(30, 'x');
    for (int i = 0; i < 10; ++i) {
        SFTRegion r = Region(i * 10, i * 10 + 5, name);
        ASSERT_EQ(f->AddRegion(&r), 0);
    }
    EXPECT_EQ(f->KillDuplicateRegionNames(), 0);
    std::vector<std::string> names = RegionNames(*f);
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
