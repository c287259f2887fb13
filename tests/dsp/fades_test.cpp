// Fades: their lengths (limited, shortened until they fit, left out when they
// never do), their curves against sox's linear fade applied twice, failures.
#include "dsp/fades.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "memory_files.h"

namespace {

using namespace dsptest;

// The gain of frame i of a file of n frames with fades of `in` and `out` frames.
double Gain(uint32_t i, uint32_t n, uint32_t in, uint32_t out) {
    double g = 1.0;
    if (i < in) g *= (double(i) / in) * (double(i) / in);
    if (out && i >= n - out) g *= (double(n - i) / out) * (double(n - i) / out);
    return g;
}

using Fades = DspTest;

TEST_F(Fades, LengthsLimitedShortenedOrLeftOut) {
    const struct {
        double rate;
        float inMs, outMs;
        uint32_t frames;
        short channels;
        uint32_t in, out;  // expected lengths (0 and 0: the file is untouched)
    } cases[] = {
        {44100, 20, 20, 1765, 2, 882, 882}, {44100, 20, 20, 1764, 1, 838, 838},
        {44100, 20, 20, 100, 1, 48, 48},     {44100, 20, 20, 20, 1, 10, 10},
        {44100, 20, 20, 15, 1, 0, 0},        {48000, 6000, 6000, 480001, 1, 240000, 240000},
        {44100, 0, 0, 2000, 1, 0, 0},        {44100, 20, 0, 2000, 1, 882, 0},
        {44100, 0, 20, 2000, 2, 0, 882},     {44100, -20, 20, 2000, 1, 0, 882},
    };
    conversion.SetNeedsFades(1);
    const int32_t level = 0x400000;  // half of 24-bit full scale
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frames << " frames, " << c.inMs << "/" << c.outMs << " ms");
        conversion.SetFadeTime(c.inMs, c.outMs);
        auto file = MemoryFile(c.channels, 24, Samples(size_t{c.frames} * c.channels, level), c.rate);
        ASSERT_EQ(CreateFades(file.get(), &conversion), 0);
        if (c.in == 0 && c.out == 0) {
            EXPECT_EQ(file->calls.size(), 0u) << "nothing read or written";
        }
        int32_t worst = 0;
        for (uint32_t i = 0; i < c.frames; ++i)
            for (short ch = 0; ch < c.channels; ++ch) {
                const double expected = level * Gain(i, c.frames, c.in, c.out);
                worst = std::max<int32_t>(worst, std::abs(file->GetSample(i, ch) - int32_t(std::lround(expected))));
            }
        EXPECT_LE(worst, 1);
    }
    conversion.SetNeedsFades(0);
    auto untouched = MemoryFile(1, 24, Samples(2000, level));
    EXPECT_EQ(CreateFades(untouched.get(), &conversion), 0);
    EXPECT_EQ(untouched->GetSample(0, 0), level);
}

TEST_F(Fades, FailuresStopAndKeepWhatWasWritten) {
    using Op = MemorySoundFile::Op;
    const struct {
        Op op;
        uint32_t from;
        OSErr code;
        bool fadedIn;
    } cases[] = {{Op::RefreshInput, 1000, -39, true}, {Op::Flush, 0, -34, false}};
    conversion.SetNeedsFades(1);
    for (const auto& c : cases) {
        auto file = MemoryFile(1, 16, Samples(2000, 1000));
        file->SetDither(0);
        file->FailAt(c.op, c.from, c.code);
        EXPECT_EQ(CreateFades(file.get(), &conversion), c.code);
        EXPECT_EQ(file->GetSample(0, 0) == 0, c.fadedIn);
        EXPECT_EQ(file->GetSample(1999, 0), 1000) << "no fade-out";
    }
}

// sox's linear fade applied twice is the squared ramp: the same within one step.
TEST_F(Fades, CurvesAgreeWithSox) {
    if (!testsupport::HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
    Samples noise(4000);
    uint32_t seed = 7;
    for (int32_t& s : noise) s = static_cast<int16_t>((seed = seed * 1664525u + 1013904223u) >> 16);
    std::string raw;
    for (int32_t s : noise) raw.append(reinterpret_cast<const char*>(&s), 2);
    std::string peer;
    const std::string fade = "fade t 882s 4000s 882s";
    ASSERT_TRUE(SoxRaw(raw, "-r 44100 -e signed -b 16 -c 1", "-e signed -b 16 -D", fade + " " + fade, &peer));
    ASSERT_EQ(peer.size(), raw.size());

    auto file = MemoryFile(1, 16, noise);
    file->SetDither(0);
    conversion.SetNeedsFades(1);
    ASSERT_EQ(CreateFades(file.get(), &conversion), 0);
    int worst = 0;
    for (uint32_t i = 0; i < 4000; ++i) {
        int16_t theirs;
        std::memcpy(&theirs, peer.data() + 2 * i, 2);
        worst = std::max(worst, std::abs(file->GetSample(i, 0) - theirs));
    }
    EXPECT_LE(worst, 1);
}

}  // namespace
