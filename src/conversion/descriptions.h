// How a conversion describes itself: the multi-line text at the head of each
// conversion in the log, the one-line summary offered as its automatic name,
// and the display texts of its word length and channel handling.
//
// The texts come from the record, the output type's row of the file-type table
// (its "text" and the popup items of "numBitsPopup" and "channelHandlingPopup")
// and the type's dispatcher (its popup-index and channel log-text rules). The
// ConvSpec members (conv_spec.h) look the row and the dispatcher up; the
// functions here take them as given, either of them may be null. Numbers are
// written in the C locale whatever the user's locale is. Only the record is
// read; a short-lived facade around it is handed to the rules.
#pragma once

#include <string>

#include "conversion/conv_spec.h"
#include "platform/property_list.h"

class SoundFileDispatcher;

// The row of a type in the file-type table; null when there is none.
const plist::Dictionary* FileTypeRow(const plist::Dictionary& typeTable, OSType type);

std::string DescribeConversionForLog(const ConvSpec& spec, const plist::Dictionary* row,
                                     const SoundFileDispatcher* dispatcher);
std::string DescribeConversionForAutoName(const ConvSpec& spec, const plist::Dictionary* row,
                                          const SoundFileDispatcher* dispatcher);
std::string DescribeWordLength(const ConvSpec& spec, const plist::Dictionary* row,
                               const SoundFileDispatcher* dispatcher);
std::string DescribeChannelHandling(const ConvSpec& spec, const plist::Dictionary* row,
                                    const SoundFileDispatcher* dispatcher);
