// Plain and relocatable memory blocks. Every allocation is checked by its caller
// with MyMemError(block, 1); a block has one owner, which frees it.
#pragma once

#include <cstddef>

typedef char** Handle;

void* alloc(size_t size);
void* alloc_clear(size_t size);
void dealloc(void* block);

// A relocatable block: *h is the data. Sets the thread's memory error (-108 on failure).
Handle allocH(size_t size);
Handle allocH_clear(size_t size);
void deallocH(Handle h);
size_t GetHandleSize(Handle h);
// Resizes a relocatable block, keeping its contents; false when memory is exhausted.
bool SetHandleSize(Handle h, size_t size);
