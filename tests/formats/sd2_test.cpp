// Sound Designer II files: the description and lists read from foreign
// resources, damaged ones refused, ours written and read back with their
// markers, loops and regions, and files exchanged with libsndfile both ways.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/chunk_reader.h"
#include "formats/pcm/sd2_file.h"
#include "foundation/resource_file.h"
#include "soundfile/type_codes.h"

using namespace formattest;
using testsupport::HaveProgram;
using testsupport::ReadFile;

namespace {

std::string BE16(uint16_t v) { return {char(v >> 8), char(v)}; }
std::string BE32(uint32_t v) { return BE16(uint16_t(v >> 16)) + BE16(uint16_t(v)); }
std::string Head(int16_t count) { return BE16(1) + BE32(0) + BE16(uint16_t(count)); }
std::string MarkerRecord(uint16_t type, uint32_t position, int16_t id, uint32_t length, const std::string& name) {
    return BE16(type) + BE16(type) + BE32(position) + BE32(0) + BE16(3012) + BE16(uint16_t(id)) + BE32(length) + name;
}
std::string LoopRecord(uint32_t start, uint32_t end, int16_t number, uint16_t mode) {
    return BE32(start) + BE32(end) + BE16(uint16_t(number)) + BE16(mode) + BE16(0);
}
std::string RegionRecord(int32_t start, int32_t end, uint32_t stamp, const std::string& name) {
    std::string field = std::string(1, char(name.size())) + name;
    field.resize(32, '\0');
    return BE32(7) + BE32(uint32_t(start)) + BE32(uint32_t(end)) + BE32(0) + BE32(stamp) + BE32(stamp) + field;
}
std::string RegionList(const std::string& records) { return BE16(1) + BE32(12) + BE32(56) + BE32(0) + BE32(2) + records; }

struct Strings {
    const char* size;  // null: no such resource
    const char* rate;
    const char* channels;
};

class SD2Test : public FileTest {
protected:
    // A data fork of `dataBytes` bytes with the strings and list blocks beside it.
    std::string Make(const Strings& s, size_t dataBytes = 40,
                     const std::vector<std::pair<OSType, std::string>>& lists = {}) {
        const std::string path = Put("s" + std::to_string(++made_) + ".sd2", std::string(dataBytes, '\x01'));
        QFResourceFile file(path, true);
        file.Create();
        const char* texts[] = {s.size, s.rate, s.channels};
        for (short i = 0; i < 3; ++i)
            if (texts[i]) file.WriteStringResource(texts[i], short(1000 + i), "x");
        for (const auto& [type, bytes] : lists) {
            Handle h = allocH(bytes.size());
            std::memcpy(*h, bytes.data(), bytes.size());
            file.WriteResource(type, 1000, h, std::string());
            deallocH(h);
        }
        return path;
    }
    SoundFilePtr OpenSD2(const std::string& path, OSErr* status) {
        SoundFilePtr f(new CSDIIFile);
        EXPECT_EQ(f->ISoundFile(path), 0);
        *status = f->Open();
        return f;
    }
    int made_ = 0;
};

TEST_F(SD2Test, DescriptionFromTheStrings) {
    struct Case {
        Strings s;
        OSErr status;
        short bits;
        double rate;
        short channels;
        uint32_t frames;
    };
    const Case cases[] = {
        {{"2", "44100.000000", "2"}, 0, 16, 44100, 2, 10},
        {{" 3 bytes", "+48000,5", "\t1"}, 0, 24, 48000, 1, 13},  // 40 bytes: rounded down
        {{nullptr, nullptr, nullptr}, 0, 0, 0, 0, 0},
        {{"5", "44100", "2"}, kSDIINoWordSizeErr, 0, 0, 0, 0},
        {{nullptr, "44100", "2"}, kSDIINoWordSizeErr, 0, 0, 0, 0},
        {{"2", "0", "2"}, kSDIINoSampleRateErr, 0, 0, 0, 0},
        {{"2", "nan", "2"}, kSDIINoSampleRateErr, 0, 0, 0, 0},
        {{"2", "44100", "0"}, kSDIINoChannelsErr, 0, 0, 0, 0},
        {{"2", "44100", "1025"}, kSDIINoChannelsErr, 0, 0, 0, 0},
        {{"2", "44100", "99999999999999999999999"}, kSDIINoChannelsErr, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.s.size ? c.s.size : "-") << " " << (c.s.channels ? c.s.channels : "-"));
        OSErr err = 1;
        SoundFilePtr f = OpenSD2(Make(c.s), &err);
        ASSERT_EQ(err, c.status);
        if (err) continue;
        EXPECT_EQ(f->GetWordSize(), c.bits);
        EXPECT_EQ(f->GetSampleRate(), c.rate);
        EXPECT_EQ(f->GetNumChannels(), c.channels);
        EXPECT_EQ(f->GetNumSFrames(), c.frames);
    }
    // No resource fork at all, or one that is not a resource map.
    const std::string bare = Put("bare.sd2", "abcd");
    OSErr err = 0;
    EXPECT_EQ(OpenSD2(bare, &err)->IsOpen(), false);
    EXPECT_EQ(err, kSDIINoResourceForkErr);
    Put("._bare.sd2", std::string(300, '\x7f'));
    OpenSD2(bare, &err);
    EXPECT_EQ(err, kSDIINoResourceForkErr);
}

