// Where the application's resource files live.
#pragma once

#include <string>

namespace platform {

// The resource folder, without a trailing slash: $CORVANE_RESOURCE_DIR when set,
// else ../share/corvane beside the running executable when it exists, else the
// install prefix's share/corvane.
std::string ResourceDir();

// Full path of a resource file inside the resource folder.
std::string ResourcePath(const std::string& name);

// Path of the running executable ("" when it cannot be found).
std::string ExecutablePath();

}  // namespace platform
