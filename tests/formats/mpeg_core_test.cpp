// The MPEG encoder core: frame header bytes, the table invariants of the
// standard, the bit writer against a small reference reader, and the
// psychoacoustic model on silence, tones, two rates and two threads.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "formats/mpeg/mpeg_coding_state.h"
#include "formats/mpeg/mpeg_stream_encoder.h"
#include "soundfile/sound_file.h"
#include "test_support.h"

using namespace mpeg;

namespace {

std::string HeaderBytes(const layer& info, const std::string& path) {
    MPEGEncoder enc;
    enc.info = info;
    EXPECT_EQ(open_bit_stream_w(&enc.bs, path, 4096), 0);
    encode_info(&enc.fr_ps, &enc.bs);
    EXPECT_EQ(sstell(&enc.bs), 32);
    close_bit_stream_w(&enc.bs);
    EXPECT_EQ(enc.errors.gMPEGDiskErr, 0);
    return testsupport::ReadFile(path);
}

TEST(MPEGCore, HeaderOfJointStereoLayerIIFrame) {
    testsupport::TempDir dir;
    layer info;
    info.lay = 2;
    info.bitrate_index = 10;  // 192 kbit/s
    info.sampling_frequency = 0;
    info.mode = kJointStereoMode;
    info.mode_ext = 1;
    EXPECT_EQ(HeaderBytes(info, dir / "a.mp2"), std::string("\xFF\xFD\xA0\x50", 4));
    info.padding = 1;
    EXPECT_EQ(HeaderBytes(info, dir / "b.mp2"), std::string("\xFF\xFD\xA2\x50", 4));
}

// A container's header goes through its writer, at the start of the output,
// before the first frame: the frames follow it and count it as written. A
// writer's failure ends the start with its status.
TEST(MPEGCore, AHeaderWriterPutsItsBytesBeforeTheFrames) {
    testsupport::TempDir dir;
    MPEGStreamEncoder::Settings settings;
    settings.channels = 1;
    settings.kbps = 128;
    const std::string header(40, 'H');
    std::string plain;
    {
        MPEGStreamEncoder encoder;
        ASSERT_EQ(encoder.Begin(dir / "plain.mp2", settings), 0);
        const std::vector<int16_t> silence(1152 * 3, 0);
        ASSERT_EQ(encoder.Encode(silence.data(), 1152 * 3), 0);
        ASSERT_EQ(encoder.Finish(), 0);
        plain = testsupport::ReadFile(dir / "plain.mp2");
    }
    MPEGStreamEncoder encoder;
    const auto write = [&header](int fd) {
        return ::pwrite(fd, header.data(), header.size(), 0) == ssize_t(header.size()) ? 0 : -36;
    };
    ASSERT_EQ(encoder.Begin(dir / "headed.mp2", settings, header.size(), write), 0);
    const std::vector<int16_t> silence(1152 * 3, 0);
    ASSERT_EQ(encoder.Encode(silence.data(), 1152 * 3), 0);
    ASSERT_EQ(encoder.Finish(), 0);
    EXPECT_EQ(encoder.BytesWritten(), int64_t(header.size() + plain.size()));
    EXPECT_EQ(testsupport::ReadFile(dir / "headed.mp2"), header + plain);

    MPEGStreamEncoder refused;
    EXPECT_EQ(refused.Begin(dir / "refused.mp2", settings, header.size(), [](int) { return -34; }),
              -34);
}

TEST(MPEGCore, PickTableExamples) {
    struct Case {
        int rate, mode, kbps, table, sblimit;
    } cases[] = {
        {44100, 0, 128, 0, 27}, {48000, 0, 192, 0, 27}, {44100, 0, 192, 1, 30},
        {44100, 3, 32, 2, 8},   {44100, 3, 48, 2, 8},   {32000, 3, 32, 3, 12},
    };
    MPEGEncoder enc;  // one object: the table is reloaded only when its number changes
    for (const Case& c : cases) {
        int version = -1;
        enc.info.lay = 2;
        enc.info.mode = c.mode;
        enc.info.sampling_frequency = SmpFrqIndex(c.rate, &version);
        enc.info.version = version;
        for (int i = 0; i < 15; ++i)
            if (bitrate[1][1][i] == c.kbps) enc.info.bitrate_index = i;
        enc.hdr_to_frps(&enc.fr_ps);
        EXPECT_EQ(enc.fr_ps.tab_num, c.table) << c.rate << " " << c.kbps;
        EXPECT_EQ(enc.fr_ps.sblimit, c.sblimit);
        EXPECT_EQ(enc.fr_ps.jsbound, c.sblimit);
        EXPECT_EQ(enc.fr_ps.stereo, c.mode == 3 ? 1 : 2);
        ASSERT_NE(enc.fr_ps.alloc, nullptr);
        EXPECT_EQ((*enc.fr_ps.alloc)[0][0].bits, 4u);
    }
    EXPECT_EQ(enc.errors.gMPEGMemErr, 0);
}

TEST(MPEGCore, SampleRatesAndJointBound) {
    int version = 7;
    EXPECT_EQ(SmpFrqIndex(11025, &version), -1);
    EXPECT_EQ(version, 7);
    EXPECT_EQ(SmpFrqIndex(24000, &version), 1);
    EXPECT_EQ(version, 0);
    EXPECT_EQ(SmpFrqIndex(32000, &version), 2);
    EXPECT_EQ(version, 1);
    EXPECT_EQ(js_bound(2, 0), 4);
    EXPECT_EQ(js_bound(2, 3), 16);
}

TEST(MPEGCore, LayerIFrameSizesAt384) {
    layer info;
    info.lay = 1;
    info.bitrate_index = 12;  // 384 kbit/s
    const double slots = AverageSlotsPerFrame(info);
    EXPECT_NEAR(slots, 104.49, 0.005);
    EXPECT_EQ(static_cast<int>(slots) * BytesPerSlot(info), 416);
    EXPECT_EQ((static_cast<int>(slots) + 1) * BytesPerSlot(info), 420);
}

// ---- Table invariants ---------------------------------------------------------

std::vector<int> MenuTags(const char* type) {
    std::vector<int> tags;
    const auto& typeTable = CSoundFile::GetFileTypeInfo();
    const auto it = typeTable.find(type);
    if (it == typeTable.end() || !it->second.dict()) return tags;
    const plist::Value* menu = it->second.find("numBitsPopup");
    if (!menu || !menu->array()) return tags;
    for (const plist::Value& item : *menu->array())
        if (const plist::Value* tag = item.find("tag")) tags.push_back(int(tag->asInteger()));
    return tags;
}

TEST(MPEGCore, TablesKeepTheirInvariants) {
    // The bit-rate rows are the menus of the type table.
    const std::vector<int> layer1(bitrate[1][0] + 1, bitrate[1][0] + 15);
    const std::vector<int> layer2(bitrate[1][1] + 1, bitrate[1][1] + 15);
    EXPECT_EQ(MenuTags("'MPG1'"), layer1);
    EXPECT_EQ(MenuTags("'MPG2'"), layer2);
    EXPECT_EQ(MenuTags("'BWMP'"), layer2);

    struct Alloc {
        const StoredAllocTable* table;
        int rows, limit;
    } allocs[] = {{&alloc_0, 288, 27}, {&alloc_1, 300, 30}, {&alloc_2, 80, 8}, {&alloc_3, 112, 12}};
    for (const Alloc& a : allocs) {
        SCOPED_TRACE(a.rows);
        EXPECT_EQ(a.table->rowCount, a.rows);
        EXPECT_EQ(a.table->sblimit, a.limit);
        int r = 0;
        for (int sb = 0; sb < a.limit; ++sb) {
            const uint16_t* head = a.table->rows[r];
            ASSERT_EQ(head[0], sb);
            ASSERT_EQ(head[1], 0);
            const int entries = 1 << head[3];
            int lastSteps = 0;
            for (int i = 1; i < entries; ++i) {
                const uint16_t* row = a.table->rows[r + i];
                ASSERT_EQ(row[0], sb);
                ASSERT_EQ(row[1], i);
                const int steps = row[2], bits = row[3], group = row[4];
                EXPECT_GT(steps, lastSteps);
                lastSteps = steps;
                if (group == 3) {
                    EXPECT_EQ(steps, (1 << bits) - 1) << sb << " " << i;
                } else {
                    ASSERT_EQ(group, 1);
                    EXPECT_TRUE((steps == 3 && bits == 5) || (steps == 5 && bits == 7) ||
                                (steps == 9 && bits == 10))
                        << steps << " in " << bits;
                }
            }
            r += entries;
        }
        EXPECT_EQ(r, a.rows);
    }

    for (int i = 1; i < 63; ++i) {  // printed to 14 decimals
        EXPECT_NEAR(multiple[i - 1] / multiple[i], std::cbrt(2.0), 1e-7);
        EXPECT_NEAR(multiple[i], 2.0 * std::pow(2.0, -i / 3.0), 5.1e-15);
    }
    EXPECT_EQ(multiple[0], 2.0);

    for (int i = 1; i < 256; ++i) EXPECT_EQ(std::fabs(enwindow[256 + i]), std::fabs(enwindow[256 - i])) << i;
    for (int i = 0; i < 512; ++i)  // each coefficient a whole multiple of 2^-21 to nine decimals
        EXPECT_NEAR(enwindow[i] * 2097152.0, std::round(enwindow[i] * 2097152.0), 0.002) << i;

    const float* abs[3] = {absthr_0, absthr_1, absthr_2};
    const double rates[3] = {32000, 44100, 48000};
    for (int t = 0; t < 3; ++t) {
        EXPECT_EQ(abs[t][0], float(t));
        EXPECT_NEAR(abs[t][HBLKSIZE] / 60776765194240.0, 1.0, 1e-6);
        for (int i = 0; i < HBLKSIZE - 1; ++i) {  // the threshold in quiet, line by line
            const double f = (i + 1) * rates[t] / 1024 / 1000;
            double db = 3.64 * std::pow(f, -0.8) - 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) +
                        1e-3 * std::pow(f, 4);
            db = std::min(std::round(db * 100) / 100, 96.0);
            EXPECT_NEAR(abs[t][1 + i] / (60776765194240.0 * std::pow(10, (db - 96) / 10)), 1.0, 1e-6);
        }
    }
}

