#include "foundation/byte_swapper.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "foundation/string_utils.h"

namespace {

constexpr size_t kBlockBytes = 1 << 16;  // even, so pairs never straddle blocks

// Reads until the buffer is full or the file ends; -1 on a read error.
ssize_t ReadFull(int fd, unsigned char* buffer, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::read(fd, buffer + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

bool WriteFull(int fd, const unsigned char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, buffer + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Copies `in` to `out` with the bytes of every pair exchanged.
bool CopySwapped(int in, int out) {
    std::vector<unsigned char> buffer(kBlockBytes);
    for (;;) {
        ssize_t got = ReadFull(in, buffer.data(), buffer.size());
        if (got < 0) return false;
        if (got == 0) return true;
        size_t pairs = static_cast<size_t>(got) / 2;
        for (size_t i = 0; i < pairs; ++i) std::swap(buffer[2 * i], buffer[2 * i + 1]);
        if (!WriteFull(out, buffer.data(), static_cast<size_t>(got))) return false;
        if (static_cast<size_t>(got) < buffer.size()) return true;
    }
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now and tells whether the close succeeded (a late write error shows here).
    bool close() {
        int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

}  // namespace

bool ByteSwapper::swapBytes() const {
    if (in_.empty() || out_.empty()) return false;
    // Non-blocking so that a FIFO put in the file's place cannot hang the open.
    Fd in(::open(in_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (in.get() < 0) return false;
    struct stat inStat;
    if (::fstat(in.get(), &inStat) != 0 || !S_ISREG(inStat.st_mode)) return false;

    // A new output is made exclusively and written in place; a failed write removes it.
    Fd out(::open(out_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (out.get() >= 0) {
        bool ok = CopySwapped(in.get(), out.get());
        ok = out.close() && ok;
        if (!ok) ::unlink(out_.c_str());
        return ok;
    }
    if (errno != EEXIST) return false;

    // An existing output (possibly the input itself) is replaced through a rename.
    struct stat outStat;
    if (::stat(out_.c_str(), &outStat) != 0 || !S_ISREG(outStat.st_mode)) return false;
    // parent() is "" for a name at the root, which gives "/com..." here.
    const std::string folder = out_.find('/') == std::string::npos ? "." : parent(out_);
    std::string temp = folder + "/com.quillfen.XXXXXX";
    Fd tmp(::mkostemp(temp.data(), O_CLOEXEC));
    if (tmp.get() < 0) return false;
    bool ok = ::fchmod(tmp.get(), outStat.st_mode & 0777) == 0;
    ok = ok && CopySwapped(in.get(), tmp.get());
    ok = tmp.close() && ok;
    ok = ok && ::rename(temp.c_str(), out_.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}
