#include "foundation/finder_comment.h"

#include <sys/xattr.h>

#include <cerrno>

namespace {

// The largest attribute value Linux stores; anything claiming more is not read.
constexpr ssize_t kMaxCommentBytes = 65536;
constexpr int kWriteAttempts = 11;

}  // namespace

std::string ReadFinderCommentFromFile(const std::string& path) {
    // The value may change between asking its size and reading it: ask again then.
    for (int attempt = 0; attempt < 3; ++attempt) {
        ssize_t size = ::getxattr(path.c_str(), kFinderCommentAttribute, nullptr, 0);
        if (size <= 0 || size > kMaxCommentBytes) return std::string();
        std::string value(static_cast<size_t>(size), '\0');
        ssize_t got = ::getxattr(path.c_str(), kFinderCommentAttribute, value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<size_t>(got));
            return value;
        }
        if (errno != ERANGE) return std::string();
    }
    return std::string();
}

void WriteFinderComment(const std::string& comment, const std::string& path) {
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        int rc = 0;
        if (comment.empty()) {
            rc = ::removexattr(path.c_str(), kFinderCommentAttribute);
            if (rc != 0 && errno == ENODATA) rc = 0;
        } else {
            rc = ::setxattr(path.c_str(), kFinderCommentAttribute, comment.data(), comment.size(), 0);
        }
        if (rc == 0 && ReadFinderCommentFromFile(path) == comment) return;
    }
}
