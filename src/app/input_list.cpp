#include "app/input_list.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMimeData>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/desktop_services.h"
#include "app/file_cell.h"
#include "app/main_window_views.h"
#include "conversion/qf_sound_file.h"

namespace {

constexpr char kRightSideOfSplitStereo[] = "Right side of a split stereo file";
constexpr char kPartOfListedSet[] = "Part of a split multichannel set already preset";
constexpr char kUriList[] = "text/uri-list";

// The loudspeaker of the playing row, also the title of its column.
const QIcon& PlayingIcon() {
    static const QIcon icon(ProgramImage("loudspeaker-small"));
    return icon;
}

QString Plural(const char* format, int count) {
    return FormatObjects(Tr(format), {QString::number(count), count == 1 ? "" : "s"});
}

}  // namespace

// ---------------------------------------------------------------------------
// The table model

const std::vector<std::string>& InputListModel::ColumnIdentifiers() {
    static const std::vector<std::string> ids{"playable", "filename", "size",   "fileType",
                                              "sampleRate", "channels", "bits", "length",
                                              "regions",  "timestamps"};
    return ids;
}

InputListModel::InputListModel(const InputFileList& files, Workspace* workspace,
                               std::function<std::pair<int, bool>()> playingRow, QObject* parent)
    : QAbstractTableModel(parent),
      files_(files),
      workspace_(workspace),
      playingRow_(std::move(playingRow)) {}

void InputListModel::refreshPlaying() {
    if (rowCount() == 0) return;
    emit dataChanged(index(0, kPlayableColumn), index(rowCount() - 1, kPlayableColumn),
                     {Qt::DecorationRole});
}

void InputListModel::reload() {
    beginResetModel();
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, kFilenameColumn, kFilenameColumn);
}

QString InputListModel::filenameHeader() const {
    int folders = 0;
    for (const auto& f : files_) folders += f->isDirectory() ? 1 : 0;
    const int files = static_cast<int>(files_.size()) - folders;
    return FormatObjects(Tr("Input: %@, %@"),
                         {Plural("%d File%@", files), Plural("%d Folder%@", folders)});
}

int InputListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(files_.size());
}

int InputListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant InputListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const QFSoundFile& f = *files_[static_cast<size_t>(index.row())];
    const int column = index.column();
    if (column == kPlayableColumn) {
        if (role != Qt::DecorationRole || !playingRow_) return {};
        const auto [row, playing] = playingRow_();
        if (row != index.row()) return {};
        static const QIcon mutedIcon(ProgramImage("loudspeaker-small-muted"));
        return playing ? PlayingIcon() : mutedIcon;
    }
    if (column == kFilenameColumn && role == Qt::DecorationRole && workspace_)
        return workspace_->icon(QString::fromStdString(f.path()));
    if (column == kFilenameColumn && (role == Qt::ToolTipRole || role == FileCell::kPathRole))
        return QString::fromStdString(f.path());
    if (column == kFilenameColumn && role == FileCell::kNameRole)
        return QString::fromStdString(f.name());
    if (role != Qt::DisplayRole) return {};
    switch (column) {
        case kFilenameColumn: {
            const std::string name = f.name();
            return QString::fromStdString(name.empty() ? InputName(f) : name);
        }
        case 2: return QString::fromStdString(f.displaySize());
        case 3: return QString::fromStdString(f.descriptor());
        case 4: return QString::fromStdString(f.displaySampleRate());
        case 5: return QString::fromStdString(f.displayChannels());
        case 6: return QString::fromStdString(f.displayBits());
        case 7: return QString::fromStdString(f.lengthStr());
        case 8: return QString::fromStdString(f.displayRegions());
        case 9: return QString::fromStdString(f.timestamps());
        default: return {};
    }
}

QVariant InputListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
    if (role == Qt::UserRole)
        return QString::fromStdString(ColumnIdentifiers()[static_cast<size_t>(section)]);
    // The loudspeaker column is titled with the image its playing row shows.
    if (section == kPlayableColumn && role == Qt::DecorationRole) return PlayingIcon();
    if (role != Qt::DisplayRole) return {};
    static const char* const titles[kColumnCount] = {"",     "",       "Size",   "Type",
                                                     "Rate", "Channels", "Bits", "Length",
                                                     "Regions", "Timestamps"};
    if (section == kFilenameColumn) return filenameHeader();
    return Tr(titles[section]);
}

Qt::ItemFlags InputListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = Qt::ItemIsDropEnabled;
    if (index.isValid()) f |= Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return f;
}

QStringList InputListModel::mimeTypes() const { return {kUriList}; }

Qt::DropActions InputListModel::supportedDropActions() const { return Qt::CopyAction; }

bool InputListModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int,
                                     const QModelIndex&) const {
    if (!data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return true;
    return false;
}

bool InputListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row,
                                  int column, const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent)) return false;
    QStringList paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    // New entries are appended and the list sorted: the drop row plays no part.
    emit filesDropped(paths);
    return true;
}

// ---------------------------------------------------------------------------
// Examination and decisions

AddFilesWorker::AddFilesWorker(QStringList paths) : total_(static_cast<int>(paths.size())) {
    results_.resize(static_cast<size_t>(paths.size()));
    std::vector<std::string> list;
    for (const QString& p : paths) list.push_back(p.toStdString());
    thread_ = std::thread([this, list = std::move(list)] {
        for (size_t i = 0; i < list.size(); ++i) {
            try {
                results_[i] = QFSoundFile::soundFileWithPath(list[i]);
            } catch (...) {
                // An entry that could not be made stays empty: reported as not recognised.
                results_[i] = std::make_shared<QFSoundFile>();
                results_[i]->setPath(list[i]);
            }
            ++examined_;
        }
        done_ = true;
    });
}

