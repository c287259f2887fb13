// MPEG-1 Layer I and II coding: every frame header we write walked, ffprobe's
// reading of the streams, ffmpeg decoding them, and the quality beside twolame.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "formats/mpeg/bwf_mpeg_file.h"
#include "formats/mpeg/mpeg_file.h"
#include "formats/mpeg/mpeg_padding.h"
#include "formats/mpeg/mpeg_stream_encoder.h"
#include "formats/pcm/wave_file.h"
#include "formats/register_sound_files.h"
#include "foundation/pstring.h"
#include "platform/thread_context.h"
#include "mpeg_test_support.h"

using namespace mpeg;
using namespace mpegtest;

namespace {

// Encodes interleaved samples in blocks of `block` frames; the status.
int EncodeStream(const std::string& path, const MPEGStreamEncoder::Settings& settings,
                 const std::vector<int16_t>& samples, uint32_t block = 1000,
                 layer* last = nullptr) {
    MPEGStreamEncoder encoder;
    if (int err = encoder.Begin(path, settings)) return err;
    const uint32_t frames = static_cast<uint32_t>(samples.size() / settings.channels);
    for (uint32_t at = 0; at < frames; at += block) {
        const uint32_t n = std::min(block, frames - at);
        if (int err = encoder.Encode(samples.data() + size_t{at} * settings.channels, n)) {
            encoder.Finish();
            return err;
        }
    }
    const int err = encoder.Finish();
    if (last) *last = encoder.LastHeader();
    return err;
}

MPEGStreamEncoder::Settings Make(int lay, int channels, long rate, int kbps, bool joint = false,
                                 bool padding = true) {
    MPEGStreamEncoder::Settings s;
    s.lay = lay;
    s.channels = channels;
    s.sampleRate = rate;
    s.kbps = kbps;
    s.jointStereo = joint;
    s.padding = padding;
    return s;
}

TEST(MPEGStream, FramesCarryTheHeaderAndTileTheStream) {
    testsupport::TempDir dir;
    std::vector<int16_t> stereo(2 * 44100), mono(44100);
    for (size_t i = 0; i < mono.size(); ++i) {
        mono[i] = static_cast<int16_t>(9000 * std::sin(i * 0.05) + 3000 * std::sin(i * 0.71));
        stereo[2 * i] = mono[i];
        stereo[2 * i + 1] = static_cast<int16_t>(7000 * std::sin(i * 0.031));
    }
    struct Case {
        int lay, channels;
        long rate;
        int kbps;
        bool joint, padding;
        int index, frequency;
    } cases[] = {
        {2, 2, 44100, 128, false, true, 8, 0},  {2, 2, 44100, 128, false, false, 8, 0},
        {2, 2, 48000, 256, true, true, 12, 1},  {2, 1, 32000, 64, true, true, 4, 2},
        {2, 2, 44100, 64, true, true, 4, 0},    {1, 2, 44100, 384, false, true, 12, 0},
        {1, 1, 32000, 32, false, true, 1, 2},   {1, 2, 48000, 128, true, true, 4, 1},
        {2, 2, 44100, 0, false, true, 14, 0},   {1, 2, 44100, 500, false, true, 14, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "layer " << c.lay << " " << c.channels << " ch "
                                        << c.rate << " Hz " << c.kbps << " kbit/s");
        const std::string path = dir / "s.mp";
        std::remove(path.c_str());
        ASSERT_EQ(EncodeStream(path, Make(c.lay, c.channels, c.rate, c.kbps, c.joint, c.padding),
                               c.channels == 2 ? stereo : mono),
                  0);
        const std::string bytes = testsupport::ReadFile(path);
        const std::vector<FrameHeader> frames = WalkFrames(bytes);
        const int perFrame = c.lay == 1 ? 384 : 1152;
        EXPECT_EQ(frames.size(), (44100u + perFrame - 1) / perFrame);
        bool sawPadded = false, sawUnpadded = false, sawJoint = false;
        for (const FrameHeader& h : frames) {
            EXPECT_EQ(h.layer, c.lay);
            EXPECT_EQ(h.bitrateIndex, c.index);
            EXPECT_EQ(h.frequency, c.frequency);
            if (c.channels == 1) {
                EXPECT_EQ(h.mode, 3);
            } else if (!c.joint) {
                EXPECT_EQ(h.mode, 0);
            } else {
                EXPECT_TRUE(h.mode == 0 || h.mode == 1);
            }
            if (h.mode != 1) {
                EXPECT_EQ(h.modeExt, 0);
            }
            sawJoint |= h.mode == 1;
            (h.padding ? sawPadded : sawUnpadded) = true;
        }
        EXPECT_EQ(sawPadded, c.padding && c.frequency == 0);
        if (c.lay == 2 && c.kbps == 64 && c.joint && c.channels == 2) {
            EXPECT_TRUE(sawJoint);
        }
        (void)sawUnpadded;
    }
}

TEST(MPEGStream, PaddingRhythmAtLayerII128) {
    testsupport::TempDir dir;
    const std::vector<int16_t> silence(2 * 1152 * 50, 0);
    for (bool padding : {true, false}) {
        const std::string path = dir / (padding ? "p.mp2" : "n.mp2");
        ASSERT_EQ(EncodeStream(path, Make(2, 2, 44100, 128, false, padding), silence), 0);
        const std::vector<FrameHeader> frames = WalkFrames(testsupport::ReadFile(path));
        ASSERT_EQ(frames.size(), 50u);
        const double average = 1152 / 44.1 * (128 / 8.0);
        const double fraction = average - 417;
        double lag = -fraction;
        for (const FrameHeader& h : frames) {
            int expected = 417;
            if (padding) {
                if (lag > fraction - 1) lag -= fraction;
                else expected = 418, lag += 1 - fraction;
            }
            EXPECT_EQ(h.size, size_t(expected));
        }
    }
}

TEST(MPEGStream, FrameCountsAndEmptyInput) {
    testsupport::TempDir dir;
    for (auto [samples, expected] : {std::pair{1000, 1}, {1152, 1}, {1153, 2}, {0, 0}}) {
        const std::string path = dir / ("c" + std::to_string(samples));
        ASSERT_EQ(EncodeStream(path, Make(2, 2, 48000, 192, true),
                               std::vector<int16_t>(2 * samples, 1000), 7),
                  0);
        EXPECT_EQ(WalkFrames(testsupport::ReadFile(path)).size(), size_t(expected)) << samples;
    }
}

TEST(MPEGStream, RefusesWhatCannotBeEncoded) {
    testsupport::TempDir dir;
    const std::string path = dir / "r";
    MPEGStreamEncoder e;
    EXPECT_EQ(e.Begin(path, Make(2, 1, 44100, 384)), kMPEGBitRateErr);  // the fallback rate too
    EXPECT_EQ(e.Begin(path, Make(2, 1, 44100, 0)), kMPEGBitRateErr);
    EXPECT_EQ(e.Begin(path, Make(2, 2, 44100, 80)), kMPEGStereoBitRateErr);
    EXPECT_EQ(e.Begin(path, Make(1, 2, 44100, 32)), kMPEGStereo32Err);
    EXPECT_EQ(e.Begin(path, Make(2, 2, 22050, 128)), kMPEGBadSampleRateErr);
    EXPECT_EQ(e.Begin(path, Make(2, 3, 44100, 128)), kMPEGChannelsErr);
    EXPECT_EQ(e.Begin("/nonexistent/x.mp2", Make(2, 2, 44100, 128)), kMPEGOpenOutputErr);
    EXPECT_EQ(e.Begin("/dev/full", Make(2, 2, 44100, 128)), 0);
    const std::vector<int16_t> samples(2 * 1152 * 20, 500);
    int err = 0;
    for (int i = 0; i < 20 && err == 0; ++i) err = e.Encode(samples.data(), 1152);
    EXPECT_EQ(err == 0 ? e.Finish() : err, kMPEGDiskErr);
}

TEST(MPEGStream, LoudSamplesStayInTheirCodeRange) {
    // Full-scale square waves put subband peaks above 2.0 (scale-factor index 0).
    testsupport::TempDir dir;
    std::vector<int16_t> square(2 * 1152 * 8);
    for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 2 / 20) % 2 ? 32767 : -32768;
    for (int lay : {1, 2}) {
        const std::string path = dir / ("sq" + std::to_string(lay));
        ASSERT_EQ(EncodeStream(path, Make(lay, 2, 44100, lay == 1 ? 448 : 384), square), 0);
        if (!testsupport::HaveProgram("ffmpeg")) {
            continue;
        }
        const std::vector<int16_t> decoded = DecodeWithFFmpeg(path, 2);
        ASSERT_FALSE(decoded.empty());
        EXPECT_GT(Compare(square, decoded, 2).snr, 10.0) << lay;
    }
}

