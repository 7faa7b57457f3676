#pragma once

#include <string>
#include <vector>

// The folders of an installation below its root: the version folders, the
// state file, the launcher's lock and its log. Paths are UTF-8.
namespace Installation {

std::string statePath(const std::string &root);
// Held by the launcher that runs a shell of this installation, as long as it does.
std::string lockPath(const std::string &root);
// The shell inside a version folder: versions/<v>/fenestra.exe on Windows,
// versions/<v>/bin/fenestra elsewhere.
std::string shellPath(const std::string &root, const std::string &version);
// The version folders that carry the marker staging writes last; never a
// folder still being staged.
std::vector<std::string> completeVersions(const std::string &root);
// Appends one dated line to logs/launcher.log, whose older lines move to
// launcher.old.log at a megabyte; a log that cannot be written never stops a start.
void log(const std::string &root, const std::string &line);
// 32 hex characters from the system's random source.
std::string newInstallationId();

} // namespace Installation