AddFilesWorker::~AddFilesWorker() { wait(); }

void AddFilesWorker::wait() {
    if (thread_.joinable()) thread_.join();
}

std::string InputName(const QFSoundFile& entry) {
    std::string path = entry.path();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

AddDecision DecideAddition(QFSoundFile& entry, int unrecognizedAction,
                           const std::set<std::string>& names, const InputFileList& listed) {
    if (!entry.isPlayable() && unrecognizedAction != 2 && !entry.isDirectory())
        return entry.descriptor() == kRightSideOfSplitStereo ? AddDecision::kDroppedSilently
                                                             : AddDecision::kRejected;
    if (names.count(InputName(entry))) return AddDecision::kDuplicate;
    if (!entry.isDirectory()) {
        for (const auto& other : listed) {
            if (!other->isSplit()) continue;
            const auto& members = other->surround_set();
            if (std::find(members.begin(), members.end(), entry.path()) != members.end()) {
                entry.setDescriptor(kPartOfListedSet);
                return AddDecision::kDroppedSilently;
            }
        }
    }
    return AddDecision::kAdd;
}

// ---------------------------------------------------------------------------
// The error window

namespace {

// Rows as high as their text needs when it wraps at the column's width, which
// the tree's own measure does not take into account.
class WrappingRows : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const auto* view = qobject_cast<const QTreeView*>(option.widget);
        if (!view) return QStyledItemDelegate::sizeHint(option, index);
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        int depth = view->rootIsDecorated() ? 1 : 0;
        for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) ++depth;
        const int width = view->columnWidth(index.column()) - depth * view->indentation();
        item.rect = QRect(0, 0, std::max(1, width), 1);
        return view->style()->sizeFromContents(QStyle::CT_ItemViewItem, &item, QSize(), view);
    }
};

}  // namespace

AddFilesErrorsController::AddFilesErrorsController(Workspace* workspace, FileDialogs* dialogs,
                                                   Alerts* alerts, QWidget* parent)
    : QDialog(parent, Qt::Window), workspace_(workspace), dialogs_(dialogs), alerts_(alerts) {
    setObjectName("AddFilesErrors");
    setWindowTitle(Tr("Files Not Added"));
    resize(560, 320);
    table_ = new QTreeWidget(this);
    table_->setObjectName("table");
    table_->setHeaderHidden(true);
    // A long reason wraps within the window's width instead of being cut off.
    table_->setWordWrap(true);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table_->setItemDelegate(new WrappingRows(table_));
    connect(table_->header(), &QHeaderView::sectionResized, table_, &QTreeView::doItemsLayout);
    openInFinder_ = new QPushButton(Tr("Show in Folder"), this);
    openInFinder_->setObjectName("openInFinderButton");
    openInFinder_->setEnabled(false);
    auto* save = new QPushButton(Tr("Save as Text..."), this);
    save->setObjectName("saveAsTextButton");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(save);
    buttons->addStretch();
    buttons->addWidget(openInFinder_);
    auto* close = new QPushButton(Tr("Close"), this);
    close->setObjectName("closeButton");
    close->setDefault(true);
    buttons->addWidget(close);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    // Escape closes it as a dialog; Ctrl+W as any window.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this), &QShortcut::activated, this,
            &QWidget::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addLayout(buttons);
    connect(table_, &QTreeWidget::itemSelectionChanged, this, [this] {
        const auto items = table_->selectedItems();
        openInFinder_->setEnabled(items.size() == 1 && items.front()->parent());
    });
    connect(table_, &QTreeWidget::itemDoubleClicked, this, &AddFilesErrorsController::openInFinder);
    connect(openInFinder_, &QPushButton::clicked, this, &AddFilesErrorsController::openInFinder);
    connect(save, &QPushButton::clicked, this, &AddFilesErrorsController::saveAsText);
}

void AddFilesErrorsController::reset() {
    items_.clear();
    table_->clear();
    openInFinder_->setEnabled(false);
}

void AddFilesErrorsController::setPaths(const QStringList& paths, const QString& description) {
    items_.push_back({description, paths});
    auto* group = new QTreeWidgetItem(table_, {description});
    QFont bold = group->font(0);
    bold.setBold(true);
    bold.setPointSize(11);
    group->setFont(0, bold);
    for (const QString& p : paths) new QTreeWidgetItem(group, {p});
    group->setExpanded(true);
}

QString AddFilesErrorsController::text() const {
    QString out;
    for (const Group& g : items_) {
        out += g.description + "\n";
        for (const QString& p : g.paths) out += "\t" + p + "\n";
        out += "\n";
    }
    return out;
}

void AddFilesErrorsController::openInFinder() {
    const auto items = table_->selectedItems();
    if (items.size() != 1 || !items.front()->parent() || !workspace_) return;
    const QString path = items.front()->text(0);
    if (!workspace_->reveal(path) && alerts_)
        AlertFolderNotShown(*alerts_, this, QFileInfo(path).absolutePath());
}

void AddFilesErrorsController::saveAsText() {
    if (!dialogs_) return;
    const QString path = dialogs_->saveFile(this, Tr("Save as Text"), "FileAddErrors.txt");
    if (path.isEmpty()) return;
    QSaveFile file(path);
    const QByteArray bytes = text().toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (alerts_)
            alerts_->run(this, Tr("Error"),
                         FormatObjects(Tr("The file '%@' could not be written."), {path}));
    }
}
