// Feeds arbitrary bytes to the AIFF, AIFF-C and Dawn readers and to the chunk
// probes. Whatever a reader accepts must be readable to its last frame; an
// accepted AIFF file must write out and read back to the same samples.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "formats/chunk_reader.h"
#include "formats/pcm/aifc_file.h"
#include "formats/pcm/aiff_file.h"
#include "formats/pcm/dawn_aiff_file.h"
#include "soundfile/progress.h"

namespace {

constexpr uint32_t kBufferFrames = 256;

const std::string& WorkFolder() {
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/corvane-fuzz-aiff-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    return folder;
}

bool WriteAll(const std::string& path, const uint8_t* data, size_t size) {
    ::unlink(path.c_str());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Reads every frame; the bytes of the frames in the buffer form.
std::vector<uint8_t> ReadEverything(CSoundFile& f) {
    std::vector<uint8_t> out;
    const uint64_t frameBytes = static_cast<uint64_t>(f.GetWordSize() / 8) * f.GetNumChannels();
    for (uint32_t frame = 0; frame < f.GetNumSFrames(); frame += kBufferFrames) {
        // What Open accepted is really in the file.
        if (f.RefreshInputBuffer(frame) != 0) std::abort();
        const uint64_t n = std::min<uint64_t>(kBufferFrames, f.GetNumSFrames() - frame) * frameBytes;
        out.insert(out.end(), f.GetInputBuffer(), f.GetInputBuffer() + n);
    }
    for (short c = -1; c <= f.GetNumChannels(); ++c) f.GetChannelName(c);
    return out;
}

void RoundTrip(CAIFFFile& in, const std::vector<uint8_t>& samples) {
    const std::string path = WorkFolder() + "/copy";
    ::unlink((path + ".aif").c_str());
    CAIFFFile out;
    if (out.ISoundFile(path) != 0) std::abort();
    out.SetSFTBufferSize(kBufferFrames);
    out.SetChannelConfiguration(in.GetChannelConfiguration());
    if (out.Create(in.GetNumChannels(), in.GetWordSize(), static_cast<float>(in.GetSampleRate()), nullptr,
                   reinterpret_cast<const unsigned char*>("\x04.aif")) != 0)
        std::abort();
    const uint64_t frameBytes = static_cast<uint64_t>(in.GetWordSize() / 8) * in.GetNumChannels();
    const uint32_t frames = in.GetNumSFrames();
    if (out.InitOutputBuffer() != 0) std::abort();
    for (uint32_t frame = 0; frame < frames; frame += kBufferFrames) {
        const uint32_t n = std::min(kBufferFrames, frames - frame);
        if (out.RefreshOutputBuffer(frame) != 0) std::abort();
        std::memcpy(out.GetOutputBuffer(), samples.data() + frame * frameBytes, n * frameBytes);
        if (out.FlushOutputBuffer(n, frame) != 0) std::abort();
    }
    for (uint16_t i = 0; i < in.GetNumMarkers(); ++i) {
        SFTMarker m;
        if (in.GetIndMarker(i, &m) == 0) out.AddMarker(&m);
    }
    for (uint16_t i = 0; i < in.GetNumLoops(); ++i) {
        SFTLoop l;
        if (in.GetIndLoop(i, &l) == 0) out.AddLoop(&l);
    }
    for (uint16_t i = 0; i < in.GetNumRegions(); ++i) {
        SFTRegion r;
        if (in.GetIndRegion(i, &r) == 0) out.AddRegion(&r);
    }
    if (out.Close() != 0) std::abort();
    CorvaOutFile::Clear();
    CAIFFFile back;
    back.ISoundFile(out.GetPath());
    back.SetSFTBufferSize(kBufferFrames);
    if (back.Open() != 0) std::abort();
    if (back.GetNumSFrames() != frames || ReadEverything(back) != samples) std::abort();
}

template <class T>
void ReadAs(const std::string& path, bool roundTrip) {
    T f;
    if (f.ISoundFile(path) != 0) return;
    f.SetSFTBufferSize(kBufferFrames);
    OSErr err = f.Open();
    // A short SSND still leaves a readable file with the corrected count.
    if (err != 0 && err != kAIFFChunkLimitErr) return;
    std::vector<uint8_t> samples = ReadEverything(f);
    if (roundTrip && err == 0 && f.GetDataType() == kDataTypePCM && f.GetNumSFrames() <= 4096)
        RoundTrip(f, samples);
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
    if (!WriteAll(path, data, size)) return 0;
    ReadAs<CAIFFFile>(path, true);
    ReadAs<CAIFCFile>(path, false);
    ReadAs<CDawnAIFFFile>(path, false);

    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    for (const char* id : {"FORM", "COMM", "SSND", "MARK"}) CAIFFFile::FindChunk(id, in);
    return 0;
}
