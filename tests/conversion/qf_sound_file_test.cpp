// The input list's entry over real files and a scripted format: what is read,
// what becomes playable, the texts shown for failures, groups found from one
// member, display texts, ordering, the archived form and the publication of the
// properties to another thread.
#include "conversion/qf_sound_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "formats/chunk_reader.h"
#include "formats/register_sound_files.h"
#include "foundation/resource_fork.h"
#include "soundfile/raw_settings.h"
#include "soundfile/registry.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

std::string LE16(uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }
std::string LE32(uint32_t v) {
    std::string s(4, '\0');
    StoreLE32(reinterpret_cast<uint8_t*>(s.data()), v);
    return s;
}
std::string BE32(uint32_t v) {
    std::string s(4, '\0');
    StoreBE32(reinterpret_cast<uint8_t*>(s.data()), v);
    return s;
}

// A WAVE file of `frames` silent frames; `tag` 1 is PCM, 6 A-law, 7 µ-law.
std::string Wave(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t frames, uint16_t tag = 1) {
    const uint32_t block = channels * (bits / 8u);
    const std::string fmt = LE16(tag) + LE16(channels) + LE32(rate) + LE32(rate * block) +
                            LE16(uint16_t(block)) + LE16(bits);
    const std::string data(size_t(frames) * block, tag == 1 ? '\0' : '\xD5');
    const std::string body = "WAVE" + std::string("fmt ") + LE32(uint32_t(fmt.size())) + fmt +
                             "data" + LE32(uint32_t(data.size())) + data;
    return "RIFF" + LE32(uint32_t(body.size())) + body;
}

// A NeXT/Sun µ-law file of `frames` mono frames.
std::string MuLawAu(uint32_t rate, uint32_t frames) {
    return ".snd" + BE32(28) + BE32(frames) + BE32(1) + BE32(rate) + BE32(1) + std::string(4, '\0') +
           std::string(frames, '\xFF');
}

// ---- A scripted format, registered in place of the raw-file type -------------

struct Script {
    OSErr openStatus = 0;
    bool openThrows = false;
    uint32_t frames = 100;
    bool useBitRate = false;
    bool constantBitRate = true;
    uint16_t bitRate = 0;
};
Script gScript;

class ScriptedFile : public CSoundFile {
public:
    OSErr Open() override {
        if (gScript.openThrows) throw std::runtime_error("scripted failure");
        if (gScript.openStatus) return gScript.openStatus;
        sampleRate_ = 8000;
        channels_ = 1;
        numFrames_ = gScript.frames;
        constantBitRate_ = gScript.constantBitRate;
        cachedBitRate_ = gScript.bitRate;
        open_ = true;
        return 0;
    }
    OSErr Close() override {
        if (!open_) return kFileNotOpenBaseErr;
        open_ = false;
        return 0;
    }
    OSErr RefreshInputBuffer(uint32_t) override { return 0; }
    OSErr RefreshOutputBuffer(uint32_t) override { return 0; }
    OSErr SetFilePos(uint32_t) override { return 0; }
    OSErr GetOfflineInfo(OSErr* status) override { return *status = 0; }
    bool UseBitRate() override { return gScript.useBitRate; }
    OSType GetFType() override { return FourCC("DPCM"); }
    std::string GetDescription() override { return "Scripted"; }
};

class QFSoundFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
        gScript = Script();
    }
    void TearDown() override {
        ResetRawSettings();
        QFSoundFile::setSortKey("filename");
        QFSoundFile::setAscendingSort(true);
        CSoundFile::Cleanup();
    }
    std::string Put(const std::string& name, const std::string& bytes) {
        const std::string path = dir_ / name;
        WriteFile(path, bytes);
        return path;
    }
    static void UseScriptedRawType(RawSettings::ERawAction action) {
        auto dispatcher = std::make_shared<SoundFileDispatcher>();
        dispatcher->setCreateFunc([]() -> CSoundFile* { return new ScriptedFile(); });
        ASSERT_TRUE(AttachSoundFileDispatcher(CSoundFile::GetFileTypeInfo(), FourCC("DPCM"),
                                              dispatcher));
        CSoundFile::SetRawSettings(RawSettings(FourCC("DPCM"), 8000, true, 16, action));
    }
    TempDir dir_;
};

