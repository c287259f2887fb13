// Microsoft ADPCM files: block sizes, the coder's choices, markers and regions
// both ways, hostile headers, the coded-file protocol; and the peers both ways:
// sox and libsndfile decode as we do, ffmpeg and ffprobe read our headers.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/chunk_reader.h"
#include "formats/register_sound_files.h"
#include "formats/telephony/ms_adpcm_file.h"
#include "foundation/pstring.h"
#include "platform/thread_context.h"
#include "soundfile/progress.h"

namespace {

using formattest::FileTest;
using formattest::Quote;
using formattest::RunCommand;
using MSPtr = std::unique_ptr<CMSADPCMFile, SoundFileDisposer>;

std::vector<int16_t> Signal(uint32_t frames, uint32_t channels) {
    std::vector<int16_t> s(static_cast<size_t>(frames) * channels);
    uint32_t seed = 7;
    for (uint32_t f = 0; f < frames; ++f) {
        for (uint32_t c = 0; c < channels; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const double tone = 14000 * std::sin(f * (0.03 + 0.02 * c)) * std::sin(f * 0.0005);
            s[static_cast<size_t>(f) * channels + c] =
                static_cast<int16_t>(std::lround(tone + static_cast<int>((seed >> 20) & 511) - 256));
        }
    }
    return s;
}

double SnrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& got) {
    double s = 0, n = 0;
    for (size_t i = 0; i < std::min(ref.size(), got.size()); ++i) {
        s += double(ref[i]) * ref[i];
        n += (double(ref[i]) - got[i]) * (double(ref[i]) - got[i]);
    }
    return 10 * std::log10(s / std::max(n, 1.0));
}

void Patch16(std::string& b, size_t at, uint16_t v) { StoreLE16(reinterpret_cast<uint8_t*>(&b[at]), v); }
void Patch32(std::string& b, size_t at, uint32_t v) { StoreLE32(reinterpret_cast<uint8_t*>(&b[at]), v); }

std::string Le32(uint32_t v) {
    std::string s(4, '\0');
    Patch32(s, 0, v);
    return s;
}
std::string Chunk(const std::string& id, const std::string& body, uint32_t size) {
    std::string c = id + Le32(size) + body;
    if (body.size() & 1) c.push_back('\0');
    return c;
}
std::string Chunk(const std::string& id, const std::string& body) {
    return Chunk(id, body, static_cast<uint32_t>(body.size()));
}
std::string CuePoint(uint32_t id, uint32_t position) {
    return Le32(id) + Le32(position) + "data" + Le32(0) + Le32(0) + Le32(position);
}

class MSADPCMTest : public FileTest {
protected:
    void SetUp() override { RegisterSoundFiles(CSoundFile::GetFileTypeInfo()); }
    void TearDown() override {
        CorvaOutFile::Clear();
        FileTest::TearDown();
    }

    // Writes interleaved samples through the buffers and closes; the path.
    std::string Write(const std::string& name, uint32_t channels, float rate,
                      const std::vector<int16_t>& samples, uint32_t bufferFrames = 12288,
                      OSErr* closed = nullptr) {
        MSPtr f(new CMSADPCMFile);
        EXPECT_EQ(0, f->ISoundFile(dir / name));
        f->SetSFTBufferSize(bufferFrames);
        EXPECT_EQ(0, f->Create(static_cast<short>(channels), 16, rate, nullptr, nullptr));
        EXPECT_EQ(0, formattest::WriteBufferForm(*f, 0, formattest::Native16(samples)));
        const std::string path = f->GetPath();
        const OSErr err = f.release()->Dispose(1);
        if (closed)
            *closed = err;
        else
            EXPECT_EQ(0, err);
        return path;
    }

    MSPtr Open(const std::string& path, OSErr expected = 0) {
        MSPtr f(new CMSADPCMFile);
        EXPECT_EQ(0, f->ISoundFile(path));
        EXPECT_EQ(expected, f->Open()) << path;
        return f;
    }

