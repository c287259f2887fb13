// The conversion log against golden files: the layout, the filler after names
// counted in UTF-16 units, every error class with its effect on the batch,
// names that cannot split a line, and the file's life (appending, a failed
// open, the finish rules).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "app/logger.h"
#include "engine/conversion_process.h"
#include "platform/notification_center.h"
#include "platform/thread_context.h"
#include "platform/user_defaults.h"
#include "test_support.h"

namespace {

struct LoggerTest : ::testing::Test {
    testsupport::TempDir dir;
    platform::UserDefaults defaults{dir / "prefs.plist"};
    std::time_t clock = 1764963241;  // 2025-12-05 19:34:01 UTC
    int stops = 0;
    std::vector<std::string> messages;
    platform::NotificationCenter::Token token = 0;

    LoggerTest() {
        defaults.RegisterDefaults({{"Save Log", true},
                                   {"Only Save When Errors", false},
                                   {"Unrecognized Input File Action", 0}});
        token = platform::NotificationCenter::Default().AddObserver(
            XWLogMessageNotification, nullptr,
            [this](const platform::Notification& n) { messages.push_back(n.object.asString()); });
    }
    ~LoggerTest() override { platform::NotificationCenter::Default().RemoveObserver(token); }

    LoggerOptions Options() {
        LoggerOptions o;
        o.defaults = &defaults;
        o.now = [this] { return clock; };
        o.version = "4.0.0";
        o.stopBatch = [this] { ++stops; };
        return o;
    }
    // The golden text; CORVANE_UPDATE_GOLDEN=1 first replaces it with `actual`.
    std::string Golden(const std::string& name, const std::string& actual) {
        const std::string path = std::string(CORVANE_APP_TEST_DIR) + "/golden/" + name;
        if (std::getenv("CORVANE_UPDATE_GOLDEN")) testsupport::WriteFile(path, actual);
        return testsupport::ReadFile(path);
    }
};

TEST_F(LoggerTest, ABatchLogMatchesItsGoldenFile) {
    defaults.Set("Unrecognized Input File Action", 1);
    std::string path;
    {
        Logger log(dir.path(), Options());
        path = log.logPath();
        EXPECT_EQ(path, dir / "CorvaLog-20251205-193401.xwl");
        clock += 5;
        log.logConversionHeader("    Output file type: AIFF\n    Sample rate: 44100");
        // Names of 10, 33 and 34 units, one with a character outside the BMP
        // (two units), one with two-byte characters (one unit each).
        log.logDoneMessage("ten chars!", std::string("a comment"));
        log.logDoneMessage(std::string(33, 'n'), std::string("thirty-three"));
        log.logDoneMessage(std::string(34, 'n'), std::string("thirty-four"));
        log.logDoneMessage("\xF0\x9D\x84\x9E clef.wav", std::string("non-BMP"));
        log.logDoneMessage("\xC3\x84rger.wav", std::nullopt);
        log.logErrorMessage("eof.wav\r", -39);            // class 1, CR removed
        log.logErrorMessage("full.wav", -34);             // class 2
        log.logErrorMessage("next.au", -22900);           // class 3
        log.logErrorMessage("right.R.aif", -23015);       // class 5
        log.logErrorMessage("fork.wav", -1340);           // only the system table knows it
        log.logErrorMessage("strange.wav", 12345 - 32768);  // known nowhere
        clock += 25 * 3600 + 61;
        log.logConversionFooter();
        log.setNumWarnings(2);
        EXPECT_TRUE(log.fatal());
        EXPECT_TRUE(log.finishLogFile());
    }
    const std::string text = testsupport::ReadFile(path);
    EXPECT_EQ(text, Golden("batch.xwl", text));
    EXPECT_EQ(stops, 3);
    EXPECT_EQ(messages, (std::vector<std::string>{"'eof.wav' unexpected end of file",
                                                  "'next.au' has unsupported data (NeXT.au)"}));
    const plist::Value last = defaults.Get("Last Used Log");
    ASSERT_NE(last.find("QFStringValue"), nullptr);
    EXPECT_EQ(last.find("QFStringValue")->asString(), path);
}

TEST_F(LoggerTest, FooterWaitsForTheNextWriteAndASecondBatchAppends) {
    std::string path;
    {
        Logger log(dir.path(), Options());
        path = log.logPath();
        log.logConversionHeader("d");
        log.logDoneMessage("a.wav", std::nullopt);
        log.logConversionFooter();
        EXPECT_EQ(testsupport::ReadFile(path).find("Total time"), std::string::npos);
        EXPECT_FALSE(log.fatal());
    }
    const std::string first = testsupport::ReadFile(path);
    EXPECT_NE(first.find("Total time for this conversion : 00:00:00"), std::string::npos);
    { Logger again(dir.path(), Options()); }
    const std::string both = testsupport::ReadFile(path);
    EXPECT_EQ(both.substr(0, first.size()), first);
    EXPECT_GT(both.size(), first.size());
}

TEST_F(LoggerTest, OnlySaveWhenErrorsCountsWarningsOnly) {
    defaults.Set("Only Save When Errors", true);
    Logger log(dir.path(), Options());
    log.logConversionHeader("d");
    log.logErrorMessage("full.wav", -34);  // stops the batch, but is no warning
    EXPECT_TRUE(log.fatal());
    EXPECT_TRUE(std::filesystem::exists(log.logPath()));
    log.setNumWarnings(0);
    EXPECT_FALSE(log.finishLogFile());
    EXPECT_FALSE(std::filesystem::exists(log.logPath()));
    EXPECT_TRUE(defaults.Get("Last Used Log").isNull());
}

TEST_F(LoggerTest, OnlySaveWhenErrorsDeletesOnlyTheLogItsBatchCreated) {
    // A batch with a warning keeps its log; a second batch of the same second
    // continues it and, without warnings, leaves it.
    std::string path;
    {
        Logger first(dir.path(), Options());
        path = first.logPath();
        first.logErrorMessage("eof.wav", -39);
        first.setNumWarnings(1);
        EXPECT_TRUE(first.finishLogFile());
    }
    const std::string kept = testsupport::ReadFile(path);
    defaults.Set("Only Save When Errors", true);
    {
        Logger second(dir.path(), Options());
        second.logDoneMessage("b.wav", std::nullopt);
        second.setNumWarnings(0);
        EXPECT_FALSE(second.finishLogFile());
    }
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(testsupport::ReadFile(path).rfind(kept, 0), 0u);

    // Nor is a file of that name deleted that was put in place of the one made.
    std::filesystem::remove(path);
    Logger third(dir.path(), Options());
    third.logDoneMessage("c.wav", std::nullopt);
    std::filesystem::rename(path, path + ".moved");
    testsupport::WriteFile(path, "someone else's");
    third.setNumWarnings(0);
    EXPECT_FALSE(third.finishLogFile());
    EXPECT_EQ(testsupport::ReadFile(path), "someone else's");
}

TEST_F(LoggerTest, AFailedOpenKeepsTheTextForTheNextWrite) {
    LoggerOptions options = Options();
    int failures = 1;
    options.openForAppend = [&failures](const std::string& path, int flags) {
        if (failures-- > 0) {
            errno = EACCES;
            return -1;
        }
        return ::open(path.c_str(), flags, 0644);
    };
    Logger log(dir.path(), options);
    log.logConversionHeader("d");
    log.logDoneMessage("lost?.wav", std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(log.logPath()));
    log.logDoneMessage("b.wav", std::nullopt);
    const std::string text = testsupport::ReadFile(log.logPath());
    EXPECT_NE(text.find(" lost?.wav\n b.wav\n"), std::string::npos);
    EXPECT_EQ(text.rfind("Corvane 4.0.0 Log File\n", 0), 0u);
}

TEST_F(LoggerTest, WithoutSaveLogNothingIsWrittenAndNoLastLog) {
    defaults.Set("Save Log", false);
    Logger log(dir.path(), Options());
    log.logDoneMessage("a.wav", std::nullopt);
    log.setNumWarnings(1);
    EXPECT_FALSE(log.finishLogFile());
    EXPECT_FALSE(std::filesystem::exists(log.logPath()));
    EXPECT_NE(log.logText().find(" a.wav\n"), std::string::npos);
    EXPECT_TRUE(defaults.Get("Last Used Log").isNull());
}

TEST_F(LoggerTest, AStoppingErrorStopsTheDriverOfTheBatchThread) {
    ConversionProcess process;
    platform::ThreadContext context;
    context.process = &process;
    platform::ScopedThreadContext scope(&context);
    LoggerOptions options = Options();
    options.stopBatch = nullptr;
    Logger log(dir.path(), options);
    log.logErrorMessage("ok.wav", -39);
    EXPECT_FALSE(process.shouldStop());
    log.logErrorMessage("fork.wav", -1340);
    EXPECT_TRUE(process.shouldStop());
    EXPECT_EQ(process.err(), -128);
}

TEST_F(LoggerTest, NoNameCanSplitOrForgeALine) {
    std::string path;
    {
        Logger log(dir.path(), Options());
        path = log.logPath();
        log.logConversionHeader("d");
        log.logDoneMessage("two\nlines.wav", std::nullopt);
        // One carriage return at the end goes first; what remains is escaped.
        log.logErrorMessage("forged\n*x.wav\r\r", -39);
        log.logDoneMessage("t\tab\x1B[31m\x01\x7F\\.wav", std::string("copied"));
        log.logSkippedMessage("bell\x07", kNotRecognizedComment);
    }
    const std::string text = testsupport::ReadFile(path);
    const std::string forged = "forged\\n*x.wav\\r", tab = "t\\tab\\e[31m\\x01\\x7F\\\\.wav";
    const std::string lines = " two\\nlines.wav\n*" + forged + Logger::Filler(forged) +
                              "unexpected end of file\n " + tab + Logger::Filler(tab) + "copied\n" +
                              "*bell\\x07" + std::string(25, ' ') +
                              "skipped: not recognized as a sound file\n";
    EXPECT_NE(text.find("FILES: \n\n" + lines + "____"), std::string::npos) << text;
    EXPECT_EQ(messages, std::vector<std::string>{"'" + forged + "' unexpected end of file"});
    // A skip neither stops the batch nor makes a warning of its own (the driver posts it).
    EXPECT_EQ(stops, 0);
}

TEST(LoggerEscaped, EveryControlByteAndOnlyThoseAreEscaped) {
    for (int c = 0; c < 256; ++c) {
        const std::string escaped = Logger::Escaped(std::string(1, char(c)));
        if (c < 0x20 || c == 0x7F || c == '\\') {
            EXPECT_EQ(escaped[0], '\\') << c;
            for (const char e : escaped) EXPECT_TRUE(e >= 0x20 && e < 0x7F) << c;
        } else {
            EXPECT_EQ(escaped, std::string(1, char(c))) << c;
        }
    }
    EXPECT_EQ(Logger::Escaped("\n\r\t\x1B\x1F\x7F\\\x01"), "\\n\\r\\t\\e\\x1F\\x7F\\\\\\x01");
    EXPECT_EQ(Logger::Escaped("\xC3\x84rger \xF0\x9D\x84\x9E"), "\xC3\x84rger \xF0\x9D\x84\x9E");
}

TEST(LoggerFiller, CountsUtf16Units) {
    EXPECT_EQ(Logger::Filler(std::string(10, 'x')).size(), 23u);
    EXPECT_EQ(Logger::Filler(std::string(32, 'x')).size(), 1u);
    EXPECT_EQ(Logger::Filler(std::string(33, 'x')).size(), 1u);
    EXPECT_EQ(Logger::Filler("\xF0\x9D\x84\x9E").size(), 31u);
    EXPECT_EQ(Logger::Filler("\xC3\x84").size(), 32u);
}

}  // namespace
