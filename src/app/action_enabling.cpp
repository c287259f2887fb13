// The enabling rule of the main window's commands.
#include "app/action_enabling.h"

StartRefusal WhyStartIsRefused(const UiState& s) {
    if (s.driverRunning) return StartRefusal::batchRunning;
    if (s.playerPlaying) return StartRefusal::filePlaying;
    if (s.addingFiles || s.sortingFiles) return StartRefusal::addingFiles;
    if (s.inputCount <= 0) return StartRefusal::noInputs;
    if (!s.activeValidConversion) return StartRefusal::noConversion;
    if (!s.outputFolderExists) return StartRefusal::noOutputFolder;
    return StartRefusal::none;
}

bool IsActionEnabled(UiAction action, const UiState& s) {
    switch (action) {
        case UiAction::playFile:
            return s.playerExists ? s.inputCount > 0 : s.selectedInputs > 0;
        case UiAction::playPreviousFromFolder:
        case UiAction::playNextFromFolder:
            return s.playerExists && s.playerPlayingFolder;
        case UiAction::playPreviousFromInputList:
        case UiAction::playNextFromInputList:
            return s.playerExists && s.inputCount > 1;
        case UiAction::stopFile:
            return s.playerExists && s.playerPlaying;
        case UiAction::editConv:
            return s.selectedConversions == 1;
        case UiAction::markConv:
        case UiAction::unmarkConv:
        case UiAction::duplicateConv:
        case UiAction::removeConv:
            return s.selectedConversions > 0;
        case UiAction::removeFile:
            return s.selectedInputs > 0 && !s.addingFiles;
        case UiAction::deleteSelection:
            switch (s.page) {
                case WindowPage::input: return s.selectedInputs > 0 && !s.addingFiles;
                case WindowPage::conversions: return s.selectedConversions > 0;
                case WindowPage::output: return false;
            }
            return false;
        case UiAction::removeAll:
            return s.inputCount > 0 && !s.addingFiles;
        case UiAction::doStart:
            return WhyStartIsRefused(s) == StartRefusal::none;
        case UiAction::showLastFileAddingErrors:
            return s.addFilesErrorWindowExists;
        case UiAction::showDestInFinder:
            return s.outputFolderExists;
        case UiAction::emptyOutputFolder:
            return s.outputFolderExists && !s.driverRunning;
        case UiAction::other:
            return true;
    }
    return true;
}
