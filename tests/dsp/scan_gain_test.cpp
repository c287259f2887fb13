// The peak and gap scan, the normalize decision and the gain pass: peaks per
// word size and channel selection, region blocks, gap guards and thresholds, the
// scan's choice and stops; the modes, levels and failures of the gain pass, the
// limiter and the gate by exact fixtures, the numbered steps' loops, ranges and
// extras, and sox as the peer of gain and normalize on real WAVE files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <tuple>

#include "dsp/gain.h"
#include "dsp/scan.h"
#include "formats/pcm/wave_file.h"
#include "memory_files.h"
#include "soundfile/progress.h"
#include "soundfile/sample_conversion.h"

namespace {

using namespace dsptest;
using Op = MemorySoundFile::Op;
using Gaps = std::vector<int32_t>;  // start, end, start, end, ...

class ScanGain : public DspTest {
protected:
    // A channel treatment switched on, or kOff.
    static constexpr int kOff = -1;
    void Treat(int treatment) {
        conversion.SetNeedsChannelTreat(treatment != kOff);
        conversion.SetChannelTreat(short(std::max(treatment, 0)));
    }
};

Gaps AllGaps(CSoundFile& file) {
    Gaps gaps;
    int32_t start, end;
    for (uint32_t i = 0; file.GetGap(i, &start, &end) == 0; ++i)
        gaps.insert(gaps.end(), {start, end});
    return gaps;
}

// Stretches of equal frames: left (and right) value, frame count.
struct Stretch {
    int32_t left, right;
    uint32_t frames;
};
Samples Expand(const std::vector<Stretch>& stretches, short channels) {
    Samples s;
    for (const Stretch& r : stretches)
        for (uint32_t i = 0; i < r.frames; ++i) {
            s.push_back(r.left);
            if (channels == 2) s.push_back(r.right);
        }
    return s;
}

TEST_F(ScanGain, PeakPerWordSizeAndChannelSelection) {
    const struct {
        short channels, bits, dataType;
        int treat;
        Samples samples;
        double peak;
    } cases[] = {
        {1, 16, 0, kOff, {5, -32768, 7}, 32768 * 3.051758e-05},
        {1, 8, 0, kOff, {-128, 3}, 1.0},
        {1, 24, 0, kOff, {0x7FFFFF, -5}, TwentyFour2Double((const unsigned char*)"\xFF\xFF\x7F")},
        {1, 32, 0, kOff, {INT32_MIN, 1}, 2147483648.0 * 4.65661287308e-10},
        {1, 32, kDataType24In32, kOff, {0x400000, 1}, 0x40000000 * 4.65661287308e-10},
        {2, 16, 0, 3, {32767, 32767, -1, 0}, 65534 * 3.051758e-05},
        {2, 32, 0, 3, {INT32_MIN, INT32_MIN}, 4294967296.0 * 4.65661287308e-10},
        {2, 16, 0, 4, {100, 2000, -300, 5}, 300 * 3.051758e-05},
        {2, 16, 0, 5, {100, 2000, -300, 5}, 2000 * 3.051758e-05},
        // Every channel the gain pass processes: treatment off, a layout the
        // treatment leaves alone, or a treatment without a channel of its own.
        {2, 16, 0, kOff, {100, 2000}, 2000 * 3.051758e-05},
        {1, 16, 0, 3, {-400}, 400 * 3.051758e-05},
        {3, 16, 0, 4, {1, 2, 3000}, 3000 * 3.051758e-05},
        {2, 16, 0, 6, {100, 2000}, 2000 * 3.051758e-05},
        {1, 48, 0, kOff, {1, 2, 3, 4, 5, 6}, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " x " << c.bits << ", treat " << c.treat);
        Treat(c.treat);
        for (auto scan : {GetMax, GetMaxAndGapScan}) {
            auto file = MemoryFile(c.channels, c.bits, c.samples, 44100.0, c.dataType);
            conversion.SetMax(0.75);
            EXPECT_EQ(scan(file.get(), &conversion), 0);
            EXPECT_DOUBLE_EQ(conversion.GetMax(), c.peak);
            EXPECT_TRUE(conversion.GetHasValidMax());
        }
    }
}

// Regions [1000, 2000) and [10000, 11000) at 44100 Hz, joined over 8000 frames
// by a margin of 100 ms (4410 frames) when stripping: one loud frame counts only
// inside the widened block [0, 15410), or inside a region when extracting.
TEST_F(ScanGain, PeakOfRegionBlocks) {
    const std::tuple<bool, uint32_t, bool> cases[] = {{true, 0, true},
                                                      {true, 15409, true},
                                                      {true, 15410, false},
                                                      {false, 1500, true},
                                                      {false, 5000, false},
                                                      {false, 0, false}};  // no regions
    conversion.SetStripMargin(100.0f);
    for (const auto& [strip, loud, counted] : cases) {
        auto file = MemoryFile(1, 16, Samples(20000, 1));
        file->SetSample(loud, 0, 1000);
        for (int32_t s : {1000, 10000}) {
            if (loud == 0 && !strip) break;
            SFTRegion r{s, s, s + 1000, s, 0, {1, 'r'}};
            ASSERT_EQ(file->AddRegion(&r), 0);
        }
        conversion.SetNeedsStrip(strip);
        conversion.SetNeedsExtraction(!strip);
        ASSERT_EQ(GetMax(file.get(), &conversion), 0);
        const double quiet = loud == 0 && !strip ? 0.0 : 3.051758e-05;  // no region: 0
        EXPECT_DOUBLE_EQ(conversion.GetMax(), counted ? 1000 * 3.051758e-05 : quiet) << loud;
        EXPECT_TRUE(conversion.GetHasValidMax());
    }
}

// Threshold -20 dB: 3276 at 16 bits (6552 for the mix). At 1000 Hz the guards
// are 30 frames and a gap length of 0.1 s is 100 frames; at 44.1 kHz 1323 and
// 8820 for 0.2 s. Between loud frames a quiet stretch of the gap length and
// both guards is no gap; one frame more is.
TEST_F(ScanGain, GapsFromGuardsThresholdsAndChannels) {
    const auto between = [](int32_t quiet, uint32_t frames) {
        return std::vector<Stretch>{{9000, 0, 10}, {quiet, 0, frames}, {-9000, 0, 1}};
    };
    const struct {
        double rate, gapSeconds;
        short channels;
        int treat;
        std::vector<Stretch> stretches;
        Gaps gaps;
    } cases[] = {
        {1000, 0.1, 1, kOff, {{0, 0, 200}}, {30, 200}},  // from the attack guard
        {1000, 0.1, 1, kOff, {{0, 0, 150}, {9000, 0, 50}}, {0, 120}},
        {1000, 0.1, 1, kOff, between(0, 160), {}},
        {1000, 0.1, 1, kOff, between(0, 161), {40, 141}},
        {1000, 0.1, 1, kOff, between(3276, 161), {}},  // the threshold itself is loud
        {1000, 0.1, 1, kOff, between(-3275, 161), {40, 141}},
        {44100, 0.2, 1, kOff, between(0, 11466), {}},
        {44100, 0.2, 1, kOff, between(0, 11467), {1333, 10154}},
        {1000, 0.1, 2, kOff, {{9000, 0, 200}}, {}},  // any loud channel
        {1000, 0.1, 2, 4, {{0, 9000, 200}}, {30, 200}},
        {1000, 0.1, 2, 3, {{5000, -5000, 200}}, {30, 200}},
        {1000, 0.1, 2, 3, {{2000, 2000, 200}}, {30, 200}},
    };
    conversion.SetGateThreshold(-20.0);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        Treat(c.treat);
        conversion.SetGateGapLength(c.gapSeconds);
        auto file = MemoryFile(c.channels, 16, Expand(c.stretches, c.channels), c.rate);
        file->SetSFTBufferSize(64);  // silences run across blocks
        ASSERT_EQ(GetGapScan(file.get(), &conversion), 0);
        EXPECT_EQ(AllGaps(*file), c.gaps);
    }
}

