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

        // The start address's port is free until the retry test serves it.
        TestHttpServer probe;
        QVERIFY(probe.listen());
        startPort = probe.port();
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

        QTest::newRow("refused start address")
                << 0 << QStringLiteral("http://localhost:%1/app/").arg(startPort)
                << LoadFailure::describe(QWebEngineLoadingInfo::ConnectionErrorDomain, -102) << true;
        QTest::newRow("unknown name")
                << -1 << QStringLiteral("http://fenestra-test.invalid/")
                << LoadFailure::describe(QWebEngineLoadingInfo::ConnectionErrorDomain, -105) << false;
        QTest::newRow("HTTP error") << -1 << pages.url("/missing").toString()
                                    << LoadFailure::describe(QWebEngineLoadingInfo::HttpStatusCodeDomain, 404)
                                    << false;
    }

    void failedLoadsShowTheWindowsOwnPage()
    {
        QFETCH(int, tab);
        QFETCH(QString, address);
        QFETCH(QString, reason);
        QFETCH(bool, namesTheServer);

        if (tab < 0) {
            harness->addTab(QString(), address);
            tab = harness->tabCount() - 1;
        }
        harness->setCurrentIndex(tab);
        QTRY_COMPARE_WITH_TIMEOUT(tabTitle(tab), QStringLiteral("无法打开"), 20000);
        QCOMPARE(text(tab, "errorReason"), reason);
        QVERIFY(text(tab, "errorAddress").contains(address));
        QCOMPARE(text(tab, "errorServer").contains(address), namesTheServer);
        // F5 and 刷新 reload the view: it still holds the failed address.
        QCOMPARE(harness->view(tab).url(), QUrl(address));
        QCOMPARE(harness->view(tab).isTrusted(), false);
    }

    void retryLoadsThePageOnceTheServerIsUp()
    {
        QTRY_COMPARE_WITH_TIMEOUT(tabTitle(0), QStringLiteral("无法打开"), 20000);
        startServer = std::make_unique<TestHttpServer>();
        startServer->route("/app/",
                           TestHttpServer::Response::html("<html><head><title>Start</title></head></html>"));
        QVERIFY(startServer->listen(startPort));

        harness->setCurrentIndex(0);
        QQuickItem *retry = harness->currentView().child(QStringLiteral("errorReload"));
        QVERIFY(retry);
        QTest::mouseClick(harness->window(), Qt::LeftButton, {}, WindowHarness::centreOf(retry));
        QTRY_COMPARE_WITH_TIMEOUT(tabTitle(0), QStringLiteral("Start"), 20000);
        QCOMPARE(startServer->requestsFor("/app/").size(), 1);
        QCOMPARE(text(0, "errorReason"), QString());
        QTRY_VERIFY(harness->currentView().isTrusted());
    }
};

FENESTRA_TEST_MAIN(TestLoadFailure)
#include "tst_loadfailure.moc"
