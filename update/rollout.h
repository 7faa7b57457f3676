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
};

// A missing file is the default policy: updates on, no pin, no ring.
Policy readPolicy(const QString &file);

// True when SHA-256 of the id and salt falls under `share` per cent, so that a
// higher share keeps every desktop a lower one took, and a new salt picks others.
bool inShare(const QString &installationId, const QString &salt, int share);

// The version this installation should run, or empty for none. A version
// listed in `bad`, or without a release for `platform`, is never chosen.
QString target(const UpdateManifest &manifest, const QString &installationId, const Policy &policy,
               const QStringList &bad, const QString &platform);

} // namespace Rollout
