// The rule that enables every button and menu item of the main window, as one
// pure function over a snapshot of the application's state, so that menus,
// buttons and tests all ask the same question.
#pragma once

enum class UiAction {
    playFile,
    playPreviousFromFolder,
    playNextFromFolder,
    playPreviousFromInputList,
    playNextFromInputList,
    stopFile,
    editConv,
    markConv,
    unmarkConv,
    duplicateConv,
    removeConv,
    removeFile,       // the input page's Remove button
    deleteSelection,  // the Edit menu's Delete
    removeAll,
    doStart,
    showLastFileAddingErrors,
    showDestInFinder,
    emptyOutputFolder,
    other,  // every command without a rule: always enabled
};

// The main window's pages, in tab order.
enum class WindowPage { input = 0, conversions = 1, output = 2 };

struct UiState {
    bool playerExists = false;
    bool playerPlaying = false;
    bool playerPlayingFolder = false;
    int inputCount = 0;
    int selectedInputs = 0;
    int selectedConversions = 0;
    WindowPage page = WindowPage::input;
    bool addingFiles = false;
    bool sortingFiles = false;
    bool driverRunning = false;
    bool activeValidConversion = false;  // at least one conversion active and valid
    bool outputFolderExists = false;     // set, and a folder exists at its path
    bool addFilesErrorWindowExists = false;
};

// Why a batch may not start in `state`: the first reason found, in this order
// (a batch running, a file playing, files being added or sorted, no inputs, no
// active valid conversion, no output folder); none when it may start. The
// application itself refuses every start while it quits.
enum class StartRefusal {
    none,
    quitting,
    batchRunning,
    filePlaying,
    addingFiles,
    noInputs,
    noConversion,
    noOutputFolder,
};
StartRefusal WhyStartIsRefused(const UiState& state);

// Whether `action` is enabled in `state`. Emptying the output folder also
// waits for an idle batch driver: a running batch writes into that folder.
// Removing or deleting inputs waits for the add run: while one goes on, only
// the run changes the input list.
bool IsActionEnabled(UiAction action, const UiState& state);
