#include "platform/media_library.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" {
#include <libavformat/version.h>
#include <libavformat/version_major.h>
#include <libswresample/version.h>
#include <libswresample/version_major.h>
#include <libswscale/version.h>
#include <libswscale/version_major.h>
}

namespace platform::media {

namespace {

// The largest block the media libraries may allocate at once (an audio frame
// or packet is far smaller).
constexpr size_t kMaxAllocation = size_t{64} << 20;

struct Libraries {
    void* format = nullptr;  // with the codecs and utilities it depends on
    void* resample = nullptr;
    void* scale = nullptr;
};

std::string SharedObject(const char* base, int major) {
    return std::string(base) + ".so." + std::to_string(major);
}

const Libraries& Loaded() {
    static const Libraries libraries = [] {
        Libraries l;
        const int flags = RTLD_NOW | RTLD_LOCAL;
        l.format = dlopen(SharedObject("libavformat", LIBAVFORMAT_VERSION_MAJOR).c_str(), flags);
        l.resample =
            dlopen(SharedObject("libswresample", LIBSWRESAMPLE_VERSION_MAJOR).c_str(), flags);
        l.scale = dlopen(SharedObject("libswscale", LIBSWSCALE_VERSION_MAJOR).c_str(), flags);
        if (!l.format || !l.resample || !l.scale) {
            if (l.format) dlclose(l.format);
            if (l.resample) dlclose(l.resample);
            if (l.scale) dlclose(l.scale);
            return Libraries{};
        }
        // No single allocation of the libraries may exceed this: a crafted
        // file's sizes then fail to decode instead of taking the memory.
        using MaxAlloc = void (*)(size_t);
        if (auto limit = reinterpret_cast<MaxAlloc>(dlsym(l.format, "av_max_alloc")))
            limit(kMaxAllocation);
        return l;
    }();
    return libraries;
}

}  // namespace

bool Available() {
    return Loaded().format != nullptr;
}

void* Symbol(const char* name) {
    const Libraries& l = Loaded();
    void* address = nullptr;
    if (l.format) address = dlsym(l.format, name);
    if (!address && l.resample) address = dlsym(l.resample, name);
    if (!address && l.scale) address = dlsym(l.scale, name);
    if (!address) {
        std::fprintf(stderr, "corvane: the media libraries %s %s\n",
                     l.format ? "lack the function" : "are not loaded, yet were called for",
                     name);
        std::abort();
    }
    return address;
}

}  // namespace platform::media
