#pragma once

#include "update/updatemanifest.h"

#include <QString>

#include <atomic>

// Stages a release from its file list instead of its package: the files the
// running version holds with the same SHA-256 are copied (their sum checked
// again as they are read), only the others are fetched from `files/<sha256>`
// beside the list, each bounded by its listed size and checked against its
// SHA-256. The folder is finished as PackageStager finishes one: the same
// rules for paths and links, the marker (naming the release's package, whose
// content the folder holds) written last, then the rename. Blocking, for a
// thread of its own; it makes its own network access there.
namespace FileStager {

// All the fetching of one release is given up after this long, and a file
// after this long without data, as a package's download is.
constexpr int timeLimitMs = 30 * 60 * 1000;
constexpr int stallLimitMs = 60 * 1000;

struct Result
{
    QString problem; // empty: staged
    qint64 bytesFetched = 0; // from the network, the list included
    qint64 bytesCopied = 0; // from the running version's folder
};

// Stages `release` (which has a file list) as `<versionsFolder>/<version>`,
// reusing `currentFolder`'s files. Nothing of a failed attempt is left.
// Setting `cancel` stops it within a fraction of a second.
Result stage(const UpdateManifest::Release &release, const QString &currentFolder,
             const QString &versionsFolder, const std::atomic_bool *cancel = nullptr);

} // namespace FileStager
