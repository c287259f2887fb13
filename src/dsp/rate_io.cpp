#include "dsp/rate_io.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "foundation/memory.h"
#include "soundfile/sound_file.h"

namespace rateconv {

namespace {

// Rates are held in units of 1/10000 Hz; above this a rate is not a sound's.
constexpr double kMaxRate = 1.0e9;

bool ToUnits(double rate, int64_t* units) {
    if (!(rate > 0.0) || !(rate <= kMaxRate)) return false;  // NaN fails both
    *units = std::llround(rate * 10000.0);
    return *units > 0;
}

}  // namespace

OSErr ReduceRates(double outputRate, double inputRate, int64_t* L, int64_t* M) {
    int64_t l = 0;
    int64_t m = 0;
    if (!ToUnits(outputRate, &l) || !ToUnits(inputRate, &m)) return kParamErr;
    const int64_t d = std::gcd(l, m);
    *L = l / d;
    *M = m / d;
    return 0;
}

uint64_t OutputFramesCeil(uint64_t frames, int64_t L, int64_t M) {
    const unsigned __int128 p = static_cast<unsigned __int128>(frames) * static_cast<uint64_t>(L);
    const auto m = static_cast<uint64_t>(M);
    const unsigned __int128 q = (p + m - 1) / m;
    return q > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(q);
}

uint64_t OutputFramesFloor(uint64_t frames, int64_t L, int64_t M) {
    const unsigned __int128 p = static_cast<unsigned __int128>(frames) * static_cast<uint64_t>(L);
    const unsigned __int128 q = p / static_cast<uint64_t>(M);
    return q > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(q);
}

int64_t ScaleTrunc(int64_t value, int64_t L, int64_t M) {
    const __int128 q = static_cast<__int128>(value) * L / M;
    return static_cast<int64_t>(std::clamp<__int128>(q, INT64_MIN, INT64_MAX));
}

int64_t RateClock::WholeAfter(int64_t frames) const {
    const __int128 step = static_cast<__int128>(wholeStep) * L + phaseStep;  // M
    return whole + static_cast<int64_t>((phase + step * frames) / L);
}

void BlockDeleter::operator()(double* p) const {
    dealloc(p);
}

Block AllocBlock(size_t values, OSErr* err) {
    double* p = nullptr;
    if (values <= kMaxBlockValues)
        p = static_cast<double*>(alloc_clear(sizeof(double) * std::max<size_t>(values, 1)));
    *err = MyMemError(p, 1);
    if (!p && *err == 0) *err = kMemBlockMissingErr;
    return Block(p);
}

OSErr FrameMover::Init(CSoundFile* source, SourceLayout in, short channel, CSoundFile* output,
                       OutputLayout out, size_t maxRead, size_t maxWrite) {
    if (!source || !output) return kParamErr;
    source_ = source;
    output_ = output;
    in_ = in;
    out_ = out;
    channel_ = channel;
    sourceChannels_ =
        source->GetNumChannels() > 0 ? static_cast<size_t>(source->GetNumChannels()) : 0;
    outputChannels_ =
        output->GetNumChannels() > 0 ? static_cast<size_t>(output->GetNumChannels()) : 0;
    if (sourceChannels_ == 0 || outputChannels_ == 0) return kParamErr;

    size_t scratch = 0;
    switch (in) {
        case SourceLayout::kStereo:
            if (sourceChannels_ != 2) return kParamErr;
            break;
        case SourceLayout::kFrames:
            break;
        case SourceLayout::kOneChannel:
            if (channel < 0 || static_cast<size_t>(channel) >= sourceChannels_) return kParamErr;
            break;
        case SourceLayout::kMix:
            if (sourceChannels_ > 1) scratch = sourceChannels_ * maxRead;
            break;
    }
    switch (out) {
        case OutputLayout::kFrames:
            if (!WholeFrames(in) || outputChannels_ != sourceChannels_) return kParamErr;
            break;
        case OutputLayout::kOneChannel:
            if (outputChannels_ > 1 &&
                (channel < 0 || static_cast<size_t>(channel) >= outputChannels_))
                return kParamErr;
            break;
        case OutputLayout::kEveryChannel:
            if (outputChannels_ > 1) scratch = std::max(scratch, outputChannels_ * maxWrite);
            break;
    }
    if (scratch) {
        OSErr err = 0;
        scratch_ = AllocBlock(scratch, &err);
        if (err) return err;
    }
    return 0;
}

OSErr FrameMover::Read(uint32_t position, uint32_t* count, double* into) {
    switch (in_) {
        case SourceLayout::kStereo:
        case SourceLayout::kFrames:
            return source_->Read(position, count, into);
        case SourceLayout::kOneChannel:
            return source_->Read(channel_, position, count, into);
        case SourceLayout::kMix:
            break;
    }
    if (sourceChannels_ == 1) return source_->Read(0, position, count, into);
    double* frames = scratch_.get();
    const OSErr err = source_->Read(position, count, frames);
    const size_t n = *count;
    const size_t ch = sourceChannels_;
    for (size_t i = 0; i < n; ++i) into[i] = (frames[i * ch] + frames[i * ch + 1]) * 0.5;
    return err;
}

OSErr FrameMover::Write(uint32_t position, uint32_t* count, double* block) {
    if (out_ == OutputLayout::kOneChannel && outputChannels_ > 1)
        return output_->Add(channel_, position, count, block);
    if (out_ == OutputLayout::kEveryChannel && outputChannels_ > 1) {
        double* frames = scratch_.get();
        const size_t n = *count;
        const size_t ch = outputChannels_;
        for (size_t i = 0; i < n; ++i)
            for (size_t c = 0; c < ch; ++c) frames[i * ch + c] = block[i];
        return output_->Write(position, count, frames);
    }
    return output_->Write(position, count, block);
}

}  // namespace rateconv
