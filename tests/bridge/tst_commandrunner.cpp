#include "argrecorder.h"
#include "bridge/commandrunner.h"
#include "bridge/zxjavascript.h"
#include "config/appdir.h"
#include "testenvironment.h"

#include <QApplication>
#include <QFileInfo>
#include <QtTest>
#include <QtWebEngineQuick>

Q_DECLARE_METATYPE(CommandLine)

namespace {
const QString inAppDir = QStringLiteral("<application directory>");
}

class TestCommandRunner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decision_data()
    {
        QTest::addColumn<QString>("cmd");
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("workingDirectory");

        const QString none;
        QTest::newRow("word and path") << "notepad D:/data/a.txt" << none << "notepad"
                                       << QStringList { "D:/data/a.txt" } << inAppDir;
        QTest::newRow("split at commas, empty kept")
                << "prog a,b,,c" << none << "prog" << QStringList { "a", "b", "", "c" } << inAppDir;
        QTest::newRow("nothing trimmed")
                << "prog a, b" << none << "prog" << QStringList { "a", " b" } << inAppDir;
        QTest::newRow("spaces stay inside")
                << "prog one two" << none << "prog" << QStringList { "one two" } << inAppDir;
        QTest::newRow("white-space run consumed")
                << "prog   x" << none << "prog" << QStringList { "x" } << inAppDir;
        QTest::newRow("trailing space") << "prog " << none << "prog" << QStringList { "" } << inAppDir;
        QTest::newRow("explorer opens the excel folder")
                << "explorer D:/anything" << none << "explorer" << QStringList { ".\\excel\\" } << inAppDir;
        QTest::newRow("explorer alone") << "explorer" << none << "explorer" << QStringList() << QString();
        QTest::newRow("Explorer is another program")
                << "Explorer x" << none << "Explorer" << QStringList { "x" } << inAppDir;
        QTest::newRow("leading space") << " prog x" << none << " prog x" << QStringList() << QString();
        QTest::newRow("line break in the rest")
                << "prog a\nb" << none << "prog a\nb" << QStringList() << QString();
        QTest::newRow("line break at the end") << "prog a\n"
                                               << none << "prog a\n"
                                               << QStringList() << QString();
        QTest::newRow("line break after the word")
                << "prog\na b" << none << "prog" << QStringList { "a b" } << inAppDir;
        QTest::newRow("path with a space") << "D:/Program Files/tool.exe x" << none << "D:/Program"
                                           << QStringList { "Files/tool.exe x" } << inAppDir;
        QTest::newRow("ideographic space is no white space")
                << QStringLiteral("prog\u3000x") << none << QStringLiteral("prog\u3000x") << QStringList()
                << QString();
        QTest::newRow("no-break space is no white space")
                << QStringLiteral("prog\u00a0x") << none << QStringLiteral("prog\u00a0x") << QStringList()
                << QString();
        QTest::newRow("two texts: one argument") << "notepad"
                                                 << "a.txt b.txt"
                                                 << "notepad" << QStringList { "a.txt b.txt" } << inAppDir;
        QTest::newRow("two texts: commas kept") << "notepad"
                                                << "a,b"
                                                << "notepad" << QStringList { "a,b" } << inAppDir;
        QTest::newRow("two texts: program not split") << "notepad x"
                                                      << "y"
                                                      << "notepad x" << QStringList { "y" } << inAppDir;
        QTest::newRow("nothing") << QString() << none << QString() << QStringList() << QString();
        // The system would cut the texts at the NUL and start something else.
        QTest::newRow("NUL in the program text") << QStringLiteral("calc") + QChar(0) + QStringLiteral(" x")
                                                 << none << QString() << QStringList() << QString();
        QTest::newRow("NUL after the word") << QStringLiteral("prog a") + QChar(0) + QStringLiteral(",b")
                                            << none << QString() << QStringList() << QString();
        QTest::newRow("NUL in the argument")
                << "notepad" << QStringLiteral("a.txt") + QChar(0) + QStringLiteral("b") << QString()
                << QStringList() << QString();
    }
    void decision()
    {
        QFETCH(QString, cmd);
        QFETCH(QString, args);
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, workingDirectory);
        TemporaryAppDir appDir;
        if (workingDirectory == inAppDir)
            workingDirectory = appDir.path();

        const CommandLine commandLine = commandLineFor(cmd, args);
        QCOMPARE(commandLine.program, program);
        QCOMPARE(commandLine.arguments, arguments);
        QCOMPARE(commandLine.workingDirectory, workingDirectory);
    }

    void startsTheProgramDetached_data()
    {
        QTest::addColumn<QString>("cmd");
        QTest::addColumn<QString>("args");
        QTest::addColumn<QStringList>("arguments");

        const QString program = ArgRecorder::program();
        QTest::newRow("one text") << program + " a, b,,c" << QString() << QStringList { "a", " b", "", "c" };
        QTest::newRow("two texts") << program << "x, y z" << QStringList { "x, y z" };
    }
    void startsTheProgramDetached()
    {
        QFETCH(QString, cmd);
        QFETCH(QString, args);
        QFETCH(QStringList, arguments);
        TemporaryAppDir appDir;
        ArgRecorder recorder;

        ZxJavascript::getInstance()->run(cmd, args);

        QTRY_COMPARE(recorder.runs().size(), 1);
        const ArgRecorder::Run run = recorder.runs().first();
        QCOMPARE(run.arguments, arguments);
        QCOMPARE(QFileInfo(run.workingDirectory).canonicalFilePath(),
                 QFileInfo(appDir.path()).canonicalFilePath());
    }

    void programAloneInheritsTheWorkingDirectory()
    {
        TemporaryAppDir appDir;
        ArgRecorder recorder;

        ZxJavascript::getInstance()->run(ArgRecorder::program());

        QTRY_COMPARE(recorder.runs().size(), 1);
        QCOMPARE(recorder.runs().first().arguments, QStringList());
        QCOMPARE(QFileInfo(recorder.runs().first().workingDirectory).canonicalFilePath(),
                 QFileInfo(QDir::currentPath()).canonicalFilePath());
    }
};

FENESTRA_TEST_MAIN(TestCommandRunner)
#include "tst_commandrunner.moc"
