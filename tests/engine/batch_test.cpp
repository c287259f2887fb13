// Whole batches over trees made with sox, through Run000 (the stand-in where a
// run is made to fail): the output tree mirrors the inputs in every
// conversion's folder, notifications come in order, folder walks end and never
// enter the output, cancels and failures leave no placeholder and change no
// input, and outputs are renamed by the rules for taken names, with the
// input's comment.
#include <unistd.h>

#include <chrono>
#include <future>
#include <stdexcept>

#include "engine_test_support.h"
#include "foundation/finder_comment.h"
#include "soundfile/sample_conversion.h"

namespace enginetest {
namespace {

TEST_F(EngineTest, OutputTreeMirrorsTheInputsInEveryConversionFolder) {
    Sox(in + "/A/x.wav");
    Sox(in + "/A/B/y.aiff", "-r 22050 -c 1 -b 16");
    testsupport::WriteFile(in + "/A/notes.txt", "not a sound");
    testsupport::WriteFile(in + "/A/.DS_Store", "hidden");
    testsupport::WriteFile(in + "/A/._x.wav", "sidecar");
    Sox(in + "/single.wav", "-r 8000 -c 1 -b 8");
    const auto before = Contents(in);
    FreeDitherTable();

    ASSERT_EQ(
        Run({in + "/A", in + "/single.wav"},
            {Conversion("One"), Conversion("Two", [](ConvSpec& c) { c.setNeedsRedither(true); })}),
        0);
    EXPECT_NE(gDitherTable, nullptr);
    Strings expected;
    for (std::string c : {"One", "Two"})
        for (std::string p : {"", "/A", "/A/B", "/A/B/y.aif", "/A/x.aif", "/single.aif"})
            expected.push_back(c + p);
    EXPECT_EQ(Tree(out), expected);
    EXPECT_EQ(Contents(in), before);
    Strings order = {"Start"};
    for (int conversion = 0; conversion < 2; ++conversion)
        order.insert(order.end(),
                     {"Header", "Success y.aiff", "Success x.wav", "Success single.wav", "Footer"});
    order.push_back("Done");
    EXPECT_EQ(Names(), order);
    EXPECT_EQ(posted.front().values.find(kTotalConversionsKey)->asInteger(), 4);
    // Every file handed over counts, skipped ones too; the count restarts per conversion.
    const ConversionProcess::Progress last = process.takeProgress();
    EXPECT_EQ(last.curConv, 2);
    EXPECT_EQ(last.curFile, 6);
    EXPECT_EQ(last.curSampleFrames, 800);
    EXPECT_TRUE(last.numSampleFramesChanged && last.fileChanged && !last.running);
}

TEST_F(EngineTest, FolderWalkIsByteOrderedEndsOnLinksAndSkipsTheOutputFolder) {
    for (std::string name : {"b.wav", "B.wav", "_c.wav"}) Sox(in + "/A/" + name);
    ASSERT_EQ(::symlink("..", (in + "/A/up").c_str()), 0);
    ASSERT_EQ(::symlink(".", (in + "/A/here").c_str()), 0);
    const std::string inner = in + "/A/zout";
    fs::create_directories(inner);
    ASSERT_EQ(RunBatch(process, {in + "/A"}, {Conversion("One")}, inner), 0);
    // "up" leads to the folder holding A, whose A is already being walked.
    EXPECT_EQ(Tree(inner),
              (Strings{"One", "One/A", "One/A/B.aif", "One/A/_c.aif", "One/A/b.aif", "One/A/up"}));
    EXPECT_EQ(Names(), (Strings{"Start", "Header", "Success B.wav", "Success _c.wav",
                                "Success b.wav", "Footer", "Done"}));
}

TEST_F(EngineTest, ASnippedInputGivesItsWindowAndAnInvertedWindowFails) {
    Sox(in + "/a.wav", "-r 8000 -c 1 -b 16");  // 800 frames
    struct Row {
        float from, to;
        Strings outcome;
        uint32_t frames;
    };
    const Row rows[] = {
        {0.03125f, 0.0625f, {"Success a.wav"}, 250},
        {0.125f, 0.1875f, {"Success a.wav"}, 500},  // past the end: the last 500 frames
        {0.0625f, 0.03125f, {"Failure a.wav -50"}, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Outcomes({in + "/a.wav"}, Conversion("One",
                                                       [&row](ConvSpec& c) {
                                                           c.setNeedsSnip(true);
                                                           c.setSnipFrom(row.from);
                                                           c.setSnipTo(row.to);
                                                       })),
                  row.outcome);
        EXPECT_EQ(row.frames ? QFSoundFile(out + "/One/a.aif").numFrames() : Tree(out).size(),
                  row.frames ? row.frames : 1u);
    }
}

enum class CancelAt {
    kBeforeTheThread,
    kDuringSecondFile,
    kAfterSecondFilesLastProgress,
    kOnFirstSuccess
};

TEST_F(EngineTest, CancelLeavesNoPlaceholderAndChangesNoInput) {
    const Strings second = {"Start",  "Header", "Success a.wav", "Failure b.wav -128",
                            "Footer", "Done"};
    const std::pair<CancelAt, Strings> rows[] = {
        {CancelAt::kBeforeTheThread, {"Start", "Done"}},
        {CancelAt::kDuringSecondFile, second},
        {CancelAt::kAfterSecondFilesLastProgress, second},
        {CancelAt::kOnFirstSuccess, {"Start", "Header", "Success a.wav", "Footer", "Done"}},
    };
    for (std::string name : {"a.wav", "b.wav", "c.wav"})
        Sox(in + "/F/" + name, "-r 44100 -c 2 -b 16");
    UseCopyStandIn();
    const auto before = Contents(in);
    auto& center = platform::NotificationCenter::Default();
    for (const auto& [at, order] : rows) {
        fs::remove_all(out);
        fs::create_directories(out);
        posted.clear();
        const auto stopOn = [&, at = at](CancelAt when, const char* name, int64_t file) {
            return center.AddObserver(name, nullptr,
                                      [&, at, when, file](const platform::Notification&) {
                                          if (at == when && process.takeProgress().curFile == file)
                                              process.setShouldStop(true);
                                      });
        };
        const auto during = stopOn(CancelAt::kDuringSecondFile, ProgressPosition, 2);
        const auto success = stopOn(CancelAt::kOnFirstSuccess, QFConversionSuccessNotification, 1);
        gAfterCopy = [&, at = at](const std::string& name) {
            if (at == CancelAt::kAfterSecondFilesLastProgress && name == "b")
                process.setShouldStop(true);
            return OSErr(0);
        };
        // The batch thread waits at its start until the cancel has been given.
        std::promise<void> given;
        std::shared_future<void> gate = given.get_future().share();
        const auto start =
            center.AddObserver(QFConversionStartNotification, &process,
                               [gate](const platform::Notification&) { gate.wait(); });
        {
            BatchRunner runner(process);
            ASSERT_EQ(runner.Start({in + "/F"}, {Conversion("One"), Conversion("Two")}, out), 0);
            if (at == CancelAt::kBeforeTheThread) process.setShouldStop(true);
            given.set_value();
            EXPECT_EQ(runner.Wait(), kUserCanceledErr);
        }
        for (auto token : {start, during, success}) center.RemoveObserver(token);
        EXPECT_EQ(Names(), order);
        for (const auto& [path, bytes] : Contents(out))
            EXPECT_EQ(path.find(CorvaOutFile::kCorvaOutFileNameStr), std::string::npos) << path;
        EXPECT_EQ(Contents(in), before);
    }
}

TEST_F(EngineTest, AFailingInputLeavesNothingAndStopsTheBatchAsItsClassSays) {
    struct Row {
        std::function<OSErr()> failure;
        Strings outcome;
        Strings left;
    };
    const Strings goesOn = {"Success a.wav", "Failure b.wav -39", "Success c.wav"};
    const Row rows[] = {
        // A name that could not be extended leaves the outputs under their
        // placeholder, which no later output shares.
        {[] { return OSErr(-22021); },
         {"Success a.wav", "Failure b.wav -22021", "Success c.wav"},
         {".CorvaOutFile-P-N.aif", "a.aif", "c.aif"}},
        {[]() -> OSErr { throw error_code_exception(kEOFErr, "thrown by a sound file"); },
         goesOn,
         {"a.aif", "c.aif"}},
        {[] { return OSErr(-34); }, {"Success a.wav", "Failure b.wav -34"}, {"a.aif"}},
        {[]() -> OSErr { throw std::runtime_error("no status"); },
         {"Success a.wav", "Failure b.wav -50"},
         {"a.aif"}},
        {[] { return OSErr(kEOFErr); }, goesOn, {"a.aif", "c.aif"}},
    };
    for (std::string name : {"a.wav", "b.wav", "c.wav"}) Sox(in + "/F/" + name);
    UseCopyStandIn();
    Poller poller(process);
    for (const Row& row : rows) {
        gAfterCopy = [&row](const std::string& name) { return name == "b" ? row.failure() : 0; };
        EXPECT_EQ(Outcomes({in + "/F"}, Conversion("One")), row.outcome);
        EXPECT_EQ(PlaceholdersShown(Tree(out + "/One/F")), row.left);
    }
    // Each batch starts its warnings anew; the poller lost none of the last one's.
    EXPECT_EQ(process.warnings(), 1);
    const Strings warnings = poller.Stop(&process);
    EXPECT_EQ(warnings.back(), "'b.wav' unexpected end of file");
}

TEST_F(EngineTest, RenamingNumbersTakenNamesOrFailsAndKeepsChannelSuffixes) {
    struct Row {
        Strings existing;
        bool number, split;
        Strings outcome, converted, after;
    };
    const Strings pair = {"Take 1.L.aif", "Take 1.R.aif"};
    const Row rows[] = {
        {{}, false, false, {"Success Take 1.wav"}, {"Take 1.aif"}, {"Take 1.aif"}},
        {{"Take 1.aif"},
         true,
         false,
         {"Success Take 1.wav"},
         {"Take 1-1.aif"},
         {"Take 1-1.aif", "Take 1.aif"}},
        {{"Take 1.aif", "Take 1-1.aif"},
         true,
         false,
         {"Success Take 1.wav"},
         {"Take 1-2.aif"},
         {"Take 1-1.aif", "Take 1-2.aif", "Take 1.aif"}},
        {{"Take 1.aif"}, false, false, {"Failure Take 1.wav -48"}, {"Take 1.aif"}, {"Take 1.aif"}},
        {pair,
         true,
         true,
         {"Success Take 1.wav"},
         {"Take 1-1.L.aif", "Take 1-1.R.aif"},
         {"Take 1-1.L.aif", "Take 1-1.R.aif", "Take 1.L.aif", "Take 1.R.aif"}},
        // Outputs renamed before the one whose name is taken keep their names.
        {{"Take 1.R.aif"}, false, true, {"Failure Take 1.wav -48"}, pair, pair},
    };
    Sox(in + "/Take 1.wav");
    WriteFinderComment("take two", in + "/Take 1.wav");
    const bool comments = ReadFinderCommentFromFile(in + "/Take 1.wav") == "take two";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.converted.front());
        EngineSettings settings;
        settings.numberDuplicateFiles = row.number;
        settings.preserveFinderComments = true;
        const auto conv =
            Conversion("One", [&row](ConvSpec& c) { c.setNeedsChannelTreat(row.split); });
        EXPECT_EQ(Outcomes({in + "/Take 1.wav"}, conv, settings, row.existing), row.outcome);
        const auto outcome = std::find_if(posted.begin(), posted.end(), [](const Posted& p) {
            return p.values.find(kConvertedFilePathKey);
        });
        Strings converted;
        for (const plist::Value& p : *outcome->values.find(kConvertedFilePathKey)->array())
            converted.push_back(fs::path(p.asString()).filename().string());
        EXPECT_EQ(converted, row.converted);
        EXPECT_EQ(Tree(out + "/One"), row.after);
        for (const std::string& name : Tree(out + "/One")) {
            const bool existed = std::count(row.existing.begin(), row.existing.end(), name);
            EXPECT_EQ(testsupport::ReadFile(out + "/One/" + name) == "mine", existed) << name;
            if (comments && !existed) {
                EXPECT_EQ(ReadFinderCommentFromFile(out + "/One/" + name), "take two");
            }
        }
    }
}

