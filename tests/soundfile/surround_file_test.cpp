// Surround sets over in-memory members: the naming rules against the shipped
// tables, the checks the tables pass on load, binding, opening, the interleaved
// buffers in both directions, closing and disposal.
#include "soundfile/surround_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "foundation/pcre_wrappers.h"
#include "foundation/string_utils.h"
#include "memory_sound_file.h"
#include "soundfile/registry.h"
#include "soundfile/sample_conversion.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

namespace {

using testsupport::MemorySoundFile;

// What a member file holds "on disk": its description; the samples follow from
// the seed. Members open from here by path.
struct Stored {
    short channels = 1;
    short wordSize = 16;
    uint32_t frames = 0;
    double rate = 48000;
    short dataType = kDataTypePCM;
};
std::map<std::string, Stored>& Disk() {
    static std::map<std::string, Stored> disk;
    return disk;
}

int32_t Pattern(const std::string& path, uint32_t frame, short wordSize) {
    const int32_t v = static_cast<int32_t>((std::hash<std::string>()(path) % 97 + frame * 17) % 251) - 125;
    return static_cast<int32_t>(static_cast<uint32_t>(v) << (wordSize - 8));
}

struct SonicLink {
    unsigned char first[16], second[16];
    short index;
};
std::vector<SonicLink>& SonicLinks() {
    static std::vector<SonicLink> links;
    return links;
}

class MemberFile : public MemorySoundFile {
public:
    explicit MemberFile(OSType type) : MemorySoundFile(1, 16, 0, 48000, kDataTypePCM, type) {}
    OSErr Open() override {
        auto it = Disk().find(GetPath());
        if (it == Disk().end()) return kFileNotFoundErr;
        const Stored& s = it->second;
        SetFormat(s.channels, s.wordSize, s.dataType);
        SetRateRaw(s.rate);
        SetNumFrames(s.frames);
        for (uint32_t f = 0; f < s.frames; ++f)
            for (short c = 0; c < s.channels; ++c) SetSample(f, c, Pattern(GetPath(), f, s.wordSize));
        return MemorySoundFile::Open();
    }
    void SetSonicAIFFExtras(unsigned char* first, unsigned char* second, short index) override {
        SonicLink link;
        std::memcpy(link.first, first, 16);
        std::memcpy(link.second, second, 16);
        link.index = index;
        SonicLinks().push_back(link);
    }
};

CSoundFile* MakeTmem() { return new MemberFile(FourCC("Tmem")); }
CSoundFile* MakeBWLN() { return new MemberFile(FourCC("BWLN")); }
CSoundFile* MakeSAIF() { return new MemberFile(FourCC("SAIF")); }

MemberFile& Member(CSurroundFile& set, size_t i) { return dynamic_cast<MemberFile&>(*set.GetMembers().at(i)); }

uint32_t LoadBE(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

dbresult TableFrom(const std::string& text) {
    std::istringstream in(text);
    dbresult table;
    in >> table;
    return table;
}

// A set bound against a table of the test's choice.
class TableBoundSet : public CSurroundFile {
public:
    using CSurroundFile::CSurroundFile;
    using CSurroundFile::BindOutputSet;
};

class Surround : public ::testing::Test {
protected:
    void SetUp() override {
        ReleaseSoundFileDispatchers();
        plist::Dictionary table;
        for (const char* code : {"'Tmem'", "'BWLN'", "'SAIF'"}) table[code] = plist::Dictionary();
        const std::pair<const char*, SoundFileDispatcher::CreateFunc> makers[] = {
            {"Tmem", &MakeTmem}, {"BWLN", &MakeBWLN}, {"SAIF", &MakeSAIF}};
        for (const auto& [code, make] : makers) {
            auto d = std::make_shared<SoundFileDispatcher>();
            d->setCreateFunc(make);
            ASSERT_TRUE(AttachSoundFileDispatcher(table, HFSTypeCode(code), d));
        }
        Disk().clear();
        SonicLinks().clear();
        ASSERT_FALSE(CSurroundFile::GetSurroundTable().records.empty());
        ASSERT_FALSE(CSurroundFile::GetChannelNames().records.empty());
    }
    void TearDown() override { ReleaseSoundFileDispatchers(); }

    // An input set of members stored with the given descriptions, named m0, m1, ...
    SoundFilePtr InputSet(const std::vector<Stored>& members, OSType type = FourCC("Tmem")) {
        std::vector<std::string> paths;
        for (size_t i = 0; i < members.size(); ++i) {
            paths.push_back(dir / ("m" + std::to_string(i) + ".L"));
            Disk()[paths.back()] = members[i];
        }
        SoundFilePtr set(new CSurroundFile(type));
        EXPECT_EQ(set->ISoundFile(paths), 0);
        return set;
    }
    testsupport::TempDir dir;
};

CSurroundFile& AsSet(SoundFilePtr& p) { return dynamic_cast<CSurroundFile&>(*p); }

// ---- Naming ------------------------------------------------------------------

TEST_F(Surround, SetNamesOfMemberFiles) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a/Take.L.wav", "Take"},       {"/a/take.ls.wav", "take"},       {"/a/Take.LFE.aif", "Take"},
        {"/a/Take.lfe1.wav", "Take"},    {"/a/Take.3.wav", "Take"},        {"/a/Take.12", "Take"},
        {"/a/Take.Vhc", "Take"},         {"/a/Take.mix.wav", "Take.mix"},  {"/a/Take.Lx.wav", "Take.Lx"},
        {"/a/Take.L-2.wav", "Take.L-2"}, {"/a/Take.L mix", "Take.L mix"},  {"/a/Take.wav", "Take"},
        {"/a/Take", "Take"},             {"/a/Take.Lead.L.wav", "Take.Lead"},
    };
    for (const auto& [path, name] : cases) EXPECT_EQ(CSurroundFile::GetName(path), name) << path;
}

