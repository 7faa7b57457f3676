#include "config/appdir.h"
#include "filedialoguser.h"
#include "testenvironment.h"
#include "testhttpserver.h"
#include "windowharness.h"

#include <QApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QUrlQuery>
#include <QtTest>
#include <QtWebEngineQuick>

namespace {

// Each chooser sits at a known place; the page reports what it received.
const QByteArray page =
        "<!doctype html><html><head><meta charset=\"utf-8\"><title>choosers</title><style>"
        "body { margin: 0 } .box { position: absolute; left: 0; width: 300px; height: 50px; margin: 0 }"
        "</style></head><body>"
        "<input id=\"single\" class=\"box\" style=\"top: 0\" type=\"file\">"
        "<input id=\"multiple\" class=\"box\" style=\"top: 80px\" type=\"file\" multiple>"
        "<input id=\"folder\" class=\"box\" style=\"top: 160px\" type=\"file\" webkitdirectory>"
        "<button id=\"save\" class=\"box\" style=\"top: 240px\">save</button>"
        "<script>"
        "function report(chooser, outcome) {"
        "  fetch('/report?chooser=' + chooser + '&' + outcome);"
        "}"
        "for (const input of document.querySelectorAll('input')) {"
        "  input.onchange = () => report(input.id, 'names=' + encodeURIComponent("
        "      Array.from(input.files, f => (f.webkitRelativePath || f.name) + ':' + "
        "f.size).sort().join('|')));"
        "  input.oncancel = () => report(input.id, 'cancelled=1');"
        "}"
        "document.getElementById('save').onclick = async () => {"
        "  try { const handle = await showSaveFilePicker(); report('save', 'names=' + "
        "encodeURIComponent(handle.name)); }"
        "  catch (e) { report('save', 'error=' + e.name); }"
        "};"
        "onload = () => fetch('/ready');"
        "</script></body></html>";

const QPoint singleSpot(30, 25);
const QPoint multipleSpot(30, 105);
const QPoint folderSpot(30, 185);
const QPoint saveSpot(30, 265);

} // namespace

class TestFileChooser : public QObject
{
    Q_OBJECT

private:
    TestHttpServer server;
    TemporaryAppDir appDir;
    QString programDir; // has characters that a file URL has to escape
    std::unique_ptr<WindowHarness> window;
    FileDialogUser user { QString() };

    void click(const QPoint &spot) const
    {
        QQuickItem *view = window->currentView().item();
        QTest::mouseClick(window->window(), Qt::LeftButton, {}, WindowHarness::inWindow(view, spot));
    }

    // What the page reported for `chooser` since the last call, as "names=..." etc.
    QStringList reports(const QByteArray &chooser)
    {
        QStringList outcomes;
        for (const TestHttpServer::Request &request : server.requestsFor("/report")) {
            QUrlQuery query(QUrl::fromEncoded(request.target).query());
            if (query.queryItemValue(QStringLiteral("chooser")).toUtf8() != chooser)
                continue;
            query.removeQueryItem(QStringLiteral("chooser"));
            outcomes << query.toString(QUrl::FullyDecoded);
        }
        return outcomes;
    }

    // Clicks `spot`, lets the user answer the dialog it opens, and waits for
    // the dialog to close again.
    bool choose(const QPoint &spot, const QString &answer)
    {
        server.clearRequests();
        const int shownBefore = user.shown;
        user.setAnswer(answer);
        click(spot);
        return QTest::qWaitFor([&] { return user.shown == shownBefore + 1; }, 10000) && QTest::qWaitFor([] {
                   const QList<QWidget *> windows = QApplication::topLevelWidgets();
                   return std::none_of(windows.cbegin(), windows.cend(), [](QWidget *w) {
                       return qobject_cast<QFileDialog *>(w) && w->isVisible();
                   });
               });
    }

private Q_SLOTS:
    void initTestCase()
    {
        programDir = appDir.filePath(QStringLiteral("程序 #1 50%"));
        QVERIFY(appDir.write(QStringLiteral("程序 #1 50%/a.txt"), "a"));
        QVERIFY(appDir.write(QStringLiteral("程序 #1 50%/b.txt"), "bb"));
        QVERIFY(appDir.write(QStringLiteral("程序 #1 50%/pics/x.png"), "x"));
        QVERIFY(appDir.write(QStringLiteral("程序 #1 50%/pics/y.txt"), "yyy"));
        AppDir::setPath(programDir);

        QVERIFY(server.listen());
        server.route("/choosers.html", TestHttpServer::Response::html(page));
        server.route("/ready", TestHttpServer::Response::text("ok"));
        server.route("/report", TestHttpServer::Response::text("ok"));
        window = std::make_unique<WindowHarness>(server.url(QStringLiteral("/choosers.html")));
        QVERIFY(window->isLoaded());
        QVERIFY(window->waitForCurrentView());
        QTRY_COMPARE_WITH_TIMEOUT(server.requestsFor("/ready").count(), 1, 20000);
    }