// Which scan runs, and a scan stopped by a cancel or a failed read.
TEST_F(ScanGain, ScanFileChoiceAndFailures) {
    const double kLoud = 9000 * 3.051758e-05;
    const struct {
        bool gate, normalize, valid;
        OSErr fault, status;
        double peak;  // 0.25 before
        Gaps gaps;
    } cases[] = {
        {true, true, false, 0, 0, kLoud, {40, 300}},   {true, true, true, 0, 0, 0.25, {40, 300}},
        {true, false, false, 0, 0, 0.25, {40, 300}},   {false, true, false, 0, 0, kLoud, {}},
        {false, true, true, 0, 0, 0.25, {}},           {false, true, false, -128, -128, 1.0, {}},
        {true, true, false, -39, -39, 1.0, {40, 300}},  // the open silence lasts to the end
    };
    conversion.SetGateThreshold(-20.0);
    conversion.SetGateGapLength(0.1);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        auto file = MemoryFile(1, 16, Expand({{9000, 0, 10}, {0, 0, 290}}, 1), 1000.0);
        file->SetSFTBufferSize(100);
        if (c.fault == -39) file->FailAt(Op::RefreshInput, 100, -39);
        context.lastError = c.fault == -128 ? -128 : 0;
        conversion.SetNeedsGate(c.gate);
        conversion.SetNeedsNormalize(c.normalize);
        conversion.SetMax(0.25);
        conversion.SetHasValidMax(c.valid);
        EXPECT_EQ(ScanFile(file.get(), &conversion), c.status);
        EXPECT_DOUBLE_EQ(conversion.GetMax(), c.peak);
        EXPECT_EQ(AllGaps(*file), c.gaps);
    }
}

