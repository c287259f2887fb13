#include "formats/mpeg/mpeg_layer1.h"

#include <cmath>

#include "formats/mpeg/mpeg_layer_common.h"

namespace mpeg {

namespace {

// Signal-to-noise ratio in dB by allocation index.
constexpr double snr[16] = {0.00,  7.00,  16.00, 25.28, 31.59, 37.75, 43.84, 49.89,
                            55.93, 61.96, 67.98, 74.01, 80.03, 86.05, 92.01, 98.01};
// Quantisation coefficients by allocation index n - 1: A = 1 - 2^-(n+1), B = -2^-(n+1).
constexpr double b[15] = {-Pow2(-2),  -Pow2(-3),  -Pow2(-4),  -Pow2(-5),  -Pow2(-6),
                          -Pow2(-7),  -Pow2(-8),  -Pow2(-9),  -Pow2(-10), -Pow2(-11),
                          -Pow2(-12), -Pow2(-13), -Pow2(-14), -Pow2(-15), -Pow2(-16)};
constexpr double a[15] = {1 + b[0], 1 + b[1], 1 + b[2],  1 + b[3],  1 + b[4],
                          1 + b[5], 1 + b[6], 1 + b[7],  1 + b[8],  1 + b[9],
                          1 + b[10], 1 + b[11], 1 + b[12], 1 + b[13], 1 + b[14]};

// A band's allocation goes no higher.
constexpr unsigned kTopAllocation = 14;

// Header, allocation fields (4 bits a coded channel and subband).
int FixedBits(const frame_params& f) {
    return 32 + (f.header->error_protection ? 16 : 0) +
           4 * (f.jsbound * f.stereo + (SBLIMIT - f.jsbound));
}

}  // namespace

void I_scale_factor_calc(const SubbandSamples* sb_sample, ScaleIndexes* scalar, int stereo) {
    for (int ch = 0; ch < stereo; ++ch)
        for (int sb = 0; sb < SBLIMIT; ++sb) {
            double m = 0;
            for (int j = 0; j < 12; ++j) m = std::max(m, std::fabs(sb_sample[ch][0][j][sb]));
            scalar[ch][0][sb] = ScaleIndex(m);
        }
}

void I_combine_LR(const SubbandSamples (&sb_sample)[2], SubbandSamples& joint_sample) {
    for (int j = 0; j < 12; ++j)
        for (int sb = 0; sb < SBLIMIT; ++sb)
            joint_sample[0][j][sb] = 0.5 * (sb_sample[0][0][j][sb] + sb_sample[1][0][j][sb]);
}

void put_scale(const ScaleIndexes (&scalar)[2], const frame_params& fr_ps, Ratios (&max_sc)[2]) {
    for (int ch = 0; ch < fr_ps.stereo; ++ch)
        for (int sb = 0; sb < SBLIMIT; ++sb) max_sc[ch][sb] = multiple[scalar[ch][0][sb]];
}

int I_bits_for_nonoise(const Ratios (&perm_smr)[2], const frame_params& fr_ps) {
    const int stereo = fr_ps.stereo, jsbound = fr_ps.jsbound;
    int req = FixedBits(fr_ps);
    for (int sb = 0; sb < SBLIMIT; ++sb)
        for (int ch = 0; ch < CodedChannels(fr_ps, sb); ++ch) {
            int k = 0;
            while (k < 14 && snr[k] - perm_smr[ch][sb] < 0) ++k;
            if (stereo == 2 && sb >= jsbound)
                while (k < 14 && snr[k] - perm_smr[1 - ch][sb] < 0) ++k;
            if (k > 0) req += (k + 1) * 12 + 6 * (stereo == 2 && sb >= jsbound ? 2 : 1);
        }
    return req;
}

void I_a_bit_allocation(const Ratios (&perm_smr)[2], PerBand (&bit_alloc)[2], int& adb,
                        const frame_params& fr_ps) {
    const int stereo = fr_ps.stereo, jsbound = fr_ps.jsbound;
    const int fixed = FixedBits(fr_ps);
    const int ad = adb - fixed;
    double mnr[2][SBLIMIT];
    int used[2][SBLIMIT];
    for (int ch = 0; ch < stereo; ++ch)
        for (int sb = 0; sb < SBLIMIT; ++sb) {
            mnr[ch][sb] = snr[0] - perm_smr[ch][sb];
            bit_alloc[ch][sb] = 0;
            used[ch][sb] = 0;
        }
    int bspl = 0, bscf = 0;
    int minSb, minCh;
    while (LowestRatioBand(mnr, used, SBLIMIT, stereo, mnr[0][0] + 1, minSb, minCh)) {
        const int other = 1 - minCh;
        const bool joint = stereo == 2 && minSb >= jsbound;
        unsigned& ba = bit_alloc[minCh][minSb];
        const int increment = used[minCh][minSb] ? 12 : 24;
        int scale = used[minCh][minSb] ? 0 : 6;
        if (joint) scale *= 2;
        if (ad >= bspl + bscf + scale + increment) {
            ++ba;
            bspl += increment;
            bscf += scale;
            used[minCh][minSb] = 1;
            mnr[minCh][minSb] = snr[ba] - perm_smr[minCh][minSb];
            if (ba >= kTopAllocation) used[minCh][minSb] = 2;
        } else {
            used[minCh][minSb] = 2;
        }
        if (joint) {
            bit_alloc[other][minSb] = ba;
            used[other][minSb] = used[minCh][minSb];
            mnr[other][minSb] = snr[ba] - perm_smr[other][minSb];
        }
    }
    adb -= fixed + bspl + bscf;
}

void I_main_bit_allocation(const Ratios (&perm_smr)[2], PerBand (&bit_alloc)[2], int& adb,
                           frame_params& fr_ps) {
    if (fr_ps.actual_mode == kJointStereoMode)
        ChooseJointBound(fr_ps, adb, [&] { return I_bits_for_nonoise(perm_smr, fr_ps); });
    I_a_bit_allocation(perm_smr, bit_alloc, adb, fr_ps);
}

void I_encode_bit_alloc(const PerBand (&bit_alloc)[2], const frame_params& fr_ps,
                        bit_stream_struc* bs) {
    for (int sb = 0; sb < SBLIMIT; ++sb)
        for (int ch = 0; ch < CodedChannels(fr_ps, sb); ++ch) putbits(bs, bit_alloc[ch][sb], 4);
}

void I_encode_scale(const ScaleIndexes (&scalar)[2], const PerBand (&bit_alloc)[2],
                    const frame_params& fr_ps, bit_stream_struc* bs) {
    for (int sb = 0; sb < SBLIMIT; ++sb)
        for (int ch = 0; ch < fr_ps.stereo; ++ch)
            if (bit_alloc[ch][sb]) putbits(bs, scalar[ch][0][sb], 6);
}

void I_subband_quantization(const ScaleIndexes (&scalar)[2], const SubbandSamples (&sb_samples)[2],
                            const ScaleIndexes& j_scale, const SubbandSamples& j_samples,
                            const PerBand (&bit_alloc)[2], Codes (&sbband)[2],
                            const frame_params& fr_ps) {
    for (int sb = 0; sb < SBLIMIT; ++sb)
        for (int ch = 0; ch < CodedChannels(fr_ps, sb); ++ch) {
            const unsigned ba = bit_alloc[ch][sb];
            if (ba == 0) continue;
            const bool joint = fr_ps.stereo == 2 && sb >= fr_ps.jsbound;
            const double factor = multiple[joint ? j_scale[0][sb] : scalar[ch][0][sb]];
            const auto& rows = joint ? j_samples[0] : sb_samples[ch][0];
            const double A = a[ba - 1], B = b[ba - 1];
            const uint32_t steps = (2u << ba) - 1;
            for (int j = 0; j < 12; ++j)
                sbband[ch][0][j][sb] = QuantisedCode(rows[j][sb] / factor * A + B,
                                                     static_cast<int>(ba), steps);
        }
}

void I_sample_encoding(const Codes (&sbband)[2], const PerBand (&bit_alloc)[2],
                       const frame_params& fr_ps, bit_stream_struc* bs) {
    for (int j = 0; j < 12; ++j)
        for (int sb = 0; sb < SBLIMIT; ++sb)
            for (int ch = 0; ch < CodedChannels(fr_ps, sb); ++ch)
                if (const unsigned ba = bit_alloc[ch][sb])
                    putbits(bs, sbband[ch][0][j][sb], static_cast<int>(ba) + 1);
}

}  // namespace mpeg
