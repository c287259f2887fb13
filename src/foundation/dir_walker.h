// A depth-first walk over the files of a folder tree, forwards or backwards.
//
// Folders (and links to folders) are entered, never returned; everything else is
// returned as a file path: broken links and invisible files included. The
// "._" sidecar files that hold other files' resource forks are never returned.
// A folder is listed again each time the walk enters or leaves it, so changes to
// the tree are seen then. A folder that is already on the way down from the root
// (reached again through a link) is passed over, so the walk always ends.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

class DirWalker {
public:
    explicit DirWalker(const std::string& root);

    // Starts a new walk at the path: it becomes the root and the current folder,
    // is listed, and the index is set before the first entry.
    void setPath(const std::string& path);

    // Restarts at the root and gives its first file; nothing when there is none.
    std::optional<std::string> first();
    // Restarts at the root and gives its last file; nothing when there is none.
    std::optional<std::string> last();
    // The next file in depth-first order; nothing at the end.
    std::optional<std::string> next();
    // The previous file; nothing at the start.
    std::optional<std::string> prev();

    // The number of folders descended below the root.
    int level() const { return static_cast<int>(stack_.size()); }
    const std::string& root() const { return root_; }

private:
    struct FolderId {
        dev_t dev = 0;
        ino_t ino = 0;
        bool known = false;
    };
    struct Saved {
        std::string folder;
        long index;
        FolderId id;
    };

    // Lists `folder` into contents_ and id_; an unreadable folder lists nothing.
    void listCurrent();
    // Opens the folder at `path` for entering; false when it cannot be listed or
    // is already on the way down. On success the walk stands inside it.
    bool enter(const std::string& path);
    void leave();
    std::string entryPath(long index) const;
    long count() const { return static_cast<long>(contents_.size()); }

    std::string root_;
    std::vector<std::string> contents_;
    std::string current_;
    long index_ = -1;
    std::vector<Saved> stack_;
    FolderId id_;
};
