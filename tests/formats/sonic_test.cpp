// Sonic AIFF files and split pairs: every packing mode written and read back
// with the layout it claims, hand-made files of each mode read exactly,
// damaged headers refused, and the 16-bit and big-endian outputs read as plain
// AIFF by sox, ffmpeg and libsndfile.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "aiff_test_support.h"
#include "format_test_support.h"
#include "formats/chunk_reader.h"
#include "formats/pcm/aiff_file.h"
#include "formats/pcm/sonic_file.h"
#include "formats/pcm/sonic_split_file.h"
#include "formats/register_sound_files.h"
#include "platform/thread_context.h"
#include "soundfile/progress.h"
#include "soundfile/type_codes.h"

using namespace formattest;
using aifftest::BE16;
using aifftest::BE32;
using aifftest::Chunk;
using aifftest::Comm;
using aifftest::Marker;
using testsupport::HaveProgram;
using testsupport::ReadFile;

namespace {

uint32_t At32(const std::string& s, size_t at) {
    return LoadBE32(reinterpret_cast<const uint8_t*>(s.data() + at));
}

// 24-bit samples in the buffer form: three bytes, least significant first.
std::vector<uint8_t> Packed24(const std::vector<int32_t>& samples) {
    std::vector<uint8_t> out;
    for (int32_t v : samples)
        for (int k = 0; k < 3; ++k) out.push_back(uint8_t(v >> (8 * k)));
    return out;
}

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out) b = uint8_t(rng());
    return out;
}

// A Sonic file made by hand: FORM, COMM, the 'APPL' records, further chunks, SSND.
struct Layout {
    int16_t channels = 1;
    uint32_t frames = 0;
    int16_t bits = 24;
    uint16_t mode = kSonicBigEndian24;
    uint32_t offsLength = 24;  // 20 or 24 make an OFFS record; other values none
    std::string chunks;        // after 'APPL'
    bool appl = true;
    uint32_t dataAt = 0;  // where the data goes; 0: right after the SSND header
};

std::string SonicBytes(const Layout& l, const std::string& data) {
    std::string body = "AIFF" + Comm(l.channels, l.frames, l.bits, 48000);
    if (l.appl) {
        std::string offs;
        if (l.offsLength == 20 || l.offsLength == 24)
            offs = "OFFS" + BE32(l.offsLength) + std::string(l.offsLength, '\0');
        body += Chunk("APPL",
                      "SSYS" + ("MCSF" + BE32(2124) + std::string(2124, '\0')) + offs +
                          ("AFPR" + BE32(250) + BE16(l.mode) + BE32(1) + std::string(244, '\0')));
    }
    body += l.chunks;
    const size_t p = 8 + body.size();
    const size_t offset = l.dataAt ? l.dataAt - p - 16 : 0;
    body += "SSND" + BE32(uint32_t(8 + offset + data.size())) + BE32(uint32_t(offset)) + BE32(0) +
            std::string(offset, '\0') + data;
    return "FORM" + BE32(uint32_t(body.size())) + body;
}

class SonicTest : public FileTest {
protected:
    void SetUp() override {
        CSoundFile::Cleanup();
        RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
        savedMode_ = gPackingModeOfLastOpenedSonicFile.load();
    }
    void TearDown() override {
        gPackingModeOfLastOpenedSonicFile.store(savedMode_);
        CSoundFile::Cleanup();
        CorvaOutFile::Clear();
        FileTest::TearDown();
    }
    std::unique_ptr<CSonicAIFFFile> Opened(const std::string& path, OSErr* status) {
        auto f = std::make_unique<CSonicAIFFFile>();
        EXPECT_EQ(0, f->ISoundFile(path));
        *status = f->Open();
        return f;
    }
    // Writes the frames (buffer form) as a new file of the mode; its path.
    std::string Written(const std::string& name, uint16_t mode, short bits, short channels,
                        const std::vector<uint8_t>& frames, uint32_t stamp = 0) {
        CSonicAIFFFile f;
        EXPECT_EQ(0, f.ISoundFile(dir / name));
        f.SetSFTBufferSize(3000);
        uint8_t specifics[4] = {uint8_t(mode)};
        EXPECT_EQ(0, f.Create(channels, bits, 48000, specifics, nullptr));
        if (stamp) f.SetTimeStamp(stamp);
        OSErr status;
        EXPECT_EQ(0, f.GetOfflineInfo(&status));  // leaves the file being written as it is
        EXPECT_EQ(0, WriteBufferForm(f, 0, frames));
        const std::string path = f.GetPath();
        EXPECT_EQ(0, f.Close());
        return path;
    }
    uint16_t savedMode_ = 0;
};

