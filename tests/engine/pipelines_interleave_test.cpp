// The channel-treatment pipelines through real batches: interleave, split, mix,
// left and right against sox's merges and remixes; every treatment with every
// low case bit over a mono file, a stereo file, a split pair, a 6-channel file
// and a 5.1 surround set against the group-0 conversion of what each should
// equal; step announcements where members depart from group 0; a failed
// decoding on open in every group.
#include <regex>

#include "engine/pipelines_group0.h"
#include "engine_test_support.h"
#include "formats/pcm/wave_file.h"
#include "foundation/pstring.h"
#include "soundfile/registry.h"

namespace enginetest {
namespace {

constexpr int kLsb16 = 1 << 16;  // one 16-bit step, left-justified in 32 bits

// The members of the 5.1 set, in channel order.
const Strings kSurround = {"L", "R", "C", "LFE", "Ls", "Rs"};

// The sox command's samples, left-justified in 32 bits: `inputs` as sox's
// arguments before the output, `effects` after it.
Samples SoxOf(const std::string& inputs, const std::string& effects = "") {
    std::string raw;
    EXPECT_TRUE(
        formattest::RunCommand("sox " + inputs + " -t raw -e signed -b 32 -L - " + effects, &raw))
        << inputs;
    return formattest::Samples32(std::vector<uint8_t>(raw.begin(), raw.end()));
}

// The index of the first sample further apart than `tolerance`, or -1.
long FirstDifference(const Samples& a, const Samples& b, int tolerance) {
    if (a.size() != b.size()) return long(std::min(a.size(), b.size()));
    for (size_t i = 0; i < a.size(); ++i)
        if (std::abs(int64_t(a[i]) - b[i]) > tolerance) return long(i);
    return -1;
}

// An output as our reader sees it: one file, or a split pair or set of mono
// files read as one, keyed by its path in the conversion's folder without the
// channel markers.
struct Unit {
    int files = 0;
    int configuration = 0;
    double rate = 0;
    std::vector<Samples> channels;
};
using Units = std::map<std::string, Unit>;

// Every output below `folder` but a file named "TempFile" (the user's).
Units ReadUnits(const std::string& folder) {
    Units units;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (!e.is_regular_file() || name.starts_with("._") || name == "TempFile") continue;
        short code = 0;
        SoundFilePtr f = QFSoundFile(e.path().string()).createSoundFile(&code);
        if (!f || f->Open()) {
            ADD_FAILURE() << "cannot open " << e.path();
            continue;
        }
        Unit& u = units[fs::relative(f->GetPath(), folder).string()];
        if (u.files++ > 0) continue;
        u.configuration = f->GetChannelConfiguration();
        u.rate = f->GetSampleRate();
        const size_t channels = size_t(f->GetNumChannels());
        uint32_t n = f->GetNumSFrames();
        std::vector<double> d(size_t(n) * channels);
        EXPECT_EQ(f->Read(0, &n, d.data()), 0) << e.path();
        u.channels.assign(channels, Samples(n));
        for (size_t i = 0; i < d.size(); ++i)
            u.channels[i % channels][i / channels] = int32_t(std::lround(d[i] * 2147483648.0));
    }
    return units;
}

// What tells two sets of outputs apart (samples further apart than
// `tolerance`), empty when nothing does.
std::string Difference(const Units& actual, const Units& expected, int tolerance) {
    Strings a, e;
    for (const auto& [key, unit] : actual) a.push_back(key);
    for (const auto& [key, unit] : expected) e.push_back(key);
    if (a != e)
        return "outputs " + ::testing::PrintToString(a) + " instead of " +
               ::testing::PrintToString(e);
    for (const auto& [key, want] : expected) {
        const Unit& got = actual.at(key);
        if (got.files != want.files || got.configuration != want.configuration ||
            got.rate != want.rate || got.channels.size() != want.channels.size())
            return key + ": " + std::to_string(got.files) + " files, configuration " +
                   std::to_string(got.configuration) + ", " + std::to_string(got.rate) + " Hz, " +
                   std::to_string(got.channels.size()) + " channels instead of " +
                   std::to_string(want.files) + ", " + std::to_string(want.configuration) + ", " +
                   std::to_string(want.rate) + ", " + std::to_string(want.channels.size());
        for (size_t c = 0; c < want.channels.size(); ++c) {
            const long at = FirstDifference(got.channels[c], want.channels[c], tolerance);
            if (at >= 0)
                return key + ": channel " + std::to_string(c) + " differs at frame " +
                       std::to_string(at);
        }
    }
    return "";
}

class ChannelPipelines : public PipelineTest {
protected:
    // A conversion to WAVE with the channel treatment, then changed by `more`.
    static std::shared_ptr<ConvSpec> Treated(int treatment,
                                             const std::function<void(ConvSpec&)>& more = {}) {
        return Conversion("One", [&](ConvSpec& c) {
            c.setOutputFileType(FourCC("WAVE"));
            c.setNeedsChannelTreat(true);
            c.setChannelTreat(short(treatment));
            if (more) more(c);
        });
    }

