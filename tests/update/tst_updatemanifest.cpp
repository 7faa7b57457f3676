#include "releasefixtures.h"
#include "update/manifestcheck.h"
#include "update/packageformat.h"
#include "update/updatemanifest.h"

#include <QCryptographicHash>
#include <QtTest>

#include <functional>

Q_DECLARE_METATYPE(ManifestTrust)

namespace {

QDateTime utc(int year, int month, int day)
{
    return QDateTime(QDate(year, month, day), QTime(12, 0), Qt::UTC);
}

const QDateTime now = utc(2026, 12, 1);
const qint64 signedAt = utc(2026, 11, 30).toSecsSinceEpoch();

UpdateManifest base()
{
    UpdateManifest m;
    m.serial = 12;
    m.signedAt = utc(2026, 11, 30);
    m.expires = utc(2027, 1, 31);
    UpdateManifest::Release release;
    release.version = QStringLiteral("1.1.0");
    release.platform = QStringLiteral("linux-x86_64");
    release.url = QUrl(QStringLiteral("http://127.0.0.1/fenestra-1.1.0-linux-x86_64.tar.gz"));
    release.size = 123456;
    release.sha256 = QByteArray(64, 'a');
    m.releases << release;
    m.rollout.target = QStringLiteral("1.1.0");
    m.rollout.share = 25;
    m.rollout.salt = QStringLiteral("1.1.0-a");
    m.rollout.rings.insert(QStringLiteral("pilot"), QStringLiteral("1.1.0"));
    m.rollout.pins.insert(QStringLiteral("00112233445566778899aabbccddeeff"), QStringLiteral("1.0.0"));
    return m;
}

QByteArray document(const std::function<void(UpdateManifest &)> &change = {})
{
    UpdateManifest m = base();
    if (change)
        change(m);
    return m.toJson();
}

QByteArray sha256(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

ManifestTrust trust(quint64 serial, const QByteArray &acceptedDocument = QByteArray(), qint64 timeFloor = 0,
                    const QString &key = QString())
{
    ManifestTrust t;
    t.serial = serial;
    t.sha256 = acceptedDocument.isEmpty() ? QByteArray() : sha256(acceptedDocument);
    t.timeFloor = timeFloor;
    t.key = key;
    return t;
}

} // namespace

class TestUpdateManifest : public QObject
{
    Q_OBJECT

private:
    MinisignKey first;
    MinisignKey second;
    MinisignKey stranger;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(first.isValid() && second.isValid() && stranger.isValid(), "minisign makes no keys");
    }

    void verdict_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<ManifestTrust>("known");
        QTest::addColumn<QDateTime>("clock");
        QTest::addColumn<QString>("refusal"); // empty: accepted
        QTest::addColumn<QString>("note"); // what the note says, if anything

