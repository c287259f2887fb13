// The group-0 pipelines through real batches: format changes sample-exact with
// sox on both sides, compaction and extraction against sox's trim, normalize
// against sox's, split pairs and surround sets in and out, the temporary file of
// the chained members, and the direct-coding path through a coder of the test's.
#include <cmath>
#include <cstdlib>

#include "conversion/qf_sound_file.h"
#include "engine/pipelines_group0.h"
#include "engine_test_support.h"
#include "foundation/pstring.h"
#include "soundfile/coded_file.h"
#include "soundfile/registry.h"

namespace enginetest {
namespace {

using Strings = std::vector<std::string>;
using Samples = std::vector<int32_t>;
using formattest::Quote;

// Every sample of a file, left-justified in 32 bits, read by sox after `effects`.
Samples SoxSamples(const std::string& path, const std::string& effects = "") {
    std::string raw;
    EXPECT_TRUE(formattest::RunCommand(
        "sox " + Quote(path) + " -t raw -e signed -b 32 -L - " + effects, &raw))
        << path;
    Samples s(raw.size() / 4);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = int32_t(uint32_t(uint8_t(raw[4 * i])) | uint32_t(uint8_t(raw[4 * i + 1])) << 8 |
                       uint32_t(uint8_t(raw[4 * i + 2])) << 16 |
                       uint32_t(uint8_t(raw[4 * i + 3])) << 24);
    return s;
}

// Every sample of a file, left-justified in 32 bits, read by our own reader.
Samples OurSamples(const std::string& path, double* rate = nullptr) {
    short code = 0;
    SoundFilePtr f = QFSoundFile(path).createSoundFile(&code);
    if (!f || f->Open()) {
        ADD_FAILURE() << "cannot open " << path;
        return {};
    }
    if (rate) *rate = f->GetSampleRate();
    uint32_t n = f->GetNumSFrames();
    std::vector<double> d(size_t(n) * size_t(f->GetNumChannels()));
    EXPECT_EQ(f->Read(0, &n, d.data()), 0);
    Samples s(d.size());
    for (size_t i = 0; i < d.size(); ++i) s[i] = int32_t(std::lround(d[i] * 2147483648.0));
    return s;
}

// The files of a folder, sidecars left out.
Strings Files(const std::string& folder) {
    Strings names;
    for (const auto& e : fs::directory_iterator(folder))
        if (!e.path().filename().string().starts_with("._"))
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Pipelines : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        if (IsSkipped()) return;
        auto& center = platform::NotificationCenter::Default();
        for (const char* name : {ProgressNumSteps, ProgressStep, ProgressRegion})
            tokens_.push_back(
                center.AddObserver(name, nullptr, [this, name](const platform::Notification& n) {
                    // What comes before the pipeline's step count is not its own.
                    if (name == ProgressNumSteps || !progress.empty())
                        progress.push_back(Describe(name, n.object));
                }));
    }
    void TearDown() override {
        for (auto t : tokens_) platform::NotificationCenter::Default().RemoveObserver(t);
        EngineTest::TearDown();
    }

    static std::string Describe(const std::string& name, const plist::Value& v) {
        if (name == ProgressNumSteps) return "steps " + std::to_string(v.asInteger());
        const plist::Array& a = *v.array();
        return (name == ProgressStep ? "step " : "region ") + a[0].asString() + " " +
               std::to_string(a[1].asInteger());
    }

    // The one output of a conversion folder (sidecars aside).
    std::string OnlyOutput(const std::string& folder) {
        const Strings names = Files(folder);
        EXPECT_EQ(names.size(), 1u) << folder;
        return names.empty() ? std::string() : folder + "/" + names.front();
    }

    // A WAVE file of sox's tones at `path` (ending in ".wav") with the given
    // regions (name, start, end).
    void WithRegions(const std::string& path,
                     const std::vector<std::tuple<std::string, int, int>>& regions) {
        Sox(dir / "plain.wav", "-r 8000 -c 2 -b 16");
        short code = 0;
        SoundFilePtr plain = QFSoundFile(dir / "plain.wav").createSoundFile(&code);
        ASSERT_EQ(plain->Open(), 0);
        std::vector<uint8_t> bytes;
        ASSERT_EQ(formattest::ReadAllFrames(*plain, &bytes), 0);
        SoundFilePtr f(CSoundFile::CreateSoundFile(FourCC("Sd2f")));
        ASSERT_EQ(f->ISoundFile(path.substr(0, path.size() - 4)), 0);
        Str255 ext;
        pstrcpy(std::string("sd2"), ext);
        ASSERT_EQ(f->Create(2, 16, 8000, nullptr, ext), 0);
        ASSERT_EQ(formattest::WriteBufferForm(*f, 0, bytes), 0);
        int32_t id = 1;
        for (const auto& [name, start, end] : regions) {
            SFTRegion r{id++, start, end, start, 0, {}};
            pstrcpy(name, r.name);
            ASSERT_EQ(f->AddRegion(&r), 0);
        }
        ASSERT_EQ(f.release()->Dispose(1), 0);
        CorvaOutFile::Clear();
    }

