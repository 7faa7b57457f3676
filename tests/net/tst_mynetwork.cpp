#include "logcapture.h"
#include "net/mynetwork.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>
#include <QtWebEngineQuick>

using namespace std::chrono_literals;

namespace {

// A loopback port that nothing listens on, so connections to it are refused.
quint16 refusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

class TestMyNetwork : public QObject
{
    Q_OBJECT

private:
    TestHttpServer server;

    MyNetwork *clientFor(const QString &key, const QString &base)
    {
        MyNetwork *client = MyNetwork::getInstance(key);
        client->setBaseUrl(base);
        return client;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(server.listen()); }
    void init() { server.clearRequests(); }

    void registryKeepsOneClientPerKey()
    {
        MyNetwork *first = MyNetwork::getInstance(QStringLiteral("app_index"));
        QVERIFY(first);
        QCOMPARE(first->appKey(), QStringLiteral("app_index"));
        QCOMPARE(first->baseUrl(), QString());
        QVERIFY(first->parent() == nullptr);

        first->setBaseUrl(QStringLiteral("http://index.test/appindex/index.php"));
        QCOMPARE(MyNetwork::getInstance(QStringLiteral("app_index")), first);
        QCOMPARE(first->baseUrl(), QStringLiteral("http://index.test/appindex/index.php"));

        MyNetwork *capitals = MyNetwork::getInstance(QStringLiteral("APP_INDEX"));
        QVERIFY(capitals && capitals != first);
        QCOMPARE(capitals->appKey(), QStringLiteral("APP_INDEX"));
        QCOMPARE(capitals->baseUrl(), QString());
        QVERIFY(MyNetwork::getInstance(QStringLiteral("App_Index")) != first);
    }

    void emptyKeyYieldsNothing()
    {
        LogCapture messages;
        QCOMPARE(MyNetwork::getInstance(QString()), nullptr);
        QCOMPARE(messages.lines(),
                 QStringList { QStringLiteral("MyNetwork::getInstance() error appKey can not be empty") });
        QCOMPARE(MyNetwork::getInstance(QString()), nullptr);
        QCOMPARE(messages.lines().size(), 2);
    }

    void baseUrl_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("stored");
        QTest::newRow("already http") << "http://h.test/a/"
                                      << "http://h.test/a/";
        QTest::newRow("no scheme") << "h.test:81/x"
                                   << "http://h.test:81/x";
        QTest::newRow("empty") << ""
                               << "http://";
        QTest::newRow("capital scheme") << "HTTP://h.test"
                                        << "http://HTTP://h.test";
        QTest::newRow("other scheme") << "https://h.test"
                                      << "http://https://h.test";
        QTest::newRow("spaces kept") << " h.test "
                                     << "http:// h.test ";
    }

    void baseUrl()
    {
        QFETCH(QString, given);
        QFETCH(QString, stored);
        MyNetwork *client = MyNetwork::getInstance(QStringLiteral("base_url"));
        client->setBaseUrl(given);
        QCOMPARE(client->baseUrl(), stored);
    }

    void commandFollowsTheBaseAddress()
    {
        server.route("/appindex/index.php", TestHttpServer::Response::text("{\"门\":1}", "application/json"));
        const QString base = server.url(QStringLiteral("/appindex/index.php")).toString();
        MyNetwork *client = clientFor(QStringLiteral("command"), base);

        LogCapture messages;
        QCOMPARE(client->runCmd(QStringLiteral("?r=a/b&x=1")), QString::fromUtf8("{\"门\":1}"));
        QCOMPARE(messages.lines(), QStringList { "runcmd http: " + base + "?r=a/b&x=1" });

        const QList<TestHttpServer::Request> requests = server.requests();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].method, QByteArray("GET"));
        QCOMPARE(requests[0].target, QByteArray("/appindex/index.php?r=a/b&x=1"));
        QVERIFY(requests[0].body.isEmpty());
    }

    void failuresYieldWhatArrived()
    {
        server.route("/broken", TestHttpServer::Response::html("<h1>down for maintenance</h1>", 500));
        QCOMPARE(clientFor(QStringLiteral("failures"), server.url(QStringLiteral("/")).toString())
                         ->runCmd(QStringLiteral("broken")),
                 QStringLiteral("<h1>down for maintenance</h1>"));
        QCOMPARE(clientFor(QStringLiteral("failures"), server.url(QStringLiteral("/")).toString())
                         ->runCmd(QStringLiteral("nowhere")),
                 QStringLiteral("not found"));

        const QString refused = QStringLiteral("http://127.0.0.1:%1/").arg(refusedPort());
        QCOMPARE(clientFor(QStringLiteral("failures"), refused)->runCmd(QStringLiteral("x")), QString());
    }

    // The wait runs a local event loop: timers and other requests are served
    // meanwhile, and a call made during the wait returns before the outer one.
    void waitingKeepsTheApplicationRunning()
    {
        TestHttpServer::Response slow = TestHttpServer::Response::text("outer");
        slow.delayMs = 600;
        server.route("/slow", slow);
        server.route("/fast", TestHttpServer::Response::text("inner"));
        const QString base = server.url(QStringLiteral("/")).toString();

        QStringList finished;
        QTimer::singleShot(100, this, [&] {
            finished << clientFor(QStringLiteral("inner"), base)->runCmd(QStringLiteral("fast"));
        });
        finished << clientFor(QStringLiteral("outer"), base)->runCmd(QStringLiteral("slow"));
        QCOMPARE(finished, QStringList({ "inner", "outer" }));
    }

    // The time limit counts silence, not the length of the whole exchange.
    void transferTimeoutGivesUpOnSilenceOnly()
    {
        TestHttpServer::Response stalled;
        stalled.delivery = TestHttpServer::Response::Delivery::Stall;
        server.route("/stalled", stalled);
        TestHttpServer::Response dripping = TestHttpServer::Response::text("0123456789");
        dripping.delivery = TestHttpServer::Response::Delivery::Drip;
        dripping.dripChunk = 1;
        dripping.dripIntervalMs = 100;
        server.route("/dripping", dripping);
        MyNetwork *client = clientFor(QStringLiteral("timeouts"), server.url(QStringLiteral("/")).toString());

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(client->runCmd(QStringLiteral("stalled"), 400ms), QString());
        QVERIFY2(clock.elapsed() >= 350, qPrintable(QString::number(clock.elapsed())));

        clock.restart();
        QCOMPARE(client->runCmd(QStringLiteral("dripping"), 400ms), QStringLiteral("0123456789"));
        QVERIFY2(clock.elapsed() >= 800, qPrintable(QString::number(clock.elapsed())));
    }
};

FENESTRA_TEST_MAIN(TestMyNetwork)
#include "tst_mynetwork.moc"
