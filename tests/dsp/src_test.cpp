// Sample-rate conversion: the period rules and the table, the quality of the
// polyphase and linear converters (measured, and against sox's rate), block
// edges, channel layouts, ranges, extras, failures, and the numbered steps.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "conversion/cconv_spec.h"
#include "dsp/linear_src.h"
#include "dsp/polyphase_src.h"
#include "formats/format_test_support.h"
#include "platform/thread_context.h"
#include "soundfile/memory_sound_file.h"
#include "test_support.h"

namespace {

using testsupport::MemorySoundFile;
using File = std::unique_ptr<MemorySoundFile>;
using Wave = std::function<double(uint32_t frame, int channel)>;

constexpr double kScale = 2147483648.0;  // full scale of a 32-bit sample

// A 32-bit source of `frames` frames filled from the wave.
File Source(short channels, double rate, uint32_t frames, const Wave& wave) {
    File f = std::make_unique<MemorySoundFile>(channels, 32, frames, rate);
    for (uint32_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            f->SetSample(i, c, static_cast<int32_t>(std::lround(std::clamp(wave(i, c), -1.0, 0.9999) * kScale)));
    return f;
}

// An empty, open 32-bit output with the given buffer frames.
File Output(short channels, double rate, uint32_t bufferFrames = 12288) {
    File f = std::make_unique<MemorySoundFile>(channels, 32, 0, rate);
    f->SetOpen(true);
    f->SetSFTBufferSize(bufferFrames);
    f->loadOnRefreshOutput = true;
    return f;
}

std::vector<double> Channel(const MemorySoundFile& f, int channel) {
    std::vector<double> v(f.GetNumSFrames());
    for (uint32_t i = 0; i < v.size(); ++i) v[i] = f.GetSample(i, channel) / kScale;
    return v;
}

struct Spec {
    explicit Spec(double rate, short quality = 1) : view(std::make_shared<ConvSpec>()) {
        view.SetSampleRate(rate);
        view.SetSRConvertQuality(quality);
        view.SetCopyExtras(0);
        view.SetNeedsRedither(0);
    }
    CConvSpec* operator->() { return &view; }
    CConvSpec* get() { return &view; }
    CConvSpec view;
};

Wave Sine(double freq, double rate, double amplitude = 0.5) {
    return [=](uint32_t i, int) { return amplitude * std::sin(2 * std::numbers::pi * freq * i / rate); };
}

// A pseudo-random wave, different per channel.
Wave Noise() {
    return [](uint32_t i, int c) {
        uint32_t x = (i + 1) * 2654435761u ^ (c + 1) * 40503u;
        x ^= x >> 13;
        x *= 0x5bd1e995u;
        return ((x >> 8) / 16777216.0 - 0.5) * 0.8;
    };
}

// The level in dB of what is left of y[from..to) beside the best fit of a sine
// of `freq` at `rate`; the fit's amplitude and its phase error (radians) against
// amplitude × sin(2π freq t), t the output time.
struct Fit {
    double residualDb, amplitude, phase;
};
Fit FitSine(const std::vector<double>& y, double freq, double rate, size_t from, size_t to) {
    double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0;
    for (size_t i = from; i < to; ++i) {
        const double w = 2 * std::numbers::pi * freq * i / rate;
        const double s = std::sin(w), c = std::cos(w);
        ss += s * s, sc += s * c, cc += c * c, ys += y[i] * s, yc += y[i] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
    double res = 0, sig = 0;
    for (size_t i = from; i < to; ++i) {
        const double w = 2 * std::numbers::pi * freq * i / rate;
        const double fit = a * std::sin(w) + b * std::cos(w);
        res += (y[i] - fit) * (y[i] - fit);
        sig += fit * fit;
    }
    return {10 * std::log10(std::max(res, 1e-300) / sig), std::hypot(a, b), std::atan2(b, a)};
}

// Converts a whole mono 32-bit file with SRConvert1ChannelRegion.
std::vector<double> ConvertMono(const Wave& wave, double from, double to, uint32_t frames,
                                short quality, uint32_t bufferFrames = 12288) {
    File src = Source(1, from, frames, wave);
    File out = Output(1, to, bufferFrames);
    Spec spec(to, quality);
    uint32_t pos = 0;
    EXPECT_EQ(SRConvert1ChannelRegion(src.get(), out.get(), 0, frames, spec.get(), 0, 0, &pos), 0);
    EXPECT_EQ(pos, out->GetNumSFrames());
    return Channel(*out, 0);
}

// ---- Period rules and the table ---------------------------------------------

TEST(SRConvertTable, PeriodRules) {
    struct Case {
        short quality, outBits, inBits;
        double outRate, inRate;
        short periods;
    } cases[] = {
        {0, 16, 16, 48000, 44100, 0},    {2, 24, 24, 192000, 44100, 12}, {3, 16, 16, 8000, 8000, 32},
        {4, 8, 8, 8000, 8000, 64},       {5, 16, 16, 48000, 44100, 0},   {-1, 16, 16, 48000, 44100, 0},
        {1, 8, 32, 192000, 192000, 12},  {1, 16, 16, 96001, 44100, 64},  {1, 16, 16, 44100, 96001, 64},
        {1, 16, 16, 96000, 96000, 32},   {1, 32, 16, 44100, 44100, 64},  {1, 16, 32, 44100, 44100, 64},
        {1, 16, 24, 48000, 44100, 32},   {1, 16, 24, 96000, 44100, 64},  {1, 24, 16, 44100, 48001, 64},
        {1, 24, 24, 48000, 48000, 32},   {1, 20, 16, 96000, 44100, 32},
    };
    for (const Case& c : cases) {
        MemorySoundFile src(1, c.inBits, 0, c.inRate), out(1, c.outBits, 0, c.outRate);
        Spec spec(c.outRate, c.quality);
        EXPECT_EQ(MakeNumPeriodsDecision(spec.get(), &src, &out), c.periods)
            << "quality " << c.quality << " bits " << c.outBits << "/" << c.inBits << " rates "
            << c.outRate << "/" << c.inRate;
    }
}

TEST(SRConvertTable, ReductionDecimationAndShape) {
    struct Case {
        double outRate, inRate;
        uint16_t periods;
        int64_t L, M, step;
        uint32_t length;
    } cases[] = {
        {48000, 44100, 32, 160, 147, 1, 10240},
        {22050, 44100, 64, 1, 2, 1, 256},
        {8000, 44100, 64, 80, 441, 1, 56448},
        {44100, 352800, 32, 1, 8, 1, 512},             // 3528000000 units: past 32 bits
        {22254.5454, 44100, 32, 37090909, 73500000, 131072, 35888},
    };
    for (const Case& c : cases) {
        gNumPeriodsPPh = c.periods;
        int64_t L = 0, M = 0, step = 0;
        ASSERT_EQ(InitPolyPhase(c.outRate, c.inRate, &L, &M, &step), 0);
        EXPECT_EQ(L, c.L);
        EXPECT_EQ(M, c.M);
        EXPECT_EQ(step, c.step);
        EXPECT_EQ(__gSincTableLength, c.length);
        const double gain = L < M ? double(L) / M : 1.0;
        EXPECT_DOUBLE_EQ(__gSincTable[0], gain);
        EXPECT_DOUBLE_EQ(__gSincMax, gain);
        // Zero crossings every N / step entries, the wing falling away from the centre.
        const double cross = double(std::max(L, M)) / step;
        for (int k = 1; k < 4; ++k) {
            const auto at = static_cast<uint32_t>(std::lround(k * cross));
            EXPECT_LT(std::fabs(__gSincTable[at]), gain * (cross == std::floor(cross) ? 1e-12 : 2e-3));
            const double lobe = __gSincTable[at - static_cast<uint32_t>(cross / 2)];
            EXPECT_GT(k % 2 ? lobe : -lobe, 0.0);
        }
        freeSincTable();
        EXPECT_EQ(__gSincTable, nullptr);
        freeSincTable();  // harmless
    }
    gNumPeriodsPPh = 12;
    int64_t L, M, step;
    EXPECT_EQ(InitPolyPhase(48000, 0, &L, &M, &step), -50);
    EXPECT_EQ(InitPolyPhase(NAN, 44100, &L, &M, &step), -50);
    EXPECT_NEAR(besselI0(1.0), 1.2660658777520082, 1e-12);
}

// ---- Quality ------------------------------------------------------------------

// A sine through every quality: the output's length, what is left beside the
// fitted sine (THD+N), the passband gain and the phase (a delay of one output
// frame would show as 2π f / rate). Above the output's Nyquist frequency the
// whole output is what leaks through the stopband.
TEST(SRConvertQuality, SinesAtEveryQuality) {
    struct Case {
        short quality;
        double from, to, freq;
        double maxDb;    // THD+N, or the stopband leak relative to the sine
        double gainDb;   // largest passband deviation
    } cases[] = {
        {0, 44100, 48000, 1000, -60, 0.02},   {0, 48000, 44100, 1000, -60, 0.02},
        {2, 44100, 48000, 1000, -82, 0.002},  {2, 44100, 48000, 19000, -70, 0.005},
        {2, 48000, 44100, 1000, -84, 0.002},  {2, 96000, 44100, 30000, -75, 0},
        {3, 44100, 48000, 1000, -120, 1e-4},  {3, 44100, 48000, 19000, -105, 1e-4},
        {3, 48000, 44100, 1000, -120, 1e-4},  {3, 96000, 44100, 30000, -110, 0},
        {3, 44100, 44056, 1000, -100, 1e-4},  {3, 8000, 44056, 1000, -100, 1e-4},
        {4, 44100, 48000, 1000, -140, 1e-5},  {4, 44100, 48000, 19000, -125, 1e-5},
        {4, 48000, 44100, 1000, -140, 1e-5},  {4, 96000, 44100, 30000, -130, 0},
        {1, 22050, 44100, 5000, -140, 1e-5},  {3, 44100, 22050, 19000, -110, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "quality " << c.quality << " " << c.from << " -> "
                                          << c.to << " at " << c.freq << " Hz");
        const uint32_t n = static_cast<uint32_t>(c.from);  // one second
        const std::vector<double> y = ConvertMono(Sine(c.freq, c.from), c.from, c.to, n, c.quality);
        const double exact = n * c.to / c.from;
        EXPECT_EQ(y.size(), c.quality ? std::ceil(exact - 1e-9) : std::floor(exact + 1e-9));
        const size_t a = y.size() / 4, b = y.size() * 3 / 4;
        if (c.freq < c.to / 2) {
            const Fit fit = FitSine(y, c.freq, c.to, a, b);
            EXPECT_LT(fit.residualDb, c.maxDb);
            EXPECT_NEAR(20 * std::log10(fit.amplitude / 0.5), 0.0, c.gainDb);
            EXPECT_NEAR(fit.phase, 0.0, 1e-6);
        } else {
            double energy = 0;
            for (size_t i = a; i < b; ++i) energy += y[i] * y[i];
            EXPECT_LT(10 * std::log10(energy / (b - a) / 0.125), c.maxDb);
        }
    }
}

// sox's rate on the same sines (raw doubles both ways): the outputs agree sample
// by sample to what the two filters differ by, which no delay, dropped or
// repeated frame or aliasing would pass.
TEST(SRConvertQuality, AgreesWithSoxRate) {
    if (!testsupport::HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
    testsupport::TempDir dir;
    struct Case {
        short quality;
        const char* soxQuality;
        double from, to, maxDiffDb;
    } cases[] = {
        {3, "-h", 44100, 48000, -110}, {4, "-v", 48000, 44100, -125}, {2, "-h", 44100, 96000, -70},
        {3, "-h", 96000, 22050, -110},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "quality " << c.quality << " " << c.from << " -> " << c.to);
        const uint32_t n = static_cast<uint32_t>(c.from / 2);
        const Wave wave = [&](uint32_t i, int) {
            const double t = i / c.from;
            return 0.3 * std::sin(2 * std::numbers::pi * 997 * t) + 0.2 * std::sin(2 * std::numbers::pi * 7919 * t);
        };
        std::vector<double> x(n);
        for (uint32_t i = 0; i < n; ++i) x[i] = std::lround(wave(i, 0) * kScale) / kScale;
        std::FILE* f = std::fopen((dir / "in.f64").c_str(), "wb");
        std::fwrite(x.data(), sizeof(double), n, f);
        std::fclose(f);
        char command[512];
        std::snprintf(command, sizeof command, "sox -t f64 -r %.0f -c 1 %s -t f64 %s rate %s %.0f", c.from,
                      (dir / "in.f64").c_str(), (dir / "out.f64").c_str(), c.soxQuality, c.to);
        ASSERT_TRUE(formattest::RunCommand(command));
        const std::string bytes = testsupport::ReadFile(dir / "out.f64");
        std::vector<double> peer(bytes.size() / sizeof(double));
        std::memcpy(peer.data(), bytes.data(), peer.size() * sizeof(double));

        const std::vector<double> ours = ConvertMono(wave, c.from, c.to, n, c.quality);
        EXPECT_NEAR(double(ours.size()), double(peer.size()), 1.0);
        double worst = 0;
        for (size_t i = ours.size() / 8; i < std::min(ours.size(), peer.size()) * 7 / 8; ++i)
            worst = std::max(worst, std::fabs(ours[i] - peer[i]));
        EXPECT_LT(20 * std::log10(worst / 0.5), c.maxDiffDb);
    }
}

// ---- Blocks, layouts, ranges ------------------------------------------------------

// A long file converted in many small blocks gives the same frames as in one:
// no block edge drops, repeats or shifts a frame. The rates include a large
// reduced ratio (coefficients made per output frame from a decimated table).
TEST(SRConvertBlocks, SmallBlocksGiveTheSameFrames) {
    struct Case {
        double from, to;
    } rates[] = {{44100, 48000}, {48000, 44100}, {44100, 22050}, {8000, 44056}, {48000, 8000}};
    for (short quality : {0, 2, 3, 4}) {
        for (const Case& r : rates) {
            SCOPED_TRACE(::testing::Message() << "quality " << quality << " " << r.from << " -> " << r.to);
            const uint32_t n = 30011;
            const std::vector<double> whole = ConvertMono(Noise(), r.from, r.to, n, quality, 1 << 16);
            const std::vector<double> blocks = ConvertMono(Noise(), r.from, r.to, n, quality, 97);
            EXPECT_EQ(whole, blocks);
        }
    }
}

// Every layout against one-channel conversions of the same channels: stereo,
// the mix, mono to stereo, and one channel into its place in a stereo output.
// The conversion's peak is what was written, and valid.
TEST(SRConvertBlocks, LayoutsMatchOneChannelConversions) {
    enum Layout { kStereo, kMix, kMonoToStereo, kIntoStereo };
    const uint32_t n = 5003;
    for (short quality : {0, 3}) {
        File src = Source(2, 44100, n, Noise());
        std::vector<double> single[2];
        for (int c = 0; c < 2; ++c) {
            File out = Output(1, 32000);
            Spec spec(32000, quality);
            uint32_t pos = 0;
            ASSERT_EQ(SRConvert1ChannelRegion(src.get(), out.get(), 0, n, spec.get(), c, 0, &pos), 0);
            single[c] = Channel(*out, 0);
        }
        for (Layout layout : {kStereo, kMix, kMonoToStereo, kIntoStereo}) {
            SCOPED_TRACE(::testing::Message() << "quality " << quality << " layout " << layout);
            File out = Output(layout == kMix ? 1 : 2, 32000, 1000);
            // Adding into one channel reads the frames back: they must be silence.
            if (layout == kIntoStereo) out->SetNumFrames(static_cast<uint32_t>(single[0].size()));
            Spec spec(32000, quality);
            uint32_t pos = 0;
            const short result =
                layout == kStereo       ? SRConvertStereoRegion(src.get(), out.get(), 0, n, spec.get(), &pos)
                : layout == kMix        ? SRConvert1ChannelRegionMix(src.get(), out.get(), 0, n, spec.get(), &pos)
                : layout == kMonoToStereo ? SRConvert1ChannelRegionM2S(src.get(), out.get(), 0, n, spec.get(), &pos)
                                          : SRConvert1ChannelRegion(src.get(), out.get(), 0, n, spec.get(), 1, 0, &pos);
            ASSERT_EQ(result, 0);
            ASSERT_EQ(pos, single[0].size());
            ASSERT_EQ(out->GetNumSFrames(), pos);
            double peak = 0;
            for (int c = 0; c < out->GetNumChannels(); ++c) {
                const std::vector<double> got = Channel(*out, c);
                for (uint32_t i = 0; i < pos; ++i) {
                    const double want = layout == kStereo         ? single[c][i]
                                        : layout == kMix          ? (single[0][i] + single[1][i]) / 2
                                        : layout == kMonoToStereo ? single[0][i]
                                                                  : (c == 1 ? single[1][i] : 0.0);
                    ASSERT_NEAR(got[i], want, 3 / kScale) << "frame " << i << " channel " << c;
                    peak = std::max(peak, std::fabs(got[i]));
                }
            }
            EXPECT_NEAR(spec->GetMax(), peak, 3 / kScale);
            EXPECT_EQ(spec->GetHasValidMax(), 1);
        }
    }
}

// A range converts as if the file held nothing else (frames outside it are
// silence, not read), written from the given output position on.
TEST(SRConvertBlocks, RangeIsIsolatedAndPlacedAtOutPos) {
    const uint32_t n = 9000, start = 2000, end = 5000, at = 700;
    File src = Source(1, 48000, n, Noise());
    File alone = Source(1, 48000, end - start, [](uint32_t i, int c) { return Noise()(i + 2000, c); });
    for (short quality : {0, 2, 4}) {
        SCOPED_TRACE(::testing::Message() << "quality " << quality);
        File out = Output(1, 44100, 512), ref = Output(1, 44100, 512);
        Spec spec(44100, quality), refSpec(44100, quality);
        uint32_t pos = at, refPos = 0;
        ASSERT_EQ(SRConvert1ChannelRegion(src.get(), out.get(), start, end, spec.get(), 0, 0, &pos), 0);
        ASSERT_EQ(SRConvert1ChannelRegion(alone.get(), ref.get(), 0, end - start, refSpec.get(), 0, 0, &refPos), 0);
        EXPECT_EQ(pos, at + refPos);
        const std::vector<double> got = Channel(*out, 0), want = Channel(*ref, 0);
        EXPECT_EQ(std::vector<double>(got.begin(), got.begin() + at), std::vector<double>(at, 0.0));
        EXPECT_EQ(std::vector<double>(got.begin() + at, got.end()), want);
    }
}

// ---- Extras and failures ---------------------------------------------------------

// Range 1000..3000 at 44100 -> 22050 Hz written from output frame 100: a source
// frame p lands on 100 + trunc((p - 1000) / 2). Items on the range's edges are
// carried, items reaching past them not; nothing is carried when the conversion
// does not copy extras or a channel-by-channel pass already did.
TEST(SRConvertExtras, CarriedAtTheNewRate) {
    struct Case {
        short quality, copy;
        bool channelDone, carried;
    } cases[] = {{3, 1, false, true}, {0, 1, false, true}, {3, 0, false, false}, {0, 1, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "quality " << c.quality << " copy " << c.copy);
        File src = Source(1, 44100, 4000, Noise());
        for (uint32_t p : {999u, 1000u, 2001u, 3000u, 3001u}) {
            SFTMarker m{int32_t(p), p, {1, 'm'}, 0, 0};
            ASSERT_EQ(src->AddMarker(&m), 0);
        }
        for (auto [s, e] : {std::pair{1000, 3000}, {999, 2000}, {1000, 3001}}) {
            SFTRegion r{s, s, e, 2000, 4410, {1, static_cast<unsigned char>('a' + s % 7 + e % 5)}};
            ASSERT_EQ(src->AddRegion(&r), 0);
        }
        for (auto [s, e] : {std::pair{1500u, 2500u}, {900u, 2000u}}) {
            SFTLoop l{int32_t(s), s, e, 0};
            ASSERT_EQ(src->AddLoop(&l), 0);
        }
        SFTSamplerInfo info{61, 2, 3, 4, 5, 6, 7, 1};
        src->SetSamplerInfo(&info);
        src->SetTimeStamp(2000);
        File out = Output(1, 22050);
        out->SetOneChannelDone(c.channelDone);
        Spec spec(22050, c.quality);
        spec->SetCopyExtras(c.copy);
        uint32_t pos = 100;
        ASSERT_EQ(SRConvert1ChannelRegion(src.get(), out.get(), 1000, 3000, spec.get(), 0, 0, &pos), 0);
        SFTSamplerInfo got{};
        if (!c.carried) {
            EXPECT_EQ(out->GetNumMarkers() + out->GetNumRegions() + out->GetNumLoops(), 0);
            EXPECT_EQ(out->GetSamplerInfo(&got), -22007);
            continue;
        }
        std::vector<uint32_t> markers;
        for (uint16_t i = 0; i < out->GetNumMarkers(); ++i) {
            SFTMarker m;
            ASSERT_EQ(out->GetIndMarker(i, &m), 0);
            markers.push_back(m.position);
        }
        EXPECT_EQ(markers, (std::vector<uint32_t>{100, 600, 1100}));
        SFTRegion r;
        ASSERT_EQ(out->GetNumRegions(), 1);
        ASSERT_EQ(out->GetIndRegion(0, &r), 0);
        EXPECT_EQ(std::vector<int32_t>({r.start, r.end, r.sync, r.timeStamp}),
                  std::vector<int32_t>({100, 1100, 600, 2205}));
        SFTLoop l;
        ASSERT_EQ(out->GetNumLoops(), 1);
        ASSERT_EQ(out->GetIndLoop(0, &l), 0);
        EXPECT_EQ(std::vector<uint32_t>({l.start, l.end}), std::vector<uint32_t>({350, 850}));
        EXPECT_EQ(out->GetSamplerInfo(&got), 0);
        EXPECT_EQ(got.baseNote, 61);
        EXPECT_EQ(out->GetTimeStamp(), 600u);
    }
}

// Failures and a cancel: the status, what was written by then (the frames of
// the blocks before; a block is trunc(4096 / 6 - 2) frames for the linear
// stereo converter, trunc(4096 / sqrt(6)) for its mixing sister, 4096 / 6 for
// the polyphase one), and the peak marked valid whatever happened.
TEST(SRConvertExtras, FailuresAndCancel) {
    using Op = MemorySoundFile::Op;
    enum Conv { kStereo, kMix };
    struct Case {
        const char* what;
        Conv conv;
        short quality;
        std::function<void(MemorySoundFile&, MemorySoundFile&, platform::ThreadContext&)> setUp;
        short code;
        uint32_t written, slack = 0;  // a later read fails near output frame 20000 / 6
    } cases[] = {
        {"cancel", kStereo, 0, [](auto&, auto&, auto& t) { t.lastError = -128; }, -128, 680},
        {"cancel", kMix, 0, [](auto&, auto&, auto& t) { t.lastError = -128; }, -128, 1672},
        {"cancel", kStereo, 3, [](auto&, auto&, auto& t) { t.lastError = -128; }, -128, 682},
        {"first read", kStereo, 3, [](auto& s, auto&, auto&) { s.FailAt(Op::RefreshInput, 0, -39); }, -39, 0},
        {"first read", kMix, 0, [](auto& s, auto&, auto&) { s.FailAt(Op::RefreshInput, 0, -39); }, -39, 0},
        {"later read", kStereo, 3, [](auto& s, auto&, auto&) { s.FailAt(Op::RefreshInput, 20000, -36); }, -36, 3333, 100},
        {"later read", kStereo, 0, [](auto& s, auto&, auto&) { s.FailAt(Op::RefreshInput, 20000, -36); }, -36, 3333, 100},
        {"write", kMix, 3, [](auto&, auto& o, auto&) { o.FailAt(Op::Flush, 1000, -34); }, -34, 1364},
        {"quality 7", kStereo, 7, [](auto&, auto&, auto&) {}, -50, 0},
        {"rate 0", kMix, 3, [](auto& s, auto&, auto&) { s.SetRateRaw(0); }, -50, 0},
        {"mono source", kStereo, 3, [](auto& s, auto&, auto&) { s.SetFormat(1, 32); }, -50, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.what << " quality " << c.quality);
        File src = Source(2, 48000, 40000, Noise());
        File out = Output(c.conv == kStereo ? 2 : 1, 8000, 4096);
        platform::ThreadContext context;
        platform::ScopedThreadContext scope(&context);
        c.setUp(*src, *out, context);
        Spec spec(8000, c.quality);
        uint32_t pos = 0;
        const short result = c.conv == kStereo
                                 ? SRConvertStereoRegion(src.get(), out.get(), 0, 40000, spec.get(), &pos)
                                 : SRConvert1ChannelRegionMix(src.get(), out.get(), 0, 40000, spec.get(), &pos);
        EXPECT_EQ(result, c.code);
        EXPECT_NEAR(out->GetNumSFrames(), c.written, c.slack);
        EXPECT_EQ(spec->GetHasValidMax(), 1);
    }
}

}  // namespace
