// The strip walk over region blocks: joining, widening, its end, and the
// regions that would make a plain walk go round for ever.
#include "dsp/strip_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "soundfile/memory_sound_file.h"

namespace {

using Blocks = std::vector<std::pair<uint32_t, uint32_t>>;

void AddRegions(CSoundFile& file, const Blocks& regions) {
    int32_t id = 1;
    for (const auto& [start, end] : regions) {
        SFTRegion r{};
        r.id = id++;
        r.start = static_cast<int32_t>(start);
        r.end = static_cast<int32_t>(end);
        r.sync = r.start;
        r.name[0] = 1;
        r.name[1] = static_cast<unsigned char>('a' + id);
        ASSERT_EQ(file.AddRegion(&r), 0);
    }
}

// Every block of a walk; the status that ended it.
std::pair<Blocks, OSErr> Walk(CSoundFile& file, uint32_t margin) {
    StripWalk walk(file, margin);
    Blocks blocks;
    uint32_t start = 0, end = 0;
    OSErr r;
    while ((r = walk.Next(&start, &end)) == 0) {
        blocks.emplace_back(start, end);
        if (blocks.size() > 100) return {blocks, 1};  // a walk that does not end
    }
    EXPECT_EQ(walk.Next(&start, &end), r) << "an ended walk repeats its status";
    return {blocks, r};
}

struct WalkCase {
    const char* what;
    uint32_t frames;
    uint32_t margin;
    Blocks regions;
    Blocks expected;
};

TEST(StripWalk, JoinsWidensAndAlwaysEnds) {
    const WalkCase cases[] = {
        {"no regions", 1000, 10, {}, {}},
        {"gap of exactly two margins joins", 1000, 10, {{100, 200}, {220, 300}}, {{90, 310}}},
        {"gap one frame wider stays apart", 1000, 10, {{100, 200}, {221, 300}}, {{90, 210}, {211, 310}}},
        {"overlapping regions make one block", 1000, 10, {{100, 300}, {150, 200}, {250, 400}}, {{90, 410}}},
        {"chain of joins", 1000, 10, {{100, 200}, {215, 250}, {260, 270}}, {{90, 280}}},
        {"floored at frame 0", 1000, 10, {{5, 50}}, {{0, 60}}},
        {"capped at the file's end", 1000, 10, {{950, 995}}, {{940, 1000}}},
        {"no margin", 1000, 0, {{100, 200}, {200, 300}, {400, 500}}, {{100, 300}, {400, 500}}},
        {"empty region within reach", 1000, 10, {{100, 200}, {205, 205}}, {{90, 215}}},
        {"lone empty region without margin", 1000, 0, {{200, 200}, {300, 400}}, {{200, 200}, {300, 400}}},
        {"region ending before it starts", 1000, 0, {{500, 100}, {600, 700}}, {{600, 700}}},
        {"region starting past the end, margin reaching in", 1000, 100, {{1050, 1100}}, {{950, 1000}}},
        {"region far past the end", 1000, 10, {{100, 200}, {2000, 2100}}, {{90, 210}}},
        {"joined end past the file's end", 1000, 300, {{900, 5000}, {5500, 6000}}, {{600, 1000}}},
        {"merged region past the file's end", 1000, 10, {{600, 1500}, {1200, 1300}}, {{590, 1000}}},
    };
    for (const WalkCase& c : cases) {
        // Regions are kept within the file when added: shrink it afterwards.
        testsupport::MemorySoundFile file(1, 16, 10000);
        AddRegions(file, c.regions);
        file.SetNumFrames(c.frames);
        auto [blocks, status] = Walk(file, c.margin);
        EXPECT_EQ(blocks, c.expected) << c.what;
        EXPECT_EQ(status, kNoMoreRegionsErr) << c.what;
    }
}

// Random region lists (empty, inverted and out-of-file regions included): the
// walk ends, its blocks lie in the file, in order and apart, and cover every region.
TEST(StripWalk, RandomRegionListsAreCoveredInOrder) {
    uint32_t seed = 3;
    auto next = [&seed](uint32_t n) { return (seed = seed * 1664525u + 1013904223u) % n; };
    for (int round = 0; round < 300; ++round) {
        testsupport::MemorySoundFile file(1, 16, 2000);
        Blocks regions;
        for (uint32_t k = next(8); k > 0; --k) regions.emplace_back(next(2100), next(2100));
        AddRegions(file, regions);
        const uint32_t frames = 1 + next(2000), margin = next(50);
        file.SetNumFrames(frames);
        auto [blocks, status] = Walk(file, margin);
        ASSERT_EQ(status, kNoMoreRegionsErr);
        for (size_t i = 0; i < blocks.size(); ++i) {
            EXPECT_LE(blocks[i].first, blocks[i].second);
            EXPECT_LE(blocks[i].second, frames);
            if (i) {
                EXPECT_GT(blocks[i].first, blocks[i - 1].second);
            }
        }
        for (uint16_t i = 0; i < file.GetNumRegions(); ++i) {
            SFTRegion r;
            file.GetIndRegion(i, &r);
            const uint32_t from = r.start, to = std::min<uint32_t>(r.end, frames);
            if (from >= to) continue;
            EXPECT_TRUE(std::any_of(blocks.begin(), blocks.end(),
                                    [&](auto b) { return b.first <= from && to <= b.second; }))
                << from << ".." << to;
        }
    }
}

// A file whose n-th region-block search fails.
class FailingBlocks : public testsupport::MemorySoundFile {
public:
    FailingBlocks(uint32_t frames, int failingCall) : MemorySoundFile(1, 16, frames), failing_(failingCall) {}
    OSErr GetNextBlock(uint32_t from, uint32_t* start, uint32_t* end) override {
        if (++calls_ == failing_) return -36;
        return MemorySoundFile::GetNextBlock(from, start, end);
    }

private:
    int failing_;
    int calls_ = 0;
};

TEST(StripWalk, ReadFailureEndsTheWalkWithoutItsBlock) {
    // Searches: 1 finds [100,200], 2 joins nothing and finds [500,600], 3 finds
    // [500,600] again, 4 ends its joining.
    const struct {
        int failingCall;
        Blocks expected;
    } cases[] = {{1, {}}, {2, {}}, {3, {{90, 210}}}, {4, {{90, 210}}}};
    for (const auto& c : cases) {
        FailingBlocks file(1000, c.failingCall);
        AddRegions(file, {{100, 200}, {500, 600}});
        auto [blocks, status] = Walk(file, 10);
        EXPECT_EQ(blocks, c.expected) << c.failingCall;
        EXPECT_EQ(status, -36) << c.failingCall;
    }
}

TEST(StripWalk, MarginInFrames) {
    EXPECT_EQ(StripMarginFrames(44100.0, 100.0f), 4410u);
    EXPECT_EQ(StripMarginFrames(48000.0, 100.0f), 4800u);
    EXPECT_EQ(StripMarginFrames(22050.0, 0.1f), 2u);
    EXPECT_EQ(StripMarginFrames(44100.0, -5.0f), 0u);
    EXPECT_EQ(StripMarginFrames(44100.0, 1e12), UINT32_MAX);
}

}  // namespace