// ---- Bit writer ----------------------------------------------------------------

// Reads n bits most significant first.
struct BitReader {
    const std::string& bytes;
    size_t bit = 0;
    uint32_t Get(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit)
            v = (v << 1) | ((static_cast<uint8_t>(bytes[bit / 8]) >> (7 - bit % 8)) & 1);
        return v;
    }
};

TEST(MPEGCore, WriterPutsBitsMostSignificantFirst) {
    testsupport::TempDir dir;
    MPEGErrors errors;
    {
        bit_stream_struc bs(&errors);
        ASSERT_EQ(open_bit_stream_w(&bs, dir / "x", 4096), 0);
        putbits(&bs, 0x5, 3);
        putbits(&bs, 0xABCD, 16);  // across two byte boundaries
        put1bit(&bs, 3);           // the lowest bit only
        putbits(&bs, 0xFFFF, 33);  // refused
        EXPECT_EQ(sstell(&bs), 20);
        close_bit_stream_w(&bs);
    }
    // 101 1010101111001101 1 -> 1011 0101 0111 1001 1011 (0000)
    EXPECT_EQ(testsupport::ReadFile(dir / "x"), std::string("\xB5\x79\xB0", 3));
    EXPECT_EQ(errors.gMPEGDiskErr, 0);
}

