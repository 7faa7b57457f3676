#include "config/logging.h"

Q_LOGGING_CATEGORY(lcStartup, "fenestra.startup")
Q_LOGGING_CATEGORY(lcConfig, "fenestra.config")
Q_LOGGING_CATEGORY(lcNet, "fenestra.net")
Q_LOGGING_CATEGORY(lcSync, "fenestra.sync")
Q_LOGGING_CATEGORY(lcBridge, "fenestra.bridge")
Q_LOGGING_CATEGORY(lcBrowser, "fenestra.browser")
Q_LOGGING_CATEGORY(lcDesktop, "fenestra.desktop", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUpdate, "fenestra.update", QtInfoMsg)
