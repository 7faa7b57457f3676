#pragma once

#include <QString>

class QQmlEngine;
class QQuickWindow;

// The small notice in the window that a new version is ready for the next start.
namespace UpdateNotice {

// Creates the notice in `window` the first time; a later call shows it again
// for the newer version.
void show(QQmlEngine *engine, QQuickWindow *window, const QString &version);

} // namespace UpdateNotice
