#include "foundation/pstring.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

void pstrcpy(const std::string& source, unsigned char* destination) {
    size_t n = std::min<size_t>(source.size(), 255);
    destination[0] = static_cast<unsigned char>(n);
    std::memcpy(destination + 1, source.data(), n);
}

void pstrcpy(const unsigned char* source, unsigned char* destination) {
    std::memmove(destination, source, static_cast<size_t>(source[0]) + 1);
}

void pstrcpy(const unsigned char* source, char* destination) {
    std::memmove(destination, source, static_cast<size_t>(source[0]) + 1);
}

void pstrncpy(const unsigned char* source, unsigned char* destination, int n) {
    n = std::clamp(n, 0, static_cast<int>(source[0]));
    std::memmove(destination + 1, source + 1, static_cast<size_t>(n));
    destination[0] = static_cast<unsigned char>(n);
}

void pstrcat(unsigned char* destination, const unsigned char* source) {
    int len = destination[0];
    for (int i = 1; i <= source[0] && len < 254; ++i) destination[++len] = source[i];
    destination[0] = static_cast<unsigned char>(len);
}

int pstrcmp(const unsigned char* a, const unsigned char* b) {
    if (a[0] != b[0]) return 0;
    return std::memcmp(a + 1, b + 1, a[0]) == 0 ? 1 : 0;
}

int GetStringPos(const unsigned char* pattern, const unsigned char* text) {
    int pl = pattern[0], tl = text[0];
    if (pl == 0) return 1;
    if (pl > tl) return 0;
    for (int i = 1; i + pl - 1 <= tl; ++i)
        if (std::memcmp(text + i, pattern + 1, pl) == 0) return i;
    return 0;
}

int GetStringPosBackwards(const unsigned char* pattern, const unsigned char* text) {
    int pl = pattern[0], tl = text[0];
    if (pl == 0) return tl + 1;
    if (pl > tl) return 0;
    for (int i = tl - pl + 1; i >= 1; --i)
        if (std::memcmp(text + i, pattern + 1, pl) == 0) return i;
    return 0;
}

bool DoesPStr1ContainPStr2(const unsigned char* text, const unsigned char* pattern,
                           short* position) {
    if (pattern[0] == 0) {
        *position = 1;
        return true;
    }
    if (pattern[0] > text[0]) {
        *position = -1;
        return false;
    }
    int pos = GetStringPos(pattern, text);
    *position = static_cast<short>(pos);
    return pos != 0;
}

namespace {

// Unicode code points of Mac Roman bytes 0x80..0xFF.
const uint16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one UTF-8 sequence at s[i]; returns the code point (0xFFFD when malformed)
// and advances i.
uint32_t NextCodePoint(const std::string& s, size_t& i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int extra = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
        ++i;
        return c;
    } else if ((c & 0xE0) == 0xC0) {
        extra = 1;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3;
        cp = c & 0x07;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + extra >= s.size()) {
        i = s.size();
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) {
            i += k;
            return 0xFFFD;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    i += extra + 1;
    return cp;
}

}  // namespace

std::string MacRomanToUtf8(const std::string& macRoman) {
    std::string out;
    out.reserve(macRoman.size() * 2);
    for (unsigned char c : macRoman) {
        if (c < 0x80)
            out += static_cast<char>(c);
        else
            AppendUtf8(out, kMacRomanHigh[c - 0x80]);
    }
    return out;
}

std::string Utf8ToMacRoman(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        uint32_t cp = NextCodePoint(utf8, i);
        if (cp < 0x80) {
            out += static_cast<char>(cp);
            continue;
        }
        char mapped = '?';
        if (cp == 0x0394) cp = 0x2206;  // older tables give the Greek delta for 0xC6
        if (cp == 0x2126) cp = 0x03A9;  // the ohm sign for 0xBD
        for (int k = 0; k < 128; ++k) {
            if (kMacRomanHigh[k] == cp) {
                mapped = static_cast<char>(0x80 + k);
                break;
            }
        }
        out += mapped;
    }
    return out;
}

std::string stringFromPascalString(const unsigned char* pstr) {
    return MacRomanToUtf8(pstrBytes(pstr));
}

void pascalStringFromString(const std::string& utf8, unsigned char* pstr) {
    pstrcpy(Utf8ToMacRoman(utf8), pstr);
}
