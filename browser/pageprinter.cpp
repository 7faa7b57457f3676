#include "browser/pageprinter.h"

#include "config/logging.h"

#include <QJSEngine>
#include <QPageSize>
#include <QPainter>
#include <QPdfDocument>
#include <QPrintDialog>
#include <QPrinter>
#include <QTemporaryDir>

namespace {

// Enough for sharp text and barcodes on labels, without page images that run
// into hundreds of megabytes on a 1200 dpi printer.
constexpr int maximumDpi = 300;

bool choosePrinterInDialog(QPrinter *printer)
{
    QPrintDialog dialog(printer);
    dialog.setWindowTitle(QObject::tr("打印"));
    return dialog.exec() == QDialog::Accepted;
}

} // namespace

PagePrinter::PagePrinter(QObject *parent) : QObject(parent), m_chooser(choosePrinterInDialog) { }

PagePrinter::~PagePrinter() = default;

void PagePrinter::setPrinterChooser(PrinterChooser chooser)
{
    m_chooser = std::move(chooser);
}

void PagePrinter::print(QObject *view)
{
    QJSEngine *engine = view ? qjsEngine(view) : nullptr;
    if (isBusy() || !engine)
        return;

    m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    m_view = view;
    Q_EMIT busyChanged();
    // The dialog waits in a nested event loop, in which the tab may go.
    if (!m_chooser(m_printer.get()) || !m_view) {
        finish(false);
        return;
    }

    m_workDir = std::make_unique<QTemporaryDir>();
    if (!m_workDir->isValid()) {
        finish(false);
        return;
    }
    connect(view, SIGNAL(pdfPrintingFinished(QString, bool)), this, SLOT(pdfReady(QString, bool)));
    // A tab closed while its PDF is being made never answers.
    connect(view, &QObject::destroyed, this, [this] { finish(false); });

    // The view's paper sizes carry the values of QPageSize's identifiers.
    const QPageLayout layout = m_printer->pageLayout();
    QPageSize::PageSizeId paper = layout.pageSize().id();
    if (paper == QPageSize::Custom)
        paper = QPageSize::A4;
    QJSValue viewValue = engine->toScriptValue(view);
    viewValue.property(QStringLiteral("printToPdf"))
            .callWithInstance(viewValue,
                              { m_workDir->filePath(QStringLiteral("page.pdf")), int(paper),
                                int(layout.orientation()) });
}

bool PagePrinter::printPdf(const QString &pdfPath, QPrinter *printer)
{
    QPdfDocument document;
    if (document.load(pdfPath) != QPdfDocument::Error::None || document.pageCount() == 0)
        return false;

    int first = 0;
    int last = document.pageCount() - 1;
    if (printer->printRange() == QPrinter::PageRange) {
        first = qMax(printer->fromPage() - 1, 0);
        last = qMin(printer->toPage() - 1, last);
    }
    if (first > last)
        return false;

    // The page already carries the margins the engine laid it out with.
    printer->setFullPage(true);
    QPainter painter;
    if (!painter.begin(printer))
        return false;
    const QSizeF area = printer->pageLayout().fullRectPixels(printer->resolution()).size();
    const int dpi = qMin(printer->resolution(), maximumDpi);
    for (int page = first; page <= last; ++page) {
        if (page > first)
            printer->newPage();
        const QSize imageSize = (document.pagePointSize(page) * dpi / 72.0).toSize();
        const QImage image = document.render(page, imageSize);
        painter.drawImage(QRectF(QPointF(0, 0), QSizeF(imageSize).scaled(area, Qt::KeepAspectRatio)), image);
    }
    return painter.end();
}

void PagePrinter::pdfReady(const QString &filePath, bool success)
{
    if (!m_workDir || filePath != m_workDir->filePath(QStringLiteral("page.pdf")))
        return;
    const bool printed = success && printPdf(filePath, m_printer.get());
    if (!printed)
        qCDebug(lcBrowser).noquote() << "print failed:"
                                     << (success ? "the printer refused the job" : "no PDF of the page");
    finish(printed);
}

void PagePrinter::finish(bool printed)
{
    if (m_view)
        disconnect(m_view, nullptr, this, nullptr);
    m_view.clear();
    m_workDir.reset();
    m_printer.reset();
    Q_EMIT busyChanged();
    Q_EMIT finished(printed);
}
