// The companded and float WAVE classes: the layout they write, what they accept
// on read, and the coding of their samples.
#include "formats/pcm/wave_variants.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "formats/g711.h"
#include "test_support.h"
#include "wave_test_support.h"

using namespace wavetest;
using testsupport::ReadFile;

namespace {

std::string FloatLE(float f) { return LE32(std::bit_cast<uint32_t>(f)); }

float FloatAt(const std::string& file, size_t at) {
    return std::bit_cast<float>(LoadLE32(reinterpret_cast<const uint8_t*>(file.data()) + at));
}

// The 18-byte format chunk of a companded file and its 'fact' chunk.
std::string CompandedHeader(uint16_t tag, int16_t channels, int32_t rate, uint32_t frames) {
    const uint32_t c = static_cast<uint16_t>(channels);
    return Chunk("fmt ", LE16(tag) + LE16(static_cast<uint16_t>(c)) + LE32(static_cast<uint32_t>(rate)) +
                             LE32(c * static_cast<uint32_t>(rate)) + LE16(static_cast<uint16_t>(c)) + LE16(8) +
                             LE16(0)) +
           Chunk("fact", LE32(frames));
}

class WaveVariantsTest : public FileTest {
protected:
    template <class T>
    std::unique_ptr<T> Opened(const std::string& path, OSErr expected = 0) {
        auto f = std::make_unique<T>();
        EXPECT_EQ(f->ISoundFile(path), 0);
        EXPECT_EQ(f->Open(), expected) << path;
        return f;
    }
    // Creates a file of the class with the samples in the buffer form and closes it.
    template <class T>
    std::string Written(const std::string& name, short channels, short askedBits,
                        const std::vector<uint8_t>& bytes,
                        CSoundFile::ChannelConfiguration configuration = CSoundFile::kNotSet) {
        T w;
        EXPECT_EQ(w.ISoundFile(dir / name), 0);
        w.SetChannelConfiguration(configuration);
        EXPECT_EQ(w.Create(channels, askedBits, 8000, nullptr, kWavExtension), 0);
        EXPECT_EQ(WriteBufferForm(w, 0, bytes), 0);
        const std::string path = w.GetPath();
        EXPECT_EQ(w.Close(), 0);
        EXPECT_EQ(w.Close(), kFileNotOpenErr);
        return path;
    }
};

// ---------------------------------------------------------------------------
// µ-law and A-law

TEST_F(WaveVariantsTest, MuLawMonoFileOfThreeFramesHasItsLayoutPadAndFactCount) {
    const std::vector<int16_t> samples = {0, 1000, -32768};
    const std::string path = Written<CWAVE_AuFile>("mu", 1, 24, Native16(samples));
    const std::string codes = {static_cast<char>(to_mulaw(0)), static_cast<char>(to_mulaw(1000)),
                               static_cast<char>(to_mulaw(-32768))};
    // One pad byte follows the three sample bytes; the data size does not count it.
    EXPECT_EQ(ReadFile(path), Riff(CompandedHeader(7, 1, 8000, 3) + Data(codes)));
    EXPECT_EQ(ReadFile(path).size(), 62u);

    auto r = Opened<CWAVE_AuFile>(path);
    EXPECT_EQ(r->GetWordSize(), 16);
    EXPECT_EQ(r->GetDataType(), kDataTypeMuLaw);
    EXPECT_EQ(r->GetNumSFrames(), 3u);
    EXPECT_EQ(r->GetDataStart(), 58u);
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadAllFrames(*r, &back), 0);
    EXPECT_EQ(Samples16(back), (std::vector<int16_t>{mulaw[to_mulaw(0)], mulaw[to_mulaw(1000)],
                                                     mulaw[to_mulaw(-32768)]}));
    EXPECT_TRUE(r->CanBeSplit());
    EXPECT_EQ(r->SplitExtension(), "(.L/.R)");
}

