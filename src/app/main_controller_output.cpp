// The main controller's output page: its drop target, the output folder
// chosen, shown and emptied, and the page kept in step with the folder.
#include "app/main_controller.h"

#include <QLabel>
#include <QPushButton>

#include "app/desktop_services.h"
#include "app/main_controller_parts.h"
#include "app/main_window_views.h"
#include "app/output_page.h"
#include "platform/user_defaults.h"
#include "ui_main_window.h"

using controller_parts::IsFolder;
using controller_parts::kLastUsedDestinationKey;

void MainController::setUpOutputPage() {
    Ui::MainWindow& ui = *ui_;
    ui.fileDropView->setAcceptsDirectories(true);
    ui.fileDropView->setOnlyNotifyOnDrop(true);
    ui.fileDropView->setWorkspace(services_.workspace);
    connect(ui.fileDropView, &FileDropView::fileDropped, this,
            [this](FileDropView* view) { setDestFolder(view->filename().toStdString()); });
    for (QLabel* icon : {ui.destFolderIcon, ui.destVolumeIcon}) icon->setFixedSize(32, 32);
    outputPage_ = std::make_unique<OutputPage>(
        OutputPageWidgets{ui.destFolderIcon, ui.outputFolderTextField, ui.destVolumeIcon,
                          ui.volumeTextField, ui.outputFolderButton, ui.showInFinderButton},
        *services_.workspace);
}

void MainController::setDestFolder(const std::string& path) {
    destFolder = path;
    if (!path.empty()) defaults().Set(kLastUsedDestinationKey, path);
    updateOutputView();
}

void MainController::updateOutputView() {
    if (outputPage_) outputPage_->update(destFolder);
    refreshActions();
}

void MainController::chooseFolder() {
    showOutput();
    const QString folder =
        services_.dialogs->chooseFolder(window_, Tr("Please choose a folder for output files:"));
    if (!folder.isEmpty()) setDestFolder(folder.toStdString());
}

void MainController::showDestInFinder() {
    if (!IsFolder(destFolder)) return;
    const QString folder = QString::fromStdString(destFolder);
    if (!services_.workspace->open(folder)) AlertFolderNotShown(*services_.alerts, window_, folder);
}

void MainController::emptyOutputFolder() {
    // The command may arrive through its key while the rule says no.
    if (!IsActionEnabled(UiAction::emptyOutputFolder, uiState())) return;
    RunEmptyOutputFolder(*services_.alerts, window_, destFolder);
    updateOutputView();
}