    std::vector<int16_t> ReadOurs(const std::string& path) {
        auto f = Open(path);
        std::vector<uint8_t> bytes;
        EXPECT_EQ(0, formattest::ReadAllFrames(*f, &bytes));
        return formattest::Samples16(bytes);
    }

    platform::ThreadContext context;
    platform::ScopedThreadContext scope{&context};
};

std::vector<int16_t> SndfileDecode(const std::string& path, int* channels) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<int16_t> out(static_cast<size_t>(info.frames * info.channels));
    out.resize(static_cast<size_t>(sf_readf_short(f, out.data(), info.frames) * info.channels));
    *channels = info.channels;
    sf_close(f);
    return out;
}

// The samples a peer's command writes to `out` as raw 16-bit little-endian.
std::vector<int16_t> PeerDecode(const std::string& command, const std::string& out) {
    if (!RunCommand(command + Quote(out))) return {};
    const std::string raw = testsupport::ReadFile(out);
    std::vector<int16_t> s(raw.size() / 2);
    std::memcpy(s.data(), raw.data(), s.size() * 2);
    return s;
}

// ---- Writing --------------------------------------------------------------------

TEST_F(MSADPCMTest, BlockSizesFollowRateChannelsAndBuffer) {
    struct Case {
        uint32_t channels;
        float rate;
        uint32_t buffer;
        int32_t align, perBlock;
    };
    const Case cases[] = {
        {1, 8000, 12288, 256, 500},   {1, 11025, 12288, 256, 500}, {1, 16000, 12288, 256, 500},
        {1, 22050, 12288, 512, 1012}, {2, 44100, 12288, 2048, 2036}, {1, 48000, 12288, 1024, 2036},
        {1, 8000, 256, 128, 244},     {2, 768000, 32768, 17664, 17652}, {1, 768000, 32768, 8832, 17652},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels at " + std::to_string(c.rate));
        const std::string path = Write("sizes", c.channels, c.rate, Signal(3, c.channels), c.buffer);
        const std::string b = testsupport::ReadFile(path);
        const auto* h = reinterpret_cast<const uint8_t*>(b.data());
        EXPECT_EQ(c.align, LoadLE16(h + 32));
        EXPECT_EQ(c.perBlock, LoadLE16(h + 38));
        EXPECT_EQ(static_cast<uint32_t>(c.rate), LoadLE32(h + 24));
        EXPECT_EQ(static_cast<uint32_t>(c.align * (double(c.rate) / c.perBlock)), LoadLE32(h + 28));
        EXPECT_EQ(50u, LoadLE32(h + 16));
        EXPECT_EQ(7, LoadLE16(h + 40));
        EXPECT_EQ(3u, LoadLE32(h + 78));
        // No markers: the file ends after the data and its pad byte.
        const uint32_t data = LoadLE32(h + 86);
        EXPECT_EQ(b.size(), 90 + data + (data & 1));
        EXPECT_EQ(b.size() - 8, LoadLE32(h + 4));
        std::filesystem::remove(path);
    }
    MSPtr three(new CMSADPCMFile);
    ASSERT_EQ(0, three->ISoundFile(dir / "three"));
    EXPECT_EQ(kMSADPCMChannelsErr, three->Create(3, 16, 8000.0f, nullptr, nullptr));
}

// Odd codes in a mono last block keep their half byte; last blocks of one to
// four frames read back; a silent block takes predictor 0.
TEST_F(MSADPCMTest, ShortLastBlocksAndSilence) {
    for (uint32_t frames : {505u, 501u, 502u, 504u, 1u, 2u}) {
        SCOPED_TRACE(frames);
        const std::vector<int16_t> s = Signal(frames, 1);
        const std::string path = Write("short", 1, 8000, s);
        const std::vector<int16_t> back = ReadOurs(path);
        ASSERT_EQ(frames, back.size());
        const uint32_t last = frames % 500 ? frames % 500 : 500;
        const size_t first = frames - last;
        // The block header carries its first two samples exactly.
        EXPECT_EQ(s[first], back[first]);
        if (last > 1) {
            EXPECT_EQ(s[first + 1], back[first + 1]);
        }
        if (frames >= 505) {
            EXPECT_GT(SnrDb(s, back), 15.0);
        }
        const std::string b = testsupport::ReadFile(path);
        const uint32_t data = LoadLE32(reinterpret_cast<const uint8_t*>(b.data()) + 86);
        EXPECT_EQ((frames / 500) * 256 + (last == 500 ? 0 : 7 + (std::max(last, 2u) - 2 + 1) / 2), data);
        std::filesystem::remove(path);
    }
    const std::string path = Write("silence", 1, 8000, std::vector<int16_t>(600, 0));
    const std::string b = testsupport::ReadFile(path);
    EXPECT_EQ(0, b[90]);
    EXPECT_EQ(0, b[90 + 256]);
}

