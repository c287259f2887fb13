#include "dsp/numbered_src.h"

#include "conversion/cconv_spec.h"
#include "dsp/polyphase_src.h"
#include "dsp/strip_walk.h"
#include "soundfile/progress.h"
#include "soundfile/sound_file.h"

namespace {

// Whether a two-channel source goes through the stereo converter: without a
// channel treatment, or with one of the treatments that keep both channels.
bool ConvertsInStereo(CSoundFile* source, CConvSpec* conversion) {
    if (source->GetNumChannels() != 2) return false;
    if (!conversion->GetNeedsChannelTreat()) return true;
    const short treat = conversion->GetChannelTreat();
    return treat == 1 || treat == 2 || treat == 6;
}

// Converts the strip walk's blocks back to back from output frame *outPos with
// convert(start, end, outPos); the walk's normal end is 0.
template <class Convert>
OSErr WalkBlocks(CSoundFile* source, CConvSpec* conversion, uint32_t* outPos, Convert&& convert) {
    const uint32_t margin =
        conversion->GetNeedsStrip()
            ? StripMarginFrames(source->GetSampleRate(), conversion->GetStripMargin())
            : 0;
    StripWalk walk(*source, margin);
    uint32_t start = 0, end = 0;
    OSErr err;
    while ((err = walk.Next(&start, &end)) == 0)
        if ((err = convert(start, end, outPos))) return err;
    return StripWalkStatus(err);
}

// One pass per source channel, each from output frame 0, the output marked one
// channel done after each; stops at the first failure.
template <class Pass>
OSErr EachChannel(CSoundFile* source, CSoundFile* output, Pass&& pass) {
    const short channels = source->GetNumChannels();
    for (short c = 0; c < channels; ++c) {
        SetProgressChannel(c + 1, channels);
        uint32_t outPos = 0;
        const OSErr err = pass(c, &outPos);
        output->SetOneChannelDone(true);
        if (err) return err;
    }
    return 0;
}

// Runs a strip step with the copy-extras setting on, and puts it back.
template <class Body>
OSErr WithExtrasForced(CConvSpec* conversion, Body&& body) {
    const short kept = conversion->GetCopyExtras();
    conversion->SetCopyExtras(1);
    const OSErr err = body();
    conversion->SetCopyExtras(kept);
    return err;
}

// Whether a source that is not converted in stereo goes through in one pass,
// every channel into its own: the output has the source's channels. Else each
// channel is converted on its own.
bool ConvertsInOnePass(CSoundFile* source, CSoundFile* output) {
    return source->GetNumChannels() > 0 && output->GetNumChannels() == source->GetNumChannels();
}

bool Usable(CSoundFile* source, CSoundFile* output, CConvSpec* conversion) {
    return source && output && conversion;
}

}  // namespace

// ---- Whole file -------------------------------------------------------------------

short SRConvert003(CSoundFile* source, CSoundFile* output, CConvSpec* conversion) {
    if (!Usable(source, output, conversion)) return kParamErr;
    conversion->SetMax(0.0);
    return SRConvert009(source, output, 0, source->GetNumSFrames(), conversion);
}

short SRConvert017(CSoundFile* source, CSoundFile* output, CConvSpec* conversion) {
    if (!Usable(source, output, conversion)) return kParamErr;
    conversion->SetMax(0.0);
    uint32_t outPos = 0;
    return SRConvert1ChannelRegionM2S(source, output, 0, source->GetNumSFrames(), conversion,
                                      &outPos);
}

short SRConvert051(CSoundFile* source, CSoundFile* output, CConvSpec* conversion) {
    if (!Usable(source, output, conversion)) return kParamErr;
    conversion->SetMax(0.0);
    uint32_t outPos = 0;
    return SRConvert1ChannelRegionMix(source, output, 0, source->GetNumSFrames(), conversion,
                                      &outPos);
}

short SRConvert067(CSoundFile* source, CSoundFile* output, CConvSpec* conversion) {
    if (!Usable(source, output, conversion)) return kParamErr;
    return SRConvert073(source, output, 0, source->GetNumSFrames(), conversion);
}

short SRConvert083(CSoundFile* source, CSoundFile* output, CConvSpec* conversion) {
    if (!Usable(source, output, conversion)) return kParamErr;
    return SRConvert089(source, output, 0, source->GetNumSFrames(), conversion);
}

// ---- One range --------------------------------------------------------------------

short SRConvert009(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                   CConvSpec* conversion) {
    if (!Usable(source, output, conversion)) return kParamErr;
    if (ConvertsInStereo(source, conversion)) {
        uint32_t outPos = 0;
        return SRConvertStereoRegion(source, output, start, end, conversion, &outPos);
    }
    if (ConvertsInOnePass(source, output)) {
        uint32_t outPos = 0;
        const OSErr err =
            ConvertAllChannelsRegion(source, output, start, end, conversion, &outPos);
        output->SetOneChannelDone(true);
        return err;
    }
    return EachChannel(source, output, [&](short c, uint32_t* outPos) {
        return SRConvert1ChannelRegion(source, output, start, end, conversion, c, 0, outPos);
    });
}

