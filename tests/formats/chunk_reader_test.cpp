#include "formats/chunk_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

std::string Header(const std::string& id, uint32_t size, bool big = true) {
    uint8_t b[4];
    if (big)
        StoreBE32(b, size);
    else
        StoreLE32(b, size);
    return id + std::string(reinterpret_cast<char*>(b), 4);
}

TEST(ByteView, ReadsStopAtTheEndAndLeaveTheCursor) {
    const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    ByteView view(bytes, sizeof bytes);
    uint32_t v32 = 0;
    ASSERT_TRUE(view.ReadU32BE(&v32));
    EXPECT_EQ(v32, 0x12345678u);
    uint16_t v16 = 0;
    EXPECT_FALSE(view.ReadU16BE(&v16));
    EXPECT_EQ(view.position(), 4u);
    EXPECT_FALSE(view.Skip(2));
    EXPECT_FALSE(view.Seek(6));
    EXPECT_TRUE(view.Seek(5));
    EXPECT_EQ(view.remaining(), 0u);
    EXPECT_FALSE(view.Skip(UINT64_MAX));
    uint8_t big[8];
    EXPECT_FALSE(view.Read(big, UINT64_MAX));

    ByteView again(bytes, sizeof bytes);
    ByteView sub;
    EXPECT_FALSE(again.Sub(6, &sub));
    ASSERT_TRUE(again.Sub(2, &sub));
    ASSERT_TRUE(sub.ReadU16LE(&v16));
    EXPECT_EQ(v16, 0x3412);
    EXPECT_FALSE(sub.ReadU8(big));
    EXPECT_EQ(again.position(), 2u);
}

TEST(ByteSource, RangesThatWrapOrPassTheEndAreRefusedInMemoryAndStreams) {
    const char bytes[] = "abcdefgh";
    MemorySource source(bytes, 8);
    EXPECT_TRUE(source.Holds(0, 8));
    EXPECT_FALSE(source.Holds(1, 8));
    EXPECT_FALSE(source.Holds(UINT64_MAX, 2));
    char out[4];
    EXPECT_EQ(source.ReadAt(6, out, 4), kEOFErr);
    EXPECT_EQ(source.ReadAt(4, out, 4), 0);
    EXPECT_EQ(std::string(out, 4), "efgh");

    std::istringstream in(std::string("0123456789"));
    StreamSource stream(in);
    EXPECT_EQ(stream.Size(), 10u);
    EXPECT_EQ(stream.ReadAt(7, out, 3), 0);
    EXPECT_EQ(std::string(out, 3), "789");
    EXPECT_EQ(stream.ReadAt(8, out, 3), kEOFErr);
    EXPECT_EQ(stream.ReadAt(0, out, 3), 0);
}

TEST(ChunkWalker, WalksPaddedChunksAndStopsAtTheLimit) {
    std::string data = Header("ABCD", 3) + "xyz" + '\0' + Header("EFGH", 0) + Header("IJKL", 2) + "zz";
    MemorySource source(data.data(), data.size());
    ChunkWalker walker(source, 0, data.size());
    ChunkHeader h;
    ASSERT_EQ(walker.Next(&h), ChunkWalker::kHeader);
    EXPECT_EQ(h.id, 0x41424344u);
    EXPECT_EQ(h.size, 3u);
    ASSERT_TRUE(walker.Advance());
    ASSERT_EQ(walker.Next(&h), ChunkWalker::kHeader);
    EXPECT_EQ(h.offset, 12u);
    ASSERT_TRUE(walker.Advance());
    ASSERT_EQ(walker.Next(&h), ChunkWalker::kHeader);
    EXPECT_EQ(h.offset, 20u);
    EXPECT_EQ(AvailableChunkData(source, h), 2u);
    ASSERT_TRUE(walker.Advance());
    EXPECT_EQ(walker.Next(&h), ChunkWalker::kEnd);
    EXPECT_EQ(walker.headersRead(), 3u);

    // A limit before the second chunk ends the walk there.
    ChunkWalker limited(source, 0, 12);
    ASSERT_EQ(limited.Next(&h), ChunkWalker::kHeader);
    ASSERT_TRUE(limited.Advance());
    EXPECT_EQ(limited.Next(&h), ChunkWalker::kEnd);
}

TEST(ChunkWalker, HugeSizesEndTheWalkInsteadOfWrapping) {
    std::string data = Header("ABCD", 0xFFFFFFFF, false) + std::string(8, 'x');
    MemorySource source(data.data(), data.size());
    ChunkWalker walker(source, 0, UINT64_MAX, ByteOrder::kLittle);
    ChunkHeader h;
    ASSERT_EQ(walker.Next(&h), ChunkWalker::kHeader);
    EXPECT_EQ(h.size, 0xFFFFFFFFu);
    EXPECT_EQ(AvailableChunkData(source, h), 8u);
    std::vector<uint8_t> bytes;
    EXPECT_EQ(ReadChunkData(source, h, 1u << 20, &bytes), 0);
    EXPECT_EQ(bytes.size(), 8u);
    EXPECT_EQ(ReadChunkData(source, h, 3, &bytes), 0);
    EXPECT_EQ(bytes.size(), 3u);
    ASSERT_TRUE(walker.Advance());
    EXPECT_EQ(walker.Next(&h), ChunkWalker::kEnd);

    // A walk starting at a position near the top of the range cannot wrap.
    ChunkWalker far(source, UINT64_MAX - 4, UINT64_MAX);
    EXPECT_EQ(far.Next(&h), ChunkWalker::kEnd);
    EXPECT_FALSE(far.Advance());
    EXPECT_FALSE(far.AdvanceTo(0));
}

}  // namespace
