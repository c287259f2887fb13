// The batch driver: one thread per batch applies every conversion, in order, to
// every input path, walking input folders and rebuilding their tree inside each
// conversion's folder, and hands each file to processFile, which converts it
// and renames or deletes its outputs. Meanwhile the driver keeps a progress
// state under one lock, which another thread takes whole, as one snapshot: the
// change flags, counters and texts, and the list of new warnings.
//
// The batch thread carries the per-run context the format and processing code
// read (platform::ThreadContext): the driver, the current input's path and long
// name, the output folder, the running conversion, its stored form and this
// input's copy of its per-type options, the mp3 tags, and the last error, which
// a cancel sets to -128 from any thread.
//
// Notifications are posted on the batch thread with the driver as sender. Each
// carries a dictionary; the keys are listed with the names below.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

#include "conversion/cconv_spec.h"
#include "conversion/conv_spec.h"
#include "conversion/qf_sound_file.h"
#include "foundation/errors.h"
#include "platform/notification_center.h"
#include "platform/thread_context.h"
#include "platform/user_defaults.h"
#include "soundfile/sound_file.h"

// Posted once when a batch starts: {"total conversions": conversions x inputs,
// "process thread": the batch thread's id (platform::ThreadIdValue)}. When the
// batch has ended, the output folder is announced as changed
// (platform::noteFileSystemChanged).
extern const char* const QFConversionStartNotification;
// Posted when a conversion starts and when it has gone through its inputs (also
// after a stop): {"conversion name"}. The driver's curConvSpec() is the conversion.
extern const char* const QFConversionHeaderNotification;
extern const char* const QFConversionFooterNotification;
// Per input converted: {"path", "converted file path": array of output paths},
// with "comment" "(data ends early: <n> of <m> frames)" when the input's data
// ended before its header said (such an input is converted as far as it goes
// and its line counts as a warning); for an unrecognised input copied
// unchanged, {"path", "converted file path": the copy's path, "comment"}.
extern const char* const QFConversionSuccessNotification;
// Per input skipped as not recognised as a sound file (the action for such
// inputs is to skip them; hidden names, invisible files and sidecars pass
// silently, and so does a file met in an input folder unless its extension,
// in any case, is a readable type's): {"path", "comment":
// kNotRecognizedComment}. The skip is no failure: the input counts as neither
// converted nor failed, and the log message posted with it counts as a warning.
extern const char* const QFConversionSkippedNotification;
// Per input or folder that failed: {"path", "error", "converted file path":
// array}, without "converted file path" for a missing input or a folder; with
// "comment" ("could not remove '<path>'") when an output of the input could
// not be removed (ConversionProcess::inputNote gives the same text).
extern const char* const QFConversionFailureNotification;
// Before the outputs of an input are renamed: {"path"}.
extern const char* const QFConversionWillRenameNotification;
// When an output's final name is taken: {"name", "XWOrigInputFile": the input's path}.
extern const char* const QFConversionRenameDuplicateNotification;
// Posted once when the batch ends, also after a stop; no values.
extern const char* const QFConversionDoneNotification;
// A line for the user's log; the object is the text. The driver counts these
// as warnings when they are posted on its batch thread.
extern const char* const XWLogMessageNotification;

// Keys of the notifications' dictionaries.
extern const char* const kTotalConversionsKey;   // "total conversions"
extern const char* const kProcessThreadKey;      // "process thread"
extern const char* const kConversionNameKey;     // "conversion name"
extern const char* const kInputPathKey;          // "path"
extern const char* const kErrorKey;              // "error"
extern const char* const kConvertedFilePathKey;  // "converted file path"
extern const char* const kCommentKey;            // "comment"
extern const char* const kNewNameKey;            // "name"
extern const char* const kOrigInputFileKey;      // "XWOrigInputFile"

// Keys of the batch thread's per-run values (platform::ThreadContext::values).
extern const char* const kCurInputFilePathKey;      // "XWCurInputFilePath"
extern const char* const kConversionDictionaryKey;  // "ConversionSpecificationDictionary"
extern const char* const kOutputSpecificsKey;       // "QFOutputSpecifics"
extern const char* const kID3TagsKey;               // "id3tags"
extern const char* const kID3v2TagBlobKey;          // "ID3v2 tag blob"
extern const char* const kUseMpegFramePaddingKey;   // "Use MPEG Frame Padding"

// The comment of the success notification of a copied unrecognised input.
extern const char* const kJustCopiedComment;  // "(not recognized as a sound file, just copied)"
// The comment of the skip notification.
extern const char* const kNotRecognizedComment;  // "skipped: not recognized as a sound file"

// Failures of the driver itself.
enum : OSErr {
    // An input folder whose walk failed inside (an exception while its entries
    // were listed or handed over): that folder fails, the batch goes on.
    kFolderNotListedErr = -20033,
    // A folder refused to let an output be made, renamed or removed in it; the
    // catalogue's text names the folder (SetUnwritableFolder).
    kFolderNotWritableErr = -20034,
};

