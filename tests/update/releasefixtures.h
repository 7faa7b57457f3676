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
    // The .minisig file minisign writes for `data`; `legacy` signs the data
    // itself ("Ed") instead of its hash ("ED").
    QByteArray sign(const QByteArray &data, const QByteArray &trustedComment = "release",
                    bool legacy = false) const;

private:
    QTemporaryDir m_dir;
    QString m_publicKey;
};

// A release package, tar.gz, written with libarchive as scripts/make-release
// packs one: every entry as named, and fenestra-files.sha256 listing the files.
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
