#include "foundation/xwqf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <unordered_map>

#include "foundation/string_utils.h"

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace XWQF {

OSErr ErrnoToStatus(int err) {
    switch (err) {
        case 0: return 0;
        case ENOENT:
        case ENOTDIR: return kFileNotFoundErr;
        case EEXIST: return kDupFNErr;
        case ENOSPC:
        case EDQUOT: return kDiskFullErr;
        case EIO: return kIOErr;
        case EACCES:
        case EPERM: return kPermErr;
        case EROFS: return kVolLockedErr;
        case EMFILE:
        case ENFILE: return kTooManyFilesErr;
        case EBADF: return kRefNumErr;
        case ENAMETOOLONG: return kBadNameErr;
        case EISDIR: return kNotAFileErr;
        case EFBIG:
        case EOVERFLOW: return kFileBoundsErr;
        case EINVAL: return kParamErr;
        case ENOMEM: return kMemFullErr;
        case EBUSY:
        case ENOTEMPTY: return kFileBusyErr;
        default: return kIOErr;
    }
}

OSErr ReadErrnoToStatus(int err) {
    switch (err) {
        case EACCES:
        case EPERM: return kReadPermissionErr;
        case EIO: return kReadIOErr;
        default: return ErrnoToStatus(err);
    }
}

namespace {
int InjectedFault(const char* operation, const std::string& path);
}  // namespace

OSErr CheckReadable(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return ReadErrnoToStatus(errno);
    if (!S_ISREG(st.st_mode)) return 0;
    if (const int fault = InjectedFault("read", path)) return ReadErrnoToStatus(fault);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return ReadErrnoToStatus(errno);
    unsigned char first = 0;
    ssize_t n;
    do {
        n = ::pread(fd, &first, 1, 0);
    } while (n < 0 && errno == EINTR);
    const int readErrno = errno;
    ::close(fd);
    return n < 0 ? ReadErrnoToStatus(readErrno) : OSErr(0);
}

bool IsLinkToMissingFile(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    if (::stat(path.c_str(), &st) == 0) return false;
    return errno == ENOENT || errno == ELOOP || errno == ENOTDIR;
}

namespace {

OSErr LastStatus() { return ErrnoToStatus(errno); }

// Splits a path at its last "/" into parent and name ("." when there is no slash).
void SplitPath(const std::string& path, std::string* parent, std::string* name) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        *parent = ".";
        *name = path;
    } else {
        *parent = slash == 0 ? "/" : path.substr(0, slash);
        *name = path.substr(slash + 1);
    }
}

bool IsFolder(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

OSErr CurrentSize(int fd, int64_t* size) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return LastStatus();
    *size = st.st_size;
    return 0;
}

OSErr CurrentPos(int fd, int64_t* pos) {
    off_t p = ::lseek(fd, 0, SEEK_CUR);
    if (p < 0) return LastStatus();
    *pos = p;
    return 0;
}

// What the layer keeps of each fork OpenFork opened, so that a block of
// traffic costs one system call: the fork's position (reads and writes are
// positioned, the descriptor's own offset is never used) and, for a fork open
// for writing, the file's length, which nothing else changes while that fork
// is open. A fork missing here (one this layer did not open) goes by the
// descriptor's offset and asks the file for its length every time.
struct ForkState {
    int64_t pos = 0;
    int64_t size = 0;
    bool sizeKept = false;
};

std::mutex gForksMutex;

// Never destroyed: a fork may still be closed while the process ends.
std::unordered_map<int, ForkState>& Forks() {
    static auto* forks = new std::unordered_map<int, ForkState>;
    return *forks;
}

// The state of an open fork, or null. Entries are made by OpenFork and removed
// by CloseFork only, and a fork is used by one thread at a time, so the entry
// stays valid for its user without the lock.
ForkState* FindFork(int fd) {
    std::lock_guard<std::mutex> lock(gForksMutex);
    auto it = Forks().find(fd);
    return it == Forks().end() ? nullptr : &it->second;
}

// Starts keeping a newly opened fork; without memory for it the fork simply
// goes uncached.
void KeepFork(int fd, bool writable, int64_t size) {
    try {
        std::lock_guard<std::mutex> lock(gForksMutex);
        Forks()[fd] = ForkState{0, size, writable};
    } catch (const std::bad_alloc&) {
    }
}

void ForgetFork(int fd) {
    std::lock_guard<std::mutex> lock(gForksMutex);
    Forks().erase(fd);
}

