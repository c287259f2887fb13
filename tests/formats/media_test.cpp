// The media-library formats against ffmpeg: files that ffmpeg (and lame) make
// read here as the same 24-bit samples `ffmpeg -f s24le` gives, in any order of
// windows; outputs written here are what ffprobe says they are and decode; a
// refused, failed, discarded or cancelled output leaves nothing on disk.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "aiff_test_support.h"
#include "format_test_support.h"
#include "formats/detection.h"
#include "formats/media/av_media_file.h"
#include "formats/media/export_session.h"
#include "formats/media/platform_codec_files.h"
#include "formats/pcm/aiff_file.h"
#include "formats/register_sound_files.h"
#include "media_test_support.h"
#include "platform/audio_file_services.h"
#include "test_support.h"

using formattest::Quote;
using formattest::RunCommand;
using testsupport::HaveProgram;

namespace {

OSType Code(const char* text) {
    return HFSTypeCode(std::string("'") + text + "'");
}

// Writes `seconds` of two tones through the Write family and closes the file.
OSErr WriteTones(CSoundFile& f, int channels, double rate, double seconds) {
    const uint32_t frames = static_cast<uint32_t>(rate * seconds);
    std::vector<double> block(4096 * static_cast<size_t>(channels));
    for (uint32_t at = 0; at < frames;) {
        uint32_t n = std::min<uint32_t>(4096, frames - at);
        for (uint32_t i = 0; i < n; ++i)
            for (int c = 0; c < channels; ++c)
                block[i * channels + c] = 0.5 * std::sin(2 * M_PI * (440 + 110 * c) * (at + i) / rate);
        if (OSErr err = f.Write(at, &n, block.data())) return err;
        at += n;
    }
    return 0;
}

class MediaTest : public formattest::FileTest {
protected:
    void SetUp() override {
        if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe")) {
            GTEST_SKIP() << "no ffmpeg";
        }
        CSoundFile::Cleanup();
        RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
        // The temporary files go to a folder of the test's own, to be looked at.
        const char* old = std::getenv("TMPDIR");
        savedTmp_ = old ? old : "";
        hadTmp_ = old != nullptr;
        tmp_ = dir / "tmp";
        std::filesystem::create_directory(tmp_);
        ::setenv("TMPDIR", tmp_.c_str(), 1);
    }
    void TearDown() override {
        if (hadTmp_)
            ::setenv("TMPDIR", savedTmp_.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        CSoundFile::Cleanup();
        FileTest::TearDown();
    }

    // Makes a fixture with ffmpeg from a generated sound: `source` is a lavfi
    // graph, `args` the output options.
    std::string Make(const std::string& name, const std::string& source, const std::string& args) {
        const std::string path = dir / name;
        if (!RunCommand("ffmpeg -v error -y -f lavfi -i " + Quote(source) + " " + args + " " +
                        Quote(path)))
            return std::string();
        return path;
    }

    size_t TempFilesLeft() const {
        size_t n = 0;
        for (const auto& e : std::filesystem::directory_iterator(tmp_)) {
            (void)e;
            ++n;
        }
        return n;
    }

    // A new output of `type` at `name`, created and filled with `seconds` of tones.
    SoundFilePtr Written(const char* type, const std::string& name, short channels, short bits,
                         double rate, double seconds, unsigned char* options = nullptr) {
        SoundFilePtr f(CSoundFile::CreateSoundFile(Code(type)));
        EXPECT_EQ(f->ISoundFile(dir / name), 0);
        EXPECT_EQ(f->Create(channels, bits, static_cast<float>(rate), options, nullptr), 0);
        EXPECT_EQ(WriteTones(*f, channels, rate, seconds), 0);
        return f;
    }

    // The frames a file read here holds, and the frames ffmpeg decodes of it.
    struct Held {
        uint32_t frames = 0;
        size_t decoded = 0;
    };
    // Opens `bytes` as `name` and reads it whole: it holds `frames` frames (0:
    // as many as ffmpeg decodes), is noted as ending early of `declared` (0:
    // not noted), and holds them as ffmpeg decodes them.
    Held ExpectReadAsFfmpeg(const std::string& name, const std::string& bytes, uint32_t frames,
                            uint32_t declared);

    std::string tmp_;
    std::string savedTmp_;
    bool hadTmp_ = false;
};

std::string Ffmpeg24(const std::string& path) {
    std::string out;
    if (!RunCommand("ffmpeg -v error -i " + Quote(path) + " -f s24le -", &out)) return "";
    return out;
}

MediaTest::Held MediaTest::ExpectReadAsFfmpeg(const std::string& name, const std::string& bytes,
                                              uint32_t frames, uint32_t declared) {
    SCOPED_TRACE(name);
    const std::string path = Put(name, bytes);
    const std::string expected = Ffmpeg24(path);
    AVFoundationFile f;
    Held held;
    EXPECT_EQ(f.ISoundFile(path), 0);
    if (f.Open() != 0) {
        ADD_FAILURE() << "does not open";
        return held;
    }
    const size_t frameBytes = size_t{3} * f.GetNumChannels();
    held.decoded = expected.size() / frameBytes;
    held.frames = frames ? frames : static_cast<uint32_t>(held.decoded);
    EXPECT_EQ(f.GetNumSFrames(), held.frames);
    uint32_t noted = 0, stated = 0;
    EXPECT_EQ(f.DataEndsEarly(&noted, &stated), declared != 0);
    if (declared) {
        EXPECT_EQ(noted, held.frames);
        EXPECT_EQ(stated, declared);
    }
    std::vector<uint8_t> got;
    EXPECT_EQ(formattest::ReadAllFrames(f, &got), 0);
    EXPECT_EQ(got.size(), held.frames * frameBytes);
    EXPECT_TRUE(std::string(got.begin(), got.end()) == expected.substr(0, got.size()));
    EXPECT_EQ(f.Close(), 0);
    return held;
}

// A Core Audio file's `bytes` with a packet table just before its 'data'
// chunk: `frames` packets of `frames` valid frames, and no packet sizes (all
// packets are of one size). `size` is the table's size field.
std::string WithPacketTable(std::string bytes, uint64_t frames, uint64_t size = 24) {
    using aifftest::BE64;
    bytes.insert(bytes.find("data"),
                 "pakt" + BE64(size) + BE64(frames) + BE64(frames) + std::string(8, '\0'));
    return bytes;
}

std::string Probe(const std::string& path, const std::string& entries) {
    std::string out;
    RunCommand("ffprobe -v error -select_streams a:0 -show_entries " + entries +
                   " -of default=nw=1:nk=1 " + Quote(path),
               &out);
    return out;
}

// Two tones and a little noise: enough to tell channels and frames apart.
const char* kStereoSource = "aevalsrc=0.4*sin(2*PI*440*t)+0.05*random(0)|0.3*sin(2*PI*660*t):s=44100:d=1.3";

// ---- Reading ---------------------------------------------------------------

struct ReadCase {
    const char* name;
    const char* source;
    const char* args;
    short dataType;
    const char* description;  // null: not checked
};

const ReadCase kReadCases[] = {
    {"a22.mp3", "sine=f=500:r=22050:d=1.2", "-c:a libmp3lame -b:a 64k", 1,
     "MPEG-2 Layer III ('MP3')"},
    {"a44.mp3", kStereoSource, "-c:a libmp3lame -b:a 128k", 1, "MPEG-1 Layer III ('MP3')"},
    {"aac.m4a", kStereoSource, "-c:a aac -b:a 128k", 1, "MPEG-4 Audio"},
    {"lcr.m4a", "sine=f=300:d=0.6,pan=3.0|c0=c0|c1=0.5*c0|c2=0.2*c0", "-c:a aac", 1,
     "MPEG-4 Audio"},
    {"alac.caf", kStereoSource, "-c:a alac", 1, "Core Audio File"},
    {"ima4.aif", kStereoSource, "-c:a adpcm_ima_qt -f aiff", 1, "AIFC"},
    {"alaw.aif", kStereoSource, "-c:a pcm_alaw -f aiff", 1, "AIFC"},
    {"fl32.aif", kStereoSource, "-c:a pcm_f32be -f aiff", 129, "AIFC"},
    {"ima.wav", kStereoSource, "-c:a adpcm_ima_wav", 1, "Compressed Wave"},
    {"float.wav", kStereoSource, "-c:a pcm_f32le", 129, "Compressed Wave"},
    {"six.wav", "sine=f=200:d=0.7,pan=5.1|c0=c0|c1=0.9*c0|c2=0.8*c0|c3=0.1*c0|c4=0.6*c0|c5=0.5*c0",
     "-c:a pcm_s16le", 1, "5.1 Surround Compressed Wave"},
    {"a.flac", kStereoSource, "-c:a flac", 1, "FLAC"},
    {"a.ogg", kStereoSource, "-c:a libvorbis", 1, "Ogg Vorbis"},
    {"a.mpg", kStereoSource, "-c:a mp2 -f mpeg", 1, "MPEG-1 Layer 1 ('MPG')"},
    {"a.au", kStereoSource, "-c:a pcm_s16be", 1, "QuickTime Movie"},
};

TEST_F(MediaTest, ReadsAsFfmpegDecodesInAnyOrderOfWindows) {
    for (const ReadCase& c : kReadCases) {
        SCOPED_TRACE(c.name);
        const std::string path = Make(c.name, c.source, c.args);
        if (path.empty()) {
            ADD_FAILURE() << "ffmpeg could not make the fixture";
            continue;
        }
        const std::string expected = Ffmpeg24(path);
        ASSERT_FALSE(expected.empty());
        AVFoundationFile f;
        ASSERT_EQ(f.ISoundFile(path), 0);
        ASSERT_EQ(f.Open(), 0);
        EXPECT_EQ(f.GetWordSize(), 24);
        EXPECT_EQ(f.GetDataType(), c.dataType);
        if (c.description) {
            EXPECT_EQ(f.GetDescription(), c.description);
        }
        const size_t frameBytes = 3u * static_cast<size_t>(f.GetNumChannels());
        EXPECT_EQ(static_cast<size_t>(f.GetNumSFrames()), expected.size() / frameBytes);

        f.SetSFTBufferSize(1000);
        std::vector<uint8_t> got;
        ASSERT_EQ(formattest::ReadAllFrames(f, &got), 0);
        EXPECT_TRUE(std::string(got.begin(), got.end()) == expected) << "samples differ";

        // Windows in random order, one past the end included: the same bytes,
        // and silence where the stream holds none.
        std::mt19937 rng(7);
        for (int i = 0; i < 8; ++i) {
            const uint32_t frame = rng() % (f.GetNumSFrames() + 500);
            ASSERT_EQ(f.RefreshInputBuffer(frame), 0);
            const size_t from = static_cast<size_t>(frame) * frameBytes;
            for (size_t k = 0; k < 1000 * frameBytes; k += 97) {
                const uint8_t want = from + k < expected.size()
                                         ? static_cast<uint8_t>(expected[from + k])
                                         : 0;
                ASSERT_EQ(f.GetInputBuffer()[k], want) << "frame " << frame << " byte " << k;
            }
        }
        EXPECT_EQ(f.Close(), 0);
        EXPECT_EQ(TempFilesLeft(), 0u) << "the decoded cache stays behind";
    }
}

// How ffmpeg makes a file of each extension the media library offers, from
// kStereoSource; without arguments, why Debian's ffmpeg cannot make one.
struct ExtensionRecipe {
    const char* extension;
    const char* args;
    const char* missing;
};

const ExtensionRecipe kExtensionRecipes[] = {
    {"3g2", "-c:a aac", nullptr},
    {"3gp", "-c:a aac", nullptr},
    {"aac", "-c:a aac -f adts", nullptr},
    {"ac3", "-c:a ac3", nullptr},
    {"adts", "-c:a aac -f adts", nullptr},
    {"amr", nullptr, "no AMR encoder"},
    {"ape", nullptr, "no Monkey's Audio encoder"},
    {"dts", "-c:a dca -strict -2", nullptr},
    {"eac3", "-c:a eac3", nullptr},
    {"ec3", "-c:a eac3 -f eac3", nullptr},
    {"flac", "-c:a flac", nullptr},
    {"isma", "-c:a aac -f ismv", nullptr},
    {"m2a", "-c:a mp2 -f mp2", nullptr},
    {"m4a", "-c:a aac", nullptr},
    {"m4b", "-c:a aac -f ipod", nullptr},
    {"m4r", "-c:a aac -f ipod", nullptr},
    {"mka", "-c:a flac", nullptr},
    {"mlp", "-c:a mlp -strict -2 -ar 48000", nullptr},
    {"mp1", "-c:a mp2 -f mp2", nullptr},  // no Layer I encoder: a Layer II stream
    {"mp2", "-c:a mp2", nullptr},
    {"mp3", "-c:a libmp3lame", nullptr},
    {"mp4", "-c:a aac", nullptr},
    {"mpa", "-c:a mp2 -f mp2", nullptr},
    {"mpc", nullptr, "no Musepack encoder"},
    {"oga", "-c:a libvorbis", nullptr},
    {"ogg", "-c:a libvorbis", nullptr},
    {"opus", "-c:a libopus", nullptr},
    {"shn", nullptr, "no Shorten encoder"},
    {"spx", "-c:a libspeex -ar 16000 -ac 1", nullptr},
    {"tak", nullptr, "no TAK encoder"},
    {"thd", "-c:a truehd -strict -2 -ar 48000", nullptr},
    {"tta", "-c:a tta", nullptr},
    {"w64", "-c:a pcm_s24le", nullptr},
    {"webm", "-c:a libopus", nullptr},
    {"wv", "-c:a wavpack", nullptr},
};

TEST_F(MediaTest, EveryOfferedExtensionIsRecognisedAndReadsAsFfmpegDecodes) {
    std::string skipped;
    for (const std::string& ext : platform::AudioFileReadableExtensions()) {
        SCOPED_TRACE(ext);
        const ExtensionRecipe* recipe = nullptr;
        for (const ExtensionRecipe& r : kExtensionRecipes)
            if (ext == r.extension) recipe = &r;
        if (!recipe) {
            ADD_FAILURE() << "offered, but this test cannot make such a file";
            continue;
        }
        if (!recipe->args) {
            skipped += " ." + ext + " (" + recipe->missing + ")";
            continue;
        }
        const std::string path = Make("take." + ext, kStereoSource, recipe->args);
        ASSERT_FALSE(path.empty()) << "ffmpeg could not make the file";
        const std::string expected = Ffmpeg24(path);
        ASSERT_FALSE(expected.empty());

        // Detection takes it by its name to the media library's classes.
        OSType type = 0;
        bool recognized = false;
        std::vector<std::string> members;
        std::string setName;
        CSoundFile::ChannelConfiguration config = CSoundFile::kNotSet;
        ASSERT_EQ(ResolveFileType(path, type, recognized, members, setName, config, false), 0);
        EXPECT_TRUE(recognized);
        const OSType wanted = ext == "mp3"                  ? FourCC("Mp3 ")
                              : ext == "m4a" || ext == "mp4" ? FourCC("Mpg4")
                                                             : FourCC("AVFd");
        EXPECT_EQ(type, wanted);

        SoundFilePtr f(CSoundFile::CreateSoundFile(type));
        ASSERT_TRUE(f);
        ASSERT_EQ(f->ISoundFile(path), 0);
        ASSERT_EQ(f->Open(), 0);
        EXPECT_EQ(f->GetWordSize(), 24);
        const size_t frameBytes = 3u * static_cast<size_t>(f->GetNumChannels());
        EXPECT_EQ(static_cast<size_t>(f->GetNumSFrames()), expected.size() / frameBytes);
        std::vector<uint8_t> got;
        ASSERT_EQ(formattest::ReadAllFrames(*f, &got), 0);
        EXPECT_TRUE(std::string(got.begin(), got.end()) == expected) << "samples differ";
        EXPECT_EQ(f->Close(), 0);
    }
    if (!skipped.empty()) std::printf("not made by Debian's ffmpeg, so not read:%s\n", skipped.c_str());
}

TEST_F(MediaTest, InputsWithoutAudioOrOutsideTheDemuxerListDoNotOpen) {
    const std::string video = Make("video.avi", "testsrc=d=0.2:s=64x48", "-c:v mpeg4");
    ASSERT_FALSE(video.empty());
    // A playlist naming a real file is not followed.
    const std::string wav = Make("a.wav", kStereoSource, "-c:a pcm_s16le");
    const std::string list = Put("list.m3u8", "#EXTM3U\n#EXTINF:1,\n" + wav + "\n");
    const std::string concat = Put("c.txt", "ffconcat version 1.0\nfile '" + wav + "'\n");
    // A movie without sound says so; what no demuxer of the list takes is of a
    // format not known here.
    for (const auto& [path, status] :
         {std::pair<std::string, int>{video, kMediaNoAudioErr},
          {list, kNotASoundFileErr},
          {concat, kNotASoundFileErr},
          {Put("junk.bin", std::string(300, 'x')), kNotASoundFileErr}}) {
        AVFoundationFile f;
        ASSERT_EQ(f.ISoundFile(path), 0);
        EXPECT_EQ(f.Open(), status) << path;
        EXPECT_FALSE(f.IsOpen());
    }
    AVFoundationFile missing;
    ASSERT_EQ(missing.ISoundFile(dir / "none.mp3"), 0);
    EXPECT_EQ(missing.Open(), -43);
}

// A 16-bit WAVE file whose format chunk says what the arguments say.
std::string Wave(uint16_t tag, uint16_t channels, uint32_t rate, const std::string& data) {
    std::string b;
    auto u32 = [&b](uint32_t v) { for (int i = 0; i < 4; ++i) b += char(v >> (8 * i)); };
    auto u16 = [&b](uint16_t v) { b += char(v & 0xFF), b += char(v >> 8); };
    b += "RIFF", u32(36 + static_cast<uint32_t>(data.size())), b += "WAVEfmt ", u32(16), u16(tag),
        u16(channels), u32(rate), u32(rate * 2u * channels), u16(2 * channels), u16(16);
    b += "data", u32(static_cast<uint32_t>(data.size()));
    return b + data;
}

// Each damaged input fails with a code that says what is wrong with the file,
// through the generic type and through the MPEG-4 type alike; none stays open
// or leaves a temporary file.
TEST_F(MediaTest, DamagedInputsSayWhatIsWrongWithThem) {
    const std::string m4a = testsupport::ReadFile(Make("whole.m4a", kStereoSource, "-c:a aac"));
    const std::string caf = testsupport::ReadFile(Make("whole.caf", "sine=d=0.2", "-c:a pcm_s16be"));
    const std::string mp3Wave =
        testsupport::ReadFile(Make("mp3.wav", kStereoSource, "-c:a libmp3lame -f wav"));
    const std::string video = Make("video.mp4", "testsrc=d=0.2:s=64x48", "-c:v mpeg4");
    ASSERT_TRUE(m4a.size() > 1000 && caf.size() > 100 && mp3Wave.size() > 1000 && !video.empty());
    // The CAF description's rate (a double) and channel count.
    auto cafWith = [&caf](size_t at, const std::string& field) {
        return std::string(caf).replace(at, field.size(), field);
    };
    const size_t mp3Data = mp3Wave.find("data") + 8;
    ASSERT_NE(mp3Data, std::string::npos + 8);

    const std::pair<std::string, OSErr> cases[] = {
        // The container cannot be opened or probed.
        {Put("cut.m4a", m4a.substr(0, m4a.size() / 2)), kNotASoundFileErr},
        {Put("head.m4a", m4a.substr(0, 40)), kNotASoundFileErr},
        {Put("garbage.mp4", m4a.substr(0, 12) + std::string(2000, '\x5A')), kNotASoundFileErr},
        {Put("cut.caf", caf.substr(0, 12)), kNotASoundFileErr},
        {Put("empty.m4a", ""), kNotASoundFileErr},
        // No audio stream.
        {video, kMediaNoAudioErr},
        // No rate, and more channels than a sound file takes.
        {Put("rate0.caf", cafWith(20, std::string(8, '\0'))), kIncompatibleSampleRateErr},
        {Put("many.caf", cafWith(44, std::string("\0\0\x07\xD0", 4))), kIncompatibleChannelsErr},
        {Put("many.wav", Wave(1, 2000, 8000, std::string(8000, '\0'))), kIncompatibleChannelsErr},
        // No decoder, and an MPEG-coded WAVE cut before its first whole frame.
        {Put("tag.wav", Wave(0x1234, 1, 8000, std::string(400, '\0'))), kMediaUnsupportedDataErr},
        {Put("cut.wav", mp3Wave.substr(0, mp3Data + 3)), kMediaUnsupportedDataErr},
        {Put("nodata.wav", mp3Wave.substr(0, mp3Data)), kMediaUnsupportedDataErr},
    };
    for (const auto& [path, status] : cases) {
        AVFoundationFile f;
        ASSERT_EQ(f.ISoundFile(path), 0);
        EXPECT_EQ(f.Open(), status) << path;
        EXPECT_FALSE(f.IsOpen()) << path;
        OSErr offline = 0;
        EXPECT_EQ(f.GetOfflineInfo(&offline), status) << path;
        CQTMP4File mp4;
        ASSERT_EQ(mp4.ISoundFile(path), 0);
        EXPECT_EQ(mp4.Open(), status) << path;
        EXPECT_FALSE(mp4.IsOpen()) << path;
    }
    EXPECT_EQ(TempFilesLeft(), 0u);

    // A file that is there but cannot be read (root reads it all the same).
    const std::string locked = Put("locked.m4a", m4a);
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    if (::geteuid() != 0) {
        AVFoundationFile f;
        ASSERT_EQ(f.ISoundFile(locked), 0);
        EXPECT_EQ(f.Open(), kReadPermissionErr);
    }
    ::chmod(locked.c_str(), 0644);
    // A not opened object is still told as such.
    AVFoundationFile unopened;
    EXPECT_EQ(unopened.RefreshInputBuffer(0), kFileNotOpenBaseErr);
}

// Stored samples read by the length their packet table states: a file that
// is cut after it was opened ends the read with a failure, never with silence,
// while one that holds fewer bytes than its table states is decoded whole at
// Open and holds what it holds.
TEST_F(MediaTest, StoredSamplesReadByTheirStatedLengthNeverReadAsSilence) {
    const std::string plain = Make("plain.caf", kStereoSource, "-c:a pcm_s16le");
    ASSERT_FALSE(plain.empty());
    const uint64_t frames = 57330;  // 1.3 s at 44.1 kHz
    const std::string bytes = WithPacketTable(testsupport::ReadFile(plain), frames);
    const std::string expected = Ffmpeg24(Put("table.caf", bytes));
    ASSERT_EQ(expected.size(), frames * 6);

    // Cut by one byte before Open: the frames it holds, no more.
    {
        AVFoundationFile f;
        ASSERT_EQ(f.ISoundFile(Put("short.caf", bytes.substr(0, bytes.size() - 1))), 0);
        ASSERT_EQ(f.Open(), 0);
        EXPECT_EQ(f.GetNumSFrames(), frames - 1);
        std::vector<uint8_t> got;
        ASSERT_EQ(formattest::ReadAllFrames(f, &got), 0);
        EXPECT_TRUE(std::string(got.begin(), got.end()) == expected.substr(0, got.size()));
        EXPECT_EQ(f.Close(), 0);
    }
    // Cut to a fifth after Open: the windows it still holds read as they
    // are, and the first that it does not fails.
    AVFoundationFile f;
    const std::string path = Put("cut.caf", bytes);
    ASSERT_EQ(f.ISoundFile(path), 0);
    ASSERT_EQ(f.Open(), 0);
    EXPECT_EQ(f.GetNumSFrames(), frames);
    std::filesystem::resize_file(path, bytes.size() / 5);
    f.SetSFTBufferSize(1000);
    OSErr err = 0;
    uint32_t at = 0;
    for (; at < frames && err == 0; at += 1000) {
        err = f.RefreshInputBuffer(at);
        if (err) break;
        const size_t n = std::min<size_t>(1000, frames - at) * 6;
        ASSERT_EQ(std::memcmp(f.GetInputBuffer(), expected.data() + size_t(at) * 6, n), 0)
            << "frame " << at;
    }
    EXPECT_EQ(err, kEOFErr);
    EXPECT_LT(at, frames / 5);
    EXPECT_EQ(f.Close(), 0);
    EXPECT_EQ(TempFilesLeft(), 0u);
}

// Headers that make stored samples seem held when they are not are doubted:
// the stream is decoded whole at Open, as its honest twin's is, and holds what
// ffmpeg decodes of it. A packet table whose size cannot be sought past hides
// the 'data' chunk from the header walk; a 'desc' that states fewer bytes per
// packet than a frame takes makes the packets end inside frames; a file cut
// inside the 'data' chunk's edit count holds no audio at all.
TEST_F(MediaTest, MisleadingCafHeadersAreDecodedWholeAsTheirTwins) {
    using aifftest::BE64;
    const auto dataSize = [](std::string bytes, uint64_t size) {
        return bytes.replace(bytes.find("data") + 4, 8, BE64(size));
    };
    const uint64_t kUnskippable = (uint64_t{1} << 56) + 24;
    const std::string free = "free" + BE64(20000) + std::string(20000, '\0');
    // 8,000 frames at 8 kHz: 16-bit mono, mu-law stereo whose 'desc' says a
    // packet takes one byte where a frame takes two, and 16-bit stereo whose
    // 'desc' says three bytes where a frame takes four (the library's packets
    // then end inside frames, and the decoder drops what it cannot use).
    const std::string s16 =
        testsupport::ReadFile(Make("s16.caf", "sine=f=440:r=8000:d=1", "-c:a pcm_s16le"));
    std::string ulaw =
        testsupport::ReadFile(Make("ulaw.caf", "sine=f=440:r=8000:d=1", "-ac 2 -c:a pcm_mulaw"));
    ASSERT_FALSE(s16.empty());
    ASSERT_FALSE(ulaw.empty());
    ulaw[ulaw.find("desc") + 12 + 19] = 1;
    std::string s16Stereo =
        testsupport::ReadFile(Make("s16x2.caf", "sine=f=440:r=8000:d=1", "-ac 2 -c:a pcm_s16le"));
    ASSERT_FALSE(s16Stereo.empty());
    s16Stereo[s16Stereo.find("desc") + 12 + 19] = 3;
    const std::string half = dataSize(s16, 8004);

    const struct {
        const char* name;
        std::string bytes;
        uint32_t frames, declared;  // frames 0: as ffmpeg decodes; declared 0: not noted
    } cases[] = {
        {"table16000.caf", WithPacketTable(s16, 16000) + free, 8000, 16000},
        {"unskippable16000.caf", WithPacketTable(s16, 16000, kUnskippable) + free, 8000, 16000},
        {"half_table8000.caf", WithPacketTable(half, 8000) + free, 4000, 0},
        {"half_unskippable8000.caf", WithPacketTable(half, 8000, kUnskippable) + free, 4000, 0},
        {"ulaw_table8000.caf", WithPacketTable(ulaw, 8000), 8000, 16000},
        {"ulaw_table16000.caf", WithPacketTable(ulaw, 16000), 8000, 16000},
        {"s16_bpp3_table8000.caf", WithPacketTable(s16Stereo, 8000), 0, 10666},
    };
    for (const auto& c : cases)
        EXPECT_GE(ExpectReadAsFfmpeg(c.name, c.bytes, c.frames, c.declared).frames, 4000u)
            << c.name;

    // One 8-bit frame whose table states two, cut inside its edit count or
    // right after the chunk header: no whole packet, no output.
    std::string one = testsupport::ReadFile(Make("s8.caf", "sine=f=440:r=8000:d=1", "-c:a pcm_s8"));
    ASSERT_FALSE(one.empty());
    one = WithPacketTable(dataSize(one, 5), 2);
    const size_t editCount = one.find("data") + 12;
    for (const size_t held : {0, 2, 3}) {
        SCOPED_TRACE(held);
        AVFoundationFile f;
        ASSERT_EQ(f.ISoundFile(Put("edit.caf", one.substr(0, editCount + held))), 0);
        EXPECT_EQ(f.Open(), kMediaUnsupportedDataErr);
    }
    AVFoundationFile whole;
    ASSERT_EQ(whole.ISoundFile(Put("one.caf", one.substr(0, editCount + 5))), 0);
    ASSERT_EQ(whole.Open(), 0);
    EXPECT_EQ(whole.GetNumSFrames(), 1u);
    EXPECT_EQ(whole.Close(), 0);
    EXPECT_EQ(TempFilesLeft(), 0u);
}

// Headers that state more frames than their sample chunk holds, with bytes
// after that chunk, so that the file seems to hold them: the library stops at
// the chunk's end, and the stream is decoded whole, holding what ffmpeg
// decodes of it. Each beside its honest twin, which bytes after the chunk
// leave as it was.
TEST_F(MediaTest, OverstatedSampleChunksConvertWhatTheyHold) {
    using mediatest::ReshapedAifc;
    using mediatest::ReshapedWave64;
    const char* kSecond = "sine=f=440:r=8000:d=1";
    const auto made = [&](const char* name, const char* args) {
        const std::string bytes = testsupport::ReadFile(Make(name, kSecond, args));
        EXPECT_FALSE(bytes.empty()) << name;
        return bytes;
    };
    // 8,000 stereo frames at 8 kHz each.
    const std::string ulaw = made("ulaw.aif", "-ac 2 -c:a pcm_mulaw -f aiff");
    const std::string alaw = made("alaw.aif", "-ac 2 -c:a pcm_alaw -f aiff");
    const std::string fl64 = made("fl64.aif", "-ac 2 -c:a pcm_f64be -f aiff");
    const std::string w64Ulaw = made("ulaw.w64", "-ac 2 -c:a pcm_mulaw");
    const std::string w64S16 = made("s16.w64", "-ac 2 -c:a pcm_s16le");
    // Six channels of mu-law whose COMM states 7 frames, where 'SSND' holds 6
    // and 5 bytes of a seventh, then its pad byte.
    std::string six;
    for (int i = 0; i < 41; ++i) six += static_cast<char>(0x80 + 3 * i);
    const std::string sixBytes = aifftest::Form(
        aifftest::AifcComm(6, 7, 8, 48000, "ulaw") + aifftest::Ssnd(six), "AIFC");

    const struct {
        const char* name;
        std::string bytes;
        uint32_t frames, declared;  // declared 0: not noted
    } cases[] = {
        {"ulaw16000.aif", ReshapedAifc(ulaw, 16000, 20000), 8000, 16000},
        {"ulaw8001.aif", ReshapedAifc(ulaw, 8001, 10000), 8000, 0},
        {"ulaw_trailing.aif", ReshapedAifc(ulaw, 0, 20000), 8000, 0},
        {"alaw16000.aif", ReshapedAifc(alaw, 16000, 20000), 8000, 16000},
        {"alaw_trailing.aif", ReshapedAifc(alaw, 0, 20000), 8000, 0},
        {"fl64_16000.aif", ReshapedAifc(fl64, 16000, 130000), 8000, 16000},
        {"fl64_trailing.aif", ReshapedAifc(fl64, 0, 130000), 8000, 0},
        {"ulaw_short_byte.aif", ReshapedAifc(ulaw, 0, 0, 1), 7999, 0},
        {"ulaw_short_frame.aif", ReshapedAifc(ulaw, 0, 0, 2), 7999, 0},
        {"six.aif", sixBytes, 6, 0},
        {"ulaw16000.w64", ReshapedWave64(w64Ulaw, 16000, 20000), 8000, 16000},
        {"ulaw_trailing.w64", ReshapedWave64(w64Ulaw, 0, 20000), 8000, 0},
        {"s16_fact16000.w64", ReshapedWave64(w64S16, 16000, 40000), 8000, 16000},
        {"s16_fact8000.w64", ReshapedWave64(w64S16, 8000, 40000), 8000, 0},
    };
    // Each holds every frame ffmpeg decodes of it.
    for (const auto& c : cases)
        EXPECT_EQ(ExpectReadAsFfmpeg(c.name, c.bytes, c.frames, c.declared).decoded, c.frames)
            << c.name;
    EXPECT_EQ(TempFilesLeft(), 0u);
}

TEST_F(MediaTest, Mpeg4InputReportsItsStreamBitRate) {
    for (const auto& [channels, kbps, expect] :
         {std::tuple{2, 128, 128}, std::tuple{1, 64, 64}, std::tuple{2, 256, 256}}) {
        const std::string path =
            Make("b" + std::to_string(kbps) + ".m4a",
                 "anoisesrc=d=3:a=0.3:c=pink,aformat=channel_layouts=" +
                     std::string(channels == 2 ? "stereo" : "mono"),
                 "-c:a aac -b:a " + std::to_string(kbps) + "k");
        ASSERT_FALSE(path.empty());
        CQTMP4File f;
        ASSERT_EQ(f.ISoundFile(path), 0);
        ASSERT_EQ(f.Open(), 0);
        EXPECT_EQ(f.GetBitRate(), expect) << kbps;
        f.Close();
    }
    // The nearest table value; the lower on a tie; the ends hold.
    for (const auto& [estimate, snapped] :
         {std::pair{0.1, 8.0}, {18.0, 16.0}, {19.0, 20.0}, {60.0, 56.0}, {62.0, 64.0},
          {144.0, 128.0}, {1000.0, 320.0}})
        EXPECT_EQ(CQTMP4File::SnapBitRate(estimate), snapped) << estimate;
}

// A coded input shows the rate it was coded at, as ffprobe reports it: the
// stream's, or the container's when the stream states none (Opus, Vorbis in
// Ogg, FLAC). Stored PCM read through the library counts its samples.
TEST_F(MediaTest, CodedInputsReportTheBitRateTheProbeReports) {
    const struct {
        const char* name;
        const char* args;
        const char* type;
        int expect;  // 0: what ffprobe reports
    } cases[] = {
        {"cbr.mp3", "-c:a libmp3lame -b:a 128k", "Mp3 ", 128},
        {"low.mp3", "-c:a libmp3lame -b:a 32k -ac 1", "Mp3 ", 32},
        {"vbr.mp3", "-c:a libmp3lame -q:a 4", "Mp3 ", 0},
        {"take.mp2", "-c:a mp2 -b:a 192k", "AVFd", 192},
        {"take.ogg", "-c:a libvorbis -b:a 96k", "AVFd", 0},
        {"take.opus", "-c:a libopus -b:a 64k", "AVFd", 0},
        {"take.flac", "-c:a flac", "AVFd", 0},
        {"take.w64", "-c:a pcm_s24le", "AVFd", 2117},  // 44100 Hz x 2 x 24 bits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Make(c.name, kStereoSource, c.args);
        ASSERT_FALSE(path.empty());
        int expect = c.expect;
        if (expect == 0) {
            std::string stream = Probe(path, "stream=bit_rate"), container;
            RunCommand("ffprobe -v error -show_entries format=bit_rate -of default=nw=1:nk=1 " + Quote(path),
                       &container);
            const std::string& stated = std::isdigit(static_cast<unsigned char>(stream[0])) ? stream : container;
            ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(stated[0]))) << stream << container;
            expect = static_cast<int>((std::stoll(stated) + 500) / 1000);
        }
        SoundFilePtr f(CSoundFile::CreateSoundFile(Code(c.type)));
        ASSERT_TRUE(f);
        ASSERT_EQ(f->ISoundFile(path), 0);
        ASSERT_EQ(f->Open(), 0);
        EXPECT_EQ(f->GetBitRate(), expect);
        EXPECT_EQ(f->Close(), 0);
    }
}

