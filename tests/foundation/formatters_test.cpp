#include "foundation/formatters.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

#include "foundation/byte_swapper.h"
#include "test_support.h"

using testsupport::TempDir;

namespace {

TEST(ByteFormatter, UnitSteps) {
    ByteFormatter f;
    EXPECT_EQ(f.stringForObjectValue(0), "0 B");
    EXPECT_EQ(f.stringForObjectValue(1023), "1023 B");
    EXPECT_EQ(f.stringForObjectValue(1024), "1.00 kB");
    EXPECT_EQ(f.stringForObjectValue(1572864), "1.50 MB");
    EXPECT_EQ(f.stringForObjectValue(1073741824), "1.00 GB");
    EXPECT_EQ(f.stringForObjectValue(UINT64_MAX), "17179869184.00 GB");
    // The integer picks the unit, the double gives the figure.
    EXPECT_EQ(f.stringForObjectValue(2047, 2047.9), "2.00 kB");
}

TEST(ByteFormatter, ReadsSizesBack) {
    ByteFormatter f;
    uint64_t v = 99;
    // An unknown unit has the factor 1 and is truncated.
    for (auto [text, point, size] : {std::tuple{"", "", 0u},
                                     {"1.50 MB", "", 1572864u},
                                     {"2,5 kB", ",", 2560u},
                                     {"1 GB", "", 1073741824u},
                                     {"1.7 xB", "", 1u}}) {
        EXPECT_TRUE(f.getObjectValue(text, &v, point)) << text;
        EXPECT_EQ(v, size) << text;
    }

    v = 7;
    // "512 B" has no unit text before the "B".
    for (const char* text : {"512 B", "MB", "-3 kB", "1e30 GB", "nan kB"})
        EXPECT_FALSE(f.getObjectValue(text, &v)) << text;
    EXPECT_EQ(v, 7u);
}

TEST(ByteFormatter, IgnoresTheProcessLocale) {
    // The interface switches the C library to the user's locale; texts must not follow.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = old ? old : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no German locale";
    ByteFormatter f;
    std::string text = f.stringForObjectValue(1536);
    uint64_t v = 0;
    bool ok = f.getObjectValue("1.5 kB", &v);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(text, "1.50 kB");
    EXPECT_TRUE(ok);
    EXPECT_EQ(v, 1536u);
}

TEST(TimeFormatter, WithHours) {
    TimeFormatter f;
    // Seconds that show as 60.000 carry into the minute and the hour.
    for (auto [seconds, text] : {std::pair{0.0, "00:00:00.000"},
                                 {3725.5, "01:02:05.500"},
                                 {59.9996, "00:01:00.000"},
                                 {3599.9999, "01:00:00.000"}})
        EXPECT_EQ(f.stringForObjectValue(seconds), text) << seconds;
    for (double bad : {std::numeric_limits<double>::infinity(), std::nan(""), 1e300})
        EXPECT_FALSE(f.stringForObjectValue(bad)) << bad;
}

TEST(TimeFormatter, WithoutHours) {
    TimeFormatter f;
    f.setNoHours(true);
    for (auto [seconds, text] :
         {std::pair{59.6, "1:00"}, {59.4, "0:59"}, {125.0, "2:05"}, {7200.0, "120:00"}})
        EXPECT_EQ(f.stringForObjectValue(seconds), text) << seconds;
    f.setPrecision(2);
    // Rounded at two decimals first: no early carry into the minute.
    EXPECT_EQ(f.stringForObjectValue(59.6), "0:59.60");
    EXPECT_EQ(f.stringForObjectValue(59.996), "1:00.00");
    EXPECT_EQ(f.stringForObjectValue(5.25), "0:05.25");
    f.setPrecision(1000000);
    EXPECT_EQ(f.stringForObjectValue(1.5), "0:01.500000000");
    f.setPrecision(-4);
    EXPECT_EQ(f.stringForObjectValue(61), "1:01");
}

TEST(TimeFormatter, ReadsTimesBack) {
    TimeFormatter f;
    double v = -1;
    std::string error;
    EXPECT_TRUE(f.getObjectValue("", &v, &error));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(f.getObjectValue("01:02:05.5", &v, &error));
    EXPECT_DOUBLE_EQ(v, 3725.5);
    EXPECT_FALSE(f.getObjectValue("12", &v, &error));
    EXPECT_EQ(error, "invalid time format");
    error.clear();
    EXPECT_FALSE(f.getObjectValue("2:05", &v, &error));  // the seconds part is missing
    EXPECT_EQ(error, "invalid time format");
    EXPECT_FALSE(f.getObjectValue("1:2:x", &v, nullptr));
    EXPECT_FALSE(f.getObjectValue("99999999999:00:00", &v, nullptr));

    f.setNoHours(true);
    EXPECT_TRUE(f.getObjectValue("2:05", &v, &error));
    EXPECT_DOUBLE_EQ(v, 125);
    EXPECT_TRUE(f.getObjectValue(" 0:59.60", &v, &error));
    EXPECT_DOUBLE_EQ(v, 59.6);
    EXPECT_FALSE(f.getObjectValue("12", &v, &error));
}

TEST(ByteSwapper, SwapsPairsKeepsAnOddLastByteInPlaceAndOverExistingOutput) {
    TempDir dir;
    testsupport::WriteFile(dir / "even", std::string("\x01\x02\x03\x04", 4));
    ByteSwapper even(dir / "even", dir / "even.out");
    ASSERT_TRUE(even.swapBytes());
    EXPECT_EQ(testsupport::ReadFile(dir / "even.out"), std::string("\x02\x01\x04\x03", 4));

    testsupport::WriteFile(dir / "odd", std::string("\x01\x02\x03", 3));
    ByteSwapper odd(dir / "odd", dir / "odd.out");
    ASSERT_TRUE(odd.swapBytes());
    EXPECT_EQ(testsupport::ReadFile(dir / "odd.out"), std::string("\x02\x01\x03", 3));

    testsupport::WriteFile(dir / "empty", "");
    ByteSwapper empty(dir / "empty", dir / "empty.out");
    EXPECT_TRUE(empty.swapBytes());
    EXPECT_EQ(testsupport::ReadFile(dir / "empty.out"), "");

    // Longer than one block and odd, so blocks and the odd tail both matter.
    std::string data;
    for (int i = 0; i < 200001; ++i) data += static_cast<char>(i * 7);
    std::string swapped = data;
    for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);

