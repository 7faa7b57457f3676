#pragma once

#include <cstdint>
#include <string>
#include <vector>

#ifdef _WIN32
#include "launcher/crashhandoff.h"
#endif

// The shell's crash dumps in the installation's crashes folder, which the
// launcher writes: a few files and a few MiB in all, the oldest removed
// first. Only files named as this writes them are ever removed.
namespace CrashDumps {

inline constexpr std::size_t maxFiles = 5;
inline constexpr std::uintmax_t maxBytes = 16 * 1024 * 1024;

// crash-<UTC time>-<version>.dmp, or such a name with ".partial" after it,
// which a write leaves while it runs.
bool isDump(const std::string &fileName);

struct File
{
    std::string name;
    std::uintmax_t size = 0;
};
// Of `files`, the dumps to remove so that the rest keep the bound, oldest
// (first by name) first. The newest dump is always kept, whatever its size;
// a write left unfinished never is.
std::vector<std::string> toRemove(const std::vector<File> &files, std::size_t keepFiles,
                                  std::uintmax_t keepBytes);
// Applies that to the folder of `root`.
void rotate(const std::string &root);

// A dump's bytes, at most maxBytes of them; empty when it cannot be read.
std::string read(const std::string &path);

#ifdef _WIN32
// Writes a minidump of the crashed shell `process` (a handle) for `version`
// under a temporary name, then renames it, and rotates the folder. Its path,
// or empty when it could not be written.
std::string write(const std::string &root, const std::string &version, void *process,
                  const CrashHandoff::Crash &crash);
#endif

} // namespace CrashDumps
