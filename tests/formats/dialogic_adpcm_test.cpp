// Dialogic, VAP and Pika ADPCM files: held to an independent OKI coder
// (spandsp) both ways, the decoder's positioning rules, the VAP header, the
// coding on close (cancel, a source file) and sox's vox codec.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/telephony/dialogic_adpcm_file.h"
#include "formats/register_sound_files.h"
#include "formats/telephony/dialogic_file.h"
#include "platform/thread_context.h"
#include "soundfile/progress.h"
#include "soundfile/raw_settings.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

#define SPANDSP_EXPOSE_INTERNAL_STRUCTURES
extern "C" {
#include <spandsp/telephony.h>
#include <spandsp/oki_adpcm.h>
#include <spandsp/private/oki_adpcm.h>
}

using formattest::Quote;
using formattest::RunCommand;
using testsupport::HaveProgram;
using testsupport::ReadFile;

namespace {

const unsigned char kNoExtension[] = {0};

// A voice-like test signal: two tones and a slow sweep, with a silent stretch.
std::vector<int16_t> Signal(size_t n) {
    std::vector<int16_t> out(n);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        double v = 9000 * std::sin(2 * M_PI * 440 * t) + 6000 * std::sin(2 * M_PI * (200 + 900 * t) * t);
        if (i % 4000 > 3500) v = 0;
        out[i] = static_cast<int16_t>(std::lround(v));
    }
    return out;
}

// spandsp's coder, started as ours: predictor -2.
oki_adpcm_state_t* PeerCoder() {
    oki_adpcm_state_t* s = oki_adpcm_init(nullptr, 32000);
    s->last = -2;
    return s;
}

std::string PeerEncode(const std::vector<int16_t>& samples) {
    oki_adpcm_state_t* s = PeerCoder();
    std::string out(samples.size() / 2 + 1, '\0');
    const int n = oki_adpcm_encode(s, reinterpret_cast<uint8_t*>(out.data()), samples.data(),
                                   static_cast<int>(samples.size()));
    oki_adpcm_free(s);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::vector<int16_t> PeerDecode(const std::string& bytes) {
    oki_adpcm_state_t* s = PeerCoder();
    std::vector<int16_t> out(bytes.size() * 2);
    const int n = oki_adpcm_decode(s, out.data(), reinterpret_cast<const uint8_t*>(bytes.data()),
                                   static_cast<int>(bytes.size()));
    oki_adpcm_free(s);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string SwapNibbles(std::string bytes) {
    for (char& c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        c = static_cast<char>(static_cast<uint8_t>((b << 4) | (b >> 4)));
    }
    return bytes;
}

// A VAP header as the format lays it out, for a name, with the data after it.
std::string VAPFile(uint32_t rate, const std::string& name, const std::string& data,
                    uint32_t offsetField = 0) {
    std::string h(36, '\0');
    const auto put = [&h](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) h[at + i] = static_cast<char>(v >> (8 * i));
    };
    put(0, 1);
    put(4, rate);
    put(8, 1);
    put(24, offsetField ? offsetField : static_cast<uint32_t>(name.size() + 37));
    put(28, static_cast<uint32_t>(data.size()));
    put(32, 36);
    return h + name + std::string(1, '\0') + data;
}

template <class File>
OSErr ReadAll(const std::string& path, std::vector<int16_t>* out, uint32_t buffer = 333) {
    File f;
    f.SetSFTBufferSize(buffer);
    if (OSErr err = f.ISoundFile(path)) return err;
    if (OSErr err = f.Open()) return err;
    std::vector<uint8_t> bytes;
    if (OSErr err = formattest::ReadAllFrames(f, &bytes)) return err;
    *out = formattest::Samples16(bytes);
    return f.Close();
}

// Writes the samples through a new file of the class (blocks of an odd size)
// and closes it: the file's path.
template <class File>
std::string Write(const std::string& base, const std::vector<int16_t>& samples,
                  const unsigned char* extension = kNoExtension, OSErr* closed = nullptr) {
    File f;
    f.SetSFTBufferSize(333);
    EXPECT_EQ(f.ISoundFile(base), 0);
    EXPECT_EQ(f.Create(1, 16, 8000, nullptr, extension), 0);
    EXPECT_EQ(formattest::WriteBufferForm(f, 0, formattest::Native16(samples)), 0);
    const std::string path = f.GetPath();
    const OSErr err = f.Close();
    if (closed)
        *closed = err;
    else
        EXPECT_EQ(err, 0);
    return path;
}

size_t FilesIn(const std::string& dir) {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) n += e.is_regular_file() ? 1 : 0;
    return n;
}

