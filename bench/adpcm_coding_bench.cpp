// Coding speed of the G.726-family coder against spandsp's, and of Microsoft
// ADPCM files (written through the coded-file protocol and read back) against
// libsndfile, in one run. Items are samples (G.726) or frames (files); after the
// runs a table gives each case's ratio ours/peer of items per second (above 1:
// ours is faster). The ratios are information only.
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "formats/register_sound_files.h"
#include "formats/telephony/g72x.h"
#include "formats/telephony/ms_adpcm_file.h"
#include "soundfile/progress.h"

extern "C" {
#include <spandsp/telephony.h>
#include <spandsp/bitstream.h>
#include <spandsp/g726.h>
}

namespace {

constexpr uint32_t kSamples = 80000;  // 10 s at 8 kHz
constexpr uint32_t kFrames = 441000;  // 10 s of stereo at 44.1 kHz
constexpr uint32_t kBlock = 4096;

struct Fixture {
    std::string dir;
    std::vector<int16_t> speech;  // kSamples mono
    std::vector<uint8_t> codes;   // its 4-bit codes
    std::vector<int16_t> music;   // kFrames stereo
    std::string ours, theirs;     // the same music as our and libsndfile's MS ADPCM
    unsigned serial = 0;
};
Fixture gFix;

void G726EncodeOurs(benchmark::State& state) {
    for (auto _ : state) {
        g72x_state s;
        g72x_init_state(&s);
        int sum = 0;
        for (int16_t x : gFix.speech) sum += g721_encoder(x, kG72xLinearCoding, &s);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kSamples);
}

void G726EncodePeer(benchmark::State& state) {
    std::vector<uint8_t> out(kSamples);
    for (auto _ : state) {
        g726_state_t* s = g726_init(nullptr, 32000, G726_ENCODING_LINEAR, G726_PACKING_NONE);
        std::vector<int16_t> in(gFix.speech);
        benchmark::DoNotOptimize(g726_encode(s, out.data(), in.data(), kSamples));
        g726_free(s);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kSamples);
}

void G726DecodeOurs(benchmark::State& state) {
    for (auto _ : state) {
        g72x_state s;
        g72x_init_state(&s);
        int sum = 0;
        for (uint8_t c : gFix.codes) sum += g721_decoder(c, kG72xLinearCoding, &s);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kSamples);
}

void G726DecodePeer(benchmark::State& state) {
    std::vector<int16_t> out(kSamples);
    for (auto _ : state) {
        g726_state_t* s = g726_init(nullptr, 32000, G726_ENCODING_LINEAR, G726_PACKING_NONE);
        benchmark::DoNotOptimize(g726_decode(s, out.data(), gFix.codes.data(), kSamples));
        g726_free(s);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kSamples);
}

void MSWriteOurs(benchmark::State& state) {
    for (auto _ : state) {
        const std::string path = gFix.dir + "/ours" + std::to_string(++gFix.serial) + ".wav";
        CMSADPCMFile f;
        f.ISoundFile(path);
        f.Create(2, 16, 44100.0f, nullptr, nullptr);
        f.InitOutputBuffer();
        for (uint32_t done = 0; done < kFrames; done += kBlock) {
            const uint32_t n = std::min(kBlock, kFrames - done);
            f.RefreshOutputBuffer(done);
            std::memcpy(f.GetOutputBuffer(), gFix.music.data() + 2 * done, n * 4);
            f.FlushOutputBuffer(n, done);
        }
        f.Close();
        state.PauseTiming();
        std::filesystem::remove(f.GetPath());
        CorvaOutFile::Clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFrames);
}

void MSWritePeer(benchmark::State& state) {
    for (auto _ : state) {
        const std::string path = gFix.dir + "/theirs" + std::to_string(++gFix.serial) + ".wav";
        SF_INFO info{};
        info.channels = 2;
        info.samplerate = 44100;
        info.format = SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        for (uint32_t done = 0; done < kFrames; done += kBlock)
            sf_writef_short(f, gFix.music.data() + 2 * done, std::min(kBlock, kFrames - done));
        sf_close(f);
        state.PauseTiming();
        std::filesystem::remove(path);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFrames);
}

void MSReadOurs(benchmark::State& state) {
    for (auto _ : state) {
        CMSADPCMFile f;
        f.ISoundFile(gFix.ours);
        f.SetSFTBufferSize(kBlock);
        if (OSErr err = f.Open()) {
            state.SkipWithError(("our file does not open: " + std::to_string(err)).c_str());
            break;
        }
        for (uint32_t frame = 0; frame < f.GetNumSFrames(); frame += kBlock) f.RefreshInputBuffer(frame);
        benchmark::DoNotOptimize(f.GetInputBuffer()[0]);
        f.Close();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFrames);
}

void MSReadPeer(benchmark::State& state) {
    std::vector<int16_t> block(2 * kBlock);
    for (auto _ : state) {
        SF_INFO info{};
        SNDFILE* f = sf_open(gFix.theirs.c_str(), SFM_READ, &info);
        while (sf_readf_short(f, block.data(), kBlock) > 0) {
        }
        benchmark::DoNotOptimize(block[0]);
        sf_close(f);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFrames);
}

bool SetUp() {
    char pattern[] = "/tmp/corvane-adpcm-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return false;
    gFix.dir = pattern;
    for (uint32_t i = 0; i < kSamples; ++i)
        gFix.speech.push_back(static_cast<int16_t>(
            std::lround(9000 * std::sin(i * 0.05) * std::sin(i * 0.0011) + 2000 * std::sin(i * 0.9))));
    g72x_state s;
    g72x_init_state(&s);
    for (int16_t x : gFix.speech) gFix.codes.push_back(static_cast<uint8_t>(g721_encoder(x, 3, &s)));
    for (uint32_t i = 0; i < kFrames; ++i) {
        gFix.music.push_back(static_cast<int16_t>(std::lround(12000 * std::sin(i * 0.031))));
        gFix.music.push_back(static_cast<int16_t>(std::lround(12000 * std::sin(i * 0.047))));
    }
    gFix.ours = gFix.dir + "/ours.wav";
    {
        CMSADPCMFile f;
        f.ISoundFile(gFix.ours);
        if (f.Create(2, 16, 44100.0f, nullptr, nullptr) != 0) return false;
        f.InitOutputBuffer();
        for (uint32_t done = 0; done < kFrames; done += kBlock) {
            const uint32_t n = std::min(kBlock, kFrames - done);
            f.RefreshOutputBuffer(done);
            std::memcpy(f.GetOutputBuffer(), gFix.music.data() + 2 * done, n * 4);
            f.FlushOutputBuffer(n, done);
        }
        if (f.Close() != 0) return false;
        // Create adds the type's name extension.
        gFix.ours = f.GetPath();
        CorvaOutFile::Clear();
    }
    gFix.theirs = gFix.dir + "/theirs.wav";
    SF_INFO info{};
    info.channels = 2;
    info.samplerate = 44100;
    info.format = SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM;
    SNDFILE* f = sf_open(gFix.theirs.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    sf_writef_short(f, gFix.music.data(), kFrames);
    sf_close(f);
    return true;
}

// The console output as usual, and each benchmark's items per second kept by name.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            auto it = run.counters.find("items_per_second");
            if (!run.error_occurred && it != run.counters.end())
                rates_[run.run_name.function_name] = it->second.value;
        }
    }
    void PrintRatios() const {
        std::printf("\nratio ours/peer of items per second (above 1: ours is faster):\n");
        for (const char* name : {"G726/encode", "G726/decode", "MSADPCM/write", "MSADPCM/read"}) {
            const std::string n = name;
            const auto ours = rates_.find(n + "/ours");
            const auto peer = rates_.find(n + "/peer");
            if (ours == rates_.end() || peer == rates_.end() || peer->second <= 0) continue;
            std::printf("  %-14s %.2f\n", name, ours->second / peer->second);
        }
        std::printf("(peers: spandsp for G.726, libsndfile for MS ADPCM)\n");
    }

private:
    std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    error_code_exception::log_exception = false;
    // Our writer makes its temporary file through the factory.
    RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
    const bool ready = SetUp();
    if (ready) {
        benchmark::RegisterBenchmark("G726/encode/ours", G726EncodeOurs);
        benchmark::RegisterBenchmark("G726/encode/peer", G726EncodePeer);
        benchmark::RegisterBenchmark("G726/decode/ours", G726DecodeOurs);
        benchmark::RegisterBenchmark("G726/decode/peer", G726DecodePeer);
        benchmark::RegisterBenchmark("MSADPCM/write/ours", MSWriteOurs);
        benchmark::RegisterBenchmark("MSADPCM/write/peer", MSWritePeer);
        benchmark::RegisterBenchmark("MSADPCM/read/ours", MSReadOurs);
        benchmark::RegisterBenchmark("MSADPCM/read/peer", MSReadPeer);
        RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        reporter.PrintRatios();
    } else {
        std::fprintf(stderr, "could not set up the inputs\n");
    }
    benchmark::Shutdown();
    if (!gFix.dir.empty()) std::filesystem::remove_all(gFix.dir);
    return ready ? 0 : 1;
}
