// What the benchmarks that time a step of ours against a peer program share: a
// scratch folder with an input made by sox, one iteration timing ours and then
// the peer's command, and the counter "speedup" (the peer's time over ours:
// above 1, ours is faster).
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "foundation/errors.h"
#include "soundfile/sound_file.h"

namespace benchsupport {

// A folder of the run's own, removed with what is in it at the end.
class ScratchFolder {
public:
    ScratchFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/corvane-bench-XXXXXX";
        if (::mkdtemp(tmpl.data())) path_ = tmpl;
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// True when the program's resources are found (the type table is read from them).
inline bool HaveResources() {
    try {
        CSoundFile::GetPathForSoundFileResource("SoundFileProperties");
        return true;
    } catch (const error_code_exception&) {
        std::fprintf(stderr, "the resource folder was not found (set CORVANE_RESOURCE_DIR)\n");
        return false;
    }
}

// Makes `path` with sox: "sox <arguments before> path <arguments after>".
inline bool MakeWithSox(const std::string& before, const std::string& path,
                        const std::string& after) {
    const std::string command = "sox " + before + " '" + path + "' " + after + " 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

inline double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Each iteration times `ours()` (false on a failure) and then the peer's shell
// command; the counter "speedup" is the peer's time over ours.
template <class Ours>
void TimeAgainstPeer(benchmark::State& state, Ours&& ours, const std::string& peer,
                     const char* oursFailed) {
    double mine = 0, theirs = 0;
    for (auto _ : state) {
        auto t = std::chrono::steady_clock::now();
        if (!ours()) {
            state.SkipWithError(oursFailed);
            break;
        }
        mine += Seconds(t);
        t = std::chrono::steady_clock::now();
        if (std::system(peer.c_str()) != 0) {
            state.SkipWithError("the peer failed");
            break;
        }
        theirs += Seconds(t);
    }
    if (mine > 0) state.counters["speedup"] = theirs / mine;
}

}  // namespace benchsupport
