// The descriptions of a conversion for the log and for the automatic name.
#include "conversion/descriptions.h"

#include <charconv>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <optional>

#include "conversion/cconv_spec.h"
#include "soundfile/registry.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"

namespace {

constexpr char kSameType[] = "Same type";

// ---------------------------------------------------------------------------
// Numbers, always in the C locale

// A real with a fixed number of decimals, as "%.Nf" writes it in the C locale.
std::string Fixed(double value, int decimals) {
    char buf[400];  // the largest double has 309 integer digits
    const auto r =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return "?";
    return std::string(buf, r.ptr);
}

std::string Integer(int64_t value) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

// ---------------------------------------------------------------------------
// The output type's row

// The row's display name; the type code itself when the row has none, so
// that the line still says which type was asked for.
std::string TypeText(const ConvSpec& spec, const plist::Dictionary* row) {
    if (row) {
        auto it = row->find("text");
        if (it != row->end() && it->second.isString()) return it->second.asString();
    }
    std::string code = HFSTypeString(spec.outputFileType());
    for (char& c : code) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F) c = '?';
    }
    return code;
}

const plist::Array* PopupItems(const plist::Dictionary* row, const char* key) {
    if (!row) return nullptr;
    auto it = row->find(key);
    return it == row->end() ? nullptr : it->second.array();
}

std::optional<std::string> ItemText(const plist::Value& item) {
    const plist::Value* text = item.find("text");
    if (!text || !text->isString()) return std::nullopt;
    return text->asString();
}

// A tag as an integer: numbers by their value, texts by their leading decimal
// digits (white space and a sign before them allowed, saturating at 32 bits),
// anything else not at all.
std::optional<int64_t> ItemTag(const plist::Value& item) {
    const plist::Value* tag = item.find("tag");
    if (!tag) return std::nullopt;
    if (tag->isNumber()) return tag->asInteger();
    if (!tag->isString()) return std::nullopt;
    const std::string text = tag->asString();
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kLimit) value = kLimit;
    }
    if (negative) return -value;
    return value > std::numeric_limits<int32_t>::max() ? int64_t{std::numeric_limits<int32_t>::max()}
                                                       : value;
}

bool IsSeparator(const plist::Value& item) {
    const std::optional<std::string> text = ItemText(item);
    return text && *text == "-";
}

// The text of item number `index`, when there is such an item with a text.
std::optional<std::string> TextAtIndex(const plist::Array* items, int index) {
    if (!items || index < 0 || static_cast<size_t>(index) >= items->size()) return std::nullopt;
    return ItemText((*items)[static_cast<size_t>(index)]);
}

