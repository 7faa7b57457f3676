#include "config/logging.h"
#include "launcher/installstate.h"
#include "launcher/status.h"
#include "releasefixtures.h"
#include "testhttpserver.h"
#include "update/packagestager.h"
#include "update/updatemanifest.h"
#include "update/updater.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList updateLines;

void recordUpdateLines(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    if (qstrcmp(context.category, lcUpdate().categoryName()) == 0)
        updateLines << message;
}

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
    QtMessageHandler previousHandler = nullptr;

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
        updateLines.clear();
        Updater::Channel c;
        c.manifest = server.url(QStringLiteral("/manifest.json"));
        c.keys = QStringList { first.publicKey(), second.publicKey() };
        Updater updater(c, root.path(), ownVersion);
        QSignalSpy finished(&updater, &Updater::checkFinished);
        updater.check();
        if (finished.isEmpty() && !finished.wait(30000))
            return { QStringLiteral("no end of the check") };
        return updateLines;
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
            const QString version = QString::fromUtf8(request.path().mid(10).chopped(7));
            if (!packages.contains(version))
                return TestHttpServer::Response::text("not here", "text/plain", 404);
            return TestHttpServer::Response::text(packages.value(version), "application/gzip");
        });
        QVERIFY(server.listen());
        previousHandler = qInstallMessageHandler(recordUpdateLines);
    }

    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    void init()
    {
        QDir(root.path()).removeRecursively();
        QVERIFY(QDir().mkpath(rootFile(QStringLiteral("update"))));
        packages.clear();
        server.clearRequests();
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
        const QString full =
                QStringLiteral("id=00112233445566778899aabbccddeeff&v=1.1.0&prev=1.0.0&trial=1"
                               "&ring=pilot&bad=2&lastbad=1.0.5&os=")
                + Updater::platform()
                + QStringLiteral(
                        "&gfx=2&crashes=3&crashmod=igd10iumd64.dll&dl=ok&dlbytes=140509184&dlsec=95");
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
