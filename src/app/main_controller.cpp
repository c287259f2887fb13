#include "app/main_controller.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QMainWindow>
#include <QItemSelectionModel>
#include <QSignalBlocker>
#include <QUndoGroup>
#include <QUndoStack>
#include <QUrl>
#include <QThread>
#include <QTimer>
#include <filesystem>

#include "app/add_files_dialog.h"
#include "app/batch_start.h"
#include "app/conversion_list_controller.h"
#include "app/define_conversion_dialog.h"
#include "app/file_cell.h"
#include "app/input_list.h"
#include "app/log_window.h"
#include "platform/resource_dir.h"
#include "app/main_window_views.h"
#include "app/output_page.h"
#include "app/update_check.h"
#include "app/window_placement.h"
#include "app/custom_sample_rates_window.h"
#include "app/player_control.h"
#include "app/preference_controller.h"
#include "app/progress_controller.h"
#include "app/table_sorting.h"
#include "app/logger.h"
#include "app/desktop_services.h"
#include "conversion/conv_spec.h"
#include "conversion/qf_sound_file.h"
#include "engine/conversion_process.h"
#include "playback/named_sound.h"
#include "playback/player.h"
#include "foundation/paths.h"
#include "foundation/string_utils.h"
#include "platform/user_defaults.h"
#include "soundfile/sample_conversion.h"
#include "soundfile/sound_file.h"
#include "ui_main_window.h"

const char* const XWConvertScriptCommandReceived = "XWConvertScriptCommandReceived";

