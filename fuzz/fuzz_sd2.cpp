// Feeds arbitrary bytes to the Sound Designer II reader as a data fork and its
// resource fork. The first byte chooses the shape: even, the rest is split into a
// data fork and a sidecar as stored (AppleDouble or a raw fork); odd, the rest is
// cut into the data fork and the six resources, which are put into a sound map,
// so that the list parsers see bytes of their own. What opens must describe
// itself within bounds, read to its last frame and write out to the same samples.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/pcm/sd2_file.h"
#include "foundation/resource_fork.h"
#include "fuzz_support.h"
#include "soundfile/type_codes.h"

namespace {

constexpr uint32_t kBufferFrames = 64;
constexpr uint32_t kMaxRoundTripFrames = 4096;

const std::string& WorkFolder() { return fuzzsupport::ScratchFolder("sd2"); }

// The next piece of the input: a big-endian 16-bit length, then that many bytes
// (fewer at the end). False when the input is used up.
bool NextPiece(const uint8_t*& data, size_t& size, std::vector<uint8_t>* piece) {
    if (size < 2) return false;
    const size_t length = std::min<size_t>((size_t{data[0]} << 8) | data[1], size - 2);
    piece->assign(data + 2, data + 2 + length);
    data += 2 + length;
    size -= 2 + length;
    return true;
}

bool WriteFiles(const uint8_t* data, size_t size, const std::string& path, size_t* dataBytes) {
    if (size < 1) return false;
    const bool structured = data[0] & 1;
    ++data;
    --size;
    std::vector<uint8_t> fork, sidecar;
    if (!NextPiece(data, size, &fork)) return false;
    if (!structured) {
        sidecar.assign(data, data + size);
    } else {
        ResourceFork map;
        const std::pair<OSType, short> kinds[] = {{FourCC("STR "), 1000}, {FourCC("STR "), 1001},
                                                  {FourCC("STR "), 1002}, {FourCC("sdML"), 1000},
                                                  {FourCC("sdLL"), 1000}, {FourCC("ddRL"), 1000}};
        std::vector<uint8_t> piece;
        for (const auto& [type, id] : kinds) {
            if (!NextPiece(data, size, &piece)) break;
            ResourceEntry entry;
            entry.type = type;
            entry.id = id;
            entry.data = piece;
            map.Put(std::move(entry));
        }
        if (map.Serialize(&sidecar) != 0) return false;
    }
    *dataBytes = fork.size();
    return fuzzsupport::WriteInput(path, fork.data(), fork.size()) &&
           fuzzsupport::WriteInput(WorkFolder() + "/._in.sd2", sidecar.data(), sidecar.size());
}

void CheckOpened(CSDIIFile& f, size_t dataBytes) {
    const uint32_t channels = static_cast<uint32_t>(f.GetNumChannels());
    const short bits = f.GetWordSize();
    if (channels > kMaxSoundFileChannels || bits % 8 != 0 || bits < 0 || bits > 32) std::abort();
    const uint64_t frames = f.GetNumSFrames();
    if (frames * (bits / 8) * channels > dataBytes || (frames && (channels == 0 || bits == 0)))
        std::abort();
    for (uint16_t i = 0; i < f.GetNumRegions(); ++i) {
        SFTRegion r;
        if (f.GetIndRegion(i, &r) != 0 || r.start < 0 || r.start > r.end ||
            static_cast<uint64_t>(r.end) > frames)
            std::abort();
    }
    f.SetSFTBufferSize(kBufferFrames);
    const std::vector<uint8_t> samples = fuzzsupport::ReadEveryFrame(f);
    if (channels == 0 || frames > kMaxRoundTripFrames) return;
    // A sidecar left from the last copy would refuse the new one.
    ::unlink((WorkFolder() + "/._copy.sd2").c_str());
    fuzzsupport::CopyAndCompare(f, samples, WorkFolder(), ".sd2", true);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every missing resource is a thrown -192; the lines would only slow the run down.
    error_code_exception::log_exception = false;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WorkFolder() + "/in.sd2";
    size_t dataBytes = 0;
    if (!WriteFiles(data, size, path, &dataBytes)) return 0;
    bool opened = false;
    uint32_t frames = 0;
    {
        CSDIIFile f;
        if (f.ISoundFile(path) != 0) return 0;
        if (f.Open() == 0) {
            opened = true;
            frames = f.GetNumSFrames();
            CheckOpened(f, dataBytes);
        } else if (f.IsOpen()) {
            std::abort();
        }
    }
    {
        CSDIIFile f;
        short regions = -1;
        if (f.ISoundFile(path) != 0) return 0;
        const OSErr err = f.GetOfflineInfo(&regions);
        // What opens is also described without opening, the same way.
        if (f.IsOpen() || regions < 0 || (opened && (err != 0 || f.GetNumSFrames() != frames)))
            std::abort();
    }
    try {
        const int channels = CSDIIFile::ReadNumChannels(path);
        if (channels < 0 || channels > static_cast<int>(kMaxSoundFileChannels)) std::abort();
    } catch (const error_code_exception&) {
        // An unreadable resource fork is reported this way.
    }
    return 0;
}