// ---------------------------------------------------------------------------

TEST_F(QFSoundFileTest, RealFilesShowTheirProperties) {
    struct Case {
        std::string name, bytes;
        const char *descriptor, *rate, *bits, *length;
        uint16_t bitRate;
        bool playable;
        // A type without a channel layout names no configuration.
        const char* channels = "1 (mono)";
    };
    // Paths are read whole, well past 2048 bytes.
    std::string deep;
    while (deep.size() < 2300) {
        deep += std::string(200, 'd') + "/";
        ASSERT_EQ(::mkdir((dir_ / deep).c_str(), 0755), 0);
    }
    const Case cases[] = {
        {"stereo.wav", Wave(2, 8000, 16, 8000), "Wave", "8000.00 Hz", "16 bits", "00:00:01.000", 256, true, "2 (stereo)"},
        {deep + "deep.wav", Wave(1, 8000, 16, 800), "Wave", "8000.00 Hz", "16 bits", "00:00:00.100", 128, true},
        {"mulaw.au", MuLawAu(8000, 4000), "NeXT/Sun \xCE\xBC-law (.au)", "8000.00 Hz", "8 bits",
         "00:00:00.500", 64, true, "1"},
        {"alaw.wav", Wave(1, 11025, 8, 11025, 6), "Wave A-law", "11025.00 Hz", "8 bits", "00:00:01.000",
         88, true},
        {"lowrate.wav", Wave(1, 999, 16, 999), "Wave", "", "16 bits", "00:00:01.000", 16, true},
        {"oneframe.wav", Wave(1, 8000, 16, 1), "Wave", "8000.00 Hz", "16 bits", "00:00:00.000", 128, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(c.name.rfind('/') + 1));
        const std::string path = Put(c.name, c.bytes);
        const auto f = QFSoundFile::soundFileWithPath(path);
        EXPECT_TRUE(f->infoAvailable());
        ASSERT_NE(f->soundFile(), nullptr);
        EXPECT_EQ(f->descriptor(), c.descriptor);
        EXPECT_EQ(f->displaySampleRate(), c.rate);
        EXPECT_EQ(f->displayWordSize(), c.bits);
        EXPECT_EQ(f->displayBits(), c.bits);
        EXPECT_EQ(f->lengthStr(), c.length);
        EXPECT_EQ(f->timestamps(), "00:00:00.000");
        EXPECT_EQ(f->bitRate(), c.bitRate);
        EXPECT_EQ(f->isPlayable(), c.playable);
        EXPECT_EQ(f->channelDescription(), c.channels);
        EXPECT_EQ(f->size(), c.bytes.size());
        EXPECT_FALSE(f->soundFile()->IsOpen());
        short error = 1;
        const SoundFilePtr made = f->createSoundFile(&error);
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(made->GetPath(), path);
    }
    // A damaged header without a rate is refused with its text, and never played.
    const auto norate = QFSoundFile::soundFileWithPath(Put("norate.wav", Wave(1, 0, 16, 100)));
    EXPECT_FALSE(norate->infoAvailable());
    EXPECT_EQ(norate->soundFile(), nullptr);
    EXPECT_EQ(norate->descriptor(), "has incompatible samplerate");
    EXPECT_FALSE(norate->isPlayable());
}

