// Sound Designer II files: the description and lists read from foreign
// resources, damaged ones refused, ours written and read back with their
// markers, loops and regions, and files exchanged with libsndfile both ways.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "format_test_support.h"
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

// The texts of 'STR ' 1000, 1001 and 1002; null: no such resource.
using Strings = std::array<const char*, 3>;

class SD2Test : public FileTest {
protected:
    // A data fork of `dataBytes` bytes as "in.sd2", with the strings and list blocks beside it.
    std::string Make(const Strings& s, size_t dataBytes = 40,
                     const std::vector<std::pair<OSType, std::string>>& lists = {}) {
        XWQF::DeleteFile(dir / "in.sd2");
        const std::string path = Put("in.sd2", std::string(dataBytes, '\x01'));
        QFResourceFile file(path, true);
        file.Create();
        for (short i = 0; i < 3; ++i)
            if (s[i]) file.WriteStringResource(s[i], short(1000 + i), "x");
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
};

std::string Name(const unsigned char* p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

// The lists as text: "M id number type name", "L id start end type", "R start end sync name".
std::vector<std::string> Lists(CSoundFile& f) {
    std::vector<std::string> out;
    auto text = [](auto... v) { return ((std::to_string(v) + " ") + ...); };
    SFTMarker m;
    SFTLoop l;
    SFTRegion r;
    for (uint16_t i = 0; f.GetIndMarker(i, &m) == 0; ++i) out.push_back("M " + text(m.id, m.number, m.type) + Name(m.name));
    for (uint16_t i = 0; f.GetIndLoop(i, &l) == 0; ++i) out.push_back("L " + text(l.id, l.start, l.end, l.type));
    for (uint16_t i = 0; f.GetIndRegion(i, &r) == 0; ++i) out.push_back("R " + text(r.start, r.end, r.sync) + Name(r.name));
    return out;
}

TEST_F(SD2Test, DescriptionFromTheStringsAlsoWithoutOpening) {
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
        SCOPED_TRACE(testing::Message() << (c.s[0] ? c.s[0] : "-") << " " << (c.s[2] ? c.s[2] : "-"));
        OSErr err = 1;
        SoundFilePtr f = OpenSD2(Make(c.s), &err);
        ASSERT_EQ(err, c.status);
        EXPECT_EQ(f->IsOpen(), err == 0);
        if (err) continue;
        EXPECT_EQ(f->GetWordSize(), c.bits);
        EXPECT_EQ(f->GetSampleRate(), c.rate);
        EXPECT_EQ(f->GetNumChannels(), c.channels);
        EXPECT_EQ(f->GetNumSFrames(), c.frames);
    }
    // No resource fork at all, or one that is not a resource map.
    const std::string bare = Put("bare.sd2", "abcd");
    OSErr err = 0;
    OpenSD2(bare, &err);
    EXPECT_EQ(err, kSDIINoResourceForkErr);
    Put("._bare.sd2", std::string(300, '\x7f'));
    OpenSD2(bare, &err);
    EXPECT_EQ(err, kSDIINoResourceForkErr);

    // The channel count read without opening.
    EXPECT_EQ(CSDIIFile::ReadNumChannels(Make({"2", "8000", "6"})), 6);
    EXPECT_EQ(CSDIIFile::ReadNumChannels(Make({"2", "8000", "5000"})), 0);
    EXPECT_EQ(CSDIIFile::ReadNumChannels(Make({"2", "8000", nullptr})), 0);
    EXPECT_THROW(CSDIIFile::ReadNumChannels(dir / "missing.sd2"), error_code_exception);
    EXPECT_FALSE(XWQF::FileExists(dir / "missing.sd2"));
    CSDIIFile f;
    OSErr regions = 0;
    f.ISoundFile(dir / "missing.sd2");
    EXPECT_EQ(f.GetOfflineInfo(&regions), kFileNotFoundErr);
}

TEST_F(SD2Test, ForeignListRecords) {
    const std::string forty(40, 'n');
    const std::string whole = "R 0 20 0 in";
    struct Case {
        const char* what;
        OSType type;
        std::string bytes;
        bool ignoreWholeFile;
        OSErr status;
        std::vector<std::string> lists;
        uint32_t stamp;
    };
    const Case cases[] = {
        {"long name cut to 31, next found from the full length", FourCC("sdML"),
         Head(2) + MarkerRecord(1, 5, -2, 40, forty) + MarkerRecord(1, 9, 1, 1, "b"), true, 0,
         {"M -2 0 1 " + forty.substr(0, 31), "M 1 1 1 b", whole}, 0},
        {"negative name length", FourCC("sdML"), Head(1) + MarkerRecord(5, 5, 3, 0xFFFF, ""), true, 0, {"M 3 0 5 ", whole}, 0},
        {"a length past the end ends the list", FourCC("sdML"), Head(3) + MarkerRecord(2, 5, 4, 9, "abc"), true,
         kSDIIBadMarkerErr, {"M 4 0 2 abc", whole}, 0},
        {"a last name cut at the end", FourCC("sdML"), Head(1) + MarkerRecord(2, 5, 4, 9, "abc"), true, 0,
         {"M 4 0 2 abc", whole}, 0},
        {"marker head cut short", FourCC("sdML"), Head(2) + MarkerRecord(2, 5, 4, 1, "a") + "xx", true, kSDIIBadMarkerErr,
         {"M 4 0 2 a", whole}, 0},
        {"loop modes", FourCC("sdLL"), Head(2) + LoopRecord(1, 2, 1, 117) + LoopRecord(3, 4, 2, 0), true, 0,
         {"L 1 1 2 1 ", "L 2 3 4 2 ", whole}, 0},
        {"loop record cut short", FourCC("sdLL"), Head(2) + LoopRecord(1, 2, 1, 117) + "x", true, kSDIIBadLoopErr,
         {"L 1 1 2 1 ", whole}, 0},
        {"regions past the end, reversed or of the whole file", FourCC("ddRL"),
         RegionList(RegionRecord(0, 21, 9, "over") + RegionRecord(5, 4, 8, "back") + RegionRecord(0, 20, 7, "all") +
                    RegionRecord(2, 3, 6, "ok")),
         true, 0, {"R 2 3 0 ok"}, 9},
        {"start -1 becomes the whole file", FourCC("ddRL"), RegionList(RegionRecord(1, 2, 5, "a") + RegionRecord(-1, 3, 4, "w")),
         false, 0, {"R 0 20 0 w", "R 1 2 0 a"}, 4},
        {"a region head alone", FourCC("ddRL"), RegionList(""), true, 0, {whole}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CSoundFile::SetIgnoreRegionsContainingWholeFile(c.ignoreWholeFile);
        SoundFilePtr f(new CSDIIFile);
        ASSERT_EQ(f->ISoundFile(Make({"2", "8000", "1"}, 40, {{c.type, c.bytes}})), 0);
        OSErr regions = -1;
        EXPECT_EQ(f->GetOfflineInfo(&regions), c.status);
        EXPECT_FALSE(f->IsOpen());
        EXPECT_EQ(Lists(*f), c.lists);
        EXPECT_EQ(f->GetTimeStamp(), c.stamp);
    }
}

// Stereo frames of the buffer form, `bytes` to a sample.
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
        SFTLoop l1{7, 10, 20, 1}, l2{9, 30, 40, 2};
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
        // Type 5 is stored as type 2; loops are numbered in list order.
        EXPECT_EQ(Lists(*g), (std::vector<std::string>{"M 11 0 1 one", "M 12 0 2 five", "L 1 10 20 1 ",
                                                         "L 2 30 40 2 ", "R 50 60 55 middle"}));
        EXPECT_EQ(g->GetTimeStamp(), 123456u);
    }
}

