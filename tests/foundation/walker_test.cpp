#include "foundation/dir_walker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"

using testsupport::TempDir;

namespace {

// The walk from first to last, or from last to first given back in forward order.
std::vector<std::string> Walk(DirWalker& walker, bool backward = false) {
    std::vector<std::string> out;
    for (auto p = backward ? walker.last() : walker.first(); p;
         p = backward ? walker.prev() : walker.next()) {
        out.push_back(*p);
        if (out.size() > 1000) break;  // a runaway walk fails the test, not the machine
    }
    if (backward) std::reverse(out.begin(), out.end());
    return out;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST(DirWalker, WalksDepthFirstBothWays) {
    TempDir dir;
    testsupport::WriteFile(dir / "a", "");
    ASSERT_EQ(::mkdir((dir / "b").c_str(), 0777), 0);
    testsupport::WriteFile(dir / "b/c", "");
    testsupport::WriteFile(dir / "d", "");

    DirWalker walker(dir.path());
    std::vector<std::string> forward = Walk(walker);
    EXPECT_EQ(Sorted(forward), (std::vector<std::string>{dir / "a", dir / "b/c", dir / "d"}));
    EXPECT_FALSE(walker.next());  // stays at the end
    EXPECT_EQ(Walk(walker, true), forward);

    // level() counts the folders below the root while inside one.
    for (auto p = walker.first(); p; p = walker.next())
        EXPECT_EQ(walker.level(), *p == dir / "b/c" ? 1 : 0) << *p;

    // After the end, prev comes back the same way.
    std::vector<std::string> back;
    for (auto p = walker.prev(); p; p = walker.prev()) back.push_back(*p);
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, forward);
}

TEST(DirWalker, EmptyFoldersGiveNothingOddEntriesAreFilesButNeverSidecars) {
    TempDir dir;
    DirWalker empty(dir.path());
    EXPECT_FALSE(empty.first());
    EXPECT_FALSE(empty.last());

    ASSERT_EQ(::mkdir((dir / "inner").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((dir / "inner/deeper").c_str(), 0777), 0);
    DirWalker onlyFolders(dir.path());
    EXPECT_FALSE(onlyFolders.first());
    EXPECT_FALSE(onlyFolders.last());
    EXPECT_EQ(onlyFolders.level(), 0);

    DirWalker missing(dir / "no-such-folder");
    EXPECT_FALSE(missing.first());

    testsupport::WriteFile(dir / ".hidden", "");
    testsupport::WriteFile(dir / "tone.aif", "");
    testsupport::WriteFile(dir / "._tone.aif", "sidecar");
    ASSERT_EQ(::symlink((dir / "gone").c_str(), (dir / "broken").c_str()), 0);
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0777), 0);
    testsupport::WriteFile(dir / "sub/._x", "sidecar");

    DirWalker walker(dir.path());
    EXPECT_EQ(Sorted(Walk(walker)),
              (std::vector<std::string>{dir / ".hidden", dir / "broken", dir / "tone.aif"}));
}

TEST(DirWalker, LinksToFoldersAreFollowedButLoopsEnd) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "root").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((dir / "root/sub").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((dir / "other").c_str(), 0777), 0);
    testsupport::WriteFile(dir / "root/sub/f", "");
    testsupport::WriteFile(dir / "other/g", "");
    // Back to the root, back to the enclosing folder, and out to a folder elsewhere.
    ASSERT_EQ(::symlink("..", (dir / "root/sub/up").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "root").c_str(), (dir / "root/sub/top").c_str()), 0);
    ASSERT_EQ(::symlink(".", (dir / "root/sub/self").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "other").c_str(), (dir / "root/elsewhere").c_str()), 0);

    DirWalker walker(dir / "root");
    std::vector<std::string> forward = Walk(walker);
    EXPECT_EQ(Sorted(forward),
              (std::vector<std::string>{dir / "root/elsewhere/g", dir / "root/sub/f"}));
    EXPECT_EQ(Walk(walker, true), forward);
}

}  // namespace
