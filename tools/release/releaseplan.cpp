#include "releaseplan.h"

#include "launcher/installstate.h"

#include <QRegularExpression>

#include <algorithm>

namespace ReleasePlan {

namespace {

bool isVersion(const QString &version)
{
    return InstallState::isValidVersion(version.toStdString());
}

QString fileNameOf(const QUrl &url)
{
    return url.path().section(QLatin1Char('/'), -1);
}

bool listed(const QList<UpdateManifest::Release> &releases, const QString &version)
{
    return std::any_of(releases.begin(), releases.end(),
                       [&](const UpdateManifest::Release &r) { return r.version == version; });
}

QString checkRequest(const Request &request)
{
    if (!isVersion(request.target))
        return QStringLiteral(
                       "'%1' is no version name: [0-9A-Za-z._-], up to 64 characters, no dot at either "
                       "end, not ending in .staging, no Windows device name")
                .arg(request.target);
    if (request.share < 0 || request.share > 100)
        return QStringLiteral("the share is 0 to 100 per cent");
    if (request.days < 1 || request.days > 366)
        return QStringLiteral("a manifest is valid for 1 to 366 days");
    const QUrl base(request.baseUrl);
    if (!base.isValid()
        || (base.scheme() != QLatin1String("http") && base.scheme() != QLatin1String("https")))
        return QStringLiteral("the base address is no http or https address");
    static const QRegularExpression id(QStringLiteral("^[0-9a-fA-F]{32}$"));
    for (auto it = request.pins.begin(); it != request.pins.end(); ++it) {
        if (!id.match(it.key()).hasMatch())
            return QStringLiteral("'%1' is no installation id (32 hexadecimal digits)").arg(it.key());
        if (!isVersion(it.value()))
            return QStringLiteral("'%1' is no version name").arg(it.value());
    }
    for (auto it = request.rings.begin(); it != request.rings.end(); ++it) {
        if (it.key().isEmpty() || it.key().size() > 64)
            return QStringLiteral("a ring's name has 1 to 64 characters");
        if (!isVersion(it.value()))
            return QStringLiteral("'%1' is no version name").arg(it.value());
    }
    for (const QString &version : request.pull) {
        if (!isVersion(version))
            return QStringLiteral("'%1' is no version name").arg(version);
    }
    for (const QString &key : request.revokeKeys) {
        if (!InstallState::isKeyId(key.toUpper().toStdString()))
            return QStringLiteral("'%1' is no key id (16 hexadecimal digits)").arg(key);
    }
    for (const QString &mirror : request.mirrors.value_or(QStringList())) {
        if (!UpdateManifest::isMirror(QUrl(mirror, QUrl::StrictMode)))
            return QStringLiteral("'%1' is no mirror: an http or https address without a password")
                    .arg(mirror);
    }
    if (request.mirrors && request.mirrors->size() > UpdateManifest::maxMirrors)
        return QStringLiteral("more than %1 mirrors").arg(UpdateManifest::maxMirrors);
    return QString();
}

} // namespace

Result compose(const std::optional<UpdateManifest> &previous, const Request &request,
               const std::optional<UpdateManifest::Release> &packed, const QSet<QString> &filesInChannel,
               const QDateTime &now)
{
    Result result;
    result.refusal = checkRequest(request);
    if (!result.refusal.isEmpty())
        return result;
    UpdateManifest &m = result.manifest;
    m.signedAt = QDateTime::fromSecsSinceEpoch(now.toSecsSinceEpoch(), Qt::UTC);
    m.expires = m.signedAt.addDays(request.days);
    m.serial = request.serial.value_or(quint64(m.signedAt.toSecsSinceEpoch()));
    // What every desktop would refuse, or what would lock them out.
    if (m.serial == 0 || m.serial > quint64(m.signedAt.toSecsSinceEpoch() + UpdateManifest::maxSerialLead))
        return { {},
                 QStringLiteral("serial %1 is implausible: more than a year ahead of now (serials are "
                                "seconds since 1970 unless chosen)")
                         .arg(m.serial) };
    if (previous) {
        if (now < previous->signedAt)
            return { {},
                     QStringLiteral("this computer's clock (%1) is behind the channel's last signing time "
                                    "(%2): desktops would refuse the manifest")
                             .arg(now.toUTC().toString(Qt::ISODate),
                                  previous->signedAt.toString(Qt::ISODate)) };
        if (m.serial <= previous->serial && !request.replaceSerials.contains(previous->serial))
            return { {},
                     QStringLiteral("serial %1 is not above the channel's last serial %2; to undo a "
                                    "mistaken serial, replace it (--replace-serial %2)")
                             .arg(m.serial)
                             .arg(previous->serial) };
        // A release stays listed while its package is in the channel.
        for (const UpdateManifest::Release &release : previous->releases) {
            if (filesInChannel.contains(fileNameOf(release.url)))
                m.releases << release;
        }
        m.pulled = previous->pulled;
        m.revokedKeys = previous->revokedKeys;
        m.mirrors = previous->mirrors;
    }
    if (request.mirrors) {
        m.mirrors.clear();
        for (const QString &mirror : *request.mirrors)
            m.mirrors << QUrl(mirror, QUrl::StrictMode);
    }
    if (packed) {
        if (m.release(packed->version, packed->platform)
            || (previous && previous->pulled.contains(packed->version)))
            return { {},
                     QStringLiteral("%1 for %2 was released before: a version name is never used for another "
                                    "package")
                             .arg(packed->version, packed->platform) };
        m.releases << *packed;
    }
    for (const QString &version : request.pull) {
        if (!m.pulled.contains(version))
            m.pulled << version;
    }
    m.pulled = m.pulled.mid(qMax(0, int(m.pulled.size()) - UpdateManifest::maxPulled));
    m.releases.erase(
            std::remove_if(m.releases.begin(), m.releases.end(),
                           [&](const UpdateManifest::Release &r) { return m.pulled.contains(r.version); }),
            m.releases.end());
    for (const QString &key : request.revokeKeys) {
        if (!m.revokedKeys.contains(key.toUpper()))
            m.revokedKeys << key.toUpper();
    }
    if (m.revokedKeys.size() > UpdateManifest::maxRevokedKeys)
        return { {}, QStringLiteral("more than %1 revoked keys").arg(UpdateManifest::maxRevokedKeys) };
    m.replacesSerials = request.replaceSerials;

    m.rollout.target = request.target;
    m.rollout.share = request.share;
    m.rollout.salt = request.salt.isEmpty() ? request.target : request.salt;
    m.rollout.rings = request.rings;
    m.rollout.pins = request.pins;
    QStringList named = { request.target };
    named << request.rings.values() << request.pins.values();
    for (const QString &version : std::as_const(named)) {
        if (m.pulled.contains(version))
            return { {}, QStringLiteral("%1 is pulled: no desktop would take it").arg(version) };
        if (!listed(m.releases, version))
            return {
                {}, QStringLiteral("%1 has no package in the channel: no desktop could take it").arg(version)
            };
    }

    const QByteArray document = m.toJson();
    if (document.size() > UpdateManifest::maxSize)
        return { {},
                 QStringLiteral("the manifest would have %1 bytes: desktops refuse one over 64 KiB")
                         .arg(document.size()) };
    // What desktops read is what was meant.
    QString problem;
    UpdateManifest::parse(document, &problem);
    if (!problem.isEmpty())
        return { {}, QStringLiteral("the manifest would not read back: %1").arg(problem) };
    return result;
}

} // namespace ReleasePlan
