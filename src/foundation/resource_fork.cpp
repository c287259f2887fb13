#include "foundation/resource_fork.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "foundation/xwqf.h"

namespace {

// Layout of the published resource-file format.
constexpr size_t kForkHeaderSize = 16;
constexpr size_t kDataAreaStart = 256;  // header, then reserved bytes for the system and application
constexpr size_t kMapFixedSize = 28;    // header copy, next-map handle, file ref, attributes, two offsets
constexpr size_t kTypeEntrySize = 8;
constexpr size_t kRefEntrySize = 12;
constexpr uint16_t kNoName = 0xFFFF;
constexpr uint32_t kMaxDataOffset = 0xFFFFFF;  // 24 bits
// Far more than the 16-bit offsets of a real map allow; keeps a hostile map from
// making millions of entries.
constexpr size_t kMaxResources = 32768;

// AppleDouble layout.
constexpr size_t kSidecarHeaderSize = 26;  // magic, version, 16 filler bytes, entry count
constexpr size_t kSidecarEntrySize = 12;
constexpr uint32_t kAppleDoubleVersion1 = 0x00010000;
// Entry ids 1..15 are defined; a real sidecar has a handful of entries.
constexpr uint64_t kMaxSidecarEntries = 1024;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

uint32_t Get32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void Put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint64_t Key(uint32_t type, int16_t id) {
    return (static_cast<uint64_t>(type) << 16) | static_cast<uint16_t>(id);
}

OSErr StatusOf(int err) { return XWQF::ErrnoToStatus(err); }

}  // namespace

// ---------------------------------------------------------------------------
// The resource map.

OSErr ResourceFork::Parse(const uint8_t* bytes, size_t size, ResourceFork* out) {
    if (!out) return kParamErr;
    *out = ResourceFork();
    if (size == 0) return kEOFErr;
    if (!bytes || size < kForkHeaderSize || size > kMaxResourceForkSize) return kMapReadErr;

    const uint64_t dataOffset = Get32(bytes);
    const uint64_t mapOffset = Get32(bytes + 4);
    const uint64_t dataLength = Get32(bytes + 8);
    const uint64_t mapLength = Get32(bytes + 12);
    if (dataOffset + dataLength > size || mapOffset + mapLength > size) return kMapReadErr;
    if (mapLength < kMapFixedSize + 2) return kMapReadErr;

    const uint8_t* map = bytes + mapOffset;
    const uint8_t* data = bytes + dataOffset;
    const uint16_t mapAttributes = Get16(map + 22);
    const uint64_t typeListOffset = Get16(map + 24);
    const uint64_t nameListOffset = Get16(map + 26);
    if (typeListOffset + 2 > mapLength || nameListOffset > mapLength) return kMapReadErr;

    const uint8_t* typeList = map + typeListOffset;
    // The count is stored minus one; 0xFFFF is an empty map.
    const uint64_t typeCount = (Get16(typeList) + 1u) & 0xFFFFu;
    if (typeListOffset + 2 + typeCount * kTypeEntrySize > mapLength) return kMapReadErr;

    // First pass: every reference list inside the map, and not more references
    // than the map could hold without sharing its bytes.
    uint64_t totalRefs = 0;
    for (uint64_t t = 0; t < typeCount; ++t) {
        const uint8_t* entry = typeList + 2 + t * kTypeEntrySize;
        const uint64_t refCount = static_cast<uint64_t>(Get16(entry + 4)) + 1;
        const uint64_t refListOffset = Get16(entry + 6);
        if (typeListOffset + refListOffset + refCount * kRefEntrySize > mapLength)
            return kMapReadErr;
        totalRefs += refCount;
        if (totalRefs > kMaxResources || totalRefs * kRefEntrySize > mapLength) return kMapReadErr;
    }

    ResourceFork fork;
    fork.attributes = mapAttributes;
    fork.entries_.reserve(static_cast<size_t>(totalRefs));
    std::unordered_set<uint64_t> seen;
    uint64_t totalData = 0;
    uint64_t totalNames = 0;
    for (uint64_t t = 0; t < typeCount; ++t) {
        const uint8_t* entry = typeList + 2 + t * kTypeEntrySize;
        const uint32_t type = Get32(entry);
        const uint64_t refCount = static_cast<uint64_t>(Get16(entry + 4)) + 1;
        const uint8_t* refs = typeList + Get16(entry + 6);
        for (uint64_t r = 0; r < refCount; ++r) {
            const uint8_t* ref = refs + r * kRefEntrySize;
            const int16_t id = static_cast<int16_t>(Get16(ref));
            const uint16_t nameOffset = Get16(ref + 2);
            const uint8_t attributes = ref[4];
            const uint64_t offset = Get32(ref + 4) & kMaxDataOffset;

            if (offset + 4 > dataLength) return kMapReadErr;
            const uint64_t length = Get32(data + offset);
            if (offset + 4 + length > dataLength) return kMapReadErr;
            // Resources do not share their bytes: more data than the area holds is a
            // map made to multiply one block.
            totalData += length;
            if (totalData > dataLength) return kMapReadErr;

            std::string name;
            if (nameOffset != kNoName) {
                const uint64_t at = nameListOffset + nameOffset;
                if (at >= mapLength) return kMapReadErr;
                // A name running past the end of the map is cut there: some writers
                // count one byte too many for the last name.
                const uint64_t nameLength = std::min<uint64_t>(map[at], mapLength - at - 1);
                totalNames += nameLength + 1;
                if (totalNames > mapLength) return kMapReadErr;
                name.assign(reinterpret_cast<const char*>(map + at + 1),
                            static_cast<size_t>(nameLength));
            }

            if (!seen.insert(Key(type, id)).second) continue;
            ResourceEntry res;
            res.type = type;
            res.id = id;
            res.name = std::move(name);
            res.attributes = attributes;
            res.data.assign(data + offset + 4, data + offset + 4 + length);
            fork.entries_.push_back(std::move(res));
        }
    }
    *out = std::move(fork);
    return 0;
}

