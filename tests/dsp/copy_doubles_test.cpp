// The double-valued copies against the copy steps they stand beside: the same
// frames within what Write's truncation allows, the same extras, over every
// scope and channel treatment; blocks, progress and failures of their loop.
#include "dsp/copy_doubles.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "dsp/copy_steps.h"
#include "memory_files.h"
#include "platform/notification_center.h"
#include "soundfile/progress.h"
#include "soundfile/sample_conversion.h"

namespace {

using namespace dsptest;
using Op = MemorySoundFile::Op;
using Step = OSErr (*)(CSoundFile*, CSoundFile*, CConvSpec*);

// Loops, regions (start, end, sync), markers, the time stamp and whether
// sampler data came along, in one list.
std::vector<int64_t> Extras(CSoundFile& file) {
    std::vector<int64_t> all;
    for (uint32_t i = 0; QFLoopPtr l = file.GetIndLoop(i); ++i)
        all.insert(all.end(), {l->start, l->end});
    for (uint32_t i = 0; QFRegionPtr r = file.GetIndRegion(i); ++i)
        all.insert(all.end(), {r->start, r->end, r->sync});
    for (uint32_t i = 0; QFMarkerPtr m = file.GetIndMarker(i); ++i) all.push_back(m->position);
    SFTSamplerInfo info;
    all.insert(all.end(), {file.GetTimeStamp(), file.GetSamplerInfo(&info)});
    return all;
}

// A range step run at a fresh position, which must end advanced by the range.
template <OSErr (*F)(CSoundFile*, CSoundFile*, uint32_t, uint32_t, uint32_t*, CConvSpec*)>
OSErr Region(CSoundFile* in, CSoundFile* out, CConvSpec* c) {
    uint32_t pos = 0;
    const OSErr err = F(in, out, 15, 230, &pos, c);
    EXPECT_EQ(pos, 215u);
    return err;
}
// Source channel kChannel, of the whole file, a range and the strip.
template <short kChannel>
OSErr One(CSoundFile* in, CSoundFile* out, CConvSpec* c) {
    return Copy1Channel(in, out, kChannel, 0, c);
}
template <short kChannel>
OSErr OneRegion(CSoundFile* in, CSoundFile* out, CConvSpec* c) {
    uint32_t pos = 0;
    const OSErr err = Copy1ChannelRegion(in, out, 15, 230, kChannel, 0, &pos, c);
    EXPECT_EQ(pos, 215u);
    return err;
}
template <short kChannel>
OSErr OneStrip(CSoundFile* in, CSoundFile* out, CConvSpec* c) {
    return Copy1ChannelStrip(in, out, kChannel, 0, c);
}
template <OSErr (*F)(CSoundFile*, CSoundFile*, uint32_t, uint32_t, CConvSpec*)>
OSErr Live(CSoundFile* in, CSoundFile* out, CConvSpec* c) {
    return F(in, out, 15, 230, c);
}

using CopyDoubles = DspTest;

// 300 frames of full-range noise at 1000 Hz, regions [20, 50), [58, 70),
// [200, 240) and [295, 300) packed with a margin of 5 frames, and extras in and
// across the ranges.
TEST_F(CopyDoubles, MatchTheCopyStepsFrameForFrame) {
    const struct {
        const char* what;
        Step doubles, live;
        short in, out;
        bool mix = false;
    } pairs[] = {
        {"all, whole", CopyAllChannels, Copy000, 2, 2},
        {"all, whole, 3 channels", CopyAllChannels, Copy000, 3, 3},
        {"all, region", Region<CopyAllChannelsRegion>, Live<Copy008>, 2, 2},
        {"all, strip", CopyAllChannelsStrip, Copy004, 1, 1},
        {"m2s, whole", CopyM2S, Copy016, 1, 2},
        {"m2s, region", Region<CopyM2SRegion>, Live<Copy024>, 1, 2},
        {"m2s, strip", CopyM2SStrip, Copy020, 1, 2},
        {"mix, whole", CopyS2M, Copy048, 2, 1, true},
        {"mix, region", Region<CopyS2MRegion>, Live<Copy056>, 2, 1, true},
        {"mix, strip", CopyS2MStrip, Copy052, 2, 1, true},
        {"left, whole", One<0>, Copy064, 2, 1},
        {"right, whole", One<1>, Copy080, 2, 1},
        {"left, region", OneRegion<0>, Live<Copy072>, 2, 1},
        {"right, region", OneRegion<1>, Live<Copy088>, 2, 1},
        {"left, strip", OneStrip<0>, Copy068, 2, 1},
        {"right, strip", OneStrip<1>, Copy084, 2, 1},
    };
    // Write truncates where the copy steps round: one step apart. A sample kept
    // at its width is kept exactly, 8 bits included, except by the mix.
    const struct {
        short inBits, outBits;
        bool redither;
    } sizes[] = {{16, 16, false}, {24, 16, true}, {16, 24, false}, {24, 24, false}, {8, 8, false}};
    static uint16_t table[65536];
    for (size_t i = 0; i < 65536; ++i) table[i] = uint16_t((i * 97) & 255);
    uint16_t* const saved = gDitherTable;
    gDitherTable = table;
    conversion.SetCopyExtras(1);
    conversion.SetStripMargin(5.0f);
    for (const auto& p : pairs) {
        for (const auto& s : sizes) {
            SCOPED_TRACE(testing::Message() << p.what << ", " << s.inBits << " to " << s.outBits);
            conversion.SetNeedsRedither(s.redither);
            const int32_t top = int32_t{1} << (s.inBits - 1);
            Samples noise(300 * size_t(p.in));
            uint32_t seed = 12345;
            for (int32_t& v : noise) {
                seed = seed * 1664525u + 1013904223u;
                v = int32_t(int64_t(seed >> 8) % (2 * int64_t{top})) - top;
            }
            noise[0] = top - 1;
            noise[p.in] = -top;
            auto in = MemoryFile(p.in, s.inBits, noise, 1000.0);
            for (int32_t r : {20, 58, 200, 295}) {
                SFTRegion region{r, r, r == 295 ? 300 : r == 58 ? 70 : r + 30, r + 1, 0, {1, 'r'}};
                ASSERT_EQ(in->AddRegion(&region), 0);
            }
            for (uint32_t m : {15u, 25u, 120u, 230u}) {
                SFTMarker marker{0, m, {1, 'm'}, 0, 0};
                ASSERT_EQ(in->AddMarker(&marker), 0);
            }
            SFTLoop inside{1, 30, 40, 0}, straddling{2, 10, 40, 0};
            SFTSamplerInfo info{60, 0, 0, 127, 0, 127, 0, 1};
            ASSERT_EQ(in->AddLoop(&inside) | in->AddLoop(&straddling) | in->SetSamplerInfo(&info),
                      0);
            in->SetTimeStamp(1000);

            MemorySoundFile live(p.out, s.outBits, 0, 1000.0), ours(p.out, s.outBits, 0, 1000.0);
            live.SetSFTBufferSize(64);
            ours.SetSFTBufferSize(64);
            gDitherTableIndex = 0;
            ASSERT_EQ(p.live(in.get(), &live, &conversion), 0);
            gDitherTableIndex = 0;
            ASSERT_EQ(p.doubles(in.get(), &ours, &conversion), 0);

            const Samples want = AllSamples(live), got = AllSamples(ours);
            ASSERT_EQ(got.size(), want.size());
            const int tolerance = (p.mix || s.inBits != s.outBits) ? 1 : 0;
            int worst = 0;
            for (size_t i = 0; i < got.size(); ++i)
                worst = std::max(worst, std::abs(got[i] - want[i]));
            EXPECT_LE(worst, tolerance);
            EXPECT_EQ(Extras(ours), Extras(live));
        }
    }
    gDitherTable = saved;
}

// Blocks of four frames: a cancel or a failure stops the loop where it occurs,
// keeps what was written and carries no extras.
TEST_F(CopyDoubles, BlocksProgressAndFailures) {
    enum Fault { kNone, kCancel, kRead, kWrite };
    const struct {
        const char* what;
        DoubleLayout layout;
        short in, out;
        Fault fault;
        OSErr status;
        std::vector<uint32_t> flushedAt, reported;
        uint16_t markers;
    } cases[] = {
        {"block + 1 frames", DoubleLayout::kAllChannels, 1, 1, kNone, 0, {0, 4}, {4, 5}, 1},
        {"mono to stereo", DoubleLayout::kMonoToStereo, 1, 2, kNone, 0, {0, 4}, {4, 5}, 1},
        {"cancel", DoubleLayout::kAllChannels, 1, 1, kCancel, -128, {0}, {4}, 0},
        {"read failure", DoubleLayout::kOneChannel, 2, 1, kRead, -39, {0}, {4}, 0},
        {"write failure", DoubleLayout::kAllChannels, 1, 1, kWrite, -39, {0}, {}, 0},
        {"mix of one channel", DoubleLayout::kMix, 1, 1, kNone, kParamErr, {}, {}, 0},
        {"stereo into three channels",
         DoubleLayout::kAllChannels,
         2,
         3,
         kNone,
         kParamErr,
         {},
         {},
         0},
    };
    conversion.SetCopyExtras(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto in = MemoryFile(c.in, 16, Samples(5 * size_t(c.in), 7));
        SFTMarker marker{1, 2, {1, 'm'}, 0, 0};
        ASSERT_EQ(in->AddMarker(&marker), 0);
        MemorySoundFile out(c.out, 16, 0);
        out.SetSFTBufferSize(4);
        context.lastError = c.fault == kCancel ? -128 : 0;
        if (c.fault == kRead) in->FailAt(Op::RefreshInput, 4, -39);
        if (c.fault == kWrite) out.FailAt(Op::Flush, 0, -39);
        std::vector<uint32_t> flushedAt, reported;
        auto token = platform::NotificationCenter::Default().AddObserver(
            ProgressPosition, nullptr,
            [&](const auto& n) { reported.push_back(uint32_t(n.object.asInteger())); });
        uint32_t pos = 0;
        EXPECT_EQ(MoveDoubleFrames(c.layout, in.get(), &out, 0, 9, &pos, 0, 1.0, &conversion),
                  c.status);
        platform::NotificationCenter::Default().RemoveObserver(token);
        for (const auto& call : out.calls)
            if (call.op == Op::Flush) flushedAt.push_back(call.frame);
        EXPECT_EQ(flushedAt, c.flushedAt);
        EXPECT_EQ(reported, c.reported);
        EXPECT_EQ(out.GetNumMarkers(), c.markers);
        if (c.status == 0) {
            EXPECT_EQ(AllSamples(out), Samples(5 * size_t(c.out), 7));
        }
    }
}

}  // namespace
