#include "bridge/addressrules.h"
#include "bridge/zxjavascript.h"
#include "config/config.h"
#include "config/deployment.h"
#include "testenvironment.h"

#include <QApplication>
#include <QDesktopServices>
#include <QtTest>
#include <QtWebEngineQuick>

class TestAddressRules : public QObject
{
    Q_OBJECT

public Q_SLOTS:
    void openedByDesktop(const QUrl &url) { opened << url; }

private:
    AddressRules *rules = AddressRules::getInstance();
    QList<QUrl> opened;

    // Points the start address at `serverUrl` the way a fresh config.dll does.
    static void configureServer(const TemporaryAppDir &appDir, const QString &serverUrl)
    {
        QVERIFY(appDir.write(QStringLiteral("config.dll"),
                             "<hallinfo><server url=\"" + serverUrl.toUtf8()
                                     + "\" path=\"mes\"/><web port=\"8080\"/></hallinfo>"));
        Config::getInstance()->loadConfig();
    }

private Q_SLOTS:
    void withScheme_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("expected");

        QTest::newRow("bare host and page") << "host/page"
                                            << "http://host/page";
        QTest::newRow("host and port") << "localhost:8080/x"
                                       << "http://localhost:8080/x";
        QTest::newRow("https kept") << "https://host/page"
                                    << "https://host/page";
        QTest::newRow("http kept") << "http://host/page"
                                   << "http://host/page";
        QTest::newRow("http:// anywhere") << "host/go?to=http://other"
                                          << "host/go?to=http://other";
        QTest::newRow("other scheme") << "ftp://host/file"
                                      << "ftp://host/file";
        QTest::newRow("empty") << ""
                               << "http://";
    }
    void withScheme()
    {
        QFETCH(QString, address);
        QFETCH(QString, expected);
        QCOMPARE(rules->withScheme(address), expected);
    }

    void trust_data()
    {
        QTest::addColumn<QString>("serverUrl");
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("trusted");

        const QString signUp = QUrl(Deployment::signUpAddress()).host();
        QTest::newRow("company server, other port") << "company.test"
                                                    << "http://company.test:9999/a" << true;
        QTest::newRow("host case ignored") << "Company.Test"
                                           << "https://COMPANY.test/" << true;
        QTest::newRow("server given with scheme") << "https://secure.test"
                                                  << "https://secure.test/app" << true;
        QTest::newRow("sign-up site") << "company.test"
                                      << "http://" + signUp + "/other" << true;
        QTest::newRow("foreign host") << "company.test"
                                      << "http://evil.test/" << false;
        QTest::newRow("suffix is not the host") << "company.test"
                                                << "http://company.test.evil.test/" << false;
        QTest::newRow("loopback by another name") << "company.test"
                                                  << "http://127.0.0.1/" << false;
        QTest::newRow("no host") << "company.test"
                                 << "file:///tmp/a.html" << false;
        QTest::newRow("other scheme, same host") << "company.test"
                                                 << "ftp://company.test/" << false;
    }
    void trust()
    {
        QFETCH(QString, serverUrl);
        QFETCH(QString, page);
        QFETCH(bool, trusted);
        TemporaryAppDir appDir;
        configureServer(appDir, serverUrl);

        QCOMPARE(rules->isTrusted(QUrl(page)), trusted);
    }

    void trustFollowsAStoredServer()
    {
        TemporaryAppDir appDir;
        configureServer(appDir, QStringLiteral("old.test"));
        QVERIFY(!rules->isTrusted(QUrl(QStringLiteral("http://new.test/"))));

        ZxJavascript::getInstance()->setConfig(QStringLiteral("server"), QStringLiteral("url"),
                                               QStringLiteral("new.test"));

        QVERIFY(rules->isTrusted(QUrl(QStringLiteral("http://new.test/"))));
        QVERIFY(!rules->isTrusted(QUrl(QStringLiteral("http://old.test/"))));
    }

    void openUrlExtUsesTheSchemeRule_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QUrl>("expected");

        QTest::newRow("bare") << "host/page" << QUrl(QStringLiteral("http://host/page"));
        QTest::newRow("https unchanged") << "https://host/page" << QUrl(QStringLiteral("https://host/page"));
        QTest::newRow("http:// in the query")
                << "https://host/go?to=http://x" << QUrl(QStringLiteral("https://host/go?to=http://x"));
    }
    void openUrlExtUsesTheSchemeRule()
    {
        QFETCH(QString, address);
        QFETCH(QUrl, expected);
        opened.clear();
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openedByDesktop");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openedByDesktop");

        ZxJavascript::getInstance()->openUrlExt(address);

        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(opened, QList<QUrl> { expected });
    }

    // Local files, network shares and registered protocol handlers are not
    // for pages to open.
    void openUrlExtOpensOnlyWebAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("file") << "file:///etc/passwd";
        QTest::newRow("smb") << "smb://server/share/x.xlsx";
        QTest::newRow("ftp") << "ftp://host/file";
        QTest::newRow("custom protocol") << "zxapp://run?x=1";
        QTest::newRow("FILE in capitals") << "FILE:///C:/Windows/win.ini";
    }
    void openUrlExtOpensOnlyWebAddresses()
    {
        QFETCH(QString, address);
        opened.clear();
        const QString scheme = address.left(address.indexOf(QLatin1Char(':'))).toLower();
        QDesktopServices::setUrlHandler(scheme, this, "openedByDesktop");
        QTest::ignoreMessage(QtDebugMsg, "网址语法错误!");

        ZxJavascript::getInstance()->openUrlExt(address);

        QDesktopServices::unsetUrlHandler(scheme);
        QCOMPARE(opened, QList<QUrl>());
    }

    void openUrlExtLogsAnUnusableAddress()
    {
        // No handler: an invalid address is refused before the desktop is asked.
        QTest::ignoreMessage(QtDebugMsg, "网址语法错误!");
        ZxJavascript::getInstance()->openUrlExt(QStringLiteral("http://bad host/"));
    }
};

FENESTRA_TEST_MAIN(TestAddressRules)
#include "tst_addressrules.moc"