// ---- Writing ---------------------------------------------------------------

struct WriteCase {
    const char* type;
    short wordSize;           // or bit rate
    const char specifics[3];  // QTIF byte order and kind
    const char* codec;        // as ffprobe names it
    const char* container;    // ffprobe's format name contains this
    const char* extension;
};

const WriteCase kWriteCases[] = {
    {"QTAL", 8, "", "pcm_alaw", "mov", ".mov"},
    {"QTUL", 8, "", "pcm_mulaw", "mov", ".mov"},
    {"QTIM", 4, "", "adpcm_ima_qt", "mov", ".mov"},
    {"QTIF", 8, "BI", "pcm_s8", "mov", ".mov"},
    {"QTIF", 16, "BI", "pcm_s16be", "mov", ".mov"},
    {"QTIF", 24, "BI", "pcm_s24be", "mov", ".mov"},
    {"QTIF", 24, "LI", "pcm_s24le", "mov", ".mov"},
    {"QTIF", 32, "BI", "pcm_s32be", "mov", ".mov"},
    {"QTIF", 32, "LI", "pcm_s32le", "mov", ".mov"},
    {"QTIF", 32, "BF", "pcm_f32be", "mov", ".mov"},
    {"QTIF", 32, "LF", "pcm_f32le", "mov", ".mov"},
    {"QTIF", 64, "BF", "pcm_f64be", "mov", ".mov"},
    {"QTIF", 64, "LF", "pcm_f64le", "mov", ".mov"},
    {"Mpg4", 64, "", "aac", "mp4", ".m4a"},
    {"Mp3 ", 128, "", "mp3", "mp3", ".mp3"},
};

