// The batch driver: the batch thread's loops over conversions, inputs and
// folders, the progress state and its observers, and cancellation. The work on
// one input file is in process_file.cpp.
#include "engine/conversion_process.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <new>

#include "conversion/error_messages.h"
#include "formats/mpeg/mpeg_padding.h"
#include "foundation/string_utils.h"
#include "foundation/xwqf.h"
#include "soundfile/progress.h"

const char* const QFConversionStartNotification = "QFConversionStartNotification";
const char* const QFConversionHeaderNotification = "QFConversionHeaderNotification";
const char* const QFConversionFooterNotification = "QFConversionFooterNotification";
const char* const QFConversionSuccessNotification = "QFConversionSuccessNotification";
const char* const QFConversionFailureNotification = "QFConversionFailureNotification";
const char* const QFConversionWillRenameNotification = "QFConversionWillRenameNotification";
const char* const QFConversionRenameDuplicateNotification =
    "QFConversionRenameDuplicateNotification";
const char* const QFConversionDoneNotification = "QFConversionDoneNotification";
const char* const XWLogMessageNotification = "XWLogMessageNotification";

const char* const kTotalConversionsKey = "total conversions";
const char* const kProcessThreadKey = "process thread";
const char* const kConversionNameKey = "conversion name";
const char* const kInputPathKey = "path";
const char* const kErrorKey = "error";
const char* const kConvertedFilePathKey = "converted file path";
const char* const kCommentKey = "comment";
const char* const kNewNameKey = "name";
const char* const kOrigInputFileKey = "XWOrigInputFile";

const char* const kCurInputFilePathKey = "XWCurInputFilePath";
const char* const kConversionDictionaryKey = "ConversionSpecificationDictionary";
const char* const kOutputSpecificsKey = "QFOutputSpecifics";
const char* const kID3TagsKey = "id3tags";
const char* const kID3v2TagBlobKey = "ID3v2 tag blob";
const char* const kUseMpegFramePaddingKey = "Use MPEG Frame Padding";

namespace {

const char* const kPreserveFinderCommentsKey = "Preserve Finder Comments";
const char* const kUnrecognizedInputFileActionKey = "Unrecognized Input File Action";
const char* const kNumberDuplicateFilesKey = "Number Duplicate Files";

int64_t IntegerOf(const plist::Value& v) {
    return v.asInteger();
}

const plist::Value* Element(const plist::Value& array, size_t i) {
    const plist::Array* a = array.array();
    return a && i < a->size() ? &(*a)[i] : nullptr;
}

int64_t IntegerAt(const plist::Value& array, size_t i) {
    const plist::Value* v = Element(array, i);
    return v ? IntegerOf(*v) : 0;
}

std::string StringAt(const plist::Value& array, size_t i) {
    const plist::Value* v = Element(array, i);
    return v && v->isString() ? v->asString() : std::string();
}

std::mutex gListingProbeMutex;
std::function<void(const std::string&)> gListingProbe;

// An exception that no folder of the walk may take as its own failure (the
// observer of a folder's failure threw): it ends the batch.
struct BatchFailure {
    std::exception_ptr error;
};

// The status of an exception that left a walk or the batch: an error code's
// own (codes that do not fit 16 bits become -50), -108 for memory, else -50.
OSErr StatusOfException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const BatchFailure& failure) {
        return StatusOfException(failure.error);
    } catch (const error_code_exception& e) {
        const int code = e.error_code();
        return code == 0 || code < INT16_MIN || code > INT16_MAX ? OSErr(kParamErr)
                                                                 : static_cast<OSErr>(code);
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    } catch (...) {
        return kParamErr;
    }
}

// The code a folder whose walk threw fails with: an error code of a problem of
// one file keeps its code; anything else says that the folder could not be
// listed, so that the batch goes on.
OSErr FolderFailureCode(std::exception_ptr error) {
    const OSErr code = StatusOfException(error);
    std::string text;
    return MakeErrorMessage(code, text) == kErrorClassFile ? code : OSErr(kFolderNotListedErr);
}

