// The shared helpers of the per-output-type rules, the constant word-length
// lines of the log, and the registration of every rule in its type's
// dispatcher.
#include "conversion/type_rules.h"

#include <charconv>
#include <cmath>
#include <memory>

#include "conversion/type_rules_support.h"
#include "foundation/pstring.h"
#include "soundfile/registry.h"
#include "soundfile/type_codes.h"

namespace type_rules {

void WriteVerdict(CConvSpec& spec, const char* flagKey, const char* messageKey, bool valid,
                  const std::string& message) {
    ConvSpec& record = *spec.GetObjCConvSpec();
    record.setSpecificsValue(flagKey, plist::Value(valid));
    if (!valid) record.setSpecificsValue(messageKey, plist::Value(message));
}

void StoreNameExtension(CConvSpec& spec, const char* extension) {
    Str255 pascal = {0};
    pascalStringFromString(extension, pascal);
    spec.SetNameExtension(pascal);
}

std::optional<int64_t> TruncatedRate(double rate) {
    // 2^63 itself is out of range; everything strictly inside converts exactly.
    constexpr double kLimit = 9223372036854775808.0;
    if (!std::isfinite(rate) || rate >= kLimit || rate <= -kLimit) return std::nullopt;
    return static_cast<int64_t>(std::trunc(rate));
}

std::string IntegerText(int64_t value) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string FixedText(double value, int decimals) {
    char buffer[400];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return std::string();
    return std::string(buffer, result.ptr);
}

std::string LogLine(const std::string& text) { return "\n    " + text; }

}  // namespace type_rules

using type_rules::LogLine;

// ---------------------------------------------------------------------------
// Constant word-length lines

namespace {

const char kFourBitADPCM[] = "Convert number of bits to: 4 bits ADPCM";
const char kEightBitALaw[] = "Convert number of bits to: 8 bits A-law";
const char kEightBitULaw[] = "Convert number of bits to: 8 bits \xC2\xB5-law";

}  // namespace

std::string CAIFCIMA1to4_LogWordLengthMessage(CConvSpec*) { return LogLine(kFourBitADPCM); }
std::string CDialogicADPCMFile_LogWordLengthMessage(CConvSpec*) { return LogLine(kFourBitADPCM); }
std::string CDialogicVAPFile_LogWordLengthMessage(CConvSpec*) { return LogLine(kFourBitADPCM); }
std::string CMSADPCMFile_LogWordLengthMessage(CConvSpec*) { return LogLine(kFourBitADPCM); }
std::string CPikaADPCMFile_LogWordLengthMessage(CConvSpec*) { return LogLine(kFourBitADPCM); }
std::string CQTIMAFile_LogWordLengthMessage(CConvSpec*) { return LogLine(kFourBitADPCM); }
std::string CDialogicALawFile_LogWordLengthMessage(CConvSpec*) { return LogLine(kEightBitALaw); }
std::string CNeXTALawFile_LogWordLengthMessage(CConvSpec*) { return LogLine(kEightBitALaw); }
std::string CQTAlawFile_LogWordLengthMessage(CConvSpec*) { return LogLine(kEightBitALaw); }
std::string CDialogicULawFile_LogWordLengthMessage(CConvSpec*) { return LogLine(kEightBitULaw); }
std::string CNeXTAUFile_LogWordLengthMessage(CConvSpec*) { return LogLine(kEightBitULaw); }
std::string CQTUlawFile_LogWordLengthMessage(CConvSpec*) { return LogLine(kEightBitULaw); }
std::string CQTMACE3File_LogWordLengthMessage(CConvSpec*) {
    return LogLine("Word size: MACE words");
}
std::string CQTMACE6File_LogWordLengthMessage(CConvSpec*) {
    return LogLine("Word size: MACE words");
}
std::string CQTQDesignProFile_LogWordLengthMessage(CConvSpec*) {
    return LogLine("Do not convert the number of bits");
}
std::string CQTQDesignPro2File_LogWordLengthMessage(CConvSpec*) {
    return LogLine("Do not convert the number of bits");
}

// ---------------------------------------------------------------------------
// Registration

