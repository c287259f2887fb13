// Corvane: starts the application, or hands the files named on the command line
// to the instance already running.
#include <sys/socket.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QFileInfo>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <memory>

#include "app/corvane_app.h"
#include "app/main_controller.h"
#include "app/desktop_services.h"
#include "app/window_placement.h"
#include "platform/user_defaults.h"

namespace {

// SIGTERM and SIGINT quit through the quit sequence: the handler only writes a
// byte that the interface thread reads.
int gSignalPipe[2] = {-1, -1};

void OnQuitSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[0], &byte, 1);
}

void QuitOnSignals(MainController* controller) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(gSignalPipe[1], QSocketNotifier::Read, controller);
    QObject::connect(notifier, &QSocketNotifier::activated, controller, [controller] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(gSignalPipe[1], &byte, 1);
        controller->requestQuit();
    });
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace

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
        QString refused;
        if (HandOverToRunningInstance(files, bus, kApplicationId, &refused)) {
            if (refused.isEmpty()) return 0;
            std::fprintf(stderr, "corvane: not added:\n%s\n", qPrintable(refused));
            return 1;
        }
    }

    if (!controller->init()) {
        static_cast<Alerts&>(alerts).run(nullptr, Tr("Error"),
                   Tr("Corvane could not find its resources (SoundFileProperties)."));
        return 1;
    }
    controller->awakeFromNib();
    QuitOnSignals(controller.get());
    // Its size cut to the screen; where it opens is the desktop's choice.
    FitSizeToScreen(controller->window());
    controller->window()->show();
    if (!files.isEmpty()) controller->openPaths(files);
    const int status = app.exec();
    controller->applicationShouldTerminate();
    bus.unregisterService(kApplicationId);
    return status;
}