// The file's length as the fork knows it.
OSErr SizeOf(int fd, const ForkState* state, int64_t* size) {
    if (state && state->sizeKept) {
        *size = state->size;
        return 0;
    }
    return CurrentSize(fd, size);
}

}  // namespace

std::string CutFileName(const std::string& name) {
    return utf8_prefix(name, 255);
}

OSErr MakeRef(const std::string& path, FSRef* ref) {
    struct stat st;
    if (path.empty()) return kFileNotFoundErr;
    if (::stat(path.c_str(), &st) != 0) return LastStatus();
    if (ref) ref->path = path;
    return 0;
}

OSErr CreateFile(const std::string& path, FSRef* newFile) {
    std::string parent, name;
    SplitPath(path, &parent, &name);
    if (name.empty()) return kBadNameErr;
    if (!IsFolder(parent)) return kFileNotFoundErr;
    std::string full = (parent == "/" ? "/" : parent + "/") + CutFileName(name);
    if (path.find('/') == std::string::npos) full = CutFileName(name);
    int fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return LastStatus();
    ::close(fd);
    if (newFile) newFile->path = full;
    return 0;
}

std::string SidecarPath(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    auto slash = p.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
    if (name.empty() || name == "." || name == ".." || name == "/") return std::string();
    return folder + "._" + name;
}

bool IsSidecarName(const std::string& name) {
    auto slash = name.rfind('/');
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    return name.compare(start, 2, "._") == 0;
}

namespace {

// A sidecar that exists and is not a folder.
bool HasSidecarAt(const std::string& sidecar) {
    struct stat st;
    return !sidecar.empty() && ::lstat(sidecar.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool NameTaken(const std::string& path) {
    struct stat st;
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

int RenameNoReplaceCall(const char* from, const char* to) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
#else
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to,
                                      RENAME_NOREPLACE));
#endif
}

// Renames without ever replacing the target. Where the file system does not
// offer that, a file is linked under the new name (which fails on an existing
// name) and its old name removed.
OSErr RenameNoReplace(const std::string& from, const std::string& to) {
    if (RenameNoReplaceCall(from.c_str(), to.c_str()) == 0) return 0;
    int err = errno;
    if (err != EINVAL && err != ENOSYS && err != ENOTSUP) return ErrnoToStatus(err);
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) return LastStatus();
    if (S_ISDIR(st.st_mode)) return ErrnoToStatus(err);
    if (::link(from.c_str(), to.c_str()) != 0) return LastStatus();
    if (::unlink(from.c_str()) != 0) {
        OSErr status = LastStatus();
        ::unlink(to.c_str());
        return status;
    }
    return 0;
}

}  // namespace

namespace {

std::mutex gFaultProbeMutex;
FileFaultProbe gFaultProbe;

// The errno a test's probe answers for an operation on `path`; 0 without one.
int InjectedFault(const char* operation, const std::string& path) {
    std::lock_guard<std::mutex> lock(gFaultProbeMutex);
    return gFaultProbe ? gFaultProbe(operation, path) : 0;
}

}  // namespace

void SetFileFaultProbe(FileFaultProbe probe) {
    std::lock_guard<std::mutex> lock(gFaultProbeMutex);
    gFaultProbe = std::move(probe);
}

OSErr DeleteFile(const std::string& path) {
    if (const int fault = InjectedFault("delete", path)) return ErrnoToStatus(fault);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return LastStatus();
    if (S_ISDIR(st.st_mode)) {
        if (::rmdir(path.c_str()) != 0) return LastStatus();
    } else if (::unlink(path.c_str()) != 0) {
        return LastStatus();
    }
    // A sidecar left behind would lend its resources to the next file of this name.
    std::string sidecar = SidecarPath(path);
    if (HasSidecarAt(sidecar) && ::unlink(sidecar.c_str()) != 0 && errno != ENOENT)
        return LastStatus();
    return 0;
}

