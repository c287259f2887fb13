// Split stereo pairs over members held in memory: member naming, binding, the
// buffers against an interleaved stereo file, consistency, failing members, and
// the lists read from the left member and changed in both.
#include "soundfile/split_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "soundfile/memory_sound_file.h"
#include "soundfile/progress.h"
#include "soundfile/registry.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

using testsupport::MemorySoundFile;

namespace {

// A mono memory member that can refuse markers and keeps what a Sonic pair hands it.
class Member : public MemorySoundFile {
public:
    explicit Member(OSType type) : MemorySoundFile(1, 16, 0, 44100.0, kDataTypePCM, type) {}
    OSErr AddMarker(const SFTMarker* m) override {
        return refuseMarkers ? refuseMarkers : CSoundFile::AddMarker(m);
    }
    void SetSonicAIFFExtras(unsigned char* first, unsigned char* second, short index) override {
        extras.assign(first, first + 16);
        extras.insert(extras.end(), second, second + 16);
        extrasIndex = index;
    }
    OSErr refuseMarkers = 0;
    std::vector<unsigned char> extras;
    short extrasIndex = -1;
};

template <uint32_t Code>
CSoundFile* MakeMember() {
    return new Member(Code);
}

constexpr OSType kMem = FourCC("Tmem");
using SplitPtr = std::unique_ptr<CSplitFile, SoundFileDisposer>;
using Op = MemorySoundFile::Op;

class SplitFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        TearDown();
        const std::pair<const char*, SoundFileDispatcher::CreateFunc> makers[] = {
            {"'Tmem'", &MakeMember<kMem>},
            {"' paf'", &MakeMember<FourCC(" paf")>},
            {"'SAIF'", &MakeMember<FourCC("SAIF")>},
            {"'BWLN'", &MakeMember<FourCC("BWLN")>}};
        plist::Dictionary table;
        for (const auto& [code, make] : makers) table[code] = plist::Dictionary();
        for (const auto& [code, make] : makers) {
            auto d = std::make_shared<SoundFileDispatcher>();
            d->setCreateFunc(make);
            AttachSoundFileDispatcher(table, HFSTypeCode(code), d);
        }
    }
    void TearDown() override {
        ReleaseSoundFileDispatchers();
        gInputNameLastChar = 0;
        CorvaOutFile::Clear();
    }
    static Member& M(CSplitFile& s, int i) {
        return *static_cast<Member*>(s.GetMemberList().at(i));
    }
    SplitPtr Pair(OSType type, const std::string& name) {
        SplitPtr s(new CSplitFile(type));
        EXPECT_EQ(0, s->ISoundFile(dir / name)) << name;
        return s;
    }
    // An input pair of 16-bit members of the given lengths.
    SplitPtr InputPair(uint32_t leftFrames, uint32_t rightFrames) {
        SplitPtr s(new CSplitFile(kMem));
        EXPECT_EQ(0, s->ISoundFile(std::vector<std::string>{dir / "a.L", dir / "a.R"}));
        M(*s, 0).SetNumFrames(leftFrames);
        M(*s, 1).SetNumFrames(rightFrames);
        return s;
    }
    testsupport::TempDir dir;
};

