#include "formats/pcm/wave_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "test_support.h"
#include "wave_test_support.h"

using namespace wavetest;
using testsupport::ReadFile;

namespace {

std::unique_ptr<CWAVEFile> Bound(const std::string& path) {
    auto f = std::make_unique<CWAVEFile>();
    EXPECT_EQ(f->ISoundFile(path), 0);
    return f;
}

std::unique_ptr<CWAVEFile> Opened(const std::string& path, OSErr expected = 0) {
    auto f = Bound(path);
    EXPECT_EQ(f->Open(), expected) << path;
    return f;
}

// The offset of the first chunk with the ID in a RIFF file's bytes, or npos.
size_t ChunkAt(const std::string& file, const std::string& id) {
    for (size_t at = 12; at + 8 <= file.size();) {
        if (file.compare(at, 4, id) == 0) return at;
        uint32_t size = LoadLE32(reinterpret_cast<const uint8_t*>(file.data()) + at + 4);
        at += 8 + size + (size & 1);
    }
    return std::string::npos;
}

SFTMarker Marker(int32_t id, uint32_t position, const std::string& name) {
    SFTMarker m{};
    m.id = id;
    m.position = position;
    NameToField(name, m.name);
    m.type = 2;
    m.number = -1;
    return m;
}

class WaveTest : public FileTest {
protected:
    // A created file: 16-bit, 44100 Hz, with the given channels and frames of a ramp.
    // `before` runs before Create, `after` once the frames are written.
    std::string Written(const std::string& name, short channels, uint32_t frames,
                        const std::function<void(CWAVEFile&)>& before = nullptr, short bits = 16,
                        const std::function<void(CWAVEFile&)>& after = nullptr) {
        auto w = Bound(dir / name);
        if (before) before(*w);
        EXPECT_EQ(w->Create(channels, bits, 44100, nullptr, kWavExtension), 0);
        std::vector<uint8_t> bytes(static_cast<size_t>(frames) * channels * (bits / 8));
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
        EXPECT_EQ(WriteBufferForm(*w, 0, bytes), 0);
        if (after) after(*w);
        const std::string path = w->GetPath();
        EXPECT_EQ(w->Close(), 0);
        return path;
    }
};

// ---------------------------------------------------------------------------
// Writing and reading back

TEST_F(WaveTest, WrittenStereoFileHasThePlainLayoutAndReadsBack) {
    auto w = Bound(dir / "out");
    ASSERT_EQ(w->Create(2, 16, 44100.7f, nullptr, kWavExtension), 0);
    EXPECT_EQ(w->GetPath(), dir / "out.wav");
    const std::vector<int16_t> samples = {0, -1, 32767, -32768, 1234, -4321};
    ASSERT_EQ(WriteBufferForm(*w, 0, Native16(samples)), 0);
    ASSERT_EQ(w->Close(), 0);
    EXPECT_EQ(w->Close(), kFileNotOpenErr);

    const std::string file = ReadFile(dir / "out.wav");
    const std::string pcm(reinterpret_cast<const char*>(Native16(samples).data()), 12);
    EXPECT_EQ(file, Riff(Fmt(2, 44100, 16) + Data(pcm)));

    auto r = Opened(dir / "out.wav");
    EXPECT_EQ(r->GetNumChannels(), 2);
    EXPECT_EQ(r->GetWordSize(), 16);
    EXPECT_EQ(r->GetSampleRate(), 44100.0);
    EXPECT_EQ(r->GetNumSFrames(), 3u);
    EXPECT_EQ(r->GetDataType(), kDataTypeLittleEndianPCM);
    EXPECT_EQ(r->GetDataStart(), 44u);
    EXPECT_EQ(r->GetChannelConfiguration(), CSoundFile::kStereo);
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadAllFrames(*r, &back), 0);
    EXPECT_EQ(back, Native16(samples));
    // A reader's Close changes nothing in the file.
    EXPECT_EQ(r->Close(), 0);
    EXPECT_EQ(ReadFile(dir / "out.wav"), file);
}

