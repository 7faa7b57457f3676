#include "config/appdir.h"
#include "config/config.h"
#include "config/deployment.h"
#include "filesizelimit.h"
#include "logcapture.h"
#include "testenvironment.h"

#include <QApplication>
#include <QDir>
#include <QDomDocument>
#include <QFileInfo>
#include <QSaveFile>
#include <QtTest>
#include <QtWebEngineQuick>

#ifdef Q_OS_LINUX
#include <sys/fsuid.h>
#include <unistd.h>
#endif

namespace {

const QByteArray defaultDocument = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                   "<hallinfo>\n"
                                   "    <server url=\"http://signup.test/client-register/register-company\" "
                                   "hid=\"0\" isoffline=\"0\" path=\"register\"/>\n"
                                   "    <backup url=\"\" path=\"\" company=\"\"/>\n"
                                   "    <db port=\"7878\" name=\"mini_alum\"/>\n"
                                   "    <web port=\"80\"/>\n"
                                   "    <app name=\"\" version=\"\" type=\"\"/>\n"
                                   "    <factory code_version=\"\" app_code=\"\" is_domain=\"\"/>\n"
                                   "</hallinfo>\n";

QStringList childTags(const QByteArray &xml)
{
    QDomDocument document;
    document.setContent(xml);
    QStringList tags;
    for (QDomElement e = document.documentElement().firstChildElement(); !e.isNull();
         e = e.nextSiblingElement())
        tags << e.tagName();
    return tags;
}

QStringList leftoverFiles(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    names.removeAll(QStringLiteral("config.dll"));
    return names;
}

#ifdef Q_OS_LINUX
// While it lives, file access of this thread is checked as for the user
// "nobody", also when the tests run as root.
class UnprivilegedFiles
{
public:
    UnprivilegedFiles() : m_saved(::setfsuid(65534)) { }
    ~UnprivilegedFiles() { ::setfsuid(m_saved); }

private:
    const int m_saved;
};
#endif

} // namespace

class TestConfig : public QObject
{
    Q_OBJECT

private:
    Config *config = Config::getInstance();

