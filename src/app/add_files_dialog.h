// The add-files dialog: one tree of the file system in which files and folders
// are chosen together (several at once), opened window-modal over the main
// window with the prompt "Add", the file-info panel beside it.
#pragma once

#include <QDialog>
#include <QStringList>

class QFileSystemModel;
class QTreeView;
class SoundFileInfoTextView;
class SoundFileInfoViewController;

class AddFilesDialog : public QDialog {
    Q_OBJECT
public:
    explicit AddFilesDialog(QWidget* parent = nullptr, const QString& startFolder = QString());
    // The chosen files and folders, in the tree's order.
    QStringList selectedPaths() const;
    QTreeView* tree() const { return tree_; }
    SoundFileInfoViewController* info() const { return info_; }
    SoundFileInfoTextView* infoView() const { return infoView_; }
    // Selects `path` in the tree (for tests and a remembered place).
    void selectPath(const QString& path, bool add = false);

private:
    // The panel follows the selection: one item is examined and shown.
    void panelSelectionDidChange();

    QFileSystemModel* model_;
    QTreeView* tree_;
    SoundFileInfoTextView* infoView_;
    SoundFileInfoViewController* info_;
};