TEST_F(WaveTest, MultichannelFilesGetTheExtensibleFormatWithTheMask) {
    struct Case {
        short channels;
        CSoundFile::ChannelConfiguration configuration;
        uint32_t mask;
    };
    for (const Case& c : {Case{3, CSoundFile::kLCR, 0x7}, Case{4, CSoundFile::kQuad, 0x33},
                          Case{4, CSoundFile::kLCRS, 0x107}, Case{5, CSoundFile::k50, 0x37},
                          Case{6, CSoundFile::k51, 0x3F}, Case{6, CSoundFile::k60, 0x137},
                          Case{7, CSoundFile::k61, 0x13F}, Case{8, CSoundFile::k71, 0xFF},
                          Case{8, CSoundFile::k61, 0}, Case{6, CSoundFile::kMultichannel, 0},
                          Case{12, CSoundFile::kMultichannel, 0}}) {
        const std::string name = "m" + std::to_string(c.channels) + "_" + std::to_string(c.configuration);
        const std::string path = Written(name, c.channels, 4, [&](CWAVEFile& w) {
            w.SetChannelConfiguration(c.configuration);
        }, 24);
        const std::string file = ReadFile(path);
        ASSERT_EQ(file.compare(12, 8, std::string("fmt ") + LE32(40)), 0);
        EXPECT_EQ(LoadLE16(reinterpret_cast<const uint8_t*>(file.data()) + 20), 0xFFFE);
        EXPECT_EQ(U32At(file, 40), c.mask) << name;
        EXPECT_EQ(file.substr(44, 16), Guid(1));
        EXPECT_EQ(file.compare(60, 4, "data"), 0);

        auto r = Opened(path);
        EXPECT_EQ(r->GetNumChannels(), c.channels);
        EXPECT_EQ(r->GetNumSFrames(), 4u);
        const auto expected = c.mask ? c.configuration : CSoundFile::kMultichannel;
        EXPECT_EQ(r->GetChannelConfiguration(), expected) << name;
    }
}

TEST_F(WaveTest, MasksReadAsConfigurations) {
    struct Case {
        int16_t channels;
        uint32_t mask;
        CSoundFile::ChannelConfiguration configuration;
    };
    for (const Case& c : {Case{1, 0x4, CSoundFile::kMono}, Case{2, 0, CSoundFile::kStereo},
                          Case{3, 0x7, CSoundFile::kLCR}, Case{3, 0x107, CSoundFile::kLCR},
                          Case{3, 0x3, CSoundFile::kMultichannel}, Case{4, 0x33, CSoundFile::kQuad},
                          Case{4, 0x107, CSoundFile::kLCRS}, Case{6, 0x3F, CSoundFile::k51},
                          Case{6, 0x60F, CSoundFile::kMultichannel}, Case{6, 0x137, CSoundFile::k60},
                          Case{6, 0, CSoundFile::kMultichannel}, Case{7, 0x13F, CSoundFile::k61},
                          Case{8, 0x6FF, CSoundFile::k71}, Case{8, 0x63F, CSoundFile::kMultichannel},
                          Case{10, 0x3FF, CSoundFile::kMultichannel}}) {
        const std::string path =
            Put("mask.wav", Riff(FmtExtensible(c.channels, 48000, 16, c.mask) +
                                 Data(std::string(static_cast<size_t>(c.channels) * 4, '\0'))));
        auto r = Opened(path);
        EXPECT_EQ(r->GetChannelConfiguration(), c.configuration) << c.channels << " " << c.mask;
        EXPECT_EQ(r->GetNumSFrames(), 2u);
    }
}

TEST_F(WaveTest, ChannelNamesFollowTheConfiguration) {
    CWAVEFile f;
    using SF = CSoundFile;
    for (auto [configuration, channel, name] :
         {std::tuple{SF::k51, 3, "LFE"}, {SF::k51, 9, "Right surround"}, {SF::kLCRS, 1, "Center"},
          {SF::k71, 7, "Right front narrow"}, {SF::kMono, 0, "1"}, {SF::k61, 4, "5"}, {SF::kMultichannel, 11, "12"}}) {
        f.SetChannelConfiguration(configuration);
        EXPECT_EQ(f.GetChannelName(static_cast<short>(channel)), name) << configuration << " " << channel;
    }
}

// ---------------------------------------------------------------------------
// The format chunk

