#include "formats/mp3_encoder_probe.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

#include "test_support.h"

namespace {

using testsupport::HaveProgram;
using testsupport::TempDir;
using testsupport::WriteFile;

LameVersion V(int major, int minor) { return LameVersion{major, minor, true}; }

// A stand-in encoder: a shell script that prints `output` and exits with `status`.
std::string FakeLame(const std::string& path, const std::string& output, int status = 0,
                     bool toStderr = false) {
    WriteFile(path, "#!/bin/sh\nprintf '%s\\n' '" + output + "'" + (toStderr ? " >&2" : "") +
                        "\nexit " + std::to_string(status) + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
}

const char kBanner3100[] = "LAME 64bits version 3.100 (http://lame.sf.net)";

TEST(LameVersionParse, ReadsMajorAndMinorAsIntegers) {
    const LameVersion v = ParseLameVersion(std::string(kBanner3100) +
                                           "\n\nThis library is free software; either\n"
                                           "version 2 of the License, or later.\n");
    ASSERT_TRUE(v.valid);
    EXPECT_EQ(v.major, 3);
    EXPECT_EQ(v.minor, 100);
    EXPECT_EQ(v.text(), "3.100");
    EXPECT_EQ(ParseLameVersion("LAME version 3.92 MMX (http://x)").minor, 92);
    EXPECT_EQ(ParseLameVersion("LAME 32bits version 3.98.4 (http://x)").minor, 98);
    // The licence's "version 2 of" before the real one is passed over.
    EXPECT_EQ(ParseLameVersion("version 2 of it\nLAME version 3.99.5").minor, 99);

    for (const char* garbage : {"", "no version here", "version x.y", "version 3.",
                                "version .93", "Version 3.93", "version 1234567.1",
                                "version 3.1234567"})
        EXPECT_FALSE(ParseLameVersion(garbage).valid) << garbage;
    EXPECT_EQ(LameVersion().text(), "");
}

TEST(LameVersionParse, ComparesNumericallyNotAsFractions) {
    EXPECT_GT(CompareLameVersions(V(3, 100), V(3, 93)), 0);
    EXPECT_GT(CompareLameVersions(V(3, 100), V(3, 99)), 0);
    EXPECT_LT(CompareLameVersions(V(3, 92), V(3, 93)), 0);
    EXPECT_EQ(CompareLameVersions(V(3, 93), V(3, 93)), 0);
    EXPECT_GT(CompareLameVersions(V(4, 0), V(3, 100)), 0);
    EXPECT_LT(CompareLameVersions(LameVersion(), V(0, 0)), 0);
    EXPECT_EQ(CompareLameVersions(LameVersion(), LameVersion()), 0);

    EXPECT_TRUE(IsLameVersionSufficient(V(3, 100)));
    EXPECT_TRUE(IsLameVersionSufficient(V(3, 93)));
    EXPECT_FALSE(IsLameVersionSufficient(V(3, 92)));
    EXPECT_FALSE(IsLameVersionSufficient(V(2, 999)));
    EXPECT_FALSE(IsLameVersionSufficient(LameVersion()));
}

TEST(LameCandidates, FixedPathsFirstThenAbsolutePathFolders) {
    const auto paths = LameCandidatePaths("/a/bin:relative::/b//:/usr/bin:/a/bin:/");
    const std::vector<std::string> expected = {
        "/usr/local/bin/lame", "/opt/local/bin/lame", "/sw/local/bin/lame",
        "/usr/bin/lame",       "/a/bin/lame",         "/b/lame",
        "/lame",
    };
    EXPECT_EQ(paths, expected);
    EXPECT_EQ(LameCandidatePaths("").size(), 4u);
}

TEST(LameRun, ReadsTheVersionThatTheProgramPrintsIfAny) {
    TempDir dir;
    const LameVersion v = ReadLameVersion(FakeLame(dir / "lame", kBanner3100));
    ASSERT_TRUE(v.valid);
    EXPECT_EQ(v.text(), "3.100");
    // Standard error counts as well.
    EXPECT_EQ(ReadLameVersion(FakeLame(dir / "err", "LAME version 3.97", 0, true)).minor, 97);
    // A failing, silent, missing or plain file has none.
    EXPECT_FALSE(ReadLameVersion(FakeLame(dir / "fails", kBanner3100, 1)).valid);
    EXPECT_FALSE(ReadLameVersion(FakeLame(dir / "silent", "usage: lame")).valid);
    EXPECT_FALSE(ReadLameVersion(dir / "missing").valid);
    WriteFile(dir / "plain", "not a program");
    EXPECT_FALSE(ReadLameVersion(dir / "plain").valid);
}

TEST(LameRun, AProgramThatHangsIsEndedAtTheTimeLimit) {
    TempDir dir;
    for (const char* body : {"#!/bin/sh\nexec sleep 30\n",
                             // closes its output and runs on, with a child of its own
                             "#!/bin/sh\nexec >/dev/null 2>&1\nsleep 30\nsleep 30\n"}) {
        const std::string path = dir / "hangs";
        WriteFile(path, body);
        ::chmod(path.c_str(), 0755);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(ReadLameVersion(path, 300).valid);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
}

TEST(LameProbeTest, TheNewestVersionWinsAndTheEarlierOnATie) {
    TempDir dir;
    const std::string old = FakeLame(dir / "old", "LAME version 3.98");
    const std::string fresh = FakeLame(dir / "fresh", kBanner3100);
    const std::string twin = FakeLame(dir / "twin", kBanner3100);
    const std::string silent = FakeLame(dir / "silent", "nothing");

    LameProbe p = ProbeLameEncoder({dir / "none", old, fresh, twin, silent});
    EXPECT_TRUE(p.available);
    EXPECT_EQ(p.path, fresh);
    EXPECT_EQ(p.version.text(), "3.100");
    EXPECT_EQ(LastFoundLameEncoderPath(), fresh);

    // A program that prints no version makes the encoder available without a path,
    // and leaves the path found before as it was.
    p = ProbeLameEncoder({silent});
    EXPECT_TRUE(p.available);
    EXPECT_TRUE(p.path.empty());
    EXPECT_EQ(LastFoundLameEncoderPath(), fresh);

    // A file that is not executable is there, but not run.
    WriteFile(dir / "noexec", "#!/bin/sh\necho 'LAME version 3.99'\n");
    p = ProbeLameEncoder({dir / "noexec"});
    EXPECT_TRUE(p.available);
    EXPECT_TRUE(p.path.empty());

    p = ProbeLameEncoder({dir / "none"});
    EXPECT_FALSE(p.available);
}

TEST(LameProbeTest, FindsTheEncoderOnThePath) {
    TempDir dir;
    // Newer than any installed encoder, so that it wins over one in the fixed places.
    FakeLame(dir / "lame", "LAME 64bits version 9.100 (test)");
    std::optional<std::string> saved;
    if (const char* p = std::getenv("PATH")) saved = p;
    ::setenv("PATH", ("relative:" + dir.path() + ":" + saved.value_or("/usr/bin:/bin")).c_str(), 1);
    const LameProbe p = ProbeLameEncoder();
    if (saved)
        ::setenv("PATH", saved->c_str(), 1);
    else
        ::unsetenv("PATH");
    EXPECT_TRUE(p.available);
    EXPECT_EQ(p.path, dir / "lame");
    EXPECT_EQ(p.version.text(), "9.100");
}

TEST(LameProbeTest, TheInstalledEncoderIsRecentEnough) {
    if (!HaveProgram("lame")) GTEST_SKIP() << "lame is not installed";
    const LameProbe p = ProbeLameEncoder();
    ASSERT_FALSE(p.path.empty());
    EXPECT_TRUE(IsLameVersionSufficient(p.version)) << p.version.text();
}

}  // namespace
