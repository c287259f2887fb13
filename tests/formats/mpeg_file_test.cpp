// MPEG-1 Layer I and II coding: every frame header we write walked, ffprobe's
// reading of the streams, ffmpeg decoding them, and the quality beside twolame.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "formats/mpeg/mpeg_encode.h"
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
TEST(MPEGStream, DISABLED_QualityProbe) {
    testsupport::TempDir dir;
    const char* synths[] = {"5 sine 440 sine 660", "5 pinknoise vol 0.3", "5 sine 100-15000 vol 0.5",
                            "5 pluck C3 pluck E3 vol 0.4"};
    for (const char* synth : synths) {
        const std::vector<int16_t> samples = SoxSignal(dir.path(), 44100, 2, synth);
        for (int kbps : {64, 128, 192, 256}) {
            const std::string ours = dir / "o.mp2", peer = dir / "t.mp2";
            ASSERT_EQ(EncodeStream(ours, Make(2, 2, 44100, kbps, true), samples), 0);
            WriteRaw(dir / "in.raw", samples);
            formattest::RunCommand("twolame --quiet -r -s 44100 -N 2 -m j -d -b " + std::to_string(kbps) +
                                   " " + dir / "in.raw" + " " + peer);
            const Quality a = Compare(samples, DecodeWithFFmpeg(ours, 2), 2);
            const Quality b = Compare(samples, DecodeWithFFmpeg(peer, 2), 2);
            std::printf("%-28s %3d  ours %6.2f %6.2f (lag %d)  twolame %6.2f %6.2f (lag %d)\n", synth, kbps,
                        a.snr, a.segmentalSnr, a.lag, b.snr, b.segmentalSnr, b.lag);
        }
    }
}
}  // namespace
