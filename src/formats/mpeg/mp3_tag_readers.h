// The two tag readers of an mp3 input and the texts that describe it. The
// readers take the ID3v2 tag at the start of the file whole (it is put in front
// of an mp3 output unchanged) and the raw 128-byte ID3v1 record at its end.
//
// Both go through the bounded reader: a tag the file's bytes do not hold is no
// tag, and nothing is allocated beyond the file's own length.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "formats/chunk_reader.h"

// The ID3v1 record as it stands in the last 128 bytes of the file.
struct ID3v1_header {
    char tag[3];  // "TAG"
    char title[30];
    char artist[30];
    char album[30];
    char year[4];
    char comment[30];
    uint8_t genre;
};
static_assert(sizeof(ID3v1_header) == 128, "the ID3v1 record is 128 bytes");

// Reads the tags of one mp3 file, from a byte source or from a path (the file is
// opened for reading and closed again with the reader).
class Mp3TagReader {
public:
    explicit Mp3TagReader(ByteSource& source);
    explicit Mp3TagReader(const std::string& path);
    ~Mp3TagReader();
    Mp3TagReader(const Mp3TagReader&) = delete;
    Mp3TagReader& operator=(const Mp3TagReader&) = delete;

    // True when the file ends with an ID3v1 record ("TAG"); the record then
    // holds the last 128 bytes. False for a file shorter than that or unreadable.
    bool get_id3v1_tag(ID3v1_header* record);

    // The whole ID3v2 tag at the start of the file, its 10-byte header (and a
    // footer when the header announces one) included, and its length in `size`.
    // Null (size 0) when the file does not begin with "ID3", a size byte has its
    // high bit set, the tag is longer than the file, or a read fails.
    std::unique_ptr<uint8_t[]> get_id3v2_tag(unsigned long* size);

private:
    struct PathSource;
    std::unique_ptr<PathSource> owned_;
    ByteSource* source_ = nullptr;
};

// Size of the ID3v2 tag the first 10 bytes of a file announce, header and footer
// included; 0 when they are no tag header.
uint64_t ID3v2TagSize(const uint8_t (&header)[10]);

// The texts of the file-info display for an mp3 file: the MPEG version by
// sample rate, and the channel layout.
std::string GetMp3Description(double sampleRate);
std::string GetMp3ChannelDescription(int channels);
