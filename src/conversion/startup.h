// Start-up of the model, without any interface: what the application does
// before its main window appears, in this order:
//  1. register the factory values of the user defaults and copy the raw-file
//     keys into the raw settings;
//  2. load the file-type table;
//  3. copy the four region preferences into the sound-file model;
//  4. register the file types with the factory;
//  5. look for the mp3 encoder program and let the mp3 type be written only
//     when it is version 3.93 or later;
//  6. load the conversions from the user defaults, or the factory conversions
//     when there are none.
// Tests and the application boot the model the same way. Run it on the main
// thread before any worker thread starts.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "conversion/conv_spec.h"
#include "formats/mp3_encoder_probe.h"
#include "foundation/errors.h"
#include "platform/property_list.h"
#include "platform/user_defaults.h"

// Keys of the region preferences.
extern const char* const kProcessFileIfNoRegionsKey;             // "Process File If No Regions"
extern const char* const kSkipBadRegionKey;                      // "Skip Bad Region"
extern const char* const kIgnoreRegionsContainingWholeFileKey;   // "Ignore Regions Containing Whole File"
extern const char* const kRecognizeNumberedFilesAsSplitKey;      // "Recognize number files as split"

struct BootOptions {
    // The store to use; null: platform::UserDefaults::Standard().
    platform::UserDefaults* defaults = nullptr;
    // Whether to look for the mp3 encoder at all; without it mp3 output is off.
    bool probeMp3Encoder = true;
    // Where to look; empty: LameCandidatePaths().
    std::vector<std::string> lameCandidates;
};

struct BootResult {
    // 0, or the status that stopped the start-up (-43: no "SoundFileProperties"
    // among the resources).
    OSErr status = 0;
    LameProbe mp3Encoder;
    // The mp3 type may be written (the 'DMP3' entry's "canBeWritten").
    bool mp3Writable = false;
    // An encoder was found, but older than 3.93: the interface tells the user.
    bool mp3EncoderTooOld = false;
    std::vector<std::shared_ptr<ConvSpec>> conversions;
};

// The 30 user-defaults keys with their factory values.
plist::Dictionary FactoryUserDefaults();

// Copies the region preferences into the static settings of CSoundFile.
void ApplyRegionSettings(const platform::UserDefaults& defaults);

BootResult BootModel(const BootOptions& options = BootOptions());
