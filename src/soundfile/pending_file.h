// Stand-ins for format classes that are not built yet. A stand-in answers what
// the real class will answer about itself (its type code, its description and
// whether it is coded on close or decoded on open), so that the registry, the
// factory and the coding questions already behave; binding works, but Open and
// Create fail with -22017, as if no format object could be made, and Close
// answers that the file is not open.
//
// Each stand-in is replaced by the real class when that format is written.
#pragma once

#include <string>

#include "soundfile/sound_file.h"

class CPendingFormatFile : public CSoundFile {
public:
    CPendingFormatFile(OSType registeredCode, OSType reportedType, std::string description,
                       bool codedOnClose, bool decodedOnOpen);
    ~CPendingFormatFile() override;

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr Close() override;
    OSErr RefreshInputBuffer(uint32_t frame) override;
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr SetFilePos(uint32_t frame) override;
    OSErr GetOfflineInfo(OSErr* status) override;
    OSType GetFType() override { return reportedType_; }
    std::string GetDescription() override { return description_; }
    bool NeedsCodingOnClose() override { return codedOnClose_; }
    bool NeedsDecodingOnOpen() override { return decodedOnOpen_; }

    // The code the object was made for (the reported type may differ).
    OSType GetRegisteredCode() const { return registeredCode_; }

private:
    OSType registeredCode_;
    OSType reportedType_;
    std::string description_;
    bool codedOnClose_;
    bool decodedOnOpen_;
};

// Stand-in for a group of member files shown as one sound (a split pair, a
// surround set, a Sonic split pair).
class CPendingGroupFile : public CPendingFormatFile {
public:
    CPendingGroupFile(OSType groupCode, OSType memberType, OSType reportedType,
                      std::string description);
    ~CPendingGroupFile() override;

    bool IsSplit() override { return true; }
    OSType GetMemberType() const { return memberType_; }

private:
    OSType memberType_;
};