    void oneFile()
    {
        QVERIFY(choose(singleSpot, QStringLiteral("a.txt")));
        QCOMPARE(user.seen.title, QStringLiteral("选择文件"));
        QCOMPARE(user.seen.mode, QFileDialog::ExistingFile);
        QCOMPARE(user.seen.folder, programDir);
        QTRY_COMPARE(reports("single"), QStringList({ QStringLiteral("names=a.txt:1") }));
    }

    void severalFiles()
    {
        QVERIFY(choose(multipleSpot, QStringLiteral("\"a.txt\" \"b.txt\"")));
        QCOMPARE(user.seen.title, QStringLiteral("选择文件"));
        QCOMPARE(user.seen.mode, QFileDialog::ExistingFiles);
        QTRY_COMPARE(reports("multiple"), QStringList({ QStringLiteral("names=a.txt:1|b.txt:2") }));
    }

    // The dialog is shared; its mode comes from each request anew.
    void oneFileAfterSeveral()
    {
        QVERIFY(choose(singleSpot, QStringLiteral("b.txt")));
        QCOMPARE(user.seen.mode, QFileDialog::ExistingFile);
        QTRY_COMPARE(reports("single"), QStringList({ QStringLiteral("names=b.txt:2") }));
    }

    void folder()
    {
        QVERIFY(choose(folderSpot, QStringLiteral("pics")));
        QCOMPARE(user.seen.title, QStringLiteral("选择文件夹"));
        QCOMPARE(user.seen.mode, QFileDialog::Directory);
        QCOMPARE(user.seen.folder, programDir);
        QTRY_COMPARE(reports("folder"), QStringList({ QStringLiteral("names=pics/x.png:1|pics/y.txt:3") }));
    }

    void saveLocation()
    {
        QVERIFY(choose(saveSpot, QStringLiteral("new.txt")));
        QCOMPARE(user.seen.title, QStringLiteral("保存文件"));
        QCOMPARE(user.seen.acceptMode, QFileDialog::AcceptSave);
        QCOMPARE(user.seen.folder, programDir);
        QTRY_COMPARE(reports("save"), QStringList({ QStringLiteral("names=new.txt") }));
    }

    void cancelling_data()
    {
        QTest::addColumn<QPoint>("spot");
        QTest::addColumn<QByteArray>("chooser");
        QTest::addColumn<QString>("answer");
        QTest::newRow("one file") << singleSpot << QByteArray("single") << QStringLiteral("a.txt");
        QTest::newRow("several files") << multipleSpot << QByteArray("multiple") << QStringLiteral("b.txt");
        QTest::newRow("folder") << folderSpot << QByteArray("folder") << QStringLiteral("pics");
        QTest::newRow("save location") << saveSpot << QByteArray("save") << QStringLiteral("other.txt");
    }

    void cancelling()
    {
        QFETCH(QPoint, spot);
        QFETCH(QByteArray, chooser);
        QFETCH(QString, answer);
        QVERIFY(choose(spot, QString()));
        // Whatever the engine tells the page about a cancel, no file reaches it.
        QTest::qWait(300);
        for (const QString &outcome : reports(chooser))
            QVERIFY2(outcome == QLatin1String("names=") || outcome == QLatin1String("cancelled=1")
                             || outcome == QLatin1String("error=AbortError"),
                     qPrintable(outcome));
        // The request was answered, so the page can ask again at once.
        QVERIFY(choose(spot, answer));
        QTRY_COMPARE(reports(chooser).count(), 1);
        QVERIFY(reports(chooser).constFirst().startsWith(QLatin1String("names=") + answer));
    }
};

FENESTRA_TEST_MAIN(TestFileChooser)

#include "tst_filechooser.moc"
