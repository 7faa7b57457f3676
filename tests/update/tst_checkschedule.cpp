// When the updater asks its channel: the random part of each wait, and what a
// channel's Retry-After may ask.

#include "update/checkschedule.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace std::chrono_literals;

class TestCheckSchedule : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Spread over the whole span, never outside it.
    void waitsSpreadOverTheirSpan()
    {
        QRandomGenerator random(20261210);
        const std::chrono::milliseconds wait = 30s, spread = 48min;
        std::chrono::milliseconds lowest = wait + spread, highest = wait;
        for (int draw = 0; draw < 2000; ++draw) {
            const std::chrono::milliseconds drawn = CheckSchedule::spreadOut(wait, spread, random);
            QVERIFY(drawn >= wait && drawn <= wait + spread);
            lowest = std::min(lowest, drawn);
            highest = std::max(highest, drawn);
        }
        QVERIFY(lowest < wait + spread / 20);
        QVERIFY(highest > wait + spread * 19 / 20);
        QCOMPARE(CheckSchedule::spreadOut(wait, 0ms, random), wait);
    }

    void retryAfter_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<qint64>("seconds"); // -1: not heard
        QTest::newRow("seconds") << QByteArray("7200") << qint64(7200);
        QTest::newRow("spaces") << QByteArray(" 300 ") << qint64(300);
        QTest::newRow("too soon") << QByteArray("5") << qint64(60);
        QTest::newRow("zero") << QByteArray("0") << qint64(60);
        QTest::newRow("a year") << QByteArray("31536000") << qint64(86400);
        QTest::newRow("more digits than any bound") << QByteArray("99999999999999999999999") << qint64(86400);
        QTest::newRow("date in ten minutes") << QByteArray("Thu, 10 Dec 2026 08:10:00 GMT") << qint64(600);
        QTest::newRow("date passed") << QByteArray("Thu, 10 Dec 2026 07:00:00 GMT") << qint64(60);
        QTest::newRow("date in a month") << QByteArray("Sun, 10 Jan 2027 08:00:00 GMT") << qint64(86400);
        QTest::newRow("date without zone") << QByteArray("Thu, 10 Dec 2026 08:10:00") << qint64(-1);
        QTest::newRow("negative") << QByteArray("-5") << qint64(-1);
        QTest::newRow("fraction") << QByteArray("1.5") << qint64(-1);
        QTest::newRow("words") << QByteArray("later") << qint64(-1);
        QTest::newRow("empty") << QByteArray() << qint64(-1);
        QTest::newRow("overlong") << QByteArray(100, '1') << qint64(-1);
    }

    void retryAfter()
    {
        QFETCH(QByteArray, value);
        QFETCH(qint64, seconds);
        const QDateTime now(QDate(2026, 12, 10), QTime(8, 0), QTimeZone::utc());
        const std::optional<std::chrono::milliseconds> wait = CheckSchedule::retryAfter(value, now);
        QCOMPARE(wait ? std::chrono::duration_cast<std::chrono::seconds>(*wait).count() : -1, seconds);
    }
};

QTEST_GUILESS_MAIN(TestCheckSchedule)
#include "tst_checkschedule.moc"
