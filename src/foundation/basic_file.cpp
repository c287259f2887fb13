#include "foundation/basic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <utility>

namespace {

// Zero bytes for growing a file through a stream.
constexpr size_t kZeroBlockBytes = 4096;
const char kZeroBlock[kZeroBlockBytes] = {};

bool FitsOffset(unsigned long long value) { return value <= static_cast<unsigned long long>(LLONG_MAX); }

}  // namespace

// ---- basic_file ----

basic_file::basic_file(std::string path) : path_(std::move(path)) {}

basic_file::~basic_file() {
    if (file_) std::fclose(file_);
}

int basic_file::bf_open(basic_file_permission permission) {
    if (file_) bf_close();
    last_ = LastAccess::kNone;
    if (permission == 0) {
        file_ = std::fopen(path_.c_str(), "rbe");
        return file_ ? 0 : kFileNotOpenErr;
    }
    // Read-write: an existing file keeps its bytes, a missing one is created.
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return kFileNotOpenErr;
    file_ = ::fdopen(fd, "r+b");
    if (!file_) {
        ::close(fd);
        return kFileNotOpenErr;
    }
    return 0;
}

int basic_file::bf_close() {
    if (!file_) return kFileNotOpenErr;
    int rc = std::fclose(file_);
    file_ = nullptr;
    return rc == 0 ? 0 : kIOErr;
}

int basic_file::bf_create() {
    FILE* f = std::fopen(path_.c_str(), "wbe");
    if (!f) return kCreateFailedErr;
    return std::fclose(f) == 0 ? 0 : kCreateFailedErr;
}

void basic_file::prepareFor(LastAccess access) {
    if (last_ != LastAccess::kNone && last_ != access) ::fseeko(file_, 0, SEEK_CUR);
    last_ = access;
}

int basic_file::bf_position_at(unsigned long long position) {
    if (!file_) return kFileNotOpenErr;
    if (!FitsOffset(position)) return kPosErr;
    last_ = LastAccess::kNone;
    return ::fseeko(file_, static_cast<off_t>(position), SEEK_SET) == 0 ? 0 : kPosErr;
}

int basic_file::bf_position_from(long long offset) {
    if (!file_) return kFileNotOpenErr;
    last_ = LastAccess::kNone;
    return ::fseeko(file_, static_cast<off_t>(offset), SEEK_CUR) == 0 ? 0 : kPosErr;
}

unsigned long long basic_file::bf_position() {
    if (!file_) return 0;
    off_t at = ::ftello(file_);
    return at < 0 ? 0 : static_cast<unsigned long long>(at);
}

unsigned long long basic_file::bf_eof() {
    if (!file_) return 0;
    if (last_ == LastAccess::kWrite) std::fflush(file_);
    struct stat st;
    if (::fstat(::fileno(file_), &st) != 0) return 0;
    return static_cast<unsigned long long>(st.st_size);
}

int basic_file::bf_eof_at(unsigned long long size) {
    if (!file_) return kFileNotOpenErr;
    if (!FitsOffset(size)) return kPosErr;
    if (basic_file::bf_eof() >= size) return 0;
    off_t at = ::ftello(file_);
    std::fflush(file_);
    int rc = ::ftruncate(::fileno(file_), static_cast<off_t>(size)) == 0 ? 0 : kIOErr;
    // The seek drops what the stream buffered and any end-of-file mark.
    last_ = LastAccess::kNone;
    if (at >= 0) ::fseeko(file_, at, SEEK_SET);
    return rc;
}

int basic_file::bf_read(void* buffer, unsigned long long& count) {
    if (!file_) {
        count = 0;
        return kFileNotOpenErr;
    }
    prepareFor(LastAccess::kRead);
    unsigned long long asked = count;
    count = std::fread(buffer, 1, asked, file_);
    if (count < asked) {
        std::clearerr(file_);
        return kEOFErr;
    }
    return 0;
}

int basic_file::bf_write(const void* buffer, unsigned long long& count) {
    if (!file_) {
        count = 0;
        return kFileNotOpenErr;
    }
    prepareFor(LastAccess::kWrite);
    unsigned long long asked = count;
    count = std::fwrite(buffer, 1, asked, file_);
    if (count < asked) {
        std::clearerr(file_);
        return kEOFErr;
    }
    return 0;
}

bool basic_file::bf_exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// ---- stream_basic_file ----

stream_basic_file::stream_basic_file(std::string path) : basic_file(std::move(path)) {}

stream_basic_file::~stream_basic_file() = default;

int stream_basic_file::bf_open(basic_file_permission permission) {
    if (stream_.is_open()) stream_.close();
    last_ = LastAccess::kNone;
    std::ios::openmode mode = std::ios::in | std::ios::binary;
    if (permission == 1) mode |= std::ios::out;
    return stream_.open(path_, mode) ? 0 : kFileNotOpenErr;
}