TEST_F(SonicTest, EveryPackingModeRoundTripsInTheLayoutItDescribes) {
    struct Case {
        uint16_t mode;
        short bits, channels;
        uint32_t frames, length;
    } const cases[] = {
        {1, 16, 1, 1000, 524288},
        {1, 16, 2, 70000, 786432},
        {2, 24, 1, 1000, 524288},
        // 600000 bytes over two whole blocks of 245760 and part of a third.
        {3, 24, 2, 100000, 1048576},
        {10, 24, 1, 5, 524288},
        // Odd frames of an odd channel count are evened with a frame of silence.
        {11, 24, 3, 1001, 524288},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", " << c.channels << " channels");
        const std::vector<uint8_t> frames =
            RandomBytes(size_t(c.frames) * c.channels * (c.bits / 8), c.mode);
        const std::string path =
            Written("out" + std::to_string(c.mode) + "_" + std::to_string(c.channels), c.mode,
                    c.bits, c.channels, frames);
        const std::string bytes = ReadFile(path);
        ASSERT_EQ(c.length, bytes.size());
        const bool longOffs = c.mode >= 10;
        const size_t ssnd = longOffs ? 2504 : 2500;
        const std::pair<size_t, std::string> fields[] = {
            {0, "FORM" + BE32(c.length - 8)},
            {38, "AESD"},
            {70, "APPL" + BE32(longOffs ? 2426 : 2422) + "SSYSMCSF"},
            {2214, "OFFS" + BE32(longOffs ? 24 : 20)},
            {ssnd - 258, "AFPR" + BE32(250) + BE16(c.mode)},
            {ssnd, "SSND" + BE32(c.length - ssnd - 8) + BE32(262128 - ssnd) + BE32(262144)},
        };
        for (const auto& [at, field] : fields)
            EXPECT_EQ(field, bytes.substr(at, field.size())) << at;
        OSErr err = 0;
        auto back = Opened(path, &err);
        ASSERT_EQ(0, err);
        EXPECT_EQ(c.mode, back->GetPackingMode());
        EXPECT_EQ(c.frames, back->GetNumSFrames());
        std::vector<uint8_t> read;
        ASSERT_EQ(0, ReadAllFrames(*back, &read));
        EXPECT_TRUE(read == frames);
    }
}

