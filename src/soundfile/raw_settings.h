// The settings for headerless (unrecognised) input: what type it is read as,
// its sample rate, byte order, word size and channel count, and what to do with
// such a file at all.
//
// One process-wide value exists. The preferences rewrite it on the main thread
// while the add-files and conversion threads read it, so readers take a whole
// copy (CSoundFile::GetRawSettings) and the writer replaces the whole value
// (CSoundFile::SetRawSettings): a reader never sees half of an update.
#pragma once

#include <cstdint>

#include "soundfile/core_audio_types.h"

namespace platform {
class UserDefaults;
}

class RawSettings {
public:
    enum ERawAction : int32_t {
        kRawSkip = 0,       // skip the file
        kRawCopy = 1,       // copy it unchanged to the output folder
        kRawReadAsRaw = 2,  // read it as raw data with these settings
    };

    // 'DPCM', 44100 Hz, big endian, 16 bits, skip, one channel.
    RawSettings();
    // The channel count is the factory value, one.
    RawSettings(OSType fileType, double sampleRate, bool bigEndian, int32_t wordSize,
                ERawAction action);

    OSType GetFileType() const { return fileType_; }
    void SetFileType(OSType type) { fileType_ = type; }
    double GetSampleRate() const { return sampleRate_; }
    void SetSampleRate(double rate) { sampleRate_ = rate; }
    bool IsBigEndian() const { return bigEndian_; }
    void SetBigEndian(bool on) { bigEndian_ = on; }
    int32_t GetWordSize() const { return wordSize_; }
    void SetWordSize(int32_t bits) { wordSize_ = bits; }
    ERawAction GetAction() const { return action_; }
    void SetAction(ERawAction action) { action_ = action; }
    uint32_t GetNumChannels() const { return channels_; }
    void SetNumChannels(uint32_t channels) { channels_ = channels; }

private:
    OSType fileType_;
    double sampleRate_;
    bool bigEndian_;
    int32_t wordSize_;
    ERawAction action_;
    uint32_t channels_ = 1;
};

// The user-defaults keys behind the raw settings.
extern const char* const kRawFileTypeKey;        // "Unrecognized Input File Type"
extern const char* const kRawSampleRateKey;      // "Unrecognized Input File Sample Rate"
extern const char* const kRawBigEndianKey;       // "Unrecognized Input File Big Endian"
extern const char* const kRawWordSizeKey;        // "Unrecognized Input File Word Size"
extern const char* const kRawActionKey;          // "Unrecognized Input File Action"
extern const char* const kRawNumChannelsKey;     // "XWUnrecognizedFileNumChannels"

// Copies the six raw-file keys of the user defaults into the process-wide
// settings in one step. A key that is missing keeps the default's value; a
// sample rate that is not a finite positive number of single precision keeps
// 44100 Hz; a channel count outside 1..1024 keeps one channel.
void SyncRawSettings(const platform::UserDefaults& defaults);

// Puts the process-wide settings back to the defaults (termination, tests).
void ResetRawSettings();