int stream_basic_file::bf_close() {
    if (!stream_.is_open()) return kFileNotOpenErr;
    return stream_.close() ? 0 : kIOErr;
}

void stream_basic_file::prepareFor(LastAccess access) {
    if (last_ != LastAccess::kNone && last_ != access)
        stream_.pubseekoff(0, std::ios::cur, std::ios::in | std::ios::out);
    last_ = access;
}

int stream_basic_file::bf_position_at(unsigned long long position) {
    if (!stream_.is_open()) return kFileNotOpenErr;
    if (!FitsOffset(position)) return kPosErr;
    last_ = LastAccess::kNone;
    auto at = stream_.pubseekoff(static_cast<std::streamoff>(position), std::ios::beg,
                                 std::ios::in | std::ios::out);
    return at == std::streampos(-1) ? kPosErr : 0;
}

int stream_basic_file::bf_position_from(long long offset) {
    if (!stream_.is_open()) return kFileNotOpenErr;
    last_ = LastAccess::kNone;
    std::streampos here = stream_.pubseekoff(0, std::ios::cur, std::ios::in | std::ios::out);
    if (here == std::streampos(-1)) return kPosErr;
    long long target = 0;
    if (__builtin_add_overflow(static_cast<long long>(here), offset, &target) || target < 0) return kPosErr;
    auto at = stream_.pubseekoff(target, std::ios::beg, std::ios::in | std::ios::out);
    return at == std::streampos(-1) ? kPosErr : 0;
}

unsigned long long stream_basic_file::bf_position() {
    if (!stream_.is_open()) return 0;
    std::streampos at = stream_.pubseekoff(0, std::ios::cur, std::ios::in | std::ios::out);
    return at == std::streampos(-1) ? 0 : static_cast<unsigned long long>(at);
}

unsigned long long stream_basic_file::bf_eof() {
    if (!stream_.is_open()) return 0;
    // What the stream still buffers belongs to the file's size.
    stream_.pubsync();
    struct stat st;
    if (::stat(path_.c_str(), &st) != 0) return 0;
    return static_cast<unsigned long long>(st.st_size);
}

int stream_basic_file::bf_eof_at(unsigned long long size) {
    if (!stream_.is_open()) return kFileNotOpenErr;
    if (!FitsOffset(size)) return kPosErr;
    unsigned long long have = bf_eof();
    if (have >= size) return kEOFErr;
    std::streampos at = stream_.pubseekoff(0, std::ios::cur, std::ios::in | std::ios::out);
    last_ = LastAccess::kNone;
    int rc = 0;
    if (stream_.pubseekoff(0, std::ios::end, std::ios::in | std::ios::out) == std::streampos(-1)) {
        rc = kIOErr;
    } else {
        for (unsigned long long left = size - have; left > 0 && rc == 0;) {
            std::streamsize step = static_cast<std::streamsize>(left < kZeroBlockBytes ? left : kZeroBlockBytes);
            if (stream_.sputn(kZeroBlock, step) != step) rc = kIOErr;
            left -= static_cast<unsigned long long>(step);
        }
        if (stream_.pubsync() != 0) rc = kIOErr;
    }
    if (at != std::streampos(-1)) stream_.pubseekoff(at, std::ios::beg, std::ios::in | std::ios::out);
    return rc;
}

int stream_basic_file::bf_read(void* buffer, unsigned long long& count) {
    unsigned long long asked = count;
    count = 0;
    if (!stream_.is_open()) return kFileNotOpenErr;
    prepareFor(LastAccess::kRead);
    char* out = static_cast<char*>(buffer);
    while (count < asked) {
        unsigned long long left = asked - count;
        std::streamsize step = left > LLONG_MAX ? LLONG_MAX : static_cast<std::streamsize>(left);
        std::streamsize got = stream_.sgetn(out + count, step);
        count += static_cast<unsigned long long>(got);
        if (got < step) return kEOFErr;
    }
    return 0;
}

int stream_basic_file::bf_write(const void* buffer, unsigned long long& count) {
    unsigned long long asked = count;
    count = 0;
    if (!stream_.is_open()) return kFileNotOpenErr;
    prepareFor(LastAccess::kWrite);
    const char* in = static_cast<const char*>(buffer);
    while (count < asked) {
        unsigned long long left = asked - count;
        std::streamsize step = left > LLONG_MAX ? LLONG_MAX : static_cast<std::streamsize>(left);
        std::streamsize put = stream_.sputn(in + count, step);
        count += static_cast<unsigned long long>(put);
        if (put < step) return kEOFErr;
    }
    return 0;
}
