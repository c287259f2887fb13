// The main controller's input list: the add-files run (paths examined on a
// worker, decided and added undoably on this thread, then reported), removal
// with undo, sorting, and the window of paths not added.
#include "app/main_controller.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QTableView>
#include <QUndoStack>

#include "app/add_files_dialog.h"
#include "app/desktop_services.h"
#include "app/input_list.h"
#include "app/player_control.h"
#include "app/table_sorting.h"
#include "app/window_placement.h"
#include "conversion/qf_sound_file.h"
#include "platform/user_defaults.h"
#include "ui_main_window.h"

namespace {

// The error that reading the first byte of `path` meets (errno), 0 when it
// reads. Not blocking, so that a pipe without a writer answers at once.
int ReadError(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    char byte;
    const int error = ::read(fd, &byte, 1) < 0 ? errno : 0;
    ::close(fd);
    return error;
}

// One entry inserted into or removed from the input list, undoably.
class InputFileCommand : public QUndoCommand {
public:
    InputFileCommand(MainController* c, InputFilePtr entry, int index, bool insert)
        : c_(c), entry_(std::move(entry)), index_(index), insert_(insert) {}
    void redo() override { insert_ ? c_->insertFile(entry_, index_) : void(index_ = c_->deleteFile(entry_)); }
    void undo() override { insert_ ? void(c_->deleteFile(entry_)) : c_->insertFile(entry_, index_); }

private:
    MainController* c_;
    InputFilePtr entry_;
    int index_;
    bool insert_;
};

}  // namespace

void MainController::setFilesToAdd(const QStringList& paths) {
    if (terminating_ || paths.isEmpty()) return;
    if (services_.addFiles) {
        services_.addFiles(paths);
        return;
    }
    // A new run waits for the one going on.
    filesToAdd << paths;
    if (!addingFiles) startAddRun();
}

void MainController::addFile() {
    showInput();
    const QStringList paths = services_.chooseFilesToAdd
                                  ? services_.chooseFilesToAdd(window_)
                                  : [this] {
                                        AddFilesDialog dialog(window_);
                                        return dialog.exec() == QDialog::Accepted
                                                   ? dialog.selectedPaths()
                                                   : QStringList();
                                    }();
    if (!paths.isEmpty()) setFilesToAdd(paths);
}

void MainController::startAddRun() {
    const QStringList paths = filesToAdd;
    filesToAdd.clear();
    // Set before the worker starts: a tick never takes a run not yet begun for one ended.
    addingFiles = true;
    addWorker_ = std::make_unique<AddFilesWorker>(paths);
    if (ui_) {
        ui_->fileAddProgressMessageTextField->setText(Tr("Examining input files..."));
        ui_->fileAddProgressIndicator->setRange(0, static_cast<int>(paths.size()));
        ui_->fileAddProgressIndicator->setValue(0);
        ui_->fileAddProgressIndicator->show();
    }
    if (!addTimer_) {
        addTimer_ = new QTimer(this);
        connect(addTimer_, &QTimer::timeout, this, &MainController::updateAddProgress);
    }
    addTimer_->start(300);
    validateUserInterfaceItems();
}

void MainController::updateAddProgress() {
    if (!addWorker_) return;
    if (!addWorker_->done()) {
        if (ui_) {
            ui_->fileAddProgressIndicator->setValue(addWorker_->examined());
            ui_->fileAddProgressMessageTextField->setText(FormatObjects(
                Tr("Examining file %d of %d"),
                {QString::number(addWorker_->examined()), QString::number(addWorker_->total())}));
        }
        return;
    }
    finishAddRun();
}

void MainController::waitForAddRun() {
    if (addWorker_) addWorker_->wait();
}

void MainController::finishAddRun() {
    if (addTimer_) addTimer_->stop();
    addWorker_->wait();
    const InputFileList results = addWorker_->results();
    addWorker_.reset();
    const int action = static_cast<int>(defaults().GetInteger("Unrecognized Input File Action"));
    QStringList rejected, duplicates, denied, ioFailed;
    int added = 0;
    for (const InputFilePtr& entry : results) {
        if (!entry) continue;
        // A file that could not be read is no sound file of an unknown kind,
        // whatever the unrecognised-file action says: its reason is told.
        if (!entry->isPlayable() && !entry->isDirectory()) {
            const QString path = QString::fromStdString(entry->path());
            const int error = services_.readError ? services_.readError(path) : ReadError(path);
            if (error == EACCES || error == EPERM) {
                denied << path;
                continue;
            }
            if (error == EIO) {
                ioFailed << path;
                continue;
            }
        }
        switch (DecideAddition(*entry, action, inputFileNames, inputFiles)) {
            case AddDecision::kRejected:
                rejected << QString::fromStdString(entry->path());
                break;
            case AddDecision::kDuplicate:
                duplicates << QString::fromStdString(entry->path());
                break;
            case AddDecision::kDroppedSilently:
                break;
            case AddDecision::kAdd:
                // Raw data shows the desktop's name of its type, not that no
                // reader took it for sound.
                if (action == 2 && (entry->descriptor().empty() ||
                                    entry->descriptor() == QFSoundFile::kNotRecognizedText))
                    entry->setDescriptor(
                        services_.workspace->typeName(QString::fromStdString(entry->path()))
                            .toStdString());
                if (added++ == 0) inputUndo_->beginMacro(Tr("Add File(s)"));
                inputUndo_->push(new InputFileCommand(this, entry, -1, true));
                break;
        }
    }
    if (added) inputUndo_->endMacro();
    addingFiles = false;
    sortingFiles = true;
    doInputSort();
    sortingFiles = false;
    if (ui_) {
        ui_->fileAddProgressMessageTextField->clear();
        ui_->fileAddProgressIndicator->setValue(0);
        ui_->fileAddProgressIndicator->hide();
    }
    updateInputView();
    std::vector<std::pair<QString, QStringList>> groups = std::move(pathsNotAdded_);
    pathsNotAdded_.clear();
    if (!duplicates.isEmpty())
        groups.emplace_back(Tr("The following files have names that are already in the list. "
                               "Please rename them in the Finder, if possible."),
                            duplicates);
    if (!rejected.isEmpty())
        groups.emplace_back(Tr("The following files were not recognized as sound files."),
                            rejected);
    if (!denied.isEmpty())
        groups.emplace_back(Tr("The following files cannot be read: permission denied."), denied);
    if (!ioFailed.isEmpty())
        groups.emplace_back(Tr("The following files cannot be read: input/output error."),
                            ioFailed);
    if (!groups.empty()) {
        showAddFilesErrors(groups);
    } else if (added == 0) {
        services_.alerts->run(window_, Tr("No Files Added"),
                              Tr("There were no recognizable sound files among the files you "
                                 "selected, so none were added."));
    }
    emit filesAdded();
    if (!filesToAdd.isEmpty() && !terminating_) startAddRun();
}

