// The pipelines of the case codes 0 to 11: one open input carried into the
// conversion's output type, word length and name, with sample-rate conversion
// (1), gain (2), compaction to the regions (4) and extraction of each region
// into a file of its own (8). Mono, stereo and interleaved inputs give one
// output file; split pairs and surround sets give an output set of mono files.
#pragma once

#include <string>

#include "engine/pipeline_shape.h"
#include "foundation/errors.h"

class CSoundFile;
class CConvSpec;

// Pipeline codes of this group.
enum : int {
    kNoRegionsErr = -20000,  // compaction or extraction asked for, and the input has no regions
};

OSErr Run000(CSoundFile* in, CConvSpec* cs);
OSErr Run001(CSoundFile* in, CConvSpec* cs);
OSErr Run002(CSoundFile* in, CConvSpec* cs);
OSErr Run003(CSoundFile* in, CConvSpec* cs);
OSErr Run004(CSoundFile* in, CConvSpec* cs);
OSErr Run005(CSoundFile* in, CConvSpec* cs);
OSErr Run006(CSoundFile* in, CConvSpec* cs);
OSErr Run007(CSoundFile* in, CConvSpec* cs);
OSErr Run008(CSoundFile* in, CConvSpec* cs);
OSErr Run009(CSoundFile* in, CConvSpec* cs);
OSErr Run010(CSoundFile* in, CConvSpec* cs);
OSErr Run011(CSoundFile* in, CConvSpec* cs);

// The steps of group 0, which the channel groups also call where they keep the
// input's channels (interleaving split pairs and sets, splitting files).
extern const pipeline::Steps kGroup0Steps;

// Runs the group-0 member of low bits `low` (Run000 to Run011), to which the
// channel groups hand the inputs they do not treat; -50 outside 0..11.
OSErr RunGroup0Member(int low, CSoundFile* in, CConvSpec* cs);

// The file name of an extracted region: its Pascal name (Mac Roman) as UTF-8,
// "/" shown as ":" and NUL left out; a name that would still be empty, "." or
// ".." becomes "Region " and the region's number from 1.
std::string RegionFileName(const unsigned char* name, int index);
