#include "conversion/error_messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Expected {
    int code;
    short errorClass;
    const char* text;
};

void ExpectAll(const std::vector<Expected>& cases) {
    for (const Expected& e : cases) {
        std::string text = "stale";
        EXPECT_EQ(MakeErrorMessage(e.code, text), e.errorClass) << "code " << e.code;
        EXPECT_EQ(text, e.text) << "code " << e.code;
    }
}

TEST(ErrorMessages, SystemCodes) {
    ExpectAll({
        {-34, kErrorClassSerious, "Disk full"},
        {-37, kErrorClassFile, "has too long a name for .L/.R"},
        {-39, kErrorClassFile, "unexpected end of file"},
        {-43, kErrorClassSerious, "Expected input file not found"},
        {-108, kErrorClassSerious, "Out of memory"},
        // Both cancel codes read the same.
        {-128, kErrorClassSerious, "User cancelled conversion"},
        {-2019, kErrorClassSerious, "User cancelled conversion"},
    });
}

TEST(ErrorMessages, ConversionApplicationAndBaseBlocks) {
    ExpectAll({
        {-20000, kErrorClassFile, "lacks regions to extract/compact"},
        {-20001, kErrorClassInternal, "Wrong channel specified"},
        {-20029, kErrorClassSerious, "User stopped Corvane"},
        {-20032, kErrorClassFile, "Not enough RAM for fade in and out, increase mem"},
        {-21001, kErrorClassSerious, "Outputfolder was located in inputfolder"},
        {-21004, kErrorClassSerious, "Could not create pointer/handle"},
        {-21005, kErrorClassFile, "sample word size is not supported for playback"},
        {-22000, kErrorClassInternal, "Wrong marker specified"},
        {-22003, kErrorClassSerious, "No buffer allocated"},
        {-22008, kErrorClassFile, "has unknown file format"},
        {-22017, kErrorClassFile, "CreateSoundfile failed (-22017)"},
        {-22021, kErrorClassFile, "name was not extended, it was too long"},
    });
}

TEST(ErrorMessages, FormatBlocks) {
    ExpectAll({
        {-22100, kErrorClassFile, "has incompatible # channels"},
        {-22200, kErrorClassFile, "lacks FORM chunk (AIFF)"},
        {-22305, kErrorClassFile, "has fragmented data (VOC)"},
        {-22406, kErrorClassFile, "lacks type 8 chunk (VOC SB)"},
        {-22505, kErrorClassFile, "lacks word size string from resource fork (SDII)"},
        {-22602, kErrorClassFile, "has bad header (NeXT/SUN)"},
        {-22704, kErrorClassFile, "has bad DATA chunksize (WAVE)"},
        {-22804, kErrorClassInternal, "wordsize passed to create != 1 (8SVX)"},
        {-22900, kErrorClassInternal, "has unsupported data (NeXT.au)"},
        {-23003, kErrorClassFile, "has incompatible wordSize (must be 8 or 16 bit)"},
        {-23103, kErrorClassFile, "left file of split hase no right counterpart"},
        {-23206, kErrorClassFile, "a predictor is out of range (MS ADPCM)"},
        {-23303, kErrorClassFile, "has bad Loop-Marker connection"},
        {-23405, kErrorClassFile, "has incompatible samplerate (must be under 48000Hz)"},
        {-23605, kErrorClassSerious, "Disk full"},
        {-23614, kErrorClassSerious, "MPEG codecs out of memory"},
        {-23704, kErrorClassFile, "has no SND chunk(Next/Sun alaw)"},
        {-23804, kErrorClassFile, "IMA 4:1 does not take more than two channels"},
        {-23900, kErrorClassFile, "has incompatible # channels"},
        {-24001, kErrorClassFile, "can't find paf header in Paris file"},
        {-24102, kErrorClassFile, "Audio-CD read error"},
        {-24202, kErrorClassFile, "QuickTime: no audio track in file"},
        {-24601, kErrorClassFile, "has more than two channels (MP3)"},
        {-24702, kErrorClassFile, "input file must be mono or stereo"},
        // Two texts end in one space.
        {-23612, kErrorClassFile, "is stereo: incompatible with this bitrate MPEG1 L II "},
        {-23801, kErrorClassFile, "No Soundmanager 3.2, Cannot convert to IMA 4:1 "},
    });
}

