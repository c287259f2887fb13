// Writes a PNG of every window in each named state, for looking at the interface
// without a display: ui_snapshots [folder] (default: ./ui_snapshots). Runs
// offscreen with a home of its own; windows of later parts add their rows.
#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdio>
#include <functional>

#include "app/list_and_preferences_snapshots.h"
#include "app/log_window.h"
#include "app_test_support.h"
#include "ui_main_window.h"

namespace {

struct Snapshot {
    const char* name;
    // Returns the window to grab; `controller` is booted with its main window.
    std::function<QWidget*(MainController& controller)> show;
};

QWidget* MainPage(MainController& c, QPushButton* tab) {
    tab->click();
    return c.window();
}

}  // namespace

int main(int argc, char** argv) {
    testsupport::TempDir home;
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("CORVANE_AUDIO_OUTPUT", "null", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString(argv[1]) : QString("ui_snapshots");
    QDir().mkpath(folder);

    platform::UserDefaults defaults(home / "prefs.plist");
    apptest::ScriptedAlerts alerts;
    apptest::ScriptedDialogs dialogs;
    apptest::ScriptedWorkspace workspace;
    MainServices services;
    services.defaults = &defaults;
    services.alerts = &alerts;
    services.dialogs = &dialogs;
    services.workspace = &workspace;
    services.boot.probeMp3Encoder = false;
    MainController controller(services);
    if (!controller.init()) {
        std::fprintf(stderr, "ui_snapshots: no resources (set CORVANE_RESOURCE_DIR)\n");
        return 1;
    }
    controller.awakeFromNib();
    controller.window()->resize(900, 600);
    controller.window()->show();

    const std::string log = home / "CorvaLog-20261205-193401.xwl";
    testsupport::WriteFile(log,
                           "Corvane 4.0.0 Log File\n2026-12-05 19:34:01 +0000\n"
                           " a file.wav\n*broken.wav                       Disk full\n");
    const Snapshot snapshots[] = {
        {"main-input", [](MainController& c) { return MainPage(c, c.ui()->inputTabButton); }},
        {"main-conversions",
         [](MainController& c) { return MainPage(c, c.ui()->conversionsTabButton); }},
        {"main-output", [](MainController& c) { return MainPage(c, c.ui()->outputTabButton); }},
        {"log", [&log](MainController& c) -> QWidget* { return c.openLog(QString::fromStdString(log)); }},
    };
    int failures = 0;
    for (const Snapshot& s : snapshots) {
        QWidget* w = s.show(controller);
        QApplication::processEvents();
        const QString path = folder + "/" + s.name + ".png";
        if (!w || !w->grab().save(path)) {
            std::fprintf(stderr, "ui_snapshots: could not write %s\n", qPrintable(path));
            ++failures;
        } else {
            std::printf("%s\n", qPrintable(path));
        }
    }
    for (LogWindow* w : controller.logWindows()) w->close();
    // The conversion table and both preference pages.
    const QStringList written = WriteListAndPreferencesSnapshots(folder, defaults);
    for (const QString& path : written) std::printf("%s\n", qPrintable(path));
    if (written.size() < 3) ++failures;
    return failures ? 1 : 0;
}
