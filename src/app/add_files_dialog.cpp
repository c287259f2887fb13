#include "app/add_files_dialog.h"

#include <QAction>
#include <QDir>
#include <QFileSystemModel>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListView>
#include <QShortcut>
#include <QSplitter>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include "app/desktop_services.h"
#include "app/file_info_panel.h"
#include "conversion/qf_sound_file.h"

namespace {

// The places of the side bar: home, the usual folders of the desktop that
// exist, the whole file system, and the volumes mounted for the user.
QList<QUrl> Places() {
    QList<QUrl> places{QUrl::fromLocalFile(QDir::homePath())};
    for (const auto location : {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation,
                                QStandardPaths::MusicLocation, QStandardPaths::DownloadLocation}) {
        const QString path = QStandardPaths::writableLocation(location);
        if (!path.isEmpty() && path != QDir::homePath() && QDir(path).exists())
            places << QUrl::fromLocalFile(path);
    }
    places << QUrl::fromLocalFile(QDir::rootPath());
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (volume.isValid() && volume.isReady() &&
            (root.startsWith("/media/") || root.startsWith("/run/media/") ||
             root.startsWith("/mnt/")))
            places << QUrl::fromLocalFile(root);
    }
    return places;
}

}  // namespace

AddFilesDialog::AddFilesDialog(QWidget* parent, const QString& startFolder)
    : QFileDialog(parent, Tr("Add Files"), startFolder) {
    setObjectName("AddFilesDialog");
    // Qt's own dialog: the panel can sit beside its list, and folders can be chosen.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    setLabelText(QFileDialog::Accept, Tr("Add"));
    if (parent) setWindowModality(Qt::WindowModal);
    // Without a folder of its own or a last visit the dialog would show the
    // program's working folder: home instead.
    if (startFolder.isEmpty() && directory() == QDir::current()) setDirectory(QDir::homePath());
    for (QAbstractItemView* view : {listView(), detailView()})
        if (view) view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // The user's own places (kept by the dialog between runs) come first.
    QList<QUrl> places = sidebarUrls();
    for (const QUrl& place : Places())
        if (!places.contains(place)) places << place;
    setSidebarUrls(places);
    if (QAction* hidden = findChild<QAction*>("qt_show_hidden_action")) {
        auto* toggle = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), this);
        connect(toggle, &QShortcut::activated, hidden, &QAction::trigger);
    }

    infoView_ = new SoundFileInfoTextView(this);
    infoView_->setObjectName("infoView");
    infoView_->setMinimumWidth(240);
    info_ = new SoundFileInfoViewController(infoView_, SoundFileInfoViewController::LoadAttributes(),
                                            this);
    // The message above the list, the panel beside it.
    if (auto* splitter = findChild<QSplitter*>("splitter")) {
        splitter->addWidget(infoView_);
        splitter->setStretchFactor(splitter->indexOf(infoView_), 0);
        splitter->setSizes({170, 420, 270});  // places, list, panel
        auto* holder = new QWidget(this);
        auto* column = new QVBoxLayout;
        column->setContentsMargins(0, 0, 0, 0);
        auto* message = new QLabel(Tr("Please select one or more input files:"), holder);
        message->setObjectName("messageLabel");
        column->addWidget(message);
        if (QLayoutItem* old = layout() ? layout()->replaceWidget(splitter, holder) : nullptr) {
            delete old;
            splitter->setParent(holder);
            column->addWidget(splitter);
            holder->setLayout(column);
        } else {
            delete column;
            delete holder;
        }
    }
    if (QAbstractItemView* view = listView())
        connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &AddFilesDialog::panelSelectionDidChange);
    resize(860, 480);
}

QAbstractItemView* AddFilesDialog::listView() const {
    return findChild<QListView*>("listView");
}

QAbstractItemView* AddFilesDialog::detailView() const {
    return findChild<QTreeView*>("treeView");
}

QStringList AddFilesDialog::selectionInViews() const {
    QStringList paths;
    QAbstractItemView* view = listView();
    if (!view || !view->selectionModel()) return paths;
    for (const QModelIndex& index : view->selectionModel()->selectedRows())
        paths << index.data(QFileSystemModel::FilePathRole).toString();
    return paths;
}

void AddFilesDialog::panelSelectionDidChange() {
    const QStringList paths = selectionInViews();
    std::vector<std::shared_ptr<QFSoundFile>> list;
    if (paths.size() == 1) {
        list.push_back(QFSoundFile::soundFileWithPath(paths.front().toStdString()));
    } else {
        // Only the count shows: nothing is examined.
        for (const QString& p : paths) {
            auto entry = std::make_shared<QFSoundFile>();
            entry->setPath(p.toStdString());
            list.push_back(entry);
        }
    }
    info_->setList(std::move(list));
}

QStringList AddFilesDialog::selectedPaths() const {
    if (!chosen_.isEmpty()) return chosen_;
    const QStringList inViews = selectionInViews();
    return inViews.isEmpty() ? selectedFiles() : inViews;
}

void AddFilesDialog::accept() {
    const auto* name = findChild<QLineEdit*>("fileNameEdit");
    const QStringList paths = selectionInViews();
    if ((name && name->hasFocus() && !name->text().isEmpty()) || paths.isEmpty()) {
        QFileDialog::accept();
        return;
    }
    chosen_ = paths;
    QDialog::accept();
}

void AddFilesDialog::selectPath(const QString& path, bool add) {
    const QFileInfo file(path);
    if (!file.exists()) return;
    if (QDir(directory()).absolutePath() != file.absolutePath()) setDirectory(file.absolutePath());
    QAbstractItemView* view = listView();
    auto* model = view ? qobject_cast<QFileSystemModel*>(view->model()) : nullptr;
    if (!model) return;
    const QModelIndex index = model->index(file.absoluteFilePath());
    if (!index.isValid()) return;
    view->selectionModel()->select(
        index, (add ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect) |
                   QItemSelectionModel::Rows);
}
