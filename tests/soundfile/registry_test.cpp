// The dispatcher registry, the factory's composite cases, the coding questions
// and the raw-file settings.
#include "soundfile/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/user_defaults.h"
#include "soundfile/pending_file.h"
#include "soundfile/raw_settings.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

namespace {

using testsupport::TempDir;

OSErr WordLengthRule(CConvSpec*, int index, const std::string& title, int tag) {
    return static_cast<OSErr>(index * 100 + tag + static_cast<int>(title.size()));
}
int ChannelIndexRule(CConvSpec*) { return 7; }
std::string LogWordLengthRule(CConvSpec*) { return "16 bit"; }

// Objects the test dispatchers make.
CSoundFile* MakeCodedStandIn() {
    return new CPendingFormatFile(FourCC("Tcod"), FourCC("Tcod"), "coded", true, false);
}
CSoundFile* MakeDecodedStandIn() {
    return new CPendingFormatFile(FourCC("Tdec"), FourCC("Tdec"), "decoded", false, true);
}
CSoundFile* MakeSonicSplitStandIn() {
    return new CPendingGroupFile(FourCC("SpSc"), FourCC("SAIF"), FourCC("SpSc"), "sonic");
}

std::shared_ptr<SoundFileDispatcher> DispatcherMaking(SoundFileDispatcher::CreateFunc f) {
    auto d = std::make_shared<SoundFileDispatcher>();
    d->setCreateFunc(f);
    return d;
}

plist::Dictionary TableWith(std::initializer_list<const char*> codes) {
    plist::Dictionary table;
    for (const char* code : codes) table["'" + std::string(code) + "'"] = plist::Dictionary();
    return table;
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override { ReleaseSoundFileDispatchers(); }
    void TearDown() override { ReleaseSoundFileDispatchers(); }
};

TEST(SoundFileDispatcherTest, UnsetMembersAnswerTheirDefaults) {
    SoundFileDispatcher d;
    EXPECT_EQ(d.callCreateSoundFileObject(), nullptr);
    EXPECT_EQ(d.callHandleWordLengthSettings(nullptr, 1, "16", 16), -50);
    EXPECT_EQ(d.callHandleChannelSettings(nullptr, 1, "mono", 0), -50);
    EXPECT_EQ(d.callHandleSampleRateSettings(nullptr, 1, "44100", 44100), -50);
    EXPECT_FALSE(d.callIsMyFileType(nullptr));
    EXPECT_EQ(d.callChannelIndexFunc(nullptr), -1);
    EXPECT_EQ(d.callWordLengthIndexFunc(nullptr), -1);
    EXPECT_EQ(d.callLogWordLengthFunc(nullptr), "internal error during logging");
    EXPECT_EQ(d.callLogChannelSettingsFunc(nullptr), "internal error during logging");
    EXPECT_EQ(d.callAutoNameWordLengthFunc(nullptr), "internal error during auto name generation");
    EXPECT_EQ(d.callAutoNameChannelSettingsFunc(nullptr),
              "internal error during auto name generation");
    EXPECT_FALSE(d.hasHandleWordLengthFunc() || d.hasHandleChannelFunc() ||
                 d.hasSampleRateFunc() || d.hasChannelIndexFunc() ||
                 d.hasWordLengthIndexFunc() || d.hasLogWordLengthFunc() ||
                 d.hasLogChannelSettingsFunc() || d.hasAutoNameWordLengthFunc() ||
                 d.hasAutoNameChannelSettingsFunc());
}

TEST(SoundFileDispatcherTest, SetMembersReceiveTheArgumentsAndAnswerThroughTheCall) {
    SoundFileDispatcher d;
    d.setWordLengthSettingsFunc(&WordLengthRule);
    d.setChannelHandlingPopupIndexFunc(&ChannelIndexRule);
    d.setLogWordLengthFunc(&LogWordLengthRule);
    EXPECT_EQ(d.callHandleWordLengthSettings(nullptr, 2, "abc", 24), 227);
    EXPECT_EQ(d.callChannelIndexFunc(nullptr), 7);
    EXPECT_EQ(d.callLogWordLengthFunc(nullptr), "16 bit");
    EXPECT_TRUE(d.hasHandleWordLengthFunc() && d.hasChannelIndexFunc() && d.hasLogWordLengthFunc());
    EXPECT_FALSE(d.hasHandleChannelFunc());
    // The other slots keep their defaults.
    EXPECT_EQ(d.callHandleChannelSettings(nullptr, 2, "abc", 24), -50);
}

TEST_F(Registry, AttachesOnlyToCodesThatHaveATypeTableEntry) {
    const plist::Dictionary table = TableWith({"Tcod"});
    EXPECT_TRUE(AttachSoundFileDispatcher(table, FourCC("Tcod"), DispatcherMaking(&MakeCodedStandIn)));
    EXPECT_FALSE(AttachSoundFileDispatcher(table, FourCC("Tdec"), DispatcherMaking(&MakeDecodedStandIn)));
    EXPECT_NE(GetSoundFileDispatcher(FourCC("Tcod")), nullptr);
    EXPECT_NE(GetSoundFileDispatcher("'Tcod'"), nullptr);
    EXPECT_EQ(GetSoundFileDispatcher(FourCC("Tdec")), nullptr);

    std::unique_ptr<CSoundFile> made(CSoundFile::CreateSoundFile(FourCC("Tcod")));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->GetFType(), FourCC("Tcod"));
    EXPECT_EQ(CSoundFile::CreateSoundFile(FourCC("Tdec")), nullptr);
    // A dispatcher without a create function makes nothing.
    const plist::Dictionary other = TableWith({"Tnon"});
    EXPECT_TRUE(AttachSoundFileDispatcher(other, FourCC("Tnon"),
                                          std::make_shared<SoundFileDispatcher>()));
    EXPECT_EQ(CSoundFile::CreateSoundFile(FourCC("Tnon")), nullptr);
}

