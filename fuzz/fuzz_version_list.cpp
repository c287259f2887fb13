// Feeds arbitrary bytes to the version-list parser, as a web server might
// answer. What it accepts must hold only checked values: a non-empty current
// version, printable old versions and a web download address.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/version_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const auto list = ParseVersionList(bytes);
    if (!list) return 0;
    if (list->currentVersion.empty() || !IsWebAddress(list->downloadAddress)) std::abort();
    for (const std::string& v : list->oldVersions) {
        if (v.empty()) std::abort();
    }
    (void)IsOutdated(*list, "4.0.0");
    return 0;
}
