#include "update/updatemanifest.h"

#include "launcher/installstate.h"
#include "update/minisign.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

bool isVersion(const QString &version)
{
    return InstallState::isValidVersion(version.toStdString());
}

// A whole number the JSON reader holds exactly, at least `minimum`.
bool readCount(const QJsonValue &value, double minimum, double &out)
{
    if (!value.isDouble())
        return false;
    out = value.toDouble();
    return out >= minimum && out <= 9007199254740992.0 && out == double(qint64(out));
}

bool readVersionMap(const QJsonValue &value, QHash<QString, QString> &out)
{
    if (value.isUndefined())
        return true;
    if (!value.isObject())
        return false;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!isVersion(it.value().toString()))
            return false;
        out.insert(it.key(), it.value().toString());
    }
    return true;
}

bool readRelease(const QJsonValue &value, UpdateManifest::Release &out)
{
    const QJsonObject object = value.toObject();
    out.version = object.value(QLatin1String("version")).toString();
    out.platform = object.value(QLatin1String("platform")).toString();
    out.url = QUrl(object.value(QLatin1String("url")).toString(), QUrl::StrictMode);
    out.sha256 = object.value(QLatin1String("sha256")).toString().toLatin1().toLower();
    double size = 0;
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    if (!readCount(object.value(QLatin1String("size")), 1, size) || !isVersion(out.version)
        || out.platform.isEmpty() || !out.url.isValid()
        || (out.url.scheme() != QLatin1String("http") && out.url.scheme() != QLatin1String("https"))
        || !hex.match(QString::fromLatin1(out.sha256)).hasMatch())
        return false;
    out.size = qint64(size);
    return true;
}

QString parse(const QByteArray &document, UpdateManifest &out)
{
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(document, &error);
    if (!json.isObject())
        return QStringLiteral("not a JSON object");
    const QJsonObject root = json.object();
    out.program = root.value(QLatin1String("program")).toString();
    double serial = 0;
    if (!readCount(root.value(QLatin1String("serial")), 0, serial))
        return QStringLiteral("no serial");
    out.serial = quint64(serial);
    out.expires = QDateTime::fromString(root.value(QLatin1String("expires")).toString(), Qt::ISODate);
    if (!out.expires.isValid())
        return QStringLiteral("no expiry time");
    const QJsonArray releases = root.value(QLatin1String("releases")).toArray();
    for (const QJsonValue &value : releases) {
        UpdateManifest::Release release;
        if (!readRelease(value, release))
            return QStringLiteral("malformed release");
        out.releases.append(release);
    }
    const QJsonObject rollout = root.value(QLatin1String("rollout")).toObject();
    out.rollout.target = rollout.value(QLatin1String("target")).toString();
    out.rollout.salt = rollout.value(QLatin1String("salt")).toString();
    double share = 0;
    if (rollout.contains(QLatin1String("share"))) {
        if (!readCount(rollout.value(QLatin1String("share")), 0, share) || share > 100)
            return QStringLiteral("malformed share");
    }
    out.rollout.share = int(share);
    if ((!out.rollout.target.isEmpty() && !isVersion(out.rollout.target))
        || !readVersionMap(rollout.value(QLatin1String("rings")), out.rollout.rings)
        || !readVersionMap(rollout.value(QLatin1String("pins")), out.rollout.pins))
        return QStringLiteral("malformed rollout");
    return QString();
}

} // namespace

const UpdateManifest::Release *UpdateManifest::release(const QString &version, const QString &platform) const
{
    for (const Release &r : releases) {
        if (r.version == version && r.platform == platform)
            return &r;
    }
    return nullptr;
}

ManifestCheck checkManifest(const QByteArray &document, const QByteArray &signature, const QStringList &keys,
                            quint64 seenSerial, const QDateTime &now)
{
    ManifestCheck result;
    if (document.size() > UpdateManifest::maxSize) {
        result.refusal = QStringLiteral("over 64 KiB");
        return result;
    }
    // Nothing of an unsigned document is read.
    const QString signatureProblem = Minisign::verify(document, signature, keys);
    if (!signatureProblem.isEmpty()) {
        result.refusal = signatureProblem;
        return result;
    }
    UpdateManifest manifest;
    result.refusal = parse(document, manifest);
    if (!result.refusal.isEmpty())
        return result;
    if (manifest.program != QLatin1String("fenestra"))
        result.refusal = QStringLiteral("for another program (%1)").arg(manifest.program.left(64));
    else if (manifest.serial < seenSerial)
        result.refusal =
                QStringLiteral("serial %1 is lower than %2 seen before").arg(manifest.serial).arg(seenSerial);
    else if (manifest.expires <= now)
        result.refusal = QStringLiteral("expired at %1").arg(manifest.expires.toString(Qt::ISODate));
    else
        result.manifest = manifest;
    return result;
}
