// The Layer II coding steps of one frame, after the analysis filter bank: scale
// factors and their selection, joint stereo, bit allocation against the
// psychoacoustic model's ratios with the loaded allocation table, quantisation
// and the frame's fields. Each step reads what it is given and writes only its
// outputs.
#pragma once

#include "formats/mpeg/mpeg_bitstream.h"
#include "formats/mpeg/mpeg_coding_state.h"

namespace mpeg {

// Scale-factor index of each channel's parts and subbands below the limit from
// their largest sample; 63 at and above the limit.
void II_scale_factor_calc(const SubbandSamples* sb_sample, ScaleIndexes* scalar, int stereo,
                          int sblimit);
// Each subband's largest scale factor over the three parts; 1e-20 at and above
// the limit.
void pick_scale(const ScaleIndexes (&scalar)[2], const frame_params& fr_ps, Ratios (&max_sc)[2]);
// The joint (mid) samples below the limit: half the sum of the two channels.
void II_combine_LR(const SubbandSamples (&sb_sample)[2], SubbandSamples& joint_sample,
                   int sblimit);
// Chooses each subband's selection information (scale factors sent: 0 three,
// 1 and 3 two, 2 one) from the differences of its three indexes, and makes the
// indexes that are not sent equal to those that are.
void II_transmission_pattern(ScaleIndexes (&scalar)[2], PerBand (&scfsi)[2],
                             const frame_params& fr_ps);

// Bits the frame needs for noise below the mask everywhere, at the current bound.
int II_bits_for_nonoise(const Ratios (&perm_smr)[2], const PerBand (&scfsi)[2],
                        const frame_params& fr_ps);
// Spends the available bits, band by band where the noise is least masked;
// the available bits are reduced by what the frame spends.
void II_a_bit_allocation(const Ratios (&perm_smr)[2], const PerBand (&scfsi)[2],
                         PerBand (&bit_alloc)[2], int& adb, const frame_params& fr_ps);
// In joint stereo chooses the mode and bound first (header and fr_ps), then
// allocates; `adb` is left with the bits to fill with zeros.
void II_main_bit_allocation(const Ratios (&perm_smr)[2], const PerBand (&scfsi)[2],
                            PerBand (&bit_alloc)[2], int& adb, frame_params& fr_ps);

void II_encode_bit_alloc(const PerBand (&bit_alloc)[2], const frame_params& fr_ps,
                         bit_stream_struc* bs);
void II_encode_scale(const PerBand (&bit_alloc)[2], const PerBand (&scfsi)[2],
                     const ScaleIndexes (&scalar)[2], const frame_params& fr_ps,
                     bit_stream_struc* bs);
// The code of every sample of an allocated band; at and above the bound the
// joint samples with their scale factors.
void II_subband_quantization(const ScaleIndexes (&scalar)[2],
                             const SubbandSamples (&sb_samples)[2], const ScaleIndexes& j_scale,
                             const SubbandSamples& j_samples, const PerBand (&bit_alloc)[2],
                             Codes (&sbband)[2], const frame_params& fr_ps);
void II_sample_encoding(const Codes (&sbband)[2], const PerBand (&bit_alloc)[2],
                        const frame_params& fr_ps, bit_stream_struc* bs);

}  // namespace mpeg
