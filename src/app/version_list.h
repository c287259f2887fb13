// The version list the update check downloads: a property-list dictionary with
// "Current Version", "Old Versions" and "DownloadURLDemo". It comes from the
// network, so every value is checked for its type before it is used.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct VersionList {
    std::string currentVersion;
    std::vector<std::string> oldVersions;
    std::string downloadAddress;  // an http or https address
};

// The list in `bytes` (XML or binary property list); nothing when it does not
// parse, a value is missing or of the wrong type, or the download address is
// not a web address. A list that came over https must send the user on over
// https too (`fetchedOverHttps`): a plain http download address in it is
// refused like a list that cannot be read.
std::optional<VersionList> ParseVersionList(const std::string& bytes,
                                            bool fetchedOverHttps = false);

// True for an http:// or https:// address with a host and no blanks or
// control characters.
bool IsWebAddress(const std::string& address);
// True for a web address (as above) whose scheme is https.
bool IsHttpsAddress(const std::string& address);

// Whether `running` is listed among the old versions, i.e. a newer one exists.
bool IsOutdated(const VersionList& list, const std::string& running);
