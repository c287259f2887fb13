#include "conversion/conv_spec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "conversion/cconv_spec.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

namespace {

using testsupport::TempDir;

plist::Bytes Zeros() { return plist::Bytes(kFileTypeSpecificsSize, 0); }

// A record with every persisted field away from its factory value.
ConvSpec Unusual() {
    ConvSpec s;
    s.setActive(false);
    s.setBitRatePerChannel(false);
    s.setCeiledMax(0.75);
    s.setCeiling(-0.3);
    s.setChannelTreat(kChannelTreatMixToMono);
    s.setComment("for the \xC3\xA9" "dit");
    s.setCompressionBoost(3.5);
    s.setCompressionRelease(0.01);
    s.setCompressionType(4);
    s.setConversionName("Mix \xC3\xA9");
    s.setCopyExtras(true);
    s.setFadeInTime(0.1f);
    s.setFadeOutTime(1234.5f);
    s.setGateAttenuation(-20.25);
    s.setGateGapLength(0.3);
    s.setGateThreshold(-45.0);
    s.setHasValidMax(true);
    s.setMax(0.123456789);
    s.setNameExtension("wav");
    s.setNeedsChannelTreat(true);
    s.setNeedsCompression(true);
    s.setNeedsCompressor(true);
    s.setNeedsExtraction(true);
    s.setNeedsFades(true);
    s.setNeedsGain(true);
    s.setNeedsGate(true);
    s.setNeedsNameExtension(true);
    s.setNeedsNewWordLength(true);
    s.setNeedsNormalize(true);
    s.setNeedsRedither(true);
    s.setNeedsSampleRateConversion(true);
    s.setNeedsSnip(true);
    s.setNeedsStrictFileType(true);
    s.setNeedsStrip(true);
    s.setOutputFileType(FourCC("WAVE"));
    s.setSampleRate(22050.5);
    s.setSampleRateConvertQuality(3);
    s.setSnipFrom(1.5f);
    s.setSnipTo(2.25f);
    s.setSpecificsValid(true);
    s.setStripMargin(50.0f);
    s.setWordLength(24);
    s.fileTypeSpecifics()[0] = 7;
    s.fileTypeSpecifics()[255] = 9;
    s.setSpecificsValue("AnnotationText", plist::Value("take 1"));
    return s;
}

TEST(ConvSpec, DecodingStartsFromAnEmptyRecord) {
    ConvSpec s(plist::Dictionary{{XWCSName, plist::Value("only a name")}});
    EXPECT_EQ(s.conversionName(), "only a name");
    EXPECT_FALSE(s.active());
    EXPECT_EQ(s.sampleRate(), 0.0);
    EXPECT_EQ(s.wordLength(), 0);
    EXPECT_EQ(s.outputFileType(), 0u);
    EXPECT_FALSE(s.needsGain() || s.needsSampleRateConversion() || s.needsChannelTreat());
    EXPECT_TRUE(s.valid());  // not strict
    EXPECT_EQ(*s.specifics().at(kOldDataKey).data(), Zeros());
}

TEST(ConvSpec, DecodingToleratesWrongTypes) {
    plist::Dictionary d{
        {XWCSActive, plist::Value("YES")},
        {XWCSWordLength, plist::Value(2.9)},
        {XWCSChannelTreat, plist::Value(static_cast<long long>(0x100000003LL))},
        {XWCSName, plist::Value(5)},
        {XWCSComment, plist::Value(true)},
        {XWCSSnipTo, plist::Value(1e300)},
        {XWCSSampleRate, plist::Value(plist::Bytes{1, 2})},
        {XWCSSpecifics, plist::Value("junk")},
    };
    ConvSpec s(d);
    EXPECT_FALSE(s.active());
    EXPECT_EQ(s.wordLength(), 2);
    EXPECT_EQ(s.channelTreat(), 3);  // the low 32 bits
    EXPECT_EQ(s.conversionName(), ConvSpec::defaultConversionName());
    EXPECT_EQ(s.comment(), "");
    EXPECT_EQ(s.snipTo(), FLT_MAX);
    EXPECT_EQ(s.sampleRate(), 0.0);
    EXPECT_EQ(*s.specifics().at(kOldDataKey).data(), Zeros());
}

TEST(ConvSpec, PerTypeBlockIsAlwaysExactly256Bytes) {
    const auto decoded = [](plist::Value oldData) {
        plist::Dictionary specifics{{"LAMETitle", plist::Value("t")}};
        if (!oldData.isNull()) specifics[kOldDataKey] = std::move(oldData);
        ConvSpec s(plist::Dictionary{{XWCSSpecifics, plist::Value(specifics)}});
        EXPECT_EQ(s.specificsValue("LAMETitle").asString(), "t");
        return *s.specifics().at(kOldDataKey).data();
    };
    plist::Bytes expected = Zeros();
    expected[0] = 1;
    expected[1] = 2;
    expected[2] = 3;
    EXPECT_EQ(decoded(plist::Value(plist::Bytes{1, 2, 3})), expected);  // short: padded

    plist::Bytes longBlock(300);
    for (size_t i = 0; i < longBlock.size(); ++i) longBlock[i] = static_cast<uint8_t>(i);
    const plist::Bytes cut = decoded(plist::Value(longBlock));  // long: cut
    EXPECT_EQ(cut, plist::Bytes(longBlock.begin(), longBlock.begin() + 256));

    EXPECT_EQ(decoded(plist::Value("not a block")), Zeros());
    EXPECT_EQ(decoded(plist::Value()), Zeros());  // absent

    // Writing the whole block through the pointer stays inside the record.
    ConvSpec s(plist::Dictionary{{XWCSSpecifics, plist::Value(plist::Dictionary{
                                                     {kOldDataKey, plist::Value(plist::Bytes{})}})}});
    std::fill_n(s.fileTypeSpecifics().data(), kFileTypeSpecificsSize, 0xAB);
    EXPECT_EQ(*s.specificsValue(kOldDataKey).data(), plist::Bytes(256, 0xAB));

    // Setting the specifics or the block keeps the address the formats hold.
    const uint8_t* block = s.fileTypeSpecifics().data();
    s.setSpecifics(plist::Dictionary{{kOldDataKey, plist::Value(plist::Bytes{5})}});
    EXPECT_EQ(s.fileTypeSpecifics().data(), block);
    EXPECT_EQ(s.fileTypeSpecifics()[0], 5);
    EXPECT_EQ(s.fileTypeSpecifics()[1], 0);
    s.setSpecificsValue(kOldDataKey, plist::Value(plist::Bytes(400, 1)));
    EXPECT_EQ(*s.specificsValue(kOldDataKey).data(), plist::Bytes(256, 1));
}

// Names that would not name a folder of their own get the default; a dot with
// something after it is a name of its own. Names are cut at a character
// boundary within 255 bytes.
TEST(ConvNameFormatter, CleansNames) {
    std::string accents, emoji;
    for (int i = 0; i < 200; ++i) accents += "\xC3\xA9";  // 400 bytes
    for (int i = 0; i < 100; ++i) emoji += "\xF0\x9F\x8E\xB5";
    const std::string fallback = ConvSpec::defaultConversionName();
    const std::pair<std::string, std::string> rows[] = {
        {"/Volumes:Disk\\x", "-Volumes-Disk-x"},
        {" a / b", "a -b"},
        {"x:y", "x-y"},
        {"a//b", "a--b"},
        {" .hidden", "hidden"},
        {"..x", ".x"},
        {"tab\tinside ", "tab\tinside "},
        {"\xC2\xA0\xE2\x80\x83name", "name"},  // no-break and em spaces
        {std::string("a\0b", 3), "a-b"},
        {std::string(300, 'n'), std::string(255, 'n')},
        {accents, accents.substr(0, 254)},
        {emoji, emoji.substr(0, 252)},  // 63 four-byte characters
        {"", fallback}, {"   ", fallback}, {"\n", fallback}, {".", fallback},
        {"..", fallback}, {"...", fallback}, {" ...", fallback},
        {"/", "-"},
        {".. ", ". "},
    };
    for (const auto& [name, cleaned] : rows)
        EXPECT_EQ(ConvNameFormatter::stringForObjectValue(name), cleaned) << "'" << name << "'";
    ConvSpec s;
    s.setConversionName("...");
    EXPECT_EQ(s.conversionName(), "untitled conversion");
    std::string out;
    EXPECT_TRUE(ConvNameFormatter::getObjectValue(&out, " raw/", nullptr));
    EXPECT_EQ(out, " raw/");
}

TEST(NameExtensionFormatter, ShowsWithAndStoresWithoutTheDot) {
    EXPECT_EQ(NameExtensionFormatter::stringForObjectValue("mp3"), ".mp3");
    EXPECT_EQ(NameExtensionFormatter::stringForObjectValue(""), ".");
    EXPECT_EQ(NameExtensionFormatter::stringForObjectValue(".x"), ".x");
    std::string out;
    EXPECT_TRUE(NameExtensionFormatter::getObjectValue(&out, "..x", nullptr));
    EXPECT_EQ(out, ".x");

    ConvSpec s;
    s.setNameExtension(".mp3");
    EXPECT_EQ(s.nameExtension(), "mp3");
    s.setNameExtension("mp3");
    EXPECT_EQ(s.nameExtension(), "mp3");
    // An extension cannot lead the output into another folder.
    s.setNameExtension("x/../../y");
    EXPECT_EQ(s.nameExtension(), "x-..-..-y");
    s.setComment(std::string("a\0b", 3));
    EXPECT_EQ(s.comment(), "ab");
}

TEST(ConvSpec, ValidatesAgainstTheTypeTable) {
    plist::Dictionary table{
        {"'AIFF'", plist::Value(plist::Dictionary{{"canBeWritten", plist::Value(true)}})},
        {"'DMP3'", plist::Value(plist::Dictionary{{"canBeWritten", plist::Value(false)}})},
        {"'BWLN'", plist::Value(plist::Dictionary{{"text", plist::Value("no flag")}})},
    };
    ConvSpec s;
    s.setOutputFileType(FourCC("DMP3"));
    EXPECT_TRUE(s.validateSettings(table));  // not strict: any type
    s.setNeedsStrictFileType(true);
    EXPECT_FALSE(s.validateSettings(table));
    EXPECT_FALSE(s.valid());
    s.setOutputFileType(FourCC("AIFF"));
    EXPECT_TRUE(s.validateSettings(table));
    s.setOutputFileType(FourCC("BWLN"));  // row without the key
    EXPECT_FALSE(s.validateSettings(table));
    s.setOutputFileType(FourCC("none"));  // no row
    EXPECT_FALSE(s.validateSettings(table));

    // The real table of the resource folder.
    s.setOutputFileType(FourCC("AIFF"));
    EXPECT_TRUE(s.validateSettings());
    s.setOutputFileType(FourCC("Snip"));
    EXPECT_FALSE(s.validateSettings());

    // Decoding validates; `valid` is recomputed, not restored.
    plist::Dictionary d = s.dictionary();
    d[XWCSOutputFileType] = plist::Value(static_cast<int>(FourCC("DMP3")));
    EXPECT_FALSE(ConvSpec(d, &table).valid());
    d[XWCSNeedsStrictFileType] = plist::Value(false);
    EXPECT_TRUE(ConvSpec(d, &table).valid());
}

TEST(ConvSpec, DictionaryFormRoundTripsEveryPersistedField) {
    const ConvSpec s = Unusual();
    const plist::Dictionary d = s.dictionary();
    EXPECT_EQ(d.size(), 43u);
    EXPECT_EQ(d.count("valid"), 0u);
    EXPECT_EQ(d.at(XWCSActive).type(), plist::Value::Type::Boolean);
    EXPECT_EQ(d.at(XWCSWordLength).type(), plist::Value::Type::Integer);
    EXPECT_EQ(d.at(XWCSOutputFileType).asInteger(), 0x57415645);
    EXPECT_EQ(d.at(XWCSFadeInTime).type(), plist::Value::Type::Real);
    EXPECT_EQ(d.at(XWCSNameExtension).asString(), "wav");
    EXPECT_EQ(d.at(XWCSSpecifics).find("AnnotationText")->asString(), "take 1");

    const ConvSpec back(d);
    EXPECT_EQ(back.dictionary(), d);
    EXPECT_EQ(back.fadeInTime(), 0.1f);
    EXPECT_EQ(back.fileTypeSpecifics()[255], 9);

    // Through both file forms of the property list.
    for (plist::Format format : {plist::Format::Xml, plist::Format::Binary}) {
        const plist::Value parsed = plist::Parse(plist::Serialize(plist::Value(d), format));
        ASSERT_TRUE(parsed.dict());
        EXPECT_EQ(ConvSpec(*parsed.dict()).dictionary(), d);
    }

    // A type code with the top bit set is persisted as a negative 32-bit number.
    ConvSpec high;
    high.setOutputFileType(0xB5615720u);
    plist::Dictionary hd = high.dictionary();
    EXPECT_EQ(hd.at(XWCSOutputFileType).asInteger(), static_cast<int32_t>(0xB5615720u));
    EXPECT_EQ(ConvSpec(hd).outputFileType(), 0xB5615720u);

    // In-memory integers wider than 32 bits persist their low 32 bits.
    ConvSpec wide;
    wide.setWordLength(0x100000010LL);
    EXPECT_EQ(wide.dictionary().at(XWCSWordLength).asInteger(), 16);
}

TEST(ConvSpec, KeyedArchiveHoldsTheDictionaryFormAndRoundTripsIt) {
    const ConvSpec s = Unusual();
    plist::KeyedArchiver coder;
    s.encodeWithCoder(coder);
    // The same keys with the same kinds of values as the dictionary form.
    EXPECT_EQ(*coder.archive().find("Values")->dict(), s.dictionary());

    // Decoding validates anew: the table says the strict type cannot be written.
    const plist::Dictionary table{
        {"'WAVE'", plist::Value(plist::Dictionary{{"canBeWritten", plist::Value(false)}})}};
    for (plist::Format format : {plist::Format::Xml, plist::Format::Binary}) {
        const auto decoder = plist::KeyedUnarchiver::FromData(coder.archivedData(format));
        ASSERT_TRUE(decoder.has_value());
        const std::shared_ptr<ConvSpec> back = ConvSpec::initWithCoder(*decoder, &table);
        EXPECT_EQ(back->dictionary(), s.dictionary());
        EXPECT_FALSE(back->valid());
        back->fileTypeSpecifics()[0] = 1;  // the block is the record's own
        EXPECT_EQ(s.fileTypeSpecifics()[0], 7);
    }

    // An archive of a name alone, with a wrongly typed flag, reads as the
    // dictionary form does: zeros, the cleaned name, the factory specifics.
    plist::KeyedArchiver sparse;
    sparse.encodeObject(plist::Value("a/b"), XWCSName);
    sparse.encodeObject(plist::Value("YES"), XWCSActive);
    const auto decoder = plist::KeyedUnarchiver::FromArchive(sparse.archive());
    ASSERT_TRUE(decoder.has_value());
    const std::shared_ptr<ConvSpec> back = ConvSpec::initWithCoder(*decoder);
    EXPECT_EQ(back->conversionName(), "a-b");
    EXPECT_FALSE(back->active());
    EXPECT_EQ(back->sampleRate(), 0.0);
    EXPECT_EQ(back->outputFileType(), 0u);
    EXPECT_TRUE(back->valid());
    EXPECT_EQ(*back->specifics().at(kOldDataKey).data(), Zeros());
}

TEST(ConvSpec, CopiesAreDeep) {
    ConvSpec source = Unusual();
    source.setValid(false);
    std::shared_ptr<ConvSpec> copy = source.copy();
    EXPECT_EQ(copy->dictionary(), source.dictionary());
    EXPECT_FALSE(copy->valid());
    copy->fileTypeSpecifics()[0] = 99;
    copy->setSpecificsValue("AnnotationText", plist::Value("changed"));
    EXPECT_EQ(source.fileTypeSpecifics()[0], 7);
    EXPECT_EQ(source.specificsValue("AnnotationText").asString(), "take 1");
    ConvSpec assigned;
    assigned = source;
    EXPECT_EQ(assigned.dictionary(), source.dictionary());
    EXPECT_NE(assigned.fileTypeSpecifics().data(), source.fileTypeSpecifics().data());
}

class ConvSpecOrdering : public ::testing::Test {
protected:
    void TearDown() override {
        ConvSpec::setSortKey("convName");
        ConvSpec::setAscendingSort(true);
    }
};

TEST_F(ConvSpecOrdering, SortsByTheClassWideKeyAndDirection) {
    ConvSpec alpha, beta, alphaUpper;
    alpha.setConversionName("alpha \xC3\xA9");
    alphaUpper.setConversionName("ALPHA \xC3\x89");
    beta.setConversionName("Beta");
    EXPECT_EQ(alpha.compare(beta), std::weak_ordering::less);
    EXPECT_EQ(alpha.compare(alphaUpper), std::weak_ordering::equivalent);
    ConvSpec::setAscendingSort(false);
    EXPECT_EQ(alpha.compare(beta), std::weak_ordering::greater);

    ConvSpec::setAscendingSort(true);
    ConvSpec::setSortKey("active");
    alpha.setActive(false);
    EXPECT_EQ(alpha.compare(beta), std::weak_ordering::less);  // NO before YES

    ConvSpec::setSortKey("comment");
    alpha.setComment("zz");
    beta.setComment("A");
    EXPECT_EQ(alpha.compare(beta), std::weak_ordering::greater);

    ConvSpec::setSortKey("somethingElse");
    EXPECT_EQ(alpha.compare(beta), std::weak_ordering::equivalent);
}

// The conversion thread writes the record a batch runs, through its facade,
// while the main thread saves the list: the record's lock keeps both sides
// whole, the per-type block written in place included.
TEST(ConvSpec, ConcurrentWritesAndSavesAreGuarded) {
    auto spec = std::make_shared<ConvSpec>(Unusual());
    spec->setFileTypeSpecifics(Zeros().data());
    std::atomic<bool> stop{false};
    std::atomic<bool> started{false};
    std::thread writer([&] {
        CConvSpec facade(spec);
        for (int i = 0; !stop.load(); ++i) {
            started = true;
            facade.SetMax(i * 0.001);
            facade.SetHasValidMax(i % 2 == 0);
            facade.SetCopyExtras(i % 3 == 0);
            std::memset(facade.GetFiletypeSpecifics().data(), i & 0xFF, kFileTypeSpecificsSize);
            spec->setSpecificsValue("id3tags",
                                    plist::Value(plist::Dictionary{
                                        {"title", plist::Value(std::string(i % 64, 't'))}}));
            spec->setComment(std::string(i % 50, 'c'));
        }
    });
    while (!started.load()) std::this_thread::yield();
    for (int i = 0; i < 2000 && !HasFailure(); ++i) {
        const plist::Dictionary d = spec->dictionary();
        EXPECT_EQ(d.size(), 43u);
        const plist::Dictionary& specifics = *d.at(XWCSSpecifics).dict();
        const plist::Bytes& block = *specifics.at(kOldDataKey).data();
        EXPECT_EQ(block, plist::Bytes(kFileTypeSpecificsSize, block[0]));
        if (auto tags = specifics.find("id3tags"); tags != specifics.end()) {
            const std::string title = tags->second.find("title")->asString();
            EXPECT_EQ(title, std::string(title.size(), 't'));
        }
    }
    stop = true;
    writer.join();
}

TEST(ConvSpecList, LoadsTheFactoryConversionsWhenTheDefaultIsMissingOrEmpty) {
    const auto factory = LoadConvSpecs(nullptr);
    ASSERT_EQ(factory.size(), 3u);
    EXPECT_EQ(factory[0]->conversionName(), "AIFF 16 bit");
    EXPECT_EQ(factory[0]->outputFileType(), FourCC("AIFF"));
    EXPECT_EQ(factory[1]->outputFileType(), FourCC("WAVE"));
    EXPECT_EQ(factory[1]->sampleRate(), 44100.0);
    EXPECT_EQ(factory[2]->outputFileType(), FourCC("BWLN"));
    EXPECT_EQ(factory[2]->wordLength(), 24);
    const plist::Dictionary& table = CSoundFile::GetFileTypeInfo();
    for (const auto& spec : factory) {
        EXPECT_TRUE(spec->needsStrictFileType());
        EXPECT_EQ(spec->dictionary().size(), 43u);
        const auto row = table.find(HFSTypeString(spec->outputFileType()));
        const bool writable = row != table.end() && row->second.find("canBeWritten") &&
                              row->second.find("canBeWritten")->asBool();
        EXPECT_EQ(spec->valid(), writable) << spec->conversionName();
    }
    EXPECT_TRUE(factory[0]->valid());

    const plist::Value empty{plist::Array{}};
    EXPECT_EQ(LoadConvSpecs(&empty).size(), 3u);
    const plist::Value notAnArray("Conversions");
    EXPECT_EQ(LoadConvSpecs(&notAnArray).size(), 3u);

    // A stored list is used as it is; entries that are no dictionary are skipped.
    ConvSpec mine;
    mine.setConversionName("mine");
    const plist::Value stored{plist::Array{plist::Value(mine.dictionary()), plist::Value(4)}};
    const auto loaded = LoadConvSpecs(&stored);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0]->conversionName(), "mine");
}

