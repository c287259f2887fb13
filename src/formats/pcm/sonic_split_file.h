// Sonic split pairs ('SpSc'): a split stereo pair of Sonic AIFF members named
// ".1" and ".2". An output pair first makes the folder its members go to.
#pragma once

#include <string>

#include "soundfile/split_file.h"

class CSonicSplitFile : public CSplitFile {
public:
    CSonicSplitFile();
    ~CSonicSplitFile() override;

    using CSplitFile::ISoundFile;
    // An existing path is an input pair's. For an output the path loses a
    // trailing "_x", and a folder named by the conversion thread's long name is
    // made in its output folder (-48 when it exists). The pair's path becomes its
    // first member's.
    OSErr ISoundFile(const std::string& path) override;

    OSType GetFType() override;
    std::string GetDescription() override;
};
