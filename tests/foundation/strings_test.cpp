#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "foundation/dbresult.h"
#include "foundation/errors.h"
#include "foundation/pcre_wrappers.h"
#include "foundation/string_utils.h"
#include "test_support.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

typedef std::vector<std::string> Strings;

// ---- string and path functions ----

TEST(StringUtils, SplitJoinAndPathParts) {
    EXPECT_EQ(split("a,,b,", ","), (Strings{"a", "", "b", ""}));
    EXPECT_EQ(split("abc", ","), (Strings{"abc"}));
    EXPECT_EQ(split("", ","), (Strings{""}));
    // Multi-character delimiter, searched left to right without overlap.
    EXPECT_EQ(split("x||||y", "||"), (Strings{"x", "", "y"}));
    EXPECT_EQ(split("x|||y", "||"), (Strings{"x", "|y"}));
    // An empty delimiter must not loop.
    EXPECT_EQ(split("abc", ""), (Strings{"abc"}));

    EXPECT_EQ(join(split("a,,b,", ","), ","), "a,,b,");
    EXPECT_EQ(join({}, "/"), "");
    EXPECT_EQ(join({"one"}, "/"), "one");

    EXPECT_EQ(filename("/a/b/c.wav"), "c.wav");
    EXPECT_EQ(filename("c.wav"), "c.wav");
    EXPECT_EQ(filename("/a/b/"), "");
    EXPECT_EQ(parent("/a/b/c.wav"), "/a/b");
    EXPECT_EQ(parent("/c.wav"), "");
    EXPECT_EQ(parent("c.wav"), "c.wav");
    // The last dot of the whole path, even inside a folder name.
    EXPECT_EQ(extension("dir.x/file"), "x/file");
    EXPECT_EQ(extension("/a/take.aif"), "aif");
    EXPECT_EQ(extension("/a/noext"), "");
    // std::string arguments: a literal would pick the C library's basename.
    EXPECT_EQ(basename(std::string("/p/q.tar.gz")), "q.tar");
    EXPECT_EQ(basename(std::string("/p.d/q")), "q");
    EXPECT_EQ(basename(std::string(".hidden")), "");
}

TEST(StringUtils, FileExistsAndSize) {
    TempDir dir;
    WriteFile(dir / "five", "12345");
    EXPECT_TRUE(file_exists(dir / "five"));
    EXPECT_TRUE(file_exists(dir.path()));
    EXPECT_FALSE(file_exists(dir / "missing"));
    EXPECT_EQ(file_size(dir / "five"), 5u);

    error_code_exception_log_changer quiet(false);
    try {
        file_size(dir / "missing");
        FAIL() << "no exception";
    } catch (const error_code_exception& e) {
        EXPECT_EQ(e.error_code(), ENOENT);
    }
    // Only a missing entry is "not there"; a file used as a folder (ENOTDIR) or a
    // name too long to examine count as existing.
    EXPECT_TRUE(file_exists(dir / "five/inside"));
    EXPECT_TRUE(file_exists(dir / std::string(5000, 'n')));
}

TEST(StringUtils, FourCharacterCodes) {
    EXPECT_EQ(ostype_to_int("AIFF"), 0x41494646u);
    EXPECT_EQ(int_to_ostype(0x57415645u), "WAVE");
    EXPECT_EQ(ostype_to_int("WAVEfmt "), 0x57415645u);
    // High-bit characters keep their byte in place, and the code reads back.
    std::string high = "\xA9" "a\xFFz";
    unsigned int code = ostype_to_int(high);
    EXPECT_EQ(code, 0xA961FF7Au);
    EXPECT_EQ(int_to_ostype(code), high);
    // Zero bytes are characters too.
    EXPECT_EQ(int_to_ostype(0x00000041u), std::string("\0\0\0A", 4));
    // A short code is padded with blanks.
    EXPECT_EQ(ostype_to_int("AU"), 0x41552020u);
    EXPECT_EQ(ostype_to_int(""), 0x20202020u);
    EXPECT_EQ(ostype_to_int("au"), ostype_to_int("au  "));
}

