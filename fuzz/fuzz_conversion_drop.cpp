// Feeds arbitrary bytes to the conversion table's drop decoder, as a drop from
// another application delivers them. What it accepts must name every element
// with a free, distinct folder name; the conversions made from it must carry
// those names; and dragged out again they must be accepted by an empty list
// under the same names, cleaned once more.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "app/conversion_list_core.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::set<std::string> taken{"Mix", ConvSpec::defaultConversionName()};
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const DroppedConversions dropped = DecodeDroppedConversions(bytes, taken);
    if (!dropped.acceptable) {
        if (!dropped.dictionaries.empty() || !dropped.names.empty()) std::abort();
        return 0;
    }
    if (dropped.names.empty() || dropped.names.size() != dropped.dictionaries.size()) std::abort();
    std::set<std::string> seen;
    for (const std::string& name : dropped.names) {
        if (name.empty() || name.size() > kMaxConversionNameBytes || taken.count(name) ||
            !seen.insert(name).second)
            std::abort();
    }
    const ConvSpecList specs = MakeDroppedConversions(dropped);
    if (specs.size() != dropped.names.size()) std::abort();
    for (size_t i = 0; i < specs.size(); ++i)
        if (specs[i]->conversionName() != dropped.names[i]) std::abort();

    // Dragged out again, the names are cleaned once more (a kept leading "."
    // of "..name" goes then), so two of them may meet.
    std::vector<std::string> cleaned;
    for (const std::string& name : dropped.names)
        cleaned.push_back(ConvNameFormatter::stringForObjectValue(name));
    const bool distinct = std::set<std::string>(cleaned.begin(), cleaned.end()).size() == cleaned.size();
    const DroppedConversions again = DecodeDroppedConversions(EncodeDraggedConversions(specs), {});
    if (again.acceptable != distinct || (distinct && again.names != cleaned)) std::abort();
    return 0;
}