class DialogicADPCM : public formattest::FileTest {
protected:
    void SetUp() override { RegisterSoundFiles(CSoundFile::GetFileTypeInfo()); }
    void TearDown() override {
        CorvaOutFile::Clear();
        ResetRawSettings();
        formattest::FileTest::TearDown();
    }
};

TEST(OKICodec, StepTableAndResetValues) {
    for (size_t n = 0; n < oki::kStepTable.size(); ++n)
        EXPECT_EQ(oki::kStepTable[n], static_cast<int16_t>(std::floor(16 * std::pow(1.1L, n))))
            << n;
    oki::State s;
    EXPECT_EQ(oki::Decode(s, 0), 0);
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(oki::Decode(s, 0), 32 * i);
    oki::State t;
    EXPECT_EQ(oki::Decode(t, 8), -64);
}

// Files of every byte pattern decode as the peer decodes the data.
TEST_F(DialogicADPCM, ReadsAsThePeerDecodes) {
    std::string data;
    for (int i = 0; i < 5000; ++i) data += static_cast<char>((i * 37 + i / 256) & 0xFF);
    const std::vector<int16_t> peer = PeerDecode(data);
    std::vector<int16_t> got;
    ASSERT_EQ(ReadAll<CDialogicADPCMFile>(Put("x.ap8", data), &got), 0);
    EXPECT_EQ(got, peer);
    ASSERT_EQ(ReadAll<CPikaADPCMFile>(Put("x.pi8", SwapNibbles(data)), &got), 0);
    EXPECT_EQ(got, peer);
    ASSERT_EQ(ReadAll<CDialogicVAPFile>(Put("x.vap", VAPFile(8000, "x.vap", data)), &got), 0);
    EXPECT_EQ(got, peer);
}

// What we write is what the peer's encoder makes of the same samples; an odd
// block size carries the half byte from one block to the next, and an odd
// frame count leaves the last byte with only its first nibble.
TEST_F(DialogicADPCM, WritesAsThePeerEncodes) {
    const std::vector<int16_t> samples = Signal(8001);
    const std::string peer = PeerEncode(std::vector<int16_t>(samples.begin(), samples.end() - 1));
    ASSERT_EQ(peer.size(), 4000u);
    oki::State state;
    for (size_t i = 0; i + 1 < samples.size(); ++i) oki::Encode(state, samples[i]);
    const auto last = static_cast<uint8_t>(oki::Encode(state, samples.back()));

    const std::string d = ReadFile(Write<CDialogicADPCMFile>(dir / "d", samples));
    EXPECT_EQ(d, peer + static_cast<char>(last << 4));
    const std::string p = ReadFile(Write<CPikaADPCMFile>(dir / "p", samples));
    EXPECT_EQ(p, SwapNibbles(peer) + static_cast<char>(last));
    const std::string v = ReadFile(Write<CDialogicVAPFile>(dir / "v", samples));
    ASSERT_GT(v.size(), 42u);
    EXPECT_EQ(v.substr(42), peer + static_cast<char>(last << 4));
    EXPECT_EQ(FilesIn(dir.path()), 3u);  // no temporary file left
}

TEST_F(DialogicADPCM, RatesFramesAndNibbleOrder) {
    CSoundFile::SetRawSettings(RawSettings(FourCC("DPCM"), 11025, true, 16, RawSettings::kRawReadAsRaw));
    struct Case {
        const char* name;
        bool pika;
        double rate;
    } cases[] = {{"x.ap9", false, 32000}, {"x.ap6", false, 6000}, {"x.vox", false, 11025},
                 {"x.pi8", true, 8000},   {"x.pi6", true, 6000},   {"y.vox", true, 11025}};
    for (const Case& c : cases) {
        const std::string path = Put(c.name, std::string("\x12\x12\x12", 3));
        std::unique_ptr<CSoundFile> f(c.pika ? static_cast<CSoundFile*>(new CPikaADPCMFile)
                                             : new CDialogicADPCMFile);
        ASSERT_EQ(f->ISoundFile(path), 0);
        ASSERT_EQ(f->Open(), 0) << c.name;
        EXPECT_EQ(f->GetSampleRate(), c.rate) << c.name;
        EXPECT_EQ(f->GetNumSFrames(), 6u);
        ASSERT_EQ(f->RefreshInputBuffer(0), 0);
        oki::State s;
        const unsigned first = c.pika ? 2 : 1, second = c.pika ? 1 : 2;
        const auto* got = reinterpret_cast<const int16_t*>(f->GetInputBuffer());
        EXPECT_EQ(got[0], oki::Decode(s, first)) << c.name;
        EXPECT_EQ(got[1], oki::Decode(s, second)) << c.name;
    }
}

