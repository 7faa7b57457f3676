#include "config/appdir.h"

#include <QCoreApplication>
#include <QDir>

namespace {
QString &overridePath()
{
    static QString path;
    return path;
}
} // namespace

namespace AppDir {

QString path()
{
    if (!overridePath().isEmpty())
        return overridePath();
    return QCoreApplication::applicationDirPath();
}

QString filePath(const QString &relative)
{
    return QDir(path()).filePath(relative);
}

void setPath(const QString &path)
{
    overridePath() = path.isEmpty() ? QString() : QDir::fromNativeSeparators(QDir::cleanPath(path));
}

} // namespace AppDir
