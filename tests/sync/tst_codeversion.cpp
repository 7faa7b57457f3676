#include "config/config.h"
#include "filesizelimit.h"
#include "logcapture.h"
#include "net/mynetwork.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QDir>
#include <QTcpServer>
#include <QUrlQuery>
#include <QtTest>
#include <QtWebEngineQuick>

#include <sys/stat.h>

namespace {

const QByteArray indexPath = "/appindex/index.php";

// Written by hand, in a layout the program never writes itself, so any save of
// the file shows in its bytes.
QByteArray configDocument(const QString &serverPath, const QString &isDomain, const QString &codeVersion)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!-- kept by hand -->\n"
           "<hallinfo>\n"
           "  <server path=\""
            + serverPath.toHtmlEscaped().toUtf8()
            + "\" url=\"http://10.1.2.3\" hid=\"0\" isoffline=\"0\"/>\n"
              "  <web port=\"8080\"/>\n"
              "  <factory is_domain=\""
            + isDomain.toUtf8() + "\" app_code=\"A7\" code_version=\"" + codeVersion.toUtf8()
            + "\"/>\n"
              "</hallinfo>\n";
}

TestHttpServer::Response jsonReply(const QByteArray &body, int status = 200)
{
    return TestHttpServer::Response::text(body, "application/json; charset=utf-8", status);
}

QStringList tempLeftovers(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    names.removeAll(QStringLiteral("config.dll"));
    return names;
}

// Identifies the file behind `path`: a save gives config.dll a new one, as
// the new content takes the old file's place.
ino_t fileId(const QString &path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

} // namespace

class TestCodeVersion : public QObject
{
    Q_OBJECT

private:
    Config *config = Config::getInstance();
    TestHttpServer index;

    void useIndexAt(const QString &address)
    {
        MyNetwork::getInstance(QStringLiteral("app_index"))->setBaseUrl(address);
    }

    void start(const TemporaryAppDir &dir, const QByteArray &document)
    {
        QVERIFY(dir.write(QStringLiteral("config.dll"), document));
        config->loadConfig();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(index.listen()); }

    void init()
    {
        index.clearRequests();
        index.route(indexPath, jsonReply("{\"return\":1}"));
        useIndexAt(index.url(QString::fromLatin1(indexPath)).toString());
    }

    void request_data()
    {
        QTest::addColumn<QString>("serverPath");
        QTest::addColumn<QByteArray>("query"); // empty: no request at all

        QTest::newRow("not configured") << "register" << QByteArray();
        QTest::newRow("Register is a path")
                << "Register" << QByteArray("r=register/codeVersion&server_path=Register");
        QTest::newRow("ordinary path")
                << "acme-01_Branch.2" << QByteArray("r=register/codeVersion&server_path=acme-01_Branch.2");
        QTest::newRow("space") << "my shop" << QByteArray("r=register/codeVersion&server_path=my%20shop");
        QTest::newRow("ampersand and hash")
                << "a&b=c#d" << QByteArray("r=register/codeVersion&server_path=a%26b%3Dc%23d");
        QTest::newRow("plus and percent")
                << "x+y%41" << QByteArray("r=register/codeVersion&server_path=x%2By%2541");
        QTest::newRow("chinese") << QString::fromUtf8("门窗")
                                 << QByteArray("r=register/codeVersion&server_path=%E9%97%A8%E7%AA%97");
        QTest::newRow("empty") << "" << QByteArray("r=register/codeVersion&server_path=");
    }

    void request()
    {
        QFETCH(QString, serverPath);
        QFETCH(QByteArray, query);
        TemporaryAppDir dir;
        const QByteArray document = configDocument(serverPath, QStringLiteral("0"), QStringLiteral("v1"));
        start(dir, document);

        LogCapture messages;
        config->checkCodeVersion();

        const QList<TestHttpServer::Request> requests = index.requests();
        if (query.isEmpty()) {
            QVERIFY(requests.isEmpty());
            QVERIFY(messages.lines().isEmpty());
        } else {
            QCOMPARE(requests.size(), 1);
            QCOMPARE(requests[0].method, QByteArray("GET"));
            QCOMPARE(requests[0].target, indexPath + '?' + query);
            QCOMPARE(messages.lines(),
                     QStringList { "runcmd http: " + index.url(QString::fromLatin1(indexPath)).toString()
                                   + '?' + QString::fromLatin1(query) });

            // What the service reads back: two parameters, the path whole.
            const QUrlQuery received(QString::fromLatin1(query));
            QCOMPARE(received.queryItems().size(), 2);
            QCOMPARE(received.queryItemValue(QStringLiteral("r")), QStringLiteral("register/codeVersion"));
            QCOMPARE(received.queryItemValue(QStringLiteral("server_path"), QUrl::FullyDecoded), serverPath);
        }
        QCOMPARE(dir.read(QStringLiteral("config.dll")), document);
    }