TEST_F(EngineTest, TheBatchThreadNamesItselfCarriesItsConversionAndAnnouncesTheOutput) {
    Sox(in + "/x.wav");
    const auto one = Conversion("One"), two = Conversion("Two");
    auto& center = platform::NotificationCenter::Default();
    const std::thread::id mainThread = std::this_thread::get_id();
    std::vector<std::string> events;
    bool namedItself = false;
    const auto start = center.AddObserver(
        QFConversionStartNotification, &process, [&](const platform::Notification& n) {
            const plist::Value* id = n.object.find(kProcessThreadKey);
            namedItself = id && platform::ThreadIdOf(*id) == std::this_thread::get_id() &&
                          std::this_thread::get_id() != mainThread;
        });
    const auto header = center.AddObserver(
        QFConversionHeaderNotification, &process, [&](const platform::Notification&) {
            const auto& running = platform::CurrentThreadContext().curConvSpec;
            events.push_back(running == one ? "One" : running == two ? "Two" : "other");
        });
    const auto done =
        center.AddObserver(QFConversionDoneNotification, &process,
                           [&](const platform::Notification&) { events.push_back("Done"); });
    const auto changed = center.AddObserver(
        platform::kFileSystemChangedNotification, nullptr, [&](const platform::Notification& n) {
            events.push_back(n.object.asString() + (process.running() ? " running" : ""));
        });
    ASSERT_EQ(Run({in + "/x.wav"}, {one, two}), 0);
    EXPECT_TRUE(namedItself);
    EXPECT_EQ(events, Strings({"One", "Two", "Done", out}));

    // The one-file form says the same.
    events.clear();
    namedItself = false;
    BatchRunner runner(process);
    ASSERT_EQ(runner.StartSingleFile(in + "/x.wav", two, out, "Take"), 0);
    EXPECT_EQ(runner.Wait(), 0);
    EXPECT_TRUE(namedItself);
    EXPECT_EQ(events, Strings({"Two", "Done", out}));
    for (auto token : {start, header, done, changed}) center.RemoveObserver(token);
}

