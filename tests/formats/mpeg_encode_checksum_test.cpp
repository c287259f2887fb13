// The Layer I and II encoder's output pinned byte for byte: a fixed set of
// synthesised inputs over both layers, the three channel modes, the three rates
// and the lowest, a middle and the highest bit rate each mode takes, plus a
// full-scale input with the largest subband peaks 16-bit samples can make. Any
// change to the coding shows up here as a changed checksum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/mpeg/mpeg_stream_encoder.h"
#include "formats/mpeg/mpeg_tables.h"
#include "test_support.h"

using mpeg::MPEGStreamEncoder;

namespace {

// Eleven Layer II frames less a little, so that the last frame of either layer
// is completed with zeros.
constexpr uint32_t kFrames = 12500;
// Fed in blocks that straddle frame boundaries.
constexpr uint32_t kBlock = 1000;

uint64_t Fnv1a64(const std::string& bytes) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// Tones, a sweep and noise under a stepped envelope (so that the three parts of
// a Layer II frame get different scale factors); the right channel differs from
// the left, so joint stereo has something to decide. Fixed seed.
std::vector<int16_t> Music(long rate, int channels) {
    std::vector<int16_t> out(size_t{kFrames} * channels);
    uint32_t seed = 12345;
    auto noise = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>(seed >> 16) - 32768;
    };
    constexpr double kTwoPi = 6.283185307179586;
    for (uint32_t i = 0; i < kFrames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double envelope = 0.25 + 0.75 * ((i / 317) % 4) / 3.0;
        const double left = 9000 * std::sin(kTwoPi * 440 * t) + 2500 * std::sin(kTwoPi * 3100 * t) +
                            1500 * std::sin(kTwoPi * (200 + 4000 * t) * t) + noise() / 40.0;
        const double right = 7000 * std::sin(kTwoPi * 660 * t + 0.3) +
                             2000 * std::sin(kTwoPi * 9000 * t) + noise() / 25.0;
        out[size_t{i} * channels] = static_cast<int16_t>(std::lround(envelope * left));
        if (channels == 2)
            out[size_t{i} * 2 + 1] = static_cast<int16_t>(std::lround(envelope * right));
    }
    return out;
}

// Full-scale input shaped to the analysis filter: every 512 samples the newest
// 512 match the signs of subband 0's taps on the left and subband 7's on the
// right, which gives the largest subband peaks 16-bit input can reach (about
// 1.69, scale-factor index 0).
std::vector<int16_t> FullScale() {
    constexpr double kPi = 3.14159265358979;
    std::vector<int16_t> out(size_t{kFrames} * 2);
    for (uint32_t n = 0; n < kFrames; ++n)
        for (int ch = 0; ch < 2; ++ch) {
            const int band = ch ? 7 : 0;
            const int tap = 511 - static_cast<int>(n % 512);
            const double sign =
                mpeg::enwindow[tap] * std::cos((2 * band + 1) * (16 - tap % 64) * kPi / 64);
            out[size_t{n} * 2 + ch] = sign < 0 ? -32768 : 32767;
        }
    return out;
}

uint64_t EncodeChecksum(const std::string& path, const MPEGStreamEncoder::Settings& settings,
                        const std::vector<int16_t>& samples) {
    MPEGStreamEncoder encoder;
    EXPECT_EQ(encoder.Begin(path, settings), 0);
    for (uint32_t at = 0; at < kFrames; at += kBlock) {
        const uint32_t n = std::min(kBlock, kFrames - at);
        EXPECT_EQ(encoder.Encode(samples.data() + size_t{at} * settings.channels, n), 0);
    }
    EXPECT_EQ(encoder.Finish(), 0);
    return Fnv1a64(testsupport::ReadFile(path));
}

enum Mode { kMono, kStereo, kJoint };

struct Case {
    int lay;
    Mode mode;
    long rate;
    int kbps;
    uint64_t checksum;
};

