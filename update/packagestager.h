#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>

// Unpacks a downloaded release into a version folder so that a half-done one
// can never be started: into `<versions>/<v>.staging`, every file checked
// against the package's fenestra-files.sha256, the marker written last, naming
// the package, then renamed to `<versions>/<v>`.
namespace PackageStager {

// The file that marks a complete version folder.
QString markerName();

// The package a complete version folder was staged from, as its marker names
// it (SHA-256 in hex); empty when it names none, as for one an installer made.
QByteArray stagedPackage(const QString &versionFolder);

struct Result
{
    QString problem; // empty: staged
    // The package itself is wrong and would fail again; otherwise the
    // computer was (a full disk, a file held by a scanner, a cancel), and the
    // package is worth keeping for another try.
    bool packageAtFault = false;
};

// Stages `packagePath` (whose SHA-256 is `packageSha256`, hex) as `version`.
// Nothing of a failed attempt is left, inside the folder or outside it. Refused:
// entries with `..`, absolute paths, drive letters, names Windows cannot hold,
// links on Windows, links that lead out, lead through another link or that
// another entry would be written through, and entries of other types. Setting
// `cancel` stops it soon.
Result stage(const QString &packagePath, const QString &versionsFolder, const QString &version,
             const QByteArray &packageSha256, const std::atomic_bool *cancel = nullptr);

// Removes a version folder, its marker first, so that a removal cut short
// leaves a folder that is never started.
bool removeVersionFolder(const QString &folder);

} // namespace PackageStager
