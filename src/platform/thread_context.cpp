#include "platform/thread_context.h"

namespace platform {

namespace {
thread_local ThreadContext* tInstalled = nullptr;
}  // namespace

ThreadContext& CurrentThreadContext() {
    if (tInstalled) return *tInstalled;
    thread_local ThreadContext own;
    return own;
}

ScopedThreadContext::ScopedThreadContext(ThreadContext* context) : saved_(tInstalled) {
    tInstalled = context;
}

ScopedThreadContext::~ScopedThreadContext() { tInstalled = saved_; }

}  // namespace platform
