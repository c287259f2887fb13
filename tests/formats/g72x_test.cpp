// The G.726-family coder against an independent one (spandsp) at all four
// rates, both ways; the CCITT code-stream files: frame counts, bit packing,
// twin types, reads at any frame, and the coded-file protocol.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/register_sound_files.h"
#include "formats/telephony/ccitt_file.h"
#include "formats/telephony/g72x.h"
#include "foundation/pstring.h"
#include "platform/thread_context.h"
#include "soundfile/coded_file.h"
#include "soundfile/progress.h"
#include "soundfile/surround_file.h"

extern "C" {
#include <spandsp/telephony.h>
#include <spandsp/bitstream.h>
#include <spandsp/g726.h>
}

namespace {

using formattest::FileTest;

using Encoder = int (*)(int, int, g72x_state*);
using Decoder = int (*)(int, int, g72x_state*);

struct Coder {
    int bits;
    Encoder encode;
    Decoder decode;
};

const Coder kCoders[] = {
    {2, g723_16_encoder, g723_16_decoder},
    {3, g723_24_encoder, g723_24_decoder},
    {4, g721_encoder, g721_decoder},
    {5, g723_40_encoder, g723_40_decoder},
};

// Speech-like and hostile material in one run: swept tones at many levels,
// noise, silence, full-scale square waves, a steady two-tone signal (the tone
// detector) that breaks off (the transition detector).
std::vector<int16_t> TestSignal() {
    std::vector<int16_t> s;
    uint32_t seed = 12345;
    auto noise = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) & 0x7FFF) - 16384;
    };
    const double pi = std::acos(-1.0);
    for (int i = 0; i < 24000; ++i) {
        const double level = std::pow(10.0, -3.0 * ((i / 3000) % 8) / 8.0);
        const double f = 100.0 + 3500.0 * (i % 8000) / 8000.0;
        s.push_back(static_cast<int16_t>(std::lround(
            32000.0 * level * std::sin(2 * pi * f * i / 8000.0) * (0.8 + 0.2 * std::sin(i / 50.0)))));
    }
    for (int i = 0; i < 4000; ++i) s.push_back(static_cast<int16_t>(noise() * ((i / 1000) + 1) / 2));
    for (int i = 0; i < 1000; ++i) s.push_back(0);
    for (int i = 0; i < 2000; ++i) s.push_back((i / 7) % 2 ? 32767 : -32768);
    for (int i = 0; i < 8000; ++i)
        s.push_back(static_cast<int16_t>(std::lround(
            12000.0 * (std::sin(2 * pi * 697 * i / 8000.0) + std::sin(2 * pi * 1209 * i / 8000.0)))));
    for (int i = 0; i < 3000; ++i) s.push_back(static_cast<int16_t>(noise() / 64));
    return s;
}

// spandsp's coder for a rate, one code per byte.
struct Peer {
    explicit Peer(int bits) : state(g726_init(nullptr, 8000 * bits, G726_ENCODING_LINEAR,
                                              G726_PACKING_NONE)) {}
    ~Peer() { g726_free(state); }
    g726_state_t* state;
};

std::vector<uint8_t> PeerCodes(const std::vector<int16_t>& samples, int bits) {
    Peer peer(bits);
    std::vector<int16_t> in(samples);
    std::vector<uint8_t> codes(samples.size());
    EXPECT_EQ(static_cast<int>(samples.size()),
              g726_encode(peer.state, codes.data(), in.data(), static_cast<int>(in.size())));
    return codes;
}

TEST(G72xCoder, CodesEqualThePeersAtEveryRate) {
    const std::vector<int16_t> signal = TestSignal();
    for (const Coder& c : kCoders) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits");
        const std::vector<uint8_t> want = PeerCodes(signal, c.bits);
        g72x_state state;
        g72x_init_state(&state);
        int mismatches = 0;
        for (size_t i = 0; i < signal.size(); ++i) {
            const int code = c.encode(signal[i], kG72xLinearCoding, &state);
            ASSERT_GE(code, 0);
            ASSERT_LT(code, 1 << c.bits);
            if (code != want[i] && ++mismatches < 5)
                ADD_FAILURE() << "sample " << i << ": code " << code << ", peer " << int(want[i]);
        }
        EXPECT_EQ(0, mismatches);
    }
}