// A coded media input shows the rate it was coded at in the Bits column's
// form, whatever its type writes; stored PCM read the same way shows its word size.
TEST_F(QFSoundFileTest, CodedMediaInputsShowTheirCodedBitRate) {
    if (!testsupport::HaveProgram("ffmpeg")) GTEST_SKIP() << "no ffmpeg";
    const std::string source = "aevalsrc=0.4*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=44100:d=1";
    const struct {
        const char *name, *args, *bits;
        bool useBitRate;
    } cases[] = {
        {"take.mp3", "-c:a libmp3lame -b:a 128k", "128 kbps", true},
        {"take.mp2", "-c:a mp2 -b:a 192k", "192 kbps", true},
        {"take.w64", "-c:a pcm_s24le", "24 bits", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir_ / c.name;
        const std::string command = "ffmpeg -v error -y -f lavfi -i '" + source + "' " + c.args + " '" +
                                    path + "' </dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const auto f = QFSoundFile::soundFileWithPath(path);
        ASSERT_TRUE(f->infoAvailable());
        EXPECT_EQ(f->displayBits(), c.bits);
        EXPECT_EQ(f->useBitRate(), c.useBitRate);
    }
}

TEST_F(QFSoundFileTest, TimeTextsRoundToMillisecondsAndSurviveBadRates) {
    const struct {
        double rate;
        uint32_t frames;
        const char* text;
    } cases[] = {
        {44100, 44100u * 3723u + 4410u, "01:02:03.100"},
        {2000, 119999, "00:01:00.000"},  // 59.9995 s: never "00:00:60.000"
        {1, 0xFFFFFFFFu, "1193046:28:15.000"},
        {0, 1000, "00:00:00.000"},
        {-8000, 1000, "00:00:00.000"},
        {std::numeric_limits<double>::quiet_NaN(), 1000, "00:00:00.000"},
        {std::numeric_limits<double>::infinity(), 1000, "00:00:00.000"},
        {1e-300, 1000, "00:00:00.000"},
    };
    QFSoundFile f;
    for (const auto& c : cases) {
        f.setSampleRate(c.rate);
        EXPECT_EQ(f.timeFormat(c.frames), c.text) << c.rate << " Hz, " << c.frames << " frames";
    }
}

TEST_F(QFSoundFileTest, ReadingOutcomesOfAnUnrecognisedFile) {
    constexpr auto kRaw = RawSettings::kRawReadAsRaw;
    const struct {
        const char* what;
        RawSettings::ERawAction action;
        Script script;
        bool playable, available;
        const char *descriptor, *bits;
    } cases[] = {
        {"read as raw", kRaw, {}, true, true, "Scripted", "16 bits"},
        {"skipped", RawSettings::kRawSkip, {}, false, false, "not recognized as a sound file", ""},
        {"copied", RawSettings::kRawCopy, {}, false, false, "not recognized as a sound file", ""},
        {"one frame", kRaw, {.frames = 1}, false, true, "Scripted", "16 bits"},
        {"variable bit rate", kRaw, {.useBitRate = true, .constantBitRate = false, .bitRate = 96}, true,
         true, "Scripted", "96 kbps (VBR)"},
        {"right half read alone", kRaw, {.openStatus = -23015}, false, false,
         "Right side of a split stereo file", ""},
        {"movie without sound", kRaw, {.openStatus = -24202}, false, false, "Movie without audio track", ""},
        {"unknown format", kRaw, {.openStatus = -22008}, false, false, "has unknown file format", ""},
        {"code outside the catalogue", kRaw, {.openStatus = -20024}, false, false, "", ""},
        {"opening throws", kRaw, {.openThrows = true}, false, false, "", ""},
    };
    const std::string path = Put("data.xyz", std::string(64, '\x11'));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UseScriptedRawType(c.action);
        gScript = c.script;
        const auto f = QFSoundFile::soundFileWithPath(path);
        EXPECT_EQ(f->isPlayable(), c.playable);
        EXPECT_EQ(f->infoAvailable(), c.available);
        EXPECT_EQ(f->soundFile() != nullptr, c.available);
        EXPECT_EQ(f->descriptor(), c.descriptor);
        EXPECT_EQ(f->displayBits(), c.bits);
        EXPECT_EQ(f->size(), 64u);
    }
}

