#include "demoserver.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QPainter>
#include <QUrlQuery>

namespace {

constexpr qint64 priceListSize = 32 * 1024 * 1024;

QByteArray resource(const QString &name)
{
    QFile file(QStringLiteral(":/demo/pages/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// As nginx writes what a client sent: quotes, backslashes and bytes that are
// not printable ASCII as \xHH, so that a line stays one line of fields.
QByteArray logText(const QByteArray &text)
{
    QByteArray out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f || c == '"' || c == '\\')
            out += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
        else
            out += c;
    }
    return out;
}

// A window frame with four panes: what the company's drawings look like.
QByteArray windowDrawing()
{
    QImage image(320, 240, QImage::Format_ARGB32);
    image.fill(QColor("#f4f7fd"));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor("#1a5fd0"), 10));
    painter.setBrush(QColor("#d3e3fd"));
    painter.drawRect(40, 20, 240, 200);
    painter.drawLine(160, 20, 160, 220);
    painter.drawLine(40, 120, 280, 120);
    painter.end();

    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QString cookieValue(const TestHttpServer::Request &request, const QByteArray &name)
{
    for (const QByteArray &cookie : request.header("cookie").split(';')) {
        const QByteArray trimmed = cookie.trimmed();
        if (trimmed.startsWith(name + '='))
            return QUrl::fromPercentEncoding(trimmed.mid(name.size() + 1));
    }
    return {};
}

QString htmlEscaped(const QString &text)
{
    return text.toHtmlEscaped();
}

} // namespace

DemoServer::DemoServer(QObject *parent) : QObject(parent), m_image(windowDrawing())
{
    m_priceList.reserve(priceListSize);
    const QByteArray line = "DW-1200x1500,断桥铝平开窗,1380.00\n";
    while (m_priceList.size() + line.size() <= priceListSize)
        m_priceList.append(line);
    m_priceList.append(QByteArray(priceListSize - m_priceList.size(), '\n'));
}

DemoServer::~DemoServer() = default;

bool DemoServer::listen(quint16 port)
{
    auto server = std::make_unique<TestHttpServer>();
    server->setFallback([this](const TestHttpServer::Request &request) { return answer(request); });
    if (!server->listen(port))
        return false;
    m_servers.push_back(std::move(server));
    return true;
}

TestHttpServer::Response DemoServer::page(const QString &name, const QString &user) const
{
    QString html = QString::fromUtf8(resource(name));
    html.replace(QStringLiteral("{{version}}"), htmlEscaped(m_codeVersion));
    html.replace(QStringLiteral("{{user}}"), htmlEscaped(user));
    if (m_autopilot)
        html.replace(QStringLiteral("</body>"),
                     QStringLiteral("<script src=\"/demo/autopilot.js\"></script>\n</body>"));
    return TestHttpServer::Response::html(html.toUtf8());
}

TestHttpServer::Response DemoServer::indexService(const QUrlQuery &query) const
{
    if (query.queryItemValue(QStringLiteral("r")) != QLatin1String("register/codeVersion"))
        return TestHttpServer::Response::text("{\"return\":1}", "application/json");
    const QJsonObject reply {
        { "return", 0 },
        { "data", QJsonObject { { "code_version", m_codeVersion }, { "is_domain", m_isDomain } } }
    };
    return TestHttpServer::Response::text(QJsonDocument(reply).toJson(QJsonDocument::Compact),
                                          "application/json");
}

TestHttpServer::Response DemoServer::channelFile(const TestHttpServer::Request &request) const
{
    using Response = TestHttpServer::Response;
    // Only the folder's own files, by plain name.
    const QString name = QString::fromUtf8(request.path().mid(19));
    QFile file(m_channel + QLatin1Char('/') + name);
    const Response response = name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.'))
                    || !file.open(QIODevice::ReadOnly)
            ? Response::text("not found", "text/plain", 404)
            : Response::text(file.readAll(), "application/octet-stream");
    QFile log(m_accessLog);
    if (!m_accessLog.isEmpty() && log.open(QIODevice::WriteOnly | QIODevice::Append)) {
        log.write("127.0.0.1 - - ["
                  + QLocale::c()
                            .toString(QDateTime::currentDateTimeUtc(), QStringLiteral("dd/MMM/yyyy:HH:mm:ss"))
                            .toLatin1()
                  + " +0000] \"" + logText(request.method + ' ' + request.target + " HTTP/1.1") + "\" "
                  + QByteArray::number(response.status) + ' ' + QByteArray::number(response.bodySize())
                  + " \"-\" \"" + logText(request.header("user-agent")) + "\"\n");
    }
    return response;
}

