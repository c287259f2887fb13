#include "formats/mpeg/psycho_model2.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>

namespace mpeg {

namespace {

// Starting value of the previous thresholds of Layer I's pre-echo control, and
// the cap of the smallest line threshold of the low subband groups.
constexpr float kThresholdCeiling = 60802371420160.0f;
constexpr float kEnergyFloor = 0.0005f;
constexpr double kPartitionStep = 0.33;  // bark width of a threshold partition
constexpr float kLthrFactor = 32.0f;     // Layer I: this threshold may rise 15 dB per block
constexpr float kPreEchoFloor = 0.00316f;
constexpr double kNoiseMaskingTone = 5.5;
constexpr double kDbToNeper = 0.2302585093;  // ln(10) / 10

// The twiddle factors and bit-reversal orders of the two FFT sizes, built once
// for the whole process.
struct FFTTables {
    double w_real[2][10];  // by size (0: 1024, 1: 256), stage (L = N, N/2, ..., 2)
    double w_imag[2][10];
    // The running twiddle u of each offset j of each stage, as the butterflies
    // use it (single precision): ur[size][stage][j], j < L/2.
    float ur[2][10][512];
    float ui[2][10][512];
    int reversed1024[1024];
    int reversed256[256];
};

const FFTTables& SharedFFTTables() {
    static FFTTables tables;
    static std::once_flag once;
    std::call_once(once, [] {
        for (int size = 0; size < 2; ++size) {
            const int n = size == 0 ? 1024 : 256;
            int stage = 0;
            for (int L = n; L >= 2; L >>= 1, ++stage) {
                const double wr = std::cos(std::numbers::pi / (L / 2));
                const double wi = -std::sin(std::numbers::pi / (L / 2));
                tables.w_real[size][stage] = wr;
                tables.w_imag[size][stage] = wi;
                double ur = 1.0, ui = 0.0;
                for (int j = 0; j < L / 2; ++j) {
                    tables.ur[size][stage][j] = static_cast<float>(ur);
                    tables.ui[size][stage][j] = static_cast<float>(ui);
                    const double next = ur * wr - ui * wi;
                    ui = ur * wi + ui * wr;
                    ur = next;
                }
            }
        }
        auto reverse = [](int i, int bits) {
            int r = 0;
            for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
            return r;
        };
        for (int i = 0; i < 1024; ++i) tables.reversed1024[i] = reverse(i, 10);
        for (int i = 0; i < 256; ++i) tables.reversed256[i] = reverse(i, 8);
    });
    return tables;
}

void Reorder(float* v, const int* reversed, int n) {
    for (int i = 0; i < n; ++i) {
        const int j = reversed[i];
        if (j > i) std::swap(v[i], v[j]);
    }
}

// One block's butterflies: pairs (j, j + half), the difference turned by the
// stage's twiddle u[j].
inline void Butterflies(float* __restrict ar, float* __restrict ai, const float* __restrict ur,
                        const float* __restrict ui, int half) {
    float* __restrict br = ar + half;
    float* __restrict bi = ai + half;
    for (int j = 0; j < half; ++j) {
        const float tr = ar[j] - br[j];
        const float ti = ai[j] - bi[j];
        ar[j] += br[j];
        ai[j] += bi[j];
        br[j] = tr * ur[j] - ti * ui[j];
        bi[j] = tr * ui[j] + ti * ur[j];
    }
}

// The same for every block of a short stage, its block loop unrolled.
template <int Half>
void Butterflies(float* x_real, float* x_imag, const float* ur, const float* ui, int N) {
    for (int base = 0; base < N; base += 2 * Half) {
        float* ar = x_real + base;
        float* ai = x_imag + base;
        for (int j = 0; j < Half; ++j) {
            const float tr = ar[j] - ar[j + Half];
            const float ti = ai[j] - ai[j + Half];
            ar[j] += ar[j + Half];
            ai[j] += ai[j + Half];
            ar[j + Half] = tr * ur[j] - ti * ui[j];
            ai[j + Half] = tr * ui[j] + ti * ur[j];
        }
    }
}

// The FFT of `fft`; without phases when kPhase is false (phi is then unused).
template <bool kPhase>
void Transform(float x_real[], float x_imag[], float energy[], float phi[], int N) {
    if (N != 1024 && N != 256) return;
    const FFTTables& t = SharedFFTTables();
    const int size = N == 1024 ? 0 : 1;
    int stage = 0;
    for (int L = N; L > 2; L >>= 1, ++stage) {
        const int half = L / 2;
        const float* ur = t.ur[size][stage];
        const float* ui = t.ui[size][stage];
        if (half == 2) {
            Butterflies<2>(x_real, x_imag, ur, ui, N);
        } else if (half == 4) {
            Butterflies<4>(x_real, x_imag, ur, ui, N);
        } else {
            for (int base = 0; base < N; base += L)
                Butterflies(x_real + base, x_imag + base, ur, ui, half);
        }
    }
    for (int i = 0; i < N; i += 2) {
        const float ar = x_real[i], ai = x_imag[i];
        x_real[i] = ar + x_real[i + 1];
        x_imag[i] = ai + x_imag[i + 1];
        x_real[i + 1] = ar - x_real[i + 1];
        x_imag[i + 1] = ai - x_imag[i + 1];
        // Position i lands on a line below N/2, position i + 1 on one above.
        energy[i] = x_real[i] * x_real[i] + x_imag[i] * x_imag[i];
        energy[i + 1] = x_real[i + 1] * x_real[i + 1] + x_imag[i + 1] * x_imag[i + 1];
        if constexpr (kPhase) {
            phi[i] = energy[i] <= kEnergyFloor ? 0.0f : std::atan2(x_imag[i], x_real[i]);
            phi[i + 1] = energy[i + 1] == 0 ? 0.0f : std::atan2(x_imag[i + 1], x_real[i + 1]);
        }
        if (energy[i] <= kEnergyFloor) energy[i] = kEnergyFloor;
    }
    const int* reversed = N == 1024 ? t.reversed1024 : t.reversed256;
    Reorder(x_real, reversed, N);
    Reorder(x_imag, reversed, N);
    Reorder(energy, reversed, N);
    if constexpr (kPhase) Reorder(phi, reversed, N);
}

}  // namespace

void fft(float x_real[], float x_imag[], float energy[], float phi[], int N) {
    Transform<true>(x_real, x_imag, energy, phi, N);
}

PsychoModel2::~PsychoModel2() {
    void* block = work_;
    errors_->mem_free(&block);
    work_ = nullptr;
}

void PsychoModel2::Initialise(int lay, double sfreq) {
    neww_ = old_ = oldest_ = 0;
    if (!work_) work_ = static_cast<Work*>(errors_->mem_alloc(sizeof(Work), "psycho work"));
    if (errors_->gMPEGMemErr || !work_) return;
    Work& w = *work_;

    const long rate = std::lround(sfreq);
    if (rate == 48000) sfreq_idx = 2;
    else if (rate == 44100) sfreq_idx = 1;
    else if (rate == 32000) sfreq_idx = 0;
    const float* table = sfreq_idx == 2 ? absthr_2 : sfreq_idx == 1 ? absthr_1 : absthr_0;
    std::copy(table + 1, table + 1 + HBLKSIZE, w.absthr);

    if (lay == 1) {
        flush_ = 384, syncsize_ = 1024, sync_flush_ = 576;
    } else {
        flush_ = 576, syncsize_ = 1056, sync_flush_ = 480;
    }
    for (int i = 0; i < BLKSIZE; ++i)
        w.window[i] = static_cast<float>(
            0.5 * (1 - std::cos(2.0 * std::numbers::pi * (i - 0.5) / BLKSIZE)));

    for (int ch = 0; ch < 2; ++ch) {
        for (int b = 0; b < 2; ++b)
            for (int j = 0; j < HBLKSIZE; ++j) {
                w.r[ch][b][j] = 0;
                w.phi_cos[ch][b][j] = 1;  // phase 0
                w.phi_sin[ch][b][j] = 0;
            }
        std::fill(w.lthr[ch], w.lthr[ch] + HBLKSIZE, kThresholdCeiling);
    }

    // Fractional critical-band number of each line.
    for (int i = 0; i < HBLKSIZE; ++i) {
        const double f = i * sfreq / BLKSIZE;
        int j = 0;
        while (j < 25 && f > crit_band[j + 1]) ++j;
        w.fthr[i] = static_cast<float>(j + (f - crit_band[j]) / (crit_band[j + 1] - crit_band[j]));
    }

    // Partitions of about a third of a critical band.
    int p = 0;
    int lines = 1;
    float first = w.fthr[0];
    double sum = w.fthr[0];
    w.partition[0] = 0;
    for (int i = 1; i < HBLKSIZE; ++i) {
        if (w.fthr[i] - first > kPartitionStep && p + 1 < CBANDS) {
            w.cbval[p] = static_cast<float>(sum / lines);
            w.numlines[p] = lines;
            ++p;
            first = w.fthr[i];
            sum = w.fthr[i];
            lines = 1;
        } else {
            sum += w.fthr[i];
            ++lines;
        }
        w.partition[i] = p;
    }
    w.cbval[p] = static_cast<float>(sum / lines);
    w.numlines[p] = lines;
    partitions_ = p + 1;

    // Spreading of masker k onto partition j.
    for (int j = 0; j < partitions_; ++j) {
        for (int k = 0; k < partitions_; ++k) {
            const double t = (static_cast<double>(w.cbval[j]) - w.cbval[k]) * 1.05;
            double x = 0;
            if (t >= 0.5 && t <= 2.5) x = 8.0 * ((t - 0.5) * (t - 0.5) - 2.0 * (t - 0.5));
            const double tp = t + 0.474;
            const double y = 15.811389 + 7.5 * tp - 17.5 * std::sqrt(1.0 + tp * tp);
            w.s[j][k] = y <= -100.0 ? 0.0f : static_cast<float>(std::exp((x + y) * kDbToNeper));
        }
    }
    for (int j = 0; j < partitions_; ++j) {
        int first = 0, end = 0;
        for (int k = 0; k < partitions_; ++k)
            if (w.s[j][k] != 0) {
                if (end == 0) first = k;
                end = k + 1;
            }
        spreadFirst_[j] = first;
        spreadEnd_[j] = end;
    }
    for (int j = 0; j < partitions_; ++j) {
        w.tmn[j] = std::max(15.5 + w.cbval[j], 24.5);
        double row = 0;
        for (int k = 0; k < partitions_; ++k) row += w.s[j][k];
        w.rnorm[j] = static_cast<float>(row);
    }
    gPsyInitDone = true;
}

void PsychoModel2::psycho_anal(const int16_t* buffer, int16_t savebuf[kPsyHistory], int chn,
                               int lay, float snr32[SBLIMIT], double sfreq) {
    if (errors_->gMPEGMemErr) return;
    if (!gPsyInitDone) {
        Initialise(lay, sfreq);
        if (!gPsyInitDone) return;
    }
    Work& w = *work_;
    chn &= 1;
    const int granules = lay == 1 ? 1 : 2;
    for (int gr = 0; gr < granules; ++gr) {
        for (int k = 0; k < sync_flush_; ++k) savebuf[k] = savebuf[k + flush_];
        for (int k = sync_flush_; k < syncsize_; ++k) savebuf[k] = *buffer++;
        for (int k = 0; k < BLKSIZE; ++k) {
            w.wsamp_r[k] = w.window[k] * savebuf[k];
            w.wsamp_i[k] = 0;
        }
        // The lines' phases are carried as unit phasors (cos, sin): the
        // prediction 2 phi(prev) - phi(oldest) is then a product of phasors.
        // Floored lines (and an empty line at half the rate) have phase 0.
        Transform<false>(w.wsamp_r, w.wsamp_i, w.energy, nullptr, BLKSIZE);

        if (lay != 1 || chn == 0) {
            neww_ = oldest_ = 1 - neww_;
            old_ = 1 - old_;
        }
        const int prev = 1 - old_;
        float* __restrict rNew = w.r[chn][neww_];
        const float* rPrev = w.r[chn][prev];
        const float* rOldest = w.r[chn][oldest_];
        float* __restrict cosNew = w.phi_cos[chn][neww_];
        float* __restrict sinNew = w.phi_sin[chn][neww_];
        const float* cosPrev = w.phi_cos[chn][prev];
        const float* sinPrev = w.phi_sin[chn][prev];
        const float* cosOldest = w.phi_cos[chn][oldest_];
        const float* sinOldest = w.phi_sin[chn][oldest_];
        const float* __restrict re = w.wsamp_r;
        const float* __restrict im = w.wsamp_i;
        for (int j = 0; j < HBLKSIZE; ++j) {
            const float r_prime = 2 * rPrev[j] - rOldest[j];
            const float ca = cosPrev[j], sa = sinPrev[j], cb = cosOldest[j], sb = sinOldest[j];
            const float c2 = ca * ca - sa * sa, s2 = 2 * ca * sa;
            const float cosPrime = c2 * cb + s2 * sb;
            const float sinPrime = s2 * cb - c2 * sb;
            const float raw = re[j] * re[j] + im[j] * im[j];
            const float limit = j < HBLKSIZE - 1 ? kEnergyFloor : 0.0f;
            const bool phased = raw > limit;
            const float magnitude = std::sqrt(phased ? raw : 1.0f);
            const float c = phased ? re[j] / magnitude : 1.0f;
            const float s = phased ? im[j] / magnitude : 0.0f;
            const float r = std::sqrt(w.energy[j]);
            rNew[j] = r;
            cosNew[j] = c;
            sinNew[j] = s;
            const float t1 = r * c - r_prime * cosPrime;
            const float t2 = r * s - r_prime * sinPrime;
            const float t3 = r + std::fabs(r_prime);
            // With t3 = 0 both magnitudes are 0, and so is the numerator.
            w.c[j] = std::sqrt(t1 * t1 + t2 * t2) / (t3 != 0 ? t3 : 1.0f);
        }

        std::fill(w.grouped_e, w.grouped_e + partitions_, 0.0f);
        std::fill(w.grouped_c, w.grouped_c + partitions_, 0.0f);
        for (int j = 0; j < HBLKSIZE; ++j) {
            w.grouped_e[w.partition[j]] += w.energy[j];
            w.grouped_c[w.partition[j]] += w.energy[j] * w.c[j];
        }

        for (int j = 0; j < partitions_; ++j) {
            double ecb = 0, cb = 0;
            const float* row = w.s[j];
            for (int k = spreadFirst_[j]; k < spreadEnd_[j]; ++k) {  // the row's non-zero entries
                ecb += row[k] * w.grouped_e[k];
                cb += row[k] * w.grouped_c[k];
            }
            w.ecb[j] = static_cast<float>(ecb);
            w.cb[j] = ecb != 0 ? static_cast<float>(cb / ecb) : 0.0f;
        }

        for (int j = 0; j < partitions_; ++j) {
            const double cb = std::clamp(static_cast<double>(w.cb[j]), 0.05, 0.5);
            const double tb = -0.434294482 * std::log(cb) - 0.301029996;
            w.cb[j] = static_cast<float>(tb);
            double bc = w.tmn[j] * tb + kNoiseMaskingTone * (1.0 - tb);
            const int band = std::clamp(static_cast<int>(w.cbval[j] + 0.5), 0, 26);
            bc = std::max(bc, bmax[band]);
            w.bc[j] = static_cast<float>(std::exp(-bc * kDbToNeper));
        }

        for (int j = 0; j < partitions_; ++j) {
            const double denominator = static_cast<double>(w.rnorm[j]) * w.numlines[j];
            w.nb[j] = w.ecb[j] != 0 && denominator != 0
                          ? static_cast<float>(w.ecb[j] * static_cast<double>(w.bc[j]) / denominator)
                          : 0.0f;
        }

        float* lthr = w.lthr[chn];
        for (int j = 0; j < HBLKSIZE; ++j) {
            const float t = std::max(w.nb[w.partition[j]], w.absthr[j]);
            if (lay == 1)
                w.fthr[j] = std::max(std::min(t, lthr[j]), kPreEchoFloor * t);
            else
                w.fthr[j] = t;
            lthr[j] = kLthrFactor * t;
        }

        // Subband SMRs over 17 lines each; the low groups against their
        // smallest line threshold, the high ones against the mean.
        for (int j = 0; j < 13; ++j) {
            double sumEnergy = 0;
            float minthres = kThresholdCeiling;
            for (int k = 16 * j; k <= 16 * j + 16; ++k) {
                sumEnergy += w.energy[k];
                minthres = std::min(minthres, w.fthr[k]);
            }
            w.snrtmp[gr][j] =
                static_cast<float>(4.342944819 * std::log(sumEnergy / (17.0 * minthres)));
        }
        for (int j = 13; j < SBLIMIT; ++j) {
            double sumEnergy = 0, sumThreshold = 0;
            for (int k = 16 * j; k <= 16 * j + 16; ++k) {
                sumEnergy += w.energy[k];
                sumThreshold += w.fthr[k];
            }
            w.snrtmp[gr][j] = static_cast<float>(4.342944819 * std::log(sumEnergy / sumThreshold));
        }
    }
    for (int i = 0; i < SBLIMIT; ++i)
        snr32[i] = lay == 1 ? w.snrtmp[0][i] : std::max(w.snrtmp[0][i], w.snrtmp[1][i]);
}

}  // namespace mpeg
