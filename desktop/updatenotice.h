#pragma once

#include <QString>

class QQmlEngine;
class QQuickWindow;

// The small notice in the window that a new version is ready for the next start.
namespace UpdateNotice {

// Creates the notice in `window` (once; a later call names the newer version).
void show(QQmlEngine *engine, QQuickWindow *window, const QString &version);

} // namespace UpdateNotice
