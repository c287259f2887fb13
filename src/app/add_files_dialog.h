// The add-files dialog: the desktop's file dialog in Qt's own form (places, a
// typed path, recent folders, hidden files shown from its menu or with Ctrl+H),
// in which files and folders are chosen together, several at once. It opens
// window-modal over the main window with the prompt "Add"; the file-info panel
// beside the list follows the selection.
#pragma once

#include <QFileDialog>
#include <QStringList>

class QAbstractItemView;
class SoundFileInfoTextView;
class SoundFileInfoViewController;

class AddFilesDialog : public QFileDialog {
    Q_OBJECT
public:
    // Opens at `startFolder`; none: the folder of the last visit, else home.
    explicit AddFilesDialog(QWidget* parent = nullptr, const QString& startFolder = QString());
    // The chosen files and folders: once accepted, what was chosen; before,
    // the selection of the list (or, with none, the paths typed).
    QStringList selectedPaths() const;
    SoundFileInfoViewController* info() const { return info_; }
    SoundFileInfoTextView* infoView() const { return infoView_; }
    // The dialog's list and detail views (they share one selection).
    QAbstractItemView* listView() const;
    QAbstractItemView* detailView() const;
    // Selects `path`, going to its folder first when it lies elsewhere (for
    // tests and a remembered place).
    void selectPath(const QString& path, bool add = false);

public slots:
    // Add with a selection chooses it, folders included; a path typed in the
    // name field goes where the dialog takes it (a folder is entered).
    void accept() override;

private:
    // The panel follows the selection: one item is examined and shown.
    void panelSelectionDidChange();
    QStringList selectionInViews() const;

    SoundFileInfoTextView* infoView_;
    SoundFileInfoViewController* info_;
    QStringList chosen_;
};
