// The copy loops and steps: word-length reduction and redither per loop, the
// block loop's progress and failures, extras and the strip step, and sox as the
// peer for channel handling and rounding.
#include "dsp/copy_steps.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "memory_files.h"
#include "platform/notification_center.h"
#include "soundfile/progress.h"
#include "soundfile/sample_conversion.h"

namespace {

using namespace dsptest;

enum class Loop { kGeneric, kM2S, kMix, kLeft, kRight };

OSErr RunLoop(Loop loop, CSoundFile& in, CSoundFile& out, uint32_t start, uint32_t end, uint32_t* pos,
              CConvSpec& conversion) {
    switch (loop) {
        case Loop::kGeneric:
            return CopyGeneric(&in, &out, start, end, pos, &conversion);
        case Loop::kM2S:
            return CopyM2SGeneric(&in, &out, start, end, pos, &conversion);
        case Loop::kMix:
            return CopyMixGeneric(&in, &out, start, end, pos, &conversion);
        default:
            return Copy1ChannelGeneric(&in, &out, start, end, pos, loop == Loop::kRight ? 1 : 0, &conversion);
    }
}

struct ReductionCase {
    Loop loop;
    short inChannels, inBits, outChannels, outBits;
    Samples in, expected;
    short inType = 0;
    OSErr status = 0;
};

using CopyLoops = DspTest;

TEST_F(CopyLoops, ReduceRoundAndMoveChannels) {
    const ReductionCase cases[] = {
        // Half a 16-bit step above and below 0 rounds up in the plain loop...
        {Loop::kGeneric, 1, 24, 1, 16, {0x80, -0x80, 0x7FFFFF, -0x800000}, {1, 0, 32767, -32768}},
        // ...and down in the others.
        {Loop::kLeft, 2, 24, 1, 16, {0x80, 5, -0x80, 6}, {0, -1}},
        {Loop::kRight, 2, 24, 1, 16, {1, 0x100, 2, -0x100}, {1, -1}},
        {Loop::kM2S, 1, 24, 2, 16, {0x80, -0x80}, {0, 0, -1, -1}},
        {Loop::kMix, 2, 24, 1, 16, {0x100, 0x100, 0x80, 0, -0x800000, -0x800000, 0x7FFFFF, 0x7FFFFF},
         {1, 0, -32768, 32767}},
        {Loop::kMix, 2, 8, 1, 8, {127, 127, -128, -128, 1, 0, 1, 1}, {127, -128, 0, 1}},
        {Loop::kMix, 2, 8, 1, 24, {1, 0, 127, 127}, {0x8000, 0x7F0000}},
        {Loop::kMix, 2, 16, 1, 16, {32767, 32767, -1, 0}, {32767, -1}},
        {Loop::kGeneric, 1, 32, 1, 8, {0x7FFFFFFF, 0x800000, -0x800000}, {127, 1, 0}},
        {Loop::kGeneric, 1, 8, 1, 16, {-128, 127}, {-32768, 32512}},
        {Loop::kM2S, 1, 16, 2, 24, {0x1234}, {0x123400, 0x123400}},
        {Loop::kGeneric, 2, 16, 2, 16, {1, -2, 3, -4}, {1, -2, 3, -4}},
        // 24-bit values right-justified in 32-bit words.
        {Loop::kGeneric, 1, 32, 1, 24, {0x123456, 0x00FFFFFB}, {0x123456, -5}, kDataType24In32},
        {Loop::kLeft, 1, 32, 1, 24, {0x123456}, {0x123456}, kDataType24In32},
        {Loop::kGeneric, 1, 32, 1, 32, {0x123456}, {0x12345600}, kDataType24In32},
        // Layouts a loop cannot serve.
        {Loop::kRight, 1, 16, 1, 16, {1}, {}, 0, kParamErr},
        {Loop::kMix, 2, 16, 2, 16, {1, 2}, {}, 0, kParamErr},
        {Loop::kGeneric, 2, 16, 1, 16, {1, 2}, {}, 0, kParamErr},
        {Loop::kGeneric, 1, 48, 1, 16, {1}, {}, 0, kParamErr},
    };
    for (const ReductionCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "loop " << int(c.loop) << ", " << c.inBits << " to " << c.outBits);
        auto in = MemoryFile(c.inChannels, c.inBits, c.in, 44100.0, c.inType);
        MemorySoundFile out(c.outChannels, c.outBits, 0);
        uint32_t pos = 0;
        EXPECT_EQ(RunLoop(c.loop, *in, out, 0, in->GetNumSFrames(), &pos, conversion), c.status);
        EXPECT_EQ(AllSamples(out), c.expected);
        EXPECT_EQ(pos, c.expected.size() / c.outChannels);
    }
}

