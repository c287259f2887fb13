// Rules of the MPEG and platform-codec output types: the stereo mode kept in
// the per-type block, the bit-rate checks of MPEG-1 Layer I, the combinations
// of bit rate and sample rate that AAC allows, the rate the platform mp3
// codec's options require, and the bit-rate lines of the log.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "conversion/type_rules.h"
#include "conversion/type_rules_support.h"

using type_rules::IntegerText;
using type_rules::LogLine;
using type_rules::TruncatedRate;
using type_rules::WriteVerdict;

namespace {

// Bytes 0 to 20 of the per-type block: the stereo mode as a Pascal string.
constexpr size_t kStereoModeLength = 20;

void WriteStereoMode(CConvSpec& spec, const char* text) {
    auto block = spec.GetFiletypeSpecifics();
    block[0] = static_cast<uint8_t>(kStereoModeLength);
    std::memcpy(block.data() + 1, text, kStereoModeLength);
}

bool BlockHoldsStereoMode(CConvSpec& spec, const char* text) {
    const auto block = spec.GetFiletypeSpecifics();
    return block[0] == kStereoModeLength &&
           std::memcmp(block.data() + 1, text, kStereoModeLength) == 0;
}

// Stores the mode of the joint or the separate item; other items change nothing.
OSErr StereoModeByIndex(CConvSpec* spec, int index, int jointIndex, int separateIndex) {
    if (!spec) return kParamErr;
    if (index == jointIndex) WriteStereoMode(*spec, kMPEGJointStereoText);
    if (index == separateIndex) WriteStereoMode(*spec, kMPEGSeparateStereoText);
    return 0;
}

// The treatment itself unless it is interleaved stereo; then the item of the
// stored stereo mode, or 0.
int StereoModePopupIndex(CConvSpec* spec, int jointIndex, int separateIndex) {
    if (!spec) return -1;
    const short treat = spec->GetChannelTreat();
    if (treat != 1) return treat;
    if (BlockHoldsStereoMode(*spec, kMPEGJointStereoText)) return jointIndex;
    if (BlockHoldsStereoMode(*spec, kMPEGSeparateStereoText)) return separateIndex;
    return 0;
}

std::string StereoModeText(CConvSpec* spec) {
    if (!spec) return std::string();
    const auto block = spec->GetFiletypeSpecifics();
    // A length byte of at most 255 with 255 bytes after it stays inside the
    // 256-byte block.
    return std::string(reinterpret_cast<const char*>(block.data() + 1), block[0]);
}

// MPEG-1 Layer I allows 32 kbit/s only for mono output.
bool IsStereoAt32(CConvSpec& spec) {
    return spec.GetChannelTreat() == 1 && spec.GetWordLength() == 32;
}

// The integer value at the start of a text, as a number formatter's integer
// reading takes it: leading blanks, an optional sign, then digits; 0 when
// there are none.
int64_t LeadingInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > 1000000000000LL) break;  // far beyond any rate; stop growing
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

// "a, b or c" of a list of numbers.
std::string ListText(const std::vector<int>& values) {
    std::string text;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) text += i + 1 == values.size() ? " or " : ", ";
        text += IntegerText(values[i]);
    }
    return text;
}

const char kAACCombinationIntro[] =
    "MP4 AAC files can only have certain combinations of bit- and sample rates. ";

// AAC, bit-rate side: the sample rates each bit rate allows.
std::vector<int> AACRatesForBitRate(int bitRate) {
    switch (bitRate) {
        case 8: return {8000, 11025};
        case 16: return {8000, 11025, 12000, 16000, 22050};
        case 20: return {11025, 12000, 16000, 22050, 24000};
        case 24: return {12000, 16000, 22050, 24000, 32000};
        case 28:
        case 32: return {16000, 22050, 24000, 32000};
        case 40: return {16000, 22050, 24000, 32000, 44100};
        case 48: return {22050, 24000, 32000, 44100};
        case 56: return {24000, 32000, 44100, 48000};
        case 64: return {32000, 44100, 48000};
        default: return {44100, 48000};
    }
}

// AAC, sample-rate side: the bit rates each rate accepts and the list its
// message names. A rate without a row accepts every bit rate.
struct AACRateRow {
    int rate;
    std::vector<int> accepted;  // empty: every value from `from` to 256
    int from;
    const char* listText;
};

