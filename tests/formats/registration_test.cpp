// The registration of the 60 file types against the shipped type table.
#include "formats/register_sound_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/pcm/aiff_temp_file.h"
#include "formats/pcm/avr_file.h"
#include "formats/pcm/iff_8svx_file.h"
#include "formats/pcm/next_sun_file.h"
#include "formats/pcm/sd1_file.h"
#include "formats/pcm/snd_resource_file.h"
#include "formats/pcm/voc_file.h"
#include "soundfile/registry.h"
#include "soundfile/snippet_file.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"

namespace {

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        CSoundFile::Cleanup();
        RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
    }
    void TearDown() override { CSoundFile::Cleanup(); }
};

// The codes whose objects encode a temporary PCM file when they are closed.
const std::set<std::string> kCoded = {
    "BWMP", "21-4", "23-2", "23-3", "23-5", "26-3", "26-4", "26-5", "DADP", "DVAP",
    "DMP3", "G729", "MPG1", "MPG2", "MSAP", "PADP", "QTAL", "QTIM", "QTIF", "QTM3",
    "QTM6", "AVFd", "Mp3 ", "Mpg4", "QTQP", "QTQ2", "QTQD", "QTPV", "QTUL",
};

TEST_F(Registration, SixtyDistinctCodesEachWithAPropertyListAndADispatcher) {
    const auto& codes = RegisteredSoundFileTypes();
    ASSERT_EQ(codes.size(), 60u);
    EXPECT_EQ(std::set<OSType>(codes.begin(), codes.end()).size(), 60u);
    EXPECT_EQ(codes.front(), FourCC("AIFC"));
    EXPECT_EQ(codes.back(), FourCC("caff"));

    const plist::Dictionary& table = CSoundFile::GetFileTypeInfo();
    for (OSType code : codes) {
        const std::string key = HFSTypeString(code);
        auto entry = table.find(key);
        ASSERT_NE(entry, table.end()) << key << " has no property list";
        for (const char* field : {"text", "extension", "extensions", "canBeRead",
                                  "canBeWritten", "fileType", "creator"})
            EXPECT_NE(entry->second.find(field), nullptr) << key << " lacks " << field;
        EXPECT_NE(GetSoundFileDispatcher(code), nullptr) << key;
    }
    // Groups are made by the factory itself, not registered.
    EXPECT_EQ(GetSoundFileDispatcher(FourCC("Splt")), nullptr);
    EXPECT_EQ(GetSoundFileDispatcher(FourCC("Srnd")), nullptr);
}

TEST_F(Registration, TheFactoryAnswersEveryCodeWithItsTypeAndCodingNeeds) {
    for (OSType code : RegisteredSoundFileTypes()) {
        const std::string text = FourCCText(code);
        std::unique_ptr<CSoundFile> made(CSoundFile::CreateSoundFile(code));
        ASSERT_NE(made, nullptr) << text;
        OSType expected = code;
        if (text == "711a") expected = FourCC("DALW");
        if (text == "711u") expected = FourCC("DULW");
        if (text == "Temp") expected = FourCC("AIFF");
        EXPECT_EQ(made->GetFType(), expected) << text;
        EXPECT_EQ(made->NeedsCodingOnClose(), kCoded.count(text) == 1) << text;
        EXPECT_EQ(NeedsCodingOnClose(code), kCoded.count(text) == 1) << text;
        EXPECT_EQ(NeedsDecodingOnOpen(code), text == "G729") << text;
        EXPECT_FALSE(made->IsOpen()) << text;
    }
}

