// Feeds arbitrary bytes to the G.729 reader in all its forms. Whatever Open
// accepts counts whole frames of its form, decodes to exactly that many
// samples and reads to its last frame; packed data survives Unpack and Pack
// unchanged; the decoder takes any bytes as serial frames.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/telephony/g729_codec.h"
#include "formats/telephony/g729_file.h"
#include "fuzz_support.h"

namespace {

constexpr uint32_t kBufferFrames = 333;
// Longer inputs are resolved and opened but not decoded, to keep runs quick.
constexpr uint64_t kMaxDecodedFrames = 400 * 80;

const std::string& WorkFolder() { return fuzzsupport::ScratchFolder("g729"); }

std::string ReadAll(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) out.append(block, n);
    std::fclose(f);
    return out;
}

void ReadAsG729(const std::string& path, const uint8_t* data, size_t size) {
    CG729File f;
    if (f.ISoundFile(path) != 0) return;
    f.SetSFTBufferSize(kBufferFrames);
    if (f.Open() != 0) {
        if (f.IsOpen()) std::abort();
        return;
    }
    const uint64_t frames = f.GetNumSFrames();
    const uint64_t start = f.GetDataStart();
    if (start > size) std::abort();
    const uint64_t whole = f.IsPacked() ? (size - start) / 10 : size / 164;
    if (frames != whole * 80 || f.GetNumChannels() != 1 || f.GetWordSize() != 16) std::abort();
    if (frames > kMaxDecodedFrames) return;

    if (f.IsPacked()) {
        // The packed frames come back from their serial form unchanged.
        const std::string serial = WorkFolder() + "/serial";
        if (f.Unpack(path, serial) != 0) std::abort();
        if (f.Pack(serial) != 0) std::abort();
        const std::string back = ReadAll(serial);
        const std::string expected = std::string(reinterpret_cast<const char*>(data), size)
                                         .substr(static_cast<size_t>(start), whole * 10);
        const std::string frames10 = f.HasWaveHeader() ? back.substr(std::min<size_t>(44, back.size())) : back;
        if (frames10 != expected) std::abort();
        ::unlink(serial.c_str());
    }
    if (f.InitInputBuffer() != 0) std::abort();
    const std::vector<uint8_t> samples = fuzzsupport::ReadEveryFrame(f);
    if (samples.size() != frames * 2) std::abort();
    if (f.Close() != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WorkFolder() + "/in.g729";
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    ReadAsG729(path, data, size);
    // Any bytes as serial frames: whole frames only, every one decoded.
    if (size / 164 * 80 <= kMaxDecodedFrames) {
        const std::string pcm = WorkFolder() + "/out.pcm";
        if (g729decode(path.c_str(), pcm.c_str()) != 0) std::abort();
        if (ReadAll(pcm).size() != size / 164 * 160) std::abort();
    }
    return 0;
}
