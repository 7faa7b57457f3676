#include "bridge/zxjavascript.h"
#include "config/appdir.h"
#include "filesizelimit.h"
#include "net/filename.h"
#include "net/synservdb.h"
#include "testenvironment.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <QtWebEngineQuick>

#include <climits>
#include <functional>

using Response = TestHttpServer::Response;

namespace {

QByteArray sampleBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + i / 7) & 0xff);
    return bytes;
}

QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

QProgressDialog *visibleProgressDialog()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QProgressDialog *>(widget); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

// Calls `step` again and again from inside the running download until it
// returns true, so that a test can act on the progress window while
// SynServDb::download() waits.
void whileWaiting(std::function<bool()> step)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, step] {
        if (step())
            timer->deleteLater();
    });
    timer->start();
}

Response drip(const QByteArray &body, int chunk, int intervalMs)
{
    Response response = Response::text(body, "application/octet-stream");
    response.delivery = Response::Delivery::Drip;
    response.dripChunk = chunk;
    response.dripIntervalMs = intervalMs;
    return response;
}

} // namespace

class TestSynServDb : public QObject
{
    Q_OBJECT

private:
    TestHttpServer server;
    const QByteArray content = sampleBytes(3 * 1024 * 1024 + 17);

    QString address(const QString &path) const { return server.url(path).toString(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.route("/files/data.bin", Response::text(content, "application/octet-stream"));
        server.route("/callback", Response::text("ok"));
    }

    void init() { server.clearRequests(); }

    void storesTheFileAndReturnsItsPath_data()
    {
        QTest::addColumn<QString>("dstDir");
        QTest::addColumn<QString>("expectedFolder"); // below the application directory unless absolute

        QTest::newRow("empty: default folder") << QString() << QStringLiteral("server/www/src");
        QTest::newRow("relative") << QStringLiteral("downloads/today") << QStringLiteral("downloads/today");
        QTest::newRow("absolute") << QStringLiteral("<absolute>") << QStringLiteral("<absolute>");
    }
    void storesTheFileAndReturnsItsPath()
    {
        QFETCH(QString, dstDir);
        QFETCH(QString, expectedFolder);
        TemporaryAppDir appDir;
        QTemporaryDir elsewhere;
        if (dstDir == QLatin1String("<absolute>"))
            dstDir = expectedFolder = elsewhere.filePath(QStringLiteral("deep/folder"));
        const QString folder = QDir(appDir.path()).filePath(expectedFolder);

        SynServDb download(QStringLiteral("data.bin"));
        const QString result = download.download(address("/files/data.bin"), dstDir, QString());

        QCOMPARE(result, folder + QStringLiteral("/data.bin"));
        QFile stored(result);
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY(stored.readAll() == content);
        QCOMPARE(filesBelow(folder), QStringList { QStringLiteral("data.bin") });
        QCOMPARE(visibleProgressDialog(), nullptr);
    }

    void replacesAnExistingFileWhole()
    {
        TemporaryAppDir appDir;
        const QByteArray shorter = "new";
        server.route("/files/short.txt", Response::text(shorter));
        QVERIFY(appDir.write(QStringLiteral("server/www/src/short.txt"), QByteArray(5000, 'o')));

        SynServDb download(QStringLiteral("short.txt"));
        QVERIFY(!download.download(address("/files/short.txt"), QString(), QString()).isEmpty());
        QCOMPARE(appDir.read(QStringLiteral("server/www/src/short.txt")), shorter);
    }

    void failedTransferKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("url");

        Response dropped = Response::text(content, "application/octet-stream");
        dropped.delivery = Response::Delivery::DropMidBody;
        server.route("/files/dropped.bin", dropped);

        QTemporaryDir unused;
        QTest::newRow("404") << address("/files/missing.bin");
        QTest::newRow("dropped mid-body") << address("/files/dropped.bin");
        QTest::newRow("refused") << QStringLiteral("http://127.0.0.1:1/data.bin");
    }
    void failedTransferKeepsTheOldFile()
    {
        QFETCH(QString, url);
        TemporaryAppDir appDir;
        const QByteArray old = "the previous version";
        QVERIFY(appDir.write(QStringLiteral("server/www/src/data.bin"), old));

        SynServDb download(QStringLiteral("data.bin"));
        QCOMPARE(download.download(url, QString(), address("/callback")), QString());

        QCOMPARE(appDir.read(QStringLiteral("server/www/src/data.bin")), old);
        QCOMPARE(filesBelow(appDir.path()), QStringList { QStringLiteral("server/www/src/data.bin") });
        QVERIFY(server.requestsFor("/callback").isEmpty());
        QCOMPARE(visibleProgressDialog(), nullptr);
    }

