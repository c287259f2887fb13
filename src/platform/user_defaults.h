// The user's preferences: a dictionary of values by key, kept in the property
// list $XDG_CONFIG_HOME/corvane/preferences.plist (~/.config when the variable
// is not set), with factory values registered at start-up that answer for keys
// the user never set.
//
// Every operation takes the store's lock, and readers get copies, so any thread
// may read while the main thread writes. A change is written to the file at
// once; the factory values are never written.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/property_list.h"

namespace platform {

// $XDG_CONFIG_HOME/corvane/preferences.plist, or ~/.config/corvane/preferences.plist
// when the variable is unset, empty or not an absolute path.
std::string PreferencesPath();

class UserDefaults {
public:
    // A store backed by the file at `path` (not read until Load).
    explicit UserDefaults(std::string path);
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The application's store at PreferencesPath(), loaded on first use.
    static UserDefaults& Standard();

    // Reads the file; a missing file is an empty store. False when the file
    // exists but is not a property-list dictionary (the store is then empty, and
    // the next change replaces the file).
    bool Load();
    // Writes the user's values to the file, making its folder when needed.
    bool Save() const;

    // Adds factory values; a later registration of a key replaces the earlier one.
    void RegisterDefaults(const plist::Dictionary& factory);

    // The user's value, else the factory value, else a null value.
    plist::Value Get(const std::string& key) const;
    bool Has(const std::string& key) const { return !Get(key).isNull(); }
    // The user's own value only (null when the user never set the key).
    plist::Value GetUserValue(const std::string& key) const;
    bool GetBool(const std::string& key, bool fallback = false) const;
    int64_t GetInteger(const std::string& key, int64_t fallback = 0) const;
    double GetReal(const std::string& key, double fallback = 0) const;
    std::string GetString(const std::string& key, const std::string& fallback = "") const;

    // Stores a value and writes the file; a null value removes the key. False
    // when the file could not be written (the value is kept in memory).
    bool Set(const std::string& key, plist::Value value);
    bool Remove(const std::string& key) { return Set(key, plist::Value()); }

    // Factory values overlaid with the user's, as one consistent copy.
    plist::Dictionary Snapshot() const;

    const std::string& path() const { return path_; }

private:
    bool SaveLocked() const;

    const std::string path_;
    mutable std::mutex mutex_;
    plist::Dictionary registered_;
    plist::Dictionary values_;
};

}  // namespace platform