TEST_F(WaveTest, SubFormatsSetTheDataType) {
    CWAVEFile probe;
    auto readExtended = [&](uint32_t subFormat, OSErr expected, short dataType) {
        const std::string path = Put("sub.wav", Riff(FmtExtensible(2, 8000, 8, 3, subFormat) + Data("abcd")));
        auto f = Bound(path);
        ASSERT_EQ(f->Open(), dataType == kDataTypeMuLaw || dataType == kDataTypeALaw
                                 ? OSErr(kWAVEUnsupportedDataErr)
                                 : expected);
        EXPECT_EQ(f->ReadfmtExtended(), expected) << subFormat;
        if (expected == 0) {
            EXPECT_EQ(f->GetDataType(), dataType) << subFormat;
        }
    };
    readExtended(1, 0, kDataTypeLittleEndianPCM);
    readExtended(6, 0, kDataTypeALaw);
    readExtended(7, 0, kDataTypeMuLaw);
    readExtended(0x50, kWAVEUnsupportedDataErr, 0);
    // An unknown GUID leaves the data type as it was.
    readExtended(0x1234, 0, 0);

    // A 0xFFFE chunk of another size is read by its first 16 bytes.
    std::string odd = FmtData(0xFFFE, 1, 22050, 16) + LE16(0) + std::string(6, '\0');
    auto f = Opened(Put("short_ext.wav", Riff(Chunk("fmt ", odd) + Data(Ramp16(4)))));
    EXPECT_EQ(f->ReadfmtExtended(), kWAVENotFoundErr);
    EXPECT_EQ(f->GetDataType(), kDataTypeLittleEndianPCM);
    EXPECT_EQ(f->GetNumSFrames(), 4u);
    EXPECT_EQ(f->GetSampleRate(), 22050.0);

    // Plain float, ADPCM and any other tag are not linear PCM.
    Opened(Put("float.wav", Riff(Fmt(1, 8000, 32, 3) + Data("abcd"))), kWAVEUnsupportedDataErr);
    Opened(Put("adpcm.wav", Riff(Fmt(1, 8000, 4, 2) + Data("abcd"))), kWAVEUnsupportedDataErr);
}

TEST_F(WaveTest, ExtensibleFloatIsReadAsFullScaleIntegers) {
    const float values[] = {0.5f, -1.0f, 0.0f, 1.0f, -0.25f, 2.0f};
    std::string samples;
    for (float v : values) samples += LE32(std::bit_cast<uint32_t>(v));
    auto f = Opened(Put("f.wav", Riff(FmtExtensible(2, 48000, 32, 3, 3) + Data(samples))));
    EXPECT_EQ(f->GetDataType(), kDataTypeFloatLittleEndian);
    EXPECT_EQ(f->GetNumSFrames(), 3u);
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadAllFrames(*f, &back), 0);
    std::vector<int32_t> ints(6);
    std::memcpy(ints.data(), back.data(), 24);
    EXPECT_EQ(ints, (std::vector<int32_t>{1073741824, INT32_MIN, 0, INT32_MAX, -536870912, INT32_MAX}));

    // A float sample is only read as 32 bits.
    Opened(Put("f64.wav", Riff(FmtExtensible(1, 48000, 64, 3, 3) + Data(std::string(16, '\0')))),
           kWAVEUnsupportedDataErr);
}

TEST_F(WaveTest, FormatsThatWouldDivideByZeroAreRefused) {
    // No channels at all is told as such; the other counts and sizes are data
    // this reader does not take.
    const std::pair<std::string, OSErr> formats[] = {
        {Fmt(0, 8000, 16), kIncompatibleChannelsErr},
        {FmtExtensible(0, 8000, 16, 0), kIncompatibleChannelsErr},
        {Fmt(-2, 8000, 16), kWAVEUnsupportedDataErr},
        {Fmt(1, 8000, 33), kWAVEUnsupportedDataErr},
        {Fmt(1, 8000, 0), kWAVEUnsupportedDataErr},
        {Fmt(2, 8000, 40), kWAVEUnsupportedDataErr},
        {FmtExtensible(2, 8000, 0, 3), kWAVEUnsupportedDataErr},
    };
    for (const auto& [fmt, status] : formats) {
        Opened(Put("bad.wav", Riff(fmt + Data(Ramp16(8)))), status);
        short count = -1;
        auto f = Bound(dir / "bad.wav");
        EXPECT_EQ(f->GetOfflineInfo(&count), status);
        EXPECT_FALSE(f->IsOpen());
    }
    // Four or seven bits sit in one unsigned byte.
    for (const std::string& fmt : {Fmt(1, 8000, 4), FmtExtensible(2, 8000, 7, 3)}) {
        auto f = Opened(Put("narrow.wav", Riff(fmt + Data(Ramp16(8)))));
        EXPECT_EQ(f->GetWordSize(), 8);
        EXPECT_EQ(f->GetNumSFrames() * f->GetNumChannels(), 16u);
    }
}

