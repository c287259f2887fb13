#include "formats/mpeg/drop_mp3_file.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "foundation/pstring.h"
#include "foundation/string_utils.h"
#include "foundation/xwqf.h"
#include "formats/mpeg/mp3_tag_readers.h"
#include "platform/thread_context.h"
#include "soundfile/progress.h"

extern char** environ;

namespace {

const char* const kOutputSpecificsKey = "QFOutputSpecifics";
const char* const kCurInputFilePathKey = "XWCurInputFilePath";
const char* const kID3v2TagBlobKey = "ID3v2 tag blob";
const char* const kEncodingStepText = "Encoding mp3 using the LAME encoder";

// The identifier of the temporary WAVE file beside the output.
const char* const kTempIdentifier = "mp3temp";

// The child's environment: a terminal for its progress redraw, and a UTF-8
// locale, without which it drops or cuts non-ASCII tag texts.
const char* const kChildTerm = "TERM=xterm-color";
const char* const kChildLocale = "LC_ALL=C.UTF-8";

// A progress line is cut at this length; the rest makes a line of its own.
constexpr size_t kMaxLineBytes = 1024;
// How long the pipe is waited on before the stop request is looked at again.
constexpr int kPollMs = 50;
// How long a child has to end after SIGTERM before it is killed.
constexpr int kTerminateGraceMs = 2000;
// The genre list is short; a program that takes longer than this is ended.
constexpr int kGenreListTimeoutMs = 10000;
// Enough for the genre list (about 3 KB) with room to spare; more is dropped.
constexpr size_t kMaxGenreListOutput = 64 * 1024;
// Genre numbers of the list go up to 191 in known versions; more digits are no number.
constexpr size_t kMaxGenreDigits = 4;

// Statuses the engine uses for a stop request.
constexpr OSErr kStopCodes[] = {kUserCanceledErr, -2019};

bool IsStop(OSErr err) {
    return std::find(std::begin(kStopCodes), std::end(kStopCodes), err) != std::end(kStopCodes);
}

std::mutex gOverrideMutex;
std::string gEncoderOverride;

long long MonotonicMs() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SleepMs(int ms) {
    const timespec pause{0, static_cast<long>(ms) * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
}

// A file's path as the encoder is given it: a relative path is led by "./",
// so that a name beginning with "-" is never read as an option.
std::string PathArgument(const std::string& path) {
    if (path.empty() || path.front() == '/') return path;
    return "./" + path;
}

// ---- Option values ------------------------------------------------------------

const plist::Value* Option(const plist::Value& options, const char* key) {
    const plist::Value* v = options.find(key);
    return v && !v->isNull() ? v : nullptr;
}

// The leading decimal integer of a text (blanks and a sign allowed, saturating);
// 0 when there is none.
long long LeadingInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<long long>(value * 10 + (text[i] - '0'), INT32_MAX);
    }
    return negative ? -value : value;
}

// The integer value of an option: numbers as they are, texts by their leading number.
long long IntOption(const plist::Value* v) {
    if (!v) return 0;
    if (v->isString()) return LeadingInteger(v->asString());
    return std::clamp<int64_t>(v->asInteger(), INT32_MIN, INT32_MAX);
}

// A switch: absent gives the fallback; a text counts as YES when it begins with
// Y, y, T, t or a digit 1 to 9.
bool BoolOption(const plist::Value& options, const char* key, bool fallback) {
    const plist::Value* v = Option(options, key);
    if (!v) return fallback;
    if (v->isString()) {
        const std::string text = v->asString();
        const size_t at = text.find_first_not_of(" \t");
        if (at == std::string::npos) return false;
        const char c = text[at];
        return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
    }
    return v->asBool();
}

// A text option (numbers written in the C locale); empty when absent.
std::string TextOption(const plist::Value& options, const char* key) {
    const plist::Value* v = Option(options, key);
    if (!v) return std::string();
    if (v->isString()) return v->asString();
    if (v->type() == plist::Value::Type::Integer) return std::to_string(v->asInteger());
    if (v->type() == plist::Value::Type::Real) {
        char text[32];
        const auto r = std::to_chars(text, text + sizeof text, v->asReal());
        return std::string(text, r.ptr);
    }
    return std::string();
}

