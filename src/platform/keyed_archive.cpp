#include "platform/keyed_archive.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace plist {

namespace {

constexpr char kVersionKey[] = "KeyedArchiveVersion";
constexpr char kValuesKey[] = "Values";
constexpr int64_t kVersion = 1;

}  // namespace

void KeyedArchiver::encodeBool(bool value, const std::string& key) {
    values_[key] = value;
}

void KeyedArchiver::encodeInt32(int32_t value, const std::string& key) {
    values_[key] = static_cast<int>(value);
}

void KeyedArchiver::encodeFloat(float value, const std::string& key) {
    values_[key] = value;
}

void KeyedArchiver::encodeDouble(double value, const std::string& key) {
    values_[key] = value;
}

void KeyedArchiver::encodeObject(const Value& value, const std::string& key) {
    if (value.isNull())
        values_.erase(key);
    else
        values_[key] = value;
}

Value KeyedArchiver::archive() const {
    Dictionary d;
    d[kVersionKey] = static_cast<long long>(kVersion);
    d[kValuesKey] = values_;
    return d;
}

std::string KeyedArchiver::archivedData(Format format) const {
    return Serialize(archive(), format);
}

std::optional<KeyedUnarchiver> KeyedUnarchiver::FromArchive(const Value& archive) {
    const Value* version = archive.find(kVersionKey);
    const Value* values = archive.find(kValuesKey);
    if (!version || version->type() != Value::Type::Integer || version->asInteger() != kVersion ||
        !values || !values->dict())
        return std::nullopt;
    return KeyedUnarchiver(*values->dict());
}

std::optional<KeyedUnarchiver> KeyedUnarchiver::FromData(const std::string& bytes) {
    return FromArchive(Parse(bytes));
}

bool KeyedUnarchiver::containsValueForKey(const std::string& key) const {
    return values_.count(key) != 0;
}

const Value* KeyedUnarchiver::number(const std::string& key) const {
    auto it = values_.find(key);
    return it != values_.end() && it->second.isNumber() ? &it->second : nullptr;
}

bool KeyedUnarchiver::decodeBool(const std::string& key) const {
    const Value* v = number(key);
    return v && v->asBool();
}

int32_t KeyedUnarchiver::decodeInt32(const std::string& key) const {
    const Value* v = number(key);
    return v ? static_cast<int32_t>(static_cast<uint32_t>(v->asInteger())) : 0;
}

float KeyedUnarchiver::decodeFloat(const std::string& key) const {
    const double d = decodeDouble(key);
    // NaN and the infinities are floats too; finite values beyond are not.
    if (!std::isfinite(d)) return static_cast<float>(d);
    return static_cast<float>(
        std::clamp(d, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

double KeyedUnarchiver::decodeDouble(const std::string& key) const {
    const Value* v = number(key);
    return v ? v->asReal() : 0.0;
}

Value KeyedUnarchiver::decodeObject(const std::string& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? Value() : it->second;
}

}  // namespace plist
