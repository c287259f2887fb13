// Rules of the telephony output types: the mono requirement of the CCITT,
// Dawn, Dialogic and annotated-voice files, and the name extensions that carry
// the rate (Dialogic and Pika ADPCM, A-law, µ-law) or the word size (Dialogic
// PCM) of the headerless files, whose readers take them from the name.
#include "conversion/type_rules.h"

#include "conversion/type_rules_support.h"

using type_rules::StoreNameExtension;
using type_rules::WriteVerdict;

namespace {

// Tags of the built-in sample-rate items that the telephony rates use.
constexpr int kRateTag8000 = 17;
constexpr int kRateTag6000 = 18;

OSErr MonoVerdict(CConvSpec* spec, bool valid, const char* message) {
    if (!spec) return kParamErr;
    WriteVerdict(*spec, kChannelHandlingValidKey, kChannelHandlingInvalidMessageKey, valid,
                 message);
    return 0;
}

OSErr ExtensionByRateTag(CConvSpec* spec, int tag, const char* sixKHz, const char* eightKHz) {
    if (!spec) return kParamErr;
    if (tag == kRateTag6000) {
        StoreNameExtension(*spec, sixKHz);
        return 0;
    }
    if (tag == kRateTag8000) {
        StoreNameExtension(*spec, eightKHz);
        return 0;
    }
    return kParamErr;
}

}  // namespace

OSErr CCITTFile_HandleChannelSettings(CConvSpec* spec, int, const std::string&, int) {
    if (!spec) return kParamErr;
    const short treat = spec->GetChannelTreat();
    const bool mono = spec->GetNeedsChannelTreat() != 0 && treat >= 2 && treat <= 5;
    return MonoVerdict(spec, mono,
                       "CCITT files must be mono, so please choose a 'Channel handling' setting "
                       "that yields mono output.");
}

OSErr CDawnAIFFFile_HandleChannelSettings(CConvSpec* spec, int, const std::string&, int) {
    return MonoVerdict(spec, spec && spec->GetNeedsChannelTreat() != 0,
                       "Dawn AIFF files must be mono, so please select a channel handling that "
                       "yields mono output.");
}

OSErr CDialogicADPCMFile_HandleChannelSettings(CConvSpec* spec, int, const std::string&, int) {
    return MonoVerdict(spec, spec && spec->GetNeedsChannelTreat() != 0,
                       "Dialogic ADPCM files must be mono, so please select a channel handling "
                       "that yields mono output.");
}

OSErr CDialogicALawFile_HandleChannelSettings(CConvSpec* spec, int, const std::string&, int) {
    return MonoVerdict(spec, spec && spec->GetNeedsChannelTreat() != 0,
                       "Dialogic a-law files must be mono, so please select a channel handling "
                       "that yields mono output.");
}

OSErr CDialogicULawFile_HandleChannelSettings(CConvSpec* spec, int, const std::string&, int) {
    return MonoVerdict(spec, spec && spec->GetNeedsChannelTreat() != 0,
                       "Dialogic \xC2\xB5-law files must be mono, so please select a channel "
                       "handling that yields mono output.");
}

OSErr CDialogicVAPFile_HandleChannelSettings(CConvSpec* spec, int, const std::string&, int) {
    return MonoVerdict(spec, spec && spec->GetNeedsChannelTreat() != 0,
                       "Annotated Voice (.vap) files must be mono, so please select a channel "
                       "handling that yields mono output.");
}

OSErr CDialogicADPCMFile_HandleSampleRateSettings(CConvSpec* spec, int, const std::string&,
                                                  int tag) {
    return ExtensionByRateTag(spec, tag, "ap6", "ap8");
}

OSErr CDialogicALawFile_HandleSampleRateSettings(CConvSpec* spec, int, const std::string&,
                                                 int tag) {
    return ExtensionByRateTag(spec, tag, "al6", "al8");
}

OSErr CDialogicULawFile_HandleSampleRateSettings(CConvSpec* spec, int, const std::string&,
                                                 int tag) {
    return ExtensionByRateTag(spec, tag, "ul6", "ul8");
}

OSErr CPikaADPCMFile_HandleSampleRateSettings(CConvSpec* spec, int, const std::string&,
                                              int tag) {
    return ExtensionByRateTag(spec, tag, "pi6", "pi8");
}

OSErr CDialogicPCMFile_HandleWordLengthSettings(CConvSpec* spec, int index, const std::string&,
                                                int) {
    if (!spec) return kParamErr;
    if (index == 0) {
        StoreNameExtension(*spec, "pc8");
        return 0;
    }
    if (index >= 1 && index <= 3) {
        StoreNameExtension(*spec, "p16");
        return 0;
    }
    return kParamErr;
}
