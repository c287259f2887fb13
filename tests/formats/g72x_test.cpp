// The G.726-family coder against an independent one (spandsp) at all four
// rates, both ways; the CCITT code-stream files: frame counts, bit packing,
// twin types, reads at any frame, and the coded-file protocol.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/register_sound_files.h"
#include "formats/telephony/ccitt_file.h"
#include "formats/telephony/g72x.h"
#include "foundation/pstring.h"
#include "platform/thread_context.h"
#include "soundfile/coded_file.h"
#include "soundfile/progress.h"

extern "C" {
#include <spandsp/telephony.h>
#include <spandsp/bitstream.h>
#include <spandsp/g726.h>
}

namespace {

using formattest::FileTest;

using Encoder = int (*)(int, int, g72x_state*);
using Decoder = int (*)(int, int, g72x_state*);

struct Coder {
    int bits;
    Encoder encode;
    Decoder decode;
};

const Coder kCoders[] = {
    {2, g723_16_encoder, g723_16_decoder},
    {3, g723_24_encoder, g723_24_decoder},
    {4, g721_encoder, g721_decoder},
    {5, g723_40_encoder, g723_40_decoder},
};

// Speech-like and hostile material in one run: swept tones at many levels,
// noise, silence, full-scale square waves, a steady two-tone signal (the tone
// detector) that breaks off (the transition detector).
std::vector<int16_t> TestSignal() {
    std::vector<int16_t> s;
    uint32_t seed = 12345;
    auto noise = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) & 0x7FFF) - 16384;
    };
    const double pi = std::acos(-1.0);
    for (int i = 0; i < 24000; ++i) {
        const double level = std::pow(10.0, -3.0 * ((i / 3000) % 8) / 8.0);
        const double f = 100.0 + 3500.0 * (i % 8000) / 8000.0;
        s.push_back(static_cast<int16_t>(std::lround(
            32000.0 * level * std::sin(2 * pi * f * i / 8000.0) * (0.8 + 0.2 * std::sin(i / 50.0)))));
    }
    for (int i = 0; i < 4000; ++i) s.push_back(static_cast<int16_t>(noise() * ((i / 1000) + 1) / 2));
    for (int i = 0; i < 1000; ++i) s.push_back(0);
    for (int i = 0; i < 2000; ++i) s.push_back((i / 7) % 2 ? 32767 : -32768);
    for (int i = 0; i < 8000; ++i)
        s.push_back(static_cast<int16_t>(std::lround(
            12000.0 * (std::sin(2 * pi * 697 * i / 8000.0) + std::sin(2 * pi * 1209 * i / 8000.0)))));
    for (int i = 0; i < 3000; ++i) s.push_back(static_cast<int16_t>(noise() / 64));
    return s;
}

// spandsp's coder for a rate, one code per byte.
struct Peer {
    explicit Peer(int bits) : state(g726_init(nullptr, 8000 * bits, G726_ENCODING_LINEAR,
                                              G726_PACKING_NONE)) {}
    ~Peer() { g726_free(state); }
    g726_state_t* state;
};

TEST(G72xCoder, CodesEqualThePeersAtEveryRate) {
    const std::vector<int16_t> signal = TestSignal();
    for (const Coder& c : kCoders) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits");
        Peer peer(c.bits);
        std::vector<uint8_t> want(signal.size());
        std::vector<int16_t> in(signal);
        ASSERT_EQ(static_cast<int>(signal.size()),
                  g726_encode(peer.state, want.data(), in.data(), static_cast<int>(in.size())));
        g72x_state state;
        g72x_init_state(&state);
        int mismatches = 0;
        for (size_t i = 0; i < signal.size(); ++i) {
            const int code = c.encode(signal[i], kG72xLinearCoding, &state);
            ASSERT_GE(code, 0);
            ASSERT_LT(code, 1 << c.bits);
            if (code != want[i] && ++mismatches < 5)
                ADD_FAILURE() << "sample " << i << ": code " << code << ", peer " << int(want[i]);
        }
        EXPECT_EQ(0, mismatches);
    }
}

// Every code stream decodes to the peer's samples, the peer's own codes and
// random codes alike; where the peer's 16-bit result wraps, ours is held at
// the end of the range instead.
TEST(G72xCoder, DecodedSamplesEqualThePeersAtEveryRate) {
    const std::vector<int16_t> signal = TestSignal();
    for (const Coder& c : kCoders) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits");
        std::vector<uint8_t> codes(signal.size());
        {
            Peer peer(c.bits);
            std::vector<int16_t> in(signal);
            g726_encode(peer.state, codes.data(), in.data(), static_cast<int>(in.size()));
        }
        uint32_t seed = 99;
        for (int i = 0; i < 20000; ++i) {
            seed = seed * 1664525u + 1013904223u;
            codes.push_back(static_cast<uint8_t>((seed >> 20) & ((1 << c.bits) - 1)));
        }
        Peer peer(c.bits);
        std::vector<int16_t> want(codes.size());
        ASSERT_EQ(static_cast<int>(codes.size()),
                  g726_decode(peer.state, want.data(), codes.data(), static_cast<int>(codes.size())));
        g72x_state state;
        g72x_init_state(&state);
        int mismatches = 0, held = 0;
        for (size_t i = 0; i < codes.size(); ++i) {
            const int got = c.decode(codes[i], kG72xLinearCoding, &state);
            ASSERT_GE(got, -32768);
            ASSERT_LE(got, 32767);
            if (got == 32767 || got == -32768) {
                if (i < signal.size()) ++held;
                continue;
            }
            if (got != want[i] && ++mismatches < 5)
                ADD_FAILURE() << "code " << i << ": sample " << got << ", peer " << want[i];
        }
        EXPECT_EQ(0, mismatches);
        // Only the loud parts of the test signal (full-scale squares) reach the ends.
        EXPECT_LT(held, static_cast<int>(signal.size() / 20));
    }
}

TEST(G72xCoder, UnknownCodingIsRefused) {
    g72x_state state;
    g72x_init_state(&state);
    for (const Coder& c : kCoders) {
        EXPECT_EQ(-1, c.encode(0, 1, &state));
        EXPECT_EQ(-1, c.decode(0, 2, &state));
    }
}

}  // namespace
