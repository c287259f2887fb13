#include "platform/audio_file_services.h"

#include "platform/media_extensions.h"
#include "platform/media_library.h"

#include <algorithm>
#include <charconv>
#include <mutex>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

namespace platform {

namespace {

// The sound-file extensions and demuxers of the installed media library,
// listed when this program was built (scripts/gen_media_extensions.cpp).
using generated::kMediaDemuxers;
using generated::kMediaExtensions;

void QuietMediaLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// FFmpeg's tag names -> the names of the information dictionary.
std::string InfoKey(std::string key) {
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    if (key == "date") return "year";
    if (key == "comment") return "comments";
    if (key == "track") return "track number";
    if (key == "encoder") return "encoding application";
    return key;
}

void AddTags(const AVDictionary* tags, plist::Dictionary& info) {
    const AVDictionaryEntry* e = nullptr;
    while ((e = av_dict_get(tags, "", e, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
        if (!e->key || !e->value || !*e->key) continue;
        std::string key = InfoKey(e->key);
        if (info.find(key) == info.end()) info[key] = plist::Value(std::string(e->value));
    }
}

struct InputHolder {
    AVFormatContext* ctx = nullptr;
    ~InputHolder() {
        if (ctx) avformat_close_input(&ctx);
    }
};

}  // namespace

const char* MediaDemuxerWhitelist() {
    return kMediaDemuxers;
}

const std::vector<std::string>& AudioFileReadableExtensions() {
    static const std::vector<std::string> list = [] {
        std::vector<std::string> out;
        for (const auto& entry : kMediaExtensions) out.emplace_back(entry.extension);
        std::sort(out.begin(), out.end());
        return out;
    }();
    return list;
}

plist::Value AudioFileInfoDictionary(const std::string& path) {
    if (path.empty() || !media::Available()) return plist::Value();
    QuietMediaLibrary();
    InputHolder input;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", kMediaDemuxers, 0);
    // The "file:" prefix keeps a colon in the path from naming another protocol.
    std::string url = "file:" + path;
    int rc = avformat_open_input(&input.ctx, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (rc < 0 || !input.ctx) {
        input.ctx = nullptr;
        return plist::Value();
    }
    if (avformat_find_stream_info(input.ctx, nullptr) < 0) return plist::Value();
    int stream = av_find_best_stream(input.ctx, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream < 0) return plist::Value();

    plist::Dictionary info;
    AddTags(input.ctx->metadata, info);
    AddTags(input.ctx->streams[stream]->metadata, info);

    double seconds = -1;
    if (input.ctx->duration != AV_NOPTS_VALUE && input.ctx->duration >= 0) {
        seconds = static_cast<double>(input.ctx->duration) / AV_TIME_BASE;
    } else {
        const AVStream* s = input.ctx->streams[stream];
        if (s->duration != AV_NOPTS_VALUE && s->duration >= 0 && s->time_base.den > 0)
            seconds = static_cast<double>(s->duration) * s->time_base.num / s->time_base.den;
    }
    if (seconds >= 0) {
        char buf[64];
        auto res = std::to_chars(buf, buf + sizeof buf, seconds, std::chars_format::fixed, 3);
        if (res.ec == std::errc()) info["approximate duration in seconds"] =
            plist::Value(std::string(buf, res.ptr));
    }
    return plist::Value(std::move(info));
}

}  // namespace platform