// The divisor (7 when untouched) of a ceiling and the LSB of 16 or 24 bits.
TEST_F(ScanGain, NormalizeDecision) {
    const std::tuple<double, short, double, double> cases[] = {
        {0, 16, 1.0, 7},
        {0, 16, 1 - 0x1p-15, 7},
        {0, 16, 1 - 0x1p-14, 1 - 0x1p-14 + 0x1p-16},
        {0, 16, 1.5, 1.5 + 0x1p-16},
        {20 * std::log10(0.5), 24, 0.25, 0.5 + 0x1p-24},
    };
    for (const auto& [ceiling, bits, peak, divisor] : cases) {
        MemorySoundFile file(1, bits);
        conversion.SetCeiling(ceiling);
        conversion.SetMax(peak);
        conversion.SetCeiledMax(7);
        EXPECT_EQ(IsNormalizeNeeded(&file, &conversion), divisor != 7) << peak;
        EXPECT_NEAR(conversion.GetCeiledMax(), divisor, 1e-12) << peak;
    }
}

// Samples that are no more than one step apart.
void ExpectClose(const Samples& got, const Samples& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_LE(std::abs(got[i] - want[i]), 1) << "sample " << i;
}

// Blocks of two frames; a fault stops the pass where it occurs.
TEST_F(ScanGain, ModesLevelsAndFailures) {
    const double kHalf = 20 * std::log10(0.5);
    enum Fault { kNone, kCancel, kRead, kWrite };
    const struct {
        bool normalize, limiter, scan;  // scan: measure the peak first
        double ceiling, boost;
        Samples in, out;
        short inChannels = 1;
        OSErr status = 0;
        Fault fault = kNone;
    } cases[] = {
        {false, false, false, 0, 0, {16384, -8192, 3}, {16384, -8192, 3}},
        {true, false, true, 0, 0, {16384, -8192, 3}, {32767, -16384, 6}},
        {true, false, true, 0, 0, {32767, -8192}, {32767, -8192}},  // within one step
        {true, false, true, kHalf, 0, {32767, -8192}, {16383, -4096}},
        {true, false, false, 0, 0, {16384}, {}, 1, -20024},  // no valid peak
        {true, true, false, 0, 0, {16384}, {}, 1, -20024},
        {false, true, true, 0, 6, {16384, -8192}, {32690, -16345}},  // boost under the ceiling
        // The mix loop: normalized, and normalized and limited at a boost of -6 dB.
        {true, false, true, 0, 0, {16384, 0, 4096, 4096}, {32767, 16383}, 2},
        {true, true, true, 0, kHalf, {16384, 0, 4096, 4096}, {16384, 8192}, 2},
        {true, true, true, 0, 0, {0, 0, 0}, {0, 0, 0}},  // silence: nothing to normalize
        {false, false, false, 0, 0, {1, 2, 3}, {}, 1, -128, kCancel},
        {false, false, false, 0, 0, {1, 2, 3}, {1, 2}, 1, -39, kRead},
        {false, false, false, 0, 0, {1, 2, 3}, {1, 2}, 1, -39, kWrite},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        auto in = MemoryFile(c.inChannels, 16, c.in);
        MemorySoundFile out(1, 16, 0);
        out.SetSFTBufferSize(c.inChannels == 2 ? 2 : 4);
        if (c.fault == kRead) in->FailAt(Op::RefreshInput, 2, -39);
        if (c.fault == kWrite) out.FailAt(Op::Flush, 2, -39);
        context.lastError = c.fault == kCancel ? -128 : 0;
        Treat(c.inChannels == 2 ? 3 : kOff);
        conversion.SetCeiling(c.ceiling);
        conversion.SetCompBoost(c.boost);
        conversion.SetNeedsCompressor(c.limiter);
        conversion.SetNeedsNormalize(c.scan);
        conversion.SetHasValidMax(0);
        ASSERT_EQ(ScanFile(in.get(), &conversion), 0);
        conversion.SetNeedsNormalize(c.normalize);
        EXPECT_EQ(c.inChannels == 2 ? Gain050(in.get(), &out, &conversion)
                                    : Gain002(in.get(), &out, &conversion),
                  c.status);
        ExpectClose(AllSamples(out), c.out);
    }
}

// 8-bit samples are written at the scale they are read with: a full-scale input
// normalized to -1 dB peaks at 113/128 (-1.08 dB), and a file already at its
// ceiling comes back as it was, both ends included.
TEST_F(ScanGain, EightBitNormalizeWritesAtTheReadScale) {
    const std::tuple<double, Samples, Samples> cases[] = {
        {-1.0, {127, -127, 64, -1}, {113, -113, 57, 0}},
        {0.0, {127, -128, 64, -1}, {127, -128, 64, -1}},
    };
    for (const auto& [ceiling, in, want] : cases) {
        SCOPED_TRACE(ceiling);
        auto input = MemoryFile(1, 8, in);
        MemorySoundFile out(1, 8, 0);
        Treat(kOff);
        conversion.SetCeiling(ceiling);
        conversion.SetNeedsCompressor(0);
        conversion.SetNeedsNormalize(1);
        conversion.SetHasValidMax(0);
        ASSERT_EQ(ScanFile(input.get(), &conversion), 0);
        ASSERT_EQ(Gain002(input.get(), &out, &conversion), 0);
        EXPECT_EQ(AllSamples(out), want);
    }
}