TEST_F(MediaTest, OutputsHoldThePromisedCodecAndContainerAndDecode) {
    for (const WriteCase& c : kWriteCases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.codec);
        SoundFilePtr f(CSoundFile::CreateSoundFile(Code(c.type)));
        ASSERT_TRUE(f);
        const std::string base = dir / (std::string("out_") + c.codec);
        ASSERT_EQ(f->ISoundFile(base), 0);
        unsigned char specifics[256] = {};
        std::memcpy(specifics, c.specifics, 2);
        ASSERT_EQ(f->Create(2, c.wordSize, 48000, specifics, nullptr), 0);
        const std::string path = f->GetPath();
        EXPECT_EQ(path, base + c.extension);
        ASSERT_EQ(WriteTones(*f, 2, 48000, 1.0), 0);
        EXPECT_EQ(f->Close(), 0);
        f.reset();
        ASSERT_TRUE(std::filesystem::exists(path));
        EXPECT_EQ(Probe(path, "stream=codec_name,sample_rate,channels"),
                  std::string(c.codec) + "\n48000\n2\n");
        EXPECT_NE(Probe(path, "format=format_name").find(c.container), std::string::npos);
        if (Code(c.type) == FourCC("Mpg4")) {
            EXPECT_EQ(Probe(path, "stream=profile"), "LC\n");
            const double bps = std::atof(Probe(path, "stream=bit_rate").c_str());
            EXPECT_NEAR(bps, 128000, 128000 * 0.25) << "64 kbit/s per channel, two channels";
        }
        std::string decoded;
        EXPECT_TRUE(RunCommand("ffmpeg -v error -i " + Quote(path) + " -f s16le -", &decoded));
        EXPECT_NEAR(static_cast<double>(decoded.size()) / 4, 48000, 48000 * 0.05);
        EXPECT_EQ(TempFilesLeft(), 0u);
    }
}

