// AVR, IFF 8SVX and Sound Designer I files: headers read into descriptions and
// samples, damaged or unreadable headers refused, the headers written at close
// byte for byte with every sample value round the trip, and AVR and 8SVX files
// exchanged with sox and libsndfile.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "aiff_test_support.h"
#include "format_test_support.h"
#include "formats/chunk_reader.h"
#include "formats/pcm/avr_file.h"
#include "formats/pcm/iff_8svx_file.h"
#include "formats/pcm/sd1_file.h"
#include "soundfile/progress.h"

using aifftest::Chunk;
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
std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// An AVR header: channel flag, sample size, sign, loop flag, rate, length, loop.
std::string AvrHeader(uint16_t channelFlag, uint16_t bits, uint16_t sign, uint32_t rate, uint32_t frames,
                      uint16_t loopFlag = 0, uint32_t loopStart = 0, uint32_t loopEnd = 0) {
    std::string h = "2BIT" + std::string(8, 'n') + BE(channelFlag, 2) + BE(bits, 2) + BE(sign, 2) +
                    BE(loopFlag, 2) + BE(0, 2) + BE(rate, 4) + BE(frames, 4) + BE(loopStart, 4) + BE(loopEnd, 4);
    h.resize(128, '\0');
    return h;
}

std::string Vhdr(uint32_t oneShot, uint16_t rate, uint8_t compression = 0) {
    return Chunk("VHDR", BE(oneShot, 4) + BE(0, 4) + BE(0, 4) + BE(rate, 2) + '\0' +
                             static_cast<char>(compression) + BE(0x10000, 4));
}
std::string Form(const std::string& chunks) { return aifftest::Form(chunks, "8SVX"); }

// A Sound Designer I header with the fields read.
std::string Sd1Header(uint32_t byteCount, uint32_t rate, uint16_t bits) {
    std::string h(1336, '\0');
    h.replace(184, 4, BE(byteCount, 4));
    h.replace(1020, 4, BE(rate, 4));
    h.replace(1028, 2, BE(bits, 2));
    return h;
}

enum class Kind { kAVR, k8SVX, kSD1 };
std::unique_ptr<CSoundFile> Make(Kind kind) {
    if (kind == Kind::kAVR) return std::make_unique<CAVRFile>();
    if (kind == Kind::k8SVX) return std::make_unique<CIFF8SVXFile>();
    return std::make_unique<CSD1File>();
}

// Every value of a word of `bits`, as the buffer form holds it.
std::vector<uint8_t> EveryValue(int bits) {
    std::vector<uint8_t> out;
    for (uint32_t v = 0; v < (1u << bits); ++v)
        for (int b = 0; b < bits / 8; ++b) out.push_back(static_cast<uint8_t>(v >> (8 * b)));
    return out;
}

void ExpectFrames(CSoundFile& f, const std::vector<uint8_t>& expected) {
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadAllFrames(f, &back), 0);
    EXPECT_TRUE(back == expected) << back.size() << " bytes, expected " << expected.size();
}

class PlainPcmTest : public formattest::FileTest {
protected:
    void TearDown() override {
        CorvaOutFile::Clear();
        FileTest::TearDown();
    }
    // Opens the file, after checking that GetOfflineInfo agrees with Open.
    std::unique_ptr<CSoundFile> Open(Kind kind, const std::string& path, OSErr expected) {
        OSErr regions = 1;
        auto info = Make(kind), f = Make(kind);
        EXPECT_EQ(info->ISoundFile(path), 0);
        EXPECT_EQ(info->GetOfflineInfo(&regions), expected);
        EXPECT_EQ(regions, 0);
        EXPECT_FALSE(info->IsOpen());
        EXPECT_EQ(f->ISoundFile(path), 0);
        EXPECT_EQ(f->Open(), expected);
        EXPECT_TRUE(expected || (info->GetNumSFrames() == f->GetNumSFrames() &&
                                 info->GetSampleRate() == f->GetSampleRate() && info->GetNumLoops() == f->GetNumLoops()));
        return f;
    }
    std::unique_ptr<CSoundFile> Create(Kind kind, const std::string& name, short channels, short bits, float rate,
                                       OSErr* err) {
        auto f = Make(kind);
        EXPECT_EQ(f->ISoundFile(dir / name), 0);
        *err = f->Create(channels, bits, rate, nullptr, reinterpret_cast<const unsigned char*>("\x03out"));
        return f;
    }
};

