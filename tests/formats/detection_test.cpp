// Input type detection over files built byte by byte: what the peers' files do
// not show (odd and damaged headers, Finder types, names, fallbacks), and the
// grouping of mono files into split pairs, numbered sets and surround sets.
#include "formats/detection.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "format_test_support.h"
#include "formats/chunk_reader.h"
#include "formats/pcm/next_sun_file.h"
#include "foundation/resource_file.h"
#include "platform/resource_dir.h"
#include "soundfile/raw_settings.h"

using namespace std::string_literals;

namespace {

std::string BE32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::string LE32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string LE16(uint16_t v) { return {char(v), char(v >> 8)}; }
std::string Chunk(const std::string& id, const std::string& data, bool little) {
    return id + (little ? LE32 : BE32)(uint32_t(data.size())) + data + std::string(data.size() % 2, '\0');
}
const std::string kRate("\x40\x0B\xFA\0\0\0\0\0\0\0", 10);  // 8000 Hz

// A WAVE file whose format chunk begins with `tag` and `channels`; an extensible
// chunk (0xFFFE) names `sub`. `before` comes ahead of the format chunk.
std::string Wave(uint16_t tag, uint16_t channels = 1, uint16_t sub = 1, const std::string& before = "",
                 const char* riff = "RIFF") {
    std::string fmt = LE16(tag) + LE16(channels) + LE32(8000) + LE32(16000) + LE16(2) + LE16(16);
    if (tag == 0xFFFE) fmt += LE16(22) + LE16(16) + LE32(0) + LE16(sub) + std::string(14, '\x01');
    const std::string body = "WAVE" + before + Chunk("fmt ", fmt, true) + Chunk("data", std::string(8, '\0'), true);
    return riff + LE32(uint32_t(body.size())) + body;
}
std::string Aiff(uint16_t channels = 1, const std::string& extra = "") {
    const std::string body = "AIFF" + Chunk("COMM", "\0"s + char(channels) + BE32(4) + "\0\x10"s + kRate, false) +
                             extra + Chunk("SSND", std::string(16, '\0'), false);
    return "FORM" + BE32(uint32_t(body.size())) + body;
}
// An AIFC file whose COMM holds `commBytes` bytes, the compression type last.
std::string Aifc(const char* compression, size_t commBytes = 22) {
    std::string comm = "\0\x01"s + BE32(4) + "\0\x10"s + kRate + compression;
    comm.resize(commBytes, '\0');
    const std::string body = "AIFC" + Chunk("COMM", comm, false) + Chunk("SSND", std::string(16, '\0'), false);
    return "FORM" + BE32(uint32_t(body.size())) + body;
}
std::string NeXT(uint32_t encoding) {
    return ".snd" + BE32(28) + BE32(8) + BE32(encoding) + BE32(8000) + BE32(1) + std::string(12, '\0');
}
std::string Paris(uint32_t channels) {
    std::string h = " paf" + std::string(8, '\0') + BE32(8000) + BE32(0) + BE32(channels) + BE32(5);
    return h + std::string(2048 + 16 - h.size(), '\0');
}

constexpr OSType kUnset = FourCC("????");
const CSoundFile::ChannelConfiguration kMono = CSoundFile::kMono, kMulti = CSoundFile::kMultichannel;

struct Detected {
    OSErr status = 1;
    OSType type = kUnset;
    bool recognized = false;
    CSoundFile::ChannelConfiguration config = CSoundFile::kNotSet;
    std::vector<std::string> members;
    std::string setName;
};

Detected Detect(const std::string& path, bool considerSplit = true) {
    Detected d;
    d.status = ResolveFileType(path, d.type, d.recognized, d.members, d.setName, d.config, considerSplit);
    return d;
}

class DetectionTest : public formattest::FileTest {
protected:
    void TearDown() override {
        CSoundFile::SetRecognizeNumberedFilesAsSplitMultichannel(false);
        ResetRawSettings();
        formattest::FileTest::TearDown();
    }
    void Empty() {
        std::filesystem::remove_all(dir.path());
        std::filesystem::create_directory(dir.path());
    }
};

TEST_F(DetectionTest, HeadersFinderTypesAndNamesSettleTheType) {
    struct Case {
        const char* what;
        const char* name;
        std::string bytes;
        OSType finderType, creator;
        OSErr status;
        OSType type;
        bool recognized;
    };
    const OSType no = 0;
    const std::string junk = Chunk("JUNK", std::string(28, '\0'), true);
    const std::vector<Case> cases = {
        {"G.729 Annex A", "x.wav", Wave(0x83), no, no, 0, FourCC("G729"), true},
        {"extensible of another sub-format: PCM", "x.wav", Wave(0xFFFE, 1, 0x50), no, no, 0, FourCC("WAVE"), true},
        {"format chunk after another", "x.wav", Wave(3, 1, 1, junk), no, no, 0, FourCC("WVfl"), true},
        {"WAVE whatever the first four bytes", "x.wav", Wave(1, 1, 1, "", "RIFX"), no, no, 0, FourCC("WAVE"), true},
        {"unknown tag: the name decides", "x.wav", Wave(0x11), no, no, kNotASoundFileErr, kUnset, false},
        {"unknown tag, a known name", "x.au", Wave(0x11), no, no, 0, FourCC("NxTS"), true},
        {"no format chunk", "x.wav", "RIFF" + LE32(40) + "WAVE" + junk, no, no, -22004, kUnset, true},
        {"cut in the format chunk", "x.mp3", Wave(1, 1, 1, junk).substr(0, 56), no, no, 0, FourCC("Mp3 "), true},
        {"cut before the sub-format", "x.mp3", Wave(0xFFFE).substr(0, 40), no, no, 0, FourCC("Mp3 "), true},
        {"NeXT G.723 3-bit", "x.au", NeXT(25), no, no, kNeXTUnsupportedDataErr, kUnset, true},
        {"Sonic by creator, chunks unread", "x", "FORM" + BE32(4) + "AIFF" + std::string(12, '\xFF'),
         FourCC("AIFF"), FourCC("SSYS"), 0, FourCC("SAIF"), true},
        {"Sonic by APPL", "x", Aiff(1, Chunk("APPL", "SSYS0000", false)), no, no, 0, FourCC("SAIF"), true},
        {"APPL of another", "x", Aiff(1, Chunk("APPL", "XXXX", false)), no, no, 0, FourCC("AIFF"), true},
        {"APPL too short", "x", Aiff(1, Chunk("APPL", "", false) + "SSYS" + BE32(0)), no, no, 0, FourCC("AIFF"), true},
        {"Dawn by creator", "x", Aiff(), FourCC("AIFF"), FourCC("CARI"), 0, FourCC("Dawn"), true},
        {"AIFC in24", "x", Aifc("in24"), no, no, 0, FourCC("AIFC"), true},
        {"AIFC twos", "x", Aifc("twos"), no, no, 0, FourCC("AVFd"), true},
        {"AIFC ima4", "x", Aifc("ima4"), no, no, 0, FourCC("A1t4"), true},
        {"COMM without compression", "x.aifc", Aifc("NONE", 18), no, no, kNotASoundFileErr, kUnset, false},
        {"COMM without compression, known name", "x.mp3", Aifc("NONE", 18), no, no, 0, FourCC("Mp3 "), true},
        {"AIFC without COMM", "x", "FORM" + BE32(16) + "AIFC" + Chunk("FVER", BE32(0), false), no, no, -22204, kUnset, true},
        {"VOC extended", "x", "Creative Voice File\x1a"s + LE16(26) + LE16(0x010A) + LE16(0x1129) + "\x08\x04\0\0\0\0\0\0"s, no, no, 0, FourCC("VOC2"), true},
        {"Finder type Mp3, contents unread", "x.wav", Wave(1), FourCC("Mp3 "), no, 0, FourCC("Mp3 "), true},
        {"Finder type SFIL", "x", "", FourCC("SFIL"), no, 0, FourCC("Sd1f"), true},
        {"Sd2f without a fork: contents untested", "x.xyz", Wave(1), FourCC("Sd2f"), no, kNotASoundFileErr, FourCC("Sd2f"), false},
        {"Sd2f without a fork, the name", "x.sd2", Wave(1), FourCC("Sd2f"), no, 0, FourCC("Sd2f"), true},
        {"10 bytes named mp3", "x.mp3", std::string(10, 'x'), no, no, 0, FourCC("Mp3 "), true},
        {"name in capitals", "X.MP3", std::string(10, 'x'), no, no, 0, FourCC("Mp3 "), true},
        {"nothing known", "x.xyz", std::string(30, 'x'), no, no, kNotASoundFileErr, kUnset, false},
        {"nothing known, Finder type AVFd", "x.xyz", std::string(30, 'x'), FourCC("AVFd"), no, 0, FourCC("AVFd"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Empty();
        const std::string path = Put(c.name, c.bytes);
        if (c.finderType || c.creator) {
            ASSERT_EQ(SetFinderInfo(path, c.finderType, c.creator), 0);
        }
        const Detected d = Detect(path, false);
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(FourCCText(d.type), FourCCText(c.type));
        EXPECT_EQ(d.recognized, c.recognized);
        // The type is never left unset with success.
        EXPECT_EQ(d.config, c.status ? CSoundFile::kNotSet : kMulti);
    }
}

TEST_F(DetectionTest, WhatIsNoSoundFileAndTheRawSettings) {
    RawSettings raw;
    raw.SetAction(RawSettings::kRawReadAsRaw);
    raw.SetFileType(FourCC("DULW"));
    std::filesystem::create_directory(dir / "folder.mp3");
    ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
    const struct {
        std::string path;
        bool asRaw;
        OSErr status;
        OSType type;
        bool recognized;
    } cases[] = {
        {dir / "none.wav", true, kFileNotFoundErr, kUnset, true},
        {dir / "folder.mp3", true, kNotASoundFileErr, kUnset, false},
        {dir / "pipe.wav", true, kNotASoundFileErr, kUnset, false},
        {Put("x.xyz", "xyz"), false, kNotASoundFileErr, kUnset, false},
        {Put("y.xyz", "xyz"), true, 0, FourCC("DULW"), false},
        {Put("z.xyz", Wave(1)), true, 0, FourCC("WAVE"), true},
        // A damaged sidecar is no Finder information: the contents decide.
        {Put("d.xyz", Wave(1)), false, 0, FourCC("WAVE"), true},
    };
    testsupport::WriteFile(XWQF::SidecarPath(dir / "d.xyz"), std::string("\x00\x05\x16\x07garbage", 11));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        CSoundFile::SetRawSettings(c.asRaw ? raw : RawSettings());
        const Detected d = Detect(c.path);
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(FourCCText(d.type), FourCCText(c.type));
        EXPECT_EQ(d.recognized, c.recognized);
    }
}

TEST_F(DetectionTest, SoundDesignerForkIsReadWithoutMakingAnything) {
    const std::string withFork = Put("take.xyz", Wave(1)), lacking = Put("lacking", ""), plain = Put("plain", "");
    ASSERT_EQ(SetFinderInfo(withFork, FourCC("Sd2f"), 0), 0);
    for (short id : {1000, 1001, 1002}) QFResourceFile(withFork, true).WriteStringResource("2", id, "");
    QFResourceFile(lacking, true).WriteStringResource("2", 1000, "");
    const std::string missing = dir / "missing";
    unsigned int type = 0;
    EXPECT_EQ(ResolveSD2(withFork, type, nullptr), 0);
    EXPECT_EQ(ResolveSD2(lacking, type, nullptr), kNotASoundFileErr);
    EXPECT_EQ(ResolveSD2(plain, type, nullptr), kNotASoundFileErr);
    EXPECT_EQ(ResolveSD2(missing, type, nullptr), kFileNotFoundErr);
    EXPECT_FALSE(XWQF::FileExists(missing) || XWQF::FileExists(XWQF::SidecarPath(missing)) ||
                 XWQF::FileExists(XWQF::SidecarPath(plain)));
    // With its fork, the file is 'Sd2f' whatever its data says.
    EXPECT_EQ(FourCCText(Detect(withFork).type), "Sd2f");
}

TEST_F(DetectionTest, MonoFilesGroupIntoPairsNumberedAndSurroundSets) {
    using Files = std::vector<std::pair<std::string, std::string>>;
    auto monos = [](std::vector<std::string> names, const std::string& bytes) {
        Files files;
        for (const std::string& name : names) files.emplace_back(name, bytes);
        return files;
    };
    auto plus = [](Files a, const Files& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::string mono = Wave(1), paf = Paris(1);
    const std::vector<std::string> k51 = {"t.L.wav", "t.R.wav", "t.C.wav", "t.LFE.wav", "t.Ls.wav", "t.Rs.wav"};
    const std::vector<std::string> k50 = {"t.L.wav", "t.R.wav", "t.Ls.wav", "t.Rs.wav", "t.C.wav"};
    const std::vector<std::string> lower = {"t.l.wav", "t.r.wav", "t.c.wav", "t.lfe.wav", "t.ls.wav", "t.rs.wav"};
    std::vector<std::string> eleven;
    for (int n = 1; n <= 11; ++n) eleven.push_back("c." + std::to_string(n) + ".wav");
    const struct {
        const char* what;
        Files files;
        std::string asked;
        bool numbered;
        OSErr status;
        CSoundFile::ChannelConfiguration config;
        std::string setName;
        std::vector<std::string> members;  // in channel order
    } cases[] = {
        {"stereo", monos({"t.L.wav", "t.R.wav"}, mono), "t.R.wav", false, 0, CSoundFile::kStereo, "Stereo", {"t.L.wav", "t.R.wav"}},
        {"5.1 from a surround channel", monos(k51, mono), "t.Ls.wav", false, 0, CSoundFile::k51, "5.1", k51},
        {"5.0", monos(k50, mono), "t.C.wav", false, 0, CSoundFile::k50, "5.0", k50},
        {"5.0 and an LFE: the later row", plus(monos(k50, mono), monos({"t.LFE.wav"}, mono)), "t.L.wav", false, 0, CSoundFile::k51, "5.1", k51},
        {"lower-case markers", monos(lower, mono), "t.l.wav", false, 0, CSoundFile::k51, "5.1", lower},
        {"mixed case, as on disk", monos({"t.L.wav", "t.r.wav"}, mono), "t.L.wav", false, 0, CSoundFile::kStereo, "Stereo", {"t.L.wav", "t.r.wav"}},
        {"extension in capitals", monos({"t.L.WAV", "t.R.WAV"}, mono), "t.L.WAV", false, 0, CSoundFile::kStereo, "Stereo", {"t.L.WAV", "t.R.WAV"}},
        {"no extension", monos({"t.L", "t.R"}, mono), "t.R", false, 0, CSoundFile::kStereo, "Stereo", {"t.L", "t.R"}},
        {"partner missing", monos({"t.L.wav"}, mono), "t.L.wav", false, 0, kMono, "", {}},
        {"partner of another type", plus(monos({"t.L.wav"}, mono), monos({"t.R.wav"}, Aiff())), "t.L.wav", false, 0, kMono, "", {}},
        {"stereo files are no members", monos({"t.L.wav", "t.R.wav"}, Wave(1, 2)), "t.L.wav", false, 0, kMulti, "", {}},
        {"a marker inside a word", monos({"t.Left.wav", "t.R.wav", "t.L.wav"}, mono), "t.Left.wav", false, 0, kMono, "", {}},
        // A candidate that exists but cannot be detected ends the detection with its status.
        {"partner not detectable", plus(monos({"t.L.wav"}, mono), monos({"t.R.wav"}, NeXT(6))), "t.L.wav", false, kNeXTUnsupportedDataErr, kMono, "", {}},
        {"no channel count", monos({"n.aif"}, "FORM" + BE32(16) + "AIFF" + Chunk("XXXX", "0000", false)), "n.aif", false, -22204, kMono, "", {}},
        {"PARIS as we name it", monos({"t-L.paf", "t-R.paf"}, paf), "t-R.paf", false, 0, CSoundFile::kStereo, "Split stereo", {"t-L.paf", "t-R.paf"}},
        {"PARIS in lower case", monos({"t-l.paf", "t-r.paf"}, paf), "t-l.paf", false, 0, CSoundFile::kStereo, "Split stereo", {"t-l.paf", "t-r.paf"}},
        {"PARIS alone", monos({"t-l.paf"}, paf), "t-l.paf", false, 0, kMono, "", {}},
        {"PARIS takes no surround set", monos({"t.L.paf", "t.R.paf"}, paf), "t.L.paf", false, 0, kMono, "", {}},
        {"a folder's name is no marker", monos({"x-l.paf", "x-r.paf", "x-l/t.paf"}, paf), "x-l/t.paf", false, 0, kMono, "", {}},
        {"numbered", monos({"a.1.wav", "a.2.wav", "a.3.wav"}, mono), "a.2.wav", true, 0, kMulti, "Split Multichannel", {"a.1.wav", "a.2.wav", "a.3.wav"}},
        {"numbered, flag off", monos({"a.1.wav", "a.2.wav", "a.3.wav"}, mono), "a.2.wav", false, 0, kMono, "", {}},
        {"numbered, a gap before", monos({"a.1.wav", "a.3.wav"}, mono), "a.3.wav", true, 0, kMono, "", {}},
        {"numbered, a gap after", monos({"a.1.wav", "a.2.wav", "a.4.wav"}, mono), "a.1.wav", true, 0, kMulti, "Split Multichannel", {"a.1.wav", "a.2.wav"}},
        {"numbered from 0", monos({"b.0.wav", "b.1.wav", "b.2.wav"}, mono), "b.0.wav", true, 0, kMono, "", {}},
        {"numbered alone", monos({"b.1.wav"}, mono), "b.1.wav", true, 0, kMono, "", {}},
        {"numbered past nine", monos(eleven, mono), "c.5.wav", true, 0, kMulti, "Split Multichannel", eleven},
        {"numbered, another type ends the run", plus(monos({"a.1.wav", "a.2.wav"}, mono), monos({"a.3.wav"}, Aiff())), "a.1.wav", true, 0, kMulti, "Split Multichannel", {"a.1.wav", "a.2.wav"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Empty();
        for (const auto& [name, bytes] : c.files) {
            std::filesystem::create_directories(std::filesystem::path(dir / name).parent_path());
            Put(name, bytes);
        }
        CSoundFile::SetRecognizeNumberedFilesAsSplitMultichannel(c.numbered);
        const Detected d = Detect(dir / c.asked);
        EXPECT_EQ(d.status, c.status);
        std::vector<std::string> members;
        for (const std::string& name : c.members) members.push_back(dir / name);
        if (c.status == 0) {
            EXPECT_EQ(d.config, c.config);
            EXPECT_EQ(d.setName, c.setName);
            EXPECT_EQ(d.members, members);
        }
        // Without grouping, every file is taken on its own.
        const Detected alone = Detect(dir / c.asked, false);
        EXPECT_TRUE(alone.members.empty() && (alone.status || alone.config == kMulti));
    }
}

// The surround table lies among the resources, which these tests point elsewhere.
class SurroundTableTest : public DetectionTest {
protected:
    void SetUp() override {
        CSoundFile::KnownNameExtensions();  // the type tables stay as loaded from the real resources
        if (const char* old = std::getenv("CORVANE_RESOURCE_DIR")) saved_ = old;
        ReleaseDetectionTables();
        for (const char* name : {"t.L.wav", "t.R.wav", "t.C.wav", "t.LFE.wav", "t.Ls.wav", "t.Rs.wav"}) Put(name, Wave(1));
    }
    void TearDown() override {
        saved_ ? ::setenv("CORVANE_RESOURCE_DIR", saved_->c_str(), 1) : ::unsetenv("CORVANE_RESOURCE_DIR");
        ReleaseDetectionTables();
        DetectionTest::TearDown();
    }
    void Table(const std::string& rows) {
        ::setenv("CORVANE_RESOURCE_DIR", resources_.path().c_str(), 1);
        testsupport::WriteFile(resources_ / "surround.qfdb", "cc\tindicators\tname\n" + rows);
    }
    std::optional<std::string> saved_;
    testsupport::TempDir resources_;
};

TEST_F(SurroundTableTest, AMissingTableIsAStatusAnEmptyOneIsLoadedAgainAndBadRowsArePassedOver) {
    ::setenv("CORVANE_RESOURCE_DIR", resources_.path().c_str(), 1);
    EXPECT_EQ(Detect(dir / "t.L.wav").status, kFileNotFoundErr);
    Table("");
    EXPECT_EQ(Detect(dir / "t.L.wav").config, kMono);
    Table("1\t.L|.R\tPair\nx\t.L|.R\tNo number\n12\t.L|.R\tOut of range\n2\t\tNo markers\n3\t.L|(\tNo expression\n");
    EXPECT_EQ(Detect(dir / "t.L.wav").setName, "Pair");
    // Loaded once with rows, the table stays.
    Table("1\t.L|.R\tOther\n");
    EXPECT_EQ(Detect(dir / "t.L.wav").setName, "Pair");
}

TEST_F(SurroundTableTest, TwoThreadsLoadingTheTableAtOnceAgree) {
    for (int round = 0; round < 4; ++round) {
        ReleaseDetectionTables();
        Detected a, b;
        std::thread first([&] { a = Detect(dir / "t.L.wav"); });
        std::thread second([&] { b = Detect(dir / "t.Rs.wav"); });
        first.join();
        second.join();
        EXPECT_EQ(a.config, CSoundFile::k51);
        EXPECT_EQ(a.members, b.members);
        EXPECT_EQ(a.setName, b.setName);
    }
}

}  // namespace
