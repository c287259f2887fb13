// Feeds arbitrary bytes to the CCITT readers of every code width as a code
// stream. Every frame counted must be readable, and reads at positions taken
// from the input must give the samples of one pass from the start.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/telephony/ccitt_file.h"
#include "fuzz_support.h"

namespace {

constexpr uint32_t kBufferFrames = 97;

template <class T>
void ReadAs(const std::string& path, const uint8_t* data, size_t size) {
    T f;
    if (f.ISoundFile(path) != 0) return;
    f.SetSFTBufferSize(kBufferFrames);
    if (f.Open() != 0) std::abort();
    if (f.GetNumSFrames() != size * 8 / static_cast<size_t>(f.GetBitsPerCode())) std::abort();
    const std::vector<uint8_t> whole = fuzzsupport::ReadEveryFrame(f);
    const auto* samples = reinterpret_cast<const int16_t*>(whole.data());
    // Reads out of order: each position from two bytes of the input.
    for (size_t i = 0; i + 1 < size && i < 16; i += 2) {
        const uint32_t frame = f.GetNumSFrames() ? ((data[i] << 8 | data[i + 1]) % f.GetNumSFrames()) : 0;
        if (f.RefreshInputBuffer(frame) != 0) std::abort();
        const auto* got = reinterpret_cast<const int16_t*>(f.GetInputBuffer());
        const uint32_t n = std::min(kBufferFrames, f.GetNumSFrames() - frame);
        if (std::memcmp(got, samples + frame, n * sizeof(int16_t)) != 0) std::abort();
    }
    T info;
    info.ISoundFile(path);
    OSErr regions = -1;
    info.GetOfflineInfo(&regions);
    if (info.IsOpen() || regions != 0 || info.GetNumSFrames() != f.GetNumSFrames()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzsupport::ScratchFolder("ccitt") + "/in.g72";
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    ReadAs<CCITT723_16File>(path, data, size);
    ReadAs<CCITT723_24File>(path, data, size);
    ReadAs<CCITT721File>(path, data, size);
    ReadAs<CCITT723_40File>(path, data, size);
    return 0;
}
