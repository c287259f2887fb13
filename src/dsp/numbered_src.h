// The numbered sample-rate conversion steps the pipelines call. The number is
// the pipeline's case code: 16 × channel treatment (0 none, 16 mono to stereo,
// 48 mix to one channel, 64 left only, 80 right only) plus 3 for the whole
// file, 9 for one frame range and 11 for the strip walk (the mono-to-stereo
// group: 17, 25 and 21). Each returns 0 or the first failing status (-128 after
// a cancel) and leaves the conversion's peak at what it wrote, marked valid.
// 003, 009 and 011 convert a two-channel source without a channel treatment (or
// with treatment 1, 2 or 6) in stereo; any other source whose output has its
// channel count goes through in one pass, every channel into its own, and the
// output is marked one channel done; else each channel is converted alone.
#pragma once

#include <cstdint>

#include "foundation/errors.h"

class CConvSpec;
class CSoundFile;

// Whole file, peak reset first.
short SRConvert003(CSoundFile* source, CSoundFile* output, CConvSpec* conversion);
short SRConvert017(CSoundFile* source, CSoundFile* output, CConvSpec* conversion);
short SRConvert051(CSoundFile* source, CSoundFile* output, CConvSpec* conversion);
short SRConvert067(CSoundFile* source, CSoundFile* output, CConvSpec* conversion);
short SRConvert083(CSoundFile* source, CSoundFile* output, CConvSpec* conversion);

// Source frames start..end from output frame 0 (SRConvert057 from *outPos,
// which it advances). 073 and 089 reset the peak; 009, 025 and 057 do not.
short SRConvert009(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                   CConvSpec* conversion);
short SRConvert025(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                   CConvSpec* conversion);
short SRConvert057(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                   CConvSpec* conversion, uint32_t* outPos);
short SRConvert073(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                   CConvSpec* conversion);
short SRConvert089(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                   CConvSpec* conversion);

// The strip walk: the source's region blocks, widened by the strip margin when
// the conversion strips, converted back to back. Peak reset first; 011, 059,
// 075 and 091 carry every block's extras whatever the conversion's setting
// (which they put back), 021 leaves that setting alone.
short SRConvert011(CSoundFile* source, CSoundFile* output, CConvSpec* conversion);
short SRConvert021(CSoundFile* source, CSoundFile* output, CConvSpec* conversion);
short SRConvert059(CSoundFile* source, CSoundFile* output, CConvSpec* conversion);
short SRConvert075(CSoundFile* source, CSoundFile* output, CConvSpec* conversion);
short SRConvert091(CSoundFile* source, CSoundFile* output, CConvSpec* conversion);

// The strip walk of one channel with SRConvert1ChannelRegion, without resetting
// the peak or forcing the extras. The range and the last argument are not used.
short SRConvert1ChannelStrip(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                             CConvSpec* conversion, short channel, short unused);
