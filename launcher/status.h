#pragma once

#include "launcher/installstate.h"
#include "launcher/startplan.h"

#include <string>

// `update/status.json`: what IT's tools (an inventory agent, a script) may read
// about this desktop's versions and starts, written by the launcher whenever it
// changes the state or starts a version. Valid JSON whatever the strings hold,
// and a few kilobytes at most.
namespace Status {

enum class Exit {
    None, // nothing started yet that ended
    Clean,
    Failed, // ended with an exit code other than 0
    Crashed,
    CouldNotStart, // its program or a library is missing
};

struct LastExit
{
    Exit kind = Exit::None;
    std::string version, cause;
    std::string at; // as isoUtc() writes it
};

struct Facts
{
    InstallState::State state;
    std::string started; // the version the launcher started last, if any
    std::string startedAt; // as isoUtc() writes it
    int graphicsLevel = 0; // the level it runs at, IT's pin included
    LastExit lastExit;
};

// How a start ended; `crashCause` says where a crash happened, for the cause.
LastExit lastExit(const std::string &version, const StartPlan::Outcome &outcome,
                  const std::string &crashCause, long long at);

std::string json(const Facts &facts);
// The last exit an earlier launcher wrote into `json`, so that a new start
// keeps it; an empty one when there is none, or the text is not ours.
LastExit readLastExit(const std::string &json);
// What an earlier launcher wrote into `json` of its own (the start, its
// graphics level, the last exit), so that the shell may write the file again
// with the state changed by a check; the state itself is not read back.
Facts readFacts(const std::string &json);

// A JSON string literal for `text`, quotes included; bytes that are not
// UTF-8 become U+FFFD.
std::string quote(const std::string &text);
// `2026-12-10T08:15:00Z`.
std::string isoUtc(long long secondsSince1970);

} // namespace Status
