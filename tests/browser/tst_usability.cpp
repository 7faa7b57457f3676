// The window's browser conveniences, in the real window with real pages from
// the loopback server: downloads, printing, find, zoom, crash recovery, full
// screen and the dialogs that pages open.

#include "browser/downloadlist.h"
#include "browser/pageprinter.h"
#include "probe.h"
#include "testenvironment.h"
#include "testhttpserver.h"
#include "windowharness.h"

#include <QApplication>
#include <QDir>
#include <QInputMethodEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPdfDocument>
#include <QPrinter>
#include <QQuickItem>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QtTest>
#include <QtWebEngineQuick>

#include <csignal>
#include <memory>
#include <tuple>

namespace {

const QByteArray reportBytes = QByteArray("PK\x03\x04 fake workbook ", 20) + QByteArray(5000, 'x');

const QByteArray startPage =
        "<html><head><title>start</title></head><body>"
        "<p>apple Apple APPLE pear apple</p><p>pineapple</p>"
        "<a id='attach' href='/files/report'>report</a>"
        "<a id='named' href='/files/plain' download='清单 2024.csv'>list</a>"
        "<a id='data' href='data:text/plain;base64,ZGF0YSBieXRlcw==' download='data.txt'>data</a>"
        "<a id='slow' href='/files/slow'>slow</a>"
        "<a id='broken' href='/files/broken'>broken</a>"
        "</body></html>";

// Two printed pages: a red block, then a page break.
const QByteArray printPage = "<html><head><title>print</title><style>"
                             "body { margin: 0 } .block { height: 600px; background: #ff0000;"
                             " -webkit-print-color-adjust: exact; print-color-adjust: exact; }"
                             "</style></head><body><div class='block'></div>"
                             "<div style='break-before: page'>second page</div></body></html>";

const QByteArray autoPrintPage = "<html><head><title>popup</title><style>"
                                 "body { margin: 0 } div { height: 600px; background: #0000ff;"
                                 " print-color-adjust: exact; -webkit-print-color-adjust: exact; }"
                                 "</style></head><body onload='window.print()'><div></div></body></html>";

const QByteArray dialogPage = "<html><head><title>dialogs</title></head><body><script>"
                              "function ask(kind) { setTimeout(function() {"
                              "  var answer = kind === 'confirm' ? confirm('继续吗?')"
                              "             : kind === 'prompt' ? prompt('名字', 'default') : alert('注意');"
                              "  document.title = 'answer ' + answer; }, 0); }"
                              "</script>"
                              "<button id='confirm' onclick='ask(this.id)'></button>"
                              "<button id='prompt' onclick='ask(this.id)'></button>"
                              "<button id='alert' onclick='ask(this.id)'></button></body></html>";

const QByteArray fullScreenPage =
        "<html><head><title>video</title></head><body style='margin:0'>"
        "<button id='b' style='width:100vw;height:100vh'"
        " onclick='document.title = \"clicked\"; document.documentElement.requestFullscreen()'>go</button>"
        "</body></html>";

// The count of pixels of `image` close to `color`.
int pixelsLike(const QImage &image, QColor color)
{
    int n = 0;
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4) {
            const QColor c = image.pixelColor(x, y);
            if (qAbs(c.red() - color.red()) < 40 && qAbs(c.green() - color.green()) < 40
                && qAbs(c.blue() - color.blue()) < 40)
                ++n;
        }
    }
    return n;
}

} // namespace

class TestUsability : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void downloadsLandUnderUniqueNames();
    void cancelledAndFailedDownloadsLeaveNothing();
    void uniqueNamesKeepTheExtension_data();
    void uniqueNamesKeepTheExtension();
    void printRequestsReachThePrinter();
    void declinedPrintPrintsNothing();
    void findCountsMatches();
    void zoomKeysActOnTheSelectedTabOnly();
    void crashedPageShowsNoticeAndReloads();
    void pageDialogsAnswerThePage();
    void httpAuthenticationThroughTheDialog();
    void fullScreenIsGrantedAndEscLeaves();