// Every code stream decodes to the peer's samples, the peer's own codes and
// random codes alike; where the peer's 16-bit result wraps, ours is held at
// the end of the range instead.
TEST(G72xCoder, DecodedSamplesEqualThePeersAtEveryRate) {
    const std::vector<int16_t> signal = TestSignal();
    for (const Coder& c : kCoders) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits");
        std::vector<uint8_t> codes = PeerCodes(signal, c.bits);
        uint32_t seed = 99;
        for (int i = 0; i < 20000; ++i) {
            seed = seed * 1664525u + 1013904223u;
            codes.push_back(static_cast<uint8_t>((seed >> 20) & ((1 << c.bits) - 1)));
        }
        Peer peer(c.bits);
        std::vector<int16_t> want(codes.size());
        ASSERT_EQ(static_cast<int>(codes.size()),
                  g726_decode(peer.state, want.data(), codes.data(), static_cast<int>(codes.size())));
        g72x_state state;
        g72x_init_state(&state);
        int mismatches = 0, held = 0;
        for (size_t i = 0; i < codes.size(); ++i) {
            const int got = c.decode(codes[i], kG72xLinearCoding, &state);
            ASSERT_GE(got, -32768);
            ASSERT_LE(got, 32767);
            if (got == 32767 || got == -32768) {
                if (i < signal.size()) ++held;
                continue;
            }
            if (got != want[i] && ++mismatches < 5)
                ADD_FAILURE() << "code " << i << ": sample " << got << ", peer " << want[i];
        }
        EXPECT_EQ(0, mismatches);
        // Only the loud parts of the test signal (full-scale squares) reach the ends.
        EXPECT_LT(held, static_cast<int>(signal.size() / 20));
    }
}

// ---- CCITT files ----------------------------------------------------------------

struct FileType {
    const char* code;
    int bits;
    CCITTFile* (*make)();
    const char* twin;  // the type writing the same bytes
};

template <class T>
CCITTFile* Make() {
    return new T;
}

const FileType kTypes[] = {
    {"23-2", 2, Make<CCITT723_16File>, nullptr},
    {"23-3", 3, Make<CCITT723_24File>, "26-3"},
    {"21-4", 4, Make<CCITT721File>, "26-4"},
    {"23-5", 5, Make<CCITT723_40File>, "26-5"},
    {"26-3", 3, Make<CCITT726_3File>, "23-3"},
    {"26-4", 4, Make<CCITT726_4File>, "21-4"},
    {"26-5", 5, Make<CCITT726_5File>, "23-5"},
};

using CCITTPtr = std::unique_ptr<CCITTFile, SoundFileDisposer>;

// Codes packed least significant bit first; the bits of a last incomplete byte dropped.
std::string Pack(const std::vector<uint8_t>& codes, int bits) {
    std::string out;
    uint32_t acc = 0;
    int have = 0;
    for (uint8_t c : codes) {
        acc |= static_cast<uint32_t>(c) << have;
        have += bits;
        while (have >= 8) {
            out.push_back(static_cast<char>(acc & 0xFF));
            acc >>= 8;
            have -= 8;
        }
    }
    return out;
}

class CCITTFileTest : public FileTest {
protected:
    void SetUp() override { RegisterSoundFiles(CSoundFile::GetFileTypeInfo()); }
    void TearDown() override {
        CorvaOutFile::Clear();
        FileTest::TearDown();
    }

    CCITTPtr OpenFile(const FileType& t, const std::string& path, uint32_t bufferFrames = 12288) {
        CCITTPtr f(t.make());
        EXPECT_EQ(0, f->ISoundFile(path));
        f->SetSFTBufferSize(bufferFrames);
        EXPECT_EQ(0, f->Open()) << path;
        return f;
    }

    // Writes the samples through the buffers in blocks of `block` frames and closes.
    std::string WriteFile(const FileType& t, const std::string& name,
                          const std::vector<int16_t>& samples, uint32_t block = 1000) {
        CCITTPtr f(t.make());
        EXPECT_EQ(0, f->ISoundFile(dir / name));
        f->SetSFTBufferSize(block);
        EXPECT_EQ(0, f->Create(1, 16, 8000.0f, nullptr, nullptr));
        EXPECT_EQ(0, formattest::WriteBufferForm(*f, 0, formattest::Native16(samples)));
        EXPECT_EQ(samples.size(), f->GetNumSFrames());
        const std::string path = f->GetPath();
        EXPECT_EQ(0, f.release()->Dispose(1));
        return path;
    }