    void cancelInTheProgressWindowStopsTheTransfer()
    {
        TemporaryAppDir appDir;
        const QByteArray old = "kept";
        QVERIFY(appDir.write(QStringLiteral("server/www/src/slow.bin"), old));
        server.route("/files/slow.bin", drip(sampleBytes(2 * 1024 * 1024), 4096, 20)); // ~10 s

        QString titleBeforeCancel;
        QString cancelText;
        int width = 0;
        bool toolWindowOnTop = false;
        whileWaiting([&] {
            QProgressDialog *dialog = visibleProgressDialog();
            if (!dialog || !dialog->windowTitle().startsWith(QStringLiteral("速度：")))
                return false;
            titleBeforeCancel = dialog->windowTitle();
            toolWindowOnTop = dialog->windowFlags().testFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
            width = dialog->width();
            auto *cancel = dialog->findChild<QPushButton *>();
            cancelText = cancel->text();
            QTest::mouseClick(cancel, Qt::LeftButton);
            return true;
        });

        QElapsedTimer elapsed;
        elapsed.start();
        SynServDb download(QStringLiteral("slow.bin"));
        QCOMPARE(download.download(address("/files/slow.bin"), QString(), address("/callback")), QString());

        QVERIFY2(elapsed.elapsed() < 5000, "the transfer ran on after cancel");
        QVERIFY(toolWindowOnTop);
        QVERIFY(QRegularExpression(QStringLiteral("^速度：\\d+KB/sec$")).match(titleBeforeCancel).hasMatch());
        // Qt's own button in the shell's language, and the longest title readable
        // in a bold title font beside an icon and three title-bar buttons.
        QCOMPARE(cancelText, QStringLiteral("取消"));
        QFont titleFont = QFontDatabase::systemFont(QFontDatabase::TitleFont);
        titleFont.setBold(true);
        const QFontMetrics title(titleFont);
        QVERIFY2(width >= title.horizontalAdvance(QStringLiteral("速度：123456KB/sec")) + 4 * title.height(),
                 qPrintable(QString::number(width)));
        QCOMPARE(visibleProgressDialog(), nullptr);
        QTRY_COMPARE(server.openConnections(), 0);
        QCOMPARE(appDir.read(QStringLiteral("server/www/src/slow.bin")), old);
        QCOMPARE(filesBelow(appDir.path()), QStringList { QStringLiteral("server/www/src/slow.bin") });
        QVERIFY(server.requestsFor("/callback").isEmpty());
    }

    void windowIsTitledUntilTheFirstProgressReport()
    {
        TemporaryAppDir appDir;
        Response late = Response::text("late");
        late.delayMs = 300;
        server.route("/files/late.txt", late);

        QStringList titles;
        whileWaiting([&] {
            if (QProgressDialog *dialog = visibleProgressDialog())
                titles << dialog->windowTitle();
            return !titles.isEmpty();
        });
        SynServDb download(QStringLiteral("late.txt"));
        QVERIFY(!download.download(address("/files/late.txt"), QString(), QString()).isEmpty());
        QCOMPARE(titles.value(0), QStringLiteral("下载服务器数据"));
    }

    void speedTitle()
    {
        QCOMPARE(SynServDb::speedTitle(1500000, 3000), QStringLiteral("速度：500KB/sec"));
        QCOMPARE(SynServDb::speedTitle(4321, 0), QStringLiteral("速度：4321KB/sec"));
        QCOMPARE(SynServDb::speedTitle(999, 1000), QStringLiteral("速度：0KB/sec"));
    }