private:
    QVariant eval(const QString &expression) { return m_harness->eval(expression); }
    QVariant runJavaScript(const QString &script);
    void load(const QString &path);
    void type(const QString &text);
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void click(QQuickItem *item);
    QQuickItem *item(const QString &objectName, QObject *under = nullptr);
    QStringList downloadedFiles() const;
    int waitForDownload(int row);

    TestHttpServer m_server;
    std::unique_ptr<TemporaryAppDir> m_appDir;
    std::unique_ptr<WindowHarness> m_harness;
    QQuickWindow *m_window = nullptr;
    DownloadList *m_downloads = nullptr;
    PagePrinter *m_printer = nullptr;
    Probe m_probe;
};

void TestUsability::initTestCase()
{
    QVERIFY(m_server.listen());
    m_server.route("/start", TestHttpServer::Response::html(startPage));
    m_server.route("/other",
                   TestHttpServer::Response::html("<html><title>other</title><body>apple</body></html>"));
    m_server.route("/print", TestHttpServer::Response::html(printPage));
    m_server.route("/autoprint", TestHttpServer::Response::html(autoPrintPage));
    m_server.route("/dialogs", TestHttpServer::Response::html(dialogPage));
    m_server.route("/fullscreen", TestHttpServer::Response::html(fullScreenPage));
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
    m_server.route("/secret", [](const TestHttpServer::Request &request) {
        if (request.header("Authorization") == "Basic " + QByteArray("clerk:s3cret").toBase64())
            return TestHttpServer::Response::html("<html><title>welcome clerk</title></html>");
        return TestHttpServer::Response::html("<html><title>denied</title></html>", 401)
                .withHeader("WWW-Authenticate", "Basic realm=\"orders\"");
    });

    QDir(DownloadList::folder()).removeRecursively();
    m_appDir = std::make_unique<TemporaryAppDir>();
    m_harness = std::make_unique<WindowHarness>(
            m_server.url(QStringLiteral("/start")),
            WindowHarness::ContextProperties { { QStringLiteral("probe"), &m_probe } });
    m_window = m_harness->window();
    QVERIFY(m_window);
    m_window->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    // Created on first use; the tests reach them the way the window does.
    m_downloads =
            qobject_cast<DownloadList *>(eval(QStringLiteral("downloads.get().list")).value<QObject *>());
    m_printer = qobject_cast<PagePrinter *>(eval(QStringLiteral("pagePrinter.get()")).value<QObject *>());
    QVERIFY(m_downloads && m_printer);
    QTRY_COMPARE_WITH_TIMEOUT(eval("currentView.title").toString(), QStringLiteral("start"), 20000);
}

void TestUsability::cleanupTestCase()
{
    m_harness.reset();
    m_appDir.reset();
}

QVariant TestUsability::runJavaScript(const QString &script)
{
    const int before = m_probe.answers;
    eval(QStringLiteral("currentView.runJavaScript(%1, function(r) { probe.put(r) })")
                 .arg(QString::fromUtf8(QJsonDocument(QJsonArray { script }).toJson(QJsonDocument::Compact))
                              .mid(1)
                              .chopped(1)));
    if (!QTest::qWaitFor([&] { return m_probe.answers > before; }, 10000))
        return QStringLiteral("<no answer>");
    return m_probe.result;
}

void TestUsability::load(const QString &path)
{
    // A fresh query each time, so that the old document is never taken for the new one.
    static int loads = 0;
    const QString url = m_server.url(path + QStringLiteral("?load=%1").arg(++loads)).toString();
    eval(QStringLiteral("currentView.url = Qt.resolvedUrl('%1')").arg(url));
    // The view's own url changes at once; the document tells when it has arrived.
    QVERIFY(QTest::qWaitFor(
            [&] {
                return runJavaScript(QStringLiteral("location.href + ' ' + document.readyState")).toString()
                        == url + QStringLiteral(" complete");
            },
            15000));
}

