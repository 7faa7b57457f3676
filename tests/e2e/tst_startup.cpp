#include "shellprocess.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QtTest>
#include <QtWebEngineQuick>

namespace {
constexpr int startTimeout = 60000;

// A company server at `port` whose start page the program asks the index service about.
QByteArray companyConfig(quint16 port)
{
    return QStringLiteral("<hallinfo><server url=\"localhost\" path=\"erp\"/><web port=\"%1\"/></hallinfo>")
            .arg(port)
            .toUtf8();
}

QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    files.sort();
    return files;
}
} // namespace

// The real program, started as a user starts it.
class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstStartOpensTheSignUpPage()
    {
        TestHttpServer signUpSite;
        signUpSite.route("/client-register/register-company",
                         TestHttpServer::Response::html("<title>Sign up</title>"));
        QVERIFY(signUpSite.listen(FENESTRA_TEST_SIGNUP_PORT));

        ShellProcess shell;
        // As the launcher passes it after crashes in a graphics driver.
        shell.setEnvironmentValue("FENESTRA_GRAPHICS_LEVEL", "2");
        shell.start();
        QTRY_COMPARE_WITH_TIMEOUT(signUpSite.requestsFor("/client-register/register-company").size(), 1,
                                  startTimeout);
        // Once the window shows, the start tells IT how it draws.
        QTRY_VERIFY_WITH_TIMEOUT(!shell.line(QStringLiteral("Qt ")).isEmpty(), startTimeout);
        const QString report = shell.line(QStringLiteral("Qt "));
        QVERIFY2(report.startsWith(QStringLiteral("Qt %1, Chromium ").arg(qVersion())), qPrintable(report));
        QVERIFY2(report.contains(QRegularExpression(
                         QStringLiteral(", (adapter .+ \\(vendor 0x[0-9a-f]{4,}, device 0x[0-9a-f]{4,}, [a-z "
                                        "]+\\)|no graphics "
                                        "adapter|adapter not told by this build), graphics level 2, "))),
                 qPrintable(report));

        const QByteArray config = shell.readFile("config.dll");
        QVERIFY(config.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<hallinfo>"));
        QVERIFY(config.contains("path=\"register\""));
        const QString address = QStringLiteral("http://localhost:%1/client-register/register-company")
                                        .arg(FENESTRA_TEST_SIGNUP_PORT);
        QVERIFY(config.contains(address.toUtf8()));
        QVERIFY2(shell.log().contains(QStringLiteral("---------url") + address), qPrintable(shell.log()));
        QVERIFY(shell.stop());
        QCOMPARE(shell.process().exitCode(), 0);

        // The same line, with the date and time, is kept for IT.
        const QString kept = QString::fromUtf8(shell.readFile("logs/fenestra.log"));
        const QRegularExpression line(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "
                                                     "debug fenestra.startup: ---------url")
                                              + QRegularExpression::escape(address) + QLatin1Char('$'),
                                      QRegularExpression::MultilineOption);
        QVERIFY2(line.match(kept).hasMatch(), qPrintable(kept));
    }

    // IT's QT_LOGGING_RULES decide, room by room, what the program writes and
    // the log file keeps: the start-up's lines switched off, the network's stay.
    void loggingRulesChooseTheRooms()
    {
        TestHttpServer company;
        company.route("/erp/", TestHttpServer::Response::html("<title>ERP</title>"));
        QVERIFY(company.listen());
        TestHttpServer index;
        index.route("/appindex/index.php", TestHttpServer::Response::text("{\"return\":1}"));
        QVERIFY(index.listen(FENESTRA_TEST_INDEX_PORT));

        ShellProcess shell;
        QVERIFY(shell.writeFile("config.dll", companyConfig(company.port())));
        shell.setEnvironmentValue("QT_LOGGING_RULES", "fenestra.startup.debug=false");
        shell.start();
        QTRY_COMPARE_WITH_TIMEOUT(company.requestsFor("/erp/").size(), 1, startTimeout);
        // The start-up's report is no debug line: it stays, and says no launcher passed a level.
        QTRY_VERIFY_WITH_TIMEOUT(!shell.line(QStringLiteral("Qt ")).isEmpty(), startTimeout);
        QVERIFY2(shell.line(QStringLiteral("Qt "))
                         .contains(QStringLiteral("graphics level not set (started without the launcher)")),
                 qPrintable(shell.log()));
        QVERIFY(shell.stop());

        const QString kept = QString::fromUtf8(shell.readFile("logs/fenestra.log"));
        for (const QString &log : { shell.log(), kept }) {
            QVERIFY2(log.contains("fenestra.net: runcmd http: "), qPrintable(log));
            QVERIFY2(!log.contains("---------url"), qPrintable(log));
        }
    }

    // The debug line and the first tab show the same address, and a login
    // cookie of the session survives a restart of the program.
    void loginSurvivesARestart()
    {
        TestHttpServer company;
        company.route("/erp/", [](const TestHttpServer::Request &request) {
            auto response = TestHttpServer::Response::html("<title>ERP</title>");
            if (request.header("cookie").isEmpty())
                response.withHeader("Set-Cookie", "login=staff42; Path=/");
            return response;
        });
        QVERIFY(company.listen());

        ShellProcess shell;
        QVERIFY(shell.writeFile("config.dll",
                                QStringLiteral("<hallinfo><server url=\"localhost\" path=\"erp\"/>"
                                               "<web port=\"%1\"/></hallinfo>")
                                        .arg(company.port())
                                        .toUtf8()));
        shell.start();
        QTRY_COMPARE_WITH_TIMEOUT(company.requestsFor("/erp/").size(), 1, startTimeout);
        QVERIFY(shell.log().contains(QStringLiteral("---------urllocalhost:%1/erp/").arg(company.port())));
        QCOMPARE(company.requestsFor("/erp/").first().header("cookie"), QByteArray());
        QVERIFY(shell.stop());

        shell.start();
        QTRY_COMPARE_WITH_TIMEOUT(company.requestsFor("/erp/").size(), 2, startTimeout);
        QCOMPARE(company.requestsFor("/erp/").last().header("cookie"), QByteArray("login=staff42"));
        QVERIFY(shell.stop());
    }

    // A second start of the same installation hands over to the running
    // program: it reads and writes nothing, asks nothing and ends.
    void secondStartHandsOverToTheRunningProgram()
    {
        TestHttpServer company;
        company.route("/erp/", TestHttpServer::Response::html("<title>ERP</title>"));
        QVERIFY(company.listen());
        TestHttpServer index;
        index.route("/appindex/index.php", TestHttpServer::Response::text("{\"return\":1}"));
        QVERIFY(index.listen(FENESTRA_TEST_INDEX_PORT));

        ShellProcess shell;
        QVERIFY(shell.writeFile("config.dll", companyConfig(company.port())));
        shell.start();
        QTRY_COMPARE_WITH_TIMEOUT(company.requestsFor("/erp/").size(), 1, startTimeout);
        QCOMPARE(index.requests().size(), 1);
        const QByteArray config = shell.readFile("config.dll");
        // The running program writes its tabs down a moment after the page opened.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(shell.appDirPath() + QStringLiteral("/session/tabs.txt")),
                                 startTimeout);
        const QStringList files = filesBelow(shell.appDirPath());

        QElapsedTimer clock;
        clock.start();
        QProcess &second = shell.startAnother();
        QVERIFY(second.waitForFinished(10000));
        qInfo("the second start ended after %lld ms", clock.elapsed());
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);

        QTRY_VERIFY(shell.log().contains("brought to the front by a second start"));
        QCOMPARE(shell.readFile("config.dll"), config);
        QCOMPARE(filesBelow(shell.appDirPath()), files);
        QCOMPARE(index.requests().size(), 1);
        QCOMPARE(company.requestsFor("/erp/").size(), 1);
        QCOMPARE(shell.process().state(), QProcess::Running);
        QVERIFY(shell.stop());
    }

    void twoStartsAtOnceOpenOneWindow()
    {
        TestHttpServer company;
        company.route("/erp/", TestHttpServer::Response::html("<title>ERP</title>"));
        QVERIFY(company.listen());

        ShellProcess shell;
        QVERIFY(shell.writeFile("config.dll", companyConfig(company.port())));
        shell.start();
        QProcess &other = shell.startAnother();

        QTRY_VERIFY_WITH_TIMEOUT(shell.process().state() == QProcess::NotRunning
                                         || other.state() == QProcess::NotRunning,
                                 startTimeout);
        QProcess &ended = shell.process().state() == QProcess::NotRunning ? shell.process() : other;
        QProcess &running = &ended == &other ? shell.process() : other;
        QCOMPARE(ended.exitStatus(), QProcess::NormalExit);
        QCOMPARE(ended.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(company.requestsFor("/erp/").size(), 1, startTimeout);
        QTest::qWait(1000);
        QCOMPARE(company.requestsFor("/erp/").size(), 1);
        QCOMPARE(running.state(), QProcess::Running);
        running.terminate();
        QVERIFY(running.waitForFinished(30000));
    }

    // A killed program leaves its lock and socket behind; they do not count.
    void startAfterAKillWorks()
    {
        TestHttpServer company;
        company.route("/erp/", TestHttpServer::Response::html("<title>ERP</title>"));
        QVERIFY(company.listen());

        ShellProcess shell;
        QVERIFY(shell.writeFile("config.dll", companyConfig(company.port())));
        shell.start();
        QTRY_COMPARE_WITH_TIMEOUT(company.requestsFor("/erp/").size(), 1, startTimeout);
        shell.process().kill();
        QVERIFY(shell.waitForExit(10000));

        shell.start();
        QTRY_COMPARE_WITH_TIMEOUT(company.requestsFor("/erp/").size(), 2, startTimeout);
        QCOMPARE(shell.process().state(), QProcess::Running);
        QVERIFY(shell.stop());
    }

    void brokenWindowDocumentEndsWithMinusOne()
    {
        // A layouts module whose StackLayout does not compile makes the window
        // document fail to load.
        QTemporaryDir imports;
        QDir(imports.path()).mkpath("QtQuick/Layouts");
        for (const auto &[name, content] :
             { std::pair<QString, QByteArray>("qmldir",
                                              "module QtQuick.Layouts\nStackLayout 1.0 StackLayout.qml\n"),
               std::pair<QString, QByteArray>("StackLayout.qml", "import QtQuick\nItem { not QML\n") }) {
            QFile file(imports.filePath("QtQuick/Layouts/" + name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }

        ShellProcess shell;
        shell.setEnvironmentValue("QML_IMPORT_PATH", imports.path());
        shell.start();
        QVERIFY(shell.waitForExit(startTimeout));
        QCOMPARE(shell.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(shell.process().exitCode(), 255); // exit(-1)
        // The engine's own line; Qt's message naming the type is in the shell's language.
        QVERIFY(shell.log().contains("failed to load component"));
    }
};

FENESTRA_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
