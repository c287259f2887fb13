#include "app/batch_start.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <utility>

namespace {

namespace fs = std::filesystem;

using FolderId = std::pair<dev_t, ino_t>;

fs::path Normalised(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) p = fs::absolute(path, ec).lexically_normal();
    // "/x/a/" and "/x/a" are the same folder.
    if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
    return p;
}

uint32_t CountBelow(const std::string& folder, std::vector<FolderId>& onPath) {
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
    const FolderId id{st.st_dev, st.st_ino};
    if (std::find(onPath.begin(), onPath.end(), id) != onPath.end()) return 0;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    onPath.push_back(id);
    uint32_t count = 0;
    for (const std::string& name : names) {
        const std::string entry = folder + "/" + name;
        struct stat est;
        if (::stat(entry.c_str(), &est) != 0) continue;
        count += S_ISDIR(est.st_mode) ? CountBelow(entry, onPath) : 1;
    }
    onPath.pop_back();
    return count;
}

}  // namespace

bool IsSameOrInside(const std::string& inner, const std::string& outer) {
    if (inner.empty() || outer.empty()) return false;
    const fs::path in = Normalised(inner), out = Normalised(outer);
    auto i = in.begin();
    for (auto o = out.begin(); o != out.end(); ++o, ++i)
        if (i == in.end() || *i != *o) return false;
    return true;
}

std::string FolderName(const std::string& path) {
    return Normalised(path).filename().string();
}

uint32_t DeepFileCount(const std::string& folder) {
    std::vector<FolderId> onPath;
    return CountBelow(folder, onPath);
}

uint32_t BatchFileCount(const std::vector<std::string>& paths) {
    uint32_t count = 0;
    for (const std::string& path : paths) {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0) continue;
        count += S_ISDIR(st.st_mode) ? DeepFileCount(path) : 1;
    }
    return count;
}

std::optional<FolderRefusal> CheckBatchFolders(
    const std::vector<BatchInput>& inputs, const std::vector<BatchConversion>& conversions,
    const std::string& outputFolder,
    const std::function<bool(const std::string& conversionName)>& useExisting) {
    for (const BatchInput& input : inputs) {
        if (!input.isDirectory) continue;
        if (IsSameOrInside(outputFolder, input.path))
            return FolderRefusal{FolderProblem::kOutputInsideInput, input.path};
        if (!IsSameOrInside(input.path, outputFolder)) continue;
        const std::string name = FolderName(input.path);
        for (const BatchConversion& conversion : conversions)
            if (name == conversion.folderName)
                return FolderRefusal{FolderProblem::kInputNamedLikeConversion, input.path};
    }
    for (const BatchConversion& conversion : conversions) {
        const std::string folder = outputFolder + "/" + conversion.folderName;
        std::error_code ec;
        const bool exists = fs::exists(fs::symlink_status(folder, ec));
        const bool isFolder = fs::is_directory(folder, ec);
        if (exists && isFolder && useExisting && !useExisting(conversion.name))
            return FolderRefusal{FolderProblem::kExistingFolderDeclined, folder};
        // Something that is not a folder cannot take the converted files.
        if ((exists && !isFolder) || (!exists && !fs::create_directory(folder, ec)))
            return FolderRefusal{FolderProblem::kCannotMakeFolder, folder};
    }
    return std::nullopt;
}
