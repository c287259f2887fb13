// The update check over the network, and the build-time web addresses.
#include "app/update_check.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <QWidget>

#include "app/desktop_services.h"
#include "app/version_list.h"

namespace {
// A version list is a few hundred bytes; an answer past this is not one.
constexpr qint64 kMaxVersionListBytes = 256 * 1024;
}  // namespace

QString VersionListAddress() { return QStringLiteral(CORVANE_VERSION_LIST_URL); }
QString WebSiteAddress() { return QStringLiteral(CORVANE_WEB_SITE_URL); }
QString SupportedTypesAddress() { return QStringLiteral(CORVANE_SUPPORTED_TYPES_URL); }

UpdateCheck::UpdateCheck(Alerts& alerts, Workspace& workspace, Options options, QObject* parent)
    : QObject(parent),
      alerts_(alerts),
      workspace_(workspace),
      options_(std::move(options)),
      network_(new QNetworkAccessManager(this)),
      deadline_(new QTimer(this)) {
    deadline_->setSingleShot(true);
    connect(deadline_, &QTimer::timeout, this, [this] {
        if (reply_) reply_->abort();
    });
}

UpdateCheck::~UpdateCheck() {
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        reply_->deleteLater();
    }
}

void UpdateCheck::start(QWidget* alertParent) {
    if (reply_) return;
    parent_ = alertParent;
    QNetworkRequest request{QUrl(options_.address)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    reply_ = network_->get(request);
    deadline_->start(options_.timeoutMs);
    connect(reply_, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        if (received > kMaxVersionListBytes && reply_) reply_->abort();
    });
    connect(reply_, &QNetworkReply::finished, this, &UpdateCheck::done);
}

void UpdateCheck::done() {
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    deadline_->stop();
    reply->deleteLater();
    std::optional<VersionList> list;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError && (status == 0 || status == 200)) {
        const QByteArray bytes = reply->read(kMaxVersionListBytes + 1);
        // Where the bytes came from, after any redirection.
        const bool overHttps =
            reply->url().scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
        if (bytes.size() <= kMaxVersionListBytes)
            list = ParseVersionList(bytes.toStdString(), overHttps);
    }
    if (!list) {
        alerts_.run(parent_, Tr("Checking for updates failed"),
                    Tr("Could not get info from Quillfen. Please try again later, and make sure "
                       "you have an active connection with the Internet."));
        emit finished(UpdateOutcome::failed);
        return;
    }
    const QString running = options_.runningVersion;
    if (IsOutdated(*list, running.toStdString())) {
        const int answer = alerts_.run(
            parent_, Tr("New version found"),
            FormatObjects(Tr("There is a newer version of Corvane: %@. You are running version "
                             "%@. Would you like to download the new version?"),
                          {QString::fromStdString(list->currentVersion), running}),
            Tr("Download Now"), Tr("Cancel"));
        if (answer == 1) workspace_.openAddress(QString::fromStdString(list->downloadAddress));
        emit finished(UpdateOutcome::newerFound);
        return;
    }
    alerts_.run(parent_, Tr("Check for Updates"),
                FormatObjects(Tr("No new versions of Corvane were found. You are using the "
                                 "current version: %@."),
                              {running}));
    emit finished(UpdateOutcome::current);
}
