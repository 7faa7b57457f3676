#pragma once

#include <QNetworkAccessManager>
#include <QString>

#include <chrono>

// An HTTP client known by a short key, carrying the base address of the server
// it talks to. Clients live in a process-wide registry and are never deleted.
class MyNetwork : public QNetworkAccessManager
{
    Q_OBJECT

public:
    // The client registered under `appKey`, created on first use; null for an
    // empty key. Keys are case-sensitive.
    static MyNetwork *getInstance(const QString &appKey);

    // Puts "http://" in front unless the address already begins with it.
    void setBaseUrl(const QString &url);

    // Sends a GET for the base address followed directly by `cmd` and waits in a
    // local event loop for the whole answer. Returns the body as sent (also for
    // an HTTP error status); empty when the request failed on the way.
    // The request has no time limit of its own: a caller that cannot wait
    // forever passes `transferTimeout`, after which a transfer that receives
    // nothing is given up, or `deadline`, after which the request is given up
    // however the server behaves. A body longer than `maxSize` bytes (when not
    // negative) is given up as soon as it is seen. A wait that ends without the
    // request finishing (the program is leaving) gives it up too.
    QString runCmd(const QString &cmd,
                   std::chrono::milliseconds transferTimeout = std::chrono::milliseconds::zero(),
                   std::chrono::milliseconds deadline = std::chrono::milliseconds::zero(),
                   qint64 maxSize = -1);

    QString baseUrl() const { return m_baseUrl; }
    QString appKey() const { return m_appKey; }

private:
    explicit MyNetwork(const QString &appKey);

    QString m_baseUrl;
    const QString m_appKey;
};
