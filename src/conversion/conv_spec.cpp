#include "conversion/conv_spec.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <variant>

#include "foundation/errors.h"
#include "foundation/xwqf.h"
#include "platform/resource_dir.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"

namespace {

constexpr char kUntitledConversion[] = "untitled conversion";

// ---------------------------------------------------------------------------
// UTF-8 helpers

// Decodes the character at `pos`; returns its length in bytes (an invalid byte
// counts as one character of its own, U+FFFD).
size_t DecodeUtf8(const std::string& s, size_t pos, char32_t* cp) {
    const auto byte = [&s](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(pos);
    size_t len = 0;
    char32_t value = 0;
    if (b0 < 0x80) {
        *cp = b0;
        return 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        value = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        value = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        value = b0 & 0x07;
    } else {
        *cp = 0xFFFD;
        return 1;
    }
    if (pos + len > s.size()) {
        *cp = 0xFFFD;
        return 1;
    }
    for (size_t i = 1; i < len; ++i) {
        const unsigned char b = byte(pos + i);
        if ((b & 0xC0) != 0x80) {
            *cp = 0xFFFD;
            return 1;
        }
        value = (value << 6) | (b & 0x3F);
    }
    *cp = value;
    return len;
}

// White space and line ends, as the name scanner skips them.
bool IsWhiteSpaceOrNewline(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Characters that cannot stand in a folder name here or on the systems the
// names come from. NUL is one too: it would end the path early.
bool IsNameSeparator(char32_t c) { return c == U'\\' || c == U'/' || c == U':' || c == 0; }

// A simple case folding for ordering names: ASCII, Latin-1, Greek and Cyrillic.
char32_t FoldCase(char32_t c) {
    if (c >= U'A' && c <= U'Z') return c + 0x20;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

int CompareCaseInsensitive(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        char32_t ca = 0, cb = 0;
        i += DecodeUtf8(a, i, &ca);
        j += DecodeUtf8(b, j, &cb);
        ca = FoldCase(ca);
        cb = FoldCase(cb);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

std::string WithoutNul(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
    return s;
}

// Texts holding NUL cannot be written into a property list, and one such text
// would make the whole list of conversions unsavable: drop the NULs.
void RemoveNulsFromTexts(plist::Value& v) {
    if (v.isString()) {
        const std::string s = v.asString();
        if (s.find('\0') != std::string::npos) v = plist::Value(WithoutNul(s));
    } else if (plist::Dictionary* d = v.dict()) {
        for (auto& [key, item] : *d) RemoveNulsFromTexts(item);
    } else if (plist::Array* a = v.array()) {
        for (plist::Value& item : *a) RemoveNulsFromTexts(item);
    }
}

// A real read from a file as a float, kept within the float range.
float ToFloat(double d) {
    if (std::isnan(d)) return static_cast<float>(d);
    return static_cast<float>(std::clamp(d, -static_cast<double>(FLT_MAX),
                                         static_cast<double>(FLT_MAX)));
}

// The low 32 bits of an integer, as persisted.
int32_t Low32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

// ---------------------------------------------------------------------------
// The persisted keys of the plain fields, in the order of the record.

using FieldMember = std::variant<bool ConvSpec::Fields::*, int64_t ConvSpec::Fields::*,
                                 double ConvSpec::Fields::*, float ConvSpec::Fields::*>;

struct PersistedField {
    const char* key;
    FieldMember member;
};

using F = ConvSpec::Fields;

const PersistedField kPersistedFields[] = {
    {XWCSActive, &F::active},
    {XWCSBitRatePerChannel, &F::bitRatePerChannel},
    {XWCSCeiledMax, &F::ceiledMax},
    {XWCSCeiling, &F::ceiling},
    {XWCSChannelTreat, &F::channelTreat},
    {XWCSCompressionBoost, &F::compressionBoost},
    {XWCSCompressionRelease, &F::compressionRelease},
    {XWCSCompressionType, &F::compressionType},
    {XWCSCopyExtras, &F::copyExtras},
    {XWCSFadeInTime, &F::fadeInTime},
    {XWCSFadeOutTime, &F::fadeOutTime},
    {XWCSGateAttenuation, &F::gateAttenuation},
    {XWCSGateGapLength, &F::gateGapLength},
    {XWCSGateThreshold, &F::gateThreshold},
    {XWCSHasValidMax, &F::hasValidMax},
    {XWCSMax, &F::max},
    {XWCSNeedsChannelTreat, &F::needsChannelTreat},
    {XWCSNeedsCompression, &F::needsCompression},
    {XWCSNeedsCompressor, &F::needsCompressor},
    {XWCSNeedsExtraction, &F::needsExtraction},
    {XWCSNeedsFades, &F::needsFades},
    {XWCSNeedsGain, &F::needsGain},
    {XWCSNeedsGate, &F::needsGate},
    {XWCSNeedsNameExtension, &F::needsNameExtension},
    {XWCSNeedsNewWordLength, &F::needsNewWordLength},
    {XWCSNeedsNormalize, &F::needsNormalize},
    {XWCSNeedsRedither, &F::needsRedither},
    {XWCSNeedsSampleRateConversion, &F::needsSampleRateConversion},
    {XWCSNeedsSnip, &F::needsSnip},
    {XWCSNeedsStrictFileType, &F::needsStrictFileType},
    {XWCSNeedsStrip, &F::needsStrip},
    {XWCSSampleRate, &F::sampleRate},
    {XWCSSampleRateConvertQuality, &F::sampleRateConvertQuality},
    {XWCSSnipFrom, &F::snipFrom},
    {XWCSSnipTo, &F::snipTo},
    {XWCSSpecificsValid, &F::specificsValid},
    {XWCSStripMargin, &F::stripMargin},
    {XWCSWordLength, &F::wordLength},
};

struct SortSettings {
    std::mutex mutex;
    std::string key = "convName";
    bool ascending = true;
};

SortSettings& Sorting() {
    static SortSettings settings;
    return settings;
}

const plist::Dictionary* TypeTableOrNull() {
    try {
        return &CSoundFile::GetFileTypeInfo();
    } catch (const std::exception&) {
        return nullptr;  // no resource folder: no rows
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Formatters

std::string ConvNameFormatter::stringForObjectValue(const std::string& name) {
    std::string out;
    size_t pos = 0;
    const size_t n = name.size();
    const auto skipWhiteSpace = [&] {
        while (pos < n) {
            char32_t c = 0;
            const size_t len = DecodeUtf8(name, pos, &c);
            if (!IsWhiteSpaceOrNewline(c)) break;
            pos += len;
        }
    };
    while (true) {
        // A run of anything but separators; white space before it is dropped.
        skipWhiteSpace();
        if (pos >= n) break;
        const size_t start = pos;
        while (pos < n) {
            char32_t c = 0;
            const size_t len = DecodeUtf8(name, pos, &c);
            if (IsNameSeparator(c)) break;
            pos += len;
        }
        out.append(name, start, pos - start);
        // The separators that follow, one "-" each.
        skipWhiteSpace();
        if (pos >= n) break;
        while (pos < n) {
            char32_t c = 0;
            const size_t len = DecodeUtf8(name, pos, &c);
            if (!IsNameSeparator(c)) break;
            out += '-';
            pos += len;
        }
    }
    if (!out.empty() && out[0] == '.') out.erase(0, 1);
    out = XWQF::CutFileName(out);
    // The name is the output folder's: it must name a folder of its own.
    if (out.empty() || out == "." || out == "..") out = ConvSpec::defaultConversionName();
    return out;
}

bool ConvNameFormatter::getObjectValue(std::string* out, const std::string& text, std::string*) {
    if (out) *out = text;
    return true;
}

std::string NameExtensionFormatter::stringForObjectValue(const std::string& extension) {
    if (!extension.empty() && extension[0] == '.') return extension;
    return "." + extension;
}

bool NameExtensionFormatter::getObjectValue(std::string* out, const std::string& text,
                                            std::string*) {
    if (out) *out = (!text.empty() && text[0] == '.') ? text.substr(1) : text;
    return true;
}

// ---------------------------------------------------------------------------
// ConvSpec

std::string ConvSpec::defaultConversionName() {
    // No translations are installed: the key itself is the name.
    return kUntitledConversion;
}

ConvSpec::ConvSpec() {
    fields_.active = true;
    fields_.bitRatePerChannel = true;
    fields_.channelTreat = kChannelTreatSplit;
    fields_.compressionBoost = 6.0;
    fields_.compressionRelease = 0.005;
    fields_.conversionName = ConvNameFormatter::stringForObjectValue(defaultConversionName());
    fields_.fadeInTime = 20.0f;
    fields_.fadeOutTime = 20.0f;
    fields_.gateAttenuation = -12.0;
    fields_.gateGapLength = 0.2;
    fields_.gateThreshold = -30.0;
    fields_.outputFileType = FourCC("AIFF");
    fields_.sampleRate = 44100.0;
    fields_.sampleRateConvertQuality = 1;
    fields_.snipTo = 10.0f;
    fields_.stripMargin = 100.0f;
    fields_.valid = true;
    fields_.wordLength = 16;
}

ConvSpec::ConvSpec(const plist::Dictionary& dictionary, const plist::Dictionary* typeTable) {
    const auto find = [&dictionary](const char* key) -> const plist::Value* {
        auto it = dictionary.find(key);
        return it == dictionary.end() ? nullptr : &it->second;
    };
    for (const PersistedField& field : kPersistedFields) {
        const plist::Value* v = find(field.key);
        std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(fields_.*member)>;
                if constexpr (std::is_same_v<T, bool>)
                    fields_.*member = v ? v->asBool(false) : false;
                else if constexpr (std::is_same_v<T, int64_t>)
                    fields_.*member = v ? Low32(v->asInteger(0)) : 0;
                else if constexpr (std::is_same_v<T, double>)
                    fields_.*member = v ? v->asReal(0) : 0;
                else
                    fields_.*member = v ? ToFloat(v->asReal(0)) : 0.0f;
            },
            field.member);
    }
    const plist::Value* type = find(XWCSOutputFileType);
    fields_.outputFileType = type ? static_cast<OSType>(Low32(type->asInteger(0))) : 0;

    const auto text = [&find](const char* key) {
        const plist::Value* v = find(key);
        return v && v->isString() ? v->asString() : std::string();
    };
    setComment(text(XWCSComment));
    setConversionName(text(XWCSName));
    setNameExtension(text(XWCSNameExtension));

    // A dictionary of specifics, or the factory specifics when there is none.
    const plist::Value* specifics = find(XWCSSpecifics);
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        adoptSpecificsLocked(specifics && specifics->dict() ? *specifics->dict()
                                                            : plist::Dictionary());
    }
    if (typeTable)
        validateSettings(*typeTable);
    else
        validateSettings();
}

ConvSpec::ConvSpec(const ConvSpec& other) {
    std::lock_guard<std::recursive_mutex> lock(other.mutex_);
    fields_ = other.fields_;
    specifics_ = other.specifics_;
    oldData_ = other.oldData_;
}

ConvSpec& ConvSpec::operator=(const ConvSpec& other) {
    if (this == &other) return *this;
    std::scoped_lock lock(mutex_, other.mutex_);
    fields_ = other.fields_;
    specifics_ = other.specifics_;
    oldData_ = other.oldData_;
    return *this;
}

ConvSpec::~ConvSpec() = default;

std::shared_ptr<ConvSpec> ConvSpec::copy() const { return std::make_shared<ConvSpec>(*this); }

void ConvSpec::setConversionName(const std::string& name) {
    std::string cleaned = ConvNameFormatter::stringForObjectValue(name);
    set(&Fields::conversionName, std::move(cleaned));
}

void ConvSpec::setNameExtension(const std::string& extension) {
    std::string stored;
    NameExtensionFormatter::getObjectValue(&stored, extension, nullptr);
    // The extension ends up in output file names: it must not lead into other
    // folders, nor end the path early.
    std::replace(stored.begin(), stored.end(), '/', '-');
    std::replace(stored.begin(), stored.end(), '\0', '-');
    set(&Fields::nameExtension, std::move(stored));
}

void ConvSpec::setComment(const std::string& comment) {
    set(&Fields::comment, WithoutNul(comment));
}

void ConvSpec::adoptSpecificsLocked(const plist::Dictionary& specifics) {
    specifics_ = specifics;
    oldData_.fill(0);
    auto it = specifics_.find(kOldDataKey);
    if (it != specifics_.end()) {
        if (const plist::Bytes* bytes = it->second.data())
            std::copy_n(bytes->begin(), std::min(bytes->size(), oldData_.size()), oldData_.begin());
        specifics_.erase(it);
    }
    for (auto& [key, value] : specifics_) RemoveNulsFromTexts(value);
}

plist::Dictionary ConvSpec::specificsLocked() const {
    plist::Dictionary out = specifics_;
    out[kOldDataKey] = plist::Value(plist::Bytes(oldData_.begin(), oldData_.end()));
    return out;
}

plist::Dictionary ConvSpec::specifics() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return specificsLocked();
}

void ConvSpec::setSpecifics(const plist::Dictionary& specifics) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    adoptSpecificsLocked(specifics);
}

plist::Value ConvSpec::specificsValue(const std::string& key) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (key == kOldDataKey) return plist::Value(plist::Bytes(oldData_.begin(), oldData_.end()));
    auto it = specifics_.find(key);
    return it == specifics_.end() ? plist::Value() : it->second;
}

void ConvSpec::setSpecificsValue(const std::string& key, plist::Value value) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (key == kOldDataKey) {
        oldData_.fill(0);
        if (const plist::Bytes* bytes = value.data())
            std::copy_n(bytes->begin(), std::min(bytes->size(), oldData_.size()), oldData_.begin());
        return;
    }
    if (value.isNull()) {
        specifics_.erase(key);
        return;
    }
    RemoveNulsFromTexts(value);
    specifics_[key] = std::move(value);
}

