#include "check.h"
#include "launcher/crashkind.h"
#include "launcher/installlayout.h"
#include "launcher/installstate.h"
#include "launcher/minidump.h"
#include "launcher/process.h"
#include "launcher/startplan.h"

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>

#ifdef _WIN32
#include <atomic>
#include <thread>
#include <windows.h>
#endif
#include <vector>

namespace fs = std::filesystem;
using Check::readFile;
using Check::readState;
using Check::utf8;
using Check::writeFile;

namespace {

InstallState::State state(const std::string &current, const std::string &pending, const std::string &trial,
                          int trialStarts, std::vector<std::string> bad = {})
{
    InstallState::State s;
    s.current = current;
    s.pending = pending;
    s.trial = trial;
    s.trialStarts = trialStarts;
    s.bad = std::move(bad);
    return s;
}

InstallState::State withPrevious(InstallState::State s, const std::string &previous)
{
    s.previous = previous;
    return s;
}

InstallState::State installed(InstallState::State s, const std::string &version)
{
    s.installed = version;
    return s;
}

void decidesWhatToStart()
{
    struct Row
    {
        const char *name;
        InstallState::State before;
        std::vector<std::string> complete;
        std::string version;
        bool trial;
        InstallState::State after;
        std::string logged;
    };
    const std::vector<std::string> both = { "1.0.0", "1.1.0" };
    const std::vector<Row> rows = {
        { "current alone", state("1.0.0", "", "", 0), both, "1.0.0", false, state("1.0.0", "", "", 0),
          "started 1.0.0" },
        { "pending becomes the trial", state("1.0.0", "1.1.0", "", 0), both, "1.1.0", true,
          state("1.0.0", "", "1.1.0", 1), "started on trial 1.1.0" },
        { "second trial start", state("1.0.0", "", "1.1.0", 1), both, "1.1.0", true,
          state("1.0.0", "", "1.1.0", 2), "start 2 of 2" },
        { "two starts never healthy: bad", state("1.0.0", "", "1.1.0", 2), both, "1.0.0", false,
          state("1.0.0", "", "", 0, { "1.1.0" }), "rolled back" },
        { "a bad version is never tried again", state("1.0.0", "1.1.0", "", 0, { "1.1.0" }), both, "1.0.0",
          false, state("1.0.0", "", "", 0, { "1.1.0" }), "dropped" },
        { "pending without its marker",
          state("1.0.0", "1.1.0", "", 0),
          { "1.0.0" },
          "1.0.0",
          false,
          state("1.0.0", "", "", 0),
          "dropped" },
        { "a new pending replaces a running trial",
          state("1.0.0", "1.2.0", "1.1.0", 1),
          { "1.0.0", "1.1.0", "1.2.0" },
          "1.2.0",
          true,
          state("1.0.0", "", "1.2.0", 1),
          "started on trial 1.2.0" },
        { "trial folder gone",
          state("1.0.0", "", "1.1.0", 1),
          { "1.0.0" },
          "1.0.0",
          false,
          state("1.0.0", "", "", 0),
          "dropped" },
        { "no current: the highest complete one",
          state("", "", "", 0),
          { "1.9.0", "1.10.0", "1.2.0" },
          "1.10.0",
          false,
          state("1.10.0", "", "", 0),
          "using 1.10.0" },
        { "current gone: never a bad one instead",
          state("2.0", "", "", 0, { "1.10.0" }),
          { "1.9.0", "1.10.0" },
          "1.9.0",
          false,
          state("1.9.0", "", "", 0, { "1.10.0" }),
          "using 1.9.0" },
        { "no current: the trial is not taken as current",
          state("", "", "1.1.0", 0),
          { "1.1.0" },
          "1.1.0",
          true,
          state("", "", "1.1.0", 1),
          "started on trial" },
        { "nothing complete",
          state("1.0.0", "", "", 0),
          {},
          "",
          false,
          state("", "", "", 0),
          "no complete version" },
        { "current gone: previous before the highest",
          withPrevious(state("2.0", "", "", 0), "1.9.0"),
          { "1.9.0", "1.10.0" },
          "1.9.0",
          false,
          withPrevious(state("1.9.0", "", "", 0), "1.9.0"),
          "using 1.9.0" },
        { "installed by IT: current, previous moves on, no longer bad, staged and trial dropped",
          installed(state("1.0.0", "1.2.0", "1.1.0", 1, { "0.9", "1.3.0" }), "1.3.0"),
          { "1.0.0", "1.1.0", "1.2.0", "1.3.0" },
          "1.3.0",
          false,
          withPrevious(state("1.3.0", "", "", 0, { "0.9" }), "1.0.0"),
          "installed 1.3.0, now the current version" },
        { "installed again: previous stays",
          installed(withPrevious(state("1.0.0", "", "", 0), "0.9"), "1.0.0"),
          { "0.9", "1.0.0" },
          "1.0.0",
          false,
          withPrevious(state("1.0.0", "", "", 0), "0.9"),
          "installed 1.0.0" },
        { "installed, but its folder is not complete",
          installed(state("1.0.0", "", "", 0), "1.1.0"),
          { "1.0.0" },
          "1.0.0",
          false,
          state("1.0.0", "", "", 0),
          "installed version 1.1.0 is not complete" },
    };
    for (const Row &row : rows) {
        InstallState::State s = row.before;
        const StartPlan::Start start = StartPlan::beforeStart(s, row.complete);
        CHECK(row.name, start.version == row.version);
        CHECK(row.name, start.trial == row.trial);
        CHECK(row.name, s.current == row.after.current && s.pending == row.after.pending);
        CHECK(row.name, s.trial == row.after.trial && s.trialStarts == row.after.trialStarts);
        CHECK(row.name, s.bad == row.after.bad && s.installed.empty());
        CHECK(row.name, s.previous == row.after.previous);
        std::string log;
        for (const std::string &line : start.log)
            log += line + '\n';
        CHECK(row.name, log.find(row.logged) != std::string::npos);
    }
}

StartPlan::Outcome ended(int code, bool firstFrame, bool crashed = false)
{
    StartPlan::Outcome outcome;
    outcome.exitCode = code;
    outcome.firstFrame = firstFrame;
    outcome.crashed = crashed;
    return outcome;
}

StartPlan::Outcome couldNotStart(bool started)
{
    StartPlan::Outcome outcome;
    outcome.started = started;
    outcome.notLoaded = started;
    outcome.exitCode = 127;
    return outcome;
}

void judgesHowAStartEnded()
{
    using StartPlan::Verdict;
    const std::vector<std::tuple<const char *, StartPlan::Outcome, Verdict>> rows = {
        { "closed after its window showed", ended(0, true), Verdict::Clean },
        { "ended before its window showed", ended(0, false), Verdict::Unproven },
        { "error after its window showed", ended(3, true), Verdict::Failed },
        { "crash after its window showed", ended(139, true, true), Verdict::Failed },
        { "crash before its window showed", ended(139, false, true), Verdict::FailedEarly },
        { "error before its window showed", ended(255, false), Verdict::FailedEarly },
        { "program missing", couldNotStart(false), Verdict::CannotStart },
        { "a library missing", couldNotStart(true), Verdict::CannotStart },
    };
    for (const auto &row : rows)
        CHECK(std::get<0>(row), StartPlan::judge(std::get<1>(row)) == std::get<2>(row));
}

void decidesAfterTheShellEnded()
{
    struct Row
    {
        const char *name;
        std::string started;
        bool trial;
        InstallState::State reread;
        StartPlan::Outcome outcome;
        std::vector<std::string> triedBefore;
        std::string next;
        bool gaveUp;
        InstallState::State after;
    };
    const std::vector<std::string> three = { "0.9.0", "1.0.0", "1.1.0" };
    const InstallState::State onTrial = state("1.0.0", "", "1.1.0", 1);
    const InstallState::State withOld = withPrevious(state("1.0.0", "", "", 0), "0.9.0");
    const std::vector<Row> rows = {
        { "trial ended abnormally",
          "1.1.0",
          true,
          onTrial,
          ended(3, true),
          {},
          "1.0.0",
          false,
          state("1.0.0", "", "", 0, { "1.1.0" }) },
        { "trial could not start",
          "1.1.0",
          true,
          onTrial,
          couldNotStart(false),
          {},
          "1.0.0",
          false,
          state("1.0.0", "", "", 0, { "1.1.0" }) },
        { "trial closed after its window showed: not counted",
          "1.1.0",
          true,
          onTrial,
          ended(0, true),
          {},
          "",
          false,
          state("1.0.0", "", "1.1.0", 0) },
        { "trial ended before its window showed: counted",
          "1.1.0",
          true,
          onTrial,
          ended(0, false),
          {},
          "",
          false,
          onTrial },
        { "trial became healthy, then crashed",
          "1.1.0",
          true,
          state("1.1.0", "", "", 0),
          ended(3, true, true),
          {},
          "",
          false,
          state("1.1.0", "", "", 0) },
        { "current crashed after its window showed",
          "1.0.0",
          false,
          withOld,
          ended(3, true, true),
          {},
          "",
          false,
          withOld },
        { "current could not start: previous at once",
          "1.0.0",
          false,
          withOld,
          couldNotStart(true),
          {},
          "0.9.0",
          false,
          withOld },
        { "current failed before its window showed: previous",
          "1.0.0",
          false,
          withOld,
          ended(3, false),
          {},
          "0.9.0",
          false,
          withOld },
        { "no previous: the highest other",
          "1.1.0",
          false,
          state("1.1.0", "", "", 0),
          couldNotStart(false),
          {},
          "1.0.0",
          false,
          state("1.1.0", "", "", 0) },
        { "previous failed too, the rest is on trial: nothing left",
          "0.9.0",
          false,
          withPrevious(state("1.0.0", "", "1.1.0", 1), "0.9.0"),
          ended(3, false),
          { "1.0.0" },
          "",
          true,
          withPrevious(state("1.0.0", "", "1.1.0", 1), "0.9.0") },
        { "trial failed without a current to go back to",
          "1.1.0",
          true,
          state("", "", "1.1.0", 1),
          ended(3, false),
          { "0.9.0", "1.0.0" },
          "",
          true,
          state("", "", "", 0, { "1.1.0" }) },
    };
    for (const Row &row : rows) {
        StartPlan::Start started;
        started.version = row.started;
        started.trial = row.trial;
        InstallState::State s = row.reread;
        StartPlan::Past past { row.triedBefore, {} };
        const StartPlan::After after = StartPlan::afterExit(s, started, row.outcome, three, past);
        CHECK(row.name, after.next.version == row.next && !after.next.trial);
        CHECK(row.name, after.gaveUp == row.gaveUp);
        CHECK(row.name, s.current == row.after.current && s.trial == row.after.trial);
        CHECK(row.name, s.trialStarts == row.after.trialStarts && s.bad == row.after.bad);
        CHECK(row.name,
              after.stateChanged
                      == (s.bad != row.reread.bad || s.trialStarts != row.reread.trialStarts
                          || s.crashes != row.reread.crashes));
        CHECK(row.name, s.crashes == (row.outcome.crashed ? 1 : 0));
        CHECK(row.name, std::find(past.tried.begin(), past.tried.end(), row.started) != past.tried.end());
    }
}

StartPlan::Outcome crashedIn(CrashKind::Kind kind, bool firstFrame, long long at = 0)
{
    StartPlan::Outcome outcome = ended(139, firstFrame, true);
    outcome.crashKind = kind;
    outcome.endedAtSeconds = at;
    return outcome;
}

// A crash in the graphics driver is survived a step down the ladder and never
// held against the version; one in our own code is, as any failure is.
void survivesGraphicsCrashes()
{
    using CrashKind::Kind;
    struct Row
    {
        const char *name;
        bool trial;
        int level;
        bool pinned;
        StartPlan::Outcome outcome;
        std::vector<long long> crashesBefore; // at the last level
        std::string next;
        bool nextTrial;
        int nextLevel, stateLevel;
        std::vector<std::string> bad;
        bool crashLoop;
    };
    const std::vector<Row> rows = {
        { "trial, in the driver before its window: one step down, same trial",
          true,
          0,
          false,
          crashedIn(Kind::Graphics, false),
          {},
          "1.1.0",
          true,
          1,
          1,
          {},
          false },
        { "current, in the driver after its window",
          false,
          1,
          false,
          crashedIn(Kind::Graphics, true),
          {},
          "1.0.0",
          false,
          2,
          2,
          {},
          false },
        { "trial, in our own code: rolled back",
          true,
          0,
          false,
          crashedIn(Kind::Own, true),
          {},
          "1.0.0",
          false,
          0,
          0,
          { "1.1.0" },
          false },
        { "trial, somewhere unknown: rolled back as today",
          true,
          2,
          false,
          crashedIn(Kind::Unknown, false),
          {},
          "1.0.0",
          false,
          0,
          0,
          { "1.1.0" },
          false },
        { "an error exit is no crash, whatever the summary",
          true,
          0,
          false,
          [] {
              StartPlan::Outcome o = ended(3, true);
              o.crashKind = Kind::Graphics;
              return o;
          }(),
          {},
          "1.0.0",
          false,
          0,
          0,
          { "1.1.0" },
          false },
        { "the last level: again",
          false,
          3,
          false,
          crashedIn(Kind::Graphics, true, 100),
          { 41 },
          "1.0.0",
          false,
          3,
          0,
          {},
          false },
        { "the last level, third crash within a minute: stop",
          true,
          3,
          false,
          crashedIn(Kind::Graphics, true, 100),
          { 41, 60 },
          "",
          false,
          0,
          0,
          {},
          true },
        { "pinned by IT: never climbs, the loop still stops",
          false,
          1,
          true,
          crashedIn(Kind::Graphics, false, 100),
          { 50, 99 },
          "",
          false,
          0,
          0,
          {},
          true },
        { "pinned by IT: again",
          true,
          0,
          true,
          crashedIn(Kind::Graphics, false, 100),
          {},
          "1.1.0",
          true,
          0,
          0,
          {},
          false },
    };
    const std::vector<std::string> both = { "1.0.0", "1.1.0" };
    for (const Row &row : rows) {
        StartPlan::Start started;
        started.version = row.trial ? "1.1.0" : "1.0.0";
        started.trial = row.trial;
        started.graphicsLevel = row.level;
        started.graphicsPinned = row.pinned;
        InstallState::State s = row.trial ? state("1.0.0", "", "1.1.0", 1) : state("1.0.0", "", "", 0);
        StartPlan::Past past { {}, row.crashesBefore };
        const StartPlan::After after = StartPlan::afterExit(s, started, row.outcome, both, past);
        CHECK(row.name, after.next.version == row.next && after.next.trial == row.nextTrial);
        CHECK(row.name, after.next.graphicsLevel == row.nextLevel && s.graphicsLevel == row.stateLevel);
        CHECK(row.name, s.bad == row.bad && after.crashLoop == row.crashLoop && !after.gaveUp);
        CHECK(row.name, s.trial == (row.trial && row.bad.empty() ? "1.1.0" : ""));
        CHECK(row.name,
              s.crashes == (row.outcome.crashed ? 1 : 0) && (after.stateChanged || !row.outcome.crashed));
    }
}

// Every crash of the launcher's own shell is counted with the file name of its
// module, which the channel's report carries: no folder, which may hold a
// user's name, and nothing that could break a line of the state.
void countsCrashes()
{
    struct Row
    {
        const char *name;
        bool alongside;
        int before;
        std::string module;
        int crashes;
        std::string lastModule;
    };
    const std::vector<Row> rows = {
        { "a Windows path", false, 0, "C:\\Users\\张三\\AppData\\igd10iumd64.dll", 1, "igd10iumd64.dll" },
        { "a Linux path", false, 4, "/usr/lib/x86_64-linux-gnu/dri/iris_dri.so", 5, "iris_dri.so" },
        { "not told", false, 1, "", 2, "" },
        { "characters a name may not carry", false, 0, "my driver\r\nbad=1.0;x.dll", 1,
          "my_driver__bad_1.0_x.dll" },
        { "a long name is cut", false, 0, std::string(100, 'a') + ".dll", 1, std::string(64, 'a') },
        { "counted up to a million", false, 1000000, "x.dll", 1000000, "x.dll" },
        { "a shell started alongside only handed over", true, 3, "x.dll", 3, "" },
    };
    for (const Row &row : rows) {
        StartPlan::Start started;
        started.version = "1.0.0";
        started.alongside = row.alongside;
        InstallState::State s = state("1.0.0", "", "", 0);
        s.crashes = row.before;
        StartPlan::Outcome outcome = crashedIn(CrashKind::Kind::Unknown, true);
        outcome.crashModule = row.module;
        StartPlan::Past past;
        StartPlan::afterExit(s, started, outcome, { "1.0.0" }, past);
        CHECK(row.name, s.crashes == row.crashes && s.lastCrashModule == row.lastModule);
        CHECK(row.name, s.lastCrashModule.empty() || InstallState::isModuleName(s.lastCrashModule));
    }
}

// The level a start runs at: kept with the Qt runtime it was learnt on, IT's pin first.
void choosesTheGraphicsLevel()
{
    struct Row
    {
        const char *name;
        int level;
        std::string runtime, now;
        int pinned;
        int startLevel;
        bool pinnedStart;
        int stateLevel;
        std::string stateRuntime;
        bool changed;
        std::string logged;
    };
    const std::string qt64 = "libQt6Core.so.6.4.2:6543210", qt68 = "libQt6Core.so.6.8.2:7001234";
    const std::vector<Row> rows = {
        { "a fresh state learns its runtime", 0, "", qt64, -1, 0, false, 0, qt64, true, "" },
        { "the same runtime keeps the level", 2, qt64, qt64, -1, 2, false, 2, qt64, false,
          "graphics level 2" },
        { "another runtime tries the default again", 3, qt64, qt68, -1, 0, false, 0, qt68, true,
          "back to level 0" },
        { "a runtime that cannot be told keeps it", 1, qt64, "", -1, 1, false, 1, qt64, false,
          "graphics level 1" },
        { "IT's pin wins and leaves the state", 1, qt64, qt64, 3, 3, true, 1, qt64, false, "pinned by IT" },
        { "IT pins the default", 2, qt64, qt64, 0, 0, true, 2, qt64, false,
          "graphics level 0, pinned by IT" },
    };
    for (const Row &row : rows) {
        InstallState::State s;
        s.graphicsLevel = row.level;
        s.graphicsRuntime = row.runtime;
        StartPlan::Start start;
        start.version = "1.0.0";
        std::vector<std::string> log;
        const bool changed = StartPlan::chooseGraphics(s, start, row.now, row.pinned, log);
        CHECK(row.name, changed == row.changed);
        CHECK(row.name, start.graphicsLevel == row.startLevel && start.graphicsPinned == row.pinnedStart);
        CHECK(row.name, s.graphicsLevel == row.stateLevel && s.graphicsRuntime == row.stateRuntime);
        CHECK(row.name,
              row.logged.empty() ? log.empty()
                                 : log.size() == 1 && log[0].find(row.logged) != std::string::npos);
    }
}

void startsAlongsideAnotherLauncher()
{
    struct Row
    {
        const char *name;
        InstallState::State state;
        std::vector<std::string> complete;
        std::string version;
    };
    const std::vector<std::string> both = { "1.0.0", "1.1.0" };
    const std::vector<Row> rows = {
        { "the trial runs", state("1.0.0", "", "1.1.0", 2), both, "1.1.0" },
        { "a pending version is not running yet", state("1.0.0", "1.1.0", "", 0), both, "1.0.0" },
        { "a trial given up is not running", state("1.0.0", "", "1.1.0", 1, { "1.1.0" }), both, "1.0.0" },
        { "current gone: the highest complete, not the pending one",
          state("2.0", "1.10.0", "", 0),
          { "1.9.0", "1.10.0" },
          "1.9.0" },
        { "nothing complete", state("1.0.0", "", "1.1.0", 1), {}, "" },
    };
    for (const Row &row : rows) {
        const StartPlan::Start start = StartPlan::alongside(row.state, row.complete);
        CHECK(row.name, start.version == row.version && !start.trial);
        CHECK(row.name, start.log.size() == 1 && start.log[0].find("another launcher") != std::string::npos);
    }
}

void splitsWindowsCommandLines()
{
    const std::vector<std::pair<std::wstring, std::wstring>> rows = {
        { L"fenestra.exe", L"" },
        { L"fenestra.exe --a b", L"--a b" },
        { L"\"C:\\Program Files\\F\\fenestra.exe\" \"x y\"  z", L"\"x y\"  z" },
        { L"\"C:\\a b\\fenestra.exe\"", L"" },
        { L"C:\\a\\fenestra.exe\t\t\"q\"", L"\"q\"" },
        { L"\"unterminated", L"" },
    };
    for (const auto &row : rows)
        CHECK("command line", Process::argumentsAfterProgram(row.first) == row.second);
}

// A test installation: the real launcher at its root, the stand-in shell in
// each version folder, doing what the table says.
class TestInstallation
{
public:
    TestInstallation() : m_root(m_dir.path() / fs::u8path("安装 root"))
    {
        const fs::path tests = fs::u8path(Process::executableDir());
#ifdef _WIN32
        const char *exe = ".exe";
#else
        const char *exe = "";
#endif
        m_fakeShell = tests / (std::string("fenestra_fake_shell") + exe);
        fs::create_directories(m_root / "update");
        // Built as the build names it, installed as `fenestra`.
        fs::copy_file(tests.parent_path() / FENESTRA_LAUNCHER_FILE, m_root / (std::string("fenestra") + exe));
        m_launcher = m_root / (std::string("fenestra") + exe);
    }

