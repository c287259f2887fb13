// The main controller's commands: every menu item and button connected to what
// it does, the table of the enabling rule each one follows, and that rule
// applied over the state now.
#include "app/main_controller.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableView>
#include <algorithm>

#include "app/conversion_list_controller.h"
#include "app/main_controller_parts.h"
#include "app/table_sorting.h"
#include "conversion/conv_spec.h"
#include "engine/conversion_process.h"
#include "playback/player.h"
#include "ui_main_window.h"

using controller_parts::IsFolder;

void MainController::connectCommands() {
    Ui::MainWindow& ui = *ui_;
    // The menu items of the controller's own commands.
    connect(ui.startAction, &QAction::triggered, this, &MainController::doStart);
    const std::pair<QAction*, void (MainController::*)()> actions[] = {
        {ui.showLogAction, &MainController::showLog},
        {ui.showLastLogAction, &MainController::showLastLog},
        {ui.quitAction, &MainController::requestQuit},
        {ui.deleteAction, &MainController::deleteSelection},
        {ui.preferencesAction, &MainController::showPrefs},
        {ui.addFilesAction, &MainController::addFile},
        {ui.chooseFolderAction, &MainController::chooseFolder},
        {ui.showDestInFinderAction, &MainController::showDestInFinder},
        {ui.emptyOutputFolderAction, &MainController::emptyOutputFolder},
        {ui.showLastFileAddingErrorsAction, &MainController::showLastFileAddingErrors},
        {ui.removeAllAction, &MainController::removeAll},
        {ui.unrecognizedFileHandlingAction, &MainController::unrecognizedFileHandling},
        {ui.customSampleRatesAction, &MainController::doCustomSampleRates},
        {ui.playFileAction, &MainController::playFile},
        {ui.stopFileAction, &MainController::stopFile},
        {ui.playPreviousFromInputListAction, &MainController::playPreviousFromInputList},
        {ui.playNextFromInputListAction, &MainController::playNextFromInputList},
        {ui.playPreviousFromFolderAction, &MainController::playPreviousFromFolder},
        {ui.playNextFromFolderAction, &MainController::playNextFromFolder},
        {ui.resetVariSpeedAction, &MainController::resetVariSpeed},
        {ui.showInputAction, &MainController::showInput},
        {ui.showConversionsAction, &MainController::showConversions},
        {ui.showOutputAction, &MainController::showOutput},
        {ui.showManualAction, &MainController::showManual},
        {ui.showSupportedFiletypesAction, &MainController::showSupportedFiletypes},
        {ui.showLicenseAction, &MainController::showLicense},
        {ui.goToWebSiteAction, &MainController::goToWebSite},
        {ui.checkForUpdatesAction, &MainController::checkForUpdates},
        {ui.showAboutPanelAction, &MainController::showAboutPanel},
    };
    for (const auto& [action, slot] : actions) connect(action, &QAction::triggered, this, slot);

    // The buttons of the controller's own commands, the page tabs among them.
    connect(ui.startButton, &QPushButton::clicked, this, &MainController::doStart);
    const std::pair<QPushButton*, void (MainController::*)()> buttons[] = {
        {ui.inputTabButton, &MainController::showInput},
        {ui.conversionsTabButton, &MainController::showConversions},
        {ui.outputTabButton, &MainController::showOutput},
        {ui.addFilesButton, &MainController::addFile},
        {ui.removeFileButton, &MainController::removeFile},
        {ui.removeAllButton, &MainController::removeAll},
        {ui.playPrevButton, &MainController::playPreviousFromInputList},
        {ui.playNextButton, &MainController::playNextFromInputList},
        {ui.outputFolderButton, &MainController::chooseFolder},
        {ui.showInFinderButton, &MainController::showDestInFinder},
    };
    for (const auto& [button, slot] : buttons) connect(button, &QPushButton::clicked, this, slot);
    // One button plays, and stops what plays.
    connect(ui.playFileButton, &QPushButton::clicked, this, [this] {
        if (player() && player()->isPlaying())
            stopFile();
        else
            playFile();
    });

    // The conversion commands, each a button and a menu item (a double click
    // edits through attachView).
    ConversionListController* list = conversionList_;
    const std::pair<QPushButton*, QAction*> conversionCommands[] = {
        {ui.addConvButton, ui.addConvAction},
        {ui.editConvButton, ui.editConvAction},
        {ui.duplicateConvButton, ui.duplicateConvAction},
        {ui.removeConvButton, ui.removeConvAction},
        {ui.markConvButton, ui.markConvAction},
        {ui.unmarkConvButton, ui.unmarkConvAction},
    };
    void (ConversionListController::*const conversionSlots[])() = {
        &ConversionListController::addConv,    &ConversionListController::editConv,
        &ConversionListController::duplicateConv, &ConversionListController::removeConv,
        &ConversionListController::markConv,   &ConversionListController::unmarkConv};
    for (size_t i = 0; i < std::size(conversionCommands); ++i) {
        connect(conversionCommands[i].first, &QPushButton::clicked, list, conversionSlots[i]);
        connect(conversionCommands[i].second, &QAction::triggered, list, conversionSlots[i]);
    }
    connect(ui.importConvAction, &QAction::triggered, list,
            &ConversionListController::importConversions);

    // The rule each menu item and button follows; the start command follows
    // validateStart.
    actionRules_ = {
        {ui.playFileAction, UiAction::playFile},
        {ui.stopFileAction, UiAction::stopFile},
        {ui.playPreviousFromFolderAction, UiAction::playPreviousFromFolder},
        {ui.playNextFromFolderAction, UiAction::playNextFromFolder},
        {ui.playPreviousFromInputListAction, UiAction::playPreviousFromInputList},
        {ui.playNextFromInputListAction, UiAction::playNextFromInputList},
        {ui.editConvAction, UiAction::editConv},
        {ui.markConvAction, UiAction::markConv},
        {ui.unmarkConvAction, UiAction::unmarkConv},
        {ui.duplicateConvAction, UiAction::duplicateConv},
        {ui.removeConvAction, UiAction::removeConv},
        {ui.deleteAction, UiAction::deleteSelection},
        {ui.removeAllAction, UiAction::removeAll},
        {ui.showLastFileAddingErrorsAction, UiAction::showLastFileAddingErrors},
        {ui.showDestInFinderAction, UiAction::showDestInFinder},
        {ui.emptyOutputFolderAction, UiAction::emptyOutputFolder},
    };
    buttonRules_ = {
        // The play button's rule follows what it shows (showPlayButton).
        {ui.playFileButton, UiAction::playFile},
        {ui.playPrevButton, UiAction::playPreviousFromInputList},
        {ui.playNextButton, UiAction::playNextFromInputList},
        {ui.editConvButton, UiAction::editConv},
        {ui.markConvButton, UiAction::markConv},
        {ui.unmarkConvButton, UiAction::unmarkConv},
        {ui.duplicateConvButton, UiAction::duplicateConv},
        {ui.removeConvButton, UiAction::removeConv},
        {ui.removeFileButton, UiAction::removeFile},
        {ui.removeAllButton, UiAction::removeAll},
        {ui.showInFinderButton, UiAction::showDestInFinder},
    };
    for (QMenu* menu : ui.menubar->findChildren<QMenu*>())
        connect(menu, &QMenu::aboutToShow, this, &MainController::refreshActions);
}