void ConvSpec::setFileTypeSpecifics(const void* bytes) {
    if (!bytes) return;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    // The source may be the block itself.
    std::memmove(oldData_.data(), bytes, oldData_.size());
}

plist::Dictionary ConvSpec::dictionary() const {
    Fields f;
    plist::Dictionary specifics;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        f = fields_;
        specifics = specificsLocked();
    }
    plist::Dictionary d;
    for (const PersistedField& field : kPersistedFields) {
        std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(f.*member)>;
                if constexpr (std::is_same_v<T, int64_t>)
                    d[field.key] = plist::Value(static_cast<int>(Low32(f.*member)));
                else
                    d[field.key] = plist::Value(f.*member);
            },
            field.member);
    }
    d[XWCSOutputFileType] = plist::Value(static_cast<int>(Low32(f.outputFileType)));
    d[XWCSComment] = plist::Value(f.comment);
    d[XWCSName] = plist::Value(f.conversionName);
    d[XWCSNameExtension] = plist::Value(f.nameExtension);
    d[XWCSSpecifics] = plist::Value(std::move(specifics));
    return d;
}

std::string ConvSpec::description() const { return plist::Serialize(plist::Value(dictionary())); }

void ConvSpec::encodeWithCoder(plist::KeyedArchiver& coder) const {
    Fields f;
    plist::Dictionary specifics;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        f = fields_;
        specifics = specificsLocked();
    }
    for (const PersistedField& field : kPersistedFields) {
        std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(f.*member)>;
                if constexpr (std::is_same_v<T, bool>)
                    coder.encodeBool(f.*member, field.key);
                else if constexpr (std::is_same_v<T, int64_t>)
                    coder.encodeInt32(Low32(f.*member), field.key);
                else if constexpr (std::is_same_v<T, double>)
                    coder.encodeDouble(f.*member, field.key);
                else
                    coder.encodeFloat(f.*member, field.key);
            },
            field.member);
    }
    coder.encodeInt32(Low32(f.outputFileType), XWCSOutputFileType);
    coder.encodeObject(f.comment, XWCSComment);
    coder.encodeObject(f.conversionName, XWCSName);
    coder.encodeObject(f.nameExtension, XWCSNameExtension);
    coder.encodeObject(std::move(specifics), XWCSSpecifics);
}

