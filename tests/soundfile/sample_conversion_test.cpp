// Sample conversion: golden vectors per word size, clipping, dither, the block
// loops, the guarded edges (saturating Add, illegal word sizes, bad channels),
// and every conversion path against the scalar formulas.

#include "soundfile/sample_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "soundfile/memory_sound_file.h"
#include "soundfile/sample_conversion_blocks.h"

using testsupport::MemorySoundFile;
using Op = MemorySoundFile::Op;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// A one-channel file holding `values` (stored integers of the word size).
std::unique_ptr<MemorySoundFile> MonoWith(short wordSize, const std::vector<int32_t>& values,
                                          short dataType = kDataTypePCM) {
    auto f = std::make_unique<MemorySoundFile>(1, wordSize, static_cast<uint32_t>(values.size()),
                                               44100.0, dataType);
    for (size_t i = 0; i < values.size(); ++i) f->SetSample(static_cast<uint32_t>(i), 0, values[i]);
    return f;
}

std::vector<int32_t> StoredMono(MemorySoundFile& f) {
    std::vector<int32_t> out;
    for (uint32_t i = 0; i < f.GetNumSFrames(); ++i) out.push_back(f.GetSample(i, 0));
    return out;
}

// Reads the whole mono file both ways and checks every sample bit for bit.
void ExpectReads(MemorySoundFile& f, const std::vector<double>& doubles,
                 const std::vector<float>& floats) {
    const uint32_t n = static_cast<uint32_t>(doubles.size());
    std::vector<double> d(n);
    std::vector<float> s(n);
    uint32_t count = n;
    ASSERT_EQ(f.Read(0, &count, d.data()), 0);
    ASSERT_EQ(count, n);
    count = n;
    ASSERT_EQ(f.Read(0, &count, s.data()), 0);
    ASSERT_EQ(count, n);
    for (uint32_t i = 0; i < n; ++i) {
        EXPECT_EQ(d[i], doubles[i]) << "double sample " << i;
        EXPECT_EQ(s[i], floats[i]) << "float sample " << i;
    }
}

}  // namespace

TEST(SampleHelpers, TwentyFourBitAndTruncation) {
    const unsigned char max[3] = {0xFF, 0xFF, 0x7F}, min[3] = {0x00, 0x00, 0x80};
    EXPECT_EQ(TwentyFour2Long(max), 0x7FFFFF00);
    EXPECT_EQ(TwentyFour2Long(min), INT32_MIN);
    EXPECT_EQ(TwentyFour2Double(min), -0x1.00000000009dap+0);
    EXPECT_EQ(TwentyFour2Float(max), 0x1.fffffcp-1f);

    unsigned char b[3];
    Long2TwentyFour(0x12345678, b);
    EXPECT_EQ(b[0], 0x56);
    EXPECT_EQ(b[1], 0x34);
    EXPECT_EQ(b[2], 0x12);
    EXPECT_EQ(Double2TwentyFour(1.0, b), 32767);
    EXPECT_EQ(b[0], 0xFF);
    EXPECT_EQ(b[2], 0x7F);
    EXPECT_EQ(Double2TwentyFour(-5.0, b), -32768);  // saturates instead of wrapping

    EXPECT_EQ(Bits2Bytes(20), 2);
    EXPECT_EQ(Bytes2Bits(3), 24);
    EXPECT_EQ(Bytes2Bits(0x2000), 0);  // kept to 16 bits

    EXPECT_EQ(TruncToInt32(-2.9), -2);
    EXPECT_EQ(TruncToInt32(2147483647.9), INT32_MAX);
    EXPECT_EQ(TruncToInt32(1e300), INT32_MAX);
    EXPECT_EQ(TruncToInt32(-kInf), INT32_MIN);
    EXPECT_EQ(TruncToInt32(kNaN), 0);
}