// An input that gives no frames from frame 4 on, short of its frame count: the
// pass ends with -39 after the blocks it could read (blocks of 2 frames).
struct ShortInput : MemorySoundFile {
    using MemorySoundFile::MemorySoundFile;
    using MemorySoundFile::Read;
    OSErr Read(short channel, uint32_t start, uint32_t* count, double* samples) override {
        if (start >= 4) *count = 0;
        return *count ? MemorySoundFile::Read(channel, start, count, samples) : OSErr(0);
    }
};

TEST_F(ScanGain, InputEndingEarlyEndsThePass) {
    ShortInput in(1, 16, 10);
    MemorySoundFile out(1, 16, 0);
    out.SetSFTBufferSize(4);
    EXPECT_EQ(Gain002(&in, &out, &conversion), kEOFErr);
    EXPECT_EQ(out.GetNumSFrames(), 4u);
}

// A stereo input with equal channels under the mix gives the mono input's output.
TEST_F(ScanGain, MixOfEqualChannelsEqualsMono) {
    const std::tuple<const char*, bool, bool, double> cases[] = {
        {"normalize", true, false, 0.0},
        {"limiter with normalize", true, true, 3.0},
        {"boost", false, true, 3.0},
    };
    Samples mono(300), stereo;
    for (int i = 0; i < 300; ++i) {
        mono[i] = (i * 7919) % 20000 - 10000 + (i == 150 ? 20000 : 0);
        stereo.insert(stereo.end(), 2, mono[i]);
    }
    conversion.SetCeiling(-1.0);
    for (const auto& [what, normalize, limiter, boost] : cases) {
        SCOPED_TRACE(what);
        conversion.SetNeedsNormalize(normalize);
        conversion.SetNeedsCompressor(limiter);
        conversion.SetCompBoost(boost);
        Samples outputs[2];
        for (int mix = 0; mix < 2; ++mix) {
            Treat(mix ? 3 : kOff);
            auto in = mix ? MemoryFile(2, 16, stereo) : MemoryFile(1, 16, mono);
            conversion.SetNeedsNormalize(1);
            conversion.SetHasValidMax(0);
            ASSERT_EQ(ScanFile(in.get(), &conversion), 0);
            conversion.SetNeedsNormalize(normalize);
            MemorySoundFile out(1, 16, 0);
            out.SetSFTBufferSize(mix ? 64 : 128);  // blocks of 64 frames in both loops
            ASSERT_EQ(mix ? Gain050(in.get(), &out, &conversion)
                          : Gain002(in.get(), &out, &conversion),
                      0);
            outputs[mix] = AllSamples(out);
        }
        EXPECT_NE(outputs[0], mono);
        EXPECT_EQ(outputs[1], outputs[0]);
    }
}

// The limiter over blocks at, below and above the window (44.1 kHz: 64 frames)
// gives what its frame rule gives, each block's look-back staying in the block,
// written block by block in order; a failed write ends the pass with the blocks
// before it in the output.
TEST_F(ScanGain, LimiterOverBlocksAroundTheWindow) {
    conversion.SetNeedsCompressor(1);
    conversion.SetCompBoost(0);
    conversion.SetCeiling(20 * std::log10(0.5));
    const uint32_t kFrames = 600, kW = 64;
    Samples in(kFrames, 8192);
    for (uint32_t p : {10u, 63u, 64u, 70u, 140u, 141u, 250u, 400u, 470u, 599u}) in[p] = 32767;
    const double release = std::exp2(-3.0 / 22050.0);
    for (uint32_t block : {31u, 63u, 64u, 65u, 200u}) {
        for (bool failing : {false, true}) {
            SCOPED_TRACE(testing::Message() << block << (failing ? ", failing write" : ""));
            std::vector<double> want(kFrames);
            double env = 0;
            for (uint32_t s = 0; s < kFrames; s += block) {
                for (uint32_t i = 0; i < std::min(block, kFrames - s); ++i) {
                    env *= release;
                    double y = in[s + i] * 3.051758e-05 * (1 - env);
                    if (y > 0.5) {
                        const double r = 0.5 / y, step = (1 - r) / kW;
                        for (uint32_t j = 1; i + 1 >= kW && j + 1 < kW; ++j)
                            want[s + i + 1 - kW + j] *= 1 - j * step;
                        env = 1 - (1 - env) * r;
                        y *= r;
                    }
                    want[s + i] = y;
                }
            }
            auto file = MemoryFile(1, 16, in);
            MemorySoundFile out(1, 16, 0);
            out.SetSFTBufferSize(2 * block);  // the mono loop's blocks are half the buffer
            if (failing) out.FailAt(Op::Flush, 2 * block, -39);
            ASSERT_EQ(Gain002(file.get(), &out, &conversion), failing ? -39 : 0);
            const uint32_t written = failing ? 2 * block : kFrames;
            Samples expected(written);
            for (uint32_t p = 0; p < written; ++p) expected[p] = int32_t(want[p] * 32768);
            Samples got = AllSamples(out);
            got.resize(std::min<size_t>(got.size(), written));
            ExpectClose(got, expected);
            std::vector<uint32_t> flushed;
            for (const auto& call : out.calls)
                if (call.op == Op::Flush) flushed.push_back(call.frame);
            EXPECT_EQ(flushed.size(), failing ? 3u : (kFrames + block - 1) / block);
            EXPECT_TRUE(std::is_sorted(flushed.begin(), flushed.end()));
        }
    }
}