// Modes 1 and 11 are plain AIFF samples, which the peers check.
TEST_F(SonicTest, EachModeReadsAndWritesTheBytesOfItsLayout) {
    // Right after its header the data of these files would start at 2488.
    struct Case {
        uint16_t mode;
        short bits;
        uint32_t dataAt;
        std::string junk, stored;  // junk: bytes the data start is moved past
        std::vector<uint8_t> samples;
    } const cases[] = {
        // Groups of bits 15-8, 23-16, unused, 7-0, from a multiple of 4.
        {2, 24, 2489, "\xEE\xEE\xEE", std::string("\x34\x12\x00\x56\x00\x80\x00\x01", 8),
         Packed24({0x123456, -8388607})},
        // Samples from a multiple of 3 in the block.
        {3, 24, 0, "\xEE\xEE", std::string("\x56\x34\x12\x01\x00\x80", 6),
         Packed24({0x123456, -8388607})},
        {10, 24, 0, "", std::string("\x56\x34\x12\x01\x00\x80", 6), Packed24({0x123456, -8388607})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        Layout l;
        l.mode = c.mode;
        l.bits = c.bits;
        l.frames = 2;
        l.dataAt = c.dataAt;
        OSErr err = 0;
        auto f = Opened(Put("fixture.aif", SonicBytes(l, c.junk + c.stored)), &err);
        ASSERT_EQ(0, err);
        std::vector<uint8_t> read;
        ASSERT_EQ(0, ReadAllFrames(*f, &read));
        EXPECT_TRUE(read == c.samples);

        const std::string ours =
            ReadFile(Written("ours" + std::to_string(c.mode), c.mode, c.bits, 1, c.samples));
        EXPECT_EQ(c.stored, ours.substr(262144, c.stored.size()));
    }
}

TEST_F(SonicTest, PackedModeLeavesTheLastSixteenKiBOfEveryBlockOut) {
    std::vector<int32_t> values(81925);
    for (size_t i = 0; i < values.size(); ++i) values[i] = int32_t(i);
    const std::vector<uint8_t> samples = Packed24(values);
    // Sample 81919 ends block 1's samples at 507903; sample 81920 starts block 2.
    const std::string ours = ReadFile(Written("packed", kSonicPacked24, 24, 1, samples));
    EXPECT_EQ(std::string("\xFF\x3F\x01", 3), ours.substr(507901, 3));
    EXPECT_EQ(std::string(16384, '\0'), ours.substr(507904, 16384));
    EXPECT_EQ(std::string("\x00\x40\x01", 3), ours.substr(524288, 3));
}

TEST_F(SonicTest, OpenRefusesWhatTheBuffersCannotCarryAndCountsWhatTheFileHolds) {
    struct Case {
        const char* what;
        void (*change)(Layout&);
        OSErr status;
        uint32_t dataBytes = 8, frames = 0;
    } const cases[] = {
        {"mode 0", [](Layout& l) { l.mode = 0; }, -22700},
        {"mode 9", [](Layout& l) { l.mode = 9; }, -22700},
        {"mode 2 with 16 bits", [](Layout& l) { l.mode = 2, l.bits = 16; }, -22700},
        {"mode 1 with 24 bits", [](Layout& l) { l.mode = 1; }, -22700},
        {"no 'APPL'", [](Layout& l) { l.appl = false; }, -22700},
        {"no channels", [](Layout& l) { l.channels = 0; }, -22020},
        {"1025 channels", [](Layout& l) { l.channels = 1025; }, -22020},
        {"mode 2 with 32 bits reads as 24", [](Layout& l) { l.mode = 2, l.bits = 32; }, 0, 8, 2},
        // Frames of the file's layout, not samples.
        {"stereo mode 11", [](Layout& l) { l.channels = 2; }, 0, 60, 10},
        {"stereo mode 1", [](Layout& l) { l.channels = 2, l.mode = 1, l.bits = 16; }, 0, 41, 10},
        {"stereo mode 2", [](Layout& l) { l.channels = 2, l.mode = 2; }, 0, 40, 5},
        // Data that ends inside a gap holds no samples there.
        {"mode 3 into a gap", [](Layout& l) { l.mode = 3, l.dataAt = 262144; }, 0, 246760, 81920},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Layout l;
        l.frames = 1000000;
        c.change(l);
        OSErr err = 0;
        auto f = Opened(Put("bad.aif", SonicBytes(l, std::string(c.dataBytes, '\x01'))), &err);
        EXPECT_EQ(c.status, err);
        if (err) continue;
        EXPECT_EQ(l.mode == 1 ? 16 : 24, f->GetWordSize());
        EXPECT_EQ(c.frames, f->GetNumSFrames());
        std::vector<uint8_t> read;
        EXPECT_EQ(0, ReadAllFrames(*f, &read));
    }
}

TEST_F(SonicTest, CreateChoosesThePackingModeOrMakesNothing) {
    struct Case {
        short bits;
        uint8_t code;
        uint16_t lastOpened;
        OSErr status;
        uint16_t mode;
    } const cases[] = {
        {16, 0, 11, 0, 1},     {16, 3, 11, 0, 1},      {24, 2, 11, 0, 2},
        {24, 3, 11, 0, 3},     {24, 10, 11, 0, 10},    {24, 11, 2, 0, 11},
        {24, 0, 3, 0, 3},      {24, 0, 10, 0, 10},     {24, 0, 1, 0, 11},
        {24, 0, 77, 0, 11},    {24, 1, 11, -20020, 0}, {24, 5, 11, -20020, 0},
        {8, 0, 11, -20020, 0}, {32, 0, 11, -20020, 0},
    };
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.bits << " bits, code " << int(c.code) << ", last " << c.lastOpened);
        gPackingModeOfLastOpenedSonicFile.store(c.lastOpened);
        CSonicAIFFFile f;
        const std::string path = dir / ("new" + std::to_string(i++));
        ASSERT_EQ(0, f.ISoundFile(path));
        uint8_t specifics[4] = {c.code};
        EXPECT_EQ(c.status, f.Create(1, c.bits, 44100, specifics, nullptr));
        EXPECT_EQ(c.mode, f.GetPackingMode());
        if (c.status) {
            EXPECT_FALSE(XWQF::FileExists(f.GetPath()));
        }
    }
}

