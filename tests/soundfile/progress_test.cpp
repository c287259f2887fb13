#include "soundfile/progress.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/notification_center.h"
#include "platform/thread_context.h"

using platform::Notification;
using platform::NotificationCenter;

namespace {

// Records every progress notification posted while it lives.
class Recorder {
public:
    Recorder() {
        for (const char* name : {ProgressNumSampleFrames, ProgressPosition, ProgressPercentage,
                                 ProgressNumChannels, ProgressChannel, ProgressNumSteps,
                                 ProgressStep, ProgressRegion}) {
            tokens_.push_back(NotificationCenter::Default().AddObserver(
                name, nullptr, [this](const Notification& n) {
                    seen.push_back(n);
                    threads.push_back(std::this_thread::get_id());
                }));
        }
    }
    ~Recorder() {
        for (auto t : tokens_) NotificationCenter::Default().RemoveObserver(t);
    }
    std::vector<Notification> seen;
    std::vector<std::thread::id> threads;

private:
    std::vector<NotificationCenter::Token> tokens_;
};

// Each test runs in a fresh context of its own.
class Progress : public ::testing::Test {
protected:
    platform::ThreadContext context;
    platform::ScopedThreadContext scope{&context};
};

TEST_F(Progress, EachFunctionPostsItsPayloadOnTheCallingThread) {
    Recorder r;
    SetProgressNumSampleFrames(1000);
    SetProgressPosition(12);
    SetProgressPercentage(50);
    SetProgressNumChannels(2);
    SetProgressChannel(1, 2);
    SetProgressNumSteps(3);
    const unsigned char scanning[] = "\x0DScanning file";
    SetProgressStepWithoutSRC(scanning, 1);
    const unsigned char encoding[] = "\x0C" "encoding to\x8A";  // Mac Roman a-umlaut
    SetProgressStep(encoding, 0, 0.5);
    const unsigned char region[] = "\x04Solo";
    SetProgressCurRegionName(region, 10, 20, 1, 4);

    ASSERT_EQ(r.seen.size(), 9u);
    for (auto id : r.threads) EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_EQ(r.seen[0].name, "ProgressNumSampleFrames");
    EXPECT_EQ(r.seen[0].object.asInteger(), 1000);
    EXPECT_EQ(r.seen[1].name, "ProgressPosition");
    EXPECT_EQ(r.seen[1].object.asInteger(), 12);
    EXPECT_EQ(r.seen[2].name, "ProgressPercentage");
    EXPECT_EQ(r.seen[2].object.asInteger(), 50);
    EXPECT_EQ(r.seen[3].name, "ProgressNumChannels");
    EXPECT_EQ(r.seen[3].object.asInteger(), 2);
    EXPECT_EQ(r.seen[4].name, "ProgressChannel");
    EXPECT_EQ(r.seen[4].object, plist::Value(plist::Array{plist::Value(1), plist::Value(2)}));
    EXPECT_EQ(r.seen[5].name, "ProgressNumSteps");
    EXPECT_EQ(r.seen[5].object.asInteger(), 3);
    EXPECT_EQ(r.seen[6].name, "ProgressStep");
    EXPECT_EQ(r.seen[6].object,
              plist::Value(plist::Array{plist::Value("Scanning file"), plist::Value(1)}));
    EXPECT_EQ(r.seen[7].object, plist::Value(plist::Array{plist::Value("encoding to\xC3\xA4"),
                                                          plist::Value(0), plist::Value(0.5)}));
    EXPECT_EQ(r.seen[7].object.array()->at(2).type(), plist::Value::Type::Real);
    EXPECT_EQ(r.seen[8].name, "ProgressRegion");
    EXPECT_EQ(r.seen[8].object,
              plist::Value(plist::Array{plist::Value("Solo"), plist::Value(10), plist::Value(20),
                                        plist::Value(1), plist::Value(4)}));
}

TEST_F(Progress, FrameCountIsStoredEvenWhenZeroAndLastErrorIsReturned) {
    SetProgressNumSampleFrames(5);
    EXPECT_EQ(context.numberOfInputSamples, 5);
    Recorder r;
    SetProgressNumSampleFrames(0);
    ASSERT_EQ(r.seen.size(), 1u);
    EXPECT_EQ(r.seen[0].object.asInteger(), 0);
    EXPECT_EQ(GetNumInSamples(), 0);

    EXPECT_EQ(SetProgressPosition(1), 0);
    EXPECT_EQ(SetProgressPercentage(1), 0);
    EXPECT_EQ(GetLastError(), 0);
    context.lastError = -128;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(SetProgressPosition(i), -128);
        EXPECT_EQ(SetProgressPercentage(i), -128);
    }
    EXPECT_EQ(GetLastError(), -128);
}