    platform::ThreadContext context;
    platform::ScopedThreadContext scope{&context};
};

// Frames = bytes x 8 / bits, and every one of them is read: the ten bytes of a
// 3-bit file hold 26 codes, of which the last ends in the last byte.
TEST_F(CCITTFileTest, TenBytesHoldEveryCodeAndAllAreDecoded) {
    const std::string ten("\x12\x34\x56\x78\x9A\xBC\xDE\xF0\x0F\x55", 10);
    const std::string empty = Put("empty.g72", "");
    for (const FileType& t : kTypes) {
        SCOPED_TRACE(t.code);
        const std::string path = Put(std::string(t.code) + ".g72", ten);
        auto f = OpenFile(t, path);
        const uint32_t frames = 80 / t.bits;
        ASSERT_EQ(frames, f->GetNumSFrames());
        EXPECT_EQ(8000.0, f->GetSampleRate());
        EXPECT_EQ(1, f->GetNumChannels());
        ASSERT_EQ(1, f->GetNumRegions());
        SFTRegion whole;
        ASSERT_EQ(0, f->GetIndRegion(uint16_t{0}, &whole));
        EXPECT_EQ(static_cast<int32_t>(frames), whole.end);

        std::vector<uint8_t> bytes;
        ASSERT_EQ(0, formattest::ReadAllFrames(*f, &bytes));
        const std::vector<int16_t> got = formattest::Samples16(bytes);
        // The same codes through the coder, unpacked here bit by bit.
        g72x_state state;
        g72x_init_state(&state);
        for (uint32_t i = 0; i < frames; ++i) {
            int code = 0;
            for (int k = 0; k < t.bits; ++k) {
                const uint32_t bit = i * t.bits + k;
                code |= ((static_cast<uint8_t>(ten[bit / 8]) >> (bit % 8)) & 1) << k;
            }
            EXPECT_EQ(f->CCITTDecoder(code, kG72xLinearCoding, &state), got[i]) << "frame " << i;
        }

        CCITTPtr info(t.make());
        ASSERT_EQ(0, info->ISoundFile(path));
        OSErr regions = -1;
        EXPECT_EQ(0, info->GetOfflineInfo(&regions));
        EXPECT_EQ(0, regions);
        EXPECT_EQ(frames, info->GetNumSFrames());
        EXPECT_FALSE(info->IsOpen());

        auto none = OpenFile(t, empty);
        EXPECT_EQ(0u, none->GetNumSFrames());
    }
}

// Reads in any order give the samples of one pass from the start, also far
// into a long file (where the decoder resumes from states it kept).
TEST_F(CCITTFileTest, ReadsAtAnyFrameOfALongFileDecodeAsOnePass) {
    std::string bytes(100000, '\0');
    uint32_t seed = 5;
    for (char& c : bytes) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    const FileType& t = kTypes[2];
    const std::string path = Put("long.g72", bytes);
    std::vector<uint8_t> whole;
    ASSERT_EQ(0, formattest::ReadAllFrames(*OpenFile(t, path), &whole));
    const std::vector<int16_t> want = formattest::Samples16(whole);
    ASSERT_EQ(200000u, want.size());
    auto f = OpenFile(t, path, 1000);
    for (uint32_t frame : {150000u, 70000u, 140000u, 10u, 199500u, 65536u, 65535u, 131072u, 3u}) {
        ASSERT_EQ(0, f->RefreshInputBuffer(frame));
        const auto* got = reinterpret_cast<const int16_t*>(f->GetInputBuffer());
        for (uint32_t i = 0; i < 1000; ++i) {
            const int16_t expected = frame + i < want.size() ? want[frame + i] : 0;
            ASSERT_EQ(expected, got[i]) << "read at " << frame << ", frame " << frame + i;
        }
    }
}