// One frame far above a ceiling of 0.5 in a steady 0.25 at 44.1 kHz (window 64,
// blocks of 6144 frames): that frame lands on the ceiling, the 63 frames before
// it in its block fade into the reduction, and the gain recovers by the release
// factor, to an eighth of the reduction after 0.5 s.
TEST_F(ScanGain, LimiterHoldsAPeakAtTheCeiling) {
    conversion.SetNeedsCompressor(1);
    conversion.SetCompBoost(0);
    conversion.SetCeiling(20 * std::log10(0.5));
    const double release = std::exp2(-3.0 / 22050.0);
    for (uint32_t spike : {100u, 6144u + 10}) {
        SCOPED_TRACE(spike);
        auto in = MemoryFile(1, 16, Samples(30000, 8192));
        in->SetSample(spike, 0, 32767);
        MemorySoundFile out(1, 16, 0);
        ASSERT_EQ(Gain002(in.get(), &out, &conversion), 0);
        const double r = 0.5 / (32767 * 3.051758e-05), s = (1 - r) / 64;
        const bool lookBack = spike % 6144 >= 63;
        Samples want(30000);
        for (uint32_t p = 0; p < 30000; ++p) {
            double g = 1.0;
            if (p > spike) g = 1 - (1 - r) * std::pow(release, p - spike);
            if (lookBack && p < spike && p + 63 >= spike) g = 1 - (p + 63 - spike) * s;
            want[p] = int32_t(0.25 * g * 32768);
        }
        want[spike] = 16384;
        ExpectClose(AllSamples(out), want);
        EXPECT_NEAR(out.GetSample(spike + 22050, 0), 8192 * (1 - (1 - r) / 8), 1);
    }
}

// The gain of frame p under a gate from `level` to 0.1 over 32 frames (8 kHz)
// in the gap [from, to); a gap that reaches the end does not fade back. The
// loops that read several channels ramp one frame later: down over the 33
// frames from..from + 32, back up over the last 31 frames.
double GateGain(uint32_t p, double level, uint32_t from, uint32_t to, bool toEnd, bool wide) {
    const double down = (level - 0.1) / (32 + wide), up = (level - 0.1) / (32 - wide);
    if (p < from || p >= to) return level;
    double g = level - std::min<double>(p - from + 1, 32 + wide) * down;
    if (!toEnd && p + 32 + !wide > to) g += (p + 32 + !wide - to) * up;
    return g;
}

TEST_F(ScanGain, GateFadesGapsDownAndBack) {
    using Loop = OSErr (*)(CSoundFile*, CSoundFile*, uint32_t, uint32_t, uint32_t*, CConvSpec*);
    const Loop mono = [](CSoundFile* i, CSoundFile* o, uint32_t s, uint32_t e, uint32_t* p,
                         CConvSpec* c) { return GenericGainMono(i, o, s, e, p, c, 0); };
    const struct {
        Loop loop;
        short in, out;
        Gaps gaps;
        bool limiter = false;
    } cases[] = {
        {mono, 1, 1, {100, 300}},
        {GenericGainStereo, 2, 2, {100, 300}},
        {GenericGainMultiChannel, 3, 3, {100, 300}},
        {GenericGainMix, 2, 1, {100, 300}},
        {GenericGainM2S, 1, 2, {100, 300}},
        {GenericGainStereo, 2, 2, {300, 500}},       // to the end
        {mono, 1, 1, {100, 300, 150, 250, 50, 80}},  // overlapping, out of order
        {mono, 1, 1, {100, 300}, true},              // the limiter: back to the boost
        {mono, 1, 1, {0, 300}, true},                // from the boost at the start
    };
    conversion.SetGateAttenuation(-20.0);
    conversion.SetCompBoost(20 * std::log10(2.0));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        conversion.SetNeedsCompressor(c.limiter);
        auto in = MemoryFile(c.in, 16, Samples(400 * c.in, 8192), 8000.0);
        for (size_t g = 0; g < c.gaps.size(); g += 2) in->AddGap(c.gaps[g], c.gaps[g + 1]);
        MemorySoundFile out(c.out, 16, 0, 8000.0);
        out.SetSFTBufferSize(100);  // gaps across blocks
        uint32_t pos = 0;
        ASSERT_EQ(c.loop(in.get(), &out, 0, 400, &pos, &conversion), 0);
        EXPECT_EQ(pos, 400u);
        Samples want;
        for (uint32_t p = 0; p < 400; ++p) {
            const double g = GateGain(p, c.limiter ? 2 : 1, c.gaps[0], c.gaps[1], c.gaps[1] >= 400,
                                      c.loop != mono && c.loop != GenericGainM2S);
            want.insert(want.end(), c.out, int32_t(0.25 * g * 32768));
        }
        ExpectClose(AllSamples(out), want);
    }
}

