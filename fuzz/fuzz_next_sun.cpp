// Feeds arbitrary bytes to the three NeXT/Sun readers. Whatever a reader accepts
// must be readable to its last frame, and must write out and read back to the
// same samples in the buffer form.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/pcm/next_sun_file.h"
#include "soundfile/progress.h"

namespace {

constexpr uint32_t kBufferFrames = 256;
constexpr uint32_t kMaxRoundTripFrames = 4096;

const std::string& WorkFolder() {
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/corvane-fuzz-snd-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    return folder;
}

bool WriteAll(const std::string& path, const uint8_t* data, size_t size) {
    ::unlink(path.c_str());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Reads every frame; the bytes of the frames in the buffer form.
std::vector<uint8_t> ReadEverything(CSoundFile& f) {
    std::vector<uint8_t> out;
    const uint64_t frameBytes = static_cast<uint64_t>(f.GetWordSize() / 8) * f.GetNumChannels();
    for (uint32_t frame = 0; frame < f.GetNumSFrames(); frame += kBufferFrames) {
        // What Open accepted is really in the file.
        if (f.RefreshInputBuffer(frame) != 0) std::abort();
        const uint64_t n = std::min<uint64_t>(kBufferFrames, f.GetNumSFrames() - frame) * frameBytes;
        out.insert(out.end(), f.GetInputBuffer(), f.GetInputBuffer() + n);
    }
    return out;
}

template <class T>
void RoundTrip(T& in, const std::vector<uint8_t>& samples) {
    const std::string path = WorkFolder() + "/copy";
    ::unlink((path + ".snd").c_str());
    T out;
    if (out.ISoundFile(path) != 0) std::abort();
    out.SetSFTBufferSize(kBufferFrames);
    if (out.Create(in.GetNumChannels(), in.GetWordSize(), static_cast<float>(in.GetSampleRate()), nullptr,
                   reinterpret_cast<const unsigned char*>("\x04.snd")) != 0)
        std::abort();
    const uint64_t frameBytes = static_cast<uint64_t>(in.GetWordSize() / 8) * in.GetNumChannels();
    const uint32_t frames = in.GetNumSFrames();
    if (out.InitOutputBuffer() != 0) std::abort();
    for (uint32_t frame = 0; frame < frames; frame += kBufferFrames) {
        const uint32_t n = std::min(kBufferFrames, frames - frame);
        if (out.RefreshOutputBuffer(frame) != 0) std::abort();
        std::memcpy(out.GetOutputBuffer(), samples.data() + frame * frameBytes, n * frameBytes);
        if (out.FlushOutputBuffer(n, frame) != 0) std::abort();
    }
    if (out.Close() != 0) std::abort();
    CorvaOutFile::Clear();
    T back;
    back.ISoundFile(out.GetPath());
    back.SetSFTBufferSize(kBufferFrames);
    if (back.Open() != 0) std::abort();
    // Companded samples read from a file are expansions of codes, which compress
    // to codes of the same expansion.
    if (back.GetNumSFrames() != frames || ReadEverything(back) != samples) std::abort();
}

template <class T>
void ReadAs(const std::string& path) {
    T f;
    if (f.ISoundFile(path) != 0) return;
    f.SetSFTBufferSize(kBufferFrames);
    if (f.Open() != 0) return;
    std::vector<uint8_t> samples = ReadEverything(f);
    if (f.GetNumSFrames() <= kMaxRoundTripFrames) RoundTrip(f, samples);
    T info;
    info.ISoundFile(path);
    OSErr status;
    info.GetOfflineInfo(&status);
    if (info.IsOpen() || info.GetNumSFrames() != f.GetNumSFrames()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Without the program's resources every binding reports the missing type
    // table; the lines would only slow the run down.
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WorkFolder() + "/in.snd";
    if (!WriteAll(path, data, size)) return 0;
    ReadAs<CNeXT_SUNFile>(path);
    ReadAs<CNeXTALawFile>(path);
    ReadAs<CNeXTAUFile>(path);
    return 0;
}
