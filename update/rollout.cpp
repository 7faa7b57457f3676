#include "update/rollout.h"

#include <QCryptographicHash>

namespace Rollout {

bool inShare(const QString &installationId, const QString &salt, int share)
{
    const QByteArray hash = QCryptographicHash::hash((installationId + QLatin1Char(':') + salt).toUtf8(),
                                                     QCryptographicHash::Sha256);
    const quint32 head = (quint32(quint8(hash[0])) << 24) | (quint32(quint8(hash[1])) << 16)
            | (quint32(quint8(hash[2])) << 8) | quint32(quint8(hash[3]));
    // A place among 10000, so that the share's per cent step is fine enough.
    return int(head % 10000) < share * 100;
}

Choice choose(const UpdateManifest &manifest, const QString &installationId, const Policy &policy,
              const QStringList &bad, const QString &platform)
{
    if (!policy.enabled)
        return {};
    const UpdateManifest::Rollout &rollout = manifest.rollout;
    Choice choice;
    if (!policy.pin.isEmpty())
        choice = { policy.pin, true };
    else if (rollout.pins.contains(installationId))
        choice = { rollout.pins.value(installationId), true };
    else if (!policy.ring.isEmpty() && rollout.rings.contains(policy.ring))
        choice = { rollout.rings.value(policy.ring), false };
    else if (inShare(installationId, rollout.salt, rollout.share))
        choice = { rollout.target, false };
    if (choice.version.isEmpty() || bad.contains(choice.version) || manifest.pulled.contains(choice.version)
        || !manifest.release(choice.version, platform))
        return {};
    return choice;
}

} // namespace Rollout
