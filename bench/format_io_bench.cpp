// Reading and writing real files through our WAVE and AIFF classes against
// libsndfile on the same data, in one run. Each case has two benchmarks, "ours"
// and "libsndfile" (e.g. "read/WAVE16/ours"); items are frames, so
// items_per_second is frames per second. After the runs a table gives each
// case's ratio of frames per second, ours/libsndfile (above 1: ours is faster).
// The ratios are information only.
//
// The input files (10 s of stereo at 44.1 kHz) are written once with libsndfile
// into a temporary folder, which is removed at the end. Both sides read and
// write in blocks of 4096 frames: interleaved floats when reading, interleaved
// doubles when writing. Our writer runs with dither off (SetDither(0)), as
// libsndfile does not dither. One iteration opens (or creates), reads (or
// fills) and closes one whole file; written files are removed outside the
// timed part.

#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "formats/pcm/aiff_file.h"
#include "formats/pcm/wave_file.h"
#include "foundation/pstring.h"
#include "soundfile/progress.h"
#include "soundfile/sound_file.h"

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr uint32_t kFrames = 10 * kRate;  // 10 s
constexpr uint32_t kBlock = 4096;         // frames per call on both sides

// What every benchmark shares, set up once before the runs.
struct Fixture {
    std::string dir;               // the temporary folder
    std::vector<double> signal;    // kFrames interleaved stereo frames
    std::vector<float> readBlock;  // one block of read frames
    std::string wave16, wave24, aiff16;
    unsigned long serial = 0;  // for unique output names
};
Fixture gFix;

std::string NextOutputPath(const char* stem) {
    return gFix.dir + "/" + stem + std::to_string(++gFix.serial);
}

// A stereo signal at about half scale (two tones, left and right differing).
void MakeSignal() {
    gFix.signal.resize(static_cast<size_t>(kFrames) * kChannels);
    for (uint32_t i = 0; i < kFrames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        gFix.signal[2 * i] = 0.5 * std::sin(2 * std::numbers::pi * 440.0 * t);
        gFix.signal[2 * i + 1] = 0.4 * std::sin(2 * std::numbers::pi * 660.0 * t + 0.3);
    }
    gFix.readBlock.resize(static_cast<size_t>(kBlock) * kChannels);
}

// Writes the signal to a file with libsndfile; false when it could not.
bool WritePeerFile(const std::string& path, int format) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = kChannels;
    info.format = format;
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!sf) return false;
    const sf_count_t done = sf_writef_double(sf, gFix.signal.data(), kFrames);
    return sf_close(sf) == 0 && done == static_cast<sf_count_t>(kFrames);
}

