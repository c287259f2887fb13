// The WAVE variants and Broadcast Wave against the programs of other makers:
// their µ-law, A-law, float and Broadcast Wave files read here with the same
// samples, description and time reference, and ours read by them.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "formats/g711.h"
#include "formats/pcm/aifc_file.h"
#include "formats/pcm/bwf_linear_file.h"
#include "formats/pcm/wave_variants.h"
#include "test_support.h"
#include "wave_test_support.h"

using namespace wavetest;
using testsupport::HaveProgram;
using testsupport::ReadFile;

namespace {

std::vector<int16_t> Random16(size_t samples, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<int16_t> out(samples);
    for (int16_t& s : out) s = static_cast<int16_t>(rng());
    return out;
}

std::string RawLE16(const std::vector<int16_t>& samples) {
    std::string out;
    for (int16_t s : samples) out += LE16(static_cast<uint16_t>(s));
    return out;
}

std::vector<int16_t> FromRawLE16(const std::string& raw) {
    std::vector<int16_t> out;
    for (size_t i = 0; i + 1 < raw.size(); i += 2)
        out.push_back(static_cast<int16_t>(LoadLE16(reinterpret_cast<const uint8_t*>(raw.data()) + i)));
    return out;
}

// Random floats in [-1, 1) as stored, and what they are in the buffer form.
std::string RandomFloats(size_t samples, unsigned seed, std::vector<int32_t>* bufferForm) {
    std::mt19937 rng(seed);
    std::string out;
    bufferForm->clear();
    for (size_t i = 0; i < samples; ++i) {
        const float f = static_cast<float>(static_cast<int32_t>(rng()) / 2147483648.0);
        out += LE32(std::bit_cast<uint32_t>(f));
        bufferForm->push_back(static_cast<int32_t>(static_cast<double>(f) * 2147483648.0));
    }
    return out;
}

// Every sample of a file as libsndfile decodes it to 16 bits.
std::vector<int16_t> SndfileShorts(const std::string& path, SF_INFO* info) {
    *info = SF_INFO{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, info);
    if (!f) return {};
    std::vector<int16_t> out(static_cast<size_t>(info->frames * info->channels));
    sf_read_short(f, out.data(), static_cast<sf_count_t>(out.size()));
    sf_close(f);
    return out;
}

class WaveVariantsPeerTest : public FileTest {
protected:
    std::string Raw(const std::string& bytes) { return Put("in.raw", bytes); }
    // The annotation and time stamp given, and 1001 stereo frames at 48000 Hz.
    std::string WriteBwf(const std::string& name, const std::string& annotation, uint32_t stamp,
                         std::vector<int16_t>* samples) {
        uint8_t block[256] = {};
        std::memcpy(block + CBWFLinearFile::kAnnotationOffset, annotation.data(),
                    std::min<size_t>(annotation.size(), CBWFLinearFile::kAnnotationBytes));
        *samples = Random16(2002, 21);
        CBWFLinearFile w;
        EXPECT_EQ(w.ISoundFile(dir / name), 0);
        EXPECT_EQ(w.Create(2, 16, 48000, block, kWavExtension), 0);
        EXPECT_EQ(WriteBufferForm(w, 0, Native16(*samples)), 0);
        w.SetTimeStamp(stamp);
        SFTRegion r = Region(100, 900, "Chorus");
        EXPECT_EQ(w.AddRegion(&r), 0);
        const std::string path = w.GetPath();
        EXPECT_EQ(w.Close(), 0);
        return path;
    }
};

// ---------------------------------------------------------------------------
// Files of other makers read here

TEST_F(WaveVariantsPeerTest, FfmpegCompandedFilesDecodeAsFfmpegDecodesThem) {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const std::vector<int16_t> samples = Random16(3001 * 2, 5);
    for (bool alaw : {false, true}) {
        const std::string wav = dir / (alaw ? "ff_alaw.wav" : "ff_mulaw.wav");
        const std::string command = std::string("ffmpeg -v error -y -f s16le -ar 8000 -ac 2 -i ") +
                                    Quote(Raw(RawLE16(samples))) + " -c:a " + (alaw ? "pcm_alaw" : "pcm_mulaw") +
                                    " -f wav " + Quote(wav);
        ASSERT_TRUE(RunCommand(command)) << command;
        const std::string decoded = dir / "decoded.raw";
        ASSERT_TRUE(RunCommand("ffmpeg -v error -y -i " + Quote(wav) + " -f s16le " + Quote(decoded)));

        std::unique_ptr<CWAVE_AuFile> r(alaw ? new CWAVE_ALawFile : new CWAVE_AuFile);
        ASSERT_EQ(r->ISoundFile(wav), 0);
        ASSERT_EQ(r->Open(), 0) << wav;
        EXPECT_EQ(r->GetNumChannels(), 2);
        EXPECT_EQ(r->GetSampleRate(), 8000.0);
        EXPECT_EQ(r->GetNumSFrames(), 3001u);
        std::vector<uint8_t> back;
        ASSERT_EQ(ReadAllFrames(*r, &back), 0);
        EXPECT_TRUE(Samples16(back) == FromRawLE16(ReadFile(decoded))) << wav;
    }
}

TEST_F(WaveVariantsPeerTest, PlainFloatFilesOfSoxAndLibsndfileReadWithTheirSamples) {
    std::vector<int32_t> expected;
    const std::string raw = RandomFloats(999 * 2, 9, &expected);
    std::vector<std::string> files;
    if (HaveProgram("sox")) {
        const std::string out = dir / "sox_float.wav";
        ASSERT_TRUE(RunCommand("sox -t raw -r 48000 -e floating-point -b 32 -c 2 " + Quote(Raw(raw)) + " " +
                               Quote(out)));
        files.push_back(out);
    }
    const std::string sf = dir / "sf_float.wav";
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(sf.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(sf_write_raw(f, raw.data(), static_cast<sf_count_t>(raw.size())), static_cast<sf_count_t>(raw.size()));
    sf_close(f);
    files.push_back(sf);
    for (const std::string& path : files) {
        // sox rounds some floats on their way through: take them as the file holds them.
        SF_INFO held{};
        SNDFILE* in = sf_open(path.c_str(), SFM_READ, &held);
        ASSERT_NE(in, nullptr) << path;
        std::vector<float> stored(static_cast<size_t>(held.frames * held.channels));
        ASSERT_EQ(sf_read_float(in, stored.data(), static_cast<sf_count_t>(stored.size())),
                  static_cast<sf_count_t>(stored.size()));
        sf_close(in);
        expected.clear();
        for (float v : stored) expected.push_back(static_cast<int32_t>(static_cast<double>(v) * 2147483648.0));
        CWAVEFloatFile r;
        ASSERT_EQ(r.ISoundFile(path), 0);
        ASSERT_EQ(r.Open(), 0) << path;
        EXPECT_EQ(r.GetNumSFrames(), 999u) << path;
        std::vector<uint8_t> back;
        ASSERT_EQ(ReadAllFrames(r, &back), 0);
        EXPECT_TRUE(Samples32(back) == expected) << path;
    }
}

TEST_F(WaveVariantsPeerTest, FfmpegBroadcastWaveReadsWithDescriptionStampAndSamples) {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const std::vector<int16_t> samples = Random16(1500 * 2, 11);
    const std::string wav = dir / "ff_bwf.wav";
    const std::string command = "ffmpeg -v error -y -f s16le -ar 48000 -ac 2 -i " + Quote(Raw(RawLE16(samples))) +
                                " -write_bext 1 -metadata 'description=Field take 7' -metadata "
                                "time_reference=172800000 -metadata originator=Recorder -f wav " +
                                Quote(wav);
    ASSERT_TRUE(RunCommand(command)) << command;
    CBWFLinearFile r;
    ASSERT_EQ(r.ISoundFile(wav), 0);
    ASSERT_EQ(r.Open(), 0);
    EXPECT_EQ(r.GetAnnotation(), "Field take 7");
    const plist::Dictionary& attributes = r.GetAttributes();
    ASSERT_NE(attributes.find("bwfAnnotation"), attributes.end());
    EXPECT_EQ(attributes.at("bwfAnnotation").asString(), "Field take 7");
    EXPECT_EQ(r.GetTimeStamp(), 172800000u);
    EXPECT_EQ(r.GetNumSFrames(), 1500u);
    // No 'regn' and no cue points: the whole file is the one region.
    EXPECT_EQ(r.GetNumRegions(), 1u);
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadAllFrames(r, &back), 0);
    EXPECT_TRUE(back == Native16(samples));
    ASSERT_EQ(r.Close(), 0);

    // A float Broadcast Wave of ffmpeg comes in the extensible form.
    std::vector<int32_t> expected;
    const std::string floats = RandomFloats(700, 12, &expected);
    const std::string fwav = dir / "ff_bwf_float.wav";
    ASSERT_TRUE(RunCommand("ffmpeg -v error -y -f f32le -ar 44100 -ac 1 -i " + Quote(Raw(floats)) +
                           " -c:a pcm_f32le -write_bext 1 -metadata time_reference=9 -f wav " + Quote(fwav)));
    CBWFLinearFile rf;
    ASSERT_EQ(rf.ISoundFile(fwav), 0);
    ASSERT_EQ(rf.Open(), 0);
    EXPECT_EQ(rf.GetTimeStamp(), 9u);
    ASSERT_EQ(ReadAllFrames(rf, &back), 0);
    EXPECT_TRUE(Samples32(back) == expected);
}

// ---------------------------------------------------------------------------
// Files written here read by others

TEST_F(WaveVariantsPeerTest, PeersDecodeOurCompandedAndFloatFiles) {
    const std::vector<int16_t> samples = Random16(1001 * 2, 31);
    for (bool alaw : {false, true}) {
        std::unique_ptr<CWAVE_AuFile> w(alaw ? new CWAVE_ALawFile : new CWAVE_AuFile);
        ASSERT_EQ(w->ISoundFile(dir / (alaw ? "ours_alaw" : "ours_mulaw")), 0);
        ASSERT_EQ(w->Create(2, 16, 8000, nullptr, kWavExtension), 0);
        ASSERT_EQ(WriteBufferForm(*w, 0, Native16(samples)), 0);
        const std::string path = w->GetPath();
        ASSERT_EQ(w->Close(), 0);

        std::vector<int16_t> expected;
        for (int16_t s : samples) expected.push_back(alaw ? from_alaw(to_alaw(s)) : mulaw[to_mulaw(s)]);
        SF_INFO info;
        EXPECT_TRUE(SndfileShorts(path, &info) == expected) << path;
        EXPECT_EQ(info.format, SF_FORMAT_WAV | (alaw ? SF_FORMAT_ALAW : SF_FORMAT_ULAW));
        EXPECT_EQ(info.frames, 1001);
        if (HaveProgram("ffmpeg")) {
            const std::string decoded = dir / "decoded.raw";
            ASSERT_TRUE(RunCommand("ffmpeg -v error -y -i " + Quote(path) + " -f s16le " + Quote(decoded)));
            EXPECT_TRUE(FromRawLE16(ReadFile(decoded)) == expected) << path;
        }
        if (HaveProgram("soxi")) {
            std::string out;
            ASSERT_TRUE(RunCommand("soxi -c " + Quote(path) + "; soxi -r " + Quote(path) + "; soxi -s " + Quote(path) +
                                   "; soxi -e " + Quote(path), &out));
            EXPECT_EQ(out, std::string("2\n8000\n1001\n") + (alaw ? "A-law\n" : "u-law\n"));
        }
    }

    std::vector<int32_t> ints;
    const std::string raw = RandomFloats(501 * 3, 32, &ints);
    CWAVEFloatFile w;
    ASSERT_EQ(w.ISoundFile(dir / "ours_float"), 0);
    w.SetChannelConfiguration(CSoundFile::kLCR);
    ASSERT_EQ(w.Create(3, 32, 48000, nullptr, kWavExtension), 0);
    ASSERT_EQ(WriteBufferForm(w, 0, Native32(ints)), 0);
    const std::string path = w.GetPath();
    ASSERT_EQ(w.Close(), 0);
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.channels, 3);
    EXPECT_EQ(info.frames, 501);
    // More than two channels take the extensible form, with their mask.
    EXPECT_EQ(info.format, SF_FORMAT_WAVEX | SF_FORMAT_FLOAT);
    int map[3] = {};
    ASSERT_EQ(sf_command(f, SFC_GET_CHANNEL_MAP_INFO, map, sizeof map), SF_TRUE);
    EXPECT_EQ(std::vector<int>(map, map + 3),
              (std::vector<int>{SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER}));
    std::string back(raw.size(), '\0');
    EXPECT_EQ(sf_read_raw(f, back.data(), static_cast<sf_count_t>(back.size())), static_cast<sf_count_t>(back.size()));
    sf_close(f);
    // Each float is written back exactly as it was read.
    EXPECT_TRUE(back == raw);
}

