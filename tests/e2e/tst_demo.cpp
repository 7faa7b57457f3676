#include "demoserver.h"
#include "shellprocess.h"
#include "testenvironment.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>
#include <QtWebEngineQuick>

namespace {

constexpr int stepTimeout = 90000;

bool anyStartsWith(const QStringList &lines, const QString &prefix)
{
    return std::any_of(lines.cbegin(), lines.cend(),
                       [&](const QString &line) { return line.startsWith(prefix); });
}

} // namespace

// A new user's first day with the demo: sign up, start again on the company's
// application, log in, download, and find the login still there after a
// version change and another restart.
class TestDemo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theWholeFlow()
    {
        DemoServer demo;
        demo.setAutopilot(true);
        QVERIFY(demo.listen(FENESTRA_TEST_SIGNUP_PORT));
        QVERIFY(demo.listen(FENESTRA_TEST_INDEX_PORT));
        QStringList requests;
        QStringList steps;
        connect(&demo, &DemoServer::requestReceived, this, [&](const QString &line) { requests << line; });
        connect(&demo, &DemoServer::autopilotStep, this, [&](const QString &step) { steps << step; });

        ShellProcess shell;
        shell.start();
        QTRY_VERIFY_WITH_TIMEOUT(steps.contains("signed-up"), stepTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(shell.readFile("config.dll").contains("path=\"demo-factory\""), stepTimeout);
        QVERIFY(!anyStartsWith(requests, "GET /appindex/"));
        QVERIFY(shell.stop());
        const QByteArray config = shell.readFile("config.dll");
        QVERIFY(config.contains("url=\"localhost\""));
        QVERIFY(config.contains(QStringLiteral("port=\"%1\"").arg(FENESTRA_TEST_SIGNUP_PORT).toUtf8()));

        // Second start: the index service names the version, the shell opens it.
        steps.clear();
        shell.start();
        QTRY_VERIFY_WITH_TIMEOUT(steps.contains("logged-in"), stepTimeout);
        QVERIFY(requests.contains("GET /appindex/index.php?r=register/codeVersion&server_path=demo-factory"));
        QVERIFY(anyStartsWith(requests, "GET /demo-factory/v1/"));
        QVERIFY(shell.log().contains(
                QStringLiteral("---------urllocalhost:%1/demo-factory/v1/").arg(FENESTRA_TEST_SIGNUP_PORT)));

        const QString stored = shell.appDirPath() + "/server/www/src/price-list.bin";
        QTRY_VERIFY_WITH_TIMEOUT(anyStartsWith(steps, "downloaded:"), stepTimeout);
        QCOMPARE(steps.filter("downloaded:").first(), "downloaded:已保存到 " + stored);
        QCOMPARE(demo.callbacks(), QStringList({ "price-list.bin" }));
        QCOMPARE(QFileInfo(stored).size(), qint64(32 * 1024 * 1024));
        QVERIFY(shell.stop());

        // Third start after a new version: new address, and still logged in.
        demo.setCodeVersion("v2");
        steps.clear();
        requests.clear();
        shell.start();
        QTRY_VERIFY_WITH_TIMEOUT(steps.contains("logged-in"), stepTimeout);
        QVERIFY(anyStartsWith(requests, "GET /demo-factory/v2/"));
        QVERIFY(!requests.contains("POST /demo/login"));
        QVERIFY(shell.readFile("config.dll").contains("code_version=\"v2\""));
        QVERIFY(shell.stop());
    }

    // The guide's examples are the demo's own pages, so they cannot drift.
    void guideExamplesAreDemoPages()
    {
        QFile guide(QStringLiteral(FENESTRA_SOURCE_DIR "/docs/bridge.md"));
        QVERIFY(guide.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(guide.readAll());
        static const QRegularExpression example(
                QStringLiteral("<!-- example: (\\S+) -->\\n```html\\n(.*?)```"),
                QRegularExpression::DotMatchesEverythingOption);
        int examples = 0;
        for (auto it = example.globalMatch(text); it.hasNext(); ++examples) {
            const QRegularExpressionMatch match = it.next();
            QFile page(QStringLiteral(FENESTRA_SOURCE_DIR "/") + match.captured(1));
            QVERIFY2(page.open(QIODevice::ReadOnly), qPrintable(match.captured(1)));
            QCOMPARE(match.captured(2), QString::fromUtf8(page.readAll()));
        }
        QVERIFY(examples >= 2);
    }
};

FENESTRA_TEST_MAIN(TestDemo)
#include "tst_demo.moc"