// The entries of a folder in byte-wise order of their names; false, with the
// system's errno in *error and no names, when it cannot be listed.
bool SortedEntries(const std::string& folder, std::vector<std::string>* names, int* error) {
    names->clear();
    {
        std::lock_guard<std::mutex> lock(gListingProbeMutex);
        if (gListingProbe) gListingProbe(folder);
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        *error = errno;
        return false;
    }
    errno = 0;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names->push_back(name);
        errno = 0;
    }
    *error = errno;
    ::closedir(dir);
    if (*error) {
        names->clear();
        return false;
    }
    std::sort(names->begin(), names->end());
    return true;
}

}  // namespace

EngineSettings EngineSettings::FromDefaults(const platform::UserDefaults& defaults) {
    EngineSettings s;
    s.preserveFinderComments = defaults.GetBool(kPreserveFinderCommentsKey);
    s.unrecognizedInputFileAction = defaults.GetInteger(kUnrecognizedInputFileActionKey);
    s.numberDuplicateFiles = defaults.GetBool(kNumberDuplicateFilesKey);
    return s;
}

// ---------------------------------------------------------------------------
// Creation and end

ConversionProcess::ConversionProcess() {
    observe(XWLogMessageNotification, &ConversionProcess::handleLogMessage);
    observe(ProgressNumSampleFrames, &ConversionProcess::handleNumSampleFrames);
    observe(ProgressPosition, &ConversionProcess::handlePosition);
    observe(ProgressPercentage, &ConversionProcess::handlePercentage);
    observe(ProgressNumChannels, &ConversionProcess::handleNumChannels);
    observe(ProgressChannel, &ConversionProcess::handleChannel);
    observe(ProgressNumSteps, &ConversionProcess::handleNumSteps);
    observe(ProgressStep, &ConversionProcess::handleStep);
    observe(ProgressRegion, &ConversionProcess::handleRegion);
    CorvaOutFile::Init();
}

ConversionProcess::~ConversionProcess() {
    waitUntilDone();
    for (platform::NotificationCenter::Token token : observers_)
        platform::NotificationCenter::Default().RemoveObserver(token);
    CorvaOutFile::Cleanup();
}

void ConversionProcess::observe(const char* name,
                                void (ConversionProcess::*handler)(const plist::Value&)) {
    observers_.push_back(platform::NotificationCenter::Default().AddObserver(
        name, nullptr, [this, handler](const platform::Notification& n) {
            if (onBatchThread()) (this->*handler)(n.object);
        }));
}

bool ConversionProcess::onBatchThread() const {
    return platform::CurrentThreadContext().process == this;
}

void ConversionProcess::post(const char* name, plist::Value object) {
    platform::NotificationCenter::Default().Post(name, this, object);
}

// ---------------------------------------------------------------------------
// The batch

void ConversionProcess::startConversion(std::vector<std::string> inputFiles,
                                        std::vector<std::shared_ptr<ConvSpec>> conversions,
                                        std::string destPath, EngineSettings settings) {
    launchBatch(std::move(inputFiles), std::move(conversions), std::move(destPath), settings,
                &ConversionProcess::doConversion);
}

OSErr ConversionProcess::convertSingleFile(std::string input, std::shared_ptr<ConvSpec> conversion,
                                           std::string destPath, std::string outputName,
                                           EngineSettings settings) {
    // The name replaces the input's name in the conversion's folder: it must
    // neither lead into another folder nor end the path early.
    if (!conversion || !isSingleFileName(outputName)) return kParamErr;
    waitUntilDone();
    singleOutputName_ = std::move(outputName);
    launchBatch({std::move(input)}, {std::move(conversion)}, std::move(destPath), settings,
                &ConversionProcess::doSingleFile);
    return 0;
}

bool ConversionProcess::isSingleFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

