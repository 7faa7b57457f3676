// What pages may ask of the window, in the real window with real pages from
// loopback servers: a certificate the engine does not trust, permissions,
// notifications and the clipboard.

#include "browser/notificationpresenter.h"
#include "browser/permissionstore.h"
#include "testenvironment.h"
#include "testhttpserver.h"
#include "windowharness.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickItem>
#include <QQuickWebEngineProfile>
#include <QQuickWindow>
#include <QtTest>
#include <QtWebEngineQuick>

#include <memory>

namespace {

// A fake camera and microphone, so that a granted request gets a stream.
const bool fakeDevices =
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                "--disable-gpu --disable-background-networking --use-fake-device-for-media-stream");

// Asks for each thing on request and keeps how the page's promise settled.
const QByteArray askPage = R"(<!doctype html><html><head><title>ask</title></head><body>
<p id='text'>copied by the page</p><script>
var outcome = {};
function refused(e) { return e.name === 'NotAllowedError' ? 'denied' : e.name; }
function media(constraints) {
  return navigator.mediaDevices.getUserMedia(constraints).then(function(stream) {
    stream.getTracks().forEach(function(track) { track.stop(); });
    return 'granted';
  }, refused);
}
var requests = {
  'notifications': function() { return Notification.requestPermission(); },
  'geolocation': function() { return new Promise(function(resolve) {
    navigator.geolocation.getCurrentPosition(function() { resolve('granted'); },
      function(e) { resolve(e.code === e.PERMISSION_DENIED ? 'denied' : 'granted'); }, { timeout: 3000 });
  }); },
  'camera': function() { return media({ video: true }); },
  'microphone': function() { return media({ audio: true }); },
  'camera-microphone': function() { return media({ audio: true, video: true }); },
  'clipboard-read': function() {
    return navigator.clipboard.readText().then(function() { return 'granted'; }, refused);
  }
};
function ask(kind) {
  outcome[kind] = 'waiting';
  requests[kind]().then(function(answer) { outcome[kind] = answer; });
}
function notify() {
  var n = new Notification('新订单', { body: '订单 1001 已付款' });
  n.onclick = function() { outcome.clicked = 'yes'; };
}
</script></body></html>)";

} // namespace

class TestPageRequests : public QObject
{
    Q_OBJECT

private:
    TestHttpServer m_server;
    TestHttpServer m_secure;
    std::unique_ptr<TemporaryAppDir> m_appDir;
    std::unique_ptr<WindowHarness> m_harness;
    QQuickWindow *m_window = nullptr;

    void openWindow()
    {
        m_harness.reset();
        m_harness = std::make_unique<WindowHarness>(
                m_server.url(QStringLiteral("/ask"), QStringLiteral("localhost")));
        m_window = m_harness->window();
        QVERIFY(m_window);
        m_window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        QVERIFY(m_harness->waitForCurrentView());
    }

    QString outcome(const QString &kind)
    {
        return m_harness->runJavaScript(QStringLiteral("outcome['%1']").arg(kind)).toString();
    }

    // The questions are made when a page first asks.
    bool dialogShown(const QString &loader)
    {
        return QTest::qWaitFor(
                [&] {
                    const QObject *dialog = m_harness->madeSoFar(loader);
                    return dialog && dialog->property("opened").toBool();
                },
                10000);
    }
    bool dialogOpen(const QString &loader)
    {
        const QObject *dialog = m_harness->madeSoFar(loader);
        return dialog && dialog->property("visible").toBool();
    }
    PermissionStore *permissionStore() const { return m_window->findChild<PermissionStore *>(); }