// Buffers of any size, lowered after Create too, give the same blocks.
TEST_F(MSADPCMTest, BufferSizeDoesNotChangeTheBlocks) {
    const std::vector<int16_t> s = Signal(5000, 2);
    const std::string whole = testsupport::ReadFile(Write("whole", 2, 22050, s, 12288));
    MSPtr f(new CMSADPCMFile);
    ASSERT_EQ(0, f->ISoundFile(dir / "small"));
    ASSERT_EQ(0, f->Create(2, 16, 22050.0f, nullptr, nullptr));
    f->SetSFTBufferSize(37);
    ASSERT_EQ(0, formattest::WriteBufferForm(*f, 0, formattest::Native16(s)));
    const std::string path = f->GetPath();
    ASSERT_EQ(0, f.release()->Dispose(1));
    EXPECT_EQ(whole, testsupport::ReadFile(path));
}

// Blocks coded in any order land where their start frame puts them, the same
// blocks as the coding at close makes; the frame count follows the furthest.
TEST_F(MSADPCMTest, FlushADPCMBufferPlacesBlocksByTheirStartFrame) {
    const std::vector<int16_t> s = Signal(1620, 1);
    const std::string coded = testsupport::ReadFile(Write("coded", 1, 8000, s));
    MSPtr f(new CMSADPCMFile);
    ASSERT_EQ(0, f->ISoundFile(dir / "placed"));
    ASSERT_EQ(0, f->Create(1, 16, 8000.0f, nullptr, nullptr));
    ASSERT_EQ(500, f->GetSamplesPerBlock());
    EXPECT_EQ(0, f->FlushADPCMBuffer(s.data() + 1500, 120, 1500));  // the short last block
    EXPECT_EQ(1620u, f->GetNumSFrames());
    EXPECT_EQ(0, f->FlushADPCMBuffer(s.data() + 500, 1000, 500));
    EXPECT_EQ(0, f->FlushADPCMBuffer(s.data(), 500, 0));
    EXPECT_EQ(1620u, f->GetNumSFrames());
    const size_t data = f->GetDataOffset();
    const size_t bytes = 3 * 256 + 7 + (120 - 2 + 1) / 2;
    const std::string placed = testsupport::ReadFile(f->GetPath());
    ASSERT_EQ(data + bytes, placed.size());
    ASSERT_GE(coded.size(), data + bytes);
    EXPECT_EQ(coded.substr(data, bytes), placed.substr(data));
}

// A frame past the end of what was written ends the samples held for coding
// there, silent after the written ones, whether set directly or by placing a
// block past the end; an earlier frame cuts nothing, and a file being read has
// no such end to move.
TEST_F(MSADPCMTest, SetEndOfFileExtendsTheHeldSamplesWithSilence) {
    MSPtr f(new CMSADPCMFile);
    ASSERT_EQ(0, f->ISoundFile(dir / "extended"));
    ASSERT_EQ(0, f->Create(1, 16, 8000.0f, nullptr, nullptr));
    ASSERT_EQ(0, formattest::WriteBufferForm(*f, 0, formattest::Native16(Signal(300, 1))));
    EXPECT_EQ(0, f->SetEndOfFile(1200));
    EXPECT_EQ(1200u, f->GetNumSFrames());
    EXPECT_EQ(0, f->SetEndOfFile(700));
    EXPECT_EQ(1200u, f->GetNumSFrames());
    EXPECT_EQ(0, f->SetFilePos(1500));
    EXPECT_EQ(1500u, f->GetNumSFrames());
    const std::string path = f->GetPath();
    ASSERT_EQ(0, f.release()->Dispose(1));

    const std::vector<int16_t> back = ReadOurs(path);
    ASSERT_EQ(1500u, back.size());
    // The blocks after the written frames hold silence only.
    EXPECT_EQ(std::vector<int16_t>(1000, 0), std::vector<int16_t>(back.begin() + 500, back.end()));
    EXPECT_EQ(kFileNotOpenBaseErr, Open(path)->SetEndOfFile(2000));
}

