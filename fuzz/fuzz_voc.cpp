// Feeds arbitrary bytes to the two Creative Voice readers and to the block walk
// on a stream. Whatever a reader accepts must lie within the file and be
// readable to its last frame, and, when its rate and channels can be written,
// must write out and read back to the same samples. The walk on a stream must
// agree with the walk on a fork.
#include <unistd.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "formats/pcm/voc_file.h"
#include "fuzz_support.h"

namespace {

constexpr uint32_t kMaxRoundTripFrames = 4096;
const unsigned char kExtension[] = "\x04.voc";

const std::string& WorkFolder() { return fuzzsupport::ScratchFolder("voc"); }

// Whether a file of the class can be made with the description read.
template <class T>
bool CanBeWritten(CSoundFile& in) {
    const std::string path = WorkFolder() + "/probe";
    ::unlink((path + ".voc").c_str());
    T probe;
    if (probe.ISoundFile(path) != 0) std::abort();
    const OSErr err = probe.Create(in.GetNumChannels(), in.GetWordSize(),
                                   static_cast<float>(in.GetSampleRate()), nullptr, kExtension);
    if (err == 0 && probe.Close() != 0) std::abort();
    CorvaOutFile::Clear();
    if (err != 0 && err != kVOCIncompatibleRateErr && err != kVOCIncompatibleChannelsErr)
        std::abort();
    return err == 0;
}

template <class T>
void ReadAs(const std::string& path, size_t size) {
    T f;
    if (f.ISoundFile(path) != 0) return;
    if (f.Open() != 0) return;
    fuzzsupport::CheckWithinBounds(f, size, 0);
    if (f.GetNumChannels() > static_cast<short>(CVOC_SBFile::kMaxChannels) ||
        f.GetNumSFrames() > f.MaxFrames() || !(f.GetSampleRate() > 0))
        std::abort();
    const std::vector<uint8_t> samples = fuzzsupport::ReadEveryFrame(f);
    if (f.GetNumSFrames() <= kMaxRoundTripFrames && CanBeWritten<T>(f))
        fuzzsupport::CopyAndCompare(f, samples, WorkFolder(), ".voc", false);
    T info;
    info.ISoundFile(path);
    OSErr status;
    info.GetOfflineInfo(&status);
    if (info.IsOpen() || info.GetNumSFrames() != f.GetNumSFrames() ||
        info.GetSampleRate() != f.GetSampleRate())
        std::abort();
}

// The stream walk finds what the fork walk finds, and stops at the same place.
void WalkBothWays(const std::string& path, const uint8_t* data, size_t size) {
    FSRef ref{path};
    int fork = XWQF::kNoFork;
    if (XWQF::OpenFork(&ref, XWQF::kPermRead, &fork) != 0) return;
    for (unsigned char type : {1, 8}) {
        std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
        const OSErr onStream = CVOC_SBFile::FindVocID(type, in);
        const OSErr onFork = CVOC_SBFile().FindVocID(type, fork);
        int position = -1;
        if (onStream != onFork || (onFork == 0 && (XWQF::GetPos(fork, &position) != 0 ||
                                                   static_cast<std::streamoff>(position) != in.tellg())))
            std::abort();
    }
    XWQF::CloseFork(fork);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Without the program's resources every binding reports the missing type
    // table; the lines would only slow the run down.
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WorkFolder() + "/in.voc";
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    WalkBothWays(path, data, size);
    ReadAs<CVOCFile>(path, size);
    ReadAs<CVOC_SBFile>(path, size);
    return 0;
}
