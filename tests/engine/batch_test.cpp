// Whole batches over trees made with sox, through the copy pipeline: the output
// tree mirrors the inputs in every conversion's folder, notifications come in
// order, folder walks end and never enter the output, cancels and failures
// leave no placeholder and change no input, and outputs are renamed by the
// rules for taken names.
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <stdexcept>

#include "engine_test_support.h"
#include "foundation/finder_comment.h"
#include "soundfile/sample_conversion.h"

namespace enginetest {
namespace {

using Strings = std::vector<std::string>;

TEST_F(EngineTest, OutputTreeMirrorsTheInputsInEveryConversionFolder) {
    Sox(in + "/A/x.wav");
    Sox(in + "/A/B/y.aiff", "-r 22050 -c 1 -b 16");
    testsupport::WriteFile(in + "/A/notes.txt", "not a sound");
    testsupport::WriteFile(in + "/A/.DS_Store", "hidden");
    testsupport::WriteFile(in + "/A/._x.wav", "sidecar");
    Sox(in + "/single.wav", "-r 8000 -c 1 -b 8");
    const auto before = Contents(in);
    auto redithered = Conversion("Two");
    redithered->setNeedsRedither(true);
    FreeDitherTable();

    ASSERT_EQ(Run({in + "/A", in + "/single.wav"}, {Conversion("One"), redithered}), 0);
    EXPECT_NE(gDitherTable, nullptr);

    Strings expected;
    for (std::string c : {"One", "Two"})
        for (std::string p : {"", "/A", "/A/B", "/A/B/y.aif", "/A/x.aif", "/single.aif"})
            expected.push_back(c + p);
    EXPECT_EQ(Tree(out), expected);
    EXPECT_EQ(Contents(in), before);
    const Strings once = {"Header", "Success y.aiff", "Success x.wav", "Success single.wav",
                          "Footer"};
    Strings order = {"Start"};
    order.insert(order.end(), once.begin(), once.end());
    order.insert(order.end(), once.begin(), once.end());
    order.push_back("Done");
    EXPECT_EQ(Names(), order);
    EXPECT_EQ(posted.front().values.find(kTotalConversionsKey)->asInteger(), 4);

    // Every file handed over counts, skipped ones too; the counters restart per conversion.
    EXPECT_EQ(process.curConv(), 2);
    EXPECT_EQ(process.curFile(), 6);
    EXPECT_EQ(process.err(), 0);
    EXPECT_FALSE(process.running());
    EXPECT_TRUE(process.numSampleFramesChanged() && process.fileChanged());
    EXPECT_EQ(process.curSampleFrames(), 800);

    for (std::string name : {"A/x", "A/B/y", "single"}) {
        std::vector<uint8_t> original, copied;
        for (auto [path, bytes] : {std::pair{in + "/" + name, &original},
                                   std::pair{out + "/Two/" + name + ".aif", &copied}}) {
            if (!fs::exists(path)) path += fs::exists(path + ".wav") ? ".wav" : ".aiff";
            QFSoundFile entry(path);
            short err = 0;
            SoundFilePtr f = entry.createSoundFile(&err);
            ASSERT_TRUE(f) << path;
            ASSERT_EQ(f->Open(), 0);
            ASSERT_EQ(formattest::ReadAllFrames(*f, bytes), 0);
        }
        EXPECT_EQ(copied, original) << name;
    }
}

TEST_F(EngineTest, FolderWalkIsByteOrderedEndsOnLinksAndSkipsTheOutputFolder) {
    for (std::string name : {"b.wav", "B.wav", "_c.wav"}) Sox(in + "/A/" + name);
    ASSERT_EQ(::symlink("..", (in + "/A/up").c_str()), 0);
    ASSERT_EQ(::symlink(".", (in + "/A/here").c_str()), 0);
    const std::string inner = in + "/A/zout";
    fs::create_directories(inner);

    BatchRunner runner(process);
    ASSERT_EQ(runner.Start({in + "/A"}, {Conversion("One")}, inner), 0);
    ASSERT_EQ(runner.Wait(), 0);

    // "up" leads to the folder holding A, whose A is already being walked.
    EXPECT_EQ(Tree(inner),
              (Strings{"One", "One/A", "One/A/B.aif", "One/A/_c.aif", "One/A/b.aif", "One/A/up"}));
    EXPECT_EQ(Names(), (Strings{"Start", "Header", "Success B.wav", "Success _c.wav",
                                "Success b.wav", "Footer", "Done"}));
}

TEST_F(EngineTest, ABatchWithoutConversionsStartsAndEnds) {
    Sox(in + "/a.wav");
    ASSERT_EQ(Run({in + "/a.wav"}, {}), 0);
    EXPECT_EQ(Names(), (Strings{"Start", "Done"}));
    EXPECT_EQ(posted.front().values.find(kTotalConversionsKey)->asInteger(), 0);
    EXPECT_FALSE(process.running());
}

TEST_F(EngineTest, ASnippedInputGivesItsWindowAndAnInvertedWindowFails) {
    Sox(in + "/a.wav", "-r 8000 -c 1 -b 16");  // 800 frames
    struct Row {
        float from, to;
        Strings order;
        uint32_t frames;
    };
    const Row rows[] = {
        {0.03125f, 0.0625f, {"Success a.wav"}, 250},
        {0.125f, 0.1875f, {"Success a.wav"}, 500},  // past the end: the last 500 frames
        {0.0625f, 0.03125f, {"Failure a.wav -50"}, 0},
    };
    for (const Row& row : rows) {
        fs::remove_all(out);
        fs::create_directories(out);
        posted.clear();
        auto conv = Conversion("One");
        conv->setNeedsSnip(true);
        conv->setSnipFrom(row.from);
        conv->setSnipTo(row.to);
        Run({in + "/a.wav"}, {conv});
        const Strings order = Names();
        EXPECT_EQ(Strings(order.begin() + 2, order.end() - 2), row.order);
        if (row.frames) {
            QFSoundFile output(out + "/One/a.aif");
            EXPECT_EQ(output.numFrames(), row.frames);
        } else {
            EXPECT_EQ(Tree(out), Strings{"One"});
        }
    }
}

enum class CancelAt {
    kBeforeTheThread,
    kDuringSecondFile,
    kAfterSecondFilesLastProgress,
    kOnFirstSuccess
};

TEST_F(EngineTest, CancelLeavesNoPlaceholderAndChangesNoInput) {
    struct Row {
        CancelAt at;
        Strings order;
    };
    const Row rows[] = {
        {CancelAt::kBeforeTheThread, {"Start", "Done"}},
        {CancelAt::kDuringSecondFile,
         {"Start", "Header", "Success a.wav", "Failure b.wav -128", "Footer", "Done"}},
        {CancelAt::kAfterSecondFilesLastProgress,
         {"Start", "Header", "Success a.wav", "Failure b.wav -128", "Footer", "Done"}},
        {CancelAt::kOnFirstSuccess, {"Start", "Header", "Success a.wav", "Footer", "Done"}},
    };
    for (std::string name : {"a.wav", "b.wav", "c.wav"})
        Sox(in + "/F/" + name, "-r 44100 -c 2 -b 16");
    const auto before = Contents(in);
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.at));
        fs::remove_all(out);
        fs::create_directories(out);
        posted.clear();
        auto stopOn = [this, &row](CancelAt at, const char* name) {
            return platform::NotificationCenter::Default().AddObserver(
                name, nullptr, [this, &row, at](const platform::Notification&) {
                    if (row.at == at &&
                        process.curFile() == (at == CancelAt::kOnFirstSuccess ? 1 : 2))
                        process.setShouldStop(true);
                });
        };
        const auto during = stopOn(CancelAt::kDuringSecondFile, ProgressPosition);
        const auto success = stopOn(CancelAt::kOnFirstSuccess, QFConversionSuccessNotification);
        gAfterCopy = [this, &row](const std::string& name) -> OSErr {
            if (row.at == CancelAt::kAfterSecondFilesLastProgress && name == "b")
                process.setShouldStop(true);
            return 0;
        };
        // The batch thread waits at its start until the cancel has been given.
        std::promise<void> given;
        std::shared_future<void> gate = given.get_future().share();
        const auto start = platform::NotificationCenter::Default().AddObserver(
            QFConversionStartNotification, &process,
            [gate](const platform::Notification&) { gate.wait(); });
        {
            BatchRunner runner(process);
            ASSERT_EQ(runner.Start({in + "/F"}, {Conversion("One"), Conversion("Two")}, out), 0);
            if (row.at == CancelAt::kBeforeTheThread) process.setShouldStop(true);
            given.set_value();
            EXPECT_EQ(runner.Wait(), kUserCanceledErr);
        }
        platform::NotificationCenter::Default().RemoveObserver(start);
        platform::NotificationCenter::Default().RemoveObserver(during);
        platform::NotificationCenter::Default().RemoveObserver(success);
        EXPECT_EQ(Names(), row.order);
        for (const auto& [path, bytes] : Contents(out))
            EXPECT_EQ(path.find(CorvaOutFile::kCorvaOutFileNameStr), std::string::npos) << path;
        EXPECT_EQ(Contents(in), before);
    }
}