UiState MainController::uiState() const {
    UiState s;
    Player* p = player();
    s.playerExists = p != nullptr;
    s.playerPlaying = (p && p->isPlaying()) || (services_.playback && services_.playback->isPlaying());
    s.playerPlayingFolder = p && p->isPlayingFolder();
    s.inputCount = static_cast<int>(inputFiles.size());
    if (ui_) {
        if (auto* model = ui_->inputFileTableView->selectionModel())
            s.selectedInputs = static_cast<int>(SelectedRows(model).size());
        s.page = static_cast<WindowPage>(std::clamp(ui_->tabView->currentIndex(), 0, 2));
    }
    if (conversionList_ && conversionList_->selectionModel())
        s.selectedConversions = static_cast<int>(SelectedRows(conversionList_->selectionModel()).size());
    s.addingFiles = addingFiles;
    s.sortingFiles = sortingFiles;
    // A batch runs from its start until its log is finished.
    s.driverRunning = (conversionProcess_ && conversionProcess_->running()) || logger_ != nullptr;
    for (const auto& conv : convSpecs)
        s.activeValidConversion = s.activeValidConversion || (conv->active() && conv->valid());
    s.outputFolderExists = IsFolder(destFolder);
    s.addFilesErrorWindowExists = !addErrors_.isNull();
    return s;
}

void MainController::refreshActions() {
    if (!ui_) {
        validateStart();
        return;
    }
    const UiState state = uiState();
    for (const auto& [action, rule] : actionRules_) action->setEnabled(IsActionEnabled(rule, state));
    for (const auto& [button, rule] : buttonRules_) button->setEnabled(IsActionEnabled(rule, state));
    validateStart();
}
