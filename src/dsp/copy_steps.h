// The copy steps: sample frames moved from an open input to a created output
// through the two files' sample buffers, with the conversion's channel treatment
// and word length (rounded or redithered), and the input's loops, regions,
// markers, sampler data and time stamp carried over when the conversion asks.
//
// Four loops do the work; the numbered steps pick a loop and a scope: the whole
// input, one frame range, or the input's region blocks packed back to back.
// Every function returns a status: 0, or the first failure (-128 after a cancel).
#pragma once

#include <cstdint>

#include "foundation/errors.h"

class CSoundFile;
class CConvSpec;

// The loops copy source frames start <= p < end (the range is cut at the
// source's end) to the destination from *outPos on and advance *outPos by the
// frames written. A file whose layout the loop cannot handle gives -50.

// Same channel count on both sides.
OSErr CopyGeneric(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
                  uint32_t* outPos, CConvSpec* conversion);
// Channel 0 of the source to both channels of a two-channel destination.
OSErr CopyM2SGeneric(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
                     uint32_t* outPos, CConvSpec* conversion);
// The average of source channels 0 and 1 to a one-channel destination.
OSErr CopyMixGeneric(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
                     uint32_t* outPos, CConvSpec* conversion);
// Source channel `channel` (0 left, 1 right) to a one-channel destination.
OSErr Copy1ChannelGeneric(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
                          uint32_t* outPos, short channel, CConvSpec* conversion);

// The numbered steps: 16 x channel treatment, plus 0 for the whole file, 4 for
// the region blocks with the strip margin, 8 for one frame range.
OSErr Copy000(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);
OSErr Copy004(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);
OSErr Copy008(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
              CConvSpec* conversion);
OSErr Copy016(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);
OSErr Copy020(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);
OSErr Copy024(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
              CConvSpec* conversion);
OSErr Copy048(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);
OSErr Copy052(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);
OSErr Copy056(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
              CConvSpec* conversion);
OSErr Copy064(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);
OSErr Copy068(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);
OSErr Copy072(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
              CConvSpec* conversion);
OSErr Copy080(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);
OSErr Copy084(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);
OSErr Copy088(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
              CConvSpec* conversion);