TEST_F(MediaTest, IntegerMoviesKeepEveryBitOfTheirDepth) {
    // Random 24-bit samples come back from ffmpeg unchanged: nothing was cut to 16 bits.
    std::mt19937 rng(3);
    std::vector<uint8_t> samples(3 * 2 * 5000);
    for (auto& b : samples) b = static_cast<uint8_t>(rng());
    for (const char* order : {"BI", "LI"}) {
        SoundFilePtr f(CSoundFile::CreateSoundFile(FourCC("QTIF")));
        ASSERT_EQ(f->ISoundFile(dir / (std::string("deep") + order)), 0);
        unsigned char specifics[256] = {};
        std::memcpy(specifics, order, 2);
        ASSERT_EQ(f->Create(2, 24, 44100, specifics, nullptr), 0);
        ASSERT_EQ(f->GetWordSize(), 24);
        ASSERT_EQ(formattest::WriteBufferForm(*f, 0, samples), 0);
        const std::string path = f->GetPath();
        ASSERT_EQ(f->Close(), 0);
        f.reset();
        const std::string back = Ffmpeg24(path);
        EXPECT_TRUE(back == std::string(samples.begin(), samples.end())) << order;
    }
}

// The shapes the outputs above do not reach through ffprobe: 16-bit little-endian
// and an unknown word size that falls back to 16-bit integers.
TEST_F(MediaTest, IntFloatRecordsDepthAndDataType) {
    struct {
        short wordSize;
        const char* specifics;
        short depth;
        short dataType;
    } const cases[] = {{16, "LI", 16, 0}, {12, "LF", 16, 0}};
    for (const auto& c : cases) {
        CQTIntFloatFile f;
        unsigned char specifics[256] = {};
        std::memcpy(specifics, c.specifics, 2);
        EXPECT_EQ(f.CreateActual(2, c.wordSize, 44100, specifics), 0);
        EXPECT_EQ(f.GetSampleDepth(), c.depth) << c.wordSize << c.specifics;
        EXPECT_EQ(f.GetCodecDataType(), c.dataType) << c.wordSize << c.specifics;
    }
}

