// Feeds arbitrary bytes to the IFF 8SVX reader. Whatever it accepts must lie
// within the file and be readable to its last frame, must write out and read
// back to the same samples (an even count of them: an odd count is evened at
// close), and GetOfflineInfo must agree with Open.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/pcm/iff_8svx_file.h"
#include "fuzz_support.h"

namespace {

constexpr uint32_t kMaxRoundTripFrames = 4096;

const std::string& WorkFolder() { return fuzzsupport::ScratchFolder("8svx"); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Without the program's resources every binding reports the missing type
    // table; the lines would only slow the run down.
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WorkFolder() + "/in.iff";
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    CIFF8SVXFile f;
    if (f.ISoundFile(path) != 0 || f.Open() != 0) return 0;
    if (f.GetNumChannels() != 1 || f.GetWordSize() != 8 || f.GetSampleRate() > 65535) std::abort();
    fuzzsupport::CheckWithinBounds(f, size, 0);
    const std::vector<uint8_t> samples = fuzzsupport::ReadEveryFrame(f);
    if (f.GetNumSFrames() <= kMaxRoundTripFrames && f.GetNumSFrames() % 2 == 0)
        fuzzsupport::CopyAndCompare(f, samples, WorkFolder(), ".iff", false);
    CIFF8SVXFile info;
    info.ISoundFile(path);
    OSErr regions;
    if (info.GetOfflineInfo(&regions) != 0 || info.IsOpen() ||
        info.GetNumSFrames() != f.GetNumSFrames() || info.GetSampleRate() != f.GetSampleRate())
        std::abort();
    return 0;
}
