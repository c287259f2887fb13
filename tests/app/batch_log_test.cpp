// The log of whole batches run by the main controller: a batch that stops
// (also before its first conversion began) says what it left undone before
// the finish rows, an output that could not be removed is named on its
// input's line, skipped inputs taken for sound have lines of their own, names
// with line breaks stay on their lines, and full paths are the files' own.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <string_view>

#include "app/logger.h"
#include "app_test_support.h"
#include "conversion/qf_sound_file.h"
#include "engine/conversion_process.h"
#include "foundation/xwqf.h"
#include "platform/thread_context.h"
#include "soundfile/progress.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

// Counts the log messages, the batch's warnings, posted while it lives.
struct WarningCount {
    std::atomic<int> count{0};
    platform::NotificationCenter::Token token = platform::NotificationCenter::Default().AddObserver(
        XWLogMessageNotification, nullptr, [this](const platform::Notification&) { ++count; });
    ~WarningCount() { platform::NotificationCenter::Default().RemoveObserver(token); }
};

// The lines of a text, without their line breaks.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// The file lines of a log of one conversion.
std::vector<std::string> FileLines(const std::string& log) {
    const std::string head = "CONVERTED INPUT FILES: \n\n";
    const size_t begin = log.find(head);
    const size_t end = log.find("\n\n    Total time", begin);
    if (begin == std::string::npos || end == std::string::npos) return {};
    return Lines(log.substr(begin + head.size(), end + 1 - begin - head.size()));
}

struct BatchLogTest : AppTest {
    std::string in = dir / "in";
    std::string out = dir / "out";

    void SetUp() override {
        fs::create_directories(in + "/F");
        fs::create_directories(out);
        WriteWave(in + "/F/a.wav", 800);
        WriteWave(in + "/F/c.wav", 800);
        ASSERT_EQ(::symlink((in + "/nowhere.wav").c_str(), (in + "/F/b.wav").c_str()), 0);
        defaults.Set(kConversionsDefaultsKey,
                     EncodeConvSpecs({AiffConversion("One"), AiffConversion("Two")}));
        defaults.Set("Last Used Destination", out);
        defaults.Set("Open Log", false);
        defaults.Set("Easy Thru", true);
    }

    // Runs a batch of `inputs` and returns its log.
    std::string Log(const std::vector<std::string>& inputs) { return RunBatchForLog(inputs); }
};

TEST_F(BatchLogTest, ABatchThatStopsSaysWhatItLeftUndoneBeforeTheFinishRows) {
    WriteWave(in + "/gone.wav", 800);
    WriteWave(in + "/first.wav", 800);
    const std::vector<std::string> inputs = {in + "/first.wav", in + "/gone.wav", in + "/F"};
    fs::remove(in + "/gone.wav");
    const std::string log = Log(inputs);
    const std::string line =
        "\nConversion stopped: Expected input file not found. 4 of 5 inputs of the conversion "
        "'One' and 1 later conversions were not converted.\n____";
    const size_t at = log.find(line);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_NE(log.find("Corvane finished conversion at:", at), std::string::npos);
    EXPECT_LT(log.find("Total time for this conversion"), at);
}

TEST_F(BatchLogTest, ABatchCancelledBeforeItsFirstConversionSaysSoToo) {
    // The cancel comes as the batch starts, before any conversion's header.
    const auto token = platform::NotificationCenter::Default().AddObserver(
        QFConversionStartNotification, nullptr, [](const platform::Notification&) {
            static_cast<ConversionProcess*>(platform::CurrentThreadContext().process)
                ->setShouldStop(true);
        });
    const std::string log = Log({in + "/F"});
    platform::NotificationCenter::Default().RemoveObserver(token);
    const std::string line =
        "\nConversion stopped: User cancelled conversion. 3 of 3 inputs of the conversion 'One' "
        "and 1 later conversions were not converted.\n____";
    const size_t at = log.find(line);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find("CONVERSION SPECIFICATIONS"), std::string::npos);
    EXPECT_NE(log.find("Corvane finished conversion at:", at), std::string::npos);
}

