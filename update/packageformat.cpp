#include "update/packageformat.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSet>

#include <algorithm>

#include <archive.h>
#include <archive_entry.h>

namespace PackageFormat {

QString sumsName()
{
    return QStringLiteral("fenestra-files.sha256");
}

QString fileName(const QString &version, const QString &platform)
{
    return QStringLiteral("fenestra-%1-%2.tar.gz").arg(version, platform);
}

QString fileListName(const QString &version, const QString &platform)
{
    return QStringLiteral("fenestra-%1-%2.files").arg(version, platform);
}

QString patchListName(const QString &version, const QString &platform)
{
    return QStringLiteral("fenestra-%1-%2.patches").arg(version, platform);
}

QString contentFolder()
{
    return QStringLiteral("files");
}

QString patchFolder()
{
    return QStringLiteral("patches");
}

namespace {

constexpr char fileListHeading[] = "fenestra-files 1";
constexpr char patchListHeading[] = "fenestra-patches 1";

bool isHex64(const QByteArray &text)
{
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

} // namespace

QByteArray FileList::toText() const
{
    QByteArray text = QByteArray(fileListHeading) + '\n';
    for (const Entry &entry : entries) {
        switch (entry.type) {
        case Entry::Type::Directory:
            text += "d\t" + entry.path.toUtf8() + '\n';
            break;
        case Entry::Type::File:
            text += "f\t" + entry.sha256 + '\t' + QByteArray::number(entry.size) + '\t'
                    + (entry.executable ? "x" : "-") + '\t' + entry.path.toUtf8() + '\n';
            break;
        case Entry::Type::Link:
            text += "l\t" + entry.path.toUtf8() + '\t' + entry.target.toUtf8() + '\n';
            break;
        }
    }
    return text;
}

bool FileList::read(const QByteArray &text, FileList &out)
{
    out.entries.clear();
    FileList parsed;
    if (text.size() > maxSize)
        return false;
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() > maxEntries + 2 || lines.constFirst() != fileListHeading)
        return false;
    QSet<QString> paths;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split('\t');
        Entry entry;
        bool ok = true;
        if (fields.constFirst() == "d" && fields.size() == 2) {
            entry.type = Entry::Type::Directory;
        } else if (fields.constFirst() == "f" && fields.size() == 5) {
            entry.sha256 = fields.at(1);
            entry.size = fields.at(2).toLongLong(&ok);
            ok = ok && entry.size >= 0 && isHex64(entry.sha256)
                    && (fields.at(3) == "x" || fields.at(3) == "-");
            entry.executable = fields.at(3) == "x";
        } else if (fields.constFirst() == "l" && fields.size() == 3) {
            entry.type = Entry::Type::Link;
            entry.target = QString::fromUtf8(fields.at(2));
            ok = !entry.target.isEmpty();
        } else {
            return false;
        }
        entry.path = QString::fromUtf8(entry.type == Entry::Type::File ? fields.at(4) : fields.at(1));
        if (!ok || entry.path.isEmpty() || paths.contains(entry.path))
            return false;
        paths.insert(entry.path);
        parsed.entries.append(entry);
    }
    out = parsed;
    return true;
}

QString PatchList::Entry::name() const
{
    return patchFolder() + QLatin1Char('/') + QString::fromLatin1(from + '-' + to) + QStringLiteral(".zst");
}

QByteArray PatchList::toText() const
{
    QByteArray text = QByteArray(patchListHeading) + '\n';
    for (const Entry &entry : entries)
        text += entry.from + '\t' + entry.to + '\t' + QByteArray::number(entry.size) + '\t' + entry.sha256
                + '\n';
    return text;
}

bool PatchList::read(const QByteArray &text, PatchList &out)
{
    out.entries.clear();
    if (text.size() > maxSize)
        return false;
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() > maxEntries + 2 || lines.constFirst() != patchListHeading)
        return false;
    PatchList parsed;
    QSet<QByteArray> pairs;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines.at(i).isEmpty())
            continue;
        const QList<QByteArray> fields = lines.at(i).split('\t');
        if (fields.size() != 4)
            return false;
        Entry entry { fields.at(0), fields.at(1), 0, fields.at(3) };
        bool ok = false;
        entry.size = fields.at(2).toLongLong(&ok);
        const QByteArray pair = entry.from + entry.to;
        if (!ok || entry.size <= 0 || !isHex64(entry.from) || !isHex64(entry.to) || !isHex64(entry.sha256)
            || entry.from == entry.to || pairs.contains(pair))
            return false;
        pairs.insert(pair);
        parsed.entries.append(entry);
    }
    out = parsed;
    return true;
}

