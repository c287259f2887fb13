// Feeds arbitrary bytes to the AIFF, AIFF-C and Dawn readers and to the chunk
// probes. Whatever a reader accepts must be readable to its last frame; an
// accepted AIFF file must write out and read back to the same samples.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "formats/pcm/aifc_file.h"
#include "formats/pcm/aiff_file.h"
#include "formats/pcm/dawn_aiff_file.h"
#include "fuzz_support.h"

namespace {

constexpr uint32_t kBufferFrames = 256;

const std::string& WorkFolder() { return fuzzsupport::ScratchFolder("aiff"); }

template <class T>
void ReadAs(const std::string& path, bool roundTrip) {
    T f;
    if (f.ISoundFile(path) != 0) return;
    f.SetSFTBufferSize(kBufferFrames);
    // A short SSND opens with the count it holds; any status is a refusal.
    if (f.Open() != 0) return;
    std::vector<uint8_t> samples = fuzzsupport::ReadEveryFrame(f);
    for (short c = -1; c <= f.GetNumChannels(); ++c) f.GetChannelName(c);
    if (roundTrip && f.GetDataType() == kDataTypePCM && f.GetNumSFrames() <= 4096)
        fuzzsupport::CopyAndCompare(f, samples, WorkFolder(), ".aif", true);
    T info;
    info.ISoundFile(path);
    OSErr status;
    info.GetOfflineInfo(&status);
    if (info.IsOpen()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Without the program's resources every binding reports the missing type
    // table; the lines would only slow the run down.
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WorkFolder() + "/in.aif";
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    ReadAs<CAIFFFile>(path, true);
    ReadAs<CAIFCFile>(path, false);
    ReadAs<CDawnAIFFFile>(path, false);

    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    for (const char* id : {"FORM", "COMM", "SSND", "MARK"}) CAIFFFile::FindChunk(id, in);
    return 0;
}
