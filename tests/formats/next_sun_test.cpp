// NeXT/Sun files: headers read and written, the three sample forms both ways,
// damaged headers refused, and files exchanged with sox, ffmpeg and libsndfile.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "formats/chunk_reader.h"
#include "formats/g711.h"
#include "format_test_support.h"
#include "formats/pcm/next_sun_file.h"
#include "test_support.h"

using formattest::Quote;
using formattest::RunCommand;
using testsupport::HaveProgram;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string BE32(uint32_t v) {
    uint8_t b[4];
    StoreBE32(b, v);
    return std::string(reinterpret_cast<char*>(b), 4);
}

// A header: the six fields, the info bytes, zeros up to the data location.
std::string Header(uint32_t location, uint32_t size, uint32_t encoding, int32_t rate,
                   uint32_t channels, const std::string& magic = ".snd") {
    std::string h = magic + BE32(location) + BE32(size) + BE32(encoding) +
                    BE32(static_cast<uint32_t>(rate)) + BE32(channels) + "info";
    if (h.size() < location) h.resize(location, '\0');
    return h;
}

enum class Kind { kLinear, kALaw, kMuLaw };

SoundFilePtr Make(Kind kind) {
    switch (kind) {
        case Kind::kLinear: return SoundFilePtr(new CNeXT_SUNFile);
        case Kind::kALaw: return SoundFilePtr(new CNeXTALawFile);
        case Kind::kMuLaw: return SoundFilePtr(new CNeXTAUFile);
    }
    return nullptr;
}

SoundFilePtr OpenFile(Kind kind, const std::string& path, OSErr* status) {
    SoundFilePtr f = Make(kind);
    EXPECT_EQ(f->ISoundFile(path), 0);
    *status = f->Open();
    return f;
}

// One sample of the buffer form (little-endian host), widened; and stored.
int32_t LoadSample(const unsigned char* p, int bytes) {
    uint32_t v = 0;
    std::memcpy(&v, p, static_cast<size_t>(bytes));
    return static_cast<int32_t>(v << (32 - 8 * bytes)) >> (32 - 8 * bytes);
}

void StoreSample(unsigned char* p, int bytes, int32_t v) { std::memcpy(p, &v, static_cast<size_t>(bytes)); }

// Every sample of an open file, read block by block through the input buffer.
std::vector<int32_t> ReadAll(CSoundFile& f, OSErr* status = nullptr) {
    std::vector<int32_t> out;
    const int bytes = f.GetWordSize() / 8;
    const uint32_t frames = f.GetNumSFrames();
    for (uint32_t frame = 0; frame < frames; frame += f.GetBufferFrames()) {
        OSErr err = f.RefreshInputBuffer(frame);
        if (status) *status = err;
        if (err) break;
        const uint64_t n = std::min<uint64_t>(f.GetBufferFrames(), frames - frame) * f.GetNumChannels();
        for (uint64_t i = 0; i < n; ++i) out.push_back(LoadSample(f.GetInputBuffer() + i * bytes, bytes));
    }
    return out;
}

// Writes samples (buffer form, interleaved) from frame 0 on through the output buffer.
OSErr WriteAll(CSoundFile& f, const std::vector<int32_t>& samples) {
    if (OSErr err = f.InitOutputBuffer()) return err;
    const int bytes = f.GetWordSize() / 8;
    const uint32_t channels = static_cast<uint32_t>(f.GetNumChannels());
    const uint32_t frames = static_cast<uint32_t>(samples.size() / channels);
    for (uint32_t frame = 0; frame < frames; frame += f.GetBufferFrames()) {
        const uint32_t k = std::min<uint32_t>(f.GetBufferFrames(), frames - frame);
        if (OSErr err = f.RefreshOutputBuffer(frame)) return err;
        for (uint64_t i = 0; i < uint64_t(k) * channels; ++i)
            StoreSample(f.GetOutputBuffer() + i * bytes, bytes, samples[frame * channels + i]);
        if (OSErr err = f.FlushOutputBuffer(k, frame)) return err;
    }
    return 0;
}

SoundFilePtr CreateFile(Kind kind, const std::string& path, short channels, short bits, float rate,
                        OSErr* status, const char* extension = "\x02" "au") {
    SoundFilePtr f = Make(kind);
    EXPECT_EQ(f->ISoundFile(path), 0);
    f->SetDither(0);
    *status = f->Create(channels, bits, rate, nullptr, reinterpret_cast<const unsigned char*>(extension));
    return f;
}

