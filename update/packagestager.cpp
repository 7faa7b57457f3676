#include "update/packagestager.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace {

const QString sumsName = QStringLiteral("fenestra-files.sha256");
// Bounds for what a package may unpack to.
constexpr qint64 maxUnpackedSize = qint64(4) * 1024 * 1024 * 1024;
constexpr int maxEntries = 100000;

struct ArchiveCloser
{
    void operator()(archive *a) const { archive_read_free(a); }
};

// The entry's path inside the folder, or empty when it may not be unpacked.
QString safeRelativePath(const QString &name)
{
    QString path = name;
    while (path.startsWith(QLatin1String("./")))
        path.remove(0, 2);
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    // Backslashes and colons are separators or drive letters (and streams) on Windows.
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char('\\'))
        || path.contains(QLatin1Char(':')))
        return QString();
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return QString();
    }
    return path;
}

// A link target that stays inside the folder from the link's own place.
bool linkStaysInside(const QString &linkPath, const QString &target)
{
    if (target.isEmpty() || target.startsWith(QLatin1Char('/')) || target.contains(QLatin1Char('\\'))
        || target.contains(QLatin1Char(':')))
        return false;
    int depth = linkPath.count(QLatin1Char('/'));
    for (const QString &part : target.split(QLatin1Char('/'))) {
        if (part == QLatin1String(".."))
            --depth;
        else if (!part.isEmpty() && part != QLatin1String("."))
            ++depth;
        if (depth < 0)
            return false;
    }
    return true;
}

// sha256sum's lines: 64 hex digits, two spaces (or space and star), the path.
bool readSums(const QByteArray &content, QHash<QString, QByteArray> &out)
{
    for (QByteArray line : content.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        if (line.size() < 67 || line.at(64) != ' ' || (line.at(65) != ' ' && line.at(65) != '*'))
            return false;
        const QString path = safeRelativePath(QString::fromUtf8(line.mid(66)));
        if (path.isEmpty())
            return false;
        out.insert(path, line.left(64).toLower());
    }
    return !out.isEmpty();
}

class Unpacker
{
public:
    explicit Unpacker(const QString &folder) : m_folder(folder) { }

    QString unpack(const QString &packagePath)
    {
        std::unique_ptr<archive, ArchiveCloser> reader(archive_read_new());
        archive_read_support_filter_gzip(reader.get());
        archive_read_support_format_tar(reader.get());
#ifdef Q_OS_WIN
        const int opened = archive_read_open_filename_w(
                reader.get(),
                reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(packagePath).utf16()), 64 * 1024);
#else
        const int opened = archive_read_open_filename(reader.get(),
                                                      QFile::encodeName(packagePath).constData(), 64 * 1024);
#endif
        if (opened != ARCHIVE_OK)
            return QStringLiteral("cannot open the package");
        archive_entry *entry = nullptr;
        int entries = 0;
        int status;
        while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
            if (++entries > maxEntries)
                return QStringLiteral("too many entries");
            const char *utf8 = archive_entry_pathname_utf8(entry);
            const QString name =
                    utf8 ? QString::fromUtf8(utf8) : QString::fromLocal8Bit(archive_entry_pathname(entry));
            if (name == QLatin1String(".") || name == QLatin1String("./"))
                continue;
            const QString path = safeRelativePath(name);
            if (path.isEmpty())
                return QStringLiteral("unsafe entry %1").arg(name.left(200));
            const QString problem = write(reader.get(), entry, path);
            if (!problem.isEmpty())
                return problem;
        }
        if (status != ARCHIVE_EOF)
            return QStringLiteral("damaged package: %1")
                    .arg(QString::fromLocal8Bit(archive_error_string(reader.get())));
        return checkSums();
    }

