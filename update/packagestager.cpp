#include "update/packagestager.h"

#include "launcher/installlayout.h"
#include "net/filename.h"
#include "update/packageformat.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QThread>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace {

constexpr int maxEntries = 100000;

struct ArchiveCloser
{
    void operator()(archive *a) const { archive_read_free(a); }
};

using Result = PackageStager::Result;

Result packageFault(const QString &problem)
{
    return { problem, true };
}

Result environmentFault(const QString &problem)
{
    return { problem, false };
}

QString parentOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

class Unpacker
{
public:
    Unpacker(const QString &folder, const std::atomic_bool *cancel) : m_folder(folder), m_cancel(cancel) { }

    Result unpack(const QString &packagePath)
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
            return environmentFault(QStringLiteral("cannot open the package"));
        archive_entry *entry = nullptr;
        int entries = 0;
        int status;
        while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
            if (cancelled())
                return environmentFault(QStringLiteral("cancelled"));
            if (++entries > maxEntries)
                return packageFault(QStringLiteral("too many entries"));
            const char *utf8 = archive_entry_pathname_utf8(entry);
            const QString name =
                    utf8 ? QString::fromUtf8(utf8) : QString::fromLocal8Bit(archive_entry_pathname(entry));
            if (name == QLatin1String(".") || name == QLatin1String("./"))
                continue;
            const QString path = PackageStager::safeRelativePath(name);
            if (path.isEmpty())
                return packageFault(QStringLiteral("unsafe entry %1").arg(name.left(200)));
            const Result result = write(reader.get(), entry, path);
            if (!result.problem.isEmpty())
                return result;
        }
        if (status != ARCHIVE_EOF)
            return packageFault(QStringLiteral("damaged package: %1")
                                        .arg(QString::fromLocal8Bit(archive_error_string(reader.get()))));
        // Links come last, once every file is written: nothing is ever written
        // through a link the package made.
        const Result linked = PackageStager::makeLinks(m_folder, m_links);
        return linked.problem.isEmpty() ? checkSums() : linked;
    }

