#include "net/mynetwork.h"

#include <QDebug>
#include <QEventLoop>
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

QString MyNetwork::runCmd(const QString &cmd)
{
    const QString address = m_baseUrl + cmd;
    qDebug().noquote() << "runcmd http: " + address;

    QNetworkReply *reply = get(QNetworkRequest(QUrl(address, QUrl::TolerantMode)));
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();

    const QString body = QString::fromUtf8(reply->readAll());
    reply->deleteLater();
    return body;
}
