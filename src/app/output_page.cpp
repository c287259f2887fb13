// The output page's texts and icons, its key equivalents, and emptying.
#include "app/output_page.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QObject>
#include <QStorageInfo>

#include "app/desktop_services.h"

namespace {

constexpr int kIconSize = 32;

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

void ShowIcon(QLabel* label, Workspace& workspace, const QString& path) {
    if (!label) return;
    if (path.isEmpty()) {
        label->clear();
        return;
    }
    label->setPixmap(workspace.icon(path).pixmap(kIconSize, kIconSize));
}

// A folder's path written one way: without "." or ".." steps and without a
// separator at the end.
std::filesystem::path FolderForm(const std::string& path) {
    std::filesystem::path p = std::filesystem::path(path).lexically_normal();
    if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
    return p;
}

}  // namespace

VolumeInfo SystemVolumeOf(const QString& path) {
    const QStorageInfo info(path);
    if (!info.isValid()) return {"/", QStorageInfo::root().displayName()};
    return {info.rootPath(), info.displayName()};
}

OutputFolderView DescribeOutputFolder(const std::string& folder, const VolumeLookup& lookup) {
    OutputFolderView v;
    if (!IsFolder(folder)) {
        v.folderText = Tr("<undefined>");
        return v;
    }
    v.defined = true;
    const QString path = QDir::cleanPath(QString::fromStdString(folder));
    v.folderIconPath = path;
    const VolumeInfo volume = lookup(path);
    const QString root = QDir::cleanPath(volume.rootPath.isEmpty() ? "/" : volume.rootPath);
    v.volumeIconPath = root;
    if (root == "/") {
        const QString name = volume.displayName.isEmpty() ? QStringLiteral("/") : volume.displayName;
        v.volumeText = name + Tr(" (Startup volume)");
        v.folderText = path == "/" ? v.volumeText : path;
    } else {
        v.volumeText = volume.displayName.isEmpty() ? QFileInfo(root).fileName() : volume.displayName;
        const QString relative = QDir(root).relativeFilePath(path);
        v.folderText = relative.isEmpty() || relative == "." ? Tr("(Top level)") : relative;
    }
    return v;
}

OutputPage::OutputPage(OutputPageWidgets widgets, Workspace& workspace, VolumeLookup lookup)
    : w_(widgets),
      workspace_(workspace),
      lookup_(std::move(lookup)),
      receiver_(std::make_unique<QObject>()) {
    // Announced on the thread that changed the folder (a batch's own thread).
    changeToken_ = platform::NotificationCenter::Default().AddObserver(
        platform::kFileSystemChangedNotification, nullptr, [this](const platform::Notification& n) {
            const std::string path = n.object.asString();
            QMetaObject::invokeMethod(
                receiver_.get(), [this, path] { folderChanged(path); }, Qt::QueuedConnection);
        });
}

OutputPage::~OutputPage() {
    // No announcement reaches the page after this, and refreshes still queued
    // go with their receiver.
    platform::NotificationCenter::Default().RemoveObserver(changeToken_);
    receiver_.reset();
}

void OutputPage::folderChanged(const std::string& path) {
    if (!shown_.empty() && FolderForm(shown_) == FolderForm(path)) update(shown_);
}

void OutputPage::update(const std::string& folder) {
    shown_ = folder;
    view_ = DescribeOutputFolder(folder, lookup_);
    ShowIcon(w_.destFolderIcon, workspace_, view_.folderIconPath);
    ShowIcon(w_.destVolumeIcon, workspace_, view_.volumeIconPath);
    if (w_.outputFolderTextField) w_.outputFolderTextField->setText(view_.folderText);
    if (w_.volumeTextField) w_.volumeTextField->setText(view_.volumeText);
    const QKeySequence ret(Qt::Key_Return);
    const QKeySequence choose(Qt::CTRL | Qt::Key_S);
    const QKeySequence show(Qt::CTRL | Qt::ALT | Qt::Key_S);
    if (w_.showInFinderButton) w_.showInFinderButton->setShortcut(view_.defined ? ret : show);
    if (w_.outputFolderButton) w_.outputFolderButton->setShortcut(view_.defined ? choose : ret);
}

bool RemoveEntryAndContents(const std::filesystem::path& entry) {
    std::error_code ec;
    // remove_all looks at the entry itself, so a link goes and its target stays.
    std::filesystem::remove_all(entry, ec);
    return !ec;
}

bool EmptyFolder(const std::filesystem::path& folder, const RemoveEntry& remove) {
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) return false;
    bool all = true;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
        all = remove(it->path()) && all;
    }
    return all && !ec;
}

bool RunEmptyOutputFolder(Alerts& alerts, QWidget* parent, const std::string& folder,
                          const RemoveEntry& remove) {
    const QString path = QString::fromStdString(folder);
    const int answer = alerts.run(
        parent, Tr("Really empty output folder?"),
        FormatObjects(Tr("Are you sure you want to delete all files and folders from '%@' ?\n\n"
                         "This is NOT undoable!"),
                      {path}),
        Tr("Delete All"), Tr("Cancel"));
    if (answer != 1) return false;
    if (EmptyFolder(folder, remove)) {
        alerts.run(parent, Tr("The output folder is now empty"),
                   FormatObjects(Tr("'%@' has been successfully emptied."), {path}));
        return true;
    }
    alerts.run(parent, Tr("The output folder could not be emptied"),
               FormatObjects(Tr("Some files and/or folders from '%@' could not be deleted."), {path}));
    return false;
}
