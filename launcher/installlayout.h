#pragma once

// The names of an installation's files and folders below its root, spelled
// once for the launcher, the shell's updater and their tests. Relative to the
// root, with forward slashes. (The Windows installer script spells the few it
// needs again, as it cannot include this.)
namespace InstallLayout {

// One folder per version of the shell.
inline constexpr const char *versionsFolder = "versions";
// Written last into a version folder: only a folder that carries it is started.
inline constexpr const char *completeMarker = ".fenestra-complete";
// A version folder still being unpacked: `versions/<version>.staging`.
inline constexpr const char *stagingSuffix = ".staging";
// The update state shared by the launcher, the shell and the installer.
inline constexpr const char *stateFile = "update/state.ini";
// What IT's tools may read about this desktop's versions and starts, written
// by the launcher.
inline constexpr const char *statusFile = "update/status.json";
// Held by the launcher that runs a shell, as long as it does.
inline constexpr const char *lockFile = "update/launcher.lock";
// Written by the shell when its window shows its first frame, naming its version.
inline constexpr const char *firstFrameFile = "update/first-frame";
// Release packages being downloaded.
inline constexpr const char *downloadsFolder = "update/downloads";
// IT's say about updates, graphics and background tabs.
inline constexpr const char *policyFile = "policy.ini";
// Its name while it held updates alone, still read first (the installer's
// options write it): a key policy.ini sets wins.
inline constexpr const char *oldPolicyFile = "update-policy.ini";
inline constexpr const char *launcherLog = "logs/launcher.log";
inline constexpr const char *launcherOldLog = "logs/launcher.old.log";
// What the launcher keeps of the shell's crashes: the summary below, and on
// Windows a few dumps (*.dmp), which the shell may send to IT's crash server.
inline constexpr const char *crashesFolder = "logs/crashes";
// What the shell may leave about its crash, one line `module=<name> offset=0x<hex>`,
// which the launcher reads and removes.
inline constexpr const char *crashSummaryFile = "logs/crashes/last-crash.txt";
// How many dumps the shell sent on which day: `<yyyy-mm-dd> <count>`.
inline constexpr const char *crashUploadsFile = "logs/crashes/uploads.txt";

#ifdef _WIN32
// The uninstall entry the installer makes below HKEY_CURRENT_USER, whose
// DisplayVersion the launcher keeps current. The installer script spells it
// too (UNINSTALL_KEY in packaging/windows/fenestra.nsi).
inline constexpr const wchar_t *uninstallKey =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Fenestra";
#endif

// The shell inside a version folder.
#ifdef _WIN32
inline constexpr const char *shellInVersion = "fenestra.exe";
#else
inline constexpr const char *shellInVersion = "bin/fenestra";
#endif
// Qt's core library inside a version folder, which names the Qt runtime it ships.
#ifdef _WIN32
inline constexpr const char *qtCoreInVersion = "Qt6Core.dll";
#else
inline constexpr const char *qtCoreInVersion = "lib/libQt6Core.so.6";
#endif

} // namespace InstallLayout