TEST_F(WaveVariantsPeerTest, PeersReadTheBextAndSamplesOfOurBroadcastWave) {
    std::vector<int16_t> samples;
    const uint32_t stamp = 3723u * 48000u;
    const std::string path = WriteBwf("ours_bwf", "Interview, part 2", stamp, &samples);

    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.frames, 1001);
    SF_BROADCAST_INFO bext{};
    ASSERT_EQ(sf_command(f, SFC_GET_BROADCAST_INFO, &bext, sizeof bext), SF_TRUE);
    EXPECT_STREQ(std::string(bext.description, sizeof bext.description).c_str(), "Interview, part 2");
    EXPECT_EQ(bext.time_reference_low, stamp);
    EXPECT_EQ(bext.time_reference_high, 0u);
    EXPECT_EQ(std::string(bext.origination_time, 8), "01:02:03");
    std::vector<int16_t> back(samples.size());
    EXPECT_EQ(sf_read_short(f, back.data(), static_cast<sf_count_t>(back.size())), static_cast<sf_count_t>(back.size()));
    sf_close(f);
    EXPECT_TRUE(back == samples);

    if (HaveProgram("ffprobe")) {
        std::string out;
        ASSERT_TRUE(RunCommand("ffprobe -v error -show_entries format_tags:stream=channels,sample_rate,duration_ts "
                               "-of default=noprint_wrappers=1 " + Quote(path),
                               &out));
        for (const std::string line : {"TAG:comment=Interview, part 2", "TAG:encoded_by=Originator",
                                       "TAG:originator_reference=OriginatorReference", "TAG:date=2000:00:00",
                                       "TAG:creation_time=01:02:03", "TAG:time_reference=178704000",
                                       "TAG:coding_history=CodingHistory", "channels=2", "sample_rate=48000",
                                       "duration_ts=1001"})
            EXPECT_NE(out.find(line + "\n"), std::string::npos) << line << "\n" << out;
    }
    if (HaveProgram("soxi")) {
        std::string out;
        ASSERT_TRUE(RunCommand("soxi -s " + Quote(path), &out));
        EXPECT_EQ(out, "1001\n");
    }
    if (HaveProgram("sndfile-info")) {
        std::string out;
        ASSERT_TRUE(RunCommand("sndfile-info " + Quote(path), &out));
        for (const char* expected : {"bext : 858", "data : 4004", "regn : 92", "Frames      : 1001"})
            EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
    }
}

