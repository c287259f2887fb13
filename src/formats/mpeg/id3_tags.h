// The 128-byte ID3v1 record at the end of an mp3 file, taken apart into its
// text fields and genre (the ID3v2 tag at its start is Mp3TagReader's). The
// reader goes through the bounded reader: nothing is read beyond the file's own
// bytes.
#pragma once

#include <cstdint>
#include <string>

// Highest genre number of the ID3v1 genre list; other values name no genre.
inline constexpr int kMaxID3v1Genre = 147;

struct ID3v1Tag {
    std::string title;
    std::string artist;
    std::string album;
    std::string year;
    std::string comment;
    int genre = -1;  // 0..147, or -1 when the record names no genre of the list
};

// The ID3v1 record in the last 128 bytes of the file. False when those bytes
// do not begin with "TAG" or cannot be read. Each text is read as ISO 8859-1,
// ends at its first NUL byte and loses its trailing spaces.
bool ReadID3v1Tag(const std::string& path, ID3v1Tag* tag);
