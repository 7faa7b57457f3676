#pragma once

#include <QString>

// Unpacks a downloaded release into a version folder so that a half-done one
// can never be started: into `<versions>/<v>.staging`, every file checked
// against the package's fenestra-files.sha256, the marker written last, then
// renamed to `<versions>/<v>`.
namespace PackageStager {

// The file that marks a complete version folder.
QString markerName();

// Empty when `<versionsFolder>/<version>` is complete afterwards; otherwise why
// not, and nothing of the attempt is left. Entries with `..`, absolute paths,
// drive letters, links leading out or of other types refuse the package.
QString stage(const QString &packagePath, const QString &versionsFolder, const QString &version);

// Removes a version folder, its marker first, so that a removal cut short
// leaves a folder that is never started.
bool removeVersionFolder(const QString &folder);

} // namespace PackageStager
