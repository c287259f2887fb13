// The gain loops and the numbered gain steps. Every loop shapes the frames it
// reads into the output's layout first (channel 0 twice for mono to stereo, the
// halved sum for the mix), so the gain, the limiter and the gate each work on
// output frames of one to n channels.
#include "dsp/gain.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "conversion/cconv_spec.h"
#include "dsp/extras.h"
#include "dsp/scan.h"
#include "dsp/strip_walk.h"
#include "foundation/memory.h"
#include "soundfile/progress.h"
#include "soundfile/sound_file.h"

namespace {

// The limiter's release in seconds: its gain reduction falls to one eighth in this time.
constexpr float kEngCompressorRelease = 0.5f;
// The limiter's look-back and the gate's ramps last kWideWindow frames at input
// rates above kWideWindowRate, kNarrowWindow frames at or below it.
constexpr double kWideWindowRate = 22255.0;
constexpr uint32_t kWideWindow = 64;
constexpr uint32_t kNarrowWindow = 32;

// Normalize asked for while the stored peak is not valid.
constexpr OSErr kNoValidPeakErr = -20024;
// A mix step given three or more channels.
constexpr OSErr kTooManyChannelsErr = -20025;

enum class Layout { kMono, kM2S, kStereo, kMulti, kMix };
enum class Mode { kPassThrough, kFixedGain, kLimiter };

struct DeallocDeleter {
    void operator()(void* p) const { dealloc(p); }
};
using SampleBlock = std::unique_ptr<double, DeallocDeleter>;

// One loop call: its levels, mode and running state, and its buffers.
class GainPass {
public:
    GainPass(Layout layout, CSoundFile& input, CSoundFile& output, CConvSpec& conversion,
             short channel)
        : layout_(layout),
          input_(input),
          output_(output),
          conversion_(conversion),
          channel_(channel) {}

    // Checks the layout, decides the mode and takes the buffers.
    OSErr Prepare();
    // Processes start <= p < end through the gap list, writing from *outPos on.
    OSErr Walk(uint32_t start, uint32_t end, uint32_t* outPos);

private:
    OSErr ChannelsFit();
    OSErr DecideMode();
    OSErr Span(uint32_t from, uint32_t to, bool gap, uint32_t* outPos);
    OSErr Read(uint32_t position, uint32_t* count);
    void Shape(size_t frames);
    void Amplify(size_t frames);
    void Limit(size_t frames);
    void Gate(size_t frames, uint32_t position);

    const Layout layout_;
    CSoundFile& input_;
    CSoundFile& output_;
    CConvSpec& conversion_;
    const short channel_;
    size_t inChannels_ = 1;   // values per frame read into in_
    size_t outChannels_ = 1;  // values per frame of out_

    Mode mode_ = Mode::kPassThrough;
    double ceiling_ = 1.0;
    double boost_ = 1.0;
    double gate_ = 1.0;
    double release_ = 0.0;  // the limiter's reduction is multiplied by this per frame
    uint32_t window_ = kWideWindow;
    double gain_ = 1.0;     // G of the fixed-gain mode
    double current_ = 1.0;  // the gain the last frame got
    double env_ = 0.0;      // the limiter's reduction
    double limiterRampUp_ = 0.0;
    double rampDown_ = 0.0, rampUp_ = 0.0;  // of the gap span in hand
    uint32_t gapStart_ = 0, gapEnd_ = 0;
    bool reachesEnd_ = false;