void MainController::showAddFilesErrors(
    const std::vector<std::pair<QString, QStringList>>& groups) {
    if (!addErrors_)
        addErrors_ = new AddFilesErrorsController(services_.workspace, services_.dialogs,
                                                  services_.alerts, window_);
    addErrors_->reset();
    for (const auto& [description, paths] : groups) addErrors_->setPaths(paths, description);
    showLastFileAddingErrors();
    refreshActions();
}

AddFilesErrorsController* MainController::addFilesErrors() const { return addErrors_.data(); }

void MainController::showLastFileAddingErrors() {
    if (!addErrors_) return;
    if (!addErrors_->isVisible()) PlaceWindow(addErrors_, window_);
    addErrors_->show();
    addErrors_->raise();
}

int MainController::deleteFile(const InputFilePtr& entry) {
    const auto it = std::find(inputFiles.begin(), inputFiles.end(), entry);
    if (it == inputFiles.end()) return -1;
    const int index = static_cast<int>(it - inputFiles.begin());
    inputFiles.erase(it);
    inputFileNames.erase(InputName(*entry));
    if (ownPlayer_) ownPlayer_->setInputFiles(inputFiles);
    updateInputView();
    return index;
}

void MainController::insertFile(const InputFilePtr& entry, int index) {
    const auto at = index < 0 || static_cast<size_t>(index) > inputFiles.size()
                        ? inputFiles.end()
                        : inputFiles.begin() + index;
    inputFiles.insert(at, entry);
    inputFileNames.insert(InputName(*entry));
    if (ownPlayer_) ownPlayer_->setInputFiles(inputFiles);
    updateInputView();
}

void MainController::removeEntries(const InputFileList& entries, const QString& name) {
    if (entries.empty() || addingFiles) return;
    inputUndo_->beginMacro(name);
    for (const InputFilePtr& entry : entries)
        inputUndo_->push(new InputFileCommand(this, entry, -1, false));
    inputUndo_->endMacro();
    if (ui_) ui_->inputFileTableView->clearSelection();
    validateUserInterfaceItems();
}

void MainController::removeFile() {
    if (!ui_) return;
    InputFileList selected;
    for (int row : SelectedRows(ui_->inputFileTableView->selectionModel()))
        if (static_cast<size_t>(row) < inputFiles.size()) selected.push_back(inputFiles[static_cast<size_t>(row)]);
    removeEntries(selected, Tr("Remove File(s)"));
}

void MainController::removeAll() {
    const InputFileList all = inputFiles;  // the commands change the list
    removeEntries(all, Tr("Remove All Files"));
}

void MainController::doInputSort() {
    if (!inputModel_) {
        std::stable_sort(inputFiles.begin(), inputFiles.end(),
                         [](const InputFilePtr& a, const InputFilePtr& b) { return a->compare(*b) < 0; });
        return;
    }
    // The selection follows its entries to their new rows.
    InputFileList selected;
    for (int row : SelectedRows(ui_->inputFileTableView->selectionModel()))
        if (static_cast<size_t>(row) < inputFiles.size()) selected.push_back(inputFiles[static_cast<size_t>(row)]);
    std::stable_sort(inputFiles.begin(), inputFiles.end(),
                     [](const InputFilePtr& a, const InputFilePtr& b) { return a->compare(*b) < 0; });
    inputModel_->reload();
    std::vector<int> rows;
    for (const InputFilePtr& entry : selected) {
        const auto it = std::find(inputFiles.begin(), inputFiles.end(), entry);
        if (it != inputFiles.end()) rows.push_back(static_cast<int>(it - inputFiles.begin()));
    }
    SelectRows(ui_->inputFileTableView->selectionModel(), rows);
}

void MainController::updateInputView() {
    if (inputModel_) inputModel_->reload();
    validateUserInterfaceItems();
}
