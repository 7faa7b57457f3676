#include "update/packageformat.h"
#include "update/zstdpatch.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The list of a release's patches, what a patch may cost a desktop, and what
// the decoder refuses of one.
class TestZstdPatch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsOnlyAWellFormedPatchList_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("entries"); // -1: refused
        const QByteArray a(64, 'a');
        const QByteArray b(64, 'b');
        const QByteArray c(64, 'c');
        const QByteArray heading = "fenestra-patches 1\n";
        QTest::newRow("two patches") << heading + a + '\t' + b + "\t10\t" + c + '\n' + c + '\t' + b + "\t20\t"
                        + a + '\n' << 2;
        QTest::newRow("none") << heading << 0;
        QTest::newRow("another heading") << "fenestra-files 1\n" + a + '\t' + b + "\t10\t" + c + '\n' << -1;
        QTest::newRow("a patch of a file into itself") << heading + a + '\t' + a + "\t10\t" + c + '\n' << -1;
        QTest::newRow("an empty patch") << heading + a + '\t' + b + "\t0\t" + c + '\n' << -1;
        QTest::newRow("a pair twice")
                << heading + a + '\t' + b + "\t10\t" + c + '\n' + a + '\t' + b + "\t20\t" + a + '\n'
                << -1;
        QTest::newRow("upper-case digits") << heading + a.toUpper() + '\t' + b + "\t10\t" + c + '\n' << -1;
        QTest::newRow("a field more") << heading + a + '\t' + b + "\t10\t" + c + "\tx\n" << -1;
    }

    void readsOnlyAWellFormedPatchList()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, entries);
        PackageFormat::PatchList list;
        QCOMPARE(PackageFormat::PatchList::read(text, list), entries >= 0);
        QCOMPARE(list.entries.size(), qMax(entries, 0));
        if (entries > 0) {
            QCOMPARE(list.toText(), text);
            QCOMPARE(list.entries.at(0).name(),
                     QStringLiteral("patches/") + QString(64, QLatin1Char('a')) + QLatin1Char('-')
                             + QString(64, QLatin1Char('b')) + QStringLiteral(".zst"));
        }
    }

    void windowWithinMemory_data()
    {
        QTest::addColumn<qint64>("oldSize");
        QTest::addColumn<qint64>("newSize");
        QTest::addColumn<qint64>("budget");
        QTest::addColumn<int>("windowLog");
        const qint64 mib = 1024 * 1024;
        // Files of 2 MiB get a window of 4 MiB (2^22) from the release tool.
        QTest::newRow("old file and window fit exactly") << 2 * mib << 2 * mib << 6 * mib << 22;
        QTest::newRow("a byte short") << 2 * mib << 2 * mib << 6 * mib - 1 << 0;
        QTest::newRow("the old file alone over the bound") << 2 * mib << 2 * mib << mib << 0;
        QTest::newRow("a larger new file asks a larger window") << mib << 3 * mib << 4 * mib << 0;
        QTest::newRow("room to spare allows a larger window") << mib << 3 * mib << 1024 * mib << 29;
        QTest::newRow("never above zstd's largest") << mib << mib << 64 * 1024 * mib << 31;
        QTest::newRow("no memory known") << mib << mib << qint64(0) << 0;
    }

    void windowWithinMemory()
    {
        QFETCH(qint64, oldSize);
        QFETCH(qint64, newSize);
        QFETCH(qint64, budget);
        QFETCH(int, windowLog);
        QCOMPARE(ZstdPatch::windowLogWithin(oldSize, newSize, budget), windowLog);
    }

    void refusesWhatIsNotTheListedPatch_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("problem");
        QTest::newRow("a patch") << QString() << QString();
        QTest::newRow("a window over the bound") << "window"
                                                 << "zstd: Frame requires too much memory for decoding";
        QTest::newRow("more than the listed size") << "size"
                                                   << "makes more than the listed size";
        QTest::newRow("cut short") << "truncated"
                                   << "a truncated patch";
        QTest::newRow("a second frame after it") << "two frames"
                                                 << "more than one frame";
        QTest::newRow("no old file") << "no old"
                                     << "cannot read %1";
    }

    void refusesWhatIsNotTheListedPatch()
    {
        QFETCH(QString, fault);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        const QString old = dir.filePath(QStringLiteral("old"));
        const QString now = dir.filePath(QStringLiteral("new"));
        const QString patch = dir.filePath(QStringLiteral("patch"));
        QRandomGenerator engine(5);
        QByteArray content(2 * 1024 * 1024, Qt::Uninitialized);
        for (char &byte : content)
            byte = char(engine.generate());
        QVERIFY(writeFile(old, content));
        content.replace(300000, 5000, QByteArray(5000, 'n'));
        QVERIFY(writeFile(now, content));
        const int windowLog = ZstdPatch::windowLogFor(content.size(), content.size());
        QCOMPARE(QProcess::execute(QStringLiteral("zstd"),
                                   { QStringLiteral("-q"), QStringLiteral("-19"),
                                     QStringLiteral("--long=%1").arg(windowLog),
                                     QStringLiteral("--patch-from=") + old, now, QStringLiteral("-o"),
                                     patch }),
                 0);
        const QByteArray bytes = readFile(patch);
        if (fault == QLatin1String("truncated"))
            QVERIFY(writeFile(patch, bytes.chopped(10)));
        if (fault == QLatin1String("two frames"))
            QVERIFY(writeFile(patch, bytes + bytes));
        if (fault == QLatin1String("no old"))
            QVERIFY(QFile::remove(old));
        QByteArray made;
        const QString got = ZstdPatch::apply(
                old, patch, fault == QLatin1String("size") ? content.size() - 1 : content.size(),
                // A bound of 1 MiB for a file of 2 MiB.
                fault == QLatin1String("window") ? 20 : windowLog, [&](QByteArrayView piece) {
                    made += piece;
                    return true;
                });
        QCOMPARE(got, fault == QLatin1String("no old") ? problem.arg(old) : problem);
        if (problem.isEmpty())
            QCOMPARE(made, content);
        // Far less than the file, or the release tool would not have kept it.
        QVERIFY(bytes.size() < content.size() / 50);
    }
};

QTEST_GUILESS_MAIN(TestZstdPatch)
#include "tst_zstdpatch.moc"
