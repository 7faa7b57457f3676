#pragma once

#include <QByteArray>
#include <QString>

// Signs with Debian's minisign, run as a program, so the secret key and its
// password stay minisign's business.
namespace Signer {

// Signs `file` with `secretKey`, leaving `<file>.minisig`; minisign asks for
// the key's password on this terminal. Then, when the public key lies beside
// the secret one (`x.pub` for `x.key`), checks the signature as a desktop
// does. Empty on success; otherwise why not.
QString sign(const QString &file, const QString &secretKey, const QString &trustedComment);

} // namespace Signer
