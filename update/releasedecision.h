#pragma once

#include "launcher/installstate.h"
#include "update/rollout.h"
#include "update/updatemanifest.h"

#include <QByteArray>
#include <QHash>
#include <QString>

// What the updater does with a manifest it accepted: a pure decision on the
// installation's state, the manifest and IT's policy, so that every case can
// be tried in a table.
namespace ReleaseDecision {

struct Situation
{
    InstallState::State state;
    QString ownVersion; // the version this shell runs
    Rollout::Policy policy;
    QString platform;
    // The complete version folders and the package each was staged from (its
    // SHA-256 in hex; empty when not known, as for one an installer put there).
    QHash<QString, QByteArray> onDisk;
    // The graphics level the launcher started this shell at (0 to 3); -1 when
    // it was started without one. Only the report says it.
    int graphicsLevel = -1;
};

struct Decision
{
    enum class Kind {
        Nothing,
        Withdraw, // the pending version is not to be started
        MarkPending, // the release is on disk already: start it on trial next time
        Stage, // download and stage `release`
    };
    Kind kind = Kind::Nothing;
    QString version;
    UpdateManifest::Release release;
    QString why; // for the log line
};

// `manifest` is null when none was accepted; then only IT's policy counts.
// A version older than the current one is taken only when the manifest pulled
// the current one, or for a pin; a pending version the manifest no longer
// chooses is withdrawn; updates turned off withdraw it too.
Decision decide(const UpdateManifest *manifest, const Situation &situation);

} // namespace ReleaseDecision
