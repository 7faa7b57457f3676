#include "sync/reportfolders.h"

#include "config/appdir.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

void switchReportFolders()
{
    const QString reports = AppDir::path() + QStringLiteral("/reports/");
    const QString waiting = AppDir::path() + QStringLiteral("/reports_b/");

    if (QFileInfo(reports).isDir() || !QFileInfo(waiting).isDir())
        return;
    if (!QDir().rename(waiting, reports))
        qDebug() << "rename failed";
}