        const QByteArray good = document();
        const ManifestTrust none;
        QTest::newRow("good") << good << first.sign(good) << none << now << ""
                              << "";
        QTest::newRow("good, legacy signature")
                << good << first.sign(good, "release", true) << none << now << ""
                << "";
        QTest::newRow("second key") << good << second.sign(good) << none << now << ""
                                    << "";
        QTest::newRow("same manifest again")
                << good << first.sign(good) << trust(12, good, signedAt) << now << ""
                << "";
        QTest::newRow("unknown key") << good << stranger.sign(good) << none << now
                                     << "signed by an unknown key"
                                     << "";
        QByteArray altered = good;
        altered.replace("\"share\": 25", "\"share\": 99");
        QTest::newRow("altered after signing")
                << altered << first.sign(good) << none << now << "bad signature"
                << "";
        QTest::newRow("legacy, altered")
                << altered << first.sign(good, "release", true) << none << now << "bad signature"
                << "";
        QTest::newRow("signature of another manifest")
                << good << first.sign(document([](UpdateManifest &m) { m.serial = 13; })) << none << now
                << "bad signature"
                << "";
        QByteArray comment = first.sign(good, "release 12");
        comment.replace("release 12", "release 13");
        QTest::newRow("trusted comment altered")
                << good << comment << none << now << "bad signature of the trusted comment"
                << "";
        QTest::newRow("no signature") << good << QByteArray() << none << now << "malformed signature file"
                                      << "";
        QTest::newRow("lower serial than seen")
                << good << first.sign(good) << trust(13) << now << "serial 12 is lower than 13 seen before"
                << "";
        const QByteArray expired =
                document([](UpdateManifest &m) { m.expires = utc(2026, 12, 1).addSecs(-1); });
        QTest::newRow("expired by a signing time verified")
                << expired << first.sign(expired) << trust(12, expired, now.toSecsSinceEpoch()) << now
                << "expired at 2026-12-01T11:59:59Z"
                << "";
        const QByteArray other =
                document([](UpdateManifest &m) { m.program = QStringLiteral("othershell"); });
        QTest::newRow("another program")
                << other << first.sign(other) << none << now << "for another program (othershell)"
                << "";
        QByteArray large = good;
        large.insert(1, "\"note\": \"" + QByteArray(64 * 1024, 'x') + "\",");
        QTest::newRow("over 64 KiB") << large << first.sign(large) << none << now << "over 64 KiB"
                                     << "";
        QByteArray unsafe = good;
        unsafe.replace("\"version\": \"1.1.0\"", "\"version\": \"../1.1.0\"");
        QTest::newRow("version that is no folder name")
                << unsafe << first.sign(unsafe) << none << now << "malformed release"
                << "";
        // Mirrors stand for the channel's folder over http(s) only: never a
        // file: folder, nor an address that leaks a password.
        for (const char *mirror : { "file:///srv/share", "http://it:pw@cache/", "http:///nohost" }) {
            const QByteArray odd =
                    document([mirror](UpdateManifest &m) { m.mirrors << QUrl(QString::fromLatin1(mirror)); });
            QTest::addRow("mirror %s", mirror) << odd << first.sign(odd) << none << now << "malformed mirrors"
                                               << "";
        }
        const QByteArray many = document([](UpdateManifest &m) {
            for (int i = 0; i <= UpdateManifest::maxMirrors; ++i)
                m.mirrors << QUrl(QStringLiteral("http://cache%1/").arg(i));
        });
        QTest::newRow("too many mirrors") << many << first.sign(many) << none << now << "malformed mirrors"
                                          << "";
        QByteArray unzoned = good;
        unzoned.replace("2026-11-30T12:00:00Z", "2026-11-30T12:00:00");
        QTest::newRow("a time without its zone")
                << unzoned << first.sign(unzoned) << none << now << "no signing time"
                << "";

        // Two manifests with one serial: the second is another document.
        const QByteArray twin = document([](UpdateManifest &m) { m.rollout.share = 100; });
        QTest::newRow("same serial, other bytes") << twin << first.sign(twin) << trust(12, good, signedAt)
                                                  << now << "another manifest with serial 12 was seen before"
                                                  << "";
        // A serial typed with a digit too many would lock every desktop out.
        const QByteArray typo = document([](UpdateManifest &m) { m.serial = 17650000000; });
        QTest::newRow("serial far ahead of its signing time")
                << typo << first.sign(typo) << none << now
                << "serial 17650000000 lies implausibly far ahead of its signing time 2026-11-30T12:00:00Z"
                << "";
        const QByteArray older = document([](UpdateManifest &m) {
            m.serial = 13;
            m.signedAt = utc(2026, 11, 1);
        });
        QTest::newRow("signed before what was verified")
                << older << first.sign(older) << trust(12, good, signedAt) << now
                << "signed at 2026-11-01T12:00:00Z, before 2026-11-30T12:00:00Z verified earlier"
                << "";

        // A clock years ahead: what is new to the desktop is taken, with a note.
        const QDateTime ahead = utc(2031, 6, 1);
        const QByteArray newer = document([](UpdateManifest &m) { m.serial = 13; });
        QTest::newRow("clock ahead, a newer manifest")
                << newer << first.sign(newer) << trust(12, good, signedAt) << ahead << ""
                << "this computer's clock reads 2031-06-01T12:00:00Z, after the manifest's expiry";
        QTest::newRow("clock ahead, the same manifest")
                << good << first.sign(good) << trust(12, good, signedAt) << ahead << ""
                << "after the manifest's expiry";
        QTest::newRow("clock ahead, an older manifest")
                << good << first.sign(good) << trust(13) << ahead << "serial 12 is lower than 13 seen before"
                << "";
        // A clock behind (a dead CMOS battery) does not make an expired one fresh.
        const QByteArray replayed = document([](UpdateManifest &m) { m.serial = 13; });
        QTest::newRow("clock behind, a manifest older than one verified")
                << replayed << first.sign(replayed)
                << trust(12, QByteArray(), utc(2027, 2, 1).toSecsSinceEpoch()) << utc(2001, 1, 1)
                << "signed at 2026-11-30T12:00:00Z, before 2027-02-01T12:00:00Z verified earlier"
                << "";
        const QByteArray fresh = document([](UpdateManifest &m) {
            m.serial = 13;
            m.signedAt = utc(2027, 2, 2);
            m.expires = utc(2027, 3, 1);
        });
        QTest::newRow("clock behind, a fresh manifest")
                << fresh << first.sign(fresh) << trust(12, QByteArray(), utc(2027, 2, 1).toSecsSinceEpoch())
                << utc(2001, 1, 1) << ""
                << "";

