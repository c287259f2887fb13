#include "foundation/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "foundation/log.h"

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string HomeFolder() {
    std::string home = Env("HOME");
    if (!home.empty()) return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 && size < (1 << 20) ? static_cast<size_t>(size) : 16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir)
        return found->pw_dir;
    return std::string();
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string PreferencesFolderPath() {
    // Relative values are invalid by the freedesktop rules and are ignored.
    std::string config = Env("XDG_CONFIG_HOME");
    if (!config.empty() && config.front() == '/') return WithoutTrailingSlashes(config);
    std::string home = HomeFolder();
    if (home.empty()) return std::string();
    return WithoutTrailingSlashes(home) + (home == "/" ? ".config" : "/.config");
}

std::string TemporaryFolderPath() {
    std::string tmp = Env("TMPDIR");
    if (tmp.empty()) return "/tmp";
    return WithoutTrailingSlashes(tmp);
}

QFPath::QFPath(const QFPathDictionary& dictionary) {
    auto it = dictionary.find(kStringValueKey);
    if (it != dictionary.end()) path_ = it->second;
}

std::optional<QFPath> QFPath::FindFolder(short domain, uint32_t folderType) {
    if (domain != kQFUserDomain) return std::nullopt;
    std::string path;
    if (folderType == kQFPreferencesFolderType)
        path = PreferencesFolderPath();
    else if (folderType == kQFTemporaryFolderType)
        path = TemporaryFolderPath();
    if (path.empty()) return std::nullopt;
    return QFPath(path);
}

std::optional<std::string> QFPath::PathFromFSRef(const FSRef* ref) {
    if (!ref) return std::nullopt;
    int err = 0;
    if (ref->path.empty())
        err = kFileNotFoundErr;
    else if (ref->path.size() >= kMaxPathBytes)
        err = kBadNameErr;
    if (err == 0) return ref->path;
    char text[160];
    std::snprintf(text, sizeof text, "Error %d from FSRefMakePath() in file %s, function %s", err,
                  "paths.cpp", __func__);
    _nslog(text);
    return std::nullopt;
}

std::optional<QFPath> QFPath::FromFSRef(const FSRef* ref) {
    std::optional<std::string> path = PathFromFSRef(ref);
    if (!path) return std::nullopt;
    return QFPath(std::move(*path));
}

bool QFPath::exists() const { return XWQF::FileExists(path_); }

bool QFPath::toFSRef(FSRef* ref) const {
    if (!ref || !exists()) return false;
    ref->path = path_;
    return true;
}

QFPathDictionary QFPath::dictionary() const { return {{kStringValueKey, path_}}; }

std::string QFPath::description() const {
    std::string text = "{\n    ";
    text += kStringValueKey;
    text += " = \"";
    for (char c : path_) {
        if (c == '"' || c == '\\') text += '\\';
        text += c;
    }
    text += "\";\n}";
    return text;
}
