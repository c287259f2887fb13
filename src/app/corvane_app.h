// The application object and the script command. The script command reaches the
// application through the session D-Bus: the service "org.corvane.Corvane" at
// the path "/org/corvane/Corvane" offers Convert() (start a batch when one may
// start) and Open(paths) (an open-files request: logs open, the rest is added to
// the input list). Each answers an error when it does not do what it was asked.
// A second start hands its files to the running instance.
#pragma once

#include <QApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QStringList>
#include <vector>

#include "app/action_enabling.h"

class MainController;

// The application's id: the D-Bus service and interface, the desktop file's name.
inline constexpr char kApplicationId[] = "org.corvane.Corvane";
inline constexpr char kScriptObjectPath[] = "/org/corvane/Corvane";

// The errors of the script command.
inline constexpr char kBusyError[] = "org.corvane.Corvane.Error.Busy";
inline constexpr char kNoInputsError[] = "org.corvane.Corvane.Error.NoInputs";
inline constexpr char kNoConversionError[] = "org.corvane.Corvane.Error.NoConversion";
inline constexpr char kNoOutputFolderError[] = "org.corvane.Corvane.Error.NoOutputFolder";
inline constexpr char kBadPathsError[] = "org.corvane.Corvane.Error.BadPaths";

// The error name and message Convert answers for a refused start.
struct ScriptError {
    QString name, message;
};
ScriptError ConvertRefusalError(StartRefusal refusal);

// The paths of an Open request sorted: `usable` are absolute paths of files or
// folders that exist; the others are refused, grouped by reason (relative,
// missing, or not examinable, the last with the system's reason), each group
// in the order of the request.
struct OpenPathCheck {
    QStringList usable;
    std::vector<std::pair<QString, QStringList>> refused;  // reason, paths
    QStringList refusedPaths() const;
};
OpenPathCheck CheckOpenPaths(const QStringList& paths);

class CorvaneApp : public QApplication {
    Q_OBJECT
public:
    CorvaneApp(int& argc, char** argv);

    // Posts "XWConvertScriptCommandReceived" with the application as sender.
    void handleXWConvertScriptCommand();
};

// The object exported on the bus; its slots are the interface's methods.
class ScriptService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.corvane.Corvane")
public:
    ScriptService(CorvaneApp* app, MainController* controller, QObject* parent = nullptr);

public slots:
    // Starts a batch when one may start: the reply comes at once and the start
    // (with its folder checks and their alerts) follows. A refused start does
    // nothing and answers Busy, NoInputs, NoConversion or NoOutputFolder.
    Q_SCRIPTABLE void Convert();
    // Opens logs and adds the rest, as an open-files request does. Paths that
    // are relative, missing or cannot be examined are not taken: they are
    // listed in the add-files error window and answered with BadPaths (one a
    // line); the others are still taken.
    Q_SCRIPTABLE void Open(const QStringList& paths);

private:
    CorvaneApp* app_;
    MainController* controller_;
};

enum class ScriptRegistration { kRegistered, kNoBus, kTakenByAnother };

// Exports the service on `bus` under `serviceName`. Without a bus nothing is
// exported and nothing is reported: the application runs without its script
// command.
ScriptRegistration RegisterScriptService(ScriptService* service, QDBusConnection bus,
                                         const QString& serviceName = kApplicationId);

// Hands the paths (made absolute here) to the instance that owns `serviceName`;
// false when none answers. The paths it refused, one a line, go to `refused`.
bool HandOverToRunningInstance(const QStringList& paths, QDBusConnection bus,
                               const QString& serviceName = kApplicationId,
                               QString* refused = nullptr);
