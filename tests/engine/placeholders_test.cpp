// Outputs between their making and their final name: each under a placeholder
// of its own, so a killed run or a second batch blocks nothing; placeholders of
// ended processes removed before a batch writes into their folder; a move or
// copy that fails reports the system's status (a folder that refuses it is
// named) and names what it left; a header write that fails is no success.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "conversion/error_messages.h"
#include "engine_test_support.h"
#include "formats/pcm/aiff_file.h"
#include "soundfile/coded_file.h"
#include "soundfile/registry.h"

namespace enginetest {
namespace {

// A child process running `body`, which reports whatever differed from the
// expectation (empty when nothing did).
struct Child {
    pid_t pid = -1;
    int report = -1;
};

Child StartChild(const std::function<std::string()>& body) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeEnds[0]);
        const std::string text = body();
        const ssize_t n = ::write(pipeEnds[1], text.data(), text.size());
        ::_exit(n == ssize_t(text.size()) ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    return {pid, pipeEnds[0]};
}

// The child's report, with a note when it could not run or did not end normally.
std::string Finish(const Child& child) {
    if (child.pid < 0) return "no child";
    std::string text;
    char block[4096];
    for (ssize_t n; (n = ::read(child.report, block, sizeof block)) > 0;)
        text.append(block, size_t(n));
    ::close(child.report);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) text += " (the child failed)";
    return text;
}

std::string InChild(const std::function<std::string()>& body) { return Finish(StartChild(body)); }

// The comment of the first failure notification; empty when it has none.
std::string FailureComment(const std::vector<Posted>& posted) {
    for (const Posted& p : posted) {
        if (p.name != QFConversionFailureNotification) continue;
        const plist::Value* c = p.values.find(kCommentKey);
        return c ? c->asString() : std::string();
    }
    return "no failure";
}

// The offset of a chunk of an IFF file (FORM, then chunks of an id and a
// big-endian size, padded to even); npos when it is not there.
size_t ChunkOffset(const std::string& file, const std::string& id) {
    for (size_t at = 12; at + 8 <= file.size();) {
        if (file.compare(at, 4, id) == 0) return at;
        const uint32_t size = uint32_t(uint8_t(file[at + 4])) << 24 |
                              uint32_t(uint8_t(file[at + 5])) << 16 |
                              uint32_t(uint8_t(file[at + 6])) << 8 | uint8_t(file[at + 7]);
        at += 8 + size + (size & 1);
    }
    return std::string::npos;
}

TEST_F(EngineTest, PlaceholdersOfEndedProcessesGoAndOthersStay) {
    Sox(in + "/a.wav");
    const std::string folder = out + "/One";
    fs::create_directories(folder);
    // A run killed while it wrote its outputs.
    const pid_t killed = ::fork();
    ASSERT_GE(killed, 0);
    if (killed == 0) {
        const std::string name = CorvaOutFile::NewPlaceholderName();
        testsupport::WriteFile(folder + "/" + name + ".aif", "half");
        testsupport::WriteFile(folder + "/._" + name + ".aif", "its sidecar");
        testsupport::WriteFile(folder + "/" + CorvaOutFile::NewPlaceholderName() + ".L.aif", "half");
        ::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(killed, &status, 0), killed);
    ASSERT_TRUE(WIFSIGNALED(status));
    const std::string tag = MachineTag();
    const std::string running = tag + "-" + std::to_string(::getppid());
    const std::string self = tag + "-" + std::to_string(::getpid());
    const Strings kept = {".CorvaOutFile-" + running + "-1.aif",     // a running process's
                          ".CorvaOutFile.aif",                       // no id: not ours to judge
                          "take.CorvaOutFile-" + tag + "-1-1.aif"};  // a name of the user's
    for (const std::string& name : kept) testsupport::WriteFile(folder + "/" + name, "keep");
    // This process's id with a number it never handed out: an earlier process's.
    testsupport::WriteFile(folder + "/.CorvaOutFile-" + self + "-999999999.aif", "stale");

    ASSERT_EQ(Run({in + "/a.wav"}, {Conversion("One")}), 0);
    Strings after = kept;
    after.push_back("a.aif");
    std::sort(after.begin(), after.end());
    EXPECT_EQ(Tree(folder), after);
    EXPECT_EQ(Names(), (Strings{"Start", "Header", "Success a.wav", "Footer", "Done"}));
}

