// The copy loops and the numbered copy steps. Samples cross a loop as signed
// 32-bit intermediate values, left-justified (full scale is the whole 32-bit
// range), and are reduced to the destination's width with integer arithmetic
// only: rounding, or the process-wide dither table when the conversion redithers.
#include "dsp/copy_steps.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "conversion/cconv_spec.h"
#include "dsp/extras.h"
#include "dsp/strip_walk.h"
#include "foundation/memory.h"
#include "soundfile/progress.h"
#include "soundfile/sample_conversion.h"
#include "soundfile/sound_file.h"

namespace {

// Largest intermediate sample to which the rounding offset is still added.
constexpr int32_t kRoundGuard8 = 0x7F7FFFFF;
constexpr int32_t kRoundGuard16 = 0x7FFF0000;
// Largest intermediate sample to which a dither value is still added: the
// value (at most 0xFF << 16 or 0xFF << 8) then cannot pass positive full scale.
constexpr int32_t kDitherGuard8 = 0x7F000000;
constexpr int32_t kDitherGuard16 = 0x7FFF0000;
// Half a destination step, added before truncation by the loop without channel
// treatment; the others add a hair less, so that exact halves round down.
constexpr int32_t kHalfStep8 = 0x800000;
constexpr int32_t kHalfStep16 = 0x8000;
constexpr int32_t kUnderHalfStep8 = 0x7FFFFF;
constexpr int32_t kUnderHalfStep16 = 0x7FFF;

enum class Treatment { kAll, kMonoToStereo, kMix, kOneChannel };

// How samples are stored in a buffer.
enum class Form { k8, k16, k24, k32, k24In32 };

struct Load8 {
    static int32_t At(const unsigned char* b, size_t i) {
        return static_cast<int32_t>(static_cast<uint32_t>(b[i]) << 24);
    }
};
struct Load16 {
    static int32_t At(const unsigned char* b, size_t i) {
        uint16_t w;
        std::memcpy(&w, b + 2 * i, 2);
        return static_cast<int32_t>(static_cast<uint32_t>(w) << 16);
    }
};
struct Load24 {
    static int32_t At(const unsigned char* b, size_t i) { return TwentyFour2Long(b + 3 * i); }
};
struct Load32 {
    static int32_t At(const unsigned char* b, size_t i) {
        int32_t w;
        std::memcpy(&w, b + 4 * i, 4);
        return w;
    }
};
// 32-bit words holding a 24-bit value right-justified.
struct Load24In32 {
    static int32_t At(const unsigned char* b, size_t i) {
        uint32_t w;
        std::memcpy(&w, b + 4 * i, 4);
        return static_cast<int32_t>(w << 8);
    }
};

// Samples offset, offset + stride, ... of a buffer as intermediate samples.
template <class L>
void LoadEvery(const unsigned char* in, size_t count, size_t stride, size_t offset, int32_t* out) {
    for (size_t i = 0; i < count; ++i) out[i] = L::At(in, i * stride + offset);
}

// One value per frame from the frame's samples 0 and 1, halved before the sum.
template <class L>
void LoadHalvedSum(const unsigned char* in, size_t frames, size_t stride, int32_t* out) {
    for (size_t f = 0; f < frames; ++f)
        out[f] = (L::At(in, f * stride) >> 1) + (L::At(in, f * stride + 1) >> 1);
}

void LoadChannel(Form form, const unsigned char* in, size_t count, size_t stride, size_t offset,
                 int32_t* out) {
    switch (form) {
        case Form::k8:
            return LoadEvery<Load8>(in, count, stride, offset, out);
        case Form::k16:
            return LoadEvery<Load16>(in, count, stride, offset, out);
        case Form::k24:
            return LoadEvery<Load24>(in, count, stride, offset, out);
        case Form::k32:
            return LoadEvery<Load32>(in, count, stride, offset, out);
        case Form::k24In32:
            return LoadEvery<Load24In32>(in, count, stride, offset, out);
    }
}

// The mix of samples 0 and 1 of each frame. 8- and 16-bit sums are exact (the
// sum of two words scaled by half a word's shift); wider samples are halved
// before they are added.
void LoadMix(Form form, const unsigned char* in, size_t frames, size_t stride, int32_t* out) {
    switch (form) {
        case Form::k8:
            for (size_t f = 0; f < frames; ++f) {
                const int32_t sum =
                    static_cast<int8_t>(in[f * stride]) + static_cast<int8_t>(in[f * stride + 1]);
                out[f] = sum * 0x800000;
            }
            return;
        case Form::k16:
            for (size_t f = 0; f < frames; ++f) {
                int16_t l, r;
                std::memcpy(&l, in + 2 * f * stride, 2);
                std::memcpy(&r, in + 2 * (f * stride + 1), 2);
                out[f] = (int32_t{l} + int32_t{r}) * 0x8000;
            }
            return;
        case Form::k24:
            return LoadHalvedSum<Load24>(in, frames, stride, out);
        case Form::k32:
            return LoadHalvedSum<Load32>(in, frames, stride, out);
        case Form::k24In32:
            return LoadHalvedSum<Load24In32>(in, frames, stride, out);
    }
}

// How intermediate samples become the destination's samples.
struct Reduction {
    int bytes;        // of a destination sample, 1 to 4
    int32_t offset8;  // rounding offsets when not dithering
    int32_t offset16;
    bool dither;  // 8 and 16 bits only
    bool rightJustified24 = false;  // 4 bytes holding 24-bit values
};

// Each reduced sample is stored kCopies times in a row (2: left and right).
template <unsigned kCopies>
void Store8(const int32_t* s, size_t n, int32_t offset, unsigned char* out) {
    for (size_t i = 0; i < n; ++i) {
        int32_t v = s[i];
        if (v < kRoundGuard8) v += offset;
        for (unsigned c = 0; c < kCopies; ++c)
            out[i * kCopies + c] = static_cast<unsigned char>(v >> 24);
    }
}

template <unsigned kCopies>
void Store16(const int32_t* s, size_t n, int32_t offset, unsigned char* out) {
    for (size_t i = 0; i < n; ++i) {
        int32_t v = s[i];
        if (v < kRoundGuard16) v += offset;
        const int16_t w = static_cast<int16_t>(v >> 16);
        for (unsigned c = 0; c < kCopies; ++c) std::memcpy(out + 2 * (i * kCopies + c), &w, 2);
    }
}

// The cursor is 16 bits wide and the table 65536 entries long, so the cursor's
// own wrap is the step modulo the table length.
template <unsigned kCopies>
void Store8Dithered(const int32_t* s, size_t n, unsigned char* out) {
    const uint16_t* table = gDitherTable;
    uint16_t index = gDitherTableIndex;
    for (size_t i = 0; i < n; ++i) {
        int32_t v = s[i];
        if (v < kDitherGuard8) {
            ++index;
            v += static_cast<int32_t>(table[index]) << 16;
        }
        for (unsigned c = 0; c < kCopies; ++c)
            out[i * kCopies + c] = static_cast<unsigned char>(v >> 24);
    }
    gDitherTableIndex = index;
}

template <unsigned kCopies>
void Store16Dithered(const int32_t* s, size_t n, unsigned char* out) {
    const uint16_t* table = gDitherTable;
    uint16_t index = gDitherTableIndex;
    for (size_t i = 0; i < n; ++i) {
        int32_t v = s[i];
        if (v < kDitherGuard16) {
            ++index;
            v += static_cast<int32_t>(table[index]) << 8;
        }
        const int16_t w = static_cast<int16_t>(v >> 16);
        for (unsigned c = 0; c < kCopies; ++c) std::memcpy(out + 2 * (i * kCopies + c), &w, 2);
    }
    gDitherTableIndex = index;
}

template <unsigned kCopies>
void Store24(const int32_t* s, size_t n, unsigned char* out) {
    for (size_t i = 0; i < n; ++i)
        for (unsigned c = 0; c < kCopies; ++c) Long2TwentyFour(s[i], out + 3 * (i * kCopies + c));
}

template <unsigned kCopies>
void Store32(const int32_t* s, size_t n, unsigned char* out) {
    for (size_t i = 0; i < n; ++i)
        for (unsigned c = 0; c < kCopies; ++c) std::memcpy(out + 4 * (i * kCopies + c), &s[i], 4);
}

// 32-bit words holding the top 24 bits right-justified.
template <unsigned kCopies>
void Store24In32(const int32_t* s, size_t n, unsigned char* out) {
    for (size_t i = 0; i < n; ++i) {
        const int32_t w = s[i] >> 8;
        for (unsigned c = 0; c < kCopies; ++c) std::memcpy(out + 4 * (i * kCopies + c), &w, 4);
    }
}

template <unsigned kCopies>
void Reduce(const Reduction& r, const int32_t* s, size_t n, unsigned char* out) {
    if (r.rightJustified24) return Store24In32<kCopies>(s, n, out);
    switch (r.bytes) {
        case 1:
            return r.dither ? Store8Dithered<kCopies>(s, n, out)
                            : Store8<kCopies>(s, n, r.offset8, out);
        case 2:
            return r.dither ? Store16Dithered<kCopies>(s, n, out)
                            : Store16<kCopies>(s, n, r.offset16, out);
        case 3:
            return Store24<kCopies>(s, n, out);
        default:
            return Store32<kCopies>(s, n, out);
    }
}

struct DeallocDeleter {
    void operator()(void* p) const { dealloc(p); }
};

Form FormOf(const CSoundFile& file) {
    switch (Bits2Bytes(static_cast<uint16_t>(file.GetWordSize()))) {
        case 1:
            return Form::k8;
        case 2:
            return Form::k16;
        case 3:
            return Form::k24;
        default:
            return file.GetDataType() == kDataType24In32 ? Form::k24In32 : Form::k32;
    }
}

bool UsableWidth(const CSoundFile& file) {
    const int bytes = Bits2Bytes(static_cast<uint16_t>(std::max<short>(file.GetWordSize(), 0)));
    return bytes >= 1 && bytes <= 4;
}

// Whether the two files' channel counts suit the treatment.
bool ChannelsFit(Treatment treatment, int sourceChannels, int destinationChannels, short channel) {
    if (sourceChannels < 1) return false;
    switch (treatment) {
        case Treatment::kAll:
            return destinationChannels == sourceChannels;
        case Treatment::kMonoToStereo:
            return destinationChannels == 2;
        case Treatment::kMix:
            return sourceChannels >= 2 && destinationChannels == 1;
        case Treatment::kOneChannel:
            return channel >= 0 && channel < sourceChannels && destinationChannels == 1;
    }
    return false;
}

// The loop all four copy loops share: buffers, blocks, progress, extras.
OSErr CopyLoop(Treatment treatment, CSoundFile* source, CSoundFile* destination, uint32_t start,
               uint32_t end, uint32_t* outPos, short channel, CConvSpec* conversion) {
    if (!source || !destination || !outPos || !conversion) return kParamErr;
    const uint32_t entryPos = *outPos;
    const bool redither = conversion->GetNeedsRedither() != 0;
    destination->SetDither(redither ? 1 : 0);
    if (OSErr err = source->InitInputBuffer()) return err;
    if (OSErr err = destination->InitOutputBuffer()) return err;

    const int sourceChannels = source->GetNumChannels();
    const int destinationChannels = destination->GetNumChannels();
    if (!UsableWidth(*source) || !UsableWidth(*destination) ||
        !ChannelsFit(treatment, sourceChannels, destinationChannels, channel))
        return kParamErr;
    const size_t sourceBytes = Bits2Bytes(static_cast<uint16_t>(source->GetWordSize()));
    const size_t destinationBytes = Bits2Bytes(static_cast<uint16_t>(destination->GetWordSize()));
    const Form form = FormOf(*source);
    const size_t frameBytes = sourceBytes * static_cast<size_t>(sourceChannels);

    // A block fits in both buffers. Frames past the source's end are not there
    // to be read.
    const uint32_t block =
        std::max<uint32_t>(1, std::min(destination->GetBufferFrames(), source->GetBufferFrames()));
    const uint32_t last = std::min(end, source->GetNumSFrames());

    // Equal word sizes without channel treatment move bytes unchanged, unless
    // exactly one side holds 24-bit values right-justified in 32-bit words.
    const bool destination24In32 =
        destinationBytes == 4 && destination->GetDataType() == kDataType24In32;
    const bool raw = treatment == Treatment::kAll &&
                     source->GetWordSize() == destination->GetWordSize() &&
                     (form == Form::k24In32) == destination24In32;

    Reduction reduction{static_cast<int>(destinationBytes), kUnderHalfStep8, kUnderHalfStep16,
                        false};
    reduction.rightJustified24 = destination24In32;
    if (treatment == Treatment::kAll) {
        reduction.offset8 = kHalfStep8;
        reduction.offset16 = kHalfStep16;
    }
    if (redither && destinationBytes <= 2) {
        // Mono to stereo and the mix dither only what loses bits.
        const bool widerSource = source->GetWordSize() >= (destinationBytes == 1 ? 9 : 17);
        reduction.dither =
            treatment == Treatment::kAll || treatment == Treatment::kOneChannel || widerSource;
    }

    std::unique_ptr<int32_t, DeallocDeleter> scratch;
    if (!raw) {
        const size_t samples =
            static_cast<size_t>(block) *
            (treatment == Treatment::kAll || treatment == Treatment::kMix ? sourceChannels : 1);
        scratch.reset(static_cast<int32_t*>(alloc(samples * sizeof(int32_t))));
        if (OSErr err = MyMemError(scratch.get(), 1)) return err;
        if (reduction.dither && !gDitherTable) {
            if (OSErr err = fillDither()) return err;
        }
    }

    OSErr err = 0;
    for (uint32_t pos = start; pos < last;) {
        if ((err = source->RefreshInputBuffer(pos)) != 0) break;
        const unsigned char* in = source->GetInputBuffer();
        unsigned char* out = destination->GetOutputBuffer();
        if (!in || !out) {
            err = kMemBlockMissingErr;
            break;
        }
        const uint32_t n = std::min(block, last - pos);
        int32_t* s = scratch.get();
        const size_t sc = static_cast<size_t>(sourceChannels);
        switch (treatment) {
            case Treatment::kAll:
                if (raw) {
                    std::memcpy(out, in, n * frameBytes);
                } else {
                    LoadChannel(form, in, n * sc, 1, 0, s);
                    Reduce<1>(reduction, s, n * sc, out);
                }
                break;
            case Treatment::kMonoToStereo:
                LoadChannel(form, in, n, sc, 0, s);
                Reduce<2>(reduction, s, n, out);
                break;
            case Treatment::kMix:
                LoadMix(form, in, n, sc, s);
                Reduce<1>(reduction, s, n, out);
                break;
            case Treatment::kOneChannel:
                LoadChannel(form, in, n, sc, static_cast<size_t>(channel), s);
                Reduce<1>(reduction, s, n, out);
                break;
        }
        if ((err = destination->FlushOutputBuffer(n, *outPos)) != 0) break;
        *outPos += n;
        pos += n;
        if ((err = SetProgressPosition(static_cast<int>(pos))) != 0) break;
    }
    scratch.reset();

    if (err == 0 && conversion->GetCopyExtras() && !destination->IsOneChannelDone())
        err = CarryExtras(*source, *destination, start, end, entryPos - start);
    return err;
}

// The step's loop over each widened region block, all written back to back.
template <class Loop>
OSErr CopyStrip(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion, Loop loop) {
    if (!source || !destination || !conversion) return kParamErr;
    return WalkStripBlocks(
        *source, StripMarginFrames(destination->GetSampleRate(), conversion->GetStripMargin()),
        loop);
}

uint32_t FrameCount(CSoundFile* file) {
    return file ? file->GetNumSFrames() : 0;
}

}  // namespace

