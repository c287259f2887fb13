#include "formats/mpeg/mpeg_layer2.h"

#include <cmath>

#include "formats/mpeg/mpeg_layer_common.h"
#include "foundation/log.h"

namespace mpeg {

namespace {

// Signal-to-noise ratio in dB by quantisation class + 1.
constexpr double snrII[18] = {0.00,  7.00,  11.00, 16.00, 20.84, 25.28, 31.59, 37.75, 43.84,
                              49.89, 55.93, 61.96, 67.98, 74.01, 80.03, 86.05, 92.01, 98.01};
// Quantisation coefficients A and B by class: the grouped classes (3, 5, 7 and
// 9 steps) their own, then A = 1 - 2^-c, B = -2^-c.
constexpr double aII[17] = {
    0.75,          0.625,         0.875,         0.5625,        1 - Pow2(-4),  1 - Pow2(-5),
    1 - Pow2(-6),  1 - Pow2(-7),  1 - Pow2(-8),  1 - Pow2(-9),  1 - Pow2(-10), 1 - Pow2(-11),
    1 - Pow2(-12), 1 - Pow2(-13), 1 - Pow2(-14), 1 - Pow2(-15), 1 - Pow2(-16)};
constexpr double bII[17] = {
    -0.25,      -0.375,     -0.125,     -0.4375,    -Pow2(-4),  -Pow2(-5),
    -Pow2(-6),  -Pow2(-7),  -Pow2(-8),  -Pow2(-9),  -Pow2(-10), -Pow2(-11),
    -Pow2(-12), -Pow2(-13), -Pow2(-14), -Pow2(-15), -Pow2(-16)};
// Scale factors sent per selection value.
constexpr int sfsPerScfsi[4] = {3, 2, 1, 2};
// Scale-factor selection by the classes of the two index differences.
constexpr int pattern[5][5] = {{0x123, 0x122, 0x122, 0x133, 0x123},
                               {0x113, 0x111, 0x111, 0x444, 0x113},
                               {0x111, 0x111, 0x111, 0x333, 0x113},
                               {0x222, 0x222, 0x222, 0x333, 0x123},
                               {0x123, 0x122, 0x122, 0x133, 0x123}};

int DifferenceClass(int d) {
    if (d <= -3) return 0;
    if (d < 0) return 1;
    if (d == 0) return 2;
    if (d < 3) return 3;
    return 4;
}

// Header and allocation fields.
int FixedBits(const frame_params& f) {
    int bits = 32 + (f.header->error_protection ? 16 : 0);
    for (int sb = 0; sb < f.sblimit; ++sb) bits += (*f.alloc)[sb][0].bits * CodedChannels(f, sb);
    return bits;
}

// Bits of a band's samples at an allocation index.
inline int SampleBits(const al_table& alloc, int sb, unsigned ba) {
    return 12 * static_cast<int>(alloc[sb][ba].group * alloc[sb][ba].bits);
}

}  // namespace

void II_scale_factor_calc(const SubbandSamples* sb_sample, ScaleIndexes* scalar, int stereo,
                          int sblimit) {
    for (int ch = 0; ch < stereo; ++ch)
        for (int p = 0; p < 3; ++p)
            for (int sb = 0; sb < SBLIMIT; ++sb) {
                if (sb >= sblimit) {
                    scalar[ch][p][sb] = SCALE_RANGE - 1;
                    continue;
                }
                double m = 0;
                for (int j = 0; j < 12; ++j) m = std::max(m, std::fabs(sb_sample[ch][p][j][sb]));
                scalar[ch][p][sb] = ScaleIndex(m);
            }
}

void pick_scale(const ScaleIndexes (&scalar)[2], const frame_params& fr_ps, Ratios (&max_sc)[2]) {
    for (int ch = 0; ch < fr_ps.stereo; ++ch)
        for (int sb = 0; sb < SBLIMIT; ++sb) {
            const unsigned smallest =
                std::min({scalar[ch][0][sb], scalar[ch][1][sb], scalar[ch][2][sb]});
            max_sc[ch][sb] = sb < fr_ps.sblimit ? multiple[smallest] : 1e-20;
        }
}

void II_combine_LR(const SubbandSamples (&sb_sample)[2], SubbandSamples& joint_sample,
                   int sblimit) {
    for (int p = 0; p < 3; ++p)
        for (int j = 0; j < 12; ++j)
            for (int sb = 0; sb < sblimit; ++sb)
                joint_sample[p][j][sb] = 0.5 * (sb_sample[0][p][j][sb] + sb_sample[1][p][j][sb]);
}

void II_transmission_pattern(ScaleIndexes (&scalar)[2], PerBand (&scfsi)[2],
                             const frame_params& fr_ps) {
    for (int ch = 0; ch < fr_ps.stereo; ++ch)
        for (int sb = 0; sb < fr_ps.sblimit; ++sb) {
            unsigned& s0 = scalar[ch][0][sb];
            unsigned& s1 = scalar[ch][1][sb];
            unsigned& s2 = scalar[ch][2][sb];
            const int d1 = static_cast<int>(s0) - static_cast<int>(s1);
            const int d2 = static_cast<int>(s1) - static_cast<int>(s2);
            unsigned& sel = scfsi[ch][sb];
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

int II_bits_for_nonoise(const Ratios (&perm_smr)[2], const PerBand (&scfsi)[2],
                        const frame_params& fr_ps) {
    const al_table& alloc = *fr_ps.alloc;
    const int stereo = fr_ps.stereo, jsbound = fr_ps.jsbound;
    int req = FixedBits(fr_ps);
    for (int sb = 0; sb < fr_ps.sblimit; ++sb)
        for (int ch = 0; ch < CodedChannels(fr_ps, sb); ++ch) {
            const int maxAlloc = (1 << alloc[sb][0].bits) - 1;
            auto snrAt = [&](int ba) { return snrII[alloc[sb][ba].quant + (ba > 0 ? 1 : 0)]; };
            int ba = 0;
            while (ba < maxAlloc - 1 && snrAt(ba) - perm_smr[ch][sb] < 0) ++ba;
            if (stereo == 2 && sb >= jsbound)
                while (ba < maxAlloc - 1 && snrAt(ba) - perm_smr[1 - ch][sb] < 0) ++ba;
            if (ba > 0) {
                req += SampleBits(alloc, sb, static_cast<unsigned>(ba));
                req += 2 + 6 * sfsPerScfsi[scfsi[ch][sb]];
                if (stereo == 2 && sb >= jsbound) req += 2 + 6 * sfsPerScfsi[scfsi[1 - ch][sb]];
            }
        }
    return req;
}

void II_a_bit_allocation(const Ratios (&perm_smr)[2], const PerBand (&scfsi)[2],
                         PerBand (&bit_alloc)[2], int& adb, const frame_params& fr_ps) {
    const al_table& alloc = *fr_ps.alloc;
    const int stereo = fr_ps.stereo, jsbound = fr_ps.jsbound;
    const int fixed = FixedBits(fr_ps);
    const int ad = adb - fixed;
    double mnr[2][SBLIMIT];
    int used[2][SBLIMIT];
    for (int ch = 0; ch < stereo; ++ch)
        for (int sb = 0; sb < SBLIMIT; ++sb) {
            mnr[ch][sb] = snrII[0] - perm_smr[ch][sb];
            bit_alloc[ch][sb] = 0;
            used[ch][sb] = 0;
        }
    int bspl = 0, bscf = 0, bsel = 0;
    int minSb, minCh;
    while (LowestRatioBand(mnr, used, fr_ps.sblimit, stereo, 999999.0, minSb, minCh)) {
        const int other = 1 - minCh;
        const bool joint = stereo == 2 && minSb >= jsbound;
        unsigned& ba = bit_alloc[minCh][minSb];
        int increment = SampleBits(alloc, minSb, ba + 1);
        int scale = 0, select = 0;
        if (used[minCh][minSb]) {
            increment -= SampleBits(alloc, minSb, ba);
        } else {
            select = 2;
            scale = 6 * sfsPerScfsi[scfsi[minCh][minSb]];
            if (joint) {
                select += 2;
                scale += 6 * sfsPerScfsi[scfsi[other][minSb]];
            }
        }
        if (ad >= bspl + bscf + bsel + select + scale + increment) {
            ++ba;
            bspl += increment;
            bscf += scale;
            bsel += select;
            used[minCh][minSb] = 1;
            mnr[minCh][minSb] = snrII[alloc[minSb][ba].quant + 1] - perm_smr[minCh][minSb];
            if (ba >= (1u << alloc[minSb][0].bits) - 1) used[minCh][minSb] = 2;
        } else {
            used[minCh][minSb] = 2;
        }
        if (joint) {
            bit_alloc[other][minSb] = ba;
            used[other][minSb] = used[minCh][minSb];
            mnr[other][minSb] = snrII[alloc[minSb][ba].quant + 1] - perm_smr[other][minSb];
        }
    }
    for (int ch = 0; ch < stereo; ++ch)
        for (int sb = fr_ps.sblimit; sb < SBLIMIT; ++sb) bit_alloc[ch][sb] = 0;
    adb -= fixed + bspl + bscf + bsel;
}

void II_main_bit_allocation(const Ratios (&perm_smr)[2], const PerBand (&scfsi)[2],
                            PerBand (&bit_alloc)[2], int& adb, frame_params& fr_ps) {
    if (fr_ps.actual_mode == kJointStereoMode)
        ChooseJointBound(fr_ps, adb, [&] { return II_bits_for_nonoise(perm_smr, scfsi, fr_ps); });
    II_a_bit_allocation(perm_smr, scfsi, bit_alloc, adb, fr_ps);
}

void II_encode_bit_alloc(const PerBand (&bit_alloc)[2], const frame_params& fr_ps,
                         bit_stream_struc* bs) {
    const al_table& alloc = *fr_ps.alloc;
    for (int sb = 0; sb < fr_ps.sblimit; ++sb)
        for (int ch = 0; ch < CodedChannels(fr_ps, sb); ++ch)
            putbits(bs, bit_alloc[ch][sb], static_cast<int>(alloc[sb][0].bits));
}

void II_encode_scale(const PerBand (&bit_alloc)[2], const PerBand (&scfsi)[2],
                     const ScaleIndexes (&scalar)[2], const frame_params& fr_ps,
                     bit_stream_struc* bs) {
    for (int sb = 0; sb < fr_ps.sblimit; ++sb)
        for (int ch = 0; ch < fr_ps.stereo; ++ch)
            if (bit_alloc[ch][sb]) putbits(bs, scfsi[ch][sb], 2);
    for (int sb = 0; sb < fr_ps.sblimit; ++sb)
        for (int ch = 0; ch < fr_ps.stereo; ++ch) {
            if (!bit_alloc[ch][sb]) continue;
            const ScaleIndexes& s = scalar[ch];
            switch (scfsi[ch][sb]) {
                case 0:
                    for (int p = 0; p < 3; ++p) putbits(bs, s[p][sb], 6);
                    break;
                case 1:
                case 3:
                    putbits(bs, s[0][sb], 6);
                    putbits(bs, s[2][sb], 6);
                    break;
                default:
                    putbits(bs, s[0][sb], 6);
                    break;
            }
        }
}

void II_subband_quantization(const ScaleIndexes (&scalar)[2],
                             const SubbandSamples (&sb_samples)[2], const ScaleIndexes& j_scale,
                             const SubbandSamples& j_samples, const PerBand (&bit_alloc)[2],
                             Codes (&sbband)[2], const frame_params& fr_ps) {
    const al_table& alloc = *fr_ps.alloc;
    const int sblimit = fr_ps.sblimit;
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < CodedChannels(fr_ps, sb); ++ch) {
            const unsigned ba = bit_alloc[ch][sb];
            if (ba == 0) continue;
            const bool joint = fr_ps.stereo == 2 && sb >= fr_ps.jsbound;
            const sb_alloc& e = alloc[sb][ba];
            const uint32_t steps = e.steps;
            const double A = aII[e.quant], B = bII[e.quant];
            int n = 0;
            while ((1u << n) < steps) ++n;
            for (int p = 0; p < 3; ++p) {
                const double factor = multiple[joint ? j_scale[p][sb] : scalar[ch][p][sb]];
                const auto& rows = joint ? j_samples[p] : sb_samples[ch][p];
                for (int j = 0; j < 12; ++j) {
                    const double x = rows[j][sb] / factor;
                    if (std::fabs(x) > 1.0)
                        CORVANE_DLOG("Not scaled properly " << ch << " " << p << " " << j << " "
                                                            << sb << "\n");
                    sbband[ch][p][j][sb] = QuantisedCode(x * A + B, n - 1, steps);
                }
            }
        }
}

void II_sample_encoding(const Codes (&sbband)[2], const PerBand (&bit_alloc)[2],
                        const frame_params& fr_ps, bit_stream_struc* bs) {
    const al_table& alloc = *fr_ps.alloc;
    for (int p = 0; p < 3; ++p)
        for (int j = 0; j < 12; j += 3)
            for (int sb = 0; sb < fr_ps.sblimit; ++sb)
                for (int ch = 0; ch < CodedChannels(fr_ps, sb); ++ch) {
                    const unsigned ba = bit_alloc[ch][sb];
                    if (!ba) continue;
                    const sb_alloc& e = alloc[sb][ba];
                    const int bits = static_cast<int>(e.bits);
                    const Codes& c = sbband[ch];
                    if (e.group == 3) {
                        for (int x = 0; x < 3; ++x) putbits(bs, c[p][j + x][sb], bits);
                    } else {
                        const uint32_t y = c[p][j][sb] + c[p][j + 1][sb] * e.steps +
                                           c[p][j + 2][sb] * e.steps * e.steps;
                        putbits(bs, y, bits);
                    }
                }
}

}  // namespace mpeg
