// Sample-rate conversion of a whole WAVE file (20 s of 16-bit stereo, two
// sweeps) from 44.1 to 48 kHz: our polyphase converter (SRConvert003, file to
// file through our WAVE class) against sox's rate on the same file, in one run.
// Each case pairs a quality of ours with sox's nearest: automatic (32 periods
// for 16 bits) with sox's default -h, 64 periods with -v. Neither side dithers
// (sox -D). After the runs a table gives each case's ratio of sox's time to
// ours (above 1: ours is faster). The ratios are information only.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "conversion/cconv_spec.h"
#include "dsp/numbered_src.h"
#include "formats/pcm/wave_file.h"
#include "foundation/pstring.h"
#include "soundfile/progress.h"
#include "soundfile/sound_file.h"

namespace {

std::string gDir;    // the temporary folder
std::string gInput;  // the WAVE file both sides convert
unsigned long gSerial = 0;

bool SetUp() {
    try {
        CSoundFile::GetPathForSoundFileResource("SoundFileProperties");
    } catch (const error_code_exception&) {
        std::fprintf(stderr, "the resource folder was not found (set CORVANE_RESOURCE_DIR)\n");
        return false;
    }
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/corvane-bench-XXXXXX";
    if (!::mkdtemp(tmpl.data())) return false;
    gDir = tmpl;
    gInput = gDir + "/in.wav";
    const std::string make = "sox -D -n -r 44100 -c 2 -b 16 '" + gInput +
                             "' synth 20 sine 20-20000 sine 300-5000 gain -3 2>/dev/null";
    return std::system(make.c_str()) == 0;
}

void Ours(benchmark::State& state, short quality) {
    unsigned char extension[256];
    pstrcpy(std::string("wav"), extension);
    CConvSpec conversion(std::make_shared<ConvSpec>());
    conversion.SetSampleRate(48000);
    conversion.SetSRConvertQuality(quality);
    conversion.SetNeedsRedither(0);
    conversion.SetCopyExtras(0);
    for (auto _ : state) {
        SoundFilePtr in(new CWAVEFile), out(new CWAVEFile);
        const std::string stem = gDir + "/ours" + std::to_string(++gSerial);
        if (in->ISoundFile(gInput) != 0 || in->Open() != 0 || out->ISoundFile(stem) != 0 ||
            out->Create(2, 16, 48000, nullptr, extension) != 0 ||
            SRConvert003(in.get(), out.get(), &conversion) != 0) {
            state.SkipWithError("our conversion failed");
            break;
        }
        const std::string path = out->GetPath();
        out.reset();
        in.reset();
        state.PauseTiming();
        ::unlink(path.c_str());
        CorvaOutFile::Clear();
        state.ResumeTiming();
    }
}

void Sox(benchmark::State& state, const char* quality) {
    for (auto _ : state) {
        const std::string path = gDir + "/sox" + std::to_string(++gSerial) + ".wav";
        const std::string command =
            "sox -D '" + gInput + "' '" + path + "' rate " + quality + " 48000 2>/dev/null";
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("sox failed");
            break;
        }
        state.PauseTiming();
        ::unlink(path.c_str());
        state.ResumeTiming();
    }
}

const char* const kCases[][3] = {{"automatic", "1", "-h"}, {"64 periods", "4", "-v"}};

// The console output as usual, and each benchmark's time per iteration by name.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                seconds_[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    void PrintRatios() const {
        std::printf("\nratio sox/ours of the time for one file (above 1: ours is faster):\n");
        for (const auto& c : kCases) {
            const auto ours = seconds_.find(std::string(c[0]) + "/ours");
            const auto sox = seconds_.find(std::string(c[0]) + "/sox");
            if (ours == seconds_.end() || sox == seconds_.end() || ours->second <= 0) continue;
            std::printf("  %-12s %.2f\n", c[0], sox->second / ours->second);
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
    for (const auto& c : kCases) {
        const short quality = static_cast<short>(std::atoi(c[1]));
        const char* soxQuality = c[2];
        benchmark::RegisterBenchmark((std::string(c[0]) + "/ours").c_str(),
                                     [quality](benchmark::State& s) { Ours(s, quality); })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string(c[0]) + "/sox").c_str(),
                                     [soxQuality](benchmark::State& s) { Sox(s, soxQuality); })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    std::error_code ec;
    std::filesystem::remove_all(gDir, ec);
    benchmark::Shutdown();
    return 0;
}