TEST_F(MSADPCMTest, CancelDuringCodingClosesAndLeavesNoTemporaryFile) {
    MSPtr f(new CMSADPCMFile);
    ASSERT_EQ(0, f->ISoundFile(dir / "cancelled"));
    ASSERT_EQ(0, f->Create(1, 16, 8000.0f, nullptr, nullptr));
    ASSERT_EQ(0, formattest::WriteBufferForm(*f, 0, formattest::Native16(Signal(3000, 1))));
    const std::string temp = f->GetTemporaryPath();
    ASSERT_TRUE(XWQF::FileExists(temp));
    context.lastError = kUserCanceledErr;
    EXPECT_EQ(kUserCanceledErr, f->Close());
    context.lastError = 0;
    EXPECT_FALSE(f->IsOpen());
    EXPECT_FALSE(XWQF::FileExists(temp));
}

TEST_F(MSADPCMTest, CreateFromSourceCodesTheSource) {
    const std::vector<int16_t> s = Signal(4321, 2);
    const std::string first = Write("first", 2, 16000, s);
    auto source = Open(first);
    MSPtr f(new CMSADPCMFile);
    ASSERT_EQ(0, f->ISoundFile(dir / "direct"));
    ASSERT_EQ(0, f->Create(source.get(), 2, 16, 16000.0f, nullptr, nullptr));
    const std::string path = f->GetPath();
    ASSERT_EQ(0, f.release()->Dispose(1));
    const std::vector<int16_t> decoded = ReadOurs(first);
    EXPECT_EQ(decoded.size(), ReadOurs(path).size());
    // Coding decoded samples again gives what a write of them gives.
    EXPECT_EQ(testsupport::ReadFile(Write("again", 2, 16000, decoded)), testsupport::ReadFile(path));
}

// ---- Markers and regions -----------------------------------------------------------