QByteArray sumLine(const QString &path, const QByteArray &sha256)
{
    return sha256 + "  " + path.toUtf8() + '\n';
}

bool readSums(const QByteArray &content, QHash<QString, QByteArray> &out)
{
    for (QByteArray line : content.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        // 64 hex digits, two spaces (or a space and a star), the path.
        if (line.size() < 67 || line.at(64) != ' ' || (line.at(65) != ' ' && line.at(65) != '*'))
            return false;
        QString path = QString::fromUtf8(line.mid(66));
        while (path.startsWith(QLatin1String("./")))
            path.remove(0, 2);
        if (out.contains(path))
            return false;
        out.insert(path, line.left(64).toLower());
    }
    return !out.isEmpty();
}

Writer::Writer(const QString &path) : m_archive(archive_write_new())
{
    archive_write_add_filter_gzip(m_archive);
    archive_write_set_format_pax_restricted(m_archive);
#ifdef Q_OS_WIN
    const int opened = archive_write_open_filename_w(
            m_archive, reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()));
#else
    const int opened = archive_write_open_filename(m_archive, QFile::encodeName(path).constData());
#endif
    if (opened != ARCHIVE_OK)
        fail(QStringLiteral("cannot write %1").arg(path));
}

Writer::~Writer()
{
    archive_write_free(m_archive);
}

bool Writer::fail(const QString &problem)
{
    if (m_error.isEmpty())
        m_error = problem;
    return false;
}

bool Writer::header(const QString &name, int type, int permissions, qint64 size, const QString &linkTarget)
{
    if (!m_error.isEmpty())
        return false;
    archive_entry *entry = archive_entry_new();
    archive_entry_set_pathname_utf8(entry, name.toUtf8().constData());
    archive_entry_set_filetype(entry, unsigned(type));
    archive_entry_set_perm(entry, permissions);
    // The same bytes from the same folder, whoever packs it.
    archive_entry_set_uid(entry, 0);
    archive_entry_set_gid(entry, 0);
    archive_entry_set_mtime(entry, 0, 0);
    if (type == AE_IFREG)
        archive_entry_set_size(entry, size);
    if (type == AE_IFLNK)
        archive_entry_set_symlink_utf8(entry, linkTarget.toUtf8().constData());
    const bool ok = archive_write_header(m_archive, entry) == ARCHIVE_OK;
    archive_entry_free(entry);
    return ok
            || fail(QStringLiteral("cannot add %1: %2")
                            .arg(name, QString::fromLocal8Bit(archive_error_string(m_archive))));
}

bool Writer::addDirectory(const QString &name)
{
    return header(name, AE_IFDIR, 0755, 0);
}

bool Writer::addFile(const QString &name, const QByteArray &content, bool executable)
{
    if (!header(name, AE_IFREG, executable ? 0755 : 0644, content.size()))
        return false;
    return archive_write_data(m_archive, content.constData(), size_t(content.size())) == content.size()
            || fail(QStringLiteral("cannot add %1").arg(name));
}

bool Writer::addFileFrom(const QString &name, const QString &source, bool executable, QByteArray *sha256)
{
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1").arg(source));
    const qint64 size = file.size();
    if (!header(name, AE_IFREG, executable ? 0755 : 0644, size))
        return false;
    qint64 written = 0;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char buffer[64 * 1024];
    qint64 read;
    while ((read = file.read(buffer, sizeof buffer)) > 0) {
        if (archive_write_data(m_archive, buffer, size_t(read)) != read)
            return fail(QStringLiteral("cannot add %1").arg(name));
        hash.addData(QByteArrayView(buffer, read));
        written += read;
    }
    if (sha256)
        *sha256 = hash.result().toHex();
    // A file that changed while it was packed would not match its sum.
    return (read == 0 && written == size)
            || fail(QStringLiteral("%1 changed while it was packed").arg(source));
}

bool Writer::addLink(const QString &name, const QString &target)
{
    return header(name, AE_IFLNK, 0777, 0, target);
}

bool Writer::close()
{
    if (archive_write_close(m_archive) != ARCHIVE_OK)
        fail(QStringLiteral("cannot finish the package: %1")
                     .arg(QString::fromLocal8Bit(archive_error_string(m_archive))));
    return m_error.isEmpty();
}

} // namespace PackageFormat
