// The file-type table loaded from the resource folder "SoundFileProperties", and
// the name-extension tables built from it.
//
// Each file of the folder describes one type; its name is one leading character
// followed by the four characters of the type code ("_AIFF.plist", "_Mp3 .plist",
// "_ paf.plist"). Files are read in name order, so a later file with the same
// code replaces an earlier one predictably.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "foundation/errors.h"
#include "platform/audio_file_services.h"
#include "platform/property_list.h"
#include "platform/resource_dir.h"
#include "soundfile/sound_file.h"

namespace {

const char* const kSoundFilePropertiesFolder = "SoundFileProperties";
const char* const kMediaLibraryType = "'AVFd'";
const char* const kMp3Type = "'Mp3 '";
const char* const kMpeg4Type = "'Mpg4'";

struct TypeTable {
    std::once_flag once;
    plist::Dictionary table;
};

struct ExtensionTables {
    std::once_flag once;
    std::set<std::string> readable;
    std::map<std::string, std::vector<std::string>> types;  // extension -> quoted codes
    std::set<std::string> known;
};

std::unique_ptr<TypeTable>& Types() {
    static std::unique_ptr<TypeTable> types = std::make_unique<TypeTable>();
    return types;
}

std::unique_ptr<ExtensionTables>& Extensions() {
    static std::unique_ptr<ExtensionTables> extensions = std::make_unique<ExtensionTables>();
    return extensions;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

plist::Dictionary LoadTypeTable() {
    const std::string folder = CSoundFile::GetPathForSoundFileResource(kSoundFilePropertiesFolder);
    plist::Dictionary table;
    for (const std::string& name : FolderEntries(folder)) {
        if (name.size() < 5) continue;
        plist::Value entry = plist::ReadFile(folder + "/" + name);
        if (!entry.isDictionary()) continue;
        const std::string classID = "'" + name.substr(1, 4) + "'";
        entry["classID"] = plist::Value(classID);
        table[classID] = std::move(entry);
    }
    return table;
}

void BuildExtensionTables(ExtensionTables& t) {
    auto add = [&t](const std::string& ext, const std::string& type) {
        t.readable.insert(ext);
        t.types[ext] = {type};
    };
    auto map = [&t](const std::string& ext, const std::string& type) { t.types[ext] = {type}; };

    // What the media library reads.
    for (const std::string& ext : platform::AudioFileReadableExtensions())
        add(ext, kMediaLibraryType);

    // The readable types of the table, in the order of their codes: when two
    // types list the same extension, the later code wins.
    for (const auto& [key, entry] : CSoundFile::GetFileTypeInfo()) {
        const plist::Value* canBeRead = entry.find("canBeRead");
        if (!canBeRead || !canBeRead->asBool()) continue;
        const plist::Value* extensions = entry.find("extensions");
        if (!extensions || !extensions->array()) continue;
        const plist::Value* classID = entry.find("classID");
        const std::string type = classID ? classID->asString(key) : key;
        for (const plist::Value& ext : *extensions->array()) {
            const std::string text = ext.asString();
            if (!text.empty()) add(text, type);
        }
    }

    // Fixed corrections.
    t.readable.erase("wma");
    t.readable.erase("wmv");
    for (const char* ext : {"3gp", "amr", "avi"}) add(ext, kMediaLibraryType);
    map("caf", kMediaLibraryType);
    add("flac", kMediaLibraryType);
    map("m4a", kMpeg4Type);
    add("m4v", kMediaLibraryType);
    map("mov", kMediaLibraryType);
    map("mp1", kMediaLibraryType);
    map("mp3", kMp3Type);
    map("mp4", kMpeg4Type);
    map("mpeg", kMediaLibraryType);
    for (const char* ext : {"mpg", "mp2", "ogg"}) add(ext, kMediaLibraryType);
    // For these, detection decides by the file's contents.
    for (const char* ext : {"aif", "aifc", "aiff", "wav"}) t.types.erase(ext);

    t.known = t.readable;
}

ExtensionTables& BuiltExtensionTables() {
    ExtensionTables& t = *Extensions();
    std::call_once(t.once, [&t] { BuildExtensionTables(t); });
    return t;
}

}  // namespace

plist::Dictionary& CSoundFile::GetFileTypeInfo() {
    TypeTable& t = *Types();
    // A failure (no resource folder) leaves the flag unset, so a later call tries again.
    std::call_once(t.once, [&t] { t.table = LoadTypeTable(); });
    return t.table;
}

std::string CSoundFile::GetPathForSoundFileResource(const std::string& name) {
    const std::string path = platform::ResourcePath(name);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        throw error_code_exception(kFileNotFoundErr, "no resource named '%s' in %s",
                                   name.c_str(), platform::ResourceDir().c_str());
    return path;
}

const std::set<std::string>& CSoundFile::SupportedNameExtensions() {
    return BuiltExtensionTables().readable;
}

const std::set<std::string>& CSoundFile::KnownNameExtensions() {
    return BuiltExtensionTables().known;
}

const std::vector<std::string>* CSoundFile::GetTypesForExtension(const std::string& extension) {
    const ExtensionTables& t = BuiltExtensionTables();
    auto it = t.types.find(extension);
    return it == t.types.end() ? nullptr : &it->second;
}

std::string CSoundFile::GetName(const std::string& path) {
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return name;
    if (KnownNameExtensions().count(name.substr(dot + 1)) == 0) return name;
    name.resize(dot);
    return name;
}

void CSoundFile::ReleaseTypeTables() {
    Extensions() = std::make_unique<ExtensionTables>();
    Types() = std::make_unique<TypeTable>();
}
