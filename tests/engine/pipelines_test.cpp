// The group-0 pipelines through real batches: format changes sample-exact with
// sox on both sides, compaction and extraction against sox's trim, normalize
// against sox's, split pairs and surround sets in and out, the temporary file of
// the chained members, and the direct-coding path through a coder of the test's.
#include <cmath>
#include <cstdlib>

#include "conversion/qf_sound_file.h"
#include "engine/pipelines_group0.h"
#include "engine_test_support.h"
#include "formats/pcm/wave_file.h"
#include "foundation/pstring.h"
#include "foundation/xwqf.h"
#include "soundfile/coded_file.h"
#include "soundfile/registry.h"

namespace enginetest {
namespace {

using Pipelines = PipelineTest;

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
    Sox(dir / "plain.wav", "-r 8000 -c 2 -b 16");
    WithExtras(dir / "plain.wav", song,
               {{}, {{"A", 100, 300}, {"x/y", 500, 560}, {"..", 700, 800}}, {}});
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

// ---- The direct-coding path -------------------------------------------------

constexpr OSType kCoderType = FourCC("Tcod");
// Types that are never coded straight from the input, the coder standing in for them.
constexpr OSType kExcludedTypes[] = {FourCC("DADP"), FourCC("QTIF")};

// What the coders saw and what they are told to do; it outlives them.
struct CoderLog {
    int alive = 0;
    int closes = 0;
    int codings = 0;           // closes that coded from the source
    bool throwAtLoop = false;  // AddLoop runs out of memory
    std::string failRegion;    // AddRegion refuses the region of this name
    OSErr extendResult = 0;    // extending the name answers this
};
CoderLog gCoderLog;

// A format coded on close whose coding is plain to read: "Tcod <channels>
// <bits> <rate>", a line for each loop, region and marker it holds, "data",
// then every sample as 16-bit little-endian. Created with a source it codes
// from the source when closed, else from its temporary file.
class TestCoder : public CCodedFile {
public:
    TestCoder() { ++gCoderLog.alive; }
    ~TestCoder() override { --gCoderLog.alive; }