// rate / 1000 with at most six significant digits and no trailing zeros: 44.1, 48.
std::string KiloHertzText(double rate) {
    char text[32];
    const auto r =
        std::to_chars(text, text + sizeof text, rate / 1000.0, std::chars_format::general, 6);
    return std::string(text, r.ptr);
}

// A title of the form digit, digit, blank, rest loses its first three characters.
std::string WithoutTrackNumber(const std::string& title) {
    if (title.size() >= 3 && std::isdigit(static_cast<unsigned char>(title[0])) &&
        std::isdigit(static_cast<unsigned char>(title[1])) && title[2] == ' ')
        return title.substr(3);
    return title;
}

void AddTagArguments(const LameArgumentInputs& in, std::vector<std::string>* args) {
    const plist::Value& options = in.options;
    const auto add = [args](const char* option, const std::string& value) {
        if (value.empty()) return;
        args->push_back(option);
        args->push_back(value);
    };
    std::string title;
    if (extension(filename(in.inputFilePath)) != "mp3" &&
        BoolOption(options, "LAMEUseInputFileNameAsTitle", false))
        title = basename(in.inputFilePath);
    else
        title = WithoutTrackNumber(TextOption(options, "LAMETitle"));
    add("--tt", title);
    add("--ta", TextOption(options, "LAMEArtist"));
    add("--tl", TextOption(options, "LAMEAlbum"));
    add("--tn", TextOption(options, "LAMETrack"));
    add("--ty", TextOption(options, "LAMEYear"));

    const plist::Value* genre = Option(options, "LAMEGenre");
    const long long genreNumber = IntOption(genre);
    const std::string comment = TextOption(options, "LAMEComment");
    if (genreNumber > 0) {
        add("--tg", std::to_string(genreNumber));
        add("--tc", comment);
    } else if (genre && genre->isString() && !genre->asString().empty()) {
        // A genre given by name takes the comment's place.
        add("--tg", genre->asString());
    } else {
        add("--tc", comment);
    }
    args->push_back("--ignore-tag-errors");
}

// The letter of "-m"; empty (with a diagnostic) when the settings give none.
std::string ChannelModeLetter(const LameArgumentInputs& in) {
    const plist::Value* handling = Option(in.options, "LAMEChannelHandling");
    const plist::Value* stereo = Option(in.options, "LAMEStereoMode");
    if (!handling || !stereo) {
        if (in.channels != 2) return "m";
        return in.stereoModeText.size() > 6 && in.stereoModeText[6] == 'j' ? "j" : "s";
    }
    const long long how = IntOption(handling);
    if (how == 0) return "m";
    if (how != 1) {
        std::fprintf(stderr, "invalid lame channel handling: %lld\n", how);
        return std::string();
    }
    if (in.channels == 1) return "m";
    if (in.channels != 2) {
        std::fprintf(stderr, "invalid number of channels: %d\n", in.channels);
        return std::string();
    }
    switch (IntOption(stereo)) {
        case 0:
            return "s";
        case 1:
            return "j";
        case 2:
            return "d";
        default:
            std::fprintf(stderr, "invalid lame stereo mode: %lld\n", IntOption(stereo));
            return std::string();
    }
}

// ---- Running a child ----------------------------------------------------------

// The environment of the calling process with TERM and LC_ALL replaced.
std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("TERM=", 0) == 0 || entry.rfind("LC_ALL=", 0) == 0) continue;
        env.push_back(entry);
    }
    env.push_back(kChildTerm);
    env.push_back(kChildLocale);
    return env;
}

std::vector<char*> PointerArray(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (std::string& t : texts) pointers.push_back(t.data());
    pointers.push_back(nullptr);
    return pointers;
}

struct ChildResult {
    int spawnError = 0;  // errno of a failed start
    bool exited = false;
    int exitStatus = 0;
    bool signaled = false;
    int signal = 0;
    OSErr stopped = 0;  // the stop request that ended the child
    bool timedOut = false;
};

// True when the child has ended; it is left unreaped, so that its process
// group cannot be taken by another process meanwhile.
bool HasEnded(pid_t pid) {
    siginfo_t info{};
    for (;;) {
        const int r = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (r < 0 && errno == EINTR) continue;
        return r < 0 || info.si_pid == pid;
    }
}

// Ends whatever is left of the child's process group and reaps the child.
void Reap(pid_t pid, ChildResult* result) {
    ::kill(-pid, SIGKILL);
    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited != pid) return;
    if (WIFEXITED(status)) {
        result->exited = true;
        result->exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result->signaled = true;
        result->signal = WTERMSIG(status);
    }
}

