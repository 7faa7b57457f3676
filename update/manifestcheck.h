#pragma once

#include "update/updatemanifest.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// What a desktop has verified of its release channel, kept in its update state:
// the newest manifest it accepted and what it learnt from all of them.
struct ManifestTrust
{
    quint64 serial = 0;
    QByteArray sha256; // hex, of the manifest accepted at `serial`; empty: not known
    QString key; // id of the key that signed it
    qint64 timeFloor = 0; // the latest signing time verified, seconds since 1970
    QStringList revokedKeys; // never trusted again
    QByteArray rejectedSha256; // a manifest set aside for good
};

struct ManifestCheck
{
    UpdateManifest manifest;
    QString refusal; // empty: accepted
    ManifestTrust trust; // what the desktop knows once it accepted the manifest
    QString note; // what a log should say beside the acceptance, if anything
};

// The verdict on a downloaded manifest and its .minisig. Accepted when one of
// `keys` that is not revoked signed it, it names this program, and it is not
// older than what `known` holds:
// - its serial is not lower, and an equal serial comes with the same bytes;
// - it was not signed before the latest signing time verified;
// - it has not expired at `now`, or at that signing time when the clock is
//   behind; a clock that is ahead does not refuse a manifest that is new to
//   the desktop, as long as it had not expired by any time the desktop verified;
// - its serial is not implausibly far ahead of its own signing time.
// A manifest that revokes the key that signed the one the desktop holds, or
// replaces that one's serial, is taken although its serial is lower; the
// manifest it replaces is then set aside for good.
ManifestCheck checkManifest(const QByteArray &document, const QByteArray &signature, const QStringList &keys,
                            const ManifestTrust &known, const QDateTime &now);