// The text of the first item (separators aside) whose tag equals `value`.
std::optional<std::string> TextForTag(const plist::Array* items, int64_t value) {
    if (!items) return std::nullopt;
    for (const plist::Value& item : *items) {
        if (IsSeparator(item)) continue;
        const std::optional<int64_t> tag = ItemTag(item);
        if (tag && *tag == value) {
            if (std::optional<std::string> text = ItemText(item)) return text;
        }
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// The rules see the record through a short-lived facade. The facade does not
// own the record: it ends before the description returns, and the rules asked
// here only read.

class RuleFacade {
public:
    explicit RuleFacade(const ConvSpec& spec)
        : facade_(std::shared_ptr<ConvSpec>(std::shared_ptr<ConvSpec>(),
                                            const_cast<ConvSpec*>(&spec))) {}
    CConvSpec* get() { return &facade_; }

private:
    CConvSpec facade_;
};

int WordLengthPopupIndex(const ConvSpec& spec, const SoundFileDispatcher& dispatcher) {
    RuleFacade facade(spec);
    return dispatcher.callWordLengthIndexFunc(facade.get());
}

int ChannelPopupIndex(const ConvSpec& spec, const SoundFileDispatcher& dispatcher) {
    RuleFacade facade(spec);
    return dispatcher.callChannelIndexFunc(facade.get());
}

std::string LogChannelText(const ConvSpec& spec, const SoundFileDispatcher& dispatcher) {
    RuleFacade facade(spec);
    return dispatcher.callLogChannelSettingsFunc(facade.get());
}

// ---------------------------------------------------------------------------
// Channel treatment texts of types without rules of their own

const char* LogChannelTreatText(int64_t treat) {
    switch (treat) {
        case kChannelTreatInterleave: return "forcing every file to interleaved stereo";
        case kChannelTreatSplit: return "splitting stereo files to separate mono files";
        case kChannelTreatMixToMono: return "mixing stereo files to mono files";
        case kChannelTreatLeftOnly: return "copying only left channels of stereo files";
        case kChannelTreatRightOnly: return "copying only right channels of stereo files";
        case kChannelTreatOnlyPairsToInterleaved:
            return "interleaving only split stereo pairs";
        case kChannelTreatMPEGJointStereo: return "making MPEG joint stereo";
        case kChannelTreatMPEGSeparateStereo: return "making MPEG separate stereo";
        default: return "";
    }
}

const char* AutoNameChannelTreatText(int64_t treat) {
    switch (treat) {
        case kChannelTreatInterleave: return ", interleaved";
        case kChannelTreatSplit: return ", split";
        case kChannelTreatMixToMono: return ", mix to mono";
        case kChannelTreatLeftOnly: return ", copy left only";
        case kChannelTreatRightOnly: return ", copy right only";
        case kChannelTreatOnlyPairsToInterleaved: return ", only stereo to interleaved";
        case kChannelTreatMPEGJointStereo: return ", MPEG joint stereo";
        case kChannelTreatMPEGSeparateStereo: return ", MPEG separate stereo";
        default: return "";
    }
}

// The row and the dispatcher of the record's output type, as the members
// need them. Without a type table (no resources) there is no row.
struct OutputTypeContext {
    const plist::Dictionary* row = nullptr;
    SoundFileDispatcherPtr dispatcher;
};

OutputTypeContext LookUpOutputType(const ConvSpec& spec) {
    OutputTypeContext context;
    const OSType type = spec.outputFileType();
    try {
        context.row = FileTypeRow(CSoundFile::GetFileTypeInfo(), type);
    } catch (const std::exception&) {
        context.row = nullptr;
    }
    context.dispatcher = GetSoundFileDispatcher(type);
    return context;
}

}  // namespace

const plist::Dictionary* FileTypeRow(const plist::Dictionary& typeTable, OSType type) {
    auto it = typeTable.find(HFSTypeString(type));
    return it == typeTable.end() ? nullptr : it->second.dict();
}

std::string DescribeWordLength(const ConvSpec& spec, const plist::Dictionary* row,
                               const SoundFileDispatcher* dispatcher) {
    const plist::Array* items = PopupItems(row, "numBitsPopup");
    // An index that names no item (-1 included) falls back to the tag.
    if (dispatcher && dispatcher->hasWordLengthIndexFunc()) {
        if (auto text = TextAtIndex(items, WordLengthPopupIndex(spec, *dispatcher))) return *text;
    }
    const int64_t wordLength = spec.wordLength();
    if (auto text = TextForTag(items, wordLength)) return *text;
    return Integer(wordLength) + " bits";
}

std::string DescribeChannelHandling(const ConvSpec& spec, const plist::Dictionary* row,
                                    const SoundFileDispatcher* dispatcher) {
    const plist::Array* items = PopupItems(row, "channelHandlingPopup");
    if (dispatcher && dispatcher->hasChannelIndexFunc()) {
        if (auto text = TextAtIndex(items, ChannelPopupIndex(spec, *dispatcher))) return *text;
    }
    return TextForTag(items, spec.channelTreat()).value_or(std::string());
}

std::string DescribeConversionForLog(const ConvSpec& spec, const plist::Dictionary* row,
                                     const SoundFileDispatcher* dispatcher) {
    std::string out = "    Conversion name: " + spec.conversionName();

    const std::string comment = spec.comment();
    if (!comment.empty()) out += "\n    Comment: " + comment;

    if (spec.needsStrictFileType())
        out += "\n    Convert file format to: " + TypeText(spec, row);
    else
        out += "\n    Do not convert file format";

    if (spec.needsSampleRateConversion())
        out += "\n    Convert the sample rate to: " + Fixed(spec.sampleRate(), 4) + " Hz";
    else
        out += "\n    Do not convert the sample rate";

    if (spec.needsNewWordLength()) {
        out += "\n    Convert number of bits to: " + DescribeWordLength(spec, row, dispatcher) +
               ", " + (spec.needsRedither() ? "using" : "without") + " dithering";
    } else {
        out += "\n    Do not convert the number of bits";
    }

    if (spec.needsChannelTreat()) {
        out += "\n    Change number of channels by: ";
        if (dispatcher && dispatcher->hasLogChannelSettingsFunc())
            out += LogChannelText(spec, *dispatcher);
        else
            out += LogChannelTreatText(spec.channelTreat());
    }

    if (spec.needsExtraction()) out += "\n    Extract regions";
    if (spec.needsStrip()) {
        out += "\n    Compact audio (by region) with a " + Fixed(spec.stripMargin(), 1) +
               " ms safety margin";
    }
    if (spec.needsSnip()) {
        out += "\n    Convert only a snippet from " + Fixed(spec.snipFrom(), 3) + " to " +
               Fixed(spec.snipTo(), 3) + " s";
    }
    if (spec.copyExtras())
        out += "\n    Convert any marker-, loop-, region definitions, and time stamps";
    if (spec.needsFades()) {
        out += "\n    Supply output files with a fade in of " + Fixed(spec.fadeInTime(), 1) +
               " ms";
        out += "\n                        and a fade out of " + Fixed(spec.fadeOutTime(), 1) +
               " ms";
    }

    if (!spec.needsGain()) {
        out += "\n    Do not change the gain";
    } else {
        const bool gate = spec.needsGate();
        const bool normalize = spec.needsNormalize();
        if (gate) {
            out += "\n    Gate silences with following settings:";
            out += "\n        A silence is longer than " +
                   Fixed(spec.gateGapLength() * 1000.0, 1) + " ms";
            out += "\n        and lower than " + Fixed(spec.gateThreshold(), 1) + " dBfs";
            out += "\n        Attenuate silences " + Fixed(spec.gateAttenuation(), 1) + " dB";
        }
        const char* const whom = gate ? "non-silences " : "";
        if (spec.needsCompressor()) {
            out += std::string("\n    Boost ") + whom +
                   "with Look Ahead Peak Limiter, using following settings:";
            if (normalize) out += "\n        First normalize to full scale";
            out += std::string("\n\t\t ") + (normalize ? "Then a" : "     A") + "mplify " +
                   Fixed(spec.compressionBoost(), 1) + " dB";
            out += "\n        Then limit at " + Fixed(spec.ceiling(), 1) + " dBfs";
        } else if (normalize) {
            out += std::string("\n    Boost ") + whom + "by normalizing to: " +
                   Fixed(spec.ceiling(), 1) + " dB";
        }
    }

    if (spec.needsNameExtension()) {
        std::string extension = spec.nameExtension();
        if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
        out += "\n    Add or replace filename extension: ." + extension;
    }

    const plist::Value annotation = spec.specificsValue("AnnotationText");
    if (annotation.isString()) out += "\n    BWF annotation: " + annotation.asString();

    return out;
}

std::string DescribeConversionForAutoName(const ConvSpec& spec, const plist::Dictionary* row,
                                          const SoundFileDispatcher* dispatcher) {
    std::string out;
    if (spec.needsStrictFileType()) {
        out += TypeText(spec, row);
        if (spec.needsNameExtension()) out += " (." + spec.nameExtension() + ")";
    } else {
        out += kSameType;
    }

    if (spec.needsSampleRateConversion()) out += ", " + Fixed(spec.sampleRate(), 2) + " Hz";
    if (spec.needsNewWordLength()) {
        out += ", " + DescribeWordLength(spec, row, dispatcher);
        if (spec.needsRedither()) out += " dithered";
    }
    if (spec.needsChannelTreat()) {
        if (dispatcher && dispatcher->hasChannelIndexFunc())
            out += ", " + DescribeChannelHandling(spec, row, dispatcher);
        else
            out += AutoNameChannelTreatText(spec.channelTreat());
    }
    if (spec.needsExtraction()) out += ", extract";
    if (spec.needsStrip()) out += ", strip (margin " + Fixed(spec.stripMargin(), 1) + " ms)";
    if (spec.needsSnip()) {
        out += ", snippet from " + Fixed(spec.snipFrom(), 3) + " to " + Fixed(spec.snipTo(), 3) +
               " s";
    }
    if (spec.copyExtras()) out += ", copy extras";
    if (spec.needsFades()) {
        out += ", fade in " + Fixed(spec.fadeInTime(), 1) + " ms, out " +
               Fixed(spec.fadeOutTime(), 1) + " ms";
    }

    if (spec.needsGain()) {
        const bool gate = spec.needsGate();
        const bool normalize = spec.needsNormalize();
        if (gate) {
            out += ", att " + Fixed(spec.gateAttenuation(), 1) + " dB when below " +
                   Fixed(spec.gateThreshold(), 1) + " dBfs for over " +
                   Fixed(spec.gateGapLength() * 1000.0, 1) + " ms";
        }
        const char* const rest = gate ? " rest" : "";
        if (spec.needsCompressor()) {
            out += std::string(", boost") + rest + ", " + (normalize ? "normalize, " : "") +
                   "amp " + Fixed(spec.compressionBoost(), 1) + " dB, limit @ " +
                   Fixed(spec.ceiling(), 1) + " dBfs";
        } else if (normalize) {
            out += std::string(", boost") + rest + " by normalizing to " +
                   Fixed(spec.ceiling(), 1) + " dBfs";
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// The record's members

std::string ConvSpec::descriptionForLog() const {
    const OutputTypeContext context = LookUpOutputType(*this);
    return DescribeConversionForLog(*this, context.row, context.dispatcher.get());
}

std::string ConvSpec::descriptionForAutoName() const {
    const OutputTypeContext context = LookUpOutputType(*this);
    return DescribeConversionForAutoName(*this, context.row, context.dispatcher.get());
}

std::string ConvSpec::descriptionForWordLength() const {
    const OutputTypeContext context = LookUpOutputType(*this);
    return DescribeWordLength(*this, context.row, context.dispatcher.get());
}

std::string ConvSpec::descriptionForChannelHandling() const {
    const OutputTypeContext context = LookUpOutputType(*this);
    return DescribeChannelHandling(*this, context.row, context.dispatcher.get());
}
