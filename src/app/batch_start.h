// The parts of a batch start that need no window: how many files a batch will
// meet (walked as the batch driver walks), whether one folder lies inside
// another, and the checks of the input and output folders before a batch.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
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

// An input of a batch, as the folder checks see it.
struct BatchInput {
    std::string path;
    bool isDirectory = false;
};

// A conversion to run: its name and the name of its folder in the output folder.
struct BatchConversion {
    std::string name;
    std::string folderName;
};

// Why the folder checks refuse a batch.
enum class FolderProblem {
    kOutputInsideInput,         // `path`: the input folder that holds the output folder
    kInputNamedLikeConversion,  // `path`: the input folder (inside the output folder)
    kExistingFolderDeclined,    // `path`: the conversion's folder, which the user would not use
    kCannotMakeFolder,          // `path`: the conversion's folder
};

struct FolderRefusal {
    FolderProblem problem;
    std::string path;
    bool operator==(const FolderRefusal&) const = default;
};

// The folder checks before a batch, in order. Each input folder, in list order:
// the output folder may not be it or lie inside it, and when it lies inside the
// output folder its name may not be a conversion's folder name. Then each
// conversion's folder (output folder / folder name), in order: an existing
// folder is used, after `useExisting` (given the conversion's name) agrees when
// there is one to ask; a missing one is made; anything else there refuses the
// batch. The first refusal, or nothing when the batch may start. Folders made
// for earlier conversions stay.
std::optional<FolderRefusal> CheckBatchFolders(
    const std::vector<BatchInput>& inputs, const std::vector<BatchConversion>& conversions,
    const std::string& outputFolder,
    const std::function<bool(const std::string& conversionName)>& useExisting);
