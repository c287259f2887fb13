// Feeds arbitrary bytes to the resource-map parser and the sidecar parser. What
// parses must write out and parse back to the same resources.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "foundation/resource_fork.h"

namespace {

std::vector<const ResourceEntry*> Sorted(const ResourceFork& fork) {
    std::vector<const ResourceEntry*> v;
    for (const ResourceEntry& e : fork.entries()) v.push_back(&e);
    std::sort(v.begin(), v.end(), [](const ResourceEntry* a, const ResourceEntry* b) {
        return std::tie(a->type, a->id) < std::tie(b->type, b->id);
    });
    return v;
}

void CheckFork(const uint8_t* data, size_t size) {
    ResourceFork fork;
    OSErr err = ResourceFork::Parse(data, size, &fork);
    if (err != 0) {
        if (err != kMapReadErr && err != kEOFErr) std::abort();
        if (!fork.empty()) std::abort();
        return;
    }
    std::vector<uint8_t> bytes;
    if (fork.Serialize(&bytes) != 0) return;
    ResourceFork again;
    if (ResourceFork::Parse(bytes.data(), bytes.size(), &again) != 0) std::abort();
    auto a = Sorted(fork), b = Sorted(again);
    if (a.size() != b.size() || fork.attributes != again.attributes) std::abort();
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i]->type != b[i]->type || a[i]->id != b[i]->id || a[i]->name != b[i]->name ||
            a[i]->attributes != b[i]->attributes || a[i]->data != b[i]->data)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckFork(data, size);

    AppleDouble sidecar;
    bool raw = false;
    OSErr err = ParseSidecar(data, size, &sidecar, &raw);
    if (err != 0) {
        if (err != kMapReadErr) std::abort();
        return 0;
    }
    std::vector<uint8_t> bytes = SerializeSidecar(sidecar);
    AppleDouble again;
    if (ParseSidecar(bytes.data(), bytes.size(), &again) != 0) std::abort();
    for (const AppleDoubleEntry& e : sidecar.entries) {
        const AppleDoubleEntry* found = again.Find(e.id);
        if (!found || found->bytes != e.bytes) std::abort();
    }
    if (!raw) {
        if (const AppleDoubleEntry* fork = sidecar.Find(kAppleDoubleResourceFork))
            CheckFork(fork->bytes.data(), fork->bytes.size());
    }
    return 0;
}
