#pragma once

#include <QString>

// The application directory: the folder of the executable. Every local path of
// the program (config.dll, the report folders, downloads, saved images, the
// working directory of started programs) is resolved against it.
namespace AppDir {

// Forward slashes, no trailing slash.
QString path();

// `relative` resolved against path() the way QDir::filePath does: an absolute
// path comes back unchanged.
QString filePath(const QString &relative);

// Points the program at another folder. Tests use it to run in a fresh
// temporary directory; an empty path restores the executable's folder.
void setPath(const QString &path);

} // namespace AppDir
