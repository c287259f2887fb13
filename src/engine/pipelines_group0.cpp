// The group-0 pipelines: the input carried into the conversion's output type,
// word length and name with the group-0 steps, in the pipeline shape; case 0
// takes the direct-coding path where it applies.
#include "engine/pipelines_group0.h"

#include <string>

#include "dsp/copy_steps.h"
#include "dsp/gain.h"
#include "dsp/numbered_src.h"
#include "engine/pipeline_shape.h"
#include "foundation/pstring.h"

using pipeline::AsInput;
using pipeline::RunMember;

const pipeline::Steps kGroup0Steps = {
    .copy = &Copy000,
    .rate = &SRConvert003,
    .gain = &Gain002,
    .compact = &Copy004,
    .compactedRate = &SRConvert011,
    .compactedGain = &Gain006,
    .extract = &Copy008,
    .rangeRate = &SRConvert009,
    .rangeGain = &Gain010,
    .rateIntoTemp = &SRConvert003,
    .compactedRateIntoTemp = &SRConvert011,
    .gainFromTemp = &Gain002,
    .rangeGainFromTemp = &Gain010,
};

std::string RegionFileName(const unsigned char* name, int index) {
    std::string text;
    for (char c : MacRomanToUtf8(pstrBytes(name))) {
        if (c == '/')
            text += ':';
        else if (c != '\0')
            text += c;
    }
    if (text.empty() || text == "." || text == "..") text = "Region " + std::to_string(index + 1);
    return text;
}

OSErr RunGroup0Member(int low, CSoundFile* in, CConvSpec* cs) {
    using Member = OSErr (*)(CSoundFile*, CConvSpec*);
    static constexpr Member kMembers[] = {&Run000, &Run001, &Run002, &Run003, &Run004, &Run005,
                                          &Run006, &Run007, &Run008, &Run009, &Run010, &Run011};
    return low >= 0 && low < 12 ? kMembers[low](in, cs) : static_cast<OSErr>(kParamErr);
}

OSErr Run000(CSoundFile* in, CConvSpec* cs) {
    if (pipeline::TakesDirectCoding(in, cs)) return pipeline::RunDirectCoding(in, cs);
    return RunMember(in, cs, 0, AsInput(in), kGroup0Steps);
}

OSErr Run001(CSoundFile* in, CConvSpec* cs) {
    return RunMember(in, cs, 1, AsInput(in), kGroup0Steps);
}

OSErr Run002(CSoundFile* in, CConvSpec* cs) {
    return RunMember(in, cs, 2, AsInput(in), kGroup0Steps);
}

OSErr Run003(CSoundFile* in, CConvSpec* cs) {
    return RunMember(in, cs, 3, AsInput(in), kGroup0Steps);
}

OSErr Run004(CSoundFile* in, CConvSpec* cs) {
    return RunMember(in, cs, 4, AsInput(in), kGroup0Steps);
}

OSErr Run005(CSoundFile* in, CConvSpec* cs) {
    return RunMember(in, cs, 5, AsInput(in), kGroup0Steps);
}

OSErr Run006(CSoundFile* in, CConvSpec* cs) {
    return RunMember(in, cs, 6, AsInput(in), kGroup0Steps);
}

OSErr Run007(CSoundFile* in, CConvSpec* cs) {
    return RunMember(in, cs, 7, AsInput(in), kGroup0Steps);
}

OSErr Run008(CSoundFile* in, CConvSpec* cs) {
    return RunMember(in, cs, 8, AsInput(in), kGroup0Steps);
}

OSErr Run009(CSoundFile* in, CConvSpec* cs) {
    return RunMember(in, cs, 9, AsInput(in), kGroup0Steps);
}

OSErr Run010(CSoundFile* in, CConvSpec* cs) {
    return RunMember(in, cs, 10, AsInput(in), kGroup0Steps);
}

OSErr Run011(CSoundFile* in, CConvSpec* cs) {
    return RunMember(in, cs, 11, AsInput(in), kGroup0Steps);
}