    void progressValuesStayInRange_data()
    {
        QTest::addColumn<qint64>("bytesRead");
        QTest::addColumn<qint64>("totalBytes");

        const qint64 gib = qint64(1) << 30;
        QTest::newRow("small") << qint64(500) << qint64(1000);
        QTest::newRow("3 of 6 GiB") << 3 * gib << 6 * gib;
        QTest::newRow("all of 5 GiB") << 5 * gib << 5 * gib;
        QTest::newRow("just over int") << qint64(INT_MAX) + 1 << qint64(INT_MAX) + 1;
        QTest::newRow("100 GiB of 300") << 100 * gib << 300 * gib;
    }
    void progressValuesStayInRange()
    {
        QFETCH(qint64, bytesRead);
        QFETCH(qint64, totalBytes);

        const auto [value, maximum] = SynServDb::progressValues(bytesRead, totalBytes);
        QVERIFY(maximum > 0);
        QVERIFY(value >= 0 && value <= maximum);
        QVERIFY(qAbs(double(value) / maximum - double(bytesRead) / totalBytes) < 1e-6);
        if (totalBytes <= INT_MAX)
            QCOMPARE(maximum, int(totalBytes));
    }

    void unknownLengthKeepsTheWindowBusy()
    {
        QCOMPARE(SynServDb::progressValues(123456, -1), std::make_pair(123456, 0));
        const auto [value, maximum] = SynServDb::progressValues(qint64(3) << 31, -1);
        QVERIFY(value > 0);
        QCOMPARE(maximum, 0);

        TemporaryAppDir appDir;
        // Long enough for progress reports, which Qt sends at most every 100 ms.
        Response noLength = drip(sampleBytes(64 * 1024), 4096, 25);
        noLength.sendContentLength = false;
        server.route("/files/nolength.bin", noLength);
        bool stayedOpen = false;
        whileWaiting([&] {
            QProgressDialog *dialog = visibleProgressDialog();
            if (dialog && dialog->windowTitle().startsWith(QStringLiteral("速度：")))
                stayedOpen = dialog->maximum() == 0;
            return stayedOpen;
        });
        SynServDb download(QStringLiteral("nolength.bin"));
        QVERIFY(!download.download(address("/files/nolength.bin"), QString(), QString()).isEmpty());
        QVERIFY(stayedOpen);
        QCOMPARE(appDir.read(QStringLiteral("server/www/src/nolength.bin")), sampleBytes(64 * 1024));
    }

    void callbackOnceAfterTheFileIsStored()
    {
        TemporaryAppDir appDir;
        const QString target = appDir.filePath(QStringLiteral("server/www/src/data.bin"));
        bool storedWhenCalledBack = false;
        server.route("/callback", [&](const TestHttpServer::Request &) {
            QFile stored(target);
            storedWhenCalledBack = stored.open(QIODevice::ReadOnly) && stored.readAll() == content;
            return Response::text("thanks", "text/plain", 500); // its answer must not matter
        });

        SynServDb download(QStringLiteral("data.bin"));
        QCOMPARE(download.download(address("/files/data.bin"), QString(), address("/callback?id=7")), target);
        QCOMPARE(server.requestsFor("/callback").size(), 1);
        QCOMPARE(server.requestsFor("/callback").first().target, QByteArray("/callback?id=7"));
        QVERIFY(storedWhenCalledBack);
        server.route("/callback", Response::text("ok"));
    }

    void storingFailureIsAFailure_data()
    {
        QTest::addColumn<QString>("dstDir");
        QTest::addColumn<QString>("obstacle"); // a file or folder laid in the way
        QTest::addColumn<bool>("asFolder");

        QTest::newRow("folder cannot be made")
                << QStringLiteral("blocked/sub") << QStringLiteral("blocked") << false;
        QTest::newRow("target is a folder") << QStringLiteral("dl") << QStringLiteral("dl/data.bin") << true;
    }
    void storingFailureIsAFailure()
    {
        QFETCH(QString, dstDir);
        QFETCH(QString, obstacle);
        QFETCH(bool, asFolder);
        TemporaryAppDir appDir;
        if (asFolder)
            QVERIFY(QDir().mkpath(appDir.filePath(obstacle + QStringLiteral("/inside"))));
        else
            QVERIFY(appDir.write(obstacle, "a file"));

        SynServDb download(QStringLiteral("data.bin"));
        QCOMPARE(download.download(address("/files/data.bin"), dstDir, address("/callback")), QString());
        QVERIFY(server.requestsFor("/callback").isEmpty());
        QVERIFY(QFileInfo(appDir.filePath(obstacle)).isDir() == asFolder);
    }

