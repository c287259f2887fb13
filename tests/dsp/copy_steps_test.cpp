// The copy loops and steps: word-length reduction with rounding or redither per
// loop, blocks, progress and failures, extras and the strip step, and sox as the
// peer of channel handling and rounding on real WAVE files.
#include "dsp/copy_steps.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "formats/pcm/wave_file.h"
#include "foundation/pstring.h"
#include "memory_files.h"
#include "platform/notification_center.h"
#include "soundfile/progress.h"
#include "soundfile/sample_conversion.h"

namespace {

using namespace dsptest;
using Op = MemorySoundFile::Op;

enum Loop { kGeneric, kM2S, kMix, kLeft, kRight };

OSErr RunLoop(Loop loop, CSoundFile& in, CSoundFile& out, uint32_t start, uint32_t end,
              uint32_t* pos, CConvSpec& cs) {
    switch (loop) {
        case kGeneric:
            return CopyGeneric(&in, &out, start, end, pos, &cs);
        case kM2S:
            return CopyM2SGeneric(&in, &out, start, end, pos, &cs);
        case kMix:
            return CopyMixGeneric(&in, &out, start, end, pos, &cs);
        default:
            return Copy1ChannelGeneric(&in, &out, start, end, pos, loop == kRight ? 1 : 0, &cs);
    }
}

using CopyLoops = DspTest;

TEST_F(CopyLoops, ReduceWithRoundingOrRedither) {
    const int kOff = -1;  // no redither
    const struct {
        Loop loop;
        short inChannels, inBits, outBits;
        Samples in, expected;
        int cursor = kOff, cursorAfter = kOff;  // of the dither table
        short inType = 0;
        OSErr status = 0;
        short outType = 0;
    } cases[] = {
        // Half a 16-bit step above and below 0 rounds up in the plain loop, down in the others.
        {kGeneric, 1, 24, 16, {0x80, -0x80, 0x7FFFFF, -0x800000}, {1, 0, 32767, -32768}},
        {kLeft, 2, 24, 16, {0x80, 5, -0x80, 6}, {0, -1}},
        {kRight, 2, 24, 16, {1, 0x100, 2, -0x100}, {1, -1}},
        {kM2S, 1, 24, 16, {0x80, -0x80}, {0, 0, -1, -1}},
        {kMix, 2, 24, 16, {0x100, 0x100, 0x80, 0, -0x800000, -0x800000}, {1, 0, -32768}},
        {kMix, 2, 24, 16, {0x7FFFFF, 0x7FFFFF}, {32767}},
        {kMix, 2, 8, 8, {127, 127, -128, -128, 1, 0, 1, 1}, {127, -128, 0, 1}},
        {kMix, 2, 8, 24, {1, 0, 127, 127}, {0x8000, 0x7F0000}},
        {kMix, 2, 16, 16, {32767, 32767, -1, 0}, {32767, -1}},
        {kGeneric, 1, 32, 8, {0x7FFFFFFF, 0x800000, -0x800000}, {127, 1, 0}},
        {kGeneric, 1, 8, 16, {-128, 127}, {-32768, 32512}},
        {kM2S, 1, 16, 24, {0x1234}, {0x123400, 0x123400}},
        {kGeneric, 2, 16, 16, {1, -2, 3, -4}, {1, -2, 3, -4}},
        // 24-bit values right-justified in 32-bit words, also into a plain 32-bit output.
        {kGeneric, 1, 32, 24, {0x123456, 0x00FFFFFB}, {0x123456, -5}, kOff, kOff, kDataType24In32},
        {kLeft, 1, 32, 24, {0x123456}, {0x123456}, kOff, kOff, kDataType24In32},
        {kGeneric, 1, 32, 32, {0x123456}, {0x12345600}, kOff, kOff, kDataType24In32},
        // ... and into such words from any other form; words of the same kind unchanged.
        {kGeneric, 1, 32, 32, {0x12345678}, {0x123456}, kOff, kOff, 0, 0, kDataType24In32},
        {kGeneric, 1, 16, 32, {-2}, {-0x200}, kOff, kOff, 0, 0, kDataType24In32},
        {kGeneric, 1, 32, 32, {0x123456}, {0x123456}, kOff, kOff, kDataType24In32, 0,
         kDataType24In32},
        // Redither: the first sample takes the entry after the cursor (entries 0 and 1 are 255).
        {kGeneric, 1, 24, 16, {1, 1}, {1, 0}, 0, 2},
        {kGeneric, 1, 24, 16, {1}, {1}, 65535, 0},
        {kLeft, 2, 16, 8, {1, 0}, {1}, 0, 1},
        {kGeneric, 1, 32, 16, {0x7FFFFFFF}, {32767}, 7, 7},
        {kGeneric, 1, 32, 8, {0x7FFFFFFF}, {127}, 7, 7},
        {kM2S, 1, 8, 16, {1}, {256, 256}, 0, 0},  // only a wider source is dithered
        {kMix, 2, 8, 8, {1, 0}, {0}, 0, 0},
        {kMix, 2, 16, 8, {0x100, 0}, {1}, 0, 1},
        // Layouts a loop cannot serve.
        {kRight, 1, 16, 16, {1}, {}, kOff, kOff, 0, kParamErr},
        {kMix, 1, 16, 16, {1}, {}, kOff, kOff, 0, kParamErr},
        {kGeneric, 1, 48, 16, {1}, {}, kOff, kOff, 0, kParamErr},
    };
    static uint16_t table[65536] = {255, 255};
    uint16_t* const saved = gDitherTable;
    gDitherTable = table;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "loop " << c.loop << ", " << c.inBits << " to " << c.outBits);
        conversion.SetNeedsRedither(c.cursor != kOff);
        gDitherTableIndex = static_cast<uint16_t>(c.cursor);
        auto in = MemoryFile(c.inChannels, c.inBits, c.in, 44100.0, c.inType);
        MemorySoundFile out(c.loop == kM2S || (c.loop == kGeneric && c.inChannels == 2) ? 2 : 1,
                            c.outBits, 0, 44100.0, c.outType);
        uint32_t pos = 0;
        EXPECT_EQ(RunLoop(c.loop, *in, out, 0, in->GetNumSFrames(), &pos, conversion), c.status);
        EXPECT_EQ(AllSamples(out), c.expected);
        EXPECT_EQ(pos, c.expected.size() / out.GetNumChannels());
        EXPECT_TRUE(c.cursor == kOff || gDitherTableIndex == c.cursorAfter);
    }
    // Without a table a dithering copy fills one.
    gDitherTable = nullptr;
    auto in = MemoryFile(1, 24, {1});
    MemorySoundFile out(1, 16, 0);
    conversion.SetNeedsRedither(1);
    EXPECT_EQ(Copy000(in.get(), &out, &conversion), 0);
    EXPECT_NE(gDitherTable, nullptr);
    FreeDitherTable();
    gDitherTable = saved;
}