TEST(ProgressCancel, CancelFromTheMainThreadStopsAWorkerLoop) {
    platform::ThreadContext context;  // the conversion thread's
    std::atomic<bool> started{false};
    OSErr result = 0;
    long blocks = 0;
    std::thread worker([&] {
        platform::ScopedThreadContext scope(&context);
        started = true;
        while ((result = SetProgressPosition(static_cast<int>(blocks))) == 0) ++blocks;
    });
    while (!started) std::this_thread::yield();
    context.lastError.store(kUserCanceledErr);  // what setShouldStop stores
    worker.join();
    EXPECT_EQ(result, -128);
    // The main thread's own context is untouched.
    EXPECT_EQ(GetLastError(), 0);
}

TEST(CorvaOutFileRecord, RecordsInOrderIgnoresEmptyAndHandsOutCopies) {
    CorvaOutFile::Init();
    CorvaOutFile::Clear();
    CorvaOutFile::AddFile("/out/Conv/.CorvaOutFile.L");
    CorvaOutFile::AddFile("");
    CorvaOutFile::AddFile("/out/Conv/.CorvaOutFile.R");
    std::vector<std::string> copy = CorvaOutFile::OutputFiles();
    EXPECT_EQ(copy, (std::vector<std::string>{"/out/Conv/.CorvaOutFile.L",
                                              "/out/Conv/.CorvaOutFile.R"}));
    CorvaOutFile::Clear();
    EXPECT_EQ(copy.size(), 2u);
    EXPECT_TRUE(CorvaOutFile::OutputFiles().empty());
    CorvaOutFile::AddFile("/x");
    CorvaOutFile::Cleanup();
    EXPECT_TRUE(CorvaOutFile::OutputFiles().empty());
}

// A placeholder carries this machine's tag before the process id, and is found
// wherever it stands in a name; a name without a whole tag holds none.
TEST(CorvaOutFileRecord, PlaceholdersCarryTheMachineTagAndAreFoundByIt) {
    const std::string& tag = MachineTag();
    EXPECT_TRUE(IsMachineTag(tag)) << tag;
    EXPECT_EQ(&MachineTag(), &tag);
    const std::string made = CorvaOutFile::NewPlaceholderName();
    EXPECT_EQ(made, ".CorvaOutFile-" + tag + "-" + std::to_string(::getpid()) + "-" +
                        std::to_string(CorvaOutFile::LastPlaceholderNumber()));
    size_t at = 9, length = 0;
    int64_t pid = 0;
    uint64_t number = 0;
    std::string found;
    ASSERT_TRUE(CorvaOutFile::FindPlaceholder("Take" + made + ".L.aif", &at, &length, &pid, &number,
                                              &found));
    EXPECT_EQ(at, 4u);
    EXPECT_EQ(length, made.size());
    EXPECT_EQ(pid, ::getpid());
    EXPECT_EQ(number, CorvaOutFile::LastPlaceholderNumber());
    EXPECT_EQ(found, tag);
    for (const char* name : {".CorvaOutFile-4242-1.aif", ".CorvaOutFile-0123ABCD-4242-1.aif",
                             ".CorvaOutFile-0123abc-4242-1.aif", ".CorvaOutFile-0123abcd-4242.aif",
                             ".CorvaOutFile-0123abcd-4242-1x.aif"})
        EXPECT_FALSE(CorvaOutFile::FindPlaceholder(name, &at, &length)) << name;
}

}  // namespace