// ---------------------------------------------------------------------------
// The chunk walk

TEST_F(WaveTest, ChunksAreFoundInAnyOrderAndOddChunksArePadded) {
    // 'bext' first, an odd 'JUNK' with its pad byte, then the format and the data.
    const std::string file =
        Riff(Chunk("bext", std::string(10, 'b')) + Chunk("JUNK", "odd") + Fmt(1, 32000, 16) +
             Chunk("fact", LE32(4)) + Data(Ramp16(4)));
    auto f = Opened(Put("order.wav", file));
    EXPECT_EQ(f->GetNumSFrames(), 4u);
    EXPECT_EQ(f->GetDataStart(), file.size() - 8);
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadAllFrames(*f, &back), 0);
    EXPECT_EQ(back, Bytes(Ramp16(4)));

    // A format chunk whose ID ends in a carriage return.
    auto cr = Opened(Put("cr.wav", Riff(Chunk("fmt\r", FmtData(1, 2, 11025, 8)) + Data(std::string("\x80\x81\x7f\x00", 4)))));
    EXPECT_EQ(cr->GetNumChannels(), 2);
    EXPECT_EQ(cr->GetDataType(), kDataTypeUnsigned8);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(ReadAllFrames(*cr, &bytes), 0);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x00, 0x01, 0xFF, 0x80}));
}

TEST_F(WaveTest, MissingChunksGiveTheirCodesAndStaticProbesFindChunksWithoutAnObject) {
    std::string ninetyNine;
    for (int i = 0; i < 99; ++i) ninetyNine += Chunk("JUNK", "");
    Opened(Put("late.wav", Riff(ninetyNine + Chunk("JUNK", "") + Fmt(1, 8000, 16) + Data("ab"))), kWAVENoFormatErr);
    Opened(Put("ok.wav", Riff(ninetyNine + Fmt(1, 8000, 16) + Data("ab"))), kWAVENoDataErr);
    Opened(Put("nofmt.wav", Riff(Data("ab"))), kWAVENoFormatErr);
    Opened(Put("nodata.wav", Riff(Fmt(1, 8000, 16) + List("INFO", ""))), kWAVENoDataErr);
    Opened(Put("wavl.wav", Riff(Fmt(1, 8000, 16) + List("INFO", "") + List("wavl", Data("ab")))),
           kWAVEFragmentedDataErr);
    Opened(Put("rifx.wav", "RIFX" + LE32(4) + "WAVE"), kNotASoundFileErr);
    Opened(Put("tiny.wav", "RI"), kNotASoundFileErr);
    // A chunk passed over with a negative size.
    Opened(Put("neg.wav", Riff(Chunk("JUNK", "", 0x80000000) + Fmt(1, 8000, 16) + Data("ab"))),
           kWAVEBadChunkSizeErr);
    // The walk stops at the RIFF end.
    Opened(Put("end.wav", Riff(Fmt(1, 8000, 16) + Data("ab"), 4 + 24)), kWAVENoDataErr);

    // Static probes find chunks without an object.
    const std::string file = Riff(Chunk("JUNK", "x") + Fmt(6, 48000, 24) + Data("abcdef") + Chunk("bext", ""));
    const std::string path = Put("probe.wav", file);
    std::istringstream in(file);
    EXPECT_EQ(CWAVEFile::FindChunk("bext", 1, in), 0);
    EXPECT_EQ(static_cast<size_t>(in.tellg()), file.size() - 4);
    EXPECT_EQ(CWAVEFile::FindChunk("RIFF", 1, in), 0);
    EXPECT_EQ(CWAVEFile::FindChunk("cue ", 1, in), kWAVENotFoundErr);
    EXPECT_EQ(CWAVEFile::FindChunk("fmt ", 2, in), kWAVENotFoundErr);
    EXPECT_EQ(CWAVEFile::ReadNumChannels(path), 6);
    EXPECT_EQ(CWAVEFile::ReadNumChannels(dir / "missing.wav"), 0);
    EXPECT_EQ(CWAVEFile::ReadNumChannels(Put("nofmt.wav", Riff(Data("ab")))), 0);
    EXPECT_EQ(CWAVEFile::ReadNumChannels(Put("cut.wav", Riff(Chunk("fmt ", "\x10\x00", 16)))), 0);
}

