// Feeds arbitrary bytes to a CCITT reader as a code stream, the input's length
// modulo 4 choosing the code width (0: 2 bits, 1: 3, 2: 4, 3: 5 bits). Every
// frame counted must be readable, and reads at positions taken from the input
// must give the samples of one pass from the start.
//
// Decoding is most of the cost of an input, so one width is read per input,
// the input is kept to 4 KiB and the codes decoded for it to 64 Ki: short runs
// then try thousands of inputs instead of a few hundred.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/telephony/ccitt_file.h"
#include "fuzz_support.h"

namespace {

constexpr uint32_t kBufferFrames = 97;
// Longer inputs are passed over: 4 KiB holds 16 Ki codes of the narrowest width.
constexpr size_t kMaxInputBytes = 4096;
// The codes one input may have decoded, all reads together; the first pass
// of the longest input takes 16 Ki of them.
constexpr uint64_t kMaxDecodedFrames = 65536;

template <class T>
void ReadAs(const std::string& path, const uint8_t* data, size_t size) {
    T f;
    if (f.ISoundFile(path) != 0) return;
    f.SetSFTBufferSize(kBufferFrames);
    if (f.Open() != 0) std::abort();
    if (f.GetNumSFrames() != size * 8 / static_cast<size_t>(f.GetBitsPerCode())) std::abort();
    uint64_t budget = kMaxDecodedFrames - f.GetNumSFrames();
    const std::vector<uint8_t> whole = fuzzsupport::ReadEveryFrame(f);
    const auto* samples = reinterpret_cast<const int16_t*>(whole.data());
    // Four reads out of order: each position from two bytes of the input. A read
    // may decode again from the start, so it is charged up to its last frame.
    for (size_t i = 0; i + 1 < size && i < 8; i += 2) {
        const uint32_t frame = f.GetNumSFrames() ? ((data[i] << 8 | data[i + 1]) % f.GetNumSFrames()) : 0;
        const uint32_t n = std::min(kBufferFrames, f.GetNumSFrames() - frame);
        if (static_cast<uint64_t>(frame) + n > budget) continue;
        budget -= static_cast<uint64_t>(frame) + n;
        if (f.RefreshInputBuffer(frame) != 0) std::abort();
        const auto* got = reinterpret_cast<const int16_t*>(f.GetInputBuffer());
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
    if (size > kMaxInputBytes) return 0;
    const std::string path = fuzzsupport::ScratchFolder("ccitt") + "/in.g72";
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    switch (size % 4) {
        case 0: ReadAs<CCITT723_16File>(path, data, size); break;
        case 1: ReadAs<CCITT723_24File>(path, data, size); break;
        case 2: ReadAs<CCITT721File>(path, data, size); break;
        default: ReadAs<CCITT723_40File>(path, data, size); break;
    }
    return 0;
}
