#include "browser/loadfailure.h"
#include "testenvironment.h"
#include "testhttpserver.h"
#include "windowharness.h"

#include <QApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QWebEngineLoadingInfo>
#include <QtTest>
#include <QtWebEngineQuick>

#include <memory>

// What pages are told about the user's language, and the page that stands in
// for a load that failed, in the real window.
class TestLoadFailure : public QObject
{
    Q_OBJECT

private:
    TestHttpServer pages;
    std::unique_ptr<TestHttpServer> startServer;
    quint16 startPort = 0;
    // Free until the tests that retry serve them.
    quint16 hiddenPort = 0;
    quint16 formPort = 0;
    std::unique_ptr<TemporaryAppDir> appDir;
    std::unique_ptr<WindowHarness> harness;

    QString text(int tab, const char *objectName)
    {
        QQuickItem *label = harness->view(tab).child(QLatin1String(objectName));
        if (!label || !label->isVisible())
            return QString();
        return label->property("text").toString();
    }

    QString tabTitle(int tab) { return harness->tabTitle(tab); }

private Q_SLOTS:
    void initTestCase()
    {
        pages.route("/language",
                    TestHttpServer::Response::html(
                            "<!doctype html><html><head><meta charset='utf-8'></head><body>"
                            "<script>const input = document.createElement('input');"
                            "input.required = true;"
                            "document.title = navigator.language + ' ' + input.validationMessage;"
                            "</script>"
                            "</body></html>"));
        // An error status without a page of its own: the engine would show its page.
        pages.route("/missing", TestHttpServer::Response::html(QByteArray(), 404));
        QVERIFY(pages.listen());

        for (quint16 *port : { &startPort, &hiddenPort, &formPort }) {
            TestHttpServer probe;
            QVERIFY(probe.listen());
            *port = probe.port();
        }
        pages.route("/form",
                    TestHttpServer::Response::html(
                            QStringLiteral("<form method='post' action='http://localhost:%1/post'>"
                                           "<input name='order' value='1'></form>"
                                           "<script>document.forms[0].submit()</script>")
                                    .arg(formPort)
                                    .toUtf8()));
    }

    // Opens `address` in a new tab, shows it and waits for its error page.
    int openFailing(const QString &address)
    {
        harness->addTab(QString(), address);
        const int tab = harness->tabCount() - 1;
        harness->setCurrentIndex(tab);
        if (!QTest::qWaitFor([&] { return tabTitle(tab) == QStringLiteral("无法打开"); }, 20000))
            return -1;
        return tab;
    }

    static std::unique_ptr<TestHttpServer> serve(quint16 port, const QByteArray &path,
                                                 const QByteArray &title)
    {
        auto server = std::make_unique<TestHttpServer>();
        server->route(
                path,
                TestHttpServer::Response::html("<html><head><title>" + title + "</title></head></html>"));
        return server->listen(port) ? std::move(server) : nullptr;
    }

    void init()
    {
        if (harness)
            return;
        appDir = std::make_unique<TemporaryAppDir>();
        harness = std::make_unique<WindowHarness>(
                QUrl(QStringLiteral("http://localhost:%1/app/").arg(startPort)));
        QVERIFY(harness->isLoaded());
    }

    void cleanupTestCase()
    {
        harness.reset();
        appDir.reset();
    }

    void pagesAreToldTheUserReadsChinese()
    {
        harness->addTab(QString(), pages.url("/language").toString());
        // The engine's own texts, such as a form's validation message, come from its Chinese catalogue.
        QTRY_COMPARE_WITH_TIMEOUT(tabTitle(1), QStringLiteral("zh-CN 请填写此字段。"), 20000);
        QCOMPARE(pages.requestsFor("/language").constFirst().header("accept-language"),
                 QByteArray("zh-CN,zh;q=0.9"));
    }

    void failedLoadsShowTheWindowsOwnPage_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("namesTheServer");
        QTest::addColumn<bool>("triedAgain");

