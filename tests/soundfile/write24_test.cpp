// Packed 24-bit writes: the whole-block store gives every sample, wherever it
// falls in the block, the bytes the one-sample form gives it.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "soundfile/memory_sound_file.h"
#include "soundfile/sample_conversion.h"

using testsupport::MemorySoundFile;

namespace {

TEST(SampleWrite24, EverySpecialValueAtEveryPlace) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double specials[] = {nan, inf, -inf, 2.0, -2.0, 1.0, -1.0, 0.5, -0.5, 0.0, -0.0,
                               1.0 - 0x1p-24, -1.0 + 0x1p-24, 0x1p-23, -0x1p-23, 0x1p-24,
                               -0x1p-24, 1e-300, 0.123456789};
    constexpr uint32_t kFrames = 23;  // five groups of four and a tail of three
    for (double special : specials) {
        for (uint32_t at = 0; at < kFrames; ++at) {
            std::vector<double> x(kFrames);
            for (uint32_t i = 0; i < kFrames; ++i) x[i] = double(int(i * 37 % 41) - 20) / 21.0;
            x[at] = special;
            // The expected bytes, one sample at a time, from the clipped input.
            std::vector<unsigned char> expected(3 * kFrames);
            for (uint32_t i = 0; i < kFrames; ++i) {
                double v = x[i];
                if (v > 1.0) v = 1.0;
                if (v < -1.0) v = -1.0;
                Double2TwentyFour(v, expected.data() + 3 * i);
            }
            MemorySoundFile f(1, 24, 0);
            f.SetDither(0);
            uint32_t count = kFrames;
            ASSERT_EQ(f.Write(0, &count, x.data()), 0);
            ASSERT_EQ(f.samples, expected) << "value " << special << " at " << at;
        }
    }
}

}  // namespace