    void writeFailureDuringTheTransferKeepsTheOldFile()
    {
        TemporaryAppDir appDir;
        const QByteArray old = "old";
        QVERIFY(appDir.write(QStringLiteral("server/www/src/data.bin"), old));

        QString result = QStringLiteral("not run");
        {
            FileSizeLimit fullDisk(1024 * 1024);
            SynServDb download(QStringLiteral("data.bin"));
            result = download.download(address("/files/data.bin"), QString(), address("/callback"));
        }
        QCOMPARE(result, QString());
        QCOMPARE(appDir.read(QStringLiteral("server/www/src/data.bin")), old);
        QCOMPARE(filesBelow(appDir.path()), QStringList { QStringLiteral("server/www/src/data.bin") });
        QVERIFY(server.requestsFor("/callback").isEmpty());
    }

    void unsafeNamesAreRefusedBeforeAnyRequest_data()
    {
        QTest::addColumn<QString>("fUrl");

        QTest::newRow("ends in /") << address("/files/");
        QTest::newRow("dot") << address("/files/.");
        QTest::newRow("dot dot") << address("/files/..");
        // Appended as text: QUrl would percent-encode these characters.
        QTest::newRow("backslash") << address("/files/") + QStringLiteral("..\\..\\evil.exe");
        QTest::newRow("colon") << address("/files/") + QStringLiteral("c:evil");
        QTest::newRow("line break") << address("/files/") + QStringLiteral("a\nb");
        QTest::newRow("tab") << address("/files/") + QStringLiteral("a\tb");
        QTest::newRow("query in the name") << address("/files/report.pdf?v=2");
        QTest::newRow("device name") << address("/files/aux.txt");
        QTest::newRow("device CON") << address("/files/CON");
        QTest::newRow("device nul") << address("/files/nul");
        QTest::newRow("device com1.log") << address("/files/com1.log");
        QTest::newRow("trailing dot") << address("/files/report.");
    }
    void unsafeNamesAreRefusedBeforeAnyRequest()
    {
        QFETCH(QString, fUrl);
        TemporaryAppDir appDir;

        QCOMPARE(ZxJavascript::getInstance()->downloadFile(fUrl, QStringLiteral("dl"), address("/callback")),
                 QString());
        QCOMPARE(server.requests().size(), 0);
        QVERIFY(QDir(appDir.path()).isEmpty());
    }

    void bridgeNamesTheFileAfterTheLastSlash()
    {
        TemporaryAppDir appDir;
        server.route("/files/2024/report.pdf", Response::text("pdf", "application/pdf"));

        QCOMPARE(ZxJavascript::getInstance()->downloadFile(address("/files/2024/report.pdf"), QString(),
                                                           QString()),
                 appDir.filePath(QStringLiteral("server/www/src/report.pdf")));
        QCOMPARE(appDir.read(QStringLiteral("server/www/src/report.pdf")), QByteArray("pdf"));
    }

    // The names are refused everywhere that Windows cannot store as given, and
    // the renaming that page downloads get always gives one that passes.
    void portableNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("portable");

