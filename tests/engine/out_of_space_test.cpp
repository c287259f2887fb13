// A batch whose output folder runs out of room, in a child process: a small
// file system of its own where the machine allows one (a private mount
// namespace), else a file-size limit with its signal ignored. The file that
// meets the limit fails with the file layer's code, leaves nothing behind, and
// the batch goes on or stops as that code's class says.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "engine_test_support.h"

namespace enginetest {
namespace {

constexpr long kRoomBytes = 256 * 1024;

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream f(path);
    f << text;
    return bool(f.flush());
}

// A file system of kRoomBytes at `folder`, seen by this process alone.
bool MountSmallFileSystem(const std::string& folder) {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWNS) != 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
        WriteText("/proc/self/setgroups", "deny");
        if (!WriteText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !WriteText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return false;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    const std::string options = "size=" + std::to_string(kRoomBytes);
    return ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

TEST_F(EngineTest, TheFileThatMeetsAFullDiskFailsAndLeavesNothing) {
    Sox(in + "/F/a.wav");
    // Three seconds of stereo: more than the room there is.
    ASSERT_TRUE(formattest::RunCommand("sox -n -r 44100 -c 2 -b 16 " +
                                       formattest::Quote(in + "/F/b.wav") + " synth 3 sine 300"));
    Sox(in + "/F/c.wav");

    // The child checks the batch itself and reports how its room was limited,
    // followed by whatever differed from the expectation.
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string text = "mount";
        if (!MountSmallFileSystem(out)) {
            text = "limit";
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{rlim_t(kRoomBytes), rlim_t(kRoomBytes)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        Run({in + "/F"}, {Conversion("One")});
        // A full disk is serious and stops the batch; a file-size limit is a
        // problem of that file alone.
        const int code = text == "mount" ? kDiskFullErr : kFileBoundsErr;
        const bool stops = BatchRunner::StopsBatch(code);
        Strings names = {"Start", "Header", "Success a.wav",
                         "Failure b.wav " + std::to_string(code)};
        Strings files = {"One", "One/F", "One/F/a.aif"};
        if (!stops) {
            names.push_back("Success c.wav");
            files.push_back("One/F/c.aif");
        }
        names.insert(names.end(), {"Footer", "Done"});
        if (Names() != names) text += " notifications: " + testing::PrintToString(Names());
        if (Tree(out) != files) text += " outputs: " + testing::PrintToString(Tree(out));
        if (process.err() != (stops ? kUserCanceledErr : 0))
            text += " err: " + std::to_string(process.err());
        ::_exit(::write(report[1], text.data(), text.size()) == ssize_t(text.size()) ? 0 : 1);
    }
    ::close(report[1]);
    std::string text;
    char block[4096];
    for (ssize_t n; (n = ::read(report[0], block, sizeof block)) > 0;)
        text.append(block, size_t(n));
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(text == "mount" || text == "limit") << text;
}

}  // namespace
}  // namespace enginetest
