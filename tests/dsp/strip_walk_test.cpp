// The strip walk: joining and widening, and region lists that would make a
// plain walk go round for ever, repeat frames or lose a region.
#include "dsp/strip_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "soundfile/memory_sound_file.h"

namespace {

using Blocks = std::vector<std::pair<uint32_t, uint32_t>>;

// A file of `frames` frames with the regions, added while it was 10000 frames
// long (regions are kept within the file when added).
std::unique_ptr<testsupport::MemorySoundFile> FileWith(const Blocks& regions, uint32_t frames) {
    auto file = std::make_unique<testsupport::MemorySoundFile>(1, 16, 10000);
    for (const auto& [start, end] : regions) {
        SFTRegion r{0, int32_t(start), int32_t(end), 0, 0, {1, 'r'}};
        EXPECT_EQ(file->AddRegion(&r), 0);
    }
    file->SetNumFrames(frames);
    return file;
}

// The blocks of a walk, and the status that ended it (1: it did not end).
std::pair<Blocks, OSErr> Walk(CSoundFile& file, uint32_t margin) {
    StripWalk walk(file, margin);
    Blocks blocks;
    uint32_t start, end;
    OSErr r;
    while ((r = walk.Next(&start, &end)) == 0)
        if (blocks.emplace_back(start, end), blocks.size() > 100) return {blocks, 1};
    EXPECT_EQ(walk.Next(&start, &end), r) << "an ended walk repeats its status";
    return {blocks, r};
}

TEST(StripWalk, JoinsAndWidensBlocks) {
    const struct {
        const char* what;
        uint32_t frames, margin;
        Blocks regions, expected;
    } cases[] = {
        {"gap of two margins joins", 1000, 10, {{100, 200}, {220, 300}}, {{90, 310}}},
        {"one frame more stays apart", 1000, 10, {{100, 200}, {221, 300}}, {{90, 210}, {211, 310}}},
        {"floored and capped", 1000, 10, {{5, 50}, {950, 995}}, {{0, 60}, {940, 1000}}},
        {"empty region in reach", 1000, 10, {{100, 200}, {205, 205}}, {{90, 215}}},
        {"empty region sharing a start",
         1000,
         0,
         {{200, 200}, {200, 300}, {250, 400}},
         {{200, 400}}},
        {"inverted region sharing a start",
         1000,
         0,
         {{200, 100}, {200, 300}, {500, 400}},
         {{200, 300}}},
        {"merged region past the end", 1000, 10, {{600, 1500}, {1200, 1300}}, {{590, 1000}}},
        {"region past the end", 1000, 100, {{1050, 1100}, {2000, 2100}}, {{950, 1000}}},
    };
    for (const auto& c : cases) {
        auto file = FileWith(c.regions, c.frames);
        EXPECT_EQ(Walk(*file, c.margin), std::pair(c.expected, OSErr(kNoMoreRegionsErr))) << c.what;
    }
    EXPECT_EQ(StripMarginFrames(48000.0, 100.0f), 4800u);
    EXPECT_EQ(StripMarginFrames(44100.0, -5.0f), 0u);
}

// Random lists with empty, inverted and out-of-file regions: the walk ends, its
// blocks lie in the file, in order and apart, and cover every region.
TEST(StripWalk, RandomRegionListsAreCoveredInOrder) {
    uint32_t seed = 3;
    auto next = [&seed](uint32_t n) { return (seed = seed * 1664525u + 1013904223u) % n; };
    for (int round = 0; round < 300; ++round) {
        Blocks regions(next(8));
        for (auto& r : regions) r = {next(2100), next(2100)};
        const uint32_t frames = 1 + next(2000), margin = next(50);
        auto file = FileWith(regions, frames);
        auto [blocks, status] = Walk(*file, margin);
        ASSERT_EQ(status, kNoMoreRegionsErr);
        for (size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_LE(blocks[i].first, blocks[i].second);
            EXPECT_LE(blocks[i].second, frames);
            EXPECT_TRUE(i == 0 || blocks[i].first > blocks[i - 1].second);
        }
        for (uint32_t i = 0; QFRegionPtr r = file->GetIndRegion(i); ++i) {
            const uint32_t to = std::min(r->end, frames);
            EXPECT_TRUE(r->start >= to ||
                        std::any_of(blocks.begin(), blocks.end(),
                                    [&](auto b) { return b.first <= r->start && to <= b.second; }))
                << r->start << ".." << to;
        }
    }
}

// A file whose second region search (the joining after the first block) fails.
struct FailingSearch : testsupport::MemorySoundFile {
    int calls = 0;
    FailingSearch() : MemorySoundFile(1, 16, 1000) {}
    OSErr GetNextBlock(uint32_t from, uint32_t* start, uint32_t* end) override {
        return ++calls == 2 ? OSErr(-36) : MemorySoundFile::GetNextBlock(from, start, end);
    }
};

TEST(StripWalk, SearchFailureEndsTheWalkWithoutItsBlock) {
    FailingSearch file;
    SFTRegion r{0, 100, 200, 0, 0, {1, 'r'}};
    ASSERT_EQ(file.AddRegion(&r), 0);
    EXPECT_EQ(Walk(file, 10), std::pair(Blocks{}, OSErr(-36)));
}

}  // namespace
