// Input type detection over files built byte by byte: the contents tests and
// their order, the Finder type and the fallbacks, and the grouping of mono
// files into split pairs, numbered sets and surround sets.
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
#include "foundation/resource_fork.h"
#include "platform/resource_dir.h"
#include "soundfile/raw_settings.h"
#include "test_support.h"

namespace {

std::string BE32(uint32_t v) {
    std::string s(4, '\0');
    StoreBE32(reinterpret_cast<uint8_t*>(s.data()), v);
    return s;
}
std::string LE32(uint32_t v) {
    std::string s(4, '\0');
    StoreLE32(reinterpret_cast<uint8_t*>(s.data()), v);
    return s;
}
std::string LE16(uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }
std::string BE16(uint16_t v) { return std::string{char(v >> 8), char(v & 0xFF)}; }

std::string Chunk(const std::string& id, const std::string& data, bool little) {
    return id + (little ? LE32(uint32_t(data.size())) : BE32(uint32_t(data.size()))) + data +
           (data.size() % 2 ? std::string(1, '\0') : std::string());
}

// A WAVE file: its format chunk's data begins with `tag` and `channels`; an
// extensible chunk (tag 0xFFFE) names `sub` as its sub-format. `before` comes
// ahead of the format chunk, `after` behind it.
std::string Wave(uint16_t tag, uint16_t channels = 1, uint16_t sub = 1, const std::string& before = "",
                 const std::string& after = "", const char* riff = "RIFF") {
    std::string fmt = LE16(tag) + LE16(channels) + LE32(8000) + LE32(16000u * channels) +
                      LE16(uint16_t(2 * channels)) + LE16(16);
    if (tag == 0xFFFE)
        fmt += LE16(22) + LE16(16) + LE32(0) + LE16(sub) +
               std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    const std::string body = "WAVE" + before + Chunk("fmt ", fmt, true) + after +
                             Chunk("data", std::string(8, '\0'), true);
    return std::string(riff) + LE32(uint32_t(body.size())) + body;
}

std::string Aiff(uint16_t channels = 1, const std::string& extra = "") {
    const std::string comm = BE16(channels) + BE32(4) + BE16(16) +
                             std::string("\x40\x0B\xFA\x00\x00\x00\x00\x00\x00\x00", 10);
    const std::string body =
        "AIFF" + Chunk("COMM", comm, false) + extra + Chunk("SSND", std::string(16, '\0'), false);
    return "FORM" + BE32(uint32_t(body.size())) + body;
}

// An AIFC file whose COMM holds `compression`, or only `commBytes` of its data.
std::string Aifc(const char* compression, size_t commBytes = 22) {
    std::string comm = BE16(1) + BE32(4) + BE16(16) +
                       std::string("\x40\x0B\xFA\x00\x00\x00\x00\x00\x00\x00", 10) + compression;
    comm.resize(commBytes, '\0');
    const std::string body =
        "AIFC" + Chunk("FVER", BE32(0xA2805140), false) + Chunk("COMM", comm, false) +
        Chunk("SSND", std::string(16, '\0'), false);
    return "FORM" + BE32(uint32_t(body.size())) + body;
}

std::string NeXT(uint32_t encoding) {
    return ".snd" + BE32(28) + BE32(8) + BE32(encoding) + BE32(8000) + BE32(1) +
           std::string(12, '\0');
}

std::string Voc(uint8_t blockType) {
    std::string h = "Creative Voice File\x1a";
    h += LE16(26) + LE16(0x010A) + LE16(0x1129);
    return h + std::string(1, char(blockType)) + std::string("\x06\x00\x00\x9C\x00", 5) +
           std::string(4, '\x80') + std::string(1, '\0');
}

std::string Paris(uint32_t channels, bool little = false) {
    std::string h(2048, '\0');
    auto* p = reinterpret_cast<uint8_t*>(h.data());
    std::memcpy(p, little ? "fap " : " paf", 4);
    const uint32_t words[] = {0, 8000, 0, channels, 5};
    for (int i = 0; i < 5; ++i)
        little ? StoreLE32(p + 8 + 4 * i, words[i]) : StoreBE32(p + 8 + 4 * i, words[i]);
    return h + std::string(16, '\0');
}

constexpr OSType kUnset = FourCC("????");

struct Detected {
    OSErr status = 1;
    OSType type = kUnset;
    bool recognized = false;
    CSoundFile::ChannelConfiguration config = CSoundFile::kNotSet;
    std::vector<std::string> members;
    std::string setName;
};

Detected Detect(const std::string& path, bool considerSplit) {
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
    // A file with Finder type and creator in its sidecar (none when both are 0).
    std::string PutWithInfo(const std::string& name, const std::string& bytes, OSType type,
                            OSType creator) {
        const std::string path = Put(name, bytes);
        if (type || creator) {
            EXPECT_EQ(SetFinderInfo(path, type, creator), 0);
        }
        return path;
    }
};

// ---------------------------------------------------------------------------
// The type

TEST_F(DetectionTest, ContentsFinderTypeAndNameSettleTheType) {
    const std::string bext = Chunk("bext", std::string(602, '\0'), true);
    const std::string junk = Chunk("JUNK", std::string(28, '\0'), true);
    struct Case {
        const char* what;
        const char* name;
        std::string bytes;
        OSType finderType, creator;
        OSErr status;
        OSType type;
        bool recognized;
    };
    const OSType none = 0;
    const std::vector<Case> cases = {
        // WAVE: by format tag, extensible by its sub-format, "bext" for Broadcast Wave.
        {"PCM", "x.wav", Wave(1), none, none, 0, FourCC("WAVE"), true},
        {"PCM with bext", "x.wav", Wave(1, 1, 1, "", bext), none, none, 0, FourCC("BWLN"), true},
        {"extensible PCM", "x.wav", Wave(0xFFFE, 1, 1), none, none, 0, FourCC("WAVE"), true},
        {"extensible PCM with bext", "x.wav", Wave(0xFFFE, 1, 1, bext), none, none, 0, FourCC("BWLN"), true},
        {"float", "x.wav", Wave(3), none, none, 0, FourCC("WVfl"), true},
        {"extensible float", "x.wav", Wave(0xFFFE, 1, 3), none, none, 0, FourCC("WVfl"), true},
        {"A-law", "x.wav", Wave(6), none, none, 0, FourCC("WVal"), true},
        {"extensible A-law", "x.wav", Wave(0xFFFE, 1, 6), none, none, 0, FourCC("WVal"), true},
        {"mu-law", "x.wav", Wave(7), none, none, 0, FourCC("WVau"), true},
        {"extensible mu-law", "x.wav", Wave(0xFFFE, 2, 7), none, none, 0, FourCC("WVau"), true},
        {"MS ADPCM", "x.wav", Wave(2), none, none, 0, FourCC("MSAP"), true},
        {"G.729 Annex A", "x.wav", Wave(0x83), none, none, 0, FourCC("G729"), true},
        {"extensible, other sub-format: PCM", "x.wav", Wave(0xFFFE, 1, 0x50), none, none, 0, FourCC("WAVE"), true},
        {"format chunk after another", "x.wav", Wave(3, 1, 1, junk), none, none, 0, FourCC("WVfl"), true},
        {"any first four bytes", "x.wav", Wave(1, 1, 1, "", "", "RIFX"), none, none, 0, FourCC("WAVE"), true},
        {"unknown tag: the name decides", "x.wav", Wave(0x11), none, none, kNotASoundFileErr, kUnset, false},
        {"unknown tag, a known name", "x.au", Wave(0x11), none, none, 0, FourCC("NxTS"), true},
        {"no format chunk", "x.wav", "RIFF" + LE32(12) + "WAVE" + junk, none, none, -22004, kUnset, true},
        {"cut inside the format chunk", "x.mp3", Wave(1, 1, 1, junk).substr(0, 56), none, none, 0, FourCC("Mp3 "), true},
        {"extensible cut before its sub-format", "x.mp3", Wave(0xFFFE).substr(0, 40), none, none, 0, FourCC("Mp3 "), true},
        // NeXT/Sun: by encoding.
        {"NeXT mu-law", "x.snd", NeXT(1), none, none, 0, FourCC("ulaw"), true},
        {"NeXT 8-bit", "x.snd", NeXT(2), none, none, 0, FourCC("NxTS"), true},
        {"NeXT 32-bit", "x.snd", NeXT(5), none, none, 0, FourCC("NxTS"), true},
        {"NeXT A-law", "x.snd", NeXT(27), none, none, 0, FourCC("NSAL"), true},
        {"NeXT G.723 3-bit", "x.au", NeXT(25), none, none, kNeXTUnsupportedDataErr, kUnset, true},
        {"NeXT float, whatever the name", "x.au", NeXT(6), none, none, kNeXTUnsupportedDataErr, kUnset, true},
        // AIFF: Sonic by creator or chunk, Dawn by creator.
        {"AIFF", "x.aif", Aiff(), none, none, 0, FourCC("AIFF"), true},
        {"Sonic by creator, chunks unread", "x.aif", "FORM" + BE32(4) + "AIFF" + std::string(12, '\xFF'),
         FourCC("AIFF"), FourCC("SSYS"), 0, FourCC("SAIF"), true},
        {"Sonic by APPL chunk", "x.aif", Aiff(1, Chunk("APPL", "SSYS" + std::string(4, '\0'), false)),
         none, none, 0, FourCC("SAIF"), true},
        {"APPL of another application", "x.aif", Aiff(1, Chunk("APPL", "XXXX", false)), none, none, 0, FourCC("AIFF"), true},
        {"APPL too short for a signature", "x.aif", Aiff(1, Chunk("APPL", "", false) + "SSYS" + BE32(0)), none, none, 0, FourCC("AIFF"), true},
        {"Dawn by creator", "x.aif", Aiff(), FourCC("AIFF"), FourCC("CARI"), 0, FourCC("Dawn"), true},
        // AIFC: by compression type, exactly the listed ones.
        {"AIFC NONE", "x.aifc", Aifc("NONE"), none, none, 0, FourCC("AIFC"), true},
        {"AIFC sowt", "x.aifc", Aifc("sowt"), none, none, 0, FourCC("AIFC"), true},
        {"AIFC fl32", "x.aifc", Aifc("fl32"), none, none, 0, FourCC("AIFC"), true},
        {"AIFC in24", "x.aifc", Aifc("in24"), none, none, 0, FourCC("AIFC"), true},
        {"AIFC twos", "x.aifc", Aifc("twos"), none, none, 0, FourCC("AVFd"), true},
        {"AIFC FL32", "x.aifc", Aifc("FL32"), none, none, 0, FourCC("AVFd"), true},
        {"AIFC ima4", "x.aifc", Aifc("ima4"), none, none, 0, FourCC("A1t4"), true},
        {"AIFC COMM without compression", "x.aifc", Aifc("NONE", 18), none, none, kNotASoundFileErr, kUnset, false},
        {"AIFC COMM without compression, a known name", "x.mp3", Aifc("NONE", 18), none, none, 0, FourCC("Mp3 "), true},
        {"AIFC without COMM", "x.aifc", "FORM" + BE32(4) + "AIFC" + Chunk("FVER", BE32(0), false), none, none, -22204, kUnset, true},
        // The other families.
        {"VOC 8-bit", "x.voc", Voc(1), none, none, 0, FourCC("VOC "), true},
        {"VOC extended", "x.voc", Voc(8), none, none, 0, FourCC("VOC2"), true},
        {"8SVX", "x", "FORM" + BE32(16) + "8SVX" + std::string(12, '\0'), none, none, 0, FourCC("8SVX"), true},
        {"AVR", "x", "2BIT" + std::string(124, '\0'), none, none, 0, FourCC(".AVR"), true},
        {"PARIS big-endian", "x", Paris(1), none, none, 0, FourCC(" paf"), true},
        {"PARIS little-endian", "x", Paris(1, true), none, none, 0, FourCC(" paf"), true},
        // Finder types, then the name, then the fallbacks.
        {"Finder type Mp3, contents ignored", "x.wav", Wave(1), FourCC("Mp3 "), none, 0, FourCC("Mp3 "), true},
        {"Finder type SFIL", "x", std::string(30, 'x'), FourCC("SFIL"), none, 0, FourCC("Sd1f"), true},
        {"Finder type 8SVX", "x", "", FourCC("8SVX"), none, 0, FourCC("8SVX"), true},
        {"Finder type Sd2f without a fork: contents untested", "x.xyz", Wave(1), FourCC("Sd2f"), none,
         kNotASoundFileErr, FourCC("Sd2f"), false},
        {"Finder type Sd2f without a fork, the name", "x.sd2", Wave(1), FourCC("Sd2f"), none, 0, FourCC("Sd2f"), true},
        {"10 bytes named mp3", "x.mp3", std::string(10, 'x'), none, none, 0, FourCC("Mp3 "), true},
        {"name in capitals", "X.MP3", std::string(10, 'x'), none, none, 0, FourCC("Mp3 "), true},
        {"caf goes to the media framework", "x.caf", "caff" + std::string(30, '\0'), none, none, 0, FourCC("AVFd"), true},
        {"unknown contents and name", "x.xyz", std::string(30, 'x'), none, none, kNotASoundFileErr, kUnset, false},
        {"unknown, but Finder type AVFd", "x.xyz", std::string(30, 'x'), FourCC("AVFd"), none, 0, FourCC("AVFd"), false},
        {"empty file", "x", "", none, none, kNotASoundFileErr, kUnset, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(dir.path());
        std::filesystem::create_directory(dir.path());
        const std::string path = PutWithInfo(c.name, c.bytes, c.finderType, c.creator);
        const Detected d = Detect(path, false);
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(FourCCText(d.type), FourCCText(c.type));
        EXPECT_EQ(d.recognized, c.recognized);
        EXPECT_EQ(d.config, c.status ? CSoundFile::kNotSet : CSoundFile::kMultichannel);
        EXPECT_TRUE(d.members.empty());
    }
}

TEST_F(DetectionTest, FilesThatAreNoneAndTheRawSettings) {
    RawSettings raw = CSoundFile::GetRawSettings();
    raw.SetAction(RawSettings::kRawReadAsRaw);
    raw.SetFileType(FourCC("DULW"));
    struct Case {
        const char* what;
        std::string path;
        bool rawAction;
        OSErr status;
        OSType type;
        bool recognized;
    };
    std::filesystem::create_directory(dir / "folder.mp3");
    ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
    const std::vector<Case> cases = {
        {"no file", dir / "none.wav", false, kFileNotFoundErr, kUnset, true},
        {"no file, read as raw", dir / "none.wav", true, kFileNotFoundErr, kUnset, true},
        {"a folder", dir / "folder.mp3", false, kNotASoundFileErr, kUnset, false},
        {"a folder, read as raw", dir / "folder.mp3", true, kNotASoundFileErr, kUnset, false},
        {"a pipe, never read", dir / "pipe.wav", true, kNotASoundFileErr, kUnset, false},
        {"unknown contents, read as raw", Put("x.xyz", std::string(30, 'x')), true, 0, FourCC("DULW"), false},
        {"a WAVE is no raw file", Put("y.xyz", Wave(1)), true, 0, FourCC("WAVE"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CSoundFile::SetRawSettings(c.rawAction ? raw : RawSettings());
        const Detected d = Detect(c.path, true);
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(FourCCText(d.type), FourCCText(c.type));
        EXPECT_EQ(d.recognized, c.recognized);
    }
}

TEST_F(DetectionTest, SoundDesignerForkIsReadWithoutMakingAnything) {
    // The three strings make the fork: such a file is 'Sd2f' whatever its data says.
    const std::string withFork = PutWithInfo("take.xyz", Wave(1), FourCC("Sd2f"), FourCC("Sd2a"));
    QFResourceFile resources(withFork, true);
    for (short id : {1000, 1001, 1002}) resources.WriteStringResource("2", id, "");
    const std::string lacking = PutWithInfo("lacking.xyz", Wave(1), FourCC("Sd2f"), 0);
    QFResourceFile(lacking, true).WriteStringResource("2", 1000, "");
    const std::string plain = Put("plain", Wave(1));
    const std::string missing = dir / "missing";

    unsigned int type = 0;
    EXPECT_EQ(ResolveSD2(withFork, type, nullptr), 0);
    EXPECT_EQ(ResolveSD2(lacking, type, nullptr), kNotASoundFileErr);
    EXPECT_EQ(ResolveSD2(plain, type, nullptr), kNotASoundFileErr);
    EXPECT_EQ(ResolveSD2(missing, type, nullptr), kFileNotFoundErr);
    EXPECT_EQ(type, 0u);
    EXPECT_FALSE(XWQF::FileExists(missing));
    EXPECT_FALSE(XWQF::FileExists(XWQF::SidecarPath(plain)));
    EXPECT_FALSE(XWQF::FileExists(XWQF::SidecarPath(missing)));

    const Detected d = Detect(withFork, false);
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(FourCCText(d.type), "Sd2f");
    const Detected e = Detect(lacking, false);
    EXPECT_EQ(e.status, kNotASoundFileErr);
    EXPECT_FALSE(e.recognized);
}

// ---------------------------------------------------------------------------
// Groups

struct GroupCase {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;  // name, bytes
    std::string asked;
    bool numbered;
    OSErr status;
    CSoundFile::ChannelConfiguration config;
    std::string setName;
    std::vector<std::string> members;  // names, in channel order
};

std::vector<std::pair<std::string, std::string>> Monos(const std::vector<std::string>& names,
                                                       const std::string& bytes) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const std::string& name : names) files.emplace_back(name, bytes);
    return files;
}

std::vector<std::pair<std::string, std::string>> operator+(std::vector<std::pair<std::string, std::string>> a,
                                                           const std::vector<std::pair<std::string, std::string>>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(DetectionTest, MonoFilesGroupIntoPairsNumberedAndSurroundSets) {
    const std::string mono = Wave(1), stereo = Wave(1, 2), monoAiff = Aiff(1), paf = Paris(1);
    const auto k51 = Monos({"t.L.wav", "t.R.wav", "t.C.wav", "t.LFE.wav", "t.Ls.wav", "t.Rs.wav"}, mono);
    const auto k50 = Monos({"t.L.wav", "t.R.wav", "t.Ls.wav", "t.Rs.wav", "t.C.wav"}, mono);
    const std::vector<std::string> k51Order = {"t.L.wav", "t.R.wav", "t.C.wav", "t.LFE.wav", "t.Ls.wav", "t.Rs.wav"};
    using C = CSoundFile::ChannelConfiguration;
    const C mono0 = CSoundFile::kMono, multi = CSoundFile::kMultichannel;
    std::vector<std::string> eleven;
    for (int n = 1; n <= 11; ++n) eleven.push_back("c." + std::to_string(n) + ".wav");
    const std::vector<GroupCase> cases = {
        {"stereo pair", Monos({"t.L.wav", "t.R.wav"}, mono), "t.R.wav", false, 0, CSoundFile::kStereo,
         "Stereo", {"t.L.wav", "t.R.wav"}},
        {"5.1 asked from a surround channel", k51, "t.Ls.wav", false, 0, CSoundFile::k51, "5.1", k51Order},
        {"5.0", k50, "t.C.wav", false, 0, CSoundFile::k50, "5.0",
         {"t.L.wav", "t.R.wav", "t.Ls.wav", "t.Rs.wav", "t.C.wav"}},
        {"5.0 and an LFE file: the later row", k50 + Monos({"t.LFE.wav"}, mono), "t.L.wav", false, 0,
         CSoundFile::k51, "5.1", k51Order},
        {"lower-case markers", Monos({"t.l.wav", "t.r.wav", "t.c.wav", "t.lfe.wav", "t.ls.wav", "t.rs.wav"}, mono),
         "t.l.wav", false, 0, CSoundFile::k51, "5.1", {"t.l.wav", "t.r.wav", "t.c.wav", "t.lfe.wav", "t.ls.wav", "t.rs.wav"}},
        {"mixed case, named as on disk", Monos({"t.L.wav", "t.r.wav"}, mono), "t.L.wav", false, 0,
         CSoundFile::kStereo, "Stereo", {"t.L.wav", "t.r.wav"}},
        {"extension in capitals", Monos({"t.L.WAV", "t.R.WAV"}, mono), "t.L.WAV", false, 0,
         CSoundFile::kStereo, "Stereo", {"t.L.WAV", "t.R.WAV"}},
        {"no extension", Monos({"t.L", "t.R"}, mono), "t.R", false, 0, CSoundFile::kStereo, "Stereo", {"t.L", "t.R"}},
        {"partner missing", Monos({"t.L.wav"}, mono), "t.L.wav", false, 0, mono0, "", {}},
        {"partner of another type", Monos({"t.L.wav"}, mono) + Monos({"t.R.wav"}, monoAiff), "t.L.wav",
         false, 0, mono0, "", {}},
        {"a stereo file is no member", Monos({"t.L.wav", "t.R.wav"}, stereo), "t.L.wav", false, 0, multi, "", {}},
        {"a marker inside the name", Monos({"t.Left.wav", "t.R.wav", "t.L.wav"}, mono), "t.Left.wav", false, 0, mono0, "", {}},
        // A candidate that exists but cannot be detected ends the detection with its status.
        {"partner that cannot be detected", Monos({"t.L.wav"}, mono) + Monos({"t.R.wav"}, NeXT(6)),
         "t.L.wav", false, kNeXTUnsupportedDataErr, mono0, "", {}},
        // PARIS pairs.
        {"PARIS as the split writer names them", Monos({"t-L.paf", "t-R.paf"}, paf), "t-R.paf", false, 0,
         CSoundFile::kStereo, "Split stereo", {"t-L.paf", "t-R.paf"}},
        {"PARIS in lower case", Monos({"t-l.paf", "t-r.paf"}, paf), "t-l.paf", false, 0,
         CSoundFile::kStereo, "Split stereo", {"t-l.paf", "t-r.paf"}},
        {"PARIS of both byte orders", Monos({"t-l.paf"}, paf) + Monos({"t-r.paf"}, Paris(1, true)), "t-l.paf",
         false, 0, CSoundFile::kStereo, "Split stereo", {"t-l.paf", "t-r.paf"}},
        {"PARIS without its right file", Monos({"t-l.paf"}, paf), "t-l.paf", false, 0, mono0, "", {}},
        {"PARIS takes no surround set", Monos({"t.L.paf", "t.R.paf"}, paf), "t.L.paf", false, 0, mono0, "", {}},
        // Numbered sets.
        {"numbered", Monos({"a.1.wav", "a.2.wav", "a.3.wav"}, mono), "a.2.wav", true, 0, multi,
         "Split Multichannel", {"a.1.wav", "a.2.wav", "a.3.wav"}},
        {"numbered, flag off", Monos({"a.1.wav", "a.2.wav", "a.3.wav"}, mono), "a.2.wav", false, 0, mono0, "", {}},
        {"numbered, a gap before the file", Monos({"a.1.wav", "a.3.wav"}, mono), "a.3.wav", true, 0, mono0, "", {}},
        {"numbered, a gap after it", Monos({"a.1.wav", "a.2.wav", "a.4.wav"}, mono), "a.1.wav", true, 0, multi,
         "Split Multichannel", {"a.1.wav", "a.2.wav"}},
        {"numbered from 0", Monos({"b.0.wav", "b.1.wav", "b.2.wav"}, mono), "b.0.wav", true, 0, mono0, "", {}},
        {"numbered alone", Monos({"b.1.wav"}, mono), "b.1.wav", true, 0, mono0, "", {}},
        {"numbered past nine", Monos(eleven, mono), "c.5.wav", true, 0, multi, "Split Multichannel", eleven},
        {"numbered, another type ends the run", Monos({"a.1.wav", "a.2.wav"}, mono) + Monos({"a.3.wav"}, monoAiff),
         "a.1.wav", true, 0, multi, "Split Multichannel", {"a.1.wav", "a.2.wav"}},
        {"numbered AIFF", Monos({"a.1.aif", "a.2.aif"}, monoAiff), "a.1.aif", true, 0, multi,
         "Split Multichannel", {"a.1.aif", "a.2.aif"}},
    };
    for (const GroupCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(dir.path());
        std::filesystem::create_directory(dir.path());
        for (const auto& [name, bytes] : c.files) Put(name, bytes);
        CSoundFile::SetRecognizeNumberedFilesAsSplitMultichannel(c.numbered);
        const Detected d = Detect(dir / c.asked, true);
        EXPECT_EQ(d.status, c.status);
        if (c.status) continue;
        EXPECT_EQ(d.config, c.config);
        EXPECT_EQ(d.setName, c.setName);
        std::vector<std::string> expected;
        for (const std::string& name : c.members) expected.push_back(dir / name);
        EXPECT_EQ(d.members, expected);
        // Without grouping, every file is taken on its own.
        const Detected alone = Detect(dir / c.asked, false);
        EXPECT_EQ(alone.config, CSoundFile::kMultichannel);
        EXPECT_TRUE(alone.members.empty());
    }
}

TEST_F(DetectionTest, AMarkerNeverReachesIntoTheFolderName) {
    // take.paf lies in a folder whose name carries a PARIS marker; beside the
    // folder lie two PARIS files that the folder's name would point at.
    std::filesystem::create_directory(dir / "x-l");
    Put("x-l.paf", Paris(1));
    Put("x-r.paf", Paris(1));
    Put("x-l/take.paf", Paris(1));
    Put("x-l/take.wav", Wave(1));
    for (const char* name : {"x-l/take.paf", "x-l/take.wav"}) {
        SCOPED_TRACE(name);
        const Detected d = Detect(dir / name, true);
        EXPECT_EQ(d.status, 0);
        EXPECT_EQ(d.config, CSoundFile::kMono);
        EXPECT_TRUE(d.members.empty());
    }
}

TEST_F(DetectionTest, ProbeFailuresComeBackAsStatuses) {
    // Typed 'AIFF' by its first bytes, but without a COMM chunk to count channels.
    const std::string noComm = Put("n.aif", "FORM" + BE32(16) + "AIFF" + Chunk("XXXX", std::string(4, '\0'), false));
    const Detected d = Detect(noComm, true);
    EXPECT_EQ(d.status, -22204);
    EXPECT_TRUE(d.members.empty());
    EXPECT_EQ(Detect(noComm, false).status, 0);
}

// The surround table is found among the resources; these tests point the
// resource folder elsewhere for a while.
class SurroundTableTest : public DetectionTest {
protected:
    void SetUp() override {
        // The type tables stay as loaded from the real resources.
        CSoundFile::KnownNameExtensions();
        if (const char* old = std::getenv("CORVANE_RESOURCE_DIR")) saved_ = old;
        real_ = platform::ResourceDir();
        ReleaseDetectionTables();
    }
    void TearDown() override {
        if (saved_)
            ::setenv("CORVANE_RESOURCE_DIR", saved_->c_str(), 1);
        else
            ::unsetenv("CORVANE_RESOURCE_DIR");
        ReleaseDetectionTables();
        DetectionTest::TearDown();
    }
    void UseResources(const std::string& folder) { ::setenv("CORVANE_RESOURCE_DIR", folder.c_str(), 1); }

    std::optional<std::string> saved_;
    std::string real_;
    testsupport::TempDir resources_;
};

TEST_F(SurroundTableTest, AMissingTableIsAStatusAndAnEmptyOneIsLoadedAgain) {
    Put("t.L.wav", Wave(1));
    Put("t.R.wav", Wave(1));
    UseResources(resources_.path());
    EXPECT_EQ(Detect(dir / "t.L.wav", true).status, kFileNotFoundErr);

    testsupport::WriteFile(resources_ / "surround.qfdb", "cc\tindicators\tname\n");
    Detected d = Detect(dir / "t.L.wav", true);
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(d.config, CSoundFile::kMono);

    testsupport::WriteFile(resources_ / "surround.qfdb", "cc\tindicators\tname\n1\t.L|.R\tPair\n");
    d = Detect(dir / "t.L.wav", true);
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(d.config, CSoundFile::kStereo);
    EXPECT_EQ(d.setName, "Pair");

    // Loaded once with rows, the table stays.
    testsupport::WriteFile(resources_ / "surround.qfdb", "cc\tindicators\tname\n1\t.L|.R\tOther\n");
    EXPECT_EQ(Detect(dir / "t.L.wav", true).setName, "Pair");
}

TEST_F(SurroundTableTest, UnusableRowsArePassedOver) {
    Put("t.L.wav", Wave(1));
    Put("t.R.wav", Wave(1));
    UseResources(resources_.path());
    testsupport::WriteFile(resources_ / "surround.qfdb",
                           "cc\tindicators\tname\n"
                           "1\t.L|.R\tPair\n"
                           "x\t.L|.R\tNo number\n"
                           "12\t.L|.R\tOut of range\n"
                           "2\t\tNo markers\n"
                           "3\t.L|(\tNo expression\n");
    const Detected d = Detect(dir / "t.R.wav", true);
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(d.setName, "Pair");
}

TEST_F(SurroundTableTest, TwoThreadsLoadingTheTableAtOnceAgree) {
    for (const char* name : {"t.L.wav", "t.R.wav", "t.C.wav", "t.LFE.wav", "t.Ls.wav", "t.Rs.wav"})
        Put(name, Wave(1));
    for (int round = 0; round < 4; ++round) {
        ReleaseDetectionTables();
        Detected a, b;
        std::thread first([&] { a = Detect(dir / "t.L.wav", true); });
        std::thread second([&] { b = Detect(dir / "t.Rs.wav", true); });
        first.join();
        second.join();
        EXPECT_EQ(a.status, 0);
        EXPECT_EQ(a.config, CSoundFile::k51);
        EXPECT_EQ(a.members, b.members);
        EXPECT_EQ(a.setName, b.setName);
    }
}

}  // namespace
