// The descriptions of a conversion: the log lines and the automatic name, word
// for word, with and without the per-type rules of the output type.
#include "conversion/descriptions.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "conversion/cconv_spec.h"
#include "soundfile/registry.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

namespace {

plist::Value Item(const std::string& text, plist::Value tag) {
    plist::Dictionary item;
    item["text"] = text;
    if (!tag.isNull()) item["tag"] = std::move(tag);
    return item;
}

plist::Dictionary Row(const std::string& text, plist::Array numBits = {},
                      plist::Array channels = {}) {
    plist::Dictionary row;
    row["text"] = text;
    if (!numBits.empty()) row["numBitsPopup"] = std::move(numBits);
    if (!channels.empty()) row["channelHandlingPopup"] = std::move(channels);
    return row;
}

plist::Array BitsPopup() {
    return {Item("8 bits", 8), Item("16 bits", 16), Item("24 bits", 24), Item("-", 0),
            Item("32 bits float", 32)};
}

plist::Array MpegChannelPopup() {
    return {Item("interleaved", 1), Item("split", 2), Item("mix to mono", 3),
            Item("left only", 4), Item("MPEG joint stereo", 7), Item("MPEG separate stereo", 8)};
}

// Stand-ins for an output type's rules, steered by the test.
int gPopupIndex = -1;
int PopupIndex(CConvSpec*) { return gPopupIndex; }
// The stereo-mode Pascal string at the start of the per-type block.
std::string StereoModeText(CConvSpec* spec) {
    const auto block = spec->GetFiletypeSpecifics();
    const size_t length = block[0] <= 20 ? block[0] : 20;
    return std::string(reinterpret_cast<const char*>(block.data() + 1), length);
}

void SetStereoMode(ConvSpec& spec, const std::string& text) {
    auto block = spec.fileTypeSpecifics();
    block[0] = static_cast<uint8_t>(text.size());
    std::copy(text.begin(), text.end(), block.data() + 1);
}

// The log of a record whose only lines are the ones a test is after: the
// factory lines are cut off from the front.
std::string LogTail(const ConvSpec& spec, const plist::Dictionary* row = nullptr,
                    const SoundFileDispatcher* dispatcher = nullptr) {
    const std::string log = DescribeConversionForLog(spec, row, dispatcher);
    const std::string head = "    Conversion name: " + spec.conversionName();
    EXPECT_EQ(log.compare(0, head.size(), head), 0) << log;
    return log.substr(head.size());
}

// The lines of a record that converts nothing, before the gain line.
const std::string kPlainHead =
    "\n    Do not convert file format"
    "\n    Do not convert the sample rate"
    "\n    Do not convert the number of bits";
const std::string kFactoryTail = kPlainHead + "\n    Do not change the gain";

TEST(ConvSpecDescriptions, FactoryRecord) {
    ConvSpec spec;
    EXPECT_EQ(DescribeConversionForLog(spec, nullptr, nullptr),
              "    Conversion name: untitled conversion" + kFactoryTail);
    EXPECT_EQ(DescribeConversionForAutoName(spec, nullptr, nullptr), "Same type");
}

TEST(ConvSpecDescriptions, EverythingOn) {
    ConvSpec spec;
    spec.setConversionName("Master to CD");
    spec.setComment("for the plant");
    spec.setNeedsStrictFileType(true);
    spec.setNeedsSampleRateConversion(true);
    spec.setSampleRate(22050.5);
    spec.setNeedsNewWordLength(true);
    spec.setWordLength(16);
    spec.setNeedsRedither(true);
    spec.setNeedsChannelTreat(true);
    spec.setChannelTreat(kChannelTreatMixToMono);
    spec.setNeedsExtraction(true);
    spec.setNeedsStrip(true);
    spec.setNeedsSnip(true);
    spec.setSnipFrom(1.5f);
    spec.setSnipTo(2.25f);
    spec.setCopyExtras(true);
    spec.setNeedsFades(true);
    spec.setFadeOutTime(30.5f);
    spec.setNeedsGain(true);
    spec.setNeedsGate(true);
    spec.setNeedsCompressor(true);
    spec.setNeedsNormalize(true);
    spec.setCeiling(-0.3);
    spec.setNeedsNameExtension(true);
    spec.setNameExtension(".aif");
    spec.setSpecificsValue("AnnotationText", "take 3");
    const plist::Dictionary row = Row("AIFF", BitsPopup());

    EXPECT_EQ(DescribeConversionForLog(spec, &row, nullptr),
              "    Conversion name: Master to CD"
              "\n    Comment: for the plant"
              "\n    Convert file format to: AIFF"
              "\n    Convert the sample rate to: 22050.5000 Hz"
              "\n    Convert number of bits to: 16 bits, using dithering"
              "\n    Change number of channels by: mixing stereo files to mono files"
              "\n    Extract regions"
              "\n    Compact audio (by region) with a 100.0 ms safety margin"
              "\n    Convert only a snippet from 1.500 to 2.250 s"
              "\n    Convert any marker-, loop-, region definitions, and time stamps"
              "\n    Supply output files with a fade in of 20.0 ms"
              "\n                        and a fade out of 30.5 ms"
              "\n    Gate silences with following settings:"
              "\n        A silence is longer than 200.0 ms"
              "\n        and lower than -30.0 dBfs"
              "\n        Attenuate silences -12.0 dB"
              "\n    Boost non-silences with Look Ahead Peak Limiter, using following settings:"
              "\n        First normalize to full scale"
              "\n\t\t Then amplify 6.0 dB"
              "\n        Then limit at -0.3 dBfs"
              "\n    Add or replace filename extension: .aif"
              "\n    BWF annotation: take 3");
    EXPECT_EQ(DescribeConversionForAutoName(spec, &row, nullptr),
              "AIFF (.aif), 22050.50 Hz, 16 bits dithered, mix to mono, extract, "
              "strip (margin 100.0 ms), snippet from 1.500 to 2.250 s, copy extras, "
              "fade in 20.0 ms, out 30.5 ms, att -12.0 dB when below -30.0 dBfs for over "
              "200.0 ms, boost rest, normalize, amp 6.0 dB, limit @ -0.3 dBfs");

    spec.setNeedsRedither(false);
    spec.setSampleRate(8000.123456);
    const std::string log = DescribeConversionForLog(spec, &row, nullptr);
    EXPECT_NE(log.find("\n    Convert the sample rate to: 8000.1235 Hz\n"), std::string::npos);
    EXPECT_NE(log.find("\n    Convert number of bits to: 16 bits, without dithering\n"),
              std::string::npos);
    EXPECT_EQ(DescribeConversionForAutoName(spec, &row, nullptr)
                  .compare(0, 40, "AIFF (.aif), 8000.12 Hz, 16 bits, mix to"),
              0);
}

TEST(ConvSpecDescriptions, GainVariants) {
    struct Case {
        bool gain, gate, compressor, normalize;
        const char* log;
        const char* autoName;
    };
    const char* const kGate =
        "\n    Gate silences with following settings:"
        "\n        A silence is longer than 250.0 ms"
        "\n        and lower than -40.5 dBfs"
        "\n        Attenuate silences -6.0 dB";
    const std::string gateLog = kGate;
    const std::string gateLimit = gateLog +
        "\n    Boost non-silences with Look Ahead Peak Limiter, using following settings:"
        "\n\t\t      Amplify 3.5 dB"
        "\n        Then limit at -1.0 dBfs";
    const std::string gateNormalize = gateLog + "\n    Boost non-silences by normalizing to: -1.0 dB";
    const Case cases[] = {
        // Gain switched off: whatever else is on, the gain is left alone.
        {false, true, true, true, "\n    Do not change the gain", "Same type"},
        // Gain on with nothing to do writes no gain line at all.
        {true, false, false, false, "", "Same type"},
        {true, false, true, false,
         "\n    Boost with Look Ahead Peak Limiter, using following settings:"
         "\n\t\t      Amplify 3.5 dB"
         "\n        Then limit at -1.0 dBfs",
         "Same type, boost, amp 3.5 dB, limit @ -1.0 dBfs"},
        {true, false, false, true, "\n    Boost by normalizing to: -1.0 dB",
         "Same type, boost by normalizing to -1.0 dBfs"},
        {true, true, false, false, kGate,
         "Same type, att -6.0 dB when below -40.5 dBfs for over 250.0 ms"},
        {true, true, true, false, gateLimit.c_str(),
         "Same type, att -6.0 dB when below -40.5 dBfs for over 250.0 ms, boost rest, amp 3.5 dB, "
         "limit @ -1.0 dBfs"},
        {true, true, false, true, gateNormalize.c_str(),
         "Same type, att -6.0 dB when below -40.5 dBfs for over 250.0 ms, boost rest by "
         "normalizing to -1.0 dBfs"},
    };
    for (const Case& c : cases) {
        ConvSpec spec;
        spec.setNeedsGain(c.gain);
        spec.setNeedsGate(c.gate);
        spec.setNeedsCompressor(c.compressor);
        spec.setNeedsNormalize(c.normalize);
        spec.setGateGapLength(0.25);
        spec.setGateThreshold(-40.5);
        spec.setGateAttenuation(-6.0);
        spec.setCompressionBoost(3.5);
        spec.setCeiling(-1.0);
        SCOPED_TRACE(testing::Message() << c.gain << c.gate << c.compressor << c.normalize);
        EXPECT_EQ(LogTail(spec), kPlainHead + c.log);
        EXPECT_EQ(DescribeConversionForAutoName(spec, nullptr, nullptr), c.autoName);
    }
}

TEST(ConvSpecDescriptions, ChannelTreatmentsWithoutRules) {
    const char* const logTexts[] = {
        "",
        "forcing every file to interleaved stereo",
        "splitting stereo files to separate mono files",
        "mixing stereo files to mono files",
        "copying only left channels of stereo files",
        "copying only right channels of stereo files",
        "interleaving only split stereo pairs",
        "making MPEG joint stereo",
        "making MPEG separate stereo",
        "",
    };
    const char* const autoTexts[] = {
        "",
        ", interleaved",
        ", split",
        ", mix to mono",
        ", copy left only",
        ", copy right only",
        ", only stereo to interleaved",
        ", MPEG joint stereo",
        ", MPEG separate stereo",
        "",
    };
    for (int treat = 0; treat <= 9; ++treat) {
        ConvSpec spec;
        spec.setNeedsChannelTreat(true);
        spec.setChannelTreat(treat);
        SCOPED_TRACE(treat);
        EXPECT_EQ(LogTail(spec), kPlainHead + "\n    Change number of channels by: " +
                                     logTexts[treat] + "\n    Do not change the gain");
        EXPECT_EQ(DescribeConversionForAutoName(spec, nullptr, nullptr),
                  std::string("Same type") + autoTexts[treat]);
    }
    // Channel handling off: no line, whatever the treatment.
    ConvSpec off;
    off.setChannelTreat(kChannelTreatInterleave);
    EXPECT_EQ(LogTail(off), kFactoryTail);
}

// An MPEG-1 output writes the stereo mode of its per-type block as the
// channel line, whatever channelTreat holds; the automatic name shows the
// popup item that the channel popup-index rule names.
TEST(ConvSpecDescriptions, ChannelRulesOfTheOutputType) {
    SoundFileDispatcher mpeg;
    mpeg.setChannelHandlingPopupIndexFunc(PopupIndex);
    mpeg.setLogChannelSettingsFunc(StereoModeText);
    const plist::Dictionary row = Row("MPEG-1 Layer I", {}, MpegChannelPopup());

    ConvSpec spec;
    spec.setNeedsChannelTreat(true);
    spec.setChannelTreat(kChannelTreatMixToMono);
    SetStereoMode(spec, "MPEG joint stereo   ");
    gPopupIndex = 4;
    const std::string channelLine = "\n    Change number of channels by: ";
    EXPECT_EQ(LogTail(spec, &row, &mpeg),
              kPlainHead + channelLine + "MPEG joint stereo   \n    Do not change the gain");
    EXPECT_EQ(DescribeConversionForAutoName(spec, &row, &mpeg), "Same type, MPEG joint stereo");
    EXPECT_EQ(DescribeChannelHandling(spec, &row, &mpeg), "MPEG joint stereo");

    // An empty block leaves the line with nothing after it.
    SetStereoMode(spec, "");
    EXPECT_NE(LogTail(spec, &row, &mpeg).find(channelLine + "\n    Do not change the gain"),
              std::string::npos);

    // An index naming no item falls back to the item tagged with channelTreat;
    // with no such item the text is empty.
    for (int index : {-1, 6, 1000}) {
        gPopupIndex = index;
        EXPECT_EQ(DescribeChannelHandling(spec, &row, &mpeg), "mix to mono") << index;
    }
    spec.setChannelTreat(kChannelTreatRightOnly);
    EXPECT_EQ(DescribeChannelHandling(spec, &row, &mpeg), "");
    EXPECT_EQ(DescribeConversionForAutoName(spec, &row, &mpeg), "Same type, ");

    // A type with a popup-index rule but no log text (Broadcast Wave MPEG)
    // writes the treatment's own line.
    SoundFileDispatcher indexOnly;
    indexOnly.setChannelHandlingPopupIndexFunc(PopupIndex);
    spec.setChannelTreat(kChannelTreatInterleave);
    EXPECT_NE(LogTail(spec, &row, &indexOnly)
                  .find(channelLine + "forcing every file to interleaved stereo\n"),
              std::string::npos);
    gPopupIndex = 5;
    EXPECT_EQ(DescribeConversionForAutoName(spec, &row, &indexOnly),
              "Same type, MPEG separate stereo");
    gPopupIndex = -1;
}

TEST(ConvSpecDescriptions, WordLengthText) {
    const plist::Dictionary row = Row("Sonic", BitsPopup());
    ConvSpec spec;
    spec.setWordLength(24);
    EXPECT_EQ(DescribeWordLength(spec, &row, nullptr), "24 bits");
    // No item with that tag, or no popup at all: the number itself.
    spec.setWordLength(20);
    EXPECT_EQ(DescribeWordLength(spec, &row, nullptr), "20 bits");
    EXPECT_EQ(DescribeWordLength(spec, nullptr, nullptr), "20 bits");
    // A separator is never the word length's item.
    spec.setWordLength(0);
    EXPECT_EQ(DescribeWordLength(spec, &row, nullptr), "0 bits");

    // Tags written as texts count by their number.
    const plist::Dictionary textTags = Row("x", {Item("16 bits", "16"), Item("96 kbit/s", " 96")});
    spec.setWordLength(96);
    EXPECT_EQ(DescribeWordLength(spec, &textTags, nullptr), "96 kbit/s");

    // With a popup-index rule the item it names wins over the tag; an index
    // that names no item falls back to the tag.
    SoundFileDispatcher sonic;
    sonic.setWordLengthPopupIndexFunc(PopupIndex);
    spec.setWordLength(16);
    gPopupIndex = 2;
    EXPECT_EQ(DescribeWordLength(spec, &row, &sonic), "24 bits");
    for (int index : {-1, 5, 99}) {
        gPopupIndex = index;
        EXPECT_EQ(DescribeWordLength(spec, &row, &sonic), "16 bits") << index;
    }
    gPopupIndex = -1;

    spec.setNeedsNewWordLength(true);
    spec.setWordLength(12);
    EXPECT_NE(LogTail(spec, &row, nullptr)
                  .find("\n    Convert number of bits to: 12 bits, without dithering\n"),
              std::string::npos);
    EXPECT_EQ(DescribeConversionForAutoName(spec, &row, nullptr), "Same type, 12 bits");
}

TEST(ConvSpecDescriptions, TypeTextAndExtension) {
    ConvSpec spec;
    spec.setNeedsStrictFileType(true);
    spec.setOutputFileType(FourCC("WAVE"));
    const plist::Dictionary row = Row("WAVE/RIFF");
    // The row is used whatever the strict flag says; the dialog cleans the "/".
    EXPECT_EQ(DescribeConversionForAutoName(spec, &row, nullptr), "WAVE/RIFF");
    // Without a row the type code stands in for the display name.
    EXPECT_NE(LogTail(spec).find("\n    Convert file format to: 'WAVE'\n"), std::string::npos);

    // An extension typed with two dots keeps one in the record; the log drops it.
    spec.setNeedsNameExtension(true);
    spec.setNameExtension("..wv");
    EXPECT_NE(LogTail(spec, &row).find("\n    Add or replace filename extension: .wv"),
              std::string::npos);
    EXPECT_EQ(DescribeConversionForAutoName(spec, &row, nullptr), "WAVE/RIFF (..wv)");

    // Without a strict type the automatic name leaves the extension out.
    spec.setNeedsStrictFileType(false);
    EXPECT_EQ(DescribeConversionForAutoName(spec, &row, nullptr), "Same type");
}

TEST(ConvSpecDescriptions, NumbersIgnoreTheUsersLocale) {
    // A locale with a decimal comma: an installed one, else one compiled for
    // this test.
    testsupport::TempDir dir;
    bool ownLocale = false;
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
        if (std::setlocale(LC_ALL, name)) {
            chosen = name;
            break;
        }
    }
    if (!chosen && testsupport::HaveProgram("localedef")) {
        const std::string command =
            "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8") + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0) {
            ::setenv("LOCPATH", dir.path().c_str(), 1);
            ownLocale = true;
            if (std::setlocale(LC_ALL, "de_DE.UTF-8")) chosen = "de_DE.UTF-8";
        }
    }
    std::string printed, autoName;
    if (chosen) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.1f", 100.0);
        printed = buf;
        ConvSpec spec;
        spec.setNeedsSampleRateConversion(true);
        spec.setSampleRate(44100.0);
        spec.setNeedsStrip(true);
        autoName = DescribeConversionForAutoName(spec, nullptr, nullptr);
    }
    std::setlocale(LC_ALL, "C");
    if (ownLocale) ::unsetenv("LOCPATH");
    if (!chosen) GTEST_SKIP() << "no locale with a decimal comma";
    ASSERT_EQ(printed, "100,0") << chosen;  // the locale does write commas
    EXPECT_EQ(autoName, "Same type, 44100.00 Hz, strip (margin 100.0 ms)") << chosen;
}