TEST_F(CopyLoops, RedithersFromTheSharedCursor) {
    struct Case {
        Loop loop;
        short inBits, outBits;
        Samples in;
        uint16_t cursor;
        Samples expected;
        uint16_t cursorAfter;
    } cases[] = {
        // The first dithered sample takes the entry after the cursor.
        {Loop::kGeneric, 24, 16, {1, 1}, 0, {1, 0}, 2},
        {Loop::kGeneric, 24, 16, {1}, 65535, {1}, 0},
        {Loop::kLeft, 16, 8, {1, 0}, 0, {1}, 1},
        // Full scale stays full scale and takes no entry.
        {Loop::kGeneric, 32, 16, {0x7FFFFFFF}, 7, {32767}, 7},
        {Loop::kGeneric, 32, 8, {0x7FFFFFFF}, 7, {127}, 7},
        // Mono to stereo and the mix dither only a wider source.
        {Loop::kM2S, 8, 16, {1}, 0, {256, 256}, 0},
        {Loop::kMix, 8, 8, {1, 0}, 0, {0}, 0},
        {Loop::kMix, 16, 8, {0x100, 0}, 0, {1}, 1},
    };
    static uint16_t table[65536];
    table[0] = table[1] = 255;
    uint16_t* const saved = gDitherTable;
    const uint16_t savedCursor = gDitherTableIndex;
    gDitherTable = table;
    conversion.SetNeedsRedither(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "loop " << int(c.loop) << ", cursor " << c.cursor);
        const short inChannels = c.loop == Loop::kGeneric || c.loop == Loop::kM2S ? 1 : 2;
        auto in = MemoryFile(inChannels, c.inBits, c.in);
        MemorySoundFile out(c.loop == Loop::kM2S ? 2 : 1, c.outBits, 0);
        gDitherTableIndex = c.cursor;
        uint32_t pos = 0;
        EXPECT_EQ(RunLoop(c.loop, *in, out, 0, in->GetNumSFrames(), &pos, conversion), 0);
        EXPECT_EQ(AllSamples(out), c.expected);
        EXPECT_EQ(gDitherTableIndex, c.cursorAfter);
        EXPECT_TRUE(out.GetDither());
    }
    gDitherTable = saved;
    gDitherTableIndex = savedCursor;
}

// Output positions of a loop's flushes (attempted) and its progress reports.
struct Trace {
    std::vector<uint32_t> flushed, reported;
};

TEST_F(CopyLoops, BlocksProgressAndFailures) {
    using Op = MemorySoundFile::Op;
    struct Case {
        const char* what;
        uint32_t start, end;
        std::function<void(MemorySoundFile& in, MemorySoundFile& out, platform::ThreadContext&)> fault;
        OSErr status;
        Trace trace;
        size_t markers;  // carried to the output
    } cases[] = {
        {"block + 1 frames", 0, 5, nullptr, 0, {{0, 4}, {4, 5}}, 1},
        {"empty range, marker at its start", 2, 2, nullptr, 0, {{}, {}}, 1},
        {"range past the file's end", 2, 9, nullptr, 0, {{0}, {5}}, 1},
        {"cancel", 0, 5, [](auto&, auto&, auto& ctx) { ctx.lastError = kUserCanceledErr; },
         kUserCanceledErr, {{0}, {4}}, 0},
        {"read failure", 0, 5, [](auto& in, auto&, auto&) { in.FailAt(Op::RefreshInput, 4, -39); }, -39,
         {{0}, {4}}, 0},
        {"write failure", 0, 5, [](auto&, auto& out, auto&) { out.FailAt(Op::Flush, 0, -34); }, -34, {{0}, {}}, 0},
    };
    conversion.SetCopyExtras(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        context.lastError = 0;
        auto in = MemoryFile(1, 16, {1, 2, 3, 4, 5});
        SFTMarker marker{1, 2, {1, 'm'}, 0, 0};
        ASSERT_EQ(in->AddMarker(&marker), 0);
        MemorySoundFile out(1, 16, 0);
        in->SetSFTBufferSize(4);
        out.SetSFTBufferSize(4);
        if (c.fault) c.fault(*in, out, context);
        Trace trace;
        auto token = platform::NotificationCenter::Default().AddObserver(
            ProgressPosition, nullptr,
            [&](const platform::Notification& n) { trace.reported.push_back(uint32_t(n.object.asInteger())); });
        uint32_t pos = 0;
        EXPECT_EQ(CopyGeneric(in.get(), &out, c.start, c.end, &pos, &conversion), c.status);
        platform::NotificationCenter::Default().RemoveObserver(token);
        for (const auto& call : out.calls)
            if (call.op == Op::Flush) trace.flushed.push_back(call.frame);
        EXPECT_EQ(trace.flushed, c.trace.flushed);
        EXPECT_EQ(trace.reported, c.trace.reported);
        EXPECT_EQ(out.GetNumMarkers(), c.markers);
    }
}

