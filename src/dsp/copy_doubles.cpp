// The double-valued copies and the loop they share with the normalize steps.
// Samples cross as doubles at full scale 1.0; the destination's Write clips,
// reduces and dithers them.
#include "dsp/copy_doubles.h"

#include <algorithm>
#include <memory>

#include "conversion/cconv_spec.h"
#include "dsp/extras.h"
#include "dsp/strip_walk.h"
#include "foundation/memory.h"
#include "soundfile/progress.h"
#include "soundfile/sound_file.h"

namespace {

struct DeallocDeleter {
    void operator()(void* p) const { dealloc(p); }
};
using DoubleBlock = std::unique_ptr<double, DeallocDeleter>;

// Values per frame read from the source and written to the destination, or
// false when the two files do not suit the layout.
bool Widths(DoubleLayout layout, int sourceChannels, int destinationChannels, short channel,
            size_t* read, size_t* write) {
    if (sourceChannels < 1) return false;
    const size_t all = static_cast<size_t>(sourceChannels);
    switch (layout) {
        case DoubleLayout::kAllChannels:
            *read = *write = all;
            return destinationChannels == sourceChannels;
        case DoubleLayout::kMonoToStereo:
            *read = 1;
            *write = 2;
            return destinationChannels == 2;
        case DoubleLayout::kMix:
            *read = all;
            *write = 1;
            return sourceChannels >= 2 && destinationChannels == 1;
        case DoubleLayout::kOneChannel:
            *read = *write = 1;
            return channel >= 0 && channel < sourceChannels && destinationChannels == 1;
    }
    return false;
}

OSErr ReadBlock(DoubleLayout layout, CSoundFile& source, uint32_t position, uint32_t* count,
                short channel, double* in) {
    switch (layout) {
        case DoubleLayout::kMonoToStereo:
            return source.Read(short{0}, position, count, in);
        case DoubleLayout::kOneChannel:
            return source.Read(channel, position, count, in);
        default:
            return source.Read(position, count, in);
    }
}

// Lays `frames` frames read into `in` out as the destination's frames in `out`
// (the same block for the layouts that keep the frame's shape), times `gain`.
void Shape(DoubleLayout layout, const double* in, size_t readWidth, size_t frames, double gain,
           double* out) {
    switch (layout) {
        case DoubleLayout::kMonoToStereo:
            for (size_t i = 0; i < frames; ++i) out[2 * i] = out[2 * i + 1] = in[i] * gain;
            return;
        case DoubleLayout::kMix:
            for (size_t i = 0; i < frames; ++i) {
                out[i] = (in[i * readWidth] + in[i * readWidth + 1]) * 0.5;
                out[i] *= gain;
            }
            return;
        default:
            if (gain != 1.0)
                for (size_t i = 0, n = frames * readWidth; i < n; ++i) out[i] *= gain;
            return;
    }
}

// The loop of a layout over each widened region block of the source, all
// written back to back from frame 0. The margin is counted at the destination's rate.
template <class Range>
OSErr StripDoubles(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion,
                   Range range) {
    if (!source || !destination || !conversion) return kParamErr;
    return WalkStripBlocks(
        *source, StripMarginFrames(destination->GetSampleRate(), conversion->GetStripMargin()),
        range);
}

uint32_t FrameCount(CSoundFile* file) {
    return file ? file->GetNumSFrames() : 0;
}

}  // namespace

