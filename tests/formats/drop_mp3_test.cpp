// The mp3 writer over the external encoder: its argument vectors, stub encoders
// that report progress, fail, die or hang, and Debian's lame end to end with
// ffmpeg and ffprobe checking length and tags. Also the mp3 tag readers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "format_test_support.h"
#include "formats/mpeg/drop_mp3_file.h"
#include "formats/mpeg/mp3_tag_readers.h"
#include "formats/register_sound_files.h"
#include "platform/notification_center.h"
#include "platform/thread_context.h"
#include "soundfile/progress.h"

namespace {

using formattest::FileTest;
using formattest::Quote;
using formattest::RunCommand;
using testsupport::ReadFile;
using Args = std::vector<std::string>;

// ---- Argument vectors -----------------------------------------------------------

// The stereo-mode block of the type as the channel rule writes it.
std::string StereoModeText(const char* text) {
    std::string block(21, '\0');
    block[0] = 20;
    std::memcpy(&block[1], text, 20);
    return block;
}

struct ArgumentCase {
    const char* name;
    plist::Dictionary options;
    double rate;
    int channels;
    Args expected;  // between the fixed start and the two paths
    std::string input = "/in/Take 1.aif";
    std::string stereoMode = StereoModeText("MPEG joint stereo   ");
};

TEST(DropMP3Arguments, OptionsBecomeOneElementEachInTheEncodersOrder) {
    using V = plist::Value;
    const plist::Bytes blob{'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0};
    const ArgumentCase cases[] = {
        {"constant rate, joint stereo, no tags given",
         {{"LAMEEncodingMode", V(0)},
          {"LAMEQuality", V(2)},
          {"LAMEChannelHandling", V(1)},
          {"LAMEStereoMode", V(1)}},
         44100,
         2,
         {"--resample", "44.1", "-q", "2", "--cbr", "-b", "128", "-m", "j", "--nores",
          "--ignore-tag-errors"}},
        {"variable rate without quality, minimum rate, mono",
         {{"LAMEEncodingMode", V(2)},
          {"LAMEMinimumBitRate", V(64)},
          {"LAMEUseBitReservoir", V(true)},
          {"LAMEWriteID3Tags", V(false)}},
         48000,
         1,
         {"--resample", "48", "--vbr-new", "-h", "-b", "64", "-m", "m"}},
        {"average rate and the switches",
         {{"LAMEEncodingMode", V(1)},
          {"LAMEQuality", V("5")},
          {"LAMEMinimumBitRate", V(32)},
          {"LAMECopyrighted", V(true)},
          {"LAMECopy", V(true)},
          {"LAMEUseCRC", V(true)},
          {"LAMEISOCompliant", V(true)},
          {"LAMEWriteID3Tags", V(false)}},
         22050,
         2,
         {"--resample", "22.05", "-q", "5", "--abr", "128", "-b", "32", "-m", "j", "-c", "-o", "-p",
          "--nores", "--strictly-enforce-ISO"}},
        {"separate stereo from the type's block",
         {{"LAMEWriteID3Tags", V(false)}},
         11025,
         2,
         {"--resample", "11.025", "-h", "--cbr", "-b", "128", "-m", "s", "--nores"},
         "/in/a.aif",
         StereoModeText("MPEG separate stereo")},
        {"invalid channel handling leaves -m out",
         {{"LAMEChannelHandling", V(7)}, {"LAMEStereoMode", V(0)}, {"LAMEWriteID3Tags", V(false)}},
         44100,
         2,
         {"--resample", "44.1", "-h", "--cbr", "-b", "128", "--nores"}},
        {"a stereo mode without a letter leaves -m out",
         {{"LAMEChannelHandling", V(1)}, {"LAMEStereoMode", V(3)}, {"LAMEWriteID3Tags", V(false)}},
         44100,
         2,
         {"--resample", "44.1", "-h", "--cbr", "-b", "128", "--nores"}},
        {"two-digit track number leaves the title; tag texts unchanged",
         {{"LAMETitle", V("07 Caf\u00e9 \\ \"x\"\n$HOME")},
          {"LAMEArtist", V("A & B; 'c'")},
          {"LAMEAlbum", V("")},
          {"LAMETrack", V(3)},
          {"LAMEYear", V("1999")},
          {"LAMEComment", V("c")}},
         44100,
         1,
         {"--resample", "44.1", "-h", "--cbr", "-b", "128", "-m", "m", "--nores", "--tt",
          "Caf\u00e9 \\ \"x\"\n$HOME", "--ta", "A & B; 'c'", "--tn", "3", "--ty", "1999", "--tc", "c",
          "--ignore-tag-errors"}},
        {"one digit and a blank stay; a genre name drops the comment",
         {{"LAMETitle", V("7 Up")}, {"LAMEGenre", V("Rock")}, {"LAMEComment", V("c")}},
         44100,
         1,
         {"--resample", "44.1", "-h", "--cbr", "-b", "128", "-m", "m", "--nores", "--tt", "7 Up",
          "--tg", "Rock", "--ignore-tag-errors"}},
        {"a genre number keeps the comment; genre 0 is not passed",
         {{"LAMEGenre", V(17)}, {"LAMEComment", V("c")}},
         44100,
         1,
         {"--resample", "44.1", "-h", "--cbr", "-b", "128", "-m", "m", "--nores", "--tg", "17",
          "--tc", "c", "--ignore-tag-errors"}},
        {"genre 0",
         {{"LAMEGenre", V(0)}, {"LAMEComment", V("c")}},
         44100,
         1,
         {"--resample", "44.1", "-h", "--cbr", "-b", "128", "-m", "m", "--nores", "--tc", "c",
          "--ignore-tag-errors"}},
        {"the input's name as title, not for an mp3 input",
         {{"LAMEUseInputFileNameAsTitle", V(true)}, {"LAMETitle", V("T")}},
         44100,
         1,
         {"--resample", "44.1", "-h", "--cbr", "-b", "128", "-m", "m", "--nores", "--tt", "Take 1",
          "--ignore-tag-errors"}},
        {"an mp3 input keeps the title option",
         {{"LAMEUseInputFileNameAsTitle", V(true)}, {"LAMETitle", V("T")}},
         44100,
         1,
         {"--resample", "44.1", "-h", "--cbr", "-b", "128", "-m", "m", "--nores", "--tt", "T",
          "--ignore-tag-errors"},
         "/in/x.mp3"},
        {"a tag carried over replaces the tag options",
         {{"LAMETitle", V("T")}, {"ID3v2 tag blob", V(blob)}},
         44100,
         1,
         {"--resample", "44.1", "-h", "--cbr", "-b", "128", "-m", "m", "--nores"}},
    };
    for (const ArgumentCase& c : cases) {
        LameArgumentInputs in;
        in.options = plist::Value(c.options);
        in.inputFilePath = c.input;
        in.sampleRate = c.rate;
        in.channels = c.channels;
        in.bitRate = 128;
        in.stereoModeText = c.stereoMode;
        in.pcmPath = "/out/mp3temp.a b\\c";
        in.outputPath = "/out/it's \"new\"\n.mp3";
        Args expected = c.expected;
        expected.push_back(in.pcmPath);
        expected.push_back(in.outputPath);
        EXPECT_EQ(BuildLameArguments(in), expected) << c.name;
    }
    // Relative paths, such as an output folder "-out", never reach the encoder
    // as options; absolute ones stay as they are.
    LameArgumentInputs relative;
    relative.pcmPath = "-out/One/.mp3temp-7-abcdefghij.wav";
    relative.outputPath = "-x.mp3";
    const Args args = BuildLameArguments(relative);
    ASSERT_GE(args.size(), 2u);
    EXPECT_EQ(Args(args.end() - 2, args.end()),
              (Args{"./-out/One/.mp3temp-7-abcdefghij.wav", "./-x.mp3"}));
    // The blob goes in front only when tags are written and it is a whole tag.
    plist::Value options(plist::Dictionary{{"ID3v2 tag blob", plist::Value(blob)}});
    EXPECT_NE(LameTagBlobToPrepend(options), nullptr);
    options["LAMEWriteID3Tags"] = plist::Value(false);
    EXPECT_EQ(LameTagBlobToPrepend(options), nullptr);
    for (const plist::Bytes& cut : {plist::Bytes{'I', 'D', '3', 4, 0, 0, 0, 0, 0, 1},
                                    plist::Bytes{'I', 'D', '3', 4, 0, 0, 0, 0, 0, 1, 'x', 'y'},
                                    plist::Bytes{'I', 'D', '3'}}) {
        options = plist::Value(plist::Dictionary{{"ID3v2 tag blob", plist::Value(cut)}});
        EXPECT_EQ(LameTagBlobToPrepend(options), nullptr) << cut.size();
    }
}

TEST(DropMP3Arguments, ProgressAndGenreLinesAreReadStrictly) {
    const std::pair<const char*, int> lines[] = {
        {"    50/  115 (43%)|    0:00/    0:00|", 43},
        {"(100%)", 100},
        {"( 7%)", 7},
        {"Encoding as 44.1 kHz j-stereo MPEG-1 Layer III (11x) 128 kbps qval=3", -1},
        {"kbps        %     %", -1},
        {"  128 [  114] %%%%%%%%%%", -1},
        {"(%)", -1},
        {"no parenthesis 5%", -1},
    };
    for (const auto& [line, percent] : lines) EXPECT_EQ(LameProgressPercent(line), percent) << line;

    const auto genres =
        ParseLameGenreList("123 A Cappella\n 34 Acid\nx Bad\n  7\n 12 Other\r\n 99 Cut");
    EXPECT_EQ(genres,
              (std::map<std::string, int>{{"A Cappella", 123}, {"Acid", 34}, {"Other", 12}}));
}

// ---- Stub encoders ------------------------------------------------------------------

// Runs a CDropMP3File through a whole conversion in a thread context of its own.
class DropMP3Run : public FileTest {
protected:
    void SetUp() override {
        CSoundFile::Cleanup();
        RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
        token_ = platform::NotificationCenter::Default().AddObserver(
            ProgressPercentage, nullptr, [this](const platform::Notification& n) {
                percents_.push_back(static_cast<int>(n.object.asInteger()));
            });
    }
    void TearDown() override {
        platform::NotificationCenter::Default().RemoveObserver(token_);
        SetLameEncoderPathOverride("");
        CSoundFile::Cleanup();
        FileTest::TearDown();
    }

    // A shell script made executable; its path.
    std::string Stub(const std::string& name, const std::string& body) {
        const std::string path = Put(name, "#!/bin/sh\n" + body);
        ::chmod(path.c_str(), 0755);
        return path;
    }

    // Writes `frames` frames of a sine into a new mp3 at `output` and closes it;
    // the status of Close (or of the first failing step).
    OSErr Encode(const std::string& output, uint32_t frames, int channels = 2, double rate = 44100,
                 const std::function<void()>& whileClosing = {}) {
        CSoundFile* file = CSoundFile::CreateSoundFile(FourCC("DMP3"));
        if (!file) return -1;
        std::string block = StereoModeText("MPEG joint stereo   ");
        block.resize(256);
        OSErr err = file->ISoundFile(output);
        if (!err)
            err = file->Create(static_cast<short>(channels), 128, static_cast<float>(rate),
                               block.data(), nullptr);
        if (!err) {
            std::vector<int16_t> samples(static_cast<size_t>(frames) * channels);
            for (size_t i = 0; i < samples.size(); ++i)
                samples[i] = static_cast<int16_t>(8000 * std::sin(i / channels * 0.0627));
            err = formattest::WriteBufferForm(*file, 0, formattest::Native16(samples));
        }
        std::thread helper;
        if (whileClosing) helper = std::thread(whileClosing);
        const OSErr closed = file->Dispose(1);
        if (helper.joinable()) helper.join();
        return err ? err : closed;
    }

    // The names in the test folder (the scripts and their traces aside).
    std::vector<std::string> Leftovers() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            const std::string name = e.path().filename();
            if (name.rfind("stub", 0) != 0 && name.rfind("trace", 0) != 0) names.push_back(name);
        }
        return names;
    }

