// A whole-process benchmark: a 10-minute 48 kHz 24-bit stereo WAVE converted to
// AIFF by a batch of one conversion, timed as a process of its own next to `cp`
// and `sox` of the same file, in one run. Each command runs a few times and the
// fastest wall time counts; the output ends with the ratios of our time to
// `cp`'s and to sox's (below 1 against sox: ours is faster).
//
//   batch_bench [rounds]                  the comparison (3 rounds unless given),
//                                         with the ratios of each round's times
//   batch_bench --convert IN OUTFOLDER    one batch: IN to AIFF under OUTFOLDER
//
// The batch uses whatever pipeline is registered for case 0 (a plain copy);
// while there is none, a copy through the format layer (blocks of the input
// buffer into the output buffer, refresh and flush) stands in for it.
// The input is made once with sox in a temporary folder, removed at the end.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "conversion/startup.h"
#include "engine/batch_runner.h"
#include "engine/case_dispatch.h"
#include "platform/user_defaults.h"
#include "soundfile/progress.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"

namespace {

namespace fs = std::filesystem;

// The stand-in for case 0: the input's frames in the buffer form, block by
// block, into an output of the conversion's type.
OSErr FormatLayerCopy(CSoundFile* in, CConvSpec* cs) {
    const OSType type = cs->GetNeedsStrictFType() ? cs->GetOutputFType() : in->GetFType();
    SoundFilePtr out(CSoundFile::CreateSoundFile(type));
    if (!out) return kCannotMakeFormatObjectErr;
    if (OSErr err =
            out->ISoundFile(CreateOutputhPathString(cs, CorvaOutFile::kCorvaOutFileNameStr)))
        return err;
    Str255 extension;
    cs->GetNameExtension(extension);
    const short channels = in->GetNumChannels();
    if (OSErr err = out->Create(channels, in->GetWordSize(), float(in->GetSampleRate()),
                                cs->GetFiletypeSpecifics().data(), extension))
        return err;
    if (OSErr err = in->InitInputBuffer()) return err;
    if (OSErr err = out->InitOutputBuffer()) return err;
    const uint32_t block = std::min(in->GetBufferFrames(), out->GetBufferFrames());
    const size_t frameBytes = size_t(in->GetWordSize() / 8) * size_t(channels);
    const uint32_t frames = in->GetNumSFrames();
    for (uint32_t at = 0; at < frames; at += block) {
        const uint32_t n = std::min(block, frames - at);
        if (OSErr err = in->RefreshInputBuffer(at)) return err;
        if (OSErr err = out->RefreshOutputBuffer(at)) return err;
        std::memcpy(out->GetOutputBuffer(), in->GetInputBuffer(), n * frameBytes);
        if (OSErr err = out->FlushOutputBuffer(n, at)) return err;
        if (OSErr err = SetProgressPosition(int(at + n))) return err;
    }
    return out.release()->Dispose(1);
}

// One batch in this process: `input` to AIFF under `outFolder`; the exit status.
int Convert(const std::string& input, const std::string& outFolder) {
    fs::create_directories(outFolder);
    platform::UserDefaults defaults(outFolder + "/preferences.plist");
    BootOptions options;
    options.defaults = &defaults;
    options.probeMp3Encoder = false;
    if (BootModel(options).status != 0) {
        std::fprintf(stderr, "the model did not start (is the resource folder there?)\n");
        return 2;
    }
    if (!GetPipeline(0)) SetPipeline(0, &FormatLayerCopy);
    auto conv = std::make_shared<ConvSpec>();
    conv->setConversionName("aiff");
    conv->setNeedsStrictFileType(true);
    conv->setOutputFileType(FourCC("AIFF"));
    conv->setNeedsSampleRateConversion(false);
    conv->setNeedsChannelTreat(false);
    conv->setNeedsNewWordLength(false);
    ConversionProcess process;
    const OSErr err = RunBatch(process, {input}, {conv}, outFolder);
    if (err) std::fprintf(stderr, "the batch failed: %d\n", int(err));
    return err ? 1 : 0;
}

// Runs a command through the shell; its wall time in seconds, or -1 when it failed.
double TimeCommand(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const auto end = std::chrono::steady_clock::now();
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return std::chrono::duration<double>(end - start).count();
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string SelfPath(const char* argv0) {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(argv0) : self.string();
}

int Compare(const std::string& self, int rounds) {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/corvane-batch-XXXXXX";
    if (!::mkdtemp(tmpl.data())) return 1;
    const std::string dir = tmpl;
    const std::string input = dir + "/in.wav";
    std::printf("making 10 minutes of 48 kHz 24-bit stereo WAVE with sox ...\n");
    std::fflush(stdout);
    if (TimeCommand("sox -q -n -r 48000 -c 2 -b 24 " + Quote(input) +
                    " synth 600 sine 440 sine 660 gain -6") < 0) {
        std::fprintf(stderr, "sox could not make the input\n");
        fs::remove_all(dir);
        return 1;
    }
    struct Entry {
        const char* name;
        std::string command;
        std::string output;  // removed after each run
        double best = -1;
        std::vector<double> times = {};  // one a round
    };
    std::vector<Entry> entries = {
        {"cp", "cp " + Quote(input) + " " + Quote(dir + "/copy.wav"), dir + "/copy.wav"},
        {"sox", "sox -q " + Quote(input) + " " + Quote(dir + "/sox.aiff"), dir + "/sox.aiff"},
        {"ours", Quote(self) + " --convert " + Quote(input) + " " + Quote(dir + "/batch"),
         dir + "/batch"},
    };
    for (int r = 0; r < rounds; ++r) {
        for (Entry& e : entries) {
            const double t = TimeCommand(e.command);
            std::error_code ec;
            fs::remove_all(e.output, ec);
            if (t < 0) {
                std::fprintf(stderr, "%s failed\n", e.name);
                fs::remove_all(dir);
                return 1;
            }
            if (e.best < 0 || t < e.best) e.best = t;
            e.times.push_back(t);
        }
    }
    fs::remove_all(dir);
    std::printf("\nfastest of %d, wall time of the whole process:\n", rounds);
    for (const Entry& e : entries) std::printf("  %-5s %7.3f s\n", e.name, e.best);
    const double ours = entries[2].best;
    std::printf("ours/cp  %.2f  (goal: 2 or less)\n", ours / entries[0].best);
    std::printf("ours/sox %.2f  (goal: below 1)\n", ours / entries[1].best);
    // The same ratios round by round (each round runs the three one after the
    // other), as median, least and greatest.
    auto spread = [&](const Entry& peer) {
        std::vector<double> r;
        for (size_t i = 0; i < entries[2].times.size(); ++i)
            r.push_back(entries[2].times[i] / peer.times[i]);
        std::sort(r.begin(), r.end());
        const size_t n = r.size();
        const double median = n % 2 ? r[n / 2] : (r[n / 2 - 1] + r[n / 2]) / 2;
        std::printf("  paired ours/%-4s median %.2f, least %.2f, greatest %.2f\n", peer.name, median,
                    r.front(), r.back());
    };
    spread(entries[0]);
    spread(entries[1]);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--convert") == 0) return Convert(argv[2], argv[3]);
    int rounds = 3;
    if (argc == 2) rounds = std::max(1, std::atoi(argv[1]));
    else if (argc != 1) {
        std::fprintf(stderr, "usage: %s [rounds] | --convert IN OUTFOLDER\n", argv[0]);
        return 2;
    }
    return Compare(SelfPath(argv[0]), rounds);
}