TEST_F(WaveVariantsTest, ALawStereoFileRoundTripsThroughTheCodes) {
    std::vector<int16_t> samples;
    for (int i = 0; i < 4000; ++i) samples.push_back(static_cast<int16_t>(i * 16 - 32000));
    const std::string path = Written<CWAVE_ALawFile>("al", 2, 16, Native16(samples));
    const std::string file = ReadFile(path);
    EXPECT_EQ(file.substr(12, 38), CompandedHeader(6, 2, 8000, 2000));
    EXPECT_EQ(U32At(file, 54), 4000u);
    EXPECT_EQ(static_cast<uint8_t>(file[58]), to_alaw(samples[0]));

    auto r = Opened<CWAVE_ALawFile>(path);
    EXPECT_EQ(r->GetDataType(), kDataTypeALaw);
    EXPECT_EQ(r->GetNumChannels(), 2);
    EXPECT_EQ(r->GetNumSFrames(), 2000u);
    // Several buffers' worth: the in-place widening holds across blocks.
    r->SetSFTBufferSize(333);
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadAllFrames(*r, &back), 0);
    const std::vector<int16_t> got = Samples16(back);
    ASSERT_EQ(got.size(), samples.size());
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], from_alaw(to_alaw(samples[i]))) << i;
}

TEST_F(WaveVariantsTest, TheClassNotTheTagDecidesTheCodingAndOfflineInfoCountsOneBytePerSample) {
    const std::string samples("\x00\x55\xD5\xFF", 4);
    // Either companding tag, plain or as the sub-format of the extensible form.
    const std::vector<std::pair<std::string, std::string>> formats = {
        {"tag6", CompandedHeader(6, 1, 8000, 4)},
        {"tag7", CompandedHeader(7, 1, 8000, 4)},
        {"sub6", FmtExtensible(1, 8000, 8, 0, 6)},
        {"sub7", FmtExtensible(1, 8000, 8, 0, 7)},
    };
    for (const auto& [name, fmt] : formats) {
        SCOPED_TRACE(name);
        const std::string path = Put(name, Riff(fmt + Data(samples)));
        std::vector<uint8_t> back;
        auto mu = Opened<CWAVE_AuFile>(path);
        ASSERT_EQ(ReadAllFrames(*mu, &back), 0);
        EXPECT_EQ(Samples16(back), (std::vector<int16_t>{mulaw[0x00], mulaw[0x55], mulaw[0xD5], mulaw[0xFF]}));
        auto a = Opened<CWAVE_ALawFile>(path);
        ASSERT_EQ(ReadAllFrames(*a, &back), 0);
        EXPECT_EQ(Samples16(back),
                  (std::vector<int16_t>{from_alaw(0x00), from_alaw(0x55), from_alaw(0xD5), from_alaw(0xFF)}));
    }
    // Linear and float files, in either form, are not theirs.
    for (const std::string& fmt : {Fmt(1, 8000, 8), Fmt(1, 8000, 32, 3), FmtExtensible(1, 8000, 8, 0, 1),
                                   FmtExtensible(1, 8000, 32, 0, 3)}) {
        const std::string path = Put("other", Riff(fmt + Data(samples)));
        Opened<CWAVE_AuFile>(path, kWAVEUnsupportedDataErr);
        Opened<CWAVE_ALawFile>(path, kWAVEUnsupportedDataErr);
    }
    // No channels would divide by zero.
    Opened<CWAVE_AuFile>(Put("none", Riff(CompandedHeader(7, 0, 8000, 4) + Data(samples))),
                         kIncompatibleChannelsErr);
    Opened<CWAVE_AuFile>(Put("nofmt", Riff(Data(samples))), kWAVENoFormatErr);
    Opened<CWAVE_AuFile>(Put("nodata", Riff(CompandedHeader(7, 1, 8000, 4))), kWAVENoDataErr);

    // Offline info counts frames of one byte per sample.
    const std::string path =
        Put("off", Riff(CompandedHeader(7, 2, 8000, 5) + Data(std::string(10, '\x7F')) +
                        CueChunk({{0, 1}}) + List("adtl", Ltxt(0, 2))));
    CWAVE_AuFile f;
    ASSERT_EQ(f.ISoundFile(path), 0);
    short regions = -1;
    EXPECT_EQ(f.GetOfflineInfo(&regions), 0);
    EXPECT_EQ(regions, 1);
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.GetNumSFrames(), 5u);
}

