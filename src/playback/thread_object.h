// A worker thread that runs one function each time it is woken. Wakes are
// counted per instance, so none is lost and none reaches another instance; the
// destructor ends the thread and waits for it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class ThreadObject {
public:
    using Function = void* (*)(void*);

    // Starts the thread; `function` runs with `object` once per Start.
    ThreadObject(void* object, Function function);
    // Sets the quit flag, wakes the thread and joins it; a wake still pending is
    // not run. Never call it from the thread itself.
    ~ThreadObject();
    ThreadObject(const ThreadObject&) = delete;
    ThreadObject& operator=(const ThreadObject&) = delete;

    // Wakes the thread once.
    void Start();

private:
    void SThreadProc();

    std::mutex mutex_;
    std::condition_variable wake_;
    uint64_t pending_ = 0;  // guarded by mutex_
    bool quit_ = false;     // guarded by mutex_
    Function function_;
    void* object_;
    std::thread thread_;
};
