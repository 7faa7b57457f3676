// What a page asks of the window, in the real window: its alert, confirm and
// prompt dialogs, the credentials of an HTTP login, and full screen.

#include "windowsuite.h"

#include <QApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>
#include <QtWebEngineQuick>

namespace {

const QByteArray dialogPage = "<html><head><title>dialogs</title></head><body><script>"
                              "function ask(kind) { setTimeout(function() {"
                              "  var answer = kind === 'confirm' ? confirm('继续吗?')"
                              "             : kind === 'prompt' ? prompt('名字', 'default') : alert('注意');"
                              "  document.title = 'answer ' + answer; }, 0); }"
                              "</script>"
                              "<button id='confirm' onclick='ask(this.id)'></button>"
                              "<button id='prompt' onclick='ask(this.id)'></button>"
                              "<button id='alert' onclick='ask(this.id)'></button></body></html>";

const QByteArray fullScreenPage =
        "<html><head><title>video</title></head><body style='margin:0'>"
        "<button id='b' style='width:100vw;height:100vh'"
        " onclick='document.title = \"clicked\"; document.documentElement.requestFullscreen()'>go</button>"
        "</body></html>";

} // namespace

class TestPageDialogs : public WindowSuite
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void pageDialogsAnswerThePage();
    void httpAuthenticationThroughTheDialog();
    void fullScreenIsGrantedAndEscLeaves();
};

void TestPageDialogs::initTestCase()
{
    QVERIFY(m_server.listen());
    m_server.route("/dialogs", TestHttpServer::Response::html(dialogPage));
    m_server.route("/fullscreen", TestHttpServer::Response::html(fullScreenPage));
    m_server.route("/secret", [](const TestHttpServer::Request &request) {
        if (request.header("Authorization") == "Basic " + QByteArray("clerk:s3cret").toBase64())
            return TestHttpServer::Response::html("<html><title>welcome clerk</title></html>");
        return TestHttpServer::Response::html("<html><title>denied</title></html>", 401)
                .withHeader("WWW-Authenticate", "Basic realm=\"orders\"");
    });
    QVERIFY(openWindow(QStringLiteral("/dialogs"), QStringLiteral("dialogs")));
}

void TestPageDialogs::pageDialogsAnswerThePage()
{
    load(QStringLiteral("/dialogs"));
    QObject *dialog = m_harness->made(QStringLiteral("pageMessageDialog"));
    QVERIFY(dialog);
    QQuickItem *ok = item(QStringLiteral("dialogOk"), dialog);
    QQuickItem *cancel = item(QStringLiteral("dialogCancel"), dialog);
    QVERIFY(ok && cancel);

    struct Case
    {
        QString kind;
        QQuickItem *button;
        QString typed;
        QString answer;
    };
    const QList<Case> cases {
        { QStringLiteral("confirm"), ok, QString(), QStringLiteral("answer true") },
        { QStringLiteral("confirm"), cancel, QString(), QStringLiteral("answer false") },
        { QStringLiteral("prompt"), ok, QStringLiteral("王五"), QStringLiteral("answer default王五") },
        { QStringLiteral("prompt"), cancel, QString(), QStringLiteral("answer null") },
        { QStringLiteral("alert"), ok, QString(), QStringLiteral("answer undefined") },
    };
    for (const Case &c : cases) {
        runJavaScript(QStringLiteral("document.getElementById('%1').click()").arg(c.kind));
        QTRY_VERIFY_WITH_TIMEOUT(dialog->property("opened").toBool(), 10000);
        QCOMPARE(cancel->isVisible(), c.kind != QLatin1String("alert"));
        if (!c.typed.isEmpty()) {
            // The default text is selected to be replaced; typing after it adds.
            QTest::keyClick(m_window, Qt::Key_End);
            type(c.typed);
        }
        click(c.button);
        QTRY_COMPARE_WITH_TIMEOUT(m_harness->currentView().title(), c.answer, 10000);
        QTRY_VERIFY(!dialog->property("visible").toBool());
    }
}

void TestPageDialogs::httpAuthenticationThroughTheDialog()
{
    QObject *dialog = m_harness->made(QStringLiteral("loginDialog"));
    QVERIFY(dialog);
    m_harness->currentView().setUrl(m_server.url(QStringLiteral("/secret")));
    QTRY_VERIFY_WITH_TIMEOUT(dialog->property("opened").toBool(), 10000);
    type(QStringLiteral("clerk"));
    press(Qt::Key_Return);
    type(QStringLiteral("s3cret"));
    click(item(QStringLiteral("loginOk"), dialog));
    QTRY_COMPARE_WITH_TIMEOUT(m_harness->currentView().title(), QStringLiteral("welcome clerk"), 10000);
}

void TestPageDialogs::fullScreenIsGrantedAndEscLeaves()
{
    load(QStringLiteral("/fullscreen"));
    const QWindow::Visibility before = m_window->visibility();
    // The page takes input once it has shown a frame; until then clicks are lost.
    const QPoint centre(m_window->width() / 2, m_window->height() / 2);
    QVERIFY(QTest::qWaitFor(
            [&] {
                QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre);
                return QTest::qWaitFor([&] { return m_harness->currentView().title() == "clicked"; }, 500);
            },
            15000));
    QTRY_VERIFY_WITH_TIMEOUT(m_harness->currentView().isFullScreen(), 10000);
    QTRY_COMPARE(m_window->visibility(), QWindow::FullScreen);
    QTRY_COMPARE(runJavaScript(QStringLiteral("document.fullscreenElement !== null")).toBool(), true);

    press(Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!m_harness->currentView().isFullScreen(), 10000);
    QTRY_COMPARE(m_window->visibility(), before);
    QTRY_COMPARE(runJavaScript(QStringLiteral("document.fullscreenElement === null")).toBool(), true);
}

FENESTRA_TEST_MAIN(TestPageDialogs)
#include "tst_pagedialogs.moc"
