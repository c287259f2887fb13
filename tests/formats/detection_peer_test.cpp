// Detection of the files that sox, ffmpeg and libsndfile write: each is typed as
// the rules type it, `file` and ffprobe classify it alike, and where its class
// exists it opens and reads the samples libsndfile reads from it.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/detection.h"
#include "formats/register_sound_files.h"
#include "formats/pcm/next_sun_file.h"
#include "formats/pcm/paris_file.h"
#include "formats/pcm/voc_file.h"
#include "formats/pcm/wave_file.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

using formattest::Quote;
using formattest::RunCommand;
using testsupport::HaveProgram;

namespace {

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
    {"ffmpeg WAVE double, extensible", "x.wav", FF "-c:a pcm_f64le OUT", 0, "WVfl", kWAVEUnsupportedDataErr, "WAVE audio", "pcm_f64le"},
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

struct Grouped {
    OSErr status = 1;
    unsigned int type = 0;
    bool recognized = false;
    CSoundFile::ChannelConfiguration config = CSoundFile::kNotSet;
    std::vector<std::string> members;
    std::string setName;
};

Grouped Group(const std::string& path) {
    Grouped g;
    g.status = ResolveFileType(path, g.type, g.recognized, g.members, g.setName, g.config, true);
    return g;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

class DetectionPeerTest : public formattest::FileTest {
protected:
    void SetUp() override {
        CSoundFile::Cleanup();
        RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
    }
    void TearDown() override {
        CSoundFile::Cleanup();
        formattest::FileTest::TearDown();
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

        const Grouped g = Group(path);
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
            const Grouped g = Group(path);
            EXPECT_EQ(g.status, 0);
            EXPECT_EQ(FourCCText(g.type), c.type);
            EXPECT_EQ(g.config, c.config);
            EXPECT_EQ(g.setName, c.setName);
            EXPECT_EQ(g.members, paths);
        }
    }
}

}  // namespace
