// The ITU-T G.726 family of ADPCM coders in the Recommendation's fixed-point
// form: 16, 24, 32 and 40 kbit/s (2, 3, 4 and 5 bits per code; the 32 kbit/s
// coder is G.721, the 24 and 40 kbit/s coders G.723). One g72x_state holds one
// direction of one channel; the coders take and give 16-bit linear samples.
#pragma once

#include <cstdint>

// The adaptive state of one encoder or decoder.
struct g72x_state {
    int32_t yl;     // locked (slow) quantizer scale factor
    int16_t yu;     // unlocked (fast) quantizer scale factor
    int16_t dms;    // short-term average of the code's magnitude
    int16_t dml;    // long-term average of the code's magnitude
    int16_t ap;     // speed control: mix of the two scale factors
    int16_t a[2];   // pole predictor coefficients
    int16_t b[6];   // zero predictor coefficients
    int16_t pk[2];  // signs of the last two partial signal estimates
    int16_t dq[6];  // last six quantized differences, in the 4.6 floating form
    int16_t sr[2];  // last two reconstructed signals, in the 4.6 floating form
    int8_t td;      // tone detected
};

// The sample coding the coders take and give: 16-bit linear samples. (The
// companded codings of the Recommendation are not provided.)
constexpr int kG72xLinearCoding = 3;

// Puts a state into the Recommendation's initial (reset) state.
void g72x_init_state(g72x_state* state);

// Encoders: a 16-bit linear sample to a code of 2, 3, 4 or 5 bits; -1 for a
// coding other than kG72xLinearCoding.
int g723_16_encoder(int sample, int coding, g72x_state* state);
int g723_24_encoder(int sample, int coding, g72x_state* state);
int g721_encoder(int sample, int coding, g72x_state* state);
int g723_40_encoder(int sample, int coding, g72x_state* state);

// Decoders: a code (only its low 2, 3, 4 or 5 bits count) to a 16-bit linear
// sample, held to the 16-bit range; -1 for a coding other than kG72xLinearCoding.
int g723_16_decoder(int code, int coding, g72x_state* state);
int g723_24_decoder(int code, int coding, g72x_state* state);
int g721_decoder(int code, int coding, g72x_state* state);
int g723_40_decoder(int code, int coding, g72x_state* state);

// The steps the coders share, as the Recommendation's blocks name them.
// Signal estimate of the zero (sixth-order) and the pole (second-order) predictors.
int predictor_zero(const g72x_state* state);
int predictor_pole(const g72x_state* state);
// The quantizer scale factor y for this sample (speed-controlled mix of yu and yl).
int step_size(const g72x_state* state);
// The code of difference d at scale factor y, for a table of `size` decision
// levels in the log domain.
int quantize(int d, int y, const int16_t* table, int size);
// The quantized difference for a code's log magnitude `dqln`; a negative sign
// gives the sign-magnitude form (bit 15 set) the update step expects.
int reconstruct(int sign, int dqln, int y);
// Adapts the state after one sample: scale factors, speed control, predictor
// coefficients, the tone and transition detectors, and the delay lines.
void update(int code_size, int y, int wi, int fi, int dq, int sr, int dqsez, g72x_state* state);
// Product of a predictor coefficient and a value in the 4.6 floating form.
int fmult(int an, int srn);
// The index of the first table entry above val (size when there is none).
int quan(int val, const int16_t* table, int size);
