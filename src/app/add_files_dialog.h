// The add-files dialog: one tree of the file system in which files and folders
// are chosen together (several at once), opened window-modal over the main
// window with the prompt "Add".
#pragma once

#include <QDialog>
#include <QStringList>

class QFileSystemModel;
class QTreeView;

class AddFilesDialog : public QDialog {
    Q_OBJECT
public:
    explicit AddFilesDialog(QWidget* parent = nullptr, const QString& startFolder = QString());
    // The chosen files and folders, in the tree's order.
    QStringList selectedPaths() const;
    QTreeView* tree() const { return tree_; }
    // Selects `path` in the tree (for tests and a remembered place).
    void selectPath(const QString& path, bool add = false);

private:
    QFileSystemModel* model_;
    QTreeView* tree_;
};
