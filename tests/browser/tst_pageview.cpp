// What the window does for the page of a tab, in the real window: find in the
// page, zoom that stays with its tab, and the notice and reload after the page's
// renderer crashed.

#include "windowsuite.h"

#include <QApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>
#include <QtWebEngineQuick>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace {

const QByteArray startPage = "<html><head><title>start</title></head><body>"
                             "<p>apple Apple APPLE pear apple</p><p>pineapple</p>"
                             "</body></html>";

} // namespace

class TestPageView : public WindowSuite
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void findCountsMatches();
    void zoomKeysActOnTheSelectedTabOnly();
    void crashedPageShowsNoticeAndReloads();
};

void TestPageView::initTestCase()
{
    QVERIFY(m_server.listen());
    m_server.route("/start", TestHttpServer::Response::html(startPage));
    m_server.route("/other",
                   TestHttpServer::Response::html("<html><title>other</title><body>apple</body></html>"));
    QVERIFY(openWindow(QStringLiteral("/start"), QStringLiteral("start")));
}

void TestPageView::findCountsMatches()
{
    load(QStringLiteral("/start"));
    // The bar comes into being with its key.
    press(Qt::Key_F, Qt::ControlModifier);
    QQuickItem *field = item(QStringLiteral("findField"));
    QQuickItem *count = item(QStringLiteral("findCount"));
    QVERIFY(field && count);
    const auto shown = [&] { return count->property("text").toString(); };

    QTRY_VERIFY(field->isVisible() && field->hasActiveFocus());
    type(QStringLiteral("apple"));
    // Case does not matter and words inside words count: 4 + 1 + "pineapple".
    QTRY_COMPARE_WITH_TIMEOUT(shown(), QStringLiteral("1/5"), 10000);
    press(Qt::Key_Return);
    QTRY_COMPARE(shown(), QStringLiteral("2/5"));
    press(Qt::Key_F3);
    QTRY_COMPARE(shown(), QStringLiteral("3/5"));
    press(Qt::Key_Return, Qt::ShiftModifier);
    QTRY_COMPARE(shown(), QStringLiteral("2/5"));
    press(Qt::Key_F3, Qt::ShiftModifier);
    QTRY_COMPARE(shown(), QStringLiteral("1/5"));
    press(Qt::Key_Return, Qt::ShiftModifier);
    QTRY_COMPARE(shown(), QStringLiteral("5/5"));

    type(QStringLiteral("zz"));
    QTRY_COMPARE(shown(), QStringLiteral("无结果"));

    // A load starts afresh.
    press(Qt::Key_Backspace);
    press(Qt::Key_Backspace);
    QTRY_COMPARE(shown(), QStringLiteral("1/5"));
    load(QStringLiteral("/other"));
    QCOMPARE(shown(), QString());
    press(Qt::Key_F3);
    QTRY_COMPARE(shown(), QStringLiteral("1/1"));

    press(Qt::Key_Escape);
    QTRY_VERIFY(!field->isVisible());
    QCOMPARE(shown(), QString());
}