bool SetUp() {
    // Our classes look their type up in the resource table: without it every
    // object would log a failed look-up, and the timings would show that.
    try {
        CSoundFile::GetPathForSoundFileResource("SoundFileProperties");
    } catch (const error_code_exception&) {
        std::fprintf(stderr,
                     "the resource folder was not found (build the corvane_resources target, "
                     "or set CORVANE_RESOURCE_DIR)\n");
        return false;
    }
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/corvane-bench-XXXXXX";
    if (!::mkdtemp(tmpl.data())) return false;
    gFix.dir = tmpl;
    MakeSignal();
    gFix.wave16 = gFix.dir + "/in16.wav";
    gFix.wave24 = gFix.dir + "/in24.wav";
    gFix.aiff16 = gFix.dir + "/in16.aiff";
    return WritePeerFile(gFix.wave16, SF_FORMAT_WAV | SF_FORMAT_PCM_16) &&
           WritePeerFile(gFix.wave24, SF_FORMAT_WAV | SF_FORMAT_PCM_24) &&
           WritePeerFile(gFix.aiff16, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
}

void TearDown() {
    std::error_code ec;
    if (!gFix.dir.empty()) std::filesystem::remove_all(gFix.dir, ec);
}

// ---- Reading ----------------------------------------------------------------

template <class File>
void ReadOurs(benchmark::State& state, const std::string& path) {
    float* out = gFix.readBlock.data();
    for (auto _ : state) {
        SoundFilePtr file(new File);
        if (file->ISoundFile(path) != 0 || file->Open() != 0) {
            state.SkipWithError("our reader could not open the file");
            break;
        }
        const uint32_t frames = file->GetNumSFrames();
        bool failed = frames != kFrames;
        for (uint32_t start = 0; start < frames && !failed; start += kBlock) {
            uint32_t count = std::min(kBlock, frames - start);
            const uint32_t want = count;
            failed = file->Read(start, &count, out) != 0 || count != want;
            benchmark::DoNotOptimize(out);
            benchmark::ClobberMemory();
        }
        if (failed || file->Close() != 0) {
            state.SkipWithError("our reader failed");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFrames);
}

void ReadPeer(benchmark::State& state, const std::string& path) {
    float* out = gFix.readBlock.data();
    for (auto _ : state) {
        SF_INFO info{};
        SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
        if (!sf) {
            state.SkipWithError("libsndfile could not open the file");
            break;
        }
        sf_count_t total = 0;
        for (sf_count_t n; (n = sf_readf_float(sf, out, kBlock)) > 0;) {
            total += n;
            benchmark::DoNotOptimize(out);
            benchmark::ClobberMemory();
        }
        sf_close(sf);
        if (total != static_cast<sf_count_t>(kFrames)) {
            state.SkipWithError("libsndfile read short");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFrames);
}

// ---- Writing ----------------------------------------------------------------

void WriteOurs(benchmark::State& state, short wordSize) {
    unsigned char extension[256];
    pstrcpy(std::string("wav"), extension);
    // Write clips its input in place; the signal is inside the range, so it
    // stays as it is for the next iteration and for the peer.
    double* in = gFix.signal.data();
    for (auto _ : state) {
        state.PauseTiming();
        const std::string stem = NextOutputPath("ours");
        state.ResumeTiming();

        SoundFilePtr file(new CWAVEFile);
        file->SetDither(0);
        if (file->ISoundFile(stem) != 0 ||
            file->Create(kChannels, wordSize, kRate, nullptr, extension) != 0) {
            state.SkipWithError("our writer could not create the file");
            break;
        }
        bool failed = false;
        for (uint32_t start = 0; start < kFrames && !failed; start += kBlock) {
            uint32_t count = std::min(kBlock, kFrames - start);
            const uint32_t want = count;
            failed = file->Write(start, &count, in + static_cast<size_t>(start) * kChannels) != 0 ||
                     count != want;
        }
        const std::string path = file->GetPath();
        if (failed || file->Close() != 0) {
            state.SkipWithError("our writer failed");
            break;
        }
        file.reset();

        state.PauseTiming();
        ::unlink(path.c_str());
        CorvaOutFile::Clear();  // Create notes every output name
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFrames);
}

void WritePeer(benchmark::State& state, int format) {
    const double* in = gFix.signal.data();
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path = NextOutputPath("peer") + ".wav";
        state.ResumeTiming();

        SF_INFO info{};
        info.samplerate = kRate;
        info.channels = kChannels;
        info.format = format;
        SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
        if (!sf) {
            state.SkipWithError("libsndfile could not create the file");
            break;
        }
        bool failed = false;
        for (uint32_t start = 0; start < kFrames && !failed; start += kBlock) {
            const sf_count_t count = std::min(kBlock, kFrames - start);
            failed =
                sf_writef_double(sf, in + static_cast<size_t>(start) * kChannels, count) != count;
        }
        if (sf_close(sf) != 0 || failed) {
            state.SkipWithError("libsndfile write failed");
            break;
        }

        state.PauseTiming();
        ::unlink(path.c_str());
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFrames);
}

// ---- Cases and the ratio table ----------------------------------------------

const char* const kOurs = "ours";
const char* const kPeer = "libsndfile";

std::vector<std::string>& CaseNames() {
    static std::vector<std::string> names;
    return names;
}

// Registers one case: its two benchmarks, ours first, timed by the wall clock
// (file input and output spend time outside the process).
template <class Ours, class Peer>
void AddCase(const std::string& name, Ours&& ours, Peer&& peer) {
    CaseNames().push_back(name);
    benchmark::RegisterBenchmark((name + "/" + kOurs).c_str(), ours)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((name + "/" + kPeer).c_str(), peer)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
}

void RegisterCases() {
    AddCase(
        "read/WAVE16", [](benchmark::State& s) { ReadOurs<CWAVEFile>(s, gFix.wave16); },
        [](benchmark::State& s) { ReadPeer(s, gFix.wave16); });
    AddCase(
        "read/WAVE24", [](benchmark::State& s) { ReadOurs<CWAVEFile>(s, gFix.wave24); },
        [](benchmark::State& s) { ReadPeer(s, gFix.wave24); });
    AddCase(
        "read/AIFF16", [](benchmark::State& s) { ReadOurs<CAIFFFile>(s, gFix.aiff16); },
        [](benchmark::State& s) { ReadPeer(s, gFix.aiff16); });
    AddCase(
        "write/WAVE16", [](benchmark::State& s) { WriteOurs(s, 16); },
        [](benchmark::State& s) { WritePeer(s, SF_FORMAT_WAV | SF_FORMAT_PCM_16); });
    AddCase(
        "write/WAVE24", [](benchmark::State& s) { WriteOurs(s, 24); },
        [](benchmark::State& s) { WritePeer(s, SF_FORMAT_WAV | SF_FORMAT_PCM_24); });
}

// The console output as usual, and the frames per second of every benchmark
// kept by name: the median when repetitions are asked for, else the run itself.
// Colour only on a terminal.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median) continue;
            auto it = run.counters.find("items_per_second");
            if (it == run.counters.end()) continue;
            Rate& rate = rates_[run.run_name.function_name];
            if (rate.fromMedian && !median) continue;
            rate.framesPerSecond = it->second.value;
            rate.fromMedian = median;
        }
    }

    void PrintRatios() const {
        std::printf("\nratio ours/libsndfile of frames per second (above 1: ours is faster):\n");
        for (const std::string& name : CaseNames()) {
            const auto ours = rates_.find(name + "/" + kOurs);
            const auto peer = rates_.find(name + "/" + kPeer);
            if (ours == rates_.end() && peer == rates_.end()) continue;  // filtered out
            if (ours == rates_.end() || peer == rates_.end() || peer->second.framesPerSecond <= 0) {
                std::printf("  %-14s not measured\n", name.c_str());
                continue;
            }
            std::printf("  %-14s %.2f  (%.1f vs %.1f Mframes/s)\n", name.c_str(),
                        ours->second.framesPerSecond / peer->second.framesPerSecond,
                        ours->second.framesPerSecond / 1e6, peer->second.framesPerSecond / 1e6);
        }
        std::printf("(our writer with dither off)\n");
    }

private:
    struct Rate {
        double framesPerSecond = 0;
        bool fromMedian = false;
    };
    std::map<std::string, Rate> rates_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!SetUp()) {
        std::fprintf(stderr, "could not set up the input files\n");
        TearDown();
        return 1;
    }
    RegisterCases();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    TearDown();
    return 0;
}
