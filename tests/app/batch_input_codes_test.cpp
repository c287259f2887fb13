// Inputs that their readers refuse in a whole batch: each fails alone, on one
// log line that says what is wrong with it, and the batch goes on.
#include <filesystem>

#include "app_test_support.h"

namespace apptest {
namespace {

namespace fs = std::filesystem;

// The log line of a failed input: its name padded to 33 columns, then the text.
std::string FailureLine(const std::string& name, const std::string& text) {
    return "\n*" + name + std::string(name.size() < 32 ? 33 - name.size() : 1, ' ') + text + "\n";
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

struct BatchInputCodesTest : AppTest {};

TEST_F(BatchInputCodesTest, CutG729AndDamagedMediaInputsFailAloneAndTheBatchGoesOn) {
    const std::string in = dir / "in", out = dir / "out";
    fs::create_directories(in);
    fs::create_directories(out);
    defaults.Set(kConversionsDefaultsKey, EncodeConvSpecs({AiffConversion("One")}));
    defaults.Set("Last Used Destination", out);
    defaults.Set("Open Log", false);
    WriteWave(in + "/a.wav", 800);
    WriteWave(in + "/z.wav", 800);
    // Packed G.729 frames are 10 bytes each: three frames and three bytes more.
    testsupport::WriteFile(in + "/cut.g729", std::string(33, '\x11'));
    // An MPEG-4 file type box, then bytes that are no box at all.
    const std::string ftyp("\0\0\0\x18" "ftypM4A \0\0\0\0M4A isom", 24);
    testsupport::WriteFile(in + "/bad.m4a", ftyp + std::string(2000, '\x5A'));

    const std::string log =
        RunBatchForLog({in + "/a.wav", in + "/cut.g729", in + "/bad.m4a", in + "/z.wav"});
    EXPECT_EQ(Count(log, FailureLine("cut.g729", "not recognized as a CCITT G.729 file")), 1u) << log;
    EXPECT_EQ(Count(log, FailureLine("bad.m4a", "has unknown file format")), 1u) << log;
    EXPECT_EQ(Count(log, "\n*"), 2u) << log;
    EXPECT_EQ(log.find("Conversion stopped"), std::string::npos) << log;
    // The inputs on either side were converted.
    EXPECT_TRUE(fs::exists(out + "/One/a.aif"));
    EXPECT_TRUE(fs::exists(out + "/One/z.aif"));
}

}  // namespace
}  // namespace apptest
