#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Checks a detached signature in minisign's format: the signature of the data
// (Ed25519 over the data, or over its BLAKE2b-512 hash as minisign makes by
// default) and the global signature over that signature and its trusted comment.
namespace Minisign {

// Empty when `signatureFile` (a .minisig file's content) is a valid signature of
// `data` by one of `publicKeys` (the base64 lines of minisign .pub files);
// otherwise why not. `signedBy` then holds the id of the key that signed.
QString verify(const QByteArray &data, const QByteArray &signatureFile, const QStringList &publicKeys,
               QString *signedBy = nullptr);

// The id of a public key (the base64 line of its .pub file) as minisign prints
// it: 16 hexadecimal digits, upper case; empty when it is no key.
QString keyId(const QString &publicKey);

} // namespace Minisign
