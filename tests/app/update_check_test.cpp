// The update check against loopback web servers: one serving version lists made
// with plistutil, and small ones in this process that trickle their answer or
// speak https; and the parser's checks of every value it reads.
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/update_check.h"
#include "app/version_list.h"
#include "app_test_support.h"

namespace {

using apptest::PumpUntil;
using apptest::ScriptedAlerts;
using apptest::ScriptedWorkspace;

std::string VersionListXml(const std::string& current, const std::string& oldVersions,
                           const std::string& address) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>Current Version</key>" + current +
           "<key>Old Versions</key>" + oldVersions +
           "<key>DownloadURLDemo</key>" + address + "</dict></plist>";
}

const std::string kGood = VersionListXml(
    "<string>4.1.0</string>", "<array><string>3.9</string><string>4.0.0</string></array>",
    "<string>https://example.org/get</string>");

TEST(VersionList, EveryValueIsChecked) {
    struct Case {
        const char* what;
        std::string bytes;
        bool accepted;
    };
    const std::string oldOnes = "<array><string>4.0.0</string></array>";
    const std::string web = "<string>http://example.org/x</string>";
    const std::vector<Case> cases = {
        {"well formed", kGood, true},
        {"not a property list", "<html>busy</html>", false},
        {"no dictionary", "<plist version=\"1.0\"><array/></plist>", false},
        {"current version a number", VersionListXml("<integer>4</integer>", oldOnes, web), false},
        {"current version empty", VersionListXml("<string></string>", oldOnes, web), false},
        {"old versions a string", VersionListXml("<string>4.1</string>", "<string>4.0.0</string>", web), false},
        {"an old version a number", VersionListXml("<string>4.1</string>", "<array><real>4.0</real></array>", web), false},
        {"no old versions", VersionListXml("<string>4.1</string>", "<array/>", web), true},
        {"address a file", VersionListXml("<string>4.1</string>", oldOnes, "<string>file:///bin/sh</string>"), false},
        {"address a command", VersionListXml("<string>4.1</string>", oldOnes, "<string>xterm -e sh</string>"), false},
        {"address without host", VersionListXml("<string>4.1</string>", oldOnes, "<string>https:///x</string>"), false},
        {"address data", VersionListXml("<string>4.1</string>", oldOnes, "<data>aGk=</data>"), false},
        {"address missing", "<plist version=\"1.0\"><dict><key>Current Version</key><string>4.1</string>"
                            "<key>Old Versions</key><array/></dict></plist>", false},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseVersionList(c.bytes).has_value(), c.accepted) << c.what;
    const auto list = ParseVersionList(kGood);
    ASSERT_TRUE(list);
    EXPECT_TRUE(IsOutdated(*list, "4.0.0"));
    EXPECT_FALSE(IsOutdated(*list, "4.1.0"));
    EXPECT_FALSE(IsOutdated(*list, "5.0"));  // neither current nor old: nothing newer
}

TEST(VersionList, AListFetchedOverHttpsSendsTheUserOnOverHttps) {
    struct Case {
        const char* address;
        bool overHttps;
        bool accepted;
    };
    const Case cases[] = {
        {"https://example.org/get", true, true},   {"HTTPS://example.org/get", true, true},
        {"http://example.org/get", true, false},   {"http://example.org/get", false, true},
        {"https://example.org/get", false, true},  {"https:///get", true, false},
    };
    for (const Case& c : cases) {
        const std::string xml = VersionListXml("<string>4.1.0</string>", "<array/>",
                                               std::string("<string>") + c.address + "</string>");
        EXPECT_EQ(ParseVersionList(xml, c.overHttps).has_value(), c.accepted)
            << c.address << (c.overHttps ? " over https" : " over http");
    }
}

// A web server on the loopback serving one folder; stopped at the end.
class LoopbackServer {
public:
    explicit LoopbackServer(const std::string& folder) {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start("python3", {"-u", "-m", "http.server", "0", "--bind", "127.0.0.1",
                                   "--directory", QString::fromStdString(folder)});
        const QRegularExpression portText("port (\\d+)");
        QString out;
        PumpUntil([&] {
            process_.waitForReadyRead(10);
            out += QString::fromLocal8Bit(process_.readAll());
            return portText.match(out).hasMatch() || process_.state() == QProcess::NotRunning;
        });
        port_ = portText.match(out).captured(1).toInt();
    }
    ~LoopbackServer() {
        process_.kill();
        process_.waitForFinished();
    }
    QString address(const std::string& name) const {
        return QString("http://127.0.0.1:%1/%2").arg(port_).arg(QString::fromStdString(name));
    }
    int port() const { return port_; }

private:
    QProcess process_;
    int port_ = 0;
};

// A port that takes connections and never answers.
class SilentPort {
public:
    SilentPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) == 0 && ::listen(fd_, 4) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~SilentPort() { ::close(fd_); }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A port nothing listens on (bound, then closed).