TEST_F(CopyLoops, StripPacksWidenedBlocksAndTheirExtras) {
    // 100 frames at 1000 Hz whose samples count the frames; margin 5 ms = 5 frames.
    Samples ramp(100);
    for (int i = 0; i < 100; ++i) ramp[i] = i;
    auto in = MemoryFile(1, 16, ramp, 1000.0);
    for (auto [s, e] : {std::pair{10, 20}, {30, 40}, {60, 70}, {96, 99}}) {
        SFTRegion r{s, s, e, s + 1, 0, {1, static_cast<unsigned char>('a' + s % 26)}};
        ASSERT_EQ(in->AddRegion(&r), 0);
    }
    for (uint32_t p : {5u, 45u, 50u}) {
        SFTMarker m{static_cast<int32_t>(p), p, {1, 'm'}, 0, 0};
        ASSERT_EQ(in->AddMarker(&m), 0);
    }
    SFTLoop inside{1, 55, 75, 0}, straddling{2, 54, 75, 0};
    ASSERT_EQ(in->AddLoop(&inside), 0);
    ASSERT_EQ(in->AddLoop(&straddling), 0);
    in->SetTimeStamp(1000);
    conversion.SetCopyExtras(1);
    conversion.SetStripMargin(5.0f);
    MemorySoundFile out(1, 16, 0, 1000.0);
    out.SetSFTBufferSize(8);
    ASSERT_EQ(Copy004(in.get(), &out, &conversion), 0);

    // Pieces [5, 45), [55, 75) and [91, 100), back to back.
    Samples expected;
    for (auto [s, e] : {std::pair{5, 45}, {55, 75}, {91, 100}})
        for (int i = s; i < e; ++i) expected.push_back(i);
    EXPECT_EQ(AllSamples(out), expected);
    std::vector<std::pair<uint32_t, uint32_t>> regions;
    for (uint16_t i = 0; i < out.GetNumRegions(); ++i) {
        SFTRegion r;
        ASSERT_EQ(out.GetIndRegion(i, &r), 0);
        regions.emplace_back(r.start, r.end);
        EXPECT_EQ(r.sync, r.start + 1);
    }
    EXPECT_EQ(regions, (std::vector<std::pair<uint32_t, uint32_t>>{{5, 15}, {25, 35}, {45, 55}, {65, 68}}));
    ASSERT_EQ(out.GetNumMarkers(), 2);
    SFTMarker m0, m1;
    out.GetIndMarker(uint16_t{0}, &m0);
    out.GetIndMarker(uint16_t{1}, &m1);
    EXPECT_EQ(std::pair(m0.position, m1.position), std::pair(0u, 40u));
    ASSERT_EQ(out.GetNumLoops(), 1);
    SFTLoop l;
    out.GetIndLoop(uint16_t{0}, &l);
    EXPECT_EQ(std::pair(l.start, l.end), std::pair(40u, 60u));
    EXPECT_EQ(out.GetTimeStamp(), 1000u + 60u - 91u);  // the last piece's offset

    // A cancel stops after the first block of the first piece.
    context.lastError = kUserCanceledErr;
    MemorySoundFile cancelled(1, 16, 0, 1000.0);
    cancelled.SetSFTBufferSize(8);
    EXPECT_EQ(Copy004(in.get(), &cancelled, &conversion), kUserCanceledErr);
    EXPECT_EQ(cancelled.GetNumSFrames(), 8u);
}

// sox's remix and its rounding to 16 bits (without dither) as the peer of
// every treatment, over 24-bit stereo noise: at most one step apart.
TEST_F(CopyLoops, ChannelsAndRoundingAgreeWithSox) {
    if (!testsupport::HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
    Samples noise(2 * 4000);
    uint32_t seed = 1;
    for (int32_t& s : noise) s = static_cast<int32_t>((seed = seed * 1664525u + 1013904223u) >> 8) - 0x800000;
    std::string raw;
    for (int32_t s : noise) raw.append(reinterpret_cast<const char*>(&s), 3);
    const struct {
        Loop loop;
        const char* effects;
        short outChannels;
    } cases[] = {{Loop::kGeneric, "", 2}, {Loop::kMix, "remix 1,2", 1}, {Loop::kLeft, "remix 1", 1},
                 {Loop::kRight, "remix 2", 1}, {Loop::kM2S, "remix 1 1", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.effects);
        std::string peer;
        ASSERT_TRUE(SoxRaw(raw, "-r 44100 -e signed -b 24 -c 2", "-e signed -b 16 -D", c.effects, &peer));
        auto in = MemoryFile(2, 24, noise);
        MemorySoundFile out(c.outChannels, 16, 0);
        uint32_t pos = 0;
        ASSERT_EQ(RunLoop(c.loop, *in, out, 0, 4000, &pos, conversion), 0);
        const Samples ours = AllSamples(out);
        ASSERT_EQ(peer.size(), ours.size() * 2);
        int worst = 0;
        for (size_t i = 0; i < ours.size(); ++i) {
            int16_t theirs;
            std::memcpy(&theirs, peer.data() + 2 * i, 2);
            worst = std::max(worst, std::abs(ours[i] - theirs));
        }
        EXPECT_LE(worst, 1);
    }
}

}  // namespace
