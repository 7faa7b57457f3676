// The bar in the real window: start-up reads a config.dll that points at a
// loopback page, and the test drives the bar with the mouse.
#include "testenvironment.h"
#include "testhttpserver.h"
#include "windowharness.h"

#include <QApplication>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QWheelEvent>
#include <QtTest>
#include <QtWebEngineQuick>

#include <memory>

class TestNavBarWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void backAndForwardActOnTheSelectedTab();
    void overflowBoundaryAndResize();
    void scrollButtonsStopAtTheEnds();
    void tabChangesScrollAStepRight();
    void pointerDoesNotScrollTheStrip();
    void closingRemovesOneTabAndItsView();
    void closingTheLastTabQuits();

private:
    QVariant eval(const QString &expression) { return m_harness->eval(expression); }
    qreal number(const QString &expression) { return eval(expression).toReal(); }
    QPoint centre(const QString &item) { return m_harness->centreOf(item); }
    void click(const QString &item);
    void keepTabs(int count);
    void addBlankTabs(int count);
    void setWindowWidth(int width);

    TestHttpServer m_server;
    std::unique_ptr<TemporaryAppDir> m_appDir;
    std::unique_ptr<WindowHarness> m_harness;
    QQuickWindow *m_window = nullptr;
};

void TestNavBarWindow::click(const QString &item)
{
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre(item));
}

// Leaves the first `count` tabs, removing the others from the model.
void TestNavBarWindow::keepTabs(int count)
{
    eval(QStringLiteral("while (tabModel.count > %1) tabModel.remove(tabModel.count - 1)").arg(count));
    eval(QStringLiteral("navBar.currentIndex = 0; flickable.contentX = 0"));
}

void TestNavBarWindow::addBlankTabs(int count)
{
    for (int i = 0; i < count; ++i)
        eval(QStringLiteral("addTab('blank', Qt.resolvedUrl('about:blank'))"));
}

void TestNavBarWindow::setWindowWidth(int width)
{
    m_window->setWindowStates(Qt::WindowNoState);
    m_window->resize(width, 600);
    QTRY_COMPARE(number(QStringLiteral("row.width")), qreal(width));
}

void TestNavBarWindow::initTestCase()
{
    m_server.route("/start",
                   TestHttpServer::Response::html(
                           "<html><head><title>Start</title></head><body>start</body></html>"));
    m_server.route("/second",
                   TestHttpServer::Response::html(
                           "<html><head><title>Second</title></head><body>second</body></html>"));
    m_server.route("/other",
                   TestHttpServer::Response::html(
                           "<html><head><title>Other</title></head><body>other</body></html>"));
    QVERIFY(m_server.listen());

    m_appDir = std::make_unique<TemporaryAppDir>();
    m_harness = std::make_unique<WindowHarness>(m_server.url(QStringLiteral("/start")));
    // The engine's quit would end the application; the last test watches for it instead.
    QObject::disconnect(m_harness->engine(), &QQmlEngine::quit, QCoreApplication::instance(), nullptr);
    m_window = m_harness->window();
    QVERIFY(m_window);
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QTRY_COMPARE_WITH_TIMEOUT(eval(QStringLiteral("tabModel.get(0).title")).toString(),
                              QStringLiteral("Start"), 20000);
}

void TestNavBarWindow::cleanupTestCase()
{
    m_harness.reset();
    m_appDir.reset();
}

