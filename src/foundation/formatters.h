// Display texts for sizes in bytes and durations in seconds, and reading them back.
// Numbers are always written with "." as the decimal point, whatever the locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class ByteFormatter {
public:
    // "%llu B" below 1024; else d scaled to kB, MB or GB (steps of 1024) with two
    // decimals. n picks the unit, d gives the number shown.
    std::string stringForObjectValue(uint64_t n, double d) const;
    std::string stringForObjectValue(uint64_t n) const {
        return stringForObjectValue(n, static_cast<double>(n));
    }

    // Reads "<number> <unit>B" back into bytes: empty text gives 0; the unit text
    // between the number and "B" scales by its last letter (G, M, k; else 1); the
    // product is truncated. `decimalSeparator`, when not empty, is first replaced
    // by "." everywhere. False (with *value untouched) when no number can be read,
    // when no unit text stands before the "B" (as in "512 B"), or when the result
    // is negative or too large.
    bool getObjectValue(const std::string& text, uint64_t* value,
                        const std::string& decimalSeparator = std::string()) const;
};

class TimeFormatter {
public:
    bool noHours() const { return noHours_; }
    void setNoHours(bool noHours) { noHours_ = noHours; }
    int32_t precision() const { return precision_; }
    void setPrecision(int32_t precision) { precision_ = precision; }

    // With hours: "HH:MM:SS.mmm". Without: "M:SS" for a precision below 1, else
    // "M:SS.ddd" with `precision` decimals (at most kMaxPrecision are shown).
    // Seconds that round up to 60 at the shown precision carry into the minute.
    // Nothing for a value that is not finite or too large to show.
    std::optional<std::string> stringForObjectValue(double seconds) const;

    // Reads "H:M:S" (with hours) or "M:S" (without) into seconds; hours and minutes
    // are whole numbers, the seconds may have decimals. Empty text gives 0. False
    // with *errorDescription "invalid time format" when a part is missing.
    bool getObjectValue(const std::string& text, double* value,
                        std::string* errorDescription) const;

    static constexpr int32_t kMaxPrecision = 9;

private:
    bool noHours_ = false;
    int32_t precision_ = 0;
};
