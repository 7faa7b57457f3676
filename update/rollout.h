#pragma once

#include "update/updatemanifest.h"

#include <QString>
#include <QStringList>

// Which release a desktop takes: IT's local policy first, then the manifest's
// pin for this installation, its ring, and last the staged share of desktops.
namespace Rollout {

// update-policy.ini beside config.dll, written by the installer's options or by IT.
struct Policy
{
    bool enabled = true;
    QString pin;
    QString ring;
    // Whether the checks tell the channel what this desktop runs (report=0: no).
    bool report = true;
    // Where the shell sends its crash dumps (crash_upload=); empty: the build's own, if any.
    QString crashUpload;
    // What in the file was not understood, for a log line; empty when all was.
    QString problem;
};

// A missing file is the default policy: updates on, no pin, no ring. Keys
// count at the top of the file or under [update]; `enabled` is off for 0,
// false, off or no and on for 1, true, on or yes (any letter case), and an
// `enabled` that is none of these turns updates off too, as IT wrote it to
// change something; `report` takes the same words, and one not understood
// sends no report.
Policy readPolicy(const QString &file);

// True when SHA-256 of the id and salt falls under `share` per cent, so that a
// higher share keeps every desktop a lower one took, and a new salt picks others.
bool inShare(const QString &installationId, const QString &salt, int share);

struct Choice
{
    QString version; // empty: none
    bool pinned = false; // named for this desktop alone: by IT's policy or the manifest's pin
};

// The version this installation should run. A version listed in `bad` or
// pulled by the manifest, or without a release for `platform`, is never chosen.
Choice choose(const UpdateManifest &manifest, const QString &installationId, const Policy &policy,
              const QStringList &bad, const QString &platform);

} // namespace Rollout
