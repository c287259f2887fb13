// Two small file classes named by a path: basic_file over a C stream and
// stream_basic_file over a buffered C++ file stream. Each keeps one open file
// with a 64-bit position; reads and writes take a byte count in and hand back
// the number of bytes moved.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>  // std::filebuf
#include <string>

#include "foundation/xwqf.h"

// Statuses of the file classes besides 0: -38 (kFileNotOpenErr) when a file is
// not open or cannot be opened, -35 when bf_create fails, -39 (kEOFErr) when
// fewer bytes moved than asked, -40 (kPosErr) when a position is refused, -36
// (kIOErr) when the file cannot be grown or its stream fails otherwise.
enum : int { kCreateFailedErr = -35 };

typedef int basic_file_permission;

class basic_file {
public:
    explicit basic_file(std::string path);
    virtual ~basic_file();
    basic_file(const basic_file&) = delete;
    basic_file& operator=(const basic_file&) = delete;

    // Opens the file: permission 0 for reading only, any other value for
    // reading and writing. Read-write keeps an existing file's contents and
    // creates the file when it is missing. An open file is closed first. -38
    // when the file cannot be opened.
    virtual int bf_open(basic_file_permission permission);
    // Closes the file; -38 when it is not open.
    virtual int bf_close();
    // Creates the file, or empties an existing one, and closes it again; -35 on
    // failure. An open stream of this object is left as it is.
    virtual int bf_create();
    // Moves to a position counted from the start.
    virtual int bf_position_at(unsigned long long position);
    // Moves by a signed offset from the current position.
    virtual int bf_position_from(long long offset);
    // The current position; 0 when not open.
    virtual unsigned long long bf_position();
    // The file's size; 0 when not open.
    virtual unsigned long long bf_eof();
    // Grows the file with zero bytes to `size`; a file already that long is
    // left as it is. The position stays where it was.
    virtual int bf_eof_at(unsigned long long size);
    // Read and write `count` bytes at the position; on return `count` holds
    // the number moved and the position has advanced by it.
    virtual int bf_read(void* buffer, unsigned long long& count);
    virtual int bf_write(const void* buffer, unsigned long long& count);

    // True when the path names an existing file or folder.
    static bool bf_exists(const std::string& path);

    const std::string& path() const { return path_; }

protected:
    std::string path_;

private:
    // C streams need a seek between a read and a following write (and back).
    enum class LastAccess { kNone, kRead, kWrite };
    void prepareFor(LastAccess access);

    FILE* file_ = nullptr;
    LastAccess last_ = LastAccess::kNone;
};

// The same operations over a buffered file stream. Here permission 1 opens for
// reading and writing (an existing file only, its contents kept) and any other
// value for reading only; bf_eof takes the size from the file system after
// writing out what is buffered; bf_eof_at gives -39 when the file is already
// that long.
class stream_basic_file : public basic_file {
public:
    explicit stream_basic_file(std::string path);
    ~stream_basic_file() override;

    int bf_open(basic_file_permission permission) override;
    int bf_close() override;
    int bf_position_at(unsigned long long position) override;
    int bf_position_from(long long offset) override;
    unsigned long long bf_position() override;
    unsigned long long bf_eof() override;
    int bf_eof_at(unsigned long long size) override;
    int bf_read(void* buffer, unsigned long long& count) override;
    int bf_write(const void* buffer, unsigned long long& count) override;

private:
    enum class LastAccess { kNone, kRead, kWrite };
    void prepareFor(LastAccess access);

    std::filebuf stream_;
    LastAccess last_ = LastAccess::kNone;
};
