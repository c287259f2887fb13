// The registry of file types: one SoundFileDispatcher per registered type code,
// holding the function that makes the type's format object and the type's
// per-output-type setting rules. The factory (CSoundFile::CreateSoundFile)
// makes format objects through it; the registration table itself lives with
// the format classes (formats/register_sound_files.h).
//
// The registry is filled on the main thread during start-up and read afterwards
// by the add-files thread, the conversion thread and the interface; a
// dispatcher never changes once it is attached.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/errors.h"
#include "platform/property_list.h"
#include "soundfile/core_audio_types.h"
#include "soundfile/sound_file.h"

class CConvSpec;

class SoundFileDispatcher {
public:
    using CreateFunc = CSoundFile* (*)();
    using SettingsFunc = OSErr (*)(CConvSpec* spec, int popupIndex, const std::string& title,
                                   int tag);
    using RecognizerFunc = bool (*)(const FSRef* ref);
    using PopupIndexFunc = int (*)(CConvSpec* spec);
    using TextFunc = std::string (*)(CConvSpec* spec);

    static const char* const kLogTextFallback;       // "internal error during logging"
    static const char* const kAutoNameTextFallback;  // "internal error during auto name generation"

    void setCreateFunc(CreateFunc f) { createSoundFileObject_ = f; }
    void setWordLengthSettingsFunc(SettingsFunc f) { handleWordLengthSettings_ = f; }
    void setChannelSettingsFunc(SettingsFunc f) { handleChannelSettings_ = f; }
    void setSampleRateSettingsFunc(SettingsFunc f) { handleSampleRateSettings_ = f; }
    void setIsMyFileTypeFunc(RecognizerFunc f) { isMyFileType_ = f; }
    void setChannelHandlingPopupIndexFunc(PopupIndexFunc f) { channelIndexFunc_ = f; }
    void setWordLengthPopupIndexFunc(PopupIndexFunc f) { wordLengthIndexFunc_ = f; }
    void setLogWordLengthFunc(TextFunc f) { logWordLengthFunc_ = f; }
    void setLogChannelSettingsFunc(TextFunc f) { logChannelSettingsFunc_ = f; }
    void setAutoNameWordLengthFunc(TextFunc f) { autoNameWordLengthFunc_ = f; }
    void setAutoNameChannelSettingsFunc(TextFunc f) { autoNameChannelSettingsFunc_ = f; }

    // Each call passes its arguments to the stored function; an unset member
    // answers null, -50, false, -1 or the fallback texts above.
    CSoundFile* callCreateSoundFileObject() const;
    OSErr callHandleWordLengthSettings(CConvSpec* spec, int index, const std::string& title,
                                       int tag) const;
    OSErr callHandleChannelSettings(CConvSpec* spec, int index, const std::string& title,
                                    int tag) const;
    OSErr callHandleSampleRateSettings(CConvSpec* spec, int index, const std::string& title,
                                       int tag) const;
    bool callIsMyFileType(const FSRef* ref) const;
    int callChannelIndexFunc(CConvSpec* spec) const;
    int callWordLengthIndexFunc(CConvSpec* spec) const;
    std::string callLogWordLengthFunc(CConvSpec* spec) const;
    std::string callLogChannelSettingsFunc(CConvSpec* spec) const;
    std::string callAutoNameWordLengthFunc(CConvSpec* spec) const;
    std::string callAutoNameChannelSettingsFunc(CConvSpec* spec) const;

    bool hasCreateFunc() const { return createSoundFileObject_ != nullptr; }
    bool hasHandleWordLengthFunc() const { return handleWordLengthSettings_ != nullptr; }
    bool hasHandleChannelFunc() const { return handleChannelSettings_ != nullptr; }
    bool hasSampleRateFunc() const { return handleSampleRateSettings_ != nullptr; }
    bool hasChannelIndexFunc() const { return channelIndexFunc_ != nullptr; }
    bool hasWordLengthIndexFunc() const { return wordLengthIndexFunc_ != nullptr; }
    bool hasLogWordLengthFunc() const { return logWordLengthFunc_ != nullptr; }
    bool hasLogChannelSettingsFunc() const { return logChannelSettingsFunc_ != nullptr; }
    bool hasAutoNameWordLengthFunc() const { return autoNameWordLengthFunc_ != nullptr; }
    bool hasAutoNameChannelSettingsFunc() const { return autoNameChannelSettingsFunc_ != nullptr; }

    // "dispatcher 0x... { create func 0x..., word length func ..., ... }" for diagnostics.
    std::string description() const;

private:
    CreateFunc createSoundFileObject_ = nullptr;
    SettingsFunc handleWordLengthSettings_ = nullptr;
    SettingsFunc handleChannelSettings_ = nullptr;
    SettingsFunc handleSampleRateSettings_ = nullptr;
    RecognizerFunc isMyFileType_ = nullptr;
    PopupIndexFunc channelIndexFunc_ = nullptr;
    PopupIndexFunc wordLengthIndexFunc_ = nullptr;
    TextFunc logWordLengthFunc_ = nullptr;
    TextFunc logChannelSettingsFunc_ = nullptr;
    TextFunc autoNameWordLengthFunc_ = nullptr;
    TextFunc autoNameChannelSettingsFunc_ = nullptr;
};

using SoundFileDispatcherPtr = std::shared_ptr<const SoundFileDispatcher>;

// Attaches a dispatcher to the type `code` when the type table has an entry for
// it (a code without an entry gets none); answers whether it was attached. A
// later dispatcher for the same code replaces the earlier one.
bool AttachSoundFileDispatcher(const plist::Dictionary& typeTable, OSType code,
                               SoundFileDispatcherPtr dispatcher);
// The dispatcher of a type, by code or by quoted type string ("'AIFF'"); null
// when the type has none.
SoundFileDispatcherPtr GetSoundFileDispatcher(OSType code);
SoundFileDispatcherPtr GetSoundFileDispatcher(const std::string& hfsType);
// Forgets every dispatcher (termination, tests).
void ReleaseSoundFileDispatchers();

// Whether a type's objects encode a temporary PCM file when closed, and whether
// they decode their input into a temporary file when opened: a throw-away
// object of the type answers; an unknown type answers false.
bool NeedsCodingOnClose(OSType type);
bool NeedsDecodingOnOpen(OSType type);