    testsupport::WriteFile(dir / "pcm", data);
    ByteSwapper inPlace(dir / "pcm", dir / "pcm");
    ASSERT_TRUE(inPlace.swapBytes());
    EXPECT_EQ(testsupport::ReadFile(dir / "pcm"), swapped);

    testsupport::WriteFile(dir / "target", "old contents");
    ByteSwapper over(dir / "pcm", dir / "target");
    ASSERT_TRUE(over.swapBytes());
    EXPECT_EQ(testsupport::ReadFile(dir / "target"), data);
}

TEST(ByteSwapper, FailuresAreReportedAndLeaveNothingBehind) {
    TempDir dir;
    testsupport::WriteFile(dir / "in", "abcd");
    ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0777), 0);

    EXPECT_FALSE(ByteSwapper(dir / "missing", dir / "out").swapBytes());
    EXPECT_FALSE(ByteSwapper(dir / "folder", dir / "out").swapBytes());
    // The write cannot happen: the output's folder does not exist.
    EXPECT_FALSE(ByteSwapper(dir / "in", dir / "nowhere/out").swapBytes());
    // The output is a folder: nothing may replace it.
    EXPECT_FALSE(ByteSwapper(dir / "in", dir / "folder").swapBytes());
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));

    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 2u);  // "in" and "folder": no temporary file left over
}

}  // namespace
