// Status codes, the error-code exception and its check functions.
//
// Operations report a signed status (0 = success; the first non-zero code wins).
// Inside the sound-file classes a failing call becomes an error_code_exception at
// once through the __throw_if_* checks; the public boundary catches it and
// returns error_code(). Interface-side objects use the __raise_if_* sisters.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <new>
#include <string>

typedef int16_t OSErr;
typedef int32_t OSStatus;

// Status codes this layer itself produces.
enum : int {
    kNoErr = 0,
    kEOFErr = -39,
    kFileNotFoundErr = -43,
    kDupFNErr = -48,
    kParamErr = -50,
    kUserCanceledErr = -128,
    kMemBlockMissingErr = -21004,
    kNullPointerCode = 0x4E554C50,  // 'NULP'
};

class error_code_exception : public std::exception {
public:
    error_code_exception(int code, const std::string& message);
    error_code_exception(int code, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    ~error_code_exception() override;

    const char* what() const noexcept override;
    virtual int error_code() const;

    // When true, every constructor writes the diagnostic line to standard error.
    static bool log_exception;
    // When true, the diagnostic line starts with the time stamp prefix.
    static bool show_timestamp;

private:
    void log_line() const;
    int code_;
    std::string message_;
};

// A run of bytes to be shown as a hexadecimal dump in a debug statement: where
// it starts and how many bytes it has. It writes nothing by itself.
struct hexdumper {
    hexdumper(const void* bytes, uint32_t count) : bytes(bytes), count(count) {}
    const void* bytes;
    uint32_t count;
};

// Scope guard that switches the diagnostic line on or off and restores it.
class error_code_exception_log_changer {
public:
    explicit error_code_exception_log_changer(bool on);
    ~error_code_exception_log_changer();
    error_code_exception_log_changer(const error_code_exception_log_changer&) = delete;
    error_code_exception_log_changer& operator=(const error_code_exception_log_changer&) = delete;

private:
    bool saved_;
};

// The diagnostic line for a code and message, without the time stamp prefix and
// without the newline ("*** exception thrown: error ...").
std::string DiagnosticLineBody(int code, const std::string& message);
// The time stamp prefix "YYYY-mm-dd HH:MM:SS.mmm program[pid] " for a given
// local time in seconds and microseconds.
std::string DiagnosticTimestampPrefix(long seconds, long microseconds);

// A status a 16-bit field can carry: 0 and codes too wide for it become -50,
// so that a failure is never taken for success.
inline int16_t NarrowStatus(int code) {
    return (code == 0 || code < INT16_MIN || code > INT16_MAX) ? int16_t(-50) : int16_t(code);
}

// Runs an operation whose failures are thrown and returns its status: the code
// of an error_code_exception, -108 when memory ran out, -50 for anything else.
// Public operations of the sound-file classes end here, so nothing leaves them.
template <class Body>
int16_t StatusOfCall(Body&& body) {
    try {
        return body();
    } catch (const error_code_exception& e) {
        return NarrowStatus(e.error_code());
    } catch (const std::bad_alloc&) {
        return -108;
    } catch (...) {
        return -50;
    }
}

// Check functions: throw error_code_exception when the test fails.
void __throw_if_err(int err, const char* file, unsigned line, const char* text = nullptr);
void __throw_if_null(const void* p, const char* file, unsigned line, const char* text = nullptr);
void __throw_if_neg(int r, const char* file, unsigned line, const char* text = nullptr);
void __throw_if_min1(int r, const char* file, unsigned line, const char* text = nullptr);

// Sisters for the interface-side objects: raise platform::NamedException.
void __raise_if_err(int err, const char* file, int line);
void __raise_if_null(const void* p, const char* file, int line);
void __raise_if_min1(int r, const char* file, int line);
void __raise_if_false(bool b, const char* file, int line);

#define throw_if_err(e) __throw_if_err((e), __FILE__, __LINE__)
#define throw_if_err_text(e, t) __throw_if_err((e), __FILE__, __LINE__, (t))
#define throw_if_null(p) __throw_if_null((p), __FILE__, __LINE__)
#define throw_if_neg(r) __throw_if_neg((r), __FILE__, __LINE__)
#define throw_if_min1(r) __throw_if_min1((r), __FILE__, __LINE__)
#define raise_if_err(e) __raise_if_err((e), __FILE__, __LINE__)
#define raise_if_null(p) __raise_if_null((p), __FILE__, __LINE__)
#define raise_if_min1(r) __raise_if_min1((r), __FILE__, __LINE__)
#define raise_if_false(b) __raise_if_false((b), __FILE__, __LINE__)

// The last memory error of the relocatable-block allocator on this thread
// (0 when the last handle allocation succeeded).
OSErr PlatformMemError();
void SetPlatformMemError(OSErr err);

// The platform memory error when non-zero; else -21004 when p or a pointer
// reached from it through the first `levels` dereferences is null; else 0.
OSErr MyMemError(void* p, short levels);

// Error names: decimal code text -> {"name", "description"}.
struct ErrorNameEntry {
    std::string name;
    std::string description;  // empty when the line has no comment
    bool hasDescription = false;
};
typedef std::map<std::string, ErrorNameEntry> ErrorNameDict;

// Parses text of lines "name = code, /* description */" (first line of a code wins).
ErrorNameDict ParseErrorNames(const std::string& text);
// The table of system error names shipped with the application, read anew at every call;
// empty when it cannot be read.
ErrorNameDict QFErrorDict();
