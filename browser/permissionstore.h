#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

class QQuickWebEngineProfile;

// The answers the user chose to keep when a page asked for something
// (notifications, location, camera, microphone, the screen, reading the
// clipboard): one per origin and feature, in permissions.json in the web
// profile's storage folder, so that clearing the profile clears them too.
// With Qt 6.8 the engine's own memory of answers is switched off for the
// profile, so these are the only answers kept.
class PermissionStore : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QObject *profile READ profile WRITE setProfile NOTIFY profileChanged)
    // Whether views ask through featurePermissionRequested (Qt before 6.8) rather
    // than permissionRequested.
    Q_PROPERTY(bool askedByFeature READ askedByFeature CONSTANT)

public:
    enum Answer { Ask, Allow, Deny };
    Q_ENUM(Answer)

    explicit PermissionStore(QObject *parent = nullptr);

    QObject *profile() const;
    void setProfile(QObject *profile);
    static bool askedByFeature();

    // The file of the answers, in the profile's storage folder.
    QString filePath() const;

    Q_INVOKABLE PermissionStore::Answer answer(const QUrl &origin, const QString &feature) const;
    // Keeps an answer; false when it cannot be written.
    Q_INVOKABLE bool remember(const QUrl &origin, const QString &feature, bool allowed);

    // The feature name of a WebEnginePermission.PermissionType (Qt 6.8); empty
    // for what no page of the company asks for.
    Q_INVOKABLE static QString featureOfPermission(int permissionType);

    // "scheme://host:port", the form answers are kept under.
    static QString originKey(const QUrl &origin);

Q_SIGNALS:
    void profileChanged();

private:
    // The answers of the file, read again when the profile's folder has changed.
    const QHash<QString, bool> &answers() const;

    QPointer<QQuickWebEngineProfile> m_profile;
    mutable QString m_readFrom;
    mutable QHash<QString, bool> m_answers; // "origin feature" -> allowed
};