    uint32_t block_ = 1;
    SampleBlock in_;   // mono to stereo and mix: the frames as read
    SampleBlock out_;  // the frames as written (the read frames themselves for the others)
};

OSErr GainPass::ChannelsFit() {
    const int in = input_.GetNumChannels(), out = output_.GetNumChannels();
    bool fits = false;
    switch (layout_) {
        case Layout::kMono:
            fits = channel_ >= 0 && channel_ < in && out == 1;
            break;
        case Layout::kM2S:
            fits = in >= 1 && out == 2;
            outChannels_ = 2;
            break;
        case Layout::kStereo:
            fits = in == 2 && out == 2;
            inChannels_ = outChannels_ = 2;
            break;
        case Layout::kMulti:
            fits = in >= 1 && out == in;
            inChannels_ = outChannels_ = static_cast<size_t>(std::max(in, 1));
            break;
        case Layout::kMix:
            fits = in >= 2 && out == 1;
            inChannels_ = static_cast<size_t>(std::max(in, 2));
            break;
    }
    return fits ? OSErr(0) : OSErr(kParamErr);
}

// The mode for the whole call, and the gains it starts from. The mix loop's
// output is (left + right) / 2, so its peak is half the stored one.
OSErr GainPass::DecideMode() {
    const bool limiter = conversion_.GetNeedsCompressor() != 0;
    const bool valid = conversion_.GetHasValidMax() != 0;
    const double stored = conversion_.GetMax();
    const double peak = layout_ == Layout::kMix ? stored * 0.5 : stored;
    if (limiter) {
        if (!valid || ceiling_ <= peak * boost_) {
            mode_ = Mode::kLimiter;
        } else {
            mode_ = Mode::kFixedGain;
            gain_ = boost_;
        }
    }
    if (conversion_.GetNeedsNormalize()) {
        if (!valid) return kNoValidPeakErr;
        if (layout_ == Layout::kMix) conversion_.SetMax(peak);
        const bool needed = IsNormalizeNeeded(&output_, &conversion_);
        if (layout_ == Layout::kMix) conversion_.SetMax(stored);
        mode_ = needed ? Mode::kFixedGain : Mode::kPassThrough;
        gain_ = needed ? 1.0 / conversion_.GetCeiledMax() : 1.0;
        if (limiter) {
            if (peak > 0.0) boost_ /= peak;  // a silent range has nothing to raise
            mode_ = Mode::kLimiter;
        }
    }
    // A gap at the start of the range fades from the level the sound gets.
    current_ = mode_ == Mode::kFixedGain ? gain_ : mode_ == Mode::kLimiter ? boost_ : 1.0;
    limiterRampUp_ = boost_ - gate_;  // spread over the up ramp's frames in Walk
    return 0;
}

OSErr GainPass::Prepare() {
    if (OSErr err = ChannelsFit()) return err;
    ceiling_ = dB2Amp(conversion_.GetCeiling());
    const double rate = input_.GetSampleRate();
    release_ = std::exp2(-3.0 / (static_cast<double>(kEngCompressorRelease) * rate));
    if (!(release_ >= 0.0 && release_ <= 1.0)) release_ = 0.0;  // a rate that is not positive
    gate_ = dB2Amp(conversion_.GetGateAttenuation());
    boost_ = dB2Amp(conversion_.GetCompBoost());
    output_.SetDither(conversion_.GetNeedsRedither() ? 1 : 0);
    SetProgressNumSampleFrames(
        static_cast<int>(std::min<uint32_t>(input_.GetNumSFrames(), INT32_MAX)));
    window_ = rate > kWideWindowRate ? kWideWindow : kNarrowWindow;
    if (OSErr err = DecideMode()) return err;

    // Half the output's buffer for one channel read, the whole buffer for several.
    const uint32_t frames = output_.GetBufferFrames();
    const bool half = layout_ == Layout::kMono || layout_ == Layout::kM2S;
    block_ = std::max<uint32_t>(half ? frames / 2 : frames, 1);
    out_.reset(static_cast<double*>(alloc(sizeof(double) * block_ * outChannels_)));
    if (OSErr err = MyMemError(out_.get(), 1)) return err;
    if (layout_ == Layout::kM2S || layout_ == Layout::kMix) {
        in_.reset(static_cast<double*>(alloc(sizeof(double) * block_ * inChannels_)));
        if (OSErr err = MyMemError(in_.get(), 1)) return err;
    }
    return 0;
}

OSErr GainPass::Read(uint32_t position, uint32_t* count) {
    switch (layout_) {
        case Layout::kMono:
            return input_.Read(channel_, position, count, out_.get());
        case Layout::kM2S:
            return input_.Read(0, position, count, in_.get());
        case Layout::kMix:
            return input_.Read(position, count, in_.get());
        default:
            return input_.Read(position, count, out_.get());
    }
}

void GainPass::Shape(size_t frames) {
    const double* in = in_.get();
    double* out = out_.get();
    if (layout_ == Layout::kM2S) {
        for (size_t i = 0; i < frames; ++i) out[2 * i] = out[2 * i + 1] = in[i];
    } else if (layout_ == Layout::kMix) {
        const size_t k = inChannels_;
        for (size_t i = 0; i < frames; ++i) out[i] = (in[i * k] + in[i * k + 1]) * 0.5;
    }
}

void GainPass::Amplify(size_t frames) {
    double* out = out_.get();
    const double g = gain_;
    for (size_t i = 0, n = frames * outChannels_; i < n; ++i) out[i] *= g;
    current_ = g;
}

// The look-ahead limiter: the gain recovers towards the boost by the release
// factor per frame; a frame that would pass the ceiling is brought onto it, and
// the frames before it in the same block fade into that reduction.
void GainPass::Limit(size_t frames) {
    double* out = out_.get();
    const size_t k = outChannels_;
    const size_t w = window_;
    double env = env_, g = current_;
    for (size_t i = 0; i < frames; ++i) {
        env *= release_;
        g = boost_ * (1.0 - env);
        double* y = out + i * k;
        double peak = 0.0;
        for (size_t c = 0; c < k; ++c) {
            y[c] *= g;
            peak = std::max(peak, std::fabs(y[c]));
        }
        if (!(peak > ceiling_)) continue;
        const double r = ceiling_ / peak;
        if (i + 1 >= w) {
            const double s = (1.0 - r) / static_cast<double>(w);
            double* back = out + (i + 1 - w) * k;
            for (size_t j = 1; j + 1 < w; ++j) {
                const double f = 1.0 - static_cast<double>(j) * s;
                for (size_t c = 0; c < k; ++c) back[j * k + c] *= f;
            }
        }
        env = 1.0 - (1.0 - env) * r;
        for (size_t c = 0; c < k; ++c) y[c] *= r;
    }
    env_ = env;
    current_ = g;
}

// The gate: down from the gain in hand to the gate level over the gap's first
// window and back over its last, unless the gap reaches the end of the range.
// The one-channel loops ramp over frames S <= p < S + W and E - W <= p < E; the
// loops that read two or more channels over S <= p <= S + W and E - W < p < E
// (W + 1 frames down, W - 1 up).
void GainPass::Gate(size_t frames, uint32_t position) {
    double* out = out_.get();
    const size_t k = outChannels_;
    const bool oneChannelRead = layout_ == Layout::kMono || layout_ == Layout::kM2S;
    const int64_t downUntil = int64_t{gapStart_} + window_ + (oneChannelRead ? 0 : 1);
    const int64_t upFrom = int64_t{gapEnd_} - window_ + (oneChannelRead ? 0 : 1);
    double c = current_;
    for (size_t i = 0; i < frames; ++i) {
        const int64_t p = int64_t{position} + static_cast<int64_t>(i);
        if (p < downUntil) c -= rampDown_;
        if (p >= upFrom && !reachesEnd_) c += rampUp_;
        for (size_t ch = 0; ch < k; ++ch) out[i * k + ch] *= c;
    }
    current_ = c;
}

OSErr GainPass::Span(uint32_t from, uint32_t to, bool gap, uint32_t* outPos) {
    for (uint32_t position = from; position < to;) {
        uint32_t count = std::min(to - position, block_);
        if (OSErr err = Read(position, &count)) return err;
        if (count == 0) return kEOFErr;  // the input ended before its frame count
        if (OSErr err = SetProgressPosition(static_cast<int>(position))) return err;
        Shape(count);
        if (gap)
            Gate(count, position);
        else if (mode_ == Mode::kLimiter)
            Limit(count);
        else if (mode_ == Mode::kFixedGain)
            Amplify(count);
        uint32_t written = count;
        if (OSErr err = output_.Write(*outPos, &written, out_.get())) return err;
        *outPos += written;
        position += count;
    }
    return 0;
}

// Sound and gap spans in turn, in frame order. A span never starts before the
// end of the one before it, so a gap list out of order or overlapping cannot
// make a frame be written twice.
OSErr GainPass::Walk(uint32_t start, uint32_t end, uint32_t* outPos) {
    end = std::min(end, input_.GetNumSFrames());
    uint32_t done = start;
    const auto within = [&](int32_t frame) {
        return static_cast<uint32_t>(std::clamp<int64_t>(frame, done, std::max(done, end)));
    };
    for (uint32_t index = 0;; ++index) {
        int32_t gapStart = 0, gapEnd = 0;
        const OSErr got = input_.GetGap(index, &gapStart, &gapEnd);
        if (got != 0 && got != kNoSuchGapErr) return got;
        const uint32_t soundEnd = got == kNoSuchGapErr ? std::max(done, end) : within(gapStart);
        if (soundEnd > done) {
            if (OSErr err = Span(done, soundEnd, false, outPos)) return err;
            done = soundEnd;
        }
        if (got == kNoSuchGapErr) return 0;

        if (int64_t{gapEnd} >= end) reachesEnd_ = true;
        gapStart_ = within(gapStart);
        gapEnd_ = within(gapEnd);
        if (gapEnd_ > gapStart_) {
            // Each ramp spreads its change over the frames it covers, so the gap
            // sits at the gate level and the sound after it resumes at its gain.
            const bool oneChannelRead = layout_ == Layout::kMono || layout_ == Layout::kM2S;
            const double downFrames = window_ + (oneChannelRead ? 0 : 1);
            const double upFrames = window_ - (oneChannelRead ? 0 : 1);
            rampDown_ = (current_ - gate_) / downFrames;
            rampUp_ = (mode_ == Mode::kLimiter ? limiterRampUp_ : current_ - gate_) / upFrames;
            if (OSErr err = Span(gapStart_, gapEnd_, true, outPos)) return err;
            done = gapEnd_;
        }
        if (int64_t{gapEnd} > end) return 0;
    }
}

OSErr RunLoop(Layout layout, CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
              uint32_t* outPos, CConvSpec* conversion, short channel = 0) {
    if (!input || !output || !outPos || !conversion) return kParamErr;
    const uint32_t entry = *outPos;
    GainPass pass(layout, *input, *output, *conversion, channel);
    OSErr err = pass.Prepare();
    if (err == 0) err = pass.Walk(start, end, outPos);
    if (err == 0 && conversion->GetCopyExtras() && !output->IsOneChannelDone())
        err = CarryExtras(*input, *output, start, end, entry - start);
    return err;
}

// The loops of each channel treatment over one range, picked by the input's
// channel count.
enum class Treatment { kNone, kM2S, kM2SStrip, kMix, kMixStrip, kLeft, kRight };

OSErr GainRange(Treatment treatment, CSoundFile* input, CSoundFile* output, uint32_t start,
                uint32_t end, uint32_t* outPos, CConvSpec* conversion) {
    if (!input) return kParamErr;
    const int n = input->GetNumChannels();
    const auto mono = [&](short channel) {
        return GenericGainMono(input, output, start, end, outPos, conversion, channel);
    };
    const auto multi = [&] {
        return GenericGainMultiChannel(input, output, start, end, outPos, conversion);
    };
    const auto m2s = [&] { return GenericGainM2S(input, output, start, end, outPos, conversion); };
    switch (treatment) {
        case Treatment::kNone:
            if (n <= 1) return mono(0);
            return n == 2 ? GenericGainStereo(input, output, start, end, outPos, conversion)
                          : multi();
        case Treatment::kM2S:
            if (n <= 2) return m2s();
            if (OSErr err = m2s()) return err;
            return multi();
        case Treatment::kM2SStrip:
            if (n <= 1) return m2s();
            return n == 2 ? GenericGainStereo(input, output, start, end, outPos, conversion)
                          : multi();
        case Treatment::kMix:
        case Treatment::kMixStrip:
            if (n <= 1) return mono(0);
            if (n == 2) return GenericGainMix(input, output, start, end, outPos, conversion);
            return treatment == Treatment::kMix ? OSErr(kTooManyChannelsErr) : multi();
        case Treatment::kLeft:
            return n <= 2 ? mono(0) : multi();
        case Treatment::kRight:
            return n <= 2 ? mono(1) : multi();
    }
    return kParamErr;
}

OSErr GainWhole(Treatment treatment, CSoundFile* input, CSoundFile* output, CConvSpec* conversion) {
    if (!input) return kParamErr;
    uint32_t outPos = 0;
    return GainRange(treatment, input, output, 0, input->GetNumSFrames(), &outPos, conversion);
}

OSErr GainRegion(Treatment treatment, CSoundFile* input, CSoundFile* output, uint32_t start,
                 uint32_t end, CConvSpec* conversion) {
    uint32_t outPos = 0;
    return GainRange(treatment, input, output, start, end, &outPos, conversion);
}

// Each widened region block, all written back to back.
OSErr GainStrip(Treatment treatment, CSoundFile* input, CSoundFile* output, CConvSpec* conversion) {
    if (!input || !conversion) return kParamErr;
    return WalkStripBlocks(
        *input, StripMarginFrames(input->GetSampleRate(), conversion->GetStripMargin()),
        [&](uint32_t start, uint32_t end, uint32_t* outPos) {
            return GainRange(treatment, input, output, start, end, outPos, conversion);
        });
}

}  // namespace