// Asks the child's group to end, waits a moment, then kills it.
void Terminate(pid_t pid) {
    ::kill(-pid, SIGTERM);
    const long long deadline = MonotonicMs() + kTerminateGraceMs;
    while (!HasEnded(pid) && MonotonicMs() < deadline) SleepMs(10);
}

// Runs `path` with `args` in a process group of its own: standard input from
// /dev/null, standard output and error into one pipe, whose bytes go to
// `onOutput`. `checkStop` is asked between reads (at least every kPollMs); a
// non-zero answer, or the time limit (0: none) running out, ends the child.
ChildResult RunChild(const std::string& path, const std::vector<std::string>& args,
                     const std::function<void(const char*, size_t)>& onOutput,
                     const std::function<OSErr()>& checkStop, int timeoutMs) {
    ChildResult result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.spawnError = errno;
        return result;
    }
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = ChildEnvironment();
    std::vector<char*> argvPointers = PointerArray(argv);
    std::vector<char*> envPointers = PointerArray(env);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    // No descriptor of ours (open forks of other files) goes to the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attr, &defaults);

    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, path.c_str(), &actions, &attr, argvPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        result.spawnError = spawned;
        return result;
    }

    const long long deadline = timeoutMs > 0 ? MonotonicMs() + timeoutMs : 0;
    const auto expired = [&] { return deadline != 0 && MonotonicMs() >= deadline; };
    char buf[4096];
    bool open = true;
    for (;;) {
        if ((result.stopped = checkStop()) != 0) break;
        if (expired()) {
            result.timedOut = true;
            break;
        }
        if (open) {
            pollfd p{fds[0], POLLIN, 0};
            const int ready = ::poll(&p, 1, kPollMs);
            if (ready < 0 && errno != EINTR) open = false;
            if (ready > 0) {
                const ssize_t n = ::read(fds[0], buf, sizeof buf);
                if (n < 0 && errno == EINTR) continue;
                if (n > 0) {
                    onOutput(buf, static_cast<size_t>(n));
                    continue;
                }
                open = false;  // end of the output (or a failed read)
            }
            // Nothing to read: a child that has ended (its output perhaps held
            // open by something it started) is finished with.
            if (open && ready == 0 && HasEnded(pid)) break;
        } else {
            if (HasEnded(pid)) break;
            SleepMs(10);
        }
    }
    ::close(fds[0]);
    if (result.stopped || result.timedOut) Terminate(pid);
    Reap(pid, &result);
    return result;
}

// Splits output into lines at "\r" and "\n" (lame redraws its progress line
// with "\r"), cutting lines at kMaxLineBytes.
class LineSplitter {
public:
    explicit LineSplitter(std::function<void(const std::string&)> onLine)
        : onLine_(std::move(onLine)) {
        line_.reserve(kMaxLineBytes);
    }
    void Add(const char* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const char c = bytes[i];
            if (c == '\r' || c == '\n') {
                Emit();
                continue;
            }
            line_ += c;
            if (line_.size() >= kMaxLineBytes) Emit();
        }
    }
    void Finish() { Emit(); }

private:
    void Emit() {
        if (!line_.empty()) onLine_(line_);
        line_.clear();
    }
    std::function<void(const std::string&)> onLine_;
    std::string line_;
};

std::string EncoderPathOverride() {
    std::lock_guard lock(gOverrideMutex);
    return gEncoderOverride;
}

std::string DescribeStatus(const ChildResult& r) {
    char text[96];
    if (r.spawnError)
        std::snprintf(text, sizeof text, "could not be started: %s", std::strerror(r.spawnError));
    else if (r.signaled)
        std::snprintf(text, sizeof text, "ended by signal %d", r.signal);
    else
        std::snprintf(text, sizeof text, "exited with status %d", r.exitStatus);
    return text;
}

