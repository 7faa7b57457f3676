// Page downloads in the real window, with real files from the loopback server:
// where they land, under which names, and what a cancelled or failed one leaves.

#include "browser/downloadlist.h"
#include "windowsuite.h"

#include <QApplication>
#include <QDir>
#include <QQuickItem>
#include <QtTest>
#include <QtWebEngineQuick>

#include <tuple>

namespace {

const QByteArray reportBytes = QByteArray("PK\x03\x04 fake workbook ", 20) + QByteArray(5000, 'x');

const QByteArray startPage =
        "<html><head><title>start</title></head><body>"
        "<a id='attach' href='/files/report'>report</a>"
        "<a id='named' href='/files/plain' download='清单 2024.csv'>list</a>"
        "<a id='data' href='data:text/plain;base64,ZGF0YSBieXRlcw==' download='data.txt'>data</a>"
        "<a id='slow' href='/files/slow'>slow</a>"
        "<a id='broken' href='/files/broken'>broken</a>"
        "</body></html>";

} // namespace

class TestDownloads : public WindowSuite
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void downloadsLandUnderUniqueNames();
    void cancelledAndFailedDownloadsLeaveNothing();
    void uniqueNamesKeepTheExtension_data();
    void uniqueNamesKeepTheExtension();

private:
    QStringList downloadedFiles() const;
    int waitForDownload(int row);

    DownloadList *m_downloads = nullptr;
};

void TestDownloads::initTestCase()
{
    QVERIFY(m_server.listen());
    m_server.route("/start", TestHttpServer::Response::html(startPage));
    m_server.route("/files/report",
                   TestHttpServer::Response::text(reportBytes, "application/vnd.ms-excel")
                           .withHeader("Content-Disposition", "attachment; filename=\"report.xlsx\""));
    m_server.route("/files/plain", TestHttpServer::Response::text("a;b\n1;2\n", "text/csv"));
    TestHttpServer::Response slow =
            TestHttpServer::Response::text("0123456789abcdef", "application/octet-stream");
    slow.generatedSize = 4 * 1024 * 1024;
    slow.delivery = TestHttpServer::Response::Delivery::Drip;
    slow.dripChunk = 4096;
    slow.dripIntervalMs = 50;
    m_server.route("/files/slow",
                   slow.withHeader("Content-Disposition", "attachment; filename=\"slow.bin\""));
    // The connection drops half-way; the engine's attempts to resume meet a server error.
    m_server.route("/files/broken", [this](const TestHttpServer::Request &) {
        if (m_server.requestsFor("/files/broken").size() > 1)
            return TestHttpServer::Response::text("gone", "text/plain", 500);
        TestHttpServer::Response broken =
                TestHttpServer::Response::text(QByteArray(200000, 'b'), "application/zip");
        broken.delivery = TestHttpServer::Response::Delivery::DropMidBody;
        return broken.withHeader("Content-Disposition", "attachment; filename=\"broken.zip\"");
    });

    QDir(DownloadList::folder()).removeRecursively();
    QVERIFY(openWindow(QStringLiteral("/start"), QStringLiteral("start")));
    // Created on first use; the tests reach it the way the window does.
    QObject *panel = m_harness->made(QStringLiteral("downloads"));
    m_downloads = panel ? qobject_cast<DownloadList *>(panel->property("list").value<QObject *>()) : nullptr;
    QVERIFY(m_downloads);
}