OSErr ResourceFork::Serialize(std::vector<uint8_t>* out) const {
    if (!out) return kParamErr;
    out->clear();

    // Types in order of first appearance, each with its resources in order.
    std::vector<uint32_t> types;
    std::vector<std::vector<const ResourceEntry*>> groups;
    std::unordered_map<uint32_t, size_t> groupOf;
    for (const ResourceEntry& e : entries_) {
        auto [it, added] = groupOf.emplace(e.type, types.size());
        if (added) {
            types.push_back(e.type);
            groups.emplace_back();
        }
        groups[it->second].push_back(&e);
    }
    for (const auto& g : groups)
        if (g.size() > 0x10000) return kAddResFailedErr;
    if (types.size() > 0xFFFF) return kAddResFailedErr;

    const size_t typeListOffset = kMapFixedSize;
    const size_t refListStart = 2 + types.size() * kTypeEntrySize;  // from the type list
    const size_t nameListOffset = typeListOffset + refListStart + entries_.size() * kRefEntrySize;
    if (nameListOffset > 0xFFFF) return kAddResFailedErr;

    size_t nameListLength = 0;
    size_t dataLength = 0;
    for (const auto& g : groups) {
        for (const ResourceEntry* e : g) {
            if (!e->name.empty()) {
                if (nameListLength >= kNoName) return kAddResFailedErr;
                nameListLength += 1 + std::min<size_t>(e->name.size(), 255);
            }
            if (dataLength > kMaxDataOffset || e->data.size() > UINT32_MAX) return kAddResFailedErr;
            dataLength += 4 + e->data.size();
            if (dataLength > kMaxResourceForkSize) return kAddResFailedErr;
        }
    }
    const size_t mapLength = nameListOffset + nameListLength;
    const size_t mapOffset = kDataAreaStart + dataLength;
    const size_t total = mapOffset + mapLength;
    if (total > kMaxResourceForkSize) return kAddResFailedErr;

    std::vector<uint8_t> bytes(total, 0);
    uint8_t* header = bytes.data();
    Put32(header, static_cast<uint32_t>(kDataAreaStart));
    Put32(header + 4, static_cast<uint32_t>(mapOffset));
    Put32(header + 8, static_cast<uint32_t>(dataLength));
    Put32(header + 12, static_cast<uint32_t>(mapLength));

    uint8_t* map = bytes.data() + mapOffset;
    std::memcpy(map, header, kForkHeaderSize);
    Put16(map + 22, attributes);
    Put16(map + 24, static_cast<uint16_t>(typeListOffset));
    Put16(map + 26, static_cast<uint16_t>(nameListOffset));
    uint8_t* typeList = map + typeListOffset;
    Put16(typeList, static_cast<uint16_t>(types.size() - 1));  // 0xFFFF when empty

    size_t refOffset = refListStart;
    size_t dataOffset = 0;
    size_t nameOffset = 0;
    for (size_t t = 0; t < types.size(); ++t) {
        uint8_t* entry = typeList + 2 + t * kTypeEntrySize;
        Put32(entry, types[t]);
        Put16(entry + 4, static_cast<uint16_t>(groups[t].size() - 1));
        Put16(entry + 6, static_cast<uint16_t>(refOffset));
        for (const ResourceEntry* e : groups[t]) {
            uint8_t* ref = typeList + refOffset;
            Put16(ref, static_cast<uint16_t>(e->id));
            if (e->name.empty()) {
                Put16(ref + 2, kNoName);
            } else {
                const size_t n = std::min<size_t>(e->name.size(), 255);
                Put16(ref + 2, static_cast<uint16_t>(nameOffset));
                uint8_t* name = map + nameListOffset + nameOffset;
                name[0] = static_cast<uint8_t>(n);
                std::memcpy(name + 1, e->name.data(), n);
                nameOffset += 1 + n;
            }
            Put32(ref + 4, static_cast<uint32_t>(dataOffset));
            ref[4] = e->attributes;
            // ref + 8: reserved for the handle, zero on disk.
            uint8_t* block = bytes.data() + kDataAreaStart + dataOffset;
            Put32(block, static_cast<uint32_t>(e->data.size()));
            if (!e->data.empty()) std::memcpy(block + 4, e->data.data(), e->data.size());
            dataOffset += 4 + e->data.size();
            refOffset += kRefEntrySize;
        }
    }
    *out = std::move(bytes);
    return 0;
}

