#include "foundation/string_utils.h"

#include <sys/stat.h>

#include <cerrno>

#include "foundation/errors.h"
#include "foundation/pstring.h"
#include "platform/resource_dir.h"

std::vector<std::string> split(const std::string& text, const std::string& delimiter) {
    std::vector<std::string> pieces;
    if (delimiter.empty()) {
        pieces.push_back(text);
        return pieces;
    }
    size_t start = 0;
    for (;;) {
        size_t at = text.find(delimiter, start);
        if (at == std::string::npos) break;
        pieces.push_back(text.substr(start, at - start));
        start = at + delimiter.size();
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

std::string join(const std::vector<std::string>& pieces, const std::string& separator) {
    std::string out;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i) out += separator;
        out += pieces[i];
    }
    return out;
}

std::string filename(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string parent(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(0, slash);
}

std::string extension(const std::string& path) {
    size_t dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(dot + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string basename(const std::string& path) {
    std::string name = filename(path);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

bool file_exists(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return true;
    return errno != ENOENT;
}

uint64_t file_size(const std::string& path) {
    struct stat st;
    int r = ::stat(path.c_str(), &st);
    __throw_if_min1(r, __FILE__, __LINE__, path.c_str());
    return static_cast<uint64_t>(st.st_size);
}

std::string int_to_ostype(unsigned int code) {
    std::string s(4, ' ');
    s[0] = static_cast<char>((code >> 24) & 0xFF);
    s[1] = static_cast<char>((code >> 16) & 0xFF);
    s[2] = static_cast<char>((code >> 8) & 0xFF);
    s[3] = static_cast<char>(code & 0xFF);
    return s;
}

unsigned int ostype_to_int(const std::string& text) {
    unsigned int code = 0;
    for (size_t i = 0; i < 4; ++i) {
        unsigned char c = i < text.size() ? static_cast<unsigned char>(text[i]) : ' ';
        code = (code << 8) | c;
    }
    return code;
}

std::string string_from_mac_encoded_text(const char* bytes, unsigned long length) {
    if (!bytes || length == 0) return std::string();
    return MacRomanToUtf8(std::string(bytes, length));
}

namespace {

// Length of the well-formed UTF-8 sequence at text[i] (1..4), or 0 when it is
// malformed (bad lead or continuation byte, overlong form, surrogate, beyond U+10FFFF).
size_t Utf8SequenceLength(const std::string& text, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char b0 = byte(i);
    size_t n;
    uint32_t cp;
    if (b0 < 0x80) return 1;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3;
        cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4;
        cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (text.size() - i < n) return 0;
    for (size_t k = 1; k < n; ++k) {
        unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return 0;
    if (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
    return n;
}

}  // namespace

std::string mac_encoded_string_from_utf8_encoded_string(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        size_t n = Utf8SequenceLength(utf8, i);
        if (n == 0) return std::string();
        if (n == 1) {
            out += utf8[i];
        } else {
            // A character without a Mac Roman form comes back as '?', which as
            // a multi-byte character it cannot be.
            std::string mapped = Utf8ToMacRoman(utf8.substr(i, n));
            if (mapped.size() != 1 || mapped[0] == '?') return std::string();
            out += mapped;
        }
        i += n;
    }
    return out;
}

std::string path_to_resource_of_type(const std::string& name, const std::string& type) {
    if (name.empty()) return std::string();
    std::string file = type.empty() ? name : name + "." + type;
    std::string path = platform::ResourcePath(file);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::string();
    return path;
}

std::string escape_characters(const std::string& text, const std::string& characters) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (characters.find(c) != std::string::npos) out += '\\';
        out += c;
    }
    return out;
}

std::string utf8_prefix(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t n = maxBytes;
    // Step back over continuation bytes so that no character is split.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return text.substr(0, n);
}

std::string lower_case(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string upper_case(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}