QStringList TestDownloads::downloadedFiles() const
{
    return QDir(DownloadList::folder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

int TestDownloads::waitForDownload(int row)
{
    const QModelIndex index = m_downloads->index(row);
    // A download that never ends shows as still downloading to the caller's check.
    std::ignore = QTest::qWaitFor(
            [&] { return index.data(DownloadList::StateRole).toInt() != DownloadList::Downloading; }, 20000);
    return index.data(DownloadList::StateRole).toInt();
}

void TestDownloads::downloadsLandUnderUniqueNames()
{
    load(QStringLiteral("/start"));
    const QString folder = DownloadList::folder();
    struct Kind
    {
        QString script;
        QString fileName;
        QByteArray bytes;
    };
    const QList<Kind> kinds {
        { QStringLiteral("document.getElementById('attach').click()"), QStringLiteral("report.xlsx"),
          reportBytes },
        { QStringLiteral("document.getElementById('named').click()"), QStringLiteral("清单 2024.csv"),
          "a;b\n1;2\n" },
        { QStringLiteral("document.getElementById('data').click()"), QStringLiteral("data.txt"),
          "data bytes" },
        { QStringLiteral(
                  "var a = document.createElement('a');"
                  "a.href = URL.createObjectURL(new Blob(['made in the page'], { type: 'text/plain' }));"
                  "a.download = 'blob.txt'; document.body.appendChild(a); a.click()"),
          QStringLiteral("blob.txt"), "made in the page" },
        { QStringLiteral("document.getElementById('attach').click()"), QStringLiteral("report (1).xlsx"),
          reportBytes },
    };
    for (const Kind &kind : kinds) {
        const int row = m_downloads->count();
        runJavaScript(kind.script);
        QTRY_COMPARE_WITH_TIMEOUT(m_downloads->count(), row + 1, 10000);
        QCOMPARE(waitForDownload(row), int(DownloadList::Finished));
        const QModelIndex index = m_downloads->index(row);
        QCOMPARE(index.data(DownloadList::FileNameRole).toString(), kind.fileName);
        QCOMPARE(index.data(DownloadList::FilePathRole).toString(), QDir(folder).filePath(kind.fileName));
        QFile file(QDir(folder).filePath(kind.fileName));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(kind.fileName));
        QCOMPARE(file.readAll(), kind.bytes);
        QCOMPARE(index.data(DownloadList::ReceivedBytesRole).toLongLong(), qint64(kind.bytes.size()));
    }
    QCOMPARE(downloadedFiles(),
             QStringList({ "blob.txt", "data.txt", "report (1).xlsx", "report.xlsx", "清单 2024.csv" }));
    // The list shows itself with the first download.
    QQuickItem *panelClose = item(QStringLiteral("downloadsClose"));
    QVERIFY(panelClose && panelClose->isVisible());
    QCOMPARE(m_downloads->activeCount(), 0);

    // Closing the list drops the ended downloads, not the files.
    click(panelClose);
    QCOMPARE(m_downloads->count(), 0);
    QVERIFY(!panelClose->isVisible());
    QCOMPARE(downloadedFiles().size(), 5);
}

void TestDownloads::cancelledAndFailedDownloadsLeaveNothing()
{
    load(QStringLiteral("/start"));
    const QStringList before = downloadedFiles();

    runJavaScript(QStringLiteral("document.getElementById('slow').click()"));
    QTRY_COMPARE_WITH_TIMEOUT(m_downloads->count(), 1, 10000);
    const QModelIndex slow = m_downloads->index(0);
    QTRY_VERIFY_WITH_TIMEOUT(slow.data(DownloadList::ReceivedBytesRole).toLongLong() > 0, 10000);
    QCOMPARE(slow.data(DownloadList::TotalBytesRole).toLongLong(), 4 * 1024 * 1024);
    QCOMPARE(m_downloads->activeCount(), 1);
    m_downloads->cancel(0);
    QCOMPARE(waitForDownload(0), int(DownloadList::Cancelled));

    runJavaScript(QStringLiteral("document.getElementById('broken').click()"));
    QTRY_COMPARE_WITH_TIMEOUT(m_downloads->count(), 2, 10000);
    QCOMPARE(waitForDownload(1), int(DownloadList::Failed));
    QCOMPARE(m_downloads->count(), 2);
    QCOMPARE(m_downloads->activeCount(), 0);

    // Nothing under the final names, nor a partial file under another.
    QTRY_COMPARE_WITH_TIMEOUT(downloadedFiles(), before, 5000);
    QTest::qWait(500);
    QCOMPARE(downloadedFiles(), before);
    m_downloads->clearFinished();
}

void TestDownloads::uniqueNamesKeepTheExtension_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QStringList>("taken");
    QTest::addColumn<QString>("suggested");
    QTest::addColumn<QString>("expected");

    QTest::newRow("free") << QStringList() << QStringList() << "report.xlsx"
                          << "report.xlsx";
    QTest::newRow("second and third")
            << QStringList { "report.xlsx", "report (1).xlsx" } << QStringList() << "report.xlsx"
            << "report (2).xlsx";
    QTest::newRow("in progress") << QStringList() << QStringList { "report.xlsx" } << "report.xlsx"
                                 << "report (1).xlsx";
    QTest::newRow("no extension") << QStringList { "README" } << QStringList() << "README"
                                  << "README (1)";
    QTest::newRow("double extension") << QStringList { "backup.tar.gz" } << QStringList() << "backup.tar.gz"
                                      << "backup (1).tar.gz";
    QTest::newRow("leading dot") << QStringList { ".profile" } << QStringList() << ".profile"
                                 << ".profile (1)";
    QTest::newRow("forbidden characters") << QStringList() << QStringList() << "a/b:c?.txt"
                                          << "a_b_c_.txt";
    QTest::newRow("trailing dots") << QStringList() << QStringList() << "name. . "
                                   << "name";
    QTest::newRow("empty") << QStringList { "download" } << QStringList() << ""
                           << "download (1)";
    // Windows would write these to a device and lose the file.
    QTest::newRow("aux.txt") << QStringList() << QStringList() << "aux.txt"
                             << "aux_.txt";
    QTest::newRow("CON") << QStringList() << QStringList() << "CON"
                         << "CON_";
    QTest::newRow("nul.tar.gz") << QStringList { "nul_.tar.gz" } << QStringList() << "nul.tar.gz"
                                << "nul_ (1).tar.gz";
    QTest::newRow("com1.log") << QStringList() << QStringList() << "com1.log"
                              << "com1_.log";
    QTest::newRow("LPT9 with a space") << QStringList() << QStringList() << "LPT9 .csv"
                                       << "LPT9 _.csv";
    QTest::newRow("not a device") << QStringList() << QStringList() << "console.txt"
                                  << "console.txt";
}

void TestDownloads::uniqueNamesKeepTheExtension()
{
    QFETCH(QStringList, existing);
    QFETCH(QStringList, taken);
    QFETCH(QString, suggested);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    for (const QString &name : existing) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QCOMPARE(DownloadList::uniqueFileName(dir.path(), suggested, taken), expected);
}

FENESTRA_TEST_MAIN(TestDownloads)
#include "tst_downloads.moc"