const AACRateRow* AACRowForRate(int64_t rate) {
    static const AACRateRow rows[] = {
        {8000, {8, 16}, 0, "8 or 16"},
        {11025, {8, 16, 20}, 0, "8, 16 or 20"},
        {12000, {16, 20, 24}, 0, "16, 20 or 24"},
        {16000, {16, 20, 24, 28, 32, 40}, 0, "16, 20, 24, 28, 32 or 40"},
        {22050, {16, 20, 24, 28, 32, 40, 48}, 0, "16, 20, 24, 28, 32, 40 or 48"},
        {24000, {20, 24, 28, 32, 40, 48, 56}, 0, "20, 24, 28, 32, 40, 48 or 56"},
        {32000, {24, 28, 32, 40, 48, 56, 64}, 0, "24, 28, 32, 40, 48, 56 or 64"},
        {44100, {}, 28, "40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224 or 256"},
        {48000, {}, 48, "56, 64, 80, 96, 112, 128, 160, 192, 224 or 256"},
    };
    for (const AACRateRow& row : rows)
        if (row.rate == rate) return &row;
    return nullptr;
}

bool AACRowAccepts(const AACRateRow& row, int bitRate) {
    if (row.accepted.empty()) return bitRate >= row.from && bitRate <= 256;
    for (int accepted : row.accepted)
        if (accepted == bitRate) return true;
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Stereo mode

OSErr CBWFMPEGFile_HandleChannelSettings(CConvSpec* spec, int index, const std::string&, int) {
    return StereoModeByIndex(spec, index, 4, 5);
}

int CBWFMPEGFile_ChannelHandlingPopupIndex(CConvSpec* spec) {
    return StereoModePopupIndex(spec, 4, 5);
}

OSErr CMPEG2File_HandleChannelSettings(CConvSpec* spec, int index, const std::string&, int) {
    return StereoModeByIndex(spec, index, 4, 5);
}

int CMPEG2File_ChannelHandlingPopupIndex(CConvSpec* spec) {
    return StereoModePopupIndex(spec, 4, 5);
}

OSErr CMPEG1File_HandleChannelSettings(CConvSpec* spec, int index, const std::string&, int) {
    if (OSErr err = StereoModeByIndex(spec, index, 5, 6)) return err;
    WriteVerdict(*spec, kChannelHandlingValidKey, kChannelHandlingInvalidMessageKey,
                 !IsStereoAt32(*spec),
                 "You have specified a bit rate of 32 kbit/s together with a stereo output, but "
                 "for MPEG 1 Layer I files that bit rate is only allowed for mono output.");
    return 0;
}

int CMPEG1File_ChannelHandlingPopupIndex(CConvSpec* spec) {
    return StereoModePopupIndex(spec, 5, 6);
}

OSErr CDropMP3File_HandleChannelSettings(CConvSpec* spec, int, const std::string&, int tag) {
    if (!spec) return kParamErr;
    if (tag != 5 && tag != 6) return 0;
    WriteStereoMode(*spec, tag == 5 ? kMPEGJointStereoText : kMPEGSeparateStereoText);
    // The two stereo items carry the tags 5 and 6, which the dialog also stores
    // as the channel treatment, where they mean "right channel only" and "only
    // split pairs to interleaved": an mp3 file asked for in joint stereo would
    // come out as the right channel alone. Both modes make stereo output.
    spec->SetChannelTreat(1);
    return 0;
}

// The mp3 popup: 0 stereo, 1 split, 2 mix, 3 left only, a separator, 5 joint
// and 6 separate stereo. Both stereo modes are kept as treatment 1 with the
// mode in the block, so the mode decides which item shows it again.
int CDropMP3File_ChannelHandlingPopupIndex(CConvSpec* spec) {
    if (!spec) return -1;
    const short treat = spec->GetChannelTreat();
    if (treat == 1) return StereoModePopupIndex(spec, 5, 6);
    if (treat >= 2 && treat <= 4) return treat - 1;
    return -1;
}

std::string CDropMP3File_LogChannelTreatMessage(CConvSpec* spec) {
    if (!spec) return std::string();
    switch (spec->GetChannelTreat()) {
        case 1:
            if (BlockHoldsStereoMode(*spec, kMPEGJointStereoText) ||
                BlockHoldsStereoMode(*spec, kMPEGSeparateStereoText))
                return StereoModeText(spec);
            return "forcing every file to interleaved stereo";
        case 2: return "splitting stereo files to separate mono files";
        case 3: return "mixing stereo files to mono files";
        case 4: return "copying only left channels of stereo files";
        default: return std::string();
    }
}

std::string CMPEG1File_LogChannelTreatMessage(CConvSpec* spec) { return StereoModeText(spec); }

std::string CMPEG2File_LogChannelTreatMessage(CConvSpec* spec) { return StereoModeText(spec); }

// ---------------------------------------------------------------------------
// Bit rates and sample rates

OSErr CDropMP3File_HandleWordLengthSettings(CConvSpec* spec, int, const std::string&, int) {
    if (!spec) return kParamErr;
    spec->GetObjCConvSpec()->setSpecificsValue(kWordSizeValidKey,
                                               plist::Value(spec->GetNeedsNewWordLength() != 0));
    return 0;
}

OSErr CMPEG1File_HandleWordLengthSettings(CConvSpec* spec, int, const std::string&, int) {
    if (!spec) return kParamErr;
    const bool haveBitRate = spec->GetNeedsNewWordLength() != 0;
    const bool stereoAt32 = IsStereoAt32(*spec);
    WriteVerdict(*spec, kWordSizeValidKey, kWordSizeValidMessageKey, haveBitRate && !stereoAt32,
                 !haveBitRate
                     ? "MPEG 1 Layer I must have a bit rate specified, so please check and select "
                       "a bit rate."
                     : "You have specified stereo output, but for MPEG 1 Layer I files, a bit "
                       "rate of 32 kbit/s is only allowed for mono output.");
    return 0;
}

OSErr CQTMP3File_HandleSampleRateSettings(CConvSpec* spec, int, const std::string&, int) {
    if (!spec) return kParamErr;
    int32_t required = 0;
    std::memcpy(&required, spec->GetFiletypeSpecifics().data() + kQTMP3RequiredRateOffset,
                sizeof required);
    const std::optional<int64_t> rate = TruncatedRate(spec->GetSampleRate());
    WriteVerdict(*spec, kSampleRateValidKey, kSampleRateInvalidMessageKey,
                 rate && *rate == required,
                 "Your MPEG Layer III Codec options require a sample rate of " +
                     IntegerText(required) + ". Please make sure you enter the correct value.");
    return 0;
}

OSErr CQTMP4File_HandleWordLengthSettings(CConvSpec* spec, int, const std::string& title,
                                          int tag) {
    if (!spec) return kParamErr;
    const std::vector<int> allowed = AACRatesForBitRate(tag);
    const std::optional<int64_t> rate = TruncatedRate(spec->GetSampleRate());
    bool valid = false;
    for (int r : allowed) valid = valid || (rate && *rate == r);
    WriteVerdict(*spec, kWordSizeValidKey, kWordSizeValidMessageKey, valid,
                 kAACCombinationIntro + std::string("You selected a bitrate of ") + title +
                     ", which allows for sample rates of " + ListText(allowed) +
                     " Hz. Please select one of these sample rates.");
    return 0;
}

OSErr CQTMP4File_HandleSampleRateSettings(CConvSpec* spec, int, const std::string& title,
                                          int tag) {
    if (!spec) return kParamErr;
    if (tag < 0) {
        WriteVerdict(*spec, kSampleRateValidKey, kSampleRateInvalidMessageKey, false,
                     kAACCombinationIntro +
                         std::string("You selected a custom sample rate, which cannot be used "
                                     "with any of the valid bitrates."));
        return 0;
    }
    const AACRateRow* row = AACRowForRate(LeadingInteger(title));
    const bool valid = !row || AACRowAccepts(*row, spec->GetWordLength());
    WriteVerdict(*spec, kSampleRateValidKey, kSampleRateInvalidMessageKey, valid,
                 row ? kAACCombinationIntro + std::string("You selected a sample rate of ") +
                           title + ", which allows for bitrates of " + row->listText +
                           " kbps. Please select one of these bitrates."
                     : std::string());
    return 0;
}

// ---------------------------------------------------------------------------
// Log lines

std::string CMPEG1File_LogWordLengthMessage(CConvSpec* spec) {
    if (!spec) return std::string();
    return LogLine("Selected bitrate: " + IntegerText(spec->GetWordLength()) +
                   " kilobits per second");
}

std::string CMPEG2File_LogWordLengthMessage(CConvSpec* spec) {
    return CMPEG1File_LogWordLengthMessage(spec);
}

std::string CQTQDesignRavesoundFile_LogWordLengthMessage(CConvSpec* spec) {
    return CMPEG1File_LogWordLengthMessage(spec);
}

std::string CQTQualcommPurevoiceFile_LogWordLengthMessage(CConvSpec* spec) {
    if (!spec) return std::string();
    const bool half = spec->GetWordLength() == 10000;
    return LogLine(std::string("Selected bitrate: Purevoice ") + (half ? "half" : "full") +
                   " rate (" + (half ? "1" : "") + "9:1 compression)");
}
