// The arithmetic of the polyphase converters: frames computed in groups, by
// every kernel this processor runs, against each frame computed from its own
// row of taps. The values before word-length reduction stay within 2^-24 of
// full scale of each other, and 24-bit outputs without redither within one
// step, over the quality table's signals, noise and a minute-long sweep; helper
// threads and channel company change nothing, and threads stop as one does.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "conversion/cconv_spec.h"
#include "dsp/frame_team.h"
#include "dsp/polyphase_src.h"
#include "memory_files.h"
#include "test_signals.h"
#include "platform/thread_context.h"

namespace {

using testsupport::MemorySoundFile;
using Signal = std::vector<double>;  // values in -1 .. 1

struct Result {
    short status = -1;
    std::vector<int32_t> samples;  // interleaved, as stored
    bool readInOrder = true;       // the source read from start to end, none again
};

using Prepare = std::function<void(MemorySoundFile&, MemorySoundFile&, platform::ThreadContext&)>;

// Converts `channels` interleaved signals (each of the same length) at `from`
// into `bits`-bit samples at `to`, after `setUp` had its say on the files and
// the thread context.
Result Convert(const std::vector<Signal>& channels, double from, double to, short quality,
               short bits, PolyphaseKernel kernel, bool threads = false,
               const Prepare& setUp = nullptr) {
    const auto n = static_cast<uint32_t>(channels[0].size());
    const auto count = static_cast<short>(channels.size());
    MemorySoundFile src(count, 32, n, from), out(count, bits, 0, to);
    for (uint32_t i = 0; i < n; ++i)
        for (short c = 0; c < count; ++c)
            src.SetSample(i, c, static_cast<int32_t>(std::lround(channels[c][i] * 2147483647.0)));
    out.SetOpen(true);
    out.SetSFTBufferSize(12288);
    CConvSpec conversion(std::make_shared<ConvSpec>());
    conversion.SetSampleRate(to);
    conversion.SetSRConvertQuality(quality);
    conversion.SetCopyExtras(0);
    conversion.SetNeedsRedither(0);
    platform::ThreadContext context;
    platform::ScopedThreadContext scope(&context);
    if (setUp) setUp(src, out, context);
    const PolyphaseKernel before = SetPolyphaseKernel(kernel);
    const uint64_t threshold = threads ? FrameTeam::SetWorkThreshold(0) : 0;
    const int helpers = threads ? FrameTeam::SetHelpers(3) : 0;
    uint32_t pos = 0;
    Result r;
    if (count == 1)
        r.status = SRConvert1ChannelRegion(&src, &out, 0, n, &conversion, 0, 0, &pos);
    else if (count == 2)
        r.status = SRConvertStereoRegion(&src, &out, 0, n, &conversion, &pos);
    else
        r.status = ConvertAllChannelsRegion(&src, &out, 0, n, &conversion, &pos);
    if (threads) {
        FrameTeam::SetWorkThreshold(threshold);
        FrameTeam::SetHelpers(helpers);
    }
    SetPolyphaseKernel(before);
    uint32_t last = 0;
    for (const auto& call : src.calls) {
        if (call.op != MemorySoundFile::Op::RefreshInput) continue;
        r.readInOrder = r.readInOrder && call.frame >= last;
        last = call.frame;
    }
    for (uint32_t f = 0; f < out.GetNumSFrames(); ++f)
        for (short c = 0; c < count; ++c) r.samples.push_back(out.GetSample(f, c));
    return r;
}

Signal Tones(const std::vector<double>& freqs, double amplitude, double rate, size_t n) {
    return testsignals::Multitone(freqs, amplitude, rate, n);
}

// A logarithmic sweep of amplitude 0.9 from 20 Hz to 20 kHz.
Signal Sweep(double rate, double seconds) {
    Signal x(static_cast<size_t>(rate * seconds));
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = 0.9 * testsignals::LogSweep(static_cast<double>(i) / rate, seconds);
    return x;
}

Signal Noise(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    Signal x(n);
    for (double& v : x) v = value(random);
    return x;
}

// The largest difference of two runs; INT64_MAX when their lengths differ.
int64_t MaxDifference(const Result& a, const Result& b) {
    if (a.samples.size() != b.samples.size()) return INT64_MAX;
    int64_t worst = 0;
    for (size_t i = 0; i < a.samples.size(); ++i)
        worst = std::max<int64_t>(worst, std::llabs(int64_t{a.samples[i]} - b.samples[i]));
    return worst;
}

const PolyphaseKernel kGroupKernels[] = {PolyphaseKernel::kAuto, PolyphaseKernel::kGroupsOf4,
                                         PolyphaseKernel::kGroupsOf2};

// 2^-24 of full scale in 32-bit steps.
constexpr int64_t kBound32 = int64_t{1} << 7;

TEST(PolyphaseKernels, GroupsAgreeWithFrameByFrameRows) {
    struct Rates {
        double from, to;
    } rates[] = {{96000, 44100}, {44100, 48000}, {48000, 44100}, {44100, 96000},
                 {48000, 8000},  {8000, 48000},  {44100, 22050}, {11025, 44100}};
    const double half = 0.25;  // seconds of each signal
    for (const Rates& r : rates) {
        const auto n = static_cast<size_t>(r.from * half);
        std::vector<std::vector<Signal>> signals;
        signals.push_back({Tones({20, 63, 200, 632, 2000, 6324, 20000}, 0.03, r.from, n)});
        signals.push_back({Tones({1000}, 0.5, r.from, n), Tones({19000}, 0.5, r.from, n)});
        signals.push_back({Noise(n, 1), Noise(n, 2)});
        signals.push_back({Sweep(r.from, half)});
        // An odd channel beside a pair.
        signals.push_back({Noise(n, 4), Tones({440}, 0.7, r.from, n), Sweep(r.from, half)});
        for (short quality = 1; quality <= 4; ++quality) {
            for (const auto& signal : signals) {
                SCOPED_TRACE(::testing::Message()
                             << r.from << " -> " << r.to << " quality " << quality << ", "
                             << signal.size() << " channel(s)");
                const Result rows32 =
                    Convert(signal, r.from, r.to, quality, 32, PolyphaseKernel::kRows);
                const Result rows24 =
                    Convert(signal, r.from, r.to, quality, 24, PolyphaseKernel::kRows);
                ASSERT_EQ(rows32.status, 0);
                ASSERT_EQ(rows24.status, 0);
                ASSERT_FALSE(rows32.samples.empty());
                for (PolyphaseKernel kernel : kGroupKernels) {
                    SCOPED_TRACE(static_cast<int>(kernel));
                    const Result g32 = Convert(signal, r.from, r.to, quality, 32, kernel);
                    const Result g24 = Convert(signal, r.from, r.to, quality, 24, kernel);
                    EXPECT_EQ(g32.status, 0);
                    EXPECT_LE(MaxDifference(g32, rows32), kBound32);
                    EXPECT_LE(MaxDifference(g24, rows24), 1);
                }
            }
        }
    }
}

// A minute of sweep at the best quality, 96 -> 44.1 kHz, the way long files go:
// within the bound of the rows; helper threads give exactly what one thread does
// and read the source once, from start to end.
TEST(PolyphaseKernels, MinuteLongSweepAndThreads) {
    const std::vector<Signal> sweep{Sweep(96000, 60)};
    const Result rows = Convert(sweep, 96000, 44100, 4, 24, PolyphaseKernel::kRows);
    const Result alone = Convert(sweep, 96000, 44100, 4, 24, PolyphaseKernel::kAuto);
    const Result team = Convert(sweep, 96000, 44100, 4, 24, PolyphaseKernel::kAuto, true);
    ASSERT_EQ(rows.status, 0);
    ASSERT_EQ(rows.samples.size(), 2646000u);
    EXPECT_LE(MaxDifference(alone, rows), 1);
    EXPECT_EQ(MaxDifference(team, alone), 0);
    EXPECT_TRUE(team.readInOrder);
    // A channel gives the same values beside another as alone.
    const Signal other = Noise(sweep[0].size(), 3);
    const Result pair = Convert({sweep[0], other}, 96000, 44100, 4, 24, PolyphaseKernel::kAuto);
    ASSERT_EQ(pair.samples.size(), 2 * alone.samples.size());
    int64_t worst = 0;
    for (size_t i = 0; i < alone.samples.size(); ++i)
        worst = std::max<int64_t>(worst, std::llabs(int64_t{pair.samples[2 * i]} - alone.samples[i]));
    EXPECT_EQ(worst, 0);
}

// A read that fails part way, a write that fails and a cancel end a run shared
// with helper threads with the same status as one thread's, and what the
// shared run wrote is the start of the whole conversion: the blocks before the
// failing one, none after it.
TEST(PolyphaseKernels, ThreadsStopAsOneThreadDoes) {
    using Op = MemorySoundFile::Op;
    const size_t n = 400000;  // 4 s at 96 kHz: more blocks than threads
    const std::vector<Signal> pair{Noise(n, 5), Noise(n, 6)};
    const Result whole = Convert(pair, 96000, 44100, 4, 24, PolyphaseKernel::kAuto);
    ASSERT_EQ(whole.status, 0);
    struct Case {
        const char* what;
        Prepare setUp;
        short code;
    } cases[] = {
        {"a read fails", [](auto& s, auto&, auto&) { s.FailAt(Op::RefreshInput, 250000, -36); }, -36},
        {"a write fails", [](auto&, auto& o, auto&) { o.FailAt(Op::Flush, 90000, -34); }, -34},
        {"cancel", [](auto&, auto&, auto& t) { t.lastError = -128; }, -128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Result alone = Convert(pair, 96000, 44100, 4, 24, PolyphaseKernel::kAuto, false, c.setUp);
        const Result shared = Convert(pair, 96000, 44100, 4, 24, PolyphaseKernel::kAuto, true, c.setUp);
        EXPECT_EQ(alone.status, c.code);
        EXPECT_EQ(shared.status, c.code);
        ASSERT_LE(shared.samples.size(), whole.samples.size());
        EXPECT_TRUE(std::equal(shared.samples.begin(), shared.samples.end(), whole.samples.begin()));
        EXPECT_LT(shared.samples.size(), whole.samples.size());
        if (c.code != -128) {
            EXPECT_GE(shared.samples.size() * 2, alone.samples.size());
        }
    }
}

}  // namespace
