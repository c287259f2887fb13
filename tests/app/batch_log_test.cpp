// The log of whole batches run by the main controller: a batch that stops
// (also before its first conversion began) says what it left undone before
// the finish rows, an output that could not be removed is named on its
// input's line, skipped inputs have lines of their own, and full paths are
// the files' own.
#include <unistd.h>

#include <filesystem>

#include "app_test_support.h"
#include "conversion/qf_sound_file.h"
#include "engine/conversion_process.h"
#include "platform/thread_context.h"
#include "soundfile/progress.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

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
    std::string Log(const std::vector<std::string>& inputs) {
        auto c = Make(Services(), false);
        for (const std::string& path : inputs)
            c->inputFiles.push_back(QFSoundFile::soundFileWithPath(path));
        bool finished = false;
        QObject::connect(c.get(), &MainController::batchFinished, [&finished] { finished = true; });
        EXPECT_TRUE(c->doStart());
        EXPECT_TRUE(PumpUntil([&finished] { return finished; }));
        const plist::Value stored = defaults.Get("Last Used Log");
        const plist::Value* last = stored.find("QFStringValue");
        if (!last) return std::string();
        const std::string text = testsupport::ReadFile(last->asString());
        fs::remove(last->asString());
        return text;
    }
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
    testsupport::WriteFile(in + "/G/empty", "");
    testsupport::WriteFile(in + "/G/noise.dat", std::string("\x01\x02 damaged \xFF\0\x7F", 14));
    testsupport::WriteFile(in + "/G/.hidden", "");
    const std::string log = Log({in + "/G"});
    const std::string skipped = "skipped: not recognized as a sound file\n";
    EXPECT_NE(log.find("FILES: \n\n*empty" + std::string(28, ' ') + skipped + " good\n*noise.dat" +
                       std::string(24, ' ') + skipped + "\n    Total time"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("hidden"), std::string::npos);
    EXPECT_EQ(log.find("Conversion stopped"), std::string::npos);
    EXPECT_EQ(defaults.GetInteger("Number of Files Ever Converted"), 1);
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
