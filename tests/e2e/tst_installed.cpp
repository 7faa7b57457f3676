#include "testenvironment.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>
#include <QtWebEngineQuick>

namespace {
constexpr int startTimeout = 60000;

// The Qt libraries a process has mapped, from /proc/<pid>/maps.
QStringList mappedQtLibraries(qint64 pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return {};
    QStringList libraries;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const int slash = line.indexOf('/');
        const QString path = slash < 0 ? QString() : QString::fromLocal8Bit(line.mid(slash));
        if (path.contains(QLatin1String("/libQt6")) && !libraries.contains(path))
            libraries.append(path);
    }
    return libraries;
}

// The running processes whose executable is `program`.
QList<qint64> processesOf(const QString &program)
{
    QList<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (isPid && QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() == program)
            pids.append(pid);
    }
    return pids;
}
} // namespace

// A version folder of `cmake --install`, copied to a place of its own: the program
// runs from it alone, with none of the system's Qt.
class TestInstalled : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runsFromItsCopiedFolder()
    {
        const QString folder = QDir(qEnvironmentVariable("FENESTRA_INSTALLED_FOLDER")).canonicalPath();
        QVERIFY2(!folder.isEmpty(), "FENESTRA_INSTALLED_FOLDER names no folder");
        const QString program = folder + QStringLiteral("/bin/fenestra");
        const QString webProcess = folder + QStringLiteral("/libexec/QtWebEngineProcess");
        QVERIFY(QFileInfo(program).isExecutable());
        QVERIFY(QFileInfo(webProcess).isExecutable());

        // The page uses the bridge and says so: the whole way from the page to
        // config.dll works in the deployed folder.
        TestHttpServer company;
        company.route("/erp/", TestHttpServer::Response::html(R"(<title>ERP</title><script>
            (function wait() {
              if (!window.zx) return setTimeout(wait, 50);
              zx.setConfig('factory', 'probe', 'installed');
              fetch('/bridge-used');
            })();
            </script>)"));
        company.route("/bridge-used", TestHttpServer::Response::text("ok"));
        QVERIFY(company.listen());

        QFile config(folder + QStringLiteral("/bin/config.dll"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(
                QStringLiteral(
                        "<hallinfo><server url=\"localhost\" path=\"erp\"/><web port=\"%1\"/></hallinfo>")
                        .arg(company.port())
                        .toUtf8());
        config.close();

        QProcess shell;
        shell.setProcessChannelMode(QProcess::MergedChannels);
        shell.setWorkingDirectory(testHomePath());
        shell.start(program, {});
        QVERIFY(shell.waitForStarted());
        QTRY_VERIFY2_WITH_TIMEOUT(company.requestsFor("/bridge-used").size() == 1,
                                  shell.readAll().constData(), startTimeout);
        QVERIFY(config.open(QIODevice::ReadOnly));
        QVERIFY(config.readAll().contains("probe=\"installed\""));

        const QStringList shellLibraries = mappedQtLibraries(shell.processId());
        QVERIFY2(shellLibraries.size() >= 5, qPrintable(shellLibraries.join(u' ')));
        const QList<qint64> webProcesses = processesOf(webProcess);
        QVERIFY(!webProcesses.isEmpty());
        QStringList libraries = shellLibraries;
        for (qint64 pid : webProcesses)
            libraries += mappedQtLibraries(pid);
        QVERIFY(libraries.join(u' ').contains(QLatin1String("libQt6WebEngineCore")));
        for (const QString &library : std::as_const(libraries))
            QVERIFY2(library.startsWith(folder + u'/'), qPrintable(library));

        shell.terminate();
        QVERIFY(shell.waitForFinished(30000));
    }
};

FENESTRA_TEST_MAIN(TestInstalled)
#include "tst_installed.moc"
