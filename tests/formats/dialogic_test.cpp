// Headerless telephony files: the name rules, the stored forms of PCM, A-law
// and µ-law, and files exchanged with sox and ffmpeg both ways.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/g711.h"
#include "formats/telephony/dialogic_file.h"
#include "soundfile/raw_settings.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

using formattest::Quote;
using formattest::RunCommand;
using testsupport::HaveProgram;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

// Sets the process-wide raw settings for one test and puts the defaults back.
class RawSettingsScope {
public:
    explicit RawSettingsScope(const RawSettings& settings) { CSoundFile::SetRawSettings(settings); }
    ~RawSettingsScope() { ResetRawSettings(); }
};

RawSettings Raw(double rate, bool bigEndian, int32_t bits, uint32_t channels) {
    RawSettings raw(FourCC("DPCM"), rate, bigEndian, bits, RawSettings::kRawReadAsRaw);
    raw.SetNumChannels(channels);
    return raw;
}

// A ramp through the whole range of a word size, in the buffer form.
std::vector<uint8_t> Ramp(int bits, size_t samples) {
    const int bytes = bits / 8;
    std::vector<uint8_t> out(samples * bytes);
    for (size_t i = 0; i < samples; ++i) {
        const int64_t range = int64_t{1} << bits;
        const int64_t v = static_cast<int64_t>((i * 2654435761u) % static_cast<uint64_t>(range)) -
                          range / 2;
        for (int b = 0; b < bytes; ++b) out[i * bytes + b] = static_cast<uint8_t>(v >> (8 * b));
    }
    return out;
}

// The buffer form (little-endian signed) as the file stores it.
std::string Stored(const std::vector<uint8_t>& native, int bits, bool bigEndian) {
    const int bytes = bits / 8;
    std::string out(native.begin(), native.end());
    for (size_t i = 0; i + bytes <= out.size(); i += bytes) {
        if (bytes == 1) out[i] = static_cast<char>(out[i] ^ 0x80);
        if (bigEndian) std::reverse(out.begin() + i, out.begin() + i + bytes);
    }
    return out;
}

class DialogicPCM : public formattest::FileTest {};

// Writes `samples` as a raw file of `channels` at 8 kHz through the buffers.
void WritePCM(CDialogicPCMFile& f, const std::string& base, short channels, int bits, bool big,
              const std::vector<uint8_t>& samples) {
    ASSERT_EQ(f.ISoundFile(base), 0);
    ASSERT_EQ(f.Create(channels, static_cast<short>(bits), 8000, nullptr,
                       reinterpret_cast<const unsigned char*>("\x03" "raw")),
              0);
    if (!big) f.SetDataType(kDataTypeLittleEndianPCM);
    ASSERT_EQ(formattest::WriteBufferForm(f, 0, samples), 0);
}

TEST_F(DialogicPCM, NameRulesAndRawSettings) {
    const RawSettings raw = Raw(11025, false, 24, 2);
    struct Case {
        const char* name;
        double rate;
        short bits;
        short type;
        uint32_t channels;
    } cases[] = {
        {"x.p16", 8000, 16, kDataTypePCM, 1},  {"x.pc8", 8000, 8, kDataTypePCM, 1},
        {"x.pcm", 8000, 8, kDataTypePCM, 1},   {"x.PCM", 8000, 8, kDataTypePCM, 1},
        {"x.P16", 11025, 24, kDataTypeLittleEndianPCM, 2},
        {"x.raw", 11025, 24, kDataTypeLittleEndianPCM, 2},
        {"p16", 11025, 24, kDataTypeLittleEndianPCM, 2},
    };
    for (const Case& c : cases) {
        const DialogicPCMFormat f = CDialogicPCMFile::FormatForName(c.name, raw);
        EXPECT_EQ(f.sampleRate, c.rate) << c.name;
        EXPECT_EQ(f.wordSize, c.bits) << c.name;
        EXPECT_EQ(f.dataType, c.type) << c.name;
        EXPECT_EQ(f.channels, c.channels) << c.name;
    }
}

