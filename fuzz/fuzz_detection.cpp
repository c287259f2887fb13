// Feeds arbitrary bytes to input type detection. The first byte chooses the
// file's name (and whether a partner of the same bytes lies beside it), the
// second its Finder type; the rest is the file. Detection must answer with a
// status, describe a group only on success and consistently, give the same
// answer twice, and leave the folder as it was.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/detection.h"
#include "foundation/resource_fork.h"
#include "fuzz_support.h"

namespace {

struct Naming {
    const char* name;
    const char* partner;  // null: none
};

const Naming kNames[] = {
    {"in.wav", nullptr},        {"in.L.wav", "in.R.wav"}, {"in.l.aif", "in.r.aif"},
    {"in-L.paf", "in-r.paf"},   {"in.1.wav", "in.2.wav"}, {"in.1.aif", "in.2.aif"},
    {"in.Ls.wav", "in.Rs.wav"}, {"in.au", nullptr},       {"in.sd2", nullptr},
    {"in", nullptr},            {"in.mp3", nullptr},      {"in.aifc", nullptr},
};

const uint32_t kFinderTypes[] = {0, FourCC("Sd2f"), FourCC("AIFF"), FourCC("AVFd"), FourCC("Mp3 ")};
const uint32_t kCreators[] = {0, FourCC("SSYS"), FourCC("CARI")};

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(d)) names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Outcome {
    OSErr status;
    unsigned int type;
    bool recognized;
    std::vector<std::string> members;
    std::string setName;
    CSoundFile::ChannelConfiguration config;
    bool operator==(const Outcome&) const = default;
};

Outcome Detect(const std::string& path) {
    Outcome o{1, 0, false, {}, {}, CSoundFile::kNotSet};
    o.status = ResolveFileType(path, o.type, o.recognized, o.members, o.setName, o.config, true);
    return o;
}

void Clear(const std::string& folder) {
    for (const std::string& name : Entries(folder))
        if (name != "." && name != "..") ::unlink((folder + "/" + name).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    error_code_exception::log_exception = false;
    CSoundFile::SetRecognizeNumberedFilesAsSplitMultichannel(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::string& folder = fuzzsupport::ScratchFolder("detect");
    Clear(folder);
    const Naming& naming = kNames[data[0] % (sizeof kNames / sizeof kNames[0])];
    const uint32_t finderType = kFinderTypes[data[1] % (sizeof kFinderTypes / sizeof kFinderTypes[0])];
    const uint32_t creator = kCreators[(data[1] / 8) % (sizeof kCreators / sizeof kCreators[0])];
    const std::string path = folder + "/" + naming.name;
    if (!fuzzsupport::WriteInput(path, data + 2, size - 2)) return 0;
    if ((finderType || creator) && SetFinderInfo(path, finderType, creator) != 0) std::abort();
    if (naming.partner && (data[1] & 0x80) &&
        !fuzzsupport::WriteInput(folder + "/" + naming.partner, data + 2, size - 2))
        return 0;

    const std::vector<std::string> before = Entries(folder);
    const Outcome first = Detect(path);
    if (Entries(folder) != before) std::abort();
    if (!(Detect(path) == first)) std::abort();
    if (first.status != 0) {
        if (!first.members.empty() || !first.setName.empty()) std::abort();
        return 0;
    }
    if (first.config < CSoundFile::kMono || first.config > CSoundFile::kMultichannel) std::abort();
    // A group has at least two members, the asking file among them, and a name.
    if (first.members.empty() != first.setName.empty()) std::abort();
    if (!first.members.empty()) {
        if (first.members.size() < 2) std::abort();
        if (std::find(first.members.begin(), first.members.end(), path) == first.members.end())
            std::abort();
    }
    return 0;
}