namespace {

const char* const kLastUsedDestinationKey = "Last Used Destination";
const char* const kLastUsedLogKey = "Last Used Log";
const char* const kInputTableName = "inputFileTable";
const char* const kConversionTableName = "conversionTable";
// A saved layout holds an identifier and a width per column; one of fewer
// entries than the conversion table's three columns need is stale.
constexpr size_t kMinConversionLayoutEntries = 6;

std::string LayoutKey(const char* tableName) {
    return std::string("NSTableView Columns ") + tableName;
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

bool OnInterfaceThread() {
    return QCoreApplication::instance() &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace

namespace {

// One entry inserted into or removed from the input list, undoably.
class InputFileCommand : public QUndoCommand {
public:
    InputFileCommand(MainController* c, InputFilePtr entry, int index, bool insert)
        : c_(c), entry_(std::move(entry)), index_(index), insert_(insert) {}
    void redo() override { insert_ ? c_->insertFile(entry_, index_) : void(index_ = c_->deleteFile(entry_)); }
    void undo() override { insert_ ? void(c_->deleteFile(entry_)) : c_->insertFile(entry_, index_); }

private:
    MainController* c_;
    InputFilePtr entry_;
    int index_;
    bool insert_;
};

}  // namespace

MainController::MainController(MainServices services, QObject* parent)
    : QObject(parent), services_(std::move(services)) {
    inputUndo_ = new QUndoStack(this);
    if (!services_.playback) {
        ownPlayer_ = std::make_unique<PlayerControl>(services_.alerts);
        services_.playback = ownPlayer_.get();
    }
    if (!services_.openLoggingPreferences)
        services_.openLoggingPreferences = [this] { showLoggingPreferences(); };
}

MainController::~MainController() {
    *alive_ = false;
    for (auto token : observers_) platform::NotificationCenter::Default().RemoveObserver(token);
    if (conversionProcess_) {
        conversionProcess_->setShouldStop(true);
        conversionProcess_->waitUntilDone();
    }
    logger_.reset();
    ownPlayer_.reset();
    sounds_.reset();
    defineConv_.reset();
    delete progressCtrl_.data();
    delete addErrors_.data();
    addWorker_.reset();
    delete prefCtrl_.data();
    if (window_) {
        window_->removeEventFilter(this);
        delete window_.data();
    }
}

platform::UserDefaults& MainController::defaults() const {
    return services_.defaults ? *services_.defaults : platform::UserDefaults::Standard();
}

void MainController::observe(const char* name, const void* sender,
                             void (MainController::*handler)()) {
    std::weak_ptr<bool> alive = alive_;
    observers_.push_back(platform::NotificationCenter::Default().AddObserver(
        name, sender, [this, alive, handler](const platform::Notification&) {
            // Notifications arrive on the posting thread; the controller acts on its own.
            if (OnInterfaceThread()) {
                (this->*handler)();
                return;
            }
            onMain([this, alive, handler] {
                if (auto a = alive.lock(); a && *a) (this->*handler)();
            });
        }));
}

bool MainController::init() {
    BootOptions options = services_.boot;
    options.defaults = &defaults();
    boot_ = BootModel(options);
    if (boot_.status != 0) return false;
    booted_ = true;
    conversionProcess_ = std::make_unique<ConversionProcess>();

    const std::string last = defaults().GetString(kLastUsedDestinationKey);
    setDestFolder(IsFolder(last) ? last : std::string());

    observe(XWConvertScriptCommandReceived, nullptr, &MainController::asConvert);
    observe(UserCancelledNotification, nullptr, &MainController::handleUserCancelled);
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
    const auto logName = [this](const platform::Notification& n) {
        const plist::Value* path = n.object.find(kInputPathKey);
        const std::string input = path ? path->asString() : std::string();
        std::string name = QFSoundFile(input).name();
        if (defaults().GetBool("Full Paths Into Log")) {
            const std::string parent = input.substr(0, input.find_last_of('/') + 1);
            name = parent + name;
        }
        return name;
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

    if (boot_.mp3EncoderTooOld) {
        QString message = Tr(
            "The version of the LAME encoder for mp3 files that is installed on your system is "
            "too old. It is version %4.2f, but it has to be version 3.93 or higher. Please refer "
            "to the Corvane Release Notes in the Help menu to get more information about "
            "obtaining the LAME encoder.");
        message.replace("%4.2f", QString::fromStdString(boot_.mp3Encoder.version.text()));
        services_.alerts->run(nullptr, Tr("LAME mp3-encoder Too Old"), message);
    }

    setUpConversionList();
    return true;
}

void MainController::setUpConversionList() {
    ConversionListHooks hooks;
    hooks.runDefineConversionDialog = [this](const ConvSpecPtr& spec,
                                             const std::set<std::string>& taken) {
        return editConversion(spec, taken);
    };
    hooks.alerts = services_.alerts;
    hooks.chooseLegacyPreferencesFile = [this] {
        return services_.dialogs->openFile(window_, Tr("Import Conversions"), {}).toStdString();
    };
    hooks.showConversions = [this] { showConversions(); };
    conversionList_ = new ConversionListController(defaults(), boot_.conversions, hooks, this);
    connect(conversionList_->model(), &ConversionListModel::conversionViewUpdated, this,
            &MainController::updateConversionView);
    connect(conversionList_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainController::validateUserInterfaceItems);
    updateConversionView();
}

DefineConvController& MainController::defineConversionDialog() {
    if (!defineConv_) {
        DefineConvServices services;
        services.defaults = &defaults();
        services.alerts = services_.alerts;
        defineConv_ = std::make_unique<DefineConvController>(CSoundFile::GetFileTypeInfo(),
                                                             window_, services);
    }
    return *defineConv_;
}

int MainController::editConversion(const std::shared_ptr<ConvSpec>& conversion,
                                   const std::set<std::string>& takenNames) {
    if (!conversion || terminating_) return 0;
    DefineConvController& dialog = defineConversionDialog();
    dialog.setNames(takenNames);
    dialog.setConvSpec(conversion);
    PlaceWindow(&dialog, window_);
    return services_.runDefineConversion ? services_.runDefineConversion(dialog) : dialog.exec();
}

void MainController::selectPage(int page) {
    if (!ui_) return;
    ui_->tabView->setCurrentIndex(page);
    ui_->inputTabButton->setChecked(page == 0);
    ui_->conversionsTabButton->setChecked(page == 1);
    ui_->outputTabButton->setChecked(page == 2);
    if (page == 0) ui_->inputFileTableView->setFocus();
    if (page == 1) ui_->conversionTableView->setFocus();
    if (page == 2) updateOutputView();
    validateUserInterfaceItems();
}

void MainController::handleUserCancelled() {
    if (conversionProcess_) conversionProcess_->setShouldStop(true);
}

void MainController::showInput() { selectPage(0); }
void MainController::showConversions() { selectPage(1); }
void MainController::showOutput() { selectPage(2); }

void MainController::deleteSelection() {
    if (!ui_) return;
    if (ui_->tabView->currentIndex() == 0) removeFile();
    if (ui_->tabView->currentIndex() == 1) conversionList_->removeConv();
}

PreferenceController* MainController::preferences() const { return prefCtrl_.data(); }

void MainController::showPrefs() {
    if (!prefCtrl_) prefCtrl_ = new PreferenceController(defaults(), window_);
    prefCtrl_->show();
    prefCtrl_->raise();
    prefCtrl_->activateWindow();
}

void MainController::unrecognizedFileHandling() {
    showPrefs();
    prefCtrl_->selectInputTab();
}

void MainController::showLoggingPreferences() {
    showPrefs();
    prefCtrl_->selectLoggingTab();
}

void MainController::followPlayerSetting(const platform::Notification& note) {
    const bool blip = note.name == XWBlipAtEndChanged;
    const bool on = defaults().GetBool(blip ? "Blip At End" : "Auto Play Next");
    // The window's own change is already shown.
    if (ui_ && note.sender != this) {
        QCheckBox* box = blip ? ui_->blipAtEndCheckbox : ui_->autoPlayNextCheckbox;
        const QSignalBlocker quiet(box);
        box->setChecked(on);
    }
    if (Player* player = ownPlayer_ ? ownPlayer_->player() : nullptr)
        blip ? player->setBlipAtEnd(on) : player->setAutoPlayNext(on);
}

void MainController::validateUserInterfaceItems() {
    if (ui_ && undoGroup_ && conversionList_) {
        QUndoStack* stack = ui_->tabView->currentIndex() == 0 ? inputUndo_
                            : ui_->tabView->currentIndex() == 1 ? conversionList_->undoStack()
                                                                 : nullptr;
        undoGroup_->setActiveStack(addingFiles && stack == inputUndo_ ? nullptr : stack);
    }
    refreshActions();
}

void MainController::awakeFromNib() {
    window_ = new QMainWindow;
    ui_ = std::make_unique<Ui::MainWindow>();
    ui_->setupUi(window_);
    window_->installEventFilter(this);

    ui_->fileAddProgressMessageTextField->clear();
    ui_->fileAddProgressIndicator->hide();
    ui_->tabView->setCurrentIndex(0);
    ui_->inputTabButton->setChecked(true);
    const std::pair<QPushButton*, int> tabs[] = {
        {ui_->inputTabButton, 0}, {ui_->conversionsTabButton, 1}, {ui_->outputTabButton, 2}};
    for (const auto& [button, page] : tabs)
        connect(button, &QPushButton::clicked, this, [this, page = page] { selectPage(page); });

    ui_->folderPlayTextField->clear();
    ui_->blipAtEndCheckbox->setChecked(defaults().GetBool("Blip At End"));
    ui_->autoPlayNextCheckbox->setChecked(defaults().GetBool("Auto Play Next"));
    const double varispeed = defaults().GetReal("Varispeed", 1.0);
    ui_->variSpeedSlider->setValue(static_cast<int>(varispeed * 100 + 0.5));
    ui_->variSpeedTextField->setText(QString::number(varispeed, 'f', 2));
    // The boxes post their changes as the controller; the preferences' posts
    // reach the boxes, and both reach the player.
    connect(ui_->blipAtEndCheckbox, &QCheckBox::toggled, this, [this](bool on) {
        defaults().Set("Blip At End", on);
        platform::NotificationCenter::Default().Post(XWBlipAtEndChanged, this);
    });
    connect(ui_->autoPlayNextCheckbox, &QCheckBox::toggled, this, [this](bool on) {
        defaults().Set("Auto Play Next", on);
        platform::NotificationCenter::Default().Post(XWAutoPlayNextChanged, this);
    });
    for (const char* name : {XWBlipAtEndChanged, XWAutoPlayNextChanged})
        observers_.push_back(platform::NotificationCenter::Default().AddObserver(
            name, nullptr,
            [this](const platform::Notification& note) { followPlayerSetting(note); }));
    if (ownPlayer_) ownPlayer_->setWindow(window_);

    inputModel_ = new InputListModel(
        inputFiles, services_.workspace,
        [this]() -> std::pair<int, bool> {
            Player* player = ownPlayer_ ? ownPlayer_->player() : nullptr;
            if (!player || !player->curFileIndex()) return {-1, false};
            return {static_cast<int>(*player->curFileIndex()), player->isPlaying()};
        },
        this);
    QTableView* inputTable = ui_->inputFileTableView;
    inputTable->setModel(inputModel_);
    inputTable->setItemDelegateForColumn(InputListModel::kFilenameColumn, new FileCell(inputTable));
    inputTable->setAcceptDrops(true);
    inputTable->setDragDropMode(QAbstractItemView::DropOnly);
    inputTable->setDropIndicatorShown(false);
    connect(inputModel_, &InputListModel::filesDropped, this, &MainController::setFilesToAdd);
    connect(inputTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainController::validateUserInterfaceItems);
    inputSorter_ = new TableSorter(
        inputTable, defaults(), {"Input Files Sort Key", "Input Files Sort Ascending"},
        InputListModel::ColumnIdentifiers(),
        {&QFSoundFile::setSortKey, &QFSoundFile::setAscendingSort, [this] { doInputSort(); }},
        {"playable"});
    inputTable->horizontalHeader()->resizeSection(InputListModel::kPlayableColumn, 28);
    inputTable->horizontalHeader()->resizeSection(InputListModel::kFilenameColumn, 220);
    // The property columns as wide as their longest usual value, so that all
    // up to the length fit the window's first size.
    const char* const widest[] = {"999.99 kB", "AIFF-C",       "44100.00 Hz", "2 (stereo)",
                                  "24 bits",   "00:00:00.000", "Regions",     "00:00:00.000"};
    const QFontMetrics text(inputTable->font()), title(inputTable->horizontalHeader()->font());
    for (int column = InputListModel::kFilenameColumn + 1; column < InputListModel::kColumnCount;
         ++column) {
        const QString header = inputModel_->headerData(column, Qt::Horizontal).toString();
        const int width = std::max(text.horizontalAdvance(QString::fromLatin1(widest[column - 2])),
                                   title.horizontalAdvance(header));
        inputTable->horizontalHeader()->resizeSection(column, width + 16);
    }
    ui_->inputFileTableView->verticalHeader()->hide();
    restoreTableLayout(ui_->inputFileTableView, kInputTableName);

    // A stale conversion-table layout goes before the table reads it.
    const plist::Value saved = defaults().GetUserValue(LayoutKey(kConversionTableName));
    if (!saved.isNull() && (!saved.array() || saved.array()->size() < kMinConversionLayoutEntries))
        defaults().Remove(LayoutKey(kConversionTableName));
    conversionList_->attachView(ui_->conversionTableView);
    ui_->conversionTableView->verticalHeader()->hide();
    ui_->conversionTableView->horizontalHeader()->resizeSection(0, 80);
    ui_->conversionTableView->horizontalHeader()->resizeSection(1, 260);
    restoreTableLayout(ui_->conversionTableView, kConversionTableName);
    updateConversionView();

    connect(ui_->startButton, &QPushButton::clicked, this, &MainController::doStart);
    connect(ui_->startAction, &QAction::triggered, this, &MainController::doStart);
    connect(ui_->showLogAction, &QAction::triggered, this, &MainController::showLog);
    connect(ui_->showLastLogAction, &QAction::triggered, this, &MainController::showLastLog);
    connect(ui_->quitAction, &QAction::triggered, this, &MainController::requestQuit);
    // The conversion commands (a double click edits through attachView).
    ConversionListController* list = conversionList_;
    const std::pair<QPushButton*, QAction*> commands[] = {
        {ui_->addConvButton, ui_->addConvAction},
        {ui_->editConvButton, ui_->editConvAction},
        {ui_->duplicateConvButton, ui_->duplicateConvAction},
        {ui_->removeConvButton, ui_->removeConvAction},
        {ui_->markConvButton, ui_->markConvAction},
        {ui_->unmarkConvButton, ui_->unmarkConvAction},
    };
    void (ConversionListController::*const commandSlots[])() = {
        &ConversionListController::addConv,    &ConversionListController::editConv,
        &ConversionListController::duplicateConv, &ConversionListController::removeConv,
        &ConversionListController::markConv,   &ConversionListController::unmarkConv};
    for (size_t i = 0; i < std::size(commands); ++i) {
        connect(commands[i].first, &QPushButton::clicked, list, commandSlots[i]);
        connect(commands[i].second, &QAction::triggered, list, commandSlots[i]);
    }
    connect(ui_->importConvAction, &QAction::triggered, list,
            &ConversionListController::importConversions);
    connect(ui_->deleteAction, &QAction::triggered, this, &MainController::deleteSelection);
    connect(ui_->preferencesAction, &QAction::triggered, this, &MainController::showPrefs);
    // The Edit menu's undo follows the page: the input list or the conversions.
    undoGroup_ = new QUndoGroup(this);
    undoGroup_->addStack(inputUndo_);
    undoGroup_->addStack(list->undoStack());
    QAction* undo = undoGroup_->createUndoAction(window_, Tr("Undo"));
    undo->setObjectName("undoAction");
    undo->setShortcut(QKeySequence::Undo);
    QAction* redo = undoGroup_->createRedoAction(window_, Tr("Redo"));
    redo->setObjectName("redoAction");
    redo->setShortcut(QKeySequence::Redo);
    QAction* first = ui_->editMenu->actions().value(0);
    ui_->editMenu->insertAction(first, undo);
    ui_->editMenu->insertAction(first, redo);
    ui_->editMenu->insertSeparator(first);
    connect(ui_->tabView, &QStackedWidget::currentChanged, this,
            &MainController::validateUserInterfaceItems);
    connect(ui_->addFilesButton, &QPushButton::clicked, this, &MainController::addFile);
    connect(ui_->addFilesAction, &QAction::triggered, this, &MainController::addFile);
    connect(ui_->removeFileButton, &QPushButton::clicked, this, &MainController::removeFile);
    connect(ui_->removeAllButton, &QPushButton::clicked, this, &MainController::removeAll);
    setUpWindowControls();
    updateInputView();
    validateUserInterfaceItems();
}

bool MainController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Close && !terminated_) {
        event->ignore();
        // Leave the close event before the quit sequence runs its own event loop.
        QTimer::singleShot(0, this, &MainController::requestQuit);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void MainController::restoreTableLayout(QTableView* table, const char* name) {
    QHeaderView* header = table->horizontalHeader();
    header->setSectionsMovable(true);
    header->setStretchLastSection(true);
    const plist::Value saved = defaults().GetUserValue(LayoutKey(name));
    if (!saved.array()) return;
    const plist::Array& entries = *saved.array();
    auto* model = table->model();
    int visual = 0;
    for (size_t i = 0; i + 1 < entries.size(); i += 2) {
        const QString id = QString::fromStdString(entries[i].asString());
        for (int logical = 0; logical < model->columnCount(); ++logical) {
            if (model->headerData(logical, Qt::Horizontal, Qt::UserRole).toString() != id) continue;
            header->moveSection(header->visualIndex(logical), visual++);
            const int64_t width = entries[i + 1].asInteger();
            if (width > 0 && width < 10000) header->resizeSection(logical, static_cast<int>(width));
            break;
        }
    }
}

void MainController::saveTableLayout(QTableView* table, const char* name) {
    QHeaderView* header = table->horizontalHeader();
    auto* model = table->model();
    plist::Array entries(2 * static_cast<size_t>(header->count()));
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        const size_t at = 2 * static_cast<size_t>(visual);
        entries[at] =
            model->headerData(logical, Qt::Horizontal, Qt::UserRole).toString().toStdString();
        entries[at + 1] = header->sectionSize(logical);
    }
    defaults().Set(LayoutKey(name), entries);
}

void MainController::saveTableLayouts() {
    if (!ui_) return;
    saveTableLayout(ui_->inputFileTableView, kInputTableName);
    saveTableLayout(ui_->conversionTableView, kConversionTableName);
}

void MainController::updateConversionView() {
    if (!conversionList_) return;
    convSpecs = conversionList_->model()->convSpecs();
    convSpecNames = conversionList_->model()->convSpecNames();
    validateUserInterfaceItems();
}

void MainController::setDestFolder(const std::string& path) {
    destFolder = path;
    if (!path.empty()) defaults().Set(kLastUsedDestinationKey, path);
    updateOutputView();
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

void MainController::asConvert() {
    if (validateStart()) doStart();
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
    if (window_) {
        window_->setWindowOpacity(1.0);
        if (!terminating_) {
            // Back where it was (the desktop would place it anew), on its screen.
            PlaceWindow(window_, window_);
            window_->show();
            window_->raise();
            window_->activateWindow();
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
    // Only the log this batch kept is opened, never an earlier batch's.
    if (!terminating_ && kept && defaults().GetBool("Save Log") && defaults().GetBool("Open Log") &&
        (!defaults().GetBool("Only Open When Errors") || conversionProcess_->err() != 0)) {
        if (!logPath.empty() && QFileInfo::exists(QString::fromStdString(logPath)))
            openLog(QString::fromStdString(logPath));
    }
    emit batchFinished();
}

void MainController::encodeConvSpecs() {
    if (conversionList_)
        conversionList_->encodeConvSpecs();
    else
        defaults().Set(kConversionsDefaultsKey, EncodeConvSpecs(convSpecs));
}

void MainController::openPaths(const QStringList& paths) {
    if (terminating_) return;
    QStringList toAdd;
    for (const QString& path : paths) {
        if (QFileInfo(path).suffix().compare("xwl", Qt::CaseInsensitive) == 0)
            openLog(path);
        else
            toAdd << path;
    }
    if (!toAdd.isEmpty()) setFilesToAdd(toAdd);
}

void MainController::setFilesToAdd(const QStringList& paths) {
    if (terminating_ || paths.isEmpty()) return;
    if (services_.addFiles) {
        services_.addFiles(paths);
        return;
    }
    // A new run waits for the one going on.
    filesToAdd << paths;
    if (!addingFiles) startAddRun();
}

void MainController::addFile() {
    showInput();
    const QStringList paths = services_.chooseFilesToAdd
                                  ? services_.chooseFilesToAdd(window_)
                                  : [this] {
                                        AddFilesDialog dialog(window_);
                                        return dialog.exec() == QDialog::Accepted
                                                   ? dialog.selectedPaths()
                                                   : QStringList();
                                    }();
    if (!paths.isEmpty()) setFilesToAdd(paths);
}

void MainController::startAddRun() {
    const QStringList paths = filesToAdd;
    filesToAdd.clear();
    // Set before the worker starts: a tick never takes a run not yet begun for one ended.
    addingFiles = true;
    addWorker_ = std::make_unique<AddFilesWorker>(paths);
    if (ui_) {
        ui_->fileAddProgressMessageTextField->setText(Tr("Examining input files..."));
        ui_->fileAddProgressIndicator->setRange(0, static_cast<int>(paths.size()));
        ui_->fileAddProgressIndicator->setValue(0);
        ui_->fileAddProgressIndicator->show();
    }
    if (!addTimer_) {
        addTimer_ = new QTimer(this);
        connect(addTimer_, &QTimer::timeout, this, &MainController::updateAddProgress);
    }
    addTimer_->start(300);
    validateUserInterfaceItems();
}

void MainController::updateAddProgress() {
    if (!addWorker_) return;
    if (!addWorker_->done()) {
        if (ui_) {
            ui_->fileAddProgressIndicator->setValue(addWorker_->examined());
            ui_->fileAddProgressMessageTextField->setText(FormatObjects(
                Tr("Examining file %d of %d"),
                {QString::number(addWorker_->examined()), QString::number(addWorker_->total())}));
        }
        return;
    }
    finishAddRun();
}

void MainController::waitForAddRun() {
    if (addWorker_) addWorker_->wait();
}

void MainController::finishAddRun() {
    if (addTimer_) addTimer_->stop();
    addWorker_->wait();
    const InputFileList results = addWorker_->results();
    addWorker_.reset();
    const int action = static_cast<int>(defaults().GetInteger("Unrecognized Input File Action"));
    QStringList rejected, duplicates;
    int added = 0;
    for (const InputFilePtr& entry : results) {
        if (!entry) continue;
        switch (DecideAddition(*entry, action, inputFileNames, inputFiles)) {
            case AddDecision::kRejected:
                rejected << QString::fromStdString(entry->path());
                break;
            case AddDecision::kDuplicate:
                duplicates << QString::fromStdString(entry->path());
                break;
            case AddDecision::kDroppedSilently:
                break;
            case AddDecision::kAdd:
                if (action == 2 && entry->descriptor().empty())
                    entry->setDescriptor(
                        services_.workspace->typeName(QString::fromStdString(entry->path()))
                            .toStdString());
                if (added++ == 0) inputUndo_->beginMacro(Tr("Add File(s)"));
                inputUndo_->push(new InputFileCommand(this, entry, -1, true));
                break;
        }
    }
    if (added) inputUndo_->endMacro();
    addingFiles = false;
    sortingFiles = true;
    doInputSort();
    sortingFiles = false;
    if (ui_) {
        ui_->fileAddProgressMessageTextField->clear();
        ui_->fileAddProgressIndicator->setValue(0);
        ui_->fileAddProgressIndicator->hide();
    }
    updateInputView();
    std::vector<std::pair<QString, QStringList>> groups = std::move(pathsNotAdded_);
    pathsNotAdded_.clear();
    if (!duplicates.isEmpty())
        groups.emplace_back(Tr("The following files have names that are already in the list. "
                               "Please rename them in the Finder, if possible."),
                            duplicates);
    if (!rejected.isEmpty())
        groups.emplace_back(Tr("The following files were not recognized as sound files."),
                            rejected);
    if (!groups.empty()) {
        showAddFilesErrors(groups);
    } else if (added == 0) {
        services_.alerts->run(window_, Tr("No Files Added"),
                              Tr("There were no recognizable sound files among the files you "
                                 "selected, so none were added."));
    }
    emit filesAdded();
    if (!filesToAdd.isEmpty() && !terminating_) startAddRun();
}

void MainController::showAddFilesErrors(
    const std::vector<std::pair<QString, QStringList>>& groups) {
    if (!addErrors_)
        addErrors_ = new AddFilesErrorsController(services_.workspace, services_.dialogs,
                                                  services_.alerts, window_);
    addErrors_->reset();
    for (const auto& [description, paths] : groups) addErrors_->setPaths(paths, description);
    if (!addErrors_->isVisible()) PlaceWindow(addErrors_, window_);
    addErrors_->show();
    addErrors_->raise();
    refreshActions();
}

void MainController::reportPathsNotAdded(
    const std::vector<std::pair<QString, QStringList>>& groups) {
    if (groups.empty() || terminating_) return;
    // The run under way (or queued) reports them with its own findings.
    if (addingFiles || !filesToAdd.isEmpty()) {
        pathsNotAdded_.insert(pathsNotAdded_.end(), groups.begin(), groups.end());
        return;
    }
    showAddFilesErrors(groups);
}

AddFilesErrorsController* MainController::addFilesErrors() const { return addErrors_.data(); }

int MainController::deleteFile(const InputFilePtr& entry) {
    const auto it = std::find(inputFiles.begin(), inputFiles.end(), entry);
    if (it == inputFiles.end()) return -1;
    const int index = static_cast<int>(it - inputFiles.begin());
    inputFiles.erase(it);
    inputFileNames.erase(InputName(*entry));
    if (ownPlayer_) ownPlayer_->setInputFiles(inputFiles);
    updateInputView();
    return index;
}

void MainController::insertFile(const InputFilePtr& entry, int index) {
    const auto at = index < 0 || static_cast<size_t>(index) > inputFiles.size()
                        ? inputFiles.end()
                        : inputFiles.begin() + index;
    inputFiles.insert(at, entry);
    inputFileNames.insert(InputName(*entry));
    if (ownPlayer_) ownPlayer_->setInputFiles(inputFiles);
    updateInputView();
}

void MainController::removeEntries(const InputFileList& entries, const QString& name) {
    if (entries.empty() || addingFiles) return;
    inputUndo_->beginMacro(name);
    for (const InputFilePtr& entry : entries)
        inputUndo_->push(new InputFileCommand(this, entry, -1, false));
    inputUndo_->endMacro();
    if (ui_) ui_->inputFileTableView->clearSelection();
    validateUserInterfaceItems();
}

void MainController::removeFile() {
    if (!ui_) return;
    InputFileList selected;
    for (int row : SelectedRows(ui_->inputFileTableView->selectionModel()))
        if (static_cast<size_t>(row) < inputFiles.size()) selected.push_back(inputFiles[static_cast<size_t>(row)]);
    removeEntries(selected, Tr("Remove File(s)"));
}

void MainController::removeAll() {
    const InputFileList all = inputFiles;  // the commands change the list
    removeEntries(all, Tr("Remove All Files"));
}

void MainController::doInputSort() {
    if (!inputModel_) {
        std::stable_sort(inputFiles.begin(), inputFiles.end(),
                         [](const InputFilePtr& a, const InputFilePtr& b) { return a->compare(*b) < 0; });
        return;
    }
    // The selection follows its entries to their new rows.
    InputFileList selected;
    for (int row : SelectedRows(ui_->inputFileTableView->selectionModel()))
        if (static_cast<size_t>(row) < inputFiles.size()) selected.push_back(inputFiles[static_cast<size_t>(row)]);
    std::stable_sort(inputFiles.begin(), inputFiles.end(),
                     [](const InputFilePtr& a, const InputFilePtr& b) { return a->compare(*b) < 0; });
    inputModel_->reload();
    std::vector<int> rows;
    for (const InputFilePtr& entry : selected) {
        const auto it = std::find(inputFiles.begin(), inputFiles.end(), entry);
        if (it != inputFiles.end()) rows.push_back(static_cast<int>(it - inputFiles.begin()));
    }
    SelectRows(ui_->inputFileTableView->selectionModel(), rows);
}

void MainController::updateInputView() {
    if (inputModel_) inputModel_->reload();
    validateUserInterfaceItems();
}

LogWindow* MainController::openLog(const QString& path) {
    for (LogWindow* w : logWindows()) {
        if (QFileInfo(w->path()) == QFileInfo(path)) {
            w->show();
            w->raise();
            return w;
        }
    }
    auto* w = new LogWindow(path, services_.alerts, services_.dialogs);
    PlaceWindow(w, window_);
    w->show();
    return w;
}

QList<LogWindow*> MainController::logWindows() const {
    QList<LogWindow*> windows;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* log = qobject_cast<LogWindow*>(w); log && log->isVisible())
            windows << log;
    return windows;
}

void MainController::showLog() {
    const QString path = services_.dialogs->openFile(window_, Tr("Show Log"), {"xwl"});
    if (!path.isEmpty()) openLog(path);
}

std::string MainController::lastUsedLogPath() const {
    const plist::Value stored = defaults().Get(kLastUsedLogKey);
    const plist::Value* path = stored.find(QFPath::kStringValueKey);
    return path ? path->asString() : std::string();
}

void MainController::showLastLog() {
    const std::string path = lastUsedLogPath();
    if (!path.empty() && QFPath(path).exists()) {
        openLog(QString::fromStdString(path));
        return;
    }
    const int answer = services_.alerts->run(
        window_, Tr("No log file"),
        Tr("There is no previous log file to show you. A log file will be created and shown "
           "according to the preferences for logging.\n\nWould you like the preference window "
           "opened for you now?"),
        Tr("Open Preferences"), Tr("Cancel"));
    if (answer == 1 && services_.openLoggingPreferences) services_.openLoggingPreferences();
}

bool MainController::applicationShouldTerminate() {
    if (terminated_) return true;
    if (terminating_) return false;  // already waiting for the batch
    terminating_ = true;
    validateStart();
    if (booted_) encodeConvSpecs();
    saveTableLayouts();
    if (conversionProcess_ && conversionProcess_->running()) {
        // The batch thread may wait for this thread: keep events flowing.
        conversionProcess_->setShouldStop(true);
        QElapsedTimer waited;
        waited.start();
        while (conversionProcess_->running() && waited.elapsed() < services_.quitTimeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(2);
        }
        if (conversionProcess_->running()) {
            if (services_.exitWithoutCleanup) services_.exitWithoutCleanup();
            return false;
        }
    }
    if (conversionProcess_) conversionProcess_->waitUntilDone();
    engineDone();
    if (services_.waitForAddFiles) services_.waitForAddFiles();
    waitForAddRun();
    if (services_.playback) services_.playback->stop();
    if (booted_) CSoundFile::Cleanup();
    terminated_ = true;
    return true;
}

void MainController::requestQuit() {
    if (terminating_ && !terminated_) return;
    // An edited log the user keeps open keeps the application running.
    for (LogWindow* w : logWindows())
        if (!w->close()) return;
    if (!applicationShouldTerminate()) return;
    if (window_) window_->hide();
    QCoreApplication::quit();
}

// ---------------------------------------------------------------------------
// The window's controls: enabling, output page, playback, the other windows.

namespace {

// The varispeed slider works in hundredths of the player's 0.25-4 range.
constexpr int kVariSpeedScale = 100;

// Keeps the background filling its parent.
class FillParent : public QObject {
public:
    FillParent(QWidget* child) : QObject(child), child_(child) {
        child->parentWidget()->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Resize) child_->setGeometry(child_->parentWidget()->rect());
        return false;
    }

private:
    QWidget* child_;
};

}  // namespace

Player* MainController::player() const { return ownPlayer_ ? ownPlayer_->player() : nullptr; }

UiState MainController::uiState() const {
    UiState s;
    Player* p = player();
    s.playerExists = p != nullptr;
    s.playerPlaying = (p && p->isPlaying()) || (services_.playback && services_.playback->isPlaying());
    s.playerPlayingFolder = p && p->isPlayingFolder();
    s.inputCount = static_cast<int>(inputFiles.size());
    if (ui_) {
        if (auto* model = ui_->inputFileTableView->selectionModel())
            s.selectedInputs = static_cast<int>(SelectedRows(model).size());
        s.page = static_cast<WindowPage>(std::clamp(ui_->tabView->currentIndex(), 0, 2));
    }
    if (conversionList_ && conversionList_->selectionModel())
        s.selectedConversions = static_cast<int>(SelectedRows(conversionList_->selectionModel()).size());
    s.addingFiles = addingFiles;
    s.sortingFiles = sortingFiles;
    // A batch runs from its start until its log is finished.
    s.driverRunning = (conversionProcess_ && conversionProcess_->running()) || logger_ != nullptr;
    for (const auto& conv : convSpecs)
        s.activeValidConversion = s.activeValidConversion || (conv->active() && conv->valid());
    s.outputFolderExists = IsFolder(destFolder);
    s.addFilesErrorWindowExists = !addErrors_.isNull();
    return s;
}

void MainController::refreshActions() {
    if (!ui_) {
        validateStart();
        return;
    }
    const UiState state = uiState();
    for (const auto& [action, rule] : actionRules_) action->setEnabled(IsActionEnabled(rule, state));
    for (const auto& [button, rule] : buttonRules_) button->setEnabled(IsActionEnabled(rule, state));
    // The input list changes only through the add run while one goes on.
    if (addingFiles) {
        ui_->removeFileButton->setEnabled(false);
        ui_->removeAllButton->setEnabled(false);
        ui_->removeAllAction->setEnabled(false);
        if (state.page == WindowPage::input) ui_->deleteAction->setEnabled(false);
    }
    validateStart();
}

void MainController::setUpWindowControls() {
    Ui::MainWindow& ui = *ui_;
    // The background: the program's image, faint, behind everything.
    background_ = new BackgroundImageView(ui.centralWidget);
    background_->setObjectName("bgImage");
    background_->setImage(ProgramImage("backgroundcorva"));
    background_->setGeometry(ui.centralWidget->rect());
    background_->lower();
    new FillParent(background_);
    // The pages with a table cover it whole: no slice of it shows between the
    // table and the buttons.
    for (QWidget* page : {ui.inputPage, ui.conversionsPage}) page->setAutoFillBackground(true);

    // The output page.
    ui.fileDropView->setAcceptsDirectories(true);
    ui.fileDropView->setOnlyNotifyOnDrop(true);
    ui.fileDropView->setWorkspace(services_.workspace);
    connect(ui.fileDropView, &FileDropView::fileDropped, this,
            [this](FileDropView* view) { setDestFolder(view->filename().toStdString()); });
    for (QLabel* icon : {ui.destFolderIcon, ui.destVolumeIcon}) icon->setFixedSize(32, 32);
    outputPage_ = std::make_unique<OutputPage>(
        OutputPageWidgets{ui.destFolderIcon, ui.outputFolderTextField, ui.destVolumeIcon,
                          ui.volumeTextField, ui.outputFolderButton, ui.showInFinderButton},
        *services_.workspace);
    connect(ui.outputFolderButton, &QPushButton::clicked, this, &MainController::chooseFolder);
    connect(ui.showInFinderButton, &QPushButton::clicked, this, &MainController::showDestInFinder);

    // Playback.
    connect(ui.playFileButton, &QPushButton::clicked, this, [this] {
        if (player() && player()->isPlaying())
            stopFile();
        else
            playFile();
    });
    connect(ui.playPrevButton, &QPushButton::clicked, this, &MainController::playPreviousFromInputList);
    connect(ui.playNextButton, &QPushButton::clicked, this, &MainController::playNextFromInputList);
    connect(ui.inputFileTableView, &QTableView::doubleClicked, this, &MainController::playFile);
    ui.variSpeedSlider->setRange(25, 400);
    connect(ui.variSpeedSlider, &QSlider::valueChanged, this, &MainController::doVariSpeed);
    connect(ui.variSpeedTextField, &QLineEdit::editingFinished, this, [this] {
        bool ok = false;
        const double value = ui_->variSpeedTextField->text().toDouble(&ok);
        if (ok) ui_->variSpeedSlider->setValue(static_cast<int>(value * kVariSpeedScale + 0.5));
        ui_->variSpeedTextField->setText(
            QString::number(ui_->variSpeedSlider->value() / double(kVariSpeedScale), 'f', 2));
    });
    showPlayButton(false);
    playerView_ = new PlayerView(ui.inputPage);
    playerView_->setPlayStopButton(ui.playFileButton);
    playerView_->hide();
    ui.inputPage->installEventFilter(playerView_);
    for (QWidget* w : ui.inputPage->findChildren<QWidget*>()) w->installEventFilter(playerView_);
    for (const char* name : {XWPlayerStartNotification, XWPlayerStopNotification,
                             XWPlayerPauseNotification}) {
        const bool start = name == XWPlayerStartNotification;
        observers_.push_back(platform::NotificationCenter::Default().AddObserver(
            name, nullptr, [this, start](const platform::Notification&) {
                start ? soundPlayStart() : soundPlayStop();
            }));
    }

    // The menu commands.
    const std::pair<QAction*, void (MainController::*)()> commands[] = {
        {ui.chooseFolderAction, &MainController::chooseFolder},
        {ui.showDestInFinderAction, &MainController::showDestInFinder},
        {ui.emptyOutputFolderAction, &MainController::emptyOutputFolder},
        {ui.showLastFileAddingErrorsAction, &MainController::showLastFileAddingErrors},
        {ui.removeAllAction, &MainController::removeAll},
        {ui.unrecognizedFileHandlingAction, &MainController::unrecognizedFileHandling},
        {ui.customSampleRatesAction, &MainController::doCustomSampleRates},
        {ui.playFileAction, &MainController::playFile},
        {ui.stopFileAction, &MainController::stopFile},
        {ui.playPreviousFromInputListAction, &MainController::playPreviousFromInputList},
        {ui.playNextFromInputListAction, &MainController::playNextFromInputList},
        {ui.playPreviousFromFolderAction, &MainController::playPreviousFromFolder},
        {ui.playNextFromFolderAction, &MainController::playNextFromFolder},
        {ui.resetVariSpeedAction, &MainController::resetVariSpeed},
        {ui.showInputAction, &MainController::showInput},
        {ui.showConversionsAction, &MainController::showConversions},
        {ui.showOutputAction, &MainController::showOutput},
        {ui.showManualAction, &MainController::showManual},
        {ui.showSupportedFiletypesAction, &MainController::showSupportedFiletypes},
        {ui.showLicenseAction, &MainController::showLicense},
        {ui.goToWebSiteAction, &MainController::goToWebSite},
        {ui.checkForUpdatesAction, &MainController::checkForUpdates},
        {ui.showAboutPanelAction, &MainController::showAboutPanel},
    };
    for (const auto& [action, slot] : commands) connect(action, &QAction::triggered, this, slot);

    actionRules_ = {
        {ui.playFileAction, UiAction::playFile},
        {ui.stopFileAction, UiAction::stopFile},
        {ui.playPreviousFromFolderAction, UiAction::playPreviousFromFolder},
        {ui.playNextFromFolderAction, UiAction::playNextFromFolder},
        {ui.playPreviousFromInputListAction, UiAction::playPreviousFromInputList},
        {ui.playNextFromInputListAction, UiAction::playNextFromInputList},
        {ui.editConvAction, UiAction::editConv},
        {ui.markConvAction, UiAction::markConv},
        {ui.unmarkConvAction, UiAction::unmarkConv},
        {ui.duplicateConvAction, UiAction::duplicateConv},
        {ui.removeConvAction, UiAction::removeConv},
        {ui.deleteAction, UiAction::deleteSelection},
        {ui.removeAllAction, UiAction::removeAll},
        {ui.showLastFileAddingErrorsAction, UiAction::showLastFileAddingErrors},
        {ui.showDestInFinderAction, UiAction::showDestInFinder},
        {ui.emptyOutputFolderAction, UiAction::emptyOutputFolder},
    };
    buttonRules_ = {
        {ui.playPrevButton, UiAction::playPreviousFromInputList},
        {ui.playNextButton, UiAction::playNextFromInputList},
        {ui.editConvButton, UiAction::editConv},
        {ui.markConvButton, UiAction::markConv},
        {ui.unmarkConvButton, UiAction::unmarkConv},
        {ui.duplicateConvButton, UiAction::duplicateConv},
        {ui.removeConvButton, UiAction::removeConv},
        {ui.removeFileButton, UiAction::removeFile},
        {ui.removeAllButton, UiAction::removeAll},
        {ui.showInFinderButton, UiAction::showDestInFinder},
    };
    for (QMenu* menu : ui.menubar->findChildren<QMenu*>())
        connect(menu, &QMenu::aboutToShow, this, &MainController::refreshActions);
    updateOutputView();
}

void MainController::updateOutputView() {
    if (outputPage_) outputPage_->update(destFolder);
    refreshActions();
}

void MainController::chooseFolder() {
    showOutput();
    const QString folder =
        services_.dialogs->chooseFolder(window_, Tr("Please choose a folder for output files:"));
    if (!folder.isEmpty()) setDestFolder(folder.toStdString());
}

void MainController::showDestInFinder() {
    if (IsFolder(destFolder)) services_.workspace->open(QString::fromStdString(destFolder));
}

void MainController::emptyOutputFolder() {
    // The command may arrive through its key while the rule says no.
    if (!IsActionEnabled(UiAction::emptyOutputFolder, uiState())) return;
    RunEmptyOutputFolder(*services_.alerts, window_, destFolder);
    updateOutputView();
}

void MainController::showPlayButton(bool playing) {
    if (!ui_) return;
    const QPixmap image = ProgramImage(playing ? "stop" : "play");
    if (image.isNull()) {
        ui_->playFileButton->setText(playing ? QStringLiteral("■") : QStringLiteral("▶"));
    } else {
        ui_->playFileButton->setText(QString());
        ui_->playFileButton->setIcon(QIcon(image));
    }
    ui_->playFileButton->setToolTip(playing ? Tr("Stop") : Tr("Play"));
}

void MainController::runPlayerCommand(const std::function<void(Player&)>& command) {
    Player* p = player();
    if (!p) return;
    try {
        command(*p);
    } catch (const std::exception& e) {
        // A file that cannot be played: said in an alert, the buttons back at rest.
        services_.alerts->run(window_, Tr("Error"), QString::fromUtf8(e.what()));
        soundPlayStop();
        return;
    }
    if (inputModel_) inputModel_->refreshPlaying();
    refreshActions();
}

void MainController::playFile() {
    if (!ownPlayer_ || inputFiles.empty()) return;
    const double speed = ui_ ? ui_->variSpeedSlider->value() / double(kVariSpeedScale) : 1.0;
    Player* p = ownPlayer_->ensurePlayer(inputFiles, static_cast<float>(speed),
                                         defaults().GetBool("Auto Play Next"),
                                         defaults().GetBool("Blip At End"));
    if (!p) return;
    std::shared_ptr<QFSoundFile> selected;
    if (ui_ && ui_->inputFileTableView->selectionModel()) {
        const auto rows = SelectedRows(ui_->inputFileTableView->selectionModel());
        if (!rows.empty() && static_cast<size_t>(rows.front()) < inputFiles.size())
            selected = inputFiles[static_cast<size_t>(rows.front())];
    }
    runPlayerCommand([selected](Player& player) {
        if (selected) player.setFileFromList(selected);
        player.start();
    });
    if (player() && player()->isPlaying()) showPlayButton(true);
}

void MainController::stopFile() {
    runPlayerCommand([](Player& player) { player.pause(); });
    showPlayButton(false);
}

void MainController::playNextFromFolder() {
    runPlayerCommand([](Player& p) { p.doNextFromFolder(); });
}
void MainController::playPreviousFromFolder() {
    runPlayerCommand([](Player& p) { p.doPreviousFromFolder(); });
}
void MainController::playNextFromInputList() {
    runPlayerCommand([](Player& p) { p.doNextFromInputList(); });
}
void MainController::playPreviousFromInputList() {
    runPlayerCommand([](Player& p) { p.doPreviousFromInputList(); });
}

void MainController::soundPlayStart() {
    Player* p = player();
    if (!ui_ || !p) return;
    const auto& playing = p->playingFile();
    ui_->folderPlayTextField->setText(
        FormatObjects(Tr("Playing: %@"), {playing ? QString::fromStdString(playing->path()) : QString()}));
    showPlayButton(true);
    if (inputModel_) inputModel_->refreshPlaying();
    if (auto index = p->curFileIndex())
        ui_->inputFileTableView->scrollTo(inputModel_->index(static_cast<int>(*index), 0));
    refreshActions();
}

void MainController::soundPlayStop() {
    if (!ui_) return;
    ui_->folderPlayTextField->clear();
    showPlayButton(false);
    if (inputModel_) inputModel_->refreshPlaying();
    refreshActions();
}

void MainController::doVariSpeed(int hundredths) {
    const double value = hundredths / double(kVariSpeedScale);
    if (ui_) ui_->variSpeedTextField->setText(QString::number(value, 'f', 2));
    if (Player* p = player()) p->setVarispeed(static_cast<float>(value));
    rememberVarispeed(value);
}

void MainController::resetVariSpeed() {
    if (ui_) {
        const QSignalBlocker quiet(ui_->variSpeedSlider);
        ui_->variSpeedSlider->setValue(kVariSpeedScale);
        ui_->variSpeedTextField->setText(QString::number(1.0, 'f', 2));
    }
    if (Player* p = player()) p->setVarispeed(1.0f);
    rememberVarispeed(1.0);
}

void MainController::rememberVarispeed(double value) {
    defaults().Set("Varispeed", value);
    defaults().Save();
}

void MainController::doCustomSampleRates() {
    if (!customSRController_)
        customSRController_ = new CustomSRController(window_, defaults(),
                                                     platform::NotificationCenter::Default());
    PlaceWindow(customSRController_, window_);
    customSRController_->show();
    customSRController_->exec();
}

void MainController::showLastFileAddingErrors() {
    if (!addErrors_) return;
    if (!addErrors_->isVisible()) PlaceWindow(addErrors_, window_);
    addErrors_->show();
    addErrors_->raise();
}

void MainController::showAboutPanel() {
    CustomWindow about(QString::fromStdString(services_.version),
                       static_cast<quint64>(std::max<int64_t>(0, defaults().GetInteger("Number of Files Ever Converted"))),
                       window_);
    aboutPanel_ = &about;
    about.exec();
    aboutPanel_ = nullptr;
}

void MainController::showManual() {
    services_.workspace->open(QString::fromStdString(platform::ResourcePath("xwq_manualv5.pdf")));
}

void MainController::showLicense() {
    services_.workspace->open(QString::fromStdString(platform::ResourcePath("License.txt")));
}

void MainController::showSupportedFiletypes() { services_.workspace->openAddress(SupportedTypesAddress()); }

void MainController::goToWebSite() { services_.workspace->openAddress(WebSiteAddress()); }

void MainController::checkForUpdates() {
    if (!updateCheck_) {
        UpdateCheck::Options options;
        options.runningVersion = QString::fromStdString(services_.version);
        updateCheck_ = new UpdateCheck(*services_.alerts, *services_.workspace, options, this);
    }
    updateCheck_->start(window_);
}
