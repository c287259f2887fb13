// Feeds arbitrary bytes to the Sonic AIFF reader. Whatever it accepts must
// describe itself within bounds, be readable to its last frame, and write out
// (in the packing mode just read) and read back to the same samples.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/pcm/sonic_file.h"
#include "fuzz_support.h"

namespace {

constexpr uint32_t kBufferFrames = 256;
constexpr uint32_t kMaxRoundTripFrames = 4096;

const std::string& WorkFolder() {
    return fuzzsupport::ScratchFolder("sonic");
}

void ReadSonic(const std::string& path, size_t size) {
    CSonicAIFFFile f;
    if (f.ISoundFile(path) != 0) return;
    f.SetSFTBufferSize(kBufferFrames);
    if (f.Open() != 0) return;
    const int channels = f.GetNumChannels();
    const short bits = f.GetWordSize();
    if (channels < 1 || channels > static_cast<int>(kMaxSoundFileChannels) ||
        bits != (f.GetPackingMode() == kSonic16Bit ? 16 : 24) || f.GetDataStart() > size)
        std::abort();
    const std::vector<uint8_t> samples = fuzzsupport::ReadEveryFrame(f);
    if (f.GetNumSFrames() <= kMaxRoundTripFrames)
        fuzzsupport::CopyAndCompare(f, samples, WorkFolder(), ".aif", false);
    CSonicAIFFFile info;
    info.ISoundFile(path);
    OSErr status;
    if (info.GetOfflineInfo(&status) == 0 && info.GetPackingMode() != f.GetPackingMode())
        std::abort();
    if (info.IsOpen()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Without the program's resources every binding reports the missing type
    // table; the lines would only slow the run down.
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WorkFolder() + "/in.aif";
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    ReadSonic(path, size);
    return 0;
}