TEST_F(Surround, SetPathDropsTheLeftIndicatorThatEndsIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"/o/Mix.L", "/o/Mix"},       {"/o/Mix.l", "/o/Mix"},           {"/o/Mix-L", "/o/Mix"},
        {"/o/Mix-l", "/o/Mix-l"},     {"/o/Mix(L)", "/o/Mix"},          {"/o/Mix(l)", "/o/Mix"},
        {"/o/Mix.1", "/o/Mix"},       {"/o/Mix", "/o/Mix"},             {"/o/Mix.lead.L", "/o/Mix.lead"},
        {"/o/Lead.L.R", "/o/Lead.L.R"}, {"/o/.CorvaOutFile.L", "/o/.CorvaOutFile"}, {"Mix.L", "Mix"},
    };
    for (const auto& [path, stored] : cases) {
        CSurroundFile set(FourCC("Tmem"));
        set.SetPath(path);
        EXPECT_EQ(set.GetPath(), stored) << path;
    }
}

TEST_F(Surround, WholeSetPathAndBaseNameComeFromTheFirstMember) {
    struct Case {
        const char* first;
        const char* path;
        const char* baseName;
    };
    const Case cases[] = {
        {"Vox.L.wav", "Vox.wav", "Vox"},
        {"Vox.l.wav", "Vox.wav", "Vox"},
        {"Vox(L).wav", "Vox.wav", "Vox(L)"},
        {"Vox-L.aif", "Vox.aif", "Vox-L"},
        {"Vox.1.wav", "Vox.wav", "Vox.1"},
        {"Vox.C.wav", "Vox.wav", "Vox"},
        {"Take.Chorus.L.wav", "Take.Chorus.wav", "Take.Chorus"},
        {"Take.Lead.C", "Take.Lead", "Take.Lead"},
        {".CorvaOutFile.L.wav", ".CorvaOutFile.wav", ".CorvaOutFile"},
        {".CorvaOutFile.C.wav", ".CorvaOutFile.wav", ".CorvaOutFile"},
    };
    for (const Case& c : cases) {
        CSurroundFile set(FourCC("Tmem"));
        ASSERT_EQ(set.ISoundFile(std::vector<std::string>{dir / c.first, dir / "other.R.wav"}), 0);
        EXPECT_EQ(set.GetPath(), dir / c.path) << c.first;
        EXPECT_EQ(set.base_name(), c.baseName) << c.first;
        EXPECT_EQ(set.GetName(), c.first);
    }
}

