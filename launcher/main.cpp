#include "launcher/crashkind.h"
#include "launcher/filelock.h"
#include "launcher/graphicsladder.h"
#include "launcher/installation.h"
#include "launcher/installlayout.h"
#include "launcher/installstate.h"
#include "launcher/notice.h"
#include "launcher/process.h"
#include "launcher/startplan.h"
#include "launcher/status.h"
#ifdef _WIN32
#include "launcher/crashdumps.h"
#include "launcher/crashhandoff.h"
#include "launcher/minidump.h"
#include "launcher/uninstallentry.h"
#endif

#include <chrono>
#include <filesystem>
#include <optional>
#include <system_error>

namespace {

void logAll(const std::string &root, const std::vector<std::string> &lines)
{
    for (const std::string &line : lines)
        Installation::log(root, line);
}

void save(const std::string &root, const InstallState::State &state)
{
    if (!InstallState::write(Installation::statePath(root), state))
        Installation::log(root, "cannot write " + Installation::statePath(root));
}

long long secondsSince1970()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
}

// Tells IT's tools what the launcher did: the status file always, and the
// uninstall entry's version when the state, read well, names another current one.
void publish(const std::string &root, Status::Facts &facts, const InstallState::State &state, bool stateRead)
{
    facts.state = state;
    // Not flushed: it is written before each start, and what a power cut loses
    // of it the next start writes again.
    if (!InstallState::replaceAtomically(Installation::statusPath(root), Status::json(facts),
                                         InstallState::Durability::Cached))
        Installation::log(root, "cannot write " + Installation::statusPath(root));
#ifdef _WIN32
    if (!stateRead || state.current.empty())
        return;
    const UninstallEntry::Result shown = UninstallEntry::showVersion(state.current);
    if (shown == UninstallEntry::Result::Updated)
        Installation::log(root, "uninstall entry now shows version " + state.current);
    else if (shown == UninstallEntry::Result::Failed)
        Installation::log(root, "cannot set the uninstall entry's version to " + state.current);
#else
    (void)stateRead;
#endif
}

// `ownShell`: this launcher holds the lock, so a crash summary is its shell's.
// `crashCause` says where a crash happened.
StartPlan::Outcome runShell(const std::string &root, const std::string &version,
                            const Process::Arguments &arguments, bool ownShell, std::string &crashCause)
{
    StartPlan::Outcome outcome;
    Process::Exit exit;
    Process::Watch watch;
#ifdef _WIN32
    // The shell hands its crash over; the dump is written while it waits.
    std::optional<CrashHandoff::Receiver> receiver;
    std::string dump;
    if (ownShell)
        receiver.emplace();
    const bool handsOver = receiver && !receiver->name().empty();
    Process::setEnvironment(CrashHandoff::variable,
                            handsOver ? std::optional(receiver->name()) : std::nullopt);
    if (handsOver) {
        watch.event = receiver->crashedEvent();
        watch.signalled = [&](void *process, unsigned long processId) {
            CrashHandoff::Crash crash;
            if (receiver->take(processId, crash))
                dump = CrashDumps::write(root, version, process, crash);
            receiver->dumpWritten();
            Installation::log(root,
                              dump.empty() ? "cannot write a crash dump of " + version
                                           : "crash dump of " + version + " written: " + dump);
        };
    }
#endif
    if (!Process::run(Installation::shellPath(root, version), arguments, root, exit, watch)) {
        Installation::log(root, "cannot start " + Installation::shellPath(root, version));
        outcome.started = false;
        outcome.exitCode = 127;
        return outcome;
    }
    outcome.exitCode = exit.code;
    outcome.crashed = exit.crashed;
    outcome.notLoaded = exit.notLoaded;
    outcome.endedAtSeconds = std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count();
    if (exit.crashed && ownShell) {
        CrashKind::Summary summary = CrashKind::parseSummary(Installation::takeCrashSummary(root));
#ifdef _WIN32
        // Read from the dump's module list, without symbols.
        Minidump::Exception exception;
        if (!dump.empty() && Minidump::readException(CrashDumps::read(dump), exception)
            && !exception.where.module.empty())
            summary = exception.where;
#endif
        outcome.crashModule = summary.module;
        outcome.crashKind = CrashKind::classify(summary.module);
        crashCause = exit.cause + " in " + (summary.module.empty() ? "an unknown module" : summary.module)
                + (summary.offset.empty() ? "" : " at " + summary.offset) + ", "
                + CrashKind::name(outcome.crashKind);
        Installation::log(root, "crash of " + version + ": " + crashCause);
    }
    return outcome;
}

// What IT set for the web engine and Qt Quick when the launcher started, so
// that each start adds its level to that and never to an earlier level's.
struct Environment
{
    std::optional<std::string> chromiumFlags = Process::environment("QTWEBENGINE_CHROMIUM_FLAGS");
    std::optional<std::string> quickBackend = Process::environment("QT_QUICK_BACKEND");
};