    // Loads `xml` over a known baseline, so that fields that keep their previous
    // value start from the built-in defaults.
    void load(const TemporaryAppDir &dir, const QByteArray &xml)
    {
        QVERIFY(dir.write(QStringLiteral("config.dll"), defaultDocument));
        config->loadConfig();
        QVERIFY(dir.write(QStringLiteral("config.dll"), xml));
        config->loadConfig();
    }

private Q_SLOTS:
    // Runs first, while the object still holds its built-in defaults.
    void firstStartWritesTheDefaults()
    {
        TemporaryAppDir dir;
        config->loadConfig();

        const QByteArray written = dir.read(QStringLiteral("config.dll"));
        QVERIFY(written.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<hallinfo>\n    <server "));
        QVERIFY(!written.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(childTags(written), QStringList({ "server", "backup", "db", "web", "app", "factory" }));
        QCOMPARE(config->getAttr("server", "url"), Deployment::signUpAddress());
        QCOMPARE(config->getAttr("server", "path"), QStringLiteral("register"));
        QCOMPARE(config->getAttr("db", "name"), QStringLiteral("mini_alum"));
        QCOMPARE(config->getAttr("db", "port"), QStringLiteral("7878"));
        QCOMPARE(config->getAttr("web", "port"), QStringLiteral("80"));
        QVERIFY(written.contains("<factory ") && written.contains("code_version=\"\"")
                && written.contains("is_domain=\"\"") && written.contains("app_code=\"\""));
        QCOMPARE(config->getUrl(), Deployment::signUpAddress());
        QVERIFY(leftoverFiles(dir.path()).isEmpty());
    }

    void startAddress_data()
    {
        QTest::addColumn<QByteArray>("elements");
        QTest::addColumn<int>("val");
        QTest::addColumn<QString>("expected");

        const QByteArray server = "<server url=\"http://10.0.0.5\" path=\"abc\"/><web port=\"8080\"/>";
        QTest::newRow("path form") << server + "<factory code_version=\"c12\"/>" << 0
                                   << "http://10.0.0.5:8080/abc/c12/";
        QTest::newRow("path form, val 1")
                << server + "<factory code_version=\"c12\"/>" << 1 << "http://10.0.0.5:8080/abc/c12";
        QTest::newRow("domain form") << server + "<factory code_version=\"c12\" is_domain=\"1\"/>" << 0
                                     << "http://10.0.0.5:8080/c12/";
        QTest::newRow("domain form, val 1") << server + "<factory code_version=\"c12\" is_domain=\"1\"/>" << 1
                                            << "http://10.0.0.5:8080/c12/";
        QTest::newRow("domain form, no version")
                << server + "<factory is_domain=\"1\"/>" << 0 << "http://10.0.0.5:8080/";
        QTest::newRow("is_domain not a number")
                << server + "<factory code_version=\"c12\" is_domain=\"yes\"/>" << 0
                << "http://10.0.0.5:8080/abc/c12/";
        QTest::newRow("app version") << server + "<factory code_version=\"c12\"/><app version=\"v3\"/>" << 0
                                     << "http://10.0.0.5:8080/abc/c12/v3/";
        QTest::newRow("register wins over domain form")
                << QByteArray("<server url=\"http://x.test/s\" path=\"register\"/><factory is_domain=\"1\" "
                              "code_version=\"c\"/>")
                << 0 << "http://x.test/s";
        QTest::newRow("Register is a server path")
                << QByteArray("<server url=\"http://x.test\" path=\"Register\"/>") << 1
                << "http://x.test:80/Register";
        QTest::newRow("no path attribute")
                << QByteArray("<server url=\"http://x.test\"/>") << 0 << "http://x.test:80/";
        QTest::newRow("url ending in a slash")
                << QByteArray("<server url=\"http://x.test/\" path=\"p\"/>") << 0 << "http://x.test/:80/p/";
        QTest::newRow("percent signs stay as they are")
                << QByteArray("<server url=\"http://x.test/%2a%3\" path=\"p%1\"/>") << 0
                << "http://x.test/%2a%3:80/p%1/";
    }

    void startAddress()
    {
        QFETCH(QByteArray, elements);
        QFETCH(int, val);
        QFETCH(QString, expected);

        TemporaryAppDir dir;
        load(dir, "<hallinfo>" + elements + "</hallinfo>");
        QCOMPARE(config->getUrl(val), expected);
    }

    void readingRules_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("expected");

        QTest::newRow("port 0 keeps 80") << QByteArray("<web port=\"0\"/>") << "http://h.test:80/p/";
        QTest::newRow("port -5 keeps 80") << QByteArray("<web port=\"-5\"/>") << "http://h.test:80/p/";
        QTest::newRow("port abc keeps 80") << QByteArray("<web port=\"abc\"/>") << "http://h.test:80/p/";
        QTest::newRow("port 81") << QByteArray("<web port=\"81\"/>") << "http://h.test:81/p/";
        QTest::newRow("other tags and letter case are ignored")
                << QByteArray("<Web port=\"81\"/><web><port>82</port></web><!-- x --><other port=\"83\"/>")
                << "http://h.test:80/p/";
        QTest::newRow("the last server element wins, absent attributes included")
                << QByteArray("<server url=\"http://other.test\" path=\"q\"/><server url=\"http://h.test\"/>")
                << "http://h.test:80/";
    }

    void readingRules()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, expected);

