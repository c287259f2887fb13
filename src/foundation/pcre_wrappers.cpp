#include "foundation/pcre_wrappers.h"

#include <climits>
#include <cstring>
#include <string>

#include "foundation/errors.h"

pcre* PCRECompile(const char* pattern) {
    __throw_if_null(pattern, __FILE__, __LINE__, "pcre compile error: no pattern");
    const char* error = nullptr;
    int errorOffset = 0;
    pcre* compiled = pcre_compile(pattern, 0, &error, &errorOffset, nullptr);
    if (!compiled) {
        std::string text = std::string("pcre compile error of pattern '") + pattern +
                           "' at offset " +
                           std::to_string(errorOffset) + ": " + (error ? error : "");
        __throw_if_null(compiled, __FILE__, __LINE__, text.c_str());
    }
    return compiled;
}

pcre_extra* PCREStudy(const pcre* compiled) {
    const char* error = nullptr;
    pcre_extra* extra = pcre_study(compiled, 0, &error);
    if (error) {
        if (extra) pcre_free_study(extra);
        std::string text = std::string("pcre pattern study error: ") + error;
        __throw_if_null(nullptr, __FILE__, __LINE__, text.c_str());
    }
    return extra;
}

bool PCREMatch(const char* pattern, const char* subject, int startOffset, int* matchStart,
               int* matchEnd) {
    if (!pattern || !subject) return false;
    pcre* compiled = PCRECompile(pattern);
    size_t length = std::strlen(subject);
    int ovector[30];
    int rc = -1;
    if (length <= static_cast<size_t>(INT_MAX))
        rc = pcre_exec(compiled, nullptr, subject, static_cast<int>(length), startOffset, 0,
                       ovector, 30);
    pcre_free(compiled);
    if (rc < 0) return false;
    if (matchStart) *matchStart = ovector[0];
    if (matchEnd) *matchEnd = ovector[1];
    return true;
}