TEST_F(SD2Test, ForeignListRecords) {
    const std::string forty(40, 'n');
    struct Case {
        const char* what;
        OSType type;
        std::string bytes;
        OSErr status;
        std::vector<std::string> names;  // markers, or loops as "ID type"
    };
    const Case cases[] = {
        {"long name cut to 31, next found from the full length", FourCC("sdML"),
         Head(2) + MarkerRecord(1, 5, -2, 40, forty) + MarkerRecord(1, 9, 1, 1, "b"), 0,
         {"-2 0 " + forty.substr(0, 31), "1 1 b"}},
        {"negative length: empty name", FourCC("sdML"), Head(1) + MarkerRecord(5, 5, 3, 0xFFFF, ""), 0, {"3 0 "}},
        {"a length past the end ends the list", FourCC("sdML"), Head(3) + MarkerRecord(2, 5, 4, 9, "abc"), 0, {"4 0 abc"}},
        {"head cut short", FourCC("sdML"), Head(2) + MarkerRecord(2, 5, 4, 1, "a") + "xx", kSDIIBadMarkerErr, {"4 0 a"}},
        {"modes", FourCC("sdLL"), Head(3) + LoopRecord(1, 2, 1, 117) + LoopRecord(3, 4, 2, 0) + LoopRecord(5, 6, 3, 118), 0,
         {"1 1", "2 2", "3 2"}},
        {"loop record cut short", FourCC("sdLL"), Head(2) + LoopRecord(1, 2, 1, 117) + "x", kSDIIBadLoopErr, {"1 1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SoundFilePtr f(new CSDIIFile);
        ASSERT_EQ(f->ISoundFile(Make({"2", "8000", "1"}, 40, {{c.type, c.bytes}})), 0);
        OSErr regions = -1;
        EXPECT_EQ(f->GetOfflineInfo(&regions), c.status);
        std::vector<std::string> got;
        for (uint16_t i = 0; i < f->GetNumMarkers(); ++i) {
            SFTMarker m;
            f->GetIndMarker(i, &m);
            got.push_back(std::to_string(m.id) + " " + std::to_string(m.number) + " " +
                          std::string(reinterpret_cast<char*>(m.name + 1), m.name[0]));
        }
        for (uint16_t i = 0; i < f->GetNumLoops(); ++i) {
            SFTLoop l;
            f->GetIndLoop(i, &l);
            got.push_back(std::to_string(l.id) + " " + std::to_string(l.type));
        }
        EXPECT_EQ(got, c.names);
    }
}

TEST_F(SD2Test, RegionsInsideTheSoundAreKept) {
    struct Case {
        const char* what;
        bool ignoreWholeFile;
        std::string list;
        std::vector<std::string> regions;  // "start end name"
        uint32_t stamp;
    };
    const Case cases[] = {
        {"past the end, reversed, whole file", true,
         RegionRecord(0, 21, 9, "over") + RegionRecord(5, 4, 8, "back") + RegionRecord(0, 20, 7, "all") +
             RegionRecord(2, 3, 6, "ok"),
         {"2 3 ok"}, 9},
        {"start -1 becomes the whole file", false, RegionRecord(1, 2, 5, "a") + RegionRecord(-1, 3, 4, "w"),
         {"0 20 w", "1 2 a"}, 4},
        {"a head alone: the whole-file region", true, "", {"0 20 <base>"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CSoundFile::SetIgnoreRegionsContainingWholeFile(c.ignoreWholeFile);
        OSErr err = 1;
        SoundFilePtr f = OpenSD2(Make({"2", "8000", "1"}, 40, {{FourCC("ddRL"), RegionList(c.list)}}), &err);
        ASSERT_EQ(err, 0);
        std::vector<std::string> got;
        for (uint16_t i = 0; i < f->GetNumRegions(); ++i) {
            SFTRegion r;
            f->GetIndRegion(i, &r);
            got.push_back(std::to_string(r.start) + " " + std::to_string(r.end) + " " +
                          std::string(reinterpret_cast<char*>(r.name + 1), r.name[0]));
        }
        std::vector<std::string> expected = c.regions;
        for (std::string& e : expected)
            if (e.ends_with("<base>")) e.replace(e.size() - 6, 6, f->base_name());
        EXPECT_EQ(got, expected);
        EXPECT_EQ(f->GetTimeStamp(), c.stamp);
    }
}

// 24-bit stereo frames of the buffer form, more than a buffer.
std::vector<uint8_t> Frames(size_t frames, int bytes) {
    std::vector<uint8_t> out(frames * 2 * bytes);
    for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(i * 7919 >> 3);
    return out;
}

TEST_F(SD2Test, OursReadBackWithTheirLists) {
    for (CSDIIFile* made : {new CSDIIFile, static_cast<CSDIIFile*>(new CDyaxisMacMixFile)}) {
        SoundFilePtr f(made);
        const OSType type = f->GetFType();
        SCOPED_TRACE(FourCCText(type));
        ASSERT_EQ(f->ISoundFile(dir / FourCCText(type)), 0);
        ASSERT_EQ(f->Create(2, 24, 48000, nullptr, reinterpret_cast<const unsigned char*>("\x03sd2")), 0);
        const std::vector<uint8_t> samples = Frames(13000, 3);
        ASSERT_EQ(WriteBufferForm(*f, 0, samples), 0);
        SFTMarker m1{11, 100, "\x03one", 1, 0}, m5{12, 200, "\x04" "five", 5, 0};
        SFTLoop l1{1, 10, 20, 1}, l2{2, 30, 40, 2};
        SFTRegion r{3, 50, 60, 55, 0, "\x06middle"};
        for (const SFTMarker& m : {m1, m5}) ASSERT_EQ(f->AddMarker(&m), 0);
        for (const SFTLoop& l : {l1, l2}) ASSERT_EQ(f->AddLoop(&l), 0);
        ASSERT_EQ(f->AddRegion(&r), 0);
        f->SetTimeStamp(123456);
        const std::string path = f->GetPath();
        ASSERT_EQ(f->Close(), 0);
        EXPECT_EQ(f->Close(), kFileNotOpenBaseErr);
        uint32_t finderType = 0, creator = 0;
        ASSERT_EQ(GetFinderInfo(path, &finderType, &creator), 0);
        EXPECT_EQ(finderType, type);
        QFResourceFile res(path, true);
        EXPECT_EQ(res.ReadStringResource(1000) + " " + res.ReadStringResource(1001) + " " + res.ReadStringResource(1002),
                  "3 48000.000000 2");

        OSErr err = 1;
        SoundFilePtr g = OpenSD2(path, &err);
        ASSERT_EQ(err, 0);
        std::vector<uint8_t> back;
        ASSERT_EQ(ReadAllFrames(*g, &back), 0);
        EXPECT_EQ(back, samples);
        SFTMarker m;
        ASSERT_EQ(g->GetNumMarkers(), 2);
        ASSERT_EQ(g->GetIndMarker(1, &m), 0);
        EXPECT_EQ(m.type, 2);  // type 5 is stored as 2
        EXPECT_EQ(std::string(reinterpret_cast<char*>(m.name), 5), "\x04""five");
        SFTLoop l;
        ASSERT_EQ(g->GetNumLoops(), 2);
        ASSERT_EQ(g->GetIndLoop(1, &l), 0);
        EXPECT_TRUE(l.start == 30 && l.end == 40 && l.type == 2 && l.id == 2);
        SFTRegion rb;
        ASSERT_EQ(g->GetNumRegions(), 1);
        ASSERT_EQ(g->GetIndRegion(0, &rb), 0);
        EXPECT_TRUE(rb.start == 50 && rb.end == 60 && rb.sync == 55 && rb.name[0] == 6);
        EXPECT_EQ(g->GetTimeStamp(), 123456u);
    }
}

TEST_F(SD2Test, WritingPastTheEndAndReReadingBlocks) {
    SoundFilePtr f(new CSDIIFile);
    ASSERT_EQ(f->ISoundFile(dir / "gap"), 0);
    ASSERT_EQ(f->Create(1, 20, 8000, nullptr, nullptr), 0);
    ASSERT_EQ(WriteBufferForm(*f, 1000, Native16({0x1234, -2})), 0);
    EXPECT_EQ(f->GetNumSFrames(), 1002u);
    ASSERT_EQ(f->RefreshOutputBuffer(1000), 0);  // what channel-by-channel writing re-reads
    EXPECT_EQ(Samples16({f->GetOutputBuffer(), f->GetOutputBuffer() + 6}), (std::vector<int16_t>{0x1234, -2, 0}));
    ASSERT_EQ(f->Close(), 0);
    EXPECT_EQ(ReadFile(f->GetPath()), std::string(2000, '\0') + "\x12\x34\xff\xfe");
    OSErr err = 1;
    SoundFilePtr g = OpenSD2(f->GetPath(), &err);
    EXPECT_EQ(g->GetWordSize(), 16);  // 20 bits are stored in two bytes

    // A resource fork that cannot be written is reported, and the file is closed.
    SoundFilePtr h(new CSDIIFile);
    ASSERT_EQ(h->ISoundFile(dir / "blocked"), 0);
    ASSERT_EQ(h->Create(1, 16, 8000, nullptr, nullptr), 0);
    std::remove((dir / "._blocked.sd2").c_str());
    ASSERT_EQ(::mkdir((dir / "._blocked.sd2").c_str(), 0755), 0);
    EXPECT_NE(h->Close(), 0);
    EXPECT_FALSE(h->IsOpen());
}

TEST_F(SD2Test, ChannelCountWithoutOpening) {
    EXPECT_EQ(CSDIIFile::ReadNumChannels(Make({"2", "8000", "6"})), 6);
    EXPECT_EQ(CSDIIFile::ReadNumChannels(Make({"2", "8000", "5000"})), 0);
    EXPECT_EQ(CSDIIFile::ReadNumChannels(Make({"2", "8000", nullptr})), 0);
    EXPECT_THROW(CSDIIFile::ReadNumChannels(dir / "missing.sd2"), error_code_exception);
    EXPECT_FALSE(XWQF::FileExists(dir / "missing.sd2"));
}

// ---------------------------------------------------------------------------
// libsndfile

TEST_F(SD2Test, SndfileBothWays) {
    if (!HaveProgram("sndfile-convert") || !HaveProgram("sndfile-info") || !HaveProgram("sox"))
        GTEST_SKIP() << "libsndfile's tools or sox missing";
    for (int bits : {16, 24}) {
        SCOPED_TRACE(bits);
        const std::string wav = dir / ("x" + std::to_string(bits) + ".wav");
        ASSERT_TRUE(RunCommand("sox -n -r 22050 -c 2 -b " + std::to_string(bits) + " " + Quote(wav) +
                               " synth 0.7 sine 300-3000 sine 440 gain -0.5"));
        std::string raw;
        ASSERT_TRUE(RunCommand("sox " + Quote(wav) + " -t raw -e signed -b " + std::to_string(bits) + " -L -", &raw));
        const std::vector<uint8_t> expected(raw.begin(), raw.end());
        // Theirs read here.
        const std::string theirs = dir / ("theirs" + std::to_string(bits) + ".sd2");
        ASSERT_TRUE(RunCommand("sndfile-convert -pcm" + std::to_string(bits) + " " + Quote(wav) + " " + Quote(theirs)));
        OSErr err = 1;
        SoundFilePtr f = OpenSD2(theirs, &err);
        ASSERT_EQ(err, 0);
        EXPECT_TRUE(f->GetSampleRate() == 22050 && f->GetNumChannels() == 2 && f->GetWordSize() == bits);
        std::vector<uint8_t> got;
        ASSERT_EQ(ReadAllFrames(*f, &got), 0);
        EXPECT_EQ(got, expected);
        // Ours read by them.
        SoundFilePtr o(new CSDIIFile);
        ASSERT_EQ(o->ISoundFile(dir / ("ours" + std::to_string(bits))), 0);
        ASSERT_EQ(o->Create(2, short(bits), 22050, nullptr, nullptr), 0);
        ASSERT_EQ(WriteBufferForm(*o, 0, expected), 0);
        ASSERT_EQ(o->Close(), 0);
        std::string info, back;
        ASSERT_TRUE(RunCommand("sndfile-info " + Quote(o->GetPath()), &info));
        EXPECT_NE(info.find("Sample Rate : 22050"), std::string::npos) << info;
        EXPECT_NE(info.find("Channels    : 2"), std::string::npos) << info;
        const std::string backWav = o->GetPath() + ".wav";
        ASSERT_TRUE(RunCommand("sndfile-convert " + Quote(o->GetPath()) + " " + Quote(backWav)));
        ASSERT_TRUE(RunCommand("sox " + Quote(backWav) + " -t raw -e signed -b " + std::to_string(bits) + " -L -", &back));
        EXPECT_EQ(back, raw);
    }
}

}  // namespace
