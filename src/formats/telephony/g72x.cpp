#include "formats/telephony/g72x.h"

#include <algorithm>
#include <cstdlib>

namespace {

// One rate of the family. The tables are indexed by the code's magnitude |I|
// (0 to 2^(bits-1) - 1); a code with its sign bit set has the magnitude
// (2^bits - 1) - code, so that both halves of the code space share one row.
struct Rate {
    int bits;
    // Decision levels of the quantizer on log2|d| - y/4, in 1/128 units.
    const int16_t* levels;
    int levelCount;
    // Log magnitude of the reconstructed difference for each |I|, in 1/128 units.
    const int16_t* dqln;
    // Scale-factor multiplier W(|I|), in 1/16 units (the update takes it << 5).
    const int16_t* w;
    // Speed-control input F(|I|), already in the update's units.
    const int16_t* f;
};

// 16 kbit/s, 2 bits.
constexpr int16_t kLevels16[1] = {261};
constexpr int16_t kDqln16[2] = {116, 365};
constexpr int16_t kW16[2] = {-22, 439};
constexpr int16_t kF16[2] = {0, 0xE00};

// 24 kbit/s, 3 bits.
constexpr int16_t kLevels24[3] = {8, 218, 331};
constexpr int16_t kDqln24[4] = {-2048, 135, 273, 373};
constexpr int16_t kW24[4] = {-4, 30, 137, 582};
constexpr int16_t kF24[4] = {0, 0x200, 0x400, 0xE00};

// 32 kbit/s, 4 bits.
constexpr int16_t kLevels32[7] = {-124, 80, 178, 246, 300, 349, 400};
constexpr int16_t kDqln32[8] = {-2048, 4, 135, 213, 273, 323, 373, 425};
constexpr int16_t kW32[8] = {-12, 18, 41, 64, 112, 198, 355, 1122};
constexpr int16_t kF32[8] = {0, 0, 0, 0x200, 0x200, 0x200, 0x600, 0xE00};

// 40 kbit/s, 5 bits.
constexpr int16_t kLevels40[15] = {-122, -16, 68,  139, 198, 250, 298, 339,
                                   378,  413, 445, 475, 502, 528, 553};
constexpr int16_t kDqln40[16] = {-2048, -66, 28,  104, 169, 224, 274, 318,
                                 358,   395, 429, 459, 488, 514, 539, 566};
constexpr int16_t kW40[16] = {14, 14, 24, 39, 40, 41, 58, 100,
                              141, 179, 219, 280, 358, 440, 529, 696};
constexpr int16_t kF40[16] = {0,     0,     0,     0,     0,     0x200, 0x200, 0x200,
                              0x200, 0x200, 0x400, 0x600, 0x800, 0xA00, 0xC00, 0xC00};

constexpr Rate kRate16{2, kLevels16, 1, kDqln16, kW16, kF16};
constexpr Rate kRate24{3, kLevels24, 3, kDqln24, kW24, kF24};
constexpr Rate kRate32{4, kLevels32, 7, kDqln32, kW32, kF32};
constexpr Rate kRate40{5, kLevels40, 15, kDqln40, kW40, kF40};

// quan over the powers of two: the bit length of val, at most 15 (0 for val < 1).
int BitLength(int val) {
    return val < 1 ? 0 : std::min(15, 32 - __builtin_clz(static_cast<unsigned>(val)));
}

int SignBit(const Rate& r) { return 1 << (r.bits - 1); }

// The row of a code's magnitude.
int Magnitude(const Rate& r, int code) {
    return (code & SignBit(r)) ? ((1 << r.bits) - 1) - code : code;
}

// The signal estimates of the predictors: se and sez, as 15-bit values from
// the 16-bit accumulations of the Recommendation.
struct Estimate {
    int16_t se;
    int16_t sez;
};

Estimate Predict(const g72x_state* state) {
    const int16_t sezi = static_cast<int16_t>(predictor_zero(state));
    const int16_t sei = static_cast<int16_t>(sezi + predictor_pole(state));
    return {static_cast<int16_t>(sei >> 1), static_cast<int16_t>(sezi >> 1)};
}

// The reconstruction and adaptation after code i: the reconstructed signal sr.
int16_t Reconstruct(const Rate& r, int i, int y, const Estimate& e, g72x_state* state) {
    const int m = Magnitude(r, i);
    const int16_t dq = static_cast<int16_t>(reconstruct(i & SignBit(r), r.dqln[m], y));
    // ADDB: dq is sign-magnitude with a 15-bit magnitude.
    const int16_t sr = static_cast<int16_t>(dq < 0 ? e.se - (dq & 0x7FFF) : e.se + dq);
    const int16_t dqsez = static_cast<int16_t>(sr + e.sez - e.se);
    update(r.bits, y, r.w[m] * 32, r.f[m], dq, sr, dqsez, state);
    return sr;
}

int Encode(const Rate& r, int sample, int coding, g72x_state* state) {
    if (coding != kG72xLinearCoding) return -1;
    // The 16-bit sample to the 14-bit range the algorithm works in.
    const int16_t sl = static_cast<int16_t>(std::clamp(sample, -32768, 32767) >> 2);
    const Estimate e = Predict(state);
    const int16_t d = static_cast<int16_t>(sl - e.se);
    const int y = step_size(state);
    int i = quantize(d, y, r.levels, r.levelCount);
    // The two-bit quantizer yields three levels; a small non-negative
    // difference takes the fourth code.
    if (r.bits == 2 && i == 3 && d >= 0) i = 0;
    Reconstruct(r, i, y, e, state);
    return i;
}

int Decode(const Rate& r, int code, int coding, g72x_state* state) {
    if (coding != kG72xLinearCoding) return -1;
    const int i = code & ((1 << r.bits) - 1);
    const Estimate e = Predict(state);
    const int y = step_size(state);
    const int16_t sr = Reconstruct(r, i, y, e, state);
    // Back from 14 bits; a loud estimate can reach beyond 16 bits.
    return std::clamp(sr * 4, -32768, 32767);
}

// The 4.6 floating form of a magnitude: exponent in bits 6-9, six mantissa
// bits, and -0x400 for a negative sign.
int16_t FloatForm(int magnitude, bool negative) {
    const int exp = BitLength(magnitude);
    const int value = (exp << 6) + ((magnitude << 6) >> exp);
    return static_cast<int16_t>(negative ? value - 0x400 : value);
}

}  // namespace

