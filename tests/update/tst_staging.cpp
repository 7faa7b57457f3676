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
    // A library's version links, one naming the other, before what they name.
    { QStringLiteral("lib/libQt6Core.so"), QByteArray("libQt6Core.so.6"), Type::Link },
    { QStringLiteral("lib/libQt6Core.so.6"), QByteArray("libQt6Core.so.6.8.0"), Type::Link },
    { QStringLiteral("lib/qt/plugins"), QByteArray("../../plugins"), Type::Link },
    { QStringLiteral("plugins/qoffscreen.so"), QByteArray("p") },
    { QStringLiteral("文件 with space.txt"), QByteArray("x") },
};

const QByteArray packageSha256(64, 'e');

QList<PackageEntry> with(const QList<PackageEntry> &more)
{
    return QList<PackageEntry>(goodEntries) << more;
}

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

// The package as the channel alone serves it.
QList<FetchPlaces::Place> origin(const TestHttpServer &server)
{
    return { { FetchPlaces::Kind::Origin, server.url(QStringLiteral("/package.tar.gz")), QString() } };
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
        // A chain of links: d -> ., then d/d/e -> ../.. lands two folders up,
        // and e/escaped would be written there.
        QTest::newRow("through a chain of links")
                << with({ { "d", ".", Type::Link }, { "d/d/e", "../..", Type::Link }, { "e/escaped", "x" } })
                << true << QByteArray() << "link inside a link d/d/e";
        QTest::newRow("through a chain of links, wrong hash") << with(
                { { "d", ".", Type::Link }, { "d/d/d/e", "../../..", Type::Link }, { "e/escaped", "x" } })
                                                              << true << sumLine("bin/fenestra", "tampered")
                                                              << "link inside a link d/d/d/e";
        QTest::newRow("a link's target through another link")
                << with({ { "s/d", "..", Type::Link }, { "y", "s/d/../..", Type::Link } }) << true
                << QByteArray() << "link through a link y";
        QTest::newRow("a file where a link goes")
                << with({ { "e", "lib", Type::Link }, { "e/escaped", "x" } }) << true << QByteArray()
                << "repeated entry e";
        QTest::newRow("a device name")
                << with({ { "lib/nul", "x" } }) << true << QByteArray() << "unsafe entry lib/nul";
        QTest::newRow("a device name with an extension")
                << with({ { "aux.txt", "x" } }) << true << QByteArray() << "unsafe entry aux.txt";
        QTest::newRow("a folder named as a device")
                << with({ { "COM1/x", "x" } }) << true << QByteArray() << "unsafe entry COM1/x";
        QTest::newRow("a trailing dot")
                << with({ { "x.", "x" } }) << true << QByteArray() << "unsafe entry x.";
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
            // Its own list: the wrong line stands for the right one, the other lines stay right.
            QByteArray sums;
            for (const PackageEntry &entry : entries) {
                if (entry.type == Type::File && !extraSums.endsWith("  " + entry.name.toUtf8() + '\n'))
                    sums += sumLine(entry.name, entry.content);
            }
            all << PackageEntry { QStringLiteral("fenestra-files.sha256"), sums + extraSums };
            listFiles = false;
        }
        QVERIFY(writePackage(package, all, listFiles));

        const PackageStager::Result result =
                PackageStager::stage(package, versions, QStringLiteral("1.1.0"), packageSha256);
        QCOMPARE(result.problem, refusal);
        QCOMPARE(result.packageAtFault, !refusal.isEmpty());
        const QString staged = versions + QStringLiteral("/1.1.0");
        QVERIFY(!QFileInfo::exists(staged + QStringLiteral(".staging")));
        for (const QString &outside : { QStringLiteral("root/escaped"), QStringLiteral("escaped"),
                                        QStringLiteral("root/e"), QStringLiteral("e") })
            QVERIFY2(!QFileInfo::exists(dir.filePath(outside)), qPrintable(outside));
        if (!refusal.isEmpty()) {
            QVERIFY(!QFileInfo::exists(staged));
            return;
        }
        QVERIFY(QFileInfo::exists(staged + QStringLiteral("/.fenestra-complete")));
        QCOMPARE(readFile(staged + QStringLiteral("/bin/fenestra")), QByteArray("#!/bin/sh\n"));
        QVERIFY(QFileInfo(staged + QStringLiteral("/bin/fenestra")).isExecutable());
        QCOMPARE(readFile(staged + QStringLiteral("/lib/libQt6Core.so")), QByteArray(5000, 'q'));
        QCOMPARE(readFile(staged + QStringLiteral("/lib/qt/plugins/qoffscreen.so")), QByteArray("p"));
        QCOMPARE(PackageStager::stagedPackage(staged), packageSha256);
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
        const PackageStager::Result result =
                PackageStager::stage(package, dir.path(), QStringLiteral("1.1.0"), packageSha256);
        QVERIFY2(!result.problem.isEmpty() && result.packageAtFault, "a damaged package was staged");
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("1.1.0"))));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("1.1.0.staging"))));
    }

    // A stop asked for, or a computer that cannot take the files, is no fault
    // of the package: the updater keeps it for another try.
    void environmentIsNoFaultOfThePackage()
    {
        QTemporaryDir dir;
        const QString package = dir.filePath(QStringLiteral("package.tar.gz"));
        QVERIFY(writePackage(package, goodEntries));
        const std::atomic_bool cancel { true };
        PackageStager::Result result =
                PackageStager::stage(package, dir.path(), QStringLiteral("1.1.0"), packageSha256, &cancel);
        QCOMPARE(result.problem, QStringLiteral("cancelled"));
        QVERIFY(!result.packageAtFault);
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("1.1.0.staging"))));
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("1.1.0"))));
        // Where the staging folder would go, a file stands in the way.
        QVERIFY(writeFile(dir.filePath(QStringLiteral("1.1.0.staging")), "in the way"));
        result = PackageStager::stage(package, dir.path(), QStringLiteral("1.1.0"), packageSha256);
        QVERIFY(result.problem.startsWith(QLatin1String("cannot make")));
        QVERIFY(!result.packageAtFault);
    }

    // A version name given to another package is staged anew, not taken for done.
    void reusedNameIsStagedAgain()
    {
        QTemporaryDir dir;
        const QString first = dir.filePath(QStringLiteral("first.tar.gz"));
        const QString second = dir.filePath(QStringLiteral("second.tar.gz"));
        QVERIFY(writePackage(first, { { QStringLiteral("bin/fenestra"), "first" } }));
        QVERIFY(writePackage(second, { { QStringLiteral("bin/fenestra"), "second" } }));
        QVERIFY(PackageStager::stage(first, dir.path(), QStringLiteral("1.1.0"), QByteArray(64, '1'))
                        .problem.isEmpty());
        QVERIFY(PackageStager::stage(second, dir.path(), QStringLiteral("1.1.0"), QByteArray(64, '2'))
                        .problem.isEmpty());
        QCOMPARE(readFile(dir.filePath(QStringLiteral("1.1.0/bin/fenestra"))), QByteArray("second"));
        QCOMPARE(PackageStager::stagedPackage(dir.filePath(QStringLiteral("1.1.0"))), QByteArray(64, '2'));
    }

    // An error page never reaches the partial file: the next try resumes after
    // what was really downloaded.
    void errorPageIsNotWritten_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("missing while the channel is copied") << 404;
        QTest::newRow("a proxy's notice") << 503;
        QTest::newRow("no content") << 204;
        QTest::newRow("not a range") << 203;
    }

    void errorPageIsNotWritten()
    {
        QFETCH(int, status);
        QByteArray package;
        for (int i = 0; i < 1000; ++i)
            package += QCryptographicHash::hash(QByteArray::number(i), QCryptographicHash::Sha256);
        const QByteArray sha256 = QCryptographicHash::hash(package, QCryptographicHash::Sha256).toHex();
        TestHttpServer server;
        QVERIFY(server.listen());
        bool broken = true;
        server.route("/package.tar.gz", [&](const TestHttpServer::Request &request) {
            if (broken)
                return TestHttpServer::Response::html("<html>not here</html>", status);
            const qint64 from = request.header("range").mid(6).chopped(1).toLongLong();
            TestHttpServer::Response response;
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
        QVERIFY(writeFile(file, package.left(1000)));
        QNetworkAccessManager network;
        PackageDownload refused(&network);
        QSignalSpy refusedDone(&refused, &PackageDownload::finished);
        refused.start(origin(server), file, package.size(), sha256);
        QVERIFY(refusedDone.wait(20000));
        QVERIFY2(refusedDone.first().first().toString().contains(QString::number(status)),
                 qPrintable(refusedDone.first().first().toString()));
        QCOMPARE(readFile(file), package.left(1000));

        broken = false;
        PackageDownload resumed(&network);
        QSignalSpy resumedDone(&resumed, &PackageDownload::finished);
        resumed.start(origin(server), file, package.size(), sha256);
        QVERIFY(resumedDone.wait(20000));
        QCOMPARE(resumedDone.first().first().toString(), QString());
        QCOMPARE(server.requests().last().header("range"), QByteArray("bytes=1000-"));
        QCOMPARE(server.requests().last().header("accept-encoding"), QByteArray("identity"));
        QCOMPARE(readFile(file), package);
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
        first.start(origin(server), file, package.size(), sha256);
        QVERIFY(firstDone.wait(20000));
        QVERIFY(firstDone.first().first().toString().startsWith(QLatin1String("download cut short")));
        const qint64 kept = QFileInfo(file).size();
        QVERIFY2(kept > 0 && kept < package.size(), qPrintable(QString::number(kept)));

        PackageDownload second(&network);
        QSignalSpy secondDone(&second, &PackageDownload::finished);
        second.start(origin(server), file, package.size(), sha256);
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
        download.start(origin(server), file, package.size() + listedSize, sha256);
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