TEST_F(BatchLogTest, AnOutputThatCannotBeRemovedIsNamedOnItsLine) {
    // The output's name is taken (numbering is off), and its placeholder has
    // become a folder with something in it, which removing cannot take.
    fs::create_directories(out + "/One");
    testsupport::WriteFile(out + "/One/a.aif", "mine");
    defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("One")}));
    std::string left;
    const auto token = platform::NotificationCenter::Default().AddObserver(
        QFConversionWillRenameNotification, nullptr, [&](const platform::Notification&) {
            for (const auto& e : fs::directory_iterator(out + "/One")) {
                size_t at = 0, length = 0;
                const std::string name = e.path().filename().string();
                if (!left.empty() || !CorvaOutFile::FindPlaceholder(name, &at, &length)) continue;
                left = e.path().string();
                fs::remove(left);
                fs::create_directories(left + "/inside");
            }
        });
    const std::string log = Log({in + "/F/a.wav"});
    platform::NotificationCenter::Default().RemoveObserver(token);
    ASSERT_FALSE(left.empty());
    EXPECT_NE(log.find("\n*a" + std::string(32, ' ') + "duplicate filename error (could not remove '" +
                       left + "')\n"),
              std::string::npos)
        << log;
    fs::remove_all(left);
}

TEST_F(BatchLogTest, SkippedInputsAreNamedAndKeepTheLogOfABatchWithoutErrors) {
    defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("One")}));
    defaults.Set("Only Save When Errors", true);
    fs::create_directories(in + "/G");
    WriteWave(in + "/G/good.wav", 800);
    // Files in a folder are named when skipped where their names claim sound.
    testsupport::WriteFile(in + "/G/empty.aiff", "");
    testsupport::WriteFile(in + "/G/noise.wav", std::string("\x01\x02 damaged \xFF\0\x7F", 14));
    testsupport::WriteFile(in + "/G/.hidden", "");
    const std::string log = Log({in + "/G"});
    const std::string skipped = "skipped: not recognized as a sound file\n";
    EXPECT_NE(log.find("FILES: \n\n*empty.aiff" + std::string(23, ' ') + skipped +
                       " good\n*noise.wav" + std::string(24, ' ') + skipped + "\n    Total time"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("hidden"), std::string::npos);
    EXPECT_EQ(log.find("Conversion stopped"), std::string::npos);
    EXPECT_EQ(defaults.GetInteger("Number of Files Ever Converted"), 1);
}

TEST_F(BatchLogTest, AFolderNamesOnlyTheSkipsOfFilesTakenForSoundAndEveryListedOne) {
    defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("One")}));
    defaults.Set("Only Save When Errors", true);
    fs::create_directories(in + "/M");
    WriteWave(in + "/M/a.wav", 800);
    WriteWave(in + "/M/b.wav", 800);
    fs::resize_file(in + "/M/b.wav", 22);  // cut inside its format chunk
    testsupport::WriteFile(in + "/M/notes.txt", "track list");
    testsupport::WriteFile(in + "/M/cover.jpg", "\xFF\xD8\xFF\xE0 picture");
    testsupport::WriteFile(in + "/M/c.aiff", "");
    testsupport::WriteFile(in + "/listed.jpg", "\xFF\xD8\xFF\xE0 picture");
    WarningCount warnings;
    const std::vector<std::string> lines = FileLines(Log({in + "/M", in + "/listed.jpg"}));
    const std::string skipped = "skipped: not recognized as a sound file";
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], " a");
    // b's line is its skip or its failure, whichever the readers give.
    EXPECT_TRUE(lines[1].starts_with("*b.wav" + std::string(28, ' '))) << lines[1];
    EXPECT_EQ(lines[2], "*c.aiff" + std::string(27, ' ') + skipped);
    EXPECT_EQ(lines[3], "*listed.jpg" + std::string(23, ' ') + skipped);
    EXPECT_EQ(warnings.count, 3);
}

