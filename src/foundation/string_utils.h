// Free functions over std::string: paths ("/" separated, no file-system access
// unless said), four-character codes, Mac Roman text, escaping and ASCII case.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The pieces between occurrences of `delimiter`, empty pieces included; text
// without the delimiter is one piece. An empty delimiter gives the text whole.
std::vector<std::string> split(const std::string& text, const std::string& delimiter);
// The pieces with `separator` between neighbours.
std::string join(const std::vector<std::string>& pieces, const std::string& separator);

// The part after the last "/" (the whole path when there is none).
std::string filename(const std::string& path);
// The part before the last "/" (the whole path when there is none).
std::string parent(const std::string& path);
// The part after the last "." of the whole path; empty when there is none.
std::string extension(const std::string& path);
// The file name without its last "." and what follows. Call it with a std::string:
// with a C string (a literal, say) the C library's basename(const char*) is chosen.
std::string basename(const std::string& path);
// The folder and the name joined with one "/" (none added after a trailing one).
std::string JoinPath(const std::string& folder, const std::string& name);

// False only when the entry is missing; any other failure to examine it counts as existing.
bool file_exists(const std::string& path);
// The size in bytes; throws error_code_exception with errno when the path cannot be examined.
uint64_t file_size(const std::string& path);

// The four characters of a four-character code, most significant byte first.
std::string int_to_ostype(unsigned int code);
// The code from the first four characters (unsigned bytes, first most significant);
// a shorter text is padded with blanks.
unsigned int ostype_to_int(const std::string& text);

// Mac Roman bytes as UTF-8.
std::string string_from_mac_encoded_text(const char* bytes, unsigned long length);
// UTF-8 text as Mac Roman; empty when the text is not valid UTF-8 or holds a
// character that Mac Roman lacks.
std::string mac_encoded_string_from_utf8_encoded_string(const std::string& utf8);

// Path of the application's resource `name` with extension `type` ("surround",
// "qfdb"); an empty type takes `name` as the whole file name. Empty when absent.
std::string path_to_resource_of_type(const std::string& name, const std::string& type);

// `text` with a backslash before every character that occurs in `characters`.
std::string escape_characters(const std::string& text, const std::string& characters);

// ASCII case mapping of each byte; other bytes stay as they are.
// The longest start of a UTF-8 text of at most `maxBytes` bytes that ends on a
// character boundary.
std::string utf8_prefix(const std::string& text, size_t maxBytes);

std::string lower_case(const std::string& text);
std::string upper_case(const std::string& text);
