// Byte-order reversal: of single 16- and 32-bit values, and of a whole file,
// written as a copy with the two bytes of every 16-bit word exchanged.
#pragma once

#include <cstdint>
#include <string>

// The value with its two bytes in the other order.
inline short ShortRvrs(short value) {
    return static_cast<short>(__builtin_bswap16(static_cast<uint16_t>(value)));
}
// The value with its four bytes in reverse order.
inline int LongRvrs(int value) {
    return static_cast<int>(__builtin_bswap32(static_cast<uint32_t>(value)));
}
// Returns the value unchanged: a 24-bit value is not turned.
inline int TwentyFourRvrs(int value) { return value; }

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
