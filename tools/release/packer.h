#pragma once

#include "update/packageformat.h"
#include "update/updatemanifest.h"

#include <QByteArray>
#include <QString>

#include <optional>

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
    PackageFormat::FileList files; // what it holds, in its order
    QByteArray sums; // its fenestra-files.sha256
};

// Writes the package of `folder` to `file`, which must not exist yet.
Package pack(const QString &folder, const QString &file);

// Publishes each file of `package` (packed from `folder`) once under its
// SHA-256 in `<channel>/files`, where a file an earlier release published
// stays as it is (unless damaged), and then the list as `<channel>/<listName>`. Every copy is
// checked against the sum it is published under. The reference (without its
// address) to the list, or the problem.
struct Published
{
    UpdateManifest::Reference list;
    QString problem; // empty: published
};
Published publishFiles(const QString &folder, const Package &package, const QString &channel,
                       const QString &listName);

// zstd patches for the big files of a release that changed since one of the
// channel's last releases: a file over `minPatchedSize` whose path an earlier
// release held with other content gets a patch from that content
// (`zstd --patch-from`), published as `<channel>/patches/<from>-<to>.zst` and
// kept only when it is at most `maxPatchPercent` of the file; each is checked
// by applying it as a desktop does. No patch at all leaves no list.
constexpr qint64 minPatchedSize = 1024 * 1024;
constexpr int maxPatchPercent = 50;
// zstd's level: -19 for the smaller files, where it takes a second for a few
// MiB and makes a patch of the shell 15 % smaller than -9; above
// `largePatchSize` -9, as -19 took 11 minutes for the web engine's library of
// 190 MB where -9 took 13 s for a patch 13 % larger.
constexpr int patchLevel = 19;
constexpr int largePatchLevel = 9;
constexpr qint64 largePatchSize = 32 * 1024 * 1024;

struct PublishedPatches
{
    std::optional<UpdateManifest::Reference> list; // none: no patch paid
    int made = 0;
    int leftOut = 0; // over maxPatchPercent of their file
    QString note; // why there are none although some were wanted, e.g. no zstd
    QString problem; // empty: published
};
// `earlier` are the file lists of the channel's last releases, newest first,
// whose files lie in `<channel>/files`.
PublishedPatches publishPatches(const QString &folder, const Package &package, const QString &channel,
                                const QList<PackageFormat::FileList> &earlier, const QString &listName);

} // namespace Packer
