// Writes the list of sound-file name extensions that the installed media
// library reads, and the demuxers a file may be opened with, as a C++ header
// (run by the build: gen_media_extensions OUTPUT). The program itself never
// links the media library, so the list must be known before it is loaded.
//
// The extensions are those the library gives its sound-file demuxers and the
// sound-only muxers whose files they read back, less those that name other
// kinds of file and those this system's own readers decide by their contents.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// A demuxer whose files hold sound, the muxers besides its namesake whose
// files it reads, and extensions in common use that the library does not list.
struct SoundDemuxer {
    const char* demuxer;
    const char* writers;
    const char* extras;
};
constexpr SoundDemuxer kSoundDemuxers[] = {
    {"aac", "adts", ""},           {"ac3", "", ""},     {"amr", "", ""},
    {"ape", "", ""},               {"dts", "", ""},     {"eac3", "", "ec3"},
    {"flac", "", ""},              {"matroska", "", ""}, {"mlp", "", ""},
    {"mov", "", "m4r"},            {"mp3", "mp2", "mp1"}, {"mpc", "", ""},
    {"mpc8", "", ""},              {"ogg", "oga,opus,spx", ""}, {"shn", "", ""},
    {"tak", "", ""},               {"truehd", "", ""},  {"tta", "", ""},
    {"w64", "", ""},               {"wv", "", ""},
};

// Demuxers that detection hands files to by their contents (compressed AIFC
// and WAVE, CAF, NeXT/Sun, AVI, MPEG program streams): allowed to open a file,
// never offered by extension.
constexpr const char* kContentsOnly[] = {"aiff", "au", "avi", "caf", "mpeg", "wav"};

// Extensions of the demuxers above that name files other than sound files:
// video and subtitle containers, streaming manifests, links, images.
constexpr const char* kNotSound[] = {"apl", "avif", "f4v", "ism", "ismv", "m4v", "mac",
                                     "mj2", "mk3d", "mks", "mkv", "mov", "psp"};

// Extensions this system's own readers own: their files are told apart by
// their contents first, and by extension they go to those readers.
constexpr const char* kOwnReaders[] = {"8svx", "afc", "aif", "aifc", "aiff", "au", "avr", "caf",
                                       "iff",  "paf", "sd2", "snd", "voc", "wav", "wave"};

std::vector<std::string> Split(const char* list) {
    std::vector<std::string> out;
    std::string item;
    std::istringstream in(list ? list : "");
    while (std::getline(in, item, ','))
        if (!item.empty()) out.push_back(item);
    return out;
}

// The library's name of a demuxer or muxer: the first of its comma-separated names.
std::string FirstName(const char* names) {
    const std::vector<std::string> all = Split(names);
    return all.empty() ? std::string() : all.front();
}

template <size_t N>
bool Listed(const char* const (&list)[N], const std::string& s) {
    return std::find_if(std::begin(list), std::end(list),
                        [&s](const char* e) { return s == e; }) != std::end(list);
}

// A muxer that writes sound alone: a sound MIME type, or no stream but sound.
bool WritesSoundOnly(const AVOutputFormat* muxer) {
    if (muxer->mime_type && std::strncmp(muxer->mime_type, "audio/", 6) == 0) return true;
    return muxer->audio_codec != AV_CODEC_ID_NONE && muxer->video_codec == AV_CODEC_ID_NONE &&
           muxer->subtitle_codec == AV_CODEC_ID_NONE;
}

bool ValidExtension(const std::string& ext) {
    return !ext.empty() && ext.size() <= 8 &&
           std::all_of(ext.begin(), ext.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
           });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_media_extensions OUTPUT\n");
        return 2;
    }
    std::map<std::string, const AVInputFormat*> demuxers;
    void* at = nullptr;
    while (const AVInputFormat* d = av_demuxer_iterate(&at)) demuxers.emplace(FirstName(d->name), d);
    std::multimap<std::string, const AVOutputFormat*> muxers;
    at = nullptr;
    while (const AVOutputFormat* m = av_muxer_iterate(&at)) muxers.emplace(FirstName(m->name), m);

    std::map<std::string, std::string> extensions;  // extension -> demuxer
    std::set<std::string> allowed;
    auto offer = [&extensions](const std::string& ext, const std::string& demuxer) {
        if (ValidExtension(ext) && !Listed(kNotSound, ext) && !Listed(kOwnReaders, ext))
            extensions.emplace(ext, demuxer);
    };
    for (const SoundDemuxer& s : kSoundDemuxers) {
        const auto found = demuxers.find(s.demuxer);
        if (found == demuxers.end()) continue;
        allowed.insert(s.demuxer);
        for (const std::string& ext : Split(found->second->extensions)) offer(ext, s.demuxer);
        std::vector<std::string> writers = Split(s.writers);
        writers.push_back(s.demuxer);
        for (const std::string& writer : writers) {
            const auto [from, to] = muxers.equal_range(writer);
            for (auto m = from; m != to; ++m)
                if (WritesSoundOnly(m->second))
                    for (const std::string& ext : Split(m->second->extensions)) offer(ext, s.demuxer);
        }
        for (const std::string& ext : Split(s.extras)) offer(ext, s.demuxer);
    }
    for (const char* name : kContentsOnly)
        if (demuxers.count(name)) allowed.insert(name);

    std::ostringstream out;
    out << "// Generated by scripts/gen_media_extensions.cpp from libavformat "
        << LIBAVFORMAT_IDENT << ";\n"
        << "// the build writes it again when the generator or the library changes.\n"
        << "#pragma once\n\n"
        << "namespace platform::generated {\n\n"
        << "struct MediaExtension {\n"
        << "    const char* extension;\n"
        << "    const char* demuxer;\n"
        << "};\n\n"
        << "// Sorted by extension.\n"
        << "inline constexpr MediaExtension kMediaExtensions[] = {\n";
    for (const auto& [ext, demuxer] : extensions)
        out << "    {\"" << ext << "\", \"" << demuxer << "\"},\n";
    out << "};\n\n"
        << "inline constexpr const char* kMediaDemuxers = \"";
    bool first = true;
    for (const std::string& name : allowed) {
        out << (first ? "" : ",") << name;
        first = false;
    }
    out << "\";\n\n"
        << "}  // namespace platform::generated\n";

    if (extensions.empty()) {
        std::fprintf(stderr, "gen_media_extensions: the media library offers no sound demuxer\n");
        return 1;
    }
    std::ofstream file(argv[1], std::ios::trunc);
    file << out.str();
    file.close();
    if (!file) {
        std::fprintf(stderr, "gen_media_extensions: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
