// AVR, IFF 8SVX and Sound Designer I files: headers read into descriptions and
// samples, damaged or unreadable headers refused, the headers written at close
// byte for byte, round trips, and AVR and 8SVX files exchanged with sox and
// libsndfile.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/chunk_reader.h"
#include "formats/pcm/avr_file.h"
#include "formats/pcm/iff_8svx_file.h"
#include "formats/pcm/sd1_file.h"
#include "soundfile/progress.h"

using formattest::Quote;
using formattest::ReadAllFrames;
using formattest::RunCommand;
using formattest::WriteBufferForm;
using testsupport::HaveProgram;
using testsupport::ReadFile;

namespace {

std::string BE(uint32_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; --i) s += static_cast<char>(v >> (8 * i));
    return s;
}
// Literals with their 0 bytes.
template <size_t N>
std::string S(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}
template <size_t N>
std::vector<uint8_t> Bytes(const char (&literal)[N]) {
    return {literal, literal + N - 1};
}
std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// An output a class refuses to create.
struct Refusal {
    short channels, bits;
    float rate;
    OSErr code;
};

// An AVR header: channel flag, sample size, sign, loop flag, rate, length, loop.
std::string AvrHeader(uint16_t channelFlag, uint16_t bits, uint16_t sign, uint32_t rate, uint32_t frames,
                      uint16_t loopFlag = 0, uint32_t loopStart = 0, uint32_t loopEnd = 0) {
    std::string h = "2BIT" + std::string(8, 'n') + BE(channelFlag, 2) + BE(bits, 2) + BE(sign, 2) +
                    BE(loopFlag, 2) + BE(0, 2) + BE(rate, 4) + BE(frames, 4) + BE(loopStart, 4) + BE(loopEnd, 4);
    h.resize(128, '\0');
    return h;
}

std::string Chunk(const std::string& id, const std::string& data, uint32_t size) {
    return id + BE(size, 4) + data + (data.size() % 2 ? std::string(1, '\0') : "");
}
std::string Chunk(const std::string& id, const std::string& data) {
    return Chunk(id, data, static_cast<uint32_t>(data.size()));
}
std::string Vhdr(uint32_t oneShot, uint16_t rate, uint8_t compression = 0) {
    return Chunk("VHDR", BE(oneShot, 4) + BE(0, 4) + BE(0, 4) + BE(rate, 2) + '\0' + static_cast<char>(compression) +
                             BE(0x10000, 4));
}
std::string Form(const std::string& chunks) { return "FORM" + BE(uint32_t(chunks.size() + 4), 4) + "8SVX" + chunks; }

// A Sound Designer I header with the three fields read.
std::string Sd1Header(uint32_t byteCount, uint32_t rate, uint16_t bits) {
    std::string h(1336, '\0');
    h.replace(184, 4, BE(byteCount, 4));
    h.replace(1020, 4, BE(rate, 4));
    h.replace(1028, 2, BE(bits, 2));
    return h;
}

class PlainPcmTest : public formattest::FileTest {
protected:
    void TearDown() override {
        CorvaOutFile::Clear();
        FileTest::TearDown();
    }
    template <class T>
    std::unique_ptr<T> OpenAs(const std::string& path, OSErr* err) {
        auto f = std::make_unique<T>();
        EXPECT_EQ(f->ISoundFile(path), 0);
        *err = f->Open();
        return f;
    }
    template <class T>
    std::unique_ptr<T> CreateAs(const std::string& name, short channels, short bits, float rate, OSErr* err) {
        auto f = std::make_unique<T>();
        EXPECT_EQ(f->ISoundFile(dir / name), 0);
        *err = f->Create(channels, bits, rate, nullptr, reinterpret_cast<const unsigned char*>("\x03out"));
        return f;
    }
    // Opens the file and checks what GetOfflineInfo and Open agree on.
    template <class T>
    std::unique_ptr<T> OpenChecked(const std::string& path, OSErr expected) {
        OSErr err = 1, regions = 1;
        T info;
        EXPECT_EQ(info.ISoundFile(path), 0);
        EXPECT_EQ(info.GetOfflineInfo(&regions), expected);
        EXPECT_EQ(regions, 0);
        EXPECT_FALSE(info.IsOpen());
        auto f = OpenAs<T>(path, &err);
        EXPECT_EQ(err, expected);
        if (err == 0) {
            EXPECT_EQ(info.GetNumSFrames(), f->GetNumSFrames());
            EXPECT_EQ(info.GetSampleRate(), f->GetSampleRate());
            EXPECT_EQ(info.GetNumLoops(), f->GetNumLoops());
        }
        return f;
    }
};

