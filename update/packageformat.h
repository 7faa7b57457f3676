#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
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

// The list of a release's files beside its package: every folder, file and
// link of the version folder, each file with its size, SHA-256 and whether it
// is executable. Each file is published once under its SHA-256 in the channel's
// `files` folder, so that a desktop fetches only the files its own version
// lacks. One tab-separated line each after the heading "fenestra-files 1":
//   d <path>       f <sha256> <size> <x or -> <path>       l <path> <target>
struct FileList
{
    struct Entry
    {
        enum class Type { File, Directory, Link };
        Type type = Type::File;
        QString path; // relative, forward slashes
        qint64 size = 0;
        QByteArray sha256; // hex
        bool executable = false;
        QString target; // a link's
    };
    QList<Entry> entries;

    // What a desktop reads of one, far above what a release needs.
    static constexpr qint64 maxSize = 4 * 1024 * 1024;
    static constexpr int maxEntries = 100000;

    QByteArray toText() const;
    // The list `text` holds; false when a line is malformed, a path repeated,
    // or a bound passed. Whether each path is safe is the reader's to decide.
    static bool read(const QByteArray &text, FileList &out);
};

// The list of a release's patches beside its file list: for a big file that
// changed, zstd patches (`zstd --patch-from`) that make it from the same path's
// content in one of the channel's last releases. Each is published as
// `patches/<from sha256>-<to sha256>.zst`. A list of its own, so that shells
// that read only the file list meet nothing new there. One tab-separated line
// each after the heading "fenestra-patches 1":
//   <from sha256> <to sha256> <patch size> <patch sha256>
struct PatchList
{
    struct Entry
    {
        QByteArray from; // hex SHA-256 of the file the patch applies to
        QByteArray to; // hex SHA-256 of the file it makes
        qint64 size = 0; // the patch's
        QByteArray sha256; // the patch's, hex

        // patches/<from>-<to>.zst, relative to the channel's folder.
        QString name() const;
    };
    QList<Entry> entries;

    static constexpr qint64 maxSize = 1024 * 1024;
    static constexpr int maxEntries = 4096;

    QByteArray toText() const;
    // The list `text` holds; false when a line is malformed, a pair repeated
    // or a bound passed.
    static bool read(const QByteArray &text, PatchList &out);
};

// fenestra-<version>-<platform>.files
QString fileListName(const QString &version, const QString &platform);
// fenestra-<version>-<platform>.patches
QString patchListName(const QString &version, const QString &platform);
// The channel's folder of files by content, beside the lists: files/<sha256>.
QString contentFolder();
// The channel's folder of patches: patches/<from>-<to>.zst.
QString patchFolder();

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
