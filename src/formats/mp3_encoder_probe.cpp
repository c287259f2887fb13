#include "formats/mp3_encoder_probe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>

extern char** environ;

namespace {

const char* const kFixedLamePaths[] = {
    "/usr/local/bin/lame",
    "/opt/local/bin/lame",
    "/sw/local/bin/lame",
    "/usr/bin/lame",
};

// Enough for the version banner and its licence text; more is read and dropped.
constexpr size_t kMaxVersionOutput = 64 * 1024;
constexpr size_t kMaxVersionDigits = 6;

std::mutex gFoundPathMutex;
std::string gFoundPath;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a run of 1..kMaxVersionDigits digits at `pos`; false when there is none
// or it is longer.
bool ReadNumber(const std::string& s, size_t* pos, int* value) {
    size_t i = *pos;
    int v = 0;
    while (i < s.size() && IsDigit(s[i])) {
        if (i - *pos == kMaxVersionDigits) return false;
        v = v * 10 + (s[i] - '0');
        ++i;
    }
    if (i == *pos) return false;
    *pos = i;
    *value = v;
    return true;
}

long long MonotonicMs() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Runs `path --version` with standard output and error into one pipe; the
// output and whether the program exited with status 0 in time.
bool RunForOutput(const std::string& path, int timeoutMs, std::string* output) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    // Its own process group, so that a program that hangs is ended with all it started.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);

    std::string arg0 = path;
    std::string arg1 = "--version";
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, path.c_str(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        return false;
    }

    const long long deadline = MonotonicMs() + std::max(timeoutMs, 0);
    bool timedOut = false;
    char buf[4096];
    for (;;) {
        const long long left = deadline - MonotonicMs();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min(left, 1000LL)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) break;
        if (ready == 0) continue;
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        const size_t room = kMaxVersionOutput - std::min(kMaxVersionOutput, output->size());
        output->append(buf, std::min(room, static_cast<size_t>(n)));
    }
    ::close(fds[0]);

    // The program may close its output and go on running: it still has to end
    // before the deadline.
    int status = 0;
    pid_t waited = 0;
    while (!timedOut) {
        waited = ::waitpid(pid, &status, WNOHANG);
        if (waited < 0 && errno == EINTR) continue;
        if (waited != 0) break;
        if (MonotonicMs() >= deadline) {
            timedOut = true;
            break;
        }
        const timespec pause{0, 10 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
    if (timedOut) {
        ::kill(-pid, SIGKILL);
        do {
            waited = ::waitpid(pid, &status, 0);
        } while (waited < 0 && errno == EINTR);
        return false;
    }
    return waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

std::string LameVersion::text() const {
    if (!valid) return std::string();
    return std::to_string(major) + "." + std::to_string(minor);
}

LameVersion ParseLameVersion(const std::string& output) {
    static const std::string kWord = "version ";
    for (size_t at = output.find(kWord); at != std::string::npos;
         at = output.find(kWord, at + 1)) {
        size_t pos = at + kWord.size();
        LameVersion v;
        if (!ReadNumber(output, &pos, &v.major)) continue;
        if (pos >= output.size() || output[pos] != '.') continue;
        ++pos;
        if (!ReadNumber(output, &pos, &v.minor)) continue;
        v.valid = true;
        return v;
    }
    return LameVersion();
}

int CompareLameVersions(const LameVersion& a, const LameVersion& b) {
    if (a.valid != b.valid) return a.valid ? 1 : -1;
    if (!a.valid) return 0;
    if (a.major != b.major) return a.major < b.major ? -1 : 1;
    if (a.minor != b.minor) return a.minor < b.minor ? -1 : 1;
    return 0;
}

bool IsLameVersionSufficient(const LameVersion& version) {
    return version.valid && CompareLameVersions(version, kMinimumLameVersion) >= 0;
}

LameVersion ReadLameVersion(const std::string& path, int timeoutMs) {
    std::string output;
    if (!RunForOutput(path, timeoutMs, &output)) return LameVersion();
    return ParseLameVersion(output);
}

std::vector<std::string> LameCandidatePaths(const std::string& pathVariable) {
    std::vector<std::string> paths(std::begin(kFixedLamePaths), std::end(kFixedLamePaths));
    size_t start = 0;
    while (start <= pathVariable.size()) {
        size_t colon = pathVariable.find(':', start);
        if (colon == std::string::npos) colon = pathVariable.size();
        std::string folder = pathVariable.substr(start, colon - start);
        start = colon + 1;
        // Relative folders (the current folder among them) are not searched.
        if (folder.empty() || folder.front() != '/') continue;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        std::string candidate = (folder == "/" ? "" : folder) + "/lame";
        if (std::find(paths.begin(), paths.end(), candidate) == paths.end())
            paths.push_back(std::move(candidate));
    }
    return paths;
}

std::vector<std::string> LameCandidatePaths() {
    const char* path = std::getenv("PATH");
    return LameCandidatePaths(path ? path : "");
}

LameProbe ProbeLameEncoder(const std::vector<std::string>& candidates) {
    LameProbe probe;
    for (const std::string& candidate : candidates) {
        if (!IsRegularFile(candidate)) continue;
        probe.available = true;
        if (::access(candidate.c_str(), X_OK) != 0) continue;
        const LameVersion version = ReadLameVersion(candidate);
        if (!version.valid) continue;
        if (probe.path.empty() || CompareLameVersions(version, probe.version) > 0) {
            probe.path = candidate;
            probe.version = version;
        }
    }
    if (!probe.path.empty()) {
        std::lock_guard lock(gFoundPathMutex);
        gFoundPath = probe.path;
    }
    return probe;
}

LameProbe ProbeLameEncoder() { return ProbeLameEncoder(LameCandidatePaths()); }

std::string LastFoundLameEncoderPath() {
    std::lock_guard lock(gFoundPathMutex);
    return gFoundPath;
}
