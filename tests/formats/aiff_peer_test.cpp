// AIFF and AIFF-C against the programs of other makers: files they write read
// here with the samples they decode, and files written here read by them.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <ostream>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "aiff_test_support.h"
#include "formats/pcm/aifc_file.h"
#include "formats/pcm/aiff_file.h"
#include "formats/pcm/wave_file.h"
#include "test_support.h"

using namespace aifftest;
using formattest::Quote;
using formattest::RunCommand;
using testsupport::HaveProgram;
using testsupport::ReadFile;
using testsupport::TempDir;

namespace {

std::unique_ptr<CAIFFFile> OpenEither(const std::string& path) {
    const std::string head = ReadFile(path).substr(0, 12);
    std::unique_ptr<CAIFFFile> f(head.size() == 12 && head.substr(8) == "AIFC" ? new CAIFCFile : new CAIFFFile);
    EXPECT_EQ(f->ISoundFile(path), 0);
    EXPECT_EQ(f->Open(), 0) << path;
    return f;
}

struct PeerFile {
    const char* name;
    const char* program;
    const char* command;  // OUT stands for the output path, SRC for a WAVE source made by sox
    int bits;
    int channels;
    bool isFloat;
    // sox does not know every compression type; libsndfile decodes the others.
    bool soxReads = true;
};

void PrintTo(const PeerFile& p, std::ostream* os) { *os << p.name; }

const PeerFile kPeerFiles[] = {
    {"sox_s16_stereo", "sox", "sox -n -r 44100 -c 2 -b 16 OUT.aiff synth 0.3 sine 440 sine 660", 16, 2, false},
    {"sox_s8_mono_odd_rate", "sox", "sox -n -r 22254.5454 -c 1 -b 8 OUT.aiff synth 0.3 sine 300", 8, 1, false},
    {"sox_s24_six", "sox",
     "sox -n -r 48000 -c 6 -b 24 OUT.aiff synth 0.3 sine 100 sine 200 sine 300 sine 400 sine 500 sine 600", 24, 6, false},
    {"sox_s32_stereo", "sox", "sox -n -r 96000 -c 2 -b 32 OUT.aiff synth 0.2 sine 440 sine 1000", 32, 2, false},
    {"sox_aifc_none", "sox", "sox -n -r 44100 -c 2 -b 16 -t aifc OUT.aifc synth 0.3 sine 440 sine 660", 16, 2, false},
    {"sox_aifc_fl32", "sox", "sox -n -r 44100 -c 1 -e floating-point -b 32 -t aifc OUT.aifc synth 0.3 sine 440", 32, 1, true},
    {"ffmpeg_s8", "ffmpeg", "ffmpeg -v error -y -f lavfi -i sine=f=440:d=0.3 -c:a pcm_s8 -f aiff OUT.aiff", 8, 1, false},
    {"ffmpeg_s24_six", "ffmpeg",
     "ffmpeg -v error -y -f lavfi -i sine=f=440:d=0.3 -ac 6 -c:a pcm_s24be -f aiff OUT.aiff", 24, 6, false},
    {"ffmpeg_sowt", "ffmpeg", "ffmpeg -v error -y -f lavfi -i sine=f=440:d=0.3 -ac 2 -c:a pcm_s16le -f aiff OUT.aiff", 16, 2, false},
    {"ffmpeg_twos", "ffmpeg",
     "ffmpeg -v error -y -f lavfi -i sine=f=440:d=0.3 -c:a pcm_s16be -tag:a twos -f aiff OUT.aiff", 16, 1, false},
    {"ffmpeg_fl32", "ffmpeg", "ffmpeg -v error -y -f lavfi -i sine=f=440:d=0.3 -ac 2 -c:a pcm_f32be -f aiff OUT.aiff", 32, 2, true},
    {"sndfile_s16_sowt", "sndfile-convert", "sndfile-convert -pcm16 -endian=little SRC OUT.aif", 16, 2, false},
    {"sndfile_s8", "sndfile-convert", "sndfile-convert -pcms8 SRC OUT.aif", 8, 2, false},
    {"sndfile_s24", "sndfile-convert", "sndfile-convert -pcm24 SRC OUT.aif", 24, 2, false},
    {"sndfile_s32_le", "sndfile-convert", "sndfile-convert -pcm32 -endian=little SRC OUT.aif", 32, 2, false, false},
    {"sndfile_float", "sndfile-convert", "sndfile-convert -float32 SRC OUT.aif", 32, 2, true},
};

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

class PeerWrittenFile : public ::testing::TestWithParam<PeerFile> {};

TEST_P(PeerWrittenFile, ReadsWithTheSamplesSoxDecodes) {
    const PeerFile& p = GetParam();
    if (!HaveProgram("sox") || !HaveProgram(p.program)) GTEST_SKIP() << p.program << " is not installed";
    TempDir dir;
    const std::string src = dir / "src.wav";
    ASSERT_TRUE(RunCommand("sox -n -r 48000 -c 2 -b 24 " + Quote(src) + " synth 0.3 sine 440 sine 523"));
    const std::string base = dir / p.name;
    const std::string command = Replace(Replace(p.command, "OUT", Quote(base) ), "SRC", Quote(src));
    ASSERT_TRUE(RunCommand(command)) << command;
    const std::string ext = std::string(p.command).find("OUT.aifc") != std::string::npos ? ".aifc"
                            : std::string(p.command).find("OUT.aiff") != std::string::npos ? ".aiff"
                                                                                          : ".aif";
    // The shell joins the quoted base and the extension into one name.
    const std::string path = base + ext;
    ASSERT_FALSE(ReadFile(path).empty()) << path;

    auto f = OpenEither(path);
    EXPECT_EQ(f->GetNumChannels(), p.channels);
    EXPECT_EQ(f->GetWordSize(), p.bits);
    std::vector<uint8_t> ours;
    ASSERT_EQ(ReadAllFrames(*f, &ours), 0);
    const std::string raw = dir / "expected.raw";
    if (!p.soxReads) {
        const std::string bits = std::to_string(p.bits);
        ASSERT_TRUE(RunCommand("sndfile-convert -pcm" + bits + " -endian=little " + Quote(path) + " " + Quote(raw)));
        const std::string expected = ReadFile(raw);
        ASSERT_EQ(ours.size(), expected.size());
        EXPECT_EQ(0, std::memcmp(ours.data(), expected.data(), expected.size()));
        return;
    }
    std::string rate;
    ASSERT_TRUE(RunCommand("sox --i -r " + Quote(path), &rate));
    EXPECT_NEAR(f->GetSampleRate(), std::stod(rate), 0.1);
    std::string samples;
    ASSERT_TRUE(RunCommand("sox --i -s " + Quote(path), &samples));
    EXPECT_EQ(f->GetNumSFrames(), std::stoul(samples));

    // sox decodes into 32-bit integers; float data is compared within the last
    // bits a single-precision product can differ in.
    ASSERT_TRUE(RunCommand("sox " + Quote(path) + " -t raw -e signed-integer -b " + std::to_string(p.bits) + " -L " +
                           Quote(raw)));
    const std::string expected = ReadFile(raw);
    ASSERT_EQ(ours.size(), expected.size());
    if (!p.isFloat) {
        EXPECT_EQ(0, std::memcmp(ours.data(), expected.data(), expected.size()));
        return;
    }
    size_t far = 0;
    for (size_t i = 0; i + 4 <= expected.size(); i += 4) {
        int32_t want, got;
        std::memcpy(&want, expected.data() + i, 4);
        std::memcpy(&got, ours.data() + i, 4);
        if (std::llabs(static_cast<long long>(want) - got) > 256) ++far;
    }
    EXPECT_EQ(far, 0u);
    // The floats themselves, as ffmpeg passes them through, give exactly our integers.
    if (!HaveProgram("ffmpeg")) return;
    const std::string floats = dir / "floats.raw";
    ASSERT_TRUE(RunCommand("ffmpeg -v error -y -i " + Quote(path) + " -f f32le -c:a pcm_f32le " + Quote(floats)));
    const std::string exact = ReadFile(floats);
    ASSERT_EQ(ours.size(), exact.size());
    size_t mismatches = 0;
    for (size_t i = 0; i + 4 <= exact.size(); i += 4) {
        float value;
        std::memcpy(&value, exact.data() + i, 4);
        int32_t got;
        std::memcpy(&got, ours.data() + i, 4);
        if (got != FloatSampleToInt32(value)) ++mismatches;
    }
    EXPECT_EQ(mismatches, 0u);
}

INSTANTIATE_TEST_SUITE_P(Peers, PeerWrittenFile, ::testing::ValuesIn(kPeerFiles),
                         [](const ::testing::TestParamInfo<PeerFile>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Files written here, read by the peers

struct OurFile {
    std::string path;
    std::vector<uint8_t> littleEndian;  // the samples as the peers' raw output gives them
};

OurFile WriteOurs(const std::string& base, bool aifc, short channels, short bits, float rate, uint32_t frames,
                  CSoundFile::ChannelConfiguration configuration) {
    std::unique_ptr<CAIFFFile> f(aifc ? new CAIFCFile : new CAIFFFile);
    OurFile out;
    EXPECT_EQ(f->ISoundFile(base), 0);
    f->SetChannelConfiguration(configuration);
    EXPECT_EQ(f->Create(channels, bits, rate, nullptr, reinterpret_cast<const unsigned char*>(aifc ? "\x05.aifc" : "\x05.aiff")), 0);
    out.path = f->GetPath();
    const uint32_t bytes = static_cast<uint32_t>(bits / 8);
    out.littleEndian.resize(static_cast<size_t>(frames) * channels * bytes);
    for (size_t i = 0; i < out.littleEndian.size(); ++i)
        out.littleEndian[i] = static_cast<uint8_t>((i * 37 + i / 7) & 0xFF);
    EXPECT_EQ(formattest::WriteBufferForm(*f, 0, out.littleEndian), 0);
    if (frames > 200) {
        SFTMarker m{};
        m.id = 1;
        m.position = 10;
        m.type = 1;
        NameToField("Verse", m.name);
        EXPECT_EQ(f->AddMarker(&m), 0);
        SFTLoop loop{1, 60, 190, 1};
        EXPECT_EQ(f->AddLoop(&loop), 0);
    }
    EXPECT_EQ(f->Close(), 0);
    return out;
}

// The value of a "key=value" line.
std::string KeyValue(const std::string& text, const std::string& key) {
    size_t at = ("\n" + text).find("\n" + key + "=");
    if (at == std::string::npos) return std::string();
    at += key.size() + 1;
    return text.substr(at, text.find('\n', at) - at);
}

std::string Field(const std::string& text, const std::string& label) {
    size_t at = text.find(label);
    if (at == std::string::npos) return std::string();
    at = text.find(':', at);
    size_t end = text.find('\n', at);
    std::string value = text.substr(at + 1, end - at - 1);
    value.erase(0, value.find_first_not_of(' '));
    return value;
}

struct OurCase {
    const char* name;
    bool aifc;
    short channels;
    short bits;
    float rate;
    uint32_t frames;
    CSoundFile::ChannelConfiguration configuration;
};

void PrintTo(const OurCase& c, std::ostream* os) { *os << c.name; }

class OurWrittenFile : public ::testing::TestWithParam<OurCase> {};

TEST_P(OurWrittenFile, PeersReadRateChannelsFramesAndSamples) {
    const OurCase& c = GetParam();
    if (!HaveProgram("sox") || !HaveProgram("ffprobe") || !HaveProgram("sndfile-info"))
        GTEST_SKIP() << "sox, ffprobe or sndfile-info is not installed";
    TempDir dir;
    OurFile ours = WriteOurs(dir / c.name, c.aifc, c.channels, c.bits, c.rate, c.frames, c.configuration);

    std::string text;
    ASSERT_TRUE(RunCommand("sox --i " + Quote(ours.path), &text));
    EXPECT_EQ(Field(text, "Channels"), std::to_string(c.channels));
    EXPECT_NEAR(std::stod(Field(text, "Sample Rate")), c.rate, 0.5);
    EXPECT_NE(text.find("= " + std::to_string(c.frames) + " samples"), std::string::npos) << text;
    const std::string raw = dir / "sox.raw";
    ASSERT_TRUE(RunCommand("sox " + Quote(ours.path) + " -t raw -e signed-integer -b " + std::to_string(c.bits) + " -L " + Quote(raw)));
    EXPECT_TRUE(ReadFile(raw) == std::string(ours.littleEndian.begin(), ours.littleEndian.end())) << "sox samples differ";

    ASSERT_TRUE(RunCommand("ffprobe -v error -show_entries stream=sample_rate,channels -of default=noprint_wrappers=1 " +
                    Quote(ours.path), &text));
    EXPECT_EQ(KeyValue(text, "channels"), std::to_string(c.channels));
    // Peers show a fractional rate as a whole number, some rounded and some cut.
    EXPECT_NEAR(std::stod("0" + KeyValue(text, "sample_rate")), c.rate, 1.0);
    if (c.bits != 8) {
        // ffmpeg decodes 8-bit AIFF as such; the wider sizes are compared byte for byte.
        const char* codec = c.bits == 16 ? "s16le" : c.bits == 24 ? "s24le" : "s32le";
        const std::string ffraw = dir / "ff.raw";
        ASSERT_TRUE(RunCommand("ffmpeg -v error -y -i " + Quote(ours.path) + " -f " + codec + " -c:a pcm_" + codec + " " +
                        Quote(ffraw)));
        EXPECT_TRUE(ReadFile(ffraw) == std::string(ours.littleEndian.begin(), ours.littleEndian.end()))
            << "ffmpeg samples differ";
    }

    ASSERT_TRUE(RunCommand("sndfile-info " + Quote(ours.path), &text));
    const std::string summary = text.substr(text.rfind("-----"));
    EXPECT_NEAR(std::stod("0" + Field(summary, "Sample Rate")), c.rate, 1.0);
    EXPECT_EQ(Field(summary, "Frames"), std::to_string(c.frames));
    EXPECT_EQ(Field(summary, "Channels"), std::to_string(c.channels));
    if (c.frames > 200) {
        EXPECT_NE(text.find("Name     : #1 Verse"), std::string::npos) << text;
        EXPECT_NE(text.find("Position : 10\n"), std::string::npos);
        EXPECT_NE(text.find("Name     : Sustainloop start"), std::string::npos);
        EXPECT_NE(text.find("Position : 60\n"), std::string::npos);
        EXPECT_NE(text.find("Position : 190\n"), std::string::npos);
        EXPECT_NE(text.find("mode  : 801 => forward"), std::string::npos) << text;
    }
}

const OurCase kOurCases[] = {
    {"s16_stereo", false, 2, 16, 44100, 30001, CSoundFile::kStereo},
    {"s8_mono_odd", false, 1, 8, 22254.545454545454f, 5001, CSoundFile::kMono},
    {"s24_six", false, 6, 24, 48000, 4000, CSoundFile::k51},
    {"s32_quad", false, 4, 32, 96000, 150, CSoundFile::kQuad},
    {"aifc_s16", true, 2, 16, 32000, 20000, CSoundFile::kStereo},
    {"aifc_s24_mono", true, 1, 24, 8000, 333, CSoundFile::kMono},
};

INSTANTIATE_TEST_SUITE_P(Ours, OurWrittenFile, ::testing::ValuesIn(kOurCases),
                         [](const ::testing::TestParamInfo<OurCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Sample sizes that are not whole bytes: each sample sits left-justified in the
// next whole number of bytes and reads at that container's scale, as libsndfile
// and sox read it.

struct OddSize {
    const char* name;
    const char* formType;
    const char* compression;  // empty for AIFF
    int16_t bits;
    short container;
    bool littleEndian;
};

void PrintTo(const OddSize& c, std::ostream* os) { *os << c.name; }

class OddSampleSize : public ::testing::TestWithParam<OddSize> {};

TEST_P(OddSampleSize, ReadsInItsContainerAsThePeersDo) {
    const OddSize& c = GetParam();
    TempDir dir;
    const int channels = 2;
    const uint32_t frames = 300;
    const int bytes = c.container / 8;
    std::mt19937 rng(static_cast<unsigned>(c.bits));
    std::string samples;
    for (uint32_t i = 0; i < frames * channels; ++i) {
        // The valid bits at the top of the container, zeros below them.
        const uint32_t valid = rng() & ~((1u << (32 - c.bits)) - 1);
        for (int b = 0; b < bytes; ++b) {
            const int shift = c.littleEndian ? 32 - bytes * 8 + b * 8 : 24 - b * 8;
            samples += static_cast<char>(valid >> shift);
        }
    }
    const std::string comm = *c.compression ? AifcComm(channels, frames, c.bits, 44100, c.compression)
                                            : Comm(channels, frames, c.bits, 44100);
    const std::string path = dir / (std::string(c.name) + ".aif");
    testsupport::WriteFile(path, Form(comm + Ssnd(samples), c.formType));

    auto f = OpenEither(path);
    EXPECT_EQ(f->GetWordSize(), c.container);
    ASSERT_EQ(f->GetNumSFrames(), frames);
    std::vector<double> ours(frames * channels);
    std::vector<float> oursFloat(frames * channels);
    uint32_t count = frames, countFloat = frames;
    ASSERT_EQ(f->Read(0, &count, ours.data()), 0);
    ASSERT_EQ(count, frames);
    ASSERT_EQ(f->Read(0, &countFloat, oursFloat.data()), 0);

    std::vector<double> theirs(frames * channels);
    if (c.bits > 8) {
        SF_INFO info{};
        SNDFILE* peer = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(peer, nullptr) << sf_strerror(nullptr);
        EXPECT_EQ(sf_readf_double(peer, theirs.data(), frames), sf_count_t{frames});
        sf_close(peer);
    } else {
        // libsndfile refuses samples narrower than a byte; sox reads them.
        if (!HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
        const std::string raw = dir / "sox.raw";
        ASSERT_TRUE(RunCommand("sox " + Quote(path) + " -t raw -e signed-integer -b 8 " + Quote(raw)));
        const std::string decoded = ReadFile(raw);
        ASSERT_EQ(decoded.size(), theirs.size());
        for (size_t i = 0; i < theirs.size(); ++i) theirs[i] = static_cast<int8_t>(decoded[i]) / 128.0;
    }
    for (size_t i = 0; i < theirs.size(); ++i) {
        // Our read scales lie a hair above the powers of two.
        ASSERT_NEAR(ours[i], theirs[i], 1e-6) << "sample " << i;
        ASSERT_NEAR(oursFloat[i], theirs[i], 1e-6) << "sample " << i;
    }
}

const OddSize kOddSizes[] = {
    {"aiff_20", "AIFF", "", 20, 24, false},      {"aiff_12", "AIFF", "", 12, 16, false},
    {"aiff_4", "AIFF", "", 4, 8, false},         {"aiff_28", "AIFF", "", 28, 32, false},
    {"aifc_none_20", "AIFC", "NONE", 20, 24, false}, {"aifc_twos_12", "AIFC", "twos", 12, 16, false},
    {"aifc_sowt_20", "AIFC", "sowt", 20, 24, true},
};

INSTANTIATE_TEST_SUITE_P(Sizes, OddSampleSize, ::testing::ValuesIn(kOddSizes),
                         [](const ::testing::TestParamInfo<OddSize>& info) { return std::string(info.param.name); });

// Word sizes that are not whole bytes written here, in AIFF, AIFF-C and WAVE
// (plain, and extensible for three channels): each sample sits left-justified
// in the next whole byte with zeros below it and the header declares the size
// asked for (COMM's sample size; WAVE's bits per sample, or the extensible
// chunk's valid bits). libsndfile, ffmpeg, sox (which reads no such WAVE file)
// and our readers read the samples back.
TEST(NarrowSizesWritten, KeepTheirContainerAndReadBackEverywhere) {
    for (const char* program : {"ffmpeg", "sox"})
        if (!HaveProgram(program)) GTEST_SKIP() << program << " is not installed";
    TempDir dir;
    for (const char* format : {"aiff", "aifc", "wav", "wav3"}) {
        for (const short bits : {9, 12, 20, 28, 31}) {
            const std::string name = format + std::to_string(bits);
            SCOPED_TRACE(name);
            const bool wave = format[0] == 'w';
            const short container = static_cast<short>((bits + 7) / 8 * 8), channels = format[3] == '3' ? 3 : 2;
            // An even count: an odd number of 3-byte samples would gain a frame of silence.
            const uint32_t frames = 334;
            const formattest::NarrowSamples samples = formattest::MakeNarrowSamples(bits, frames * size_t(channels), bits);
            std::unique_ptr<CSoundFile> w(wave                  ? static_cast<CSoundFile*>(new CWAVEFile)
                                          : format[3] == 'c' ? new CAIFCFile
                                                              : new CAIFFFile);
            ASSERT_EQ(w->ISoundFile(dir / name), 0);
            ASSERT_EQ(w->Create(channels, bits, 48000, nullptr, reinterpret_cast<const unsigned char*>(wave ? "\x04.wav" : "\x04.aif")), 0);
            EXPECT_EQ(w->GetWordSize(), container);
            w->SetDither(0);
            std::vector<double> written = samples.written;
            uint32_t count = frames;
            ASSERT_EQ(w->Write(0, &count, written.data()), 0);
            const std::string path = w->GetPath();
            ASSERT_EQ(w->Close(), 0);

            const std::string file = ReadFile(path);
            const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
            if (!wave) {
                const size_t comm = format[3] == 'c' ? 24 : 12;  // after FVER in AIFF-C
                ASSERT_EQ(file.substr(comm, 4), "COMM");
                EXPECT_EQ(LoadBE16(bytes + comm + 14), bits);
            } else {
                ASSERT_EQ(file.substr(12, 4), "fmt ");
                EXPECT_EQ(LoadLE16(bytes + 32), container / 8 * channels);
                EXPECT_EQ(LoadLE16(bytes + 34), channels == 2 ? bits : container);
                if (channels == 3) {
                    EXPECT_EQ(LoadLE16(bytes + 38), bits);
                }
            }

            std::vector<int32_t> sndfile(samples.leftJustified.size());
            SF_INFO info{};
            SNDFILE* peer = sf_open(path.c_str(), SFM_READ, &info);
            ASSERT_NE(peer, nullptr) << sf_strerror(nullptr);
            EXPECT_EQ(sf_readf_int(peer, sndfile.data(), frames), sf_count_t{frames});
            sf_close(peer);
            EXPECT_EQ(sndfile, samples.leftJustified);
            const std::string raw = dir / "peer.raw";
            std::vector<std::string> commands = {"ffmpeg -v error -y -i " + Quote(path) + " -f s32le " + Quote(raw)};
            if (!wave) commands.push_back("sox " + Quote(path) + " -t raw -e signed-integer -b 32 -L " + Quote(raw));
            for (const std::string& command : commands) {
                ASSERT_TRUE(RunCommand(command)) << command;
                const std::string decoded = ReadFile(raw);
                std::vector<int32_t> theirs(decoded.size() / 4);
                std::memcpy(theirs.data(), decoded.data(), theirs.size() * 4);
                EXPECT_EQ(theirs, samples.leftJustified) << command;
            }

            std::unique_ptr<CSoundFile> r;
            if (wave) {
                r = std::make_unique<CWAVEFile>();
                ASSERT_EQ(r->ISoundFile(path), 0);
                ASSERT_EQ(r->Open(), 0);
            } else {
                r = OpenEither(path);
            }
            EXPECT_EQ(r->GetWordSize(), container);
            ASSERT_EQ(r->GetNumSFrames(), frames);
            std::vector<uint8_t> back;
            ASSERT_EQ(ReadAllFrames(*r, &back), 0);
            std::vector<int32_t> ours;
            for (size_t i = 0; i < samples.leftJustified.size(); ++i) {
                uint32_t v = 0;
                for (size_t b = 0; b < size_t(container / 8); ++b) v |= uint32_t{back[i * (container / 8) + b]} << (8 * b);
                ours.push_back(static_cast<int32_t>(v << (32 - container)));
            }
            EXPECT_EQ(ours, samples.leftJustified);
        }
    }
}

}  // namespace
