// Inputs that fail on their own and batches that stop: links in an input
// folder that lead nowhere, files and folders that cannot be read (whatever
// the action for unrecognised files), data that ends before its header says,
// and the report of what a stopped batch left undone.
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <stdexcept>

#include "conversion/error_messages.h"
#include "engine_test_support.h"
#include "formats/pcm/sonic_file.h"

namespace enginetest {
namespace {

// The comment of the notification named `name` for the input `file`; empty
// when it has none.
std::string CommentOf(const std::vector<Posted>& posted, const std::string& name,
                      const std::string& file) {
    for (const Posted& p : posted) {
        if (p.name != name || p.Path() != file) continue;
        const plist::Value* c = p.values.find(kCommentKey);
        return c ? c->asString() : std::string();
    }
    return "missing";
}

TEST_F(EngineTest, UnreadableEntriesFailAloneWhateverTheUnrecognisedAction) {
    const bool root = ::geteuid() == 0;
    Sox(in + "/F/a.wav");
    Sox(in + "/F/c.wav");
    ASSERT_EQ(::symlink((in + "/gone.wav").c_str(), (in + "/F/b.wav").c_str()), 0);
    // An editor's lock link: hidden, passed over.
    ASSERT_EQ(::symlink("nowhere", (in + "/F/.#c.wav").c_str()), 0);
    // Reading the start of this process's memory fails with an I/O error.
    ASSERT_EQ(::symlink("/proc/self/mem", (in + "/F/d.wav").c_str()), 0);
    Sox(in + "/F/e.wav");
    fs::create_directories(in + "/F/sub");
    if (!root) {
        ::chmod((in + "/F/e.wav").c_str(), 0);
        ::chmod((in + "/F/sub").c_str(), 0);
    }
    for (int action : {0, 1, 2}) {
        SCOPED_TRACE(action);
        fs::remove_all(out);
        fs::create_directories(out);
        posted.clear();
        EngineSettings settings;
        settings.unrecognizedInputFileAction = action;
        // The outcome is the last input's.
        EXPECT_EQ(Run({in + "/F"}, {Conversion("One"), Conversion("Two")}, settings),
                  root ? 0 : kReadPermissionErr);
        Strings one = {"Header", "Success a.wav", "Failure b.wav -22024", "Success c.wav",
                       "Failure d.wav -22023"};
        if (root) {
            one.push_back("Success e.wav");
        } else {
            one.insert(one.end(), {"Failure e.wav -22022", "Failure sub -22022"});
        }
        one.push_back("Footer");
        Strings order = {"Start"};
        order.insert(order.end(), one.begin(), one.end());
        order.insert(order.end(), one.begin(), one.end());
        order.push_back("Done");
        EXPECT_EQ(Names(), order);
        for (std::string c : {"One", "Two"}) {
            EXPECT_TRUE(fs::exists(out + "/" + c + "/F/a.aif"));
            EXPECT_TRUE(fs::exists(out + "/" + c + "/F/c.aif"));
            EXPECT_FALSE(fs::exists(out + "/" + c + "/F/b.wav"));
        }
        EXPECT_EQ(process.warnings(), root ? 4 : 8);
        EXPECT_FALSE(process.stopReport());
    }
    if (!root) ::chmod((in + "/F/sub").c_str(), 0755);
}

TEST_F(EngineTest, DataThatEndsEarlyIsConvertedAsFarAsItGoesWithAWarning) {
    struct Row {
        std::string file, args;
        size_t cut;  // bytes cut from the end
    };
    const Row rows[] = {{"w.wav", "-t wav", 400}, {"f.aiff", "-t aiff", 400}, {"s.au", "-t au", 400}};
    std::map<std::string, Samples> expected;
    Strings inputs;
    for (const Row& row : rows) {
        const std::string path = in + "/" + row.file;
        Sox(path, "-r 8000 -c 2 -b 16 " + row.args);
        Samples s = SoxSamples(path);
        s.resize(s.size() - row.cut / 2);
        expected[fs::path(row.file).stem().string()] = s;
        fs::resize_file(path, fs::file_size(path) - row.cut);
        inputs.push_back(path);
    }
    // A size a writer left as a placeholder is no promise.
    Sox(in + "/p.wav", "-r 8000 -c 2 -b 16");
    {
        std::fstream f(in + "/p.wav", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(40);
        f.write("\xFF\xFF\xFF\xFF", 4);
    }
    inputs.push_back(in + "/p.wav");
    ASSERT_EQ(Run(inputs, {Conversion("One")}), 0);
    EXPECT_EQ(Names(), (Strings{"Start", "Header", "Success w.wav", "Success f.aiff",
                                "Success s.au", "Success p.wav", "Footer", "Done"}));
    for (const Row& row : rows) {
        EXPECT_EQ(CommentOf(posted, QFConversionSuccessNotification, row.file),
                  "(data ends early: 700 of 800 frames)")
            << row.file;
        const std::string stem = fs::path(row.file).stem().string();
        EXPECT_EQ(SoxSamples(out + "/One/" + stem + ".aif"), expected[stem]) << row.file;
    }
    EXPECT_EQ(CommentOf(posted, QFConversionSuccessNotification, "p.wav"), "");
    EXPECT_EQ(process.warnings(), 3);
}

// A file of `type` made by our writer at `to` with the samples of `from`.
void WriteOurs(const std::string& from, const std::string& to, OSType type) {
    short code = 0;
    SoundFilePtr source = QFSoundFile(from).createSoundFile(&code);
    ASSERT_TRUE(source && source->Open() == 0) << from;
    std::vector<uint8_t> bytes;
    ASSERT_EQ(formattest::ReadAllFrames(*source, &bytes), 0);
    SoundFilePtr f(CSoundFile::CreateSoundFile(type));
    const fs::path path(to);
    Str255 ext;
    pstrcpy(path.extension().string().substr(1), ext);
    ASSERT_EQ(f->ISoundFile((path.parent_path() / path.stem()).string()), 0);
    ASSERT_EQ(f->Create(source->GetNumChannels(), source->GetWordSize(),
                        float(source->GetSampleRate()), nullptr, ext),
              0);
    ASSERT_EQ(formattest::WriteBufferForm(*f, 0, bytes), 0);
    ASSERT_EQ(f.release()->Dispose(1), 0);
    CorvaOutFile::Clear();
}

// Every other format whose header states a length, and a pair and a set with
// a member that ends early: each of 800 frames, cut inside its samples.
TEST_F(EngineTest, DataThatEndsEarlyInEveryFormatIsConvertedAsFarAsItGoes) {
    if (!testsupport::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is needed";
    const std::string mono = "-r 8000 -c 1 -b 16", stereo = "-r 8000 -c 2 -b 16";
    const auto ffmpeg = [this](const std::string& path, const std::string& codec) {
        Sox(in + "/w.wav");
        ASSERT_TRUE(formattest::RunCommand("ffmpeg -v error -i " + Quote(in + "/w.wav") +
                                           " -c:a " + codec + " " + Quote(path)));
        fs::remove(in + "/w.wav");
    };
    const auto ours = [this](const std::string& path, OSType type, const std::string& args) {
        Sox(in + "/w.wav", args);
        WriteOurs(in + "/w.wav", path, type);
        fs::remove(in + "/w.wav");
    };
    struct Row {
        std::string input;                // as the batch lists it
        std::vector<std::string> members;  // the files of a pair or set; the input alone
        std::string cutMember;
        std::function<void(const std::string&)> make;
        size_t cut;           // bytes cut from the end
        uint32_t held = 700;  // the frames left
    };
    const std::vector<Row> rows = {
        {"v.voc", {}, "", [](auto& p) { Sox(p, "-r 8000 -c 1 -b 8 -e unsigned"); }, 101},
        {"v2.voc", {}, "", [&](auto& p) { ours(p, FourCC("VOC2"), stereo); }, 401},
        {"x.8svx", {}, "", [](auto& p) { Sox(p, "-r 8000 -c 1 -b 8"); }, 100},
        {"a.avr", {}, "", [&](auto& p) { Sox(p, stereo); }, 400},
        {"d.sd1", {}, "", [&](auto& p) { ours(p, FourCC("Sd1f"), mono); }, 200},
        // Samples from 256 KiB on, the file padded to 512 KiB.
        {"son.aif", {}, "", [&](auto& p) { ours(p, FourCC("SAIF"), stereo); },
         CSonicAIFFFile::kBlockBytes - 700 * 4},
        // A 12-byte 'regn' chunk follows the samples.
        {"dawn.aif", {}, "", [&](auto& p) { ours(p, FourCC("Dawn"), stereo); }, 412},
        // Blocks of 500 frames in 512 bytes: one block is left, and 100 frames
        // of the next one's 112 bytes.
        {"m.wav", {}, "", [&](auto& p) { Sox(p, stereo + " -e ms-adpcm"); }, 400, 600},
        {"l.caf", {}, "", [&](auto& p) { ffmpeg(p, "pcm_s16be"); }, 400},
        {"u.caf", {}, "", [&](auto& p) { ffmpeg(p, "pcm_mulaw"); }, 200},
        {"p.L.wav", {"p.L.wav", "p.R.wav"}, "p.R.wav", [&](auto& p) { Sox(p, mono); }, 200},
        {"s.L.wav",
         {"s.L.wav", "s.R.wav", "s.C.wav", "s.LFE.wav", "s.Ls.wav", "s.Rs.wav"},
         "s.C.wav",
         [&](auto& p) { Sox(p, mono); },
         200},
    };
    // Our reader would read a member as its whole set.
    const auto Read = [](const Row& row, const std::string& path) {
        return row.members.empty() ? OurSamples(path) : SoxSamples(path);
    };
    std::map<std::string, Samples> whole;  // each file's samples before the cut
    Strings inputs;
    for (const Row& row : rows) {
        const Strings files = row.members.empty() ? Strings{row.input} : row.members;
        for (const std::string& name : files) {
            row.make(in + "/" + name);
            whole[name] = Read(row, in + "/" + name);
        }
        const std::string cut = in + "/" + (row.cutMember.empty() ? row.input : row.cutMember);
        fs::resize_file(cut, fs::file_size(cut) - row.cut);
        inputs.push_back(in + "/" + row.input);
    }
    ASSERT_EQ(Run(inputs, {Conversion("One")}), 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input);
        EXPECT_EQ(CommentOf(posted, QFConversionSuccessNotification, row.input),
                  "(data ends early: " + std::to_string(row.held) + " of 800 frames)");
        // The frames there, then silence where a member of a pair or set ends early.
        const Strings files = row.members.empty() ? Strings{row.input} : row.members;
        for (const std::string& name : files) {
            Samples expected = whole[name];
            const std::string cut = row.cutMember.empty() ? row.input : row.cutMember;
            if (name == cut) {
                const size_t channels = expected.size() / 800;
                std::fill(expected.begin() + row.held * channels, expected.end(), 0);
                if (row.members.empty()) expected.resize(row.held * channels);
            }
            const std::string stem = name.substr(0, name.rfind('.'));
            EXPECT_EQ(Read(row, out + "/One/" + stem + ".aif"), expected) << name;
        }
    }
    EXPECT_EQ(process.warnings(), int(rows.size()));
}

TEST_F(EngineTest, ABatchThatStopsReportsWhatItLeftUndone) {
    Sox(in + "/a.wav");
    for (std::string name : {"x.wav", "y.wav", "z.wav"}) Sox(in + "/F/" + name);
    fs::create_directories(in + "/F/empty");
    UseCopyStandIn();
    auto& center = platform::NotificationCenter::Default();
    const auto three = [] {
        return std::vector<std::shared_ptr<ConvSpec>>{Conversion("One"), Conversion("Two"),
                                                      Conversion("Three")};
    };
    struct Row {
        const char* what;
        Strings inputs;
        std::function<void()> arrange;
        OSErr reason;
        int64_t left, inputCount;
        std::string conversion;
        int64_t later;
    };
    const Row rows[] = {
        // A listed input that is missing stops the batch.
        {"missing", {in + "/a.wav", in + "/gone.wav", in + "/F"}, nullptr, kFileNotFoundErr, 4, 5,
         "One", 2},
        // A code the catalogue does not know stops it inside a folder.
        {"unknown code",
         {in + "/F", in + "/a.wav"},
         [] {
             gAfterCopy = [](const std::string& name) { return name == "y" ? OSErr(-12345) : 0; };
         },
         -12345, 3, 4, "One", 2},
        // A cancel on the second conversion's first file.
        {"cancel",
         {in + "/a.wav", in + "/F"},
         [this] {
             gAfterCopy = [this](const std::string&) {
                 if (process.takeProgress().curConv == 2) process.setShouldStop(true);
                 return OSErr(0);
             };
         },
         kUserCanceledErr, 4, 4, "Two", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(out);
        fs::create_directories(out);
        gAfterCopy = nullptr;
        if (row.arrange) row.arrange();
        Run(row.inputs, three());
        const auto report = process.stopReport();
        ASSERT_TRUE(report);
        EXPECT_EQ(report->reason, row.reason);
        EXPECT_EQ(report->inputsLeft, row.left);
        EXPECT_EQ(report->inputs, row.inputCount);
        EXPECT_EQ(report->conversionName, row.conversion);
        EXPECT_EQ(report->laterConversions, row.later);
    }

    // Stopped between conversions: the next one left every input.
    gAfterCopy = nullptr;
    const auto footer = center.AddObserver(QFConversionFooterNotification, &process,
                                           [this](const platform::Notification&) {
                                               process.setShouldStop(true);
                                           });
    fs::remove_all(out);
    fs::create_directories(out);
    Run({in + "/a.wav", in + "/F"}, three());
    center.RemoveObserver(footer);
    const auto between = process.stopReport();
    ASSERT_TRUE(between);
    EXPECT_EQ(between->conversionName, "Two");
    EXPECT_EQ(between->inputsLeft, 4);
    EXPECT_EQ(between->inputs, 4);
    EXPECT_EQ(between->laterConversions, 1);
}

TEST_F(EngineTest, AFolderWhoseWalkThrowsFailsAloneAndAFailingObserverStopsTheBatch) {
    Sox(in + "/a.wav");
    for (std::string folder : {"B", "C", "D", "E"}) Sox(in + "/" + folder + "/x.wav");
    Sox(in + "/E/Inner/y.wav");
    struct Restore {
        ~Restore() { ConversionProcess::SetFolderListingProbe(nullptr); }
    } restore;
    // Each listing fails its own way: only a problem of one file keeps its code.
    ConversionProcess::SetFolderListingProbe([](const std::string& folder) {
        const std::string name = fs::path(folder).filename().string();
        if (name == "B") throw std::bad_alloc();
        if (name == "C") throw error_code_exception(kReadIOErr, "a problem of one file");
        if (name == "D") throw error_code_exception(kDiskFullErr, "a problem that stops");
        if (name == "Inner") throw std::runtime_error("no status");
    });
    const Strings inputs = {in + "/B", in + "/C", in + "/D", in + "/E", in + "/a.wav"};
    EXPECT_EQ(Run(inputs, {Conversion("One")}), 0);
    EXPECT_EQ(Names(), (Strings{"Start", "Header", "Failure B -20033", "Failure C -22023",
                                "Failure D -20033", "Failure Inner -20033", "Success x.wav",
                                "Success a.wav", "Footer", "Done"}));
    // The walk goes on in the right folders after each failure.
    EXPECT_EQ(Tree(out + "/One"), (Strings{"B", "C", "D", "E", "E/Inner", "E/x.aif", "a.aif"}));
    EXPECT_EQ(process.warnings(), 4);
    EXPECT_FALSE(process.stopReport());
    std::string text;
    EXPECT_EQ(MakeErrorMessage(kFolderNotListedErr, text), kErrorClassFile);
    EXPECT_EQ(text, "could not be listed");

    // An observer that fails while a folder's failure is posted stops the
    // batch, which says so and ends as no success; the folders around it do
    // not fail for it.
    Sox(in + "/Outer/C/x.wav");
    auto& center = platform::NotificationCenter::Default();
    const auto failing = center.AddObserver(
        QFConversionFailureNotification, &process,
        [](const platform::Notification&) { throw std::runtime_error("an observer fails"); });
    fs::remove_all(out);
    fs::create_directories(out);
    posted.clear();
    EXPECT_EQ(Run({in + "/Outer", in + "/a.wav"}, {Conversion("One"), Conversion("Two")}),
              kParamErr);
    center.RemoveObserver(failing);
    EXPECT_EQ(Names(), (Strings{"Start", "Header", "Failure C -22023", "Footer", "Done"}));
    const auto report = process.stopReport();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->reason, kParamErr);
    EXPECT_EQ(report->inputsLeft, 2);
    EXPECT_EQ(report->inputs, 2);
    EXPECT_EQ(report->conversionName, "One");
    EXPECT_EQ(report->laterConversions, 1);
}

}  // namespace
}  // namespace enginetest
