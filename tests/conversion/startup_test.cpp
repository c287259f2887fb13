// The start-up sequence of the model, as the application and the tests run it.
#include "conversion/startup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "conversion/cconv_spec.h"
#include "conversion/type_rules.h"
#include "formats/register_sound_files.h"
#include "soundfile/raw_settings.h"
#include "soundfile/registry.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

class Startup : public ::testing::Test {
protected:
    void SetUp() override { CSoundFile::Cleanup(); }
    void TearDown() override {
        CSoundFile::Cleanup();
        CSoundFile::SetProcessFileIfNoRegions(true);
        CSoundFile::SetSkipBadRegion(false);
        CSoundFile::SetIgnoreRegionsContainingWholeFile(true);
        CSoundFile::SetRecognizeNumberedFilesAsSplitMultichannel(false);
    }

    // A stand-in encoder printing `version`.
    std::string FakeLame(const std::string& name, const std::string& version) {
        const std::string path = dir_ / name;
        WriteFile(path, "#!/bin/sh\necho 'LAME 64bits version " + version + " (test)'\n");
        ::chmod(path.c_str(), 0755);
        return path;
    }

    BootOptions Options(std::vector<std::string> lame) {
        BootOptions o;
        o.defaults = &defaults_;
        o.lameCandidates = std::move(lame);
        return o;
    }

    static bool Mp3CanBeWritten() {
        return CSoundFile::GetFileTypeInfo().at("'DMP3'").find("canBeWritten")->asBool();
    }

    TempDir dir_;
    platform::UserDefaults defaults_{dir_ / "config/corvane/preferences.plist"};
};

TEST_F(Startup, FillsTheModelFromTheDefaults) {
    defaults_.Set(kRawWordSizeKey, 24);
    defaults_.Set(kRawNumChannelsKey, 2);
    defaults_.Set("Skip Bad Region", 1);
    defaults_.Set("Recognize number files as split", true);
    defaults_.Set("Process File If No Regions", false);

    const BootResult r = BootModel(Options({FakeLame("lame", "3.100")}));
    ASSERT_EQ(r.status, 0);

    // Factory values answer for the keys the user never set.
    EXPECT_TRUE(defaults_.GetBool("Save Log"));
    // Raw settings.
    const RawSettings raw = CSoundFile::GetRawSettings();
    EXPECT_EQ(raw.GetWordSize(), 24);
    EXPECT_EQ(raw.GetNumChannels(), 2u);
    EXPECT_EQ(raw.GetFileType(), FourCC("DPCM"));
    // Region settings.
    EXPECT_TRUE(CSoundFile::GetSkipBadRegion());
    EXPECT_TRUE(CSoundFile::GetRecognizeNumberedFilesAsSplitMultichannel());
    EXPECT_FALSE(CSoundFile::GetProcessFileIfNoRegions());
    EXPECT_TRUE(CSoundFile::GetIgnoreRegionsContainingWholeFile());
    // The registry.
    for (OSType code : RegisteredSoundFileTypes())
        EXPECT_NE(GetSoundFileDispatcher(code), nullptr) << FourCCText(code);
    // The per-type rules: a Creative Voice record without a rate is refused.
    SoundFileDispatcherPtr voc = GetSoundFileDispatcher(FourCC("VOC "));
    ASSERT_TRUE(voc && voc->hasSampleRateFunc());
    auto record = std::make_shared<ConvSpec>();
    record->setSampleRate(0);
    CConvSpec facade(record);
    EXPECT_EQ(voc->callHandleSampleRateSettings(&facade, 0, "", 0), 0);
    EXPECT_FALSE(record->specificsValue(kSampleRateValidKey).asBool(true));
    // The encoder: 3.100 is newer than 3.93.
    EXPECT_EQ(r.mp3Encoder.version.text(), "3.100");
    EXPECT_TRUE(r.mp3Writable);
    EXPECT_FALSE(r.mp3EncoderTooOld);
    EXPECT_TRUE(Mp3CanBeWritten());
}

TEST_F(Startup, Mp3OutputNeedsAnEncoderOfVersion393OrLater) {
    struct Case {
        std::vector<std::string> candidates;
        bool writable, tooOld;
    };
    const Case cases[] = {
        {{FakeLame("old", "3.92")}, false, true},
        {{FakeLame("exact", "3.93")}, true, false},
        {{dir_ / "nothing-here"}, false, false},
        {{FakeLame("old2", "3.92"), FakeLame("new", "3.99")}, true, false},
    };
    for (const Case& c : cases) {
        CSoundFile::Cleanup();
        const BootResult r = BootModel(Options(c.candidates));
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(r.mp3Writable, c.writable) << c.candidates.front();
        EXPECT_EQ(r.mp3EncoderTooOld, c.tooOld) << c.candidates.front();
        EXPECT_EQ(Mp3CanBeWritten(), c.writable) << c.candidates.front();
    }
    // Without the probe mp3 output is off.
    CSoundFile::Cleanup();
    BootOptions off = Options({});
    off.probeMp3Encoder = false;
    EXPECT_FALSE(BootModel(off).mp3Writable);
    EXPECT_FALSE(Mp3CanBeWritten());
}

TEST_F(Startup, ConversionsComeFromTheDefaultsElseFromTheFactoryList) {
    const BootResult factory = BootModel(Options({dir_ / "no-lame"}));
    ASSERT_EQ(factory.status, 0);
    const plist::Value shipped = plist::ReadFile(CSoundFile::GetPathForSoundFileResource(
        kFactoryConversionsResource));
    ASSERT_TRUE(shipped.array());
    EXPECT_EQ(factory.conversions.size(), shipped.array()->size());

    auto mine = std::make_shared<ConvSpec>();
    mine->setConversionName("Mine");
    defaults_.Set(kConversionsDefaultsKey, EncodeConvSpecs({mine}));
    CSoundFile::Cleanup();
    const BootResult own = BootModel(Options({dir_ / "no-lame"}));
    ASSERT_EQ(own.conversions.size(), 1u);
    EXPECT_EQ(own.conversions[0]->conversionName(), "Mine");
}

TEST_F(Startup, WithoutTheTypeTableStartUpStopsWithFileNotFound) {
    std::optional<std::string> saved;
    if (const char* old = std::getenv("CORVANE_RESOURCE_DIR")) saved = old;
    TempDir empty;
    ::setenv("CORVANE_RESOURCE_DIR", empty.path().c_str(), 1);
    const BootResult r = BootModel(Options({dir_ / "no-lame"}));
    if (saved)
        ::setenv("CORVANE_RESOURCE_DIR", saved->c_str(), 1);
    else
        ::unsetenv("CORVANE_RESOURCE_DIR");
    EXPECT_EQ(r.status, kFileNotFoundErr);
    EXPECT_EQ(GetSoundFileDispatcher(FourCC("AIFF")), nullptr);
}

}  // namespace
