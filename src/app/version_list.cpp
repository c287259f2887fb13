// Parsing and judging the downloaded version list.
#include "app/version_list.h"

#include <algorithm>
#include <cctype>

#include "foundation/string_utils.h"
#include "platform/property_list.h"

namespace {

// A version or address longer than this is no version or address of ours.
constexpr size_t kMaxTextBytes = 2048;
// More old versions than this means the list is not ours.
constexpr size_t kMaxOldVersions = 4096;

bool IsPrintable(const std::string& s) {
    return std::none_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7f;
    });
}

// A short printable string, or nothing.
std::optional<std::string> Text(const plist::Value* v) {
    if (!v || !v->isString()) return std::nullopt;
    std::string s = v->asString();
    if (s.empty() || s.size() > kMaxTextBytes || !IsPrintable(s)) return std::nullopt;
    return s;
}

}  // namespace

bool IsWebAddress(const std::string& address) {
    if (address.size() > kMaxTextBytes || !IsPrintable(address)) return false;
    if (address.find(' ') != std::string::npos) return false;
    const std::string lower = lower_case(address);
    for (const char* scheme : {"http://", "https://"}) {
        const std::string prefix(scheme);
        if (lower.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string rest = address.substr(prefix.size());
        const size_t hostEnd = rest.find_first_of("/?#");
        const std::string host = rest.substr(0, hostEnd);
        return !host.empty() && host.find('@') == std::string::npos;
    }
    return false;
}

bool IsHttpsAddress(const std::string& address) {
    return IsWebAddress(address) && lower_case(address).compare(0, 8, "https://") == 0;
}

std::optional<VersionList> ParseVersionList(const std::string& bytes, bool fetchedOverHttps) {
    const plist::Value root = plist::Parse(bytes);
    if (!root.isDictionary()) return std::nullopt;
    VersionList list;
    const auto current = Text(root.find("Current Version"));
    const auto address = Text(root.find("DownloadURLDemo"));
    const plist::Value* old = root.find("Old Versions");
    if (!current || !address || !old || !old->isArray()) return std::nullopt;
    if (!IsWebAddress(*address) || old->array()->size() > kMaxOldVersions) return std::nullopt;
    if (fetchedOverHttps && !IsHttpsAddress(*address)) return std::nullopt;
    for (const plist::Value& v : *old->array()) {
        const auto version = Text(&v);
        if (!version) return std::nullopt;
        list.oldVersions.push_back(*version);
    }
    list.currentVersion = *current;
    list.downloadAddress = *address;
    return list;
}

bool IsOutdated(const VersionList& list, const std::string& running) {
    return std::find(list.oldVersions.begin(), list.oldVersions.end(), running) !=
           list.oldVersions.end();
}
