#include "formats/chunk_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "foundation/xwqf.h"
#include "test_support.h"

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

// One search for every chunked format: what it finds and why it stops, and a
// kept list that answers every search as a walk of its own would.
TEST(ChunkSearch, EndsAsTheLayoutSaysAndAListAnswersLikeTheWalk) {
    const std::string form = "FORM" + std::string(4, '\0') + "TEST";
    std::string many;
    for (int i = 0; i < 100; ++i) many += Header("FILL", 0);
    struct Case {
        const char* name;
        std::string data;
        ChunkLayout layout;
        const char* id;
        unsigned occurrence;
        ChunkSearch expected;
        uint64_t offset;  // of the chunk found
    };
    ChunkLayout plain, limited, unbounded, dawn, signedSize;
    limited.limit = 20;
    unbounded.maxChunks = 0;
    dawn.minSize = 1;
    dawn.fixedChunkId = 0x4D41524B;  // MARK
    dawn.fixedChunkBytes = 12;
    const std::string padded = form + Header("AAAA", 3) + "xyz" + '\0' + Header("BBBB", 0) +
                               Header("AAAA", 2) + "zz" + Header("CCCC", 1) + "c";
    const std::string damaged = form + Header("AAAA", 0) + Header("BAD!", 0x80000000) + Header("CCCC", 0);
    const std::string marked = form + Header("MARK", 1000) + "abcd" + Header("TTTT", 0);
    const std::vector<Case> cases = {
        {"second occurrence after a pad", padded, plain, "AAAA", 2, ChunkSearch::kFound, 32},
        {"last chunk", padded, plain, "CCCC", 1, ChunkSearch::kFound, 42},
        {"missing", padded, plain, "DDDD", 1, ChunkSearch::kNotThere, 0},
        {"no third occurrence", padded, plain, "AAAA", 3, ChunkSearch::kNotThere, 0},
        {"occurrence 0 finds nothing", padded, plain, "AAAA", 0, ChunkSearch::kNotThere, 0},
        {"negative size passed over", damaged, plain, "CCCC", 1, ChunkSearch::kBadSize, 0},
        {"negative size compared first", damaged, plain, "BAD!", 1, ChunkSearch::kFound, 20},
        {"size 0 below a minimum of 1", damaged, dawn, "CCCC", 1, ChunkSearch::kBadSize, 0},
        {"the 101st chunk", form + many + Header("TTTT", 0), plain, "TTTT", 1, ChunkSearch::kTooMany, 0},
        {"the 101st chunk, no chunk limit", form + many + Header("TTTT", 0), unbounded, "TTTT", 1,
         ChunkSearch::kFound, 812},
        {"the 100th chunk", form + many.substr(8) + Header("TTTT", 0), plain, "TTTT", 1, ChunkSearch::kFound, 804},
        {"a header past the limit", form + Header("AAAA", 0) + Header("TTTT", 0), limited, "TTTT", 1,
         ChunkSearch::kNotThere, 0},
        {"a size past the end", marked, plain, "TTTT", 1, ChunkSearch::kNotThere, 0},
        {"a chunk of fixed extent", marked, dawn, "TTTT", 1, ChunkSearch::kFound, 24},
        {"a header cut short", form + Header("AAAA", 0) + "TTT", plain, "TTTT", 1, ChunkSearch::kNotThere, 0},
    };
    const char* const ids[] = {"AAAA", "BBBB", "CCCC", "DDDD", "TTTT", "MARK", "FILL", "BAD!"};
    for (const Case& c : cases) {
        MemorySource source(c.data.data(), c.data.size());
        const auto id = [](const char* text) { return LoadBE32(reinterpret_cast<const uint8_t*>(text)); };
        ChunkHeader found;
        EXPECT_EQ(SearchChunk(source, c.layout, id(c.id), c.occurrence, &found), c.expected) << c.name;
        if (c.expected == ChunkSearch::kFound) EXPECT_EQ(found.offset, c.offset) << c.name;

        // A list keeps at most kMaxChunksSearched headers: it serves bounded layouts.
        if (c.layout.maxChunks == 0) continue;
        ChunkList list;
        list.Walk(source, c.layout);
        for (const char* other : ids) {
            for (unsigned n = 0; n <= 3; ++n) {
                ChunkHeader walked, listed;
                const ChunkSearch byWalk = SearchChunk(source, c.layout, id(other), n, &walked);
                ASSERT_EQ(list.Find(id(other), n, &listed), byWalk) << c.name << ' ' << other << ' ' << n;
                if (byWalk == ChunkSearch::kFound) EXPECT_EQ(listed.offset, walked.offset) << c.name;
            }
        }
    }
}

TEST(ChunkSearch, AKeptListAnswersOnlyForItsForkWhileItsScopeLives) {
    testsupport::TempDir dir;
    const std::string path = dir / "chunks";
    testsupport::WriteFile(path, "FORM" + std::string(4, '\0') + "TEST" + Header("AAAA", 0));
    FSRef ref{path};
    int fork = XWQF::kNoFork;
    ASSERT_EQ(XWQF::OpenFork(&ref, XWQF::kPermRead, &fork), 0);
    KeptChunks kept;
    ChunkHeader found;
    ChunkSearch result = ChunkSearch::kNotThere;
    OSErr error = 0;
    EXPECT_FALSE(kept.Find(fork, 0x41414141, 1, &found, &result, &error));
    {
        const KeptChunks::Scope scope(kept, fork, ChunkLayout{});
        ASSERT_TRUE(kept.Find(fork, 0x41414141, 1, &found, &result, &error));
        EXPECT_EQ(result, ChunkSearch::kFound);
        EXPECT_EQ(found.offset, 12u);
        EXPECT_FALSE(kept.Find(fork + 1, 0x41414141, 1, &found, &result, &error));
        {
            // A scope inside another keeps the outer list and leaves it kept.
            const KeptChunks::Scope inner(kept, fork, ChunkLayout{});
        }
        EXPECT_TRUE(kept.Find(fork, 0x42424242, 1, &found, &result, &error));
        EXPECT_EQ(result, ChunkSearch::kNotThere);
    }
    EXPECT_FALSE(kept.Find(fork, 0x41414141, 1, &found, &result, &error));
    EXPECT_EQ(XWQF::CloseFork(fork), 0);
}

}  // namespace