TEST_F(Registration, SharedClassesAndTheInternalTypes) {
    std::unique_ptr<CSoundFile> temp(CSoundFile::CreateSoundFile(FourCC("Temp")));
    EXPECT_NE(dynamic_cast<CTempFile*>(temp.get()), nullptr);
    EXPECT_EQ(temp->GetDescription(), "Temp");
    std::unique_ptr<CSoundFile> snip(CSoundFile::CreateSoundFile(FourCC("Snip")));
    EXPECT_NE(dynamic_cast<CSnippetFile*>(snip.get()), nullptr);

    // '711a' and '711u' make the objects of 'DALW' and 'DULW', which find those
    // types' property lists.
    std::unique_ptr<CSoundFile> alaw(CSoundFile::CreateSoundFile(FourCC("711a")));
    std::unique_ptr<CSoundFile> dalw(CSoundFile::CreateSoundFile(FourCC("DALW")));
    EXPECT_EQ(alaw->GetDescription(), dalw->GetDescription());
    ASSERT_NE(alaw->GetPropertyList(), nullptr);
    EXPECT_EQ(alaw->GetPropertyList()->find("classID")->asString(), "'DALW'");

    // Detection's code for IMA-compressed AIFC has no class.
    EXPECT_EQ(CSoundFile::CreateSoundFile(FourCC("A1t4")), nullptr);
    EXPECT_FALSE(NeedsCodingOnClose(FourCC("A1t4")));
}

TEST_F(Registration, GroupCases) {
    struct Case {
        OSType type, subtype;
        OSType reported;
    };
    const Case cases[] = {
        {FourCC("Srnd"), 0, FourCC("BWLN")},
        {FourCC("Splt"), 0, FourCC("Sd2f")},
        {FourCC("Splt"), FourCC("WAVE"), FourCC("WAVE")},
        {FourCC("Srnd"), FourCC("AIFF"), FourCC("AIFF")},
        {FourCC("Splt"), FourCC("SAIF"), FourCC("SpSc")},
        {FourCC("SpSc"), FourCC("AIFF"), FourCC("SpSc")},
    };
    for (const Case& c : cases) {
        std::unique_ptr<CSoundFile> made(c.subtype ? CSoundFile::CreateSoundFile(c.type, c.subtype)
                                                   : CSoundFile::CreateSoundFile(c.type));
        ASSERT_NE(made, nullptr) << FourCCText(c.type) << "/" << FourCCText(c.subtype);
        EXPECT_TRUE(made->IsSplit()) << FourCCText(c.type);
        EXPECT_EQ(made->GetFType(), c.reported)
            << FourCCText(c.type) << "/" << FourCCText(c.subtype) << " gives "
            << FourCCText(made->GetFType());
    }
    std::unique_ptr<CSoundFile> sonic(CSoundFile::CreateSoundFile(FourCC("SpSc"), FourCC("AIFF")));
    EXPECT_EQ(sonic->GetDescription(), "Sonic Split File");
}

TEST_F(Registration, RuleSlotsAnswerTheirDefaultsUntilTheRulesAreWritten) {
    SoundFileDispatcherPtr d = GetSoundFileDispatcher(FourCC("MPG1"));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->callHandleWordLengthSettings(nullptr, 0, "", 0), -50);
    EXPECT_EQ(d->callChannelIndexFunc(nullptr), -1);
    EXPECT_EQ(d->callLogChannelSettingsFunc(nullptr), "internal error during logging");
}

TEST_F(Registration, TypesWithoutAnEntryGetNoDispatcher) {
    CSoundFile::Cleanup();
    plist::Dictionary partial;
    partial["'AIFF'"] = plist::Dictionary();
    RegisterSoundFiles(partial);
    EXPECT_NE(GetSoundFileDispatcher(FourCC("AIFF")), nullptr);
    EXPECT_EQ(GetSoundFileDispatcher(FourCC("WAVE")), nullptr);
    EXPECT_EQ(CSoundFile::CreateSoundFile(FourCC("WAVE")), nullptr);
}

