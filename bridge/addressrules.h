#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

// The rules for the addresses the window deals with: how a bare address
// becomes one the browser can open, and which pages may use the bridge.
// The window documents reach the single instance as `AddressRules` (module Fenestra).
class AddressRules : public QObject
{
    Q_OBJECT
    QML_SINGLETON
    QML_ELEMENT

public:
    static AddressRules *getInstance();
    // The same instance for every engine; it stays the program's.
    static AddressRules *create(QQmlEngine *, QJSEngine *);

    // Puts "http://" in front of an address that has no scheme of its own.
    // An address that contains "http://" anywhere is left as it is.
    Q_INVOKABLE QString withScheme(const QString &address) const;

    // Whether a page at `pageUrl` may reach the bridge: it is served over HTTP(S)
    // by the host of the current start address or of the sign-up site (any port,
    // host names compared without case). The start address is read at each
    // check, so a page that has just stored a new server is covered.
    Q_INVOKABLE bool isTrusted(const QUrl &pageUrl) const;

private:
    AddressRules() = default;
};
