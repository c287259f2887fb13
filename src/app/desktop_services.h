// The desktop services the controllers use, behind small interfaces so that
// tests script them: alerts, open and save panels, and the workspace (opening
// and revealing files, icons and type names). Also the lookup of interface
// texts by their English key, and a way to run code on the interface thread.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QWidget;

// An interface text by its English key (the key itself when there is no entry).
QString Tr(const char* englishKey);

// The format with its "%@" and "%d" placeholders replaced by `args`, in order.
QString FormatObjects(const QString& format, const QStringList& args);

// Queues `fn` for the interface thread and returns at once (also from it).
void onMain(std::function<void()> fn);

// An alert asked without waiting for its answer (Alerts::ask). The handle
// takes it down unanswered; so does the handle's end.
class AlertQuestion {
public:
    virtual ~AlertQuestion() = default;
    // Takes the question down; its answer callback is never called after this.
    virtual void dismiss() = 0;
    // Neither answered nor dismissed yet.
    virtual bool isUp() const = 0;
};

class Alerts {
public:
    virtual ~Alerts() = default;
    // A modal alert; answers 1 for the default button, 0 for the alternate and
    // -1 for the third. No button names: one default button ("OK").
    virtual int run(QWidget* parent, const QString& title, const QString& message,
                    const QString& defaultButton = QString(),
                    const QString& alternateButton = QString(),
                    const QString& otherButton = QString()) = 0;
    // The same alert, window-modal over `parent`, returning at once: `answered`
    // gets run's answer on this thread when one is given. This default asks
    // through run, so it answers before it returns and gives no handle (for
    // alerts that answer at once, as scripted ones do).
    virtual std::unique_ptr<AlertQuestion> ask(QWidget* parent, const QString& title,
                                               const QString& message,
                                               const QString& defaultButton,
                                               const QString& alternateButton,
                                               const QString& otherButton,
                                               std::function<void(int)> answered) {
        answered(run(parent, title, message, defaultButton, alternateButton, otherButton));
        return nullptr;
    }
};

// Says, in an alert over `parent` with one default button, that no application
// could open `folder` (the workspace answered false).
void AlertFolderNotShown(Alerts& alerts, QWidget* parent, const QString& folder);

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // A file to open with one of the extensions (no dot); empty when cancelled.
    virtual QString openFile(QWidget* parent, const QString& title,
                             const QStringList& extensions) = 0;
    // A path to save to, starting at `suggested`; empty when cancelled.
    virtual QString saveFile(QWidget* parent, const QString& title, const QString& suggested) = 0;
    // A folder; empty when cancelled.
    virtual QString chooseFolder(QWidget* parent, const QString& title) = 0;
};

class Workspace {
public:
    virtual ~Workspace() = default;
    // Opens the file with the desktop's application for it.
    virtual bool open(const QString& path) = 0;
    // Shows the file: opens the folder that holds it.
    virtual bool reveal(const QString& path) = 0;
    virtual QIcon icon(const QString& path) = 0;
    virtual QString typeName(const QString& path) = 0;
    // Told that a file changed on disk (nothing to do on this desktop).
    virtual void noteFileChanged(const QString&) {}
    // Opens a web address in the desktop's browser.
    virtual bool openAddress(const QString& address) { return open(address); }
};

// The real ones: Qt's message boxes (window-modal over a parent), Qt's own
// (non-native) file dialogs, and the desktop services.
class QtAlerts : public Alerts {
public:
    int run(QWidget* parent, const QString& title, const QString& message,
            const QString& defaultButton, const QString& alternateButton,
            const QString& otherButton) override;
    // A message box opened over `parent` (window-modal), a child of it.
    std::unique_ptr<AlertQuestion> ask(QWidget* parent, const QString& title,
                                       const QString& message, const QString& defaultButton,
                                       const QString& alternateButton, const QString& otherButton,
                                       std::function<void(int)> answered) override;
};

class QtFileDialogs : public FileDialogs {
public:
    QString openFile(QWidget* parent, const QString& title, const QStringList& extensions) override;
    QString saveFile(QWidget* parent, const QString& title, const QString& suggested) override;
    QString chooseFolder(QWidget* parent, const QString& title) override;
};

class QtWorkspace : public Workspace {
public:
    bool open(const QString& path) override;
    bool reveal(const QString& path) override;
    QIcon icon(const QString& path) override;
    QString typeName(const QString& path) override;
    bool openAddress(const QString& address) override;
};