TEST(SampleRead, GoldenVectorsPerWordSize) {
    {
        auto f = MonoWith(8, {-128, -1, 1, 127});
        ExpectReads(*f, {-1.0, -0.0078125, 0.0078125, 0.9921875},
                    {-1.0f, -0.0078125f, 0.0078125f, 0.9921875f});
    }
    {
        // The 16-bit scale is a hair above 2^-15: -32768 reads below -1.0.
        // -32767 pins the double product: a single-precision one rounds differently.
        auto f = MonoWith(16, {-32768, 1, 12345, 32767, -32767});
        ExpectReads(*f, {-0x1.00000107e1fe9p+0, 0x1.00000107e1fe9p-15, 0x1.81c8018da9086p-2,
                        0x1.fffc020fbfddap-1, -0x1.fffc020fbfddap-1},
                    {-0x1.000002p+0f, 0x1.000002p-15f, 0x1.81c802p-2f, 0x1.fffc02p-1f,
                     -0x1.fffc02p-1f});
        EXPECT_EQ(std::nextafter(-1.0f, -2.0f), -0x1.000002p+0f);
    }
    {
        auto f = MonoWith(24, {-8388608, -1, 0x123456, 8388607});
        ExpectReads(*f, {-0x1.00000000009dap+0, -0x1.00000000009dap-23, 0x1.2345600000b35p-3,
                        0x1.fffffc00013b4p-1},
                    {-1.0f, -0x1p-23f, 0x1.23456p-3f, 0x1.fffffcp-1f});
    }
    {
        // Float reads round the 32-bit value to single precision first (0x12345590
        // would otherwise end one step higher).
        auto f = MonoWith(32, {INT32_MIN, 1, 0x12345678, INT32_MAX, 0x12345590});
        ExpectReads(*f, {-0x1.00000000009dap+0, 0x1.00000000009dap-31, 0x1.2345678000b35p-3,
                        0x1.fffffffc013b4p-1, 0x1.2345590000b35p-3},
                    {-1.0f, 0x1p-31f, 0x1.234568p-3f, 1.0f, 0x1.234558p-3f});
    }
    {
        // Data type 146: the low three bytes of each word hold the sample; the top
        // byte is ignored.
        auto f = MonoWith(32, {0x00800000, static_cast<int32_t>(0xAB7FFFFF), 0x00123456, 1},
                          kDataType24In32);
        ExpectReads(*f, {-0x1.00000000009dap+0, 0x1.fffffc00013b4p-1, 0x1.2345600000b35p-3,
                        0x1.00000000009dap-23},
                    {-1.0f, 0x1.fffffcp-1f, 0x1.23456p-3f, 0x1p-23f});
    }
}

TEST(SampleRead, FramesAreCutToTheFileAndBlocksContinue) {
    MemorySoundFile f(2, 16, 10);
    for (uint32_t i = 0; i < 10; ++i) {
        f.SetSample(i, 0, static_cast<int32_t>(i));
        f.SetSample(i, 1, -static_cast<int32_t>(i));
    }
    f.SetSFTBufferSize(3);
    std::vector<double> d(40, 7.0);
    uint32_t count = 20;
    ASSERT_EQ(f.Read(4, &count, d.data()), 0);
    EXPECT_EQ(count, 6u);
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(d[2 * i], (4 + i) * kReadScale16);
        EXPECT_EQ(d[2 * i + 1], -double(4 + i) * kReadScale16);
    }
    EXPECT_EQ(d[12], 7.0);
    EXPECT_EQ(f.CountCalls(Op::RefreshInput), 2u);  // frames 4 and 7: 3 + 3

    count = 5;
    EXPECT_EQ(f.Read(10, &count, d.data()), 0);
    EXPECT_EQ(count, 0u);
    count = 0xFFFFFFFFu;  // start + count beyond 32 bits is still cut to the file
    float s[10];
    EXPECT_EQ(f.Read(short(1), 8, &count, s), 0);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(s[1], static_cast<float>(-9 * kReadScale16));
}

TEST(SampleRead, LeftAndRightTakeFirstAndLastChannelAndPerChannelArrays) {
    MemorySoundFile quad(4, 24, 3);
    MemorySoundFile mono(1, 24, 3);
    for (uint32_t i = 0; i < 3; ++i) {
        for (uint32_t c = 0; c < 4; ++c) quad.SetSample(i, c, int32_t(1000 * c + i));
        mono.SetSample(i, 0, int32_t(i + 1));
    }
    float fl[3], fr[3];
    double dl[3], dr[3];
    uint32_t count = 3;
    ASSERT_EQ(quad.Read(0, &count, fl, fr), 0);
    count = 3;
    ASSERT_EQ(quad.Read(0, &count, dl, dr), 0);
    EXPECT_EQ(count, 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(dl[i], double(i << 8) * kReadScale32);
        EXPECT_EQ(dr[i], double(int32_t(3000 + i) << 8) * kReadScale32);
        EXPECT_EQ(fr[i], static_cast<float>(dr[i]));
    }
    count = 3;
    ASSERT_EQ(mono.Read(0, &count, dl, dr), 0);
    count = 3;
    ASSERT_EQ(mono.Read(0, &count, fl, fr), 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(dl[i], dr[i]);
        EXPECT_EQ(fl[i], fr[i]);
        EXPECT_EQ(dl[i], double((i + 1) << 8) * kReadScale32);
    }

    MemorySoundFile three(3, 8, 4);  // per-channel arrays
    for (uint32_t i = 0; i < 4; ++i)
        for (uint32_t c = 0; c < 3; ++c) three.SetSample(i, c, int32_t(10 * c + i));
    std::vector<float> a(4), b(4), c(4);
    float* arrays[3] = {a.data(), b.data(), c.data()};
    count = 4;
    ASSERT_EQ(three.Read(0, &count, arrays), 0);
    EXPECT_EQ(b[3], 13 * 0.0078125f);
    EXPECT_EQ(c[0], 20 * 0.0078125f);
}

