// Finding the external mp3 encoder program (lame) and reading its version.
//
// The program is looked for at /usr/local/bin/lame, /opt/local/bin/lame,
// /sw/local/bin/lame and /usr/bin/lame, then in each absolute folder of PATH.
// Each candidate is run directly (no shell) as "<path> --version" with its
// output read through a pipe; a run that does not end within the time limit is
// killed. The version is the first "version <major>.<minor>" in the output, and
// versions compare by major and then minor number as integers, so 3.100 comes
// after 3.99 and 3.93.
#pragma once

#include <string>
#include <vector>

struct LameVersion {
    int major = 0;
    int minor = 0;
    bool valid = false;

    // "3.100"; empty when not valid.
    std::string text() const;
};

// The oldest version the mp3 writer works with: 3.93.
inline constexpr LameVersion kMinimumLameVersion{3, 93, true};

// The first "version <digits>.<digits>" in the program's output; an invalid
// version when there is none (or a number has more than six digits).
LameVersion ParseLameVersion(const std::string& output);
// Negative, zero or positive as a is older than, equal to or newer than b; an
// invalid version is older than every valid one.
int CompareLameVersions(const LameVersion& a, const LameVersion& b);
// True for a valid version of 3.93 or later.
bool IsLameVersionSufficient(const LameVersion& version);

// Runs the program at `path` with "--version" and parses its output. An invalid
// version when it cannot be started, does not exit with status 0 within
// `timeoutMs` milliseconds, or prints no version.
LameVersion ReadLameVersion(const std::string& path, int timeoutMs = 10000);

// The places to look, in order: the fixed paths, then "lame" in each absolute
// folder of `pathVariable` (a colon-separated list); no path twice.
std::vector<std::string> LameCandidatePaths(const std::string& pathVariable);
// The same for the PATH of the environment.
std::vector<std::string> LameCandidatePaths();

struct LameProbe {
    bool available = false;  // some candidate file exists, whatever its version
    std::string path;        // the candidate with the newest version; empty when none printed one
    LameVersion version;     // its version
};

// Runs every existing candidate; the newest version wins, and on equal versions
// the earlier candidate. A probe that finds a versioned program remembers its path.
LameProbe ProbeLameEncoder(const std::vector<std::string>& candidates);
LameProbe ProbeLameEncoder();

// The path found by the last probe that found one; empty before that.
std::string LastFoundLameEncoderPath();
