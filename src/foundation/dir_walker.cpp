#include "foundation/dir_walker.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/xwqf.h"

namespace {

// Opens a folder for listing; -1 when it cannot be opened as one.
int OpenFolder(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Reads the names in an open folder (the descriptor is consumed).
std::vector<std::string> ReadNames(int fd) {
    std::vector<std::string> names;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return names;
    }
    while (struct dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        std::string text(name);
        if (XWQF::IsSidecarName(text)) continue;  // another file's resource fork
        names.push_back(std::move(text));
    }
    ::closedir(dir);
    return names;
}

}  // namespace

DirWalker::DirWalker(const std::string& root) { setPath(root); }

void DirWalker::setPath(const std::string& path) {
    root_ = path;
    current_ = path;
    stack_.clear();
    listCurrent();
    index_ = -1;
}

void DirWalker::listCurrent() {
    contents_.clear();
    id_ = FolderId();
    int fd = OpenFolder(current_);
    if (fd < 0) return;
    struct stat st;
    if (::fstat(fd, &st) == 0) id_ = FolderId{st.st_dev, st.st_ino, true};
    contents_ = ReadNames(fd);
}

bool DirWalker::enter(const std::string& path) {
    int fd = OpenFolder(path);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    auto same = [&](const FolderId& id) {
        return id.known && id.dev == st.st_dev && id.ino == st.st_ino;
    };
    bool onTheWayDown = same(id_);
    for (const Saved& saved : stack_) onTheWayDown = onTheWayDown || same(saved.id);
    if (onTheWayDown) {
        ::close(fd);
        return false;
    }
    stack_.push_back(Saved{current_, index_, id_});
    current_ = path;
    id_ = FolderId{st.st_dev, st.st_ino, true};
    contents_ = ReadNames(fd);
    return true;
}

void DirWalker::leave() {
    Saved saved = std::move(stack_.back());
    stack_.pop_back();
    current_ = std::move(saved.folder);
    listCurrent();
    index_ = saved.index;
}

std::string DirWalker::entryPath(long index) const {
    const std::string& name = contents_[static_cast<size_t>(index)];
    if (!current_.empty() && current_.back() == '/') return current_ + name;
    return current_ + "/" + name;
}

std::optional<std::string> DirWalker::first() {
    setPath(root_);
    if (contents_.empty()) return std::nullopt;
    return next();
}

std::optional<std::string> DirWalker::last() {
    setPath(root_);
    if (contents_.empty()) return std::nullopt;
    index_ = count();
    return prev();
}

std::optional<std::string> DirWalker::next() {
    for (;;) {
        if (index_ < count()) ++index_;
        if (index_ >= count()) {
            if (stack_.empty()) {
                index_ = count();
                return std::nullopt;
            }
            leave();
            continue;
        }
        std::string path = entryPath(index_);
        struct stat st;
        if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return path;
        if (enter(path)) index_ = -1;
    }
}

std::optional<std::string> DirWalker::prev() {
    for (;;) {
        if (index_ > count()) index_ = count();
        if (index_ <= 0) {
            if (stack_.empty()) {
                index_ = -1;
                return std::nullopt;
            }
            leave();
            continue;
        }
        --index_;
        std::string path = entryPath(index_);
        struct stat st;
        if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return path;
        if (enter(path)) index_ = count();
    }
}
