#include "foundation/xwqf.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "foundation/pstring.h"
#include "test_support.h"

using testsupport::TempDir;

namespace {

struct OpenFile {
    int ref = XWQF::kNoFork;
    ~OpenFile() {
        if (ref != XWQF::kNoFork) XWQF::CloseFork(ref);
    }
};

TEST(FileLayer, ReadPastEndGivesPartialCountAndEOF) {
    TempDir dir;
    std::string path = dir / "data";
    testsupport::WriteFile(path, std::string(100, 'x'));
    FSRef ref;
    ASSERT_EQ(XWQF::MakeRef(path, &ref), 0);
    OpenFile f;
    ASSERT_EQ(XWQF::OpenFork(&ref, XWQF::kPermRead, &f.ref), 0);
    ASSERT_EQ(XWQF::SetPos(f.ref, XWQF::kFromStart, 60), 0);
    char buf[100];
    int count = 100;
    EXPECT_EQ(XWQF::Read(f.ref, &count, buf), kEOFErr);
    EXPECT_EQ(count, 40);
    int pos = 0;
    EXPECT_EQ(XWQF::GetPos(f.ref, &pos), 0);
    EXPECT_EQ(pos, 100);
    // A read-only fork refuses writes and reports nothing written.
    count = 4;
    EXPECT_NE(XWQF::Write(f.ref, &count, "abcd"), 0);
    EXPECT_EQ(count, 0);
}

TEST(FileLayer, PositionModesAppendAndTruncate) {
    TempDir dir;
    FSRef ref;
    ASSERT_EQ(XWQF::CreateFile(dir / "f", &ref), 0);
    OpenFile f;
    ASSERT_EQ(XWQF::OpenFork(&ref, XWQF::kPermWidest, &f.ref), 0);
    int count = 10;
    ASSERT_EQ(XWQF::Write(f.ref, &count, "0123456789"), 0);
    EXPECT_EQ(count, 10);
    ASSERT_EQ(XWQF::SetPos(f.ref, XWQF::kFromStart, 2), 0);
    ASSERT_EQ(XWQF::SetPos(f.ref, XWQF::kFromLEOF, 0), 0);
    count = 2;
    ASSERT_EQ(XWQF::Write(f.ref, &count, "ab"), 0);
    int size = 0;
    ASSERT_EQ(XWQF::GetEOF(f.ref, &size), 0);
    EXPECT_EQ(size, 12);
    ASSERT_EQ(XWQF::SetPos(f.ref, XWQF::kFromMark, -3), 0);
    int pos = 0;
    XWQF::GetPos(f.ref, &pos);
    EXPECT_EQ(pos, 9);
    EXPECT_EQ(XWQF::SetPos(f.ref, XWQF::kFromMark, -100), kPosErr);
    EXPECT_EQ(XWQF::SetPos(f.ref, 7, 0), kParamErr);
    // Positioning past the end stops at the end.
    EXPECT_EQ(XWQF::SetPos(f.ref, XWQF::kFromStart, 50), kEOFErr);
    XWQF::GetPos(f.ref, &pos);
    EXPECT_EQ(pos, 12);
    // Cutting the file below the position moves the position to the new end.
    ASSERT_EQ(XWQF::SetEOF(f.ref, 5), 0);
    XWQF::GetPos(f.ref, &pos);
    EXPECT_EQ(pos, 5);
    ASSERT_EQ(XWQF::SetEOF(f.ref, 8), 0);
    XWQF::GetEOF(f.ref, &size);
    EXPECT_EQ(size, 8);
    EXPECT_EQ(XWQF::SetEOF(f.ref, -1), kParamErr);
    XWQF::CloseFork(f.ref);
    f.ref = XWQF::kNoFork;
    EXPECT_EQ(testsupport::ReadFile(ref.path), std::string("01234\0\0\0", 8));
}

TEST(FileLayer, CreateAndDeleteStatuses) {
    TempDir dir;
    FSRef ref;
    std::string path = dir / "existing";
    testsupport::WriteFile(path, "keep");
    EXPECT_EQ(XWQF::CreateFile(path, &ref), kDupFNErr);
    EXPECT_EQ(testsupport::ReadFile(path), "keep");
    EXPECT_EQ(XWQF::CreateFile(dir / "missing/child", &ref), kFileNotFoundErr);
    EXPECT_EQ(XWQF::DeleteFile(dir / "nothing"), kFileNotFoundErr);
    EXPECT_TRUE(XWQF::FileExists(path));
    EXPECT_EQ(XWQF::DeleteFile(path), 0);
    EXPECT_FALSE(XWQF::FileExists(path));
    EXPECT_EQ(XWQF::MakeRef(path, &ref), kFileNotFoundErr);

    FSRef parent, folder;
    ASSERT_EQ(XWQF::MakeRef(dir.path(), &parent), 0);
    int id = 0;
    ASSERT_EQ(XWQF::CreateDirectory(&parent, "sub", &folder, &id), 0);
    EXPECT_GT(id, 0);
    EXPECT_EQ(XWQF::CreateDirectory(&parent, "sub", &folder, &id), kDupFNErr);
    int fork = XWQF::kNoFork;
    EXPECT_EQ(XWQF::OpenFork(&folder, XWQF::kPermRead, &fork), kNotAFileErr);
    EXPECT_EQ(fork, XWQF::kNoFork);
    // A pipe has no fork: opening it neither waits for a writer nor succeeds.
    const std::string pipe = dir / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    FSRef pipeRef{pipe};
    for (signed char permission : {XWQF::kPermRead, XWQF::kPermWidest})
        EXPECT_EQ(XWQF::OpenFork(&pipeRef, permission, &fork), kNotAFileErr);
    EXPECT_EQ(fork, XWQF::kNoFork);
}

TEST(FileLayer, LongNamesAreCutWithoutSplittingCharacters) {
    TempDir dir;
    FSRef ref;
    std::string ascii(300, 'a');
    ASSERT_EQ(XWQF::CreateFile(dir / ascii, &ref), 0);
    EXPECT_EQ(ref.path, dir / std::string(255, 'a'));
    EXPECT_TRUE(XWQF::FileExists(ref.path));

    // 127 two-byte characters end at byte 254: the 128th would straddle byte 255.
    std::string twoByte;
    for (int i = 0; i < 150; ++i) twoByte += "\xC3\xA9";
    std::string cut = XWQF::CutFileName(twoByte);
    EXPECT_EQ(cut.size(), 254u);
    EXPECT_EQ(cut, twoByte.substr(0, 254));
    EXPECT_EQ(XWQF::CutFileName("short"), "short");
}

TEST(FileLayer, FilesOfTwoGigabytesAreRefused) {
    TempDir dir;
    std::string path = dir / "big";
    testsupport::WriteFile(path, "");
    // A sparse file just at 2 GiB: nothing is written to disk.
    ASSERT_EQ(::truncate(path.c_str(), int64_t(1) << 31), 0);
    FSRef ref;
    ASSERT_EQ(XWQF::MakeRef(path, &ref), 0);
    int fork = XWQF::kNoFork;
    EXPECT_EQ(XWQF::OpenFork(&ref, XWQF::kPermRead, &fork), kFileBoundsErr);

    ASSERT_EQ(::truncate(path.c_str(), INT32_MAX - 2), 0);
    OpenFile f;
    ASSERT_EQ(XWQF::OpenFork(&ref, XWQF::kPermWidest, &f.ref), 0);
    int size = 0;
    EXPECT_EQ(XWQF::GetEOF(f.ref, &size), 0);
    EXPECT_EQ(size, INT32_MAX - 2);
    ASSERT_EQ(XWQF::SetPos(f.ref, XWQF::kFromLEOF, 0), 0);
    int count = 2;
    EXPECT_EQ(XWQF::Write(f.ref, &count, "ab"), 0);
    count = 2;
    EXPECT_EQ(XWQF::Write(f.ref, &count, "cd"), kFileBoundsErr);
    EXPECT_EQ(count, 0);
    // The position arithmetic never wraps.
    EXPECT_EQ(XWQF::SetPos(f.ref, XWQF::kFromMark, INT32_MAX), kEOFErr);
}

TEST(FileLayer, NumberTextAndMiscHelpers) {
    Str255 s;
    XWQF::NumToString(INT32_MIN, s);
    EXPECT_EQ(pstrBytes(s), "-2147483648");
    EXPECT_EQ(s[0], 11);
    XWQF::NumToString(0, s);
    EXPECT_EQ(pstrBytes(s), "0");
    auto num = [](const std::string& text) {
        Str255 p;
        pstrcpy(text, p);
        int v = -1;
        XWQF::StringToNum(p, &v);
        return v;
    };
    EXPECT_EQ(num("12x"), 12);
    EXPECT_EQ(num("-7"), -7);
    EXPECT_EQ(num("  +5"), 5);
    EXPECT_EQ(num("abc"), 0);
    EXPECT_EQ(num(""), 0);
    EXPECT_EQ(num("99999999999"), INT32_MAX);
    EXPECT_EQ(num("-99999999999"), INT32_MIN);

    char buf[8] = "abcdefg";
    XWQF::BlockMove(buf, buf + 1, 3);
    EXPECT_STREQ(buf, "aabcefg");
    XWQF::BlockMoveData(buf, buf + 1, 0);
    EXPECT_STREQ(buf, "aabcefg");
    Str255 a, b;
    pstrcpy(std::string("same"), a);
    pstrcpy(std::string("same"), b);
    EXPECT_TRUE(XWQF::EqualString(a, b, true, false));
    pstrcpy(std::string("Same"), b);
    EXPECT_FALSE(XWQF::EqualString(a, b, true, true));
    unsigned int secs = 0;
    XWQF::GetDateTime(&secs);
    EXPECT_NEAR(double(secs), double(std::time(nullptr) - 978307200), 2.0);
}

}  // namespace
