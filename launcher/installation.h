#pragma once

#include <string>
#include <vector>

// The files of an installation below its root (their names are in
// installlayout.h): the version folders, the state file, the launcher's lock,
// the first-frame mark and the launcher's log. Paths are UTF-8.
namespace Installation {

std::string statePath(const std::string &root);
std::string statusPath(const std::string &root);
// The status file as text, bounded; empty when missing or larger than it ever is.
std::string statusText(const std::string &root);
// Held by the launcher that runs a shell of this installation, as long as it does.
std::string lockPath(const std::string &root);
// The shell writes its version there when its window shows its first frame.
std::string firstFramePath(const std::string &root);
// Removed before each start, so that only that start can leave the mark.
void clearFirstFrame(const std::string &root);
// Whether the shell of `version` left the mark since the last clearFirstFrame().
bool showedFirstFrame(const std::string &root, const std::string &version);
// The shell inside a version folder: versions/<v>/fenestra.exe on Windows,
// versions/<v>/bin/fenestra elsewhere.
std::string shellPath(const std::string &root, const std::string &version);
// The version folders that carry the marker staging writes last; never a
// folder still being staged.
std::vector<std::string> completeVersions(const std::string &root);
// Appends one dated line to logs/launcher.log, whose older lines move to
// launcher.old.log at a megabyte; a log that cannot be written never stops a start.
void log(const std::string &root, const std::string &line);
// Names the Qt runtime a version ships: its Qt core library's file name (links
// followed, so that on Linux it carries Qt's version) and size, read without
// opening it, and changed by any other build of Qt. Empty when the version
// has none of its own, as a shell built against the system's Qt.
std::string qtRuntime(const std::string &root, const std::string &version);
// IT's policy files as text, update-policy.ini first, then policy.ini, whose
// keys win; each empty when missing or larger than such a file is.
std::vector<std::string> policyTexts(const std::string &root);
// Removed before each start, so that only that start's crash can leave one.
void clearCrashSummary(const std::string &root);
// The summary the shell left about its crash, at most 4 KiB of it, removed
// once read; empty when there is none.
std::string takeCrashSummary(const std::string &root);
// 32 hex characters from the system's random source.
std::string newInstallationId();

} // namespace Installation
