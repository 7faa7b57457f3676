#include "launcher/filelock.h"
#include "launcher/installation.h"
#include "launcher/installstate.h"
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

// Exit code 127 when the shell cannot be started at all.
Process::Exit runShell(const std::string &root, const std::string &version,
                       const Process::Arguments &arguments)
{
    Process::Exit exit;
    if (!Process::run(Installation::shellPath(root, version), arguments, root, exit)) {
        Installation::log(root, "cannot start " + Installation::shellPath(root, version));
        exit.code = 127;
    }
    return exit;
}

} // namespace

// Starts the installation's shell: a staged version on trial, else the current
// one; a trial that ends abnormally is marked bad and the current version is
// started in its place at once. While a launcher does so it holds the
// installation's lock; one started meanwhile, whose shell only hands over to
// the running one, neither counts as a start of the trial nor touches the state.
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
    InstallState::read(statePath, state);
    const std::vector<std::string> complete = Installation::completeVersions(root);
    const Process::Arguments arguments = Process::ownArguments(argc, argv);

    if (lock.status() == FileLock::HeldElsewhere) {
        const StartPlan::Start start = StartPlan::alongside(state, complete);
        logAll(root, start.log);
        return start.version.empty() ? 1 : runShell(root, start.version, arguments).code;
    }
    if (lock.status() == FileLock::Unavailable)
        Installation::log(root, "cannot lock " + Installation::lockPath(root) + ", starting without it");

    bool changed = false;
    if (state.installationId.empty()) {
        state.installationId = Installation::newInstallationId();
        changed = true;
    }
    const StartPlan::Start start = StartPlan::beforeStart(state, complete);
    logAll(root, start.log);
    if (changed || start.stateChanged)
        save(root, state);
    if (start.version.empty())
        return 1;

    Process::Exit exit = runShell(root, start.version, arguments);
    InstallState::read(statePath, state);
    const StartPlan::After after = StartPlan::afterExit(state, start, exit.abnormal(), exit.code, complete);
    logAll(root, after.log);
    if (after.stateChanged)
        save(root, state);
    if (!after.restart.empty())
        exit = runShell(root, after.restart, arguments);
    return exit.code;
}