TEST_F(QFSoundFileTest, EntriesThatAreNotRead) {
    UseScriptedRawType(RawSettings::kRawReadAsRaw);
    const std::string folder = dir_ / "folder";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string dangling = dir_ / "gone.wav";
    ASSERT_EQ(::symlink((dir_ / "missing.wav").c_str(), dangling.c_str()), 0);
    // Read as raw or not, a pipe is never a sound to play.
    const std::string pipe = dir_ / "pipe.xyz";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);

    const struct {
        std::string path;
        bool directory;
        const char* descriptor;
    } cases[] = {{folder, true, "Folder"},
                 {dangling, false, ""},
                 {pipe, false, "not recognized as a sound file"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto f = QFSoundFile::soundFileWithPath(c.path);
        EXPECT_EQ(f->path(), c.path);
        EXPECT_EQ(f->isDirectory(), c.directory);
        EXPECT_EQ(f->descriptor(), c.descriptor);
        EXPECT_FALSE(f->isPlayable());
        EXPECT_FALSE(f->infoAvailable());
        EXPECT_EQ(f->displaySize(), c.directory ? "" : "0 B");
        short error = 1;
        EXPECT_EQ(f->createSoundFile(&error), nullptr);
        EXPECT_EQ(error, 0);
    }
}

TEST_F(QFSoundFileTest, GroupsAreFoundFromAnyMember) {
    const struct {
        std::vector<std::string> members;  // in channel order
        std::string asked;
        OSType type;
        CSoundFile::ChannelConfiguration config;
        const char* setName;
    } cases[] = {
        {{"t.L.wav", "t.R.wav"}, "t.R.wav", FourCC("Splt"), CSoundFile::kStereo, "Stereo"},
        {{"s.L.wav", "s.R.wav", "s.C.wav", "s.LFE.wav", "s.Ls.wav", "s.Rs.wav"}, "s.Ls.wav",
         FourCC("Srnd"), CSoundFile::k51, "5.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        std::vector<std::string> paths;
        for (const std::string& m : c.members) paths.push_back(Put(m, Wave(1, 8000, 16, 100)));
        const auto entry = QFSoundFile::soundFileWithPath(dir_ / c.asked);
        for (const auto& f : {entry, entry->copy()}) {
            EXPECT_EQ(f->hfsFileType(), c.type);
            EXPECT_EQ(f->hfsRealType(), FourCC("WAVE"));
            EXPECT_EQ(f->surround_set(), paths);
            EXPECT_EQ(f->surroundSetName(), c.setName);
            short error = 1;
            SoundFilePtr made = f->createSoundFile(&error);
            EXPECT_EQ(error, 0);
            ASSERT_NE(made, nullptr);
            EXPECT_EQ(made->GetChannelConfiguration(), c.config);
            // The group is named without its channel marker and opens as one file.
            EXPECT_EQ(made->GetPath(), dir_ / (c.asked.substr(0, 1) + ".wav"));
            ASSERT_EQ(made->Open(), 0);
            EXPECT_EQ(made->GetNumChannels(), static_cast<short>(c.members.size()));
        }
    }
}

TEST_F(QFSoundFileTest, FinderInfoForkSizeAndPermissions) {
    const std::string path = Put("tone.wav", Wave(1, 8000, 16, 100));
    const std::string plain = Put("plain.wav", Wave(1, 8000, 16, 100));
    ASSERT_EQ(SetFinderInfo(path, FourCC("WAVE"), FourCC("Cvan")), 0);
    ASSERT_EQ(WriteForkBytes(path, true, std::vector<uint8_t>(300, 7)), 0);

    const auto withSidecar = QFSoundFile::soundFileWithPath(path);
    EXPECT_EQ(withSidecar->size(), Wave(1, 8000, 16, 100).size() + 300);
    EXPECT_EQ(withSidecar->displayHFSType(), "'WAVE'");
    EXPECT_EQ(withSidecar->displayHFSCreator(), "'Cvan'");
    const auto without = QFSoundFile::soundFileWithPath(plain);
    EXPECT_EQ(without->displayHFSType(), "n/a");
    EXPECT_EQ(without->displayHFSCreator(), "n/a");
    EXPECT_NE(without->modificationDate(), 0);
    EXPECT_EQ(without->displayModificationDate().size(), 19u);

    ASSERT_EQ(::chmod(plain.c_str(), 0604), 0);
    EXPECT_EQ(QFSoundFile::soundFileWithPath(plain)->displayPermissions(), "rw----r-- (604)");
    ASSERT_EQ(::chmod(plain.c_str(), 0750), 0);
    EXPECT_EQ(QFSoundFile::soundFileWithPath(plain)->displayPermissions(), "rwxr-x--- (750)");
}

TEST_F(QFSoundFileTest, SortingFollowsTheClassWideKeyAndDirection) {
    std::vector<std::shared_ptr<QFSoundFile>> entries;
    for (const auto& [path, channels] : {std::pair{"/m/beta.wav", 2}, {"/m/Alpha.wav", 6}, {"/m/gamma.wav", 1}}) {
        entries.push_back(std::make_shared<QFSoundFile>());
        entries.back()->setPath(path);
        entries.back()->setNumChannels(int16_t(channels));
    }
    const struct {
        const char* key;
        bool ascending;
        std::vector<std::string> order;
    } cases[] = {
        {"channels", false, {"Alpha.wav", "beta.wav", "gamma.wav"}},
        {"channels", true, {"gamma.wav", "beta.wav", "Alpha.wav"}},
        {"filename", true, {"Alpha.wav", "beta.wav", "gamma.wav"}},  // letter case aside
        {"nonsense", false, {"beta.wav", "Alpha.wav", "gamma.wav"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + (c.ascending ? " ascending" : " descending"));
        QFSoundFile::setSortKey(c.key);
        QFSoundFile::setAscendingSort(c.ascending);
        auto sorted = entries;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const auto& a, const auto& b) { return a->compare(*b) < 0; });
        std::vector<std::string> names;
        for (const auto& f : sorted) names.push_back(f->name());
        EXPECT_EQ(names, c.order);
    }
}