TEST_F(WaveVariantsPeerTest, MultichannelFloatFilesOfFfmpegKeepTheirLayout) {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    struct Row {
        const char* layout;
        int channels;
        CSoundFile::ChannelConfiguration configuration;
    };
    for (const Row row : {Row{"5.1", 6, CSoundFile::k51}, Row{"quad", 4, CSoundFile::kQuad},
                          Row{"7.1(wide)", 8, CSoundFile::k71}}) {
        std::vector<int32_t> expected;
        const std::string floats = RandomFloats(300 * static_cast<size_t>(row.channels), 5, &expected);
        const std::string wav = dir / ("ff_" + std::to_string(row.channels) + ".wav");
        const std::string command = "ffmpeg -v error -y -f f32le -ar 48000 -ch_layout '" + std::string(row.layout) +
                                    "' -i " + Quote(Raw(floats)) + " -c:a pcm_f32le " + Quote(wav);
        ASSERT_TRUE(RunCommand(command)) << command;
        CWAVEFloatFile r;
        ASSERT_EQ(r.ISoundFile(wav), 0);
        ASSERT_EQ(r.Open(), 0);
        EXPECT_EQ(r.GetNumChannels(), row.channels);
        EXPECT_EQ(r.GetChannelConfiguration(), row.configuration) << row.layout;
        std::vector<uint8_t> back;
        ASSERT_EQ(ReadAllFrames(r, &back), 0);
        EXPECT_TRUE(Samples32(back) == expected) << row.layout;

        // Written here again, ffprobe sees the same layout.
        CWAVEFloatFile w;
        ASSERT_EQ(w.ISoundFile(dir / ("ours_" + std::to_string(row.channels))), 0);
        w.SetChannelConfiguration(r.GetChannelConfiguration());
        ASSERT_EQ(w.Create(static_cast<short>(row.channels), 32, 48000, nullptr, kWavExtension), 0);
        ASSERT_EQ(WriteBufferForm(w, 0, back), 0);
        const std::string path = w.GetPath();
        ASSERT_EQ(w.Close(), 0);
        std::string out;
        ASSERT_TRUE(RunCommand("ffprobe -v error -show_entries stream=channel_layout,codec_name "
                               "-of default=noprint_wrappers=1 " + Quote(path), &out));
        EXPECT_NE(out.find("channel_layout=" + std::string(row.layout) + "\n"), std::string::npos) << out;
        EXPECT_NE(out.find("codec_name=pcm_f32le\n"), std::string::npos) << out;
    }
}

