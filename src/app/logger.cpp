#include "app/logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string_view>

#include "conversion/conv_spec.h"
#include "conversion/error_messages.h"
#include "engine/conversion_process.h"
#include "foundation/paths.h"
#include "platform/notification_center.h"
#include "platform/thread_context.h"
#include "platform/user_defaults.h"

namespace {

// A message or comment begins in this column when the name is shorter.
constexpr size_t kMessageColumn = 33;
// The first line of a conversion's description begins so, the name follows.
constexpr std::string_view kConversionNameLabel = "    Conversion name: ";
const char* const kRule =
    "________________________________________________________________________\n";

std::tm LocalTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

std::string Format(const char* format, const std::tm& tm) {
    char buffer[64];
    const size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
    return std::string(buffer, n);
}

// "%02d:%02d:%02d" of a duration; the hours are not limited to 23.
std::string Duration(std::time_t seconds) {
    if (seconds < 0) seconds = 0;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld",
                  static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return buffer;
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

size_t Utf16Length(const std::string& utf8) {
    size_t units = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if ((c & 0xC0) == 0x80) continue;  // continuation byte
        units += c >= 0xF0 ? 2 : 1;        // four-byte sequences are surrogate pairs
    }
    return units;
}

std::string Logger::StopLine(const std::string& reason, int64_t left, int64_t inputs,
                             const std::string& name, int64_t later) {
    std::string cause = reason;
    while (!cause.empty() && (cause.back() == '.' || cause.back() == ' ')) cause.pop_back();
    return "Conversion stopped: " + Escaped(cause) + ". " + std::to_string(left) + " of " +
           std::to_string(inputs) + " inputs of the conversion '" + Escaped(name) + "' and " +
           std::to_string(later) + " later conversions were not converted.";
}

std::string Logger::Escaped(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case 0x1B: out += "\\e"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\x";
                    out += kHex[c >> 4];
                    out += kHex[c & 0x0F];
                } else {
                    out += ch;
                }
                break;
        }
    }
    return out;
}

std::string Logger::Filler(const std::string& name) {
    const size_t n = Utf16Length(name);
    return std::string(n < kMessageColumn ? kMessageColumn - n : 1, ' ');
}

short Logger::ErrorText(OSErr code, const ErrorNameDict& errorDict, std::string* message) {
    std::string text;
    short cls = MakeErrorMessage(code, text);
    if (cls != kErrorClassUnknown) {
        *message = text;
        return cls;
    }
    if (auto it = errorDict.find(std::to_string(code)); it != errorDict.end()) {
        *message = it->second.hasDescription && !it->second.description.empty()
                       ? it->second.description
                       : it->second.name;
        return kErrorClassPlatform;
    }
    *message = "unknown error " + std::to_string(code);
    return kErrorClassUnknown;
}

Logger::Logger(const std::string& outputFolder, LoggerOptions options)
    : options_(std::move(options)), errorDict_(QFErrorDict()), driver_(options_.driver) {
    startTime_ = now();
    startConvTime_ = startTime_;
    const std::tm tm = LocalTime(startTime_);
    logPath_ = outputFolder + "/CorvaLog" + Format("-%Y%m%d-%H%M%S.xwl", tm);
    logText_ = "Corvane " + options_.version + " Log File\n";
    logText_ += Format("%Y-%m-%d %H:%M:%S %z", tm) + "\n";
}

Logger::~Logger() { finishLogFile(); }

std::time_t Logger::now() const { return options_.now ? options_.now() : std::time(nullptr); }

platform::UserDefaults& Logger::defaults() const {
    return options_.defaults ? *options_.defaults : platform::UserDefaults::Standard();
}

void Logger::putString(const std::string& text) { logText_ += text; }

void Logger::noteDriver() {
    if (options_.driver) return;
    if (void* process = platform::CurrentThreadContext().process)
        driver_ = static_cast<ConversionProcess*>(process);
}

void Logger::logConversionHeader(const ConvSpec& conversion) {
    // One copy, so that the name and the description are of the same moment.
    const ConvSpec shown(conversion);
    const std::string name = shown.conversionName();
    std::string description = shown.descriptionForLog();
    if (description.starts_with(std::string(kConversionNameLabel) + name))
        description.replace(kConversionNameLabel.size(), name.size(), Escaped(name));
    logConversionHeader(description);
}