// ---------------------------------------------------------------------------
// Data sizes that cannot be believed

TEST_F(WaveTest, PlaceholderAndOversizedDataSizesUseTheBytesThere) {
    const std::string samples = Ramp16(10);
    // A streaming writer: both sizes left at 0xFFFFFFFF.
    auto streamed = Opened(Put("stream.wav", Riff(Fmt(1, 8000, 16) + Data(samples, 0xFFFFFFFF), 0xFFFFFFFF)));
    EXPECT_EQ(streamed->GetNumSFrames(), 10u);
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadAllFrames(*streamed, &back), 0);
    EXPECT_EQ(back, Bytes(samples));
    // Sizes of 0 with the RIFF size unfinished too.
    EXPECT_EQ(Opened(Put("zero.wav", Riff(Fmt(1, 8000, 16) + Data(samples, 0), 0)))->GetNumSFrames(), 10u);
    // 2^31 and more, and more than the file holds.
    EXPECT_EQ(Opened(Put("big.wav", Riff(Fmt(2, 8000, 16) + Data(samples, 0x80000000))))->GetNumSFrames(), 5u);
    EXPECT_EQ(Opened(Put("long.wav", Riff(Fmt(1, 8000, 16) + Data(samples, 1000))))->GetNumSFrames(), 10u);
    // A finished file whose data is really empty keeps its 0 before the chunks after it.
    auto empty = Opened(Put("empty.wav", Riff(Fmt(1, 8000, 16) + Data("") + Smpl({{1, 2}}))));
    EXPECT_EQ(empty->GetNumSFrames(), 0u);
    EXPECT_EQ(empty->GetNumLoops(), 1u);
    short regions = -1;
    EXPECT_EQ(Bound(dir / "stream.wav")->GetOfflineInfo(&regions), 0);
}

// ---------------------------------------------------------------------------
// 8-bit samples and odd data lengths

TEST_F(WaveTest, OddDataLengthsGetAPadByteAndNothingElseFollowsTheData) {
    struct Case {
        short channels;
        short bits;
        uint32_t frames;
    };
    for (const Case& c : {Case{1, 8, 3}, Case{2, 8, 3}, Case{1, 24, 3}, Case{3, 24, 1}, Case{1, 16, 3},
                          Case{1, 8, 4}}) {
        const std::string name = "odd" + std::to_string(c.channels) + "_" + std::to_string(c.bits) + "_" +
                                 std::to_string(c.frames);
        const std::string path = Written(name, c.channels, c.frames, nullptr, c.bits);
        const std::string file = ReadFile(path);
        const size_t data = ChunkAt(file, "data");
        ASSERT_NE(data, std::string::npos);
        // The size counts the samples only; an odd one is followed by one zero byte.
        const uint32_t bytes = c.frames * c.channels * (c.bits / 8);
        EXPECT_EQ(U32At(file, data + 4), bytes) << name;
        EXPECT_EQ(file.size(), data + 8 + bytes + (bytes & 1)) << name;
        if (bytes & 1) {
            EXPECT_EQ(file.back(), '\0') << name;
        }
        EXPECT_EQ(U32At(file, 4), file.size() - 8);
        auto r = Opened(path);
        EXPECT_EQ(r->GetNumSFrames(), c.frames) << name;
    }

    // Without markers or regions nothing follows the data, loops and sampler data or not.
    const std::string path = Written("plain", 2, 10, [](CWAVEFile& w) {
        SFTLoop loop{0, 1, 5, 1};
        w.AddLoop(&loop);
        SFTSamplerInfo info{60, 0, 0, 127, 0, 127, 0, 1};
        w.SetSamplerInfo(&info);
    });
    const std::string file = ReadFile(path);
    EXPECT_EQ(file.size(), 44u + 40u);
    EXPECT_EQ(ChunkAt(file, "smpl"), std::string::npos);
}

