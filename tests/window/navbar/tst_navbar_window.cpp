// The bar in the real window: start-up reads a config.dll that points at a
// loopback page, and the test drives the bar with the mouse.
#include "testenvironment.h"
#include "testhttpserver.h"
#include "windowharness.h"

#include <QApplication>
#include <QQuickItem>
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
    QQuickItem *item(const char *id) const { return m_harness->itemById(QString::fromLatin1(id)); }
    QPoint onTab(int row, const QPointF &point) const
    {
        return WindowHarness::inWindow(m_harness->tabButton(row), point);
    }
    qreal contentX() const { return item("flickable")->property("contentX").toReal(); }
    void setContentX(qreal x) { item("flickable")->setProperty("contentX", x); }
    // How far the strip scrolls: the width of `navBar` beyond the viewport.
    qreal scrollEnd() const { return item("navBar")->width() - item("flickable")->width(); }
    bool mouseEnabled(QQuickItem *button) const { return button->property("mouseEnable").toBool(); }
    int viewCount() const
    {
        return m_harness->byId(QStringLiteral("webEngineViewRepeater"))->property("count").toInt();
    }
    void click(QQuickItem *target);
    void keepTabs(int count);
    void addBlankTabs(int count);
    void setWindowWidth(int width);

    TestHttpServer m_server;
    std::unique_ptr<TemporaryAppDir> m_appDir;
    std::unique_ptr<WindowHarness> m_harness;
    QQuickWindow *m_window = nullptr;
};

void TestNavBarWindow::click(QQuickItem *target)
{
    QVERIFY(target);
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, WindowHarness::centreOf(target));
}

// Leaves the first `count` tabs, removing the others from the model.
void TestNavBarWindow::keepTabs(int count)
{
    while (m_harness->tabCount() > count)
        m_harness->closeTab(m_harness->tabCount() - 1);
    m_harness->setCurrentIndex(0);
    setContentX(0);
}

void TestNavBarWindow::addBlankTabs(int count)
{
    for (int i = 0; i < count; ++i)
        m_harness->addTab(QStringLiteral("blank"), QUrl(QStringLiteral("about:blank")));
}

void TestNavBarWindow::setWindowWidth(int width)
{
    m_window->setWindowStates(Qt::WindowNoState);
    m_window->resize(width, 600);
    QTRY_COMPARE(item("row")->width(), qreal(width));
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
    QTRY_COMPARE_WITH_TIMEOUT(m_harness->tabTitle(0), QStringLiteral("Start"), 20000);
    // The parts of the bar the tests look at, by their ids in the window.
    for (const char *id : { "row", "backBtn", "leftSlide", "rightSlide", "flickable", "navBar" })
        QVERIFY2(item(id), id);
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
    const auto url = [this](int tab) { return m_harness->view(tab).url().toString(); };
    QQuickItem *backBtn = item("backBtn");
    QQuickItem *forwardBtn = item("row")->childItems().value(1);
    QVERIFY(backBtn && forwardBtn);

    // No history yet: both buttons ignore the pointer.
    QCOMPARE(mouseEnabled(backBtn), false);
    QTest::mouseMove(m_window, WindowHarness::centreOf(backBtn));
    click(backBtn);
    QTest::qWait(100);
    QCOMPARE(backBtn->property("color").value<QColor>(), QColor(Qt::transparent));
    QCOMPARE(url(0), start);

    m_harness->currentView().setUrl(QUrl(second));
    QTRY_COMPARE_WITH_TIMEOUT(mouseEnabled(backBtn), true, 20000);

    // A second tab with its own, single page: back is off there.
    m_harness->addTab(QStringLiteral("other"), QUrl(other));
    QTRY_COMPARE_WITH_TIMEOUT(m_harness->tabTitle(1), QStringLiteral("Other"), 20000);
    QCOMPARE(m_harness->currentIndex(), 1);
    QCOMPARE(mouseEnabled(backBtn), false);

    // Back on the first tab goes back there only.
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, onTab(0, QPointF(40, 20)));
    QCOMPARE(m_harness->currentIndex(), 0);
    QTRY_COMPARE(mouseEnabled(backBtn), true);
    click(backBtn);
    QTRY_COMPARE_WITH_TIMEOUT(url(0), start, 20000);
    QCOMPARE(url(1), other);

    QTRY_COMPARE(mouseEnabled(forwardBtn), true);
    click(forwardBtn);
    QTRY_COMPARE_WITH_TIMEOUT(url(0), second, 20000);
    QCOMPARE(url(1), other);

    // Closing the selected first tab hands the buttons to the tab that becomes first.
    m_harness->currentView().setUrl(QUrl(start));
    QTRY_COMPARE_WITH_TIMEOUT(m_harness->currentView().canGoBack(), true, 20000);
    m_harness->view(1).setUrl(QUrl(second));
    QTRY_COMPARE_WITH_TIMEOUT(m_harness->view(1).canGoBack(), true, 20000);
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, onTab(0, QPointF(109, 20)));
    QTRY_COMPARE(m_harness->tabCount(), 1);
    QCOMPARE(m_harness->currentIndex(), 0);
    QTRY_COMPARE(mouseEnabled(backBtn), true);
    click(backBtn);
    QTRY_COMPARE_WITH_TIMEOUT(url(0), other, 20000);
}

