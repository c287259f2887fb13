// The program's debug statements. Logging is switched off and nothing switches it
// on; a statement then leaves nothing behind.
#pragma once

#include <mutex>
#include <sstream>
#include <string>

extern bool sLoggingEnabled;
extern std::stringstream glog;
extern std::mutex log4cpp_lock;

// When on: tag ": " to standard error, then the message and a newline to standard output.
void _log(const char* tag, const char* format, ...) __attribute__((format(printf, 2, 3)));
// When on: the text goes to the system log.
void _nslog(const std::string& message);
// Takes a format and arguments and does nothing.
void _Log(const char* format, ...);
// When on: "(" file ":" line ") " function "(): " text, a newline, to standard error.
// Empties the stream in every case. Called with log4cpp_lock held.
void __slog(const char* function, const char* file, int line, std::stringstream& stream);

#define CORVANE_DLOG(expr)                                        \
    do {                                                          \
        std::lock_guard<std::mutex> corvane_log_guard(log4cpp_lock); \
        if (sLoggingEnabled) glog << expr;                        \
        __slog(__func__, __FILE__, __LINE__, glog);               \
    } while (0)
