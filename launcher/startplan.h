#pragma once

#include "launcher/installstate.h"

#include <string>
#include <vector>

// What the launcher starts, and what it concludes when that ended: pure decisions
// on the installation's state and on the version folders that are complete.
namespace StartPlan {

struct Start
{
    std::string version; // empty: nothing can be started
    bool trial = false;
    bool stateChanged = false;
    std::vector<std::string> log;
};

// Takes a staged version on trial, gives up a trial that two starts never made
// healthy, and falls back to the highest complete version when `current` is gone.
Start beforeStart(InstallState::State &state, const std::vector<std::string> &complete);

// While another launcher runs a shell of the installation: the version it runs,
// the trial if there is one, else the current one. The state is the other
// launcher's, so it stays as it is, and this is no start of a trial.
Start alongside(const InstallState::State &state, const std::vector<std::string> &complete);

struct After
{
    std::string restart; // the version to start at once, or empty
    bool stateChanged = false;
    std::vector<std::string> log;
};

// `state` is read again after the shell ended: a trial that became healthy in
// the meantime is no longer the trial. A trial that ended abnormally is bad.
After afterExit(InstallState::State &state, const Start &started, bool abnormal, int exitCode,
                const std::vector<std::string> &complete);

// Trial starts after which a version that never became healthy is given up.
constexpr int MaxTrialStarts = 2;

} // namespace StartPlan