TEST_F(EngineTest, OneFileConvertsUnderItsOutputNameAndBadNamesStartNothing) {
    Sox(in + "/x.wav");
    const auto conv = Conversion("One");
    BatchRunner runner(process);
    ASSERT_EQ(runner.StartSingleFile(in + "/x.wav", conv, out, "Take 1"), 0);
    EXPECT_EQ(runner.Wait(), 0);
    EXPECT_EQ(Names(), Strings({"Start", "Header", "Success x.wav", "Footer", "Done"}));
    EXPECT_EQ(posted.front().values.find(kTotalConversionsKey)->asInteger(), 1);
    EXPECT_EQ(Tree(out), Strings({"One", "One/Take 1.aif"}));
    EXPECT_EQ(SoxSamples(out + "/One/Take 1.aif"), SoxSamples(in + "/x.wav"));
    EXPECT_EQ(process.takeProgress().curFile, 1);

    // A taken name fails the input as a batch does (numbering is off).
    posted.clear();
    ASSERT_EQ(runner.StartSingleFile(in + "/x.wav", conv, out, "Take 1"), 0);
    EXPECT_EQ(runner.Wait(), kDupFNErr);
    EXPECT_EQ(Names(), Strings({"Start", "Header", "Failure x.wav -48", "Footer", "Done"}));

    posted.clear();
    fs::remove_all(out);
    fs::create_directories(out);
    for (const std::string& name :
         {std::string(), std::string(".."), std::string("../x"), std::string("a\0b", 3)})
        EXPECT_EQ(runner.StartSingleFile(in + "/x.wav", conv, out, name), kParamErr) << name;
    EXPECT_EQ(process.convertSingleFile(in + "/x.wav", nullptr, out, "Take"), kParamErr);
    EXPECT_TRUE(posted.empty());
    EXPECT_TRUE(Tree(out).empty());
}

