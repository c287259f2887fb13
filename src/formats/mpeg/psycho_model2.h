// Psychoacoustic model 2 of the MPEG encoder: per frame and channel the
// signal-to-mask ratio of each of the 32 subbands, from a 1024-point FFT of a
// Hann-windowed block, the unpredictability of each line against the two
// blocks before, spread and tonality-weighted masking and the threshold in
// quiet. One object per encoding holds all of its state.
#pragma once

#include <cstdint>

#include "formats/mpeg/mpeg_bitstream.h"
#include "formats/mpeg/mpeg_tables.h"

namespace mpeg {

inline constexpr int BLKSIZE = 1024;
inline constexpr int kPsyHistory = 1344;  // samples of a channel's history (1056 used)

// In-place radix-2 FFT of size 1024 or 256: on return `energy` and `phi` hold
// the power and phase of each line in natural order (lines below N/2 have a
// power of at least 0.0005). Twiddle factors are shared by all callers.
void fft(float x_real[], float x_imag[], float energy[], float phi[], int N);

class PsychoModel2 {
public:
    explicit PsychoModel2(MPEGErrors* errors) : errors_(errors) {}
    PsychoModel2(const PsychoModel2&) = delete;
    PsychoModel2& operator=(const PsychoModel2&) = delete;
    ~PsychoModel2();

    // SMRs in dB of the 32 subbands for one channel's frame: `buffer` holds its
    // new samples (448 for Layer I, 1152 for Layer II), `savebuf` its history,
    // kept by the caller between frames. Returns at once when an allocation
    // failed (the memory flag is then set).
    void psycho_anal(const int16_t* buffer, int16_t savebuf[kPsyHistory], int chn, int lay,
                     float snr32[SBLIMIT], double sfreq);

    // Cleared at the start of every file: the first call rebuilds all derived tables.
    bool gPsyInitDone = false;
    // Threshold table in use (0 32 kHz, 1 44.1 kHz, 2 48 kHz); other rates keep it.
    int sfreq_idx = 0;

    struct Work;
    // The work arrays (null before the first call); for tests.
    const Work* work() const { return work_; }

private:
    void Initialise(int lay, double sfreq);

    MPEGErrors* errors_;
    Work* work_ = nullptr;
    int neww_ = 0, old_ = 0, oldest_ = 0;
    int flush_ = 0, syncsize_ = 0, sync_flush_ = 0;
    int partitions_ = 0;
    // Each spreading row's first and one-past-last non-zero column.
    int spreadFirst_[CBANDS] = {};
    int spreadEnd_[CBANDS] = {};
};

struct PsychoModel2::Work {
    float wsamp_r[BLKSIZE], wsamp_i[BLKSIZE], energy[BLKSIZE], phi[BLKSIZE], window[BLKSIZE];
    float c[HBLKSIZE], fthr[HBLKSIZE], absthr[HBLKSIZE];
    int partition[HBLKSIZE];
    float grouped_c[CBANDS], grouped_e[CBANDS], nb[CBANDS], cb[CBANDS], ecb[CBANDS], bc[CBANDS];
    float cbval[CBANDS], rnorm[CBANDS];
    int numlines[CBANDS];
    double tmn[CBANDS];
    float s[CBANDS][CBANDS];
    float snrtmp[2][SBLIMIT];
    float lthr[2][HBLKSIZE];
    // Per channel and stored block: each line's magnitude and its phase as a
    // unit phasor (cos, sin).
    float r[2][2][HBLKSIZE], phi_cos[2][2][HBLKSIZE], phi_sin[2][2][HBLKSIZE];
};

}  // namespace mpeg
