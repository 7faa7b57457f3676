#include "loopbacknginx.h"
#include "packer.h"
#include "testhttpserver.h"
#include "update/filestager.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>

namespace {

constexpr int desktops = 50;
constexpr int atOnce = 10;

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator engine(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(engine.generate());
    return bytes;
}

// The nginx recipe docs/updates.md gives IT.
bool startPlantCache(LoopbackNginx &nginx, const QUrl &channel)
{
    return nginx.start(
            QStringLiteral("  proxy_cache_path %1/cache levels=1:2 keys_zone=fenestra:10m max_size=20g "
                           "inactive=60d use_temp_path=off;")
                    .arg(nginx.folder()),
            QStringLiteral("    location / {\n"
                           "      slice 1m;\n      proxy_cache fenestra;\n"
                           "      proxy_cache_key $uri$is_args$args$slice_range;\n"
                           "      proxy_set_header Range $slice_range;\n      proxy_http_version 1.1;\n"
                           "      proxy_cache_valid 200 206 60d;\n      proxy_cache_lock on;\n"
                           "      proxy_cache_lock_timeout 10m;\n      proxy_cache_lock_age 10m;\n"
                           "      proxy_pass %1;\n    }")
                    .arg(channel.toString()));
}

} // namespace

// Debian's nginx as a plant cache in front of a channel on loopback that counts
// what it serves: many desktops staging one release at once through the real
// FileStager make the channel send each file about once, and a cache that
// dies midway costs the desktops nothing but the channel's bytes.
class TestPlantCache : public QObject
{
    Q_OBJECT

private:
    TestHttpServer origin;
    QTemporaryDir channel;
    UpdateManifest::Release release;
    QHash<QString, qint64> served; // files/ name -> bytes the channel sent of it

    // Stages the release `desktops` times, `atOnce` at a time, each into a
    // folder of its own, calling `whileRunning` with how many are done; the
    // problems, and where each desktop got most of its files.
    void stageEverywhere(const FetchPlaces::Mirrors &mirrors, const std::function<void(int)> &whileRunning,
                         QStringList &problems, QList<FetchPlaces::Kind> &from)
    {
        QTemporaryDir folders;
        std::atomic_int done { 0 };
        QVector<FileStager::Result> results(desktops);
        QList<QThread *> threads;
        for (int lane = 0; lane < atOnce; ++lane) {
            threads << QThread::create([&, lane] {
                for (int desktop = lane; desktop < desktops; desktop += atOnce) {
                    const QString root = folders.filePath(QString::number(desktop));
                    results[desktop] = FileStager::stage(release, root + QStringLiteral("/none"),
                                                         root + QStringLiteral("/versions"), mirrors, 0);
                    ++done;
                }
            });
            threads.last()->start();
        }
        QDeadlineTimer deadline(120000);
        while (done < desktops && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            whileRunning(done);
        }
        for (QThread *thread : std::as_const(threads)) {
            while (!thread->wait(20))
                QCoreApplication::processEvents();
            delete thread;
        }
        for (const FileStager::Result &result : std::as_const(results)) {
            problems << result.problem;
            from << result.mostlyFrom();
        }
        problems.removeAll(QString());
    }

    qint64 servedBytes() const
    {
        qint64 total = 0;
        for (const qint64 bytes : served)
            total += bytes;
        return total;
    }

    // The size of each file the channel was asked for, once.
    qint64 payload() const
    {
        qint64 total = 0;
        for (auto it = served.cbegin(); it != served.cend(); ++it)
            total += QFileInfo(channel.filePath(it.key())).size();
        return total;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!LoopbackNginx::isInstalled())
            QSKIP("no nginx (apt-get install nginx-light)");
        // A release of a few files, the largest over several of the cache's slices.
        QTemporaryDir deployed;
        QVERIFY(writeFile(deployed.filePath(QStringLiteral("bin/fenestra")), randomBytes(300 * 1024, 1)));
        QVERIFY(writeFile(deployed.filePath(QStringLiteral("lib/libQt6WebEngineCore.so.6")),
                          randomBytes(3 * 1024 * 1024 + 5000, 2)));
        QVERIFY(writeFile(deployed.filePath(QStringLiteral("resources/qtwebengine_resources.pak")),
                          randomBytes(1024 * 1024, 3)));
        const Packer::Package package =
                Packer::pack(deployed.path(), channel.filePath(QStringLiteral("fenestra-1.1.0.tar.gz")));
        QVERIFY2(package.problem.isEmpty(), qPrintable(package.problem));
        Packer::Published published = Packer::publishFiles(deployed.path(), package, channel.path(),
                                                           QStringLiteral("fenestra-1.1.0.files"));
        QVERIFY2(published.problem.isEmpty(), qPrintable(published.problem));

