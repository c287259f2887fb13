// Input type detection over files built byte by byte: what the peers' files do
// not show (odd and damaged headers, Finder types, names, fallbacks), and the
// grouping of mono files into split pairs, numbered sets and surround sets.
// Then the files that sox, ffmpeg and libsndfile write: each is typed as the
// rules type it, `file` and ffprobe classify it alike, and where its class
// exists it opens and reads the samples libsndfile reads from it.
#include "formats/detection.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "format_test_support.h"
#include "output_types.h"
#include "formats/chunk_reader.h"
#include "formats/pcm/next_sun_file.h"
#include "formats/pcm/paris_file.h"
#include "formats/pcm/voc_file.h"
#include "formats/pcm/wave_file.h"
#include "formats/register_sound_files.h"
#include "foundation/resource_file.h"
#include "platform/resource_dir.h"
#include "platform/thread_context.h"
#include "soundfile/raw_settings.h"

using formattest::Quote;
using formattest::RunCommand;
using testsupport::HaveProgram;
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
        {"MPEG audio in RIFF: the media library", "x.wav", Wave(0x50), no, no, 0, FourCC("AVFd"), true},
        {"CCITT by Finder type, whatever the name", "x.g726", std::string(10, 'x'), FourCC("23-5"), FourCC("Crvn"), 0, FourCC("23-5"), true},
        {"G.723 by name: 24 kbit/s", "x.g723", std::string(10, 'x'), no, no, 0, FourCC("23-3"), true},
        {"G.726 by name: 32 kbit/s", "x.g726", std::string(10, 'x'), no, no, 0, FourCC("26-4"), true},
        {"Sound Designer I by name", "x.sd1", std::string(1336, '\0'), no, no, 0, FourCC("Sd1f"), true},
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

// ---------------------------------------------------------------------------
// Peers

// Open: 0 when its class opens the file and reads the peer's samples, the
// status its class refuses it with, or kTypeOnly when no class of its own
// exists here yet.
constexpr OSErr kTypeOnly = 1;

struct PeerCase {
    const char* what;
    const char* name;
    const char* command;  // writes OUT; SRC is a 16-bit mono WAVE of a sine written by sox
    OSErr detection;
    const char* type;
    OSErr open;
    const char* file;   // a piece of what `file -b` says, or "" when it does not know the format
    const char* codec;  // ffprobe's codec name, or "" when ffprobe does not read it
};

#define SOX "sox -n -r 8000 "
#define SINE " synth 0.1 sine 440 vol 0.5"
#define FF "ffmpeg -v error -f lavfi -i sine=d=0.1:r=8000 "