        ManifestTrust revoked = trust(11);
        revoked.revokedKeys << first.id();
        QTest::newRow("signed by a revoked key")
                << good << first.sign(good) << revoked << now
                << QStringLiteral("signed by the revoked key %1").arg(first.id()) << "";
        const QByteArray selfRevoking = document([this](UpdateManifest &m) { m.revokedKeys << first.id(); });
        QTest::newRow("revokes its own key")
                << selfRevoking << first.sign(selfRevoking) << none << now << "revokes the key that signed it"
                << "";
        ManifestTrust rejected = trust(11);
        rejected.rejectedSha256 = sha256(good);
        QTest::newRow("set aside for good")
                << good << first.sign(good) << rejected << now << "a manifest set aside for good"
                << "";
    }

    void verdict()
    {
        QFETCH(QByteArray, document);
        QFETCH(QByteArray, signature);
        QFETCH(ManifestTrust, known);
        QFETCH(QDateTime, clock);
        QFETCH(QString, refusal);
        QFETCH(QString, note);
        const ManifestCheck check =
                checkManifest(document, signature, { first.publicKey(), second.publicKey() }, known, clock);
        QCOMPARE(check.refusal, refusal);
        QVERIFY2(check.note.contains(note) && check.note.isEmpty() == note.isEmpty(), qPrintable(check.note));
        if (!refusal.isEmpty())
            return;
        QCOMPARE(check.trust.serial, check.manifest.serial);
        QCOMPARE(check.trust.sha256, sha256(document));
        QVERIFY(check.trust.timeFloor >= qMax(known.timeFloor, check.manifest.signedAt.toSecsSinceEpoch()));
    }

    // A thief of one key who signed a serial far ahead is shut out by a manifest
    // of the other key: its serial counts although it is lower, and the stolen
    // key and the thief's manifest are never trusted again.
    void revocationUndoesAStolenKey()
    {
        const QByteArray stolen = document([](UpdateManifest &m) {
            m.serial = utc(2100, 1, 1).toSecsSinceEpoch();
            m.signedAt = utc(2100, 1, 1);
            m.expires = utc(2100, 2, 1);
        });
        const QStringList keys = { first.publicKey(), second.publicKey() };
        const ManifestCheck poisoned = checkManifest(stolen, first.sign(stolen), keys, ManifestTrust(), now);
        QVERIFY2(poisoned.refusal.isEmpty(), qPrintable(poisoned.refusal));
        const QByteArray honest = document([this](UpdateManifest &m) { m.serial = 13; });
        QVERIFY(!checkManifest(honest, second.sign(honest), keys, poisoned.trust, now).refusal.isEmpty());

        const QByteArray revoking = document([this](UpdateManifest &m) {
            m.serial = 13;
            m.revokedKeys << first.id();
        });
        const ManifestCheck back = checkManifest(revoking, second.sign(revoking), keys, poisoned.trust, now);
        QVERIFY2(back.refusal.isEmpty(), qPrintable(back.refusal));
        QVERIFY(back.note.contains(QStringLiteral("revokes the key %1").arg(first.id())));
        QCOMPARE(back.trust.serial, quint64(13));
        QCOMPARE(back.trust.timeFloor, signedAt);
        QCOMPARE(back.trust.revokedKeys, QStringList { first.id() });
        QCOMPARE(back.trust.rejectedSha256, sha256(stolen));
        // The thief's manifest and anything else the stolen key signs stay out.
        QCOMPARE(checkManifest(stolen, first.sign(stolen), keys, back.trust, now).refusal,
                 QStringLiteral("signed by the revoked key %1").arg(first.id()));
        const QByteArray later = document([](UpdateManifest &m) { m.serial = 14; });
        QVERIFY(!checkManifest(later, first.sign(later), keys, back.trust, now).refusal.isEmpty());
        QVERIFY(checkManifest(later, second.sign(later), keys, back.trust, now).refusal.isEmpty());
    }

    // A serial published by mistake (plausible, but too high) is replaced by
    // naming it; the mistaken manifest cannot come back.
    void replacementUndoesAMistakenSerial()
    {
        const QStringList keys = { first.publicKey(), second.publicKey() };
        const QByteArray mistaken = document([](UpdateManifest &m) { m.serial = 1795000000; });
        const ManifestCheck held = checkManifest(mistaken, first.sign(mistaken), keys, ManifestTrust(), now);
        QVERIFY2(held.refusal.isEmpty(), qPrintable(held.refusal));
        const QByteArray fixing = document([](UpdateManifest &m) {
            m.serial = 1765000000;
            m.signedAt = utc(2026, 11, 30).addSecs(60);
            m.replacesSerials << 1795000000;
        });
        const ManifestCheck back = checkManifest(fixing, first.sign(fixing), keys, held.trust, now);
        QVERIFY2(back.refusal.isEmpty(), qPrintable(back.refusal));
        QCOMPARE(back.note, QStringLiteral("replaces serial 1795000000"));
        QCOMPARE(back.trust.serial, quint64(1765000000));
        QVERIFY(!checkManifest(mistaken, first.sign(mistaken), keys, back.trust, now).refusal.isEmpty());
        // Naming another serial replaces nothing.
        const QByteArray unrelated = document([](UpdateManifest &m) {
            m.serial = 1765000000;
            m.replacesSerials << 1795000001;
        });
        QCOMPARE(checkManifest(unrelated, first.sign(unrelated), keys, held.trust, now).refusal,
                 QStringLiteral("serial 1765000000 is lower than 1795000000 seen before"));
    }

    // What the release tool writes is what the shell reads, whatever the texts hold.
    void writtenAsRead()
    {
        UpdateManifest m = base();
        m.rollout.salt = QStringLiteral("a \"quoted\" \\ salt, 门窗\n");
        m.rollout.rings.insert(QStringLiteral("night \"shift\""), QStringLiteral("1.1.0"));
        m.pulled << QStringLiteral("1.2.0");
        m.revokedKeys << first.id();
        m.replacesSerials << 1795000000;
        m.mirrors << QUrl(QStringLiteral("http://cache.plant/fenestra/"))
                  << QUrl(QStringLiteral("https://cdn.example.com/c%20d"));
        m.releases[0].files = UpdateManifest::Reference {
            QUrl(QStringLiteral("http://127.0.0.1/fenestra-1.1.0-linux-x86_64.files")), 4000,
            QByteArray(64, 'b')
        };
        m.releases[0].patches = UpdateManifest::Reference {
            QUrl(QStringLiteral("http://127.0.0.1/fenestra-1.1.0-linux-x86_64.patches")), 300,
            QByteArray(64, 'c')
        };
        QString problem;
        const UpdateManifest read = UpdateManifest::parse(m.toJson(), &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(read.toJson(), m.toJson());
        QCOMPARE(read.rollout.salt, m.rollout.salt);
        QCOMPARE(read.rollout.rings, m.rollout.rings);
        QCOMPARE(read.signedAt, m.signedAt);
        QCOMPARE(read.pulled, m.pulled);
        QCOMPARE(read.revokedKeys, m.revokedKeys);
        QCOMPARE(read.replacesSerials, m.replacesSerials);
        QCOMPARE(read.mirrors, m.mirrors);
        const UpdateManifest::Release *release =
                read.release(QStringLiteral("1.1.0"), QStringLiteral("linux-x86_64"));
        QVERIFY(release);
        QCOMPARE(release->size, 123456);
        QCOMPARE(release->url, QUrl(QStringLiteral("http://127.0.0.1/fenestra-1.1.0-linux-x86_64.tar.gz")));
        QVERIFY(release->files);
        QCOMPARE(release->files->url, m.releases[0].files->url);
        QCOMPARE(release->files->size, 4000);
        QVERIFY(release->patches);
        QCOMPARE(release->patches->sha256, QByteArray(64, 'c'));
        QVERIFY(!read.release(QStringLiteral("1.1.0"), QStringLiteral("windows-x86_64")));
        // A file list larger than a desktop reads leaves the release to its package.
        m.releases[0].files->size = PackageFormat::FileList::maxSize + 1;
        const UpdateManifest large = UpdateManifest::parse(m.toJson(), &problem);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QVERIFY(large.release(QStringLiteral("1.1.0"), QStringLiteral("linux-x86_64")));
        QVERIFY(!large.release(QStringLiteral("1.1.0"), QStringLiteral("linux-x86_64"))->files);
        // Patches apply to files: without a list of them they are of no use.
        QVERIFY(!large.release(QStringLiteral("1.1.0"), QStringLiteral("linux-x86_64"))->patches);
        QCOMPARE(read.rollout.pins.value(QStringLiteral("00112233445566778899aabbccddeeff")),
                 QStringLiteral("1.0.0"));
    }
};

QTEST_GUILESS_MAIN(TestUpdateManifest)
#include "tst_updatemanifest.moc"
