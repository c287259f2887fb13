// The parts of the conversion list that need no interface: free names for
// duplicated and imported conversions, the property list that carries dragged
// conversions to other applications, the checking of one that is dropped here,
// and the reader of the preferences files of major version 3.
//
// Names are folder names: unique within the list, at most 255 bytes, never
// split inside a character.
#pragma once

#include <cstddef>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "conversion/conv_spec.h"
#include "foundation/paths.h"
#include "platform/property_list.h"

using ConvSpecPtr = std::shared_ptr<ConvSpec>;
using ConvSpecList = std::vector<ConvSpecPtr>;

// Longest conversion name in bytes (the name is a folder's).
inline constexpr size_t kMaxConversionNameBytes = 255;

// The first free name among stem + tail, stem + tail + " 1", stem + tail + " 2" …,
// the stem shortened (at a character boundary) whenever the whole would pass
// 255 bytes. Names are compared as the list stores them (ConvNameFormatter).
std::string FreeConversionName(const std::string& stem, const std::string& tail,
                               const std::set<std::string>& taken);

// The MIME type of dragged conversions: an XML property list, an array of the
// conversions' dictionary forms. The same text is offered as text/plain.
inline constexpr char kConversionsMimeType[] = "application/x-corvane-conversions+xml";

// The XML property list of the dictionary forms of `conversions`, in order.
std::string EncodeDraggedConversions(const ConvSpecList& conversions);

// What a drop offers, once checked.
struct DroppedConversions {
    // True when the bytes are a property list whose top is an array, every
    // element a dictionary with a string under "XWCSName" that is not empty and
    // whose cleaned form (the folder name the list would store) is neither
    // taken nor repeated within the drop, and every key and string of it text
    // that an XML property list can carry (well-formed UTF-8, no control
    // characters but tab and line ends).
    bool acceptable = false;
    std::vector<plist::Dictionary> dictionaries;
    std::vector<std::string> names;  // cleaned, one per dictionary
};

// Checks the property-list bytes of a drop against the names already listed.
// An empty array is not acceptable (nothing to drop).
DroppedConversions DecodeDroppedConversions(const std::string& bytes,
                                            const std::set<std::string>& taken);

// The conversions of a dropped property list (already checked), each decoded
// and validated against the type table (the given one, else the loaded one).
// A dictionary that does not describe a writable conversion still gives a
// conversion, marked not valid.
ConvSpecList MakeDroppedConversions(const DroppedConversions& dropped,
                                    const plist::Dictionary* typeTable = nullptr);

// The name of the file "Corvane Prefs" in the user's Preferences folder.
std::string LegacyPreferencesPath();

// Reads the conversions of a preferences file of major version 3. That format
// is not read: the answer is always empty, which the import reports as "no
// conversions found".
ConvSpecList legacyConvSpecsFromFile(const QFPath& path);
