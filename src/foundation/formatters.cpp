#include "foundation/formatters.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <type_traits>

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// A fixed-point number in the C locale with `decimals` decimals, padded with zeros
// after any sign to at least `width` characters (as printf's "%0W.Df").
std::string FormatFixed(double value, int decimals, int width) {
    char buffer[512];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed,
                                decimals);
    if (result.ec != std::errc()) return std::string();
    std::string text(buffer, result.ptr);
    if (!std::isfinite(value)) return text;
    size_t sign = (!text.empty() && text[0] == '-') ? 1 : 0;
    if (static_cast<int>(text.size()) < width)
        text.insert(sign, static_cast<size_t>(width) - text.size(), '0');
    return text;
}

std::string IntText(long long value, int width) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*lld", width, value);
    return buffer;
}

// Reading numbers from text in the manner of a scanner that skips white space
// before each item.
class Scanner {
public:
    explicit Scanner(const std::string& text) : p_(text.data()), end_(text.data() + text.size()) {}

    void skipSpace() {
        while (p_ < end_ && IsSpace(*p_)) ++p_;
    }
    template <typename T>
    bool scanNumber(T* value) {
        skipSpace();
        const char* start = p_;
        if (start < end_ && *start == '+') {
            ++start;
            if (start < end_ && (*start == '+' || *start == '-')) return false;
        }
        std::from_chars_result r;
        if constexpr (std::is_floating_point_v<T>)
            r = std::from_chars(start, end_, *value, std::chars_format::general);
        else
            r = std::from_chars(start, end_, *value, 10);
        if (r.ec != std::errc()) return false;
        if constexpr (std::is_floating_point_v<T>) {
            if (!std::isfinite(*value)) return false;
        }
        p_ = r.ptr;
        return true;
    }
    bool scanChar(char c) {
        skipSpace();
        if (p_ < end_ && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }
    // The text before the next `stop` (or the end); false when it is empty.
    bool scanUpTo(char stop, std::string* text) {
        skipSpace();
        const char* start = p_;
        while (p_ < end_ && *p_ != stop) ++p_;
        text->assign(start, p_);
        return !text->empty();
    }

private:
    const char* p_;
    const char* end_;
};

}  // namespace

std::string ByteFormatter::stringForObjectValue(uint64_t n, double d) const {
    constexpr uint64_t kK = 1024, kM = kK * 1024, kG = kM * 1024;
    if (n < kK) return std::to_string(n) + " B";
    if (n < kM) return FormatFixed(d / static_cast<double>(kK), 2, 0) + " kB";
    if (n < kG) return FormatFixed(d / static_cast<double>(kM), 2, 0) + " MB";
    return FormatFixed(d / static_cast<double>(kG), 2, 0) + " GB";
}

bool ByteFormatter::getObjectValue(const std::string& text, uint64_t* value,
                                   const std::string& decimalSeparator) const {
    if (text.empty()) {
        *value = 0;
        return true;
    }
    std::string t = text;
    if (!decimalSeparator.empty() && decimalSeparator != ".") {
        for (size_t at = t.find(decimalSeparator); at != std::string::npos;
             at = t.find(decimalSeparator, at + 1))
            t.replace(at, decimalSeparator.size(), ".");
    }
    Scanner scanner(t);
    float number = 0;
    std::string unit;
    if (!scanner.scanNumber(&number) || !scanner.scanUpTo('B', &unit)) return false;
    double factor = 1;
    switch (unit.back()) {
        case 'G': factor = 1073741824.0; break;
        case 'M': factor = 1048576.0; break;
        case 'k': factor = 1024.0; break;
        default: break;
    }
    double bytes = static_cast<double>(number) * factor;
    // 2^64: the first value that no longer fits.
    if (!(bytes >= 0) || bytes >= 18446744073709551616.0) return false;
    *value = static_cast<uint64_t>(bytes);
    return true;
}

std::optional<std::string> TimeFormatter::stringForObjectValue(double t) const {
    if (!std::isfinite(t)) return std::nullopt;
    if (!noHours_) {
        if (std::fabs(t / 3600) >= INT_MAX - 1) return std::nullopt;
        int h = static_cast<int>(t / 3600);
        double r = t - 3600.0 * h;
        int m = static_cast<int>(r / 60);
        double s = r - 60.0 * m;
        std::string secs = FormatFixed(s, 3, 6);
        if (secs.compare(0, 2, "60") == 0) {
            // The seconds round up to a whole minute at the shown precision.
            secs = FormatFixed(0, 3, 6);
            if (++m == 60) {
                m = 0;
                ++h;
            }
        }
        return IntText(h, 2) + ":" + IntText(m, 2) + ":" + secs;
    }
    if (std::fabs(t / 60) >= INT_MAX - 1) return std::nullopt;
    int m = static_cast<int>(t / 60);
    double s = t - 60.0 * m;
    std::string secs;
    if (precision_ < 1) {
        if (static_cast<int>(s + 0.5) == 60) {
            s = 0;
            ++m;
        }
        secs = FormatFixed(s, 0, 2);
    } else {
        // Round at the shown precision before deciding the carry, so that 59.6 at
        // two decimals stays 0:59.60.
        int p = precision_ > kMaxPrecision ? kMaxPrecision : precision_;
        secs = FormatFixed(s, p, p + 3);
        if (secs.compare(0, 2, "60") == 0) {
            secs = FormatFixed(0, p, p + 3);
            ++m;
        }
    }
    return std::to_string(m) + ":" + secs;
}

bool TimeFormatter::getObjectValue(const std::string& text, double* value,
                                   std::string* errorDescription) const {
    if (text.empty()) {
        *value = 0;
        return true;
    }
    Scanner scanner(text);
    int hours = 0, minutes = 0;
    double seconds = 0;
    bool ok = true;
    if (!noHours_) ok = scanner.scanNumber(&hours) && scanner.scanChar(':');
    ok = ok && scanner.scanNumber(&minutes) && scanner.scanChar(':') &&
         scanner.scanNumber(&seconds);
    if (!ok) {
        if (errorDescription) *errorDescription = "invalid time format";
        return false;
    }
    *value = hours * 3600.0 + minutes * 60.0 + seconds;
    return true;
}
