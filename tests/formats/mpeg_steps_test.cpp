// The Layer I and II coding steps on their own: scale-factor selection over
// every pair of difference classes, quantisation at and beyond full scale for
// every allocation index of both layers, the frame's samples with Layer I's
// carry-over, and two encodings interleaved on one thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "formats/mpeg/mpeg_layer1.h"
#include "formats/mpeg/mpeg_layer2.h"
#include "formats/mpeg/mpeg_stream_encoder.h"
#include "formats/mpeg/mpeg_subband.h"
#include "test_support.h"

using namespace mpeg;

namespace {

int ClassOf(int d) {
    return d <= -3 ? 0 : d < 0 ? 1 : d == 0 ? 2 : d < 3 ? 3 : 4;
}

TEST(MPEGSteps, TransmissionPatternOverEveryClassPair) {
    // Selection by the classes of s0 - s1 (rows) and s1 - s2 (columns).
    constexpr unsigned kSelection[5][5] = {
        {0, 3, 3, 3, 0}, {1, 2, 2, 2, 1}, {2, 2, 2, 2, 1}, {2, 2, 2, 2, 0}, {0, 3, 3, 3, 0}};
    // Parts that share one sent scale factor, by selection.
    const std::vector<std::vector<int>> kGroups[4] = {
        {{0}, {1}, {2}}, {{0, 1}, {2}}, {{0, 1, 2}}, {{0}, {1, 2}}};
    frame_params f;
    f.stereo = 1;
    f.sblimit = 1;
    for (int d1 = -5; d1 <= 5; ++d1)
        for (int d2 = -5; d2 <= 5; ++d2) {
            SCOPED_TRACE(testing::Message() << "d1 " << d1 << " d2 " << d2);
            const unsigned before[3] = {unsigned(30 + d1), 30u, unsigned(30 - d2)};
            ScaleIndexes scalar[2] = {};
            PerBand scfsi[2] = {};
            for (int p = 0; p < 3; ++p) scalar[0][p][0] = before[p];
            II_transmission_pattern(scalar, scfsi, f);
            const unsigned sel = scfsi[0][0];
            EXPECT_EQ(sel, kSelection[ClassOf(d1)][ClassOf(d2)]);
            // A shared factor is the largest (smallest index) of the parts it
            // covers, so no sample exceeds its factor; a factor sent alone stays.
            for (const std::vector<int>& group : kGroups[sel]) {
                unsigned smallest = 63;
                for (int p : group) smallest = std::min(smallest, before[p]);
                for (int p : group) EXPECT_EQ(scalar[0][p][0], smallest) << "part " << p;
            }
        }
}

// Rows of a subband's samples, as multiples of its scale factor, and the code
// each must give: full scale, beyond it, and zero.
struct Row {
    double times;
    enum Code { kTop, kBottom, kMiddle } code;
};
constexpr Row kRows[] = {{1.0, Row::kTop},     {-1.0, Row::kBottom}, {0.0, Row::kMiddle},
                         {1.5, Row::kTop},     {-1.5, Row::kBottom}, {8.0, Row::kTop},
                         {-8.0, Row::kBottom}, {1.0, Row::kTop},     {-1.0, Row::kBottom},
                         {0.0, Row::kMiddle},  {1.0, Row::kTop},     {-1.0, Row::kBottom}};

unsigned Expected(Row::Code code, uint32_t steps) {
    return code == Row::kTop ? steps - 1 : code == Row::kBottom ? 0 : (steps - 1) / 2;
}

TEST(MPEGSteps, LayerIQuantisesFullScaleWithinRangeAtEveryAllocation) {
    auto w = std::make_unique<FrameArrays>();
    frame_params f;
    f.stereo = 1;
    const unsigned index = 10;
    for (unsigned ba = 1; ba <= 14; ++ba) {
        SCOPED_TRACE(testing::Message() << "allocation " << ba);
        *w = FrameArrays{};
        const int sb = static_cast<int>(ba) + 3;
        w->bit_alloc[0][sb] = ba;
        w->scalar[0][0][sb] = index;
        for (int j = 0; j < 12; ++j) w->sb_sample[0][0][j][sb] = kRows[j].times * multiple[index];
        I_subband_quantization(w->scalar, w->sb_sample, w->j_scale[0], w->j_sample[0], w->bit_alloc,
                               w->sbband, f);
        const uint32_t steps = (2u << ba) - 1;
        for (int j = 0; j < 12; ++j)
            EXPECT_EQ(w->sbband[0][0][j][sb], Expected(kRows[j].code, steps)) << "row " << j;
    }
}

TEST(MPEGSteps, LayerIIQuantisesFullScaleWithinRangeAtEveryAllocation) {
    // One header per allocation table (0 to 3).
    struct Table {
        long rate;
        int mode, kbps;
    } tables[] = {{44100, 0, 128}, {44100, 0, 192}, {44100, kMonoMode, 32}, {32000, kMonoMode, 32}};
    auto w = std::make_unique<FrameArrays>();
    for (const Table& t : tables) {
        MPEGEncoder enc;
        int version = 1;
        enc.info.lay = 2;
        enc.info.mode = t.mode;
        enc.info.sampling_frequency = SmpFrqIndex(t.rate, &version);
        enc.info.bitrate_index = 0;
        while (bitrate[1][1][enc.info.bitrate_index] != t.kbps) ++enc.info.bitrate_index;
        enc.hdr_to_frps(&enc.fr_ps);
        frame_params f = enc.fr_ps;
        f.stereo = 1;
        f.jsbound = f.sblimit;
        const al_table& alloc = *f.alloc;
        for (int sb = 0; sb < f.sblimit; ++sb)
            for (unsigned ba = 1; ba < (1u << alloc[sb][0].bits); ++ba) {
                SCOPED_TRACE(testing::Message()
                             << "table " << f.tab_num << " subband " << sb << " allocation " << ba);
                const uint32_t steps = alloc[sb][ba].steps;
                ASSERT_GE(steps, 3u);
                *w = FrameArrays{};
                w->bit_alloc[0][sb] = ba;
                const unsigned index = 3 + 7 * (ba % 3);
                for (int p = 0; p < 3; ++p) {
                    w->scalar[0][p][sb] = index + p;
                    for (int j = 0; j < 12; ++j)
                        w->sb_sample[0][p][j][sb] = kRows[j].times * multiple[index + p];
                }
                II_subband_quantization(w->scalar, w->sb_sample, w->j_scale[0], w->j_sample[0],
                                        w->bit_alloc, w->sbband, f);
                for (int p = 0; p < 3; ++p)
                    for (int j = 0; j < 12; ++j)
                        ASSERT_EQ(w->sbband[0][p][j][sb], Expected(kRows[j].code, steps))
                            << "part " << p << " row " << j;
            }
    }
}

TEST(MPEGSteps, FrameSamplesCarryLayerIsLast64AndEndInZeros) {
    layer layerI, layerII;
    layerI.lay = 1;
    layerII.lay = 2;
    auto w = std::make_unique<FrameArrays>();
    std::vector<int16_t> values(2 * 384 + 2 * 100);
    for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<int16_t>(i + 1);
    SampleInput input{values.data(), static_cast<uint32_t>(values.size())};
    ASSERT_EQ(get_audio(input, w->buffer, 2, layerI), 768u);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(w->buffer[0][i], 0);  // a file starts with 64 zeros
    EXPECT_EQ(w->buffer[0][64], 1);
    EXPECT_EQ(w->buffer[1][64], 2);
    EXPECT_EQ(w->buffer[1][447], 768);
    // The next frame: 100 sample frames, the previous frame's last 64 first,
    // zeros after the end.
    ASSERT_EQ(get_audio(input, w->buffer, 2, layerI), 768u);
    EXPECT_EQ(w->buffer[0][0], values[2 * 320]);
    EXPECT_EQ(w->buffer[1][63], values[2 * 383 + 1]);
    EXPECT_EQ(w->buffer[0][64], values[768]);
    EXPECT_EQ(w->buffer[1][163], values[967]);
    for (int i = 164; i < 448; ++i) EXPECT_EQ(w->buffer[0][i] | w->buffer[1][i], 0) << i;
    EXPECT_EQ(input.read_samples, 0u);
    EXPECT_EQ(get_audio(input, w->buffer, 2, layerI), 0u);

    // Layer II mono: 1152 samples, no carry-over.
    std::vector<int16_t> single(1000);
    for (size_t i = 0; i < single.size(); ++i) single[i] = static_cast<int16_t>(i + 1);
    SampleInput mono{single.data(), 1000};
    ASSERT_EQ(get_audio(mono, w->buffer, 1, layerII), 1152u);
    EXPECT_EQ(w->buffer[0][0], 1);
    EXPECT_EQ(w->buffer[0][999], 1000);
    EXPECT_EQ(w->buffer[0][1000], 0);
}

TEST(MPEGSteps, TwoEncodingsInterleavedMatchEachAlone) {
    testsupport::TempDir dir;
    std::vector<int16_t> a(2 * 9000), b(9000);
    for (size_t i = 0; i < b.size(); ++i) {
        a[2 * i] = static_cast<int16_t>(8000 * std::sin(i * 0.03));
        a[2 * i + 1] = static_cast<int16_t>(6000 * std::sin(i * 0.21));
        b[i] = static_cast<int16_t>(9000 * std::sin(i * 0.11));
    }
    MPEGStreamEncoder::Settings sa, sb;
    sa.lay = 2, sa.channels = 2, sa.sampleRate = 48000, sa.kbps = 128, sa.jointStereo = true;
    sb.lay = 1, sb.channels = 1, sb.sampleRate = 44100, sb.kbps = 192;
    auto alone = [&](const std::string& path, const MPEGStreamEncoder::Settings& s,
                     const std::vector<int16_t>& samples) {
        MPEGStreamEncoder e;
        EXPECT_EQ(e.Begin(path, s), 0);
        EXPECT_EQ(e.Encode(samples.data(), 9000), 0);
        EXPECT_EQ(e.Finish(), 0);
        return testsupport::ReadFile(path);
    };
    const std::string expectA = alone(dir / "a1", sa, a), expectB = alone(dir / "b1", sb, b);
    MPEGStreamEncoder ea, eb;
    ASSERT_EQ(ea.Begin(dir / "a2", sa), 0);
    ASSERT_EQ(eb.Begin(dir / "b2", sb), 0);
    for (uint32_t at = 0; at < 9000; at += 500) {
        ASSERT_EQ(ea.Encode(a.data() + 2 * at, 500), 0);
        ASSERT_EQ(eb.Encode(b.data() + at, 500), 0);
    }
    ASSERT_EQ(ea.Finish(), 0);
    ASSERT_EQ(eb.Finish(), 0);
    EXPECT_EQ(testsupport::ReadFile(dir / "a2"), expectA);
    EXPECT_EQ(testsupport::ReadFile(dir / "b2"), expectB);
}

}  // namespace
