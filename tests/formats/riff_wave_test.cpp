#include "formats/riff_wave.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string LE32(uint32_t v) {
    uint8_t b[4];
    StoreLE32(b, v);
    return std::string(reinterpret_cast<char*>(b), 4);
}

// A cue chunk with its header: the declared size and count, then the points.
std::string Cue(uint32_t size, uint32_t count, const std::vector<std::pair<uint32_t, uint32_t>>& points) {
    std::string chunk = "cue " + LE32(size) + LE32(count);
    for (const auto& [id, frame] : points)
        chunk += LE32(id) + LE32(id + 100) + "data" + LE32(0) + LE32(0) + LE32(frame);
    return chunk;
}

std::vector<riff::CuePoint> Points(const std::string& chunk) {
    return riff::ReadCuePoints(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size());
}

// The cue points a chunk really holds are bounded by its count, its size and
// its bytes, whichever is least; of two points with one ID the first answers.
TEST(RiffCuePoints, BoundedByCountSizeAndBytesAndFoundByTheirFirstID) {
    const std::vector<std::pair<uint32_t, uint32_t>> three = {{7, 10}, {9, 20}, {7, 30}};
    const std::string whole = Cue(4 + 3 * 24, 3, three);
    const std::vector<riff::CuePoint> points = Points(whole);
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[1].id, 9u);
    EXPECT_EQ(points[1].position, 109u);
    EXPECT_EQ(points[1].sampleOffset, 20u);
    EXPECT_EQ(Points(Cue(4 + 3 * 24, 2, three)).size(), 2u);              // the count
    EXPECT_EQ(Points(Cue(4 + 24, 3, three)).size(), 1u);                  // the size
    EXPECT_EQ(Points(whole.substr(0, whole.size() - 1)).size(), 2u);       // the bytes
    EXPECT_EQ(Points(Cue(2, 3, three)).size(), 0u);                        // a size below the count field
    EXPECT_EQ(Points(whole.substr(0, 11)).size(), 0u);                     // no count
    EXPECT_EQ(Points(Cue(0xFFFFFFFF, 0xFFFFFFFF, three)).size(), 3u);

    const riff::CuePointIndex byID(points);
    size_t index = 99;
    ASSERT_NE(byID.Find(7, &index), nullptr);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(byID.Find(7)->sampleOffset, 10u);
    ASSERT_NE(byID.Find(9, &index), nullptr);
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(byID.Find(8), nullptr);
}

// Sub-chunks of associated data: only those whose header lies inside the data,
// their bodies cut at its end, padded to even lengths.
TEST(RiffCuePoints, SubChunksOfAssociatedDataStayInsideTheData) {
    const std::string data = "labl" + LE32(5) + LE32(1) + "a" + '\0' + "ltxt" + LE32(20) + LE32(2) + "xy";
    std::vector<std::pair<uint32_t, uint32_t>> seen;
    EXPECT_EQ(riff::ForEachSubChunk(reinterpret_cast<const uint8_t*>(data.data()),
                                    static_cast<uint32_t>(data.size()),
                                    [&](uint32_t id, const uint8_t*, uint32_t bytes) -> OSErr {
                                        seen.emplace_back(id, bytes);
                                        return 0;
                                    }),
              0);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(riff::kLabl, 5u));
    EXPECT_EQ(seen[1], std::make_pair(riff::kLtxt, 6u));
    EXPECT_EQ(riff::CountRegionTexts(std::vector<uint8_t>(data.begin(), data.end())), 1u);
    EXPECT_EQ(riff::CountRegionTexts(std::vector<uint8_t>(data.begin(), data.begin() + 21)), 0u);
}

}  // namespace
