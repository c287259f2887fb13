// The copy steps on real files against sox doing the same in one run: 10 s of
// 24-bit stereo WAVE reduced to 16 bits (rounded, no dither), kept in stereo or
// mixed to mono. One iteration times our whole step (open the input, create the
// output, copy, close) and then `sox in.wav -b 16 -D out.wav [remix 1,2]`; the
// counter "speedup" is sox's time over ours (above 1: ours is faster).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "bench_support.h"
#include "conversion/cconv_spec.h"
#include "dsp/copy_steps.h"
#include "formats/pcm/wave_file.h"
#include "foundation/pstring.h"
#include "soundfile/progress.h"
#include "soundfile/sound_file.h"

namespace {

benchsupport::ScratchFolder* gScratch = nullptr;
std::string gDir;    // the scratch folder
std::string gInput;  // 10 s of 24-bit stereo at 44.1 kHz, made by sox

bool SetUp() {
    if (!benchsupport::HaveResources() || gScratch->path().empty()) return false;
    gDir = gScratch->path();
    gInput = *gScratch / "in.wav";
    return benchsupport::MakeWithSox("-n -r 44100 -c 2 -b 24", gInput,
                                     "synth 10 sine 440 sine 660 vol 0.5");
}

// Our step from the input to a new 16-bit WAVE output; false on a failure.
bool RunOurs(bool mix, CConvSpec& conversion) {
    SoundFilePtr in(new CWAVEFile), out(new CWAVEFile);
    unsigned char extension[256];
    pstrcpy(std::string("wav"), extension);
    if (in->ISoundFile(gInput) != 0 || in->Open() != 0) return false;
    if (out->ISoundFile(gDir + "/ours") != 0 ||
        out->Create(mix ? 1 : 2, 16, 44100.0f, nullptr, extension) != 0)
        return false;
    const OSErr err =
        mix ? Copy048(in.get(), out.get(), &conversion) : Copy000(in.get(), out.get(), &conversion);
    const std::string path = out->GetPath();
    const bool ok = err == 0 && out->Close() == 0;
    out.reset();
    ::unlink(path.c_str());
    CorvaOutFile::Clear();
    return ok;
}

void Copy(benchmark::State& state, bool mix) {
    CConvSpec conversion(std::make_shared<ConvSpec>());
    const std::string sox =
        "sox '" + gInput + "' -b 16 -D '" + gDir + "/sox.wav'" + (mix ? " remix 1,2" : "");
    benchsupport::TimeAgainstPeer(
        state, [&] { return RunOurs(mix, conversion); }, sox, "our copy step failed");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchsupport::ScratchFolder scratch;
    gScratch = &scratch;
    const bool ready = SetUp();
    if (ready) {
        benchmark::RegisterBenchmark("copy/24to16", [](benchmark::State& s) { Copy(s, false); })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("mix/24to16", [](benchmark::State& s) { Copy(s, true); })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RunSpecifiedBenchmarks();
    } else {
        std::fprintf(stderr, "could not make the input file with sox\n");
    }
    benchmark::Shutdown();
    return ready ? 0 : 1;
}
