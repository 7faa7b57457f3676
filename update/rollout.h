#pragma once

#include "config/policy.h"
#include "update/updatemanifest.h"

#include <QString>
#include <QStringList>

// Which release a desktop takes: IT's local policy first, then the manifest's
// pin for this installation, its ring, and last the staged share of desktops.
namespace Rollout {

// IT's keys for updates in its policy file beside config.dll.
using Policy = ::Policy::Updates;

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
