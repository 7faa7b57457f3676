#include "update/minisign.h"

#include <QList>

#include <sodium.h>

namespace {

constexpr int keyIdSize = 8;
constexpr qsizetype maxSignatureFileSize = 4096;

struct PublicKey
{
    QByteArray id;
    QByteArray key;
};

bool decodeKey(const QString &line, PublicKey &out)
{
    const QByteArray raw =
            QByteArray::fromBase64(line.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (raw.size() != 2 + keyIdSize + int(crypto_sign_PUBLICKEYBYTES) || !raw.startsWith("Ed"))
        return false;
    out.id = raw.mid(2, keyIdSize);
    out.key = raw.mid(2 + keyIdSize);
    return true;
}

// minisign prints a key id as the little-endian number its eight bytes are.
QString idText(const QByteArray &id)
{
    quint64 number = 0;
    for (int i = id.size() - 1; i >= 0; --i)
        number = (number << 8) | quint8(id.at(i));
    return QStringLiteral("%1").arg(number, 16, 16, QLatin1Char('0')).toUpper();
}

bool verifyDetached(const QByteArray &signature, const QByteArray &message, const QByteArray &key)
{
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.constData()),
                                       reinterpret_cast<const unsigned char *>(message.constData()),
                                       quint64(message.size()),
                                       reinterpret_cast<const unsigned char *>(key.constData()))
            == 0;
}

} // namespace

namespace Minisign {

QString keyId(const QString &publicKey)
{
    PublicKey key;
    return decodeKey(publicKey, key) ? idText(key.id) : QString();
}

QString verify(const QByteArray &data, const QByteArray &signatureFile, const QStringList &publicKeys,
               QString *signedBy)
{
    if (sodium_init() < 0)
        return QStringLiteral("the signature library cannot start");
    if (signatureFile.size() > maxSignatureFileSize)
        return QStringLiteral("signature file too large");
    QList<QByteArray> lines = signatureFile.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    const QByteArray trustedPrefix = "trusted comment: ";
    if (lines.size() < 4 || !lines.at(0).startsWith("untrusted comment:")
        || !lines.at(2).startsWith(trustedPrefix))
        return QStringLiteral("malformed signature file");
    const QByteArray signature = QByteArray::fromBase64(lines.at(1), QByteArray::AbortOnBase64DecodingErrors);
    const QByteArray globalSignature =
            QByteArray::fromBase64(lines.at(3), QByteArray::AbortOnBase64DecodingErrors);
    if (signature.size() != 2 + keyIdSize + int(crypto_sign_BYTES)
        || globalSignature.size() != int(crypto_sign_BYTES))
        return QStringLiteral("malformed signature");
    const QByteArray algorithm = signature.left(2);
    if (algorithm != "Ed" && algorithm != "ED")
        return QStringLiteral("unknown signature algorithm");
    const QByteArray signerId = signature.mid(2, keyIdSize);
    const QByteArray signatureBytes = signature.mid(2 + keyIdSize);

    PublicKey key;
    bool found = false;
    for (const QString &line : publicKeys) {
        if (decodeKey(line, key) && key.id == signerId) {
            found = true;
            break;
        }
    }
    if (!found)
        return QStringLiteral("signed by an unknown key");

    QByteArray message = data;
    if (algorithm == "ED") {
        message.resize(crypto_generichash_BYTES_MAX);
        crypto_generichash(reinterpret_cast<unsigned char *>(message.data()), crypto_generichash_BYTES_MAX,
                           reinterpret_cast<const unsigned char *>(data.constData()), quint64(data.size()),
                           nullptr, 0);
    }
    if (!verifyDetached(signatureBytes, message, key.key))
        return QStringLiteral("bad signature");
    if (!verifyDetached(globalSignature, signatureBytes + lines.at(2).mid(trustedPrefix.size()), key.key))
        return QStringLiteral("bad signature of the trusted comment");
    if (signedBy)
        *signedBy = idText(signerId);
    return QString();
}

} // namespace Minisign