OSErr GenericGainMono(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
                      uint32_t* outPos, CConvSpec* conversion, short channel) {
    return RunLoop(Layout::kMono, input, output, start, end, outPos, conversion, channel);
}

OSErr GenericGainStereo(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
                        uint32_t* outPos, CConvSpec* conversion) {
    return RunLoop(Layout::kStereo, input, output, start, end, outPos, conversion);
}

OSErr GenericGainMultiChannel(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
                              uint32_t* outPos, CConvSpec* conversion) {
    return RunLoop(Layout::kMulti, input, output, start, end, outPos, conversion);
}

OSErr GenericGainM2S(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
                     uint32_t* outPos, CConvSpec* conversion) {
    return RunLoop(Layout::kM2S, input, output, start, end, outPos, conversion);
}

OSErr GenericGainMix(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
                     uint32_t* outPos, CConvSpec* conversion) {
    return RunLoop(Layout::kMix, input, output, start, end, outPos, conversion);
}

// ---- No channel treatment -------------------------------------------------------

OSErr Gain002(CSoundFile* input, CSoundFile* output, CConvSpec* conversion) {
    return GainWhole(Treatment::kNone, input, output, conversion);
}

OSErr Gain006(CSoundFile* input, CSoundFile* output, CConvSpec* conversion) {
    return GainStrip(Treatment::kNone, input, output, conversion);
}

