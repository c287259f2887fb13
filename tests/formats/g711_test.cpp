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

TEST(G711, EncodesEverySampleAsThePeer) {
    ASSERT_TRUE(g711::ALawTableFromResource()) << "raw_alaw_table not found in the resources";
    int mismatches = 0;
    for (int s = -32768; s <= 32767; ++s) {
        const auto sample = static_cast<int16_t>(s);
        const uint8_t alaw = linear_to_alaw(s), ulaw = linear_to_ulaw(s);
        if ((to_alaw(sample) != alaw || g711::ALawCodeFromRule(sample) != alaw ||
             to_mulaw(sample) != ulaw) &&
            ++mismatches < 10)
            ADD_FAILURE() << "sample " << s << ": A-law table " << int(to_alaw(sample)) << ", rule "
                          << int(g711::ALawCodeFromRule(sample)) << ", peer " << int(alaw)
                          << "; mu-law ours " << int(to_mulaw(sample)) << ", peer " << int(ulaw);
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
            // The child leaves through _Exit, past the folder's destructor:
            // the folder it made for itself goes here.
            std::error_code ec;
            std::filesystem::remove_all(empty.path(), ec);
            std::_Exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "A-law table .* is missing");
}

}  // namespace
