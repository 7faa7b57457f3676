#include "bridge/addressrules.h"

#include "config/config.h"
#include "config/deployment.h"

#include <QJSEngine>
#include <QRegularExpression>

AddressRules *AddressRules::getInstance()
{
    static AddressRules *const instance = new AddressRules;
    return instance;
}

AddressRules *AddressRules::create(QQmlEngine *, QJSEngine *)
{
    AddressRules *const instance = getInstance();
    QJSEngine::setObjectOwnership(instance, QJSEngine::CppOwnership);
    return instance;
}

QString AddressRules::withScheme(const QString &address) const
{
    static const QRegularExpression ownScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    if (address.contains(QLatin1String("http://")) || ownScheme.match(address).hasMatch())
        return address;
    return QStringLiteral("http://") + address;
}

bool AddressRules::isTrusted(const QUrl &pageUrl) const
{
    const QString scheme = pageUrl.scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;
    const QString host = pageUrl.host();
    if (host.isEmpty())
        return false;

    const QUrl startAddress(withScheme(Config::getInstance()->getUrl(0)), QUrl::TolerantMode);
    const QUrl signUpAddress(Deployment::signUpAddress(), QUrl::TolerantMode);
    return host.compare(startAddress.host(), Qt::CaseInsensitive) == 0
            || host.compare(signUpAddress.host(), Qt::CaseInsensitive) == 0;
}
