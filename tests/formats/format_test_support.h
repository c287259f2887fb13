// Helpers shared by the format tests: a fixture with a fresh folder, samples
// to and from the buffer form, every frame of a sound file read or written
// block by block, and running the peers (sox, ffmpeg, libsndfile's programs).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "soundfile/sound_file.h"
#include "test_support.h"

namespace formattest {

// A test with a fresh folder; the region settings a test may change are put
// back afterwards.
class FileTest : public ::testing::Test {
protected:
    void TearDown() override {
        CSoundFile::SetIgnoreRegionsContainingWholeFile(true);
        CSoundFile::SetProcessFileIfNoRegions(true);
        CSoundFile::SetSkipBadRegion(false);
    }
    // Writes the bytes as a file of the folder; its path.
    std::string Put(const std::string& name, const std::string& bytes) {
        const std::string path = dir / name;
        testsupport::WriteFile(path, bytes);
        return path;
    }
    testsupport::TempDir dir;
};

// ---- The buffer form --------------------------------------------------------

// Samples as the bytes of the buffer form (the machine's byte order), and back.
template <class Sample>
std::vector<uint8_t> NativeBytes(const std::vector<Sample>& samples) {
    std::vector<uint8_t> out(samples.size() * sizeof(Sample));
    std::memcpy(out.data(), samples.data(), out.size());
    return out;
}
template <class Sample>
std::vector<Sample> NativeSamples(const std::vector<uint8_t>& bytes) {
    std::vector<Sample> out(bytes.size() / sizeof(Sample));
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(Sample));
    return out;
}
inline std::vector<uint8_t> Native16(const std::vector<int16_t>& samples) {
    return NativeBytes(samples);
}
inline std::vector<uint8_t> Native32(const std::vector<int32_t>& samples) {
    return NativeBytes(samples);
}
inline std::vector<int16_t> Samples16(const std::vector<uint8_t>& bytes) {
    return NativeSamples<int16_t>(bytes);
}
inline std::vector<int32_t> Samples32(const std::vector<uint8_t>& bytes) {
    return NativeSamples<int32_t>(bytes);
}

// Every frame of an open file in the buffer form, block by block.
inline OSErr ReadAllFrames(CSoundFile& file, std::vector<uint8_t>* out) {
    out->clear();
    const uint64_t frameBytes = static_cast<uint64_t>(file.GetWordSize() / 8) *
                                static_cast<uint64_t>(file.GetNumChannels());
    const uint32_t frames = file.GetNumSFrames();
    for (uint32_t frame = 0; frame < frames; frame += file.GetBufferFrames()) {
        if (OSErr err = file.RefreshInputBuffer(frame)) return err;
        const uint64_t n = std::min<uint64_t>(file.GetBufferFrames(), frames - frame) * frameBytes;
        out->insert(out->end(), file.GetInputBuffer(), file.GetInputBuffer() + n);
    }
    return 0;
}

// Writes frames given in the buffer form from a frame position on, block by block.
inline OSErr WriteBufferForm(CSoundFile& file, uint32_t at, const std::vector<uint8_t>& bytes) {
    if (OSErr err = file.InitOutputBuffer()) return err;
    const uint64_t frameBytes =
        static_cast<uint64_t>(file.GetWordSize() / 8) * file.GetNumChannels();
    const uint32_t frames = static_cast<uint32_t>(bytes.size() / frameBytes);
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(file.GetBufferFrames(), frames - done);
        if (OSErr err = file.RefreshOutputBuffer(at + done)) return err;
        std::memcpy(file.GetOutputBuffer(), bytes.data() + done * frameBytes, n * frameBytes);
        if (OSErr err = file.FlushOutputBuffer(n, at + done)) return err;
        done += n;
    }
    return 0;
}

// ---- Word sizes that are not whole bytes --------------------------------------

// Samples to write through Write (no dither) at a word size of `bits` bits that
// is not whole bytes, and what each must read back as: the sample as its
// container's write makes it, with the bits below the asked size cleared,
// left-justified in 32 bits. Most lie on the grid of the asked size (and come
// back exactly), with both ends of the range; the others lie between.
struct NarrowSamples {
    std::vector<double> written;
    std::vector<int32_t> leftJustified;
};

inline NarrowSamples MakeNarrowSamples(int bits, size_t count, unsigned seed) {
    const int container = (bits + 7) / 8 * 8;
    const double step = std::ldexp(1.0, 1 - bits);
    uint32_t state = seed * 2654435761u + 1;
    NarrowSamples out;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        double x;
        if (i == 0)
            x = -1.0;
        else if (i == 1)
            x = 1.0 - step;
        else if (i % 5 == 4)
            x = (static_cast<double>(state) / 4294967296.0 * 2.0 - 1.0) * 0.99;
        else
            x = static_cast<double>(static_cast<int32_t>(state) >> (32 - bits)) * step;
        out.written.push_back(x);
        const int64_t stored = static_cast<int64_t>(std::trunc(x * std::ldexp(1.0, container - 1)));
        const int64_t cleared = stored & ~((int64_t{1} << (container - bits)) - 1);
        out.leftJustified.push_back(static_cast<int32_t>(static_cast<uint32_t>(cleared) << (32 - container)));
    }
    return out;
}

// ---- Peers ----------------------------------------------------------------------

// Runs a shell command (its errors silenced); its standard output, and whether
// it exited with 0.
inline bool RunCommand(const std::string& command, std::string* output = nullptr) {
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return false;
    std::string text;
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, pipe)) > 0) text.append(block, n);
    const int status = ::pclose(pipe);
    if (output) *output = text;
    return status == 0;
}

// A path quoted for the shell.
inline std::string Quote(const std::string& path) {
    return "'" + path + "'";
}

}  // namespace formattest
