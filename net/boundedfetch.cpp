#include "net/boundedfetch.h"

#include <QEventLoop>
#include <QNetworkAccessManager>

BoundedFetch::BoundedFetch(QNetworkAccessManager *network, QNetworkRequest request, const Limits &limits,
                           const Sink &sink, QObject *parent)
    : QObject(parent), m_limits(limits), m_sink(sink), m_url(request.url())
{
    // Zero is the request's own default: no limit.
    request.setTransferTimeout(int(limits.stall.count()));
    watch(network->get(request));
}

BoundedFetch::BoundedFetch(QNetworkAccessManager *network, QNetworkRequest request, const QByteArray &upload,
                           const Limits &limits, QObject *parent)
    : QObject(parent), m_limits(limits), m_url(request.url())
{
    request.setTransferTimeout(int(limits.stall.count()));
    watch(network->post(request, upload));
}

void BoundedFetch::watch(QNetworkReply *reply)
{
    m_reply = reply;
    connect(m_reply, &QNetworkReply::readyRead, this, &BoundedFetch::take);
    connect(m_reply, &QNetworkReply::finished, this, &BoundedFetch::end);
    if (m_limits.total > std::chrono::milliseconds::zero()) {
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] { finish(Outcome::TimedOut); });
        m_deadline.start(m_limits.total);
    }
}

BoundedFetch::~BoundedFetch()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

int BoundedFetch::status() const
{
    return m_reply ? m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() : m_status;
}

QByteArray BoundedFetch::rawHeader(const QByteArray &name) const
{
    if (m_reply)
        return m_reply->rawHeader(name);
    for (const QNetworkReply::RawHeaderPair &header : m_headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return QByteArray();
}

QString BoundedFetch::errorString() const
{
    switch (m_outcome) {
    case Outcome::Running:
    case Outcome::Done:
        return QString();
    case Outcome::TooLarge:
        return QStringLiteral("larger than %1 bytes").arg(m_limits.maxBytes);
    case Outcome::Stalled:
        return QStringLiteral("nothing arrived for %1 ms").arg(m_limits.stall.count());
    case Outcome::TimedOut:
        return QStringLiteral("not complete after %1 ms").arg(m_limits.total.count());
    case Outcome::ErrorStatus:
        return QStringLiteral("HTTP status %1").arg(m_status);
    case Outcome::NetworkError:
        return m_networkError;
    case Outcome::Refused:
        return QStringLiteral("refused after %1 bytes").arg(m_received);
    case Outcome::Aborted:
        return QStringLiteral("given up");
    }
    return QString();
}

void BoundedFetch::abort()
{
    if (!isFinished())
        finish(Outcome::Aborted);
}

void BoundedFetch::waitForFinished()
{
    if (isFinished())
        return;
    QEventLoop loop;
    connect(this, &BoundedFetch::finished, &loop, &QEventLoop::quit);
    loop.exec();
}

bool BoundedFetch::statusAccepted() const
{
    const int code = status();
    // Without a status the answer is no HTTP one (a file, data:); its errors
    // come as network errors.
    return m_limits.acceptErrorStatus || code == 0 || (code >= 200 && code < 300);
}

void BoundedFetch::take()
{
    if (!m_reply || isFinished())
        return;
    if (!statusAccepted()) {
        finish(Outcome::ErrorStatus);
        return;
    }
    const qint64 announced = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (m_limits.maxBytes >= 0 && announced > m_limits.maxBytes) {
        finish(Outcome::TooLarge);
        return;
    }
    // One byte past the bound is enough to know it is too large.
    const qint64 room =
            m_limits.maxBytes >= 0 ? m_limits.maxBytes - m_received + 1 : m_reply->bytesAvailable();
    const QByteArray piece = m_reply->read(qMax<qint64>(0, room));
    m_received += piece.size();
    if (m_limits.maxBytes >= 0 && m_received > m_limits.maxBytes) {
        finish(Outcome::TooLarge);
        return;
    }
    if (piece.isEmpty())
        return;
    if (m_sink) {
        if (!m_sink(piece))
            finish(Outcome::Refused);
    } else {
        m_body.append(piece);
    }
}

void BoundedFetch::end()
{
    if (!m_reply || isFinished())
        return;
    take();
    if (isFinished())
        return;
    const QNetworkReply::NetworkError error = m_reply->error();
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError) {
        // Only the transfer timeout cancels a reply that nobody aborted.
        finish(Outcome::Stalled);
        return;
    }
    // An HTTP error status sets an error of its own; the status alone decides about
    // those. Any other error cut the exchange short, whatever status came first.
    const bool statusError =
            (error >= QNetworkReply::ContentAccessDenied && error < QNetworkReply::ProtocolUnknownError)
            || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
    if (error != QNetworkReply::NoError && !statusError) {
        m_networkError = m_reply->errorString();
        finish(Outcome::NetworkError);
        return;
    }
    finish(statusAccepted() ? Outcome::Done : Outcome::ErrorStatus);
}

void BoundedFetch::finish(Outcome outcome)
{
    m_outcome = outcome;
    m_deadline.stop();
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        m_status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        m_headers = reply->rawHeaderPairs();
        if (m_networkError.isEmpty() && outcome == Outcome::NetworkError)
            m_networkError = reply->errorString();
        reply->disconnect(this);
        if (!reply->isFinished())
            reply->abort();
        reply->deleteLater();
    }
    if (outcome != Outcome::Done)
        m_body.clear();
    Q_EMIT finished();
}