    platform::ThreadContext context_;
    std::vector<int> percents_;

private:
    platform::NotificationCenter::Token token_ = 0;
};

TEST_F(DropMP3Run, StubEncodersGiveProgressAndStatusesAndLeaveNothingBehindOnFailure) {
    platform::ScopedThreadContext scope(&context_);
    context_.values["QFOutputSpecifics"] =
        plist::Value(plist::Dictionary{{"LAMETitle", plist::Value("caf\u00e9")}});
    const std::string trace = dir / "trace";
    // The last argument is the output; the one before it the PCM file.
    const std::string writeOutput = "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + trace +
                                    "'\n"
                                    "eval out=\\${$#}\nprintf 'mp3' > \"$out\"\n";
    struct Case {
        const char* name;
        std::string body;
        OSErr status;
        std::vector<int> percents;
    };
    const Case cases[] = {
        {"progress redrawn with carriage returns",
         writeOutput + "printf 'LAME 3.100\\n  1/9 (11%%)|x\\r  5/9 ( 55%%)|\\r(11x) kbps %%\\n"
                       "  9/9 (100%%)|\\n'\nexit 0\n",
         0,
         {11, 55, 100}},
        {"exit status 1", writeOutput + "exit 1\n", kLameEncoderFailedErr, {}},
        {"killed by a signal", writeOutput + "kill -9 $$\n", kLameEncoderFailedErr, {}},
        {"no output written", "exit 0\n", kLameEncoderFailedErr, {}},
    };
    for (const Case& c : cases) {
        percents_.clear();
        SetLameEncoderPathOverride(Stub("stub", c.body));
        const std::string output = dir / "out";
        EXPECT_EQ(Encode(output, 5000), c.status) << c.name;
        EXPECT_EQ(percents_, c.percents) << c.name;
        if (c.status == 0) {
            EXPECT_EQ(Leftovers(), std::vector<std::string>{"out.mp3"}) << c.name;
            EXPECT_EQ(ReadFile(output + ".mp3"), "mp3");
            std::filesystem::remove(output + ".mp3");
        } else {
            EXPECT_TRUE(Leftovers().empty()) << c.name;
        }
    }

    // Paths and tags reach the program unchanged, in a UTF-8 locale.
    SetLameEncoderPathOverride(
        Stub("stub2",
             writeOutput + "printf '%s %s' \"$LC_ALL\" \"$TERM\" > '" + dir / "trace.env" + "'\n"));
    const std::string odd = dir / "a b\\c 'd' \"e\" $f\ng";
    EXPECT_EQ(Encode(odd, 100, 1), 0);
    const std::string args = ReadFile(trace);
    EXPECT_NE(args.find(std::string("--tt\0caf\u00e9\0", 11)), std::string::npos);
    EXPECT_NE(args.find("\0" + odd + ".mp3\0"), std::string::npos);
    EXPECT_EQ(ReadFile(dir / "trace.env"), "C.UTF-8 xterm-color");
    std::filesystem::remove(odd + ".mp3");

    // A missing program, and an output that is already there.
    SetLameEncoderPathOverride(dir / "no-such-lame");
    EXPECT_EQ(Encode(dir / "out", 100), kLameEncoderFailedErr);
    EXPECT_TRUE(Leftovers().empty());
    SetLameEncoderPathOverride(Stub("stub3", writeOutput));
    Put("taken.mp3", "mine");
    EXPECT_EQ(Encode(dir / "taken", 100), kDupFNErr);
    EXPECT_EQ(ReadFile(dir / "taken.mp3"), "mine");
}

