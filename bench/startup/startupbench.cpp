// Start-up and memory of the shell against a bare Qt WebEngine window on the
// same loopback page. Both are started alternately, each with an empty profile
// (first start) and again on the profile that start left (second start); the
// time runs from the process start to the page's first script, which fetches a
// beacon. Memory is the proportional set size of the whole process tree two
// seconds after the beacon. The shell runs twice: with its index service
// answering at once, and answering after 300 ms as on a slow factory network.
// Prints medians, the ratios shell/bare and what the slow answer costs, for
// this build and, with --before PATH, another build started in turn with it.
#include "processtree.h"
#include "shellprocess.h"
#include "testhttpserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace {

constexpr int settleMs = 2000;
constexpr int beaconTimeoutMs = 60000;
constexpr int slowIndexMs = 300;
// What the shell is held to against the bare window.
constexpr double maxStartRatio = 1.10;
constexpr double maxExtraMiB = 15.0;
constexpr qint64 maxSlowIndexCostMs = 100;

struct Sample
{
    qint64 startMs = -1;
    qint64 pssKiB = -1;
};

struct Program
{
    QString name;
    QString executable;
    QStringList arguments;
    // The shell reads its start address from config.dll.
    bool isShell = false;
    // How long the index service waits before it answers this program.
    int indexDelayMs = 0;
};

qint64 median(QList<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(values.size() / 2);
}

class Bench
{
public:
    explicit Bench(TestHttpServer &pages) : m_pages(pages)
    {
        QObject::connect(&m_pages, &TestHttpServer::requestReceived,
                         [this](const TestHttpServer::Request &request) {
                             if (request.path() == "/beacon" && m_clock.isValid() && m_beaconMs < 0) {
                                 m_beaconMs = m_clock.elapsed();
                                 m_loop.quit();
                             }
                         });
        m_timeout.setSingleShot(true);
        QObject::connect(&m_timeout, &QTimer::timeout, &m_loop, &QEventLoop::quit);
    }

    // Starts the program in its folder and home, as they are, and ends it again.
    Sample start(ShellProcess &program, const QStringList &arguments)
    {
        m_beaconMs = -1;
        m_clock.start();
        program.start(arguments);
        // One timer for all starts: a single shot left by an earlier start would end this one early.
        m_timeout.start(beaconTimeoutMs);
        m_loop.exec();
        m_timeout.stop();

        Sample sample;
        sample.startMs = m_beaconMs;
        if (m_beaconMs >= 0) {
            QEventLoop settle;
            QTimer::singleShot(settleMs, &settle, &QEventLoop::quit);
            settle.exec();
            sample.pssKiB = ProcessTree(program.process().processId()).pssKiB();
        }
        if (!program.stop())
            program.process().kill();
        program.process().waitForFinished(5000);
        return sample;
    }

private:
    TestHttpServer &m_pages;
    QElapsedTimer m_clock;
    QEventLoop m_loop;
    QTimer m_timeout;
    qint64 m_beaconMs = -1;
};

} // namespace