const ResourceEntry* ResourceFork::Find(uint32_t type, int16_t id) const {
    for (const ResourceEntry& e : entries_)
        if (e.type == type && e.id == id) return &e;
    return nullptr;
}

ResourceEntry* ResourceFork::Find(uint32_t type, int16_t id) {
    for (ResourceEntry& e : entries_)
        if (e.type == type && e.id == id) return &e;
    return nullptr;
}

ResourceEntry& ResourceFork::Put(ResourceEntry entry) {
    if (ResourceEntry* existing = Find(entry.type, entry.id)) {
        *existing = std::move(entry);
        return *existing;
    }
    entries_.push_back(std::move(entry));
    return entries_.back();
}

bool ResourceFork::Remove(uint32_t type, int16_t id) {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const ResourceEntry& e) { return e.type == type && e.id == id; });
    if (it == entries_.end()) return false;
    entries_.erase(it);
    return true;
}

// ---------------------------------------------------------------------------
// AppleDouble sidecars.

const AppleDoubleEntry* AppleDouble::Find(uint32_t id) const {
    for (const AppleDoubleEntry& e : entries)
        if (e.id == id) return &e;
    return nullptr;
}

void AppleDouble::Set(uint32_t id, std::vector<uint8_t> bytes) {
    for (AppleDoubleEntry& e : entries) {
        if (e.id == id) {
            e.bytes = std::move(bytes);
            return;
        }
    }
    entries.push_back(AppleDoubleEntry{id, std::move(bytes)});
}

