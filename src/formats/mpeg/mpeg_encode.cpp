#include "formats/mpeg/mpeg_encode.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "foundation/xwqf.h"

namespace mpeg {

namespace {

constexpr int kJoint = 1;

// Signal-to-noise ratios in dB: Layer II by quantisation class + 1, Layer I by
// allocation index.
constexpr double kSnrII[18] = {0.00,  7.00,  11.00, 16.00, 20.84, 25.28, 31.59, 37.75, 43.84,
                               49.89, 55.93, 61.96, 67.98, 74.01, 80.03, 86.05, 92.01, 98.01};
constexpr double kSnrI[16] = {0.00,  7.00,  16.00, 25.28, 31.59, 37.75, 43.84, 49.89,
                              55.93, 61.96, 67.98, 74.01, 80.03, 86.05, 92.01, 98.01};
// Scale factors sent per selection value.
constexpr int sfsPerScfsi[4] = {3, 2, 1, 2};
// Scale-factor selection by the classes of the two index differences.
constexpr int pattern[5][5] = {{0x123, 0x122, 0x122, 0x133, 0x123},
                               {0x113, 0x111, 0x111, 0x444, 0x113},
                               {0x111, 0x111, 0x111, 0x333, 0x113},
                               {0x222, 0x222, 0x222, 0x333, 0x123},
                               {0x123, 0x122, 0x122, 0x133, 0x123}};

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
                matrix.m[i][k] = std::round(std::cos((2 * i + 1) * (16 - k) * kPi / 64) * 1e9) * 1e-9;
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

// Scale-factor index of a largest magnitude: the largest j with multiple[j] >= m.
unsigned ScaleIndex(double m) {
    for (int j = SCALE_RANGE - 2; j >= 0; --j)
        if (multiple[j] >= m) return static_cast<unsigned>(j);
    return 0;
}

int DifferenceClass(int d) {
    if (d <= -3) return 0;
    if (d < 0) return 1;
    if (d == 0) return 2;
    if (d < 3) return 3;
    return 4;
}

}  // namespace

struct MPEGStreamEncoder::Work {
    int16_t buffer[2][1152];
    int16_t savebuf[2][kPsyHistory];
    double x[2][HAN_SIZE];
    int off[2];
    double sb_sample[2][3][12][SBLIMIT];
    double j_sample[3][12][SBLIMIT];
    unsigned scalar[2][3][SBLIMIT];
    unsigned j_scale[3][SBLIMIT];
    unsigned scfsi[2][SBLIMIT];
    double max_sc[2][SBLIMIT];
    double ltmin[2][SBLIMIT];
    unsigned bit_alloc[2][SBLIMIT];
    unsigned sbband[2][3][12][SBLIMIT];
    double snr[18];
    double a[17], b[17];
};

int BitRateIndexFor(int version, int lay, int kbps) {
    if (lay < 1 || lay > 3) return 14;
    for (int i = 1; i < 15; ++i)
        if (bitrate[version & 1][lay - 1][i] == kbps) return i;
    return 14;
}

int CheckBitRate(int lay, int channels, int kbps) {
    if (lay == 1 && channels == 2 && kbps == 32) return kMPEGStereo32Err;
    if (lay == 2 && channels == 2 && (kbps < 57 || kbps == 80)) return kMPEGStereoBitRateErr;
    if (lay == 2 && channels == 1 && kbps >= 224) return kMPEGBitRateErr;
    return 0;
}

MPEGStreamEncoder::MPEGStreamEncoder() { (void)SharedMatrix(); }

MPEGStreamEncoder::~MPEGStreamEncoder() {
    void* block = work_;
    core_.errors.mem_free(&block);
}

int MPEGStreamEncoder::Status() const {
    if (core_.errors.gMPEGMemErr) return kMPEGMemErr;
    if (status_) return status_;
    if (core_.errors.gMPEGDiskErr) return kMPEGDiskErr;
    return 0;
}

int MPEGStreamEncoder::Begin(const std::string& path, const Settings& settings,
                             const std::string& prefix) {
    settings_ = settings;
    core_.errors.Clear();
    core_.psy.gPsyInitDone = false;
    status_ = 0;
    if (settings.lay < 1 || settings.lay > 2) return status_ = kMPEGBadHeaderErr;
    if (settings.channels < 1 || settings.channels > 2) return status_ = kMPEGChannelsErr;
    int version = -1;
    const int frequency = SmpFrqIndex(settings.sampleRate, &version);
    if (frequency < 0 || version != 1) return status_ = kMPEGBadSampleRateErr;
    const int index = BitRateIndexFor(1, settings.lay, settings.kbps);
    if (int err = CheckBitRate(settings.lay, settings.channels, bitrate[1][settings.lay - 1][index]))
        return status_ = err;

    layer& info = core_.info;
    info = layer{};
    info.version = 1;
    info.lay = settings.lay;
    info.bitrate_index = index;
    info.sampling_frequency = frequency;
    info.mode = settings.channels == 1 ? kMonoMode : settings.jointStereo ? kJoint : 0;

    if (!work_) work_ = static_cast<Work*>(core_.errors.mem_alloc(sizeof(Work), "work"));
    if (!work_) return Status();
    std::memset(work_, 0, sizeof(Work));
    if (int err = open_bit_stream_w(&core_.bs, path, 4096)) return status_ = err;
    core_.ReleaseTable();
    core_.fr_ps.sblimit = SBLIMIT;
    core_.hdr_to_frps(&core_.fr_ps);
    if (core_.errors.gMPEGMemErr) return Status();

    Work& w = *work_;
    if (settings.lay == 1) {
        std::copy(kSnrI, kSnrI + 16, w.snr);
        for (int n = 1; n <= 15; ++n) {
            w.b[n - 1] = -std::ldexp(1.0, -(n + 1));
            w.a[n - 1] = 1.0 + w.b[n - 1];
        }
    } else {
        std::copy(kSnrII, kSnrII + 18, w.snr);
        const double a4[4] = {0.75, 0.625, 0.875, 0.5625}, b4[4] = {-0.25, -0.375, -0.125, -0.4375};
        for (int c = 0; c < 17; ++c) {
            w.a[c] = c < 4 ? a4[c] : 1.0 - std::ldexp(1.0, -c);
            w.b[c] = c < 4 ? b4[c] : -std::ldexp(1.0, -c);
        }
    }
    samplesPerFrame_ = settings.lay == 1 ? 384 : 1152;
    bitsPerSlot_ = settings.lay == 1 ? 32 : 8;
    const double average = AverageSlotsPerFrame(info);
    whole_ = static_cast<int>(average);
    fraction_ = average - whole_;
    slotLag_ = -fraction_;
    filled_ = 0;
    consumed_ = 0;
    frames_ = 0;
    for (unsigned char c : prefix) putbits(&core_.bs, c, 8);
    lastTell_ = sstell(&core_.bs);
    lastHeader_ = info;
    begun_ = true;
    return Status();
}

int MPEGStreamEncoder::Encode(const int16_t* samples, uint32_t frames) {
    if (!begun_) return kFileNotOpenErr;
    if (int err = Status()) return err;
    Work& w = *work_;
    const int channels = settings_.channels;
    const int base = settings_.lay == 1 ? 64 : 0;
    while (frames > 0) {
        if (filled_ == 0 && settings_.lay == 1)  // the last 64 samples lead the next frame
            for (int ch = 0; ch < 2; ++ch) std::memmove(w.buffer[ch], w.buffer[ch] + 384, 64 * 2);
        const uint32_t n = std::min<uint32_t>(frames, samplesPerFrame_ - filled_);
        for (uint32_t i = 0; i < n; ++i)
            for (int ch = 0; ch < channels; ++ch)
                w.buffer[ch][base + filled_ + i] = samples[i * channels + ch];
        samples += static_cast<size_t>(n) * channels;
        frames -= n;
        filled_ += n;
        consumed_ += n;
        if (filled_ == static_cast<uint32_t>(samplesPerFrame_)) {
            filled_ = 0;
            if (int err = EncodeFrame()) return err;
            if (progress)
                if (int err = progress(consumed_)) return status_ = err;
        }
    }
    return Status();
}

int MPEGStreamEncoder::Finish() {
    if (!begun_) return Status();
    begun_ = false;
    if (Status() == 0 && filled_ > 0) {
        Work& w = *work_;
        const int base = settings_.lay == 1 ? 64 : 0;
        for (int ch = 0; ch < 2; ++ch)
            std::fill(w.buffer[ch] + base + filled_, w.buffer[ch] + base + samplesPerFrame_, 0);
        filled_ = 0;
        EncodeFrame();
    }
    close_bit_stream_w(&core_.bs);
    core_.ReleaseTable();
    return Status();
}

void MPEGStreamEncoder::WindowAndFilter(int ch, const int16_t* samples, double out[SBLIMIT]) {
    Work& w = *work_;
    double* x = w.x[ch];
    int& off = w.off[ch];
    for (int i = 0; i < 32; ++i) x[off + 31 - i] = samples[i] / 32768.0;
    double z[HAN_SIZE];
    const int wrap = HAN_SIZE - off;  // z[i] = x[(i + off) mod 512] x window[i]
    for (int i = 0; i < wrap; ++i) z[i] = x[i + off] * enwindow[i];
    for (int i = wrap; i < HAN_SIZE; ++i) z[i] = x[i - wrap] * enwindow[i];
    off = (off + 480) & (HAN_SIZE - 1);
    double y[64] = {};
    for (int k = 0; k < 8; ++k)
        for (int i = 0; i < 64; ++i) y[i] += z[i + 64 * k];
    const AnalysisMatrix& m = SharedMatrix();
    if (!m.foldable) {
        for (int i = 0; i < SBLIMIT; ++i) {
            double sum = 0;
            for (int k = 0; k < 64; ++k) sum += m.m[i][k] * y[k];
            out[i] = sum;
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
    for (int i = 0; i < SBLIMIT; ++i) out[i] = acc[i];
}

void MPEGStreamEncoder::ScaleFactors(double (*samples)[3][12][SBLIMIT],
                                     unsigned (*index)[3][SBLIMIT], int channels, int parts,
                                     int limit) {
    for (int ch = 0; ch < channels; ++ch)
        for (int p = 0; p < parts; ++p)
            for (int sb = 0; sb < SBLIMIT; ++sb) {
                if (sb >= limit) {
                    index[ch][p][sb] = SCALE_RANGE - 1;
                    continue;
                }
                double m = 0;
                for (int j = 0; j < 12; ++j) m = std::max(m, std::fabs(samples[ch][p][j][sb]));
                index[ch][p][sb] = ScaleIndex(m);
            }
}

void MPEGStreamEncoder::TransmissionPattern() {
    Work& w = *work_;
    const frame_params& f = core_.fr_ps;
    for (int ch = 0; ch < f.stereo; ++ch)
        for (int sb = 0; sb < f.sblimit; ++sb) {
            unsigned* s = &w.scalar[ch][0][sb];
            unsigned& s0 = s[0];
            unsigned& s1 = s[SBLIMIT];
            unsigned& s2 = s[2 * SBLIMIT];
            const int d1 = static_cast<int>(s0) - static_cast<int>(s1);
            const int d2 = static_cast<int>(s1) - static_cast<int>(s2);
            unsigned& sel = w.scfsi[ch][sb];
            switch (pattern[DifferenceClass(d1)][DifferenceClass(d2)]) {
                case 0x123: sel = 0; break;
                case 0x122: sel = 3; s2 = s1; break;
                case 0x133: sel = 3; s1 = s2; break;
                case 0x113: sel = 1; s1 = s0; break;
                case 0x111: sel = 2; s1 = s2 = s0; break;
                case 0x222: sel = 2; s0 = s2 = s1; break;
                case 0x333: sel = 2; s0 = s1 = s2; break;
                case 0x444:
                    sel = 2;
                    s0 = std::min(s0, s2);
                    s1 = s2 = s0;
                    break;
            }
        }
}

// Bits a frame needs so that no band's noise rises above its mask.
int MPEGStreamEncoder::BitsForNoNoise() {
    const Work& w = *work_;
    const frame_params& f = core_.fr_ps;
    const int stereo = f.stereo, jsbound = f.jsbound;
    if (settings_.lay == 1) {
        int req = 32 + 4 * (jsbound * stereo + (SBLIMIT - jsbound));
        for (int sb = 0; sb < SBLIMIT; ++sb)
            for (int ch = 0; ch < (sb < jsbound ? stereo : 1); ++ch) {
                int k = 0;
                while (k < 14 && w.snr[k] - w.ltmin[ch][sb] < 0) ++k;
                if (stereo == 2 && sb >= jsbound)
                    while (k < 14 && w.snr[k] - w.ltmin[1 - ch][sb] < 0) ++k;
                if (k > 0) req += (k + 1) * 12 + 6 * (stereo == 2 && sb >= jsbound ? 2 : 1);
            }
        return req;
    }
    const al_table& alloc = *f.alloc;
    int req = 32 + (core_.info.error_protection ? 16 : 0);
    for (int sb = 0; sb < f.sblimit; ++sb) req += alloc[sb][0].bits * (sb < jsbound ? stereo : 1);
    for (int sb = 0; sb < f.sblimit; ++sb)
        for (int ch = 0; ch < (sb < jsbound ? stereo : 1); ++ch) {
            const int maxAlloc = (1 << alloc[sb][0].bits) - 1;
            auto snrAt = [&](int ba) { return w.snr[alloc[sb][ba].quant + (ba > 0 ? 1 : 0)]; };
            int ba = 0;
            while (ba < maxAlloc - 1 && snrAt(ba) - w.ltmin[ch][sb] < 0) ++ba;
            if (stereo == 2 && sb >= jsbound)
                while (ba < maxAlloc - 1 && snrAt(ba) - w.ltmin[1 - ch][sb] < 0) ++ba;
            if (ba > 0) {
                req += 12 * static_cast<int>(alloc[sb][ba].group * alloc[sb][ba].bits);
                req += 2 + 6 * sfsPerScfsi[w.scfsi[ch][sb]];
                if (stereo == 2 && sb >= jsbound) req += 2 + 6 * sfsPerScfsi[w.scfsi[1 - ch][sb]];
            }
        }
    return req;
}

// Spends the available bits on the band whose noise is least masked, step by
// step; the bits spent, the fixed fields included.
int MPEGStreamEncoder::AllocateBits(int available) {
    Work& w = *work_;
    const frame_params& f = core_.fr_ps;
    const int stereo = f.stereo, jsbound = f.jsbound;
    const bool layer1 = settings_.lay == 1;
    const int limit = layer1 ? SBLIMIT : f.sblimit;
    int fixed = 32 + (core_.info.error_protection ? 16 : 0);
    if (layer1) {
        fixed += 4 * (jsbound * stereo + (SBLIMIT - jsbound));
    } else {
        for (int sb = 0; sb < f.sblimit; ++sb)
            fixed += (*f.alloc)[sb][0].bits * (sb < jsbound ? stereo : 1);
    }
    const int ad = available - fixed;
    double mnr[2][SBLIMIT];
    int used[2][SBLIMIT];
    for (int ch = 0; ch < stereo; ++ch)
        for (int sb = 0; sb < SBLIMIT; ++sb) {
            mnr[ch][sb] = w.snr[0] - w.ltmin[ch][sb];
            w.bit_alloc[ch][sb] = 0;
            used[ch][sb] = 0;
        }
    auto snrFor = [&](int sb, unsigned ba) {
        return layer1 ? w.snr[ba] : w.snr[(*f.alloc)[sb][ba].quant + 1];
    };
    auto sampleBits = [&](int sb, unsigned ba) {
        return 12 * static_cast<int>((*f.alloc)[sb][ba].group * (*f.alloc)[sb][ba].bits);
    };
    int bspl = 0, bscf = 0, bsel = 0;
    for (;;) {
        double small = layer1 ? mnr[0][0] + 1 : 999999.0;
        int minSb = -1, minCh = -1;
        for (int sb = 0; sb < limit; ++sb)
            for (int ch = 0; ch < stereo; ++ch)
                if (used[ch][sb] != 2 && small > mnr[ch][sb]) {
                    small = mnr[ch][sb];
                    minSb = sb;
                    minCh = ch;
                }
        if (minSb < 0) break;
        const int other = 1 - minCh;
        const bool joint = stereo == 2 && minSb >= jsbound;
        unsigned& ba = w.bit_alloc[minCh][minSb];
        int increment, scale, select = 0;
        if (layer1) {
            increment = used[minCh][minSb] ? 12 : 24;
            scale = used[minCh][minSb] ? 0 : 6;
            if (joint) scale *= 2;
        } else {
            increment = sampleBits(minSb, ba + 1);
            if (used[minCh][minSb]) increment -= sampleBits(minSb, ba);
            if (used[minCh][minSb]) {
                scale = 0;
            } else {
                select = 2;
                scale = 6 * sfsPerScfsi[w.scfsi[minCh][minSb]];
                if (joint) {
                    select += 2;
                    scale += 6 * sfsPerScfsi[w.scfsi[other][minSb]];
                }
            }
        }
        if (ad >= bspl + bscf + bsel + select + scale + increment) {
            ++ba;
            bspl += increment;
            bscf += scale;
            bsel += select;
            used[minCh][minSb] = 1;
            mnr[minCh][minSb] = snrFor(minSb, ba) - w.ltmin[minCh][minSb];
            const unsigned top = layer1 ? 14u : (1u << (*f.alloc)[minSb][0].bits) - 1;
            if (ba >= top) used[minCh][minSb] = 2;
        } else {
            used[minCh][minSb] = 2;
        }
        if (joint) {
            w.bit_alloc[other][minSb] = ba;
            used[other][minSb] = used[minCh][minSb];
            mnr[other][minSb] = snrFor(minSb, ba) - w.ltmin[other][minSb];
        }
    }
    if (!layer1)
        for (int ch = 0; ch < stereo; ++ch)
            for (int sb = f.sblimit; sb < SBLIMIT; ++sb) w.bit_alloc[ch][sb] = 0;
    return fixed + bspl + bscf + bsel;
}

void MPEGStreamEncoder::MainBitAllocation(int* available) {
    frame_params& f = core_.fr_ps;
    layer& info = core_.info;
    if (f.actual_mode == kJoint) {
        info.mode = 0;
        info.mode_ext = 0;
        f.jsbound = f.sblimit;
        if (BitsForNoNoise() > *available) {
            info.mode = kJoint;
            int ext = 4;
            do {
                --ext;
                f.jsbound = js_bound(info.lay, ext);
            } while (BitsForNoNoise() > *available && ext > 0);
            info.mode_ext = ext;
        }
    }
    *available -= AllocateBits(*available);
}

void MPEGStreamEncoder::Quantise() {
    Work& w = *work_;
    const frame_params& f = core_.fr_ps;
    const bool layer1 = settings_.lay == 1;
    const int parts = layer1 ? 1 : 3;
    const int limit = layer1 ? SBLIMIT : f.sblimit;
    for (int p = 0; p < parts; ++p)
        for (int j = 0; j < 12; ++j)
            for (int sb = 0; sb < limit; ++sb)
                for (int ch = 0; ch < (sb < f.jsbound ? f.stereo : 1); ++ch) {
                    const unsigned ba = w.bit_alloc[ch][sb];
                    if (ba == 0) continue;
                    const bool joint = f.stereo == 2 && sb >= f.jsbound;
                    double x = joint ? w.j_sample[p][j][sb] / multiple[w.j_scale[p][sb]]
                                     : w.sb_sample[ch][p][j][sb] / multiple[w.scalar[ch][p][sb]];
                    int n;
                    uint32_t steps;
                    if (layer1) {
                        x = x * w.a[ba - 1] + w.b[ba - 1];
                        n = static_cast<int>(ba);
                        steps = (2u << ba) - 1;
                    } else {
                        const sb_alloc& e = (*f.alloc)[sb][ba];
                        x = x * w.a[e.quant] + w.b[e.quant];
                        steps = e.steps;
                        n = 0;
                        while ((1u << n) < steps) ++n;
                        --n;
                    }
                    uint32_t sign = 1;
                    if (x < 0) {
                        x += 1.0;
                        sign = 0;
                    }
                    // A sample beyond its scale factor would wrap past the code
                    // range: hold it at the nearest code.
                    const double scale = static_cast<double>(1u << n);
                    const double scaled = std::clamp(x * scale, 0.0, scale - 1);
                    const uint32_t code = static_cast<uint32_t>(scaled) | (sign << n);
                    w.sbband[ch][p][j][sb] = std::min(code, steps - 1);
                }
}

void MPEGStreamEncoder::WriteFrame(int available) {
    Work& w = *work_;
    const frame_params& f = core_.fr_ps;
    bit_stream_struc* bs = &core_.bs;
    encode_info(&f, bs);
    if (settings_.lay == 1) {
        for (int sb = 0; sb < SBLIMIT; ++sb)
            for (int ch = 0; ch < (sb < f.jsbound ? f.stereo : 1); ++ch)
                putbits(bs, w.bit_alloc[ch][sb], 4);
        for (int sb = 0; sb < SBLIMIT; ++sb)
            for (int ch = 0; ch < f.stereo; ++ch)
                if (w.bit_alloc[ch][sb]) putbits(bs, w.scalar[ch][0][sb], 6);
        for (int j = 0; j < 12; ++j)
            for (int sb = 0; sb < SBLIMIT; ++sb)
                for (int ch = 0; ch < (sb < f.jsbound ? f.stereo : 1); ++ch)
                    if (const unsigned ba = w.bit_alloc[ch][sb])
                        putbits(bs, w.sbband[ch][0][j][sb], static_cast<int>(ba) + 1);
    } else {
        const al_table& alloc = *f.alloc;
        for (int sb = 0; sb < f.sblimit; ++sb)
            for (int ch = 0; ch < (sb < f.jsbound ? f.stereo : 1); ++ch)
                putbits(bs, w.bit_alloc[ch][sb], static_cast<int>(alloc[sb][0].bits));
        for (int sb = 0; sb < f.sblimit; ++sb)
            for (int ch = 0; ch < f.stereo; ++ch)
                if (w.bit_alloc[ch][sb]) putbits(bs, w.scfsi[ch][sb], 2);
        for (int sb = 0; sb < f.sblimit; ++sb)
            for (int ch = 0; ch < f.stereo; ++ch) {
                if (!w.bit_alloc[ch][sb]) continue;
                const unsigned* s = &w.scalar[ch][0][sb];
                switch (w.scfsi[ch][sb]) {
                    case 0:
                        for (int p = 0; p < 3; ++p) putbits(bs, s[p * SBLIMIT], 6);
                        break;
                    case 1:
                    case 3:
                        putbits(bs, s[0], 6);
                        putbits(bs, s[2 * SBLIMIT], 6);
                        break;
                    default:
                        putbits(bs, s[0], 6);
                        break;
                }
            }
        for (int p = 0; p < 3; ++p)
            for (int j = 0; j < 12; j += 3)
                for (int sb = 0; sb < f.sblimit; ++sb)
                    for (int ch = 0; ch < (sb < f.jsbound ? f.stereo : 1); ++ch) {
                        const unsigned ba = w.bit_alloc[ch][sb];
                        if (!ba) continue;
                        const sb_alloc& e = alloc[sb][ba];
                        const int bits = static_cast<int>(e.bits);
                        if (e.group == 3) {
                            for (int x = 0; x < 3; ++x) putbits(bs, w.sbband[ch][p][j + x][sb], bits);
                        } else {
                            const uint32_t y = w.sbband[ch][p][j][sb] +
                                               w.sbband[ch][p][j + 1][sb] * e.steps +
                                               w.sbband[ch][p][j + 2][sb] * e.steps * e.steps;
                            putbits(bs, y, bits);
                        }
                    }
    }
    for (; available >= 32; available -= 32) putbits(bs, 0, 32);
    if (available > 0) putbits(bs, 0, available);
}

int MPEGStreamEncoder::EncodeFrame() {
    Work& w = *work_;
    layer& info = core_.info;
    frame_params& f = core_.fr_ps;
    int extra = 0;
    info.padding = 0;
    if (fraction_ != 0 && settings_.padding) {
        if (slotLag_ > fraction_ - 1.0) {
            slotLag_ -= fraction_;
        } else {
            extra = 1;
            info.padding = 1;
            slotLag_ += 1 - fraction_;
        }
    }
    int available = (whole_ + extra) * bitsPerSlot_;
    const int frameBits = available;
    const bool layer1 = settings_.lay == 1;
    const int parts = layer1 ? 1 : 3;
    for (int p = 0; p < parts; ++p)
        for (int j = 0; j < 12; ++j)
            for (int ch = 0; ch < f.stereo; ++ch)
                WindowAndFilter(ch, w.buffer[ch] + 32 * (p * 12 + j), w.sb_sample[ch][p][j]);

    const int limit = layer1 ? SBLIMIT : f.sblimit;
    ScaleFactors(w.sb_sample, w.scalar, f.stereo, parts, limit);
    // The largest scale factor of each subband (the input of model 1).
    for (int ch = 0; ch < f.stereo; ++ch)
        for (int sb = 0; sb < SBLIMIT; ++sb) {
            unsigned smallest = w.scalar[ch][0][sb];
            for (int p = 1; p < parts; ++p) smallest = std::min(smallest, w.scalar[ch][p][sb]);
            w.max_sc[ch][sb] = sb < limit ? multiple[smallest] : 1e-20;
        }
    if (f.actual_mode == kJoint) {
        for (int p = 0; p < parts; ++p)
            for (int j = 0; j < 12; ++j)
                for (int sb = 0; sb < limit; ++sb)
                    w.j_sample[p][j][sb] = 0.5 * (w.sb_sample[0][p][j][sb] + w.sb_sample[1][p][j][sb]);
        ScaleFactors(&w.j_sample, &w.j_scale, 1, parts, limit);
    }
    const double hz = s_freq[1][info.sampling_frequency] * 1000;
    float smr[SBLIMIT];
    for (int ch = 0; ch < f.stereo; ++ch) {
        core_.psy.psycho_anal(w.buffer[ch], w.savebuf[ch], ch, settings_.lay, smr, hz);
        for (int sb = 0; sb < SBLIMIT; ++sb) w.ltmin[ch][sb] = smr[sb];
    }
    if (core_.errors.gMPEGMemErr) return Status();
    if (!layer1) TransmissionPattern();
    MainBitAllocation(&available);
    Quantise();
    WriteFrame(available);
    lastHeader_ = info;
    lastFrameBytes_ = static_cast<uint32_t>(frameBits / 8);
    ++frames_;
    const int64_t tell = sstell(&core_.bs);
    if (tell - lastTell_ != frameBits || frameBits % bitsPerSlot_ != 0) status_ = kMPEGSlotErr;
    lastTell_ = tell;
    return Status();
}

}  // namespace mpeg
