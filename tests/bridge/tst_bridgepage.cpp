#include "argrecorder.h"
#include "bridge/zxjavascript.h"
#include "config/config.h"
#include "testenvironment.h"
#include "testhttpserver.h"
#include "windowharness.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QPointer>
#include <QUrlQuery>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QtTest>
#include <QtWebEngineQuick>

#include <memory>

using Response = TestHttpServer::Response;

namespace {

// Reports back to the server that served the page.
const QByteArray reportScript = "function report(q) { fetch('/report?' + q); }\n";

// Waits for the `zx` that the window gives trusted pages, then uses all of it.
QByteArray trustedPage(const QString &helper)
{
    return "<html><head><title>start</title></head><body><script>\n" + reportScript
            + "(function wait() {\n"
              "  if (typeof zx === 'undefined') { setTimeout(wait, 20); return; }\n"
              "  zx.setConfig('app', 'name', 'trusted-page');\n"
              "  zx.openUrlExt('opened.test/page');\n"
              "  zx.run('"
            + helper.toUtf8()
            + " one,two');\n"
              "  zx.downloadFile(location.origin + '/files/data.txt', 'dl', location.origin + '/callback',\n"
              "                  function(path) { report('m=trusted&path=' + encodeURIComponent(path)); });\n"
              "})();\n"
              "</script></body></html>";
}

// Brings its own copy of the channel library and talks to the transport
// directly, as a hostile page would. Its marker (?m=) tags every effect. It
// opens its channel late so that on a trusted page it takes the transport over
// from the window's own script.
QByteArray selfServingPage(const QString &helper)
{
    return "<html><head><title>self</title></head><body><script>\n"
           "const m = new URLSearchParams(location.search).get('m');\n"
           "function report(q) { fetch('/report?m=' + m + '&' + q); }\n"
           "let s = document.createElement('script');\n"
           "s.src = 'qrc:/qtwebchannel/qwebchannel.js';\n"
           "s.onerror = function() { report('lib=failed'); };\n"
           "s.onload = function() { report('lib=loaded&qt=' + typeof qt); setTimeout(start, 800); };\n"
           "function start() {\n"
           "  try {\n"
           "    new QWebChannel(qt.webChannelTransport, function(channel) {\n"
           "      const z = channel.objects.zx;\n"
           "      z.setConfig('app', 'name', m);\n"
           "      z.openUrlExt(m + '.test/x');\n"
           "      z.run('"
            + helper.toUtf8()
            + " ' + m);\n"
              "      z.downloadFile(location.origin + '/files/' + m + '.txt', 'dl', '', function(p) {});\n"
              "    });\n"
              "  } catch (e) { report('error=' + encodeURIComponent(e)); }\n"
              "}\n"
              "document.head.appendChild(s);\n"
              "setTimeout(function() { report('globalzx=' + typeof zx); }, 1000);\n"
              "</script></body></html>";
}

// Asks for the bridge's deletion, through the object (?way=api) or as a raw
// channel message built from the channel's own description of the object
// (?way=raw), then stores its marker through the bridge a little later.
const QByteArray deletingPage = "<html><body><script>\n" + reportScript
        + "const q = new URLSearchParams(location.search);\n"
          "const m = q.get('m');\n"
          "function deleteRaw() {\n"
          "  const transport = qt.webChannelTransport;\n"
          "  const channelHandler = transport.onmessage;\n"
          "  transport.onmessage = function(message) {\n"
          "    const data = JSON.parse(message.data);\n"
          "    if (data.id !== 4242) { channelHandler(message); return; }\n"
          "    const method = data.data.zx.methods.find(function(e) { return e[0] === 'deleteLater'; });\n"
          "    transport.send(JSON.stringify({ type: 6, object: 'zx', method: method[1], args: [], id: 4243 "
          "}));\n"
          "    report('m=' + m + '&sent=' + method[1]);\n"
          "  };\n"
          "  transport.send(JSON.stringify({ type: 3, id: 4242 }));\n"
          "}\n"
          "(function wait() {\n"
          "  if (typeof zx === 'undefined') { setTimeout(wait, 20); return; }\n"
          "  if (q.get('way') === 'api') { zx.deleteLater(); report('m=' + m + '&sent=api'); }\n"
          "  else deleteRaw();\n"
          "  setTimeout(function() { zx.setConfig('app', 'name', m); }, 1000);\n"
          "})();\n"
          "</script></body></html>";

// Loads the web developers' stand-in for `zx` before its own script (?late=1:
// once a `zx` is there), then downloads through whichever `zx` it has, once
// with the reply function and once as a promise with a name the shell refuses.
const QByteArray standInPage =
        "<html><head><script>\n"
        "const q = new URLSearchParams(location.search);\n"
        "const m = q.get('m');\n"
        "function report(r) { fetch('/report?m=' + m + '&' + r); }\n"
        "if (!q.get('late')) document.write('<script src=\"/zx-standin.js\"></' + 'script>');\n"
        "</script></head><body><script>\n"
        "function go() {\n"
        "  zx.setConfig('app', 'name', m).then(function() { report('set=done'); });\n"
        "  zx.downloadFile(location.origin + '/files/' + m + '.txt', 'dl', '',\n"
        "                  function(p) { report('path=' + encodeURIComponent(p)); });\n"
        "  zx.downloadFile(location.origin + '/files/aux.txt', 'dl', '')\n"
        "      .then(function(p) { report('refused=' + encodeURIComponent(p)); });\n"
        "}\n"
        "(function wait() {\n"
        "  if (!window.zx) { setTimeout(wait, 20); return; }\n"
        "  if (!q.get('late')) { go(); return; }\n"
        "  const s = document.createElement('script');\n"
        "  s.src = '/zx-standin.js';\n"
        "  s.onload = go;\n"
        "  document.head.appendChild(s);\n"
        "})();\n"
        "setTimeout(function() { report('zx=' + typeof window.zx); }, 1500);\n"
        "</script></body></html>";

} // namespace