TEST_F(SD2Test, WritingPastTheEndAndReReadingBlocks) {
    SoundFilePtr f(new CSDIIFile);
    ASSERT_EQ(f->ISoundFile(dir / "gap"), 0);
    ASSERT_EQ(f->Create(1, 16, 8000, nullptr, nullptr), 0);
    ASSERT_EQ(WriteBufferForm(*f, 1000, Native16({0x1234, -2})), 0);
    EXPECT_EQ(f->GetNumSFrames(), 1002u);
    ASSERT_EQ(f->RefreshOutputBuffer(1000), 0);  // what channel-by-channel writing re-reads
    EXPECT_EQ(Samples16({f->GetOutputBuffer(), f->GetOutputBuffer() + 6}), (std::vector<int16_t>{0x1234, -2, 0}));
    ASSERT_EQ(f->Close(), 0);
    EXPECT_EQ(ReadFile(f->GetPath()), std::string(2000, '\0') + "\x12\x34\xff\xfe");
    OSErr err = 1;
    SoundFilePtr g = OpenSD2(f->GetPath(), &err);
    EXPECT_EQ(g->GetWordSize(), 16);
    // The sample size is kept in whole bytes: 20 bits are refused, nothing is made.
    SoundFilePtr twenty(new CSDIIFile);
    ASSERT_EQ(twenty->ISoundFile(dir / "twenty"), 0);
    EXPECT_EQ(twenty->Create(1, 20, 8000, nullptr, nullptr), kSDIIUnsupportedWordSizeErr);
    EXPECT_FALSE(twenty->IsOpen());
    EXPECT_FALSE(std::ifstream(dir / "twenty").good());
    EXPECT_FALSE(std::ifstream(dir / "twenty.sd2").good());

    // A resource fork that cannot be written is reported, and the file is closed.
    SoundFilePtr h(new CSDIIFile);
    ASSERT_EQ(h->ISoundFile(dir / "blocked"), 0);
    ASSERT_EQ(h->Create(1, 16, 8000, nullptr, nullptr), 0);
    std::remove((dir / "._blocked.sd2").c_str());
    ASSERT_EQ(::mkdir((dir / "._blocked.sd2").c_str(), 0755), 0);
    EXPECT_NE(h->Close(), 0);
    EXPECT_FALSE(h->IsOpen());
}

