#include "shellprocess.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTcpSocket>
#include <QtTest>
#include <QtWebEngineQuick>

namespace {

const QByteArray indexPath = "/appindex/index.php";

QByteArray configDocument(quint16 webPort, const QByteArray &codeVersion)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<hallinfo>\n"
           "    <server url=\"http://127.0.0.1\" hid=\"0\" isoffline=\"0\" path=\"acme\"/>\n"
           "    <web port=\""
            + QByteArray::number(webPort)
            + "\"/>\n"
              "    <factory code_version=\""
            + codeVersion
            + "\" app_code=\"\" is_domain=\"0\"/>\n"
              "</hallinfo>\n";
}

} // namespace

class TestStartupSync : public QObject
{
    Q_OBJECT

private:
    TestHttpServer pages;
    QString pageAddress(const QByteArray &version) const
    {
        return QStringLiteral("http://127.0.0.1:%1/acme/%2/")
                .arg(pages.port())
                .arg(QString::fromLatin1(version));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QFileInfo::exists(QStringLiteral(FENESTRA_TEST_SHELL)));
        QVERIFY(pages.listen());
        for (const QByteArray version : { "v1", "v77" })
            pages.route("/acme/" + version + '/',
                        TestHttpServer::Response::html("<html><head><title>Acme " + version
                                                       + "</title></head><body>orders</body></html>"));
    }

    void init() { pages.clearRequests(); }

    // A server that moved to a new code version opens at its new address, with
    // nobody editing the file; a waiting report folder moves into place too.
    void newCodeVersionOpensAtStart()
    {
        TestHttpServer index;
        QVERIFY(index.listen(FENESTRA_TEST_INDEX_PORT));
        index.route(indexPath,
                    TestHttpServer::Response::text(
                            "{\"return\":0,\"data\":{\"is_domain\":\"0\",\"code_version\":\"v77\"}}",
                            "application/json"));

        ShellProcess shell;
        QVERIFY(shell.writeFile(QStringLiteral("config.dll"), configDocument(pages.port(), "v1")));
        QVERIFY(shell.writeFile(QStringLiteral("reports_b/day.rpt"), "report"));
        shell.start();

        QTRY_VERIFY_WITH_TIMEOUT(!pages.requestsFor("/acme/v77/").isEmpty(), 30000);
        QCOMPARE(shell.line(QStringLiteral("---------url")), "---------url" + pageAddress("v77"));
        QCOMPARE(shell.line(QStringLiteral("runcmd http: ")),
                 QStringLiteral("runcmd http: http://127.0.0.1:%1/appindex/index.php"
                                "?r=register/codeVersion&server_path=acme")
                         .arg(FENESTRA_TEST_INDEX_PORT));
        QCOMPARE(index.requests().size(), 1);
        QCOMPARE(index.requests()[0].target, indexPath + "?r=register/codeVersion&server_path=acme");
        QVERIFY(pages.requestsFor("/acme/v1/").isEmpty());

        QVERIFY(shell.readFile(QStringLiteral("config.dll")).contains("code_version=\"v77\""));
        QCOMPARE(shell.readFile(QStringLiteral("reports/day.rpt")), QByteArray("report"));
        QVERIFY(!QFileInfo::exists(shell.appDirPath() + QStringLiteral("/reports_b")));
    }

    // Nothing listens on the index port: the stored address opens at once.
    void unreachableServiceKeepsTheStoredAddress()
    {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, FENESTRA_TEST_INDEX_PORT);
        QVERIFY2(!probe.waitForConnected(2000), "another program listens on the index service port");

        ShellProcess shell;
        QVERIFY(shell.writeFile(QStringLiteral("config.dll"), configDocument(pages.port(), "v1")));
        shell.start();

        QTRY_VERIFY_WITH_TIMEOUT(!pages.requestsFor("/acme/v1/").isEmpty(), 30000);
        QCOMPARE(shell.line(QStringLiteral("---------url")), "---------url" + pageAddress("v1"));
        QVERIFY(shell.readFile(QStringLiteral("config.dll")).contains("code_version=\"v1\""));
    }

    // The service takes the request and never answers: start-up gives up after
    // ten silent seconds and the window opens the stored address.
    void stalledServiceDelaysTheWindowOnlyUntilTheTimeLimit()
    {
        TestHttpServer index;
        QVERIFY(index.listen(FENESTRA_TEST_INDEX_PORT));
        TestHttpServer::Response stalled;
        stalled.delivery = TestHttpServer::Response::Delivery::Stall;
        index.route(indexPath, stalled);

        ShellProcess shell;
        QVERIFY(shell.writeFile(QStringLiteral("config.dll"), configDocument(pages.port(), "v1")));
        shell.start();

        QTRY_VERIFY_WITH_TIMEOUT(!shell.line(QStringLiteral("---------url")).isEmpty(), 30000);
        const qint64 waited = shell.elapsed();
        QCOMPARE(index.requests().size(), 1);
        QCOMPARE(shell.line(QStringLiteral("---------url")), "---------url" + pageAddress("v1"));
        QVERIFY2(waited >= 9500, qPrintable(QStringLiteral("gave up after %1 ms").arg(waited)));
        qInfo("start-up went on %lld ms after launch", waited);

        QTRY_VERIFY_WITH_TIMEOUT(!pages.requestsFor("/acme/v1/").isEmpty(), 30000);
        QCOMPARE(shell.process().state(), QProcess::Running);
    }

    // A termination signal while start-up waits for the index service ends the
    // program at once, with the exit code of a signal later on (0): no window,
    // and nothing written after the signal.
    void terminationDuringTheCheckEndsTheStartUp()
    {
        TestHttpServer index;
        QVERIFY(index.listen(FENESTRA_TEST_INDEX_PORT));
        TestHttpServer::Response stalled;
        stalled.delivery = TestHttpServer::Response::Delivery::Stall;
        index.route(indexPath, stalled);

        ShellProcess shell;
        const QByteArray document = configDocument(pages.port(), "v1");
        QVERIFY(shell.writeFile(QStringLiteral("config.dll"), document));
        QVERIFY(QDir(shell.appDirPath()).mkdir(QStringLiteral("reports_b"))); // moved after the check
        shell.start();
        QTRY_COMPARE_WITH_TIMEOUT(index.requests().size(), 1, 30000);

        shell.process().terminate();
        QVERIFY2(shell.waitForExit(5000), "still running 5 s after the signal");
        QCOMPARE(shell.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(shell.process().exitCode(), 0);
        QVERIFY(!shell.log().contains(QStringLiteral("---------url")));
        QCOMPARE(shell.readFile(QStringLiteral("config.dll")), document);
        QVERIFY(QFileInfo(shell.appDirPath() + QStringLiteral("/reports_b")).isDir());
        QVERIFY(pages.requestsFor("/acme/v1/").isEmpty());
    }
};

FENESTRA_TEST_MAIN(TestStartupSync)
#include "tst_startupsync.moc"