// A take hands each change over once: the flags and the new warnings go with
// it, while the counters and texts stay for the next reader.
TEST_F(EngineTest, ATakeClearsTheChangeFlagsAndHandsTheWarningsOverOnce) {
    Sox(in + "/a.wav");
    UseCopyStandIn();
    auto warn = [](const char* text) {
        platform::NotificationCenter::Default().Post(XWLogMessageNotification, nullptr,
                                                     plist::Value(text));
    };
    ConversionProcess::Progress first, second, third;
    gAfterCopy = [&](const std::string&) {
        SetProgressChannel(1, 2);
        warn("one");
        first = process.takeProgress();
        second = process.takeProgress();
        warn("two");
        third = process.takeProgress();
        return OSErr(0);
    };
    ASSERT_EQ(Run({in + "/a.wav"}, {Conversion("One")}), 0);

    EXPECT_TRUE(first.running && first.convSpecChanged && first.fileChanged &&
                first.numSampleFramesChanged && first.channelsChanged && first.warningChanged);
    EXPECT_EQ(first.newWarnings, Strings({"one"}));
    EXPECT_FALSE(second.convSpecChanged || second.fileChanged || second.stepChanged ||
                 second.regionChanged || second.numSampleFramesChanged ||
                 second.channelsChanged || second.warningChanged);
    EXPECT_TRUE(second.newWarnings.empty());
    EXPECT_TRUE(second.running);
    EXPECT_EQ(second.curConvSpec ? second.curConvSpec->conversionName() : "", "One");
    EXPECT_EQ(second.curFile, 1);
    EXPECT_EQ(fs::path(second.curFilePath).filename(), "a.wav");
    EXPECT_EQ(second.curFolder, out + "/One");
    EXPECT_EQ(second.curSampleFrames, 800);
    EXPECT_EQ(second.curChannels, 2);
    EXPECT_EQ(second.warnings, 1);

    EXPECT_TRUE(third.warningChanged);
    EXPECT_EQ(third.newWarnings, Strings({"two"}));
    EXPECT_EQ(third.warnings, 2);
    EXPECT_FALSE(process.running());
}

