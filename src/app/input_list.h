// The input list's pieces: the table model (ten columns of the entries'
// properties, the loudspeaker of the playing entry, the "Input:" header with
// the counts of files and folders, drops of file lists), the add-files
// examination that runs on a worker thread, the decisions the interface thread
// takes on each examined path, and the window that lists what was not added.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <QStringList>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class Alerts;
class FileDialogs;
class QFSoundFile;
class QTreeWidget;
class QPushButton;
class Workspace;

using InputFilePtr = std::shared_ptr<QFSoundFile>;
using InputFileList = std::vector<InputFilePtr>;

class InputListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kPlayableColumn = 0, kFilenameColumn = 1, kColumnCount = 10 };
    static const std::vector<std::string>& ColumnIdentifiers();

    // Shows `files` (owned by the caller, which calls reload after changing it).
    // `playingRow` answers the row of the player's current file (-1: none) and
    // whether it plays.
    InputListModel(const InputFileList& files, Workspace* workspace,
                   std::function<std::pair<int, bool>()> playingRow, QObject* parent = nullptr);

    void reload();
    // Redraws the loudspeaker column only (the selection stays).
    void refreshPlaying();
    // "Input: %d File(s), %d Folder(s)" for the list now.
    QString filenameHeader() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

signals:
    // Local files dropped on the table (to be added).
    void filesDropped(const QStringList& paths);

private:
    const InputFileList& files_;
    Workspace* workspace_;
    std::function<std::pair<int, bool>()> playingRow_;
};

// The examination of one add-files run on a worker thread: each path becomes
// an entry (QFSoundFile reads its type, set members and properties). The worker
// touches nothing else; the interface thread takes the results when done.
class AddFilesWorker {
public:
    explicit AddFilesWorker(QStringList paths);
    ~AddFilesWorker();  // waits for the thread
    int total() const { return total_; }
    int examined() const { return examined_.load(); }
    bool done() const { return done_.load(); }
    void wait();
    // The entries in the order of the paths (after done()).
    const InputFileList& results() const { return results_; }

private:
    int total_;
    std::atomic<int> examined_{0};
    std::atomic<bool> done_{false};
    InputFileList results_;
    std::thread thread_;
};

// What becomes of one examined entry, decided on the interface thread.
enum class AddDecision { kAdd, kRejected, kDroppedSilently, kDuplicate };

// The checks in order: not recognised (unless read as raw, action 2, or a
// folder; the right side of a split stereo file is dropped silently), a name
// already listed (`names`: last path components), a member of a listed split
// set (dropped silently, marked as such). `listed` is the list with the entries
// added earlier in the same run.
AddDecision DecideAddition(QFSoundFile& entry, int unrecognizedAction,
                           const std::set<std::string>& names, const InputFileList& listed);

// The last path component of an entry's path (the list's unique name).
std::string InputName(const QFSoundFile& entry);

// The window listing paths that were not added, grouped by reason. Its Close
// button is the default; Escape and Ctrl+W close it too.
class AddFilesErrorsController : public QDialog {
    Q_OBJECT
public:
    AddFilesErrorsController(Workspace* workspace, FileDialogs* dialogs, Alerts* alerts,
                             QWidget* parent = nullptr);
    void reset();
    void setPaths(const QStringList& paths, const QString& description);
    // The text saved: each reason, its paths indented by a tab, an empty line.
    QString text() const;
    QTreeWidget* table() const { return table_; }
    QPushButton* openInFinderButton() const { return openInFinder_; }

public slots:
    void openInFinder();
    // Asks for a file ("FileAddErrors.txt" proposed) and writes it atomically.
    void saveAsText();

private:
    struct Group {
        QString description;
        QStringList paths;
    };
    std::vector<Group> items_;
    Workspace* workspace_;
    FileDialogs* dialogs_;
    Alerts* alerts_;
    QTreeWidget* table_;
    QPushButton* openInFinder_;
};
