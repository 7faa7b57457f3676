#pragma once

#include "update/releasedecision.h"

#include <QUrl>

// What a desktop tells its channel with each check, in the manifest request's
// query, so that the channel server's ordinary access log is the fleet's
// record: which version runs, what it replaced, whether it is on trial, its
// ring and the versions it rolled back. Only what the update state holds,
// each field checked and bounded; nothing that names a person or a machine.
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
namespace UpdateReport {

// `manifest` with the report added to its query, or as it is when IT turned reports off.
QUrl withReport(const QUrl &manifest, const ReleaseDecision::Situation &situation);

} // namespace UpdateReport
