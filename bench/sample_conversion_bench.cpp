// Throughput of the sample conversions: reading interleaved stereo as floats and
// writing interleaved stereo doubles, 16- and 24-bit, through the in-memory test
// format (whose refresh and flush are plain copies). Items are frames, so
// items_per_second is frames per second. The argument is the conversion path:
// 0 plain, 1 SSE2, 2 AVX2 (a path the machine lacks runs as the best it has).

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "soundfile/memory_sound_file.h"
#include "soundfile/sample_conversion.h"
#include "soundfile/sample_conversion_blocks.h"

using testsupport::MemorySoundFile;

namespace {

constexpr uint32_t kFrames = 1u << 16;  // frames per call: several buffer refills
constexpr short kChannels = 2;

// A stereo test signal at about half scale, left and right out of phase.
std::vector<double> Signal() {
    std::vector<double> x(static_cast<size_t>(kFrames) * kChannels);
    for (uint32_t i = 0; i < kFrames; ++i) {
        const double s = 0.5 * std::sin(0.013 * i);
        x[2 * i] = s;
        x[2 * i + 1] = -s;
    }
    return x;
}

void ReadFloat(benchmark::State& state, short wordSize) {
    sampleblocks::UsePath(static_cast<sampleblocks::Path>(state.range(0)));
    MemorySoundFile file(kChannels, wordSize, kFrames);
    file.SetDither(0);
    std::vector<double> signal = Signal();
    uint32_t count = kFrames;
    if (file.Write(0, &count, signal.data()) != 0) {
        state.SkipWithError("could not fill the file");
        return;
    }
    std::vector<float> out(signal.size());
    for (auto _ : state) {
        count = kFrames;
        if (file.Read(0, &count, out.data()) != 0 || count != kFrames) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFrames);
}

void WriteDouble(benchmark::State& state, short wordSize, bool dither) {
    sampleblocks::UsePath(static_cast<sampleblocks::Path>(state.range(0)));
    MemorySoundFile file(kChannels, wordSize, kFrames);  // sized once: flushes do not grow it
    file.SetDither(dither ? 1 : 0);
    if (dither && fillDither() != 0) {
        state.SkipWithError("no dither table");
        return;
    }
    const std::vector<double> signal = Signal();
    std::vector<double> in = signal;
    for (auto _ : state) {
        uint32_t count = kFrames;
        if (file.Write(0, &count, in.data()) != 0 || count != kFrames) {
            state.SkipWithError("write failed");
            break;
        }
        benchmark::DoNotOptimize(file.samples.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFrames);
}

void BM_ReadFloat16Stereo(benchmark::State& state) { ReadFloat(state, 16); }
void BM_ReadFloat24Stereo(benchmark::State& state) { ReadFloat(state, 24); }
void BM_Write16Stereo(benchmark::State& state) { WriteDouble(state, 16, false); }
void BM_Write16StereoDithered(benchmark::State& state) { WriteDouble(state, 16, true); }
void BM_Write24Stereo(benchmark::State& state) { WriteDouble(state, 24, false); }

}  // namespace

BENCHMARK(BM_ReadFloat16Stereo)->DenseRange(0, 2);
BENCHMARK(BM_ReadFloat24Stereo)->DenseRange(0, 2);
BENCHMARK(BM_Write16Stereo)->DenseRange(0, 2);
BENCHMARK(BM_Write16StereoDithered)->DenseRange(0, 2);
BENCHMARK(BM_Write24Stereo)->DenseRange(0, 2);
