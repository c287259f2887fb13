#include "foundation/errors.h"

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>  // program_invocation_short_name
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "platform/named_exception.h"
#include "platform/resource_dir.h"


bool error_code_exception::log_exception = true;
bool error_code_exception::show_timestamp = true;

namespace {

const char* LastPathComponent(const char* file) {
    if (!file) return "";
    const char* slash = std::strrchr(file, '/');
    return slash ? slash + 1 : file;
}

std::string Located(const char* file, unsigned long line) {
    return std::string("(") + LastPathComponent(file) + ":" + std::to_string(line) + ")";
}

thread_local OSErr tMemError = 0;

}  // namespace

error_code_exception::error_code_exception(int code, const std::string& message)
    : code_(code), message_(message) {
    if (log_exception) log_line();
}

error_code_exception::error_code_exception(int code, const char* format, ...) : code_(code) {
    char buf[1024];
    buf[0] = 0;
    if (format) {
        va_list ap;
        va_start(ap, format);
        int n = std::vsnprintf(buf, sizeof buf, format, ap);
        va_end(ap);
        if (n < 0) buf[0] = 0;
    }
    message_ = buf;
    if (log_exception) log_line();
}

error_code_exception::~error_code_exception() = default;

const char* error_code_exception::what() const noexcept { return message_.c_str(); }

int error_code_exception::error_code() const { return code_; }

std::string DiagnosticTimestampPrefix(long seconds, long microseconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm lt;
    localtime_r(&t, &lt);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &lt);
    // Milliseconds rounded half up; 999.5 ms and above print as 1000.
    long ms = (microseconds + 500) / 1000;
    char buf[256];
    std::snprintf(buf, sizeof buf, "%s.%03ld %s[%ld] ", date, ms, program_invocation_short_name,
                  static_cast<long>(::getpid()));
    return buf;
}

std::string DiagnosticLineBody(int code, const std::string& message) {
    std::string line = "*** exception thrown: error " + std::to_string(code);
    uint32_t u = static_cast<uint32_t>(code);
    unsigned char c[4] = {static_cast<unsigned char>(u >> 24), static_cast<unsigned char>(u >> 16),
                          static_cast<unsigned char>(u >> 8), static_cast<unsigned char>(u)};
    bool printable = true;
    for (unsigned char b : c)
        if (b < 32 || b > 127) printable = false;
    if (printable) {
        line += " ('";
        line.append(reinterpret_cast<const char*>(c), 4);
        line += "')";
    }
    line += " ";
    line += message;
    return line;
}

void error_code_exception::log_line() const {
    std::string out;
    if (show_timestamp) {
        struct timeval tv;
        ::gettimeofday(&tv, nullptr);
        out = DiagnosticTimestampPrefix(tv.tv_sec, tv.tv_usec);
    }
    out += DiagnosticLineBody(code_, message_);
    out += "\n";
    std::fwrite(out.data(), 1, out.size(), stderr);
    std::fflush(stderr);
}

error_code_exception_log_changer::error_code_exception_log_changer(bool on)
    : saved_(error_code_exception::log_exception) {
    error_code_exception::log_exception = on;
}

error_code_exception_log_changer::~error_code_exception_log_changer() {
    error_code_exception::log_exception = saved_;
}

void __throw_if_err(int err, const char* file, unsigned line, const char* text) {
    if (err == 0) return;
    std::string msg;
    if (text) msg = std::string(text) + " ";
    msg += Located(file, line);
    throw error_code_exception(err, msg);
}

void __throw_if_null(const void* p, const char* file, unsigned line, const char* text) {
    if (p) return;
    std::string msg = "null pointer error";
    if (text) msg += std::string(", ") + text;
    msg += " " + Located(file, line);
    throw error_code_exception(kNullPointerCode, msg);
}