        TemporaryAppDir dir;
        load(dir, "<anyroot><server url=\"http://h.test\" path=\"p\"/>" + xml + "</anyroot>");
        QCOMPARE(config->getUrl(), expected);
    }

    void databaseFieldsAreCarried()
    {
        TemporaryAppDir dir;
        load(dir,
             "<hallinfo><db port=\"0\" name=\"\"/><server hid=\"x\" isoffline=\"3\" path=\"p\"/></hallinfo>");
        QFile::remove(dir.filePath("config.dll"));
        config->loadConfig(); // written anew from the fields

        QCOMPARE(config->getAttr("db", "port"), QStringLiteral("7878"));
        QCOMPARE(config->getAttr("db", "name"), QStringLiteral("mini_alum"));
        QCOMPARE(config->getAttr("server", "hid"), QStringLiteral("0"));
        QCOMPARE(config->getAttr("server", "isoffline"), QStringLiteral("3"));
        QVERIFY(!dir.read("config.dll").contains("<site"));
    }

    void unreadableFilesAreLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not well-formed") << QByteArray("<hallinfo><server path='x'></hallinfo>");
        QTest::newRow("empty") << QByteArray();
    }

    void unreadableFilesAreLeftAlone()
    {
        QFETCH(QByteArray, content);

        TemporaryAppDir dir;
        load(dir, "<hallinfo><server url=\"http://h.test\" path=\"p\"/></hallinfo>");
        QVERIFY(dir.write("config.dll", content));

        config->loadConfig();
        QCOMPARE(config->getUrl(), QStringLiteral("http://h.test:80/p/"));
        config->setAttr("server", "path", "changed");
        QCOMPARE(dir.read("config.dll"), content);
        QCOMPARE(config->getAttr("server", "url"), QString());
    }

    void setAttrChangesOneAttribute()
    {
        TemporaryAppDir dir;
        load(dir, defaultDocument);
        config->setAttr("server", "path", "company7");

        QCOMPARE(config->getAttr("server", "path"), QStringLiteral("company7"));
        QCOMPARE(config->getAttr("server", "hid"), QStringLiteral("0"));
        QCOMPARE(config->getAttr("server", "url"),
                 QStringLiteral("http://signup.test/client-register/register-company"));
        QCOMPARE(config->getUrl(),
                 QStringLiteral("http://signup.test/client-register/register-company:80/company7/"));
        QCOMPARE(childTags(dir.read("config.dll")),
                 QStringList({ "server", "backup", "db", "web", "app", "factory" }));
    }

    void setAttrKeepsTheRestOfTheFile()
    {
        TemporaryAppDir dir;
        load(dir,
             "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<root>\n  <!-- note -->\n"
             "  <server url=\"http://h.test\" path=\"p\"/>\n  <server path=\"second\"/>\n</root>\n");
        config->setAttr("server", "url", "http://new.test");
        config->setAttr("extra", "key", "value");

        const QByteArray written = dir.read("config.dll");
        QVERIFY(written.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n"
                                   "    <!-- note -->\n    <server "));
        QVERIFY(written.endsWith("    <server path=\"second\"/>\n    <extra key=\"value\"/>\n</root>\n"));
        QCOMPARE(childTags(written), QStringList({ "server", "server", "extra" }));
        // The first server element changed, the last one is what was read.
        QCOMPARE(config->getAttr("server", "url"), QStringLiteral("http://new.test"));
        QCOMPARE(config->getUrl(), QStringLiteral(":80/second/"));
        QCOMPARE(config->getAttr("extra", "key"), QStringLiteral("value"));
    }

    void valuesSurviveEscaping()
    {
        TemporaryAppDir dir;
        load(dir, defaultDocument);
        const QString value = QStringLiteral("a<b & \"c\" 'd' >e 门窗");
        config->setAttr("backup", "company", value);
        QCOMPARE(config->getAttr("backup", "company"), value);

        config->setAttr("web", "port", "0"); // stored, but not taken
        QCOMPARE(config->getAttr("web", "port"), QStringLiteral("0"));
        config->setAttr("server", "path", "p");
        QCOMPARE(config->getUrl(),
                 QStringLiteral("http://signup.test/client-register/register-company:80/p/"));
    }

    // setAttr stores only what it can read back; anything else leaves the file
    // byte for byte and the fields as they were, and says what it refused.
    void onlyStorableNamesAndValuesAreWritten_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("attr");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("stored");

        const QString ok = QStringLiteral("v");
        QTest::newRow("space in the element") << "a b"
                                              << "x" << ok << false;
        QTest::newRow("element starts with a digit") << "1x"
                                                     << "x" << ok << false;
        QTest::newRow("quote in the element") << "q\"x"
                                              << "x" << ok << false;
        QTest::newRow("equals sign in the attribute") << "server"
                                                      << "x=y" << ok << false;
        QTest::newRow("colon in the attribute") << "server"
                                                << "a:b" << ok << false;
        QTest::newRow("empty attribute") << "server"
                                         << "" << ok << false;
        QTest::newRow("null attribute") << "server" << QString() << ok << false;
        QTest::newRow("empty element") << ""
                                       << "x" << ok << false;
        QTest::newRow("NUL in the value") << "server"
                                          << "path" << QStringLiteral("a") + QChar(0) + "b" << false;
        QTest::newRow("U+0001 in the value") << "server"
                                             << "path" << QStringLiteral("v\u0001") << false;
        QTest::newRow("ESC in the value") << "server"
                                          << "path" << QStringLiteral("\u001b[0m") << false;
        QTest::newRow("U+FFFF in the value") << "server"
                                             << "path" << QStringLiteral("v\uffff") << false;
        QTest::newRow("lone surrogate in the value") << "server"
                                                     << "path" << QString(QChar(0xD800)) << false;

        QTest::newRow("dotted names") << "my.server"
                                      << "url.v2" << ok << true;
        QTest::newRow("Chinese names") << QStringLiteral("服务器") << QStringLiteral("地址") << ok << true;
        QTest::newRow("underscores") << "_factory"
                                     << "app_code" << ok << true;
        QTest::newRow("markup characters") << "server"
                                           << "path"
                                           << "<a href=\"x\">&amp;</a> 'q'" << true;
        QTest::newRow("CDATA end") << "server"
                                   << "path"
                                   << "]]>" << true;
        QTest::newRow("tab, line break, carriage return") << "server"
                                                          << "path"
                                                          << "a\tb\nc\rd" << true;
        QTest::newRow("outside the BMP") << "server"
                                         << "path" << QStringLiteral("门\U0001F600") << true;
        QTest::newRow("long value") << "server"
                                    << "path" << QString(200000, QLatin1Char('x')) << true;
    }

    void onlyStorableNamesAndValuesAreWritten()
    {
        QFETCH(QString, name);
        QFETCH(QString, attr);
        QFETCH(QString, value);
        QFETCH(bool, stored);
        TemporaryAppDir dir;
        load(dir, defaultDocument);
        const QByteArray before = dir.read("config.dll");
        const QString url = config->getUrl();
        LogCapture log;

        config->setAttr(name, attr, value);

        if (!stored) {
            QCOMPARE(dir.read("config.dll"), before);
            QCOMPARE(config->getUrl(), url);
            QCOMPARE(log.lines().size(), 1);
            QVERIFY2(log.lines().first().contains(QStringLiteral("config.dll unchanged")),
                     qPrintable(log.lines().first()));
            config->setAttr("server", "path", "still-writable");
            QCOMPARE(config->getAttr("server", "path"), QStringLiteral("still-writable"));
            return;
        }
        QCOMPARE(config->getAttr(name, attr), value);
        config->setAttr("backup", "company", "next"); // the file is still readable and writable
        QCOMPARE(config->getAttr(name, attr), value);
        QCOMPARE(config->getAttr("backup", "company"), QStringLiteral("next"));
    }

    // A killed write leaves its staged file, or QSaveFile's temporary file beside
    // that; the next start and the next write remove them, and nothing else: IT
    // keeps its own copies beside config.dll.
    void onlyTheShellsLeftoversAreRemoved_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("removed");

        for (const char *name : { "config.dll.backup", "config.dll.201406", "config.dll.orig01",
                                  "config.dll.a1B2c3", "config.dll.bak", "config.dll.fenestra-tmp.1234567" })
            QTest::newRow(name) << QString::fromLatin1(name) << false;
        QTest::newRow("staged, before its rename") << QStringLiteral("config.dll.fenestra-tmp") << true;
        QTest::newRow("staged, half written") << QStringLiteral("config.dll.fenestra-tmp.Zz9yX8") << true;
    }
    void onlyTheShellsLeftoversAreRemoved()
    {
        QFETCH(QString, name);
        QFETCH(bool, removed);
        TemporaryAppDir dir;
        load(dir, defaultDocument);
        const QByteArray copy = "<hallinfo><server url=\"http://old.test\" path=\"p\"/>";

        QVERIFY(dir.write(name, copy));
        config->loadConfig();
        QCOMPARE(QFileInfo::exists(dir.filePath(name)), !removed);
        QCOMPARE(dir.read("config.dll"), defaultDocument);

        QVERIFY(dir.write(name, copy));
        config->setAttr("server", "path", "company7");
        QCOMPARE(config->getAttr("server", "path"), QStringLiteral("company7"));
        QCOMPARE(leftoverFiles(dir.path()), removed ? QStringList() : QStringList { name });
        if (!removed)
            QCOMPARE(dir.read(name), copy);
        QFile::remove(dir.filePath(name));
    }

