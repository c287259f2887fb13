// The main controller: owner of the main window and of the application's model
// state (input list, conversions, output folder, the batch driver). It boots the
// model, sets the window up from the user defaults, answers the script command
// and open-files requests, opens logs, and quits safely: a running batch is
// stopped and waited for before the type tables go.
#pragma once

#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/action_enabling.h"
#include "conversion/startup.h"
#include "platform/notification_center.h"

class Alerts;
class ConvSpec;
class ConversionListController;
class DefineConvController;
class Player;
class PlayerControl;
class PreferenceController;
class ProgressController;
class NamedSoundPlayer;
class QTimer;
class QUndoGroup;
class QUndoStack;
class AddFilesWorker;
class AddFilesErrorsController;
class BackgroundImageView;
class CustomSRController;
class OutputPage;
class PlayerView;
class UpdateCheck;
class InputListModel;
class TableSorter;
class ConversionProcess;
class FileDialogs;
class LogWindow;
class Logger;
class QFSoundFile;

class QTableView;
class Workspace;
namespace platform {
class UserDefaults;
}
namespace Ui {
class MainWindow;
}

// Posted by the application object when the script command "Convert" arrives.
extern const char* const XWConvertScriptCommandReceived;

// What the controller needs of the player (the player connects here).
class PlaybackControl {
public:
    virtual ~PlaybackControl() = default;
    virtual bool isPlaying() const = 0;
    virtual void stop() = 0;
};

struct MainServices {
    platform::UserDefaults* defaults = nullptr;  // null: the standard store
    Alerts* alerts = nullptr;                    // required
    FileDialogs* dialogs = nullptr;              // required
    Workspace* workspace = nullptr;              // required
    PlaybackControl* playback = nullptr;         // null: the window's own player
    BootOptions boot;                            // .defaults is taken from above
    // Opens the preferences at their logging page (the "No log file" alert);
    // none: the controller's own preferences window.
    std::function<void()> openLoggingPreferences;
    // Receives paths to add to the input list; none: the controller's own add run.
    std::function<void(const QStringList&)> addFiles;
    // Asks for files and folders to add; none: the add-files dialog.
    std::function<QStringList(QWidget* parent)> chooseFilesToAdd;
    // The error (errno) that reading the first byte of a file not recognised
    // meets, 0 when it reads; none: the file is read.
    std::function<int(const QString& path)> readError;
    // Waits for a running add-files worker (at quit).
    std::function<void()> waitForAddFiles;
    // Runs the Define Conversion dialog, already filled, modally and answers its
    // result (1 stores the edited conversion). None: exec().
    std::function<int(DefineConvController& dialog)> runDefineConversion;
    // How long quitting waits for a running batch before it gives up.
    int quitTimeoutMs = 30000;
    // Ends the process when that wait times out, without freeing the tables.
    std::function<void()> exitWithoutCleanup;
    // Plays one of the program's sounds ("Toeter", "Pieieng"); none: the
    // playback layer's sound player.
    std::function<void(const std::string& name)> playSound;
    // The version written into logs.
    std::string version = "4.0.0";
};

class MainController : public QObject {
    Q_OBJECT
public:
    explicit MainController(MainServices services, QObject* parent = nullptr);
    ~MainController() override;

    // The start-up sequence: the model (defaults, type table, region settings,
    // registration, mp3 probe, conversions), the output folder, the batch
    // driver, the observers; the "Too Old" alert when the mp3 encoder is too
    // old. False when the model could not start (no type table).
    bool init();
    // Loads the main window and sets it up from the state and the defaults.
    void awakeFromNib();
    QMainWindow* window() const { return window_; }
    Ui::MainWindow* ui() const { return ui_.get(); }

    // The model state.
    std::vector<std::shared_ptr<QFSoundFile>> inputFiles;
    std::vector<std::shared_ptr<ConvSpec>> convSpecs;
    std::set<std::string> convSpecNames;
    // The last path component of every input entry (unique in the list).
    std::set<std::string> inputFileNames;
    std::string destFolder;  // empty: none
    bool addingFiles = false;
    bool sortingFiles = false;
    QStringList filesToAdd;
    ConversionProcess& conversionProcess() const { return *conversionProcess_; }
    const BootResult& boot() const { return boot_; }
    platform::UserDefaults& defaults() const;

