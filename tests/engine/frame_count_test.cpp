// Whole batches over every channel treatment, word size and processing path
// (copy, rate conversion at both qualities, gain pass, rate conversion chained
// to the gain pass), with odd and even frame counts: each output holds the
// frames its path promises, read back by our reader and by sox.
#include <sstream>

#include "engine_test_support.h"

namespace enginetest {
namespace {

using FrameCounts = EngineTest;

constexpr uint32_t kInputRate = 44100;
constexpr uint32_t kOutputRate = 48000;

struct Path {
    const char* name;
    bool rate, gain;
    int quality;  // 0 linear (frames rounded down), else polyphase (rounded up)
};

struct Output {
    OSType type;
    short bits;
};

// The frames that n input frames give on a path.
uint32_t ExpectedFrames(uint32_t n, const Path& path) {
    if (!path.rate) return n;
    const uint64_t scaled = uint64_t{n} * kOutputRate;
    return static_cast<uint32_t>(path.quality == 0 ? scaled / kInputRate
                                                   : (scaled + kInputRate - 1) / kInputRate);
}

TEST_F(FrameCounts, EveryChannelTreatmentKeepsTheFrameCountOfItsPath) {
    // Mono and stereo 24-bit inputs with an odd and an even number of frames.
    const std::map<std::string, uint32_t> inputs = {
        {"odd_m", 2001}, {"even_m", 2000}, {"odd_s", 2001}, {"even_s", 2000}};
    for (const auto& [name, frames] : inputs) {
        const char* channels = name.ends_with("_m") ? "1" : "2";
        ASSERT_TRUE(formattest::RunCommand("sox -r 44100 -n -b 24 -c " + std::string(channels) +
                                           " " + Quote(in + "/" + name + ".wav") + " synth " +
                                           std::to_string(frames) + "s sine 300 sine 500"));
    }
    const Path paths[] = {
        {"copy", false, false, 1},        {"rate", true, false, 1},
        {"linear rate", true, false, 0},  {"gain", false, true, 1},
        {"rate and gain", true, true, 1},
    };
    const Output outputs[] = {
        {FourCC("AIFF"), 8},  {FourCC("AIFF"), 16}, {FourCC("AIFF"), 24}, {FourCC("AIFF"), 32},
        {FourCC("WAVE"), 8},  {FourCC("WAVE"), 16}, {FourCC("WAVE"), 24}, {FourCC("WAVE"), 32},
        {FourCC("WVfl"), 32}, {FourCC("BWLN"), 24},
    };
    const int treatments[] = {0,
                              kChannelTreatInterleave,
                              kChannelTreatSplit,
                              kChannelTreatMixToMono,
                              kChannelTreatLeftOnly,
                              kChannelTreatRightOnly};

    for (const Path& path : paths) {
        SCOPED_TRACE(path.name);
        std::vector<std::shared_ptr<ConvSpec>> conversions;
        for (const Output& output : outputs)
            for (int treatment : treatments) {
                const std::string name = FourCCText(output.type) + std::to_string(output.bits) +
                                         "-" + std::to_string(treatment);
                conversions.push_back(Conversion(name, [&](ConvSpec& c) {
                    c.setOutputFileType(output.type);
                    c.setNeedsNewWordLength(true);
                    c.setWordLength(output.bits);
                    c.setNeedsChannelTreat(treatment != 0);
                    c.setChannelTreat(treatment ? treatment : int{kChannelTreatSplit});
                    c.setNeedsSampleRateConversion(path.rate);
                    c.setSampleRate(kOutputRate);
                    c.setSampleRateConvertQuality(path.quality);
                    c.setNeedsGain(path.gain);
                    c.setNeedsNormalize(path.gain);
                }));
            }
        fs::remove_all(out);
        fs::create_directories(out);
        ASSERT_EQ(Run({in}, conversions), 0);

        std::vector<std::string> written;
        std::vector<uint32_t> expected;
        for (const auto& conversion : conversions) {
            const std::string folder = out + "/" + conversion->conversionName() + "/in";
            const Strings files = Files(folder);
            // Split stereo inputs give two files, everything else one.
            EXPECT_EQ(files.size(), conversion->channelTreat() == kChannelTreatSplit &&
                                            conversion->needsChannelTreat()
                                        ? 6u
                                        : 4u)
                << folder;
            for (const std::string& file : files) {
                const std::string input = file.substr(0, file.find('.'));
                ASSERT_TRUE(inputs.count(input)) << file;
                const std::string outputPath = folder + "/" + file;
                written.push_back(outputPath);
                expected.push_back(ExpectedFrames(inputs.at(input), path));
                short code = 0;
                SoundFilePtr f = QFSoundFile(outputPath).createSoundFile(&code);
                ASSERT_TRUE(f && f->Open() == 0) << outputPath;
                EXPECT_EQ(f->GetNumSFrames(), expected.back()) << outputPath;
            }
        }
        // The peer reads the same counts.
        std::string command = "soxi -V0 -s";
        for (const std::string& p : written) command += " " + Quote(p);
        std::string counts;
        ASSERT_TRUE(formattest::RunCommand(command, &counts));
        std::istringstream lines(counts);
        for (size_t i = 0; i < written.size(); ++i) {
            uint32_t n = 0;
            ASSERT_TRUE(lines >> n) << written[i];
            EXPECT_EQ(n, expected[i]) << written[i];
        }
    }
}

}  // namespace
}  // namespace enginetest
