#include "update/rollout.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString idA = QStringLiteral("00112233445566778899aabbccddeeff");
const QString idB = QStringLiteral("ffeeddccbbaa99887766554433221100");
const QString linux64 = QStringLiteral("linux-x86_64");

UpdateManifest manifest(int share)
{
    UpdateManifest m;
    for (const char *version : { "0.9.5", "1.0.0", "1.1.0", "1.2.0-pilot" }) {
        UpdateManifest::Release release;
        release.version = QString::fromLatin1(version);
        release.platform = linux64;
        m.releases << release;
    }
    m.rollout.target = QStringLiteral("1.1.0");
    m.rollout.share = share;
    m.rollout.salt = QStringLiteral("1.1.0-a");
    m.rollout.rings.insert(QStringLiteral("pilot"), QStringLiteral("1.2.0-pilot"));
    m.rollout.pins.insert(idB, QStringLiteral("1.0.0"));
    m.pulled << QStringLiteral("0.9.5");
    return m;
}

} // namespace

class TestRollout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Places worked out by hand: the first four bytes of SHA-256("<id>:<salt>")
    // big-endian, modulo 10000, against share x 100.
    void fixedVectors_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("salt");
        QTest::addColumn<int>("share");
        QTest::addColumn<bool>("in");
        // idA with salt 1.1.0-a sits at 1147.
        QTest::newRow("1147 under 12%") << idA << "1.1.0-a" << 12 << true;
        QTest::newRow("1147 over 11%") << idA << "1.1.0-a" << 11 << false;
        // The same desktop with another salt sits at 5617.
        QTest::newRow("new salt, 5617 over 56%") << idA << "1.1.0-b" << 56 << false;
        QTest::newRow("new salt, 5617 under 57%") << idA << "1.1.0-b" << 57 << true;
        QTest::newRow("553 under 6%") << idB << "1.1.0-a" << 6 << true;
        QTest::newRow("553 over 5%") << idB << "1.1.0-a" << 5 << false;
        QTest::newRow("9401 over 94%") << "0123456789abcdef0123456789abcdef"
                                       << "1.2.0" << 94 << false;
        QTest::newRow("every desktop at 100%") << "0123456789abcdef0123456789abcdef"
                                               << "1.2.0" << 100 << true;
        QTest::newRow("none at 0%") << idB << "1.1.0-a" << 0 << false;
    }

    void fixedVectors()
    {
        QFETCH(QString, id);
        QFETCH(QString, salt);
        QFETCH(int, share);
        QFETCH(bool, in);
        QCOMPARE(Rollout::inShare(id, salt, share), in);
    }

    void higherShareNeverDropsADesktop()
    {
        for (int i = 0; i < 500; ++i) {
            const QString id = QString::number(i, 16).rightJustified(32, QLatin1Char('0'));
            bool taken = false;
            for (int share = 0; share <= 100; ++share) {
                const bool now = Rollout::inShare(id, QStringLiteral("1.1.0-a"), share);
                QVERIFY2(now || !taken, qPrintable(id + QStringLiteral(" dropped at %1%").arg(share)));
                taken = now;
            }
            QVERIFY(taken);
        }
    }

    void target_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<int>("share");
        QTest::addColumn<QString>("policy"); // policy.ini
        QTest::addColumn<QStringList>("bad");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("pinned");
        QTest::newRow("under the share") << idA << 12 << "" << QStringList() << linux64 << "1.1.0" << false;
        QTest::newRow("over the share") << idA << 11 << "" << QStringList() << linux64 << "" << false;
        QTest::newRow("manifest pin wins over the share")
                << idB << 100 << "" << QStringList() << linux64 << "1.0.0" << true;
        QTest::newRow("ring wins over the share")
                << idA << 0 << "ring=pilot" << QStringList() << linux64 << "1.2.0-pilot" << false;
        QTest::newRow("unknown ring: the share")
                << idA << 12 << "ring=night" << QStringList() << linux64 << "1.1.0" << false;
        QTest::newRow("manifest pin wins over the ring")
                << idB << 0 << "ring=pilot" << QStringList() << linux64 << "1.0.0" << true;
        QTest::newRow("local pin wins over all")
                << idB << 100 << "pin=1.1.0\nring=pilot" << QStringList() << linux64 << "1.1.0" << true;
        QTest::newRow("turned off") << idA << 100 << "enabled=0\npin=1.1.0" << QStringList() << linux64 << ""
                                    << false;
        QTest::newRow("turned off by a word")
                << idA << 100 << "enabled=false" << QStringList() << linux64 << "" << false;
        QTest::newRow("turned off under [update]")
                << idA << 100 << "[update]\nenabled=off" << QStringList() << linux64 << "" << false;
        QTest::newRow("pinned under [update]")
                << idA << 0 << "[update]\npin=1.1.0" << QStringList() << linux64 << "1.1.0" << true;
        QTest::newRow("bad target never chosen")
                << idA << 100 << "" << QStringList { "1.1.0" } << linux64 << "" << false;
        QTest::newRow("bad pin never chosen")
                << idA << 0 << "pin=1.0.0" << QStringList { "1.0.0" } << linux64 << "" << false;
        QTest::newRow("pulled pin never chosen")
                << idA << 0 << "pin=0.9.5" << QStringList() << linux64 << "" << false;
        QTest::newRow("pin of an unlisted version")
                << idA << 100 << "pin=0.9.0" << QStringList() << linux64 << "" << false;
        QTest::newRow("no release for this platform") << idA << 100 << "" << QStringList() << "windows-x86_64"
                                                      << "" << false;
    }

    void target()
    {
        QFETCH(QString, id);
        QFETCH(int, share);
        QFETCH(QString, policy);
        QFETCH(QStringList, bad);
        QFETCH(QString, platform);
        QFETCH(QString, expected);
        QFETCH(bool, pinned);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("policy.ini"));
        if (!policy.isEmpty()) {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(policy.toUtf8() + '\n');
        }
        const Rollout::Choice choice =
                Rollout::choose(manifest(share), id, Policy::read(dir.path()).updates, bad, platform);
        QCOMPARE(choice.version, expected);
        QCOMPARE(choice.pinned, pinned);
    }
};

QTEST_GUILESS_MAIN(TestRollout)
#include "tst_rollout.moc"
