// The pipeline shape: the plan derived from the input, the outputs and the
// temporary file from their factory call to their end, and the four orders of
// steps (one pass, rate conversion chained to a gain pass, extraction, and
// extraction after a chained rate conversion) that every member follows.
#include "engine/pipeline_shape.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

#include "conversion/cconv_spec.h"
#include "dsp/fades.h"
#include "dsp/rate_io.h"
#include "dsp/scan.h"
#include "dsp/strip_walk.h"
#include "engine/case_dispatch.h"
#include "engine/pipelines_group0.h"
#include "formats/pcm/aiff_temp_file.h"
#include "foundation/pstring.h"
#include "foundation/xwqf.h"
#include "soundfile/coded_file.h"
#include "soundfile/progress.h"
#include "soundfile/surround_file.h"
#include "soundfile/type_codes.h"

namespace pipeline {
namespace {

constexpr OSType kSurroundType = FourCC("Srnd");
constexpr OSType kSplitType = FourCC("Splt");
constexpr OSType kTempType = FourCC("Temp");
constexpr OSType kSd2Type = FourCC("Sd2f");
// The media framework's integer and float type.
constexpr OSType kMediaIntFloatType = FourCC("QTIF");

// The temporary file of the chained members: hidden, with the process id and
// random characters after this name, so no file of the user's is ever taken or
// deleted, and a later batch removes one that an ended process left.
constexpr const char* kTempFileIdentifier = "TempFile";

constexpr const char* kCopyText = "Copying/format change";
constexpr const char* kRateText = "Sample rate conversion";
constexpr const char* kScanText = "Scanning file";
constexpr const char* kGainText = "Dynamics/gain processing";
constexpr const char* kCompactText = "Compacting audio file";
constexpr const char* kExtractText = "Extracting regions";

// Prepare's answer for an input kind no pipeline handles: the run ends with 0.
constexpr OSErr kNothingToDo = 1;

// What a pipeline derives from its input and conversion at its start.
struct Plan {
    CSoundFile* in = nullptr;
    CConvSpec* cs = nullptr;
    Layout layout{};
    OSType outType = 0;
    short wordLength = 0;
    float rate = 0;    // the rate of the outputs
    double ratio = 1;  // the conversion's rate over the input's
    int decode = 0;    // 1 when the input's type is decoded on open
    int coded = 0;     // 1 when the output type is coded on close
    Str255 extension = {0};

    bool set() const { return layout.branch == Branch::kSet; }
};

// Derives the plan. kNothingToDo for an input kind outside 1..5; -20000 when
// regions are needed and there are none; -50 for a split pair or set whose
// members are decoded on open (a composite cannot decode its members).
OSErr Prepare(CSoundFile* in, CConvSpec* cs, const Layout& layout, bool needsRegions,
              bool conversionRate, Plan* p) {
    const int kind = in->GetChannelConfig();
    if (kind < 1 || kind > 5) return kNothingToDo;
    if (needsRegions && in->GetNumRegions() == 0) return kNoRegionsErr;
    p->in = in;
    p->cs = cs;
    p->layout = layout;
    p->outType = cs->GetNeedsStrictFType() ? cs->GetOutputFType() : in->GetFType();
    p->wordLength = cs->GetNeedsNewWordLength() ? cs->GetWordLength() : in->GetWordSize();
    p->rate = static_cast<float>(conversionRate ? cs->GetSampleRate() : in->GetSampleRate());
    p->ratio = cs->GetSampleRate() / in->GetSampleRate();
    p->decode = CSoundFile::NeedsDecodingOnOpen(in->GetFType()) ? 1 : 0;
    p->coded = CSoundFile::NeedsEncodingOnClose(p->outType) ? 1 : 0;
    cs->GetNameExtension(p->extension);
    if (kind >= 4 && p->decode) return kParamErr;
    return 0;
}

void Announce(const char* text, int index) {
    Str255 name;
    pascalStringFromString(text, name);
    SetProgressStepWithoutSRC(name, index);
}

void AnnounceWithRatio(const char* text, int index, double ratio) {
    Str255 name;
    pascalStringFromString(text, name);
    SetProgressStep(name, index, ratio);
}

// Decoding on open: the input decodes itself into a temporary file of its own.
OSErr Decode(const Plan& p) {
    return p.decode ? p.in->InitInputBuffer(CreateOutputhPathString(p.cs, std::string())) : 0;
}

// One output (a file, a pair or a set) from the factory to Dispose. An output
// still held when the object goes (a step threw) is disposed without keeping it.
class Output {
public:
    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() {
        if (file_) file_->Dispose(0);
    }