// The decoder serves any refresh, in any order, with the state of that frame,
// and the per-channel read its kept samples when it steps back.
TEST_F(DialogicADPCM, RefreshesAndStepBacks) {
    std::string data;
    for (int i = 0; i < 3000; ++i) data += static_cast<char>((i * 91 + 7) & 0xFF);
    const std::vector<int16_t> whole = PeerDecode(data);
    const std::string path = Put("r.ap8", data);
    CDialogicADPCMFile f;
    f.SetSFTBufferSize(101);
    ASSERT_EQ(f.ISoundFile(path), 0);
    ASSERT_EQ(f.Open(), 0);
    for (uint32_t frame : {0u, 505u, 17u, 17u, 4000u, 5999u, 1u, 3333u}) {
        ASSERT_EQ(f.RefreshInputBuffer(frame), 0) << frame;
        const auto* got = reinterpret_cast<const int16_t*>(f.GetInputBuffer());
        const uint32_t n = std::min<uint32_t>(101, 6000 - frame);
        for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(got[i], whole[frame + i]) << frame << "+" << i;
        if (n < 101) {
            EXPECT_EQ(got[n], 0);  // the rest is cleared
        }
    }

    const auto scaled = [&](uint32_t frame) { return whole[frame] * 3.051758e-05; };
    std::vector<double> out(400);
    struct Step {
        uint32_t start, count;
        OSErr err;
        uint32_t delivered;
    } steps[] = {
        {0, 250, 0, 250},    // from the start
        {248, 150, 0, 150},  // two back, then on
        {397, 1, 0, 1},      // one back, fewer than kept
        {397, 10, 0, 10},    // one back again
        {405, 1, 0, 1},      // two back for one frame: only what was asked
        {405, 3, 0, 3},      // two back again, then on
        {300, 5, kADPCMStepBackErr, 0},
        {0, 3, 0, 3},        // from the start again
        {5990, 50, kADPCMStepBackErr, 0},
    };
    for (const Step& s : steps) {
        uint32_t count = s.count;
        EXPECT_EQ(f.Read(0, s.start, &count, out.data()), s.err) << s.start;
        ASSERT_EQ(count, s.delivered) << s.start;
        for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(out[i], scaled(s.start + i)) << s.start;
    }
    uint32_t none = 5;
    EXPECT_EQ(f.Read(0, 6000, &none, out.data()), 0);
    EXPECT_EQ(none, 0u);
}

TEST_F(DialogicADPCM, VAPHeader) {
    const std::vector<int16_t> samples = Signal(101);
    const std::string path = Write<CDialogicVAPFile>(dir / "a", samples);
    EXPECT_EQ(path, dir / "a.vap");
    // The header as the format lays it out: offset 42, 50 bytes of codes (101 nibbles).
    const std::string v = ReadFile(path);
    ASSERT_EQ(v.size(), 42u + 51u);
    EXPECT_EQ(v.substr(0, 42), VAPFile(8000, "a.vap", std::string(50, 'x')).substr(0, 42));

    // A final name from the conversion context replaces the placeholder.
    platform::ThreadContext context;
    context.values[kFinalOutputNameKey] = std::string("call 7");
    {
        platform::ScopedThreadContext scope(&context);
        const std::string named =
            Write<CDialogicVAPFile>(dir / CorvaOutFile::NewPlaceholderName(), samples);
        EXPECT_EQ(ReadFile(named).substr(36, 11), std::string("call 7.vap\0", 11));
    }

    struct Bad {
        const char* what;
        std::string bytes;
    } bad[] = {
        {"short", VAPFile(8000, "b", "").substr(0, 35)},
        {"offset below the header", VAPFile(8000, "b", "xx", 35)},
        {"offset past the end", VAPFile(8000, "b", "xx", 100)},
        {"rate 0", VAPFile(0, "b", "xx")},
    };
    for (const Bad& b : bad) {
        CDialogicVAPFile f;
        ASSERT_EQ(f.ISoundFile(Put("b.vap", b.bytes)), 0);
        EXPECT_EQ(f.Open(), kVAPBadHeaderErr) << b.what;
        f.Close();
        CDialogicVAPFile g;
        ASSERT_EQ(g.ISoundFile(dir / "b.vap"), 0);
        OSErr status = 1;
        EXPECT_EQ(g.GetOfflineInfo(&status), kVAPBadHeaderErr) << b.what;
    }
}

