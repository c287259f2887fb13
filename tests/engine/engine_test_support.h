// What the engine tests share: the model booted once with preferences of the
// test's own, samples of a file as sox and as our reader read them, a copy
// pipeline standing in for Run000 where a test makes a run fail or looks inside
// it (it copies PCM through the sound-file API into one output), a fixture with
// input and output folders made with sox, and a record of the batch's
// notifications.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "conversion/qf_sound_file.h"
#include "conversion/startup.h"
#include "engine/batch_runner.h"
#include "engine/case_dispatch.h"
#include "foundation/pstring.h"
#include "formats/format_test_support.h"
#include "soundfile/progress.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

namespace enginetest {

namespace fs = std::filesystem;

using Strings = std::vector<std::string>;
using Samples = std::vector<int32_t>;
using formattest::Quote;

// Every sample of a file, left-justified in 32 bits, read by sox after `effects`.
inline Samples SoxSamples(const std::string& path, const std::string& effects = "") {
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
inline Samples OurSamples(const std::string& path, double* rate = nullptr) {
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
inline Strings Files(const std::string& folder) {
    Strings names;
    for (const auto& e : fs::directory_iterator(folder))
        if (!e.path().filename().string().starts_with("._"))
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Names with each placeholder shown as ".CorvaOutFile-P-N", whatever process
// and number it carries.
inline Strings PlaceholdersShown(Strings names) {
    for (std::string& name : names) {
        size_t at = 0, length = 0;
        if (CorvaOutFile::FindPlaceholder(name, &at, &length))
            name.replace(at, length, ".CorvaOutFile-P-N");
    }
    return names;
}

// Called by the copy pipeline after the last block, with the input's long
// name; a non-zero answer is the pipeline's. It may also throw.
inline std::function<OSErr(const std::string& longName)> gAfterCopy;

inline OSErr CopyPipeline(CSoundFile* in, CConvSpec* cs) {
    const OSType type = cs->GetNeedsStrictFType() ? cs->GetOutputFType() : in->GetFType();
    SoundFilePtr out(CSoundFile::CreateSoundFile(type));
    if (!out) return kCannotMakeFormatObjectErr;
    if (OSErr err =
            out->ISoundFile(CreateOutputhPathString(cs, CorvaOutFile::NewPlaceholderName())))
        return err;
    Str255 extension;
    cs->GetNameExtension(extension);
    const short channels = in->GetNumChannels();
    if (OSErr err = out->Create(channels, in->GetWordSize(), float(in->GetSampleRate()),
                                cs->GetFiletypeSpecifics().data(), extension))
        return err;
    // Block by block in the buffer form, so that every sample is kept exactly.
    if (OSErr err = in->InitInputBuffer()) return err;
    if (OSErr err = out->InitOutputBuffer()) return err;
    const uint32_t block = std::min(in->GetBufferFrames(), out->GetBufferFrames());
    const size_t frameBytes = size_t(in->GetWordSize() / 8) * size_t(channels);
    for (uint32_t at = 0; at < in->GetNumSFrames(); at += block) {
        const uint32_t n = std::min(block, in->GetNumSFrames() - at);
        if (OSErr err = in->RefreshInputBuffer(at)) return err;
        if (OSErr err = out->RefreshOutputBuffer(at)) return err;
        std::memcpy(out->GetOutputBuffer(), in->GetInputBuffer(), n * frameBytes);
        if (OSErr err = out->FlushOutputBuffer(n, at)) return err;
        if (OSErr err = SetProgressPosition(int(at + n))) return err;
    }
    if (gAfterCopy) {
        if (OSErr err = gAfterCopy(cs->GetInputNameStr())) return err;
    }
    return out.release()->Dispose(1);
}

// A notification of the batch: its name and values.
struct Posted {
    std::string name;
    plist::Value values;
    std::string Path() const {
        const plist::Value* p = values.find(kInputPathKey);
        return p ? fs::path(p->asString()).filename().string() : std::string();
    }
    int Error() const {
        const plist::Value* e = values.find(kErrorKey);
        return e ? int(e->asInteger()) : 0;
    }
};

// Takes the progress state from a thread of its own while batches run, as the
// progress window does, and keeps the warnings the takes hand over. `look`,
// when given, sees every take on the poller's thread.
class Poller {
public:
    using Look = std::function<void(const ConversionProcess::Progress&)>;
    explicit Poller(ConversionProcess& p, Look look = nullptr)
        : look_(std::move(look)), thread_([this, &p] {
              while (!stop_) {
                  ConversionProcess::Progress taken = p.takeProgress();
                  texts_ += taken.curFilePath.size() + taken.curFolder.size() +
                            taken.curStepDesc.size() + taken.curRegion.size() +
                            size_t(taken.curFile + taken.curValue + p.err()) +
                            (taken.curConvSpec ? taken.curConvSpec->conversionName().size() : 0);
                  warnings_.insert(warnings_.end(), taken.newWarnings.begin(),
                                   taken.newWarnings.end());
                  if (look_) look_(taken);
                  ++takes_;
              }
          }) {}
    ~Poller() { Stop(nullptr); }
    // Stops polling; the warnings collected, then those still waiting.
    std::vector<std::string> Stop(ConversionProcess* p) {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (p) {
            const ConversionProcess::Progress last = p->takeProgress();
            warnings_.insert(warnings_.end(), last.newWarnings.begin(), last.newWarnings.end());
        }
        return warnings_;
    }
    // How many takes were made so far.
    uint64_t Takes() const { return takes_.load(); }

private:
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> takes_{0};
    std::vector<std::string> warnings_;
    size_t texts_ = 0;
    Look look_;
    std::thread thread_;
};

class EngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static testsupport::TempDir prefs;
        static platform::UserDefaults defaults(prefs / "preferences.plist");
        static const bool booted = [] {
            BootOptions options;
            options.defaults = &defaults;
            options.probeMp3Encoder = false;
            return BootModel(options).status == 0;
        }();
        ASSERT_TRUE(booted);
    }

    void SetUp() override {
        if (!testsupport::HaveProgram("sox")) GTEST_SKIP() << "sox is needed";
        fs::create_directories(in);
        fs::create_directories(out);
        token_ = platform::NotificationCenter::Default().AddObserver(
            "", &process, [this](const platform::Notification& n) {
                posted.push_back({n.name, n.object});
            });
    }

    void TearDown() override {
        process.waitUntilDone();
        platform::NotificationCenter::Default().RemoveObserver(token_);
        for (auto& [code, pipeline] : saved_) SetPipeline(code, pipeline);
        gAfterCopy = nullptr;
    }

    // Makes a sound file with sox: `args` are the options before the name
    // (rate, channels, bits), a tenth of a second of tones.
    static void Sox(const std::string& path, const std::string& args = "-r 8000 -c 2 -b 16") {
        fs::create_directories(fs::path(path).parent_path());
        ASSERT_TRUE(formattest::RunCommand("sox -n " + args + " " + formattest::Quote(path) +
                                           " synth 0.1 sine 300 sine 500"))
            << path;
    }

    // A conversion to AIFF with nothing else asked for, then changed by `change`.
    static std::shared_ptr<ConvSpec> Conversion(const std::string& name,
                                                const std::function<void(ConvSpec&)>& change = {}) {
        auto conv = std::make_shared<ConvSpec>();
        conv->setConversionName(name);
        conv->setNeedsStrictFileType(true);
        conv->setOutputFileType(FourCC("AIFF"));
        conv->setNeedsSampleRateConversion(false);
        conv->setNeedsChannelTreat(false);
        conv->setNeedsNewWordLength(false);
        if (change) change(*conv);
        return conv;
    }

    // Case code 0 runs the stand-in, whose gAfterCopy lets a test fail or look.
    void UseCopyStandIn() {
        if (!saved_.count(0)) saved_[0] = SetPipeline(0, &CopyPipeline);
    }

    OSErr Run(const std::vector<std::string>& inputs,
              const std::vector<std::shared_ptr<ConvSpec>>& conversions,
              const EngineSettings& settings = EngineSettings()) {
        return RunBatch(process, inputs, conversions, out, settings);
    }

    // Runs a batch of one conversion into an output folder holding only the
    // conversion's folder with the files `existing` ("mine"); the names of its
    // notifications between the header and the footer.
    std::vector<std::string> Outcomes(const std::vector<std::string>& inputs,
                                      const std::shared_ptr<ConvSpec>& conversion,
                                      const EngineSettings& settings = EngineSettings(),
                                      const std::vector<std::string>& existing = {}) {
        fs::remove_all(out);
        const std::string folder = out + "/" + conversion->conversionName();
        fs::create_directories(folder);
        for (const std::string& name : existing)
            testsupport::WriteFile(folder + "/" + name, "mine");
        posted.clear();
        Run(inputs, {conversion}, settings);
        const std::vector<std::string> names = Names();
        return names.size() < 4 ? names
                                : std::vector<std::string>(names.begin() + 2, names.end() - 2);
    }

    // Every path below a folder, relative to it, sorted (as `find | sort`).
    static std::vector<std::string> Tree(const std::string& root) {
        std::vector<std::string> paths;
        for (const auto& e : fs::recursive_directory_iterator(root))
            paths.push_back(fs::relative(e.path(), root).string());
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    // Every file below a folder with its bytes.
    static std::map<std::string, std::string> Contents(const std::string& root) {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(root)) {
            if (e.is_regular_file() && !e.is_symlink())
                files[e.path().string()] = testsupport::ReadFile(e.path().string());
        }
        return files;
    }

    // "Name file error" for each notification of the batch that the
    // application follows, in order.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const Posted& p : posted) {
            if (p.name == QFConversionWillRenameNotification ||
                p.name == QFConversionRenameDuplicateNotification)
                continue;
            std::string line = p.name.substr(std::string("QFConversion").size());
            line.resize(line.size() - std::string("Notification").size());
            if (!p.Path().empty()) line += " " + p.Path();
            if (p.Error()) line += " " + std::to_string(p.Error());
            names.push_back(line);
        }
        return names;
    }

