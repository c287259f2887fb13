// G.711 companding: 16-bit linear samples to 8-bit A-law and µ-law codes and
// back. Used by the buffer operations of the companded file formats.
#pragma once

#include <array>
#include <cstdint>

// The A-law code of a 16-bit sample. The codes come from the resource
// "raw_alaw_table" (byte i is the code of sample i - 32768), loaded once on the
// first call and kept for the life of the process.
uint8_t to_alaw(int16_t sample);

// The linear value of an A-law code, -32256 to 32256.
int16_t from_alaw(uint8_t code);

// The µ-law code of a 16-bit sample (bias 132).
uint8_t to_mulaw(int16_t sample);

namespace g711 {

// The linear value of a µ-law code: the code complemented, its four mantissa
// bits and the bias 132 shifted up by the segment, less the bias, signed.
constexpr int16_t MuLawValue(uint8_t code) {
    const unsigned u = static_cast<uint8_t>(~code);
    const int t = ((static_cast<int>(u & 0x0F) << 3) + 132) << ((u & 0x70) >> 4);
    return static_cast<int16_t>((u & 0x80) ? 132 - t : t - 132);
}

constexpr std::array<int16_t, 256> MakeMuLawTable() {
    std::array<int16_t, 256> table{};
    for (int code = 0; code < 256; ++code) table[code] = MuLawValue(static_cast<uint8_t>(code));
    return table;
}

// The A-law code of a sample computed from the encoding rule itself: the values
// of "raw_alaw_table", and what to_alaw falls back on when that resource cannot
// be read whole.
uint8_t ALawCodeFromRule(int16_t sample);

// True when to_alaw is served by the resource file (false: by the rule). Loads
// the table when it is not loaded yet.
bool ALawTableFromResource();

}  // namespace g711

// The linear value of each µ-law code: mulaw[code] (entry 0 is -32124, 128 is
// 32124, 127 and 255 are 0).
inline constexpr std::array<int16_t, 256> mulaw = g711::MakeMuLawTable();

// The G.711 conversions on plain int samples that the G.72x coder calls for
// its A-law and µ-law laws. They code and expand exactly as to_alaw, from_alaw,
// to_mulaw and mulaw do; samples beyond 16 bits saturate.
unsigned char linear2alaw(int sample);
int alaw2linear(unsigned char code);
unsigned char linear2ulaw(int sample);
int ulaw2linear(unsigned char code);
