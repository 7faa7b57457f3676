#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <memory>

class QPrinter;
class QTemporaryDir;

// Prints the page of a web view: the user picks a printer and its paper in
// the platform's print dialog, the engine lays the page out as a PDF on that
// paper, and the PDF's pages go to the printer.
class PagePrinter : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool busy READ isBusy NOTIFY busyChanged)

public:
    // Sets up `printer` for one print job; false when the user declines.
    using PrinterChooser = std::function<bool(QPrinter *printer)>;

    explicit PagePrinter(QObject *parent = nullptr);
    ~PagePrinter() override;

    // The platform print dialog unless replaced; tests pick a PDF file here.
    void setPrinterChooser(PrinterChooser chooser);

    bool isBusy() const { return m_printer != nullptr; }

    // Prints the page of `view`, a WebEngineView. Ignored while a job is running.
    Q_INVOKABLE void print(QObject *view);

    // Paints the pages of a PDF file onto the printer, within the printer's
    // page range; false when the file cannot be read or the printer not opened.
    static bool printPdf(const QString &pdfPath, QPrinter *printer);

Q_SIGNALS:
    void busyChanged();
    void finished(bool printed);

private Q_SLOTS:
    void pdfReady(const QString &filePath, bool success);

private:
    void finish(bool printed);

    PrinterChooser m_chooser;
    std::unique_ptr<QPrinter> m_printer;
    std::unique_ptr<QTemporaryDir> m_workDir;
    QPointer<QObject> m_view;
};
