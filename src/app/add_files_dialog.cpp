#include "app/add_files_dialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/desktop_services.h"
#include "app/file_info_panel.h"
#include "conversion/qf_sound_file.h"

AddFilesDialog::AddFilesDialog(QWidget* parent, const QString& startFolder) : QDialog(parent) {
    setObjectName("AddFilesDialog");
    setWindowTitle(Tr("Add Files"));
    if (parent) setWindowModality(Qt::WindowModal);
    resize(640, 420);
    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    model_->setRootPath("/");
    tree_ = new QTreeView(this);
    tree_->setObjectName("fileTree");
    tree_->setModel(model_);
    tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tree_->header()->resizeSection(0, 320);
    const QString start = startFolder.isEmpty() ? QDir::homePath() : startFolder;
    const QModelIndex startIndex = model_->index(start);
    tree_->setCurrentIndex(startIndex);
    tree_->expand(startIndex);
    tree_->scrollTo(startIndex);
    auto* message = new QLabel(Tr("Please select one or more input files:"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton* add = buttons->addButton(Tr("Add"), QDialogButtonBox::AcceptRole);
    add->setObjectName("addButton");
    add->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    infoView_ = new SoundFileInfoTextView(this);
    infoView_->setObjectName("infoView");
    infoView_->setMinimumWidth(240);
    info_ = new SoundFileInfoViewController(infoView_, SoundFileInfoViewController::LoadAttributes(),
                                            this);
    connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &AddFilesDialog::panelSelectionDidChange);
    auto* row = new QHBoxLayout;
    row->addWidget(tree_, 3);
    row->addWidget(infoView_, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message);
    layout->addLayout(row);
    layout->addWidget(buttons);
}

void AddFilesDialog::panelSelectionDidChange() {
    const QStringList paths = selectedPaths();
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
    QStringList paths;
    for (const QModelIndex& index : tree_->selectionModel()->selectedRows(0))
        paths << model_->filePath(index);
    return paths;
}

void AddFilesDialog::selectPath(const QString& path, bool add) {
    const QModelIndex index = model_->index(path);
    if (!index.isValid()) return;
    tree_->selectionModel()->select(index, (add ? QItemSelectionModel::Select
                                                : QItemSelectionModel::ClearAndSelect) |
                                               QItemSelectionModel::Rows);
}
