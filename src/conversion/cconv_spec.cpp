#include "conversion/cconv_spec.h"

#include "foundation/errors.h"
#include "platform/thread_context.h"

namespace {

short Flag(bool on) { return on ? 1 : 0; }

// A code as the processing code takes it: the low 16 bits.
short Code(int64_t value) { return static_cast<short>(static_cast<uint16_t>(value)); }

}  // namespace

CConvSpec::CConvSpec(std::shared_ptr<ConvSpec> spec) : CConvSpec(std::move(spec), nullptr, nullptr) {}

CConvSpec::CConvSpec(std::shared_ptr<ConvSpec> spec, const FSRef* parentRef,
                     const std::string* inputName)
    : spec_(std::move(spec)) {
    if (!spec_) throw error_code_exception(kParamErr, "conversion facade without a conversion");
    if (parentRef) parentRef_ = *parentRef;
    if (inputName) inputName_ = *inputName;
}

CConvSpec::~CConvSpec() {
    void*& current = platform::CurrentThreadContext().currentConversion;
    if (current == this) current = nullptr;
}

void CConvSpec::SetObjCConvSpec(std::shared_ptr<ConvSpec> spec) {
    if (!spec) throw error_code_exception(kParamErr, "conversion facade without a conversion");
    spec_ = std::move(spec);
}

void CConvSpec::SetCurConvSpec(CConvSpec* spec) {
    platform::CurrentThreadContext().currentConversion = spec;
}

CConvSpec* CConvSpec::GetCurConvSpec() {
    return static_cast<CConvSpec*>(platform::CurrentThreadContext().currentConversion);
}

short CConvSpec::GetChecked() const { return Flag(spec_->active()); }
void CConvSpec::SetChecked(short on) { spec_->setActive(on != 0); }
short CConvSpec::GetNeedsSRateConversion() const { return Flag(spec_->needsSampleRateConversion()); }
void CConvSpec::SetNeedsSRateConversion(short on) { spec_->setNeedsSampleRateConversion(on != 0); }
short CConvSpec::GetNeedsGain() const { return Flag(spec_->needsGain()); }
void CConvSpec::SetNeedsGain(short on) { spec_->setNeedsGain(on != 0); }
short CConvSpec::GetNeedsStrip() const { return Flag(spec_->needsStrip()); }
void CConvSpec::SetNeedsStrip(short on) { spec_->setNeedsStrip(on != 0); }
float CConvSpec::GetStripMargin() const { return spec_->stripMargin(); }
void CConvSpec::SetStripMargin(float ms) { spec_->setStripMargin(ms); }
short CConvSpec::GetNeedsExtraction() const { return Flag(spec_->needsExtraction()); }
void CConvSpec::SetNeedsExtraction(short on) { spec_->setNeedsExtraction(on != 0); }
short CConvSpec::GetNeedsChannelTreat() const { return Flag(spec_->needsChannelTreat()); }
void CConvSpec::SetNeedsChannelTreat(short on) { spec_->setNeedsChannelTreat(on != 0); }
short CConvSpec::GetChannelTreat() const { return Code(spec_->channelTreat()); }
void CConvSpec::SetChannelTreat(short treat) { spec_->setChannelTreat(treat); }
double CConvSpec::GetSampleRate() const { return spec_->sampleRate(); }
void CConvSpec::SetSampleRate(double rate) { spec_->setSampleRate(rate); }
OSType CConvSpec::GetOutputFType() const { return spec_->outputFileType(); }
void CConvSpec::SetOutputFType(OSType type) { spec_->setOutputFileType(type); }
short CConvSpec::GetNeedsStrictFType() const { return Flag(spec_->needsStrictFileType()); }
void CConvSpec::SetNeedsStrictFType(short on) { spec_->setNeedsStrictFileType(on != 0); }
bool CConvSpec::GetNeedsNameExtension() const { return spec_->needsNameExtension(); }
void CConvSpec::SetNeedsNameExtension(bool on) { spec_->setNeedsNameExtension(on); }

void CConvSpec::GetNameExtension(Str255 extension) const {
    const std::string stored = spec_->nameExtension();
    std::string shown;
    if (!stored.empty() && stored[0] == '.')
        shown = stored;
    else if (spec_->needsNameExtension())
        shown = "." + stored;
    // A dot with nothing after it names no extension: the output then takes
    // its type's own, rather than none at all.
    if (shown == ".") shown.clear();
    pascalStringFromString(shown, extension);
}

void CConvSpec::SetNameExtension(const unsigned char* extension) {
    spec_->setNameExtension(extension ? stringFromPascalString(extension) : std::string());
}

void CConvSpec::GetConversionName(Str255 name) const {
    pascalStringFromString(spec_->conversionName(), name);
}

void CConvSpec::SetConversionName(const unsigned char* name) {
    spec_->setConversionName(name ? stringFromPascalString(name) : std::string());
}

