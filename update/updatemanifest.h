#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// The release channel's manifest: which releases exist and which desktops take
// which. The one definition of its format: the shell reads it, the release
// tool writes it. A desktop believes it only when a built-in key signed it
// (checkManifest in manifestcheck.h).
struct UpdateManifest
{
    // A file of the channel, as the signature vouches for it.
    struct Reference
    {
        QUrl url;
        qint64 size = 0;
        QByteArray sha256; // 64 lower-case hex digits
    };

    struct Release
    {
        QString version;
        QString platform; // windows-x86_64, linux-x86_64
        QUrl url;
        qint64 size = 0;
        QByteArray sha256; // 64 lower-case hex digits
        // The list of the package's files ("files"), each published under its
        // SHA-256 beside it (PackageFormat::FileList), for a desktop that
        // fetches only the files it lacks; none in a channel's older releases.
        std::optional<Reference> files;
        // The list of zstd patches for its big files ("patches",
        // PackageFormat::PatchList); only with a file list, and none when no
        // patch paid.
        std::optional<Reference> patches;
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
    // A serial may lie this far ahead of the manifest's signing time (a serial
    // is the signing time in seconds unless chosen), and no further: a serial
    // typed with a digit too many cannot lock desktops out.
    static constexpr qint64 maxSerialLead = 366LL * 24 * 60 * 60;
    // Bounds of the lists, far above what a channel needs.
    static constexpr int maxRevokedKeys = 16;
    static constexpr int maxPulled = 64;
    static constexpr int maxReplacedSerials = 16;
    static constexpr int maxMirrors = 8;

    QString program = QStringLiteral("fenestra");
    quint64 serial = 0;
    QDateTime signedAt; // "signed", UTC
    QDateTime expires; // UTC
    // Serials of manifests published by mistake (a serial too high): a desktop
    // that holds one of them takes this manifest although its serial is lower.
    QList<quint64> replacesSerials;
    // Ids of keys never to be trusted again (a key that was stolen).
    QStringList revokedKeys;
    // Versions withdrawn: a desktop that runs one may go back to an older target.
    QStringList pulled;
    // Base addresses (http or https) that serve the channel's folder as the
    // channel does, asked for a release's files before it (FetchPlaces).
    QList<QUrl> mirrors;
    QList<Release> releases;
    Rollout rollout;

    // Whether `address` may stand in `mirrors`: http or https with a host,
    // nothing that could carry a password or be lost (a fragment).
    static bool isMirror(const QUrl &address);

    // The release of `version` for `platform`; null when the manifest lists none.
    const Release *release(const QString &version, const QString &platform) const;

    // The document, as the release tool signs it; JSON, every text escaped.
    QByteArray toJson() const;
    // The manifest `document` holds; `problem` is empty when it holds one.
    // Says nothing about who signed it.
    static UpdateManifest parse(const QByteArray &document, QString *problem);
};
