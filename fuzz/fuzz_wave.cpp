// Feeds arbitrary bytes to the WAVE reader as a file: opening, reading every
// frame, the lists, the offline information and the static probes. What opens
// must describe itself within bounds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "formats/chunk_reader.h"
#include "formats/pcm/wave_file.h"

namespace {

const std::string& ScratchPath() {
    static const std::string path = [] {
        const char* base = std::getenv("TMPDIR");
        return std::string(base && *base ? base : "/tmp") + "/fuzz_wave_" + std::to_string(::getpid()) + ".wav";
    }();
    return path;
}

bool Put(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(ScratchPath().c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

void ReadEverything(CWAVEFile& f, size_t fileSize) {
    const uint32_t channels = static_cast<uint32_t>(f.GetNumChannels());
    const short bits = f.GetWordSize();
    if (channels < 1 || channels > kMaxSoundFileChannels || bits < 8 || bits > 32) std::abort();
    const uint64_t frameBytes = static_cast<uint64_t>(bits / 8) * channels;
    const uint64_t frames = f.GetNumSFrames();
    if (f.GetDataStart() > fileSize || frames * frameBytes > fileSize - f.GetDataStart()) std::abort();
    // Small blocks: a file may declare many wide channels.
    f.SetSFTBufferSize(64);
    for (uint64_t frame = 0; frame < frames; frame += f.GetBufferFrames()) {
        if (f.RefreshInputBuffer(static_cast<uint32_t>(frame)) != 0) std::abort();
    }
    for (uint32_t c = 0; c < channels && c < 16; ++c) (void)f.GetChannelName(static_cast<short>(c));
    for (uint16_t i = 0; i < f.GetNumRegions(); ++i) {
        SFTRegion r;
        if (f.GetIndRegion(i, &r) != 0 || r.start < 0 || static_cast<uint64_t>(r.end) > frames) std::abort();
    }
    SFTMarker m;
    for (uint16_t i = 0; i < f.GetNumMarkers(); ++i)
        if (f.GetIndMarker(i, &m) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!Put(data, size)) return 0;
    {
        CWAVEFile f;
        if (f.ISoundFile(ScratchPath()) != 0) return 0;
        if (f.Open() == 0) ReadEverything(f, size);
    }
    {
        CWAVEFile f;
        short regions = -1;
        if (f.ISoundFile(ScratchPath()) != 0) return 0;
        f.GetOfflineInfo(&regions);
        // The object is left closed whatever happened.
        if (f.IsOpen() || regions < 0) std::abort();
    }
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    CWAVEFile::FindChunk("fmt ", 1, in);
    CWAVEFile::FindChunk("LIST", 3, in);
    CWAVEFile::ReadNumChannels(ScratchPath());
    return 0;
}