TEST(MPEGStream, FFprobeReadsWhatWeWrite) {
    if (!testsupport::HaveProgram("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
    testsupport::TempDir dir;
    const std::vector<int16_t> samples = SoxSignal(dir.path(), 48000, 2, "2 sine 300 sine 1200");
    ASSERT_FALSE(samples.empty());
    for (int lay : {1, 2}) {
        const std::string path = dir / (lay == 1 ? "p.mp1" : "p.mp2");
        ASSERT_EQ(EncodeStream(path, Make(lay, 2, 48000, lay == 1 ? 256 : 192, true), samples), 0);
        std::string out;
        ASSERT_TRUE(formattest::RunCommand(
            "ffprobe -v error -show_streams -show_packets -of compact " + formattest::Quote(path),
            &out));
        EXPECT_NE(out.find(lay == 1 ? "codec_name=mp1" : "codec_name=mp2"), std::string::npos);
        EXPECT_NE(out.find("sample_rate=48000"), std::string::npos);
        EXPECT_NE(out.find("channels=2"), std::string::npos);
        EXPECT_NE(out.find(lay == 1 ? "bit_rate=256000" : "bit_rate=192000"), std::string::npos);
        const std::vector<FrameHeader> frames = WalkFrames(testsupport::ReadFile(path));
        size_t packets = 0;
        for (size_t at = out.find("packet|"); at != std::string::npos;
             at = out.find("packet|", at + 1)) {
            const size_t size = out.find("|size=", at);
            ASSERT_NE(size, std::string::npos);
            if (packets < frames.size()) {
                EXPECT_EQ(std::stoul(out.substr(size + 6)), frames[packets].size);
            }
            ++packets;
        }
        EXPECT_EQ(packets, frames.size());
    }
}

}  // namespace

namespace {

// ---- The file classes ------------------------------------------------------------

class MPEGFile : public formattest::FileTest {
protected:
    void SetUp() override { RegisterSoundFiles(CSoundFile::GetFileTypeInfo()); }
    void TearDown() override {
        SetMpegPaddingRequired(true);
        platform::CurrentThreadContext().lastError = 0;
        formattest::FileTest::TearDown();
    }

    // The per-type block: the stereo-mode text, then the annotation at byte 22.
    static std::vector<uint8_t> Specifics(bool joint, const std::string& annotation = "") {
        std::vector<uint8_t> block(256, 0);
        const std::string text = joint ? "MPEG joint stereo   " : "MPEG separate stereo";
        block[0] = 20;
        std::memcpy(block.data() + 1, text.data(), 20);
        std::memcpy(block.data() + 22, annotation.data(), std::min<size_t>(annotation.size(), 234));
        return block;
    }

    // Writes the samples through the buffers and closes; the close status.
    OSErr Write(CSoundFile& file, short channels, short kbps, float rate,
                const std::vector<int16_t>& samples, bool joint = false,
                const std::string& annotation = "") {
        std::vector<uint8_t> block = Specifics(joint, annotation);
        if (OSErr err = file.Create(channels, kbps, rate, block.data(), nullptr)) return err;
        if (!samples.empty())
            if (OSErr err = formattest::WriteBufferForm(file, 0, formattest::Native16(samples)))
                return err;
        return file.Close();
    }

    std::vector<std::string> Names() {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(dir.path().c_str())) {
            while (dirent* e = ::readdir(d))
                if (e->d_name[0] != '.' && !std::strstr(e->d_name, ".dec.raw"))
                    names.push_back(e->d_name);
            ::closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

OSType Code(const char* text) {
    return OSType(uint8_t(text[0])) << 24 | OSType(uint8_t(text[1])) << 16 |
           OSType(uint8_t(text[2])) << 8 | uint8_t(text[3]);
}

std::vector<int16_t> TwoTones(size_t frames, int channels) {
    std::vector<int16_t> s(frames * channels);
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[i * channels + c] = static_cast<int16_t>(6000 * std::sin(i * (0.04 + 0.03 * c)) +
                                                       2000 * std::sin(i * 0.9));
    return s;
}

TEST_F(MPEGFile, CreateRefusesWhatCannotBeEncoded) {
    struct Case {
        const char* type;
        short channels, kbps;
        float rate;
        OSErr status;
    } cases[] = {
        {"MPG1", 2, 32, 44100, -23610}, {"MPG1", 1, 32, 44100, 0},
        {"MPG2", 2, 80, 44100, -23612}, {"MPG2", 2, 48, 48000, -23612},
        {"MPG2", 1, 224, 32000, -23611}, {"MPG2", 1, 0, 44100, -23611},  // 0 encodes as 384
        {"MPG2", 1, 999, 44100, -23611}, {"MPG2", 2, 0, 44100, 0},
        {"MPG2", 2, 128, 22050, -23604}, {"MPG1", 3, 128, 44100, -23613},
        {"MPG2", 3, 128, 22050, -23604},  // the last failing check wins
        {"BWMP", 1, 384, 44100, 0},       // Layer II rates are checked when encoding
        {"BWMP", 3, 128, 44100, -23613},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << " " << c.channels << " ch " << c.kbps);
        std::unique_ptr<CSoundFile> file(CSoundFile::CreateSoundFile(Code(c.type)));
        ASSERT_TRUE(file);
        const std::string path = dir / ("f" + std::to_string(n++));
        ASSERT_EQ(file->ISoundFile(path), 0);
        std::vector<uint8_t> block = Specifics(false);
        EXPECT_EQ(file->Create(c.channels, c.kbps, c.rate, block.data(), nullptr), c.status);
        if (c.status == 0) {
            EXPECT_EQ(file->Close(), std::string(c.type) == "BWMP" ? -23611 : 0);
        }
    }
    // Nothing is left of the refused outputs, the failed encoding or the temporary files.
    for (const std::string& name : Names()) EXPECT_TRUE(name.find("mpegtemp") == std::string::npos) << name;
    EXPECT_EQ(Names().size(), 2u);
}

TEST_F(MPEGFile, WritesFramesAndKeepsNoTemporaryFile) {
    const std::vector<int16_t> samples = TwoTones(1152 * 10 + 17, 2);
    for (const char* type : {"MPG1", "MPG2"}) {
        std::unique_ptr<CSoundFile> file(CSoundFile::CreateSoundFile(Code(type)));
        ASSERT_EQ(file->ISoundFile(dir / type), 0);
        ASSERT_EQ(Write(*file, 2, 192, 48000, samples, true), 0);
        const std::string path = file->GetPath();
        EXPECT_EQ(path, dir / type + (type[3] == '1' ? ".mp1" : ".mp2"));
        const std::vector<FrameHeader> frames = WalkFrames(testsupport::ReadFile(path));
        EXPECT_EQ(frames.size(), type[3] == '1' ? 31u : 11u);
        if (!testsupport::HaveProgram("ffmpeg")) continue;
        const Quality q = Compare(samples, DecodeWithFFmpeg(path, 2), 2);
        EXPECT_GT(q.snr, 25.0) << type;
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"MPG1.mp1", "MPG2.mp2"}));
}

TEST_F(MPEGFile, PaddingSwitchOfTheConversionThread) {
    const std::vector<int16_t> samples = TwoTones(1152 * 6, 1);
    for (bool padding : {true, false}) {
        std::atomic<int> padded{-1};
        std::thread worker([&] {  // another thread's setting is not this one's
            SetMpegPaddingRequired(!padding);
            CMPEG2File file;
            file.ISoundFile(dir / (padding ? "p" : "n"));
            SetMpegPaddingRequired(padding);
            std::vector<uint8_t> block = Specifics(false);
            file.Create(1, 128, 44100, block.data(), nullptr);
            formattest::WriteBufferForm(file, 0, formattest::Native16(samples));
            file.Close();
            int count = 0;
            for (const FrameHeader& h : WalkFrames(testsupport::ReadFile(file.GetPath())))
                count += h.padding;
            padded = count;
        });
        worker.join();
        if (padding) {
            EXPECT_GT(padded.load(), 0);
        } else {
            EXPECT_EQ(padded.load(), 0);
        }
    }
    EXPECT_TRUE(MpegPaddingRequired());
}

TEST_F(MPEGFile, DestroyingAnOpenFileEncodesItAsItsOwnType) {
    auto* file = new CBWFMPEGFile;
    ASSERT_EQ(file->ISoundFile(dir / "open"), 0);
    std::vector<uint8_t> block = Specifics(true);
    ASSERT_EQ(file->Create(2, 128, 48000, block.data(), nullptr), 0);
    ASSERT_EQ(formattest::WriteBufferForm(*file, 0, formattest::Native16(TwoTones(3000, 2))), 0);
    delete file;
    const std::string bytes = testsupport::ReadFile(dir / "open.wav");
    ASSERT_GT(bytes.size(), 966u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(WalkFrames(bytes, 966).front().layer, 2);
}

TEST_F(MPEGFile, StopLeavesNoOutput) {
    CMPEG2File file;
    ASSERT_EQ(file.ISoundFile(dir / "stop"), 0);
    std::vector<uint8_t> block = Specifics(false);
    ASSERT_EQ(file.Create(2, 192, 44100, block.data(), nullptr), 0);
    ASSERT_EQ(formattest::WriteBufferForm(file, 0, formattest::Native16(TwoTones(20000, 2))), 0);
    platform::CurrentThreadContext().lastError = -128;
    EXPECT_EQ(file.Close(), -128);
    EXPECT_TRUE(Names().empty());
}

TEST_F(MPEGFile, EncodesFromASourceAndLeavesItAlone) {
    const std::vector<int16_t> samples = TwoTones(30000, 2);
    std::string wav = dir / "in";
    {
        CWAVEFile out;
        ASSERT_EQ(out.ISoundFile(wav), 0);
        ASSERT_EQ(out.Create(2, 16, 44100, nullptr, nullptr), 0);
        ASSERT_EQ(formattest::WriteBufferForm(out, 0, formattest::Native16(samples)), 0);
        wav = out.GetPath();
        ASSERT_EQ(out.Close(), 0);
    }
    CWAVEFile source;
    ASSERT_EQ(source.ISoundFile(wav), 0);
    ASSERT_EQ(source.Open(), 0);
    CMPEG2File file;
    ASSERT_EQ(file.ISoundFile(dir / "fromsource"), 0);
    std::vector<uint8_t> block = Specifics(true);
    ASSERT_EQ(file.Create(&source, 2, 256, 44100, block.data(), nullptr), 0);
    ASSERT_EQ(file.Close(), 0);
    EXPECT_TRUE(source.IsOpen());
    EXPECT_EQ(source.Close(), 0);
    EXPECT_EQ(WalkFrames(testsupport::ReadFile(dir / "fromsource.mp2")).size(), 27u);
    if (testsupport::HaveProgram("ffmpeg")) {
        EXPECT_GT(Compare(samples, DecodeWithFFmpeg(dir / "fromsource.mp2", 2), 2).snr, 30.0);
    }
}

uint32_t Le32(const std::string& s, size_t at) {
    return uint8_t(s[at]) | uint8_t(s[at + 1]) << 8 | uint8_t(s[at + 2]) << 16 |
           uint32_t(uint8_t(s[at + 3])) << 24;
}
uint16_t Le16(const std::string& s, size_t at) { return uint16_t(uint8_t(s[at]) | uint8_t(s[at + 1]) << 8); }

// The header is written through the output's descriptor: an empty output gets
// the provisional header; after the frames only the lengths, the frame count
// and the last frame's details differ; a descriptor that cannot be written
// gives its status and changes nothing.
TEST_F(MPEGFile, BroadcastWaveHeaderIsWrittenThroughTheOutputsDescriptor) {
    CBWFMPEGFile file;
    ASSERT_EQ(file.ISoundFile(dir / "header"), 0);
    std::vector<uint8_t> block = Specifics(true, "Take 3");
    ASSERT_EQ(file.Create(2, 192, 48000, block.data(), nullptr), 0);
    const std::string path = file.GetPath();
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(file.WriteBWFHeader(fd), 0);
    ::close(fd);
    const std::string provisional = testsupport::ReadFile(path);
    ASSERT_EQ(provisional.size(), 966u);
    EXPECT_EQ(Le32(provisional, 4), 958u);
    EXPECT_EQ(Le32(provisional, 954), 0u);
    EXPECT_EQ(Le32(provisional, 962), 0u);
    EXPECT_EQ(provisional.substr(20, 7), std::string("Take 3\0", 7));

    ASSERT_EQ(formattest::WriteBufferForm(file, 0, formattest::Native16(TwoTones(5000, 2))), 0);
    ASSERT_EQ(file.Close(), 0);
    const std::string final = testsupport::ReadFile(path);
    ASSERT_GT(final.size(), 966u);
    // RIFF length, sound information (48000 Hz: 1), frame count, data length.
    std::vector<size_t> changed;
    for (size_t i = 0; i < 966; ++i)
        if (final[i] != provisional[i]) changed.push_back(i);
    for (size_t at : changed)
        EXPECT_TRUE((at >= 4 && at < 8) || at == 886 || (at >= 954 && at < 958) || (at >= 962 && at < 966))
            << at;
    EXPECT_EQ(Le32(final, 4), final.size() - 8);
    EXPECT_EQ(Le32(final, 954), 5000u);
    EXPECT_EQ(Le16(final, 886), 1);

    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_NE(file.WriteBWFHeader(fd), 0);
    ::close(fd);
    EXPECT_EQ(testsupport::ReadFile(path), final);
}

// A whole Broadcast Wave MPEG file, headers and frames, pinned byte for byte.
TEST_F(MPEGFile, BroadcastWaveFileKeepsItsBytes) {
    const struct {
        short channels, kbps;
        float rate;
        bool joint;
        uint64_t checksum;
    } cases[] = {
        {2, 192, 48000, true, 0x0ee371769ff475e0ull},
        {1, 64, 32000, false, 0x1a292a407e1bf334ull},
        {2, 256, 44100, false, 0x2b00f4d8cdef3316ull},
    };
    for (const auto& c : cases) {
        CBWFMPEGFile file;
        ASSERT_EQ(file.ISoundFile(dir / ("bwf" + std::to_string(c.kbps))), 0);
        ASSERT_EQ(Write(file, c.channels, c.kbps, c.rate, TwoTones(7000, c.channels), c.joint,
                        "Take 1"),
                  0);
        uint64_t h = 14695981039346656037ull;
        for (unsigned char byte : testsupport::ReadFile(file.GetPath())) {
            h ^= byte;
            h *= 1099511628211ull;
        }
        EXPECT_EQ(h, c.checksum) << c.kbps << " 0x" << std::hex << h;
    }
}

TEST_F(MPEGFile, BroadcastWaveHeaderAndChunks) {
    struct Case {
        short channels, kbps;
        float rate;
        bool joint, padding;
        size_t frames;
        uint16_t mode, modeExt;
    } cases[] = {
        {2, 192, 48000, true, true, 5000, 2, 1},  {1, 96, 44100, false, false, 1152 * 3, 8, 0},
        {2, 128, 44100, false, true, 7000, 1, 0}, {2, 0, 32000, false, true, 100, 1, 0},
        {1, 64, 32000, false, true, 0, 8, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        SetMpegPaddingRequired(c.padding);
        CBWFMPEGFile file;
        ASSERT_EQ(file.ISoundFile(dir / ("b" + std::to_string(n++))), 0);
        ASSERT_EQ(Write(file, c.channels, c.kbps, c.rate, TwoTones(c.frames, c.channels), c.joint,
                        "A description"),
                  0);
        const std::string bytes = testsupport::ReadFile(file.GetPath());
        ASSERT_GE(bytes.size(), 966u);
        const uint32_t dataBytes = Le32(bytes, 962);
        EXPECT_EQ(bytes.substr(0, 4), "RIFF");
        EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8);
        EXPECT_EQ(966 + dataBytes + (dataBytes & 1), bytes.size());  // the pad byte
        std::string ids;  // the chunks, walked by their lengths to the end of the file
        size_t at = 12;
        while (at + 8 <= bytes.size()) {
            const uint32_t length = Le32(bytes, at + 4);
            ids += bytes.substr(at, 4) + "=" + std::to_string(length) + " ";
            at += 8 + length + (length & 1);
        }
        EXPECT_EQ(at, bytes.size());
        EXPECT_EQ(ids, "bext=858 mext=12 fmt =40 fact=4 data=" + std::to_string(dataBytes) + " ");
        EXPECT_EQ(bytes.substr(20, 14), std::string("A description\0", 14));
        EXPECT_EQ(bytes.substr(340, 18), "2000:02:07hh:mm:ss");
        EXPECT_EQ(Le16(bytes, 888), 1152);
        EXPECT_EQ(Le16(bytes, 906), 80);
        EXPECT_EQ(Le16(bytes, 908), c.channels);
        EXPECT_EQ(Le32(bytes, 910), uint32_t(c.rate));
        const uint32_t kbps = c.kbps ? c.kbps : 384;  // the rate actually encoded
        EXPECT_EQ(Le32(bytes, 914), kbps * 125);
        EXPECT_EQ(Le16(bytes, 918), 1152);
        EXPECT_EQ(Le16(bytes, 922), 22);
        EXPECT_EQ(Le16(bytes, 924), 2);
        EXPECT_EQ(Le32(bytes, 926), kbps * 1000);
        EXPECT_EQ(Le16(bytes, 930), c.mode);
        EXPECT_EQ(Le16(bytes, 932), c.modeExt);
        EXPECT_EQ(bytes.substr(946, 12), std::string("fact\4\0\0\0", 8) + bytes.substr(954, 4));
        EXPECT_EQ(Le32(bytes, 954), c.frames);
        const std::vector<FrameHeader> frames = WalkFrames(bytes.substr(0, 966 + dataBytes), 966);
        EXPECT_EQ(frames.size(), (c.frames + 1151) / 1152);
        const uint16_t info = Le16(bytes, 886);
        if (!frames.empty() && frames.back().padding) {
            EXPECT_EQ(info, 3);
        } else {
            EXPECT_EQ(info, c.rate == 44100 ? 5 : 1);
        }
        if (c.frames == 0 || !testsupport::HaveProgram("ffprobe")) continue;
        std::string out;
        ASSERT_TRUE(formattest::RunCommand("ffprobe -v error -show_streams -show_format -of compact " +
                                               formattest::Quote(file.GetPath()),
                                           &out));
        EXPECT_NE(out.find("codec_name=mp2"), std::string::npos) << out;
        EXPECT_NE(out.find("tag:comment=A description"), std::string::npos) << out;
        EXPECT_NE(out.find("tag:encoded_by=Originator"), std::string::npos) << out;
        EXPECT_NE(out.find("tag:date=2000:02:07"), std::string::npos) << out;
        EXPECT_FALSE(DecodeWithFFmpeg(file.GetPath(), c.channels).empty());
    }
}

// ---- Quality beside twolame --------------------------------------------------------

// Our Layer II streams and twolame's at the same rate, mode and padding, both
// decoded by ffmpeg: our SNR must reach its floor (set from first measurements,
// a little below them) and stay within a margin of twolame's.
TEST(MPEGQuality, LayerIIBesideTwolame) {
    if (!testsupport::HaveProgram("twolame") || !testsupport::HaveProgram("ffmpeg") ||
        !testsupport::HaveProgram("sox"))
        GTEST_SKIP() << "twolame, ffmpeg or sox is not installed";
    testsupport::TempDir dir;
    struct Case {
        const char* synth;
        int rate, channels, kbps;
        bool joint;
        double floor;
    } cases[] = {
        {"3 sine 440 sine 660", 44100, 2, 192, true, 55},
        {"3 pinknoise vol 0.3", 48000, 2, 256, false, 12},
        {"3 sine 100-15000 vol 0.5", 32000, 1, 96, false, 25},
        {"3 pluck C3 pluck E3 vol 0.4", 44100, 2, 128, true, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.synth);
        const std::vector<int16_t> samples = SoxSignal(dir.path(), c.rate, c.channels, c.synth);
        ASSERT_FALSE(samples.empty());
        const std::string ours = dir / "o.mp2", peer = dir / "t.mp2";
        ASSERT_EQ(EncodeStream(ours, Make(2, c.channels, c.rate, c.kbps, c.joint), samples), 0);
        WriteRaw(dir / "in.raw", samples);
        ASSERT_TRUE(formattest::RunCommand(
            "twolame --quiet -r -s " + std::to_string(c.rate) + " -N " + std::to_string(c.channels) +
            " -m " + (c.channels == 1 ? "m" : c.joint ? "j" : "s") + " -d -b " +
            std::to_string(c.kbps) + " " + formattest::Quote(dir / "in.raw") + " " +
            formattest::Quote(peer)));
        const Quality a = Compare(samples, DecodeWithFFmpeg(ours, c.channels), c.channels);
        const Quality b = Compare(samples, DecodeWithFFmpeg(peer, c.channels), c.channels);
        std::printf("[ quality  ] %-28s %5d Hz %d ch %3d kbit/s  ours %6.2f dB (seg %6.2f)  "
                    "twolame %6.2f dB (seg %6.2f)\n",
                    c.synth, c.rate, c.channels, c.kbps, a.snr, a.segmentalSnr, b.snr,
                    b.segmentalSnr);
        EXPECT_GT(a.snr, c.floor);
        EXPECT_GT(a.snr, b.snr - 3.0);
    }
}

}  // namespace

namespace {

// The whole table (run by scripts/mpeg_quality_table.sh): every signal, rate,
// mode and bit rate; Layer II beside twolame, Layer I alone (no peer encodes it).
TEST(MPEGQuality, DISABLED_FullTable) {
    if (!testsupport::HaveProgram("twolame") || !testsupport::HaveProgram("ffmpeg") ||
        !testsupport::HaveProgram("sox"))
        GTEST_SKIP() << "twolame, ffmpeg or sox is not installed";
    testsupport::TempDir dir;
    const char* signals[] = {"2 sine 440 sine 660", "2 sine 100-15000 vol 0.5",
                             "2 pinknoise vol 0.3", "2 pluck C3 pluck E3 pluck G3 vol 0.4"};
    std::printf("layer signal                           rate ch mode kbit/s   ours SNR  seg   "
                "twolame SNR  seg\n");
    for (int lay : {2, 1})
        for (const char* synth : signals)
            for (int rate : {32000, 44100, 48000})
                for (int channels : {1, 2}) {
                    const std::vector<int16_t> samples = SoxSignal(dir.path(), rate, channels, synth);
                    ASSERT_FALSE(samples.empty());
                    WriteRaw(dir / "in.raw", samples);
                    for (int index = 1; index < 15; ++index) {
                        const int kbps = Kbps(lay, index);
                        if (CheckBitRate(lay, channels, kbps)) continue;
                        const std::string ours = dir / "o.mp", peer = dir / "t.mp2";
                        std::remove(ours.c_str());
                        ASSERT_EQ(EncodeStream(ours, Make(lay, channels, rate, kbps, channels == 2),
                                               samples),
                                  0);
                        const Quality a = Compare(samples, DecodeWithFFmpeg(ours, channels), channels);
                        Quality b;
                        if (lay == 2 &&
                            formattest::RunCommand(
                                "twolame --quiet -r -s " + std::to_string(rate) + " -N " +
                                std::to_string(channels) + " -m " + (channels == 1 ? "m" : "j") +
                                " -d -b " + std::to_string(kbps) + " " +
                                formattest::Quote(dir / "in.raw") + " " + formattest::Quote(peer)))
                            b = Compare(samples, DecodeWithFFmpeg(peer, channels), channels);
                        std::printf("  %d   %-32s %5d %d  %-5s %4d   %7.2f %6.2f   %7.2f %6.2f\n",
                                    lay, synth, rate, channels, channels == 1 ? "mono" : "joint",
                                    kbps, a.snr, a.segmentalSnr, b.snr, b.segmentalSnr);
                        std::fflush(stdout);
                    }
                }
}

}  // namespace
