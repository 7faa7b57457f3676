#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// The release channel's manifest: which releases exist and which desktops take
// which. It is only believed when signed by a built-in key.
struct UpdateManifest
{
    struct Release
    {
        QString version;
        QString platform; // windows-x86_64, linux-x86_64
        QUrl url;
        qint64 size = 0;
        QByteArray sha256; // 64 lower-case hex digits
    };

    struct Rollout
    {
        QString target;
        int share = 0; // per cent of desktops
        QString salt;
        QHash<QString, QString> rings; // ring name -> version
        QHash<QString, QString> pins; // installation id -> version
    };

    static constexpr qsizetype maxSize = 64 * 1024;

    QString program;
    quint64 serial = 0;
    QDateTime expires;
    QList<Release> releases;
    Rollout rollout;

    // The release of `version` for `platform`; null when the manifest lists none.
    const Release *release(const QString &version, const QString &platform) const;
};

// The verdict on a downloaded manifest and its .minisig: refusal is empty when
// it is signed by one of `keys`, names this program, is not older than
// `seenSerial` and has not expired at `now`; then `manifest` holds it.
struct ManifestCheck
{
    UpdateManifest manifest;
    QString refusal;
};
ManifestCheck checkManifest(const QByteArray &document, const QByteArray &signature, const QStringList &keys,
                            quint64 seenSerial, const QDateTime &now);
