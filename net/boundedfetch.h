#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>

class QNetworkAccessManager;

// One GET (or an upload's POST) that a server cannot make unbounded: it takes at most `maxBytes` of
// body, gives up when nothing arrives for `stall`, and when the whole exchange
// takes longer than `total`. Every request of the program that a server, a
// page or a release channel answers goes through it. The body is kept, or
// handed piece by piece to a sink; either way only the body of an answer whose
// status is accepted is ever seen, so an error page never ends up as content.
class BoundedFetch : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        qint64 maxBytes = -1; // -1: no bound
        std::chrono::milliseconds stall { 0 }; // 0: no bound
        std::chrono::milliseconds total { 0 }; // 0: no bound
        // An answer with an HTTP error status counts, body and all; by default
        // only a 2xx answer does.
        bool acceptErrorStatus = false;
    };

    enum class Outcome {
        Running,
        Done,
        TooLarge, // more than maxBytes announced or received
        Stalled, // nothing arrived for `stall`
        TimedOut, // `total` passed
        ErrorStatus, // an HTTP error status, when not accepted
        NetworkError, // refused, reset, no such host, a broken TLS handshake...
        Refused, // the sink said no
        Aborted, // abort() was called
    };

    // Takes each piece of the body as it arrives; false stops the fetch
    // (Outcome::Refused). Status and headers are readable from within.
    using Sink = std::function<bool(QByteArrayView piece)>;

    // Sends `request` with `network` at once; finished() follows, also for a
    // request that fails at once. With a sink the body is not kept.
    BoundedFetch(QNetworkAccessManager *network, QNetworkRequest request, const Limits &limits,
                 const Sink &sink = {}, QObject *parent = nullptr);
    // The same for a POST of `upload`: `stall` and `total` bound its sending too.
    BoundedFetch(QNetworkAccessManager *network, QNetworkRequest request, const QByteArray &upload,
                 const Limits &limits, QObject *parent = nullptr);
    ~BoundedFetch() override;

    Outcome outcome() const { return m_outcome; }
    bool isFinished() const { return m_outcome != Outcome::Running; }
    bool succeeded() const { return m_outcome == Outcome::Done; }
    // The HTTP status, 0 before an answer or without one.
    int status() const;
    QByteArray rawHeader(const QByteArray &name) const;
    // The body received, without a sink; empty unless succeeded().
    QByteArray body() const { return succeeded() ? m_body : QByteArray(); }
    qint64 bytesReceived() const { return m_received; }
    QUrl url() const { return m_url; }
    // Why it did not succeed, for a log line.
    QString errorString() const;

    // Gives up at once; finished() follows.
    void abort();
    // Returns once finished, running a local event loop meanwhile.
    void waitForFinished();

Q_SIGNALS:
    void finished();

private:
    void watch(QNetworkReply *reply);
    void take();
    void end();
    void finish(Outcome outcome);
    bool statusAccepted() const;

    QPointer<QNetworkReply> m_reply;
    const Limits m_limits;
    const Sink m_sink;
    const QUrl m_url;
    QTimer m_deadline;
    QByteArray m_body;
    qint64 m_received = 0;
    int m_status = 0;
    QList<QNetworkReply::RawHeaderPair> m_headers;
    QString m_networkError;
    Outcome m_outcome = Outcome::Running;
};