class TestBridgePage : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void openedByDesktop(const QUrl &url) { opened << url; }

private:
    TemporaryAppDir appDir;
    TestHttpServer server;
    ArgRecorder recorder;
    std::unique_ptr<WindowHarness> window;
    QList<QUrl> opened;
    const QByteArray slowFile = QByteArray(200 * 1024, 's');

    QQuickItem *currentView() const { return window->currentView().item(); }

    // What the current view's channel offers its page.
    QStringList publishedObjects() const
    {
        auto *channel = qobject_cast<QWebChannel *>(currentView()->property("webChannel").value<QObject *>());
        if (!channel)
            return { QStringLiteral("<no channel>") };
        QStringList names;
        const auto objects = channel->registeredObjects();
        for (auto it = objects.cbegin(); it != objects.cend(); ++it)
            names << it.key() + QLatin1Char('=') + QLatin1String(it.value()->metaObject()->className());
        return names;
    }

    QString trusted(const QString &path) const
    {
        return server.url(path, QStringLiteral("localhost")).toString();
    }
    QString untrusted(const QString &path) const
    {
        return server.url(path, QStringLiteral("127.0.0.1")).toString();
    }

    bool reported(const QString &marker, const QString &what) const
    {
        const QByteArray needle = "m=" + marker.toUtf8() + '&' + what.toUtf8();
        const auto reports = server.requestsFor("/report");
        return std::any_of(reports.cbegin(), reports.cend(),
                           [&](const TestHttpServer::Request &r) { return r.target.contains(needle); });
    }

    // Whether the page tagged `marker` has reached any part of the bridge.
    bool anyEffectOf(const QString &marker) const
    {
        const bool configured =
                Config::getInstance()->getAttr(QStringLiteral("app"), QStringLiteral("name")) == marker;
        const bool openedUrl = std::any_of(opened.cbegin(), opened.cend(),
                                           [&](const QUrl &url) { return url.host().startsWith(marker); });
        const auto runs = recorder.runs();
        const bool ran = std::any_of(runs.cbegin(), runs.cend(), [&](const ArgRecorder::Run &run) {
            return run.arguments.contains(marker);
        });
        const bool downloaded = !server.requestsFor("/files/" + marker.toUtf8() + ".txt").isEmpty();
        return configured || openedUrl || ran || downloaded;
    }

    // The value of `key` in the report of the page tagged `marker`; null when none came.
    QString reportedValue(const QString &marker, const QString &key) const
    {
        for (const TestHttpServer::Request &r : server.requestsFor("/report")) {
            const QUrlQuery query(QUrl::fromEncoded(r.target).query(QUrl::FullyEncoded));
            if (query.queryItemValue(QStringLiteral("m")) == marker && query.hasQueryItem(key))
                return query.queryItemValue(key, QUrl::FullyDecoded);
        }
        return QString();
    }

    bool allEffectsOf(const QString &marker) const
    {
        const auto runs = recorder.runs();
        return Config::getInstance()->getAttr(QStringLiteral("app"), QStringLiteral("name")) == marker
                && opened.contains(QUrl(QStringLiteral("http://%1.test/x").arg(marker)))
                && std::any_of(
                        runs.cbegin(), runs.cend(),
                        [&](const ArgRecorder::Run &run) { return run.arguments == QStringList { marker }; })
                && !server.requestsFor("/files/" + marker.toUtf8() + ".txt").isEmpty();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(server.listen());
        const QString helper = ArgRecorder::program();
        server.route("/", Response::html(trustedPage(helper)));
        server.route("/self", Response::html(selfServingPage(helper)));
        server.route("/framed",
                     Response::html("<html><head><title>framed</title></head><body><iframe src=\""
                                    + untrusted(QStringLiteral("/self?m=framed")).toUtf8()
                                    + "\"></iframe></body></html>"));
        server.route("/away", Response::redirect(untrusted(QStringLiteral("/self?m=redirected")).toUtf8()));
        server.route("/files/data.txt", Response::text("payload"));
        server.route("/deleting", Response::html(deletingPage));
        server.route(
                "/downloading",
                Response::html(
                        "<html><body><script>\n"
                        "(function wait() {\n"
                        "  if (typeof zx === 'undefined') { setTimeout(wait, 20); return; }\n"
                        "  zx.downloadFile(location.origin + '/files/slow.bin', 'dl', '', function(p) {});\n"
                        "})();\n"
                        "</script></body></html>"));
        Response slow = Response::text(slowFile, "application/octet-stream");
        slow.delivery = Response::Delivery::Drip;
        slow.dripChunk = 2048;
        slow.dripIntervalMs = 20; // about 2 s
        server.route("/files/slow.bin", slow);
        server.route("/callback", Response::text("ok"));
        QFile standIn(QStringLiteral(FENESTRA_ZX_STANDIN));
        QVERIFY(standIn.open(QIODevice::ReadOnly));
        server.route("/zx-standin.js", Response::text(standIn.readAll(), "text/javascript; charset=utf-8"));
        server.route("/standin", Response::html(standInPage));
        server.route("/report", Response::text("ok"));

        // The company server is this test server under the name "localhost".
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openedByDesktop");
        window = std::make_unique<WindowHarness>("<hallinfo><server url=\"localhost:"
                                                 + QByteArray::number(server.port())
                                                 + "\" path=\"register\"/><app name=\"\"/></hallinfo>");
        QVERIFY(window->isLoaded());
        QVERIFY(currentView());
    }

    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("[Bb]inding loop"))); }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        window.reset();
    }

    void trustedPageUsesTheBridge()
    {
        const QString stored = appDir.filePath(QStringLiteral("dl/data.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(
                reported(QStringLiteral("trusted"), "path=" + QUrl::toPercentEncoding(stored)), 20000);

        QCOMPARE(appDir.read(QStringLiteral("dl/data.txt")), QByteArray("payload"));
        QCOMPARE(server.requestsFor("/callback").size(), 1);
        QCOMPARE(Config::getInstance()->getAttr(QStringLiteral("app"), QStringLiteral("name")),
                 QStringLiteral("trusted-page"));
        QVERIFY(opened.contains(QUrl(QStringLiteral("http://opened.test/page"))));
        QTRY_COMPARE(recorder.runs().size(), 1);
        QCOMPARE(recorder.runs().first().arguments, (QStringList { "one", "two" }));
        QCOMPARE(QFileInfo(recorder.runs().first().workingDirectory).canonicalFilePath(),
                 QFileInfo(appDir.path()).canonicalFilePath());
        QCOMPARE(publishedObjects(), QStringList { "zx=ZxJavascript" });
    }

    // The same hostile script, served by the company server, does reach the
    // bridge: what stops it elsewhere is the page's address alone.
    void ownChannelLibraryWorksOnATrustedPage()
    {
        currentView()->setProperty("url", trusted(QStringLiteral("/self?m=control")));
        QTRY_VERIFY_WITH_TIMEOUT(allEffectsOf(QStringLiteral("control")), 20000);
    }

    void untrustedPagesCannotReachTheBridge_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("marker");

        QTest::newRow("another host name") << untrusted(QStringLiteral("/self?m=direct")) << "direct";
        QTest::newRow("redirected away") << trusted(QStringLiteral("/away")) << "redirected";
        QTest::newRow("frame in a trusted page") << trusted(QStringLiteral("/framed")) << "framed";
    }
    void untrustedPagesCannotReachTheBridge()
    {
        QFETCH(QString, address);
        QFETCH(QString, marker);

        currentView()->setProperty("url", address);
        QTRY_VERIFY_WITH_TIMEOUT(reported(marker, QStringLiteral("lib=loaded")), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(reported(marker, QStringLiteral("globalzx=undefined")), 20000);
        QTest::qWait(1500); // what the trusted control needs by far
        QVERIFY(!anyEffectOf(marker));
    }

    // The page goes away while its download waits; the call still ends cleanly
    // and the next page can neither use the bridge nor break the window.
    void leavingDuringADownload()
    {
        currentView()->setProperty("url", trusted(QStringLiteral("/downloading")));
        QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor("/files/slow.bin").isEmpty(), 20000);

        currentView()->setProperty("url", untrusted(QStringLiteral("/self?m=during")));
        QTRY_VERIFY_WITH_TIMEOUT(reported(QStringLiteral("during"), QStringLiteral("globalzx=undefined")),
                                 20000);
        QTRY_VERIFY_WITH_TIMEOUT(appDir.read(QStringLiteral("dl/slow.bin")) == slowFile, 20000);
        QTest::qWait(1000);
        QVERIFY(!anyEffectOf(QStringLiteral("during")));
    }

    // The page's channel goes with its tab while the download it asked for is
    // still running; the download ends normally and nothing else is touched.
    void closingTheTabDuringADownload()
    {
        const auto before = server.requestsFor("/files/slow.bin").size();
        window->addTab(QStringLiteral("download"), trusted(QStringLiteral("/downloading")));
        QTRY_COMPARE_WITH_TIMEOUT(server.requestsFor("/files/slow.bin").size(), before + 1, 20000);

        window->closeTab(window->tabCount() - 1);
        QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, 20000);
        QTest::qWait(1000);
        QCOMPARE(appDir.read(QStringLiteral("dl/slow.bin")), slowFile);
        QCOMPARE(window->tabCount(), 1);
        QVERIFY(currentView());
    }

    void trustComesBackWithATrustedPage()
    {
        currentView()->setProperty("url", untrusted(QStringLiteral("/self?m=before")));
        QTRY_VERIFY_WITH_TIMEOUT(reported(QStringLiteral("before"), QStringLiteral("lib=loaded")), 20000);
        QCOMPARE(publishedObjects(), QStringList());

        currentView()->setProperty("url", trusted(QStringLiteral("/self?m=after")));
        QTRY_VERIFY_WITH_TIMEOUT(allEffectsOf(QStringLiteral("after")), 20000);
        QVERIFY(!anyEffectOf(QStringLiteral("before")));
    }

    // The stand-in answers only where the page runs outside the shell; in the
    // shell it stays out of the way, whether it loads before or after `zx`.
    void standInOnlyOutsideTheShell_data()
    {
        QTest::addColumn<bool>("inShell");
        QTest::addColumn<bool>("trustedHost");
        QTest::addColumn<bool>("late");
        QTest::addColumn<QString>("answers");

        QTest::newRow("ordinary browser") << false << false << false << "stand-in";
        QTest::newRow("untrusted page in the shell") << true << false << false << "nobody";
        QTest::newRow("trusted page, stand-in first") << true << true << false << "bridge";
        QTest::newRow("trusted page, stand-in after zx") << true << true << true << "bridge";
    }
    void standInOnlyOutsideTheShell()
    {
        QFETCH(bool, inShell);
        QFETCH(bool, trustedHost);
        QFETCH(bool, late);
        QFETCH(QString, answers);
        const QString marker = QStringLiteral("standin-%1-%2-%3").arg(inShell).arg(trustedHost).arg(late);
        const QByteArray file = "/files/" + marker.toUtf8() + ".txt";
        server.route(file, Response::text("from the server"));
        const QString path =
                QStringLiteral("/standin?m=%1%2").arg(marker, late ? QStringLiteral("&late=1") : QString());
        const QString address = trustedHost ? trusted(path) : untrusted(path);

        // An ordinary browser: a page of the same engine without any channel.
        QWebEnginePage browser;
        if (inShell)
            currentView()->setProperty("url", address);
        else
            browser.load(QUrl(address));

        QTRY_VERIFY_WITH_TIMEOUT(!reportedValue(marker, QStringLiteral("zx")).isNull(), 20000);
        if (answers == QLatin1String("nobody")) {
            QCOMPARE(reportedValue(marker, QStringLiteral("zx")), QStringLiteral("undefined"));
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(!reportedValue(marker, QStringLiteral("path")).isNull(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(reportedValue(marker, QStringLiteral("refused")), QString(""), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(reportedValue(marker, QStringLiteral("set")), QStringLiteral("done"),
                                  20000);
        const QString stored = reportedValue(marker, QStringLiteral("path"));
        const bool configured =
                Config::getInstance()->getAttr(QStringLiteral("app"), QStringLiteral("name")) == marker;
        if (answers == QLatin1String("bridge")) {
            QCOMPARE(stored, appDir.filePath("dl/" + marker + ".txt"));
            QCOMPARE(appDir.read("dl/" + marker + ".txt"), QByteArray("from the server"));
            QVERIFY(configured);
        } else {
            // Where the shell would store it, and nothing fetched or stored.
            QVERIFY2(stored.endsWith("/Fenestra/dl/" + marker + ".txt"), qPrintable(stored));
            QVERIFY(server.requestsFor(file).isEmpty());
            QVERIFY(!configured);
        }
    }

    // deleteLater is a public slot of every object; asked for by a page, through
    // the object or as a raw message, it must not take the bridge from every tab.
    void pagesCannotDeleteTheBridge_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("through the object") << "api";
        QTest::newRow("raw channel message") << "raw";
    }
    void pagesCannotDeleteTheBridge()
    {
        QFETCH(QString, way);
        const QString marker = QStringLiteral("deleting-") + way;
        const QPointer<QObject> bridge = ZxJavascript::getInstance();

        currentView()->setProperty("url", trusted(QStringLiteral("/deleting?way=%1&m=%2").arg(way, marker)));
        QTRY_VERIFY_WITH_TIMEOUT(reported(marker, QStringLiteral("sent=")), 20000);
        // The page stores its marker after the deletion would have happened.
        QTRY_COMPARE_WITH_TIMEOUT(
                Config::getInstance()->getAttr(QStringLiteral("app"), QStringLiteral("name")), marker, 20000);
        QVERIFY(bridge);

        const QString next = QStringLiteral("after-") + way;
        currentView()->setProperty("url", trusted(QStringLiteral("/self?m=%1").arg(next)));
        QTRY_VERIFY_WITH_TIMEOUT(allEffectsOf(next), 20000);
        QCOMPARE(publishedObjects(), QStringList { "zx=ZxJavascript" });
    }
};

FENESTRA_TEST_MAIN(TestBridgePage)
#include "tst_bridgepage.moc"