// Every layout of the table, in the channel order of the layout tag that
// CreateChannelLayout writes for the configuration.
TEST_F(Surround, EveryLayoutNamesItsMembersAndChannels) {
    struct Layout {
        CSoundFile::ChannelConfiguration configuration;
        std::vector<std::pair<const char*, const char*>> channels;  // indicator, channel name
    };
    const Layout layouts[] = {
        {CSoundFile::kStereo, {{".L", "Left"}, {".R", "Right"}}},
        {CSoundFile::kLCR, {{".L", "Left"}, {".C", "Center"}, {".R", "Right"}}},
        {CSoundFile::kQuad, {{".L", "Left"}, {".R", "Right"}, {".Ls", "Left surround"}, {".Rs", "Right surround"}}},
        {CSoundFile::kLCRS, {{".C", "Center"}, {".L", "Left"}, {".R", "Right"}, {".Cs", "Center surround"}}},
        {CSoundFile::k50,
         {{".L", "Left"}, {".R", "Right"}, {".Ls", "Left surround"}, {".Rs", "Right surround"}, {".C", "Center"}}},
        {CSoundFile::k51,
         {{".L", "Left"}, {".R", "Right"}, {".C", "Center"}, {".LFE", "LFE"}, {".Ls", "Left surround"},
          {".Rs", "Right surround"}}},
        {CSoundFile::k60,
         {{".L", "Left"}, {".R", "Right"}, {".Ls", "Left surround"}, {".Rs", "Right surround"}, {".C", "Center"},
          {".Cs", "Center surround"}}},
        {CSoundFile::k61,
         {{".L", "Left"}, {".R", "Right"}, {".C", "Center"}, {".LFE", "LFE"}, {".Ls", "Left surround"},
          {".Rs", "Right surround"}, {".Cs", "Center surround"}}},
        {CSoundFile::k71,
         {{".C", "Center"}, {".Lc", "Left center"}, {".Rc", "Right center"}, {".L", "Left"}, {".R", "Right"},
          {".Ls", "Left surround"}, {".Rs", "Right surround"}, {".LFE", "LFE"}}},
        {CSoundFile::k102,
         {{".L", "Left"}, {".R", "Right"}, {".C", "Center"}, {".Vhc", "Vertical height center"},
          {".Lsd", "Left surround direct"}, {".Rsd", "Right surround direct"}, {".Ls", "Left surround"},
          {".Rs", "Right surround"}, {".Vhl", "Vertical height left"}, {".Vhr", "Vertical height right"},
          {".Lw", "Left wide"}, {".Rw", "Right wide"}, {".Csd", "Center surround direct"},
          {".Cs", "Center surround"}, {".LFE1", "LFE 1"}, {".LFE2", "LFE 2"}}},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(ChannelConfigurationWord(layout.configuration));
        CSurroundFile set(FourCC("Tmem"));
        ASSERT_EQ(set.ISoundFile(dir / "Mix.L", layout.configuration, 99), 0);
        ASSERT_EQ(set.GetMembers().size(), layout.channels.size());
        EXPECT_EQ(surround::LayoutChannelCount(layout.configuration), layout.channels.size());
        EXPECT_EQ(set.GetNumChannels(), static_cast<short>(layout.channels.size()));
        EXPECT_EQ(set.GetPath(), dir / "Mix");
        EXPECT_EQ(set.base_name(), "Mix");
        for (size_t c = 0; c < layout.channels.size(); ++c) {
            const auto& [indicator, name] = layout.channels[c];
            const std::string member = set.GetMembers()[c]->GetPath();
            EXPECT_EQ(member, dir / ("Mix" + std::string(indicator)));
            EXPECT_EQ(set.GetChannelName(static_cast<short>(c)), name) << indicator;
            // Member files name their set whatever the letter case of the indicator.
            EXPECT_EQ(CSurroundFile::GetName(member + ".wav"), "Mix");
            EXPECT_EQ(CSurroundFile::GetName(dir / ("Mix" + lower_case(indicator) + ".aif")), "Mix");
        }
        // Channels beyond the set have no name.
        EXPECT_EQ(set.GetChannelName(static_cast<short>(layout.channels.size())), "");
    }
}

