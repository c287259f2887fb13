#include "playback/thread_object.h"

ThreadObject::ThreadObject(void* object, Function function)
    : function_(function), object_(object), thread_([this] { SThreadProc(); }) {}

ThreadObject::~ThreadObject() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void ThreadObject::Start() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++pending_;
    }
    wake_.notify_one();
}

void ThreadObject::SThreadProc() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || pending_ > 0; });
            if (quit_) return;
            --pending_;
        }
        try {
            function_(object_);
        } catch (...) {
            // A thread entry point lets nothing escape.
        }
    }
}
