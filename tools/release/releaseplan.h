#pragma once

#include "update/updatemanifest.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// What the release tool is asked to publish, and the manifest that follows from
// it and from the channel's last one: a pure step, so that each of its checks
// can be tried in a table.
namespace ReleasePlan {

struct Request
{
    QString target; // the version desktops take; the packed one, when one is packed
    QString baseUrl; // where the channel folder is published
    int share = 100;
    QString salt; // empty: the target
    QHash<QString, QString> rings;
    QHash<QString, QString> pins;
    std::optional<quint64> serial; // none: the signing time in seconds
    int days = 30;
    QStringList pull;
    QStringList revokeKeys;
    QList<quint64> replaceSerials;
    // The manifest's mirrors; none: the last manifest's, an empty list: none.
    std::optional<QStringList> mirrors;
};

struct Result
{
    UpdateManifest manifest;
    QString refusal; // empty: ready to sign
};

// The channel's next manifest. `previous` is the channel's last manifest, if
// any; `packed` the release just packed, if any; `filesInChannel` the names
// of the files the channel folder holds (a release whose package is gone is
// no longer listed). Refused: names that are not version names, a serial not
// above the last one (unless it replaces that one), a serial far ahead of the
// signing time, a clock behind the last signing time, a version name released
// before, a target, ring or pin without a package, and a manifest over 64 KiB.
Result compose(const std::optional<UpdateManifest> &previous, const Request &request,
               const std::optional<UpdateManifest::Release> &packed, const QSet<QString> &filesInChannel,
               const QDateTime &now);

} // namespace ReleasePlan
