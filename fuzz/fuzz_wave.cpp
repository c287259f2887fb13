// Feeds arbitrary bytes to the WAVE reader as a file: opening, reading every
// frame, the lists, the offline information and the static probes. What opens
// must describe itself within bounds.
#include <cstdint>
#include <sstream>
#include <string>

#include "formats/pcm/wave_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzsupport::ScratchFolder("wave") + "/in.wav";
    if (!fuzzsupport::WriteInput(path, data, size)) return 0;
    {
        CWAVEFile f;
        if (f.ISoundFile(path) != 0) return 0;
        if (f.Open() == 0) {
            fuzzsupport::CheckWithinBounds(f, size, 0);
            for (short c = 0; c < f.GetNumChannels() && c < 16; ++c) (void)f.GetChannelName(c);
            SFTMarker m;
            for (uint16_t i = 0; i < f.GetNumMarkers(); ++i)
                if (f.GetIndMarker(i, &m) != 0) std::abort();
        }
    }
    {
        CWAVEFile f;
        short regions = -1;
        if (f.ISoundFile(path) != 0) return 0;
        f.GetOfflineInfo(&regions);
        // The object is left closed whatever happened.
        if (f.IsOpen() || regions < 0) std::abort();
    }
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    CWAVEFile::FindChunk("fmt ", 1, in);
    CWAVEFile::FindChunk("LIST", 3, in);
    CWAVEFile::ReadNumChannels(path);
    return 0;
}