    testsupport::TempDir dir;
    const std::string in = dir / "in";
    const std::string out = dir / "out";
    ConversionProcess process;
    std::vector<Posted> posted;  // every notification of the batch

private:
    std::map<int, PipelineFunc> saved_;
    platform::NotificationCenter::Token token_ = 0;
};

// A format object of the test's own, for a dispatcher's create function.
template <class T>
CSoundFile* Make() {
    return new T();
}

// A pipeline test's view of the batch: the progress it announces, as "steps N",
// "step <text> <index>[ x<ratio>]" and "region <name> <start>", from the
// pipeline's step count on.
class PipelineTest : public EngineTest {
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

    static std::string Describe(const std::string& name, const plist::Value& v) {
        if (name == ProgressNumSteps) return "steps " + std::to_string(v.asInteger());
        const plist::Array& a = *v.array();
        std::string text = (name == ProgressStep ? "step " : "region ") + a[0].asString() + " " +
                           std::to_string(a[1].asInteger());
        if (name == ProgressStep && a.size() > 2) text += " x" + std::to_string(a[2].asReal());
        return text;
    }

    struct Extras {
        std::vector<SFTLoop> loops;
        std::vector<std::tuple<std::string, int, int>> regions;  // name, start, end
        std::vector<std::pair<std::string, uint32_t>> markers;
    };