short SRConvert025(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                   CConvSpec* conversion) {
    if (!Usable(source, output, conversion)) return kParamErr;
    uint32_t outPos = 0;
    return SRConvert1ChannelRegionM2S(source, output, start, end, conversion, &outPos);
}

short SRConvert057(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                   CConvSpec* conversion, uint32_t* outPos) {
    if (!Usable(source, output, conversion) || !outPos) return kParamErr;
    return SRConvert1ChannelRegionMix(source, output, start, end, conversion, outPos);
}

short SRConvert073(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                   CConvSpec* conversion) {
    if (!Usable(source, output, conversion)) return kParamErr;
    conversion->SetMax(0.0);
    uint32_t outPos = 0;
    return SRConvert1ChannelRegion(source, output, start, end, conversion, 0, 0, &outPos);
}

short SRConvert089(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                   CConvSpec* conversion) {
    if (!Usable(source, output, conversion)) return kParamErr;
    conversion->SetMax(0.0);
    uint32_t outPos = 0;
    return SRConvert1ChannelRegion(source, output, start, end, conversion, 1, 0, &outPos);
}

// ---- Strip walk ---------------------------------------------------------------------

short SRConvert011(CSoundFile* source, CSoundFile* output, CConvSpec* conversion) {
    if (!Usable(source, output, conversion)) return kParamErr;
    return WithExtrasForced(conversion, [&]() -> OSErr {
        conversion->SetMax(0.0);
        if (ConvertsInStereo(source, conversion)) {
            uint32_t outPos = 0;
            const OSErr err =
                WalkBlocks(source, conversion, &outPos, [&](uint32_t s, uint32_t e, uint32_t* p) {
                    return SRConvertStereoRegion(source, output, s, e, conversion, p);
                });
            output->SetOneChannelDone(true);
            return err;
        }
        if (ConvertsInOnePass(source, output)) {
            uint32_t outPos = 0;
            const OSErr err =
                WalkBlocks(source, conversion, &outPos, [&](uint32_t s, uint32_t e, uint32_t* p) {
                    return ConvertAllChannelsRegion(source, output, s, e, conversion, p);
                });
            output->SetOneChannelDone(true);
            return err;
        }
        return EachChannel(source, output, [&](short c, uint32_t* outPos) {
            return WalkBlocks(source, conversion, outPos, [&](uint32_t s, uint32_t e, uint32_t* p) {
                return SRConvert1ChannelRegion(source, output, s, e, conversion, c, 0, p);
            });
        });
    });
}

short SRConvert021(CSoundFile* source, CSoundFile* output, CConvSpec* conversion) {
    if (!Usable(source, output, conversion)) return kParamErr;
    conversion->SetMax(0.0);
    return EachChannel(source, output, [&](short, uint32_t* outPos) {
        return WalkBlocks(source, conversion, outPos, [&](uint32_t s, uint32_t e, uint32_t* p) {
            return SRConvert1ChannelRegionM2S(source, output, s, e, conversion, p);
        });
    });
}

short SRConvert059(CSoundFile* source, CSoundFile* output, CConvSpec* conversion) {
    if (!Usable(source, output, conversion)) return kParamErr;
    return WithExtrasForced(conversion, [&] {
        conversion->SetMax(0.0);
        uint32_t outPos = 0;
        return WalkBlocks(source, conversion, &outPos, [&](uint32_t s, uint32_t e, uint32_t* p) {
            return SRConvert1ChannelRegionMix(source, output, s, e, conversion, p);
        });
    });
}

short SRConvert075(CSoundFile* source, CSoundFile* output, CConvSpec* conversion) {
    if (!Usable(source, output, conversion)) return kParamErr;
    return WithExtrasForced(conversion, [&] {
        conversion->SetMax(0.0);
        return SRConvert1ChannelStrip(source, output, 0, 0, conversion, 0, 0);
    });
}

short SRConvert091(CSoundFile* source, CSoundFile* output, CConvSpec* conversion) {
    if (!Usable(source, output, conversion)) return kParamErr;
    return WithExtrasForced(conversion, [&] {
        conversion->SetMax(0.0);
        return SRConvert1ChannelStrip(source, output, 0, 0, conversion, 1, 0);
    });
}

short SRConvert1ChannelStrip(CSoundFile* source, CSoundFile* output, uint32_t, uint32_t,
                             CConvSpec* conversion, short channel, short) {
    if (!Usable(source, output, conversion)) return kParamErr;
    uint32_t outPos = 0;
    return WalkBlocks(source, conversion, &outPos, [&](uint32_t s, uint32_t e, uint32_t* p) {
        return SRConvert1ChannelRegion(source, output, s, e, conversion, channel, 0, p);
    });
}
