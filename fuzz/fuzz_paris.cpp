// Feeds arbitrary bytes to the PARIS reader. Whatever it accepts must describe
// itself within bounds, be readable to its last frame, and write out and read
// back to the same samples in the buffer form.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/pcm/paris_file.h"
#include "fuzz_support.h"

namespace {

constexpr uint32_t kBufferFrames = 256;
constexpr uint32_t kMaxRoundTripFrames = 4096;

const std::string& WorkFolder() {
    return fuzzsupport::ScratchFolder("paris");
}

void CheckShape(CParisLinearFile& f, size_t fileSize) {
    const uint32_t channels = static_cast<uint32_t>(f.GetNumChannels());
    const short bits = f.GetWordSize();
    if (channels < 1 || channels > kMaxSoundFileChannels) std::abort();
    if (bits != 8 && bits != 16 && bits != 24) std::abort();
    if (f.GetSampleRate() <= 0 || f.GetDataStart() > fileSize) std::abort();
    // 24-bit data takes 32 bytes for ten samples of a channel.
    const uint64_t frames = f.GetNumSFrames();
    const uint64_t dataBytes =
        bits == 24 ? (frames + 9) / 10 * 32 * channels : frames * channels * (bits / 8);
    if (dataBytes > fileSize - f.GetDataStart()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Without the program's resources every binding reports the missing type
    // table; the lines would only slow the run down.
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WorkFolder() + "/in.paf";
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    CParisLinearFile f;
    if (f.ISoundFile(path) != 0) return 0;
    f.SetSFTBufferSize(kBufferFrames);
    if (f.Open() != 0) return 0;
    CheckShape(f, size);
    const std::vector<uint8_t> samples = fuzzsupport::ReadEveryFrame(f);
    if (f.GetNumSFrames() <= kMaxRoundTripFrames)
        fuzzsupport::CopyAndCompare(f, samples, WorkFolder(), ".paf", false);
    CParisLinearFile info;
    info.ISoundFile(path);
    OSErr status;
    info.GetOfflineInfo(&status);
    if (info.IsOpen() || info.GetNumSFrames() != f.GetNumSFrames()) std::abort();
    return 0;
}
