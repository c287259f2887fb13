// Surround sets over in-memory members: the naming rules against the shipped
// tables, the checks the tables pass on load, binding, opening, closing and
// disposal. Reading and writing real members against peers: surround_peer_test.
#include "soundfile/surround_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "foundation/pcre_wrappers.h"
#include "foundation/string_utils.h"
#include "memory_sound_file.h"
#include "soundfile/registry.h"
#include "soundfile/split_file.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

namespace {

using testsupport::MemorySoundFile;

// What a member file holds "on disk", by path; its samples follow from the path.
struct Stored {
    short channels = 1, wordSize = 16;
    uint32_t frames = 0;
    double rate = 48000;
    short dataType = kDataTypePCM;
};
std::map<std::string, Stored> gDisk;
std::vector<std::string> gSonicLinks;  // first record, second record and index, as bytes

class MemberFile : public MemorySoundFile {
public:
    explicit MemberFile(OSType type) : MemorySoundFile(1, 16, 0, 48000, kDataTypePCM, type) {}
    OSErr Open() override {
        auto it = gDisk.find(GetPath());
        if (it == gDisk.end()) return kFileNotFoundErr;
        const Stored& s = it->second;
        SetFormat(s.channels, s.wordSize, s.dataType);
        SetRateRaw(s.rate);
        SetNumFrames(s.frames);
        const uint32_t seed = static_cast<uint32_t>(std::hash<std::string>()(GetPath()) % 97);
        for (uint32_t f = 0; f < s.frames; ++f)
            for (short c = 0; c < s.channels; ++c)
                SetSample(
                    f, c,
                    static_cast<int32_t>(((seed + f * 17) % 251) - 125) * (1 << (s.wordSize - 8)));
        return MemorySoundFile::Open();
    }
    void SetSonicAIFFExtras(unsigned char* first, unsigned char* second, short index) override {
        gSonicLinks.push_back(std::string(reinterpret_cast<char*>(first), 16) +
                              std::string(reinterpret_cast<char*>(second), 16) + char(index));
    }
};

template <OSType Type>
CSoundFile* Make() {
    return new MemberFile(Type);
}

MemberFile& Member(SoundFilePtr& set, size_t i) {
    return dynamic_cast<MemberFile&>(*dynamic_cast<CSurroundFile&>(*set).GetMembers().at(i));
}

dbresult TableFrom(const std::string& text) {
    std::istringstream in(text);
    dbresult table;
    in >> table;
    return table;
}

// A set bound against a table of the test's choice.
struct TableBoundSet : CSurroundFile {
    using CSurroundFile::BindOutputSet;
    using CSurroundFile::CSurroundFile;
};

class Surround : public ::testing::Test {
protected:
    void SetUp() override {
        ReleaseSoundFileDispatchers();
        plist::Dictionary table;
        for (const char* code : {"'Tmem'", "'BWLN'", "'SAIF'"}) table[code] = plist::Dictionary();
        for (auto [code, make] :
             {std::pair{"Tmem", &Make<FourCC("Tmem")>}, std::pair{"BWLN", &Make<FourCC("BWLN")>},
              std::pair{"SAIF", &Make<FourCC("SAIF")>}}) {
            auto d = std::make_shared<SoundFileDispatcher>();
            d->setCreateFunc(make);
            ASSERT_TRUE(AttachSoundFileDispatcher(table, HFSTypeCode(code), d));
        }
        gDisk.clear();
        gSonicLinks.clear();
        ASSERT_FALSE(CSurroundFile::GetSurroundTable().records.empty());
        ASSERT_FALSE(CSurroundFile::GetChannelNames().records.empty());
    }
    void TearDown() override { ReleaseSoundFileDispatchers(); }