TEST_F(WaveVariantsTest, FramesSkippedWhileWritingAreCodedSilenceAndMarkersFollowThePad) {
    for (bool alaw : {false, true}) {
        std::unique_ptr<CWAVE_AuFile> w = alaw ? std::make_unique<CWAVE_ALawFile>() : std::make_unique<CWAVE_AuFile>();
        ASSERT_EQ(w->ISoundFile(dir / (alaw ? "gapA" : "gapU")), 0);
        ASSERT_EQ(w->Create(1, 16, 8000, nullptr, kWavExtension), 0);
        ASSERT_EQ(WriteBufferForm(*w, 0, Native16({5000, 5000})), 0);
        // Frames 2 to 5 are never written.
        ASSERT_EQ(WriteBufferForm(*w, 6, Native16({-5000})), 0);
        const std::string path = w->GetPath();
        ASSERT_EQ(w->Close(), 0);

        const std::string file = ReadFile(path);
        const uint8_t silence = alaw ? to_alaw(0) : to_mulaw(0);
        EXPECT_EQ(file.substr(60, 4), std::string(4, static_cast<char>(silence)));
        std::unique_ptr<CWAVE_AuFile> r = alaw ? std::make_unique<CWAVE_ALawFile>() : std::make_unique<CWAVE_AuFile>();
        ASSERT_EQ(r->ISoundFile(path), 0);
        ASSERT_EQ(r->Open(), 0);
        ASSERT_EQ(r->GetNumSFrames(), 7u);
        std::vector<uint8_t> back;
        ASSERT_EQ(ReadAllFrames(*r, &back), 0);
        const std::vector<int16_t> got = Samples16(back);
        for (int i = 2; i < 6; ++i) EXPECT_LE(std::abs(got[static_cast<size_t>(i)]), 8) << i;
        EXPECT_LT(got[6], -4000);
    }

    // Companded markers follow the pad and read back.
    CWAVE_AuFile w;
    ASSERT_EQ(w.ISoundFile(dir / "marks"), 0);
    ASSERT_EQ(w.Create(1, 16, 8000, nullptr, kWavExtension), 0);
    SFTMarker m{};
    m.position = 2;
    NameToField("Hit", m.name);
    ASSERT_EQ(w.AddMarker(&m), 0);
    ASSERT_EQ(WriteBufferForm(w, 0, Native16({1, 2, 3})), 0);
    const std::string path = w.GetPath();
    ASSERT_EQ(w.Close(), 0);
    const std::string file = ReadFile(path);
    EXPECT_EQ(file.substr(62, 4), "cue ");
    EXPECT_EQ(U32At(file, 4), file.size() - 8);

    auto r = Opened<CWAVE_AuFile>(path);
    ASSERT_EQ(r->GetNumMarkers(), 1u);
    SFTMarker back;
    ASSERT_EQ(r->GetIndMarker(uint16_t{0}, &back), 0);
    EXPECT_EQ(back.position, 2u);
    EXPECT_EQ(NameFromField(back.name), "Hit");
}

// ---------------------------------------------------------------------------
// 32-bit float

TEST_F(WaveVariantsTest, FloatSamplesBecomeFullScaleIntegers) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::string data = FloatLE(0.5f) + FloatLE(-1.0f) + FloatLE(1.0f) + FloatLE(3.5f) + FloatLE(nan) +
                              FloatLE(-0.25f) + FloatLE(-7.0f) + FloatLE(0.0f);
    const std::string path = Put("f", Riff(Fmt(2, 44100, 32, 3) + Data(data)));
    auto r = Opened<CWAVEFloatFile>(path);
    EXPECT_EQ(r->GetWordSize(), 32);
    EXPECT_EQ(r->GetDataType(), kDataTypeFloatLittleEndian);
    EXPECT_EQ(r->GetNumSFrames(), 4u);
    EXPECT_EQ(r->GetChannelConfiguration(), CSoundFile::kStereo);
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadAllFrames(*r, &back), 0);
    // +1.0 and beyond are clamped to the largest integer, NaN reads as silence.
    EXPECT_EQ(Samples32(back), (std::vector<int32_t>{1073741824, INT32_MIN, INT32_MAX, INT32_MAX, 0, -536870912,
                                                     INT32_MIN, 0}));
}

