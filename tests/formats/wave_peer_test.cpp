// WAVE against the programs of other makers: files that ffmpeg, sox and
// libsndfile write read here with the samples they were given, and files written
// here read by them with the same samples, channel layout, cue points and loops.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "formats/pcm/wave_file.h"
#include "test_support.h"
#include "wave_test_support.h"

using namespace wavetest;
using testsupport::HaveProgram;
using testsupport::ReadFile;

namespace {

// Raw samples of a sample form, and what they are in the buffer form.
struct Form {
    const char* name;
    const char* ffmpegRaw;  // -f of the raw input, and the codec (pcm_ + this)
    const char* soxRaw;     // -e and -b of sox for the raw input
    int bytes;
    bool isFloat;
};

const Form kU8{"u8", "u8", "-e unsigned -b 8", 1, false};
const Form kS16{"s16le", "s16le", "-e signed -b 16", 2, false};
const Form kS24{"s24le", "s24le", "-e signed -b 24", 3, false};
const Form kS32{"s32le", "s32le", "-e signed -b 32", 4, false};
const Form kF32{"f32le", "f32le", "-e floating-point -b 32", 4, true};

// Random samples of the form; floats stay within [-1, 1).
std::string RawSamples(const Form& form, size_t samples, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out;
    for (size_t i = 0; i < samples; ++i) {
        if (form.isFloat) {
            const float f = static_cast<float>(static_cast<int32_t>(rng()) / 2147483648.0);
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            out += LE32(bits);
        } else {
            const uint32_t v = rng();
            out.append(reinterpret_cast<const char*>(&v), static_cast<size_t>(form.bytes));
        }
    }
    return out;
}

// The buffer form of raw little-endian samples of the form.
std::vector<uint8_t> BufferForm(const Form& form, const std::string& raw) {
    std::vector<uint8_t> out(raw.begin(), raw.end());
    if (form.bytes == 1) {
        for (uint8_t& b : out) b ^= 0x80;
    } else if (form.isFloat) {
        for (size_t i = 0; i + 3 < out.size(); i += 4) {
            uint32_t bits = LoadLE32(out.data() + i);
            float f;
            std::memcpy(&f, &bits, 4);
            const int32_t v = static_cast<int32_t>(static_cast<double>(f) * 2147483648.0);
            std::memcpy(out.data() + i, &v, 4);
        }
    }
    return out;
}

class WavePeerTest : public FileTest {
protected:
    std::string Raw(const std::string& bytes) { return Put("in.raw", bytes); }
    // Opens a peer's file and checks its description and samples.
    void ExpectReads(const std::string& path, int channels, int bits, const std::vector<uint8_t>& expected,
                     CSoundFile::ChannelConfiguration configuration) {
        CWAVEFile f;
        ASSERT_EQ(f.ISoundFile(path), 0);
        ASSERT_EQ(f.Open(), 0) << path;
        EXPECT_EQ(f.GetNumChannels(), channels) << path;
        EXPECT_EQ(f.GetWordSize(), bits) << path;
        EXPECT_EQ(f.GetSampleRate(), 48000.0) << path;
        EXPECT_EQ(f.GetChannelConfiguration(), configuration) << path;
        std::vector<uint8_t> back;
        ASSERT_EQ(ReadAllFrames(f, &back), 0);
        EXPECT_TRUE(back == expected) << path << ": " << back.size() << " bytes, expected " << expected.size();
    }
};

// ---------------------------------------------------------------------------
// Files of other makers read here

// Writes samples of a form through libsndfile as they are.
std::string WriteWithSndfile(const std::string& path, int format, int channels, const std::string& raw,
                             const std::function<void(SNDFILE*)>& commands = nullptr) {
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return sf_strerror(nullptr);
    if (commands) commands(f);
    const sf_count_t written = sf_write_raw(f, raw.data(), static_cast<sf_count_t>(raw.size()));
    sf_close(f);
    return written == static_cast<sf_count_t>(raw.size()) ? "" : "short write";
}

// Files that ffmpeg, sox and libsndfile write from known raw samples read here
// with those samples and the configuration of their layout.
TEST_F(WavePeerTest, PeerFilesReadWithTheirSamples) {
    enum Maker { kFfmpeg, kSox, kSndfile };
    using SF = CSoundFile;
    struct Case {
        Maker maker;
        Form form;
        int channels;
        SF::ChannelConfiguration configuration;
        const char* layout = "";  // ffmpeg's -channel_layout
        int format = 0;           // libsndfile's
    };
    const Case cases[] = {
        {kFfmpeg, kU8, 1, SF::kMono, "mono"},
        {kFfmpeg, kS16, 2, SF::kStereo, "stereo"},
        {kFfmpeg, kS24, 2, SF::kStereo, "stereo"},  // ffmpeg writes 24 bits as extensible
        {kFfmpeg, kS32, 2, SF::kStereo, "stereo"},
        {kFfmpeg, kF32, 2, SF::kStereo, "stereo"},  // extensible with the float SubFormat
        {kFfmpeg, kS16, 6, SF::k51, "5.1"},
        {kFfmpeg, kS24, 6, SF::k60, "hexagonal"},
        {kFfmpeg, kS24, 6, SF::kMultichannel, "6.0"},
        {kFfmpeg, kS16, 4, SF::kQuad, "quad"},
        {kFfmpeg, kS16, 3, SF::kLCR, "3.0"},
        {kFfmpeg, kS16, 8, SF::k71, "7.1(wide)"},
        {kFfmpeg, kS16, 8, SF::kMultichannel, "7.1"},  // side channels: not this mask
        {kSox, kU8, 1, SF::kMono},
        {kSox, kS16, 2, SF::kStereo},
        {kSox, kS24, 1, SF::kMono},
        {kSox, kS32, 2, SF::kStereo},
        {kSox, kS16, 6, SF::k51},
        {kSox, kS24, 3, SF::kMultichannel},  // sox gives three channels no mask
        {kSndfile, kU8, 1, SF::kMono, "", SF_FORMAT_WAV | SF_FORMAT_PCM_U8},
        {kSndfile, kS16, 2, SF::kStereo, "", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {kSndfile, kS24, 1, SF::kMono, "", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        {kSndfile, kS32, 2, SF::kStereo, "", SF_FORMAT_WAV | SF_FORMAT_PCM_32},
        {kSndfile, kS24, 6, SF::k51, "", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24},
        {kSndfile, kF32, 2, SF::kStereo, "", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT},
    };
    // Sox gets an odd number of frames: it pads odd data, which is not read as a frame.
    const size_t frames[] = {1001, 999, 777};
    const bool have[] = {HaveProgram("ffmpeg"), HaveProgram("sox"), true};
    unsigned seed = 1;
    for (const Case& c : cases) {
        if (!have[c.maker]) continue;
        const std::string raw = RawSamples(c.form, frames[c.maker] * static_cast<size_t>(c.channels), seed++);
        const std::string out = dir / ("peer" + std::to_string(seed) + ".wav");
        const std::string ch = std::to_string(c.channels);
        if (c.maker == kSndfile) {
            ASSERT_EQ(WriteWithSndfile(out, c.format, c.channels, raw), "");
        } else {
            const std::string command =
                c.maker == kFfmpeg ? std::string("ffmpeg -v error -y -f ") + c.form.ffmpegRaw + " -ar 48000 -ac " + ch +
                                         " -channel_layout '" + c.layout + "' -i " + Quote(Raw(raw)) + " -c:a pcm_" +
                                         c.form.name + " " + Quote(out)
                                   : std::string("sox -t raw -r 48000 ") + c.form.soxRaw + " -c " + ch + " " +
                                         Quote(Raw(raw)) + " " + Quote(out);
            ASSERT_TRUE(RunCommand(command)) << command;
        }
        ExpectReads(out, c.channels, c.form.bytes * 8, BufferForm(c.form, raw), c.configuration);
    }
    // A plain float file of sox is not linear PCM ('WVfl' reads it).
    if (!have[kSox]) return;
    const std::string out = dir / "sox_float.wav";
    ASSERT_TRUE(RunCommand("sox -t raw -r 48000 -e floating-point -b 32 -c 2 " +
                           Quote(Raw(RawSamples(kF32, 200, 7))) + " " + Quote(out)));
    CWAVEFile f;
    ASSERT_EQ(f.ISoundFile(out), 0);
    EXPECT_EQ(f.Open(), kWAVEUnsupportedDataErr);
}

TEST_F(WavePeerTest, LibsndfileCuePointsAndLoopsReadAsMarkersAndLoops) {
    const std::string out = dir / "cues.wav";
    ASSERT_EQ(WriteWithSndfile(out, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, RawSamples(kS16, 1000, 3),
                               [](SNDFILE* f) {
                                   SF_CUES cues{};
                                   cues.cue_count = 3;
                                   const uint32_t positions[] = {100, 250, 900};
                                   for (int i = 0; i < 3; ++i) {
                                       cues.cue_points[i].indx = i + 1;
                                       cues.cue_points[i].position = positions[i];
                                       cues.cue_points[i].fcc_chunk = 0x61746164;  // "data"
                                       cues.cue_points[i].sample_offset = positions[i];
                                   }
                                   ASSERT_EQ(sf_command(f, SFC_SET_CUE, &cues, sizeof cues), SF_TRUE);
                                   SF_INSTRUMENT inst{};
                                   inst.basenote = 61;
                                   inst.loop_count = 2;
                                   inst.loops[0] = {SF_LOOP_FORWARD, 10, 200, 0};
                                   inst.loops[1] = {SF_LOOP_FORWARD, 300, 400, 0};
                                   ASSERT_EQ(sf_command(f, SFC_SET_INSTRUMENT, &inst, sizeof inst), SF_TRUE);
                               }),
              "");
    CWAVEFile f;
    ASSERT_EQ(f.ISoundFile(out), 0);
    ASSERT_EQ(f.Open(), 0);
    EXPECT_EQ(f.GetNumSFrames(), 1000u);
    // The cue points carry no labels: each one is a marker without a name.
    ASSERT_EQ(f.GetNumMarkers(), 3u);
    const uint32_t positions[] = {100, 250, 900};
    for (uint16_t i = 0; i < 3; ++i) {
        SFTMarker m;
        ASSERT_EQ(f.GetIndMarker(i, &m), 0);
        EXPECT_EQ(m.position, positions[i]);
        EXPECT_EQ(m.name[0], 0);
    }
    // The loop ends are stored inclusive, as the chunk holds them.
    ASSERT_EQ(f.GetNumLoops(), 2u);
    SFTLoop loop;
    ASSERT_EQ(f.GetIndLoop(uint16_t{0}, &loop), 0);
    EXPECT_EQ(loop.start, 10u);
    EXPECT_EQ(loop.end, 199u);
    ASSERT_EQ(f.GetIndLoop(uint16_t{1}, &loop), 0);
    EXPECT_EQ(loop.start, 300u);
    EXPECT_EQ(loop.end, 399u);
    // Only the whole-file region.
    ASSERT_EQ(f.GetNumRegions(), 1u);
}

// ---------------------------------------------------------------------------
// Files written here read by others

// Writes `frames` frames of random samples to the path, which takes the name
// extension .wav; the samples in the buffer form.
std::vector<uint8_t> WriteOurs(std::string& path, short channels, short bits,
                               CSoundFile::ChannelConfiguration configuration, uint32_t frames,
                               const std::function<void(CWAVEFile&)>& after = nullptr) {
    CWAVEFile w;
    EXPECT_EQ(w.ISoundFile(path), 0);
    w.SetChannelConfiguration(configuration);
    EXPECT_EQ(w.Create(channels, bits, 48000, nullptr, kWavExtension), 0);
    path = w.GetPath();
    std::mt19937 rng(channels * 100 + bits);
    std::vector<uint8_t> bytes(static_cast<size_t>(frames) * channels * (bits / 8));
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    EXPECT_EQ(WriteBufferForm(w, 0, bytes), 0);
    if (after) after(w);
    EXPECT_EQ(w.Close(), 0);
    return bytes;
}

TEST_F(WavePeerTest, FfprobeSeesTheChannelLayoutOfTheMask) {
    if (!HaveProgram("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
    struct Case {
        short channels;
        CSoundFile::ChannelConfiguration configuration;
        const char* layout;
    };
    // The plain format of one and two channels has no mask: ffprobe names no layout.
    for (const Case& c : {Case{1, CSoundFile::kMono, "unknown"}, Case{2, CSoundFile::kStereo, "unknown"},
                          Case{3, CSoundFile::kLCR, "3.0"}, Case{4, CSoundFile::kQuad, "quad"},
                          Case{4, CSoundFile::kLCRS, "4.0"}, Case{5, CSoundFile::k50, "5.0"},
                          Case{6, CSoundFile::k51, "5.1"}, Case{6, CSoundFile::k60, "hexagonal"},
                          Case{7, CSoundFile::k61, "6.1(back)"}, Case{8, CSoundFile::k71, "7.1(wide)"},
                          Case{8, CSoundFile::k61, "unknown"}}) {
        std::string path = dir / ("layout" + std::to_string(c.channels) + "_" + std::to_string(c.configuration));
        WriteOurs(path, c.channels, 24, c.configuration, 100);
        std::string out;
        ASSERT_TRUE(RunCommand("ffprobe -v error -show_entries stream=channels,channel_layout,sample_rate,"
                               "bits_per_sample -of default=noprint_wrappers=1 " + Quote(path), &out));
        EXPECT_NE(out.find("channel_layout=" + std::string(c.layout) + "\n"), std::string::npos) << out;
        EXPECT_NE(out.find("channels=" + std::to_string(c.channels) + "\n"), std::string::npos) << out;
        EXPECT_NE(out.find("sample_rate=48000\n"), std::string::npos) << out;
        EXPECT_NE(out.find("bits_per_sample=24\n"), std::string::npos) << out;
    }
}

TEST_F(WavePeerTest, SoxReadsTheSamplesWrittenHere) {
    if (!HaveProgram("sox") || !HaveProgram("soxi")) GTEST_SKIP() << "sox is not installed";
    struct Case {
        Form form;
        short channels;
        uint32_t frames;
    };
    for (const Case& c : {Case{kU8, 1, 1001}, Case{kS16, 2, 1000}, Case{kS24, 1, 999}, Case{kS32, 2, 500},
                          Case{kS24, 6, 300}}) {
        std::string path = dir / (std::string("ours_") + c.form.name + "_" + std::to_string(c.channels));
        const std::vector<uint8_t> written = WriteOurs(path, c.channels, static_cast<short>(c.form.bytes * 8),
                                                       c.channels == 6 ? CSoundFile::k51 : CSoundFile::kNotSet,
                                                       c.frames);
        std::string out;
        ASSERT_TRUE(RunCommand("soxi -c " + Quote(path) + "; soxi -r " + Quote(path) + "; soxi -b " +
                                   Quote(path) + "; soxi -s " + Quote(path),
                               &out));
        // An odd data length keeps its frame count (the pad byte is not data).
        const uint32_t frames = c.frames;
        EXPECT_NE(out.find(std::to_string(c.channels) + "\n48000\n" + std::to_string(c.form.bytes * 8) + "\n" +
                           std::to_string(frames) + "\n"),
                  std::string::npos)
            << out;
        const std::string raw = dir / "back.raw";
        ASSERT_TRUE(RunCommand("sox " + Quote(path) + " -t raw " + c.form.soxRaw + " " + Quote(raw)));
        std::vector<uint8_t> back = BufferForm(c.form, ReadFile(raw));
        ASSERT_EQ(back.size(), static_cast<size_t>(frames) * c.channels * c.form.bytes);
        back.resize(written.size());
        EXPECT_TRUE(back == written) << path;
    }
}

TEST_F(WavePeerTest, LibsndfileReadsTheExtrasWrittenHere) {
    std::string path = dir / "extras";
    WriteOurs(path, 2, 16, CSoundFile::kStereo, 2000, [](CWAVEFile& w) {
        for (int i = 0; i < 3; ++i) {
            SFTMarker m{};
            m.id = i + 1;
            m.position = 100 + 300 * static_cast<uint32_t>(i);
            NameToField("Mark " + std::to_string(i + 1), m.name);
            m.type = 2;
            ASSERT_EQ(w.AddMarker(&m), 0);
        }
        SFTRegion r{};
        r.start = 1000;
        r.end = 1500;
        NameToField("Verse", r.name);
        ASSERT_EQ(w.AddRegion(&r), 0);
        SFTLoop loop{0, 50, 900, 1};
        ASSERT_EQ(w.AddLoop(&loop), 0);
        SFTSamplerInfo info{64, 5, 20, 90, 10, 110, 0, 1};
        ASSERT_EQ(w.SetSamplerInfo(&info), 0);
    });

    if (HaveProgram("sndfile-info")) {
        std::string out;
        ASSERT_TRUE(RunCommand("sndfile-info " + Quote(path), &out));
        for (const char* expected : {"cue  : 100", "Count : 4", "Offset :   400", "labl : 1 : Mark 2", "ltxt : 20",
                                     "Loop Count   : 1", "Start :    50  End :   900", "inst : 7",
                                     "Frames      : 2000"})
            EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
    }

    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.frames, 2000);
    EXPECT_EQ(info.channels, 2);
    SF_CUES cues{};
    ASSERT_EQ(sf_command(f, SFC_GET_CUE, &cues, sizeof cues), SF_TRUE);
    ASSERT_EQ(cues.cue_count, 4u);
    EXPECT_EQ(cues.cue_points[1].sample_offset, 400u);
    EXPECT_EQ(cues.cue_points[3].sample_offset, 1000u);
    SF_INSTRUMENT inst{};
    ASSERT_EQ(sf_command(f, SFC_GET_INSTRUMENT, &inst, sizeof inst), SF_TRUE);
    ASSERT_EQ(inst.loop_count, 1);
    EXPECT_EQ(inst.loops[0].start, 50u);
    // libsndfile takes the loop end as exclusive, one past the stored end.
    EXPECT_EQ(inst.loops[0].end, 901u);
    sf_close(f);
}

// A plain format whose bits per sample are not a whole number of bytes keeps each
// sample left-justified in the bytes the block alignment gives it; it reads at
// that container's scale, as libsndfile reads it.
TEST_F(WavePeerTest, OddBitsPerSampleReadInTheirContainerAsLibsndfileDoes) {
    struct Row {
        int16_t bits;
        short container;
    };
    for (const Row row : {Row{20, 24}, Row{12, 16}, Row{28, 32}}) {
        const int channels = 2;
        const uint32_t frames = 300;
        const int bytes = row.container / 8;
        std::mt19937 rng(static_cast<unsigned>(row.bits));
        std::string samples;
        for (uint32_t i = 0; i < frames * channels; ++i) {
            const uint32_t valid = rng() & ~((1u << (32 - row.bits)) - 1);
            for (int b = 0; b < bytes; ++b) samples += static_cast<char>(valid >> (32 - bytes * 8 + b * 8));
        }
        const uint16_t align = static_cast<uint16_t>(bytes * channels);
        const std::string fmt = LE16(1) + LE16(channels) + LE32(48000) + LE32(48000u * align) + LE16(align) +
                                LE16(static_cast<uint16_t>(row.bits));
        const std::string path = Put("odd" + std::to_string(row.bits) + ".wav", Riff(Chunk("fmt ", fmt) + Data(samples)));

        CWAVEFile f;
        ASSERT_EQ(f.ISoundFile(path), 0);
        ASSERT_EQ(f.Open(), 0) << row.bits;
        EXPECT_EQ(f.GetWordSize(), row.container);
        ASSERT_EQ(f.GetNumSFrames(), frames) << row.bits;
        std::vector<double> ours(frames * channels);
        uint32_t count = frames;
        ASSERT_EQ(f.Read(0, &count, ours.data()), 0);

        SF_INFO info{};
        SNDFILE* peer = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(peer, nullptr) << sf_strerror(nullptr);
        std::vector<double> theirs(frames * channels);
        EXPECT_EQ(sf_readf_double(peer, theirs.data(), frames), sf_count_t{frames});
        sf_close(peer);
        for (size_t i = 0; i < theirs.size(); ++i)
            ASSERT_NEAR(ours[i], theirs[i], 1e-6) << row.bits << " bits, sample " << i;
    }
}

}  // namespace