TEST_F(MediaTest, TypesWithoutAnEncoderRefuseToBeCreated) {
    for (const char* type : {"QTM3", "QTM6", "QTQD", "QTQP", "QTQ2", "QTPV"}) {
        SoundFilePtr f(CSoundFile::CreateSoundFile(Code(type)));
        ASSERT_TRUE(f) << type;
        ASSERT_EQ(f->ISoundFile(dir / type), 0);
        unsigned char specifics[256] = {};
        EXPECT_EQ(f->Create(2, 16, 44100, specifics, nullptr), kMediaTypeNotWritableErr) << type;
        EXPECT_FALSE(f->IsOpen());
        EXPECT_EQ(CSoundFile::GetFileTypeInfo()
                      .at("'" + std::string(type) + "'")
                      .find("canBeWritten")
                      ->asBool(),
                  false);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1) << "only the temporary folder";
}

TEST_F(MediaTest, DiscardedFullOrFailedOutputsLeaveNothing) {
    // Discarded: no export, no temporary file.
    {
        SoundFilePtr f = Written("Mpg4", "discarded", 2, 64, 44100, 0.5);
        auto* coded = dynamic_cast<CCodedFile*>(f.get());
        ASSERT_TRUE(coded && coded->GetTemporaryPath().rfind(tmp_ + "/", 0) == 0)
            << "the samples are collected in the temporary folder";
        EXPECT_EQ(f.release()->Dispose(0), 0);
        EXPECT_FALSE(std::filesystem::exists(dir / "discarded.m4a"));
        EXPECT_EQ(TempFilesLeft(), 0u);
    }
    // A rate the encoder refuses: a class-1 failure, no output.
    {
        SoundFilePtr f = Written("Mpg4", "badrate", 2, 64, 1234, 0.5);
        EXPECT_EQ(f->Close(), kMediaExportFailedErr);
        EXPECT_FALSE(std::filesystem::exists(dir / "badrate.m4a"));
        EXPECT_EQ(TempFilesLeft(), 0u);
    }
    // The file-size limit reached while exporting: disk full, no output.
    {
        // 64-bit float from 32-bit samples: the output is twice the temporary file.
        unsigned char options[256] = {'L', 'F'};
        SoundFilePtr f = Written("QTIF", "full", 2, 64, 44100, 1.0, options);
        struct sigaction ignore {}, saved {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGXFSZ, &ignore, &saved);
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 500000;  // above the 353 kB temporary file, below the 706 kB output
        ::setrlimit(RLIMIT_FSIZE, &small);
        const OSErr err = f->Close();
        ::setrlimit(RLIMIT_FSIZE, &old);
        ::sigaction(SIGXFSZ, &saved, nullptr);
        EXPECT_EQ(err, -34);
        EXPECT_FALSE(std::filesystem::exists(dir / "full.mov"));
        EXPECT_EQ(TempFilesLeft(), 0u);
    }
    // An output that exists is never replaced or deleted.
    {
        const std::string taken = Put("taken.m4a", "mine");
        SoundFilePtr f = Written("Mpg4", "taken", 1, 64, 44100, 0.2);
        EXPECT_EQ(f->Close(), -48);
        EXPECT_EQ(testsupport::ReadFile(taken), "mine");
    }
}

