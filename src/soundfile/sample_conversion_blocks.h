// The block conversions under CSoundFile's Read and Write families: stored
// samples of a buffer to floats or doubles, and doubles clipped in place and
// stored as 16- or 24-bit samples, each a straight run over one block.
//
// Every conversion has a plain loop, which is the reference, and on x86-64 an
// SSE2 and an AVX2 loop chosen at run time; all of them give the same bits for
// every input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "soundfile/sample_conversion.h"

namespace sampleblocks {

// ---- Stored sample forms -----------------------------------------------------

// Each form loads sample i of a buffer as a signed 32-bit value and names the
// scale that takes it to full scale 1.0.
struct Pcm8 {
    static constexpr double kScale = kReadScale8;
    static constexpr size_t kBytes = 1;
    static int32_t Load(const unsigned char* b, size_t i) { return static_cast<int8_t>(b[i]); }
};
struct Pcm16 {
    static constexpr double kScale = kReadScale16;
    static constexpr size_t kBytes = 2;
    static int32_t Load(const unsigned char* b, size_t i) {
        int16_t s;
        std::memcpy(&s, b + 2 * i, 2);
        return s;
    }
};
// Packed three bytes, taken left-justified.
struct Pcm24 {
    static constexpr double kScale = kReadScale32;
    static constexpr size_t kBytes = 3;
    static int32_t Load(const unsigned char* b, size_t i) { return TwentyFour2Long(b + 3 * i); }
};
// 32-bit words holding a 24-bit sample in their low three bytes.
struct Pcm24In32 {
    static constexpr double kScale = kReadScale32;
    static constexpr size_t kBytes = 4;
    static int32_t Load(const unsigned char* b, size_t i) {
        uint32_t w;
        std::memcpy(&w, b + 4 * i, 4);
        return static_cast<int32_t>(w << 8);
    }
};
struct Pcm32 {
    static constexpr double kScale = kReadScale32;
    static constexpr size_t kBytes = 4;
    static int32_t Load(const unsigned char* b, size_t i) {
        int32_t s;
        std::memcpy(&s, b + 4 * i, 4);
        return s;
    }
};

enum class Form { kNone, k8, k16, k24, k24In32, k32 };

// ---- Instruction sets ----------------------------------------------------------

enum class Path { kPlain, kSse2, kAvx2 };

// The widest path this machine runs; the conversions take it unless told otherwise.
Path BestPath();
// Makes the conversions take `path`, or the best this machine runs when that is
// narrower; returns the path they take from now on. For tests and benchmarks.
Path UsePath(Path path);

// ---- Reads ------------------------------------------------------------------------
// A float sample is the stored value in single precision, widened to double,
// times the form's scale and rounded to single precision (8-bit: multiplied in
// single precision, which is exact); a double sample is the value times the scale.

// `samples` consecutive samples from the start of `buf`.
void ReadRun(Form form, const unsigned char* buf, size_t samples, float* out);
void ReadRun(Form form, const unsigned char* buf, size_t samples, double* out);

// One channel of `frames` interleaved frames of `channels` samples each.
void ReadChannel(Form form, const unsigned char* buf, size_t frames, size_t channels,
                 size_t channel, float* out);
void ReadChannel(Form form, const unsigned char* buf, size_t frames, size_t channels,
                 size_t channel, double* out);

// ---- Writes ---------------------------------------------------------------------------

inline double Clip(double x, double lo, double hi) {
    x = (x < lo) ? lo : x;
    return (x > hi) ? hi : x;
}

// Clips every sample of a block in place to [-1.0, hi]; a NaN stays NaN.
void ClipBlock(double* x, size_t n, double hi);

// Truncation of a product known to lie within the 32-bit range, or NaN (0).
inline int32_t TruncBounded(double y) { return static_cast<int32_t>((y == y) ? y : 0.0); }

// Without dither:

// Clips x[0 .. n) in place to [-1.0, 0.99996954386] (a NaN stays) and stores each
// as trunc(x * 32768.0), a NaN as 0.
void WriteRun16(double* x, size_t n, unsigned char* out);
// Clips x[0 .. n) in place to [-1.0, 1.0] (a NaN stays) and stores each packed
// as LeftJustified24 gives it.
void WriteRun24(double* x, size_t n, unsigned char* out);

}  // namespace sampleblocks