const PeerCase kCases[] = {
    {"sox AIFF 8", "x.aiff", SOX "-c 1 -b 8 OUT" SINE, 0, "AIFF", 0, "AIFF audio", "pcm_s8"},
    {"sox AIFF 16", "x.aiff", SOX "-c 2 -b 16 OUT" SINE, 0, "AIFF", 0, "AIFF audio", "pcm_s16be"},
    {"sox AIFF 24", "x.aiff", SOX "-c 1 -b 24 OUT" SINE, 0, "AIFF", 0, "AIFF audio", "pcm_s24be"},
    {"sox AIFF 32", "x.aiff", SOX "-c 1 -b 32 OUT" SINE, 0, "AIFF", 0, "AIFF audio", "pcm_s32be"},
    {"sox AIFC NONE", "x.aifc", SOX "-c 1 -b 16 -t aifc OUT" SINE, 0, "AIFC", 0, "AIFF-C", "pcm_s16be"},
    {"sox AIFC NONE 8", "x.aifc", SOX "-c 1 -b 8 -t aifc OUT" SINE, 0, "AIFC", 0, "AIFF-C", "pcm_s8"},
    {"sox AIFC NONE 24", "x.aifc", SOX "-c 1 -b 24 -t aifc OUT" SINE, 0, "AIFC", 0, "AIFF-C", "pcm_s24be"},
    {"sox AIFC NONE 32", "x.aifc", SOX "-c 1 -b 32 -t aifc OUT" SINE, 0, "AIFC", 0, "AIFF-C", "pcm_s32be"},
    {"sox AIFC fl32", "x.aifc", SOX "-c 1 -e floating-point -b 32 -t aifc OUT" SINE, 0, "AIFC", 0, "AIFF-C", "pcm_f32be"},
    {"ffmpeg AIFC sowt", "x.aif", FF "-c:a pcm_s16le -f aiff OUT", 0, "AIFC", 0, "AIFF-C", "pcm_s16le"},
    {"ffmpeg AIFC fl32", "x.aif", FF "-c:a pcm_f32be -f aiff OUT", 0, "AIFC", 0, "AIFF-C", "pcm_f32be"},
    {"ffmpeg AIFC fl64", "x.aif", FF "-c:a pcm_f64be -f aiff OUT", 0, "AVFd", kTypeOnly, "AIFF-C", "pcm_f64be"},
    {"ffmpeg AIFC alaw", "x.aif", FF "-c:a pcm_alaw -f aiff OUT", 0, "AVFd", kTypeOnly, "AIFF-C", "pcm_alaw"},
    {"libsndfile AIFF", "x.aiff", "sndfile-convert -pcm24 SRC OUT", 0, "AIFF", 0, "AIFF audio", "pcm_s24be"},
    {"libsndfile AIFC FL32", "x.aifc", "sndfile-convert -float32 SRC OUT", 0, "AVFd", kTypeOnly, "AIFF-C", "pcm_f32be"},
    {"libsndfile AIFC ulaw", "x.aifc", "sndfile-convert -ulaw SRC OUT", 0, "AVFd", kTypeOnly, "AIFF-C", "pcm_mulaw"},

    {"sox WAVE 8", "x.wav", SOX "-c 1 -b 8 OUT" SINE, 0, "WAVE", 0, "WAVE audio", "pcm_u8"},
    {"sox WAVE 16", "x.wav", SOX "-c 2 -b 16 OUT" SINE, 0, "WAVE", 0, "WAVE audio", "pcm_s16le"},
    {"sox WAVE 24, extensible", "x.wav", SOX "-c 1 -b 24 OUT" SINE, 0, "WAVE", 0, "WAVE audio", "pcm_s24le"},
    {"sox WAVE 32, extensible", "x.wav", SOX "-c 1 -b 32 OUT" SINE, 0, "WAVE", 0, "WAVE audio", "pcm_s32le"},
    {"sox WAVE 3 channels, extensible", "x.wav", SOX "-c 3 -b 16 OUT" SINE, 0, "WAVE", 0, "WAVE audio", "pcm_s16le"},
    {"sox WAVE float", "x.wav", SOX "-c 1 -e floating-point -b 32 OUT" SINE, 0, "WVfl", 0, "WAVE audio", "pcm_f32le"},
    {"sox WAVE mu-law", "x.wav", SOX "-c 1 -e u-law OUT" SINE, 0, "WVau", 0, "WAVE audio", "pcm_mulaw"},
    {"sox WAVE A-law", "x.wav", SOX "-c 2 -e a-law OUT" SINE, 0, "WVal", 0, "WAVE audio", "pcm_alaw"},
    {"sox WAVE MS ADPCM", "x.wav", SOX "-c 1 -e ms-adpcm OUT" SINE, 0, "MSAP", kTypeOnly, "Microsoft ADPCM", "adpcm_ms"},
    {"ffmpeg WAVE mu-law, extensible", "x.wav", FF "-ac 3 -c:a pcm_mulaw OUT", 0, "WVau", 0, "WAVE audio", "pcm_mulaw"},
    {"ffmpeg WAVE A-law, extensible", "x.wav", FF "-ac 3 -c:a pcm_alaw OUT", 0, "WVal", 0, "WAVE audio", "pcm_alaw"},
    {"ffmpeg WAVE float, extensible", "x.wav", FF "-ac 3 -c:a pcm_f32le OUT", 0, "WVfl", 0, "WAVE audio", "pcm_f32le"},
    {"ffmpeg WAVE double, extensible", "x.wav", FF "-c:a pcm_f64le OUT", 0, "WVfl", 0, "WAVE audio", "pcm_f64le"},
    {"ffmpeg Broadcast Wave", "x.wav", FF "-c:a pcm_s16le -write_bext 1 OUT", 0, "BWLN", 0, "WAVE audio", "pcm_s16le"},
    {"libsndfile WAVE float", "x.wav", "sndfile-convert -float32 SRC OUT", 0, "WVfl", 0, "WAVE audio", "pcm_f32le"},

    {"sox NeXT 8", "x.au", SOX "-c 1 -b 8 -e signed OUT" SINE, 0, "NxTS", 0, "Sun/NeXT", "pcm_s8"},
    {"sox NeXT 16", "x.au", SOX "-c 2 -b 16 OUT" SINE, 0, "NxTS", 0, "Sun/NeXT", "pcm_s16be"},
    {"sox NeXT 24", "x.au", SOX "-c 1 -b 24 OUT" SINE, 0, "NxTS", 0, "Sun/NeXT", "pcm_s24be"},
    {"sox NeXT 32", "x.au", SOX "-c 1 -b 32 OUT" SINE, 0, "NxTS", 0, "Sun/NeXT", "pcm_s32be"},
    {"sox NeXT mu-law", "x.au", SOX "-c 1 -e u-law OUT" SINE, 0, "ulaw", 0, "Sun/NeXT", "pcm_mulaw"},
    {"sox NeXT A-law", "x.au", SOX "-c 1 -e a-law OUT" SINE, 0, "NSAL", 0, "Sun/NeXT", "pcm_alaw"},
    {"sox NeXT float", "x.au", SOX "-c 1 -e floating-point -b 32 OUT" SINE, kNeXTUnsupportedDataErr, "", kTypeOnly, "Sun/NeXT", "pcm_f32be"},

    {"libsndfile SD2", "x.sd2", "sndfile-convert -pcm16 SRC OUT", 0, "Sd2f", 0, "", ""},
    {"libsndfile SD2 24", "x.sd2", "sndfile-convert -pcm24 SRC OUT", 0, "Sd2f", 0, "", ""},
    {"libsndfile PARIS big-endian", "x.paf", "sndfile-convert -pcm16 SRC OUT", 0, " paf", 0, "", "pcm_s16be"},
    {"libsndfile PARIS little-endian", "x.paf", "sndfile-convert -pcm16 -endian=little SRC OUT", 0, " paf", 0, "", "pcm_s16le"},
    {"libsndfile PARIS 24", "x.paf", "sndfile-convert -pcm24 SRC OUT", 0, " paf", 0, "", ""},

    {"sox VOC 8", "x.voc", SOX "-c 1 -b 8 OUT" SINE, 0, "VOC ", 0, "Creative Labs voice", "pcm_u8"},
    {"libsndfile VOC 8", "x.voc", "sndfile-convert -pcmu8 SRC OUT", 0, "VOC ", 0, "Creative Labs voice", "pcm_u8"},
    // 16-bit data comes in a sound-data block of the new kind (9): without a block
    // of type 8 the file is 'VOC ', whose class finds no 8-bit sound-data block.
    // sox declares that block 8 bytes short, so the walk goes on among the
    // samples: without dither they, and so the outcome, stay the same.
    {"sox VOC 16", "x.voc", SOX "-D -c 1 -b 16 OUT" SINE, 0, "VOC ", kVOCNoSoundDataErr, "Creative Labs voice", "pcm_s16le"},
    {"libsndfile VOC 16", "x.voc", "sndfile-convert -pcm16 SRC OUT", 0, "VOC ", kVOCNoSoundDataErr, "Creative Labs voice", "pcm_s16le"},

    {"sox AVR", "x.avr", SOX "-c 1 -b 8 OUT" SINE, 0, ".AVR", kTypeOnly, "Audio Visual Research", "pcm_s8"},
    {"sox 8SVX", "x.8svx", SOX "-c 1 -b 8 OUT" SINE, 0, "8SVX", kTypeOnly, "8SVX", "pcm_s8_planar"},
    {"sox CAF", "x.caf", SOX "-c 1 -b 16 OUT" SINE, 0, "AVFd", kTypeOnly, "CoreAudio", "pcm_s16be"},
    {"ffmpeg CAF", "x.caf", FF "OUT", 0, "AVFd", kTypeOnly, "CoreAudio", "pcm_s16be"},
};

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// Every frame as libsndfile reads it, full scale ±1.0; empty when it cannot.
std::vector<double> PeerSamples(const std::string& path, int* channels) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<double> samples(static_cast<size_t>(info.frames) * info.channels);
    const sf_count_t got = sf_readf_double(f, samples.data(), info.frames);
    sf_close(f);
    samples.resize(static_cast<size_t>(got) * info.channels);
    *channels = info.channels;
    return samples;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