TEST(ErrorMessages, SameTextDifferentClass) {
    ExpectAll({
        {-22300, kErrorClassInternal, "has incompatible wordsize"},
        {-22404, kErrorClassInternal, "has incompatible wordsize"},
        {-22603, kErrorClassFile, "has incompatible wordsize"},
        {-22904, kErrorClassFile, "has incompatible wordsize"},
    });
}

TEST(ErrorMessages, ClassZeroWithTextAndAlreadyProcessed) {
    ExpectAll({
        {-22026, kErrorClassUnknown, "failed to create a temp file"},
        {-23401, kErrorClassUnknown, "System 7 sound format 2 is not supported"},
        {-23404, kErrorClassUnknown, "System 7 sounds with multiple data types are not supported"},
        {25000, kErrorClassUnknown, "corrupt CCITT G.729 file"},
        {25001, kErrorClassUnknown, "not recognized as a CCITT G.729 file"},
        {24204, kErrorClassFile, "no QuickTime export format specified"},
        {-23015, kErrorClassAlreadyProcessed, "was already processed with left file"},
    });
}

TEST(ErrorMessages, LegacyStreamingBlocks) {
    ExpectAll({
        {-23501, kErrorClassFile, "RealAudio: General error. An error occurred"},
        {-23528, kErrorClassFile, "RealAudio: Server timeout. Server not responding."},
        {-23533, kErrorClassFile,
         "RealAudio: You need a newer client to access this server. Please upgrade."},
        {-23535, kErrorClassFile,
         "RealAudio: You need a newer client to access this server. Please upgrade."},
        {-23587, kErrorClassFile,
         "RealAudio: No RealAudio Codecs have been installed on your system."},
        {-23590, kErrorClassFile, "RealAudio encoding and playing is not supported on 68k Macs"},
        {-23595, kErrorClassFile, "'/' in RealAudio filenames is illegal"},
        {-24500, kErrorClassFile, "RealAudio G2 Encoding Libraries not found"},
        {-24509, kErrorClassFile, "G23 Encoder could not get an audio sample"},
        {-24515, kErrorClassFile, "G2 Encoder found an illegal audio quality setting"},
    });
    // Library codes without a text of their own still carry the block's prefix.
    for (int code : {-23503, -23572, -23574, -23579}) {
        std::string text;
        EXPECT_EQ(MakeErrorMessage(code, text), kErrorClassFile) << code;
        EXPECT_EQ(text.rfind("RealAudio: ", 0), 0u) << code;
    }
    for (int code : {-24504, -24514}) {
        std::string text;
        EXPECT_EQ(MakeErrorMessage(code, text), kErrorClassFile) << code;
        EXPECT_FALSE(text.empty()) << code;
    }
}

TEST(ErrorMessages, AddedFileCodesDoNotStopTheBatch) {
    // A truncated or badly chunked AIFF, a bad AVR header and a file of 2 GiB or
    // more concern one file only.
    for (int code : {-22204, -23002, -1309}) {
        std::string text;
        EXPECT_EQ(MakeErrorMessage(code, text), kErrorClassFile) << code;
        EXPECT_FALSE(text.empty()) << code;
    }
}

TEST(ErrorMessages, UnknownCodes) {
    // Gaps inside blocks, the edges around the legacy ranges, success, positive
    // codes and values outside 16 bits (which must not wrap onto a listed code).
    for (int code : {0, 1, -1, -20004, -22012, -22206, -23000, -23573, -23575, -23578,
                     -23588, -23589, -23596, -24516, -24703, -32768, 32767, 24203,
                     0x4E554C50, 65536 - 128, -65536 - 34}) {
        std::string text = "stale";
        EXPECT_EQ(MakeErrorMessage(code, text), kErrorClassUnknown) << code;
        EXPECT_EQ(text, "") << code;
    }
}

}  // namespace