namespace {

using Settings = SoundFileDispatcher::SettingsFunc;
using PopupIndex = SoundFileDispatcher::PopupIndexFunc;
using Text = SoundFileDispatcher::TextFunc;

// The rule slots of one type: word length (W), channel (C) and sample-rate (S)
// handlers, channel (CI) and word-length (WI) popup indexes, word-length (LW)
// and channel (LC) log lines.
struct RuleRow {
    OSType code;
    Settings wordLength;
    Settings channels;
    Settings sampleRate;
    PopupIndex channelIndex;
    PopupIndex wordLengthIndex;
    Text logWordLength;
    Text logChannels;
};

const RuleRow kRuleRows[] = {
    {FourCC("BWMP"), nullptr, &CBWFMPEGFile_HandleChannelSettings, nullptr,
     &CBWFMPEGFile_ChannelHandlingPopupIndex, nullptr, nullptr, nullptr},
    {FourCC("21-4"), nullptr, &CCITTFile_HandleChannelSettings, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {FourCC("23-2"), nullptr, &CCITTFile_HandleChannelSettings, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {FourCC("23-3"), nullptr, &CCITTFile_HandleChannelSettings, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {FourCC("23-5"), nullptr, &CCITTFile_HandleChannelSettings, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {FourCC("26-3"), nullptr, &CCITTFile_HandleChannelSettings, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {FourCC("26-4"), nullptr, &CCITTFile_HandleChannelSettings, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {FourCC("26-5"), nullptr, &CCITTFile_HandleChannelSettings, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {FourCC("Dawn"), nullptr, &CDawnAIFFFile_HandleChannelSettings, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {FourCC("DADP"), nullptr, &CDialogicADPCMFile_HandleChannelSettings,
     &CDialogicADPCMFile_HandleSampleRateSettings, nullptr, nullptr,
     &CDialogicADPCMFile_LogWordLengthMessage, nullptr},
    {FourCC("DALW"), nullptr, &CDialogicALawFile_HandleChannelSettings,
     &CDialogicALawFile_HandleSampleRateSettings, nullptr, nullptr,
     &CDialogicALawFile_LogWordLengthMessage, nullptr},
    {FourCC("711a"), nullptr, &CDialogicALawFile_HandleChannelSettings,
     &CDialogicALawFile_HandleSampleRateSettings, nullptr, nullptr,
     &CDialogicALawFile_LogWordLengthMessage, nullptr},
    {FourCC("DPCM"), &CDialogicPCMFile_HandleWordLengthSettings, nullptr, nullptr, nullptr,
     nullptr, nullptr, nullptr},
    {FourCC("DULW"), nullptr, &CDialogicULawFile_HandleChannelSettings,
     &CDialogicULawFile_HandleSampleRateSettings, nullptr, nullptr,
     &CDialogicULawFile_LogWordLengthMessage, nullptr},
    {FourCC("711u"), nullptr, &CDialogicULawFile_HandleChannelSettings,
     &CDialogicULawFile_HandleSampleRateSettings, nullptr, nullptr,
     &CDialogicULawFile_LogWordLengthMessage, nullptr},
    {FourCC("DVAP"), nullptr, &CDialogicVAPFile_HandleChannelSettings, nullptr, nullptr, nullptr,
     &CDialogicVAPFile_LogWordLengthMessage, nullptr},
    {FourCC("DMP3"), &CDropMP3File_HandleWordLengthSettings, &CDropMP3File_HandleChannelSettings,
     nullptr, &CDropMP3File_ChannelHandlingPopupIndex, nullptr, nullptr,
     &CDropMP3File_LogChannelTreatMessage},
    {FourCC("MPG1"), &CMPEG1File_HandleWordLengthSettings, &CMPEG1File_HandleChannelSettings,
     nullptr, &CMPEG1File_ChannelHandlingPopupIndex, nullptr, &CMPEG1File_LogWordLengthMessage,
     &CMPEG1File_LogChannelTreatMessage},
    {FourCC("MPG2"), nullptr, &CMPEG2File_HandleChannelSettings, nullptr,
     &CMPEG2File_ChannelHandlingPopupIndex, nullptr, &CMPEG2File_LogWordLengthMessage,
     &CMPEG2File_LogChannelTreatMessage},
    {FourCC("MSAP"), nullptr, nullptr, nullptr, nullptr, nullptr,
     &CMSADPCMFile_LogWordLengthMessage, nullptr},
    {FourCC("NSAL"), nullptr, nullptr, nullptr, nullptr, nullptr,
     &CNeXTALawFile_LogWordLengthMessage, nullptr},
    {FourCC("ulaw"), nullptr, nullptr, nullptr, nullptr, nullptr,
     &CNeXTAUFile_LogWordLengthMessage, nullptr},
    {FourCC(" paf"), &CParisLinearFile_HandleWordLengthSettings, nullptr, nullptr, nullptr,
     &CParisLinearFile_WordLengthPopupIndex, nullptr, nullptr},
    {FourCC("PADP"), nullptr, nullptr, &CPikaADPCMFile_HandleSampleRateSettings, nullptr, nullptr,
     &CPikaADPCMFile_LogWordLengthMessage, nullptr},
    {FourCC("QTAL"), nullptr, nullptr, nullptr, nullptr, nullptr,
     &CQTAlawFile_LogWordLengthMessage, nullptr},
    {FourCC("QTIM"), nullptr, nullptr, nullptr, nullptr, nullptr,
     &CQTIMAFile_LogWordLengthMessage, nullptr},
    {FourCC("QTIF"), &CQTIntFloatFile_HandleWordLengthSettings, nullptr, nullptr, nullptr,
     &CQTIntFloatFile_WordLengthPopupIndex, &CQTIntFloatFile_LogWordLengthMessage, nullptr},
    {FourCC("QTM3"), nullptr, nullptr, nullptr, nullptr, nullptr,
     &CQTMACE3File_LogWordLengthMessage, nullptr},
    {FourCC("QTM6"), nullptr, nullptr, nullptr, nullptr, nullptr,
     &CQTMACE6File_LogWordLengthMessage, nullptr},
    {FourCC("Mp3 "), nullptr, nullptr, &CQTMP3File_HandleSampleRateSettings, nullptr, nullptr,
     nullptr, nullptr},
    {FourCC("Mpg4"), &CQTMP4File_HandleWordLengthSettings, nullptr,
     &CQTMP4File_HandleSampleRateSettings, nullptr, nullptr, nullptr, nullptr},
    {FourCC("QTQP"), nullptr, nullptr, nullptr, nullptr, nullptr,
     &CQTQDesignProFile_LogWordLengthMessage, nullptr},
    {FourCC("QTQ2"), nullptr, nullptr, nullptr, nullptr, nullptr,
     &CQTQDesignPro2File_LogWordLengthMessage, nullptr},
    {FourCC("QTQD"), nullptr, nullptr, nullptr, nullptr, nullptr,
     &CQTQDesignRavesoundFile_LogWordLengthMessage, nullptr},
    {FourCC("QTPV"), nullptr, nullptr, nullptr, nullptr, nullptr,
     &CQTQualcommPurevoiceFile_LogWordLengthMessage, nullptr},
    {FourCC("QTUL"), nullptr, nullptr, nullptr, nullptr, nullptr,
     &CQTUlawFile_LogWordLengthMessage, nullptr},
    {FourCC("SAIF"), &CSonicAIFFFile_HandleWordLengthSettings, nullptr, nullptr, nullptr,
     &CSonicAIFFFile_WordLengthPopupIndex, &CSonicAIFFFile_LogWordLengthMessage, nullptr},
    {FourCC("VOC "), nullptr, nullptr, &CVOCFile_HandleSampleRateSettings, nullptr, nullptr,
     nullptr, nullptr},
};

}  // namespace

void RegisterConversionRules(const plist::Dictionary& typeTable) {
    for (const RuleRow& row : kRuleRows) {
        SoundFileDispatcherPtr attached = GetSoundFileDispatcher(row.code);
        if (!attached) continue;
        // Dispatchers are not changed once other threads may read them: the
        // rules go into a copy that replaces the attached one.
        auto dispatcher = std::make_shared<SoundFileDispatcher>(*attached);
        if (row.wordLength) dispatcher->setWordLengthSettingsFunc(row.wordLength);
        if (row.channels) dispatcher->setChannelSettingsFunc(row.channels);
        if (row.sampleRate) dispatcher->setSampleRateSettingsFunc(row.sampleRate);
        if (row.channelIndex) dispatcher->setChannelHandlingPopupIndexFunc(row.channelIndex);
        if (row.wordLengthIndex) dispatcher->setWordLengthPopupIndexFunc(row.wordLengthIndex);
        if (row.logWordLength) dispatcher->setLogWordLengthFunc(row.logWordLength);
        if (row.logChannels) dispatcher->setLogChannelSettingsFunc(row.logChannels);
        AttachSoundFileDispatcher(typeTable, row.code, std::move(dispatcher));
    }
}
