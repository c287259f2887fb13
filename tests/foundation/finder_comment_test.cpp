#include "foundation/finder_comment.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "test_support.h"

using testsupport::TempDir;

namespace {

std::string Quoted(const std::string& path) {
    std::string q = "'";
    for (char c : path) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "0x";
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The raw value getfattr prints; nothing when it fails.
bool GetWithTool(const std::string& path, std::string* value) {
    std::string cmd = "getfattr --only-values -n user.xdg.comment " + Quoted(path) + " 2>/dev/null";
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (!pipe) return false;
    value->clear();
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) value->append(buffer, n);
    return ::pclose(pipe) == 0;
}

bool SetWithTool(const std::string& path, const std::string& value) {
    std::string cmd = "setfattr -n user.xdg.comment -v " + Hex(value) + " " + Quoted(path);
    return std::system(cmd.c_str()) == 0;
}

class FinderComment : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = dir_ / "tone.aif";
        testsupport::WriteFile(file_, "data");
        if (::setxattr(file_.c_str(), "user.corvane.probe", "x", 1, 0) != 0)
            GTEST_SKIP() << "no user extended attributes on " << dir_.path() << " (errno "
                         << errno << ")";
        ::removexattr(file_.c_str(), "user.corvane.probe");
    }
    void RequireTools() {
        if (!testsupport::HaveProgram("getfattr") || !testsupport::HaveProgram("setfattr"))
            GTEST_SKIP() << "getfattr/setfattr (Debian attr) not installed";
    }

    TempDir dir_;
    std::string file_;
    // Quotes, a backslash, a newline and non-ASCII text go through untouched.
    const std::string tricky_ = "Take 3 \"final\" \\ mix\nCaf\xC3\xA9 'ok' $HOME";
};

TEST_F(FinderComment, OurWritesAndTheAttrToolsAgree) {
    RequireTools();
    WriteFinderComment(tricky_, file_);
    std::string seen;
    ASSERT_TRUE(GetWithTool(file_, &seen));
    EXPECT_EQ(seen, tricky_);

    // An empty comment removes the attribute.
    WriteFinderComment("", file_);
    EXPECT_FALSE(GetWithTool(file_, &seen));
    EXPECT_EQ(ReadFinderCommentFromFile(file_), "");

    // And what setfattr writes is what we read.
    ASSERT_TRUE(SetWithTool(file_, tricky_));
    EXPECT_EQ(ReadFinderCommentFromFile(file_), tricky_);
    ASSERT_TRUE(SetWithTool(file_, "short"));
    EXPECT_EQ(ReadFinderCommentFromFile(file_), "short");
}

TEST_F(FinderComment, FailuresAreQuiet) {
    EXPECT_EQ(ReadFinderCommentFromFile(file_), "");  // no comment yet
    std::string missing = dir_ / "missing.aif";
    EXPECT_EQ(ReadFinderCommentFromFile(missing), "");
    WriteFinderComment("lost", missing);
    EXPECT_NE(::access(missing.c_str(), F_OK), 0);  // nothing is created

    // A comment larger than any attribute can hold leaves the old one in place.
    WriteFinderComment("keep", file_);
    WriteFinderComment(std::string(100000, 'x'), file_);
    EXPECT_EQ(ReadFinderCommentFromFile(file_), "keep");
}

}  // namespace