void g72x_init_state(g72x_state* state) {
    state->yl = 34816;
    state->yu = 544;
    state->dms = 0;
    state->dml = 0;
    state->ap = 0;
    for (int16_t& a : state->a) a = 0;
    for (int16_t& b : state->b) b = 0;
    for (int16_t& p : state->pk) p = 0;
    for (int16_t& d : state->dq) d = 32;
    for (int16_t& s : state->sr) s = 32;
    state->td = 0;
}

int quan(int val, const int16_t* table, int size) {
    int i = 0;
    while (i < size && val >= table[i]) ++i;
    return i;
}

int fmult(int an, int srn) {
    const int anmag = an > 0 ? an : ((-an) & 0x1FFF);
    const int anexp = BitLength(anmag) - 6;
    const int anmant = anmag == 0 ? 32 : (anexp >= 0 ? anmag >> anexp : anmag << -anexp);
    const int wanexp = anexp + ((srn >> 6) & 0xF) - 13;
    const int wanmant = (anmant * (srn & 0x3F) + 0x30) >> 4;
    const int product = wanexp >= 0 ? ((wanmant << wanexp) & 0x7FFF) : (wanmant >> -wanexp);
    return (an ^ srn) < 0 ? -product : product;
}

int predictor_zero(const g72x_state* state) {
    int sezi = 0;
    for (int i = 0; i < 6; ++i) sezi += fmult(state->b[i] >> 2, state->dq[i]);
    return sezi;
}

int predictor_pole(const g72x_state* state) {
    return fmult(state->a[1] >> 2, state->sr[1]) + fmult(state->a[0] >> 2, state->sr[0]);
}

int step_size(const g72x_state* state) {
    if (state->ap >= 256) return state->yu;
    int y = state->yl >> 6;
    const int dif = state->yu - y;
    const int al = state->ap >> 2;
    if (dif > 0)
        y += (dif * al) >> 6;
    else if (dif < 0)
        y += (dif * al + 0x3F) >> 6;
    return y;
}

int quantize(int d, int y, const int16_t* table, int size) {
    // LOG: log2|d| as a 4-bit exponent and a 7-bit mantissa.
    const int dqm = std::abs(d);
    const int exp = BitLength(dqm >> 1);
    const int mant = ((dqm << 7) >> exp) & 0x7F;
    const int dl = (exp << 7) + mant;
    // SUBTB: normalised by the scale factor; QUAN: the magnitude's interval.
    const int dln = dl - (y >> 2);
    const int i = quan(dln, table, size);
    if (d < 0) return (size << 1) + 1 - i;
    if (i == 0) return (size << 1) + 1;
    return i;
}

int reconstruct(int sign, int dqln, int y) {
    const int dql = dqln + (y >> 2);
    if (dql < 0) return sign ? -0x8000 : 0;
    // ANTILOG
    const int dex = (dql >> 7) & 15;
    const int dqt = 128 + (dql & 127);
    const int dq = (dqt << 7) >> (14 - dex);
    return sign ? dq - 0x8000 : dq;
}

