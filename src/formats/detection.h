// Input type detection: for one path, the type code its file is opened under,
// whether the file was recognised, and, for a mono file, the group of mono
// files (split pair, numbered set or surround set) it is one channel of.
//
// The type is settled by the Finder type of the file's sidecar, then by the
// file's first bytes and chunks, then by the name extension, with the raw-file
// settings as the last resort; the group is found by the search of
// channel_sets.h. Detection never changes a file.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "formats/channel_sets.h"
#include "formats/pcm/sonic_file.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"

// The two Finder codes of a file; both 0 when it has no Finder information.
struct FileInfo {
    unsigned int fileType = 0;
    unsigned int fileCreator = 0;
};

// The Sonic Solutions application's signature: the creator code of its files
// and the first four data bytes of their 'APPL' chunk.
constexpr OSType kSonicSignature = FourCC("SSYS");
static_assert(CSonicAIFFFile::sig == "SSYS");

// The whole detection. Fills type, recognized and config; members (full paths in
// channel order, as the folder spells them) and setName only for a group, which
// is looked for only when considerSplit is true. 0 when the type is settled;
// -22008 when the file is not recognised (recognized then false); another code
// when the file cannot be examined. Never throws.
OSErr ResolveFileType(const std::string& path, unsigned int& type, bool& recognized,
                      std::vector<std::string>& members, std::string& setName,
                      CSoundFile::ChannelConfiguration& config, bool considerSplit);

// Family resolvers over the file opened for binary reading and its first 24
// bytes. 0 with the type written; -22008 when the bytes are not of the family
// after all (the name extension then decides); another code ends detection.
OSErr ResolveNeXTSun(const std::string& path, unsigned int& type, const FileInfo* finderInfo,
                     std::ifstream& file, const std::string& header);
OSErr ResolveAIFF(const std::string& path, unsigned int& type, const FileInfo* finderInfo,
                  std::ifstream& file, const std::string& header);
OSErr ResolveWAVE(const std::string& path, unsigned int& type, const FileInfo* finderInfo,
                  std::ifstream& file, const std::string& header);
OSErr ResolveVOC(const std::string& path, unsigned int& type, const FileInfo* finderInfo,
                 std::ifstream& file, const std::string& header);
OSErr ResolveAIFC(const std::string& path, unsigned int& type, const FileInfo* finderInfo,
                  std::ifstream& file, const std::string& header);
// 0 when the resource fork holds the three 'STR ' resources of a Sound Designer
// II file; -22008 when the fork is empty, unreadable or lacks one of them. The
// type is not written. Creates nothing.
OSErr ResolveSD2(const std::string& path, unsigned int& type, const FileInfo* finderInfo);

// The AIFF file has an 'APPL' chunk that begins with kSonicSignature.
bool IsSonicFile(std::ifstream& file);

// The type a candidate member of a group is detected as, by the whole
// detection without a group search of its own; throws error_code_exception
// when the candidate cannot be detected.
unsigned int DetectMemberType(const std::string& path);
