// The shape every numbered pipeline follows, whatever its channel group: the
// output's type, word length and rate derived once; the output, the temporary
// file and the region folder made in a fixed order; the numbered steps run
// between them with their progress texts; fades, Dispose, and the first
// failure winning over every later step and clean-up.
//
// A member is told by its low four bits (1 rate, 2 gain, 4 strip, 8 regions),
// the layout of what it makes, and the numbered steps of its channel group.
#pragma once

#include <cstdint>

#include "foundation/errors.h"
#include "soundfile/sound_file.h"

class CConvSpec;

namespace pipeline {

using WholeStep = OSErr (*)(CSoundFile* source, CSoundFile* target, CConvSpec* cs);
using RangeStep = OSErr (*)(CSoundFile* source, CSoundFile* target, uint32_t start, uint32_t end,
                            CConvSpec* cs);

// The order of steps a member follows: that of one output file, or that of an
// output set (the step count and decoding mostly come before the set is made).
enum class Branch { kSingle, kSet };
// What the output is made as: one file, a split pair of mono files ('Splt' with
// the output type as member type), or a surround set of mono files ('Srnd').
enum class Form { kFile, kPair, kSet };

// What a member makes of its input.
struct Layout {
    Branch branch;
    Form form;
    short channels;  // given to the output's Create
    CSoundFile::ChannelConfiguration configuration;
    short tempChannels;  // the temporary file between a rate conversion and a gain pass
    CSoundFile::ChannelConfiguration tempConfiguration;
    bool dotL;  // the placeholder name of a pair or set takes ".L"
};

// No channel treatment: one file like the input for a mono, stereo or
// interleaved input; an output set like the input for a split pair or set.
Layout AsInput(CSoundFile* in);
// One file holding every channel of a split pair or set, in its configuration.
Layout Interleaved(CSoundFile* in);
// One stereo file from a mono input (its temporary file stays mono).
Layout MonoToStereo();
// A split pair from a two-channel file, an output set from one of more channels.
Layout Separated(CSoundFile* in);
// One mono file (mix, left or right of a two-channel input).
Layout OneChannel();

// The numbered steps a channel group calls, by the low bits they serve.
struct Steps {
    WholeStep copy;                   // 0
    WholeStep rate;                   // 1
    WholeStep gain;                   // 2
    WholeStep compact;                // 4
    WholeStep compactedRate;          // 5
    WholeStep compactedGain;          // 6
    RangeStep extract;                // 8
    RangeStep rangeRate;              // 9
    RangeStep rangeGain;              // 10
    WholeStep rateIntoTemp;           // 3: the input into the temporary file
    WholeStep compactedRateIntoTemp;  // 7 and 11
    WholeStep gainFromTemp;           // 3 and 7: the temporary file into the output
    RangeStep rangeGainFromTemp;      // 11
};

// Where a member departs from the group-0 member of its low bits.
enum Quirk : unsigned {
    kCreateAfterText = 1u << 0,     // 4, 5: a single output is made after the step text
    kNoTempReport = 1u << 1,        // 7: no length or channel count after the rate conversion
    kExtractFolderFirst = 1u << 2,  // 8: a single output's folder first, "Extracting regions"
    kRatioOnceOnly = 1u << 3,       // 9: the rate ratio only with the announcement before the loop
    kReportRegionFrames = 1u << 4,  // 9: each region output's length is announced after it
    kPlainRegionNames = 1u << 5,    // 10, 11: a pair or set of a region takes no ".L"
};

// Runs the member of low bits `low` (0 to 11; without the direct-coding path of
// case 0). 0, the first failure, -20000 when regions are needed and missing,
// -50 for a split pair or set whose members decode on open, or for `low` out
// of range.
OSErr RunMember(CSoundFile* in, CConvSpec* cs, int low, const Layout& layout, const Steps& steps,
                unsigned quirks = 0);

// The direct-coding path of case 0: a 16-bit Sound Designer II file into a type
// coded on close, coded straight from the input when the output closes.
bool TakesDirectCoding(CSoundFile* in, CConvSpec* cs);
OSErr RunDirectCoding(CSoundFile* in, CConvSpec* cs);

}  // namespace pipeline
