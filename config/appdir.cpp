#include "config/appdir.h"

#include "launcher/installlayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
QString &overridePath()
{
    static QString path;
    return path;
}

// Looked up once: the executable does not move while it runs.
const AppDir::Location &ownLocation()
{
    static const AppDir::Location location = AppDir::locate(QCoreApplication::applicationDirPath());
    return location;
}
} // namespace

namespace AppDir {

Location locate(const QString &executableFolder)
{
    const QString folder = QDir::fromNativeSeparators(QDir::cleanPath(executableFolder));
    QDir dir(folder);
#ifndef Q_OS_WIN
    if (dir.dirName() != QLatin1String("bin") || !dir.cdUp())
        return { folder, QString() };
#endif
    const QString version = dir.dirName();
    if (!dir.cdUp() || dir.dirName() != QLatin1String(InstallLayout::versionsFolder) || !dir.cdUp()
        || !QFileInfo(dir.filePath(QString::fromLatin1(InstallLayout::stateFile))).isFile())
        return { folder, QString() };
    return { QDir::fromNativeSeparators(dir.path()), version };
}

QString path()
{
    if (!overridePath().isEmpty())
        return overridePath();
    return ownLocation().path;
}

QString version()
{
    return ownLocation().version;
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