// Progress taken from another thread, as the window takes it, through whole
// batches of many short files run one after another: a conversion's number
// always comes with that conversion's name, and none is left from the batch
// before (each batch holds its start until a take was made there). The
// whole-batch bar's value never decreases within a batch, never passes its
// maximum, and is never behind the jobs finished nor more than one ahead.
TEST_F(EngineTest, TakesFromAnotherThreadPairNumbersWithNamesAndCountFiles) {
    constexpr int kFiles = 24, kConversions = 2;
    Sox(in + "/F/0.wav", "-r 8000 -c 1 -b 16");
    for (int i = 1; i < kFiles; ++i)
        fs::copy_file(in + "/F/0.wav", in + "/F/" + std::to_string(i) + ".wav");
    std::atomic<int> finished{0};  // inputs converted in this batch
    std::atomic<int> mismatches{0}, barFaults{0}, takes{0}, atStart{0};
    int64_t last = 0, finishedBefore = 0;  // poller thread only
    Poller poller(process, [&](const ConversionProcess::Progress& p) {
        const std::string name = p.curConvSpec ? p.curConvSpec->conversionName() : "";
        const std::string expected = p.curConv == 0 ? "" : "C" + std::to_string(p.curConv);
        if (name != expected) ++mismatches;
        if (p.running && p.curConv == 0) {  // a batch that has not begun a conversion
            ++atStart;
            last = finishedBefore = 0;
        }
        const int64_t value = BatchBarValue(p.curConv, p.curFile, kFiles, kConversions);
        const int finishedAfter = finished;
        if (p.running && (value < last || value > kFiles * kConversions ||
                          value < finishedBefore || value > finishedAfter + 1))
            ++barFaults;
        last = value;
        finishedBefore = finishedAfter;
        ++takes;
    });
    auto& center = platform::NotificationCenter::Default();
    const auto starts = center.AddObserver(
        QFConversionStartNotification, &process, [&](const platform::Notification&) {
            finished = 0;
            const uint64_t before = poller.Takes();
            for (int i = 0; i < 2000 && poller.Takes() < before + 2; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    const auto successes = center.AddObserver(
        QFConversionSuccessNotification, &process,
        [&](const platform::Notification&) { ++finished; });
    for (int run = 0; run < 2; ++run) {
        fs::remove_all(out);
        fs::create_directories(out);
        ASSERT_EQ(Run({in + "/F"}, {Conversion("C1"), Conversion("C2")}), 0) << run;
        EXPECT_EQ(finished, kFiles * kConversions);
    }
    center.RemoveObserver(starts);
    center.RemoveObserver(successes);
    poller.Stop(&process);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(barFaults, 0);
    EXPECT_GT(takes, 0);
    EXPECT_GE(atStart, 2);  // takes at the start of each batch
}

// The whole-batch bar stays within its range for any counts the driver and
// the window hold: none before the first conversion, none of an empty batch,
// and no overflow at the largest counts.
TEST(BatchBar, StaysWithinItsRangeForAnyCounts) {
    EXPECT_EQ(BatchBarValue(0, 0, 5, 3), 0);
    EXPECT_EQ(BatchBarValue(2, 9, 5, 3), 10);  // more met than counted
    EXPECT_EQ(BatchBarValue(4, 1, 5, 3), 15);
    EXPECT_EQ(BatchBarValue(2, 3, 0, 3), 0);
    EXPECT_EQ(BatchBarValue(2, 3, 5, 0), 0);
    EXPECT_EQ(BatchBarValue(INT64_MAX, INT64_MAX, INT64_MAX, INT64_MAX),
              int64_t(INT32_MAX) * int64_t(UINT32_MAX));
}

}  // namespace
}  // namespace enginetest