    // What a reply body says is tst_codeversionreply's table; these rows follow
    // the reply from the service to the file: read whatever the status, stored
    // only when it changes the file.
    void reply_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("written");
        QTest::addColumn<QString>("isDomain");
        QTest::addColumn<QString>("codeVersion");

        // The file holds is_domain "0" and code_version "v1".
        const QByteArray v2 = "\"data\":{\"is_domain\":\"1\",\"code_version\":\"v2\"}";
        QTest::newRow("return 0") << "{\"return\":0," + v2 + "}" << 200 << true << "1"
                                  << "v2";
        QTest::newRow("return 1") << "{\"return\":1," + v2 + "}" << 200 << false << ""
                                  << "";
        QTest::newRow("non-ASCII version")
                << QString::fromUtf8(
                           "{\"return\":0,\"data\":{\"is_domain\":\"0\",\"code_version\":\"版本2\"}}")
                           .toUtf8()
                << 200 << true << "0" << QString::fromUtf8("版本2");
        QTest::newRow("equal values")
                << QByteArray("{\"return\":0,\"data\":{\"is_domain\":\"0\",\"code_version\":\"v1\"}}") << 200
                << false << ""
                << "";
        QTest::newRow("equal values, number for text")
                << QByteArray("{\"return\":0,\"data\":{\"is_domain\":0,\"code_version\":\"v1\"}}") << 200
                << false << ""
                << "";
        QTest::newRow("html error page")
                << QByteArray("<html><body><h1>502 Bad Gateway</h1></body></html>") << 502 << false << ""
                << "";
        QTest::newRow("error status with a JSON body") << "{\"return\":0," + v2 + "}" << 500 << true << "1"
                                                       << "v2";
    }

    void reply()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(bool, written);
        QFETCH(QString, isDomain);
        QFETCH(QString, codeVersion);

        TemporaryAppDir dir;
        const QByteArray document =
                configDocument(QStringLiteral("acme"), QStringLiteral("0"), QStringLiteral("v1"));
        start(dir, document);
        index.route(indexPath,
                    body.startsWith('<') ? TestHttpServer::Response::html(body, status)
                                         : jsonReply(body, status));

        config->checkCodeVersion();
        QCOMPARE(index.requests().size(), 1);

        if (!written) {
            QCOMPARE(dir.read(QStringLiteral("config.dll")), document);
            return;
        }
        QCOMPARE(config->getAttr(QStringLiteral("factory"), QStringLiteral("is_domain")), isDomain);
        QCOMPARE(config->getAttr(QStringLiteral("factory"), QStringLiteral("code_version")), codeVersion);
        // Everything else in the file stays as it was.
        QCOMPARE(config->getAttr(QStringLiteral("factory"), QStringLiteral("app_code")),
                 QStringLiteral("A7"));
        QCOMPARE(config->getAttr(QStringLiteral("server"), QStringLiteral("path")), QStringLiteral("acme"));
        QCOMPARE(config->getAttr(QStringLiteral("server"), QStringLiteral("url")),
                 QStringLiteral("http://10.1.2.3"));
        QCOMPARE(config->getAttr(QStringLiteral("web"), QStringLiteral("port")), QStringLiteral("8080"));
        QVERIFY(dir.read(QStringLiteral("config.dll")).contains("<!-- kept by hand -->"));
        QVERIFY(tempLeftovers(dir.path()).isEmpty());
    }

    void savesIsDomainThenCodeVersion_data()
    {
        // The file holds is_domain "0" and code_version "v1"; the limit lets one
        // value grow by up to 60 characters.
        QTest::addColumn<QString>("newIsDomain");
        QTest::addColumn<QString>("newCodeVersion");
        QTest::newRow("both differ") << QStringLiteral("0") + QString(40, QLatin1Char('d'))
                                     << QStringLiteral("v1") + QString(40, QLatin1Char('c'));
        QTest::newRow("only code_version differs")
                << QStringLiteral("0") << QStringLiteral("v1") + QString(80, QLatin1Char('c'));
    }

    // A changed answer goes to the file as two saves, is_domain first, even when
    // is_domain keeps its value. A size limit that the file with both new values
    // exceeds stops the sequence half-way: the file then shows that is_domain was
    // saved on its own, and before code_version (a code_version saved first would
    // have fitted, and is_domain then failed).
    void savesIsDomainThenCodeVersion()
    {
        QFETCH(QString, newIsDomain);
        QFETCH(QString, newCodeVersion);
        TemporaryAppDir dir;
        const QString file = dir.filePath(QStringLiteral("config.dll"));
        start(dir, configDocument(QStringLiteral("acme"), QStringLiteral("0"), QStringLiteral("v1")));
        // Brings the file to the program's own layout, so sizes can be reckoned.
        config->setAttr(QStringLiteral("factory"), QStringLiteral("is_domain"), QStringLiteral("0"));
        const qint64 before = QFileInfo(file).size();
        const ino_t replacedFile = fileId(file);

        index.route(indexPath,
                    jsonReply("{\"return\":0,\"data\":{\"is_domain\":\"" + newIsDomain.toLatin1()
                              + "\",\"code_version\":\"" + newCodeVersion.toLatin1() + "\"}}"));
        {
            const FileSizeLimit limit(rlim_t(before + 60));
            config->checkCodeVersion();
        }
        QVERIFY(fileId(file) != replacedFile);
        QCOMPARE(config->getAttr(QStringLiteral("factory"), QStringLiteral("is_domain")), newIsDomain);
        QCOMPARE(config->getAttr(QStringLiteral("factory"), QStringLiteral("code_version")),
                 QStringLiteral("v1"));
        QVERIFY(tempLeftovers(dir.path()).isEmpty());

        // Without the limit the same answer completes both saves.
        config->checkCodeVersion();
        QCOMPARE(config->getAttr(QStringLiteral("factory"), QStringLiteral("is_domain")), newIsDomain);
        QCOMPARE(config->getAttr(QStringLiteral("factory"), QStringLiteral("code_version")), newCodeVersion);
    }

    // However the service behaves, the check ends ten seconds after sending, and
    // a reply of more than 1 MiB is no answer.
    void unboundedRepliesAreNoAnswer_data()
    {
        QTest::addColumn<bool>("padded");
        QTest::addColumn<int>("delivery");
        QTest::addColumn<bool>("sendContentLength");

        QTest::newRow("trickling, one byte a second")
                << false << int(TestHttpServer::Response::Delivery::Drip) << true;
        QTest::newRow("more than 1 MiB, announced")
                << true << int(TestHttpServer::Response::Delivery::Whole) << true;
        QTest::newRow("more than 1 MiB, unannounced")
                << true << int(TestHttpServer::Response::Delivery::Whole) << false;
    }

    void unboundedRepliesAreNoAnswer()
    {
        QFETCH(bool, padded);
        QFETCH(int, delivery);
        QFETCH(bool, sendContentLength);
        TemporaryAppDir dir;
        const QByteArray document =
                configDocument(QStringLiteral("acme"), QStringLiteral("0"), QStringLiteral("v1"));
        start(dir, document);
        // A valid answer: cut anywhere it is none, read whole it would be stored.
        const QByteArray answer =
                "{\"return\":0,\"data\":{\"is_domain\":\"1\",\"code_version\":\"v2\"},\"pad\":\""
                + QByteArray(padded ? 1024 * 1024 : 0, 'x') + "\"}";
        TestHttpServer::Response reply = jsonReply(answer);
        reply.delivery = TestHttpServer::Response::Delivery(delivery);
        reply.sendContentLength = sendContentLength;
        reply.dripChunk = 1;
        reply.dripIntervalMs = 1000; // the whole answer would take a minute
        index.route(indexPath, reply);

        QElapsedTimer clock;
        clock.start();
        config->checkCodeVersion();
        const qint64 took = clock.elapsed();

        QCOMPARE(dir.read(QStringLiteral("config.dll")), document);
        QVERIFY2(took < 12000, qPrintable(QStringLiteral("the check took %1 ms").arg(took)));
        // Qt may send an abandoned request once more on a new connection; let
        // it end here, so that the next case counts only its own requests.
        QTRY_COMPARE_WITH_TIMEOUT(index.openConnections(), 0, 5000);
    }

    // A file that cannot be parsed reads as an empty path; the question is still
    // asked, and the answer cannot be stored.
    void unreadableFileAsksWithEmptyPath()
    {
        TemporaryAppDir dir;
        QVERIFY(dir.write(QStringLiteral("config.dll"), "<hallinfo><server path=\"acme\""));
        index.route(indexPath,
                    jsonReply("{\"return\":0,\"data\":{\"is_domain\":\"1\",\"code_version\":\"v2\"}}"));

        config->checkCodeVersion();
        QCOMPARE(index.requests().size(), 1);
        QCOMPARE(index.requests()[0].target, indexPath + "?r=register/codeVersion&server_path=");
        QCOMPARE(dir.read(QStringLiteral("config.dll")), QByteArray("<hallinfo><server path=\"acme\""));
    }

    void unreachableServiceChangesNothing()
    {
        TemporaryAppDir dir;
        const QByteArray document =
                configDocument(QStringLiteral("acme"), QStringLiteral("0"), QStringLiteral("v1"));
        start(dir, document);
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        useIndexAt(QStringLiteral("127.0.0.1:%1/appindex/index.php").arg(port));

        LogCapture messages;
        config->checkCodeVersion();
        QCOMPARE(messages.lines(),
                 QStringList { QStringLiteral("runcmd http: http://127.0.0.1:%1/appindex/index.php"
                                              "?r=register/codeVersion&server_path=acme")
                                       .arg(port) });
        QCOMPARE(dir.read(QStringLiteral("config.dll")), document);
    }
};

FENESTRA_TEST_MAIN(TestCodeVersion)
#include "tst_codeversion.moc"