#ifdef Q_OS_LINUX
    // No new file can be made in the folder, but config.dll itself is writable:
    // the change is written in place rather than lost.
    void writableFileInAClosedFolderIsWrittenInPlace()
    {
        TemporaryAppDir dir;
        load(dir, defaultDocument);
        const QString path = dir.filePath("config.dll");
        QFile::setPermissions(path,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup
                                      | QFile::ReadOther | QFile::WriteOther);
        QFile::setPermissions(dir.path(),
                              QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
                                      | QFile::ReadOther | QFile::ExeOther);
        {
            UnprivilegedFiles unprivileged; // root would create files anyway
            QVERIFY(!QFile(dir.filePath("probe")).open(QIODevice::WriteOnly));
            config->setAttr("server", "path", "company7");
        }
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QCOMPARE(config->getAttr("server", "path"), QStringLiteral("company7"));
        QCOMPARE(config->getUrl(),
                 QStringLiteral("http://signup.test/client-register/register-company:80/company7/"));
        QCOMPARE(leftoverFiles(dir.path()), QStringList());
    }
#endif

    void setAttrNeverCreatesTheFile()
    {
        TemporaryAppDir dir;
        config->setAttr("server", "path", "p");
        QVERIFY(!QFileInfo::exists(dir.filePath("config.dll")));
    }

    // The launcher starts a version from below the installation's root; config.dll
    // and every folder stay at the root. Anything else keeps its own folder.
    void installedShellUsesTheInstallationRoot_data()
    {
#ifdef Q_OS_WIN
        const QString exe = QStringLiteral("/versions/1.1.0");
#else
        const QString exe = QStringLiteral("/versions/1.1.0/bin");
#endif
        QTest::addColumn<QString>("executableFolder");
        QTest::addColumn<bool>("stateFile");
        QTest::addColumn<QString>("expectedPath");
        QTest::addColumn<QString>("expectedVersion");
        QTest::newRow("installed") << exe << true << QString() << "1.1.0";
        QTest::newRow("no state file") << exe << false << exe << "";
        QTest::newRow("not below versions")
                << QStringLiteral("/other/1.1.0/bin") << true << QStringLiteral("/other/1.1.0/bin") << "";
        QTest::newRow("build folder") << QStringLiteral("/build") << true << QStringLiteral("/build") << "";
    }

    void installedShellUsesTheInstallationRoot()
    {
        QFETCH(QString, executableFolder);
        QFETCH(bool, stateFile);
        QFETCH(QString, expectedPath);
        QFETCH(QString, expectedVersion);
        // A folder name with a space, as under Windows' Programs.
        QTemporaryDir temp;
        const QString root = temp.filePath(QStringLiteral("Fenestra 1"));
        QVERIFY(QDir().mkpath(root + executableFolder));
        if (stateFile) {
            QVERIFY(QDir().mkpath(root + QStringLiteral("/update")));
            QFile state(root + QStringLiteral("/update/state.ini"));
            QVERIFY(state.open(QIODevice::WriteOnly));
        }
        const AppDir::Location location = AppDir::locate(root + executableFolder);
        QCOMPARE(location.path, root + expectedPath);
        QCOMPARE(location.version, expectedVersion);
    }

    void unusableApplicationDirectory()
    {
        TemporaryAppDir dir;
        load(dir, "<hallinfo><server url=\"http://h.test\" path=\"p\"/></hallinfo>");
        QVERIFY(dir.write("blocker", "a file where a folder should be"));
        AppDir::setPath(dir.filePath("blocker/app"));

        config->loadConfig(); // cannot create the file: the fields stay
        QCOMPARE(config->getUrl(), QStringLiteral("http://h.test:80/p/"));
        QCOMPARE(config->getAttr("server", "url"), QString());
        AppDir::setPath(dir.path());
    }

    void readOnlyFileIsNotReplaced()
    {
        TemporaryAppDir dir;
        load(dir, defaultDocument);
        const QString path = dir.filePath("config.dll");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        if (QFileInfo(path).isWritable()) {
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
            QSKIP("Permissions do not bind this user (root).");
        }

        config->setAttr("server", "path", "p");
        QCOMPARE(dir.read("config.dll"), defaultDocument);
        QCOMPARE(config->getUrl(), QStringLiteral("http://signup.test/client-register/register-company"));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }

    // A write that breaks off half-way (a full disk) must leave the previous
    // file whole, and nothing else behind.
    void failedWriteKeepsThePreviousFile()
    {
        TemporaryAppDir dir;
        load(dir, defaultDocument);
        const QByteArray before = dir.read("config.dll");
        {
            FileSizeLimit limit(before.size() / 2);
            config->setAttr("backup", "company", QString(4000, QLatin1Char('x')));
        }
        QCOMPARE(dir.read("config.dll"), before);
        QCOMPARE(leftoverFiles(dir.path()), QStringList());
        QCOMPARE(config->getAttr("backup", "company"), QString());

        QFile::remove(dir.filePath("config.dll"));
        {
            FileSizeLimit limit(64);
            config->loadConfig();
        }
        QVERIFY(!QFileInfo::exists(dir.filePath("config.dll")));
        QCOMPARE(leftoverFiles(dir.path()), QStringList());
    }
};

FENESTRA_TEST_MAIN(TestConfig)
#include "tst_config.moc"
