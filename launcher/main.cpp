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

} // namespace

// Starts the installation's shell: a staged version on trial, else the current
// one; a trial that ends abnormally is marked bad and the current version is
// started in its place at once.
int main(int argc, char **argv)
{
    const std::string root = Process::executableDir();
    if (root.empty())
        return 1;
    const std::string statePath = Installation::statePath(root);
    InstallState::State state;
    InstallState::read(statePath, state);
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::u8path(statePath).parent_path(), ignored);

    const std::vector<std::string> complete = Installation::completeVersions(root);
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

    const Process::Arguments arguments = Process::ownArguments(argc, argv);
    Process::Exit exit;
    if (!Process::run(Installation::shellPath(root, start.version), arguments, root, exit)) {
        Installation::log(root, "cannot start " + Installation::shellPath(root, start.version));
        exit.code = 127;
    }
    InstallState::read(statePath, state);
    const StartPlan::After after = StartPlan::afterExit(state, start, exit.abnormal(), exit.code, complete);
    logAll(root, after.log);
    if (after.stateChanged)
        save(root, state);
    if (!after.restart.empty()) {
        if (!Process::run(Installation::shellPath(root, after.restart), arguments, root, exit)) {
            Installation::log(root, "cannot start " + Installation::shellPath(root, after.restart));
            exit.code = 127;
        }
    }
    return exit.code;
}
