// Creative Voice files: blocks read into rates, channels and frame counts, the
// block walk in its three forms, output rates accepted and refused, the block
// size limit, samples both ways, and files exchanged with sox and ffmpeg.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/chunk_reader.h"
#include "formats/pcm/voc_file.h"
#include "soundfile/progress.h"

using formattest::Quote;
using formattest::ReadAllFrames;
using formattest::RunCommand;
using formattest::WriteBufferForm;
using testsupport::HaveProgram;
using testsupport::ReadFile;

namespace {

std::string LE(uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
}
std::string Header(uint16_t first = 26) {
    return std::string("Creative Voice File\x1A", 20) + LE(first, 2) + LE(0x010A, 2) + LE(0x1129, 2);
}
std::string Block(int type, uint32_t size, const std::string& data = "") {
    return static_cast<char>(type) + LE(size, 3) + data;
}
std::string Sound(uint32_t size, int constant, int codec = 0) {
    return Block(1, size, std::string{static_cast<char>(constant), static_cast<char>(codec)});
}
std::string Extended(uint16_t constant, int pack, int mode) {
    return Block(8, 4, LE(constant, 2) + static_cast<char>(pack) + static_cast<char>(mode));
}
int PositionOf(int fork) {
    int position = -1;
    return XWQF::GetPos(fork, &position) ? -1 : position;
}

enum class Kind { kVOC, kVOC2 };
std::unique_ptr<CVOCBlockFile> Make(Kind kind) {
    return std::unique_ptr<CVOCBlockFile>(kind == Kind::kVOC ? static_cast<CVOCBlockFile*>(new CVOCFile) : new CVOC_SBFile);
}
const unsigned char* kExtension = reinterpret_cast<const unsigned char*>("\x03voc");

class VocTest : public formattest::FileTest {
protected:
    void TearDown() override {
        CorvaOutFile::Clear();
        FileTest::TearDown();
    }
    std::unique_ptr<CVOCBlockFile> OpenAs(Kind kind, const std::string& path, OSErr* err) {
        auto f = Make(kind);
        EXPECT_EQ(f->ISoundFile(path), 0);
        *err = f->Open();
        return f;
    }
    std::unique_ptr<CVOCBlockFile> CreateAs(Kind kind, const std::string& base, short channels, float rate) {
        auto f = Make(kind);
        EXPECT_EQ(f->ISoundFile(base), 0);
        EXPECT_EQ(f->Create(channels, kind == Kind::kVOC ? 8 : 16, rate, nullptr, kExtension), 0);
        return f;
    }
};

// ---------------------------------------------------------------------------
// Reading

TEST_F(VocTest, BlocksGiveRateChannelsAndFrames) {
    const std::string k4000(4000, '\x10');
    struct Case {
        const char* what;
        Kind kind;
        std::string bytes;
        OSErr err;
        double rate = 0;
        int channels = 0;
        uint32_t frames = 0;
        uint32_t dataStart = 0;
    };
    const Case cases[] = {
        {"constant 156, size 1002", Kind::kVOC, Header() + Sound(1002, 156) + k4000, 0, 10000, 1, 1000, 32},
        {"size 1", Kind::kVOC, Header() + Sound(1, 131) + k4000, 0, 8000, 1, 0, 32},
        {"size beyond the end", Kind::kVOC, Header() + Sound(1002, 131) + "0123456789", 0, 8000, 1, 10, 32},
        {"codec 4", Kind::kVOC, Header() + Sound(1002, 131, 4) + k4000, kVOCNoLinearDataErr},
        {"no sound block", Kind::kVOC, Header() + Block(0, 0), kVOCNoSoundDataErr},
        {"stereo, size 4002", Kind::kVOC2, Header() + Extended(62633, 0, 1) + Sound(4002, 233) + k4000, 0, 44092,
         2, 1000, 40},
        {"mono, odd size", Kind::kVOC2, Header() + Extended(0, 0, 0) + Sound(5, 0) + "abc", 0, 3906, 1, 1, 40},
        {"256 channels, constant 65535", Kind::kVOC2,
         Header() + Extended(65535, 0, 255) + Sound(514, 0) + k4000, 0, 1000000, 256, 1, 40},
        {"packing 1", Kind::kVOC2, Header() + Extended(62633, 1, 1) + Sound(6, 0) + "abcd", kVOCSBNoLinearDataErr},
        {"no extended block", Kind::kVOC2, Header() + Sound(1002, 156) + k4000, kVOCSBNoExtendedBlockErr},
        {"no sound block", Kind::kVOC2, Header() + Extended(62633, 0, 1) + Block(0, 0), kVOCSBNoSoundDataErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Put("in.voc", c.bytes);
        OSErr err = 1;
        auto f = OpenAs(c.kind, path, &err);
        ASSERT_EQ(err, c.err);
        auto info = Make(c.kind);
        ASSERT_EQ(info->ISoundFile(path), 0);
        OSErr status = 1;
        EXPECT_EQ(info->GetOfflineInfo(&status), c.err);
        EXPECT_FALSE(info->IsOpen());
        if (c.err) continue;
        for (CVOCBlockFile* g : {f.get(), info.get()}) {
            EXPECT_EQ(g->GetSampleRate(), c.rate);
            EXPECT_EQ(g->GetNumChannels(), c.channels);
            EXPECT_EQ(g->GetNumSFrames(), c.frames);
        }
        EXPECT_EQ(f->GetDataStart(), c.dataStart);
        std::vector<uint8_t> samples;
        EXPECT_EQ(ReadAllFrames(*f, &samples), 0);
        EXPECT_EQ(samples.size(), size_t{c.frames} * c.channels * (c.kind == Kind::kVOC ? 1 : 2));
    }
}

// The three forms of the walk agree: the position just past the block's head,
// or -22004; every hostile layout ends.
TEST_F(VocTest, BlockWalkFormsAgree) {
    std::string zeroSized;
    for (int i = 0; i < 20000; ++i) zeroSized += Block(2, 0);
    const struct {
        const char* what;
        std::string bytes;
        unsigned char type;
        int position;  // 0: not found
    } cases[] = {
        {"first block", Header() + Sound(2, 0), 1, 30},
        {"after a text block and a terminator", Header() + Block(5, 3, "abc") + Block(0, 0) + Sound(2, 0), 1, 41},
        {"first block offset at the end", Header(0xFFFF) + Sound(2, 0), 1, 0},
        {"size beyond the end", Header() + Block(2, 0xFFFFFF) + Sound(2, 0), 1, 0},
        {"not there", Header() + Sound(2, 0) + Block(0, 0), 8, 0},
        {"no first block offset", Header().substr(0, 21), 1, 0},
        {"many empty blocks", Header() + zeroSized, 8, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Put("walk.voc", c.bytes);
        const OSErr expected = c.position ? 0 : kVOCBlockNotFoundErr;
        CVOCFile voc;
        ASSERT_EQ(voc.ISoundFile(path), 0);
        voc.Open();  // the fork stays open when the format is refused
        EXPECT_EQ(voc.FindVocID(c.type), expected);
        EXPECT_EQ(c.position ? PositionOf(voc.GetFileRefNum()) : 0, c.position);

        FSRef ref{path};
        int fork = XWQF::kNoFork;
        ASSERT_EQ(XWQF::OpenFork(&ref, XWQF::kPermRead, &fork), 0);
        EXPECT_EQ(CVOC_SBFile().FindVocID(c.type, fork), expected);
        EXPECT_EQ(c.position ? PositionOf(fork) : 0, c.position);
        XWQF::CloseFork(fork);

        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(CVOC_SBFile::FindVocID(c.type, in), expected);
        EXPECT_EQ(c.position ? static_cast<int>(in.tellg()) : 0, c.position);
    }
    std::istringstream failed(Header() + Extended(0, 0, 0));
    failed.setstate(std::ios::failbit);
    EXPECT_EQ(CVOC_SBFile::FindVocID(8, failed), kVOCBlockNotFoundErr);
}

// ---------------------------------------------------------------------------
// Writing

TEST_F(VocTest, OutputRatesAndTheBlocksWritten) {
    struct Case {
        Kind kind;
        short channels;
        short bits;
        float rate;
        OSErr err;
        std::string blocks = "";  // what lies between the header and the samples
        double rateBack = 0;
    };
    const Case cases[] = {
        {Kind::kVOC, 1, 8, 8000, 0, Sound(1002, 131), 8000},
        {Kind::kVOC, 1, 8, 11025, kVOCIncompatibleRateErr},  // constant 165 gives back 10989 Hz
        {Kind::kVOC, 1, 8, 22050, kVOCIncompatibleRateErr},
        {Kind::kVOC, 1, 8, 3609, kVOCIncompatibleRateErr},  // gives back 3623 Hz
        {Kind::kVOC, 2, 8, 8000, kVOCIncompatibleChannelsErr},
        {Kind::kVOC, 1, 16, 8000, kVOCIncompatibleWordSizeErr},
        {Kind::kVOC2, 2, 16, 44100, 0, Extended(62633, 0, 1) + Sound(4002, 233), 44092},
        {Kind::kVOC2, 1, 16, 3906.25f, 0, Extended(0, 0, 0) + Sound(2002, 0), 3906},
        {Kind::kVOC2, 2, 16, 48000, kVOCIncompatibleRateErr},
        {Kind::kVOC2, 1, 16, 3000, kVOCIncompatibleRateErr},  // its constant would wrap
        {Kind::kVOC2, 1, 16, 3906.2f, kVOCIncompatibleRateErr},
        {Kind::kVOC2, 257, 16, 8000, kVOCIncompatibleChannelsErr},
        {Kind::kVOC2, 2, 8, 44100, kVOCSBIncompatibleWordSizeErr},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " ch, " << c.bits << " bits");
        const std::string base = dir / ("out" + std::to_string(n++));
        auto f = Make(c.kind);
        ASSERT_EQ(f->ISoundFile(base), 0);
        ASSERT_EQ(f->Create(c.channels, c.bits, c.rate, nullptr, kExtension), c.err);
        if (c.err) {
            EXPECT_FALSE(XWQF::FileExists(base) || XWQF::FileExists(base + ".voc"));
            continue;
        }
        const std::vector<uint8_t> samples(1000u * (c.bits / 8) * c.channels, 0x10);
        ASSERT_EQ(WriteBufferForm(*f, 0, samples), 0);
        if (n % 2) {
            ASSERT_EQ(f->Close(), 0);
            EXPECT_EQ(f->Close(), kFileNotOpenBaseErr);
        } else {
            f.reset();  // the destructor finishes an open file the same way
        }
        const std::string bytes = ReadFile(base + ".voc");
        ASSERT_EQ(bytes.size(), 26 + c.blocks.size() + samples.size() + 1);
        EXPECT_EQ(bytes.substr(0, 26 + c.blocks.size()), Header() + c.blocks);
        EXPECT_EQ(bytes.back(), '\0');
        OSErr err = 1;
        auto g = OpenAs(c.kind, base + ".voc", &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(g->GetSampleRate(), c.rateBack);
        EXPECT_EQ(g->GetNumSFrames(), 1000u);
    }
}

TEST_F(VocTest, EverySampleRoundTripsGapsAreSilenceAndDataBeyondTheBlockSizeIsRefused) {
    for (Kind kind : {Kind::kVOC, Kind::kVOC2}) {
        SCOPED_TRACE(kind == Kind::kVOC ? "VOC" : "VOC2");
        // Mono 8-bit and stereo 16-bit.
        const uint32_t sampleBytes = kind == Kind::kVOC ? 1 : 2, frameBytes = sampleBytes * sampleBytes;
        // Every value of the word (little-endian), over many buffers, after a gap of 7 frames.
        std::vector<uint8_t> samples;
        for (uint32_t v = 0; v < (1u << (8 * sampleBytes)); ++v)
            for (uint32_t b = 0; b < sampleBytes; ++b) samples.push_back(static_cast<uint8_t>(v >> (8 * b)));
        auto f = CreateAs(kind, dir / ("rt" + std::to_string(sampleBytes)), static_cast<short>(sampleBytes), 8000);
        f->SetSFTBufferSize(100);
        ASSERT_EQ(f->InitOutputBuffer(), 0);
        // Frames not yet in the file come into the output buffer as silence.
        ASSERT_EQ(f->RefreshOutputBuffer(7), 0);
        EXPECT_EQ(std::vector<uint8_t>(f->GetOutputBuffer(), f->GetOutputBuffer() + f->GetRealBufferSize()),
                  std::vector<uint8_t>(f->GetRealBufferSize(), 0));
        ASSERT_EQ(WriteBufferForm(*f, 7, samples), 0);
        ASSERT_EQ(f->Close(), 0);
        const std::string bytes = ReadFile(f->GetPath());
        const size_t gap = 7 * frameBytes;
        std::string stored(gap, '\0');
        stored.append(samples.begin(), samples.end());
        if (kind == Kind::kVOC)
            for (char& b : stored) b = static_cast<char>(b ^ 0x80);  // stored unsigned
        EXPECT_TRUE(bytes.substr(f->GetDataStart(), stored.size()) == stored);
        OSErr err = 1;
        auto g = OpenAs(kind, f->GetPath(), &err);
        ASSERT_EQ(err, 0);
        std::vector<uint8_t> back;
        ASSERT_EQ(ReadAllFrames(*g, &back), 0);
        samples.insert(samples.begin(), gap, 0);
        EXPECT_TRUE(back == samples);
    }

    // The sound-data block's size holds 24 bits: a flush past what it can count is
    // refused before anything is written, and the file closes sound.
    for (Kind kind : {Kind::kVOC, Kind::kVOC2}) {
        SCOPED_TRACE(kind == Kind::kVOC ? "VOC" : "VOC2");
        auto f = CreateAs(kind, dir / (kind == Kind::kVOC ? "big8" : "big16"), kind == Kind::kVOC ? 1 : 2, 8000);
        f->SetSFTBufferSize(16);
        const uint32_t max = f->MaxFrames(), frameBytes = kind == Kind::kVOC ? 1 : 4;
        EXPECT_EQ(max, 0xFFFFFDu / frameBytes);
        ASSERT_EQ(WriteBufferForm(*f, max - 10, std::vector<uint8_t>(10u * frameBytes, 0x22)), 0);
        ASSERT_EQ(f->RefreshOutputBuffer(max), 0);
        EXPECT_EQ(f->FlushOutputBuffer(1, max), kVOCBlockTooLargeErr);
        EXPECT_EQ(f->FlushOutputBuffer(2, max - 1), kVOCBlockTooLargeErr);
        EXPECT_EQ(f->RefreshOutputBuffer(max + 1), kVOCBlockTooLargeErr);
        EXPECT_EQ(f->GetNumSFrames(), max);
        ASSERT_EQ(f->Close(), 0);
        const std::string bytes = ReadFile(f->GetPath());
        const uint32_t start = f->GetDataStart();
        ASSERT_EQ(bytes.size(), start + uint64_t{max} * frameBytes + 1);
        EXPECT_EQ(bytes.substr(start - 6, 4), Block(1, max * frameBytes + 2));
        EXPECT_EQ(bytes.substr(bytes.size() - 11, 10), std::string(10, kind == Kind::kVOC ? '\xA2' : '\x22'));
    }
}

// ---------------------------------------------------------------------------
// Peers

TEST_F(VocTest, PeersBothWays) {
    if (!HaveProgram("sox") || !HaveProgram("ffmpeg")) GTEST_SKIP() << "sox and ffmpeg are needed";
    std::string raw;
    for (int i = 0; i < 3000; ++i) raw += static_cast<char>((i * 7919) >> 3);
    const std::string rawPath = Put("in.raw", raw), theirs = dir / "theirs.voc";
    std::vector<uint8_t> signedBytes(raw.begin(), raw.end());
    for (uint8_t& b : signedBytes) b ^= 0x80;
    // Theirs, one sound-data block each, read here as 'VOC '.
    for (const std::string& command :
         {"sox -t raw -r 8000 -c 1 -b 8 -e unsigned " + Quote(rawPath),
          "ffmpeg -v error -f u8 -ar 8000 -ac 1 -i " + Quote(rawPath) + " -af asetnsamples=n=3000:p=0 -c:a pcm_u8"}) {
        std::remove(theirs.c_str());
        ASSERT_TRUE(RunCommand(command + " " + Quote(theirs))) << command;
        OSErr err = 1;
        auto f = OpenAs(Kind::kVOC, theirs, &err);
        ASSERT_EQ(err, 0) << command;
        EXPECT_EQ(f->GetSampleRate(), 8000.0);
        std::vector<uint8_t> back;
        ASSERT_EQ(ReadAllFrames(*f, &back), 0);
        EXPECT_TRUE(back == signedBytes) << command;
    }
    // Ours, read there: 'VOC ' as written; 'VOC2' with the extended block's
    // rate and channels, but its 16-bit words taken as pairs of 8-bit samples.
    for (Kind kind : {Kind::kVOC, Kind::kVOC2}) {
        const bool voc = kind == Kind::kVOC;
        auto f = CreateAs(kind, dir / (voc ? "ours8" : "ours16"), voc ? 1 : 2, voc ? 8000 : 44100);
        ASSERT_EQ(WriteBufferForm(*f, 0, signedBytes), 0);
        ASSERT_EQ(f->Close(), 0);
        const std::string path = Quote(f->GetPath()), stored = ReadFile(f->GetPath()).substr(f->GetDataStart(), 3000);
        std::string out;
        for (const std::string& command :
             {"sox " + path + " -t raw -e unsigned -b 8 -", "ffmpeg -v error -i " + path + " -f u8 -c:a pcm_u8 -"}) {
            ASSERT_TRUE(RunCommand(command, &out)) << command;
            EXPECT_TRUE(out == stored) << command;
        }
        ASSERT_TRUE(RunCommand("ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 " + path, &out));
        EXPECT_EQ(out, voc ? "8000,1\n" : "44092,2\n");
    }
    // sox keeps stereo 8-bit data behind an extended block: such a file is
    // typed 'VOC2' and read as 16-bit words, each made of one frame's two bytes.
    std::remove(theirs.c_str());
    ASSERT_TRUE(RunCommand("sox -t raw -r 8000 -c 2 -b 8 -e unsigned " + Quote(rawPath) + " " + Quote(theirs)));
    std::ifstream in(theirs, std::ios::binary);
    EXPECT_EQ(CVOC_SBFile::FindVocID(8, in), 0);
    OSErr err = 1;
    auto f = OpenAs(Kind::kVOC2, theirs, &err);
    ASSERT_EQ(err, 0);
    EXPECT_EQ(f->GetNumChannels(), 2);
    EXPECT_EQ(f->GetSampleRate(), 8000.0);
    EXPECT_EQ(f->GetNumSFrames(), 750u);  // 1500 stereo frames of bytes
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadAllFrames(*f, &back), 0);
    EXPECT_TRUE(back == std::vector<uint8_t>(raw.begin(), raw.end()));
}

}  // namespace
