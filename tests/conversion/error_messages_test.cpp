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

// The texts are the table itself; what is kept is each class a block gives
// (serious and internal codes stop the batch), the shared and odd texts.
TEST(ErrorMessages, ClassesOfEveryBlock) {
    ExpectAll({
        {-34, kErrorClassSerious, "Disk full"},
        {-37, kErrorClassFile, "has too long a name for .L/.R"},
        {-43, kErrorClassSerious, "Expected input file not found"},
        {-108, kErrorClassSerious, "Out of memory"},
        // Both cancel codes read the same.
        {-128, kErrorClassSerious, "User cancelled conversion"},
        {-2019, kErrorClassSerious, "User cancelled conversion"},
        {-20000, kErrorClassFile, "lacks regions to extract/compact"},
        {-20001, kErrorClassInternal, "Wrong channel specified"},
        {-20029, kErrorClassSerious, "User stopped Corvane"},
        {-21001, kErrorClassSerious, "Outputfolder was located in inputfolder"},
        {-21005, kErrorClassFile, "sample word size is not supported for playback"},
        {-22003, kErrorClassSerious, "No buffer allocated"},
        {-22017, kErrorClassFile, "CreateSoundfile failed (-22017)"},
        {-22804, kErrorClassInternal, "wordsize passed to create != 1 (8SVX)"},
        {-23605, kErrorClassSerious, "Disk full"},
        {-23614, kErrorClassSerious, "MPEG codecs out of memory"},
        {-24702, kErrorClassFile, "input file must be mono or stereo"},
        // Two texts end in one space.
        {-23612, kErrorClassFile, "is stereo: incompatible with this bitrate MPEG1 L II "},
        {-23801, kErrorClassFile, "No Soundmanager 3.2, Cannot convert to IMA 4:1 "},
        // The same text in different classes.
        {-22300, kErrorClassInternal, "has incompatible wordsize"},
        {-22603, kErrorClassFile, "has incompatible wordsize"},
        {-22206, kErrorClassFile, "has incompatible wordsize"},
        {-22026, kErrorClassUnknown, "failed to create a temp file"},
        // A damaged G.729 input, and a packing fault of one output, fail that file only.
        {25000, kErrorClassFile, "corrupt CCITT G.729 file"},
        {25001, kErrorClassFile, "not recognized as a CCITT G.729 file"},
        {24204, kErrorClassFile, "no QuickTime export format specified"},
        // A 'snd ' resource that is damaged or of another kind fails that file only.
        {-23402, kErrorClassFile, "System 7 sounds other than sampled ones are not supported"},
        {-23403, kErrorClassFile, "undocumented System 7 sound format"},
        {-23404, kErrorClassFile, "System 7 sounds with multiple data types are not supported"},
        {-23015, kErrorClassAlreadyProcessed, "was already processed with left file"},
    });
}

TEST(ErrorMessages, LegacyStreamingBlocks) {
    ExpectAll({
        {-23501, kErrorClassFile, "RealAudio: General error. An error occurred"},
        {-23535, kErrorClassFile,
         "RealAudio: You need a newer client to access this server. Please upgrade."},
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
    // A truncated or badly chunked AIFF, one with an impossible sample size, a
    // bad AVR header and a file of 2 GiB or more concern one file only.
    for (int code : {-22204, -22206, -23002, -1309}) {
        std::string text;
        EXPECT_EQ(MakeErrorMessage(code, text), kErrorClassFile) << code;
        EXPECT_FALSE(text.empty()) << code;
    }
}

TEST(ErrorMessages, UnknownCodes) {
    // Gaps inside blocks, the edges around the legacy ranges, success, positive
    // codes and values outside 16 bits (which must not wrap onto a listed code).
    for (int code : {0, 1, -1, -20004, -22012, -22207, -23000, -23573, -23575, -23578,
                     -23588, -23589, -23596, -24516, -24703, -32768, 32767, 24203,
                     0x4E554C50, 65536 - 128, -65536 - 34}) {
        std::string text = "stale";
        EXPECT_EQ(MakeErrorMessage(code, text), kErrorClassUnknown) << code;
        EXPECT_EQ(text, "") << code;
    }
}

}  // namespace
