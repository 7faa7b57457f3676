#include "sync/reportfolders.h"

#include "config/appdir.h"
#include "config/logging.h"

#include <QDir>
#include <QFileInfo>

void switchReportFolders()
{
    const QString reports = AppDir::path() + QStringLiteral("/reports/");
    const QString waiting = AppDir::path() + QStringLiteral("/reports_b/");

    if (QFileInfo(reports).isDir() || !QFileInfo(waiting).isDir())
        return;
    if (!QDir().rename(waiting, reports))
        qCDebug(lcSync) << "rename failed";
}