    Strings progress;

private:
    std::vector<platform::NotificationCenter::Token> tokens_;
};

TEST_F(Pipelines, FormatChangesKeepEverySampleBothWays) {
    struct Row {
        std::string input, soxArgs;  // no sox arguments: the previous row's output
        OSType type;
        std::string output;
    };
    const Row rows[] = {
        {"a.wav", "-r 8000 -c 2 -b 16", FourCC("AIFF"), "a.aif"},
        {"b.aiff", "-r 44100 -c 1 -b 24", FourCC("WAVE"), "b.wav"},
                {"f.wav", "-r 22050 -c 2 -b 16", FourCC("NxTS"), "f.snd"},
        {"d.au", "-r 8000 -c 6 -b 24", FourCC("caff"), "d.caf"},
        {"e.wav", "-r 32000 -c 2 -b 24", FourCC("Sd2f"), "e.sd2"},
        {"", "", FourCC("WAVE"), "e.wav"},  // the Sound Designer II file back
    };
    std::string previous;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.output);
        const std::string input = row.soxArgs.empty() ? previous : in + "/" + row.input;
        if (!row.soxArgs.empty()) Sox(input, row.soxArgs);
        const Samples expected = row.soxArgs.empty() ? OurSamples(input) : SoxSamples(input);
        ASSERT_FALSE(expected.empty());
        progress.clear();
        EXPECT_EQ(Outcomes({input}, Conversion("One", [&row](ConvSpec& c) {
                               c.setOutputFileType(row.type);
                           })),
                  Strings{"Success " + fs::path(input).filename().string()});
        EXPECT_EQ(Files(out + "/One"), Strings{row.output});
        EXPECT_EQ(progress, (Strings{"steps 1", "step Copying/format change 0"}));
        const std::string output = out + "/One/" + row.output;
        EXPECT_EQ(row.output.ends_with(".sd2") ? OurSamples(output) : SoxSamples(output), expected);
        previous = dir / row.output;
        fs::copy_file(output, previous, fs::copy_options::overwrite_existing);
        if (fs::exists(out + "/One/._" + row.output))
            fs::copy_file(out + "/One/._" + row.output, dir / ("._" + row.output),
                          fs::copy_options::overwrite_existing);
    }
}

TEST_F(Pipelines, RegionsAreCompactedOrExtractedWithTheirExactSamples) {
    const std::string song = in + "/Song.sd2";
    WithRegions(song, {{"A", 100, 300}, {"x/y", 500, 560}, {"..", 700, 800}});
    const auto trim = [&](int s, int e) {
        return SoxSamples(dir / "plain.wav", "trim " + std::to_string(s) + "s =" + std::to_string(e) + "s");
    };
    const Samples a = trim(100, 300), b = trim(500, 560), c = trim(700, 800);
    Samples all = a;
    all.insert(all.end(), b.begin(), b.end());
    all.insert(all.end(), c.begin(), c.end());
    const std::map<std::string, Samples> extracted = {
        {"A.wav", a}, {"x-y.wav", b}, {"Region 3.wav", c}};

    // Compaction: the regions back to back.
    EXPECT_EQ(Outcomes({song}, Conversion("One", [](ConvSpec& c) {
                           c.setOutputFileType(FourCC("WAVE"));
                           c.setNeedsStrip(true);
                           c.setStripMargin(0);
                       })),
              Strings{"Success Song.sd2"});
    EXPECT_EQ(SoxSamples(out + "/One/Song.wav"), all);

    // Extraction: a folder named after the input with one file per region.
    progress.clear();
    const auto extraction = Conversion("One", [](ConvSpec& c) {
        c.setOutputFileType(FourCC("WAVE"));
        c.setNeedsExtraction(true);
    });
    EXPECT_EQ(Outcomes({song}, extraction), Strings{"Success Song.sd2"});
    EXPECT_EQ(Files(out + "/One/Song"), (Strings{"A.wav", "Region 3.wav", "x-y.wav"}));
    for (const auto& [name, samples] : extracted)
        EXPECT_EQ(SoxSamples(out + "/One/Song/" + name), samples) << name;
    EXPECT_EQ(progress, (Strings{"steps 1", "step Copying/format change 0",
                                 "step Copying/format change 0", "region A 100",
                                 "step Copying/format change 0", "region x-y 500",
                                 "step Copying/format change 0", "region .. 700"}));

    // A second run meets the folder; the regions of the first stay.
    posted.clear();
    Run({song}, {extraction});
    EXPECT_EQ(Names()[2], "Failure Song.sd2 -48");
    EXPECT_EQ(Files(out + "/One/Song").size(), 3u);

    // Without regions (none made up for it), nothing is made.
    Sox(in + "/bare.wav");
    const bool wholeFile = CSoundFile::GetProcessFileIfNoRegions();
    CSoundFile::SetProcessFileIfNoRegions(false);
    for (bool strip : {true, false}) {
        EXPECT_EQ(Outcomes({in + "/bare.wav"}, Conversion("One",
                                                          [strip](ConvSpec& c) {
                                                              c.setNeedsStrip(strip);
                                                              c.setNeedsExtraction(!strip);
                                                          })),
                  Strings{"Failure bare.wav -20000"});
        EXPECT_EQ(Tree(out), Strings{"One"});
    }
    CSoundFile::SetProcessFileIfNoRegions(wholeFile);
}

