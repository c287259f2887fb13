// The tags an mp3 file carries at its two ends: the ID3v2 tag at its start,
// handed on whole to the mp3 encoder, and the 128-byte ID3v1 record at its end,
// taken apart into its text fields and genre.
//
// Both readers go through the bounded reader: nothing is read or allocated
// beyond the file's own bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// The ID3v2 tag at the start of the file, its 10-byte header included: the
// header's four size bytes (7 bits each) plus 10 bytes, cut at the end of the
// file. False when the file does not begin with a tag header, the size bytes
// are not syncsafe, or the file cannot be read.
bool ReadID3v2Tag(const std::string& path, std::vector<uint8_t>* tag);

// The ID3v1 record in the last 128 bytes of the file. False when those bytes
// do not begin with "TAG" or cannot be read. Each text is read as ISO 8859-1,
// ends at its first NUL byte and loses its trailing spaces.
bool ReadID3v1Tag(const std::string& path, ID3v1Tag* tag);
