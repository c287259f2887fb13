// Feeds arbitrary bytes to the sound-resource and CD-image readers. The first
// byte chooses what the rest is: 0, a 'snd ' resource put into a resource map;
// 1, a whole sidecar as stored (AppleDouble or a raw fork); 2, the PQ
// description beside an image. What opens must describe itself within bounds
// and read to its last frame; an accepted resource must also write out and read
// back to the same samples.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/pcm/image_dat_file.h"
#include "formats/pcm/snd_resource_file.h"
#include "foundation/resource_fork.h"
#include "fuzz_support.h"
#include "soundfile/type_codes.h"

namespace {

constexpr uint32_t kBufferFrames = 64;
constexpr uint32_t kMaxRoundTripFrames = 4096;
// The image beside a description: 1000 frames.
constexpr size_t kImageBytes = 4000;

const std::string& WorkFolder() { return fuzzsupport::ScratchFolder("sfil"); }

void ReadResource(const std::string& path, size_t resourceBytes) {
    uint32_t frames = 0;
    bool opened = false;
    {
        CSndRsrcFile f;
        if (f.ISoundFile(path) != 0) return;
        if (f.Open() != 0) {
            if (f.IsOpen()) std::abort();
        } else {
            opened = true;
            frames = f.GetNumSFrames();
            const uint32_t channels = static_cast<uint32_t>(f.GetNumChannels());
            const short bits = f.GetWordSize();
            if (channels < 1 || channels > kMaxSoundFileChannels || (bits != 8 && bits != 16) ||
                !(f.GetSampleRate() > 0))
                std::abort();
            const uint64_t bytes = static_cast<uint64_t>(frames) * channels * (bits / 8);
            // With a raw sidecar the size of the resource is not known here.
            if (resourceBytes && f.GetDataOffset() + bytes > resourceBytes) std::abort();
            f.SetSFTBufferSize(kBufferFrames);
            const std::vector<uint8_t> samples = fuzzsupport::ReadEveryFrame(f);
            if (frames <= kMaxRoundTripFrames && f.GetSampleRate() <= 48000) {
                // A sidecar left from the last copy would keep its old fork.
                ::unlink((WorkFolder() + "/._copy.rsrc").c_str());
                fuzzsupport::CopyAndCompare(f, samples, WorkFolder(), ".rsrc", false);
            }
        }
    }
    CSndRsrcFile info;
    if (info.ISoundFile(path) != 0) return;
    OSErr regions = -1;
    const OSErr err = info.GetOfflineInfo(&regions);
    if (info.IsOpen() || regions != 0 || (opened && (err != 0 || info.GetNumSFrames() != frames)))
        std::abort();
}

void ReadImage(const std::string& path) {
    CImageDATFile f;
    if (f.ISoundFile(path) != 0 || f.Open() != 0) std::abort();
    const uint32_t frames = f.GetNumSFrames();
    if (frames != kImageBytes / 4) std::abort();
    for (const QFRegionPtr& r : f.GetRegionList())
        if (r->start > r->end || r->end > frames) std::abort();
    f.SetSFTBufferSize(kBufferFrames);
    fuzzsupport::ReadEveryFrame(f);
    CImageDATFile info;
    OSErr tracks = -1;
    if (info.ISoundFile(path) != 0 || info.GetOfflineInfo(&tracks) != 0 || tracks < 0 ||
        tracks > 99 || info.GetNumSFrames() != frames)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Without the program's resources every binding reports the missing type
    // table; the lines would only slow the run down.
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    const std::string& folder = WorkFolder();
    if (mode == 2) {
        const std::vector<uint8_t> image(kImageBytes, 0x11);
        if (!fuzzsupport::WriteInput(folder + "/PQ_DESCR", data, size) ||
            !fuzzsupport::WriteInput(folder + "/in.dat", image.data(), image.size()))
            return 0;
        ReadImage(folder + "/in.dat");
        return 0;
    }
    std::vector<uint8_t> sidecar;
    if (mode == 0) {
        ResourceFork fork;
        fork.Put(ResourceEntry{FourCC("snd "), 128, "", 0, {data, data + size}});
        if (fork.Serialize(&sidecar) != 0) return 0;
    } else {
        sidecar.assign(data, data + size);
    }
    const std::string path = folder + "/in.rsrc";
    if (!fuzzsupport::WriteInput(path, nullptr, 0) ||
        !fuzzsupport::WriteInput(folder + "/._in.rsrc", sidecar.data(), sidecar.size()))
        return 0;
    ReadResource(path, mode == 0 ? size : 0);
    return 0;
}
