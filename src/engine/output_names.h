// The outputs of one input between their placeholder names and their final
// names: the placeholders and temporaries that ended processes left, the
// outputs this input's pipeline made, their renaming with numbering of taken
// names, and the removal of an output that is given up. A write a folder
// refuses is reported with the folder's name.
#pragma once

#include <string>
#include <vector>

#include "foundation/errors.h"

// The names in a folder; none when it cannot be listed.
std::vector<std::string> FolderNames(const std::string& folder);
// Removes the placeholders and temporary files (with their sidecars) that
// processes of this machine which no longer run left in `folder`; those of
// running processes stay, and so do temporaries carrying this process's id,
// names with another machine's tag or none, and placeholders followed by more
// than a member indicator and one extension.
void RemoveStalePlaceholders(const std::string& folder);

// True for the system's refusal to write: permission, or a volume that is
// read-only.
bool IsWriteRefusal(OSErr code);
// The code of a write that `folder` refused, naming the folder.
OSErr FolderRefused(const std::string& folder);
// True when this process may not make files in `folder`.
bool FolderRefusesWrites(const std::string& folder);