TEST_F(EngineTest, OnlyThisMachinesLeftoversWithTheNamesItWritesGo) {
    Sox(in + "/a.wav");
    const std::string folder = out + "/One";
    fs::create_directories(folder);
    // The id of a process that has ended.
    const pid_t ended = ::fork();
    ASSERT_GE(ended, 0);
    if (ended == 0) ::_exit(0);
    int status = 0;
    ASSERT_EQ(::waitpid(ended, &status, 0), ended);
    const std::string own = MachineTag();
    ASSERT_TRUE(IsMachineTag(own)) << own;
    std::string other = own;
    other[0] = other[0] == '0' ? '1' : '0';
    const std::string dead = std::to_string(ended);
    const std::string placeholder = ".CorvaOutFile-" + own + "-" + dead;
    // Written by this machine's ended process: a placeholder alone, with a
    // member indicator of a pair, a surround set or a numbered set, with an
    // extension, and a temporary.
    const Strings gone = {placeholder + "-1",
                          placeholder + "-2.aif",
                          placeholder + "-3.L.aif",
                          placeholder + "-4.R.wav",
                          placeholder + "-5.LFE1.aif",
                          placeholder + "-6.12.aif",
                          ".mp3temp-" + own + "-" + dead + ".abcdefghij.wav"};
    const Strings kept = {
        // Another machine's, or another PID namespace's: its ids mean nothing here.
        ".CorvaOutFile-" + other + "-" + dead + "-1.aif",
        ".mpegtemp-" + other + "-" + dead + ".abcdefghij.aif",
        // Without a tag: nobody can say where they were made.
        ".CorvaOutFile-" + dead + "-1.aif",
        ".mp3temp-" + dead + ".abcdefghij.wav",
        // Placeholders followed by more than the program writes.
        placeholder + "-3.aif.my notes.txt",
        placeholder + "-7.L.R.aif",
        placeholder + "-8.Left.aif",
        placeholder + "-9.201.aif",
    };
    for (const std::string& name : gone) testsupport::WriteFile(folder + "/" + name, "stale");
    for (const std::string& name : kept) testsupport::WriteFile(folder + "/" + name, "keep");

    ASSERT_EQ(Run({in + "/a.wav"}, {Conversion("One")}), 0);
    Strings after = kept;
    after.push_back("a.aif");
    std::sort(after.begin(), after.end());
    EXPECT_EQ(Tree(folder), after);
}

TEST_F(EngineTest, TwoBatchesIntoOneFolderAtOnceShareNoPlaceholder) {
    for (std::string name : {"a.wav", "b.wav", "c.wav"}) Sox(in + "/F/" + name);
    fs::create_directories(out + "/One");
    UseCopyStandIn();
    // Each batch waits a little after every copy, so that the two overlap.
    gAfterCopy = [](const std::string&) {
        ::usleep(20000);
        return OSErr(0);
    };
    // Both wait at a gate, so that they start together.
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    EngineSettings settings;
    settings.numberDuplicateFiles = true;
    const auto batch = [&] {
        char go = 0;
        if (::read(gate[0], &go, 1) != 1) return std::string("no start");
        Run({in + "/F"}, {Conversion("One")}, settings);
        const Strings wanted = {"Start",         "Header",        "Success a.wav",
                                "Success b.wav", "Success c.wav", "Footer",
                                "Done"};
        return Names() == wanted ? std::string() : testing::PrintToString(Names());
    };
    const Child first = StartChild(batch);
    const Child second = StartChild(batch);
    ASSERT_EQ(::write(gate[1], "gg", 2), 2);
    EXPECT_EQ(Finish(first), "");
    EXPECT_EQ(Finish(second), "");
    ::close(gate[0]);
    ::close(gate[1]);
    EXPECT_EQ(Tree(out + "/One/F"),
              (Strings{"a-1.aif", "a.aif", "b-1.aif", "b.aif", "c-1.aif", "c.aif"}));
}

