// The window's tab set without a window: rows, their change signals and the
// addresses as the rows keep them.

#include "browser/tabmodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

class TestTabModel : public QObject
{
    Q_OBJECT

private:
    static QString title(const TabModel &tabs, int row)
    {
        return tabs.data(tabs.index(row), TabModel::TitleRole).toString();
    }
    static QVariant url(const TabModel &tabs, int row)
    {
        return tabs.data(tabs.index(row), TabModel::UrlRole);
    }
    static QStringList titles(const TabModel &tabs)
    {
        QStringList all;
        for (int row = 0; row < tabs.rowCount(); ++row)
            all << title(tabs, row);
        return all;
    }

private Q_SLOTS:
    void rolesAreTheNamesTheWindowReads()
    {
        const QHash<int, QByteArray> roles = TabModel().roleNames();
        QCOMPARE(roles.value(TabModel::TitleRole), QByteArray("title"));
        QCOMPARE(roles.value(TabModel::UrlRole), QByteArray("url"));
    }

    void addressesStayTheTextTheyWereGiven_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("start address") << QStringLiteral("http://10.0.0.5:80/abc/");
        // A page's new-window request, whose view adopts the page.
        QTest::newRow("empty") << QString();
        QTest::newRow("no scheme") << QStringLiteral("10.0.0.5:80/abc/");
        QTest::newRow("not normalised") << QStringLiteral("HTTP://Example.COM:80/a/../b?q=%7e x#");
        QTest::newRow("chinese path") << QStringLiteral("http://localhost/报表/订单 1.html");
        QTest::newRow("about") << QStringLiteral("about:blank");
    }

    // Every row holds text, whatever the rows before it held.
    void addressesStayTheTextTheyWereGiven()
    {
        QFETCH(QString, address);
        TabModel tabs;
        QAbstractItemModelTester tester(&tabs);
        tabs.append(QStringLiteral("first"), QStringLiteral("http://localhost/"));
        tabs.append(QStringLiteral("加载中..."), address);
        tabs.setTitle(1, QStringLiteral("订单"));
        QCOMPARE(url(tabs, 1).metaType(), QMetaType::fromType<QString>());
        QCOMPARE(url(tabs, 1).toString(), address);
        QCOMPARE(url(tabs, 0).toString(), QStringLiteral("http://localhost/"));
    }

    void appendAndRemoveAreSignalled()
    {
        TabModel tabs;
        QAbstractItemModelTester tester(&tabs);
        QSignalSpy inserted(&tabs, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&tabs, &QAbstractItemModel::rowsRemoved);
        QSignalSpy count(&tabs, &TabModel::countChanged);

        for (const char *name : { "a", "b", "c", "d" })
            tabs.append(QString::fromLatin1(name), QStringLiteral("http://localhost/") + QLatin1String(name));
        QCOMPARE(tabs.count(), 4);
        QCOMPARE(tabs.rowCount(), 4);
        QCOMPARE(count.size(), 4);
        QCOMPARE(inserted.size(), 4);
        QCOMPARE(inserted.last().at(1).toInt(), 3);
        QCOMPARE(inserted.last().at(2).toInt(), 3);

        // A tab from the middle goes; the others keep their order and addresses.
        tabs.remove(1);
        QCOMPARE(titles(tabs), QStringList({ "a", "c", "d" }));
        QCOMPARE(url(tabs, 1).toString(), QStringLiteral("http://localhost/c"));
        QCOMPARE(removed.size(), 1);
        QCOMPARE(removed.first().at(1).toInt(), 1);
        QCOMPARE(removed.first().at(2).toInt(), 1);
        QCOMPARE(count.size(), 5);

        tabs.remove(2);
        tabs.remove(0);
        QCOMPARE(titles(tabs), QStringList({ "c" }));
        QCOMPARE(count.size(), 7);
    }

    void titleChangesAreSignalledForTheirRow()
    {
        TabModel tabs;
        QAbstractItemModelTester tester(&tabs);
        tabs.append(QStringLiteral("加载中..."), QStringLiteral("http://localhost/a"));
        tabs.append(QStringLiteral("加载中..."), QStringLiteral("http://localhost/b"));
        QSignalSpy changed(&tabs, &QAbstractItemModel::dataChanged);
        QSignalSpy count(&tabs, &TabModel::countChanged);

        tabs.setTitle(1, QStringLiteral("订单列表"));
        QCOMPARE(titles(tabs), QStringList({ "加载中...", "订单列表" }));
        QCOMPARE(url(tabs, 1).toString(), QStringLiteral("http://localhost/b"));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.first().at(0).toModelIndex(), tabs.index(1));
        QCOMPARE(changed.first().at(1).toModelIndex(), tabs.index(1));
        QCOMPARE(changed.first().at(2).value<QList<int>>(), QList<int>({ TabModel::TitleRole }));

        // The same title again is no change.
        tabs.setTitle(1, QStringLiteral("订单列表"));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(count.size(), 0);
    }

    void rowsOutOfRangeAreLeftAlone_data()
    {
        QTest::addColumn<int>("row");
        QTest::newRow("negative") << -1;
        QTest::newRow("one past the end") << 2;
        QTest::newRow("far past the end") << 100;
    }

    void rowsOutOfRangeAreLeftAlone()
    {
        QFETCH(int, row);
        TabModel tabs;
        QAbstractItemModelTester tester(&tabs);
        tabs.append(QStringLiteral("a"), QStringLiteral("http://localhost/a"));
        tabs.append(QStringLiteral("b"), QStringLiteral("http://localhost/b"));
        QSignalSpy removed(&tabs, &QAbstractItemModel::rowsAboutToBeRemoved);
        QSignalSpy changed(&tabs, &QAbstractItemModel::dataChanged);
        QSignalSpy count(&tabs, &TabModel::countChanged);

        tabs.remove(row);
        tabs.setTitle(row, QStringLiteral("x"));
        QCOMPARE(titles(tabs), QStringList({ "a", "b" }));
        QCOMPARE(removed.size() + changed.size() + count.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTabModel)
#include "tst_tabmodel.moc"
