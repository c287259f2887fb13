#include "foundation/temp_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "foundation/log.h"
#include "foundation/paths.h"

std::unique_ptr<QFTempFile> QFTempFile::Create(const std::string& extension) {
    std::string suffix;
    if (!extension.empty()) {
        if (extension.find('/') != std::string::npos) {
            CORVANE_DLOG("temp file creation failed");
            return nullptr;
        }
        suffix = extension.front() == '.' ? extension : "." + extension;
    }
    std::string folder = TemporaryFolderPath();
    std::string name = (folder == "/" ? "" : folder) + "/com.quillfen.XXXXXX" + suffix;
    // mkostemps opens with O_EXCL and mode 0600; the descriptor is not inherited by
    // programs this one starts.
    int fd = ::mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0) {
        CORVANE_DLOG("temp file creation failed");
        return nullptr;
    }
    CORVANE_DLOG("created " << name << ", opened with file descriptor " << fd);
    return std::unique_ptr<QFTempFile>(new QFTempFile(fd, std::move(name)));
}

QFTempFile::~QFTempFile() {
    // Descriptor 0 is a valid descriptor; only -1 means none.
    if (fd_ < 0) return;
    ::close(fd_);
    ::unlink(path_.c_str());
    CORVANE_DLOG("closed and deleted " << path_);
}

bool QFTempFile::getFSRef(FSRef* ref) const { return XWQF::MakeRef(path_, ref) == 0; }
