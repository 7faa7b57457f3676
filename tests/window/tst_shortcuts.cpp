// The window's keys as a user meets them: on a real display with a window
// manager, the pointer resting where it rests and keys pressed on the keyboard,
// whatever the window shows besides the page. Only a question keeps them.

#include "browser/pageprinter.h"
#include "browser/permissionstore.h"
#include "update/updatenotice.h"
#include "windowsuite.h"
#include "xdisplay.h"

#include <QApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>
#include <QtWebEngineQuick>

namespace {

const QByteArray page = "<html><head><title>shortcuts</title></head><body>"
                        "<p>apple pear apple</p><a id='file' href='/report.txt' download>report</a>"
                        "</body></html>";

// The keys and what each does to the selected tab or the window.
const QStringList keys = { "F5", "ctrl+f", "ctrl+p", "F12", "ctrl+equal", "ctrl+minus", "ctrl+0" };

} // namespace

class TestShortcuts : public WindowSuite
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void keysWorkWhateverShows_data();
    void keysWorkWhateverShows();
    void aQuestionKeepsTheKeys_data();
    void aQuestionKeepsTheKeys();

private:
    // Shows `what` beside the page and checks that it shows.
    void show(const QString &what);
    // The popup (a tooltip) of `item` that is open, if any.
    static QObject *openPopupOf(QQuickItem *item);
    QQuickItem *findField() { return item(QStringLiteral("findField")); }
    // Waits until the window has the keyboard again.
    bool activate();

    PagePrinter *m_printer = nullptr;
    int m_printAsked = 0;
};

void TestShortcuts::initTestCase()
{
    QVERIFY(m_server.listen());
    m_server.route("/page", TestHttpServer::Response::html(page));
    m_server.route("/report.txt",
                   TestHttpServer::Response::text("report").withHeader("Content-Disposition",
                                                                       "attachment; filename=report.txt"));
    QVERIFY(openWindow(QStringLiteral("/page"), QStringLiteral("shortcuts")));
    m_printer = qobject_cast<PagePrinter *>(m_harness->made(QStringLiteral("pagePrinter")));
    QVERIFY(m_printer);
    m_printer->setPrinterChooser([this](QPrinter *) {
        ++m_printAsked;
        return false;
    });
    // The user let the company's pages notify before.
    auto *permissions = m_window->findChild<PermissionStore *>();
    QVERIFY(permissions
            && permissions->remember(m_server.url(QStringLiteral("/")), QStringLiteral("notifications"),
                                     true));
}

// Nothing but the page, the window active and the pointer over the page.
void TestShortcuts::init()
{
    if (QObject *bar = m_harness->madeSoFar(QStringLiteral("findBar")))
        QMetaObject::invokeMethod(bar, "close");
    if (QObject *downloads = m_harness->madeSoFar(QStringLiteral("downloads")))
        downloads->setProperty("shown", false);
    if (QObject *presenter =
                m_harness->byId(QStringLiteral("notificationArea"))->property("presenter").value<QObject *>())
        QMetaObject::invokeMethod(presenter, "dismiss");
    if (auto *notice = m_window->contentItem()->findChild<QQuickItem *>(QStringLiteral("updateNotice")))
        notice->setVisible(false);
    if (m_harness->currentView().devTools()) {
        QMetaObject::invokeMethod(m_harness->currentView().item(), "toggleDevTools");
        QTRY_VERIFY(!m_harness->currentView().devTools());
    }
    m_harness->currentView().setZoomFactor(1.0);
    QVERIFY(activate());
    QVERIFY(XDisplay::movePointer(
            m_window->mapToGlobal(WindowHarness::centreOf(m_harness->currentView().item()))));
    m_harness->currentView().forceActiveFocus();
}

bool TestShortcuts::activate()
{
    m_window->requestActivate();
    return QTest::qWaitForWindowActive(m_window);
}

QObject *TestShortcuts::openPopupOf(QQuickItem *item)
{
    const QList<QObject *> children = item->findChildren<QObject *>();
    for (QObject *child : children) {
        if (child->inherits("QQuickPopup") && child->property("opened").toBool())
            return child;
    }
    return nullptr;
}

