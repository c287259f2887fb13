// Sample-rate conversion as a whole process: ten minutes of 96 kHz 24-bit stereo
// WAVE to 44.1 kHz, through the engine's batch runner with the best quality
// (64 periods), timed next to `sox rate -v` on the same file. Each repetition
// runs ours and then sox; after the runs a table gives the median, least and
// greatest ratio of our wall time to sox's (at most 1: ours is as fast) and
// each side's wall and processor time. Nobody dithers (sox -D).
//
//   src_batch_bench [--benchmark_repetitions=N] [--load]
//
// --load keeps every processor busy with a busy loop at normal priority from
// before the first run to after the last. Held to one processor, both sides
// alike: taskset -c 0 src_batch_bench. The ratios are information only.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
bool gLoad = false;  // --load: every processor busy while the runs go on

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

std::shared_ptr<ConvSpec> RateConversion() {
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
    return conversion;
}

// Wall and processor seconds of one run.
struct Times {
    double wall = 0, cpu = 0;
};

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }
double CpuOf(int who) {
    rusage u{};
    ::getrusage(who, &u);
    return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}
double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool RunOurs(Times* t) {
    const std::string out = gDir + "/ours" + std::to_string(++gSerial);
    std::filesystem::create_directories(out);
    const double cpu0 = CpuOf(RUSAGE_SELF), wall0 = Now();
    ConversionProcess process;
    const bool ok = RunBatch(process, {gInput}, {RateConversion()}, out) == 0 &&
                    std::filesystem::exists(out + "/Rate/in.wav");
    t->wall = Now() - wall0;
    t->cpu = CpuOf(RUSAGE_SELF) - cpu0;
    std::filesystem::remove_all(out);
    return ok;
}

bool RunSox(Times* t) {
    const std::string path = gDir + "/sox" + std::to_string(++gSerial) + ".wav";
    const std::string command = "sox -D '" + gInput + "' '" + path + "' rate -v 44100 2>/dev/null";
    const double cpu0 = CpuOf(RUSAGE_CHILDREN), wall0 = Now();
    const bool ok = std::system(command.c_str()) == 0;
    t->wall = Now() - wall0;
    t->cpu = CpuOf(RUSAGE_CHILDREN) - cpu0;
    ::unlink(path.c_str());
    return ok;
}

std::vector<Times> gOurs, gSox;

// One repetition: ours, then sox, so that both meet the machine as it is.
void Pair(benchmark::State& state) {
    for (auto _ : state) {
        Times ours, sox;
        if (!RunOurs(&ours)) {
            state.SkipWithError("our conversion failed");
            break;
        }
        if (!RunSox(&sox)) {
            state.SkipWithError("sox failed");
            break;
        }
        gOurs.push_back(ours);
        gSox.push_back(sox);
        state.SetIterationTime(ours.wall);
        state.counters["sox_s"] = sox.wall;
        state.counters["ratio"] = ours.wall / sox.wall;
    }
}

struct Spread {
    double median, min, max;
};
Spread SpreadOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return {n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2, v.front(), v.back()};
}

void PrintTable() {
    if (gOurs.empty()) return;
    std::vector<double> ratio, oursWall, soxWall, oursCpu, soxCpu;
    for (size_t i = 0; i < gOurs.size(); ++i) {
        ratio.push_back(gOurs[i].wall / gSox[i].wall);
        oursWall.push_back(gOurs[i].wall);
        soxWall.push_back(gSox[i].wall);
        oursCpu.push_back(gOurs[i].cpu);
        soxCpu.push_back(gSox[i].cpu);
    }
    std::printf("\n%zu paired runs (ours, then sox rate -v)%s:\n", gOurs.size(),
                gLoad ? ", every processor loaded by a busy loop" : "");
    std::printf("%-22s %8s %8s %8s\n", "", "median", "min", "max");
    const auto row = [](const char* name, const std::vector<double>& v, const char* unit) {
        const Spread s = SpreadOf(v);
        std::printf("%-22s %8.3f %8.3f %8.3f %s\n", name, s.median, s.min, s.max, unit);
    };
    row("ours/sox wall time", ratio, "(at most 1: ours is as fast)");
    row("ours wall", oursWall, "s");
    row("sox wall", soxWall, "s");
    row("ours processor", oursCpu, "s");
    row("sox processor", soxCpu, "s");
}

// Busy loops at normal priority, one per processor, while the runs go on.
std::vector<pid_t> StartLoad() {
    std::vector<pid_t> children;
    const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
    for (long i = 0; i < processors; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            volatile unsigned long spin = 0;
            for (;;) spin = spin + 1;
        }
        if (pid > 0) children.push_back(pid);
    }
    return children;
}

void StopLoad(const std::vector<pid_t>& children) {
    for (pid_t pid : children) ::kill(pid, SIGKILL);
    for (pid_t pid : children) ::waitpid(pid, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
    // Our own flag, taken out before the benchmark library reads the rest.
    std::vector<char*> args;
    bool repetitionsGiven = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--load") == 0) {
            gLoad = true;
            continue;
        }
        if (std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0) repetitionsGiven = true;
        args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    if (!SetUp()) {
        std::fprintf(stderr, "no input: sox is needed to make it and to compare with\n");
        return 0;
    }
    auto* pair = benchmark::RegisterBenchmark("ours_then_sox", Pair);
    pair->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);
    if (!repetitionsGiven) pair->Repetitions(5);
    const std::vector<pid_t> load = gLoad ? StartLoad() : std::vector<pid_t>{};
    benchmark::RunSpecifiedBenchmarks();
    StopLoad(load);
    PrintTable();
    std::error_code ec;
    std::filesystem::remove_all(gDir, ec);
    benchmark::Shutdown();
    return 0;
}
