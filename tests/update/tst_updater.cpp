#include "config/logging.h"
#include "config/policy.h"
#include "launcher/installstate.h"
#include "launcher/status.h"
#include "logcapture.h"
#include "packer.h"
#include "releasefixtures.h"
#include "testhttpserver.h"
#include "update/fetchplaces.h"
#include "update/packagestager.h"
#include "update/updatemanifest.h"
#include "update/updater.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>

namespace {

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

QDateTime daysFromNow(int days)
{
    return QDateTime::currentDateTimeUtc().addDays(days);
}

// A deployed version folder: the shell, which says its version, and Qt, which
// stays the same from one version to the next.
void deploy(const QString &folder, const QByteArray &version)
{
    QRandomGenerator engine(7);
    QByteArray core(1024 * 1024, Qt::Uninitialized);
    for (char &byte : core)
        byte = char(engine.generate());
    const QList<QPair<QString, QByteArray>> files = {
        { QStringLiteral("bin/fenestra"), "#!/bin/sh\n# " + version + '\n' },
        { QStringLiteral("lib/libQt6WebEngineCore.so.6"), core },
        { QStringLiteral("lib/libQt6Core.so.6.8.0"), QByteArray(100 * 1024, 'q') },
        { QStringLiteral("translations/文件 with space.qm"), QByteArray(3000, 't') },
        { QStringLiteral("translations/copy.qm"), QByteArray(3000, 't') },
    };
    for (const auto &file : files)
        writeFile(folder + QLatin1Char('/') + file.first, file.second);
    QFile::setPermissions(folder + QStringLiteral("/bin/fenestra"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QDir().mkpath(folder + QStringLiteral("/plugins/empty"));
    QFile::link(QStringLiteral("libQt6Core.so.6.8.0"), folder + QStringLiteral("/lib/libQt6Core.so.6"));
}

// A library of 2 MiB whose versions differ in a few places, as a rebuilt one
// does: what the release tool makes a patch for.
void deployBigLibrary(const QString &folder, int version)
{
    QRandomGenerator engine(9);
    QByteArray library(2 * 1024 * 1024 + 1, Qt::Uninitialized);
    for (char &byte : library)
        byte = char(engine.generate());
    for (qsizetype at = 100000; at < library.size(); at += 400000)
        library.replace(at, 64, QByteArray(64, char('a' + version)));
    writeFile(folder + QStringLiteral("/lib/libQt6Pdf.so.6"), library);
}

// Each entry of a version folder: a file's content and executable bit, a
// link's target, a folder.
QMap<QString, QByteArray> treeOf(const QString &folder)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString path = QDir(folder).relativeFilePath(info.filePath());
        if (info.isSymLink())
            tree.insert(path,
                        "-> "
                                + QByteArray::fromStdString(
                                        std::filesystem::read_symlink(
                                                QFile::encodeName(info.filePath()).toStdString())
                                                .string()));
        else if (info.isDir())
            tree.insert(path, "folder");
        else
            tree.insert(path, (info.isExecutable() ? "x " : "- ") + readFile(info.filePath()));
    }
    return tree;
}

} // namespace

// The shell's updater against a channel on loopback, in a temporary
// installation: what it keeps of what it verified, and what it stages.
class TestUpdater : public QObject
{
    Q_OBJECT

private:
    MinisignKey first;
    MinisignKey second;
    TestHttpServer server;
    QTemporaryDir root;
    QByteArray manifest;
    QByteArray signature;
    // When set, the manifest's answer: a busy channel's 503 with this Retry-After.
    QByteArray busyRetryAfter;
    QHash<QString, QByteArray> packages; // version -> package
    // A channel folder as the release tool leaves it, served below /channel/.
    QTemporaryDir channelFolder;
    bool channelFails = false; // its files/ answer 500
    qint64 channelBytes = 0; // served of it
    // A plant cache of it below /cache/, and one below /wrong/ that gives
    // other bytes of the same size.
    qint64 mirrorBytes = 0; // served by them
    qint64 patchMemory = 0; // the shell's bound for a patch; 0: its own

    QString rootFile(const QString &relative) const { return root.filePath(relative); }