// An AIFF file, open for reading as a source.
std::unique_ptr<CAIFFFile> OpenAiffSource(const std::string& path) {
    auto f = std::make_unique<CAIFFFile>();
    if (f->ISoundFile(path) != 0 || f->Open() != 0) return nullptr;
    return f;
}

TEST_F(MediaTest, ExportSessionStatusesCancelAndOneExportPerSession) {
    const std::string src = Make("src.aif", kStereoSource, "-c:a pcm_s16be");
    ASSERT_FALSE(src.empty());
    auto source = OpenAiffSource(src);
    ASSERT_TRUE(source);
    MediaExportSession::AudioSettings aac{"aac", 128000, 0, 0};

    MediaExportSession noOutput(source.get());
    noOutput.SetOutputFileType("ipod");
    noOutput.SetAudioSettings(aac);
    EXPECT_EQ(noOutput.Export(), MediaExportSession::kStatusFailed);
    EXPECT_EQ(noOutput.GetError().description, "Output URL not set");
    EXPECT_EQ(noOutput.GetErrorCode(), kMediaExportFailedErr);

    // A source with no audio fails at once, with a status of the catalogue.
    CAIFFFile closed;
    MediaExportSession empty(&closed);
    empty.SetOutputFileType("ipod");
    empty.SetOutputPath(dir / "empty.m4a");
    empty.SetAudioSettings(aac);
    EXPECT_EQ(empty.Export(), MediaExportSession::kStatusFailed);
    EXPECT_EQ(empty.GetErrorCode(), kMediaExportFailedErr);
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.m4a"));

    // A cancel before the export does nothing; a second export is refused.
    MediaExportSession once(source.get());
    once.SetOutputFileType("ipod");
    once.SetOutputPath(dir / "once.m4a");
    once.SetAudioSettings(aac);
    once.cancelExport();
    EXPECT_EQ(once.Export(), MediaExportSession::kStatusCompleted);
    EXPECT_EQ(once.GetErrorCode(), 0);
    EXPECT_EQ(once.Export(), MediaExportSession::kStatusFailed);
    EXPECT_TRUE(std::filesystem::exists(dir / "once.m4a"));

    // Cancelled from another thread while it runs: status 5, no output.
    const std::string longSrc = Make("long.aif", "sine=f=300:d=120", "-c:a pcm_s16be");
    auto longSource = OpenAiffSource(longSrc);
    ASSERT_TRUE(longSource);
    MediaExportSession session(longSource.get());
    session.SetOutputFileType("ipod");
    session.SetOutputPath(dir / "cancelled.m4a");
    session.SetAudioSettings(aac);
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        while (!done.load()) {
            session.cancelExport();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const int status = session.Export();
    done = true;
    canceller.join();
    EXPECT_EQ(status, MediaExportSession::kStatusCancelled);
    EXPECT_EQ(session.GetErrorCode(), -128);
    EXPECT_FALSE(std::filesystem::exists(dir / "cancelled.m4a"));
}

TEST_F(MediaTest, CreateWithASourceExportsFromItAndKeepsIt) {
    const std::string src = Make("direct.aif", kStereoSource, "-c:a pcm_s16be");
    auto source = OpenAiffSource(src);
    ASSERT_TRUE(source);
    SoundFilePtr out(CSoundFile::CreateSoundFile(FourCC("Mpg4")));
    ASSERT_EQ(out->ISoundFile(dir / "direct"), 0);
    auto* coded = dynamic_cast<CCodedFile*>(out.get());
    ASSERT_TRUE(coded);
    ASSERT_EQ(coded->Create(source.get(), 2, 64, 44100, nullptr, nullptr), 0);
    EXPECT_EQ(out.release()->Dispose(1), 0);
    EXPECT_EQ(Probe(dir / "direct.m4a", "stream=codec_name,sample_rate,channels"),
              "aac\n44100\n2\n");
    EXPECT_TRUE(source->IsOpen());
    EXPECT_TRUE(std::filesystem::exists(src));
}

}  // namespace