// The user defaults the batch reads, taken once when it starts.
struct EngineSettings {
    bool preserveFinderComments = false;  // "Preserve Finder Comments"
    int64_t unrecognizedInputFileAction =
        0;                              // "Unrecognized Input File Action": 0 skip, 1 copy, 2 raw
    bool numberDuplicateFiles = false;  // "Number Duplicate Files"

    static EngineSettings FromDefaults(const platform::UserDefaults& defaults);
};

class ConversionProcess {
public:
    // Subscribes to the log and progress notifications (only those posted on
    // this driver's batch thread change its state).
    ConversionProcess();
    // Waits for a running batch to end, then unsubscribes.
    ~ConversionProcess();
    ConversionProcess(const ConversionProcess&) = delete;
    ConversionProcess& operator=(const ConversionProcess&) = delete;

    // Starts a batch on a new thread: the input paths (files and folders), the
    // conversions and the output folder, in which each conversion's folder must
    // exist. The state is reset here, before the thread starts, so that a
    // cancel from now on is never lost; `running` is set. A batch still running
    // is waited for first. Throws std::system_error when no thread can be made
    // (`running` is then clear).
    void startConversion(std::vector<std::string> inputFiles,
                         std::vector<std::shared_ptr<ConvSpec>> conversions, std::string destPath,
                         EngineSettings settings = EngineSettings());
    // Starts a batch of one input file and one conversion whose output takes
    // `outputName` in place of the input's name, in the conversion's folder
    // inside `destPath`: the start notification (a total of 1), the header, the
    // input, the footer and the done notification. -50, and nothing started,
    // for an output name that is not one file name (empty, "." or "..", or
    // holding "/" or NUL) or for a missing conversion; else as startConversion.
    OSErr convertSingleFile(std::string input, std::shared_ptr<ConvSpec> conversion,
                            std::string destPath, std::string outputName,
                            EngineSettings settings = EngineSettings());
    // Returns when the batch thread has ended (at once when none was started).
    void waitUntilDone();

    // What a batch that stopped early left undone: the code that stopped it
    // (-128 for a cancel), the inputs of the conversion it stopped in that were
    // not converted (the one in hand when it failed or was cancelled, and those
    // never reached; a folder counts the files in it) out of all its inputs,
    // that conversion's name, and the conversions after it.
    struct StopReport {
        OSErr reason = kUserCanceledErr;
        int64_t inputsLeft = 0;
        int64_t inputs = 0;
        std::string conversionName;
        int64_t laterConversions = 0;
    };
    // The report of the last batch when it stopped early, else nothing. Ready
    // before the footer of the conversion it stopped in is posted (before the
    // done notification when it stopped between conversions).
    std::optional<StopReport> stopReport() const;
    // While a failure is being posted, on the batch thread: what the log adds to
    // that input's line (an output that could not be removed); else empty.
    std::string inputNote() const;

    // The cancel entry, callable from any thread. YES also sets err() and the
    // batch thread's last error to -128: the sample loops stop at their next
    // progress call and no further input or conversion starts.
    void setShouldStop(bool stop);
    bool shouldStop() const { return shouldStop_.load(); }

    // The progress state as it stood at one moment. A change flag says that
    // its part changed since the last take: convSpecChanged curConv and
    // curConvSpec, fileChanged curFile and curFilePath, stepChanged curStep,
    // curNumSteps, curStepDesc and determinateStep, regionChanged the region,
    // numSampleFramesChanged curSampleFrames, channelsChanged the channels,
    // warningChanged warnings and newWarnings. usePercentage and curValue
    // change without a flag, at every progress call of the sample loops.
    struct Progress {
        bool running = false;
        bool convSpecChanged = false;
        bool fileChanged = false;
        bool stepChanged = false;
        bool regionChanged = false;
        bool numSampleFramesChanged = false;
        bool channelsChanged = false;
        bool warningChanged = false;
        bool usePercentage = false;
        bool determinateStep = false;
        int64_t warnings = 0;
        int64_t curNumSteps = 0;
        int64_t curStep = 0;
        int64_t curFile = 0;
        int64_t curConv = 0;
        int64_t curSampleFrames = 0;
        int64_t curValue = 0;
        int64_t curChannels = 0;
        int64_t curChannel = 0;
        int64_t curRegions = 0;
        int64_t curRegionIndex = 0;
        int64_t curRegionStart = 0;
        int64_t curRegionEnd = 0;
        int64_t curNumInSamples = 0;
        std::string curFilePath;
        std::string curFolder;
        std::string curStepDesc;
        std::string curRegion;
        std::shared_ptr<ConvSpec> curConvSpec;
        // The warnings received since they were last taken.
        std::vector<std::string> newWarnings;
    };
    // The whole state, taken under the lock the batch thread changes it
    // under: the snapshot holds the change flags as they were and the new
    // warnings, and the driver keeps the flags clear and the list empty until
    // the next change. A reader that draws from one take sees every change
    // once, and never half of one.
    Progress takeProgress();
    // For tests that set the driver's progress by hand: the whole state
    // replaced by `state`, under the lock (the only way to set it from outside).
    void putProgressForTesting(Progress state);