void passGraphicsLevel(const Environment &it, int level)
{
    const std::string flags = GraphicsLadder::chromiumFlags(it.chromiumFlags.value_or(""), level);
    Process::setEnvironment("QTWEBENGINE_CHROMIUM_FLAGS",
                            flags.empty() && !it.chromiumFlags ? std::nullopt : std::optional(flags));
    Process::setEnvironment("QT_QUICK_BACKEND",
                            GraphicsLadder::softwareQuick(level) ? std::optional<std::string>("software")
                                                                 : it.quickBackend);
    Process::setEnvironment("FENESTRA_GRAPHICS_LEVEL", std::to_string(level));
}

int nothingToStart(const std::string &root)
{
    Installation::log(root, "nothing can be started: told the user to have IT reinstall the program");
    Notice::nothingToStart();
    return 1;
}

} // namespace

// Starts the installation's shell: a staged version on trial, else the current
// one; a trial that fails is marked bad, and a version that cannot start gives
// way to the previous one at once. While a launcher does so it holds the
// installation's lock; one started meanwhile, whose shell only hands over to
// the running one, neither counts as a start of the trial nor touches the
// state. A state file that cannot be read is never written over.
int main(int argc, char **argv)
{
    const std::string root = Process::executableDir();
    if (root.empty())
        return 1;
    const std::string statePath = Installation::statePath(root);
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::u8path(statePath).parent_path(), ignored);
    // Taken before the state is read, so that two launchers never rewrite it at once.
    const FileLock lock(Installation::lockPath(root));
    InstallState::State state;
    std::string why;
    const InstallState::ReadResult read = InstallState::read(statePath, state, &why);
    const std::vector<std::string> complete = Installation::completeVersions(root);
    const Process::Arguments arguments = Process::ownArguments(argc, argv);

    // Only the launcher that holds the lock judges its shell by the first-frame mark.
    const bool ownsInstallation = lock.status() != FileLock::HeldElsewhere;
    bool writesState = false;
    StartPlan::Start start;
    if (!ownsInstallation) {
        start = StartPlan::alongside(state, complete);
    } else if (read == InstallState::ReadResult::Unreadable) {
        Installation::log(root, "cannot read " + statePath + " (" + why + "), left as it is");
        InstallState::readLastCopy(statePath, state);
        start = StartPlan::withoutState(state, complete);
    } else {
        if (lock.status() == FileLock::Unavailable)
            Installation::log(root, "cannot lock " + Installation::lockPath(root) + ", starting without it");
        writesState = true;
        bool changed = false;
        if (state.installationId.empty()) {
            state.installationId = Installation::newInstallationId();
            changed = true;
        }
        start = StartPlan::beforeStart(state, complete);
        if (changed || start.stateChanged)
            save(root, state);
    }
    logAll(root, start.log);
    Status::Facts facts;
    if (ownsInstallation)
        facts.lastExit = Status::readLastExit(Installation::statusText(root));
    if (start.version.empty()) {
        if (ownsInstallation)
            publish(root, facts, state, writesState);
        return nothingToStart(root);
    }

    std::string problem;
    const int pinned = GraphicsLadder::pinnedLevel(Installation::policyTexts(root), &problem);
    if (!problem.empty())
        Installation::log(root, "IT's policy: " + problem);
    const Environment it;
    StartPlan::Past past;
    for (;;) {
        std::vector<std::string> graphics;
        if (StartPlan::chooseGraphics(state, start, Installation::qtRuntime(root, start.version), pinned,
                                      graphics)
            && writesState)
            save(root, state);
        logAll(root, graphics);
        passGraphicsLevel(it, start.graphicsLevel);
        // Only the launcher that holds the lock runs the shell these marks are about.
        if (ownsInstallation) {
            Installation::clearFirstFrame(root);
            Installation::clearCrashSummary(root);
            facts.started = start.version;
            facts.startedAt = Status::isoUtc(secondsSince1970());
            facts.graphicsLevel = start.graphicsLevel;
            publish(root, facts, state, writesState);
        }
        std::string crashCause;
        StartPlan::Outcome outcome = runShell(root, start.version, arguments, ownsInstallation, crashCause);
        outcome.firstFrame = ownsInstallation && Installation::showedFirstFrame(root, start.version);
        // Read again: the shell may have reported itself healthy, or an
        // installer may have run meanwhile.
        if (writesState && InstallState::read(statePath, state, &why) != InstallState::ReadResult::Read) {
            Installation::log(root, "cannot read " + statePath + " (" + why + "), left as it is");
            writesState = false;
        }
        const StartPlan::After after = StartPlan::afterExit(state, start, outcome, complete, past);
        logAll(root, after.log);
        if (writesState && after.stateChanged)
            save(root, state);
        if (ownsInstallation) {
            facts.lastExit = Status::lastExit(start.version, outcome, crashCause, secondsSince1970());
            publish(root, facts, state, writesState);
        }
        if (after.crashLoop) {
            Notice::keepsCrashing();
            return 1;
        }
        if (after.gaveUp)
            return nothingToStart(root);
        if (after.next.version.empty())
            return outcome.exitCode;
        start = after.next;
    }
}
