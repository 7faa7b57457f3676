#include "workingday.h"

#include "browser/pageprinter.h"

#include <QApplication>
#include <QFile>
#include <QPrinter>
#include <QQuickWindow>
#include <QTest>

#include <csignal>

namespace {
constexpr int pageTimeoutMs = 30000;
} // namespace

WorkingDay::WorkingDay(CompanyServer &server, bool foreign) : m_server(server), m_foreign(foreign) { }

QString WorkingDay::address(const QString &pathAndQuery) const
{
    return m_server.url(pathAndQuery, QStringLiteral("127.0.0.1")).toString();
}

bool WorkingDay::open()
{
    // The bridge serves the start address's host; a start address on another
    // name of loopback leaves the day's pages on 127.0.0.1 without it.
    const QString startHost = m_foreign ? QStringLiteral("localhost") : QStringLiteral("127.0.0.1");
    m_harness = std::make_unique<WindowHarness>(m_server.url(QStringLiteral("/start"), startHost));
    if (!m_harness->window() || !waitForCurrent(QStringLiteral("start")))
        return false;
    m_printer = qobject_cast<PagePrinter *>(m_harness->made(QStringLiteral("pagePrinter")));
    if (!m_printer)
        return false;
    // The print dialog, answered as a user who prints to a PDF file.
    m_printer->setPrinterChooser([this](QPrinter *printer) {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(m_prints.filePath(QStringLiteral("print.pdf")));
        return true;
    });
    return true;
}

bool WorkingDay::run(Step step, int n)
{
    switch (step) {
    case Step::Navigate:
        return navigate(n);
    case Step::OpenTab:
        return openTab(n);
    case Step::Download:
        return m_foreign ? navigate(n) : download(n);
    case Step::Print:
        return print();
    case Step::Crash:
        return crash();
    }
    return false;
}

bool WorkingDay::waitForCurrent(const QString &title)
{
    return QTest::qWaitFor(
            [&] {
                const TabView view = m_harness->currentView();
                return view.isLoaded() && view.title() == title;
            },
            pageTimeoutMs);
}

bool WorkingDay::navigate(int n)
{
    const QStringList pages = CompanyServer::pages();
    return m_harness->load(QUrl(address(CompanyServer::pagePath(pages.at(n % pages.size()), n))));
}

bool WorkingDay::openTab(int n)
{
    const int before = m_harness->tabCount();
    m_harness->runJavaScript(QStringLiteral("window.open('%1'); true")
                                     .arg(CompanyServer::pagePath(QStringLiteral("orders"), n)));
    if (!QTest::qWaitFor([&] { return m_harness->tabCount() == before + 1; }, pageTimeoutMs)
        || !waitForCurrent(QStringLiteral("orders %1").arg(n)))
        return false;
    if (m_harness->tabCount() > 1 + keptTabs) {
        // The oldest beside the first goes, as its close button takes it.
        m_harness->closeTab(1);
        m_harness->setCurrentIndex(m_harness->tabCount() - 1);
    }
    return true;
}

bool WorkingDay::download(int n)
{
    // The page asks the bridge, which shows its progress window while it
    // fetches, once the bridge has arrived after the page's load.
    if (!QTest::qWaitFor(
                [&] {
                    return m_harness->runJavaScript(QStringLiteral("typeof zx")) == QStringLiteral("object");
                },
                pageTimeoutMs))
        return false;
    m_harness->runJavaScript(
            QStringLiteral("window.dayFile = '';"
                           "zx.downloadFile(location.origin + '/files/drawing-%1.dwg', 'downloads', '',"
                           " function(path) { window.dayFile = 'stored:' + path; }); true")
                    .arg(n));
    QString path;
    const bool answered = QTest::qWaitFor(
            [&] {
                path = m_harness->runJavaScript(QStringLiteral("window.dayFile")).toString();
                return path.startsWith(QStringLiteral("stored:"));
            },
            pageTimeoutMs);
    if (!answered)
        return false;
    path = path.mid(7);
    const bool stored = !path.isEmpty() && QFile(path).size() == CompanyServer::fileBytes;
    // Stored files would fill the disk over a day; memory is what is measured.
    if (!path.isEmpty())
        QFile::remove(path);
    return stored;
}

bool WorkingDay::print()
{
    bool finished = false;
    bool printed = false;
    const QMetaObject::Connection connection =
            QObject::connect(m_printer, &PagePrinter::finished, [&](bool ok) {
                finished = true;
                printed = ok;
            });
    // From a task of the page's own: window.print() holds its script until the print is done.
    m_harness->runJavaScript(QStringLiteral("setTimeout(function() { window.print(); }, 0); true"));
    const bool done = QTest::qWaitFor([&] { return finished; }, pageTimeoutMs);
    QObject::disconnect(connection);
    const QString pdf = m_prints.filePath(QStringLiteral("print.pdf"));
    printed = done && printed && QFile(pdf).size() > 0;
    QFile::remove(pdf);
    return printed;
}

bool WorkingDay::crash()
{
    TabView view = m_harness->currentView();
    const qint64 renderer = view.renderProcessPid();
    const QString title = view.title();
    if (renderer <= 0 || ::kill(pid_t(renderer), SIGKILL) != 0)
        return false;
    // The first crash in a minute reloads by itself; a later one shows the
    // notice, whose button the user presses.
    QQuickItem *notice = view.child(QStringLiteral("crashNotice"));
    const auto back = [&] { return view.renderProcessPid() > 0 && view.renderProcessPid() != renderer; };
    if (!QTest::qWaitFor([&] { return (notice && notice->isVisible()) || back(); }, pageTimeoutMs))
        return false;
    if (notice && notice->isVisible())
        view.reload();
    return QTest::qWaitFor(back, pageTimeoutMs) && waitForCurrent(title);
}

int WorkingDay::windowObjects() const
{
    return m_harness->window() ? int(m_harness->window()->findChildren<QObject *>().size()) : 0;
}

int WorkingDay::widgets()
{
    return int(QApplication::topLevelWidgets().size());
}
