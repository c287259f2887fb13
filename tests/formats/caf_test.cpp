// Core Audio Format files: every linear form and Apple Lossless read into the
// buffer form, channel layouts mapped and put into their client order, damaged
// files refused, files written here (also a channel at a time) read back, and
// files exchanged with ffmpeg, sox and libsndfile both ways.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/chunk_reader.h"
#include "formats/pcm/caf_file.h"
#include "test_support.h"

using formattest::FileTest;
using formattest::Quote;
using formattest::RunCommand;
using testsupport::HaveProgram;
using testsupport::ReadFile;

namespace {

std::string BE(uint64_t v, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(v >> (8 * i));
    return out;
}

std::string Chunk(const char* type, const std::string& body, int64_t size) {
    return std::string(type, 4) + BE(static_cast<uint64_t>(size), 8) + body;
}
std::string Chunk(const char* type, const std::string& body) {
    return Chunk(type, body, static_cast<int64_t>(body.size()));
}

std::string Desc(uint32_t channels, uint32_t bits, uint32_t flags = 0, const char* format = "lpcm",
                 double rate = 48000, uint32_t bytesPerPacket = 0) {
    if (!bytesPerPacket && std::string(format) == "lpcm") bytesPerPacket = channels * bits / 8;
    return Chunk("desc", BE(std::bit_cast<uint64_t>(rate), 8) + std::string(format, 4) + BE(flags, 4) +
                             BE(bytesPerPacket, 4) + BE(1, 4) + BE(channels, 4) + BE(bits, 4));
}

std::string Data(const std::string& samples) { return Chunk("data", BE(0, 4) + samples); }

std::string Chan(uint32_t tag, uint32_t descriptions = 0) {
    return Chunk("chan", BE(tag, 4) + BE(0, 4) + BE(descriptions, 4) + std::string(20 * descriptions, '\0'));
}

std::string Caf(const std::string& chunks, uint16_t version = 1) {
    return "caff" + BE(version, 2) + BE(0, 2) + chunks;
}

// One sample of the buffer form, widened.
int32_t Sample(const unsigned char* p, int bytes) {
    switch (bytes) {
        case 1: return static_cast<int8_t>(p[0]);
        case 2: return static_cast<int16_t>(p[0] | (p[1] << 8));
        case 3: return static_cast<int32_t>((uint32_t(p[0]) << 8) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 24)) >> 8;
        default: return static_cast<int32_t>(LoadLE32(p));
    }
}

// Every sample of an open file, block by block, widened.
std::vector<int32_t> ReadAll(CSoundFile& f) {
    std::vector<uint8_t> bytes;
    EXPECT_EQ(formattest::ReadAllFrames(f, &bytes), 0);
    const int n = f.GetWordSize() / 8;
    std::vector<int32_t> out;
    for (size_t i = 0; i + n <= bytes.size(); i += n) out.push_back(Sample(bytes.data() + i, n));
    return out;
}

