#include "browser/permissionstore.h"

#include "net/addressrules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickWebEngineProfile>
#include <QSaveFile>
#include <QtGlobal>

#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
#include <QWebEnginePermission>
#endif

namespace {

QString key(const QString &origin, const QString &feature)
{
    return origin + QLatin1Char(' ') + feature;
}

} // namespace

PermissionStore::PermissionStore(QObject *parent) : QObject(parent) { }

QObject *PermissionStore::profile() const
{
    return m_profile;
}

void PermissionStore::setProfile(QObject *profile)
{
    auto *webProfile = qobject_cast<QQuickWebEngineProfile *>(profile);
    if (webProfile == m_profile)
        return;
    m_profile = webProfile;
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    // An answer not meant to be kept is asked for again, as with older Qt.
    if (m_profile)
        m_profile->setPersistentPermissionsPolicy(
                QQuickWebEngineProfile::PersistentPermissionsPolicy::AskEveryTime);
#endif
    Q_EMIT profileChanged();
}

bool PermissionStore::askedByFeature()
{
    return QT_VERSION < QT_VERSION_CHECK(6, 8, 0);
}

QString PermissionStore::filePath() const
{
    if (!m_profile || m_profile->persistentStoragePath().isEmpty())
        return QString();
    return QDir(m_profile->persistentStoragePath()).filePath(QStringLiteral("permissions.json"));
}

PermissionStore::Answer PermissionStore::answer(const QUrl &origin, const QString &feature) const
{
    const auto found = answers().constFind(key(AddressRules::origin(origin), feature));
    if (found == answers().cend())
        return Ask;
    return found.value() ? Allow : Deny;
}

bool PermissionStore::remember(const QUrl &origin, const QString &feature, bool allowed)
{
    const QString path = filePath();
    if (path.isEmpty() || feature.isEmpty())
        return false;
    QHash<QString, bool> changed = answers();
    changed.insert(key(AddressRules::origin(origin), feature), allowed);

    QJsonObject byOrigin;
    for (auto it = changed.cbegin(); it != changed.cend(); ++it) {
        const qsizetype space = it.key().lastIndexOf(QLatin1Char(' '));
        QJsonObject features = byOrigin.value(it.key().left(space)).toObject();
        features.insert(it.key().mid(space + 1), it.value());
        byOrigin.insert(it.key().left(space), features);
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(byOrigin).toJson()) < 0
        || !file.commit())
        return false;
    m_answers = changed;
    return true;
}

QString PermissionStore::featureOfPermission(int permissionType)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    using Type = QWebEnginePermission::PermissionType;
    switch (Type(permissionType)) {
    case Type::MediaAudioCapture:
        return QStringLiteral("microphone");
    case Type::MediaVideoCapture:
        return QStringLiteral("camera");
    case Type::MediaAudioVideoCapture:
        return QStringLiteral("camera-microphone");
    case Type::DesktopVideoCapture:
        return QStringLiteral("screen");
    case Type::DesktopAudioVideoCapture:
        return QStringLiteral("screen-audio");
    case Type::Notifications:
        return QStringLiteral("notifications");
    case Type::Geolocation:
        return QStringLiteral("geolocation");
    case Type::ClipboardReadWrite:
        return QStringLiteral("clipboard-read");
    default:
        break;
    }
#else
    Q_UNUSED(permissionType)
#endif
    return QString();
}

const QHash<QString, bool> &PermissionStore::answers() const
{
    const QString path = filePath();
    if (path == m_readFrom)
        return m_answers;
    m_readFrom = path;
    m_answers.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return m_answers;
    const QJsonObject byOrigin = QJsonDocument::fromJson(file.readAll()).object();
    for (auto origin = byOrigin.constBegin(); origin != byOrigin.constEnd(); ++origin) {
        const QJsonObject features = origin.value().toObject();
        for (auto feature = features.constBegin(); feature != features.constEnd(); ++feature) {
            if (feature.value().isBool())
                m_answers.insert(key(origin.key(), feature.key()), feature.value().toBool());
        }
    }
    return m_answers;
}
