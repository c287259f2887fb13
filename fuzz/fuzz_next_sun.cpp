// Feeds arbitrary bytes to the three NeXT/Sun readers. Whatever a reader accepts
// must be readable to its last frame, and must write out and read back to the
// same samples in the buffer form.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/pcm/next_sun_file.h"
#include "fuzz_support.h"

namespace {

constexpr uint32_t kBufferFrames = 256;
constexpr uint32_t kMaxRoundTripFrames = 4096;

const std::string& WorkFolder() { return fuzzsupport::ScratchFolder("snd"); }

template <class T>
void ReadAs(const std::string& path) {
    T f;
    if (f.ISoundFile(path) != 0) return;
    f.SetSFTBufferSize(kBufferFrames);
    if (f.Open() != 0) return;
    std::vector<uint8_t> samples = fuzzsupport::ReadEveryFrame(f);
    // Companded samples read from a file are expansions of codes, which compress
    // to codes of the same expansion: they too come back as they were.
    if (f.GetNumSFrames() <= kMaxRoundTripFrames)
        fuzzsupport::CopyAndCompare(f, samples, WorkFolder(), ".snd", false);
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
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    ReadAs<CNeXT_SUNFile>(path);
    ReadAs<CNeXTALawFile>(path);
    ReadAs<CNeXTAUFile>(path);
    return 0;
}