TEST_F(SonicTest, TimeStampsComeBackFromTheOFFSRecord) {
    struct Case {
        uint16_t mode;
        uint32_t stamp;
    } const cases[] = {{1, 480000}, {11, 480000}, {10, 15}, {3, 27}, {2, 4294967295u}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stamp);
        const short bits = c.mode == 1 ? 16 : 24;
        const std::string path =
            Written("stamp", c.mode, bits, 1, std::vector<uint8_t>(bits / 8 * 10), c.stamp);
        const std::string bytes = ReadFile(path);
        const std::string t = bytes.substr(2214 + 8, 8);
        EXPECT_EQ(t, bytes.substr(2214 + (c.mode >= 10 ? 20 : 18), 8));
        if (c.stamp == 480000) {
            EXPECT_EQ(std::string("\x40\x24\0\0\0\0\0\0", 8), t);  // 10.0 s at 48000 Hz
        }
        OSErr err = 0;
        auto back = Opened(path, &err);
        ASSERT_EQ(0, err);
        EXPECT_TRUE(back->IsTimeStampValid());
        EXPECT_EQ(c.stamp, back->GetTimeStamp());
        XWQF::DeleteFile(path);
    }
    Layout l;
    l.offsLength = 0;  // AFPR follows MCSF
    OSErr err = 0;
    auto f = Opened(Put("nooffs.aif", SonicBytes(l, "")), &err);
    ASSERT_EQ(0, err);
    EXPECT_TRUE(f->IsTimeStampValid());
    EXPECT_EQ(0u, f->GetTimeStamp());
}

// Markers as type/number/name, then loops as type:start-end.
std::string Lists(CSoundFile& f) {
    std::string out;
    for (const QFMarkerPtr& m : f.GetMarkerList())
        out += std::to_string(m->type) + "/" + std::to_string(m->number) + "/" + m->name + " ";
    for (const QFLoopPtr& l : f.GetLoopList())
        out += "loop " + std::to_string(l->type) + ":" + std::to_string(l->start) + "-" +
               std::to_string(l->end);
    return out;
}

TEST_F(SonicTest, MarkersLoopsAndSamplerDataAreRead) {
    // More markers counted than the chunk holds: those in it are read.
    const std::string marks =
        Chunk("MARK", BE16(65535) + Marker(1, 10, "#3 Intro") + Marker(2, 20, "Outro") +
                          Marker(3, 100, "a") + Marker(4, 200, "b"));
    // Notes, velocities and gain; then the sustain and release loops (mode, begin, end).
    const std::string notes = std::string("\x3C\x02\x10\x70\x05\x7F", 6) + BE16(uint16_t(-6));
    const std::string sustain = BE16(1) + BE16(3) + BE16(4);
    for (const std::string& release : {BE16(0) + BE16(0) + BE16(0), BE16(2) + BE16(5) + BE16(6)}) {
        Layout l;
        l.chunks = marks + Chunk("INST", notes + sustain + release);
        OSErr err = 0;
        auto f = Opened(Put("marks.aif", SonicBytes(l, "")), &err);
        // A loop whose markers are missing is left out and reported.
        EXPECT_EQ(release[1] ? -22203 : 0, err);
        // The sustain loop's markers have left the list.
        EXPECT_EQ("1/3/Intro 2/-1/Outro loop 1:100-200", Lists(*f));
        SFTSamplerInfo info;
        if (err) continue;  // sampler data comes after the loops
        EXPECT_EQ(0, f->GetSamplerInfo(&info));
        EXPECT_EQ("60/112/-6", std::to_string(info.baseNote) + "/" + std::to_string(info.highNote) +
                                   "/" + std::to_string(info.gain));
    }
}