TEST_F(Surround, NumberedSetsAndTheDebugSuffix) {
    CSurroundFile set(FourCC("Tmem"));
    ASSERT_EQ(set.ISoundFile(dir / "Mix.L", CSoundFile::kMultichannel, 8), 0);
    ASSERT_EQ(set.GetMembers().size(), 8u);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(set.GetMembers()[i]->GetPath(), dir / ("Mix." + std::to_string(i + 1)));
    EXPECT_EQ(set.GetChannelName(2), "");
    set.SetSurroundSetName(CSurroundFile::kSplitMultichannelName);
    EXPECT_EQ(set.GetChannelName(2), "3");
    ::setenv("SurroundFileDebug", "", 1);
    EXPECT_EQ(set.GetChannelName(7), "8 [Mix.8]");
    ::unsetenv("SurroundFileDebug");
    EXPECT_EQ(set.GetChannelName(7), "8");

    CSurroundFile mono(FourCC("Tmem"));
    ASSERT_EQ(mono.ISoundFile(dir / "Solo.L", CSoundFile::kMono, 1), 0);
    EXPECT_EQ(mono.GetMembers().at(0)->GetPath(), dir / "Solo.1");
}

TEST_F(Surround, BindingsThatMakeNoUsableSetFail) {
    const dbresult withoutFiveOne = TableFrom("cc\tindicators\tname\n1\t.L|.R\tStereo\n");
    struct Case {
        const char* what;
        CSoundFile::ChannelConfiguration configuration;
        long count;
        OSType memberType;
        OSErr expected;
    };
    const Case cases[] = {
        {"layout without a record", CSoundFile::k51, 6, FourCC("Tmem"), kParamErr},
        {"no channels", CSoundFile::kMultichannel, 0, FourCC("Tmem"), kParamErr},
        {"too many channels", CSoundFile::kMultichannel, 201, FourCC("Tmem"), kTooManyFilesErr},
        {"member type without a class", CSoundFile::kStereo, 2, FourCC("Tnon"), kCannotMakeFormatObjectErr},
    };
    for (const Case& c : cases) {
        TableBoundSet set(c.memberType);
        EXPECT_EQ(set.BindOutputSet(dir / "Mix.L", c.configuration, c.count, withoutFiveOne), c.expected) << c.what;
        EXPECT_TRUE(set.GetMembers().empty()) << c.what;
        // With no members there is nothing to create.
        EXPECT_EQ(set.Create(static_cast<short>(c.count), 16, 48000, nullptr, nullptr), kParamErr) << c.what;
    }
    CSurroundFile input(FourCC("Tmem"));
    EXPECT_EQ(input.ISoundFile(std::vector<std::string>(201, dir / "x.L")), kTooManyFilesErr);
    EXPECT_TRUE(input.GetMembers().empty());
}

// ---- The tables ------------------------------------------------------------------

TEST_F(Surround, ShippedTablesPassTheirChecksAndAgree) {
    const dbresult& layouts = CSurroundFile::GetSurroundTable();
    EXPECT_EQ(surround::CheckSurroundTable(layouts), "");
    EXPECT_EQ(surround::CheckChannelNameTable(CSurroundFile::GetChannelNames()), "");
    ASSERT_EQ(layouts.records.size(), 10u);
    for (int cc = 1; cc <= 10; ++cc) EXPECT_EQ(layouts.find("cc", std::to_string(cc)).records.size(), 1u);
    // No indicator can be taken for a name extension.
    for (const std::string& indicators : layouts.get_values_for_field("indicators"))
        for (const std::string& indicator : split(indicators, "|"))
            EXPECT_EQ(CSoundFile::KnownNameExtensions().count(lower_case(indicator.substr(1))), 0u) << indicator;
}