void TestNavBarWindow::overflowBoundaryAndResize()
{
    keepTabs(1);
    QQuickItem *row = item("row");
    QQuickItem *leftSlide = item("leftSlide");
    QQuickItem *rightSlide = item("rightSlide");
    QQuickItem *flickable = item("flickable");
    const int base = row->property("baseWidth").toInt();
    QVERIFY(base > 0);
    const int fitting = 5;
    setWindowWidth(base + fitting * 120);
    addBlankTabs(fitting - 1);

    const auto rightEdge = [row] {
        const QQuickItem *last = row->childItems().constLast();
        return last->x() + last->width();
    };
    // Exactly as wide as the room: no scroll buttons.
    QCOMPARE(leftSlide->isVisible() || rightSlide->isVisible(), false);
    QCOMPARE(flickable->width(), qreal(fitting * 120));
    QCOMPARE(rightEdge(), qreal(base + fitting * 120));

    addBlankTabs(1);
    QCOMPARE(leftSlide->isVisible() && rightSlide->isVisible(), true);
    const qreal slide = leftSlide->width();
    QVERIFY(slide > 0);
    QCOMPARE(flickable->width(), fitting * 120 - 2 * slide);
    QTRY_COMPARE(flickable->x(), leftSlide->x() + slide + 1);
    QTRY_COMPARE(rightEdge(), qreal(base + fitting * 120));

    // A wider window makes room again.
    setWindowWidth(base + (fitting + 1) * 120);
    QCOMPARE(leftSlide->isVisible() || rightSlide->isVisible(), false);
    QCOMPARE(flickable->width(), qreal((fitting + 1) * 120));
    setWindowWidth(base + (fitting + 1) * 120 - 1);
    QCOMPARE(leftSlide->isVisible() && rightSlide->isVisible(), true);
}

void TestNavBarWindow::scrollButtonsStopAtTheEnds()
{
    keepTabs(1);
    setWindowWidth(900);
    addBlankTabs(11);
    QQuickItem *leftSlide = item("leftSlide");
    QQuickItem *rightSlide = item("rightSlide");
    const qreal end = scrollEnd();
    QVERIFY(end > 200);

    setContentX(0);
    click(leftSlide);
    QCOMPARE(contentX(), 0.0);
    click(rightSlide);
    click(rightSlide);
    QCOMPARE(contentX(), 100.0);
    setContentX(30);
    click(leftSlide);
    QCOMPARE(contentX(), 0.0);

    setContentX(end - 20);
    click(rightSlide);
    QCOMPARE(contentX(), end);
    click(rightSlide);
    QCOMPARE(contentX(), end);
    click(leftSlide);
    QCOMPARE(contentX(), end - 50);

    // At the end the whole last tab is in view.
    setContentX(end);
    QQuickItem *flickable = item("flickable");
    const qreal lastTabEnd =
            m_harness->tabButton(m_harness->tabCount() - 1)->mapToItem(flickable, QPointF(120, 0)).x();
    QVERIFY(lastTabEnd <= flickable->width());
    QVERIFY(lastTabEnd > flickable->width() - 50);
}

void TestNavBarWindow::tabChangesScrollAStepRight()
{
    keepTabs(1);
    setWindowWidth(900);
    addBlankTabs(9);

    setContentX(0);
    addBlankTabs(1);
    QCOMPARE(contentX(), 100.0);

    // Near the end, a new tab moves the view 100 pixels, not to the new tab.
    setContentX(scrollEnd());
    const qreal before = contentX();
    addBlankTabs(1);
    QCOMPARE(contentX(), before + 100);
    QVERIFY(scrollEnd() - contentX() == 20);

    // Removing a tab while still overflowing: a step right, clamped to the new end.
    setContentX(0);
    m_harness->closeTab(m_harness->tabCount() - 1);
    QCOMPARE(contentX(), 100.0);
    setContentX(scrollEnd());
    m_harness->closeTab(m_harness->tabCount() - 1);
    QCOMPARE(contentX(), scrollEnd());

    // Once every tab fits, the strip shows from its first tab.
    keepTabs(3);
    QCOMPARE(item("leftSlide")->isVisible(), false);
    QCOMPARE(contentX(), 0.0);
    addBlankTabs(1);
    QCOMPARE(contentX(), 0.0);
}

void TestNavBarWindow::pointerDoesNotScrollTheStrip()
{
    keepTabs(1);
    setWindowWidth(900);
    addBlankTabs(11);
    setContentX(200);
    const auto firstTabX = [this] { return m_harness->tabButton(0)->mapToScene(QPointF(0, 0)).x(); };
    const qreal before = firstTabX();
    const QPoint middle = WindowHarness::centreOf(item("flickable"));

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

    QCOMPARE(contentX(), 200.0);
    QCOMPARE(firstTabX(), before);
}

void TestNavBarWindow::closingRemovesOneTabAndItsView()
{
    keepTabs(1);
    setWindowWidth(900);
    m_harness->addTab(QStringLiteral("second"), QUrl(QStringLiteral("about:blank")));
    m_harness->addTab(QStringLiteral("third"), QUrl(QStringLiteral("about:blank")));
    m_harness->setCurrentIndex(0);
    QCOMPARE(viewCount(), 3);

    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, onTab(1, QPointF(109, 20)));
    QCOMPARE(m_harness->tabCount(), 2);
    QCOMPARE(viewCount(), 2);
    QCOMPARE(m_harness->tabTitle(1), QStringLiteral("third"));
    QCOMPARE(m_harness->currentIndex(), 0);
}

void TestNavBarWindow::closingTheLastTabQuits()
{
    keepTabs(1);
    QSignalSpy quit(m_harness->engine(), &QQmlEngine::quit);
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, onTab(0, QPointF(109, 20)));
    QTRY_COMPARE(quit.count(), 1);
    QCOMPARE(m_harness->tabCount(), 1);
}

FENESTRA_TEST_MAIN(TestNavBarWindow)

#include "tst_navbar_window.moc"
