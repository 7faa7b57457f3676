#pragma once

class QNetworkAccessManager;
class QObject;

// Where the program's own access managers are made, so that they follow one
// rule for proxies. The pages' traffic is the web engine's and not made here.
namespace NetworkAccess {

enum class Proxy {
    // The application's setting, which is no proxy unless told otherwise: the
    // company's servers are reached as they always were.
    Application,
    // The proxy the system names, for the program's own traffic to the
    // release channel, which may lie outside the factory's network.
    System,
};

QNetworkAccessManager *create(QObject *parent, Proxy proxy = Proxy::Application);
// Gives a manager made elsewhere (a subclass) the same rule.
void configure(QNetworkAccessManager *manager, Proxy proxy);

} // namespace NetworkAccess