TEST_F(Registry, CodingQuestionsAskAThrowAwayObject) {
    const plist::Dictionary table = TableWith({"Tcod", "Tdec"});
    AttachSoundFileDispatcher(table, FourCC("Tcod"), DispatcherMaking(&MakeCodedStandIn));
    AttachSoundFileDispatcher(table, FourCC("Tdec"), DispatcherMaking(&MakeDecodedStandIn));
    EXPECT_TRUE(NeedsCodingOnClose(FourCC("Tcod")));
    EXPECT_FALSE(NeedsDecodingOnOpen(FourCC("Tcod")));
    EXPECT_FALSE(NeedsCodingOnClose(FourCC("Tdec")));
    EXPECT_TRUE(NeedsDecodingOnOpen(FourCC("Tdec")));
    EXPECT_TRUE(CSoundFile::NeedsEncodingOnClose(FourCC("Tcod")));
    EXPECT_TRUE(CSoundFile::NeedsDecodingOnOpen(FourCC("Tdec")));
    // Unknown codes answer false.
    EXPECT_FALSE(NeedsCodingOnClose(FourCC("A1t4")));
    EXPECT_FALSE(NeedsDecodingOnOpen(FourCC("A1t4")));
}

TEST_F(Registry, GroupCodesMakeGroupsOfTheirMemberType) {
    struct Case {
        CSoundFile* made;
        OSType members;
    };
    const Case cases[] = {
        {CSoundFile::CreateSoundFile(FourCC("Srnd")), FourCC("BWLN")},
        {CSoundFile::CreateSoundFile(FourCC("Splt")), FourCC("Sd2f")},
        {CSoundFile::CreateSoundFile(FourCC("Srnd"), FourCC("AIFF")), FourCC("AIFF")},
        {CSoundFile::CreateSoundFile(FourCC("Splt"), FourCC("WAVE")), FourCC("WAVE")},
    };
    for (const Case& c : cases) {
        std::unique_ptr<CSoundFile> made(c.made);
        ASSERT_NE(made, nullptr);
        EXPECT_TRUE(made->IsSplit());
        // A group reports its members' type.
        EXPECT_EQ(made->GetFType(), c.members) << FourCCText(made->GetFType());
    }
}

TEST_F(Registry, SonicSplitPairsComeFromTheRegisteredSonicSplitClass) {
    // Without a registered 'SpSc' there is no Sonic split pair.
    EXPECT_EQ(CSoundFile::CreateSoundFile(FourCC("SpSc"), FourCC("AIFF")), nullptr);
    EXPECT_EQ(CSoundFile::CreateSoundFile(FourCC("Splt"), FourCC("SAIF")), nullptr);

    const plist::Dictionary table = TableWith({"SpSc"});
    AttachSoundFileDispatcher(table, FourCC("SpSc"), DispatcherMaking(&MakeSonicSplitStandIn));
    for (CSoundFile* raw : {CSoundFile::CreateSoundFile(FourCC("SpSc"), FourCC("AIFF")),
                            CSoundFile::CreateSoundFile(FourCC("SpSc"), 0),
                            CSoundFile::CreateSoundFile(FourCC("Splt"), FourCC("SAIF"))}) {
        std::unique_ptr<CSoundFile> made(raw);
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(made->GetFType(), FourCC("SpSc"));
    }
    // Any other code in the two-argument form is the one-argument factory.
    EXPECT_EQ(CSoundFile::CreateSoundFile(FourCC("A1t4"), FourCC("AIFF")), nullptr);
}

TEST_F(Registry, StandInsFailToOpenOrCreateAndAreNotOpen) {
    CPendingFormatFile f(FourCC("711a"), FourCC("DALW"), "Dialogic A-law", false, false);
    EXPECT_EQ(f.Open(), kCannotMakeFormatObjectErr);
    EXPECT_EQ(f.Create(1, 16, 44100, nullptr, nullptr), kCannotMakeFormatObjectErr);
    EXPECT_EQ(f.Close(), kFileNotOpenBaseErr);
    EXPECT_FALSE(f.IsOpen());
}

