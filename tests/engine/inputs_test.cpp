// Inputs that are not converted as they stand: unrecognised files under each
// action, hidden files, the second member of a group, missing files; and mp3
// inputs, whose names lose their track number and whose tags reach only their
// own outputs.
#include "engine_test_support.h"
#include "formats/mpeg/id3_tags.h"
#include "soundfile/raw_settings.h"

namespace enginetest {
namespace {

using Strings = std::vector<std::string>;

TEST_F(EngineTest, UnrecognisedInputsAreSkippedCopiedOrFailedByTheAction) {
    struct Row {
        int action;
        OSType rawType;
        Strings order;
        Strings tree;
    };
    const Row rows[] = {
        {0, FourCC("DPCM"), {}, {"One"}},
        {1,
         FourCC("DPCM"),
         {"Success notes.txt", "Success .secret"},
         {"One", "One/.secret", "One/notes.txt"}},
        // Read as raw: a type whose class is still to come fails on opening;
        // a type without any class fails for want of a format object.
        {2, FourCC("DPCM"), {"Failure notes.txt -22017"}, {"One"}},
        {2, FourCC("Xxxx"), {"Failure notes.txt -22008"}, {"One"}},
    };
    testsupport::WriteFile(in + "/notes.txt", "not a sound");
    testsupport::WriteFile(in + "/.secret", "not a sound either");
    testsupport::WriteFile(in + "/.DS_Store", "the desktop's");
    const RawSettings saved = CSoundFile::GetRawSettings();
    for (const Row& row : rows) {
        fs::remove_all(out);
        fs::create_directories(out);
        posted.clear();
        RawSettings raw = saved;
        raw.SetFileType(row.rawType);
        raw.SetAction(RawSettings::ERawAction(row.action));
        CSoundFile::SetRawSettings(raw);
        EngineSettings settings;
        settings.unrecognizedInputFileAction = row.action;
        Run({in + "/notes.txt", in + "/.secret", in + "/.DS_Store"}, {Conversion("One")}, settings);
        Strings order = Names();
        EXPECT_EQ(Strings(order.begin() + 2, order.end() - 2), row.order) << row.action;
        EXPECT_EQ(Tree(out), row.tree);
        if (row.action == 1) {
            EXPECT_EQ(testsupport::ReadFile(out + "/One/notes.txt"), "not a sound");
            EXPECT_EQ(posted[2].values.find(kCommentKey)->asString(), kJustCopiedComment);
        }
    }
    CSoundFile::SetRawSettings(saved);
}

TEST_F(EngineTest, TheSecondMemberOfAGroupAndMissingInputsFail) {
    Sox(in + "/p.L.aif", "-r 8000 -c 1 -b 16");
    Sox(in + "/p.R.aif", "-r 8000 -c 1 -b 16");
    Run({in + "/p.L.aif", in + "/p.R.aif"}, {Conversion("One")});
    EXPECT_EQ(Names(), (Strings{"Start", "Header", "Success p.L.aif", "Failure p.R.aif -23015",
                                "Footer", "Done"}));
    EXPECT_EQ(Tree(out), (Strings{"One", "One/p.aif"}));
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

TEST(ID3Tags, TagsAreReadWithinTheFile) {
    const std::string header = "ID3\x03";
    struct Row {
        std::string bytes;
        bool found;
        size_t size;
    };
    const Row v2[] = {
        {header + std::string("\0\0", 2) + std::string("\0\0\0\x14", 4) + std::string(120, 'x'),
         true, 30},
        {header + std::string("\0\0", 2) + std::string("\0\0\x01\x00", 4) + std::string(40, 'x'),
         true, 50},
        {header + std::string("\0\0", 2) + std::string("\x7F\x7F\x7F\x7F", 4) + "x", true, 11},
        {header + std::string("\0\0", 2) + std::string("\0\0\0\x80", 4) + std::string(200, 'x'),
         false, 0},
        {"ID3\xFF" + std::string("\0\0", 2) + std::string("\0\0\0\x01", 4) + "x", false, 0},
        {"RIFF" + std::string(40, '\0'), false, 0},
    };
    testsupport::TempDir dir;
    for (const Row& row : v2) {
        testsupport::WriteFile(dir / "t.mp3", row.bytes);
        std::vector<uint8_t> tag;
        EXPECT_EQ(ReadID3v2Tag(dir / "t.mp3", &tag), row.found);
        EXPECT_EQ(tag.size(), row.size);
    }

    struct V1Row {
        std::string bytes;
        bool found;
        std::string title, artist;
        int genre;
    };
    const V1Row v1[] = {
        {"audio" + ID3v1("Song", "Band", 17), true, "Song", "Band", 17},
        {ID3v1("Caf\xE9", "", 147), true, "Caf\xC3\xA9", "", 147},
        {ID3v1("x", "y", 148), true, "x", "y", -1},
        {ID3v1("x", "y", 255), true, "x", "y", -1},
        {ID3v1("x", "y", 1).substr(1), false, "", "", -1},
    };
    for (const V1Row& row : v1) {
        testsupport::WriteFile(dir / "t.mp3", row.bytes);
        ID3v1Tag tag;
        EXPECT_EQ(ReadID3v1Tag(dir / "t.mp3", &tag), row.found);
        EXPECT_EQ(tag.title, row.title);
        EXPECT_EQ(tag.artist, row.artist);
        EXPECT_EQ(tag.genre, row.genre);
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

}  // namespace
}  // namespace enginetest
