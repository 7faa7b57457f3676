#include "launcher/installstate.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QUrlQuery>
#include <QtTest>
#include <QtWebEngineQuick>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace {

constexpr int startTimeout = 90000;

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

bool copyFolder(const QString &from, const QString &to)
{
    QProcess cp;
    cp.start(QStringLiteral("cp"), { QStringLiteral("-a"), from, to });
    return cp.waitForFinished(120000) && cp.exitCode() == 0;
}

// The child the launcher started, from the kernel's list of its children.
qint64 childOf(qint64 pid)
{
    const QByteArray children = readFile(QStringLiteral("/proc/%1/task/%1/children").arg(pid)).trimmed();
    return children.isEmpty() ? 0 : children.split(' ').first().toLongLong();
}

} // namespace

// The whole way of an update on Linux: the launcher at an installation's root
// with version folders made from the deployed folder, and the real shell
// fetching a channel that the release tool wrote, from loopback.
class TestUpdateFlow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_work;
    QString m_root;
    QString m_deployed;
    TestHttpServer m_server;
    QProcess m_launcher;

    QString rootFile(const QString &relative) const { return m_root + QLatin1Char('/') + relative; }

    // A version folder's content: the deployed folder with the test build's
    // shell, which knows the loopback channel and the test keys.
    bool makeVersion(const QString &folder, const QByteArray &replacement = QByteArray())
    {
        if (!copyFolder(m_deployed, folder))
            return false;
        const QString shell = folder + QStringLiteral("/bin/fenestra");
        QFile::remove(shell);
        if (replacement.isEmpty())
            return QFile::copy(QStringLiteral(FENESTRA_TEST_SHELL), shell);
        return writeFile(shell, replacement)
                && QFile::setPermissions(
                        shell, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    bool release(const QString &folder, const QString &version, int serial)
    {
        QProcess tool;
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start(QStringLiteral(FENESTRA_RELEASE_TOOL),
                   { folder, version,
                     QStringLiteral(FENESTRA_SOURCE_DIR "/tests/support/updatekeys/first.key"),
                     QStringLiteral("--channel"), m_work.filePath(QStringLiteral("channel")),
                     QStringLiteral("--base-url"),
                     m_server.url(QStringLiteral("/appindex/fenestra/")).toString(),
                     QStringLiteral("--serial"), QString::number(serial) });
        const bool ok = tool.waitForFinished(300000) && tool.exitCode() == 0;
        qDebug().noquote() << tool.readAll().trimmed();
        return ok;
    }

    void startLauncher()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The instance lock and the web engine's files stay in the test's own folder.
        const QString home = m_work.filePath(QStringLiteral("home"));
        QDir().mkpath(home + QStringLiteral("/tmp"));
        environment.insert(QStringLiteral("HOME"), home);
        environment.insert(QStringLiteral("TMPDIR"), home + QStringLiteral("/tmp"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_launcher.setProcessEnvironment(environment);
        m_launcher.setProcessChannelMode(QProcess::ForwardedChannels);
        m_launcher.start(rootFile(QStringLiteral("fenestra")), {});
    }

    // Ends the shell the way the desktop session does; the launcher then ends too.
    bool stopShell()
    {
#ifdef Q_OS_UNIX
        const qint64 shell = childOf(m_launcher.processId());
        if (shell <= 0 || ::kill(pid_t(shell), SIGTERM) != 0)
            return false;
#endif
        return m_launcher.waitForFinished(60000) && m_launcher.exitCode() == 0;
    }

    InstallState::State state() const
    {
        InstallState::State s;
        InstallState::read(rootFile(QStringLiteral("update/state.ini")).toStdString(), s);
        return s;
    }

    QString shellLog() const
    {
        return QString::fromUtf8(readFile(rootFile(QStringLiteral("logs/fenestra.log"))));
    }
    QString launcherLog() const
    {
        return QString::fromUtf8(readFile(rootFile(QStringLiteral("logs/launcher.log"))));
    }

    // The report of the channel's last manifest request, field by field.
    QUrlQuery lastReport() const
    {
        const QList<TestHttpServer::Request> asked = m_server.requestsFor("/appindex/fenestra/manifest.json");
        return asked.isEmpty() ? QUrlQuery() : QUrlQuery(QUrl::fromEncoded(asked.last().target).query());
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_deployed = qEnvironmentVariable("FENESTRA_INSTALLED_FOLDER");
        if (m_deployed.isEmpty())
            QSKIP("needs the deployed folder of scripts/test-install (FENESTRA_INSTALLED_FOLDER)");
        m_root = m_work.filePath(QStringLiteral("Fenestra root"));
        QVERIFY(QDir().mkpath(m_root + QStringLiteral("/versions")));
        QVERIFY(QFile::copy(QStringLiteral(FENESTRA_LAUNCHER), rootFile(QStringLiteral("fenestra"))));
        QVERIFY(makeVersion(rootFile(QStringLiteral("versions/1.0.0"))));
        QVERIFY(writeFile(rootFile(QStringLiteral("versions/1.0.0/.fenestra-complete")), "1.0.0\n"));
        QVERIFY(writeFile(rootFile(QStringLiteral("update/state.ini")),
                          "installation_id=00112233445566778899aabbccddeeff\ncurrent=1.0.0\n"));
        // The channel beside the index service, as the built-in address has it.
        m_server.setFallback([this](const TestHttpServer::Request &request) {
            const QByteArray prefix = "/appindex/fenestra/";
            const QString file = m_work.filePath(QStringLiteral("channel/")
                                                 + QString::fromUtf8(request.path().mid(prefix.size())));
            if (!request.path().startsWith(prefix) || request.path().contains("..")
                || !QFileInfo(file).isFile())
                return TestHttpServer::Response::text("not here", "text/plain", 404);
            return TestHttpServer::Response::text(readFile(file), "application/octet-stream");
        });
        QVERIFY(m_server.listen(FENESTRA_TEST_INDEX_PORT));
    }

    void newVersionIsStagedThenTriedAndKept()
    {
        const QString folderB = m_work.filePath(QStringLiteral("release-1.1.0"));
        QVERIFY(makeVersion(folderB));
        QVERIFY(release(folderB, QStringLiteral("1.1.0"), 1));

        QElapsedTimer sinceStart;
        sinceStart.start();
        startLauncher();
        QTRY_VERIFY_WITH_TIMEOUT(shellLog().contains(QLatin1String("staged 1.1.0 for the next start")),
                                 startTimeout);
        qDebug().noquote() << "from a start to a staged version:" << sinceStart.elapsed() << "ms";
        QCOMPARE(QString::fromStdString(state().pending), QStringLiteral("1.1.0"));
        QCOMPARE(state().serial, 1ull);
        QVERIFY(QFileInfo::exists(rootFile(QStringLiteral("versions/1.1.0/.fenestra-complete"))));
        QVERIFY(shellLog().contains(QLatin1String("running 1.0.0")));
        // The mark the launcher judges a start by.
        QCOMPARE(readFile(rootFile(QStringLiteral("update/first-frame"))), QByteArray("1.0.0\n"));
        QVERIFY(stopShell());

        startLauncher();
        QTRY_VERIFY_WITH_TIMEOUT(shellLog().contains(QLatin1String("healthy 1.1.0")), startTimeout);
        QVERIFY(launcherLog().contains(QLatin1String("started on trial 1.1.0")));
        QVERIFY(shellLog().contains(QLatin1String("running 1.1.0")));
        const InstallState::State kept = state();
        QCOMPARE(QString::fromStdString(kept.current), QStringLiteral("1.1.0"));
        QCOMPARE(QString::fromStdString(kept.previous), QStringLiteral("1.0.0"));
        QVERIFY(kept.trial.empty());
        // The check after the healthy report tells the channel what runs now.
        QTRY_COMPARE_WITH_TIMEOUT(lastReport().queryItemValue(QStringLiteral("v")), QStringLiteral("1.1.0"),
                                  startTimeout);
        const QUrlQuery report = lastReport();
        QCOMPARE(report.queryItemValue(QStringLiteral("prev")), QStringLiteral("1.0.0"));
        QCOMPARE(report.queryItemValue(QStringLiteral("gfx")), QStringLiteral("0"));
        QCOMPARE(report.queryItemValue(QStringLiteral("crashes")), QStringLiteral("0"));
        QCOMPARE(report.queryItemValue(QStringLiteral("dl")), QStringLiteral("ok"));
        QVERIFY(stopShell());
    }

    void versionThatCannotStartIsRolledBack()
    {
        const QString folderC = m_work.filePath(QStringLiteral("release-1.2.0"));
        QVERIFY(makeVersion(folderC, "#!/bin/sh\nexit 3\n"));
        QVERIFY(release(folderC, QStringLiteral("1.2.0"), 2));
        startLauncher();
        QTRY_VERIFY_WITH_TIMEOUT(shellLog().contains(QLatin1String("staged 1.2.0 for the next start")),
                                 startTimeout);
        QVERIFY(stopShell());

        const int runsBefore = int(shellLog().count(QLatin1String("running 1.1.0")));
        startLauncher();
        QTRY_VERIFY_WITH_TIMEOUT(shellLog().count(QLatin1String("running 1.1.0")) == runsBefore + 1,
                                 startTimeout);
        const QString launcher = launcherLog();
        QVERIFY(launcher.contains(QLatin1String("started on trial 1.2.0")));
        QVERIFY2(launcher.contains(QLatin1String("rolled back: 1.2.0")), qPrintable(launcher));
        QCOMPARE(int(launcher.count(QLatin1String("started on trial 1.2.0"))), 1);
        QVERIFY(state().isBad("1.2.0"));
        QCOMPARE(QString::fromStdString(state().current), QStringLiteral("1.1.0"));
        // The next check knows the bad version and leaves it.
        QTRY_VERIFY_WITH_TIMEOUT(shellLog().count(QLatin1String("checked the manifest, serial 2")) == 2,
                                 startTimeout);
        QVERIFY(QString::fromStdString(state().pending).isEmpty());
        QCOMPARE(lastReport().queryItemValue(QStringLiteral("lastbad")), QStringLiteral("1.2.0"));
        QCOMPARE(lastReport().queryItemValue(QStringLiteral("bad")), QStringLiteral("1"));
        QVERIFY(stopShell());
    }

    // A version that crashes on trial is rolled back, and the next report counts the crash.
    void crashIsCountedInTheReport()
    {
        const QString folderD = m_work.filePath(QStringLiteral("release-1.3.0"));
        QVERIFY(makeVersion(folderD, "#!/bin/sh\nkill -SEGV $$\n"));
        QVERIFY(release(folderD, QStringLiteral("1.3.0"), 3));
        startLauncher();
        QTRY_VERIFY_WITH_TIMEOUT(shellLog().contains(QLatin1String("staged 1.3.0 for the next start")),
                                 startTimeout);
        QVERIFY(stopShell());

        const int checksBefore = int(m_server.requestsFor("/appindex/fenestra/manifest.json").size());
        startLauncher();
        QTRY_VERIFY_WITH_TIMEOUT(
                m_server.requestsFor("/appindex/fenestra/manifest.json").size() > checksBefore, startTimeout);
        QVERIFY2(launcherLog().contains(QLatin1String("crash of 1.3.0: signal 11")),
                 qPrintable(launcherLog()));
        QVERIFY(state().isBad("1.3.0"));
        const QUrlQuery report = lastReport();
        QCOMPARE(report.queryItemValue(QStringLiteral("v")), QStringLiteral("1.1.0"));
        QCOMPARE(report.queryItemValue(QStringLiteral("crashes")), QStringLiteral("1"));
        QCOMPARE(report.queryItemValue(QStringLiteral("lastbad")), QStringLiteral("1.3.0"));
        QVERIFY(stopShell());
    }
};

FENESTRA_TEST_MAIN(TestUpdateFlow)
#include "tst_updateflow.moc"
