#include "platform/resource_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace platform {

namespace {
bool IsFolder(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

std::string ExecutablePath() {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    return std::string(buf.data(), static_cast<size_t>(n));
}

std::string ResourceDir() {
    if (const char* env = std::getenv("CORVANE_RESOURCE_DIR"); env && *env) {
        std::string d(env);
        while (d.size() > 1 && d.back() == '/') d.pop_back();
        return d;
    }
    std::string exe = ExecutablePath();
    if (auto slash = exe.rfind('/'); slash != std::string::npos) {
        std::string beside = exe.substr(0, slash) + "/../share/corvane";
        if (IsFolder(beside)) return beside;
    }
    return CORVANE_INSTALL_SHARE;
}

std::string ResourcePath(const std::string& name) { return ResourceDir() + "/" + name; }

}  // namespace platform
