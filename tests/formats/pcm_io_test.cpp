// Byte order of stored samples: 24-bit samples reversed in place at every
// length (the fast path takes sixteen samples at a time, the rest one by one).

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "formats/pcm/pcm_io.h"

namespace {

TEST(PcmByteOrder, TwentyFourBitSamplesReverseAtEveryLength) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (uint64_t samples = 0; samples <= 100; ++samples) {
        SCOPED_TRACE(samples);
        // A byte beyond the samples shows that nothing past them is written.
        std::vector<unsigned char> data(3 * samples + 1);
        for (unsigned char& b : data) b = static_cast<unsigned char>(byte(random));
        std::vector<unsigned char> want = data;
        for (uint64_t i = 0; i < samples; ++i) std::swap(want[3 * i], want[3 * i + 2]);
        const std::vector<unsigned char> before = data;
        pcmio::SwapBigEndianSamples(data.data(), samples, 3);
        ASSERT_EQ(data, want);
        pcmio::SwapBigEndianSamples(data.data(), samples, 3);
        ASSERT_EQ(data, before);
    }
}

}  // namespace