// Our files are spandsp's packed streams, and spandsp's streams read as its
// decoded samples; the twin types write the same bytes.
TEST_F(CCITTFileTest, WrittenBytesArePeerStreamsAndTwinsAreIdentical) {
    const std::vector<int16_t> signal = TestSignal();
    for (const FileType& t : kTypes) {
        SCOPED_TRACE(t.code);
        const std::vector<uint8_t> codes = PeerCodes(signal, t.bits);
        const std::string ours = testsupport::ReadFile(WriteFile(t, t.code, signal));
        EXPECT_EQ(Pack(codes, t.bits), ours);
        if (t.twin) {
            for (const FileType& u : kTypes) {
                if (std::string(u.code) == t.twin) {
                    EXPECT_EQ(ours, testsupport::ReadFile(WriteFile(u, std::string(u.code) + "b", signal)));
                }
            }
        }

        Peer peer(t.bits);
        std::vector<int16_t> want(codes.size());
        std::vector<uint8_t> in(codes);
        g726_decode(peer.state, want.data(), in.data(), static_cast<int>(in.size()));
        std::vector<uint8_t> bytes;
        ASSERT_EQ(0, formattest::ReadAllFrames(*OpenFile(t, Put("peer.g72", ours)), &bytes));
        const std::vector<int16_t> got = formattest::Samples16(bytes);
        ASSERT_EQ(signal.size() * t.bits / 8 * 8 / t.bits, got.size());
        for (size_t i = 0; i < got.size(); ++i) {
            if (got[i] == 32767 || got[i] == -32768) continue;
            ASSERT_EQ(want[i], got[i]) << "frame " << i;
        }
    }
}

// Three 3-bit codes make one byte: codes 0 and 1 and the low two bits of code 2.
TEST_F(CCITTFileTest, ThreeFramesOfThreeBitsWriteOneByte) {
    const std::vector<int16_t> three = {3000, -12000, 20000};
    std::vector<uint8_t> codes;
    g72x_state state;
    g72x_init_state(&state);
    for (int16_t s : three) codes.push_back(static_cast<uint8_t>(g723_24_encoder(s, 3, &state)));
    const std::string bytes = testsupport::ReadFile(WriteFile(kTypes[1], "three", three));
    ASSERT_EQ(1u, bytes.size());
    EXPECT_EQ(static_cast<uint8_t>(codes[0] | codes[1] << 3 | (codes[2] & 3) << 6),
              static_cast<uint8_t>(bytes[0]));
}

// Blocks written out of order and written again (as fades rewrite the first and
// last seconds) code as the final samples in one pass; no temporary file stays.
TEST_F(CCITTFileTest, RewrittenBlocksCodeAsTheFinalSamples) {
    std::vector<int16_t> signal = TestSignal();
    signal.resize(20000);
    const FileType& t = kTypes[2];
    CCITTPtr f(t.make());
    ASSERT_EQ(0, f->ISoundFile(dir / "faded"));
    f->SetSFTBufferSize(4096);
    ASSERT_EQ(0, f->Create(1, 16, 8000.0f, nullptr, nullptr));
    std::vector<int16_t> tail(signal.begin() + 10000, signal.end());
    std::vector<int16_t> head(signal.begin(), signal.begin() + 10000);
    ASSERT_EQ(0, formattest::WriteBufferForm(*f, 10000, formattest::Native16(tail)));
    ASSERT_EQ(0, formattest::WriteBufferForm(*f, 0, formattest::Native16(head)));
    // A fade-in over the first 3000 frames, rewritten in place.
    ASSERT_EQ(0, f->RefreshOutputBuffer(0));
    auto* block = reinterpret_cast<int16_t*>(f->GetOutputBuffer());
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(signal[i], block[i]);
        block[i] = static_cast<int16_t>(block[i] * i / 3000);
        signal[i] = block[i];
    }
    ASSERT_EQ(0, f->FlushOutputBuffer(3000, 0));
    const std::string temp = f->GetTemporaryPath();
    EXPECT_TRUE(XWQF::FileExists(temp));
    const std::string path = f->GetPath();
    ASSERT_EQ(0, f.release()->Dispose(1));
    EXPECT_FALSE(XWQF::FileExists(temp));
    EXPECT_EQ(Pack(PeerCodes(signal, 4), 4), testsupport::ReadFile(path));
}

