// The search for the sibling files that form a set with a mono file: split
// pairs (PARIS "-l"/"-r", Sonic ".1"/".2"), numbered sets (".1" up to ".16")
// and the sets of the surround table, each member found in the folder whatever
// the letter case of its name and detected as the same type.
#pragma once

#include <pcre.h>

#include <memory>
#include <string>
#include <vector>

#include "soundfile/sound_file.h"

// A compiled regular expression and its study data, shared read-only.
struct pcre_stuff {
    std::shared_ptr<pcre> compiled;
    std::shared_ptr<pcre_extra> study;  // null when studying gained nothing
};

// The steps of the group search. They throw error_code_exception when a channel
// count cannot be read, the surround table is missing (-43) or a candidate
// member that exists cannot be detected itself.

// The type can be a group member and the file has exactly one channel.
bool ConsiderFileForSplitOrSurround(const std::string& path, unsigned int type);
// The group of one mono file: its configuration, or kMono with members and
// setName empty when it belongs to none.
CSoundFile::ChannelConfiguration GetFilesForChannelConfiguration(const std::string& path,
                                                                 unsigned int type,
                                                                 std::vector<std::string>& members,
                                                                 std::string& setName);
// True when every file named by replacing the path's channel marker with each
// of `names` exists in the folder (letter case aside) and has the type; members
// then lists them in the order of `names`. `patterns` recognise a marker.
bool CompleteSet(const std::string& path, unsigned int type, const std::vector<pcre_stuff>& patterns,
                 const std::vector<std::string>& names, std::vector<std::string>& members);
// True when the file's own number (the one digit at digitPos) lies in a gapless
// run of files numbered from 1 (at most 16) of the type, of at least two files;
// members then lists them in number order.
bool IsNumberedSplitMultichannel(const std::string& path, unsigned int type,
                                 unsigned long digitPos, std::vector<std::string>& members);

// Compiles and studies a pattern (default options); throws when it does not compile.
pcre_stuff MakePattern(const std::string& text);

// Forgets the loaded surround table and its patterns (termination, tests); the
// next group search loads them again.
void ReleaseDetectionTables();
