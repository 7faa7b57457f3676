#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

class QJSEngine;
class QQmlEngine;

// The one home of the rules for the addresses the program deals with: how a
// bare address becomes one the browser can open, what an address's host,
// origin and shown name are, when two addresses are on the same server, which
// pages may use the bridge, and how a file URL and a local path turn into each
// other. The window documents reach the single instance as `AddressRules`
// (module Fenestra).
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
    Q_INVOKABLE static QString withScheme(const QString &address);

    // The host in lower case; empty when the address has none.
    Q_INVOKABLE static QString host(const QUrl &address);

    // "scheme://host[:port]" in lower case, the port only when the address
    // names one: the key that permission answers are kept under.
    Q_INVOKABLE static QString origin(const QUrl &address);

    // What a question shows as the asking server: "host[:port]", without user
    // name or password.
    Q_INVOKABLE static QString displayName(const QUrl &address);

    // Whether both addresses have a host and the same scheme, host (without
    // case) and port, an omitted port being the scheme's own.
    Q_INVOKABLE static bool isSameServer(const QUrl &address, const QUrl &other);

    // Whether a page at `pageUrl` may reach the bridge: it is served over HTTP(S)
    // by the host of the current start address or of the sign-up site (any port,
    // host names compared without case). The start address is read at each
    // check, so a page that has just stored a new server is covered.
    Q_INVOKABLE bool isTrusted(const QUrl &pageUrl) const;

    // A local path ("C:/Program Files/x", "//server/x" or "/opt/x") as a file URL,
    // whatever system the program runs on.
    Q_INVOKABLE static QUrl fileUrl(const QString &path);

    // The local path of a file URL, its escapes decoded ("file:///C:/a%20b" is
    // "C:/a b" on every system); empty for an address that is not a file URL.
    Q_INVOKABLE static QString localPath(const QUrl &fileUrl);

private:
    AddressRules() = default;
};
