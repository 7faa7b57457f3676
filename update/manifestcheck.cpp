#include "update/manifestcheck.h"

#include "update/minisign.h"

#include <QCryptographicHash>

namespace {

QString timeText(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
}

QStringList joined(QStringList list, const QStringList &more)
{
    for (const QString &item : more) {
        if (!list.contains(item))
            list.append(item);
    }
    return list.mid(qMax(0, int(list.size()) - UpdateManifest::maxRevokedKeys));
}

} // namespace

ManifestCheck checkManifest(const QByteArray &document, const QByteArray &signature, const QStringList &keys,
                            const ManifestTrust &known, const QDateTime &now)
{
    ManifestCheck result;
    if (document.size() > UpdateManifest::maxSize) {
        result.refusal = QStringLiteral("over 64 KiB");
        return result;
    }
    // Nothing of an unsigned document is read.
    QString signer;
    result.refusal = Minisign::verify(document, signature, keys, &signer);
    if (!result.refusal.isEmpty())
        return result;
    if (known.revokedKeys.contains(signer)) {
        result.refusal = QStringLiteral("signed by the revoked key %1").arg(signer);
        return result;
    }
    const QByteArray sha256 = QCryptographicHash::hash(document, QCryptographicHash::Sha256).toHex();
    if (sha256 == known.rejectedSha256) {
        result.refusal = QStringLiteral("a manifest set aside for good");
        return result;
    }
    const UpdateManifest manifest = UpdateManifest::parse(document, &result.refusal);
    if (!result.refusal.isEmpty())
        return result;
    const qint64 signedAt = manifest.signedAt.toSecsSinceEpoch();
    const qint64 expires = manifest.expires.toSecsSinceEpoch();
    const bool same = !known.sha256.isEmpty() && sha256 == known.sha256;
    const bool revokesHolder = !known.key.isEmpty() && manifest.revokedKeys.contains(known.key);
    const bool replacesHeld = known.serial != 0 && !same && manifest.replacesSerials.contains(known.serial);
    const bool reset = revokesHolder || replacesHeld;
    if (manifest.program != QLatin1String("fenestra"))
        result.refusal = QStringLiteral("for another program (%1)").arg(manifest.program.left(64));
    else if (manifest.revokedKeys.contains(signer))
        result.refusal = QStringLiteral("revokes the key that signed it");
    else if (expires <= signedAt)
        result.refusal = QStringLiteral("expires before it was signed");
    else if (manifest.serial > quint64(qMax<qint64>(0, signedAt)) + quint64(UpdateManifest::maxSerialLead))
        result.refusal = QStringLiteral("serial %1 lies implausibly far ahead of its signing time %2")
                                 .arg(manifest.serial)
                                 .arg(timeText(signedAt));
    else if (!reset && manifest.serial < known.serial)
        result.refusal = QStringLiteral("serial %1 is lower than %2 seen before")
                                 .arg(manifest.serial)
                                 .arg(known.serial);
    else if (!reset && manifest.serial == known.serial && !known.sha256.isEmpty() && !same)
        result.refusal =
                QStringLiteral("another manifest with serial %1 was seen before").arg(manifest.serial);
    else if (!reset && signedAt < known.timeFloor && !same)
        result.refusal = QStringLiteral("signed at %1, before %2 verified earlier")
                                 .arg(timeText(signedAt), timeText(known.timeFloor));
    if (!result.refusal.isEmpty())
        return result;

    // The time the desktop can stand by: its clock, or what it verified when
    // that is later (a clock that runs behind). What a manifest that resets
    // the desktop's trust replaces counts for nothing.
    const qint64 floor = reset ? 0 : known.timeFloor;
    const qint64 clock = now.toSecsSinceEpoch();
    if (expires <= qMax(clock, floor)) {
        const bool notOlder = reset || manifest.serial > known.serial || same;
        if (expires <= floor || !notOlder) {
            result.refusal = QStringLiteral("expired at %1").arg(timeText(expires));
            return result;
        }
        result.note =
                QStringLiteral("this computer's clock reads %1, after the manifest's expiry at %2; taken, "
                               "as it is no older than what this desktop verified")
                        .arg(timeText(clock), timeText(expires));
    }
    QString resetNote;
    if (revokesHolder)
        resetNote =
                QStringLiteral("revokes the key %1 that signed serial %2").arg(known.key).arg(known.serial);
    else if (replacesHeld)
        resetNote = QStringLiteral("replaces serial %1").arg(known.serial);
    if (!resetNote.isEmpty())
        result.note = result.note.isEmpty() ? resetNote : resetNote + QStringLiteral("; ") + result.note;

    result.manifest = manifest;
    result.trust.serial = manifest.serial;
    result.trust.sha256 = sha256;
    result.trust.key = signer;
    result.trust.timeFloor = reset ? signedAt : qMax(known.timeFloor, signedAt);
    result.trust.revokedKeys = joined(known.revokedKeys, manifest.revokedKeys);
    result.trust.rejectedSha256 = reset ? known.sha256 : known.rejectedSha256;
    return result;
}