std::shared_ptr<ConvSpec> ConvSpec::initWithCoder(const plist::KeyedUnarchiver& coder,
                                                  const plist::Dictionary* typeTable) {
    // The values by their kinds, then read as the dictionary form is read.
    plist::Dictionary d;
    for (const PersistedField& field : kPersistedFields) {
        if (!coder.containsValueForKey(field.key)) continue;
        std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(std::declval<Fields&>().*member)>;
                if constexpr (std::is_same_v<T, bool>)
                    d[field.key] = coder.decodeBool(field.key);
                else if constexpr (std::is_same_v<T, int64_t>)
                    d[field.key] = static_cast<int>(coder.decodeInt32(field.key));
                else if constexpr (std::is_same_v<T, double>)
                    d[field.key] = coder.decodeDouble(field.key);
                else
                    d[field.key] = coder.decodeFloat(field.key);
            },
            field.member);
    }
    if (coder.containsValueForKey(XWCSOutputFileType))
        d[XWCSOutputFileType] = static_cast<int>(coder.decodeInt32(XWCSOutputFileType));
    for (const char* key : {XWCSComment, XWCSName, XWCSNameExtension, XWCSSpecifics}) {
        plist::Value v = coder.decodeObject(key);
        if (!v.isNull()) d[key] = std::move(v);
    }
    return std::make_shared<ConvSpec>(d, typeTable);
}

