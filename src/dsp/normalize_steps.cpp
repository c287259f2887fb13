// The normalize steps: the decision, then the double-valued loop with the
// divisor's gain, or a copy. The gain is applied exactly as the gain pass
// applies a normalize, so the two give the same samples.
#include "dsp/normalize_steps.h"

#include <cmath>

#include "conversion/cconv_spec.h"
#include "dsp/copy_doubles.h"
#include "dsp/copy_steps.h"
#include "dsp/scan.h"
#include "dsp/strip_walk.h"
#include "soundfile/sound_file.h"

namespace {

// A step asked to decide while the stored peak was never measured.
constexpr OSErr kNoValidPeakErr = -20024;

// Whether `dest` needs the stored peak normalized; stores the divisor when it does.
OSErr Decide(CSoundFile* dest, CConvSpec* conversion, bool* needed) {
    if (!dest || !conversion) return kParamErr;
    if (!conversion->GetHasValidMax()) return kNoValidPeakErr;
    *needed = IsNormalizeNeeded(dest, conversion);
    return 0;
}

// The gain of the stored divisor.
OSErr StoredGain(CConvSpec* conversion, double* gain) {
    if (!conversion) return kParamErr;
    const double divisor = conversion->GetCeiledMax();
    *gain = 1.0 / divisor;
    return divisor > 0.0 && std::isfinite(*gain) ? OSErr(0) : OSErr(kParamErr);
}

OSErr NormalizeLoop(DoubleLayout layout, CSoundFile* source, CSoundFile* dest, uint32_t first,
                    uint32_t end, uint32_t* outPos, short channel, CConvSpec* conversion) {
    double gain = 1.0;
    if (OSErr err = StoredGain(conversion, &gain)) return err;
    return MoveDoubleFrames(layout, source, dest, first, end, outPos, channel, gain, conversion);
}

// `range` over each widened region block of the source, all written back to
// back from frame 0. The margin is counted at the source's rate, as the scan
// counts it when it measures the peak of these blocks.
template <class Range>
OSErr WalkBlocks(CSoundFile* source, CConvSpec* conversion, Range range) {
    if (!source || !conversion) return kParamErr;
    return WalkStripBlocks(
        *source, StripMarginFrames(source->GetSampleRate(), conversion->GetStripMargin()), range);
}

uint32_t FrameCount(CSoundFile* file) {
    return file ? file->GetNumSFrames() : 0;
}

OSErr OneChannelRange(CSoundFile* source, CSoundFile* dest, uint32_t first, uint32_t end,
                      short channel, CConvSpec* conversion) {
    bool needed = false;
    if (OSErr err = Decide(dest, conversion, &needed)) return err;
    uint32_t outPos = 0;
    return needed ? Normalize1Channel(source, dest, first, end, conversion, channel, 0, &outPos)
                  : Copy1ChannelRegion(source, dest, first, end, channel, 0, &outPos, conversion);
}

}  // namespace

// ---- The loops ------------------------------------------------------------------

OSErr NormalizeAllChannels(CSoundFile* source, CSoundFile* dest, uint32_t first, uint32_t end,
                           CConvSpec* conversion, uint32_t* outPos) {
    return NormalizeLoop(DoubleLayout::kAllChannels, source, dest, first, end, outPos, 0,
                         conversion);
}

OSErr Normalize027(CSoundFile* source, CSoundFile* dest, uint32_t first, uint32_t end,
                   uint32_t* outPos, CConvSpec* conversion) {
    return NormalizeLoop(DoubleLayout::kMonoToStereo, source, dest, first, end, outPos, 0,
                         conversion);
}

OSErr Normalize058(CSoundFile* source, CSoundFile* dest, uint32_t first, uint32_t end,
                   CConvSpec* conversion, uint32_t* outPos) {
    if (!dest || !conversion) return kParamErr;
    if (!conversion->GetHasValidMax()) return kNoValidPeakErr;
    // The mix is half the sum whose peak the scan stored.
    const double stored = conversion->GetMax();
    conversion->SetMax(stored * 0.5);
    const bool needed = IsNormalizeNeeded(dest, conversion);
    conversion->SetMax(stored);
    if (!needed) return CopyS2MRegion(source, dest, first, end, outPos, conversion);
    return NormalizeLoop(DoubleLayout::kMix, source, dest, first, end, outPos, 0, conversion);
}

