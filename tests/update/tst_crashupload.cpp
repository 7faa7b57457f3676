#include "config/logging.h"
#include "launcher/installstate.h"
#include "logcapture.h"
#include "testhttpserver.h"
#include "update/crashupload.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool writeFile(const QString &path, const QByteArray &content, const QDateTime &modified = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.flush())
        return false;
    return !modified.isValid() || file.setFileTime(modified, QFileDevice::FileModificationTime);
}

// The parts of a multipart/form-data body by name: value, or the file's name and bytes.
struct Part
{
    QByteArray fileName;
    QByteArray content;
};

QHash<QByteArray, Part> partsOf(const TestHttpServer::Request &request)
{
    QHash<QByteArray, Part> parts;
    const QByteArray type = request.header("content-type");
    const qsizetype at = type.indexOf("boundary=");
    if (!type.startsWith("multipart/form-data") || at < 0)
        return parts;
    const QByteArray boundary = "--" + type.mid(at + 9);
    qsizetype from = request.body.indexOf(boundary);
    while (from >= 0) {
        const qsizetype start = from + boundary.size();
        if (request.body.mid(start, 2) == "--")
            break;
        const qsizetype next = request.body.indexOf("\r\n" + boundary, start);
        if (next < 0)
            break;
        const QByteArray part = request.body.mid(start + 2, next - start - 2);
        const qsizetype headerEnd = part.indexOf("\r\n\r\n");
        const QByteArray headers = part.left(headerEnd);
        const auto quoted = [&headers](const QByteArray &key) {
            const qsizetype k = headers.indexOf(key + "=\"");
            if (k < 0)
                return QByteArray();
            const qsizetype begin = k + key.size() + 2;
            return headers.mid(begin, headers.indexOf('"', begin) - begin);
        };
        parts.insert(quoted("name"), Part { quoted("filename"), part.mid(headerEnd + 4) });
        from = next + 2;
    }
    return parts;
}

} // namespace

// The shell sends the launcher's crash dumps to IT's crash server: each once, in
// the form crash servers take, a few a day, and keeps what was not taken.
class TestCrashUpload : public QObject
{
    Q_OBJECT

private:
    TestHttpServer server;
    QTemporaryDir root;
    int answerStatus = 200;

    QString rootFile(const QString &relative) const { return root.filePath(relative); }
    QString dump(const QString &name) const { return rootFile(QStringLiteral("logs/crashes/") + name); }

    // One round as the shell runs it after an update check; the lines it logged.
    QStringList round(const QString &builtIn)
    {
        const LogCapture log(lcUpdate());
        CrashUpload upload(root.path(), QStringLiteral("1.1.0"), builtIn);
        QSignalSpy finished(&upload, &CrashUpload::finished);
        upload.start();
        if (finished.isEmpty() && !finished.wait(20000))
            return { QStringLiteral("no end of the round") };
        return log.lines();
    }

    QList<TestHttpServer::Request> uploads() const { return server.requestsFor("/submit"); }

private Q_SLOTS:
    void initTestCase()
    {
        server.route("/submit", [this](const TestHttpServer::Request &) {
            return TestHttpServer::Response::text(answerStatus == 200 ? "CrashID=bp-123" : "busy",
                                                  "text/plain", answerStatus);
        });
        QVERIFY(server.listen());
    }

    void init()
    {
        QDir(root.path()).removeRecursively();
        QVERIFY(QDir().mkpath(rootFile(QStringLiteral("update"))));
        InstallState::State state;
        state.installationId = "00112233445566778899aabbccddeeff";
        state.current = "1.1.0";
        QVERIFY(InstallState::write(rootFile(QStringLiteral("update/state.ini")).toStdString(), state));
        server.clearRequests();
        answerStatus = 200;
    }

    // Dumps hold page memory: they go only over https, or to this computer.
    void address_data()
    {
        QTest::addColumn<QString>("policy");
        QTest::addColumn<QString>("builtIn");
        QTest::addColumn<QString>("address");
        QTest::newRow("none") << QString() << QString() << QString();
        QTest::newRow("built in") << QString() << "https://crash.example.com/submit"
                                  << "https://crash.example.com/submit";
        QTest::newRow("IT's policy wins") << "https://it.example.com/crash"
                                          << "https://crash.example.com/submit"
                                          << "https://it.example.com/crash";
        QTest::newRow("http to this computer")
                << "http://127.0.0.1:8080/submit" << QString() << "http://127.0.0.1:8080/submit";
        QTest::newRow("http to localhost")
                << "http://localhost/submit" << QString() << "http://localhost/submit";
        QTest::newRow("http across the network")
                << "http://crash.example.com/submit" << QString() << QString();
        QTest::newRow("IT's wrong address is not replaced by the build's")
                << "http://10.0.0.5/submit"
                << "https://crash.example.com/submit" << QString();
        QTest::newRow("a share") << "file:///C:/dumps" << QString() << QString();
        QTest::newRow("a password in it") << "https://u:p@crash.example.com/" << QString() << QString();
        QTest::newRow("no host") << "https:///submit" << QString() << QString();
    }

    void address()
    {
        QFETCH(QString, policy);
        QFETCH(QString, builtIn);
        QFETCH(QString, address);
        QString problem;
        QCOMPARE(CrashUpload::address(policy, builtIn, &problem).toString(), address);
        QCOMPARE(problem.isEmpty(), !address.isEmpty() || (policy.isEmpty() && builtIn.isEmpty()));
    }

