#include "browser/loadfailure.h"

#include <QJSEngine>
#include <QWebEngineLoadingInfo>

LoadFailure *LoadFailure::getInstance()
{
    static LoadFailure *const instance = new LoadFailure;
    return instance;
}

LoadFailure *LoadFailure::create(QQmlEngine *, QJSEngine *)
{
    LoadFailure *const instance = getInstance();
    QJSEngine::setObjectOwnership(instance, QJSEngine::CppOwnership);
    return instance;
}

QString LoadFailure::describe(int domain, int code)
{
    // HTTP statuses are positive; network errors are the engine's negative codes.
    if (code > 0) {
        if (code == 404 || code == 410)
            return QStringLiteral("服务器上没有这个页面（HTTP %1）。").arg(code);
        if (code == 401 || code == 403)
            return QStringLiteral("服务器拒绝打开这个页面（HTTP %1）。").arg(code);
        if (code >= 500)
            return QStringLiteral("服务器出错，未能提供这个页面（HTTP %1）。").arg(code);
        return QStringLiteral("服务器未能提供这个页面（HTTP %1）。").arg(code);
    }
    const QString notFound = QStringLiteral("找不到服务器：无法解析地址中的服务器名称。");
    switch (code) {
    case -102: // ERR_CONNECTION_REFUSED
        return QStringLiteral("无法连接到服务器：服务器拒绝了连接，可能没有启动。");
    case -105: // ERR_NAME_NOT_RESOLVED
    case -137: // ERR_NAME_RESOLUTION_FAILED
        return notFound;
    case -7: // ERR_TIMED_OUT
    case -118: // ERR_CONNECTION_TIMED_OUT
        return QStringLiteral("服务器长时间没有响应，连接已超时。");
    case -106: // ERR_INTERNET_DISCONNECTED
        return QStringLiteral("本机没有连接到网络。");
    case -100: // ERR_CONNECTION_CLOSED
    case -101: // ERR_CONNECTION_RESET
    case -324: // ERR_EMPTY_RESPONSE
        return QStringLiteral("服务器中断了连接，页面没有传送完。");
    case -109: // ERR_ADDRESS_UNREACHABLE
        return QStringLiteral("无法连接到服务器：网络不通。");
    }
    if (domain == QWebEngineLoadingInfo::CertificateErrorDomain || (code <= -200 && code > -300))
        return QStringLiteral("服务器的安全证书不受信任，连接已中止。");
    if (domain == QWebEngineLoadingInfo::DnsErrorDomain)
        return notFound;
    if (domain == QWebEngineLoadingInfo::ConnectionErrorDomain)
        return QStringLiteral("无法连接到服务器。");
    return QStringLiteral("页面无法打开（错误代码 %1）。").arg(code);
}

bool LoadFailure::isOnServer(const QUrl &address, const QUrl &startAddress)
{
    const int defaultPort = address.scheme() == QLatin1String("https") ? 443 : 80;
    return !address.host().isEmpty() && address.scheme() == startAddress.scheme()
            && address.host().compare(startAddress.host(), Qt::CaseInsensitive) == 0
            && address.port(defaultPort) == startAddress.port(defaultPort);
}
