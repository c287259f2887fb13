// Writes a PNG of every window in each named state, for looking at the interface
// without a display: ui_snapshots [folder] (default: ./ui_snapshots). Runs
// offscreen with a home of its own; windows of later parts add their rows.
#include <QApplication>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMessageBox>
#include <QTableView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/add_files_dialog.h"
#include "app/file_info_panel.h"
#include "conversion/qf_sound_file.h"
#include "app/input_list.h"
#include "app/list_and_preferences_snapshots.h"
#include "app/progress_controller.h"
#include "engine/conversion_process.h"
#include "ui_progress_window.h"
#include "app/custom_sample_rates_window.h"
#include "app/define_conversion_dialog.h"
#include "app/log_window.h"
#include "conversion/conv_spec.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"
#include "app/main_window_views.h"
#include "app_test_support.h"
#include "ui_main_window.h"

namespace {

struct Snapshot {
    const char* name;
    // Returns the window to grab; `controller` is booted with its main window.
    std::function<QWidget*(MainController& controller)> show;
};

// The desktop's icons, so that the input table shows them.
struct IconWorkspace : apptest::ScriptedWorkspace {
    QIcon icon(const QString& path) override { return QFileIconProvider().icon(QFileInfo(path)); }
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
    IconWorkspace workspace;
    MainServices services;
    services.defaults = &defaults;
    services.alerts = &alerts;
    services.dialogs = &dialogs;
    services.workspace = &workspace;
    services.boot.probeMp3Encoder = false;
    // Three inputs made here, added through the controller's own add run.
    const std::string inputs = home / "inputs";
    std::filesystem::create_directories(inputs + "/folder");
    apptest::WriteWave(inputs + "/first.wav", 8000);
    apptest::WriteWave(inputs + "/second.wav", 16000, 16000);
    apptest::WriteWave(inputs + "/folder/third.wav", 800);
    const std::string longName =
        inputs + "/interview with the harbour master, second session, unedited.wav";
    apptest::WriteWave(longName, 4000);
    testsupport::WriteFile(inputs + "/readme.txt", "not a sound");
    MainController controller(services);
    if (!controller.init()) {
        std::fprintf(stderr, "ui_snapshots: no resources (set CORVANE_RESOURCE_DIR)\n");
        return 1;
    }
    controller.awakeFromNib();
    controller.window()->show();
    const std::string out = home / "out";
    std::filesystem::create_directories(out);
    controller.setDestFolder("");
    QApplication::processEvents();
    // The window before anything is added.
    int failures = 0;
    auto save = [&folder, &failures](QWidget* w, const char* name) {
        QApplication::processEvents();
        const QString path = folder + "/" + name + ".png";
        if (!w || !w->grab().save(path)) {
            std::fprintf(stderr, "ui_snapshots: could not write %s\n", qPrintable(path));
            ++failures;
        } else {
            std::printf("%s\n", qPrintable(path));
        }
    };
    save(controller.window(), "main-empty");
    bool added = false;
    QObject::connect(&controller, &MainController::filesAdded, [&added] { added = true; });
    controller.setFilesToAdd(
        {QString::fromStdString(inputs + "/first.wav"),
         QString::fromStdString(inputs + "/second.wav"), QString::fromStdString(inputs + "/folder"),
         QString::fromStdString(longName), QString::fromStdString(inputs + "/readme.txt")});
    apptest::PumpUntil([&added] { return added; });

