#include "releasefixtures.h"
#include "update/updatemanifest.h"

#include <QtTest>

namespace {

const QDateTime now = QDateTime(QDate(2026, 12, 1), QTime(12, 0), Qt::UTC);

QByteArray manifest(const QByteArray &program = "fenestra", quint64 serial = 12,
                    const QByteArray &expires = "2027-01-31T00:00:00Z", int padding = 0)
{
    return "{ \"program\": \"" + program + "\", \"serial\": " + QByteArray::number(serial)
            + ", \"expires\": \"" + expires + "\", \"note\": \"" + QByteArray(padding, 'x')
            + "\", \"releases\": [ { \"version\": \"1.1.0\", "
              "\"platform\": \"linux-x86_64\", \"url\": "
              "\"http://127.0.0.1/fenestra-1.1.0-linux-x86_64.tar.gz\", "
              "\"size\": 123456, \"sha256\": \""
            + QByteArray(64, 'a')
            + "\" } ], \"rollout\": { \"target\": \"1.1.0\", "
              "\"share\": 25, \"salt\": \"1.1.0-a\", \"rings\": { \"pilot\": \"1.1.0\" }, "
              "\"pins\": { \"00112233445566778899aabbccddeeff\": \"1.0.0\" } } }";
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
        QTest::addColumn<quint64>("seenSerial");
        QTest::addColumn<QString>("refusal"); // empty: accepted

        const QByteArray good = manifest();
        QTest::newRow("good") << good << first.sign(good) << quint64(0) << "";
        QTest::newRow("good, legacy signature")
                << good << first.sign(good, "release", true) << quint64(0) << "";
        QTest::newRow("second key") << good << second.sign(good) << quint64(0) << "";
        QTest::newRow("same serial again") << good << first.sign(good) << quint64(12) << "";
        QTest::newRow("unknown key") << good << stranger.sign(good) << quint64(0)
                                     << "signed by an unknown key";
        QByteArray altered = good;
        altered.replace("\"share\": 25", "\"share\": 99");
        QTest::newRow("altered after signing")
                << altered << first.sign(good) << quint64(0) << "bad signature";
        QTest::newRow("legacy, altered")
                << altered << first.sign(good, "release", true) << quint64(0) << "bad signature";
        QTest::newRow("signature of another manifest")
                << good << first.sign(manifest("fenestra", 13)) << quint64(0) << "bad signature";
        QByteArray comment = first.sign(good, "release 12");
        comment.replace("release 12", "release 13");
        QTest::newRow("trusted comment altered")
                << good << comment << quint64(0) << "bad signature of the trusted comment";
        QTest::newRow("no signature") << good << QByteArray() << quint64(0) << "malformed signature file";
        QTest::newRow("lower serial than seen")
                << good << first.sign(good) << quint64(13) << "serial 12 is lower than 13 seen before";
        const QByteArray expired = manifest("fenestra", 12, "2026-12-01T11:59:59Z");
        QTest::newRow("expired") << expired << first.sign(expired) << quint64(0)
                                 << "expired at 2026-12-01T11:59:59Z";
        const QByteArray other = manifest("othershell");
        QTest::newRow("another program")
                << other << first.sign(other) << quint64(0) << "for another program (othershell)";
        const QByteArray large = manifest("fenestra", 12, "2027-01-31T00:00:00Z", 64 * 1024);
        QTest::newRow("over 64 KiB") << large << first.sign(large) << quint64(0) << "over 64 KiB";
        const QByteArray unsafe =
                QByteArray(good).replace("\"version\": \"1.1.0\"", "\"version\": \"../1.1.0\"");
        QTest::newRow("version that is no folder name")
                << unsafe << first.sign(unsafe) << quint64(0) << "malformed release";
    }

    void verdict()
    {
        QFETCH(QByteArray, document);
        QFETCH(QByteArray, signature);
        QFETCH(quint64, seenSerial);
        QFETCH(QString, refusal);
        const ManifestCheck check = checkManifest(document, signature,
                                                  { first.publicKey(), second.publicKey() }, seenSerial, now);
        QCOMPARE(check.refusal, refusal);
        QCOMPARE(check.manifest.serial, refusal.isEmpty() ? quint64(12) : quint64(0));
    }

    void acceptedManifestIsRead()
    {
        const QByteArray good = manifest();
        const ManifestCheck check = checkManifest(good, first.sign(good), { first.publicKey() }, 0, now);
        QVERIFY2(check.refusal.isEmpty(), qPrintable(check.refusal));
        const UpdateManifest::Release *release =
                check.manifest.release(QStringLiteral("1.1.0"), QStringLiteral("linux-x86_64"));
        QVERIFY(release);
        QCOMPARE(release->size, 123456);
        QCOMPARE(release->url, QUrl(QStringLiteral("http://127.0.0.1/fenestra-1.1.0-linux-x86_64.tar.gz")));
        QVERIFY(!check.manifest.release(QStringLiteral("1.1.0"), QStringLiteral("windows-x86_64")));
        QCOMPARE(check.manifest.rollout.share, 25);
        QCOMPARE(check.manifest.rollout.rings.value(QStringLiteral("pilot")), QStringLiteral("1.1.0"));
        QCOMPARE(check.manifest.rollout.pins.value(QStringLiteral("00112233445566778899aabbccddeeff")),
                 QStringLiteral("1.0.0"));
    }
};

QTEST_GUILESS_MAIN(TestUpdateManifest)
#include "tst_updatemanifest.moc"