// Raw settings no file can hold are refused with a code of the catalogue
// before any division by them.
TEST_F(DialogicPCM, UnusableRawSettingsAreRefused) {
    struct Case {
        RawSettings raw;
        OSErr expected;
    } cases[] = {
        {Raw(8000, true, 16, 0), kDialogicChannelsErr},
        {Raw(8000, true, 16, 1025), kDialogicChannelsErr},
        {Raw(8000, true, 12, 1), kDialogicWordSizeErr},
        {Raw(8000, true, 0, 1), kDialogicWordSizeErr},
        {Raw(0, true, 16, 1), kDialogicSampleRateErr},
    };
    const std::string path = Put("x.raw", std::string(64, '\x01'));
    for (const Case& c : cases) {
        RawSettingsScope scope(c.raw);
        CDialogicPCMFile f;
        ASSERT_EQ(f.ISoundFile(path), 0);
        EXPECT_EQ(f.Open(), c.expected);
        f.Close();
        CDialogicPCMFile g;
        ASSERT_EQ(g.ISoundFile(path), 0);
        OSErr status = 1;
        EXPECT_EQ(g.GetOfflineInfo(&status), c.expected);
        EXPECT_EQ(status, 0);
    }
}

// Every word size and both orders: what is written is the stored form the
// reader reads, and reads back as written, also through the read-back of the
// output buffer. An odd buffer size puts block edges inside the data.
TEST_F(DialogicPCM, WrittenFilesReadBackInBothOrders) {
    for (int bits : {8, 16, 24, 32}) {
        for (bool little : {false, true}) {
            const std::vector<uint8_t> samples = Ramp(bits, 2 * 1001);
            const std::string base = dir / ("w" + std::to_string(bits) + (little ? "l" : "b"));
            {
                CDialogicPCMFile f;
                f.SetSFTBufferSize(333);
                ASSERT_NO_FATAL_FAILURE(WritePCM(f, base, 2, bits, !little, samples));
                // The read-back is the flush's inverse.
                ASSERT_EQ(f.RefreshOutputBuffer(333), 0);
                EXPECT_EQ(std::memcmp(f.GetOutputBuffer(), samples.data() + 333 * 2 * bits / 8,
                                      333 * 2 * bits / 8),
                          0);
                EXPECT_EQ(f.GetNumSFrames(), 1001u);
                ASSERT_EQ(f.Close(), 0);
            }
            const std::string path = base + ".raw";
            EXPECT_EQ(ReadFile(path), Stored(samples, bits, !little)) << bits << little;

            RawSettingsScope scope(Raw(8000, !little, bits, 2));
            CDialogicPCMFile r;
            ASSERT_EQ(r.ISoundFile(path), 0);
            r.SetSFTBufferSize(100);
            ASSERT_EQ(r.Open(), 0);
            EXPECT_EQ(r.GetNumSFrames(), 1001u);
            std::vector<uint8_t> back;
            ASSERT_EQ(formattest::ReadAllFrames(r, &back), 0);
            EXPECT_EQ(back, samples) << bits << little;
        }
    }
}

// The name-ruled files are big-endian, 8-bit ones offset binary.
TEST_F(DialogicPCM, NameRuledFilesRead) {
    const std::string p16 = Put("x.p16", std::string("\x01\x02\xFF\xFE", 4));
    const std::string pc8 = Put("x.pc8", std::string("\x80\x00\xFF", 3));
    CDialogicPCMFile a;
    ASSERT_EQ(a.ISoundFile(p16), 0);
    ASSERT_EQ(a.Open(), 0);
    EXPECT_EQ(a.GetSampleRate(), 8000);
    std::vector<uint8_t> got;
    ASSERT_EQ(formattest::ReadAllFrames(a, &got), 0);
    EXPECT_EQ(formattest::Samples16(got), (std::vector<int16_t>{0x0102, -2}));
    CDialogicPCMFile b;
    ASSERT_EQ(b.ISoundFile(pc8), 0);
    ASSERT_EQ(b.Open(), 0);
    ASSERT_EQ(formattest::ReadAllFrames(b, &got), 0);
    EXPECT_EQ(got, (std::vector<uint8_t>{0x00, 0x80, 0x7F}));
    EXPECT_EQ(b.GetDescription(), "Dialogic PCM (no header)");
}

