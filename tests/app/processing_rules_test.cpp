// The processing controls' rules over every state of their controls, without
// a window.
#include "app/processing_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(ProcessingRules, ExtractionOverEveryBoxAndMode) {
    struct Row {
        ExtractionControls controls;
        ExtractionFlags flags;
    };
    const Row table[] = {
        {{false, 0}, {false, false, false}}, {{false, 1}, {false, false, false}},
        {{false, 2}, {false, false, false}}, {{true, 0}, {true, false, false}},
        {{true, 1}, {false, true, false}},   {{true, 2}, {false, false, true}},
    };
    for (const Row& r : table) {
        EXPECT_EQ(ExtractionFlagsFor(r.controls), r.flags)
            << r.controls.ticked << " " << r.controls.mode;
        // Shown again, a ticked box comes back as it was; an unticked one at the first mode.
        const ExtractionControls shown = ExtractionControlsFor(r.flags);
        EXPECT_EQ(shown, r.controls.ticked ? r.controls : (ExtractionControls{false, 0}));
    }
    // Every mix of stored flags shows as one mode: snip, then compacting.
    for (int bits = 0; bits < 8; ++bits) {
        const ExtractionFlags stored{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0};
        const ExtractionFlags kept = ExtractionFlagsFor(ExtractionControlsFor(stored));
        EXPECT_EQ(kept.needsSnip, stored.needsSnip) << bits;
        EXPECT_EQ(kept.needsStrip, stored.needsStrip && !stored.needsSnip) << bits;
        EXPECT_EQ(kept.needsExtraction, bits == 1) << bits;
    }
}

TEST(ProcessingRules, GainOverEveryControlState) {
    // gate, gain, mode, first normalize -> gate, gain, compressor, normalize
    struct Row {
        GainControls controls;
        GainFlags flags;
    };
    const Row table[] = {
        {{false, false, 0, false}, {false, false, false, false}},
        {{false, false, 0, true}, {false, false, false, false}},
        {{false, false, 1, false}, {false, false, false, false}},
        {{false, false, 1, true}, {false, false, false, false}},
        {{false, true, 0, false}, {false, true, true, false}},
        {{false, true, 0, true}, {false, true, true, true}},
        {{false, true, 1, false}, {false, true, false, true}},
        {{false, true, 1, true}, {false, true, false, true}},
        {{true, false, 0, false}, {true, true, false, false}},
        {{true, false, 0, true}, {true, true, false, false}},
        {{true, false, 1, false}, {true, true, false, false}},
        {{true, false, 1, true}, {true, true, false, false}},
        {{true, true, 0, false}, {true, true, true, false}},
        {{true, true, 0, true}, {true, true, true, true}},
        {{true, true, 1, false}, {true, true, false, true}},
        {{true, true, 1, true}, {true, true, false, true}},
    };
    for (const Row& r : table) {
        const GainControls& c = r.controls;
        const GainFlags flags = GainFlagsFor(c);
        EXPECT_EQ(flags, r.flags) << c.gate << c.gain << c.mode << c.firstNormalize;
        // Showing the conversion again gives controls that stand for the same flags.
        EXPECT_EQ(GainFlagsFor(GainControlsFor(flags)), flags)
            << c.gate << c.gain << c.mode << c.firstNormalize;
    }
    // The one mix that is shown with both boxes: amplify and limit after normalizing.
    EXPECT_EQ(GainControlsFor({false, true, true, true}), (GainControls{false, true, 0, true}));
}

TEST(ProcessingRules, RateFieldTakesTypingOnlyWithTheBoxAndNoFixedRates) {
    EXPECT_FALSE(SampleRateFieldEditable(false, false));
    EXPECT_FALSE(SampleRateFieldEditable(false, true));
    EXPECT_TRUE(SampleRateFieldEditable(true, false));
    EXPECT_FALSE(SampleRateFieldEditable(true, true));
}

}  // namespace
