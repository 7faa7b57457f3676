// Shows the certificate question and a permission question in the window,
// with pages from loopback servers, and saves a picture of each:
// fenestra_request_screenshot <certificate.png> <permission.png>.

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
    if (argc < 3)
        return 2;

    TestHttpServer server;
    server.route(
            "/orders",
            TestHttpServer::Response::html(
                    "<html><head><title>订单列表</title></head><body style='font: 16px sans-serif'>"
                    "<h2>订单列表</h2><p>订单 1001 铝合金窗 已发货</p><p>订单 1002 推拉门 待发货</p>"
                    "<script>function ask() { Notification.requestPermission(); }</script></body></html>"));
    server.listen();
    TestHttpServer secure;
    secure.useTls(QStringLiteral(FENESTRA_TEST_TLS_DIR "/localhost.pem"),
                  QStringLiteral(FENESTRA_TEST_TLS_DIR "/localhost.key"));
    secure.listen();

    TemporaryAppDir appDir;
    WindowHarness harness(server.url(QStringLiteral("/orders"), QStringLiteral("localhost")));
    QQuickWindow *window = harness.window();
    if (!window || !harness.waitForCurrentView())
        return 1;
    const auto shown = [&](const QString &loader) {
        return QTest::qWaitFor(
                [&] {
                    const QObject *dialog = harness.madeSoFar(loader);
                    return dialog && dialog->property("opened").toBool();
                },
                20000);
    };

    harness.addTab(QStringLiteral("加载中..."), secure.url(QStringLiteral("/"), QStringLiteral("localhost")));
    if (!shown(QStringLiteral("certificateQuestion")))
        return 1;
    QTest::qWait(500);
    if (!window->grabWindow().save(QString::fromLocal8Bit(argv[1])))
        return 1;
    QMetaObject::invokeMethod(harness.madeSoFar(QStringLiteral("certificateQuestion")), "reject");
    harness.closeTab(1);

    harness.runJavaScript(QStringLiteral("ask()"));
    if (!shown(QStringLiteral("permissionQuestion")))
        return 1;
    QTest::qWait(500);
    return window->grabWindow().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
