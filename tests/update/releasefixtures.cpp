#include "releasefixtures.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>

#include <archive.h>
#include <archive_entry.h>

namespace {

bool runMinisign(const QStringList &arguments)
{
    QProcess minisign;
    minisign.start(QStringLiteral("minisign"), arguments);
    minisign.closeWriteChannel();
    return minisign.waitForFinished(30000) && minisign.exitStatus() == QProcess::NormalExit
            && minisign.exitCode() == 0;
}

} // namespace

MinisignKey::MinisignKey()
{
    const QString pub = m_dir.filePath(QStringLiteral("key.pub"));
    if (!runMinisign({ QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"), pub,
                       QStringLiteral("-s"), m_dir.filePath(QStringLiteral("key.key")) }))
        return;
    QFile file(pub);
    if (file.open(QIODevice::ReadOnly))
        m_publicKey = QString::fromLatin1(file.readAll().split('\n').value(1));
}

QByteArray MinisignKey::sign(const QByteArray &data, const QByteArray &trustedComment, bool legacy) const
{
    const QString message = m_dir.filePath(QStringLiteral("message"));
    QFile file(message);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        return QByteArray();
    file.close();
    QStringList arguments = { QStringLiteral("-S"),
                              QStringLiteral("-s"),
                              m_dir.filePath(QStringLiteral("key.key")),
                              QStringLiteral("-m"),
                              message,
                              QStringLiteral("-t"),
                              QString::fromUtf8(trustedComment) };
    if (legacy)
        arguments << QStringLiteral("-l");
    if (!runMinisign(arguments))
        return QByteArray();
    QFile signature(message + QStringLiteral(".minisig"));
    return signature.open(QIODevice::ReadOnly) ? signature.readAll() : QByteArray();
}

QByteArray sumLine(const QString &name, const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex() + "  " + name.toUtf8()
            + '\n';
}

bool writePackage(const QString &path, const QList<PackageEntry> &entries, bool listFiles)
{
    QList<PackageEntry> all = entries;
    if (listFiles) {
        PackageEntry sums { QStringLiteral("fenestra-files.sha256"), QByteArray() };
        for (const PackageEntry &entry : entries) {
            if (entry.type == PackageEntry::Type::File)
                sums.content += sumLine(entry.name, entry.content);
        }
        all << sums;
    }
    archive *writer = archive_write_new();
    archive_write_add_filter_gzip(writer);
    archive_write_set_format_pax_restricted(writer);
    bool ok = archive_write_open_filename(writer, QFile::encodeName(path).constData()) == ARCHIVE_OK;
    for (const PackageEntry &entry : all) {
        if (!ok)
            break;
        archive_entry *e = archive_entry_new();
        archive_entry_set_pathname_utf8(e, entry.name.toUtf8().constData());
        switch (entry.type) {
        case PackageEntry::Type::File:
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_set_perm(e, 0755);
            archive_entry_set_size(e, entry.content.size());
            break;
        case PackageEntry::Type::Directory:
            archive_entry_set_filetype(e, AE_IFDIR);
            archive_entry_set_perm(e, 0755);
            break;
        case PackageEntry::Type::Link:
            archive_entry_set_filetype(e, AE_IFLNK);
            archive_entry_set_perm(e, 0777);
            archive_entry_set_symlink_utf8(e, entry.content.constData());
            break;
        }
        ok = archive_write_header(writer, e) == ARCHIVE_OK;
        if (ok && entry.type == PackageEntry::Type::File)
            ok = archive_write_data(writer, entry.content.constData(), size_t(entry.content.size()))
                    == entry.content.size();
        archive_entry_free(e);
    }
    ok = archive_write_close(writer) == ARCHIVE_OK && ok;
    archive_write_free(writer);
    return ok;
}