TEST_F(CopyLoops, BlocksProgressAndFailures) {
    enum Fault { kNone, kCancel, kRead, kWrite };
    const struct {
        const char* what;
        uint32_t start, end;
        Fault fault;
        OSErr status;
        std::vector<uint32_t> flushedAt, reported;  // flushes tried; progress
        uint16_t markers;                           // carried to the output
    } cases[] = {
        {"block + 1 frames", 0, 5, kNone, 0, {0, 4}, {4, 5}, 1},
        {"empty range, marker at its start", 2, 2, kNone, 0, {}, {}, 1},
        {"range past the file's end", 2, 9, kNone, 0, {0}, {5}, 1},
        {"cancel", 0, 5, kCancel, -128, {0}, {4}, 0},
        {"read failure", 0, 5, kRead, -39, {0}, {4}, 0},
        {"write failure", 0, 5, kWrite, -39, {0}, {}, 0},
    };
    conversion.SetCopyExtras(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto in = MemoryFile(1, 16, {1, 2, 3, 4, 5});
        SFTMarker marker{1, 2, {1, 'm'}, 0, 0};
        ASSERT_EQ(in->AddMarker(&marker), 0);
        MemorySoundFile out(1, 16, 0);
        in->SetSFTBufferSize(4);  // blocks fit the smaller of the two buffers
        out.SetSFTBufferSize(8);
        context.lastError = c.fault == kCancel ? -128 : 0;
        if (c.fault == kRead) in->FailAt(Op::RefreshInput, 4, -39);
        if (c.fault == kWrite) out.FailAt(Op::Flush, 0, -39);
        std::vector<uint32_t> flushedAt, reported;
        auto token = platform::NotificationCenter::Default().AddObserver(
            ProgressPosition, nullptr,
            [&](const auto& n) { reported.push_back(uint32_t(n.object.asInteger())); });
        uint32_t pos = 0;
        EXPECT_EQ(CopyGeneric(in.get(), &out, c.start, c.end, &pos, &conversion), c.status);
        platform::NotificationCenter::Default().RemoveObserver(token);
        for (const auto& call : out.calls)
            if (call.op == Op::Flush) flushedAt.push_back(call.frame);
        EXPECT_EQ(flushedAt, c.flushedAt);
        EXPECT_EQ(reported, c.reported);
        EXPECT_EQ(out.GetNumMarkers(), c.markers);
    }
}