// ---------------------------------------------------------------------------
// Reading

TEST_F(PlainPcmTest, AvrHeadersAndSamples) {
    const std::string s16 = S("\x80\x00\x7f\xff\x00\x01\xff\xfe"), s8 = S("\x80\xff\x00\x7f");
    struct Case {
        const char* what;
        std::string bytes;
        OSErr err;
        int channels = 0, bits = 0;
        double rate = 0;
        short dataType = 0;
        std::string frames = "";
    };
    const Case cases[] = {
        {"mono, 16-bit signed", AvrHeader(0, 16, 0xFFFF, 22050, 4) + s16, 0, 1, 16, 22050, kDataTypePCM,
         S("\x00\x80\xff\x7f\x01\x00\xfe\xff")},
        {"stereo, 8-bit signed", AvrHeader(1, 8, 0xFFFF, 8000, 2) + s8, 0, 2, 8, 8000, kDataTypePCM, s8},
        {"unsigned 16-bit", AvrHeader(0xFFFF, 16, 0, 8000, 2) + s16, 0, 2, 16, 8000, kDataTypeOffsetBinary8,
         S("\x00\x00\xff\xff\x01\x80\xfe\x7f")},
        {"unsigned 8-bit", AvrHeader(0, 8, 0, 8000, 4) + s8, 0, 1, 8, 8000, kDataTypeOffsetBinary8,
         S("\x00\x7f\x80\xff")},
        {"rate with a high byte", AvrHeader(0, 8, 0xFFFF, 0xFF00AC44, 1) + "a", 0, 1, 8, 44100, kDataTypePCM, "a"},
        {"length beyond the file", AvrHeader(0, 8, 0xFFFF, 8000, 1000) + s8, 0, 1, 8, 8000, kDataTypePCM, s8},
        {"magic", "2bit" + AvrHeader(0, 8, 0, 8000, 0).substr(4), kAVRBadHeaderErr},
        {"sample size 12", AvrHeader(0, 12, 0xFFFF, 8000, 2) + s16, kAVRIncompatibleWordSizeErr},
        {"header cut short", AvrHeader(0, 8, 0, 8000, 0).substr(0, 127), kEOFErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto f = Open(Kind::kAVR, Put("in.avr", c.bytes), c.err);
        if (c.err) continue;
        EXPECT_EQ(f->GetNumChannels(), c.channels);
        EXPECT_EQ(f->GetWordSize(), c.bits);
        EXPECT_EQ(f->GetSampleRate(), c.rate);
        EXPECT_EQ(f->GetDataType(), c.dataType);
        EXPECT_EQ(f->GetNumLoops(), 0);
        ExpectFrames(*f, Bytes(c.frames));
    }
    // A loop flag gives one forward loop, which a second reading does not add again.
    auto f = Open(Kind::kAVR, Put("loop.avr", AvrHeader(0, 8, 0xFFFF, 8000, 4, 1, 1, 3) + "abcd"), 0);
    OSErr regions = 0;
    ASSERT_EQ(f->GetOfflineInfo(&regions), 0);
    SFTLoop loop{};
    ASSERT_EQ(f->GetNumLoops(), 1);
    ASSERT_EQ(f->GetIndLoop(0, &loop), 0);
    EXPECT_EQ(std::vector<int64_t>({loop.id, loop.start, loop.end, loop.type}), std::vector<int64_t>({0, 1, 3, 1}));
}

TEST_F(PlainPcmTest, Iff8svxChunksGiveTheDescription) {
    const std::string body = Chunk("BODY", "\x01\x02\x03\x04\x05\x06");
    struct Case {
        const char* what;
        std::string bytes;
        OSErr err;
        uint32_t frames = 0, dataStart = 0;
        uint32_t declared = 0;  // the frames the header states, when more than there are
    };
    const Case cases[] = {
        {"as written here", Form(Vhdr(6, 8000) + body), 0, 6, 48},
        {"name and annotation first", Form(Chunk("NAME", "abc") + Chunk("ANNO", "x") + Vhdr(4, 8000) + body), 0, 4, 70},
        {"one-shot length 0: the body", Form(Vhdr(0, 8000) + body), 0, 6, 48},
        {"one-shot length beyond the body", Form(Vhdr(9, 8000) + body + Chunk("ANNO", "trailing")), 0, 6, 48},
        {"body size beyond the file", Form(Vhdr(0, 8000) + Chunk("BODY", "", 1000) + "abc"), 0, 3, 48, 1000},
        // The size a file being written holds until it is closed.
        {"body being written", Form(Vhdr(0, 8000) + Chunk("BODY", "", 0x73697A65) + "abc"), 0, 3, 48},
        {"one channel named", Form(Vhdr(6, 8000) + Chunk("CHAN", BE(4, 4)) + body), 0, 6, 60},
        {"both channels", Form(Vhdr(3, 8000) + Chunk("CHAN", BE(6, 4)) + body), kIFF8SVXIncompatibleChannelsErr},
        {"compressed", Form(Vhdr(6, 8000, 1) + body), kIFF8SVXUnsupportedDataErr},
        {"no voice header", Form(body), kIFF8SVXNoVHDRErr},
        {"no body", Form(Vhdr(6, 8000)), kIFF8SVXNoBODYErr},
        {"negative size before the body", Form(Vhdr(6, 8000) + Chunk("ANNO", "", 0x80000000) + body),
         kIFF8SVXCorruptChunkSizeErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto f = Open(Kind::k8SVX, Put("in.iff", c.bytes), c.err);
        if (c.err) continue;
        EXPECT_EQ(f->GetSampleRate(), 8000.0);
        EXPECT_EQ(static_cast<CIFF8SVXFile&>(*f).GetDataStart(), c.dataStart);
        EXPECT_EQ(f->GetDeclaredSFrames(), c.declared ? c.declared : c.frames);
        ExpectFrames(*f, Bytes(c.bytes.substr(c.dataStart, c.frames)));
    }
}

TEST_F(PlainPcmTest, Sd1HeadersAndSamples) {
    struct Case {
        const char* what;
        std::string bytes;
        OSErr err;
        int bits = 0;
        uint32_t frames = 0;
        std::string samples = "";
    };
    const Case cases[] = {
        {"16-bit, byte count 2000", Sd1Header(2000, 44100, 16) + std::string(2000, '\x01'), 0, 16, 1000,
         std::string(2000, '\x01')},
        {"8-bit", Sd1Header(3, 44100, 8) + "\x80\x7f\x01", 0, 8, 3, "\x80\x7f\x01"},
        {"24-bit", Sd1Header(6, 44100, 24) + S("\x12\x34\x56\x80\x00\x01"), 0, 24, 2, S("\x56\x34\x12\x01\x00\x80")},
        {"byte count beyond the file", Sd1Header(4000, 44100, 16) + "\x12\x34\x56", 0, 16, 1, "\x34\x12"},
        {"sample size 4", Sd1Header(2000, 44100, 4) + std::string(2000, '\0'), kSD1UnsupportedDataErr},
        {"sample size 64", Sd1Header(2000, 44100, 64) + std::string(2000, '\0'), kSD1UnsupportedDataErr},
        {"header cut short", Sd1Header(0, 44100, 16).substr(0, 1335), kEOFErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto f = Open(Kind::kSD1, Put("in.sd1", c.bytes), c.err);
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
        ExpectFrames(*f, Bytes(c.samples));
    }
}

// ---------------------------------------------------------------------------
// Writing

// Every sample value after a gap of 3 frames; the header written at close,
// byte for byte; the samples read back.
TEST_F(PlainPcmTest, WrittenHeadersAndRoundTrips) {
    std::string sd1(1336, '\0');
    const std::pair<size_t, std::string> sd1Template[] = {
        {0, S("\x05\x38\x00\x20")}, {64, S("\xff\x00\x00\x00\x00\x01\x00\x00\x01\x47\x04\x00\x00\x00\x06%scale")},
        {112, S("\0\0\0\x01\0\0\0\0\x03sec")}, {806, std::string(8, '\xff')}, {817, "\x08Quillfen"}, {1084, "\x06Linear"},
    };
    for (const auto& [at, bytes] : sd1Template) sd1.replace(at, bytes.size(), bytes);
    for (int k = 0; k < 10; ++k) sd1[402 + 40 * k] = 1;

    struct Case {
        Kind kind;
        std::string name;
        short channels, bits;
        OSErr closedErr;
    };
    const Case cases[] = {
        {Kind::kAVR, "short", 1, 8, kFileNotOpenBaseErr},
        {Kind::kAVR, "a name of more than thirty-two characters", 2, 16, kFileNotOpenBaseErr},
        {Kind::k8SVX, "iff", 1, 8, kFileNotOpenErr},
        {Kind::kSD1, "sd8", 1, 8, kFileNotOpenBaseErr},
        {Kind::kSD1, "sd16", 1, 16, kFileNotOpenBaseErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OSErr err = 1;
        auto f = Create(c.kind, c.name, c.channels, c.bits, 22050.7f, &err);
        ASSERT_EQ(err, 0);
        std::vector<uint8_t> samples = EveryValue(c.bits);
        const uint32_t frameBytes = c.channels * c.bits / 8, frames = samples.size() / frameBytes + 3;
        f->SetSFTBufferSize(1000);
        ASSERT_EQ(WriteBufferForm(*f, 3, samples), 0);
        const SFTLoop loop{7, 10, 20, 1};
        ASSERT_EQ(c.channels == 2 ? f->AddLoop(&loop) : 0, 0);
        ASSERT_EQ(f->Close(), 0);
        EXPECT_EQ(f->Close(), c.closedErr);

        samples.insert(samples.begin(), 3 * frameBytes, 0);
        std::string header;
        size_t pad = 0;
        if (c.kind == Kind::kAVR) {
            const std::string name = c.name + ".out";
            header = "2BIT" + name.substr(0, 8) + BE(c.channels == 1 ? 0 : 0xFFFF, 2) + BE(c.bits, 2) + BE(0xFFFF, 2) +
                     BE(c.channels == 2 ? 0xFFFF : 0, 2) + BE(0, 2) + BE(22050, 4) + BE(frames, 4) +
                     BE(c.channels == 2 ? 10 : 0, 4) + BE(c.channels == 2 ? 20 : 0, 4) + std::string(6, '\0') +
                     name.substr(8, 24);
            header.resize(128, '\0');
        } else if (c.kind == Kind::k8SVX) {
            // An odd count of frames is followed by a pad byte that no count includes.
            pad = frames & 1;
            header = "FORM" + BE(frames + pad + 40, 4) + "8SVX" + Vhdr(frames, 22050) + "BODY" + BE(frames, 4);
        } else {
            header = sd1;
            header.replace(184, 4, BE(frames * frameBytes, 4));
            header.replace(1020, 10, BE(22050, 4) + BE(45, 4) + BE(c.bits, 2));
        }
        const std::string bytes = ReadFile(f->GetPath());
        ASSERT_EQ(bytes.size(), header.size() + samples.size() + pad);
        if (pad) {
            EXPECT_EQ(bytes.back(), '\0');
        }
        EXPECT_EQ(bytes.substr(0, header.size()), header);
        // Samples are stored big-endian.
        EXPECT_TRUE(c.bits == 8 || bytes.substr(header.size() + 3 * frameBytes, 4) == S("\x00\x00\x00\x01"));
        ExpectFrames(*Open(c.kind, f->GetPath(), 0), samples);
    }
}

TEST_F(PlainPcmTest, OutputsTheFormatsCannotHoldAreRefused) {
    const struct {
        Kind kind;
        short channels, bits;
        float rate;
        OSErr err;
    } cases[] = {
        {Kind::kAVR, 1, 24, 8000, kAVRIncompatibleWordSizeErr},
        {Kind::kAVR, 3, 16, 8000, kAVRIncompatibleChannelsErr},
        {Kind::k8SVX, 2, 8, 8000, kIFF8SVXIncompatibleChannelsErr},
        {Kind::k8SVX, 1, 16, 8000, kIFF8SVXIncompatibleWordSizeErr},
        {Kind::k8SVX, 1, 8, 96000, kIFF8SVXIncompatibleRateErr},
        {Kind::kSD1, 2, 16, 8000, kSD1IncompatibleChannelsErr},
        {Kind::kSD1, 1, 24, 8000, kSD1IncompatibleWordSizeErr},
    };
    for (const auto& c : cases) {
        OSErr err = 1;
        Create(c.kind, "refused", c.channels, c.bits, c.rate, &err);
        EXPECT_EQ(err, c.err);
        EXPECT_FALSE(XWQF::FileExists(dir / "refused.out"));
    }
}

// ---------------------------------------------------------------------------
// Peers

// Writes or reads every sample through libsndfile as ints, the sample in the
// top bits; the raw samples are signed, little-endian.
bool SndfileWrite(const std::string& path, int format, int channels, int bits, const std::string& raw) {
    SF_INFO info{};
    info.samplerate = 22050;
    info.channels = channels;
    info.format = format | (bits == 8 ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_16);
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!sf) return false;
    std::vector<int> ints(raw.size() * 8 / bits);
    const auto* p = reinterpret_cast<const uint8_t*>(raw.data());
    for (size_t i = 0; i < ints.size(); ++i)
        ints[i] = (bits == 8 ? static_cast<int8_t>(p[i]) : static_cast<int16_t>(LoadLE16(p + 2 * i))) * (1 << (32 - bits));
    const bool ok = sf_write_int(sf, ints.data(), sf_count_t(ints.size())) == sf_count_t(ints.size());
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

TEST_F(PlainPcmTest, PeersBothWays) {
    if (!HaveProgram("sox")) GTEST_SKIP() << "sox is not installed";
    const struct {
        Kind kind;
        int channels, bits, sndfileFormat;
        const char* extension;
    } cases[] = {
        {Kind::kAVR, 2, 16, SF_FORMAT_AVR, "avr"},
        {Kind::kAVR, 1, 8, SF_FORMAT_AVR, "avr"},
        {Kind::k8SVX, 1, 8, SF_FORMAT_SVX, "8svx"},
    };
    std::mt19937 rng(7);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.extension << ", " << c.channels << " channels, " << c.bits << " bits");
        std::string raw;
        for (int i = 0; i < 3000 * c.channels * c.bits / 8; ++i) raw += static_cast<char>(rng());
        const std::string soxIn = "sox -t raw -r 22050 -c " + std::to_string(c.channels) + " -b " +
                                  std::to_string(c.bits) + " -e signed -L " + Quote(Put("in.raw", raw)) + " ";
        // Theirs read here; sox marks the whole of an AVR file as a loop.
        const std::string bySox = dir / (std::string("sox.") + c.extension), bySndfile = dir / "sndfile";
        ASSERT_TRUE(RunCommand(soxIn + Quote(bySox)));
        ASSERT_TRUE(SndfileWrite(bySndfile, c.sndfileFormat, c.channels, c.bits, raw));
        for (const std::string& path : {bySox, bySndfile}) {
            auto f = Open(c.kind, path, 0);
            EXPECT_EQ(f->GetNumChannels(), c.channels);
            EXPECT_EQ(f->GetWordSize(), c.bits);
            EXPECT_EQ(f->GetSampleRate(), 22050.0);
            SFTLoop loop{};
            const bool loops = c.kind == Kind::kAVR && path == bySox;
            EXPECT_EQ(f->GetNumLoops(), loops ? 1 : 0);
            EXPECT_TRUE(!loops || (f->GetIndLoop(0, &loop) == 0 && loop.start == 0 && loop.end == 3000));
            ExpectFrames(*f, Bytes(raw));
        }
        // Ours read there.
        OSErr err = 1;
        auto f = Create(c.kind, c.extension + std::to_string(c.bits), short(c.channels), short(c.bits), 22050, &err);
        ASSERT_EQ(err, 0);
        ASSERT_EQ(WriteBufferForm(*f, 0, Bytes(raw)), 0);
        ASSERT_EQ(f->Close(), 0);
        std::string out;
        ASSERT_TRUE(RunCommand("sox -t " + std::string(c.extension) + " " + Quote(f->GetPath()) + " -t raw -e signed -L -", &out));
        EXPECT_TRUE(out == raw);
        SF_INFO info;
        EXPECT_TRUE(SndfileRead(f->GetPath(), c.bits, &info) == raw);
        EXPECT_EQ(std::vector<int>({info.samplerate, info.channels}), std::vector<int>({22050, c.channels}));
    }
    // sox keeps stereo 8SVX as two channels one after the other: refused.
    ASSERT_TRUE(RunCommand("sox -t raw -r 22050 -c 2 -b 8 -e signed " + Quote(Put("in.raw", "0123")) + " " +
                           Quote(dir / "stereo.8svx")));
    Open(Kind::k8SVX, dir / "stereo.8svx", kIFF8SVXIncompatibleChannelsErr);
}

}  // namespace