// The numbered steps as one type: whole file, range [2, 5), range at the caller's position.
using Step = OSErr (*)(CSoundFile*, CSoundFile*, CConvSpec*, uint32_t*);
template <OSErr (*F)(CSoundFile*, CSoundFile*, CConvSpec*)>
OSErr Whole(CSoundFile* in, CSoundFile* out, CConvSpec* c, uint32_t*) {
    return F(in, out, c);
}
template <OSErr (*F)(CSoundFile*, CSoundFile*, uint32_t, uint32_t, CConvSpec*)>
OSErr Range(CSoundFile* in, CSoundFile* out, CConvSpec* c, uint32_t*) {
    return F(in, out, 2, 5, c);
}
template <OSErr (*F)(CSoundFile*, CSoundFile*, uint32_t, uint32_t, uint32_t*, CConvSpec*)>
OSErr At(CSoundFile* in, CSoundFile* out, CConvSpec* c, uint32_t* pos) {
    return F(in, out, 2, 5, pos, c);
}

// Each step's loop by the input's channel count, in pass-through: channel c of
// frame f holds 1000 (c + 1) + f. Regions [2, 4) and [7, 8) make the strip; a
// marker at frame 4 is carried after a good pass, moved with its range.
TEST_F(ScanGain, NumberedStepsPickLoopsAndRanges) {
    const struct {
        Step step;
        short in, out;
        OSErr status;
        Samples first;     // the first frame written
        uint32_t written;  // frames; the caller's position after the steps that take it
        int marker;        // its frame in the output, -1 for none
    } cases[] = {
        {Whole<Gain002>, 2, 2, 0, {1000, 2000}, 10, 4},
        {Whole<Gain002>, 3, 3, 0, {1000, 2000, 3000}, 10, 4},
        {Whole<Gain006>, 1, 1, 0, {1002}, 3, 2},
        {Range<Gain010>, 2, 2, 0, {1002, 2002}, 3, 2},
        {Whole<Gain018>, 1, 2, 0, {1000, 1000}, 10, 4},
        {Whole<Gain022>, 2, 2, 0, {1002, 2002}, 3, 2},
        {At<Gain026>, 1, 2, 0, {1002, 1002}, 10, 9},
        {Whole<Gain050>, 2, 1, 0, {1500}, 10, 4},
        {Whole<Gain050>, 4, 1, -20025, {}, 0, -1},
        {Whole<Gain054>, 3, 3, 0, {1002, 2002, 3002}, 3, 2},
        {At<Gain058>, 2, 1, 0, {1502}, 10, 9},
        {Whole<Gain070>, 2, 1, 0, {1002}, 3, 2},
        {Range<Gain074>, 3, 3, 0, {1002, 2002, 3002}, 3, 2},
        {Whole<Gain082>, 2, 1, 0, {2000}, 10, 4},
        {Whole<Gain086>, 1, 1, kParamErr, {}, 0, -1},
        {Range<Gain090>, 2, 1, 0, {2002}, 3, 2},
    };
    conversion.SetStripMargin(0.0f);
    conversion.SetCopyExtras(1);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        Samples samples;
        for (int f = 0; f < 10; ++f)
            for (int ch = 0; ch < c.in; ++ch) samples.push_back(1000 * (ch + 1) + f);
        auto in = MemoryFile(c.in, 16, samples);
        for (auto [s, e] : {std::pair{2, 4}, {7, 8}}) {
            SFTRegion r{s, s, e, s, 0, {1, 'r'}};
            ASSERT_EQ(in->AddRegion(&r), 0);
        }
        SFTMarker m{0, 4, {1, 'm'}, 0, 0};
        ASSERT_EQ(in->AddMarker(&m), 0);
        MemorySoundFile out(c.out, 16, 0);
        uint32_t pos = 7;
        ASSERT_EQ(c.step(in.get(), &out, &conversion, &pos), c.status);
        const bool at = c.step == At<Gain026> || c.step == At<Gain058>;
        const Samples got = AllSamples(out);
        const size_t from = std::min(got.size(), size_t{at ? 7u : 0u} * c.out);
        EXPECT_EQ(Samples(got.begin() + from, got.begin() + std::min(got.size(), from + c.out)),
                  c.first);
        EXPECT_EQ(at ? pos : out.GetNumSFrames(), c.written);
        const QFMarkerPtr carried = out.GetIndMarker(0u);
        EXPECT_EQ(carried ? int(carried->position) : -1, c.marker);
    }
}