private:
    bool cancelled() const
    {
        return m_cancel && m_cancel->load();
    }

    Result write(archive *reader, archive_entry *entry, const QString &path)
    {
        const QString target = m_folder + QLatin1Char('/') + path;
        if (archive_entry_hardlink(entry))
            return packageFault(QStringLiteral("link entry %1").arg(path));
        switch (archive_entry_filetype(entry)) {
        case AE_IFDIR:
            if (m_links.contains(path))
                return packageFault(QStringLiteral("repeated entry %1").arg(path));
            return QDir().mkpath(target) ? Result()
                                         : environmentFault(QStringLiteral("cannot make %1").arg(path));
        case AE_IFLNK:
#ifdef Q_OS_UNIX
            // Qt's libraries on Linux come with their version links.
            if (m_links.contains(path) || QFileInfo::exists(target))
                return packageFault(QStringLiteral("repeated entry %1").arg(path));
            m_links.insert(path, QString::fromUtf8(archive_entry_symlink_utf8(entry)));
            return Result();
#else
            return packageFault(QStringLiteral("link entry %1").arg(path));
#endif
        case AE_IFREG:
            break;
        default:
            return packageFault(QStringLiteral("special entry %1").arg(path));
        }
        if (m_hashes.contains(path) || m_links.contains(path) || QFileInfo::exists(target))
            return packageFault(QStringLiteral("repeated entry %1").arg(path));
        if (!QDir().mkpath(QFileInfo(target).path()))
            return environmentFault(QStringLiteral("cannot make %1").arg(parentOf(path)));
        QFile file(target);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return environmentFault(QStringLiteral("cannot write %1").arg(path));
        QCryptographicHash hash(QCryptographicHash::Sha256);
        QByteArray content; // only the list of sums is kept
        char buffer[64 * 1024];
        la_ssize_t read;
        while ((read = archive_read_data(reader, buffer, sizeof buffer)) > 0) {
            if (cancelled())
                return environmentFault(QStringLiteral("cancelled"));
            m_unpacked += read;
            if (m_unpacked > PackageStager::maxVersionSize)
                return packageFault(QStringLiteral("unpacks to more than 4 GiB"));
            hash.addData(QByteArrayView(buffer, read));
            if (path == PackageFormat::sumsName() && content.size() < 16 * 1024 * 1024)
                content.append(buffer, read);
            if (file.write(buffer, read) != read)
                return environmentFault(QStringLiteral("cannot write %1").arg(path));
        }
        if (read < 0)
            return packageFault(QStringLiteral("damaged package at %1").arg(path));
        if (!file.flush())
            return environmentFault(QStringLiteral("cannot write %1").arg(path));
        if (archive_entry_perm(entry) & 0100)
            file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup
                                | QFileDevice::ExeOther);
        if (path == PackageFormat::sumsName())
            m_sums = content;
        else
            m_hashes.insert(path, hash.result().toHex());
        return Result();
    }

    Result checkSums() const
    {
        QHash<QString, QByteArray> listed;
        if (!PackageFormat::readSums(m_sums, listed))
            return packageFault(QStringLiteral("no readable %1").arg(PackageFormat::sumsName()));
        for (auto it = listed.begin(); it != listed.end(); ++it) {
            if (PackageStager::safeRelativePath(it.key()) != it.key())
                return packageFault(QStringLiteral("unsafe path in %1").arg(PackageFormat::sumsName()));
            if (!m_hashes.contains(it.key()))
                return packageFault(QStringLiteral("missing file %1").arg(it.key()));
            if (m_hashes.value(it.key()) != it.value())
                return packageFault(QStringLiteral("wrong hash of %1").arg(it.key()));
        }
        for (auto it = m_hashes.begin(); it != m_hashes.end(); ++it) {
            if (!listed.contains(it.key()))
                return packageFault(QStringLiteral("unlisted file %1").arg(it.key()));
        }
        return Result();
    }

    const QString m_folder;
    const std::atomic_bool *m_cancel;
    QHash<QString, QByteArray> m_hashes;
    QHash<QString, QString> m_links; // path -> target, made last
    QByteArray m_sums;
    qint64 m_unpacked = 0;
};

// Windows refuses to rename a folder while another program (a virus scanner
// looking at the new files) holds one of them for a moment.
bool renameFolder(const QString &from, const QString &to)
{
    for (int attempt = 0; attempt < 40; ++attempt) {
        if (QDir().rename(from, to))
            return true;
        QThread::msleep(50);
    }
    return false;
}

} // namespace

namespace PackageStager {

QString markerName()
{
    return QString::fromLatin1(InstallLayout::completeMarker);
}

QByteArray stagedPackage(const QString &versionFolder)
{
    QFile marker(versionFolder + QLatin1Char('/') + markerName());
    if (!marker.open(QIODevice::ReadOnly))
        return QByteArray();
    for (QByteArray line : marker.read(4096).split('\n')) {
        line = line.trimmed();
        if (line.startsWith("package_sha256="))
            return line.mid(15);
    }
    return QByteArray();
}

bool removeVersionFolder(const QString &folder)
{
    QFile::remove(folder + QLatin1Char('/') + markerName());
    return QDir(folder).removeRecursively();
}

QString safeRelativePath(const QString &name)
{
    QString path = name;
    while (path.startsWith(QLatin1String("./")))
        path.remove(0, 2);
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
        return QString();
    for (const QString &part : path.split(QLatin1Char('/'))) {
        if (!isPortableFileName(part))
            return QString();
    }
    return path;
}

QString linkProblem(const QHash<QString, QString> &links, const QString &path, const QString &target)
{
    if (target.isEmpty() || target.startsWith(QLatin1Char('/')) || target.contains(QLatin1Char('\\'))
        || target.contains(QLatin1Char(':')))
        return QStringLiteral("link leading out %1").arg(path);
    QStringList resolved = path.split(QLatin1Char('/'));
    resolved.removeLast();
    for (int i = 1; i <= resolved.size(); ++i) {
        if (links.contains(resolved.mid(0, i).join(QLatin1Char('/'))))
            return QStringLiteral("link inside a link %1").arg(path);
    }
    const QStringList parts = target.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (int i = 0; i < parts.size(); ++i) {
        const QString &part = parts.at(i);
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (resolved.isEmpty())
                return QStringLiteral("link leading out %1").arg(path);
            resolved.removeLast();
            continue;
        }
        resolved.append(part);
        if (i + 1 < parts.size() && links.contains(resolved.join(QLatin1Char('/'))))
            return QStringLiteral("link through a link %1").arg(path);
    }
    return QString();
}

