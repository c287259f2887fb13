// PARIS files: headers read and refused, the 24-bit block layout, rows held
// between flushes and written at close, and every shape exchanged with
// libsndfile and sox both ways.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/chunk_reader.h"
#include "formats/pcm/paris_file.h"
#include "test_support.h"

using formattest::Quote;
using formattest::RunCommand;
using testsupport::HaveProgram;
using testsupport::ReadFile;

namespace {

// A header: the words in the magic's byte order (word 24 = 5), zeros to 2048.
std::string Header(bool little, uint32_t order, int32_t rate, uint32_t format, uint32_t channels,
                   const char* magic = nullptr) {
    std::string h(2048, '\0');
    auto* p = reinterpret_cast<uint8_t*>(h.data());
    std::memcpy(p, magic ? magic : little ? "fap " : " paf", 4);
    const uint32_t words[] = {order, static_cast<uint32_t>(rate), format, channels, 5};
    for (int i = 0; i < 5; ++i) little ? StoreLE32(p + 8 + 4 * i, words[i]) : StoreBE32(p + 8 + 4 * i, words[i]);
    return h;
}

// Samples in the buffer form (the machine's order, little-endian here; 24 bits
// packed least significant byte first), and back.
std::vector<uint8_t> BufferForm(const std::vector<int32_t>& samples, int bytes) {
    std::vector<uint8_t> out(samples.size() * bytes);
    for (size_t i = 0; i < samples.size(); ++i)
        for (int b = 0; b < bytes; ++b) out[i * bytes + b] = static_cast<uint8_t>(samples[i] >> (8 * b));
    return out;
}
std::vector<int32_t> Widen(const std::vector<uint8_t>& raw, int bytes) {
    std::vector<int32_t> out(raw.size() / bytes);
    for (size_t i = 0; i < out.size(); ++i) {
        uint32_t v = 0;
        for (int b = 0; b < bytes; ++b) v |= uint32_t(raw[i * bytes + b]) << (8 * (4 - bytes + b));
        out[i] = static_cast<int32_t>(v) >> (32 - 8 * bytes);
    }
    return out;
}

std::vector<int32_t> ReadAll(CSoundFile& f, OSErr* status = nullptr) {
    std::vector<uint8_t> bytes;
    const OSErr err = formattest::ReadAllFrames(f, &bytes);
    if (status) *status = err;
    return Widen(bytes, f.GetWordSize() / 8);
}

class ParisTest : public formattest::FileTest {
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
        char specifics[16] = {order ? order[0] : '\0'};
        *status = f->Create(channels, bits, rate, order ? specifics : nullptr,
                            reinterpret_cast<const unsigned char*>("\x03paf"));
        return f;
    }
    // Writes the samples from frame 0 and closes; the file's path.
    std::string WriteFile(const std::string& base, short channels, short bits, const char* order,
                          const std::vector<int32_t>& samples, uint32_t bufferFrames) {
        OSErr err = 0;
        SoundFilePtr f = CreateFile(base, channels, bits, order, &err);
        EXPECT_EQ(err, 0);
        f->SetSFTBufferSize(bufferFrames);
        EXPECT_EQ(formattest::WriteBufferForm(*f, 0, BufferForm(samples, bits / 8)), 0);
        EXPECT_EQ(f->Close(), 0);
        return f->GetPath();
    }
};

