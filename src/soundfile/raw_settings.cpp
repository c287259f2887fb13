#include "soundfile/raw_settings.h"

#include <cmath>
#include <limits>
#include <mutex>

#include "platform/user_defaults.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"

const char* const kRawFileTypeKey = "Unrecognized Input File Type";
const char* const kRawSampleRateKey = "Unrecognized Input File Sample Rate";
const char* const kRawBigEndianKey = "Unrecognized Input File Big Endian";
const char* const kRawWordSizeKey = "Unrecognized Input File Word Size";
const char* const kRawActionKey = "Unrecognized Input File Action";
const char* const kRawNumChannelsKey = "XWUnrecognizedFileNumChannels";

namespace {

constexpr double kDefaultRawSampleRate = 44100.0;
// The most channels a sound file may have (the readers' limit, kMaxSoundFileChannels).
constexpr int64_t kMaxRawChannels = 1024;

struct SharedRawSettings {
    std::mutex mutex;
    RawSettings settings;
};

SharedRawSettings& Shared() {
    static SharedRawSettings shared;
    return shared;
}

}  // namespace

RawSettings::RawSettings()
    : RawSettings(FourCC("DPCM"), kDefaultRawSampleRate, true, 16, kRawSkip) {}

RawSettings::RawSettings(OSType fileType, double sampleRate, bool bigEndian, int32_t wordSize,
                         ERawAction action)
    : fileType_(fileType),
      sampleRate_(sampleRate),
      bigEndian_(bigEndian),
      wordSize_(wordSize),
      action_(action) {}

RawSettings CSoundFile::GetRawSettings() {
    SharedRawSettings& s = Shared();
    std::lock_guard lock(s.mutex);
    return s.settings;
}

void CSoundFile::SetRawSettings(const RawSettings& settings) {
    SharedRawSettings& s = Shared();
    std::lock_guard lock(s.mutex);
    s.settings = settings;
}

void ResetRawSettings() { CSoundFile::SetRawSettings(RawSettings()); }

void SyncRawSettings(const platform::UserDefaults& defaults) {
    const RawSettings factory;
    RawSettings raw;

    const plist::Value type = defaults.Get(kRawFileTypeKey);
    if (type.isString()) raw.SetFileType(HFSTypeCode(type.asString()));

    // The rate is kept in single precision, as the preferences window shows it.
    const double rate = defaults.GetReal(kRawSampleRateKey, factory.GetSampleRate());
    if (std::isfinite(rate) && rate > 0 && rate <= std::numeric_limits<float>::max())
        raw.SetSampleRate(static_cast<double>(static_cast<float>(rate)));

    raw.SetBigEndian(defaults.GetBool(kRawBigEndianKey, factory.IsBigEndian()));

    const int64_t wordSize = defaults.GetInteger(kRawWordSizeKey, factory.GetWordSize());
    if (wordSize >= std::numeric_limits<int32_t>::min() &&
        wordSize <= std::numeric_limits<int32_t>::max())
        raw.SetWordSize(static_cast<int32_t>(wordSize));

    const int64_t action = defaults.GetInteger(kRawActionKey, factory.GetAction());
    if (action >= std::numeric_limits<int32_t>::min() &&
        action <= std::numeric_limits<int32_t>::max())
        raw.SetAction(static_cast<RawSettings::ERawAction>(action));

    const int64_t channels = defaults.GetInteger(kRawNumChannelsKey, factory.GetNumChannels());
    if (channels >= 1 && channels <= kMaxRawChannels)
        raw.SetNumChannels(static_cast<uint32_t>(channels));

    CSoundFile::SetRawSettings(raw);
}
