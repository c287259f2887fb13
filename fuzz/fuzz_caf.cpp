// Feeds arbitrary bytes to the Core Audio Format reader. Whatever it accepts
// must describe itself within bounds and be readable to its last frame (a
// compressed packet may fail to decode, and then says so with -22008); what
// reads whole must write out and read back to the same samples.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/pcm/caf_file.h"
#include "fuzz_support.h"

namespace {

constexpr uint32_t kBufferFrames = 256;
constexpr uint32_t kMaxRoundTripFrames = 4096;
constexpr uint32_t kMaxReadFrames = 1u << 20;

const std::string& WorkFolder() {
    return fuzzsupport::ScratchFolder("caf");
}

// Every frame in the buffer form; false when a packet would not decode. Of a
// long file (tiny compressed packets may stand for many frames) only the
// first and the last blocks are read.
bool ReadEveryFrame(CafFile& f, std::vector<uint8_t>* out) {
    const uint64_t frameBytes = static_cast<uint64_t>(f.GetWordSize() / 8) * f.GetNumChannels();
    const uint32_t frames = f.GetNumSFrames();
    for (uint64_t frame = 0; frame < frames; frame += kBufferFrames) {
        if (frames > kMaxReadFrames && frame == kBufferFrames)
            frame = (frames - 1) / kBufferFrames * kBufferFrames;
        const OSErr err = f.RefreshInputBuffer(static_cast<uint32_t>(frame));
        if (err == kNotASoundFileErr) return false;
        if (err != 0) std::abort();
        const uint64_t n = std::min<uint64_t>(kBufferFrames, frames - frame) * frameBytes;
        out->insert(out->end(), f.GetInputBuffer(), f.GetInputBuffer() + n);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Without the program's resources every binding reports the missing type
    // table; the lines would only slow the run down.
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WorkFolder() + "/in.caf";
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    CafFile f;
    if (f.ISoundFile(path) != 0) return 0;
    f.SetSFTBufferSize(kBufferFrames);
    const OSErr opened = f.Open();

    CafFile info;
    info.ISoundFile(path);
    OSErr status = 1;
    const OSErr offline = info.GetOfflineInfo(&status);
    // The offline look agrees with opening and leaves the object closed.
    if (info.IsOpen() || status != 0 || offline != opened) std::abort();
    if (opened != 0) {
        if (f.IsOpen()) std::abort();
        return 0;
    }
    if (info.GetNumSFrames() != f.GetNumSFrames()) std::abort();

    const uint32_t channels = static_cast<uint32_t>(f.GetNumChannels());
    const short bits = f.GetWordSize();
    if (channels < 1 || channels > kMaxSoundFileChannels ||
        (bits != 8 && bits != 16 && bits != 24 && bits != 32))
        std::abort();
    for (short c = 0; c < f.GetNumChannels() && c < 16; ++c) (void)f.GetChannelName(c);
    (void)f.GetDescription();

    std::vector<uint8_t> samples;
    if (!ReadEveryFrame(f, &samples)) return 0;
    // A rate the writer takes (it stores it through a float).
    const float rate = static_cast<float>(f.GetSampleRate());
    if (f.GetNumSFrames() <= kMaxRoundTripFrames && std::isfinite(rate) && rate > 0)
        fuzzsupport::CopyAndCompare(f, samples, WorkFolder(), ".caf", false);
    return 0;
}