void TestShortcuts::show(const QString &what)
{
    if (what == QLatin1String("tab tooltip") || what == QLatin1String("button tooltip")) {
        // The pointer comes to rest on a tab, or on a bar button, and its tooltip appears.
        QQuickItem *target = what == QLatin1String("tab tooltip")
                ? m_harness->tabButton(0)
                : m_harness->itemById(QStringLiteral("updateBtn"));
        QVERIFY(target);
        const QPoint spot = m_window->mapToGlobal(WindowHarness::centreOf(target));
        const QPoint away = m_window->mapToGlobal(WindowHarness::centreOf(m_harness->currentView().item()));
        // A busy machine may lose a motion; the hand moves off and back again, as
        // a user's would: a move to where the pointer already is makes no hover.
        const bool open = QTest::qWaitFor(
                [&] {
                    XDisplay::movePointer(away);
                    QTest::qWait(50);
                    XDisplay::movePointer(spot);
                    return QTest::qWaitFor([&] { return openPopupOf(target) != nullptr; }, 1500);
                },
                10000);
        QVERIFY2(open,
                 qPrintable(QStringLiteral("no tooltip with the pointer at %1,%2 for %3,%4")
                                    .arg(QCursor::pos().x())
                                    .arg(QCursor::pos().y())
                                    .arg(spot.x())
                                    .arg(spot.y())));
    } else if (what == QLatin1String("find bar")) {
        QMetaObject::invokeMethod(m_harness->made(QStringLiteral("findBar")), "open");
        QTRY_VERIFY(findField()->hasActiveFocus());
    } else if (what == QLatin1String("downloads panel")) {
        runJavaScript(QStringLiteral("document.getElementById('file').click()"));
        QTRY_VERIFY_WITH_TIMEOUT(
                m_harness->madeSoFar(QStringLiteral("downloads"))
                        && m_harness->madeSoFar(QStringLiteral("downloads"))->property("visible").toBool(),
                10000);
    } else if (what == QLatin1String("notification notice")) {
        runJavaScript(
                QStringLiteral("Notification.requestPermission().then(() => new Notification('新订单'))"));
        QTRY_VERIFY_WITH_TIMEOUT(item(QStringLiteral("notificationNotice")), 10000);
    } else if (what == QLatin1String("update notice")) {
        UpdateNotice::show(m_harness->engine(), m_window, QStringLiteral("9.9.9"));
        auto *notice = m_window->contentItem()->findChild<QQuickItem *>(QStringLiteral("updateNotice"));
        QVERIFY(notice && notice->isVisible());
    }
}

void TestShortcuts::keysWorkWhateverShows_data()
{
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("keys");
    for (const char *shown : { "nothing else", "tab tooltip", "button tooltip", "find bar", "downloads panel",
                               "notification notice", "update notice" }) {
        for (const QString &key : keys)
            QTest::addRow("%s, %s", shown, qPrintable(key)) << QString::fromLatin1(shown) << key;
    }
}

void TestShortcuts::keysWorkWhateverShows()
{
    QFETCH(QString, shown);
    QFETCH(QString, keys);
    TabView view = m_harness->currentView();
    if (keys == QLatin1String("ctrl+0"))
        view.setZoomFactor(1.25);
    show(shown);
    if (QTest::currentTestFailed())
        return;
    // The find bar's key also brings the keyboard back to the bar from the page.
    if (keys == QLatin1String("ctrl+f"))
        view.forceActiveFocus();
    const int loads = m_server.requestsFor("/page").size();
    const int printed = m_printAsked;

    QVERIFY(XDisplay::pressKeys(keys));

    if (keys == QLatin1String("F5")) {
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestsFor("/page").size(), loads + 1, 5000);
        QVERIFY(m_harness->waitForCurrentView());
    } else if (keys == QLatin1String("ctrl+f")) {
        QTRY_VERIFY_WITH_TIMEOUT(findField() && findField()->isVisible() && findField()->hasActiveFocus(),
                                 5000);
    } else if (keys == QLatin1String("ctrl+p")) {
        QTRY_COMPARE_WITH_TIMEOUT(m_printAsked, printed + 1, 5000);
    } else if (keys == QLatin1String("F12")) {
        QTRY_VERIFY_WITH_TIMEOUT(view.devTools(), 5000);
    } else {
        const qreal expected = keys == QLatin1String("ctrl+equal") ? 1.1
                : keys == QLatin1String("ctrl+minus")              ? 0.9
                                                                   : 1.0;
        QTRY_COMPARE_WITH_TIMEOUT(view.zoomFactor(), expected, 5000);
    }
}

void TestShortcuts::aQuestionKeepsTheKeys_data()
{
    QTest::addColumn<QString>("keys");
    for (const QString &key : keys) {
        // The developer tools answer anywhere in the program, questions included.
        if (key != QLatin1String("F12"))
            QTest::newRow(qPrintable(key)) << key;
    }
}

void TestShortcuts::aQuestionKeepsTheKeys()
{
    QFETCH(QString, keys);
    TabView view = m_harness->currentView();
    if (keys == QLatin1String("ctrl+0"))
        view.setZoomFactor(1.25);
    const qreal zoom = view.zoomFactor();
    runJavaScript(QStringLiteral("setTimeout(() => alert('注意'), 0)"));
    QObject *question = m_harness->made(QStringLiteral("pageMessageDialog"));
    QTRY_VERIFY_WITH_TIMEOUT(question->property("opened").toBool(), 10000);
    const int loads = m_server.requestsFor("/page").size();
    const int printed = m_printAsked;

    QVERIFY(XDisplay::pressKeys(keys));
    // Nothing happens, so there is nothing to wait for but a while.
    QTest::qWait(1500);
    QCOMPARE(m_server.requestsFor("/page").size(), loads);
    QVERIFY(!findField() || !findField()->isVisible());
    QCOMPARE(m_printAsked, printed);
    QCOMPARE(view.zoomFactor(), zoom);
    QVERIFY(question->property("opened").toBool());

    click(item(QStringLiteral("dialogOk"), question));
    QTRY_VERIFY(!question->property("visible").toBool());
}

FENESTRA_X_TEST_MAIN(TestShortcuts)
#include "tst_shortcuts.moc"