TEST_F(MSADPCMTest, MarkersAndRegionsBothWaysAndThroughLibsndfile) {
    MSPtr f(new CMSADPCMFile);
    ASSERT_EQ(0, f->ISoundFile(dir / "marked"));
    ASSERT_EQ(0, f->Create(1, 16, 8000.0f, nullptr, nullptr));
    ASSERT_EQ(0, formattest::WriteBufferForm(*f, 0, formattest::Native16(Signal(8000, 1))));
    SFTMarker m{};
    m.id = 1;
    m.position = 1234;
    NameToField("a marker whose name is too long to keep", m.name);
    ASSERT_EQ(0, f->AddMarker(&m));
    m.id = 2;
    m.position = 7000;
    NameToField("odd", m.name);
    ASSERT_EQ(0, f->AddMarker(&m));
    SFTRegion r{};
    r.start = 100;
    r.end = 2100;
    NameToField("verse", r.name);
    ASSERT_EQ(0, f->AddRegion(&r));
    const std::string path = f->GetPath();
    ASSERT_EQ(0, f.release()->Dispose(1));

    auto back = Open(path);
    ASSERT_EQ(2, back->GetNumMarkers());
    SFTMarker got{};
    ASSERT_EQ(0, back->GetIndMarker(uint16_t{0}, &got));
    EXPECT_EQ(1234u, got.position);
    EXPECT_EQ("a marker whose name is too long", stringFromPascalString(got.name));
    ASSERT_EQ(1, back->GetNumRegions());
    SFTRegion region{};
    ASSERT_EQ(0, back->GetIndRegion(uint16_t{0}, &region));
    EXPECT_EQ(100, region.start);
    EXPECT_EQ(2100, region.end);
    EXPECT_EQ("Region nmbr 2", stringFromPascalString(region.name));
    MSPtr info(new CMSADPCMFile);
    ASSERT_EQ(0, info->ISoundFile(path));
    OSErr regions = -1;
    EXPECT_EQ(0, info->GetOfflineInfo(&regions));
    EXPECT_EQ(1, regions);
    EXPECT_EQ(8000u, info->GetNumSFrames());

    SF_INFO sfinfo{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &sfinfo);
    ASSERT_NE(nullptr, sf);
    EXPECT_EQ(SF_FORMAT_MS_ADPCM, sfinfo.format & SF_FORMAT_SUBMASK);
    SF_CUES cues{};
    ASSERT_EQ(SF_TRUE, sf_command(sf, SFC_GET_CUE, &cues, sizeof cues));
    ASSERT_EQ(3u, cues.cue_count);
    EXPECT_EQ(1234u, cues.cue_points[0].position);
    EXPECT_EQ(7000u, cues.cue_points[1].position);
    EXPECT_EQ(100u, cues.cue_points[2].position);
    sf_close(sf);
}

// Associated data as other programs write it: labl and note give markers
// (names cut to 31 characters), an ltxt spanning the whole file gives no region,
// a short ltxt and a sub-chunk whose length runs past the list are passed over.
TEST_F(MSADPCMTest, AssociatedDataFixtures) {
    std::string b = testsupport::ReadFile(Write("plain", 1, 8000, Signal(1000, 1)));
    const std::string forty(40, 'x');
    const std::string cue = Chunk("cue ", Le32(0xFFFFFFFF) + CuePoint(1, 10) + CuePoint(2, 20) +
                                              CuePoint(3, 0) + CuePoint(4, 100) + CuePoint(5, 5));
    const std::string list = Chunk(
        "LIST", "adtl" + Chunk("labl", Le32(1) + forty + std::string(1, '\0')) +
                    Chunk("note", Le32(2) + "a note" + std::string(1, '\0')) +
                    Chunk("ltxt", Le32(3) + Le32(1000) + "rgn " + std::string(8, '\0')) +
                    Chunk("ltxt", Le32(4) + Le32(200) + "rgn " + std::string(8, '\0')) +
                    Chunk("ltxt", Le32(5)) + Chunk("labl", Le32(99) + "lost") +
                    Chunk("junk", "", 0xFFFFFFF8));
    b += cue + list;
    Patch32(b, 4, static_cast<uint32_t>(b.size() - 8));
    auto f = Open(Put("fixture.wav", b));
    ASSERT_EQ(2, f->GetNumMarkers());
    SFTMarker m{};
    ASSERT_EQ(0, f->GetIndMarker(uint16_t{0}, &m));
    EXPECT_EQ(10u, m.position);
    EXPECT_EQ(std::string(31, 'x'), stringFromPascalString(m.name));
    ASSERT_EQ(0, f->GetIndMarker(uint16_t{1}, &m));
    EXPECT_EQ(20u, m.position);
    EXPECT_EQ("a note", stringFromPascalString(m.name));
    ASSERT_EQ(1, f->GetNumRegions());
    SFTRegion r{};
    ASSERT_EQ(0, f->GetIndRegion(uint16_t{0}, &r));
    EXPECT_EQ(100, r.start);
    EXPECT_EQ(300, r.end);
    EXPECT_EQ("Region nmbr 3", stringFromPascalString(r.name));
}

