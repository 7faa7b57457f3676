#include "launcher/installation.h"
#include "launcher/installstate.h"
#include "launcher/startplan.h"
#include "releasefixtures.h"
#include "testhttpserver.h"
#include "update/packagedownload.h"
#include "update/packagestager.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using Type = PackageEntry::Type;
Q_DECLARE_METATYPE(QList<PackageEntry>)

namespace {

const QList<PackageEntry> goodEntries = {
    { QStringLiteral("bin"), QByteArray(), Type::Directory },
    { QStringLiteral("bin/fenestra"), QByteArray("#!/bin/sh\n") },
    { QStringLiteral("lib/libQt6Core.so.6.8.0"), QByteArray(5000, 'q') },
    { QStringLiteral("lib/libQt6Core.so.6"), QByteArray("libQt6Core.so.6.8.0"), Type::Link },
    { QStringLiteral("文件 with space.txt"), QByteArray("x") },
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

} // namespace

class TestStaging : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stage_data()
    {
        QTest::addColumn<QList<PackageEntry>>("entries");
        QTest::addColumn<bool>("listFiles");
        QTest::addColumn<QByteArray>("extraSums"); // appended to the list of sums
        QTest::addColumn<QString>("refusal"); // empty: staged
        QTest::newRow("good") << goodEntries << true << QByteArray() << "";
        QTest::newRow("parent entry")
                << (QList<PackageEntry>(goodEntries) << PackageEntry { "../escaped", "x" }) << true
                << QByteArray() << "unsafe entry ../escaped";
        QTest::newRow("parent inside")
                << (QList<PackageEntry>(goodEntries) << PackageEntry { "bin/../../escaped", "x" }) << true
                << QByteArray() << "unsafe entry bin/../../escaped";
        QTest::newRow("absolute entry")
                << (QList<PackageEntry>(goodEntries) << PackageEntry { "/tmp/escaped", "x" }) << true
                << QByteArray() << "unsafe entry /tmp/escaped";
        QTest::newRow("drive letter")
                << (QList<PackageEntry>(goodEntries) << PackageEntry { "C:/escaped", "x" }) << true
                << QByteArray() << "unsafe entry C:/escaped";
        QTest::newRow("backslash") << (QList<PackageEntry>(goodEntries)
                                       << PackageEntry { "..\\escaped", "x" })
                                   << true << QByteArray() << "unsafe entry ..\\escaped";
        QTest::newRow("link leading out") << (QList<PackageEntry>(goodEntries)
                                              << PackageEntry { "lib/out", "../../outside", Type::Link })
                                          << true << QByteArray() << "link leading out lib/out";
        QTest::newRow("absolute link")
                << (QList<PackageEntry>(goodEntries) << PackageEntry { "lib/out", "/etc/passwd", Type::Link })
                << true << QByteArray() << "link leading out lib/out";
        QTest::newRow("no list of sums")
                << goodEntries << false << QByteArray() << "no readable fenestra-files.sha256";
        QTest::newRow("listed file missing")
                << goodEntries << true << sumLine("bin/other", "y") << "missing file bin/other";
        QTest::newRow("wrong hash") << goodEntries << true << sumLine("bin/fenestra", "tampered")
                                    << "wrong hash of bin/fenestra";
    }

