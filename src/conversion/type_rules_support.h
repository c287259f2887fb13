// Helpers shared by the per-output-type rules (type_rules_*.cpp); not for
// use elsewhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "conversion/cconv_spec.h"

namespace type_rules {

// Writes a verdict: the flag always, the message only when the flag is NO (an
// earlier message may then stay beside a YES flag).
void WriteVerdict(CConvSpec& spec, const char* flagKey, const char* messageKey, bool valid,
                  const std::string& message);

// Stores a name extension in the record through the facade (one leading dot
// dropped; whether the extension is used stays as it is).
void StoreNameExtension(CConvSpec& spec, const char* extension);

// The record's sample rate truncated toward zero; nothing when it is not a
// finite number within the range of a 64-bit integer.
std::optional<int64_t> TruncatedRate(double rate);

// Decimal text of a number in the C locale: integers as they are, reals with
// the given number of decimals.
std::string IntegerText(int64_t value);
std::string FixedText(double value, int decimals);

// The rule's line of the log: a line end and four spaces, then the text.
std::string LogLine(const std::string& text);

}  // namespace type_rules
