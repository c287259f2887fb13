// The split pipelines: the group-0 steps write interleaved frames into a split
// pair or an output set, which hands each channel to its member file; the
// members follow the order of the group-0 output-set branch.
#include "engine/pipelines_split.h"

#include "engine/pipeline_shape.h"
#include "engine/pipelines_group0.h"
#include "soundfile/sound_file.h"

namespace {

using namespace pipeline;

// Stereo and multichannel files to a pair or set; mono files, pairs and sets
// to group 0; any other kind: nothing.
OSErr Split(CSoundFile* in, CConvSpec* cs, int low, unsigned quirks = 0) {
    switch (in->GetChannelConfig()) {
        case 2:
        case 3:
            return RunMember(in, cs, low, Separated(in), kGroup0Steps, quirks);
        case 1:
        case 4:
        case 5:
            return RunGroup0Member(low, in, cs);
        default:
            return 0;
    }
}

}  // namespace

OSErr Run032(CSoundFile* in, CConvSpec* cs) {
    return Split(in, cs, 0);
}
OSErr Run033(CSoundFile* in, CConvSpec* cs) {
    return Split(in, cs, 1);
}
OSErr Run034(CSoundFile* in, CConvSpec* cs) {
    return Split(in, cs, 2);
}
OSErr Run035(CSoundFile* in, CConvSpec* cs) {
    return Split(in, cs, 3);
}
OSErr Run036(CSoundFile* in, CConvSpec* cs) {
    return Split(in, cs, 4);
}
OSErr Run037(CSoundFile* in, CConvSpec* cs) {
    return Split(in, cs, 5);
}
OSErr Run038(CSoundFile* in, CConvSpec* cs) {
    return Split(in, cs, 6);
}
OSErr Run039(CSoundFile* in, CConvSpec* cs) {
    return Split(in, cs, 7);
}
OSErr Run040(CSoundFile* in, CConvSpec* cs) {
    return Split(in, cs, 8);
}
// Announces each region output's length after its conversion.
OSErr Run041(CSoundFile* in, CConvSpec* cs) {
    return Split(in, cs, 9, kReportRegionFrames);
}
OSErr Run042(CSoundFile* in, CConvSpec* cs) {
    return Split(in, cs, 10);
}
// Names the pair or set of each region without ".L".
OSErr Run043(CSoundFile* in, CConvSpec* cs) {
    return Split(in, cs, 11, kPlainRegionNames);
}
