// Core Audio Format files: every linear form and Apple Lossless read into the
// buffer form, channel layouts mapped and put into their client order, damaged
// files refused, files written here (also a channel at a time) read back, and
// files exchanged with ffmpeg, sox and libsndfile both ways.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/chunk_reader.h"
#include "formats/pcm/caf_file.h"
#include "test_support.h"

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
                 double rate = 48000, uint32_t packetBytes = 0) {
    if (!packetBytes && std::string(format) == "lpcm") packetBytes = channels * bits / 8;
    return Chunk("desc", BE(std::bit_cast<uint64_t>(rate), 8) + std::string(format, 4) +
                             BE(flags, 4) + BE(packetBytes, 4) + BE(1, 4) + BE(channels, 4) +
                             BE(bits, 4));
}
std::string Data(const std::string& samples) {
    return Chunk("data", BE(0, 4) + samples);
}
std::string Chan(uint32_t tag, uint32_t descriptions = 0) {
    return Chunk("chan", BE(tag, 4) + BE(0, 4) + BE(descriptions, 4) + std::string(20 * descriptions, '\0'));
}
std::string Caf(const std::string& chunks, uint16_t version = 1) {
    return "caff" + BE(version, 2) + BE(0, 2) + chunks;
}

// One sample of the buffer form (little-endian here), widened.
int32_t Sample(const unsigned char* p, int bytes) {
    uint32_t u = 0;
    for (int i = 0; i < bytes; ++i) u |= uint32_t(p[i]) << (8 * i);
    return static_cast<int32_t>(u << (32 - 8 * bytes)) >> (32 - 8 * bytes);
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

std::vector<uint8_t> BufferForm(const std::vector<int32_t>& samples, int bits) {
    std::vector<uint8_t> out;
    for (int32_t v : samples)
        for (int i = 0; i < bits / 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

class CafTest : public formattest::FileTest {
protected:
    std::unique_ptr<CafFile> OpenCaf(const std::string& path, OSErr* err) {
        auto f = std::make_unique<CafFile>();
        EXPECT_EQ(f->ISoundFile(path), 0);
        *err = f->Open();
        return f;
    }
    std::unique_ptr<CafFile> CreateCaf(const std::string& base, short channels, short bits,
                                       float rate = 48000) {
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
    auto f = [](float x) { return uint64_t{std::bit_cast<uint32_t>(x)}; };
    auto d = [](double x) { return std::bit_cast<uint64_t>(x); };
    struct Case {
        uint32_t bits, flags;  // flags: 1 float, 2 little-endian
        std::vector<uint64_t> stored;
        std::vector<int32_t> samples;  // in the buffer form, widened
    };
    const std::vector<int32_t> s16 = {-32768, 32767, 0x1234, -2};
    const std::vector<int32_t> s24 = {-8388608, 0x123456, -1, 1};
    const std::vector<int32_t> s32 = {INT32_MIN, 0x12345678, -1, 1};
    // Float samples come as 32-bit integers, clipped at full scale; NaN is silence.
    const std::vector<uint64_t> floats = {f(0.5f), f(-1.0f), f(1.5f), f(std::nanf(""))};
    const std::vector<int32_t> fromFloats = {0x40000000, INT32_MIN, INT32_MAX, 0};
    const std::vector<uint64_t> doubles = {d(0.25), d(-0.5), d(-3.0), d(1.0)};
    const std::vector<int32_t> fromDoubles = {0x20000000, -0x40000000, INT32_MIN, INT32_MAX};
    const std::vector<Case> cases = {
        {8, 0, {0x80, 0x7f, 0x01, 0xff}, {-128, 127, 1, -1}},
        {16, 0, {0x8000, 0x7fff, 0x1234, 0xfffe}, s16},
        {16, 2, {0x8000, 0x7fff, 0x1234, 0xfffe}, s16},
        {24, 0, {0x800000, 0x123456, 0xffffff, 1}, s24},
        {24, 2, {0x800000, 0x123456, 0xffffff, 1}, s24},
        {32, 0, {0x80000000, 0x12345678, 0xffffffff, 1}, s32},
        {32, 2, {0x80000000, 0x12345678, 0xffffffff, 1}, s32},
        {32, 1, floats, fromFloats},
        {32, 3, floats, fromFloats},
        {64, 1, doubles, fromDoubles},
        {64, 3, doubles, fromDoubles},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, flags " + std::to_string(c.flags));
        std::string stored;
        for (uint64_t v : c.stored) {
            const std::string b = BE(v, c.bits / 8);
            stored += c.flags & 2 ? std::string(b.rbegin(), b.rend()) : b;
        }
        OSErr err = 0;
        auto file = OpenCaf(Put("linear.caf", Caf(Desc(2, c.bits, c.flags, "lpcm", 96000) + Data(stored))), &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(file->GetWordSize(), c.bits == 64 ? 32 : c.bits);
        EXPECT_EQ(file->GetNumChannels(), 2);
        EXPECT_EQ(file->GetSampleRate(), 96000.0);
        EXPECT_EQ(file->GetNumSFrames(), 2u);
        EXPECT_EQ(file->GetChannelConfiguration(), CSoundFile::kStereo);
        EXPECT_EQ(ReadAll(*file), c.samples);
        // 32-bit samples reach the callers of the sample conversion too.
        if (file->GetWordSize() == 32) {
            std::vector<double> x(4);
            uint32_t count = 2;
            ASSERT_EQ(file->Read(0, &count, x.data()), 0);
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
        uint32_t declared = 10;  // the frames the header states
    };
    const std::vector<Case> cases = {
        {"data to the end of the file", Caf(desc + Chunk("data", BE(0, 4) + frames10, -1)), 0},
        {"data size beyond the file", Caf(desc + Chunk("data", BE(0, 4) + frames10, 404)), 0, 100},
        {"a partial frame at the end", Caf(desc + Data(frames10 + "\x01\x02")), 0},
        {"chunks after the data", Caf(desc + Data(frames10) + Chunk("free", "\0\0\0")), 0},
        {"description after the data", Caf(Data(frames10) + desc), 0},
        {"not a CAF", "RIFF" + Caf(desc + Data(frames10)).substr(4), kNotASoundFileErr},
        {"version 2", Caf(desc + Data(frames10), 2), kNotASoundFileErr},
        {"no description", Caf(Data(frames10)), kNotASoundFileErr},
        {"no data", Caf(desc), kNotASoundFileErr},
        {"negative chunk size", Caf(desc + Chunk("free", "", -5) + Data(frames10)), -22009},
        {"chunk beyond 2 GiB", Caf(desc + Chunk("free", "", int64_t(1) << 32) + Data(frames10)), -1309},
        {"description too small", Caf(Chunk("desc", std::string(16, '\0')) + Data(frames10)), -22009},
        {"description cut off", Caf(Data(frames10) + desc.substr(0, 30)), kEOFErr},
        {"data without its edit count", Caf(desc + Chunk("data", "", 2)), -22009},
        {"format not read here", Caf(Desc(2, 0, 0, "QDM2") + Data(frames10)), kNotASoundFileErr},
        {"20-bit samples", Caf(Desc(2, 20, 0, "lpcm", 48000, 6) + Data(frames10)), kNotASoundFileErr},
        {"no channels", Caf(Desc(0, 16) + Data(frames10)), kNotASoundFileErr},
        {"sample rate 0", Caf(Desc(2, 16, 0, "lpcm", 0) + Data(frames10)), kNotASoundFileErr},
        {"packet not a frame", Caf(Desc(2, 16, 0, "lpcm", 8000, 6) + Data(frames10)), kNotASoundFileErr},
        {"Apple Lossless without cookie", Caf(Desc(2, 0, 0, "alac") + Data(frames10)), kNotASoundFileErr},
        {"no descriptions for the descriptions tag",
         Caf(Desc(3, 16) + Chan(0) + Data(std::string(12, '\0'))), kNoCAFChannelLayoutErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Put("count.caf", c.bytes);
        OSErr err = 1;
        auto f = OpenCaf(path, &err);
        EXPECT_EQ(err, c.status);
        if (err == 0) {
            // Only whole frames the file holds count.
            EXPECT_EQ(f->GetNumSFrames(), 10u);
            EXPECT_EQ(f->GetDeclaredSFrames(), c.declared);
            EXPECT_EQ(ReadAll(*f), std::vector<int32_t>(20, 0x0101));
            continue;
        }
        // A failed open leaves the file closed; the offline look fails alike.
        EXPECT_FALSE(f->IsOpen());
        CafFile g;
        ASSERT_EQ(g.ISoundFile(path), 0);
        OSErr status = 1;
        EXPECT_EQ(g.GetOfflineInfo(&status), c.status);
        EXPECT_EQ(status, 0);
    }
}

// The first 'data' chunk's size field as stored, found past chunks of any
// content; a walk that leaves the file or meets a negative size finds none.
TEST(CafDataChunkTest, TheFirstDataChunksSizeFieldAsStored) {
    const std::string desc = Desc(1, 8);
    const std::string free4k = Chunk("free", std::string(4096, '\0'));
    const struct {
        const char* what;
        std::string bytes;
        OSErr status;
        uint64_t offset;
        int64_t size;
    } cases[] = {
        {"stated", Caf(desc + Data("abc")), 0, 52, 7},
        {"streamed", Caf(desc + Chunk("data", BE(0, 4) + "abc", -1)), 0, 52, -1},
        {"past a free chunk", Caf(desc + free4k + Data("a")), 0, 52 + 4108, 5},
        {"edit count only", Caf(desc + Chunk("data", BE(0, 4) + "abc", 4)), 0, 52, 4},
        {"the first of two", Caf(desc + Data("ab") + Data("abcd")), 0, 52, 6},
        {"cut inside its header", Caf(desc + Data("a")).substr(0, 60), kNotASoundFileErr, 0, 0},
        {"none", Caf(desc + free4k), kNotASoundFileErr, 0, 0},
        {"negative size before it", Caf(desc + Chunk("free", "", -5) + Data("a")),
         kNotASoundFileErr, 0, 0},
        {"size past the end", Caf(desc + Chunk("free", "", INT64_MAX) + Data("a")),
         kNotASoundFileErr, 0, 0},
        {"not a CAF", "RIFF" + Caf(desc + Data("a")).substr(4), kNotASoundFileErr, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemorySource source(c.bytes.data(), c.bytes.size());
        caf::DataChunkHead head;
        EXPECT_EQ(caf::FindDataChunk(source, &head), c.status);
        EXPECT_EQ(head.offset, c.offset);
        EXPECT_EQ(head.size, c.size);
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
        std::vector<int> order;  // the stored channel (from 1) of each delivered one
        uint32_t bits = 16;
    };
    auto T = LayoutTag;
    using SF = CSoundFile;
    const std::vector<Case> cases = {
        {"5.1 C", 6, T(123, 6), SF::k51, T(121, 6), {1, 3, 2, 6, 4, 5}},
        {"5.1 C, 24-bit", 6, T(123, 6), SF::k51, T(121, 6), {1, 3, 2, 6, 4, 5}, 24},
        {"5.1 D", 6, T(124, 6), SF::k51, T(121, 6), {2, 3, 1, 6, 4, 5}},
        {"7.1 A", 8, T(126, 8), SF::k71, T(127, 8), {3, 7, 8, 1, 2, 5, 6, 4}},
        // The rear pair takes the place of the center pair.
        {"7.1 C", 8, T(128, 8), SF::k71, T(127, 8), {3, 7, 8, 1, 2, 5, 6, 4}},
        {"AAC 6.1", 7, T(142, 7), SF::k61, T(125, 7), {2, 3, 1, 7, 4, 5, 6}},
        {"AAC 6.0", 6, T(141, 6), SF::k60, T(139, 6), {2, 3, 4, 5, 1, 6}},
        {"4.0 A", 4, T(115, 4), SF::kLCRS, T(116, 4), {3, 1, 2, 4}},
        {"3.0 A", 3, T(113, 3), SF::kLCR, T(150, 3), {1, 3, 2}},
        {"channel descriptions", 3, 0, SF::kMultichannel, 0, {1, 2, 3}},
        {"no layout", 3, kNoLayout, SF::kMultichannel, 0, {1, 2, 3}},
        {"layout of another count", 4, T(121, 6), SF::kMultichannel, 0, {1, 2, 3, 4}},
        {"stereo keeps its order", 2, T(121, 6), SF::kStereo, 0, {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // One frame whose channel k holds k times a pattern filling the word.
        const int32_t unit = c.bits == 24 ? 0x10101 : 0x101;
        std::string frame;
        for (uint32_t k = 1; k <= c.channels; ++k) frame += BE(k * unit, c.bits / 8);
        const std::string chan = c.tag == kNoLayout ? "" : Chan(c.tag, c.tag == 0 ? c.channels : 0);
        OSErr err = 0;
        auto f = OpenCaf(Put("layout.caf", Caf(Desc(c.channels, c.bits) + chan + Data(frame))), &err);
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
        std::vector<std::string> names;  // the last one also for the next index
    };
    const std::vector<Case> cases = {
        {7, LayoutTag(142, 7), "6.1 Surround Core Audio File (CAF)",
         {"Left", "Right", "Center", "Lfe", "Left Surround", "Right Surround", "Center Surround", "Center Surround"}},
        {5, 0, "Core Audio File (CAF)", {"1", "2", "3", "4", "5"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        OSErr err = 0;
        auto f = OpenCaf(Put("names.caf", Caf(Desc(c.channels, 16) + Chan(c.tag, c.tag ? 0 : 1) +
                                              Data(std::string(2 * c.channels, '\0')))), &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(f->GetDescription(), c.description);
        for (size_t i = 0; i < c.names.size(); ++i)
            EXPECT_EQ(f->GetChannelName(static_cast<short>(i)), c.names[i]);
    }
}

// ---------------------------------------------------------------------------
// Writing

TEST_F(CafTest, WritesBigEndianIntegersAndChannelByChannelOrOutOfOrderWritesLandInPlace) {
    // The name is extended once, whatever dots it holds.
    const std::initializer_list<std::pair<short, const char*>> cases = {
        {8, "plain"}, {16, ".CorvaOutFile"}, {24, "take.2.final"}, {32, "w.caf"}};
    for (auto [bits, name] : cases) {
        SCOPED_TRACE(bits);
        const int64_t lo = -(int64_t(1) << (bits - 1)), hi = (int64_t(1) << (bits - 1)) - 1;
        std::vector<int32_t> samples;
        // More than one buffer of stereo frames, extremes included.
        for (int64_t i = 0; i < 2 * 13000; ++i)
            samples.push_back(static_cast<int32_t>(i % 3 == 0 ? (i & 1 ? hi : lo) : (i * 7919) % (hi + 1)));
        auto f = CreateCaf(dir / name, 2, bits, 22050.5f);
        const std::string path = f->GetPath();
        EXPECT_EQ(path, dir / (std::string(name) + ".caf"));
        ASSERT_EQ(formattest::WriteBufferForm(*f, 0, BufferForm(samples, bits)), 0);
        ASSERT_EQ(f->Close(), 0);

        const std::string bytes = ReadFile(path);
        const uint32_t dataBytes = 13000u * 2 * bits / 8;
        ASSERT_EQ(bytes.size(), 68u + dataBytes);
        EXPECT_EQ(bytes.substr(0, 68),
                  Caf(Desc(2, bits, 0, "lpcm", 22050.5) + Chunk("data", BE(0, 4), 4 + dataBytes)));
        EXPECT_EQ(bytes.substr(68, bits / 8), BE(static_cast<uint32_t>(samples[0]), bits / 8));
        OSErr err = 0;
        auto g = OpenCaf(path, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(ReadAll(*g), samples);
    }

    // Channel-by-channel and out-of-order writes land in place.
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
        ASSERT_EQ(back[2 * i], std::lround(left[i] * 32768)) << i;
        ASSERT_EQ(back[2 * i + 1], std::lround(right[i] * 32768)) << i;
    }
    for (uint32_t i = n; i < 3000; ++i) ASSERT_EQ(back[2 * i], 0) << i;
    EXPECT_EQ(back[2 * 3000], 8192);
    EXPECT_EQ(back[2 * 3009 + 1], 8192);
}

// ---------------------------------------------------------------------------
// Peers

// Raw little-endian samples of a form.
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
        const double x = static_cast<int32_t>(rng()) / 2147483648.0;
        uint64_t bits = rng();
        if (form.isFloat)
            bits = form.bytes == 4 ? std::bit_cast<uint32_t>(float(x)) : std::bit_cast<uint64_t>(x);
        for (int b = 0; b < form.bytes; ++b) out += static_cast<char>(bits >> (8 * b));
    }
    return out;
}

// The samples delivered for raw samples at a word size: floats at the full
// scale of 32 bits, integers shifted up to a wider word.
std::vector<int32_t> Delivered(const RawForm& form, const std::string& raw, int bits) {
    std::vector<int32_t> out;
    const auto* p = reinterpret_cast<const uint8_t*>(raw.data());
    for (size_t i = 0; i + form.bytes <= raw.size(); i += form.bytes) {
        if (!form.isFloat) {
            const uint32_t v = static_cast<uint32_t>(Sample(p + i, form.bytes));
            out.push_back(static_cast<int32_t>(v << (bits - 8 * form.bytes)));
            continue;
        }
        const double x = form.bytes == 4 ? std::bit_cast<float>(LoadLE32(p + i))
                                         : std::bit_cast<double>(LoadLE64(p + i));
        out.push_back(static_cast<int32_t>(std::clamp(x * 2147483648.0, -2147483648.0, 2147483647.0)));
    }
    return out;
}

// Frames of samples with the channels of each frame picked in an order.
std::vector<int32_t> InOrder(const std::vector<int32_t>& samples, const std::vector<int>& order) {
    if (order.empty()) return samples;
    std::vector<int32_t> out;
    for (size_t i = 0; i < samples.size(); i += order.size())
        for (int k : order) out.push_back(samples[i + k]);
    return out;
}

TEST_F(CafTest, FfmpegFilesReadWithTheirSamples) {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    using SF = CSoundFile;
    struct Case {
        RawForm form;
        const char* codec;
        int channels;
        const char* layout;
        short bits;
        SF::ChannelConfiguration configuration;
        std::vector<int> order = {};  // the stored channel of each delivered one, when moved
        const char* output = " ";     // " -f caf pipe:1 > ": data of unknown size
    };
    const Case cases[] = {
        {kS8, "pcm_s8", 2, "stereo", 8, SF::kStereo},
        {kS16, "pcm_s16be", 1, "mono", 16, SF::kMono},
        {kS16, "pcm_s16le", 2, "stereo", 16, SF::kStereo, {}, " -f caf pipe:1 > "},
        {kS24, "pcm_s24le", 6, "5.1", 24, SF::k51},
        {kS32, "pcm_s32be", 2, "stereo", 32, SF::kStereo},
        {kF32, "pcm_f32le", 2, "stereo", 32, SF::kStereo},
        {kF64, "pcm_f64be", 1, "mono", 32, SF::kMono},
        {kS16, "alac", 2, "stereo", 24, SF::kStereo},
        {kS24, "alac", 1, "mono", 24, SF::kMono},
        {kS16, "alac", 6, "5.1", 24, SF::k51},
        {kS16, "alac", 3, "3.0", 24, SF::kLCR, {0, 2, 1}},
        {kS16, "alac", 8, "'7.1(wide)'", 24, SF::k71, {2, 6, 7, 0, 1, 4, 5, 3}},
    };
    unsigned seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.codec) + " " + c.layout);
        // Not a whole number of packets, and more than a buffer.
        const std::string raw = RandomRaw(c.form, 13001 * static_cast<size_t>(c.channels), seed++);
        const std::string out = dir / ("ff" + std::to_string(seed) + ".caf");
        const std::string command = std::string("ffmpeg -v error -y -f ") + c.form.ffmpeg + " -ar 48000 -ac " +
                                    std::to_string(c.channels) + " -channel_layout " + c.layout + " -i " +
                                    Quote(Put("in.raw", raw)) + " -c:a " + c.codec + c.output + Quote(out);
        ASSERT_TRUE(RunCommand(command)) << command;
        OSErr err = 0;
        auto f = OpenCaf(out, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(f->GetWordSize(), c.bits);
        EXPECT_EQ(f->GetSampleRate(), 48000.0);
        EXPECT_EQ(f->GetChannelConfiguration(), c.configuration);
        EXPECT_EQ(f->GetNumSFrames(), 13001u);
        const std::vector<int32_t> expected = InOrder(Delivered(c.form, raw, c.bits), c.order);
        // Blocks that do not line up with the packets.
        f->SetSFTBufferSize(3000);
        EXPECT_TRUE(ReadAll(*f) == expected);
        // A block read straight after opening, in the middle of a packet.
        auto g = OpenCaf(out, &err);
        ASSERT_EQ(g->RefreshInputBuffer(5000), 0);
        EXPECT_EQ(Sample(g->GetInputBuffer(), c.bits / 8), expected[5000 * c.channels]);
    }
}

// Samples of ffmpeg's raw 24-bit little-endian output, widened.
std::vector<int32_t> FromS24(const std::string& raw) {
    std::vector<int32_t> out;
    for (size_t i = 0; i + 3 <= raw.size(); i += 3)
        out.push_back(Sample(reinterpret_cast<const unsigned char*>(raw.data()) + i, 3));
    return out;
}

TEST_F(CafTest, FfmpegCompressedFilesGiveTheSamplesFfmpegDecodes) {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    using SF = CSoundFile;
    struct Case {
        const char* codec;
        int rate, channels;
        const char* layout;
        SF::ChannelConfiguration configuration;
    };
    // Packets that stand alone and packets that depend on the ones before;
    // of a constant size (some decoded many to a call) and from a packet table.
    const Case cases[] = {
        {"pcm_mulaw", 8000, 6, "5.1", SF::k51},
        {"pcm_alaw", 44100, 1, "mono", SF::kMono},
        {"adpcm_ima_qt", 48000, 2, "stereo", SF::kStereo},
        {"gsm", 8000, 1, "mono", SF::kMono},
        {"gsm_ms", 8000, 1, "mono", SF::kMono},
        {"mp2", 48000, 2, "stereo", SF::kStereo},
        {"libmp3lame", 44100, 2, "stereo", SF::kStereo},
        {"libopus", 48000, 2, "stereo", SF::kStereo},
    };
    unsigned seed = 200;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codec);
        const std::string raw = RandomRaw(kS16, 23001 * static_cast<size_t>(c.channels), seed++);
        const std::string out = dir / (std::string(c.codec) + ".caf");
        const std::string command = "ffmpeg -v error -y -f s16le -ar " + std::to_string(c.rate) +
                                    " -ac " + std::to_string(c.channels) + " -channel_layout " +
                                    c.layout + " -i " + Quote(Put("in.raw", raw)) + " -c:a " +
                                    c.codec + " " + Quote(out);
        ASSERT_TRUE(RunCommand(command)) << command;
        std::string decoded;
        ASSERT_TRUE(RunCommand("ffmpeg -v error -i " + Quote(out) + " -f s24le -", &decoded));
        const std::vector<int32_t> expected = FromS24(decoded);
        ASSERT_FALSE(expected.empty());

        OSErr err = 0;
        auto f = OpenCaf(out, &err);
        ASSERT_EQ(err, 0);
        // 24 bits, whatever bits the description gives a sample (8, 4 or none).
        EXPECT_EQ(f->GetWordSize(), 24);
        EXPECT_EQ(f->GetNumChannels(), c.channels);
        EXPECT_EQ(f->GetSampleRate(), c.rate);
        EXPECT_EQ(f->GetChannelConfiguration(), c.configuration);
        EXPECT_EQ(f->GetNumSFrames(), expected.size() / c.channels);
        // Blocks that do not line up with the packets.
        f->SetSFTBufferSize(3000);
        EXPECT_TRUE(ReadAll(*f) == expected);

        // Out of sequence: a block far on, then one before it, which comes
        // back as reading from the start gives it.
        auto g = OpenCaf(out, &err);
        ASSERT_EQ(err, 0);
        g->SetSFTBufferSize(3000);
        ASSERT_EQ(g->RefreshInputBuffer(20000), 0);
        ASSERT_EQ(g->RefreshInputBuffer(4321), 0);
        const std::vector<int32_t> block = FromS24(std::string(
            reinterpret_cast<const char*>(g->GetInputBuffer()), 3000 * 3 * c.channels));
        EXPECT_TRUE(std::equal(block.begin(), block.end(), expected.begin() + 4321 * c.channels));
    }
}

// A packet size of the packet table: seven-bit groups, the first ones flagged.
std::string Varint(uint32_t v) {
    std::string out(1, static_cast<char>(v & 0x7F));
    while (v >>= 7) out.insert(out.begin(), static_cast<char>(0x80 | (v & 0x7F)));
    return out;
}

// An MPEG-4 descriptor of a tag and body.
std::string Descriptor(uint8_t tag, const std::string& body) {
    return std::string(1, static_cast<char>(tag)) + static_cast<char>(body.size()) + body;
}

TEST_F(CafTest, AacPacketsWithTheirDescriptorDecodeAsFfmpegDecodesThem) {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    using SF = CSoundFile;
    struct Case {
        int rate, channels;
        const char* layout;
        SF::ChannelConfiguration configuration;
    };
    unsigned seed = 300;
    for (const Case& c : {Case{44100, 2, "stereo", SF::kStereo}, Case{48000, 6, "5.1", SF::k51}}) {
        SCOPED_TRACE(c.layout);
        // ffmpeg's AAC packets, taken out of their ADTS headers.
        const std::string raw = RandomRaw(kS16, 9001 * static_cast<size_t>(c.channels), seed++);
        const std::string adts = dir / "in.aac";
        ASSERT_TRUE(RunCommand("ffmpeg -v error -y -f s16le -ar " + std::to_string(c.rate) + " -ac " +
                               std::to_string(c.channels) + " -channel_layout " + c.layout + " -i " +
                               Quote(Put("in.raw", raw)) + " -c:a aac -f adts " + Quote(adts)));
        const std::string stream = ReadFile(adts);
        const auto* p = reinterpret_cast<const uint8_t*>(stream.data());
        std::string audio, sizes;
        uint64_t packets = 0;
        uint8_t config[2] = {};
        for (size_t at = 0; at + 7 <= stream.size(); ++packets) {
            ASSERT_EQ(p[at] << 4 | p[at + 1] >> 4, 0xFFF);
            const size_t header = p[at + 1] & 1 ? 7 : 9;
            const size_t length = (p[at + 3] & 3) << 11 | p[at + 4] << 3 | p[at + 5] >> 5;
            ASSERT_LE(at + length, stream.size());
            // Object type, rate index and channel configuration.
            const int object = (p[at + 2] >> 6) + 1, index = (p[at + 2] >> 2) & 15;
            const int channels = (p[at + 2] & 1) << 2 | p[at + 3] >> 6;
            config[0] = static_cast<uint8_t>(object << 3 | index >> 1);
            config[1] = static_cast<uint8_t>((index & 1) << 7 | channels << 3);
            audio += stream.substr(at + header, length - header);
            sizes += Varint(static_cast<uint32_t>(length - header));
            at += length;
        }
        const std::string es = Descriptor(3, BE(1, 2) + '\0' +
                                                 Descriptor(4, "\x40\x15" + std::string(11, '\0') +
                                                                   Descriptor(5, std::string(config, config + 2))) +
                                                 Descriptor(6, "\x02"));
        const std::string desc =
            Chunk("desc", BE(std::bit_cast<uint64_t>(double(c.rate)), 8) + "aac " + BE(0, 4) + BE(0, 4) +
                              BE(1024, 4) + BE(c.channels, 4) + BE(0, 4));
        const std::string table = Chunk("pakt", BE(packets, 8) + BE(packets * 1024, 8) + BE(0, 8) + sizes);
        // The stored order of AAC 5.1 (center first); the decoder's order is delivered.
        const std::string chan = c.channels == 6 ? Chan(LayoutTag(124, 6)) : "";
        // ffmpeg takes the descriptor after an 'esds' atom's version and flags.
        const std::string path =
            Put("aac.caf", Caf(desc + chan + Chunk("kuki", std::string(4, '\0') + es) + table + Data(audio)));
        std::string decoded;
        ASSERT_TRUE(RunCommand("ffmpeg -v error -i " + Quote(path) + " -f s24le -", &decoded));
        const std::vector<int32_t> expected = FromS24(decoded);
        ASSERT_EQ(expected.size(), packets * 1024 * c.channels);

        // The descriptor after the version and flags, and alone.
        for (const std::string& cookie : {std::string(4, '\0') + es, es}) {
            OSErr err = 0;
            auto f = OpenCaf(Put("ours.caf", Caf(desc + chan + Chunk("kuki", cookie) + table + Data(audio))), &err);
            ASSERT_EQ(err, 0);
            EXPECT_EQ(f->GetWordSize(), 24);
            EXPECT_EQ(f->GetChannelConfiguration(), c.configuration);
            EXPECT_EQ(f->GetClientLayoutTag(), 0u);
            EXPECT_EQ(f->GetNumSFrames(), packets * 1024);
            f->SetSFTBufferSize(3000);
            EXPECT_TRUE(ReadAll(*f) == expected);
        }
    }
}

TEST_F(CafTest, DamagedCompressedFilesGiveAStatus) {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    // Packets that do not decode: the read says so, and so does the next one.
    const std::string mp3 = dir / "bad.caf";
    ASSERT_TRUE(RunCommand("ffmpeg -v error -y -f lavfi -i sine=d=1 -c:a libmp3lame " + Quote(mp3)));
    std::string bytes = ReadFile(mp3);
    const size_t data = bytes.find("data");
    ASSERT_NE(data, std::string::npos);
    // The audio data after the chunk header and edit count; the packet table follows.
    const uint64_t dataSize = LoadBE64(reinterpret_cast<const uint8_t*>(bytes.data()) + data + 4);
    ASSERT_LE(data + 12 + dataSize, bytes.size());
    for (size_t i = data + 16; i < data + 12 + dataSize; ++i) bytes[i] = static_cast<char>(i * 7);
    OSErr err = 0;
    auto f = OpenCaf(Put("bad.caf", bytes), &err);
    ASSERT_EQ(err, 0);
    ASSERT_GT(f->GetNumSFrames(), 0u);
    EXPECT_EQ(f->RefreshInputBuffer(0), kNotASoundFileErr);
    EXPECT_EQ(f->RefreshInputBuffer(0), kNotASoundFileErr);
    EXPECT_EQ(f->Close(), 0);

    // Descriptions a compressed stream cannot have.
    auto desc = [](const char* format, uint32_t channels, uint32_t packetBytes, uint32_t packetFrames) {
        return Chunk("desc", BE(std::bit_cast<uint64_t>(8000.0), 8) + std::string(format, 4) + BE(0, 4) +
                                 BE(packetBytes, 4) + BE(packetFrames, 4) + BE(channels, 4) + BE(0, 4));
    };
    const std::string packets = Data(std::string(4000, '\x55'));
    struct Case {
        const char* what;
        std::string bytes;
        OSErr status;
        uint32_t frames = 0;
        uint32_t declared = 0;  // the frames the header states, when more than there are
    };
    const std::vector<Case> cases = {
        {"no frames a packet", Caf(desc("ima4", 1, 34, 0) + packets), kNotASoundFileErr},
        {"packets beyond the largest", Caf(desc("ulaw", 1, 1u << 30, 1) + packets), kNotASoundFileErr},
        {"packets of too many samples", Caf(desc("ima4", 1024, 34, 65536) + packets), kNotASoundFileErr},
        {"sizes in no table", Caf(desc("ima4", 1, 0, 64) + packets), kNotASoundFileErr},
        {"channels the decoder refuses", Caf(desc("agsm", 2, 66, 160) + packets), kNotASoundFileErr},
        {"AAC without its configuration", Caf(desc("aac ", 1, 0, 1024) + Chunk("kuki", "\x03\x03\0\0\0") +
                                               Chunk("pakt", BE(1, 8) + BE(1024, 8) + BE(0, 8) + "\x10") + packets),
         kNotASoundFileErr},
        // Only whole packets count; a decoder takes any bytes for IMA 4:1.
        {"a packet cut off", Caf(desc("ima4", 2, 68, 64) + packets), 0, 4000 / 68 * 64},
        // Packets the header states beyond the end of the file.
        {"data size beyond the file",
         Caf(desc("ima4", 2, 68, 64) + Chunk("data", BE(0, 4) + std::string(4000, '\x55'), 4 + 6800)), 0,
         4000 / 68 * 64, 6400},
        {"a table of more packets than the data holds",
         Caf(desc("ima4", 2, 0, 64) + Chunk("pakt", BE(100, 8) + BE(0, 8) + BE(0, 8) + std::string(100, 68)) +
             packets),
         0, 4000 / 68 * 64, 6400},
        {"a table with its count of valid frames",
         Caf(desc("ima4", 2, 0, 64) +
             Chunk("pakt", BE(100, 8) + BE(6390, 8) + BE(0, 8) + std::string(100, 68)) + packets),
         0, 4000 / 68 * 64, 6390},
        {"a damaged table", Caf(desc("ulaw", 1, 1, 1) + Chunk("pakt", std::string(10, '\0')) + packets),
         -22009},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto g = OpenCaf(Put("c.caf", c.bytes), &err);
        EXPECT_EQ(err, c.status);
        EXPECT_EQ(g->IsOpen(), c.status == 0);
        if (err) continue;
        EXPECT_EQ(g->GetNumSFrames(), c.frames);
        EXPECT_EQ(g->GetDeclaredSFrames(), c.declared ? c.declared : c.frames);
        EXPECT_EQ(ReadAll(*g).size(), c.frames * 2);
    }
}

TEST_F(CafTest, LibsndfileFilesReadWithTheirSamples) {
    using SF = CSoundFile;
    const std::vector<int> kMap51D = {SF_CHANNEL_MAP_CENTER, SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT,
                                      SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT, SF_CHANNEL_MAP_LFE};
    struct Case {
        int format;
        RawForm form;
        int channels;
        short bits;
        SF::ChannelConfiguration configuration;
        std::vector<int> map = {};    // channel map, when one is set
        std::vector<int> order = {};  // the stored channel of each delivered one, when moved
    };
    // (libsndfile's own 24-bit Apple Lossless does not read back in libsndfile
    // itself; ffmpeg's stands for it.)
    const Case cases[] = {
        {SF_FORMAT_PCM_16, kS16, 2, 16, SF::kStereo},
        {SF_FORMAT_PCM_24, kS24, 1, 24, SF::kMono},
        {SF_FORMAT_PCM_32, kS32, 2, 32, SF::kStereo},
        {SF_FORMAT_FLOAT, kF32, 2, 32, SF::kStereo},
        {SF_FORMAT_DOUBLE, kF64, 1, 32, SF::kMono},
        {SF_FORMAT_ALAC_16, kS16, 2, 24, SF::kStereo},
        // Stored center first: delivered left, right, center, LFE, surrounds.
        {SF_FORMAT_PCM_16, kS16, 6, 16, SF::k51, kMap51D, {1, 2, 0, 5, 3, 4}},
    };
    unsigned seed = 50;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        const sf_count_t frames = 9001;
        const std::string raw = RandomRaw(c.form, frames * c.channels, seed++);
        const std::string path = dir / ("sf" + std::to_string(seed) + ".caf");
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = c.channels;
        info.format = SF_FORMAT_CAF | SF_ENDIAN_LITTLE | c.format;
        SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
        std::vector<int> map = c.map;
        if (!map.empty()) {
            ASSERT_EQ(sf_command(sf, SFC_SET_CHANNEL_MAP_INFO, map.data(), int(map.size() * 4)), 1);
        }
        // Little-endian linear samples are stored as they are; compressed ones are given.
        std::vector<int16_t> shorts(raw.size() / 2);
        std::memcpy(shorts.data(), raw.data(), shorts.size() * 2);
        const bool written = c.format == SF_FORMAT_ALAC_16 ? sf_writef_short(sf, shorts.data(), frames) == frames
                                                           : sf_write_raw(sf, raw.data(), sf_count_t(raw.size())) == sf_count_t(raw.size());
        sf_close(sf);
        ASSERT_TRUE(written);
        OSErr err = 0;
        auto f = OpenCaf(path, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(f->GetWordSize(), c.bits);
        EXPECT_EQ(f->GetNumSFrames(), uint32_t(frames));
        EXPECT_EQ(f->GetChannelConfiguration(), c.configuration);
        EXPECT_TRUE(ReadAll(*f) == InOrder(Delivered(c.form, raw, c.bits), c.order));
    }
}

TEST_F(CafTest, PeersReadOurFilesWithTheSameSamples) {
    const bool ffmpeg = HaveProgram("ffmpeg") && HaveProgram("ffprobe");
    const bool sox = HaveProgram("sox"), info = HaveProgram("sndfile-info");
    const uint32_t frames = 12345;
    unsigned seed = 90;
    for (auto [bits, channels] : {std::pair<short, short>{8, 1}, {16, 2}, {24, 6}, {32, 2}}) {
        SCOPED_TRACE(bits);
        const RawForm form{"", bits / 8, false};
        const std::vector<int32_t> samples =
            Delivered(form, RandomRaw(form, frames * size_t(channels), seed++), bits);
        auto f = CreateCaf(dir / ("ours" + std::to_string(bits)), channels, bits, 44100);
        const std::string path = f->GetPath();
        ASSERT_EQ(formattest::WriteBufferForm(*f, 0, BufferForm(samples, bits)), 0);
        ASSERT_EQ(f->Close(), 0);
        // What a peer gives as full-scale 32-bit samples.
        std::vector<int32_t> wide;
        for (int32_t v : samples) wide.push_back(static_cast<int32_t>(uint32_t(v) << (32 - bits)));
        auto asSamples = [](const std::string& bytes) {
            std::vector<int32_t> out(bytes.size() / 4);
            std::memcpy(out.data(), bytes.data(), out.size() * 4);
            return out;
        };

        SF_INFO sfInfo{};
        SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &sfInfo);
        ASSERT_NE(sf, nullptr);
        std::vector<int32_t> back(wide.size());
        EXPECT_EQ(sf_readf_int(sf, back.data(), frames), sf_count_t(frames));
        sf_close(sf);
        EXPECT_EQ(sfInfo.channels, channels);
        EXPECT_TRUE(back == wide) << "libsndfile";
        std::string text;
        if (ffmpeg) {
            ASSERT_TRUE(RunCommand("ffmpeg -v error -i " + Quote(path) + " -f s32le -", &text));
            EXPECT_TRUE(asSamples(text) == wide) << "ffmpeg";
            ASSERT_TRUE(RunCommand("ffprobe -v error -of default=nw=1 -show_entries "
                                   "stream=sample_rate,channels,duration_ts " + Quote(path), &text));
            EXPECT_EQ(text, "sample_rate=44100\nchannels=" + std::to_string(channels) +
                                "\nduration_ts=" + std::to_string(frames) + "\n");
        }
        if (sox) {
            ASSERT_TRUE(RunCommand("sox " + Quote(path) + " -t s32 -", &text));
            EXPECT_TRUE(asSamples(text) == wide) << "sox";
        }
        if (info) {
            ASSERT_TRUE(RunCommand("sndfile-info " + Quote(path), &text));
            EXPECT_NE(text.find("Frames      : " + std::to_string(frames)), std::string::npos);
        }
    }
}

}  // namespace