// Text arrives the way an input method commits it, which serves any script.
void TestUsability::type(const QString &text)
{
    QObject *focus = QGuiApplication::focusObject();
    QVERIFY(focus);
    QInputMethodEvent event;
    event.setCommitString(text);
    QGuiApplication::sendEvent(focus, &event);
}

void TestUsability::press(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(m_window, key, modifiers);
}

void TestUsability::click(QQuickItem *target)
{
    QVERIFY(target);
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier,
                      WindowHarness::inWindow(target, QPointF(target->width() / 2, target->height() / 2)));
}

QQuickItem *TestUsability::item(const QString &objectName, QObject *under)
{
    return (under ? under : m_window)->findChild<QQuickItem *>(objectName);
}

QStringList TestUsability::downloadedFiles() const
{
    return QDir(DownloadList::folder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

int TestUsability::waitForDownload(int row)
{
    const QModelIndex index = m_downloads->index(row);
    // A download that never ends shows as still downloading to the caller's check.
    std::ignore = QTest::qWaitFor(
            [&] { return index.data(DownloadList::StateRole).toInt() != DownloadList::Downloading; }, 20000);
    return index.data(DownloadList::StateRole).toInt();
}

void TestUsability::downloadsLandUnderUniqueNames()
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

void TestUsability::cancelledAndFailedDownloadsLeaveNothing()
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

void TestUsability::uniqueNamesKeepTheExtension_data()
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

void TestUsability::uniqueNamesKeepTheExtension()
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

void TestUsability::printRequestsReachThePrinter()
{
    QTemporaryDir out;
    int asked = 0;
    QString output;
    m_printer->setPrinterChooser([&](QPrinter *printer) {
        output = out.filePath(QStringLiteral("printed-%1.pdf").arg(++asked));
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(output);
        return true;
    });
    QSignalSpy finished(m_printer, &PagePrinter::finished);

    const auto printedPages = [&](QColor color) {
        QPdfDocument document;
        if (document.load(output) != QPdfDocument::Error::None)
            return -1;
        const QSizeF points = document.pagePointSize(0);
        const QImage first = document.render(0, (points / 2).toSize());
        // The block covers well over a tenth of the first page.
        if (pixelsLike(first, color) < first.width() * first.height() / 16 / 10)
            return 0;
        return document.pageCount();
    };

    // window.print() in the page.
    load(QStringLiteral("/print"));
    runJavaScript(QStringLiteral("window.print()"));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
    QCOMPARE(finished.at(0).at(0).toBool(), true);
    QCOMPARE(asked, 1);
    QCOMPARE(printedPages(Qt::red), 2);
    QVERIFY(!m_printer->isBusy());

    // Ctrl+P.
    press(Qt::Key_P, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 20000);
    QCOMPARE(asked, 2);
    QCOMPARE(printedPages(Qt::red), 2);

    // A popup that prints itself as soon as it has loaded.
    const int tabs = eval("tabModel.count").toInt();
    runJavaScript(QStringLiteral("window.open('/autoprint')"));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 3, 20000);
    QCOMPARE(eval("tabModel.count").toInt(), tabs + 1);
    QCOMPARE(finished.at(2).at(0).toBool(), true);
    QCOMPARE(printedPages(Qt::blue), 1);
    eval(QStringLiteral("tabModel.remove(tabModel.count - 1); navBar.currentIndex = 0"));
    m_printer->setPrinterChooser(nullptr);
}

void TestUsability::declinedPrintPrintsNothing()
{
    int asked = 0;
    m_printer->setPrinterChooser([&](QPrinter *printer) {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(m_appDir->filePath(QStringLiteral("never.pdf")));
        ++asked;
        return false;
    });
    QSignalSpy finished(m_printer, &PagePrinter::finished);
    load(QStringLiteral("/print"));
    runJavaScript(QStringLiteral("window.print()"));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QCOMPARE(asked, 1);
    QVERIFY(!QFile::exists(m_appDir->filePath(QStringLiteral("never.pdf"))));
    QVERIFY(!m_printer->isBusy());

    // The tab closes while its print dialog is up.
    eval(QStringLiteral("addTab('doomed', Qt.resolvedUrl('%1'))")
                 .arg(m_server.url(QStringLiteral("/print")).toString()));
    QTRY_COMPARE_WITH_TIMEOUT(eval("currentView.title").toString(), QStringLiteral("print"), 10000);
    auto *doomed = eval(QStringLiteral("currentView")).value<QObject *>();
    QVERIFY(doomed);
    m_printer->setPrinterChooser([&](QPrinter *printer) {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(m_appDir->filePath(QStringLiteral("never.pdf")));
        eval(QStringLiteral("tabModel.remove(tabModel.count - 1); navBar.currentIndex = 0"));
        // The dialog's own event loop, in which the view goes.
        QTest::qWait(300);
        return true;
    });
    m_printer->print(doomed);
    QCOMPARE(finished.size(), 2);
    QCOMPARE(finished.at(1).at(0).toBool(), false);
    QTest::qWait(300);
    QVERIFY(!QFile::exists(m_appDir->filePath(QStringLiteral("never.pdf"))));
    QVERIFY(!m_printer->isBusy());
    m_printer->setPrinterChooser(nullptr);
}

void TestUsability::findCountsMatches()
{
    load(QStringLiteral("/start"));
    // The bar comes into being with its key.
    press(Qt::Key_F, Qt::ControlModifier);
    QQuickItem *field = item(QStringLiteral("findField"));
    QQuickItem *count = item(QStringLiteral("findCount"));
    QVERIFY(field && count);
    const auto shown = [&] { return count->property("text").toString(); };

    QTRY_VERIFY(field->isVisible() && field->hasActiveFocus());
    type(QStringLiteral("apple"));
    // Case does not matter and words inside words count: 4 + 1 + "pineapple".
    QTRY_COMPARE_WITH_TIMEOUT(shown(), QStringLiteral("1/5"), 10000);
    press(Qt::Key_Return);
    QTRY_COMPARE(shown(), QStringLiteral("2/5"));
    press(Qt::Key_F3);
    QTRY_COMPARE(shown(), QStringLiteral("3/5"));
    press(Qt::Key_Return, Qt::ShiftModifier);
    QTRY_COMPARE(shown(), QStringLiteral("2/5"));
    press(Qt::Key_F3, Qt::ShiftModifier);
    QTRY_COMPARE(shown(), QStringLiteral("1/5"));
    press(Qt::Key_Return, Qt::ShiftModifier);
    QTRY_COMPARE(shown(), QStringLiteral("5/5"));

    type(QStringLiteral("zz"));
    QTRY_COMPARE(shown(), QStringLiteral("无结果"));

    // A load starts afresh.
    press(Qt::Key_Backspace);
    press(Qt::Key_Backspace);
    QTRY_COMPARE(shown(), QStringLiteral("1/5"));
    load(QStringLiteral("/other"));
    QCOMPARE(shown(), QString());
    press(Qt::Key_F3);
    QTRY_COMPARE(shown(), QStringLiteral("1/1"));

    press(Qt::Key_Escape);
    QTRY_VERIFY(!field->isVisible());
    QCOMPARE(shown(), QString());
}

void TestUsability::zoomKeysActOnTheSelectedTabOnly()
{
    load(QStringLiteral("/start"));
    eval(QStringLiteral("addTab('second', Qt.resolvedUrl('%1'))")
                 .arg(m_server.url(QStringLiteral("/start")).toString()));
    QTRY_COMPARE_WITH_TIMEOUT(eval("currentView.title").toString(), QStringLiteral("start"), 10000);
    QCOMPARE(eval("navBar.currentIndex").toInt(), 1);
    const auto zoomOf = [&](int tab) {
        return qRound(eval(QStringLiteral("webEngineViewRepeater.itemAt(%1).zoomFactor").arg(tab)).toDouble()
                      * 100);
    };

    press(Qt::Key_Equal, Qt::ControlModifier);
    QTRY_COMPARE(zoomOf(1), 110);
    press(Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
    QTRY_COMPARE(zoomOf(1), 125);
    QCOMPARE(zoomOf(0), 100);
    press(Qt::Key_Minus, Qt::ControlModifier);
    press(Qt::Key_Minus, Qt::ControlModifier);
    press(Qt::Key_Minus, Qt::ControlModifier);
    QTRY_COMPARE(zoomOf(1), 90);
    QCOMPARE(zoomOf(0), 100);

    // Ctrl+wheel over the page.
    const QPoint centre(m_window->width() / 2, m_window->height() / 2);
    QWheelEvent wheel(centre, m_window->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QGuiApplication::sendEvent(m_window, &wheel);
    QTRY_COMPARE(zoomOf(1), 100);
    QCOMPARE(zoomOf(0), 100);

    // The engine's range ends at 25 % and 500 %.
    eval(QStringLiteral("currentView.zoomFactor = 4.5"));
    press(Qt::Key_Equal, Qt::ControlModifier);
    press(Qt::Key_Equal, Qt::ControlModifier);
    QTRY_COMPARE(zoomOf(1), 500);
    eval(QStringLiteral("currentView.zoomFactor = 0.3"));
    press(Qt::Key_Minus, Qt::ControlModifier);
    press(Qt::Key_Minus, Qt::ControlModifier);
    QTRY_COMPARE(zoomOf(1), 25);
    press(Qt::Key_0, Qt::ControlModifier);
    QTRY_COMPARE(zoomOf(1), 100);

    // The other tab, selected again, keeps its own factor.
    eval(QStringLiteral("navBar.currentIndex = 0"));
    press(Qt::Key_Minus, Qt::ControlModifier);
    QTRY_COMPARE(zoomOf(0), 90);
    QCOMPARE(zoomOf(1), 100);
    press(Qt::Key_0, Qt::ControlModifier);
    QTRY_COMPARE(zoomOf(0), 100);
    eval(QStringLiteral("tabModel.remove(1); navBar.currentIndex = 0"));
}

void TestUsability::crashedPageShowsNoticeAndReloads()
{
    load(QStringLiteral("/start"));
    eval(QStringLiteral("addTab('second', Qt.resolvedUrl('%1'))")
                 .arg(m_server.url(QStringLiteral("/other")).toString()));
    QTRY_COMPARE_WITH_TIMEOUT(eval("currentView.title").toString(), QStringLiteral("other"), 10000);
    eval(QStringLiteral("navBar.currentIndex = 0"));
    QObject *view = eval("currentView").value<QObject *>();
    QObject *otherView = eval("webEngineViewRepeater.itemAt(1)").value<QObject *>();
    QQuickItem *notice = view->findChild<QQuickItem *>(QStringLiteral("crashNotice"));
    QVERIFY(notice && !notice->isVisible());

    const qint64 pid = view->property("renderProcessPid").toLongLong();
    QVERIFY(pid > 0);
    QVERIFY(otherView->property("renderProcessPid").toLongLong() != pid);
    QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
    QTRY_VERIFY_WITH_TIMEOUT(notice->isVisible(), 10000);
    QCOMPARE(notice->findChild<QQuickItem *>(QStringLiteral("crashReload"))->property("text").toString(),
             QStringLiteral("重新加载"));

    // The other tab goes on working.
    eval(QStringLiteral("navBar.currentIndex = 1"));
    QCOMPARE(runJavaScript(QStringLiteral("document.title + 1")).toString(), QStringLiteral("other1"));
    eval(QStringLiteral("navBar.currentIndex = 0"));

    m_server.clearRequests();
    click(notice->findChild<QQuickItem *>(QStringLiteral("crashReload")));
    QTRY_VERIFY_WITH_TIMEOUT(!notice->isVisible(), 10000);
    QCOMPARE(runJavaScript(QStringLiteral("document.title")).toString(), QStringLiteral("start"));
    QCOMPARE(m_server.requestsFor("/start").size(), 1);
    eval(QStringLiteral("tabModel.remove(1); navBar.currentIndex = 0"));
}

void TestUsability::pageDialogsAnswerThePage()
{
    load(QStringLiteral("/dialogs"));
    QObject *dialog = eval(QStringLiteral("pageMessageDialog.get()")).value<QObject *>();
    QVERIFY(dialog);
    QQuickItem *ok = item(QStringLiteral("dialogOk"), dialog);
    QQuickItem *cancel = item(QStringLiteral("dialogCancel"), dialog);
    QVERIFY(ok && cancel);

    struct Case
    {
        QString kind;
        QQuickItem *button;
        QString typed;
        QString answer;
    };
    const QList<Case> cases {
        { QStringLiteral("confirm"), ok, QString(), QStringLiteral("answer true") },
        { QStringLiteral("confirm"), cancel, QString(), QStringLiteral("answer false") },
        { QStringLiteral("prompt"), ok, QStringLiteral("王五"), QStringLiteral("answer default王五") },
        { QStringLiteral("prompt"), cancel, QString(), QStringLiteral("answer null") },
        { QStringLiteral("alert"), ok, QString(), QStringLiteral("answer undefined") },
    };
    for (const Case &c : cases) {
        runJavaScript(QStringLiteral("document.getElementById('%1').click()").arg(c.kind));
        QTRY_VERIFY_WITH_TIMEOUT(dialog->property("opened").toBool(), 10000);
        QCOMPARE(cancel->isVisible(), c.kind != QLatin1String("alert"));
        if (!c.typed.isEmpty()) {
            // The default text is selected to be replaced; typing after it adds.
            QTest::keyClick(m_window, Qt::Key_End);
            type(c.typed);
        }
        click(c.button);
        QTRY_COMPARE_WITH_TIMEOUT(eval("currentView.title").toString(), c.answer, 10000);
        QTRY_VERIFY(!dialog->property("visible").toBool());
    }
}

void TestUsability::httpAuthenticationThroughTheDialog()
{
    QObject *dialog = eval(QStringLiteral("loginDialog.get()")).value<QObject *>();
    QVERIFY(dialog);
    eval(QStringLiteral("currentView.url = '%1'").arg(m_server.url(QStringLiteral("/secret")).toString()));
    QTRY_VERIFY_WITH_TIMEOUT(dialog->property("opened").toBool(), 10000);
    type(QStringLiteral("clerk"));
    press(Qt::Key_Return);
    type(QStringLiteral("s3cret"));
    click(item(QStringLiteral("loginOk"), dialog));
    QTRY_COMPARE_WITH_TIMEOUT(eval("currentView.title").toString(), QStringLiteral("welcome clerk"), 10000);
}

void TestUsability::fullScreenIsGrantedAndEscLeaves()
{
    load(QStringLiteral("/fullscreen"));
    const QWindow::Visibility before = m_window->visibility();
    // The page takes input once it has shown a frame; until then clicks are lost.
    const QPoint centre(m_window->width() / 2, m_window->height() / 2);
    QVERIFY(QTest::qWaitFor(
            [&] {
                QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre);
                return QTest::qWaitFor([&] { return eval("currentView.title").toString() == "clicked"; },
                                       500);
            },
            15000));
    QTRY_VERIFY_WITH_TIMEOUT(eval("currentView.isFullScreen").toBool(), 10000);
    QTRY_COMPARE(m_window->visibility(), QWindow::FullScreen);
    QTRY_COMPARE(runJavaScript(QStringLiteral("document.fullscreenElement !== null")).toBool(), true);

    press(Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!eval("currentView.isFullScreen").toBool(), 10000);
    QTRY_COMPARE(m_window->visibility(), before);
    QTRY_COMPARE(runJavaScript(QStringLiteral("document.fullscreenElement === null")).toBool(), true);
}

FENESTRA_TEST_MAIN(TestUsability)
#include "tst_usability.moc"