    OSErr Create(short channels, short wordSize, float rate, void* specifics,
                 const unsigned char* extension) override {
        if (OSErr err = Begin(channels, wordSize, rate, specifics, extension)) return err;
        return CreateTemporaryFile("com.quillfen.testcoder", channels, rate);
    }
    OSErr Create(CSoundFile* source, short channels, short wordSize, float rate, void* specifics,
                 const unsigned char* extension) override {
        if (OSErr err = Begin(channels, wordSize, rate, specifics, extension)) return err;
        source_ = source;
        // The output is as long as its source, so that the extras carried over fit.
        numFrames_ = source->GetNumSFrames();
        channels_ = static_cast<uint32_t>(channels);
        sampleRate_ = rate;
        wordSize_ = 16;
        open_ = true;
        return 0;
    }
    OSErr Close() override {
        if (!IsOpen()) return kFileNotOpenErr;
        ++gCoderLog.closes;
        Str255 step;
        pascalStringFromString("encoding to test", step);
        OSErr err = 0;
        if (!source_) {
            err = EncodeTemporaryFile(step);
        } else if (!discardOnClose_) {
            SetProgressStepWithoutSRC(step, 0);
            ++gCoderLog.codings;
            err = EncodeSource();
        }
        if (err == 0 && !discardOnClose_) testsupport::WriteFile(GetPath(), Contents());
        open_ = false;
        return err;
    }
    OSErr ExtendFileName(const unsigned char* extension) override {
        CSoundFile::ExtendFileName(extension);
        return gCoderLog.extendResult;
    }
    OSErr AddLoop(const SFTLoop* loop) override {
        if (gCoderLog.throwAtLoop) throw std::bad_alloc();
        return CSoundFile::AddLoop(loop);
    }
    OSErr AddRegion(const SFTRegion* region) override {
        if (stringFromPascalString(region->name) == gCoderLog.failRegion) return kParamErr;
        return CSoundFile::AddRegion(region);
    }
    OSErr Open() override { return kParamErr; }
    OSErr RefreshInputBuffer(uint32_t) override { return kParamErr; }
    OSErr SetFilePos(uint32_t) override { return 0; }
    OSErr GetOfflineInfo(OSErr* status) override { return *status = 0; }
    OSType GetFType() override { return kCoderType; }
    std::string GetDescription() override { return "Test coder"; }

protected:
    OSErr EncodeBlock(const int16_t* samples, uint32_t frames, uint32_t) override {
        for (size_t i = 0; i < size_t(frames) * channels_; ++i) Append(samples[i]);
        return 0;
    }

private:
    // The CSoundFile::Create step and the real output, made exclusively.
    OSErr Begin(short channels, short wordSize, float rate, void* specifics,
                const unsigned char* extension) {
        if (OSErr err = CCodedFile::Create(nullptr, channels, wordSize, rate, specifics, extension))
            return err;
        header_ = "Tcod " + std::to_string(channels) + " " + std::to_string(wordSize) + " " +
                  std::to_string(std::lround(rate)) + "\n";
        FSRef ref;
        return XWQF::CreateFile(GetPath(), &ref);
    }
    OSErr EncodeSource() {
        uint32_t n = source_->GetNumSFrames();
        std::vector<double> d(size_t(n) * channels_);
        if (OSErr err = source_->Read(0, &n, d.data())) return err;
        for (size_t i = 0; i < size_t(n) * channels_; ++i)
            Append(int16_t(std::clamp<long>(std::lround(d[i] * 32768.0), -32768, 32767)));
        return 0;
    }
    void Append(int16_t v) {
        data_ += char(uint16_t(v) & 0xFF);
        data_ += char(uint16_t(v) >> 8);
    }
    std::string Contents() {
        std::string text = header_;
        for (uint16_t i = 0; i < GetNumLoops(); ++i) {
            SFTLoop l{};
            GetIndLoop(i, &l);
            text += "loop " + std::to_string(l.start) + " " + std::to_string(l.end) + "\n";
        }
        for (uint16_t i = 0; i < GetNumRegions(); ++i) {
            SFTRegion r{};
            GetIndRegion(i, &r);
            text += "region " + stringFromPascalString(r.name) + " " + std::to_string(r.start) +
                    " " + std::to_string(r.end) + "\n";
        }
        for (uint16_t i = 0; i < GetNumMarkers(); ++i) {
            SFTMarker m{};
            GetIndMarker(i, &m);
            text += "marker " + stringFromPascalString(m.name) + " " + std::to_string(m.position) +
                    "\n";
        }
        return text + "data\n" + data_;
    }

    CSoundFile* source_ = nullptr;
    std::string header_, data_;
};

// WAVE files whose objects say they decode on open; the decoding itself is the
// plain reading, counted.
int gDecodes = 0;
class DecodingWave : public CWAVEFile {
public:
    using CWAVEFile::InitInputBuffer;
    bool NeedsDecodingOnOpen() override { return true; }
    OSErr InitInputBuffer(const std::string&) override {
        ++gDecodes;
        return InitInputBuffer();
    }
};

// A coded file read back: its lines before the samples, and its samples
// left-justified in 32 bits.
struct Coded {
    std::string lines;
    Samples samples;
    bool operator==(const Coded&) const = default;
};

void PrintTo(const Coded& c, std::ostream* os) {
    *os << ::testing::PrintToString(c.lines) << " and " << ::testing::PrintToString(c.samples);
}

Coded ReadCoded(const std::string& path) {
    const std::string bytes = testsupport::ReadFile(path);
    const size_t data = bytes.find("data\n");
    if (data == std::string::npos) return {bytes, {}};
    Coded c{bytes.substr(0, data), {}};
    for (size_t i = data + 5; i + 1 < bytes.size(); i += 2)
        c.samples.push_back(
            int32_t(uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 24));
    return c;
}

class DirectCoding : public Pipelines {
protected:
    void SetUp() override {
        Pipelines::SetUp();
        if (IsSkipped()) return;
        gCoderLog = CoderLog();
        gDecodes = 0;
        plist::Dictionary& table = CSoundFile::GetFileTypeInfo();
        plist::Dictionary row;
        row["canBeWritten"] = true;
        row["extension"] = "tcd";
        row["text"] = "Test coder";
        table[HFSTypeString(kCoderType)] = row;
        Swap(kCoderType, &Make<TestCoder>);
        for (OSType code : kExcludedTypes) Swap(code, &Make<TestCoder>);
    }
    void TearDown() override {
        for (const auto& [code, dispatcher] : saved_)
            AttachSoundFileDispatcher(CSoundFile::GetFileTypeInfo(), code, dispatcher);
        CSoundFile::GetFileTypeInfo().erase(HFSTypeString(kCoderType));
        Pipelines::TearDown();
        EXPECT_EQ(gCoderLog.alive, 0);
    }