void ConversionProcess::launchBatch(std::vector<std::string> inputFiles,
                                    std::vector<std::shared_ptr<ConvSpec>> conversions,
                                    std::string destPath, EngineSettings settings,
                                    void (ConversionProcess::*body)()) {
    waitUntilDone();
    inputFiles_ = std::move(inputFiles);
    conversions_ = std::move(conversions);
    destPath_ = std::move(destPath);
    settings_ = settings;
    destFolderId_.reset();
    placeholderFolder_.clear();
    stopCode_ = 0;
    inputsHanded_ = 0;
    inputsNotReached_ = 0;
    lastInputFailed_ = false;
    struct stat st;
    if (::stat(destPath_.c_str(), &st) == 0) destFolderId_ = FolderId{st.st_dev, st.st_ino};

    // Everything a batch starts from, reset before the thread exists.
    err_ = 0;
    shouldStop_ = false;
    {
        std::lock_guard<std::mutex> lock(progressMutex_);
        stopReport_.reset();
        Progress& p = progress_;
        p.determinateStep = false;
        p.usePercentage = false;
        // A conversion's number and its name go together: neither is left
        // from the batch before.
        p.curConv = 0;
        p.curConvSpec.reset();
        p.curFile = 0;
        p.curNumSteps = 0;
        p.curStep = 0;
        p.warnings = 0;
        p.convSpecChanged = p.fileChanged = p.stepChanged = p.regionChanged =
            p.numSampleFramesChanged = p.channelsChanged = p.warningChanged = false;
        p.newWarnings.clear();
    }
    context_.lastError = 0;
    context_.numberOfInputSamples = 0;
    context_.longName.clear();
    context_.outputFolder.clear();
    context_.currentConversion = nullptr;
    context_.process = this;
    context_.curConvSpec.reset();
    context_.values.clear();
    setRunning(true);
    try {
        thread_ = std::thread([this, body] { (this->*body)(); });
    } catch (...) {
        setRunning(false);
        throw;
    }
}

void ConversionProcess::waitUntilDone() {
    if (thread_.joinable()) thread_.join();
}

void ConversionProcess::SetFolderListingProbe(std::function<void(const std::string&)> probe) {
    std::lock_guard<std::mutex> lock(gListingProbeMutex);
    gListingProbe = std::move(probe);
}

