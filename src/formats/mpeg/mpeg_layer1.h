// The Layer I coding steps of one frame, after the analysis filter bank: scale
// factors, joint stereo, bit allocation against the psychoacoustic model's
// ratios, quantisation and the frame's fields. Each step reads what it is given
// and writes only its outputs.
#pragma once

#include "formats/mpeg/mpeg_bitstream.h"
#include "formats/mpeg/mpeg_coding_state.h"

namespace mpeg {

// Scale-factor index of each channel's subbands (part 0) from their largest sample.
void I_scale_factor_calc(const SubbandSamples* sb_sample, ScaleIndexes* scalar, int stereo);
// The joint (mid) samples: half the sum of the two channels.
void I_combine_LR(const SubbandSamples (&sb_sample)[2], SubbandSamples& joint_sample);
// Each subband's largest scale factor.
void put_scale(const ScaleIndexes (&scalar)[2], const frame_params& fr_ps, Ratios (&max_sc)[2]);

// Bits the frame needs for noise below the mask everywhere, at the current bound.
int I_bits_for_nonoise(const Ratios (&perm_smr)[2], const frame_params& fr_ps);
// Spends the available bits, band by band where the noise is least masked;
// the available bits are reduced by what the frame spends.
void I_a_bit_allocation(const Ratios (&perm_smr)[2], PerBand (&bit_alloc)[2], int& adb,
                        const frame_params& fr_ps);
// In joint stereo chooses the mode and bound first (header and fr_ps), then
// allocates; `adb` is left with the bits to fill with zeros.
void I_main_bit_allocation(const Ratios (&perm_smr)[2], PerBand (&bit_alloc)[2], int& adb,
                           frame_params& fr_ps);

void I_encode_bit_alloc(const PerBand (&bit_alloc)[2], const frame_params& fr_ps,
                        bit_stream_struc* bs);
void I_encode_scale(const ScaleIndexes (&scalar)[2], const PerBand (&bit_alloc)[2],
                    const frame_params& fr_ps, bit_stream_struc* bs);
// The code of every sample of an allocated band; at and above the bound the
// joint samples with their scale factors.
void I_subband_quantization(const ScaleIndexes (&scalar)[2], const SubbandSamples (&sb_samples)[2],
                            const ScaleIndexes& j_scale, const SubbandSamples& j_samples,
                            const PerBand (&bit_alloc)[2], Codes (&sbband)[2],
                            const frame_params& fr_ps);
void I_sample_encoding(const Codes (&sbband)[2], const PerBand (&bit_alloc)[2],
                       const frame_params& fr_ps, bit_stream_struc* bs);

}  // namespace mpeg