TEST(SampleRead, FailuresAndWordSizes) {
    error_code_exception_log_changer quiet(false);
    MemorySoundFile f(1, 20, 8);  // 20 bits: two bytes per sample
    f.SetSample(2, 0, -32768);
    float s[8];
    double d[8];
    uint32_t count = 8;
    // Float and double reads alike take the samples as the buffer holds them.
    ASSERT_EQ(f.Read(0, &count, s), 0);
    EXPECT_EQ(s[2], static_cast<float>(-32768 * kReadScale16));
    float one[8];
    float* channels[1] = {one};
    ASSERT_EQ(f.Read(0, &count, channels), 0);
    EXPECT_EQ(one[2], s[2]);
    ASSERT_EQ(f.Read(0, &count, d), 0);
    EXPECT_EQ(d[2], -32768 * kReadScale16);

    // A failing refresh: float reads keep the count, double reads report what was delivered.
    f.SetSFTBufferSize(3);
    f.FailAt(Op::RefreshInput, 3, -36);
    count = 8;
    EXPECT_EQ(f.Read(0, &count, d), -36);
    EXPECT_EQ(count, 3u);
    count = 8;
    double left[8], right[8];
    EXPECT_EQ(f.Read(0, &count, left, right), -36);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(right[2], d[2]);
    MemorySoundFile g(1, 16, 8);
    g.SetSFTBufferSize(3);
    g.FailAt(Op::RefreshInput, 3, -36);
    count = 8;
    EXPECT_EQ(g.Read(0, &count, s), -36);
    EXPECT_EQ(count, 8u);
}

