// The gain pass on real files against sox doing the same in one run: 10 s of
// 24-bit stereo WAVE written as 16 bits without dither, raised by 6 dB (a peak
// already known, one pass) or normalized to -1 dB (our scan and gain pass, sox's
// `gain -n`, two passes each). One iteration times our whole step (open the
// input, create the output, scan when normalizing, gain, close) and then sox;
// the counter "speedup" is sox's time over ours (above 1: ours is faster).

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
#include "dsp/gain.h"
#include "dsp/scan.h"
#include "formats/pcm/wave_file.h"
#include "foundation/pstring.h"
#include "soundfile/progress.h"
#include "soundfile/sound_file.h"

namespace {

benchsupport::ScratchFolder* gScratch = nullptr;
std::string gDir;    // the scratch folder
std::string gInput;  // 10 s of 24-bit stereo at 44.1 kHz, peak 0.3, made by sox

bool SetUp() {
    if (!benchsupport::HaveResources() || gScratch->path().empty()) return false;
    gDir = gScratch->path();
    gInput = *gScratch / "in.wav";
    return benchsupport::MakeWithSox("-n -r 44100 -c 2 -b 24", gInput,
                                     "synth 10 sine 440 sine 660 vol 0.3");
}

// Our pass from the input to a new 16-bit WAVE output; false on a failure.
bool RunOurs(bool normalize, CConvSpec& conversion) {
    SoundFilePtr in(new CWAVEFile), out(new CWAVEFile);
    unsigned char extension[256];
    pstrcpy(std::string("wav"), extension);
    if (in->ISoundFile(gInput) != 0 || in->Open() != 0) return false;
    if (out->ISoundFile(gDir + "/ours") != 0 ||
        out->Create(2, 16, 44100.0f, nullptr, extension) != 0)
        return false;
    OSErr err = 0;
    if (normalize) {
        conversion.SetHasValidMax(0);
        err = ScanFile(in.get(), &conversion);
    } else {
        conversion.SetMax(0.3);  // as a rate conversion before would have measured it
        conversion.SetHasValidMax(1);
    }
    if (err == 0) err = Gain002(in.get(), out.get(), &conversion);
    const std::string path = out->GetPath();
    const bool ok = err == 0 && out->Close() == 0;
    out.reset();
    ::unlink(path.c_str());
    CorvaOutFile::Clear();
    return ok;
}

void Gain(benchmark::State& state, bool normalize) {
    CConvSpec conversion(std::make_shared<ConvSpec>());
    conversion.SetNeedsNormalize(normalize);
    conversion.SetCeiling(normalize ? -1.0 : 0.0);
    conversion.SetNeedsCompressor(!normalize);  // the boost alone, under the ceiling
    conversion.SetCompBoost(6.0);
    const std::string sox = "sox '" + gInput + "' -b 16 -D '" + gDir + "/sox.wav' " +
                            (normalize ? "gain -n -1" : "gain 6");
    benchsupport::TimeAgainstPeer(
        state, [&] { return RunOurs(normalize, conversion); }, sox, "our gain pass failed");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchsupport::ScratchFolder scratch;
    gScratch = &scratch;
    const bool ready = SetUp();
    if (ready) {
        benchmark::RegisterBenchmark("gain/6dB", [](benchmark::State& s) { Gain(s, false); })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("normalize/-1dB", [](benchmark::State& s) { Gain(s, true); })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RunSpecifiedBenchmarks();
    } else {
        std::fprintf(stderr, "could not make the input file with sox\n");
    }
    benchmark::Shutdown();
    return ready ? 0 : 1;
}