    // What others read of the driver without a take, which leaves the change
    // flags alone: whether a batch runs (set before its thread starts, clear
    // once it has ended), the warnings counted in this batch, and the running
    // conversion (that of a header or footer notification).
    bool running() const { return get(&Progress::running); }
    int64_t warnings() const { return get(&Progress::warnings); }
    std::shared_ptr<ConvSpec> curConvSpec() const { return get(&Progress::curConvSpec); }
    // The outcome of the last input started (0 success), -128 after a cancel.
    OSErr err() const { return err_.load(); }

    // The snip window [start, end) of an input of `frames` frames at `rate`
    // for a snip from `from` to `to` seconds (`to` -1.0: to the end). A start at
    // or past the end keeps the window's length and ends it at the end of the
    // input. -50 for a window whose end lies before its start.
    static OSErr SnipWindow(int64_t frames, double rate, float from, float to, uint32_t* start,
                            uint32_t* end);
    // True for a name that can stand as one file's name in a folder: not
    // empty, "." or "..", and without "/" or NUL.
    static bool isSingleFileName(const std::string& name);
    // A name of the resource list "dotignore" (names that are never converted)
    // or, for any other name beginning with ".", false.
    static bool isDotInvisible(const std::string& name);
    // The Finder's invisible flag of the file; false when it cannot be read.
    static bool isHFSInvisible(const std::string& path);

    // For tests: called on the batch thread with each input folder before its
    // entries are listed; what it throws is thrown by the listing. Null
    // removes it.
    static void SetFolderListingProbe(std::function<void(const std::string& folder)> probe);

private:
    struct FolderId {
        dev_t dev = 0;
        ino_t ino = 0;
        bool operator==(const FolderId&) const = default;
    };
    // Ends a format object as the engine does: Dispose(0).
    struct InputDisposer {
        void operator()(CSoundFile* f) const {
            if (f) f->Dispose(0);
        }
    };
    using InputPtr = std::unique_ptr<CSoundFile, InputDisposer>;

    // Resets the state a batch starts from and starts the batch thread with
    // `body` (see startConversion).
    void launchBatch(std::vector<std::string> inputFiles,
                     std::vector<std::shared_ptr<ConvSpec>> conversions, std::string destPath,
                     EngineSettings settings, void (ConversionProcess::*body)());
    // Bodies of the batch thread: every conversion over every input, or the one
    // input of convertSingleFile under singleOutputName_.
    void doConversion();
    void doSingleFile();
    // The steps every batch begins and ends with, and those of each conversion
    // (the header's values are the footer's).
    void beginBatch(uint64_t totalConversions);
    void endBatch();
    plist::Dictionary beginConversion(const std::shared_ptr<ConvSpec>& conv);
    // Walks one input folder; a failure inside the walk fails that folder alone.
    void deepProcessFolder(const std::string& path);
    // The walk itself; *failurePosted is set before the folder's own failure
    // (it cannot be listed) is posted.
    void walkFolder(const std::string& path, const FolderId& id, bool* failurePosted);
    // Ends the batch after an exception that no input's or folder's handling
    // took (an observer of the batch's notifications failed): the batch stops
    // with the exception's status, counting the inputs from `nextInput` of the
    // conversion at `conversion` as not reached, and posts that conversion's
    // footer when `inConversion`.
    void stopAfterException(std::exception_ptr error, size_t conversion, size_t nextInput,
                            bool inConversion);
    // The files a walk of `path` hands over (1 for anything but a folder, 1 for
    // a folder that cannot be listed); `ancestors` are the folders being walked.
    int64_t countInputs(const std::string& path, std::vector<FolderId>* ancestors) const;
    // Keeps the stop report of the conversion at `index` (see stopReport).
    void noteStop(size_t index);
    // Converts one input file; outputName null means the input's long name.
    void processFile(const std::string& path, const std::string* outputName);
    // The part of processFile that may throw; the result is the input's code,
    // or nothing when the input is skipped or handled without a notification.
    std::optional<OSErr> convertFile(const std::string& path, const std::string* outputName);
    OSErr processOther(CSoundFile* sf, CConvSpec* cs);
    OSErr processSnippet(CSoundFile* sf, CConvSpec* cs);
    OSErr renameOutputTo(const std::string& name);
    // Copies an unrecognised input unchanged into the current folder; 0 or the
    // failure (the copy is then removed again).
    OSErr copyUnrecognized(const std::string& path);
    // Removes this input's outputs (unless the code keeps them) and posts its failure.
    void failInput(const std::string& path, OSErr code);
    // Posts the failure of an input or folder with the note of outputs left
    // behind, and keeps the code when it stopped the batch.
    void postFailure(const std::string& path, OSErr code, bool withOutputs);
    // Removes an output made for this input; one that stays is noted for the log.
    void discardOutput(const std::string& path);
    // The outputs of this input's pipeline that it made itself: placeholder
    // paths in the current folder, neither there before the pipeline nor left
    // over from an earlier input.
    std::vector<std::string> createdOutputs() const;
    // Before the first output of this batch into the current folder: removes the
    // placeholders that ended processes left there, and notes which placeholder
    // names the folder holds.
    void notePlaceholdersBefore();
    OSErr getCurFolder(FSRef* ref) const;
    void readID3TagsFromFile(const std::string& path);
    void writeID3Tags();

