// Sample-rate conversion: the period rules and the table, the quality of the
// polyphase and linear converters (measured, and against sox's rate), block
// edges, ranges, extras, failures, and the numbered steps.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "conversion/cconv_spec.h"
#include "dsp/frame_team.h"
#include "dsp/numbered_src.h"
#include "dsp/polyphase_src.h"
#include "platform/notification_center.h"
#include "platform/thread_context.h"
#include "soundfile/memory_sound_file.h"
#include "memory_files.h"
#include "test_support.h"

namespace {

using testsupport::MemorySoundFile;
using File = std::unique_ptr<MemorySoundFile>;
using Wave = std::function<double(uint32_t frame, int channel)>;
using Samples = std::vector<double>;
using Step = std::function<short(CSoundFile*, CSoundFile*, CConvSpec*)>;

constexpr double kScale = 2147483648.0;  // full scale of a 32-bit sample
constexpr double kTwoPi = 2 * std::numbers::pi;

// A 32-bit source filled from the wave.
File Source(short channels, double rate, uint32_t frames, const Wave& wave) {
    File f = std::make_unique<MemorySoundFile>(channels, 32, frames, rate);
    for (uint32_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            f->SetSample(i, c, static_cast<int32_t>(std::lround(wave(i, c) * kScale)));
    return f;
}

// An open 32-bit output of `frames` silent frames (adding into one channel
// reads the others back) with the given buffer frames.
File Output(short channels, double rate, uint32_t bufferFrames = 12288, uint32_t frames = 0) {
    File f = std::make_unique<MemorySoundFile>(channels, 32, frames, rate);
    f->SetOpen(true);
    f->SetSFTBufferSize(bufferFrames);
    f->loadOnRefreshOutput = true;
    return f;
}

Samples Channel(const MemorySoundFile& f, int channel) {
    Samples v(f.GetNumSFrames());
    for (uint32_t i = 0; i < v.size(); ++i) v[i] = f.GetSample(i, channel) / kScale;
    return v;
}

struct Conversion {
    explicit Conversion(double rate, short quality) : view(std::make_shared<ConvSpec>()) {
        view.SetSampleRate(rate);
        view.SetSRConvertQuality(quality);
        view.SetCopyExtras(0);
        view.SetNeedsRedither(0);
    }
    CConvSpec* operator->() { return &view; }
    CConvSpec* get() { return &view; }
    CConvSpec view;
};

Wave Sine(double freq, double rate) {
    return [=](uint32_t i, int) { return 0.5 * std::sin(kTwoPi * freq * i / rate); };
}

// A pseudo-random wave, different per channel.
Wave Noise() {
    return [](uint32_t i, int c) {
        uint32_t x = ((i + 1) * 2654435761u ^ (c + 1) * 40503u) * 0x5bd1e995u;
        return ((x >> 8) / 16777216.0 - 0.5) * 0.8;
    };
}

// The best fit a·sin + b·cos of a sine of `freq` over y[from..to) at `rate`: what
// is left beside it in dB (THD+N), its amplitude and its phase (radians).
struct Fit {
    double residualDb, amplitude, phase;
};
Fit FitSine(const Samples& y, double freq, double rate, size_t from, size_t to) {
    double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0, res = 0, sig = 0;
    for (size_t i = from; i < to; ++i) {
        const double s = std::sin(kTwoPi * freq * i / rate), c = std::cos(kTwoPi * freq * i / rate);
        ss += s * s, sc += s * c, cc += c * c, ys += y[i] * s, yc += y[i] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
    for (size_t i = from; i < to; ++i) {
        const double fit =
            a * std::sin(kTwoPi * freq * i / rate) + b * std::cos(kTwoPi * freq * i / rate);
        res += (y[i] - fit) * (y[i] - fit), sig += fit * fit;
    }
    return {10 * std::log10(std::max(res, 1e-300) / sig), std::hypot(a, b), std::atan2(b, a)};
}

// A whole mono file converted with SRConvert1ChannelRegion.
Samples ConvertMono(const Wave& wave, double from, double to, uint32_t frames, short quality,
                    uint32_t bufferFrames = 12288) {
    File src = Source(1, from, frames, wave), out = Output(1, to, bufferFrames);
    Conversion conversion(to, quality);
    uint32_t pos = 0;
    EXPECT_EQ(
        SRConvert1ChannelRegion(src.get(), out.get(), 0, frames, conversion.get(), 0, 0, &pos), 0);
    EXPECT_EQ(pos, out->GetNumSFrames());
    return Channel(*out, 0);
}

// ---- Period rules ---------------------------------------------

TEST(SRConvertTable, PeriodRules) {
    struct Case {
        short quality, outBits, inBits;
        double outRate, inRate;
        short periods;
    } cases[] = {
        {0, 16, 16, 48000, 44100, 0},  {2, 24, 24, 192000, 44100, 12},
        {3, 16, 16, 8000, 8000, 32},   {4, 8, 8, 8000, 8000, 64},
        {5, 16, 16, 48000, 44100, 0},  {1, 8, 32, 192000, 192000, 12},
        {1, 16, 16, 96001, 44100, 64}, {1, 16, 16, 44100, 96001, 64},
        {1, 16, 16, 96000, 96000, 32}, {1, 32, 16, 44100, 44100, 64},
        {1, 16, 32, 44100, 44100, 64}, {1, 16, 24, 48000, 44100, 32},
        {1, 16, 24, 96000, 44100, 64}, {1, 24, 16, 44100, 48001, 64},
        {1, 24, 24, 48000, 48000, 32}, {1, 20, 16, 96000, 44100, 32},
    };
    for (const Case& c : cases) {
        MemorySoundFile src(1, c.inBits, 0, c.inRate), out(1, c.outBits, 0, c.outRate);
        Conversion conversion(c.outRate, c.quality);
        EXPECT_EQ(MakeNumPeriodsDecision(conversion.get(), &src, &out), c.periods)
            << "quality " << c.quality << " bits " << c.outBits << "/" << c.inBits << " rates "
            << c.outRate << "/" << c.inRate;
    }
}

// ---- Quality ------------------------------------------------------------------

// A sine through every quality: the output's length, what is left beside the
// fitted sine (THD+N), the passband gain and the phase (a delay of one output
// frame would show as 2π f / rate). Above the output's Nyquist frequency the
// whole output is what leaks through the stopband. The rates include ratios
// whose table is decimated (44056, 22254.5454 Hz) and one past 32-bit units.
TEST(SRConvertQuality, SinesAtEveryQuality) {
    struct Case {
        short quality;
        double from, to, freq;
        double maxDb;   // THD+N, or the stopband leak relative to the sine
        double gainDb;  // largest passband deviation
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
        {2, 352800, 44100, 1000, -84, 0.002}, {3, 44100, 22254.5454, 1000, -100, 1e-4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "quality " << c.quality << " " << c.from << " -> "
                                          << c.to << " at " << c.freq << " Hz");
        const auto n = static_cast<uint32_t>(c.from);  // one second
        const Samples y = ConvertMono(Sine(c.freq, c.from), c.from, c.to, n, c.quality);
        EXPECT_NEAR(y.size(), c.to, 1.0);
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

// sox's rate on the same two tones (raw doubles both ways): the outputs agree
// sample by sample to what the two filters differ by, which no delay, dropped
// or repeated frame or aliasing would pass.
TEST(SRConvertQuality, AgreesWithSoxRate) {
    if (!testsupport::HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
    struct Case {
        short quality;
        const char* soxQuality;
        double from, to, maxDiffDb;
    } cases[] = {
        {3, "-h", 44100, 48000, -110},
        {4, "-v", 48000, 44100, -125},
        {2, "-h", 44100, 96000, -70},
        {3, "-h", 96000, 22050, -110},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "quality " << c.quality << " " << c.from << " -> " << c.to);
        const auto n = static_cast<uint32_t>(c.from / 2);
        const Wave wave = [&](uint32_t i, int) {
            return 0.3 * std::sin(kTwoPi * 997 * i / c.from) +
                   0.2 * std::sin(kTwoPi * 7919 * i / c.from);
        };
        Samples x(n);
        for (uint32_t i = 0; i < n; ++i) x[i] = std::lround(wave(i, 0) * kScale) / kScale;
        testsupport::TempDir dir;
        testsupport::WriteFile(dir / "in.raw",
                               std::string(reinterpret_cast<const char*>(x.data()), n * 8));
        const std::string raw = "-e floating-point -b 64 -c 1 ";
        std::string bytes;
        ASSERT_TRUE(dsptest::SoxToRaw(
            "-t raw " + raw + "-r " + std::to_string(int(c.from)) + " '" + (dir / "in.raw") + "'",
            raw, std::string("rate ") + c.soxQuality + " " + std::to_string(int(c.to)), &bytes));
        Samples peer(bytes.size() / sizeof(double));
        std::memcpy(peer.data(), bytes.data(), peer.size() * sizeof(double));
        const Samples ours = ConvertMono(wave, c.from, c.to, n, c.quality);
        EXPECT_NEAR(double(ours.size()), double(peer.size()), 1.0);
        double worst = 0;
        for (size_t i = ours.size() / 8; i < std::min(ours.size(), peer.size()) * 7 / 8; ++i)
            worst = std::max(worst, std::fabs(ours[i] - peer[i]));
        EXPECT_LT(20 * std::log10(worst / 0.5), c.maxDiffDb);
    }
}

// A long file converted in many small blocks gives the same frames as in one:
// no block edge drops, repeats or shifts a frame. The rates include a large
// reduced ratio (coefficients made per output frame from a decimated table).
TEST(SRConvertQuality, SmallBlocksGiveTheSameFrames) {
    const std::pair<double, double> rates[] = {
        {44100, 48000}, {48000, 44100}, {44100, 22050}, {8000, 44056}, {48000, 8000}};
    for (short quality : {0, 2, 3, 4}) {
        for (auto [from, to] : rates) {
            SCOPED_TRACE(::testing::Message()
                         << "quality " << quality << " " << from << " -> " << to);
            EXPECT_EQ(ConvertMono(Noise(), from, to, 12007, quality, 1 << 16),
                      ConvertMono(Noise(), from, to, 12007, quality, 97));
        }
    }
}

// ---- Ranges, extras, failures -----------------------------------------------------

// Range 1000..3000 at 44100 -> 22050 Hz written from output frame 100: the
// frames are those of a file holding the range alone (nothing outside it is
// read), and a source frame p lands on 100 + trunc((p - 1000) / 2). Items on the
// range's edges are carried, items reaching past them not; nothing is carried
// when the conversion does not copy extras or a channel-by-channel pass did.
TEST(SRConvertRanges, FramesAndExtrasAtTheNewRate) {
    struct Case {
        short quality, copy;
        bool channelDone, carried;
    } cases[] = {
        {3, 1, false, true}, {0, 1, false, true}, {3, 0, false, false}, {0, 1, true, false}};
    File src = Source(1, 44100, 4000, Noise());
    File alone = Source(1, 44100, 2000, [](uint32_t i, int c) { return Noise()(i + 1000, c); });
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
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "quality " << c.quality << " copy " << c.copy);
        File out = Output(1, 22050), ref = Output(1, 22050);
        out->SetOneChannelDone(c.channelDone);
        Conversion conversion(22050, c.quality);
        conversion->SetCopyExtras(c.copy);
        uint32_t pos = 100, refPos = 0;
        ASSERT_EQ(
            SRConvert1ChannelRegion(src.get(), out.get(), 1000, 3000, conversion.get(), 0, 0, &pos),
            0);
        ASSERT_EQ(SRConvert1ChannelRegion(alone.get(), ref.get(), 0, 2000, conversion.get(), 0, 0,
                                          &refPos),
                  0);
        EXPECT_EQ(pos, 100 + refPos);
        Samples want(100, 0.0), got = Channel(*out, 0), only = Channel(*ref, 0);
        want.insert(want.end(), only.begin(), only.end());
        EXPECT_EQ(got, want);

        std::vector<int64_t> items;  // marker positions; region start, end, sync, stamp; loop
        SFTMarker m;
        SFTRegion r;
        SFTLoop l;
        for (uint16_t i = 0; out->GetIndMarker(i, &m) == 0; ++i) items.push_back(m.position);
        for (uint16_t i = 0; out->GetIndRegion(i, &r) == 0; ++i)
            items.insert(items.end(), {r.start, r.end, r.sync, r.timeStamp});
        for (uint16_t i = 0; out->GetIndLoop(i, &l) == 0; ++i)
            items.insert(items.end(), {l.start, l.end});
        SFTSamplerInfo sampler{};
        if (!c.carried) {
            EXPECT_TRUE(items.empty());
            EXPECT_EQ(out->GetSamplerInfo(&sampler), -22007);
            continue;
        }
        EXPECT_EQ(items, (std::vector<int64_t>{100, 600, 1100, 100, 1100, 600, 2205, 350, 850}));
        EXPECT_EQ(out->GetSamplerInfo(&sampler), 0);
        EXPECT_EQ(sampler.baseNote, 61);
        EXPECT_EQ(out->GetTimeStamp(), 600u);
    }
}

// Failures and a cancel: the status, what was written by then (the blocks
// before; a block is trunc(4096 / 6 - 2) frames for the linear stereo
// converter, trunc(4096 / sqrt(6)) for its mixing sister, 4096 / 6 for the
// polyphase ones), and the peak marked valid whatever happened.
TEST(SRConvertRanges, FailuresAndCancel) {
    using Op = MemorySoundFile::Op;
    using SetUp = std::function<void(MemorySoundFile&, MemorySoundFile&, platform::ThreadContext&)>;
    const SetUp cancel = [](auto&, auto&, auto& t) { t.lastError = -128; };
    const SetUp firstRead = [](auto& s, auto&, auto&) { s.FailAt(Op::RefreshInput, 0, -39); };
    const SetUp laterRead = [](auto& s, auto&, auto&) { s.FailAt(Op::RefreshInput, 20000, -36); };
    struct Case {
        const char* what;
        bool mix;
        short quality;
        SetUp setUp;
        short code;
        uint32_t written, slack = 0;  // a later read fails near output frame 20000 / 6
    } cases[] = {
        {"cancel", false, 0, cancel, -128, 680},
        {"cancel", true, 0, cancel, -128, 1672},
        {"cancel", false, 3, cancel, -128, 682},
        {"first read", false, 3, firstRead, -39, 0},
        {"first read", true, 0, firstRead, -39, 0},
        {"later read", false, 3, laterRead, -36, 3333, 100},
        {"later read", false, 0, laterRead, -36, 3333, 100},
        {"write", true, 3, [](auto&, auto& o, auto&) { o.FailAt(Op::Flush, 1000, -34); }, -34,
         1364},
        {"quality 7", false, 7, [](auto&, auto&, auto&) {}, -50, 0},
        {"rate 0", true, 3, [](auto& s, auto&, auto&) { s.SetRateRaw(0); }, -50, 0},
        {"mono source", false, 3, [](auto& s, auto&, auto&) { s.SetFormat(1, 32); }, -50, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.what << " quality " << c.quality);
        File src = Source(2, 48000, 40000, Noise()), out = Output(c.mix ? 1 : 2, 8000, 4096);
        platform::ThreadContext context;
        platform::ScopedThreadContext scope(&context);
        c.setUp(*src, *out, context);
        Conversion conversion(8000, c.quality);
        uint32_t pos = 0;
        EXPECT_EQ(
            c.mix
                ? SRConvert1ChannelRegionMix(src.get(), out.get(), 0, 40000, conversion.get(), &pos)
                : SRConvertStereoRegion(src.get(), out.get(), 0, 40000, conversion.get(), &pos),
            c.code);
        EXPECT_NEAR(out->GetNumSFrames(), c.written, c.slack);
        EXPECT_EQ(conversion->GetHasValidMax(), 1);
    }
}

// ---- Many channels ----------------------------------------------------------------

// A source of several channels goes through SRConvert003 and SRConvert011 in
// one pass: each output channel equals that channel converted alone, sample for
// sample, at every quality, at a ratio with a decimated table and in blocks
// smaller than the filter or made smaller for many channels; the source is read once from start to end, and the
// peak is that of all channels.
TEST(SRConvertChannels, OnePassEqualsEachChannelAlone) {
    struct Case {
        short channels, quality;
        double from, to;
        uint32_t bufferFrames;
        bool strip;
    } cases[] = {
        {6, 3, 48000, 44100, 4096, false}, {6, 0, 44100, 48000, 4096, false},
        {6, 4, 96000, 44100, 97, false},   {3, 2, 8000, 44056, 4096, false},
        {3, 1, 44100, 22050, 700, true},   {5, 0, 48000, 8000, 97, true},
        {40, 3, 44100, 48000, 1 << 17, false},  // blocks made smaller for the window
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.channels << " channels, quality " << c.quality
                                          << " " << c.from << " -> " << c.to);
        const uint32_t frames = 9001;
        File src = Source(c.channels, c.from, frames, Noise());
        std::vector<std::pair<uint32_t, uint32_t>> ranges = {{0, frames}};
        if (c.strip) {
            ranges = {{1000, 2000}, {5000, 8000}};
            for (auto [s, e] : ranges) {
                SFTRegion r{int32_t(s), int32_t(s), int32_t(e), int32_t(s), 0,
                            {1, static_cast<unsigned char>('a' + s % 3)}};
                ASSERT_EQ(src->AddRegion(&r), 0);
            }
        }
        File out = Output(c.channels, c.to, c.bufferFrames);
        Conversion conversion(c.to, c.quality);
        src->calls.clear();
        // The many-channel pass shares its blocks among threads; the
        // one-channel passes below compute everything alone.
        const uint64_t threshold = FrameTeam::SetWorkThreshold(0);
        const int helpers = FrameTeam::SetHelpers(2);
        const short status = c.strip ? SRConvert011(src.get(), out.get(), conversion.get())
                                     : SRConvert003(src.get(), out.get(), conversion.get());
        FrameTeam::SetWorkThreshold(threshold);
        FrameTeam::SetHelpers(helpers);
        ASSERT_EQ(status, 0);
        EXPECT_TRUE(out->IsOneChannelDone());
        uint32_t last = 0;
        for (const auto& call : src->calls) {
            if (call.op != MemorySoundFile::Op::RefreshInput) continue;
            EXPECT_GE(call.frame, last) << "the source is read again from an earlier frame";
            last = call.frame;
        }
        double peak = 0;
        for (short ch = 0; ch < c.channels; ++ch) {
            File alone = Output(1, c.to, c.bufferFrames);
            Conversion single(c.to, c.quality);
            uint32_t pos = 0;
            for (auto [s, e] : ranges)
                ASSERT_EQ(SRConvert1ChannelRegion(src.get(), alone.get(), s, e, single.get(), ch, 0,
                                                  &pos),
                          0);
            ASSERT_EQ(Channel(*out, ch), Channel(*alone, 0)) << "channel " << ch;
            peak = std::max(peak, single->GetMax());
        }
        EXPECT_EQ(conversion->GetMax(), peak);
    }
}

// ---- Numbered steps ---------------------------------------------------------------

Step Range(short (*step)(CSoundFile*, CSoundFile*, uint32_t, uint32_t, CConvSpec*)) {
    return [step](CSoundFile* s, CSoundFile* o, CConvSpec* c) { return step(s, o, 1000, 2000, c); };
}

// Every step on a stereo source with regions 1000..2000 and 2500..3500 (the
// strip walk without margin): which frames reach the output (the whole file,
// the range 1000..2000 or both regions back to back), from which channels,
// whether the step resets the peak and carries the regions whatever the
// setting. A channel treatment other than none, 1, 2 or 6 sends a stereo
// source into its two-channel output in one pass, each channel into its place,
// the output then marked one channel done; 021 goes channel by channel (one
// progress report each).
TEST(SRConvertSteps, EveryStep) {
    enum Scope { kWhole, kRange, kStrip };
    enum Content { kBoth, kMix, kLeft, kRight };
    struct Case {
        const char* name;
        Step run;
        short outChannels;
        Scope scope;
        Content content;
        bool resetsPeak, forcesExtras;
        short treat = 0;  // channel treatment (none when 0)
        int channelPasses = 0;
        bool channelDone = false;
    } cases[] = {
        {"003", SRConvert003, 2, kWhole, kBoth, true, false},
        {"003", SRConvert003, 2, kWhole, kBoth, true, false, 6},
        {"003", SRConvert003, 2, kWhole, kBoth, true, false, 3, 0, true},
        {"009", Range(SRConvert009), 2, kRange, kBoth, false, false, 1},
        {"009", Range(SRConvert009), 2, kRange, kBoth, false, false, 4, 0, true},
        {"011", SRConvert011, 2, kStrip, kBoth, true, true, 2, 0, true},
        {"011", SRConvert011, 2, kStrip, kBoth, true, true, 5, 0, true},
        {"017", SRConvert017, 2, kWhole, kLeft, true, false},
        {"025", Range(SRConvert025), 2, kRange, kLeft, false, false},
        {"021", SRConvert021, 2, kStrip, kLeft, true, false, 0, 2, true},
        {"051", SRConvert051, 1, kWhole, kMix, true, false},
        {"057",
         [](auto s, auto o, auto c) {
             uint32_t p = 0;
             return SRConvert057(s, o, 1000, 2000, c, &p);
         },
         1, kRange, kMix, false, false},
        {"059", SRConvert059, 1, kStrip, kMix, true, true},
        {"067", SRConvert067, 1, kWhole, kLeft, true, false},
        {"073", Range(SRConvert073), 1, kRange, kLeft, true, false},
        {"075", SRConvert075, 1, kStrip, kLeft, true, true},
        {"083", SRConvert083, 1, kWhole, kRight, true, false},
        {"089", Range(SRConvert089), 1, kRange, kRight, true, false},
        {"091", SRConvert091, 1, kStrip, kRight, true, true},
    };
    File src = Source(2, 44100, 6000, Noise());
    for (auto [s, e] : {std::pair{1000, 2000}, {2500, 3500}}) {
        SFTRegion r{s, s, e, s, 0, {1, static_cast<unsigned char>('a' + s % 3)}};
        ASSERT_EQ(src->AddRegion(&r), 0);
    }
    const std::vector<std::pair<uint32_t, uint32_t>> ranges[] = {
        {{0, 6000}}, {{1000, 2000}}, {{1000, 2000}, {2500, 3500}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.name << " treatment " << c.treat);
        // The channels converted one at a time over the step's ranges, back to back.
        Samples single[2];
        for (int ch = 0; ch < 2; ++ch) {
            File ref = Output(1, 22050);
            Conversion conversion(22050, 3);
            uint32_t pos = 0;
            for (auto [s, e] : ranges[c.scope])
                ASSERT_EQ(SRConvert1ChannelRegion(src.get(), ref.get(), s, e, conversion.get(), ch,
                                                  0, &pos),
                          0);
            single[ch] = Channel(*ref, 0);
        }
        File out = Output(c.outChannels, 22050, 700, static_cast<uint32_t>(single[0].size()));
        Conversion conversion(22050, 3);
        conversion->SetNeedsChannelTreat(c.treat != 0);
        conversion->SetChannelTreat(c.treat);
        conversion->SetMax(5.0);
        conversion->SetHasValidMax(0);
        int passes = 0;
        auto& center = platform::NotificationCenter::Default();
        const auto token = center.AddObserver("ProgressChannel", nullptr, [&](auto&) { ++passes; });
        EXPECT_EQ(c.run(src.get(), out.get(), conversion.get()), 0);
        center.RemoveObserver(token);
        ASSERT_EQ(out->GetNumSFrames(), single[0].size());
        double peak = 0;
        for (int ch = 0; ch < c.outChannels; ++ch) {
            const Samples got = Channel(*out, ch);
            for (size_t i = 0; i < got.size(); ++i) {
                const double want = c.content == kMix    ? (single[0][i] + single[1][i]) / 2
                                    : c.content == kBoth ? single[ch][i]
                                                         : single[c.content == kRight][i];
                ASSERT_NEAR(got[i], want, 3 / kScale) << "frame " << i << " channel " << ch;
                peak = std::max(peak, std::fabs(got[i]));
            }
        }
        EXPECT_NEAR(conversion->GetMax(), c.resetsPeak ? peak : 5.0, 3 / kScale);
        EXPECT_EQ(conversion->GetHasValidMax(), 1);
        EXPECT_EQ(out->GetNumRegions(), c.forcesExtras ? 2 : 0);
        EXPECT_EQ(conversion->GetCopyExtras(), 0);
        EXPECT_EQ(passes, c.channelPasses);
        EXPECT_EQ(out->IsOneChannelDone(), c.channelDone);
    }
}

// The strip walk at 44100 -> 22050 Hz with a 100 ms margin (4410 frames) on a
// two-second file: joined and separate blocks, widening floored at frame 0 and
// capped at the end, no regions, no stripping (no margin). Each block gives
// ceil(frames / 2) output frames, the next appended right after; the regions
// carried show where each block's region landed.
TEST(SRConvertSteps, StripWalk) {
    using Spans = std::vector<std::pair<int32_t, int32_t>>;
    struct Case {
        const char* what;
        Spans regions;
        short strip;
        Spans blocks;
        std::vector<int32_t> regionStarts;
    } cases[] = {
        {"50 ms apart", {{20000, 30000}, {32205, 40000}}, 1, {{15590, 44410}}, {2205, 8307}},
        {"250 ms apart",
         {{20000, 30000}, {41025, 50000}},
         1,
         {{15590, 34410}, {36615, 54410}},
         {2205, 9410 + 2205}},
        {"near the ends",
         {{1000, 5000}, {85000, 87000}},
         1,
         {{0, 9410}, {80590, 88200}},
         {500, 4705 + 2205}},
        {"no regions", {}, 1, {}, {}},
        {"not stripping",
         {{20000, 30000}, {32205, 40000}},
         0,
         {{20000, 30000}, {32205, 40000}},
         {0, 5000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        File src = Source(1, 44100, 88200, Noise()), out = Output(1, 22050);
        for (auto [s, e] : c.regions) {
            SFTRegion r{s, s, e, s, 0, {1, static_cast<unsigned char>('a' + s % 5)}};
            ASSERT_EQ(src->AddRegion(&r), 0);
        }
        Conversion conversion(22050, 2);
        conversion->SetNeedsStrip(c.strip);
        conversion->SetStripMargin(100);
        ASSERT_EQ(SRConvert011(src.get(), out.get(), conversion.get()), 0);
        uint32_t frames = 0;
        for (auto [s, e] : c.blocks) frames += (e - s + 1) / 2;
        EXPECT_EQ(out->GetNumSFrames(), frames);
        std::vector<int32_t> starts;
        SFTRegion r;
        for (uint16_t i = 0; out->GetIndRegion(i, &r) == 0; ++i) starts.push_back(r.start);
        EXPECT_EQ(starts, c.regionStarts);
    }
}

}  // namespace
