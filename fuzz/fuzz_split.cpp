// Feeds arbitrary bytes to a split pair as its two member files: byte 0 picks
// the member type (AIFF, WAVE, Broadcast Wave), bytes 1-2 (big-endian) where
// the rest is cut into the left and the right member. What opens is a stereo
// pair as long as its longer member and is read to its end; then a pair is
// named from a file name taken from the input.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/register_sound_files.h"
#include "fuzz_support.h"
#include "soundfile/split_file.h"
#include "soundfile/type_codes.h"

namespace {

// The longest file name taken from the input.
constexpr size_t kMaxNameBytes = 64;

struct Kind {
    OSType type;
    const char* extension;
};
const Kind kKinds[] = {
    {FourCC("AIFF"), ".aif"}, {FourCC("WAVE"), ".wav"}, {FourCC("BWLN"), ".wav"}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool registered = [] {
        RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
        return true;
    }();
    (void)registered;
    if (size < 3) return 0;
    const Kind& kind = kKinds[data[0] % 3];
    const size_t cut = std::min<size_t>((size_t{data[1]} << 8) | data[2], size - 3);
    const uint8_t* members = data + 3;
    const size_t rest = size - 3;

    const std::string& folder = fuzzsupport::ScratchFolder("split");
    const std::string left = folder + "/in.L" + kind.extension;
    const std::string right = folder + "/in.R" + kind.extension;
    if (!fuzzsupport::WriteInput(left, members, cut) ||
        !fuzzsupport::WriteInput(right, members + cut, rest - cut))
        return 0;
    {
        SoundFilePtr pair(CSoundFile::CreateSoundFile(FourCC("Splt"), kind.type));
        if (!pair || pair->ISoundFile(std::vector<std::string>{left, right}) != 0) std::abort();
        short info = 0;
        pair->GetOfflineInfo(&info);
        if (pair->Open() == 0) {
            const auto& list = static_cast<CSplitFile&>(*pair).GetMemberList();
            if (pair->GetNumChannels() != 2 ||
                pair->GetNumSFrames() !=
                    std::max(list[0]->GetNumSFrames(), list[1]->GetNumSFrames()))
                std::abort();
            pair->SetSFTBufferSize(64);
            fuzzsupport::ReadEveryFrame(*pair);
            SFTRegion r;
            for (uint16_t i = 0; i < pair->GetNumRegions(); ++i)
                if (pair->GetIndRegion(i, &r) != 0) std::abort();
            uint32_t start = 0, end = 0;
            for (uint32_t from = 0; pair->GetNextBlock(from, &start, &end) == 0 && end > from;)
                from = end;
        }
    }
    {
        // A file name of the input's first bytes; the members stay in the folder.
        std::string name(reinterpret_cast<const char*>(members), std::min(rest, kMaxNameBytes));
        std::replace(name.begin(), name.end(), '/', '_');
        std::replace(name.begin(), name.end(), '\0', '_');
        SoundFilePtr pair(CSoundFile::CreateSoundFile(FourCC("Splt"), kind.type));
        if (pair->ISoundFile(folder + "/" + name) == 0) {
            const auto& list = static_cast<CSplitFile&>(*pair).GetMemberList();
            if (list.size() != 2) std::abort();
            for (CSoundFile* member : list)
                if (member->GetPath().compare(0, folder.size() + 1, folder + "/") != 0)
                    std::abort();
            if (list[0]->GetPath() == list[1]->GetPath()) std::abort();
            (void)pair->GetPath();
            (void)pair->base_name();
        }
    }
    return 0;
}
