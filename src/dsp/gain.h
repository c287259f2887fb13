// The gain pass: one pass over a frame range of an open input into a created
// output that applies what the conversion asks for: a fixed gain (normalize to
// the ceiling, or the limiter's boost when the boosted peak stays under the
// ceiling), a look-ahead peak limiter holding the boosted signal at the ceiling,
// and a gate attenuating the gaps the scan found. Frames reach the output as
// doubles; the output reduces them to its word length (with dither when the
// conversion redithers). After a good pass the input's extras are carried over
// when the conversion asks.
//
// Five loops do the work, one per channel layout; the numbered steps pick a loop
// by the input's channel count and a scope: the whole input, one frame range, or
// the input's region blocks widened by the strip margin and packed back to back.
// Every function returns a status: 0, or the first failure (-128 after a cancel,
// -20024 when normalizing without a valid peak).
#pragma once

#include <cstdint>

#include "foundation/errors.h"

class CSoundFile;
class CConvSpec;

// The loops process input frames start <= p < end (cut at the input's end),
// write them to the output from *outPos on and advance *outPos by the frames
// written. An output whose channel count does not suit the loop gives -50.

// Input channel `channel` into a one-channel output.
OSErr GenericGainMono(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
                      uint32_t* outPos, CConvSpec* conversion, short channel);
// Two channels into two, one gain for both.
OSErr GenericGainStereo(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
                        uint32_t* outPos, CConvSpec* conversion);
// Every channel into as many, one gain for all.
OSErr GenericGainMultiChannel(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
                              uint32_t* outPos, CConvSpec* conversion);
// Input channel 0 into both channels of a two-channel output.
OSErr GenericGainM2S(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
                     uint32_t* outPos, CConvSpec* conversion);
// The mix (left + right) / 2 of input channels 0 and 1 into a one-channel output;
// the stored peak is that of left + right, as the scan measures the mix.
OSErr GenericGainMix(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
                     uint32_t* outPos, CConvSpec* conversion);

// The numbered steps: 16 x channel treatment, plus 2 for the whole file, 6 for
// the region blocks with the strip margin, 10 for one frame range.
OSErr Gain002(CSoundFile* input, CSoundFile* output, CConvSpec* conversion);
OSErr Gain006(CSoundFile* input, CSoundFile* output, CConvSpec* conversion);
OSErr Gain010(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
              CConvSpec* conversion);
OSErr Gain018(CSoundFile* input, CSoundFile* output, CConvSpec* conversion);
OSErr Gain022(CSoundFile* input, CSoundFile* output, CConvSpec* conversion);
// Writes at the caller's *outPos and leaves it advanced.
OSErr Gain026(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end, uint32_t* outPos,
              CConvSpec* conversion);
// The mix steps refuse an input of three or more channels (-20025) on the whole
// file and on a range.
OSErr Gain050(CSoundFile* input, CSoundFile* output, CConvSpec* conversion);
OSErr Gain054(CSoundFile* input, CSoundFile* output, CConvSpec* conversion);
// Writes at the caller's *outPos and leaves it advanced.
OSErr Gain058(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end, uint32_t* outPos,
              CConvSpec* conversion);
OSErr Gain066(CSoundFile* input, CSoundFile* output, CConvSpec* conversion);
OSErr Gain070(CSoundFile* input, CSoundFile* output, CConvSpec* conversion);
OSErr Gain074(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
              CConvSpec* conversion);
OSErr Gain082(CSoundFile* input, CSoundFile* output, CConvSpec* conversion);
OSErr Gain086(CSoundFile* input, CSoundFile* output, CConvSpec* conversion);
OSErr Gain090(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
              CConvSpec* conversion);