OSErr ParseSidecar(const uint8_t* bytes, size_t size, AppleDouble* out, bool* raw) {
    if (!out) return kParamErr;
    *out = AppleDouble();
    if (raw) *raw = false;
    if (size > 0 && !bytes) return kParamErr;
    if (size < 4 || Get32(bytes) != kAppleDoubleMagic) {
        if (raw) *raw = true;
        out->entries.push_back(AppleDoubleEntry{kAppleDoubleResourceFork,
                                                std::vector<uint8_t>(bytes, bytes + size)});
        return 0;
    }
    if (size < kSidecarHeaderSize) return kMapReadErr;
    const uint32_t version = Get32(bytes + 4);
    if (version != kAppleDoubleVersion2 && version != kAppleDoubleVersion1) return kMapReadErr;
    const uint64_t count = Get16(bytes + 24);
    if (count > kMaxSidecarEntries) return kMapReadErr;
    if (kSidecarHeaderSize + count * kSidecarEntrySize > size) return kMapReadErr;
    AppleDouble result;
    uint64_t total = 0;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* e = bytes + kSidecarHeaderSize + i * kSidecarEntrySize;
        const uint32_t id = Get32(e);
        const uint64_t offset = Get32(e + 4);
        const uint64_t length = Get32(e + 8);
        if (offset + length > size) return kMapReadErr;
        // Entries do not overlap; more bytes than the file has would be one
        // region counted over and over.
        total += length;
        if (total > size) return kMapReadErr;
        if (result.Find(id)) continue;
        result.entries.push_back(
            AppleDoubleEntry{id, std::vector<uint8_t>(bytes + offset, bytes + offset + length)});
    }
    *out = std::move(result);
    return 0;
}

std::vector<uint8_t> SerializeSidecar(const AppleDouble& sidecar) {
    // Finder information first and the resource fork last, as macOS lays them out:
    // readers that expect the fork at offset 82 then find it.
    std::vector<const AppleDoubleEntry*> order;
    const AppleDoubleEntry* finder = sidecar.Find(kAppleDoubleFinderInfo);
    const AppleDoubleEntry* fork = sidecar.Find(kAppleDoubleResourceFork);
    static const AppleDoubleEntry kEmptyFinder{kAppleDoubleFinderInfo,
                                               std::vector<uint8_t>(kFinderInfoSize, 0)};
    static const AppleDoubleEntry kEmptyFork{kAppleDoubleResourceFork, {}};
    order.push_back(finder ? finder : &kEmptyFinder);
    for (const AppleDoubleEntry& e : sidecar.entries)
        if (e.id != kAppleDoubleFinderInfo && e.id != kAppleDoubleResourceFork) order.push_back(&e);
    order.push_back(fork ? fork : &kEmptyFork);

    size_t total = kSidecarHeaderSize + order.size() * kSidecarEntrySize;
    for (const AppleDoubleEntry* e : order) total += e->bytes.size();
    std::vector<uint8_t> bytes(total, 0);
    Put32(bytes.data(), kAppleDoubleMagic);
    Put32(bytes.data() + 4, kAppleDoubleVersion2);
    // Bytes 8..23 are the filler, zero in version 2.
    Put16(bytes.data() + 24, static_cast<uint16_t>(order.size()));
    size_t at = kSidecarHeaderSize + order.size() * kSidecarEntrySize;
    for (size_t i = 0; i < order.size(); ++i) {
        uint8_t* e = bytes.data() + kSidecarHeaderSize + i * kSidecarEntrySize;
        Put32(e, order[i]->id);
        Put32(e + 4, static_cast<uint32_t>(at));
        Put32(e + 8, static_cast<uint32_t>(order[i]->bytes.size()));
        if (!order[i]->bytes.empty())
            std::memcpy(bytes.data() + at, order[i]->bytes.data(), order[i]->bytes.size());
        at += order[i]->bytes.size();
    }
    return bytes;
}