    // A release of `version` whose one file says `content`.
    UpdateManifest::Release release(const QString &version, const QByteArray &content)
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("package.tar.gz"));
        writePackage(file, { { QStringLiteral("bin/fenestra"), content } });
        packages.insert(version, readFile(file));
        UpdateManifest::Release r;
        r.version = version;
        r.platform = Updater::platform();
        r.url = server.url(QStringLiteral("/fenestra-%1.tar.gz").arg(version));
        r.size = packages.value(version).size();
        r.sha256 = QCryptographicHash::hash(packages.value(version), QCryptographicHash::Sha256).toHex();
        return r;
    }

    UpdateManifest channel(quint64 serial, const QString &target,
                           const QList<UpdateManifest::Release> &releases)
    {
        UpdateManifest m;
        m.serial = serial;
        m.signedAt = QDateTime::currentDateTimeUtc().addSecs(-60);
        m.expires = daysFromNow(30);
        m.releases = releases;
        m.rollout.target = target;
        m.rollout.share = 100;
        return m;
    }

    void publish(const UpdateManifest &m, const MinisignKey &key)
    {
        manifest = m.toJson();
        signature = key.sign(manifest);
    }

    InstallState::State state() const
    {
        InstallState::State s;
        InstallState::read(rootFile(QStringLiteral("update/state.ini")).toStdString(), s);
        return s;
    }

    void setState(const char *current, const char *pending = "")
    {
        InstallState::State s;
        s.installationId = "00112233445566778899aabbccddeeff";
        s.current = current;
        s.pending = pending;
        QVERIFY(InstallState::write(rootFile(QStringLiteral("update/state.ini")).toStdString(), s));
    }

    void addVersion(const QString &version, const QByteArray &package = QByteArray())
    {
        QVERIFY(writeFile(rootFile(QStringLiteral("versions/%1/bin/fenestra").arg(version)), "#!/bin/sh\n"));
        QVERIFY(writeFile(rootFile(QStringLiteral("versions/%1/").arg(version)) + PackageStager::markerName(),
                          package.isEmpty() ? QByteArray() : "package_sha256=" + package + '\n'));
    }

    // One check by a shell of `ownVersion`; the lines it logged.
    QStringList check(const QString &ownVersion = QStringLiteral("1.0.0"))
    {
        const LogCapture log(lcUpdate());
        Updater::Channel c;
        c.manifest = server.url(QStringLiteral("/manifest.json"));
        c.keys = QStringList { first.publicKey(), second.publicKey() };
        c.patchMemory = patchMemory;
        Updater updater(c, root.path(), ownVersion);
        QSignalSpy finished(&updater, &Updater::checkFinished);
        updater.check();
        if (finished.isEmpty() && !finished.wait(30000))
            return { QStringLiteral("no end of the check") };
        return log.lines();
    }

    int packageRequests() const
    {
        int count = 0;
        for (const TestHttpServer::Request &request : server.requests())
            count += request.path().endsWith(".tar.gz") ? 1 : 0;
        return count;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(first.isValid() && second.isValid(), "minisign makes no keys");
        server.route("/manifest.json", [this](const TestHttpServer::Request &) {
            if (!busyRetryAfter.isEmpty())
                return TestHttpServer::Response::text("busy", "text/plain", 503)
                        .withHeader("Retry-After", busyRetryAfter);
            return TestHttpServer::Response::text(manifest, "application/json");
        });
        server.route("/manifest.json.minisig", [this](const TestHttpServer::Request &) {
            return TestHttpServer::Response::text(signature, "text/plain");
        });
        server.setFallback([this](const TestHttpServer::Request &request) {
            for (const QByteArray mirror : { QByteArray("/cache/"), QByteArray("/wrong/") }) {
                if (!request.path().startsWith(mirror))
                    continue;
                const QString name = QString::fromUtf8(request.path().mid(mirror.size()));
                QByteArray body = readFile(channelFolder.filePath(name));
                if (body.isEmpty())
                    return TestHttpServer::Response::text("not here", "text/plain", 404);
                if (mirror == "/wrong/")
                    body.fill('#');
                mirrorBytes += body.size();
                return TestHttpServer::Response::text(body, "application/octet-stream");
            }
            if (request.path().startsWith("/channel/")) {
                const QString name = QString::fromUtf8(request.path().mid(9));
                if (channelFails && name.startsWith(QLatin1String("files/")))
                    return TestHttpServer::Response::text("busy", "text/plain", 500);
                if (!QFileInfo(channelFolder.filePath(name)).isFile())
                    return TestHttpServer::Response::text("not here", "text/plain", 404);
                const QByteArray body = readFile(channelFolder.filePath(name));
                channelBytes += body.size();
                return TestHttpServer::Response::text(body, "application/octet-stream");
            }
            const QString version = QString::fromUtf8(request.path().mid(10).chopped(7));
            if (!packages.contains(version))
                return TestHttpServer::Response::text("not here", "text/plain", 404);
            return TestHttpServer::Response::text(packages.value(version), "application/gzip");
        });
        QVERIFY(server.listen());
    }

    void init()
    {
        QDir(root.path()).removeRecursively();
        QVERIFY(QDir().mkpath(rootFile(QStringLiteral("update"))));
        packages.clear();
        server.clearRequests();
        patchMemory = 0;
    }

    // A fresh install, or one that missed manifests, meets an older manifest
    // replayed: it stays on its newer release.
    void olderReleaseIsNotTaken()
    {
        addVersion(QStringLiteral("1.1.0"));
        setState("1.1.0");
        publish(channel(1765000000, QStringLiteral("1.0.0"), { release(QStringLiteral("1.0.0"), "old") }),
                first);
        const QStringList lines = check(QStringLiteral("1.1.0"));
        QVERIFY2(lines.join(QLatin1Char('\n')).contains(QLatin1String("stays on 1.1.0: 1.0.0 is older")),
                 qPrintable(lines.join(QLatin1Char('\n'))));
        QVERIFY(state().pending.empty());
        QCOMPARE(state().serial, 1765000000ull);
        QCOMPARE(packageRequests(), 0);

        // Pulling 1.1.0 takes it back.
        UpdateManifest pulled =
                channel(1765000100, QStringLiteral("1.0.0"), { release(QStringLiteral("1.0.0"), "old") });
        pulled.pulled << QStringLiteral("1.1.0");
        publish(pulled, first);
        QVERIFY(check(QStringLiteral("1.1.0")).contains(QStringLiteral("staged 1.0.0 for the next start")));
        QCOMPARE(state().pending, std::string("1.0.0"));
    }

    // What the desktop verified stays in its state: an equal serial needs the
    // same bytes, and a stolen key's hold is undone by the other key for good.
    void trustIsKept()
    {
        addVersion(QStringLiteral("1.0.0"));
        setState("1.0.0");
        publish(channel(1765000000, QStringLiteral("1.0.0"), {}), first);
        QVERIFY(check().contains(QStringLiteral("checked the manifest, serial 1765000000: nothing new")));
        publish(channel(1765000000, QStringLiteral("1.0.0"), { release(QStringLiteral("1.0.1"), "x") }),
                first);
        QVERIFY(check().contains(QStringLiteral(
                "refused the manifest: another manifest with serial 1765000000 was seen before")));

        UpdateManifest stolen = channel(4102444800, QStringLiteral("1.0.0"), {});
        stolen.signedAt = QDateTime::fromSecsSinceEpoch(4102444800, Qt::UTC);
        stolen.expires = stolen.signedAt.addDays(30);
        publish(stolen, first);
        check();
        QCOMPARE(state().serial, 4102444800ull);
        UpdateManifest revoking = channel(1765000200, QStringLiteral("1.0.0"), {});
        revoking.revokedKeys << first.id();
        publish(revoking, second);
        QVERIFY(check().contains(
                QStringLiteral("manifest serial 1765000200: revokes the key %1 that signed serial "
                               "4102444800")
                        .arg(first.id())));
        QCOMPARE(state().serial, 1765000200ull);
        QCOMPARE(state().revokedKeys, std::vector<std::string> { first.id().toStdString() });
        publish(channel(1765000300, QStringLiteral("1.0.0"), {}), first);
        QVERIFY(check().contains(
                QStringLiteral("refused the manifest: signed by the revoked key %1").arg(first.id())));
    }

    // IT turning updates off also drops a version staged before, without a
    // request to the channel.
    // The manifest request tells the channel's log what this desktop runs, and
    // nothing that names the user or the machine; IT can turn it off.
    void checkReportsWhatTheDesktopRuns_data()
    {
        QTest::addColumn<QByteArray>("policy");
        QTest::addColumn<QString>("report");
        const QString full = QStringLiteral("id=00112233445566778899aabbccddeeff&v=1.1.0&prev=1.0.0&trial=1"
                                            "&ring=pilot&bad=2&lastbad=1.0.5&os=")
                + Updater::platform()
                + QStringLiteral("&gfx=2&crashes=3&crashmod=igd10iumd64.dll&dl=ok&dlvia=files&dlbytes="
                                 "140509184&dlsec=95&dlpatched=2");
        QTest::newRow("reported") << QByteArray("ring=pilot\n") << full;
        QTest::newRow("a ring that is no name")
                << QByteArray("ring=pilot&x=1\n") << QString(full).remove(QStringLiteral("&ring=pilot"));
        QTest::newRow("report=0") << QByteArray("ring=pilot\nreport=0\n") << QString();
        QTest::newRow("report not understood") << QByteArray("report=maybe\n") << QString();
    }

    void checkReportsWhatTheDesktopRuns()
    {
        QFETCH(QByteArray, policy);
        QFETCH(QString, report);
        InstallState::State s;
        s.installationId = "00112233445566778899aabbccddeeff";
        s.current = "1.0.0";
        s.previous = "1.0.0";
        s.trial = "1.1.0";
        s.bad = { "0.9.0", "1.0.5" };
        s.crashes = 3;
        s.lastCrashModule = "igd10iumd64.dll";
        s.downloadResult = "ok";
        s.downloadBytes = 140509184;
        s.downloadSeconds = 95;
        s.downloadVia = "files";
        s.downloadPatched = 2;
        QVERIFY(InstallState::write(rootFile(QStringLiteral("update/state.ini")).toStdString(), s));
        addVersion(QStringLiteral("1.0.0"));
        QVERIFY(writeFile(rootFile(QStringLiteral("update-policy.ini")), policy));
        qputenv("FENESTRA_GRAPHICS_LEVEL", "2");
        check(QStringLiteral("1.1.0"));
        qunsetenv("FENESTRA_GRAPHICS_LEVEL");
        const QList<TestHttpServer::Request> asked = server.requestsFor("/manifest.json");
        QCOMPARE(asked.size(), 1);
        const QByteArray target = asked.constFirst().target;
        QCOMPARE(QUrl(QString::fromUtf8(target)).query(), report);
        // The signature is fetched as it is.
        QCOMPARE(server.requestsFor("/manifest.json.minisig").constFirst().target,
                 QByteArray("/manifest.json.minisig"));
        QByteArray sent = target;
        for (const TestHttpServer::Request &request : server.requests())
            for (const QByteArray &value : request.headers)
                sent += '\n' + value;
        for (const QString &personal : { qEnvironmentVariable("USER"), qEnvironmentVariable("USERNAME"),
                                         QSysInfo::machineHostName(), QDir::homePath(), root.path() }) {
            if (personal.size() >= 3)
                QVERIFY2(!sent.contains(personal.toUtf8()), qPrintable(personal));
        }
    }

    // How each check ended, and its download, stay in the state for the next
    // check's report and IT's status file.
    void checkKeepsHowItEnded_data()
    {
        QTest::addColumn<QString>("offered"); // a release in the manifest, if any
        QTest::addColumn<bool>("packageWrong");
        QTest::addColumn<QByteArray>("signatureOrBusy"); // "busy", "bad" or empty
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("download");
        QTest::newRow("nothing new") << QString() << false << QByteArray() << "current" << QString();
        QTest::newRow("staged") << "1.1.0" << false << QByteArray() << "staged"
                                << "ok";
        QTest::newRow("a package that is not the listed one")
                << "1.1.0" << true << QByteArray() << "download-failed"
                << "failed";
        QTest::newRow("a forged manifest")
                << QString() << false << QByteArray("bad") << "refused" << QString();
        QTest::newRow("a busy channel")
                << QString() << false << QByteArray("busy") << "unreachable" << QString();
    }

    void checkKeepsHowItEnded()
    {
        QFETCH(QString, offered);
        QFETCH(bool, packageWrong);
        QFETCH(QByteArray, signatureOrBusy);
        QFETCH(QString, result);
        QFETCH(QString, download);
        addVersion(QStringLiteral("1.0.0"));
        setState("1.0.0");
        QList<UpdateManifest::Release> releases;
        if (!offered.isEmpty()) {
            releases << release(offered, QByteArray(4096, 'n'));
            if (packageWrong)
                releases.last().sha256 = QByteArray(64, '0');
        }
        publish(channel(1765000000, offered.isEmpty() ? QStringLiteral("1.0.0") : offered, releases), first);
        if (signatureOrBusy == "bad")
            signature = second.sign("another manifest");
        busyRetryAfter = signatureOrBusy == "busy" ? QByteArray("60") : QByteArray();
        // What the launcher wrote before it started this shell.
        Status::Facts launched;
        launched.state = state();
        launched.started = "1.0.0";
        launched.startedAt = "2026-12-10T07:00:00Z";
        launched.graphicsLevel = 1;
        QVERIFY(writeFile(rootFile(QStringLiteral("update/status.json")),
                          QByteArray::fromStdString(Status::json(launched))));
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        check();
        busyRetryAfter.clear();
        // IT's status file tells the check at once, and keeps the launcher's start.
        const QJsonObject status =
                QJsonDocument::fromJson(readFile(rootFile(QStringLiteral("update/status.json")))).object();
        QCOMPARE(status.value(QStringLiteral("last_check_result")).toString(), result);
        QCOMPARE(status.value(QStringLiteral("started_at")).toString(),
                 QStringLiteral("2026-12-10T07:00:00Z"));
        QCOMPARE(status.value(QStringLiteral("graphics_level")).toInt(), 1);
        const InstallState::State s = state();
        QCOMPARE(QString::fromStdString(s.lastCheckResult), result);
        QVERIFY(s.lastCheckAt >= before && s.lastCheckAt <= QDateTime::currentSecsSinceEpoch());
        QCOMPARE(QString::fromStdString(s.downloadResult), download);
        QCOMPARE(s.downloadBytes, download.isEmpty() ? 0 : packages.value(offered).size());
        QCOMPARE(QString::fromStdString(s.downloadVia),
                 download.isEmpty() ? QString() : QStringLiteral("package"));
    }

    // A release that changes the shell alone fetches the shell alone, copies
    // the rest from the running version, and stages what its package holds;
    // whatever goes wrong on that way, the package still brings the release.
    void placesInOrder_data()
    {
        QTest::addColumn<QString>("mirror"); // as IT wrote it
        QTest::addColumn<QStringList>("manifest");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("places"); // kind and address or path
        const QString sum = QStringLiteral("files/") + QString(64, QLatin1Char('a'));
        const QString channel = QStringLiteral("https://updates.example.com/fenestra/channel/");
        const QString origin = channel + sum;
        const QStringList none;
        QTest::newRow("the channel alone") << "" << none << sum << QStringList { "origin " + origin };
        QTest::newRow("all of them, best first")
                << "http://cache.plant:8080/fenestra" << QStringList { "http://cdn.example.com/f/" } << sum
                << QStringList { "mirror http://cache.plant:8080/fenestra/" + sum,
                                 "manifest http://cdn.example.com/f/" + sum, "origin " + origin };
        QTest::newRow("a UNC share holds files by content")
                << "\\\\plant-fs\\fenestra\\" << none << sum
                << QStringList { "share //plant-fs/fenestra/" + sum, "origin " + origin };
        QTest::newRow("but no package")
                << "\\\\plant-fs\\fenestra" << QStringList { "http://cdn.example.com/" }
                << "fenestra-1.1.0.tar.gz"
                << QStringList { "manifest http://cdn.example.com/fenestra-1.1.0.tar.gz",
                                 "origin " + channel + "fenestra-1.1.0.tar.gz" };
        QTest::newRow("a mirror that is the channel is asked once")
                << "https://updates.example.com/fenestra/channel/"
                << QStringList { "https://updates.example.com/fenestra/channel" } << sum
                << QStringList { "mirror " + origin };
        QTest::newRow("a name with a colon stays below the mirror")
                << "http://cache/" << none << "a:b"
                << QStringList { "mirror http://cache/a:b", "origin " + channel + "a:b" };
    }

    // IT's place, the manifest's, then the channel: through Policy, as IT writes it.
    void placesInOrder()
    {
        QFETCH(QString, mirror);
        QFETCH(QStringList, manifest);
        QFETCH(QString, name);
        QFETCH(QStringList, places);
        QTemporaryDir folder;
        QVERIFY(writeFile(folder.filePath(QStringLiteral("policy.ini")), "mirror=" + mirror.toUtf8() + '\n'));
        const Policy policy = Policy::read(folder.path());
        QVERIFY2(mirror.isEmpty() || policy.problems.isEmpty(), qPrintable(policy.problems.join(' ')));
        FetchPlaces::Mirrors mirrors { policy.updates.mirror, policy.updates.share, {} };
        for (const QString &address : manifest)
            mirrors.manifest << QUrl(address);
        QStringList got;
        for (const FetchPlaces::Place &place : FetchPlaces::inOrder(
                     mirrors, name,
                     QUrl(QStringLiteral("https://updates.example.com/fenestra/channel/") + name)))
            got << QString::fromLatin1(FetchPlaces::word(place.kind)) + QLatin1Char(' ')
                            + (place.url.isEmpty() ? place.path : place.url.toString());
        QCOMPARE(got, places);
    }

    void fetchesOnlyTheFilesThatChanged_data()
    {
        QTest::addColumn<QString>("fault");
        // IT's plant cache (cache, down, wrong: another file) or share (share,
        // wrong share), and the manifest's mirror (manifest).
        QTest::addColumn<QString>("mirror");
        QTest::addColumn<QString>("via");
        QTest::addColumn<QStringList>("fetched"); // the files fetched by content from the channel
        QTest::addColumn<QString>("from"); // where the state says it came from
        const QStringList shell = { QStringLiteral("bin/fenestra") };
        const QStringList none;
        QTest::newRow("one file changed") << QString() << ""
                                          << "files" << shell << "origin";
        QTest::newRow("a file of the running version damaged")
                << "damaged copy"
                << ""
                << "files"
                << QStringList { QStringLiteral("bin/fenestra"), QStringLiteral("lib/libQt6Core.so.6.8.0") }
                << "origin";
        QTest::newRow("a file not the listed one") << "wrong file"
                                                   << ""
                                                   << "package" << shell << "origin";
        QTest::newRow("a file list not the listed one") << "wrong list"
                                                        << ""
                                                        << "package" << none << "origin";
        QTest::newRow("no file list") << "no list"
                                      << ""
                                      << "package" << none << "origin";
        QTest::newRow("a list naming a path outside") << "path outside"
                                                      << ""
                                                      << "package" << none << "origin";
        QTest::newRow("a server error") << "server error"
                                        << ""
                                        << "package" << none << "origin";
        QTest::newRow("from the plant cache") << QString() << "cache"
                                              << "files" << none << "mirror";
        QTest::newRow("the plant cache down") << QString() << "down"
                                              << "files" << shell << "origin";
        QTest::newRow("the plant cache gives another file") << QString() << "wrong"
                                                            << "files" << shell << "origin";
        QTest::newRow("the manifest's mirror when the plant cache is down") << QString() << "down, manifest"
                                                                            << "files" << none << "manifest";
        QTest::newRow("a package from the plant cache") << "no list"
                                                        << "cache"
                                                        << "package" << none << "mirror";
        QTest::newRow("a package when the plant cache is down") << "no list"
                                                                << "down"
                                                                << "package" << none << "origin";
        QTest::newRow("a package the plant cache gives wrong") << "no list"
                                                               << "wrong"
                                                               << "package" << none << "origin";
        QTest::newRow("a share that fills for the next desktop") << QString() << "share"
                                                                 << "files" << shell << "origin";
        QTest::newRow("a wrong file in the share is replaced") << QString() << "wrong share"
                                                               << "files" << shell << "origin";
        QTest::newRow("a share that cannot be reached is left alone") << QString() << "share gone"
                                                                      << "files" << shell << "origin";
        // A big library that changed a little, with a patch from the running version's.
        const QStringList shellAndLibrary = { QStringLiteral("bin/fenestra"),
                                              QStringLiteral("lib/libQt6Pdf.so.6") };
        QTest::newRow("a big file made from its patch") << "patch"
                                                        << ""
                                                        << "files" << shell << "origin";
        QTest::newRow("a corrupted patch") << "corrupted patch"
                                           << ""
                                           << "files" << shellAndLibrary << "origin";
        QTest::newRow("a patch over the memory bound") << "patch over memory"
                                                       << ""
                                                       << "files" << shellAndLibrary << "origin";
        QTest::newRow("a damaged file under a patch") << "damaged under patch"
                                                      << ""
                                                      << "files" << shellAndLibrary << "origin";
        QTest::newRow("a patch list not the listed one") << "wrong patch list"
                                                         << ""
                                                         << "files" << shellAndLibrary << "origin";
    }

    void fetchesOnlyTheFilesThatChanged()
    {
        QFETCH(QString, fault);
        QFETCH(QString, mirror);
        QFETCH(QString, via);
        QFETCH(QStringList, fetched);
        QFETCH(QString, from);
        QVERIFY(QDir(channelFolder.path()).removeRecursively() && QDir().mkpath(channelFolder.path()));
        QTemporaryDir work;
        QTemporaryDir share;
        if (mirror == QLatin1String("cache") || mirror == QLatin1String("wrong"))
            QVERIFY(writeFile(rootFile(QStringLiteral("policy.ini")),
                              "[update]\nmirror=" + server.url(QLatin1Char('/') + mirror).toEncoded()
                                      + '\n'));
        if (mirror.startsWith(QLatin1String("down")))
            QVERIFY(writeFile(rootFile(QStringLiteral("policy.ini")), "mirror=http://127.0.0.1:1/plant\n"));
        if (mirror.endsWith(QLatin1String("share")))
            QVERIFY(writeFile(rootFile(QStringLiteral("policy.ini")),
                              "mirror=" + QDir::toNativeSeparators(share.path()).toUtf8() + '\n'));
        const QString gone = share.filePath(QStringLiteral("gone"));
        if (mirror == QLatin1String("share gone"))
            QVERIFY(writeFile(rootFile(QStringLiteral("policy.ini")), "mirror=" + gone.toUtf8() + '\n'));
        const bool patched = fault.contains(QLatin1String("patch"));
        UpdateManifest::Release releases[2];
        PackageFormat::FileList firstList;
        const char *versions[2] = { "1.0.0", "1.1.0" };
        for (int i = 0; i < 2; ++i) {
            const QString version = QString::fromLatin1(versions[i]);
            const QString deployed = work.filePath(version);
            deploy(deployed, versions[i]);
            if (patched)
                deployBigLibrary(deployed, i);
            const QString name = QStringLiteral("fenestra-%1.tar.gz").arg(version);
            const Packer::Package package = Packer::pack(deployed, channelFolder.filePath(name));
            QVERIFY2(package.problem.isEmpty(), qPrintable(package.problem));
            const QString listName = QStringLiteral("fenestra-%1.files").arg(version);
            Packer::Published published =
                    Packer::publishFiles(deployed, package, channelFolder.path(), listName);
            QVERIFY2(published.problem.isEmpty(), qPrintable(published.problem));
            published.list.url = server.url(QStringLiteral("/channel/") + listName);
            releases[i] = { version,      Updater::platform(), server.url(QStringLiteral("/channel/") + name),
                            package.size, package.sha256,      published.list };
            if (patched && i == 1) {
                Packer::PublishedPatches patches =
                        Packer::publishPatches(deployed, package, channelFolder.path(), { firstList },
                                               QStringLiteral("1.1.0.patches"));
                QVERIFY2(patches.problem.isEmpty() && patches.note.isEmpty(),
                         qPrintable(patches.problem + patches.note));
                QCOMPARE(patches.made, 1);
                patches.list->url = server.url(QStringLiteral("/channel/1.1.0.patches"));
                releases[i].patches = patches.list;
            }
            firstList = package.files;
        }
        // The running version, as a desktop staged it from its package.
        const QString installed = rootFile(QStringLiteral("versions"));
        QVERIFY(PackageStager::stage(channelFolder.filePath(QStringLiteral("fenestra-1.0.0.tar.gz")),
                                     installed, QStringLiteral("1.0.0"), releases[0].sha256)
                        .problem.isEmpty());
        setState("1.0.0");
        const QString list = channelFolder.filePath(QStringLiteral("fenestra-1.1.0.files"));
        const auto contentOf = [&](const QString &path) {
            return channelFolder.filePath(
                    QStringLiteral("files/")
                    + QCryptographicHash::hash(readFile(work.filePath(QStringLiteral("1.1.0/") + path)),
                                               QCryptographicHash::Sha256)
                              .toHex());
        };
        UpdateManifest::Release &target = releases[1];
        if (fault == QLatin1String("damaged copy"))
            QVERIFY(writeFile(installed + QStringLiteral("/1.0.0/lib/libQt6Core.so.6.8.0"),
                              QByteArray(100 * 1024, 'Q')));
        if (fault == QLatin1String("wrong file"))
            QVERIFY(writeFile(contentOf(QStringLiteral("bin/fenestra")),
                              QByteArray(readFile(contentOf(QStringLiteral("bin/fenestra"))).size(), '#')));
        if (fault == QLatin1String("wrong list"))
            target.files->sha256 = QByteArray(64, 'a');
        if (fault == QLatin1String("no list"))
            QVERIFY(QFile::remove(list));
        if (fault == QLatin1String("path outside")) {
            const QByteArray text = readFile(list).replace("\tbin/fenestra", "\t../../fenestra");
            QVERIFY(writeFile(list, text));
            target.files->size = text.size();
            target.files->sha256 = QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex();
        }
        const QString sharedShell = share.filePath(
                QStringLiteral("files/") + QFileInfo(contentOf(QStringLiteral("bin/fenestra"))).fileName());
        if (mirror == QLatin1String("wrong share"))
            QVERIFY(writeFile(sharedShell,
                              QByteArray(QFileInfo(contentOf(QStringLiteral("bin/fenestra"))).size(), '#')));
        const QString patchFile = channelFolder.filePath(
                QStringLiteral("patches/%1-%2.zst")
                        .arg(QFileInfo(contentOf(QStringLiteral("../1.0.0/lib/libQt6Pdf.so.6"))).fileName(),
                             QFileInfo(contentOf(QStringLiteral("lib/libQt6Pdf.so.6"))).fileName()));
        const qint64 patchBytes = QFileInfo(patchFile).size();
        if (fault == QLatin1String("corrupted patch"))
            QVERIFY(writeFile(patchFile, QByteArray(patchBytes, '#')));
        if (fault == QLatin1String("patch over memory"))
            patchMemory = 3 * 1024 * 1024;
        if (fault == QLatin1String("damaged under patch"))
            QVERIFY(writeFile(installed + QStringLiteral("/1.0.0/lib/libQt6Pdf.so.6"),
                              QByteArray(2 * 1024 * 1024 + 1, 'P')));
        if (fault == QLatin1String("wrong patch list"))
            target.patches->sha256 = QByteArray(64, 'a');
        channelFails = fault == QLatin1String("server error");
        UpdateManifest published = channel(1765000000, QStringLiteral("1.1.0"), { releases[0], target });
        if (mirror.endsWith(QLatin1String("manifest")))
            published.mirrors << server.url(QStringLiteral("/cache"));
        publish(published, first);
        server.clearRequests();
        channelBytes = 0;
        mirrorBytes = 0;
        // What an earlier check left of the package.
        const QString partial = rootFile(
                QStringLiteral("update/downloads/fenestra-1.1.0-%1.tar.gz.part").arg(Updater::platform()));
        if (via == QLatin1String("files"))
            QVERIFY(writeFile(partial, "the first bytes"));

        const QStringList lines = check();
        channelFails = false;
        QVERIFY2(lines.contains(QStringLiteral("staged 1.1.0 for the next start")),
                 qPrintable(lines.join(QLatin1Char('\n'))));
        // Byte for byte what the package stages.
        QTemporaryDir fromPackage;
        QVERIFY(PackageStager::stage(channelFolder.filePath(QStringLiteral("fenestra-1.1.0.tar.gz")),
                                     fromPackage.path(), QStringLiteral("1.1.0"), target.sha256)
                        .problem.isEmpty());
        QCOMPARE(treeOf(installed + QStringLiteral("/1.1.0")),
                 treeOf(fromPackage.filePath(QStringLiteral("1.1.0"))));
        QVERIFY(!QFileInfo::exists(installed + QStringLiteral("/1.1.0.staging")));
        QVERIFY(!QFileInfo::exists(root.filePath(QStringLiteral("fenestra"))));

        qint64 contentBytes = 0;
        QStringList contentAsked;
        for (const TestHttpServer::Request &request : server.requests()) {
            if (request.path().startsWith("/channel/files/"))
                contentAsked << QString::fromLatin1(request.path().mid(15));
        }
        for (const QString &path : std::as_const(fetched)) {
            contentBytes += QFileInfo(contentOf(path)).size();
            QVERIFY2(contentAsked.removeOne(QFileInfo(contentOf(path)).fileName()), qPrintable(path));
        }
        if (fault.isEmpty() || fault == QLatin1String("damaged copy") || patched)
            QVERIFY2(contentAsked.isEmpty(), qPrintable(contentAsked.join(QLatin1Char(' '))));
        // The patch list, and the patch unless the memory bound or the list ruled it out.
        const bool patchAsked = patched && fault != QLatin1String("patch over memory")
                && fault != QLatin1String("wrong patch list");
        const qint64 patchListBytes =
                patched ? QFileInfo(channelFolder.filePath(QStringLiteral("1.1.0.patches"))).size() : 0;
        int patchRequests = 0;
        for (const TestHttpServer::Request &request : server.requests())
            patchRequests += request.path().startsWith("/channel/patches/") ? 1 : 0;
        QCOMPARE(patchRequests, patchAsked ? 1 : 0);
        if (via == QLatin1String("files"))
            QCOMPARE(
                    lines.filter(QStringLiteral(" files patched")).value(0).section(QLatin1Char(' '), -3, -3),
                    QString::number(fault == QLatin1String("patch") ? 1 : 0));
        if (fault == QLatin1String("corrupted patch") || fault == QLatin1String("damaged under patch"))
            QCOMPARE(lines.filter(QStringLiteral("could not patch lib/libQt6Pdf.so.6: ")).size(), 1);
        if (fault == QLatin1String("patch over memory"))
            QVERIFY2(lines.contains(
                             QStringLiteral("fetching lib/libQt6Pdf.so.6 whole: its patch would need more "
                                            "than the 3 MiB of memory it may take")),
                     qPrintable(lines.join(QLatin1Char('\n'))));
        const qint64 listBytes = fault == QLatin1String("no list") ? 0 : QFileInfo(list).size();
        const qint64 packageBytes = via == QLatin1String("package") ? target.size : 0;
        QCOMPARE(packageRequests(),
                 via == QLatin1String("package") ? (mirror == QLatin1String("wrong") ? 2 : 1) : 0);
        const qint64 packageFromMirror = mirror == QLatin1String("cache") ? packageBytes : 0;
        // Of a patched file, the patch's bytes travel, not the file's.
        QCOMPARE(channelBytes,
                 listBytes + contentBytes + packageBytes - packageFromMirror + patchListBytes
                         + (patchAsked ? patchBytes : 0));
        QVERIFY(!QFileInfo::exists(partial));
        const InstallState::State s = state();
        QCOMPARE(QString::fromStdString(s.downloadVia), via);
        QCOMPARE(QString::fromStdString(s.downloadFrom), from);
        QCOMPARE(s.downloadPatched, fault == QLatin1String("patch") ? 1 : 0);
        const qint64 readOfShare = mirror == QLatin1String("wrong share") ? QFileInfo(sharedShell).size() : 0;
        QCOMPARE(s.downloadBytes, channelBytes + mirrorBytes + readOfShare);
        // A cache that does not answer costs one wait, not one for each file.
        if (mirror.startsWith(QLatin1String("down")) && via == QLatin1String("files"))
            QCOMPARE(lines.filter(QStringLiteral("not asking")),
                     QStringList { QStringLiteral("not asking http://127.0.0.1:1 again for this release: "
                                                  "Connection refused") });
        if (mirror == QLatin1String("share gone")) {
            QCOMPARE(lines.filter(QStringLiteral("cannot reach the share")),
                     QStringList { QStringLiteral("cannot reach the share %1 for this release").arg(gone) });
            QVERIFY(!QFileInfo::exists(gone));
        }
        if (!mirror.endsWith(QLatin1String("share")))
            return;

        // The share holds what this desktop fetched, whole, for the next one.
        QCOMPARE(readFile(sharedShell), readFile(contentOf(QStringLiteral("bin/fenestra"))));
        QCOMPARE(QDir(share.filePath(QStringLiteral("files"))).entryList(QDir::Files),
                 QStringList { QFileInfo(sharedShell).fileName() });
        QVERIFY(PackageStager::removeVersionFolder(installed + QStringLiteral("/1.1.0")));
        setState("1.0.0");
        server.clearRequests();
        channelBytes = 0;
        const QStringList next = check();
        QVERIFY2(next.contains(QStringLiteral("staged 1.1.0 for the next start")),
                 qPrintable(next.join(QLatin1Char('\n'))));
        QCOMPARE(treeOf(installed + QStringLiteral("/1.1.0")),
                 treeOf(fromPackage.filePath(QStringLiteral("1.1.0"))));
        QCOMPARE(channelBytes, listBytes);
        QCOMPARE(QString::fromStdString(state().downloadFrom), QStringLiteral("share"));
        QCOMPARE(state().downloadBytes, listBytes + QFileInfo(sharedShell).size());
    }

    // A busy channel says when to come back; a server cannot silence a desktop for days.
    void busyChannelIsHeardWithinBounds()
    {
        setState("1.0.0");
        addVersion(QStringLiteral("1.0.0"));
        const auto asked = [this](const QByteArray &retryAfter) {
            busyRetryAfter = retryAfter;
            const QStringList lines = check();
            busyRetryAfter.clear();
            return lines.filter(QStringLiteral("come back in")).join(QLatin1Char('|'));
        };
        QCOMPARE(asked("7200"), QStringLiteral("the channel asks to come back in 7200 s"));
        QCOMPARE(asked("31536000"), QStringLiteral("the channel asks to come back in 86400 s"));
        QCOMPARE(asked("later"), QString());
    }

    void turnedOffWithdrawsThePending()
    {
        addVersion(QStringLiteral("1.0.0"));
        addVersion(QStringLiteral("1.1.0"));
        setState("1.0.0", "1.1.0");
        QVERIFY(writeFile(rootFile(QStringLiteral("update-policy.ini")), "[update]\nenabled=false\n"));
        QVERIFY(check().contains(QStringLiteral("turned off by IT's policy, withdrew 1.1.0")));
        QVERIFY(state().pending.empty());
        QVERIFY(server.requests().isEmpty());
    }

    // A full disk or a scanner holding a file costs a try, not the download.
    void stagingTroubleKeepsThePackage()
    {
        addVersion(QStringLiteral("1.0.0"));
        setState("1.0.0");
        publish(channel(1765000000, QStringLiteral("1.1.0"), { release(QStringLiteral("1.1.0"), "new") }),
                first);
        QVERIFY(writeFile(rootFile(QStringLiteral("versions/1.1.0.staging")), "in the way"));
        QVERIFY(check().contains(
                QStringLiteral("could not stage 1.1.0: cannot make %1; the package is kept for the "
                               "next check")
                        .arg(rootFile(QStringLiteral("versions/1.1.0.staging")))));
        QVERIFY(QFile::remove(rootFile(QStringLiteral("versions/1.1.0.staging"))));
        QVERIFY(check().contains(QStringLiteral("staged 1.1.0 for the next start")));
        QCOMPARE(packageRequests(), 1);
        QCOMPARE(readFile(rootFile(QStringLiteral("versions/1.1.0/bin/fenestra"))), QByteArray("new"));
    }

    // A version name reused for another package is fetched again.
    void reusedVersionNameIsFetchedAgain()
    {
        addVersion(QStringLiteral("1.0.0"));
        addVersion(QStringLiteral("1.1.0"), QByteArray(64, 'f'));
        setState("1.0.0");
        publish(channel(1765000000, QStringLiteral("1.1.0"), { release(QStringLiteral("1.1.0"), "rebuilt") }),
                first);
        QVERIFY(check().contains(QStringLiteral("staged 1.1.0 for the next start")));
        QCOMPARE(packageRequests(), 1);
        QCOMPARE(readFile(rootFile(QStringLiteral("versions/1.1.0/bin/fenestra"))), QByteArray("rebuilt"));
        QCOMPARE(state().pending, std::string("1.1.0"));
    }

    // A state that cannot be read is left as it is: no check, no write.
    void unreadableStateIsLeftAlone()
    {
        addVersion(QStringLiteral("1.0.0"));
        QVERIFY(QDir().mkpath(rootFile(QStringLiteral("update/state.ini"))));
        publish(channel(1765000000, QStringLiteral("1.1.0"), { release(QStringLiteral("1.1.0"), "new") }),
                first);
        QVERIFY(check().join(QLatin1Char('\n')).contains(QLatin1String("cannot read")));
        QVERIFY(QFileInfo(rootFile(QStringLiteral("update/state.ini"))).isDir());
        QVERIFY(server.requests().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
