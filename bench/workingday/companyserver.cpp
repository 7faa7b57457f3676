#include "companyserver.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

namespace {

constexpr int orderRows = 300;
constexpr int photosPerPage = 12;
constexpr int photoCount = 6;

int numberOf(const TestHttpServer::Request &request)
{
    return QUrl(QString::fromUtf8(request.target)).query().section(QLatin1Char('='), 1).toInt();
}

QByteArray page(const QByteArray &title, const QByteArray &body)
{
    return "<!doctype html><html><head><meta charset=\"utf-8\"><title>" + title + "</title></head><body>"
            + body + "</body></html>";
}

// A table of orders as the order list shows them.
QByteArray orders(int n)
{
    QByteArray rows;
    for (int row = 0; row < orderRows; ++row) {
        const int id = n * orderRows + row;
        rows += QStringLiteral(
                        "<tr><td>DD%1</td><td>客户%2</td><td>断桥铝平开窗 %3 系列</td><td>%4</td><td>%5</td>"
                        "<td>%6</td><td>%7.00</td></tr>")
                        .arg(id, 8, 10, QLatin1Char('0'))
                        .arg(id % 97)
                        .arg(50 + id % 5 * 5)
                        .arg(600 + id % 13 * 100)
                        .arg(900 + id % 11 * 100)
                        .arg(1 + id % 7)
                        .arg(800 + id % 31 * 45)
                        .toUtf8();
    }
    return page(
            "orders " + QByteArray::number(n),
            "<h1>订单列表</h1><table border=\"1\"><tr><th>订单号</th><th>客户</th><th>型号</th><th>宽</th>"
            "<th>高</th><th>数量</th><th>金额</th></tr>"
                    + rows + "</table>");
}

// Photos of the site, each address new to the engine's cache.
QByteArray photos(int n)
{
    QByteArray images;
    for (int i = 0; i < photosPerPage; ++i) {
        images += "<img width=\"400\" src=\"/photo?n=" + QByteArray::number(n * photosPerPage + i)
                + "\" alt=\"现场照片\">";
    }
    return page("photos " + QByteArray::number(n), "<h1>安装现场</h1>" + images);
}

// A month's deliveries drawn bar by bar on a canvas.
QByteArray chart(int n)
{
    return page("chart " + QByteArray::number(n),
                "<h1>发货统计</h1><canvas id=\"c\" width=\"1600\" height=\"900\"></canvas><script>"
                "const g = document.getElementById('c').getContext('2d');"
                "for (let i = 0; i < 2000; ++i) {"
                "  const h = (Math.sin(i / 40 + "
                        + QByteArray::number(n)
                        + ") + 1.2) * 350;"
                          "  g.fillStyle = 'hsl(' + (i % 360) + ', 60%, 50%)';"
                          "  g.fillRect(i * 0.8, 900 - h, 0.8, h);"
                          "}</script>");
}

// A report the page's script computes from its data and builds element by element.
QByteArray report(int n)
{
    return page("report " + QByteArray::number(n),
                "<h1>月度报表</h1><div id=\"r\"></div><script>"
                "const data = [];"
                "for (let i = 0; i < 5000; ++i)"
                "  data.push({ id: 'DD' + (i + "
                        + QByteArray::number(n * 5000)
                        + "), area: (i % 17) * 0.35 + 0.6, price: 320 + i % 41 });"
                          "const table = document.createElement('table');"
                          "let sum = 0;"
                          "for (const d of data.slice(0, 1000)) {"
                          "  const tr = table.insertRow();"
                          "  tr.insertCell().textContent = d.id;"
                          "  tr.insertCell().textContent = d.area.toFixed(2) + ' 平方米';"
                          "  tr.insertCell().textContent = (d.area * d.price).toFixed(2);"
                          "  sum += d.area * d.price;"
                          "}"
                          "document.getElementById('r').append('合计 ' + sum.toFixed(2), table);"
                          "</script>");
}

// A site photo: a gradient sky and scattered dots, which PNG cannot shrink much.
QByteArray photo(int seed)
{
    QImage image(800, 600, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 600);
    sky.setColorAt(0, QColor::fromHsv(seed * 50 % 360, 120, 230));
    sky.setColorAt(1, QColor::fromHsv(seed * 50 % 360, 200, 90));
    painter.fillRect(image.rect(), sky);
    QRandomGenerator random(seed);
    for (int i = 0; i < 4000; ++i) {
        painter.setPen(QColor::fromRgb(random.generate()));
        painter.drawPoint(random.bounded(800), random.bounded(600));
    }
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace

CompanyServer::CompanyServer()
{
    for (int i = 0; i < photoCount; ++i)
        m_photos.append(photo(i));

    m_http.route("/start", TestHttpServer::Response::html(page("start", "<h1>门窗软件管理</h1>")));
    m_http.route("/orders", [](const TestHttpServer::Request &r) {
        return TestHttpServer::Response::html(orders(numberOf(r)));
    });
    m_http.route("/photos", [](const TestHttpServer::Request &r) {
        return TestHttpServer::Response::html(photos(numberOf(r)));
    });
    m_http.route("/chart", [](const TestHttpServer::Request &r) {
        return TestHttpServer::Response::html(chart(numberOf(r)));
    });
    m_http.route("/report", [](const TestHttpServer::Request &r) {
        return TestHttpServer::Response::html(report(numberOf(r)));
    });
    m_http.route("/photo", [this](const TestHttpServer::Request &r) {
        return TestHttpServer::Response::text(m_photos.at(numberOf(r) % photoCount), "image/png");
    });
    // Drawings and price lists, produced as they are sent.
    TestHttpServer::Response file = TestHttpServer::Response::text("门窗图纸 ", "application/octet-stream");
    file.generatedSize = fileBytes;
    m_http.setFallback([file](const TestHttpServer::Request &r) {
        return r.path().startsWith("/files/")
                ? file
                : TestHttpServer::Response::text("not found", "text/plain", 404);
    });
}

QStringList CompanyServer::pages()
{
    return { QStringLiteral("orders"), QStringLiteral("photos"), QStringLiteral("chart"),
             QStringLiteral("report") };
}

QString CompanyServer::pagePath(const QString &page, int n)
{
    return QStringLiteral("/%1?n=%2").arg(page).arg(n);
}