TEST_F(QFSoundFileTest, ArchiveRoundTripAndDamagedArchives) {
    // Codes and counts that use all 32 bits, a size past 4 GiB, a negative count.
    const plist::Dictionary archived = {
        {"path", "/m/\xC3\xA9t\xC3\xA9.wav"}, {"info", "note"}, {"size", 5000000000ll},
        {"icon", "key"}, {"descriptor", "Wave"}, {"lengthStr", "00:00:01.000"}, {"deepCount", -3},
        {"hfsCreator", 0xA9414243u}, {"hfsFileType", FourCC("WAVE")}, {"numChannels", 6},
        {"numRegions", 70000}, {"numBits", 24}, {"numFrames", 0xFFFFFFFFu}, {"isDirectory", false},
        {"isPlayable", true}, {"sampleRate", 44100.5}};
    const plist::Value parsed = plist::Parse(plist::Serialize(plist::Value(archived)));
    ASSERT_NE(parsed.dict(), nullptr);
    EXPECT_EQ(QFSoundFile::unarchive(*parsed.dict())->archive(), archived);

    // Mistyped, negative or missing values leave their properties empty.
    plist::Dictionary damaged = archived;
    damaged["numChannels"] = "six";
    damaged["size"] = -5;
    damaged.erase("path");
    const auto partial = QFSoundFile::unarchive(damaged);
    EXPECT_EQ(partial->numChannels(), 0);
    EXPECT_EQ(partial->size(), 0u);
    EXPECT_EQ(partial->path(), "");
}

TEST_F(QFSoundFileTest, PropertiesArePublishedToAnotherThread) {
    const std::string path = Put("tone.wav", Wave(2, 22050, 16, 22050));
    for (int round = 0; round < 20; ++round) {
        auto f = std::make_shared<QFSoundFile>();
        std::thread adder([f, path] { f->setupWithPath(path); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!f->infoAvailable() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        if (!f->infoAvailable()) {
            adder.join();
            FAIL() << "never published";
        }
        EXPECT_EQ(f->sampleRate(), 22050);
        EXPECT_EQ(f->numFrames(), 22050u);
        EXPECT_EQ(f->numChannels(), 2);
        EXPECT_EQ(f->descriptor(), "Wave");
        EXPECT_EQ(f->lengthStr(), "00:00:01.000");
        EXPECT_EQ(f->name(), "tone");
        adder.join();
    }
}

}  // namespace