// sox's gain and normalize on 24-bit noise in WAVE files of 1, 2 and 6
// channels, written here and there as 16 bits without dither: one step apart
// where sox rounds and the output truncates, two after a normalize, whose
// divisor keeps half a step of headroom, so its peak lies within one step below
// the ceiling. The limiter (no sox counterpart) lets no sample above it.
TEST_F(ScanGain, GainNormalizeAndLimiterOnSoxNoise) {
    if (!testsupport::HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
    testsupport::TempDir dir;
    unsigned char extension[256];
    pstrcpy(std::string("wav"), extension);
    enum Kind { kGain, kNormalize, kLimiter };
    const struct {
        const char* effects;
        OSErr (*step)(CSoundFile*, CSoundFile*, CConvSpec*);
        short inChannels, channels;
        Kind kind;
        int tolerance;
    } cases[] = {{"gain 6", Gain002, 1, 1, kGain, 1},
                 {"gain 6", Gain002, 2, 2, kGain, 1},
                 {"gain 6", Gain002, 6, 6, kGain, 1},
                 {"gain -n -3", Gain002, 1, 1, kNormalize, 2},
                 {"gain -n -3", Gain002, 2, 2, kNormalize, 2},
                 {"gain -n -3", Gain002, 6, 6, kNormalize, 2},
                 {"remix 1,2 gain -n -3", Gain050, 2, 1, kNormalize, 2},
                 {"remix 2 gain -n -3", Gain082, 2, 1, kNormalize, 2},
                 {"", Gain002, 1, 1, kLimiter, 0},
                 {"", Gain002, 6, 6, kLimiter, 0}};
    const double ceiling = std::pow(10.0, -3.0 / 20);
    conversion.SetCeiling(-3.0);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.effects << ", " << c.inChannels << " channels");
        const std::string input = dir / ("in" + std::to_string(c.inChannels) + ".wav");
        ASSERT_EQ(std::system(("sox -R -n -r 44100 -c " + std::to_string(c.inChannels) +
                               " -b 24 '" + input + "' synth 0.2 whitenoise vol 0.2 2>/dev/null")
                                  .c_str()),
                  0);
        SoundFilePtr in(new CWAVEFile), out(new CWAVEFile);
        ASSERT_EQ(in->ISoundFile(input) | in->Open() | out->ISoundFile(dir / "ours"), 0);
        ASSERT_EQ(out->Create(c.channels, 16, 44100.0f, nullptr, extension), 0);
        conversion.SetNeedsChannelTreat(c.step != Gain002);
        conversion.SetChannelTreat(c.step == Gain050 ? 3 : 5);
        conversion.SetNeedsNormalize(1);  // the scan measures the peak either way
        conversion.SetHasValidMax(0);
        ASSERT_EQ(ScanFile(in.get(), &conversion), 0);
        conversion.SetNeedsNormalize(c.kind == kNormalize);
        conversion.SetNeedsCompressor(c.kind != kNormalize);
        conversion.SetCompBoost(c.kind == kLimiter ? 14.0 : 6.0);
        ASSERT_EQ(c.step(in.get(), out.get(), &conversion), 0);
        const std::string path = out->GetPath();
        out.reset();
        std::string ours, theirs;
        ASSERT_TRUE(SoxToRaw("'" + path + "'", "-e signed -b 16", "", &ours));
        std::remove(path.c_str());
        ASSERT_EQ(ours.size(), 8820u * 2 * c.channels);
        int peak = 0;
        for (size_t i = 0; i < ours.size(); i += 2) {
            int16_t v;
            std::memcpy(&v, ours.data() + i, 2);
            peak = std::max(peak, std::abs(int(v)));
        }
        if (c.kind != kGain) {
            EXPECT_LE(peak, ceiling * 32768);
        }
        if (c.kind == kNormalize) {
            EXPECT_GE(peak, ceiling * 32768 - 2);
        }
        if (c.kind == kLimiter) continue;
        ASSERT_TRUE(SoxToRaw("'" + input + "'", "-e signed -b 16 -D", c.effects, &theirs));
        EXPECT_LE(MaxDifference16(ours, theirs), c.tolerance);
    }
    CorvaOutFile::Clear();
}

