#pragma once

#include <QString>

// The application directory: the folder of the executable, or the installation's
// root for a shell that the launcher starts from one of its version folders.
// Every local path of the program (config.dll, the report folders, downloads,
// saved images, the working directory of started programs) is resolved against it.
namespace AppDir {

// Where a shell whose executable lies in `executableFolder` keeps its files.
struct Location
{
    QString path; // forward slashes, no trailing slash
    QString version; // the version folder's name; empty outside an installation
};

// `<R>/versions/<v>/` (Windows) or `<R>/versions/<v>/bin/` (elsewhere) with an
// `<R>/update/state.ini` gives `<R>` and `<v>`; any other folder gives itself.
Location locate(const QString &executableFolder);

// Forward slashes, no trailing slash.
QString path();

// The version folder this shell runs from; empty when it was not installed so.
QString version();

// `relative` resolved against path() the way QDir::filePath does: an absolute
// path comes back unchanged.
QString filePath(const QString &relative);

// Points the program at another folder. Tests use it to run in a fresh
// temporary directory; an empty path restores the located folder.
void setPath(const QString &path);

} // namespace AppDir
