#include "soundfile/pending_file.h"

#include <utility>

CPendingFormatFile::CPendingFormatFile(OSType registeredCode, OSType reportedType,
                                       std::string description, bool codedOnClose,
                                       bool decodedOnOpen)
    : registeredCode_(registeredCode),
      reportedType_(reportedType),
      description_(std::move(description)),
      codedOnClose_(codedOnClose),
      decodedOnOpen_(decodedOnOpen) {}

CPendingFormatFile::~CPendingFormatFile() = default;

OSErr CPendingFormatFile::Open() { return kCannotMakeFormatObjectErr; }

OSErr CPendingFormatFile::Create(short, short, float, void*, const unsigned char*) {
    return kCannotMakeFormatObjectErr;
}

OSErr CPendingFormatFile::Close() { return kFileNotOpenBaseErr; }

OSErr CPendingFormatFile::RefreshInputBuffer(uint32_t) { return kCannotMakeFormatObjectErr; }

OSErr CPendingFormatFile::RefreshOutputBuffer(uint32_t) { return kCannotMakeFormatObjectErr; }

OSErr CPendingFormatFile::SetFilePos(uint32_t) { return kCannotMakeFormatObjectErr; }

OSErr CPendingFormatFile::GetOfflineInfo(OSErr* status) {
    if (status) *status = kCannotMakeFormatObjectErr;
    return kCannotMakeFormatObjectErr;
}

CPendingGroupFile::CPendingGroupFile(OSType groupCode, OSType memberType, OSType reportedType,
                                     std::string description)
    : CPendingFormatFile(groupCode, reportedType, std::move(description), false, false),
      memberType_(memberType) {}

CPendingGroupFile::~CPendingGroupFile() = default;
