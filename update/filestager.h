#pragma once

#include "update/fetchplaces.h"
#include "update/updatemanifest.h"

#include <QString>

#include <array>
#include <atomic>

// Stages a release from its file list instead of its package: the files the
// running version holds with the same SHA-256 are copied (their sum checked
// again as they are read), only the others are fetched as `files/<sha256>`,
// from the first of the places FetchPlaces orders that gives the listed size
// and SHA-256. A place that does not answer is not asked again for this
// release. A file fetched from elsewhere than IT's share is copied into it
// for the next desktop (a failure to is logged once, and costs nothing else).
// A big file for which the release's patch list has a zstd patch from a file
// the running version holds is made from that file and the patch
// (`patches/<from>-<to>.zst`, from the same places after IT's share, checked
// as a file is) when the old file and the patch's window fit in the memory
// given; when that fails it is fetched whole. The folder is finished as
// PackageStager finishes one: the same rules for paths and links, the marker
// (naming the release's package, whose content the folder holds) written
// last, then the rename. Blocking, for a thread of its own; it makes its own
// network access there.
namespace FileStager {

// All the fetching of one release is given up after this long, and a file
// after this long without data, as a package's download is.
constexpr int timeLimitMs = 30 * 60 * 1000;
constexpr int stallLimitMs = 60 * 1000;

struct Result
{
    QString problem; // empty: staged
    qint64 bytesFetched = 0; // from the network or IT's share, the list included
    qint64 bytesCopied = 0; // from the running version's folder
    // Of the files staged, the bytes each kind of place gave (FetchPlaces::Kind).
    std::array<qint64, 4> bytesFrom {};
    int filesPatched = 0; // made from a patch and a file of the running version

    // The place that gave most: the origin when none gave any.
    FetchPlaces::Kind mostlyFrom() const;
};

// Stages `release` (which has a file list) as `<versionsFolder>/<version>`,
// reusing `currentFolder`'s files. A patch may take at most `patchMemory`
// bytes for the old file and its window (0: no patches). Nothing of a failed
// attempt is left. Setting `cancel` stops it within a fraction of a second.
Result stage(const UpdateManifest::Release &release, const QString &currentFolder,
             const QString &versionsFolder, const FetchPlaces::Mirrors &mirrors, qint64 patchMemory,
             const std::atomic_bool *cancel = nullptr);

} // namespace FileStager