TEST(SampleWrite, GoldenVectorsWithoutDither) {
    struct Case {
        short wordSize;
        std::vector<double> in;
        std::vector<int32_t> stored;
        std::vector<double> after;  // the caller's array afterwards
    };
    const Case cases[] = {
        // 8 bits scale by 128, as they are read: 1.0 stores 127, -1.0 stores -128.
        {8,
         {kNaN, -1.0, 0.5, -0.5, 0.00390625, 2.0, 1.0, -0.0078125, 0.0078125, -0.0039},
         {0, -128, 64, -64, 0, 127, 127, -1, 1, 0},
         {kNaN, -1.0, 0.5, -0.5, 0.00390625, 0.9921875, 0.9921875, -0.0078125, 0.0078125, -0.0039}},
        {16,
         {1.0, -kInf, 0.5, -0.25, 1.5, 1e-5, -1.0},
         {32767, -32768, 16384, -8192, 32767, 0, -32768},
         {kWriteLimit16, -1.0, 0.5, -0.25, kWriteLimit16, 1e-5, -1.0}},
        {24,
         {2.0, -2.0, 0.5, -0.5, 1e-7, kNaN},
         {8388607, -8388608, 4194304, -4194304, 0, 0},
         {1.0, -1.0, 0.5, -0.5, 1e-7, kNaN}},
        {32,
         {1.0, -1.0, 0.25, 3.0, -kInf, 1e-9},
         {INT32_MAX, INT32_MIN, 536870912, INT32_MAX, INT32_MIN, 2},
         {1.0, -1.0, 0.25, 1.0, -1.0, 1e-9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wordSize);
        MemorySoundFile f(1, c.wordSize, 0);
        f.SetDither(0);
        std::vector<double> x = c.in;
        uint32_t count = static_cast<uint32_t>(x.size());
        ASSERT_EQ(f.Write(0, &count, x.data()), 0);
        EXPECT_EQ(count, x.size());
        EXPECT_EQ(StoredMono(f), c.stored);
        for (size_t i = 0; i < x.size(); ++i) {
            if (std::isnan(c.after[i]))
                EXPECT_TRUE(std::isnan(x[i]));
            else
                EXPECT_EQ(x[i], c.after[i]) << i;
        }
    }
    // Writing 2.0 to 24 bits stores the bytes FF FF 7F.
    MemorySoundFile f(1, 24, 0);
    double two = 2.0;
    uint32_t one = 1;
    ASSERT_EQ(f.Write(0, &one, &two), 0);
    EXPECT_EQ(f.samples, (std::vector<unsigned char>{0xFF, 0xFF, 0x7F}));
}

// Every sample read as double or float and written back without dither is the
// same sample: every 8-bit value, and sweeps over 24 and 32 bits with both ends
// of each range.
TEST(SampleWrite, ReadAndWrittenBackIsTheSameSample) {
    for (short bits : {8, 24, 32}) {
        SCOPED_TRACE(bits);
        std::vector<int32_t> values;
        if (bits == 8) {
            for (int32_t v = -128; v <= 127; ++v) values.push_back(v);
        } else if (bits == 24) {
            for (int32_t v = -8388608; v <= 8388607; v += 251) values.push_back(v);
            for (int32_t v : {-8388607, -1, 0, 1, 4194304, 8388606, 8388607}) values.push_back(v);
        } else {
            for (int64_t v = INT32_MIN; v <= INT32_MAX; v += 1048573) values.push_back(static_cast<int32_t>(v));
            for (int32_t v : {INT32_MIN, INT32_MIN + 1, -1, 0, 1, 1 << 30, INT32_MAX - 1, INT32_MAX})
                values.push_back(v);
        }
        auto in = MonoWith(bits, values);
        const uint32_t n = static_cast<uint32_t>(values.size());
        std::vector<double> d(n);
        std::vector<float> f(n);
        uint32_t count = n;
        ASSERT_EQ(in->Read(0, &count, d.data()), 0);
        count = n;
        ASSERT_EQ(in->Read(0, &count, f.data()), 0);
        MemorySoundFile out(1, bits, 0);
        out.SetDither(0);
        count = n;
        ASSERT_EQ(out.Write(0, &count, d.data()), 0);
        EXPECT_EQ(StoredMono(out), values);
        if (bits != 32) {
            // Single precision holds 24 bits: the float path is exact too.
            std::vector<double> widened(f.begin(), f.end());
            count = n;
            ASSERT_EQ(out.Write(0, &count, widened.data()), 0);
            EXPECT_EQ(StoredMono(out), values);
        }
    }
}

TEST(SampleWrite, PerChannelArraysAndBlockCounting) {
    MemorySoundFile f(2, 16, 0);
    f.SetDither(0);
    f.SetSFTBufferSize(4);
    std::vector<double> l(10), r(10);
    for (int i = 0; i < 10; ++i) {
        l[i] = i / 32768.0;
        r[i] = -i / 32768.0;
    }
    double* arrays[2] = {l.data(), r.data()};
    uint32_t count = 10;
    ASSERT_EQ(f.Write(0, &count, arrays), 0);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(f.CountCalls(Op::Flush), 3u);
    EXPECT_EQ(f.GetSample(9, 0), 9);
    EXPECT_EQ(f.GetSample(9, 1), -9);

    // A failed flush is counted; a failed refresh is not.
    for (auto [op, written] : {std::pair{Op::Flush, 8u}, {Op::RefreshOutput, 4u}}) {
        MemorySoundFile g(2, 16, 0);
        g.SetSFTBufferSize(4);
        g.FailAt(op, 4, -34);
        count = 10;
        EXPECT_EQ(g.Write(0, &count, arrays), -34);
        EXPECT_EQ(count, written);
    }
}

TEST(SampleWrite, DitherFollowsTheTableAndStaysInRange) {
    ASSERT_EQ(fillDither(), 0);
    // 16-bit: w = 65536 m + 65536 - 100 * 256 rounds up exactly when t >= 100;
    // full scale takes no dither and does not advance the index.
    const int32_t w = 3 * 65536 + 65536 - 100 * 256;
    std::vector<double> x(6, (w + 0.5) / kFactor32);
    x[2] = 1.0;
    MemorySoundFile f(1, 16, 0);
    const uint16_t before = gDitherTableIndex;
    uint32_t count = 6;
    ASSERT_EQ(f.Write(0, &count, x.data()), 0);
    EXPECT_EQ(gDitherTableIndex, static_cast<uint16_t>(before + 5));
    std::vector<int32_t> expected;
    uint16_t index = before;
    for (int i = 0; i < 6; ++i) {
        if (i == 2) {
            expected.push_back(32767);
            continue;
        }
        index = static_cast<uint16_t>(index + 1);
        expected.push_back(gDitherTable[index] >= 100 ? 4 : 3);
    }
    EXPECT_EQ(StoredMono(f), expected);

    // 8-bit with dither: full scale stays within -128..127 and every sample advances.
    std::vector<double> y = {1.0, -1.0, 1.0, -1.0, 0.9921875, -0.999};
    MemorySoundFile g(1, 8, 0);
    const uint16_t start8 = gDitherTableIndex;
    count = 6;
    ASSERT_EQ(g.Write(0, &count, y.data()), 0);
    EXPECT_EQ(gDitherTableIndex, static_cast<uint16_t>(start8 + 6));
    for (int32_t v : StoredMono(g)) {
        EXPECT_GE(v, -128);
        EXPECT_LE(v, 127);
    }
    // A second fill goes on with the generator, in the same block.
    uint16_t* table = gDitherTable;
    std::vector<uint16_t> first(table, table + 64);
    ASSERT_EQ(fillDither(), 0);
    EXPECT_EQ(gDitherTable, table);
    EXPECT_NE(std::vector<uint16_t>(table, table + 64), first);
}

// In a fresh process: the table begins 77, 141, 122, 13, 117, 60 and the first
// dithered samples take entries 1, 2, 3, ...
static bool FreshProcessDitherMatches() {
    if (fillDither(0) != 0) return false;
    const uint16_t begin[] = {77, 141, 122, 13, 117, 60};
    for (int i = 0; i < 6; ++i)
        if (gDitherTable[i] != begin[i]) return false;
    // Rounds up exactly when the entry is 100 or more: 141, 122, 13, 117, 60.
    const int32_t w = 65536 - 100 * 256;
    std::vector<double> x(5, (w + 0.5) / kFactor32);
    MemorySoundFile f(1, 16, 0);
    uint32_t count = 5;
    if (f.Write(0, &count, x.data()) != 0) return false;
    return StoredMono(f) == std::vector<int32_t>({1, 1, 0, 1, 0});
}

TEST(SampleWrite, FreshProcessTableAndFirstEntries) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // re-executes: the generator starts at 0
    EXPECT_EXIT(std::exit(FreshProcessDitherMatches() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

TEST(SampleWrite, WriterWithoutTableFillsIt) {
    FreeDitherTable();
    EXPECT_EQ(gDitherTable, nullptr);
    MemorySoundFile f(1, 16, 0);
    double x[2] = {0.25, -0.25};
    uint32_t count = 2;
    ASSERT_EQ(f.Write(0, &count, x), 0);
    EXPECT_NE(gDitherTable, nullptr);
    EXPECT_NEAR(f.GetSample(0, 0), 8192, 1);
}

TEST(SampleAdd, SaturatesAndOtherwiseMatchesThePlainSum) {
    struct Case {
        short wordSize;
        std::vector<int32_t> stored;
        std::vector<double> add;
        std::vector<int32_t> result;
    };
    const Case cases[] = {
        // 100 + 64 would wrap to -92; 1.0 adds 127, what a write of it stores.
        {8, {100, -100, -5, 10, 0, -1, -1}, {0.5, -0.5, -0.5, 0.01, kNaN, 1.0, 0.0078125},
         {127, -128, -69, 11, 0, 126, 0}},
        {16, {30000, -30000, 100, -100, 7}, {0.5, -0.5, 0.25, 0.00001, kNaN},
         {32767, -32768, 8292, -99, 7}},
        // Adding nothing leaves a sample as it was.
        {24, {6291456, -6291456, 1000, 0}, {0.5, -0.5, 0.0, 0.5}, {8388607, -8388608, 1000, 4194304}},
        {32, {INT32_MAX - 10, INT32_MIN + 10, 5}, {0.5, -0.5, 0.25}, {INT32_MAX, INT32_MIN, 536870917}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wordSize);
        auto f = MonoWith(c.wordSize, c.stored);
        f->loadOnRefreshOutput = true;
        std::vector<double> x = c.add;
        uint32_t count = static_cast<uint32_t>(x.size());
        ASSERT_EQ(f->Add(0, 0, &count, x.data()), 0);
        EXPECT_EQ(StoredMono(*f), c.result);
    }
    // 24-bit: the caller's element becomes the (clipped) sum.
    auto f = MonoWith(24, {6291456, 0});  // 0.75
    f->loadOnRefreshOutput = true;
    double x[2] = {0.5, 0.125};
    uint32_t count = 2;
    ASSERT_EQ(f->Add(0, 0, &count, x), 0);
    EXPECT_EQ(x[0], 1.0);
    EXPECT_EQ(x[1], 0.125);
}

TEST(SampleAdd, TouchesOnlyItsChannel) {
    MemorySoundFile f(3, 16, 4);
    f.loadOnRefreshOutput = true;
    f.SetSFTBufferSize(3);
    for (uint32_t i = 0; i < 4; ++i)
        for (uint32_t c = 0; c < 3; ++c) f.SetSample(i, c, int32_t(c));
    std::vector<double> x(4, 0.5);
    uint32_t count = 4;
    ASSERT_EQ(f.Add(1, 0, &count, x.data()), 0);
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(f.GetSample(i, 0), 0);
        EXPECT_EQ(f.GetSample(i, 1), 16385);
        EXPECT_EQ(f.GetSample(i, 2), 2);
    }
    EXPECT_EQ(f.Add(3, 0, &count, x.data()), kParamErr);
    EXPECT_EQ(f.Add(-1, 0, &count, x.data()), kParamErr);
}

TEST(SampleConversion, WordSizesOutsideTheRangeFail) {
    error_code_exception_log_changer quiet(false);
    // Below one byte and beyond four there is no stored form.
    for (short wordSize : {4, 7, 40}) {
        SCOPED_TRACE(wordSize);
        MemorySoundFile f(2, wordSize, 4);
        double d[8] = {0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5};
        double l[4] = {9, 9, 9, 9}, r[4] = {9, 9, 9, 9};
        float fl[4], fr[4], fs[8];
        double* arrays[2] = {l, r};
        uint32_t count = 4;
        EXPECT_EQ(f.Read(0, &count, d), kIllegalWordSizeErr);
        EXPECT_EQ(f.Read(0, &count, fs), kIllegalWordSizeErr);
        EXPECT_EQ(f.Read(short(1), 0, &count, d), kIllegalWordSizeErr);
        EXPECT_EQ(count, 4u);
        EXPECT_EQ(f.Read(0, &count, fl, fr), kIllegalWordSizeErr);
        EXPECT_EQ(f.Read(0, &count, l, r), kIllegalWordSizeErr);
        EXPECT_EQ(l[0], 9.0);
        count = 4;
        EXPECT_EQ(f.Write(0, &count, d), kIllegalWordSizeErr);
        EXPECT_EQ(f.Write(0, &count, arrays), kIllegalWordSizeErr);
        EXPECT_EQ(f.Add(0, 0, &count, d), kIllegalWordSizeErr);
        EXPECT_EQ(f.CountCalls(Op::Flush), 0u);
    }
    MemorySoundFile g(2, 16, 4);
    float s[4];
    uint32_t count = 4;
    EXPECT_EQ(g.Read(short(2), 0, &count, s), kParamErr);
}

TEST(SampleExtremes, ReportTheLastFrameThatChangedAnExtreme) {
    MemorySoundFile f(2, 16, 0);
    const int16_t frames16[] = {5, -5, 9, 0, 1, -7, 2, 2};
    int32_t mn[2] = {0, 0}, mx[2] = {0, 0};
    EXPECT_EQ(f.GetExtremes16(frames16, 3, mn, mx), 2u);
    EXPECT_EQ(mn[1], -7);
    EXPECT_EQ(mx[0], 9);
    EXPECT_EQ(f.GetExtremes16(frames16, 4, mn, mx), 3u);  // channel 1 reaches 2
    EXPECT_EQ(mx[1], 2);
    EXPECT_EQ(f.GetExtremes16(frames16, 4, mn, mx), 0u);  // nothing changes
    EXPECT_EQ(f.GetExtremes16(frames16, 0, mn, mx), 0u);

    MemorySoundFile m(1, 24, 0);
    const unsigned char packed[] = {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F};
    int32_t lo = 0, hi = 0;
    EXPECT_EQ(m.GetExtremes24L(packed, 2, &lo, &hi), 1u);
    EXPECT_EQ(lo, INT32_MIN);
    EXPECT_EQ(hi, 0x7FFFFF00);
    const uint32_t words[] = {0xFF000001u, 0x00800000u};
    lo = hi = 0;
    EXPECT_EQ(m.GetExtremes24R(words, 2, &lo, &hi), 1u);
    EXPECT_EQ(hi, 256);
    EXPECT_EQ(lo, INT32_MIN);
    const int8_t bytes[] = {3, -4};
    lo = hi = 0;
    EXPECT_EQ(m.GetExtremes8(bytes, 2, &lo, &hi), 1u);
    const int32_t longs[] = {INT32_MAX, 4};
    lo = hi = 0;
    EXPECT_EQ(m.GetExtremes32(longs, 2, &lo, &hi), 0u);
    EXPECT_EQ(hi, INT32_MAX);
}

// ---- Every conversion path against the scalar formulas ------------------------

namespace {

using sampleblocks::Path;

// Runs `check` on every conversion path this machine has, then goes back to the best.
template <class Check>
void OnEveryPath(Check&& check) {
    for (Path path : {Path::kPlain, Path::kSse2, Path::kAvx2}) {
        if (sampleblocks::UsePath(path) != path) continue;
        SCOPED_TRACE(testing::Message() << "path " << static_cast<int>(path));
        check();
    }
    sampleblocks::UsePath(sampleblocks::BestPath());
}

// Where two arrays first differ in their bits, -1 when they do not. `step`
// walks `want` (one channel of interleaved samples).
template <class T>
long FirstDifference(const T* got, const T* want, size_t n, size_t step = 1) {
    for (size_t i = 0; i < n; ++i)
        if (std::memcmp(got + i, want + i * step, sizeof(T)) != 0) return static_cast<long>(i);
    return -1;
}

// Reads all of `f` through the float and double members, interleaved and by
// channel, on every path; each output array starts one element past its
// allocation. `values` holds each stored sample as the scale takes it (the
// left-justified value for 24 bits), interleaved.
void ExpectReadsOnEveryPath(MemorySoundFile& f, const std::vector<int32_t>& values, double scale) {
    const uint32_t n = f.GetNumSFrames();
    const size_t ch = static_cast<size_t>(f.GetNumChannels());
    const size_t total = n * ch;
    ASSERT_EQ(values.size(), total);
    std::vector<float> wantF(total);
    std::vector<double> wantD(total);
    for (size_t i = 0; i < total; ++i) {
        const int32_t v = values[i];
        wantF[i] = scale == kReadScale8
                       ? static_cast<float>(v) * static_cast<float>(kReadScale8)
                       : static_cast<float>(static_cast<double>(static_cast<float>(v)) * scale);
        wantD[i] = static_cast<double>(v) * scale;
    }
    OnEveryPath([&] {
        std::vector<float> gotF(total + 1);
        std::vector<double> gotD(total + 1);
        uint32_t count = n;
        ASSERT_EQ(f.Read(0, &count, gotF.data() + 1), 0);
        EXPECT_EQ(FirstDifference(gotF.data() + 1, wantF.data(), total), -1);
        count = n;
        ASSERT_EQ(f.Read(0, &count, gotD.data() + 1), 0);
        EXPECT_EQ(FirstDifference(gotD.data() + 1, wantD.data(), total), -1);

        std::vector<float*> arrays(ch);
        for (size_t c = 0; c < ch; ++c) arrays[c] = gotF.data() + 1 + c * n;
        count = n;
        ASSERT_EQ(f.Read(0, &count, arrays.data()), 0);
        for (size_t c = 0; c < ch; ++c) {
            EXPECT_EQ(FirstDifference(arrays[c], wantF.data() + c, n, ch), -1) << "channel " << c;
            count = n;
            ASSERT_EQ(f.Read(static_cast<short>(c), 0, &count, gotD.data() + 1), 0);
            EXPECT_EQ(FirstDifference(gotD.data() + 1, wantD.data() + c, n, ch), -1) << "channel " << c;
        }
        float* left = gotF.data() + 1;
        float* right = left + n;
        count = n;
        ASSERT_EQ(f.Read(0, &count, left, right), 0);
        EXPECT_EQ(FirstDifference(left, wantF.data(), n, ch), -1);
        EXPECT_EQ(FirstDifference(right, wantF.data() + ch - 1, n, ch), -1);
    });
}

// A three-channel file of the given samples (the last frame filled up with 0),
// read back in blocks of an odd number of frames.
std::unique_ptr<MemorySoundFile> ThreeChannelsWith(short wordSize, std::vector<int32_t>& stored,
                                                   short dataType = kDataTypePCM) {
    stored.resize((stored.size() + 2) / 3 * 3, 0);
    const uint32_t frames = static_cast<uint32_t>(stored.size() / 3);
    auto f = std::make_unique<MemorySoundFile>(3, wordSize, frames, 44100.0, dataType);
    for (uint32_t i = 0; i < frames; ++i)
        for (uint32_t c = 0; c < 3; ++c) f->SetSample(i, c, stored[3 * i + c]);
    f->SetSFTBufferSize(4093);
    return f;
}

}  // namespace

TEST(SampleBlocks, EveryEightSixteenAndTwentyFourBitValueReadsAsTheScalarFormula) {
    std::vector<int32_t> stored, values;
    for (int32_t v = -128; v < 128; ++v) stored.push_back(v);
    auto f8 = ThreeChannelsWith(8, stored);
    ExpectReadsOnEveryPath(*f8, stored, kReadScale8);

    stored.clear();
    for (int32_t v = -32768; v < 32768; ++v) stored.push_back(v);
    auto f16 = ThreeChannelsWith(16, stored);
    ExpectReadsOnEveryPath(*f16, stored, kReadScale16);

    // All 2^24 values, a quarter at a time.
    constexpr int32_t kQuarter = 1 << 22;
    for (int32_t first = -(1 << 23); first < (1 << 23); first += kQuarter) {
        stored.resize(kQuarter);
        for (int32_t i = 0; i < kQuarter; ++i) stored[i] = first + i;
        auto f24 = ThreeChannelsWith(24, stored);
        values.resize(stored.size());
        for (size_t i = 0; i < stored.size(); ++i)
            values[i] = static_cast<int32_t>(static_cast<uint32_t>(stored[i]) << 8);
        ExpectReadsOnEveryPath(*f24, values, kReadScale32);
        if (HasFailure()) break;
    }
}

TEST(SampleBlocks, ThirtyTwoBitWordsReadAsTheScalarFormula) {
    // The ends, neighbours of single-precision rounding ties, and random words.
    std::vector<int32_t> stored = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX, INT32_MAX - 64,
                                   0x12345580, 0x12345590, 0x123455A0, 0x01000001, -0x01000003};
    uint32_t state = 12345;
    while (stored.size() < (1u << 18)) {
        state = state * 1664525u + 1013904223u;
        stored.push_back(static_cast<int32_t>(state ^ (state >> 13)));
    }
    auto f32 = ThreeChannelsWith(32, stored);
    ExpectReadsOnEveryPath(*f32, stored, kReadScale32);
    // The same words as 24-bit samples in their low three bytes.
    auto f24 = ThreeChannelsWith(32, stored, kDataType24In32);
    std::vector<int32_t> values(stored.size());
    for (size_t i = 0; i < stored.size(); ++i)
        values[i] = static_cast<int32_t>(static_cast<uint32_t>(stored[i]) << 8);
    ExpectReadsOnEveryPath(*f24, values, kReadScale32);
}

TEST(SampleBlocks, SixteenAndTwentyFourBitWritesMatchTheScalarFormula) {
    const double limit16 = kWriteLimit16;
    const double edges[] = {1.0, -1.0, limit16, std::nextafter(limit16, 2.0), std::nextafter(limit16, 0.0),
                            std::nextafter(1.0, 2.0), std::nextafter(1.0, 0.0), std::nextafter(-1.0, -2.0),
                            std::nextafter(-1.0, 0.0), 32767.0 / 32768.0, std::nextafter(32767.0 / 32768.0, 0.0),
                            -32767.0 / 32768.0, 0.5 / 32768.0, -0.5 / 32768.0, 1.0 / 32768.0,
                            std::nextafter(1.0 / 32768.0, 0.0), 8388607.0 / 8388608.0, 0x1p-23, -0x1p-23,
                            std::nextafter(0x1p-23, 0.0), -std::nextafter(0x1p-23, 0.0), 0.0, -0.0,
                            std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(),
                            std::numeric_limits<double>::min(), std::numeric_limits<double>::max(),
                            -std::numeric_limits<double>::max(), kInf, -kInf, kNaN, -kNaN,
                            std::numeric_limits<double>::signaling_NaN(), 2.0, -1.5, 1e300};
    // Every edge in every lane and in the tails, then uniform and arbitrary bits.
    std::vector<double> in;
    for (int shift = 0; shift < 9; ++shift) {
        for (int i = 0; i < shift; ++i) in.push_back(0.25);
        in.insert(in.end(), std::begin(edges), std::end(edges));
    }
    uint64_t state = 99;
    for (int i = 0; i < (1 << 18); ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        double bits;
        const uint64_t word = state ^ (state >> 29);
        std::memcpy(&bits, &word, 8);
        in.push_back(i % 4 == 3 ? bits : (static_cast<double>(word >> 11) * 0x1p-53 - 0.5) * 2.5);
    }
    in.resize(in.size() / 3 * 3 + 1);  // a last frame of one sample is dropped below

    for (const short wordSize : {short(16), short(24)}) {
        SCOPED_TRACE(testing::Message() << wordSize << "-bit");
        const size_t total = in.size() / 3 * 3;
        const double hi = wordSize == 16 ? limit16 : 1.0;
        std::vector<double> clipped(total);
        std::vector<unsigned char> bytes;
        for (size_t i = 0; i < total; ++i) {
            double c = in[i];
            if (c < -1.0) c = -1.0;
            if (c > hi) c = hi;
            clipped[i] = c;
            if (wordSize == 16) {
                const int16_t s = c != c ? 0 : static_cast<int16_t>(static_cast<int32_t>(c * 32768.0));
                bytes.push_back(static_cast<unsigned char>(s));
                bytes.push_back(static_cast<unsigned char>(s >> 8));
            } else {
                const int32_t w = c != c ? 0 : static_cast<int32_t>(std::min(c * 8388608.0, 8388607.0));
                for (int b = 0; b < 3; ++b) bytes.push_back(static_cast<unsigned char>(w >> (8 * b)));
            }
        }
        OnEveryPath([&] {
            // The caller's array one element past its allocation's start.
            std::vector<double> x(in.size() + 1);
            std::copy(in.begin(), in.end(), x.begin() + 1);
            MemorySoundFile f(3, wordSize, 0);
            f.SetDither(0);
            f.SetSFTBufferSize(4093);
            uint32_t count = static_cast<uint32_t>(total / 3);
            ASSERT_EQ(f.Write(0, &count, x.data() + 1), 0);
            EXPECT_EQ(f.samples, bytes);
            EXPECT_EQ(FirstDifference(x.data() + 1, clipped.data(), total), -1);
            EXPECT_EQ(std::memcmp(&x[total + 1], &in[total], 8), 0);  // beyond the frames: untouched
            // Short writes: every tail length on its own.
            for (uint32_t frames = 1; frames <= 17; ++frames) {
                std::vector<double> y(in.begin() + 7, in.begin() + 7 + frames);
                MemorySoundFile g(1, wordSize, 0);
                g.SetDither(0);
                count = frames;
                ASSERT_EQ(g.Write(0, &count, y.data()), 0);
                const size_t width = wordSize / 8;
                EXPECT_TRUE(std::equal(g.samples.begin(), g.samples.end(), bytes.begin() + 7 * width))
                    << frames << " frames";
                EXPECT_EQ(FirstDifference(y.data(), clipped.data() + 7, frames), -1) << frames << " frames";
            }
        });
    }
}
