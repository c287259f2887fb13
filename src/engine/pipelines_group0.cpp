// The group-0 pipelines. Each derives the output's type, channels, word length
// and rate once, creates its outputs, runs the numbered signal-processing steps
// in order, fades and disposes of its outputs. The first failure wins: later
// steps are skipped and no clean-up replaces it.
#include "engine/pipelines_group0.h"

#include <algorithm>
#include <utility>

#include "conversion/cconv_spec.h"
#include "dsp/copy_steps.h"
#include "dsp/fades.h"
#include "dsp/gain.h"
#include "dsp/numbered_src.h"
#include "dsp/scan.h"
#include "engine/case_dispatch.h"
#include "formats/pcm/aiff_temp_file.h"
#include "foundation/pstring.h"
#include "foundation/xwqf.h"
#include "soundfile/coded_file.h"
#include "soundfile/progress.h"
#include "soundfile/surround_file.h"
#include "soundfile/type_codes.h"

namespace {

constexpr OSType kSurroundType = FourCC("Srnd");
constexpr OSType kTempType = FourCC("Temp");
constexpr OSType kSd2Type = FourCC("Sd2f");

// The temporary file of the chained members: hidden, with random characters
// after this name, so no file of the user's is ever taken or deleted.
constexpr const char* kTempFileName = ".TempFile";

constexpr const char* kCopyText = "Copying/format change";
constexpr const char* kRateText = "Sample rate conversion";
constexpr const char* kScanText = "Scanning file";
constexpr const char* kGainText = "Dynamics/gain processing";
constexpr const char* kCompactText = "Compacting audio file";
constexpr const char* kExtractText = "Extracting regions";

// Prepare's answer for an input kind no pipeline handles: the run ends with 0.
constexpr OSErr kNothingToDo = 1;

using WholeStep = OSErr (*)(CSoundFile* source, CSoundFile* target, CConvSpec* cs);
using RangeStep = OSErr (*)(CSoundFile* source, CSoundFile* target, uint32_t start, uint32_t end,
                            CConvSpec* cs);

// What a pipeline derives from its input and conversion at its start.
struct Plan {
    CSoundFile* in = nullptr;
    CConvSpec* cs = nullptr;
    bool set = false;  // a split pair or surround set: the output is a set of mono files
    OSType outType = 0;
    short channels = 0;
    short wordLength = 0;
    float rate = 0;      // the rate of the outputs
    double ratio = 1;    // the conversion's rate over the input's
    int decode = 0;      // 1 when the input's type is decoded on open
    int coded = 0;       // 1 when the output type is coded on close
    Str255 extension = {0};
};

// Derives the plan. kNothingToDo for an input kind outside 1..5; -20000 when
// regions are needed and there are none; -50 for a split pair or set whose
// members are decoded on open (a composite cannot decode its members).
OSErr Prepare(CSoundFile* in, CConvSpec* cs, bool needsRegions, bool conversionRate, Plan* p) {
    const int kind = in->GetChannelConfig();
    if (kind < 1 || kind > 5) return kNothingToDo;
    if (needsRegions && in->GetNumRegions() == 0) return kNoRegionsErr;
    p->in = in;
    p->cs = cs;
    p->set = kind >= 4;
    p->outType = cs->GetNeedsStrictFType() ? cs->GetOutputFType() : in->GetFType();
    p->channels = in->GetNumChannels();
    p->wordLength = cs->GetNeedsNewWordLength() ? cs->GetWordLength() : in->GetWordSize();
    p->rate = static_cast<float>(conversionRate ? cs->GetSampleRate() : in->GetSampleRate());
    p->ratio = cs->GetSampleRate() / in->GetSampleRate();
    p->decode = CSoundFile::NeedsDecodingOnOpen(in->GetFType()) ? 1 : 0;
    p->coded = CSoundFile::NeedsEncodingOnClose(p->outType) ? 1 : 0;
    cs->GetNameExtension(p->extension);
    if (p->set && p->decode) return kParamErr;
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

// One output (a file or a set) from the factory to Dispose. An output still
// held when the object goes (a step threw) is disposed without keeping it.
class Output {
public:
    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() {
        if (file_) file_->Dispose(0);
    }

    CSoundFile* get() const { return file_; }

    // Makes the output for `path` (a set's first channel takes ".L" from the
    // caller) and creates it: -22017 when the factory gives no object (or no set).
    OSErr Make(const Plan& p, const std::string& path) {
        if (p.set) {
            CSoundFile* made = CSoundFile::CreateSoundFile(kSurroundType, p.outType);
            auto* set = dynamic_cast<CSurroundFile*>(made);
            if (!set) {
                if (made) made->Dispose(0);
                return kCannotMakeFormatObjectErr;
            }
            file_ = set;
            if (OSErr err = set->ISoundFile(path, p.in->GetChannelConfiguration(), p.channels))
                return err;
        } else {
            file_ = CSoundFile::CreateSoundFile(p.outType);
            if (!file_) return kCannotMakeFormatObjectErr;
            if (OSErr err = file_->ISoundFile(path)) return err;
            file_->SetChannelConfiguration(p.in->GetChannelConfiguration());
        }
        return file_->Create(p.channels, p.wordLength, p.rate, p.cs->GetFiletypeSpecifics().data(),
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
        coded->SetChannelConfiguration(p.in->GetChannelConfiguration());
        return coded->Create(p.in, p.channels, p.wordLength,
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
        if (OSErr err = file_->ISoundFile(UniqueTempSoundFilePath(folder, kTempFileName)))
            return err;
        file_->SetChannelConfiguration(p.in->GetChannelConfiguration());
        return file_->Create(p.channels, 32, static_cast<float>(p.cs->GetSampleRate()), nullptr,
                             nullptr);
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
    if (OSErr err = XWQF::CreateDirectory(p.cs->GetParentRef(), p.cs->GetInputNameStr(), &made,
                                          nullptr))
        return err;
    *folder = made.path;
    return 0;
}

// Frames of a region record as step arguments: negative values read as 0.
uint32_t RegionFrame(int32_t frame) {
    return static_cast<uint32_t>(std::max<int32_t>(frame, 0));
}

struct ExtractionStep {
    const char* text;
    bool withRatio;  // the text is announced with the rate ratio
    bool dotL;       // a set's name takes ".L"
    RangeStep step;
};

// The extraction loop: one output per region of `source`, written by the step
// over the region's frames, faded and disposed, into `folder`. The regions
// finished before a failure stay.
OSErr ExtractRegions(const Plan& p, CSoundFile* source, const std::string& folder,
                     const ExtractionStep& e) {
    const auto announce = [&](int index) {
        if (e.withRatio)
            AnnounceWithRatio(e.text, index, p.ratio);
        else
            Announce(e.text, index);
    };
    announce(p.coded);
    OSErr result = 0;
    for (uint16_t i = 0; result == 0 && i < source->GetNumRegions(); ++i) {
        announce(0);
        SFTRegion region{};
        if ((result = source->GetIndRegion(i, &region)) != 0) break;
        SetProgressCurRegionName(region.name, region.start, region.end, i, p.in->GetNumRegions());
        Output out;
        std::string path = folder + "/" + RegionFileName(region.name, i);
        if (p.set && e.dotL) path += ".L";
        result = out.Make(p, path);
        if (result == 0)
            result = e.step(source, out.get(), RegionFrame(region.start), RegionFrame(region.end),
                            p.cs);
        if (result == 0) result = CreateFades(out.get(), p.cs);
        result = out.End(result);
    }
    return result;
}

std::string PlaceholderPath(const Plan& p) {
    std::string path = CreateOutputhPathString(p.cs, CorvaOutFile::kCorvaOutFileNameStr);
    return p.set ? path + ".L" : path;
}

// The members of one pass into one output: copy, compaction, sample-rate
// conversion (whole or compacted), gain (whole or compacted) after a scan.
struct OnePass {
    const char* text;
    WholeStep step;
    bool needsRegions;
    bool conversionRate;  // the output takes the conversion's rate
    bool scan;            // a scan of the input first (gain members)
    bool setFirst;        // a set is created before the steps are counted
    bool rateStep;        // a sample-rate conversion: the set's text carries the
                          // ratio and a single output's length is announced after it
};

OSErr RunOnePass(CSoundFile* in, CConvSpec* cs, const OnePass& m) {
    Plan p;
    if (OSErr err = Prepare(in, cs, m.needsRegions, m.conversionRate, &p))
        return err == kNothingToDo ? 0 : err;
    const bool createFirst = !m.scan && (!p.set || m.setFirst);
    Output out;
    OSErr result = createFirst ? out.Make(p, PlaceholderPath(p)) : 0;
    if (result == 0) {
        SetProgressNumSteps(p.decode + (m.scan ? 2 : 1) + p.coded);
        result = Decode(p);
    }
    if (result == 0 && m.scan) {
        Announce(kScanText, 0);
        result = ScanFile(in, cs);
    }
    if (result == 0 && !createFirst) result = out.Make(p, PlaceholderPath(p));
    if (result == 0) {
        if (m.rateStep && p.set)
            AnnounceWithRatio(m.text, 0, p.ratio);
        else
            Announce(m.text, 0);
        result = m.step(in, out.get(), cs);
    }
    if (result == 0 && m.rateStep && !p.set) {
        SetProgressNumSampleFrames(static_cast<int>(out.get()->GetNumSFrames()));
        SetProgressNumChannels(out.get()->GetNumChannels());
    }
    if (result == 0) result = CreateFades(out.get(), cs);
    return out.End(result);
}

// Sample-rate conversion into the temporary file, a scan of it, and the gain
// pass from it into the output (codes 3 and 7).
OSErr RunChained(CSoundFile* in, CConvSpec* cs, bool needsRegions, WholeStep rateStep) {
    Plan p;
    if (OSErr err = Prepare(in, cs, needsRegions, true, &p)) return err == kNothingToDo ? 0 : err;
    TempOutput temp;
    Output out;
    OSErr result = temp.Make(p);
    if (result == 0) {
        SetProgressNumSteps(p.decode + 3 + p.coded);
        result = Decode(p);
    }
    if (result == 0) {
        Announce(kRateText, 0);
        result = rateStep(in, temp.get(), cs);
    }
    if (result == 0) {
        SetProgressNumSampleFrames(static_cast<int>(temp.get()->GetNumSFrames()));
        SetProgressNumChannels(temp.get()->GetNumChannels());
        Announce(kScanText, 0);
        result = ScanFile(temp.get(), cs);
    }
    if (result == 0) {
        if (p.set) Announce(kGainText, 0);
        result = out.Make(p, PlaceholderPath(p));
    }
    if (result == 0) {
        if (!p.set) Announce(kGainText, 0);
        result = Gain002(temp.get(), out.get(), cs);
    }
    if (result == 0) result = CreateFades(out.get(), cs);
    result = out.End(result);
    temp.End();
    return result;
}

// The extraction members without a temporary file (codes 8 to 10).
struct Extraction {
    ExtractionStep single, set;
    bool conversionRate;  // the outputs take the conversion's rate
    bool scan;
    bool folderFirstSingle, folderFirstSet;  // the folder is made before the steps are counted
};

OSErr RunExtraction(CSoundFile* in, CConvSpec* cs, const Extraction& m) {
    Plan p;
    if (OSErr err = Prepare(in, cs, true, m.conversionRate, &p))
        return err == kNothingToDo ? 0 : err;
    const bool folderFirst = p.set ? m.folderFirstSet : m.folderFirstSingle;
    std::string folder;
    OSErr result = folderFirst ? MakeRegionFolder(p, &folder) : 0;
    if (result == 0) {
        SetProgressNumSteps(p.decode + (m.scan ? 2 : 1));
        result = Decode(p);
    }
    if (result == 0 && m.scan) {
        Announce(kScanText, 0);
        result = ScanFile(in, cs);
    }
    if (result == 0 && !folderFirst) result = MakeRegionFolder(p, &folder);
    if (result == 0) result = ExtractRegions(p, in, folder, p.set ? m.set : m.single);
    return result;
}

OSErr RangeRateStep(CSoundFile* source, CSoundFile* target, uint32_t start, uint32_t end,
                    CConvSpec* cs) {
    return SRConvert009(source, target, start, end, cs);
}

OSErr WholeRateStep(CSoundFile* source, CSoundFile* target, CConvSpec* cs) {
    return SRConvert003(source, target, cs);
}

OSErr CompactedRateStep(CSoundFile* source, CSoundFile* target, CConvSpec* cs) {
    return SRConvert011(source, target, cs);
}

// The direct-coding path of Run000: a 16-bit Sound Designer II input into a
// type coded on close, coded straight from the input when it is closed.
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

OSErr RunDirectCoding(const Plan& p) {
    Output out;
    OSErr result = out.MakeCoded(p, PlaceholderPath(p));
    if (result == 0) {
        SetProgressNumSteps(1);
        if (p.cs->GetCopyExtras() && !out.get()->IsOneChannelDone()) CarryExtras(p.in, out.get());
    }
    // Closing codes the output; Dispose answers the coding's status, else that
    // of extending the name.
    return out.End(result);
}

}  // namespace

std::string RegionFileName(const unsigned char* name, int index) {
    std::string text;
    for (char c : MacRomanToUtf8(pstrBytes(name))) {
        if (c == '/')
            text += ':';
        else if (c != '\0')
            text += c;
    }
    if (text.empty() || text == "." || text == "..") text = "Region " + std::to_string(index + 1);
    return text;
}

OSErr Run000(CSoundFile* in, CConvSpec* cs) {
    if (TakesDirectCoding(in, cs)) {
        Plan p;
        if (OSErr err = Prepare(in, cs, false, false, &p)) return err == kNothingToDo ? 0 : err;
        return RunDirectCoding(p);
    }
    return RunOnePass(in, cs, {kCopyText, &Copy000, false, false, false, true, false});
}

OSErr Run001(CSoundFile* in, CConvSpec* cs) {
    return RunOnePass(in, cs, {kRateText, &WholeRateStep, false, true, false, false, true});
}

OSErr Run002(CSoundFile* in, CConvSpec* cs) {
    return RunOnePass(in, cs, {kGainText, &Gain002, false, false, true, false, false});
}

OSErr Run003(CSoundFile* in, CConvSpec* cs) {
    return RunChained(in, cs, false, &WholeRateStep);
}

OSErr Run004(CSoundFile* in, CConvSpec* cs) {
    return RunOnePass(in, cs, {kCompactText, &Copy004, true, false, false, true, false});
}

OSErr Run005(CSoundFile* in, CConvSpec* cs) {
    return RunOnePass(in, cs, {kRateText, &CompactedRateStep, true, true, false, false, true});
}

OSErr Run006(CSoundFile* in, CConvSpec* cs) {
    return RunOnePass(in, cs, {kGainText, &Gain006, true, false, true, false, false});
}

OSErr Run007(CSoundFile* in, CConvSpec* cs) {
    return RunChained(in, cs, true, &CompactedRateStep);
}

OSErr Run008(CSoundFile* in, CConvSpec* cs) {
    return RunExtraction(in, cs,
                         {{kCopyText, false, false, &Copy008},
                          {kExtractText, false, false, &Copy008},
                          false,
                          false,
                          false,
                          true});
}

OSErr Run009(CSoundFile* in, CConvSpec* cs) {
    const ExtractionStep step{kRateText, true, false, &RangeRateStep};
    return RunExtraction(in, cs, {step, step, true, false, true, true});
}

OSErr Run010(CSoundFile* in, CConvSpec* cs) {
    const ExtractionStep step{kGainText, false, true, &Gain010};
    return RunExtraction(in, cs, {step, step, false, true, true, false});
}

OSErr Run011(CSoundFile* in, CConvSpec* cs) {
    Plan p;
    if (OSErr err = Prepare(in, cs, true, true, &p)) return err == kNothingToDo ? 0 : err;
    TempOutput temp;
    OSErr result = temp.Make(p);
    if (result == 0) {
        SetProgressNumSteps(p.decode + 3);
        result = Decode(p);
    }
    if (result == 0) {
        Announce(kRateText, 0);
        result = SRConvert011(in, temp.get(), cs);
    }
    if (result == 0) {
        Announce(kScanText, 0);
        result = ScanFile(temp.get(), cs);
    }
    std::string folder;
    if (result == 0) result = MakeRegionFolder(p, &folder);
    if (result == 0)
        result = ExtractRegions(p, temp.get(), folder, {kGainText, false, true, &Gain010});
    temp.End();
    return result;
}
