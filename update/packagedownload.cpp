#include "update/packagedownload.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>

#include <memory>

PackageDownload::PackageDownload(QNetworkAccessManager *network, QObject *parent)
    : QObject(parent), m_network(network)
{
    m_timeLimit.setSingleShot(true);
    m_timeLimit.setInterval(timeLimitMs);
    connect(&m_timeLimit, &QTimer::timeout, this, [this] { finish(QStringLiteral("took too long")); });
}

PackageDownload::~PackageDownload()
{
    if (m_verifier)
        m_verifier->wait();
}

void PackageDownload::start(const QUrl &url, const QString &file, qint64 size, const QByteArray &sha256)
{
    m_url = url;
    m_size = size;
    m_sha256 = sha256;
    m_file.setFileName(file);
    if (m_file.size() > m_size)
        m_file.remove();
    if (!m_file.open(QIODevice::ReadWrite)) {
        finish(QStringLiteral("cannot write %1").arg(file));
        return;
    }
    m_timeLimit.start();
    if (m_file.size() == m_size) {
        verifyThenFinish();
        return;
    }
    request();
}

void PackageDownload::request()
{
    QNetworkRequest request(m_url);
    // A stalled connection is given up; the partial file waits for the next try.
    request.setTransferTimeout(60 * 1000);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    m_resumed = m_file.size() > 0;
    if (m_resumed)
        request.setRawHeader("Range", "bytes=" + QByteArray::number(m_file.size()) + '-');
    m_started = false;
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::readyRead, this, &PackageDownload::take);
    connect(m_reply, &QNetworkReply::finished, this, &PackageDownload::end);
}

void PackageDownload::take()
{
    if (!m_reply)
        return;
    if (!m_started) {
        m_started = true;
        const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray range = m_reply->rawHeader("Content-Range");
        const QByteArray expected = "bytes " + QByteArray::number(m_file.size()) + '-';
        if (status == 206 && !(m_resumed && range.startsWith(expected))) {
            finish(QStringLiteral("unexpected range %1").arg(QString::fromLatin1(range.left(100))));
            return;
        }
        // A server that ignores the range sends the whole package again.
        if (status == 200 && m_resumed && !m_file.resize(0)) {
            finish(QStringLiteral("cannot write %1").arg(m_file.fileName()));
            return;
        }
        m_file.seek(m_file.size());
    }
    const QByteArray data = m_reply->read(m_size - m_file.size() + 1);
    if (m_file.size() + data.size() > m_size) {
        m_file.remove();
        finish(QStringLiteral("larger than the listed %1 bytes").arg(m_size));
        return;
    }
    if (m_file.write(data) != data.size())
        finish(QStringLiteral("cannot write %1").arg(m_file.fileName()));
}

void PackageDownload::end()
{
    if (!m_reply)
        return;
    take();
    if (!m_reply)
        return;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_reply->error() != QNetworkReply::NoError || (status != 200 && status != 206)) {
        finish(QStringLiteral("download cut short at %1 of %2 bytes: %3")
                       .arg(m_file.size())
                       .arg(m_size)
                       .arg(m_reply->errorString()));
        return;
    }
    if (m_file.size() != m_size) {
        finish(QStringLiteral("download cut short at %1 of %2 bytes").arg(m_file.size()).arg(m_size));
        return;
    }
    verifyThenFinish();
}

void PackageDownload::verifyThenFinish()
{
    dropReply();
    m_timeLimit.stop();
    m_file.close();
    auto matches = std::make_shared<bool>(false);
    m_verifier = QThread::create([path = m_file.fileName(), expected = m_sha256, matches] {
        QFile file(path);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        *matches = file.open(QIODevice::ReadOnly) && hash.addData(&file) && hash.result().toHex() == expected;
    });
    connect(m_verifier, &QThread::finished, m_verifier, &QObject::deleteLater);
    connect(m_verifier, &QThread::finished, this, [this, matches] {
        if (*matches) {
            finish(QString());
            return;
        }
        m_file.remove();
        finish(QStringLiteral("wrong SHA-256, package deleted"));
    });
    m_verifier->start(QThread::LowPriority);
}

void PackageDownload::dropReply()
{
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void PackageDownload::finish(const QString &problem)
{
    dropReply();
    m_timeLimit.stop();
    m_file.close();
    Q_EMIT finished(problem);
}