// Double-precision files of ffmpeg (WAVE extensible and AIFF-C 'fl64', one
// channel beyond full scale) and sox (WAVE plain) read with the samples ffmpeg,
// sox and libsndfile decode, clipped at full scale as single precision is.
TEST_F(WaveVariantsPeerTest, DoubleFilesReadAsThePeersDecodeThem) {
    for (const char* program : {"ffmpeg", "sox"})
        if (!HaveProgram(program)) GTEST_SKIP() << program << " is not installed";
    const std::string overRange = " -f lavfi -i 'aevalsrc=1.5*sin(2*PI*440*t)|0.3*sin(2*PI*660*t):s=48000:d=0.3' ";
    const std::string ffWave = dir / "ff_double.wav", soxWave = dir / "sox_double.wav", ffAifc = dir / "ff_double.aif";
    ASSERT_TRUE(RunCommand("ffmpeg -v error -y" + overRange + "-c:a pcm_f64le " + Quote(ffWave)));
    ASSERT_TRUE(RunCommand("ffmpeg -v error -y" + overRange + "-c:a pcm_f64be -f aiff " + Quote(ffAifc)));
    ASSERT_TRUE(RunCommand("sox -n -r 8000 -c 1 -e floating-point -b 64 " + Quote(soxWave) + " synth 0.2 sine 440 vol 0.7"));
    for (const std::string& path : {ffWave, soxWave, ffAifc}) {
        SCOPED_TRACE(path);
        // The doubles as stored, and as sox decodes them (through its 32-bit samples).
        const std::string stored = dir / "stored.raw", decoded = dir / "decoded.raw";
        ASSERT_TRUE(RunCommand("ffmpeg -v error -y -i " + Quote(path) + " -f f64le " + Quote(stored)));
        ASSERT_TRUE(RunCommand("sox " + Quote(path) + " -t raw -e floating-point -b 64 -L " + Quote(decoded)));
        const std::string storedBytes = ReadFile(stored), decodedBytes = ReadFile(decoded);
        std::vector<double> exact(storedBytes.size() / 8), sox(decodedBytes.size() / 8);
        std::memcpy(exact.data(), storedBytes.data(), exact.size() * 8);
        std::memcpy(sox.data(), decodedBytes.data(), sox.size() * 8);
        SF_INFO info{};
        SNDFILE* peer = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(peer, nullptr);
        std::vector<double> sndfile(static_cast<size_t>(info.frames * info.channels));
        ASSERT_EQ(sf_readf_double(peer, sndfile.data(), info.frames), info.frames);
        sf_close(peer);

        const bool aifc = path == ffAifc;
        std::unique_ptr<CSoundFile> r(aifc ? static_cast<CSoundFile*>(new CAIFCFile) : new CWAVEFloatFile);
        ASSERT_EQ(r->ISoundFile(path), 0);
        ASSERT_EQ(r->Open(), 0);
        ASSERT_EQ(size_t{r->GetNumSFrames()} * info.channels, exact.size());
        ASSERT_EQ(sox.size(), exact.size());
        std::vector<uint8_t> back;
        ASSERT_EQ(ReadAllFrames(*r, &back), 0);
        const std::vector<int32_t> ints = Samples32(back);
        std::vector<double> ours(exact.size());
        uint32_t frames = r->GetNumSFrames();
        ASSERT_EQ(r->Read(0, &frames, ours.data()), 0);
        size_t clipped = 0;
        for (size_t i = 0; i < exact.size(); ++i) {
            // The buffer form of each format's single precision, from the double.
            const int32_t want = aifc ? DoubleSampleToInt32(exact[i]) : [&] {
                const double scaled = exact[i] * 2147483648.0;
                return scaled >= 2147483647.0 ? INT32_MAX : scaled <= -2147483648.0 ? INT32_MIN : int32_t(scaled);
            }();
            ASSERT_EQ(ints[i], want) << "sample " << i;
            const double full = std::clamp(exact[i], -1.0, 1.0);
            clipped += full != exact[i];
            ASSERT_NEAR(ours[i], full, 1e-9) << "sample " << i;
            ASSERT_NEAR(ours[i], sox[i], 2e-9) << "sample " << i;
            ASSERT_NEAR(ours[i], std::clamp(sndfile[i], -1.0, 1.0), 1e-9) << "sample " << i;
        }
        if (path != soxWave) {
            EXPECT_GT(clipped, 1000u);
        }
    }
}

}  // namespace