void TestNavBarWindow::backAndForwardActOnTheSelectedTab()
{
    const QString start = m_server.url(QStringLiteral("/start")).toString();
    const QString second = m_server.url(QStringLiteral("/second")).toString();
    const QString other = m_server.url(QStringLiteral("/other")).toString();
    const QString url0 = QStringLiteral("webEngineViewRepeater.itemAt(0).url.toString()");
    const QString url1 = QStringLiteral("webEngineViewRepeater.itemAt(1).url.toString()");

    // No history yet: both buttons ignore the pointer.
    QCOMPARE(eval(QStringLiteral("backBtn.mouseEnable")).toBool(), false);
    QTest::mouseMove(m_window, centre(QStringLiteral("backBtn")));
    click(QStringLiteral("backBtn"));
    QTest::qWait(100);
    QCOMPARE(eval(QStringLiteral("Qt.colorEqual(backBtn.color, 'transparent')")).toBool(), true);
    QCOMPARE(eval(url0).toString(), start);

    eval(QStringLiteral("currentView.url = '%1'").arg(second));
    QTRY_COMPARE_WITH_TIMEOUT(eval(QStringLiteral("backBtn.mouseEnable")).toBool(), true, 20000);

    // A second tab with its own, single page: back is off there.
    eval(QStringLiteral("addTab('other', Qt.resolvedUrl('%1'))").arg(other));
    QTRY_COMPARE_WITH_TIMEOUT(eval(QStringLiteral("tabModel.get(1).title")).toString(),
                              QStringLiteral("Other"), 20000);
    QCOMPARE(eval(QStringLiteral("navBar.currentIndex")).toInt(), 1);
    QCOMPARE(eval(QStringLiteral("backBtn.mouseEnable")).toBool(), false);

    // Back on the first tab goes back there only.
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier,
                      eval(QStringLiteral("navBar.itemAt(0).mapToItem(null, 40, 20)")).toPointF().toPoint());
    QCOMPARE(eval(QStringLiteral("navBar.currentIndex")).toInt(), 0);
    QTRY_COMPARE(eval(QStringLiteral("backBtn.mouseEnable")).toBool(), true);
    click(QStringLiteral("backBtn"));
    QTRY_COMPARE_WITH_TIMEOUT(eval(url0).toString(), start, 20000);
    QCOMPARE(eval(url1).toString(), other);

    QTRY_COMPARE(eval(QStringLiteral("row.children[1].mouseEnable")).toBool(), true);
    click(QStringLiteral("row.children[1]"));
    QTRY_COMPARE_WITH_TIMEOUT(eval(url0).toString(), second, 20000);
    QCOMPARE(eval(url1).toString(), other);

    // Closing the selected first tab hands the buttons to the tab that becomes first.
    eval(QStringLiteral("currentView.url = '%1'").arg(start));
    QTRY_COMPARE_WITH_TIMEOUT(eval(QStringLiteral("currentView.canGoBack")).toBool(), true, 20000);
    eval(QStringLiteral("webEngineViewRepeater.itemAt(1).url = '%1'").arg(second));
    QTRY_COMPARE_WITH_TIMEOUT(eval(QStringLiteral("webEngineViewRepeater.itemAt(1).canGoBack")).toBool(),
                              true, 20000);
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier,
                      eval(QStringLiteral("navBar.itemAt(0).mapToItem(null, 109, 20)")).toPointF().toPoint());
    QTRY_COMPARE(eval(QStringLiteral("tabModel.count")).toInt(), 1);
    QCOMPARE(eval(QStringLiteral("navBar.currentIndex")).toInt(), 0);
    QTRY_COMPARE(eval(QStringLiteral("backBtn.mouseEnable")).toBool(), true);
    click(QStringLiteral("backBtn"));
    QTRY_COMPARE_WITH_TIMEOUT(eval(url0).toString(), other, 20000);
}

void TestNavBarWindow::overflowBoundaryAndResize()
{
    keepTabs(1);
    const int base = int(number(QStringLiteral("row.baseWidth")));
    QVERIFY(base > 0);
    const int fitting = 5;
    setWindowWidth(base + fitting * 120);
    addBlankTabs(fitting - 1);

    const QString rightEdge = QStringLiteral("row.children[row.children.length - 1].x"
                                             " + row.children[row.children.length - 1].width");
    // Exactly as wide as the room: no scroll buttons.
    QCOMPARE(eval(QStringLiteral("leftSlide.visible || rightSlide.visible")).toBool(), false);
    QCOMPARE(number(QStringLiteral("flickable.width")), qreal(fitting * 120));
    QCOMPARE(number(rightEdge), qreal(base + fitting * 120));

    addBlankTabs(1);
    QCOMPARE(eval(QStringLiteral("leftSlide.visible && rightSlide.visible")).toBool(), true);
    const qreal slide = number(QStringLiteral("leftSlide.width"));
    QVERIFY(slide > 0);
    QCOMPARE(number(QStringLiteral("flickable.width")), fitting * 120 - 2 * slide);
    QTRY_COMPARE(number(QStringLiteral("flickable.x")), number(QStringLiteral("leftSlide.x")) + slide + 1);
    QTRY_COMPARE(number(rightEdge), qreal(base + fitting * 120));

    // A wider window makes room again.
    setWindowWidth(base + (fitting + 1) * 120);
    QCOMPARE(eval(QStringLiteral("leftSlide.visible || rightSlide.visible")).toBool(), false);
    QCOMPARE(number(QStringLiteral("flickable.width")), qreal((fitting + 1) * 120));
    setWindowWidth(base + (fitting + 1) * 120 - 1);
    QCOMPARE(eval(QStringLiteral("leftSlide.visible && rightSlide.visible")).toBool(), true);
}

void TestNavBarWindow::scrollButtonsStopAtTheEnds()
{
    keepTabs(1);
    setWindowWidth(900);
    addBlankTabs(11);
    const QString contentX = QStringLiteral("flickable.contentX");
    const qreal end = number(QStringLiteral("navBar.width - flickable.width"));
    QVERIFY(end > 200);

    eval(QStringLiteral("flickable.contentX = 0"));
    click(QStringLiteral("leftSlide"));
    QCOMPARE(number(contentX), 0.0);
    click(QStringLiteral("rightSlide"));
    click(QStringLiteral("rightSlide"));
    QCOMPARE(number(contentX), 100.0);
    eval(QStringLiteral("flickable.contentX = 30"));
    click(QStringLiteral("leftSlide"));
    QCOMPARE(number(contentX), 0.0);

    eval(QStringLiteral("flickable.contentX = %1").arg(end - 20));
    click(QStringLiteral("rightSlide"));
    QCOMPARE(number(contentX), end);
    click(QStringLiteral("rightSlide"));
    QCOMPARE(number(contentX), end);
    click(QStringLiteral("leftSlide"));
    QCOMPARE(number(contentX), end - 50);

    // At the end the whole last tab is in view.
    eval(QStringLiteral("flickable.contentX = %1").arg(end));
    const qreal lastTabEnd =
            number(QStringLiteral("navBar.itemAt(navBar.count - 1).mapToItem(flickable, 120, 0).x"));
    QVERIFY(lastTabEnd <= number(QStringLiteral("flickable.width")));
    QVERIFY(lastTabEnd > number(QStringLiteral("flickable.width")) - 50);
}

