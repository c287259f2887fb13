#include "platform/property_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "test_support.h"

using testsupport::TempDir;

namespace {

plist::Value Sample() {
    plist::Value v;
    v["text"] = "AIFF-C & <more> \xC3\xA4\xE2\x82\xAC";  // escaping and non-ASCII
    v["empty"] = "";
    v["negative"] = -128;
    v["big"] = 5000000000LL;
    v["real"] = 44100.5;
    v["yes"] = true;
    v["no"] = false;
    v["bytes"] = plist::Bytes{0, 1, 2, 0xFF, 0x80};
    v["when"] = plist::Date{700000000};
    v["list"] = plist::Array{plist::Value("a"), plist::Value(1), plist::Value(plist::Array{})};
    v["nested"]["inner"]["deep"] = "x";
    v["emptyDict"] = plist::Dictionary{};
    return v;
}

TEST(PropertyList, RoundTripsEveryTypeInXmlAndBinary) {
    const plist::Value original = Sample();
    for (plist::Format format : {plist::Format::Xml, plist::Format::Binary}) {
        std::string bytes = plist::Serialize(original, format);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(bytes.rfind(format == plist::Format::Binary ? "bplist00" : "<?xml", 0), 0u);
        plist::Value back = plist::Parse(bytes);
        EXPECT_EQ(back, original) << (format == plist::Format::Binary ? "binary" : "xml");
    }
    // Binary dates keep their fractions, XML dates whole seconds.
    plist::Value v(plist::Array{plist::Value(plist::Date{-86400.25})});
    plist::Value bin = plist::Parse(plist::Serialize(v, plist::Format::Binary));
    ASSERT_TRUE(bin.isArray());
    EXPECT_DOUBLE_EQ(bin.array()->at(0).date()->seconds, -86400.25);
    plist::Value xml = plist::Parse(plist::Serialize(v));
    ASSERT_TRUE(xml.isArray());
    EXPECT_NEAR(xml.array()->at(0).date()->seconds, -86400.25, 1.0);
}

TEST(PropertyList, FilesRoundTripAndUnreadableOrUnwritableFilesFail) {
    TempDir dir;
    const plist::Value original = Sample();
    ASSERT_TRUE(plist::WriteFile(original, dir / "a.plist"));
    ASSERT_TRUE(plist::WriteFile(original, dir / "b.plist", plist::Format::Binary));
    EXPECT_EQ(plist::ReadFile(dir / "a.plist"), original);
    EXPECT_EQ(plist::ReadFile(dir / "b.plist"), original);
    // Rewriting replaces the file.
    ASSERT_TRUE(plist::WriteFile(plist::Value(plist::Array{plist::Value(1)}), dir / "a.plist"));
    EXPECT_TRUE(plist::ReadFile(dir / "a.plist").isArray());

    EXPECT_TRUE(plist::ReadFile(dir / "missing.plist").isNull());
    EXPECT_TRUE(plist::ReadFile(dir.path()).isNull());  // a folder
    testsupport::WriteFile(dir / "empty", "");
    EXPECT_TRUE(plist::ReadFile(dir / "empty").isNull());
    testsupport::WriteFile(dir / "text", "just some text, no property list");
    EXPECT_TRUE(plist::ReadFile(dir / "text").isNull());

    // Values that cannot be written give nothing.
    plist::Value v;
    v["hole"] = plist::Value();
    EXPECT_TRUE(plist::Serialize(v).empty());
    EXPECT_TRUE(plist::Serialize(plist::Value(std::string("a\0b", 3))).empty());
    EXPECT_FALSE(plist::WriteFile(v, dir / "x.plist"));
    EXPECT_FALSE(plist::WriteFile(Sample(), dir / "no-such-folder/x.plist"));
}

TEST(PropertyList, DamagedInputParsesToNull) {
    EXPECT_TRUE(plist::Parse("").isNull());
    EXPECT_TRUE(plist::Parse("<?xml version=\"1.0\"?><plist><dict><key>a</key>").isNull());
    std::string binary = plist::Serialize(Sample(), plist::Format::Binary);
    for (size_t cut : {size_t(8), size_t(20), binary.size() / 2, binary.size() - 1}) {
        EXPECT_TRUE(plist::Parse(binary.substr(0, cut)).isNull()) << cut;
    }
    // A damaged trailer: offsets pointing far outside the data.
    std::string bad = binary;
    for (size_t i = bad.size() - 8; i < bad.size(); ++i) bad[i] = '\xFF';
    EXPECT_TRUE(plist::Parse(bad).isNull());
}

// A binary property list of the given objects (two-byte references, four-byte
// offsets), the first object on top.
std::string BinaryPlist(const std::vector<std::string>& objects) {
    std::string out = "bplist00";
    std::vector<uint32_t> offsets;
    for (const std::string& o : objects) {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        out += o;
    }
    const uint32_t table = static_cast<uint32_t>(out.size());
    auto be = [&out](uint64_t v, int n) {
        for (int i = n - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    for (uint32_t off : offsets) be(off, 4);
    out += std::string(6, '\0');
    out += '\x04';
    out += '\x02';
    be(objects.size(), 8);
    be(0, 8);
    be(table, 8);
    return out;
}

std::string Ref(int i) {
    return std::string{static_cast<char>((i >> 8) & 0xFF), static_cast<char>(i & 0xFF)};
}

TEST(PropertyList, HostileStructuresAreRefusedNotCrashing) {
    // Nesting far deeper than any real list, in both forms.
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 200000; ++i) xml += "<array>";
    for (int i = 0; i < 200000; ++i) xml += "</array>";
    xml += "</plist>";
    EXPECT_TRUE(plist::Parse(xml).isNull());
    std::vector<std::string> chain;
    for (int i = 1; i < 250; ++i) chain.push_back("\xA1" + Ref(i));
    chain.push_back("\x10\x05");
    EXPECT_TRUE(plist::Parse(BinaryPlist(chain)).isArray());  // deep, but acceptable
    // Shared objects count at every place they are used: a second chain of 100
    // that ends in the first chain's head makes a path of 350.
    std::vector<std::string> shared = chain;
    shared[0] = "\xA2" + Ref(1) + Ref(250);
    for (int i = 251; i < 350; ++i) shared.push_back("\xA1" + Ref(i));
    shared.push_back("\xA1" + Ref(1));
    EXPECT_TRUE(plist::Parse(BinaryPlist(shared)).isNull());
    // A cycle: an array that contains itself.
    EXPECT_TRUE(plist::Parse(BinaryPlist({"\xA1" + Ref(0)})).isNull());
    // Shared objects that would expand to 2^40 copies.
    std::vector<std::string> bomb;
    for (int i = 1; i <= 40; ++i) bomb.push_back("\xA2" + Ref(i) + Ref(i));
    bomb.push_back("\x10\x05");
    EXPECT_TRUE(plist::Parse(BinaryPlist(bomb)).isNull());
    // A reference past the last object.
    EXPECT_TRUE(plist::Parse(BinaryPlist({"\xA1" + Ref(9), "\x10\x01"})).isNull());
    // A dictionary key holding a zero character (UTF-16 and ASCII).
    EXPECT_TRUE(plist::Parse(BinaryPlist({"\xD1" + Ref(1) + Ref(2),
                                          std::string("\x62\x00\x41\x00\x00", 5), "\x09"}))
                    .isNull());
    EXPECT_TRUE(plist::Parse(BinaryPlist({"\xD1" + Ref(1) + Ref(2),
                                          std::string("\x52\x41\x00", 3), "\x09"}))
                    .isNull());
    // The same dictionary with a proper key reads.
    plist::Value good = plist::Parse(
        BinaryPlist({"\xD1" + Ref(1) + Ref(2), std::string("\x62\x00\x41\x00\x42", 5), "\x09"}));
    ASSERT_TRUE(good.isDictionary());
    EXPECT_TRUE(good.find("AB")->asBool());
}

TEST(PropertyList, ReadsWhatAnotherToolWrote) {
    if (!testsupport::HaveProgram("python3")) GTEST_SKIP() << "python3 not available";
    TempDir dir;
    const std::string script = dir / "make.py";
    testsupport::WriteFile(script,
                           "import plistlib, sys, datetime\n"
                           "d = {'text': 'WAVE \\u00e9', 'n': -3, 'r': 0.5, 'b': True,\n"
                           "     'data': b'\\x00\\x01\\xfe', 'list': ['wav', 'wave'],\n"
                           "     'date': datetime.datetime(2001, 1, 2, 0, 0, 10),\n"
                           "     'd': {'k': 7}}\n"
                           "for fmt, name in ((plistlib.FMT_XML, 'x'), (plistlib.FMT_BINARY, 'b')):\n"
                           "    with open(sys.argv[1] + '/' + name + '.plist', 'wb') as f:\n"
                           "        plistlib.dump(d, f, fmt=fmt)\n");
    ASSERT_EQ(std::system(("python3 " + script + " " + dir.path()).c_str()), 0);
    for (const char* name : {"x.plist", "b.plist"}) {
        plist::Value v = plist::ReadFile(dir / name);
        ASSERT_TRUE(v.isDictionary()) << name;
        EXPECT_EQ(v.find("text")->asString(), "WAVE \xC3\xA9");
        EXPECT_EQ(v.find("n")->asInteger(), -3);
        EXPECT_DOUBLE_EQ(v.find("r")->asReal(), 0.5);
        EXPECT_TRUE(v.find("b")->asBool());
        EXPECT_EQ(*v.find("data")->data(), (plist::Bytes{0, 1, 0xFE}));
        ASSERT_TRUE(v.find("list")->isArray());
        EXPECT_EQ(v.find("list")->array()->at(1).asString(), "wave");
        ASSERT_NE(v.find("date")->date(), nullptr);
        EXPECT_DOUBLE_EQ(v.find("date")->date()->seconds, 86410.0);
        EXPECT_EQ(v.find("d")->find("k")->asInteger(), 7);
    }
}

TEST(PropertyList, ConversionsAndAccess) {
    EXPECT_EQ(plist::Value(2.9).asInteger(), 2);
    EXPECT_EQ(plist::Value(-2.9).asInteger(), -2);
    EXPECT_EQ(plist::Value(1e300).asInteger(), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(plist::Value(-1e300).asInteger(), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(plist::Value(std::nan("")).asInteger(), 0);
    EXPECT_EQ(plist::Value(true).asInteger(), 1);
    EXPECT_EQ(plist::Value("12").asInteger(-1), -1);  // texts are not numbers
    EXPECT_EQ(plist::Value(7).asString("none"), "none");
    EXPECT_FALSE(plist::Value().asBool());
    EXPECT_TRUE(plist::Value(0.5).asBool());

    plist::Value v;
    EXPECT_EQ(v.find("a"), nullptr);
    v["a"] = 1;
    ASSERT_NE(v.find("a"), nullptr);
    EXPECT_EQ(v.find("b"), nullptr);
    plist::Value s("text");
    EXPECT_EQ(s.find("a"), nullptr);
    EXPECT_THROW(s["a"], std::logic_error);
}

}  // namespace