void TestPageView::zoomKeysActOnTheSelectedTabOnly()
{
    load(QStringLiteral("/start"));
    m_harness->addTab(QStringLiteral("second"), m_server.url(QStringLiteral("/start")));
    QTRY_COMPARE_WITH_TIMEOUT(m_harness->currentView().title(), QStringLiteral("start"), 10000);
    QCOMPARE(m_harness->currentIndex(), 1);
    const auto zoomOf = [&](int tab) { return qRound(m_harness->view(tab).zoomFactor() * 100); };

    press(Qt::Key_Equal, Qt::ControlModifier);
    QTRY_COMPARE(zoomOf(1), 110);
    press(Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
    QTRY_COMPARE(zoomOf(1), 125);
    QCOMPARE(zoomOf(0), 100);
    press(Qt::Key_Minus, Qt::ControlModifier);
    press(Qt::Key_Minus, Qt::ControlModifier);
    press(Qt::Key_Minus, Qt::ControlModifier);
    QTRY_COMPARE(zoomOf(1), 90);
    QCOMPARE(zoomOf(0), 100);

    // Ctrl+wheel over the page.
    const QPoint centre(m_window->width() / 2, m_window->height() / 2);
    QWheelEvent wheel(centre, m_window->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QGuiApplication::sendEvent(m_window, &wheel);
    QTRY_COMPARE(zoomOf(1), 100);
    QCOMPARE(zoomOf(0), 100);

    // The engine's range ends at 25 % and 500 %.
    m_harness->currentView().setZoomFactor(4.5);
    press(Qt::Key_Equal, Qt::ControlModifier);
    press(Qt::Key_Equal, Qt::ControlModifier);
    QTRY_COMPARE(zoomOf(1), 500);
    m_harness->currentView().setZoomFactor(0.3);
    press(Qt::Key_Minus, Qt::ControlModifier);
    press(Qt::Key_Minus, Qt::ControlModifier);
    QTRY_COMPARE(zoomOf(1), 25);
    press(Qt::Key_0, Qt::ControlModifier);
    QTRY_COMPARE(zoomOf(1), 100);

    // The other tab, selected again, keeps its own factor.
    m_harness->setCurrentIndex(0);
    press(Qt::Key_Minus, Qt::ControlModifier);
    QTRY_COMPARE(zoomOf(0), 90);
    QCOMPARE(zoomOf(1), 100);
    press(Qt::Key_0, Qt::ControlModifier);
    QTRY_COMPARE(zoomOf(0), 100);
    m_harness->closeTab(1);
    m_harness->setCurrentIndex(0);
}

void TestPageView::crashedPageShowsNoticeAndReloads()
{
    load(QStringLiteral("/start"));
    m_harness->addTab(QStringLiteral("second"), m_server.url(QStringLiteral("/other")));
    QTRY_COMPARE_WITH_TIMEOUT(m_harness->currentView().title(), QStringLiteral("other"), 10000);
    m_harness->setCurrentIndex(0);
    const TabView view = m_harness->currentView();
    QQuickItem *notice = view.child(QStringLiteral("crashNotice"));
    QVERIFY(notice && !notice->isVisible());

#ifndef Q_OS_UNIX
    QSKIP("ends the page's process the POSIX way");
#else
    // The first crash: the page comes back by itself.
    m_server.clearRequests();
    const qint64 first = view.renderProcessPid();
    QVERIFY(first > 0);
    QVERIFY(m_harness->view(1).renderProcessPid() != first);
    QCOMPARE(::kill(pid_t(first), SIGKILL), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_server.requestsFor("/start").size(), 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(view.renderProcessPid() > 0 && view.renderProcessPid() != first, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(runJavaScript(QStringLiteral("document.title")).toString(),
                              QStringLiteral("start"), 10000);
    QVERIFY(!notice->isVisible());

    // Again within a minute: the notice, and no second reload by itself.
    QCOMPARE(::kill(pid_t(view.renderProcessPid()), SIGKILL), 0);
    QTRY_VERIFY_WITH_TIMEOUT(notice->isVisible(), 10000);
    QCOMPARE(m_server.requestsFor("/start").size(), 1);
#endif
    QCOMPARE(notice->findChild<QQuickItem *>(QStringLiteral("crashReload"))->property("text").toString(),
             QStringLiteral("重新加载"));

    // The other tab goes on working.
    m_harness->setCurrentIndex(1);
    QCOMPARE(runJavaScript(QStringLiteral("document.title + 1")).toString(), QStringLiteral("other1"));
    m_harness->setCurrentIndex(0);

    m_server.clearRequests();
    click(notice->findChild<QQuickItem *>(QStringLiteral("crashReload")));
    QTRY_VERIFY_WITH_TIMEOUT(!notice->isVisible(), 10000);
    QCOMPARE(runJavaScript(QStringLiteral("document.title")).toString(), QStringLiteral("start"));
    QCOMPARE(m_server.requestsFor("/start").size(), 1);
    m_harness->closeTab(1);
    m_harness->setCurrentIndex(0);
}

FENESTRA_TEST_MAIN(TestPageView)
#include "tst_pageview.moc"
