// The per-thread state of a conversion: what the conversion thread keeps for the
// code it calls (the last error, the frame count of the input, the input's long
// name, the output folder, the conversion record and its facade, the process).
// Each thread reaches its own context through a thread_local pointer; another
// thread (the main thread cancelling a batch) may store the last error through
// a pointer to the context, which is why that one field is atomic.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/property_list.h"

class ConvSpec;

namespace platform {

struct ThreadContext {
    std::atomic<int> lastError{0};          // absent = 0; -128 when the user cancelled
    int64_t numberOfInputSamples = 0;       // the frame count last announced
    std::string longName;                   // the input's long display name
    std::string outputFolder;               // the folder receiving this input's outputs
    void* currentConversion = nullptr;      // the conversion facade in use
    void* process = nullptr;                // the batch driver running on this thread
    std::shared_ptr<ConvSpec> curConvSpec;  // the conversion record the batch driver runs
    plist::Dictionary values;               // further per-run values (mp3 tags, ...)
    bool mpegPaddingRequired = true;        // "Use MPEG Frame Padding" of the conversion
};

// A thread's id as a property-list value (an integer), and back: the id, or
// nothing for a value that is no integer.
plist::Value ThreadIdValue(std::thread::id id);
std::optional<std::thread::id> ThreadIdOf(const plist::Value& value);

// The context of the calling thread: the one installed with ScopedThreadContext,
// else a default context that belongs to the thread.
ThreadContext& CurrentThreadContext();

// Installs a context as the calling thread's for the lifetime of this object.
class ScopedThreadContext {
public:
    explicit ScopedThreadContext(ThreadContext* context);
    ~ScopedThreadContext();
    ScopedThreadContext(const ScopedThreadContext&) = delete;
    ScopedThreadContext& operator=(const ScopedThreadContext&) = delete;

private:
    ThreadContext* saved_;
};

}  // namespace platform