TEST_F(EngineTest, AMoveThatFailsGivesTheSystemsStatusAndTheBatchGoesOnOrStops) {
    // Names that fit, whose split outputs' names (".L.aif") are too long to be.
    const std::string longName(251, 'x');
    Sox(in + "/" + longName + ".wav", "-r 8000 -c 2 -b 16");
    Sox(in + "/b.wav", "-r 8000 -c 2 -b 16");
    const auto split = Conversion("One", [](ConvSpec& c) { c.setNeedsChannelTreat(true); });
    EXPECT_EQ(Outcomes({in + "/" + longName + ".wav", in + "/b.wav"}, split),
              (Strings{"Failure " + longName + ".wav -37", "Success b.wav"}));
    EXPECT_EQ(Tree(out + "/One"), (Strings{"b.L.aif", "b.R.aif"}));

    // A copy of an unrecognised file whose name is taken fails with that.
    testsupport::WriteFile(in + "/notes.txt", "not a sound");
    EngineSettings copying;
    copying.unrecognizedInputFileAction = 1;
    EXPECT_EQ(Outcomes({in + "/notes.txt"}, Conversion("One"), copying, {"notes.txt"}),
              Strings{"Failure notes.txt -48"});
    EXPECT_EQ(testsupport::ReadFile(out + "/One/notes.txt"), "mine");

    // The folder refuses to let the outputs be moved or removed, as a folder
    // turned read-only does (the file layer answers so, for root too): the
    // move fails with the code that names the folder, which stops the batch
    // and names it in the stop line, and the output that cannot be removed is
    // named.
    const std::string folder = out + "/One";
    struct Restore {
        ~Restore() { XWQF::SetFileFaultProbe(nullptr); }
    } restore;
    auto& center = platform::NotificationCenter::Default();
    const auto lock = center.AddObserver(
        QFConversionWillRenameNotification, &process, [folder](const platform::Notification&) {
            XWQF::SetFileFaultProbe([folder](const char*, const std::string& path) {
                return path.starts_with(folder + "/") ? EACCES : 0;
            });
        });
    EXPECT_EQ(Outcomes({in + "/b.wav", in + "/" + longName + ".wav"}, Conversion("One")),
              Strings{"Failure b.wav " + std::to_string(kFolderNotWritableErr)});
    center.RemoveObserver(lock);
    XWQF::SetFileFaultProbe(nullptr);
    const Strings left = Files(folder);
    ASSERT_EQ(PlaceholdersShown(left), Strings{".CorvaOutFile-P-N.aif"});
    EXPECT_EQ(FailureComment(posted), "could not remove '" + folder + "/" + left[0] + "'");
    const auto report = process.stopReport();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->reason, kFolderNotWritableErr);
    EXPECT_EQ(report->inputsLeft, 2);
    // The stop line is made of the reason's text.
    std::string reason;
    EXPECT_EQ(MakeErrorMessage(report->reason, reason), kErrorClassSerious);
    EXPECT_EQ(reason, "cannot write into folder '" + folder + "'");
}

