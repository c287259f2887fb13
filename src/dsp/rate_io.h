// What the sample-rate converters share: the reduced ratio of two rates with an
// exact clock from output frames to input instants, and the ways a converter
// reads its source and writes its output (whole frames, one channel, two
// channels mixed, one channel to every output channel).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "foundation/errors.h"

class CSoundFile;

namespace rateconv {

// Reduces round(rate × 10000) of both rates (halves away from zero) to lowest
// terms: the output advances M phase units per frame, the input L units.
// kParamErr when a rate is not positive and finite or too large to express.
OSErr ReduceRates(double outputRate, double inputRate, int64_t* L, int64_t* M);

// The output frames that `frames` input frames give at L / M, rounded up or down.
uint64_t OutputFramesCeil(uint64_t frames, int64_t L, int64_t M);
uint64_t OutputFramesFloor(uint64_t frames, int64_t L, int64_t M);

// trunc(value × L / M) for a signed value, exactly.
int64_t ScaleTrunc(int64_t value, int64_t L, int64_t M);

// The input instant of successive output frames: output frame j of a range
// falls on input frame `whole` plus `phase` / L, counted from the range start.
struct RateClock {
    RateClock(int64_t l, int64_t m) : L(l), wholeStep(m / l), phaseStep(m % l) {}
    void Advance() {
        whole += wholeStep;
        phase += phaseStep;
        if (phase >= L) {
            phase -= L;
            ++whole;
        }
    }
    // The whole input frame `frames` output frames from now (0 is the present one).
    int64_t WholeAfter(int64_t frames) const;

    int64_t L;
    int64_t wholeStep;
    int64_t phaseStep;
    int64_t whole = 0;
    int64_t phase = 0;
};

// A plain block of doubles from alloc_clear, freed with dealloc.
struct BlockDeleter {
    void operator()(double* p) const;
};
using Block = std::unique_ptr<double[], BlockDeleter>;
// A zero-filled block of `values` doubles; null (and *err set to the memory
// error) when it cannot be had. Requests above kMaxBlockValues count as failed
// allocations: a strange rate in a file header must not take all memory.
Block AllocBlock(size_t values, OSErr* err);
inline constexpr size_t kMaxBlockValues = size_t{1} << 25;  // 256 MiB of doubles
// The converters write at most this many frames at a time, whatever the ratio.
inline constexpr uint64_t kMaxBlockFrames = uint64_t{1} << 20;

enum class SourceLayout {
    kStereo,      // the two channels of a two-channel source, interleaved
    kFrames,      // every channel of the source, interleaved
    kOneChannel,  // one given channel
    kMix,         // (channel 0 + channel 1) × 0.5; a one-channel source gives itself
};
enum class OutputLayout {
    kFrames,        // whole frames into an output of the source's channel count
    kOneChannel,    // one value per frame: the whole frame of a one-channel output,
                    // else added into the given channel of a wider one
    kEveryChannel,  // one value per frame, written to every channel of the output
};

// Moves frames between the files in the converter's layout: one value per
// source channel for whole frames, else 1. Buffers are taken once, in Init.
class FrameMover {
public:
    // Checks the files against the layouts (kParamErr when they do not fit) and
    // takes the buffers for reads of up to maxRead and writes of up to maxWrite frames.
    OSErr Init(CSoundFile* source, SourceLayout in, short channel, CSoundFile* output,
               OutputLayout out, size_t maxRead, size_t maxWrite);
    int Values() const { return WholeFrames(in_) ? static_cast<int>(sourceChannels_) : 1; }
    static bool WholeFrames(SourceLayout in) {
        return in == SourceLayout::kStereo || in == SourceLayout::kFrames;
    }
    // Reads up to *count frames (at most maxRead) from `position`; *count is set
    // to the frames read.
    OSErr Read(uint32_t position, uint32_t* count, double* into);
    // Writes *count frames (at most maxWrite) at `position`; *count is set to the
    // frames written. The block may be changed (clipped) on the way.
    OSErr Write(uint32_t position, uint32_t* count, double* block);

private:
    CSoundFile* source_ = nullptr;
    CSoundFile* output_ = nullptr;
    SourceLayout in_ = SourceLayout::kStereo;
    OutputLayout out_ = OutputLayout::kFrames;
    short channel_ = 0;
    size_t sourceChannels_ = 0;
    size_t outputChannels_ = 0;
    Block scratch_;
};

}  // namespace rateconv
