// Shows the window with the download list and the find bar on a page from the
// loopback server and saves a picture of it: screenshot <file.png>.

#include "testenvironment.h"
#include "testhttpserver.h"
#include "windowharness.h"

#include <QApplication>
#include <QQuickWindow>
#include <QtTest>
#include <QtWebEngineQuick>

int main(int argc, char *argv[])
{
    prepareTestEnvironment();
    QtWebEngineQuick::initialize();
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;

    TestHttpServer server;
    server.listen();
    server.route("/orders",
                 TestHttpServer::Response::html(
                         "<html><head><title>订单列表</title></head><body style='font: 16px sans-serif'>"
                         "<h2>订单列表</h2><p>订单 1001 铝合金窗 已发货</p><p>订单 1002 推拉门 待发货</p>"
                         "<p>订单 1003 平开窗 已发货</p><a id='a' href='/export'>导出</a>"
                         "<a id='b' href='/labels'>标签</a></body></html>"));
    server.route("/export",
                 TestHttpServer::Response::text(QByteArray(48000, 'x'), "application/vnd.ms-excel")
                         .withHeader("Content-Disposition", "attachment; filename=\"orders.xlsx\""));
    TestHttpServer::Response labels = TestHttpServer::Response::text("label", "application/pdf");
    labels.generatedSize = 8 * 1024 * 1024;
    labels.delivery = TestHttpServer::Response::Delivery::Drip;
    labels.dripChunk = 16384;
    labels.dripIntervalMs = 50;
    server.route("/labels", labels.withHeader("Content-Disposition", "attachment; filename=\"labels.pdf\""));

    TemporaryAppDir appDir;
    WindowHarness harness(server.url(QStringLiteral("/orders")));
    QQuickWindow *window = harness.window();
    if (!window)
        return 1;
    if (!QTest::qWaitFor([&] { return harness.currentView().title() == "订单列表"; }, 20000))
        return 1;

    for (const char *link : { "a", "a", "b" }) {
        harness.runJavaScript(QStringLiteral("document.getElementById('%1').click()").arg(link));
        QTest::qWait(800);
    }
    QObject *findBar = harness.made(QStringLiteral("findBar"));
    QMetaObject::invokeMethod(findBar, "open");
    QTest::qWait(200);
    QObject *field = window->findChild<QObject *>(QStringLiteral("findField"));
    field->setProperty("text", QStringLiteral("已发货"));
    QMetaObject::invokeMethod(findBar, "find", Q_ARG(QVariant, false));
    QTest::qWait(1500);
    return window->grabWindow().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