// Normalize to -3 dB alone (sox's "gain -n -3" within two 16-bit steps: the
// divisor keeps half a step of headroom) and after a rate conversion, whose
// temporary file is gone afterwards while a user's file named like it stays.
TEST_F(Pipelines, GainAndRateConversionWithTheirTemporaryFile) {
    Sox(in + "/a.wav", "-r 8000 -c 2 -b 16");
    const Samples sox = SoxSamples(in + "/a.wav", "gain -n -3");
    for (bool rate : {false, true}) {
        SCOPED_TRACE(rate);
        progress.clear();
        const auto conv = Conversion("One", [rate](ConvSpec& c) {
            c.setOutputFileType(FourCC("WAVE"));
            c.setNeedsGain(true);
            c.setNeedsNormalize(true);
            c.setCeiling(-3);
            c.setNeedsSampleRateConversion(rate);
            c.setSampleRate(16000);
        });
        EXPECT_EQ(Outcomes({in + "/a.wav"}, conv, EngineSettings(), {"TempFile"}),
                  Strings{"Success a.wav"});
        EXPECT_EQ(Files(out + "/One"), (Strings{"TempFile", "a.wav"}));
        EXPECT_EQ(testsupport::ReadFile(out + "/One/TempFile"), "mine");
        double outRate = 0;
        const Samples ours = OurSamples(out + "/One/a.wav", &outRate);
        EXPECT_EQ(outRate, rate ? 16000 : 8000);
        int32_t peak = 0;
        for (int32_t v : ours) peak = std::max(peak, v == INT32_MIN ? INT32_MAX : std::abs(v));
        EXPECT_NEAR(peak / 2147483648.0, std::pow(10.0, -3.0 / 20), 2.0 / 32768);
        if (rate) {
            progress.resize(std::min<size_t>(progress.size(), 4));  // reading it back follows
            EXPECT_EQ(progress, (Strings{"steps 3", "step Sample rate conversion 0",
                                         "step Scanning file 0",
                                         "step Dynamics/gain processing 0"}));
            continue;
        }
        ASSERT_EQ(ours.size(), sox.size());
        for (size_t i = 0; i < ours.size(); ++i)
            ASSERT_NEAR(ours[i] >> 16, sox[i] >> 16, 2) << i;
    }
}

// A split pair and a 5.1 set come out as sets of the output type, member by
// member equal to their inputs.
TEST_F(Pipelines, SplitPairsAndSurroundSetsInAndOut) {
    const Strings pair = {".L", ".R"}, surround = {".L", ".R", ".C", ".LFE", ".Ls", ".Rs"};
    for (const Strings* members : {&pair, &surround}) {
        const std::string name = members == &pair ? "p" : "s";
        Strings expected;
        for (const std::string& m : *members) {
            Sox(in + "/" + name + m + ".wav", "-r 8000 -c 1 -b 16");
            expected.push_back(name + m + ".aif");
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Outcomes({in + "/" + name + ".L.wav"}, Conversion("One")),
                  Strings{"Success " + name + ".L.wav"});
        EXPECT_EQ(Files(out + "/One"), expected);
        for (const std::string& m : *members)
            EXPECT_EQ(SoxSamples(out + "/One/" + name + m + ".aif"),
                      SoxSamples(in + "/" + name + m + ".wav"))
                << m;
    }
}

TEST(RegionFileName, NoNameReachesAPathAsSomethingElse) {
    const std::pair<std::string, std::string> rows[] = {
        {"Verse", "Verse"},           {"a/b", "a:b"},           {std::string("a\0b", 3), "ab"},
        {"", "Region 4"},             {".", "Region 4"},        {"..", "Region 4"},
        {"...", "..."},               {"\x8A" "ccord", "äccord"}, {std::string(1, '\0'), "Region 4"},
    };
    for (const auto& [name, file] : rows) {
        unsigned char p[32] = {static_cast<unsigned char>(name.size())};
        std::memcpy(p + 1, name.data(), name.size());
        EXPECT_EQ(RegionFileName(p, 3), file) << name;
    }
}

}  // namespace
}  // namespace enginetest
