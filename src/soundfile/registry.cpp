// The dispatcher registry, the factory and the coding questions.
#include "soundfile/registry.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <shared_mutex>

#include "soundfile/pending_file.h"
#include "soundfile/raw_settings.h"
#include "soundfile/split_file.h"
#include "soundfile/surround_file.h"
#include "soundfile/type_codes.h"

const char* const SoundFileDispatcher::kLogTextFallback = "internal error during logging";
const char* const SoundFileDispatcher::kAutoNameTextFallback =
    "internal error during auto name generation";

namespace {

struct DispatcherTable {
    std::shared_mutex mutex;
    std::map<std::string, SoundFileDispatcherPtr> byType;  // quoted type string -> dispatcher
};

DispatcherTable& Dispatchers() {
    static DispatcherTable table;
    return table;
}

// A function pointer as text for the diagnostic description.
template <class F>
std::string PointerText(F f) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", reinterpret_cast<void*>(f));
    return buf;
}

// Split pairs and surround sets of members of one type.
CSoundFile* NewSplitFile(OSType memberType) { return new CSplitFile(memberType); }

CSoundFile* NewSurroundFile(OSType memberType) { return new CSurroundFile(memberType); }

CSoundFile* CreateRegistered(OSType type) {
    SoundFileDispatcherPtr dispatcher = GetSoundFileDispatcher(type);
    return dispatcher ? dispatcher->callCreateSoundFileObject() : nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// SoundFileDispatcher

CSoundFile* SoundFileDispatcher::callCreateSoundFileObject() const {
    return createSoundFileObject_ ? createSoundFileObject_() : nullptr;
}

OSErr SoundFileDispatcher::callHandleWordLengthSettings(CConvSpec* spec, int index,
                                                        const std::string& title,
                                                        int tag) const {
    return handleWordLengthSettings_ ? handleWordLengthSettings_(spec, index, title, tag)
                                     : static_cast<OSErr>(kParamErr);
}

OSErr SoundFileDispatcher::callHandleChannelSettings(CConvSpec* spec, int index,
                                                     const std::string& title, int tag) const {
    return handleChannelSettings_ ? handleChannelSettings_(spec, index, title, tag)
                                  : static_cast<OSErr>(kParamErr);
}

OSErr SoundFileDispatcher::callHandleSampleRateSettings(CConvSpec* spec, int index,
                                                        const std::string& title,
                                                        int tag) const {
    return handleSampleRateSettings_ ? handleSampleRateSettings_(spec, index, title, tag)
                                     : static_cast<OSErr>(kParamErr);
}

bool SoundFileDispatcher::callIsMyFileType(const FSRef* ref) const {
    return isMyFileType_ ? isMyFileType_(ref) : false;
}

int SoundFileDispatcher::callChannelIndexFunc(CConvSpec* spec) const {
    return channelIndexFunc_ ? channelIndexFunc_(spec) : -1;
}

int SoundFileDispatcher::callWordLengthIndexFunc(CConvSpec* spec) const {
    return wordLengthIndexFunc_ ? wordLengthIndexFunc_(spec) : -1;
}

std::string SoundFileDispatcher::callLogWordLengthFunc(CConvSpec* spec) const {
    return logWordLengthFunc_ ? logWordLengthFunc_(spec) : kLogTextFallback;
}

std::string SoundFileDispatcher::callLogChannelSettingsFunc(CConvSpec* spec) const {
    return logChannelSettingsFunc_ ? logChannelSettingsFunc_(spec) : kLogTextFallback;
}

std::string SoundFileDispatcher::callAutoNameWordLengthFunc(CConvSpec* spec) const {
    return autoNameWordLengthFunc_ ? autoNameWordLengthFunc_(spec) : kAutoNameTextFallback;
}

std::string SoundFileDispatcher::callAutoNameChannelSettingsFunc(CConvSpec* spec) const {
    return autoNameChannelSettingsFunc_ ? autoNameChannelSettingsFunc_(spec)
                                        : kAutoNameTextFallback;
}

std::string SoundFileDispatcher::description() const {
    char self[32];
    std::snprintf(self, sizeof self, "%p", static_cast<const void*>(this));
    return std::string("dispatcher ") + self + " { create func " +
           PointerText(createSoundFileObject_) + ", word length func " +
           PointerText(handleWordLengthSettings_) + ", channel func " +
           PointerText(handleChannelSettings_) + ", sample rate func " +
           PointerText(handleSampleRateSettings_) + ", recognizer func " +
           PointerText(isMyFileType_) + ", channel treat popup index func " +
           PointerText(channelIndexFunc_) + ", word length popup index func " +
           PointerText(wordLengthIndexFunc_) + ", log word length func " +
           PointerText(logWordLengthFunc_) + ", log channel settings func " +
           PointerText(logChannelSettingsFunc_) + ", auto name word length func " +
           PointerText(autoNameWordLengthFunc_) + ", auto name channel settings func " +
           PointerText(autoNameChannelSettingsFunc_) + " }";
}

// ---------------------------------------------------------------------------
// The registry

bool AttachSoundFileDispatcher(const plist::Dictionary& typeTable, OSType code,
                               SoundFileDispatcherPtr dispatcher) {
    const std::string key = HFSTypeString(code);
    if (!dispatcher || typeTable.find(key) == typeTable.end()) return false;
    DispatcherTable& t = Dispatchers();
    std::unique_lock lock(t.mutex);
    t.byType[key] = std::move(dispatcher);
    return true;
}

SoundFileDispatcherPtr GetSoundFileDispatcher(const std::string& hfsType) {
    DispatcherTable& t = Dispatchers();
    std::shared_lock lock(t.mutex);
    auto it = t.byType.find(hfsType);
    return it == t.byType.end() ? nullptr : it->second;
}

SoundFileDispatcherPtr GetSoundFileDispatcher(OSType code) {
    return GetSoundFileDispatcher(HFSTypeString(code));
}

void ReleaseSoundFileDispatchers() {
    DispatcherTable& t = Dispatchers();
    std::unique_lock lock(t.mutex);
    t.byType.clear();
}

// ---------------------------------------------------------------------------
// The factory

CSoundFile* CSoundFile::CreateSoundFile(OSType type) {
    try {
        if (type == FourCC("Srnd")) return NewSurroundFile(FourCC("BWLN"));
        if (type == FourCC("Splt")) return NewSplitFile(FourCC("Sd2f"));
        return CreateRegistered(type);
    } catch (const std::exception&) {
        return nullptr;
    }
}

CSoundFile* CSoundFile::CreateSoundFile(OSType type, OSType subtype) {
    try {
        if (type == FourCC("SpSc")) return CreateRegistered(FourCC("SpSc"));
        if (type == FourCC("Srnd")) return NewSurroundFile(subtype);
        if (type == FourCC("Splt")) {
            if (subtype == FourCC("SAIF")) return CreateRegistered(FourCC("SpSc"));
            return NewSplitFile(subtype);
        }
    } catch (const std::exception&) {
        return nullptr;
    }
    return CreateSoundFile(type);
}

namespace {

template <class Question>
bool AskThrowAwayObject(OSType type, Question question) {
    std::unique_ptr<CSoundFile> object(CSoundFile::CreateSoundFile(type));
    return object ? question(*object) : false;
}

}  // namespace

bool NeedsCodingOnClose(OSType type) {
    return AskThrowAwayObject(type, [](CSoundFile& f) { return f.NeedsCodingOnClose(); });
}

bool NeedsDecodingOnOpen(OSType type) {
    return AskThrowAwayObject(type, [](CSoundFile& f) { return f.NeedsDecodingOnOpen(); });
}

bool CSoundFile::NeedsEncodingOnClose(OSType type) { return ::NeedsCodingOnClose(type); }

bool CSoundFile::NeedsDecodingOnOpen(OSType type) { return ::NeedsDecodingOnOpen(type); }

void CSoundFile::Cleanup() {
    ReleaseSoundFileDispatchers();
    ReleaseTypeTables();
    ResetRawSettings();
}
