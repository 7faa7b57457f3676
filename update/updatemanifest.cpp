#include "update/updatemanifest.h"

#include "launcher/installstate.h"
#include "update/packageformat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

// The largest whole number a JSON reader holds exactly.
constexpr double maxCount = 9007199254740992.0;

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
    return out >= minimum && out <= maxCount && out == double(qint64(out));
}

// A time with its zone: one without would be read in the desktop's own zone.
bool readTime(const QJsonValue &value, QDateTime &out)
{
    out = QDateTime::fromString(value.toString(), Qt::ISODate);
    if (!out.isValid() || out.timeSpec() == Qt::LocalTime)
        return false;
    out = out.toUTC();
    return true;
}

QString timeText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODate);
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

// An optional list of at most `limit` texts, each one `valid` accepts.
template <typename Valid> bool readTexts(const QJsonValue &value, int limit, Valid valid, QStringList &out)
{
    if (value.isUndefined())
        return true;
    const QJsonArray array = value.toArray();
    if (!value.isArray() || array.size() > limit)
        return false;
    for (const QJsonValue &item : array) {
        if (!item.isString() || !valid(item.toString()))
            return false;
        out.append(item.toString());
    }
    return true;
}

// A file of the channel of 1 to `maxSize` bytes, at an http or https address.
bool readReference(const QJsonObject &object, double maxSize, UpdateManifest::Reference &out)
{
    out.url = QUrl(object.value(QLatin1String("url")).toString(), QUrl::StrictMode);
    out.sha256 = object.value(QLatin1String("sha256")).toString().toLatin1().toLower();
    double size = 0;
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    if (!readCount(object.value(QLatin1String("size")), 1, size) || size > maxSize || !out.url.isValid()
        || (out.url.scheme() != QLatin1String("http") && out.url.scheme() != QLatin1String("https"))
        || !hex.match(QString::fromLatin1(out.sha256)).hasMatch())
        return false;
    out.size = qint64(size);
    return true;
}

QJsonObject referenceObject(const UpdateManifest::Reference &reference)
{
    return { { QStringLiteral("url"), reference.url.toString(QUrl::FullyEncoded) },
             { QStringLiteral("size"), QJsonValue(reference.size) },
             { QStringLiteral("sha256"), QString::fromLatin1(reference.sha256) } };
}

bool readRelease(const QJsonValue &value, UpdateManifest::Release &out)
{
    const QJsonObject object = value.toObject();
    out.version = object.value(QLatin1String("version")).toString();
    out.platform = object.value(QLatin1String("platform")).toString();
    UpdateManifest::Reference package;
    if (!readReference(object, maxCount, package) || !isVersion(out.version) || out.platform.isEmpty())
        return false;
    out.url = package.url;
    out.size = package.size;
    out.sha256 = package.sha256;
    // A file list this shell cannot use leaves the package, which serves as before.
    UpdateManifest::Reference files;
    if (readReference(object.value(QLatin1String("files")).toObject(),
                      double(PackageFormat::FileList::maxSize), files))
        out.files = files;
    UpdateManifest::Reference patches;
    if (out.files
        && readReference(object.value(QLatin1String("patches")).toObject(),
                         double(PackageFormat::PatchList::maxSize), patches))
        out.patches = patches;
    return true;
}

