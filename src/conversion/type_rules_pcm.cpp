// Rules of the PCM output types: the byte order of PARIS files, the packing of
// Sonic AIFF files and the byte order and number kind of the platform's
// integer/float files, each kept in the per-type block and shown again by a
// word-length popup index; and the rates a Creative Voice file can express.
#include <cmath>
#include <cstdint>
#include <string>

#include "conversion/type_rules.h"
#include "conversion/type_rules_support.h"

using type_rules::FixedText;
using type_rules::LogLine;
using type_rules::WriteVerdict;

// ---------------------------------------------------------------------------
// PARIS: byte 0 = 'B' (big-endian samples) or 'L' (little-endian)

OSErr CParisLinearFile_HandleWordLengthSettings(CConvSpec* spec, int index, const std::string&,
                                                int) {
    if (!spec) return kParamErr;
    auto block = spec->GetFiletypeSpecifics();
    if (index >= 0 && index <= 2) block[0] = 'B';
    if (index == 3 || index == 4) block[0] = 'L';
    return 0;
}

int CParisLinearFile_WordLengthPopupIndex(CConvSpec* spec) {
    if (!spec) return -1;
    const uint8_t order = spec->GetFiletypeSpecifics()[0];
    const short bits = spec->GetWordLength();
    if (order == 'B' && bits == 16) return 1;
    if (order == 'B' && bits == 24) return 2;
    if (order == 'L' && bits == 16) return 3;
    if (order == 'L' && bits == 24) return 4;
    return 0;
}

// ---------------------------------------------------------------------------
// Sonic AIFF: byte 0 = the packing code of 24-bit output

namespace {

// Packing codes by popup index 1 to 4.
constexpr uint8_t kSonicPackingCodes[] = {2, 3, 10, 11};

}  // namespace

OSErr CSonicAIFFFile_HandleWordLengthSettings(CConvSpec* spec, int index, const std::string&,
                                              int) {
    if (!spec) return kParamErr;
    if (index >= 1 && index <= 4) spec->GetFiletypeSpecifics()[0] = kSonicPackingCodes[index - 1];
    return 0;
}

int CSonicAIFFFile_WordLengthPopupIndex(CConvSpec* spec) {
    if (!spec) return -1;
    if (spec->GetWordLength() == 16) return 0;
    const uint8_t code = spec->GetFiletypeSpecifics()[0];
    for (int i = 0; i < 4; ++i)
        if (kSonicPackingCodes[i] == code) return i + 1;
    return 0;
}

std::string CSonicAIFFFile_LogWordLengthMessage(CConvSpec* spec) {
    if (!spec) return std::string();
    const char* text = "invalid";
    if (spec->GetWordLength() == 16) {
        text = "16 bits USP/HDSP";
    } else {
        switch (spec->GetFiletypeSpecifics()[0]) {
            case 2: text = "24 bits 'unpacked' SSP/USP style"; break;
            case 3: text = "24 bits 'packed' USP style"; break;
            case 10: text = "24 bits HDSP 1.4 style (= Little Endian)"; break;
            case 11: text = "24 bits HDSP 1.5 style (= Big Endian)"; break;
            default: break;
        }
    }
    return LogLine(std::string("Word size: ") + text);
}

// ---------------------------------------------------------------------------
// Platform integer/float PCM: byte 0 = 'B' or 'L', byte 1 = 'I' (integer) or
// 'F' (floating point)

OSErr CQTIntFloatFile_HandleWordLengthSettings(CConvSpec* spec, int index, const std::string&,
                                               int) {
    if (!spec) return kParamErr;
    if (index >= 2 && index <= 9) {
        auto block = spec->GetFiletypeSpecifics();
        block[0] = index % 2 == 0 ? 'B' : 'L';
        block[1] = index <= 5 ? 'I' : 'F';
    }
    return 0;
}

int CQTIntFloatFile_WordLengthPopupIndex(CConvSpec* spec) {
    if (!spec) return -1;
    const auto block = spec->GetFiletypeSpecifics();
    const int little = block[0] == 'L' ? 1 : 0;
    const int floating = block[1] == 'F' ? 2 : 0;
    switch (spec->GetWordLength()) {
        case 8: return 0;
        case 16: return 1;
        case 24: return 2 + little;
        case 32: return 4 + little + floating;
        case 64: return 8 + little;
        default: return 1;
    }
}

std::string CQTIntFloatFile_LogWordLengthMessage(CConvSpec* spec) {
    if (!spec) return std::string();
    const auto block = spec->GetFiletypeSpecifics();
    const std::string endian = block[0] == 'B' ? "big" : "little";
    const std::string kind = block[1] == 'F' ? "floating point" : "integer";
    std::string text;
    switch (spec->GetWordLength()) {
        case 8: text = "8 bits integer"; break;
        case 16: text = "16 bits integer"; break;
        case 24: text = "24 bits integer " + endian + " endian"; break;
        case 32: text = "32 bits " + kind + " " + endian + " endian"; break;
        case 64: text = "64 bits floating point " + endian + " endian"; break;
        default: text = "invalid amount"; break;
    }
    return LogLine("Convert number of bits to: " + text);
}

// ---------------------------------------------------------------------------
// Creative Voice: rates of the form 1,000,000 / (256 - n)

namespace {

// The range the writer accepts, and the range of the suggestion.
constexpr float kVOCLowestRate = 3609.0f;
constexpr float kVOCHighestRate = 20000.0f;
constexpr float kVOCLowestSuggestion = 3921.0f;

}  // namespace

OSErr CVOCFile_HandleSampleRateSettings(CConvSpec* spec, int, const std::string&, int) {
    if (!spec) return kParamErr;
    const double stored = spec->GetSampleRate();
    if (stored < 0) spec->SetSampleRate(1.0);
    if (stored > 1000000.0) spec->SetSampleRate(1000000.0);

    bool ok = false;
    float closest = kVOCLowestSuggestion;
    const float r = static_cast<float>(spec->GetSampleRate());
    // A rate of 0 or less (a record decoded without a rate holds 0), or one that
    // is no number, expresses no time constant: not valid, and nothing is
    // divided by it. Below the writer's lowest rate the suggestion is the lowest
    // one anyway; from there up the time constant stays within 0..255 after
    // the clamping above, so the divisions below never meet 0.
    if (std::isfinite(r) && r >= kVOCLowestRate) {
        const auto n = static_cast<int16_t>(static_cast<int>(256.0f - 1000000.0f / r + 0.5f));
        closest = 1000000.0f / static_cast<float>(256 - n);
        ok = std::fabs(r - closest) < 0.5f && r <= kVOCHighestRate;
    }

    const bool converting = spec->GetNeedsSRateConversion() != 0;
    std::string message;
    if (!converting) {
        message =
            "VOC files can only have certain valid sample rates.\nPlease check to convert the "
            "sample rate to one one the valid possibilities.";
    } else if (!ok) {
        if (closest < kVOCLowestSuggestion) closest = kVOCLowestSuggestion;
        if (closest > kVOCHighestRate) closest = kVOCHighestRate;
        message =
            "The sample rate of a VOC file must conform to the formula:\nsample rate = 1 million "
            "/ (whole number between 50 and 255).\nThe allowed sample rate which is closest to "
            "your choice is: " +
            FixedText(closest, 2) + " Hz.";
    }
    WriteVerdict(*spec, kSampleRateValidKey, kSampleRateInvalidMessageKey, converting && ok,
                 message);
    return 0;
}
