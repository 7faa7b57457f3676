#include "update/rollout.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QSettings>

namespace Rollout {

namespace {

QString value(const QSettings &settings, const QString &key)
{
    const QString top = settings.value(key).toString().trimmed();
    return top.isEmpty() ? settings.value(QStringLiteral("update/") + key).toString().trimmed() : top;
}

// A switch IT may write as 0, false, off or no and 1, true, on or yes (any
// letter case); missing is on. Anything else is off, and said in `problem`.
bool readSwitch(const QSettings &settings, const QString &key, QString &problem)
{
    const QString word = value(settings, key).toLower();
    static const QStringList on = { QString(), QStringLiteral("1"), QStringLiteral("true"),
                                    QStringLiteral("on"), QStringLiteral("yes") };
    static const QStringList off = { QStringLiteral("0"), QStringLiteral("false"), QStringLiteral("off"),
                                     QStringLiteral("no") };
    if (on.contains(word))
        return true;
    if (!off.contains(word))
        problem = QStringLiteral("%1=%2 is not understood, so it is off").arg(key, word.left(64));
    return false;
}

} // namespace

Policy readPolicy(const QString &file)
{
    Policy policy;
    if (!QFileInfo(file).isFile())
        return policy;
    const QSettings settings(file, QSettings::IniFormat);
    policy.enabled = readSwitch(settings, QStringLiteral("enabled"), policy.problem);
    policy.report = readSwitch(settings, QStringLiteral("report"), policy.problem);
    policy.pin = value(settings, QStringLiteral("pin"));
    policy.ring = value(settings, QStringLiteral("ring"));
    policy.crashUpload = value(settings, QStringLiteral("crash_upload"));
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
