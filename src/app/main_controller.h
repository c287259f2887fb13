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

#include "conversion/startup.h"
#include "platform/notification_center.h"

class Alerts;
class ConvSpec;
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
    PlaybackControl* playback = nullptr;         // none until the player exists
    BootOptions boot;                            // .defaults is taken from above
    // Opens the preferences at their logging page (the "No log file" alert).
    std::function<void()> openLoggingPreferences;
    // Receives paths to add to the input list (the add-files worker).
    std::function<void(const QStringList&)> addFiles;
    // Waits for a running add-files worker (at quit).
    std::function<void()> waitForAddFiles;
    // Opens the Define Conversion dialog on a conversion: a new one (isNew) or
    // one of the list. None: the conversion commands do nothing.
    std::function<void(std::shared_ptr<ConvSpec> conversion, bool isNew)> editConversion;
    // How long quitting waits for a running batch before it gives up.
    int quitTimeoutMs = 30000;
    // Ends the process when that wait times out, without freeing the tables.
    std::function<void()> exitWithoutCleanup;
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
    std::string destFolder;  // empty: none
    bool addingFiles = false;
    bool sortingFiles = false;
    QStringList filesToAdd;
    ConversionProcess& conversionProcess() const { return *conversionProcess_; }
    const BootResult& boot() const { return boot_; }
    platform::UserDefaults& defaults() const;

    // Stores the output folder (written back when not empty).
    void setDestFolder(const std::string& path);
    // True when a batch may start: nothing plays, no files are being added or
    // sorted, the driver is idle, there are inputs, a conversion is active and
    // valid, and the output folder exists; also applied to the start button.
    bool validateStart();
    bool isTerminating() const { return terminating_; }

    // Saves the conversions to the user defaults.
    void encodeConvSpecs();
    // Saves both tables' column layouts.
    void saveTableLayouts();

    // The log windows open now.
    QList<LogWindow*> logWindows() const;

public slots:
    // The script command: starts a batch when a start is allowed.
    void asConvert();
    // Starts a batch over the inputs with the active valid conversions.
    bool doStart();
    // An open-files request: ".xwl" files open as logs, the rest are added.
    // Refused while quitting.
    void openPaths(const QStringList& paths);
    void setFilesToAdd(const QStringList& paths);
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

signals:
    // A batch was started.
    void batchStarted();
    // A batch ended and its log was finished.
    void batchFinished();

private:
    void observe(const char* name, const void* sender, void (MainController::*handler)());
    void restoreTableLayout(QTableView* table, const char* name);
    void saveTableLayout(QTableView* table, const char* name);
    void updateConversionView();
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
    QStandardItemModel* inputModel_ = nullptr;
    QStandardItemModel* conversionModel_ = nullptr;
    std::vector<platform::NotificationCenter::Token> observers_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool terminating_ = false;
    bool terminated_ = false;
    bool booted_ = false;
};