short CConvSpec::GetNeedsNormalize() const { return Flag(spec_->needsNormalize()); }
void CConvSpec::SetNeedsNormalize(short on) { spec_->setNeedsNormalize(on != 0); }
double CConvSpec::GetCeiling() const { return spec_->ceiling(); }
void CConvSpec::SetCeiling(double dB) { spec_->setCeiling(dB); }
double CConvSpec::GetMax() const { return spec_->max(); }
void CConvSpec::SetMax(double max) { spec_->setMax(max); }
short CConvSpec::GetHasValidMax() const { return Flag(spec_->hasValidMax()); }
void CConvSpec::SetHasValidMax(short on) { spec_->setHasValidMax(on != 0); }
double CConvSpec::GetCeiledMax() const { return spec_->ceiledMax(); }
void CConvSpec::SetCeiledMax(double value) { spec_->setCeiledMax(value); }
short CConvSpec::GetNeedsNewWordLength() const { return Flag(spec_->needsNewWordLength()); }
void CConvSpec::SetNeedsNewWordLength(short on) { spec_->setNeedsNewWordLength(on != 0); }
short CConvSpec::GetWordLength() const { return Code(spec_->wordLength()); }
void CConvSpec::SetWordLength(short bits) { spec_->setWordLength(bits); }
short CConvSpec::GetNeedsRedither() const { return Flag(spec_->needsRedither()); }
void CConvSpec::SetNeedsRedither(short on) { spec_->setNeedsRedither(on != 0); }
short CConvSpec::GetCopyExtras() const { return Flag(spec_->copyExtras()); }
void CConvSpec::SetCopyExtras(short on) { spec_->setCopyExtras(on != 0); }
short CConvSpec::GetNeedsFades() const { return Flag(spec_->needsFades()); }
void CConvSpec::SetNeedsFades(short on) { spec_->setNeedsFades(on != 0); }
float CConvSpec::GetFadeInTime() const { return spec_->fadeInTime(); }
float CConvSpec::GetFadeOutTime() const { return spec_->fadeOutTime(); }

void CConvSpec::SetFadeTime(float fadeIn, float fadeOut) {
    spec_->setFadeInTime(fadeIn);
    spec_->setFadeOutTime(fadeOut);
}

short CConvSpec::GetNeedsSnip() const { return Flag(spec_->needsSnip()); }
void CConvSpec::SetNeedsSnip(short on) { spec_->setNeedsSnip(on != 0); }
float CConvSpec::GetSnipFrom() const { return spec_->needsSnip() ? spec_->snipFrom() : 0.0f; }
float CConvSpec::GetSnipTo() const { return spec_->needsSnip() ? spec_->snipTo() : -1.0f; }

void CConvSpec::GetSnip(float* from, float* to) const {
    if (!from || !to) return;
    *from = GetSnipFrom();
    *to = GetSnipTo();
}

void CConvSpec::SetSnipFrom(float seconds) { spec_->setSnipFrom(seconds); }
void CConvSpec::SetSnipTo(float seconds) { spec_->setSnipTo(seconds); }

void CConvSpec::SetSnip(float from, float to) {
    spec_->setSnipFrom(from);
    spec_->setSnipTo(to);
}

short CConvSpec::GetNeedsGate() const { return Flag(spec_->needsGate()); }
void CConvSpec::SetNeedsGate(short on) { spec_->setNeedsGate(on != 0); }
double CConvSpec::GetGateThreshold() const { return spec_->gateThreshold(); }
void CConvSpec::SetGateThreshold(double dBFS) { spec_->setGateThreshold(dBFS); }
double CConvSpec::GetGateGapLength() const { return spec_->gateGapLength(); }
void CConvSpec::SetGateGapLength(double seconds) { spec_->setGateGapLength(seconds); }
double CConvSpec::GetGateAttenuation() const { return spec_->gateAttenuation(); }
void CConvSpec::SetGateAttenuation(double dB) { spec_->setGateAttenuation(dB); }
short CConvSpec::GetNeedsCompressor() const { return Flag(spec_->needsCompressor()); }
void CConvSpec::SetNeedsCompressor(short on) { spec_->setNeedsCompressor(on != 0); }
double CConvSpec::GetCompBoost() const { return spec_->compressionBoost(); }
void CConvSpec::SetCompBoost(double dB) { spec_->setCompressionBoost(dB); }
double CConvSpec::GetCompRelease() const { return spec_->compressionRelease(); }
void CConvSpec::SetCompRelease(double release) { spec_->setCompressionRelease(release); }
short CConvSpec::GetCompressionType() const { return Code(spec_->compressionType()); }
void CConvSpec::SetCompressionType(short type) { spec_->setCompressionType(type); }
short CConvSpec::GetSRConvertQuality() const { return Code(spec_->sampleRateConvertQuality()); }
void CConvSpec::SetSRConvertQuality(short quality) { spec_->setSampleRateConvertQuality(quality); }

ConvSpec::SpecificsBlock<uint8_t> CConvSpec::GetFiletypeSpecifics() {
    return spec_->fileTypeSpecifics();
}
void CConvSpec::SetFiletypeSpecifics(const void* bytes) { spec_->setFileTypeSpecifics(bytes); }
