#include "logcapture.h"
#include "sync/reportfolders.h"
#include "testenvironment.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QtTest>
#include <QtWebEngineQuick>

namespace {

// Every entry below `folder`, relative to it, with "/" after folders and the
// content after files, so that a comparison shows what moved and what changed.
QStringList tree(const QString &folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString name = QDir(folder).relativeFilePath(info.filePath());
        if (info.isDir()) {
            entries << name + QLatin1Char('/');
        } else {
            QFile file(info.filePath());
            file.open(QIODevice::ReadOnly);
            entries << name + QLatin1Char('=') + QString::fromUtf8(file.readAll());
        }
    }
    entries.sort();
    return entries;
}

} // namespace

class TestReportFolders : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void switchFolders_data()
    {
        QTest::addColumn<QStringList>("files"); // "path=content"; a path ending in "/" is an empty folder
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("renameFails");

        QTest::newRow("only reports_b")
                << QStringList { "reports_b/a.rpt=A", "reports_b/sub/b.rpt=B", "config.dll=x" }
                << QStringList { "config.dll=x", "reports/", "reports/a.rpt=A", "reports/sub/",
                                 "reports/sub/b.rpt=B" }
                << false;
        QTest::newRow("empty reports_b")
                << QStringList { "reports_b/" } << QStringList { "reports/" } << false;
        QTest::newRow("both") << QStringList { "reports/old.rpt=O", "reports_b/new.rpt=N" }
                              << QStringList { "reports/", "reports/old.rpt=O", "reports_b/",
                                               "reports_b/new.rpt=N" }
                              << false;
        QTest::newRow("neither") << QStringList { "config.dll=x" } << QStringList { "config.dll=x" } << false;
        QTest::newRow("only reports") << QStringList { "reports/old.rpt=O" }
                                      << QStringList { "reports/", "reports/old.rpt=O" } << false;
        QTest::newRow("reports_b a plain file")
                << QStringList { "reports_b=plain" } << QStringList { "reports_b=plain" } << false;
        QTest::newRow("reports a plain file")
                << QStringList { "reports=plain", "reports_b/new.rpt=N" }
                << QStringList { "reports=plain", "reports_b/", "reports_b/new.rpt=N" } << true;
    }

    void switchFolders()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, expected);
        QFETCH(bool, renameFails);

        TemporaryAppDir dir;
        for (const QString &entry : std::as_const(files)) {
            if (entry.endsWith(QLatin1Char('/'))) {
                QVERIFY(QDir().mkpath(dir.filePath(entry)));
            } else {
                const int split = int(entry.indexOf(QLatin1Char('=')));
                QVERIFY(dir.write(entry.left(split), entry.mid(split + 1).toUtf8()));
            }
        }

        LogCapture messages;
        switchReportFolders();
        QCOMPARE(tree(dir.path()), expected);
        QCOMPARE(messages.lines(), renameFails ? QStringList { "rename failed" } : QStringList());
    }
};

FENESTRA_TEST_MAIN(TestReportFolders)
#include "tst_reportfolders.moc"