TestHttpServer::Response DemoServer::answer(const TestHttpServer::Request &request)
{
    using Response = TestHttpServer::Response;
    const QByteArray path = request.path();
    const QUrlQuery query(QUrl::fromEncoded(request.target).query());
    Q_EMIT requestReceived(QString::fromUtf8(request.method + ' ' + request.target));

    if (path == "/client-register/register-company")
        return page(QStringLiteral("signup.html"));
    if (path == "/appindex/index.php")
        return indexService(query);
    if (path.startsWith("/appindex/fenestra/") && !m_channel.isEmpty())
        return channelFile(request);
    if (path == "/demo/style.css")
        return Response::text(resource(QStringLiteral("style.css")), "text/css");
    if (path == "/demo/autopilot.js")
        return Response::text(resource(QStringLiteral("autopilot.js")), "text/javascript");
    if (path == "/demo/image.png")
        return Response::text(m_image, "image/png");
    if (path == "/demo/outside")
        return page(QStringLiteral("outside.html"));
    if (path == "/demo/example.html")
        return page(QStringLiteral("bridge-example.html"));
    if (path == "/demo/files/price-list.bin") {
        // Slow enough for the progress window to be seen.
        Response response = Response::text(m_priceList, "application/octet-stream");
        response.delivery = Response::Delivery::Drip;
        response.dripChunk = 256 * 1024;
        response.dripIntervalMs = 15;
        return response;
    }
    if (path == "/demo/callback") {
        const QString file = query.queryItemValue(QStringLiteral("file"), QUrl::FullyDecoded);
        m_callbacks.append(file);
        Q_EMIT callbackReceived(file);
        return Response::text("ok");
    }
    if (path == "/demo/crash-reports" && request.method == "POST") {
        // As a crash server answers: the id it filed the dump under.
        if (!request.body.contains("name=\"upload_file_minidump\""))
            return Response::text("no minidump", "text/plain", 400);
        return Response::text("CrashID=bp-demo-" + QByteArray::number(++m_crashReports));
    }
    if (path == "/demo/callbacks")
        return Response::text(QJsonDocument(QJsonArray::fromStringList(m_callbacks)).toJson(),
                              "application/json");
    if (path == "/demo/version") {
        m_codeVersion = query.queryItemValue(QStringLiteral("code_version"), QUrl::FullyDecoded);
        return Response::text(m_codeVersion.toUtf8());
    }
    if (path == "/demo/login") {
        const QString user =
                QUrlQuery(QString::fromUtf8(request.body).replace(QLatin1Char('+'), QLatin1Char(' ')))
                        .queryItemValue(QStringLiteral("user"), QUrl::FullyDecoded);
        // A session cookie: the shell's profile keeps it across restarts anyway.
        return Response::redirect(request.header("referer").isEmpty() ? "/" : request.header("referer"), 303)
                .withHeader("Set-Cookie", "demo_user=" + QUrl::toPercentEncoding(user) + "; Path=/");
    }
    if (path == "/demo/logout")
        return Response::redirect(request.header("referer").isEmpty() ? "/" : request.header("referer"))
                .withHeader("Set-Cookie", "demo_user=; Path=/; Max-Age=0");
    if (path == "/demo/autopilot") {
        Q_EMIT autopilotStep(query.queryItemValue(QStringLiteral("step"), QUrl::FullyDecoded));
        return Response::text("ok");
    }
    if (path.endsWith("/order.html"))
        return page(QStringLiteral("order.html"));
    if (path.endsWith('/'))
        return page(QStringLiteral("company.html"), cookieValue(request, "demo_user"));
    return Response::text("not found", "text/plain", 404);
}
