// Fades: lengths limited, shortened until they fit or left out, and the curves
// against sox's linear fade applied twice on a real WAVE output.
#include "dsp/fades.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "formats/output_types.h"
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

// Fades made on an open output of every writable type, coded types included,
// read back what was written: decoded, the faded file follows the squared ramps
// of the same file written without fades, window by window (allowing for the
// coder's delay), and is never louder than it.
TEST_F(Fades, EveryOutputTypeFadesWhatWasWritten) {
    using namespace outputtypes;
    CSoundFile::Cleanup();
    RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
    conversion.SetNeedsFades(1);
    conversion.SetFadeTime(100, 100);
    testsupport::TempDir dir;
    const std::vector<OutputType> types = WritableOutputTypes();
    ASSERT_GE(types.size(), 40u);
    // A failure of one type leaves the others to be tried.
    for (const OutputType& t : types) [&] {
        SCOPED_TRACE(FourCCText(t.type));
        const auto frames = static_cast<uint32_t>(t.rate / 2);
        const std::vector<double> tone = Tone(t, frames);
        const std::string folder = dir / ("type" + std::to_string(&t - types.data()));
        ASSERT_TRUE(std::filesystem::create_directory(folder));
        const std::string plainPath = WriteOutput(t, folder + "/plain", tone);
        const std::string fadedPath = WriteOutput(
            t, folder + "/faded", tone, [&](CSoundFile* out) { return CreateFades(out, &conversion); });
        if (plainPath.empty() || fadedPath.empty()) return;
        const ReadBack plain = ReadThroughDetection(plainPath);
        const ReadBack faded = ReadThroughDetection(fadedPath);
        ASSERT_EQ(plain.status, 0);
        ASSERT_EQ(faded.status, 0);
        ASSERT_EQ(faded.samples.size(), plain.samples.size());
        const short channels = t.channels;
        const size_t length = plain.samples.size() / size_t(channels);

        // The level of every window of 10 ms where the decoded tone sounds, and
        // the faded file's share of it.
        const auto window = static_cast<size_t>(t.rate / 100);
        std::vector<double> centres, shares;
        double loudest = 0;
        for (size_t from = 0; from + window <= length; from += window) {
            const double p = Level(plain.samples, channels, from, from + window);
            const double f = Level(faded.samples, channels, from, from + window);
            loudest = std::max(loudest, f - p);
            if (p < 0.2) continue;  // the coder's delay or tail
            centres.push_back(double(from) + double(window) / 2);
            shares.push_back(f / p);
        }
        ASSERT_GE(centres.size(), frames / window * 9 / 10);
        EXPECT_LE(loudest, 0.02);
        EXPECT_LE(*std::max_element(shares.begin(), shares.end()), 1.06);

        // The shares follow both squared ramps of 100 ms, shifted by the coder's
        // delay: the best fitting delay leaves every share close to its ramp.
        const double fade = t.rate / 10;
        const auto ramps = [&](double x) {
            const double in = std::clamp(x / fade, 0.0, 1.0);
            const double out = std::clamp((double(frames) - x) / fade, 0.0, 1.0);
            return in * in * out * out;
        };
        double best = 1e9;
        const double latest = double(std::max<size_t>(length, frames) - frames + window);
        for (double delay = 0; delay < latest; delay += 1) {
            double worst = 0;
            for (size_t w = 0; w < centres.size(); ++w) {
                const double expected = ramps(centres[w] - delay);
                worst = std::max(worst, std::fabs(shares[w] - expected) - 0.1 * expected);
            }
            best = std::min(best, worst);
        }
        EXPECT_LE(best, 0.05);
    }();
}

}  // namespace
