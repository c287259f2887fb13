// Psychoacoustic model 2 per Layer II frame of one channel: the groundwork for
// comparing the MPEG encoder's speed with a peer encoder.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "formats/mpeg/mpeg_coding_state.h"

namespace {

void BM_PsychoAnalLayerII(benchmark::State& state) {
    std::vector<int16_t> frame(1152);
    for (size_t i = 0; i < frame.size(); ++i)  // two tones and a little noise
        frame[i] = static_cast<int16_t>(8000 * std::sin(2 * std::numbers::pi * 440 * i / 44100.0) +
                                        3000 * std::sin(2 * std::numbers::pi * 6100 * i / 44100.0) +
                                        static_cast<int>((i * 2654435761u) % 201) - 100);
    mpeg::MPEGEncoder enc;
    std::vector<int16_t> history(mpeg::kPsyHistory, 0);
    float smr[mpeg::SBLIMIT];
    for (auto _ : state) {
        enc.psy.psycho_anal(frame.data(), history.data(), 0, 2, smr, 44100);
        benchmark::DoNotOptimize(smr);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PsychoAnalLayerII);

}  // namespace

BENCHMARK_MAIN();