TEST_F(WaveTest, EightBitSamplesAreUnsignedInTheFile) {
    auto w = Bound(dir / "eight");
    ASSERT_EQ(w->Create(1, 8, 8000, nullptr, kWavExtension), 0);
    EXPECT_EQ(w->GetDataType(), kDataTypeUnsigned8);
    ASSERT_EQ(WriteBufferForm(*w, 0, {0x00, 0x7F, 0x80, 0xFF}), 0);
    // Positioning past the end fills the gap with silence, 0x80.
    ASSERT_EQ(w->SetFilePos(8), 0);
    EXPECT_EQ(w->GetNumSFrames(), 8u);
    ASSERT_EQ(w->Close(), 0);
    const std::string file = ReadFile(dir / "eight.wav");
    EXPECT_EQ(file.substr(ChunkAt(file, "data") + 8), std::string("\x80\xFF\x00\x7F\x80\x80\x80\x80", 8));

    // Writing over frames already there reads them back in the buffer form first.
    auto again = Bound(dir / "mix");
    ASSERT_EQ(again->Create(1, 8, 8000, nullptr, kWavExtension), 0);
    ASSERT_EQ(WriteBufferForm(*again, 0, {0x10, 0x20, 0x30, 0x40}), 0);
    ASSERT_EQ(again->RefreshOutputBuffer(1), 0);
    EXPECT_EQ(again->GetOutputBuffer()[0], 0x20);
    EXPECT_EQ(again->GetOutputBuffer()[3], 0x00);
}

// ---------------------------------------------------------------------------
// Markers, regions, loops and sampler data