// Reads every frame and compares them with the buffer form expected.
void ExpectFrames(CSoundFile& f, const std::vector<uint8_t>& expected) {
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadAllFrames(f, &back), 0);
    EXPECT_EQ(back, expected);
}

// ---------------------------------------------------------------------------
// AVR

TEST_F(PlainPcmTest, AvrHeadersAndSamples) {
    const std::string s16 = S("\x80\x00\x7f\xff\x00\x01\xff\xfe");
    struct Case {
        const char* what;
        std::string bytes;
        OSErr err;
        int channels = 0, bits = 0;
        double rate = 0;
        short dataType = 0;
        std::vector<uint8_t> frames = {};
    };
    const Case cases[] = {
        {"mono, 16-bit signed", AvrHeader(0, 16, 0xFFFF, 22050, 4) + s16, 0, 1, 16, 22050, kDataTypePCM,
         Bytes("\x00\x80\xff\x7f\x01\x00\xfe\xff")},
        {"stereo", AvrHeader(0xFFFF, 16, 0xFFFF, 22050, 2) + s16, 0, 2, 16, 22050, kDataTypePCM,
         Bytes("\x00\x80\xff\x7f\x01\x00\xfe\xff")},
        {"unsigned 16-bit", AvrHeader(0, 16, 0, 8000, 4) + s16, 0, 1, 16, 8000, kDataTypeOffsetBinary8,
         Bytes("\x00\x00\xff\xff\x01\x80\xfe\x7f")},
        {"unsigned 8-bit", AvrHeader(0, 8, 0, 8000, 4) + S("\x80\xff\x00\x7f"), 0, 1, 8, 8000,
         kDataTypeOffsetBinary8, Bytes("\x00\x7f\x80\xff")},
        {"signed 8-bit", AvrHeader(1, 8, 0xFFFF, 8000, 2) + S("\x80\xff\x00\x7f"), 0, 2, 8, 8000, kDataTypePCM,
         Bytes("\x80\xff\x00\x7f")},
        {"rate with a high byte", AvrHeader(0, 8, 0xFFFF, 0xFF00AC44, 1) + "a", 0, 1, 8, 44100, kDataTypePCM,
         Bytes("a")},
        {"length beyond the file", AvrHeader(0, 16, 0xFFFF, 8000, 1000) + s16 + "x", 0, 1, 16, 8000, kDataTypePCM,
         Bytes("\x00\x80\xff\x7f\x01\x00\xfe\xff")},
        {"magic", "2bit" + AvrHeader(0, 8, 0, 8000, 0).substr(4), kAVRBadHeaderErr},
        {"sample size 12", AvrHeader(0, 12, 0xFFFF, 8000, 2) + s16, kAVRIncompatibleWordSizeErr},
        {"sample size 24", AvrHeader(0, 24, 0xFFFF, 8000, 1) + s16, kAVRIncompatibleWordSizeErr},
        {"header cut short", AvrHeader(0, 8, 0, 8000, 0).substr(0, 100), kEOFErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto f = OpenChecked<CAVRFile>(Put("in.avr", c.bytes), c.err);
        if (c.err) continue;
        EXPECT_EQ(f->GetNumChannels(), c.channels);
        EXPECT_EQ(f->GetWordSize(), c.bits);
        EXPECT_EQ(f->GetSampleRate(), c.rate);
        EXPECT_EQ(f->GetDataType(), c.dataType);
        EXPECT_EQ(f->GetNumLoops(), 0);
        ExpectFrames(*f, c.frames);
    }
    // A loop flag gives one forward loop, which a second reading does not add again.
    auto f = OpenChecked<CAVRFile>(Put("loop.avr", AvrHeader(0, 8, 0xFFFF, 8000, 4, 1, 1, 3) + "abcd"), 0);
    SFTLoop loop{};
    ASSERT_EQ(f->GetNumLoops(), 1);
    ASSERT_EQ(f->GetIndLoop(0, &loop), 0);
    EXPECT_EQ(std::vector<int64_t>({loop.id, loop.start, loop.end, loop.type}), std::vector<int64_t>({0, 1, 3, 1}));
    OSErr regions = 0;
    ASSERT_EQ(f->GetOfflineInfo(&regions), 0);
    EXPECT_EQ(f->GetNumLoops(), 1);
}

TEST_F(PlainPcmTest, AvrWrittenHeadersAndRoundTrips) {
    struct Case {
        std::string name;
        short channels, bits;
        bool loop;
        std::string nameField, extendedName;
    };
    const Case cases[] = {
        {"short", 1, 8, false, std::string("short.ou"), std::string("t") + '\0'},
        {"a name of more than thirty-two characters", 2, 16, true, "a name o",
         "f more than thirty-two c"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OSErr err = 1;
        auto f = CreateAs<CAVRFile>(c.name, c.channels, c.bits, 22050.7f, &err);
        ASSERT_EQ(err, 0);
        // Every sample value, after a gap of 3 frames the file fills with silence.
        std::vector<uint8_t> samples;
        for (uint32_t v = 0; v < (c.bits == 8 ? 256u : 65536u); ++v)
            for (int b = 0; b < c.bits / 8; ++b) samples.push_back(static_cast<uint8_t>(v >> (8 * b)));
        f->SetSFTBufferSize(1000);
        ASSERT_EQ(WriteBufferForm(*f, 3, samples), 0);
        if (c.loop) {
            const SFTLoop loop{7, 10, 20, 1};
            ASSERT_EQ(f->AddLoop(&loop), 0);
        }
        ASSERT_EQ(f->Close(), 0);
        EXPECT_EQ(f->Close(), kFileNotOpenBaseErr);

        const uint32_t frameBytes = c.channels * c.bits / 8, frames = samples.size() / frameBytes + 3;
        const std::string bytes = ReadFile(f->GetPath());
        ASSERT_EQ(bytes.size(), 128 + frames * frameBytes);
        const std::string expected = "2BIT" + c.nameField + BE(c.channels == 1 ? 0 : 0xFFFF, 2) + BE(c.bits, 2) +
                                     BE(0xFFFF, 2) + BE(c.loop ? 0xFFFF : 0, 2) + BE(0, 2) + BE(22050, 4) +
                                     BE(frames, 4) + BE(c.loop ? 10 : 0, 4) + BE(c.loop ? 20 : 0, 4) +
                                     std::string(6, '\0') + c.extendedName;
        EXPECT_EQ(bytes.substr(0, expected.size()), expected);
        EXPECT_EQ(bytes.substr(expected.size(), 128 - expected.size()), std::string(128 - expected.size(), '\0'));

        auto g = OpenChecked<CAVRFile>(f->GetPath(), 0);
        EXPECT_EQ(g->GetNumLoops(), c.loop ? 1 : 0);
        samples.insert(samples.begin(), 3 * frameBytes, 0);
        ExpectFrames(*g, samples);
    }
    for (const Refusal& r : {Refusal{1, 24, 8000, kAVRIncompatibleWordSizeErr}, {3, 16, 8000, kAVRIncompatibleChannelsErr}}) {
        OSErr err = 1;
        CreateAs<CAVRFile>("refused", r.channels, r.bits, r.rate, &err);
        EXPECT_EQ(err, r.code);
        EXPECT_FALSE(XWQF::FileExists(dir / "refused.out"));
    }
}

// ---------------------------------------------------------------------------
// IFF 8SVX

TEST_F(PlainPcmTest, Iff8svxChunksGiveTheDescription) {
    const std::string body = Chunk("BODY", "\x01\x02\x03\x04\x05\x06");
    struct Case {
        const char* what;
        std::string bytes;
        OSErr err;
        uint32_t frames = 0, dataStart = 0;
    };
    const Case cases[] = {
        {"as written here", Form(Vhdr(6, 8000) + body), 0, 6, 48},
        {"name and annotation before the voice header", Form(Chunk("NAME", "abc") + Chunk("ANNO", "x") + Vhdr(4, 8000) + body), 0, 4, 70},
        {"one-shot length 0: the body", Form(Vhdr(0, 8000) + body), 0, 6, 48},
        {"one-shot length beyond the body", Form(Vhdr(9, 8000) + body + Chunk("ANNO", "trailing")), 0, 6, 48},
        {"body size beyond the file", Form(Vhdr(0, 8000) + Chunk("BODY", "", 1000) + "abc"), 0, 3, 48},
        {"one channel named", Form(Vhdr(6, 8000) + Chunk("CHAN", BE(4, 4)) + body), 0, 6, 60},
        {"both channels", Form(Vhdr(3, 8000) + Chunk("CHAN", BE(6, 4)) + body), kIFF8SVXIncompatibleChannelsErr},
        {"compressed", Form(Vhdr(6, 8000, 1) + body), kIFF8SVXUnsupportedDataErr},
        {"no voice header", Form(body), kIFF8SVXNoVHDRErr},
        {"no body", Form(Vhdr(6, 8000)), kIFF8SVXChunkNotFoundErr},
        {"negative size before the body", Form(Vhdr(6, 8000) + Chunk("ANNO", "", 0x80000000) + body),
         kIFF8SVXCorruptChunkSizeErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto f = OpenChecked<CIFF8SVXFile>(Put("in.iff", c.bytes), c.err);
        if (c.err) continue;
        EXPECT_EQ(f->GetSampleRate(), 8000.0);
        EXPECT_EQ(f->GetNumChannels(), 1);
        EXPECT_EQ(f->GetWordSize(), 8);
        EXPECT_EQ(f->GetDataStart(), c.dataStart);
        ExpectFrames(*f, Bytes(c.bytes.substr(c.dataStart, c.frames)));
    }
}

TEST_F(PlainPcmTest, Iff8svxClosesWithAnEvenBodyAndItsSizes) {
    OSErr err = 1;
    auto f = CreateAs<CIFF8SVXFile>("odd", 1, 8, 22050, &err);
    ASSERT_EQ(err, 0);
    std::vector<uint8_t> samples(1001);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(WriteBufferForm(*f, 0, samples), 0);
    f.reset();  // the destructor finishes the file as Close does
    const std::string bytes = ReadFile(dir / "odd.out");
    ASSERT_EQ(bytes.size(), 48u + 1002);
    EXPECT_EQ(bytes.substr(0, 48), "FORM" + BE(1042, 4) + "8SVX" + Vhdr(1002, 22050) + "BODY" + BE(1002, 4));
    EXPECT_EQ(bytes.back(), '\0');
    auto g = OpenChecked<CIFF8SVXFile>(dir / "odd.out", 0);
    samples.push_back(0);
    ExpectFrames(*g, samples);
    EXPECT_EQ(g->Close(), 0);
    EXPECT_EQ(g->Close(), kFileNotOpenErr);

    for (const Refusal& r : {Refusal{2, 8, 8000, kIFF8SVXIncompatibleChannelsErr},
                             {1, 16, 8000, kIFF8SVXIncompatibleWordSizeErr},
                             {1, 8, 96000, kIFF8SVXIncompatibleRateErr}}) {
        CreateAs<CIFF8SVXFile>("refused", r.channels, r.bits, r.rate, &err);
        EXPECT_EQ(err, r.code);
        EXPECT_FALSE(XWQF::FileExists(dir / "refused.out"));
    }
}

// ---------------------------------------------------------------------------
// Sound Designer I

TEST_F(PlainPcmTest, Sd1HeadersAndSamples) {
    struct Case {
        const char* what;
        std::string bytes;
        OSErr err;
        int bits = 0;
        uint32_t frames = 0;
        std::vector<uint8_t> samples = {};
    };
    const Case cases[] = {
        {"16-bit, byte count 2000", Sd1Header(2000, 44100, 16) + std::string(2000, '\x01'), 0, 16, 1000,
         std::vector<uint8_t>(2000, 1)},
        {"8-bit signed", Sd1Header(3, 44100, 8) + "\x80\x7f\x01", 0, 8, 3, Bytes("\x80\x7f\x01")},
        {"24-bit", Sd1Header(6, 44100, 24) + S("\x12\x34\x56\x80\x00\x01"), 0, 24, 2, Bytes("\x56\x34\x12\x01\x00\x80")},
        {"32-bit", Sd1Header(4, 44100, 32) + "\x12\x34\x56\x78", 0, 32, 1, Bytes("\x78\x56\x34\x12")},
        {"byte count beyond the file", Sd1Header(4000, 44100, 16) + "\x12\x34\x56", 0, 16, 1, Bytes("\x34\x12")},
        {"sample size 4", Sd1Header(2000, 44100, 4) + std::string(2000, '\0'), kSD1UnsupportedDataErr},
        {"sample size 0", Sd1Header(2000, 44100, 0), kSD1UnsupportedDataErr},
        {"sample size 64", Sd1Header(2000, 44100, 64) + std::string(2000, '\0'), kSD1UnsupportedDataErr},
        {"header cut short", Sd1Header(0, 44100, 16).substr(0, 1335), kEOFErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto f = OpenChecked<CSD1File>(Put("in.sd1", c.bytes), c.err);
        if (c.err) continue;
        EXPECT_EQ(f->GetWordSize(), c.bits);
        EXPECT_EQ(f->GetNumSFrames(), c.frames);
        EXPECT_EQ(f->GetSampleRate(), 44100.0);
        // The whole file as one region, named after the file.
        SFTRegion region{};
        ASSERT_EQ(f->GetNumRegions(), 1);
        ASSERT_EQ(f->GetIndRegion(0, &region), 0);
        EXPECT_EQ(region.end, static_cast<int32_t>(c.frames));
        EXPECT_EQ(NameFromField(region.name), "in.sd1");
        ExpectFrames(*f, c.samples);
    }
}

TEST_F(PlainPcmTest, Sd1WrittenHeaderAndRoundTrips) {
    // The header every file written here carries, spelled out by position.
    std::string header(1336, '\0');
    const std::pair<size_t, std::string> fixed[] = {
        {0, S("\x05\x38\x00\x20")}, {64, S("\xff\x00\x00\x00\x00\x01\x00\x00\x01\x47\x04\x00\x00\x00\x06%scale")},
        {112, S("\0\0\0\x01\0\0\0\0\x03sec")}, {806, std::string(8, '\xff')},
        {817, "\x08Quillfen"}, {1084, "\x06Linear"},
    };
    for (const auto& [at, bytes] : fixed) header.replace(at, bytes.size(), bytes);
    for (int k = 0; k < 10; ++k) header[402 + 40 * k] = 1;

    for (short bits : {8, 16}) {
        SCOPED_TRACE(bits);
        OSErr err = 1;
        auto f = CreateAs<CSD1File>("sd" + std::to_string(bits), 1, bits, 22050, &err);
        ASSERT_EQ(err, 0);
        std::string expected = header;
        expected.replace(1020, 10, BE(22050, 4) + BE(45, 4) + BE(bits, 2));
        EXPECT_EQ(ReadFile(f->GetPath()), expected);  // the byte count is 0 until closed

        std::vector<uint8_t> samples;
        for (uint32_t v = 0; v < (bits == 8 ? 256u : 65536u); ++v)
            for (int b = 0; b < bits / 8; ++b) samples.push_back(static_cast<uint8_t>(v >> (8 * b)));
        ASSERT_EQ(WriteBufferForm(*f, 0, samples), 0);
        ASSERT_EQ(f->Close(), 0);
        EXPECT_EQ(f->Close(), kFileNotOpenBaseErr);
        expected.replace(184, 4, BE(static_cast<uint32_t>(samples.size()), 4));
        const std::string bytes = ReadFile(f->GetPath());
        EXPECT_EQ(bytes.substr(0, 1336), expected);
        // Stored big-endian.
        EXPECT_EQ(bytes.substr(1336 + 2 * (bits / 8), bits / 8), bits == 8 ? "\x02" : std::string("\x00\x02", 2));
        auto g = OpenChecked<CSD1File>(f->GetPath(), 0);
        EXPECT_EQ(g->GetSampleRate(), 22050.0);
        ExpectFrames(*g, samples);
    }
    for (const Refusal& r : {Refusal{2, 16, 8000, kSD1IncompatibleChannelsErr}, {1, 24, 8000, kSD1IncompatibleWordSizeErr}}) {
        OSErr err = 1;
        CreateAs<CSD1File>("refused", r.channels, r.bits, r.rate, &err);
        EXPECT_EQ(err, r.code);
        EXPECT_FALSE(XWQF::FileExists(dir / "refused.out"));
    }
}

// ---------------------------------------------------------------------------
// Peers

// Random signed samples of `bits`, as little-endian raw bytes (the buffer form).
std::string RawSamples(size_t samples, int bits) {
    std::mt19937 rng(bits);
    std::string raw;
    for (size_t i = 0; i < samples * bits / 8; ++i) raw += static_cast<char>(rng());
    return raw;
}

// Writes or reads every sample through libsndfile as ints (the sample in the
// top bits); false when the file cannot be had.
bool SndfileWrite(const std::string& path, int format, int channels, int bits, const std::string& raw) {
    SF_INFO info{};
    info.samplerate = 22050;
    info.channels = channels;
    info.format = format | (bits == 8 ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_16);
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!sf) return false;
    std::vector<int> ints(raw.size() * 8 / bits);
    for (size_t i = 0; i < ints.size(); ++i)
        ints[i] = static_cast<int>(bits == 8 ? static_cast<int8_t>(raw[i]) : static_cast<int16_t>(LoadLE16(
                                                   reinterpret_cast<const uint8_t*>(raw.data()) + 2 * i)))
                  << (32 - bits);
    const bool ok = sf_write_int(sf, ints.data(), static_cast<sf_count_t>(ints.size())) == sf_count_t(ints.size());
    return sf_close(sf) == 0 && ok;
}
std::string SndfileRead(const std::string& path, int bits, SF_INFO* info) {
    *info = SF_INFO{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, info);
    if (!sf) return "";
    std::vector<int> ints(static_cast<size_t>(info->frames * info->channels));
    ints.resize(static_cast<size_t>(sf_read_int(sf, ints.data(), sf_count_t(ints.size()))));
    sf_close(sf);
    std::string raw;
    for (int v : ints)
        for (int b = 0; b < bits / 8; ++b) raw += static_cast<char>((v >> (32 - bits)) >> (8 * b));
    return raw;
}

TEST_F(PlainPcmTest, AvrPeersBothWays) {
    if (!HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
    for (auto [channels, bits] : {std::pair{2, 16}, {1, 8}}) {
        SCOPED_TRACE(testing::Message() << channels << " channels, " << bits << " bits");
        const std::string raw = RawSamples(3001 * channels, bits), rawPath = Put("in.raw", raw);
        const std::string soxIn = "sox -t raw -r 22050 -c " + std::to_string(channels) + " -b " + std::to_string(bits) +
                                  " -e signed -L " + Quote(rawPath) + " ";
        // Theirs read here; sox marks the whole file as a loop.
        const std::string bySox = dir / "sox.avr", bySndfile = dir / "sndfile.avr";
        ASSERT_TRUE(RunCommand(soxIn + Quote(bySox)));
        ASSERT_TRUE(SndfileWrite(bySndfile, SF_FORMAT_AVR, channels, bits, raw));
        for (const std::string& path : {bySox, bySndfile}) {
            auto f = OpenChecked<CAVRFile>(path, 0);
            EXPECT_EQ(f->GetNumChannels(), channels);
            EXPECT_EQ(f->GetWordSize(), bits);
            EXPECT_EQ(f->GetSampleRate(), 22050.0);
            EXPECT_EQ(f->GetNumLoops(), path == bySox ? 1 : 0);
            ExpectFrames(*f, Bytes(raw));
        }
        SFTLoop loop{};
        ASSERT_EQ(OpenChecked<CAVRFile>(bySox, 0)->GetIndLoop(0, &loop), 0);
        EXPECT_EQ(std::vector<uint32_t>({loop.start, loop.end}), std::vector<uint32_t>({0, 3001}));

        // Ours read there.
        OSErr err = 1;
        auto f = CreateAs<CAVRFile>("ours" + std::to_string(bits), static_cast<short>(channels), static_cast<short>(bits), 22050, &err);
        ASSERT_EQ(err, 0);
        ASSERT_EQ(WriteBufferForm(*f, 0, Bytes(raw)), 0);
        ASSERT_EQ(f->Close(), 0);
        std::string out;
        ASSERT_TRUE(RunCommand("sox " + Quote(f->GetPath()) + " -t raw -e signed -L -", &out));
        EXPECT_TRUE(out == raw);
        SF_INFO info;
        EXPECT_TRUE(SndfileRead(f->GetPath(), bits, &info) == raw);
        EXPECT_EQ(std::vector<int>({info.samplerate, info.channels}), std::vector<int>({22050, channels}));
    }
}

TEST_F(PlainPcmTest, Iff8svxPeersBothWaysAndStereoRefused) {
    if (!HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
    const std::string raw = RawSamples(3001, 8), rawPath = Put("in.raw", raw);
    const std::string bySox = dir / "sox.8svx", bySndfile = dir / "sndfile.iff";
    ASSERT_TRUE(RunCommand("sox -t raw -r 22050 -c 1 -b 8 -e signed " + Quote(rawPath) + " " + Quote(bySox)));
    ASSERT_TRUE(SndfileWrite(bySndfile, SF_FORMAT_SVX, 1, 8, raw));
    for (const std::string& path : {bySox, bySndfile}) {
        SCOPED_TRACE(path);
        auto f = OpenChecked<CIFF8SVXFile>(path, 0);
        EXPECT_EQ(f->GetSampleRate(), 22050.0);
        ExpectFrames(*f, Bytes(raw));
    }
    // Ours, closed with the frame that evens the body.
    OSErr err = 1;
    auto f = CreateAs<CIFF8SVXFile>("ours", 1, 8, 22050, &err);
    ASSERT_EQ(err, 0);
    ASSERT_EQ(WriteBufferForm(*f, 0, Bytes(raw)), 0);
    ASSERT_EQ(f->Close(), 0);
    std::string out;
    ASSERT_TRUE(RunCommand("sox " + Quote(f->GetPath()) + " -t raw -e signed -b 8 -", &out));
    EXPECT_TRUE(out == raw + '\0');
    SF_INFO info;
    EXPECT_TRUE(SndfileRead(f->GetPath(), 8, &info) == raw + '\0');
    EXPECT_EQ(info.samplerate, 22050);
    // sox keeps stereo as two channels one after the other.
    ASSERT_TRUE(RunCommand("sox -t raw -r 22050 -c 2 -b 8 -e signed " + Quote(rawPath) + " " + Quote(bySox)));
    OpenChecked<CIFF8SVXFile>(bySox, kIFF8SVXIncompatibleChannelsErr);
}

}  // namespace
