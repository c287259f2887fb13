// What the media library can read: its list of readable name extensions and the
// information dictionary (tags) of a file. Backed by FFmpeg's libavformat.
#pragma once

#include <string>
#include <vector>

#include "platform/property_list.h"

namespace platform {

// Name extensions (without dot, lower case) of the fixed list of container
// formats that the media library reads, sorted. The list is known without
// loading the library (which a batch of plain files never needs); a file whose
// demuxer this system's library lacks fails when it is opened.
const std::vector<std::string>& AudioFileReadableExtensions();

// The file's information dictionary (its tags, plus "approximate duration in
// seconds" when known), or a null value when the file cannot be opened or read
// or the media library is missing.
plist::Value AudioFileInfoDictionary(const std::string& path);

// The demuxers a file may be opened with, as libavformat's "format_whitelist"
// option takes them; with the "file" protocol alone, no playlist, concatenation
// or network input is ever followed.
const char* MediaDemuxerWhitelist();

}  // namespace platform
