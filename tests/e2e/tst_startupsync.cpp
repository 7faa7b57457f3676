#include "shellprocess.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <QtWebEngineQuick>

namespace {

const QByteArray indexPath = "/appindex/index.php";

// The real program in a folder of its own, with its own config.dll and its own
// home, started the way a user starts it. It keeps the debug lines it writes.
class Shell
{
public:
    Shell()
    {
        const QString program = m_folder.filePath(QStringLiteral("fenestra"));
        QFile::copy(QStringLiteral(FENESTRA_TEST_SHELL), program);
        m_process.setProgram(program);
        m_process.setWorkingDirectory(m_folder.path());

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
        environment.insert(QStringLiteral("HOME"), m_home.path());
        for (const char *name :
             { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR" }) {
            const QString folder = m_home.filePath(QString::fromLatin1(name).toLower());
            QDir().mkpath(folder);
            QFile::setPermissions(folder,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            environment.insert(QString::fromLatin1(name), folder);
        }
        environment.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
        m_process.setProcessEnvironment(environment);

        QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] {
            m_pending += m_process.readAllStandardError();
            int end;
            while ((end = int(m_pending.indexOf('\n'))) >= 0) {
                m_lines << QString::fromUtf8(m_pending.left(end));
                m_pending.remove(0, end + 1);
            }
        });
    }

    ~Shell()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QString filePath(const QString &relative) const { return m_folder.filePath(relative); }

    bool write(const QString &relative, const QByteArray &content) const
    {
        QDir().mkpath(QFileInfo(filePath(relative)).path());
        QFile file(filePath(relative));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }

    QByteArray read(const QString &relative) const
    {
        QFile file(filePath(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void start()
    {
        m_clock.start();
        m_process.start();
    }

    qint64 elapsed() const { return m_clock.elapsed(); }
    bool running() const { return m_process.state() == QProcess::Running; }

    // The first debug line whose text starts with `prefix`, without the name of
    // its logging category; empty while there is none.
    QString line(const QString &prefix) const
    {
        static const QRegularExpression category(QStringLiteral("^fenestra\\.\\w+: "));
        for (QString line : m_lines) {
            line.remove(category);
            if (line.startsWith(prefix))
                return line;
        }
        return {};
    }

    QStringList lines() const { return m_lines; }

private:
    QTemporaryDir m_folder;
    QTemporaryDir m_home;
    QProcess m_process;
    QByteArray m_pending;
    QStringList m_lines;
    QElapsedTimer m_clock;
};

QByteArray configDocument(quint16 webPort, const QByteArray &codeVersion)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<hallinfo>\n"
           "    <server url=\"http://127.0.0.1\" hid=\"0\" isoffline=\"0\" path=\"acme\"/>\n"
           "    <web port=\""
            + QByteArray::number(webPort)
            + "\"/>\n"
              "    <factory code_version=\""
            + codeVersion
            + "\" app_code=\"\" is_domain=\"0\"/>\n"
              "</hallinfo>\n";
}

} // namespace

class TestStartupSync : public QObject
{
    Q_OBJECT

private:
    TestHttpServer pages;
    QString pageAddress(const QByteArray &version) const
    {
        return QStringLiteral("http://127.0.0.1:%1/acme/%2/")
                .arg(pages.port())
                .arg(QString::fromLatin1(version));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QFileInfo::exists(QStringLiteral(FENESTRA_TEST_SHELL)));
        QVERIFY(pages.listen());
        for (const QByteArray version : { "v1", "v77" })
            pages.route("/acme/" + version + '/',
                        TestHttpServer::Response::html("<html><head><title>Acme " + version
                                                       + "</title></head><body>orders</body></html>"));
    }

    void init() { pages.clearRequests(); }