TEST_F(EngineTest, AFailingInputLeavesNothingAndStopsTheBatchAsItsClassSays) {
    struct Row {
        std::function<OSErr()> failure;
        Strings order;
        Strings left;
        int64_t warnings;
    };
    const Row rows[] = {
        {[] { return OSErr(kEOFErr); },
         {"Success a.wav", "Failure b.wav -39", "Success c.wav"},
         {"a.aif", "c.aif"},
         1},
        {[]() -> OSErr { throw error_code_exception(kEOFErr, "thrown by a sound file"); },
         {"Success a.wav", "Failure b.wav -39", "Success c.wav"},
         {"a.aif", "c.aif"},
         1},
        {[] { return OSErr(-34); }, {"Success a.wav", "Failure b.wav -34"}, {"a.aif"}, 0},
        {[]() -> OSErr { throw std::runtime_error("not a status"); },
         {"Success a.wav", "Failure b.wav -50"},
         {"a.aif"},
         0},
        // A name that could not be extended leaves the outputs; the next input
        // finds its placeholder taken and fails without deleting them.
        {[] { return OSErr(-22021); },
         {"Success a.wav", "Failure b.wav -22021", "Failure c.wav -48"},
         {".CorvaOutFile.aif", "a.aif"},
         2},
    };
    for (std::string name : {"a.wav", "b.wav", "c.wav"}) Sox(in + "/F/" + name);
    Poller poller(process);
    for (const Row& row : rows) {
        fs::remove_all(out);
        fs::create_directories(out);
        posted.clear();
        gAfterCopy = [&row](const std::string& name) { return name == "b" ? row.failure() : 0; };
        Run({in + "/F"}, {Conversion("One")});
        Strings order = Names();
        order = Strings(order.begin() + 2, order.end() - 2);  // without start, header, footer, done
        EXPECT_EQ(order, row.order);
        Strings left;
        for (const auto& e : fs::directory_iterator(out + "/One/F"))
            left.push_back(e.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, row.left);
        EXPECT_EQ(process.warnings(), row.warnings);
    }
    // Each batch starts its warnings anew; the poller lost none of the last one's.
    const Strings warnings = poller.Stop(&process);
    EXPECT_EQ(Strings(warnings.end() - 2, warnings.end()),
              (Strings{"'b.wav' name was not extended, it was too long",
                       "'c.wav' duplicate filename error"}));
}

