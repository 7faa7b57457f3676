#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSslConfiguration>
#include <QUrl>

#include <functional>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 server on the loopback interface for tests and the demo.
// Each path answers with a chosen status, headers and body, and can misbehave
// on purpose: answer late, never answer, drip the body slowly or drop the
// connection half-way. Every request it receives is recorded.
class TestHttpServer : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray method;
        QByteArray target; // path with query, as sent
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;

        QByteArray path() const;
        QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    };

    struct Response
    {
        enum class Delivery {
            Whole, // the whole answer at once
            Stall, // accept the request, never answer
            Drip, // the body in `dripChunk` pieces, one every `dripIntervalMs`
            DropMidBody, // the headers and half of the body, then close
        };

        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        // When set, the body is `body` repeated up to this many bytes, produced as
        // it is sent, so that very large files need no memory.
        qint64 generatedSize = -1;
        bool sendContentLength = true;
        int delayMs = 0;
        Delivery delivery = Delivery::Whole;
        int dripChunk = 1024;
        int dripIntervalMs = 20;

        static Response html(const QByteArray &body, int status = 200);
        static Response text(const QByteArray &body, const QByteArray &type = "text/plain; charset=utf-8",
                             int status = 200);
        static Response redirect(const QByteArray &location, int status = 302);
        Response &withHeader(const QByteArray &name, const QByteArray &value);
        qint64 bodySize() const;
    };

    using Handler = std::function<Response(const Request &)>;

    explicit TestHttpServer(QObject *parent = nullptr);
    ~TestHttpServer() override;

    // Listens on 127.0.0.1 and, when it can, on [::1] with the same port; 0
    // picks a free port.
    bool listen(quint16 port = 0);
    quint16 port() const;

    // Speaks HTTPS with the given certificate and key (PEM files) from the next
    // listen() on; false when they cannot be read.
    bool useTls(const QString &certificateFile, const QString &keyFile);

    // The address of `pathAndQuery` on this server under the given host name.
    QUrl url(const QString &pathAndQuery, const QString &host = QStringLiteral("127.0.0.1")) const;

    // Answers requests for `path` (without query). Unknown paths get 404.
    void route(const QByteArray &path, const Response &response);
    void route(const QByteArray &path, Handler handler);
    // Answers every path that has no route of its own.
    void setFallback(Handler handler) { m_fallback = std::move(handler); }

    QList<Request> requests() const { return m_requests; }
    QList<Request> requestsFor(const QByteArray &path) const;
    void clearRequests() { m_requests.clear(); }

    // Connections that are open, stalled ones included.
    int openConnections() const;

Q_SIGNALS:
    void requestReceived(const TestHttpServer::Request &request);

private:
    struct Connection;

    void accept(QTcpServer *server);
    void readFrom(Connection *connection);
    void respond(Connection *connection, const Request &request);
    void sendMore(Connection *connection);
    void close(Connection *connection);
    // The next `length` bytes of the body, counted as sent.
    static QByteArray nextBodyBlock(Connection *connection, qint64 length);

    QList<QTcpServer *> m_servers;
    QSslConfiguration m_tls;
    QHash<QByteArray, Handler> m_routes;
    Handler m_fallback;
    QList<Request> m_requests;
    QList<Connection *> m_connections;
};