    // A server that moved to a new code version opens at its new address, with
    // nobody editing the file; a waiting report folder moves into place too.
    void newCodeVersionOpensAtStart()
    {
        TestHttpServer index;
        QVERIFY(index.listen(FENESTRA_TEST_INDEX_PORT));
        index.route(indexPath,
                    TestHttpServer::Response::text(
                            "{\"return\":0,\"data\":{\"is_domain\":\"0\",\"code_version\":\"v77\"}}",
                            "application/json"));

        Shell shell;
        QVERIFY(shell.write(QStringLiteral("config.dll"), configDocument(pages.port(), "v1")));
        QVERIFY(shell.write(QStringLiteral("reports_b/day.rpt"), "report"));
        shell.start();

        QTRY_VERIFY_WITH_TIMEOUT(!pages.requestsFor("/acme/v77/").isEmpty(), 30000);
        QCOMPARE(shell.line(QStringLiteral("---------url")), "---------url" + pageAddress("v77"));
        QCOMPARE(shell.line(QStringLiteral("runcmd http: ")),
                 QStringLiteral("runcmd http: http://127.0.0.1:%1/appindex/index.php"
                                "?r=register/codeVersion&server_path=acme")
                         .arg(FENESTRA_TEST_INDEX_PORT));
        QCOMPARE(index.requests().size(), 1);
        QCOMPARE(index.requests()[0].target, indexPath + "?r=register/codeVersion&server_path=acme");
        QVERIFY(pages.requestsFor("/acme/v1/").isEmpty());

        QVERIFY(shell.read(QStringLiteral("config.dll")).contains("code_version=\"v77\""));
        QCOMPARE(shell.read(QStringLiteral("reports/day.rpt")), QByteArray("report"));
        QVERIFY(!QFileInfo::exists(shell.filePath(QStringLiteral("reports_b"))));
    }

    // Nothing listens on the index port: the stored address opens at once.
    void unreachableServiceKeepsTheStoredAddress()
    {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, FENESTRA_TEST_INDEX_PORT);
        QVERIFY2(!probe.waitForConnected(2000), "another program listens on the index service port");

        Shell shell;
        QVERIFY(shell.write(QStringLiteral("config.dll"), configDocument(pages.port(), "v1")));
        shell.start();

        QTRY_VERIFY_WITH_TIMEOUT(!pages.requestsFor("/acme/v1/").isEmpty(), 30000);
        QCOMPARE(shell.line(QStringLiteral("---------url")), "---------url" + pageAddress("v1"));
        QVERIFY(shell.read(QStringLiteral("config.dll")).contains("code_version=\"v1\""));
    }

    // The service takes the request and never answers: start-up gives up after
    // ten silent seconds and the window opens the stored address.
    void stalledServiceDelaysTheWindowOnlyUntilTheTimeLimit()
    {
        TestHttpServer index;
        QVERIFY(index.listen(FENESTRA_TEST_INDEX_PORT));
        TestHttpServer::Response stalled;
        stalled.delivery = TestHttpServer::Response::Delivery::Stall;
        index.route(indexPath, stalled);

        Shell shell;
        QVERIFY(shell.write(QStringLiteral("config.dll"), configDocument(pages.port(), "v1")));
        shell.start();

        QTRY_VERIFY_WITH_TIMEOUT(!shell.line(QStringLiteral("---------url")).isEmpty(), 30000);
        const qint64 waited = shell.elapsed();
        QCOMPARE(index.requests().size(), 1);
        QCOMPARE(shell.line(QStringLiteral("---------url")), "---------url" + pageAddress("v1"));
        QVERIFY2(waited >= 9500, qPrintable(QStringLiteral("gave up after %1 ms").arg(waited)));
        qInfo("start-up went on %lld ms after launch", waited);

        QTRY_VERIFY_WITH_TIMEOUT(!pages.requestsFor("/acme/v1/").isEmpty(), 30000);
        QVERIFY(shell.running());
    }

    // A termination signal while start-up waits for the index service ends the
    // program at once, with the exit code of a signal later on (0): no window,
    // and nothing written after the signal.
    void terminationDuringTheCheckEndsTheStartUp()
    {
        TestHttpServer index;
        QVERIFY(index.listen(FENESTRA_TEST_INDEX_PORT));
        TestHttpServer::Response stalled;
        stalled.delivery = TestHttpServer::Response::Delivery::Stall;
        index.route(indexPath, stalled);

        ShellProcess shell;
        const QByteArray document = configDocument(pages.port(), "v1");
        QVERIFY(shell.writeFile(QStringLiteral("config.dll"), document));
        QVERIFY(QDir(shell.appDirPath()).mkdir(QStringLiteral("reports_b"))); // moved after the check
        shell.start();
        QTRY_COMPARE_WITH_TIMEOUT(index.requests().size(), 1, 30000);

        shell.process().terminate();
        QVERIFY2(shell.waitForExit(5000), "still running 5 s after the signal");
        QCOMPARE(shell.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(shell.process().exitCode(), 0);
        QVERIFY(!shell.log().contains(QStringLiteral("---------url")));
        QCOMPARE(shell.readFile(QStringLiteral("config.dll")), document);
        QVERIFY(QFileInfo(shell.appDirPath() + QStringLiteral("/reports_b")).isDir());
        QVERIFY(pages.requestsFor("/acme/v1/").isEmpty());
    }
};

FENESTRA_TEST_MAIN(TestStartupSync)
#include "tst_startupsync.moc"