    void eachDumpIsSentOnceOldestFirst()
    {
        const QDateTime now = QDateTime::currentDateTime();
        QVERIFY(writeFile(dump(QStringLiteral("1.1.0-b.dmp")), "MDMP second", now.addSecs(-60)));
        // Bytes a multipart body must carry as they are.
        const QByteArray firstDump = QByteArrayLiteral("MDMP first\r\n--x\0y");
        QVERIFY(writeFile(dump(QStringLiteral("1.1.0-a.dmp")), firstDump, now.addSecs(-120)));
        QVERIFY(writeFile(dump(QStringLiteral("last-crash.txt")), "module=x.dll offset=0x10"));
        const QStringList lines = round(server.url(QStringLiteral("/submit")).toString());
        QCOMPARE(uploads().size(), 2);
        const QHash<QByteArray, Part> first = partsOf(uploads().at(0));
        QCOMPARE(first.value("upload_file_minidump").fileName, QByteArray("1.1.0-a.dmp"));
        QCOMPARE(first.value("upload_file_minidump").content, firstDump);
        QCOMPARE(first.value("prod").content, QByteArray("Fenestra"));
        QCOMPARE(first.value("ver").content, QByteArray("1.1.0"));
        QCOMPARE(first.value("guid").content, QByteArray("00112233445566778899aabbccddeeff"));
        QCOMPARE(partsOf(uploads().at(1)).value("upload_file_minidump").content, QByteArray("MDMP second"));
        QVERIFY(uploads().at(0).method == "POST");
        QVERIFY2(lines.contains(QStringLiteral("sent crash dump %1: CrashID=bp-123")
                                        .arg(dump(QStringLiteral("1.1.0-a.dmp")))),
                 qPrintable(lines.join(QLatin1Char('\n'))));
        QVERIFY(CrashUpload::waiting(rootFile(QStringLiteral("logs/crashes"))).isEmpty());
        QVERIFY(QFile::exists(dump(QStringLiteral("last-crash.txt"))));

        round(server.url(QStringLiteral("/submit")).toString());
        QCOMPARE(uploads().size(), 2);
    }

    void notTakenStaysForTheNextRound()
    {
        QVERIFY(writeFile(dump(QStringLiteral("a.dmp")), "MDMP a"));
        answerStatus = 503;
        const QStringList lines = round(server.url(QStringLiteral("/submit")).toString());
        QVERIFY(!lines.filter(QStringLiteral("could not send crash dump")).isEmpty());
        QVERIFY(QFile::exists(dump(QStringLiteral("a.dmp"))));
        answerStatus = 200;
        round(server.url(QStringLiteral("/submit")).toString());
        QVERIFY(!QFile::exists(dump(QStringLiteral("a.dmp"))));
        QCOMPARE(uploads().size(), 2);
    }

    void aFewADayAndNoneTooLarge()
    {
        const QDateTime now = QDateTime::currentDateTime();
        for (int i = 0; i < CrashUpload::maxPerDay + 1; ++i)
            QVERIFY(writeFile(dump(QStringLiteral("%1.dmp").arg(i)), "MDMP", now.addSecs(i - 100)));
        QFile large(dump(QStringLiteral("large.dmp")));
        QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(CrashUpload::maxDumpBytes + 1));
        QVERIFY(large.setFileTime(now.addSecs(-1000), QFileDevice::FileModificationTime));
        large.close();
        const QStringList lines = round(server.url(QStringLiteral("/submit")).toString());
        QCOMPARE(uploads().size(), CrashUpload::maxPerDay);
        QVERIFY(QFile::exists(large.fileName()));
        QVERIFY(QFile::exists(dump(QStringLiteral("%1.dmp").arg(CrashUpload::maxPerDay))));
        QVERIFY(lines.contains(QStringLiteral("1 crash dumps wait: %1 were sent today already")
                                       .arg(CrashUpload::maxPerDay)));
        // The next round of the same day sends nothing more.
        round(server.url(QStringLiteral("/submit")).toString());
        QCOMPARE(uploads().size(), CrashUpload::maxPerDay);
        // A ledger that is not ours counts as a full day.
        QVERIFY(writeFile(rootFile(QStringLiteral("logs/crashes/uploads.txt")), "garbage\xff"));
        round(server.url(QStringLiteral("/submit")).toString());
        QCOMPARE(uploads().size(), CrashUpload::maxPerDay + 1);
    }

    void itsPolicyNamesTheServer()
    {
        QVERIFY(writeFile(dump(QStringLiteral("a.dmp")), "MDMP a"));
        QVERIFY(writeFile(rootFile(QStringLiteral("update-policy.ini")),
                          "crash_upload=" + server.url(QStringLiteral("/submit")).toString().toUtf8()
                                  + '\n'));
        round(QString());
        QCOMPARE(uploads().size(), 1);
        QVERIFY(writeFile(dump(QStringLiteral("b.dmp")), "MDMP b"));
        QVERIFY(writeFile(rootFile(QStringLiteral("update-policy.ini")),
                          "crash_upload=http://192.0.2.1/x\n"));
        const QStringList lines = round(server.url(QStringLiteral("/submit")).toString());
        QCOMPARE(uploads().size(), 1);
        QVERIFY(!lines.filter(QStringLiteral("is not an https address")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCrashUpload)
#include "tst_crashupload.moc"
