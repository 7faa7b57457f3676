// A working day in the real window against a loopback company server:
// navigations through order tables, photos, a chart and a script-built report,
// tabs that the page opens and the window closes again, downloads through the
// bridge with its progress window, prints to PDF and renderer crashes, spread
// evenly over the day. Prints the memory (PSS) of the whole process tree, and
// the shell's own share, at each hundredth of the day, then its growth from
// the second tenth (the first is warm-up) to the last against the goal.
//
//   fenestra_bench_workingday [--steps N | --quick] [--pause S] [--foreign] [--plot FILE]
//
// Ctrl+C (or SIGTERM, as from timeout) ends the day after the current step and
// reports what was measured; the temporary folders go with it.
#include "dayplan.h"
#include "memoryday.h"
#include "processtree.h"
#include "testenvironment.h"
#include "workingday.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTextStream>
#include <QtWebEngineQuick>

#include <csignal>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t interrupted = 0;

const char *nameOf(Step step)
{
    switch (step) {
    case Step::Navigate:
        return "navigation";
    case Step::OpenTab:
        return "tab";
    case Step::Download:
        return "download";
    case Step::Print:
        return "print";
    case Step::Crash:
        return "crash";
    }
    return "";
}

double mib(qint64 kib)
{
    return double(kib) / 1024;
}

// A user reading the page; the event loop runs meanwhile, as it would.
void pause(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!interrupted && clock.elapsed() < ms)
        QTest::qWait(int(std::min<qint64>(100, ms - clock.elapsed())));
}

} // namespace

int main(int argc, char *argv[])
{
    prepareTestEnvironment();
    QtWebEngineQuick::initialize();
    QApplication app(argc, argv);
    // The window's own texts, as a user's shell has them.
    useChineseLanguage();
    QCommandLineParser options;
    options.addHelpOption();
    options.addOptions({
            { QStringLiteral("steps"), QStringLiteral("Steps of the day (full day: 2470)."),
              QStringLiteral("N") },
            { QStringLiteral("quick"), QStringLiteral("A tenth of the day.") },
            { QStringLiteral("pause"), QStringLiteral("Seconds of reading after each step."),
              QStringLiteral("S") },
            { QStringLiteral("foreign"), QStringLiteral("Pages from a host without the bridge.") },
            { QStringLiteral("plot"), QStringLiteral("Writes an SVG plot of memory over the day."),
              QStringLiteral("FILE") },
    });
    options.process(app);
    const int fullDay = DayPlan().total();
    const int steps = options.isSet(QStringLiteral("steps"))
            ? std::max(100, options.value(QStringLiteral("steps")).toInt())
            : (options.isSet(QStringLiteral("quick")) ? fullDay / 10 : fullDay);
    const int pauseMs = qRound(options.value(QStringLiteral("pause")).toDouble() * 1000);
    const bool foreign = options.isSet(QStringLiteral("foreign"));
    const DayPlan plan = DayPlan::scaledTo(steps);
    const QList<Step> day = plan.schedule();

    QTextStream out(stdout);
    out << QStringLiteral("Qt %1, %2 steps: %3 navigations, %4 tabs, %5 downloads, %6 prints, %7 crashes; "
                          "reading %8 s after each%9\n")
                    .arg(QString::fromLatin1(qVersion()))
                    .arg(day.size())
                    .arg(plan.navigations)
                    .arg(plan.tabs)
                    .arg(plan.downloads)
                    .arg(plan.prints)
                    .arg(plan.crashes)
                    .arg(pauseMs / 1000.0)
                    .arg(foreign ? QStringLiteral(", pages without the bridge (downloads navigate)")
                                 : QString());
    out.flush();

    CompanyServer server;
    if (!server.listen()) {
        out << "cannot listen on loopback\n";
        return 1;
    }
    WorkingDay user(server, foreign);
    if (!user.open()) {
        out << "the window did not show its start page\n";
        return 1;
    }
    for (const int signal : { SIGINT, SIGTERM })
        std::signal(signal, [](int) { interrupted = 1; });

    const ProcessTree tree(getpid());
    MemoryDay memory;
    QElapsedTimer clock;
    clock.start();
    int failed = 0;
    int done = 0;
    while (done < day.size() && !interrupted) {
        const Step step = day.at(done);
        if (!user.run(step, done)) {
            ++failed;
            out << "step " << done + 1 << " (" << nameOf(step) << ") did not come to its end\n";
        }
        ++done;
        pause(pauseMs);
        const int hundredth = done * 100 / day.size();
        if (hundredth == (done - 1) * 100 / day.size())
            continue;
        const MemoryDay::Reading reading { hundredth, done, tree.pssKiB(), ProcessTree::pssKiB(getpid()) };
        memory.add(reading);
        out << QStringLiteral(
                       "%1/100 step %2, %3 s: tree %4 MiB, shell %5 MiB, window objects %6, widgets %7\n")
                        .arg(hundredth, 3)
                        .arg(done, 4)
                        .arg(clock.elapsed() / 1000, 4)
                        .arg(mib(reading.treeKiB), 6, 'f', 1)
                        .arg(mib(reading.shellKiB), 6, 'f', 1)
                        .arg(user.windowObjects())
                        .arg(WorkingDay::widgets());
        out.flush();
    }

    if (interrupted)
        out << "interrupted after step " << done << " of " << day.size() << "\n";
    out << QStringLiteral("%1 steps in %2 min, %3 did not come to their end\n")
                    .arg(done)
                    .arg(clock.elapsed() / 60000.0, 0, 'f', 1)
                    .arg(failed);
    QString title =
            QStringLiteral("Working day, Qt %1, %2 steps").arg(QString::fromLatin1(qVersion())).arg(done);
    if (memory.hasGrowth()) {
        out << QStringLiteral(
                       "first hour %1 MiB (shell %2), last hour %3 MiB (shell %4), growth %5 % (shell %6 %)"
                       "  [goal: growth <= %7 %: %8]\n")
                        .arg(memory.firstHourMiB(), 0, 'f', 1)
                        .arg(memory.firstHourMiB(false), 0, 'f', 1)
                        .arg(memory.lastHourMiB(), 0, 'f', 1)
                        .arg(memory.lastHourMiB(false), 0, 'f', 1)
                        .arg(memory.growthPercent(), 0, 'f', 1)
                        .arg(memory.growthPercent(false), 0, 'f', 1)
                        .arg(MemoryDay::goalPercent)
                        .arg(memory.goalMet() ? QStringLiteral("met") : QStringLiteral("not met"));
        title += QStringLiteral(": %1 → %2 MiB, growth %3 %")
                         .arg(memory.firstHourMiB(), 0, 'f', 1)
                         .arg(memory.lastHourMiB(), 0, 'f', 1)
                         .arg(memory.growthPercent(), 0, 'f', 1);
    } else {
        out << "too few readings for the growth (twenty hundredths are needed)\n";
    }
    if (options.isSet(QStringLiteral("plot"))) {
        QFile plot(options.value(QStringLiteral("plot")));
        if (!plot.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || plot.write(memory.svg(title).toUtf8()) < 0)
            out << "cannot write " << plot.fileName() << "\n";
    }
    return failed == 0 ? 0 : 1;
}
