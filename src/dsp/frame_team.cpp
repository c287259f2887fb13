#include "dsp/frame_team.h"

#include <sched.h>

#include <algorithm>
#include <atomic>

namespace {
// Below this many multiply-adds a conversion is over before threads pay off.
std::atomic<uint64_t> gWorkThreshold{uint64_t{1} << 26};
constexpr int kMaxHelpers = 3;
}  // namespace

uint64_t FrameTeam::SetWorkThreshold(uint64_t operations) {
    return gWorkThreshold.exchange(operations);
}

FrameTeam::FrameTeam(int helpers) {
    threads_.reserve(static_cast<size_t>(std::max(helpers, 0)));
    for (int part = 1; part <= helpers; ++part) threads_.emplace_back([this, part] { Work(part); });
}

FrameTeam::~FrameTeam() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

int FrameTeam::HelpersFor(uint64_t operations) {
    if (operations < gWorkThreshold.load()) return 0;
    // The processors this process may run on, not all the machine has.
    cpu_set_t set;
    CPU_ZERO(&set);
    const int processors =
        sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set)
                                                    : static_cast<int>(std::thread::hardware_concurrency());
    if (processors < 2) return 0;
    return std::min(processors - 1, kMaxHelpers);
}

void FrameTeam::Run(Job job, void* context) {
    if (threads_.empty()) {
        job(context, 0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = job;
        context_ = context;
        pending_ = static_cast<int>(threads_.size());
        ++generation_;
    }
    wake_.notify_all();
    job(context, 0);
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return pending_ == 0; });
}

void FrameTeam::Work(int part) {
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
        if (stop_) return;
        seen = generation_;
        const Job job = job_;
        void* const context = context_;
        lock.unlock();
        job(context, part);
        lock.lock();
        if (--pending_ == 0) finished_.notify_one();
    }
}
