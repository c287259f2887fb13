// What the media library can read: its list of readable name extensions and the
// information dictionary (tags) of a file. Backed by FFmpeg's libavformat.
#pragma once

#include <string>
#include <vector>

#include "platform/property_list.h"

namespace platform {

// Name extensions (without dot, lower case) of the sound files that the media
// library reads, sorted: those of its sound-file demuxers, listed from the
// installed library when this program was built, so that they are known
// without loading it (which a batch of plain files never needs). Extensions of
// video containers and those of formats this system reads itself are left
// out; a file whose demuxer the library in use lacks fails when it is opened.
const std::vector<std::string>& AudioFileReadableExtensions();

// The file's information dictionary (its tags, plus "approximate duration in
// seconds" when known), or a null value when the file cannot be opened or read
// or the media library is missing.
plist::Value AudioFileInfoDictionary(const std::string& path);

// The demuxers a file may be opened with, as libavformat's "format_whitelist"
// option takes them: those of the extensions above, and those of the formats
// detection hands over by their contents (compressed AIFC and WAVE, CAF,
// NeXT/Sun, AVI, MPEG program streams). With the "file" protocol alone, no
// playlist, concatenation or network input is ever followed.
const char* MediaDemuxerWhitelist();

}  // namespace platform