    // An input set of members stored with the given descriptions.
    SoundFilePtr InputSet(const std::vector<Stored>& members, OSType type = FourCC("Tmem")) {
        std::vector<std::string> paths;
        for (const Stored& s : members) {
            paths.push_back(dir / ("m" + std::to_string(paths.size()) + ".L"));
            gDisk[paths.back()] = s;
        }
        SoundFilePtr set(new CSurroundFile(type));
        EXPECT_EQ(set->ISoundFile(paths), 0);
        return set;
    }
    testsupport::TempDir dir;
};

// ---- Naming ------------------------------------------------------------------

TEST_F(Surround, SetNamesOfMemberFiles) {
    const std::pair<const char*, const char*> cases[] = {
        {"/a/Take.L.wav", "Take"},       {"/a/take.ls.wav", "take"},
        {"/a/Take.lfe1.wav", "Take"},    {"/a/Take.3.wav", "Take"},
        {"/a/Take.12", "Take"},          {"/a/Take.Lead.L.wav", "Take.Lead"},
        {"/a/Take.mix.wav", "Take.mix"}, {"/a/Take.Lx.wav", "Take.Lx"},
        {"/a/Take.L-2.wav", "Take.L-2"}, {"/a/Take.L mix", "Take.L mix"},
        {"/a/Take.wav", "Take"},         {"/a/Take", "Take"},
    };
    for (const auto& [path, name] : cases) EXPECT_EQ(CSurroundFile::GetName(path), name) << path;
}

TEST_F(Surround, SetPathsAndBaseNamesDropTheIndicatorThatEndsTheName) {
    // The path an output set is bound with loses the first indicator of the list
    // that stands alone in its file name, wherever it stands there; a path
    // without a folder is kept as it is.
    const std::pair<const char*, const char*> bound[] = {
        {"/o/Mix.L", "/o/Mix"},           {"/o/Mix.l", "/o/Mix"},         {"/o/Mix-L", "/o/Mix"},
        {"/o/Mix-l", "/o/Mix-l"},         {"/o/Mix(L)", "/o/Mix"},        {"/o/Mix.1", "/o/Mix"},
        {"/o/Mix.lead.L", "/o/Mix.lead"}, {"/o/Lead.L.R", "/o/Lead.R"},   {"Mix.L", "Mix.L"},
        {"/out/a.l.L", "/out/a.L"},       {"/out/Vox.lead.L", "/out/Vox.lead"},
        {"/o/Mix(L).1", "/o/Mix(L)"},     {"/o/Mix-L(L)", "/o/Mix(L)"},   {"/o.L/Mix.Line", "/o.L/Mix.Line"},
        {"/o/Mix.1.L", "/o/Mix.1"},       {"/o/Take.10", "/o/Take.10"},   {"/o/Mix.l_2.L", "/o/Mix.l_2"},
        {"/out/Voix.légère.L", "/out/Voix.légère"},
    };
    for (const auto& [path, stored] : bound) {
        CSurroundFile set(FourCC("Tmem"));
        set.SetPath(path);
        EXPECT_EQ(set.GetPath(), stored) << path;
    }
    // The path and base name shown for a set, from its first member.
    struct Case {
        const char *first, *path, *baseName;
    };
    const Case cases[] = {
        {"Vox.L.wav", "Vox.wav", "Vox"},
        {"Vox.l.wav", "Vox.wav", "Vox"},
        {"Vox(L).wav", "Vox.wav", "Vox(L)"},
        {"Vox-L.aif", "Vox.aif", "Vox-L"},
        {"Vox.1.wav", "Vox.wav", "Vox.1"},
        {"Vox.7.wav", "Vox.wav", "Vox.7"},
        // A set led by its centre shows it.
        {"Vox.C.wav", "Vox.C.wav", "Vox"},
        {"Take.Lead.C", "Take.Lead.C", "Take.Lead"},
        {"Take.Chorus.L.wav", "Take.Chorus.wav", "Take.Chorus"},
        {"Take.lead.L.wav", "Take.lead.wav", "Take.lead"},
        {"Take.lärm.L.wav", "Take.lärm.wav", "Take.lärm"},
        {".CorvaOutFile.C.wav", ".CorvaOutFile.C.wav", ".CorvaOutFile"},
    };
    for (const Case& c : cases) {
        CSurroundFile set(FourCC("Tmem"));
        ASSERT_EQ(set.ISoundFile(std::vector<std::string>{dir / c.first, dir / "x.R.wav"}), 0);
        EXPECT_EQ(set.GetPath(), dir / c.path) << c.first;
        EXPECT_EQ(set.base_name(), c.baseName) << c.first;
        EXPECT_EQ(set.GetName(), c.first);
    }
}

// Every layout of the table, in the channel order of the layout tag that
// CreateChannelLayout writes for the configuration.
TEST_F(Surround, EveryLayoutNamesItsMembersAndChannels) {
    const char* const L = "Left|Right|Center|LFE|Left surround|Right surround";
    const std::tuple<CSoundFile::ChannelConfiguration, std::string, std::string> layouts[] = {
        {CSoundFile::kStereo, ".L|.R", "Left|Right"},
        {CSoundFile::kLCR, ".L|.C|.R", "Left|Center|Right"},
        {CSoundFile::kQuad, ".L|.R|.Ls|.Rs", "Left|Right|Left surround|Right surround"},
        {CSoundFile::kLCRS, ".C|.L|.R|.Cs", "Center|Left|Right|Center surround"},
        {CSoundFile::k50, ".L|.R|.Ls|.Rs|.C", "Left|Right|Left surround|Right surround|Center"},
        {CSoundFile::k51, ".L|.R|.C|.LFE|.Ls|.Rs", L},
        {CSoundFile::k60, ".L|.R|.Ls|.Rs|.C|.Cs",
         "Left|Right|Left surround|Right surround|Center|Center surround"},
        {CSoundFile::k61, ".L|.R|.C|.LFE|.Ls|.Rs|.Cs", std::string(L) + "|Center surround"},
        {CSoundFile::k71, ".C|.Lc|.Rc|.L|.R|.Ls|.Rs|.LFE",
         "Center|Left center|Right center|Left|Right|Left surround|Right surround|LFE"},
        {CSoundFile::k102, ".L|.R|.C|.Vhc|.Lsd|.Rsd|.Ls|.Rs|.Vhl|.Vhr|.Lw|.Rw|.Csd|.Cs|.LFE1|.LFE2",
         "Left|Right|Center|Vertical height center|Left surround direct|Right surround direct|"
         "Left surround|Right surround|Vertical height left|Vertical height right|Left wide|"
         "Right wide|Center surround direct|Center surround|LFE 1|LFE 2"},
    };
    for (const auto& [configuration, indicatorText, nameText] : layouts) {
        SCOPED_TRACE(ChannelConfigurationWord(configuration));
        const std::vector<std::string> indicators = split(indicatorText, "|");
        const std::vector<std::string> names = split(nameText, "|");
        CSurroundFile set(FourCC("Tmem"));
        ASSERT_EQ(set.ISoundFile(dir / "Mix.L", configuration, 99), 0);
        ASSERT_EQ(set.GetMembers().size(), indicators.size());
        EXPECT_EQ(surround::LayoutChannelCount(configuration), indicators.size());
        EXPECT_EQ(set.GetNumChannels(), static_cast<short>(indicators.size()));
        // A layout led by its centre shows it in the set's path.
        EXPECT_EQ(set.GetPath(), dir / (indicators[0] == ".C" ? "Mix.C" : "Mix"));
        EXPECT_EQ(set.base_name(), "Mix");
        for (size_t c = 0; c < indicators.size(); ++c) {
            EXPECT_EQ(set.GetMembers()[c]->GetPath(), dir / ("Mix" + indicators[c]));
            EXPECT_EQ(set.GetChannelName(static_cast<short>(c)), names[c]) << indicators[c];
            // Member files name their set whatever the letter case of the indicator.
            EXPECT_EQ(CSurroundFile::GetName(dir / ("Mix" + indicators[c] + ".wav")), "Mix");
            EXPECT_EQ(CSurroundFile::GetName(dir / ("Mix" + lower_case(indicators[c]) + ".aif")),
                      "Mix");
        }
        EXPECT_EQ(set.GetChannelName(static_cast<short>(indicators.size())), "");
    }
}

TEST_F(Surround, NumberedSetsAndTheDebugSuffix) {
    CSurroundFile set(FourCC("Tmem"));
    ASSERT_EQ(set.ISoundFile(dir / "Mix.L", CSoundFile::kMultichannel, 8), 0);
    ASSERT_EQ(set.GetMembers().size(), 8u);
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(set.GetMembers()[i]->GetPath(), dir / ("Mix." + std::to_string(i + 1)));
    EXPECT_EQ(set.GetChannelName(2), "");
    set.SetSurroundSetName(CSurroundFile::kSplitMultichannelName);
    EXPECT_EQ(set.GetChannelName(2), "3");
    ::setenv("SurroundFileDebug", "", 1);
    EXPECT_EQ(set.GetChannelName(7), "8 [Mix.8]");
    ::unsetenv("SurroundFileDebug");
}

TEST_F(Surround, BindingsThatMakeNoUsableSetFail) {
    const dbresult stereoOnly = TableFrom("cc\tindicators\tname\n1\t.L|.R\tStereo\n");
    const std::tuple<CSoundFile::ChannelConfiguration, long, const char*, OSErr> cases[] = {
        {CSoundFile::k51, 6, "Tmem", kParamErr},  // no record for the layout
        {CSoundFile::kMultichannel, 0, "Tmem", kParamErr},
        {CSoundFile::kMultichannel, 201, "Tmem", kTooManyFilesErr},
        {CSoundFile::kStereo, 2, "Tnon", kCannotMakeFormatObjectErr},  // no class for the members
    };
    for (const auto& [configuration, count, type, expected] : cases) {
        TableBoundSet set(HFSTypeCode(type));
        EXPECT_EQ(set.BindOutputSet(dir / "Mix.L", configuration, count, stereoOnly), expected);
        EXPECT_TRUE(set.GetMembers().empty());
        // With no members there is nothing to create.
        EXPECT_EQ(set.Create(static_cast<short>(count), 16, 48000, nullptr, nullptr), kParamErr);
    }
    CSurroundFile input(FourCC("Tmem"));
    EXPECT_EQ(input.ISoundFile(std::vector<std::string>(201, dir / "x.L")), kTooManyFilesErr);
    EXPECT_TRUE(input.GetMembers().empty());
}

// ---- The tables ------------------------------------------------------------------

TEST_F(Surround, ShippedTablesPassTheirChecks) {
    const dbresult& layouts = CSurroundFile::GetSurroundTable();
    EXPECT_EQ(surround::CheckSurroundTable(layouts), "");
    EXPECT_EQ(surround::CheckChannelNameTable(CSurroundFile::GetChannelNames()), "");
    ASSERT_EQ(layouts.records.size(), 10u);
    // No indicator can be taken for a name extension.
    for (const std::string& indicators : layouts.get_values_for_field("indicators"))
        for (const std::string& indicator : split(indicators, "|"))
            EXPECT_EQ(CSoundFile::KnownNameExtensions().count(lower_case(indicator.substr(1))), 0u);
}

TEST(SurroundTables, ChecksRefuseBrokenTables) {
    const std::string layout = "cc\tindicators\tname\n", names = "indicator\tpattern\tname\n";
    const std::tuple<bool, std::string, const char*> cases[] = {
        {true, "cc\tname\n1\tStereo\n", "no column \"indicators\""},
        {true, layout, "no layouts"},
        {true, layout + "11\t.1|.2\tMulti\n", "not one of 1 to 10"},
        {true, layout + "x\t.L|.R\tStereo\n", "not one of 1 to 10"},
        {true, layout + "1\t.L|.R\tStereo\n1\t.L|.R\tTwo\n", "line 3: a second record"},
        {true, layout + "1\t.L|.R|.C\tStereo\n", "3 indicators for a layout of 2"},
        {true, layout + "1\tL|R\tStereo\n", "\"L\" is not a punctuation"},
        {true, layout + "1\t(L)|(R)\tStereo\n", "\"(L)\" is not a punctuation"},
        {true, layout + "1\t.L|.l\tStereo\n", "\".l\" appears twice"},
        {true, layout + "1\t.L|.R\t\n", "no name"},
        {true, layout + "6\t.L|.R|.C|.LFE|.Ls|.Rs\t5.1\n5\t.L|.R|.Ls|.Rs|.C\t5.0\n",
         "line 2: the layout contains that of line 3"},
        {true, layout + "5\t.L|.R|.Ls|.Rs|.C\t5.0\n6\t.L|.R|.C|.LFE|.Ls|.Rs\t5.1\n", ""},
        {false, names, ""},
        {false, "indicator\tname\n.L\tLeft\n", "no column \"pattern\""},
        {false, names + ".L\t(?i)^\\.L(\tLeft\n", "does not compile"},
        {false, names + ".L\t^\\.L$\tLeft\n", "does not recognise \".l\""},
        {false, names + ".L\t(?i)\\.L\tLeft\n.Ls\t(?i)^\\.Ls$\tLeft surround\n",
         "line 3: \".Ls\" is taken by the pattern of line 2"},
        {false, names + ".L\t(?i)^\\.L$\tLeft\n.l\t(?i)^\\.l$\tleft\n", "appears twice"},
        {false, names + ".L\t(?i)^\\.L$\t\n", "no name"},
    };
    for (const auto& [isLayout, text, expected] : cases) {
        const dbresult table = TableFrom(text);
        const std::string problem =
            isLayout ? surround::CheckSurroundTable(table) : surround::CheckChannelNameTable(table);
        if (*expected == 0)
            EXPECT_EQ(problem, "") << text;
        else
            EXPECT_NE(problem.find(expected), std::string::npos) << text << " gave: " << problem;
    }
}

TEST(SurroundTables, KnownIndicatorExpressionMatchesOnlyIndicatorsAndNumbers) {
    EXPECT_EQ(surround::KnownIndicatorExpression({".L", ".Ls"}),
              "(?i)\\.L\\b|(?i)\\.Ls\\b|\\.\\d+$");
    // Without indicators only a dot and digits at the end are recognised.
    const std::string numbers = surround::KnownIndicatorExpression({});
    EXPECT_EQ(numbers, "\\.\\d+$");
    EXPECT_FALSE(PCREMatch(numbers.c_str(), "Take.mix", 4));
    EXPECT_TRUE(PCREMatch(numbers.c_str(), "Take.12", 4));
}

// ---- The set over its members ------------------------------------------------------

TEST_F(Surround, OpenTakesTheLongestMemberAndRefusesMismatches) {
    const Stored a{1, 24, 100, 48000};
    const std::pair<std::vector<Stored>, OSErr> cases[] = {
        {{a, {1, 24, 80, 48000}, {1, 24, 140, 48000}, a, a, a}, 0},
        {{a, {2, 24, 100, 48000}, a}, kSplitNotConsistentErr},                // a stereo member
        {{a, {1, 16, 100, 48000}}, kSplitNotConsistentErr},                   // word sizes differ
        {{a, {1, 24, 100, 44100}}, kSplitNotConsistentErr},                   // rates differ
        {{a, {1, 24, 100, 48000, kDataType24In32}}, kSplitNotConsistentErr},  // data types differ
    };
    for (const auto& [members, expected] : cases) {
        SoundFilePtr set = InputSet(members);
        EXPECT_EQ(set->Open(), expected);
        EXPECT_EQ(set->IsOpen(), expected == 0);
        for (size_t m = 0; m < members.size(); ++m)
            EXPECT_EQ(Member(set, m).IsOpen(), expected == 0);
    }
    SoundFilePtr set = InputSet({a, {1, 24, 80, 48000}, {1, 24, 140, 48000}});
    ASSERT_EQ(set->Open(), 0);
    EXPECT_EQ(set->GetNumChannels(), 3);
    EXPECT_EQ(set->GetWordSize(), 24);
    EXPECT_EQ(set->GetNumSFrames(), 140u);
    // A missing member file: its status, and every member closed again.
    SoundFilePtr broken = InputSet({a, a});
    gDisk.erase(Member(broken, 1).GetPath());
    EXPECT_EQ(broken->Open(), kFileNotFoundErr);
    EXPECT_FALSE(Member(broken, 0).IsOpen());
}

TEST_F(Surround, CloseTakesNotOpenAsClosedAndClosesEveryMemberOnFailure) {
    using Case = std::pair<OSErr, OSErr>;  // what the first member's Close says, the set's
    for (const auto& [memberSays, expected] :
         {Case{kFileNotOpenErr, 0}, Case{kFileNotOpenBaseErr, 0}, Case{kIOErr, kIOErr}}) {
        SoundFilePtr set = InputSet({{1, 16, 5}, {1, 16, 5}, {1, 16, 5}});
        ASSERT_EQ(set->Open(), 0);
        Member(set, 0).FailAt(MemorySoundFile::Op::Close, 0, memberSays);
        EXPECT_EQ(set->Close(), expected);
        EXPECT_FALSE(set->IsOpen());
        for (size_t m = 0; m < 3; ++m) EXPECT_FALSE(Member(set, m).IsOpen());
    }
}

TEST_F(Surround, DisposeEndsEveryMember) {
    SoundFilePtr set = InputSet({{1, 16, 5}, {1, 16, 5}});
    ASSERT_EQ(set->Open(), 0);
    MemorySoundFile::Observer seen[2];
    for (size_t m = 0; m < 2; ++m) Member(set, m).observer = &seen[m];
    Member(set, 1).FailAt(MemorySoundFile::Op::Close, 0, kIOErr);
    EXPECT_EQ(set.release()->Dispose(0), kIOErr);
    for (const auto& s : seen) EXPECT_TRUE(s.destroyed && s.discardSeenAtClose);
}

TEST_F(Surround, OnlySonicPairsAreLinkedBeforeCreation) {
    for (const char* type : {"SAIF", "Tmem"}) {
        gSonicLinks.clear();
        CSurroundFile set(HFSTypeCode(type));
        ASSERT_EQ(set.ISoundFile(dir / "Pair.L", CSoundFile::kStereo, 2), 0);
        ASSERT_EQ(set.Create(2, 16, 48000, nullptr, nullptr), 0);
        if (std::string(type) != "SAIF") {
            EXPECT_TRUE(gSonicLinks.empty());
            continue;
        }
        ASSERT_EQ(gSonicLinks.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            const std::string& link = gSonicLinks[i];
            EXPECT_EQ(link.substr(0, 8), std::string("\x06Pair.L\0", 8));
            EXPECT_EQ(link.substr(0, 12), link.substr(16, 12));
            // The times, big-endian, one second apart.
            auto time = [&link](size_t at) {
                uint32_t t = 0;
                for (size_t k = 0; k < 4; ++k) t = (t << 8) | static_cast<uint8_t>(link[at + k]);
                return t;
            };
            EXPECT_EQ(time(28), time(12) + 1);
            EXPECT_EQ(link[32], static_cast<char>(i));
        }
    }
}

TEST_F(Surround, BroadcastWaveMembersLoseTheLeftIndicatorOfRegionNames) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"BWLN", "Verse.L", "Verse"},
        {"BWLN", "Verse.Lead", "Verse.Lead"},
        {"Tmem", "Verse.L", "Verse.L"},
    };
    for (const auto& [type, name, shown] : cases) {
        SoundFilePtr set = InputSet({{1, 16, 50}, {1, 16, 50}}, HFSTypeCode(type));
        SFTRegion region{};
        region.end = 10;
        NameToField(name, region.name);
        ASSERT_EQ(set->AddRegion(&region), 0);
        EXPECT_EQ(Member(set, 1).GetNumRegions(), 1u);
        SFTRegion got{};
        ASSERT_EQ(set->GetIndRegion(static_cast<uint16_t>(0), &got), 0);
        EXPECT_EQ(NameFromField(got.name), shown);
        EXPECT_EQ(set->GetIndRegion(static_cast<uint32_t>(0))->name, shown);
    }
}

}  // namespace