    // The tones of the tests, made by sox: mono, stereo, its channels as a split
    // pair, six channels, and those as the members of a 5.1 set.
    void WavInputs() {
        Sox(in + "/m.wav", "-r 8000 -c 1 -b 16");
        Sox(in + "/s.wav", "-r 8000 -c 2 -b 16");
        Remix(in + "/s.wav", in + "/p.L.wav", "1");
        Remix(in + "/s.wav", in + "/p.R.wav", "2");
        ASSERT_TRUE(formattest::RunCommand(
            "sox -n -r 8000 -b 16 -c 6 " + Quote(in + "/six.wav") +
            " synth 0.1 sine 200 sine 300 sine 400 sine 500 sine 600 sine 700"));
        for (size_t k = 0; k < kSurround.size(); ++k)
            Remix(in + "/six.wav", in + "/c." + kSurround[k] + ".wav", std::to_string(k + 1));
    }

    static void Remix(const std::string& from, const std::string& to, const std::string& remix,
                      const std::string& bits = "") {
        fs::create_directories(fs::path(to).parent_path());
        ASSERT_TRUE(formattest::RunCommand("sox -D " + Quote(from) + " " + bits + " " + Quote(to) +
                                           " remix " + remix))
            << to;
    }

    // `to` with the regions A, x/y and "..".
    static void WithRegions(const std::string& from, const std::string& to) {
        WithExtras(from, to, {{}, {{"A", 100, 300}, {"x/y", 500, 560}, {"..", 650, 700}}, {}});
    }
};

// Interleaving equals sox's merge, splitting and left or right its remix of
// one channel, bit for bit; the mix its remix at half volume, within one step
// where the sum is odd (the mix rounds those ties down).
TEST_F(ChannelPipelines, OutputsEqualSoxMergesAndRemixes) {
    WavInputs();
    struct Output {
        std::string name, soxInputs, effects;
    };
    struct Row {
        std::string input;
        int treatment;
        std::vector<Output> outputs;
        int configuration;  // of every output
        int tolerance = 0;
        OSType type = FourCC("WAVE");
    };
    std::string set = "-M";
    std::vector<Output> sixMembers;
    for (size_t k = 0; k < kSurround.size(); ++k) {
        set += " c." + kSurround[k] + ".wav";
        sixMembers.push_back(
            {"six." + kSurround[k] + ".wav", "six.wav", "remix " + std::to_string(k + 1)});
    }
    const Row rows[] = {
        {"m.wav", 1, {{"m.wav", "-M m.wav m.wav", ""}}, CSoundFile::kStereo},
        {"p.L.wav", 1, {{"p.wav", "-M p.L.wav p.R.wav", ""}}, CSoundFile::kStereo},
        {"c.L.wav", 1, {{"c.wav", set, ""}}, CSoundFile::k51},
        {"c.L.wav", 6, {{"c.wav", set, ""}}, CSoundFile::k51},
        {"s.wav",
         2,
         {{"s.L.wav", "s.wav", "remix 1"}, {"s.R.wav", "s.wav", "remix 2"}},
         CSoundFile::kStereo},
        {"six.wav", 2, sixMembers, CSoundFile::k51},
        {"s.wav", 3, {{"s.wav", "s.wav", "remix 1v0.5,2v0.5"}}, CSoundFile::kMono, kLsb16},
        {"s.wav", 4, {{"s.wav", "s.wav", "remix 1"}}, CSoundFile::kMono},
        {"s.wav", 5, {{"s.wav", "s.wav", "remix 2"}}, CSoundFile::kMono},
        {"p.L.wav",
         3,
         {{"p.wav", "-M p.L.wav p.R.wav", "remix 1v0.5,2v0.5"}},
         CSoundFile::kMono,
         kLsb16},
        {"p.L.wav", 5, {{"p.wav", "p.R.wav", ""}}, CSoundFile::kMono},
        // Sonic AIFF makes a Sonic split pair, its members numbered; our reader
        // reads either member as the pair, through single floats (within a step).
        {"s.wav",
         2,
         {{"s.1.aif", "s.wav", ""}, {"s.2.aif", "s.wav", ""}},
         CSoundFile::kStereo,
         kLsb16 - 1,
         FourCC("SAIF")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input + " treatment " + std::to_string(row.treatment));
        EXPECT_EQ(Outcomes({in + "/" + row.input},
                           Treated(row.treatment,
                                   [&row](ConvSpec& c) { c.setOutputFileType(row.type); })),
                  Strings{"Success " + row.input});
        Strings names, files;
        for (const Output& o : row.outputs) names.push_back(o.name);
        std::sort(names.begin(), names.end());
        for (const std::string& name : Files(out + "/One"))
            if (fs::is_regular_file(out + "/One/" + name)) files.push_back(name);
        EXPECT_EQ(files, names);
        for (const Output& o : row.outputs) {
            const std::string inputs =
                std::regex_replace(o.soxInputs, std::regex("([^ ]+\\.wav)"), Quote(in) + "/$1");
            const std::string output = out + "/One/" + o.name;
            const long at = FirstDifference(
                row.type == FourCC("SAIF") ? OurSamples(output) : SoxSamples(output),
                SoxOf(inputs, o.effects), row.tolerance);
            EXPECT_EQ(at, -1) << o.name;
            short code = 0;
            SoundFilePtr f = QFSoundFile(out + "/One/" + o.name).createSoundFile(&code);
            ASSERT_TRUE(f && f->Open() == 0) << o.name;
            EXPECT_EQ(int(f->GetChannelConfiguration()), row.configuration) << o.name;
        }
    }

    // Exactly, the mix is the half sum with its ties rounded down.
    EXPECT_EQ(Outcomes({in + "/s.wav"}, Treated(3)), Strings{"Success s.wav"});
    const Samples stereo = SoxSamples(in + "/s.wav");
    Samples mix(stereo.size() / 2);
    for (size_t i = 0; i < mix.size(); ++i)
        mix[i] =
            int32_t(uint32_t((stereo[2 * i] / kLsb16 + stereo[2 * i + 1] / kLsb16) >> 1) << 16);
    EXPECT_EQ(FirstDifference(SoxSamples(out + "/One/s.wav"), mix, 0), -1);
}

// A split to Sonic AIFF writes its numbered members where any split pair goes:
// beside the other outputs, renamed like them and with no folder of its own;
// with extraction, into the input's region folder, one pair per region. A
// second run into the same folder numbers the duplicates.
TEST_F(ChannelPipelines, SonicSplitMembersLandBesideTheOutputsOrInTheRegionFolder) {
    WavInputs();
    const auto sonic = [](int low) {
        return Treated(2, [low](ConvSpec& c) {
            c.setOutputFileType(FourCC("SAIF"));
            c.setNeedsExtraction(low & 8);
        });
    };
    const auto regularFiles = [](const std::string& folder) {
        Strings names;
        for (const std::string& name : Files(folder))
            if (fs::is_regular_file(folder + "/" + name)) names.push_back(name);
        return names;
    };
    EXPECT_EQ(Outcomes({in + "/s.wav"}, sonic(0)), Strings{"Success s.wav"});
    EXPECT_EQ(Files(out + "/One"), (Strings{"s.1.aif", "s.2.aif"}));
    const Samples whole = OurSamples(out + "/One/s.1.aif");
    EXPECT_EQ(FirstDifference(whole, SoxSamples(in + "/s.wav"), kLsb16 - 1), -1);

    WithRegions(in + "/s.wav", in + "/r/t.sd2");
    EXPECT_EQ(Outcomes({in + "/r/t.sd2"}, sonic(8)), Strings{"Success t.sd2"});
    EXPECT_EQ(Files(out + "/One"), Strings{"t"});
    const Strings members = regularFiles(out + "/One/t");
    EXPECT_EQ(members.size(), 6u) << ::testing::PrintToString(members);
    for (const std::string& name : members)
        EXPECT_TRUE(name.ends_with(".1.aif") || name.ends_with(".2.aif")) << name;
    ASSERT_TRUE(std::find(members.begin(), members.end(), "A.1.aif") != members.end())
        << ::testing::PrintToString(members);
    // Region A is frames 100 to 300 of the input.
    const Samples region = OurSamples(out + "/One/t/A.1.aif");
    const Samples all = SoxSamples(in + "/s.wav");
    ASSERT_EQ(region.size(), 400u);
    EXPECT_EQ(FirstDifference(region, Samples(all.begin() + 200, all.begin() + 600), kLsb16 - 1), -1);

    // Twice into the same folder: the second pair is numbered.
    fs::remove_all(out);
    fs::create_directories(out + "/One");
    EngineSettings numbered;
    numbered.numberDuplicateFiles = true;
    Run({in + "/s.wav", in + "/s.wav"}, {sonic(0)}, numbered);
    EXPECT_EQ(Files(out + "/One"), (Strings{"s-1.1.aif", "s-1.2.aif", "s.1.aif", "s.2.aif"}));
}

// WAVE files whose objects say they decode on open, and whose decoding fails
// with an I/O error; the decodings are counted.
constexpr OSErr kDecodingFailed = -36;
int gDecodings = 0;
class FailingDecoder : public CWAVEFile {
public:
    using CWAVEFile::InitInputBuffer;
    bool NeedsDecodingOnOpen() override { return true; }
    OSErr InitInputBuffer(const std::string&) override {
        ++gDecodings;
        return kDecodingFailed;
    }
};

// A decoding on open that fails ends every member with its code, whether the
// member treats the input or hands it to group 0 (mix, left and right too,
// whose first step would otherwise run on what the decoder never gave); only a
// region folder made before the decoding stays. A pair of such members is
// refused before decoding; compaction or extraction without regions fails with
// -20000.
TEST_F(ChannelPipelines, RefusalsAndFailedDecodingLeaveNothing) {
    WavInputs();
    struct Row {
        std::string input;
        int treatment, low;
        bool failingDecoder;
        OSErr code;
        int decodings;
        bool folderStays = false;  // the region folder was made before the decoding
    };
    const Row rows[] = {
        {"m.wav", 1, 0, true, kDecodingFailed, 1},
        {"m.wav", 1, 3, true, kDecodingFailed, 1},
        {"m.wav", 1, 8, true, kDecodingFailed, 1},
        {"s.wav", 1, 2, true, kDecodingFailed, 1},
        {"s.wav", 2, 0, true, kDecodingFailed, 1},
        {"s.wav", 2, 9, true, kDecodingFailed, 1, true},
        {"six.wav", 2, 11, true, kDecodingFailed, 1},
        {"s.wav", 3, 0, true, kDecodingFailed, 1},
        {"s.wav", 4, 3, true, kDecodingFailed, 1},
        {"s.wav", 5, 7, true, kDecodingFailed, 1},
        {"s.wav", 3, 10, true, kDecodingFailed, 1, true},
        {"six.wav", 4, 1, true, kDecodingFailed, 1},
        {"s.wav", 6, 0, true, kDecodingFailed, 1},
        {"p.L.wav", 1, 0, true, kParamErr, 0},
        {"p.L.wav", 3, 3, true, kParamErr, 0},
        {"p.L.wav", 6, 8, true, kParamErr, 0},
        {"m.wav", 1, 4, false, kNoRegionsErr, 0},
        {"s.wav", 2, 8, false, kNoRegionsErr, 0},
        {"p.L.wav", 4, 11, false, kNoRegionsErr, 0},
        {"c.L.wav", 6, 5, false, kNoRegionsErr, 0},
    };
    const bool wholeFile = CSoundFile::GetProcessFileIfNoRegions();
    const SoundFileDispatcherPtr wave = GetSoundFileDispatcher(FourCC("WAVE"));
    auto failing = std::make_shared<SoundFileDispatcher>();
    failing->setCreateFunc(&Make<FailingDecoder>);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input + " treatment " + std::to_string(row.treatment) + ", low bits " +
                     std::to_string(row.low));
        ASSERT_TRUE(AttachSoundFileDispatcher(CSoundFile::GetFileTypeInfo(), FourCC("WAVE"),
                                              row.failingDecoder ? failing : wave));
        // Without regions of their own, inputs get one over the whole file but here.
        CSoundFile::SetProcessFileIfNoRegions(row.code != kNoRegionsErr);
        gDecodings = 0;
        const auto conversion = Treated(row.treatment, [&row](ConvSpec& c) {
            c.setOutputFileType(FourCC("AIFF"));
            c.setNeedsSampleRateConversion(row.low & 1);
            c.setSampleRate(11025);
            c.setNeedsGain(row.low & 2);
            c.setNeedsStrip(row.low & 4);
            c.setNeedsExtraction(row.low & 8);
        });
        EXPECT_EQ(Outcomes({in + "/" + row.input}, conversion),
                  Strings{"Failure " + row.input + " " + std::to_string(row.code)});
        EXPECT_EQ(gDecodings, row.decodings);
        const std::string stem = fs::path(row.input).stem().string();
        EXPECT_EQ(Tree(out), (row.folderStays ? Strings{"One", "One/" + stem} : Strings{"One"}));
    }
    AttachSoundFileDispatcher(CSoundFile::GetFileTypeInfo(), FourCC("WAVE"), wave);
    CSoundFile::SetProcessFileIfNoRegions(wholeFile);
}

