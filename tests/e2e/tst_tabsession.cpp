// The tabs come back after the real program ended abnormally, and not after a
// normal close.

#include "browser/tabsession.h"
#include "shellprocess.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QtTest>
#include <QtWebEngineQuick>

namespace {

constexpr int startTimeout = 60000;

QByteArray startingAt(const QUrl &address)
{
    // The sign-up form of an address stands for itself: no index service is asked.
    return "<hallinfo><server url=\"" + address.toEncoded() + "\" path=\"register\"/></hallinfo>";
}

} // namespace

class TestTabSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void whatMayComeBack_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("addresses");
        QTest::newRow("the first tab is the start address's")
                << QByteArray("http://a/start\nhttp://a/1\nhttps://b/2?x=%20\n")
                << QStringList { "http://a/1", "https://b/2?x=%20" };
        QTest::newRow("web addresses only")
                << QByteArray("http://a/\njavascript:alert(1)\nfile:///etc/passwd\nhttp://a/ok\n")
                << QStringList { "http://a/ok" };
        QTest::newRow("garbage and empty lines")
                << QByteArray("x\n\n\xff\xfe\nhttp://a/ok\r\nhttp://[x/\n") << QStringList { "http://a/ok" };
        QTest::newRow("an overlong address")
                << "http://a/\nhttp://a/" + QByteArray(TabSession::maxAddressLength, 'x') + "\nhttp://a/ok"
                << QStringList { "http://a/ok" };
        QByteArray many = "http://a/\n";
        for (int tab = 0; tab < TabSession::maxTabs + 10; ++tab)
            many += "http://a/" + QByteArray::number(tab) + '\n';
        QStringList first;
        for (int tab = 0; tab < TabSession::maxTabs; ++tab)
            first << QStringLiteral("http://a/%1").arg(tab);
        QTest::newRow("at most so many tabs") << many << first;
    }

    void whatMayComeBack()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, addresses);
        QCOMPARE(TabSession::readable(file), addresses);
    }

    void tabsComeBackAfterAnAbnormalEndOnly()
    {
        TestHttpServer server;
        int starts = 0;
        server.route("/app/", [&starts](const TestHttpServer::Request &) {
            // Only the first start opens the other tabs itself.
            return TestHttpServer::Response::html(++starts == 1 ? "<title>Start</title><script>window.open('/"
                                                                  "app/a'); window.open('/app/b');</script>"
                                                                : "<title>Start</title>");
        });
        server.route("/app/a", TestHttpServer::Response::html("<title>A</title>"));
        server.route("/app/b", TestHttpServer::Response::html("<title>B</title>"));
        QVERIFY(server.listen());

        ShellProcess shell;
        QVERIFY(shell.writeFile(QStringLiteral("config.dll"), startingAt(server.url("/app/"))));
        shell.start();
        QTRY_VERIFY_WITH_TIMEOUT(shell.readFile(QStringLiteral("session/tabs.txt")).contains("/app/b"),
                                 startTimeout);
        QVERIFY(shell.readFile(QStringLiteral("session/tabs.txt")).contains("/app/a"));

        // A crash, a power cut: nothing of the program runs to its end.
        shell.process().kill();
        QVERIFY(shell.waitForExit(30000));
        shell.start();
        QTRY_COMPARE_WITH_TIMEOUT(server.requestsFor("/app/a").size(), 2, startTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(server.requestsFor("/app/b").size(), 2, startTimeout);
        QCOMPARE(server.requestsFor("/app/").size(), 2);
        QVERIFY(!shell.line(QStringLiteral("the last session ended abnormally; 2 tabs come back")).isEmpty());

        // A normal close leaves nothing to bring back.
        QVERIFY(shell.stop());
        QVERIFY(!QFile::exists(QDir(shell.appDirPath()).filePath(QStringLiteral("session/running"))));
        shell.start();
        QTRY_COMPARE_WITH_TIMEOUT(server.requestsFor("/app/").size(), 3, startTimeout);
        QTest::qWait(2000);
        QCOMPARE(server.requestsFor("/app/a").size(), 2);
        QVERIFY(shell.stop());
    }
};

FENESTRA_TEST_MAIN(TestTabSession)
#include "tst_tabsession.moc"
