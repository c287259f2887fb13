#include "formats/mpeg/mpeg_subband.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

namespace mpeg {

namespace {

// The analysis matrix, each coefficient rounded to nine decimals, built once.
// Its columns come in pairs, equal (k and 32 - k) or opposite (k and 96 - k),
// and column 48 is zero: the product folds the 64 window sums into 32 first and
// runs over the 32 distinct columns, stored column by column so that the 32
// subbands are computed side by side.
struct AnalysisMatrix {
    double m[SBLIMIT][64];
    double folded[32][SBLIMIT];  // [column][subband]: columns 0..16, then 33..47
    bool foldable = true;
};

const AnalysisMatrix& SharedMatrix() {
    static AnalysisMatrix matrix;
    static std::once_flag once;
    std::call_once(once, [] {
        constexpr double kPi = 3.14159265358979;
        for (int i = 0; i < SBLIMIT; ++i)
            for (int k = 0; k < 64; ++k)
                matrix.m[i][k] =
                    std::round(std::cos((2 * i + 1) * (16 - k) * kPi / 64) * 1e9) * 1e-9;
        for (int i = 0; i < SBLIMIT; ++i) {
            for (int k = 0; k < 16; ++k) matrix.foldable &= matrix.m[i][k] == matrix.m[i][32 - k];
            for (int k = 33; k < 48; ++k) matrix.foldable &= matrix.m[i][k] == -matrix.m[i][96 - k];
            matrix.foldable &= matrix.m[i][48] == 0;
            for (int c = 0; c < 17; ++c) matrix.folded[c][i] = matrix.m[i][c];
            for (int c = 17; c < 32; ++c) matrix.folded[c][i] = matrix.m[i][c + 16];
        }
    });
    return matrix;
}

}  // namespace

uint32_t read_samples(SampleInput& input, const int16_t*& samples, uint32_t frame_size) {
    const uint32_t n = std::min(input.read_samples, frame_size);
    samples = input.next;
    input.next += n;
    input.read_samples -= n;
    return n;
}

uint32_t get_audio(SampleInput& input, int16_t (&buffer)[2][kMaxFrameSamples], int stereo,
                   const layer& info) {
    const int lay = info.lay;
    const uint32_t perChannel = lay == 1 ? 384 : 1152;
    const uint32_t wanted = perChannel * static_cast<uint32_t>(stereo);
    const int16_t* samples = nullptr;
    const uint32_t got = read_samples(input, samples, wanted);
    if (got == 0) return 0;
    const int base = lay == 1 ? 64 : 0;
    if (lay == 1)  // the previous frame's last 64 samples lead this one
        for (int ch = 0; ch < 2; ++ch) std::memmove(buffer[ch], buffer[ch] + 384, 64 * 2);
    const uint32_t frames = got / static_cast<uint32_t>(stereo);
    for (uint32_t i = 0; i < frames; ++i)
        for (int ch = 0; ch < stereo; ++ch) buffer[ch][base + i] = samples[i * stereo + ch];
    if (frames < perChannel)
        for (int ch = 0; ch < 2; ++ch)
            std::fill(buffer[ch] + base + frames, buffer[ch] + base + perChannel, 0);
    return wanted;
}

void window_subband(const int16_t* samples, SubbandFilter& filter, double (&z)[HAN_SIZE]) {
    double* x = filter.x;
    const int off = filter.off;
    for (int i = 0; i < 32; ++i) x[off + 31 - i] = samples[i] / 32768.0;
    const int wrap = HAN_SIZE - off;
    for (int i = 0; i < wrap; ++i) z[i] = x[i + off] * enwindow[i];
    for (int i = wrap; i < HAN_SIZE; ++i) z[i] = x[i - wrap] * enwindow[i];
    filter.off = (off + 480) & (HAN_SIZE - 1);
}

void filter_subband(const double (&z)[HAN_SIZE], double (&s)[SBLIMIT]) {
    double y[64] = {};
    for (int k = 0; k < 8; ++k)
        for (int i = 0; i < 64; ++i) y[i] += z[i + 64 * k];
    const AnalysisMatrix& m = SharedMatrix();
    if (!m.foldable) {
        for (int i = 0; i < SBLIMIT; ++i) {
            double sum = 0;
            for (int k = 0; k < 64; ++k) sum += m.m[i][k] * y[k];
            s[i] = sum;
        }
        return;
    }
    double f[32];
    for (int k = 0; k < 16; ++k) f[k] = y[k] + y[32 - k];
    f[16] = y[16];
    for (int k = 33; k < 48; ++k) f[k - 16] = y[k] - y[96 - k];
    double acc[SBLIMIT] = {};
    for (int c = 0; c < 32; ++c) {
        const double v = f[c];
        const double* column = m.folded[c];
        for (int i = 0; i < SBLIMIT; ++i) acc[i] += column[i] * v;
    }
    for (int i = 0; i < SBLIMIT; ++i) s[i] = acc[i];
}

}  // namespace mpeg