        // What the origin should send with each file: immutable names, ranges.
        origin.setFallback([this](const TestHttpServer::Request &request) {
            const QString name = QString::fromUtf8(request.path().mid(9));
            QFile file(channel.filePath(name));
            if (!request.path().startsWith("/channel/") || name.contains(QLatin1String(".."))
                || !file.open(QIODevice::ReadOnly))
                return TestHttpServer::Response::text("not here", "text/plain", 404);
            const QByteArray whole = file.readAll();
            static const QRegularExpression range(QStringLiteral("^bytes=(\\d+)-(\\d*)$"));
            const QRegularExpressionMatch asked = range.match(QString::fromLatin1(request.header("Range")));
            qint64 first = 0;
            qint64 last = whole.size() - 1;
            if (asked.hasMatch()) {
                first = asked.captured(1).toLongLong();
                if (!asked.captured(2).isEmpty())
                    last = qMin(last, asked.captured(2).toLongLong());
            }
            if (first > last)
                return TestHttpServer::Response::text("", "text/plain", 416);
            const QByteArray body = whole.mid(first, last - first + 1);
            if (name.startsWith(QLatin1String("files/")))
                served[name] += body.size();
            TestHttpServer::Response response = TestHttpServer::Response::text(
                    body, "application/octet-stream", asked.hasMatch() ? 206 : 200);
            response.withHeader("Cache-Control", "public, max-age=31536000, immutable")
                    .withHeader("Accept-Ranges", "bytes")
                    .withHeader("ETag",
                                '"' + QCryptographicHash::hash(whole, QCryptographicHash::Sha256).toHex()
                                        + '"');
            if (asked.hasMatch())
                response.withHeader(
                        "Content-Range",
                        QStringLiteral("bytes %1-%2/%3").arg(first).arg(last).arg(whole.size()).toLatin1());
            return response;
        });
        QVERIFY(origin.listen());
        published.list.url = origin.url(QStringLiteral("/channel/fenestra-1.1.0.files"));
        release = { QStringLiteral("1.1.0"),
                    QStringLiteral("linux-x86_64"),
                    origin.url(QStringLiteral("/channel/fenestra-1.1.0.tar.gz")),
                    package.size,
                    package.sha256,
                    published.list };
    }

    // Fifty desktops through one cache: the channel sends each file about once.
    void onceThroughTheCache()
    {
        LoopbackNginx nginx;
        QVERIFY2(startPlantCache(nginx, origin.url(QStringLiteral("/channel/"))), "nginx did not start");
        served.clear();
        QStringList problems;
        QList<FetchPlaces::Kind> from;
        QElapsedTimer took;
        took.start();
        stageEverywhere(
                { nginx.url(), QString(), {} }, [](int) {}, problems, from);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        QCOMPARE(from.count(FetchPlaces::Kind::Mirror), desktops);
        qInfo("%d desktops in %lld ms: the channel sent %lld bytes for %lld bytes of files", desktops,
              took.elapsed(), servedBytes(), payload());
        QVERIFY(payload() > 4 * 1024 * 1024);
        QVERIFY2(servedBytes() <= payload() * 105 / 100, qPrintable(QString::number(servedBytes())));
    }

    // The cache killed after the first desktops: the rest fetch from the channel.
    void aCacheThatDiesMidway()
    {
        LoopbackNginx nginx;
        QVERIFY2(startPlantCache(nginx, origin.url(QStringLiteral("/channel/"))), "nginx did not start");
        served.clear();
        QStringList problems;
        QList<FetchPlaces::Kind> from;
        stageEverywhere(
                { nginx.url(), QString(), {} },
                [&nginx](int done) {
                    if (done >= atOnce)
                        nginx.kill();
                },
                problems, from);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        QVERIFY(from.count(FetchPlaces::Kind::Mirror) >= atOnce);
        QVERIFY(from.count(FetchPlaces::Kind::Origin) >= desktops - 2 * atOnce);
    }
};

QTEST_GUILESS_MAIN(TestPlantCache)
#include "tst_plantcache.moc"
