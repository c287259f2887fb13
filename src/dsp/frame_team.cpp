#include "dsp/frame_team.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {
// Below this many multiply-adds a conversion is over before threads pay off.
std::atomic<uint64_t> gWorkThreshold{uint64_t{1} << 26};
std::atomic<int> gHelpers{-1};  // -1: as many as idle processors allow
constexpr int kMaxHelpers = 3;
// How long a thread waits awake for the next job or for its partners (about
// 2 to 5 microseconds) before it sleeps on the condition variable.
constexpr int kSpins = 50;

void Relax() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

// Spins until done() holds or the spins run out; whether it holds.
template <typename F>
bool SpinUntil(F&& done) {
    for (int i = 0; i < kSpins; ++i) {
        if (done()) return true;
        Relax();
    }
    return done();
}
// Threads of the whole system that are running or ready to run now, less the
// caller itself (the fourth field of /proc/loadavg, "running/total"); 0 when
// it cannot be read.
int RunnableElsewhere() {
    std::FILE* f = std::fopen("/proc/loadavg", "r");
    if (!f) return 0;
    double a = 0, b = 0, c = 0;
    int running = 0, total = 0;
    const int got = std::fscanf(f, "%lf %lf %lf %d/%d", &a, &b, &c, &running, &total);
    std::fclose(f);
    return got == 5 ? running - 1 : 0;
}
}  // namespace

uint64_t FrameTeam::SetWorkThreshold(uint64_t operations) {
    return gWorkThreshold.exchange(operations);
}

int FrameTeam::SetHelpers(int helpers) { return gHelpers.exchange(helpers); }

FrameTeam::FrameTeam(int helpers) {
    threads_.reserve(static_cast<size_t>(std::max(helpers, 0)));
    for (int part = 1; part <= helpers; ++part) threads_.emplace_back([this, part] { Work(part); });
}

FrameTeam::~FrameTeam() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

int FrameTeam::HelpersFor(uint64_t operations) {
    if (operations < gWorkThreshold.load()) return 0;
    if (const int fixed = gHelpers.load(); fixed >= 0) return std::min(fixed, kMaxHelpers);
    // The processors this process may run on, not all the machine has.
    cpu_set_t set;
    CPU_ZERO(&set);
    const int processors =
        sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set)
                                                    : static_cast<int>(std::thread::hardware_concurrency());
    if (processors < 2) return 0;
    // Processors that other work keeps busy right now give a helper nothing
    // but waits: count only the idle ones.
    const int idle = processors - std::max(0, RunnableElsewhere());
    return std::clamp(std::min(idle, processors) - 1, 0, kMaxHelpers);
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
        pending_.store(static_cast<int>(threads_.size()), std::memory_order_relaxed);
        generation_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
    job(context, 0);
    if (SpinUntil([this] { return pending_.load(std::memory_order_acquire) == 0; })) return;
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return pending_.load(std::memory_order_acquire) == 0; });
}

void FrameTeam::Work(int part) {
    uint64_t seen = 0;
    for (;;) {
        const auto moved = [&] {
            return stop_.load(std::memory_order_acquire) ||
                   generation_.load(std::memory_order_acquire) != seen;
        };
        if (!SpinUntil(moved)) {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, moved);
        }
        if (stop_.load(std::memory_order_acquire)) return;
        seen = generation_.load(std::memory_order_acquire);
        job_(context_, part);
        if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            // Under the mutex, so that the owner is either still to check or already waiting.
            std::lock_guard<std::mutex> lock(mutex_);
            finished_.notify_one();
        }
    }
}