OSErr Gain010(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
              CConvSpec* conversion) {
    return GainRegion(Treatment::kNone, input, output, start, end, conversion);
}

// ---- Mono to stereo ---------------------------------------------------------------

OSErr Gain018(CSoundFile* input, CSoundFile* output, CConvSpec* conversion) {
    return GainWhole(Treatment::kM2S, input, output, conversion);
}

OSErr Gain022(CSoundFile* input, CSoundFile* output, CConvSpec* conversion) {
    return GainStrip(Treatment::kM2SStrip, input, output, conversion);
}

OSErr Gain026(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end, uint32_t* outPos,
              CConvSpec* conversion) {
    return GainRange(Treatment::kM2S, input, output, start, end, outPos, conversion);
}

// ---- Mix to mono ----------------------------------------------------------------------

OSErr Gain050(CSoundFile* input, CSoundFile* output, CConvSpec* conversion) {
    return GainWhole(Treatment::kMix, input, output, conversion);
}

OSErr Gain054(CSoundFile* input, CSoundFile* output, CConvSpec* conversion) {
    return GainStrip(Treatment::kMixStrip, input, output, conversion);
}

OSErr Gain058(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end, uint32_t* outPos,
              CConvSpec* conversion) {
    return GainRange(Treatment::kMix, input, output, start, end, outPos, conversion);
}

// ---- Left channel only ----------------------------------------------------------------

OSErr Gain066(CSoundFile* input, CSoundFile* output, CConvSpec* conversion) {
    return GainWhole(Treatment::kLeft, input, output, conversion);
}

OSErr Gain070(CSoundFile* input, CSoundFile* output, CConvSpec* conversion) {
    return GainStrip(Treatment::kLeft, input, output, conversion);
}

OSErr Gain074(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
              CConvSpec* conversion) {
    return GainRegion(Treatment::kLeft, input, output, start, end, conversion);
}

// ---- Right channel only -------------------------------------------------------------

OSErr Gain082(CSoundFile* input, CSoundFile* output, CConvSpec* conversion) {
    return GainWhole(Treatment::kRight, input, output, conversion);
}

OSErr Gain086(CSoundFile* input, CSoundFile* output, CConvSpec* conversion) {
    return GainStrip(Treatment::kRight, input, output, conversion);
}

OSErr Gain090(CSoundFile* input, CSoundFile* output, uint32_t start, uint32_t end,
              CConvSpec* conversion) {
    return GainRegion(Treatment::kRight, input, output, start, end, conversion);
}
