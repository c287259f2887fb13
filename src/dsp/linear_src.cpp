#include "dsp/linear_src.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "conversion/cconv_spec.h"
#include "soundfile/progress.h"
#include "soundfile/sound_file.h"

namespace rateconv {

namespace {

uint64_t BlockFrames(LinearBlocks blocks, uint32_t bufferFrames, int64_t L, int64_t M) {
    const double q = static_cast<double>(M) / static_cast<double>(L);
    const double b = static_cast<double>(bufferFrames);
    const double n = blocks == LinearBlocks::kBufferLessTwo ? b / q - 2.0 : b / std::sqrt(q);
    return n >= 1.0 ? static_cast<uint64_t>(std::min(n, double(kMaxBlockFrames))) : 1;
}

}  // namespace

OSErr ConvertLinear(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                    CConvSpec* conversion, SourceLayout in, short channel, OutputLayout out,
                    LinearBlocks blocks, uint32_t* outPos) {
    if (!source || !output || !conversion || !outPos) return kParamErr;
    int64_t L = 0;
    int64_t M = 0;
    if (OSErr err = ReduceRates(conversion->GetSampleRate(), source->GetSampleRate(), &L, &M))
        return err;
    const uint32_t rangeFrames = end > start ? end - start : 0;
    const uint64_t outFrames = OutputFramesFloor(rangeFrames, L, M);
    if (outFrames == 0) return 0;
    if (outFrames > UINT32_MAX - *outPos) return kParamErr;

    const uint64_t outBlock =
        std::min(outFrames, BlockFrames(blocks, output->GetBufferFrames(), L, M));
    // A block of n output frames spans at most floor((n - 1) × M / L) + 3 source frames.
    const uint64_t span = OutputFramesFloor(outBlock - 1, M, L);
    if (span > kMaxBlockValues) return kMemBlockMissingErr;
    const uint64_t inCapacity = span + 3;

    FrameMover io;
    if (OSErr err = io.Init(source, in, channel, output, out, inCapacity, outBlock)) return err;
    const size_t C = static_cast<size_t>(io.Values());
    OSErr err = 0;
    Block input = AllocBlock(inCapacity * C, &err);
    if (err) return err;
    Block block = AllocBlock(outBlock * C, &err);
    if (err) return err;

    const double invL = 1.0 / static_cast<double>(L);
    double peak = conversion->GetMax();
    RateClock clock(L, M);
    uint64_t done = 0;
    while (done < outFrames) {
        const uint64_t n = std::min(outBlock, outFrames - done);
        // The source frames this block interpolates between, up to the range end.
        const int64_t first = clock.whole;
        const uint64_t need =
            static_cast<uint64_t>(clock.WholeAfter(static_cast<int64_t>(n) - 1) - first) + 2;
        const uint64_t available = rangeFrames - std::min<uint64_t>(rangeFrames, first);
        uint32_t got = static_cast<uint32_t>(std::min(need, available));
        const uint32_t readPos =
            start + static_cast<uint32_t>(std::min<uint64_t>(first, rangeFrames));
        if (got) {
            if ((err = io.Read(readPos, &got, input.get()))) return err;
            got = static_cast<uint32_t>(std::min<uint64_t>(got, need));
        }
        std::fill(input.get() + got * C, input.get() + need * C, 0.0);

        double* y = block.get();
        const double* x = input.get();
        for (uint64_t j = 0; j < n; ++j) {
            const size_t i = static_cast<size_t>(clock.whole - first) * C;
            const double f = static_cast<double>(clock.phase) * invL;
            for (size_t c = 0; c < C; ++c) {
                const double v = x[i + c] * (1.0 - f) + x[i + C + c] * f;
                y[j * C + c] = v;
                peak = std::max(peak, std::fabs(v));
            }
            clock.Advance();
        }
        conversion->SetMax(peak);

        uint32_t count = static_cast<uint32_t>(n);
        err = io.Write(*outPos, &count, block.get());
        *outPos += count;
        if (err) return err;
        done += n;
        if ((err = SetProgressPosition(static_cast<int>(readPos)))) return err;
    }
    return 0;
}

}  // namespace rateconv

short SRConvertStereoRegionLinear(CSoundFile* source, CSoundFile* output, uint32_t start,
                                  uint32_t end, CConvSpec* conversion, uint32_t* outPos) {
    return rateconv::ConvertLinear(
        source, output, start, end, conversion, rateconv::SourceLayout::kStereo, 0,
        rateconv::OutputLayout::kFrames, rateconv::LinearBlocks::kBufferLessTwo, outPos);
}

short SRConvert1ChannelRegionLinear(CSoundFile* source, CSoundFile* output, uint32_t start,
                                    uint32_t end, CConvSpec* conversion, short channel, short,
                                    uint32_t* outPos) {
    return rateconv::ConvertLinear(
        source, output, start, end, conversion, rateconv::SourceLayout::kOneChannel, channel,
        rateconv::OutputLayout::kOneChannel, rateconv::LinearBlocks::kBufferLessTwo, outPos);
}
