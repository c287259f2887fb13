// The outputs of one input between their placeholder names and their final
// names: the placeholders and temporaries that ended processes left, the
// outputs this input's pipeline made, their renaming with numbering of taken
// names, and the removal of an output that is given up. A write a folder
// refuses is reported with the folder's name.
#pragma once

#include <string>
#include <vector>

#include "foundation/errors.h"

// True for the system's refusal to write: permission, or a volume that is
// read-only.
bool IsWriteRefusal(OSErr code);
// The code of a write that `folder` refused, naming the folder.
OSErr FolderRefused(const std::string& folder);
// True when this process may not make files in `folder`.
bool FolderRefusesWrites(const std::string& folder);