// Headers that cannot be read are refused before anything is allocated or divided.
TEST_F(MSADPCMTest, HostileHeadersAreRefused) {
    const std::string good = testsupport::ReadFile(Write("good", 1, 8000, Signal(1000, 1)));
    struct Case {
        const char* what;
        void (*patch)(std::string&);
        OSErr open;
    };
    const Case cases[] = {
        {"no channels", [](std::string& b) { Patch16(b, 22, 0); }, kMSADPCMChannelsErr},
        {"three channels", [](std::string& b) { Patch16(b, 22, 3); }, kMSADPCMChannelsErr},
        {"no pairs", [](std::string& b) { Patch16(b, 40, 0); }, kMSADPCMUnsupportedErr},
        {"101 pairs", [](std::string& b) { Patch16(b, 40, 101); }, kMSADPCMUnsupportedErr},
        {"pairs past the chunk", [](std::string& b) { Patch16(b, 40, 8); }, kMSADPCMUnsupportedErr},
        {"block under a header", [](std::string& b) { Patch16(b, 32, 6); }, kMSADPCMUnsupportedErr},
        {"one frame a block", [](std::string& b) { Patch16(b, 38, 1); }, kMSADPCMUnsupportedErr},
        {"more frames than a block holds", [](std::string& b) { Patch16(b, 38, 501); },
         kMSADPCMUnsupportedErr},
        {"rate 0", [](std::string& b) { Patch32(b, 24, 0); }, kMSADPCMUnsupportedErr},
        {"PCM", [](std::string& b) { Patch16(b, 20, 1); }, kMSADPCMUnsupportedErr},
        {"no fmt", [](std::string& b) { b[13] = 'x'; }, kMSADPCMNoFmtErr},
        {"no fact", [](std::string& b) { b[71] = 'x'; }, kMSADPCMNoFactErr},
        {"short fact", [](std::string& b) { Patch32(b, 74, 2); }, kMSADPCMBadFactErr},
        {"no data", [](std::string& b) { b[83] = 'x'; }, kMSADPCMNoDataErr},
        {"not RIFF", [](std::string& b) { b[3] = 'X'; }, kNotASoundFileErr},
        {"huge chunk before data", [](std::string& b) { Patch32(b, 74, 0x80000004u); },
         kRIFFBadChunkSizeErr},
        {"fmt and CR", [](std::string& b) { b[15] = '\r'; }, 0},
        {"data past the file", [](std::string& b) { Patch32(b, 86, 0x7FFFFFF0); }, 0},
        {"fact past the blocks", [](std::string& b) { Patch32(b, 78, 0xFFFFFFFF); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string b = good;
        c.patch(b);
        auto f = Open(Put("hostile.wav", b), c.open);
        if (c.open == 0) {
            EXPECT_EQ(1000u, f->GetNumSFrames());
            std::vector<uint8_t> bytes;
            EXPECT_EQ(0, formattest::ReadAllFrames(*f, &bytes));
        } else {
            EXPECT_FALSE(f->IsOpen());
        }
    }
    std::string b = good;
    b[90] = 7;  // a predictor index beyond the seven pairs
    auto f = Open(Put("predictor.wav", b));
    EXPECT_EQ(kMSADPCMPredictorErr, f->RefreshInputBuffer(0));
}

// ---- Peers ------------------------------------------------------------------------

// Ours read by sox, libsndfile and ffmpeg; theirs read by us. sox and libsndfile
// decode as we do, sample for sample over the frames the fact chunk counts.
TEST_F(MSADPCMTest, PeersReadOursAndWeReadTheirs) {
    const bool sox = testsupport::HaveProgram("sox");
    const bool ffmpeg = testsupport::HaveProgram("ffmpeg") && testsupport::HaveProgram("ffprobe");
    for (uint32_t channels : {1u, 2u}) {
        SCOPED_TRACE(std::to_string(channels) + " channels");
        const uint32_t frames = 12345;
        const std::vector<int16_t> s = Signal(frames, channels);
        const std::string ours = Write("ours" + std::to_string(channels), channels, 22050, s);
        const std::vector<int16_t> decoded = ReadOurs(ours);
        ASSERT_EQ(s.size(), decoded.size());
        EXPECT_GT(SnrDb(s, decoded), 20.0);

        int sfChannels = 0;
        std::vector<int16_t> sf = SndfileDecode(ours, &sfChannels);
        ASSERT_EQ(static_cast<int>(channels), sfChannels);
        // libsndfile reads whole blocks only: our short last block is not read there.
        ASSERT_GE(sf.size(), frames / 1012 * 1012 * channels);
        EXPECT_TRUE(std::equal(sf.begin(), sf.end(), decoded.begin()));
        if (sox) {
            std::vector<int16_t> x =
                PeerDecode("sox " + Quote(ours) + " -t raw -e signed -b 16 -L ", dir / "sox.raw");
            ASSERT_GE(x.size(), decoded.size());
            x.resize(decoded.size());
            EXPECT_EQ(decoded, x);
        }
        if (ffmpeg) {
            std::string probe;
            ASSERT_TRUE(RunCommand("ffprobe -v error -show_entries stream=codec_name,channels,sample_rate"
                                   " -of default=nw=1 " + Quote(ours), &probe));
            EXPECT_NE(std::string::npos, probe.find("codec_name=adpcm_ms"));
            EXPECT_NE(std::string::npos, probe.find("channels=" + std::to_string(channels)));
            EXPECT_NE(std::string::npos, probe.find("sample_rate=22050"));
            const std::vector<int16_t> x =
                PeerDecode("ffmpeg -y -i " + Quote(ours) + " -f s16le ", dir / "ff.raw");
            ASSERT_FALSE(x.empty());
            EXPECT_GT(SnrDb(s, x), 15.0);
        }

        // Theirs, from the same samples.
        const std::string pcm = dir / ("pcm" + std::to_string(channels) + ".wav");
        {
            SF_INFO info{};
            info.channels = static_cast<int>(channels);
            info.samplerate = 22050;
            info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
            SNDFILE* out = sf_open(pcm.c_str(), SFM_WRITE, &info);
            ASSERT_NE(nullptr, out);
            sf_writef_short(out, s.data(), frames);
            sf_close(out);
        }
        std::vector<std::string> theirs;
        const std::string bySndfile = dir / ("sndfile" + std::to_string(channels) + ".wav");
        {
            SF_INFO info{};
            info.channels = static_cast<int>(channels);
            info.samplerate = 22050;
            info.format = SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM;
            SNDFILE* out = sf_open(bySndfile.c_str(), SFM_WRITE, &info);
            ASSERT_NE(nullptr, out);
            sf_writef_short(out, s.data(), frames);
            sf_close(out);
            theirs.push_back(bySndfile);
        }
        if (sox) {
            const std::string bySox = dir / ("sox" + std::to_string(channels) + ".wav");
            ASSERT_TRUE(RunCommand("sox " + Quote(pcm) + " -e ms-adpcm " + Quote(bySox)));
            theirs.push_back(bySox);
        }
        if (ffmpeg) {
            const std::string byFfmpeg = dir / ("ffmpeg" + std::to_string(channels) + ".wav");
            ASSERT_TRUE(RunCommand("ffmpeg -y -i " + Quote(pcm) + " -c:a adpcm_ms " + Quote(byFfmpeg)));
            theirs.push_back(byFfmpeg);
        }
        for (const std::string& path : theirs) {
            SCOPED_TRACE(path);
            auto f = Open(path);
            EXPECT_EQ(static_cast<short>(channels), f->GetNumChannels());
            EXPECT_EQ(22050.0, f->GetSampleRate());
            // ffmpeg pads the last block and counts the padding.
            EXPECT_GE(f->GetNumSFrames(), frames);
            std::vector<uint8_t> bytes;
            ASSERT_EQ(0, formattest::ReadAllFrames(*f, &bytes));
            const std::vector<int16_t> got = formattest::Samples16(bytes);
            EXPECT_GT(SnrDb(s, got), 15.0);
            std::vector<int16_t> want = SndfileDecode(path, &sfChannels);
            ASSERT_GE(want.size(), got.size());
            want.resize(got.size());
            EXPECT_EQ(want, got);
        }
    }
}

}  // namespace