void TestNavBarWindow::tabChangesScrollAStepRight()
{
    keepTabs(1);
    setWindowWidth(900);
    addBlankTabs(9);
    const QString contentX = QStringLiteral("flickable.contentX");
    const QString end = QStringLiteral("navBar.width - flickable.width");

    eval(QStringLiteral("flickable.contentX = 0"));
    addBlankTabs(1);
    QCOMPARE(number(contentX), 100.0);

    // Near the end, a new tab moves the view 100 pixels, not to the new tab.
    eval(QStringLiteral("flickable.contentX = %1").arg(end));
    const qreal before = number(contentX);
    addBlankTabs(1);
    QCOMPARE(number(contentX), before + 100);
    QVERIFY(number(end) - number(contentX) == 20);

    // Removing a tab while still overflowing: a step right, clamped to the new end.
    eval(QStringLiteral("flickable.contentX = 0"));
    eval(QStringLiteral("tabModel.remove(tabModel.count - 1)"));
    QCOMPARE(number(contentX), 100.0);
    eval(QStringLiteral("flickable.contentX = %1").arg(end));
    eval(QStringLiteral("tabModel.remove(tabModel.count - 1)"));
    QCOMPARE(number(contentX), number(end));

    // Once every tab fits, the strip shows from its first tab.
    keepTabs(3);
    QCOMPARE(eval(QStringLiteral("leftSlide.visible")).toBool(), false);
    QCOMPARE(number(contentX), 0.0);
    addBlankTabs(1);
    QCOMPARE(number(contentX), 0.0);
}

void TestNavBarWindow::pointerDoesNotScrollTheStrip()
{
    keepTabs(1);
    setWindowWidth(900);
    addBlankTabs(11);
    eval(QStringLiteral("flickable.contentX = 200"));
    const QString firstTabX = QStringLiteral("navBar.itemAt(0).mapToItem(null, 0, 0).x");
    const qreal before = number(firstTabX);
    const QPoint middle = centre(QStringLiteral("flickable"));

    for (const QPoint delta : { QPoint(0, -240), QPoint(0, 240), QPoint(-240, 0), QPoint(240, 0) }) {
        QWheelEvent wheel(middle, m_window->mapToGlobal(middle), QPoint(), delta, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QGuiApplication::sendEvent(m_window, &wheel);
    }
    QTest::mousePress(m_window, Qt::LeftButton, Qt::NoModifier, middle);
    for (int step = 1; step <= 10; ++step)
        QTest::mouseMove(m_window, middle - QPoint(step * 30, 0), 10);
    QTest::mouseRelease(m_window, Qt::LeftButton, Qt::NoModifier, middle - QPoint(300, 0));
    QTest::qWait(200);

    QCOMPARE(number(QStringLiteral("flickable.contentX")), 200.0);
    QCOMPARE(number(firstTabX), before);
}

void TestNavBarWindow::closingRemovesOneTabAndItsView()
{
    keepTabs(1);
    setWindowWidth(900);
    eval(QStringLiteral("addTab('second', Qt.resolvedUrl('about:blank')); addTab('third', "
                        "Qt.resolvedUrl('about:blank')); navBar.currentIndex = 0"));
    QCOMPARE(eval(QStringLiteral("webEngineViewRepeater.count")).toInt(), 3);

    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier,
                      eval(QStringLiteral("navBar.itemAt(1).mapToItem(null, 109, 20)")).toPointF().toPoint());
    QCOMPARE(eval(QStringLiteral("tabModel.count")).toInt(), 2);
    QCOMPARE(eval(QStringLiteral("webEngineViewRepeater.count")).toInt(), 2);
    QCOMPARE(eval(QStringLiteral("tabModel.get(1).title")).toString(), QStringLiteral("third"));
    QCOMPARE(eval(QStringLiteral("navBar.currentIndex")).toInt(), 0);
}

void TestNavBarWindow::closingTheLastTabQuits()
{
    keepTabs(1);
    QSignalSpy quit(m_harness->engine(), &QQmlEngine::quit);
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier,
                      eval(QStringLiteral("navBar.itemAt(0).mapToItem(null, 109, 20)")).toPointF().toPoint());
    QTRY_COMPARE(quit.count(), 1);
    QCOMPARE(eval(QStringLiteral("tabModel.count")).toInt(), 1);
}

FENESTRA_TEST_MAIN(TestNavBarWindow)

#include "tst_navbar_window.moc"
