#include "update/updatereport.h"

#include <QUrlQuery>

#include <algorithm>

namespace UpdateReport {

namespace {

QString fromStd(const std::string &text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

bool isInstallationId(const std::string &id)
{
    return id.size() == 32 && std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// A ring is a name IT chose: letters, digits, dot, dash and underscore, at most 32.
bool isRingName(const QString &ring)
{
    return !ring.isEmpty() && ring.size() <= 32 && std::all_of(ring.begin(), ring.end(), [](QChar c) {
        return c.unicode() < 128 && (c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u'_');
    });
}

void addVersion(QUrlQuery &query, const QString &key, const std::string &version)
{
    if (InstallState::isValidVersion(version))
        query.addQueryItem(key, fromStd(version));
}

} // namespace

QUrl withReport(const QUrl &manifest, const ReleaseDecision::Situation &situation)
{
    if (!situation.policy.report)
        return manifest;
    const InstallState::State &state = situation.state;
    QUrlQuery query(manifest);
    if (isInstallationId(state.installationId))
        query.addQueryItem(QStringLiteral("id"), fromStd(state.installationId));
    addVersion(query, QStringLiteral("v"), situation.ownVersion.toStdString());
    addVersion(query, QStringLiteral("prev"), state.previous);
    addVersion(query, QStringLiteral("pending"), state.pending);
    query.addQueryItem(QStringLiteral("trial"),
                       !state.trial.empty() && fromStd(state.trial) == situation.ownVersion
                               ? QStringLiteral("1")
                               : QStringLiteral("0"));
    if (isRingName(situation.policy.ring))
        query.addQueryItem(QStringLiteral("ring"), situation.policy.ring);
    query.addQueryItem(QStringLiteral("bad"), QString::number(state.bad.size()));
    if (!state.bad.empty())
        addVersion(query, QStringLiteral("lastbad"), state.bad.back());
    query.addQueryItem(QStringLiteral("os"), situation.platform);
    QUrl reported = manifest;
    reported.setQuery(query);
    return reported;
}

} // namespace UpdateReport
