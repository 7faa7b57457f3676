#pragma once

#include <QLoggingCategory>

// The program's own logging categories, one per room. The log file names the
// category of each line, and IT turns more detail on or off at a desktop with
// QT_LOGGING_RULES, e.g. "fenestra.update.debug=true" or "fenestra.*.debug=false".
// Categories that carry the program's established debug lines (the start
// address, the index request, the bridge's and the menu's lines) log debug
// by default; the others log from info up, their debug lines only on request.
Q_DECLARE_LOGGING_CATEGORY(lcStartup) // fenestra.startup
Q_DECLARE_LOGGING_CATEGORY(lcConfig) // fenestra.config
Q_DECLARE_LOGGING_CATEGORY(lcNet) // fenestra.net
Q_DECLARE_LOGGING_CATEGORY(lcSync) // fenestra.sync
Q_DECLARE_LOGGING_CATEGORY(lcBridge) // fenestra.bridge
Q_DECLARE_LOGGING_CATEGORY(lcBrowser) // fenestra.browser
Q_DECLARE_LOGGING_CATEGORY(lcDesktop) // fenestra.desktop
Q_DECLARE_LOGGING_CATEGORY(lcUpdate) // fenestra.update