std::weak_ordering ConvSpec::compare(const ConvSpec& other) const {
    std::string key;
    bool ascending = true;
    {
        SortSettings& s = Sorting();
        std::lock_guard<std::mutex> lock(s.mutex);
        key = s.key;
        ascending = s.ascending;
    }
    const ConvSpec& left = ascending ? *this : other;
    const ConvSpec& right = ascending ? other : *this;
    int result = 0;
    if (key == "convName") {
        result = CompareCaseInsensitive(left.conversionName(), right.conversionName());
    } else if (key == "active") {
        result = static_cast<int>(left.active()) - static_cast<int>(right.active());
    } else if (key == "comment") {
        result = CompareCaseInsensitive(left.comment(), right.comment());
    }
    if (result < 0) return std::weak_ordering::less;
    if (result > 0) return std::weak_ordering::greater;
    return std::weak_ordering::equivalent;
}

std::string ConvSpec::sortKey() {
    SortSettings& s = Sorting();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.key;
}

void ConvSpec::setSortKey(const std::string& key) {
    SortSettings& s = Sorting();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.key = key;
}

bool ConvSpec::ascendingSort() {
    SortSettings& s = Sorting();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.ascending;
}

void ConvSpec::setAscendingSort(bool ascending) {
    SortSettings& s = Sorting();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.ascending = ascending;
}

