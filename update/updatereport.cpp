#include "update/updatereport.h"

#include <QUrlQuery>

namespace UpdateReport {

namespace {

QString fromStd(const std::string &text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
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
    if (InstallState::isInstallationId(state.installationId))
        query.addQueryItem(QStringLiteral("id"), fromStd(state.installationId));
    addVersion(query, QStringLiteral("v"), situation.ownVersion.toStdString());
    addVersion(query, QStringLiteral("prev"), state.previous);
    addVersion(query, QStringLiteral("pending"), state.pending);
    query.addQueryItem(QStringLiteral("trial"),
                       !state.trial.empty() && fromStd(state.trial) == situation.ownVersion
                               ? QStringLiteral("1")
                               : QStringLiteral("0"));
    if (InstallState::isRingName(situation.policy.ring.toStdString()))
        query.addQueryItem(QStringLiteral("ring"), situation.policy.ring);
    query.addQueryItem(QStringLiteral("bad"), QString::number(state.bad.size()));
    if (!state.bad.empty())
        addVersion(query, QStringLiteral("lastbad"), state.bad.back());
    query.addQueryItem(QStringLiteral("os"), situation.platform);
    if (situation.graphicsLevel >= 0 && situation.graphicsLevel <= 3)
        query.addQueryItem(QStringLiteral("gfx"), QString::number(situation.graphicsLevel));
    query.addQueryItem(QStringLiteral("crashes"), QString::number(state.crashes));
    if (InstallState::isModuleName(state.lastCrashModule))
        query.addQueryItem(QStringLiteral("crashmod"), fromStd(state.lastCrashModule));
    if (state.downloadResult == "ok" || state.downloadResult == "failed") {
        query.addQueryItem(QStringLiteral("dl"), fromStd(state.downloadResult));
        if (InstallState::isDownloadWay(state.downloadVia))
            query.addQueryItem(QStringLiteral("dlvia"), fromStd(state.downloadVia));
        if (InstallState::isDownloadPlace(state.downloadFrom))
            query.addQueryItem(QStringLiteral("dlfrom"), fromStd(state.downloadFrom));
        query.addQueryItem(QStringLiteral("dlbytes"), QString::number(state.downloadBytes));
        query.addQueryItem(QStringLiteral("dlsec"), QString::number(state.downloadSeconds));
        if (state.downloadVia == "files")
            query.addQueryItem(QStringLiteral("dlpatched"), QString::number(state.downloadPatched));
    }
    QUrl reported = manifest;
    reported.setQuery(query);
    return reported;
}

} // namespace UpdateReport