    const std::string log = home / "CorvaLog-20261205-193401.xwl";
    testsupport::WriteFile(log,
                           "Corvane 4.0.0 Log File\n2026-12-05 19:34:01 +0000\n"
                           " a file.wav\n*broken.wav                       Disk full\n");
    const Snapshot snapshots[] = {
        {"main-input", [](MainController& c) { return MainPage(c, c.ui()->inputTabButton); }},
        {"main-conversions",
         [](MainController& c) { return MainPage(c, c.ui()->conversionsTabButton); }},
        {"main-output-undefined",
         [](MainController& c) { return MainPage(c, c.ui()->outputTabButton); }},
        {"main-output-folder",
         [&out](MainController& c) {
             c.setDestFolder(out);
             return MainPage(c, c.ui()->outputTabButton);
         }},
        {"main-output-root",
         [](MainController& c) {
             c.setDestFolder("/");
             return MainPage(c, c.ui()->outputTabButton);
         }},
        {"main-playing",
         [](MainController& c) {
             MainPage(c, c.ui()->inputTabButton);
             c.ui()->inputFileTableView->selectRow(1);
             c.playFile();
             return c.window();
         }},
        {"about",
         [](MainController& c) -> QWidget* {
             auto* about = new CustomWindow("4.0.0", 1234, c.window());
             about->setAttribute(Qt::WA_DeleteOnClose);
             about->show();
             return about;
         }},
        {"custom-sample-rates",
         [&defaults](MainController& c) -> QWidget* {
             auto* w = new CustomSRController(c.window(), defaults,
                                              platform::NotificationCenter::Default());
             w->setAttribute(Qt::WA_DeleteOnClose);
             w->show();
             return w;
         }},
        {"define-conversion",
         [](MainController& c) -> QWidget* {
             if (c.convSpecs.empty()) return nullptr;
             DefineConvController& d = c.defineConversionDialog();
             d.setNames(c.convSpecNames);
             d.setConvSpec(c.convSpecs.front());
             d.show();
             return &d;
         }},
        {"define-conversion-rate",
         [](MainController& c) -> QWidget* {
             if (c.convSpecs.empty()) return nullptr;
             auto copy = std::make_shared<ConvSpec>(*c.convSpecs.front());
             copy->setNeedsSampleRateConversion(true);
             copy->setSampleRate(22050);
             DefineConvController& d = c.defineConversionDialog();
             d.setConvSpec(copy);
             d.show();
             return &d;
         }},
        {"define-conversion-fixed-rates",
         [](MainController& c) -> QWidget* {
             auto spec = std::make_shared<ConvSpec>();
             spec->setOutputFileType(FourCC("MPG1"));
             spec->setNeedsStrictFileType(true);
             spec->setNeedsSampleRateConversion(true);
             spec->setSampleRate(32000);
             spec->setNeedsNewWordLength(true);
             spec->setWordLength(128);
             spec->setConversionName("MPEG Layer I");
             DefineConvController& d = c.defineConversionDialog();
             d.setConvSpec(spec);
             d.show();
             return &d;
         }},
        {"alert-new-version",
         [](MainController& c) -> QWidget* {
             auto* box = new QMessageBox(c.window());
             box->setAttribute(Qt::WA_DeleteOnClose);
             box->setText("New version found");
             box->setInformativeText(
                 "There is a newer version of Corvane: 4.1.0. You are running version 4.0.0. "
                 "Would you like to download the new version?");
             box->addButton("Download Now", QMessageBox::AcceptRole);
             box->addButton("Cancel", QMessageBox::RejectRole);
             box->show();
             return box;
         }},
        {"log", [&log](MainController& c) -> QWidget* { return c.openLog(QString::fromStdString(log)); }},
        {"add-files-errors",
         [](MainController& c) -> QWidget* { return c.addFilesErrors(); }},
        {"add-files-dialog",
         [&inputs](MainController& c) -> QWidget* {
             auto* d = new AddFilesDialog(c.window(), QString::fromStdString(inputs));
             d->setAttribute(Qt::WA_DeleteOnClose);
             d->selectPath(QString::fromStdString(inputs + "/second.wav"));
             d->show();
             return d;
         }},
        {"progress-with-warnings",
         [](MainController& c) -> QWidget* {
             ProgressController& p = c.progressController();
             p.startPolling(3, 1);
             p.handleConversionStartDo();
             p.ui()->conversionTextField->setText("Conversion 1 of 1: 'AIFF 16 bit'");
             p.ui()->inputFileTextField->setText("Input File 2 of 3: 'second.wav'");
             p.ui()->stepTextField->setText("Step: Converting");
             p.ui()->conversionBar->setValue(50);
             p.ui()->inputFileBar->setValue(40);
             p.ui()->warningTextField->setText("Warnings: 2");
             p.ui()->warningsToggle->setChecked(true);
             p.ui()->warningTextView->setPlainText(
                 "first.wav: the region \"intro\" was renamed\nsecond.wav: 3 samples clipped");
             return &p;
         }},
    };
    for (const Snapshot& s : snapshots) save(s.show(controller), s.name);
    // The file-info panel alone, after each change of its appearance.
    {
        SoundFileInfoTextView view;
        SoundFileInfoViewController panel(&view);
        view.resize(340, 330);
        view.show();
        panel.setList({QFSoundFile::soundFileWithPath(inputs + "/second.wav")});
        save(&view, "file-info-panel");
        view.changeFont(QFont("DejaVu Serif", 10));
        save(&view, "file-info-panel-font");
        panel.setLabelColor(QColor(20, 40, 140));
        save(&view, "file-info-panel-label-color");
        panel.setTextColor(QColor(30, 100, 40));
        save(&view, "file-info-panel-text-color");
        panel.setBackgroundColor(QColor(250, 246, 220));
        save(&view, "file-info-panel-background-color");
    }
    // The mp3 encoder's options sheet, over a dialog of its own whose sheet
    // runner takes the picture.
    {
        DefineConvServices sheetServices;
        sheetServices.defaults = &defaults;
        sheetServices.alerts = &alerts;
        sheetServices.genreList = [] {
            return std::map<std::string, int>{{"Blues", 0},  {"Classic Rock", 1}, {"Country", 2},
                                              {"Dance", 3},  {"Jazz", 8},         {"Rock", 17}};
        };
        sheetServices.sheetRunner = [&save](QDialog& sheet) {
            sheet.show();
            save(&sheet, "mp3-options");
            return 0;
        };
        DefineConvController dialog(CSoundFile::GetFileTypeInfo(), controller.window(),
                                    sheetServices);
        auto spec = std::make_shared<ConvSpec>();
        spec->setOutputFileType(FourCC("DMP3"));
        spec->setNeedsStrictFileType(true);
        spec->setSampleRate(44100);
        spec->setConversionName("mp3 128 kbit/s");
        dialog.setConvSpec(spec);
        dialog.doOptionsButton();
    }
    controller.stopFile();
    controller.defineConversionDialog().hide();
    for (LogWindow* w : controller.logWindows()) w->close();
    // The conversion table and both preference pages.
    const QStringList written = WriteListAndPreferencesSnapshots(folder, defaults);
    for (const QString& path : written) std::printf("%s\n", qPrintable(path));
    if (written.size() < 3) ++failures;
    return failures ? 1 : 0;
}
