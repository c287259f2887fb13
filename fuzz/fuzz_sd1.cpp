// Feeds arbitrary bytes to the Sound Designer I reader. Whatever it accepts must
// lie within the file and be readable to its last frame, must write out and
// read back to the same samples when its word size can be written, and
// GetOfflineInfo must agree with Open.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/pcm/sd1_file.h"
#include "fuzz_support.h"

namespace {

constexpr uint32_t kMaxRoundTripFrames = 4096;

const std::string& WorkFolder() { return fuzzsupport::ScratchFolder("sd1"); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Without the program's resources every binding reports the missing type
    // table; the lines would only slow the run down.
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WorkFolder() + "/in.sd1";
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    CSD1File f;
    if (f.ISoundFile(path) != 0 || f.Open() != 0) return 0;
    if (f.GetNumChannels() != 1) std::abort();
    fuzzsupport::CheckWithinBounds(f, size, 0);
    const std::vector<uint8_t> samples = fuzzsupport::ReadEveryFrame(f);
    const short bits = f.GetWordSize();
    if (f.GetNumSFrames() <= kMaxRoundTripFrames && (bits == 8 || bits == 16))
        fuzzsupport::CopyAndCompare(f, samples, WorkFolder(), ".sd1", false);
    CSD1File info;
    info.ISoundFile(path);
    OSErr regions;
    if (info.GetOfflineInfo(&regions) != 0 || info.IsOpen() ||
        info.GetNumSFrames() != f.GetNumSFrames() || info.GetWordSize() != bits)
        std::abort();
    return 0;
}