        QTest::newRow("refused start address")
                << 0 << QStringLiteral("http://localhost:%1/app/").arg(startPort)
                << LoadFailure::describe(QWebEngineLoadingInfo::ConnectionErrorDomain, -102) << true << true;
        QTest::newRow("unknown name")
                << -1 << QStringLiteral("http://fenestra-test.invalid/")
                << LoadFailure::describe(QWebEngineLoadingInfo::ConnectionErrorDomain, -105) << false << true;
        QTest::newRow("HTTP error") << -1 << pages.url("/missing").toString()
                                    << LoadFailure::describe(QWebEngineLoadingInfo::HttpStatusCodeDomain, 404)
                                    << false << false;
    }

    void failedLoadsShowTheWindowsOwnPage()
    {
        QFETCH(int, tab);
        QFETCH(QString, address);
        QFETCH(QString, reason);
        QFETCH(bool, namesTheServer);
        QFETCH(bool, triedAgain);

        if (tab < 0) {
            harness->addTab(QString(), address);
            tab = harness->tabCount() - 1;
        }
        harness->setCurrentIndex(tab);
        QTRY_COMPARE_WITH_TIMEOUT(tabTitle(tab), QStringLiteral("无法打开"), 20000);
        QCOMPARE(text(tab, "errorReason"), reason);
        QVERIFY(text(tab, "errorAddress").contains(address));
        QCOMPARE(text(tab, "errorServer").contains(address), namesTheServer);
        QCOMPARE(text(tab, "errorRetry").contains(QStringLiteral("自动重试")), triedAgain);
        // F5 and 刷新 reload the view: it still holds the failed address.
        QCOMPARE(harness->view(tab).url(), QUrl(address));
        QCOMPARE(harness->view(tab).isTrusted(), false);
    }

    // The server comes up while the tab shows: the page arrives with no input.
    void aShownPageLoadsOnceTheServerIsUp()
    {
        harness->setCurrentIndex(0);
        QTRY_COMPARE_WITH_TIMEOUT(tabTitle(0), QStringLiteral("无法打开"), 20000);
        startServer = serve(startPort, "/app/", "Start");
        QVERIFY(startServer);
        // The waits grow from 3 s; the earlier tests made a few of them.
        QTRY_COMPARE_WITH_TIMEOUT(tabTitle(0), QStringLiteral("Start"), 40000);
        QCOMPARE(startServer->requestsFor("/app/").size(), 1);
        QCOMPARE(text(0, "errorReason"), QString());
        QTRY_VERIFY(harness->currentView().isTrusted());
    }

    // A tab that is not shown does not knock at the server; shown, it tries at once.
    void aHiddenPageWaitsUntilShown()
    {
        const int tab = openFailing(QStringLiteral("http://localhost:%1/hidden").arg(hiddenPort));
        QVERIFY(tab > 0);
        harness->setCurrentIndex(0);
        const std::unique_ptr<TestHttpServer> server = serve(hiddenPort, "/hidden", "Hidden");
        QVERIFY(server);
        QTest::qWait(4500); // past the first wait
        QCOMPARE(server->requestsFor("/hidden").size(), 0);
        harness->setCurrentIndex(tab);
        QTRY_COMPARE_WITH_TIMEOUT(tabTitle(tab), QStringLiteral("Hidden"), 10000);
        harness->closeTab(tab);
    }

    // A form's data reaches the server once, when the user sends it.
    void aSubmittedFormIsNotSentAgain()
    {
        const int tab = openFailing(pages.url("/form").toString());
        QVERIFY(tab > 0);
        QCOMPARE(harness->view(tab).url(), QUrl(QStringLiteral("http://localhost:%1/post").arg(formPort)));
        QCOMPARE(text(tab, "errorRetry"), QString());
        const std::unique_ptr<TestHttpServer> server = serve(formPort, "/post", "Posted");
        QVERIFY(server);
        QTest::qWait(4500);
        QCOMPARE(server->requestsFor("/post").size(), 0);
        QCOMPARE(tabTitle(tab), QStringLiteral("无法打开"));
        harness->closeTab(tab);
    }
};

FENESTRA_TEST_MAIN(TestLoadFailure)
#include "tst_loadfailure.moc"
