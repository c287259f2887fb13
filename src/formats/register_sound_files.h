// The registration of every file type the program reads or writes: one
// SoundFileDispatcher per type code, with the function that makes the type's
// format object and the type's per-output-type setting rules.
#pragma once

#include <vector>

#include "platform/property_list.h"
#include "soundfile/core_audio_types.h"

// Attaches a dispatcher to the entry of each registered code in the type table
// (CSoundFile::GetFileTypeInfo()); a code without an entry gets none. Also makes
// the factory the maker of the coded formats' temporary files. Run on the main
// thread at start-up, before any worker thread reads the registry.
void RegisterSoundFiles(const plist::Dictionary& typeTable);

// The 60 registered codes, in registration order.
const std::vector<OSType>& RegisteredSoundFileTypes();