    QQuickItem *item(const QString &objectName) { return m_window->findChild<QQuickItem *>(objectName); }
    QString text(const QString &objectName)
    {
        QQuickItem *label = item(objectName);
        return label ? label->property("text").toString() : QString();
    }
    void click(const QString &objectName)
    {
        QQuickItem *target = item(objectName);
        QVERIFY2(target && target->isVisible(), qPrintable(objectName));
        QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, WindowHarness::centreOf(target));
    }

    QString permissionsFile() const
    {
        const auto *profile = qobject_cast<QQuickWebEngineProfile *>(permissionStore()->profile());
        return QDir(profile->persistentStoragePath()).filePath(QStringLiteral("permissions.json"));
    }

    // Asks for `kind` on the page of the selected tab and answers the question.
    void answer(const QString &kind, const QString &button, bool keep)
    {
        m_harness->runJavaScript(QStringLiteral("ask('%1')").arg(kind));
        QVERIFY2(dialogShown(QStringLiteral("permissionQuestion")), qPrintable(kind));
        if (keep)
            click(QStringLiteral("permissionKeep"));
        click(button);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(fakeDevices);
        m_server.route("/ask", TestHttpServer::Response::html(askPage));
        m_server.route("/other", TestHttpServer::Response::html("<title>other</title>"));
        QVERIFY(m_server.listen());
        QVERIFY(m_secure.useTls(QStringLiteral(FENESTRA_TEST_TLS_DIR "/localhost.pem"),
                                QStringLiteral(FENESTRA_TEST_TLS_DIR "/localhost.key")));
        m_secure.route("/secure", TestHttpServer::Response::html("<title>secure</title>"));
        QVERIFY(m_secure.listen());
        m_appDir = std::make_unique<TemporaryAppDir>();
        openWindow();
    }

    void cleanupTestCase()
    {
        m_harness.reset();
        m_appDir.reset();
    }

    // 返回 (and Esc) leave the page unloaded, 仍然继续 loads it and lets the
    // host through for every tab until the program ends.
    void untrustedCertificateIsTheUsersChoice()
    {
        const QUrl secure = m_secure.url(QStringLiteral("/secure"), QStringLiteral("localhost"));
        m_harness->currentView().setUrl(secure);
        QVERIFY(dialogShown(QStringLiteral("certificateQuestion")));
        QCOMPARE(text(QStringLiteral("certificateHost")),
                 QStringLiteral("localhost:%1").arg(m_secure.port()));
        QVERIFY2(
                text(QStringLiteral("certificateProblem")).contains(QStringLiteral("不受信任的证书颁发机构")),
                qPrintable(text(QStringLiteral("certificateProblem"))));
        click(QStringLiteral("certificateBack"));
        QTRY_VERIFY(!dialogOpen(QStringLiteral("certificateQuestion")));
        QTest::qWait(1000);
        QCOMPARE(m_secure.requestsFor("/secure").size(), 0);
        QVERIFY(m_harness->currentView().title() != QStringLiteral("secure"));

        m_harness->currentView().reload();
        QVERIFY(dialogShown(QStringLiteral("certificateQuestion")));
        click(QStringLiteral("certificateProceed"));
        QTRY_COMPARE_WITH_TIMEOUT(m_harness->currentView().title(), QStringLiteral("secure"), 10000);
        QCOMPARE(m_secure.requestsFor("/secure").size(), 1);

        m_harness->addTab(
                QStringLiteral("second"),
                m_secure.url(QStringLiteral("/secure?second"), QStringLiteral("localhost")).toString());
        QTRY_COMPARE_WITH_TIMEOUT(m_secure.requestsFor("/secure").size(), 2, 10000);
        QVERIFY(!dialogOpen(QStringLiteral("certificateQuestion")));
        m_harness->closeTab(1);

        // The next start asks again; Esc is 返回.
        openWindow();
        m_harness->currentView().setUrl(secure);
        QVERIFY(dialogShown(QStringLiteral("certificateQuestion")));
        QTest::keyClick(m_window, Qt::Key_Escape);
        QTRY_VERIFY(!dialogOpen(QStringLiteral("certificateQuestion")));
        QTest::qWait(1000);
        QCOMPARE(m_secure.requestsFor("/secure").size(), 2);
    }

    void permissionAnswersReachThePage_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("wish");
        for (const auto &[kind, wish] :
             { std::pair("notifications", "显示通知"), std::pair("geolocation", "获取您的位置"),
               std::pair("camera", "使用您的摄像头"), std::pair("microphone", "使用您的麦克风"),
               std::pair("camera-microphone", "使用您的摄像头和麦克风"),
               std::pair("clipboard-read", "读取剪贴板中的内容") }) {
            QTest::addRow("%s allowed", kind) << kind << wish;
            QTest::addRow("%s refused", kind) << kind << wish;
        }
    }

    // Each row is a page of an origin of its own, so no answer of another row counts.
    void permissionAnswersReachThePage()
    {
        QFETCH(QString, kind);
        QFETCH(QString, wish);
        const bool allow = QString::fromLatin1(QTest::currentDataTag()).endsWith(QLatin1String("allowed"));
        if (kind == QLatin1String("clipboard-read") && permissionStore()->askedByFeature())
            QSKIP("Qt before 6.8 does not ask before a page reads the clipboard; the read is refused");
        TestHttpServer origin;
        origin.route("/ask", TestHttpServer::Response::html(askPage));
        QVERIFY(origin.listen());
        QVERIFY(m_harness->load(origin.url(QStringLiteral("/ask"))));
        // Reading the clipboard is refused outright to a page without focus.
        m_harness->currentView().forceActiveFocus();
        QTRY_VERIFY(m_harness->runJavaScript(QStringLiteral("document.hasFocus()")).toBool());

        m_harness->runJavaScript(QStringLiteral("ask('%1')").arg(kind));
        QVERIFY(dialogShown(QStringLiteral("permissionQuestion")));
        QCOMPARE(text(QStringLiteral("permissionQuestion")),
                 QStringLiteral("127.0.0.1:%1 想要%2。").arg(origin.port()).arg(wish));
        QCOMPARE(outcome(kind), QStringLiteral("waiting"));
        click(allow ? QStringLiteral("permissionAllow") : QStringLiteral("permissionDeny"));
        QTRY_COMPARE_WITH_TIMEOUT(outcome(kind), allow ? QStringLiteral("granted") : QStringLiteral("denied"),
                                  10000);
        QVERIFY(!dialogOpen(QStringLiteral("permissionQuestion")));
        QVERIFY(!QFile::exists(permissionsFile()));
    }

    // A closed question refuses once; a tab that closes while asking takes its
    // question along, and the next page's question comes up.
    void closedQuestionsRefuse()
    {
        TestHttpServer origin;
        origin.route("/ask", TestHttpServer::Response::html(askPage));
        QVERIFY(origin.listen());
        QVERIFY(m_harness->load(origin.url(QStringLiteral("/ask"))));
        m_harness->runJavaScript(QStringLiteral("ask('geolocation')"));
        QVERIFY(dialogShown(QStringLiteral("permissionQuestion")));
        QTest::keyClick(m_window, Qt::Key_Escape);
        QTRY_COMPARE_WITH_TIMEOUT(outcome(QStringLiteral("geolocation")), QStringLiteral("denied"), 10000);

        m_harness->addTab(QStringLiteral("asking"),
                          origin.url(QStringLiteral("/ask"), QStringLiteral("localhost")).toString());
        QVERIFY(m_harness->waitForCurrentView());
        m_harness->runJavaScript(QStringLiteral("ask('camera')"));
        QVERIFY(dialogShown(QStringLiteral("permissionQuestion")));
        m_harness->closeTab(1);
        QTRY_VERIFY(!dialogOpen(QStringLiteral("permissionQuestion")));

        m_harness->runJavaScript(QStringLiteral("ask('microphone')"));
        QVERIFY(dialogShown(QStringLiteral("permissionQuestion")));
        QVERIFY(text(QStringLiteral("permissionQuestion")).contains(QStringLiteral("使用您的麦克风")));
        click(QStringLiteral("permissionAllow"));
        QTRY_COMPARE_WITH_TIMEOUT(outcome(QStringLiteral("microphone")), QStringLiteral("granted"), 10000);
    }

    // Answers given with 记住此选择 hold after a restart, for their origin only;
    // others are asked for again.
    void keptAnswersSurviveARestart()
    {
        TestHttpServer origin;
        origin.route("/ask", TestHttpServer::Response::html(askPage));
        QVERIFY(origin.listen());
        const QUrl kept = origin.url(QStringLiteral("/ask"), QStringLiteral("localhost"));
        QVERIFY(m_harness->load(kept));
        answer(QStringLiteral("notifications"), QStringLiteral("permissionAllow"), true);
        QTRY_COMPARE_WITH_TIMEOUT(outcome(QStringLiteral("notifications")), QStringLiteral("granted"), 10000);
        answer(QStringLiteral("camera"), QStringLiteral("permissionDeny"), true);
        QTRY_COMPARE_WITH_TIMEOUT(outcome(QStringLiteral("camera")), QStringLiteral("denied"), 10000);
        answer(QStringLiteral("geolocation"), QStringLiteral("permissionAllow"), false);
        QTRY_COMPARE_WITH_TIMEOUT(outcome(QStringLiteral("geolocation")), QStringLiteral("granted"), 10000);

        QFile file(permissionsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject stored = QJsonDocument::fromJson(file.readAll()).object();
        const QString key = QStringLiteral("http://localhost:%1").arg(origin.port());
        QCOMPARE(stored.value(key).toObject(),
                 QJsonObject({ { "notifications", true }, { "camera", false } }));

        openWindow();
        QVERIFY(m_harness->load(kept));
        m_harness->runJavaScript(QStringLiteral("ask('notifications'); ask('camera')"));
        QTRY_COMPARE_WITH_TIMEOUT(outcome(QStringLiteral("notifications")), QStringLiteral("granted"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(outcome(QStringLiteral("camera")), QStringLiteral("denied"), 10000);
        QVERIFY(!dialogOpen(QStringLiteral("permissionQuestion")));
        // An answer given without 记住此选择 is asked for again.
        answer(QStringLiteral("geolocation"), QStringLiteral("permissionDeny"), false);
        QTRY_COMPARE_WITH_TIMEOUT(outcome(QStringLiteral("geolocation")), QStringLiteral("denied"), 10000);

        QVERIFY(m_harness->load(origin.url(QStringLiteral("/ask"))));
        m_harness->runJavaScript(QStringLiteral("ask('notifications')"));
        QVERIFY(dialogShown(QStringLiteral("permissionQuestion")));
        click(QStringLiteral("permissionDeny"));
        QTRY_COMPARE_WITH_TIMEOUT(outcome(QStringLiteral("notifications")), QStringLiteral("denied"), 10000);
    }

    // A notification reaches the desktop (here the window's notice), and its
    // click brings the page's tab forward and tells the page.
    void notificationsBringTheirTabBack()
    {
        TestHttpServer origin;
        origin.route("/ask", TestHttpServer::Response::html(askPage));
        origin.route("/other", TestHttpServer::Response::html("<title>other</title>"));
        QVERIFY(origin.listen());
        QVERIFY(m_harness->load(origin.url(QStringLiteral("/ask"))));
        answer(QStringLiteral("notifications"), QStringLiteral("permissionAllow"), false);
        QTRY_COMPARE_WITH_TIMEOUT(outcome(QStringLiteral("notifications")), QStringLiteral("granted"), 10000);

        auto *presenter = m_window->findChild<NotificationPresenter *>();
        QVERIFY(presenter);
        QSignalSpy shown(presenter, &NotificationPresenter::shown);
        m_harness->runJavaScript(QStringLiteral("setTimeout(notify, 1500)"));
        m_harness->addTab(QStringLiteral("other"), m_server.url(QStringLiteral("/other")).toString());
        QCOMPARE(m_harness->currentIndex(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 10000);
        QCOMPARE(shown.first().value(0).toString(), QStringLiteral("新订单"));
        QCOMPARE(shown.first().value(1).toString(), QStringLiteral("订单 1001 已付款"));
        QCOMPARE(shown.first().value(2).toUrl(), origin.url(QStringLiteral("/")));

        if (item(QStringLiteral("notificationNotice")))
            click(QStringLiteral("notificationNotice"));
        else
            presenter->click(); // the desktop's tray took it
        QCOMPARE(m_harness->currentIndex(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(outcome(QStringLiteral("clicked")), QStringLiteral("yes"), 10000);
        QVERIFY(!item(QStringLiteral("notificationNotice")));
        m_harness->closeTab(1);
    }

    void onlyTrustedPagesWriteTheClipboard_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("lands");
        const QString execCommand = QStringLiteral("getSelection().selectAllChildren(document.getElementById("
                                                   "'text')); document.execCommand('copy')");
        const QString writeText = QStringLiteral("navigator.clipboard.writeText('copied by the page')");
        QTest::newRow("trusted execCommand") << "localhost" << execCommand << true;
        QTest::newRow("untrusted execCommand") << "127.0.0.1" << execCommand << false;
        QTest::newRow("untrusted writeText") << "127.0.0.1" << writeText << false;
    }

    void onlyTrustedPagesWriteTheClipboard()
    {
        QFETCH(QString, host);
        QFETCH(QString, script);
        QFETCH(bool, lands);
        QVERIFY(m_harness->load(m_server.url(QStringLiteral("/ask?clipboard"), host)));
        // A page without focus may not write at all, whoever serves it.
        m_harness->currentView().forceActiveFocus();
        QTRY_VERIFY(m_harness->runJavaScript(QStringLiteral("document.hasFocus()")).toBool());
        QGuiApplication::clipboard()->setText(QStringLiteral("the user's own"));
        m_harness->runJavaScript(script);
        if (lands) {
            QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::clipboard()->text(),
                                      QStringLiteral("copied by the page"), 5000);
        } else {
            QTest::qWait(1500);
            QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("the user's own"));
        }
    }
};

FENESTRA_TEST_MAIN(TestPageRequests)
#include "tst_pagerequests.moc"
