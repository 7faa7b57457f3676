#pragma once

#include <QByteArray>
#include <QString>

// Packs a deployed version folder (what `cmake --install` or windeployqt made)
// into a release package: every file with its sum in fenestra-files.sha256,
// the links last, the same bytes whoever packs the same folder.
namespace Packer {

// windows-x86_64 for a folder with fenestra.exe, linux-x86_64 for one with
// bin/fenestra; empty for any other.
QString platformOf(const QString &folder);

struct Package
{
    qint64 size = 0;
    QByteArray sha256; // hex
    QString problem; // empty: packed
};

// Writes the package of `folder` to `file`, which must not exist yet.
Package pack(const QString &folder, const QString &file);

} // namespace Packer
