// Sonic split pairs ('SpSc'): a split stereo pair of Sonic AIFF members named
// ".1" and ".2". An output pair's members go into the folder its path names.
#pragma once

#include <string>

#include "soundfile/split_file.h"

class CSonicSplitFile : public CSplitFile {
public:
    CSonicSplitFile();
    ~CSonicSplitFile() override;

    using CSplitFile::ISoundFile;
    // An existing path is an input pair's. For an output the path loses a
    // trailing "_x", and the folder it lies in is made when it is not there yet
    // (beside the other outputs, or the region folder of an extraction, is where
    // the members go). The pair's path becomes its first member's.
    OSErr ISoundFile(const std::string& path) override;

    OSType GetFType() override;
    std::string GetDescription() override;

private:
    // Makes the folder a path lies in when it does not exist (one level).
    static OSErr MakeFolderOf(const std::string& path);
};