// sox reads what we write and writes what we read, sample for sample, in
// every word size and order.
TEST_F(DialogicPCM, SoxBothWays) {
    if (!HaveProgram("sox")) GTEST_SKIP() << "sox missing";
    for (int bits : {8, 16, 24, 32}) {
        for (bool big : {true, false}) {
            const std::string tag = std::to_string(bits) + (big ? "B" : "L");
            const std::string soxForm = std::string(bits == 8 ? "-e unsigned" : "-e signed") +
                                        " -b " + std::to_string(bits) + (big ? " -B" : " -L");
            const std::string nativeForm = std::string("-e signed -b ") + std::to_string(bits) + " -L";
            const std::vector<uint8_t> samples = Ramp(bits, 3000);
            // Ours to sox.
            const std::string ours = dir / ("o" + tag);
            {
                CDialogicPCMFile f;
                ASSERT_NO_FATAL_FAILURE(WritePCM(f, ours, 1, bits, big, samples));
                ASSERT_EQ(f.Close(), 0);
            }
            const std::string decoded = dir / ("d" + tag + ".raw");
            ASSERT_TRUE(RunCommand("sox -D -t raw -r 8000 -c 1 " + soxForm + " " +
                                   Quote(ours + ".raw") + " -t raw " + nativeForm + " " +
                                   Quote(decoded)));
            EXPECT_EQ(ReadFile(decoded), std::string(samples.begin(), samples.end())) << tag;
            // sox to ours.
            const std::string native = Put("n" + tag + ".raw", std::string(samples.begin(), samples.end()));
            const std::string theirs = dir / ("t" + tag + ".raw");
            ASSERT_TRUE(RunCommand("sox -D -t raw -r 8000 -c 1 " + nativeForm + " " + Quote(native) +
                                   " -t raw " + soxForm + " " + Quote(theirs)));
            RawSettingsScope scope(Raw(8000, big, bits, 1));
            CDialogicPCMFile r;
            ASSERT_EQ(r.ISoundFile(theirs), 0);
            ASSERT_EQ(r.Open(), 0);
            std::vector<uint8_t> back;
            ASSERT_EQ(formattest::ReadAllFrames(r, &back), 0);
            EXPECT_EQ(back, samples) << tag;
        }
    }
}

// ---------------------------------------------------------------------------
// A-law and µ-law

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Every 16-bit sample, in order.
std::vector<int16_t> EverySample() {
    std::vector<int16_t> out;
    for (int s = -32768; s <= 32767; ++s) out.push_back(static_cast<int16_t>(s));
    return out;
}

const unsigned char kNoExtension[] = {0};

template <class File>
OSErr WriteCompanded(const std::string& path, const std::vector<int16_t>& samples) {
    File f;
    if (OSErr err = f.ISoundFile(path)) return err;
    f.SetSFTBufferSize(4097);
    if (OSErr err = f.Create(1, 16, 8000, nullptr, kNoExtension)) return err;
    if (OSErr err = formattest::WriteBufferForm(f, 0, formattest::Native16(samples))) return err;
    return f.Close();
}

template <class File>
std::vector<int16_t> ReadCompanded(const std::string& path, double* rate = nullptr) {
    File f;
    std::vector<uint8_t> bytes;
    f.SetSFTBufferSize(1000);
    if (f.ISoundFile(path) || f.Open() || formattest::ReadAllFrames(f, &bytes)) return {};
    if (rate) *rate = f.GetSampleRate();
    return formattest::Samples16(bytes);
}

