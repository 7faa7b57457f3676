#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

// A minisign key pair made by the real minisign tool in a temporary folder.
class MinisignKey
{
public:
    MinisignKey();

    bool isValid() const { return !m_publicKey.isEmpty(); }
    // The base64 line of the .pub file, as built into the program.
    QString publicKey() const { return m_publicKey; }
    // Its id, as manifests name it.
    QString id() const;
    // The secret key, for the release tool; its public key lies beside it as key.pub.
    QString secretKeyFile() const;
    // The .minisig file minisign writes for `data`; `legacy` signs the data
    // itself ("Ed") instead of its hash ("ED").
    QByteArray sign(const QByteArray &data, const QByteArray &trustedComment = "release",
                    bool legacy = false) const;

private:
    QTemporaryDir m_dir;
    QString m_publicKey;
};

// A release package, tar.gz, written by the release format's writer as the
// release tool packs one, but with every entry as named, however hostile, and
// fenestra-files.sha256 listing the files.
struct PackageEntry
{
    enum class Type { File, Directory, Link };
    QString name;
    QByteArray content; // the link's target for a link
    Type type = Type::File;
};

// Writes `entries` to `path`; `listFiles` adds the list of the files' sums.
bool writePackage(const QString &path, const QList<PackageEntry> &entries, bool listFiles = true);

// The sha256sum line for `name` with `content`.
QByteArray sumLine(const QString &name, const QByteArray &content);
