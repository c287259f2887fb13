#include "conversion/cconv_spec.h"

#include <gtest/gtest.h>

#include <thread>

#include "foundation/errors.h"
#include "soundfile/type_codes.h"

namespace {

std::shared_ptr<ConvSpec> Record() { return std::make_shared<ConvSpec>(); }

// A facade over a fresh record.
class CConvSpecTest : public ::testing::Test {
protected:
    std::shared_ptr<ConvSpec> record = Record();
    CConvSpec spec{record};
};

std::string Text(const unsigned char* p) { return pstrBytes(p); }

TEST(CConvSpec, SnipIsWholeFileUnlessTheConversionSnips) {
    auto record = Record();
    record->setSnipFrom(1.0f);
    record->setSnipTo(2.0f);
    CConvSpec spec(record);
    EXPECT_EQ(spec.GetSnipFrom(), 0.0f);
    EXPECT_EQ(spec.GetSnipTo(), -1.0f);
    spec.SetNeedsSnip(5);
    EXPECT_EQ(spec.GetNeedsSnip(), 1);
    float from = -7, to = -7;
    spec.GetSnip(&from, &to);
    EXPECT_EQ(from, 1.0f);
    EXPECT_EQ(to, 2.0f);
    from = -7;
    spec.GetSnip(&from, nullptr);  // both or nothing
    EXPECT_EQ(from, -7.0f);
    spec.SetSnip(3.0f, 4.0f);
    EXPECT_EQ(record->snipFrom(), 3.0f);
    EXPECT_EQ(record->snipTo(), 4.0f);
}

TEST_F(CConvSpecTest, NameExtensionFollowsTheFlagUnlessStoredWithADot) {
    Str255 ext;
    record->setNameExtension("wav");
    spec.GetNameExtension(ext);
    EXPECT_EQ(Text(ext), "");
    spec.SetNeedsNameExtension(true);
    spec.GetNameExtension(ext);
    EXPECT_EQ(Text(ext), ".wav");
    record->setNameExtension("");  // none: the output type's own extension
    spec.GetNameExtension(ext);
    EXPECT_EQ(Text(ext), "");
    record->setNameExtension("..");  // stored as "."
    spec.GetNameExtension(ext);
    EXPECT_EQ(Text(ext), "");
    record->setNameExtension("..x");  // stored as ".x"
    spec.SetNeedsNameExtension(false);
    spec.GetNameExtension(ext);
    EXPECT_EQ(Text(ext), ".x");

    Str255 in;
    pascalStringFromString(".ap6", in);
    spec.SetNameExtension(in);
    EXPECT_EQ(record->nameExtension(), "ap6");
    EXPECT_FALSE(record->needsNameExtension());
}

TEST_F(CConvSpecTest, CodesAreCutToSixteenBitsAndFlagsToZeroOrOne) {
    record->setWordLength(70000);
    EXPECT_EQ(spec.GetWordLength(), 4464);
    spec.SetWordLength(10000);  // PureVoice half rate
    EXPECT_EQ(spec.GetWordLength(), 10000);
    spec.SetChannelTreat(-1);
    EXPECT_EQ(record->channelTreat(), -1);
    spec.SetNeedsGain(-3);
    EXPECT_TRUE(record->needsGain());
    EXPECT_EQ(spec.GetNeedsGain(), 1);
}

TEST_F(CConvSpecTest, ConversionNamePassesTheCleaning) {
    Str255 name;
    pascalStringFromString("a/b", name);
    spec.SetConversionName(name);
    EXPECT_EQ(record->conversionName(), "a-b");
    pascalStringFromString("..", name);
    spec.SetConversionName(name);
    EXPECT_EQ(record->conversionName(), ConvSpec::defaultConversionName());
    record->setConversionName("caf\xC3\xA9");
    spec.GetConversionName(name);
    EXPECT_EQ(stringFromPascalString(name), "caf\xC3\xA9");
}

TEST_F(CConvSpecTest, PerTypeBlockIsWrittenInPlace) {
    spec.GetFiletypeSpecifics()[60] = 0x44;
    EXPECT_EQ(record->dictionary().at(XWCSSpecifics).find(kOldDataKey)->data()->at(60), 0x44);
    uint8_t fresh[256] = {};
    fresh[0] = 'B';
    const uint8_t* address = spec.GetFiletypeSpecifics().data();
    spec.SetFiletypeSpecifics(fresh);
    auto block = spec.GetFiletypeSpecifics();
    EXPECT_EQ(block.data(), address);
    EXPECT_EQ(block[0], 'B');
    EXPECT_EQ(block[60], 0);
    // From itself, and with the record's other accessors, while the block is held.
    spec.SetFiletypeSpecifics(block.data());
    spec.SetWordLength(24);
    EXPECT_EQ(block[0], 'B');
}

TEST(CConvSpec, FacadeWithoutNameOrFolder) {
    auto record = Record();
    {
        CConvSpec spec(record);
        EXPECT_EQ(record.use_count(), 2);
        EXPECT_EQ(spec.GetInputName(), nullptr);
        EXPECT_EQ(spec.GetInputNameStr(), "");
        EXPECT_EQ(spec.GetParentRef(), nullptr);
    }
    EXPECT_EQ(record.use_count(), 1);

    const FSRef folder{"/tmp/out/conv"};
    const std::string name = "Take 1 \xC3\xA9.wav";
    CConvSpec spec(record, &folder, &name);
    ASSERT_NE(spec.GetParentRef(), nullptr);
    EXPECT_EQ(spec.GetParentRef()->path, "/tmp/out/conv");
    EXPECT_EQ(spec.GetInputNameStr(), name);
    EXPECT_EQ(*spec.GetInputName(), name);

    spec.SetObjCConvSpec(Record());
    EXPECT_EQ(record.use_count(), 1);  // the old record is let go

    error_code_exception_log_changer quiet(false);
    try {
        CConvSpec none(nullptr);
        FAIL() << "a facade without a record was made";
    } catch (const error_code_exception& e) {
        EXPECT_EQ(e.error_code(), kParamErr);
    }
}

TEST(CConvSpec, CurrentConversionBelongsToTheThreadAndEndsWithTheFacade) {
    CConvSpec::SetCurConvSpec(nullptr);
    {
        CConvSpec spec(Record());
        CConvSpec::SetCurConvSpec(&spec);
        EXPECT_EQ(CConvSpec::GetCurConvSpec(), &spec);
        CConvSpec* seenElsewhere = &spec;
        std::thread([&] { seenElsewhere = CConvSpec::GetCurConvSpec(); }).join();
        EXPECT_EQ(seenElsewhere, nullptr);
        {
            CConvSpec shortLived(Record());  // not the current one: the slot stays
        }
        EXPECT_EQ(CConvSpec::GetCurConvSpec(), &spec);
    }
    // No pointer to the ended facade is left behind.
    EXPECT_EQ(CConvSpec::GetCurConvSpec(), nullptr);
}

}  // namespace