// A conversion saved into the user-defaults file is read by another tool, and
// what that tool writes back loads into the same conversion.
TEST(ConvSpecList, SurvivesTheUserDefaultsFileReadByAnotherTool) {
    if (!testsupport::HaveProgram("python3")) GTEST_SKIP() << "python3 not available";
    TempDir dir;
    const std::vector<std::shared_ptr<ConvSpec>> list{std::make_shared<ConvSpec>(Unusual()),
                                                      std::make_shared<ConvSpec>()};
    const plist::Dictionary defaults{{kConversionsDefaultsKey, EncodeConvSpecs(list)}};
    ASSERT_TRUE(plist::WriteFile(plist::Value(defaults), dir / "xml.plist", plist::Format::Xml));
    ASSERT_TRUE(
        plist::WriteFile(plist::Value(defaults), dir / "bin.plist", plist::Format::Binary));

    const std::string script = dir / "check.py";
    testsupport::WriteFile(
        script,
        "import plistlib, sys\n"
        "for name, back in (('xml', plistlib.FMT_BINARY), ('bin', plistlib.FMT_XML)):\n"
        "    path = sys.argv[1] + '/' + name + '.plist'\n"
        "    with open(path, 'rb') as f:\n"
        "        d = plistlib.load(f)\n"
        "    c = d['Conversions'][0]\n"
        "    assert len(d['Conversions']) == 2\n"
        "    assert len(c) == 43, len(c)\n"
        "    assert c['XWCSName'] == 'Mix \\u00e9', c['XWCSName']\n"
        "    assert c['XWCSActive'] is False and c['XWCSNeedsGain'] is True\n"
        "    assert type(c['XWCSWordLength']) is int and c['XWCSWordLength'] == 24\n"
        "    assert c['XWCSOutputFileType'] == 0x57415645\n"
        "    assert type(c['XWCSSampleRate']) is float and c['XWCSSampleRate'] == 22050.5\n"
        "    assert c['XWCSGateGapLength'] == 0.3 and c['XWCSMax'] == 0.123456789\n"
        "    assert c['XWCSNameExtension'] == 'wav'\n"
        "    block = c['XWCSSpecifics']['oldData']\n"
        "    assert type(block) is bytes and len(block) == 256\n"
        "    assert block[0] == 7 and block[255] == 9\n"
        "    assert c['XWCSSpecifics']['AnnotationText'] == 'take 1'\n"
        "    with open(path + '.back', 'wb') as f:\n"
        "        plistlib.dump(d, f, fmt=back)\n");
    ASSERT_EQ(std::system(("python3 " + script + " " + dir.path()).c_str()), 0);

    for (const char* name : {"xml.plist.back", "bin.plist.back"}) {
        const plist::Value read = plist::ReadFile(dir / name);
        ASSERT_TRUE(read.isDictionary()) << name;
        const auto loaded = LoadConvSpecs(read.find(kConversionsDefaultsKey));
        ASSERT_EQ(loaded.size(), 2u) << name;
        for (size_t i = 0; i < 2; ++i)
            EXPECT_EQ(loaded[i]->dictionary(), list[i]->dictionary()) << name << " " << i;
    }
}

}  // namespace
