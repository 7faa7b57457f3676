// Which failed loads come back by themselves, how long each wait is, and what
// the error page says of it.

#include "browser/loadretry.h"

#include <QWebEngineLoadingInfo>
#include <QtTest>

using namespace std::chrono_literals;

class TestLoadRetry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void onlyNetworkFailuresAreTriedAgain_data()
    {
        QTest::addColumn<int>("domain");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("retried");
        const int connection = QWebEngineLoadingInfo::ConnectionErrorDomain;
        QTest::newRow("refused") << connection << -102 << true;
        QTest::newRow("reset") << connection << -101 << true;
        QTest::newRow("timed out") << connection << -118 << true;
        QTest::newRow("name not resolved") << int(QWebEngineLoadingInfo::DnsErrorDomain) << -105 << true;
        QTest::newRow("no network") << connection << -106 << true;
        QTest::newRow("network changed") << connection << -21 << true;
        QTest::newRow("aborted by the user") << connection << -3 << false;
        QTest::newRow("blocked by the client") << connection << -20 << false;
        QTest::newRow("certificate") << int(QWebEngineLoadingInfo::CertificateErrorDomain) << -202 << false;
        QTest::newRow("certificate, code of a refusal")
                << int(QWebEngineLoadingInfo::CertificateErrorDomain) << -102 << false;
        QTest::newRow("HTTP 503") << int(QWebEngineLoadingInfo::HttpStatusCodeDomain) << 503 << false;
        QTest::newRow("HTTP 404") << int(QWebEngineLoadingInfo::HttpStatusCodeDomain) << 404 << false;
    }

    void onlyNetworkFailuresAreTriedAgain()
    {
        QFETCH(int, domain);
        QFETCH(int, code);
        QFETCH(bool, retried);
        QCOMPARE(LoadRetry::isRetriable(domain, code), retried);

        LoadRetry retry;
        retry.failed(domain, code, false);
        QCOMPARE(retry.notice().isEmpty(), !retried);
    }

    void waitsGrowToAFewMinutes()
    {
        QList<qint64> waits;
        for (int failures = 0; failures <= 9; ++failures)
            waits << LoadRetry::delayAfter(failures).count();
        QCOMPARE(waits, (QList<qint64> { 3, 3, 6, 12, 24, 48, 96, 180, 180, 180 }));
        QCOMPARE(LoadRetry::delayAfter(100000), 180s);
    }

    void wordsForTheWait_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("words");
        QTest::newRow("now") << 0 << QStringLiteral("正在重新连接……");
        QTest::newRow("seconds") << 3 << QStringLiteral("3 秒后自动重试。");
        QTest::newRow("a minute") << 60 << QStringLiteral("1 分 0 秒后自动重试。");
        QTest::newRow("minutes") << 179 << QStringLiteral("2 分 59 秒后自动重试。");
    }

    void wordsForTheWait()
    {
        QFETCH(int, seconds);
        QFETCH(QString, words);
        QCOMPARE(LoadRetry::describeWait(seconds), words);
    }
};

QTEST_GUILESS_MAIN(TestLoadRetry)
#include "tst_loadretry.moc"