    template <class T>
    T get(T Progress::*part) const {
        std::lock_guard<std::mutex> lock(progressMutex_);
        return progress_.*part;
    }
    template <class T>
    void set(T Progress::*part, T value) {
        std::lock_guard<std::mutex> lock(progressMutex_);
        progress_.*part = std::move(value);
    }

    void setRunning(bool on) { set(&Progress::running, on); }
    void setCurFile(const std::string& path);
    // The running conversion in the batch thread's context (the progress
    // state takes it in beginConversion, with its number).
    void setCurConvSpec(const std::shared_ptr<ConvSpec>& conv);
    void setCurFolder(const std::string& folder);
    // Sets the last error for this input, keeping -128 while a cancel stands.
    void setLastError(OSErr code);
    void post(const char* name, plist::Value object = plist::Value());
    void observe(const char* name, void (ConversionProcess::*handler)(const plist::Value&));
    bool onBatchThread() const;

    void handleLogMessage(const plist::Value& object);
    void handleNumSampleFrames(const plist::Value& object);
    void handlePosition(const plist::Value& object);
    void handlePercentage(const plist::Value& object);
    void handleNumChannels(const plist::Value& object);
    void handleChannel(const plist::Value& object);
    void handleNumSteps(const plist::Value& object);
    void handleStep(const plist::Value& object);
    void handleRegion(const plist::Value& object);

    // The batch.
    std::vector<std::string> inputFiles_;
    std::vector<std::shared_ptr<ConvSpec>> conversions_;
    std::string destPath_;
    EngineSettings settings_;
    std::string singleOutputName_;  // the output name of convertSingleFile
    std::optional<FolderId> destFolderId_;
    std::vector<FolderId> folderPath_;  // the input folders being walked, outermost first

    // The cancel flag, which the batch thread tests between files without the
    // lock, and the outcome, which a cancel sets from any thread.
    std::atomic<bool> shouldStop_{false};
    std::atomic<OSErr> err_{0};

    // The progress state, and the stop report, under one lock.
    mutable std::mutex progressMutex_;
    Progress progress_;

    // Batch thread only.
    std::string curFolder_;  // progress_.curFolder, read here without the lock
    std::string comment_;
    std::vector<std::string> curOutputPaths_;
    std::shared_ptr<QFSoundFile> inFile_;
    std::string lastPathProcessed_;
    std::string placeholderFolder_;             // the folder placeholdersBefore_ describes
    std::set<std::string> placeholdersBefore_;  // placeholder names found there
    std::vector<std::string> leftOutputs_;      // this input's outputs that could not be removed
    std::string inputNote_;                     // the note of the failure being posted
    std::string dataNote_;                      // "(data ends early: ...)" of this input
    bool skippedUnrecognized_ = false;          // this input was skipped as not a sound file
    // The stop accounting of the running conversion.
    int64_t inputsHanded_ = 0;      // inputs (and folders that failed) handed over
    int64_t inputsNotReached_ = 0;  // inputs a stop left unreached
    bool lastInputFailed_ = false;  // the last input handed over failed
    OSErr stopCode_ = 0;            // the failure that stopped the batch (0: a cancel)
    std::optional<StopReport> stopReport_;  // under progressMutex_

    platform::ThreadContext context_;
    std::thread thread_;
    std::vector<platform::NotificationCenter::Token> observers_;
};

// The whole-batch bar's value for a take of the progress state: the files of
// the conversions before the current one and those of the current conversion
// handed over so far, at most `files`, held within 0 ... files x conversions.
// `files` is the batch's file count; the walk may hand over more (a link to a
// missing file is met but not counted), so the value never runs ahead of the
// jobs finished by more than the one in hand.
int64_t BatchBarValue(int64_t curConv, int64_t curFile, int64_t files, int64_t conversions);
