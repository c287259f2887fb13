// Typed, numbered resources of a file, read and written under one lock.
//
// QFResourceFile opens a file's resource map (from its sidecar, or from the
// file's own data in data-fork mode), reads or writes one resource, and closes
// the map again. Every failure is thrown as an error_code_exception: -192 no
// such resource, -199 malformed map, -39 empty fork on reading, -43 no file.
//
// A small process-wide notion of the "current resource file" stands in for the
// platform's: CurResFile / UseResFile, and QFCurResFile to save and restore it.
#pragma once

#include <memory>
#include <string>

#include "foundation/memory.h"
#include "foundation/resource_fork.h"
#include "foundation/xwqf.h"

// The reference number of the current resource file (0 when none was made current).
int CurResFile();
void UseResFile(int refNum);

// Remembers the current resource file and makes it current again when it ends.
class QFCurResFile {
public:
    QFCurResFile();
    // Remembers the current file, then makes refNum current.
    explicit QFCurResFile(int refNum);
    ~QFCurResFile();
    QFCurResFile(const QFCurResFile&) = delete;
    QFCurResFile& operator=(const QFCurResFile&) = delete;

private:
    int saved_;
};

// Resource types and numbers the sound formats use.
constexpr unsigned int kStringResourceType = FourCharCode("STR ");

class QFResourceFile {
public:
    enum : signed char { kPermRead = 1, kPermReadWrite = 3 };

    // useResourceFork true: resources in the sidecar "._name"; false: the map is
    // the file's own data. A reference without a path throws 'NULP'.
    QFResourceFile(const FSRef& file, bool useResourceFork);
    // A missing file is created empty first; failures throw errno.
    QFResourceFile(const std::string& path, bool useResourceFork);
    virtual ~QFResourceFile();
    QFResourceFile(const QFResourceFile&) = delete;
    QFResourceFile& operator=(const QFResourceFile&) = delete;

    // Writes an empty map; -1421 when the fork already holds data.
    void Create();
    // Create(), then sets the Finder type and creator with the Finder flags cleared.
    void Create(unsigned int type, unsigned int creator);
    // Nothing when open. Permission 1 reads the map (an empty fork throws -39);
    // any other permission opens for writing and makes a map when there is none.
    void Open(signed char permission);
    // Writes back what was changed and closes the map. The object is closed
    // afterwards also when the write-back fails (and throws).
    void Close();

    // A copy of the resource's bytes in a block the caller owns (deallocH).
    Handle ReadResource(unsigned int type, short id);
    // The 'STR ' resource as UTF-8 text.
    std::string ReadStringResource(short id);
    // Stores a copy of data's bytes as resource (type, id) named by the Pascal
    // string name (null = no name). The caller keeps and frees data.
    void WriteResource(unsigned int type, short id, Handle data, const unsigned char* name);
    void WriteResource(unsigned int type, short id, Handle data, const std::string& name);
    // A 256-byte 'STR ' resource: the text as a Pascal string (Mac Roman), then zeros.
    void WriteStringResource(const std::string& text, short id, const std::string& name);

    bool IsOpen() const { return open_; }
    int RefNum() const { return refNum_; }
    const std::string& Path() const { return path_; }
    const FSRef& FileRef() const { return fileRef_; }

private:
    void LoadMap(bool writable);
    void DropMap();

    FSRef fileRef_;
    int refNum_ = 0;
    bool open_ = false;
    std::string path_;
    bool useResourceFork_;
    // The open map, its mode and whether it differs from the stored one.
    std::unique_ptr<ResourceFork> map_;
    bool writable_ = false;
    bool changed_ = false;
};