TEST_F(CopyLoops, StripPacksWidenedBlocksAndTheirExtras) {
    // 100 frames at 1000 Hz counting themselves; a margin of 5 ms is 5 frames.
    Samples ramp(100);
    for (int i = 0; i < 100; ++i) ramp[i] = i;
    auto in = MemoryFile(1, 16, ramp, 1000.0);
    for (int32_t s : {10, 30, 60, 96}) {
        SFTRegion r{s, s, s == 96 ? 99 : s + 10, s + 1, 0, {1, 'r'}};
        ASSERT_EQ(in->AddRegion(&r), 0);
    }
    for (uint32_t p : {5u, 45u, 50u}) {
        SFTMarker m{0, p, {1, 'm'}, 0, 0};
        ASSERT_EQ(in->AddMarker(&m), 0);
    }
    SFTLoop inside{1, 55, 75, 0}, straddling{2, 54, 75, 0};
    ASSERT_EQ(in->AddLoop(&inside) | in->AddLoop(&straddling), 0);
    in->SetTimeStamp(1000);
    conversion.SetCopyExtras(1);
    conversion.SetStripMargin(5.0f);
    MemorySoundFile out(1, 16, 0, 1000.0);
    out.SetSFTBufferSize(8);
    ASSERT_EQ(Copy004(in.get(), &out, &conversion), 0);

    Samples pieces;  // [5, 45), [55, 75) and [91, 100), back to back
    for (auto [s, e] : {std::pair{5, 45}, {55, 75}, {91, 100}})
        for (int i = s; i < e; ++i) pieces.push_back(i);
    EXPECT_EQ(AllSamples(out), pieces);
    std::vector<int32_t> extras;  // region start, end, sync; markers; loops; time stamp
    for (uint32_t i = 0; QFRegionPtr r = out.GetIndRegion(i); ++i)
        extras.insert(extras.end(), {int32_t(r->start), int32_t(r->end), int32_t(r->sync)});
    for (uint32_t i = 0; QFMarkerPtr m = out.GetIndMarker(i); ++i)
        extras.push_back(int32_t(m->position));
    for (uint32_t i = 0; QFLoopPtr l = out.GetIndLoop(i); ++i)
        extras.insert(extras.end(), {int32_t(l->start), int32_t(l->end)});
    extras.push_back(int32_t(out.GetTimeStamp()));
    EXPECT_EQ(extras, (std::vector<int32_t>{5, 15, 6, 25, 35, 26, 45, 55, 46, 65, 68, 66, 0, 40, 40,
                                            60, 969}));
}

// sox's remix and its rounding to 16 bits (no dither) as the peer of every
// treatment, on 24-bit stereo noise in WAVE files: the same samples without
// channel treatment, at most one step apart with it.
TEST_F(CopyLoops, ChannelsAndRoundingAgreeWithSoxOnWaveFiles) {
    if (!testsupport::HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
    testsupport::TempDir dir;
    const std::string input = dir / "in.wav";
    ASSERT_EQ(
        std::system(("sox -n -r 44100 -c 2 -b 24 '" + input + "' synth 0.1 whitenoise 2>/dev/null")
                        .c_str()),
        0);
    unsigned char extension[256];
    pstrcpy(std::string("wav"), extension);
    const std::tuple<Loop, const char*, short> cases[] = {{kGeneric, "", 2},
                                                          {kMix, "remix 1,2", 1},
                                                          {kLeft, "remix 1", 1},
                                                          {kRight, "remix 2", 1},
                                                          {kM2S, "remix 1 1", 2}};
    for (const auto& [loop, effects, channels] : cases) {
        SCOPED_TRACE(effects);
        SoundFilePtr in(new CWAVEFile), out(new CWAVEFile);
        ASSERT_EQ(in->ISoundFile(input) | in->Open() | out->ISoundFile(dir / "ours"), 0);
        ASSERT_EQ(out->Create(channels, 16, 44100.0f, nullptr, extension), 0);
        uint32_t pos = 0;
        ASSERT_EQ(RunLoop(loop, *in, *out, 0, in->GetNumSFrames(), &pos, conversion), 0);
        const std::string path = out->GetPath();
        out.reset();
        std::string ours, theirs;
        ASSERT_TRUE(SoxToRaw("'" + path + "'", "-e signed -b 16", "", &ours));
        ASSERT_TRUE(SoxToRaw("'" + input + "'", "-e signed -b 16 -D", effects, &theirs));
        std::remove(path.c_str());
        ASSERT_EQ(ours.size(), 4410u * 2 * channels);
        EXPECT_LE(MaxDifference16(ours, theirs), loop == kGeneric ? 0 : 1);  // ties differ
    }
    CorvaOutFile::Clear();
}

}  // namespace