    // `behaviour` "missing": a complete folder whose program is gone, as when a
    // virus scanner took it away.
    void addVersion(const std::string &version, const std::string &behaviour, bool complete = true)
    {
        const fs::path folder = m_root / InstallLayout::versionsFolder / version;
        const fs::path shell = folder / fs::u8path(InstallLayout::shellInVersion);
        fs::create_directories(shell.parent_path());
        if (behaviour != "missing")
            fs::copy_file(m_fakeShell, shell);
#ifdef _WIN32
        if (behaviour.compare(0, 15, "crash-in-driver") == 0)
            fs::copy_file(m_fakeShell.parent_path() / "igd10iumd64.dll",
                          shell.parent_path() / "igd10iumd64.dll");
#endif
        writeFile(shell.parent_path() / "behaviour", behaviour);
        if (complete)
            writeFile(folder / InstallLayout::completeMarker, "");
    }

    // Runs the launcher from another working folder with arguments that need
    // quoting. On Windows a message box it shows meanwhile is read and closed
    // as a user would (its text in notice()); elsewhere the message goes to the
    // standard error stream.
    int start()
    {
        Process::Arguments arguments;
#ifdef _WIN32
        arguments.commandLine = L"--flag \"a b\"";
        m_notice.clear();
        std::atomic_bool ended { false };
        std::thread watcher([this, &ended] {
            while (!ended) {
                if (HWND box = FindWindowW(L"#32770", L"门窗软件管理")) {
                    wchar_t text[512] = L"";
                    GetDlgItemTextW(box, 0xFFFF, text, 512);
                    m_notice = text;
                    PostMessageW(box, WM_COMMAND, IDOK, 0);
                    return;
                }
                Sleep(50);
            }
        });
#else
        arguments.list = { "--flag", "a b" };
#endif
        Process::Exit exit;
        const bool ran = Process::run(utf8(m_launcher), arguments, utf8(m_dir.path()), exit);
#ifdef _WIN32
        ended = true;
        watcher.join();
#endif
        return ran ? exit.code : -1;
    }

#ifdef _WIN32
    const std::wstring &notice() const
    {
        return m_notice;
    }
#endif

