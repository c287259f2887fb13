// The parts of a batch start that need no window: how many files a batch will
// meet (walked as the batch driver walks), and whether one folder lies inside
// another.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// True when `inner` is `outer` or lies below it. Both are made absolute,
// their links resolved and their "." and ".." removed, then compared component
// by component: /x/ab is not inside /x/a.
bool IsSameOrInside(const std::string& inner, const std::string& outer);

// The last component of the folder's normalised path ("" for the root).
std::string FolderName(const std::string& path);

// The files below `folder` as the batch driver meets them: every entry that is
// not a folder counts, hidden ones included; an entry that cannot be looked at
// (a broken link) does not; a folder already on the way down (reached again
// through a link) is not entered again.
uint32_t DeepFileCount(const std::string& folder);

// The files of a batch over `paths`: a folder counts its DeepFileCount, any
// other existing path 1, a missing path nothing.
uint32_t BatchFileCount(const std::vector<std::string>& paths);
