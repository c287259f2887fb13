// Inputs whose header describes no playable sound (an impossible sample rate,
// no channels) and rate conversions whose output could not be written: each
// fails the input with a status the log shows, and leaves no output behind.
#include "engine_test_support.h"
#include "formats/pcm/aiff_file.h"
#include "formats/pcm/wave_file.h"
#include "soundfile/registry.h"
#include "soundfile/sound_file.h"

namespace enginetest {
namespace {

// The bytes of a file with `patch` written over it at `at`.
void Patch(const std::string& path, size_t at, const std::string& patch) {
    std::string bytes = testsupport::ReadFile(path);
    ASSERT_LE(at + patch.size(), bytes.size()) << path;
    bytes.replace(at, patch.size(), patch);
    testsupport::WriteFile(path, bytes);
}

// A little-endian 32-bit field.
std::string LE32(uint32_t v) {
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// Where the fields of an AIFF file's COMM chunk begin (channels, frames, bits, rate).
size_t CommFields(const std::string& path) {
    const size_t at = testsupport::ReadFile(path).find("COMM");
    EXPECT_NE(at, std::string::npos) << path;
    return at + 8;
}

class InputChecks : public EngineTest {
protected:
    // The outcome of a batch of one input, and the warnings the log shows.
    Strings Convert(const std::string& input, const std::shared_ptr<ConvSpec>& conversion,
                    Strings* warnings) {
        Poller poller(process);
        const Strings outcome = Outcomes({input}, conversion);
        *warnings = poller.Stop(&process);
        return outcome;
    }
};

TEST_F(InputChecks, ImpossibleRatesFailWithTheirTextAndLeaveNothing) {
    // A 16-bit mono WAVE file of 8000 Hz with its rate field (bytes 24..27) changed.
    const auto wave = [this](const std::string& name, uint32_t rate) {
        const std::string path = in + "/" + name;
        Sox(path, "-r 8000 -c 1 -b 16");
        Patch(path, 24, LE32(rate));
        return path;
    };
    // A 16-bit mono AIFF file with its 80-bit rate replaced.
    const auto aiff = [this](const std::string& name, const std::string& rate80) {
        const std::string path = in + "/" + name;
        Sox(path, "-r 8000 -c 1 -b 16");
        Patch(path, CommFields(path) + 8, rate80);
        return path;
    };
    const auto bytes = [](std::initializer_list<uint8_t> b) {
        return std::string(b.begin(), b.end());
    };
    struct Row {
        std::string path;
        int code;
        std::string text;
    };
    const std::string rate = "has incompatible samplerate";
    const Row rows[] = {
        {wave("zero.wav", 0), kIncompatibleSampleRateErr, rate},
        {wave("huge.wav", 20'000'000), kIncompatibleSampleRateErr, rate},
        {wave("edge.wav", 10'000'001), kIncompatibleSampleRateErr, rate},
        // 1e8 Hz and half a hertz; the AIFF reader refuses infinite, NaN and
        // negative rates itself, under a code of its own with the same text.
        {aiff("huge.aif", bytes({0x40, 0x19, 0xBE, 0xBC, 0x20, 0, 0, 0, 0, 0})),
         kIncompatibleSampleRateErr, rate},
        {aiff("half.aif", bytes({0x3F, 0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0})),
         kIncompatibleSampleRateErr, rate},
        {aiff("inf.aif", bytes({0x7F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0})), kAIFFBadSampleRateErr, rate},
        {aiff("nan.aif", bytes({0x7F, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 0})), kAIFFBadSampleRateErr, rate},
        {aiff("minus.aif", bytes({0xC0, 0x0B, 0xFA, 0, 0, 0, 0, 0, 0, 0})), kAIFFBadSampleRateErr, rate},
    };
    for (const Row& row : rows) {
        const std::string name = fs::path(row.path).filename().string();
        SCOPED_TRACE(name);
        Strings warnings;
        EXPECT_EQ(Convert(row.path, Conversion("One"), &warnings),
                  Strings{"Failure " + name + " " + std::to_string(row.code)});
        EXPECT_EQ(warnings, Strings{"'" + name + "' " + row.text});
        EXPECT_EQ(Tree(out), Strings{"One"});
        fs::remove(row.path);
    }

    // The edges themselves are rates.
    for (uint32_t r : {1u, 10'000'000u}) {
        const std::string path = wave("fine.wav", r);
        EXPECT_EQ(Outcomes({path}, Conversion("One")), Strings{"Success fine.wav"}) << r;
        fs::remove(path);
    }
}

// A WAVE reader that finds no channels, which the real readers refuse themselves.
class NoChannelWave : public CWAVEFile {
public:
    OSErr Open() override {
        const OSErr err = CWAVEFile::Open();
        if (err == 0) channels_ = 0;
        return err;
    }
};

TEST_F(InputChecks, ANoChannelInputFailsInTheListAndInTheBatchWholeOrSnipped) {
    const std::string path = in + "/none.wav";
    Sox(path, "-r 8000 -c 1 -b 16");
    // WAVE files are read by the stand-in until the test ends.
    struct Swap {
        OSType wave = FourCC("WAVE");
        std::shared_ptr<const SoundFileDispatcher> saved = GetSoundFileDispatcher(wave);
        ~Swap() { AttachSoundFileDispatcher(CSoundFile::GetFileTypeInfo(), wave, saved); }
    } swap;
    auto swapped = std::make_shared<SoundFileDispatcher>();
    swapped->setCreateFunc(&Make<NoChannelWave>);
    ASSERT_TRUE(AttachSoundFileDispatcher(CSoundFile::GetFileTypeInfo(), swap.wave, swapped));
    for (bool snip : {false, true}) {
        SCOPED_TRACE(snip);
        Strings warnings;
        EXPECT_EQ(Convert(path, Conversion("One", [snip](ConvSpec& c) { c.setNeedsSnip(snip); }),
                          &warnings),
                  Strings{"Failure none.wav -22020"});
        EXPECT_EQ(warnings, Strings{"'none.wav' has incompatible # channels"});
        EXPECT_EQ(Tree(out), Strings{"One"});
    }
    QFSoundFile listed(path);
    EXPECT_FALSE(listed.isPlayable());
    EXPECT_EQ(listed.descriptor(), "has incompatible # channels");
}

TEST_F(InputChecks, RateConversionsPastTheFileLimitFailBeforeAnyOutput) {
    // 1 Hz mono 16-bit inputs to 44100 Hz: each frame becomes 44100 frames.
    const auto oneHertz = [this](const std::string& name, int frames) {
        const std::string path = in + "/" + name;
        fs::create_directories(in);
        ASSERT_TRUE(formattest::RunCommand("sox -r 8000 -n -c 1 -b 16 " + formattest::Quote(path) +
                                           " synth " + std::to_string(frames) + "s sine 1"));
        Patch(path, 24, LE32(1) + LE32(2));  // rate and bytes per second
    };
    const auto toCd = [](bool gain) {
        return Conversion("One", [gain](ConvSpec& c) {
            c.setNeedsSampleRateConversion(true);
            c.setSampleRate(44100);
            c.setNeedsGain(gain);
        });
    };
    // The refusal comes before the steps are counted; a run that gets that far
    // is cancelled, so that a missing refusal fails at once.
    int runs = 0;
    auto& center = platform::NotificationCenter::Default();
    const auto token =
        center.AddObserver(ProgressNumSteps, nullptr, [this, &runs](const platform::Notification&) {
            ++runs;
            process.setShouldStop(true);
        });
    // 25000 frames give 2.2 GB of output.
    oneHertz("long.wav", 25000);
    Strings warnings;
    EXPECT_EQ(Convert(in + "/long.wav", toCd(false), &warnings), Strings{"Failure long.wav -1309"});
    EXPECT_EQ(warnings, Strings{"'long.wav' is too large (2 GB or more)"});
    EXPECT_EQ(Tree(out), Strings{"One"});

    // 13000 frames give 1.15 GB of 16-bit output, but 2.3 GB in the 32-bit
    // temporary file between the conversion and the gain pass.
    oneHertz("mid.wav", 13000);
    EXPECT_EQ(Convert(in + "/mid.wav", toCd(true), &warnings), Strings{"Failure mid.wav -1309"});
    EXPECT_EQ(Tree(out), Strings{"One"});
    center.RemoveObserver(token);
    EXPECT_EQ(runs, 0);
}

TEST_F(InputChecks, AnyOutputPastTheFileLimitFailsBeforeAnythingIsMade) {
    // A µ-law WAVE header for `frames` frames, its data a hole in a sparse
    // file: nothing large is written, and nothing needs to be read.
    const auto uLaw = [this](const std::string& name, uint16_t channels, uint32_t frames) {
        const uint32_t bytes = frames * channels;
        const auto le16 = [](uint16_t v) { return std::string{char(v), char(v >> 8)}; };
        const std::string header = "RIFF" + LE32(36 + bytes) + "WAVEfmt " + LE32(16) + le16(7) +
                                   le16(channels) + LE32(8000) + LE32(8000u * channels) +
                                   le16(channels) + le16(8) + "data" + LE32(bytes);
        const std::string path = in + "/" + name;
        fs::create_directories(in);
        testsupport::WriteFile(path, header);
        fs::resize_file(path, header.size() + bytes);
        return path;
    };
    const std::string mono = uLaw("mono.wav", 1, 1'200'000'000);
    const std::string stereo = uLaw("stereo.wav", 2, 600'000'000);
    const auto aiff = [](short bits, int treatment) {
        return Conversion("One", [bits, treatment](ConvSpec& c) {
            c.setNeedsNewWordLength(true);
            c.setWordLength(bits);
            c.setNeedsChannelTreat(treatment != 0);
            c.setChannelTreat(treatment);
        });
    };
    struct Row {
        const char* what;
        std::string input;
        std::shared_ptr<ConvSpec> conversion;
    };
    const Row rows[] = {
        {"the word size", mono, aiff(16, 0)},
        {"the word size of two channels", stereo, aiff(16, 0)},
        {"a mono input made stereo", mono, aiff(8, 1)},
        {"a coded output's temporary file", mono,
         Conversion("One", [](ConvSpec& c) { c.setOutputFileType(FourCC("MSAP")); })},
    };
    // A run that gets as far as counting its steps is cancelled, so that a
    // missing refusal fails at once.
    int runs = 0;
    auto& center = platform::NotificationCenter::Default();
    const auto token =
        center.AddObserver(ProgressNumSteps, nullptr, [this, &runs](const platform::Notification&) {
            ++runs;
            process.setShouldStop(true);
        });
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Strings warnings;
        const std::string name = fs::path(row.input).filename().string();
        EXPECT_EQ(Convert(row.input, row.conversion, &warnings),
                  Strings{"Failure " + name + " -1309"});
        EXPECT_EQ(Tree(out), Strings{"One"});
    }
    center.RemoveObserver(token);
    EXPECT_EQ(runs, 0);
}

}  // namespace
}  // namespace enginetest
