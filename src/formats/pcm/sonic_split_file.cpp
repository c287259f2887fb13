#include "formats/pcm/sonic_split_file.h"

#include "foundation/xwqf.h"
#include "soundfile/type_codes.h"

CSonicSplitFile::CSonicSplitFile() : CSplitFile(FourCC("SAIF")) {}

CSonicSplitFile::~CSonicSplitFile() = default;

OSType CSonicSplitFile::GetFType() {
    return FourCC("SpSc");
}

std::string CSonicSplitFile::GetDescription() {
    return "Sonic Split File";
}

OSErr CSonicSplitFile::ISoundFile(const std::string& path) {
    std::string named = path;
    if (XWQF::FileExists(named)) {
        gInputNameLastChar = 0;
    } else {
        if (named.size() >= 2 && named[named.size() - 2] == '_') named.resize(named.size() - 2);
        if (OSErr err = MakeFolderOf(named)) return err;
    }
    const OSErr err = CSplitFile::ISoundFile(named);
    if (err == 0 && left_) path_ = left_->GetPath();
    return err;
}

OSErr CSonicSplitFile::MakeFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return 0;
    const std::string folder = path.substr(0, slash);
    if (XWQF::FileExists(folder)) return 0;
    const size_t parentEnd = folder.rfind('/');
    const FSRef parent{parentEnd == std::string::npos ? std::string(".")
                       : parentEnd == 0                ? std::string("/")
                                                       : folder.substr(0, parentEnd)};
    const std::string name = parentEnd == std::string::npos ? folder : folder.substr(parentEnd + 1);
    return XWQF::CreateDirectory(&parent, name, nullptr, nullptr);
}