QString parseInto(const QByteArray &document, UpdateManifest &out)
{
    if (document.size() > UpdateManifest::maxSize)
        return QStringLiteral("over 64 KiB");
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
    if (!readTime(root.value(QLatin1String("signed")), out.signedAt))
        return QStringLiteral("no signing time");
    if (!readTime(root.value(QLatin1String("expires")), out.expires))
        return QStringLiteral("no expiry time");
    const QJsonValue replaces = root.value(QLatin1String("replaces_serials"));
    const QJsonArray replaced = replaces.toArray();
    if (!replaces.isUndefined()
        && (!replaces.isArray() || replaced.size() > UpdateManifest::maxReplacedSerials))
        return QStringLiteral("malformed replaced serials");
    for (const QJsonValue &value : replaced) {
        double number = 0;
        if (!readCount(value, 1, number))
            return QStringLiteral("malformed replaced serials");
        out.replacesSerials.append(quint64(number));
    }
    if (!readTexts(
                root.value(QLatin1String("revoked_keys")), UpdateManifest::maxRevokedKeys,
                [](const QString &id) { return InstallState::isKeyId(id.toStdString()); }, out.revokedKeys))
        return QStringLiteral("malformed revoked keys");
    if (!readTexts(root.value(QLatin1String("pulled")), UpdateManifest::maxPulled, isVersion, out.pulled))
        return QStringLiteral("malformed pulled versions");
    QStringList mirrors;
    const auto isMirror = [](const QString &text) {
        return UpdateManifest::isMirror(QUrl(text, QUrl::StrictMode));
    };
    if (!readTexts(root.value(QLatin1String("mirrors")), UpdateManifest::maxMirrors, isMirror, mirrors))
        return QStringLiteral("malformed mirrors");
    for (const QString &mirror : std::as_const(mirrors))
        out.mirrors.append(QUrl(mirror, QUrl::StrictMode));
    const QJsonValue releasesValue = root.value(QLatin1String("releases"));
    if (!releasesValue.isUndefined() && !releasesValue.isArray())
        return QStringLiteral("malformed release");
    for (const QJsonValue &value : releasesValue.toArray()) {
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

QJsonObject versionMap(const QHash<QString, QString> &map)
{
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

} // namespace

bool UpdateManifest::isMirror(const QUrl &address)
{
    return address.isValid() && !address.host().isEmpty() && address.userInfo().isEmpty()
            && !address.hasFragment()
            && (address.scheme() == QLatin1String("http") || address.scheme() == QLatin1String("https"));
}

const UpdateManifest::Release *UpdateManifest::release(const QString &version, const QString &platform) const
{
    for (const Release &r : releases) {
        if (r.version == version && r.platform == platform)
            return &r;
    }
    return nullptr;
}

UpdateManifest UpdateManifest::parse(const QByteArray &document, QString *problem)
{
    UpdateManifest manifest;
    const QString why = parseInto(document, manifest);
    if (problem)
        *problem = why;
    return why.isEmpty() ? manifest : UpdateManifest();
}

QByteArray UpdateManifest::toJson() const
{
    QJsonArray releaseList;
    for (const Release &r : releases) {
        QJsonObject release = referenceObject({ r.url, r.size, r.sha256 });
        release.insert(QStringLiteral("version"), r.version);
        release.insert(QStringLiteral("platform"), r.platform);
        if (r.files)
            release.insert(QStringLiteral("files"), referenceObject(*r.files));
        if (r.patches)
            release.insert(QStringLiteral("patches"), referenceObject(*r.patches));
        releaseList.append(release);
    }
    QJsonArray replaced;
    for (const quint64 replacedSerial : replacesSerials)
        replaced.append(QJsonValue(qint64(replacedSerial)));
    const QJsonObject rolloutObject { { QStringLiteral("target"), rollout.target },
                                      { QStringLiteral("share"), rollout.share },
                                      { QStringLiteral("salt"), rollout.salt },
                                      { QStringLiteral("rings"), versionMap(rollout.rings) },
                                      { QStringLiteral("pins"), versionMap(rollout.pins) } };
    QJsonObject root { { QStringLiteral("program"), program },
                       { QStringLiteral("serial"), QJsonValue(qint64(serial)) },
                       { QStringLiteral("signed"), timeText(signedAt) },
                       { QStringLiteral("expires"), timeText(expires) },
                       { QStringLiteral("replaces_serials"), replaced },
                       { QStringLiteral("revoked_keys"), QJsonArray::fromStringList(revokedKeys) },
                       { QStringLiteral("pulled"), QJsonArray::fromStringList(pulled) },
                       { QStringLiteral("releases"), releaseList },
                       { QStringLiteral("rollout"), rolloutObject } };
    // Only when there are any: a channel without mirrors signs what it signed before.
    if (!mirrors.isEmpty()) {
        QJsonArray mirrorList;
        for (const QUrl &mirror : mirrors)
            mirrorList.append(mirror.toString(QUrl::FullyEncoded));
        root.insert(QStringLiteral("mirrors"), mirrorList);
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}
