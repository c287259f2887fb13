// The case code and its dispatch, the Creative Voice checks before a run (block
// count, size estimates and the region walk behind them), the nearest Creative
// Voice rates against our writer and sox, and the snip window.
#include "engine/case_dispatch.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>

#include "engine/conversion_process.h"
#include "formats/format_test_support.h"
#include "formats/pcm/voc_file.h"
#include "soundfile/memory_sound_file.h"
#include "soundfile/progress.h"
#include "soundfile/snippet_file.h"
#include "test_support.h"

namespace {

using testsupport::MemorySoundFile;

constexpr int kNone = -1;

// An input of any description without sample storage; its frame count can
// shrink below regions added earlier, and it can stand on a real fork.
class FakeInput : public MemorySoundFile {
public:
    FakeInput(short channels, short bits, double rate, OSType type)
        : MemorySoundFile(channels, bits, 0, rate, kDataTypePCM, type) {}
    ~FakeInput() override { forkRef_ = XWQF::kNoFork; }
    void SetFrameCount(uint32_t frames) { numFrames_ = frames; }
    void SetFork(int fork) { forkRef_ = fork; }
    void Region(int32_t start, int32_t end) {
        SFTRegion r{};
        r.start = start;
        r.end = end;
        r.id = static_cast<int32_t>(GetNumRegions()) + 1;
        r.name[0] = 1;
        r.name[1] = static_cast<unsigned char>('a' + GetNumRegions());
        ASSERT_EQ(AddRegion(&r), 0);
    }
};

int gCalled = kNone;
template <int N>
OSErr Recorder(CSoundFile*, CConvSpec*) {
    gCalled = N;
    return 0;
}

// Every place of the table holds a recorder of its own code while a test runs.
class Dispatch : public ::testing::Test {
protected:
    void SetUp() override { Fill(std::make_integer_sequence<int, kNumCaseCodes>()); }
    void TearDown() override {
        for (int code = 0; code < kNumCaseCodes; ++code) SetPipeline(code, saved_[size_t(code)]);
    }

private:
    template <int... N>
    void Fill(std::integer_sequence<int, N...>) {
        ((saved_[N] = SetPipeline(N, &Recorder<N>)), ...);
    }
    std::array<PipelineFunc, kNumCaseCodes> saved_{};
};

TEST_F(Dispatch, OptionsGiveTheCaseCodeAndItsPipeline) {
    struct Row {
        bool rate, gain, strip, extract;
        int treat;  // kNone: no channel treatment asked for
        double inputRate;
        int called;  // kNone: -50, no pipeline
    };
    const Row rows[] = {
        {false, false, false, false, kNone, 44100, 0},
        {true, false, false, false, kNone, 22050, 1},
        {true, false, false, false, kNone, 44100, 0},  // already at the target rate
        {true, true, false, false, 1, 44100, 18},
        {false, false, false, false, 0, 44100, 0},  // treatment 0 is group 0
        {true, true, true, false, kChannelTreatLeftOnly, 48000, 71},
        {true, true, false, true, kChannelTreatOnlyPairsToInterleaved, 8000, 107},
        {false, false, true, true, kNone, 44100, kNone},  // strip and extraction
        {true, true, true, true, kChannelTreatSplit, 8000, kNone},
        {false, false, false, false, kChannelTreatMPEGJointStereo, 44100, kNone},
        {false, false, false, false, kChannelTreatMPEGSeparateStereo, 44100, kNone},
        {false, false, false, false, -2, 44100, kNone},
    };
    for (const Row& row : rows) {
        auto conv = std::make_shared<ConvSpec>();
        conv->setNeedsSampleRateConversion(row.rate);
        conv->setSampleRate(44100);
        conv->setNeedsGain(row.gain);
        conv->setNeedsStrip(row.strip);
        conv->setNeedsExtraction(row.extract);
        conv->setNeedsChannelTreat(row.treat != kNone);
        conv->setChannelTreat(row.treat == kNone ? int64_t(kChannelTreatSplit) : row.treat);
        conv->setHasValidMax(true);
        CConvSpec spec(conv);
        MemorySoundFile in(2, 16, 10, row.inputRate);
        gCalled = kNone;
        EXPECT_EQ(spec.Run(&in), row.called == kNone ? kParamErr : 0) << row.called;
        EXPECT_EQ(gCalled, row.called);
        EXPECT_FALSE(conv->hasValidMax());
    }
    // Low parts 12 to 15 never hold a pipeline.
    EXPECT_EQ(SetPipeline(12, &Recorder<12>), nullptr);
    EXPECT_EQ(GetPipeline(12), nullptr);
}

// A Creative Voice file: the header, then the given blocks.
std::string Voc(const std::string& blocks, uint16_t firstBlock = 26) {
    std::string header = "Creative Voice File\x1A";
    header += char(firstBlock & 0xFF);
    header += char(firstBlock >> 8);
    header += "\x0A\x01\x29\x11";
    return header + blocks;
}
std::string Block(uint8_t type, size_t length) {
    std::string b{char(type), char(length & 0xFF), char((length >> 8) & 0xFF), char(length >> 16)};
    return b + std::string(length, '\x80');
}
const std::string kEnd(1, '\0');

TEST(VocBlocks, SoundBlocksAreCountedUpToTheTerminator) {
    const std::pair<std::string, int> rows[] = {
        {Voc(Block(1, 10) + kEnd), 0},
        {Voc(Block(1, 10) + Block(1, 4) + kEnd), kVocFragmentedInputErr},
        {Voc(Block(1, 10) + kEnd + std::string(3, '\0') + Block(1, 4) + kEnd), 0},
        {Voc(Block(3, 3) + Block(1, 10)), kVocFragmentedInputErr},
        {Voc(Block(5, 6) + Block(1, 10) + Block(4, 2) + kEnd), 0},
        {Voc(Block(1, 0) + Block(6, 0)), kVocFragmentedInputErr},
        {Voc(""), 0},
        {Voc(Block(1, 10), 4000), 0},
        {Voc(Block(1, 1000).substr(0, 50)), 0},
        {Voc(std::string(10, '\0')).substr(0, 21), 0},
    };
    testsupport::TempDir dir;
    for (const auto& [bytes, expected] : rows) {
        testsupport::WriteFile(dir / "in.voc", bytes);
        FSRef ref{dir / "in.voc"};
        int fork = XWQF::kNoFork;
        ASSERT_EQ(XWQF::OpenFork(&ref, XWQF::kPermRead, &fork), 0);
        EXPECT_EQ(CheckForMultipleDataBlocksInVocFile(fork), expected) << bytes.size();
        XWQF::CloseFork(fork);
    }
}

TEST(ResolveForRun, RefusesWhatACreativeVoiceBlockCannotHold) {
    struct Row {
        const char* what;
        OSType out;
        short channels, bits;
        double rate;  // the input's; the conversion's is 44100 Hz
        uint32_t frames;
        std::vector<std::pair<int32_t, int32_t>> regions;
        bool strip, extract;
        float margin;                 // milliseconds
        uint32_t framesAfterRegions;  // 0: as `frames`
        int expected;
    };
    constexpr OSType kVoc = FourCC("VOC "), kAiff = FourCC("AIFF");
    const Row rows[] = {
        {"plain, at the limit", kVoc, 1, 8, 44100, 0xFFFFFF, {}, false, false, 100, 0, 0},
        {"plain, one frame more", kVoc, 1, 8, 44100, 0x1000000, {}, false, false, 100, 0,
         kVocOutputTooLargeErr},
        {"plain counts frames only", FourCC("VOC2"), 1024, 32, 44100, 0xFFFFFF, {}, false, false,
         100, 0, 0},
        {"other output", kAiff, 2, 16, 44100, 0x7FFFFFFF, {}, false, false, 100, 0, 0},
        {"compacted, downsampled", kVoc, 2, 16, 88200, 0xFFFFFF, {{0, 0xFFFFFF}}, true, false,
         100, 0, 0},
        {"compacted, too long", kVoc, 1, 16, 44100, 10000000, {{0, 9000000}}, true, false, 100,
         0, kVocOutputTooLargeErr},
        {"compacted, beyond 32 bits", kVoc, 1024, 32, 44100, 1 << 20, {{0, 1 << 20}}, true,
         false, 0, 0, kVocOutputTooLargeErr},
        {"compacted, the margin before frame 0 counts", kVoc, 1, 16, 1000, 10000000,
         {{0, 8388500}}, true, false, 100, 0, kVocOutputTooLargeErr},
        {"compacted, empty, inverted and past the end", kVoc, 1, 8, 1000, 100000,
         {{10, 10}, {500, 400}, {600, 600}, {50000, 60000}}, true, false, 100, 1000, 0},
        {"compacted, no regions", kVoc, 1, 8, 44100, 1000, {}, true, false, 100, 0, 0},
        {"extraction, longest region too long", kVoc, 1, 16, 44100, 30000000,
         {{0, 10}, {100, 9000100}}, false, true, 100, 0, kVocOutputTooLargeErr},
        {"extraction, frames alone do not count", kVoc, 1, 16, 44100, 30000000,
         {{0, 8000000}}, false, true, 100, 0, 0},
    };
    for (const Row& row : rows) {
        FakeInput in(row.channels, row.bits, row.rate, kAiff);
        in.SetFrameCount(row.frames);
        for (auto [s, e] : row.regions) in.Region(s, e);
        if (row.framesAfterRegions) in.SetFrameCount(row.framesAfterRegions);
        auto conv = std::make_shared<ConvSpec>();
        conv->setNeedsStrictFileType(true);
        conv->setOutputFileType(row.out);
        conv->setNeedsNewWordLength(false);
        conv->setNeedsChannelTreat(false);
        conv->setNeedsSampleRateConversion(true);
        conv->setSampleRate(44100);
        conv->setStripMargin(row.margin);
        conv->setNeedsStrip(row.strip);
        conv->setNeedsExtraction(row.extract);
        CConvSpec spec(conv);
        EXPECT_EQ(ResolveForRun(&in, &spec), row.expected) << row.what;
    }
}

TEST(ResolveForRun, AFragmentedVocInputIsRefusedWhateverItIsWrappedIn) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "in.voc", Voc(Block(1, 10) + Block(1, 10) + kEnd));
    FSRef ref{dir / "in.voc"};
    int fork = XWQF::kNoFork;
    ASSERT_EQ(XWQF::OpenFork(&ref, XWQF::kPermRead, &fork), 0);
    using Row = std::tuple<OSType, uint32_t, int>;
    for (auto [out, frames, expected] : {Row{FourCC("AIFF"), 20, kVocFragmentedInputErr},
                                         Row{FourCC("VOC "), 0x1000000, kVocOutputTooLargeErr}}) {
        auto conv = std::make_shared<ConvSpec>();
        conv->setNeedsStrictFileType(true);
        conv->setOutputFileType(out);
        conv->setNeedsSampleRateConversion(false);
        CConvSpec spec(conv);
        CSnippetFile snippet;  // owns the input
        snippet.SetInnerFile(new FakeInput(1, 8, 8000, FourCC("VOC ")));
        auto* in = static_cast<FakeInput*>(snippet.GetInnerFile());
        in->SetFork(fork);
        in->SetFrameCount(frames);
        EXPECT_EQ(ResolveForRun(in, &spec), expected);
        EXPECT_EQ(ResolveForRun(&snippet, &spec), kVocFragmentedInputErr);
    }
    XWQF::CloseFork(fork);
}

