#include "testenvironment.h"
#include "update/updatenotice.h"
#include "windowharness.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>
#include <QtWebEngineQuick>

// The notice a user sees in the real window when a version waits for the next start.
class TestUpdateNotice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void noticeIsMadeOnDemandAndOnce()
    {
        TemporaryAppDir dir;
        WindowHarness harness(QUrl(QStringLiteral("about:blank")));
        QVERIFY(harness.isLoaded());
        QQuickItem *content = harness.window()->contentItem();
        // Nothing of it exists before a version is ready.
        QVERIFY(!content->findChild<QQuickItem *>(QStringLiteral("updateNotice")));

        UpdateNotice::show(harness.engine(), harness.window(), QStringLiteral("1.1.0"));
        UpdateNotice::show(harness.engine(), harness.window(), QStringLiteral("1.2.0"));
        const QList<QQuickItem *> notices =
                content->findChildren<QQuickItem *>(QStringLiteral("updateNotice"));
        QCOMPARE(notices.size(), 1);
        QQuickItem *notice = notices.first();
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->property("version").toString(), QStringLiteral("1.2.0"));
        QStringList texts;
        for (QQuickItem *item : notice->findChildren<QQuickItem *>())
            texts << item->property("text").toString();
        QVERIFY2(texts.contains(QStringLiteral("新版本已下载，下次启动时生效")),
                 qPrintable(texts.join(u'|')));

        QQuickItem *close = notice->findChild<QQuickItem *>(QStringLiteral("updateNoticeClose"));
        QVERIFY(close);
        QTest::mouseClick(harness.window(), Qt::LeftButton, {},
                          WindowHarness::inWindow(close, QPointF(close->width() / 2, close->height() / 2)));
        QTRY_VERIFY(!notice->isVisible());
        UpdateNotice::show(harness.engine(), harness.window(), QStringLiteral("1.3.0"));
        QVERIFY(notice->isVisible());
    }
};

FENESTRA_TEST_MAIN(TestUpdateNotice)
#include "tst_updatenotice.moc"