// Bit rates: Layer I mono 32, 224, 448 and stereo 64, 256, 448 (32 is refused
// in stereo); Layer II mono 32, 96, 192 (224 and up refused) and stereo 64,
// 192, 384 (below 57 and 80 refused).
const Case kCases[] = {
    {1, kMono, 32000, 32, 0x678cbc26564203daull},
    {1, kMono, 32000, 224, 0x5a306e9fb81489abull},
    {1, kMono, 32000, 448, 0x44299caf0c1c4d90ull},
    {1, kMono, 44100, 32, 0x1f948a2ef636bf7full},
    {1, kMono, 44100, 224, 0x948376626ecaf5dcull},
    {1, kMono, 44100, 448, 0x4996d1acf64bb5a1ull},
    {1, kMono, 48000, 32, 0x9fa46ad4b63cc7d7ull},
    {1, kMono, 48000, 224, 0x63fd461d40ef966bull},
    {1, kMono, 48000, 448, 0x9c3f9f1ae1d17109ull},
    {1, kStereo, 32000, 64, 0xc31483f506f40e13ull},
    {1, kStereo, 32000, 256, 0x47c4b680d48395e0ull},
    {1, kStereo, 32000, 448, 0x2090e3983d951a93ull},
    {1, kStereo, 44100, 64, 0xefe4809a975e5ebbull},
    {1, kStereo, 44100, 256, 0xa0b2ab94c9517075ull},
    {1, kStereo, 44100, 448, 0x9f713771618ef051ull},
    {1, kStereo, 48000, 64, 0xaa6bb0bdd5a40b35ull},
    {1, kStereo, 48000, 256, 0x6f0ba1060578d88cull},
    {1, kStereo, 48000, 448, 0xcc8430db5ac9ee6bull},
    {1, kJoint, 32000, 64, 0x3020998df990b44aull},
    {1, kJoint, 32000, 256, 0x47c4b680d48395e0ull},
    {1, kJoint, 32000, 448, 0x2090e3983d951a93ull},
    {1, kJoint, 44100, 64, 0xff3a9acf6f227827ull},
    {1, kJoint, 44100, 256, 0xa0b2ab94c9517075ull},
    {1, kJoint, 44100, 448, 0x9f713771618ef051ull},
    {1, kJoint, 48000, 64, 0x8545c00b843ddee3ull},
    {1, kJoint, 48000, 256, 0x6f0ba1060578d88cull},
    {1, kJoint, 48000, 448, 0xcc8430db5ac9ee6bull},
    {2, kMono, 32000, 32, 0x5580b1d3b94c3de0ull},
    {2, kMono, 32000, 96, 0x13049d9d76c24c4dull},
    {2, kMono, 32000, 192, 0xde9e2415969cf35cull},
    {2, kMono, 44100, 32, 0x95784861eef716b9ull},
    {2, kMono, 44100, 96, 0x6ffb5164134dc9d2ull},
    {2, kMono, 44100, 192, 0xfa0724d141c3f48eull},
    {2, kMono, 48000, 32, 0xc6ce9c78e6604c80ull},
    {2, kMono, 48000, 96, 0x18713b158ed84f96ull},
    {2, kMono, 48000, 192, 0x3f6f2293a9bd7460ull},
    {2, kStereo, 32000, 64, 0xb96f20abca3e843aull},
    {2, kStereo, 32000, 192, 0xc1ec672af882ac28ull},
    {2, kStereo, 32000, 384, 0x9b023c2be8054e51ull},
    {2, kStereo, 44100, 64, 0xb39ec209ee7dcf5full},
    {2, kStereo, 44100, 192, 0x1b9cb30fcbce2c4full},
    {2, kStereo, 44100, 384, 0x6f4170c426cc74c8ull},
    {2, kStereo, 48000, 64, 0xb97d7b09ab4a014dull},
    {2, kStereo, 48000, 192, 0x79832cd255072c1eull},
    {2, kStereo, 48000, 384, 0x80727c142190affaull},
    {2, kJoint, 32000, 64, 0x9e1df9dd4eeac161ull},
    {2, kJoint, 32000, 192, 0xc1ec672af882ac28ull},
    {2, kJoint, 32000, 384, 0x9b023c2be8054e51ull},
    {2, kJoint, 44100, 64, 0x94eac80cce09f2f9ull},
    {2, kJoint, 44100, 192, 0x1b9cb30fcbce2c4full},
    {2, kJoint, 44100, 384, 0x6f4170c426cc74c8ull},
    {2, kJoint, 48000, 64, 0x370a964d268a989ull},
    {2, kJoint, 48000, 192, 0x79832cd255072c1eull},
    {2, kJoint, 48000, 384, 0x80727c142190affaull},
};

TEST(MPEGEncodeChecksum, EveryLayerModeRateAndBitRate) {
    testsupport::TempDir dir;
    std::vector<int16_t> inputs[3][2];
    const long rates[3] = {32000, 44100, 48000};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 2; ++c) inputs[r][c] = Music(rates[r], c + 1);
    for (const Case& c : kCases) {
        const int channels = c.mode == kMono ? 1 : 2;
        MPEGStreamEncoder::Settings s;
        s.lay = c.lay;
        s.channels = channels;
        s.sampleRate = c.rate;
        s.kbps = c.kbps;
        s.jointStereo = c.mode == kJoint;
        const int r = c.rate == 32000 ? 0 : c.rate == 44100 ? 1 : 2;
        const uint64_t sum = EncodeChecksum(dir / "out.mp", s, inputs[r][channels - 1]);
        const char* mode = c.mode == kMono ? "kMono" : c.mode == kStereo ? "kStereo" : "kJoint";
        EXPECT_EQ(sum, c.checksum) << "{" << c.lay << ", " << mode << ", " << c.rate << ", "
                                   << c.kbps << ", 0x" << std::hex << sum << "ull},";
    }
}

TEST(MPEGEncodeChecksum, LargestPeaksAndUnpaddedFrames) {
    testsupport::TempDir dir;
    struct Loud {
        int lay;
        bool joint, padding;
        int kbps;
        uint64_t checksum;
    } cases[] = {
        {1, false, true, 448, 0x4e04dc9600cb2ae7ull},  {1, true, true, 128, 0x1d1f74a5df28c4f6ull},
        {2, false, true, 384, 0xf408734dfb499bc7ull},  {2, true, true, 64, 0xa7605d9e5a0b1b16ull},
        {2, false, false, 192, 0x479ee937366e276aull},
    };
    const std::vector<int16_t> loud = FullScale();
    for (const Loud& c : cases) {
        MPEGStreamEncoder::Settings s;
        s.lay = c.lay;
        s.channels = 2;
        s.sampleRate = 44100;
        s.kbps = c.kbps;
        s.jointStereo = c.joint;
        s.padding = c.padding;
        const uint64_t sum = EncodeChecksum(dir / "loud.mp", s, loud);
        EXPECT_EQ(sum, c.checksum) << "{" << c.lay << ", " << c.joint << ", " << c.padding << ", "
                                   << c.kbps << ", 0x" << std::hex << sum << "ull},";
    }
}

}  // namespace