// A frame past the end of what was written ends the samples held for coding
// there, silent after the written ones, whether set directly or by placing a
// block past the end; an earlier frame cuts nothing, and a file being read has
// no such end to move.
TEST_F(CCITTFileTest, SetEndOfFileExtendsTheHeldSamplesWithSilence) {
    std::vector<int16_t> signal = TestSignal();
    signal.resize(300);
    const FileType& t = kTypes[0];
    CCITTPtr f(t.make());
    ASSERT_EQ(0, f->ISoundFile(dir / "extended"));
    ASSERT_EQ(0, f->Create(1, 16, 8000.0f, nullptr, nullptr));
    ASSERT_EQ(0, formattest::WriteBufferForm(*f, 0, formattest::Native16(signal)));
    EXPECT_EQ(0, f->SetEndOfFile(1000));
    EXPECT_EQ(1000u, f->GetNumSFrames());
    EXPECT_EQ(0, f->SetEndOfFile(500));
    EXPECT_EQ(1000u, f->GetNumSFrames());
    EXPECT_EQ(0, f->SetFilePos(1600));
    EXPECT_EQ(1600u, f->GetNumSFrames());
    const std::string path = f->GetPath();
    ASSERT_EQ(0, f.release()->Dispose(1));

    signal.resize(1600, 0);
    EXPECT_EQ(Pack(PeerCodes(signal, t.bits), t.bits), testsupport::ReadFile(path));
    EXPECT_EQ(kFileNotOpenBaseErr, OpenFile(t, path)->SetEndOfFile(2000));
}

// Split to mono files: a stereo set of CCITT members, each coded on its own.
TEST_F(CCITTFileTest, StereoSetsCodeEachMember) {
    std::vector<int16_t> signal = TestSignal();
    signal.resize(12000);
    std::vector<int16_t> stereo;
    for (size_t i = 0; i < signal.size(); ++i) {
        stereo.push_back(signal[i]);
        stereo.push_back(static_cast<int16_t>(-signal[signal.size() - 1 - i] / 2));
    }
    SoundFilePtr set(CSoundFile::CreateSoundFile(FourCC("Srnd"), FourCC("21-4")));
    auto* surround = dynamic_cast<CSurroundFile*>(set.get());
    ASSERT_NE(nullptr, surround);
    ASSERT_EQ(0, surround->ISoundFile(dir / ".CorvaOutFile.L", CSoundFile::kStereo, 2));
    set->SetSFTBufferSize(1000);
    ASSERT_EQ(0, set->Create(2, 16, 8000.0f, nullptr, nullptr));
    ASSERT_EQ(0, formattest::WriteBufferForm(*set, 0, formattest::Native16(stereo)));
    const std::string path = set->GetPath();
    ASSERT_EQ(0, set.release()->Dispose(1));
    const std::string stem = path.substr(0, path.rfind('.'));
    for (int c = 0; c < 2; ++c) {
        std::vector<int16_t> channel;
        for (size_t i = c; i < stereo.size(); i += 2) channel.push_back(stereo[i]);
        EXPECT_EQ(Pack(PeerCodes(channel, 4), 4),
                  testsupport::ReadFile(stem + (c ? ".R" : ".L") + path.substr(path.rfind('.'))));
    }
}

// Only mono is created; frames beyond 32 bits are refused (a 2-bit file of more than 1 GiB).
TEST_F(CCITTFileTest, OnlyMonoIsCreatedAndFramesBeyondThirtyTwoBitsAreRefused) {
    for (short channels : {2, 0}) {
        CCITTPtr f(new CCITT721File);
        ASSERT_EQ(0, f->ISoundFile(dir / "stereo"));
        EXPECT_EQ(kCCITTChannelsErr, f->Create(channels, 16, 8000.0f, nullptr, nullptr));
        EXPECT_FALSE(f->IsOpen());
    }
    CCITTPtr closed(new CCITT721File);
    EXPECT_EQ(kFileNotOpenBaseErr, closed->Close());

    const std::string path = dir / "huge.g72";
    ASSERT_EQ(0, ::truncate(Put("huge.g72", "").c_str(), (1LL << 30) + 4));
    CCITTPtr f(new CCITT723_16File);
    ASSERT_EQ(0, f->ISoundFile(path));
    EXPECT_EQ(kFileBoundsErr, f->Open());
    EXPECT_FALSE(f->IsOpen());
    CCITTPtr g(new CCITT723_24File);
    ASSERT_EQ(0, g->ISoundFile(path));
    ASSERT_EQ(0, g->Open());
    EXPECT_EQ(((1ULL << 30) + 4) * 8 / 3, g->GetNumSFrames());
}