OSErr CopyGeneric(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
                  uint32_t* outPos, CConvSpec* conversion) {
    return CopyLoop(Treatment::kAll, source, destination, start, end, outPos, 0, conversion);
}

OSErr CopyM2SGeneric(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
                     uint32_t* outPos, CConvSpec* conversion) {
    return CopyLoop(Treatment::kMonoToStereo, source, destination, start, end, outPos, 0,
                    conversion);
}

OSErr CopyMixGeneric(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
                     uint32_t* outPos, CConvSpec* conversion) {
    return CopyLoop(Treatment::kMix, source, destination, start, end, outPos, 0, conversion);
}

OSErr Copy1ChannelGeneric(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
                          uint32_t* outPos, short channel, CConvSpec* conversion) {
    return CopyLoop(Treatment::kOneChannel, source, destination, start, end, outPos, channel,
                    conversion);
}

// ---- No channel treatment -------------------------------------------------------

OSErr Copy000(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    uint32_t outPos = 0;
    return CopyGeneric(source, destination, 0, FrameCount(source), &outPos, conversion);
}

OSErr Copy004(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    return CopyStrip(source, destination, conversion,
                     [&](uint32_t start, uint32_t end, uint32_t* outPos) {
                         return CopyGeneric(source, destination, start, end, outPos, conversion);
                     });
}