TEST(SnipWindow, StartsPastTheEndKeepTheirLengthAndInvertedWindowsFail) {
    struct Row {
        float from, to;
        int expected;
        uint32_t start, end;
    };
    // A 15 s input at 1000 Hz.
    const Row rows[] = {
        {10, 20, 0, 10000, 15000}, {20, 30, 0, 5000, 15000}, {5, -1, 0, 5000, 15000},
        {0, 2.5f, 0, 0, 2500},     {-3, 2, 0, 0, 2000},      {12, 11, kParamErr, 0, 0},
        {30, 20, kParamErr, 0, 0}, {30, -1, kParamErr, 0, 0},
    };
    for (const Row& row : rows) {
        uint32_t start = 0, end = 0;
        EXPECT_EQ(ConversionProcess::SnipWindow(15000, 1000.0, row.from, row.to, &start, &end),
                  row.expected)
            << row.from << " " << row.to;
        if (row.expected == 0) {
            EXPECT_EQ(std::pair(start, end), std::pair(row.start, row.end));
        }
    }
}

// The smallest single-precision rate at or above `rate`: what a writer given it
// makes of a constant's exact rate is that constant, not the one below.
float RateAtOrAbove(double rate) {
    float f = static_cast<float>(rate);
    if (f < rate) f = std::nextafter(f, std::numeric_limits<float>::infinity());
    return f;
}

