#include "packer.h"

#include "launcher/installlayout.h"
#include "update/packageformat.h"
#include "update/zstdpatch.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTextStream>

#include <algorithm>
#include <filesystem>

namespace Packer {

namespace {

// The file's SHA-256 in hex; empty when it cannot be read.
QByteArray sha256Of(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result().toHex() : QByteArray();
}

} // namespace

QString platformOf(const QString &folder)
{
    if (QFileInfo(folder + QStringLiteral("/fenestra.exe")).isFile())
        return QStringLiteral("windows-x86_64");
    if (QFileInfo(folder + QStringLiteral("/bin/fenestra")).isExecutable())
        return QStringLiteral("linux-x86_64");
    return QString();
}

Package pack(const QString &folder, const QString &file)
{
    Package package;
    const QDir root(QFileInfo(folder).absoluteFilePath());
    QStringList paths;
    QDirIterator it(root.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << root.relativeFilePath(it.next());
    paths.sort();
    // The marker is the desktop's to write, last.
    paths.removeAll(QString::fromLatin1(InstallLayout::completeMarker));
    if (paths.contains(PackageFormat::sumsName())) {
        package.problem = QStringLiteral("%1 holds a %2 of its own").arg(folder, PackageFormat::sumsName());
        return package;
    }
    if (QFileInfo::exists(file) || QFileInfo(file).isSymLink()) {
        package.problem = QStringLiteral("%1 exists already").arg(file);
        return package;
    }

    PackageFormat::Writer writer(file);
    QByteArray &sums = package.sums;
    using Entry = PackageFormat::FileList::Entry;
    QList<QPair<QString, QString>> links;
    for (const QString &path : std::as_const(paths)) {
        const QFileInfo info(root.filePath(path));
        if (info.isSymLink()) {
            std::error_code error;
            const auto target = std::filesystem::read_symlink(
                    std::filesystem::u8path(info.filePath().toUtf8().toStdString()), error);
            const std::string utf8 = target.generic_u8string();
            const QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
            if (error || target.is_absolute()) {
                package.problem =
                        QStringLiteral("%1 links to %2, which no desktop would accept").arg(path, text);
                break;
            }
            links.append({ path, text });
        } else if (info.isDir()) {
            writer.addDirectory(path);
            package.files.entries << Entry { Entry::Type::Directory, path };
        } else if (info.isFile()) {
            QByteArray sha256;
            const bool executable = info.permissions() & QFileDevice::ExeOwner;
            writer.addFileFrom(path, info.filePath(), executable, &sha256);
            sums += PackageFormat::sumLine(path, sha256);
            package.files.entries << Entry { Entry::Type::File, path, info.size(), sha256, executable };
        } else {
            package.problem = QStringLiteral("%1 is neither a file, a folder nor a link").arg(path);
            break;
        }
    }
    if (package.problem.isEmpty()) {
        writer.addFile(PackageFormat::sumsName(), sums);
        package.files.entries << Entry { Entry::Type::File, PackageFormat::sumsName(), sums.size(),
                                         QCryptographicHash::hash(sums, QCryptographicHash::Sha256).toHex() };
        // Last, as the desktop makes them.
        for (const auto &link : std::as_const(links)) {
            writer.addLink(link.first, link.second);
            package.files.entries << Entry { Entry::Type::Link, link.first, 0, {}, false, link.second };
        }
        if (!writer.close())
            package.problem = writer.errorString();
    }
    if (!package.problem.isEmpty()) {
        QFile::remove(file);
        return package;
    }
    package.sha256 = sha256Of(file);
    if (package.sha256.isEmpty()) {
        package.problem = QStringLiteral("cannot read %1").arg(file);
        return package;
    }
    package.size = QFileInfo(file).size();
    return package;
}

namespace {

// Writes `content`, or else the file `source`, to `target` through a
// temporary file, if its SHA-256 is `sha256`.
QString publishFile(const QString &target, const QString &source, const QByteArray &content,
                    const QByteArray &sha256)
{
    const QString part = target + QStringLiteral(".part");
    QFile out(part);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QStringLiteral("cannot write %1").arg(part);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    bool written = true;
    if (source.isEmpty()) {
        hash.addData(content);
        written = out.write(content) == content.size();
    } else {
        QFile in(source);
        written = in.open(QIODevice::ReadOnly);
        char buffer[64 * 1024];
        qint64 read = 0;
        while (written && (read = in.read(buffer, sizeof buffer)) > 0) {
            hash.addData(QByteArrayView(buffer, read));
            written = out.write(buffer, read) == read;
        }
        written = written && read == 0;
    }
    out.close();
    if (!written || hash.result().toHex() != sha256) {
        out.remove();
        return written ? QStringLiteral("%1 changed after it was packed").arg(source)
                       : QStringLiteral("cannot write %1").arg(part);
    }
    QFile::remove(target);
    return QFile::rename(part, target) ? QString() : QStringLiteral("cannot write %1").arg(target);
}

bool holds(const QString &path, qint64 size, const QByteArray &sha256)
{
    return QFileInfo(path).size() == size && sha256Of(path) == sha256;
}

} // namespace

Published publishFiles(const QString &folder, const Package &package, const QString &channel,
                       const QString &listName)
{
    Published published;
    const QDir content(QDir(channel).filePath(PackageFormat::contentFolder()));
    if (!QDir().mkpath(content.path())) {
        published.problem = QStringLiteral("cannot make %1").arg(content.path());
        return published;
    }
    for (const PackageFormat::FileList::Entry &entry : package.files.entries) {
        if (entry.type != PackageFormat::FileList::Entry::Type::File)
            continue;
        const QString target = content.filePath(QString::fromLatin1(entry.sha256));
        // Published by an earlier release, or earlier in this one; one damaged
        // since would send every desktop to the package, so it is written again.
        if (holds(target, entry.size, entry.sha256))
            continue;
        const bool isSums = entry.path == PackageFormat::sumsName();
        published.problem = publishFile(target, isSums ? QString() : QDir(folder).filePath(entry.path),
                                        package.sums, entry.sha256);
        if (!published.problem.isEmpty())
            return published;
    }
    const QByteArray list = package.files.toText();
    if (list.size() > PackageFormat::FileList::maxSize
        || package.files.entries.size() > PackageFormat::FileList::maxEntries) {
        published.problem = QStringLiteral("the file list would be larger than desktops read");
        return published;
    }
    published.list.size = list.size();
    published.list.sha256 = QCryptographicHash::hash(list, QCryptographicHash::Sha256).toHex();
    published.problem = publishFile(QDir(channel).filePath(listName), QString(), list, published.list.sha256);
    return published;
}

namespace {

// What `patch` makes of `old`, checked against the listed new file.
bool makes(const QString &old, const QString &patch, const PackageFormat::FileList::Entry &entry)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    qint64 size = 0;
    const QString problem = ZstdPatch::apply(old, patch, entry.size,
                                             ZstdPatch::windowLogFor(QFileInfo(old).size(), entry.size),
                                             [&](QByteArrayView piece) {
                                                 hash.addData(piece);
                                                 size += piece.size();
                                                 return true;
                                             });
    return problem.isEmpty() && size == entry.size && hash.result().toHex() == entry.sha256;
}

enum class Made { Patch, NoTool, Failed };

Made runZstd(const QString &old, const QString &file, const QString &out, qint64 newSize)
{
    // Its notes on better parameters at level 19 are no news; its errors are.
    QProcess zstd;
    zstd.start(QStringLiteral("zstd"),
               { QStringLiteral("-q"), QStringLiteral("-f"),
                 QStringLiteral("-%1").arg(newSize > largePatchSize ? largePatchLevel : patchLevel),
                 QStringLiteral("--long=%1").arg(ZstdPatch::windowLogFor(QFileInfo(old).size(), newSize)),
                 QStringLiteral("--patch-from=") + old, file, QStringLiteral("-o"), out });
    if (!zstd.waitForStarted())
        return Made::NoTool;
    if (zstd.waitForFinished(60 * 60 * 1000) && zstd.exitStatus() == QProcess::NormalExit
        && zstd.exitCode() == 0)
        return Made::Patch;
    QTextStream(stderr) << zstd.readAllStandardError();
    return Made::Failed;
}

} // namespace

PublishedPatches publishPatches(const QString &folder, const Package &package, const QString &channel,
                                const QList<PackageFormat::FileList> &earlier, const QString &listName)
{
    using Entry = PackageFormat::FileList::Entry;
    PublishedPatches published;
    const QDir content(QDir(channel).filePath(PackageFormat::contentFolder()));
    const QDir patches(QDir(channel).filePath(PackageFormat::patchFolder()));
    PackageFormat::PatchList list;
    QSet<QByteArray> tried; // from + to
    for (const Entry &entry : package.files.entries) {
        if (entry.type != Entry::Type::File || entry.size <= minPatchedSize)
            continue;
        for (const PackageFormat::FileList &release : earlier) {
            const auto before =
                    std::find_if(release.entries.cbegin(), release.entries.cend(), [&](const Entry &e) {
                        return e.type == Entry::Type::File && e.path == entry.path;
                    });
            if (before == release.entries.cend() || before->sha256 == entry.sha256
                || tried.contains(before->sha256 + entry.sha256))
                continue;
            tried.insert(before->sha256 + entry.sha256);
            const QString old = content.filePath(QString::fromLatin1(before->sha256));
            // A damaged old file would make a patch no desktop can use.
            if (!holds(old, before->size, before->sha256))
                continue;
            PackageFormat::PatchList::Entry patch { before->sha256, entry.sha256, 0, {} };
            const QString target = QDir(channel).filePath(patch.name());
            // Published by an earlier release: a name never changes content.
            if (!makes(old, target, entry)) {
                if (!QDir().mkpath(patches.path())) {
                    published.problem = QStringLiteral("cannot make %1").arg(patches.path());
                    return published;
                }
                const QString part = target + QStringLiteral(".part");
                const Made made = runZstd(old, QDir(folder).filePath(entry.path), part, entry.size);
                if (made == Made::NoTool) {
                    published.note = QStringLiteral("no zstd to make patches with (apt-get install zstd)");
                    return published;
                }
                if (made != Made::Patch || !makes(old, part, entry)) {
                    QFile::remove(part);
                    published.note = QStringLiteral("zstd made no usable patch for %1").arg(entry.path);
                    continue;
                }
                if (QFileInfo(part).size() * 100 > entry.size * maxPatchPercent) {
                    QFile::remove(part);
                    ++published.leftOut;
                    continue;
                }
                QFile::remove(target);
                if (!QFile::rename(part, target)) {
                    published.problem = QStringLiteral("cannot write %1").arg(target);
                    return published;
                }
            }
            patch.sha256 = sha256Of(target);
            if (patch.sha256.isEmpty()) {
                published.problem = QStringLiteral("cannot read %1").arg(target);
                return published;
            }
            patch.size = QFileInfo(target).size();
            if (patch.size * 100 > entry.size * maxPatchPercent) {
                ++published.leftOut;
                continue;
            }
            list.entries << patch;
            ++published.made;
        }
    }
    if (list.entries.isEmpty())
        return published;
    const QByteArray text = list.toText();
    if (text.size() > PackageFormat::PatchList::maxSize
        || list.entries.size() > PackageFormat::PatchList::maxEntries) {
        published.problem = QStringLiteral("the patch list would be larger than desktops read");
        return published;
    }
    UpdateManifest::Reference reference;
    reference.size = text.size();
    reference.sha256 = QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex();
    published.problem = publishFile(QDir(channel).filePath(listName), QString(), text, reference.sha256);
    if (published.problem.isEmpty())
        published.list = reference;
    return published;
}

} // namespace Packer