bool WriteAllAt(int fd, const uint8_t* bytes, size_t count, off_t at) {
    while (count > 0) {
        const ssize_t n = ::pwrite(fd, bytes, count, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

bool ReadAllAt(int fd, uint8_t* bytes, size_t count, off_t at) {
    while (count > 0) {
        const ssize_t n = ::pread(fd, bytes, count, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

}  // namespace

// ---- Free functions -------------------------------------------------------------

void SetLameEncoderPathOverride(const std::string& path) {
    std::lock_guard lock(gOverrideMutex);
    gEncoderOverride = path;
}

bool LameWritesID3Tags(const plist::Value& options) {
    return BoolOption(options, "LAMEWriteID3Tags", true);
}

const plist::Bytes* LameTagBlobToPrepend(const plist::Value& options) {
    if (!LameWritesID3Tags(options)) return nullptr;
    const plist::Value* blob = Option(options, kID3v2TagBlobKey);
    const plist::Bytes* bytes = blob ? blob->data() : nullptr;
    // Only a whole tag goes in front: one cut short (or running on into the
    // audio) would damage the output's first frames.
    if (!bytes || bytes->size() < 10) return nullptr;
    uint8_t header[10];
    std::memcpy(header, bytes->data(), sizeof header);
    return ID3v2TagSize(header) == bytes->size() ? bytes : nullptr;
}

std::vector<std::string> BuildLameArguments(const LameArgumentInputs& in) {
    const plist::Value& options = in.options;
    std::vector<std::string> args{"--resample", KiloHertzText(in.sampleRate)};

    const long long mode = IntOption(Option(options, "LAMEEncodingMode"));
    const plist::Value* quality = Option(options, "LAMEQuality");
    const long long minimum = IntOption(Option(options, "LAMEMinimumBitRate"));
    const auto addMinimum = [&] {
        if (minimum <= 0) return;
        args.push_back("-b");
        args.push_back(std::to_string(minimum));
    };
    const auto addQuality = [&](const char* option) {
        if (quality) {
            args.push_back(option);
            args.push_back(std::to_string(IntOption(quality)));
        } else {
            args.push_back("-h");
        }
    };
    switch (mode) {
        case 0:
            addQuality("-q");
            args.insert(args.end(), {"--cbr", "-b", std::to_string(in.bitRate)});
            break;
        case 1:
            addQuality("-q");
            args.insert(args.end(), {"--abr", std::to_string(in.bitRate)});
            addMinimum();
            break;
        case 2:
            args.push_back("--vbr-new");
            addQuality("-V");
            addMinimum();
            break;
        default:
            std::fprintf(stderr, "invalid lame encoding mode: %lld\n", mode);
            break;
    }

    // Without a letter "-m" would take the next option as its mode.
    const std::string letter = ChannelModeLetter(in);
    if (!letter.empty()) args.insert(args.end(), {"-m", letter});

    if (BoolOption(options, "LAMECopyrighted", false)) args.push_back("-c");
    if (BoolOption(options, "LAMECopy", false)) args.push_back("-o");
    if (BoolOption(options, "LAMEUseCRC", false)) args.push_back("-p");
    if (!BoolOption(options, "LAMEUseBitReservoir", false)) args.push_back("--nores");
    if (BoolOption(options, "LAMEISOCompliant", false)) args.push_back("--strictly-enforce-ISO");

    // An ID3v2 tag carried over goes in front of the output instead.
    if (LameWritesID3Tags(options) && !LameTagBlobToPrepend(options)) AddTagArguments(in, &args);

    args.push_back(PathArgument(in.pcmPath));
    args.push_back(PathArgument(in.outputPath));
    return args;
}

int LameProgressPercent(const std::string& line) {
    const size_t open = line.find('(');
    if (open == std::string::npos) return -1;
    size_t i = open + 1;
    while (i < line.size() && line[i] == ' ') ++i;
    const size_t digits = i;
    int value = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9' && i - digits < 3)
        value = value * 10 + (line[i++] - '0');
    if (i == digits || i >= line.size() || line[i] != '%') return -1;
    return std::min(value, 100);
}

std::map<std::string, int> ParseLameGenreList(const std::string& text) {
    std::map<std::string, int> genres;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        // A name the end of the text cut off is not taken.
        if (end == std::string::npos) break;
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t i = line.find_first_not_of(' ');
        if (i == std::string::npos) continue;
        const size_t digits = i;
        int number = 0;
        while (i < line.size() && line[i] >= '0' && line[i] <= '9' && i - digits < kMaxGenreDigits)
            number = number * 10 + (line[i++] - '0');
        if (i == digits || i >= line.size() || line[i] != ' ') continue;
        const std::string name = line.substr(i + 1);
        if (!name.empty()) genres[name] = number;
    }
    return genres;
}

OSErr PrependToFile(const std::string& path, const plist::Bytes& tag) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return kLameEncoderFailedErr;
    bool ok = false;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0) {
        std::vector<uint8_t> content(static_cast<size_t>(st.st_size));
        ok = ReadAllAt(fd, content.data(), content.size(), 0) &&
             WriteAllAt(fd, tag.data(), tag.size(), 0) &&
             WriteAllAt(fd, content.data(), content.size(), static_cast<off_t>(tag.size()));
    }
    if (::close(fd) != 0) ok = false;
    return ok ? 0 : kLameEncoderFailedErr;
}

// ---- The encoder program ----------------------------------------------------------

bool CDropMP3File::LAMEEncoderAvailable() {
    return ProbeLameEncoder().available;
}

std::string CDropMP3File::LAMEEncoderPath() {
    ProbeLameEncoder();
    return LastFoundLameEncoderPath();
}

LameVersion CDropMP3File::LAMEEncoderVersion(const std::string& path) {
    return ReadLameVersion(path);
}

const std::map<std::string, int>& CDropMP3File::LAMEEncoderGenreList(const std::string& path) {
    static std::once_flag once;
    static std::map<std::string, int> genres;
    std::call_once(once, [&path] {
        std::string text;
        const ChildResult r = RunChild(
            path, {"--genre-list"},
            [&text](const char* bytes, size_t count) {
                const size_t room =
                    kMaxGenreListOutput - std::min(kMaxGenreListOutput, text.size());
                text.append(bytes, std::min(room, count));
            },
            [] { return OSErr(0); }, kGenreListTimeoutMs);
        if (r.spawnError || r.timedOut)
            std::fprintf(stderr, "lame genre list: %s %s\n", path.c_str(),
                         r.timedOut ? "did not finish" : DescribeStatus(r).c_str());
        genres = ParseLameGenreList(text);
    });
    return genres;
}

OSErr CDropMP3File::LAMEEncoderLaunch(const std::string& path,
                                      const std::vector<std::string>& arguments) {
    OSErr progressStop = 0;
    LineSplitter lines([&progressStop](const std::string& line) {
        const int percent = LameProgressPercent(line);
        if (percent < 0 || progressStop) return;
        const OSErr err = SetProgressPercentage(percent);
        if (IsStop(err)) progressStop = err;
    });
    const ChildResult r = RunChild(
        path, arguments, [&lines](const char* bytes, size_t count) { lines.Add(bytes, count); },
        [&progressStop]() -> OSErr {
            if (progressStop) return progressStop;
            const OSErr err = GetLastError();
            return IsStop(err) ? err : OSErr(0);
        },
        0);
    if (r.stopped) return r.stopped;
    lines.Finish();
    if (r.spawnError || !r.exited || r.exitStatus != 0) {
        std::fprintf(stderr, "lame encoder %s %s\n", path.c_str(), DescribeStatus(r).c_str());
        return kLameEncoderFailedErr;
    }
    return 0;
}

// ---- The sound file ---------------------------------------------------------------

CDropMP3File::~CDropMP3File() {
    // An object destroyed without Close is discarded: no encoder runs, and the
    // base removes the temporary file.
    source_ = nullptr;
}

OSErr CDropMP3File::Create(short channels, short wordSize, float sampleRate, void* specifics,
                           const unsigned char* extension) {
    open_ = false;
    source_ = nullptr;
    headerDirty_ = 1;
    sampleRate_ = sampleRate;
    channels_ = channels > 0 ? static_cast<uint32_t>(channels) : 0;
    wordSize_ = 16;
    cachedBitRate_ = static_cast<uint16_t>(wordSize);
    std::memset(stereoModeText_, 0, sizeof stereoModeText_);
    if (specifics) std::memcpy(stereoModeText_, specifics, sizeof stereoModeText_);
    if (channels >= 3) return kMP3TooManyChannelsErr;
    if (OSErr err = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
        return err;
    if (OSErr err = CreateTemporaryFile(kTempIdentifier, channels, sampleRate, FourCC("WAVE")))
        return err;
    headerDirty_ = 1;
    open_ = true;
    return 0;
}

OSErr CDropMP3File::Create(CSoundFile* source, short channels, short wordSize, float sampleRate,
                           void* specifics, const unsigned char* extension) {
    DestroyTemporaryFile();
    source_ = nullptr;
    open_ = true;
    headerDirty_ = 1;
    sampleRate_ = sampleRate;
    channels_ = channels > 0 ? static_cast<uint32_t>(channels) : 0;
    wordSize_ = 16;
    cachedBitRate_ = static_cast<uint16_t>(wordSize);
    const OSErr err =
        CCodedFile::Create(source, channels, wordSize, sampleRate, specifics, extension);
    std::memset(stereoModeText_, 0, sizeof stereoModeText_);
    if (specifics) std::memcpy(stereoModeText_, specifics, sizeof stereoModeText_);
    if (err == 0) source_ = source;
    return err;
}

std::string CDropMP3File::PCMPath() {
    if (GetTemporaryFile()) return GetTemporaryPath();
    return source_ ? source_->GetPath() : std::string();
}

OSErr CDropMP3File::Close() {
    if (!open_) return 0;
    OSErr result = 0;
    if (CSoundFile* temp = GetTemporaryFile()) {
        if (OSErr err = temp->Close()) {
            std::fprintf(stderr, "%s Error %d when trying to close temp file\n",
                         GetTemporaryPath().c_str(), err);
            // An unfinished WAVE file is not encoded.
            result = err;
        }
    }
    // A discarded output is not encoded.
    if (result == 0 && !discardOnClose_ && (GetTemporaryFile() || source_))
        result = StatusOfCall([this] { return EncodeWithLame(); });
    DestroyTemporaryFile();
    source_ = nullptr;
    open_ = false;
    return result;
}

OSErr CDropMP3File::EncodeWithLame() {
    Str255 step;
    pascalStringFromString(kEncodingStepText, step);
    SetProgressStepWithoutSRC(step, 0);

    LameArgumentInputs in;
    const plist::Dictionary& values = platform::CurrentThreadContext().values;
    if (auto found = values.find(kOutputSpecificsKey); found != values.end())
        in.options = found->second;
    if (auto found = values.find(kCurInputFilePathKey); found != values.end())
        in.inputFilePath = found->second.asString();
    in.sampleRate = sampleRate_;
    in.channels = static_cast<int>(channels_);
    in.bitRate = cachedBitRate_;
    in.stereoModeText.assign(reinterpret_cast<const char*>(stereoModeText_),
                             sizeof stereoModeText_);
    in.pcmPath = PCMPath();
    in.outputPath = path_;
    if (in.pcmPath.empty() || in.outputPath.empty()) return kParamErr;
    if (XWQF::FileExists(in.outputPath)) return kDupFNErr;
    const std::vector<std::string> args = BuildLameArguments(in);

    std::string encoder = EncoderPathOverride();
    if (encoder.empty()) encoder = LAMEEncoderPath();
    if (encoder.empty()) {
        std::fprintf(stderr, "no lame encoder found for %s\n", in.outputPath.c_str());
        return kLameEncoderFailedErr;
    }

    // The output is made here, exclusively, so that what is deleted on failure
    // is only ever our own file.
    FSRef ref;
    if (OSErr err = XWQF::CreateFile(in.outputPath, &ref)) return err;
    OSErr result = LAMEEncoderLaunch(encoder, args);
    if (result == 0) {
        struct stat st;
        if (::stat(in.outputPath.c_str(), &st) != 0 || st.st_size <= 0) {
            std::fprintf(stderr, "lame encoder wrote nothing to %s\n", in.outputPath.c_str());
            result = kLameEncoderFailedErr;
        }
    }
    if (result == 0) {
        if (const plist::Bytes* blob = LameTagBlobToPrepend(in.options))
            result = PrependToFile(in.outputPath, *blob);
    }
    if (result) XWQF::DeleteFile(in.outputPath);
    return result;
}

// ---- Buffers ------------------------------------------------------------------------

OSErr CDropMP3File::RefreshInputBuffer(uint32_t frame) {
    return GetTemporaryFile() ? RefreshTemporaryInput(frame) : OSErr(0);
}

OSErr CDropMP3File::InitOutputBuffer() {
    if (!GetTemporaryFile()) return kCannotMakeFormatObjectErr;
    return CCodedFile::InitOutputBuffer();
}

OSErr CDropMP3File::RefreshOutputBuffer(uint32_t frame) {
    if (!GetTemporaryFile()) return 0;
    return CCodedFile::RefreshOutputBuffer(frame);
}
