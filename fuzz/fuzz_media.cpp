// Feeds arbitrary bytes to the media-library reader. Whatever it refuses must
// be refused as that file's fault, never with a status that would stop a
// batch or read as an internal fault; whatever it accepts must describe itself
// within bounds, be readable to its last frame in any order of
// windows (the same bytes each time), and leave no temporary file behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "conversion/error_messages.h"
#include "formats/media/av_media_file.h"
#include "fuzz_support.h"

namespace {

constexpr uint32_t kBufferFrames = 256;

const std::string& WorkFolder() { return fuzzsupport::ScratchFolder("media"); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    error_code_exception::log_exception = false;
    // The decoded cache goes to the run's own folder.
    ::setenv("TMPDIR", WorkFolder().c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WorkFolder() + "/in.bin";
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    AVFoundationFile f;
    if (f.ISoundFile(path) != 0) return 0;
    f.SetSFTBufferSize(kBufferFrames);
    if (const OSErr err = f.Open()) {
        std::string text;
        const short cls = MakeErrorMessage(err, text);
        if (cls != kErrorClassFile) {
            std::fprintf(stderr, "Open gave %d, of class %d\n", err, cls);
            std::abort();
        }
        return 0;
    }
    if (f.GetNumChannels() < 1 || static_cast<uint32_t>(f.GetNumChannels()) > kMaxSoundFileChannels ||
        f.GetWordSize() != 24 || !(f.GetSampleRate() > 0))
        std::abort();
    const std::vector<uint8_t> all = fuzzsupport::ReadEveryFrame(f);
    // A window read again, backwards, holds the same bytes.
    const size_t frameBytes = 3u * static_cast<size_t>(f.GetNumChannels());
    for (uint32_t frame = f.GetNumSFrames(); frame > 0;) {
        frame = frame > kBufferFrames ? frame - kBufferFrames : 0;
        if (f.RefreshInputBuffer(frame) != 0) std::abort();
        const size_t n =
            std::min<size_t>(kBufferFrames, f.GetNumSFrames() - frame) * frameBytes;
        if (std::memcmp(f.GetInputBuffer(), all.data() + frame * frameBytes, n) != 0)
            std::abort();
        if (frame < f.GetNumSFrames() - kBufferFrames * 4u && f.GetNumSFrames() > kBufferFrames * 8u)
            break;
    }
    f.Close();
    return 0;
}