TEST(SurroundTables, ChecksRefuseBrokenTables) {
    struct Case {
        bool surroundTable;
        const char* text;
        const char* problem;  // empty: the table passes
    };
    const Case cases[] = {
        {true, "cc\tname\n1\tStereo\n", "no column \"indicators\""},
        {true, "cc\tindicators\tname\n", "no layouts"},
        {true, "cc\tindicators\tname\n11\t.1|.2\tMulti\n", "not one of 1 to 10"},
        {true, "cc\tindicators\tname\nx\t.L|.R\tStereo\n", "not one of 1 to 10"},
        {true, "cc\tindicators\tname\n1\t.L|.R\tStereo\n1\t.L|.R\tTwo\n", "line 3: a second record"},
        {true, "cc\tindicators\tname\n1\t.L|.R|.C\tStereo\n", "3 indicators for a layout of 2"},
        {true, "cc\tindicators\tname\n1\tL|R\tStereo\n", "\"L\" is not a punctuation"},
        {true, "cc\tindicators\tname\n1\t(L)|(R)\tStereo\n", "\"(L)\" is not a punctuation"},
        {true, "cc\tindicators\tname\n1\t.L|.l\tStereo\n", "\".l\" appears twice"},
        {true, "cc\tindicators\tname\n1\t.L|.R\t\n", "no name"},
        {true, "cc\tindicators\tname\n6\t.L|.R|.C|.LFE|.Ls|.Rs\t5.1\n5\t.L|.R|.Ls|.Rs|.C\t5.0\n",
         "line 2: the layout contains that of line 3"},
        {true, "cc\tindicators\tname\n5\t.L|.R|.Ls|.Rs|.C\t5.0\n6\t.L|.R|.C|.LFE|.Ls|.Rs\t5.1\n", ""},
        {false, "indicator\tpattern\tname\n", ""},
        {false, "indicator\tname\n.L\tLeft\n", "no column \"pattern\""},
        {false, "indicator\tpattern\tname\n.L\t(?i)^\\.L(\tLeft\n", "does not compile"},
        {false, "indicator\tpattern\tname\n.L\t^\\.L$\tLeft\n", "does not recognise \".l\""},
        {false, "indicator\tpattern\tname\n.L\t(?i)\\.L\tLeft\n.Ls\t(?i)^\\.Ls$\tLeft surround\n",
         "line 3: \".Ls\" is taken by the pattern of line 2"},
        {false, "indicator\tpattern\tname\n.L\t(?i)^\\.L$\tLeft\n.l\t(?i)^\\.l$\tleft\n", "appears twice"},
        {false, "indicator\tpattern\tname\n.L\t(?i)^\\.L$\t\n", "no name"},
    };
    for (const Case& c : cases) {
        const dbresult table = TableFrom(c.text);
        const std::string problem =
            c.surroundTable ? surround::CheckSurroundTable(table) : surround::CheckChannelNameTable(table);
        if (*c.problem == 0)
            EXPECT_EQ(problem, "") << c.text;
        else
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.text << " gave: " << problem;
    }
}

TEST(SurroundTables, KnownIndicatorExpressionMatchesOnlyIndicatorsAndNumbers) {
    EXPECT_EQ(surround::KnownIndicatorExpression({}), "\\.\\d+$");
    EXPECT_EQ(surround::KnownIndicatorExpression({".L", ".Ls"}), "(?i)\\.L\\b|(?i)\\.Ls\\b|\\.\\d+$");
    // Without indicators, nothing but a dot and digits at the end is recognised.
    const std::string numbers = surround::KnownIndicatorExpression({});
    EXPECT_FALSE(PCREMatch(numbers.c_str(), "Take.mix", 4));
    EXPECT_FALSE(PCREMatch(numbers.c_str(), "Take", 0));
    EXPECT_TRUE(PCREMatch(numbers.c_str(), "Take.12", 4));
}

// ---- The set over its members ------------------------------------------------------

TEST_F(Surround, OpenTakesTheLongestMemberAndRefusesMismatches) {
    const Stored a{1, 24, 100, 48000};
    struct Case {
        const char* what;
        std::vector<Stored> members;
        OSErr expected;
    };
    const Case cases[] = {
        {"lengths differ", {a, {1, 24, 80, 48000}, {1, 24, 140, 48000}, a, a, a}, 0},
        {"a stereo member", {a, {2, 24, 100, 48000}, a}, kParamErr},
        {"word sizes differ", {a, {1, 16, 100, 48000}}, kParamErr},
        {"sample rates differ", {a, {1, 24, 100, 44100}}, kParamErr},
        {"data types differ", {a, {1, 24, 100, 48000, kDataType24In32}}, kParamErr},
    };
    for (const Case& c : cases) {
        SoundFilePtr set = InputSet(c.members);
        EXPECT_EQ(set->Open(), c.expected) << c.what;
        EXPECT_EQ(set->IsOpen(), c.expected == 0) << c.what;
        for (CSoundFile* m : AsSet(set).GetMembers()) EXPECT_EQ(m->IsOpen(), c.expected == 0) << c.what;
        if (c.expected == 0) {
            EXPECT_EQ(set->GetNumChannels(), 6);
            EXPECT_EQ(set->GetWordSize(), 24);
            EXPECT_EQ(set->GetSampleRate(), 48000);
            EXPECT_EQ(set->GetNumSFrames(), 140u);
        }
    }
    // A member file that is missing: its status, every member closed again.
    SoundFilePtr set = InputSet({a, a});
    Disk().erase(AsSet(set).GetMembers()[1]->GetPath());
    EXPECT_EQ(set->Open(), kFileNotFoundErr);
    EXPECT_FALSE(AsSet(set).GetMembers()[0]->IsOpen());
}

