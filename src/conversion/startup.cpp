#include "conversion/startup.h"

#include "conversion/type_rules.h"
#include "formats/register_sound_files.h"
#include "soundfile/raw_settings.h"
#include "soundfile/sound_file.h"

const char* const kProcessFileIfNoRegionsKey = "Process File If No Regions";
const char* const kSkipBadRegionKey = "Skip Bad Region";
const char* const kIgnoreRegionsContainingWholeFileKey = "Ignore Regions Containing Whole File";
const char* const kRecognizeNumberedFilesAsSplitKey = "Recognize number files as split";

namespace {

const char* const kMp3TypeKey = "'DMP3'";

}  // namespace

plist::Dictionary FactoryUserDefaults() {
    plist::Dictionary d;
    d[kIgnoreRegionsContainingWholeFileKey] = true;
    d[kRecognizeNumberedFilesAsSplitKey] = false;
    d[kProcessFileIfNoRegionsKey] = true;
    d[kSkipBadRegionKey] = 0;
    d["Easy Thru"] = true;
    d["Save Log"] = true;
    d["Only Save When Errors"] = false;
    d["Open Log"] = true;
    d["Only Open When Errors"] = false;
    d["Beep When Done"] = true;
    d["Full Paths Into Log"] = false;
    d[kConversionsDefaultsKey] = plist::Array();
    d["Custom Sample Rates"] = plist::Array();
    d["Input Files Sort Key"] = "filename";
    d["Input Files Sort Ascending"] = true;
    d["ConvSpecs Sort Key"] = "convName";
    d["ConvSpecs Sort Ascending"] = true;
    d["Number of Files Ever Converted"] = 0;
    d["Blip At End"] = false;
    d["Varispeed"] = 1.0;
    d["Auto Play Next"] = true;
    d["Copy All Files"] = false;
    d["Preserve Finder Comments"] = false;
    d[kRawActionKey] = 0;
    d[kRawFileTypeKey] = "'DPCM'";
    d[kRawBigEndianKey] = true;
    d[kRawSampleRateKey] = 44100.0;
    d[kRawWordSizeKey] = 16;
    d[kRawNumChannelsKey] = 1;
    d["Number Duplicate Files"] = false;
    return d;
}

void ApplyRegionSettings(const platform::UserDefaults& defaults) {
    CSoundFile::SetProcessFileIfNoRegions(defaults.GetBool(kProcessFileIfNoRegionsKey));
    CSoundFile::SetSkipBadRegion(defaults.GetInteger(kSkipBadRegionKey) == 1);
    CSoundFile::SetIgnoreRegionsContainingWholeFile(
        defaults.GetBool(kIgnoreRegionsContainingWholeFileKey));
    CSoundFile::SetRecognizeNumberedFilesAsSplitMultichannel(
        defaults.GetBool(kRecognizeNumberedFilesAsSplitKey));
}

BootResult BootModel(const BootOptions& options) {
    BootResult result;
    platform::UserDefaults& defaults =
        options.defaults ? *options.defaults : platform::UserDefaults::Standard();
    try {
        defaults.RegisterDefaults(FactoryUserDefaults());
        SyncRawSettings(defaults);

        plist::Dictionary& typeTable = CSoundFile::GetFileTypeInfo();
        ApplyRegionSettings(defaults);
        RegisterSoundFiles(typeTable);
        RegisterConversionRules(typeTable);

        if (options.probeMp3Encoder) {
            result.mp3Encoder = options.lameCandidates.empty()
                                    ? ProbeLameEncoder()
                                    : ProbeLameEncoder(options.lameCandidates);
        }
        const bool found = !result.mp3Encoder.path.empty();
        result.mp3Writable = found && IsLameVersionSufficient(result.mp3Encoder.version);
        result.mp3EncoderTooOld = found && !result.mp3Writable;
        if (auto it = typeTable.find(kMp3TypeKey); it != typeTable.end() && it->second.dict())
            it->second["canBeWritten"] = result.mp3Writable;

        const plist::Value conversions = defaults.Get(kConversionsDefaultsKey);
        result.conversions =
            LoadConvSpecs(conversions.isNull() ? nullptr : &conversions, &typeTable);
    } catch (const error_code_exception& e) {
        result.status = static_cast<OSErr>(e.error_code());
    }
    return result;
}
