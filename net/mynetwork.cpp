#include "net/mynetwork.h"

#include "net/replywait.h"

#include <QDebug>
#include <QMap>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

MyNetwork::MyNetwork(const QString &appKey) : m_appKey(appKey) { }

MyNetwork *MyNetwork::getInstance(const QString &appKey)
{
    static QMap<QString, MyNetwork *> registry;

    if (appKey.isEmpty()) {
        qDebug() << "MyNetwork::getInstance() error appKey can not be empty";
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

QString MyNetwork::runCmd(const QString &cmd, std::chrono::milliseconds transferTimeout)
{
    const QString address = m_baseUrl + cmd;
    qDebug().noquote() << "runcmd http: " + address;

    QNetworkRequest request(QUrl(address, QUrl::TolerantMode));
    // Zero is the request's own default: no limit.
    request.setTransferTimeout(int(transferTimeout.count()));
    QNetworkReply *reply = get(request);
    waitUntilFinished(reply);

    const QString body = QString::fromUtf8(reply->readAll());
    reply->deleteLater();
    return body;
}