TEST_F(SonicTest, SplitPairMakesItsFolderAndLinksItsMembers) {
    const uint32_t frames = 3000;
    const std::vector<uint8_t> written = RandomBytes(frames * 2 * 3, 9);
    SoundFilePtr pair(CSoundFile::CreateSoundFile(FourCC("SpSc")));
    ASSERT_EQ(0, pair->ISoundFile(dir / "Take/Mix_1"));
    EXPECT_TRUE(XWQF::FileExists(dir / "Take"));
    uint8_t specifics[4] = {kSonicPacked24};
    ASSERT_EQ(0, pair->Create(2, 24, 48000, specifics, nullptr));
    ASSERT_EQ(0, WriteBufferForm(*pair, 0, written));
    ASSERT_EQ(0, pair.release()->Dispose(1));

    const std::string paths[2] = {dir / "Take/Mix.1.aif", dir / "Take/Mix.2.aif"};
    std::string records[2];
    for (uint32_t index = 0; index < 2; ++index) {
        const std::string mcsf = ReadFile(paths[index]).substr(82, 2132);
        ASSERT_EQ(2132u, mcsf.size()) << paths[index];
        EXPECT_EQ(BE32(index) + "\x01\x01", mcsf.substr(8, 6));
        EXPECT_EQ(BE32(index == 1 ? 0 : 1) + BE32(index), mcsf.substr(76, 8));
        records[index] = mcsf.substr(1108, 32);
    }
    // Both carry the pair's two records: its name and time, then time + 1.
    EXPECT_EQ(records[0], records[1]);
    EXPECT_EQ(std::string("\x05Mix.1\0\0\0\0\0\0", 12), records[0].substr(0, 12));
    EXPECT_EQ(records[0].substr(0, 12), records[0].substr(16, 12));
    EXPECT_EQ(At32(records[0], 12) + 1, At32(records[0], 28));

    SoundFilePtr back(CSoundFile::CreateSoundFile(FourCC("SpSc")));
    ASSERT_EQ(0, back->ISoundFile(std::vector<std::string>{paths[0], paths[1]}));
    ASSERT_EQ(0, back->Open());
    std::vector<uint8_t> read;
    ASSERT_EQ(0, ReadAllFrames(*back, &read));
    EXPECT_TRUE(read == written);

    // The next output into the same folder uses it; its members are its own.
    SoundFilePtr again(CSoundFile::CreateSoundFile(FourCC("SpSc")));
    EXPECT_EQ(0, again->ISoundFile(dir / "Take/Other"));
    EXPECT_EQ(dir / "Take/Other", again->GetPath());
    // A folder that cannot be made fails the binding.
    SoundFilePtr lost(CSoundFile::CreateSoundFile(FourCC("SpSc")));
    EXPECT_EQ(kFileNotFoundErr, lost->ISoundFile(dir / "No/Such/Mix"));
}

// ---------------------------------------------------------------------------
// Peers

TEST_F(SonicTest, SixteenBitAndBigEndianOutputsReadAsPlainAiff) {
    if (!HaveProgram("sox") || !HaveProgram("ffmpeg") || !HaveProgram("ffprobe"))
        GTEST_SKIP() << "sox, ffmpeg or ffprobe missing";
    struct Case {
        uint16_t mode;
        short bits, channels;
    } const cases[] = {{1, 16, 1}, {1, 16, 2}, {11, 24, 1}, {11, 24, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", " << c.channels << " channels");
        const uint32_t frames = 4000;
        const size_t bytes = size_t(frames) * c.channels * (c.bits / 8);
        const std::vector<uint8_t> written = RandomBytes(bytes, c.mode + c.channels);
        const std::string path =
            Written("peer" + std::to_string(c.mode) + "_" + std::to_string(c.channels), c.mode,
                    c.bits, c.channels, written);
        const std::string bits = std::to_string(c.bits);
        // Each peer's decoding as little-endian bytes: our frames, then silence.
        const auto expectOurs = [&](const std::string& raw, const char* peer) {
            ASSERT_GE(raw.size(), bytes) << peer;
            EXPECT_EQ(0, std::memcmp(raw.data(), written.data(), bytes)) << peer;
            EXPECT_EQ(std::string::npos, raw.find_first_not_of('\0', bytes)) << peer;
        };
        const std::string soxRaw = dir / "sox.raw", ffRaw = dir / "ff.raw";
        ASSERT_TRUE(RunCommand("sox " + Quote(path) + " -t raw -e signed -b " + bits + " -L " +
                               Quote(soxRaw)));
        expectOurs(ReadFile(soxRaw), "sox");
        ASSERT_TRUE(RunCommand("ffmpeg -v error -y -i " + Quote(path) + " -f s" + bits +
                               "le -c:a pcm_s" + bits + "le " + Quote(ffRaw)));
        expectOurs(ReadFile(ffRaw), "ffmpeg");
        std::string probe;
        ASSERT_TRUE(RunCommand(
            "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 " +
                Quote(path),
            &probe));
        EXPECT_EQ("pcm_s" + bits + "be,48000," + std::to_string(c.channels) + "\n", probe);

        SF_INFO info{};
        SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(nullptr, sf) << sf_strerror(nullptr);
        EXPECT_EQ(c.channels, info.channels);
        EXPECT_EQ(48000, info.samplerate);
        std::vector<int32_t> theirs(size_t(info.frames) * info.channels);
        sf_readf_int(sf, theirs.data(), info.frames);
        sf_close(sf);
        std::string raw;
        for (int32_t v : theirs)
            for (int k = 4 - c.bits / 8; k < 4; ++k) raw += char(uint32_t(v) >> (8 * k));
        expectOurs(raw, "libsndfile");
    }
}

}  // namespace