// The reference conversions code and expand as the file classes' functions on
// every input (which g711_test holds to an independent codec).
TEST(DialogicG711, ReferenceConversionsOnEveryInput) {
    for (int s = -40000; s <= 40000; ++s) {
        const int16_t clamped = static_cast<int16_t>(std::clamp(s, -32768, 32767));
        ASSERT_EQ(linear2alaw(s), to_alaw(clamped)) << s;
        ASSERT_EQ(linear2ulaw(s), to_mulaw(clamped)) << s;
    }
    for (int code = 0; code < 256; ++code) {
        const auto c = static_cast<unsigned char>(code);
        EXPECT_EQ(alaw2linear(c), from_alaw(c));
        EXPECT_EQ(ulaw2linear(c), mulaw[c]);
    }
}

class DialogicCompanded : public formattest::FileTest {};

TEST_F(DialogicCompanded, RatesFromTheNameAndOneFramePerByte) {
    std::string codes;
    for (int c = 0; c < 256; ++c) codes += static_cast<char>(c);
    struct Case {
        const char* name;
        double rate;
    } cases[] = {{"call.al8", 8000}, {"call.ul6", 6000}, {"call.vox", 8000}, {"call", 8000}};
    for (const Case& c : cases) {
        const std::string path = Put(c.name, codes);
        double rate = 0;
        const std::vector<int16_t> a = ReadCompanded<CDialogicALawFile>(path, &rate);
        EXPECT_EQ(rate, c.rate) << c.name;
        const std::vector<int16_t> u = ReadCompanded<CDialogicULawFile>(path);
        ASSERT_EQ(a.size(), 256u) << c.name;
        ASSERT_EQ(u.size(), 256u) << c.name;
        for (int code = 0; code < 256; ++code) {
            EXPECT_EQ(a[code], from_alaw(static_cast<uint8_t>(code)));
            EXPECT_EQ(u[code], mulaw[code]);
        }
        CDialogicULawFile info;
        ASSERT_EQ(info.ISoundFile(path), 0);
        OSErr status = 1;
        EXPECT_EQ(info.GetOfflineInfo(&status), 0);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(info.GetNumSFrames(), 256u);
        EXPECT_FALSE(info.IsOpen());
    }
}

TEST_F(DialogicCompanded, WritingCodesEverySampleAndRefusesStereo) {
    const std::vector<int16_t> all = EverySample();
    ASSERT_EQ(WriteCompanded<CDialogicALawFile>(dir / "a", all), 0);
    ASSERT_EQ(WriteCompanded<CDialogicULawFile>(dir / "u", all), 0);
    const std::string a = ReadFile(dir / "a.al8");
    const std::string u = ReadFile(dir / "u.ul8");
    ASSERT_EQ(a.size(), all.size());
    ASSERT_EQ(u.size(), all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        ASSERT_EQ(static_cast<uint8_t>(a[i]), to_alaw(all[i])) << all[i];
        ASSERT_EQ(static_cast<uint8_t>(u[i]), to_mulaw(all[i])) << all[i];
    }
    EXPECT_EQ(static_cast<uint8_t>(u.back()), 0x80);  // full-scale positive
    CDialogicALawFile stereoA;
    CDialogicULawFile stereoU;
    for (CSoundFile* stereo : {static_cast<CSoundFile*>(&stereoA), static_cast<CSoundFile*>(&stereoU)}) {
        ASSERT_EQ(stereo->ISoundFile(dir / "s"), 0);
        EXPECT_EQ(stereo->Create(2, 16, 8000, nullptr, kNoExtension), kDialogicChannelsErr);
    }
}

// A block written past the end leaves silence before it, and the read-back of
// the output buffer expands what is stored.
TEST_F(DialogicCompanded, GapsAreSilenceAndReadBackExpands) {
    CDialogicALawFile f;
    ASSERT_EQ(f.ISoundFile(dir / "g"), 0);
    ASSERT_EQ(f.Create(1, 16, 8000, nullptr, kNoExtension), 0);
    ASSERT_EQ(formattest::WriteBufferForm(f, 100, formattest::Native16({1000, -1000})), 0);
    EXPECT_EQ(f.GetNumSFrames(), 102u);
    ASSERT_EQ(f.RefreshOutputBuffer(99), 0);
    const auto* out = reinterpret_cast<const int16_t*>(f.GetOutputBuffer());
    EXPECT_EQ(out[0], from_alaw(to_alaw(0)));
    EXPECT_EQ(out[1], from_alaw(to_alaw(1000)));
    EXPECT_EQ(out[2], from_alaw(to_alaw(-1000)));
    ASSERT_EQ(f.Close(), 0);
    EXPECT_EQ(f.Close(), kFileNotOpenBaseErr);
    const std::string bytes = ReadFile(dir / "g.al8");
    ASSERT_EQ(bytes.size(), 102u);
    EXPECT_EQ(bytes.substr(0, 100), std::string(100, static_cast<char>(to_alaw(0))));
}

