// Thin wrappers over the PCRE library (default options everywhere) that turn its
// failures into error_code_exception with the code 'NULP' and the library's text.
// Callers that need partial matching or global replacement use pcrecpp::RE, which
// this header makes available.
#pragma once

#include <pcre.h>
#include <pcrecpp.h>

// Compiles `pattern`; the caller frees the result with pcre_free. A pattern that
// does not compile throws, naming the pattern, the offset and the library's message.
pcre* PCRECompile(const char* pattern);

// Studies a compiled pattern; the result may be null when studying gains nothing
// and is freed with pcre_free_study. A study error throws with the library's message.
pcre_extra* PCREStudy(const pcre* compiled);

// One match of `pattern` over the whole of `subject` from `startOffset`. False when
// either is null, or on no match or any matching error; a pattern that does not
// compile throws. On a match the byte offsets of the start and of one past the end
// of the whole match go into the pointers that are not null.
bool PCREMatch(const char* pattern, const char* subject, int startOffset,
               int* matchStart = nullptr, int* matchEnd = nullptr);
