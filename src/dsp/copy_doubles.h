// The double-valued copies: the same channel treatments and scopes as the copy
// steps, with the frames read through the source's Read as doubles and written
// through the destination's Write, which reduces them to its word length (with
// dither when the conversion redithers). The input's extras are carried over
// like the copy steps carry them. The normalize steps share their loop.
//
// Every function returns a status: 0, or the first failure (-128 after a cancel).
#pragma once

#include <cstdint>

#include "foundation/errors.h"

class CSoundFile;
class CConvSpec;

// How a double-valued pass lays the source's channels into the destination.
enum class DoubleLayout {
    kAllChannels,   // every channel into as many
    kMonoToStereo,  // channel 0 into both channels of a two-channel destination
    kMix,           // (channel 0 + channel 1) / 2 into a one-channel destination
    kOneChannel,    // one source channel into a one-channel destination
};

// The loop of every double-valued copy and normalize step: source frames
// start <= p < end (cut at the source's end) read a block at a time, laid out
// as `layout` says (`channel` picks the source channel of kOneChannel), each
// value multiplied by `gain`, written from *outPos on; *outPos advances by the
// frames written. The destination's dither follows the conversion's redither
// flag; after a good pass the extras of [start, end] are carried when the
// conversion asks. A pair of files the layout does not suit gives -50. The
// buffers are taken once per call.
OSErr MoveDoubleFrames(DoubleLayout layout, CSoundFile* source, CSoundFile* destination,
                       uint32_t start, uint32_t end, uint32_t* outPos, short channel, double gain,
                       CConvSpec* conversion);

// Whole-file copies write from frame 0; range copies from *outPos, advancing it;
// strip copies pack the source's region blocks, widened by the strip margin,
// back to back from frame 0.

// Every channel, word length changed by the destination.
OSErr CopyAllChannels(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);
OSErr CopyAllChannelsRegion(CSoundFile* source, CSoundFile* destination, uint32_t start,
                            uint32_t end, uint32_t* outPos, CConvSpec* conversion);
OSErr CopyAllChannelsStrip(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);

// Channel 0 of the source into both channels of a two-channel destination.
OSErr CopyM2S(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);
OSErr CopyM2SRegion(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
                    uint32_t* outPos, CConvSpec* conversion);
OSErr CopyM2SStrip(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);

// The average of source channels 0 and 1 into a one-channel destination.
OSErr CopyS2M(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);
OSErr CopyS2MRegion(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
                    uint32_t* outPos, CConvSpec* conversion);
OSErr CopyS2MStrip(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion);

// Source channel `channel` (0 left, 1 right) into a one-channel destination;
// `unused` is accepted and ignored.
OSErr Copy1Channel(CSoundFile* source, CSoundFile* destination, short channel, short unused,
                   CConvSpec* conversion);
OSErr Copy1ChannelRegion(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
                         short channel, short unused, uint32_t* outPos, CConvSpec* conversion);
OSErr Copy1ChannelStrip(CSoundFile* source, CSoundFile* destination, short channel, short unused,
                        CConvSpec* conversion);
