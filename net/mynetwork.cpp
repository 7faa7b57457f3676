#include "net/mynetwork.h"

#include "config/logging.h"
#include "net/boundedfetch.h"

#include <QMap>
#include <QNetworkRequest>
#include <QUrl>

MyNetwork::MyNetwork(const QString &appKey) : m_appKey(appKey) { }

MyNetwork *MyNetwork::getInstance(const QString &appKey)
{
    static QMap<QString, MyNetwork *> registry;

    if (appKey.isEmpty()) {
        qCDebug(lcNet) << "MyNetwork::getInstance() error appKey can not be empty";
        return nullptr;
    }
    MyNetwork *&client = registry[appKey];
    if (!client)
        client = new MyNetwork(appKey);
    return client;
}

void MyNetwork::setBaseUrl(const QString &url)
{
    m_baseUrl = url.startsWith(QLatin1String("http://")) ? url : QStringLiteral("http://") + url;
}

QString MyNetwork::runCmd(const QString &cmd, std::chrono::milliseconds transferTimeout,
                          std::chrono::milliseconds deadline, qint64 maxSize)
{
    const QString address = m_baseUrl + cmd;
    qCDebug(lcNet).noquote() << "runcmd http: " + address;

    // An HTTP error status still has its body returned.
    BoundedFetch fetch(this, QNetworkRequest(QUrl(address, QUrl::TolerantMode)),
                       { maxSize, transferTimeout, deadline, true });
    // Ends early, unfinished, when the program leaves meanwhile; the fetch is
    // then given up as it goes.
    fetch.waitForFinished();
    return QString::fromUtf8(fetch.body());
}