// sox and ffmpeg decode our files as we do, and we read theirs as they do.
TEST_F(DialogicCompanded, PeersBothWays) {
    struct Peer {
        const char* program;
        std::string decodeA, decodeU, encodeA, encodeU;  // {in} {out}
    };
    const std::string s16 = "-t raw -e signed -b 16 -L -r 8000 -c 1";
    const std::string f16 = "-f s16le -ar 8000 -ac 1";
    const Peer peers[] = {
        {"sox", "sox -D -t al -r 8000 -c 1 {in} " + s16 + " {out}",
         "sox -D -t ul -r 8000 -c 1 {in} " + s16 + " {out}",
         "sox -D " + s16 + " {in} -t al {out}", "sox -D " + s16 + " {in} -t ul {out}"},
        {"ffmpeg", "ffmpeg -y -f alaw -ar 8000 -ac 1 -i {in} " + f16 + " {out}",
         "ffmpeg -y -f mulaw -ar 8000 -ac 1 -i {in} " + f16 + " {out}",
         "ffmpeg -y " + f16 + " -i {in} -f alaw {out}", "ffmpeg -y " + f16 + " -i {in} -f mulaw {out}"},
    };
    const auto run = [](std::string command, const std::string& in, const std::string& out) {
        command.replace(command.find("{in}"), 4, Quote(in));
        command.replace(command.find("{out}"), 5, Quote(out));
        return RunCommand(command);
    };
    const std::vector<int16_t> all = EverySample();
    ASSERT_EQ(WriteCompanded<CDialogicALawFile>(dir / "a", all), 0);
    ASSERT_EQ(WriteCompanded<CDialogicULawFile>(dir / "u", all), 0);
    const std::vector<int16_t> oursA = ReadCompanded<CDialogicALawFile>(dir / "a.al8");
    const std::vector<int16_t> oursU = ReadCompanded<CDialogicULawFile>(dir / "u.ul8");
    const std::string native = dir / "all.raw";
    WriteFile(native, std::string(reinterpret_cast<const char*>(all.data()), all.size() * 2));
    for (const Peer& p : peers) {
        if (!HaveProgram(p.program)) continue;
        const std::string d = dir / (std::string(p.program) + ".raw");
        ASSERT_TRUE(run(p.decodeA, dir / "a.al8", d)) << p.program;
        EXPECT_EQ(formattest::Samples16(Bytes(ReadFile(d))), oursA) << p.program;
        ASSERT_TRUE(run(p.decodeU, dir / "u.ul8", d)) << p.program;
        EXPECT_EQ(formattest::Samples16(Bytes(ReadFile(d))), oursU) << p.program;

        const std::string ta = dir / (std::string(p.program) + "-theirs.al8");
        const std::string tu = dir / (std::string(p.program) + "-theirs.ul8");
        ASSERT_TRUE(run(p.encodeA, native, ta)) << p.program;
        ASSERT_TRUE(run(p.encodeU, native, tu)) << p.program;
        ASSERT_TRUE(run(p.decodeA, ta, d)) << p.program;
        EXPECT_EQ(ReadCompanded<CDialogicALawFile>(ta),
                  formattest::Samples16(Bytes(ReadFile(d)))) << p.program;
        ASSERT_TRUE(run(p.decodeU, tu, d)) << p.program;
        EXPECT_EQ(ReadCompanded<CDialogicULawFile>(tu),
                  formattest::Samples16(Bytes(ReadFile(d)))) << p.program;
    }
}

}  // namespace