// The record's members find the row in the file-type table and the rules in
// the registry.
class ConvSpecDescriptionMembers : public ::testing::Test {
protected:
    void SetUp() override { CSoundFile::Cleanup(); }
    void TearDown() override { CSoundFile::Cleanup(); }
};

TEST_F(ConvSpecDescriptionMembers, UseTheTypeTableAndTheRegistry) {
    plist::Dictionary& table = CSoundFile::GetFileTypeInfo();
    const plist::Dictionary* row = FileTypeRow(table, FourCC("MPG1"));
    ASSERT_NE(row, nullptr);
    auto dispatcher = std::make_shared<SoundFileDispatcher>();
    dispatcher->setLogChannelSettingsFunc(StereoModeText);
    dispatcher->setWordLengthPopupIndexFunc(PopupIndex);
    ASSERT_TRUE(AttachSoundFileDispatcher(table, FourCC("MPG1"), dispatcher));

    ConvSpec spec;
    spec.setOutputFileType(FourCC("MPG1"));
    spec.setNeedsStrictFileType(true);
    spec.setNeedsChannelTreat(true);
    spec.setChannelTreat(kChannelTreatInterleave);
    SetStereoMode(spec, "MPEG separate stereo");
    spec.setWordLength(12345);
    gPopupIndex = -1;

    const std::string text = row->at("text").asString();
    EXPECT_EQ(spec.descriptionForLog(), DescribeConversionForLog(spec, row, dispatcher.get()));
    EXPECT_NE(spec.descriptionForLog().find("\n    Convert file format to: " + text +
                                            "\n    Do not convert the sample rate"),
              std::string::npos);
    EXPECT_NE(spec.descriptionForLog().find(
                  "\n    Change number of channels by: MPEG separate stereo\n"),
              std::string::npos);
    EXPECT_EQ(spec.descriptionForAutoName(), text + ", interleaved");
    EXPECT_EQ(spec.descriptionForWordLength(), "12345 bits");
    spec.setChannelTreat(9999);
    EXPECT_EQ(spec.descriptionForChannelHandling(), "");

    // A type without a row or rules still describes itself.
    spec.setOutputFileType(FourCC("zzzz"));
    EXPECT_EQ(spec.descriptionForAutoName(), "'zzzz'");
}

}  // namespace