// Samples (widened) in the buffer form of a word size.
std::vector<uint8_t> BufferForm(const std::vector<int32_t>& samples, int bits) {
    std::vector<uint8_t> out;
    for (int32_t v : samples)
        for (int i = 0; i < bits / 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

class CafTest : public FileTest {
protected:
    // Opens a file; its status in *err.
    std::unique_ptr<CafFile> OpenCaf(const std::string& path, OSErr* err) {
        auto f = std::make_unique<CafFile>();
        EXPECT_EQ(f->ISoundFile(path), 0);
        *err = f->Open();
        return f;
    }
    std::unique_ptr<CafFile> CreateCaf(const std::string& base, short channels, short bits, float rate = 48000) {
        auto f = std::make_unique<CafFile>();
        EXPECT_EQ(f->ISoundFile(base), 0);
        f->SetDither(0);
        EXPECT_EQ(f->Create(channels, bits, rate, nullptr, reinterpret_cast<const unsigned char*>("\x03" "caf")), 0);
        return f;
    }
};

// ---------------------------------------------------------------------------
// Reading

TEST_F(CafTest, ReadsEveryLinearFormIntoTheBufferForm) {
    const float nan = std::nanf("");
    auto f32 = [](std::initializer_list<float> v, bool little) {
        std::string s;
        for (float x : v) {
            const uint32_t b = std::bit_cast<uint32_t>(x);
            s += little ? std::string{char(b), char(b >> 8), char(b >> 16), char(b >> 24)} : BE(b, 4);
        }
        return s;
    };
    auto f64 = [](std::initializer_list<double> v, bool little) {
        std::string s;
        for (double x : v) {
            std::string b = BE(std::bit_cast<uint64_t>(x), 8);
            s += little ? std::string(b.rbegin(), b.rend()) : b;
        }
        return s;
    };
    struct Case {
        const char* what;
        uint32_t bits, flags;
        std::string stored;
        short wordSize;
        std::vector<int32_t> samples;
    };
    const std::vector<int32_t> s16 = {-32768, 32767, 0x1234, -2};
    const std::vector<int32_t> s24 = {-8388608, 0x123456, -1, 1};
    const std::vector<int32_t> s32 = {INT32_MIN, 0x12345678, -1, 1};
    const std::vector<int32_t> fl = {0x40000000, INT32_MIN, INT32_MAX, 0};
    const std::vector<int32_t> dbl = {0x20000000, -0x40000000, INT32_MIN, INT32_MAX};
    const std::vector<Case> cases = {
        {"8 bits", 8, 0, std::string("\x80\x7f\x01\xff", 4), 8, {-128, 127, 1, -1}},
        {"16 big", 16, 0, std::string("\x80\x00\x7f\xff\x12\x34\xff\xfe", 8), 16, s16},
        {"16 little", 16, 2, std::string("\x00\x80\xff\x7f\x34\x12\xfe\xff", 8), 16, s16},
        {"24 big", 24, 0, std::string("\x80\x00\x00\x12\x34\x56\xff\xff\xff\x00\x00\x01", 12), 24, s24},
        {"24 little", 24, 2, std::string("\x00\x00\x80\x56\x34\x12\xff\xff\xff\x01\x00\x00", 12), 24, s24},
        {"32 big", 32, 0, std::string("\x80\x00\x00\x00\x12\x34\x56\x78\xff\xff\xff\xff\x00\x00\x00\x01", 16), 32, s32},
        {"32 little", 32, 2, std::string("\x00\x00\x00\x80\x78\x56\x34\x12\xff\xff\xff\xff\x01\x00\x00\x00", 16), 32, s32},
        // Float samples come as 32-bit integers, clipped at full scale; NaN is silence.
        {"float big", 32, 1, f32({0.5f, -1.0f, 1.5f, nan}, false), 32, fl},
        {"float little", 32, 3, f32({0.5f, -1.0f, 1.5f, nan}, true), 32, fl},
        {"double big", 64, 1, f64({0.25, -0.5, -3.0, 1.0}, false), 32, dbl},
        {"double little", 64, 3, f64({0.25, -0.5, -3.0, 1.0}, true), 32, dbl},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Put("linear.caf", Caf(Desc(2, c.bits, c.flags, "lpcm", 96000) + Data(c.stored)));
        OSErr err = 0;
        auto f = OpenCaf(path, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(f->GetWordSize(), c.wordSize);
        EXPECT_EQ(f->GetNumChannels(), 2);
        EXPECT_EQ(f->GetSampleRate(), 96000.0);
        EXPECT_EQ(f->GetNumSFrames(), 2u);
        EXPECT_EQ(f->GetChannelConfiguration(), CSoundFile::kStereo);
        EXPECT_EQ(ReadAll(*f), c.samples);
        // 32-bit samples reach the callers of the sample conversion too.
        if (c.wordSize == 32) {
            std::vector<double> x(4);
            uint32_t count = 2;
            ASSERT_EQ(f->Read(0, &count, x.data()), 0);
            ASSERT_EQ(count, 2u);
            EXPECT_NEAR(x[1], c.samples[1] / 2147483648.0, 1e-6);
        }
    }
}

TEST_F(CafTest, FrameCountsAndDamagedFiles) {
    const std::string frames10(40, '\x01');
    const std::string desc = Desc(2, 16);
    struct Case {
        const char* what;
        std::string bytes;
        OSErr status;
        uint32_t frames;
    };
    const std::vector<Case> cases = {
        {"data to the end of the file", Caf(desc + Chunk("data", BE(0, 4) + frames10, -1)), 0, 10},
        {"data size beyond the file", Caf(desc + Chunk("data", BE(0, 4) + frames10, 404)), 0, 10},
        {"a partial frame at the end", Caf(desc + Data(frames10 + "\x01\x02")), 0, 10},
        {"chunks after the data", Caf(desc + Data(frames10) + Chunk("free", std::string(9, '\0'))), 0, 10},
        {"description after the data", Caf(Data(frames10) + desc), 0, 10},
        {"not a CAF", "RIFF" + Caf(desc + Data(frames10)).substr(4), kNotASoundFileErr, 0},
        {"version 2", Caf(desc + Data(frames10), 2), kNotASoundFileErr, 0},
        {"no description", Caf(Data(frames10)), kNotASoundFileErr, 0},
        {"no data", Caf(desc), kNotASoundFileErr, 0},
        {"negative chunk size", Caf(desc + Chunk("free", "", -5) + Data(frames10)), -22009, 0},
        {"chunk beyond 2 GiB", Caf(desc + Chunk("free", "", int64_t(1) << 32) + Data(frames10)), -1309, 0},
        {"description too small", Caf(Chunk("desc", std::string(16, '\0')) + Data(frames10)), -22009, 0},
        {"description cut off", Caf(Data(frames10) + desc.substr(0, 30)), kEOFErr, 0},
        {"data size below the edit count", Caf(desc + Chunk("data", "", 2)), -22009, 0},
        {"compressed format not read here", Caf(Desc(2, 0, 0, "aac ") + Data(frames10)), kNotASoundFileErr, 0},
        {"20-bit samples", Caf(Desc(2, 20, 0, "lpcm", 48000, 6) + Data(frames10)), kNotASoundFileErr, 0},
        {"no channels", Caf(Desc(0, 16) + Data(frames10)), kNotASoundFileErr, 0},
        {"sample rate 0", Caf(Desc(2, 16, 0, "lpcm", 0) + Data(frames10)), kNotASoundFileErr, 0},
        {"packet size not a frame's", Caf(Desc(2, 16, 0, "lpcm", 48000, 6) + Data(frames10)), kNotASoundFileErr, 0},
        {"Apple Lossless without cookie", Caf(Desc(2, 0, 0, "alac") + Data(frames10)), kNotASoundFileErr, 0},
        {"layout of descriptions without any", Caf(Desc(3, 16) + Chan(0) + Data(std::string(12, '\0'))),
         kNoCAFChannelLayoutErr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Put("count.caf", c.bytes);
        OSErr err = 1;
        auto f = OpenCaf(path, &err);
        EXPECT_EQ(err, c.status);
        if (err) {
            // A failed open leaves the file closed; the offline look fails alike.
            EXPECT_FALSE(f->IsOpen());
            CafFile g;
            ASSERT_EQ(g.ISoundFile(path), 0);
            OSErr status = 1;
            EXPECT_EQ(g.GetOfflineInfo(&status), c.status);
            EXPECT_EQ(status, 0);
            continue;
        }
        EXPECT_EQ(f->GetNumSFrames(), c.frames);
        EXPECT_EQ(ReadAll(*f), std::vector<int32_t>(2 * c.frames, 0x0101));
    }
}

TEST_F(CafTest, ChannelLayoutsGiveConfigurationAndOrder) {
    const uint32_t kNoLayout = 0xFFFFFFFF;
    struct Case {
        const char* what;
        uint32_t channels;
        uint32_t tag;  // kNoLayout: no 'chan' chunk
        CSoundFile::ChannelConfiguration configuration;
        uint32_t client;
        std::vector<int> order;  // which stored channel (from 1) each delivered channel is
        uint32_t bits = 16;
    };
    auto T = LayoutTag;
    const std::vector<Case> cases = {
        {"5.1 A", 6, T(121, 6), CSoundFile::k51, 0, {1, 2, 3, 4, 5, 6}},
        {"5.1 B", 6, T(122, 6), CSoundFile::k51, T(121, 6), {1, 2, 5, 6, 3, 4}},
        {"5.1 C", 6, T(123, 6), CSoundFile::k51, T(121, 6), {1, 3, 2, 6, 4, 5}},
        {"5.1 C, 24-bit", 6, T(123, 6), CSoundFile::k51, T(121, 6), {1, 3, 2, 6, 4, 5}, 24},
        {"5.1 D", 6, T(124, 6), CSoundFile::k51, T(121, 6), {2, 3, 1, 6, 4, 5}},
        {"7.1 A", 8, T(126, 8), CSoundFile::k71, T(127, 8), {3, 7, 8, 1, 2, 5, 6, 4}},
        {"7.1 B", 8, T(127, 8), CSoundFile::k71, 0, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"7.1 C: rear pair for the center pair", 8, T(128, 8), CSoundFile::k71, T(127, 8), {3, 7, 8, 1, 2, 5, 6, 4}},
        {"Emagic 7.1", 8, T(129, 8), CSoundFile::k71, T(127, 8), {5, 7, 8, 1, 2, 3, 4, 6}},
        {"6.1 A", 7, T(125, 7), CSoundFile::k61, 0, {1, 2, 3, 4, 5, 6, 7}},
        {"AAC 6.1", 7, T(142, 7), CSoundFile::k61, T(125, 7), {2, 3, 1, 7, 4, 5, 6}},
        {"AAC 6.0", 6, T(141, 6), CSoundFile::k60, T(139, 6), {2, 3, 4, 5, 1, 6}},
        {"hexagonal", 6, T(110, 6), CSoundFile::k60, T(139, 6), {1, 2, 3, 4, 5, 6}},
        {"4.0 A", 4, T(115, 4), CSoundFile::kLCRS, T(116, 4), {3, 1, 2, 4}},
        {"quadraphonic", 4, T(108, 4), CSoundFile::kQuad, 0, {1, 2, 3, 4}},
        {"5.0 A", 5, T(117, 5), CSoundFile::k50, T(118, 5), {1, 2, 4, 5, 3}},
        {"3.0 A", 3, T(113, 3), CSoundFile::kLCR, T(150, 3), {1, 3, 2}},
        {"3.0 B", 3, T(114, 3), CSoundFile::kLCR, T(150, 3), {2, 1, 3}},
        {"channel descriptions", 3, 0, CSoundFile::kMultichannel, 0, {1, 2, 3}},
        {"channel bitmap", 3, 1u << 16, CSoundFile::kMultichannel, 0, {1, 2, 3}},
        {"no layout", 3, kNoLayout, CSoundFile::kMultichannel, 0, {1, 2, 3}},
        {"layout of another count", 4, T(121, 6), CSoundFile::kMultichannel, 0, {1, 2, 3, 4}},
        {"stereo keeps its order", 2, T(121, 6), CSoundFile::kStereo, 0, {1, 2}},
        {"mono", 1, kNoLayout, CSoundFile::kMono, 0, {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // One frame whose channel k holds k times a pattern filling the word.
        const int32_t unit = c.bits == 24 ? 0x10101 : 0x101;
        std::string frame;
        for (uint32_t k = 1; k <= c.channels; ++k) frame += BE(k * unit, c.bits / 8);
        std::string chan = c.tag == kNoLayout ? "" : Chan(c.tag, c.tag == 0 ? c.channels : 0);
        const std::string path = Put("layout.caf", Caf(Desc(c.channels, c.bits) + chan + Data(frame)));
        OSErr err = 0;
        auto f = OpenCaf(path, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(f->GetChannelConfiguration(), c.configuration);
        EXPECT_EQ(f->GetClientLayoutTag(), c.client);
        std::vector<int32_t> expected;
        for (int k : c.order) expected.push_back(k * unit);
        EXPECT_EQ(ReadAll(*f), expected);
    }
}

TEST_F(CafTest, DescriptionsAndChannelNamesFollowTheConfiguration) {
    struct Case {
        uint32_t channels, tag;
        const char* description;
        std::vector<std::string> names;  // the last one also for a higher index
    };
    const std::vector<Case> cases = {
        {1, 0, "Core Audio File (CAF)", {"1", "1"}},
        {6, LayoutTag(123, 6), "5.1 Surround Core Audio File (CAF)",
         {"Left", "Right", "Center", "Lfe", "Left Surround", "Right Surround", "Right Surround"}},
        {7, LayoutTag(125, 7), "6.1 Surround Core Audio File (CAF)",
         {"Left", "Right", "Center", "Lfe", "Left Surround", "Right Surround", "Center Surround"}},
        {8, LayoutTag(127, 8), "7.1 Surround Core Audio File (CAF)",
         {"Center", "Left Center", "Right Center", "Left", "Right", "Left Surround", "Right Surround", "Lfe"}},
        {4, LayoutTag(116, 4), "LCRS Core Audio File (CAF)", {"Center", "Left", "Right", "Surround"}},
        {5, 0, "Core Audio File (CAF)", {"1", "2", "3", "4", "5"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        const std::string path = Put("names.caf", Caf(Desc(c.channels, 16) + Chan(c.tag, c.tag ? 0 : 1) +
                                                      Data(std::string(2 * c.channels, '\0'))));
        OSErr err = 0;
        auto f = OpenCaf(path, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(f->GetDescription(), c.description);
        EXPECT_TRUE(f->CanBeSplit());
        for (size_t i = 0; i < c.names.size(); ++i) EXPECT_EQ(f->GetChannelName(static_cast<short>(i)), c.names[i]);
    }
}

// ---------------------------------------------------------------------------
// Writing

TEST_F(CafTest, WritesBigEndianIntegersAndReadsThemBack) {
    for (short bits : {8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        const int64_t lo = -(int64_t(1) << (bits - 1)), hi = (int64_t(1) << (bits - 1)) - 1;
        std::vector<int32_t> samples;
        // More than one buffer of stereo frames, extremes included.
        for (int64_t i = 0; i < 2 * 13000; ++i)
            samples.push_back(static_cast<int32_t>(i % 3 == 0 ? (i & 1 ? hi : lo) : (i * 7919) % (hi + 1)));
        auto f = CreateCaf(dir / ("w" + std::to_string(bits)), 2, bits, 22050.5f);
        const std::string path = f->GetPath();
        ASSERT_EQ(formattest::WriteBufferForm(*f, 0, BufferForm(samples, bits)), 0);
        ASSERT_EQ(f->Close(), 0);

        const std::string bytes = ReadFile(path);
        const uint32_t frameBytes = 2 * bits / 8;
        ASSERT_EQ(bytes.size(), 68u + 13000u * frameBytes);
        const std::string header = Caf(Desc(2, bits, 0, "lpcm", 22050.5) +
                                       Chunk("data", BE(0, 4), 4 + 13000 * frameBytes));
        EXPECT_EQ(bytes.substr(0, 68), header);
        // The first sample, big-endian.
        EXPECT_EQ(bytes.substr(68, bits / 8), BE(static_cast<uint32_t>(samples[0]), bits / 8));

        OSErr err = 0;
        auto g = OpenCaf(path, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(g->GetWordSize(), bits);
        EXPECT_EQ(g->GetNumSFrames(), 13000u);
        EXPECT_EQ(ReadAll(*g), samples);
    }
}

TEST_F(CafTest, CreateMakesExactlyThePathThatWasRecorded) {
    for (const char* name : {"plain", ".CorvaOutFile", "take.2.final"}) {
        SCOPED_TRACE(name);
        testsupport::TempDir folder;
        auto f = CreateCaf(folder / name, 1, 16);
        EXPECT_EQ(f->GetPath(), folder / (std::string(name) + ".caf"));
        EXPECT_TRUE(std::filesystem::exists(f->GetPath()));
        ASSERT_EQ(f->Close(), 0);
        size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            (void)entry;
            ++files;
        }
        EXPECT_EQ(files, 1u);
    }
}

TEST_F(CafTest, ChannelByChannelAndOutOfOrderWritesLandInPlace) {
    auto f = CreateCaf(dir / "passes", 2, 16);
    f->SetSFTBufferSize(1000);
    const std::string path = f->GetPath();
    const uint32_t n = 2500;
    std::vector<double> left(n), right(n);
    for (uint32_t i = 0; i < n; ++i) {
        left[i] = (static_cast<int>(i % 200) - 100) / 128.0;
        right[i] = -left[i] / 2;
    }
    // A later stretch first, then both channels from the start, one at a time.
    std::vector<double> tail(2 * 10, 0.25);
    uint32_t count = 10;
    ASSERT_EQ(f->Write(3000, &count, tail.data()), 0);
    count = n;
    ASSERT_EQ(f->Add(0, 0, &count, left.data()), 0);
    count = n;
    ASSERT_EQ(f->Add(1, 0, &count, right.data()), 0);
    ASSERT_EQ(f->Close(), 0);

    OSErr err = 0;
    auto g = OpenCaf(path, &err);
    ASSERT_EQ(err, 0);
    ASSERT_EQ(g->GetNumSFrames(), 3010u);
    const std::vector<int32_t> back = ReadAll(*g);
    for (uint32_t i = 0; i < n; ++i) {
        ASSERT_EQ(back[2 * i], static_cast<int32_t>(std::lround(left[i] * 32768))) << i;
        ASSERT_EQ(back[2 * i + 1], static_cast<int32_t>(std::lround(right[i] * 32768))) << i;
    }
    for (uint32_t i = n; i < 3000; ++i) ASSERT_EQ(back[2 * i], 0) << i;
    EXPECT_EQ(back[2 * 3000], 8192);
    EXPECT_EQ(back[2 * 3009 + 1], 8192);
}

TEST_F(CafTest, AHeldBlockIsNotReadAgain) {
    std::string data;
    for (int i = 0; i < 8; ++i) data += BE(static_cast<uint32_t>(i + 1), 2);
    const std::string path = Put("once.caf", Caf(Desc(1, 16) + Data(data)));
    OSErr err = 0;
    auto f = OpenCaf(path, &err);
    ASSERT_EQ(err, 0);
    f->SetSFTBufferSize(4);
    ASSERT_EQ(f->RefreshInputBuffer(0), 0);
    EXPECT_EQ(Sample(f->GetInputBuffer(), 2), 1);
    // The held block stands even when the file changes under it...
    std::string changed = ReadFile(path);
    changed[changed.size() - 16] = 0x7F;
    testsupport::WriteFile(path, changed);
    ASSERT_EQ(f->RefreshInputBuffer(0), 0);
    EXPECT_EQ(Sample(f->GetInputBuffer(), 2), 1);
    // ...and the file is read again for another block.
    ASSERT_EQ(f->RefreshInputBuffer(4), 0);
    ASSERT_EQ(f->RefreshInputBuffer(0), 0);
    EXPECT_EQ(Sample(f->GetInputBuffer(), 2), 0x7F01);
}

// ---------------------------------------------------------------------------
// Peers

// Raw little-endian samples of a form, and what they are in the buffer form.
struct RawForm {
    const char* ffmpeg;  // -f of the raw input
    int bytes;
    bool isFloat;
};
const RawForm kS8{"s8", 1, false}, kS16{"s16le", 2, false}, kS24{"s24le", 3, false},
    kS32{"s32le", 4, false}, kF32{"f32le", 4, true}, kF64{"f64le", 8, true};

std::string RandomRaw(const RawForm& form, size_t samples, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out;
    for (size_t i = 0; i < samples; ++i) {
        const auto v = static_cast<int32_t>(rng());
        uint64_t bits = static_cast<uint32_t>(v);
        if (form.isFloat && form.bytes == 4) bits = std::bit_cast<uint32_t>(static_cast<float>(v / 2147483648.0));
        if (form.isFloat && form.bytes == 8) bits = std::bit_cast<uint64_t>(v / 2147483648.0);
        for (int b = 0; b < form.bytes; ++b) out += static_cast<char>(bits >> (8 * b));
    }
    return out;
}

// The samples delivered for raw samples of a form at a word size (floats at full
// scale of 32 bits; integers shifted up to a wider word).
std::vector<int32_t> Delivered(const RawForm& form, const std::string& raw, int bits) {
    std::vector<int32_t> out;
    const auto* p = reinterpret_cast<const uint8_t*>(raw.data());
    for (size_t i = 0; i + form.bytes <= raw.size(); i += form.bytes) {
        if (form.isFloat) {
            const double x = form.bytes == 4 ? std::bit_cast<float>(LoadLE32(p + i)) : std::bit_cast<double>(LoadLE64(p + i));
            out.push_back(static_cast<int32_t>(std::clamp(x * 2147483648.0, -2147483648.0, 2147483647.0)));
        } else {
            uint32_t u = 0;
            for (int b = 0; b < form.bytes; ++b) u |= uint32_t(p[i + b]) << (8 * b);
            const int32_t v = static_cast<int32_t>(u << (32 - 8 * form.bytes)) >> (32 - 8 * form.bytes);
            out.push_back(static_cast<int32_t>(static_cast<uint32_t>(v) << (bits - 8 * form.bytes)));
        }
    }
    return out;
}

TEST_F(CafTest, FfmpegFilesReadWithTheirSamples) {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    struct Case {
        const char* what;
        RawForm form;
        const char* codec;
        int channels;
        const char* layout;
        short bits;
        CSoundFile::ChannelConfiguration configuration;
        bool piped = false;
    };
    const Case cases[] = {
        {"s8", kS8, "pcm_s8", 2, "stereo", 8, CSoundFile::kStereo},
        {"s16be", kS16, "pcm_s16be", 1, "mono", 16, CSoundFile::kMono},
        {"s16le piped", kS16, "pcm_s16le", 2, "stereo", 16, CSoundFile::kStereo, true},
        {"s24le 5.1", kS24, "pcm_s24le", 6, "5.1", 24, CSoundFile::k51},
        {"s32be", kS32, "pcm_s32be", 2, "stereo", 32, CSoundFile::kStereo},
        {"f32le", kF32, "pcm_f32le", 2, "stereo", 32, CSoundFile::kStereo},
        {"f64be", kF64, "pcm_f64be", 1, "mono", 32, CSoundFile::kMono},
        {"alac 16", kS16, "alac", 2, "stereo", 24, CSoundFile::kStereo},
        {"alac 24", kS24, "alac", 1, "mono", 24, CSoundFile::kMono},
        {"alac 5.1", kS16, "alac", 6, "5.1", 24, CSoundFile::k51},
    };
    unsigned seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Not a whole number of packets, and more than a buffer.
        const std::string raw = RandomRaw(c.form, 13001 * static_cast<size_t>(c.channels), seed++);
        const std::string in = Put("in.raw", raw), out = dir / (std::string("ff_") + std::to_string(seed) + ".caf");
        const std::string command = std::string("ffmpeg -v error -y -f ") + c.form.ffmpeg + " -ar 48000 -ac " +
                                    std::to_string(c.channels) + " -channel_layout " + c.layout + " -i " +
                                    Quote(in) + " -c:a " + c.codec +
                                    (c.piped ? " -f caf pipe:1 > " : " ") + Quote(out);
        ASSERT_TRUE(RunCommand(command)) << command;
        OSErr err = 0;
        auto f = OpenCaf(out, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(f->GetWordSize(), c.bits);
        EXPECT_EQ(f->GetSampleRate(), 48000.0);
        EXPECT_EQ(f->GetChannelConfiguration(), c.configuration);
        EXPECT_EQ(f->GetNumSFrames(), 13001u);
        // Blocks that do not line up with the packets.
        f->SetSFTBufferSize(3000);
        EXPECT_TRUE(ReadAll(*f) == Delivered(c.form, raw, c.bits));
        // A block read straight after opening, in the middle of a packet.
        auto g = OpenCaf(out, &err);
        ASSERT_EQ(err, 0);
        ASSERT_EQ(g->RefreshInputBuffer(5000), 0);
        EXPECT_EQ(Sample(g->GetInputBuffer(), c.bits / 8), Delivered(c.form, raw, c.bits)[5000 * c.channels]);
    }
}

TEST_F(CafTest, LibsndfileFilesReadWithTheirSamples) {
    struct Case {
        const char* what;
        int format;
        RawForm form;
        int channels;
        short bits;
        std::vector<int> map;  // channel map, when one is set
        CSoundFile::ChannelConfiguration configuration;
        std::vector<int> order;  // which written channel each delivered one is (from 0)
    };
    const Case cases[] = {
        {"16", SF_FORMAT_PCM_16, kS16, 2, 16, {}, CSoundFile::kStereo, {0, 1}},
        {"24 little", SF_FORMAT_PCM_24 | SF_ENDIAN_LITTLE, kS24, 1, 24, {}, CSoundFile::kMono, {0}},
        {"32", SF_FORMAT_PCM_32, kS32, 2, 32, {}, CSoundFile::kStereo, {0, 1}},
        {"float", SF_FORMAT_FLOAT, kF32, 2, 32, {}, CSoundFile::kStereo, {0, 1}},
        {"double", SF_FORMAT_DOUBLE, kF64, 1, 32, {}, CSoundFile::kMono, {0}},
        {"alac 16", SF_FORMAT_ALAC_16, kS16, 2, 24, {}, CSoundFile::kStereo, {0, 1}},
        // (libsndfile's own 24-bit Apple Lossless does not read back in libsndfile
        // itself; ffmpeg's stands for it.)
        {"5.1 A", SF_FORMAT_PCM_16, kS16, 6, 16,
         {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER, SF_CHANNEL_MAP_LFE,
          SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT},
         CSoundFile::k51, {0, 1, 2, 3, 4, 5}},
        // Stored center first: delivered left, right, center, LFE, surrounds.
        {"5.1 D", SF_FORMAT_PCM_16, kS16, 6, 16,
         {SF_CHANNEL_MAP_CENTER, SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_REAR_LEFT,
          SF_CHANNEL_MAP_REAR_RIGHT, SF_CHANNEL_MAP_LFE},
         CSoundFile::k51, {1, 2, 0, 5, 3, 4}},
    };
    unsigned seed = 50;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t frames = 9001;
        const std::string raw = RandomRaw(c.form, frames * c.channels, seed++);
        const std::string path = dir / (std::string("sf") + std::to_string(seed) + ".caf");
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = c.channels;
        info.format = SF_FORMAT_CAF | c.format;
        SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
        if (!c.map.empty()) {
            std::vector<int> map = c.map;
            ASSERT_EQ(sf_command(sf, SFC_SET_CHANNEL_MAP_INFO, map.data(), int(map.size() * sizeof(int))), SF_TRUE);
        }
        // Written as full-scale 32-bit integers or doubles, which libsndfile narrows.
        const std::vector<int32_t> wide = Delivered(c.form, raw, 32);
        if (c.form.isFloat) {
            std::vector<double> x;
            for (size_t i = 0; i < raw.size(); i += c.form.bytes)
                x.push_back(c.form.bytes == 4 ? std::bit_cast<float>(LoadLE32(reinterpret_cast<const uint8_t*>(raw.data()) + i))
                                              : std::bit_cast<double>(LoadLE64(reinterpret_cast<const uint8_t*>(raw.data()) + i)));
            ASSERT_EQ(sf_writef_double(sf, x.data(), frames), sf_count_t(frames));
        } else {
            ASSERT_EQ(sf_writef_int(sf, wide.data(), frames), sf_count_t(frames));
        }
        sf_close(sf);

        OSErr err = 0;
        auto f = OpenCaf(path, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(f->GetWordSize(), c.bits);
        EXPECT_EQ(f->GetNumSFrames(), frames);
        EXPECT_EQ(f->GetChannelConfiguration(), c.configuration);
        const std::vector<int32_t> stored = Delivered(c.form, raw, c.bits);
        std::vector<int32_t> expected;
        for (size_t i = 0; i < frames; ++i)
            for (int k : c.order) expected.push_back(stored[i * c.channels + k]);
        EXPECT_TRUE(ReadAll(*f) == expected);
    }
}

TEST_F(CafTest, PeersReadOurFilesWithTheSameSamples) {
    const bool ffmpeg = HaveProgram("ffmpeg") && HaveProgram("ffprobe");
    const bool sox = HaveProgram("sox");
    const bool info = HaveProgram("sndfile-info");
    struct Case {
        short bits;
        short channels;
    };
    unsigned seed = 90;
    for (const Case c : {Case{8, 1}, Case{16, 2}, Case{24, 6}, Case{32, 2}}) {
        SCOPED_TRACE(c.bits);
        const RawForm form{"", c.bits / 8, false};
        const uint32_t frames = 12345;
        const std::string raw = RandomRaw(form, frames * static_cast<size_t>(c.channels), seed++);
        const std::vector<int32_t> samples = Delivered(form, raw, c.bits);
        auto f = CreateCaf(dir / ("ours" + std::to_string(c.bits)), c.channels, c.bits, 44100);
        const std::string path = f->GetPath();
        ASSERT_EQ(formattest::WriteBufferForm(*f, 0, BufferForm(samples, c.bits)), 0);
        ASSERT_EQ(f->Close(), 0);
        // What a peer gives as full-scale 32-bit samples.
        std::vector<int32_t> wide;
        for (int32_t v : samples) wide.push_back(static_cast<int32_t>(static_cast<uint32_t>(v) << (32 - c.bits)));
        auto asSamples = [](const std::string& bytes) {
            std::vector<int32_t> out(bytes.size() / 4);
            std::memcpy(out.data(), bytes.data(), out.size() * 4);
            return out;
        };

        SF_INFO sfInfo{};
        SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &sfInfo);
        ASSERT_NE(sf, nullptr);
        EXPECT_EQ(sfInfo.frames, frames);
        EXPECT_EQ(sfInfo.channels, c.channels);
        std::vector<int32_t> back(wide.size());
        EXPECT_EQ(sf_readf_int(sf, back.data(), frames), sf_count_t(frames));
        sf_close(sf);
        EXPECT_TRUE(back == wide) << "libsndfile";

        std::string text;
        if (ffmpeg) {
            ASSERT_TRUE(RunCommand("ffmpeg -v error -i " + Quote(path) + " -f s32le -", &text));
            EXPECT_TRUE(asSamples(text) == wide) << "ffmpeg";
            ASSERT_TRUE(RunCommand("ffprobe -v error -show_entries stream=sample_rate,channels,duration_ts "
                                   "-of default=nw=1 " + Quote(path), &text));
            EXPECT_EQ(text, "sample_rate=44100\nchannels=" + std::to_string(c.channels) +
                                "\nduration_ts=" + std::to_string(frames) + "\n");
        }
        if (sox) {
            ASSERT_TRUE(RunCommand("sox " + Quote(path) + " -t s32 -", &text));
            EXPECT_TRUE(asSamples(text) == wide) << "sox";
        }
        if (info) {
            ASSERT_TRUE(RunCommand("sndfile-info " + Quote(path), &text));
            EXPECT_NE(text.find("Frames      : " + std::to_string(frames)), std::string::npos) << text;
        }
    }
}

}  // namespace
