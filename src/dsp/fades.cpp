// The fades of a finished output.
#include "dsp/fades.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "conversion/cconv_spec.h"
#include "foundation/memory.h"
#include "soundfile/sound_file.h"

namespace {

// Longest fade at either end, in seconds.
constexpr double kMaxFadeSeconds = 5.0;
// Each shortening keeps this share of both lengths.
constexpr double kShrinkFactor = 0.95;
// Lengths whose sum is this or less are not shortened further.
constexpr uint64_t kShortestSum = 9;

// A fade time in milliseconds as whole frames at `rate`: at most 5 s, and no
// frames for a time or rate that is not positive.
uint32_t FadeFrames(double rate, float milliseconds) {
    const double seconds = std::min(static_cast<double>(milliseconds) / 1000.0, kMaxFadeSeconds);
    const double frames = rate * seconds;
    if (!(frames > 0.0)) return 0;  // also NaN
    return frames >= 4294967295.0 ? UINT32_MAX : static_cast<uint32_t>(frames);
}

uint32_t Shrunk(uint32_t frames) {
    return static_cast<uint32_t>(std::lround(static_cast<double>(frames) * kShrinkFactor));
}

struct DeallocDeleter {
    void operator()(void* p) const { dealloc(p); }
};

// Reads `count` frames at `position`, scales frame i by gain(i, frames read) on
// every channel and writes them back.
template <class Gain>
OSErr FadeInPlace(CSoundFile& file, uint32_t position, uint32_t count, size_t channels,
                  double* work, Gain gain) {
    if (OSErr err = file.Read(position, &count, work)) return err;
    const double frames = count;
    for (uint32_t i = 0; i < count; ++i) {
        const double g = gain(static_cast<double>(i), frames);
        double* frame = work + static_cast<size_t>(i) * channels;
        for (size_t c = 0; c < channels; ++c) frame[c] *= g;
    }
    return file.Write(position, &count, work);
}

}  // namespace

OSErr CreateFades(CSoundFile* output, CConvSpec* conversion) {
    if (!output || !conversion) return kParamErr;
    if (!conversion->GetNeedsFades()) return 0;
    const size_t channels = static_cast<size_t>(std::max<short>(output->GetNumChannels(), 0));
    const double rate = output->GetSampleRate();
    uint32_t in = FadeFrames(rate, conversion->GetFadeInTime());
    uint32_t out = FadeFrames(rate, conversion->GetFadeOutTime());

    // Shorten both until they fit; lengths of 10 frames or fewer stay as they are.
    const uint64_t frames = output->GetNumSFrames();
    while (uint64_t{in} + out >= frames) {
        const uint32_t shorterIn = Shrunk(in), shorterOut = Shrunk(out);
        const bool changed = shorterIn != in || shorterOut != out;
        in = shorterIn;
        out = shorterOut;
        if (uint64_t{in} + out <= kShortestSum || !changed) break;
    }
    const uint64_t now = output->GetNumSFrames();
    if ((in == 0 && out == 0) || uint64_t{in} + out > now || channels == 0) return 0;

    const size_t longest = std::max(in, out);
    std::unique_ptr<double, DeallocDeleter> work(
        static_cast<double*>(alloc(channels * longest * sizeof(double))));
    if (OSErr err = MyMemError(work.get(), 1)) return err;

    OSErr err = FadeInPlace(*output, 0, in, channels, work.get(), [](double i, double n) {
        const double ramp = i / n;
        return ramp * ramp;
    });
    if (err) return err;
    const uint32_t total = output->GetNumSFrames();
    const uint32_t outStart = total >= out ? total - out : 0;
    return FadeInPlace(*output, outStart, out, channels, work.get(), [](double i, double n) {
        const double ramp = (n - i) / n;
        return ramp * ramp;
    });
}
