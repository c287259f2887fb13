#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// A few worker threads that share the arithmetic of one long computation with
// the thread that owns it. The owner hands out a job of Size() parts; part 0
// runs on the owner, the others on the workers, and Run returns when all of
// them have finished. The workers live as long as the team, so that a block
// costs one wake-up, not a thread start; between jobs that follow each other
// closely they wait a few microseconds awake before they sleep.
class FrameTeam {
public:
    using Job = void (*)(void* context, int part);

    // helpers: worker threads besides the owner (0: the owner does everything).
    explicit FrameTeam(int helpers);
    ~FrameTeam();
    FrameTeam(const FrameTeam&) = delete;
    FrameTeam& operator=(const FrameTeam&) = delete;

    int Size() const { return static_cast<int>(threads_.size()) + 1; }
    void Run(Job job, void* context);

    // Worker threads worth starting for `operations` multiply-adds: none for
    // small jobs, else one less than the processors this process may use that
    // no other work keeps busy at the moment, at most three.
    static int HelpersFor(uint64_t operations);
    // Replaces the smallest job that gets helpers (tests set it to 0); returns
    // the previous value.
    static uint64_t SetWorkThreshold(uint64_t operations);
    // Gives every job that gets helpers this many (at most three), busy
    // processors or not, so that tests run their threads on any machine; -1
    // counts the idle processors again. Returns the previous value.
    static int SetHelpers(int helpers);

private:
    void Work(int part);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    // Written under the mutex before the generation moves on; read by the
    // workers after they see the new generation.
    Job job_ = nullptr;
    void* context_ = nullptr;
    std::atomic<uint64_t> generation_{0};
    std::atomic<int> pending_{0};
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};
