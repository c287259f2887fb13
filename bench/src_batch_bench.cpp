// Sample-rate conversion as a whole process: ten minutes of 96 kHz 24-bit stereo
// WAVE to 44.1 kHz, through the engine's batch runner with the best quality
// (64 periods), timed next to `sox rate -v` and `sox rate -q` on the same file
// in the same run. Nobody dithers (sox -D). After the runs a table gives sox's
// time over ours (above 1: ours is faster). The ratios are information only.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "conversion/conv_spec.h"
#include "conversion/startup.h"
#include "engine/batch_runner.h"
#include "platform/user_defaults.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"

namespace {

constexpr int kSeconds = 600;
std::string gDir;    // the temporary folder
std::string gInput;  // the WAVE file both sides convert
unsigned long gSerial = 0;

bool SetUp() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/corvane-bench-XXXXXX";
    if (!::mkdtemp(tmpl.data())) return false;
    gDir = tmpl;
    gInput = gDir + "/in.wav";
    static platform::UserDefaults defaults(gDir + "/preferences.plist");
    BootOptions options;
    options.defaults = &defaults;
    options.probeMp3Encoder = false;
    if (BootModel(options).status != 0) {
        std::fprintf(stderr, "the resource folder was not found (set CORVANE_RESOURCE_DIR)\n");
        return false;
    }
    const std::string make = "sox -D -n -r 96000 -c 2 -b 24 '" + gInput + "' synth " +
                             std::to_string(kSeconds) +
                             " sine 20-20000 sine 300-5000 gain -3 2>/dev/null";
    return std::system(make.c_str()) == 0;
}

void Ours(benchmark::State& state) {
    auto conversion = std::make_shared<ConvSpec>();
    conversion->setConversionName("Rate");
    conversion->setNeedsStrictFileType(true);
    conversion->setOutputFileType(FourCC("WAVE"));
    conversion->setNeedsChannelTreat(false);
    conversion->setNeedsNewWordLength(false);
    conversion->setNeedsRedither(false);
    conversion->setNeedsSampleRateConversion(true);
    conversion->setSampleRate(44100);
    conversion->setSampleRateConvertQuality(4);
    for (auto _ : state) {
        const std::string out = gDir + "/ours" + std::to_string(++gSerial);
        std::filesystem::create_directories(out);
        ConversionProcess process;
        if (RunBatch(process, {gInput}, {conversion}, out) != 0 ||
            !std::filesystem::exists(out + "/Rate/in.wav")) {
            state.SkipWithError("our conversion failed");
            break;
        }
        state.PauseTiming();
        std::filesystem::remove_all(out);
        state.ResumeTiming();
    }
}

void Sox(benchmark::State& state, const char* quality) {
    for (auto _ : state) {
        const std::string path = gDir + "/sox" + std::to_string(++gSerial) + ".wav";
        const std::string command =
            "sox -D '" + gInput + "' '" + path + "' rate " + quality + " 44100 2>/dev/null";
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("sox failed");
            break;
        }
        state.PauseTiming();
        ::unlink(path.c_str());
        state.ResumeTiming();
    }
}

// The console output as usual, and each benchmark's best time by name.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports)
            if (!run.error_occurred && run.run_type == Run::RT_Aggregate &&
                run.aggregate_name == "min")
                seconds_[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    void PrintRatios() const {
        const auto ours = seconds_.find("ours/best");
        if (ours == seconds_.end() || ours->second <= 0) return;
        std::printf("\nratio sox/ours of the time for the whole file (above 1: ours is faster):\n");
        for (const char* sox : {"sox/-v", "sox/-q"}) {
            const auto s = seconds_.find(sox);
            if (s != seconds_.end()) std::printf("  %-8s %.2f\n", sox, s->second / ours->second);
        }
    }

private:
    std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!SetUp()) {
        std::fprintf(stderr, "no input: sox is needed to make it and to compare with\n");
        return 0;
    }
    // Each run takes seconds: three single runs of each, the best one counted.
    auto configure = [](benchmark::internal::Benchmark* b) {
        b->UseRealTime()->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(3)
            ->ComputeStatistics("min", [](const std::vector<double>& v) {
                return *std::min_element(v.begin(), v.end());
            })
            ->ReportAggregatesOnly(true);
    };
    configure(benchmark::RegisterBenchmark("ours/best", Ours));
    configure(benchmark::RegisterBenchmark("sox/-v", [](benchmark::State& s) { Sox(s, "-v"); }));
    configure(benchmark::RegisterBenchmark("sox/-q", [](benchmark::State& s) { Sox(s, "-q"); }));
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    std::error_code ec;
    std::filesystem::remove_all(gDir, ec);
    benchmark::Shutdown();
    return 0;
}