TEST_F(EngineTest, RenamingNumbersTakenNamesOrFailsAndKeepsChannelSuffixes) {
    struct Row {
        Strings existing;
        bool number;
        bool split;
        int error;
        Strings converted;
    };
    const Row rows[] = {
        {{}, false, false, 0, {"Take 1.aif"}},
        {{"Take 1.aif"}, true, false, 0, {"Take 1-1.aif"}},
        {{"Take 1.aif", "Take 1-1.aif"}, true, false, 0, {"Take 1-2.aif"}},
        {{"Take 1.aif"}, false, false, kDupFNErr, {"Take 1.aif"}},
        {{"Take 1.L.aif", "Take 1.R.aif"}, true, true, 0, {"Take 1-1.L.aif", "Take 1-1.R.aif"}},
        {{"Take 1.R.aif"}, false, true, kDupFNErr, {"Take 1.L.aif", "Take 1.R.aif"}},
    };
    Sox(in + "/Take 1.wav");
    const std::string folder = out + "/One";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.converted.front());
        fs::remove_all(out);
        fs::create_directories(folder);
        posted.clear();
        for (const std::string& name : row.existing)
            testsupport::WriteFile(folder + "/" + name, "mine");
        auto conv = Conversion("One");
        conv->setNeedsChannelTreat(row.split);
        EngineSettings settings;
        settings.numberDuplicateFiles = row.number;
        Run({in + "/Take 1.wav"}, {conv}, settings);

        const Posted& outcome = *std::find_if(posted.begin(), posted.end(), [](const Posted& p) {
            return p.name == QFConversionSuccessNotification ||
                   p.name == QFConversionFailureNotification;
        });
        EXPECT_EQ(outcome.Error(), row.error);
        Strings paths;
        for (const plist::Value& p : *outcome.values.find(kConvertedFilePathKey)->array())
            paths.push_back(fs::path(p.asString()).filename().string());
        EXPECT_EQ(paths, row.converted);
        for (const std::string& name : row.existing)
            EXPECT_EQ(testsupport::ReadFile(folder + "/" + name), "mine") << name;
        Strings all = row.existing;
        if (row.error == 0) all.insert(all.end(), row.converted.begin(), row.converted.end());
        if (row.error && row.split)
            all.push_back("Take 1.L.aif");  // renamed before the failing one
        std::sort(all.begin(), all.end());
        EXPECT_EQ(Tree(folder), all);
    }
}

TEST_F(EngineTest, FinderCommentsAreCarriedToRenamedOutputsWhenAsked) {
    Sox(in + "/a.wav");
    WriteFinderComment("take two", in + "/a.wav");
    if (ReadFinderCommentFromFile(in + "/a.wav") != "take two")
        GTEST_SKIP() << "no file comments on this file system";
    for (bool preserve : {false, true}) {
        fs::remove_all(out);
        fs::create_directories(out);
        EngineSettings settings;
        settings.preserveFinderComments = preserve;
        ASSERT_EQ(Run({in + "/a.wav"}, {Conversion("One")}, settings), 0);
        EXPECT_EQ(ReadFinderCommentFromFile(out + "/One/a.aif"), preserve ? "take two" : "");
    }
}

}  // namespace
}  // namespace enginetest