TEST_F(WaveVariantsTest, FloatFilesOfOtherCodingsOrSizesAreRefused) {
    const std::string data(64, '\0');
    // Floats of other sizes than 32 and 64 bits, integers, or no channels.
    for (const std::string& fmt : {Fmt(1, 44100, 16, 3), Fmt(1, 44100, 32, 1), FmtExtensible(1, 44100, 32, 0, 1),
                                   FmtExtensible(1, 44100, 24, 0, 3), Fmt(1, 44100, 48, 3)})
        Opened<CWAVEFloatFile>(Put("f48", Riff(fmt + Data(data))), kWAVEUnsupportedDataErr);
    Opened<CWAVEFloatFile>(Put("f0", Riff(Fmt(0, 44100, 32, 3) + Data(data))), kIncompatibleChannelsErr);
    // The extensible form with the float sub-format is theirs.
    auto ext = Opened<CWAVEFloatFile>(Put("ext32", Riff(FmtExtensible(2, 44100, 32, 3, 3) + Data(data))));
    EXPECT_EQ(ext->GetNumChannels(), 2);
    EXPECT_EQ(ext->GetNumSFrames(), 8u);
    EXPECT_EQ(ext->GetDataType(), kDataTypeFloatLittleEndian);
    CWAVEFloatFile f;
    ASSERT_EQ(f.ISoundFile(dir / "f48"), 0);
    short regions = 0;
    EXPECT_EQ(f.GetOfflineInfo(&regions), kWAVEUnsupportedDataErr);
}

TEST_F(WaveVariantsTest, DoubleSamplesBecomeTheSameFullScaleIntegersAsFloats) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> values = {0.5, -1.0, 1.0, 3.5, nan, -0.25, -7.0, 0.0, 1e-300, 0.123456789012345};
    std::string data;
    for (double v : values) data += LE32(static_cast<uint32_t>(std::bit_cast<uint64_t>(v))) +
                                    LE32(static_cast<uint32_t>(std::bit_cast<uint64_t>(v) >> 32));
    const std::vector<int32_t> expected = {1073741824, INT32_MIN, INT32_MAX, INT32_MAX, 0, -536870912,
                                           INT32_MIN,  0,         0,         265121435};
    // Plain and extensible; a stray byte after the last whole frame is no frame.
    for (const std::string& fmt : {Fmt(2, 44100, 64, 3), FmtExtensible(2, 44100, 64, 0x3, 3)}) {
        const std::string path = Put("d.wav", Riff(fmt + Data(data + "x")));
        auto r = Opened<CWAVEFloatFile>(path);
        EXPECT_EQ(r->GetWordSize(), 32);
        EXPECT_EQ(r->GetDataType(), kDataTypeFloatLittleEndian);
        EXPECT_EQ(r->GetNumSFrames(), 5u);
        EXPECT_EQ(r->GetChannelConfiguration(), CSoundFile::kStereo);
        std::vector<uint8_t> back;
        ASSERT_EQ(ReadAllFrames(*r, &back), 0);
        EXPECT_EQ(Samples32(back), expected);
        // Such a file is only read: its buffer form is narrower than what is stored.
        EXPECT_EQ(r->RefreshOutputBuffer(0), kWritePermErr);
        EXPECT_EQ(r->FlushOutputBuffer(1, 0), kWritePermErr);
        CWAVEFloatFile look;
        ASSERT_EQ(look.ISoundFile(path), 0);
        short regions = -1;
        EXPECT_EQ(look.GetOfflineInfo(&regions), 0);
    }

    // Blocks of every size up to past the whole file, from every start: the
    // pieces narrowed in place meet without a gap.
    std::mt19937 rng(64);
    std::string many;
    std::vector<int32_t> want;
    for (int i = 0; i < 3 * 37; ++i) {
        const double v = static_cast<int32_t>(rng()) / 2147483648.0 + static_cast<int32_t>(rng()) / 9.0e18;
        const uint64_t bits = std::bit_cast<uint64_t>(v);
        many += LE32(static_cast<uint32_t>(bits)) + LE32(static_cast<uint32_t>(bits >> 32));
        want.push_back(static_cast<int32_t>(v * 2147483648.0));
    }
    const std::string path = Put("many.wav", Riff(Fmt(3, 8000, 64, 3) + Data(many)));
    for (uint32_t frames : {1u, 2u, 5u, 16u, 37u, 64u}) {
        auto r = Opened<CWAVEFloatFile>(path);
        r->SetSFTBufferSize(frames);
        for (uint32_t start = 0; start < 37; start += 3) {
            ASSERT_EQ(r->RefreshInputBuffer(start), 0);
            const uint32_t n = std::min(frames, 37 - start);
            std::vector<int32_t> got(n * 3);
            std::memcpy(got.data(), r->GetInputBuffer(), got.size() * 4);
            EXPECT_EQ(got, std::vector<int32_t>(want.begin() + start * 3, want.begin() + (start + n) * 3))
                << frames << " frames from " << start;
            for (uint32_t i = n * 3; i < frames * 3; ++i) {
                int32_t rest;
                std::memcpy(&rest, r->GetInputBuffer() + 4 * i, 4);
                ASSERT_EQ(rest, 0) << frames << " frames from " << start;
            }
        }
    }
}