    // A Sound Designer II file (`to` ends in ".sd2") or a WAVE file (".wav") of
    // a sound file's samples and channel configuration, written by our writer
    // with the extras.
    static void WithExtras(const std::string& from, const std::string& to, const Extras& extras) {
        short code = 0;
        SoundFilePtr source = QFSoundFile(from).createSoundFile(&code);
        ASSERT_TRUE(source && source->Open() == 0) << from;
        std::vector<uint8_t> bytes;
        ASSERT_EQ(formattest::ReadAllFrames(*source, &bytes), 0);
        fs::create_directories(fs::path(to).parent_path());
        const bool wave = to.ends_with(".wav");
        SoundFilePtr f(CSoundFile::CreateSoundFile(FourCC(wave ? "WAVE" : "Sd2f")));
        Str255 ext;
        pstrcpy(std::string(wave ? "wav" : "sd2"), ext);
        ASSERT_EQ(f->ISoundFile(to.substr(0, to.size() - 4)), 0);
        f->SetChannelConfiguration(source->GetChannelConfiguration());
        ASSERT_EQ(f->Create(source->GetNumChannels(), source->GetWordSize(),
                            float(source->GetSampleRate()), nullptr, ext),
                  0);
        ASSERT_EQ(formattest::WriteBufferForm(*f, 0, bytes), 0);
        for (SFTLoop loop : extras.loops) ASSERT_EQ(f->AddLoop(&loop), 0);
        int32_t id = 1;
        for (const auto& [name, start, end] : extras.regions) {
            SFTRegion r{id++, start, end, start, 0, {}};
            pstrcpy(name, r.name);
            ASSERT_EQ(f->AddRegion(&r), 0);
        }
        for (const auto& [name, position] : extras.markers) {
            SFTMarker m{id++, position, {}, 0, 0};
            pstrcpy(name, m.name);
            ASSERT_EQ(f->AddMarker(&m), 0);
        }
        ASSERT_EQ(f.release()->Dispose(1), 0);
        CorvaOutFile::Clear();
    }

    Strings progress;

private:
    std::vector<platform::NotificationCenter::Token> tokens_;
};

}  // namespace enginetest
