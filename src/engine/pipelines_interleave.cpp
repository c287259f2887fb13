// The interleave and per-configuration pipelines. A mono input goes through
// the mono-to-stereo steps into a stereo output (a chained member converts the
// rate in mono and doubles the signal only in its gain pass); a split pair or
// set goes through the group-0 steps into one file of all its channels.
#include "engine/pipelines_interleave.h"

#include "dsp/copy_steps.h"
#include "dsp/gain.h"
#include "dsp/numbered_src.h"
#include "engine/pipeline_shape.h"
#include "engine/pipelines_group0.h"
#include "soundfile/sound_file.h"

namespace {

using namespace pipeline;

OSErr Gain026FromStart(CSoundFile* source, CSoundFile* target, uint32_t start, uint32_t end,
                       CConvSpec* cs) {
    uint32_t at = 0;  // each region's output is written from its frame 0
    return Gain026(source, target, start, end, &at, cs);
}

const Steps kMonoToStereoSteps = {
    .copy = &Copy016,
    .rate = &SRConvert017,
    .gain = &Gain018,
    .compact = &Copy020,
    .compactedRate = &SRConvert021,
    .compactedGain = &Gain022,
    .extract = &Copy024,
    .rangeRate = &SRConvert025,
    .rangeGain = &Gain026FromStart,
    .rateIntoTemp = &SRConvert003,
    .compactedRateIntoTemp = &SRConvert011,
    .gainFromTemp = &Gain018,
    .rangeGainFromTemp = &Gain026FromStart,
};

// Mono files to stereo, split pairs and sets to one file; stereo and
// multichannel files to group 0; any other kind: nothing.
OSErr Interleave(CSoundFile* in, CConvSpec* cs, int low, unsigned quirks = 0) {
    switch (in->GetChannelConfig()) {
        case 1:
            return RunMember(in, cs, low, MonoToStereo(), kMonoToStereoSteps, quirks);
        case 2:
        case 3:
            return RunGroup0Member(low, in, cs);
        case 4:
        case 5:
            return RunMember(in, cs, low, Interleaved(in), kGroup0Steps, quirks);
        default:
            return 0;
    }
}

// Split pairs and sets to the interleave member, every single file to group 0.
OSErr ByConfiguration(CSoundFile* in, CConvSpec* cs, int low) {
    using Member = OSErr (*)(CSoundFile*, CConvSpec*);
    static constexpr Member kInterleave[] = {&Run016, &Run017, &Run018, &Run019, &Run020, &Run021,
                                             &Run022, &Run023, &Run024, &Run025, &Run026, &Run027};
    switch (in->GetChannelConfig()) {
        case 1:
        case 2:
        case 3:
            return RunGroup0Member(low, in, cs);
        case 4:
        case 5:
            return kInterleave[low](in, cs);
        default:
            return 0;
    }
}

}  // namespace

OSErr Run016(CSoundFile* in, CConvSpec* cs) {
    return Interleave(in, cs, 0);
}
OSErr Run017(CSoundFile* in, CConvSpec* cs) {
    return Interleave(in, cs, 1);
}
OSErr Run018(CSoundFile* in, CConvSpec* cs) {
    return Interleave(in, cs, 2);
}
OSErr Run019(CSoundFile* in, CConvSpec* cs) {
    return Interleave(in, cs, 3);
}
OSErr Run020(CSoundFile* in, CConvSpec* cs) {
    return Interleave(in, cs, 4);
}
OSErr Run021(CSoundFile* in, CConvSpec* cs) {
    return Interleave(in, cs, 5);
}
OSErr Run022(CSoundFile* in, CConvSpec* cs) {
    return Interleave(in, cs, 6);
}
// Reports nothing after the rate conversion into its temporary file.
OSErr Run023(CSoundFile* in, CConvSpec* cs) {
    return Interleave(in, cs, 7, kNoTempReport);
}
OSErr Run024(CSoundFile* in, CConvSpec* cs) {
    return Interleave(in, cs, 8);
}
OSErr Run025(CSoundFile* in, CConvSpec* cs) {
    return Interleave(in, cs, 9);
}
OSErr Run026(CSoundFile* in, CConvSpec* cs) {
    return Interleave(in, cs, 10);
}
OSErr Run027(CSoundFile* in, CConvSpec* cs) {
    return Interleave(in, cs, 11);
}

OSErr Run096(CSoundFile* in, CConvSpec* cs) {
    return ByConfiguration(in, cs, 0);
}
OSErr Run097(CSoundFile* in, CConvSpec* cs) {
    return ByConfiguration(in, cs, 1);
}
OSErr Run098(CSoundFile* in, CConvSpec* cs) {
    return ByConfiguration(in, cs, 2);
}
OSErr Run099(CSoundFile* in, CConvSpec* cs) {
    return ByConfiguration(in, cs, 3);
}
OSErr Run100(CSoundFile* in, CConvSpec* cs) {
    return ByConfiguration(in, cs, 4);
}
OSErr Run101(CSoundFile* in, CConvSpec* cs) {
    return ByConfiguration(in, cs, 5);
}
OSErr Run102(CSoundFile* in, CConvSpec* cs) {
    return ByConfiguration(in, cs, 6);
}
OSErr Run103(CSoundFile* in, CConvSpec* cs) {
    return ByConfiguration(in, cs, 7);
}
OSErr Run104(CSoundFile* in, CConvSpec* cs) {
    return ByConfiguration(in, cs, 8);
}
OSErr Run105(CSoundFile* in, CConvSpec* cs) {
    return ByConfiguration(in, cs, 9);
}
OSErr Run106(CSoundFile* in, CConvSpec* cs) {
    return ByConfiguration(in, cs, 10);
}
OSErr Run107(CSoundFile* in, CConvSpec* cs) {
    return ByConfiguration(in, cs, 11);
}