// The state letter of a process, 'X' when there is none.
char ProcessState(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : 'X';
}

TEST_F(DropMP3Run, AStopEndsTheEncoderAndEverythingItStartedAndRemovesItsOutput) {
    platform::ScopedThreadContext scope(&context_);
    const std::string pids = dir / "trace.pids";
    // Prints nothing while it waits, and starts a child of its own.
    SetLameEncoderPathOverride(Stub("stub",
                                    "eval out=\\${$#}\nprintf 'partial' > \"$out\"\nsleep 60 &\n"
                                    "echo $$ $! > '" +
                                        pids + "'\nwait\n"));
    for (OSErr stop : {OSErr(kUserCanceledErr), OSErr(-2019)}) {
        context_.lastError = 0;
        const auto started = std::chrono::steady_clock::now();
        const OSErr status = Encode(dir / "out", 2000, 2, 44100, [this, &pids, stop] {
            // Wait for the stub to be running, then ask for the stop.
            for (int i = 0; i < 500 && ReadFile(pids).find(' ') == std::string::npos; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            context_.lastError = stop;
        });
        EXPECT_EQ(status, stop);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        EXPECT_TRUE(Leftovers().empty());
        // The stub is gone and reaped; its child is gone (a zombie of it waits
        // for a parent that is not ours).
        std::istringstream in(ReadFile(pids));
        pid_t stub = 0, child = 0;
        ASSERT_TRUE(in >> stub >> child);
        EXPECT_EQ(ProcessState(stub), 'X');
        const char state = ProcessState(child);
        EXPECT_TRUE(state == 'X' || state == 'Z') << state;
        std::filesystem::remove(pids);
    }
    context_.lastError = 0;
}

TEST_F(DropMP3Run, ADiscardedOutputRunsNoEncoderAndLeavesNothing) {
    platform::ScopedThreadContext scope(&context_);
    const std::string ran = dir / "trace.ran";
    SetLameEncoderPathOverride(Stub("stub", "touch '" + ran + "'\n"));
    CSoundFile* file = CSoundFile::CreateSoundFile(FourCC("DMP3"));
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(file->ISoundFile(dir / "out"), 0);
    ASSERT_EQ(file->Create(2, 128, 44100, nullptr, nullptr), 0);
    ASSERT_EQ(formattest::WriteBufferForm(*file, 0, std::vector<uint8_t>(4000)), 0);
    EXPECT_EQ(file->Dispose(0), 0);
    EXPECT_FALSE(std::filesystem::exists(ran));
    EXPECT_TRUE(Leftovers().empty());

    file = CSoundFile::CreateSoundFile(FourCC("DMP3"));
    ASSERT_EQ(file->ISoundFile(dir / "out"), 0);
    EXPECT_EQ(file->Create(3, 128, 44100, nullptr, nullptr), kMP3TooManyChannelsErr);
    EXPECT_EQ(file->Dispose(0), 0);
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(DropMP3Run, TheOnePassFormHandsTheSourceToTheEncoder) {
    platform::ScopedThreadContext scope(&context_);
    const std::string trace = dir / "trace";
    SetLameEncoderPathOverride(Stub("stub", "eval in=\\${$(($# - 1))}\nprintf '%s' \"$in\" > '" +
                                                trace +
                                                "'\neval out=\\${$#}\necho x > \"$out\"\n"));
    SoundFilePtr source(CSoundFile::CreateSoundFile(FourCC("WAVE")));
    ASSERT_EQ(source->ISoundFile(dir / "source"), 0);
    ASSERT_EQ(source->Create(1, 16, 22050, nullptr, nullptr), 0);
    auto* coded = dynamic_cast<CCodedFile*>(CSoundFile::CreateSoundFile(FourCC("DMP3")));
    ASSERT_NE(coded, nullptr);
    ASSERT_EQ(coded->ISoundFile(dir / "out"), 0);
    ASSERT_EQ(coded->Create(source.get(), 1, 64, 22050, nullptr, nullptr), 0);
    EXPECT_EQ(coded->Dispose(1), 0);
    EXPECT_EQ(ReadFile(trace), source->GetPath());
    EXPECT_TRUE(std::filesystem::exists(dir / "out.mp3"));
}

// ---- Debian's lame, checked by ffmpeg and ffprobe ----------------------------------------

bool HavePeers() {
    return testsupport::HaveProgram("lame") && testsupport::HaveProgram("ffprobe") &&
           testsupport::HaveProgram("ffmpeg") && testsupport::HaveProgram("sox");
}

std::string Probe(const std::string& path, const std::string& entries) {
    std::string out;
    RunCommand(
        "ffprobe -v error -show_entries " + entries + " -of default=nw=1:nk=1 " + Quote(path),
        &out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// Frames ffmpeg decodes from a file (16-bit, its own channel count).
size_t DecodedFrames(const std::string& path, int channels) {
    std::string pcm;
    RunCommand("ffmpeg -v error -i " + Quote(path) + " -f s16le -", &pcm);
    return pcm.size() / (2 * channels);
}

class DropMP3Lame : public DropMP3Run {
protected:
    void SetUp() override {
        if (!HavePeers()) GTEST_SKIP() << "lame, sox, ffmpeg or ffprobe missing";
        DropMP3Run::SetUp();
        SetLameEncoderPathOverride("");
    }
    // Copies a sox-made WAV through the mp3 writer; the status.
    OSErr EncodeWave(const std::string& wave, const std::string& output) {
        SoundFilePtr in(CSoundFile::CreateSoundFile(FourCC("WAVE")));
        if (!in || in->ISoundFile(wave) || in->Open()) return -1;
        std::vector<uint8_t> bytes;
        if (formattest::ReadAllFrames(*in, &bytes)) return -1;
        CSoundFile* out = CSoundFile::CreateSoundFile(FourCC("DMP3"));
        OSErr err = out->ISoundFile(output);
        if (!err)
            err = out->Create(in->GetNumChannels(), 128, static_cast<float>(in->GetSampleRate()),
                              nullptr, nullptr);
        if (!err) err = formattest::WriteBufferForm(*out, 0, bytes);
        const OSErr closed = out->Dispose(1);
        return err ? err : closed;
    }
};

TEST_F(DropMP3Lame, ASoxWaveBecomesAnMp3OfTheRightLengthWithItsTags) {
    platform::ScopedThreadContext scope(&context_);
    context_.values["QFOutputSpecifics"] = plist::Value(plist::Dictionary{
        {"LAMEEncodingMode", plist::Value(0)},
        {"LAMETitle", plist::Value("12 Caf\u00e9 \\ \"quoted\"")},
        {"LAMEArtist", plist::Value("Zo\u00eb & Friends")},
        {"LAMEAlbum", plist::Value("$HOME `x`")},
        {"LAMEGenre", plist::Value(123)},
        {"LAMEYear", plist::Value("2001")},
    });
    const struct {
        int rate;
        int channels;
    } shapes[] = {{44100, 2}, {22050, 1}, {48000, 2}};
    for (const auto& s : shapes) {
        const std::string wave = dir / "in.wav";
        const uint32_t frames = static_cast<uint32_t>(s.rate * 3 / 2);
        ASSERT_TRUE(RunCommand("sox -r " + std::to_string(s.rate) + " -c " +
                               std::to_string(s.channels) + " -n -b 16 " + Quote(wave) + " synth " +
                               std::to_string(frames) + "s sine 440"));
        percents_.clear();
        const std::string output = dir / "o u t";
        ASSERT_EQ(EncodeWave(wave, output), 0) << s.rate;
        const std::string mp3 = output + ".mp3";
        EXPECT_EQ(DecodedFrames(mp3, s.channels), frames) << s.rate;
        EXPECT_EQ(Probe(mp3, "stream=sample_rate"), std::to_string(s.rate));
        EXPECT_EQ(Probe(mp3, "format_tags=title"), "Caf\u00e9 \\ \"quoted\"");
        EXPECT_EQ(Probe(mp3, "format_tags=artist"), "Zo\u00eb & Friends");
        EXPECT_EQ(Probe(mp3, "format_tags=album"), "$HOME `x`");
        EXPECT_EQ(Probe(mp3, "format_tags=genre"), "A Cappella");
        EXPECT_FALSE(percents_.empty());
        if (!percents_.empty()) {
            EXPECT_EQ(percents_.back(), 100);
        }
        std::filesystem::remove(mp3);
        std::filesystem::remove(wave);
        EXPECT_TRUE(Leftovers().empty());
    }
    EXPECT_EQ(CDropMP3File::LAMEEncoderGenreList("/usr/bin/lame").at("A Cappella"), 123);
    EXPECT_TRUE(IsLameVersionSufficient(CDropMP3File::LAMEEncoderVersion("/usr/bin/lame")));
}

TEST_F(DropMP3Lame, AnID3v2TagCarriedOverOpensTheOutputByteForByte) {
    platform::ScopedThreadContext scope(&context_);
    const std::string wave = dir / "in.wav";
    ASSERT_TRUE(RunCommand("sox -r 44100 -c 2 -n -b 16 " + Quote(wave) + " synth 1 sine 440"));
    const std::pair<const char*, std::string> taggers[] = {
        {"lame", "lame --quiet --add-id3v2 --tt 'Carried' --ta 'Arti\u00e9' " + Quote(wave) + " "},
        {"ffmpeg v2.3",
         "ffmpeg -v error -i " + Quote(wave) +
             " -id3v2_version 3 -metadata title=Carried -metadata artist=Arti\u00e9 "},
        {"ffmpeg v2.4",
         "ffmpeg -v error -i " + Quote(wave) +
             " -id3v2_version 4 -metadata title=Carried -metadata artist=Arti\u00e9 "},
    };
    for (const auto& [name, command] : taggers) {
        const std::string tagged = dir / "tagged.mp3";
        ASSERT_TRUE(RunCommand(command + Quote(tagged))) << name;
        unsigned long size = 0;
        std::unique_ptr<uint8_t[]> tag = Mp3TagReader(tagged).get_id3v2_tag(&size);
        ASSERT_NE(tag, nullptr) << name;
        const plist::Bytes blob(tag.get(), tag.get() + size);
        context_.values["QFOutputSpecifics"] = plist::Value(plist::Dictionary{
            {"ID3v2 tag blob", plist::Value(blob)}, {"LAMETitle", plist::Value("ignored")}});
        const std::string output = dir / "out";
        ASSERT_EQ(EncodeWave(wave, output), 0) << name;
        const std::string mp3 = ReadFile(output + ".mp3");
        ASSERT_GT(mp3.size(), blob.size()) << name;
        EXPECT_EQ(0, std::memcmp(mp3.data(), blob.data(), blob.size())) << name;
        EXPECT_EQ(Probe(output + ".mp3", "format_tags=title"), "Carried") << name;
        EXPECT_EQ(Probe(output + ".mp3", "format_tags=artist"), "Arti\u00e9") << name;
        EXPECT_EQ(DecodedFrames(output + ".mp3", 2), 44100u) << name;
        std::filesystem::remove(output + ".mp3");
        std::filesystem::remove(tagged);
    }
}

// ---- Tag readers ----------------------------------------------------------------------

std::unique_ptr<uint8_t[]> TagOf(const std::string& bytes, unsigned long* size) {
    MemorySource source(bytes.data(), bytes.size());
    return Mp3TagReader(source).get_id3v2_tag(size);
}

TEST(Mp3TagReaders, ID3v2SizesFootersAndDamagedHeaders) {
    const std::string body(300, 'x');
    const auto header = [](std::string start, uint8_t flags, std::string size) {
        return start + std::string("\x04\x00", 2) + static_cast<char>(flags) + size;
    };
    const std::string size257{0, 0, 2, 1};
    const struct {
        const char* name;
        std::string bytes;
        unsigned long size;  // 0: no tag
    } cases[] = {
        {"257 body bytes", header("ID3", 0, size257) + body, 267},
        {"a footer adds ten bytes", header("ID3", 0x10, size257) + body, 277},
        {"first byte differs", header("XD3", 0, size257) + body, 0},
        {"second byte differs", header("IX3", 0, size257) + body, 0},
        {"third byte differs", header("IDX", 0, size257) + body, 0},
        {"size byte with its high bit set", header("ID3", 0, {0, 0, 2, char(0x81)}) + body, 0},
        {"version byte 0xFF", "ID3\xFF" + header("ID3", 0, size257).substr(4) + body, 0},
        {"revision byte 0xFF", std::string("ID3\x04\xFF", 5) + header("ID3", 0, size257).substr(5) + body, 0},
        {"longer than the file", header("ID3", 0, {0, 0, 3, 0}) + body, 0},
        {"exactly the file", header("ID3", 0, {0, 0, 0, 20}) + std::string(20, 'y'), 30},
        {"largest size, short file", header("ID3", 0x10, {0x7f, 0x7f, 0x7f, 0x7f}), 0},
        {"shorter than a header", "ID3\4\0", 0},
        {"empty", "", 0},
    };
    for (const auto& c : cases) {
        unsigned long size = 99;
        const auto tag = TagOf(c.bytes, &size);
        EXPECT_EQ(size, c.size) << c.name;
        ASSERT_EQ(tag != nullptr, c.size != 0) << c.name;
        if (tag) {
            EXPECT_EQ(0, std::memcmp(tag.get(), c.bytes.data(), c.size)) << c.name;
        }
    }
}

TEST(Mp3TagReaders, ID3v1RecordAtTheEnd) {
    std::string record = "TAG" + std::string(125, '\0');
    std::memcpy(&record[3], "Title", 5);
    record[127] = 17;
    ID3v1_header h{};
    const std::string file = std::string(50, 'a') + record;
    MemorySource source(file.data(), file.size());
    ASSERT_TRUE(Mp3TagReader(source).get_id3v1_tag(&h));
    EXPECT_EQ(std::string(h.title, 5), "Title");
    EXPECT_EQ(h.genre, 17);
    const std::string shortFile = record.substr(0, 127);
    MemorySource small(shortFile.data(), shortFile.size());
    EXPECT_FALSE(Mp3TagReader(small).get_id3v1_tag(&h));
    const std::string noTag = "TAx" + record.substr(3);
    MemorySource other(noTag.data(), noTag.size());
    EXPECT_FALSE(Mp3TagReader(other).get_id3v1_tag(&h));
    EXPECT_FALSE(Mp3TagReader(std::string("/no/such/file.mp3")).get_id3v1_tag(&h));
}

TEST(Mp3TagReaders, ID3v1FieldsAgreeWithFfprobe) {
    if (!testsupport::HaveProgram("ffmpeg") || !testsupport::HaveProgram("ffprobe"))
        GTEST_SKIP() << "ffmpeg or ffprobe missing";
    testsupport::TempDir dir;
    const std::string mp3 = dir / "v1.mp3";
    ASSERT_TRUE(
        RunCommand("ffmpeg -v error -f lavfi -i sine=duration=0.5 -id3v2_version 0 "
                   "-write_id3v1 1 -metadata title='Short Title' -metadata "
                   "artist=Someone -metadata album='An Album' -metadata date=1987 "
                   "-metadata comment=Remark " +
                   Quote(mp3)));
    ID3v1_header h{};
    ASSERT_TRUE(Mp3TagReader(mp3).get_id3v1_tag(&h));
    const auto field = [](const char* f, size_t n) { return std::string(f, strnlen(f, n)); };
    EXPECT_EQ(field(h.title, 30), Probe(mp3, "format_tags=title"));
    EXPECT_EQ(field(h.artist, 30), Probe(mp3, "format_tags=artist"));
    EXPECT_EQ(field(h.album, 30), Probe(mp3, "format_tags=album"));
    EXPECT_EQ(field(h.year, 4), Probe(mp3, "format_tags=date"));
    EXPECT_EQ(field(h.comment, 28), Probe(mp3, "format_tags=comment"));
}

TEST(Mp3TagReaders, DescriptionsBySampleRateAndChannels) {
    const std::pair<double, const char*> rates[] = {
        {8000, "MPEG-2.5 Layer III ('MP3')"}, {11025, "MPEG-2.5 Layer III ('MP3')"},
        {16000, "MPEG-2 Layer III ('MP3')"},  {22050, "MPEG-2 Layer III ('MP3')"},
        {32000, "MPEG-1 Layer III ('MP3')"},  {44100, "MPEG-1 Layer III ('MP3')"},
    };
    for (const auto& [rate, text] : rates) EXPECT_EQ(GetMp3Description(rate), text) << rate;
    EXPECT_EQ(GetMp3ChannelDescription(1), "mono");
    EXPECT_EQ(GetMp3ChannelDescription(2), "stereo");
    EXPECT_EQ(GetMp3ChannelDescription(6), "multichannel");
    EXPECT_EQ(GetMp3ChannelDescription(0), "multichannel");
}

}  // namespace
