// The mix, left and right pipelines: a two-channel input (a stereo file or a
// split pair) goes through its treatment's steps into one mono output; the
// chained members convert the rate into a mono temporary file, whose gain pass
// is the group-0 one.
#include "engine/pipelines_mono.h"

#include "dsp/copy_steps.h"
#include "dsp/gain.h"
#include "dsp/numbered_src.h"
#include "engine/pipeline_shape.h"
#include "engine/pipelines_group0.h"
#include "soundfile/sound_file.h"

namespace {

using namespace pipeline;

// The range steps that write at a running place, each region's output from its frame 0.
OSErr SRConvert057FromStart(CSoundFile* source, CSoundFile* target, uint32_t start, uint32_t end,
                            CConvSpec* cs) {
    uint32_t at = 0;
    return SRConvert057(source, target, start, end, cs, &at);
}

OSErr Gain058FromStart(CSoundFile* source, CSoundFile* target, uint32_t start, uint32_t end,
                       CConvSpec* cs) {
    uint32_t at = 0;
    return Gain058(source, target, start, end, &at, cs);
}

const Steps kMixSteps = {
    .copy = &Copy048,
    .rate = &SRConvert051,
    .gain = &Gain050,
    .compact = &Copy052,
    .compactedRate = &SRConvert059,
    .compactedGain = &Gain054,
    .extract = &Copy056,
    .rangeRate = &SRConvert057FromStart,
    .rangeGain = &Gain058FromStart,
    .rateIntoTemp = &SRConvert051,
    .compactedRateIntoTemp = &SRConvert059,
    .gainFromTemp = &Gain002,
    .rangeGainFromTemp = &Gain010,
};

const Steps kLeftSteps = {
    .copy = &Copy064,
    .rate = &SRConvert067,
    .gain = &Gain066,
    .compact = &Copy068,
    .compactedRate = &SRConvert075,
    .compactedGain = &Gain070,
    .extract = &Copy072,
    .rangeRate = &SRConvert073,
    .rangeGain = &Gain074,
    .rateIntoTemp = &SRConvert067,
    .compactedRateIntoTemp = &SRConvert075,
    .gainFromTemp = &Gain002,
    .rangeGainFromTemp = &Gain010,
};

const Steps kRightSteps = {
    .copy = &Copy080,
    .rate = &SRConvert083,
    .gain = &Gain082,
    .compact = &Copy084,
    .compactedRate = &SRConvert091,
    .compactedGain = &Gain086,
    .extract = &Copy088,
    .rangeRate = &SRConvert089,
    .rangeGain = &Gain090,
    .rateIntoTemp = &SRConvert083,
    .compactedRateIntoTemp = &SRConvert091,
    .gainFromTemp = &Gain002,
    .rangeGainFromTemp = &Gain010,
};

// Stereo files and split pairs to one mono file; mono and multichannel files
// and surround sets to group 0, which keeps all their channels (a set would
// otherwise be reported converted with nothing written); any other kind:
// nothing. The extraction copy makes its folder first and announces
// "Extracting regions".
OSErr ToMono(CSoundFile* in, CConvSpec* cs, int low, const Steps& steps, unsigned quirks = 0) {
    switch (in->GetChannelConfig()) {
        case 2:
        case 4:
            return RunMember(in, cs, low, OneChannel(), steps, quirks | kExtractFolderFirst);
        case 1:
        case 3:
        case 5:
            return RunGroup0Member(low, in, cs);
        default:
            return 0;
    }
}

}  // namespace

OSErr Run048(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 0, kMixSteps);
}
OSErr Run049(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 1, kMixSteps);
}
OSErr Run050(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 2, kMixSteps);
}
OSErr Run051(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 3, kMixSteps);
}
OSErr Run052(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 4, kMixSteps);
}
OSErr Run053(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 5, kMixSteps);
}
OSErr Run054(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 6, kMixSteps);
}
OSErr Run055(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 7, kMixSteps);
}
OSErr Run056(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 8, kMixSteps);
}
// Announces the rate ratio only before the region loop.
OSErr Run057(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 9, kMixSteps, kRatioOnceOnly);
}
OSErr Run058(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 10, kMixSteps);
}
OSErr Run059(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 11, kMixSteps);
}

OSErr Run064(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 0, kLeftSteps);
}
OSErr Run065(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 1, kLeftSteps);
}
OSErr Run066(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 2, kLeftSteps);
}
OSErr Run067(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 3, kLeftSteps);
}
OSErr Run068(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 4, kLeftSteps);
}
OSErr Run069(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 5, kLeftSteps);
}
OSErr Run070(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 6, kLeftSteps);
}
OSErr Run071(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 7, kLeftSteps);
}
OSErr Run072(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 8, kLeftSteps);
}
OSErr Run073(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 9, kLeftSteps);
}
OSErr Run074(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 10, kLeftSteps);
}
OSErr Run075(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 11, kLeftSteps);
}

OSErr Run080(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 0, kRightSteps);
}
OSErr Run081(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 1, kRightSteps);
}
OSErr Run082(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 2, kRightSteps);
}
OSErr Run083(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 3, kRightSteps);
}
// Count, decode and announce before the output is made.
OSErr Run084(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 4, kRightSteps, kCreateAfterText);
}
OSErr Run085(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 5, kRightSteps, kCreateAfterText);
}
OSErr Run086(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 6, kRightSteps);
}
OSErr Run087(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 7, kRightSteps);
}
OSErr Run088(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 8, kRightSteps);
}
OSErr Run089(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 9, kRightSteps);
}
OSErr Run090(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 10, kRightSteps);
}
OSErr Run091(CSoundFile* in, CConvSpec* cs) {
    return ToMono(in, cs, 11, kRightSteps);
}
