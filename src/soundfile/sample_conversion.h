// Sample conversion between the integer form of the sound-file buffers and the
// floating-point form of the processing code (full scale -1.0 .. +1.0), the
// packed 24-bit helpers and the process-wide dither table.
//
// The CSoundFile members Read, Write, Add and GetExtremes* live in
// sample_conversion.cpp beside these helpers.
#pragma once

#include <cstdint>

#include "foundation/errors.h"

// Scale constants. The read scales are the doubles nearest to their decimal
// literals, slightly above the powers of two they stand for; files written and
// read by this program depend on them bit for bit.
inline constexpr double kReadScale8 = 0.0078125;                 // 2^-7
inline constexpr double kReadScale16 = 3.051758e-05;             // a hair above 2^-15
inline constexpr double kReadScale32 = 4.65661287308e-10;        // a hair above 2^-31
inline constexpr double kWriteLimit8 = 0.9921875;                // 127/128
inline constexpr double kWriteLimit16 = 0.99996954386;           // a hair above 32767/32768
inline constexpr double kWriteLowerLimit = -1.0;
// 8-bit writes scale by the inverse of the 8-bit read scale: a byte read and
// written back is the same byte.
inline constexpr double kFactor8 = 128.0;
inline constexpr double kDitherFactor8 = 32767.0;
inline constexpr double kFactor16 = 32768.0;
inline constexpr double kFactor32 = 2147483647.0;  // 16-bit writes with dither
// 24- and 32-bit writes scale by the power of two whose inverse the read scale
// rounds up: a sample read and written back is the same sample, and 0.5 is
// exactly half scale.
inline constexpr double kWriteFactor24 = 8388608.0;     // 2^23
inline constexpr double kWriteFactor32 = 2147483648.0;  // 2^31

// A double to a signed 32-bit integer, toward zero. NaN gives 0; values beyond
// the range give the nearest end of it. Written so that loops over it vectorise.
inline int32_t TruncToInt32(double x) {
    double y = (x == x) ? x : 0.0;
    y = (y < -2147483648.0) ? -2147483648.0 : y;
    y = (y > 2147483647.0) ? 2147483647.0 : y;
    return static_cast<int32_t>(y);
}

// Packed 24-bit samples: three bytes, least significant first.

// The sample shifted left by 8 (left-justified in 32 bits).
inline int32_t TwentyFour2Long(const unsigned char* p) {
    uint32_t u = (static_cast<uint32_t>(p[0]) << 8) | (static_cast<uint32_t>(p[1]) << 16) |
                 (static_cast<uint32_t>(p[2]) << 24);
    return static_cast<int32_t>(u);
}

// The left-justified value times the 24/32-bit read scale.
inline double TwentyFour2Double(const unsigned char* p) {
    return static_cast<double>(TwentyFour2Long(p)) * kReadScale32;
}

// The left-justified value in single precision times the read scale, rounded to single.
inline float TwentyFour2Float(const unsigned char* p) {
    return static_cast<float>(static_cast<double>(static_cast<float>(TwentyFour2Long(p))) *
                              kReadScale32);
}

// Stores bits 8..31 of a left-justified value.
inline void Long2TwentyFour(int32_t value, unsigned char* p) {
    p[0] = static_cast<unsigned char>(value >> 8);
    p[1] = static_cast<unsigned char>(value >> 16);
    p[2] = static_cast<unsigned char>(value >> 24);
}

// x as a 24-bit sample, toward zero, within the 24-bit range, left-justified in
// 32 bits. NaN gives 0.
inline int32_t LeftJustified24(double x) {
    double y = (x == x) ? x * kWriteFactor24 : 0.0;
    y = (y < -8388608.0) ? -8388608.0 : y;
    y = (y > 8388607.0) ? 8388607.0 : y;
    return static_cast<int32_t>(y) * 256;
}

// Stores x as a 24-bit sample; returns the top 16 bits of the 32-bit value.
inline int16_t Double2TwentyFour(double x, unsigned char* p) {
    const int32_t w = LeftJustified24(x);
    Long2TwentyFour(w, p);
    return static_cast<int16_t>(w >> 16);
}

// Bytes per sample of a word size (20 bits give 2), and back.
inline uint16_t Bits2Bytes(uint16_t bits) { return static_cast<uint16_t>(bits >> 3); }
inline uint16_t Bytes2Bits(uint16_t bytes) { return static_cast<uint16_t>(bytes * 8); }

// The dither table: gDTableLength entries of 0..255, shared by every writer
// through one running index, which is advanced before each use. The table is
// filled on the main thread before a batch that dithers and read only by the
// conversion thread; the index and the generator state live for the process.
extern uint16_t* gDitherTable;
extern const int32_t gDTableLength;
extern uint16_t gDitherTableIndex;

// Fills the dither table from the running generator (allocating it first when
// there is none); the memory error code when it cannot be allocated, else 0.
// The generator goes on where it stopped, so a second fill gives other values.
OSErr fillDither(int unused = 0);
// Frees the table and clears the pointer.
void FreeDitherTable();
// One step of the table's generator; the new state.
uint32_t pRandomLong1();
// One step of a second, independent generator; the new state.
uint32_t pRandomLong2();
