// What the signal-processing tests share: a fixture with a thread context and a
// conversion, in-memory sound files from sample lists, and sox on raw output.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "conversion/cconv_spec.h"
#include "platform/thread_context.h"
#include "soundfile/memory_sound_file.h"
#include "test_support.h"

namespace dsptest {

using testsupport::MemorySoundFile;
using Samples = std::vector<int32_t>;

class DspTest : public ::testing::Test {
protected:
    platform::ThreadContext context;
    platform::ScopedThreadContext scope{&context};
    CConvSpec conversion{std::make_shared<ConvSpec>()};
};

// A file of interleaved samples, each as stored (24 bits right-justified).
inline std::unique_ptr<MemorySoundFile> MemoryFile(short channels, short bits,
                                                   const Samples& samples, double rate = 44100.0,
                                                   short dataType = 0) {
    auto file = std::make_unique<MemorySoundFile>(channels, bits, samples.size() / channels, rate,
                                                  dataType);
    for (uint32_t i = 0; i < samples.size(); ++i)
        file->SetSample(i / channels, i % channels, samples[i]);
    return file;
}

inline Samples AllSamples(const MemorySoundFile& file) {
    Samples out;
    for (uint32_t f = 0; f < file.GetNumSFrames(); ++f)
        for (int c = 0; c < file.GetNumChannels(); ++c) out.push_back(file.GetSample(f, c));
    return out;
}

// Runs `sox <input> -t raw <outputOptions> <file> <effects>` and gives the raw
// output; `input` is sox's input argument with its options.
inline bool SoxToRaw(const std::string& input, const std::string& outputOptions,
                     const std::string& effects, std::string* out) {
    testsupport::TempDir dir;
    const std::string command = "sox " + input + " -t raw " + outputOptions + " '" +
                                (dir / "out.raw") + "' " + effects + " 2>/dev/null";
    if (std::system(command.c_str()) != 0) return false;
    *out = testsupport::ReadFile(dir / "out.raw");
    return true;
}

// The largest difference between two runs of 16-bit samples; 65536 when their sizes differ.
inline int MaxDifference16(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return 65536;
    int worst = 0;
    for (size_t i = 0; i + 1 < a.size(); i += 2) {
        int16_t x, y;
        std::memcpy(&x, a.data() + i, 2);
        std::memcpy(&y, b.data() + i, 2);
        worst = std::max(worst, std::abs(x - y));
    }
    return worst;
}

}  // namespace dsptest
