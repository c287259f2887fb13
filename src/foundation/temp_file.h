// A uniquely named temporary file in the user's temporary folder, open for reading
// and writing, that is closed and deleted when the object goes.
#pragma once

#include <memory>
#include <string>

#include "foundation/xwqf.h"

class QFTempFile {
public:
    // Creates and opens a new file named <temporary folder>/com.quillfen.XXXXXX
    // (six unique characters), followed by "." and the extension when one is given
    // ("." is not doubled when the extension begins with one). Nothing when the file
    // cannot be created or the extension holds a "/".
    static std::unique_ptr<QFTempFile> Create(const std::string& extension = std::string());

    // Closes the descriptor and deletes the file; failures are swallowed.
    ~QFTempFile();
    QFTempFile(const QFTempFile&) = delete;
    QFTempFile& operator=(const QFTempFile&) = delete;

    // The open descriptor (-1 never: a made object always holds one).
    int fileDescriptor() const { return fd_; }
    const std::string& path() const { return path_; }
    const std::string& stringValue() const { return path_; }
    const std::string& pathAsStdString() const { return path_; }
    const char* pathAsCString() const { return path_.c_str(); }
    // The file's reference; false when the file is no longer there.
    bool getFSRef(FSRef* ref) const;

private:
    QFTempFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    int fd_ = XWQF::kNoFork;
    std::string path_;
};
