// Damaged media files in whole batches: one cut inside its header, or no
// media at all, fails alone with what is wrong with it, never as a read
// failure or a channel fault.
#include <filesystem>

#include "app_test_support.h"
#include "formats/format_test_support.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;
using formattest::Quote;
using formattest::RunCommand;

// Three seconds of two tones and a little noise at 44.1 kHz.
const char* kSource =
    "aevalsrc=0.4*sin(2*PI*440*t)+0.05*random(0)|0.3*sin(2*PI*660*t):s=44100:d=3";

// The log line of a failed input: its name padded to 33 columns, then the text.
std::string FailureLine(const std::string& name, const std::string& text) {
    return "\n*" + name + std::string(name.size() < 32 ? 33 - name.size() : 1, ' ') + text + "\n";
}

struct BatchMediaDamageTest : AppTest {
    std::string in = dir / "in";
    std::string out = dir / "out";

    void SetUp() override {
        if (!testsupport::HaveProgram("ffmpeg") || !testsupport::HaveProgram("ffprobe"))
            GTEST_SKIP() << "ffmpeg or ffprobe is not installed";
        fs::create_directories(in);
        fs::create_directories(out);
        defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("One")}));
        defaults.Set("Last Used Destination", out);
        defaults.Set("Open Log", false);
    }

    // A file ffmpeg makes from kSource with the output options `args`.
    std::string Make(const std::string& name, const std::string& args) {
        const std::string path = in + "/" + name;
        EXPECT_TRUE(RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i " + Quote(kSource) + " " +
                               args + " " + Quote(path)))
            << name;
        return path;
    }
};

TEST_F(BatchMediaDamageTest, CutHeadersAndNonMediaFailAloneWithWhatIsWrong) {
    const std::string flac = testsupport::ReadFile(Make("whole.flac", "-c:a flac"));
    const std::string m4a =
        testsupport::ReadFile(Make("whole.m4a", "-c:a aac -movflags +faststart"));
    const std::string ogg = testsupport::ReadFile(Make("whole.ogg", "-c:a libvorbis"));
    const std::string ac3 = testsupport::ReadFile(Make("whole.ac3", "-c:a ac3"));
    // An index whose entry count asks the library for more memory than it may take.
    std::string huge = m4a;
    huge.replace(huge.find("stts") + 8, 4, "\x0F\xFF\xFF\xFF");
    const std::string text = "Track list\n1. Overture\n2. Finale\n";
    const std::string unknown = "has unknown file format", ended = "unexpected end of file";
    const struct {
        std::string name, bytes, reason;
    } cases[] = {
        // Cut in the header: the library reports an I/O error or the end of the
        // file, and the first bytes alone show a FLAC or Ogg file, or do not.
        {"h8.flac", flac.substr(0, 8), unknown},
        {"h40.flac", flac.substr(0, 40), ended},
        {"h100.flac", flac.substr(0, 100), ended},
        {"h3000.ogg", ogg.substr(0, 3000), ended},
        // The probe finds no stream parameters, or only a stream of no codec.
        {"h1.flac", flac.substr(0, 1), unknown},
        {"h400.m4a", m4a.substr(0, 400), ended},
        {"h200.m4a", m4a.substr(0, 200), ended},
        {"h300.ac3", ac3.substr(0, 300), unknown},
        {"text.flac", text, unknown},
        {"text.ac3", text, unknown},
        {"text.dts", text, unknown},
        // No demuxer opens it.
        {"text.m4a", text, unknown},
        {"text.ogg", text, unknown},
        {"huge.m4a", huge, unknown},
    };
    std::vector<std::string> inputs;
    WriteWave(in + "/a.wav", 800);
    inputs.push_back(in + "/a.wav");
    for (const auto& c : cases) {
        testsupport::WriteFile(in + "/" + c.name, c.bytes);
        inputs.push_back(in + "/" + c.name);
    }
    WriteWave(in + "/z.wav", 800);
    inputs.push_back(in + "/z.wav");

    const std::string log = RunBatchForLog(inputs);
    for (const auto& c : cases)
        EXPECT_NE(log.find(FailureLine(c.name, c.reason)), std::string::npos) << c.name << log;
    for (const char* wrong :
         {"input/output error", "# channels", "no audio track", "Out of memory"})
        EXPECT_EQ(log.find(wrong), std::string::npos) << log;
    EXPECT_EQ(log.find("Conversion stopped"), std::string::npos) << log;
    EXPECT_TRUE(fs::exists(out + "/One/a.aif"));
    EXPECT_TRUE(fs::exists(out + "/One/z.aif"));
}

}  // namespace
}  // namespace apptest
