#include "net/networkaccess.h"

#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>

namespace {

class SystemProxyFactory : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        return systemProxyForQuery(query);
    }
};

} // namespace

namespace NetworkAccess {

void configure(QNetworkAccessManager *manager, Proxy proxy)
{
    if (proxy == Proxy::System)
        manager->setProxyFactory(new SystemProxyFactory);
}

QNetworkAccessManager *create(QObject *parent, Proxy proxy)
{
    auto *manager = new QNetworkAccessManager(parent);
    configure(manager, proxy);
    return manager;
}

} // namespace NetworkAccess
