// Feeds arbitrary bytes to the Broadcast Wave reader and to the companded and
// float WAVE readers as a file: opening, reading every frame, the regions and
// the offline information. What opens must describe itself within bounds.
#include <cstdint>
#include <string>
#include <type_traits>

#include "formats/pcm/bwf_linear_file.h"
#include "formats/pcm/wave_variants.h"
#include "fuzz_support.h"

namespace {

// `storedBytesPerSample`: 1 for the companded classes (16 bits in the buffers),
// else 0 (the buffers' own size).
template <class T>
void Exercise(const std::string& path, size_t size, uint32_t storedBytesPerSample) {
    {
        T f;
        if (f.ISoundFile(path) != 0) return;
        if (f.Open() == 0) {
            fuzzsupport::CheckWithinBounds(f, size, storedBytesPerSample);
            // The annotation is bounded to its field.
            if constexpr (std::is_same_v<T, CBWFLinearFile>)
                if (f.GetAnnotation().size() > 256) std::abort();
        }
    }
    {
        T f;
        short regions = -1;
        if (f.ISoundFile(path) != 0) return;
        f.GetOfflineInfo(&regions);
        if (f.IsOpen() || regions < 0) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzsupport::ScratchFolder("bwf") + "/in.wav";
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    Exercise<CBWFLinearFile>(path, size, 0);
    Exercise<CWAVE_AuFile>(path, size, 1);
    Exercise<CWAVE_ALawFile>(path, size, 1);
    Exercise<CWAVEFloatFile>(path, size, 0);
    return 0;
}