TEST_F(WaveTest, ExtrasAreWrittenAsCueListSmplAndInst) {
    const std::string path = Written("extras", 1, 100, nullptr, 16, [](CWAVEFile& w) {
        SFTMarker a = Marker(7, 10, "abc"), b = Marker(8, 20, "abcd");
        w.AddMarker(&a);
        w.AddMarker(&b);
        SFTRegion r = Region(30, 60, "Verse");
        w.AddRegion(&r);
        SFTLoop first{4, 5, 50, 1}, second{9, 60, 90, 2};
        w.AddLoop(&first);
        w.AddLoop(&second);
        SFTSamplerInfo info{61, -3, 10, 100, 1, 120, 5, 1};
        w.SetSamplerInfo(&info);
    });
    const std::string file = ReadFile(path);
    const size_t data = ChunkAt(file, "data");
    const size_t cue = ChunkAt(file, "cue ");
    ASSERT_EQ(cue, data + 8 + 200);
    EXPECT_EQ(U32At(file, cue + 4), 4u + 3 * 24);
    EXPECT_EQ(U32At(file, cue + 8), 3u);
    // Points: markers first (IDs 0 and 1), then the region (ID 2) at its start.
    auto words = [&](size_t at, std::initializer_list<size_t> offsets) {
        std::vector<uint32_t> out;
        for (size_t o : offsets) out.push_back(U32At(file, at + o));
        return out;
    };
    EXPECT_EQ(words(cue + 12, {0, 20, 48, 68}), (std::vector<uint32_t>{0, 10, 2, 30}));
    EXPECT_EQ(file.compare(cue + 12 + 8, 4, "data"), 0);

    const size_t list = cue + 8 + 76;
    ASSERT_EQ(file.compare(list, 4, "LIST"), 0);
    EXPECT_EQ(file.compare(list + 8, 4, "adtl"), 0);
    // "abc": size 8, 16 bytes; "abcd": size 9 and a pad byte, 18 bytes; 'ltxt' 28 bytes.
    const std::string adtl = file.substr(list + 12, 16 + 18 + 28);
    EXPECT_EQ(adtl.substr(0, 16), "labl" + LE32(8) + LE32(0) + std::string("abc\0", 4));
    EXPECT_EQ(adtl.substr(16, 18), "labl" + LE32(9) + LE32(1) + std::string("abcd\0\0", 6));
    EXPECT_EQ(adtl.substr(34), "ltxt" + LE32(20) + LE32(2) + LE32(30) + "rgn " + std::string(8, '\0'));
    EXPECT_EQ(U32At(file, list + 4), 4u + 62);

    const size_t smpl = list + 8 + 66;
    ASSERT_EQ(file.compare(smpl, 4, "smpl"), 0);
    EXPECT_EQ(words(smpl, {4, 36, 44, 52, 56, 68, 76, 80}), (std::vector<uint32_t>{36 + 48, 2, 4, 5, 50, 9, 60, 90}));

    const size_t inst = smpl + 92;
    EXPECT_EQ(file.substr(inst), "inst" + LE32(7) + std::string("\x3D\xFD\x00\x0A\x64\x01\x78\x00", 8));
    EXPECT_EQ(U32At(file, 4), file.size() - 8);

    // Reading back.
    auto r = Opened(path);
    ASSERT_EQ(r->GetNumMarkers(), 2u);
    for (uint16_t i = 0; i < 2; ++i) {
        SFTMarker m;
        ASSERT_EQ(r->GetIndMarker(i, &m), 0);
        EXPECT_EQ(std::pair(NameFromField(m.name), m.position), std::pair(std::string(i ? "abcd" : "abc"), 10u * (i + 1)));
    }
    ASSERT_EQ(r->GetNumRegions(), 1u);
    SFTRegion region;
    ASSERT_EQ(r->GetIndRegion(uint16_t{0}, &region), 0);
    EXPECT_EQ(region.start, 30);
    EXPECT_EQ(region.end, 60);
    // One counter numbers markers and regions in file order.
    EXPECT_EQ(NameFromField(region.name), "Region nmbr 2");
    ASSERT_EQ(r->GetNumLoops(), 2u);
    SFTLoop loop;
    ASSERT_EQ(r->GetIndLoop(uint16_t{1}, &loop), 0);
    EXPECT_EQ(std::tuple(loop.id, loop.start, loop.end, loop.type), std::tuple(1, 60u, 90u, 1));
    SFTSamplerInfo info;
    ASSERT_EQ(r->GetSamplerInfo(&info), 0);
    EXPECT_EQ(std::vector<int>({info.baseNote, info.detune, info.lowNote, info.highNote, info.lowVelocity, info.highVelocity}),
              (std::vector<int>{61, -3, 10, 100, 1, 120}));

    short count = -1;
    auto offline = Bound(path);
    EXPECT_EQ(offline->GetOfflineInfo(&count), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(offline->GetNumLoops(), 2u);
    EXPECT_EQ(offline->GetNumSFrames(), 100u);
    EXPECT_FALSE(offline->IsOpen());
}

TEST_F(WaveTest, AssociatedDataBecomesMarkersAndRegions) {
    const std::string samples(200, '\0');
    const std::string base = Fmt(1, 8000, 16) + Data(samples);
    const std::string cue = CueChunk({{1, 10}, {2, 20}, {3, 0}, {4, 40}, {5, 55}});
    const std::string adtl = List("adtl", Labl(1, "Intro") + Labl(99, "nobody") + Labl(2, "Chorus", "note") +
                                              Ltxt(3, 100) + Ltxt(4, 10) + Ltxt(4, 500));
    const std::string path = Put("adtl.wav", Riff(base + cue + List("INFO", Chunk("ISFT", "x")) + adtl));
    auto f = Opened(path);
    // The 'labl' for cue point 99 is ignored; cue point 5 has no label and is a marker of its own.
    ASSERT_EQ(f->GetNumMarkers(), 3u);
    SFTMarker m;
    f->GetIndMarker(uint16_t{1}, &m);
    EXPECT_EQ(NameFromField(m.name), "Chorus");
    EXPECT_EQ(m.position, 20u);
    f->GetIndMarker(uint16_t{2}, &m);
    EXPECT_EQ(m.name[0], 0);
    EXPECT_EQ(m.position, 55u);
    // The whole-file region (0..100) and the one past the end are skipped.
    ASSERT_EQ(f->GetNumRegions(), 1u);
    SFTRegion r;
    f->GetIndRegion(uint16_t{0}, &r);
    EXPECT_EQ(r.start, 40);
    EXPECT_EQ(r.end, 50);
    EXPECT_EQ(NameFromField(r.name), "Region nmbr 3");
    short count = 0;
    EXPECT_EQ(Bound(path)->GetOfflineInfo(&count), 0);
    EXPECT_EQ(count, 3);

    // With the setting off, a region over the whole file is kept.
    CSoundFile::SetIgnoreRegionsContainingWholeFile(false);
    auto kept = Opened(path);
    ASSERT_EQ(kept->GetNumRegions(), 2u);
    kept->GetIndRegion(uint16_t{0}, &r);
    EXPECT_EQ(r.start, 0);
    EXPECT_EQ(r.end, 100);

    // Without regions in the file, the whole-file region.
    CSoundFile::SetIgnoreRegionsContainingWholeFile(true);
    auto whole = Opened(Put("nolist.wav", Riff(base + cue)));
    EXPECT_EQ(whole->GetNumMarkers(), 5u);
    ASSERT_EQ(whole->GetNumRegions(), 1u);
    whole->GetIndRegion(uint16_t{0}, &r);
    EXPECT_EQ(r.end, 100);
}

TEST_F(WaveTest, CountsAndSizesInsideExtrasAreBoundedByTheirChunks) {
    const std::string base = Fmt(1, 8000, 16) + Data(std::string(200, '\0'));
    // Counts far beyond what the chunks hold.
    const std::string loops = Smpl({{1, 2}, {3, 4}}, 0x7FFFFFFF);
    const std::string cue = CueChunk({{1, 10}, {2, 20}}, 0xFFFFFFFF);
    // A label whose size runs past the list, and one without its NUL.
    const std::string adtl =
        Chunk("LIST", "adtl" + Labl(1, "One") + "labl" + LE32(0x7FFFFFF0) + LE32(2) + "Two");
    auto f = Opened(Put("counts.wav", Riff(base + loops + cue + adtl)));
    EXPECT_EQ(f->GetNumLoops(), 2u);
    ASSERT_EQ(f->GetNumMarkers(), 2u);
    SFTMarker m;
    f->GetIndMarker(uint16_t{1}, &m);
    EXPECT_EQ(NameFromField(m.name), "Two");

    // A list whose size runs past the file, a loop count of -1, a cut cue chunk.
    const std::string cut = Riff(base + Smpl({{1, 2}}, 0xFFFFFFFF) + Chunk("cue ", LE32(3) + LE32(1)) +
                                 Chunk("LIST", "adtl" + Labl(1, "x"), 0x7FFF0000));
    auto g = Opened(Put("cut.wav", cut));
    EXPECT_EQ(g->GetNumLoops(), 0u);
    EXPECT_EQ(g->GetNumMarkers(), 0u);

    // An 'inst' of fewer than 7 bytes is no sampler data.
    auto h = Opened(Put("inst.wav", Riff(base + Chunk("inst", "\x3c\x00\x00"))));
    SFTSamplerInfo info;
    EXPECT_EQ(h->GetSamplerInfo(&info), kNoSamplerInfoErr);
}

TEST_F(WaveTest, AFileAddsAtMost4096MarkersAnd1024RegionsAndLabelsAreCutTo31Characters) {
    // Thousands of labels and regions on one cue point: opening stays quick.
    std::string subChunks;
    for (int i = 0; i < 4200; ++i) subChunks += Labl(1, "m" + std::to_string(i));
    for (uint32_t i = 0; i < 1100; ++i) subChunks += Ltxt(1, i + 1);
    auto f = Opened(Put("many.wav", Riff(Fmt(1, 8000, 16) + Data(std::string(4000, '\0')) +
                                         CueChunk({{1, 5}}) + List("adtl", subChunks))));
    EXPECT_EQ(f->GetNumMarkers(), 4096u);
    EXPECT_EQ(f->GetNumRegions(), 1024u);

    // Labels are cut to 31 characters.
    auto g = Opened(Put("names.wav", Riff(Fmt(1, 8000, 16) + Data(std::string(2000, '\0')) + CueChunk({{1, 1}, {2, 10}, {3, 20}}) +
                                          List("adtl", Labl(1, std::string(40, 'n')) + Ltxt(2, 5) + Ltxt(3, 5)))));
    SFTMarker m;
    ASSERT_EQ(g->GetIndMarker(uint16_t{0}, &m), 0);
    EXPECT_EQ(m.name[0], 31);
    EXPECT_EQ(NameFromField(m.name), std::string(31, 'n'));
    ASSERT_EQ(g->GetNumRegions(), 2u);
}

}  // namespace