private:
    QString write(archive *reader, archive_entry *entry, const QString &path)
    {
        const QString target = m_folder + QLatin1Char('/') + path;
        if (archive_entry_hardlink(entry))
            return QStringLiteral("link entry %1").arg(path);
        switch (archive_entry_filetype(entry)) {
        case AE_IFDIR:
            return QDir().mkpath(target) ? QString() : QStringLiteral("cannot make %1").arg(path);
        case AE_IFLNK: {
#ifdef Q_OS_UNIX
            // Qt's libraries on Linux come with their version links.
            const QString linkTarget = QString::fromUtf8(archive_entry_symlink(entry));
            if (!linkStaysInside(path, linkTarget))
                return QStringLiteral("link leading out %1").arg(path);
            QDir().mkpath(QFileInfo(target).path());
            return QFile::link(linkTarget, target) ? QString() : QStringLiteral("cannot link %1").arg(path);
#else
            return QStringLiteral("link entry %1").arg(path);
#endif
        }
        case AE_IFREG:
            break;
        default:
            return QStringLiteral("special entry %1").arg(path);
        }
        if (m_hashes.contains(path) || QFileInfo::exists(target))
            return QStringLiteral("repeated entry %1").arg(path);
        QDir().mkpath(QFileInfo(target).path());
        QFile file(target);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return QStringLiteral("cannot write %1").arg(path);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        QByteArray content; // only the list of sums is kept
        char buffer[64 * 1024];
        la_ssize_t read;
        while ((read = archive_read_data(reader, buffer, sizeof buffer)) > 0) {
            m_unpacked += read;
            if (m_unpacked > maxUnpackedSize)
                return QStringLiteral("unpacks to more than 4 GiB");
            hash.addData(QByteArrayView(buffer, read));
            if (path == sumsName && content.size() < 16 * 1024 * 1024)
                content.append(buffer, read);
            if (file.write(buffer, read) != read)
                return QStringLiteral("cannot write %1").arg(path);
        }
        if (read < 0)
            return QStringLiteral("damaged package at %1").arg(path);
        if (!file.flush())
            return QStringLiteral("cannot write %1").arg(path);
        if (archive_entry_perm(entry) & 0100)
            file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup
                                | QFileDevice::ExeOther);
        if (path == sumsName)
            m_sums = content;
        else
            m_hashes.insert(path, hash.result().toHex());
        return QString();
    }

    QString checkSums() const
    {
        QHash<QString, QByteArray> listed;
        if (!readSums(m_sums, listed))
            return QStringLiteral("no readable %1").arg(sumsName);
        for (auto it = listed.begin(); it != listed.end(); ++it) {
            if (!m_hashes.contains(it.key()))
                return QStringLiteral("missing file %1").arg(it.key());
            if (m_hashes.value(it.key()) != it.value())
                return QStringLiteral("wrong hash of %1").arg(it.key());
        }
        for (auto it = m_hashes.begin(); it != m_hashes.end(); ++it) {
            if (!listed.contains(it.key()))
                return QStringLiteral("unlisted file %1").arg(it.key());
        }
        return QString();
    }

    const QString m_folder;
    QHash<QString, QByteArray> m_hashes;
    QByteArray m_sums;
    qint64 m_unpacked = 0;
};

} // namespace

namespace PackageStager {

QString markerName()
{
    return QStringLiteral(".fenestra-complete");
}

bool removeVersionFolder(const QString &folder)
{
    QFile::remove(folder + QLatin1Char('/') + markerName());
    return QDir(folder).removeRecursively();
}

QString stage(const QString &packagePath, const QString &versionsFolder, const QString &version)
{
    const QString finalFolder = versionsFolder + QLatin1Char('/') + version;
    const QString staging = finalFolder + QStringLiteral(".staging");
    if (QFileInfo::exists(finalFolder + QLatin1Char('/') + markerName()))
        return QString();
    // Left by an earlier attempt that was cut short.
    removeVersionFolder(staging);
    removeVersionFolder(finalFolder);
    if (!QDir().mkpath(staging))
        return QStringLiteral("cannot make %1").arg(staging);
    QString problem = Unpacker(staging).unpack(packagePath);
    if (problem.isEmpty()) {
        // Closed before the rename, which Windows refuses for a folder with an open file.
        QFile marker(staging + QLatin1Char('/') + markerName());
        if (!marker.open(QIODevice::WriteOnly) || marker.write(version.toUtf8() + '\n') < 0
            || !marker.flush())
            problem = QStringLiteral("cannot write the marker");
    }
    if (problem.isEmpty() && !QDir().rename(staging, finalFolder))
        problem = QStringLiteral("cannot rename %1").arg(staging);
    if (!problem.isEmpty())
        removeVersionFolder(staging);
    return problem;
}

} // namespace PackageStager
