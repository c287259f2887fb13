// Corvane: starts the application, or hands the files named on the command line
// to the instance already running.
#include <unistd.h>

#include <QDBusConnection>
#include <QFileInfo>
#include <cstdio>
#include <memory>

#include "app/corvane_app.h"
#include "app/main_controller.h"
#include "app/desktop_services.h"
#include "platform/user_defaults.h"

int main(int argc, char** argv) {
    CorvaneApp app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    QStringList files = app.arguments().mid(1);

    QtAlerts alerts;
    QtFileDialogs dialogs;
    QtWorkspace workspace;
    MainServices services;
    services.alerts = &alerts;
    services.dialogs = &dialogs;
    services.workspace = &workspace;
    services.version = CORVANE_VERSION;
    services.exitWithoutCleanup = [] {
        std::fputs("corvane: the batch did not stop in time; quitting without cleanup\n", stderr);
        std::fflush(nullptr);
        ::_exit(0);
    };
    auto controller = std::make_unique<MainController>(services);
    ScriptService script(&app, controller.get());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (RegisterScriptService(&script, bus) == ScriptRegistration::kTakenByAnother) {
        if (HandOverToRunningInstance(files, bus)) return 0;
    }

    if (!controller->init()) {
        static_cast<Alerts&>(alerts).run(nullptr, Tr("Error"),
                   Tr("Corvane could not find its resources (SoundFileProperties)."));
        return 1;
    }
    controller->awakeFromNib();
    controller->window()->show();
    if (!files.isEmpty()) controller->openPaths(files);
    const int status = app.exec();
    controller->applicationShouldTerminate();
    bus.unregisterService(kApplicationId);
    return status;
}