// ---------------------------------------------------------------------------
// libsndfile

TEST_F(SD2Test, SndfileBothWays) {
    if (!HaveProgram("sndfile-convert") || !HaveProgram("sndfile-info") || !HaveProgram("sox"))
        GTEST_SKIP() << "libsndfile's tools or sox missing";
    for (int bits : {16, 24}) {
        SCOPED_TRACE(bits);
        const std::string b = std::to_string(bits), wav = dir / ("x" + b + ".wav"), theirs = dir / ("theirs" + b + ".sd2");
        // Little-endian samples of a WAVE file: the buffer form.
        auto samplesOf = [&](const std::string& path, std::string* raw) {
            return RunCommand("sox " + Quote(path) + " -t raw -e signed -b " + b + " -L -", raw);
        };
        std::string raw;
        ASSERT_TRUE(RunCommand("sox -n -r 22050 -c 2 -b " + b + " " + Quote(wav) + " synth 0.7 sine 300-3000 sine 440"));
        ASSERT_TRUE(samplesOf(wav, &raw));
        const std::vector<uint8_t> expected(raw.begin(), raw.end());
        // Theirs read here.
        ASSERT_TRUE(RunCommand("sndfile-convert -pcm" + b + " " + Quote(wav) + " " + Quote(theirs)));
        OSErr err = 1;
        SoundFilePtr f = OpenSD2(theirs, &err);
        ASSERT_EQ(err, 0);
        EXPECT_TRUE(f->GetSampleRate() == 22050 && f->GetNumChannels() == 2 && f->GetWordSize() == bits);
        std::vector<uint8_t> got;
        ASSERT_EQ(ReadAllFrames(*f, &got), 0);
        EXPECT_EQ(got, expected);
        // Ours read by them.
        SoundFilePtr o(new CSDIIFile);
        ASSERT_EQ(o->ISoundFile(dir / ("ours" + b)), 0);
        ASSERT_EQ(o->Create(2, short(bits), 22050, nullptr, nullptr), 0);
        ASSERT_EQ(WriteBufferForm(*o, 0, expected), 0);
        ASSERT_EQ(o->Close(), 0);
        std::string info, back;
        ASSERT_TRUE(RunCommand("sndfile-info " + Quote(o->GetPath()), &info));
        EXPECT_NE(info.find("Sample Rate : 22050"), std::string::npos) << info;
        EXPECT_NE(info.find("Channels    : 2"), std::string::npos) << info;
        const std::string backWav = o->GetPath() + ".wav";
        ASSERT_TRUE(RunCommand("sndfile-convert " + Quote(o->GetPath()) + " " + Quote(backWav)));
        ASSERT_TRUE(samplesOf(backWav, &back));
        EXPECT_EQ(back, raw);
    }
}

}  // namespace
