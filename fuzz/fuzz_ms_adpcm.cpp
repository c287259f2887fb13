// Feeds arbitrary bytes to the Microsoft ADPCM reader as a file. What opens
// must describe itself within bounds, read to its last frame, give the same
// samples when read at positions taken from the input, and code again into a
// file of the same length.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/telephony/ms_adpcm_file.h"
#include "fuzz_support.h"

namespace {

constexpr uint32_t kBufferFrames = 211;
constexpr uint32_t kMaxRoundTripFrames = 4096;

void CheckOpen(CMSADPCMFile& f, const uint8_t* data, size_t size) {
    const uint32_t channels = static_cast<uint32_t>(f.GetNumChannels());
    if (channels < 1 || channels > 2 || f.GetWordSize() != 16 || f.GetBlockAlign() < 7 * static_cast<int32_t>(channels) ||
        f.GetSamplesPerBlock() < 2 || f.GetNumCoefs() < 1 || f.GetNumCoefs() > CMSADPCMFile::kMaxCoefs ||
        f.GetDataOffset() > size)
        std::abort();
    // No more frames than the blocks in the file hold.
    const uint64_t blocks = (size - f.GetDataOffset()) / static_cast<uint64_t>(f.GetBlockAlign()) + 1;
    if (f.GetNumSFrames() > blocks * static_cast<uint64_t>(f.GetSamplesPerBlock())) std::abort();
    for (uint16_t i = 0; i < f.GetNumRegions(); ++i) {
        SFTRegion r;
        if (f.GetIndRegion(i, &r) != 0 || r.start < 0 || r.end < r.start ||
            static_cast<uint32_t>(r.end) > f.GetNumSFrames())
            std::abort();
    }
    SFTMarker m;
    for (uint16_t i = 0; i < f.GetNumMarkers(); ++i)
        if (f.GetIndMarker(i, &m) != 0) std::abort();

    // A block with a predictor beyond the table fails its read; otherwise every
    // frame reads, and reads out of order give the same samples.
    const uint32_t frames = f.GetNumSFrames();
    std::vector<uint8_t> whole;
    const uint64_t frameBytes = 2 * channels;
    for (uint32_t frame = 0; frame < frames; frame += kBufferFrames) {
        if (f.RefreshInputBuffer(frame) != 0) return;
        const uint64_t n = std::min<uint64_t>(kBufferFrames, frames - frame) * frameBytes;
        whole.insert(whole.end(), f.GetInputBuffer(), f.GetInputBuffer() + n);
    }
    for (size_t i = 0; i + 1 < size && i < 16 && frames; i += 2) {
        const uint32_t frame = (data[i] << 8 | data[i + 1]) % frames;
        if (f.RefreshInputBuffer(frame) != 0) std::abort();
        const uint64_t n = std::min<uint64_t>(kBufferFrames, frames - frame) * frameBytes;
        if (std::memcmp(f.GetInputBuffer(), whole.data() + frame * frameBytes, n) != 0) std::abort();
    }

    if (frames == 0 || frames > kMaxRoundTripFrames) return;
    const std::string copy = fuzzsupport::ScratchFolder("msadpcm") + "/copy.wav";
    ::unlink(copy.c_str());
    CMSADPCMFile out;
    if (out.ISoundFile(copy) != 0) std::abort();
    out.SetSFTBufferSize(kBufferFrames);
    if (out.Create(static_cast<short>(channels), 16, static_cast<float>(f.GetSampleRate()), nullptr, nullptr) != 0)
        return;  // a rate that cannot be written
    if (out.InitOutputBuffer() != 0) std::abort();
    for (uint32_t frame = 0; frame < frames; frame += kBufferFrames) {
        const uint32_t n = std::min(kBufferFrames, frames - frame);
        if (out.RefreshOutputBuffer(frame) != 0) std::abort();
        std::memcpy(out.GetOutputBuffer(), whole.data() + frame * frameBytes, n * frameBytes);
        if (out.FlushOutputBuffer(n, frame) != 0) std::abort();
    }
    if (out.Close() != 0) std::abort();
    CorvaOutFile::Clear();
    CMSADPCMFile back;
    back.ISoundFile(copy);
    if (back.Open() != 0 || back.GetNumSFrames() != frames) std::abort();
    fuzzsupport::ReadEveryFrame(back);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzsupport::ScratchFolder("msadpcm") + "/in.wav";
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    {
        CMSADPCMFile f;
        if (f.ISoundFile(path) != 0) return 0;
        f.SetSFTBufferSize(kBufferFrames);
        if (f.Open() == 0) CheckOpen(f, data, size);
    }
    {
        CMSADPCMFile f;
        if (f.ISoundFile(path) != 0) return 0;
        OSErr regions = -1;
        f.GetOfflineInfo(&regions);
        if (f.IsOpen() || regions < 0) std::abort();
    }
    return 0;
}