    // The conversion list (its model, undo stack and commands).
    ConversionListController* conversionList() const { return conversionList_; }
    // The Define Conversion dialog, made on first use and reused.
    DefineConvController& defineConversionDialog();
    // Opens the dialog on `conversion`, refusing `takenNames`; its result.
    int editConversion(const std::shared_ptr<ConvSpec>& conversion,
                       const std::set<std::string>& takenNames);
    // The preferences window, made on first use; null before.
    PreferenceController* preferences() const;
    // The input list: its undo stack, the entries' removal and insertion (with
    // the names and the player kept in step), the table refresh.
    QUndoStack* inputUndoStack() const { return inputUndo_; }
    int deleteFile(const std::shared_ptr<QFSoundFile>& entry);
    void insertFile(const std::shared_ptr<QFSoundFile>& entry, int index);
    void updateInputView();
    // Sorts the list by the input table's sort, keeping the selected entries selected.
    void doInputSort();
    // Waits for the add run's worker.
    void waitForAddRun();
    // The window of paths not added (null before the first).
    AddFilesErrorsController* addFilesErrors() const;
    // The progress window, made at the first batch.
    ProgressController& progressController();
    ProgressController* progressWindow() const;
    // The window's own player (null when the services bring one).
    PlayerControl* playerControl() const { return ownPlayer_.get(); }

    // Stores the output folder (written back when not empty).
    void setDestFolder(const std::string& path);
    // True when a batch may start: nothing plays, no files are being added or
    // sorted, the driver is idle, there are inputs, a conversion is active and
    // valid, and the output folder exists; also applied to the start button.
    bool validateStart();
    // Why a batch may not start now (the rule validateStart applies); none when
    // it may.
    StartRefusal startRefusal() const;
    bool isTerminating() const { return terminating_; }
    // The number of files the last batch started over (its inputs walked).
    uint32_t batchFileCount() const { return batchFileCount_; }

    // Saves the conversions to the user defaults.
    void encodeConvSpecs();
    // Saves both tables' column layouts.
    void saveTableLayouts();

    // The state the enabling rule reads.
    UiState uiState() const;
    // The update check, made on first use.
    UpdateCheck* updateCheck() const { return updateCheck_; }
    // The about box while it runs; null otherwise.
    QWidget* aboutPanel() const { return aboutPanel_; }

