// Pascal strings (a length byte and up to 255 bytes in a 256-byte buffer) and the
// Mac Roman <-> UTF-8 conversions they need.
#pragma once

#include <string>

typedef unsigned char Str255[256];

void pstrcpy(const std::string& source, unsigned char* destination);
void pstrcpy(const unsigned char* source, unsigned char* destination);
void pstrcpy(const unsigned char* source, char* destination);
// Copies the first n characters (n clamped to 0 .. the source length).
void pstrncpy(const unsigned char* source, unsigned char* destination, int n);
// Appends while the destination holds fewer than 254 characters.
void pstrcat(unsigned char* destination, const unsigned char* source);
int pstrcmp(const unsigned char* a, const unsigned char* b);
int GetStringPos(const unsigned char* pattern, const unsigned char* text);
int GetStringPosBackwards(const unsigned char* pattern, const unsigned char* text);
bool DoesPStr1ContainPStr2(const unsigned char* text, const unsigned char* pattern,
                           short* position);

// Mac Roman bytes to UTF-8 and back; characters without a Mac Roman form become '?'.
std::string MacRomanToUtf8(const std::string& macRoman);
std::string Utf8ToMacRoman(const std::string& utf8);

// UTF-8 text from a Pascal string in Mac Roman.
std::string stringFromPascalString(const unsigned char* pstr);
// Pascal string in Mac Roman from UTF-8 text, cut to 255 bytes.
void pascalStringFromString(const std::string& utf8, unsigned char* pstr);
// The bytes of a Pascal string as they are (no conversion).
inline std::string pstrBytes(const unsigned char* p) {
    return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}