TEST_F(SplitFileTest, MembersAreNamedFromOnePath) {
    struct Case {
        OSType type;
        const char* name;
        char lastBefore;
        const char *left, *right;
        const char* own;    // the pair's own path
        const char* shown;  // GetPath: the left member's without its marker
        char lastAfter;
    } const cases[] = {
        {kMem, "Mix", 0, "Mix.L", "Mix.R", "Mix", "Mix", 0},
        {FourCC(" paf"), "Mix", 0, "Mix-L", "Mix-R", "Mix", "Mix", 0},
        {kMem, "Mix.3", 0, "Mix.3", "Mix.4", "Mix.3", "Mix", '3'},
        {kMem, "Mix.1", 0, "Mix.1", "Mix.2", "Mix", "Mix", '1'},
        {kMem, "Mix(L)", 0, "Mix(L)", "Mix(R)", "Mix", "Mix", 0},
        {kMem, "Mix.L", 0, "Mix.L", "Mix.R", "Mix", "Mix", 0},
        {kMem, "take.l", 0, "take.l", "take.r", "take", "take", 0},
        {kMem, "Mix-L", 0, "Mix-L", "Mix-R", "Mix", "Mix", 0},
        // Markers are whole pieces of the name: "lead" and "Line" hold none.
        {kMem, "Vox.lead.L", 0, "Vox.lead.L", "Vox.lead.R", "Vox.lead", "Vox.lead", 0},
        {kMem, "Bass.Line", 0, "Bass.Line.L", "Bass.Line.R", "Bass.Line", "Bass.Line", 0},
        // Nor does "légère": a letter outside ASCII runs on like any other.
        {kMem, "Voix.légère.L", 0, "Voix.légère.L", "Voix.légère.R", "Voix.légère", "Voix.légère",
         0},
        {kMem, "Take.12", 0, "Take.12.L", "Take.12.R", "Take.12", "Take.12", 0},
        {kMem, "Mix", '5', "Mix.L", "Mix.R", "Mix", "Mix", 0},
        {FourCC("SAIF"), "Mix", 0, "Mix.1", "Mix.2", "Mix", "Mix", 0},
        {FourCC("SAIF"), "Mix", '3', "Mix.3", "Mix.4", "Mix", "Mix", 0},
        {kMem, "a.l/Mix", 0, "a.l/Mix.L", "a.l/Mix.R", "a.l/Mix", "a.l/Mix", 0},
    };
    ASSERT_TRUE(std::filesystem::create_directory(dir / "a.l"));
    for (const Case& c : cases) {
        gInputNameLastChar = c.lastBefore;
        SplitPtr s = Pair(c.type, c.name);
        ASSERT_EQ(2u, s->GetMemberList().size());
        EXPECT_EQ(dir / c.left, M(*s, 0).GetPath()) << c.name;
        EXPECT_EQ(dir / c.right, M(*s, 1).GetPath()) << c.name;
        EXPECT_EQ(dir / c.own, s->CSoundFile::GetPath()) << c.name;
        EXPECT_EQ(dir / c.shown, s->GetPath()) << c.name;
        EXPECT_EQ(c.lastAfter, gInputNameLastChar) << c.name;
    }
    // An input named by its left member finds the right one whatever its case;
    // an output's members are named as asked.
    for (const char* name : {"Take.L.wav", "take.r.WAV", "out.r"})
        testsupport::WriteFile(dir / name, "x");
    EXPECT_EQ(dir / "take.r.WAV", M(*Pair(kMem, "Take.L.wav"), 1).GetPath());
    EXPECT_EQ(dir / "Out.R", M(*Pair(kMem, "Out.L"), 1).GetPath());
}

TEST_F(SplitFileTest, BindingFromPathsAndWhatTheLeftMemberAnswers) {
    SplitPtr s(new CSplitFile(kMem));
    EXPECT_EQ(-50, s->ISoundFile(std::vector<std::string>{dir / "a"}));
    EXPECT_EQ(-50, s->ISoundFile(std::vector<std::string>{dir / "a", dir / "b", dir / "c"}));
    EXPECT_EQ(-43, s->ISoundFile(std::vector<std::string>{dir / "a", dir / "none/b"}));
    EXPECT_TRUE(s->GetMemberList().empty());
    EXPECT_EQ(kSplitLeftNotSetUpErr, s->Open());
    SplitPtr unknown(new CSplitFile(FourCC("Tnon")));
    EXPECT_EQ(kCannotMakeFormatObjectErr, unknown->ISoundFile(dir / "Mix"));
    EXPECT_TRUE(unknown->GetMemberList().empty());

    struct Case {
        const char *left, *right, *path, *name, *base;
    } const cases[] = {
        {"Vox(L).wav", "Vox(R).wav", "Vox.wav", "Vox(L).wav", "Vox(L)"},
        {"Vox.3.aif", "Vox.4.aif", "Vox.aif", "Vox.3.aif", "Vox.3"},
        {"Bass.Line.L", "Bass.Line.R", "Bass.Line", "Bass.Line.L", "Bass.Line"},
        {"Take.lärm.L.wav", "Take.lärm.R.wav", "Take.lärm.wav", "Take.lärm.L.wav", "Take.lärm"}};
    for (const Case& c : cases) {
        ASSERT_EQ(0, s->ISoundFile(std::vector<std::string>{dir / c.left, dir / c.right}));
        EXPECT_EQ(dir / c.path, s->GetPath());
        EXPECT_EQ(c.name, s->GetName());
        EXPECT_EQ(c.base, s->base_name());
    }
    EXPECT_EQ(kMem, s->GetFType());
    EXPECT_EQ("Split stereo Memory test file", s->GetDescription());
    EXPECT_TRUE(s->IsSplit());
    EXPECT_EQ(4, s->GetChannelConfig());
    EXPECT_EQ(2, s->GetNumChannels());
}