    CSoundFile* get() const { return file_; }

    // Makes the output for `path` in the plan's form and creates it: -22017 when
    // the factory gives no object (or no set).
    OSErr Make(const Plan& p, const std::string& path) {
        const Layout& l = p.layout;
        switch (l.form) {
            case Form::kSet: {
                CSoundFile* made = CSoundFile::CreateSoundFile(kSurroundType, p.outType);
                auto* set = dynamic_cast<CSurroundFile*>(made);
                if (!set) {
                    if (made) made->Dispose(0);
                    return kCannotMakeFormatObjectErr;
                }
                file_ = set;
                if (OSErr err = set->ISoundFile(path, l.configuration, l.channels)) return err;
                break;
            }
            case Form::kPair:
            case Form::kFile:
                file_ = l.form == Form::kPair ? CSoundFile::CreateSoundFile(kSplitType, p.outType)
                                              : CSoundFile::CreateSoundFile(p.outType);
                if (!file_) return kCannotMakeFormatObjectErr;
                if (OSErr err = file_->ISoundFile(path)) return err;
                file_->SetChannelConfiguration(l.configuration);
                break;
        }
        return file_->Create(l.channels, p.wordLength, p.rate, p.cs->GetFiletypeSpecifics().data(),
                             p.extension);
    }

    // Makes a coded output for `path` created with the input as its source, so
    // that closing it codes straight from the input: -22017 when the factory
    // gives no coded object.
    OSErr MakeCoded(const Plan& p, const std::string& path) {
        CSoundFile* made = CSoundFile::CreateSoundFile(p.outType);
        auto* coded = dynamic_cast<CCodedFile*>(made);
        if (!coded) {
            if (made) made->Dispose(0);
            return kCannotMakeFormatObjectErr;
        }
        file_ = coded;
        if (OSErr err = coded->ISoundFile(path)) return err;
        coded->SetChannelConfiguration(p.layout.configuration);
        return coded->Create(p.in, p.layout.channels, p.wordLength,
                             static_cast<float>(p.in->GetSampleRate()),
                             p.cs->GetFiletypeSpecifics().data(), p.extension);
    }

    // Disposes of the output, kept only when `result` is 0: the first failure,
    // else Dispose's status.
    OSErr End(OSErr result) {
        if (!file_) return result;
        const OSErr disposed = std::exchange(file_, nullptr)->Dispose(result == 0 ? 1 : 0);
        return result ? result : disposed;
    }

private:
    CSoundFile* file_ = nullptr;
};

// The temporary file between a sample-rate conversion and the gain pass: 32-bit
// words at the conversion's rate, under a unique hidden name in the output
// folder. Ending it removes the file, which only the object that made it does.
class TempOutput {
public:
    TempOutput() = default;
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;
    ~TempOutput() { End(); }

    CSoundFile* get() const { return file_; }

    OSErr Make(const Plan& p) {
        file_ = CSoundFile::CreateSoundFile(kTempType);
        if (!file_) return kCannotMakeFormatObjectErr;
        const std::string folder = CreateOutputhPathString(p.cs, std::string());
        if (OSErr err = file_->ISoundFile(
                UniqueTempSoundFilePath(folder, TemporaryNameStem(kTempFileIdentifier))))
            return err;
        file_->SetChannelConfiguration(p.layout.tempConfiguration);
        return file_->Create(p.layout.tempChannels, 32, static_cast<float>(p.cs->GetSampleRate()),
                             nullptr, nullptr);
    }

