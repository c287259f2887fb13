#include "soundfile/type_codes.h"

std::string FourCCText(OSType code) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
    return s;
}

std::string HFSTypeString(OSType code) { return "'" + FourCCText(code) + "'"; }

OSType HFSTypeCode(const std::string& text) {
    std::string t = text;
    if (t.size() == 6 && t.front() == '\'' && t.back() == '\'') t = t.substr(1, 4);
    if (t.size() != 4) return 0;
    OSType code = 0;
    for (char c : t) code = (code << 8) | static_cast<unsigned char>(c);
    return code;
}
