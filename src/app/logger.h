// The conversion log of one batch: a plain-text file "CorvaLog-YYYYmmdd-HHMMSS.xwl"
// in the output folder. The text is built in memory and appended to the file
// after every file line, so a crash loses at most the lines since the last one.
// The logger also decides from an error's class whether the batch goes on or
// stops. Everything but finishLogFile runs on the batch thread; no lock.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>

#include <sys/types.h>

#include "foundation/errors.h"

class ConvSpec;
class ConversionProcess;
namespace platform {
class UserDefaults;
}

// The log's class for a code known only to the system error table.
inline constexpr short kErrorClassPlatform = 4;

struct LoggerOptions {
    // The store of "Save Log", "Only Save When Errors", "Unrecognized Input File
    // Action" and "Last Used Log"; null: the standard store.
    platform::UserDefaults* defaults = nullptr;
    // The clock; null: time().
    std::function<std::time_t()> now;
    // The version in the first line.
    std::string version = "4.0.0";
    // Opens the file with these open(2) flags (a descriptor, or -1 with errno
    // set); null: open(2).
    std::function<int(const std::string& path, int flags)> openForAppend;
    // Told after the finish rows are written (the desktop learns the file changed).
    std::function<void(const std::string& path)> fileChanged;
    // Stops the batch; null: the driver of the calling thread's context.
    std::function<void()> stopBatch;
    // The batch's driver, asked at the finish step what a stopped batch left
    // undone; null: the driver first met on the batch thread.
    ConversionProcess* driver = nullptr;
};

class Logger {
public:
    // A logger for a batch writing into `outputFolder`: the header rows are in
    // memory and logPath() is set; nothing is written yet.
    explicit Logger(const std::string& outputFolder, LoggerOptions options = LoggerOptions());
    // Runs finishLogFile when nobody did.
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // The conversion's description, its name escaped as file lines are; the
    // rest of the description (a comment of several lines too) keeps its own
    // line breaks and tabs.
    void logConversionHeader(const ConvSpec& conversion);
    void logConversionHeader(const std::string& descriptionForLog);
    // A converted or copied file, with an optional comment; written at once.
    void logDoneMessage(const std::string& name, const std::optional<std::string>& comment);
    // A failed file; written at once, then the class of `code` decides: 1 and 3
    // post a log message, 0, 2 and 4 stop the batch, 5 does nothing more. What
    // the batch thread's driver notes on the failure (an output it could not
    // remove) follows the message in parentheses.
    void logErrorMessage(const std::string& name, OSErr code);
    // An input left out as no sound file: a line in the form of a failed
    // file's, with `reason` as its message; written at once. The batch goes on.
    void logSkippedMessage(const std::string& name, const std::string& reason);
    void logConversionFooter();
    void putString(const std::string& text);
    // Appends the pending text to the file when "Save Log" is on: the file is
    // created (never taken over) when missing, else a log of the same name (an
    // earlier batch of the same second) is continued. A file that cannot be
    // opened keeps the text for the next write.
    void writeLogTextToFile();

    void setNumWarnings(int32_t warnings) { numWarnings_ = warnings; }
    bool fatal() const { return fatal_; }
    // The finish step; true when a log file was kept. Runs once. A log that is
    // not to be kept is deleted only when this logger created it. When the
    // batch stopped early, the line of StopLine comes before the finish rows.
    bool finishLogFile();

    const std::string& logPath() const { return logPath_; }
    const std::string& logText() const { return logText_; }

    // The message and final class of a failure code, as the log writes it.
    static short ErrorText(OSErr code, const ErrorNameDict& errorDict, std::string* message);
    // The spaces after a name of that many UTF-16 units.
    static std::string Filler(const std::string& name);
    // `text` as a file line shows it: each control character (a byte below
    // 0x20, or 0x7F) as \n, \r, \t, \e or \xHH and a backslash as \\, so that
    // no file name can split a line of the log or forge one.
    static std::string Escaped(const std::string& text);
    // "Conversion stopped: <reason>. <left> of <inputs> inputs of the conversion
    // '<name>' and <later> later conversions were not converted.", the reason
    // (which may name a folder) and the name escaped as file lines are.
    static std::string StopLine(const std::string& reason, int64_t left, int64_t inputs,
                                const std::string& name, int64_t later);

private:
    // Appends the line of a failed or skipped file, "*name<filler>message",
    // and writes; the name loses one carriage return at its end. Returns the
    // name as the line shows it.
    std::string putFailedLine(const std::string& name, const std::string& message);
    std::time_t now() const;
    platform::UserDefaults& defaults() const;
    // Opens the log for appending, creating it exclusively when it is missing.
    int OpenLog();
    // Keeps the driver of the calling thread's batch, for the finish step,
    // unless the options named it.
    void noteDriver();

    LoggerOptions options_;
    std::string logPath_;
    std::string logText_;
    std::time_t startTime_ = 0;
    std::time_t startConvTime_ = 0;
    int32_t numWarnings_ = 0;
    ErrorNameDict errorDict_;
    bool fatal_ = false;
    bool finished_ = false;
    // The file this logger created at logPath_, by device and inode.
    struct FileId {
        dev_t device = 0;
        ino_t inode = 0;
    };
    std::optional<FileId> created_;
    ConversionProcess* driver_ = nullptr;  // outlives the logger; idle at the finish step
};

// Counts UTF-16 units of a UTF-8 text (a code point past U+FFFF counts two).
size_t Utf16Length(const std::string& utf8);