OSErr Copy008(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
              CConvSpec* conversion) {
    uint32_t outPos = 0;
    return CopyGeneric(source, destination, start, end, &outPos, conversion);
}

// ---- Mono to stereo ---------------------------------------------------------------

OSErr Copy016(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    uint32_t outPos = 0;
    return CopyM2SGeneric(source, destination, 0, FrameCount(source), &outPos, conversion);
}

OSErr Copy020(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    return CopyStrip(source, destination, conversion,
                     [&](uint32_t start, uint32_t end, uint32_t* outPos) {
                         return CopyM2SGeneric(source, destination, start, end, outPos, conversion);
                     });
}

OSErr Copy024(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
              CConvSpec* conversion) {
    uint32_t outPos = 0;
    return CopyM2SGeneric(source, destination, start, end, &outPos, conversion);
}

// ---- Mix to mono ----------------------------------------------------------------------

OSErr Copy048(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    uint32_t outPos = 0;
    return CopyMixGeneric(source, destination, 0, FrameCount(source), &outPos, conversion);
}

OSErr Copy052(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    return CopyStrip(source, destination, conversion,
                     [&](uint32_t start, uint32_t end, uint32_t* outPos) {
                         return CopyMixGeneric(source, destination, start, end, outPos, conversion);
                     });
}

