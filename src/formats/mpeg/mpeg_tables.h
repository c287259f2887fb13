// The fixed numbers of MPEG-1 audio Layers I and II that the built-in encoder
// needs, the frame header record and the frame parameter record. Every table
// here is compiled in; the encoder reads no table files.
#pragma once

#include <cstdint>

namespace mpeg {

// Status codes of the MPEG encoder.
enum : int {
    kMPEGBadSampleRateErr = -23604,   // a rate none of the six of SmpFrqIndex
    kMPEGDiskErr = -23605,            // a write or the close of the output failed
    kMPEGOpenOutputErr = -23606,      // the output cannot be opened for writing
    kMPEGJointLayer3Err = -23607,     // Layer III in joint stereo
    kMPEGLayer3ModelErr = -23608,     // Layer III with a model other than 2
    kMPEGBitRateErr = -23611,         // bit rate not allowed for the layer and mode
    kMPEGMemErr = -23614,             // an allocation of the encoder failed
    kMPEGBadHeaderErr = -23615,       // layer or mode extension out of range
};

inline constexpr int SBLIMIT = 32;     // subbands
inline constexpr int HAN_SIZE = 512;   // taps of the analysis window
inline constexpr int SCALE_RANGE = 64; // scale-factor indexes, the last one unused
inline constexpr int HBLKSIZE = 513;   // FFT lines from 0 Hz to half the rate
inline constexpr int CBANDS = 63;      // most threshold partitions at any rate

inline constexpr int kMonoMode = 3;
inline constexpr int kJointStereoMode = 1;

// The frame header as the file classes fill it; per frame the encoder rewrites
// the padding and, in joint stereo, the mode and mode extension.
struct layer {
    int32_t version = 1;             // 1 MPEG-1, 0 MPEG-2 low sampling frequencies
    int32_t lay = 2;                 // layer number, 1 or 2
    int32_t error_protection = 0;    // 0: no CRC word follows the header
    int32_t bitrate_index = 0;
    int32_t sampling_frequency = 0;  // 0 44.1 kHz, 1 48 kHz, 2 32 kHz
    int32_t padding = 0;
    int32_t extension = 0;           // the private bit
    int32_t mode = 0;                // 0 stereo, 1 joint stereo, 3 single channel
    int32_t mode_ext = 0;
    int32_t copyright = 0;
    int32_t original = 0;
    int32_t emphasis = 0;
};

// One entry of a Layer II allocation table. Entry 0 of a subband row carries,
// in `bits`, the width of that subband's allocation field.
struct sb_alloc {
    uint32_t steps = 0;
    uint32_t bits = 0;
    uint32_t group = 0;  // 3: three codes one by one; 1: three samples in one code word
    uint32_t quant = 0;  // quantisation class
};
using al_table = sb_alloc[SBLIMIT][16];

struct frame_params {
    layer* header = nullptr;
    int actual_mode = 0;           // the mode the file asked for
    al_table* alloc = nullptr;     // owned by the encoder; null when none is loaded
    int tab_num = -1;              // number of the loaded allocation table
    int stereo = 2;                // channels
    int jsbound = SBLIMIT;         // first subband coded jointly
    int sblimit = SBLIMIT;         // subbands coded
};

// A stored Layer II allocation table: rows of subband, allocation index,
// steps, bits, group, quantisation class (65535 steps stay 65535).
struct StoredAllocTable {
    uint16_t sblimit;
    uint16_t rowCount;
    const uint16_t (*rows)[6];
};

extern const double s_freq[2][4];        // kHz, by version then index
extern const int32_t bitrate[2][3][15];  // kbit/s, by version, layer - 1, index
extern const StoredAllocTable alloc_0, alloc_1, alloc_2, alloc_3;
extern const double multiple[SCALE_RANGE];
extern const double enwindow[HAN_SIZE];
extern const int32_t jsb_table[3][4];

// Threshold in quiet of the psychoacoustic model per FFT line (energies), for
// 32, 44.1 and 48 kHz: the table number, then 513 values.
extern const float absthr_0[HBLKSIZE + 1];
extern const float absthr_1[HBLKSIZE + 1];
extern const float absthr_2[HBLKSIZE + 1];
extern const double crit_band[27];  // critical band edges in Hz
extern const double bmax[27];       // minimum masking index per critical band, dB

// Sampling-frequency index of a rate in Hz (0, 1, 2) with its version; -1 for
// any other rate, the version then unchanged.
int SmpFrqIndex(long sRate, int* version);

// First subband coded jointly for a layer and mode extension.
int js_bound(int lay, int m_ext);

// Number of the Layer II allocation table for a header (0 to 3).
int TableNumberFor(const layer& header, int stereo);

// Average slots per frame of a header: (samples per frame / rate in kHz) x
// (bit rate in kbit/s / bits per slot); a frame has the whole part, plus one
// slot when padded. A slot is 4 bytes in Layer I, 1 byte in Layer II.
double AverageSlotsPerFrame(const layer& header);
inline int BytesPerSlot(const layer& header) { return header.lay == 1 ? 4 : 1; }

// Fills an allocation table from stored table `number`; the table's subband limit.
int read_bit_alloc(int number, al_table* alloc);

}  // namespace mpeg