namespace {
[[noreturn]] void ThrowErrno(int savedErrno, const char* file, unsigned line, const char* text) {
    std::string msg = std::strerror(savedErrno);
    if (text) msg += std::string(", ") + text;
    msg += " " + Located(file, line);
    throw error_code_exception(savedErrno, msg);
}
}  // namespace

void __throw_if_neg(int r, const char* file, unsigned line, const char* text) {
    int e = errno;
    if (r < 0) ThrowErrno(e, file, line, text);
}

void __throw_if_min1(int r, const char* file, unsigned line, const char* text) {
    int e = errno;
    if (r == -1) ThrowErrno(e, file, line, text);
}

void __raise_if_err(int err, const char* file, int line) {
    if (err == 0) return;
    char buf[512];
    std::snprintf(buf, sizeof buf, "Error %d, (%s:%d)", err, LastPathComponent(file), line);
    throw platform::NamedException("OSErr Exception", buf);
}

void __raise_if_null(const void* p, const char* file, int line) {
    if (p) return;
    char buf[512];
    std::snprintf(buf, sizeof buf, "(%s:%d)", LastPathComponent(file), line);
    throw platform::NamedException("Null Pointer Exception", buf);
}

void __raise_if_min1(int r, const char* file, int line) {
    int e = errno;
    if (r != -1) return;
    char buf[512];
    std::snprintf(buf, sizeof buf, "Error %d, %s (%s:%d)", e, std::strerror(e),
                  LastPathComponent(file), line);
    throw platform::NamedException("POSIX Errno Exception", buf);
}

void __raise_if_false(bool b, const char* file, int line) {
    if (b) return;
    char buf[512];
    std::snprintf(buf, sizeof buf, "(%s:%d)", LastPathComponent(file), line);
    throw platform::NamedException("BOOL Exception", buf);
}

OSErr PlatformMemError() { return tMemError; }
void SetPlatformMemError(OSErr err) { tMemError = err; }

OSErr MyMemError(void* p, short levels) {
    if (tMemError != 0) return tMemError;
    void* cur = p;
    for (short i = 0; i < levels; ++i) {
        if (!cur) return kMemBlockMissingErr;
        if (i + 1 < levels) cur = *static_cast<void**>(cur);
    }
    return 0;
}

ErrorNameDict ParseErrorNames(const std::string& text) {
    ErrorNameDict dict;
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        size_t i = 0;
        while (i < line.size() && isSpace(line[i])) ++i;
        if (i == line.size()) continue;
        size_t nameStart = i;
        while (i < line.size() && !isSpace(line[i])) ++i;
        std::string name = line.substr(nameStart, i - nameStart);
        while (i < line.size() && (isSpace(line[i]) || line[i] == '=')) ++i;
        // A signed decimal integer.
        size_t numStart = i;
        if (i < line.size() && (line[i] == '-' || line[i] == '+')) ++i;
        size_t digits = i;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
        if (i == digits) continue;
        long long code = std::strtoll(line.substr(numStart, i - numStart).c_str(), nullptr, 10);
        if (code < INT32_MIN || code > INT32_MAX) continue;
        ErrorNameEntry entry;
        entry.name = name;
        size_t star = line.find('*', i);
        if (star != std::string::npos) {
            size_t start = star + 1;
            size_t end = line.find("*/", start);
            if (end != std::string::npos) {
                size_t a = start;
                while (a < end && isSpace(line[a])) ++a;
                size_t b = end;
                while (b > a && isSpace(line[b - 1])) --b;
                entry.description = line.substr(a, b - a);
                entry.hasDescription = true;
            }
        }
        std::string key = std::to_string(code);
        dict.emplace(key, std::move(entry));  // the first line with a code wins
    }
    return dict;
}

ErrorNameDict QFErrorDict() {
    std::ifstream in(platform::ResourcePath("SystemErrors.h"), std::ios::binary);
    if (!in) return {};
    std::ostringstream ss;
    ss << in.rdbuf();
    return ParseErrorNames(ss.str());
}
