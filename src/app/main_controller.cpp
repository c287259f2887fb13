// The main controller's start-up, window set-up, pages, table layouts, logs
// and quitting. Its other seams have files of their own:
// main_controller_{commands,script,batch,add_files,output,playback}.cpp.
#include "app/main_controller.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QThread>
#include <QTimer>
#include <QUndoGroup>
#include <QUndoStack>

#include "app/conversion_list_controller.h"
#include "app/custom_sample_rates_window.h"
#include "app/define_conversion_dialog.h"
#include "app/desktop_services.h"
#include "app/file_cell.h"
#include "app/input_list.h"
#include "app/log_window.h"
#include "app/logger.h"
#include "app/main_controller_parts.h"
#include "app/main_window_views.h"
#include "app/output_page.h"
#include "app/player_control.h"
#include "app/preference_controller.h"
#include "app/progress_controller.h"
#include "app/table_sorting.h"
#include "app/update_check.h"
#include "app/window_placement.h"
#include "conversion/conv_spec.h"
#include "conversion/qf_sound_file.h"
#include "engine/conversion_process.h"
#include "playback/named_sound.h"
#include "playback/player.h"
#include "platform/resource_dir.h"
#include "platform/user_defaults.h"
#include "soundfile/sound_file.h"
#include "ui_main_window.h"

using controller_parts::IsFolder;
using controller_parts::kLastUsedDestinationKey;

const char* const XWConvertScriptCommandReceived = "XWConvertScriptCommandReceived";

namespace {

const char* const kLastUsedLogKey = "Last Used Log";
const char* const kInputTableName = "inputFileTable";
const char* const kConversionTableName = "conversionTable";
// A saved layout holds an identifier and a width per column; one of fewer
// entries than the conversion table's three columns need is stale.
constexpr size_t kMinConversionLayoutEntries = 6;

std::string LayoutKey(const char* tableName) {
    return std::string("NSTableView Columns ") + tableName;
}

bool OnInterfaceThread() {
    return QCoreApplication::instance() &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

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
    observeBatchDriver();

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
            const auto row = ownPlayer_ ? ownPlayer_->currentRow(inputFiles) : std::nullopt;
            if (!row) return {-1, false};
            return {static_cast<int>(*row), ownPlayer_->isPlaying()};
        },
        this);
    // Every change of the list ends in a reload; a sort changes only the order,
    // so the player takes the list from here too.
    connect(inputModel_, &QAbstractItemModel::modelReset, this, [this] {
        if (ownPlayer_) ownPlayer_->setInputFiles(inputFiles);
    });
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

    // The Edit menu's undo follows the page: the input list or the conversions.
    undoGroup_ = new QUndoGroup(this);
    undoGroup_->addStack(inputUndo_);
    undoGroup_->addStack(conversionList_->undoStack());
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

void MainController::encodeConvSpecs() {
    if (conversionList_)
        conversionList_->encodeConvSpecs();
    else
        defaults().Set(kConversionsDefaultsKey, EncodeConvSpecs(convSpecs));
}

LogWindow* MainController::openLog(const QString& path) {
    for (LogWindow* w : logWindows()) {
        if (QFileInfo(w->path()) == QFileInfo(path)) {
            w->present();
            return w;
        }
    }
    auto* w = new LogWindow(path, services_.alerts, services_.dialogs);
    PlaceWindow(w, window_);
    w->present();
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
// The window's controls and the other windows.

namespace {

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

    setUpOutputPage();
    setUpPlaybackControls();

    connectCommands();
    updateOutputView();
}

void MainController::doCustomSampleRates() {
    if (!customSRController_)
        customSRController_ = new CustomSRController(window_, defaults(),
                                                     platform::NotificationCenter::Default());
    PlaceWindow(customSRController_, window_);
    customSRController_->show();
    customSRController_->exec();
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
