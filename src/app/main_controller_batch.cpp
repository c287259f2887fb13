// The main controller's batch: the rule that allows a start, the folder checks
// and the launch, the window's fade, the log fed from the driver's reports, and
// the end (the window back, the sound, the log opened).
#include "app/main_controller.h"

#include <QFileInfo>
#include <QMainWindow>
#include <QPushButton>
#include <QAction>
#include <QTimer>
#include <algorithm>
#include <cstdint>

#include "app/batch_start.h"
#include "app/desktop_services.h"
#include "app/logger.h"
#include "app/progress_controller.h"
#include "app/window_placement.h"
#include "conversion/conv_spec.h"
#include "conversion/qf_sound_file.h"
#include "engine/conversion_process.h"
#include "foundation/string_utils.h"
#include "platform/user_defaults.h"
#include "playback/named_sound.h"
#include "soundfile/sample_conversion.h"
#include "ui_main_window.h"

void MainController::observeBatchDriver() {
    // The log is fed on the batch thread, where the driver posts.
    auto& center = platform::NotificationCenter::Default();
    ConversionProcess* process = conversionProcess_.get();
    observers_.push_back(center.AddObserver(
        QFConversionHeaderNotification, process, [this](const platform::Notification&) {
            if (!logger_) return;
            if (auto conv = conversionProcess_->curConvSpec()) logger_->logConversionHeader(*conv);
        }));
    observers_.push_back(center.AddObserver(QFConversionFooterNotification, process,
                                            [this](const platform::Notification&) {
                                                if (logger_) logger_->logConversionFooter();
                                            }));
    // The input's name, or its whole path (the file's own, extension included).
    const auto logName = [this](const platform::Notification& n) {
        const plist::Value* path = n.object.find(kInputPathKey);
        const std::string input = path ? path->asString() : std::string();
        if (defaults().GetBool("Full Paths Into Log")) return input;
        return QFSoundFile(input).name();
    };
    observers_.push_back(center.AddObserver(
        QFConversionSuccessNotification, process,
        [this, logName](const platform::Notification& n) {
            if (!logger_) return;
            const plist::Value* comment = n.object.find(kCommentKey);
            logger_->logDoneMessage(logName(n), comment ? std::optional<std::string>(
                                                              comment->asString())
                                                        : std::nullopt);
            const int64_t count = defaults().GetInteger("Number of Files Ever Converted");
            defaults().Set("Number of Files Ever Converted", count + 1);
        }));
    observers_.push_back(center.AddObserver(
        QFConversionFailureNotification, process,
        [this, logName](const platform::Notification& n) {
            if (!logger_) return;
            const plist::Value* error = n.object.find(kErrorKey);
            logger_->logErrorMessage(logName(n),
                                     static_cast<OSErr>(error ? error->asInteger() : 0));
        }));
    observers_.push_back(center.AddObserver(
        QFConversionSkippedNotification, process,
        [this, logName](const platform::Notification& n) {
            if (!logger_) return;
            const plist::Value* comment = n.object.find(kCommentKey);
            logger_->logSkippedMessage(
                logName(n), comment ? comment->asString() : std::string(kNotRecognizedComment));
        }));
}

void MainController::handleUserCancelled() {
    if (conversionProcess_) conversionProcess_->setShouldStop(true);
}

StartRefusal MainController::startRefusal() const {
    if (!booted_ || terminating_ || !conversionProcess_) return StartRefusal::quitting;
    return WhyStartIsRefused(uiState());
}

bool MainController::validateStart() {
    const bool ok = startRefusal() == StartRefusal::none;
    if (ui_) {
        ui_->startButton->setEnabled(ok);
        ui_->startAction->setEnabled(ok);
    }
    return ok;
}

bool MainController::doStart() {
    if (!validateStart()) return false;
    shouldStartFade_ = true;
    if (!convert()) return false;
    if (shouldStartFade_ && window_) {
        validateUserInterfaceItems();
        windowAlpha_ = 1.0;
        if (!fadeTimer_) {
            fadeTimer_ = new QTimer(this);
            connect(fadeTimer_, &QTimer::timeout, this, &MainController::handleWindowFade);
        }
        fadeTimer_->start(50);
    }
    return true;
}

void MainController::handleWindowFade() {
    if (!window_) return;
    // 14 steps from 1.0 down to 0.025, then hidden.
    if (windowAlpha_ > 0.0001) {
        window_->setWindowOpacity(windowAlpha_);
        windowAlpha_ -= 0.075;
    } else {
        window_->hide();
        fadeTimer_->stop();
    }
}

ProgressController* MainController::progressWindow() const { return progressCtrl_.data(); }

ProgressController& MainController::progressController() {
    if (!progressCtrl_) {
        progressCtrl_ = new ProgressController(*conversionProcess_, defaults(), window_);
        // Its question at a close during a batch comes through the main window's alerts.
        progressCtrl_->setAlerts(services_.alerts);
        connect(progressCtrl_, &ProgressController::engineDone, this, &MainController::engineDone);
    }
    return *progressCtrl_;
}

