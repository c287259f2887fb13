#include "foundation/log.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

bool sLoggingEnabled = false;
std::stringstream glog;
std::mutex log4cpp_lock;

void _log(const char* tag, const char* format, ...) {
    if (!sLoggingEnabled) return;
    std::fprintf(stderr, "%s: ", tag ? tag : "");
    va_list ap;
    va_start(ap, format);
    std::vfprintf(stdout, format, ap);
    va_end(ap);
    std::fputc('\n', stdout);
}

void _nslog(const std::string& message) {
    if (!sLoggingEnabled) return;
    ::syslog(LOG_NOTICE, "%s", message.c_str());
}

void _Log(const char*, ...) {}

void __slog(const char* function, const char* file, int line, std::stringstream& stream) {
    if (sLoggingEnabled) {
        const char* slash = file ? std::strrchr(file, '/') : nullptr;
        const char* shortName = slash ? slash + 1 : (file ? file : "");
        std::fprintf(stderr, "(%s:%d) %s(): %s\n", shortName, line, function ? function : "",
                     stream.str().c_str());
        std::fflush(stderr);
    }
    stream.str(std::string());
    stream.clear();
}
