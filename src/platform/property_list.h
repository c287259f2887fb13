// Property lists: a small value type (dictionary, array, string, integer, real,
// boolean, data, date) with reading and writing of XML and binary property-list
// files through libplist.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace plist {

class Value;
using Dictionary = std::map<std::string, Value>;
using Array = std::vector<Value>;
using Bytes = std::vector<uint8_t>;

// A date as seconds since 1 January 2001 00:00:00 UTC.
struct Date {
    double seconds = 0;
    bool operator==(const Date& o) const { return seconds == o.seconds; }
};

class Value {
public:
    enum class Type { Null, Dictionary, Array, String, Integer, Real, Boolean, Data, Date };

    Value() = default;
    Value(const char* s) : v_(std::string(s ? s : "")) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(int i) : v_(static_cast<int64_t>(i)) {}
    Value(unsigned i) : v_(static_cast<int64_t>(i)) {}
    Value(long i) : v_(static_cast<int64_t>(i)) {}
    Value(long long i) : v_(static_cast<int64_t>(i)) {}
    Value(unsigned long i) : v_(static_cast<int64_t>(i)) {}
    Value(double d) : v_(d) {}
    Value(float f) : v_(static_cast<double>(f)) {}
    Value(bool b) : v_(b) {}
    Value(Bytes b) : v_(std::move(b)) {}
    Value(Date d) : v_(d) {}
    Value(Dictionary d) : v_(std::move(d)) {}
    Value(Array a) : v_(std::move(a)) {}

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isDictionary() const { return type() == Type::Dictionary; }
    bool isArray() const { return type() == Type::Array; }
    bool isString() const { return type() == Type::String; }
    bool isNumber() const {
        return type() == Type::Integer || type() == Type::Real || type() == Type::Boolean;
    }

    // Conversions with a fallback for values of another type. Numbers convert
    // among themselves (a real truncates toward zero, saturating; NaN gives 0).
    std::string asString(const std::string& fallback = std::string()) const;
    int64_t asInteger(int64_t fallback = 0) const;
    double asReal(double fallback = 0) const;
    bool asBool(bool fallback = false) const;

    const Dictionary* dict() const { return std::get_if<Dictionary>(&v_); }
    Dictionary* dict() { return std::get_if<Dictionary>(&v_); }
    const Array* array() const { return std::get_if<Array>(&v_); }
    Array* array() { return std::get_if<Array>(&v_); }
    const Bytes* data() const { return std::get_if<Bytes>(&v_); }
    Bytes* data() { return std::get_if<Bytes>(&v_); }
    const Date* date() const { return std::get_if<Date>(&v_); }

    // Dictionary lookup: null when this is no dictionary or has no such key.
    const Value* find(const std::string& key) const;
    Value* find(const std::string& key);
    // Dictionary access that makes a null value into an empty dictionary first.
    Value& operator[](const std::string& key);

    bool operator==(const Value& o) const { return v_ == o.v_; }
    bool operator!=(const Value& o) const { return !(v_ == o.v_); }

private:
    std::variant<std::monostate, Dictionary, Array, std::string, int64_t, double, bool, Bytes, Date>
        v_;
};

enum class Format { Xml, Binary };

// Parses XML or binary property-list bytes; a null value when they do not parse.
Value Parse(const std::string& bytes);
// Serialises a value; empty text when the value cannot be written (a null inside).
std::string Serialize(const Value& value, Format format = Format::Xml);

// Reads a property-list file (XML or binary); a null value when it cannot be read.
Value ReadFile(const std::string& path);
// Writes a property-list file through a temporary file and a rename; false on failure.
bool WriteFile(const Value& value, const std::string& path, Format format = Format::Xml);

}  // namespace plist
