#include "signer.h"

#include "update/minisign.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace Signer {

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QString sign(const QString &file, const QString &secretKey, const QString &trustedComment)
{
    QProcess minisign;
    minisign.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    minisign.setInputChannelMode(QProcess::ForwardedInputChannel);
    minisign.start(QStringLiteral("minisign"),
                   { QStringLiteral("-S"), QStringLiteral("-s"), secretKey, QStringLiteral("-m"), file,
                     QStringLiteral("-t"), trustedComment });
    if (!minisign.waitForStarted())
        return QStringLiteral("cannot run minisign (apt-get install minisign)");
    // As long as it takes someone to type the password.
    if (!minisign.waitForFinished(-1) || minisign.exitStatus() != QProcess::NormalExit
        || minisign.exitCode() != 0)
        return QStringLiteral("minisign could not sign %1").arg(file);
    QString publicKey = secretKey;
    if (publicKey.endsWith(QLatin1String(".key")))
        publicKey.chop(4);
    publicKey += QStringLiteral(".pub");
    if (!QFileInfo(publicKey).isFile())
        return QString();
    const QString line = QString::fromLatin1(readAll(publicKey).split('\n').value(1)).trimmed();
    const QString problem =
            Minisign::verify(readAll(file), readAll(file + QStringLiteral(".minisig")), { line });
    return problem.isEmpty()
            ? QString()
            : QStringLiteral("the signature does not check with %1: %2").arg(publicKey, problem);
}

} // namespace Signer