OSErr MoveDoubleFrames(DoubleLayout layout, CSoundFile* source, CSoundFile* destination,
                       uint32_t start, uint32_t end, uint32_t* outPos, short channel, double gain,
                       CConvSpec* conversion) {
    if (!source || !destination || !outPos || !conversion) return kParamErr;
    const uint32_t entryPos = *outPos;
    size_t readWidth = 0, writeWidth = 0;
    if (!Widths(layout, source->GetNumChannels(), destination->GetNumChannels(), channel,
                &readWidth, &writeWidth))
        return kParamErr;
    destination->SetDither(conversion->GetNeedsRedither() ? 1 : 0);

    const uint32_t block = std::max<uint32_t>(destination->GetBufferFrames(), 1);
    DoubleBlock in(static_cast<double*>(alloc(sizeof(double) * block * readWidth)));
    if (OSErr err = MyMemError(in.get(), 1)) return err;
    DoubleBlock shaped;
    if (layout == DoubleLayout::kMonoToStereo || layout == DoubleLayout::kMix) {
        shaped.reset(static_cast<double*>(alloc(sizeof(double) * block * writeWidth)));
        if (OSErr err = MyMemError(shaped.get(), 1)) return err;
    }
    double* out = shaped ? shaped.get() : in.get();

    // Frames past the source's end are not there to be read.
    const uint32_t last = std::min(end, source->GetNumSFrames());
    OSErr err = 0;
    for (uint32_t pos = start; pos < last;) {
        uint32_t count = std::min(block, last - pos);
        if ((err = ReadBlock(layout, *source, pos, &count, channel, in.get())) != 0) break;
        if (count == 0) {  // the source ended before its frame count
            err = kEOFErr;
            break;
        }
        Shape(layout, in.get(), readWidth, count, gain, out);
        uint32_t written = count;
        if ((err = destination->Write(*outPos, &written, out)) != 0) break;
        *outPos += written;
        pos += count;
        if ((err = SetProgressPosition(static_cast<int>(pos))) != 0) break;
    }
    in.reset();
    shaped.reset();

    if (err == 0 && conversion->GetCopyExtras() && !destination->IsOneChannelDone())
        err = CarryExtras(*source, *destination, start, end, entryPos - start);
    return err;
}

// ---- Every channel ------------------------------------------------------------------

OSErr CopyAllChannels(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    uint32_t outPos = 0;
    return CopyAllChannelsRegion(source, destination, 0, FrameCount(source), &outPos, conversion);
}

OSErr CopyAllChannelsRegion(CSoundFile* source, CSoundFile* destination, uint32_t start,
                            uint32_t end, uint32_t* outPos, CConvSpec* conversion) {
    return MoveDoubleFrames(DoubleLayout::kAllChannels, source, destination, start, end, outPos, 0,
                            1.0, conversion);
}

OSErr CopyAllChannelsStrip(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    return StripDoubles(
        source, destination, conversion, [&](uint32_t start, uint32_t end, uint32_t* outPos) {
            return CopyAllChannelsRegion(source, destination, start, end, outPos, conversion);
        });
}

// ---- Mono to stereo ---------------------------------------------------------------

OSErr CopyM2S(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    uint32_t outPos = 0;
    return CopyM2SRegion(source, destination, 0, FrameCount(source), &outPos, conversion);
}

OSErr CopyM2SRegion(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
                    uint32_t* outPos, CConvSpec* conversion) {
    return MoveDoubleFrames(DoubleLayout::kMonoToStereo, source, destination, start, end, outPos, 0,
                            1.0, conversion);
}

OSErr CopyM2SStrip(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    return StripDoubles(
        source, destination, conversion, [&](uint32_t start, uint32_t end, uint32_t* outPos) {
            return CopyM2SRegion(source, destination, start, end, outPos, conversion);
        });
}

// ---- Stereo mixed to mono -------------------------------------------------------------

OSErr CopyS2M(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    uint32_t outPos = 0;
    return CopyS2MRegion(source, destination, 0, FrameCount(source), &outPos, conversion);
}

OSErr CopyS2MRegion(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
                    uint32_t* outPos, CConvSpec* conversion) {
    return MoveDoubleFrames(DoubleLayout::kMix, source, destination, start, end, outPos, 0, 1.0,
                            conversion);
}

OSErr CopyS2MStrip(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    return StripDoubles(
        source, destination, conversion, [&](uint32_t start, uint32_t end, uint32_t* outPos) {
            return CopyS2MRegion(source, destination, start, end, outPos, conversion);
        });
}

// ---- One channel ----------------------------------------------------------------------

OSErr Copy1Channel(CSoundFile* source, CSoundFile* destination, short channel, short unused,
                   CConvSpec* conversion) {
    uint32_t outPos = 0;
    return Copy1ChannelRegion(source, destination, 0, FrameCount(source), channel, unused, &outPos,
                              conversion);
}

OSErr Copy1ChannelRegion(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
                         short channel, short /*unused*/, uint32_t* outPos, CConvSpec* conversion) {
    return MoveDoubleFrames(DoubleLayout::kOneChannel, source, destination, start, end, outPos,
                            channel, 1.0, conversion);
}

OSErr Copy1ChannelStrip(CSoundFile* source, CSoundFile* destination, short channel, short unused,
                        CConvSpec* conversion) {
    return StripDoubles(source, destination, conversion,
                        [&](uint32_t start, uint32_t end, uint32_t* outPos) {
                            return Copy1ChannelRegion(source, destination, start, end, channel,
                                                      unused, outPos, conversion);
                        });
}
