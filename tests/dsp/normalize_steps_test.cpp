// The normalize steps against the gain pass normalizing alone (no gate, no
// limiter) on the same inputs and word sizes: every sample within one step and
// the same peak, for every step, raising, lowering and leaving a peak on the ceiling.
#include "dsp/normalize_steps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "dsp/gain.h"
#include "dsp/scan.h"
#include "memory_files.h"

namespace {

using namespace dsptest;

// Every step as one type: the caller's position is used by the steps that take one.
using Step = OSErr (*)(CSoundFile*, CSoundFile*, CConvSpec*, uint32_t*);
template <OSErr (*F)(CSoundFile*, CSoundFile*, CConvSpec*)>
OSErr Whole(CSoundFile* in, CSoundFile* out, CConvSpec* c, uint32_t*) {
    return F(in, out, c);
}
template <OSErr (*F)(CSoundFile*, CSoundFile*, uint32_t, uint32_t, CConvSpec*)>
OSErr Range(CSoundFile* in, CSoundFile* out, CConvSpec* c, uint32_t*) {
    return F(in, out, 15, 230, c);
}
template <OSErr (*F)(CSoundFile*, CSoundFile*, uint32_t, uint32_t, uint32_t*, CConvSpec*)>
OSErr At(CSoundFile* in, CSoundFile* out, CConvSpec* c, uint32_t* pos) {
    return F(in, out, 15, 230, pos, c);
}

int Peak(const Samples& s) {
    int peak = 0;
    for (int32_t v : s) peak = std::max(peak, std::abs(v));
    return peak;
}

using NormalizeSteps = DspTest;

// 300 frames of noise at 1000 Hz with regions [20, 50), [58, 70), [200, 240)
// and [295, 300), packed with a margin of 5 frames by the strip steps.
TEST_F(NormalizeSteps, MatchTheGainPassNormalizing) {
    const int kOff = -1;
    const struct {
        const char* what;
        Step normalize, gain;
        short in, out;
        int treat;
        bool strip = false;
        bool decides = true;  // the loops apply the divisor the gain pass stored
    } pairs[] = {
        {"003, mono", Whole<Normalize003>, Whole<Gain002>, 1, 1, kOff},
        {"003, stereo", Whole<Normalize003>, Whole<Gain002>, 2, 2, kOff},
        {"003, 3 channels", Whole<Normalize003>, Whole<Gain002>, 3, 3, kOff},
        {"006", Whole<Normalize006>, Whole<Gain006>, 2, 2, kOff, true},
        {"all channels strip", Whole<NormalizeAllChannelsStrip>, Whole<Gain006>, 1, 1, kOff, true},
        {"011", Range<Normalize011>, Range<Gain010>, 2, 2, kOff},
        {"all channels",
         [](CSoundFile* i, CSoundFile* o, CConvSpec* c, uint32_t* p) {
             return NormalizeAllChannels(i, o, 15, 230, c, p);
         },
         At<GenericGainMultiChannel>, 3, 3, kOff, false, false},
        {"019", Whole<Normalize019>, Whole<Gain018>, 1, 2, 1},
        {"022", Whole<Normalize022>, Whole<Gain022>, 1, 2, 1, true},
        {"027",
         [](CSoundFile* i, CSoundFile* o, CConvSpec* c, uint32_t* p) {
             return Normalize027(i, o, 15, 230, p, c);
         },
         At<Gain026>, 1, 2, 1, false, false},
        {"050", Whole<Normalize050>, Whole<Gain050>, 2, 1, 3},
        {"054", Whole<Normalize054>, Whole<Gain054>, 2, 1, 3, true},
        {"058",
         [](CSoundFile* i, CSoundFile* o, CConvSpec* c, uint32_t* p) {
             return Normalize058(i, o, 15, 230, c, p);
         },
         At<Gain058>, 2, 1, 3},
        {"066", Whole<Normalize066>, Whole<Gain066>, 2, 1, 4},
        {"070", Whole<Normalize070>, Whole<Gain070>, 2, 1, 4, true},
        {"074", Range<Normalize074>, Range<Gain074>, 2, 1, 4},
        {"082", Whole<Normalize082>, Whole<Gain082>, 2, 1, 5},
        {"086", Whole<Normalize086>, Whole<Gain086>, 2, 1, 5, true},
        {"090", Range<Normalize090>, Range<Gain090>, 2, 1, 5},
        {"one channel",
         [](CSoundFile* i, CSoundFile* o, CConvSpec* c, uint32_t* p) {
             return Normalize1Channel(i, o, 15, 230, c, 1, 0, p);
         },
         [](CSoundFile* i, CSoundFile* o, CConvSpec* c, uint32_t* p) {
             return GenericGainMono(i, o, 15, 230, p, c, 1);
         },
         2, 1, 5, false, false},
        {"one channel strip",
         [](CSoundFile* i, CSoundFile* o, CConvSpec* c, uint32_t*) {
             return Normalize1ChannelStrip(i, o, c, 0, 0);
         },
         Whole<Gain070>, 2, 1, 4, true},
    };
    const struct {
        const char* what;
        double level, ceiling;  // of the noise (0: a peak already on the ceiling)
        short inBits, outBits;
    } variants[] = {{"raised", 0.3, -1.0, 24, 16},
                    {"lowered", 1.0, -3.0, 16, 24},
                    {"to 8 bits", 0.5, 0.0, 16, 8},
                    {"on the ceiling", 0.0, -1.0, 16, 16}};
    conversion.SetStripMargin(5.0f);
    conversion.SetCopyExtras(1);
    for (const auto& p : pairs) {
        for (const auto& v : variants) {
            if (v.level == 0.0 && !p.decides) continue;
            SCOPED_TRACE(testing::Message() << p.what << ", " << v.what);
            conversion.SetNeedsChannelTreat(p.treat != kOff);
            conversion.SetChannelTreat(short(std::max(p.treat, 0)));
            conversion.SetNeedsStrip(p.strip);
            conversion.SetCeiling(v.ceiling);
            const double top = std::ldexp(1.0, v.inBits - 1) - 1;
            Samples noise(300 * size_t(p.in));
            uint32_t seed = 777;
            for (int32_t& s : noise) {
                seed = seed * 1664525u + 1013904223u;
                s = int32_t(
                    std::lround((seed / 2147483648.0 - 1.0) * (v.level ? v.level : 0.9) * top));
            }
            auto in = MemoryFile(p.in, v.inBits, noise, 1000.0);
            for (int32_t r : {20, 58, 200, 295}) {
                SFTRegion region{r, r, r == 295 ? 300 : r == 58 ? 70 : r + 30, r, 0, {1, 'r'}};
                ASSERT_EQ(in->AddRegion(&region), 0);
            }
            conversion.SetNeedsNormalize(1);
            conversion.SetHasValidMax(0);
            ASSERT_EQ(ScanFile(in.get(), &conversion), 0);
            if (v.level == 0.0)  // the mix's peak is that of the sum
                conversion.SetMax(dB2Amp(v.ceiling) * (p.treat == 3 ? 2 : 1));

            MemorySoundFile gained(p.out, v.outBits, 0, 1000.0), ours(p.out, v.outBits, 0, 1000.0);
            gained.SetSFTBufferSize(64);
            ours.SetSFTBufferSize(64);
            uint32_t gainPos = 7, ourPos = 7;
            ASSERT_EQ(p.gain(in.get(), &gained, &conversion, &gainPos), 0);
            ASSERT_EQ(p.normalize(in.get(), &ours, &conversion, &ourPos), 0);
            EXPECT_EQ(ourPos, gainPos);
            const Samples want = AllSamples(gained), got = AllSamples(ours);
            ASSERT_EQ(got.size(), want.size());
            for (size_t i = 0; i < got.size(); ++i)
                ASSERT_LE(std::abs(got[i] - want[i]), 1) << "sample " << i;
            EXPECT_EQ(Peak(got), Peak(want));
            if (v.level == 0.0) {
                EXPECT_EQ(got, want);
            }
            EXPECT_EQ(ours.GetNumRegions(), gained.GetNumRegions());

            // A step that decides refuses a peak that was never measured.
            if (!p.decides) continue;
            conversion.SetHasValidMax(0);
            MemorySoundFile refused(p.out, v.outBits, 0, 1000.0);
            EXPECT_EQ(p.normalize(in.get(), &refused, &conversion, &ourPos), -20024);
            EXPECT_EQ(refused.GetNumSFrames(), 0u);
        }
    }
}

}  // namespace
