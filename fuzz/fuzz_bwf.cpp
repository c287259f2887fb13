// Feeds arbitrary bytes to the Broadcast Wave reader and to the companded and
// float WAVE readers as a file: opening, reading every frame, the regions and
// the offline information. What opens must describe itself within bounds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>

#include "formats/chunk_reader.h"
#include "formats/pcm/bwf_linear_file.h"
#include "formats/pcm/wave_variants.h"

namespace {

const std::string& ScratchPath() {
    static const std::string path = [] {
        const char* base = std::getenv("TMPDIR");
        return std::string(base && *base ? base : "/tmp") + "/fuzz_bwf_" + std::to_string(::getpid()) + ".wav";
    }();
    return path;
}

bool Put(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(ScratchPath().c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// `fileBytesPerSample`: 1 for the companded classes (16 bits in the buffers),
// else the buffers' own size.
void ReadEverything(CWAVEFile& f, size_t fileSize, uint32_t fileBytesPerSample) {
    const uint32_t channels = static_cast<uint32_t>(f.GetNumChannels());
    const short bits = f.GetWordSize();
    if (channels < 1 || channels > kMaxSoundFileChannels || bits < 8 || bits > 32) std::abort();
    const uint64_t frames = f.GetNumSFrames();
    const uint64_t frameBytes = static_cast<uint64_t>(fileBytesPerSample ? fileBytesPerSample : bits / 8) * channels;
    if (f.GetDataStart() > fileSize || frames * frameBytes > fileSize - f.GetDataStart()) std::abort();
    f.SetSFTBufferSize(64);
    for (uint64_t frame = 0; frame < frames; frame += f.GetBufferFrames())
        if (f.RefreshInputBuffer(static_cast<uint32_t>(frame)) != 0) std::abort();
    for (uint16_t i = 0; i < f.GetNumRegions(); ++i) {
        SFTRegion r;
        if (f.GetIndRegion(i, &r) != 0 || r.start < 0 || static_cast<uint64_t>(r.end) > frames) std::abort();
    }
}

template <class T>
void Exercise(size_t size, uint32_t fileBytesPerSample) {
    {
        T f;
        if (f.ISoundFile(ScratchPath()) != 0) return;
        if (f.Open() == 0) {
            ReadEverything(f, size, fileBytesPerSample);
            // The annotation is bounded to its field.
            if constexpr (std::is_same_v<T, CBWFLinearFile>)
                if (f.GetAnnotation().size() > 256) std::abort();
        }
    }
    {
        T f;
        short regions = -1;
        if (f.ISoundFile(ScratchPath()) != 0) return;
        f.GetOfflineInfo(&regions);
        if (f.IsOpen() || regions < 0) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!Put(data, size)) return 0;
    Exercise<CBWFLinearFile>(size, 0);
    Exercise<CWAVE_AuFile>(size, 1);
    Exercise<CWAVE_ALawFile>(size, 1);
    Exercise<CWAVEFloatFile>(size, 0);
    return 0;
}