    void stage()
    {
        QFETCH(QList<PackageEntry>, entries);
        QFETCH(bool, listFiles);
        QFETCH(QByteArray, extraSums);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const QString versions = dir.filePath(QStringLiteral("root/versions"));
        QVERIFY(QDir().mkpath(versions));
        const QString package = dir.filePath(QStringLiteral("package.tar.gz"));
        QList<PackageEntry> all = entries;
        if (!extraSums.isEmpty()) {
            // Its own list: the wrong line comes last and wins, the other lines stay right.
            QByteArray sums;
            for (const PackageEntry &entry : entries) {
                if (entry.type == Type::File)
                    sums += sumLine(entry.name, entry.content);
            }
            all << PackageEntry { QStringLiteral("fenestra-files.sha256"), sums + extraSums };
            listFiles = false;
        }
        QVERIFY(writePackage(package, all, listFiles));

        const QString problem = PackageStager::stage(package, versions, QStringLiteral("1.1.0"));
        QCOMPARE(problem, refusal);
        const QString staged = versions + QStringLiteral("/1.1.0");
        QVERIFY(!QFileInfo::exists(staged + QStringLiteral(".staging")));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("root/escaped"))));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("escaped"))));
        if (!refusal.isEmpty()) {
            QVERIFY(!QFileInfo::exists(staged));
            return;
        }
        QVERIFY(QFileInfo::exists(staged + QStringLiteral("/.fenestra-complete")));
        QCOMPARE(readFile(staged + QStringLiteral("/bin/fenestra")), QByteArray("#!/bin/sh\n"));
        QVERIFY(QFileInfo(staged + QStringLiteral("/bin/fenestra")).isExecutable());
        QCOMPARE(readFile(staged + QStringLiteral("/lib/libQt6Core.so.6")), QByteArray(5000, 'q'));
        QCOMPARE(readFile(staged + QStringLiteral("/文件 with space.txt")), QByteArray("x"));
    }

    // A package cut off or damaged in transit never becomes a version folder.
    void damagedPackage_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("truncated") << "truncated";
        QTest::newRow("corrupted") << "corrupted";
    }

    void damagedPackage()
    {
        QFETCH(QString, damage);
        QTemporaryDir dir;
        const QString package = dir.filePath(QStringLiteral("package.tar.gz"));
        // Content that gzip cannot shrink, so the damage falls inside the files.
        QByteArray noise;
        for (int i = 0; i < 20000; ++i)
            noise += QCryptographicHash::hash(QByteArray::number(i), QCryptographicHash::Md5);
        QVERIFY(writePackage(package, { { QStringLiteral("bin/fenestra"), noise } }));
        QByteArray bytes = readFile(package);
        if (damage == QLatin1String("truncated"))
            bytes.truncate(bytes.size() / 2);
        else
            bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x55);
        QVERIFY(writeFile(package, bytes));
        const QString problem = PackageStager::stage(package, dir.path(), QStringLiteral("1.1.0"));
        QVERIFY2(!problem.isEmpty(), "a damaged package was staged");
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("1.1.0"))));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("1.1.0.staging"))));
    }

    // A download cut off mid-body resumes on the next try with a range request
    // and ends with the whole, checked package.
    void cutDownloadResumes()
    {
        QByteArray package;
        for (int i = 0; i < 4000; ++i)
            package += QCryptographicHash::hash(QByteArray::number(i), QCryptographicHash::Sha256);
        const QByteArray sha256 = QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex();
        TestHttpServer server;
        QVERIFY(server.listen());
        int requests = 0;
        server.route("/package.tar.gz", [&](const TestHttpServer::Request &request) {
            ++requests;
            TestHttpServer::Response response;
            const QByteArray range = request.header("range");
            if (range.isEmpty()) {
                response.body = package;
                response.delivery = TestHttpServer::Response::Delivery::DropMidBody;
                return response;
            }
            const qint64 from = range.mid(6, range.size() - 7).toLongLong();
            response.status = 206;
            response.body = package.mid(from);
            response.withHeader("Content-Range",
                                "bytes " + QByteArray::number(from) + '-'
                                        + QByteArray::number(package.size() - 1) + '/'
                                        + QByteArray::number(package.size()));
            return response;
        });
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("package.tar.gz.part"));
        QNetworkAccessManager network;

        PackageDownload first(&network);
        QSignalSpy firstDone(&first, &PackageDownload::finished);
        first.start(server.url(QStringLiteral("/package.tar.gz")), file, package.size(), sha256);
        QVERIFY(firstDone.wait(20000));
        QVERIFY(firstDone.first().first().toString().startsWith(QLatin1String("download cut short")));
        const qint64 kept = QFileInfo(file).size();
        QVERIFY2(kept > 0 && kept < package.size(), qPrintable(QString::number(kept)));

        PackageDownload second(&network);
        QSignalSpy secondDone(&second, &PackageDownload::finished);
        second.start(server.url(QStringLiteral("/package.tar.gz")), file, package.size(), sha256);
        QVERIFY(secondDone.wait(20000));
        QCOMPARE(secondDone.first().first().toString(), QString());
        QCOMPARE(requests, 2);
        QCOMPARE(server.requests().last().header("range"), "bytes=" + QByteArray::number(kept) + '-');
        QCOMPARE(readFile(file), package);
    }

    void wrongDownloadIsDeleted_data()
    {
        QTest::addColumn<int>("listedSize"); // relative to what the server sends
        QTest::addColumn<bool>("rightHash");
        QTest::addColumn<QString>("problem");
        QTest::newRow("larger than listed") << -10 << true << "larger than the listed 990 bytes";
        QTest::newRow("wrong hash") << 0 << false << "wrong SHA-256, package deleted";
    }

    void wrongDownloadIsDeleted()
    {
        QFETCH(int, listedSize);
        QFETCH(bool, rightHash);
        QFETCH(QString, problem);
        const QByteArray package(1000, 'p');
        TestHttpServer server;
        QVERIFY(server.listen());
        server.route("/package.tar.gz", TestHttpServer::Response::text(package, "application/gzip"));
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("package.tar.gz.part"));
        QNetworkAccessManager network;
        PackageDownload download(&network);
        QSignalSpy done(&download, &PackageDownload::finished);
        const QByteArray sha256 = rightHash
                ? QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex()
                : QByteArray(64, '0');
        download.start(server.url(QStringLiteral("/package.tar.gz")), file, package.size() + listedSize,
                       sha256);
        QVERIFY(done.wait(20000));
        QCOMPARE(done.first().first().toString(), problem);
        QVERIFY(!QFileInfo::exists(file));
    }

    // Killed at any moment of staging or of marking it pending, the installation
    // still starts a complete version: the old one or the new one, never neither.
    void killedAtAnyMomentLeavesAVersionToStart()
    {
        QList<PackageEntry> entries;
        for (int i = 0; i < 200; ++i) {
            entries << PackageEntry { QStringLiteral("lib/part%1.bin").arg(i),
                                      QByteArray(64 * 1024, char('a' + i % 26)) };
        }
        QTemporaryDir dir;
        const QString package = dir.filePath(QStringLiteral("1.1.0.tar.gz"));
        QVERIFY(writePackage(package, entries));
        const QString root = dir.filePath(QStringLiteral("root"));
        QVERIFY(QDir().mkpath(root + QStringLiteral("/versions/1.0.0")));
        QVERIFY(QDir().mkpath(root + QStringLiteral("/update")));
        QVERIFY(writeFile(root + QStringLiteral("/versions/1.0.0/") + PackageStager::markerName(),
                          "1.0.0\n"));
        const std::string statePath = Installation::statePath(root.toStdString());
        InstallState::State initial;
        initial.current = "1.0.0";
        QVERIFY(InstallState::write(statePath, initial));

        QSet<QString> outcomes;
        for (int delayMs = 0; delayMs <= 400; delayMs += 10) {
            QProcess child;
            child.start(QStringLiteral(FENESTRA_STAGECHILD), { package, root, QStringLiteral("1.1.0") });
            QVERIFY(child.waitForStarted());
            if (!child.waitForFinished(delayMs)) {
                child.kill();
                child.waitForFinished();
            }
            InstallState::State state;
            QVERIFY(InstallState::read(statePath, state) == InstallState::ReadResult::Read);
            const std::vector<std::string> complete = Installation::completeVersions(root.toStdString());
            const QString started = QString::fromStdString(StartPlan::beforeStart(state, complete).version);
            QVERIFY2(started == QLatin1String("1.0.0") || started == QLatin1String("1.1.0"),
                     qPrintable(QStringLiteral("killed after %1 ms: '%2'").arg(delayMs).arg(started)));
            if (std::find(complete.begin(), complete.end(), "1.1.0") != complete.end()) {
                for (const PackageEntry &entry : std::as_const(entries))
                    QCOMPARE(readFile(root + QStringLiteral("/versions/1.1.0/") + entry.name), entry.content);
            }
            outcomes << started;
            // Back to the moment before the update; leftovers of the attempt stay for the next.
            PackageStager::removeVersionFolder(root + QStringLiteral("/versions/1.1.0"));
            QVERIFY(InstallState::write(statePath, initial));
        }
        // Both ends were reached: a kill before the new version was complete, and a finished run.
        QVERIFY2(outcomes.contains(QStringLiteral("1.0.0")) && outcomes.contains(QStringLiteral("1.1.0")),
                 qPrintable(QStringList(outcomes.values()).join(QLatin1Char(','))));
    }
};

QTEST_GUILESS_MAIN(TestStaging)
#include "tst_staging.moc"