OSErr RenameFile(const std::string& from, const std::string& to) {
    struct stat st;
    if (from.empty() || to.empty()) return kParamErr;
    if (const int fault = InjectedFault("rename", from)) return ErrnoToStatus(fault);
    if (::lstat(from.c_str(), &st) != 0) return LastStatus();
    std::string fromSidecar = SidecarPath(from);
    std::string toSidecar = SidecarPath(to);
    // A sidecar already under the new name would attach to the renamed file.
    if (NameTaken(to) || NameTaken(toSidecar)) return kDupFNErr;
    bool carry = HasSidecarAt(fromSidecar) && !toSidecar.empty();
    if (OSErr err = RenameNoReplace(from, to)) return err;
    if (carry) {
        if (OSErr err = RenameNoReplace(fromSidecar, toSidecar)) {
            RenameNoReplace(to, from);
            return err;
        }
    }
    return 0;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

OSErr CreateDirectory(const FSRef* parent, const std::string& name, FSRef* newFolder,
                      int* newFolderID) {
    if (!parent || name.empty() || name.find('/') != std::string::npos) return kParamErr;
    if (!IsFolder(parent->path)) return kFileNotFoundErr;
    std::string full = parent->path;
    if (full.empty() || full.back() != '/') full += "/";
    full += CutFileName(name);
    if (::mkdir(full.c_str(), 0777) != 0) return LastStatus();
    struct stat st;
    if (::stat(full.c_str(), &st) != 0) return LastStatus();
    if (newFolder) newFolder->path = full;
    if (newFolderID) *newFolderID = static_cast<int>(st.st_ino & 0x7FFFFFFF);
    return 0;
}

OSErr OpenFork(const FSRef* file, signed char permission, int* forkRef) {
    if (!file || !forkRef) return kParamErr;
    *forkRef = kNoFork;
    struct stat st;
    if (::stat(file->path.c_str(), &st) != 0) return LastStatus();
    // Only plain files have forks: a pipe or a device would block or never end.
    if (!S_ISREG(st.st_mode)) return kNotAFileErr;
    if (st.st_size > kMaxFileSize) return kFileBoundsErr;
    // Opened without waiting, in case the path was replaced by a pipe meanwhile.
    const int flags = O_CLOEXEC | O_NONBLOCK;
    int fd = -1;
    if (permission == kPermRead) {
        fd = ::open(file->path.c_str(), O_RDONLY | flags);
    } else {
        fd = ::open(file->path.c_str(), O_RDWR | flags);
        if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
            fd = ::open(file->path.c_str(), O_RDONLY | flags);
    }
    if (fd < 0) return LastStatus();
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return kNotAFileErr;
    }
    KeepFork(fd, (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDWR, st.st_size);
    *forkRef = fd;
    return 0;
}

OSErr CloseFork(int forkRef) {
    if (forkRef < 0) return kRefNumErr;
    // Forgotten before the descriptor is released, which may be reused at once.
    ForgetFork(forkRef);
    if (::close(forkRef) != 0) return LastStatus();
    return 0;
}

OSErr SetPos(int forkRef, short mode, int offset) {
    if (forkRef < 0) return kRefNumErr;
    ForkState* state = FindFork(forkRef);
    int64_t base = 0;
    OSErr err = 0;
    int64_t size = 0;
    if ((err = SizeOf(forkRef, state, &size)) != 0) return err;
    switch (mode) {
        case kFromStart: base = 0; break;
        case kFromLEOF: base = size; break;
        case kFromMark:
            if (state)
                base = state->pos;
            else if ((err = CurrentPos(forkRef, &base)) != 0)
                return err;
            break;
        default: return kParamErr;
    }
    int64_t target = base + offset;
    if (target < 0) return kPosErr;
    // As the platform did: positioning past the end stops at the end.
    const bool pastEnd = target > size;
    if (pastEnd) target = size;
    if (state)
        state->pos = target;
    else if (::lseek(forkRef, target, SEEK_SET) < 0)
        return LastStatus();
    return pastEnd ? OSErr(kEOFErr) : OSErr(0);
}

OSErr GetPos(int forkRef, int* position) {
    if (forkRef < 0 || !position) return kParamErr;
    int64_t pos = 0;
    if (const ForkState* state = FindFork(forkRef))
        pos = state->pos;
    else if (OSErr err = CurrentPos(forkRef, &pos))
        return err;
    if (pos > kMaxFileSize) return kFileBoundsErr;
    *position = static_cast<int>(pos);
    return 0;
}

OSErr SetEOF(int forkRef, int size) {
    if (forkRef < 0) return kRefNumErr;
    if (size < 0) return kParamErr;
    ForkState* state = FindFork(forkRef);
    if (state) {
        if (::ftruncate(forkRef, size) != 0) return LastStatus();
        if (state->sizeKept) state->size = size;
        if (state->pos > size) state->pos = size;
        return 0;
    }
    int64_t pos = 0;
    if (OSErr err = CurrentPos(forkRef, &pos)) return err;
    if (::ftruncate(forkRef, size) != 0) return LastStatus();
    if (pos > size && ::lseek(forkRef, size, SEEK_SET) < 0) return LastStatus();
    return 0;
}

OSErr GetEOF(int forkRef, int* size) {
    if (forkRef < 0 || !size) return kParamErr;
    int64_t s = 0;
    if (OSErr err = SizeOf(forkRef, FindFork(forkRef), &s)) return err;
    if (s > kMaxFileSize) return kFileBoundsErr;
    *size = static_cast<int>(s);
    return 0;
}

OSErr Read(int forkRef, int* count, void* buffer) {
    if (!count) return kParamErr;
    int want = *count;
    *count = 0;
    if (forkRef < 0) return kRefNumErr;
    if (want < 0 || (want > 0 && !buffer)) return kParamErr;
    ForkState* state = FindFork(forkRef);
    char* out = static_cast<char*>(buffer);
    int done = 0;
    OSErr err = 0;
    while (done < want) {
        const size_t left = static_cast<size_t>(want - done);
        ssize_t n = state ? ::pread(forkRef, out + done, left, state->pos + done)
                          : ::read(forkRef, out + done, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = LastStatus();
            break;
        }
        if (n == 0) break;
        done += static_cast<int>(n);
    }
    if (state) state->pos += done;
    *count = done;
    if (err) return err;
    return done < want ? OSErr(kEOFErr) : OSErr(0);
}

OSErr Write(int forkRef, int* count, const void* buffer) {
    if (!count) return kParamErr;
    int want = *count;
    *count = 0;
    if (forkRef < 0) return kRefNumErr;
    if (want < 0 || (want > 0 && !buffer)) return kParamErr;
    ForkState* state = FindFork(forkRef);
    int64_t pos = 0;
    if (state)
        pos = state->pos;
    else if (OSErr err = CurrentPos(forkRef, &pos))
        return err;
    if (pos + want > kMaxFileSize) return kFileBoundsErr;
    const char* in = static_cast<const char*>(buffer);
    int done = 0;
    OSErr err = 0;
    while (done < want) {
        const size_t left = static_cast<size_t>(want - done);
        ssize_t n = state ? ::pwrite(forkRef, in + done, left, pos + done)
                          : ::write(forkRef, in + done, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = LastStatus();
            break;
        }
        if (n == 0) {
            err = kIOErr;
            break;
        }
        done += static_cast<int>(n);
    }
    if (state) {
        state->pos = pos + done;
        if (state->sizeKept && state->pos > state->size) state->size = state->pos;
    }
    *count = done;
    return err;
}

void BlockMove(const void* source, void* destination, long count) {
    if (count <= 0) return;
    std::memmove(destination, source, static_cast<size_t>(count));
}

void BlockMoveData(const void* source, void* destination, long count) {
    BlockMove(source, destination, count);
}

void NumToString(int value, unsigned char* text) {
    std::string s = std::to_string(value);
    text[0] = static_cast<unsigned char>(s.size());
    std::memcpy(text + 1, s.data(), s.size());
}

void StringToNum(const unsigned char* text, int* value) {
    *value = 0;
    if (!text) return;
    int len = text[0];
    int i = 1;
    while (i <= len && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n'))
        ++i;
    bool neg = false;
    if (i <= len && (text[i] == '-' || text[i] == '+')) {
        neg = text[i] == '-';
        ++i;
    }
    int64_t v = 0;
    while (i <= len && text[i] >= '0' && text[i] <= '9') {
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<int64_t>(INT32_MAX) + 1) v = static_cast<int64_t>(INT32_MAX) + 1;
        ++i;
    }
    if (neg) v = -v;
    if (v > INT32_MAX) v = INT32_MAX;
    *value = static_cast<int>(v);
}

bool EqualString(const unsigned char* a, const unsigned char* b, bool /*caseSensitive*/,
                 bool /*diacSensitive*/) {
    // Only the exact, case-sensitive comparison exists.
    if (a[0] != b[0]) return false;
    return std::memcmp(a + 1, b + 1, a[0]) == 0;
}

void GetDateTime(unsigned int* seconds) {
    constexpr int64_t kSince1970 = 978307200;  // 2001-01-01T00:00:00Z in Unix time
    int64_t now = static_cast<int64_t>(std::time(nullptr)) - kSince1970;
    *seconds = static_cast<unsigned int>(now < 0 ? 0 : now);
}

}  // namespace XWQF
