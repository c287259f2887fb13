// Linear-interpolation sample-rate conversion, used at conversion quality 0.
// These converters write the range and raise the conversion's running peak;
// marking the peak valid and carrying the extras over is left to the region
// converter that called them.
#pragma once

#include <cstdint>

#include "dsp/rate_io.h"
#include "foundation/errors.h"

class CConvSpec;
class CSoundFile;

// Converts source frames start..end of a two-channel source into a
// two-channel output at *outPos, which is advanced by the frames written.
short SRConvertStereoRegionLinear(CSoundFile* source, CSoundFile* output, uint32_t start,
                                  uint32_t end, CConvSpec* conversion, uint32_t* outPos);
// The same for one source channel (the second short is not used).
short SRConvert1ChannelRegionLinear(CSoundFile* source, CSoundFile* output, uint32_t start,
                                    uint32_t end, CConvSpec* conversion, short channel,
                                    short unused, uint32_t* outPos);

namespace rateconv {

// How many output frames one block holds, from the output's buffer frames B and
// the ratio q of source rate to target rate: trunc(B / q - 2) for the stereo and
// one-channel converters, trunc(B / sqrt(q)) for the mixing and mono-to-stereo
// ones; at least one.
enum class LinearBlocks { kBufferLessTwo, kBufferOverRoot };

// The linear loop over any layout: output frame j of the range interpolates
// between the two source frames around start + j × source rate / target rate;
// frames at or after `end` count as silence. Writes floor((end - start) ×
// target rate / source rate) frames.
OSErr ConvertLinear(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                    CConvSpec* conversion, SourceLayout in, short channel, OutputLayout out,
                    LinearBlocks blocks, uint32_t* outPos);

}  // namespace rateconv
