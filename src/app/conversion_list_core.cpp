// Names, drag payloads and the legacy reader of the conversion list; no Qt here,
// so that the drop decoder can be fuzzed on its own.
#include "app/conversion_list_core.h"

std::string CutUtf8(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t n = maxBytes;
    // Step back over continuation bytes so that no character is split.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return text.substr(0, n);
}

std::string FreeConversionName(const std::string& stem, const std::string& tail,
                               const std::set<std::string>& taken) {
    for (size_t number = 0;; ++number) {
        const std::string ending = number == 0 ? tail : tail + " " + std::to_string(number);
        const size_t room =
            ending.size() < kMaxConversionNameBytes ? kMaxConversionNameBytes - ending.size() : 0;
        const std::string name = ConvNameFormatter::stringForObjectValue(CutUtf8(stem, room) + ending);
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
        if (!dictionary) return {};
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