// ---------------------------------------------------------------------------
// Files.

namespace {

// Read-modify-write of sidecars is serialised, so that writing a file's fork and
// its Finder information from two threads loses neither.
std::mutex gSidecarLock;
std::atomic<unsigned> gTempCounter{0};

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

enum class ReadOutcome { kRead, kMissing, kNotRegular };

// Reads a whole regular file of at most kMaxResourceForkSize bytes. Opening does
// not block (a FIFO in the way is reported, not waited on).
OSErr ReadSmallFile(const std::string& path, std::vector<uint8_t>* bytes, ReadOutcome* outcome,
                    mode_t* mode = nullptr) {
    bytes->clear();
    *outcome = ReadOutcome::kMissing;
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        if (err == ENOENT || err == ENOTDIR || err == ENAMETOOLONG) return 0;
        if (err == EISDIR || err == ENXIO) {
            *outcome = ReadOutcome::kNotRegular;
            return 0;
        }
        return StatusOf(err);
    }
    FdCloser closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0) return StatusOf(errno);
    if (!S_ISREG(st.st_mode)) {
        *outcome = ReadOutcome::kNotRegular;
        return 0;
    }
    if (mode) *mode = st.st_mode;
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > kMaxResourceForkSize)
        return kMapReadErr;
    bytes->resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes->size()) {
        ssize_t n = ::read(fd, bytes->data() + done, bytes->size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return StatusOf(errno);
        }
        if (n == 0) break;  // the file shrank while being read
        done += static_cast<size_t>(n);
    }
    bytes->resize(done);
    *outcome = ReadOutcome::kRead;
    return 0;
}

OSErr WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return StatusOf(errno);
        }
        if (n == 0) return kIOErr;
        done += static_cast<size_t>(n);
    }
    return 0;
}

OSErr CheckFileExists(const std::string& path) {
    struct stat st;
    if (path.empty()) return kFileNotFoundErr;
    if (::stat(path.c_str(), &st) != 0) return StatusOf(errno);
    return 0;
}

// The sidecar of a file as entries; an absent sidecar (or something other than a
// file under its name) gives none.
OSErr LoadSidecar(const std::string& sidecarPath, AppleDouble* sidecar, mode_t* mode,
                  ReadOutcome* outcome) {
    std::vector<uint8_t> bytes;
    *sidecar = AppleDouble();
    if (OSErr err = ReadSmallFile(sidecarPath, &bytes, outcome, mode)) return err;
    if (*outcome != ReadOutcome::kRead) return 0;
    return ParseSidecar(bytes.data(), bytes.size(), sidecar);
}

// Replaces the sidecar at once: the new bytes go to a fresh file in the same
// folder, which then takes the sidecar's name.
OSErr StoreSidecar(const std::string& sidecarPath, const std::vector<uint8_t>& bytes, bool present,
                   mode_t mode) {
    auto slash = sidecarPath.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : sidecarPath.substr(0, slash + 1);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = folder + "._#sidecar-" + std::to_string(::getpid()) + "-" +
               std::to_string(gTempCounter.fetch_add(1)) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return StatusOf(errno);
    }
    if (fd < 0) return kDupFNErr;
    OSErr err = WriteAll(fd, bytes);
    if (err == 0 && present && ::fchmod(fd, mode & 07777) != 0) err = StatusOf(errno);
    if (::close(fd) != 0 && err == 0) err = StatusOf(errno);
    if (err == 0 && ::rename(temp.c_str(), sidecarPath.c_str()) != 0) err = StatusOf(errno);
    if (err != 0) ::unlink(temp.c_str());
    return err;
}

