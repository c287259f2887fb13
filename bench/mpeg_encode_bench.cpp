// A whole-process benchmark of the Layer II encoder: a 10-minute 48 kHz stereo
// WAVE (16-bit, made by sox) encoded at 256 kbit/s joint stereo through
// CMPEG2File, timed as a process of its own next to twolame on the same file in
// one run. Each command runs a few times and the fastest wall time counts; the
// output ends with twolame's time over ours (above 1: ours is faster).
//
//   mpeg_encode_bench [rounds]            the comparison (3 rounds unless given)
//   mpeg_encode_bench --encode IN OUT     one encoding: IN (WAVE) to OUT.mp2

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/mpeg/mpeg_file.h"
#include "formats/pcm/wave_file.h"

namespace {

namespace fs = std::filesystem;

int Encode(const std::string& input, const std::string& output) {
    CWAVEFile source;
    if (source.ISoundFile(input) || source.Open()) {
        std::fprintf(stderr, "cannot open %s\n", input.c_str());
        return 1;
    }
    std::vector<unsigned char> specifics(256, 0);
    specifics[0] = 20;
    std::memcpy(specifics.data() + 1, "MPEG joint stereo   ", 20);
    CMPEG2File out;
    OSErr err = out.ISoundFile(output);
    if (!err)
        err = out.Create(&source, source.GetNumChannels(), 256,
                         static_cast<float>(source.GetSampleRate()), specifics.data(), nullptr);
    if (!err) err = out.Close();
    source.Close();
    if (err) std::fprintf(stderr, "encoding failed: %d\n", int(err));
    return err ? 1 : 0;
}

double TimeCommand(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const auto end = std::chrono::steady_clock::now();
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return std::chrono::duration<double>(end - start).count();
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

int Compare(const std::string& self, int rounds) {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/corvane-mpeg-XXXXXX";
    if (!::mkdtemp(tmpl.data())) return 1;
    const std::string dir = tmpl;
    const std::string input = dir + "/in.wav";
    std::printf("making 10 minutes of 48 kHz 16-bit stereo WAVE with sox ...\n");
    std::fflush(stdout);
    if (TimeCommand("sox -q -R -n -r 48000 -c 2 -b 16 " + Quote(input) +
                    " synth 600 pinknoise sine 440-5000 gain -9") < 0) {
        std::fprintf(stderr, "sox could not make the input\n");
        fs::remove_all(dir);
        return 1;
    }
    struct Entry {
        const char* name;
        std::string command;
        std::string output;
        double best = -1;
    };
    std::vector<Entry> entries = {
        {"twolame", "twolame --quiet -b 256 -m j " + Quote(input) + " " + Quote(dir + "/t.mp2"),
         dir + "/t.mp2"},
        {"ours", Quote(self) + " --encode " + Quote(input) + " " + Quote(dir + "/ours"),
         dir + "/ours.mp2"},
    };
    for (int r = 0; r < rounds; ++r) {
        for (Entry& e : entries) {
            const double t = TimeCommand(e.command);
            std::error_code ec;
            fs::remove(e.output, ec);
            if (t < 0) {
                std::fprintf(stderr, "%s failed\n", e.name);
                fs::remove_all(dir);
                return 1;
            }
            if (e.best < 0 || t < e.best) e.best = t;
        }
    }
    fs::remove_all(dir);
    std::printf("\nfastest of %d, wall time of the whole process:\n", rounds);
    for (const Entry& e : entries) std::printf("  %-8s %7.3f s\n", e.name, e.best);
    std::printf("twolame/ours %.2f  (goal: above 1)\n", entries[0].best / entries[1].best);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--encode") == 0) return Encode(argv[2], argv[3]);
    int rounds = 3;
    if (argc == 2) {
        rounds = std::max(1, std::atoi(argv[1]));
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: %s [rounds] | --encode IN OUT\n", argv[0]);
        return 2;
    }
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return Compare(ec ? std::string(argv[0]) : self.string(), rounds);
}
