// Feeds arbitrary member files to a surround set of WAVE members. The input is a
// member count (first byte, 1 to 4), then for each member a 16-bit little-endian
// length and that many bytes of its file. Whatever set opens must read, block by
// block and channel by channel, exactly what its members read alone, with
// silence after a shorter member's end, and be as long as its longest member.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/pcm/wave_file.h"
#include "formats/register_sound_files.h"
#include "fuzz_support.h"
#include "soundfile/surround_file.h"
#include "soundfile/type_codes.h"

namespace {

constexpr uint32_t kBufferFrames = 64;
constexpr size_t kMaxMembers = 4;

const std::string& WorkFolder() {
    return fuzzsupport::ScratchFolder("srnd");
}

// What a member reads alone: its frames in the buffer form, or nothing when it
// does not open as a mono file.
bool ReadAlone(const std::string& path, std::vector<uint8_t>* samples, uint32_t* frames) {
    CWAVEFile f;
    if (f.ISoundFile(path) != 0) return false;
    f.SetSFTBufferSize(kBufferFrames);
    if (f.Open() != 0 || f.GetNumChannels() != 1) return false;
    *samples = fuzzsupport::ReadEveryFrame(f);
    *frames = f.GetNumSFrames();
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    error_code_exception::log_exception = false;
    RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t count = 1 + data[0] % kMaxMembers;
    size_t at = 1;
    std::vector<std::string> paths;
    for (size_t m = 0; m < count; ++m) {
        size_t length = 0;
        if (at + 2 <= size) length = data[at] | (static_cast<size_t>(data[at + 1]) << 8);
        at = std::min(at + 2, size);
        length = std::min(length, size - at);
        paths.push_back(WorkFolder() + "/in." + std::to_string(m + 1) + ".wav");
        if (!fuzzsupport::WriteInput(paths.back(), data + at, length)) return 0;
        at += length;
    }

    SoundFilePtr set(CSoundFile::CreateSoundFile(FourCC("Srnd"), FourCC("WAVE")));
    auto& surround = dynamic_cast<CSurroundFile&>(*set);
    if (surround.ISoundFile(paths) != 0) std::abort();
    set->SetSFTBufferSize(kBufferFrames);
    if (set->Open() != 0) return 0;

    std::vector<std::vector<uint8_t>> alone(count);
    std::vector<uint32_t> frames(count);
    uint32_t longest = 0;
    for (size_t m = 0; m < count; ++m) {
        if (!ReadAlone(paths[m], &alone[m], &frames[m])) std::abort();
        longest = std::max(longest, frames[m]);
    }
    const size_t bytes = static_cast<size_t>(set->GetWordSize() / 8);
    if (set->GetNumChannels() != static_cast<short>(count) || set->GetNumSFrames() != longest)
        std::abort();
    // Only whole-byte word sizes are interleaved; the others are refused when read.
    const short bits = set->GetWordSize();
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        if (set->RefreshInputBuffer(0) != kIllegalWordSizeErr) std::abort();
        return 0;
    }

    const std::vector<uint8_t> interleaved = fuzzsupport::ReadEveryFrame(*set);
    if (interleaved.size() != static_cast<size_t>(longest) * count * bytes) std::abort();
    for (size_t m = 0; m < count; ++m) {
        for (uint32_t f = 0; f < longest; ++f) {
            const uint8_t* got = interleaved.data() + (static_cast<size_t>(f) * count + m) * bytes;
            for (size_t k = 0; k < bytes; ++k) {
                const uint8_t want = f < frames[m] ? alone[m][f * bytes + k] : 0;
                if (got[k] != want) std::abort();
            }
        }
        // One channel alone: every frame to the longest member's end.
        std::vector<float> samples(longest + 1);
        uint32_t n = longest + 1;
        if (set->Read(static_cast<short>(m), 0, &n, samples.data()) != 0 || n != longest)
            std::abort();
    }

    SoundFilePtr look(CSoundFile::CreateSoundFile(FourCC("Srnd"), FourCC("WAVE")));
    dynamic_cast<CSurroundFile&>(*look).ISoundFile(paths);
    OSErr status = 0;
    if (look->GetOfflineInfo(&status) == 0 && look->GetNumSFrames() != longest) std::abort();
    return 0;
}
