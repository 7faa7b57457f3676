#include "startplan.h"

#include <algorithm>

namespace StartPlan {

namespace {

bool contains(const std::vector<std::string> &list, const std::string &value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool startable(const InstallState::State &state, const std::vector<std::string> &complete,
               const std::string &v)
{
    return !v.empty() && contains(complete, v) && !state.isBad(v);
}

// What stands in for a current version that cannot be started: the highest
// startable one, never a version still to be tried, as that would skip its trial.
std::string fallback(const InstallState::State &state, const std::vector<std::string> &complete)
{
    std::string best;
    for (const std::string &v : complete) {
        if (startable(state, complete, v) && v != state.trial && v != state.pending
            && (best.empty() || InstallState::versionLess(best, v)))
            best = v;
    }
    return best;
}

void markBad(InstallState::State &state, const std::string &version)
{
    if (!state.isBad(version))
        state.bad.push_back(version);
    state.trial.clear();
    state.trialStarts = 0;
}

} // namespace

Start beforeStart(InstallState::State &state, const std::vector<std::string> &complete)
{
    Start start;
    if (!startable(state, complete, state.current)) {
        const std::string best = fallback(state, complete);
        if (best != state.current) {
            start.log.push_back("current version " + (state.current.empty() ? "(none)" : state.current)
                                + " cannot be started, using " + (best.empty() ? "(none)" : best));
            state.current = best;
            start.stateChanged = true;
        }
    }
    if (!state.pending.empty()) {
        if (startable(state, complete, state.pending) && state.pending != state.current) {
            state.trial = state.pending;
            state.trialStarts = 0;
        } else {
            start.log.push_back("pending version " + state.pending + " dropped: bad, incomplete or current");
        }
        state.pending.clear();
        start.stateChanged = true;
    }
    if (!state.trial.empty()) {
        if (!startable(state, complete, state.trial) || state.trial == state.current) {
            start.log.push_back("trial of " + state.trial + " dropped: bad, incomplete or current");
            state.trial.clear();
            state.trialStarts = 0;
            start.stateChanged = true;
        } else if (state.trialStarts >= MaxTrialStarts) {
            start.log.push_back("rolled back: " + state.trial + " did not become healthy in "
                                + std::to_string(state.trialStarts) + " starts, marked bad");
            markBad(state, state.trial);
            start.stateChanged = true;
        } else {
            ++state.trialStarts;
            start.stateChanged = true;
            start.version = state.trial;
            start.trial = true;
            start.log.push_back("started on trial " + state.trial + " (start "
                                + std::to_string(state.trialStarts) + " of " + std::to_string(MaxTrialStarts)
                                + ")");
            return start;
        }
    }
    if (state.current.empty()) {
        start.log.push_back("no complete version to start");
        return start;
    }
    start.version = state.current;
    start.log.push_back("started " + state.current);
    return start;
}

Start alongside(const InstallState::State &state, const std::vector<std::string> &complete)
{
    Start start;
    if (startable(state, complete, state.trial))
        start.version = state.trial;
    else if (startable(state, complete, state.current))
        start.version = state.current;
    else
        start.version = fallback(state, complete);
    start.log.push_back(
            "another launcher runs this installation, state left as it is: "
            + (start.version.empty() ? "no complete version to start" : "started " + start.version));
    return start;
}

After afterExit(InstallState::State &state, const Start &started, bool abnormal, int exitCode,
                const std::vector<std::string> &complete)
{
    After after;
    if (!started.trial || !abnormal || state.trial != started.version)
        return after;
    markBad(state, started.version);
    after.stateChanged = true;
    after.log.push_back("rolled back: " + started.version + " ended abnormally (exit code "
                        + std::to_string(exitCode) + "), marked bad");
    if (startable(state, complete, state.current) && state.current != started.version) {
        after.restart = state.current;
        after.log.push_back("started " + state.current);
    } else {
        after.log.push_back("no complete version to start");
    }
    return after;
}

} // namespace StartPlan
