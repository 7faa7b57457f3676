#include "testhttpserver.h"

#include <QFile>
#include <QHostAddress>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

struct TestHttpServer::Connection
{
    QTcpSocket *socket = nullptr;
    QByteArray buffer;
    Response response;
    qint64 bodySent = 0;
    qint64 bodyLimit = 0; // how much of the body goes out before the end
    QTimer *dripTimer = nullptr;
    bool answering = false;
};

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

constexpr qint64 sendBlock = 256 * 1024;

} // namespace

QByteArray TestHttpServer::Request::path() const
{
    const int query = target.indexOf('?');
    return query < 0 ? target : target.left(query);
}

TestHttpServer::Response TestHttpServer::Response::html(const QByteArray &body, int status)
{
    return text(body, "text/html; charset=utf-8", status);
}

TestHttpServer::Response TestHttpServer::Response::text(const QByteArray &body, const QByteArray &type,
                                                        int status)
{
    Response response;
    response.status = status;
    response.body = body;
    response.headers.append({ "Content-Type", type });
    return response;
}

TestHttpServer::Response TestHttpServer::Response::redirect(const QByteArray &location, int status)
{
    Response response;
    response.status = status;
    response.headers.append({ "Location", location });
    return response;
}

TestHttpServer::Response &TestHttpServer::Response::withHeader(const QByteArray &name,
                                                               const QByteArray &value)
{
    headers.append({ name, value });
    return *this;
}

qint64 TestHttpServer::Response::bodySize() const
{
    return generatedSize >= 0 ? generatedSize : body.size();
}

TestHttpServer::TestHttpServer(QObject *parent) : QObject(parent) { }

TestHttpServer::~TestHttpServer()
{
    const auto connections = m_connections;
    for (Connection *connection : connections)
        close(connection);
}

bool TestHttpServer::useTls(const QString &certificateFile, const QString &keyFile)
{
    QFile certificate(certificateFile);
    QFile key(keyFile);
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
        return false;
    m_tls = QSslConfiguration::defaultConfiguration();
    m_tls.setLocalCertificate(QSslCertificate(&certificate, QSsl::Pem));
    m_tls.setPrivateKey(QSslKey(&key, QSsl::Rsa, QSsl::Pem));
    return !m_tls.localCertificate().isNull() && !m_tls.privateKey().isNull();
}

bool TestHttpServer::listen(quint16 port)
{
    const auto makeServer = [this]() -> QTcpServer * {
        if (m_tls.localCertificate().isNull())
            return new QTcpServer(this);
        auto *server = new QSslServer(this);
        server->setSslConfiguration(m_tls);
        return server;
    };
    QTcpServer *v4 = makeServer();
    if (!v4->listen(QHostAddress::LocalHost, port)) {
        delete v4;
        return false;
    }
    m_servers.append(v4);
    QTcpServer *v6 = makeServer();
    if (v6->listen(QHostAddress::LocalHostIPv6, v4->serverPort()))
        m_servers.append(v6);
    else
        delete v6;

    // An encrypted connection is pending only once its handshake is done.
    for (QTcpServer *server : std::as_const(m_servers))
        connect(server, &QTcpServer::pendingConnectionAvailable, this, [this, server] { accept(server); });
    return true;
}

quint16 TestHttpServer::port() const
{
    return m_servers.isEmpty() ? 0 : m_servers.first()->serverPort();
}

QUrl TestHttpServer::url(const QString &pathAndQuery, const QString &host) const
{
    const QString scheme =
            m_tls.localCertificate().isNull() ? QStringLiteral("http") : QStringLiteral("https");
    return QUrl(QStringLiteral("%1://%2:%3%4").arg(scheme, host).arg(port()).arg(pathAndQuery));
}

void TestHttpServer::route(const QByteArray &path, const Response &response)
{
    m_routes.insert(path, [response](const Request &) { return response; });
}

void TestHttpServer::route(const QByteArray &path, Handler handler)
{
    m_routes.insert(path, std::move(handler));
}

QList<TestHttpServer::Request> TestHttpServer::requestsFor(const QByteArray &path) const
{
    QList<Request> matching;
    std::copy_if(m_requests.cbegin(), m_requests.cend(), std::back_inserter(matching),
                 [&](const Request &request) { return request.path() == path; });
    return matching;
}

int TestHttpServer::openConnections() const
{
    return int(m_connections.size());
}

