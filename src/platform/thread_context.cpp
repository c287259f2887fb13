#include "platform/thread_context.h"

#include <bit>
#include <type_traits>

namespace platform {

namespace {
thread_local ThreadContext* tInstalled = nullptr;
// A thread id is kept bit for bit in the integer.
static_assert(std::is_trivially_copyable_v<std::thread::id>);
static_assert(sizeof(std::thread::id) == sizeof(int64_t));

}  // namespace

plist::Value ThreadIdValue(std::thread::id id) {
    return plist::Value(static_cast<long long>(std::bit_cast<int64_t>(id)));
}

std::optional<std::thread::id> ThreadIdOf(const plist::Value& value) {
    if (value.type() != plist::Value::Type::Integer) return std::nullopt;
    return std::bit_cast<std::thread::id>(value.asInteger());
}

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
