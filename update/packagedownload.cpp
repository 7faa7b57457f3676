#include "update/packagedownload.h"

#include "net/boundedfetch.h"

#include <QCryptographicHash>
#include <QNetworkRequest>
#include <QThread>

#include <memory>

PackageDownload::PackageDownload(QNetworkAccessManager *network, QObject *parent)
    : QObject(parent), m_network(network)
{ }

PackageDownload::~PackageDownload()
{
    if (m_verifier)
        m_verifier->wait();
}

void PackageDownload::start(const QList<FetchPlaces::Place> &places, const QString &file, qint64 size,
                            const QByteArray &sha256)
{
    m_places = places;
    m_size = size;
    m_sha256 = sha256;
    m_file.setFileName(file);
    fetchFromNext();
}

void PackageDownload::fetchFromNext()
{
    const QUrl url = m_places.value(m_next++).url;
    const QString file = m_file.fileName();
    m_started = false;
    m_refusal.clear();
    m_remove = false;
    if (m_file.size() > m_size)
        m_file.remove();
    if (!m_file.open(QIODevice::ReadWrite)) {
        finish(QStringLiteral("cannot write %1").arg(file));
        return;
    }
    if (m_file.size() == m_size) {
        verifyThenFinish();
        return;
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    // The bytes as stored: a range of a compressed answer would be another file's.
    request.setRawHeader("Accept-Encoding", "identity");
    m_resumed = m_file.size() > 0;
    if (m_resumed)
        request.setRawHeader("Range", "bytes=" + QByteArray::number(m_file.size()) + '-');
    BoundedFetch::Limits limits;
    // The whole package, which a server that ignores the range sends again.
    limits.maxBytes = m_size;
    limits.stall = std::chrono::milliseconds(stallLimitMs);
    limits.total = std::chrono::milliseconds(timeLimitMs);
    m_fetch = new BoundedFetch(
            m_network, request, limits, [this](QByteArrayView piece) { return take(piece); }, this);
    connect(m_fetch, &BoundedFetch::finished, this, &PackageDownload::ended);
}

bool PackageDownload::take(QByteArrayView piece)
{
    if (!m_started) {
        m_started = true;
        // Only these two answers carry the package; anything else (an error
        // page, a proxy's notice) never reaches the file.
        const int status = m_fetch->status();
        const QByteArray range = m_fetch->rawHeader("Content-Range");
        const QByteArray expected = "bytes " + QByteArray::number(m_file.size()) + '-';
        if (status == 206 && !(m_resumed && range.startsWith(expected))) {
            m_refusal = QStringLiteral("unexpected range %1").arg(QString::fromLatin1(range.left(100)));
            return false;
        }
        if (status != 200 && status != 206) {
            m_refusal = QStringLiteral("HTTP status %1").arg(status);
            return false;
        }
        // A server that ignores the range sends the whole package again.
        if (status == 200 && m_resumed && !m_file.resize(0)) {
            m_refusal = QStringLiteral("cannot write %1").arg(m_file.fileName());
            return false;
        }
        m_file.seek(m_file.size());
    }
    if (m_file.size() + piece.size() > m_size) {
        m_refusal = QStringLiteral("larger than the listed %1 bytes").arg(m_size);
        m_remove = true;
        return false;
    }
    m_fetched += piece.size();
    if (m_file.write(piece.data(), piece.size()) != piece.size()) {
        m_refusal = QStringLiteral("cannot write %1").arg(m_file.fileName());
        return false;
    }
    return true;
}

void PackageDownload::ended()
{
    BoundedFetch *fetch = m_fetch;
    m_fetch = nullptr;
    fetch->deleteLater();
    switch (fetch->outcome()) {
    case BoundedFetch::Outcome::Done:
        break;
    case BoundedFetch::Outcome::Refused:
        if (m_remove)
            m_file.remove();
        finish(m_refusal);
        return;
    case BoundedFetch::Outcome::TooLarge:
        m_file.remove();
        finish(QStringLiteral("larger than the listed %1 bytes").arg(m_size));
        return;
    case BoundedFetch::Outcome::TimedOut:
        finish(QStringLiteral("took too long"));
        return;
    case BoundedFetch::Outcome::ErrorStatus:
        finish(QStringLiteral("refused: %1").arg(fetch->errorString()));
        return;
    default:
        finish(QStringLiteral("download cut short at %1 of %2 bytes: %3")
                       .arg(m_file.size())
                       .arg(m_size)
                       .arg(fetch->errorString()));
        return;
    }
    // An empty answer never called take().
    if (!m_started && fetch->status() != 200 && fetch->status() != 206) {
        finish(QStringLiteral("HTTP status %1").arg(fetch->status()));
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

void PackageDownload::finish(const QString &problem)
{
    if (m_fetch) {
        m_fetch->disconnect(this);
        m_fetch->deleteLater();
        m_fetch = nullptr;
    }
    m_file.close();
    if (!problem.isEmpty() && m_next < m_places.size()) {
        Q_EMIT skipped(m_places.value(m_next - 1).url, problem);
        fetchFromNext();
        return;
    }
    Q_EMIT finished(problem);
}
