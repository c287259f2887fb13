// The main window's output page: the output folder's icon, path and volume, the
// key equivalents of its two buttons, and emptying the folder. The volume comes
// from an injected lookup so that tests describe any mount they like. The page
// refreshes itself when the folder it shows is announced as changed.
#pragma once

#include <QString>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/notification_center.h"

class Alerts;
class QAbstractButton;
class QLabel;
class QObject;
class QWidget;
class Workspace;

struct VolumeInfo {
    QString rootPath;     // the mount's root, "/" for the startup volume
    QString displayName;  // the mount's name
};
using VolumeLookup = std::function<VolumeInfo(const QString& path)>;

// The mount that holds `path`, from the system's storage information.
VolumeInfo SystemVolumeOf(const QString& path);

// What the page shows for an output folder.
struct OutputFolderView {
    bool defined = false;    // the folder is set and is a folder
    QString folderText;      // "<undefined>" when not defined
    QString volumeText;      // empty when not defined
    QString folderIconPath;  // empty: no icon
    QString volumeIconPath;
};
OutputFolderView DescribeOutputFolder(const std::string& folder, const VolumeLookup& lookup);

struct OutputPageWidgets {
    QLabel* destFolderIcon = nullptr;
    QLabel* outputFolderTextField = nullptr;
    QLabel* destVolumeIcon = nullptr;
    QLabel* volumeTextField = nullptr;
    QAbstractButton* outputFolderButton = nullptr;
    QAbstractButton* showInFinderButton = nullptr;
};

class OutputPage {
public:
    // Made on the interface thread. From then on, a change of the folder shown
    // announced on any thread (platform::noteFileSystemChanged) shows it anew on
    // the interface thread.
    OutputPage(OutputPageWidgets widgets, Workspace& workspace,
               VolumeLookup lookup = SystemVolumeOf);
    ~OutputPage();
    OutputPage(const OutputPage&) = delete;
    OutputPage& operator=(const OutputPage&) = delete;
    // Shows `folder`; Return shows a defined folder and chooses one otherwise
    // (the other button takes Ctrl+S, or Ctrl+Alt+S for showing).
    void update(const std::string& folder);
    const OutputFolderView& view() const { return view_; }

private:
    void folderChanged(const std::string& path);

    OutputPageWidgets w_;
    Workspace& workspace_;
    VolumeLookup lookup_;
    OutputFolderView view_;
    std::string shown_;                  // the folder last shown
    std::unique_ptr<QObject> receiver_;  // takes refreshes to the interface thread
    platform::NotificationCenter::Token changeToken_ = 0;
};

// Removes one top-level item of a folder being emptied: a folder with its
// contents, a symbolic link itself (never its target). False when it failed.
using RemoveEntry = std::function<bool(const std::filesystem::path&)>;
bool RemoveEntryAndContents(const std::filesystem::path& entry);

// Removes every top-level item of `folder`; true when all went.
bool EmptyFolder(const std::filesystem::path& folder, const RemoveEntry& remove = RemoveEntryAndContents);

// The "Empty Output Folder" command: asks first, empties, and reports the
// outcome in an alert. True when the folder was emptied.
bool RunEmptyOutputFolder(Alerts& alerts, QWidget* parent, const std::string& folder,
                          const RemoveEntry& remove = RemoveEntryAndContents);
