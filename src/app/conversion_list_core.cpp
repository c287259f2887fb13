// Names, drag payloads and the legacy reader of the conversion list; no Qt here,
// so that the drop decoder can be fuzzed on its own.
#include "app/conversion_list_core.h"
#include "foundation/string_utils.h"

namespace {

// Text an XML property list can carry: well-formed UTF-8 (no overlong forms,
// surrogates or code points past U+10FFFF) without the characters XML 1.0
// forbids (C0 controls other than tab, newline and return; U+FFFE, U+FFFF).
bool IsWritableText(const std::string& s) {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') return false;
            ++i;
            continue;
        }
        size_t len = 0;
        char32_t cp = 0, least = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2, cp = b & 0x1F, least = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3, cp = b & 0x0F, least = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4, cp = b & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (len > n - i) return false;
        for (size_t k = 1; k < len; ++k) {
            const unsigned char c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE ||
            cp == 0xFFFF)
            return false;
        i += len;
    }
    return true;
}

// Every key and string of the value is writable text (the parser bounds the depth).
bool IsWritableValue(const plist::Value& value) {
    if (value.isString()) return IsWritableText(value.asString());
    if (const plist::Array* array = value.array()) {
        for (const plist::Value& item : *array)
            if (!IsWritableValue(item)) return false;
    } else if (const plist::Dictionary* dictionary = value.dict()) {
        for (const auto& [key, item] : *dictionary)
            if (!IsWritableText(key) || !IsWritableValue(item)) return false;
    }
    return true;
}

}  // namespace

std::string FreeConversionName(const std::string& stem, const std::string& tail,
                               const std::set<std::string>& taken) {
    for (size_t number = 0;; ++number) {
        const std::string ending = number == 0 ? tail : tail + " " + std::to_string(number);
        const size_t room =
            ending.size() < kMaxConversionNameBytes ? kMaxConversionNameBytes - ending.size() : 0;
        const std::string name = ConvNameFormatter::stringForObjectValue(utf8_prefix(stem, room) + ending);
        if (!taken.count(name)) return name;
    }
}

std::string EncodeDraggedConversions(const ConvSpecList& conversions) {
    plist::Array array;
    array.reserve(conversions.size());
    for (const ConvSpecPtr& spec : conversions) array.emplace_back(spec->dictionary());
    return plist::Serialize(plist::Value(std::move(array)), plist::Format::Xml);
}

DroppedConversions DecodeDroppedConversions(const std::string& bytes,
                                            const std::set<std::string>& taken) {
    DroppedConversions out;
    const plist::Value top = plist::Parse(bytes);
    const plist::Array* array = top.array();
    if (!array || array->empty()) return out;
    std::set<std::string> seen;
    for (const plist::Value& element : *array) {
        const plist::Dictionary* dictionary = element.dict();
        // A conversion taken in must be one this list can drag out again.
        if (!dictionary || !IsWritableValue(element)) return {};
        const plist::Value* name = element.find(XWCSName);
        if (!name || !name->isString() || name->asString().empty()) return {};
        // The name the list would keep, which is also the output folder's name.
        std::string cleaned = ConvNameFormatter::stringForObjectValue(name->asString());
        if (taken.count(cleaned) || !seen.insert(cleaned).second) return {};
        out.dictionaries.push_back(*dictionary);
        out.names.push_back(std::move(cleaned));
    }
    out.acceptable = true;
    return out;
}

ConvSpecList MakeDroppedConversions(const DroppedConversions& dropped,
                                    const plist::Dictionary* typeTable) {
    ConvSpecList out;
    if (!dropped.acceptable) return out;
    out.reserve(dropped.dictionaries.size());
    for (const plist::Dictionary& dictionary : dropped.dictionaries)
        out.push_back(std::make_shared<ConvSpec>(dictionary, typeTable));
    return out;
}

std::string LegacyPreferencesPath() {
    const std::string folder = PreferencesFolderPath();
    return folder.empty() ? std::string() : folder + "/Corvane Prefs";
}

ConvSpecList legacyConvSpecsFromFile(const QFPath&) { return {}; }
