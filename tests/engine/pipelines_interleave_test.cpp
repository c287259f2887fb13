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

class ChannelPipelines : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        if (IsSkipped()) return;
        auto& center = platform::NotificationCenter::Default();
        for (const char* name : {ProgressNumSteps, ProgressStep, ProgressRegion})
            tokens_.push_back(
                center.AddObserver(name, nullptr, [this, name](const platform::Notification& n) {
                    if (name == ProgressNumSteps || !progress.empty())
                        progress.push_back(Describe(name, n.object));
                }));
    }
    void TearDown() override {
        for (auto t : tokens_) platform::NotificationCenter::Default().RemoveObserver(t);
        EngineTest::TearDown();
    }

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

    // "steps N", "step <text> <index>[ x<ratio>]", "region <name> <start>".
    static std::string Describe(const std::string& name, const plist::Value& v) {
        if (name == ProgressNumSteps) return "steps " + std::to_string(v.asInteger());
        const plist::Array& a = *v.array();
        std::string text = (name == ProgressStep ? "step " : "region ") + a[0].asString() + " " +
                           std::to_string(a[1].asInteger());
        if (name == ProgressStep && a.size() > 2) text += " x" + std::to_string(a[2].asReal());
        return text;
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

    Strings progress;

private:
    std::vector<platform::NotificationCenter::Token> tokens_;
};

// Interleaving equals sox's merge, splitting and left or right its remix of
// one channel, bit for bit; the mix its remix at half volume, within one step
// where the sum is odd (the mix rounds those ties down).
TEST_F(ChannelPipelines, OutputsEqualSoxMergesAndRemixes) {
    WavInputs();
    const std::string set = "c.L.wav c.R.wav c.C.wav c.LFE.wav c.Ls.wav c.Rs.wav";
    struct Output {
        std::string name, soxInputs, effects;
    };
    struct Row {
        std::string input;
        int treatment;
        std::vector<Output> outputs;
        int configuration;  // of every output
        int tolerance = 0;
    };
    const Row rows[] = {
        {"m.wav", 1, {{"m.wav", "-M m.wav m.wav", ""}}, CSoundFile::kStereo},
        {"p.L.wav", 1, {{"p.wav", "-M p.L.wav p.R.wav", ""}}, CSoundFile::kStereo},
        {"c.L.wav", 1, {{"c.wav", "-M " + set, ""}}, CSoundFile::k51},
        {"c.L.wav", 6, {{"c.wav", "-M " + set, ""}}, CSoundFile::k51},
        {"s.wav", 2, {{"s.L.wav", "s.wav", "remix 1"}, {"s.R.wav", "s.wav", "remix 2"}},
         CSoundFile::kStereo},
        {"six.wav",
         2,
         {{"six.L.wav", "six.wav", "remix 1"},
          {"six.R.wav", "six.wav", "remix 2"},
          {"six.C.wav", "six.wav", "remix 3"},
          {"six.LFE.wav", "six.wav", "remix 4"},
          {"six.Ls.wav", "six.wav", "remix 5"},
          {"six.Rs.wav", "six.wav", "remix 6"}},
         CSoundFile::k51},
        {"s.wav", 3, {{"s.wav", "s.wav", "remix 1v0.5,2v0.5"}}, CSoundFile::kMono, kLsb16},
        {"s.wav", 4, {{"s.wav", "s.wav", "remix 1"}}, CSoundFile::kMono},
        {"s.wav", 5, {{"s.wav", "s.wav", "remix 2"}}, CSoundFile::kMono},
        {"p.L.wav", 3, {{"p.wav", "-M p.L.wav p.R.wav", "remix 1v0.5,2v0.5"}}, CSoundFile::kMono,
         kLsb16},
        {"p.L.wav", 5, {{"p.wav", "p.R.wav", ""}}, CSoundFile::kMono},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input + " treatment " + std::to_string(row.treatment));
        EXPECT_EQ(Outcomes({in + "/" + row.input}, Treated(row.treatment)),
                  Strings{"Success " + row.input});
        Strings names;
        for (const Output& o : row.outputs) names.push_back(o.name);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(Files(out + "/One"), names);
        for (const Output& o : row.outputs) {
            const std::string inputs =
                std::regex_replace(o.soxInputs, std::regex("([^ ]+\\.wav)"), Quote(in) + "/$1");
            const long at = FirstDifference(SoxSamples(out + "/One/" + o.name),
                                            SoxOf(inputs, o.effects), row.tolerance);
            EXPECT_EQ(at, -1) << o.name;
            short code = 0;
            SoundFilePtr f = QFSoundFile(out + "/One/" + o.name).createSoundFile(&code);
            ASSERT_TRUE(f && f->Open() == 0) << o.name;
            EXPECT_EQ(int(f->GetChannelConfiguration()), row.configuration) << o.name;
        }
    }
}

}  // namespace
}  // namespace enginetest