void ConversionProcess::doConversion() {
    platform::ScopedThreadContext scope(&context_);
    // Where the batch is, for a stop after an exception.
    size_t c = 0;
    size_t nextInput = 0;
    bool inConversion = false;
    try {
        beginBatch(static_cast<uint64_t>(conversions_.size()) * inputFiles_.size());
        for (c = 0; c < conversions_.size(); ++c) {
            if (shouldStop_) {
                // Stopped between conversions: none of this one's inputs was reached.
                if (stopReport()) break;
                std::vector<FolderId> none;
                inputsHanded_ = 0;
                lastInputFailed_ = false;
                inputsNotReached_ = 0;
                for (const std::string& input : inputFiles_)
                    inputsNotReached_ += countInputs(input, &none);
                noteStop(c);
                break;
            }
            nextInput = 0;
            inConversion = true;
            const plist::Dictionary header = beginConversion(conversions_[c]);
            for (size_t i = 0; i < inputFiles_.size(); ++i) {
                const std::string& input = inputFiles_[i];
                if (shouldStop_) {
                    std::vector<FolderId> none;
                    for (size_t j = i; j < inputFiles_.size(); ++j)
                        inputsNotReached_ += countInputs(inputFiles_[j], &none);
                    nextInput = inputFiles_.size();
                    break;
                }
                nextInput = i + 1;
                struct stat st;
                if (::stat(input.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                    folderPath_.clear();
                    deepProcessFolder(input);
                } else {
                    processFile(input, nullptr);
                }
            }
            if (shouldStop_) noteStop(c);
            inConversion = false;
            post(QFConversionFooterNotification, header);
        }
    } catch (...) {
        stopAfterException(std::current_exception(), c, nextInput, inConversion);
    }
    endBatch();
}

void ConversionProcess::doSingleFile() {
    platform::ScopedThreadContext scope(&context_);
    size_t nextInput = 0;
    bool inConversion = false;
    try {
        beginBatch(1);
        if (!shouldStop_) {
            inConversion = true;
            const plist::Dictionary header = beginConversion(conversions_.front());
            nextInput = 1;
            processFile(inputFiles_.front(), &singleOutputName_);
            if (shouldStop_) noteStop(0);
            inConversion = false;
            post(QFConversionFooterNotification, header);
        } else {
            inputsHanded_ = 0;
            lastInputFailed_ = false;
            inputsNotReached_ = 1;
            noteStop(0);
        }
    } catch (...) {
        stopAfterException(std::current_exception(), 0, nextInput, inConversion);
    }
    endBatch();
}

void ConversionProcess::stopAfterException(std::exception_ptr error, size_t conversion,
                                           size_t nextInput, bool inConversion) {
    const OSErr code = StatusOfException(error);
    const bool reported = stopReport().has_value();
    shouldStop_ = true;
    err_ = code;
    context_.lastError = code;
    if (!reported) {
        // A stop already under way keeps its own cause.
        if (stopCode_ == 0) stopCode_ = code;
        if (conversion >= conversions_.size())
            conversion = conversions_.empty() ? 0 : conversions_.size() - 1;
        try {
            std::vector<FolderId> none;
            for (size_t j = nextInput; j < inputFiles_.size(); ++j)
                inputsNotReached_ += countInputs(inputFiles_[j], &none);
        } catch (...) {
            inputsNotReached_ =
                static_cast<int64_t>(inputFiles_.size() - std::min(nextInput, inputFiles_.size()));
        }
        try {
            noteStop(conversion);
        } catch (...) {
        }
    }
    if (!inConversion || conversion >= conversions_.size() || !conversions_[conversion]) return;
    try {
        plist::Dictionary footer;
        footer[kConversionNameKey] = conversions_[conversion]->conversionName();
        post(QFConversionFooterNotification, footer);
    } catch (...) {
    }
}

void ConversionProcess::beginBatch(uint64_t totalConversions) {
    plist::Dictionary start;
    start[kTotalConversionsKey] = static_cast<int64_t>(static_cast<uint32_t>(totalConversions));
    start[kProcessThreadKey] = platform::ThreadIdValue(std::this_thread::get_id());
    post(QFConversionStartNotification, start);
}

plist::Dictionary ConversionProcess::beginConversion(const std::shared_ptr<ConvSpec>& conv) {
    {
        // The number and the conversion change in one step: a take never
        // pairs one conversion's number with another's name.
        std::lock_guard<std::mutex> lock(progressMutex_);
        ++progress_.curConv;
        progress_.curConvSpec = conv;
        progress_.convSpecChanged = true;
        progress_.curFile = 0;
    }
    inputsHanded_ = 0;
    inputsNotReached_ = 0;
    lastInputFailed_ = false;
    setCurConvSpec(conv);
    lastPathProcessed_.clear();
    const plist::Value padding = conv->specificsValue(kUseMpegFramePaddingKey);
    SetMpegPaddingRequired(padding.isNull() ? true : padding.asBool());

    plist::Dictionary header;
    header[kConversionNameKey] = conv->conversionName();
    post(QFConversionHeaderNotification, header);
    setCurFolder(
        JoinPath(destPath_, ConvNameFormatter::stringForObjectValue(conv->conversionName())));
    return header;
}

void ConversionProcess::endBatch() {
    try {
        post(QFConversionDoneNotification);
    } catch (...) {
    }
    CConvSpec::SetCurConvSpec(nullptr);
    setRunning(false);
    // Whoever shows the output folder shows what the batch left in it.
    try {
        platform::noteFileSystemChanged(destPath_);
    } catch (...) {
    }
    context_.curConvSpec.reset();
}

void ConversionProcess::deepProcessFolder(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        ++inputsHanded_;
        postFailure(path, kFileNotFoundErr, false);
        return;
    }
    const FolderId id{st.st_dev, st.st_ino};
    // A folder reached again through a link would be walked for ever, and the
    // output folder inside an input folder would be converted into itself.
    if (std::find(folderPath_.begin(), folderPath_.end(), id) != folderPath_.end()) return;
    if (destFolderId_ && id == *destFolderId_) return;

    const std::string parentFolder = curFolder_;
    const size_t depth = folderPath_.size();
    bool failurePosted = false;
    try {
        walkFolder(path, id, &failurePosted);
    } catch (const BatchFailure&) {
        folderPath_.resize(depth);
        setCurFolder(parentFolder);
        throw;
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        folderPath_.resize(depth);
        setCurFolder(parentFolder);
        // A walk that failed while its folder's failure was posted (an
        // observer threw) is the batch's to handle, and so is a failure to
        // post this one.
        if (failurePosted) throw BatchFailure{error};
        ++inputsHanded_;
        try {
            postFailure(path, FolderFailureCode(error), false);
        } catch (...) {
            throw BatchFailure{std::current_exception()};
        }
    }
}