bool MainController::convert() {
    std::vector<std::shared_ptr<ConvSpec>> toRun;
    for (const auto& conv : convSpecs)
        if (conv->active() && conv->valid()) toRun.push_back(conv);
    std::vector<std::string> paths;
    for (const auto& input : inputFiles) paths.push_back(input->path());
    batchFileCount_ = BatchFileCount(paths);

    std::vector<BatchInput> inputs;
    for (const auto& input : inputFiles) inputs.push_back({input->path(), input->isDirectory()});
    std::vector<BatchConversion> conversions;
    for (const auto& conv : toRun)
        conversions.push_back({conv->conversionName(),
                               ConvNameFormatter::stringForObjectValue(conv->conversionName())});
    // Without "Easy Thru" an existing conversion folder is used only when the user agrees.
    std::function<bool(const std::string&)> useExisting;
    if (!defaults().GetBool("Easy Thru")) {
        useExisting = [this](const std::string& name) {
            return services_.alerts->run(
                       window_, Tr("Warning: output folder already exists"),
                       FormatObjects(
                           Tr("The folder where converted audio files should be created using "
                              "the conversion named: '%@' already exists inside the specified "
                              "output folder.\n\nDo you want to keep using the existing "
                              "folder, or would you like to specify a different output "
                              "folder?"),
                           {QString::fromStdString(name)}),
                       Tr("Choose Different Destination"), Tr("Use Existing Folder")) != 1;
        };
    }
    if (const auto refusal = CheckBatchFolders(inputs, conversions, destFolder, useExisting)) {
        const QString path = QString::fromStdString(refusal->path);
        switch (refusal->problem) {
            case FolderProblem::kOutputInsideInput:
                services_.alerts->run(
                    window_, Tr("Error: output folder inside input folder"),
                    FormatObjects(
                        Tr("The output folder is inside the input folder '%@', which is not "
                           "allowed, because Corvane would try to create an endless chain "
                           "of nested folders.\n\nPlease specify another location for the "
                           "converted audio files."),
                        {path}));
                break;
            case FolderProblem::kInputNamedLikeConversion:
                services_.alerts->run(
                    window_, Tr("Error: input folder with same name as an active conversion"),
                    FormatObjects(
                        Tr("The input folder '%@' is inside the output folder (which is OK), but "
                           "it has the same name as one of the active conversions. This is not "
                           "allowed, because Corvane would try to create an endless chain of "
                           "nested folders.\n\nPlease specify another location for the "
                           "converted audio files."),
                        {path}));
                break;
            case FolderProblem::kExistingFolderDeclined:
                break;  // the user has chosen
            case FolderProblem::kCannotMakeFolder:
                services_.alerts->run(
                    window_, Tr("Error: could not create output folder"),
                    FormatObjects(Tr("The necessary output folder named: '%@' could not be "
                                     "created.\n\nPlease check if you have write permission "
                                     "for the destination folder: '%@'."),
                                  {path, QString::fromStdString(destFolder)}));
                break;
        }
        return false;
    }

    bool redither = false;
    for (const auto& conv : toRun) redither = redither || conv->needsRedither();
    if (redither && fillDither(0) != 0) {
        services_.alerts->run(window_, Tr("Error"), Tr("Could not create dither table"));
        return false;
    }
    LoggerOptions options;
    options.defaults = &defaults();
    options.version = services_.version;
    Workspace* workspace = services_.workspace;
    // The finish step runs on this thread (engineDone).
    options.fileChanged = [workspace](const std::string& path) {
        workspace->noteFileChanged(QString::fromStdString(path));
    };
    // A batch stopped before its first conversion began is reported too.
    options.driver = conversionProcess_.get();
    logger_ = std::make_unique<Logger>(destFolder, std::move(options));
    // The window observes the driver's start before the thread can post it.
    ProgressController& progress = progressController();
    conversionProcess_->startConversion(paths, toRun, destFolder,
                                        EngineSettings::FromDefaults(defaults()));
    progress.startPolling(static_cast<int32_t>(std::min<uint32_t>(batchFileCount_, INT32_MAX)),
                          static_cast<uint32_t>(toRun.size()));
    validateStart();
    emit batchStarted();
    return true;
}

void MainController::engineDone() {
    if (!logger_) return;
    shouldStartFade_ = false;
    if (fadeTimer_) fadeTimer_->stop();
    conversionProcess_->waitUntilDone();
    logger_->setNumWarnings(static_cast<int32_t>(conversionProcess_->warnings()));
    const bool kept = logger_->finishLogFile();
    const bool fatal = logger_->fatal();
    const std::string logPath = logger_->logPath();
    logger_.reset();
    // Only the log this batch kept is opened, never an earlier batch's. "Only
    // Open When Errors" asks for any failure or warning of the batch, an early
    // one too, as "Only Save When Errors" does, and for a stop.
    const bool hadErrors = conversionProcess_->err() != 0 || conversionProcess_->warnings() > 0;
    const bool openTheLog =
        !terminating_ && kept && defaults().GetBool("Save Log") && defaults().GetBool("Open Log") &&
        (!defaults().GetBool("Only Open When Errors") || hadErrors) && !logPath.empty() &&
        QFileInfo::exists(QString::fromStdString(logPath));
    if (window_) {
        window_->setWindowOpacity(1.0);
        if (!terminating_) {
            // Back where it was (the desktop would place it anew), on its screen.
            PlaceWindow(window_, window_);
            window_->show();
            // A log that opens comes up above the window, with the keyboard:
            // activating the window too could bring it back over the log.
            if (!openTheLog) {
                window_->raise();
                window_->activateWindow();
            }
        }
    }
    validateUserInterfaceItems();
    if (!terminating_ && defaults().GetBool("Beep When Done")) {
        const std::string sound = fatal ? "Toeter" : "Pieieng";
        if (services_.playSound) {
            services_.playSound(sound);
        } else {
            if (!sounds_) sounds_ = std::make_unique<NamedSoundPlayer>();
            sounds_->Play(sound);
        }
    }
    if (openTheLog) openLog(QString::fromStdString(logPath));
    emit batchFinished();
}
