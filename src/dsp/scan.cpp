// The peak and gap scan and the normalize decision. Samples are examined in
// their integer form: the peak as a magnitude at the sample's own scale, the
// gaps against thresholds converted once to that scale (24-bit samples
// left-justified in 32 bits, against the 32-bit threshold).
#include "dsp/scan.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "conversion/cconv_spec.h"
#include "dsp/strip_walk.h"
#include "soundfile/progress.h"
#include "soundfile/sample_conversion.h"
#include "soundfile/sound_file.h"

namespace {

// The gap guards in milliseconds: a gap begins this long after its first quiet
// sample (unless it begins at frame 0) and ends this long before the next loud one.
constexpr double gGateAttackToRight = 30.0;
constexpr double gGateReleaseToLeft = 30.0;
// Frame counts and thresholds are held below this, far beyond any file.
constexpr double kLargestCount = 4611686018427387904.0;  // 2^62

// How the file's buffer holds its samples.
enum class Form { kNone, k8, k16, k24, k24In32, k32 };

struct Load8 {
    static int32_t At(const unsigned char* b, size_t i) { return static_cast<int8_t>(b[i]); }
};
struct Load16 {
    static int32_t At(const unsigned char* b, size_t i) {
        int16_t s;
        std::memcpy(&s, b + 2 * i, 2);
        return s;
    }
};
// Packed three bytes, left-justified in 32 bits.
struct Load24 {
    static int32_t At(const unsigned char* b, size_t i) { return TwentyFour2Long(b + 3 * i); }
};
// 32-bit words holding a 24-bit sample in their low three bytes, left-justified.
struct Load24In32 {
    static int32_t At(const unsigned char* b, size_t i) {
        uint32_t w;
        std::memcpy(&w, b + 4 * i, 4);
        return static_cast<int32_t>(w << 8);
    }
};
struct Load32 {
    static int32_t At(const unsigned char* b, size_t i) {
        int32_t s;
        std::memcpy(&s, b + 4 * i, 4);
        return s;
    }
};

Form FormOf(const CSoundFile& file) {
    const short bits = file.GetWordSize();
    if (file.GetNumChannels() < 1 || bits < 8 || bits > 39) return Form::kNone;
    switch (Bits2Bytes(static_cast<uint16_t>(bits))) {
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

template <class Fn>
void WithForm(Form form, Fn&& fn) {
    switch (form) {
        case Form::k8:
            return fn(Load8{});
        case Form::k16:
            return fn(Load16{});
        case Form::k24:
            return fn(Load24{});
        case Form::k24In32:
            return fn(Load24In32{});
        case Form::k32:
            return fn(Load32{});
        case Form::kNone:
            return;
    }
}

// The factor from a magnitude at the sample's scale to full-scale units.
double PeakScale(Form form) {
    switch (form) {
        case Form::k8:
            return kReadScale8;
        case Form::k16:
            return kReadScale16;
        default:
            return kReadScale32;
    }
}

// Full scale at the sample's scale, for the gap thresholds.
double ThresholdScale(Form form) {
    switch (form) {
        case Form::k8:
            return 127.0;
        case Form::k16:
            return 32767.0;
        default:
            return 2147483647.0;
    }
}

// Which values of a frame are examined: every sample, one channel's, or the
// sum of channels 0 and 1 (not halved).
enum class Examine { kAll, kChannel, kMix };

struct Selection {
    Examine what = Examine::kAll;
    size_t channel = 0;
    size_t channels = 1;
};

// The samples the gain pass will process: the treatment's mix or channel of a
// two-channel file when the conversion treats channels, every channel otherwise
// (one channel, three or more, treatment switched off, or any other treatment).
Selection SelectionOf(const CSoundFile& file, const CConvSpec& conversion) {
    Selection s;
    s.channels = static_cast<size_t>(std::max<short>(file.GetNumChannels(), 1));
    if (!conversion.GetNeedsChannelTreat() || s.channels != 2) return s;
    switch (conversion.GetChannelTreat()) {
        case 3:
            s.what = Examine::kMix;
            break;
        case 4:
            s.what = Examine::kChannel;
            break;
        case 5:
            s.what = Examine::kChannel;
            s.channel = 1;
            break;
        default:
            break;
    }
    return s;
}

inline int64_t Magnitude(int64_t v) {
    return v < 0 ? -v : v;
}

// The largest examined magnitude of `frames` frames, at the sample's scale.
template <class L>
int64_t BlockPeak(const unsigned char* b, size_t frames, const Selection& s) {
    if (s.what == Examine::kMix) {
        int64_t lo = 0, hi = 0;
        for (size_t f = 0; f < frames; ++f) {
            const int64_t v =
                int64_t{L::At(b, f * s.channels)} + int64_t{L::At(b, f * s.channels + 1)};
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        return std::max(hi, -lo);
    }
    int32_t lo = 0, hi = 0;
    if (s.what == Examine::kAll) {
        for (size_t i = 0, n = frames * s.channels; i < n; ++i) {
            const int32_t v = L::At(b, i);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    } else {
        for (size_t f = 0; f < frames; ++f) {
            const int32_t v = L::At(b, f * s.channels + s.channel);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    return std::max<int64_t>(hi, -int64_t{lo});
}

// The silence being followed through the file, and the gaps it leaves.
class GapRun {
public:
    GapRun(CSoundFile& file, int64_t attack, int64_t release, int64_t minGap)
        : file_(file), attack_(attack), release_(release), minGap_(minGap) {}

    // The first quiet value opens a silence.
    void Quiet(int64_t frame) {
        if (!inSilence_) {
            start_ = frame;
            inSilence_ = true;
        }
    }
    // A loud value closes it: a gap when it is long enough without its guards.
    void Loud(int64_t frame) {
        if (!inSilence_) return;
        if (start_ != 0) start_ += attack_;
        const int64_t end = frame - release_;
        if (end - start_ > minGap_) Add(start_, end);
        inSilence_ = false;
    }
    // A silence still open at the end of the file lasts to its end.
    void Finish(int64_t total) {
        if (!inSilence_) return;
        start_ += attack_;
        if (total - start_ > minGap_) Add(start_, total);
        inSilence_ = false;
    }

private:
    void Add(int64_t start, int64_t end) {
        file_.AddGap(static_cast<int32_t>(start), static_cast<int32_t>(end));
    }

    CSoundFile& file_;
    const int64_t attack_, release_, minGap_;
    bool inSilence_ = false;
    int64_t start_ = 0;
};

// Feeds the examined values of `frames` frames, the first at frame `pos`, to the run.
template <class L>
void BlockGaps(const unsigned char* b, size_t frames, int64_t pos, const Selection& s,
               int64_t threshold, GapRun& run) {
    const auto feed = [&](int64_t v, size_t f) {
        if (Magnitude(v) < threshold)
            run.Quiet(pos + static_cast<int64_t>(f));
        else
            run.Loud(pos + static_cast<int64_t>(f));
    };
    switch (s.what) {
        case Examine::kAll:
            for (size_t f = 0; f < frames; ++f)
                for (size_t c = 0; c < s.channels; ++c) feed(L::At(b, f * s.channels + c), f);
            break;
        case Examine::kChannel:
            for (size_t f = 0; f < frames; ++f) feed(L::At(b, f * s.channels + s.channel), f);
            break;
        case Examine::kMix:
            for (size_t f = 0; f < frames; ++f)
                feed(int64_t{L::At(b, f * s.channels)} + L::At(b, f * s.channels + 1), f);
            break;
    }
}

// A non-negative count from a double, truncated; NaN and negatives give 0.
int64_t WholeCount(double x) {
    if (!(x > 0.0)) return 0;
    return static_cast<int64_t>(std::min(x, kLargestCount));
}

// The block loop shared by the gap scan and the combined scan.
OSErr ScanForGaps(CSoundFile* source, CConvSpec* conversion, bool measurePeak) {
    if (!source || !conversion) return kParamErr;
    if (measurePeak) {
        conversion->SetMax(0.0);
        conversion->SetHasValidMax(0);
    }
    const double rate = source->GetSampleRate();
    const int64_t attack = WholeCount(rate / 1000.0 * gGateAttackToRight);
    const int64_t release = WholeCount(rate / 1000.0 * gGateReleaseToLeft);
    const uint32_t total = source->GetNumSFrames();
    SetProgressNumSampleFrames(static_cast<int>(std::min<uint32_t>(total, INT32_MAX)));
    // A negative gap length would let a gap end before it starts.
    const int64_t minGap = WholeCount(conversion->GetGateGapLength() * rate);
    const double level = dB2Amp(conversion->GetGateThreshold());

    OSErr err = source->InitInputBuffer();
    const Form form = FormOf(*source);
    if (err || total == 0 || form == Form::kNone) {
        if (measurePeak) conversion->SetHasValidMax(1);
        return err;
    }
    const Selection selection = SelectionOf(*source, *conversion);
    int64_t threshold = WholeCount(level * ThresholdScale(form));
    if (selection.what == Examine::kMix) threshold *= 2;

    GapRun run(*source, attack, release, minGap);
    const uint32_t block = std::max<uint32_t>(source->GetBufferFrames(), 1);
    int64_t peak = 0;
    for (uint32_t pos = 0; pos < total; pos += std::min(block, total - pos)) {
        const size_t n = std::min(block, total - pos);
        if ((err = SetProgressPosition(static_cast<int>(pos))) != 0) break;
        if ((err = source->RefreshInputBuffer(pos)) != 0) break;
        const unsigned char* b = source->GetInputBuffer();
        if (!b) {
            err = kMemBlockMissingErr;
            break;
        }
        WithForm(form, [&](auto load) {
            using L = decltype(load);
            if (measurePeak) peak = std::max(peak, BlockPeak<L>(b, n, selection));
            BlockGaps<L>(b, n, pos, selection, threshold, run);
        });
    }
    run.Finish(total);
    if (measurePeak) {
        conversion->SetMax(
            err ? 1.0
                : std::max(static_cast<double>(peak) * PeakScale(form), conversion->GetMax()));
        conversion->SetHasValidMax(1);
    }
    return err;
}

}  // namespace

double dB2Amp(double dB) {
    return std::pow(10.0, dB / 20.0);
}

double Amp2dB(double amplitude) {
    if (amplitude == 0.0) return -std::numeric_limits<double>::infinity();
    return 20.0 * std::log10(std::fabs(amplitude));
}

OSErr Gaps2Regions(CSoundFile* source, CConvSpec* /*conversion*/) {
    if (!source) return kParamErr;
    for (uint16_t left = source->GetNumRegions(); left > 0; --left) {
        SFTRegion region;
        if (OSErr err = source->GetIndRegion(uint16_t{0}, &region)) return err;
        if (OSErr err = source->RemoveRegion(&region)) return err;
    }
    if (source->GetNumRegions() != 0) return kParamErr;  // a region that would not go

    for (uint32_t index = 0;; ++index) {
        int32_t start = 0, end = 0;
        const OSErr got = source->GetGap(index, &start, &end);
        if (got == kNoSuchGapErr) return 0;
        if (got != 0) return got;
        // "XWQ Region 0001" and on: the number from 1, at least four digits.
        char digits[16];
        std::string name(digits, std::to_chars(digits, digits + sizeof digits, index + 1).ptr);
        if (name.size() < 4) name.insert(0, 4 - name.size(), '0');
        SFTRegion region{};
        region.id = static_cast<int32_t>(index + 1);
        region.start = start;
        region.end = end;
        region.sync = start;
        NameToField("XWQ Region " + name, region.name);
        if (OSErr err = source->AddRegion(&region)) return err;
    }
}

bool IsNormalizeNeeded(CSoundFile* file, CConvSpec* conversion) {
    if (!file || !conversion) return false;
    const double ceiling = dB2Amp(conversion->GetCeiling());
    const double lsb = std::ldexp(1.0, 1 - file->GetWordSize());
    const double peak = conversion->GetMax();
    if (ceiling - lsb <= peak && peak <= ceiling) return false;
    conversion->SetCeiledMax(peak / ceiling + lsb * 0.5);
    return true;
}

OSErr GetMaxFromTo(CSoundFile* source, int32_t first, int32_t end, CConvSpec* conversion) {
    if (!source || !conversion) return kParamErr;
    if (OSErr err = source->InitInputBuffer()) return err;
    const Form form = FormOf(*source);
    if (form == Form::kNone) return 0;
    const Selection selection = SelectionOf(*source, *conversion);
    // Frames past the file's end are not there to be read.
    const uint32_t from = static_cast<uint32_t>(std::max(first, 0));
    const uint32_t to = static_cast<uint32_t>(
        std::min<int64_t>(std::max(end, 0), static_cast<int64_t>(source->GetNumSFrames())));
    const uint32_t block = std::max<uint32_t>(source->GetBufferFrames(), 1);

    int64_t peak = 0;
    for (uint32_t pos = from; pos < to; pos += std::min(block, to - pos)) {
        const size_t n = std::min(block, to - pos);
        OSErr err = SetProgressPosition(static_cast<int>(pos));
        if (err == 0) err = source->RefreshInputBuffer(pos);
        const unsigned char* b = source->GetInputBuffer();
        if (err == 0 && !b) err = kMemBlockMissingErr;
        if (err) {
            conversion->SetMax(1.0);
            return err;
        }
        WithForm(form, [&](auto load) {
            peak = std::max(peak, BlockPeak<decltype(load)>(b, n, selection));
        });
    }
    conversion->SetMax(std::max(static_cast<double>(peak) * PeakScale(form), conversion->GetMax()));
    return 0;
}

OSErr GetMax(CSoundFile* source, CConvSpec* conversion) {
    if (!source || !conversion) return kParamErr;
    const uint32_t frames = source->GetNumSFrames();
    SetProgressNumSampleFrames(static_cast<int>(std::min<uint32_t>(frames, INT32_MAX)));
    conversion->SetMax(0.0);
    conversion->SetHasValidMax(0);
    OSErr err = 0;
    const bool strip = conversion->GetNeedsStrip() != 0;
    if (!strip && !conversion->GetNeedsExtraction()) {
        err = GetMaxFromTo(source, 0, static_cast<int32_t>(std::min<uint32_t>(frames, INT32_MAX)),
                           conversion);
    } else {
        // The blocks the strip and extraction walks of the gain pass process.
        StripWalk walk(
            *source,
            strip ? StripMarginFrames(source->GetSampleRate(), conversion->GetStripMargin()) : 0);
        uint32_t start = 0, end = 0;
        while ((err = walk.Next(&start, &end)) == 0) {
            err =
                GetMaxFromTo(source, static_cast<int32_t>(std::min<uint32_t>(start, INT32_MAX)),
                             static_cast<int32_t>(std::min<uint32_t>(end, INT32_MAX)), conversion);
            if (err) break;
        }
        err = StripWalkStatus(err);
    }
    conversion->SetHasValidMax(1);
    return err;
}

OSErr GetGapScan(CSoundFile* source, CConvSpec* conversion) {
    return ScanForGaps(source, conversion, false);
}

OSErr GetMaxAndGapScan(CSoundFile* source, CConvSpec* conversion) {
    return ScanForGaps(source, conversion, true);
}

OSErr ScanFile(CSoundFile* source, CConvSpec* conversion) {
    if (!source || !conversion) return kParamErr;
    const bool gate = conversion->GetNeedsGate() != 0;
    const bool normalize = conversion->GetNeedsNormalize() != 0;
    const bool valid = conversion->GetHasValidMax() != 0;
    if (gate && normalize)
        return valid ? GetGapScan(source, conversion) : GetMaxAndGapScan(source, conversion);
    if (gate) return GetGapScan(source, conversion);
    if (normalize && !valid) return GetMax(source, conversion);
    return 0;
}