TEST(StringUtils, MacRomanTextAndResourcePaths) {
    // 0x8E is e-acute, 0xA5 the bullet.
    const char bytes[] = "Caf\x8E \xA5 x";
    EXPECT_EQ(string_from_mac_encoded_text(bytes, sizeof bytes - 1), "Caf\xC3\xA9 \xE2\x80\xA2 x");
    EXPECT_EQ(string_from_mac_encoded_text(nullptr, 4), "");
    EXPECT_EQ(string_from_mac_encoded_text("ab\0c", 4), std::string("ab\0c", 4));

    EXPECT_EQ(mac_encoded_string_from_utf8_encoded_string("Caf\xC3\xA9 \xE2\x80\xA2 ?"),
              "Caf\x8E \xA5 ?");
    // A character outside Mac Roman (a CJK ideograph) and malformed UTF-8 give nothing.
    EXPECT_EQ(mac_encoded_string_from_utf8_encoded_string("a\xE4\xB8\x80"), "");
    EXPECT_EQ(mac_encoded_string_from_utf8_encoded_string("a\xC3"), "");
    EXPECT_EQ(mac_encoded_string_from_utf8_encoded_string("\xC0\xAF"), "");
    EXPECT_EQ(mac_encoded_string_from_utf8_encoded_string("\xED\xA0\x80"), "");
    EXPECT_EQ(mac_encoded_string_from_utf8_encoded_string("\xE9"), "");

    // The build copies the resource tree; CORVANE_RESOURCE_DIR points at it.
    std::string p = path_to_resource_of_type("SystemErrors", "h");
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(filename(p), "SystemErrors.h");
    EXPECT_TRUE(file_exists(p));
    EXPECT_EQ(path_to_resource_of_type("SystemErrors.h", ""), p);
    EXPECT_EQ(path_to_resource_of_type("no-such-resource", "qfdb"), "");
    EXPECT_EQ(path_to_resource_of_type("", "qfdb"), "");
}

TEST(StringUtils, EscapeAndCase) {
    EXPECT_EQ(escape_characters("a b'c", " '"), "a\\ b\\'c");
    EXPECT_EQ(escape_characters("a\\b", "\\"), "a\\\\b");
    EXPECT_EQ(escape_characters("abc", ""), "abc");
    EXPECT_EQ(lower_case("MiXeD 1.WAV \xC3\x89"), "mixed 1.wav \xC3\x89");
    EXPECT_EQ(upper_case("mixed 1.wav \xC3\xA9"), "MIXED 1.WAV \xC3\xA9");
}

// ---- regular expressions ----

TEST(PCREWrappers, CompileStudyAndMatch) {
    pcre* re = PCRECompile("\\.(L|R)$");
    ASSERT_NE(re, nullptr);
    pcre_extra* extra = PCREStudy(re);  // may be null
    if (extra) pcre_free_study(extra);
    pcre_free(re);

    int start = -1, end = -1;
    EXPECT_TRUE(PCREMatch("\\.\\d+$", "take.12", 0, &start, &end));
    EXPECT_EQ(start, 4);
    EXPECT_EQ(end, 7);
    // From a start offset; null result pointers are allowed.
    EXPECT_TRUE(PCREMatch("(?i)\\.l\\b", "drums.L", 5));
    EXPECT_FALSE(PCREMatch("\\.l\\b", "drums.L", 0));
    EXPECT_FALSE(PCREMatch("a", "xa", 2, &start, &end));
    // A start beyond the subject is a library error: false, not a crash.
    EXPECT_FALSE(PCREMatch("a", "a", 10, &start, &end));
    EXPECT_FALSE(PCREMatch("a", "a", -1, &start, &end));
    // Null arguments are no match and leave the results alone.
    start = 7;
    EXPECT_FALSE(PCREMatch("a", nullptr, 0, &start, nullptr));
    EXPECT_FALSE(PCREMatch(nullptr, "a", 0, &start, nullptr));
    EXPECT_EQ(start, 7);
}

TEST(PCREWrappers, BadPatternsThrowWithTheLibraryText) {
    error_code_exception_log_changer quiet(false);
    try {
        PCRECompile("ab(c");
        FAIL() << "no exception";
    } catch (const error_code_exception& e) {
        EXPECT_EQ(e.error_code(), static_cast<int>(kNullPointerCode));
        std::string what = e.what();
        EXPECT_NE(what.find("pcre compile error of pattern 'ab(c' at offset 4: "),
                  std::string::npos)
            << what;
        EXPECT_NE(what.find("missing )"), std::string::npos) << what;
    }
    EXPECT_THROW(PCREMatch("[z-a]", "abc", 0), error_code_exception);
    EXPECT_THROW(PCRECompile(nullptr), error_code_exception);
    try {
        PCREStudy(nullptr);
        FAIL() << "no exception";
    } catch (const error_code_exception& e) {
        EXPECT_EQ(e.error_code(), static_cast<int>(kNullPointerCode));
        EXPECT_NE(std::string(e.what()).find("pcre pattern study error: "), std::string::npos);
    }
}

TEST(PCREWrappers, PartialMatchAndGlobalReplaceThroughPcrecpp) {
    pcrecpp::RE indicator("(\\.\\w+)$");
    std::string found;
    EXPECT_TRUE(indicator.PartialMatch("mix.Ls", &found));
    EXPECT_EQ(found, ".Ls");
    EXPECT_FALSE(indicator.PartialMatch("mix", &found));

    std::string text = "a.b.c";
    EXPECT_EQ(pcrecpp::RE("\\.").GlobalReplace("\\\\.", &text), 2);
    EXPECT_EQ(text, "a\\.b\\.c");
}

