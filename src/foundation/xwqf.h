// The file layer every format reads and writes through: files named by path,
// opened as a "fork" with a handle number, signed 32-bit positions and sizes, and
// explicit byte counts in and out. Files of 2 GiB or more are refused with -1309.
//
// The layer keeps each fork's position itself and reads and writes at it, and
// it keeps the length of a file open for writing: while such a fork is open,
// the file changes only through this layer's calls on it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "foundation/errors.h"

enum : int {
    kTooManyFilesErr = -42,
    kDirFullErr = -33,
    kDiskFullErr = -34,
    kIOErr = -36,
    kBadNameErr = -37,
    kFileNotOpenErr = -38,
    kPosErr = -40,
    kWritePermErr = -61,
    kVolLockedErr = -46,
    kFileBusyErr = -47,
    kRefNumErr = -51,
    kPermErr = -54,
    kMemFullErr = -108,
    kNotAFileErr = -1302,
    kFileBoundsErr = -1309,
    // An input that is there but whose bytes cannot be had, and a link met in
    // an input folder that leads nowhere: each fails that input alone.
    kReadPermissionErr = -22022,    // the system refuses to let it be read
    kReadIOErr = -22023,            // the device could not deliver its bytes
    kLinkToMissingFileErr = -22024,  // a symbolic link whose target does not exist
};

// A reference to an existing file or folder: here simply its path.
struct FSRef {
    std::string path;
};

namespace XWQF {

enum : signed char { kPermWidest = 0, kPermRead = 1 };
enum : short { kFromStart = 1, kFromLEOF = 2, kFromMark = 3 };
constexpr int kNoFork = -1;
// The largest position or size the layer can represent.
constexpr int64_t kMaxFileSize = INT32_MAX;

// Maps an errno value to the status code of this layer.
OSErr ErrnoToStatus(int err);
// The status of an input that could not be opened or read: permission refused
// and I/O errors get kReadPermissionErr and kReadIOErr, anything else is as
// ErrnoToStatus has it.
OSErr ReadErrnoToStatus(int err);
// 0 when the first byte of the plain file at `path` can be read (or it has
// none); else its ReadErrnoToStatus. What is not a plain file gives 0 (whoever
// opens it says what it is). Never waits on a pipe.
OSErr CheckReadable(const std::string& path);
// True when `path` is a symbolic link whose target cannot be found (missing, or
// a loop of links).
bool IsLinkToMissingFile(const std::string& path);

// Makes a reference to an existing file or folder; -43 when there is none.
OSErr MakeRef(const std::string& path, FSRef* ref);

// Cuts a file name to at most 255 bytes without splitting a UTF-8 character.
std::string CutFileName(const std::string& name);

// Creates an empty file; the parent must exist (-43), an existing name gives -48.
OSErr CreateFile(const std::string& path, FSRef* newFile);
// Deletes a file, and its sidecar "._name" when there is one; -43 when it does not exist.
OSErr DeleteFile(const std::string& path);
// Renames a file without replacing anything: -48 when the target (or a sidecar of
// that name) exists. The sidecar "._name" moves along with the file.
OSErr RenameFile(const std::string& from, const std::string& to);
// For tests: asked before each DeleteFile and RenameFile with "delete" or
// "rename", and by CheckReadable for a plain file with "read", and the file's
// path; a non-zero errno it answers fails the call as the system's refusal
// would. Null removes it.
using FileFaultProbe = std::function<int(const char* operation, const std::string& path)>;
void SetFileFaultProbe(FileFaultProbe probe);
// The path of the sidecar "._name" that holds a file's resource fork and Finder
// information; empty when the path has no file name.
std::string SidecarPath(const std::string& path);
// True when the name (or the last component of a path) begins with "._": such
// files are sidecars of other files, never inputs themselves.
bool IsSidecarName(const std::string& name);
// True when the path names an existing file or folder.
bool FileExists(const std::string& path);
// Creates a folder inside parent; -48 when the name is taken.
OSErr CreateDirectory(const FSRef* parent, const std::string& name, FSRef* newFolder,
                      int* newFolderID);

OSErr OpenFork(const FSRef* file, signed char permission, int* forkRef);
OSErr CloseFork(int forkRef);
OSErr SetPos(int forkRef, short mode, int offset);
OSErr GetPos(int forkRef, int* position);
OSErr SetEOF(int forkRef, int size);
OSErr GetEOF(int forkRef, int* size);
// Reads *count bytes; *count becomes the number read. -39 when the end came first.
OSErr Read(int forkRef, int* count, void* buffer);
// Writes *count bytes, growing the file; *count becomes the number written.
OSErr Write(int forkRef, int* count, const void* buffer);

void BlockMove(const void* source, void* destination, long count);
void BlockMoveData(const void* source, void* destination, long count);

void NumToString(int value, unsigned char* text);
void StringToNum(const unsigned char* text, int* value);
bool EqualString(const unsigned char* a, const unsigned char* b, bool caseSensitive,
                 bool diacSensitive);
// Seconds since 1 January 2001 00:00:00 UTC.
void GetDateTime(unsigned int* seconds);

}  // namespace XWQF