class DetectionPeerTest : public DetectionTest {
protected:
    void SetUp() override {
        CSoundFile::Cleanup();
        RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
    }
    void TearDown() override {
        CSoundFile::Cleanup();
        DetectionTest::TearDown();
    }
};

TEST_F(DetectionPeerTest, PeerFilesAreTypedAndReadAsThePeersRead) {
    for (const char* program : {"sox", "ffmpeg", "sndfile-convert"})
        if (!HaveProgram(program)) GTEST_SKIP() << program << " is not installed";
    const bool haveFile = HaveProgram("file"), haveProbe = HaveProgram("ffprobe");
    const std::string source = dir / "src.wav";
    ASSERT_TRUE(RunCommand(SOX "-c 1 -b 16 " + Quote(source) + SINE));

    for (const PeerCase& c : kCases) {
        SCOPED_TRACE(c.what);
        // A folder per case, so that no earlier file is taken for a group member.
        const std::string folder = dir / ("case" + std::to_string(&c - kCases));
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        const std::string path = folder + "/" + c.name;
        const std::string command =
            Replace(Replace(c.command, "OUT", Quote(path)), "SRC", Quote(source));
        ASSERT_TRUE(RunCommand(command)) << command;

        const Detected g = Detect(path);
        EXPECT_EQ(g.status, c.detection);
        const OSType type = g.type;
        if (c.detection == 0) {
            EXPECT_EQ(FourCCText(type), c.type);
            EXPECT_TRUE(g.recognized && g.members.empty());
        }

        std::string said;
        if (haveFile && *c.file && RunCommand("file -b " + Quote(path), &said)) {
            EXPECT_NE(said.find(c.file), std::string::npos) << FirstLine(said);
        }
        if (haveProbe && *c.codec &&
            RunCommand("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + Quote(path), &said)) {
            EXPECT_EQ(FirstLine(said), c.codec);
        }

        if (c.detection != 0 || c.open == kTypeOnly) continue;
        SoundFilePtr f(CSoundFile::CreateSoundFile(type));
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(f->ISoundFile(path), 0);
        ASSERT_EQ(f->Open(), c.open);
        if (c.open) continue;
        int channels = 0;
        const std::vector<double> expected = PeerSamples(path, &channels);
        ASSERT_FALSE(expected.empty());
        ASSERT_EQ(f->GetNumChannels(), channels);
        uint32_t frames = f->GetNumSFrames();
        ASSERT_EQ(size_t{frames} * channels, expected.size());
        std::vector<double> read(expected.size());
        ASSERT_EQ(f->Read(0, &frames, read.data()), 0);
        double peak = 0, worst = 0;
        for (size_t i = 0; i < read.size(); ++i) {
            peak = std::max(peak, std::fabs(expected[i]));
            worst = std::max(worst, std::fabs(read[i] - expected[i]));
        }
        // Not silence: ffmpeg's sine has an amplitude of 1/8 (less when spread over
        // three channels), sox's here 1/2.
        EXPECT_GT(peak, 0.05);
        // Both read the same stored values; ours pass through single precision.
        EXPECT_LT(worst, 1e-6);
    }
}

TEST_F(DetectionPeerTest, MonoFilesOfPeersAndOursGroup) {
    if (!HaveProgram("sox") || !HaveProgram("sndfile-convert")) GTEST_SKIP() << "sox or sndfile-convert missing";
    const std::string source = dir / "src.wav";
    ASSERT_TRUE(RunCommand(SOX "-c 1 -b 16 " + Quote(source) + SINE));
    const struct {
        const char* command;  // writes each member; null: our PARIS writer
        std::vector<std::string> names;
        const char* type;
        CSoundFile::ChannelConfiguration config;
        const char* setName;
    } cases[] = {
        {SOX "-c 1 -b 24 OUT" SINE, {"mix.L.wav", "mix.R.wav", "mix.C.wav", "mix.LFE.wav", "mix.Ls.wav", "mix.Rs.wav"},
         "WAVE", CSoundFile::k51, "5.1"},
        {"sndfile-convert -pcm16 SRC OUT", {"sd.L.sd2", "sd.R.sd2"}, "Sd2f", CSoundFile::kStereo, "Stereo"},
        {"sndfile-convert -pcm24 SRC OUT", {"lib-l.paf", "lib-R.paf"}, " paf", CSoundFile::kStereo, "Split stereo"},
        {nullptr, {"take-L.paf", "take-R.paf"}, " paf", CSoundFile::kStereo, "Split stereo"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> paths;
        for (const std::string& name : c.names) {
            paths.push_back(dir / name);
            if (c.command) {
                ASSERT_TRUE(RunCommand(Replace(Replace(c.command, "OUT", Quote(paths.back())), "SRC", Quote(source))));
                continue;
            }
            CParisLinearFile f;
            ASSERT_EQ(f.ISoundFile(paths.back().substr(0, paths.back().size() - 4)), 0);
            ASSERT_EQ(f.Create(1, 16, 8000, nullptr, reinterpret_cast<const unsigned char*>("\x03paf")), 0);
            ASSERT_EQ(f.Close(), 0);
            ASSERT_EQ(f.GetPath(), paths.back());
        }
        for (const std::string& path : paths) {
            SCOPED_TRACE(path);
            const Detected g = Detect(path);
            EXPECT_EQ(g.status, 0);
            EXPECT_EQ(FourCCText(g.type), c.type);
            EXPECT_EQ(g.config, c.config);
            EXPECT_EQ(g.setName, c.setName);
            EXPECT_EQ(g.members, paths);
        }
    }
}

// Every type written here comes back through detection as a type that reads
// it: the same frames for the lossless types; for the coded ones about the
// same length, and the tone's level in the middle of the file.
TEST_F(DetectionPeerTest, EveryWrittenTypeIsRecognisedAndReadBack) {
    using namespace outputtypes;
    platform::ThreadContext context;
    platform::ScopedThreadContext scope{&context};
    const std::vector<OutputType> types = WritableOutputTypes();
    ASSERT_GE(types.size(), 40u);
    // A failure of one type leaves the others to be tried.
    for (const OutputType& t : types) [&] {
        SCOPED_TRACE(FourCCText(t.type));
        const auto frames = static_cast<uint32_t>(t.rate / 2);
        const std::vector<double> tone = Tone(t, frames);
        const std::string folder = dir / ("type" + std::to_string(&t - types.data()));
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        const std::string path = WriteOutput(t, folder + "/out", tone);
        if (path.empty()) return;

        const ReadBack r = ReadThroughDetection(path);
        ASSERT_EQ(r.status, 0) << FourCCText(r.type);
        EXPECT_TRUE(r.recognized);
        ASSERT_EQ(r.channels, t.channels);
        // Creative Voice keeps the rate as a time constant.
        EXPECT_NEAR(r.rate, t.rate, 1.0);
        const size_t got = r.samples.size() / size_t(t.channels);
        if (t.lossless) {
            // 8SVX ends its samples on an even byte with one more silent frame.
            ASSERT_GE(got, frames);
            EXPECT_LE(got, frames + (t.type == FourCC("8SVX")));
            double worst = 0;
            for (size_t i = 0; i < tone.size(); ++i) worst = std::max(worst, std::fabs(r.samples[i] - tone[i]));
            // 8-bit samples are written on a scale of 127 and read on one of 128.
            EXPECT_LE(worst, t.wordSize == 8 ? 1.0 / 128 : 1e-6);
            return;
        }
        // Coders work in frames of up to 1152 samples and may add their delay.
        EXPECT_GE(got + 1152, frames);
        EXPECT_LE(got, frames + 4 * 1152);
        const double expected = Level(tone, t.channels, frames / 4, frames * 3 / 4);
        const double level = Level(r.samples, t.channels, frames / 4, frames * 3 / 4);
        EXPECT_NEAR(20 * std::log10(level / expected), 0.0, 1.5) << level;
    }();
}

}  // namespace