// A word size of 20 bits asked of every writable type that stores samples as
// they come: the whole-byte formats keep it in 3 bytes, the float and companded
// ones store their own coding, and the others refuse with their word-size code
// before they make a file. Whatever is written reads back with its samples.
TEST_F(Registration, EveryWritableSampleTypeWritesTwentyBitsOrRefusesThem) {
    enum Kind { kContainer, kFloat, kCompanded };
    const std::map<std::string, Kind> writes = {
        {"AIFF", kContainer}, {"AIFC", kContainer}, {"Dawn", kContainer}, {"WAVE", kContainer},
        {"BWLN", kContainer}, {"WVfl", kFloat},     {"WVau", kCompanded}, {"WVal", kCompanded},
        {"ulaw", kCompanded}, {"NSAL", kCompanded}, {"DALW", kCompanded}, {"711a", kCompanded},
        {"DULW", kCompanded}, {"711u", kCompanded},
    };
    // -20020 where the format has no code of its own for a word size it cannot hold.
    const std::map<std::string, OSErr> refuses = {
        {"Sd2f", -20020}, {"MMIX", -20020}, {"caff", -20020}, {"SAIF", -20020}, {" paf", -20020},
        {"DPCM", -20020}, {".AVR", kAVRIncompatibleWordSizeErr}, {"8SVX", kIFF8SVXIncompatibleWordSizeErr},
        {"Sd1f", kSD1IncompatibleWordSizeErr}, {"sfil", kSndRsrcWordSizeErr},
        {"VOC ", kVOCIncompatibleWordSizeErr}, {"VOC2", kVOCSBIncompatibleWordSizeErr},
        {"NxTS", kNeXTIncompatibleWordSizeErr},
    };
    const formattest::NarrowSamples samples = formattest::MakeNarrowSamples(20, 400, 20);
    testsupport::TempDir dir;
    size_t swept = 0;
    for (OSType code : RegisteredSoundFileTypes()) {
        const std::string text = FourCCText(code);
        const plist::Value* props = CSoundFile::GetFileTypeInfo().find(HFSTypeString(code))->second.find("canBeWritten");
        if (NeedsCodingOnClose(code) || !props || !props->asBool()) continue;
        SCOPED_TRACE(text);
        ++swept;
        const bool written = writes.count(text) == 1;
        ASSERT_TRUE(written || refuses.count(text) == 1) << "a writable type the sweep does not know";
        std::unique_ptr<CSoundFile> w(CSoundFile::CreateSoundFile(code));
        const std::string base = dir / ("t" + std::to_string(swept));
        ASSERT_EQ(w->ISoundFile(base), 0);
        const OSErr created = w->Create(1, 20, 8000, nullptr, nullptr);
        if (!written) {
            EXPECT_EQ(created, refuses.at(text));
            EXPECT_FALSE(w->IsOpen());
            EXPECT_FALSE(std::ifstream(w->GetPath()).good()) << w->GetPath();
            continue;
        }
        ASSERT_EQ(created, 0);
        const Kind kind = writes.at(text);
        EXPECT_EQ(w->GetWordSize(), kind == kContainer ? 24 : kind == kFloat ? 32 : 16);
        w->SetDither(0);
        std::vector<double> out = samples.written;
        uint32_t frames = static_cast<uint32_t>(out.size());
        ASSERT_EQ(w->Write(0, &frames, out.data()), 0);
        const std::string path = w->GetPath();
        ASSERT_EQ(w->Close(), 0);

        std::unique_ptr<CSoundFile> r(CSoundFile::CreateSoundFile(code));
        ASSERT_EQ(r->ISoundFile(path), 0);
        ASSERT_EQ(r->Open(), 0);
        ASSERT_EQ(r->GetNumSFrames(), samples.written.size());
        std::vector<double> back(samples.written.size());
        frames = r->GetNumSFrames();
        ASSERT_EQ(r->Read(0, &frames, back.data()), 0);
        for (size_t i = 0; i < back.size(); ++i) {
            const double x = samples.written[i];
            if (kind == kContainer)
                ASSERT_NEAR(back[i], samples.leftJustified[i] / 2147483648.0, 1e-9) << "sample " << i;
            else if (kind == kFloat)
                ASSERT_NEAR(back[i], x, 1e-7) << "sample " << i;
            else  // within a step of the logarithmic coding
                ASSERT_NEAR(back[i], x, std::fabs(x) / 16 + 1.0 / 2048) << "sample " << i;
        }
    }
    EXPECT_EQ(swept, writes.size() + refuses.size());
}

}  // namespace
