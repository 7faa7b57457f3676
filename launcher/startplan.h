#pragma once

#include "launcher/crashkind.h"
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
    // Started while another launcher runs a shell: this one only hands over to
    // it, so how it ends says nothing about its version.
    bool alongside = false;
    // The step of the graphics ladder it runs at, and whether IT pinned it.
    int graphicsLevel = 0;
    bool graphicsPinned = false;
    bool stateChanged = false;
    std::vector<std::string> log;
};

// Makes a version the installer put there current, takes a staged version on
// trial, gives up a trial that two starts never made healthy, and falls back
// to `previous`, else the highest complete version, when `current` is gone.
Start beforeStart(InstallState::State &state, const std::vector<std::string> &complete);

// While another launcher runs a shell of the installation: the version it runs,
// the trial if there is one, else the current one. The state is the other
// launcher's, so it stays as it is, and this is no start of a trial.
Start alongside(const InstallState::State &state, const std::vector<std::string> &complete);

// When the state file cannot be read: the current version of `lastKnown` (the
// copy the last write left, or nothing), never a trial; the state stays as it is.
Start withoutState(const InstallState::State &lastKnown, const std::vector<std::string> &complete);

// Before each start: the graphics level `start` runs at. A level learnt on
// another Qt runtime is forgotten, as another Qt may draw well on this
// desktop's driver (an empty `runtime`, one that cannot be told, keeps it);
// IT's pin, `pinned` 0 to 3 (-1: none), wins without changing the state.
// True when `state` changed; what is worth saying goes to `log`.
bool chooseGraphics(InstallState::State &state, Start &start, const std::string &runtime, int pinned,
                    std::vector<std::string> &log);

// How a start of the shell ended, as the launcher saw it.
struct Outcome
{
    bool started = true; // false: the program could not be started at all
    bool notLoaded = false; // the system could not load it (a library missing)
    bool crashed = false;
    int exitCode = 0;
    bool firstFrame = false; // its window showed its first frame
    // Where a crash happened, from the summary the shell left: the module's
    // path or name as told, empty when not told, and what kind of code it is.
    std::string crashModule;
    CrashKind::Kind crashKind = CrashKind::Kind::Unknown;
    long long endedAtSeconds = 0; // on a clock that only goes forward
};

enum class Verdict {
    Clean, // ended normally after its window showed: nothing against the version
    Unproven, // ended normally before its window showed (a hand-over, a log-off)
    Failed, // ended abnormally after its window showed
    FailedEarly, // ended abnormally before its window showed
    CannotStart, // never ran: its program or a library is missing
    GraphicsCrash, // crashed in a graphics driver: nothing against the version
};

// What a start that ended says about its version. Kept apart from what follows
// from it, so that more of what the launcher learns about an end (where a crash
// happened) can refine the verdict.
Verdict judge(const Outcome &outcome);

struct After
{
    Start next; // what to start at once; version empty: nothing
    bool stateChanged = false;
    bool gaveUp = false; // another version was needed, and none was left to start
    bool crashLoop = false; // it kept crashing at the last graphics level: stop
    std::vector<std::string> log;
};

// What this launcher has seen before: the versions it started, and when the
// starts at the last graphics level (or IT's) crashed in the driver.
struct Past
{
    std::vector<std::string> tried;
    std::vector<long long> lastLevelCrashes;
};

// `state` is read again after the shell ended: a trial that became healthy in
// the meantime is no longer the trial. A trial that failed is marked bad; a
// trial start that ended normally after its window showed does not count; a
// version that could not start or failed before its window showed gives way
// at once to `previous`, else the highest other startable version. A crash in
// a graphics driver never counts against a version: the same start follows
// at once, a step down the graphics ladder, and at its last step again until
// it crashed CrashLoopCrashes times within CrashLoopSeconds. `started` joins
// `past.tried`.
After afterExit(InstallState::State &state, const Start &started, const Outcome &outcome,
                const std::vector<std::string> &complete, Past &past);

// Trial starts after which a version that never became healthy is given up.
constexpr int MaxTrialStarts = 2;
constexpr int CrashLoopCrashes = 3;
constexpr long long CrashLoopSeconds = 60;

} // namespace StartPlan