TEST(MPEGCore, WriterRandomSequencesReadBack) {
    testsupport::TempDir dir;
    std::mt19937 random(23);
    for (int round = 0; round < 20; ++round) {
        MPEGErrors errors;
        std::vector<std::pair<uint32_t, int>> puts;
        const std::string path = dir / ("r" + std::to_string(round));
        {
            bit_stream_struc bs(&errors);
            ASSERT_EQ(open_bit_stream_w(&bs, path, 1 + int(random() % 64)), 0);
            const int count = int(random() % 3000);
            for (int i = 0; i < count; ++i) {
                const int n = 1 + int(random() % 32);
                const uint32_t v = static_cast<uint32_t>(random());
                puts.emplace_back(v, n);
                putbits(&bs, v, n);
            }
            close_bit_stream_w(&bs);
        }
        const std::string bytes = testsupport::ReadFile(path);
        int64_t bits = 0;
        for (auto& p : puts) bits += p.second;
        ASSERT_EQ(int64_t(bytes.size()), (bits + 7) / 8);  // ends right after the last bit
        BitReader reader{bytes};
        for (auto& [v, n] : puts)
            ASSERT_EQ(reader.Get(n), n == 32 ? v : v & ((1u << n) - 1));
        EXPECT_EQ(errors.gMPEGDiskErr, 0);
    }
}

TEST(MPEGCore, FailuresSetTheFlags) {
    MPEGErrors errors;
    {
        bit_stream_struc bs(&errors);
        ASSERT_EQ(open_bit_stream_w(&bs, "/dev/full", 16), 0);
        for (int i = 0; i < 100; ++i) putbits(&bs, 0xFFFF, 16);
        close_bit_stream_w(&bs);
    }
    EXPECT_EQ(errors.gMPEGDiskErr, 1);
    EXPECT_EQ(errors.gMPEGMemErr, 0);

    MPEGErrors small;
    {  // only the bytes left at the close fail
        bit_stream_struc bs(&small);
        ASSERT_EQ(open_bit_stream_w(&bs, "/dev/full", 4096), 0);
        putbits(&bs, 1, 8);
        close_bit_stream_w(&bs);
    }
    EXPECT_EQ(small.gMPEGDiskErr, 1);

    MPEGErrors open;
    bit_stream_struc bs(&open);
    EXPECT_EQ(open_bit_stream_w(&bs, "/nonexistent/folder/x.mp2", 4096), kMPEGOpenOutputErr);
    close_bit_stream_w(&bs);

    MPEGErrors memory;
    void* block = memory.mem_alloc(kMaxEncoderBlock + 1, "too much");
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(memory.gMPEGMemErr, 1);
    static_assert(sizeof(sstell(&bs)) == 8, "bit count is 64 bits wide");
}

