#include "platform/thread_context.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using platform::CurrentThreadContext;
using platform::ScopedThreadContext;
using platform::ThreadContext;

namespace {

TEST(ThreadContext, EachThreadHasItsOwn) {
    CurrentThreadContext().lastError = -50;
    CurrentThreadContext().longName = "main";
    int otherError = 1;
    std::string otherName = "unset";
    std::thread t([&] {
        otherError = CurrentThreadContext().lastError;
        otherName = CurrentThreadContext().longName;
        CurrentThreadContext().lastError = -39;
    });
    t.join();
    EXPECT_EQ(otherError, 0);
    EXPECT_EQ(otherName, "");
    EXPECT_EQ(CurrentThreadContext().lastError, -50);
    CurrentThreadContext().lastError = 0;
    CurrentThreadContext().longName.clear();
}

TEST(ThreadContext, ScopedContextsNestAndRestore) {
    ThreadContext* own = &CurrentThreadContext();
    ThreadContext outer, inner;
    {
        ScopedThreadContext a(&outer);
        EXPECT_EQ(&CurrentThreadContext(), &outer);
        {
            ScopedThreadContext b(&inner);
            EXPECT_EQ(&CurrentThreadContext(), &inner);
            CurrentThreadContext().numberOfInputSamples = 42;
        }
        EXPECT_EQ(&CurrentThreadContext(), &outer);
    }
    EXPECT_EQ(&CurrentThreadContext(), own);
    EXPECT_EQ(inner.numberOfInputSamples, 42);
    EXPECT_EQ(outer.numberOfInputSamples, 0);
}

TEST(ThreadContext, CancelStoredFromAnotherThreadIsSeenByTheWorker) {
    ThreadContext context;
    std::atomic<bool> running{false};
    int seen = 0;
    std::thread worker([&] {
        ScopedThreadContext scope(&context);
        running = true;
        while ((seen = CurrentThreadContext().lastError.load()) == 0) std::this_thread::yield();
    });
    while (!running) std::this_thread::yield();
    context.lastError.store(-128);  // what the main thread does on Cancel
    worker.join();
    EXPECT_EQ(seen, -128);
}

TEST(ThreadContext, AThreadIdSurvivesItsPropertyListForm) {
    std::thread::id other;
    std::thread t([&] { other = std::this_thread::get_id(); });
    t.join();
    for (std::thread::id id : {std::this_thread::get_id(), other, std::thread::id()}) {
        const plist::Value v = platform::ThreadIdValue(id);
        EXPECT_EQ(platform::ThreadIdOf(v), id);
        // Also through a stored property list, as a notification's values may go.
        for (plist::Format format : {plist::Format::Xml, plist::Format::Binary})
            EXPECT_EQ(platform::ThreadIdOf(plist::Parse(plist::Serialize(v, format))), id);
    }
    EXPECT_NE(platform::ThreadIdValue(other), platform::ThreadIdValue(std::this_thread::get_id()));
    for (const plist::Value& v : {plist::Value(), plist::Value("1"), plist::Value(1.0)})
        EXPECT_FALSE(platform::ThreadIdOf(v).has_value());
}

}  // namespace
