#include "foundation/pstring.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <string>

namespace {

Str255* P(const std::string& s) {
    static thread_local Str255 slots[4];
    static thread_local int next = 0;
    Str255* p = &slots[next++ % 4];
    pstrcpy(s, *p);
    return p;
}

TEST(PascalStrings, CopyCutAndConcatenationStopsAt254) {
    Str255 d;
    pstrcpy(std::string(300, 'k'), d);
    EXPECT_EQ(d[0], 255);
    EXPECT_EQ(pstrBytes(d), std::string(255, 'k'));
    Str255 src;
    pstrcpy(std::string("hello"), src);
    char raw[256];
    pstrcpy(src, raw);
    EXPECT_EQ(raw[0], 5);
    EXPECT_EQ(std::memcmp(raw + 1, "hello", 5), 0);
    pstrncpy(src, d, 3);
    EXPECT_EQ(pstrBytes(d), "hel");
    // n beyond the source is clamped: no stale bytes.
    std::memset(d, 'Z', sizeof d);
    pstrncpy(src, d, 40);
    EXPECT_EQ(pstrBytes(d), "hello");
    pstrncpy(src, d, -3);
    EXPECT_EQ(d[0], 0);

    pstrcpy(std::string(200, 'a'), d);
    pstrcat(d, *P(std::string(100, 'b')));
    EXPECT_EQ(d[0], 254);
    pstrcpy(std::string(255, 'a'), d);
    pstrcat(d, *P("x"));
    EXPECT_EQ(d[0], 255);
    pstrcpy(std::string("ab"), d);
    pstrcat(d, *P("cd"));
    EXPECT_EQ(pstrBytes(d), "abcd");
}

TEST(PascalStrings, SearchAndCompare) {
    EXPECT_EQ(GetStringPos(*P("ab"), *P("xabab")), 2);
    EXPECT_EQ(GetStringPosBackwards(*P("ab"), *P("xabab")), 4);
    EXPECT_EQ(GetStringPos(*P(""), *P("xy")), 1);
    EXPECT_EQ(GetStringPosBackwards(*P(""), *P("xy")), 3);
    EXPECT_EQ(GetStringPos(*P("xyz"), *P("xy")), 0);
    EXPECT_EQ(GetStringPos(*P("q"), *P("xy")), 0);
    short pos = 0;
    EXPECT_TRUE(DoesPStr1ContainPStr2(*P("hello"), *P("ll"), &pos));
    EXPECT_EQ(pos, 3);
    EXPECT_TRUE(DoesPStr1ContainPStr2(*P("hello"), *P(""), &pos));
    EXPECT_EQ(pos, 1);
    EXPECT_FALSE(DoesPStr1ContainPStr2(*P("hi"), *P("hello"), &pos));
    EXPECT_EQ(pos, -1);
    EXPECT_EQ(pstrcmp(*P("same"), *P("same")), 1);
    EXPECT_EQ(pstrcmp(*P("same"), *P("sam")), 0);
}

std::string IconvMacintosh(unsigned char c) {
    iconv_t cd = iconv_open("UTF-8", "MACINTOSH");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    char in[1] = {static_cast<char>(c)};
    char out[8];
    char* ip = in;
    char* op = out;
    size_t il = 1, ol = sizeof out;
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) return {};
    return std::string(out, static_cast<size_t>(op - out));
}

// The system converter follows an older table at two places: 0xC6 (Greek capital
// delta instead of the increment sign) and 0xF0 (a private code instead of U+F8FF).
TEST(MacRoman, AgreesWithTheSystemConverterButForTwoCodes) {
    if (IconvMacintosh('A').empty()) GTEST_SKIP() << "no MACINTOSH charset in iconv";
    for (int c = 0x20; c < 0x100; ++c) {
        if (c == 0x7F) continue;
        std::string ours = MacRomanToUtf8(std::string(1, static_cast<char>(c)));
        if (c == 0xF0) {
            EXPECT_EQ(ours, "\xEF\xA3\xBF");  // U+F8FF in the published mapping
            continue;
        }
        if (c == 0xC6) {
            EXPECT_EQ(ours, "\xE2\x88\x86");  // U+2206
            EXPECT_EQ(Utf8ToMacRoman(IconvMacintosh(0xC6)), "\xC6");
            continue;
        }
        EXPECT_EQ(ours, IconvMacintosh(static_cast<unsigned char>(c))) << std::hex << c;
    }
}

TEST(MacRoman, RoundTripAndUnmappable) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    EXPECT_EQ(Utf8ToMacRoman(MacRomanToUtf8(all)), all);
    EXPECT_EQ(Utf8ToMacRoman("caf\xC3\xA9 \xE2\x82\xAC"), "caf\x8E \xDB");
    EXPECT_EQ(Utf8ToMacRoman("\xE4\xB8\xAD"), "?");             // no Mac Roman form
    EXPECT_EQ(Utf8ToMacRoman("a\xC3"), "a?");                   // truncated sequence
    Str255 p;
    pascalStringFromString("Gr\xC3\xBC\xC3\x9F" "e", p);
    EXPECT_EQ(p[0], 5);
    EXPECT_EQ(stringFromPascalString(p), "Gr\xC3\xBC\xC3\x9F" "e");
}

}  // namespace
