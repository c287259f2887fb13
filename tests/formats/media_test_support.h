// Helpers of the media-library tests: AIFF-C and Wave64 files that ffmpeg
// wrote, reshaped byte by byte into headers that state more frames than their
// sample chunk holds, or sample chunks with bytes after them.
#pragma once

#include <cstdint>
#include <string>

#include "aiff_test_support.h"
#include "wave_test_support.h"

namespace mediatest {

// An AIFF-C file as ffmpeg writes it (its 'SSND' chunk last): COMM's frame
// count set to `frames` (0: as written), the last `shortBy` bytes of sound
// data gone (an odd chunk then ends in its pad byte), and an 'ANNO' chunk of
// `trailing` bytes after the sound data (none for 0). The FORM size follows.
inline std::string ReshapedAifc(std::string bytes, uint32_t frames, size_t trailing,
                                size_t shortBy = 0) {
    using aifftest::BE32;
    if (frames) bytes.replace(bytes.find("COMM") + 10, 4, BE32(frames));
    const size_t ssnd = bytes.find("SSND");
    const size_t size = bytes.size() - ssnd - 8 - shortBy;
    bytes.resize(bytes.size() - shortBy);
    bytes.replace(ssnd + 4, 4, BE32(static_cast<uint32_t>(size)));
    if (size & 1) bytes += '\0';
    if (trailing) bytes += aifftest::Chunk("ANNO", std::string(trailing, '\0'));
    bytes.replace(4, 4, BE32(static_cast<uint32_t>(bytes.size() - 8)));
    return bytes;
}

// A Wave64 file as ffmpeg writes it (its 'data' chunk last, a multiple of 8
// bytes long): the sample count of its 'fact' chunk set to `frames` (0: as
// written), or such a chunk put before 'data' where it has none, and a 'levl'
// chunk of `trailing` bytes (a multiple of 8) after the data (none for 0).
// The 'riff' size follows.
inline std::string ReshapedWave64(std::string bytes, uint64_t frames, size_t trailing) {
    using wavetest::LE64;
    const std::string suffix("\xf3\xac\xd3\x11\x8c\xd1\x00\xc0\x4f\x8e\xdb\x8a", 12);
    if (frames) {
        const size_t fact = bytes.find("fact" + suffix);
        if (fact != std::string::npos)
            bytes.replace(fact + 24, 8, LE64(frames));
        else
            bytes.insert(bytes.find("data" + suffix), "fact" + suffix + LE64(32) + LE64(frames));
    }
    if (trailing) bytes += "levl" + suffix + LE64(24 + trailing) + std::string(trailing, '\0');
    bytes.replace(16, 8, LE64(bytes.size()));
    return bytes;
}

}  // namespace mediatest