TEST_F(Surround, ReadsInterleaveTheMembersAndSilenceTheShorterOnes) {
    for (short bits : {8, 16, 24, 32}) {
        SCOPED_TRACE(bits);
        SoundFilePtr set = InputSet({{1, bits, 10}, {1, bits, 25}, {1, bits, 17}});
        set->SetSFTBufferSize(8);
        ASSERT_EQ(set->Open(), 0);
        ASSERT_EQ(set->GetNumSFrames(), 25u);
        const size_t b = static_cast<size_t>(bits / 8);
        for (uint32_t frame = 0; frame < 25; frame += 8) {
            ASSERT_EQ(set->RefreshInputBuffer(frame), 0);
            for (uint32_t i = 0; i < 8; ++i) {
                for (size_t m = 0; m < 3; ++m) {
                    MemberFile& member = Member(AsSet(set), m);
                    const int32_t want = frame + i < member.GetNumSFrames() ? member.GetSample(frame + i, 0) : 0;
                    int32_t got = 0;
                    std::memcpy(&got, set->GetInputBuffer() + ((i * 3) + m) * b, b);
                    got = static_cast<int32_t>(static_cast<uint32_t>(got) << (32 - bits)) >> (32 - bits);
                    ASSERT_EQ(got, want) << "frame " << frame + i << " member " << m;
                }
            }
        }
        // One channel straight from its member, then silence up to the set's end.
        for (short m = 0; m < 3; ++m) {
            std::vector<float> got(40, 1.0f), own(40, 1.0f);
            uint32_t count = 40, ownCount = 40;
            ASSERT_EQ(set->Read(m, 3, &count, got.data()), 0);
            EXPECT_EQ(count, 22u);
            ASSERT_EQ(Member(AsSet(set), m).Read(0, 3, &ownCount, own.data()), 0);
            for (uint32_t i = 0; i < count; ++i) EXPECT_EQ(got[i], i < ownCount ? own[i] : 0.0f) << i;
        }
        uint32_t count = 5;
        std::vector<float> out(5);
        EXPECT_EQ(set->Read(3, 0, &count, out.data()), kParamErr);
        count = 5;
        EXPECT_EQ(set->Read(0, 25, &count, out.data()), 0);
        EXPECT_EQ(count, 0u);
    }
}

TEST_F(Surround, WritesSpreadEveryChannelToItsMember) {
    SoundFilePtr set(CSoundFile::CreateSoundFile(FourCC("Srnd"), FourCC("Tmem")));
    ASSERT_EQ(AsSet(set).ISoundFile(dir / "Out.L", CSoundFile::kLCR, 3), 0);
    set->SetSFTBufferSize(7);
    EXPECT_EQ(set->Create(2, 24, 48000, nullptr, nullptr), kParamErr);
    ASSERT_EQ(set->Create(3, 24, 48000, nullptr, nullptr), 0);
    std::vector<double> frames(3 * 30);
    for (size_t i = 0; i < frames.size(); ++i) frames[i] = (static_cast<double>(i % 61) - 30.0) / 64.0;
    const std::vector<double> written = frames;
    uint32_t count = 30;
    ASSERT_EQ(set->Write(0, &count, frames.data()), 0);
    EXPECT_EQ(set->GetNumSFrames(), 30u);
    for (size_t m = 0; m < 3; ++m) {
        MemberFile& member = Member(AsSet(set), m);
        ASSERT_EQ(member.GetNumSFrames(), 30u);
        for (uint32_t i = 0; i < 30; ++i)
            EXPECT_EQ(member.GetSample(i, 0), TruncToInt32(written[i * 3 + m] * kFactor32) >> 8) << m << "/" << i;
    }
    EXPECT_EQ(set->Close(), 0);
}

