// The rules by which the Define Conversion dialog's processing controls set the
// conversion's flags, and show them again, as pure functions over the controls'
// states: compact/extract/snip, gate and gain, and when the rate field takes
// typing. The dialog's actions and its tests ask the same functions.
#pragma once

// Compact, extract, snip: the box and the popup's index (0 extract regions,
// 1 compact to regions, 2 snip).
struct ExtractionControls {
    bool ticked = false;
    int mode = 0;
    bool operator==(const ExtractionControls&) const = default;
};
struct ExtractionFlags {
    bool needsExtraction = false;
    bool needsStrip = false;
    bool needsSnip = false;
    bool operator==(const ExtractionFlags&) const = default;
};
// The flag of the chosen mode while the box is ticked; none while it is not.
ExtractionFlags ExtractionFlagsFor(const ExtractionControls& controls);
// The controls that show a conversion's flags: the box is ticked when any flag
// is set, and snip wins over compacting, compacting over extracting.
ExtractionControls ExtractionControlsFor(const ExtractionFlags& flags);

// Gate and gain: the two boxes, the gain popup's index (0 amplify and limit,
// 1 normalize) and the first-normalize box.
struct GainControls {
    bool gate = false;
    bool gain = false;
    int mode = 0;
    bool firstNormalize = false;
    bool operator==(const GainControls&) const = default;
};
struct GainFlags {
    bool needsGate = false;
    bool needsGain = false;  // the gate attenuates through the gain stage too
    bool needsCompressor = false;
    bool needsNormalize = false;
    bool operator==(const GainFlags&) const = default;
};
// The flags the controls stand for. Each control's action stores the flags it
// owns: the gate box the gate and gain flags, the gain box the gain,
// compressor and normalize flags, the popup the compressor and normalize
// flags, the first-normalize box the normalize flag.
GainFlags GainFlagsFor(const GainControls& controls);
// The controls that show a conversion's flags (`needsGain` is not read: it
// follows from the others).
GainControls GainControlsFor(const GainFlags& flags);

// Whether the sample-rate field takes typing: only while its box is ticked and
// the output type has no fixed list of rates (the popup picks those).
bool SampleRateFieldEditable(bool convertTicked, bool typeHasFixedRates);