int main(int argc, char *argv[])
{
    useHeadlessWebEngine();
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    // At least seven runs of each, for a steady median; more with --runs N.
    const int runsArgument = app.arguments().indexOf(QStringLiteral("--runs"));
    const int runs = runsArgument > 0 ? std::max(1, app.arguments().value(runsArgument + 1).toInt()) : 7;
    // Another build of the shell instead of this one (--shell), or beside it
    // (--before): starts of the two builds alternate, so that both meet the same
    // machine, however its load drifts.
    const auto option = [&](const QString &name) {
        const int index = app.arguments().indexOf(name);
        return index > 0 ? app.arguments().value(index + 1) : QString();
    };
    QList<std::pair<QString, QString>> shellBuilds { { QStringLiteral("shell"),
                                                       option(QStringLiteral("--shell")) } };
    if (shellBuilds.first().second.isEmpty())
        shellBuilds.first().second = QStringLiteral(FENESTRA_TEST_SHELL);
    if (!option(QStringLiteral("--before")).isEmpty())
        shellBuilds.append({ QStringLiteral("before"), option(QStringLiteral("--before")) });

    // The company page: its first script fetches the beacon.
    TestHttpServer pages;
    if (!pages.listen()) {
        out << "cannot listen on loopback\n";
        return 1;
    }
    pages.setFallback([](const TestHttpServer::Request &) {
        return TestHttpServer::Response::html(
                "<!doctype html><html><head><meta charset=\"utf-8\"><title>bench</title>"
                "<script>fetch('/beacon')</script></head><body>门窗</body></html>");
    });
    pages.route("/beacon", TestHttpServer::Response::text("ok"));

    // The shell's index service, answering after the current program's delay.
    TestHttpServer index;
    if (!index.listen(FENESTRA_TEST_INDEX_PORT)) {
        out << "cannot listen on the index service's port " << FENESTRA_TEST_INDEX_PORT << "\n";
        return 1;
    }
    int indexDelayMs = 0;
    index.route("/appindex/index.php", [&](const TestHttpServer::Request &) {
        TestHttpServer::Response response = TestHttpServer::Response::text(
                R"({"return":0,"data":{"code_version":"v1","is_domain":"0"}})", "application/json");
        response.delayMs = indexDelayMs;
        return response;
    });

    const QString pageAddress = pages.url(QStringLiteral("/bench/v1/")).toString();
    const QByteArray config = QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<hallinfo>
    <server url="http://127.0.0.1" hid="0" isoffline="0" path="bench"/>
    <web port="%1"/>
</hallinfo>
)")
                                      .arg(pages.port())
                                      .toUtf8();

    const QString bare = QStringLiteral("bare window");
    QList<Program> programs { { bare, QStringLiteral(FENESTRA_BENCH_BARE), { pageAddress } } };
    const auto slowName = [](const QString &shell) {
        return shell + QStringLiteral(", index %1 ms").arg(slowIndexMs);
    };
    for (const auto &[name, build] : std::as_const(shellBuilds)) {
        programs.append({ name, build, {}, true });
        programs.append({ slowName(name), build, {}, true, slowIndexMs });
    }

    Bench bench(pages);
    QHash<QString, QList<qint64>> firstMs, secondMs, pssKiB;
    // A start whose page never reports (the engine under load on a busy
    // machine) is run again, a few times at most.
    int retriesLeft = 3;
    for (int run = 0; run < runs; ++run) {
        // Rotate which program goes first, so none always meets a warmer cache.
        for (int i = 0; i < programs.size(); ++i) {
            const Program &program = programs.at((run + i) % programs.size());
            ShellProcess process(program.executable);
            if (program.isShell)
                process.writeFile(QStringLiteral("config.dll"), config);
            indexDelayMs = program.indexDelayMs;
            const Sample first = bench.start(process, program.arguments);
            const Sample second = bench.start(process, program.arguments);
            if (first.startMs < 0 || second.startMs < 0) {
                out << program.name << ": the page's beacon never arrived\n" << process.log();
                if (retriesLeft-- == 0)
                    return 1;
                --i;
                continue;
            }
            firstMs[program.name] << first.startMs;
            secondMs[program.name] << second.startMs;
            pssKiB[program.name] << second.pssKiB;
            out << QStringLiteral("run %1 %2: first %3 ms, second %4 ms, PSS %5 MiB\n")
                            .arg(run + 1)
                            .arg(program.name, -22)
                            .arg(first.startMs)
                            .arg(second.startMs)
                            .arg(double(second.pssKiB) / 1024.0, 0, 'f', 1);
            out.flush();
        }
    }

    // Each figure with the goal it is held to.
    const auto goal = [](bool met, const QString &text) {
        return QStringLiteral("  [goal %1: %2]")
                .arg(text, met ? QStringLiteral("met") : QStringLiteral("not met"));
    };
    auto row = [&](const QString &shell, const QString &what, const QHash<QString, QList<qint64>> &values,
                   double scale, const QString &unit, int decimals,
                   const std::function<QString(double bare, double shell)> &goalOf) {
        const double b = double(median(values.value(bare))) * scale;
        const double s = double(median(values.value(shell))) * scale;
        out << QStringLiteral("%1 bare %2 %5, shell %3 %5, ratio %4x, difference %6 %5")
                        .arg(what, -14)
                        .arg(b, 0, 'f', decimals)
                        .arg(s, 0, 'f', decimals)
                        .arg(s / b, 0, 'f', 2)
                        .arg(unit)
                        .arg(s - b, 0, 'f', decimals)
            << goalOf(b, s) << "\n";
    };
    const auto ratioGoal = [&](double b, double s) {
        return goal(s / b <= maxStartRatio, QStringLiteral("ratio <= %1x").arg(maxStartRatio, 0, 'f', 2));
    };
    const auto memoryGoal = [&](double b, double s) {
        return goal(s - b <= maxExtraMiB, QStringLiteral("difference <= %1 MiB").arg(maxExtraMiB));
    };
    // What the index service's delay adds to the shell's start, of the delay itself.
    auto cost = [&](const QString &shell, const QString &what, const QHash<QString, QList<qint64>> &values) {
        const qint64 added = median(values.value(slowName(shell))) - median(values.value(shell));
        out << QStringLiteral("%1 index answering after %2 ms costs %3 ms")
                        .arg(what, -14)
                        .arg(slowIndexMs)
                        .arg(added)
            << goal(added <= maxSlowIndexCostMs, QStringLiteral("<= %1 ms").arg(maxSlowIndexCostMs)) << "\n";
    };
    out << QStringLiteral("medians of %1 runs each, Qt %2\n").arg(runs).arg(QString::fromLatin1(qVersion()));
    for (const auto &[shell, build] : std::as_const(shellBuilds)) {
        out << shell << ": " << build << "\n";
        row(shell, QStringLiteral("first start"), firstMs, 0.001, QStringLiteral("s"), 3, ratioGoal);
        row(shell, QStringLiteral("second start"), secondMs, 0.001, QStringLiteral("s"), 3, ratioGoal);
        row(shell, QStringLiteral("memory (PSS)"), pssKiB, 1.0 / 1024.0, QStringLiteral("MiB"), 1,
            memoryGoal);
        cost(shell, QStringLiteral("first start"), firstMs);
        cost(shell, QStringLiteral("second start"), secondMs);
    }
    return 0;
}
