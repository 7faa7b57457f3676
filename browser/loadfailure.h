#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

// What the page that stands in for a failed load says. The window documents
// reach the single instance as `LoadFailure` (module Fenestra).
class LoadFailure : public QObject
{
    Q_OBJECT
    QML_SINGLETON
    QML_ELEMENT

public:
    static LoadFailure *getInstance();
    // The same instance for every engine; it stays the program's.
    static LoadFailure *create(QQmlEngine *, QJSEngine *);

    // What went wrong, in plain words, for the web engine's error domain
    // (QWebEngineLoadingInfo::ErrorDomain) and code: a network error (negative)
    // or an HTTP status.
    Q_INVOKABLE static QString describe(int domain, int code);

    // Whether `address` is served by the same server as `startAddress` (scheme,
    // host and port), so that the page can name the configured server.
    Q_INVOKABLE static bool isOnServer(const QUrl &address, const QUrl &startAddress);

private:
    LoadFailure() = default;
};
