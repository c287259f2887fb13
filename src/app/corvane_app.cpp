#include "app/corvane_app.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>

#include "app/main_controller.h"
#include "platform/notification_center.h"

CorvaneApp::CorvaneApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName("Corvane");
    setOrganizationName("Corvane");
    setDesktopFileName(kApplicationId);
}

void CorvaneApp::handleXWConvertScriptCommand() {
    platform::NotificationCenter::Default().Post(XWConvertScriptCommandReceived, this);
}

ScriptService::ScriptService(CorvaneApp* app, MainController* controller, QObject* parent)
    : QObject(parent), app_(app), controller_(controller) {}

void ScriptService::Convert() {
    if (controller_->isTerminating()) return;
    if (app_)
        app_->handleXWConvertScriptCommand();
    else
        platform::NotificationCenter::Default().Post(XWConvertScriptCommandReceived, this);
}

void ScriptService::Open(const QStringList& paths) {
    QStringList absolute;
    for (const QString& p : paths) absolute << QFileInfo(p).absoluteFilePath();
    controller_->openPaths(absolute);
}

ScriptRegistration RegisterScriptService(ScriptService* service, QDBusConnection bus,
                                         const QString& serviceName) {
    if (!bus.isConnected()) return ScriptRegistration::kNoBus;
    QDBusConnectionInterface* daemon = bus.interface();
    if (daemon && daemon->isServiceRegistered(serviceName)) return ScriptRegistration::kTakenByAnother;
    if (!bus.registerObject(kScriptObjectPath, service, QDBusConnection::ExportScriptableSlots))
        return ScriptRegistration::kNoBus;
    if (!bus.registerService(serviceName)) {
        bus.unregisterObject(kScriptObjectPath);
        return daemon && daemon->isServiceRegistered(serviceName)
                   ? ScriptRegistration::kTakenByAnother
                   : ScriptRegistration::kNoBus;
    }
    return ScriptRegistration::kRegistered;
}

bool HandOverToRunningInstance(const QStringList& paths, QDBusConnection bus,
                               const QString& serviceName) {
    if (!bus.isConnected()) return false;
    QStringList absolute;
    for (const QString& p : paths) absolute << QFileInfo(p).absoluteFilePath();
    QDBusMessage call =
        QDBusMessage::createMethodCall(serviceName, kScriptObjectPath, kApplicationId, "Open");
    call << absolute;
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage;
}
