#pragma once

#include <QByteArray>
#include <QString>

class QQuickWindow;

// What each start tells IT once its window shows (not before, so that the
// first page waits for none of it): the Qt and Chromium versions, what the
// window draws with and on which graphics adapter, and the graphics level the launcher passed after crashes
// in a graphics driver.
namespace StartupReport {

// "graphics level 2"; a value the launcher never passes is not repeated.
QString graphicsLevel(const QByteArray &fromEnvironment);
// Logs the report under fenestra.startup after the window's first frame.
void logWhenShown(QQuickWindow *window);

} // namespace StartupReport