// ---- Psychoacoustic model 2 ------------------------------------------------------

// SMRs of `frames` Layer II frames of one channel.
std::vector<float> Layer2SMRs(MPEGEncoder& enc, const std::vector<int16_t>& samples, double rate) {
    std::vector<float> out;
    std::vector<int16_t> history(kPsyHistory, 0);
    float smr[SBLIMIT];
    for (size_t start = 0; start + 1152 <= samples.size(); start += 1152) {
        enc.psy.psycho_anal(samples.data() + start, history.data(), 0, 2, smr, rate);
        out.insert(out.end(), smr, smr + SBLIMIT);
    }
    return out;
}

std::vector<int16_t> Tone(double hz, double rate, int count, double amplitude = 16000) {
    std::vector<int16_t> s(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        s[i] = static_cast<int16_t>(amplitude * std::sin(2 * M_PI * hz * i / rate));
    return s;
}

TEST(MPEGPsycho, SilenceHasFlooredEnergiesAndFiniteRatios) {
    MPEGEncoder enc;
    const std::vector<float> smr = Layer2SMRs(enc, std::vector<int16_t>(1152 * 2, 0), 44100);
    for (float v : smr) EXPECT_TRUE(std::isfinite(v));
    const auto* w = enc.psy.work();
    ASSERT_NE(w, nullptr);
    for (int i = 0; i < 512; ++i) ASSERT_EQ(w->energy[i], 0.0005f) << i;
    for (int i = 512; i < 1024; ++i) ASSERT_EQ(w->energy[i], 0.0f) << i;

    MPEGEncoder layer1;
    std::vector<int16_t> history(kPsyHistory, 0), zeros(448, 0);
    float smr1[SBLIMIT];
    layer1.psy.psycho_anal(zeros.data(), history.data(), 0, 1, smr1, 48000);
    for (float v : smr1) EXPECT_TRUE(std::isfinite(v));
}

TEST(MPEGPsycho, ToneHasItsLargestRatioInItsSubband) {
    for (double rate : {32000.0, 44100.0, 48000.0}) {
        for (double hz : {440.0, 3000.0, 9000.0}) {
            MPEGEncoder enc;
            const std::vector<float> smr = Layer2SMRs(enc, Tone(hz, rate, 1152 * 4), rate);
            const float* last = smr.data() + smr.size() - SBLIMIT;
            int best = 0;
            for (int sb = 1; sb < SBLIMIT; ++sb)
                if (last[sb] > last[best]) best = sb;
            EXPECT_EQ(best, int(hz / (rate / 2 / SBLIMIT))) << rate << " Hz rate, tone " << hz;
        }
    }
}

TEST(MPEGPsycho, EachFileUsesItsOwnRate) {
    const std::vector<int16_t> tone = Tone(1000, 32000, 1152 * 3);
    MPEGEncoder fresh;
    const std::vector<float> alone = Layer2SMRs(fresh, tone, 32000);

    MPEGEncoder enc;
    Layer2SMRs(enc, Tone(1000, 44100, 1152 * 3), 44100);
    EXPECT_EQ(enc.psy.sfreq_idx, 1);
    enc.psy.gPsyInitDone = false;  // the next file
    EXPECT_EQ(Layer2SMRs(enc, tone, 32000), alone);
    EXPECT_EQ(enc.psy.sfreq_idx, 0);
    EXPECT_EQ(enc.psy.work()->absthr[5], absthr_0[6]);

    enc.psy.gPsyInitDone = false;  // a rate without a table keeps the last one
    Layer2SMRs(enc, tone, 22050);
    EXPECT_EQ(enc.psy.sfreq_idx, 0);
}

TEST(MPEGPsycho, TwoObjectsOnTwoThreadsMatchOneAfterTheOther) {
    const std::vector<int16_t> a = Tone(700, 44100, 1152 * 20);
    const std::vector<int16_t> b = Tone(5000, 48000, 1152 * 20, 3000);
    MPEGEncoder sa, sb;
    const std::vector<float> expectA = Layer2SMRs(sa, a, 44100);
    const std::vector<float> expectB = Layer2SMRs(sb, b, 48000);
    std::vector<float> gotA, gotB;
    std::thread ta([&] { MPEGEncoder e; gotA = Layer2SMRs(e, a, 44100); });
    std::thread tb([&] { MPEGEncoder e; gotB = Layer2SMRs(e, b, 48000); });
    ta.join();
    tb.join();
    EXPECT_EQ(gotA, expectA);
    EXPECT_EQ(gotB, expectB);
}

}  // namespace