TEST(ClosestVocRates, AgreeWithTheWriterAndSoxOnEveryConstantUpToTheirLimits) {
    if (!testsupport::HaveProgram("sox")) GTEST_SKIP() << "sox is needed";
    testsupport::TempDir dir;
    struct Written {
        std::string path;
        uint32_t closest;
        bool soxReads;  // sox refuses constant 0 ("Sample rate is zero?")
    };
    std::vector<Written> written;
    const auto* extension = reinterpret_cast<const unsigned char*>("\x03voc");
    // A file of the writer at the constant's exact rate: its stored constant,
    // and the rate our reader takes from it.
    const auto write = [&](bool extended, uint32_t constant) {
        const double exact =
            extended ? 256000000.0 / (65536 - constant) / 2 : 1000000.0 / (256 - constant);
        const float rate = RateAtOrAbove(exact);
        const uint32_t closest = extended ? ClosestVOC16SRate(rate) : ClosestVOCSRate(rate);
        std::unique_ptr<CSoundFile> f(extended ? static_cast<CSoundFile*>(new CVOC_SBFile)
                                               : new CVOCFile);
        const short channels = extended ? 2 : 1;
        ASSERT_EQ(f->ISoundFile(dir / ((extended ? "w" : "b") + std::to_string(constant))), 0);
        ASSERT_EQ(f->Create(channels, extended ? 16 : 8, rate, nullptr, extension), 0) << rate;
        ASSERT_EQ(formattest::WriteBufferForm(*f, 0, std::vector<uint8_t>(channels * 16, 0x40)), 0);
        ASSERT_EQ(f->Close(), 0);
        const std::string path = f->GetPath();
        CorvaOutFile::Clear();
        // The first block's constant follows its 4-byte head at byte 26.
        const std::string bytes = testsupport::ReadFile(path);
        ASSERT_GT(bytes.size(), 32u);
        const uint32_t stored =
            extended ? uint8_t(bytes[30]) | uint32_t(uint8_t(bytes[31])) << 8 : uint8_t(bytes[30]);
        EXPECT_EQ(stored, constant) << rate;
        std::unique_ptr<CSoundFile> back(extended ? static_cast<CSoundFile*>(new CVOC_SBFile)
                                                  : new CVOCFile);
        ASSERT_EQ(back->ISoundFile(path), 0);
        ASSERT_EQ(back->Open(), 0) << path;
        EXPECT_EQ(static_cast<uint32_t>(back->GetSampleRate()), closest) << rate;
        back->Close();
        written.push_back({path, closest, constant != 0});
    };
    // Every 8-bit constant up to 20000 Hz (206), and 16-bit ones from 1953 Hz
    // up to 44100 Hz (62633) in steps, with both ends.
    for (uint32_t constant = 0; constant <= 206; ++constant) write(false, constant);
    for (uint32_t constant = 0; constant < 62633; constant += 251) write(true, constant);
    for (uint32_t constant : {62632u, 62633u}) write(true, constant);
    if (HasFatalFailure()) return;

    std::string command = "soxi -r";
    for (const Written& w : written)
        if (w.soxReads) command += " " + formattest::Quote(w.path);
    std::string out;
    ASSERT_TRUE(formattest::RunCommand(command, &out));
    std::istringstream lines(out);
    for (const Written& w : written) {
        if (!w.soxReads) continue;
        double soxRate = 0;
        ASSERT_TRUE(lines >> soxRate) << w.path;
        // sox keeps the fraction the whole hertz drop; it prints six digits.
        EXPECT_GE(soxRate, w.closest - 0.05) << w.path;
        EXPECT_LT(soxRate, w.closest + 1.05) << w.path;
    }
    // Rates between constants take the nearer one.
    EXPECT_EQ(ClosestVOCSRate(8000), 8000u);
    EXPECT_EQ(ClosestVOCSRate(11025), 10989u);
    EXPECT_EQ(ClosestVOC16SRate(22050), 22049u);
    EXPECT_EQ(ClosestVOC16SRate(44100), 44092u);
}

TEST(ClosestVocRates, StepOneConstantFurtherAboveTheirLimitsAndStayWithinTheirConstants) {
    const std::pair<double, uint32_t> eightBit[] = {
        {20000, 20000}, {20001, 20000}, {20408, 20833},       {22050, 22727},      {44100, 45454},
        {48000, 50000}, {1e6, 1000000}, {1e7, 1000000},       {HUGE_VAL, 1000000}, {3000, 3906},
        {0, 3906},      {-8000, 3906},  {std::nan(""), 3906},
    };
    for (const auto& [rate, closest] : eightBit) EXPECT_EQ(ClosestVOCSRate(rate), closest) << rate;
    const std::pair<double, uint32_t> sixteenBit[] = {
        {44101, 44092}, {48000, 47976}, {96000, 95952}, {3e8, 64000000},      {HUGE_VAL, 64000000},
        {1000, 1953},   {0, 1953},      {-44100, 1953}, {std::nan(""), 1953},
    };
    for (const auto& [rate, closest] : sixteenBit)
        EXPECT_EQ(ClosestVOC16SRate(rate), closest) << rate;
}

}  // namespace