TEST_F(Surround, CloseTakesNotOpenAsClosedAndClosesEveryMemberOnFailure) {
    const std::pair<OSErr, OSErr> cases[] = {{kFileNotOpenErr, 0}, {kFileNotOpenBaseErr, 0}, {kIOErr, kIOErr}};
    for (const auto& [memberSays, expected] : cases) {
        SoundFilePtr set = InputSet({{1, 16, 5}, {1, 16, 5}, {1, 16, 5}});
        ASSERT_EQ(set->Open(), 0);
        Member(AsSet(set), 0).FailAt(MemorySoundFile::Op::Close, 0, memberSays);
        EXPECT_EQ(set->Close(), expected);
        EXPECT_FALSE(set->IsOpen());
        for (size_t m = 0; m < 3; ++m) EXPECT_FALSE(Member(AsSet(set), m).IsOpen());
    }
}

TEST_F(Surround, DisposeEndsEveryMember) {
    SoundFilePtr set = InputSet({{1, 16, 5}, {1, 16, 5}});
    ASSERT_EQ(set->Open(), 0);
    MemorySoundFile::Observer seen[2];
    for (size_t m = 0; m < 2; ++m) Member(AsSet(set), m).observer = &seen[m];
    Member(AsSet(set), 1).FailAt(MemorySoundFile::Op::Close, 0, kIOErr);
    EXPECT_EQ(set.release()->Dispose(0), kIOErr);
    for (const auto& s : seen) {
        EXPECT_TRUE(s.destroyed);
        EXPECT_TRUE(s.discardSeenAtClose);
    }
}

TEST_F(Surround, SonicPairsAreLinkedBeforeCreation) {
    for (OSType type : {FourCC("SAIF"), FourCC("Tmem")}) {
        SonicLinks().clear();
        CSurroundFile set(type);
        ASSERT_EQ(set.ISoundFile(dir / (FourCCText(type) + ".L"), CSoundFile::kStereo, 2), 0);
        ASSERT_EQ(set.Create(2, 16, 48000, nullptr, nullptr), 0);
        if (type != FourCC("SAIF")) {
            EXPECT_TRUE(SonicLinks().empty());
            continue;
        }
        ASSERT_EQ(SonicLinks().size(), 2u);
        for (short i = 0; i < 2; ++i) {
            const SonicLink& link = SonicLinks()[static_cast<size_t>(i)];
            EXPECT_EQ(link.index, i);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(link.first), 8), std::string("\x06SAIF.L\0", 8));
            const uint32_t t1 = LoadBE(link.first + 12), t2 = LoadBE(link.second + 12);
            EXPECT_EQ(t2, t1 + 1);
        }
    }
}

TEST_F(Surround, BroadcastWaveMembersLoseTheLeftIndicatorOfRegionNames) {
    struct Case {
        OSType type;
        const char* name;
        const char* shown;
    };
    const Case cases[] = {
        {FourCC("BWLN"), "Verse.L", "Verse"},
        {FourCC("BWLN"), "Verse.Lead", "Verse.Lead"},
        {FourCC("Tmem"), "Verse.L", "Verse.L"},
    };
    for (const Case& c : cases) {
        SoundFilePtr set = InputSet({{1, 16, 50}, {1, 16, 50}}, c.type);
        SFTRegion region{};
        region.end = 10;
        NameToField(c.name, region.name);
        ASSERT_EQ(set->AddRegion(&region), 0);
        EXPECT_EQ(Member(AsSet(set), 1).GetNumRegions(), 1u);
        SFTRegion got{};
        ASSERT_EQ(set->GetIndRegion(static_cast<uint16_t>(0), &got), 0);
        EXPECT_EQ(NameFromField(got.name), c.shown);
        EXPECT_EQ(set->GetIndRegion(static_cast<uint32_t>(0))->name, c.shown);
    }
}

TEST_F(Surround, IdentityComesFromTheMembers) {
    SoundFilePtr set = InputSet({{1, 16, 5}, {1, 16, 5}}, FourCC("BWLN"));
    AsSet(set).SetSurroundSetName("Stereo");
    EXPECT_EQ(set->GetFType(), FourCC("BWLN"));
    EXPECT_EQ(set->GetDescription(), "Stereo Memory test file");
    EXPECT_TRUE(set->IsSplit());
    EXPECT_EQ(set->GetChannelConfig(), 5);
    EXPECT_EQ(set->GetSurroundSet(), &AsSet(set));
}

}  // namespace
