// What the signal-processing tests share: a fixture with a thread context and a
// conversion, in-memory sound files filled from sample lists, and sox on raw data.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
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
    std::shared_ptr<ConvSpec> record = std::make_shared<ConvSpec>();
    CConvSpec conversion{record};
};

// A file of interleaved samples (each as stored: 24-bit values right-justified,
// 32-bit words whole).
inline std::unique_ptr<MemorySoundFile> MemoryFile(short channels, short bits, const Samples& samples,
                                                   double rate = 44100.0, short dataType = 0) {
    const uint32_t frames = channels ? static_cast<uint32_t>(samples.size() / channels) : 0;
    auto file = std::make_unique<MemorySoundFile>(channels, bits, frames, rate, dataType);
    for (uint32_t i = 0; i < samples.size(); ++i) file->SetSample(i / channels, i % channels, samples[i]);
    return file;
}

inline Samples AllSamples(const MemorySoundFile& file) {
    Samples out;
    for (uint32_t f = 0; f < file.GetNumSFrames(); ++f)
        for (int c = 0; c < file.GetNumChannels(); ++c)
            out.push_back(file.GetSample(f, static_cast<uint32_t>(c)));
    return out;
}

// Runs sox over raw samples and gives its raw output; `inputs` and `outputs`
// are sox's format options for the two sides.
inline bool SoxRaw(const std::string& in, const std::string& inputs, const std::string& outputs,
                   const std::string& effects, std::string* out) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "in.raw", in);
    const std::string command = "sox -t raw " + inputs + " '" + (dir / "in.raw") + "' -t raw " + outputs +
                                " '" + (dir / "out.raw") + "' " + effects + " 2>/dev/null";
    if (std::system(command.c_str()) != 0) return false;
    *out = testsupport::ReadFile(dir / "out.raw");
    return true;
}

}  // namespace dsptest
