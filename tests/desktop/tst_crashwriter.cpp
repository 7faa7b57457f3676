// What the shell writes down when it crashes, read as the launcher reads it:
// a child process installs the writer into a fresh installation root and crashes.

#include "launcher/crashkind.h"
#include "launcher/installlayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestCrashWriter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void crashIsWrittenDown_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("rootName");
        QTest::addColumn<QString>("module"); // "child": the crashing program itself; else a part of the name
        // Whether the child runs from a version folder of the root and finds
        // the root itself, as the shell does first thing in main().
        QTest::addColumn<bool>("installed");
        QTest::newRow("in its own code") << "own"
                                         << "root"
                                         << "child" << false;
        QTest::newRow("a stack overflow") << "overflow"
                                          << "root"
                                          << "child" << false;
        QTest::newRow("an abort, in the C library") << "abort"
                                                    << "root"
                                                    << "libc" << false;
        QTest::newRow("a root with spaces and Chinese")
                << "own" << QStringLiteral("门窗 软件") << "child" << false;
        QTest::newRow("the root found from its own path")
                << "own" << QStringLiteral("门窗 软件") << "child" << true;
    }

    void crashIsWrittenDown()
    {
        QFETCH(QString, how);
        QFETCH(QString, rootName);
        QFETCH(QString, module);
        QFETCH(bool, installed);
        QTemporaryDir work;
        const QString root = work.filePath(rootName);
        QVERIFY(QDir().mkpath(root));
        QString program = QStringLiteral(FENESTRA_CRASHCHILD);
        if (installed) {
            const QString bin = QDir(root).filePath(QStringLiteral("versions/1.0.0/bin"));
            QVERIFY(QDir().mkpath(bin) && QDir().mkpath(QDir(root).filePath(QStringLiteral("update"))));
            QFile state(QDir(root).filePath(QString::fromLatin1(InstallLayout::stateFile)));
            QVERIFY(state.open(QIODevice::WriteOnly) && state.write("current=1.0.0\n") > 0);
            state.close();
            program = QDir(bin).filePath(QStringLiteral("crashchild"));
            QVERIFY(QFile::copy(QStringLiteral(FENESTRA_CRASHCHILD), program));
        }

        QProcess child;
        child.start(program, { installed ? QString() : root, how });
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        QFile summary(QDir(root).filePath(QString::fromLatin1(InstallLayout::crashSummaryFile)));
        QVERIFY2(summary.open(QIODevice::ReadOnly), qPrintable(summary.fileName()));
        const CrashKind::Summary read = CrashKind::parseSummary(summary.readAll().toStdString());
        const QString written = QString::fromStdString(read.module);
        if (module == QLatin1String("child"))
            QCOMPARE(written, QFileInfo(program).canonicalFilePath());
        else
            QVERIFY2(QFileInfo(written).fileName().contains(module), qPrintable(written));
        QVERIFY2(!read.offset.empty(), "no offset");
        // Within the file that holds the code.
        QVERIFY(std::stoull(read.offset, nullptr, 16) < quint64(QFileInfo(written).size()));
    }
};

QTEST_GUILESS_MAIN(TestCrashWriter)
#include "tst_crashwriter.moc"