int ClosedPort() {
    SilentPort p;
    return p.port();
}

// A web server on the loopback inside this process, answering every request
// with one version list: over TLS when given a certificate and key, and one
// byte every `trickleMs` when that is set (the headers come at once).
class InProcessServer {
public:
    struct Tls {
        QSslCertificate certificate;
        QSslKey key;
    };
    InProcessServer(const std::string& body, int trickleMs, std::optional<Tls> tls = {})
        : body_(QByteArray::fromStdString(body)), trickleMs_(trickleMs) {
        if (tls) {
            auto* server = new QSslServer;
            QSslConfiguration config = QSslConfiguration::defaultConfiguration();
            config.setLocalCertificate(tls->certificate);
            config.setPrivateKey(tls->key);
            server->setSslConfiguration(config);
            server_.reset(server);
        } else {
            server_ = std::make_unique<QTcpServer>();
        }
        QObject::connect(server_.get(), &QTcpServer::pendingConnectionAvailable,
                         [this] { acceptAll(); });
        server_->listen(QHostAddress::LocalHost);
    }
    QString address(const char* scheme) const {
        return QString("%1://127.0.0.1:%2/versions.plist").arg(scheme).arg(server_->serverPort());
    }

private:
    void acceptAll() {
        while (QTcpSocket* socket = server_->nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                request_ += socket->readAll();
                if (!request_.contains("\r\n\r\n") || answered_) return;
                answered_ = true;
                answer(socket);
            });
        }
    }
    void answer(QTcpSocket* socket) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\nContent-Length: " +
                      QByteArray::number(body_.size()) + "\r\nConnection: close\r\n\r\n");
        if (trickleMs_ <= 0) {
            socket->write(body_);
            return;
        }
        auto* timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, socket, [this, socket, timer] {
            if (sent_ < body_.size())
                socket->write(body_.mid(sent_++, 1));
            else
                timer->stop();
        });
        timer->start(trickleMs_);
    }

    QByteArray body_;
    int trickleMs_;
    std::unique_ptr<QTcpServer> server_;
    QByteArray request_;
    bool answered_ = false;
    qsizetype sent_ = 0;
};

class UpdateCheckTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    ScriptedAlerts alerts;
    ScriptedWorkspace workspace;

    void SetUp() override {
        if (!testsupport::HaveProgram("python3") || !testsupport::HaveProgram("plistutil"))
            GTEST_SKIP() << "python3 or plistutil missing";
    }
    // A binary version list made from the XML text by plistutil.
    void Serve(const std::string& name, const std::string& xml) {
        testsupport::WriteFile(dir / (name + ".xml"), xml);
        const std::string cmd = "plistutil -i " + (dir / (name + ".xml")) + " -o " + (dir / name) +
                                " -f bin >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    UpdateOutcome Check(const QString& address, const QString& running, int timeoutMs = 5000) {
        UpdateCheck check(alerts, workspace, {address, running, timeoutMs});
        std::optional<UpdateOutcome> outcome;
        QObject::connect(&check, &UpdateCheck::finished, [&](UpdateOutcome o) { outcome = o; });
        check.start(nullptr);
        EXPECT_TRUE(PumpUntil([&] { return outcome.has_value(); }, 20000));
        return outcome.value_or(UpdateOutcome::failed);
    }
};

TEST_F(UpdateCheckTest, AnswersEachServerReply) {
    Serve("versions.plist", kGood);
    testsupport::WriteFile(dir / "malformed.plist", "<plist><dict><key>Current");
    Serve("mistyped.plist", VersionListXml("<integer>5</integer>", "<array/>",
                                           "<string>https://example.org/get</string>"));
    LoopbackServer server(dir.path());
    ASSERT_NE(server.port(), 0);

    alerts.answers = {1};  // Download Now
    EXPECT_EQ(Check(server.address("versions.plist"), "4.0.0"), UpdateOutcome::newerFound);
    ASSERT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(alerts.shown[0].title, "New version found");
    EXPECT_EQ(alerts.shown[0].message,
              "There is a newer version of Corvane: 4.1.0. You are running version 4.0.0. "
              "Would you like to download the new version?");
    EXPECT_EQ(workspace.opened, QStringList{"https://example.org/get"});

    alerts.answers = {0};  // Cancel: nothing opened
    EXPECT_EQ(Check(server.address("versions.plist"), "3.9"), UpdateOutcome::newerFound);
    EXPECT_EQ(workspace.opened.size(), 1);

    EXPECT_EQ(Check(server.address("versions.plist"), "4.1.0"), UpdateOutcome::current);
    EXPECT_EQ(alerts.shown.back().title, "Check for Updates");
    EXPECT_EQ(alerts.shown.back().message,
              "No new versions of Corvane were found. You are using the current version: 4.1.0.");

    for (const char* bad : {"malformed.plist", "mistyped.plist", "missing.plist"}) {
        EXPECT_EQ(Check(server.address(bad), "4.0.0"), UpdateOutcome::failed) << bad;
        EXPECT_EQ(alerts.shown.back().title, "Checking for updates failed") << bad;
    }
}