TEST_F(Registry, CleanupForgetsTheDispatchersAndResetsTheRawSettings) {
    const plist::Dictionary table = TableWith({"Tcod"});
    AttachSoundFileDispatcher(table, FourCC("Tcod"), DispatcherMaking(&MakeCodedStandIn));
    RawSettings changed;
    changed.SetWordSize(24);
    CSoundFile::SetRawSettings(changed);

    CSoundFile::Cleanup();
    EXPECT_EQ(CSoundFile::CreateSoundFile(FourCC("Tcod")), nullptr);
    EXPECT_EQ(CSoundFile::GetRawSettings().GetWordSize(), 16);
}

// ---------------------------------------------------------------------------
// Raw-file settings

void ExpectFactoryRawSettings(const RawSettings& r) {
    EXPECT_EQ(r.GetFileType(), FourCC("DPCM"));
    EXPECT_EQ(r.GetSampleRate(), 44100.0);
    EXPECT_TRUE(r.IsBigEndian());
    EXPECT_EQ(r.GetWordSize(), 16);
    EXPECT_EQ(r.GetAction(), RawSettings::kRawSkip);
    EXPECT_EQ(r.GetNumChannels(), 1u);
}

TEST(RawSettingsTest, Defaults) {
    ExpectFactoryRawSettings(RawSettings());
    ResetRawSettings();
    ExpectFactoryRawSettings(CSoundFile::GetRawSettings());
}

TEST(RawSettingsTest, SyncCopiesTheSixKeys) {
    TempDir dir;
    platform::UserDefaults defaults(dir / "preferences.plist");
    defaults.Set(kRawFileTypeKey, "'DALW'");
    defaults.Set(kRawSampleRateKey, 22050.3);  // kept in single precision
    defaults.Set(kRawBigEndianKey, false);
    defaults.Set(kRawWordSizeKey, 8);
    defaults.Set(kRawActionKey, 2);
    defaults.Set(kRawNumChannelsKey, 2);
    SyncRawSettings(defaults);
    const RawSettings r = CSoundFile::GetRawSettings();
    EXPECT_EQ(r.GetFileType(), FourCC("DALW"));
    EXPECT_EQ(r.GetSampleRate(), static_cast<double>(22050.3f));
    EXPECT_FALSE(r.IsBigEndian());
    EXPECT_EQ(r.GetWordSize(), 8);
    EXPECT_EQ(r.GetAction(), RawSettings::kRawReadAsRaw);
    EXPECT_EQ(r.GetNumChannels(), 2u);

    // Values that cannot describe a file keep the factory values.
    defaults.Set(kRawSampleRateKey, -1.0);
    defaults.Set(kRawNumChannelsKey, 0);
    SyncRawSettings(defaults);
    EXPECT_EQ(CSoundFile::GetRawSettings().GetSampleRate(), 44100.0);
    EXPECT_EQ(CSoundFile::GetRawSettings().GetNumChannels(), 1u);
    defaults.Set(kRawSampleRateKey, 1e300);
    SyncRawSettings(defaults);
    EXPECT_EQ(CSoundFile::GetRawSettings().GetSampleRate(), 44100.0);
    // The channel count stays within what a sound file may have.
    for (const auto& [stored, taken] : {std::pair{1024, 1024u}, {1025, 1u}, {-3, 1u}}) {
        defaults.Set(kRawNumChannelsKey, stored);
        SyncRawSettings(defaults);
        EXPECT_EQ(CSoundFile::GetRawSettings().GetNumChannels(), taken) << stored;
    }

    // Nothing stored: the defaults.
    platform::UserDefaults empty(dir / "other.plist");
    SyncRawSettings(empty);
    ExpectFactoryRawSettings(CSoundFile::GetRawSettings());
}

TEST(RawSettingsTest, ReadersSeeWholeUpdatesOnly) {
    const RawSettings a(FourCC("DPCM"), 44100.0, true, 16, RawSettings::kRawSkip);
    RawSettings b(FourCC("DULW"), 8000.0, false, 8, RawSettings::kRawReadAsRaw);
    b.SetNumChannels(2);
    CSoundFile::SetRawSettings(a);

    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i)
        readers.emplace_back([&] {
            while (!stop.load()) {
                const RawSettings r = CSoundFile::GetRawSettings();
                const bool isA = r.GetFileType() == a.GetFileType() && r.GetSampleRate() == 44100.0 &&
                                 r.IsBigEndian() && r.GetWordSize() == 16 && r.GetNumChannels() == 1;
                const bool isB = r.GetFileType() == b.GetFileType() && r.GetSampleRate() == 8000.0 &&
                                 !r.IsBigEndian() && r.GetWordSize() == 8 && r.GetNumChannels() == 2;
                if (!isA && !isB) torn.fetch_add(1);
            }
        });
    for (int i = 0; i < 20000; ++i) CSoundFile::SetRawSettings(i % 2 ? a : b);
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(torn.load(), 0);
    ResetRawSettings();
}

}  // namespace