// ---- the tab-separated table ----

dbresult Read(const std::string& text) {
    std::istringstream in(text);
    dbresult t;
    in >> t;
    return t;
}

TEST(DbResult, ParsingLinesAndFields) {
    dbresult t = Read("a\tb\n1\t2\n3\t4");
    EXPECT_EQ(t.attributes, (Strings{"a", "b"}));
    ASSERT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.records[0], (dbrecord{{"a", "1"}, {"b", "2"}}));

    // A first line without LF drops its last name and yields no records.
    dbresult h = Read("a\tb");
    EXPECT_EQ(h.attributes, (Strings{"a"}));
    EXPECT_TRUE(h.records.empty());
    EXPECT_TRUE(Read("").attributes.empty());

    // An empty line gives one record whose first attribute is empty.
    dbresult e = Read("a\tb\n\n");
    ASSERT_EQ(e.records.size(), 1u);
    EXPECT_EQ(e.records[0]["a"], "");

    // Extra fields are ignored; a CR stays in the last field; no quoting.
    dbresult f = Read("a\tb\n1\t2\t3\t4\n\"x\ty\r\n");
    ASSERT_EQ(f.records.size(), 2u);
    EXPECT_EQ(f.records[0], (dbrecord{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(f.records[1].at("a"), "\"x");
    EXPECT_EQ(f.records[1].at("b"), "y\r");

    // A short line does not inherit the previous line.
    dbresult s = Read("a\tb\tc\n1\t2\t3\n4\n");
    ASSERT_EQ(s.records.size(), 2u);
    EXPECT_EQ(s.records[1], (dbrecord{{"a", "4"}}));
    EXPECT_EQ(s.get_values_for_field("b"), (Strings{"2", ""}));
    // The short record sorts and matches as having empty values.
    EXPECT_EQ(s.find("c", "").records.size(), 1u);
    s.sort("c", true);
    EXPECT_EQ(s.records[0].at("a"), "4");

    // Reading again replaces the attributes and appends the records.
    dbresult r = Read("a\n1\n");
    std::istringstream more("x\ty\n5\t6\n");
    more >> r;
    EXPECT_EQ(r.attributes, (Strings{"x", "y"}));
    ASSERT_EQ(r.records.size(), 2u);
    EXPECT_EQ(r.records[1].at("y"), "6");
}

TEST(DbResult, FromFile) {
    TempDir dir;
    WriteFile(dir / "t.qfdb", "indicator\tname\n.L\tLeft\n.R\tRight\n");
    dbresult t((dir / "t.qfdb").c_str());
    EXPECT_EQ(t.get_values_for_field("name"), (Strings{"Left", "Right"}));
    dbresult missing((dir / "none.qfdb").c_str());
    EXPECT_TRUE(missing.attributes.empty());
    EXPECT_TRUE(missing.records.empty());
    dbresult copy(t);
    EXPECT_EQ(copy.records, t.records);
    EXPECT_EQ(copy.attributes, t.attributes);
}

TEST(DbResult, FindSortAndDistinct) {
    dbresult t = Read("k\tv\nb\t1\na\t2\nb\t3\na\t4\nc\t5\n");
    dbresult bs = t.find("k", "b");
    EXPECT_EQ(bs.attributes, t.attributes);
    EXPECT_EQ(bs.get_values_for_field("v"), (Strings{"1", "3"}));
    dbrecord r;
    EXPECT_TRUE(t.find("k", "a", r));
    EXPECT_EQ(r.at("v"), "2");
    EXPECT_FALSE(t.find("k", "zz", r));
    EXPECT_EQ(t.find("nofield", "").records.size(), 5u);

    // Stable in both directions.
    t.sort("k", true);
    EXPECT_EQ(t.get_values_for_field("v"), (Strings{"2", "4", "1", "3", "5"}));
    EXPECT_EQ(dbresult::cur_sort_key, "k");
    t.sort("k", false);
    EXPECT_EQ(t.get_values_for_field("v"), (Strings{"5", "1", "3", "2", "4"}));

    t.distinct("k");
    EXPECT_EQ(t.get_values_for_field("k"), (Strings{"a", "b", "c"}));
    // The first of each run after the stable ascending sort.
    EXPECT_EQ(t.get_values_for_field("v"), (Strings{"2", "1", "5"}));

    dbresult built;
    built.addatr("k");
    built.add({{"k", "z"}});
    EXPECT_EQ(built.attributes, (Strings{"k"}));
    EXPECT_EQ(built.records.size(), 1u);
}

}  // namespace
