// Background tabs at rest: the rule as a table, and the real window's tabs
// frozen, discarded and back when shown, a form being filled never discarded.

#include "browser/tabrest.h"
#include "windowsuite.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QQuickItem>
#include <QtTest>
#include <QtWebEngineQuick>

using namespace std::chrono_literals;
using State = TabRest::State;

namespace {

// Counts its timer's ticks and keeps the longest pause between two.
const QByteArray restingPage =
        "<html><head><title>resting</title></head><body><form><input id='field'></form>"
        "<script>let ticks = 0, last = Date.now(), longest = 0;"
        "setInterval(() => { const now = Date.now(); ++ticks;"
        " longest = Math.max(longest, now - last); last = now; }, 100);"
        "</script></body></html>";

Policy::Tabs shortRest(std::chrono::milliseconds discardAfter)
{
    Policy::Tabs policy;
    policy.freezeAfter = 1s;
    policy.discardAfter = discardAfter;
    return policy;
}

} // namespace

class TestTabRest : public WindowSuite
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        // Never from the cache, so that a page loaded again is a request.
        m_server.route("/resting",
                       TestHttpServer::Response::html(restingPage).withHeader("Cache-Control", "no-store"));
        m_server.route("/front", TestHttpServer::Response::html("<title>front</title>"));
        m_server.route("/check", TestHttpServer::Response::html("<title>check</title>"));
        QVERIFY(openWindow(QStringLiteral("/front"), QStringLiteral("front")));
    }

    void cleanup()
    {
        while (m_harness->tabCount() > 1)
            m_harness->closeTab(m_harness->tabCount() - 1);
        m_harness->setCurrentIndex(0);
    }

    void decide_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("hiddenSeconds");
        QTest::addColumn<State>("current");
        QTest::addColumn<State>("recommended");
        QTest::addColumn<bool>("unsavedInput");
        QTest::addColumn<bool>("rest");
        QTest::addColumn<int>("discardSeconds"); // frozen after 60 s
        QTest::addColumn<State>("expected");
        QTest::addColumn<int>("recheckSeconds");

        const State discarded = TabRest::canDiscard() ? State::Discarded : State::Frozen;
        const int untilDiscard = TabRest::canDiscard() ? 540 : 0;
        QTest::newRow("shown") << true << 0 << State::Active << State::Active << false << true << 600
                               << State::Active << 0;
        QTest::newRow("shown after discarded") << true << 0 << State::Discarded << State::Discarded << false
                                               << true << 600 << State::Active << 0;
        QTest::newRow("shown while frozen") << true << 0 << State::Frozen << State::Discarded << false << true
                                            << 600 << State::Active << 0;
        QTest::newRow("hidden a moment") << false << 10 << State::Active << State::Discarded << false << true
                                         << 600 << State::Active << 50;
        QTest::newRow("hidden a while") << false << 60 << State::Active << State::Discarded << false << true
                                        << 600 << State::Frozen << untilDiscard;
        QTest::newRow("hidden long") << false << 600 << State::Frozen << State::Discarded << false << true
                                     << 600 << discarded << 0;
        QTest::newRow("hidden long, straight from active")
                << false << 900 << State::Active << State::Discarded << false << true << 600 << discarded
                << 0;
        QTest::newRow("the engine wants it active (sound, developer tools)")
                << false << 600 << State::Active << State::Active << false << true << 600 << State::Active
                << 0;
        QTest::newRow("frozen, then the engine wants it active")
                << false << 120 << State::Frozen << State::Active << false << true << 600 << State::Active
                << (TabRest::canDiscard() ? 480 : 0);
        QTest::newRow("a form being filled: frozen at most") << false << 900 << State::Frozen << State::Frozen
                                                             << false << true << 600 << State::Frozen << 0;
        QTest::newRow("input the user typed: frozen at most")
                << false << 900 << State::Frozen << State::Discarded << true << true << 600 << State::Frozen
                << 0;
        QTest::newRow("input the user typed, hidden a moment")
                << false << 10 << State::Active << State::Frozen << true << true << 600 << State::Active
                << 50;
        QTest::newRow("resting off") << false << 900 << State::Active << State::Discarded << false << false
                                     << 600 << State::Active << 0;
        QTest::newRow("never discarded") << false << 9000 << State::Frozen << State::Discarded << false
                                         << true << 0 << State::Frozen << 0;
        QTest::newRow("discarded stays so until shown") << false << 900 << State::Discarded << State::Frozen
                                                        << false << true << 600 << State::Discarded << 0;
    }

    void decide()
    {
        QFETCH(bool, shown);
        QFETCH(int, hiddenSeconds);
        QFETCH(State, current);
        QFETCH(State, recommended);
        QFETCH(bool, unsavedInput);
        QFETCH(bool, rest);
        QFETCH(int, discardSeconds);
        QFETCH(State, expected);
        QFETCH(int, recheckSeconds);
        Policy::Tabs policy;
        policy.rest = rest;
        policy.freezeAfter = 60s;
        policy.discardAfter = std::chrono::seconds(discardSeconds);
        const TabRest::Decision decision = TabRest::decide(shown, std::chrono::seconds(hiddenSeconds),
                                                           current, recommended, unsavedInput, policy);
        QCOMPARE(decision.state, expected);
        QCOMPARE(decision.recheckIn, std::chrono::milliseconds(std::chrono::seconds(recheckSeconds)));
    }

    // Frozen, a page's timers stand still; shown again, they run on where they stood.
    void aFrozenTabStandsStillAndRunsOnWhenShown()
    {
        restBehind(shortRest(0s));
        QTRY_COMPARE_WITH_TIMEOUT(lifecycleOf(1), State::Frozen, 5000);
        QCOMPARE(lifecycleOf(0), State::Active);
        QTest::qWait(3000);
        QCOMPARE(lifecycleOf(1), State::Frozen);

        m_harness->setCurrentIndex(1);
        QTRY_COMPARE(lifecycleOf(1), State::Active);
        // A hidden page's timers are slowed to a tick a second; frozen, they stop.
        QTRY_VERIFY(runJavaScript(QStringLiteral("longest")).toInt() > 2500);
        const int ticks = runJavaScript(QStringLiteral("ticks")).toInt();
        QTRY_VERIFY(runJavaScript(QStringLiteral("ticks")).toInt() > ticks + 3);
        QCOMPARE(m_server.requestsFor("/resting").size(), 0);
    }

    // A discarded page is loaded again from its address when its tab is shown.
    void aDiscardedTabLoadsAgainWhenShown()
    {
        if (!TabRest::canDiscard())
            QSKIP("this Qt's engine crashes when a page is discarded; its tabs are only frozen");
        restBehind(shortRest(2s));
        QTRY_COMPARE_WITH_TIMEOUT(lifecycleOf(1), State::Frozen, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(lifecycleOf(1), State::Discarded, 5000);
        QCOMPARE(m_server.requestsFor("/resting").size(), 0);

        m_harness->setCurrentIndex(1);
        QTRY_COMPARE(lifecycleOf(1), State::Active);
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestsFor("/resting").size(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(
                runJavaScript(QStringLiteral("document.readyState + ' ' + document.wasDiscarded")),
                QVariant(QStringLiteral("complete true")), 10000);
        QCOMPARE(m_harness->currentView().title(), QStringLiteral("resting"));
    }

    // What a user typed stays: such a page is frozen at most.
    void aFormBeingFilledIsNotDiscarded()
    {
        m_harness->addTab(QStringLiteral("resting"), m_server.url(QStringLiteral("/resting")));
        QVERIFY(m_harness->waitForCurrentView());
        QTRY_COMPARE_WITH_TIMEOUT(m_harness->currentView().title(), QStringLiteral("resting"), 10000);
        m_harness->currentView().forceActiveFocus();
        runJavaScript(QStringLiteral("document.getElementById('field').focus()"));
        QTRY_COMPARE(runJavaScript(QStringLiteral("document.activeElement.id")),
                     QVariant(QStringLiteral("field")));
        type(QStringLiteral("order 1001"));
        QTRY_COMPARE(runJavaScript(QStringLiteral("document.getElementById('field').value")),
                     QVariant(QStringLiteral("order 1001")));
        m_server.clearRequests();
        m_harness->setCurrentIndex(0);
        restOf(1)->setPolicy(shortRest(2s));

        QTRY_COMPARE_WITH_TIMEOUT(lifecycleOf(1), State::Frozen, 5000);
        QVERIFY(restOf(1)->hasUnsavedInput());
        QTest::qWait(3000); // well past the time to discard
        QCOMPARE(lifecycleOf(1), State::Frozen);

        m_harness->setCurrentIndex(1);
        QTRY_COMPARE(lifecycleOf(1), State::Active);
        QCOMPARE(runJavaScript(QStringLiteral("document.getElementById('field').value")),
                 QVariant(QStringLiteral("order 1001")));
        QCOMPARE(m_server.requestsFor("/resting").size(), 0);
    }

    // What counts as input the user would lose.
    void inputCheck_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("unsaved");
        const QByteArray form =
                "<form><input id='text' value='W-100'><input id='box' type='checkbox'>"
                "<select id='list'><option>A</option><option>B</option></select>"
                "<textarea id='note'></textarea><input id='secret' type='hidden' value='1'></form>";
        QTest::newRow("as the page came") << form << "" << false;
        QTest::newRow("a text changed") << form << "text.value = 'W-1001'" << true;
        QTest::newRow("a text changed and back")
                << form << "text.value = 'W-1'; text.value = 'W-100'" << false;
        QTest::newRow("a box ticked") << form << "box.checked = true" << true;
        QTest::newRow("another option") << form << "list.selectedIndex = 1" << true;
        QTest::newRow("another option than the page's")
                << QByteArray("<select id='list'><option>A</option><option selected>B</option></select>")
                << "list.selectedIndex = 0" << true;
        QTest::newRow("a note") << form << "note.value = 'rush'" << true;
        QTest::newRow("a hidden field is the page's own") << form << "secret.value = '2'" << false;
        QTest::newRow("in a frame of the same server")
                << QByteArray("<iframe id='inner' srcdoc=\"<input id='field'>\"></iframe>")
                << "inner.contentDocument.getElementById('field').value = 'x'" << true;
        QTest::newRow("no form") << QByteArray("<p>orders</p>") << "" << false;
    }

    void inputCheck()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, action);
        QFETCH(bool, unsaved);
        // One page for all rows; each row's fields are made afresh, with their defaults.
        if (m_harness->currentView().title() != QStringLiteral("check"))
            load(QStringLiteral("/check"));
        const QString json =
                QString::fromUtf8(QJsonDocument(QJsonArray { QString::fromUtf8(body) }).toJson());
        runJavaScript(QStringLiteral("document.body.innerHTML = %1[0]").arg(json));
        QTRY_VERIFY(runJavaScript(QStringLiteral("Array.from(document.querySelectorAll('iframe')).every("
                                                 "(f) => f.contentDocument && f.contentDocument.body"
                                                 " && f.contentDocument.body.childElementCount > 0)"))
                            .toBool());
        if (!action.isEmpty())
            runJavaScript(action);
        QCOMPARE(runJavaScript(TabRest::inputCheck()), QVariant(unsaved));
    }

    // IT's file beside config.dll reaches the tabs; until it is read, nothing rests.
    void itsPolicyIsRead()
    {
        QVERIFY(m_appDir->write(QStringLiteral("policy.ini"),
                                "[tabs]\nrest=0\nfreeze_after_minutes=2\ndiscard_after_minutes=5\n"));
        m_harness->addTab(QStringLiteral("resting"), m_server.url(QStringLiteral("/resting")));
        QVERIFY(m_harness->waitForCurrentView());
        m_harness->setCurrentIndex(0);
        const Policy::Tabs policy = restOf(1)->policy();
        QCOMPARE(policy.rest, false);
        QCOMPARE(policy.freezeAfter, std::chrono::milliseconds(2min));
        QCOMPARE(policy.discardAfter, std::chrono::milliseconds(5min));
        QVERIFY(QFile::remove(m_appDir->filePath(QStringLiteral("policy.ini"))));
    }

private:
    TabRest *restOf(int tab) { return m_harness->view(tab).item()->findChild<TabRest *>(); }
    State lifecycleOf(int tab)
    {
        return State(m_harness->view(tab).item()->property("lifecycleState").toInt());
    }

    // Tab 1 on the resting page behind tab 0, which is selected, resting as `policy` says.
    void restBehind(const Policy::Tabs &policy)
    {
        m_harness->addTab(QStringLiteral("resting"), m_server.url(QStringLiteral("/resting")));
        QVERIFY(m_harness->waitForCurrentView());
        QTRY_COMPARE_WITH_TIMEOUT(m_harness->currentView().title(), QStringLiteral("resting"), 10000);
        m_server.clearRequests();
        restOf(1)->setPolicy(policy);
        m_harness->setCurrentIndex(0);
    }
};

FENESTRA_TEST_MAIN(TestTabRest)
#include "tst_tabrest.moc"