    // Objects of `code` are made by `make` until the test ends.
    void Swap(OSType code, SoundFileDispatcher::CreateFunc make) {
        if (auto old = GetSoundFileDispatcher(code)) saved_.emplace(code, old);
        auto d = std::make_shared<SoundFileDispatcher>();
        d->setCreateFunc(make);
        ASSERT_TRUE(AttachSoundFileDispatcher(CSoundFile::GetFileTypeInfo(), code, d));
    }

    // A Sound Designer II file (`path` ends in ".sd2") of sox's tones made with
    // `soxArgs`, written by our writer with the extras; sox's samples of the tones.
    Samples Sd2Input(const std::string& path, const std::string& soxArgs,
                     const Extras& extras = {}) {
        Sox(dir / "plain.wav", soxArgs);
        WithExtras(dir / "plain.wav", path, extras);
        return SoxSamples(dir / "plain.wav");
    }

private:
    std::map<OSType, SoundFileDispatcherPtr> saved_;
};

// Which conversions of which inputs are coded straight from the input, and
// what the other ones get; every output is coded once, closed and renamed.
TEST_F(DirectCoding, TheConditionsChooseThePath) {
    const Strings direct = {"steps 1", "step encoding to test 0"};
    const Strings copy = {"steps 2", "step Copying/format change 0", "step encoding to test 0"};
    using Change = std::function<void(ConvSpec&)>;
    struct Row {
        const char* what;
        std::string input, soxArgs;  // ".sd2" inputs are written by our own writer
        Change change;
        Strings progress;
        std::string head;  // the coded file's first line; empty: the output is no coder's
        bool sameSamples;  // the coded samples are the input's
    };
    const std::string stereo = "-r 8000 -c 2 -b 16";
    const auto to = [](OSType type) { return [type](ConvSpec& c) { c.setOutputFileType(type); }; };
    const Change none = to(kCoderType);
    const Row rows[] = {
        {"16-bit Sd2", "a.sd2", stereo, none, direct, "Tcod 2 16 8000", true},
        {"new word length", "a.sd2", stereo,
         [&](ConvSpec& c) {
             none(c);
             c.setNeedsNewWordLength(true);
             c.setWordLength(8);
         },
         direct, "Tcod 2 8 8000", true},
        {"mono", "a.sd2", "-r 11025 -c 1 -b 16", none, direct, "Tcod 1 16 11025", true},
        {"fades", "a.sd2", stereo,
         [&](ConvSpec& c) {
             none(c);
             // Fades of no length: only the path is in question.
             c.setNeedsFades(true);
             c.setFadeInTime(0);
             c.setFadeOutTime(0);
         },
         copy, "Tcod 2 16 8000", true},
        {"snip", "a.sd2", stereo,
         [&](ConvSpec& c) {
             none(c);
             c.setNeedsSnip(true);
             c.setSnipFrom(0.02f);
             c.setSnipTo(0.05f);
         },
         copy, "Tcod 2 16 8000", false},
        {"24-bit Sd2", "a.sd2", "-r 8000 -c 2 -b 24", none, copy, "Tcod 2 24 8000", false},
        {"16-bit WAVE", "a.wav", stereo, none, copy, "Tcod 2 16 8000", true},
        {"16-bit AIFF", "a.aiff", stereo, none, copy, "Tcod 2 16 8000", true},
        {"excluded 'DADP'", "a.sd2", stereo, to(kExcludedTypes[0]), copy, "Tcod 2 16 8000", true},
        {"excluded 'QTIF'", "a.sd2", stereo, to(kExcludedTypes[1]), copy, "Tcod 2 16 8000", true},
        {"no strict type",
         "a.sd2",
         stereo,
         [](ConvSpec& c) { c.setNeedsStrictFileType(false); },
         {"steps 1", "step Copying/format change 0"},
         "",
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(in);
        const std::string input = in + "/" + row.input;
        Samples samples;
        if (row.input.ends_with(".sd2")) {
            samples = Sd2Input(input, row.soxArgs);
        } else {
            Sox(input, row.soxArgs);
            samples = SoxSamples(input);
        }
        gCoderLog.closes = 0;
        progress.clear();
        EXPECT_EQ(Outcomes({input}, Conversion("One", row.change)),
                  Strings{"Success " + row.input});
        // Reopening a temporary AIFF file announces its region-name check.
        progress.resize(std::min(progress.size(), row.progress.size()));
        EXPECT_EQ(progress, row.progress);
        const std::string stem = fs::path(row.input).stem().string();
        EXPECT_EQ(Files(out + "/One"), Strings{stem + (row.head.empty() ? ".sd2" : ".tcd")});
        if (row.head.empty()) {
            EXPECT_EQ(OurSamples(out + "/One/a.sd2"), OurSamples(input));
            continue;
        }
        EXPECT_EQ(gCoderLog.closes, 1);
        EXPECT_EQ(gCoderLog.alive, 0);
        const Coded coded = ReadCoded(out + "/One/" + stem + ".tcd");
        EXPECT_EQ(coded.lines, row.head + "\n");
        if (row.sameSamples) {
            EXPECT_EQ(coded.samples, samples);
        }
    }
}

// With the extras asked for, the direct output gets the input's loops, then
// regions, then markers; a list stops at its first failure and the lists after
// it are left out, while the output is still coded and kept.
TEST_F(DirectCoding, ExtrasAreCarriedUntilTheFirstFailure) {
    const Extras extras = {{{1, 100, 200, 0}, {2, 300, 400, 0}},
                           {{"A", 100, 300}, {"B", 500, 560}, {"C", 600, 700}},
                           {{"M1", 50}, {"M2", 750}}};
    const Samples samples = Sd2Input(in + "/a.sd2", "-r 8000 -c 2 -b 16", extras);
    const std::string head = "Tcod 2 16 8000\n";
    const std::string loops = "loop 100 200\nloop 300 400\n";
    const std::string markers = "marker M1 50\nmarker M2 750\n";
    struct Row {
        bool copyExtras;
        std::string failRegion;
        std::string lines;
    };
    const Row rows[] = {
        {false, "", ""},
        {true, "", loops + "region A 100 300\nregion B 500 560\nregion C 600 700\n" + markers},
        {true, "B", loops + "region A 100 300\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.failRegion + (row.copyExtras ? " extras" : " none"));
        gCoderLog.failRegion = row.failRegion;
        progress.clear();
        EXPECT_EQ(Outcomes({in + "/a.sd2"}, Conversion("One",
                                                       [&row](ConvSpec& c) {
                                                           c.setOutputFileType(kCoderType);
                                                           c.setCopyExtras(row.copyExtras);
                                                       })),
                  Strings{"Success a.sd2"});
        EXPECT_EQ(progress, (Strings{"steps 1", "step encoding to test 0"}));
        EXPECT_EQ(ReadCoded(out + "/One/a.tcd"), (Coded{head + row.lines, samples}));
    }
}

// After the output is created: a name that could not be extended is the
// run's result, and the coded output stays at its placeholder name; a failure
// while the extras are carried over discards the output uncoded.
TEST_F(DirectCoding, FailuresAfterCreateDisposeTheOutput) {
    // Without regions of its own the input gets one over the whole file.
    const Samples samples =
        Sd2Input(in + "/a.sd2", "-r 8000 -c 2 -b 16", {{{1, 100, 200, 0}}, {}, {}});
    const auto conversion = Conversion("One", [](ConvSpec& c) {
        c.setOutputFileType(kCoderType);
        c.setCopyExtras(true);
    });
    constexpr OSErr kNameNotExtended = -22021;
    gCoderLog.extendResult = kNameNotExtended;
    EXPECT_EQ(Outcomes({in + "/a.sd2"}, conversion),
              Strings{"Failure a.sd2 " + std::to_string(kNameNotExtended)});
    EXPECT_EQ(gCoderLog.codings, 1);
    const Strings left = Files(out + "/One");
    EXPECT_EQ(PlaceholdersShown(left), Strings{".CorvaOutFile-P-N.tcd"});
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(ReadCoded(out + "/One/" + left[0]),
              (Coded{"Tcod 2 16 8000\nloop 100 200\nregion a 0 800\n", samples}));

    gCoderLog = CoderLog();
    gCoderLog.throwAtLoop = true;
    EXPECT_EQ(Outcomes({in + "/a.sd2"}, conversion),
              Strings{"Failure a.sd2 " + std::to_string(kMemFullErr)});
    EXPECT_EQ(gCoderLog.closes, 1);
    EXPECT_EQ(gCoderLog.codings, 0);
    EXPECT_EQ(gCoderLog.alive, 0);
    EXPECT_EQ(Files(out + "/One"), Strings{});
}

// A split pair of Sound Designer II files takes the copy path into a set of
// coded files; a pair whose members decode on open is refused with -50 before
// anything is made, while a single such file is decoded and converted.
TEST_F(DirectCoding, SetsTakeTheCopyPathAndDecodingMembersAreRefused) {
    const Samples left = Sd2Input(in + "/p.L.sd2", "-r 8000 -c 1 -b 16");
    const Samples right = Sd2Input(in + "/p.R.sd2", "-r 8000 -c 1 -b 16");
    progress.clear();
    EXPECT_EQ(Outcomes({in + "/p.L.sd2"},
                       Conversion("One", [](ConvSpec& c) { c.setOutputFileType(kCoderType); })),
              Strings{"Success p.L.sd2"});
    EXPECT_EQ(Files(out + "/One"), (Strings{"p.L.tcd", "p.R.tcd"}));
    EXPECT_EQ(ReadCoded(out + "/One/p.L.tcd"), (Coded{"Tcod 1 16 8000\n", left}));
    EXPECT_EQ(ReadCoded(out + "/One/p.R.tcd"), (Coded{"Tcod 1 16 8000\n", right}));
    EXPECT_EQ(progress[0], "steps 2");

    fs::remove_all(in);
    Sox(in + "/w.L.wav", "-r 8000 -c 1 -b 16");
    Sox(in + "/w.R.wav", "-r 8000 -c 1 -b 16");
    Sox(in + "/s.wav", "-r 8000 -c 2 -b 16");
    Swap(FourCC("WAVE"), &Make<DecodingWave>);
    progress.clear();
    EXPECT_EQ(Outcomes({in + "/w.L.wav"}, Conversion("One")), Strings{"Failure w.L.wav -50"});
    EXPECT_EQ(progress, Strings{});  // refused before any step is counted
    EXPECT_EQ(gDecodes, 0);
    EXPECT_EQ(Tree(out), Strings{"One"});
    EXPECT_EQ(Outcomes({in + "/s.wav"}, Conversion("One")), Strings{"Success s.wav"});
    EXPECT_EQ(gDecodes, 1);
    EXPECT_EQ(SoxSamples(out + "/One/s.aif"), SoxSamples(in + "/s.wav"));
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

// A VAP file carries its own name in its header: the final one, not the
// placeholder the batch writes under.
TEST_F(Pipelines, CodedOutputsThatEmbedTheirNameGetTheFinalOne) {
    const std::string input = in + "/take.wav";
    Sox(input, "-r 8000 -c 1 -b 16");
    EXPECT_EQ(Outcomes({input}, Conversion("One", [](ConvSpec& c) {
                  c.setOutputFileType(FourCC("DVAP"));
              })),
              Strings{"Success take.wav"});
    const Strings files = Files(out + "/One");
    ASSERT_EQ(files.size(), 1u);
    std::ifstream f(out + "/One/" + files[0], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_NE(bytes.find(files[0]), std::string::npos) << files[0];
    EXPECT_EQ(bytes.find(".CorvaOutFile"), std::string::npos);
}

}  // namespace
}  // namespace enginetest
