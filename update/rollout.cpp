#include "update/rollout.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QSettings>

namespace Rollout {

Policy readPolicy(const QString &file)
{
    Policy policy;
    if (!QFileInfo(file).isFile())
        return policy;
    const QSettings settings(file, QSettings::IniFormat);
    policy.enabled = settings.value(QStringLiteral("enabled"), QStringLiteral("1")).toString().trimmed()
            != QLatin1String("0");
    policy.pin = settings.value(QStringLiteral("pin")).toString().trimmed();
    policy.ring = settings.value(QStringLiteral("ring")).toString().trimmed();
    return policy;
}

bool inShare(const QString &installationId, const QString &salt, int share)
{
    const QByteArray hash = QCryptographicHash::hash((installationId + QLatin1Char(':') + salt).toUtf8(),
                                                     QCryptographicHash::Sha256);
    const quint32 head = (quint32(quint8(hash[0])) << 24) | (quint32(quint8(hash[1])) << 16)
            | (quint32(quint8(hash[2])) << 8) | quint32(quint8(hash[3]));
    // A place among 10000, so that the share's per cent step is fine enough.
    return int(head % 10000) < share * 100;
}

QString target(const UpdateManifest &manifest, const QString &installationId, const Policy &policy,
               const QStringList &bad, const QString &platform)
{
    if (!policy.enabled)
        return QString();
    const UpdateManifest::Rollout &rollout = manifest.rollout;
    QString chosen;
    if (!policy.pin.isEmpty())
        chosen = policy.pin;
    else if (rollout.pins.contains(installationId))
        chosen = rollout.pins.value(installationId);
    else if (!policy.ring.isEmpty() && rollout.rings.contains(policy.ring))
        chosen = rollout.rings.value(policy.ring);
    else if (inShare(installationId, rollout.salt, rollout.share))
        chosen = rollout.target;
    if (chosen.isEmpty() || bad.contains(chosen) || !manifest.release(chosen, platform))
        return QString();
    return chosen;
}

} // namespace Rollout
