// The per-output-type rules, family by family, as tables of settings and the
// verdict, variant or text each gives.
#include "conversion/type_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>

#include "conversion/cconv_spec.h"
#include "formats/register_sound_files.h"
#include "soundfile/registry.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

namespace {

using Handler = OSErr (*)(CConvSpec*, int, const std::string&, int);

// A record with its factory values and a facade around it, as the dialog makes.
struct Edited {
    std::shared_ptr<ConvSpec> record = std::make_shared<ConvSpec>();
    CConvSpec facade{record};

    CConvSpec* spec() { return &facade; }
    plist::Value value(const char* key) const { return record->specificsValue(key); }
    bool flag(const char* key) const { return value(key).asBool(); }
    std::string text(const char* key) const { return value(key).asString(); }
    ConvSpec::SpecificsBlock<uint8_t> block() { return record->fileTypeSpecifics(); }
    std::string stereoMode() { return std::string(reinterpret_cast<char*>(block().data()), 21); }
};

std::string PascalMode(const char* text) { return std::string("\x14") + text; }

// ---------------------------------------------------------------------------
// Mono requirement

TEST(TypeRules, MonoTypesWantChannelHandlingCCITTAlsoAMonoTreatment) {
    struct Case {
        Handler handler;
        bool channelHandling;
        int treat;
        bool valid;
        const char* message;  // expected when not valid
    };
    const char* ccitt =
        "CCITT files must be mono, so please choose a 'Channel handling' setting that yields "
        "mono output.";
    const char* dawn =
        "Dawn AIFF files must be mono, so please select a channel handling that yields mono "
        "output.";
    const Case cases[] = {
        {&CCITTFile_HandleChannelSettings, true, 1, false, ccitt},
        {&CCITTFile_HandleChannelSettings, true, 2, true, ""},
        {&CCITTFile_HandleChannelSettings, true, 5, true, ""},
        {&CCITTFile_HandleChannelSettings, true, 6, false, ccitt},
        {&CCITTFile_HandleChannelSettings, false, 3, false, ccitt},
        {&CDawnAIFFFile_HandleChannelSettings, true, 1, true, ""},
        {&CDawnAIFFFile_HandleChannelSettings, false, 3, false, dawn},
        {&CDialogicADPCMFile_HandleChannelSettings, false, 3, false,
         "Dialogic ADPCM files must be mono, so please select a channel handling that yields "
         "mono output."},
        {&CDialogicALawFile_HandleChannelSettings, false, 3, false,
         "Dialogic a-law files must be mono, so please select a channel handling that yields "
         "mono output."},
        {&CDialogicULawFile_HandleChannelSettings, false, 3, false,
         "Dialogic \xC2\xB5-law files must be mono, so please select a channel handling that "
         "yields mono output."},
        {&CDialogicVAPFile_HandleChannelSettings, false, 3, false,
         "Annotated Voice (.vap) files must be mono, so please select a channel handling that "
         "yields mono output."},
        {&CDialogicVAPFile_HandleChannelSettings, true, 6, true, ""},
    };
    for (const Case& c : cases) {
        Edited e;
        e.record->setNeedsChannelTreat(c.channelHandling);
        e.record->setChannelTreat(c.treat);
        EXPECT_EQ(c.handler(e.spec(), 0, "", c.treat), 0);
        ASSERT_TRUE(e.value(kChannelHandlingValidKey).isNumber());
        EXPECT_EQ(e.flag(kChannelHandlingValidKey), c.valid) << c.message << " " << c.treat;
        EXPECT_EQ(e.text(kChannelHandlingInvalidMessageKey), c.message);
    }
}

// ---------------------------------------------------------------------------
// Name extensions of the headerless telephony files

TEST(TypeRules, TelephonyRulesNameTheirOutputsByRateOrWordSize) {
    struct Case {
        Handler handler;
        int index;
        int tag;
        OSErr result;
        const char* extension;  // "" = unchanged
    };
    const Case cases[] = {
        {&CDialogicADPCMFile_HandleSampleRateSettings, 18, 18, 0, "ap6"},
        {&CDialogicADPCMFile_HandleSampleRateSettings, 17, 17, 0, "ap8"},
        {&CDialogicADPCMFile_HandleSampleRateSettings, 16, 16, kParamErr, ""},
        {&CDialogicADPCMFile_HandleSampleRateSettings, 0, -1, kParamErr, ""},
        {&CDialogicALawFile_HandleSampleRateSettings, 18, 18, 0, "al6"},
        {&CDialogicALawFile_HandleSampleRateSettings, 17, 17, 0, "al8"},
        {&CDialogicULawFile_HandleSampleRateSettings, 18, 18, 0, "ul6"},
        {&CDialogicULawFile_HandleSampleRateSettings, 17, 17, 0, "ul8"},
        {&CPikaADPCMFile_HandleSampleRateSettings, 18, 18, 0, "pi6"},
        {&CPikaADPCMFile_HandleSampleRateSettings, 17, 17, 0, "pi8"},
        {&CPikaADPCMFile_HandleSampleRateSettings, 4, 4, kParamErr, ""},
        {&CDialogicPCMFile_HandleWordLengthSettings, 0, 8, 0, "pc8"},
        {&CDialogicPCMFile_HandleWordLengthSettings, 1, 16, 0, "p16"},
        {&CDialogicPCMFile_HandleWordLengthSettings, 3, 32, 0, "p16"},
        {&CDialogicPCMFile_HandleWordLengthSettings, 4, 16, kParamErr, ""},
        {&CDialogicPCMFile_HandleWordLengthSettings, -1, 8, kParamErr, ""},
    };
    for (const Case& c : cases) {
        Edited e;
        e.record->setNameExtension("old");
        EXPECT_EQ(c.handler(e.spec(), c.index, "", c.tag), c.result) << c.extension;
        EXPECT_EQ(e.record->nameExtension(), *c.extension ? c.extension : "old");
        EXPECT_FALSE(e.record->needsNameExtension());
    }
}

// ---------------------------------------------------------------------------
// MPEG stereo mode

TEST(TypeRules, StereoModeItemsWriteTheBlockAndTheIndexReadsItBack) {
    struct Family {
        Handler handler;
        int (*index)(CConvSpec*);
        int joint;
        int separate;
    };
    const Family families[] = {
        {&CMPEG2File_HandleChannelSettings, &CMPEG2File_ChannelHandlingPopupIndex, 4, 5},
        {&CBWFMPEGFile_HandleChannelSettings, &CBWFMPEGFile_ChannelHandlingPopupIndex, 4, 5},
        {&CMPEG1File_HandleChannelSettings, &CMPEG1File_ChannelHandlingPopupIndex, 5, 6},
    };
    for (const Family& f : families) {
        Edited e;
        e.record->setChannelTreat(1);
        EXPECT_EQ(f.index(e.spec()), 0);  // nothing stored yet
        EXPECT_EQ(f.handler(e.spec(), f.joint, "", 1), 0);
        EXPECT_EQ(e.stereoMode(), PascalMode(kMPEGJointStereoText));
        EXPECT_EQ(f.index(e.spec()), f.joint);
        EXPECT_EQ(f.handler(e.spec(), f.separate, "", 1), 0);
        EXPECT_EQ(e.stereoMode(), PascalMode(kMPEGSeparateStereoText));
        EXPECT_EQ(f.index(e.spec()), f.separate);
        EXPECT_EQ(f.handler(e.spec(), 2, "", 2), 0);  // other items keep the mode
        EXPECT_EQ(e.stereoMode(), PascalMode(kMPEGSeparateStereoText));
        e.record->setChannelTreat(3);
        EXPECT_EQ(f.index(e.spec()), 3);
        // The comparison is case-sensitive.
        e.record->setChannelTreat(1);
        e.block()[1] = 'm';
        EXPECT_EQ(f.index(e.spec()), 0);
    }
}

TEST(TypeRules, MPEGChannelLineIsTheStoredStereoMode) {
    Edited e;
    EXPECT_EQ(CMPEG1File_LogChannelTreatMessage(e.spec()), "");
    CMPEG2File_HandleChannelSettings(e.spec(), 4, "", 1);
    EXPECT_EQ(CMPEG2File_LogChannelTreatMessage(e.spec()), kMPEGJointStereoText);
    EXPECT_EQ(CMPEG1File_LogChannelTreatMessage(e.spec()), kMPEGJointStereoText);
    // A length byte of 255 reads to the end of the block and no further.
    std::memset(e.block().data(), 'x', kFileTypeSpecificsSize);
    e.block()[0] = 255;
    EXPECT_EQ(CMPEG1File_LogChannelTreatMessage(e.spec()).size(), 255u);
}

TEST(TypeRules, Mp3StereoModesGoByTagAndKeepTheOutputStereo) {
    struct Case {
        int tag;
        const char* mode;  // null: block untouched
        int treatAfter;
    };
    const Case cases[] = {
        {5, kMPEGJointStereoText, 1},
        {6, kMPEGSeparateStereoText, 1},
        {4, nullptr, 4},
        {3, nullptr, 3},
    };
    for (const Case& c : cases) {
        Edited e;
        e.record->setChannelTreat(c.tag);  // as the dialog stores the item's tag
        EXPECT_EQ(CDropMP3File_HandleChannelSettings(e.spec(), 6, "", c.tag), 0);
        EXPECT_EQ(e.stereoMode(), c.mode ? PascalMode(c.mode) : std::string(21, '\0'));
        EXPECT_EQ(e.record->channelTreat(), c.treatAfter) << c.tag;
    }
}

// The mp3 popup: 0 stereo, 1 split, 2 mix, 3 left, 4 separator, 5 joint, 6 separate.
TEST(TypeRules, Mp3StereoModeShowsAgainAndReachesTheLog) {
    struct Case {
        int tag;
        int index;
        const char* log;
    };
    const Case cases[] = {
        {5, 5, "MPEG joint stereo   "},
        {6, 6, "MPEG separate stereo"},
        {1, 0, "forcing every file to interleaved stereo"},
        {2, 1, "splitting stereo files to separate mono files"},
        {4, 3, "copying only left channels of stereo files"},
    };
    for (const Case& c : cases) {
        Edited e;
        e.record->setChannelTreat(c.tag);
        ASSERT_EQ(CDropMP3File_HandleChannelSettings(e.spec(), c.index, "", c.tag), 0);
        EXPECT_EQ(CDropMP3File_ChannelHandlingPopupIndex(e.spec()), c.index) << c.tag;
        EXPECT_EQ(CDropMP3File_LogChannelTreatMessage(e.spec()), c.log) << c.tag;
    }
}

// ---------------------------------------------------------------------------
// Bit-rate and sample-rate validators

TEST(TypeRules, MPEG1Layer1Allows32KbitOnlyForMono) {
    struct Case {
        bool haveBitRate;
        int bitRate;
        int treat;
        bool wordValid;
        bool channelValid;
        const char* wordMessage;
    };
    const char* noRate =
        "MPEG 1 Layer I must have a bit rate specified, so please check and select a bit rate.";
    const char* stereo32 =
        "You have specified stereo output, but for MPEG 1 Layer I files, a bit rate of 32 "
        "kbit/s is only allowed for mono output.";
    const Case cases[] = {
        {true, 32, 1, false, false, stereo32},
        {true, 32, 3, true, true, ""},
        {true, 64, 1, true, true, ""},
        {false, 64, 1, false, true, noRate},
        {false, 32, 1, false, false, noRate},
    };
    for (const Case& c : cases) {
        Edited e;
        e.record->setNeedsNewWordLength(c.haveBitRate);
        e.record->setWordLength(c.bitRate);
        e.record->setChannelTreat(c.treat);
        EXPECT_EQ(CMPEG1File_HandleWordLengthSettings(e.spec(), 0, "", c.bitRate), 0);
        EXPECT_EQ(CMPEG1File_HandleChannelSettings(e.spec(), 0, "", c.treat), 0);
        EXPECT_EQ(e.flag(kWordSizeValidKey), c.wordValid);
        EXPECT_EQ(e.text(kWordSizeValidMessageKey), c.wordMessage);
        EXPECT_EQ(e.flag(kChannelHandlingValidKey), c.channelValid);
        if (!c.channelValid) {
            EXPECT_EQ(e.text(kChannelHandlingInvalidMessageKey),
                      "You have specified a bit rate of 32 kbit/s together with a stereo output, "
                      "but for MPEG 1 Layer I files that bit rate is only allowed for mono "
                      "output.");
        }
    }
}

TEST(TypeRules, Mp3EncoderNeedsABitRate) {
    Edited e;
    CDropMP3File_HandleWordLengthSettings(e.spec(), 0, "", 128);
    EXPECT_FALSE(e.flag(kWordSizeValidKey));
    e.record->setNeedsNewWordLength(true);
    CDropMP3File_HandleWordLengthSettings(e.spec(), 0, "", 128);
    EXPECT_TRUE(e.flag(kWordSizeValidKey));
}

TEST(TypeRules, PlatformMp3RateMustMatchTheCodecOptions) {
    struct Case {
        int32_t required;
        double rate;
        bool valid;
    };
    const Case cases[] = {
        {48000, 48000.0, true},
        {48000, 48000.9, true},  // truncated
        {48000, 44100.0, false},
        {0, 0.0, true},
        {0, std::numeric_limits<double>::quiet_NaN(), false},
        {0, 1e300, false},
    };
    for (const Case& c : cases) {
        Edited e;
        std::memcpy(e.block().data() + kQTMP3RequiredRateOffset, &c.required, sizeof c.required);
        e.record->setSampleRate(c.rate);
        EXPECT_EQ(CQTMP3File_HandleSampleRateSettings(e.spec(), 0, "", 6), 0);
        EXPECT_EQ(e.flag(kSampleRateValidKey), c.valid) << c.rate;
        if (!c.valid) {
            EXPECT_EQ(e.text(kSampleRateInvalidMessageKey),
                      "Your MPEG Layer III Codec options require a sample rate of " +
                          std::to_string(c.required) +
                          ". Please make sure you enter the correct value.");
        }
    }
}

TEST(TypeRules, AACBitRateSideChecksTheRateAgainstItsList) {
    struct Case {
        int bitRate;
        double rate;
        bool valid;
        const char* list;
    };
    const Case cases[] = {
        {40, 44100, true, ""},
        {32, 44100, false, "16000, 22050, 24000 or 32000"},
        {8, 11025.9, true, ""},
        {8, 12000, false, "8000 or 11025"},
        {48, 48000, false, "22050, 24000, 32000 or 44100"},
        {320, 48000, true, ""},
        {320, 32000, false, "44100 or 48000"},
    };
    for (const Case& c : cases) {
        Edited e;
        e.record->setSampleRate(c.rate);
        const std::string title = std::to_string(c.bitRate) + " kbit/s";
        EXPECT_EQ(CQTMP4File_HandleWordLengthSettings(e.spec(), 3, title, c.bitRate), 0);
        EXPECT_EQ(e.flag(kWordSizeValidKey), c.valid) << c.bitRate << " at " << c.rate;
        if (!c.valid) {
            EXPECT_EQ(e.text(kWordSizeValidMessageKey),
                      "MP4 AAC files can only have certain combinations of bit- and sample rates. "
                      "You selected a bitrate of " +
                          title + ", which allows for sample rates of " + c.list +
                          " Hz. Please select one of these sample rates.");
        }
    }
}

TEST(TypeRules, AACSampleRateSideChecksTheBitRateAgainstItsTable) {
    struct Case {
        const char* title;
        int tag;
        int bitRate;
        bool valid;
        const char* list;  // null: the custom-rate message
    };
    const Case cases[] = {
        {"48000", 4, 48, true, ""},  // accepted here, refused by the bit-rate side
        {"44100", 6, 32, true, ""},
        {"44100", 6, 320, false, "40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224 or 256"},
        {"8000", 17, 20, false, "8 or 16"},
        {"22554.545454545456", 11, 999, true, ""},  // a rate without a row takes any
        {"12345", -1, 128, false, nullptr},
    };
    for (const Case& c : cases) {
        Edited e;
        e.record->setWordLength(c.bitRate);
        EXPECT_EQ(CQTMP4File_HandleSampleRateSettings(e.spec(), 0, c.title, c.tag), 0);
        EXPECT_EQ(e.flag(kSampleRateValidKey), c.valid) << c.title;
        const std::string intro =
            "MP4 AAC files can only have certain combinations of bit- and sample rates. ";
        if (!c.valid && c.list) {
            EXPECT_EQ(e.text(kSampleRateInvalidMessageKey),
                      intro + "You selected a sample rate of " + c.title +
                          ", which allows for bitrates of " + c.list +
                          " kbps. Please select one of these bitrates.");
        }
        if (!c.list) {
            EXPECT_EQ(e.text(kSampleRateInvalidMessageKey),
                      intro + "You selected a custom sample rate, which cannot be used with any "
                              "of the valid bitrates.");
        }
    }
}

TEST(TypeRules, CreativeVoiceRatesAreOneMillionOverAWholeNumber) {
    const std::string formula =
        "The sample rate of a VOC file must conform to the formula:\nsample rate = 1 million / "
        "(whole number between 50 and 255).\nThe allowed sample rate which is closest to your "
        "choice is: ";
    const std::string noConversion =
        "VOC files can only have certain valid sample rates.\nPlease check to convert the sample "
        "rate to one one the valid possibilities.";
    struct Case {
        double rate;
        bool converting;
        bool valid;
        const char* suggestion;  // "" with a valid rate or without conversion
        double rateAfter;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {8000, true, true, "", 8000},
        {10000, true, true, "", 10000},
        {1000000.0 / 255, true, true, "", 1000000.0 / 255},
        {20000, true, true, "", 20000},
        {22050, true, false, "20000.00", 22050},  // closest is 1,000,000 / 45
        {11025, true, false, "10989.01", 11025},
        {3000, true, false, "3921.00", 3000},
        {8000, false, false, "", 8000},
        // Records decoded without a rate hold 0: refused, and nothing divides by it.
        {0, true, false, "3921.00", 0},
        {-5, true, false, "3921.00", 1.0},
        {2e6, true, false, "20000.00", 1000000.0},
    };
    for (const Case& c : cases) {
        Edited e;
        e.record->setSampleRate(c.rate);
        e.record->setNeedsSampleRateConversion(c.converting);
        EXPECT_EQ(CVOCFile_HandleSampleRateSettings(e.spec(), 0, "", 0), 0);
        EXPECT_EQ(e.flag(kSampleRateValidKey), c.valid) << c.rate;
        EXPECT_EQ(e.record->sampleRate(), c.rateAfter);
        if (!c.converting) {
            EXPECT_EQ(e.text(kSampleRateInvalidMessageKey), noConversion);
        } else if (!c.valid) {
            EXPECT_EQ(e.text(kSampleRateInvalidMessageKey), formula + c.suggestion + " Hz.");
        }
    }
    Edited e;
    e.record->setSampleRate(nan);
    e.record->setNeedsSampleRateConversion(true);
    CVOCFile_HandleSampleRateSettings(e.spec(), 0, "", 0);
    EXPECT_FALSE(e.flag(kSampleRateValidKey));
}

// ---------------------------------------------------------------------------
// Byte writers and their popup indexes

TEST(TypeRules, ParisByteOrderFollowsTheItemAndShowsAgain) {
    const std::map<int, uint8_t> written = {{0, 'B'}, {1, 'B'}, {2, 'B'}, {3, 'L'}, {4, 'L'},
                                            {5, 'x'}, {-1, 'x'}};
    for (const auto& [index, byte] : written) {
        Edited e;
        e.block()[0] = 'x';
        EXPECT_EQ(CParisLinearFile_HandleWordLengthSettings(e.spec(), index, "", 16), 0);
        EXPECT_EQ(e.block()[0], byte) << index;
    }
    struct Shown {
        uint8_t order;
        int bits;
        int index;
    };
    for (const Shown& s : {Shown{'B', 16, 1}, Shown{'B', 24, 2}, Shown{'L', 16, 3},
                           Shown{'L', 24, 4}, Shown{'B', 8, 0}, Shown{0, 16, 0}}) {
        Edited e;
        e.block()[0] = s.order;
        e.record->setWordLength(s.bits);
        EXPECT_EQ(CParisLinearFile_WordLengthPopupIndex(e.spec()), s.index);
    }
}

TEST(TypeRules, SonicPackingFollowsTheItemAndShowsAgain) {
    const std::map<int, uint8_t> written = {{0, 0}, {1, 2}, {2, 3}, {3, 10}, {4, 11}, {5, 0}};
    for (const auto& [index, code] : written) {
        Edited e;
        EXPECT_EQ(CSonicAIFFFile_HandleWordLengthSettings(e.spec(), index, "", 24), 0);
        EXPECT_EQ(e.block()[0], code) << index;
    }
    struct Shown {
        uint8_t code;
        int bits;
        int index;
        const char* log;
    };
    const Shown shown[] = {
        {11, 16, 0, "16 bits USP/HDSP"},
        {2, 24, 1, "24 bits 'unpacked' SSP/USP style"},
        {3, 24, 2, "24 bits 'packed' USP style"},
        {10, 24, 3, "24 bits HDSP 1.4 style (= Little Endian)"},
        {11, 24, 4, "24 bits HDSP 1.5 style (= Big Endian)"},
        {7, 24, 0, "invalid"},
    };
    for (const Shown& s : shown) {
        Edited e;
        e.block()[0] = s.code;
        e.record->setWordLength(s.bits);
        EXPECT_EQ(CSonicAIFFFile_WordLengthPopupIndex(e.spec()), s.index);
        EXPECT_EQ(CSonicAIFFFile_LogWordLengthMessage(e.spec()),
                  std::string("\n    Word size: ") + s.log);
    }
}

TEST(TypeRules, IntegerFloatVariantFollowsTheItemAndShowsAgain) {
    for (int index = 2; index <= 9; ++index) {
        Edited e;
        CQTIntFloatFile_HandleWordLengthSettings(e.spec(), index, "", 32);
        EXPECT_EQ(e.block()[0], index % 2 ? 'L' : 'B') << index;
        EXPECT_EQ(e.block()[1], index < 6 ? 'I' : 'F') << index;
    }
    Edited untouched;
    CQTIntFloatFile_HandleWordLengthSettings(untouched.spec(), 1, "", 16);
    EXPECT_EQ(untouched.block()[0], 0);

    struct Shown {
        int bits;
        const char* bytes;
        int index;
        const char* log;
    };
    const Shown shown[] = {
        {8, "BI", 0, "8 bits integer"},
        {16, "LF", 1, "16 bits integer"},
        {24, "BI", 2, "24 bits integer big endian"},
        {24, "LI", 3, "24 bits integer little endian"},
        {32, "BI", 4, "32 bits integer big endian"},
        {32, "LF", 7, "32 bits floating point little endian"},
        {64, "BF", 8, "64 bits floating point big endian"},
        {64, "LF", 9, "64 bits floating point little endian"},
        {12, "BI", 1, "invalid amount"},
    };
    for (const Shown& s : shown) {
        Edited e;
        std::memcpy(e.block().data(), s.bytes, 2);
        e.record->setWordLength(s.bits);
        EXPECT_EQ(CQTIntFloatFile_WordLengthPopupIndex(e.spec()), s.index) << s.log;
        EXPECT_EQ(CQTIntFloatFile_LogWordLengthMessage(e.spec()),
                  std::string("\n    Convert number of bits to: ") + s.log);
    }
}

// ---------------------------------------------------------------------------
// Word-length lines of the log that depend on the record (the fixed ones
// restate their text)

TEST(TypeRules, WordLengthLinesOfTheLog) {
    using Text = std::string (*)(CConvSpec*);
    struct Case {
        Text function;
        int wordLength;
        const char* line;
    };
    const Case cases[] = {
        {&CMPEG2File_LogWordLengthMessage, 192, "Selected bitrate: 192 kilobits per second"},
        {&CQTQDesignRavesoundFile_LogWordLengthMessage, 24,
         "Selected bitrate: 24 kilobits per second"},
        {&CQTQualcommPurevoiceFile_LogWordLengthMessage, 10000,
         "Selected bitrate: Purevoice half rate (19:1 compression)"},
        {&CQTQualcommPurevoiceFile_LogWordLengthMessage, 20000,
         "Selected bitrate: Purevoice full rate (9:1 compression)"},
    };
    for (const Case& c : cases) {
        Edited e;
        e.record->setWordLength(c.wordLength);
        EXPECT_EQ(c.function(e.spec()), std::string("\n    ") + c.line);
    }
}

TEST(TypeRules, NoFacadeNoEffect) {
    EXPECT_EQ(CVOCFile_HandleSampleRateSettings(nullptr, 0, "", 0), kParamErr);
    EXPECT_EQ(CDawnAIFFFile_HandleChannelSettings(nullptr, 0, "", 0), kParamErr);
    EXPECT_EQ(CDialogicPCMFile_HandleWordLengthSettings(nullptr, 0, "", 8), kParamErr);
    EXPECT_EQ(CMPEG1File_HandleChannelSettings(nullptr, 5, "", 1), kParamErr);
    EXPECT_EQ(CMPEG2File_ChannelHandlingPopupIndex(nullptr), -1);
    EXPECT_EQ(CSonicAIFFFile_WordLengthPopupIndex(nullptr), -1);
    EXPECT_EQ(CMPEG1File_LogWordLengthMessage(nullptr), "");
}

// ---------------------------------------------------------------------------
// Registration

TEST(TypeRules, EachTypeGetsTheSlotsOfItsRules) {
    CSoundFile::Cleanup();
    plist::Dictionary& table = CSoundFile::GetFileTypeInfo();
    RegisterSoundFiles(table);
    RegisterConversionRules(table);

    // W C S CI WI LW LC, as letters present.
    const std::map<std::string, std::string> expected = {
        {"BWMP", "C CI"},       {"21-4", "C"},          {"23-2", "C"},
        {"23-3", "C"},          {"23-5", "C"},          {"26-3", "C"},
        {"26-4", "C"},          {"26-5", "C"},          {"Dawn", "C"},
        {"DADP", "C S LW"},     {"DALW", "C S LW"},     {"711a", "C S LW"},
        {"DPCM", "W"},          {"DULW", "C S LW"},     {"711u", "C S LW"},
        {"DVAP", "C LW"},       {"DMP3", "W C CI LC"},  {"MPG1", "W C CI LW LC"},
        {"MPG2", "C CI LW LC"}, {"MSAP", "LW"},         {"NSAL", "LW"},
        {"ulaw", "LW"},         {" paf", "W WI"},       {"PADP", "S LW"},
        {"QTAL", "LW"},         {"QTIM", "LW"},         {"QTIF", "W WI LW"},
        {"QTM3", "LW"},         {"QTM6", "LW"},         {"Mp3 ", "S"},
        {"Mpg4", "W S"},        {"QTQP", "LW"},         {"QTQ2", "LW"},
        {"QTQD", "LW"},         {"QTPV", "LW"},         {"QTUL", "LW"},
        {"SAIF", "W WI LW"},    {"VOC ", "S"},
    };
    for (OSType code : RegisteredSoundFileTypes()) {
        SoundFileDispatcherPtr d = GetSoundFileDispatcher(code);
        ASSERT_NE(d, nullptr) << FourCCText(code);
        std::string slots;
        auto add = [&slots](bool has, const char* name) {
            if (!has) return;
            if (!slots.empty()) slots += " ";
            slots += name;
        };
        add(d->hasHandleWordLengthFunc(), "W");
        add(d->hasHandleChannelFunc(), "C");
        add(d->hasSampleRateFunc(), "S");
        add(d->hasChannelIndexFunc(), "CI");
        add(d->hasWordLengthIndexFunc(), "WI");
        add(d->hasLogWordLengthFunc(), "LW");
        add(d->hasLogChannelSettingsFunc(), "LC");
        EXPECT_FALSE(d->hasAutoNameWordLengthFunc() || d->hasAutoNameChannelSettingsFunc());
        auto it = expected.find(FourCCText(code));
        EXPECT_EQ(slots, it == expected.end() ? "" : it->second) << FourCCText(code);
        EXPECT_TRUE(d->hasCreateFunc()) << FourCCText(code);
    }
    CSoundFile::Cleanup();
}

}  // namespace
