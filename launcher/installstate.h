#pragma once

#include <string>
#include <vector>

// The installation's update state, `update/state.ini` below the installation root,
// shared by the launcher, the shell's updater and the installer. Plain C++17
// without Qt, so the launcher stays small. Paths are UTF-8.
namespace InstallState {

struct State
{
    std::string installationId, current, previous, pending, trial;
    // Put there by the installer: the version IT installed, which the launcher
    // makes current at its next start.
    std::string installed;
    int trialStarts = 0;
    std::vector<std::string> bad;

    // What this desktop has verified of the release channel: the serial of the
    // manifest it accepted last, that manifest's SHA-256 and the id of the key
    // that signed it, the latest signing time it has verified (seconds since
    // 1970), the keys revoked for good, and a manifest set aside for good.
    unsigned long long serial = 0;
    std::string manifestSha256;
    std::string serialKey;
    long long timeFloor = 0;
    std::vector<std::string> revokedKeys;
    std::string rejectedSha256;

    // How this desktop draws: the step of the graphics ladder that crashes in
    // its graphics driver have taken it to (0 to 3), and the Qt runtime that
    // was learnt on (Installation::qtRuntime()), with which it is forgotten.
    int graphicsLevel = 0;
    std::string graphicsRuntime;

    // For the channel's report and IT's status file: the shell's crashes since
    // the installation (counted up to a million) and the file name of the
    // module the last one happened in; the last update check, when (seconds
    // since 1970) and how it ended (a word, see isResultWord); the last package
    // download, how it ended, how it fetched the release (see isDownloadWay),
    // from which kind of place most of it came (see isDownloadPlace), the
    // bytes it fetched, the seconds it took and, fetched by its files, how
    // many of them it made from patches (counted up to a million).
    int crashes = 0;
    std::string lastCrashModule;
    long long lastCheckAt = 0;
    std::string lastCheckResult;
    std::string downloadResult;
    std::string downloadVia;
    std::string downloadFrom;
    long long downloadBytes = 0;
    long long downloadSeconds = 0;
    int downloadPatched = 0;

    bool isBad(const std::string &version) const;
    bool isRevoked(const std::string &keyId) const;
};

enum class ReadResult {
    Read,
    Missing, // no such file: a new installation
    Unreadable, // there, but it cannot be read (held by another program, no access, too large)
};

// `out` is all-empty unless the file was read. Unknown keys and values that
// are not what their key holds are dropped. A file another program holds
// without sharing (a scanner, a backup tool) is tried again for a few seconds.
// `why` says what went wrong, for a log line.
ReadResult read(const std::string &path, State &out, std::string *why = nullptr);
// Replaces the file atomically through `<path>.fenestra-tmp`; false on failure,
// leaving the old file as it was. Every write also leaves a copy in
// `<path>.last`, which readLastCopy() reads when the file itself cannot be.
bool write(const std::string &path, const State &s);
// Whether a replaced file must survive a power cut, at the cost of waiting
// for the disk (milliseconds on a busy desktop).
enum class Durability { Flushed, Cached };
// Replaces a file of the installation with `content` atomically through
// `<path>.fenestra-tmp`: readers see the old file or the new one, never a
// part. False on failure, leaving the old file as it was and no temporary file behind.
bool replaceAtomically(const std::string &path, const std::string &content,
                       Durability durability = Durability::Flushed);
// The copy the last write left; false when there is none to read.
bool readLastCopy(const std::string &path, State &out);

// A version folder's name: [0-9A-Za-z._-], 1 to 64 characters, no leading or
// trailing dot, not ending in ".staging", not a Windows device name (CON,
// NUL, COM1..., also with an extension).
bool isValidVersion(const std::string &version);
// An installation's random id: 32 hexadecimal digits, lower case.
bool isInstallationId(const std::string &id);
// A ring IT names in update-policy.ini: [0-9A-Za-z._-], 1 to 32 characters.
bool isRingName(const std::string &ring);
// A minisign key id as minisign prints it: 16 hexadecimal digits, upper case.
bool isKeyId(const std::string &id);
// A Qt runtime's name as Installation::qtRuntime() gives it: [0-9A-Za-z._:+-], at most 128.
bool isRuntimeName(const std::string &name);
// A module's file name as a crash summary names it, folder dropped:
// [0-9A-Za-z._+-], 1 to 64 characters.
bool isModuleName(const std::string &name);
// The module's file name from `module` (a path with either slash), with any
// other character made `_` and cut to 64; empty when nothing is left.
std::string moduleName(const std::string &module);
// How a check or download ended: [a-z-], 1 to 32 characters.
bool isResultWord(const std::string &word);
// How a release was fetched: "files" (only the files that changed, by their
// content) or "package" (the whole package).
bool isDownloadWay(const std::string &word);
// Where a release came from: "mirror" (IT's plant cache), "share" (IT's
// folder), "manifest" (a mirror the manifest names) or "origin" (the channel).
bool isDownloadPlace(const std::string &word);
// Orders versions by their dot-separated parts, numerically where both are numbers.
bool versionLess(const std::string &a, const std::string &b);

} // namespace InstallState
