#pragma once

#include "companyserver.h"
#include "dayplan.h"
#include "testenvironment.h"
#include "windowharness.h"

#include <QTemporaryDir>

#include <memory>

class PagePrinter;

// The real window in this process, doing a working day's steps on the company
// server's pages the way a user does them. With `foreign` the pages come from
// a host that is not the start address's, so they get no bridge, and a
// download (which needs it) is a navigation instead.
class WorkingDay
{
public:
    WorkingDay(CompanyServer &server, bool foreign);

    // Opens the window on the start page; false when it does not show.
    bool open();
    // Does step `n` of the day; false when it did not come to its end in time.
    bool run(Step step, int n);

    // What the window holds: the objects below it and the top-level widgets
    // that exist (progress windows that were never freed would show here).
    int windowObjects() const;
    static int widgets();

private:
    bool navigate(int n);
    bool openTab(int n);
    bool download(int n);
    bool print();
    bool crash();
    bool waitForCurrent(const QString &title);
    QString address(const QString &pathAndQuery) const;

    // Tabs beside the first that stay open; the page's next one closes the oldest.
    static constexpr int keptTabs = 4;

    CompanyServer &m_server;
    const bool m_foreign;
    TemporaryAppDir m_appDir;
    QTemporaryDir m_prints;
    std::unique_ptr<WindowHarness> m_harness;
    PagePrinter *m_printer = nullptr;
};
