#include "launcher/filelock.h"
#include "launcher/installation.h"
#include "launcher/installstate.h"
#include "launcher/notice.h"
#include "launcher/process.h"
#include "launcher/startplan.h"

#include <filesystem>
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

StartPlan::Outcome runShell(const std::string &root, const std::string &version,
                            const Process::Arguments &arguments)
{
    StartPlan::Outcome outcome;
    Process::Exit exit;
    if (!Process::run(Installation::shellPath(root, version), arguments, root, exit)) {
        Installation::log(root, "cannot start " + Installation::shellPath(root, version));
        outcome.started = false;
        outcome.exitCode = 127;
        return outcome;
    }
    outcome.exitCode = exit.code;
    outcome.crashed = exit.crashed;
    outcome.notLoaded = exit.notLoaded;
    return outcome;
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
    if (start.version.empty())
        return nothingToStart(root);

    std::vector<std::string> tried;
    for (;;) {
        if (ownsInstallation)
            Installation::clearFirstFrame(root);
        StartPlan::Outcome outcome = runShell(root, start.version, arguments);
        outcome.firstFrame = ownsInstallation && Installation::showedFirstFrame(root, start.version);
        // Read again: the shell may have reported itself healthy, or an
        // installer may have run meanwhile.
        if (writesState && InstallState::read(statePath, state, &why) != InstallState::ReadResult::Read) {
            Installation::log(root, "cannot read " + statePath + " (" + why + "), left as it is");
            writesState = false;
        }
        const StartPlan::After after = StartPlan::afterExit(state, start, outcome, complete, tried);
        logAll(root, after.log);
        if (writesState && after.stateChanged)
            save(root, state);
        if (after.gaveUp)
            return nothingToStart(root);
        if (after.next.version.empty())
            return outcome.exitCode;
        start = after.next;
    }
}