OSErr Copy056(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
              CConvSpec* conversion) {
    uint32_t outPos = 0;
    return CopyMixGeneric(source, destination, start, end, &outPos, conversion);
}

// ---- Left channel only ----------------------------------------------------------------

OSErr Copy064(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    uint32_t outPos = 0;
    return Copy1ChannelGeneric(source, destination, 0, FrameCount(source), &outPos, 0, conversion);
}

OSErr Copy068(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    return CopyStrip(
        source, destination, conversion, [&](uint32_t start, uint32_t end, uint32_t* outPos) {
            return Copy1ChannelGeneric(source, destination, start, end, outPos, 0, conversion);
        });
}

OSErr Copy072(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
              CConvSpec* conversion) {
    uint32_t outPos = 0;
    return Copy1ChannelGeneric(source, destination, start, end, &outPos, 0, conversion);
}

// ---- Right channel only -------------------------------------------------------------

OSErr Copy080(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    uint32_t outPos = 0;
    return Copy1ChannelGeneric(source, destination, 0, FrameCount(source), &outPos, 1, conversion);
}

OSErr Copy084(CSoundFile* source, CSoundFile* destination, CConvSpec* conversion) {
    return CopyStrip(
        source, destination, conversion, [&](uint32_t start, uint32_t end, uint32_t* outPos) {
            return Copy1ChannelGeneric(source, destination, start, end, outPos, 1, conversion);
        });
}

OSErr Copy088(CSoundFile* source, CSoundFile* destination, uint32_t start, uint32_t end,
              CConvSpec* conversion) {
    uint32_t outPos = 0;
    return Copy1ChannelGeneric(source, destination, start, end, &outPos, 1, conversion);
}
