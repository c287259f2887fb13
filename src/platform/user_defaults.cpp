#include "platform/user_defaults.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace platform {

namespace {

const char* const kAppFolder = "corvane";
const char* const kPreferencesFile = "preferences.plist";

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home == '/') return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir == '/')
        return pw->pw_dir;
    return "/tmp";
}

// Makes every missing folder of `path` (an absolute path).
bool MakeFolders(const std::string& path) {
    if (path.empty() || path == "/") return true;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash)))
        return false;
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string ParentFolder(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

std::string PreferencesPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string base =
        (config && *config == '/') ? std::string(config) : HomeFolder() + "/.config";
    return base + "/" + kAppFolder + "/" + kPreferencesFile;
}

UserDefaults::UserDefaults(std::string path) : path_(std::move(path)) {}

UserDefaults& UserDefaults::Standard() {
    static UserDefaults* standard = [] {
        auto* d = new UserDefaults(PreferencesPath());
        d->Load();
        return d;
    }();
    return *standard;
}

bool UserDefaults::Load() {
    plist::Value read;
    struct stat st;
    const bool exists = ::stat(path_.c_str(), &st) == 0;
    if (exists) read = plist::ReadFile(path_);
    std::lock_guard lock(mutex_);
    if (!exists) {
        values_.clear();
        return true;
    }
    if (const plist::Dictionary* d = read.dict()) {
        values_ = *d;
        return true;
    }
    values_.clear();
    return false;
}

bool UserDefaults::Save() const {
    std::lock_guard lock(mutex_);
    return SaveLocked();
}

bool UserDefaults::SaveLocked() const {
    if (!MakeFolders(ParentFolder(path_))) return false;
    return plist::WriteFile(plist::Value(values_), path_);
}

void UserDefaults::RegisterDefaults(const plist::Dictionary& factory) {
    std::lock_guard lock(mutex_);
    for (const auto& [key, value] : factory) registered_[key] = value;
}

plist::Value UserDefaults::Get(const std::string& key) const {
    std::lock_guard lock(mutex_);
    if (auto it = values_.find(key); it != values_.end()) return it->second;
    if (auto it = registered_.find(key); it != registered_.end()) return it->second;
    return plist::Value();
}

plist::Value UserDefaults::GetUserValue(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    return it == values_.end() ? plist::Value() : it->second;
}

bool UserDefaults::GetBool(const std::string& key, bool fallback) const {
    return Get(key).asBool(fallback);
}

int64_t UserDefaults::GetInteger(const std::string& key, int64_t fallback) const {
    return Get(key).asInteger(fallback);
}

double UserDefaults::GetReal(const std::string& key, double fallback) const {
    return Get(key).asReal(fallback);
}

std::string UserDefaults::GetString(const std::string& key, const std::string& fallback) const {
    return Get(key).asString(fallback);
}

bool UserDefaults::Set(const std::string& key, plist::Value value) {
    // A value that cannot be written (a null inside an array, say) would keep
    // every later change from reaching the file: refuse it.
    if (!value.isNull() && plist::Serialize(value).empty()) return false;
    std::lock_guard lock(mutex_);
    if (value.isNull())
        values_.erase(key);
    else
        values_[key] = std::move(value);
    return SaveLocked();
}

plist::Dictionary UserDefaults::Snapshot() const {
    std::lock_guard lock(mutex_);
    plist::Dictionary merged = registered_;
    for (const auto& [key, value] : values_) merged[key] = value;
    return merged;
}

}  // namespace platform
