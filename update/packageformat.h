#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

struct archive;

// The release package: a tar.gz of a deployed version folder with
// `fenestra-files.sha256`, the sums of all its files in sha256sum's format.
// The release tool writes it, the shell's stager reads it.
namespace PackageFormat {

QString sumsName();
// fenestra-<version>-<platform>.tar.gz
QString fileName(const QString &version, const QString &platform);

// sha256sum's line for `path` (relative, forward slashes) with `sha256` in hex.
QByteArray sumLine(const QString &path, const QByteArray &sha256);
// The sums a list names, by path as written ("./" in front dropped); false
// when a line is not sha256sum's or a path is named twice. Whether each path
// is safe to unpack is the reader's to decide.
bool readSums(const QByteArray &content, QHash<QString, QByteArray> &out);

// Writes a package entry by entry, in the order given.
class Writer
{
public:
    explicit Writer(const QString &path);
    ~Writer();
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    bool addDirectory(const QString &name);
    bool addFile(const QString &name, const QByteArray &content, bool executable = false);
    // The content of `source`, read as it is written; `sha256` gets its sum (hex).
    bool addFileFrom(const QString &name, const QString &source, bool executable = false,
                     QByteArray *sha256 = nullptr);
    bool addLink(const QString &name, const QString &target);
    // Finishes the package; false when any step failed.
    bool close();
    QString errorString() const { return m_error; }

private:
    bool header(const QString &name, int type, int permissions, qint64 size, const QString &linkTarget = {});
    bool fail(const QString &problem);

    ::archive *m_archive = nullptr;
    QString m_error;
};

} // namespace PackageFormat
