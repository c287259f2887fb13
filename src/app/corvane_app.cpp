#include "app/corvane_app.h"

#include <sys/stat.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <cerrno>
#include <cstring>

#include "app/desktop_services.h"
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

ScriptError ConvertRefusalError(StartRefusal refusal) {
    switch (refusal) {
        case StartRefusal::none:
            break;
        case StartRefusal::quitting:
            return {kBusyError, Tr("Corvane is quitting")};
        case StartRefusal::batchRunning:
            return {kBusyError, Tr("A batch is running")};
        case StartRefusal::filePlaying:
            return {kBusyError, Tr("A file is playing")};
        case StartRefusal::addingFiles:
            return {kBusyError, Tr("Files are being added")};
        case StartRefusal::noInputs:
            return {kNoInputsError, Tr("There are no input files")};
        case StartRefusal::noConversion:
            return {kNoConversionError, Tr("No active valid conversion")};
        case StartRefusal::noOutputFolder:
            return {kNoOutputFolderError, Tr("No output folder is set")};
    }
    return {};
}

QStringList OpenPathCheck::refusedPaths() const {
    QStringList all;
    for (const auto& group : refused) all << group.second;
    return all;
}

OpenPathCheck CheckOpenPaths(const QStringList& paths) {
    OpenPathCheck check;
    auto refuse = [&check](const QString& reason, const QString& path) {
        for (auto& group : check.refused) {
            if (group.first != reason) continue;
            group.second << path;
            return;
        }
        check.refused.emplace_back(reason, QStringList{path});
    };
    for (const QString& path : paths) {
        // The caller's working folder is not known here: only full paths name a file.
        if (!QDir::isAbsolutePath(path)) {
            refuse(Tr("The following paths are not full paths (starting with \"/\"), so they "
                      "were not added."),
                   path);
            continue;
        }
        struct stat st;
        const int error = ::stat(QFile::encodeName(path).constData(), &st) == 0 ? 0 : errno;
        if (error == 0) {
            check.usable << path;
        } else if (error == ENOENT || error == ENOTDIR) {
            refuse(Tr("The following files or folders do not exist."), path);
        } else {
            refuse(FormatObjects(Tr("The following files or folders could not be examined: %@."),
                                 {QString::fromLocal8Bit(std::strerror(error))}),
                   path);
        }
    }
    return check;
}

void ScriptService::Convert() {
    const StartRefusal refusal = controller_->startRefusal();
    if (refusal != StartRefusal::none) {
        if (calledFromDBus()) {
            const ScriptError error = ConvertRefusalError(refusal);
            sendErrorReply(error.name, error.message);
        }
        return;
    }
    // The reply leaves now; the start and its folder checks (which may ask the
    // user) run after it, as a click on Start would.
    QTimer::singleShot(0, this, [this] {
        if (app_)
            app_->handleXWConvertScriptCommand();
        else
            platform::NotificationCenter::Default().Post(XWConvertScriptCommandReceived, this);
    });
}

void ScriptService::Open(const QStringList& paths) {
    if (controller_->isTerminating()) {
        if (calledFromDBus()) sendErrorReply(kBusyError, Tr("Corvane is quitting"));
        return;
    }
    const OpenPathCheck check = CheckOpenPaths(paths);
    controller_->openPaths(check.usable);
    controller_->reportPathsNotAdded(check.refused);
    if (!check.refused.empty() && calledFromDBus())
        sendErrorReply(kBadPathsError, check.refusedPaths().join('\n'));
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
                               const QString& serviceName, QString* refused) {
    if (!bus.isConnected()) return false;
    QStringList absolute;
    for (const QString& p : paths) absolute << QFileInfo(p).absoluteFilePath();
    QDBusMessage call =
        QDBusMessage::createMethodCall(serviceName, kScriptObjectPath, kApplicationId, "Open");
    call << absolute;
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    // The running instance took what it could and lists the rest itself.
    if (reply.type() == QDBusMessage::ErrorMessage && reply.errorName() == kBadPathsError) {
        if (refused) *refused = reply.errorMessage();
        return true;
    }
    return reply.type() == QDBusMessage::ReplyMessage;
}