OSErr UpdateSidecar(const std::string& path, const std::function<void(AppleDouble&)>& change) {
    if (OSErr err = CheckFileExists(path)) return err;
    const std::string sidecarPath = XWQF::SidecarPath(path);
    if (sidecarPath.empty()) return kBadNameErr;
    std::lock_guard<std::mutex> lock(gSidecarLock);
    AppleDouble sidecar;
    mode_t mode = 0;
    ReadOutcome outcome;
    // A sidecar that cannot be understood is left as it is rather than overwritten,
    // and so is a folder or device under its name.
    if (OSErr err = LoadSidecar(sidecarPath, &sidecar, &mode, &outcome)) return err;
    if (outcome == ReadOutcome::kNotRegular) return kNotAFileErr;
    change(sidecar);
    return StoreSidecar(sidecarPath, SerializeSidecar(sidecar), outcome == ReadOutcome::kRead,
                        mode);
}

}  // namespace

OSErr ReadForkBytes(const std::string& path, bool resourceFork, std::vector<uint8_t>* bytes) {
    if (!bytes) return kParamErr;
    bytes->clear();
    if (OSErr err = CheckFileExists(path)) return err;
    ReadOutcome outcome;
    if (!resourceFork) {
        if (OSErr err = ReadSmallFile(path, bytes, &outcome)) return err;
        if (outcome == ReadOutcome::kMissing) return kFileNotFoundErr;
        if (outcome == ReadOutcome::kNotRegular) return kNotAFileErr;
        return 0;
    }
    const std::string sidecarPath = XWQF::SidecarPath(path);
    if (sidecarPath.empty()) return 0;
    AppleDouble sidecar;
    mode_t mode = 0;
    if (OSErr err = LoadSidecar(sidecarPath, &sidecar, &mode, &outcome)) return err;
    if (const AppleDoubleEntry* fork = sidecar.Find(kAppleDoubleResourceFork)) *bytes = fork->bytes;
    return 0;
}

OSErr WriteForkBytes(const std::string& path, bool resourceFork, const std::vector<uint8_t>& bytes) {
    if (bytes.size() > kMaxResourceForkSize) return kFileBoundsErr;
    if (resourceFork) {
        return UpdateSidecar(path, [&](AppleDouble& sidecar) {
            sidecar.Set(kAppleDoubleResourceFork, bytes);
        });
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return StatusOf(errno);
    FdCloser closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0) return StatusOf(errno);
    if (!S_ISREG(st.st_mode)) return kNotAFileErr;
    if (OSErr err = WriteAll(fd, bytes)) return err;
    if (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) return StatusOf(errno);
    closer.fd = -1;
    if (::close(fd) != 0) return StatusOf(errno);
    return 0;
}

OSErr GetFinderInfo(const std::string& path, uint32_t* type, uint32_t* creator, uint16_t* flags) {
    if (type) *type = 0;
    if (creator) *creator = 0;
    if (flags) *flags = 0;
    if (OSErr err = CheckFileExists(path)) return err;
    const std::string sidecarPath = XWQF::SidecarPath(path);
    if (sidecarPath.empty()) return 0;
    AppleDouble sidecar;
    mode_t mode = 0;
    ReadOutcome outcome;
    if (OSErr err = LoadSidecar(sidecarPath, &sidecar, &mode, &outcome)) return err;
    const AppleDoubleEntry* info = sidecar.Find(kAppleDoubleFinderInfo);
    if (!info || info->bytes.size() < 10) return 0;
    if (type) *type = Get32(info->bytes.data());
    if (creator) *creator = Get32(info->bytes.data() + 4);
    if (flags) *flags = Get16(info->bytes.data() + 8);
    return 0;
}

OSErr SetFinderInfo(const std::string& path, uint32_t type, uint32_t creator, uint16_t flags) {
    return UpdateSidecar(path, [&](AppleDouble& sidecar) {
        std::vector<uint8_t> info;
        if (const AppleDoubleEntry* old = sidecar.Find(kAppleDoubleFinderInfo)) info = old->bytes;
        if (info.size() < kFinderInfoSize) info.resize(kFinderInfoSize, 0);
        Put32(info.data(), type);
        Put32(info.data() + 4, creator);
        Put16(info.data() + 8, flags);
        sidecar.Set(kAppleDoubleFinderInfo, std::move(info));
    });
}
