// G.711 companding checked against an independent codec (spandsp) over every
// 16-bit input and every code, and the delivered A-law table against the rule.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "formats/g711.h"
#include "platform/resource_dir.h"
#include "test_support.h"

extern "C" {
#include <spandsp/telephony.h>
#include <spandsp/bit_operations.h>
#include <spandsp/g711.h>
}

namespace {

TEST(G711, ALawEncodesEverySampleAsThePeer) {
    ASSERT_TRUE(g711::ALawTableFromResource()) << "raw_alaw_table not found in the resources";
    int mismatches = 0;
    for (int s = -32768; s <= 32767; ++s) {
        const auto sample = static_cast<int16_t>(s);
        const uint8_t peer = linear_to_alaw(s);
        if (to_alaw(sample) != peer || g711::ALawCodeFromRule(sample) != peer) {
            if (++mismatches < 10)
                ADD_FAILURE() << "sample " << s << ": table " << int(to_alaw(sample)) << ", rule "
                              << int(g711::ALawCodeFromRule(sample)) << ", peer " << int(peer);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(G711, MuLawEncodesEverySampleAsThePeer) {
    int mismatches = 0;
    for (int s = -32768; s <= 32767; ++s) {
        const uint8_t peer = linear_to_ulaw(s);
        if (to_mulaw(static_cast<int16_t>(s)) != peer && ++mismatches < 10)
            ADD_FAILURE() << "sample " << s << ": ours " << int(to_mulaw(static_cast<int16_t>(s)))
                          << ", peer " << int(peer);
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(G711, EveryCodeExpandsAsThePeer) {
    for (int code = 0; code < 256; ++code) {
        const auto c = static_cast<uint8_t>(code);
        EXPECT_EQ(from_alaw(c), alaw_to_linear(c)) << "A-law code " << code;
        EXPECT_EQ(mulaw[c], ulaw_to_linear(c)) << "mu-law code " << code;
    }
}

TEST(G711, KnownValues) {
    EXPECT_EQ(to_mulaw(0), 0xFF);
    EXPECT_EQ(to_mulaw(-1), 0x7F);
    EXPECT_EQ(to_mulaw(32767), 0x80);
    EXPECT_EQ(to_mulaw(-32768), 0x00);
    EXPECT_EQ(from_alaw(0xD5), 8);
    EXPECT_EQ(from_alaw(0x55), -8);
    EXPECT_EQ(from_alaw(0xAA), 32256);
    EXPECT_EQ(mulaw[0xFF], 0);
    EXPECT_EQ(mulaw[0x7F], 0);
    EXPECT_EQ(mulaw[0x80], 32124);
    EXPECT_EQ(mulaw[0x00], -32124);
}

TEST(G711, MuLawRoundTripsEveryCodeButNegativeZero) {
    for (int code = 0; code < 256; ++code) {
        const uint8_t back = to_mulaw(mulaw[code]);
        EXPECT_EQ(back, code == 0x7F ? 0xFF : code) << "code " << code;
    }
}

TEST(G711, DeliveredTableIsTheRuleByteForByte) {
    const std::string bytes = testsupport::ReadFile(platform::ResourcePath("raw_alaw_table"));
    ASSERT_EQ(bytes.size(), 65536u);
    for (int i = 0; i < 65536; ++i)
        ASSERT_EQ(static_cast<uint8_t>(bytes[i]),
                  g711::ALawCodeFromRule(static_cast<int16_t>(i - 32768)))
            << "byte " << i;
}

TEST(G711, MissingTableIsComputedFromTheRule) {
    // A fresh process, so that the table is loaded there for the first time.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testsupport::TempDir empty;
    EXPECT_EXIT(
        {
            ::setenv("CORVANE_RESOURCE_DIR", empty.path().c_str(), 1);
            bool ok = !g711::ALawTableFromResource();
            for (int s = -32768; s <= 32767; ++s)
                ok = ok && to_alaw(static_cast<int16_t>(s)) == linear_to_alaw(s);
            std::_Exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "A-law table .* is missing");
}

}  // namespace
