// The main controller's side of the script command and of open-files
// requests: a start asked for from outside, paths to open or add, and the
// paths a request could not take.
#include "app/main_controller.h"

#include <QFileInfo>

#include "app/input_list.h"

void MainController::asConvert() {
    if (validateStart()) doStart();
}

void MainController::openPaths(const QStringList& paths) {
    if (terminating_) return;
    QStringList toAdd;
    for (const QString& path : paths) {
        if (QFileInfo(path).suffix().compare("xwl", Qt::CaseInsensitive) == 0)
            openLog(path);
        else
            toAdd << path;
    }
    if (!toAdd.isEmpty()) setFilesToAdd(toAdd);
}

void MainController::reportPathsNotAdded(
    const std::vector<std::pair<QString, QStringList>>& groups) {
    if (groups.empty() || terminating_) return;
    // The run under way (or queued) reports them with its own findings.
    if (addingFiles || !filesToAdd.isEmpty()) {
        pathsNotAdded_.insert(pathsNotAdded_.end(), groups.begin(), groups.end());
        return;
    }
    showAddFilesErrors(groups);
}
