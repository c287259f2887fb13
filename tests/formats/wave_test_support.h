// Helpers of the WAVE tests: RIFF files built byte by byte, regions, and (from
// format_test_support.h) reading or writing every frame in the buffer form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/chunk_reader.h"
#include "formats/pcm/wave_file.h"

namespace wavetest {

using namespace formattest;

// The extension argument of Create for a WAVE file.
inline constexpr unsigned char kWavExtension[] = "\x04.wav";

inline std::string LE16(uint16_t v) {
    uint8_t b[2];
    StoreLE16(b, v);
    return std::string(reinterpret_cast<char*>(b), 2);
}
inline std::string LE32(uint32_t v) {
    uint8_t b[4];
    StoreLE32(b, v);
    return std::string(reinterpret_cast<char*>(b), 4);
}
inline std::string LE64(uint64_t v) {
    return LE32(static_cast<uint32_t>(v)) + LE32(static_cast<uint32_t>(v >> 32));
}

// A chunk: ID, size (the data's unless given), data, pad byte for an odd length.
inline std::string Chunk(const std::string& id, const std::string& data, int64_t size = -1) {
    std::string out = id + LE32(static_cast<uint32_t>(size < 0 ? data.size() : size)) + data;
    if (data.size() & 1) out += '\0';
    return out;
}

// "RIFF", the size of what follows (unless given), "WAVE" and the chunks.
inline std::string Riff(const std::string& chunks, int64_t size = -1) {
    return "RIFF" + LE32(static_cast<uint32_t>(size < 0 ? chunks.size() + 4 : size)) + "WAVE" + chunks;
}

// The 16 bytes of a plain format.
inline std::string FmtData(uint16_t tag, int16_t channels, int32_t rate, int16_t bits) {
    const uint32_t bytes = static_cast<uint32_t>(bits / 8) * static_cast<uint16_t>(channels);
    return LE16(tag) + LE16(static_cast<uint16_t>(channels)) + LE32(static_cast<uint32_t>(rate)) +
           LE32(bytes * static_cast<uint32_t>(rate)) + LE16(static_cast<uint16_t>(bytes)) +
           LE16(static_cast<uint16_t>(bits));
}

inline std::string Fmt(int16_t channels, int32_t rate, int16_t bits, uint16_t tag = 1) {
    return Chunk("fmt ", FmtData(tag, channels, rate, bits));
}

inline std::string Guid(uint32_t data1) {
    return LE32(data1) + std::string("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
}

inline std::string FmtExtensible(int16_t channels, int32_t rate, int16_t bits, uint32_t mask,
                                 uint32_t subFormat = 1) {
    return Chunk("fmt ", FmtData(0xFFFE, channels, rate, bits) + LE16(22) +
                             LE16(static_cast<uint16_t>(bits)) + LE32(mask) + Guid(subFormat));
}

inline std::string Data(const std::string& samples, int64_t size = -1) {
    return Chunk("data", samples, size);
}

struct Cue {
    uint32_t id;
    uint32_t offset;
};

inline std::string CueChunk(const std::vector<Cue>& points, int64_t count = -1) {
    std::string data = LE32(static_cast<uint32_t>(count < 0 ? points.size() : count));
    for (const Cue& c : points)
        data += LE32(c.id) + LE32(c.offset) + "data" + LE32(0) + LE32(0) + LE32(c.offset);
    return Chunk("cue ", data);
}

inline std::string Labl(uint32_t id, const std::string& text, const std::string& kind = "labl") {
    return Chunk(kind, LE32(id) + text + std::string(1, '\0'));
}

inline std::string Ltxt(uint32_t id, uint32_t length) {
    return Chunk("ltxt", LE32(id) + LE32(length) + "rgn " + std::string(8, '\0'));
}

inline std::string List(const std::string& type, const std::string& subChunks) {
    return Chunk("LIST", type + subChunks);
}

struct Loop {
    uint32_t start;
    uint32_t end;
};

inline std::string Smpl(const std::vector<Loop>& loops, int64_t count = -1) {
    std::string data = std::string(28, '\0') +
                       LE32(static_cast<uint32_t>(count < 0 ? loops.size() : count)) + LE32(0);
    uint32_t id = 0;
    for (const Loop& l : loops)
        data += LE32(id++) + LE32(0) + LE32(l.start) + LE32(l.end) + LE32(0) + LE32(0);
    return Chunk("smpl", data);
}

// Distinct little-endian 16-bit samples (3i - 7), some of them negative.
inline std::string Ramp16(uint32_t samples) {
    std::string out;
    for (uint32_t i = 0; i < samples; ++i) out += LE16(static_cast<uint16_t>(i * 3 - 7));
    return out;
}

// A region of a name, with its sync point at its start.
inline SFTRegion Region(int32_t start, int32_t end, const std::string& name, int32_t stamp = 0) {
    SFTRegion r{};
    r.start = start;
    r.end = end;
    r.sync = start;
    r.timeStamp = stamp;
    NameToField(name, r.name);
    return r;
}

// The little-endian 32-bit number at a byte offset of a file's bytes.
inline uint32_t U32At(const std::string& file, size_t at) {
    return LoadLE32(reinterpret_cast<const uint8_t*>(file.data()) + at);
}

inline std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }


}  // namespace wavetest
