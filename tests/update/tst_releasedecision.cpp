#include "update/releasedecision.h"

#include <QtTest>

using Kind = ReleaseDecision::Decision::Kind;
Q_DECLARE_METATYPE(Kind)

namespace {

const QByteArray packageOf11(64, 'b');

UpdateManifest manifest(const QString &target, const QStringList &pulled = {})
{
    UpdateManifest m;
    for (const char *version : { "1.0.0", "1.1.0", "1.2.0" }) {
        UpdateManifest::Release release;
        release.version = QString::fromLatin1(version);
        release.platform = QStringLiteral("linux-x86_64");
        release.sha256 = release.version == QLatin1String("1.1.0") ? packageOf11 : QByteArray(64, 'c');
        m.releases << release;
    }
    m.rollout.target = target;
    m.rollout.share = 100;
    m.pulled = pulled;
    return m;
}

InstallState::State state(const char *current, const char *previous = "", const char *pending = "")
{
    InstallState::State s;
    s.installationId = "00112233445566778899aabbccddeeff";
    s.current = current;
    s.previous = previous;
    s.pending = pending;
    return s;
}

} // namespace

// What the updater does with an accepted manifest, case by case.
class TestReleaseDecision : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decide_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("pulled");
        QTest::addColumn<QString>("policy"); // off, or pin=<v>
        QTest::addColumn<QStringList>("onDisk"); // version, or version=<package>
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("previous");
        QTest::addColumn<QString>("pending");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("version");

        const QStringList none;
        QTest::newRow("a new release") << "1.1.0" << none << "" << QStringList { "1.0.0" } << "1.0.0"
                                       << ""
                                       << "" << Kind::Stage << "1.1.0";
        QTest::newRow("the current one") << "1.0.0" << none << "" << QStringList { "1.0.0" } << "1.0.0"
                                         << ""
                                         << "" << Kind::Nothing << "";
        QTest::newRow("pulled before it started: withdrawn")
                << "1.0.0" << none << "" << QStringList { "1.0.0", "1.1.0" } << "1.0.0"
                << ""
                << "1.1.0" << Kind::Withdraw << "1.1.0";
        QTest::newRow("turned off: a pending one is withdrawn")
                << "1.1.0" << none << "off" << QStringList { "1.0.0", "1.1.0" } << "1.0.0"
                << ""
                << "1.1.0" << Kind::Withdraw << "1.1.0";
        QTest::newRow("turned off, nothing pending")
                << "1.1.0" << none << "off" << QStringList { "1.0.0" } << "1.0.0"
                << ""
                << "" << Kind::Nothing << "";
        // A replayed older manifest must not take a desktop back.
        QTest::newRow("an older target, current not pulled")
                << "1.0.0" << none << "" << QStringList { "1.0.0", "1.1.0" } << "1.1.0"
                << "1.0.0"
                << "" << Kind::Nothing << "";
        QTest::newRow("an older target, a pending newer one withdrawn")
                << "1.0.0" << none << "" << QStringList { "1.1.0", "1.2.0" } << "1.1.0"
                << ""
                << "1.2.0" << Kind::Withdraw << "1.2.0";
        QTest::newRow("current pulled: back to previous on disk")
                << "1.0.0" << QStringList { "1.1.0" } << "" << QStringList { "1.0.0", "1.1.0" } << "1.1.0"
                << "1.0.0"
                << "" << Kind::MarkPending << "1.0.0";
        QTest::newRow("current pulled: back to one not on disk")
                << "1.0.0" << QStringList { "1.1.0" } << "" << QStringList { "1.1.0" } << "1.1.0"
                << ""
                << "" << Kind::Stage << "1.0.0";
        QTest::newRow("pinned back by IT")
                << "1.2.0" << none << "pin=1.0.0" << QStringList { "1.1.0" } << "1.1.0"
                << ""
                << "" << Kind::Stage << "1.0.0";
        QTest::newRow("staged from the same package")
                << "1.1.0" << none << "" << QStringList { "1.0.0", "1.1.0=b" } << "1.0.0"
                << ""
                << "" << Kind::MarkPending << "1.1.0";
        QTest::newRow("put there by the installer")
                << "1.1.0" << none << "" << QStringList { "1.0.0", "1.1.0" } << "1.0.0"
                << ""
                << "" << Kind::MarkPending << "1.1.0";
        QTest::newRow("already pending")
                << "1.1.0" << none << "" << QStringList { "1.0.0", "1.1.0=b" } << "1.0.0"
                << ""
                << "1.1.0" << Kind::Nothing << "";
        // A version name given to another package is fetched again.
        QTest::newRow("the name reused for another package")
                << "1.1.0" << none << "" << QStringList { "1.0.0", "1.1.0=d" } << "1.0.0"
                << ""
                << "1.1.0" << Kind::Stage << "1.1.0";
        QTest::newRow("the name reused, but in use as previous")
                << "1.1.0" << QStringList { "1.2.0" } << "" << QStringList { "1.1.0=d", "1.2.0" } << "1.2.0"
                << "1.1.0"
                << "" << Kind::Nothing << "";
    }

    void decide()
    {
        QFETCH(QString, target);
        QFETCH(QStringList, pulled);
        QFETCH(QString, policy);
        QFETCH(QStringList, onDisk);
        QFETCH(QString, current);
        QFETCH(QString, previous);
        QFETCH(QString, pending);
        QFETCH(Kind, kind);
        QFETCH(QString, version);
        ReleaseDecision::Situation situation;
        situation.state = state(qPrintable(current), qPrintable(previous), qPrintable(pending));
        situation.ownVersion = current;
        situation.platform = QStringLiteral("linux-x86_64");
        situation.policy.enabled = policy != QLatin1String("off");
        if (policy.startsWith(QLatin1String("pin=")))
            situation.policy.pin = policy.mid(4);
        for (const QString &folder : onDisk) {
            const QStringList parts = folder.split(QLatin1Char('='));
            situation.onDisk.insert(parts.first(),
                                    parts.size() > 1 ? QByteArray(64, parts.last().at(0).toLatin1())
                                                     : QByteArray());
        }
        const UpdateManifest m = manifest(target, pulled);
        const ReleaseDecision::Decision decision = ReleaseDecision::decide(&m, situation);
        QCOMPARE(decision.kind, kind);
        QCOMPARE(decision.version, version);
        QVERIFY(!decision.why.isEmpty());
        if (kind == Kind::Stage)
            QCOMPARE(decision.release.version, version);
    }
};

QTEST_GUILESS_MAIN(TestReleaseDecision)
#include "tst_releasedecision.moc"
