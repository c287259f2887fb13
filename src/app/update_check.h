// The update check: downloads the version list from the address set at build
// time, within a deadline, and tells the user what it found in an alert. Also the
// other web addresses of the Help menu.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class Alerts;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QWidget;
class Workspace;

// The addresses set at build time.
QString VersionListAddress();
QString WebSiteAddress();
QString SupportedTypesAddress();

enum class UpdateOutcome { failed, newerFound, current };

class UpdateCheck : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString address = VersionListAddress();
        QString runningVersion;
        // The whole request's deadline: an answer not complete by then,
        // however steadily its bytes come, counts as none.
        int timeoutMs = 15000;
    };
    UpdateCheck(Alerts& alerts, Workspace& workspace, Options options, QObject* parent = nullptr);
    ~UpdateCheck() override;

    // Starts the download and returns; the alert comes when it ends. A check
    // already under way is left to finish.
    void start(QWidget* alertParent);
    bool running() const { return reply_ != nullptr; }

signals:
    void finished(UpdateOutcome outcome);

private:
    void done();

    Alerts& alerts_;
    Workspace& workspace_;
    Options options_;
    QNetworkAccessManager* network_;
    QNetworkReply* reply_ = nullptr;
    QTimer* deadline_;
    QPointer<QWidget> parent_;
};
