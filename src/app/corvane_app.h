// The application object and the script command. The script command reaches the
// application through the session D-Bus: the service "org.corvane.Corvane" at
// the path "/org/corvane/Corvane" offers Convert() (start a batch when one may
// start) and Open(paths) (an open-files request: logs open, the rest is added to
// the input list). A second start hands its files to the running instance.
#pragma once

#include <QApplication>
#include <QDBusConnection>
#include <QObject>
#include <QStringList>

class MainController;

// The application's id: the D-Bus service and interface, the desktop file's name.
inline constexpr char kApplicationId[] = "org.corvane.Corvane";
inline constexpr char kScriptObjectPath[] = "/org/corvane/Corvane";

class CorvaneApp : public QApplication {
    Q_OBJECT
public:
    CorvaneApp(int& argc, char** argv);

    // Posts "XWConvertScriptCommandReceived" with the application as sender.
    void handleXWConvertScriptCommand();
};

// The object exported on the bus; its slots are the interface's methods.
class ScriptService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.corvane.Corvane")
public:
    ScriptService(CorvaneApp* app, MainController* controller, QObject* parent = nullptr);

public slots:
    Q_SCRIPTABLE void Convert();
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

// Hands the paths to the instance that owns `serviceName`; false when none answers.
bool HandOverToRunningInstance(const QStringList& paths, QDBusConnection bus,
                               const QString& serviceName = kApplicationId);