// Where members depart from the group-0 member of their low bits in what they
// announce: mix, left and right extract with "Extracting regions" (the mix
// gives the rate ratio only before its loop, left and right before every
// region), and so does a split; a mono file interleaved takes the single
// output's texts, its rate conversion and gain counted as three steps.
TEST_F(ChannelPipelines, StepAnnouncementsOfTheDepartingMembers) {
    Sox(dir / "m.wav", "-r 8000 -c 1 -b 16");
    Sox(dir / "s.wav", "-r 8000 -c 2 -b 16");
    WithRegions(dir / "m.wav", in + "/m.sd2");
    WithRegions(dir / "s.wav", in + "/s.sd2");
    const std::string ratio = " x" + std::to_string(11025.0 / 8000);
    const std::string rate = "step Sample rate conversion 0", extract = "step Extracting regions 0";
    struct Row {
        std::string input;
        int treatment, low;
        Strings progress;  // up to the first region's name
    };
    const Row rows[] = {
        {"m.sd2",
         1,
         3,
         {"steps 3", rate, "step Scanning file 0", "step Dynamics/gain processing 0"}},
        {"m.sd2",
         1,
         8,
         {"steps 1", "step Copying/format change 0", "step Copying/format change 0",
          "region A 100"}},
        {"s.sd2", 3, 8, {"steps 1", extract, extract, "region A 100"}},
        {"s.sd2", 5, 8, {"steps 1", extract, extract, "region A 100"}},
        {"s.sd2", 2, 8, {"steps 1", extract, extract, "region A 100"}},
        {"s.sd2", 3, 9, {"steps 1", rate + ratio, rate, "region A 100"}},
        {"s.sd2", 4, 9, {"steps 1", rate + ratio, rate + ratio, "region A 100"}},
        {"s.sd2", 2, 9, {"steps 1", rate + ratio, rate + ratio, "region A 100"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input + " treatment " + std::to_string(row.treatment) + ", low bits " +
                     std::to_string(row.low));
        progress.clear();
        EXPECT_EQ(Outcomes({in + "/" + row.input}, Treated(row.treatment,
                                                           [&row](ConvSpec& c) {
                                                               c.setNeedsSampleRateConversion(
                                                                   row.low & 1);
                                                               c.setSampleRate(11025);
                                                               c.setNeedsGain(row.low & 2);
                                                               c.setNeedsExtraction(row.low & 8);
                                                           })),
                  Strings{"Success " + row.input});
        progress.resize(std::min(progress.size(), row.progress.size()));
        EXPECT_EQ(progress, row.progress);
    }
}

// The processing options of low case bits `low`: rate conversion to 11025 Hz,
// normalizing to -3 dB, compaction with a 10 ms margin, extraction.
std::function<void(ConvSpec&)> Options(int low, bool to16Bits = false) {
    return [=](ConvSpec& c) {
        c.setOutputFileType(FourCC("WAVE"));
        c.setNeedsSampleRateConversion(low & 1);
        c.setSampleRate(11025);
        c.setNeedsGain(low & 2);
        c.setNeedsNormalize(true);
        c.setCeiling(-3);
        c.setNeedsStrip(low & 4);
        c.setStripMargin(10);
        c.setNeedsExtraction(low & 8);
        c.setNeedsRedither(false);
        c.setNeedsNewWordLength(to16Bits);
        c.setWordLength(16);
    };
}

// What a treatment makes of the group-0 outputs of its reference input.
enum class Shape {
    kSame,     // the same outputs
    kDoubled,  // a mono file's channel in both channels of a stereo file
    kOneFile,  // a pair's or set's channels in one interleaved file
    kMembers,  // a file's channels as a pair or set of mono files
};

Units Reshaped(Units units, Shape shape) {
    for (auto& [key, u] : units) {
        if (shape == Shape::kDoubled) {
            u.channels.push_back(u.channels.at(0));
            u.configuration = CSoundFile::kStereo;
        } else if (shape == Shape::kOneFile) {
            u.files = 1;
        } else if (shape == Shape::kMembers) {
            u.files = int(u.channels.size());
        }
    }
    return units;
}

// Every channel treatment with every low case bit over a mono file (m), a
// stereo file (s), its channels as a split pair (p), a 6-channel file (x) and
// its channels as a 5.1 set (c), each with regions: the outputs equal the
// group-0 outputs of the same options over the input the treatment stands for
// (the input itself, its left (l) or right (r) channel, or its mix (mx) in 24
// bits, exact), reshaped. A file named "TempFile" of the user's stays.
TEST_F(ChannelPipelines, EveryTreatmentAndCaseEqualsTheGroup0ConversionItStandsFor) {
    // Each source alone in a folder, so that nothing is taken for a group.
    const std::string wav = dir / "wav";
    Sox(wav + "/m/t.wav", "-r 8000 -c 1 -b 16");
    Sox(wav + "/s/t.wav", "-r 8000 -c 2 -b 16");
    fs::create_directories(wav + "/x");
    ASSERT_TRUE(
        formattest::RunCommand("sox -n -r 8000 -b 16 -c 6 " + Quote(wav + "/x/t.wav") +
                               " synth 0.1 sine 200 sine 300 sine 400 sine 500 sine 600 sine 700"));
    Remix(wav + "/s/t.wav", wav + "/l/t.wav", "1");
    Remix(wav + "/s/t.wav", wav + "/r/t.wav", "2");
    Remix(wav + "/s/t.wav", wav + "/mx/t.wav", "1v0.5,2v0.5", "-b 24");
    for (const char* name : {"m", "s", "l", "r", "mx"})
        WithRegions(wav + "/" + name + "/t.wav", in + "/" + name + "/t.sd2");
    // The 6-channel file and its channels alone are WAVE files, which keep the 5.1 layout.
    WithRegions(wav + "/x/t.wav", in + "/x/t.wav");
    WithRegions(wav + "/l/t.wav", in + "/p/t.L.sd2");
    WithRegions(wav + "/r/t.wav", in + "/p/t.R.sd2");
    for (size_t k = 0; k < kSurround.size(); ++k) {
        const std::string channel = "x" + std::to_string(k);
        Remix(wav + "/x/t.wav", wav + "/" + channel + "/t.wav", std::to_string(k + 1));
        WithRegions(wav + "/" + channel + "/t.wav", in + "/" + channel + "/t.wav");
        WithRegions(wav + "/" + channel + "/t.wav", in + "/c/t." + kSurround[k] + ".sd2");
    }
    const auto input = [&](const std::string& name) {
        return in + "/" + name +
               (name == "p" || name == "c" ? "/t.L.sd2"
                : name[0] == 'x'           ? "/t.wav"
                                           : "/t.sd2");
    };
    // Runs one conversion of one input; its outputs.
    const auto convert = [&](const std::string& name, const std::shared_ptr<ConvSpec>& c) {
        const std::string file = fs::path(input(name)).filename().string();
        EXPECT_EQ(Outcomes({input(name)}, c, EngineSettings(), {"TempFile"}),
                  Strings{"Success " + file});
        EXPECT_EQ(testsupport::ReadFile(out + "/One/TempFile"), "mine");
        return ReadUnits(out + "/One");
    };

    std::map<std::string, std::array<Units, 12>> group0;
    for (const char* name : {"m", "s", "p", "x", "c", "l", "r", "mx"}) {
        for (int low = 0; low < 12; ++low) {
            SCOPED_TRACE(std::string(name) + " group 0, low bits " + std::to_string(low));
            group0[name][size_t(low)] =
                convert(name, Conversion("One", Options(low, std::string(name) == "mx")));
        }
    }

    // Each channel of the 6-channel file, converted in one pass, equals its own
    // conversion; gain is left out, as it is decided on all channels together.
    for (int low : {0, 1, 5, 9}) {
        for (size_t k = 0; k < kSurround.size(); ++k) {
            SCOPED_TRACE("channel " + std::to_string(k) + ", low bits " + std::to_string(low));
            Units channel = group0["x"][size_t(low)];
            for (auto& [key, u] : channel) {
                u.channels = {u.channels.at(k)};
                u.configuration = CSoundFile::kMono;
            }
            const Units alone = convert("x" + std::to_string(k), Conversion("One", Options(low)));
            EXPECT_EQ(Difference(channel, alone, 0), "");
        }
    }

    struct Expected {
        std::string reference;
        Shape shape;
        int tolerance = 0;
    };
    using S = Shape;
    const std::map<std::string, Expected> byTreatment[] = {
        {},
        // 1: interleave
        {{"m", {"m", S::kDoubled}},
         {"s", {"s", S::kSame}},
         {"p", {"p", S::kOneFile}},
         {"x", {"x", S::kSame}},
         {"c", {"c", S::kOneFile}}},
        // 2: split
        {{"m", {"m", S::kSame}},
         {"s", {"s", S::kMembers}},
         {"p", {"p", S::kSame}},
         {"x", {"x", S::kMembers}},
         {"c", {"c", S::kSame}}},
        // 3: mix; the set is converted with all its channels. The half step
        // the 16-bit mix rounds off is carried through rate conversion and
        // normalizing, whose filter and gain can make it more than one step
        // before the output's own rounding: two steps apart at most.
        {{"m", {"m", S::kSame}},
         {"s", {"mx", S::kSame, 2 * kLsb16}},
         {"p", {"mx", S::kSame, 2 * kLsb16}},
         {"x", {"x", S::kSame}},
         {"c", {"c", S::kSame}}},
        // 4: left
        {{"m", {"m", S::kSame}},
         {"s", {"l", S::kSame}},
         {"p", {"l", S::kSame}},
         {"x", {"x", S::kSame}},
         {"c", {"c", S::kSame}}},
        // 5: right
        {{"m", {"m", S::kSame}},
         {"s", {"r", S::kSame}},
         {"p", {"r", S::kSame}},
         {"x", {"x", S::kSame}},
         {"c", {"c", S::kSame}}},
        // 6: pairs and sets interleaved, every single file as it is
        {{"m", {"m", S::kSame}},
         {"s", {"s", S::kSame}},
         {"p", {"p", S::kOneFile}},
         {"x", {"x", S::kSame}},
         {"c", {"c", S::kOneFile}}},
    };
    for (int treatment = 1; treatment <= 6; ++treatment) {
        for (const auto& [name, expected] : byTreatment[treatment]) {
            for (int low = 0; low < 12; ++low) {
                SCOPED_TRACE(name + " treatment " + std::to_string(treatment) + ", low bits " +
                             std::to_string(low));
                const Units units = convert(name, Treated(treatment, Options(low)));
                EXPECT_EQ(
                    Difference(units,
                               Reshaped(group0[expected.reference][size_t(low)], expected.shape),
                               expected.tolerance),
                    "");
            }
        }
    }
}

// Every group has a pipeline for each low part 0 to 11 and none for 12 to 15.
TEST(ChannelDispatch, EveryCaseOfEveryGroupHasItsPipeline) {
    for (int code = 0; code < kNumCaseCodes; ++code)
        EXPECT_EQ(GetPipeline(code) != nullptr, (code & 15) < 12) << code;
}

}  // namespace
}  // namespace enginetest