bool ConvSpec::validateSettings() {
    const plist::Dictionary* table = TypeTableOrNull();
    if (table) return validateSettings(*table);
    return validateSettings(plist::Dictionary());
}

bool ConvSpec::validateSettings(const plist::Dictionary& typeTable) {
    bool ok = true;
    if (needsStrictFileType()) {
        ok = false;
        auto row = typeTable.find(HFSTypeString(outputFileType()));
        if (row != typeTable.end()) {
            const plist::Value* canBeWritten = row->second.find("canBeWritten");
            ok = canBeWritten && canBeWritten->asBool(false);
        }
    }
    setValid(ok);
    return ok;
}

// ---------------------------------------------------------------------------
// Loading and saving the list

namespace {

std::vector<std::shared_ptr<ConvSpec>> DecodeConvSpecs(const plist::Array& array,
                                                       const plist::Dictionary* typeTable) {
    std::vector<std::shared_ptr<ConvSpec>> out;
    out.reserve(array.size());
    for (const plist::Value& item : array) {
        if (const plist::Dictionary* d = item.dict())
            out.push_back(std::make_shared<ConvSpec>(*d, typeTable));
    }
    return out;
}

}  // namespace

std::vector<std::shared_ptr<ConvSpec>> LoadFactoryConvSpecs(const plist::Dictionary* typeTable) {
    const plist::Value factory =
        plist::ReadFile(platform::ResourcePath(kFactoryConversionsResource));
    if (!factory.array()) return {};
    return DecodeConvSpecs(*factory.array(), typeTable);
}

std::vector<std::shared_ptr<ConvSpec>> LoadConvSpecs(const plist::Value* conversions,
                                                     const plist::Dictionary* typeTable) {
    if (conversions && conversions->array() && !conversions->array()->empty())
        return DecodeConvSpecs(*conversions->array(), typeTable);
    return LoadFactoryConvSpecs(typeTable);
}

plist::Value EncodeConvSpecs(const std::vector<std::shared_ptr<ConvSpec>>& conversions) {
    plist::Array array;
    array.reserve(conversions.size());
    for (const std::shared_ptr<ConvSpec>& spec : conversions)
        if (spec) array.emplace_back(spec->dictionary());
    return plist::Value(std::move(array));
}