TEST_F(UpdateCheckTest, NoServerOrALateOneFails) {
    EXPECT_EQ(Check(QString("http://127.0.0.1:%1/versions.plist").arg(ClosedPort()), "4.0.0"),
              UpdateOutcome::failed);
    SilentPort silent;
    ASSERT_NE(silent.port(), 0);
    EXPECT_EQ(Check(QString("http://127.0.0.1:%1/versions.plist").arg(silent.port()), "4.0.0", 300),
              UpdateOutcome::failed);
    ASSERT_EQ(alerts.shown.size(), 2u);
    EXPECT_EQ(alerts.shown[1].title, "Checking for updates failed");
    EXPECT_TRUE(workspace.opened.isEmpty());
}

// The deadline covers the whole request: an answer that keeps trickling in
// still ends it, where a time-out on silence alone would wait for the end.
TEST(UpdateCheckDeadline, ATricklingServerIsCutOffAtTheDeadline) {
    // 40 ms a byte: the list would take about 15 s to arrive whole.
    InProcessServer server(kGood, 40);
    ScriptedAlerts alerts;
    ScriptedWorkspace workspace;
    UpdateCheck check(alerts, workspace, {server.address("http"), "4.0.0", 1000});
    std::optional<UpdateOutcome> outcome;
    QObject::connect(&check, &UpdateCheck::finished, [&](UpdateOutcome o) { outcome = o; });
    QElapsedTimer clock;
    clock.start();
    check.start(nullptr);
    ASSERT_TRUE(PumpUntil([&] { return outcome.has_value(); }, 20000));
    EXPECT_EQ(*outcome, UpdateOutcome::failed);
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_LT(clock.elapsed(), 4000);
    ASSERT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(alerts.shown[0].title, "Checking for updates failed");
}

// A list read over https that sends the user to a plain http download is no
// list: the check fails instead of offering that address.
TEST(UpdateCheckHttps, APlainHttpDownloadInAnHttpsListFails) {
    testsupport::TempDir dir;
    if (!QSslSocket::supportsSsl() || !testsupport::HaveProgram("openssl"))
        GTEST_SKIP() << "no TLS support or no openssl";
    const std::string cert = dir / "cert.pem", key = dir / "key.pem";
    const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                             "-nodes -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 "
                             "-keyout " + key + " -out " + cert + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(QString::fromStdString(cert));
    ASSERT_EQ(certificates.size(), 1);
    QFile keyFile(QString::fromStdString(key));
    ASSERT_TRUE(keyFile.open(QIODevice::ReadOnly));
    const QSslKey privateKey(&keyFile, QSsl::Ec);
    ASSERT_FALSE(privateKey.isNull());
    // This process trusts the made certificate for as long as the test runs.
    struct Trust {
        QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
        explicit Trust(const QSslCertificate& certificate) {
            QSslConfiguration trusting = saved;
            trusting.addCaCertificate(certificate);
            QSslConfiguration::setDefaultConfiguration(trusting);
        }
        ~Trust() { QSslConfiguration::setDefaultConfiguration(saved); }
    } trust(certificates.front());

    struct Case {
        const char* download;
        UpdateOutcome outcome;
    };
    const Case cases[] = {
        {"http://example.org/get", UpdateOutcome::failed},
        {"https://example.org/get", UpdateOutcome::newerFound},
    };
    for (const Case& c : cases) {
        InProcessServer server(
            VersionListXml("<string>4.1.0</string>", "<array><string>4.0.0</string></array>",
                           std::string("<string>") + c.download + "</string>"),
            0, InProcessServer::Tls{certificates.front(), privateKey});
        ScriptedAlerts alerts;
        ScriptedWorkspace workspace;
        alerts.answers = {1};  // Download Now, when offered
        UpdateCheck check(alerts, workspace, {server.address("https"), "4.0.0", 10000});
        std::optional<UpdateOutcome> outcome;
        QObject::connect(&check, &UpdateCheck::finished, [&](UpdateOutcome o) { outcome = o; });
        check.start(nullptr);
        EXPECT_TRUE(PumpUntil([&] { return outcome.has_value(); }, 15000)) << c.download;
        EXPECT_EQ(outcome, c.outcome) << c.download;
        ASSERT_EQ(alerts.shown.size(), 1u) << c.download;
        if (c.outcome == UpdateOutcome::failed) {
            EXPECT_EQ(alerts.shown[0].title, "Checking for updates failed");
            EXPECT_TRUE(workspace.opened.isEmpty());
        } else {
            EXPECT_EQ(workspace.opened, QStringList{c.download});
        }
    }
}

}  // namespace