void ConversionProcess::walkFolder(const std::string& path, const FolderId& id,
                                   bool* failurePosted) {
    const std::string parentFolder = curFolder_;
    std::string folderPath = path;
    while (folderPath.size() > 1 && folderPath.back() == '/') folderPath.pop_back();
    setCurFolder(JoinPath(parentFolder, filename(folderPath)));
    ::mkdir(curFolder_.c_str(), 0777);
    std::vector<std::string> names;
    int listError = 0;
    if (!SortedEntries(path, &names, &listError)) {
        // A folder whose entries cannot be had fails as one input.
        ++inputsHanded_;
        *failurePosted = true;
        postFailure(path, XWQF::ReadErrnoToStatus(listError), false);
    }
    folderPath_.push_back(id);
    for (size_t i = 0; i < names.size(); ++i) {
        if (shouldStop_) {
            for (size_t j = i; j < names.size(); ++j)
                inputsNotReached_ += countInputs(JoinPath(path, names[j]), &folderPath_);
            break;
        }
        const std::string entry = JoinPath(path, names[i]);
        struct stat est;
        if (::stat(entry.c_str(), &est) == 0 && S_ISDIR(est.st_mode))
            deepProcessFolder(entry);
        else
            processFile(entry, nullptr);
    }
    folderPath_.pop_back();
    setCurFolder(parentFolder);
}

int64_t ConversionProcess::countInputs(const std::string& path,
                                       std::vector<FolderId>* ancestors) const {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 1;
    const FolderId id{st.st_dev, st.st_ino};
    if (std::find(ancestors->begin(), ancestors->end(), id) != ancestors->end()) return 0;
    if (destFolderId_ && id == *destFolderId_) return 0;
    std::vector<std::string> names;
    int error = 0;
    if (!SortedEntries(path, &names, &error)) return 1;
    ancestors->push_back(id);
    int64_t count = 0;
    for (const std::string& name : names) count += countInputs(JoinPath(path, name), ancestors);
    ancestors->pop_back();
    return count;
}

void ConversionProcess::noteStop(size_t index) {
    StopReport report;
    report.reason = stopCode_ ? stopCode_ : OSErr(kUserCanceledErr);
    report.inputsLeft = inputsNotReached_ + (lastInputFailed_ ? 1 : 0);
    report.inputs = inputsHanded_ + inputsNotReached_;
    if (index < conversions_.size() && conversions_[index])
        report.conversionName = conversions_[index]->conversionName();
    report.laterConversions = static_cast<int64_t>(conversions_.size() - index - 1);
    std::lock_guard<std::mutex> lock(progressMutex_);
    stopReport_ = report;
}

std::optional<ConversionProcess::StopReport> ConversionProcess::stopReport() const {
    std::lock_guard<std::mutex> lock(progressMutex_);
    return stopReport_;
}

std::string ConversionProcess::inputNote() const { return inputNote_; }

// ---------------------------------------------------------------------------
// Cancellation and state

void ConversionProcess::setShouldStop(bool stop) {
    shouldStop_ = stop;
    if (stop) {
        err_ = kUserCanceledErr;
        context_.lastError = kUserCanceledErr;
    }
}

void ConversionProcess::setLastError(OSErr code) {
    context_.lastError = code;
    // A cancel that came meanwhile stands: the stop flag is set before its -128.
    if (shouldStop_) context_.lastError = kUserCanceledErr;
}

void ConversionProcess::setCurFile(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(progressMutex_);
        progress_.curFilePath = path;
        ++progress_.curFile;
        progress_.fileChanged = true;
    }
    context_.values[kCurInputFilePathKey] = path;
}

void ConversionProcess::setCurConvSpec(const std::shared_ptr<ConvSpec>& conv) {
    if (!conv) return;
    context_.curConvSpec = conv;
    context_.values[kConversionDictionaryKey] = conv->dictionary();
    context_.values[kOutputSpecificsKey] = conv->specifics();
}