    const fs::path &root() const
    {
        return m_root;
    }
    fs::path statusPath() const
    {
        return m_root / fs::u8path(InstallLayout::statusFile);
    }
    std::string statePath() const
    {
        return utf8(m_root / "update" / "state.ini");
    }

    // The versions started, in order.
    std::vector<std::string> started() const
    {
        std::vector<std::string> versions;
        const std::string text = readFile(m_root / "started.txt");
        for (size_t start = 0; start < text.size();) {
            const size_t end = text.find('\n', start);
            versions.push_back(text.substr(start, text.find(' ', start) - start));
            start = end == std::string::npos ? text.size() : end + 1;
        }
        return versions;
    }

private:
    Check::TemporaryDir m_dir;
    fs::path m_root, m_launcher, m_fakeShell;
#ifdef _WIN32
    std::wstring m_notice;
#endif
};

void startsAndRollsBack()
{
    struct Row
    {
        const char *name;
        std::map<std::string, std::string> versions; // version -> behaviour
        InstallState::State before;
        int starts;
        std::vector<std::string> started;
        int lastExitCode;
        InstallState::State after;
        std::string logged;
        const wchar_t *notice = L""; // what the launcher's own message says, if it shows one
        int graphicsLevel = 0;
    };
    const std::vector<Row> rows = {
        { "trial becomes healthy",
          { { "1.0.0", "exit0" }, { "1.1.0", "healthy" } },
          state("1.0.0", "1.1.0", "", 0),
          2,
          { "1.1.0", "1.1.0" },
          0,
          state("1.1.0", "", "", 0),
          "started on trial 1.1.0" },
        { "trial exits with an error: back at once, never again",
          { { "1.0.0", "exit0" }, { "1.1.0", "exit3" } },
          state("1.0.0", "1.1.0", "", 0),
          2,
          { "1.1.0", "1.0.0", "1.0.0" },
          0,
          state("1.0.0", "", "", 0, { "1.1.0" }),
          "rolled back: 1.1.0 ended abnormally" },
        { "trial crashes",
          { { "1.0.0", "exit0" }, { "1.1.0", "crash" } },
          state("1.0.0", "1.1.0", "", 0),
          1,
          { "1.1.0", "1.0.0" },
          0,
          state("1.0.0", "", "", 0, { "1.1.0" }),
          "rolled back" },
        { "two trial starts never healthy",
          { { "1.0.0", "exit0" }, { "1.1.0", "exit0" } },
          state("1.0.0", "1.1.0", "", 0),
          4,
          { "1.1.0", "1.1.0", "1.0.0", "1.0.0" },
          0,
          state("1.0.0", "", "", 0, { "1.1.0" }),
          "did not become healthy in 2 starts" },
        { "started twice more while the trial runs: no trial start, no rollback",
          { { "1.0.0", "exit0" }, { "1.1.0", "relaunch" } },
          state("1.0.0", "1.1.0", "", 0),
          1,
          { "1.1.0", "1.1.0", "1.1.0" },
          0,
          state("1.0.0", "", "1.1.0", 1),
          "another launcher runs this installation, state left as it is: started 1.1.0" },
        { "the current version's exit code is the launcher's",
          { { "1.0.0", "shown-exit3" } },
          state("1.0.0", "", "", 0),
          1,
          { "1.0.0" },
          3,
          state("1.0.0", "", "", 0),
          "started 1.0.0" },
        { "opened and closed again on trial: never marked bad",
          { { "1.0.0", "shown" }, { "1.1.0", "shown" } },
          state("1.0.0", "1.1.0", "", 0),
          3,
          { "1.1.0", "1.1.0", "1.1.0" },
          0,
          state("1.0.0", "", "1.1.0", 0),
          "trial start of 1.1.0 ended normally after its window showed, not counted" },
        { "current cannot start: previous at once",
          { { "0.9.0", "shown" }, { "1.0.0", "missing" } },
          withPrevious(state("1.0.0", "", "", 0), "0.9.0"),
          1,
          { "0.9.0" },
          0,
          state("1.0.0", "", "", 0),
          "1.0.0 could not be started\n" },
        { "current crashes before its window: previous at once",
          { { "0.9.0", "shown" }, { "1.0.0", "crash" } },
          withPrevious(state("1.0.0", "", "", 0), "0.9.0"),
          1,
          { "1.0.0", "0.9.0" },
          0,
          state("1.0.0", "", "", 0),
          "before its window showed" },
        { "nothing can start: the user is told",
          { { "1.0.0", "missing" } },
          state("1.0.0", "", "", 0),
          1,
          {},
          1,
          state("1.0.0", "", "", 0),
          "nothing can be started",
          L"请联系IT部门重新安装" },
        { "trial crashes in the graphics driver: a step down, the same trial, never bad",
          { { "1.0.0", "exit0" }, { "1.1.0", "crash-graphics-once" } },
          state("1.0.0", "1.1.0", "", 0),
          1,
          { "1.1.0", "1.1.0" },
          0,
          state("1.1.0", "", "", 0),
          "1.1.0 crashed in a graphics driver, not held against it: graphics level 1, started again",
          L"",
          1 },
        { "trial crashes in its own code: rolled back",
          { { "1.0.0", "exit0" }, { "1.1.0", "crash-own" } },
          state("1.0.0", "1.1.0", "", 0),
          1,
          { "1.1.0", "1.0.0" },
          0,
          state("1.0.0", "", "", 0, { "1.1.0" }),
          " at 0x4242, own\n" },
        { "crashes in the graphics driver at the last level: stops",
          { { "1.0.0", "crash-graphics" } },
          state("1.0.0", "", "", 0),
          1,
          { "1.0.0", "1.0.0", "1.0.0", "1.0.0", "1.0.0", "1.0.0" },
          1,
          state("1.0.0", "", "", 0),
          "1.0.0 crashed in a graphics driver 3 times within a minute at graphics level 3: stopped",
          L"显卡驱动",
          3 },
    };
    for (const Row &row : rows) {
        TestInstallation installation;
        for (const auto &version : row.versions)
            installation.addVersion(version.first, version.second);
        InstallState::State before = row.before;
        before.installationId = "00112233445566778899aabbccddeeff";
        CHECK(row.name, InstallState::write(installation.statePath(), before));
        int code = -1;
        for (int i = 0; i < row.starts; ++i)
            code = installation.start();
        CHECK(row.name, code == row.lastExitCode);
        CHECK(row.name, installation.started() == row.started);
        InstallState::State after;
        CHECK(row.name, readState(installation.statePath(), after));
        CHECK(row.name, after.installationId == before.installationId);
        CHECK(row.name, after.current == row.after.current && after.pending.empty());
        CHECK(row.name, after.trial == row.after.trial && after.bad == row.after.bad);
        CHECK(row.name,
              after.trialStarts == row.after.trialStarts && after.graphicsLevel == row.graphicsLevel);
        CHECK(row.name,
              readFile(installation.root() / "logs" / "launcher.log").find(row.logged) != std::string::npos);
        CHECK(row.name, !fs::exists(installation.root() / fs::u8path(InstallLayout::crashSummaryFile)));
#ifdef _WIN32
        CHECK(row.name,
              *row.notice ? installation.notice().find(row.notice) != std::wstring::npos
                          : installation.notice().empty());
#endif
    }
}

#ifdef _WIN32
// A real access violation in the shell, handed over as the shell hands it: the
// launcher writes a dump beside five earlier ones and a file of IT's, reads the
// faulting module from it and decides by that.
void writesDumpsOfCrashes()
{
    struct Row
    {
        const char *name;
        const char *behaviour;
        std::vector<std::string> started;
        std::vector<std::string> bad;
        int graphicsLevel;
        std::string module; // the end of the module's path
        std::string logged;
    };
    const std::vector<Row> rows = {
        { "in the graphics driver, on trial: a step down, never bad",
          "crash-in-driver-once",
          { "1.1.0", "1.1.0" },
          {},
          1,
          "\\igd10iumd64.dll",
          "exception 0xC0000005 in " },
        { "in its own code, on trial: rolled back",
          "crash-in-exe",
          { "1.1.0", "1.0.0" },
          { "1.1.0" },
          0,
          "\\versions\\1.1.0\\fenestra.exe",
          "exception 0xC0000005 in " },
    };
    for (const Row &row : rows) {
        TestInstallation installation;
        installation.addVersion("1.0.0", "exit0");
        installation.addVersion("1.1.0", row.behaviour);
        InstallState::State before = state("1.0.0", "1.1.0", "", 0);
        before.installationId = "00112233445566778899aabbccddeeff";
        CHECK(row.name, InstallState::write(installation.statePath(), before));
        const fs::path folder = installation.root() / fs::u8path(InstallLayout::crashesFolder);
        for (int day = 1; day <= 5; ++day)
            writeFile(folder / ("crash-2026010" + std::to_string(day) + "-080000-000-1.0.0.dmp"), "MDMP");
        writeFile(folder / "notes.txt", "IT's");

        CHECK(row.name, installation.start() == 0);
        CHECK(row.name, installation.started() == row.started);
        InstallState::State after;
        CHECK(row.name, readState(installation.statePath(), after));
        CHECK(row.name, after.bad == row.bad && after.graphicsLevel == row.graphicsLevel);

        std::vector<std::string> dumps;
        for (const fs::directory_entry &entry : fs::directory_iterator(folder))
            dumps.push_back(utf8(entry.path().filename()));
        std::sort(dumps.begin(), dumps.end());
        CHECK(row.name,
              dumps.size() == 6 && dumps[0] == "crash-20260102-080000-000-1.0.0.dmp"
                      && dumps[5] == "notes.txt");
        const std::string dump = readFile(folder / dumps[dumps.size() - 2]);
        Minidump::Exception exception;
        CHECK(row.name, dump.compare(0, 4, "MDMP") == 0 && Minidump::readException(dump, exception));
        CHECK(row.name, exception.code == 0xC0000005);
        const std::string &module = exception.where.module;
        CHECK(row.name,
              module.size() > row.module.size()
                      && module.compare(module.size() - row.module.size(), row.module.size(), row.module)
                              == 0);
        const std::string log = readFile(installation.root() / "logs" / "launcher.log");
        CHECK(row.name, log.find("crash dump of 1.1.0 written: ") != std::string::npos);
        CHECK(row.name, log.find(row.logged + module + " at " + exception.where.offset) != std::string::npos);
    }
}
#endif

// A state file that cannot be read is never written over: the launcher starts
// the current version of the copy the last write left, and nothing else.
void keepsAStateItCannotRead()
{
    const auto prepare = [](TestInstallation &installation) {
        installation.addVersion("1.0.0", "shown");
        installation.addVersion("1.1.0", "shown");
        InstallState::State s = state("1.0.0", "", "", 0, { "1.1.0" });
        s.installationId = "00112233445566778899aabbccddeeff";
        s.serial = 1765000000;
        return InstallState::write(installation.statePath(), s);
    };
    {
        // Unreadable as a folder is, on every system.
        TestInstallation installation;
        CHECK("a folder", prepare(installation));
        fs::remove(fs::u8path(installation.statePath()));
        fs::create_directories(fs::u8path(installation.statePath()) / "inside");
        CHECK("a folder", installation.start() == 0);
        CHECK("a folder", installation.started() == std::vector<std::string> { "1.0.0" });
        CHECK("a folder", fs::is_directory(fs::u8path(installation.statePath()) / "inside"));
        CHECK("a folder",
              readFile(installation.root() / "logs" / "launcher.log").find("cannot read")
                      != std::string::npos);
    }
#ifdef _WIN32
    // Held by a virus scanner or a backup tool without sharing: for the whole
    // start, and for a moment, after which it is read.
    for (const int holdMs : { -1, 300 }) {
        const std::string row = holdMs < 0 ? "held throughout" : "held for a moment";
        TestInstallation installation;
        CHECK(row, prepare(installation));
        const std::string before = readFile(fs::u8path(installation.statePath()));
        HANDLE held = CreateFileW(fs::u8path(installation.statePath()).c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        CHECK(row, held != INVALID_HANDLE_VALUE);
        std::thread release([held, holdMs] {
            if (holdMs >= 0) {
                Sleep(DWORD(holdMs));
                CloseHandle(held);
            }
        });
        CHECK(row, installation.start() == 0);
        release.join();
        if (holdMs < 0)
            CloseHandle(held);
        CHECK(row, installation.started() == std::vector<std::string> { "1.0.0" });
        CHECK(row, readFile(fs::u8path(installation.statePath())) == before);
        CHECK(row,
              (readFile(installation.root() / "logs" / "launcher.log").find("cannot read")
               != std::string::npos)
                      == (holdMs < 0));
    }
#endif
}

// The level learnt is kept across starts of the launcher, until the version's
// Qt runtime changes; IT's pin wins; IT's own web engine flags are kept.
void keepsTheGraphicsLevel()
{
    TestInstallation installation;
    installation.addVersion("1.0.0", "crash-graphics-once");
    const fs::path folder = installation.root() / InstallLayout::versionsFolder / "1.0.0";
    const fs::path qtCore = folder / fs::u8path(InstallLayout::qtCoreInVersion);
    writeFile(qtCore, std::string(10, 'q'));
    InstallState::State before = state("1.0.0", "", "", 0);
    before.installationId = "00112233445566778899aabbccddeeff";
    CHECK("graphics", InstallState::write(installation.statePath(), before));
    const std::optional<std::string> flags = Process::environment("QTWEBENGINE_CHROMIUM_FLAGS");
    const std::optional<std::string> backend = Process::environment("QT_QUICK_BACKEND");
    Process::setEnvironment("QTWEBENGINE_CHROMIUM_FLAGS", std::string("--it-flag"));
    Process::setEnvironment("QT_QUICK_BACKEND", std::nullopt);
    const fs::path passed =
            (folder / fs::u8path(InstallLayout::shellInVersion)).parent_path() / "graphics.txt";
    const std::string level0 = "0|--it-flag|\n", level1 = "1|--it-flag --disable-gpu-compositing|\n";
    InstallState::State after;

    CHECK("crash: a step down", installation.start() == 0 && readFile(passed) == level0 + level1);
    CHECK("crash: kept with its runtime",
          readState(installation.statePath(), after) && after.graphicsLevel == 1
                  && after.graphicsRuntime.size() > 3
                  && after.graphicsRuntime.compare(after.graphicsRuntime.size() - 3, 3, ":10") == 0);

    fs::remove(passed);
    CHECK("started again: the level stays", installation.start() == 0 && readFile(passed) == level1);

    fs::remove(passed);
    writeFile(qtCore, std::string(20, 'q'));
    CHECK("another Qt: the default again", installation.start() == 0 && readFile(passed) == level0 + level1);
    CHECK("another Qt: logged",
          readFile(installation.root() / "logs" / "launcher.log").find("back to level 0")
                  != std::string::npos);

    fs::remove(passed);
    writeFile(installation.root() / InstallLayout::oldPolicyFile, "graphics=2\n");
    CHECK("pinned in the old policy file",
          installation.start() == 0
                  && readFile(passed) == "2|--it-flag --disable-gpu-compositing --disable-gpu|\n");
    fs::remove(passed);
    writeFile(installation.root() / InstallLayout::policyFile, "[update]\ngraphics=3\n");
    CHECK("pinned by IT",
          installation.start() == 0
                  && readFile(passed) == "3|--it-flag --disable-gpu-compositing --disable-gpu|software\n");
    CHECK("pinned by IT: the state keeps its own",
          readState(installation.statePath(), after) && after.graphicsLevel == 1);

    Process::setEnvironment("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    Process::setEnvironment("QT_QUICK_BACKEND", backend);
}

void startsAFreshInstallation()
{
    TestInstallation installation;
    installation.addVersion("1.2.0", "exit0");
    installation.addVersion("1.10.0", "exit0");
    installation.addVersion("1.11.0", "exit0", false);
    // Staged completely but not yet renamed into place.
    installation.addVersion("1.12.0.staging", "exit0");
    // Years of starts: the log stays bounded.
    writeFile(installation.root() / "logs" / "launcher.log", std::string(1100 * 1024, 'x') + "\n");
    CHECK("fresh", installation.start() == 0);
    CHECK("fresh: old log moved aside",
          fs::file_size(installation.root() / "logs" / "launcher.old.log") > 1024 * 1024);
    CHECK("fresh: new log", fs::file_size(installation.root() / "logs" / "launcher.log") < 1024);
    CHECK("fresh: highest complete", installation.started() == std::vector<std::string> { "1.10.0" });
    InstallState::State after;
    CHECK("fresh: state written", readState(installation.statePath(), after));
    CHECK("fresh: id made", after.installationId.size() == 32 && after.current == "1.10.0");
#ifdef _WIN32
    const std::string arguments = "--flag \"a b\"";
#else
    const std::string arguments = "--flag|a b";
#endif
    CHECK("fresh: arguments unchanged",
          readFile(installation.root() / "started.txt") == "1.10.0 exit0 " + arguments + "\n");
}

// What IT's tools read after the launcher's starts: the status file, replaced
// whole each time, which keeps the last exit across starts of the launcher.
void writesTheStatus()
{
    using Members = std::map<std::string, std::string>;
    struct Row
    {
        const char *name;
        std::map<std::string, std::string> versions; // version -> behaviour
        InstallState::State before;
        Members expected;
        std::string cause; // found in last_exit_cause
    };
    const std::vector<Row> rows = {
        { "a normal start: the trial becomes current",
          { { "1.0.0", "exit0" }, { "1.1.0", "healthy" } },
          state("1.0.0", "1.1.0", "", 0),
          { { "current", "1.1.0" },
            { "previous", "1.0.0" },
            { "trial", "null" },
            { "pending", "null" },
            { "started", "1.1.0" },
            { "bad_versions", "0" },
            { "last_bad", "null" },
            { "last_exit", "clean" },
            { "last_exit_version", "1.1.0" },
            { "last_exit_cause", "null" },
            { "graphics_level", "0" } },
          "" },
        { "a rollback",
          { { "1.0.0", "exit0" }, { "1.1.0", "exit3" } },
          state("1.0.0", "1.1.0", "", 0, { "0.9.0" }),
          { { "current", "1.0.0" },
            { "trial", "null" },
            { "started", "1.0.0" },
            { "bad_versions", "2" },
            { "last_bad", "1.1.0" },
            { "last_exit", "clean" },
            { "last_exit_version", "1.0.0" } },
          "" },
        { "a crash in its own code",
          { { "1.0.0", "crash-own" } },
          state("1.0.0", "", "", 0),
          { { "current", "1.0.0" },
            { "started", "1.0.0" },
            { "last_exit", "crashed" },
            { "last_exit_version", "1.0.0" } },
          " at 0x4242, own" },
        { "a crash in the graphics driver, then a start a step down",
          { { "1.0.0", "crash-graphics-once" } },
          state("1.0.0", "", "", 0),
          { { "started", "1.0.0" }, { "graphics_level", "1" }, { "last_exit", "clean" } },
          "" },
        { "a program that cannot start",
          { { "1.0.0", "missing" } },
          state("1.0.0", "", "", 0),
          { { "current", "1.0.0" }, { "last_exit", "could-not-start" } },
          "missing" },
    };
    for (const Row &row : rows) {
        TestInstallation installation;
        for (const auto &version : row.versions)
            installation.addVersion(version.first, version.second);
        InstallState::State before = row.before;
        before.installationId = "00112233445566778899aabbccddeeff";
        CHECK(row.name, InstallState::write(installation.statePath(), before));
        // An older file is replaced whole.
        writeFile(installation.statusPath(), std::string(20000, '{'));
        installation.start();
        Members status;
        CHECK(row.name, Check::Json::object(readFile(installation.statusPath()), status));
        CHECK(row.name, status["installation_id"] == before.installationId);
        for (const auto &member : row.expected)
            CHECK(row.name + std::string(": ") + member.first, status[member.first] == member.second);
        CHECK(row.name, status["last_exit_cause"].find(row.cause) != std::string::npos);
        CHECK(row.name, status["last_exit_at"].size() == 20 && status["last_exit_at"].back() == 'Z');
        for (const auto &entry : fs::directory_iterator(installation.statusPath().parent_path()))
            CHECK(row.name, entry.path().extension() != ".fenestra-tmp");
    }

    // A start that starts nothing keeps what the one before learnt.
    TestInstallation installation;
    installation.addVersion("1.0.0", "crash-own");
    installation.start();
    fs::remove(installation.root() / InstallLayout::versionsFolder / "1.0.0" / InstallLayout::completeMarker);
    CHECK("nothing to start", installation.start() == 1);
    Members status;
    CHECK("nothing to start", Check::Json::object(readFile(installation.statusPath()), status));
    CHECK("nothing to start: the crash is kept",
          status["last_exit"] == "crashed" && status["last_exit_version"] == "1.0.0"
                  && status["last_exit_cause"].find(" at 0x4242, own") != std::string::npos);
    CHECK("nothing to start: nothing started", status["started"] == "null" && status["current"] == "null");

    // A status that cannot be written never stops a start.
    TestInstallation blocked;
    blocked.addVersion("1.0.0", "shown");
    fs::create_directories(blocked.statusPath() / "inside");
    CHECK("cannot write", blocked.start() == 0 && blocked.started() == std::vector<std::string> { "1.0.0" });
    CHECK("cannot write: logged",
          readFile(blocked.root() / "logs" / "launcher.log").find("cannot write") != std::string::npos);
    CHECK("cannot write: no temporary file left",
          !fs::exists(blocked.statusPath().string() + ".fenestra-tmp"));
}

#ifdef _WIN32
// The uninstall entry's DisplayVersion read with the registry API; empty when
// there is no entry or no value.
std::wstring displayVersion()
{
    wchar_t value[128] = L"";
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, InstallLayout::uninstallKey, L"DisplayVersion", RRF_RT_REG_SZ,
                     nullptr, value, &size)
        != ERROR_SUCCESS)
        return std::wstring();
    return value;
}

bool entryExists()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, InstallLayout::uninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Windows' program list shows the version the launcher made current; a copy
// the installer never made an entry for leaves the registry alone.
void keepsTheUninstallEntryCurrent()
{
    // On a developer's desktop with the program installed, its entry stays untouched.
    if (entryExists()) {
        std::printf("uninstall entry exists: its checks skipped\n");
        return;
    }
    struct Row
    {
        const char *name;
        std::map<std::string, std::string> versions; // version -> behaviour
        InstallState::State before;
        const wchar_t *shownBefore; // nullptr: no entry
        const wchar_t *shownAfter;
        bool logged;
    };
    const std::vector<Row> rows = {
        { "the trial becomes current",
          { { "1.0.0", "exit0" }, { "1.1.0", "healthy" } },
          state("1.0.0", "1.1.0", "", 0),
          L"1.0.0",
          L"1.1.0",
          true },
        { "a rollback leaves the current one shown",
          { { "1.0.0", "exit0" }, { "1.1.0", "crash" } },
          state("1.0.0", "1.1.0", "", 0),
          L"1.0.0",
          L"1.0.0",
          false },
        { "the current version is gone: the previous one shown",
          { { "1.0.0", "shown" } },
          withPrevious(state("1.1.0", "", "", 0), "1.0.0"),
          L"1.1.0",
          L"1.0.0",
          true },
        { "an installed version taken over",
          { { "1.0.0", "shown" }, { "2.0.0", "shown" } },
          installed(state("1.0.0", "", "", 0), "2.0.0"),
          L"1.0.0",
          L"2.0.0",
          true },
        { "a portable copy: no entry, none made",
          { { "1.0.0", "exit0" }, { "1.1.0", "healthy" } },
          state("1.0.0", "1.1.0", "", 0),
          nullptr,
          nullptr,
          false },
    };
    for (const Row &row : rows) {
        TestInstallation installation;
        for (const auto &version : row.versions)
            installation.addVersion(version.first, version.second);
        InstallState::State before = row.before;
        before.installationId = "00112233445566778899aabbccddeeff";
        CHECK(row.name, InstallState::write(installation.statePath(), before));
        if (row.shownBefore) {
            // As the installer leaves it.
            HKEY key = nullptr;
            CHECK(row.name,
                  RegCreateKeyExW(HKEY_CURRENT_USER, InstallLayout::uninstallKey, 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &key, nullptr)
                          == ERROR_SUCCESS);
            CHECK(row.name,
                  RegSetValueExW(key, L"DisplayVersion", 0, REG_SZ,
                                 reinterpret_cast<const BYTE *>(row.shownBefore),
                                 DWORD((wcslen(row.shownBefore) + 1) * sizeof(wchar_t)))
                          == ERROR_SUCCESS);
            RegCloseKey(key);
        }
        installation.start();
        CHECK(row.name, entryExists() == (row.shownAfter != nullptr));
        CHECK(row.name, displayVersion() == (row.shownAfter ? row.shownAfter : L""));
        CHECK(row.name,
              (readFile(installation.root() / "logs" / "launcher.log")
                       .find("uninstall entry now shows version")
               != std::string::npos)
                      == row.logged);
        RegDeleteKeyW(HKEY_CURRENT_USER, InstallLayout::uninstallKey);
    }
}
#endif

} // namespace

int launcherTests()
{
    decidesWhatToStart();
    judgesHowAStartEnded();
    decidesAfterTheShellEnded();
    survivesGraphicsCrashes();
    countsCrashes();
    choosesTheGraphicsLevel();
    startsAlongsideAnotherLauncher();
    splitsWindowsCommandLines();
    startsAndRollsBack();
    keepsAStateItCannotRead();
    keepsTheGraphicsLevel();
    startsAFreshInstallation();
    writesTheStatus();
#ifdef _WIN32
    writesDumpsOfCrashes();
    keepsTheUninstallEntryCurrent();
#endif
    return Check::failures();
}
