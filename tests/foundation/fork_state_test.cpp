// What the file layer keeps of each open fork (its position, and the length of
// a file open for writing) stays true: forks of one file keep positions of
// their own, a reader sees what a writer added, and a descriptor number used
// again starts afresh.
#include <gtest/gtest.h>

#include <string>

#include "foundation/xwqf.h"
#include "test_support.h"

using testsupport::TempDir;

namespace {

int Position(int fork) {
    int pos = -1;
    return XWQF::GetPos(fork, &pos) ? -1 : pos;
}

int Length(int fork) {
    int size = -1;
    return XWQF::GetEOF(fork, &size) ? -1 : size;
}

TEST(ForkState, ReaderAndWriterOfOneFile) {
    TempDir dir;
    FSRef ref;
    ASSERT_EQ(XWQF::CreateFile(dir / "f", &ref), 0);
    int writer = XWQF::kNoFork, reader = XWQF::kNoFork;
    ASSERT_EQ(XWQF::OpenFork(&ref, XWQF::kPermWidest, &writer), 0);
    ASSERT_EQ(XWQF::OpenFork(&ref, XWQF::kPermRead, &reader), 0);

    int count = 6;
    ASSERT_EQ(XWQF::Write(writer, &count, "abcdef"), 0);
    EXPECT_EQ(Position(writer), 6);
    EXPECT_EQ(Position(reader), 0);
    // The reader sees the bytes the writer added, from its own position.
    EXPECT_EQ(Length(reader), 6);
    char got[8] = {};
    count = 4;
    ASSERT_EQ(XWQF::Read(reader, &count, got), 0);
    EXPECT_EQ(std::string(got, 4), "abcd");
    count = 2;
    ASSERT_EQ(XWQF::Write(writer, &count, "gh"), 0);
    ASSERT_EQ(XWQF::SetPos(reader, XWQF::kFromStart, 8), 0);
    EXPECT_EQ(XWQF::SetPos(reader, XWQF::kFromStart, 9), kEOFErr);
    EXPECT_EQ(Position(reader), 8);

    // Writing inside the file leaves its length; cutting it moves both ends.
    ASSERT_EQ(XWQF::SetPos(writer, XWQF::kFromStart, 1), 0);
    count = 2;
    ASSERT_EQ(XWQF::Write(writer, &count, "XY"), 0);
    EXPECT_EQ(Length(writer), 8);
    ASSERT_EQ(XWQF::SetEOF(writer, 2), 0);
    EXPECT_EQ(Position(writer), 2);
    EXPECT_EQ(Length(writer), 2);
    EXPECT_EQ(Length(reader), 2);
    count = 4;
    EXPECT_EQ(XWQF::Read(reader, &count, got), kEOFErr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(XWQF::SetPos(writer, XWQF::kFromLEOF, 1), kEOFErr);
    EXPECT_EQ(Position(writer), 2);

    EXPECT_EQ(XWQF::CloseFork(reader), 0);
    EXPECT_EQ(XWQF::CloseFork(writer), 0);
    EXPECT_EQ(testsupport::ReadFile(ref.path), "aX");
}

TEST(ForkState, ADescriptorUsedAgainStartsAfresh) {
    TempDir dir;
    const std::string small = dir / "small", large = dir / "large";
    testsupport::WriteFile(small, "12");
    testsupport::WriteFile(large, "0123456789");
    FSRef smallRef{small}, largeRef{large};
    int first = XWQF::kNoFork;
    ASSERT_EQ(XWQF::OpenFork(&largeRef, XWQF::kPermWidest, &first), 0);
    ASSERT_EQ(XWQF::SetPos(first, XWQF::kFromLEOF, 0), 0);
    ASSERT_EQ(XWQF::CloseFork(first), 0);
    int second = XWQF::kNoFork;
    ASSERT_EQ(XWQF::OpenFork(&smallRef, XWQF::kPermWidest, &second), 0);
    EXPECT_EQ(second, first);  // the lowest free number comes back
    EXPECT_EQ(Position(second), 0);
    EXPECT_EQ(Length(second), 2);
    char got[4] = {};
    int count = 4;
    EXPECT_EQ(XWQF::Read(second, &count, got), kEOFErr);
    EXPECT_EQ(std::string(got, count), "12");
    EXPECT_EQ(XWQF::CloseFork(second), 0);
    // A closed fork is refused as before.
    count = 1;
    EXPECT_EQ(XWQF::Read(second, &count, got), kRefNumErr);
}

}  // namespace
