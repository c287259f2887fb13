// Paths kept as text, and the user's standard folders.
//
// There are no alias records here: a QFPath is its path text and nothing else.
// Alias data found in stored settings is ignored; the path text stored beside it
// is used instead.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "foundation/xwqf.h"

// The stored form of a QFPath: key "QFStringValue" holds the path text. A value
// under "QFAliasData" (written by older versions) is ignored when read.
using QFPathDictionary = std::map<std::string, std::string>;

// Folder-manager domains and folder types understood by QFPath::FindFolder.
constexpr short kQFUserDomain = -32763;
constexpr uint32_t kQFPreferencesFolderType = 0x70726566;  // 'pref'
constexpr uint32_t kQFTemporaryFolderType = 0x74656D70;    // 'temp'

// The user's Preferences folder: $XDG_CONFIG_HOME when it is an absolute path,
// else ~/.config. Empty when no home folder can be found. Nothing is created.
std::string PreferencesFolderPath();
// The user's temporary folder: $TMPDIR when set and not empty, else /tmp; without
// a trailing "/" (except for "/" itself).
std::string TemporaryFolderPath();

class QFPath {
public:
    static constexpr const char* kStringValueKey = "QFStringValue";
    static constexpr const char* kAliasDataKey = "QFAliasData";
    // Longest path, in bytes, that PathFromFSRef hands out.
    static constexpr size_t kMaxPathBytes = 1024;

    // An empty path.
    QFPath() = default;
    explicit QFPath(std::string path) : path_(std::move(path)) {}
    // From the dictionary form: "QFStringValue" when present, else an empty path.
    explicit QFPath(const QFPathDictionary& dictionary);

    // The path of a standard folder of the user's domain ('pref' or 'temp'),
    // without creating it; nothing for any other domain or type.
    static std::optional<QFPath> FindFolder(short domain, uint32_t folderType);
    // The path of a file reference; nothing for a null reference or one that
    // PathFromFSRef cannot turn into a path.
    static std::optional<QFPath> FromFSRef(const FSRef* ref);
    // The path of a file reference, at most kMaxPathBytes - 1 bytes. On failure
    // nothing, and the system log receives
    // "Error %d from FSRefMakePath() in file %s, function %s".
    static std::optional<std::string> PathFromFSRef(const FSRef* ref);

    const std::string& stringValue() const { return path_; }
    void setStringValue(std::string path) { path_ = std::move(path); }

    // True when something exists at the path (links followed).
    bool exists() const;
    // Fills a reference from the path; false when nothing exists there.
    bool toFSRef(FSRef* ref) const;
    // The dictionary form (the path text only: no alias is ever made).
    QFPathDictionary dictionary() const;
    // A readable rendering of the dictionary form.
    std::string description() const;

    bool operator==(const QFPath& other) const { return path_ == other.path_; }

private:
    std::string path_;
};
