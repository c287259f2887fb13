#include "foundation/memory.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/errors.h"

void* alloc(size_t size) { return std::malloc(size ? size : 1); }

void* alloc_clear(size_t size) { return std::calloc(size ? size : 1, 1); }

void dealloc(void* block) { std::free(block); }

namespace {
// The master pointer comes first, so that a Handle points at it.
struct HandleBlock {
    char* data;
    size_t size;
};
}  // namespace

static Handle NewHandleBlock(size_t size, bool clear) {
    auto* hb = static_cast<HandleBlock*>(std::malloc(sizeof(HandleBlock)));
    char* data = static_cast<char*>(clear ? std::calloc(size ? size : 1, 1)
                                          : std::malloc(size ? size : 1));
    if (!hb || !data) {
        std::free(hb);
        std::free(data);
        SetPlatformMemError(-108);
        return nullptr;
    }
    hb->data = data;
    hb->size = size;
    SetPlatformMemError(0);
    return &hb->data;
}

Handle allocH(size_t size) { return NewHandleBlock(size, false); }

Handle allocH_clear(size_t size) { return NewHandleBlock(size, true); }

void deallocH(Handle h) {
    if (!h) return;
    auto* hb = reinterpret_cast<HandleBlock*>(h);
    std::free(hb->data);
    std::free(hb);
}

size_t GetHandleSize(Handle h) { return h ? reinterpret_cast<HandleBlock*>(h)->size : 0; }

bool SetHandleSize(Handle h, size_t size) {
    if (!h) return false;
    auto* hb = reinterpret_cast<HandleBlock*>(h);
    char* data = static_cast<char*>(std::realloc(hb->data, size ? size : 1));
    if (!data) {
        SetPlatformMemError(-108);
        return false;
    }
    if (size > hb->size) std::memset(data + hb->size, 0, size - hb->size);
    hb->data = data;
    hb->size = size;
    SetPlatformMemError(0);
    return true;
}
