#pragma once

#include "testhttpserver.h"

#include <QObject>
#include <QStringList>

#include <memory>
#include <vector>

// Plays every outside party of the shell on loopback: the sign-up site, the
// index service and the company's web application, so that the shell can be
// tried, and tested end to end, with nothing else installed.
class DemoServer : public QObject
{
    Q_OBJECT

public:
    explicit DemoServer(QObject *parent = nullptr);
    ~DemoServer() override;

    // Serves on 127.0.0.1 and [::1] at `port`; may be called for several ports.
    bool listen(quint16 port);

    // What the index service answers for every server path.
    QString codeVersion() const { return m_codeVersion; }
    void setCodeVersion(const QString &version) { m_codeVersion = version; }

    // Adds a script to the pages that clicks through sign-up, login and a
    // download, reporting each step as autopilotStep().
    void setAutopilot(bool enabled) { m_autopilot = enabled; }

    QStringList callbacks() const { return m_callbacks; }

    // Serves the files of a release channel folder (scripts/make-release) at
    // /appindex/fenestra/, where the shell's built-in manifest address points.
    void setReleaseChannel(const QString &folder) { m_channel = folder; }
    // Appends each request for the channel's files to `path` in the combined
    // format, as a web server in front of the channel would, so that the fleet
    // page can be made from it.
    void setAccessLog(const QString &path) { m_accessLog = path; }

Q_SIGNALS:
    void callbackReceived(const QString &file);
    void autopilotStep(const QString &step);
    void requestReceived(const QString &line);

private:
    TestHttpServer::Response answer(const TestHttpServer::Request &request);
    TestHttpServer::Response page(const QString &name, const QString &user = QString()) const;
    TestHttpServer::Response indexService(const QUrlQuery &query) const;
    TestHttpServer::Response channelFile(const TestHttpServer::Request &request) const;

    std::vector<std::unique_ptr<TestHttpServer>> m_servers;
    QString m_channel;
    QString m_accessLog;
    QString m_codeVersion = QStringLiteral("v1");
    QString m_isDomain = QStringLiteral("0");
    QStringList m_callbacks;
    int m_crashReports = 0;
    QByteArray m_priceList;
    QByteArray m_image;
    bool m_autopilot = false;
};