// ---------------------------------------------------------------------------
// Reading

TEST(NeXTSun, ReadsEveryLinearWordSizeIntoTheBufferForm) {
    TempDir dir;
    struct Case {
        uint32_t encoding;
        int bits;
        std::string data;
        std::vector<int32_t> samples;
    };
    const std::vector<Case> cases = {
        {2, 8, std::string("\x80\x7f\x01\xff", 4), {-128, 127, 1, -1}},
        {3, 16, std::string("\x80\x00\x7f\xff\x12\x34\xff\xfe", 8), {-32768, 32767, 0x1234, -2}},
        {4, 24, std::string("\x80\x00\x00\x12\x34\x56\xff\xff\xff\x00\x00\x01", 12),
         {-8388608, 0x123456, -1, 1}},
        {5, 32, std::string("\x80\x00\x00\x00\x12\x34\x56\x78\xff\xff\xff\xff\x00\x00\x00\x01", 16),
         {INT32_MIN, 0x12345678, -1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        const std::string path = dir / ("lin" + std::to_string(c.bits) + ".snd");
        WriteFile(path, Header(28, static_cast<uint32_t>(c.data.size()), c.encoding, 96000, 2) + c.data);
        OSErr err = 0;
        SoundFilePtr f = OpenFile(Kind::kLinear, path, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(f->GetWordSize(), c.bits);
        EXPECT_EQ(f->GetNumChannels(), 2);
        EXPECT_EQ(f->GetSampleRate(), 96000.0);
        EXPECT_EQ(f->GetDataType(), kDataTypePCM);
        EXPECT_EQ(f->GetNumSFrames(), 2u);
        EXPECT_EQ(f->GetNumRegions(), 1u);  // the whole-file region
        EXPECT_EQ(ReadAll(*f), c.samples);
    }
}

TEST(NeXTSun, ReadsEveryCompandedCodeAsItsLinearValue) {
    TempDir dir;
    std::string codes;
    for (int i = 0; i < 256; ++i) codes += static_cast<char>(i);
    for (Kind kind : {Kind::kALaw, Kind::kMuLaw}) {
        const std::string path = dir / (kind == Kind::kALaw ? "a.snd" : "u.au");
        WriteFile(path, Header(32, 256, kind == Kind::kALaw ? 27 : 1, 8000, 1) + codes);
        OSErr err = 0;
        SoundFilePtr f = OpenFile(kind, path, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(f->GetWordSize(), 16);
        EXPECT_EQ(f->GetDataType(), kind == Kind::kALaw ? kDataTypeALaw : kDataTypeMuLaw);
        EXPECT_EQ(f->GetNumSFrames(), 256u);
        const std::vector<int32_t> samples = ReadAll(*f);
        ASSERT_EQ(samples.size(), 256u);
        for (int i = 0; i < 256; ++i)
            EXPECT_EQ(samples[i], kind == Kind::kALaw ? from_alaw(uint8_t(i)) : mulaw[i]) << i;
        // The rest of the buffer is zero-filled.
        const unsigned char* buffer = f->GetInputBuffer();
        for (uint32_t i = 256 * 2; i < f->GetRealBufferSize(); i += 997) ASSERT_EQ(buffer[i], 0);
    }
}

TEST(NeXTSun, FrameCountComesFromWhatTheFileHolds) {
    TempDir dir;
    const std::string data(40, '\x01');
    struct Case {
        const char* what;
        uint32_t location;
        uint32_t size;
        Kind kind;
        uint32_t frames;
    };
    const std::vector<Case> cases = {
        {"size 0: the file length less 28", 28, 0, Kind::kLinear, 10},
        {"size unknown (all ones), companded", 28, 0xFFFFFFFF, Kind::kMuLaw, 20},
        {"size unknown (all ones), linear", 28, 0xFFFFFFFF, Kind::kLinear, 10},
        {"size beyond the end of the file", 28, 4000, Kind::kALaw, 20},
        {"size smaller than the data", 28, 8, Kind::kLinear, 2},
        // The count never takes in bytes before the data location or after the end.
        {"size 0 with a longer header", 36, 0, Kind::kLinear, 8},
        {"data location at the end", 68, 0, Kind::kMuLaw, 0},
        {"data location of 24", 24, 0, Kind::kMuLaw, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir / "count.snd";
        // The data follows the 28 header bytes whatever the location field says.
        std::string bytes = Header(28, c.size, c.kind == Kind::kLinear ? 3 : 1, 8000, 2);
        StoreBE32(reinterpret_cast<uint8_t*>(bytes.data()) + 4, c.location);
        WriteFile(path, bytes + data);
        OSErr err = 0;
        SoundFilePtr f = OpenFile(c.kind, path, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(f->GetNumSFrames(), c.frames);
        OSErr readErr = 0;
        EXPECT_EQ(ReadAll(*f, &readErr).size(), c.frames * 2);
        EXPECT_EQ(readErr, 0);
    }
}

TEST(NeXTSun, DamagedHeadersAreRefusedWithTheFormatsCode) {
    TempDir dir;
    const std::string data(16, '\0');
    struct Case {
        const char* what;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"magic", Header(28, 16, 3, 8000, 1, ".SND") + data},
        {"no channels", Header(28, 16, 3, 8000, 0) + data},
        {"too many channels", Header(28, 16, 3, 8000, 0x40000000) + data},
        {"rate 0", Header(28, 16, 3, 0, 1) + data},
        {"negative rate", Header(28, 16, 3, -44100, 1) + data},
        {"data location inside the fields", Header(28, 16, 3, 8000, 1).replace(4, 4, BE32(8)) + data},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir / "bad.snd";
        WriteFile(path, c.bytes);
        for (auto [kind, code] : {std::pair{Kind::kLinear, kNeXTBadHeaderErr},
                                  std::pair{Kind::kALaw, kNeXTALawBadHeaderErr},
                                  std::pair{Kind::kMuLaw, kNeXTAUBadHeaderErr}}) {
            OSErr err = 0;
            SoundFilePtr f = OpenFile(kind, path, &err);
            EXPECT_EQ(err, code);
            OSErr status = 1;
            SoundFilePtr g = Make(kind);
            ASSERT_EQ(g->ISoundFile(path), 0);
            EXPECT_EQ(g->GetOfflineInfo(&status), code);
            EXPECT_EQ(status, 0);
        }
    }
    // Shorter than the header: the read's end of file.
    const std::string path = dir / "short.snd";
    WriteFile(path, ".snd\0\0\0\x1c");
    OSErr err = 0;
    SoundFilePtr f = OpenFile(Kind::kLinear, path, &err);
    EXPECT_EQ(err, kEOFErr);
}

TEST(NeXTSun, UnknownLinearEncodingKeepsTheWordSizeAndOfflineInfoReadsTheHeaderOnly) {
    TempDir dir;
    WriteFile(dir / "float.snd", Header(28, 8, 6, 44100, 1) + std::string(8, '\0'));
    OSErr err = 0;
    SoundFilePtr f = OpenFile(Kind::kLinear, dir / "float.snd", &err);
    ASSERT_EQ(err, 0);
    EXPECT_EQ(f->GetWordSize(), 16);
    EXPECT_EQ(f->GetNumSFrames(), 4u);

    WriteFile(dir / "info.au", Header(28, 12, 1, 11025, 3) + std::string(12, '\xff'));
    SoundFilePtr g = Make(Kind::kMuLaw);
    ASSERT_EQ(g->ISoundFile(dir / "info.au"), 0);
    OSErr status = 1;
    EXPECT_EQ(g->GetOfflineInfo(&status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(g->IsOpen());
    EXPECT_EQ(g->GetNumChannels(), 3);
    EXPECT_EQ(g->GetSampleRate(), 11025.0);
    EXPECT_EQ(g->GetNumSFrames(), 4u);
}

// ---------------------------------------------------------------------------
// Writing

TEST(NeXTSun, WrittenHeadersCarryEncodingRateAndSizeAlsoWhenDestroyedOpen) {
    TempDir dir;
    struct Case {
        Kind kind;
        short bits;
        uint32_t encoding;
        uint32_t bytesPerSample;
    };
    const std::vector<Case> cases = {
        {Kind::kLinear, 8, 2, 1},  {Kind::kLinear, 16, 3, 2}, {Kind::kLinear, 24, 4, 3},
        {Kind::kLinear, 32, 5, 4}, {Kind::kALaw, 16, 27, 1},  {Kind::kMuLaw, 24, 1, 1},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoding);
        const std::string base = dir / ("w" + std::to_string(n++));
        OSErr err = 0;
        SoundFilePtr f = CreateFile(c.kind, base, 2, c.bits, 22050.5f, &err);
        ASSERT_EQ(err, 0);
        const std::string path = f->GetPath();
        EXPECT_EQ(path, base + ".au");
        std::vector<int32_t> samples(2 * 5, 0);
        ASSERT_EQ(WriteAll(*f, samples), 0);
        // The last three are destroyed while still open (without Dispose): their
        // own class closes them, with the final size and the right encoding.
        if (n > 3)
            delete f.release();
        else
            ASSERT_EQ(f->Close(), 0);
        const std::string bytes = ReadFile(path);
        ASSERT_EQ(bytes.size(), 28 + 10 * c.bytesPerSample);
        const auto* h = reinterpret_cast<const uint8_t*>(bytes.data());
        EXPECT_EQ(bytes.substr(0, 4), ".snd");
        EXPECT_EQ(LoadBE32(h + 4), 28u);
        EXPECT_EQ(LoadBE32(h + 8), 10 * c.bytesPerSample);
        EXPECT_EQ(LoadBE32(h + 12), c.encoding);
        EXPECT_EQ(LoadBE32(h + 16), 22050u);
        EXPECT_EQ(LoadBE32(h + 20), 2u);
        EXPECT_EQ(bytes.substr(24, 4), "CORV");
    }
}

TEST(NeXTSun, EverySampleRoundTrips) {
    TempDir dir;
    for (short bits : {8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        std::vector<int32_t> samples;
        const int64_t lo = -(int64_t(1) << (bits - 1)), hi = (int64_t(1) << (bits - 1)) - 1;
        // More than one buffer of stereo frames, extremes included.
        for (int64_t i = 0; i < 2 * 13000; ++i)
            samples.push_back(static_cast<int32_t>(i % 3 == 0 ? (i & 1 ? hi : lo) : (i * 7919) % (hi + 1)));
        OSErr err = 0;
        SoundFilePtr f = CreateFile(Kind::kLinear, dir / ("r" + std::to_string(bits)), 2, bits, 48000, &err);
        ASSERT_EQ(err, 0);
        const std::string path = f->GetPath();
        ASSERT_EQ(WriteAll(*f, samples), 0);
        ASSERT_EQ(f->Close(), 0);
        SoundFilePtr g = OpenFile(Kind::kLinear, path, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(g->GetNumSFrames(), 13000u);
        EXPECT_EQ(ReadAll(*g), samples);
    }
    // Companded: every 16-bit value comes back as the expansion of its code.
    for (Kind kind : {Kind::kALaw, Kind::kMuLaw}) {
        std::vector<int32_t> samples;
        for (int s = -32768; s <= 32767; ++s) samples.push_back(s);
        OSErr err = 0;
        SoundFilePtr f = CreateFile(kind, dir / (kind == Kind::kALaw ? "ca" : "cu"), 1, 16, 8000, &err);
        ASSERT_EQ(err, 0);
        const std::string path = f->GetPath();
        ASSERT_EQ(WriteAll(*f, samples), 0);
        ASSERT_EQ(f->Close(), 0);
        const std::string bytes = ReadFile(path);
        ASSERT_EQ(bytes.size(), 28u + 65536u);
        SoundFilePtr g = OpenFile(kind, path, &err);
        ASSERT_EQ(err, 0);
        const std::vector<int32_t> back = ReadAll(*g);
        ASSERT_EQ(back.size(), samples.size());
        for (size_t i = 0; i < samples.size(); ++i) {
            const auto s = static_cast<int16_t>(samples[i]);
            const uint8_t code = kind == Kind::kALaw ? to_alaw(s) : to_mulaw(s);
            ASSERT_EQ(static_cast<uint8_t>(bytes[28 + i]), code) << s;
            ASSERT_EQ(back[i], kind == Kind::kALaw ? from_alaw(code) : mulaw[code]) << s;
        }
    }
}

// A gap left by writing past the end is silence: zero bytes for linear data,
// the code of 0 for companded data (a zero byte decodes near full scale).
TEST(NeXTSun, WritingPastTheEndFillsTheGapWithSilence) {
    TempDir dir;
    for (Kind kind : {Kind::kLinear, Kind::kALaw, Kind::kMuLaw}) {
        OSErr err = 0;
        SoundFilePtr f = CreateFile(kind, dir / "gap", 2, 16, 8000, &err);
        ASSERT_EQ(err, 0);
        const std::string path = f->GetPath();
        std::vector<double> in(2 * 3, 0.5);
        uint32_t count = 3;
        ASSERT_EQ(f->Write(100, &count, in.data()), 0);
        EXPECT_EQ(f->GetNumSFrames(), 103u);
        ASSERT_EQ(f->Close(), 0);
        f.reset();
        const std::string bytes = ReadFile(path);
        const size_t sampleBytes = kind == Kind::kLinear ? 2 : 1;
        ASSERT_EQ(bytes.size(), 28u + 103u * 2 * sampleBytes);
        const char silence = kind == Kind::kALaw   ? static_cast<char>(to_alaw(0))
                             : kind == Kind::kMuLaw ? static_cast<char>(to_mulaw(0))
                                                    : '\0';
        EXPECT_EQ(bytes.substr(28, 200 * sampleBytes), std::string(200 * sampleBytes, silence));
        if (kind == Kind::kALaw) {
            EXPECT_EQ(static_cast<uint8_t>(bytes[28 + 200]), to_alaw(16384));
        }
        EXPECT_EQ(LoadBE32(reinterpret_cast<const uint8_t*>(bytes.data()) + 8), 206u * sampleBytes);
        ::unlink(path.c_str());
    }
}

TEST(NeXTSun, CreateRefusesWhatItCannotWrite) {
    TempDir dir;
    OSErr err = 0;
    // Word sizes without an encoding: the format's code, and no file made.
    for (short bits : {0, 12, 20, 64}) {
        SoundFilePtr f = CreateFile(Kind::kLinear, dir / "ws", 1, bits, 8000, &err);
        EXPECT_EQ(err, kNeXTIncompatibleWordSizeErr) << bits;
        EXPECT_FALSE(std::ifstream(dir / "ws.au").good());
    }
    for (Kind kind : {Kind::kLinear, Kind::kALaw, Kind::kMuLaw}) {
        SoundFilePtr f = CreateFile(kind, dir / "ch", 0, 16, 8000, &err);
        EXPECT_EQ(err, kParamErr);
        SoundFilePtr g = CreateFile(kind, dir / "rate", 1, 16, 0.0f, &err);
        EXPECT_EQ(err, kParamErr);
    }
    EXPECT_FALSE(std::ifstream(dir / "ch.au").good());
    // The companded formats store 16-bit samples whatever is asked.
    SoundFilePtr f = CreateFile(Kind::kMuLaw, dir / "mu", 1, 8, 8000, &err);
    ASSERT_EQ(err, 0);
    EXPECT_EQ(f->GetWordSize(), 16);
}

// Close of a file not open changes nothing; a file still being written says its
// size is unknown, so a reader takes what is there.
TEST(NeXTSun, CloseOfAFileNotOpenAndProvisionalHeaderReadsWhileWriting) {
    TempDir dir;
    OSErr err = 0;
    for (Kind kind : {Kind::kLinear, Kind::kALaw, Kind::kMuLaw}) {
        EXPECT_EQ(Make(kind)->Close(), kFileNotOpenBaseErr);
        SoundFilePtr f = CreateFile(kind, dir / "twice", 1, 16, 8000, &err);
        ASSERT_EQ(err, 0);
        const std::string path = f->GetPath();
        ASSERT_EQ(f->Close(), 0);
        const std::string before = ReadFile(path);
        EXPECT_EQ(f->Close(), kFileNotOpenBaseErr);
        EXPECT_EQ(ReadFile(path), before);
        std::remove(path.c_str());
    }
    SoundFilePtr f = CreateFile(Kind::kLinear, dir / "open", 1, 16, 8000, &err);
    ASSERT_EQ(err, 0);
    ASSERT_EQ(WriteAll(*f, {1, 2, 3}), 0);
    SoundFilePtr g = OpenFile(Kind::kLinear, f->GetPath(), &err);
    ASSERT_EQ(err, 0);
    EXPECT_EQ(ReadAll(*g), (std::vector<int32_t>{1, 2, 3}));
}

// ---------------------------------------------------------------------------
// Peers

// Little-endian signed samples of a given width, widened.
std::vector<int32_t> DecodeLE(const std::string& raw, int bytes) {
    std::vector<int32_t> out;
    for (size_t i = 0; i + bytes <= raw.size(); i += bytes)
        out.push_back(LoadSample(reinterpret_cast<const unsigned char*>(raw.data()) + i, bytes));
    return out;
}

// One encoding with the names the peers give it.
struct PeerCase {
    const char* soxEncoding;
    int bits;
    Kind kind;
    const char* soxiName;
    const char* ffprobeCodec;
    const char* sndfileName;
};

const PeerCase kPeerCases[] = {
    {"signed-integer", 8, Kind::kLinear, "8-bit Signed Integer PCM", "pcm_s8", "2 => 8-bit linear PCM"},
    {"signed-integer", 16, Kind::kLinear, "16-bit Signed Integer PCM", "pcm_s16be", "3 => 16-bit linear PCM"},
    {"signed-integer", 24, Kind::kLinear, "24-bit Signed Integer PCM", "pcm_s24be", "4 => 24-bit linear PCM"},
    {"signed-integer", 32, Kind::kLinear, "32-bit Signed Integer PCM", "pcm_s32be", "5 => 32-bit linear PCM"},
    {"a-law", 8, Kind::kALaw, "8-bit A-law", "pcm_alaw", "27 => 8-bit ISDN A-law"},
    {"mu-law", 8, Kind::kMuLaw, "8-bit u-law", "pcm_mulaw", "1 => 8-bit ISDN u-law"},
};

bool Holds(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(NeXTSunPeers, FilesWrittenBySoxReadAsSoxDecodesThem) {
    if (!HaveProgram("sox")) GTEST_SKIP() << "sox not installed";
    TempDir dir;
    for (const PeerCase& c : kPeerCases) {
        for (const char* ext : {"au", "snd"}) {
            SCOPED_TRACE(std::string(c.soxEncoding) + " " + std::to_string(c.bits) + " ." + ext);
            const std::string path = dir / (std::string("sox.") + ext);
            std::remove(path.c_str());
            ASSERT_TRUE(RunCommand("sox -n -r 11025 -c 2 -e " + std::string(c.soxEncoding) + " -b " +
                                   std::to_string(c.bits) + " " + Quote(path) +
                                   " synth 0.3 sine 300-3000 sine 440 gain -0.5"));
            OSErr err = 0;
            SoundFilePtr f = OpenFile(c.kind, path, &err);
            ASSERT_EQ(err, 0);
            EXPECT_EQ(f->GetSampleRate(), 11025.0);
            EXPECT_EQ(f->GetNumChannels(), 2);
            const int width = c.kind == Kind::kLinear ? c.bits : 16;
            EXPECT_EQ(f->GetWordSize(), width);
            std::string raw;
            ASSERT_TRUE(RunCommand("sox " + Quote(path) + " -t raw -e signed-integer -b " +
                                       std::to_string(width) + " -L -",
                                   &raw));
            const std::vector<int32_t> ours = ReadAll(*f);
            EXPECT_EQ(ours.size(), size_t{f->GetNumSFrames()} * 2);
            EXPECT_GT(ours.size(), 6000u);
            EXPECT_EQ(ours, DecodeLE(raw, width / 8));
        }
    }
}

TEST(NeXTSunPeers, StreamedFilesOfUnknownSizeReadToTheirEnd) {
    // Written to a pipe, sox cannot go back to fill in the data size.
    if (!HaveProgram("sox")) GTEST_SKIP() << "sox not installed";
    TempDir dir;
    for (const PeerCase& c : {kPeerCases[1], kPeerCases[5]}) {
        SCOPED_TRACE(c.soxEncoding);
        const std::string path = dir / "piped.au";
        ASSERT_TRUE(RunCommand("sox -n -r 8000 -c 1 -e " + std::string(c.soxEncoding) + " -b " +
                               std::to_string(c.bits) + " -t au - synth 0.5 sine 440 | cat > " + Quote(path)));
        ASSERT_EQ(LoadBE32(reinterpret_cast<const uint8_t*>(ReadFile(path).data()) + 8), 0xFFFFFFFFu);
        OSErr err = 0;
        SoundFilePtr f = OpenFile(c.kind, path, &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(f->GetNumSFrames(), 4000u);
        OSErr readErr = 0;
        EXPECT_EQ(ReadAll(*f, &readErr).size(), 4000u);
        EXPECT_EQ(readErr, 0);
    }
}

TEST(NeXTSunPeers, FilesWrittenHereReadByThePeers) {
    const bool haveSox = HaveProgram("sox") && HaveProgram("soxi");
    const bool haveFfmpeg = HaveProgram("ffmpeg") && HaveProgram("ffprobe");
    const bool haveSndfile = HaveProgram("sndfile-info") && HaveProgram("sndfile-convert");
    if (!haveSox && !haveFfmpeg && !haveSndfile) GTEST_SKIP() << "no peer installed";
    TempDir dir;
    int n = 0;
    for (const PeerCase& c : kPeerCases) {
        SCOPED_TRACE(std::string(c.soxEncoding) + " " + std::to_string(c.bits));
        const int width = c.kind == Kind::kLinear ? c.bits : 16;
        // A sweep over the whole range, extremes included, three channels.
        std::vector<int32_t> samples;
        const int64_t lo = -(int64_t(1) << (width - 1)), hi = (int64_t(1) << (width - 1)) - 1;
        for (int64_t i = 0; i < 3 * 4000; ++i)
            samples.push_back(static_cast<int32_t>(i == 0 ? lo : i == 1 ? hi : lo + (hi - lo) / 12000 * i));
        OSErr err = 0;
        SoundFilePtr f = CreateFile(c.kind, dir / ("ours" + std::to_string(n++)), 3, static_cast<short>(width),
                                    16000, &err);
        ASSERT_EQ(err, 0);
        const std::string path = f->GetPath();
        ASSERT_EQ(WriteAll(*f, samples), 0);
        ASSERT_EQ(f->Close(), 0);
        // What the file holds, as 16-bit or full-width values.
        std::vector<int32_t> expected = samples;
        if (c.kind != Kind::kLinear) {
            for (int32_t& s : expected) {
                const auto v = static_cast<int16_t>(s);
                s = c.kind == Kind::kALaw ? from_alaw(to_alaw(v)) : mulaw[to_mulaw(v)];
            }
        }
        const std::string w = std::to_string(width), rawFormat = width == 8 ? "s8" : "s" + w + "le";
        const std::string raw = path + ".raw", q = Quote(path);
        // Each peer: its description of the file, what it must say, and its decoding to raw samples.
        const struct {
            bool have;
            std::string info;
            std::vector<std::string> says;
            std::string decode;
        } peers[] = {
            {haveSox, "soxi " + q, {"Channels       : 3", "Sample Rate    : 16000", "= 4000 samples", c.soxiName},
             "sox " + q + " -t raw -e signed-integer -b " + w + " -L - > " + Quote(raw)},
            {haveFfmpeg, "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of default=nw=1 " + q,
             {std::string("codec_name=") + c.ffprobeCodec + "\n", "sample_rate=16000", "channels=3"},
             "ffmpeg -v error -y -i " + q + " -f " + rawFormat + " -c:a pcm_" + rawFormat + " " + Quote(raw)},
            {haveSndfile, "sndfile-info " + q, {"Channels    : 3", "Sample Rate : 16000", "Frames      : 4000", c.sndfileName},
             "sndfile-convert -endian=little " + (width == 8 ? "-pcms8" : "-pcm" + w) + " " + q + " " + Quote(raw)},
        };
        for (const auto& peer : peers) {
            if (!peer.have) continue;
            std::string out;
            ASSERT_TRUE(RunCommand(peer.info, &out));
            for (const std::string& part : peer.says) EXPECT_TRUE(Holds(out, part)) << part << "\n" << out;
            std::remove(raw.c_str());
            ASSERT_TRUE(RunCommand(peer.decode)) << peer.decode;
            EXPECT_EQ(DecodeLE(ReadFile(raw), width / 8), expected) << peer.decode;
        }
    }
}

}  // namespace