void ConversionProcess::setCurFolder(const std::string& folder) {
    curFolder_ = folder;
    set(&Progress::curFolder, folder);
}

ConversionProcess::Progress ConversionProcess::takeProgress() {
    std::lock_guard<std::mutex> lock(progressMutex_);
    std::vector<std::string> warnings;
    warnings.swap(progress_.newWarnings);
    Progress taken = progress_;
    taken.newWarnings = std::move(warnings);
    progress_.convSpecChanged = progress_.fileChanged = progress_.stepChanged =
        progress_.regionChanged = progress_.numSampleFramesChanged = progress_.channelsChanged =
            progress_.warningChanged = false;
    return taken;
}

void ConversionProcess::putProgressForTesting(Progress state) {
    std::lock_guard<std::mutex> lock(progressMutex_);
    progress_ = std::move(state);
}

int64_t BatchBarValue(int64_t curConv, int64_t curFile, int64_t files, int64_t conversions) {
    if (files <= 0 || conversions <= 0) return 0;
    // Within these bounds no product below overflows (the batch's counts are
    // 32-bit numbers).
    files = std::min<int64_t>(files, INT32_MAX);
    conversions = std::min<int64_t>(conversions, UINT32_MAX);
    curConv = std::clamp<int64_t>(curConv, 0, conversions + 1);
    const int64_t value = (curConv - 1) * files + std::clamp<int64_t>(curFile, 0, files);
    return std::clamp<int64_t>(value, 0, files * conversions);
}

// ---------------------------------------------------------------------------
// Observers (on the batch thread)

void ConversionProcess::handleLogMessage(const plist::Value& object) {
    std::string text = object.isString() ? object.asString() : std::string();
    std::lock_guard<std::mutex> lock(progressMutex_);
    progress_.newWarnings.push_back(std::move(text));
    progress_.warningChanged = true;
    ++progress_.warnings;
}

void ConversionProcess::handleNumSampleFrames(const plist::Value& object) {
    std::lock_guard<std::mutex> lock(progressMutex_);
    progress_.curSampleFrames = IntegerOf(object);
    progress_.numSampleFramesChanged = true;
}

void ConversionProcess::handlePosition(const plist::Value& object) {
    std::lock_guard<std::mutex> lock(progressMutex_);
    progress_.usePercentage = false;
    progress_.curValue = IntegerOf(object);
}

void ConversionProcess::handlePercentage(const plist::Value& object) {
    std::lock_guard<std::mutex> lock(progressMutex_);
    progress_.usePercentage = true;
    progress_.curValue = IntegerOf(object);
}

void ConversionProcess::handleNumChannels(const plist::Value& object) {
    std::lock_guard<std::mutex> lock(progressMutex_);
    progress_.curChannels = IntegerOf(object);
    progress_.channelsChanged = true;
}

void ConversionProcess::handleChannel(const plist::Value& object) {
    std::lock_guard<std::mutex> lock(progressMutex_);
    progress_.curChannel = IntegerAt(object, 0);
    progress_.curChannels = IntegerAt(object, 1);
    progress_.channelsChanged = true;
}

void ConversionProcess::handleNumSteps(const plist::Value& object) {
    std::lock_guard<std::mutex> lock(progressMutex_);
    progress_.curNumSteps = IntegerOf(object);
    progress_.curStep = 0;
}

void ConversionProcess::handleStep(const plist::Value& object) {
    std::string desc = StringAt(object, 0);
    std::lock_guard<std::mutex> lock(progressMutex_);
    progress_.curStepDesc = std::move(desc);
    progress_.determinateStep = IntegerAt(object, 1) == 0;
    ++progress_.curStep;
    progress_.stepChanged = true;
}

void ConversionProcess::handleRegion(const plist::Value& object) {
    std::string name = StringAt(object, 0);
    std::lock_guard<std::mutex> lock(progressMutex_);
    progress_.curRegion = std::move(name);
    progress_.curRegionStart = IntegerAt(object, 1);
    progress_.curRegionEnd = IntegerAt(object, 2);
    progress_.curRegionIndex = IntegerAt(object, 3);
    progress_.curRegions = IntegerAt(object, 4);
    progress_.regionChanged = true;
}