TEST_F(EngineTest, TemporariesOfAKilledEncodingAreHiddenAndGoBeforeTheNextOutputThere) {
    Sox(in + "/a.wav", "-r 8000 -c 1 -b 16");
    const std::string folder = out + "/One";
    fs::create_directories(folder);
    const auto adpcm = Conversion("One", [](ConvSpec& c) { c.setOutputFileType(FourCC("MSAP")); });
    // A run killed while it encodes its output from the temporary file.
    const pid_t killed = ::fork();
    ASSERT_GE(killed, 0);
    if (killed == 0) {
        platform::NotificationCenter::Default().AddObserver(
            ProgressStep, nullptr, [](const platform::Notification& n) {
                const plist::Array* step = n.object.array();
                if (step && !step->empty() && (*step)[0].asString().starts_with("encoding"))
                    ::raise(SIGKILL);
            });
        Run({in + "/a.wav"}, {adpcm});
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(killed, &status, 0), killed);
    ASSERT_TRUE(WIFSIGNALED(status));
    // What it left is hidden, and the temporary file carries its process id.
    const Strings left = Files(folder);
    ASSERT_EQ(left.size(), 2u);
    int64_t pid = 0;
    EXPECT_TRUE(FindTemporaryName(left[1], &pid)) << left[1];
    EXPECT_EQ(pid, killed);
    EXPECT_EQ(PlaceholdersShown({left[0]}), Strings{".CorvaOutFile-P-N.wav"});

    // Fed back in, hidden leftovers are no inputs.
    ASSERT_EQ(Run({folder}, {Conversion("Two")}), 0);
    EXPECT_EQ(Names(), (Strings{"Start", "Header", "Footer", "Done"}));
    EXPECT_EQ(Files(folder), left);

    // The next batch that writes there removes them; a running process's stays.
    const std::string running =
        ".mp3temp-" + MachineTag() + "-" + std::to_string(::getppid()) + ".abcdefghij.wav";
    testsupport::WriteFile(folder + "/" + running, "keep");
    posted.clear();
    ASSERT_EQ(Run({in + "/a.wav"}, {adpcm}), 0);
    EXPECT_EQ(Names(), (Strings{"Start", "Header", "Success a.wav", "Footer", "Done"}));
    const Strings after = Files(folder);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0], running);
    EXPECT_TRUE(after[1].starts_with("a.")) << after[1];
}

// An AIFF writer whose header ends in its INST chunk (no MARK or regn after
// it), so that a file-size limit just before that chunk fails its write alone.
struct AiffEndingInItsInstrument : CAIFFFile {
    OSErr WriteMarkers() override { return 0; }
    OSErr WriteRegions() override { return 0; }
};

TEST_F(PipelineTest, AFailedWriteOfTheInstrumentChunkFailsTheInput) {
    const OSType aiff = FourCC("AIFF");
    const SoundFileDispatcherPtr saved = GetSoundFileDispatcher(aiff);
    auto swapped = std::make_shared<SoundFileDispatcher>();
    swapped->setCreateFunc(&Make<AiffEndingInItsInstrument>);
    ASSERT_TRUE(AttachSoundFileDispatcher(CSoundFile::GetFileTypeInfo(), aiff, swapped));
    struct Restore {
        OSType code;
        SoundFileDispatcherPtr dispatcher;
        ~Restore() { AttachSoundFileDispatcher(CSoundFile::GetFileTypeInfo(), code, dispatcher); }
    } restore{aiff, saved};

    Extras extras;
    extras.loops.push_back(SFTLoop{1, 100, 300, 1});
    Sox(in + "/plain.wav", "-r 8000 -c 1 -b 16");
    WithExtras(in + "/plain.wav", in + "/x.sd2", extras);
    fs::remove(in + "/plain.wav");
    const auto conversion = Conversion("One", [](ConvSpec& c) { c.setCopyExtras(true); });
    ASSERT_EQ(Run({in + "/x.sd2"}, {conversion}), 0);
    const std::string whole = testsupport::ReadFile(out + "/One/x.aif");
    const size_t inst = ChunkOffset(whole, "INST");
    ASSERT_EQ(inst + 28, whole.size());
    fs::remove_all(out);
    fs::create_directories(out + "/One");

    const std::string report = InChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(inst), rlim_t(inst)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        posted.clear();
        Run({in + "/x.sd2"}, {conversion});
        std::string text;
        const Strings wanted = {"Start", "Header", "Failure x.sd2 " + std::to_string(kFileBoundsErr),
                                "Footer", "Done"};
        if (Names() != wanted) text += testing::PrintToString(Names());
        if (Tree(out) != Strings{"One"}) text += testing::PrintToString(Tree(out));
        return text;
    });
    EXPECT_EQ(report, "");
}

}  // namespace
}  // namespace enginetest
