// Shows IT's fleet page, made from a plant's access log of two weeks, in the
// window and saves a picture of it: fleetscreenshot <file.png>.

#include "fleet.h"
#include "fleetlog.h"
#include "fleetpage.h"
#include "testenvironment.h"
#include "testhttpserver.h"
#include "windowharness.h"

#include <QApplication>
#include <QBuffer>
#include <QQuickWindow>
#include <QTimeZone>
#include <QtTest>
#include <QtWebEngineQuick>

int main(int argc, char *argv[])
{
    prepareTestEnvironment();
    QtWebEngineQuick::initialize();
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;

    FleetLog::Shape shape;
    shape.lines = 6000;
    shape.desktops = 120;
    QByteArray log = FleetLog::combined(shape);
    QBuffer buffer(&log);
    Fleet fleet;
    if (!fleet.read(buffer))
        return 1;
    const QDateTime now(shape.last, QTime(23, 30), QTimeZone::utc());

    TestHttpServer server;
    server.listen();
    server.route("/fleet.html", TestHttpServer::Response::html(FleetPage::write(fleet, now, 7)));
    TemporaryAppDir appDir;
    WindowHarness harness(server.url(QStringLiteral("/fleet.html")));
    QQuickWindow *window = harness.window();
    if (!window)
        return 1;
    if (!QTest::qWaitFor([&] { return harness.currentView().title() == "Fenestra 桌面电脑概况"; }, 20000))
        return 1;
    QTest::qWait(800);
    return window->grabWindow().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
