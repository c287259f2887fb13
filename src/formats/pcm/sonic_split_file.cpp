#include "formats/pcm/sonic_split_file.h"

#include "foundation/xwqf.h"
#include "platform/thread_context.h"
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
        const platform::ThreadContext& context = platform::CurrentThreadContext();
        const FSRef outputFolder{context.outputFolder};
        if (OSErr err = XWQF::CreateDirectory(&outputFolder, context.longName, nullptr, nullptr))
            return err;
    }
    const OSErr err = CSplitFile::ISoundFile(named);
    if (err == 0 && left_) path_ = left_->GetPath();
    return err;
}