// The gate on sox's loud noise around a quiet tone (threshold -30 dB, gaps of
// 0.1 s): the tone's 0.2 s at 44.1 kHz, less the 30 ms guards, comes out at the
// default gate level of -12 dB between the ramps; the noise is untouched.
TEST_F(ScanGain, GateAttenuatesASoxGap) {
    if (!testsupport::HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
    testsupport::TempDir dir;
    const std::string loud = dir / "loud.wav", quiet = dir / "quiet.wav", input = dir / "in.wav";
    const std::string make = "sox -R -n -r 44100 -c 2 -b 16 ";
    ASSERT_EQ(std::system((make + "'" + loud + "' synth 0.1 square 300 vol 0.5 2>/dev/null && " +
                           make + "'" + quiet + "' synth 0.2 sine 1000 vol 0.01 2>/dev/null && " +
                           "sox '" + loud + "' '" + quiet + "' '" + loud + "' '" + input +
                           "' 2>/dev/null")
                              .c_str()),
              0);
    unsigned char extension[256];
    pstrcpy(std::string("wav"), extension);
    SoundFilePtr in(new CWAVEFile), out(new CWAVEFile);
    ASSERT_EQ(in->ISoundFile(input) | in->Open() | out->ISoundFile(dir / "ours"), 0);
    ASSERT_EQ(out->Create(2, 16, 44100.0f, nullptr, extension), 0);
    conversion.SetNeedsGate(1);
    conversion.SetGateThreshold(-30.0);
    conversion.SetGateGapLength(0.1);
    ASSERT_EQ(ScanFile(in.get(), &conversion), 0);
    EXPECT_EQ(AllGaps(*in), (Gaps{4410 + 1323, 13230 - 1323}));
    ASSERT_EQ(Gain002(in.get(), out.get(), &conversion), 0);
    const std::string path = out->GetPath();
    out.reset();
    std::string ours, theirs;
    ASSERT_TRUE(SoxToRaw("'" + path + "'", "-e signed -b 16", "", &ours));
    ASSERT_TRUE(SoxToRaw("'" + input + "'", "-e signed -b 16", "", &theirs));
    std::remove(path.c_str());
    ASSERT_EQ(ours.size(), theirs.size());
    const double level = std::pow(10.0, -12.0 / 20);
    int worst = 0;
    for (size_t i = 0; i + 1 < ours.size(); i += 2) {
        const size_t frame = i / 4;
        int16_t x, y;
        std::memcpy(&x, theirs.data() + i, 2);
        std::memcpy(&y, ours.data() + i, 2);
        if (frame >= 4410 + 1323 && frame < 13230 - 1323 && (frame < 5733 + 66 || frame >= 11907 - 66))
            continue;  // the ramps
        const bool gated = frame >= 4410 + 1323 && frame < 13230 - 1323;
        worst = std::max(worst, std::abs(y - int(std::lround(x * (gated ? level : 1.0)))));
    }
    EXPECT_LE(worst, 1);
    CorvaOutFile::Clear();
}

// The file's regions give way to one region per gap, in the gap list's order,
// numbered from 1; without gaps the file is left with no region.
TEST_F(ScanGain, Gaps2RegionsReplacesTheRegions) {
    const Gaps cases[] = {{0, 270, 340, 570, 640, 870}, {}};
    for (const Gaps& gaps : cases) {
        SCOPED_TRACE(gaps.size());
        auto file = MemoryFile(1, 16, Samples(1000));
        for (int32_t s : {10, 500, 600}) {
            SFTRegion r{s, s, s + 50, s, 0, {1, 'r'}};
            ASSERT_EQ(file->AddRegion(&r), 0);
        }
        for (size_t g = 0; g < gaps.size(); g += 2) file->AddGap(gaps[g], gaps[g + 1]);
        ASSERT_EQ(Gaps2Regions(file.get(), &conversion), 0);
        std::vector<std::string> want, got;
        for (size_t g = 0; g < gaps.size(); g += 2)
            want.push_back("XWQ Region 000" + std::to_string(g / 2 + 1) + " " +
                           std::to_string(gaps[g]) + "-" + std::to_string(gaps[g + 1]));
        for (uint32_t i = 0; QFRegionPtr r = file->GetIndRegion(i); ++i)
            got.push_back(r->name + " " + std::to_string(r->start) + "-" + std::to_string(r->end));
        EXPECT_EQ(got, want);
        EXPECT_EQ(AllGaps(*file), gaps);
    }
}

TEST_F(ScanGain, Amp2dBInvertsdB2Amp) {
    EXPECT_EQ(Amp2dB(0.0), -HUGE_VAL);
    EXPECT_EQ(Amp2dB(-0.0), -HUGE_VAL);
    EXPECT_DOUBLE_EQ(Amp2dB(1.0), 0.0);
    EXPECT_DOUBLE_EQ(Amp2dB(-0.1), -20.0);
    for (double dB : {-96.0, -6.0, 0.0, 12.5}) EXPECT_NEAR(Amp2dB(-dB2Amp(dB)), dB, 1e-12);
}

}  // namespace