void TestHttpServer::accept(QTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        auto *connection = new Connection;
        connection->socket = socket;
        m_connections.append(connection);
        // Timers of a late or dripped answer live on the socket and may still fire
        // after the peer has gone, so the connection lasts as long as the socket.
        connect(socket, &QObject::destroyed, [connection] { delete connection; });
        connect(socket, &QTcpSocket::readyRead, this, [this, connection] { readFrom(connection); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, connection] { sendMore(connection); });
        connect(socket, &QTcpSocket::disconnected, this, [this, connection] { close(connection); });
    }
}

void TestHttpServer::readFrom(Connection *connection)
{
    connection->buffer += connection->socket->readAll();
    if (connection->answering)
        return;

    const int headerEnd = connection->buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;

    Request request;
    const QList<QByteArray> lines = connection->buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                   lines[i].mid(colon + 1).trimmed());
    }
    const qint64 bodyLength = request.header("content-length").toLongLong();
    if (connection->buffer.size() < headerEnd + 4 + bodyLength)
        return;
    request.body = connection->buffer.mid(headerEnd + 4, bodyLength);

    connection->answering = true;
    m_requests.append(request);
    Q_EMIT requestReceived(request);

    const Handler handler = m_routes.value(request.path(), m_fallback);
    connection->response = handler ? handler(request) : Response::text("not found", "text/plain", 404);
    if (connection->response.delayMs > 0) {
        QTimer::singleShot(connection->response.delayMs, connection->socket,
                           [this, connection, request] { respond(connection, request); });
    } else {
        respond(connection, request);
    }
}

void TestHttpServer::respond(Connection *connection, const Request &request)
{
    const Response &response = connection->response;
    // A late answer finds the peer gone.
    if (response.delivery == Response::Delivery::Stall || !m_connections.contains(connection))
        return;

    QByteArray head =
            "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    if (response.sendContentLength)
        head += "Content-Length: " + QByteArray::number(response.bodySize()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    connection->socket->write(head);

    const bool bodyless = request.method == "HEAD" || response.status == 204 || response.status == 304;
    connection->bodyLimit = bodyless ? 0 : response.bodySize();
    if (response.delivery == Response::Delivery::DropMidBody)
        connection->bodyLimit /= 2;

    if (response.delivery == Response::Delivery::Drip) {
        connection->dripTimer = new QTimer(connection->socket);
        connect(connection->dripTimer, &QTimer::timeout, connection->dripTimer, [connection] {
            const qint64 chunk = qMin<qint64>(connection->response.dripChunk,
                                              connection->bodyLimit - connection->bodySent);
            if (chunk > 0)
                connection->socket->write(nextBodyBlock(connection, chunk));
            if (connection->bodySent >= connection->bodyLimit) {
                connection->dripTimer->stop();
                connection->socket->disconnectFromHost();
            }
        });
        connection->dripTimer->start(response.dripIntervalMs);
        return;
    }
    sendMore(connection);
}

// Feeds the body in blocks as the socket drains, so that generated bodies of any
// size stream without being held in memory.
void TestHttpServer::sendMore(Connection *connection)
{
    if (!connection->answering || connection->dripTimer
        || connection->response.delivery == Response::Delivery::Stall)
        return;
    QTcpSocket *socket = connection->socket;
    while (connection->bodySent < connection->bodyLimit && socket->bytesToWrite() < sendBlock)
        socket->write(
                nextBodyBlock(connection, qMin(sendBlock, connection->bodyLimit - connection->bodySent)));
    if (connection->bodySent >= connection->bodyLimit && socket->bytesToWrite() == 0)
        socket->disconnectFromHost();
}

void TestHttpServer::close(Connection *connection)
{
    if (!m_connections.removeOne(connection))
        return;
    connection->socket->disconnect(this);
    if (connection->dripTimer)
        connection->dripTimer->stop();
    connection->socket->abort();
    connection->socket->deleteLater();
}

QByteArray TestHttpServer::nextBodyBlock(Connection *connection, qint64 length)
{
    const Response &response = connection->response;
    QByteArray block;
    if (response.generatedSize >= 0) {
        block.reserve(length);
        const qint64 pattern = qMax<qint64>(1, response.body.size());
        const QByteArray unit = response.body.isEmpty() ? QByteArray("x") : response.body;
        qint64 offset = connection->bodySent % pattern;
        while (block.size() < length) {
            const qint64 take = qMin(pattern - offset, length - block.size());
            block.append(unit.constData() + offset, take);
            offset = 0;
        }
    } else {
        block = response.body.mid(connection->bodySent, length);
    }
    connection->bodySent += length;
    return block;
}
