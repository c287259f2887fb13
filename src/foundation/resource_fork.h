// Resource forks without a platform Resource Manager.
//
// ResourceFork is an in-memory set of resources, keyed by four-character type and
// signed 16-bit number, read from and written to the published resource-file
// layout (a 16-byte header, the data area, and the map with its type list,
// reference lists and name list).
//
// A file's resource fork and its Finder information live in an AppleDouble
// (version 2) sidecar "._name" beside the file: entry 2 holds the fork, entry 9
// the 32 bytes of Finder information. A sidecar that is not AppleDouble is taken
// as a raw resource fork. A file without a sidecar has an empty resource fork.
//
// Everything read from a fork or a sidecar is checked against its size: a
// malformed map or sidecar gives -199, never a read outside the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/errors.h"

enum : int {
    kResNotFoundErr = -192,   // no resource of that type and number
    kAddResFailedErr = -194,  // the map cannot hold what was asked (offsets out of range)
    kMapReadErr = -199,       // the resource map (or the sidecar around it) is malformed
    kForkNotFoundErr = -1409, // no such fork
    kForkExistsErr = -1421,   // Create on a fork that already holds data
};

// A four-character code from its four characters, first character most significant.
constexpr uint32_t FourCharCode(const char (&s)[5]) {
    return (static_cast<uint32_t>(static_cast<unsigned char>(s[0])) << 24) |
           (static_cast<uint32_t>(static_cast<unsigned char>(s[1])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(s[2])) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(s[3]));
}

// Forks and sidecars larger than this are not read (-199); a valid map never
// needs more, since resource data offsets have 24 bits.
constexpr size_t kMaxResourceForkSize = 64u * 1024u * 1024u;

struct ResourceEntry {
    uint32_t type = 0;
    int16_t id = 0;
    std::string name;        // Mac Roman bytes, at most 255; empty = no name
    uint8_t attributes = 0;  // the attribute byte as stored
    std::vector<uint8_t> data;
};

class ResourceFork {
public:
    // Parses a fork. 0 on success; -39 for an empty fork (no bytes at all); -199
    // for any inconsistency. A later entry with the same type and number as an
    // earlier one is ignored (a lookup finds the first).
    static OSErr Parse(const uint8_t* bytes, size_t size, ResourceFork* out);

    // The canonical fork: header, 240 reserved bytes, the data area, then the map
    // (types in order of first appearance, each with its references and names in
    // order). -194 when the map cannot represent the resources.
    OSErr Serialize(std::vector<uint8_t>* out) const;

    const ResourceEntry* Find(uint32_t type, int16_t id) const;
    ResourceEntry* Find(uint32_t type, int16_t id);
    // Adds a resource at the end, or replaces the one with the same type and number.
    ResourceEntry& Put(ResourceEntry entry);
    bool Remove(uint32_t type, int16_t id);

    const std::vector<ResourceEntry>& entries() const { return entries_; }
    bool empty() const { return entries_.empty(); }

    uint16_t attributes = 0;  // the map's attribute word

private:
    std::vector<ResourceEntry> entries_;
};

// AppleDouble sidecars.
constexpr uint32_t kAppleDoubleMagic = 0x00051607;
constexpr uint32_t kAppleDoubleVersion2 = 0x00020000;
constexpr uint32_t kAppleDoubleResourceFork = 2;
constexpr uint32_t kAppleDoubleFinderInfo = 9;
constexpr size_t kFinderInfoSize = 32;

struct AppleDoubleEntry {
    uint32_t id = 0;
    std::vector<uint8_t> bytes;
};

struct AppleDouble {
    std::vector<AppleDoubleEntry> entries;

    const AppleDoubleEntry* Find(uint32_t id) const;
    // Replaces the entry with this id, or adds it.
    void Set(uint32_t id, std::vector<uint8_t> bytes);
};

// Parses the bytes of a sidecar. Bytes that do not begin with the AppleDouble
// magic are a raw resource fork: the result then holds them as entry 2 and
// *raw is set. -199 for a malformed AppleDouble header or entry table.
OSErr ParseSidecar(const uint8_t* bytes, size_t size, AppleDouble* out, bool* raw = nullptr);
// The sidecar bytes in the layout macOS writes: Finder information first (always
// present, 32 zero bytes when unknown), other entries, the resource fork last.
std::vector<uint8_t> SerializeSidecar(const AppleDouble& sidecar);

// A file's resource fork bytes. With resourceFork true: entry 2 of the sidecar
// (empty when there is no sidecar or no entry); with false: the file's own data.
// -43 when the file does not exist; -199 for a malformed or oversized sidecar.
OSErr ReadForkBytes(const std::string& path, bool resourceFork, std::vector<uint8_t>* bytes);
// Stores fork bytes: into the sidecar (keeping its other entries) or as the
// file's whole data. The file must exist (-43).
OSErr WriteForkBytes(const std::string& path, bool resourceFork, const std::vector<uint8_t>& bytes);

// Finder type, creator and flags of a file (entry 9 of its sidecar). A file
// without Finder information gives zeros and 0. -43 when the file does not exist.
OSErr GetFinderInfo(const std::string& path, uint32_t* type, uint32_t* creator,
                    uint16_t* flags = nullptr);
// Sets them, keeping the rest of the Finder information and the resource fork.
OSErr SetFinderInfo(const std::string& path, uint32_t type, uint32_t creator, uint16_t flags = 0);
