// Four-character type codes and their quoted text form ("'AIFF'").
#pragma once

#include <cstdint>
#include <string>

#include "soundfile/core_audio_types.h"

constexpr OSType FourCC(const char (&s)[5]) {
    return (static_cast<uint32_t>(static_cast<unsigned char>(s[0])) << 24) |
           (static_cast<uint32_t>(static_cast<unsigned char>(s[1])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(s[2])) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(s[3]));
}

// "'AIFF'" for 'AIFF'.
std::string HFSTypeString(OSType code);
// The code of "'AIFF'" (or of a bare four-character text); 0 when it is neither.
OSType HFSTypeCode(const std::string& text);
// The four characters of a code, as they are.
std::string FourCCText(OSType code);