    void End() {
        if (file_) std::exchange(file_, nullptr)->Dispose(0);
    }

private:
    CSoundFile* file_ = nullptr;
};

// The folder of an extraction, named after the input's long name in the output
// folder: -48 when a folder or file of that name exists.
OSErr MakeRegionFolder(const Plan& p, std::string* folder) {
    FSRef made;
    if (OSErr err =
            XWQF::CreateDirectory(p.cs->GetParentRef(), p.cs->GetInputNameStr(), &made, nullptr))
        return err;
    *folder = made.path;
    return 0;
}

// Frames of a region record as step arguments: negative values read as 0.
uint32_t RegionFrame(int32_t frame) {
    return static_cast<uint32_t>(std::max<int32_t>(frame, 0));
}

struct ExtractionStep {
    const char* text = nullptr;
    bool ratioFirst = false;    // the announcement before the loop carries the rate ratio
    bool ratioEach = false;     // so does the one before each region
    bool dotL = false;          // a pair's or set's name takes ".L"
    bool reportFrames = false;  // each output's length is announced after its step
    RangeStep step = nullptr;
};

// The extraction loop: one output per region of `source`, written by the step
// over the region's frames, faded and disposed, into `folder`. The regions
// finished before a failure stay.
OSErr ExtractRegions(const Plan& p, CSoundFile* source, const std::string& folder,
                     const ExtractionStep& e) {
    const auto announce = [&](int index, bool withRatio) {
        if (withRatio)
            AnnounceWithRatio(e.text, index, p.ratio);
        else
            Announce(e.text, index);
    };
    announce(p.coded, e.ratioFirst);
    OSErr result = 0;
    for (uint16_t i = 0; result == 0 && i < source->GetNumRegions(); ++i) {
        announce(0, e.ratioEach);
        SFTRegion region{};
        if ((result = source->GetIndRegion(i, &region)) != 0) break;
        SetProgressCurRegionName(region.name, region.start, region.end, i, p.in->GetNumRegions());
        Output out;
        std::string path = folder + "/" + RegionFileName(region.name, i);
        if (p.layout.form != Form::kFile && e.dotL) path += ".L";
        result = out.Make(p, path);
        if (result == 0)
            result =
                e.step(source, out.get(), RegionFrame(region.start), RegionFrame(region.end), p.cs);
        if (result == 0 && e.reportFrames)
            SetProgressNumSampleFrames(static_cast<int>(out.get()->GetNumSFrames()));
        if (result == 0) result = CreateFades(out.get(), p.cs);
        result = out.End(result);
    }
    return result;
}

// A new output's path under a placeholder no other output has.
std::string PlaceholderPath(const Plan& p) {
    std::string path = CreateOutputhPathString(p.cs, CorvaOutFile::NewPlaceholderName());
    return p.layout.dotL ? path + ".L" : path;
}

// Room kept below the file layer's limit for an output's header, markers,
// loops and regions.
constexpr uint64_t kHeaderAllowance = uint64_t{1} << 20;

// Whether `frames` frames of `frameBytes` bytes, with the header allowance,
// stay within the largest file the file layer can write.
bool FitsOneFile(uint64_t frames, uint64_t frameBytes) {
    const uint64_t room = static_cast<uint64_t>(XWQF::kMaxFileSize) - kHeaderAllowance;
    return frameBytes == 0 || frames <= room / frameBytes;
}

// The frames the converter makes of the input's frames start..end at L / M;
// the range is cut at the end of the file.
uint64_t ConvertedRangeFrames(const Plan& p, uint32_t start, uint32_t end, int64_t L, int64_t M) {
    const uint64_t last = std::min<uint64_t>(end, p.in->GetNumSFrames());
    return last > start ? rateconv::OutputFramesCeil(last - start, L, M) : 0;
}

// The frames a member of low bits `low` writes at L / M (1 / 1 when it does not
// convert the rate) into its temporary file (the strip walk's blocks back to
// back for 7 and 11, the whole input for 3) and into its largest output (the
// strip walk's blocks for 4 to 7, each region for 8 to 11). 0 with both
// counts, or the failure of reading the regions.
OSErr ConvertedFrames(const Plan& p, int low, int64_t L, int64_t M, uint64_t* tempFrames,
                      uint64_t* outFrames) {
    uint64_t walked = 0;
    if ((low & 4) != 0 || low == 11) {
        const uint32_t margin =
            p.cs->GetNeedsStrip() ? StripMarginFrames(p.in->GetSampleRate(), p.cs->GetStripMargin())
                                  : 0;
        StripWalk walk(*p.in, margin);
        uint32_t start = 0, end = 0;
        OSErr err;
        while ((err = walk.Next(&start, &end)) == 0)
            walked += ConvertedRangeFrames(p, start, end, L, M);
        if ((err = StripWalkStatus(err)) != 0) return err;
    } else {
        walked = ConvertedRangeFrames(p, 0, p.in->GetNumSFrames(), L, M);
    }
    *tempFrames = walked;
    *outFrames = walked;
    if ((low & 8) != 0) {
        *outFrames = 0;
        for (uint16_t i = 0; i < p.in->GetNumRegions(); ++i) {
            SFTRegion region{};
            if (OSErr err = p.in->GetIndRegion(i, &region)) return err;
            *outFrames = std::max(*outFrames, ConvertedRangeFrames(p, RegionFrame(region.start),
                                                                   RegionFrame(region.end), L, M));
        }
    }
    return 0;
}

// The bytes per sample of the temporary file a coded output of the plan's type
// fills: 16-bit PCM, except for the integer and float type of the media
// framework, which keeps the output's word length there (8 to 32 bits).
uint64_t CodedTemporarySampleBytes(const Plan& p) {
    if (p.outType != kMediaIntFloatType) return 2;
    return static_cast<uint64_t>(std::clamp<short>(p.wordLength, 8, 32) + 7) / 8;
}

// Before anything is made for a member: -1309 when one of its files would
// reach the largest file the file layer writes, whatever makes it large:
// an output (its largest one for an extraction) of the word length and the
// channels of one file, the temporary file a coded output fills instead, or
// the temporary file of a chained member, judged from the frames the member
// makes (the converter's count when it converts the rate). 0 when they fit or
// the rates give no ratio (the converter refuses those itself).
OSErr CheckOutputSize(const Plan& p, int low) {
    int64_t L = 1, M = 1;
    if ((low & 1) != 0 &&
        rateconv::ReduceRates(p.cs->GetSampleRate(), p.in->GetSampleRate(), &L, &M) != 0)
        return 0;
    uint64_t tempFrames = 0, outFrames = 0;
    if (OSErr err = ConvertedFrames(p, low, L, M, &tempFrames, &outFrames)) return err;
    const uint64_t fileChannels = p.layout.form == Form::kFile
                                      ? static_cast<uint64_t>(std::max<short>(p.layout.channels, 0))
                                      : 1;
    const uint64_t sampleBytes = static_cast<uint64_t>(std::max<short>(p.wordLength, 0) + 7) / 8;
    // A coded output is written from its temporary file, which is never smaller
    // than the output (but for the integer and float type, checked as it is).
    if (p.coded) {
        if (!FitsOneFile(outFrames, CodedTemporarySampleBytes(p) * fileChannels))
            return kFileBoundsErr;
        if (p.outType == kMediaIntFloatType && !FitsOneFile(outFrames, sampleBytes * fileChannels))
            return kFileBoundsErr;
    } else if (!FitsOneFile(outFrames, sampleBytes * fileChannels)) {
        return kFileBoundsErr;
    }
    // The temporary file of a chained member holds 32-bit words.
    const bool chained = (low & 3) == 3;
    const uint64_t tempChannels = static_cast<uint64_t>(std::max<short>(p.layout.tempChannels, 0));
    if (chained && !FitsOneFile(tempFrames, 4 * tempChannels)) return kFileBoundsErr;
    return 0;
}

// When the output of a one-pass member is made: before the steps are counted,
// after the count, decoding and scan, or after the step text too.
enum class Creation { kFirst, kBeforeText, kAfterText };

// The members of one pass into one output: copy, compaction, sample-rate
// conversion (whole or compacted), gain (whole or compacted) after a scan.
struct OnePass {
    const char* text = nullptr;
    WholeStep step = nullptr;
    bool scan = false;      // a scan of the input first (gain members)
    bool rateStep = false;  // a sample-rate conversion: a set's text carries the ratio
                            // and a single output's length is announced after it
    Creation single = Creation::kFirst;
    Creation set = Creation::kFirst;
};

OSErr RunOnePass(const Plan& p, const OnePass& m) {
    const Creation when = p.set() ? m.set : m.single;
    Output out;
    OSErr result = when == Creation::kFirst ? out.Make(p, PlaceholderPath(p)) : 0;
    if (result == 0) {
        SetProgressNumSteps(p.decode + (m.scan ? 2 : 1) + p.coded);
        result = Decode(p);
    }
    if (result == 0 && m.scan) {
        Announce(kScanText, 0);
        result = ScanFile(p.in, p.cs);
    }
    if (result == 0 && when == Creation::kBeforeText) result = out.Make(p, PlaceholderPath(p));
    if (result == 0) {
        if (m.rateStep && p.set())
            AnnounceWithRatio(m.text, 0, p.ratio);
        else
            Announce(m.text, 0);
    }
    if (result == 0 && when == Creation::kAfterText) result = out.Make(p, PlaceholderPath(p));
    if (result == 0) result = m.step(p.in, out.get(), p.cs);
    if (result == 0 && m.rateStep && !p.set()) {
        SetProgressNumSampleFrames(static_cast<int>(out.get()->GetNumSFrames()));
        SetProgressNumChannels(out.get()->GetNumChannels());
    }
    if (result == 0) result = CreateFades(out.get(), p.cs);
    return out.End(result);
}

// Sample-rate conversion into the temporary file, a scan of it, and the gain
// pass from it into the output (codes 3 and 7).
OSErr RunChained(const Plan& p, WholeStep rateStep, WholeStep gainStep, bool reportTemp) {
    TempOutput temp;
    Output out;
    OSErr result = temp.Make(p);
    if (result == 0) {
        SetProgressNumSteps(p.decode + 3 + p.coded);
        result = Decode(p);
    }
    if (result == 0) {
        Announce(kRateText, 0);
        result = rateStep(p.in, temp.get(), p.cs);
    }
    if (result == 0) {
        if (reportTemp) {
            SetProgressNumSampleFrames(static_cast<int>(temp.get()->GetNumSFrames()));
            SetProgressNumChannels(temp.get()->GetNumChannels());
        }
        Announce(kScanText, 0);
        result = ScanFile(temp.get(), p.cs);
    }
    if (result == 0) {
        if (p.set()) Announce(kGainText, 0);
        result = out.Make(p, PlaceholderPath(p));
    }
    if (result == 0) {
        if (!p.set()) Announce(kGainText, 0);
        result = gainStep(temp.get(), out.get(), p.cs);
    }
    if (result == 0) result = CreateFades(out.get(), p.cs);
    result = out.End(result);
    temp.End();
    return result;
}

// The extraction members without a temporary file (codes 8 to 10).
struct Extraction {
    ExtractionStep single, set;
    bool scan = false;
    // The folder is made before the steps are counted.
    bool folderFirstSingle = false;
    bool folderFirstSet = false;
};

OSErr RunExtraction(const Plan& p, const Extraction& m) {
    const bool folderFirst = p.set() ? m.folderFirstSet : m.folderFirstSingle;
    std::string folder;
    OSErr result = folderFirst ? MakeRegionFolder(p, &folder) : 0;
    if (result == 0) {
        SetProgressNumSteps(p.decode + (m.scan ? 2 : 1));
        result = Decode(p);
    }
    if (result == 0 && m.scan) {
        Announce(kScanText, 0);
        result = ScanFile(p.in, p.cs);
    }
    if (result == 0 && !folderFirst) result = MakeRegionFolder(p, &folder);
    if (result == 0) result = ExtractRegions(p, p.in, folder, p.set() ? m.set : m.single);
    return result;
}

// Sample-rate conversion of the compacted regions into the temporary file,
// which carries them; a scan of it; a gain pass into one output per region of
// the temporary file (code 11).
OSErr RunChainedExtraction(const Plan& p, WholeStep rateStep, const ExtractionStep& e) {
    TempOutput temp;
    OSErr result = temp.Make(p);
    if (result == 0) {
        SetProgressNumSteps(p.decode + 3);
        result = Decode(p);
    }
    if (result == 0) {
        Announce(kRateText, 0);
        result = rateStep(p.in, temp.get(), p.cs);
    }
    if (result == 0) {
        Announce(kScanText, 0);
        result = ScanFile(temp.get(), p.cs);
    }
    std::string folder;
    if (result == 0) result = MakeRegionFolder(p, &folder);
    if (result == 0) result = ExtractRegions(p, temp.get(), folder, e);
    temp.End();
    return result;
}

// Adds every item of one list of the input to the output until one fails.
template <class Record>
OSErr CarryList(CSoundFile* in, CSoundFile* out, uint16_t (CSoundFile::*count)(),
                OSErr (CSoundFile::*get)(uint16_t, Record*),
                OSErr (CSoundFile::*add)(const Record*)) {
    for (uint16_t i = 0; i < (in->*count)(); ++i) {
        Record record{};
        if (OSErr err = (in->*get)(i, &record)) return err;
        if (OSErr err = (out->*add)(&record)) return err;
    }
    return 0;
}

// Loops, then regions, then markers, then valid sampler data, each only when
// everything before it was carried over.
void CarryExtras(CSoundFile* in, CSoundFile* out) {
    if (CarryList<SFTLoop>(in, out, &CSoundFile::GetNumLoops, &CSoundFile::GetIndLoop,
                           &CSoundFile::AddLoop) ||
        CarryList<SFTRegion>(in, out, &CSoundFile::GetNumRegions, &CSoundFile::GetIndRegion,
                             &CSoundFile::AddRegion) ||
        CarryList<SFTMarker>(in, out, &CSoundFile::GetNumMarkers, &CSoundFile::GetIndMarker,
                             &CSoundFile::AddMarker))
        return;
    SFTSamplerInfo info{};
    if (in->GetSamplerInfo(&info) == 0 && info.valid) out->SetSamplerInfo(&info);
}

}  // namespace

Layout AsInput(CSoundFile* in) {
    const bool set = in->GetChannelConfig() >= 4;
    Layout layout = Interleaved(in);
    if (set) {
        layout.branch = Branch::kSet;
        layout.form = Form::kSet;
        layout.dotL = true;
    }
    return layout;
}

Layout Interleaved(CSoundFile* in) {
    const short channels = in->GetNumChannels();
    const CSoundFile::ChannelConfiguration configuration = in->GetChannelConfiguration();
    return {.branch = Branch::kSingle,
            .form = Form::kFile,
            .channels = channels,
            .configuration = configuration,
            .tempChannels = channels,
            .tempConfiguration = configuration,
            .dotL = false};
}

Layout MonoToStereo() {
    return {.branch = Branch::kSingle,
            .form = Form::kFile,
            .channels = 2,
            .configuration = CSoundFile::kStereo,
            .tempChannels = 1,
            .tempConfiguration = CSoundFile::kMono,
            .dotL = false};
}

Layout Separated(CSoundFile* in) {
    Layout layout = Interleaved(in);
    layout.branch = Branch::kSet;
    layout.form = in->GetNumChannels() == 2 ? Form::kPair : Form::kSet;
    return layout;
}

Layout OneChannel() {
    return {.branch = Branch::kSingle,
            .form = Form::kFile,
            .channels = 1,
            .configuration = CSoundFile::kMono,
            .tempChannels = 1,
            .tempConfiguration = CSoundFile::kMono,
            .dotL = false};
}

OSErr RunMember(CSoundFile* in, CConvSpec* cs, int low, const Layout& layout, const Steps& steps,
                unsigned quirks) {
    if (low < 0 || low > 11) return kParamErr;
    const bool needsRegions = (low & 12) != 0;
    const bool conversionRate = (low & 1) != 0;
    Plan p;
    if (OSErr err = Prepare(in, cs, layout, needsRegions, conversionRate, &p))
        return err == kNothingToDo ? 0 : err;
    if (OSErr err = CheckOutputSize(p, low)) return err;

    using C = Creation;
    const C passSingle = quirks & kCreateAfterText ? C::kAfterText : C::kFirst;
    // The set of a region takes ".L" where the gain members name it, unless told.
    const bool regionDotL = !(quirks & kPlainRegionNames);
    switch (low) {
        case 0:
            return RunOnePass(p, {.text = kCopyText, .step = steps.copy});
        case 1:
            return RunOnePass(
                p,
                {.text = kRateText, .step = steps.rate, .rateStep = true, .set = C::kBeforeText});
        case 2:
            return RunOnePass(p, {.text = kGainText,
                                  .step = steps.gain,
                                  .scan = true,
                                  .single = C::kBeforeText,
                                  .set = C::kBeforeText});
        case 3:
            return RunChained(p, steps.rateIntoTemp, steps.gainFromTemp, true);
        case 4:
            return RunOnePass(p,
                              {.text = kCompactText, .step = steps.compact, .single = passSingle});
        case 5:
            return RunOnePass(p, {.text = kRateText,
                                  .step = steps.compactedRate,
                                  .rateStep = true,
                                  .single = passSingle,
                                  .set = C::kBeforeText});
        case 6:
            return RunOnePass(p, {.text = kGainText,
                                  .step = steps.compactedGain,
                                  .scan = true,
                                  .single = C::kBeforeText,
                                  .set = C::kBeforeText});
        case 7:
            return RunChained(p, steps.compactedRateIntoTemp, steps.gainFromTemp,
                              !(quirks & kNoTempReport));
        case 8: {
            const bool folderFirst = (quirks & kExtractFolderFirst) != 0;
            return RunExtraction(p, {.single = {.text = folderFirst ? kExtractText : kCopyText,
                                                .step = steps.extract},
                                     .set = {.text = kExtractText, .step = steps.extract},
                                     .folderFirstSingle = folderFirst,
                                     .folderFirstSet = true});
        }
        case 9: {
            const ExtractionStep step{.text = kRateText,
                                      .ratioFirst = true,
                                      .ratioEach = !(quirks & kRatioOnceOnly),
                                      .reportFrames = (quirks & kReportRegionFrames) != 0,
                                      .step = steps.rangeRate};
            return RunExtraction(
                p,
                {.single = step, .set = step, .folderFirstSingle = true, .folderFirstSet = true});
        }
        case 10: {
            const ExtractionStep step{
                .text = kGainText, .dotL = regionDotL, .step = steps.rangeGain};
            return RunExtraction(
                p, {.single = step, .set = step, .scan = true, .folderFirstSingle = true});
        }
        default:
            return RunChainedExtraction(
                p, steps.compactedRateIntoTemp,
                {.text = kGainText, .dotL = regionDotL, .step = steps.rangeGainFromTemp});
    }
}

bool TakesDirectCoding(CSoundFile* in, CConvSpec* cs) {
    static constexpr OSType kExcluded[] = {
        FourCC("G729"), FourCC("DMP3"), FourCC("DADP"), FourCC("QTQD"), FourCC("QTQP"),
        FourCC("QTQ2"), FourCC("QTPV"), FourCC("QTAL"), FourCC("QTUL"), FourCC("QTIM"),
        FourCC("QTM3"), FourCC("A1t4"), FourCC("QTM6"), FourCC("Mp3 "), FourCC("QTIF"),
    };
    const int kind = in->GetChannelConfig();
    if (kind < 1 || kind > 3 || !cs->GetNeedsStrictFType()) return false;
    const OSType outType = cs->GetOutputFType();
    return CSoundFile::NeedsEncodingOnClose(outType) && in->GetWordSize() == 16 &&
           in->GetFType() == kSd2Type && !cs->GetNeedsFades() && !cs->GetNeedsSnip() &&
           std::find(std::begin(kExcluded), std::end(kExcluded), outType) == std::end(kExcluded);
}

OSErr RunDirectCoding(CSoundFile* in, CConvSpec* cs) {
    Plan p;
    if (OSErr err = Prepare(in, cs, AsInput(in), false, false, &p))
        return err == kNothingToDo ? 0 : err;
    Output out;
    OSErr result = out.MakeCoded(p, PlaceholderPath(p));
    if (result == 0) {
        SetProgressNumSteps(1);
        if (cs->GetCopyExtras() && !out.get()->IsOneChannelDone()) CarryExtras(in, out.get());
    }
    // Closing codes the output; Dispose answers the coding's status, else that
    // of extending the name.
    return out.End(result);
}

}  // namespace pipeline