Result makeLinks(const QString &folder, const QHash<QString, QString> &links)
{
#ifndef Q_OS_UNIX
    if (!links.isEmpty())
        return packageFault(QStringLiteral("link entry %1").arg(links.cbegin().key()));
#endif
    for (auto it = links.cbegin(); it != links.cend(); ++it) {
        const QString problem = linkProblem(links, it.key(), it.value());
        if (!problem.isEmpty())
            return packageFault(problem);
    }
    for (auto it = links.cbegin(); it != links.cend(); ++it) {
        const QString link = folder + QLatin1Char('/') + it.key();
        if (QFileInfo::exists(link) || QFileInfo(link).isSymLink())
            return packageFault(QStringLiteral("repeated entry %1").arg(it.key()));
        if (!QDir().mkpath(QFileInfo(link).path()) || !QFile::link(it.value(), link))
            return environmentFault(QStringLiteral("cannot link %1").arg(it.key()));
    }
    return Result();
}

bool isStaged(const QString &versionsFolder, const QString &version, const QByteArray &packageSha256)
{
    const QString folder = versionsFolder + QLatin1Char('/') + version;
    return QFileInfo::exists(folder + QLatin1Char('/') + markerName())
            && stagedPackage(folder) == packageSha256;
}

Result beginStaging(const QString &versionsFolder, const QString &version, QString *staging)
{
    const QString finalFolder = versionsFolder + QLatin1Char('/') + version;
    *staging = finalFolder + QLatin1String(InstallLayout::stagingSuffix);
    // Left by an earlier attempt that was cut short, or another package that
    // was given the same version name.
    removeVersionFolder(*staging);
    removeVersionFolder(finalFolder);
    if (!QDir().mkpath(*staging))
        return environmentFault(QStringLiteral("cannot make %1").arg(*staging));
    return Result();
}

Result completeStaging(const QString &staging, const QString &version, const QByteArray &packageSha256)
{
    Result result;
    // Closed before the rename, which Windows refuses for a folder with an open file.
    QFile marker(staging + QLatin1Char('/') + markerName());
    if (!marker.open(QIODevice::WriteOnly)
        || marker.write("version=" + version.toUtf8() + "\npackage_sha256=" + packageSha256 + '\n') < 0
        || !marker.flush())
        result = environmentFault(QStringLiteral("cannot write the marker"));
    marker.close();
    if (result.problem.isEmpty()
        && !renameFolder(staging, staging.chopped(qsizetype(qstrlen(InstallLayout::stagingSuffix)))))
        result = environmentFault(QStringLiteral("cannot rename %1").arg(staging));
    if (!result.problem.isEmpty())
        removeVersionFolder(staging);
    return result;
}

Result stage(const QString &packagePath, const QString &versionsFolder, const QString &version,
             const QByteArray &packageSha256, const std::atomic_bool *cancel)
{
    if (isStaged(versionsFolder, version, packageSha256))
        return Result();
    QString staging;
    Result result = beginStaging(versionsFolder, version, &staging);
    if (!result.problem.isEmpty())
        return result;
    result = Unpacker(staging, cancel).unpack(packagePath);
    if (!result.problem.isEmpty()) {
        removeVersionFolder(staging);
        return result;
    }
    return completeStaging(staging, version, packageSha256);
}

} // namespace PackageStager
