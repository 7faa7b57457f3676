#include "net/addressrules.h"

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

QString AddressRules::withScheme(const QString &address)
{
    static const QRegularExpression ownScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    if (address.contains(QLatin1String("http://")) || ownScheme.match(address).hasMatch())
        return address;
    return QStringLiteral("http://") + address;
}

QString AddressRules::host(const QUrl &address)
{
    return address.host().toLower();
}

QString AddressRules::origin(const QUrl &address)
{
    return address
            .adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
            .toString(QUrl::StripTrailingSlash)
            .toLower();
}

QString AddressRules::displayName(const QUrl &address)
{
    return address.port() < 0 ? address.host()
                              : address.host() + QLatin1Char(':') + QString::number(address.port());
}

bool AddressRules::isSameServer(const QUrl &address, const QUrl &other)
{
    const int defaultPort = address.scheme() == QLatin1String("https") ? 443 : 80;
    return !address.host().isEmpty() && address.scheme() == other.scheme()
            && address.host().compare(other.host(), Qt::CaseInsensitive) == 0
            && address.port(defaultPort) == other.port(defaultPort);
}

bool AddressRules::isTrusted(const QUrl &pageUrl) const
{
    const QString scheme = pageUrl.scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;
    const QString pageHost = host(pageUrl);
    if (pageHost.isEmpty())
        return false;

    const QUrl startAddress(withScheme(Config::getInstance()->getUrl(0)), QUrl::TolerantMode);
    const QUrl signUpAddress(Deployment::signUpAddress(), QUrl::TolerantMode);
    return pageHost == host(startAddress) || pageHost == host(signUpAddress);
}

QUrl AddressRules::fileUrl(const QString &path)
{
    return QUrl::fromLocalFile(path);
}

QString AddressRules::localPath(const QUrl &fileUrl)
{
    if (!fileUrl.isLocalFile())
        return QString();
    const QString path = fileUrl.toLocalFile();
    // Off Windows a drive letter comes out behind the root: "/C:/x".
    static const QRegularExpression driveBehindRoot(QStringLiteral("^/[A-Za-z]:"));
    return driveBehindRoot.match(path).hasMatch() ? path.mid(1) : path;
}
