// Keyed archives: values written under keys by kind (boolean, 32-bit integer,
// float, double, object) and read back by key, kept as a property list of
// their own shape so that an archive is never taken for another property list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/property_list.h"

namespace plist {

class KeyedArchiver {
public:
    void encodeBool(bool value, const std::string& key);
    void encodeInt32(int32_t value, const std::string& key);
    void encodeFloat(float value, const std::string& key);
    void encodeDouble(double value, const std::string& key);
    // Any property-list value; a null value stores nothing.
    void encodeObject(const Value& value, const std::string& key);

    // The archive: {"KeyedArchiveVersion": 1, "Values": {key: value, ...}}.
    Value archive() const;
    // The archive's bytes; empty when they cannot be written.
    std::string archivedData(Format format = Format::Binary) const;

private:
    Dictionary values_;
};

class KeyedUnarchiver {
public:
    // The values of an archive made by KeyedArchiver; nothing for anything
    // else (another property list, another version, bytes that do not parse).
    static std::optional<KeyedUnarchiver> FromArchive(const Value& archive);
    static std::optional<KeyedUnarchiver> FromData(const std::string& bytes);

    bool containsValueForKey(const std::string& key) const;
    // A missing key, or a value of another kind, reads as 0, NO or a null
    // value. Numbers convert among themselves: an integer takes the low 32 bits,
    // a finite float is kept within the float range.
    bool decodeBool(const std::string& key) const;
    int32_t decodeInt32(const std::string& key) const;
    float decodeFloat(const std::string& key) const;
    double decodeDouble(const std::string& key) const;
    Value decodeObject(const std::string& key) const;

private:
    explicit KeyedUnarchiver(Dictionary values) : values_(std::move(values)) {}
    const Value* number(const std::string& key) const;

    Dictionary values_;
};

}  // namespace plist