// While written, the output reads back what it was given (its temporary file).
TEST_F(DialogicADPCM, WrittenSamplesReadBackBeforeClosing) {
    const std::vector<int16_t> samples = Signal(1000);
    CDialogicADPCMFile f;
    f.SetSFTBufferSize(333);
    ASSERT_EQ(f.ISoundFile(dir / "w"), 0);
    ASSERT_EQ(f.Create(1, 16, 8000, nullptr, kNoExtension), 0);
    ASSERT_EQ(formattest::WriteBufferForm(f, 0, formattest::Native16(samples)), 0);
    EXPECT_EQ(f.GetNumSFrames(), 1000u);
    ASSERT_EQ(f.RefreshInputBuffer(333), 0);
    EXPECT_EQ(std::memcmp(f.GetInputBuffer(), samples.data() + 333, 333 * 2), 0);
    std::vector<double> out(10);
    uint32_t count = 10;
    ASSERT_EQ(f.Read(0, 990, &count, out.data()), 0);
    ASSERT_EQ(count, 10u);
    EXPECT_NEAR(out[9], samples[999] / 32768.0, 1e-4);
    // Writing on after the read-back.
    ASSERT_EQ(formattest::WriteBufferForm(f, 1000, formattest::Native16(samples)), 0);
    ASSERT_EQ(f.Close(), 0);
    std::vector<int16_t> twice = samples;
    twice.insert(twice.end(), samples.begin(), samples.end());
    EXPECT_EQ(ReadFile(dir / "w.ap8"), PeerEncode(twice));
}

TEST_F(DialogicADPCM, CancelAndRefusals) {
    platform::ThreadContext context;
    context.lastError = kUserCanceledErr;
    {
        platform::ScopedThreadContext scope(&context);
        OSErr closed = 0;
        Write<CDialogicADPCMFile>(dir / "c", Signal(100), kNoExtension, &closed);
        EXPECT_EQ(closed, kUserCanceledErr);
    }
    EXPECT_EQ(FilesIn(dir.path()), 1u);  // the output alone, for the engine to delete

    CPikaADPCMFile stereo;
    ASSERT_EQ(stereo.ISoundFile(dir / "s"), 0);
    EXPECT_EQ(stereo.Create(2, 16, 8000, nullptr, kNoExtension), kADPCMChannelsErr);
    EXPECT_EQ(FilesIn(dir.path()), 1u);

    // Discarded outputs are not coded.
    CDialogicADPCMFile* kept = new CDialogicADPCMFile;
    ASSERT_EQ(kept->ISoundFile(dir / "k"), 0);
    ASSERT_EQ(kept->Create(1, 16, 8000, nullptr, kNoExtension), 0);
    ASSERT_EQ(formattest::WriteBufferForm(*kept, 0, formattest::Native16(Signal(100))), 0);
    EXPECT_EQ(kept->Dispose(0), 0);
    EXPECT_EQ(ReadFile(dir / "k.ap8"), "");
}

// Coding straight from a source file leaves the source open and whole.
TEST_F(DialogicADPCM, CodesFromASource) {
    const std::vector<int16_t> samples = Signal(2001);
    std::string big;
    for (int16_t s : samples) {
        big += static_cast<char>(static_cast<uint16_t>(s) >> 8);
        big += static_cast<char>(s & 0xFF);
    }
    const std::string sourcePath = Put("in.p16", big);
    CDialogicPCMFile source;
    source.SetSFTBufferSize(500);
    ASSERT_EQ(source.ISoundFile(sourcePath), 0);
    ASSERT_EQ(source.Open(), 0);
    for (int pika = 0; pika < 2; ++pika) {
        std::unique_ptr<CDialogicNibbleFile> out(pika ? static_cast<CDialogicNibbleFile*>(new CPikaADPCMFile)
                                                      : new CDialogicADPCMFile);
        ASSERT_EQ(out->ISoundFile(dir / (pika ? "sp" : "sd")), 0);
        ASSERT_EQ(out->Create(&source, 1, 16, 8000, nullptr, kNoExtension), 0);
        EXPECT_EQ(out->GetNumSFrames(), 2001u);
        ASSERT_EQ(out->Close(), 0);
        const std::string peer = PeerEncode(std::vector<int16_t>(samples.begin(), samples.end() - 1));
        const std::string got = ReadFile(out->GetPath());
        ASSERT_EQ(got.size(), 1001u);
        EXPECT_EQ(got.substr(0, 1000), pika ? SwapNibbles(peer) : peer);
        EXPECT_TRUE(source.IsOpen());
    }
    EXPECT_EQ(ReadFile(sourcePath), big);
    EXPECT_EQ(FilesIn(dir.path()), 3u);
}

