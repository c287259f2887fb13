// PARIS files: headers read and refused, the 24-bit block layout, rows held
// between flushes and written at close, every shape written and read back, and
// files exchanged with libsndfile and sox both ways.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/chunk_reader.h"
#include "formats/pcm/paris_file.h"
#include "test_support.h"

using formattest::FileTest;
using formattest::Quote;
using formattest::RunCommand;
using testsupport::HaveProgram;
using testsupport::ReadFile;

namespace {

// A header: the seven words in the magic's byte order, then zeros to 2048.
std::string Header(bool little, uint32_t order, int32_t rate, uint32_t format, uint32_t channels,
                   const char* magic = nullptr) {
    std::string h(2048, '\0');
    auto* p = reinterpret_cast<uint8_t*>(h.data());
    std::memcpy(p, magic ? magic : little ? "fap " : " paf", 4);
    const uint32_t words[] = {order, static_cast<uint32_t>(rate), format, channels, 5};
    for (int i = 0; i < 5; ++i) little ? StoreLE32(p + 8 + 4 * i, words[i]) : StoreBE32(p + 8 + 4 * i, words[i]);
    return h;
}

// One sample of the buffer form, widened, and back.
int32_t LoadSample(const unsigned char* p, int bytes) {
    if (bytes == 1) return static_cast<int8_t>(p[0]);
    if (bytes == 2) {
        int16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    return static_cast<int32_t>((uint32_t(p[0]) << 8) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 24)) >> 8;
}
void StoreSample(unsigned char* p, int bytes, int32_t v) {
    if (bytes == 2) {
        const auto s = static_cast<int16_t>(v);
        std::memcpy(p, &s, 2);
        return;
    }
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::vector<int32_t> ReadAll(CSoundFile& f, OSErr* status = nullptr) {
    std::vector<uint8_t> bytes;
    const OSErr err = formattest::ReadAllFrames(f, &bytes);
    if (status) *status = err;
    const int n = f.GetWordSize() / 8;
    std::vector<int32_t> out;
    for (size_t i = 0; i + n <= bytes.size(); i += n) out.push_back(LoadSample(bytes.data() + i, n));
    return out;
}

std::vector<uint8_t> BufferForm(const std::vector<int32_t>& samples, int bytes) {
    std::vector<uint8_t> out(samples.size() * bytes);
    for (size_t i = 0; i < samples.size(); ++i) StoreSample(out.data() + i * bytes, bytes, samples[i]);
    return out;
}

// Random samples over a word size's whole range.
std::vector<int32_t> RandomSamples(size_t n, int bits, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<int32_t> out(n);
    for (int32_t& s : out) s = static_cast<int32_t>(rng()) >> (32 - bits);
    return out;
}

class ParisTest : public FileTest {
protected:
    SoundFilePtr OpenFile(const std::string& path, OSErr* status) {
        SoundFilePtr f(new CParisLinearFile);
        EXPECT_EQ(f->ISoundFile(path), 0);
        *status = f->Open();
        return f;
    }
    SoundFilePtr CreateFile(const std::string& base, short channels, short bits, const char* order,
                            OSErr* status, float rate = 44100) {
        SoundFilePtr f(new CParisLinearFile);
        EXPECT_EQ(f->ISoundFile(dir / base), 0);
        f->SetDither(0);
        std::vector<uint8_t> specifics(16, 0);
        if (order) specifics[0] = static_cast<uint8_t>(order[0]);
        *status = f->Create(channels, bits, rate, order ? specifics.data() : nullptr,
                            reinterpret_cast<const unsigned char*>("\x03paf"));
        return f;
    }
    // Writes the samples from frame 0 and closes; the file's path.
    std::string WriteFile(const std::string& base, short channels, short bits, const char* order,
                          const std::vector<int32_t>& samples, uint32_t bufferFrames = 12288) {
        OSErr err = 0;
        SoundFilePtr f = CreateFile(base, channels, bits, order, &err);
        EXPECT_EQ(err, 0);
        f->SetSFTBufferSize(bufferFrames);
        EXPECT_EQ(formattest::WriteBufferForm(*f, 0, BufferForm(samples, bits / 8)), 0);
        EXPECT_EQ(f->Close(), 0);
        return f->GetPath();
    }
};

// ---------------------------------------------------------------------------
// Reading

TEST_F(ParisTest, HeadersGiveShapeAndFrameCount) {
    struct Case {
        const char* what;
        std::string bytes;
        OSErr status;
        short bits;
        short channels;
        uint32_t frames;
    };
    const std::vector<Case> cases = {
        {"24-bit mono, 100 blocks", Header(false, 0, 48000, 1, 1) + std::string(3200, '\0'), 0, 24, 1, 1000},
        {"24-bit mono, a part block", Header(false, 0, 48000, 1, 1) + std::string(3210, '\0'), 0, 24, 1, 1000},
        {"24-bit stereo, one row and a half", Header(true, 1, 48000, 1, 2) + std::string(96, '\0'), 0, 24, 2, 10},
        {"fap with format 2", Header(true, 0, 8000, 2, 3) + std::string(10, '\0'), 0, 8, 3, 3},
        {"format 7 keeps 16 bits", Header(false, 1, 8000, 7, 2) + std::string(10, '\0'), 0, 16, 2, 2},
        {"header only", Header(false, 0, 8000, 0, 1), 0, 16, 1, 0},
        {"shorter than the header", Header(false, 0, 8000, 0, 1).substr(0, 2047), kParisBadHeaderErr, 0, 0, 0},
        {"shorter than the words", Header(false, 0, 8000, 0, 1).substr(0, 27), kParisNoHeaderErr, 0, 0, 0},
        {"no magic", Header(false, 0, 8000, 0, 1, "paf ") + "ab", kParisBadHeaderErr, 0, 0, 0},
        {"no channels", Header(false, 0, 8000, 1, 0) + "ab", kParisBadHeaderErr, 0, 0, 0},
        {"too many channels", Header(true, 0, 8000, 0, 1025) + "ab", kParisBadHeaderErr, 0, 0, 0},
        {"rate 0", Header(false, 0, 0, 0, 1) + "ab", kParisBadHeaderErr, 0, 0, 0},
        {"negative rate", Header(true, 0, -8000, 0, 1) + "ab", kParisBadHeaderErr, 0, 0, 0},
        {"byte order 2", Header(false, 2, 8000, 0, 1) + "ab", kParisBadHeaderErr, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Put("h.paf", c.bytes);
        OSErr err = 1;
        SoundFilePtr f = OpenFile(path, &err);
        EXPECT_EQ(err, c.status);
        SoundFilePtr g(new CParisLinearFile);
        ASSERT_EQ(g->ISoundFile(path), 0);
        OSErr status = 1;
        EXPECT_EQ(g->GetOfflineInfo(&status), c.status);
        EXPECT_EQ(status, 0);
        EXPECT_FALSE(g->IsOpen());
        if (c.status) continue;
        for (CSoundFile* s : {f.get(), g.get()}) {
            EXPECT_EQ(s->GetWordSize(), c.bits);
            EXPECT_EQ(s->GetNumChannels(), c.channels);
            EXPECT_EQ(s->GetNumSFrames(), c.frames);
        }
        EXPECT_EQ(f->GetDataType(), kDataTypePCM);
        OSErr readErr = 1;
        EXPECT_EQ(ReadAll(*f, &readErr).size(), size_t{c.frames} * c.channels);
        EXPECT_EQ(readErr, 0);
    }
}

TEST_F(ParisTest, BlockBitsInBothByteOrders) {
    // Sample 0 is bits 0-23 of the first word, sample 1 bits 24-31 of the first
    // and 0-15 of the second.
    struct Case {
        uint32_t order;
        std::string block;
    };
    const std::vector<Case> cases = {
        {1, std::string("\x01\x00\x00\x00\x02\x00\x00\x00", 8) + std::string(24, '\0')},
        {0, std::string("\x00\x00\x00\x01\x00\x00\x00\x02", 8) + std::string(24, '\0')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.order);
        OSErr err = 0;
        SoundFilePtr f = OpenFile(Put("b.paf", Header(false, c.order, 8000, 1, 1) + c.block), &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(ReadAll(*f), (std::vector<int32_t>{1, 512, 0, 0, 0, 0, 0, 0, 0, 0}));
    }
}

TEST_F(ParisTest, SplitMembersAndChannelWord) {
    const std::vector<std::pair<std::string, std::string>> names = {
        {"take.R", "take-R"}, {"take.L", "take-L"}, {"take.r", "take.r"}, {"R", "R"}, {"take.RR", "take.RR"}};
    for (const auto& [given, bound] : names) {
        CParisLinearFile f;
        f.ISoundFile(dir / given);
        EXPECT_EQ(f.GetPath(), dir / bound);
    }
    EXPECT_EQ(CParisLinearFile::ReadNumChannels(Put("le.paf", Header(true, 0, 8000, 0, 6))), 6);
    EXPECT_EQ(CParisLinearFile::ReadNumChannels(Put("be.paf", Header(false, 0, 8000, 0, 7))), 7);
    EXPECT_EQ(CParisLinearFile::ReadNumChannels(Put("short.paf", Header(false, 0, 8000, 0, 7).substr(0, 27))), 0);
    EXPECT_EQ(CParisLinearFile::ReadNumChannels(dir / "missing.paf"), 0);
}

// ---------------------------------------------------------------------------
// Writing

TEST_F(ParisTest, CreatedHeadersAndRefusals) {
    struct Case {
        short bits;
        const char* order;
        uint32_t format;
        uint32_t orderWord;
        std::string firstSample;  // the stored bytes of the sample 0x010203 cut to the word size
    };
    const std::vector<Case> cases = {
        {8, "B", 2, 0, "\x03"},           {16, "L", 0, 1, "\x03\x02"}, {16, nullptr, 0, 0, "\x02\x03"},
        {24, "L", 1, 1, "\x03\x02\x01"}, {24, "B", 1, 0, std::string("\x00\x01\x02\x03", 4)},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        const int32_t sample = c.bits == 8 ? 3 : c.bits == 16 ? 0x0203 : 0x010203;
        const std::string path = WriteFile("c" + std::to_string(n++), 2, c.bits, c.order, {sample, 0}, 64);
        const std::string bytes = ReadFile(path);
        ASSERT_GE(bytes.size(), 2048u + c.firstSample.size());
        const auto* h = reinterpret_cast<const uint8_t*>(bytes.data());
        EXPECT_EQ(bytes.substr(0, 4), " paf");
        EXPECT_EQ(LoadBE32(h + 8), c.orderWord);
        EXPECT_EQ(LoadBE32(h + 12), 44100u);
        EXPECT_EQ(LoadBE32(h + 16), c.format);
        EXPECT_EQ(LoadBE32(h + 20), 2u);
        EXPECT_EQ(LoadBE32(h + 24), 5u);
        EXPECT_EQ(bytes.substr(28, 2020), std::string(2020, '\0'));
        EXPECT_EQ(bytes.substr(2048, c.firstSample.size()), c.firstSample);
    }
    OSErr err = 0;
    for (short bits : {0, 12, 32}) {
        CreateFile("ws", 1, bits, "B", &err);
        EXPECT_EQ(err, kParisUnsupportedWordSizeErr) << bits;
    }
    CreateFile("ch", 0, 16, "B", &err);
    EXPECT_EQ(err, kParamErr);
    CreateFile("rate", 1, 16, "B", &err, 0.0f);
    EXPECT_EQ(err, kParamErr);
    for (const char* name : {"ws.paf", "ch.paf", "rate.paf"}) EXPECT_FALSE(XWQF::FileExists(dir / name));
    CParisLinearFile never;
    EXPECT_EQ(never.Close(), kFileNotOpenBaseErr);
}

TEST_F(ParisTest, HeldRowsAcrossFlushesAndAtClose) {
    // 24-bit mono: each step flushes `count` frames at `frame` (frame values
    // 1000 + frame) and leaves `dataBytes` in the file while it is open.
    struct Step {
        uint32_t count;
        uint32_t frame;
        uint64_t dataBytes;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
        uint64_t closedBytes;
    };
    const std::vector<Case> cases = {
        {"25 then 10 frames", {{25, 0, 64}, {10, 25, 96}}, 128},
        {"3 frames while 4 are held", {{4, 0, 0}, {3, 4, 0}}, 32},
        {"whole rows only", {{20, 0, 64}}, 64},
        {"a flush away from the held row", {{5, 0, 0}, {3, 100, 32}}, 352},
        {"a flush at frame 0 keeps a later held row", {{15, 0, 32}, {2, 0, 64}}, 64},
        {"rewriting inside written rows", {{30, 0, 96}, {4, 13, 96}}, 96},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OSErr err = 0;
        SoundFilePtr f = CreateFile("held", 1, 24, "L", &err);
        ASSERT_EQ(err, 0);
        const std::string path = f->GetPath();
        std::vector<int32_t> expected;
        for (const Step& s : c.steps) {
            std::vector<int32_t> samples;
            for (uint32_t i = 0; i < s.count; ++i) samples.push_back(-1000 - int32_t(s.frame + i));
            ASSERT_EQ(formattest::WriteBufferForm(*f, s.frame, BufferForm(samples, 3)), 0);
            EXPECT_EQ(ReadFile(path).size(), 2048 + s.dataBytes);
            if (expected.size() < s.frame + s.count) expected.resize(s.frame + s.count, 0);
            std::copy(samples.begin(), samples.end(), expected.begin() + s.frame);
        }
        ASSERT_EQ(f->Close(), 0);
        ASSERT_EQ(ReadFile(path).size(), 2048 + c.closedBytes);
        SoundFilePtr g = OpenFile(path, &err);
        ASSERT_EQ(err, 0);
        expected.resize(c.closedBytes / 32 * 10, 0);
        EXPECT_EQ(ReadAll(*g), expected);
        std::remove(path.c_str());
    }
}

TEST_F(ParisTest, EveryShapeReadsBackAsWritten) {
    // Frame counts not a multiple of ten, buffers that end inside rows.
    int n = 0;
    for (short bits : {8, 16, 24}) {
        for (const char* order : {"B", "L"}) {
            for (short channels : {1, 2, 3, 7}) {
                SCOPED_TRACE(std::to_string(bits) + order + std::to_string(channels));
                const uint32_t frames = 1237;
                const std::vector<int32_t> samples = RandomSamples(size_t{frames} * channels, bits, n);
                const std::string path = WriteFile("s" + std::to_string(n++), channels, bits, order, samples, 97);
                OSErr err = 0;
                SoundFilePtr f = OpenFile(path, &err);
                ASSERT_EQ(err, 0);
                std::vector<int32_t> expected = samples;
                if (bits == 24) expected.resize(size_t{1240} * channels, 0);
                EXPECT_EQ(ReadAll(*f), expected);
            }
        }
    }
}

TEST_F(ParisTest, ChannelsAddedOneByOneMatchInterleavedWriting) {
    // Each channel is added over the frames already there: the output buffer's
    // refresh must give back what the flushes wrote, a held row included (45
    // frames stay within one buffer, 205 take four).
    int n = 0;
    for (uint32_t frames : {45u, 205u}) {
        std::vector<double> interleaved(size_t{frames} * 3);
        for (uint32_t i = 0; i < frames; ++i)
            for (int c = 0; c < 3; ++c) interleaved[size_t{i} * 3 + c] = (int(i) - 100) * (c + 1) / 400.0;
        for (const char* order : {"B", "L"}) {
            SCOPED_TRACE(std::to_string(frames) + order);
            OSErr err = 0;
            SoundFilePtr added = CreateFile("add" + std::to_string(n), 3, 24, order, &err);
            ASSERT_EQ(err, 0);
            SoundFilePtr written = CreateFile("write" + std::to_string(n++), 3, 24, order, &err);
            ASSERT_EQ(err, 0);
            added->SetSFTBufferSize(64);
            for (short c = 0; c < 3; ++c) {
                std::vector<double> in(frames);
                for (uint32_t i = 0; i < frames; ++i) in[i] = interleaved[size_t{i} * 3 + c];
                uint32_t count = frames;
                ASSERT_EQ(added->Add(c, 0, &count, in.data()), 0);
                ASSERT_EQ(count, frames);
            }
            uint32_t count = frames;
            std::vector<double> copy = interleaved;
            ASSERT_EQ(written->Write(0, &count, copy.data()), 0);
            const std::string addedPath = added->GetPath(), writtenPath = written->GetPath();
            ASSERT_EQ(added->Close(), 0);
            ASSERT_EQ(written->Close(), 0);
            SoundFilePtr a = OpenFile(addedPath, &err);
            ASSERT_EQ(err, 0);
            SoundFilePtr w = OpenFile(writtenPath, &err);
            ASSERT_EQ(err, 0);
            const std::vector<int32_t> expected = ReadAll(*w);
            ASSERT_EQ(expected.size(), (frames + 5) * 3);
            EXPECT_NE(expected[(frames - 1) * 3 + 1], 0);
            EXPECT_EQ(ReadAll(*a), expected);
        }
    }
}

// ---------------------------------------------------------------------------
// Peers

// Every frame of a file as libsndfile reads it, scaled to the word size.
std::vector<int32_t> SndfileSamples(const std::string& path, int bits, SF_INFO* info) {
    *info = SF_INFO{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, info);
    if (!f) return {};
    std::vector<int32_t> out(static_cast<size_t>(info->frames * info->channels));
    sf_readf_int(f, out.data(), info->frames);
    sf_close(f);
    for (int32_t& s : out) s >>= 32 - bits;
    return out;
}

TEST_F(ParisTest, PeerFilesReadHere) {
    if (!HaveProgram("sox") || !HaveProgram("sndfile-convert")) GTEST_SKIP() << "sox or sndfile-convert missing";
    const std::string wav = dir / "in.wav";
    ASSERT_TRUE(RunCommand("sox -n -r 22050 -c 3 -b 24 -e signed " + Quote(wav) +
                           " synth 0.1 whitenoise sine 440 square 300 gain -0.5"));
    for (int bits : {8, 16, 24}) {
        for (const char* endian : {"big", "little"}) {
            SCOPED_TRACE(std::to_string(bits) + endian);
            const std::string path = dir / "peer.paf";
            std::remove(path.c_str());
            const std::string option = bits == 8 ? "-pcms8" : "-pcm" + std::to_string(bits);
            ASSERT_TRUE(RunCommand("sndfile-convert -endian=" + std::string(endian) + " " + option + " " +
                                   Quote(wav) + " " + Quote(path)));
            SF_INFO info;
            const std::vector<int32_t> theirs = SndfileSamples(path, bits, &info);
            OSErr err = 0;
            SoundFilePtr f = OpenFile(path, &err);
            ASSERT_EQ(err, 0);
            EXPECT_EQ(f->GetWordSize(), bits);
            EXPECT_EQ(f->GetNumChannels(), 3);
            EXPECT_EQ(f->GetSampleRate(), 22050.0);
            EXPECT_EQ(int64_t{f->GetNumSFrames()}, info.frames);
            EXPECT_GE(theirs.size(), 3u * 2205);
            EXPECT_EQ(ReadAll(*f), theirs);
        }
    }
}

TEST_F(ParisTest, FilesWrittenHereReadByPeers) {
    const bool haveSox = HaveProgram("sox");
    int n = 0;
    for (int bits : {8, 16, 24}) {
        for (const char* order : {"B", "L"}) {
            for (short channels : {1, 3}) {
                SCOPED_TRACE(std::to_string(bits) + order + std::to_string(channels));
                const uint32_t frames = bits == 24 ? 3000 : 2995;
                const std::vector<int32_t> samples = RandomSamples(size_t{frames} * channels, bits, 77 + n);
                const std::string path = WriteFile("ours" + std::to_string(n++), channels, bits, order, samples);
                SF_INFO info;
                EXPECT_EQ(SndfileSamples(path, bits, &info), samples);
                EXPECT_EQ(info.channels, channels);
                EXPECT_EQ(info.samplerate, 44100);
                EXPECT_EQ(info.format & SF_FORMAT_ENDMASK, order[0] == 'L' ? SF_ENDIAN_LITTLE : SF_ENDIAN_BIG);
                if (!haveSox) continue;
                std::string raw;
                ASSERT_TRUE(RunCommand("sox " + Quote(path) + " -t raw -e signed -b 32 -L -", &raw));
                std::vector<int32_t> decoded(raw.size() / 4);
                std::memcpy(decoded.data(), raw.data(), decoded.size() * 4);
                for (int32_t& s : decoded) s >>= 32 - bits;
                EXPECT_EQ(decoded, samples);
            }
        }
    }
}

}  // namespace
