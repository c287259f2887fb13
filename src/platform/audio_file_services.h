// What the media library can read: its list of readable name extensions and the
// information dictionary (tags) of a file. Backed by FFmpeg's libavformat.
#pragma once

#include <string>
#include <vector>

#include "platform/property_list.h"

namespace platform {

// Name extensions (without dot, lower case) of the fixed list of container
// formats that the media library can read here, each present only when its
// demuxer is available. The order is fixed (sorted). Built once.
const std::vector<std::string>& AudioFileReadableExtensions();

// The file's information dictionary (its tags, plus "approximate duration in
// seconds" when known), or a null value when the file cannot be opened or read.
plist::Value AudioFileInfoDictionary(const std::string& path);

// The demuxers a file may be opened with, as libavformat's "format_whitelist"
// option takes them; with the "file" protocol alone, no playlist, concatenation
// or network input is ever followed.
const char* MediaDemuxerWhitelist();

}  // namespace platform
