#pragma once

#include <string>
#include <vector>

// The installation's update state, `update/state.ini` below the installation root,
// shared by the launcher and the shell's updater. Plain C++17 without Qt, so the
// launcher stays small. Paths are UTF-8.
namespace InstallState {

struct State
{
    std::string installationId, current, previous, pending, trial;
    int trialStarts = 0;
    std::vector<std::string> bad;
    unsigned long long serial = 0;
    bool isBad(const std::string &version) const;
};

// False when the file is missing or unreadable; `out` is then all-empty.
// Unknown keys and values that are not what their key holds are dropped.
bool read(const std::string &path, State &out);
// Replaces the file atomically through `<path>.fenestra-tmp`; false on failure,
// leaving the old file as it was.
bool write(const std::string &path, const State &s);

// A version folder's name: [0-9A-Za-z._-], 1 to 64 characters, no leading dot.
bool isValidVersion(const std::string &version);
// Orders versions by their dot-separated parts, numerically where both are numbers.
bool versionLess(const std::string &a, const std::string &b);

} // namespace InstallState
