#include "testenvironment.h"
#include "testhttpserver.h"
#include "windowharness.h"

#include <QApplication>
#include <QQuickWindow>
#include <QtTest>
#include <QtWebEngineQuick>

#include <memory>

namespace {

QByteArray page(const QByteArray &title, const QByteArray &body = QByteArray())
{
    return "<!doctype html><html><head><title>" + title + "</title></head><body>" + body + "</body></html>";
}

} // namespace

// The real window, loaded the way the program loads it, against pages of a
// loopback server.
class TestWindow : public QObject
{
    Q_OBJECT

private:
    TestHttpServer server;
    std::unique_ptr<TemporaryAppDir> appDir;
    std::unique_ptr<WindowHarness> harness;
    QQuickWindow *window = nullptr;

    QVariant eval(const QString &expression) { return harness->eval(expression); }

    QString tabTitle(int row) { return eval(QStringLiteral("tabModel.get(%1).title").arg(row)).toString(); }

private Q_SLOTS:
    void initTestCase()
    {
        server.route("/app/",
                     TestHttpServer::Response::html(
                             page("Start", "<a id='blank' href='/app/other' target='_blank'>other</a>")));
        server.route("/app/other", TestHttpServer::Response::html(page("Other")));
        server.route("/app/popup", TestHttpServer::Response::html(page("Popup")));
        QVERIFY(server.listen());

        // The start address is put together from the server, its port and the path.
        appDir = std::make_unique<TemporaryAppDir>();
        harness = std::make_unique<WindowHarness>(
                QStringLiteral("<hallinfo><server url=\"localhost\" path=\"app\"/>"
                               "<web port=\"%1\"/></hallinfo>")
                        .arg(server.port())
                        .toUtf8());
        window = harness->window();
        QVERIFY(window);
    }

    void cleanupTestCase()
    {
        harness.reset();
        appDir.reset();
    }

    void opensTheStartAddressInTheFirstTab()
    {
        QCOMPARE(window->title(), QStringLiteral("门窗软件管理"));
        QCOMPARE(window->visibility(), QWindow::Maximized);
        QCOMPARE(eval("tabModel.count").toInt(), 1);
        const QUrl start = server.url("/app/", "localhost");
        QCOMPARE(eval("tabModel.get(0).url").toUrl(), start);
        QTRY_COMPARE(tabTitle(0), QStringLiteral("Start"));
        QCOMPARE(eval("currentView.url").toUrl(), start);
        QCOMPARE(server.requestsFor("/app/").size(), 1);
    }

    void newWindowsOpenAsSelectedTabs()
    {
        eval("currentView.runJavaScript(\"window.open('/app/popup')\")");
        QTRY_COMPARE(eval("tabModel.count").toInt(), 2);
        QCOMPARE(eval("navBar.currentIndex").toInt(), 1);
        QTRY_COMPARE(tabTitle(1), QStringLiteral("Popup"));
        QCOMPARE(eval("currentView.url").toUrl(), server.url("/app/popup", "localhost"));

        // A link with target="_blank" in the first tab also lands at the end.
        eval("navBar.currentIndex = 0");
        eval("currentView.runJavaScript(\"document.getElementById('blank').click()\")");
        QTRY_COMPARE(eval("tabModel.count").toInt(), 3);
        QCOMPARE(eval("navBar.currentIndex").toInt(), 2);
        QTRY_COMPARE(tabTitle(2), QStringLiteral("Other"));
        QCOMPARE(tabTitle(0), QStringLiteral("Start"));
    }

    void navigationKeepsTheTabsFirstAddress()
    {
        eval("navBar.currentIndex = 0");
        eval(QStringLiteral("currentView.url = '%1'").arg(server.url("/app/other", "localhost").toString()));
        QTRY_COMPARE(tabTitle(0), QStringLiteral("Other"));
        QCOMPARE(eval("tabModel.get(0).url").toUrl(), server.url("/app/", "localhost"));
        QCOMPARE(eval("tabModel.count").toInt(), 3);
        QTRY_VERIFY(eval("currentView.canGoBack && !currentView.loading").toBool());
        eval("currentView.goBack()");
        QTRY_COMPARE(tabTitle(0), QStringLiteral("Start"));
    }

    // The first row's address is a URL value; a later one given as text must
    // open all the same.
    void tabsOpenAddressesGivenAsText()
    {
        const int tabs = eval("tabModel.count").toInt();
        eval(QStringLiteral("addTab('text', '%1')").arg(server.url("/app/popup", "localhost").toString()));
        QCOMPARE(eval("tabModel.count").toInt(), tabs + 1);
        QTRY_COMPARE(tabTitle(tabs), QStringLiteral("Popup"));
        eval(QStringLiteral("tabModel.remove(%1)").arg(tabs));
    }

    void f5ReloadsTheSelectedTabOnly()
    {
        eval("navBar.currentIndex = 1");
        QTRY_COMPARE(eval("currentView.loading").toBool(), false);
        const auto popupLoads = server.requestsFor("/app/popup").size();
        const auto startLoads = server.requestsFor("/app/").size();
        const auto otherLoads = server.requestsFor("/app/other").size();

        window->requestActivate();
        QTest::keyClick(window, Qt::Key_F5);
        QTRY_COMPARE(server.requestsFor("/app/popup").size(), popupLoads + 1);
        QTest::qWait(300);
        QCOMPARE(server.requestsFor("/app/").size(), startLoads);
        QCOMPARE(server.requestsFor("/app/other").size(), otherLoads);
    }
};

FENESTRA_TEST_MAIN(TestWindow)
#include "tst_window.moc"