TEST_F(BatchLogTest, AMusicFolderWithCoverAndNotesLeavesNoLogWhenOnlyErrorsAreKept) {
    defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("One")}));
    defaults.Set("Only Save When Errors", true);
    fs::create_directories(in + "/M");
    WriteWave(in + "/M/a.wav", 800);
    testsupport::WriteFile(in + "/M/notes.txt", "track list");
    testsupport::WriteFile(in + "/M/COVER.JPG", "\xFF\xD8\xFF\xE0 picture");
    WarningCount warnings;
    EXPECT_EQ(Log({in + "/M"}), "");
    EXPECT_EQ(warnings.count, 0);
    for (const auto& e : fs::directory_iterator(out))
        EXPECT_NE(e.path().extension(), ".xwl") << e.path();
    EXPECT_TRUE(fs::exists(out + "/One/M/a.aif"));
}

TEST_F(BatchLogTest, NamesWithLineBreaksForgeNoLineOutsideTheFileLines) {
    // A conversion name that would start a failure line, and a folder name
    // that would start a finish row; the folder refuses the outputs' moves,
    // so that the stop line names it.
    const std::string conversionName = "One\n*forged.wav";
    const std::string forgedRow = "Corvane finished conversion at: 99:99:99";
    auto conversion = AiffConversion(conversionName);
    conversion->setComment("first line\nsecond line");
    defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({conversion}));
    const std::string folder = in + "/F\n" + forgedRow;
    fs::create_directories(folder);
    WriteWave(folder + "/a.wav", 800);
    struct Restore {
        ~Restore() { XWQF::SetFileFaultProbe(nullptr); }
    } restore;
    XWQF::SetFileFaultProbe([](const char* operation, const std::string& path) {
        return std::string_view(operation) == "rename" && path.find("/F\n") != std::string::npos
                   ? EACCES
                   : 0;
    });
    const std::string log = Log({folder});
    XWQF::SetFileFaultProbe(nullptr);

    int stopLines = 0, finishRows = 0;
    for (const std::string& line : Lines(log)) {
        stopLines += line.starts_with("Conversion stopped:");
        finishRows += line.starts_with("Corvane finished conversion at:");
        EXPECT_FALSE(line.starts_with("*forged")) << log;
        EXPECT_FALSE(line.starts_with(forgedRow)) << log;
    }
    EXPECT_EQ(stopLines, 1) << log;
    EXPECT_EQ(finishRows, 1) << log;
    const std::string shownFolder =
        Logger::Escaped(out + "/" + conversionName + "/F\n" + forgedRow);
    EXPECT_NE(log.find("\nConversion stopped: cannot write into folder '" + shownFolder +
                       "'. 1 of 1 inputs of the conversion 'One\\n*forged.wav' and 0 later "
                       "conversions were not converted.\n"),
              std::string::npos)
        << log;
    // The name is escaped; the description's own line breaks stay.
    EXPECT_NE(log.find("\n    Conversion name: One\\n*forged.wav\n    Comment: first line\n"
                       "second line\n"),
              std::string::npos)
        << log;
}

TEST_F(BatchLogTest, FullPathsAreTheFilesOwnPaths) {
    defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("One")}));
    defaults.Set("Full Paths Into Log", true);
    const std::string log = Log({in + "/F"});
    const std::string a = in + "/F/a.wav", b = in + "/F/b.wav", c = in + "/F/c.wav";
    EXPECT_NE(
        log.find("FILES: \n\n " + a + "\n*" + b + " is a link to a missing file\n " + c + "\n"),
        std::string::npos)
        << log;
}

}  // namespace
}  // namespace apptest