TEST_F(SplitFileTest, BuffersHoldWhatAnInterleavedStereoFileHolds) {
    // 12 and 20 bits take one and two bytes of the buffer form.
    for (short bits : {8, 12, 16, 20, 24, 32}) {
        SplitPtr s = Pair(kMem, "Out");
        ASSERT_EQ(0, s->Create(2, bits, 48000.0f, nullptr, nullptr));
        EXPECT_EQ(48000.0, s->GetSampleRate());
        MemorySoundFile stereo(2, bits, 0);
        stereo.SetOpen(true);
        stereo.loadOnRefreshOutput = M(*s, 0).loadOnRefreshOutput = M(*s, 1).loadOnRefreshOutput =
            true;
        CSoundFile* const files[2] = {s.get(), &stereo};
        for (CSoundFile* f : files) {
            f->SetSFTBufferSize(5);
            f->SetDither(0);
            std::vector<double> frames(2 * 13), more(13, 0.25);
            for (size_t i = 0; i < frames.size(); ++i)
                frames[i] = (i % 2 ? -0.7 : 0.6) * (i + 1) / 26.0;
            uint32_t count = 13;
            ASSERT_EQ(0, f->Write(0, &count, frames.data()));
            count = 13;  // adding to one channel reads the block back first
            ASSERT_EQ(0, f->Add(1, 0, &count, more.data()));
        }
        for (uint32_t f = 0; f < 13; ++f)
            for (int c = 0; c < 2; ++c) EXPECT_EQ(stereo.GetSample(f, c), M(*s, c).GetSample(f, 0));
        // A right member longer than the left one: the left channel ends in silence.
        M(*s, 1).SetNumFrames(17);
        stereo.SetNumFrames(17);
        for (uint32_t f = 13; f < 17; ++f) {
            M(*s, 1).SetSample(f, 0, 100 + f);
            stereo.SetSample(f, 1, 100 + f);
        }
        ASSERT_EQ(0, s->UpdateSize());
        EXPECT_EQ(17u, s->GetNumSFrames());
        std::vector<double> got[2];
        for (int i = 0; i < 2; ++i) {
            got[i].resize(2 * 17);
            uint32_t count = 17;
            ASSERT_EQ(0, files[i]->Read(0, &count, got[i].data())) << bits;
        }
        EXPECT_EQ(got[1], got[0]) << bits;
    }
    // Only looked at, the pair is as long as its longer member too.
    SplitPtr look = InputPair(40, 12);
    EXPECT_EQ(0, look->GetOfflineInfo(nullptr));
    EXPECT_EQ(40u, look->GetNumSFrames());
}

TEST_F(SplitFileTest, MembersMustAgreeAndAFailingOneStopsTheOperation) {
    struct Mismatch {
        double rate;
        short bits, channels;
        OSErr expected;
    } const mismatches[] = {
        {44100, 16, 1, 0}, {48000, 16, 1, -23100}, {44100, 24, 1, -23100}, {44100, 16, 2, -23100}};
    for (const Mismatch& c : mismatches) {
        SplitPtr s = InputPair(10, 10);
        M(*s, 1).SetRateRaw(c.rate);
        M(*s, 1).SetFormat(c.channels, c.bits);
        EXPECT_EQ(c.expected, s->Open());
        EXPECT_EQ(c.expected == 0, s->IsOpen());
    }
    struct Failure {
        int member;
        Op op;
        bool create;
        int leftCloses;  // the left member is closed again when the right one fails
    } const failures[] = {{0, Op::Open, false, 0},         {1, Op::Open, false, 1},
                          {0, Op::Create, true, 0},        {1, Op::Create, true, 1},
                          {0, Op::RefreshInput, false, 0}, {0, Op::Flush, true, 0}};
    for (const Failure& c : failures) {
        SplitPtr s = InputPair(20, 20);
        MemorySoundFile::Observer left;
        M(*s, 0).observer = &left;
        M(*s, c.member).FailAt(c.op, 0, -36);
        double frame[2] = {0.5, 0.5};
        uint32_t one = 1;
        OSErr err = c.create ? s->Create(2, 16, 44100, nullptr, nullptr) : s->Open();
        if (err == 0) err = c.create ? s->Write(0, &one, frame) : s->Read(0, &one, frame);
        EXPECT_EQ(-36, err) << static_cast<int>(c.op);
        EXPECT_EQ(c.leftCloses, left.closes) << static_cast<int>(c.op);
        EXPECT_EQ(c.member, static_cast<int>(M(*s, 1).CountCalls(c.op))) << static_cast<int>(c.op);
    }
}

