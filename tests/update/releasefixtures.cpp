#include "releasefixtures.h"

#include "update/minisign.h"
#include "update/packageformat.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>

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

QString MinisignKey::id() const
{
    return Minisign::keyId(m_publicKey);
}

QString MinisignKey::secretKeyFile() const
{
    return m_dir.filePath(QStringLiteral("key.key"));
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
    return PackageFormat::sumLine(name,
                                  QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
}

bool writePackage(const QString &path, const QList<PackageEntry> &entries, bool listFiles)
{
    PackageFormat::Writer writer(path);
    if (listFiles) {
        QByteArray sums;
        for (const PackageEntry &entry : entries) {
            if (entry.type == PackageEntry::Type::File)
                sums += sumLine(entry.name, entry.content);
        }
        writer.addFile(PackageFormat::sumsName(), sums);
    }
    for (const PackageEntry &entry : entries) {
        switch (entry.type) {
        case PackageEntry::Type::File:
            writer.addFile(entry.name, entry.content, true);
            break;
        case PackageEntry::Type::Directory:
            writer.addDirectory(entry.name);
            break;
        case PackageEntry::Type::Link:
            writer.addLink(entry.name, QString::fromUtf8(entry.content));
            break;
        }
    }
    return writer.close();
}
