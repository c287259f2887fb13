#include "platform/notification_center.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

using platform::Notification;
using platform::NotificationCenter;

namespace {

TEST(NotificationCenter, DeliversInOrderOnThePostingThreadWithFilters) {
    NotificationCenter center;
    int senderA = 0, senderB = 0;
    std::vector<std::string> seen;
    std::thread::id deliveredOn;
    center.AddObserver("Ping", nullptr, [&](const Notification& n) {
        seen.push_back("first " + n.name + " " + std::to_string(n.object.asInteger()));
        deliveredOn = std::this_thread::get_id();
    });
    center.AddObserver("Ping", &senderA, [&](const Notification&) { seen.push_back("fromA"); });
    center.AddObserver("", nullptr, [&](const Notification& n) { seen.push_back("all " + n.name); });
    center.AddObserver("Pong", nullptr, [&](const Notification&) { seen.push_back("pong"); });

    center.Post("Ping", &senderA, plist::Value(5));
    center.Post("Ping", &senderB, plist::Value(6));
    center.Post("Other");

    EXPECT_EQ(seen, (std::vector<std::string>{"first Ping 5", "fromA", "all Ping", "first Ping 6",
                                              "all Ping", "all Other"}));
    EXPECT_EQ(deliveredOn, std::this_thread::get_id());

    // Delivery on another posting thread happens on that thread.
    std::thread::id poster;
    std::thread t([&] {
        poster = std::this_thread::get_id();
        center.Post("Ping", nullptr, plist::Value(1));
    });
    t.join();
    EXPECT_EQ(deliveredOn, poster);
}

TEST(NotificationCenter, RemovedObserversAreNotCalledIncludingSelfRemoval) {
    NotificationCenter center;
    int calls = 0, selfCalls = 0;
    NotificationCenter::Token token = center.AddObserver("N", nullptr, [&](const Notification&) { ++calls; });
    NotificationCenter::Token self = 0;
    self = center.AddObserver("N", nullptr, [&](const Notification&) {
        ++selfCalls;
        center.RemoveObserver(self);  // must not deadlock
    });
    center.Post("N");
    center.RemoveObserver(token);
    center.RemoveObserver(token);  // a second removal is harmless
    center.Post("N");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(selfCalls, 1);
}

TEST(NotificationCenter, RemovalFromAnotherThreadWaitsForARunningCall) {
    NotificationCenter center;
    std::promise<void> entered, release;
    std::shared_future<void> releaseFuture = release.get_future().share();
    std::atomic<int> calls{0};
    NotificationCenter::Token token = center.AddObserver("Work", nullptr, [&](const Notification&) {
        if (calls++ == 0) {
            entered.set_value();
            releaseFuture.wait();
        }
    });
    std::thread poster([&] { center.Post("Work"); });
    entered.get_future().wait();

    std::atomic<bool> removed{false};
    std::thread remover([&] {
        center.RemoveObserver(token);
        removed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(removed.load()) << "RemoveObserver returned while the call was running";
    release.set_value();
    remover.join();
    poster.join();
    EXPECT_TRUE(removed.load());
    center.Post("Work");
    EXPECT_EQ(calls.load(), 1);
}

TEST(NotificationCenter, ConcurrentPostingAndObserverChurn) {
    NotificationCenter center;
    std::atomic<long> delivered{0};
    center.AddObserver("Tick", nullptr, [&](const Notification&) { ++delivered; });
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&] {
            for (int k = 0; k < 2000; ++k) center.Post("Tick", nullptr, plist::Value(k));
        });
    }
    threads.emplace_back([&] {
        while (!stop) {
            auto t = center.AddObserver("Tick", nullptr, [](const Notification&) {});
            center.RemoveObserver(t);
        }
    });
    for (int i = 0; i < 3; ++i) threads[i].join();
    stop = true;
    threads.back().join();
    EXPECT_EQ(delivered.load(), 6000);
}

}  // namespace
