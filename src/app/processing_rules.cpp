// The processing controls' rules of the Define Conversion dialog.
#include "app/processing_rules.h"

namespace {
// The popups' item indexes.
constexpr int kExtractRegions = 0;
constexpr int kCompactToRegions = 1;
constexpr int kSnip = 2;
constexpr int kAmplifyAndLimit = 0;
constexpr int kNormalize = 1;
}  // namespace

ExtractionFlags ExtractionFlagsFor(const ExtractionControls& c) {
    return {c.ticked && c.mode == kExtractRegions, c.ticked && c.mode == kCompactToRegions,
            c.ticked && c.mode == kSnip};
}

ExtractionControls ExtractionControlsFor(const ExtractionFlags& f) {
    const int mode = f.needsSnip ? kSnip : f.needsStrip ? kCompactToRegions : kExtractRegions;
    return {f.needsExtraction || f.needsStrip || f.needsSnip, mode};
}

GainFlags GainFlagsFor(const GainControls& c) {
    return {c.gate, c.gate || c.gain, c.gain && c.mode == kAmplifyAndLimit,
            c.gain && (c.mode == kNormalize || c.firstNormalize)};
}

GainControls GainControlsFor(const GainFlags& f) {
    return {f.needsGate, f.needsCompressor || f.needsNormalize,
            f.needsNormalize && !f.needsCompressor ? kNormalize : kAmplifyAndLimit,
            f.needsCompressor && f.needsNormalize};
}

bool SampleRateFieldEditable(bool convertTicked, bool typeHasFixedRates) {
    return convertTicked && !typeHasFixedRates;
}