OSErr Normalize1Channel(CSoundFile* source, CSoundFile* dest, uint32_t first, uint32_t end,
                        CConvSpec* conversion, short channel, short /*flag*/, uint32_t* outPos) {
    return NormalizeLoop(DoubleLayout::kOneChannel, source, dest, first, end, outPos, channel,
                         conversion);
}

// ---- Every channel ----------------------------------------------------------------

OSErr Normalize003(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion) {
    return Normalize011(source, dest, 0, FrameCount(source), conversion);
}

OSErr Normalize011(CSoundFile* source, CSoundFile* dest, uint32_t first, uint32_t end,
                   CConvSpec* conversion) {
    bool needed = false;
    if (OSErr err = Decide(dest, conversion, &needed)) return err;
    uint32_t outPos = 0;
    return needed ? NormalizeAllChannels(source, dest, first, end, conversion, &outPos)
                  : CopyGeneric(source, dest, first, end, &outPos, conversion);
}

OSErr Normalize006(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion) {
    bool needed = false;
    if (OSErr err = Decide(dest, conversion, &needed)) return err;
    return needed ? NormalizeAllChannelsStrip(source, dest, conversion)
                  : CopyAllChannelsStrip(source, dest, conversion);
}

OSErr NormalizeAllChannelsStrip(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion) {
    bool needed = false;
    if (OSErr err = Decide(dest, conversion, &needed)) return err;
    return WalkBlocks(source, conversion, [&](uint32_t start, uint32_t end, uint32_t* outPos) {
        return needed ? NormalizeAllChannels(source, dest, start, end, conversion, outPos)
                      : CopyGeneric(source, dest, start, end, outPos, conversion);
    });
}

// ---- Mono to stereo ---------------------------------------------------------------

OSErr Normalize019(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion) {
    bool needed = false;
    if (OSErr err = Decide(dest, conversion, &needed)) return err;
    if (!needed) return Copy016(source, dest, conversion);
    uint32_t outPos = 0;
    return Normalize027(source, dest, 0, FrameCount(source), &outPos, conversion);
}

OSErr Normalize022(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion) {
    bool needed = false;
    if (OSErr err = Decide(dest, conversion, &needed)) return err;
    return WalkBlocks(source, conversion, [&](uint32_t start, uint32_t end, uint32_t* outPos) {
        return needed ? Normalize027(source, dest, start, end, outPos, conversion)
                      : CopyM2SRegion(source, dest, start, end, outPos, conversion);
    });
}

// ---- Mix to mono ----------------------------------------------------------------------

OSErr Normalize050(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion) {
    uint32_t outPos = 0;
    return Normalize058(source, dest, 0, FrameCount(source), conversion, &outPos);
}

OSErr Normalize054(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion) {
    if (conversion && !conversion->GetHasValidMax()) return kNoValidPeakErr;
    return WalkBlocks(source, conversion, [&](uint32_t start, uint32_t end, uint32_t* outPos) {
        return Normalize058(source, dest, start, end, conversion, outPos);
    });
}

// ---- One channel ----------------------------------------------------------------------

OSErr Normalize1ChannelStrip(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion,
                             short channel, short flag) {
    bool needed = false;
    if (OSErr err = Decide(dest, conversion, &needed)) return err;
    return WalkBlocks(source, conversion, [&](uint32_t start, uint32_t end, uint32_t* outPos) {
        return needed
                   ? Normalize1Channel(source, dest, start, end, conversion, channel, flag, outPos)
                   : Copy1ChannelRegion(source, dest, start, end, channel, flag, outPos,
                                        conversion);
    });
}

OSErr Normalize066(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion) {
    return OneChannelRange(source, dest, 0, FrameCount(source), 0, conversion);
}

OSErr Normalize070(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion) {
    return Normalize1ChannelStrip(source, dest, conversion, 0, 0);
}

OSErr Normalize074(CSoundFile* source, CSoundFile* dest, uint32_t first, uint32_t end,
                   CConvSpec* conversion) {
    return OneChannelRange(source, dest, first, end, 0, conversion);
}

OSErr Normalize082(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion) {
    return OneChannelRange(source, dest, 0, FrameCount(source), 1, conversion);
}

OSErr Normalize086(CSoundFile* source, CSoundFile* dest, CConvSpec* conversion) {
    return Normalize1ChannelStrip(source, dest, conversion, 1, 0);
}

OSErr Normalize090(CSoundFile* source, CSoundFile* dest, uint32_t first, uint32_t end,
                   CConvSpec* conversion) {
    return OneChannelRange(source, dest, first, end, 1, conversion);
}
