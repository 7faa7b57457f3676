#pragma once

#include "update/releasedecision.h"

#include <QUrl>

// What a desktop tells its channel with each check, in the manifest request's
// query, so that the channel server's ordinary access log is the fleet's
// record: which version runs, what it replaced, whether it is on trial, its
// ring, the versions it rolled back, its crashes, how it draws and how its
// last download went. Counts only grow, so that a report the server never saw
// loses nothing: the fleet page takes the difference between two reports.
// Only what the update state and the launcher hold, each field checked and
// bounded; nothing that names a person or a machine (a crash's module is a
// file name without its folder).
// IT turns it off with report=0 in its policy file.
//
//   id       the installation's random id (32 hexadecimal digits)
//   v        the version this shell runs
//   prev     the version before it, kept for a way back
//   pending  a version staged for the next start
//   trial    1 while this version is on trial, else 0
//   ring     IT's ring for this desktop
//   bad      how many versions this desktop has rolled back
//   lastbad  the last of them
//   os       windows-x86_64 or linux-x86_64
//   gfx      the graphics level the shell runs at (0 to 3); missing when
//            started without the launcher
//   crashes  the shell's crashes since the installation
//   crashmod the file name of the module the last one happened in
//   dl       how the last download ended: ok or failed
//   dlvia    how it fetched: files (only those that changed) or package
//   dlfrom   where most of it came from: mirror (IT's plant cache), share
//            (IT's folder), manifest (a mirror the manifest names) or origin
//   dlbytes  the bytes it fetched
//   dlsec    the seconds it took
//   dlpatched of the files it fetched, how many it made from patches; only
//            with dlvia=files
namespace UpdateReport {

// `manifest` with the report added to its query, or as it is when IT turned reports off.
QUrl withReport(const QUrl &manifest, const ReleaseDecision::Situation &situation);

} // namespace UpdateReport