TEST_F(SplitFileTest, ListsAreReadFromTheLeftMemberAndChangedInBoth) {
    SplitPtr s = InputPair(100, 100);
    SFTMarker marker{7, 40, {}, 2, -1};
    SFTRegion region{1, 10, 50, 0, 0, {}};
    ASSERT_EQ(0, s->AddMarker(&marker));
    ASSERT_EQ(0, s->AddRegion(&region));
    M(*s, 0).refuseMarkers = -22000;  // what the left member refuses never reaches the right one
    marker.position = 60;
    EXPECT_EQ(-22000, s->AddMarker(&marker));
    for (int c = 0; c < 2; ++c) EXPECT_EQ(1, M(*s, c).GetNumMarkers() * M(*s, c).GetNumRegions());
    SFTLoop loop{1, 5, 9, 1};
    M(*s, 0).CSoundFile::AddLoop(&loop);
    EXPECT_EQ(1, s->GetNumLoops());
    EXPECT_EQ(1u, s->GetLoopList().size());
    EXPECT_TRUE(s->IsRegion(10, 50, nullptr));
    // Region names that become parts of file names are cleaned where they are read.
    s->GetIndRegion(uint32_t{0})->name = "Verse/1";
    ASSERT_EQ(0, s->KillBadRegionNames());
    EXPECT_EQ("Verse-1", s->GetIndRegion(uint32_t{0})->name);
    marker.position = 40;
    ASSERT_EQ(0, s->RemoveMarker(&marker));
    EXPECT_EQ(0, M(*s, 0).GetNumMarkers() + M(*s, 1).GetNumMarkers());

    // Broadcast Wave members carry the channel marker in their region names.
    struct Name {
        const char *stored, *record, *object;
    } const names[] = {{"Verse.L", "Verse", "Verse"},
                       {"Verse.Lead.L", "Verse.Lead", "Verse.Lead"},
                       {"Verse.L#1", "Verse", "Verse.L#1"},
                       {"Verse.Lead", "Verse.Lead", "Verse.Lead"}};
    for (OSType type : {FourCC("BWLN"), kMem}) {
        for (const Name& n : names) {
            SplitPtr b = Pair(type, "b");
            M(*b, 0).SetNumFrames(100);
            SFTRegion r{1, 0, 50, 0, 0, {}};
            NameToField(n.stored, r.name);
            ASSERT_EQ(0, M(*b, 0).AddRegion(&r));
            ASSERT_EQ(0, b->GetIndRegion(uint16_t{0}, &r));
            const bool bwf = type == FourCC("BWLN");
            EXPECT_EQ(bwf ? n.record : n.stored, NameFromField(r.name));
            EXPECT_EQ(bwf ? n.object : n.stored, b->GetIndRegion(uint32_t{0})->name);
        }
    }
}

TEST_F(SplitFileTest, SonicMembersGetTheirIdentificationBeforeTheyAreCreated) {
    SplitPtr s = Pair(FourCC("SAIF"), "Mix");
    ASSERT_EQ(0, s->Create(2, 16, 44100, nullptr, nullptr));
    for (int c = 0; c < 2; ++c) {
        const std::vector<unsigned char>& x = M(*s, c).extras;
        ASSERT_EQ(32u, x.size());
        EXPECT_EQ(c, M(*s, c).extrasIndex);
        EXPECT_EQ(std::string("\x05Mix.1\0\0\0\0\0\0", 12), std::string(x.begin(), x.begin() + 12));
        EXPECT_EQ(std::string(x.begin(), x.begin() + 12),
                  std::string(x.begin() + 16, x.begin() + 28));
        const uint32_t t1 = x[12] << 24 | x[13] << 16 | x[14] << 8 | x[15];
        const uint32_t t2 = x[28] << 24 | x[29] << 16 | x[30] << 8 | x[31];
        EXPECT_EQ(t1 + 1, t2);
    }
}

TEST_F(SplitFileTest, DisposingAnOpenPairDisposesBothMembersWithTheKeepFlag) {
    for (bool open : {true, false}) {
        SplitPtr s = InputPair(5, 5);
        MemorySoundFile::Observer left, right;
        M(*s, 0).observer = &left;
        M(*s, 1).observer = &right;
        if (open) {
            ASSERT_EQ(0, s->Open());
        }
        M(*s, 1).FailAt(Op::Close, 0, -36);
        EXPECT_EQ(open ? -36 : 0, s.release()->Dispose(0));
        EXPECT_TRUE(left.destroyed && right.destroyed);
        EXPECT_EQ(open ? 1 : 0, right.closes);
        EXPECT_EQ(open, right.discardSeenAtClose);
    }
}

}  // namespace