    // The log windows open now.
    QList<LogWindow*> logWindows() const;

public slots:
    // The script command: starts a batch when a start is allowed.
    void asConvert();
    // Starts a batch over the inputs with the active valid conversions when a
    // start is allowed.
    bool doStart();
    // The checks before a batch (nesting of input and output folders, the
    // conversions' folders, the dither table), each refusal an alert, then the
    // launch; true when the batch started.
    bool convert();
    // An open-files request: ".xwl" files open as logs, the rest are added.
    // Refused while quitting.
    void openPaths(const QStringList& paths);
    // Paths of a request that were not taken, grouped (reason, paths): shown in
    // the add-files error window, with the report of the add run when one is
    // under way (its report then lists them first).
    void reportPathsNotAdded(const std::vector<std::pair<QString, QStringList>>& groups);
    void setFilesToAdd(const QStringList& paths);
    // Asks for files and folders and adds them.
    void addFile();
    void removeFile();
    void removeAll();
    // Opens a log file in a window; the window.
    LogWindow* openLog(const QString& path);
    void showLog();
    void showLastLog();
    // The quit sequence: saves the conversions, stops and waits for a running
    // batch (processing events), waits for the add-files worker, stops the
    // player, then frees the type tables. True when the tables were freed.
    bool applicationShouldTerminate();
    // Quits the application through applicationShouldTerminate.
    void requestQuit();
    // The tab pages.
    void showInput();
    void showConversions();
    void showOutput();
    // Delete: removes the selected conversions on the conversions page.
    void deleteSelection();
    // The preferences window, made on first use, shown; at its input page for
    // the handling of unrecognised files; at its logging page.
    void showPrefs();
    void unrecognizedFileHandling();
    void showLoggingPreferences();
    // The enabling rule of the menus and buttons of the conversion list and the
    // start command.
    void validateUserInterfaceItems();
    // The enabling rule applied to every menu item and button, over the
    // state now; run after each change of state and before a menu opens.
    void refreshActions();
    // The output page: folder, volume, icons and key equivalents.
    void updateOutputView();
    // The output folder's commands.
    void chooseFolder();
    void showDestInFinder();
    void emptyOutputFolder();
    // Playback: the player is made on the first play; a start that fails is
    // shown in an alert and leaves the buttons idle.
    void playFile();
    void stopFile();
    void playNextFromFolder();
    void playPreviousFromFolder();
    void playNextFromInputList();
    void playPreviousFromInputList();
    // The varispeed slider (hundredths, 25-400) and its reset; both remembered.
    void doVariSpeed(int hundredths);
    void resetVariSpeed();
    // The other windows and the Help menu.
    void doCustomSampleRates();
    void showLastFileAddingErrors();
    void showAboutPanel();
    void showManual();
    void showSupportedFiletypes();
    void showLicense();
    void goToWebSite();
    void checkForUpdates();
    // Cancel in the progress window: the batch is told to stop.
    void handleUserCancelled();
    // One step of the main window's fade while a batch runs.
    void handleWindowFade();

signals:
    // A batch was started.
    void batchStarted();
    // A batch ended and its log was finished.
    void batchFinished();
    // An add run ended (its report shown).
    void filesAdded();

private:
    void observe(const char* name, const void* sender, void (MainController::*handler)());
    void restoreTableLayout(QTableView* table, const char* name);
    void saveTableLayout(QTableView* table, const char* name);
    void updateConversionView();
    void setUpConversionList();
    void selectPage(int page);
    void followPlayerSetting(const platform::Notification& note);
    void setUpWindowControls();
    // Connects every menu item and button to its command and fills the tables
    // of the enabling rule they follow.
    void connectCommands();
    void setUpOutputPage();
    void setUpPlaybackControls();
    // The log fed from the batch driver's reports (on the batch thread).
    void observeBatchDriver();
    // The player's notifications: a file started, stopped or paused.
    void soundPlayStart();
    void soundPlayStop();
    // Runs a player command; a failure is shown and the buttons go idle.
    void runPlayerCommand(const std::function<void(Player&)>& command);
    // The play button shows stop while `playing`, else play, and follows the
    // enabling rule of the command it now gives (stopFile or playFile).
    void showPlayButton(bool playing);
    void rememberVarispeed(double value);
    Player* player() const;
    void startAddRun();
    void updateAddProgress();
    void finishAddRun();
    void removeEntries(const std::vector<std::shared_ptr<QFSoundFile>>& entries, const QString& name);
    // Shows the error window with `groups` (reason, paths) after emptying it.
    void showAddFilesErrors(const std::vector<std::pair<QString, QStringList>>& groups);
    void engineDone();
    // The path stored under "Last Used Log"; empty when none.
    std::string lastUsedLogPath() const;
    bool eventFilter(QObject* watched, QEvent* event) override;

    MainServices services_;
    BootResult boot_;
    std::unique_ptr<ConversionProcess> conversionProcess_;
    std::unique_ptr<Logger> logger_;
    std::unique_ptr<Ui::MainWindow> ui_;
    QPointer<QMainWindow> window_;
    InputListModel* inputModel_ = nullptr;
    TableSorter* inputSorter_ = nullptr;
    QUndoStack* inputUndo_ = nullptr;
    QUndoGroup* undoGroup_ = nullptr;
    std::unique_ptr<AddFilesWorker> addWorker_;
    QTimer* addTimer_ = nullptr;
    QPointer<AddFilesErrorsController> addErrors_;
    // Paths refused before the add run under way, for its report.
    std::vector<std::pair<QString, QStringList>> pathsNotAdded_;
    ConversionListController* conversionList_ = nullptr;
    std::unique_ptr<DefineConvController> defineConv_;
    QPointer<PreferenceController> prefCtrl_;
    std::unique_ptr<PlayerControl> ownPlayer_;
    QPointer<ProgressController> progressCtrl_;
    std::unique_ptr<NamedSoundPlayer> sounds_;
    QTimer* fadeTimer_ = nullptr;
    double windowAlpha_ = 1.0;
    bool shouldStartFade_ = false;
    std::vector<platform::NotificationCenter::Token> observers_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool terminating_ = false;
    bool terminated_ = false;
    bool booted_ = false;
    uint32_t batchFileCount_ = 0;
    std::unique_ptr<OutputPage> outputPage_;
    BackgroundImageView* background_ = nullptr;
    PlayerView* playerView_ = nullptr;
    QPointer<CustomSRController> customSRController_;
    UpdateCheck* updateCheck_ = nullptr;
    QPointer<QWidget> aboutPanel_;
    // The menu items and buttons with a rule of their own.
    std::vector<std::pair<QAction*, UiAction>> actionRules_;
    std::vector<std::pair<QWidget*, UiAction>> buttonRules_;
};