void Logger::logConversionHeader(const std::string& descriptionForLog) {
    noteDriver();
    startConvTime_ = now();
    const std::tm tm = LocalTime(startConvTime_);
    putString(kRule);
    putString("CONVERSION SPECIFICATIONS: \n\n");
    putString(descriptionForLog);
    if (defaults().GetInteger("Unrecognized Input File Action") == 1)
        putString("\n    Copy unrecognized files");
    char buffer[128];
    std::snprintf(buffer, sizeof buffer,
                  "\n\n    Conversion started at: %02d:%02d:%02d\n\n\nCONVERTED INPUT FILES: \n\n",
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    putString(buffer);
}

void Logger::logDoneMessage(const std::string& rawName, const std::optional<std::string>& comment) {
    noteDriver();
    const std::string name = Escaped(rawName);
    if (comment)
        putString(" " + name + Filler(name) + Escaped(*comment) + "\n");
    else
        putString(" " + name + "\n");
    writeLogTextToFile();
}

std::string Logger::putFailedLine(const std::string& rawName, const std::string& message) {
    std::string name = rawName;
    if (!name.empty() && name.back() == '\r') name.pop_back();
    name = Escaped(name);
    putString("*" + name + Filler(name) + Escaped(message) + "\n");
    writeLogTextToFile();
    return name;
}

void Logger::logSkippedMessage(const std::string& name, const std::string& reason) {
    noteDriver();
    putFailedLine(name, reason);
}

void Logger::logErrorMessage(const std::string& rawName, OSErr code) {
    noteDriver();
    std::string message;
    const short cls = ErrorText(code, errorDict_, &message);
    const std::string prefix =
        cls == kErrorClassInternal ? std::to_string(code) + ", call Quillfen: " : std::string();
    const std::string note = driver_ ? driver_->inputNote() : std::string();
    const std::string name =
        putFailedLine(rawName, prefix + message + (note.empty() ? "" : " (" + note + ")"));

    switch (cls) {
        case kErrorClassFile:
        case kErrorClassInternal:
            platform::NotificationCenter::Default().Post(XWLogMessageNotification, nullptr,
                                                         "'" + name + "' " + message);
            break;
        case kErrorClassAlreadyProcessed:
            break;
        default:  // unknown, serious, or known only to the system table
            fatal_ = true;
            if (options_.stopBatch) {
                options_.stopBatch();
            } else if (void* process = platform::CurrentThreadContext().process) {
                static_cast<ConversionProcess*>(process)->setShouldStop(true);
            }
            break;
    }
}

void Logger::logConversionFooter() {
    noteDriver();
    putString("\n    Total time for this conversion : " + Duration(now() - startConvTime_) + "\n");
}

int Logger::OpenLog() {
    const auto open = [this](int flags) {
        return options_.openForAppend ? options_.openForAppend(logPath_, flags)
                                      : ::open(logPath_.c_str(), flags, 0644);
    };
    constexpr int kAppend = O_WRONLY | O_APPEND | O_CLOEXEC;
    int fd = open(kAppend | O_CREAT | O_EXCL);
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0) created_ = FileId{st.st_dev, st.st_ino};
        return fd;
    }
    return errno == EEXIST ? open(kAppend) : -1;
}

void Logger::writeLogTextToFile() {
    if (!defaults().GetBool("Save Log")) return;
    const int fd = OpenLog();
    if (fd < 0) return;  // the text waits for the next write
    const bool written = WriteAll(fd, logText_);
    ::close(fd);
    if (written) logText_.clear();
}

bool Logger::finishLogFile() {
    if (finished_) return false;
    finished_ = true;
    platform::UserDefaults& store = defaults();
    if (store.GetBool("Only Save When Errors") && numWarnings_ < 1) {
        // Only the file this logger made: a log of the same name that an earlier
        // batch kept, or any file put there since, stays.
        struct stat st {};
        if (created_ && ::stat(logPath_.c_str(), &st) == 0 && st.st_dev == created_->device &&
            st.st_ino == created_->inode)
            ::unlink(logPath_.c_str());
        return false;
    }
    if (const auto stop = driver_ ? driver_->stopReport() : std::nullopt) {
        std::string reason;
        ErrorText(stop->reason, errorDict_, &reason);
        putString("\n" + StopLine(reason, stop->inputsLeft, stop->inputs, stop->conversionName,
                                  stop->laterConversions) +
                  "\n");
    }
    const std::time_t end = now();
    const std::tm tm = LocalTime(end);
    putString(kRule);
    putString("\nCorvane finished conversion at: " + Format("%H:%M:%S", tm) + "\n");
    putString("Total conversion time: " + Duration(end - startTime_) + "\n");
    writeLogTextToFile();
    if (options_.fileChanged) options_.fileChanged(logPath_);
    if (!store.GetBool("Save Log")) return false;
    plist::Dictionary form;
    for (const auto& [key, value] : QFPath(logPath_).dictionary()) form[key] = value;
    store.Set("Last Used Log", form);
    return true;
}
