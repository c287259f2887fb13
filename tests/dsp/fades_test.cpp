// Fades: lengths limited, shortened until they fit or left out, and the curves
// against sox's linear fade applied twice on a real WAVE output.
#include "dsp/fades.h"

#include <gtest/gtest.h>

#include <cmath>

#include "formats/pcm/wave_file.h"
#include "foundation/pstring.h"
#include "memory_files.h"
#include "soundfile/progress.h"

namespace {

using namespace dsptest;
using Fades = DspTest;

TEST_F(Fades, LengthsLimitedShortenedOrLeftOut) {
    const struct {
        double rate;
        float inMs, outMs;
        uint32_t frames;
        short channels;
        uint32_t in, out;  // expected lengths (0 and 0: nothing read or written)
    } cases[] = {
        {44100, 20, 20, 1765, 2, 882, 882}, {44100, 20, 20, 1764, 1, 838, 838},
        {44100, 20, 20, 100, 1, 48, 48},    {44100, 20, 20, 20, 1, 10, 10},
        {44100, 20, 20, 15, 1, 0, 0},       {48000, 6000, 6000, 480001, 1, 240000, 240000},
        {44100, 0, 0, 2000, 1, 0, 0},       {44100, 20, 0, 2000, 1, 882, 0},
        {44100, -20, 20, 2000, 2, 0, 882},       {44100, NAN, 20, 2000, 1, 0, 882},
        {8000, 1e30f, INFINITY, 80001, 1, 40000, 40000},
    };
    conversion.SetNeedsFades(1);
    const int32_t level = 0x400000;  // half of 24-bit full scale
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.frames << " frames, " << c.inMs << "/" << c.outMs << " ms");
        conversion.SetFadeTime(c.inMs, c.outMs);
        auto file =
            MemoryFile(c.channels, 24, Samples(size_t{c.frames} * c.channels, level), c.rate);
        ASSERT_EQ(CreateFades(file.get(), &conversion), 0);
        EXPECT_EQ(file->calls.empty(), c.in == 0 && c.out == 0);
        int32_t worst = 0;
        for (uint32_t i = 0; i < c.frames; ++i) {
            const double up = i < c.in ? double(i) / c.in : 1.0;
            const double down = c.out && i >= c.frames - c.out ? double(c.frames - i) / c.out : 1.0;
            const int32_t expected = int32_t(std::lround(level * up * up * down * down));
            for (short ch = 0; ch < c.channels; ++ch)
                worst = std::max(worst, std::abs(file->GetSample(i, ch) - expected));
        }
        EXPECT_LE(worst, 1);
    }
}

// sox's linear fade applied twice is the squared ramp: the same within one step,
// the fades made in place in a WAVE output just written.
TEST_F(Fades, CurvesAgreeWithSoxOnAWaveOutput) {
    if (!testsupport::HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
    std::vector<double> noise(4000);
    std::string raw;
    uint32_t seed = 7;
    for (double& x : noise) {
        const int16_t s = static_cast<int16_t>((seed = seed * 1664525u + 1013904223u) >> 16);
        raw.append(reinterpret_cast<const char*>(&s), 2);
        x = s / 32768.0;
    }
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "in.raw", raw);
    std::string theirs, ours;
    const std::string fade = "fade t 882s 4000s 882s";
    ASSERT_TRUE(SoxToRaw("-t raw -r 44100 -e signed -b 16 -c 1 '" + (dir / "in.raw") + "'",
                         "-e signed -b 16 -D", fade + " " + fade, &theirs));

    unsigned char extension[256];
    pstrcpy(std::string("wav"), extension);
    SoundFilePtr file(new CWAVEFile);
    ASSERT_EQ(file->ISoundFile(dir / "ours") | file->Create(1, 16, 44100.0f, nullptr, extension),
              0);
    file->SetDither(0);
    uint32_t count = 4000;
    ASSERT_EQ(file->Write(0, &count, noise.data()), 0);
    conversion.SetNeedsFades(1);
    ASSERT_EQ(CreateFades(file.get(), &conversion), 0);
    const std::string path = file->GetPath();
    file.reset();
    CorvaOutFile::Clear();
    ASSERT_TRUE(SoxToRaw("'" + path + "'", "-e signed -b 16", "", &ours));
    EXPECT_LE(MaxDifference16(ours, theirs), 1);
}

}  // namespace
