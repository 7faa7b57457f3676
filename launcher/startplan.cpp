#include "startplan.h"

#include "launcher/graphicsladder.h"

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
    case Verdict::GraphicsCrash:
        return "crashed in a graphics driver";
    case Verdict::Clean:
        break;
    }
    return "ended normally";
}

// The same start again, a step down the ladder while there is one.
void survive(InstallState::State &state, const Start &started, const Outcome &outcome, bool stillOnTrial,
             Past &past, After &after)
{
    after.next.version = started.version;
    after.next.trial = stillOnTrial;
    after.next.graphicsLevel = started.graphicsLevel;
    after.next.graphicsPinned = started.graphicsPinned;
    const std::string what = started.version + " crashed in a graphics driver";
    if (!started.graphicsPinned && started.graphicsLevel < GraphicsLadder::MaxLevel) {
        after.next.graphicsLevel = started.graphicsLevel + 1;
        state.graphicsLevel = std::max(state.graphicsLevel, after.next.graphicsLevel);
        after.stateChanged = true;
        after.log.push_back(what + ", not held against it: graphics level "
                            + std::to_string(after.next.graphicsLevel) + ", started again");
        return;
    }
    std::vector<long long> &crashes = past.lastLevelCrashes;
    crashes.push_back(outcome.endedAtSeconds);
    crashes.erase(
            std::remove_if(crashes.begin(), crashes.end(),
                           [&](long long at) { return at <= outcome.endedAtSeconds - CrashLoopSeconds; }),
            crashes.end());
    const std::string level = "graphics level " + std::to_string(started.graphicsLevel)
            + (started.graphicsPinned ? " (pinned by IT)" : "");
    if (int(crashes.size()) >= CrashLoopCrashes) {
        after.next = Start();
        after.crashLoop = true;
        after.log.push_back(what + " " + std::to_string(crashes.size()) + " times within a minute at " + level
                            + ": stopped, told the user");
        return;
    }
    after.log.push_back(what + " at " + level + ", the last there is: started again");
}

} // namespace

bool chooseGraphics(InstallState::State &state, Start &start, const std::string &runtime, int pinned,
                    std::vector<std::string> &log)
{
    bool changed = false;
    if (!runtime.empty() && state.graphicsRuntime != runtime) {
        if (state.graphicsLevel != 0)
            log.push_back("graphics level " + std::to_string(state.graphicsLevel)
                          + " was learnt on Qt runtime "
                          + (state.graphicsRuntime.empty() ? "(unknown)" : state.graphicsRuntime) + ", "
                          + start.version + " ships " + runtime + ": back to level 0");
        state.graphicsLevel = 0;
        state.graphicsRuntime = runtime;
        changed = true;
    }
    start.graphicsPinned = pinned >= 0 && pinned <= GraphicsLadder::MaxLevel;
    start.graphicsLevel = start.graphicsPinned ? pinned : state.graphicsLevel;
    if (start.graphicsPinned)
        log.push_back("graphics level " + std::to_string(pinned) + ", pinned by IT");
    else if (start.graphicsLevel != 0)
        log.push_back("graphics level " + std::to_string(start.graphicsLevel));
    return changed;
}

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
    if (outcome.crashed && outcome.crashKind == CrashKind::Kind::Graphics)
        return Verdict::GraphicsCrash;
    const bool abnormal = outcome.crashed || outcome.exitCode != 0;
    if (abnormal)
        return outcome.firstFrame ? Verdict::Failed : Verdict::FailedEarly;
    return outcome.firstFrame ? Verdict::Clean : Verdict::Unproven;
}

After afterExit(InstallState::State &state, const Start &started, const Outcome &outcome,
                const std::vector<std::string> &complete, Past &past)
{
    After after;
    std::vector<std::string> &tried = past.tried;
    if (!contains(tried, started.version))
        tried.push_back(started.version);
    const Verdict verdict = judge(outcome);
    const bool stillOnTrial = started.trial && state.trial == started.version;
    // Counted for the channel's report; a shell started alongside only handed over.
    if (outcome.crashed && !started.alongside) {
        state.crashes = std::min(state.crashes + 1, 1000000);
        state.lastCrashModule = InstallState::moduleName(outcome.crashModule);
        after.stateChanged = true;
    }
    // One started alongside only handed over: its crash is the other launcher's to survive.
    if (verdict == Verdict::GraphicsCrash && !started.alongside) {
        survive(state, started, outcome, stillOnTrial, past, after);
        return after;
    }
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