// sox's vox codec (and ffmpeg's decoder) round otherwise and start from another predictor, so the
// decodings drift apart (about 7.5 dB against the signal when sox decodes our
// codes, 19 dB the other way); a wrong nibble order or step table gives 0 dB
// or less.
TEST_F(DialogicADPCM, PeerVoxCodecs) {
    if (!HaveProgram("sox")) GTEST_SKIP() << "sox missing";
    std::vector<int16_t> samples(16000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * i / 8000.0) +
                                          3000 * std::sin(2 * M_PI * 1250 * i / 8000.0));
    const auto snr = [&samples](const std::vector<int16_t>& b) {
        double signal = 0, noise = 0;
        for (size_t i = 0; i < samples.size() && i < b.size(); ++i) {
            signal += double(samples[i]) * samples[i];
            noise += (double(samples[i]) - b[i]) * (double(samples[i]) - b[i]);
        }
        return samples.size() == b.size() ? 10 * std::log10(signal / std::max(noise, 1.0)) : -1.0;
    };
    const auto soxDecode = [this](const std::string& path) {
        const std::string out = dir / "decoded.raw";
        EXPECT_TRUE(RunCommand("sox -D -t vox -r 8000 " + Quote(path) +
                               " -t raw -e signed -b 16 -L " + Quote(out)));
        const std::string text = ReadFile(out);
        return formattest::Samples16(std::vector<uint8_t>(text.begin(), text.end()));
    };
    const std::string ours = Write<CDialogicADPCMFile>(dir / "o", std::vector<int16_t>(samples));
    EXPECT_GT(snr(soxDecode(ours)), 5.0);

    // ffmpeg decodes the codes (adpcm_ima_oki) when a WAVE header of format
    // 0x0010 carries them, much as sox does.
    if (HaveProgram("ffmpeg")) {
        const std::string codes = ReadFile(ours);
        const auto le = [](uint32_t v, int bytes) {
            std::string out;
            for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
            return out;
        };
        const std::string fmt = le(0x10, 2) + le(1, 2) + le(8000, 4) + le(4000, 4) + le(1, 2) + le(4, 2);
        const std::string wave = "RIFF" + le(static_cast<uint32_t>(28 + fmt.size() + codes.size()), 4) +
                                 "WAVEfmt " + le(static_cast<uint32_t>(fmt.size()), 4) + fmt + "data" +
                                 le(static_cast<uint32_t>(codes.size()), 4) + codes;
        const std::string wrapped = Put("o.wav", wave);
        const std::string out = dir / "ffmpeg.raw";
        ASSERT_TRUE(RunCommand("ffmpeg -y -i " + Quote(wrapped) + " -f s16le " + Quote(out)));
        const std::string text = ReadFile(out);
        EXPECT_GT(snr(formattest::Samples16(std::vector<uint8_t>(text.begin(), text.end()))), 5.0);
    }

    const std::string native = dir / "n.raw";
    testsupport::WriteFile(native, std::string(reinterpret_cast<const char*>(samples.data()),
                                               samples.size() * 2));
    const std::string theirs = dir / "t.ap8";
    ASSERT_TRUE(RunCommand("sox -D -t raw -r 8000 -e signed -b 16 -L -c 1 " + Quote(native) +
                           " -t vox " + Quote(theirs)));
    std::vector<int16_t> decoded;
    ASSERT_EQ(ReadAll<CDialogicADPCMFile>(theirs, &decoded), 0);
    EXPECT_GT(snr(decoded), 12.0);
}

}  // namespace
