// What the files of the main controller share: the user-defaults key of the
// output folder and the test for a folder.
#pragma once

#include <filesystem>
#include <string>

namespace controller_parts {

inline constexpr char kLastUsedDestinationKey[] = "Last Used Destination";

// True when a folder exists at `path` (links followed).
inline bool IsFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

}  // namespace controller_parts
