// Printing in the real window: window.print(), Ctrl+P and a popup that prints
// itself reach the printer; a declined dialog or a tab closed under it prints nothing.

#include "browser/pageprinter.h"
#include "windowsuite.h"

#include <QApplication>
#include <QPdfDocument>
#include <QPrinter>
#include <QQuickWindow>
#include <QtTest>
#include <QtWebEngineQuick>

namespace {

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

class TestPrinting : public WindowSuite
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void printRequestsReachThePrinter();
    void declinedPrintPrintsNothing();

private:
    PagePrinter *m_printer = nullptr;
};

void TestPrinting::initTestCase()
{
    QVERIFY(m_server.listen());
    m_server.route("/print", TestHttpServer::Response::html(printPage));
    m_server.route("/autoprint", TestHttpServer::Response::html(autoPrintPage));
    QVERIFY(openWindow(QStringLiteral("/print"), QStringLiteral("print")));
    // Created on first use; the tests reach it the way the window does.
    m_printer = qobject_cast<PagePrinter *>(m_harness->made(QStringLiteral("pagePrinter")));
    QVERIFY(m_printer);
}

void TestPrinting::printRequestsReachThePrinter()
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
    const int tabs = m_harness->tabCount();
    runJavaScript(QStringLiteral("window.open('/autoprint')"));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 3, 20000);
    QCOMPARE(m_harness->tabCount(), tabs + 1);
    QCOMPARE(finished.at(2).at(0).toBool(), true);
    QCOMPARE(printedPages(Qt::blue), 1);
    m_harness->closeTab(m_harness->tabCount() - 1);
    m_harness->setCurrentIndex(0);
    m_printer->setPrinterChooser(nullptr);
}

void TestPrinting::declinedPrintPrintsNothing()
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
    m_harness->addTab(QStringLiteral("doomed"), m_server.url(QStringLiteral("/print")));
    QTRY_COMPARE_WITH_TIMEOUT(m_harness->currentView().title(), QStringLiteral("print"), 10000);
    QQuickItem *doomed = m_harness->currentView().item();
    QVERIFY(doomed);
    m_printer->setPrinterChooser([&](QPrinter *printer) {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(m_appDir->filePath(QStringLiteral("never.pdf")));
        m_harness->closeTab(m_harness->tabCount() - 1);
        m_harness->setCurrentIndex(0);
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

FENESTRA_TEST_MAIN(TestPrinting)
#include "tst_printing.moc"