void update(int code_size, int y, int wi, int fi, int dq, int sr, int dqsez, g72x_state* state) {
    const int16_t pk0 = dqsez < 0 ? 1 : 0;
    const int mag = dq & 0x7FFF;

    // TRANS: a large difference after a detected tone is a transition.
    const int ylint = state->yl >> 15;
    const int ylfrac = (state->yl >> 10) & 0x1F;
    const int thr1 = (32 + ylfrac) << ylint;
    const int thr2 = ylint > 9 ? 31 << 10 : thr1;
    const int dqthr = (thr2 + (thr2 >> 1)) >> 1;
    const bool tr = state->td != 0 && mag > dqthr;

    // FUNCTW, FILTD, LIMB: the fast scale factor; FILTE: the slow one.
    int yu = y + ((wi - y) >> 5);
    yu = std::clamp(yu, 544, 5120);
    state->yu = static_cast<int16_t>(yu);
    state->yl += yu + ((-state->yl) >> 6);

    int a2p = 0;
    if (tr) {
        // A transition resets the predictor.
        state->a[0] = state->a[1] = 0;
        for (int16_t& b : state->b) b = 0;
    } else {
        const int pks1 = pk0 ^ state->pk[0];
        // UPA2: the second pole coefficient.
        a2p = state->a[1] - (state->a[1] >> 7);
        if (dqsez != 0) {
            const int fa1 = pks1 ? state->a[0] : -state->a[0];
            if (fa1 < -8191)
                a2p -= 0x100;
            else if (fa1 > 8191)
                a2p += 0xFF;
            else
                a2p += fa1 >> 5;
            // LIMC
            if (pk0 ^ state->pk[1]) {
                if (a2p <= -12160)
                    a2p = -12288;
                else if (a2p >= 12416)
                    a2p = 12288;
                else
                    a2p -= 0x80;
            } else if (a2p <= -12416) {
                a2p = -12288;
            } else if (a2p >= 12160) {
                a2p = 12288;
            } else {
                a2p += 0x80;
            }
        }
        state->a[1] = static_cast<int16_t>(a2p);

        // UPA1 and LIMD: the first pole coefficient.
        int a1 = state->a[0] - (state->a[0] >> 8);
        if (dqsez != 0) a1 += pks1 == 0 ? 192 : -192;
        const int a1ul = 15360 - a2p;
        a1 = std::clamp(a1, -a1ul, a1ul);
        state->a[0] = static_cast<int16_t>(a1);

        // UPB: the zero coefficients; the 40 kbit/s coder leaks more slowly.
        const int leak = code_size == 5 ? 9 : 8;
        for (int k = 0; k < 6; ++k) {
            int b = state->b[k] - (state->b[k] >> leak);
            if (mag) b += (dq ^ state->dq[k]) >= 0 ? 128 : -128;
            state->b[k] = static_cast<int16_t>(b);
        }
    }

    // FLOAT A and the difference delay line.
    for (int k = 5; k > 0; --k) state->dq[k] = state->dq[k - 1];
    const bool dqNegative = dq < 0;
    state->dq[0] = mag == 0 ? static_cast<int16_t>(dqNegative ? -992 : 32)
                            : FloatForm(mag, dqNegative);

    // FLOAT B and the signal delay line.
    state->sr[1] = state->sr[0];
    if (sr == 0)
        state->sr[0] = 32;
    else if (sr > 0)
        state->sr[0] = FloatForm(sr, false);
    else if (sr > -32768)
        state->sr[0] = FloatForm(-sr, true);
    else
        state->sr[0] = -992;

    state->pk[1] = state->pk[0];
    state->pk[0] = pk0;

    // TONE: a strongly negative second pole coefficient suggests a tone.
    if (tr)
        state->td = 0;
    else
        state->td = a2p < -11776 ? 1 : 0;

    // FILTA, FILTB, SUBTC, FILTC: the adaptation speed control.
    state->dms = static_cast<int16_t>(state->dms + ((fi - state->dms) >> 5));
    state->dml = static_cast<int16_t>(state->dml + (((fi << 2) - state->dml) >> 7));
    if (tr)
        state->ap = 256;
    else if (y < 1536 || state->td == 1 ||
             std::abs((state->dms << 2) - state->dml) >= (state->dml >> 3))
        state->ap = static_cast<int16_t>(state->ap + ((0x200 - state->ap) >> 4));
    else
        state->ap = static_cast<int16_t>(state->ap + ((-state->ap) >> 4));
}

int g723_16_encoder(int sample, int coding, g72x_state* state) {
    return Encode(kRate16, sample, coding, state);
}
int g723_24_encoder(int sample, int coding, g72x_state* state) {
    return Encode(kRate24, sample, coding, state);
}
int g721_encoder(int sample, int coding, g72x_state* state) {
    return Encode(kRate32, sample, coding, state);
}
int g723_40_encoder(int sample, int coding, g72x_state* state) {
    return Encode(kRate40, sample, coding, state);
}

int g723_16_decoder(int code, int coding, g72x_state* state) {
    return Decode(kRate16, code, coding, state);
}
int g723_24_decoder(int code, int coding, g72x_state* state) {
    return Decode(kRate24, code, coding, state);
}
int g721_decoder(int code, int coding, g72x_state* state) {
    return Decode(kRate32, code, coding, state);
}
int g723_40_decoder(int code, int coding, g72x_state* state) {
    return Decode(kRate40, code, coding, state);
}
