// Writes a copy of a file with the two bytes of every 16-bit word exchanged.
#pragma once

#include <string>

class ByteSwapper {
public:
    ByteSwapper(std::string inPath, std::string outPath)
        : in_(std::move(inPath)), out_(std::move(outPath)) {}

    const std::string& inPath() const { return in_; }
    const std::string& outPath() const { return out_; }
    void setInputPath(std::string path) { in_ = std::move(path); }
    void setOutputPath(std::string path) { out_ = std::move(path); }

    // Writes the input with its bytes swapped in pairs to the output path (which may
    // be the input path). An odd last byte is copied as it is. A new output is
    // created exclusively; an existing one is replaced at once through a temporary
    // file in its folder and a rename, keeping its permissions. False, with the
    // output left as it was, when the input is missing or not a regular file, or
    // when reading, writing or renaming fails.
    bool swapBytes() const;

private:
    std::string in_;
    std::string out_;
};
