#include "packer.h"

#include "launcher/installlayout.h"
#include "update/packageformat.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <filesystem>

namespace Packer {

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
    QByteArray sums;
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
        } else if (info.isFile()) {
            QByteArray sha256;
            writer.addFileFrom(path, info.filePath(), info.permissions() & QFileDevice::ExeOwner, &sha256);
            sums += PackageFormat::sumLine(path, sha256);
        } else {
            package.problem = QStringLiteral("%1 is neither a file, a folder nor a link").arg(path);
            break;
        }
    }
    if (package.problem.isEmpty()) {
        writer.addFile(PackageFormat::sumsName(), sums);
        // Last, as the desktop makes them.
        for (const auto &link : std::as_const(links))
            writer.addLink(link.first, link.second);
        if (!writer.close())
            package.problem = writer.errorString();
    }
    if (!package.problem.isEmpty()) {
        QFile::remove(file);
        return package;
    }
    QFile packed(file);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!packed.open(QIODevice::ReadOnly) || !hash.addData(&packed)) {
        package.problem = QStringLiteral("cannot read %1").arg(file);
        return package;
    }
    package.size = packed.size();
    package.sha256 = hash.result().toHex();
    return package;
}

} // namespace Packer
