#include "foundation/resource_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "foundation/errors.h"
#include "foundation/log.h"
#include "foundation/pstring.h"

namespace {

// Serialises ReadResource and WriteResource across all objects: the current
// resource file is one process-wide state.
std::mutex gResourceLock;
std::atomic<int> gCurResFile{0};
std::atomic<unsigned> gRefNumCounter{0};

// Reference numbers 1..32767, as the platform's fit in a signed 16-bit value.
int NewRefNum() { return static_cast<int>(gRefNumCounter.fetch_add(1) % 32767u) + 1; }

constexpr uint8_t kResProtected = 8;
constexpr size_t kStringResourceSize = 256;

struct HandleOwner {
    Handle h;
    ~HandleOwner() { deallocH(h); }
};

}  // namespace

int CurResFile() { return gCurResFile.load(); }

void UseResFile(int refNum) { gCurResFile.store(refNum); }

QFCurResFile::QFCurResFile() : saved_(CurResFile()) {}

QFCurResFile::QFCurResFile(int refNum) : saved_(CurResFile()) { UseResFile(refNum); }

QFCurResFile::~QFCurResFile() { UseResFile(saved_); }

QFResourceFile::QFResourceFile(const FSRef& file, bool useResourceFork)
    : fileRef_(file), path_(file.path), useResourceFork_(useResourceFork) {
    throw_if_null(path_.empty() ? nullptr : path_.c_str());
}

QFResourceFile::QFResourceFile(const std::string& path, bool useResourceFork)
    : path_(path), useResourceFork_(useResourceFork) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) throw_if_min1(-1);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0664);
        // Another thread or process may have made it in the meantime: that is as good.
        if (fd < 0 && errno != EEXIST) throw_if_min1(fd);
        if (fd >= 0) {
            ::close(fd);
            CORVANE_DLOG("created: " << path);
        }
    }
    throw_if_err(XWQF::MakeRef(path, &fileRef_));
}

QFResourceFile::~QFResourceFile() {
    if (!open_) return;
    try {
        Close();
    } catch (...) {
        // A failure to close is not reported from here.
    }
}

void QFResourceFile::Create() {
    std::vector<uint8_t> existing;
    throw_if_err(ReadForkBytes(path_, useResourceFork_, &existing));
    if (!existing.empty()) throw_if_err(kForkExistsErr);
    std::vector<uint8_t> bytes;
    throw_if_err(ResourceFork().Serialize(&bytes));
    throw_if_err(WriteForkBytes(path_, useResourceFork_, bytes));
}

void QFResourceFile::Create(unsigned int type, unsigned int creator) {
    Create();
    throw_if_err(SetFinderInfo(path_, type, creator, 0));
}

namespace {

OSErr LoadFork(const std::string& path, bool useResourceFork, ResourceFork* map) {
    std::vector<uint8_t> bytes;
    if (OSErr err = ReadForkBytes(path, useResourceFork, &bytes)) return err;
    return ResourceFork::Parse(bytes.data(), bytes.size(), map);
}

}  // namespace

void QFResourceFile::Open(signed char permission) {
    if (open_) return;
    auto map = std::make_unique<ResourceFork>();
    OSErr err = LoadFork(path_, useResourceFork_, map.get());
    const bool writable = permission != kPermRead;
    if (writable && (err == kForkNotFoundErr || err == kEOFErr)) {
        // No map yet: make one, then open it.
        Create();
        err = LoadFork(path_, useResourceFork_, map.get());
    }
    throw_if_err(err);
    map_ = std::move(map);
    writable_ = writable;
    changed_ = false;
    refNum_ = NewRefNum();
    open_ = true;
}

void QFResourceFile::DropMap() {
    map_.reset();
    open_ = false;
    refNum_ = 0;
    writable_ = false;
    changed_ = false;
}

void QFResourceFile::Close() {
    if (!open_) return;
    OSErr err = 0;
    if (writable_ && changed_ && map_) {
        std::vector<uint8_t> bytes;
        err = map_->Serialize(&bytes);
        if (err == 0) err = WriteForkBytes(path_, useResourceFork_, bytes);
    }
    DropMap();
    throw_if_err(err);
}

Handle QFResourceFile::ReadResource(unsigned int type, short id) {
    std::lock_guard<std::mutex> lock(gResourceLock);
    QFCurResFile saved;
    Handle h = nullptr;
    try {
        if (!open_) Open(kPermRead);
        UseResFile(refNum_);
        const ResourceEntry* res = map_->Find(type, id);
        if (!res) throw_if_err(kResNotFoundErr);
        h = allocH(res->data.size());
        throw_if_err(MyMemError(h, 1));
        if (!res->data.empty()) std::memcpy(*h, res->data.data(), res->data.size());
        Close();
    } catch (...) {
        deallocH(h);
        // Whatever happened, the map is closed afterwards; nothing was changed here.
        DropMap();
        throw;
    }
    return h;
}

std::string QFResourceFile::ReadStringResource(short id) {
    HandleOwner owner{ReadResource(kStringResourceType, id)};
    if (!owner.h) return std::string();
    const size_t size = GetHandleSize(owner.h);
    if (size == 0) return std::string();
    // The length byte is trusted only as far as the resource reaches.
    const size_t length = std::min<size_t>(static_cast<unsigned char>((*owner.h)[0]), size - 1);
    return MacRomanToUtf8(std::string(*owner.h + 1, length));
}

void QFResourceFile::WriteResource(unsigned int type, short id, Handle data,
                                   const unsigned char* name) {
    throw_if_null(data);
    const std::string newName = name ? pstrBytes(name) : std::string();
    std::lock_guard<std::mutex> lock(gResourceLock);
    QFCurResFile saved;
    try {
        Open(kPermReadWrite);
        // A map the caller opened read-only cannot take the change.
        if (!writable_) throw_if_err(kWritePermErr);
        UseResFile(refNum_);
        const size_t size = GetHandleSize(data);
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(*data);
        if (ResourceEntry* res = map_->Find(type, static_cast<int16_t>(id))) {
            res->data.assign(bytes, bytes + size);
            if (res->attributes & kResProtected) res->attributes = 0;
            if (res->name != newName) res->name = newName;
        } else {
            ResourceEntry entry;
            entry.type = type;
            entry.id = static_cast<int16_t>(id);
            entry.name = newName;
            entry.data.assign(bytes, bytes + size);
            map_->Put(std::move(entry));
        }
        changed_ = true;
        Close();
    } catch (...) {
        DropMap();
        throw;
    }
}

void QFResourceFile::WriteResource(unsigned int type, short id, Handle data,
                                   const std::string& name) {
    Str255 pname;
    pascalStringFromString(name, pname);
    WriteResource(type, id, data, pname);
}

void QFResourceFile::WriteStringResource(const std::string& text, short id,
                                         const std::string& name) {
    HandleOwner owner{allocH_clear(kStringResourceSize)};
    throw_if_null(owner.h);
    // The rest of the 256 bytes stays zero.
    pascalStringFromString(text, reinterpret_cast<unsigned char*>(*owner.h));
    WriteResource(kStringResourceType, id, owner.h, name);
}
