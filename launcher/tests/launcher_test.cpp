#include "check.h"
#include "launcher/installstate.h"
#include "launcher/process.h"
#include "launcher/startplan.h"

#include <map>
#include <vector>

namespace fs = std::filesystem;
using Check::readFile;
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
    };
    for (const Row &row : rows) {
        InstallState::State s = row.before;
        const StartPlan::Start start = StartPlan::beforeStart(s, row.complete);
        CHECK(row.name, start.version == row.version);
        CHECK(row.name, start.trial == row.trial);
        CHECK(row.name, s.current == row.after.current && s.pending == row.after.pending);
        CHECK(row.name, s.trial == row.after.trial && s.trialStarts == row.after.trialStarts);
        CHECK(row.name, s.bad == row.after.bad);
        std::string log;
        for (const std::string &line : start.log)
            log += line + '\n';
        CHECK(row.name, log.find(row.logged) != std::string::npos);
    }
}

void decidesAfterTheShellEnded()
{
    struct Row
    {
        const char *name;
        bool startedTrial;
        InstallState::State reread;
        bool abnormal;
        std::string restart;
        InstallState::State after;
    };
    const std::vector<std::string> both = { "1.0.0", "1.1.0" };
    const std::vector<Row> rows = {
        { "trial ended abnormally", true, state("1.0.0", "", "1.1.0", 1), true, "1.0.0",
          state("1.0.0", "", "", 0, { "1.1.0" }) },
        { "trial closed normally before healthy", true, state("1.0.0", "", "1.1.0", 1), false, "",
          state("1.0.0", "", "1.1.0", 1) },
        { "trial became healthy, then crashed", true, state("1.1.0", "", "", 0), true, "",
          state("1.1.0", "", "", 0) },
        { "current crashed", false, state("1.0.0", "", "", 0), true, "", state("1.0.0", "", "", 0) },
        { "trial failed without a current to go back to", true, state("", "", "1.1.0", 1), true, "",
          state("", "", "", 0, { "1.1.0" }) },
    };
    for (const Row &row : rows) {
        StartPlan::Start started;
        started.version = row.startedTrial ? "1.1.0" : "1.0.0";
        started.trial = row.startedTrial;
        InstallState::State s = row.reread;
        const StartPlan::After after = StartPlan::afterExit(s, started, row.abnormal, 3, both);
        CHECK(row.name, after.restart == row.restart);
        CHECK(row.name, s.current == row.after.current && s.trial == row.after.trial);
        CHECK(row.name, s.trialStarts == row.after.trialStarts && s.bad == row.after.bad);
        CHECK(row.name, after.stateChanged == (s.bad != row.reread.bad));
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

    void addVersion(const std::string &version, const std::string &behaviour, bool complete = true)
    {
#ifdef _WIN32
        const fs::path folder = m_root / "versions" / version;
        const fs::path shell = folder / "fenestra.exe";
#else
        const fs::path folder = m_root / "versions" / version;
        const fs::path shell = folder / "bin" / "fenestra";
#endif
        fs::create_directories(shell.parent_path());
        fs::copy_file(m_fakeShell, shell);
        writeFile(shell.parent_path() / "behaviour", behaviour);
        if (complete)
            writeFile(folder / ".fenestra-complete", "");
    }

    // Runs the launcher from another working folder with arguments that need quoting.
    int start()
    {
        Process::Arguments arguments;
#ifdef _WIN32
        arguments.commandLine = L"--flag \"a b\"";
#else
        arguments.list = { "--flag", "a b" };
#endif
        Process::Exit exit;
        if (!Process::run(utf8(m_launcher), arguments, utf8(m_dir.path()), exit))
            return -1;
        return exit.code;
    }

    const fs::path &root() const
    {
        return m_root;
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
          { { "1.0.0", "exit3" } },
          state("1.0.0", "", "", 0),
          1,
          { "1.0.0" },
          3,
          state("1.0.0", "", "", 0),
          "started 1.0.0" },
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
        CHECK(row.name, InstallState::read(installation.statePath(), after));
        CHECK(row.name, after.installationId == before.installationId);
        CHECK(row.name, after.current == row.after.current && after.pending.empty());
        CHECK(row.name, after.trial == row.after.trial && after.bad == row.after.bad);
        CHECK(row.name, after.trialStarts == row.after.trialStarts);
        CHECK(row.name,
              readFile(installation.root() / "logs" / "launcher.log").find(row.logged) != std::string::npos);
    }
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
    CHECK("fresh: state written", InstallState::read(installation.statePath(), after));
    CHECK("fresh: id made", after.installationId.size() == 32 && after.current == "1.10.0");
#ifdef _WIN32
    const std::string arguments = "--flag \"a b\"";
#else
    const std::string arguments = "--flag|a b";
#endif
    CHECK("fresh: arguments unchanged",
          readFile(installation.root() / "started.txt") == "1.10.0 exit0 " + arguments + "\n");
}

} // namespace

int launcherTests()
{
    decidesWhatToStart();
    decidesAfterTheShellEnded();
    startsAlongsideAnotherLauncher();
    splitsWindowsCommandLines();
    startsAndRollsBack();
    startsAFreshInstallation();
    return Check::failures();
}
