// A whole-process benchmark of the Layer II encoder: a 10-minute 48 kHz stereo
// WAVE (16-bit, made by sox) encoded at 256 kbit/s joint stereo through
// CMPEG2File, timed as a process of its own next to twolame on the same file in
// one run; the same file is also encoded as Layer I at 384 kbit/s joint stereo
// through CMPEG1File, which twolame does not write. Each command runs a few
// times and the fastest wall time counts; the output ends with twolame's time
// over ours (above 1: ours is faster) and the SNR of every stream over its
// first minute, decoded by ffmpeg and aligned to the input.
//
//   mpeg_encode_bench [rounds]            the comparison (3 rounds unless given)
//   mpeg_encode_bench --encode IN OUT     one encoding: IN (WAVE) to OUT.mp2
//   mpeg_encode_bench --encode1 IN OUT    one Layer I encoding: IN to OUT.mp1

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
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

int Encode(const std::string& input, const std::string& output, int lay) {
    CWAVEFile source;
    if (source.ISoundFile(input) || source.Open()) {
        std::fprintf(stderr, "cannot open %s\n", input.c_str());
        return 1;
    }
    std::vector<unsigned char> specifics(256, 0);
    specifics[0] = 20;
    std::memcpy(specifics.data() + 1, "MPEG joint stereo   ", 20);
    CMPEG1File layer1;
    CMPEG2File layer2;
    CMPEG1File& out = lay == 1 ? layer1 : layer2;
    OSErr err = out.ISoundFile(output);
    if (!err)
        err = out.Create(&source, source.GetNumChannels(), lay == 1 ? 384 : 256,
                         static_cast<float>(source.GetSampleRate()), specifics.data(), nullptr);
    if (!err) err = out.Close();
    source.Close();
    if (err) std::fprintf(stderr, "encoding failed: %d\n", int(err));
    return err ? 1 : 0;
}

std::vector<int16_t> ReadRaw(const std::string& path) {
    std::vector<int16_t> samples;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        int16_t block[8192];
        size_t n;
        while ((n = std::fread(block, 2, 8192, f)) > 0) samples.insert(samples.end(), block, block + n);
        std::fclose(f);
    }
    return samples;
}

// SNR in dB of stereo `decoded` against `input` at the lag (0..2000 frames)
// that matches them best.
double SNR(const std::vector<int16_t>& input, const std::vector<int16_t>& decoded) {
    const size_t frames = std::min(input.size(), decoded.size()) / 2;
    if (frames < 4000) return -100;
    auto error = [&](int lag, size_t step) {
        double sum = 0;
        for (size_t i = 0; i + lag < frames; i += step)
            for (int c = 0; c < 2; ++c) {
                const double e = double(input[2 * i + c]) - decoded[2 * (i + lag) + c];
                sum += e * e;
            }
        return sum;
    };
    int best = 0;
    double least = -1;
    for (int lag = 0; lag <= 2000; ++lag) {
        const double e = error(lag, 97);
        if (least < 0 || e < least) least = e, best = lag;
    }
    double signal = 0;
    for (size_t i = 0; i + best < frames; ++i)
        signal += double(input[2 * i]) * input[2 * i] + double(input[2 * i + 1]) * input[2 * i + 1];
    return 10 * std::log10(signal / std::max(error(best, 1), 1e-9));
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
        {"ours L I", Quote(self) + " --encode1 " + Quote(input) + " " + Quote(dir + "/ours1"),
         dir + "/ours1.mp1"},
    };
    for (int r = 0; r < rounds; ++r) {
        for (Entry& e : entries) {
            std::error_code ec;
            fs::remove(e.output, ec);
            const double t = TimeCommand(e.command);
            if (t < 0) {
                std::fprintf(stderr, "%s failed\n", e.name);
                fs::remove_all(dir);
                return 1;
            }
            if (e.best < 0 || t < e.best) e.best = t;
        }
    }
    // Quality over the first minute: every stream decoded by ffmpeg.
    double snr[3] = {-100, -100, -100};
    const std::string decode = "ffmpeg -nostdin -v error -y -t 60 -i ";
    if (TimeCommand(decode + Quote(input) + " -f s16le " + Quote(dir + "/in.raw")) >= 0) {
        const std::vector<int16_t> reference = ReadRaw(dir + "/in.raw");
        for (int i = 0; i < 3; ++i)
            if (TimeCommand(decode + Quote(entries[i].output) + " -f s16le " +
                            Quote(dir + "/dec.raw")) >= 0)
                snr[i] = SNR(reference, ReadRaw(dir + "/dec.raw"));
    }
    fs::remove_all(dir);
    std::printf("\nfastest of %d, wall time of the whole process; SNR of the first minute:\n",
                rounds);
    for (int i = 0; i < 3; ++i)
        std::printf("  %-8s %7.3f s  %6.2f dB\n", entries[i].name, entries[i].best, snr[i]);
    std::printf("twolame/ours %.2f  (goal: above 1)\n", entries[0].best / entries[1].best);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--encode") == 0) return Encode(argv[2], argv[3], 2);
    if (argc == 4 && std::strcmp(argv[1], "--encode1") == 0) return Encode(argv[2], argv[3], 1);
    int rounds = 3;
    if (argc == 2) {
        rounds = std::max(1, std::atoi(argv[1]));
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: %s [rounds] | --encode IN OUT | --encode1 IN OUT\n", argv[0]);
        return 2;
    }
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return Compare(ec ? std::string(argv[0]) : self.string(), rounds);
}
