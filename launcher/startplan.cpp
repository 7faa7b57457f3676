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

// What stands in for a version that cannot be started: `previous`, else the
// highest startable one; never one that `tried` holds, and never a version
// still to be tried, as that would skip its trial.
std::string fallback(const InstallState::State &state, const std::vector<std::string> &complete,
                     const std::vector<std::string> &tried)
{
    const auto usable = [&](const std::string &v) {
        return startable(state, complete, v) && v != state.trial && v != state.pending && !contains(tried, v);
    };
    if (usable(state.previous))
        return state.previous;
    std::string best;
    for (const std::string &v : complete) {
        if (usable(v) && (best.empty() || InstallState::versionLess(best, v)))
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

// The installer only notes the version it installed; taking it over here keeps
// the state's rules in one place and the installer free of them.
void takeInstalled(InstallState::State &state, const std::vector<std::string> &complete, Start &start)
{
    const std::string installed = state.installed;
    state.installed.clear();
    start.stateChanged = true;
    if (!contains(complete, installed)) {
        start.log.push_back("installed version " + installed + " is not complete, left as it is");
        return;
    }
    // IT chose this version: it is no longer bad, and what the updater had
    // staged or was trying gives way to it.
    state.bad.erase(std::remove(state.bad.begin(), state.bad.end(), installed), state.bad.end());
    state.pending.clear();
    state.trial.clear();
    state.trialStarts = 0;
    if (state.current != installed) {
        if (!state.current.empty())
            state.previous = state.current;
        state.current = installed;
    }
    if (state.previous == installed)
        state.previous.clear();
    start.log.push_back("installed " + installed + ", now the current version");
}

std::string describe(const Outcome &outcome, Verdict verdict)
{
    switch (verdict) {
    case Verdict::CannotStart:
        return outcome.started ? "could not be loaded (exit code " + std::to_string(outcome.exitCode) + ")"
                               : "could not be started";
    case Verdict::FailedEarly:
        return "ended abnormally (exit code " + std::to_string(outcome.exitCode)
                + ") before its window showed";
    case Verdict::Failed:
        return "ended abnormally (exit code " + std::to_string(outcome.exitCode) + ")";
    case Verdict::Unproven:
        return "ended before its window showed";
    case Verdict::Clean:
        break;
    }
    return "ended normally";
}

} // namespace

Start beforeStart(InstallState::State &state, const std::vector<std::string> &complete)
{
    Start start;
    if (!state.installed.empty())
        takeInstalled(state, complete, start);
    if (!startable(state, complete, state.current)) {
        const std::string best = fallback(state, complete, {});
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
    start.alongside = true;
    if (startable(state, complete, state.trial))
        start.version = state.trial;
    else if (startable(state, complete, state.current))
        start.version = state.current;
    else
        start.version = fallback(state, complete, {});
    start.log.push_back(
            "another launcher runs this installation, state left as it is: "
            + (start.version.empty() ? "no complete version to start" : "started " + start.version));
    return start;
}

Start withoutState(const InstallState::State &lastKnown, const std::vector<std::string> &complete)
{
    InstallState::State known = lastKnown;
    known.pending.clear();
    known.trial.clear();
    Start start;
    start.version = startable(known, complete, known.current) ? known.current : fallback(known, complete, {});
    start.log.push_back(start.version.empty() ? "no complete version to start"
                                              : "started " + start.version + " without the update state");
    return start;
}

Verdict judge(const Outcome &outcome)
{
    if (!outcome.started || outcome.notLoaded)
        return Verdict::CannotStart;
    const bool abnormal = outcome.crashed || outcome.exitCode != 0;
    if (abnormal)
        return outcome.firstFrame ? Verdict::Failed : Verdict::FailedEarly;
    return outcome.firstFrame ? Verdict::Clean : Verdict::Unproven;
}

After afterExit(InstallState::State &state, const Start &started, const Outcome &outcome,
                const std::vector<std::string> &complete, std::vector<std::string> &tried)
{
    After after;
    if (!contains(tried, started.version))
        tried.push_back(started.version);
    const Verdict verdict = judge(outcome);
    const bool stillOnTrial = started.trial && state.trial == started.version;
    if (stillOnTrial && verdict == Verdict::Clean) {
        // Opened and closed again: the start proves nothing either way.
        if (state.trialStarts > 0) {
            --state.trialStarts;
            after.stateChanged = true;
        }
        after.log.push_back("trial start of " + started.version
                            + " ended normally after its window showed, not counted");
        return after;
    }
    const bool failed =
            verdict == Verdict::Failed || verdict == Verdict::FailedEarly || verdict == Verdict::CannotStart;
    if (stillOnTrial && failed) {
        markBad(state, started.version);
        after.stateChanged = true;
        after.log.push_back("rolled back: " + started.version + " " + describe(outcome, verdict)
                            + ", marked bad");
    } else if (verdict == Verdict::CannotStart || (verdict == Verdict::FailedEarly && !started.alongside)) {
        after.log.push_back(started.version + " " + describe(outcome, verdict));
    } else {
        return after;
    }
    // The current version goes first, unless it is the one that just failed.
    const std::string next = startable(state, complete, state.current) && !contains(tried, state.current)
                    && state.current != state.trial
            ? state.current
            : fallback(state, complete, tried);
    if (next.empty()) {
        after.gaveUp = true;
        after.log.push_back("no other version to start");
        return after;
    }
    after.next.version = next;
    after.log.push_back("started " + next);
    return after;
}

} // namespace StartPlan