TEST_F(WaveVariantsTest, FloatFilesKeepTheChannelMaskOfMoreThanTwoChannels) {
    struct Row {
        short channels;
        CSoundFile::ChannelConfiguration configuration;
        uint32_t mask;  // of the extensible chunk; none for two channels
    };
    for (const Row row : {Row{2, CSoundFile::kStereo, 0}, Row{6, CSoundFile::k51, 0x3F},
                          Row{4, CSoundFile::kQuad, 0x33}, Row{5, CSoundFile::kMultichannel, 0}}) {
        const std::vector<int32_t> samples = {INT32_MIN, 1073741824, -1, 0, INT32_MAX, 12345};
        std::vector<int32_t> frames;
        for (short c = 0; c < row.channels; ++c) frames.push_back(samples[static_cast<size_t>(c) % samples.size()]);
        // Asked for 16 bits, the file is 32-bit float all the same.
        const std::string path = Written<CWAVEFloatFile>("out" + std::to_string(row.channels), row.channels, 16,
                                                         Native32(frames), row.configuration);
        const std::string file = ReadFile(path);
        const uint32_t c = static_cast<uint32_t>(row.channels);
        const std::string common = LE16(static_cast<uint16_t>(c)) + LE32(8000) + LE32(4 * c * 8000) +
                                   LE16(static_cast<uint16_t>(4 * c)) + LE16(32);
        const std::string fmt = row.channels <= 2 ? Chunk("fmt ", LE16(3) + common)
                                                  : Chunk("fmt ", LE16(0xFFFE) + common + LE16(22) + LE16(32) +
                                                                      LE32(row.mask) + Guid(3));
        EXPECT_EQ(file.substr(12, fmt.size()), fmt) << row.channels;
        const size_t data = 12 + fmt.size();
        EXPECT_EQ(file.substr(data, 4), "data");
        EXPECT_EQ(U32At(file, data + 4), 4 * c);
        EXPECT_EQ(U32At(file, 4), file.size() - 8);
        EXPECT_EQ(FloatAt(file, data + 8), -1.0f);
        EXPECT_EQ(FloatAt(file, data + 12), 0.5f);

        auto r = Opened<CWAVEFloatFile>(path);
        EXPECT_EQ(r->GetNumChannels(), row.channels);
        EXPECT_EQ(r->GetChannelConfiguration(), row.configuration) << row.channels;
        std::vector<uint8_t> back;
        ASSERT_EQ(ReadAllFrames(*r, &back), 0);
        const std::vector<int32_t> got = Samples32(back);
        ASSERT_EQ(got.size(), frames.size());
        // Single precision keeps 24 bits of each integer.
        for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], frames[i], 128.0) << i;
    }
    // The mask of a file written elsewhere, as the integer class takes it.
    const std::string data(48, '\0');
    for (auto [channels, mask, configuration] :
         {std::tuple<int16_t, uint32_t, CSoundFile::ChannelConfiguration>{6, 0x3F, CSoundFile::k51},
          {6, 0x137, CSoundFile::k60}, {6, 0, CSoundFile::kMultichannel}, {1, 0x4, CSoundFile::kMono}}) {
        auto f = Opened<CWAVEFloatFile>(Put("m", Riff(FmtExtensible(channels, 44100, 32, mask, 3) + Data(data))));
        EXPECT_EQ(f->GetChannelConfiguration(), configuration) << mask;
    }
}

}  // namespace