// Create(source, ...) codes the source when the output is closed.
TEST_F(CCITTFileTest, CreateFromSourceCodesTheSource) {
    std::vector<int16_t> signal = TestSignal();
    signal.resize(9000);
    const FileType& t = kTypes[3];
    CCITTPtr source(t.make());
    {
        const std::string path = Put("source.g72", Pack(PeerCodes(signal, 5), 5));
        ASSERT_EQ(0, source->ISoundFile(path));
        ASSERT_EQ(0, source->Open());
    }
    std::vector<uint8_t> decoded;
    ASSERT_EQ(0, formattest::ReadAllFrames(*source, &decoded));

    CCITTPtr f(new CCITT721File);
    ASSERT_EQ(0, f->ISoundFile(dir / "direct"));
    ASSERT_EQ(0, f->Create(source.get(), 1, 16, 8000.0f, nullptr, nullptr));
    EXPECT_EQ(source->GetNumSFrames(), f->GetNumSFrames());
    const std::string path = f->GetPath();
    ASSERT_EQ(0, f.release()->Dispose(1));
    EXPECT_EQ(Pack(PeerCodes(formattest::Samples16(decoded), 4), 4), testsupport::ReadFile(path));

    CCITTPtr two(new CCITT721File);
    ASSERT_EQ(0, two->ISoundFile(dir / "none"));
    EXPECT_EQ(kParamErr, two->Create(nullptr, 1, 16, 8000.0f, nullptr, nullptr));
}

// ffmpeg's right-justified G.726 at 2 to 4 bits: same frame counts both ways and
// a fair signal-to-noise ratio (the two coders are not bit-exact).
double SnrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& got) {
    double s = 0, n = 0;
    for (size_t i = 0; i < std::min(ref.size(), got.size()); ++i) {
        s += double(ref[i]) * ref[i];
        n += (double(ref[i]) - got[i]) * (double(ref[i]) - got[i]);
    }
    return 10 * std::log10(s / std::max(n, 1.0));
}

TEST_F(CCITTFileTest, FfmpegReadsOursAndWeReadFfmpegs) {
    if (!testsupport::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    using formattest::Quote;
    std::vector<int16_t> signal(16000);
    for (size_t i = 0; i < signal.size(); ++i)
        signal[i] = static_cast<int16_t>(std::lround(8000 * std::sin(i * 0.07) + 3000 * std::sin(i * 0.31)));
    const std::string raw = Put("signal.raw", std::string(reinterpret_cast<const char*>(signal.data()),
                                                          signal.size() * 2));
    for (const FileType& t : {kTypes[0], kTypes[1], kTypes[2]}) {
        SCOPED_TRACE(t.code);
        const std::string bits = std::to_string(t.bits);
        // Ours to ffmpeg.
        const std::string ours = WriteFile(t, std::string("ours") + bits, signal);
        const std::string back = dir / ("back" + bits + ".raw");
        ASSERT_TRUE(formattest::RunCommand("ffmpeg -y -f g726le -code_size " + bits + " -sample_rate 8000 -i " +
                                           Quote(ours) + " -f s16le " + Quote(back)));
        const std::string decoded = testsupport::ReadFile(back);
        std::vector<int16_t> theirs(decoded.size() / 2);
        std::memcpy(theirs.data(), decoded.data(), theirs.size() * 2);
        EXPECT_EQ(testsupport::ReadFile(ours).size() * 8 / t.bits, theirs.size());
        EXPECT_GT(SnrDb(signal, theirs), 6.0 * t.bits - 4);

        // ffmpeg's to ours.
        const std::string coded = dir / ("ffmpeg" + bits + ".g72");
        ASSERT_TRUE(formattest::RunCommand("ffmpeg -y -f s16le -ar 8000 -ac 1 -i " + Quote(raw) +
                                           " -c:a g726le -b:a " + std::to_string(8 * t.bits) + "k -f g726le " +
                                           Quote(coded)));
        auto f = OpenFile(t, coded);
        EXPECT_EQ(testsupport::ReadFile(coded).size() * 8 / t.bits, f->GetNumSFrames());
        std::vector<uint8_t> bytes;
        ASSERT_EQ(0, formattest::ReadAllFrames(*f, &bytes));
        EXPECT_GT(SnrDb(signal, formattest::Samples16(bytes)), 6.0 * t.bits - 4);
    }
}

}  // namespace