TEST_F(ParisTest, HeadersGiveShapeAndFrameCountAndBlockBitsInBothByteOrders) {
    struct Case {
        const char* what;
        std::string bytes;
        OSErr status;
        short bits, channels;
        uint32_t frames;
    };
    const std::string be24 = Header(false, 0, 48000, 1, 1);
    const std::vector<Case> cases = {
        {"24-bit mono, 100 blocks", be24 + std::string(3200, '\0'), 0, 24, 1, 1000},
        {"24-bit mono, a part block", be24 + std::string(3210, '\0'), 0, 24, 1, 1000},
        {"24-bit stereo, a row and a half", Header(true, 1, 48000, 1, 2) + std::string(96, '\0'), 0, 24, 2, 10},
        {"fap with format 2", Header(true, 0, 8000, 2, 3) + std::string(10, '\0'), 0, 8, 3, 3},
        {"format 7 keeps 16 bits", Header(false, 1, 8000, 7, 2) + std::string(10, '\0'), 0, 16, 2, 2},
        {"shorter than the header", be24.substr(0, 2047), kParisBadHeaderErr, 0, 0, 0},
        {"shorter than the words", be24.substr(0, 27), kParisNoHeaderErr, 0, 0, 0},
        {"no magic", Header(false, 0, 8000, 0, 1, "paf ") + "ab", kParisBadHeaderErr, 0, 0, 0},
        {"no channels", Header(false, 0, 8000, 1, 0) + "ab", kParisBadHeaderErr, 0, 0, 0},
        {"too many channels", Header(true, 0, 8000, 0, 1025) + "ab", kParisBadHeaderErr, 0, 0, 0},
        {"negative rate", Header(true, 0, -8000, 0, 1) + "ab", kParisBadHeaderErr, 0, 0, 0},
        {"byte order 2", Header(false, 2, 8000, 0, 1) + "ab", kParisBadHeaderErr, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Put("h.paf", c.bytes);
        OSErr err = 1, status = 1;
        SoundFilePtr f = OpenFile(path, &err);
        EXPECT_EQ(err, c.status);
        CParisLinearFile g;
        ASSERT_EQ(g.ISoundFile(path), 0);
        EXPECT_EQ(g.GetOfflineInfo(&status), c.status);
        if (c.status) continue;
        EXPECT_EQ(std::vector<int>({g.GetNumChannels(), f->GetWordSize(), int(g.GetNumSFrames())}),
                  std::vector<int>({c.channels, c.bits, int(c.frames)}));
        EXPECT_EQ(ReadAll(*f, &err).size(), size_t{c.frames} * c.channels);
        EXPECT_EQ(err, 0);
    }

    // 
    // Sample 0 is bits 0-23 of the first word, sample 1 bits 24-31 of it and 0-15 of the second.
    for (uint32_t order : {0u, 1u}) {
        const std::string block = order ? std::string("\x01\0\0\0\x02\0\0\0", 8) : std::string("\0\0\0\x01\0\0\0\x02", 8);
        OSErr err = 0;
        SoundFilePtr f = OpenFile(Put("b.paf", Header(false, order, 8000, 1, 1) + block + std::string(24, '\0')), &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(ReadAll(*f), (std::vector<int32_t>{1, 512, 0, 0, 0, 0, 0, 0, 0, 0})) << order;
    }
}

TEST_F(ParisTest, SplitMemberNamesAndChannelWord) {
    for (auto [given, bound] : {std::pair{"t.R", "t-R"}, {"t.L", "t-L"}, {"t.r", "t.r"}, {"t.RR", "t.RR"}}) {
        CParisLinearFile f;
        f.ISoundFile(dir / given);
        EXPECT_EQ(f.GetPath(), dir / bound);
    }
    EXPECT_EQ(CParisLinearFile::ReadNumChannels(Put("le.paf", Header(true, 0, 8000, 0, 6))), 6);
    EXPECT_EQ(CParisLinearFile::ReadNumChannels(Put("be.paf", Header(false, 0, 8000, 0, 7))), 7);
    EXPECT_EQ(CParisLinearFile::ReadNumChannels(Put("short.paf", std::string(27, ' '))), 0);
}

TEST_F(ParisTest, CreatedHeadersAndRefusals) {
    // The sample 0x010203 cut to the word size, as the first stored bytes.
    struct Case {
        short bits;
        const char* order;
        uint32_t format, orderWord;
        std::string stored;
    };
    const std::vector<Case> cases = {
        {8, "B", 2, 0, "\x03"}, {16, "L", 0, 1, "\x03\x02"}, {16, nullptr, 0, 0, "\x02\x03"},
        {24, "L", 1, 1, "\x03\x02\x01"}, {24, "B", 1, 0, std::string("\0\x01\x02\x03", 4)},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        const std::string bytes = ReadFile(WriteFile("c" + std::to_string(n++), 2, c.bits, c.order,
                                                     {0x010203 & ((1 << c.bits) - 1), 0}, 64));
        const auto* h = reinterpret_cast<const uint8_t*>(bytes.data());
        ASSERT_EQ(bytes.substr(0, 4), " paf");
        EXPECT_EQ(std::vector<uint32_t>({LoadBE32(h + 8), LoadBE32(h + 12), LoadBE32(h + 16), LoadBE32(h + 20),
                                         LoadBE32(h + 24)}),
                  std::vector<uint32_t>({c.orderWord, 44100, c.format, 2, 5}));
        EXPECT_EQ(bytes.substr(28, 2020), std::string(2020, '\0'));
        EXPECT_EQ(bytes.substr(2048, c.stored.size()), c.stored);
    }
    struct Refusal {
        short channels, bits;
        float rate;
        OSErr status;
    };
    for (const Refusal& r : std::vector<Refusal>{{1, 0, 8000, kParisUnsupportedWordSizeErr}, {1, 12, 8000, kParisUnsupportedWordSizeErr},
                                                 {1, 32, 8000, kParisUnsupportedWordSizeErr}, {0, 16, 8000, kParamErr},
                                                 {1, 16, 0.0f, kParamErr}}) {
        OSErr err = 0;
        CreateFile("refused", r.channels, r.bits, "B", &err, r.rate);
        EXPECT_EQ(err, r.status) << r.channels << " " << r.bits << " " << r.rate;
    }
    EXPECT_FALSE(XWQF::FileExists(dir / "refused.paf"));
    EXPECT_EQ(CParisLinearFile().Close(), kFileNotOpenBaseErr);
}

TEST_F(ParisTest, HeldRowsAcrossFlushesAndAtClose) {
    // 24-bit mono: each step flushes `count` frames at `frame` and leaves
    // `dataBytes` in the file while it is open.
    struct Step {
        uint32_t count, frame;
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
            expected.resize(std::max<size_t>(expected.size(), s.frame + s.count), 0);
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

TEST_F(ParisTest, ChannelsAddedOneByOneMatchInterleavedWriting) {
    // Each channel is added over the frames already there: the refresh must give
    // back what the flushes wrote, a held row included (45 frames stay within
    // one buffer, 205 take four).
    int n = 0;
    for (uint32_t frames : {45u, 205u}) {
        std::vector<double> interleaved(size_t{frames} * 3);
        for (size_t i = 0; i < interleaved.size(); ++i) interleaved[i] = (int(i / 3) - 100) * int(i % 3 + 1) / 400.0;
        for (const char* order : {"B", "L"}) {
            SCOPED_TRACE(std::to_string(frames) + order);
            OSErr err = 0;
            SoundFilePtr added = CreateFile("add" + std::to_string(n), 3, 24, order, &err);
            SoundFilePtr written = CreateFile("write" + std::to_string(n++), 3, 24, order, &err);
            added->SetSFTBufferSize(64);
            for (short c = 0; c < 3; ++c) {
                std::vector<double> in(frames);
                for (uint32_t i = 0; i < frames; ++i) in[i] = interleaved[size_t{i} * 3 + c];
                uint32_t count = frames;
                ASSERT_EQ(added->Add(c, 0, &count, in.data()), 0);
            }
            uint32_t count = frames;
            ASSERT_EQ(written->Write(0, &count, interleaved.data()), 0);
            const std::string addedPath = added->GetPath(), writtenPath = written->GetPath();
            ASSERT_EQ(added->Close(), 0);
            ASSERT_EQ(written->Close(), 0);
            SoundFilePtr a = OpenFile(addedPath, &err), w = OpenFile(writtenPath, &err);
            const std::vector<int32_t> expected = ReadAll(*w);
            ASSERT_EQ(expected.size(), (frames + 5) * 3);
            EXPECT_NE(expected[(frames - 1) * 3 + 1], 0);
            EXPECT_EQ(ReadAll(*a), expected);
        }
    }
}

TEST_F(ParisTest, EveryShapeReadBackHereAndByPeers) {
    // Ours, written through buffers that end inside rows, read here and by sox;
    // libsndfile's copy of ours in the other byte order read here.
    const bool haveSox = HaveProgram("sox"), haveConvert = HaveProgram("sndfile-convert");
    int n = 0;
    for (int bits : {8, 16, 24}) {
        for (const char* order : {"B", "L"}) {
            for (short channels : {1, 2, 3, 7}) {
                SCOPED_TRACE(std::to_string(bits) + order + std::to_string(channels));
                std::mt19937 rng(n);
                std::vector<int32_t> samples(size_t{1237} * channels);
                for (int32_t& s : samples) s = static_cast<int32_t>(rng()) >> (32 - bits);
                const std::string path = WriteFile("s" + std::to_string(n++), channels, bits, order, samples, 97);
                if (bits == 24) samples.resize(size_t{1240} * channels, 0);
                OSErr err = 0;
                EXPECT_EQ(ReadAll(*OpenFile(path, &err)), samples);
                std::string raw;
                if (haveSox) {
                    ASSERT_TRUE(RunCommand("sox " + Quote(path) + " -t raw -e signed -b 32 -L -", &raw));
                    std::vector<int32_t> decoded = Widen(std::vector<uint8_t>(raw.begin(), raw.end()), 4);
                    for (int32_t& s : decoded) s >>= 32 - bits;
                    EXPECT_EQ(decoded, samples);
                }
                if (!haveConvert) continue;
                const std::string theirs = path + ".paf";
                ASSERT_TRUE(RunCommand(std::string("sndfile-convert -endian=") + (*order == 'L' ? "big " : "little ") +
                                       (bits == 8 ? "-pcms8 " : "-pcm" + std::to_string(bits) + " ") + Quote(path) +
                                       " " + Quote(theirs)));
                SoundFilePtr f = OpenFile(theirs, &err);
                ASSERT_EQ(err, 0);
                EXPECT_EQ(static_cast<CParisLinearFile&>(*f).GetSampleByteOrder(), *order == 'L' ? 0u : 1u);
                EXPECT_EQ(ReadAll(*f), samples);
            }
        }
    }
}

}  // namespace
