// The ring's rules, as scripts of writes and reads over a ring of the player's
// size: wrapping, equal positions, the end position, replay on underrun.
#include "playback/cyclic_play_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr uint32_t C = 49152;

struct Op {
    enum Kind { kPut, kGet, kEOF, kClearAll } kind;
    uint32_t n;
    // Expected afterwards: frames moved (Put, Get), the Get's answer, positions.
    uint32_t moved;
    bool ended;
    uint32_t r, w;
};

struct Script {
    const char* name;
    std::vector<Op> ops;
};

// Each Put writes a running frame number, so that a read can be checked.
TEST(CyclicPlayBuffer, Rules) {
    const Script scripts[] = {
        {"writes and reads wrap at the capacity",
         {{Op::kPut, 40000, 40000, false, 0, 40000},
          {Op::kGet, 40000, 40000, false, 40000, 40000},
          {Op::kPut, 20000, 20000, false, 40000, 10848},
          {Op::kGet, 20000, 9152, false, 0, 10848},
          {Op::kGet, 20000, 10848, false, 10848, 10848}}},
        {"a Put takes no more than the free frames",
         {{Op::kPut, 30000, 30000, false, 0, 30000},
          {Op::kPut, 30000, 19152, false, 0, 0},
          {Op::kGet, 100, 100, false, 100, 0}}},
        {"equal positions are a whole ring for both sides",
         {{Op::kGet, C, C, false, 0, 0},
          {Op::kPut, C, C, false, 0, 0}}},
        {"a reader that catches up replays older frames",
         {{Op::kPut, 1000, 1000, false, 0, 1000},
          {Op::kGet, 1000, 1000, false, 1000, 1000},
          {Op::kGet, 500, 500, false, 1500, 1000}}},
        {"the end inside a read cuts it and is reported",
         {{Op::kEOF, 700, 0, false, 0, 0},
          {Op::kPut, 700, 700, false, 0, 700},
          {Op::kGet, 1000, 700, true, 700, 700},
          {Op::kGet, 1000, 0, true, 700, 700}}},
        {"an end right at the end of a read is reported with it",
         {{Op::kEOF, 512, 0, false, 0, 0},
          {Op::kPut, 512, 512, false, 0, 512},
          {Op::kGet, 512, 512, true, 512, 512}}},
        {"an end at the capacity is position 0",
         {{Op::kPut, 24576, 24576, false, 0, 24576},
          {Op::kGet, 1000, 1000, false, 1000, 24576},
          {Op::kEOF, 24576, 0, false, 1000, 24576},
          {Op::kPut, 24576, 24576, false, 1000, 0},
          {Op::kGet, C, C - 1000, false, 0, 0},
          {Op::kGet, 10, 0, true, 0, 0}}},
        {"Clear forgets positions and the end",
         {{Op::kPut, 100, 100, false, 0, 100},
          {Op::kEOF, 0, 0, false, 0, 100},
          {Op::kClearAll, 0, 0, false, 0, 0},
          {Op::kPut, 200, 200, false, 0, 200},
          {Op::kGet, 300, 200, false, 200, 200}}},
    };
    std::vector<float> source(C);
    for (const Script& script : scripts) {
        SCOPED_TRACE(script.name);
        CyclicPlayBuffer ring(C, 2);
        uint32_t written = 0, read = 0, step = 0;
        for (const Op& op : script.ops) {
            SCOPED_TRACE("step " + std::to_string(step++));
            uint32_t n = op.n;
            switch (op.kind) {
                case Op::kPut: {
                    for (uint32_t i = 0; i < n; ++i) source[i] = float(written + i);
                    const float* channels[2] = {source.data(), source.data()};
                    ring.Put(channels, &n);
                    EXPECT_EQ(n, op.moved);
                    written += n;
                    break;
                }
                case Op::kGet: {
                    const float* channels[2];
                    const bool ended = ring.Get(&n, channels);
                    EXPECT_EQ(n, op.moved);
                    EXPECT_EQ(ended, op.ended);
                    // Fresh frames come in the order written; a replay brings older ones.
                    if (read + n <= written) {
                        for (uint32_t i = 0; i < n; ++i) {
                            ASSERT_EQ(channels[0][i], float(read + i)) << i;
                            ASSERT_EQ(channels[1][i], float(read + i)) << i;
                        }
                    }
                    read += n;
                    break;
                }
                case Op::kEOF: ring.SetEOF(n); break;
                case Op::kClearAll:
                    ring.Clear();
                    written = read = 0;
                    break;
            }
            EXPECT_EQ(ring.ReadPosition(), op.r);
            EXPECT_EQ(ring.WritePosition(), op.w);
        }
    }
}

TEST(CyclicPlayBuffer, ClearOfSomeFramesZeroesFromTheWritePositionAcrossTheWrap) {
    CyclicPlayBuffer ring(8, 1);
    std::vector<float> ones(8, 1.0f);
    const float* channels[1] = {ones.data()};
    uint32_t n = 6;
    ring.Put(channels, &n);
    const float* out[1];
    n = 6;
    ring.Get(&n, out);  // r = w = 6
    ring.Clear(4);      // frames 6, 7, 0, 1
    n = 8;
    ring.Get(&n, out);  // 6, 7 (up to the wrap)
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(out[0][0], 0.0f);
    EXPECT_EQ(out[0][1], 0.0f);
    n = 8;
    ring.Get(&n, out);
    ASSERT_EQ(n, 6u);
    const std::vector<float> expected = {0, 0, 1, 1, 1, 1};
    EXPECT_EQ(std::vector<float>(out[0], out[0] + 6), expected);
}

}  // namespace
