// Inputs that are not converted as they stand: unrecognised files under each
// action (a skip named with a warning where the user took the file for sound,
// else silent), hidden files, the second member of a group, missing files; and
// mp3 inputs, whose names lose their track number and whose tags reach only
// their own outputs.
#include <tuple>

#include "engine_test_support.h"
#include "formats/mpeg/drop_mp3_file.h"
#include "formats/mpeg/id3_tags.h"
#include "foundation/resource_fork.h"
#include "soundfile/raw_settings.h"

namespace enginetest {
namespace {

TEST_F(EngineTest, UnrecognisedInputsAreSkippedCopiedOrFailedByTheAction) {
    testsupport::WriteFile(in + "/notes.txt", "not a sound");
    testsupport::WriteFile(in + "/.secret", "not a sound either");
    testsupport::WriteFile(in + "/.DS_Store", "the desktop's");
    const RawSettings saved = CSoundFile::GetRawSettings();
    // Read as raw data with a type that has no format class: nothing to read with.
    CSoundFile::SetRawSettings(
        RawSettings(FourCC("Xxxx"), 8000, true, 16, RawSettings::kRawReadAsRaw));
    const std::tuple<int, Strings, Strings> rows[] = {
        {0, {"Skipped notes.txt"}, {"One"}},
        {1, {"Success notes.txt", "Success .secret"}, {"One", "One/.secret", "One/notes.txt"}},
        {2, {"Failure notes.txt -22008"}, {"One"}},
    };
    for (const auto& [action, outcome, tree] : rows) {
        EngineSettings settings;
        settings.unrecognizedInputFileAction = action;
        EXPECT_EQ(Outcomes({in + "/notes.txt", in + "/.secret", in + "/.DS_Store"},
                           Conversion("One"), settings),
                  outcome);
        EXPECT_EQ(Tree(out), tree);
        if (action == 1) {
            EXPECT_EQ(testsupport::ReadFile(out + "/One/notes.txt"), "not a sound");
        }
    }
    CSoundFile::SetRawSettings(saved);
}

TEST_F(EngineTest, AFolderOfDamagedEmptyAndGoodFilesNamesEachSkipWithAWarning) {
    fs::create_directories(in + "/F");
    Sox(in + "/F/a.wav");
    // Named as sound files (the extension's case does not matter): empty,
    // damaged, and a header cut short, too few bytes to tell a type by.
    testsupport::WriteFile(in + "/F/b.AIFF", "");
    testsupport::WriteFile(in + "/F/c.Wav", std::string("RIFX\x01\x02garbage\0\xFF", 15));
    testsupport::WriteFile(in + "/F/d.aif", std::string("FORM\0\0\0\x10" "AIF", 11));
    Sox(in + "/F/e.aiff");
    // The same files under names that claim no sound type pass in silence,
    // as do hidden names, invisible files and sidecars.
    testsupport::WriteFile(in + "/F/b", "");
    testsupport::WriteFile(in + "/F/c.dat", std::string("RIFX\x01\x02garbage\0\xFF", 15));
    testsupport::WriteFile(in + "/F/d.bin", std::string("FORM\0\0\0\x10" "AIF", 11));
    testsupport::WriteFile(in + "/F/.junk", "");
    testsupport::WriteFile(in + "/F/._e.aiff", "");
    testsupport::WriteFile(in + "/F/f.wav", "unseen");
    ASSERT_EQ(SetFinderInfo(in + "/F/f.wav", 0, 0, 0x4000), 0);
    Poller poller(process);
    ASSERT_EQ(Run({in + "/F"}, {Conversion("One")}), 0);
    const std::vector<std::string> warnings = poller.Stop(&process);
    EXPECT_EQ(Names(),
              (Strings{"Start", "Header", "Success a.wav", "Skipped b.AIFF", "Skipped c.Wav",
                       "Skipped d.aif", "Success e.aiff", "Footer", "Done"}));
    for (const Posted& p : posted) {
        if (p.name != QFConversionSkippedNotification) continue;
        EXPECT_EQ(p.values.find(kCommentKey)->asString(), kNotRecognizedComment);
        EXPECT_EQ(p.values.find(kErrorKey), nullptr);
        EXPECT_EQ(p.values.find(kConvertedFilePathKey), nullptr);
    }
    // A skip is no failure: the batch goes on and ends well, one warning each.
    EXPECT_EQ(process.warnings(), 3);
    EXPECT_EQ(warnings, (Strings{"'b.AIFF' skipped: not recognized as a sound file",
                                 "'c.Wav' skipped: not recognized as a sound file",
                                 "'d.aif' skipped: not recognized as a sound file"}));
    EXPECT_EQ(process.err(), 0);
    EXPECT_FALSE(process.stopReport());
    EXPECT_EQ(Tree(out), (Strings{"One", "One/F", "One/F/a.aif", "One/F/e.aif"}));
}

TEST_F(EngineTest, TheSecondMemberOfAGroupAndMissingInputsFail) {
    Sox(in + "/p.L.aif", "-r 8000 -c 1 -b 16");
    Sox(in + "/p.R.aif", "-r 8000 -c 1 -b 16");
    Run({in + "/p.L.aif", in + "/p.R.aif"}, {Conversion("One")});
    EXPECT_EQ(Names(), (Strings{"Start", "Header", "Success p.L.aif", "Failure p.R.aif -23015",
                                "Footer", "Done"}));
    // The pair gives a pair.
    EXPECT_EQ(Tree(out), (Strings{"One", "One/p.L.aif", "One/p.R.aif"}));
    EXPECT_EQ(process.warnings(), 0);  // recorded only

    // A missing input is serious: the batch stops.
    posted.clear();
    Run({in + "/gone.wav", in + "/p.L.aif"}, {Conversion("Two")});
    EXPECT_EQ(Names(), (Strings{"Start", "Header", "Failure gone.wav -43", "Footer", "Done"}));
    EXPECT_EQ(posted[2].values.find(kConvertedFilePathKey), nullptr);
    EXPECT_EQ(process.err(), kUserCanceledErr);
}

// An ID3v1 record: title, artist and genre.
std::string ID3v1(const std::string& title, const std::string& artist, uint8_t genre) {
    std::string r = "TAG" + title + std::string(30 - title.size(), '\0') + artist +
                    std::string(30 - artist.size(), ' ');
    r += std::string(30 + 4 + 30, '\0');
    return r + char(genre);
}

TEST(ID3Tags, TheID3v1RecordIsReadWithinTheFile) {
    testsupport::TempDir dir;
    const std::tuple<std::string, bool, std::string, int> records[] = {
        {"audio" + ID3v1("Caf\xE9", "Band", 17), true, "Caf\xC3\xA9", 17},
        {ID3v1("x", "y", 147), true, "x", 147},
        {ID3v1("x", "y", 255), true, "x", -1},
        {ID3v1("x", "y", 1).substr(1), false, "", -1},
    };
    for (const auto& [bytes, found, title, genre] : records) {
        testsupport::WriteFile(dir / "t.mp3", bytes);
        ID3v1Tag tag;
        EXPECT_EQ(ReadID3v1Tag(dir / "t.mp3", &tag), found);
        EXPECT_EQ(tag.title, title);
        EXPECT_EQ(tag.genre, genre);
        EXPECT_EQ(tag.artist, found && genre == 17 ? "Band" : found ? "y" : "");
    }
}

TEST_F(EngineTest, Mp3InputsLoseTheirTrackNumberAndKeepTheirTagsToThemselves) {
    // WAVE data under mp3 names: the contents decide the format, the names the rules.
    Sox(in + "/07 My Song.mp3", "-r 8000 -c 1 -b 16 -t wav");
    {
        std::ofstream tagged(in + "/07 My Song.mp3", std::ios::binary | std::ios::app);
        tagged << ID3v1("One", "Band", 200);
    }
    Sox(in + "/7 Plain.mp3", "-r 8000 -c 1 -b 16 -t wav");
    Sox(in + "/07 Take.wav", "-r 8000 -c 1 -b 16");
    std::map<std::string, plist::Value> options;
    UseCopyStandIn();
    gAfterCopy = [&options](const std::string& name) {
        options[name] = platform::CurrentThreadContext().values[kOutputSpecificsKey];
        return OSErr(0);
    };
    auto conv = Conversion("One");
    conv->setNeedsNameExtension(true);
    conv->setNameExtension("mp3");
    ASSERT_EQ(Run({in + "/07 My Song.mp3", in + "/7 Plain.mp3", in + "/07 Take.wav"}, {conv}), 0);

    EXPECT_EQ(Tree(out), (Strings{"One", "One/07 Take.mp3", "One/7 Plain.mp3", "One/My Song.mp3"}));
    ASSERT_EQ(options.size(), 3u);
    EXPECT_EQ(options["My Song"].find("LAMETitle")->asString(), "One");
    EXPECT_EQ(options["My Song"].find("LAMEArtist")->asString(), "Band");
    EXPECT_EQ(options["My Song"].find("LAMEGenre"), nullptr);
    for (const char* name : {"7 Plain", "07 Take"})
        EXPECT_EQ(options[name].find("LAMETitle"), nullptr) << name;
    EXPECT_TRUE(conv->specificsValue("LAMETitle").isNull());
}

// The ID3v2 tag of an mp3 input goes whole into the options of its mp3 output,
// a version 4 footer included, where the writer takes it to put in front.
TEST_F(EngineTest, Mp3InputsHandTheirWholeID3v2TagToTheWriter) {
    if (!testsupport::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string plain = in + "/plain.bin";
    fs::create_directories(in);
    ASSERT_TRUE(formattest::RunCommand("ffmpeg -v error -y -f lavfi -i sine=f=440:d=0.3 -c:a libmp3lame "
                                       "-id3v2_version 0 -write_xing 0 -f mp3 " + Quote(plain)));
    const std::string frame = "TIT2" + std::string("\0\0\0\x08\0\0\x03", 7) + "Carried";
    const std::string size{0, 0, 0, char(frame.size())};
    // Flag 0x10: a footer, the header again with "3DI", ends the tag.
    const std::string tag = std::string("ID3\x04\0\x10", 6) + size + frame + std::string("3DI\x04\0\x10", 6) + size;
    testsupport::WriteFile(in + "/Tagged.mp3", tag + testsupport::ReadFile(plain));
    fs::remove(plain);

    plist::Value options;
    UseCopyStandIn();
    gAfterCopy = [&options](const std::string&) {
        options = platform::CurrentThreadContext().values[kOutputSpecificsKey];
        return OSErr(0);
    };
    auto conv = Conversion("One");
    conv->setNeedsNameExtension(true);
    conv->setNameExtension("mp3");
    ASSERT_EQ(Run({in + "/Tagged.mp3"}, {conv}), 0);
    EXPECT_EQ(Names(), (Strings{"Start", "Header", "Success Tagged.mp3", "Footer", "Done"}));
    const plist::Bytes* blob = LameTagBlobToPrepend(options);
    ASSERT_NE(blob, nullptr);
    EXPECT_EQ(std::string(blob->begin(), blob->end()), tag);
}

}  // namespace
}  // namespace enginetest
