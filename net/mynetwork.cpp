#include "net/mynetwork.h"

#include "net/replywait.h"

#include <QDebug>
#include <QMap>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
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

QString MyNetwork::runCmd(const QString &cmd, std::chrono::milliseconds transferTimeout,
                          std::chrono::milliseconds deadline, qint64 maxSize)
{
    const QString address = m_baseUrl + cmd;
    qDebug().noquote() << "runcmd http: " + address;

    QNetworkRequest request(QUrl(address, QUrl::TolerantMode));
    // Zero is the request's own default: no limit.
    request.setTransferTimeout(int(transferTimeout.count()));
    QNetworkReply *reply = get(request);

    bool givenUp = false;
    const auto giveUp = [reply, &givenUp] {
        givenUp = true;
        reply->abort();
    };
    QTimer deadlineTimer;
    if (deadline > std::chrono::milliseconds::zero()) {
        deadlineTimer.setSingleShot(true);
        connect(&deadlineTimer, &QTimer::timeout, reply, giveUp);
        deadlineTimer.start(deadline);
    }
    QMetaObject::Connection sizeCheck;
    if (maxSize >= 0) {
        sizeCheck =
                connect(reply, &QNetworkReply::downloadProgress, reply, [=](qint64 received, qint64 total) {
                    if (received > maxSize || total > maxSize)
                        giveUp();
                });
    }
    waitUntilFinished(reply);
    // The check refers to this call's state; the reply outlives it a little.
    disconnect(sizeCheck);

    if (!reply->isFinished())
        giveUp();
    const QString body = givenUp ? QString() : QString::fromUtf8(reply->readAll());
    reply->deleteLater();
    return body;
}