        for (const char *name :
             { "<",          ">",    "a\"b",     "a|b",  "a?b",    "a*b",      "a\x01b", "a\x7f", "a.",
               "a ",         "a. ",  ".",        "..",   "",       "CON",      "con",    "Nul",   "aux.txt",
               "PRN.tar.gz", "com1", "COM9.log", "lpt1", "Lpt9.x", "CON .txt", "a/b",    "a\\b",  "c:x" })
            QTest::newRow(name) << QString::fromLatin1(name) << false;
        QTest::newRow("COM superscript one") << QStringLiteral("COM\u00b9") << false;
        QTest::newRow("lone surrogate") << QString(QChar(0xDC00)) << false;
        for (const char *name : { "report.pdf", "CONSOLE.txt", "com10", "com0", "lpt", "nul-report.txt",
                                  ".hidden", "a.b.c", "a b", "x..y", "auxiliary" })
            QTest::newRow(name) << QString::fromLatin1(name) << true;
        QTest::newRow("Chinese") << QStringLiteral("报表 1.xlsx") << true;
        QTest::newRow("outside the BMP") << QStringLiteral("\U0001F600.png") << true;
    }
    void portableNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, portable);
        QCOMPARE(isPortableFileName(name), portable);
        const QString renamed = portableFileName(name, QStringLiteral("download"));
        QVERIFY2(isPortableFileName(renamed), qPrintable(renamed));
        if (portable)
            QCOMPARE(renamed, name);
    }

    // A transfer that fails leaves no trace, not even the folders made for it;
    // folders that were there before stay.
    void failedTransferLeavesNoFolders_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("404") << address("/files/missing.bin");
        QTest::newRow("refused") << QStringLiteral("http://127.0.0.1:1/data.bin");
    }
    void failedTransferLeavesNoFolders()
    {
        QFETCH(QString, url);
        TemporaryAppDir appDir;
        QVERIFY(QDir(appDir.path()).mkpath(QStringLiteral("kept/empty")));

        SynServDb fresh(QStringLiteral("data.bin"));
        QCOMPARE(fresh.download(url, QStringLiteral("new/deep/folder"), QString()), QString());
        SynServDb below(QStringLiteral("data.bin"));
        QCOMPARE(below.download(url, QStringLiteral("kept/empty/new"), QString()), QString());

        QCOMPARE(QDir(appDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList { QStringLiteral("kept") });
        QCOMPARE(QDir(appDir.filePath(QStringLiteral("kept")))
                         .entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList { QStringLiteral("empty") });
        QVERIFY(QDir(appDir.filePath(QStringLiteral("kept/empty"))).isEmpty());
    }

    // A drive or a server that is not there is missing up to the top of its
    // path, whose parent is itself: the walk up must end there.
    void walkUpEndsAtTheTopOfThePath_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("expected"); // "top": the top of the path

        const QString top = QStringLiteral("top");
        QTest::newRow("missing drive") << "Q:/x/y" << QStringList() << top;
        QTest::newRow("missing drive root") << "Q:/" << QStringList() << top;
        QTest::newRow("missing server") << "//server/share/x/y" << QStringList() << top;
        QTest::newRow("missing share root") << "//server/share" << QStringList() << top;
        QTest::newRow("nothing at all") << "/srv/app/server" << QStringList() << top;
        QTest::newRow("drive present") << "Q:/x/y" << QStringList { "Q:/x", "Q:/", "Q:", "." } << "Q:/x/y";
        QTest::newRow("share present")
                << "//server/share/x/y" << QStringList { "//server/share", "//server", "/" }
                << "//server/share/x";
        QTest::newRow("folder exists") << "Q:/x" << QStringList { "Q:/x" } << QString();
    }
    void walkUpEndsAtTheTopOfThePath()
    {
        QFETCH(QString, folder);
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);

        // A walk that does not end is cut off here, so that it fails instead of hanging.
        constexpr int bound = 100;
        int asked = 0;
        const QString outermost = SynServDb::outermostMissingFolder(
                folder, [&](const QString &path) { return ++asked > bound || existing.contains(path); });
        QVERIFY2(asked <= bound, "the walk up did not end");
        if (expected == QLatin1String("top")) {
            QVERIFY(!outermost.isEmpty());
            QCOMPARE(QFileInfo(outermost).path(), outermost);
        } else {
            QCOMPARE(outermost, expected);
        }
    }

    void secondDownloadInsideTheFirstsWait()
    {
        TemporaryAppDir appDir;
        const QByteArray quick = sampleBytes(40 * 1024);
        const QByteArray slow = sampleBytes(200 * 1024);
        server.route("/files/quick.bin", drip(quick, 8192, 20)); // ~100 ms
        server.route("/files/slow.bin", drip(slow, 8192, 20)); // ~500 ms

        QStringList finished;
        QString inner;
        bool innerStarted = false;
        whileWaiting([&] {
            innerStarted = true;
            SynServDb second(QStringLiteral("slow.bin"));
            inner = second.download(address("/files/slow.bin"), QStringLiteral("b"), QString());
            finished << QStringLiteral("second");
            return true;
        });
        SynServDb first(QStringLiteral("quick.bin"));
        const QString outer = first.download(address("/files/quick.bin"), QStringLiteral("a"), QString());
        finished << QStringLiteral("first");

        QVERIFY(innerStarted);
        QCOMPARE(finished, (QStringList { QStringLiteral("second"), QStringLiteral("first") }));
        QCOMPARE(outer, appDir.filePath(QStringLiteral("a/quick.bin")));
        QCOMPARE(inner, appDir.filePath(QStringLiteral("b/slow.bin")));
        QVERIFY(appDir.read(QStringLiteral("a/quick.bin")) == quick);
        QVERIFY(appDir.read(QStringLiteral("b/slow.bin")) == slow);
    }
};

FENESTRA_TEST_MAIN(TestSynServDb)
#include "tst_synservdb.moc"
