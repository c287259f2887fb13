// Helpers of the AIFF-family tests: files built byte by byte, and (from
// format_test_support.h) reading every frame of an open file in its buffer form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "formats/chunk_reader.h"
#include "formats/pcm/aiff_file.h"

namespace aifftest {

using formattest::ReadAllFrames;

inline std::string BE16(uint16_t v) {
    uint8_t b[2];
    StoreBE16(b, v);
    return std::string(reinterpret_cast<char*>(b), 2);
}
inline std::string BE32(uint32_t v) {
    uint8_t b[4];
    StoreBE32(b, v);
    return std::string(reinterpret_cast<char*>(b), 4);
}
inline std::string BE64(uint64_t v) { return BE32(static_cast<uint32_t>(v >> 32)) + BE32(static_cast<uint32_t>(v)); }

// A chunk: ID, size (the data's unless given), data, pad byte for an odd size.
inline std::string Chunk(const std::string& id, const std::string& data, int64_t size = -1) {
    std::string out = id + BE32(static_cast<uint32_t>(size < 0 ? data.size() : size)) + data;
    if (data.size() & 1) out += '\0';
    return out;
}

inline std::string Rate(double rate) {
    Float80 x = DblToExt80(rate);
    return std::string(reinterpret_cast<char*>(x.bytes), 10);
}

inline std::string CommData(int16_t channels, uint32_t frames, int16_t bits, double rate) {
    return BE16(static_cast<uint16_t>(channels)) + BE32(frames) + BE16(static_cast<uint16_t>(bits)) +
           Rate(rate);
}

inline std::string Comm(int16_t channels, uint32_t frames, int16_t bits, double rate) {
    return Chunk("COMM", CommData(channels, frames, bits, rate));
}

inline std::string AifcComm(int16_t channels, uint32_t frames, int16_t bits, double rate,
                            const std::string& compression) {
    return Chunk("COMM", CommData(channels, frames, bits, rate) + compression + std::string(2, '\0'));
}

inline std::string Ssnd(const std::string& samples, uint32_t offset = 0) {
    return Chunk("SSND", BE32(offset) + BE32(0) + std::string(offset, '\0') + samples);
}

// "FORM", the size of what follows (unless given), the form type and the chunks.
inline std::string Form(const std::string& chunks, const std::string& type = "AIFF",
                        int64_t size = -1) {
    return "FORM" + BE32(static_cast<uint32_t>(size < 0 ? chunks.size() + 4 : size)) + type + chunks;
}

inline std::string Marker(int16_t id, uint32_t position, const std::string& name) {
    std::string out = BE16(static_cast<uint16_t>(id)) + BE32(position) +
                      std::string(1, static_cast<char>(name.size())) + name;
    if ((name.size() + 1) & 1) out += '\0';
    return out;
}

inline std::string Mark(const std::vector<std::string>& markers) {
    std::string data = BE16(static_cast<uint16_t>(markers.size()));
    for (const std::string& m : markers) data += m;
    return Chunk("MARK", data);
}

// INST with default sampler values and the two loops' play modes and marker IDs.
inline std::string Inst(int16_t sustainMode, int16_t sustainBegin, int16_t sustainEnd,
                        int16_t releaseMode = 0, int16_t releaseBegin = 0, int16_t releaseEnd = 0) {
    std::string data = std::string("\x3c\x00\x00\x7f\x00\x7f", 6) + BE16(0);
    for (int16_t v : {sustainMode, sustainBegin, sustainEnd, releaseMode, releaseBegin, releaseEnd})
        data += BE16(static_cast<uint16_t>(v));
    return Chunk("INST", data);
}

inline std::string RegionRecord(int64_t start, int64_t end, int64_t stamp, const std::string& name) {
    std::string out = BE64(0) + BE64(0) + BE64(static_cast<uint64_t>(start)) +
                      BE64(static_cast<uint64_t>(end)) + BE64(0) + BE64(static_cast<uint64_t>(stamp)) +
                      BE64(static_cast<uint64_t>(stamp));
    std::string field(32, '\0');
    field[0] = static_cast<char>(name.size());
    field.replace(1, name.size(), name);
    return out + field;
}

inline std::string Regn(const std::vector<std::string>& records, int64_t count = -1) {
    std::string data = BE32(static_cast<uint32_t>(count < 0 ? records.size() : count));
    for (const std::string& r : records) data += r;
    return Chunk("regn", data);
}

// Big-endian 16-bit samples 0, 1, 2, ... for frames x channels samples.
inline std::string Ramp16(uint32_t samples) {
    std::string out;
    for (uint32_t i = 0; i < samples; ++i) out += BE16(static_cast<uint16_t>(i));
    return out;
}

}  // namespace aifftest
