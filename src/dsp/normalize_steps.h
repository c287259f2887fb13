// The normalize steps: a frame range, the whole input or its region blocks
// brought to the conversion's ceiling by one fixed gain, 1 / the divisor that
// the normalize decision stores, with the same channel treatments as the copy
// steps. When the decision finds the peak already on the ceiling they copy.
// Frames cross as doubles and the destination reduces them to its word length
// (with dither when the conversion redithers); the input's extras are carried
// when the conversion asks.
//
// Every function returns a status: 0, or the first failure (-128 after a cancel,
// -20024 when a step must decide and the stored peak was never measured, -50
// for a pair of files the treatment does not suit or a divisor that cannot divide).
#pragma once

#include <cstdint>

#include "foundation/errors.h"

class CSoundFile;
class CConvSpec;

// The loops write source frames first <= p < end (cut at the source's end) from
// *outPos on and advance *outPos by the frames written. All but Normalize058
// apply the divisor stored last, without deciding.

// Every channel into as many.
OSErr NormalizeAllChannels(CSoundFile* source, CSoundFile* dest, uint32_t first, uint32_t end,
                           CConvSpec* conversion, uint32_t* outPos);
// Channel 0 into both channels of a two-channel destination.
OSErr Normalize027(CSoundFile* source, CSoundFile* dest, uint32_t first, uint32_t end,
                   uint32_t* outPos, CConvSpec* conversion);
// (channel 0 + channel 1) / 2 into one channel. It decides for itself, on half
// the stored peak (the scan measures the sum of the two channels), and copies
// the mix when no gain is needed; the stored peak is left as it was.
OSErr Normalize058(CSoundFile* source, CSoundFile* dest, uint32_t first, uint32_t end,
                   CConvSpec* conversion, uint32_t* outPos);
// Source channel `channel` into one channel; `flag` is accepted and ignored.
OSErr Normalize1Channel(CSoundFile* source, CSoundFile* dest, uint32_t first, uint32_t end,
                        CConvSpec* conversion, short channel, short flag, uint32_t* outPos);

// The steps decide with IsNormalizeNeeded on `dest`, then normalize or copy.
// Whole-file and range steps write from frame 0; strip steps pack the source's
// region blocks, widened by the strip margin at the source's rate, back to back.

// Every channel.
OSErr Normalize003(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion);
OSErr Normalize006(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion);
OSErr Normalize011(CSoundFile* source, CSoundFile* dest, uint32_t first, uint32_t end,
                   CConvSpec* conversion);
OSErr NormalizeAllChannelsStrip(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion);
// Mono to stereo.
OSErr Normalize019(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion);
OSErr Normalize022(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion);
// Mix to mono.
OSErr Normalize050(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion);
OSErr Normalize054(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion);
// Left channel.
OSErr Normalize066(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion);
OSErr Normalize070(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion);
OSErr Normalize074(CSoundFile* source, CSoundFile* dest, uint32_t first, uint32_t end,
                   CConvSpec* conversion);
// Right channel.
OSErr Normalize082(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion);
OSErr Normalize086(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion);
OSErr Normalize090(CSoundFile* source, CSoundFile* dest, uint32_t first, uint32_t end,
                   CConvSpec* conversion);
// One channel over the region blocks; `flag` is accepted and ignored.
OSErr Normalize1ChannelStrip(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion,
                             short channel, short flag);
